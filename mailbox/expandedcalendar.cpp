#include "mailbox/expandedcalendar.h"

#include <algorithm>
#include <utility>

bool ExpandedCalendar::holds(const ICalendarFile::Window& window) const
{
    return m_window && m_window->startAtMostUtc == window.startAtMostUtc &&
           m_window->endAtLeastUtc == window.endAtLeastUtc;
}

void ExpandedCalendar::expand(const ICalendarFile::Window& window, const std::vector<Object>& objects)
{
    std::vector<MailboxItem> occurrences;
    m_errors.clear();
    for (const Object& object : objects) {
        if (!object.parsed) {
            m_errors.append(MailboxError(MailboxError::ItemUnreadable,
                                         QStringLiteral("%1: %2").arg(object.location, object.error)));
            continue;
        }
        for (const QString& problem : object.parsed->problems())
            m_errors.append(MailboxError(MailboxError::ItemUnreadable,
                                         QStringLiteral("%1: %2").arg(object.location, problem)));
        const std::size_t first = occurrences.size();
        QStringList problems;
        object.parsed->expand(window, occurrences, &problems);
        for (const QString& problem : std::as_const(problems))
            m_errors.append(MailboxError(MailboxError::ItemUnreadable,
                                         QStringLiteral("%1: %2").arg(object.location, problem)));
        for (std::size_t i = first; i < occurrences.size(); ++i) {
            occurrences[i].source.location = object.location;
            occurrences[i].source.etag = object.etag;
        }
    }
    // The keys are taken once: comparing local date-times converts them each time.
    std::vector<std::pair<qint64, std::size_t>> order;
    order.reserve(occurrences.size());
    for (std::size_t i = 0; i < occurrences.size(); ++i)
        order.emplace_back(occurrences[i].start.toMSecsSinceEpoch(), i);
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    m_occurrences.clear();
    m_occurrences.reserve(order.size());
    for (const auto& [start, index] : order)
        m_occurrences.push_back(std::move(occurrences[index]));
    m_window = window;
    m_revision = Folder::nextRevision();
}

Folder::Scan ExpandedCalendar::scan() const
{
    Folder::Scan result;
    result.revision = m_revision;
    result.errors = m_errors;
    result.occurrences.reserve(qsizetype(m_occurrences.size()));
    for (const MailboxItem& occurrence : m_occurrences)
        result.occurrences.append(std::make_shared<MailboxItem>(occurrence));
    return result;
}
