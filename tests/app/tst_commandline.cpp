#include "app/commandline.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using Action = CommandLine::Action;

class TestCommandLine : public QObject {
    Q_OBJECT

private slots:
    // Each case gives a classic text or the arguments after the program's name, and the fields it expects;
    // a field it does not name is not checked.
    void cases_data()
    {
        QTest::addColumn<QJsonObject>("expected");
        QFile file(ROTAVINE_TEST_DATA "/commandline/cases.json");
        QVERIFY(file.open(QIODevice::ReadOnly));
        for (const QJsonValue& value : QJsonDocument::fromJson(file.readAll()).array())
            QTest::newRow(qPrintable(value["name"].toString())) << value.toObject();
    }
    void cases()
    {
        QFETCH(QJsonObject, expected);
        CommandLine line;
        if (expected.contains("classic"))
            CommandLineParser::parseClassic(expected["classic"].toString(), line);
        else
            line = CommandLineParser::parse(expected["args"].toVariant().toStringList());
        const QStringList actions{"Run", "Help", "Version", "Error"};
        QCOMPARE(actions.value(int(line.action)), expected["action"].toString("Run"));
        QVERIFY2(line.error.contains(expected["error"].toString()), qPrintable(line.error));
        const QMap<QString, QString> fields{{"from", line.fromDate.toString(Qt::ISODate)},
                                            {"to", line.toDate.toString(Qt::ISODate)},
                                            {"team", line.team},
                                            {"view", line.view},
                                            {"report", line.report},
                                            {"folder", line.outputFolder},
                                            {"file", line.outputFile},
                                            {"mailbox", line.mailboxPath},
                                            {"config", line.configPath},
                                            {"caldav", line.davUrl},
                                            {"user", line.davUser}};
        for (const QString& field : fields.keys()) {
            if (expected.contains(field))
                QCOMPARE(field + ": " + fields[field], field + ": " + expected[field].toString());
        }
        if (expected.contains("automatic"))
            QCOMPARE(line.automatic, expected["automatic"].toBool());
    }

    void outputFolderGetsDefaultName()
    {
        QTemporaryDir folder;
        for (const QString& path : {folder.path(), folder.path() + "/", folder.path() + "/new/"}) {
            const CommandLine line = CommandLineParser::parse({"--team", "Support", "--output", path});
            QCOMPARE(line.outputFile, QString("planning.htm"));
            QCOMPARE(line.outputFolder, QDir::cleanPath(path));
        }
        // A relative path is taken from the current folder, as a shell user means it.
        const CommandLine relative = CommandLineParser::parse({"--team", "S", "--output", "out/p.htm"});
        QCOMPARE(relative.outputFolder, QDir::cleanPath(QDir::current().absoluteFilePath("out")));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
