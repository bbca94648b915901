#include "base/settingsstore.h"

#include <QCoreApplication>
#include <QDir>
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

bool writeAll(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// The child side of the two-process test: writes `count` keys "<prefix><i>" into one section.
int runWriter(const QString& path, const QString& prefix, int count)
{
    SettingsStore store(path);
    for (int i = 0; i < count; ++i) {
        if (!store.write("Shared", prefix + QString::number(i), QString::number(i)))
            return 1;
    }
    return 0;
}

} // namespace

class TestSettingsStore : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath("Rotavine.ini"); }

private slots:
    void init() { QFile::remove(path()); }

    // Names match without letter case; the stored order of keys and sections is kept.
    void editsKeepTheStoredOrder()
    {
        SettingsStore store(path());
        QCOMPARE(store.read("Filters", "Zulu", "default"), QString("default"));
        QVERIFY(!store.hasSection("Filters"));
        for (const char* name : {"Zulu", "alpha", "Mike", "Bravo"})
            QVERIFY(store.write("Filters", name, QString()));
        QVERIFY(store.write("Holidays", "Prior", "3"));
        QVERIFY(store.write("Other", "Prior", "4"));
        QVERIFY(store.write("Équipe", "Clé", "x"));
        QVERIFY(store.write("Filters", "ALPHA", "changed"));
        QVERIFY(store.remove("filters", "mike"));
        QVERIFY(store.remove("HOLIDAYS"));
        QVERIFY(store.remove("Absent") && store.remove("Other", "Absent")); // nothing to do

        SettingsStore reread(path());
        QCOMPARE(reread.list("FILTERS"),
                 (SettingsStore::Entries{{"Zulu", ""}, {"alpha", "changed"}, {"Bravo", ""}}));
        QVERIFY(!reread.hasSection("Holidays"));
        QCOMPARE(reread.read("équipe", "CLÉ", QString()), QString("x"));
        QCOMPARE(reread.read("Other", "Prior", QString()), QString("4"));
        // A store sees what another one saved.
        QVERIFY(reread.write("Other", "Prior", "5"));
        QCOMPARE(store.read("Other", "Prior", QString()), QString("5"));
    }

    void anyTextSurvivesARoundTrip_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        const char* rows[][4] = {{"equals signs", "Filters", "a=b", "x=y=z"},
                                 {"brackets", "[odd] name", "[key]", "[value]"},
                                 {"comment marks", "Filters", ";not a comment", "#nor this"},
                                 {"edge spaces", " spaced ", "  key ", " value  "},
                                 {"line breaks", "Team", "multi\nline", "one\r\ntwo\tthree"},
                                 {"backslashes", "C:\\dir", "a\\b", "\\\\server\\share\\"},
                                 {"escape lookalikes", "Team", "\\n", "\\s\\x41"},
                                 {"unicode", "Équipe été", "Réunion", "日本語 ✓"},
                                 {"empty value", "Filters", "Empty", ""}};
        for (const auto& row : rows)
            QTest::newRow(row[0]) << QString(row[1]) << QString(row[2]) << QString(row[3]);
    }
    void anyTextSurvivesARoundTrip()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QVERIFY(SettingsStore(path()).write(section, key, value));
        QVERIFY(SettingsStore(path()).write("After", "k", "v"));
        SettingsStore reread(path());
        QCOMPARE(reread.list(section), (SettingsStore::Entries{{key, value}}));
        QCOMPARE(reread.read("After", "k", QString()), QString("v"));
    }

    // A write keeps every line the store does not understand, byte for byte, and adds its key after the
    // section's last entry.
    void unknownLinesAreKept()
    {
        const QByteArray before =
            "; written by hand\nstray line\n[Parameters]\n# a comment\nLanguage = Francais\n";
        const QByteArray after = "no equals sign here\n\n[Filters]\r\nHolidays=\r\n";
        QVERIFY(writeAll(path(), before + after));
        SettingsStore store(path());
        QCOMPARE(store.read("Parameters", "Language", QString()), QString("Francais"));
        QVERIFY(store.write("Parameters", "HeightCol", "80"));
        QCOMPARE(readAll(path()), before + "HeightCol=80\n" + after);
    }

    void damagedFilesLoadWhatTheyCan_data()
    {
        QTest::addColumn<QByteArray>("content");
        const QDir corpus(ROTAVINE_TEST_DATA "/settings/damaged");
        for (const QString& name : corpus.entryList(QDir::Files))
            QTest::newRow(qPrintable(name)) << readAll(corpus.filePath(name));
        QTest::newRow("1 MB line") << "[Parameters]\nLanguage=Italiano\nJunk=" + QByteArray(1 << 20, 'x') +
                                          "\n[Filters]\nA=\n";
    }
    void damagedFilesLoadWhatTheyCan()
    {
        QFETCH(QByteArray, content);
        QVERIFY(!content.isEmpty() && writeAll(path(), content));
        SettingsStore store(path());
        QCOMPARE(store.read("Parameters", "Language", QString()), QString("Italiano"));
        QCOMPARE(store.list("Filters").size(), 1);
        // A change elsewhere keeps the damaged bytes as they were.
        QVERIFY(store.write("New", "k", "v"));
        QVERIFY(readAll(path()).startsWith(content.endsWith('\n') ? content : content + '\n'));
    }

    void savedPrivatelyAndAtomically()
    {
        const QString nested = m_dir.filePath("fresh/config/Rotavine.ini");
        QVERIFY(SettingsStore(nested).write("Parameters", "Language", "English"));
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(nested).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);
        // No temporary or lock file is left behind.
        QCOMPARE(QDir(m_dir.filePath("fresh/config")).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"Rotavine.ini"});

        // A folder where the file should be cannot be read: the write is refused and nothing is lost.
        QVERIFY(QDir(m_dir.path()).mkpath("blocked.ini"));
        SettingsStore blocked(m_dir.filePath("blocked.ini"));
        QVERIFY(!blocked.write("Parameters", "Language", "x"));
        QVERIFY(!blocked.errorString().isEmpty());
        QVERIFY(QFileInfo(m_dir.filePath("blocked.ini")).isDir());
    }

    void twoProcessesLoseNoChange()
    {
        const int count = 150;
        QProcess processes[2];
        for (int i = 0; i < 2; ++i)
            processes[i].start(
                QCoreApplication::applicationFilePath(),
                {"--settings-writer", path(), i == 0 ? "window" : "scheduled", QString::number(count)});
        for (QProcess& process : processes) {
            QVERIFY(process.waitForFinished(120000));
            QCOMPARE(process.exitCode(), 0);
        }
        const SettingsStore::Entries entries = SettingsStore(path()).list("Shared");
        QCOMPARE(entries.size(), 2 * count);
        QVERIFY(entries.contains({"window0", "0"}) && entries.contains({"scheduled149", "149"}));
    }
};

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    if (argc == 5 && qstrcmp(argv[1], "--settings-writer") == 0)
        return runWriter(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), atoi(argv[4]));
    TestSettingsStore test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settingsstore.moc"
