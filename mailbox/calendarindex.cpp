#include "mailbox/calendarindex.h"

#include "mailbox/directorywatcher.h"
#include "mailbox/parallelwork.h"

#include <QFile>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <utility>

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

// Into `buffer`, which keeps its memory from file to file.
bool readInto(int directoryFd, const char* name, QByteArray& buffer, QString* error)
{
    const int fd = ::openat(directoryFd, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        *error = systemError();
        return false;
    }
    struct stat info {};
    qsizetype size = ::fstat(fd, &info) == 0 ? qsizetype(info.st_size) : 0;
    buffer.resize(size + 1); // one more, to see the end without a second read when the size holds
    size = 0;
    for (;;) {
        if (size == buffer.size())
            buffer.resize(size * 2 + 4096);
        const ssize_t got = ::read(fd, buffer.data() + size, std::size_t(buffer.size() - size));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            *error = systemError();
            break;
        }
        if (got == 0)
            break;
        size += got;
    }
    ::close(fd);
    buffer.resize(size);
    return error->isEmpty();
}

} // namespace

ICalendarFile::Window CalendarIndex::expansionWindow(const TimeWindow& window)
{
    return windowOf(window);
}

CalendarIndex::CalendarIndex(QString directory, std::shared_ptr<DirectoryWatcher> watcher)
    : m_directory(std::move(directory)), m_watcher(std::move(watcher)), m_cache(m_directory),
      m_threads(std::max(1, QThread::idealThreadCount()))
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

CalendarIndex::Entry CalendarIndex::entryOf(const QByteArray& bytes, const Stamp& stamp,
                                            const std::optional<ICalendarFile::Window>& window)
{
    Entry entry;
    entry.stamp = stamp;
    // Read so soon after a change that another could still come with the same stamp: the next process
    // compares the content too.
    if (CalendarCache::isRecent(stamp, nowNs()))
        entry.digest = CalendarCache::digestOf(bytes);
    if (window) {
        const std::optional<CalendarPrefilter::Reach> reach = CalendarPrefilter::reachOf(bytes);
        if (reach && !reach->meets(*window)) {
            entry.reach = reach;
            return entry;
        }
    }
    entry.parsed = ICalendarFile::parse(bytes, &entry.error);
    return entry;
}

void CalendarIndex::countParsed(const Entry& entry)
{
    m_filesRead += entry.unreadable ? 0 : 1;
    if (!entry.unreadable && !entry.reach)
        ++m_filesParsed;
}

CalendarIndex::Entry CalendarIndex::unreadableEntry(const Stamp& stamp, const QString& error)
{
    Entry entry;
    entry.stamp = stamp;
    entry.error = error;
    entry.unreadable = true;
    return entry;
}

CalendarIndex::Entry CalendarIndex::readEntry(int directoryFd, const QByteArray& name, const Stamp& stamp)
{
    QString error;
    QByteArray bytes;
    Entry entry = readInto(directoryFd, name.constData(), bytes, &error) ? entryOf(bytes, stamp, m_window)
                                                                         : unreadableEntry(stamp, error);
    countParsed(entry);
    return entry;
}

void CalendarIndex::readEntries(int directoryFd, const std::vector<Read>& reads)
{
    ICalendarFile::initialiseLibrary();
    const std::optional<ICalendarFile::Window> window = m_window;
    ParallelWork::forEach(reads.size(), std::size_t(m_threads), [&](std::size_t i) {
        thread_local QByteArray buffer; // reused from file to file
        const Read& read = reads[i];
        QString error;
        *read.entry = readInto(directoryFd, read.name.constData(), buffer, &error)
                          ? entryOf(buffer, read.stamp, window)
                          : unreadableEntry(read.stamp, error);
    });
    for (const Read& read : reads)
        countParsed(*read.entry);
}

bool CalendarIndex::parseReached()
{
    std::vector<Read> reads;
    for (auto& [name, entry] : m_files) {
        if (entry.reach && (!m_window || entry.reach->meets(*m_window)))
            reads.push_back({QFile::encodeName(name), entry.stamp, &entry});
    }
    if (reads.empty())
        return false;
    // A file that changed since it was listed is read as it is now; the next listing sees the new stamp.
    readAgain(reads);
    return true;
}

void CalendarIndex::readAgain(const std::vector<Read>& reads)
{
    const int fd = ::open(QFile::encodeName(m_directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        for (const Read& read : reads)
            *read.entry = unreadableEntry(read.stamp, systemError());
        return;
    }
    readEntries(fd, reads);
    ::close(fd);
    cacheChanged(false);
}

std::optional<CalendarIndex::Entry> CalendarIndex::cachedEntry(int directoryFd, const QByteArray& name,
                                                               const Stamp& stamp,
                                                               const CalendarCache::Entry& cached)
{
    if (cached.stamp != stamp)
        return std::nullopt;
    if (!cached.digest.isEmpty()) {
        QString error;
        QByteArray bytes;
        if (!readInto(directoryFd, name.constData(), bytes, &error))
            return std::nullopt; // read again by the caller, which tells what went wrong
        if (CalendarCache::digestOf(bytes) != cached.digest) {
            Entry entry = entryOf(bytes, stamp, m_window);
            countParsed(entry);
            return entry;
        }
    }
    // Left unparsed by an earlier process, and wanted now: read again.
    if (cached.reach && (!m_window || cached.reach->meets(*m_window)))
        return std::nullopt;
    Entry entry;
    entry.stamp = stamp;
    entry.digest = cached.digest;
    entry.error = cached.error;
    entry.reach = cached.reach;
    if (entry.reach)
        return entry;
    if (cached.parsed.isEmpty())
        return cached.error.isEmpty() ? std::nullopt : std::optional(entry);
    entry.serialized = cached.parsed;
    return entry;
}

void CalendarIndex::deserializeEntries()
{
    std::vector<Read> reads;
    for (auto& [name, entry] : m_files) {
        if (entry.serialized.isEmpty())
            continue;
        QString ignored;
        entry.parsed = ICalendarFile::deserialize(entry.serialized, &ignored);
        entry.serialized.clear();
        // A cache entry this build cannot read back: the file is read again.
        if (!entry.parsed)
            reads.push_back({QFile::encodeName(name), entry.stamp, &entry});
    }
    m_cacheBytes.clear();
    m_savedExpansion.clear();
    if (!reads.empty())
        readAgain(reads);
}

bool CalendarIndex::restoreExpansion(const ICalendarFile::Window& window)
{
    const qsizetype folderEnd = m_savedExpansion.indexOf('\0');
    if (folderEnd < 0 || QByteArrayView(m_savedExpansion).first(folderEnd) != m_directory.toUtf8())
        return false;
    ExpandedCalendar saved;
    if (!saved.restore(QByteArrayView(m_savedExpansion).sliced(folderEnd + 1)) || !saved.holds(window))
        return false;
    m_expanded = std::move(saved);
    return true;
}

void CalendarIndex::cacheChanged(bool firstListing)
{
    m_cacheChanged = true;
    m_expansionCurrent = false;
    m_saveSoon = m_saveSoon || firstListing;
}

void CalendarIndex::saveCache()
{
    m_cacheChanged = false;
    m_saveSoon = false;
    m_sinceSave.start();
    if (!m_cache.enabled())
        return;
    std::vector<CalendarCache::Entry> entries;
    entries.reserve(m_files.size());
    for (const auto& [name, entry] : m_files) {
        if (entry.unreadable)
            continue;
        CalendarCache::Entry stored{name, entry.stamp, entry.digest, entry.error, QByteArray(), entry.reach};
        if (entry.parsed) {
            stored.parsed = entry.parsed->serialize();
            if (stored.parsed.isEmpty())
                continue;
        }
        else if (!entry.serialized.isEmpty()) {
            stored.parsed = entry.serialized;
        }
        entries.push_back(std::move(stored));
    }
    // A cache that cannot be written costs the next process time, nothing else.
    // The occurrences name their files by the folder as this index was given it.
    QByteArray expansion;
    if (m_expansionCurrent) {
        expansion = m_expanded.save();
        if (!expansion.isEmpty())
            expansion.prepend(m_directory.toUtf8() + '\0');
    }
    m_cache.save(entries, expansion);
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
    std::vector<CalendarCache::Entry>& cached = stored.entries;
    if (!m_listed && m_files.empty()) {
        stored = m_cache.load();
        // Saved in name order; looked up by halving rather than through a table of every name.
        const auto byName = [](const auto& a, const auto& b) { return a.name < b.name; };
        if (!std::is_sorted(cached.begin(), cached.end(), byName))
            std::sort(cached.begin(), cached.end(), byName);
    }
    const int parsedBefore = m_filesParsed;
    qsizetype fromCache = 0;
    std::vector<std::size_t> toRead; // indexes in `files`
    std::vector<QByteArray> namesToRead;

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
        const auto found = std::lower_bound(
            cached.begin(), cached.end(), fileName,
            [](const CalendarCache::Entry& entry, const QString& key) { return entry.name < key; });
        if (found != cached.end() && found->name == fileName) {
            if (std::optional<Entry> entry = cachedEntry(fd, name, stamp, *found)) {
                ++fromCache;
                files.emplace_back(std::move(fileName), std::move(*entry));
                continue;
            }
        }
        toRead.push_back(files.size());
        namesToRead.emplace_back(name);
        Entry placeholder;
        placeholder.stamp = stamp;
        files.emplace_back(std::move(fileName), std::move(placeholder));
    }
    std::vector<Read> reads;
    reads.reserve(toRead.size());
    for (std::size_t i = 0; i < toRead.size(); ++i) {
        Entry& entry = files[toRead[i]].second;
        reads.push_back({std::move(namesToRead[i]), entry.stamp, &entry});
    }
    readEntries(fd, reads);
    ::closedir(dir);

    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    const bool wasListed = m_listed;
    changed = changed || files.size() != m_files.size();
    m_files = std::move(files);
    m_listed = true;
    // The cache is written again only when it no longer says what the folder holds.
    const bool asCached = !wasListed && m_filesParsed == parsedBefore && reads.empty() &&
                          fromCache == qsizetype(cached.size()) && qsizetype(m_files.size()) == fromCache;
    if (wasListed ? changed : !asCached)
        cacheChanged(!wasListed);
    // Entries taken from the cache point into what was loaded.
    if (fromCache > 0)
        m_cacheBytes = stored.bytes;
    if (asCached && fromCache > 0) {
        m_savedExpansion = stored.expansion;
        // Saved by another build or in another time zone: saved again with this one's occurrences.
        if (m_savedExpansion.isEmpty())
            cacheChanged(true);
    }
    return changed;
}

Folder::Scan CalendarIndex::scan(const TimeWindow& timeWindow)
{
    update(windowOf(timeWindow));
    return m_expanded.scan();
}

void CalendarIndex::prepare(const TimeWindow& timeWindow)
{
    m_prepared = false;
    update(windowOf(timeWindow));
    m_prepared = true;
}

void CalendarIndex::update(const ICalendarFile::Window& window)
{
    m_window = window;
    const bool prepared = std::exchange(m_prepared, false);
    bool changed = !prepared && refresh();
    changed = parseReached() || changed;
    if (changed || !m_expanded.holds(window)) {
        if (!restoreExpansion(window)) {
            deserializeEntries();
            // Files are taken in name order, so equal starts keep that order.
            std::vector<ExpandedCalendar::Object> objects;
            objects.reserve(m_files.size());
            for (const auto& [name, entry] : m_files) {
                if (!entry.reach)
                    objects.push_back({m_directory + u'/' + name, QString(), entry.parsed, entry.error});
            }
            m_expanded.expand(window, objects);
        }
        m_expansionCurrent = true;
    }
    m_savedExpansion.clear();
    // The first listing's findings are written at once, for the next process; later changes at most every
    // half minute, and when the index goes.
    constexpr qint64 kSaveAfterMs = 30 * 1000;
    if (m_cacheChanged && (m_saveSoon || m_sinceSave.elapsed() >= kSaveAfterMs))
        saveCache();
}

QList<std::shared_ptr<MailboxItem>> CalendarIndex::storedItems()
{
    m_window.reset();
    m_prepared = false;
    // What the listing changed is not seen again by the next scan's refresh(). The files parsed now have
    // nothing in the window last expanded.
    if (refresh())
        m_expanded.forget();
    parseReached();
    deserializeEntries();
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
