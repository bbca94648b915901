#include "mailbox/directorywatcher.h"

#include <QFile>

#include <cerrno>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

constexpr uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM |
                             IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

} // namespace

DirectoryWatcher::DirectoryWatcher() : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

DirectoryWatcher::~DirectoryWatcher()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool DirectoryWatcher::watch(const QString& directory)
{
    const std::lock_guard lock(m_mutex);
    if (m_fd < 0)
        return false;
    drain();
    m_pending.remove(directory);
    const int wd = ::inotify_add_watch(m_fd, QFile::encodeName(directory).constData(), kEvents);
    if (wd < 0) {
        m_watches.remove(directory);
        return false;
    }
    m_watches.insert(directory, wd);
    m_directories.insert(wd, directory);
    return true;
}

DirectoryWatcher::Changes DirectoryWatcher::take(const QString& directory)
{
    const std::lock_guard lock(m_mutex);
    if (!m_watches.contains(directory))
        return {true, {}};
    drain();
    return m_pending.take(directory);
}

void DirectoryWatcher::drain()
{
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
        const ssize_t length = ::read(m_fd, buffer, sizeof buffer);
        if (length <= 0)
            return; // EAGAIN: nothing more for now
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                // Events were lost: every folder must be listed again.
                for (const QString& directory : std::as_const(m_directories))
                    m_pending[directory].everything = true;
                continue;
            }
            const auto found = m_directories.constFind(event->wd);
            if (found == m_directories.cend())
                continue;
            const QString directory = found.value();
            Changes& changes = m_pending[directory];
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT)) {
                changes.everything = true;
                if (event->mask & IN_IGNORED) {
                    m_directories.remove(event->wd);
                    m_watches.remove(directory);
                }
            }
            else if (event->len > 0) {
                changes.files.insert(QFile::decodeName(event->name));
            }
        }
    }
}
