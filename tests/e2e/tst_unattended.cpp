// The built program, run as a scheduler runs it: no display, no person, a command line, an exit status.

#include "tests/support/davserver.h"
#include "tests/support/fixtures.h"

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

class TestUnattended : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_mailbox = m_root.filePath("mailbox");
    QString m_page = m_root.filePath("www/page.htm");
    QString m_temp = m_root.filePath("tmp");

    // The demo mailbox with a person whose calendar the server's rights forbid, alone in a team and beside
    // a readable member in another.
    QString serverMailbox()
    {
        const QString root = m_root.filePath("server-mailbox");
        copyTree(ROTAVINE_SOURCE_DATA "/demo-mailbox", root);
        const QString forbidden = DavServer::kForbidden;
        writeFile(root + "/contacts/private.vcf", person("private", "Pat Private", forbidden));
        writeFile(root + "/contacts/Rotavine/locked.vcf",
                  group("Locked", "<rotavine>", {"mailto:" + forbidden}));
        writeFile(root + "/contacts/Rotavine/half.vcf",
                  group("Half", "<rotavine>", {"mailto:anna.kowalska@example.org", "mailto:" + forbidden}));
        DavServer::shared().makeCalendarOnDisk("/" + forbidden + "/calendar/");
        return root;
    }

private slots:
    void initTestCase()
    {
        copyTree(ROTAVINE_SOURCE_DATA "/demo-mailbox", m_mailbox);
        // A marked team without members.
        writeFile(m_mailbox + "/contacts/Rotavine/empty.vcf", group("Nobody Yet", "<rotavine>"));
        // Teams whose members the address book does not know, all of them or one.
        writeFile(
            m_mailbox + "/contacts/Rotavine/strangers.vcf",
            group("Strangers", "<rotavine>", {"mailto:nobody@example.org", "mailto:ghost@example.org"}));
        writeFile(
            m_mailbox + "/contacts/Rotavine/mixed.vcf",
            group("Mixed", "<rotavine>", {"mailto:anna.kowalska@example.org", "mailto:ghost@example.org"}));
        QVERIFY(QDir().mkpath(m_temp) && QDir().mkpath(m_root.filePath("empty-data")));
    }

    // One row for each exit status the README lists; `expected` is looked for in the page that was
    // delivered, or else in what the program printed. `setup` breaks what the run needs.
    void exitStatus_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected");
        const QStringList box{"--mailbox", m_mailbox};
        const QStringList out = box + QStringList{"--output", m_page};
        const QString classic = "/01122026/31122026/%1/" + QString(m_page).replace('/', '\\');
        QTest::newRow("0 options, this month's table")
            << out + QStringList{"--team", "Support", "--view", "ThisMonth", "--report", "ReportHTMLPlan"}
            << "" << 0 << "for team:  Support<br>";
        QTest::newRow("0 options, colours of a period")
            << out + QStringList{"--team",   "Customer Experience", "--from", "2026-11-30",
                                 "--to",     "2026-12-20",          "--view", "ColorPlanning",
                                 "--report", "ReportHTMLColor"}
            << "" << 0 << "Customer Experience";
        QTest::newRow("0 options, picture of a day")
            << out + QStringList{"--team", "Support", "--view", "Today", "--report", "ReportImage"} << "" << 0
            << "planning.jpg";
        QTest::newRow("0 classic, team with a space")
            << box + QStringList{classic.arg("Customer Experience/Planning/ReportHTMLPlan")} << "" << 0
            << "Customer Experience";
        QTest::newRow("0 classic, next week's picture")
            << box + QStringList{classic.arg("Support/NextWeek/ReportImage")} << "" << 0 << "planning.jpg";
        QTest::newRow("0 options, PDF of a month")
            << box + QStringList{"--team",  "Support", "--report", "ReportPDF",
                                 "--paper", "A3",      "--output", m_root.filePath("www") + "/"}
            << "" << 0 << "www/planning.pdf";
        QTest::newRow("0 classic, PDF of a day")
            << box + QStringList{"/01122026/31122026/Support/Today/ReportPDF/" +
                                 m_root.filePath("www/day.pdf").replace('/', '\\')}
            << "" << 0 << "www/day.pdf";
        QTest::newRow("0 options, PNG picture of a week")
            << out + QStringList{"--team", "Support", "--view", "ThisWeek", "--report", "ReportPNG"} << ""
            << 0 << "planning.png";
        QTest::newRow("2 PDF on an unknown paper")
            << out + QStringList{"--team", "Support", "--report", "ReportPDF", "--paper", "B5"} << "" << 2
            << "--paper";
        QTest::newRow("0 help") << QStringList{"--help"} << "" << 0 << "Exit status";
        QTest::newRow("0 version") << QStringList{"--version"} << "" << 0 << "rotavine " ROTAVINE_VERSION;
        QTest::newRow("1 no temporary folder")
            << out + QStringList{"--team", "Support"} << "no temp" << 1 << "rotavine-";
        QTest::newRow("2 usage") << QStringList{"--colour", "red"} << "" << 2 << "colour";
        QTest::newRow("3 bare slash") << box + QStringList{"/"} << "" << 3 << "Report keyword error";
        QTest::newRow("3 report keyword in small letters")
            << out + QStringList{"--team", "Support", "--report", "reporthtmlplan"} << "" << 3
            << "Report keyword error";
        QTest::newRow("4 table of a day")
            << out + QStringList{"--team", "Support", "--view", "Today"} << "" << 4 << "cannot be made";
        QTest::newRow("5 view keyword") << out + QStringList{"--team", "Support", "--view", "Yesterday"} << ""
                                        << 5 << "View Keyword error";
        QTest::newRow("6 unknown team") << out + QStringList{"--team", "Nope"} << "" << 6 << "Nope";
        QTest::newRow("6 lunch club is not marked")
            << out + QStringList{"--team", "Friday lunch club"} << "" << 6 << "Friday lunch club";
        QTest::newRow("7 empty team") << out + QStringList{"--team", "Nobody Yet"} << "" << 7 << "Nobody Yet";
        QTest::newRow("8 no mailbox")
            << QStringList{"--mailbox", m_root.filePath("missing"), "--team", "Support", "--output", m_page}
            << "" << 8 << "missing";
        QTest::newRow("9 output folder missing")
            << box + QStringList{"--team", "Support", "--output", m_root.filePath("no/such/p.htm")} << "" << 9
            << "no/such";
        QTest::newRow("10 picture not saved")
            << out + QStringList{"--team", "Support", "--view", "ThisWeek", "--report", "ReportImage"}
            << "picture blocked" << 10 << "JPG";
        QTest::newRow("11 no templates")
            << out + QStringList{"--team", "Support"} << "no templates" << 11 << "htmltemplate";
        QTest::newRow("12 nobody's calendar read")
            << out + QStringList{"--team", "Strangers", "--view", "ThisWeek", "--report", "ReportHTMLPlan"}
            << "" << 12 << "nothing was published";
        QTest::newRow("13 some calendars not read")
            << out + QStringList{"--team", "Mixed", "--view", "ThisWeek", "--report", "ReportHTMLPlan"} << ""
            << 13 << "ghost@example.org";
        // Hostile and mistaken command lines, settings and calendars: each ends, says why, and writes only
        // what it should. An expected text beginning with "!" is looked for in what the program printed.
        const QStringList support{"--team", "Support"};
        QTest::newRow("9 a pipe at the page's name")
            << box + support + QStringList{"--output", m_root.filePath("pipe.htm")} << "pipe" << 9
            << "not a file";
        QTest::newRow("9 a device at the page's name")
            << box + support + QStringList{"--output", m_root.filePath("null.htm")} << "device" << 9
            << "not a file";
        QTest::newRow("2 the page named as its style sheet")
            << box + support + QStringList{"--output", m_root.filePath("www/rotavine.css")} << "" << 2
            << "goes beside it";
        QTest::newRow("0 options after a classic text")
            << QStringList{classic.arg("Support/ThisWeek/ReportHTMLPlan"), "--mailbox", m_mailbox} << "" << 0
            << "for team:  Support";
        QTest::newRow("2 classic page without a folder")
            << box + QStringList{"/01122026/31122026/Support/Planning/ReportHTMLPlan/page.htm"} << "" << 2
            << "names no page";
        QTest::newRow("2 period ends before it starts")
            << out + support + QStringList{"--from", "2026-12-31", "--to", "2026-12-01"} << "" << 2
            << "before it starts";
        QTest::newRow("0 a period cut to 187 days is said")
            << out + support + QStringList{"--from", "2026-01-01", "--to", "2026-12-31"} << "" << 0
            << "!longer than 187 days";
        QTest::newRow("2 an empty argument") << QStringList{""} << "" << 2 << "is empty";
        QTest::newRow("1 a window without a display") << box << "" << 1 << "no display";
        QTest::newRow("1 settings file is a pipe")
            << out + support << "settings pipe" << 1 << "is not a file";
        QTest::newRow("1 settings file too large") << out + support << "settings huge" << 1 << "larger than";
        QTest::newRow("0 a series that never matches is named")
            << out + support << "hostile series" << 0 << "!gives no date";
        // On a server, a member whose calendar the rights keep from the user.
        const QStringList period{"--view", "ThisWeek", "--report", "ReportHTMLPlan", "--output", m_page};
        QTest::newRow("12 server refuses the only member")
            << QStringList{"--team", "Locked"} + period << "server" << 12 << "nothing was published";
        QTest::newRow("13 server refuses one member")
            << QStringList{"--team", "Half"} + period << "server" << 13 << "Pat Private";
    }
    void exitStatus()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, setup);
        QFETCH(int, status);
        QFETCH(QString, expected);
        writeFile(m_page, "yesterday's page");
        QFile::remove(m_root.filePath("www/planning.jpg"));
        const QString blocker = m_temp + QString("/rotavine-%1/planning.jpg").arg(::geteuid());
        QFile::remove(blocker);
        if (setup == "picture blocked") // a folder where the picture goes
            QVERIFY(QDir().mkpath(blocker + "/occupied"));
        const QString special = m_root.filePath(setup == "device" ? "null.htm" : "pipe.htm");
        QFile::remove(special);
        if (setup == "pipe" || setup == "settings pipe")
            QCOMPARE(::mkfifo(QFile::encodeName(special).constData(), 0600), 0);
        if (setup == "device" &&
            ::mknod(QFile::encodeName(special).constData(), S_IFCHR | 0600, makedev(1, 3)))
            QSKIP("no right to make a device node here");
        const QString huge = m_root.filePath("huge.ini");
        if (setup == "settings huge") {
            QFile file(huge);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(qint64(64) << 20));
        }
        const QString hostile = m_mailbox + "/calendars/anna.kowalska@example.org/hostile.ics";
        if (setup == "hostile series")
            writeFile(hostile,
                      calendar("BEGIN:VEVENT|UID:hostile|DTSTART:20261201T090000Z|DTEND:20261201T091000Z|"
                               "SUMMARY:Never|RRULE:FREQ=MINUTELY;BYMONTH=2;BYMONTHDAY=30|END:VEVENT"));

        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (setup == "server") {
            DavServer& server = DavServer::shared();
            QVERIFY2(server.isRunning(), qPrintable(server.error()));
            if (server.get("/" + DavServer::kUser + "/Rotavine/").status != 200)
                QCOMPARE(server.uploadMailbox(serverMailbox()), QString());
            arguments += {"--caldav", server.url().toString(), "--user", DavServer::kUser};
            environment.insert("ROTAVINE_PASSWORD", DavServer::kPassword);
        }
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "TEMP", "TMP"})
            environment.remove(name);
        environment.insert("TMPDIR", setup == "no temp" ? m_root.filePath("missing/tmp") : m_temp);
        environment.insert("ROTAVINE_DATA_DIR",
                           setup == "no templates" ? m_root.filePath("empty-data") : ROTAVINE_SOURCE_DATA);
        environment.insert("ROTAVINE_CONFIG", setup == "settings pipe"   ? special
                                              : setup == "settings huge" ? huge
                                                                         : m_root.filePath("rotavine.ini"));
        environment.insert("XDG_DATA_HOME", m_root.filePath("xdg-data"));
        process.setProcessEnvironment(environment);
        process.start(ROTAVINE_PROGRAM, arguments);
        // Nothing in an unattended run waits for a person: every outcome comes quickly.
        QVERIFY(process.waitForFinished(60000));
        QDir(blocker).removeRecursively();
        QFile::remove(hostile);
        QFile::remove(huge);
        // What stood at the page's name is as it was.
        if (setup == "pipe" || setup == "device")
            QVERIFY(QFileInfo(special).exists() && !QFileInfo(special).isFile());
        QFile::remove(special);
        const QString printed = process.readAllStandardOutput() + process.readAllStandardError();
        QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == status,
                 qPrintable(QString("status %1: %2").arg(process.exitCode()).arg(printed)));

        QFile page(m_page);
        QVERIFY(page.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(page.readAll());
        if (status == 13) // published, and the members left out are named
            QVERIFY2(printed.contains(expected) && html.contains("Anna Kowalska"), qPrintable(printed));
        else if (status != 0 || !printed.contains(m_page)) {
            // A page already published stays whole when a run fails.
            QCOMPARE(html, QString("yesterday's page"));
            QVERIFY2(printed.contains(expected), qPrintable(printed));
            if (expected.endsWith(".pdf")) // a PDF that a reader opens
                QCOMPARE(QProcess::execute("pdfinfo", {printed.section('\n', 0, 0)}), 0);
            return;
        }
        if (expected.startsWith('!'))
            QVERIFY2(printed.contains(expected.mid(1)), qPrintable(printed));
        else
            QVERIFY2(html.contains(expected), qPrintable(html));
        // Only what this run made is delivered: no picture an earlier picture report left behind.
        if (expected != "planning.jpg")
            QVERIFY(!QFile::exists(m_root.filePath("www/planning.jpg")));
        QVERIFY(html.startsWith("<!DOCTYPE html>") && html.contains("</html>", Qt::CaseInsensitive));
        QCOMPARE(html.count("<table", Qt::CaseInsensitive), html.count("</table>", Qt::CaseInsensitive));
        QVERIFY(!html.contains(QRegularExpression("[^\r]\n")));
        if (expected.startsWith("planning.")) // the picture beside the page
            QVERIFY(QImage(m_root.filePath("www/" + expected)).width() > 200);
        // The page's style sheet went along, and no temporary file is left beside the page.
        QVERIFY(QFile::exists(m_root.filePath("www/rotavine.css")));
        for (const QString& name : QDir(m_root.filePath("www")).entryList(QDir::Files | QDir::Hidden))
            QVERIFY2(!name.startsWith('.') && !name.contains("tmp", Qt::CaseInsensitive), qPrintable(name));
    }
};

QTEST_GUILESS_MAIN(TestUnattended)
#include "tst_unattended.moc"
