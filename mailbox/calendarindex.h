#pragma once

#include "mailbox/calendarcache.h"
#include "mailbox/calendarprefilter.h"
#include "mailbox/expandedcalendar.h"
#include "mailbox/folder.h"
#include "mailbox/icalendarfile.h"

#include <QElapsedTimer>
#include <QHash>
#include <QString>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

class DirectoryWatcher;

// The parsed files of one calendar folder, kept between queries. A scan reads again only the files whose
// size, time or identity changed; with nothing changed, the occurrences of the last window are handed out
// again. With a watcher, the folder is not even listed again unless the
// watcher reports a change (or a quarter of an hour has passed, for file systems that report nothing).
// What it learns is kept on disk (CalendarCache), so that the next process parses only what changed since.
class CalendarIndex {
public:
    explicit CalendarIndex(QString directory, std::shared_ptr<DirectoryWatcher> watcher = nullptr);
    ~CalendarIndex();
    CalendarIndex(const CalendarIndex&) = delete;
    CalendarIndex& operator=(const CalendarIndex&) = delete;

    // Throws MailboxError (NotFound or AccessDenied) when the folder cannot be listed. Files that cannot be
    // read become errors numbered ItemUnreadable, the scan goes on.
    Folder::Scan scan(const TimeWindow& window);
    // What scan() does but hand out the occurrences, so that a query can have its members' folders read on
    // several threads; the next scan then trusts this listing rather than listing again. Throws as scan().
    void prepare(const TimeWindow& window);

    // Every series and single event as stored, in file-name order.
    QList<std::shared_ptr<MailboxItem>> storedItems();

    QString directory() const { return m_directory; }

    // The window a restriction's time window is expanded in: open-ended series stop two years on.
    static ICalendarFile::Window expansionWindow(const TimeWindow& window);

    using Stamp = CalendarCache::Stamp;

    // How many files the scans so far have parsed, rather than taken from the cache or from memory, or
    // left unparsed because their events cannot reach the window.
    int filesParsed() const { return m_filesParsed; }
    // How many files the scans so far have read to parse them or to look for their reach.
    int filesRead() const { return m_filesRead; }

    // Files are read and parsed by this many threads at once; 1 reads them on the caller's thread.
    void setThreadCount(int threads) { m_threads = std::max(1, threads); }

private:
    struct Entry {
        Stamp stamp;
        std::shared_ptr<const ICalendarFile> parsed;
        QString error;
        QByteArray digest;       // as in CalendarCache::Entry
        bool unreadable = false; // not even read: nothing to remember about it
        // Set, instead of `parsed`, while none of the windows asked for meets the file's events.
        std::optional<CalendarPrefilter::Reach> reach;
        // What the disk cache holds for the file, read back into `parsed` only when it is needed: a process
        // that finds nothing changed takes the occurrences the last one saved instead.
        QByteArray serialized;
    };
    // A file to read, and where its entry goes.
    struct Read {
        QByteArray name;
        Stamp stamp;
        Entry* entry;
    };

    // Brings m_files up to date with the folder; true when anything changed.
    bool refresh();
    bool listFolder();
    bool updateFiles(const QSet<QString>& names);
    Entry readEntry(int directoryFd, const QByteArray& name, const Stamp& stamp);
    // Reads the files, on several threads when there are several.
    void readEntries(int directoryFd, const std::vector<Read>& reads);
    // Reads the files of `reads` again, from the folder opened anew.
    void readAgain(const std::vector<Read>& reads);
    // Parses the files left unparsed that the current window meets (all of them without a window); true
    // when there were any.
    bool parseReached();
    // What a file's content gives: its reach alone when it cannot meet `window`, else the parsed file.
    static Entry entryOf(const QByteArray& bytes, const Stamp& stamp,
                         const std::optional<ICalendarFile::Window>& window);
    static Entry unreadableEntry(const Stamp& stamp, const QString& error);
    void countParsed(const Entry& entry);
    // The entry the cache holds for a file, when its stamp (and, for a file changed just before it was
    // read, its content) shows that it still holds.
    std::optional<Entry> cachedEntry(int directoryFd, const QByteArray& name, const Stamp& stamp,
                                     const CalendarCache::Entry& cached);
    // The first listing's findings are written at once, for the next process; later changes at most every
    // half minute, and when the index goes.
    void cacheChanged(bool firstListing);
    void saveCache();
    // Reads back the entries the cache gave that are still in their saved form.
    void deserializeEntries();
    // The occurrences the last process saved, when nothing changed since and they are of this window.
    bool restoreExpansion(const ICalendarFile::Window& window);
    // Brings the files and their occurrences up to `window`.
    void update(const ICalendarFile::Window& window);

    QString m_directory;
    std::shared_ptr<DirectoryWatcher> m_watcher;
    bool m_watching = false;
    QElapsedTimer m_sinceListing;
    std::vector<std::pair<QString, Entry>> m_files; // sorted by file name
    bool m_listed = false;
    bool m_prepared = false; // listed by prepare() for the next scan
    CalendarCache m_cache;
    bool m_cacheChanged = false;
    bool m_saveSoon = false;
    // The loaded cache, while entries or the saved expansion still point into it.
    QByteArray m_cacheBytes;
    QByteArray m_savedExpansion;     // set while the folder is as the cache found it
    bool m_expansionCurrent = false; // m_expanded is of the entries as they are
    QElapsedTimer m_sinceSave;
    int m_filesParsed = 0;
    int m_filesRead = 0;
    int m_threads;
    // The window files are read for; none when every file is to be parsed.
    std::optional<ICalendarFile::Window> m_window;

    ExpandedCalendar m_expanded;
};
