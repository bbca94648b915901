#pragma once

#include "mailbox/dav/davclient.h"
#include "mailbox/dav/davxml.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// A collection of a home: an address book or a calendar.
struct DavCollection {
    QUrl url;
    QString displayName; // DAV:displayname, else the last segment of the path
    QString segment;     // the last segment of the path, decoded
    QString ctag;        // getctag or, without it, the sync token; empty when the server gives neither
};

// Finding the user's principal and homes from a server address, and the calendars of a home.
class DavDiscovery {
public:
    struct Account {
        QUrl principal;
        QUrl calendarHome;
        QUrl addressBookHome;
    };

    // Well-known addresses and the server address are asked for the current user's principal, the principal
    // for its homes. Throws MailboxError: AccessDenied for a refused password, ServerError or Timeout when
    // the server cannot be reached, NotFound when no address offers a principal.
    static Account discover(DavClient& client, const QUrl& server, const QString& user);

    // A depth-1 PROPFIND of a home: the properties that tell collections apart and, with `counters`, each
    // one's getctag and sync token. Some servers compute those from every item of every collection, so a
    // home is listed without them where the reads that follow bring their own.
    static DavClient::Request listCollections(const QUrl& home, const QString& what, bool counters = true);
    static QList<DavCollection> addressBooks(const QList<DavXml::Response>& responses, const QUrl& base);
    // The calendar of a home that holds events: one with a usual name ("calendar", "personal", "default")
    // first, else the first by address. Nothing when the home has none.
    static std::optional<QUrl> chooseCalendar(const QList<DavXml::Response>& responses, const QUrl& base);

    // Where a person's calendar home is by the server's conventions: the user's own calendar home with the
    // user's name replaced by the person's address, then by its local part. Empty when the home does not
    // name the user.
    static QList<QUrl> conventionalHomes(const Account& account, const QString& user,
                                         const QStringList& addresses);

    static QString ctagOf(const DavXml::Response& response);
    // Two addresses of one resource compare equal through this, whatever their percent-encoding.
    static QString urlKey(const QUrl& url);
    static QUrl resolve(const QUrl& base, const QString& href);
};
