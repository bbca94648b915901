#include "base/programstate.h"
#include "base/settingsstore.h"
#include "base/tempfolder.h"
#include "gui/windowsettings.h"
#include "planning/enginestate.h"
#include "planning/planningmatrix.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

class TestStartup : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString privateName() const { return QStringLiteral("rotavine-%1").arg(::geteuid()); }

private slots:
    void tempFolderRules_data()
    {
        QTest::addColumn<QString>("temp");
        QTest::addColumn<QString>("tmp");
        QTest::addColumn<QString>("tmpdir");
        QTest::addColumn<QString>("chosen"); // "temp", "tmp", "tmpdir" or "platform"
        QTest::newRow("temp") << "T"
                              << ""
                              << ""
                              << "temp";
        QTest::newRow("one-character temp falls to tmp") << "x"
                                                         << "T"
                                                         << ""
                                                         << "tmp";
        QTest::newRow("temp with trailing separator") << "T/"
                                                      << ""
                                                      << ""
                                                      << "temp";
        QTest::newRow("neither: TMPDIR") << ""
                                         << ""
                                         << "T"
                                         << "tmpdir";
        QTest::newRow("short tmp: TMPDIR") << ""
                                           << "y"
                                           << "T"
                                           << "tmpdir";
        QTest::newRow("nothing set: platform") << ""
                                               << ""
                                               << ""
                                               << "platform";
    }
    void tempFolderRules()
    {
        QFETCH(QString, temp);
        QFETCH(QString, tmp);
        QFETCH(QString, tmpdir);
        QFETCH(QString, chosen);
        // "T" stands for a real folder of the test's own.
        const QString base =
            m_dir.filePath(QStringLiteral("base-") + QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(base));
        auto expand = [&](QString value) { return value.replace(QStringLiteral("T"), base); };
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("temp"), expand(temp));
        environment.insert(QStringLiteral("tmp"), expand(tmp));
        environment.insert(QStringLiteral("TMPDIR"), expand(tmpdir));
        const QString platform =
            chosen == QLatin1StringView("platform") ? base : m_dir.filePath(QStringLiteral("no"));

        const TempFolder::Result result = TempFolder::find(environment, platform);
        QCOMPARE(result.error, QString());
        QCOMPARE(result.folder, base + u'/' + privateName() + u'/');
        struct stat info {};
        QCOMPARE(::lstat(QFile::encodeName(result.folder).constData(), &info), 0);
        QVERIFY(S_ISDIR(info.st_mode));
        QCOMPARE(info.st_mode & 0777, 0700u);
    }

    void tempFolderWidenedModeIsTightened()
    {
        const QString base = m_dir.filePath(QStringLiteral("widened"));
        QVERIFY(QDir().mkpath(base + u'/' + privateName()));
        QVERIFY(::chmod(QFile::encodeName(base + u'/' + privateName()).constData(), 0777) == 0);
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("TMPDIR"), base);
        const TempFolder::Result result = TempFolder::find(environment, QString());
        QVERIFY(!result.folder.isEmpty());
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(result.folder).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0700u);
    }

    void tempFolderRefusals()
    {
        // A link planted where the private folder goes is never followed.
        const QString linked = m_dir.filePath(QStringLiteral("linked"));
        QVERIFY(QDir().mkpath(linked));
        QVERIFY(QFile::link(m_dir.path(), linked + u'/' + privateName()));
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("TMPDIR"), linked);
        TempFolder::Result result = TempFolder::find(environment, QString());
        QCOMPARE(result.folder, QString());
        QVERIFY(result.error.contains(QStringLiteral("link")));

        // A file in its place.
        const QString blocked = m_dir.filePath(QStringLiteral("blocked"));
        QVERIFY(QDir().mkpath(blocked));
        QFile file(blocked + u'/' + privateName());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        environment.insert(QStringLiteral("TMPDIR"), blocked);
        result = TempFolder::find(environment, QString());
        QCOMPARE(result.folder, QString());
        QVERIFY(!result.error.isEmpty());

        // Another user's folder (only root can make one here).
        if (::geteuid() == 0) {
            const QString foreign = m_dir.filePath(QStringLiteral("foreign"));
            QVERIFY(QDir().mkpath(foreign + u'/' + privateName()));
            QVERIFY(::chown(QFile::encodeName(foreign + u'/' + privateName()).constData(), 65534, 65534) ==
                    0);
            environment.insert(QStringLiteral("TMPDIR"), foreign);
            result = TempFolder::find(environment, QString());
            QCOMPARE(result.folder, QString());
            QVERIFY(result.error.contains(QStringLiteral("another user")));
        }

        // Nothing at all.
        result = TempFolder::find(QProcessEnvironment(), QString());
        QCOMPARE(result.folder, QString());
        QVERIFY(!result.error.isEmpty());
    }

    void fitToSix_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("fitted");
        QTest::newRow("exact") << "C4C400"
                               << "C4C400";
        QTest::newRow("four characters padded") << "C4C4"
                                                << "C4C4  ";
        QTest::newRow("ten characters cut") << "0123456789"
                                            << "012345";
        QTest::newRow("empty") << ""
                               << "      ";
    }
    void fitToSix()
    {
        QFETCH(QString, stored);
        QFETCH(QString, fitted);
        QCOMPARE(fitHtmlColour(stored), fitted);
    }

    void windowSettings_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<double>("defaultColor");
        QTest::addColumn<QString>("defaultColorHtml");
        QTest::addColumn<int>("heightCol");
        QTest::addColumn<int>("atRunAction");
        QTest::addColumn<int>("startHour");
        QTest::addColumn<int>("endHour");
        QTest::addColumn<int>("automaticDelay");
        QTest::addColumn<QList<bool>>("checked");
        const QList<bool> none(6, false);
        QTest::newRow("nothing stored")
            << QByteArray() << 50372.0 << "C4C400" << 60 << 0 << 8 << 17 << 0 << none;
        QTest::newRow("delay written in another case")
            << QByteArray("[Parameters]\nAutomaticDelay=5\n") << 50372.0 << "C4C400" << 60 << 0 << 8 << 17
            << 5 << none;
        QTest::newRow("all set") << QByteArray("[parameters]\nDefaultColor=255\nDefaultColorHTML=FF0000\n"
                                               "HeightCol=80\nAtRunAction=4\nStartDayHour=7\nEndDayHour=19\n"
                                               "Checked0=1\nChecked3=1\nChecked5=1\n")
                                 << 255.0 << "FF0000" << 80 << 4 << 7 << 19 << 0
                                 << QList<bool>{true, false, false, true, false, true};
        QTest::newRow("unconvertible values")
            << QByteArray("[Parameters]\nDefaultColor=blue\nHeightCol=wide\nAtRunAction=300\n"
                          "StartDayHour=-1\nAutomaticDelay=99999\nChecked1=yes\nDefaultColorHTML=C4C4\n")
            << 50372.0 << "C4C4  " << 60 << 0 << 8 << 17 << 0 << none;
    }
    void windowSettings()
    {
        QFETCH(QByteArray, content);
        QFETCH(double, defaultColor);
        QFETCH(QString, defaultColorHtml);
        QFETCH(int, heightCol);
        QFETCH(int, atRunAction);
        QFETCH(int, startHour);
        QFETCH(int, endHour);
        QFETCH(int, automaticDelay);
        QFETCH(QList<bool>, checked);
        const QString path = m_dir.filePath(QStringLiteral("window-%1.ini").arg(QTest::currentDataTag()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();

        ProgramState program;
        EngineState engine;
        const auto boxes = loadWindowSettings(SettingsStore(path), program, engine);
        QCOMPARE(engine.defaultColour, defaultColor);
        QCOMPARE(engine.defaultColourHtml, defaultColorHtml);
        QCOMPARE(int(program.reportColumnWidth), heightCol);
        QCOMPARE(int(program.startAction), atRunAction);
        QCOMPARE(int(program.dayStartHour), startHour);
        QCOMPARE(int(program.dayEndHour), endHour);
        QCOMPARE(int(program.refreshDelay), automaticDelay);
        QCOMPARE(QList<bool>(boxes.begin(), boxes.end()), checked);
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
