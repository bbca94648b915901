#include "bench/contentlinewriter.h"

namespace {
constexpr qsizetype kMaxOctets = 75;

bool isContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}
} // namespace

void ContentLineWriter::add(const QByteArray& line)
{
    qsizetype pos = 0;
    qsizetype limit = kMaxOctets;
    while (line.size() - pos > limit) {
        qsizetype cut = pos + limit;
        while (cut > pos && isContinuationByte(line.at(cut)))
            --cut;
        m_data.append(line.constData() + pos, cut - pos);
        m_data.append("\r\n ");
        pos = cut;
        limit = kMaxOctets - 1; // the leading space of a continuation line counts
    }
    m_data.append(line.constData() + pos, line.size() - pos);
    m_data.append("\r\n");
}

void ContentLineWriter::addText(const char* name, const QString& text)
{
    QByteArray line(name);
    line.append(':');
    line.append(escaped(text));
    add(line);
}

const QByteArray& ContentLineWriter::data() const
{
    return m_data;
}

void ContentLineWriter::clear()
{
    m_data.clear();
}

QByteArray ContentLineWriter::escaped(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 8);
    for (char c : utf8) {
        switch (c) {
        case '\\':
        case ';':
        case ',':
            out.append('\\');
            out.append(c);
            break;
        case '\n':
            out.append("\\n");
            break;
        case '\r':
            break;
        default:
            out.append(c);
        }
    }
    return out;
}
