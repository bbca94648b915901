#include "mailbox/cachefile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cstdio>

namespace {

constexpr auto kChecksum = QCryptographicHash::Md5;

void writeBigEndian(QByteArray& bytes, quint64 value, int size)
{
    for (int shift = (size - 1) * 8; shift >= 0; shift -= 8)
        bytes.append(char((value >> shift) & 0xFF));
}

quint64 readBigEndian(const char* bytes, int size)
{
    quint64 value = 0;
    for (int i = 0; i < size; ++i)
        value = (value << 8) | quint8(bytes[i]);
    return value;
}

bool makePrivateFolder(const QString& path)
{
    return QDir().mkpath(path) &&
           QFile::setPermissions(path,
                                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

} // namespace

std::optional<CacheFile::Contents> CacheFile::read(const QString& path, QByteArrayView magic, quint32 format)
{
    Q_ASSERT(magic.size() == kMagicSize);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    Contents contents{file.readAll()};
    const QByteArrayView bytes(contents.file);
    if (bytes.size() < kHeaderSize || !bytes.startsWith(magic) ||
        readBigEndian(bytes.data() + kMagicSize, 4) != format ||
        readBigEndian(bytes.data() + kMagicSize + 4, 8) != quint64(bytes.size() - kHeaderSize) ||
        QCryptographicHash::hash(bytes.sliced(kHeaderSize), kChecksum) != bytes.sliced(kMagicSize + 12, 16))
        return std::nullopt;
    return contents;
}

bool CacheFile::write(const QString& path, QByteArrayView magic, quint32 format, const QByteArray& payload,
                      QString* error)
{
    Q_ASSERT(magic.size() == kMagicSize);
    QByteArray header = magic.toByteArray();
    writeBigEndian(header, format, 4);
    writeBigEndian(header, quint64(payload.size()), 8);
    header.append(QCryptographicHash::hash(payload, kChecksum));

    // Like QSaveFile, but without its wait for the disk: a file a crash leaves damaged fails its checksum.
    // QTemporaryFile creates it 0600.
    const QString where = QFileInfo(path).path();
    QTemporaryFile file(where + QStringLiteral("/XXXXXX.tmp"));
    bool written = makePrivateFolder(QFileInfo(where).path()) && makePrivateFolder(where) && file.open() &&
                   file.write(header) == header.size() && file.write(payload) == payload.size() &&
                   file.flush();
    if (written) {
        written = std::rename(QFile::encodeName(file.fileName()).constData(),
                              QFile::encodeName(path).constData()) == 0;
        file.setAutoRemove(!written);
    }
    if (!written && error)
        *error = file.errorString();
    return written;
}
