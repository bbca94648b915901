#include "mailbox/dav/davdiscovery.h"

#include <QHash>

#include <algorithm>

namespace {

using DavXml::kCalDav;
using DavXml::kCalendarServer;
using DavXml::kCardDav;
using DavXml::kDav;

QString lastSegment(const QUrl& url)
{
    const QString path = url.path(QUrl::FullyDecoded);
    const QStringList segments = path.split(u'/', Qt::SkipEmptyParts);
    return segments.isEmpty() ? QString() : segments.last();
}

DavClient::Request propfind(const QUrl& url, const QByteArray& depth, const QList<DavXml::Name>& properties,
                            const QString& what)
{
    DavClient::Request request;
    request.method = "PROPFIND";
    request.url = url;
    request.depth = depth;
    request.contentType = "application/xml; charset=utf-8";
    request.body = DavXml::propfind(properties);
    request.what = what;
    return request;
}

QUrl withTrailingSlash(QUrl url)
{
    QString path = url.path(QUrl::FullyEncoded);
    if (!path.endsWith(u'/')) {
        path += u'/';
        url.setPath(path, QUrl::StrictMode);
    }
    return url;
}

} // namespace

QUrl DavDiscovery::resolve(const QUrl& base, const QString& href)
{
    return base.resolved(QUrl(href, QUrl::TolerantMode));
}

QString DavDiscovery::urlKey(const QUrl& url)
{
    const QUrl normal = url.adjusted(QUrl::NormalizePathSegments | QUrl::StripTrailingSlash);
    return normal.scheme().toLower() + QStringLiteral("://") + normal.host().toLower() + u':' +
           QString::number(normal.port(normal.scheme() == QLatin1StringView("https") ? 443 : 80)) +
           normal.path(QUrl::FullyDecoded);
}

QString DavDiscovery::ctagOf(const DavXml::Response& response)
{
    const QString ctag = response.text(kCalendarServer, QStringLiteral("getctag"));
    return ctag.isEmpty() ? response.text(kDav, QStringLiteral("sync-token")) : ctag;
}

DavDiscovery::Account DavDiscovery::discover(DavClient& client, const QUrl& server, const QString& user)
{
    QUrl origin = server.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment);
    QList<QUrl> candidates;
    const bool bare = server.path().isEmpty() || server.path() == QLatin1StringView("/");
    QUrl wellKnown = origin;
    wellKnown.setPath(QStringLiteral("/.well-known/caldav"));
    if (bare)
        candidates << wellKnown << withTrailingSlash(server);
    else
        candidates << withTrailingSlash(server) << wellKnown;

    const QString who = user.isEmpty() ? QStringLiteral("the calendar account")
                                       : QStringLiteral("the calendar account of %1").arg(user);
    QList<DavXml::Name> wanted{{kDav, QStringLiteral("current-user-principal")},
                               {kCalDav, QStringLiteral("calendar-home-set")},
                               {kCardDav, QStringLiteral("addressbook-home-set")}};
    std::optional<QUrl> principal;
    std::optional<MailboxError> lastError;
    for (const QUrl& candidate : std::as_const(candidates)) {
        const DavClient::Reply reply = client.run(propfind(candidate, "0", wanted, who));
        if (!reply.ok()) {
            // A refused password or an unreachable server will not get better at another address.
            if (reply.status == 401 || reply.status == 0)
                throw *reply.error;
            lastError = reply.error;
            continue;
        }
        const QList<DavXml::Response> responses = DavXml::parseMultistatus(reply.body, who);
        for (const DavXml::Response& response : responses) {
            const DavXml::Property* found = response.property(kDav, QStringLiteral("current-user-principal"));
            if (found && !found->hrefs.isEmpty()) {
                principal = resolve(reply.url, found->hrefs.first());
                break;
            }
        }
        if (principal)
            break;
    }
    if (!principal)
        throw MailboxError(MailboxError::NotFound,
                           QStringLiteral("The server %1 offers no CalDAV account for %2%3")
                               .arg(server.toDisplayString(),
                                    user.isEmpty() ? QStringLiteral("this user") : user,
                                    lastError ? QStringLiteral(": ") + lastError->description() : QString()));

    Account account;
    account.principal = withTrailingSlash(*principal);
    const DavClient::Reply reply = client.run(propfind(account.principal, "0", wanted, who));
    if (!reply.ok())
        throw *reply.error;
    for (const DavXml::Response& response : DavXml::parseMultistatus(reply.body, who)) {
        const DavXml::Property* calendars = response.property(kCalDav, QStringLiteral("calendar-home-set"));
        if (calendars && !calendars->hrefs.isEmpty() && account.calendarHome.isEmpty())
            account.calendarHome = withTrailingSlash(resolve(reply.url, calendars->hrefs.first()));
        const DavXml::Property* books = response.property(kCardDav, QStringLiteral("addressbook-home-set"));
        if (books && !books->hrefs.isEmpty() && account.addressBookHome.isEmpty())
            account.addressBookHome = withTrailingSlash(resolve(reply.url, books->hrefs.first()));
    }
    // Servers that leave a home out keep it at the principal.
    if (account.calendarHome.isEmpty())
        account.calendarHome = account.principal;
    if (account.addressBookHome.isEmpty())
        account.addressBookHome = account.principal;
    return account;
}

DavClient::Request DavDiscovery::listCollections(const QUrl& home, const QString& what, bool counters)
{
    QList<DavXml::Name> properties{{kDav, QStringLiteral("resourcetype")},
                                   {kDav, QStringLiteral("displayname")},
                                   {kCalDav, QStringLiteral("supported-calendar-component-set")}};
    if (counters)
        properties << DavXml::Name{kCalendarServer, QStringLiteral("getctag")}
                   << DavXml::Name{kDav, QStringLiteral("sync-token")};
    return propfind(home, "1", properties, what);
}

QList<DavCollection> DavDiscovery::addressBooks(const QList<DavXml::Response>& responses, const QUrl& base)
{
    QList<DavCollection> books;
    for (const DavXml::Response& response : responses) {
        if (!response.isCollectionOf(kCardDav, QStringLiteral("addressbook")))
            continue;
        DavCollection book;
        book.url = withTrailingSlash(resolve(base, response.href));
        book.segment = lastSegment(book.url);
        book.displayName = response.text(kDav, QStringLiteral("displayname"));
        if (book.displayName.isEmpty())
            book.displayName = book.segment;
        book.ctag = ctagOf(response);
        books.append(book);
    }
    std::sort(books.begin(), books.end(),
              [](const DavCollection& a, const DavCollection& b) { return urlKey(a.url) < urlKey(b.url); });
    return books;
}

std::optional<QUrl> DavDiscovery::chooseCalendar(const QList<DavXml::Response>& responses, const QUrl& base)
{
    QList<QUrl> calendars;
    for (const DavXml::Response& response : responses) {
        if (!response.isCollectionOf(kCalDav, QStringLiteral("calendar")))
            continue;
        const DavXml::Property* components =
            response.property(kCalDav, QStringLiteral("supported-calendar-component-set"));
        if (components && !components->componentNames.isEmpty() &&
            !components->componentNames.contains(QStringLiteral("VEVENT"), Qt::CaseInsensitive))
            continue;
        calendars.append(withTrailingSlash(resolve(base, response.href)));
    }
    if (calendars.isEmpty())
        return std::nullopt;
    std::sort(calendars.begin(), calendars.end(),
              [](const QUrl& a, const QUrl& b) { return urlKey(a) < urlKey(b); });
    QUrl chosen = calendars.first();
    for (const QUrl& calendar : std::as_const(calendars)) {
        const QString name = lastSegment(calendar).toLower();
        if (name == QLatin1StringView("calendar") || name == QLatin1StringView("personal") ||
            name == QLatin1StringView("default")) {
            chosen = calendar;
            break;
        }
    }
    return chosen;
}

QList<QUrl> DavDiscovery::conventionalHomes(const Account& account, const QString& user,
                                            const QStringList& addresses)
{
    const QString path = account.calendarHome.path(QUrl::FullyDecoded);
    QStringList segments = path.split(u'/');
    const QString principalName = lastSegment(account.principal);
    qsizetype at = -1;
    for (const QString& name : {user, principalName}) {
        if (name.isEmpty())
            continue;
        for (qsizetype i = segments.size() - 1; i >= 0 && at < 0; --i) {
            if (segments.at(i).compare(name, Qt::CaseInsensitive) == 0)
                at = i;
        }
        if (at >= 0)
            break;
    }
    if (at < 0)
        return {};

    QStringList identities;
    for (const QString& address : addresses) {
        const QString trimmed = address.trimmed();
        if (!trimmed.isEmpty() && !identities.contains(trimmed, Qt::CaseInsensitive))
            identities << trimmed;
    }
    for (const QString& address : addresses) {
        const QString local = address.section(u'@', 0, 0).trimmed();
        if (address.contains(u'@') && !local.isEmpty() && !identities.contains(local, Qt::CaseInsensitive))
            identities << local;
    }
    QList<QUrl> homes;
    for (const QString& identity : std::as_const(identities)) {
        // A name that could leave its segment is not used.
        if (identity.contains(u'/') || identity == QLatin1StringView("..") ||
            identity == QLatin1StringView("."))
            continue;
        QStringList replaced = segments;
        replaced[at] = identity;
        QUrl home = account.calendarHome;
        home.setPath(replaced.join(u'/'), QUrl::DecodedMode);
        homes.append(withTrailingSlash(home));
    }
    return homes;
}
