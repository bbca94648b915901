#pragma once

#include <QHash>
#include <QSet>
#include <QString>

#include <mutex>

// Tells which files of watched folders changed since it was last asked, through one inotify instance for
// the whole mailbox, so that re-reading a calendar with nothing changed touches no file at all. When it
// cannot tell (no watch could be set, events were lost, the folder itself moved), it says so and the caller
// lists the folder again.
// The calendar folders of a query may be listed on several threads at once: every call takes a lock.
class DirectoryWatcher {
public:
    DirectoryWatcher();
    ~DirectoryWatcher();
    DirectoryWatcher(const DirectoryWatcher&) = delete;
    DirectoryWatcher& operator=(const DirectoryWatcher&) = delete;

    struct Changes {
        bool everything = false; // list the folder again
        QSet<QString> files;     // names of files created, changed, moved or removed
    };

    // Starts (or restarts) watching a folder; false when it cannot be watched.
    bool watch(const QString& directory);
    // What changed in the folder since the last call; `everything` when it is not being watched.
    Changes take(const QString& directory);

private:
    void drain();

    std::mutex m_mutex;
    int m_fd = -1;
    QHash<int, QString> m_directories; // watch descriptor → folder
    QHash<QString, int> m_watches;     // folder → watch descriptor
    QHash<QString, Changes> m_pending;
};
