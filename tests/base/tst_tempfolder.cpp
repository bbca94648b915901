#include "base/tempfolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

class TestTempFolder : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    // temp, tmp, TMPDIR and the platform's folder ("T" is a real folder), what is already where the private
    // folder goes, and a part of the error (none: the folder is used).
    void find_data()
    {
        QTest::addColumn<QStringList>("row");
        QTest::newRow("temp") << QStringList{"T", "", "", "", "", ""};
        QTest::newRow("one-character temp falls to tmp") << QStringList{"x", "T", "", "", "", ""};
        QTest::newRow("temp with trailing separator") << QStringList{"T/", "", "", "", "", ""};
        QTest::newRow("neither: TMPDIR") << QStringList{"", "", "T", "", "", ""};
        QTest::newRow("short tmp: TMPDIR") << QStringList{"", "y", "T", "", "", ""};
        QTest::newRow("nothing set: platform") << QStringList{"", "", "", "T", "", ""};
        QTest::newRow("nothing at all") << QStringList{"", "", "", "", "", "no folder"};
        QTest::newRow("a folder open to all is made private") << QStringList{"", "", "T", "", "open", ""};
        QTest::newRow("a link") << QStringList{"", "", "T", "", "link", "is a link"};
        QTest::newRow("a file") << QStringList{"", "", "T", "", "file", "not a folder"};
        QTest::newRow("another user's folder") << QStringList{"", "", "T", "", "foreign", "another user"};
    }
    void find()
    {
        QFETCH(QStringList, row);
        QStringList values = row.mid(0, 4);
        const QString planted = row[4];
        const QString error = row[5];
        const QString base = m_dir.filePath(QTest::currentDataTag());
        const QString folder = base + QString("/rotavine-%1").arg(::geteuid());
        const QByteArray native = QFile::encodeName(folder);
        QVERIFY(QDir().mkpath(base));
        if (planted == "open")
            QVERIFY(QDir().mkpath(folder) && ::chmod(native.constData(), 0777) == 0);
        else if (planted == "link")
            QVERIFY(QFile::link(m_dir.path(), folder));
        else if (planted == "file")
            QVERIFY(QFile(folder).open(QIODevice::WriteOnly));
        else if (planted == "foreign" && ::geteuid() != 0)
            QSKIP("only root can make another user's folder");
        else if (planted == "foreign")
            QVERIFY(QDir().mkpath(folder) && ::chown(native.constData(), 65534, 65534) == 0);
        values.replaceInStrings("T", base);
        QProcessEnvironment environment;
        environment.insert("temp", values[0]);
        environment.insert("tmp", values[1]);
        environment.insert("TMPDIR", values[2]);

        const TempFolder::Result result = TempFolder::find(environment, values[3]);
        QVERIFY2(result.error.contains(error) && result.error.isEmpty() == error.isEmpty(),
                 qPrintable(result.error));
        QCOMPARE(result.folder, error.isEmpty() ? folder + '/' : QString());
        // The folder used is a real folder of ours with mode 0700.
        struct stat info {};
        QCOMPARE(::lstat(native.constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
                     (info.st_mode & 0777) == 0700,
                 error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestTempFolder)
#include "tst_tempfolder.moc"
