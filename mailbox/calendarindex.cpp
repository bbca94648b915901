#include "mailbox/calendarindex.h"

#include "mailbox/directorywatcher.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <time.h>

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

qint64 nanoseconds(const timespec& time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

CalendarIndex::Stamp stampOf(const struct stat& info)
{
    return {qint64(info.st_size), nanoseconds(info.st_mtim), quint64(info.st_ino), nanoseconds(info.st_ctim)};
}

qint64 nowNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return nanoseconds(now);
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

ICalendarFile::Window CalendarIndex::expansionWindow(const TimeWindow& window)
{
    return windowOf(window);
}

CalendarIndex::CalendarIndex(QString directory, std::shared_ptr<DirectoryWatcher> watcher)
    : m_directory(std::move(directory)), m_watcher(std::move(watcher)), m_cache(m_directory)
{
    m_sinceSave.start();
}

CalendarIndex::~CalendarIndex()
{
    if (m_cacheChanged)
        saveCache();
}

namespace {

constexpr qint64 kRelistAfterMs = 15 * 60 * 1000;

bool isCalendarFile(const char* name)
{
    const std::size_t length = std::strlen(name);
    return name[0] != '.' && length >= 4 && qstrnicmp(name + length - 4, ".ics", 4) == 0;
}

[[noreturn]] void folderError(const QString& directory)
{
    const int code = errno;
    throw MailboxError(code == EACCES ? MailboxError::AccessDenied : MailboxError::NotFound,
                       QStringLiteral("The calendar folder %1 cannot be read: %2")
                           .arg(directory, QString::fromLocal8Bit(std::strerror(code))));
}

} // namespace

bool CalendarIndex::refresh()
{
    if (m_watching && m_listed && m_sinceListing.isValid() && m_sinceListing.elapsed() < kRelistAfterMs) {
        const DirectoryWatcher::Changes changes = m_watcher->take(m_directory);
        if (!changes.everything) {
            const bool changed = !changes.files.isEmpty() && updateFiles(changes.files);
            if (changed)
                cacheChanged(false);
            return changed;
        }
    }
    return listFolder();
}

CalendarIndex::Entry CalendarIndex::parseEntry(const QByteArray& bytes, const Stamp& stamp)
{
    Entry entry;
    entry.stamp = stamp;
    // Read so soon after a change that another could still come with the same stamp: the next process
    // compares the content too.
    if (CalendarCache::isRecent(stamp, nowNs()))
        entry.digest = CalendarCache::digestOf(bytes);
    entry.parsed = ICalendarFile::parse(bytes, &entry.error);
    ++m_filesParsed;
    return entry;
}

CalendarIndex::Entry CalendarIndex::readEntry(int directoryFd, const QByteArray& name, const Stamp& stamp)
{
    QString error;
    const QByteArray bytes = readWhole(directoryFd, name.constData(), &error);
    if (error.isEmpty())
        return parseEntry(bytes, stamp);
    Entry entry;
    entry.stamp = stamp;
    entry.error = error;
    entry.unreadable = true;
    return entry;
}

std::optional<CalendarIndex::Entry> CalendarIndex::cachedEntry(int directoryFd, const QByteArray& name,
                                                               const Stamp& stamp,
                                                               const CalendarCache::Entry& cached)
{
    if (cached.stamp != stamp)
        return std::nullopt;
    if (!cached.digest.isEmpty()) {
        QString error;
        const QByteArray bytes = readWhole(directoryFd, name.constData(), &error);
        if (!error.isEmpty())
            return std::nullopt; // read again by the caller, which tells what went wrong
        if (CalendarCache::digestOf(bytes) != cached.digest)
            return parseEntry(bytes, stamp);
    }
    Entry entry;
    entry.stamp = stamp;
    entry.digest = cached.digest;
    entry.error = cached.error;
    if (cached.parsed.isEmpty())
        return cached.error.isEmpty() ? std::nullopt : std::optional(entry);
    QString ignored;
    entry.parsed = ICalendarFile::deserialize(cached.parsed, &ignored);
    if (!entry.parsed)
        return std::nullopt;
    return entry;
}

void CalendarIndex::cacheChanged(bool firstListing)
{
    constexpr qint64 kSaveAfterMs = 30 * 1000;
    m_cacheChanged = true;
    if (firstListing || m_sinceSave.elapsed() >= kSaveAfterMs)
        saveCache();
}

void CalendarIndex::saveCache()
{
    m_cacheChanged = false;
    m_sinceSave.start();
    if (!m_cache.enabled())
        return;
    std::vector<CalendarCache::Entry> entries;
    entries.reserve(m_files.size());
    for (const auto& [name, entry] : m_files) {
        if (entry.unreadable)
            continue;
        CalendarCache::Entry stored{name, entry.stamp, entry.digest, entry.error, QByteArray()};
        if (entry.parsed) {
            stored.parsed = entry.parsed->serialize();
            if (stored.parsed.isEmpty())
                continue;
        }
        entries.push_back(std::move(stored));
    }
    // A cache that cannot be written costs the next process time, nothing else.
    m_cache.save(entries);
}

bool CalendarIndex::updateFiles(const QSet<QString>& names)
{
    const int fd = ::open(QFile::encodeName(m_directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        m_files.clear();
        m_expanded.forget();
        m_listed = false;
        folderError(m_directory);
    }
    bool changed = false;
    for (const QString& fileName : names) {
        const QByteArray name = QFile::encodeName(fileName);
        if (!isCalendarFile(name.constData()))
            continue;
        const auto known =
            std::lower_bound(m_files.begin(), m_files.end(), fileName,
                             [](const auto& file, const QString& key) { return file.first < key; });
        const bool present = known != m_files.end() && known->first == fileName;
        struct stat info {};
        if (::fstatat(fd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) {
            if (present) {
                m_files.erase(known);
                changed = true;
            }
            continue;
        }
        const Stamp stamp = stampOf(info);
        if (present && known->second.stamp == stamp)
            continue;
        changed = true;
        if (present)
            known->second = readEntry(fd, name, stamp);
        else
            m_files.emplace(known, fileName, readEntry(fd, name, stamp));
    }
    ::close(fd);
    return changed;
}

bool CalendarIndex::listFolder()
{
    // Watch first, so that nothing changing while the folder is listed goes unnoticed.
    m_watching = m_watcher && m_watcher->watch(m_directory);
    m_sinceListing.start();
    const QByteArray path = QFile::encodeName(m_directory);
    DIR* dir = ::opendir(path.constData());
    if (!dir) {
        const int code = errno;
        const QString reason = systemError();
        m_files.clear();
        m_expanded.forget();
        throw MailboxError(
            code == EACCES ? MailboxError::AccessDenied : MailboxError::NotFound,
            QStringLiteral("The calendar folder %1 cannot be read: %2").arg(m_directory, reason));
    }
    const int fd = ::dirfd(dir);

    // A new index starts from what an earlier process learnt.
    CalendarCache::Contents stored;
    QHash<QString, CalendarCache::Entry> cached;
    if (!m_listed && m_files.empty()) {
        stored = m_cache.load();
        for (CalendarCache::Entry& entry : stored.entries) {
            QString name = entry.name;
            cached.insert(std::move(name), std::move(entry));
        }
    }
    const int parsedBefore = m_filesParsed;
    qsizetype fromCache = 0;

    std::vector<std::pair<QString, Entry>> files;
    bool changed = !m_listed;
    while (dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (!isCalendarFile(name))
            continue;
        struct stat info {};
        if (::fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
            continue;
        const Stamp stamp = stampOf(info);
        QString fileName = QFile::decodeName(name);

        const auto known =
            std::lower_bound(m_files.begin(), m_files.end(), fileName,
                             [](const auto& file, const QString& key) { return file.first < key; });
        if (known != m_files.end() && known->first == fileName && known->second.stamp == stamp) {
            files.emplace_back(std::move(fileName), std::move(known->second));
            continue;
        }
        changed = true;
        if (const auto found = cached.constFind(fileName); found != cached.cend()) {
            if (std::optional<Entry> entry = cachedEntry(fd, name, stamp, found.value())) {
                ++fromCache;
                files.emplace_back(std::move(fileName), std::move(*entry));
                continue;
            }
        }
        files.emplace_back(std::move(fileName), readEntry(fd, name, stamp));
    }
    ::closedir(dir);

    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    const bool wasListed = m_listed;
    changed = changed || files.size() != m_files.size();
    m_files = std::move(files);
    m_listed = true;
    // The cache is written again only when it no longer says what the folder holds.
    if (wasListed ? changed : m_filesParsed != parsedBefore || fromCache != cached.size())
        cacheChanged(!wasListed);
    return changed;
}

Folder::Scan CalendarIndex::scan(const TimeWindow& timeWindow)
{
    const ICalendarFile::Window window = windowOf(timeWindow);
    if (refresh() || !m_expanded.holds(window)) {
        // Files are taken in name order, so equal starts keep that order.
        std::vector<ExpandedCalendar::Object> objects;
        objects.reserve(m_files.size());
        for (const auto& [name, entry] : m_files)
            objects.push_back({m_directory + u'/' + name, QString(), entry.parsed, entry.error});
        m_expanded.expand(window, objects);
    }
    return m_expanded.scan();
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
