#include "app/mailbox/calendarindex.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// Without a bound, a window reaches this far (in seconds since the epoch) on that side.
constexpr qint64 kNoBound = std::numeric_limits<qint64>::max() / 4;

ICalendarFile::Window windowOf(const TimeWindow& window)
{
    ICalendarFile::Window bounds{kNoBound, -kNoBound};
    if (window.startAtMost)
        bounds.startAtMostUtc = window.startAtMost->toSecsSinceEpoch();
    if (window.endAtLeast)
        bounds.endAtLeastUtc = window.endAtLeast->toSecsSinceEpoch();
    // Open-ended series need an end: two years past the window's start, or past now.
    if (!window.startAtMost) {
        const qint64 from = window.endAtLeast ? bounds.endAtLeastUtc : QDateTime::currentSecsSinceEpoch();
        bounds.startAtMostUtc = from + 2LL * 366 * 86400;
    }
    return bounds;
}

bool sameWindow(const ICalendarFile::Window& a, const ICalendarFile::Window& b)
{
    return a.startAtMostUtc == b.startAtMostUtc && a.endAtLeastUtc == b.endAtLeastUtc;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

QByteArray readWhole(int directoryFd, const char* name, QString* error)
{
    const int fd = ::openat(directoryFd, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        *error = systemError();
        return {};
    }
    QFile file;
    QByteArray bytes;
    if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        bytes = file.readAll();
    else
        *error = file.errorString();
    return bytes;
}

} // namespace

CalendarIndex::CalendarIndex(QString directory) : m_directory(std::move(directory)) {}

bool CalendarIndex::refresh()
{
    const QByteArray path = QFile::encodeName(m_directory);
    DIR* dir = ::opendir(path.constData());
    if (!dir) {
        const int code = errno;
        const QString reason = systemError();
        m_files.clear();
        m_lastWindow.reset();
        throw MailboxError(
            code == EACCES ? MailboxError::AccessDenied : MailboxError::NotFound,
            QStringLiteral("The calendar folder %1 cannot be read: %2").arg(m_directory, reason));
    }
    const int fd = ::dirfd(dir);

    std::vector<std::pair<QString, Entry>> files;
    bool changed = !m_listed;
    while (dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        const std::size_t length = std::strlen(name);
        if (name[0] == '.' || length < 4 || qstrnicmp(name + length - 4, ".ics", 4) != 0)
            continue;
        struct stat info {};
        if (::fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
            continue;
        const Stamp stamp{qint64(info.st_size),
                          qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
                          quint64(info.st_ino)};
        QString fileName = QFile::decodeName(name);

        const auto known =
            std::lower_bound(m_files.begin(), m_files.end(), fileName,
                             [](const auto& file, const QString& key) { return file.first < key; });
        if (known != m_files.end() && known->first == fileName && known->second.stamp == stamp) {
            files.emplace_back(std::move(fileName), std::move(known->second));
            continue;
        }
        changed = true;
        Entry parsed;
        parsed.stamp = stamp;
        QString error;
        const QByteArray bytes = readWhole(fd, name, &error);
        if (error.isEmpty())
            parsed.parsed = ICalendarFile::parse(bytes, &error);
        parsed.error = error;
        files.emplace_back(std::move(fileName), std::move(parsed));
    }
    ::closedir(dir);

    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    changed = changed || files.size() != m_files.size();
    m_files = std::move(files);
    m_listed = true;
    return changed;
}

Folder::Scan CalendarIndex::scan(const TimeWindow& timeWindow)
{
    const ICalendarFile::Window window = windowOf(timeWindow);
    const bool changed = refresh();
    if (changed || !m_lastWindow || !sameWindow(*m_lastWindow, window)) {
        m_lastOccurrences.clear();
        m_lastErrors.clear();
        for (const auto& [name, entry] : m_files) {
            const QString location = m_directory + u'/' + name;
            if (!entry.parsed) {
                m_lastErrors.append(MailboxError(MailboxError::ItemUnreadable,
                                                 QStringLiteral("%1: %2").arg(location, entry.error)));
                continue;
            }
            for (const QString& problem : entry.parsed->problems())
                m_lastErrors.append(MailboxError(MailboxError::ItemUnreadable,
                                                 QStringLiteral("%1: %2").arg(location, problem)));
            const std::size_t first = m_lastOccurrences.size();
            entry.parsed->expand(window, m_lastOccurrences);
            for (std::size_t i = first; i < m_lastOccurrences.size(); ++i)
                m_lastOccurrences[i].source.location = location;
        }
        // Files were taken in name order, so equal starts keep that order. The keys are taken once: comparing
        // local date-times converts them each time.
        std::vector<std::pair<qint64, std::size_t>> order;
        order.reserve(m_lastOccurrences.size());
        for (std::size_t i = 0; i < m_lastOccurrences.size(); ++i)
            order.emplace_back(m_lastOccurrences[i].Start.toMSecsSinceEpoch(), i);
        std::stable_sort(order.begin(), order.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<MailboxItem> sorted;
        sorted.reserve(order.size());
        for (const auto& [start, index] : order)
            sorted.push_back(std::move(m_lastOccurrences[index]));
        m_lastOccurrences = std::move(sorted);
        m_lastWindow = window;
    }

    Folder::Scan result;
    result.errors = m_lastErrors;
    result.occurrences.reserve(qsizetype(m_lastOccurrences.size()));
    for (const MailboxItem& occurrence : m_lastOccurrences)
        result.occurrences.append(std::make_shared<MailboxItem>(occurrence));
    return result;
}

QList<std::shared_ptr<MailboxItem>> CalendarIndex::storedItems()
{
    refresh();
    QList<std::shared_ptr<MailboxItem>> items;
    for (const auto& [name, entry] : m_files) {
        if (!entry.parsed)
            continue;
        for (MailboxItem& item : entry.parsed->storedItems()) {
            item.source.location = m_directory + u'/' + name;
            items.append(std::make_shared<MailboxItem>(std::move(item)));
        }
    }
    return items;
}
