#include "base/languagetexts.h"
#include "base/programlanguage.h"
#include "base/settingsstore.h"
#include "base/textids.h"

#include <QFile>
#include <QMetaEnum>
#include <QTemporaryDir>
#include <QTest>

namespace {

void writeFiles(const QTemporaryDir& dir, const QList<QPair<QString, QByteArray>>& files)
{
    for (const auto& [name, content] : files) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
}

struct Line {
    const char* tag;
    QString file;
    int number;
    QString caption;
    QString tooltip;
    int tableSize; // negative when a bad line stopped the reading
};

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
        const QString x251(251, u'x');
        const Line lines[] = {
            {"caption and tooltip", "012Refresh;Reads the calendars again", 12, "Refresh",
             "Reads the calendars again", 14},
            {"only the first ; splits", "003a;b;c", 3, "a", "b;c", 5},
            {"tooltip only", "004;Just a tip", 4, "", "Just a tip", 6},
            {"no ;", "005Caption", 5, "Caption", "", 7},
            {"short line", "07", 7, "", "", 9},
            {"number with spaces", " 8 Eight", 8, "Eight", "", 10},
            {"later line wins", "001First\n001Second", 1, "Second", "", 3},
            {"crlf", "002Two;tip\r\n003Three\r\n", 2, "Two", "tip", 5},
            {"gaps stay empty", "001a\n002b\n005c", 4, "", "", 7},
            {"entry 999", "999Last", 999, "Last", "", 1001},
            {"caption cut at 255", "001" + QString(300, u'x'), 1, QString(255, u'x'), "", 3},
            {"; at character 255", "001" + x251 + ";tip", 1, x251, "tip", 3},
            {"tooltip cut at 255", "001c;" + QString(400, u't'), 1, "c", QString(255, u't'), 3},
            // A bad line stops the reading; what came before it stays.
            {"empty line", "001One\n\n002Two", 1, "One", "", -3},
            {"letters for a number", "001One\nabcTwo\n003Three", 1, "One", "", -3},
            {"negative number", "001One\n-01Minus", 1, "One", "", -3},
            {"blank number", "001One\n   Blank", 1, "One", "", -3},
            {"; after character 255", "001One\n002" + QString(253, u'x') + ";tip", 1, "One", "", -3},
            {"first line bad", "xx1One\n001One", 1, "", "", -2},
        };
        for (const Line& line : lines)
            QTest::newRow(line.tag) << line.file << line.number << line.caption << line.tooltip
                                    << line.tableSize;
    }
    void screenLines()
    {
        QFETCH(QString, file);
        QFETCH(int, number);
        QFETCH(int, tableSize);
        QString error;
        const QList<LanguageTexts::ScreenText> table = LanguageTexts::parseScreenFile(file, &error);
        QCOMPARE(error.isEmpty(), tableSize > 0); // a negative size: the reading stopped
        QCOMPARE(table.size(), qAbs(tableSize));
        QTEST(table.at(number).caption, "caption");
        QTEST(table.at(number).tooltip, "tooltip");
        if (tableSize < 0)
            QVERIFY(table.size() < 3 || table.at(2).caption.isEmpty());
    }

    void encodings_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("utf-8") << QByteArray("001Fran\303\247ais") << QString("001Français");
        QTest::newRow("utf-8 with BOM") << QByteArray("\357\273\277001x") << QString("001x");
        QTest::newRow("windows-1252")
            << QByteArray("001Fran\347ais \200 \223ok\224") << QString("001Français € “ok”");
    }
    void encodings()
    {
        QFETCH(QByteArray, bytes);
        QTEST(LanguageTexts::decode(bytes), "text");
    }

    void fallbacks()
    {
        // A damaged screen file does not cost the messages.
        QTemporaryDir dir;
        writeFiles(dir, {{"TestScr.txt", "001Caption\nbroken\n002Lost\n"},
                         {"TestMsg.txt", "008Test message\n031Private;busy\n009" + QByteArray(300, 'm')}});
        LanguageTexts texts = LanguageTexts::load(dir.path(), "Test");
        QCOMPARE(texts.screen(1).caption, QString("Caption"));
        QCOMPARE(texts.screen(2).caption, QString());
        QCOMPARE(texts.message(8), QString("Test message"));
        QCOMPARE(texts.message(31), QString("Private;busy")); // ";" is plain text in messages
        QCOMPARE(texts.message(9), QString(255, u'm'));
        QCOMPARE(texts.warnings().size(), 1);
        QVERIFY(texts.warnings().first().contains("TestScr.txt"));

        // A missing file falls back to English beside it...
        writeFiles(dir, {{"EnglishScr.txt", "001English caption\n"}});
        texts = LanguageTexts::load(dir.path(), "Test2");
        QCOMPARE(texts.screen(1).caption, QString("English caption"));
        QCOMPARE(texts.warnings().size(), 2); // the two files of Test2 are missing; EnglishMsg.txt too

        // ...and with no files at all the texts built into the program remain.
        QTemporaryDir empty;
        texts = LanguageTexts::load(empty.path(), "Francais");
        QVERIFY(!texts.message(Message::NoTempFolder).isEmpty());
        QCOMPARE(texts.warnings().size(), 2);

        // The language the settings name, English when they name none.
        SettingsStore settings(dir.filePath("Rotavine.ini"));
        QCOMPARE(LanguageTexts::languageName(settings), QString("English"));
        QVERIFY(settings.write("PARAMETERS", "language", " Francais "));
        QCOMPARE(LanguageTexts::languageName(settings), QString("Francais"));
    }

    // Every shipped language loads without a warning and gives a text for every number the program uses.
    void shippedLanguagesAreComplete_data()
    {
        QTest::addColumn<QString>("language");
        for (const char* language : {"English", "Francais", "Espanol", "Italiano"})
            QTest::newRow(language) << QString(language);
    }
    void shippedLanguagesAreComplete()
    {
        QFETCH(QString, language);
        const LanguageTexts texts = LanguageTexts::load(ROTAVINE_SOURCE_DATA "/Language", language);
        QCOMPARE(texts.warnings(), QStringList());
        QStringList missing;
        const QMetaEnum messages = QMetaEnum::fromType<Message::Id>();
        for (int i = 0; i < messages.keyCount(); ++i) {
            if (texts.message(messages.value(i)).isEmpty())
                missing << QString("message %1 (%2)").arg(messages.value(i)).arg(messages.key(i));
        }
        const QMetaEnum screenTexts = QMetaEnum::fromType<ScreenText::Id>();
        for (int i = 0; i < screenTexts.keyCount(); ++i) {
            const LanguageTexts::ScreenText text = texts.screen(screenTexts.value(i));
            if (text.caption.isEmpty() && text.tooltip.isEmpty())
                missing << QString("screen text %1 (%2)").arg(screenTexts.value(i)).arg(screenTexts.key(i));
        }
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(", ")));
    }
    // The program speaks the chosen language in its dates too: the system's locale when it speaks it, else
    // the language's home country; a language of the user's own keeps the system's.
    void localeOfTheLanguage_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("system");
        QTest::addColumn<QString>("locale");
        QTest::newRow("French on an American system") << "Francais"
                                                      << "en_US"
                                                      << "fr_FR";
        QTest::newRow("French on a Canadian French one") << "Francais"
                                                         << "fr_CA"
                                                         << "fr_CA";
        QTest::newRow("Italian, letter case") << "italiano"
                                              << "de_DE"
                                              << "it_IT";
        QTest::newRow("Spanish") << "Espanol"
                                 << "C"
                                 << "es_ES";
        QTest::newRow("English without a system language") << "English"
                                                           << "C"
                                                           << "C";
        QTest::newRow("English on a French system") << "English"
                                                    << "fr_FR"
                                                    << "en_GB";
        QTest::newRow("a language of one's own") << "OtherLanguage"
                                                 << "de_DE"
                                                 << "de_DE";
    }
    void localeOfTheLanguage()
    {
        QFETCH(QString, language);
        QFETCH(QString, system);
        QTEST(ProgramLanguage::localeFor(language, QLocale(system)).name(), "locale");
    }
};

QTEST_GUILESS_MAIN(TestLanguageTexts)
#include "tst_languagetexts.moc"
