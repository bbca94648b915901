#pragma once

#include "app/mailbox/folder.h"
#include "app/mailbox/icalendarfile.h"

#include <QHash>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

// The parsed files of one calendar folder, kept between queries. Every scan lists the folder once and reads
// again only the files whose size, time or identity changed; with nothing changed, the occurrences of the
// last window are handed out again without touching a file.
class CalendarIndex {
public:
    explicit CalendarIndex(QString directory);

    // Throws MailboxError (NotFound or AccessDenied) when the folder cannot be listed. Files that cannot be
    // read become errors numbered ItemUnreadable, the scan goes on.
    Folder::Scan scan(const TimeWindow& window);

    // Every series and single event as stored, in file-name order.
    QList<std::shared_ptr<MailboxItem>> storedItems();

    QString directory() const { return m_directory; }

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

    QString m_directory;
    std::vector<std::pair<QString, Entry>> m_files; // sorted by file name
    bool m_listed = false;

    std::optional<ICalendarFile::Window> m_lastWindow;
    std::vector<MailboxItem> m_lastOccurrences;
    QList<MailboxError> m_lastErrors;
};
