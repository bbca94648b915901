#pragma once

#include <QByteArray>
#include <QString>

// Writes a new file in a folder that other people may share: the bytes go to a private temporary file in
// the same folder, which is then renamed to `fileName` only if nothing stands there yet, so a reader never
// sees half a file and a link planted under that name is never followed or replaced. Returns the empty
// string on success, else why it failed (no file is left behind).
QString writeNewFile(const QString& directory, const QString& fileName, const QByteArray& bytes);
