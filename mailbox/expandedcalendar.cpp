#include "mailbox/expandedcalendar.h"

#include <QDataStream>
#include <QIODevice>
#include <QTimeZone>

#include <algorithm>
#include <limits>
#include <unordered_map>

#include <sys/stat.h>
#include <utility>

namespace {

// Bumped whenever what save() writes changes.
constexpr quint32 kSavedFormat = 1;
constexpr qint64 kNoTime = std::numeric_limits<qint64>::min();

qint64 secondsOf(const QDateTime& time)
{
    return time.isValid() ? time.toSecsSinceEpoch() : kNoTime;
}

QDateTime timeOf(qint64 seconds)
{
    return seconds == kNoTime ? QDateTime() : QDateTime::fromSecsSinceEpoch(seconds);
}

// Occurrences of one file share its location and etag, those of one series its uid: written once each.
class StringTable {
public:
    quint32 indexOf(const QString& text)
    {
        const auto [found, added] = m_indexes.try_emplace(text, quint32(m_texts.size()));
        if (added)
            m_texts.append(text);
        return found->second;
    }
    const QStringList& texts() const { return m_texts; }

private:
    std::unordered_map<QString, quint32> m_indexes;
    QStringList m_texts;
};

// Identifies a file's content by its size, times and inode; empty when it cannot be looked at.
QByteArray fileStamp(const char* path)
{
    struct stat info {};
    if (::stat(path, &info) != 0)
        return {};
    return QByteArray::number(qint64(info.st_size)) + ' ' + QByteArray::number(qint64(info.st_mtim.tv_sec)) +
           '.' + QByteArray::number(qint64(info.st_mtim.tv_nsec)) + ' ' +
           QByteArray::number(quint64(info.st_ino));
}

} // namespace

QByteArray ExpandedCalendar::environment()
{
    static const QByteArray environment = QByteArray::number(kSavedFormat) + '|' +
                                          fileStamp("/proc/self/exe") + '|' + QTimeZone::systemTimeZoneId() +
                                          '|' + fileStamp("/etc/localtime") + '|' +
                                          fileStamp("/usr/share/zoneinfo/tzdata.zi") + '|' + qgetenv("TZ");
    return environment;
}

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

QByteArray ExpandedCalendar::save() const
{
    if (!m_window)
        return {};
    StringTable shared;
    QByteArray items;
    QDataStream out(&items, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    for (const MailboxItem& item : m_occurrences) {
        out << secondsOf(item.start) << secondsOf(item.end) << secondsOf(item.source.recurrenceId)
            << item.allDay << qint32(item.sensitivity) << item.subject << item.body << item.categories
            << shared.indexOf(item.messageClass) << shared.indexOf(item.source.location)
            << shared.indexOf(item.source.etag) << shared.indexOf(item.source.uid);
    }
    QByteArray bytes;
    QDataStream header(&bytes, QIODevice::WriteOnly);
    header.setVersion(QDataStream::Qt_6_0);
    header << kSavedFormat << m_window->startAtMostUtc << m_window->endAtLeastUtc << quint32(m_errors.size());
    for (const MailboxError& error : m_errors)
        header << qint32(error.number()) << error.description();
    header << shared.texts() << quint64(m_occurrences.size()) << items;
    return out.status() == QDataStream::Ok && header.status() == QDataStream::Ok ? bytes : QByteArray();
}

bool ExpandedCalendar::restore(QByteArrayView bytes)
{
    QByteArray data = QByteArray::fromRawData(bytes.data(), bytes.size());
    QDataStream in(data);
    in.setVersion(QDataStream::Qt_6_0);
    quint32 format = 0;
    ICalendarFile::Window window{};
    quint32 errorCount = 0;
    in >> format >> window.startAtMostUtc >> window.endAtLeastUtc >> errorCount;
    if (format != kSavedFormat || in.status() != QDataStream::Ok || errorCount > quint32(bytes.size()))
        return false;
    QList<MailboxError> errors;
    for (quint32 i = 0; i < errorCount && in.status() == QDataStream::Ok; ++i) {
        qint32 number = 0;
        QString description;
        in >> number >> description;
        errors.append(MailboxError(number, description));
    }
    QStringList shared;
    quint64 count = 0;
    QByteArray items;
    in >> shared >> count >> items;
    // Each occurrence takes more than 40 bytes: a count beyond that is not one save() wrote.
    if (in.status() != QDataStream::Ok || !in.atEnd() || count > quint64(items.size()) / 40 + 1)
        return false;

    std::vector<MailboxItem> occurrences;
    occurrences.reserve(count);
    QDataStream itemsIn(items);
    itemsIn.setVersion(QDataStream::Qt_6_0);
    const auto text = [&](quint32 index, QString& into) {
        if (index >= quint32(shared.size()))
            itemsIn.setStatus(QDataStream::ReadCorruptData);
        else
            into = shared.at(index);
    };
    for (quint64 i = 0; i < count && itemsIn.status() == QDataStream::Ok; ++i) {
        qint64 start = 0, end = 0, recurrenceId = 0;
        qint32 sensitivity = 0;
        quint32 messageClass = 0, location = 0, etag = 0, uid = 0;
        MailboxItem item;
        itemsIn >> start >> end >> recurrenceId >> item.allDay >> sensitivity >> item.subject >> item.body >>
            item.categories >> messageClass >> location >> etag >> uid;
        item.start = timeOf(start);
        item.end = timeOf(end);
        item.source.recurrenceId = timeOf(recurrenceId);
        item.sensitivity = sensitivity;
        text(messageClass, item.messageClass);
        text(location, item.source.location);
        text(etag, item.source.etag);
        text(uid, item.source.uid);
        occurrences.push_back(std::move(item));
    }
    if (itemsIn.status() != QDataStream::Ok || !itemsIn.atEnd())
        return false;
    m_window = window;
    m_occurrences = std::move(occurrences);
    m_errors = std::move(errors);
    m_revision = Folder::nextRevision();
    return true;
}
