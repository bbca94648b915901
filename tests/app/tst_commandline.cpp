#include "app/commandline.h"
#include "base/programstate.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using Action = CommandLine::Action;

class TestCommandLine : public QObject {
    Q_OBJECT

private slots:
    void classicText_data();
    void classicText();
    void classicFromArguments();
    void compactDate_data();
    void compactDate();
    void options_data();
    void options();
    void optionErrors_data();
    void optionErrors();
    void outputFolderGetsDefaultName();
};

void TestCommandLine::classicText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("automatic");
    QTest::addColumn<QDate>("from");
    QTest::addColumn<QDate>("to");
    QTest::addColumn<QString>("team");
    QTest::addColumn<QString>("view");
    QTest::addColumn<QString>("report");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("file");

    const QDate d1(2026, 12, 1), d31(2026, 12, 31);
    QTest::newRow("empty") << "" << false << QDate() << QDate() << ""
                           << ""
                           << ""
                           << ""
                           << "";
    QTest::newRow("single slash") << "/" << true << QDate() << QDate() << ""
                                  << ""
                                  << ""
                                  << ""
                                  << "";
    QTest::newRow("six, team with spaces")
        << "/01122026/31122026/  Customer Experience  /ThisMonth/ReportHTMLPlan/\\srv\\www\\plan.htm" << true
        << d1 << d31 << "Customer Experience"
        << "ThisMonth"
        << "ReportHTMLPlan"
        << "/srv/www"
        << "plan.htm";
    QTest::newRow("quote, double quote and tab separators")
        << "'01122026\"31122026\tSupport/Planning/ReportImage/\\tmp\\p.htm" << true << d1 << d31 << "Support"
        << "Planning"
        << "ReportImage"
        << "/tmp"
        << "p.htm";
    QTest::newRow("seventh argument ignored")
        << "/01122026/31122026/Support/Planning/ReportImage/\\tmp\\p.htm/extra" << true << d1 << d31
        << "Support"
        << "Planning"
        << "ReportImage"
        << "/tmp"
        << "p.htm";
    QTest::newRow("seven-character date stops the reading")
        << "/1122026/31122026/Support/Planning/ReportImage/\\tmp\\p.htm" << true << QDate() << QDate() << ""
        << ""
        << ""
        << ""
        << "";
    QTest::newRow("bad to-date keeps the from-date")
        << "/01122026/31022026/Support/Planning/ReportImage/\\tmp\\p.htm" << true << d1 << QDate() << ""
        << ""
        << ""
        << ""
        << "";
    QTest::newRow("path without backslash leaves the file empty")
        << "/01122026/31122026/Support/Planning/ReportHTMLPlan/planning.htm" << true << d1 << d31 << "Support"
        << "Planning"
        << "ReportHTMLPlan"
        << "planning.htm"
        << "";
    QTest::newRow("five arguments") << "/01122026/31122026/Support/Planning/reporthtmlplan" << true << d1
                                    << d31 << "Support"
                                    << "Planning"
                                    << "reporthtmlplan"
                                    << ""
                                    << "";
    QTest::newRow("text before the first argument is dropped")
        << "   /01122026/31122026/Support" << true << d1 << d31 << "Support"
        << ""
        << ""
        << ""
        << "";
    QTest::newRow("spaces after a separator belong to the argument before")
        << "01122026/ 31122026 / Support Team /ThisWeek" << true << d1 << d31 << "Support Team"
        << "ThisWeek"
        << ""
        << ""
        << "";
    QTest::newRow("path with spaces")
        << "/01122026/31122026/Support/Planning/ReportHTMLPlan/\\srv\\web site\\my plan.htm" << true << d1
        << d31 << "Support"
        << "Planning"
        << "ReportHTMLPlan"
        << "/srv/web site"
        << "my plan.htm";
}

void TestCommandLine::classicText()
{
    QFETCH(QString, text);
    CommandLine line;
    CommandLineParser::parseClassic(text, line);
    QTEST(line.automatic, "automatic");
    QTEST(line.fromDate, "from");
    QTEST(line.toDate, "to");
    QTEST(line.team, "team");
    QTEST(line.view, "view");
    QTEST(line.report, "report");
    QTEST(line.outputFolder, "folder");
    QTEST(line.outputFile, "file");
}

void TestCommandLine::classicFromArguments()
{
    // The shell splits "Customer Experience" into two arguments; joined by a blank they are one team again.
    const CommandLine line = CommandLineParser::parse(
        {"/01122026/31122026/Customer", "Experience/Planning/ReportHTMLColor/\\tmp\\out.htm"});
    QCOMPARE(line.action, Action::Run);
    QVERIFY(line.automatic);
    QCOMPARE(line.team, QString("Customer Experience"));
    QCOMPARE(line.report, QString("ReportHTMLColor"));
    QCOMPARE(line.outputFolder, QString("/tmp"));
    QCOMPARE(line.outputFile, QString("out.htm"));
}

void TestCommandLine::compactDate_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDate>("date");
    QTest::newRow("ordinary") << "06122026" << QDate(2026, 12, 6);
    QTest::newRow("leap day") << "29022028" << QDate(2028, 2, 29);
    QTest::newRow("no leap day") << "29022027" << QDate();
    QTest::newRow("31 of a 30-day month") << "31112026" << QDate();
    QTest::newRow("month 13") << "01132026" << QDate();
    QTest::newRow("nine characters") << "011220266" << QDate();
    QTest::newRow("letters") << "0112202a" << QDate();
    QTest::newRow("signs") << "+1122026" << QDate();
}

void TestCommandLine::compactDate()
{
    QFETCH(QString, text);
    QTEST(CommandLineParser::compactDate(text), "date");
}

void TestCommandLine::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("automatic");
    QTest::addColumn<QDate>("from");
    QTest::addColumn<QDate>("to");
    QTest::addColumn<QString>("team");
    QTest::addColumn<QString>("view");
    QTest::addColumn<QString>("report");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("mailbox");

    const QDate d1(2026, 12, 1), d31(2026, 12, 31);
    QTest::newRow("all run options") << QStringList{"--from",          "2026-12-01",    "--to",
                                                    "31122026",        "--team",        "Customer Experience",
                                                    "--view",          "ColorPlanning", "--report",
                                                    "ReportHTMLColor", "--output",      "/srv/www/plan.htm"}
                                     << true << d1 << d31 << "Customer Experience"
                                     << "ColorPlanning"
                                     << "ReportHTMLColor"
                                     << "/srv/www"
                                     << "plan.htm"
                                     << "";
    QTest::newRow("defaults without dates")
        << QStringList{"--team=Support", "--output=/tmp/p.htm"} << true << QDate() << QDate() << "Support"
        << "ThisMonth"
        << "ReportHTMLPlan"
        << "/tmp"
        << "p.htm"
        << "";
    QTest::newRow("dates choose the Planning view")
        << QStringList{"--team", "Support",    "--from",   "2026-12-01",
                       "--to",   "2026-12-31", "--output", "/tmp/p.htm"}
        << true << d1 << d31 << "Support"
        << "Planning"
        << "ReportHTMLPlan"
        << "/tmp"
        << "p.htm"
        << "";
    QTest::newRow("mailbox alone stays interactive")
        << QStringList{"--mailbox", "/data/box"} << false << QDate() << QDate() << ""
        << ""
        << ""
        << ""
        << ""
        << "/data/box";
    QTest::newRow("options before a classic text")
        << QStringList{"--mailbox", "/data/box",
                       "/01122026/31122026/Support/Planning/ReportImage/\\tmp\\p.htm"}
        << true << d1 << d31 << "Support"
        << "Planning"
        << "ReportImage"
        << "/tmp"
        << "p.htm"
        << "/data/box";
    QTest::newRow("an option overrides the classic text")
        << QStringList{"--team", "Other", "/01122026/31122026/Support/Planning/ReportImage/\\tmp\\p.htm"}
        << true << d1 << d31 << "Other"
        << "Planning"
        << "ReportImage"
        << "/tmp"
        << "p.htm"
        << "";
    QTest::newRow("report keyword kept as written")
        << QStringList{"--report", "reporthtmlplan", "--output", "/tmp/p.htm"} << true << QDate() << QDate()
        << ""
        << "ThisMonth"
        << "reporthtmlplan"
        << "/tmp"
        << "p.htm"
        << "";
}

void TestCommandLine::options()
{
    QFETCH(QStringList, arguments);
    const CommandLine line = CommandLineParser::parse(arguments);
    QCOMPARE(line.action, Action::Run);
    QTEST(line.automatic, "automatic");
    QTEST(line.fromDate, "from");
    QTEST(line.toDate, "to");
    QTEST(line.team, "team");
    QTEST(line.view, "view");
    QTEST(line.report, "report");
    QTEST(line.outputFolder, "folder");
    QTEST(line.outputFile, "file");
    QTEST(line.mailboxPath, "mailbox");
}

void TestCommandLine::optionErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Action>("action");
    QTest::addColumn<QString>("errorPart");
    QTest::newRow("help") << QStringList{"--help"} << Action::Help << "";
    QTest::newRow("help wins") << QStringList{"--team", "x", "--help"} << Action::Help << "";
    QTest::newRow("version") << QStringList{"--version"} << Action::Version << "";
    QTest::newRow("unknown option") << QStringList{"--colour", "red"} << Action::Error << "colour";
    QTest::newRow("single dash") << QStringList{"-x"} << Action::Error << "x";
    QTest::newRow("missing value") << QStringList{"--team"} << Action::Error << "team";
    QTest::newRow("bad date") << QStringList{"--from", "2026-02-30", "--output", "/tmp/p"} << Action::Error
                              << "2026-02-30";
    QTest::newRow("no output") << QStringList{"--team", "Support"} << Action::Error << "--output";
    QTest::newRow("empty output") << QStringList{"--team", "Support", "--output", ""} << Action::Error
                                  << "--output";
}

void TestCommandLine::optionErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, errorPart);
    const CommandLine line = CommandLineParser::parse(arguments);
    QTEST(line.action, "action");
    QVERIFY2(line.error.contains(errorPart), qPrintable(line.error));
}

void TestCommandLine::outputFolderGetsDefaultName()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    for (const QString& path : {folder.path(), folder.path() + "/", folder.path() + "/new/"}) {
        const CommandLine line = CommandLineParser::parse({"--team", "Support", "--output", path});
        QCOMPARE(line.action, Action::Run);
        QCOMPARE(line.outputFile, QString("planning.htm"));
        QVERIFY(line.outputFolder.startsWith(QDir::cleanPath(folder.path())));
    }
    // A relative path is taken from the current folder, as a shell user means it.
    const CommandLine relative = CommandLineParser::parse({"--team", "S", "--output", "out/p.htm"});
    QCOMPARE(relative.outputFolder, QDir::cleanPath(QDir::current().absoluteFilePath("out")));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
