#include "base/languagetexts.h"
#include "base/settingsstore.h"
#include "base/textids.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

} // namespace

class TestLanguageTexts : public QObject {
    Q_OBJECT

private slots:
    void screenLines_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("tooltip");
        QTest::addColumn<int>("tableSize");
        QTest::newRow("caption and tooltip") << "012Refresh;Reads the calendars again" << 12 << "Refresh"
                                             << "Reads the calendars again" << 14;
        QTest::newRow("only the first ; splits") << "003a;b;c" << 3 << "a"
                                                 << "b;c" << 5;
        QTest::newRow("tooltip only") << "004;Just a tip" << 4 << ""
                                      << "Just a tip" << 6;
        QTest::newRow("no ;") << "005Caption" << 5 << "Caption"
                              << "" << 7;
        QTest::newRow("short line") << "07" << 7 << ""
                                    << "" << 9;
        QTest::newRow("number with spaces") << " 8 Eight" << 8 << "Eight"
                                            << "" << 10;
        QTest::newRow("later line wins") << "001First\n001Second" << 1 << "Second"
                                         << "" << 3;
        QTest::newRow("crlf") << "002Two;tip\r\n003Three\r\n"
                              << 2 << "Two"
                              << "tip" << 5;
        QTest::newRow("gaps stay empty") << "001a\n002b\n005c" << 6 << ""
                                         << "" << 7;
        QTest::newRow("entry 999") << "999Last" << 999 << "Last"
                                   << "" << 1001;
        QTest::newRow("caption cut at 255")
            << "001" + QString(300, u'x') << 1 << QString(255, u'x') << "" << 3;
        QTest::newRow("; at character 255")
            << "001" + QString(251, u'x') + ";tip" << 1 << QString(251, u'x') << "tip" << 3;
        QTest::newRow("tooltip cut at 255")
            << "001c;" + QString(400, u't') << 1 << "c" << QString(255, u't') << 3;
    }
    void screenLines()
    {
        QFETCH(QString, file);
        QFETCH(int, number);
        QFETCH(QString, caption);
        QFETCH(QString, tooltip);
        QFETCH(int, tableSize);
        QString error;
        const QList<LanguageTexts::ScreenText> table = LanguageTexts::parseScreenFile(file, &error);
        QCOMPARE(error, QString());
        QCOMPARE(table.size(), tableSize);
        QCOMPARE(table.at(number).caption, caption);
        QCOMPARE(table.at(number).tooltip, tooltip);
    }

    void badLinesStopTheFile_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("tableSize");
        QTest::addColumn<QString>("lastText"); // the text of entry 1, read before the bad line
        QTest::newRow("empty line") << "001One\n\n002Two" << 3 << "One";
        QTest::newRow("letters for a number") << "001One\nabcTwo\n003Three" << 3 << "One";
        QTest::newRow("negative number") << "001One\n-01Minus" << 3 << "One";
        QTest::newRow("blank number") << "001One\n   Blank" << 3 << "One";
        QTest::newRow("; after character 255") << "001One\n002" + QString(253, u'x') + ";tip" << 3 << "One";
        QTest::newRow("first line bad") << "xx1One\n001One" << 2 << "";
    }
    void badLinesStopTheFile()
    {
        QFETCH(QString, file);
        QFETCH(int, tableSize);
        QFETCH(QString, lastText);
        QString error;
        const QList<LanguageTexts::ScreenText> table = LanguageTexts::parseScreenFile(file, &error);
        QVERIFY(!error.isEmpty());
        QCOMPARE(table.size(), tableSize);
        QCOMPARE(table.at(1).caption, lastText);
        QVERIFY(table.size() < 3 || table.at(2).caption.isEmpty());
    }

    void messageLines_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("tableSize");
        QTest::newRow("; is plain text") << "031Private;busy" << 31 << "Private;busy" << 33;
        QTest::newRow("lines 1 2 5") << "001a\n002b\n005c" << 5 << "c" << 7;
        QTest::newRow("cut at 255") << "009" + QString(300, u'm') << 9 << QString(255, u'm') << 11;
        QTest::newRow("leading zeros") << "007Seven" << 7 << "Seven" << 9;
    }
    void messageLines()
    {
        QFETCH(QString, file);
        QFETCH(int, number);
        QFETCH(QString, text);
        QFETCH(int, tableSize);
        QString error;
        const QStringList table = LanguageTexts::parseMessageFile(file, &error);
        QCOMPARE(error, QString());
        QCOMPARE(table.size(), tableSize);
        QCOMPARE(table.at(number), text);
    }

    void encodings_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("utf-8") << QByteArray("001Fran\xc3\xa7"
                                             "ais")
                               << QStringLiteral("001Français");
        QTest::newRow("utf-8 with BOM") << QByteArray("\xef\xbb\xbf"
                                                      "001x")
                                        << QStringLiteral("001x");
        QTest::newRow("windows-1252") << QByteArray("001Fran\xe7"
                                                    "ais \x80 \x93ok\x94")
                                      << QStringLiteral("001Français € “ok”");
    }
    void encodings()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(LanguageTexts::decode(bytes), text);
    }

    void damagedScreenFileKeepsTheMessages()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("TestScr.txt")), "001Caption\nbroken\n002Lost\n");
        writeFile(dir.filePath(QStringLiteral("TestMsg.txt")), "008No temporary folder\n");
        const LanguageTexts texts = LanguageTexts::load(dir.path(), QStringLiteral("Test"));
        QCOMPARE(texts.screen(1).caption, QStringLiteral("Caption"));
        QCOMPARE(texts.screen(2).caption, QString());
        QCOMPARE(texts.message(8), QStringLiteral("No temporary folder"));
        QCOMPARE(texts.warnings().size(), 1);
        QVERIFY(texts.warnings().first().contains(QStringLiteral("TestScr.txt")));
    }

    void missingLanguageFallsBack()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("EnglishScr.txt")), "001English caption\n");
        writeFile(dir.filePath(QStringLiteral("EnglishMsg.txt")), "008English message\n");
        writeFile(dir.filePath(QStringLiteral("KlingonMsg.txt")), "008Klingon message\n");
        const LanguageTexts texts = LanguageTexts::load(dir.path(), QStringLiteral("Klingon"));
        QCOMPARE(texts.screen(1).caption, QStringLiteral("English caption"));
        QCOMPARE(texts.message(8), QStringLiteral("Klingon message"));
        QCOMPARE(texts.warnings().size(), 1);

        // With no files at all the texts built into the program remain.
        QTemporaryDir empty;
        const LanguageTexts builtIn = LanguageTexts::load(empty.path(), QStringLiteral("Francais"));
        QVERIFY(!builtIn.message(Message::NoTempFolder).isEmpty());
        QVERIFY(!builtIn.message(Message::ReportViewRefused).isEmpty());
        QCOMPARE(builtIn.warnings().size(), 2);
    }

    void languageNameFromSettings_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("name");
        QTest::newRow("absent") << QString() << "English";
        QTest::newRow("empty") << ""
                               << "English";
        QTest::newRow("French") << "Francais"
                                << "Francais";
        QTest::newRow("user language") << "OtherLanguage"
                                       << "OtherLanguage";
    }
    void languageNameFromSettings()
    {
        QFETCH(QString, stored);
        QFETCH(QString, name);
        QTemporaryDir dir;
        SettingsStore settings(dir.filePath(QStringLiteral("Rotavine.ini")));
        if (!stored.isNull())
            QVERIFY(settings.write(QStringLiteral("PARAMETERS"), QStringLiteral("language"), stored));
        QCOMPARE(LanguageTexts::languageName(settings), name);
    }

    // The shipped files: every line loads, every language gives the same entries, and every number the
    // program names has a text.
    void shippedFiles_data()
    {
        QTest::addColumn<QString>("language");
        for (const char* language : {"English", "Francais", "Espanol", "Italiano"})
            QTest::newRow(language) << QString::fromLatin1(language);
    }
    void shippedFiles()
    {
        QFETCH(QString, language);
        const QString folder = QStringLiteral(ROTAVINE_SOURCE_DATA "/Language");
        const LanguageTexts texts = LanguageTexts::load(folder, language);
        QCOMPARE(texts.warnings(), QStringList());
        const LanguageTexts english = LanguageTexts::load(folder, QStringLiteral("English"));
        QCOMPARE(texts.screenCount(), english.screenCount());
        QCOMPARE(texts.messageCount(), english.messageCount());
        for (int i = 0; i < english.messageCount(); ++i)
            QCOMPARE(texts.message(i).isEmpty(), english.message(i).isEmpty());
        for (int i = 0; i < english.screenCount(); ++i) {
            QCOMPARE(texts.screen(i).caption.isEmpty(), english.screen(i).caption.isEmpty());
            QCOMPARE(texts.screen(i).tooltip.isEmpty(), english.screen(i).tooltip.isEmpty());
        }
        for (int number : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 29, 30, 31, 32, 41, 45, 46, 50, 51, 53, 54})
            QVERIFY2(!texts.message(number).isEmpty(), qPrintable(QString::number(number)));
        QVERIFY(texts.message(29).contains(QLatin1StringView("d"), Qt::CaseInsensitive));
    }
};

QTEST_GUILESS_MAIN(TestLanguageTexts)
#include "tst_languagetexts.moc"
