#include "mailbox/dav/davmirror.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <cstdio>

namespace {

constexpr char kMagic[] = "RVDAVMIR";
constexpr qsizetype kMagicSize = sizeof(kMagic) - 1;
// Bumped whenever the layout of a file changes.
constexpr quint32 kFormat = 1;
constexpr auto kChecksum = QCryptographicHash::Md5;
constexpr qsizetype kChecksumSize = 16;
constexpr qsizetype kHeaderSize = kMagicSize + 4 + 8 + kChecksumSize;

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

QString fileName(const QString& identity, const char* suffix)
{
    return QString::fromLatin1(
               QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha256).toHex().left(40)) +
           QLatin1StringView(suffix);
}

// The payload of a whole, checksummed file of this format; nothing otherwise.
std::optional<QByteArray> readPayload(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (bytes.size() < kHeaderSize || !bytes.startsWith(QByteArrayView(kMagic, kMagicSize)) ||
        readBigEndian(bytes.constData() + kMagicSize, 4) != kFormat ||
        readBigEndian(bytes.constData() + kMagicSize + 4, 8) != quint64(bytes.size() - kHeaderSize))
        return std::nullopt;
    const QByteArray payload = bytes.sliced(kHeaderSize);
    if (QCryptographicHash::hash(payload, kChecksum) != bytes.sliced(kMagicSize + 12, kChecksumSize))
        return std::nullopt;
    return payload;
}

// Readable and writable by the user alone: calendars say where people are.
bool makePrivateFolder(const QString& path)
{
    return QDir().mkpath(path) &&
           QFile::setPermissions(path,
                                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

bool writePayload(const QString& path, const QByteArray& payload)
{
    QByteArray header(kMagic, kMagicSize);
    writeBigEndian(header, kFormat, 4);
    writeBigEndian(header, quint64(payload.size()), 8);
    header.append(QCryptographicHash::hash(payload, kChecksum));
    // Written beside and renamed, so that another process reads the old file or the new one, never half of
    // one; a file a crash leaves damaged fails its checksum. QTemporaryFile creates it 0600.
    const QString where = QFileInfo(path).path();
    QTemporaryFile file(where + QStringLiteral("/XXXXXX.tmp"));
    bool written = makePrivateFolder(QFileInfo(where).path()) && makePrivateFolder(where) && file.open() &&
                   file.write(header) == header.size() && file.write(payload) == payload.size() &&
                   file.flush();
    if (written) {
        written = ::rename(QFile::encodeName(file.fileName()).constData(),
                           QFile::encodeName(path).constData()) == 0;
        file.setAutoRemove(!written);
    }
    return written;
}

} // namespace

DavMirror::DavMirror(const QUrl& server, const QString& user)
    : m_enabled(qEnvironmentVariableIntValue("ROTAVINE_NO_CACHE") == 0),
      m_account(DavDiscovery::urlKey(server) + u'\n' + user)
{
}

QString DavMirror::folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/Rotavine/dav");
}

QString DavMirror::identity(const QUrl& collection) const
{
    return m_account + u'\n' + DavDiscovery::urlKey(collection);
}

QString DavMirror::collectionPath(const QUrl& collection) const
{
    return folder() + u'/' + fileName(identity(collection), ".mirror");
}

QString DavMirror::accountPath() const
{
    return folder() + u'/' + fileName(m_account, ".account");
}

std::optional<DavMirror::Collection> DavMirror::loadCollection(const QUrl& collection) const
{
    if (!m_enabled)
        return std::nullopt;
    const std::optional<QByteArray> payload = readPayload(collectionPath(collection));
    if (!payload)
        return std::nullopt;
    QDataStream in(*payload);
    in.setVersion(QDataStream::Qt_6_0);
    QString owner;
    quint32 count = 0;
    Collection contents;
    in >> owner >> contents.syncToken >> contents.ctag >> count;
    // Another collection whose name hashes alike is no help.
    if (owner != identity(collection) || count > quint32(payload->size()))
        return std::nullopt;
    contents.items.resize(count);
    for (Item& item : contents.items)
        in >> item.url >> item.etag >> item.bytes;
    if (in.status() != QDataStream::Ok || !in.atEnd())
        return std::nullopt;
    return contents;
}

bool DavMirror::saveCollection(const QUrl& collection, const Collection& contents) const
{
    if (!m_enabled)
        return true;
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << identity(collection) << contents.syncToken << contents.ctag << quint32(contents.items.size());
    for (const Item& item : contents.items)
        out << item.url << item.etag << item.bytes;
    return writePayload(collectionPath(collection), payload);
}

std::optional<DavMirror::Account> DavMirror::loadAccount() const
{
    if (!m_enabled)
        return std::nullopt;
    const std::optional<QByteArray> payload = readPayload(accountPath());
    if (!payload)
        return std::nullopt;
    QDataStream in(*payload);
    in.setVersion(QDataStream::Qt_6_0);
    QString owner;
    Account account;
    quint32 books = 0;
    in >> owner >> account.homes.principal >> account.homes.calendarHome >> account.homes.addressBookHome >>
        account.lastReached >> account.located >> books;
    if (books > quint32(payload->size()))
        return std::nullopt;
    for (quint32 i = 0; i < books && in.status() == QDataStream::Ok; ++i) {
        DavCollection book;
        in >> book.url >> book.displayName >> book.segment >> book.ctag;
        account.addressBooks.append(book);
    }
    if (owner != m_account || in.status() != QDataStream::Ok || !in.atEnd() || !account.lastReached.isValid())
        return std::nullopt;
    return account;
}

bool DavMirror::saveAccount(const Account& account) const
{
    if (!m_enabled)
        return true;
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << m_account << account.homes.principal << account.homes.calendarHome << account.homes.addressBookHome
        << account.lastReached << account.located << quint32(account.addressBooks.size());
    for (const DavCollection& book : account.addressBooks)
        out << book.url << book.displayName << book.segment << book.ctag;
    return writePayload(accountPath(), payload);
}
