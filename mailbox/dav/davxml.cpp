#include "mailbox/dav/davxml.h"

#include "mailbox/mailboxerror.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace DavXml {

namespace {

// Nesting deeper than any DAV reply needs is refused rather than walked.
constexpr int kMaxDepth = 64;

MailboxError badReply(const QString& what, const QString& reason)
{
    return MailboxError(
        MailboxError::ServerError,
        QStringLiteral("The calendar server gave a reply to %1 that makes no sense: %2").arg(what, reason));
}

bool isDav(const QXmlStreamReader& reader, QLatin1StringView name)
{
    return reader.namespaceUri() == kDav && reader.name() == name;
}

int statusOf(const QString& line)
{
    // "HTTP/1.1 200 OK"
    const QStringList parts = line.simplified().split(u' ');
    return parts.size() >= 2 ? parts.at(1).toInt() : 0;
}

// Reads the property whose start element the reader is on, up to its end element.
Property readProperty(QXmlStreamReader& reader)
{
    Property property;
    int depth = 1;
    while (depth > 0 && !reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (isDav(reader, QLatin1StringView("href"))) {
                property.hrefs.append(
                    reader.readElementText(QXmlStreamReader::IncludeChildElements).trimmed());
                continue; // readElementText stopped on the end element
            }
            if (++depth > kMaxDepth) {
                reader.raiseError(QStringLiteral("elements nested too deeply"));
                break;
            }
            if (depth == 2) {
                property.children.append(key(reader.namespaceUri().toString(), reader.name().toString()));
                const QStringView name = reader.attributes().value(QLatin1StringView("name"));
                if (!name.isEmpty())
                    property.componentNames.append(name.toString());
            }
        }
        else if (token == QXmlStreamReader::Characters && depth == 1) {
            property.text += reader.text();
        }
        else if (token == QXmlStreamReader::EndElement) {
            --depth;
        }
    }
    return property;
}

void readPropstat(QXmlStreamReader& reader, Response& response)
{
    QHash<QString, Property> found;
    int status = 200; // a propstat without a status is taken as found
    while (reader.readNextStartElement()) {
        if (isDav(reader, QLatin1StringView("prop"))) {
            while (reader.readNextStartElement()) {
                const QString name = key(reader.namespaceUri().toString(), reader.name().toString());
                found.insert(name, readProperty(reader));
            }
        }
        else if (isDav(reader, QLatin1StringView("status"))) {
            status = statusOf(reader.readElementText());
        }
        else {
            reader.skipCurrentElement();
        }
    }
    if (status >= 200 && status < 300)
        response.properties.insert(found);
}

Response readResponse(QXmlStreamReader& reader)
{
    Response response;
    while (reader.readNextStartElement()) {
        if (isDav(reader, QLatin1StringView("href")))
            response.href = reader.readElementText().trimmed();
        else if (isDav(reader, QLatin1StringView("propstat")))
            readPropstat(reader, response);
        else if (isDav(reader, QLatin1StringView("status")))
            response.status = statusOf(reader.readElementText());
        else
            reader.skipCurrentElement();
    }
    return response;
}

} // namespace

QString key(const QString& ns, const QString& name)
{
    return ns + u'|' + name;
}

const Property* Response::property(const QString& ns, const QString& name) const
{
    const auto it = properties.constFind(key(ns, name));
    return it == properties.cend() ? nullptr : &it.value();
}

QString Response::text(const QString& ns, const QString& name) const
{
    const Property* found = property(ns, name);
    return found ? found->text.trimmed() : QString();
}

bool Response::isCollectionOf(const QString& ns, const QString& type) const
{
    const Property* types = property(kDav, QStringLiteral("resourcetype"));
    return types && types->children.contains(key(ns, type));
}

QList<Response> parseMultistatus(const QByteArray& body, const QString& what)
{
    return parseMultistatus(body, what, nullptr);
}

QList<Response> parseMultistatus(const QByteArray& body, const QString& what, QString* syncToken)
{
    QXmlStreamReader reader(body);
    QList<Response> responses;
    if (!reader.readNextStartElement())
        throw badReply(what, reader.hasError() ? reader.errorString() : QStringLiteral("an empty reply"));
    if (!isDav(reader, QLatin1StringView("multistatus")))
        throw badReply(what, QStringLiteral("<%1> where a multistatus was expected").arg(reader.name()));
    while (reader.readNextStartElement()) {
        if (isDav(reader, QLatin1StringView("response")))
            responses.append(readResponse(reader));
        else if (syncToken && isDav(reader, QLatin1StringView("sync-token")))
            *syncToken = reader.readElementText().trimmed();
        else
            reader.skipCurrentElement();
    }
    if (reader.hasError())
        throw badReply(what,
                       QStringLiteral("%1 (line %2)").arg(reader.errorString()).arg(reader.lineNumber()));
    return responses;
}

namespace {

// Writes a document with the usual prefixes declared on its root element.
template <typename Body>
QByteArray document(const QString& ns, const QString& root, Body&& body)
{
    QByteArray bytes;
    QXmlStreamWriter writer(&bytes);
    writer.writeStartDocument();
    writer.writeNamespace(kDav, QStringLiteral("d"));
    writer.writeNamespace(kCalDav, QStringLiteral("c"));
    writer.writeNamespace(kCardDav, QStringLiteral("card"));
    writer.writeNamespace(kCalendarServer, QStringLiteral("cs"));
    writer.writeStartElement(ns, root);
    body(writer);
    writer.writeEndElement();
    writer.writeEndDocument();
    return bytes;
}

} // namespace

QByteArray propfind(const QList<Name>& properties)
{
    return document(kDav, QStringLiteral("propfind"), [&](QXmlStreamWriter& writer) {
        writer.writeStartElement(kDav, QStringLiteral("prop"));
        for (const Name& property : properties)
            writer.writeEmptyElement(property.ns, property.name);
        writer.writeEndElement();
    });
}

QByteArray multiget(bool calendar, const QStringList& hrefs)
{
    const QString ns = calendar ? kCalDav : kCardDav;
    return document(ns,
                    calendar ? QStringLiteral("calendar-multiget") : QStringLiteral("addressbook-multiget"),
                    [&](QXmlStreamWriter& writer) {
                        writer.writeStartElement(kDav, QStringLiteral("prop"));
                        writer.writeEmptyElement(kDav, QStringLiteral("getetag"));
                        writer.writeEmptyElement(ns, calendar ? QStringLiteral("calendar-data")
                                                              : QStringLiteral("address-data"));
                        writer.writeEndElement();
                        for (const QString& href : hrefs)
                            writer.writeTextElement(kDav, QStringLiteral("href"), href);
                    });
}

QByteArray syncCollection(bool calendar, const QString& token)
{
    return document(kDav, QStringLiteral("sync-collection"), [&](QXmlStreamWriter& writer) {
        writer.writeTextElement(kDav, QStringLiteral("sync-token"), token);
        writer.writeTextElement(kDav, QStringLiteral("sync-level"), QStringLiteral("1"));
        writer.writeStartElement(kDav, QStringLiteral("prop"));
        writer.writeEmptyElement(kDav, QStringLiteral("getetag"));
        writer.writeEmptyElement(calendar ? kCalDav : kCardDav,
                                 calendar ? QStringLiteral("calendar-data") : QStringLiteral("address-data"));
        writer.writeEndElement();
    });
}

QByteArray makeAddressBook(const QString& displayName)
{
    return document(kDav, QStringLiteral("mkcol"), [&](QXmlStreamWriter& writer) {
        writer.writeStartElement(kDav, QStringLiteral("set"));
        writer.writeStartElement(kDav, QStringLiteral("prop"));
        writer.writeStartElement(kDav, QStringLiteral("resourcetype"));
        writer.writeEmptyElement(kDav, QStringLiteral("collection"));
        writer.writeEmptyElement(kCardDav, QStringLiteral("addressbook"));
        writer.writeEndElement();
        writer.writeTextElement(kDav, QStringLiteral("displayname"), displayName);
        writer.writeEndElement();
        writer.writeEndElement();
    });
}

} // namespace DavXml
