#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// The files kept in the user's cache folder (the parsed calendars of a folder mailbox, the mirror of a
// server): an 8-byte magic, a format number, the payload's size and checksum, then the payload. A file that
// is damaged, foreign or cut short reads as none, so the worst it costs is building it again. A file is
// written beside and renamed, so that processes sharing it only ever see a whole one, into folders that the
// user alone can read: calendars say where people are.
namespace CacheFile {

constexpr qsizetype kMagicSize = 8;
constexpr qsizetype kHeaderSize = kMagicSize + 4 + 8 + 16;

struct Contents {
    QByteArray file;
    // Points into `file`: valid as long as it is.
    QByteArray payload() const
    {
        return QByteArray::fromRawData(file.constData() + kHeaderSize, file.size() - kHeaderSize);
    }
};

// Nothing when the file is missing or not a whole file of this magic and format.
std::optional<Contents> read(const QString& path, QByteArrayView magic, quint32 format);
// False, with `error` set to why, when the file cannot be written; the folder and its parent are made as
// needed.
bool write(const QString& path, QByteArrayView magic, quint32 format, const QByteArray& payload,
           QString* error = nullptr);

} // namespace CacheFile
