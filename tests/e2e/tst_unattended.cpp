// The built program, run as a scheduler runs it: no display, no person, a command line, an exit status.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

bool copyTree(const QString& source, const QString& target)
{
    QDir().mkpath(target);
    const QDir from(source);
    for (const QFileInfo& entry :
         from.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QString destination = target + "/" + entry.fileName();
        if (entry.isDir() ? !copyTree(entry.filePath(), destination)
                          : !QFile::copy(entry.filePath(), destination))
            return false;
    }
    return true;
}

struct Run {
    int status = -1;
    QString out;
    QString err;
};

} // namespace

class TestUnattended : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void delivers_data();
    void delivers();
    void refuses_data();
    void refuses();
    void replacesPageAtomically();
    void helpAndVersion();

private:
    Run run(const QStringList& arguments, const QString& dataDir = ROTAVINE_SOURCE_DATA);

    QTemporaryDir m_root;
    QString m_mailbox;
    QString m_output;
    QString m_temp;
};

void TestUnattended::initTestCase()
{
    QVERIFY(m_root.isValid());
    m_mailbox = m_root.filePath("mailbox");
    QVERIFY(copyTree(ROTAVINE_SOURCE_DATA "/demo-mailbox", m_mailbox));
    // A marked team without members.
    QFile empty(m_mailbox + "/contacts/Rotavine/empty.vcf");
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.write("BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nUID:empty-team\r\nFN:Nobody Yet\r\n"
                "CATEGORIES:<rotavine>\r\nEND:VCARD\r\n");
    empty.close();
    m_output = m_root.filePath("www");
    m_temp = m_root.filePath("tmp");
    QVERIFY(QDir().mkpath(m_output));
    QVERIFY(QDir().mkpath(m_temp));
}

Run TestUnattended::run(const QStringList& arguments, const QString& dataDir)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    environment.insert("TMPDIR", m_temp);
    environment.remove("TEMP");
    environment.remove("TMP");
    environment.insert("ROTAVINE_DATA_DIR", dataDir);
    environment.insert("ROTAVINE_CONFIG", m_root.filePath("rotavine.ini"));
    environment.insert("XDG_DATA_HOME", m_root.filePath("xdg-data"));
    process.setProcessEnvironment(environment);
    process.start(ROTAVINE_PROGRAM, arguments);
    Run result;
    // Nothing in an unattended run waits for a person: every outcome comes quickly.
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.err = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

void TestUnattended::delivers_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("picture");

    const QString www = QDir::toNativeSeparators(m_root.filePath("www"));
    QString legacyFolder = www;
    legacyFolder.replace('/', '\\');
    QTest::newRow("options, texts, this month")
        << QStringList{"--mailbox", m_mailbox,  "--team",         "Support",  "--view",
                       "ThisMonth", "--report", "ReportHTMLPlan", "--output", www + "/plan.htm"}
        << "plan.htm"
        << "Support" << false;
    QTest::newRow("options, colours, a planning period")
        << QStringList{"--mailbox", m_mailbox,          "--team",   "Customer Experience",
                       "--from",    "2026-11-30",       "--to",     "2026-12-20",
                       "--view",    "ColorPlanning",    "--report", "ReportHTMLColor",
                       "--output",  www + "/colour.htm"}
        << "colour.htm"
        << "Customer Experience" << false;
    QTest::newRow("options, picture of a day")
        << QStringList{"--mailbox", m_mailbox,  "--team",      "Support",  "--view",
                       "Today",     "--report", "ReportImage", "--output", www + "/today.htm"}
        << "today.htm"
        << "planning.jpg" << true;
    QTest::newRow("classic text, team with a space")
        << QStringList{"--mailbox", m_mailbox,
                       "/01122026/31122026/Customer Experience/Planning/ReportHTMLPlan/" + legacyFolder +
                           "\\classic.htm"}
        << "classic.htm"
        << "Customer Experience" << false;
    QTest::newRow("classic text, next week picture")
        << QStringList{"--mailbox", m_mailbox,
                       "/01122026/31122026/Support/NextWeek/ReportImage/" + legacyFolder + "\\week.htm"}
        << "week.htm"
        << "planning.jpg" << true;
}

void TestUnattended::delivers()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, page);
    QFETCH(QString, expected);
    QFETCH(bool, picture);
    QFile::remove(m_output + "/planning.jpg");

    const Run result = run(arguments);
    QVERIFY2(result.status == 0, qPrintable(QString("status %1: %2").arg(result.status).arg(result.err)));
    const QString path = m_output + "/" + page;
    QVERIFY2(result.out.contains(path), qPrintable(result.out));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(file.readAll());
    QVERIFY(html.contains(expected));
    QVERIFY(html.contains("</html>", Qt::CaseInsensitive));
    QCOMPARE(html.count("<table", Qt::CaseInsensitive), html.count("</table>", Qt::CaseInsensitive));
    QVERIFY(!html.contains(QRegularExpression("[^\r]\n")));
    if (picture) {
        const QImage image(m_output + "/planning.jpg");
        QVERIFY(!image.isNull());
        QVERIFY(image.width() > 200 && image.height() > 50);
    }
    // The page's style sheet went along, and no temporary file is left beside the page.
    QVERIFY(QFile::exists(m_output + "/rotavine.css"));
    const QStringList left = QDir(m_output).entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : left)
        QVERIFY2(!name.startsWith('.') && !name.contains("tmp", Qt::CaseInsensitive), qPrintable(name));
}

void TestUnattended::refuses_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("dataDir");

    const QString out = m_root.filePath("www") + "/refused.htm";
    const QString data = ROTAVINE_SOURCE_DATA;
    const QStringList base{"--mailbox", m_mailbox, "--output", out};
    QTest::newRow("usage") << QStringList{"--colour", "red"} << 2 << "colour" << data;
    QTest::newRow("bare slash") << QStringList{"--mailbox", m_mailbox, "/"} << 3 << "Report keyword error"
                                << data;
    QTest::newRow("report keyword in small letters")
        << base + QStringList{"--team", "Support", "--report", "reporthtmlplan"} << 3
        << "Report keyword error" << data;
    QTest::newRow("table of a day") << base + QStringList{"--team", "Support", "--view", "Today"} << 4
                                    << "cannot be made" << data;
    QTest::newRow("view keyword") << base + QStringList{"--team", "Support", "--view", "Yesterday"} << 5
                                  << "View Keyword error" << data;
    QTest::newRow("unknown team") << base + QStringList{"--team", "Nope"} << 6 << "Nope" << data;
    QTest::newRow("lunch club is not marked")
        << base + QStringList{"--team", "Friday lunch club"} << 6 << "Friday lunch club" << data;
    QTest::newRow("empty team") << base + QStringList{"--team", "Nobody Yet"} << 7 << "Nobody Yet" << data;
    QTest::newRow("no mailbox") << QStringList{"--mailbox", m_root.filePath("missing"),
                                               "--team",    "Support",
                                               "--output",  out}
                                << 8 << "missing" << data;
    QTest::newRow("output folder missing")
        << QStringList{"--mailbox", m_mailbox,  "--team",
                       "Support",   "--output", m_root.filePath("no/such/p.htm")}
        << 9 << "no/such" << data;
    QTest::newRow("no templates") << base + QStringList{"--team", "Support"} << 11 << "htmltemplate"
                                  << m_root.filePath("empty-data");
}

void TestUnattended::refuses()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QFETCH(QString, dataDir);
    QFile::remove(m_output + "/refused.htm");
    QDir().mkpath(m_root.filePath("empty-data"));

    const Run result = run(arguments, dataDir);
    QTEST(result.status, "status");
    QVERIFY2(result.err.contains(message), qPrintable(result.err));
    QVERIFY(!QFile::exists(m_output + "/refused.htm"));
}

void TestUnattended::replacesPageAtomically()
{
    // A page already published stays whole when a later run fails, and a picture that cannot be saved
    // ends the run with its own status.
    const QString page = m_output + "/kept.htm";
    QFile existing(page);
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("yesterday's page");
    existing.close();

    const QString blocker = m_temp + QString("/rotavine-%1/planning.jpg").arg(getuid());
    QFile::remove(blocker);
    QVERIFY(QDir().mkpath(blocker + "/occupied"));
    const Run failed = run({"--mailbox", m_mailbox, "--team", "Support", "--view", "ThisWeek", "--report",
                            "ReportImage", "--output", page});
    QDir(blocker).removeRecursively();
    QCOMPARE(failed.status, 10);
    QVERIFY2(failed.err.contains("JPG"), qPrintable(failed.err));
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("yesterday's page"));
    existing.close();

    const Run delivered = run({"--mailbox", m_mailbox, "--team", "Support", "--output", page});
    QCOMPARE(delivered.status, 0);
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QVERIFY(existing.readAll().startsWith("<!DOCTYPE html>"));
}

void TestUnattended::helpAndVersion()
{
    const Run help = run({"--help"});
    QCOMPARE(help.status, 0);
    QVERIFY(help.out.contains("--output PATH"));
    QVERIFY(help.out.contains("Exit status"));
    const Run version = run({"--version"});
    QCOMPARE(version.status, 0);
    QVERIFY(version.out.startsWith("rotavine "));
}

QTEST_GUILESS_MAIN(TestUnattended)
#include "tst_unattended.moc"
