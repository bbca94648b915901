#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class SettingsStore;

// The texts of one language: the screen texts (caption and tooltip by entry number) that windows pick up
// through their controls' tags, and the numbered messages.
class LanguageTexts {
public:
    struct ScreenText {
        QString caption;
        QString tooltip;
    };

    static constexpr int kHighestEntry = 999;
    static constexpr qsizetype kMaxTextLength = 255;

    // Reads <folder>/<language>Scr.txt and <language>Msg.txt. A language whose file is missing falls back to
    // English in the same folder, then to the English texts built into the program, so the program always has
    // its messages. Each fallback and each damaged file adds a line to warnings().
    static LanguageTexts load(const QString& languageFolder, const QString& languageName);

    // The language the settings name; an empty setting means "English".
    static QString languageName(const SettingsStore& settings);

    // An entry the files do not give is empty.
    ScreenText screen(int number) const;
    QString message(int number) const;

    qsizetype screenCount() const { return m_screen.size(); }
    qsizetype messageCount() const { return m_messages.size(); }
    QStringList warnings() const { return m_warnings; }

    // Reading one file; public for the tests. `error` is set when a bad line stopped the reading.
    static QString decode(const QByteArray& bytes);
    static QList<ScreenText> parseScreenFile(const QString& text, QString* error);
    static QStringList parseMessageFile(const QString& text, QString* error);

private:
    QList<ScreenText> m_screen;
    QStringList m_messages;
    QStringList m_warnings;
};
