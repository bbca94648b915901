#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>
#include <sys/stat.h>
#include <time.h>

// Writing the files the program publishes (reports, pictures, their copies) into folders that others may
// read while they are written, or share.
namespace OutputFile {

struct Options {
    // The new file's permission bits. Without them the file gets 0666 less the umask, as any new file does,
    // or, with keepMode, the bits of the regular file it replaces.
    std::optional<mode_t> mode;
    bool keepMode = false;
    // Access and modification times for the new file.
    std::optional<std::array<timespec, 2>> times;
};

struct Failure {
    int error = 0;  // errno of the step that failed
    QString reason; // what failed, for people
};

// Puts `bytes` at `path` through a temporary file in the same folder that is renamed over the name at the
// end: a reader sees the old file or the whole new one, never a part, and a link standing under the name is
// replaced, never followed. On failure nothing is left behind and what stood at `path` is untouched.
std::optional<Failure> write(const QString& path, const QByteArray& bytes, const Options& options = {});

// Copies the file at `from` to `to` the same way.
std::optional<Failure> copy(const QString& from, const QString& to, const Options& options = {});

} // namespace OutputFile
