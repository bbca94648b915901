#include "output/outputfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace OutputFile {

namespace {

Failure failure(int error, const QString& what, const QString& path)
{
    return {error,
            QStringLiteral("%1 %2: %3")
                .arg(what, QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(error)))};
}

// Closes the temporary file and, unless it was renamed into place, removes it.
class TemporaryFile {
public:
    TemporaryFile(int descriptor, QByteArray path) : m_descriptor(descriptor), m_path(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
        if (!m_kept)
            ::unlink(m_path.constData());
    }
    int descriptor() const { return m_descriptor; }
    const QByteArray& path() const { return m_path; }
    void keep() { m_kept = true; }

private:
    int m_descriptor;
    QByteArray m_path;
    bool m_kept = false;
};

// A new file beside `target` under a fresh name, opened exclusively so that nothing planted there is
// followed. Mode 0666 lets the umask decide its permissions, as for any new file.
std::optional<TemporaryFile> createBeside(const QString& target, int* error)
{
    const QString folder = QFileInfo(target).path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = QStringLiteral(".rotavine-%1.tmp")
                                 .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
        QByteArray path = QFile::encodeName(QDir(folder).filePath(name));
        const int descriptor =
            ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (descriptor >= 0)
            return std::optional<TemporaryFile>(std::in_place, descriptor, std::move(path));
        if (errno != EEXIST) {
            *error = errno;
            return std::nullopt;
        }
    }
    *error = EEXIST;
    return std::nullopt;
}

bool writeAll(int descriptor, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t written = ::write(descriptor, data, size_t(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

} // namespace

std::optional<Failure> write(const QString& path, const QByteArray& bytes, const Options& options)
{
    const QByteArray target = QFile::encodeName(path);
    std::optional<mode_t> mode = options.mode;
    if (!mode && options.keepMode) {
        struct stat existing {};
        if (::lstat(target.constData(), &existing) == 0 && S_ISREG(existing.st_mode))
            mode = existing.st_mode & 07777;
    }

    // Only a file, or a link standing in for one, is replaced: renaming over a device or a pipe
    // (/dev/null, /dev/stdout) would put a page where the system expects its device.
    struct stat standing {};
    if (::lstat(target.constData(), &standing) == 0 && !S_ISREG(standing.st_mode) &&
        !S_ISLNK(standing.st_mode))
        return Failure{EEXIST, QStringLiteral("%1 is not a file, and is left as it is").arg(path)};

    int error = 0;
    std::optional<TemporaryFile> file = createBeside(path, &error);
    if (!file)
        return failure(error, QStringLiteral("Cannot create a file beside"), path);
    const int descriptor = file->descriptor();
    const auto failed = [&path](const char* what) {
        const int reason = errno;
        return failure(reason, QString::fromLatin1(what), path);
    };
    if (!writeAll(descriptor, bytes.constData(), bytes.size()))
        return failed("Cannot write");
    if (mode && ::fchmod(descriptor, *mode) != 0)
        return failed("Cannot set the permissions of");
    // After the last write, which would move the modification time again.
    if (options.times && ::futimens(descriptor, options.times->data()) != 0)
        return failed("Cannot set the times of");
    if (::fsync(descriptor) != 0)
        return failed("Cannot write");
    if (::rename(file->path().constData(), target.constData()) != 0)
        return failed("Cannot replace");
    file->keep();
    return std::nullopt;
}

std::optional<Failure> copy(const QString& from, const QString& to, const Options& options)
{
    const int descriptor = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return failure(errno, QStringLiteral("Cannot read"), from);
    QByteArray bytes;
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(descriptor, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(descriptor);
            return failure(error, QStringLiteral("Cannot read"), from);
        }
        if (got == 0)
            break;
        bytes.append(chunk, got);
    }
    ::close(descriptor);
    return write(to, bytes, options);
}

} // namespace OutputFile
