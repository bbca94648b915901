#pragma once

#include "mailbox/expandedcalendar.h"
#include "mailbox/folder.h"
#include "mailbox/icalendarfile.h"

#include <QElapsedTimer>
#include <QHash>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class DirectoryWatcher;

// The parsed files of one calendar folder, kept between queries. A scan reads again only the files whose
// size, time or identity changed; with nothing changed, the occurrences of the last window are handed out
// again. With a watcher, the folder is not even listed again unless the
// watcher reports a change (or a quarter of an hour has passed, for file systems that report nothing).
class CalendarIndex {
public:
    explicit CalendarIndex(QString directory, std::shared_ptr<DirectoryWatcher> watcher = nullptr);

    // Throws MailboxError (NotFound or AccessDenied) when the folder cannot be listed. Files that cannot be
    // read become errors numbered ItemUnreadable, the scan goes on.
    Folder::Scan scan(const TimeWindow& window);

    // Every series and single event as stored, in file-name order.
    QList<std::shared_ptr<MailboxItem>> storedItems();

    QString directory() const { return m_directory; }

    // The window a restriction's time window is expanded in: open-ended series stop two years on.
    static ICalendarFile::Window expansionWindow(const TimeWindow& window);

    struct Stamp {
        qint64 size = -1;
        qint64 modifiedNs = 0;
        quint64 inode = 0;
        bool operator==(const Stamp&) const = default;
    };

private:
    struct Entry {
        Stamp stamp;
        std::shared_ptr<const ICalendarFile> parsed;
        QString error;
    };

    // Brings m_files up to date with the folder; true when anything changed.
    bool refresh();
    bool listFolder();
    bool updateFiles(const QSet<QString>& names);
    Entry readEntry(int directoryFd, const QByteArray& name, const Stamp& stamp) const;

    QString m_directory;
    std::shared_ptr<DirectoryWatcher> m_watcher;
    bool m_watching = false;
    QElapsedTimer m_sinceListing;
    std::vector<std::pair<QString, Entry>> m_files; // sorted by file name
    bool m_listed = false;

    ExpandedCalendar m_expanded;
};
