#include "mailbox/itemcollection.h"

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

int ItemCollection::count()
{
    if (!m_stored)
        m_stored = m_folder->storedItems();
    return int(m_stored->size());
}

std::shared_ptr<MailboxItem> ItemCollection::item(int index)
{
    if (index < 1 || index > count())
        throw MailboxError(
            MailboxError::NotFound,
            QStringLiteral("The folder \"%1\" has no item number %2").arg(m_folder->name()).arg(index));
    return m_stored->at(index - 1);
}

std::shared_ptr<MailboxItem> ItemCollection::item(const QString& name)
{
    count();
    for (const auto& item : *m_stored) {
        if (item->subject.compare(name, Qt::CaseInsensitive) == 0)
            return item;
    }
    throw MailboxError(
        MailboxError::NotFound,
        QStringLiteral("The folder \"%1\" has no item named \"%2\"").arg(m_folder->name(), name));
}

void ItemCollection::sort(const QString& property, bool descending)
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

std::shared_ptr<MailboxItem> ItemCollection::find(const QString& restrictionText)
{
    Restriction restriction = parsedRestriction(restrictionText);
    m_errors.clear();
    m_errorCursor = 0;
    m_candidates.clear();
    m_cursor = 0;
    m_pending.reset();
    m_revision = 0;

    if (includeRecurrences) {
        Folder::Scan scan = m_folder->occurrences(restriction.window());
        m_revision = scan.revision;
        m_errors = std::move(scan.errors);
        m_candidates = std::move(scan.occurrences);
        m_pending = std::move(restriction);
    }
    else {
        count();
        for (const auto& item : std::as_const(*m_stored)) {
            if (restriction.matches(*item))
                m_candidates.append(item);
        }
        if (m_sorted)
            std::stable_sort(m_candidates.begin(), m_candidates.end(),
                             [](const auto& a, const auto& b) { return a->start < b->start; });
    }
    // Occurrences come in ascending start order already.
    if (m_sorted && m_descending)
        std::reverse(m_candidates.begin(), m_candidates.end());
    return next();
}

std::shared_ptr<MailboxItem> ItemCollection::findNext()
{
    return next();
}

std::shared_ptr<MailboxItem> ItemCollection::next()
{
    if (m_errorCursor < m_errors.size())
        throw m_errors.at(m_errorCursor++);
    while (m_cursor < m_candidates.size()) {
        // The collection has no further use for the item: it goes to the caller.
        std::shared_ptr<MailboxItem> item = std::move(m_candidates[m_cursor++]);
        if (!m_pending || m_pending->matches(*item))
            return item;
    }
    return nullptr;
}

std::shared_ptr<MailboxItem> ItemCollection::add(const QString& messageClass)
{
    return m_folder->newItem(messageClass);
}
