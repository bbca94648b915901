#pragma once

#include <QProcessEnvironment>
#include <QString>

namespace TempFolder {

struct Result {
    QString folder; // ends in "/"; empty when no usable folder was found
    QString error;  // why, when folder is empty
};

// The folder for temporary files: "temp" (or "TEMP"), else "tmp" (or "TMP") when that is shorter than two
// characters, then TMPDIR, then the platform's temporary folder. Reports and pictures are written there and
// then opened by other programs, so the files live in a private subfolder of it, created with mode 0700; a
// subfolder that is a link, or someone else's, is refused.
Result find(const QProcessEnvironment& environment, const QString& platformTempFolder);

} // namespace TempFolder
