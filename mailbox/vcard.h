#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// One vCard (3.0 or 4.0) as read from a file, tolerant of what address books actually write: folded lines
// with CRLF, LF or a lone CR, property groups, parameters without a name (2.1 style), quoted parameter
// values, escapes the standards do not list. The bytes read are kept, so that a change rewrites only the
// lines it concerns and leaves every other line exactly as the writing program made it.
class VCard {
public:
    // Limits that keep a damaged or hostile file from taking the memory of a whole address book.
    static constexpr qsizetype kMaxFileOctets = 4 * 1024 * 1024;
    static constexpr qsizetype kMaxLineOctets = 512 * 1024;

    struct Parameter {
        QString name; // upper case
        QStringList values;
    };

    struct Property {
        QString group; // "item1" for "item1.EMAIL", else empty
        QString name;  // upper case
        QList<Parameter> parameters;
        QString rawValue; // unfolded, still escaped

        // The value with its backslash escapes resolved.
        QString text() const;
        // The value as a comma-separated list, each element unescaped.
        QStringList listValues() const;
        // Every value of the parameters of that name (letter case ignored).
        QStringList parameter(const QString& name) const;
        bool hasParameterValue(const QString& name, const QString& value) const;

        // Where the property's lines are in the file, line breaks included.
        qsizetype begin = 0;
        qsizetype end = 0;
    };

    // Never fails: an input that is not a vCard gives a card whose isValid() is false and whose
    // errorString() says what is wrong.
    static VCard parse(const QByteArray& bytes);

    bool isValid() const { return m_error.isEmpty(); }
    QString errorString() const { return m_error; }

    const QByteArray& bytes() const { return m_bytes; }
    const QList<Property>& properties() const { return m_properties; }

    // The first property of that name (letter case ignored), or nullptr.
    const Property* property(const QString& name) const;
    // The unescaped value of the first property of that name; empty when there is none.
    QString value(const QString& name) const;
    // The unescaped values of every property of that name, in file order.
    QStringList values(const QString& name) const;
    bool contains(const QString& name) const { return property(name) != nullptr; }

    QString version() const { return value(QStringLiteral("VERSION")); }
    // Every value of every CATEGORIES property, blanks trimmed and empty ones left out.
    QStringList categories() const;

    // The file's bytes with its categories replaced: the first CATEGORIES property becomes one new line
    // holding the list, the others go; with none, the new line goes before END:VCARD; an empty list removes
    // them all. Every other byte stays as it was. New lines are folded at 75 octets and end with CRLF.
    QByteArray setCategories(const QStringList& categories) const;
    // The file's bytes with every property of those names (upper case) replaced by `lines`, unfolded content
    // lines without their line break: they go where the first old one was, or before END:VCARD when there was
    // none; no lines removes them all. Every other byte stays as it was. New lines are folded as above.
    QByteArray replaceProperties(const QStringList& names, const QList<QByteArray>& lines) const;

    static QString unescapeText(QStringView raw);
    static QString escapeText(const QString& text);
    // Folds one unfolded content line at 75 octets, never inside a UTF-8 sequence, CRLF after each line.
    static QByteArray fold(const QByteArray& line);

private:
    static VCard failed(QString error);

    QByteArray m_bytes;
    QList<Property> m_properties;
    qsizetype m_endLineBegin = 0; // where END:VCARD starts
    QString m_error;
};
