#include "app/mailboxsource.h"
#include "app/settingsstore.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestMailboxSource : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString folder(const QString& name)
    {
        const QString path = m_dir.filePath(name);
        QDir().mkpath(path);
        return path;
    }

private slots:
    void choice_data()
    {
        QTest::addColumn<QString>("commandLine"); // "" / "good" / "missing"
        QTest::addColumn<QString>("configured");
        QTest::addColumn<QString>("expected"); // "good", "configured", "demo" or "error"
        QTest::newRow("command line wins") << "good"
                                           << "configured"
                                           << "good";
        QTest::newRow("settings") << ""
                                  << "configured"
                                  << "configured";
        QTest::newRow("nothing: the demo") << ""
                                           << ""
                                           << "demo";
        QTest::newRow("missing folder is an error, not the demo") << "missing"
                                                                  << ""
                                                                  << "error";
        QTest::newRow("missing configured folder") << ""
                                                   << "missing"
                                                   << "error";
    }
    void choice()
    {
        QFETCH(QString, commandLine);
        QFETCH(QString, configured);
        QFETCH(QString, expected);
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        SettingsStore settings(m_dir.filePath(tag + ".ini"));
        auto pathFor = [&](const QString& name) {
            return name.isEmpty()      ? QString()
                   : name == "missing" ? m_dir.filePath("nowhere")
                                       : folder(tag + "/" + name);
        };
        if (!configured.isEmpty())
            QVERIFY(settings.write("source", "path", pathFor(configured)));
        const MailboxSource source =
            chooseMailboxSource(settings, pathFor(commandLine), ROTAVINE_SOURCE_DATA "/demo-mailbox",
                                m_dir.filePath(tag + "/data"));
        if (expected == "error") {
            QVERIFY(source.path.isEmpty());
            QVERIFY(source.error.contains("nowhere"));
        }
        else if (expected == "demo") {
            QCOMPARE(source.kind, MailboxSource::Demo);
            QCOMPARE(source.path, m_dir.filePath(tag + "/data/demo-mailbox"));
            QVERIFY(QFile::exists(source.path + "/contacts/Rotavine"));
        }
        else {
            QCOMPARE(source.kind, MailboxSource::Folder);
            QCOMPARE(source.path, m_dir.filePath(tag + "/" + expected));
        }
    }

    void demoCopiedOnceAndWhole()
    {
        const QString data = folder("once");
        SettingsStore settings(m_dir.filePath("once.ini"));
        const QString shipped = ROTAVINE_SOURCE_DATA "/demo-mailbox";
        const MailboxSource first = chooseMailboxSource(settings, {}, shipped, data);
        QCOMPARE(first.error, QString());
        int shippedFiles = 0;
        for (QDirIterator it(shipped, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();
             it.next())
            ++shippedFiles;
        int copiedFiles = 0;
        for (QDirIterator it(first.path, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
             it.hasNext(); it.next())
            ++copiedFiles;
        QCOMPARE(copiedFiles, shippedFiles);
        // The user's changes survive later starts: the copy is not made again.
        QFile mine(first.path + "/contacts/mine.vcf");
        QVERIFY(mine.open(QIODevice::WriteOnly));
        mine.close();
        const MailboxSource second = chooseMailboxSource(settings, {}, shipped, data);
        QVERIFY(QFile::exists(second.path + "/contacts/mine.vcf"));
        QCOMPARE(QDir(data).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"demo-mailbox"});
    }

    void failedCopyLeavesNothing()
    {
        const QString target = m_dir.filePath("failed/demo-mailbox");
        QVERIFY(!copyFolderTree(m_dir.filePath("no-such-source"), target).isEmpty());
        QVERIFY(!QFileInfo::exists(target));
        // A target that exists already is never mixed with a copy; the staging folder goes away.
        QDir().mkpath(m_dir.filePath("taken/demo-mailbox/x"));
        QVERIFY(!copyFolderTree(ROTAVINE_SOURCE_DATA "/demo-mailbox", m_dir.filePath("taken/demo-mailbox"))
                     .isEmpty());
        QCOMPARE(QDir(m_dir.filePath("taken")).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"demo-mailbox"});
    }
};

QTEST_GUILESS_MAIN(TestMailboxSource)
#include "tst_mailboxsource.moc"
