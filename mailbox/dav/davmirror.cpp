#include "mailbox/dav/davmirror.h"

#include "mailbox/cachefile.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QIODevice>
#include <QStandardPaths>

namespace {

constexpr char kMagic[] = "RVDAVMIR";
// Bumped whenever the layout of a file changes.
constexpr quint32 kFormat = 1;

QString fileName(const QString& identity, const char* suffix)
{
    return QString::fromLatin1(
               QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha256).toHex().left(40)) +
           QLatin1StringView(suffix);
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
    const std::optional<CacheFile::Contents> file =
        CacheFile::read(collectionPath(collection), kMagic, kFormat);
    if (!file)
        return std::nullopt;
    const QByteArray payload = file->payload();
    QDataStream in(payload);
    in.setVersion(QDataStream::Qt_6_0);
    QString owner;
    quint32 count = 0;
    Collection contents;
    in >> owner >> contents.syncToken >> contents.ctag >> count;
    // Another collection whose name hashes alike is no help.
    if (owner != identity(collection) || count > quint32(payload.size()))
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
    return CacheFile::write(collectionPath(collection), kMagic, kFormat, payload);
}

std::optional<DavMirror::Account> DavMirror::loadAccount() const
{
    if (!m_enabled)
        return std::nullopt;
    const std::optional<CacheFile::Contents> file = CacheFile::read(accountPath(), kMagic, kFormat);
    if (!file)
        return std::nullopt;
    const QByteArray payload = file->payload();
    QDataStream in(payload);
    in.setVersion(QDataStream::Qt_6_0);
    QString owner;
    Account account;
    quint32 books = 0;
    in >> owner >> account.homes.principal >> account.homes.calendarHome >> account.homes.addressBookHome >>
        account.lastReached >> account.located >> books;
    if (books > quint32(payload.size()))
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
    return CacheFile::write(accountPath(), kMagic, kFormat, payload);
}
