#include "base/languagetexts.h"

#include "base/settingsstore.h"

#include <QFile>
#include <QStringDecoder>

#include <array>

namespace {

// Windows-1252 differs from Latin-1 only in 0x80–0x9F; the five unused codes stay as their Latin-1 controls.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

struct RawEntry {
    int number = 0;
    QString text;
};

// Walks the lines of a language file and hands each numbered entry to `store`. Stops at the first line whose
// first three characters are not a number from 0 to 999, or at a line `store` refuses; returns the highest
// number stored, or -1 when none was.
template <typename Store>
int readEntries(const QString& text, QString* error, Store&& store)
{
    int highest = -1;
    int lineNumber = 0;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(u'\n', start);
        if (end < 0)
            end = text.size();
        QStringView line = QStringView(text).mid(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (line.endsWith(u'\r'))
            line.chop(1);

        bool ok = false;
        const int number = line.left(3).trimmed().toInt(&ok);
        if (!ok || number < 0 || number > LanguageTexts::kHighestEntry) {
            *error =
                QStringLiteral("line %1 does not start with an entry number from 000 to 999").arg(lineNumber);
            return highest;
        }
        if (!store(number, line.mid(3), error)) {
            *error = QStringLiteral("line %1: %2").arg(lineNumber).arg(*error);
            return highest;
        }
        highest = std::max(highest, number);
    }
    return highest;
}

// The tables hold every entry up to the highest number read plus one.
qsizetype tableSize(int highest)
{
    return std::max(highest, 0) + 2;
}

QString readFile(const QString& path, bool* found)
{
    QFile file(path);
    *found = file.open(QIODevice::ReadOnly);
    return *found ? LanguageTexts::decode(file.readAll()) : QString();
}

} // namespace

QString LanguageTexts::decode(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError()) {
        if (text.startsWith(QChar(0xFEFF)))
            text.remove(0, 1);
        return text;
    }
    text.clear();
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto code = static_cast<unsigned char>(byte);
        text += QChar(code >= 0x80 && code < 0xA0 ? kCp1252High[code - 0x80] : char16_t(code));
    }
    return text;
}

QList<LanguageTexts::ScreenText> LanguageTexts::parseScreenFile(const QString& text, QString* error)
{
    QList<ScreenText> table(kHighestEntry + 1);
    const int highest = readEntries(text, error, [&](int number, QStringView entry, QString* why) {
        const qsizetype semicolon = entry.indexOf(u';');
        // A caption this long cannot be split from its tooltip: the line is refused.
        if (semicolon + 4 > kMaxTextLength) {
            *why = QStringLiteral("the first \";\" comes after character %1").arg(kMaxTextLength);
            return false;
        }
        ScreenText& screen = table[number];
        if (semicolon < 0) {
            screen = {entry.left(kMaxTextLength).toString(), QString()};
        }
        else {
            screen = {entry.left(semicolon).left(kMaxTextLength).toString(),
                      entry.mid(semicolon + 1).left(kMaxTextLength).toString()};
        }
        return true;
    });
    table.resize(tableSize(highest));
    return table;
}

QStringList LanguageTexts::parseMessageFile(const QString& text, QString* error)
{
    QStringList table(kHighestEntry + 1);
    const int highest = readEntries(text, error, [&](int number, QStringView entry, QString*) {
        table[number] = entry.left(kMaxTextLength).toString();
        return true;
    });
    table.resize(tableSize(highest));
    return table;
}

QString LanguageTexts::languageName(const SettingsStore& settings)
{
    const QString name = settings.read(QStringLiteral("Parameters"), QStringLiteral("Language"), QString());
    return name.trimmed().isEmpty() ? QStringLiteral("English") : name.trimmed();
}

LanguageTexts LanguageTexts::load(const QString& languageFolder, const QString& languageName)
{
    LanguageTexts texts;
    const QString english = QStringLiteral("English");

    // The first of: the chosen language, English beside it, English built into the program.
    auto readWithFallback = [&](const QString& suffix, QString* source) {
        const QStringList candidates = {languageFolder + u'/' + languageName + suffix,
                                        languageFolder + u'/' + english + suffix,
                                        QStringLiteral(":/Language/") + english + suffix};
        for (const QString& path : candidates) {
            bool found = false;
            const QString content = readFile(path, &found);
            if (found) {
                *source = path;
                if (path != candidates.first())
                    texts.m_warnings << QStringLiteral("Language file %1 not found; using %2 instead")
                                            .arg(candidates.first(), path);
                return content;
            }
        }
        *source = candidates.first();
        texts.m_warnings
            << QStringLiteral("Language file %1 not found and no texts are built in").arg(candidates.first());
        return QString();
    };

    QString source;
    QString error;
    texts.m_screen = parseScreenFile(readWithFallback(QStringLiteral("Scr.txt"), &source), &error);
    if (!error.isEmpty())
        texts.m_warnings << QStringLiteral("%1: %2; the texts after it are missing").arg(source, error);

    // A damaged screen file does not cost the messages.
    error.clear();
    texts.m_messages = parseMessageFile(readWithFallback(QStringLiteral("Msg.txt"), &source), &error);
    if (!error.isEmpty())
        texts.m_warnings << QStringLiteral("%1: %2; the texts after it are missing").arg(source, error);
    return texts;
}

LanguageTexts::ScreenText LanguageTexts::screen(int number) const
{
    return number >= 0 && number < m_screen.size() ? m_screen.at(number) : ScreenText{};
}

QString LanguageTexts::message(int number) const
{
    return number >= 0 && number < m_messages.size() ? m_messages.at(number) : QString();
}
