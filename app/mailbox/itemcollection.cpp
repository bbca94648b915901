#include "app/mailbox/itemcollection.h"

#include <algorithm>

ItemCollection::ItemCollection(std::shared_ptr<Folder> folder) : m_folder(std::move(folder)) {}

namespace {

QString normalisedProperty(const QString& property)
{
    QString name = property.trimmed();
    if (name.startsWith(u'[') && name.endsWith(u']'))
        name = name.mid(1, name.size() - 2).trimmed();
    return name;
}

} // namespace

int ItemCollection::Count()
{
    if (!m_stored)
        m_stored = m_folder->storedItems();
    return int(m_stored->size());
}

std::shared_ptr<MailboxItem> ItemCollection::Item(int index)
{
    if (index < 1 || index > Count())
        throw MailboxError(
            MailboxError::NotFound,
            QStringLiteral("The folder \"%1\" has no item number %2").arg(m_folder->Name()).arg(index));
    return m_stored->at(index - 1);
}

std::shared_ptr<MailboxItem> ItemCollection::Item(const QString& name)
{
    Count();
    for (const auto& item : *m_stored) {
        if (item->Subject.compare(name, Qt::CaseInsensitive) == 0)
            return item;
    }
    throw MailboxError(
        MailboxError::NotFound,
        QStringLiteral("The folder \"%1\" has no item named \"%2\"").arg(m_folder->Name(), name));
}

void ItemCollection::Sort(const QString& property, bool descending)
{
    if (normalisedProperty(property).compare(QLatin1StringView("Start"), Qt::CaseInsensitive) != 0)
        throw MailboxError(MailboxError::Unsupported,
                           QStringLiteral("Items can be sorted by [Start] only, not by %1").arg(property));
    m_sorted = true;
    m_descending = descending;
}

namespace {

// A query asks every member's calendar with the same restriction, and reading its dates is the costly part
// of parsing it: the last few are kept, by text and locale.
Restriction parsedRestriction(const QString& text)
{
    struct Parsed {
        QString text;
        QString locale;
        Restriction restriction;
    };
    static QList<Parsed> recent;
    const QString locale = QLocale().name();
    for (const Parsed& parsed : std::as_const(recent)) {
        if (parsed.text == text && parsed.locale == locale)
            return parsed.restriction;
    }
    Restriction restriction = Restriction::parse(text);
    if (recent.size() >= 4)
        recent.removeFirst();
    recent.append({text, locale, restriction});
    return restriction;
}

} // namespace

std::shared_ptr<MailboxItem> ItemCollection::Find(const QString& restrictionText)
{
    const Restriction restriction = parsedRestriction(restrictionText);
    m_found.clear();
    m_cursor = 0;

    QList<std::shared_ptr<MailboxItem>> candidates;
    if (IncludeRecurrences) {
        Folder::Scan scan = m_folder->occurrences(restriction.window());
        for (MailboxError& error : scan.errors)
            m_found.append({nullptr, std::move(error)});
        candidates = std::move(scan.occurrences);
    }
    else {
        Count();
        candidates = *m_stored;
        if (m_sorted)
            std::stable_sort(candidates.begin(), candidates.end(),
                             [](const auto& a, const auto& b) { return a->Start < b->Start; });
    }
    // Occurrences come in ascending start order already.
    if (m_sorted && m_descending)
        std::reverse(candidates.begin(), candidates.end());
    for (auto& item : candidates) {
        if (restriction.matches(*item))
            m_found.append({std::move(item), std::nullopt});
    }
    return next();
}

std::shared_ptr<MailboxItem> ItemCollection::FindNext()
{
    return next();
}

std::shared_ptr<MailboxItem> ItemCollection::next()
{
    if (m_cursor >= m_found.size())
        return nullptr;
    Entry& entry = m_found[m_cursor++];
    if (entry.error)
        throw *entry.error;
    return entry.item;
}

std::shared_ptr<MailboxItem> ItemCollection::Add(const QString& messageClass)
{
    return m_folder->newItem(messageClass);
}
