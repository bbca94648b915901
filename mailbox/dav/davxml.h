#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The WebDAV, CalDAV and CardDAV XML the DAV back end speaks: request bodies, and the multistatus replies
// read into plain values. A reply that is not well-formed XML, or not a multistatus, is a MailboxError
// (ServerError) naming what was asked.
namespace DavXml {

inline const QString kDav = QStringLiteral("DAV:");
inline const QString kCalDav = QStringLiteral("urn:ietf:params:xml:ns:caldav");
inline const QString kCardDav = QStringLiteral("urn:ietf:params:xml:ns:carddav");
inline const QString kCalendarServer = QStringLiteral("http://calendarserver.org/ns/");

// A property name as the parser keys it: namespace then local name.
QString key(const QString& ns, const QString& name);

// One property's value, in the few shapes DAV properties take.
struct Property {
    QString text;               // the text directly inside (calendar-data, getetag, displayname, …)
    QStringList hrefs;          // DAV:href elements anywhere inside (principal and home-set URLs)
    QStringList children;       // keys of the direct child elements (resourcetype)
    QStringList componentNames; // "name" attributes of direct children (supported-calendar-component-set)
};

struct Response {
    QString href;   // as the server wrote it, still percent-encoded
    int status = 0; // the response's own status (404 in a multiget), 0 when it has propstats only
    QHash<QString, Property> properties; // those found (propstat status 2xx), by key()

    const Property* property(const QString& ns, const QString& name) const;
    QString text(const QString& ns, const QString& name) const;
    bool isCollectionOf(const QString& ns, const QString& type) const; // resourcetype holds ns:type
};

// `what` names the request in error texts ("the calendar of José Álvarez").
QList<Response> parseMultistatus(const QByteArray& body, const QString& what);
// The same for a sync-collection reply, which carries the collection's new sync token beside the responses.
QList<Response> parseMultistatus(const QByteArray& body, const QString& what, QString* syncToken);

struct Name {
    QString ns;
    QString name;
};
QByteArray propfind(const QList<Name>& properties);
QByteArray multiget(bool calendar, const QStringList& hrefs);
// A sync-collection REPORT (RFC 6578) of what changed since `token` (empty: everything), asking for the
// ETags and the objects themselves, which saves a multiget where the server sends them.
QByteArray syncCollection(bool calendar, const QString& token);
// The body of an extended MKCOL that makes an address book.
QByteArray makeAddressBook(const QString& displayName);

} // namespace DavXml
