#include "base/settingsstore.h"
#include "planning/filterlist.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

// The child side of the two-process test: writes `count` keys "<prefix><i>" into one section.
int runWriter(const QString& path, const QString& prefix, int count)
{
    SettingsStore store(path);
    for (int i = 0; i < count; ++i) {
        if (!store.write(QStringLiteral("Shared"), prefix + QString::number(i), QString::number(i)))
            return 1;
    }
    return 0;
}

} // namespace

class TestSettingsStore : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const char* name = "Rotavine.ini") const { return m_dir.filePath(QLatin1StringView(name)); }

private slots:
    void init() { QFile::remove(path()); }

    void namesMatchWithoutCase_data()
    {
        QTest::addColumn<QString>("writtenSection");
        QTest::addColumn<QString>("writtenKey");
        QTest::addColumn<QString>("readSection");
        QTest::addColumn<QString>("readKey");
        QTest::newRow("filter colour") << "Blue team"
                                       << "ColorHtml"
                                       << "Blue team"
                                       << "Colorhtml";
        QTest::newRow("automatic delay") << "Parameters"
                                         << "AutomaticDelay"
                                         << "Parameters"
                                         << "Automaticdelay";
        QTest::newRow("end hour") << "Parameters"
                                  << "EndDayHour"
                                  << "parameters"
                                  << "enddayhour";
        QTest::newRow("accented") << "Équipe"
                                  << "Clé"
                                  << "ÉQUIPE"
                                  << "clé";
    }
    void namesMatchWithoutCase()
    {
        QFETCH(QString, writtenSection);
        QFETCH(QString, writtenKey);
        QFETCH(QString, readSection);
        QFETCH(QString, readKey);
        SettingsStore store(path());
        QVERIFY(store.write(writtenSection, writtenKey, QStringLiteral("value")));
        QCOMPARE(SettingsStore(path()).read(readSection, readKey, QStringLiteral("default")),
                 QStringLiteral("value"));
        // Rewriting under another spelling changes the one key, it does not add a second.
        QVERIFY(store.write(readSection, readKey, QStringLiteral("again")));
        QCOMPARE(store.list(writtenSection).size(), 1);
        QCOMPARE(store.read(writtenSection, writtenKey, QString()), QStringLiteral("again"));
    }

    void defaultsOnAbsence()
    {
        SettingsStore store(path());
        QCOMPARE(store.read(QStringLiteral("Parameters"), QStringLiteral("HeightCol"), QStringLiteral("60")),
                 QStringLiteral("60"));
        QVERIFY(store.list(QStringLiteral("Filters")).isEmpty());
        QVERIFY(!store.hasSection(QStringLiteral("Filters")));
        QVERIFY(store.write(QStringLiteral("Parameters"), QStringLiteral("Language"),
                            QStringLiteral("Francais")));
        QCOMPARE(store.read(QStringLiteral("Parameters"), QStringLiteral("HeightCol"), QStringLiteral("60")),
                 QStringLiteral("60"));
        QCOMPARE(store.readInt(QStringLiteral("Nowhere"), QStringLiteral("x"), 7), 7);
    }

    void keysKeepTheirStoredOrder()
    {
        SettingsStore store(path());
        const QStringList names = {QStringLiteral("Zulu"), QStringLiteral("alpha"), QStringLiteral("Mike"),
                                   QStringLiteral("Bravo")};
        for (const QString& name : names)
            QVERIFY(store.write(QStringLiteral("Filters"), name, QString()));
        QVERIFY(store.write(QStringLiteral("Filters"), QStringLiteral("ALPHA"), QStringLiteral("changed")));
        QVERIFY(store.remove(QStringLiteral("filters"), QStringLiteral("mike")));

        QStringList stored;
        for (const auto& [key, value] : SettingsStore(path()).list(QStringLiteral("FILTERS")))
            stored << key;
        QCOMPARE(stored,
                 (QStringList{QStringLiteral("Zulu"), QStringLiteral("alpha"), QStringLiteral("Bravo")}));
    }

    void deletes()
    {
        SettingsStore store(path());
        QVERIFY(store.write(QStringLiteral("Filters"), QStringLiteral("Holidays"), QString()));
        QVERIFY(store.write(QStringLiteral("Holidays"), QStringLiteral("Prior"), QStringLiteral("3")));
        QVERIFY(store.write(QStringLiteral("Other"), QStringLiteral("Prior"), QStringLiteral("4")));

        QVERIFY(store.remove(QStringLiteral("holidays")));
        QVERIFY(store.remove(QStringLiteral("filters"), QStringLiteral("HOLIDAYS")));
        QVERIFY(store.remove(QStringLiteral("Absent")));                          // nothing to do
        QVERIFY(store.remove(QStringLiteral("Other"), QStringLiteral("Absent"))); // nothing to do

        SettingsStore reread(path());
        QVERIFY(!reread.hasSection(QStringLiteral("Holidays")));
        QVERIFY(reread.list(QStringLiteral("Filters")).isEmpty());
        QCOMPARE(reread.read(QStringLiteral("Other"), QStringLiteral("Prior"), QString()),
                 QStringLiteral("4"));
    }

    void anyTextSurvivesARoundTrip_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("equals signs") << "Filters"
                                      << "a=b"
                                      << "x=y=z";
        QTest::newRow("brackets") << "[odd] name"
                                  << "[key]"
                                  << "[value]";
        QTest::newRow("comment marks") << "Filters"
                                       << ";not a comment"
                                       << "#nor this";
        QTest::newRow("edge spaces") << " spaced "
                                     << "  key "
                                     << " value  ";
        QTest::newRow("line breaks") << "Team"
                                     << "multi\nline"
                                     << "one\r\ntwo\tthree";
        QTest::newRow("backslashes") << "C:\\dir"
                                     << "a\\b"
                                     << "\\\\server\\share\\";
        QTest::newRow("escape lookalikes") << "Team"
                                           << "\\n"
                                           << "\\s\\x41";
        QTest::newRow("unicode") << "Équipe été"
                                 << "Réunion"
                                 << "日本語 ✓";
        QTest::newRow("empty value") << "Filters"
                                     << "Empty"
                                     << "";
    }
    void anyTextSurvivesARoundTrip()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QVERIFY(SettingsStore(path()).write(section, key, value));
        QVERIFY(
            SettingsStore(path()).write(QStringLiteral("After"), QStringLiteral("k"), QStringLiteral("v")));
        SettingsStore reread(path());
        QCOMPARE(reread.read(section, key, QStringLiteral("<absent>")), value);
        QCOMPARE(reread.list(section).size(), 1);
        QCOMPARE(reread.read(QStringLiteral("After"), QStringLiteral("k"), QString()), QStringLiteral("v"));
    }

    void unknownLinesAreKept()
    {
        const QByteArray original = "; written by hand\n"
                                    "stray line before any section\n"
                                    "[Parameters]\n"
                                    "# a comment\n"
                                    "Language = Francais\n"
                                    "no equals sign here\n"
                                    "\n"
                                    "[Filters]\r\n"
                                    "Holidays=\r\n";
        writeAll(path(), original);
        SettingsStore store(path());
        QCOMPARE(store.read(QStringLiteral("Parameters"), QStringLiteral("Language"), QString()),
                 QStringLiteral("Francais"));
        QVERIFY(store.write(QStringLiteral("Parameters"), QStringLiteral("HeightCol"), QStringLiteral("80")));
        QCOMPARE(readAll(path()), QByteArray("; written by hand\n"
                                             "stray line before any section\n"
                                             "[Parameters]\n"
                                             "# a comment\n"
                                             "Language = Francais\n"
                                             "HeightCol=80\n"
                                             "no equals sign here\n"
                                             "\n"
                                             "[Filters]\r\n"
                                             "Holidays=\r\n"));
    }

    void unconvertibleValuesGiveTheDefault_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("expected");
        QTest::newRow("letters") << "abc" << 60;
        QTest::newRow("empty") << "" << 60;
        QTest::newRow("too big for a byte") << "300" << 60;
        QTest::newRow("negative") << "-1" << 60;
        QTest::newRow("fraction") << "12.5" << 60;
        QTest::newRow("spaces around") << " 120 " << 120;
        QTest::newRow("largest byte") << "255" << 255;
    }
    void unconvertibleValuesGiveTheDefault()
    {
        QFETCH(QString, stored);
        QFETCH(int, expected);
        SettingsStore store(path());
        QVERIFY(store.write(QStringLiteral("Parameters"), QStringLiteral("HeightCol"), stored));
        QCOMPARE(store.readInt(QStringLiteral("Parameters"), QStringLiteral("HeightCol"), 60, 0, 255),
                 expected);
        QCOMPARE(store.read(QStringLiteral("Parameters"), QStringLiteral("HeightCol"), QString()), stored);
    }

    void damagedFilesLoadWhatTheyCan_data()
    {
        QTest::addColumn<QByteArray>("content");
        QByteArray binary;
        for (int i = 0; i < 4096; ++i)
            binary += char((i * 7919) & 0xFF);
        QTest::newRow("binary blob") << "[Parameters]\nLanguage=Italiano\n" + binary + "\n[Filters]\nA=\n";
        QTest::newRow("1 MB line") << "[Parameters]\nLanguage=Italiano\nJunk=" + QByteArray(1 << 20, 'x') +
                                          "\n[Filters]\nA=\n";
        QTest::newRow("no newline at end") << QByteArray("[Parameters]\nLanguage=Italiano\n[Filters]\nA=");
        QTest::newRow("unterminated header") << QByteArray("[Parameters\nLanguage=x\n[Parameters]\n"
                                                           "Language=Italiano\n[Filters]\nA=\n");
        QTest::newRow("invalid UTF-8") << QByteArray("[Parameters]\nLanguage=Italiano\nK\xff\xfe=\xc3\n"
                                                     "[Filters]\nA=\n");
    }
    void damagedFilesLoadWhatTheyCan()
    {
        QFETCH(QByteArray, content);
        writeAll(path(), content);
        SettingsStore store(path());
        QCOMPARE(store.read(QStringLiteral("Parameters"), QStringLiteral("Language"), QString()),
                 QStringLiteral("Italiano"));
        QCOMPARE(store.list(QStringLiteral("Filters")).size(), 1);
        // A change elsewhere keeps the damaged bytes as they were.
        QVERIFY(store.write(QStringLiteral("New"), QStringLiteral("k"), QStringLiteral("v")));
        QVERIFY(readAll(path()).startsWith(content.endsWith('\n') ? content : content + '\n'));
    }

    void savedPrivatelyAndAtomically()
    {
        const QString nested = m_dir.filePath(QStringLiteral("fresh/config/Rotavine.ini"));
        SettingsStore store(nested);
        QVERIFY(
            store.write(QStringLiteral("Parameters"), QStringLiteral("Language"), QStringLiteral("English")));
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(nested).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);
        QCOMPARE(QDir(m_dir.filePath(QStringLiteral("fresh/config"))).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("Rotavine.ini")}); // no temporary or lock file left behind
    }

    void unreadableFileIsNeverOverwritten()
    {
        // A folder where the file should be cannot be read: the write is refused and nothing is lost.
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("blocked.ini")));
        SettingsStore store(path("blocked.ini"));
        QVERIFY(!store.write(QStringLiteral("Parameters"), QStringLiteral("Language"), QStringLiteral("x")));
        QVERIFY(!store.errorString().isEmpty());
        QVERIFY(QFileInfo(path("blocked.ini")).isDir());
        QCOMPARE(store.read(QStringLiteral("Parameters"), QStringLiteral("Language"), QStringLiteral("d")),
                 QStringLiteral("d"));
    }

    void readsSeeAnotherStoresSaves()
    {
        SettingsStore window(path());
        QCOMPARE(window.read(QStringLiteral("Parameters"), QStringLiteral("SelectedTeam"), QString()),
                 QString());
        QVERIFY(SettingsStore(path()).write(QStringLiteral("Parameters"), QStringLiteral("SelectedTeam"),
                                            QStringLiteral("Support")));
        QCOMPARE(window.read(QStringLiteral("Parameters"), QStringLiteral("SelectedTeam"), QString()),
                 QStringLiteral("Support"));
    }

    void twoProcessesLoseNoChange()
    {
        const int count = 150;
        QProcess first;
        QProcess second;
        const QString program = QCoreApplication::applicationFilePath();
        first.start(program, {QStringLiteral("--settings-writer"), path(), QStringLiteral("window"),
                              QString::number(count)});
        second.start(program, {QStringLiteral("--settings-writer"), path(), QStringLiteral("scheduled"),
                               QString::number(count)});
        QVERIFY(first.waitForFinished(120000));
        QVERIFY(second.waitForFinished(120000));
        QCOMPARE(first.exitCode(), 0);
        QCOMPARE(second.exitCode(), 0);

        const SettingsStore::Entries entries = SettingsStore(path()).list(QStringLiteral("Shared"));
        QCOMPARE(entries.size(), 2 * count);
        for (int i = 0; i < count; ++i) {
            QCOMPARE(
                SettingsStore(path()).read(QStringLiteral("Shared"), QStringLiteral("window%1").arg(i), {}),
                QString::number(i));
            QCOMPARE(SettingsStore(path()).read(QStringLiteral("Shared"),
                                                QStringLiteral("scheduled%1").arg(i), {}),
                     QString::number(i));
        }
    }

    void filterListLoading_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QList<bool>>("selected");
        QTest::newRow("no Filters section")
            << QByteArray("[Parameters]\nLanguage=English\n") << QStringList{} << QList<bool>{};
        QTest::newRow("stored order and state")
            << QByteArray("[Filters]\nVisits=\nHolidays=\nTraining=\n"
                          "[visits]\nSelected=1\n[HOLIDAYS]\nselected=0\n[Training]\nPrior=3\n")
            << QStringList{QStringLiteral("Visits"), QStringLiteral("Holidays"), QStringLiteral("Training")}
            << QList<bool>{true, false, false};
        QTest::newRow("selected is compared as text")
            << QByteArray("[Filters]\nA=\nB=\n[A]\nSelected=01\n[B]\nSelected= 1 \n")
            << QStringList{QStringLiteral("A"), QStringLiteral("B")} << QList<bool>{false, true};
    }
    void filterListLoading()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, names);
        QFETCH(QList<bool>, selected);
        writeAll(path(), content);
        const QList<FilterListEntry> filters = loadFilterList(SettingsStore(path()));
        QStringList loadedNames;
        QList<bool> loadedSelected;
        for (const FilterListEntry& filter : filters) {
            loadedNames << filter.name;
            loadedSelected << filter.selected;
        }
        QCOMPARE(loadedNames, names);
        QCOMPARE(loadedSelected, selected);
    }

    void moreThan255FiltersAllLoad()
    {
        QByteArray content = "[Filters]\n";
        for (int i = 0; i < 300; ++i)
            content += "Filter " + QByteArray::number(i) + "=\n";
        content += "[Filter 299]\nSelected=1\n";
        writeAll(path(), content);
        const QList<FilterListEntry> filters = loadFilterList(SettingsStore(path()));
        QCOMPARE(filters.size(), 300);
        QCOMPARE(filters.at(256).name, QStringLiteral("Filter 256"));
        QVERIFY(filters.at(299).selected);
        QVERIFY(!filters.at(43).selected);
    }
};

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    if (argc == 5 && qstrcmp(argv[1], "--settings-writer") == 0)
        return runWriter(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                         QByteArray(argv[4]).toInt());
    TestSettingsStore test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settingsstore.moc"
