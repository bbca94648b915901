#include "mailbox/vcard.h"

#include <QStringDecoder>

#include <optional>

namespace {

// One line of the file as it lies on disk: its text without the line break, and the break.
struct PhysicalLine {
    qsizetype begin = 0;
    qsizetype contentEnd = 0;
    qsizetype end = 0; // after the line break
};

// A content line once unfolded, with the range of the physical lines it came from.
struct LogicalLine {
    QByteArray text;
    qsizetype begin = 0;
    qsizetype end = 0;
    int number = 0; // of its first physical line, from 1, for error texts
};

QList<PhysicalLine> physicalLines(const QByteArray& bytes, qsizetype start)
{
    QList<PhysicalLine> lines;
    const qsizetype size = bytes.size();
    qsizetype begin = start;
    while (begin < size) {
        qsizetype i = begin;
        while (i < size && bytes.at(i) != '\n' && bytes.at(i) != '\r')
            ++i;
        PhysicalLine line{begin, i, i};
        if (i < size) {
            // CRLF, LF, and the lone CR of old Mac programs all end a line.
            line.end = (bytes.at(i) == '\r' && i + 1 < size && bytes.at(i + 1) == '\n') ? i + 2 : i + 1;
        }
        lines.append(line);
        begin = line.end;
    }
    return lines;
}

bool isNameCharacter(QChar c)
{
    // "_" is not allowed by the standards but some exporters write it in X- names.
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-' ||
           c == u'_' || c == u'.';
}

// Parameter values may carry RFC 6868 escapes: ^n a line break, ^' a double quote, ^^ a caret.
QString decodeCaret(QStringView value)
{
    if (!value.contains(u'^'))
        return value.toString();
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c == u'^' && i + 1 < value.size()) {
            const QChar next = value.at(i + 1);
            if (next == u'n' || next == u'N') {
                out += u'\n';
                ++i;
                continue;
            }
            if (next == u'\'') {
                out += u'"';
                ++i;
                continue;
            }
            if (next == u'^') {
                out += u'^';
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

// Splits "[group.]NAME;param=value;...:value". A line that does not have that shape gives nothing: a reader
// of address books written by many programs skips such a line rather than refusing the whole card.
std::optional<VCard::Property> parseContentLine(QStringView line)
{
    const qsizetype n = line.size();
    qsizetype i = 0;
    while (i < n && isNameCharacter(line.at(i)))
        ++i;
    if (i == 0 || i == n || (line.at(i) != u';' && line.at(i) != u':'))
        return std::nullopt;

    VCard::Property property;
    const QStringView qualified = line.left(i);
    const qsizetype dot = qualified.lastIndexOf(u'.');
    property.group = dot < 0 ? QString() : qualified.left(dot).toString();
    property.name = qualified.mid(dot + 1).toString().toUpper();
    if (property.name.isEmpty())
        return std::nullopt;

    while (i < n && line.at(i) == u';') {
        ++i;
        qsizetype j = i;
        while (j < n && line.at(j) != u'=' && line.at(j) != u';' && line.at(j) != u':')
            ++j;
        if (j == n)
            return std::nullopt;
        VCard::Parameter parameter;
        const QString name = line.mid(i, j - i).trimmed().toString().toUpper();
        if (line.at(j) != u'=') {
            // vCard 2.1 writes types without a name ("EMAIL;INTERNET;PREF:"); some 3.0 writers still do.
            parameter.name = QStringLiteral("TYPE");
            if (!name.isEmpty())
                parameter.values.append(name);
            i = j;
        }
        else {
            parameter.name = name;
            i = j + 1;
            while (true) {
                if (i < n && line.at(i) == u'"') {
                    const qsizetype close = line.indexOf(u'"', i + 1);
                    if (close < 0)
                        return std::nullopt;
                    parameter.values.append(decodeCaret(line.mid(i + 1, close - i - 1)));
                    i = close + 1;
                }
                else {
                    qsizetype k = i;
                    while (k < n && line.at(k) != u',' && line.at(k) != u';' && line.at(k) != u':')
                        ++k;
                    parameter.values.append(decodeCaret(line.mid(i, k - i)));
                    i = k;
                }
                if (i < n && line.at(i) == u',') {
                    ++i;
                    continue;
                }
                break;
            }
        }
        property.parameters.append(std::move(parameter));
    }
    if (i >= n || line.at(i) != u':')
        return std::nullopt;
    property.rawValue = line.mid(i + 1).toString();
    return property;
}

bool isBoundary(const VCard::Property& property, QLatin1StringView name)
{
    return property.name == name && property.group.isEmpty() &&
           property.rawValue.trimmed().compare(QLatin1StringView("VCARD"), Qt::CaseInsensitive) == 0;
}

} // namespace

QString VCard::Property::text() const
{
    return unescapeText(rawValue);
}

QStringList VCard::Property::listValues() const
{
    QStringList values;
    qsizetype start = 0;
    for (qsizetype i = 0; i < rawValue.size(); ++i) {
        if (rawValue.at(i) == u'\\')
            ++i; // the escaped character, whatever it is, belongs to this element
        else if (rawValue.at(i) == u',') {
            values.append(unescapeText(QStringView(rawValue).mid(start, i - start)));
            start = i + 1;
        }
    }
    values.append(unescapeText(QStringView(rawValue).mid(start)));
    return values;
}

QStringList VCard::Property::parameter(const QString& name) const
{
    QStringList values;
    for (const Parameter& parameter : parameters) {
        if (parameter.name.compare(name, Qt::CaseInsensitive) == 0)
            values += parameter.values;
    }
    return values;
}

bool VCard::Property::hasParameterValue(const QString& name, const QString& value) const
{
    return parameter(name).contains(value, Qt::CaseInsensitive);
}

VCard VCard::failed(QString error)
{
    VCard card;
    card.m_error = std::move(error);
    return card;
}

VCard VCard::parse(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return failed(QStringLiteral("the file is empty"));
    if (bytes.size() > kMaxFileOctets)
        return failed(QStringLiteral("the file is larger than %1 MiB").arg(kMaxFileOctets / (1024 * 1024)));
    if (bytes.contains('\0'))
        return failed(QStringLiteral("the file holds binary data"));

    const qsizetype start = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    const QList<PhysicalLine> physical = physicalLines(bytes, start);

    QList<LogicalLine> logical;
    for (qsizetype index = 0; index < physical.size(); ++index) {
        const PhysicalLine& line = physical.at(index);
        if (line.contentEnd - line.begin > kMaxLineOctets)
            return failed(
                QStringLiteral("line %1 is longer than %2 KiB").arg(index + 1).arg(kMaxLineOctets / 1024));
        const char first = line.contentEnd > line.begin ? bytes.at(line.begin) : '\0';
        if ((first == ' ' || first == '\t') && !logical.isEmpty()) {
            LogicalLine& previous = logical.last();
            previous.text.append(bytes.constData() + line.begin + 1, line.contentEnd - line.begin - 1);
            previous.end = line.end;
            if (previous.text.size() > kMaxLineOctets)
                return failed(QStringLiteral("line %1 is longer than %2 KiB")
                                  .arg(previous.number)
                                  .arg(kMaxLineOctets / 1024));
            continue;
        }
        logical.append(LogicalLine{bytes.mid(line.begin, line.contentEnd - line.begin), line.begin, line.end,
                                   int(index + 1)});
    }

    VCard card;
    card.m_bytes = bytes;
    bool begun = false;
    bool ended = false;
    int nested = 0; // vCards inside this one (2.1 AGENT), whose properties are not this card's
    for (const LogicalLine& line : std::as_const(logical)) {
        if (line.text.trimmed().isEmpty())
            continue;
        // Decoded line by line, after unfolding: some writers fold in the middle of a UTF-8 sequence.
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = decoder(line.text);
        if (decoder.hasError()) {
            if (!begun)
                continue; // what comes before the card is not the card's
            return failed(QStringLiteral("line %1 is not valid UTF-8").arg(line.number));
        }
        std::optional<Property> property = parseContentLine(text);
        if (!property)
            continue;
        if (!begun) {
            begun = isBoundary(*property, QLatin1StringView("BEGIN"));
            continue;
        }
        if (isBoundary(*property, QLatin1StringView("BEGIN"))) {
            ++nested;
            continue;
        }
        if (isBoundary(*property, QLatin1StringView("END"))) {
            if (nested > 0) {
                --nested;
                continue;
            }
            card.m_endLineBegin = line.begin;
            ended = true;
            break;
        }
        if (nested > 0)
            continue;
        property->begin = line.begin;
        property->end = line.end;
        card.m_properties.append(std::move(*property));
    }
    if (!begun)
        return failed(QStringLiteral("there is no BEGIN:VCARD"));
    if (!ended)
        return failed(QStringLiteral("the card ends before END:VCARD (the file may be truncated)"));
    return card;
}

const VCard::Property* VCard::property(const QString& name) const
{
    for (const Property& property : m_properties) {
        if (property.name.compare(name, Qt::CaseInsensitive) == 0)
            return &property;
    }
    return nullptr;
}

QString VCard::value(const QString& name) const
{
    const Property* found = property(name);
    return found ? found->text() : QString();
}

QStringList VCard::values(const QString& name) const
{
    QStringList values;
    for (const Property& property : m_properties) {
        if (property.name.compare(name, Qt::CaseInsensitive) == 0)
            values.append(property.text());
    }
    return values;
}

QStringList VCard::categories() const
{
    QStringList categories;
    for (const Property& property : m_properties) {
        if (property.name != QLatin1StringView("CATEGORIES"))
            continue;
        for (const QString& value : property.listValues()) {
            const QString trimmed = value.trimmed();
            if (!trimmed.isEmpty())
                categories.append(trimmed);
        }
    }
    return categories;
}

QByteArray VCard::setCategories(const QStringList& categories) const
{
    if (!isValid())
        return {};
    QStringList escaped;
    for (const QString& category : categories) {
        const QString trimmed = category.trimmed();
        if (!trimmed.isEmpty())
            escaped.append(escapeText(trimmed));
    }
    if (escaped.isEmpty())
        return replaceProperties({QStringLiteral("CATEGORIES")}, {});
    // A group the old line had stays, so that a program that ties labels to it still finds them.
    const Property* existing = property(QStringLiteral("CATEGORIES"));
    const QString group = existing ? existing->group : QString();
    const QString content =
        (group.isEmpty() ? QString() : group + u'.') + QStringLiteral("CATEGORIES:") + escaped.join(u',');
    return replaceProperties({QStringLiteral("CATEGORIES")}, {content.toUtf8()});
}

QByteArray VCard::replaceProperties(const QStringList& names, const QList<QByteArray>& lines) const
{
    if (!isValid())
        return {};
    QList<const Property*> existing;
    for (const Property& property : m_properties) {
        if (names.contains(property.name))
            existing.append(&property);
    }
    QByteArray folded;
    for (const QByteArray& line : lines)
        folded += fold(line);

    if (existing.isEmpty()) {
        if (folded.isEmpty())
            return m_bytes;
        return m_bytes.left(m_endLineBegin) + folded + m_bytes.mid(m_endLineBegin);
    }
    QByteArray out;
    out.reserve(m_bytes.size() + folded.size());
    qsizetype position = 0;
    for (const Property* property : std::as_const(existing)) {
        out.append(m_bytes.constData() + position, property->begin - position);
        if (property == existing.first())
            out.append(folded);
        position = property->end;
    }
    out.append(m_bytes.constData() + position, m_bytes.size() - position);
    return out;
}

QString VCard::unescapeText(QStringView raw)
{
    if (!raw.contains(u'\\'))
        return raw.toString();
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (c != u'\\' || i + 1 == raw.size()) {
            out += c;
            continue;
        }
        const QChar next = raw.at(++i);
        if (next == u'n' || next == u'N')
            out += u'\n';
        else
            out += next; // "\\", "\,", "\;" and the "\:" some programs write in addresses
    }
    return out;
}

QString VCard::escapeText(const QString& text)
{
    QString out;
    out.reserve(text.size() + 4);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\\' || c == u',' || c == u';')
            out += u'\\' + QString(c);
        else if (c == u'\r') {
            out += QLatin1StringView("\\n");
            if (i + 1 < text.size() && text.at(i + 1) == u'\n')
                ++i;
        }
        else if (c == u'\n')
            out += QLatin1StringView("\\n");
        else
            out += c;
    }
    return out;
}

QByteArray VCard::fold(const QByteArray& line)
{
    constexpr qsizetype kLineOctets = 75;
    QByteArray out;
    out.reserve(line.size() + line.size() / 25 + 2);
    qsizetype position = 0;
    bool first = true;
    while (true) {
        // A continuation line's leading space counts towards its 75 octets.
        const qsizetype room = first ? kLineOctets : kLineOctets - 1;
        if (!first)
            out += ' ';
        if (line.size() - position <= room) {
            out.append(line.constData() + position, line.size() - position);
            out += "\r\n";
            return out;
        }
        qsizetype cut = position + room;
        while (cut > position && (uchar(line.at(cut)) & 0xC0) == 0x80)
            --cut; // not inside a UTF-8 sequence
        if (cut == position)
            cut = position + room;
        out.append(line.constData() + position, cut - position);
        out += "\r\n";
        position = cut;
        first = false;
    }
}
