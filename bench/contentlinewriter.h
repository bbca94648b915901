#pragma once

#include <QByteArray>
#include <QString>

// Builds the text of an iCalendar or vCard object: each line folded at 75 octets without splitting a UTF-8
// sequence, and ended by CRLF, as the formats require.
class ContentLineWriter {
public:
    // `line` is a whole content line in UTF-8, without its line end.
    void add(const QByteArray& line);
    // name ":" text, the text escaped as a TEXT value.
    void addText(const char* name, const QString& text);

    const QByteArray& data() const;
    void clear();

    // Backslash, semicolon, comma and line breaks escaped.
    static QByteArray escaped(const QString& text);

private:
    QByteArray m_data;
};
