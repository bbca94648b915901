#include "output/htmlreport.h"
#include "output/jpegwriter.h"

#include "base/languagetexts.h"
#include "base/settingsstore.h"
#include "planning/colourrules.h"
#include "planning/filterlist.h"
#include "planning/planninggrid.h"
#include "planning/planningmatrix.h"
#include "tests/support/fixtures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

const QString kReports = ROTAVINE_TEST_DATA "/report/";
const QString kShipped = ROTAVINE_SOURCE_DATA "/htmltemplate";

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// A week at the turn of the year for two people: four header rows (month, week, weekday, day), the name
// column, four days of which the Saturday is hidden; cells as "colour#text", apart by tabs, and a few beyond
// the grid's counts, never written. Rules as the filter dialog stores them: the legend lists them by
// priority, the last slot included, and leaves out the one without a colour.
class Planning {
public:
    QTemporaryDir folder;
    QString tempFolder = folder.filePath("temp/");
    PlanningMatrix matrix;
    PlanningGrid grid;
    ColourRules rules{[](const QString&) {}};
    LanguageTexts texts = LanguageTexts::load(kReports, "Test"); // day pattern "DD MMM"
    HtmlReportInput input{.matrix = matrix,
                          .grid = grid,
                          .rules = rules,
                          .texts = texts,
                          .teamText = "Support",
                          .firstDay = QDateTime(QDate(2026, 12, 30), QTime(0, 0)),
                          .lastDay = QDateTime(QDate(2027, 1, 2), QTime(17, 30)),
                          .statusText = "Last refresh: 30/12/2026 09:15",
                          .heightCol = 75,
                          .templateFolder = kReports + "template",
                          .tempFolder = tempFolder,
                          .pictureName = {}};

    Planning()
    {
        QDir().mkpath(tempFolder);
        input.locale = QLocale(QLocale::English, QLocale::UnitedKingdom);
        grid.setColumns(5);
        grid.setRows(6);
        grid.setFixedRows(4);
        grid.setFixedColumns(1);
        grid.setColumnWidth(4, 0);
        const QStringList rows = QString::fromUtf8(readFile(kReports + "planning.txt")).split('\n');
        for (int row = 0; row < rows.size(); ++row) {
            const QStringList cells = rows[row].split('\t');
            for (int column = 0; column < cells.size(); ++column) {
                matrix.cell(row, column).htmlColour = cells[column].section('#', 0, 0);
                matrix.cell(row, column).html = cells[column].section('#', 1);
            }
        }
        QFile::copy(kReports + "rules.ini", folder.filePath("rules.ini"));
        rules.load({{"Customer", true}, {"Holiday & <leave>", true}, {"Blank", true}},
                   SettingsStore(folder.filePath("rules.ini")), texts);
    }
};

} // namespace

class TestHtmlReport : public QObject {
    Q_OBJECT

private slots:
    void golden_data()
    {
        QTest::addColumn<QString>("golden");
        QTest::addColumn<bool>("colourOnly");
        QTest::addColumn<bool>("asTable");
        QTest::addColumn<bool>("useFilters");
        QTest::addColumn<QString>("templates");
        QTest::newRow("detailed table, legend") << "detailed.htm" << false << true << true << "template";
        QTest::newRow("colour table") << "colour.htm" << true << true << false << "template";
        // A header of CR LF lines with an empty one and the cut marker inside a line, in capitals; no footer.
        // A team's name from the address book may hold markup, which the page shows as text.
        QTest::newRow("picture, legend") << "picture.htm" << false << false << true << "template-crlf";
    }
    void golden()
    {
        QFETCH(QString, golden);
        QFETCH(bool, colourOnly);
        QFETCH(bool, asTable);
        QFETCH(bool, useFilters);
        QFETCH(QString, templates);
        Planning planning;
        planning.input.useFilters = useFilters;
        planning.input.templateFolder = kReports + templates;
        if (!asTable)
            planning.input.teamText = "R&D <EU>";
        int pictures = 0;
        planning.input.pictureName = [&] { return QString("planning%1.jpg").arg(++pictures); };
        // What stands there is replaced: an older style sheet, and a link whose target stays untouched.
        writeFile(planning.tempFolder + "report.css", "an older style sheet");
        const QString elsewhere = planning.folder.filePath("elsewhere.txt");
        writeFile(elsewhere, "someone else's file");
        QVERIFY(QFile::link(elsewhere, planning.tempFolder + "tempPlanning.htm"));

        const QString path = writeHtmlReport(planning.input, colourOnly, asTable);
        QCOMPARE(path, planning.tempFolder + "tempPlanning.htm");
        QCOMPARE(pictures, asTable ? 0 : 1);
        const QByteArray page = readFile(path);
        // ROTAVINE_UPDATE_GOLDEN=1 rewrites the golden page: for a deliberate change, read before committing.
        if (qEnvironmentVariableIsSet("ROTAVINE_UPDATE_GOLDEN"))
            writeFile(kReports + golden, page);
        // Line by line first, for a readable difference; then the bytes, line ends (CR LF) included.
        QCOMPARE(QString::fromUtf8(page).split("\r\n"),
                 QString::fromUtf8(readFile(kReports + golden)).split("\r\n"));
        QCOMPARE(page, readFile(kReports + golden));
        QVERIFY(!QFileInfo(path).isSymLink());
        QCOMPARE(readFile(elsewhere), QByteArray("someone else's file"));

        // The template's visible files lie beside the page, nothing else: no hidden file, folder or leftover.
        QStringList expected = QDir(planning.input.templateFolder).entryList(QDir::Files);
        for (const QString& file : expected)
            QCOMPARE(readFile(planning.tempFolder + file),
                     readFile(planning.input.templateFolder + "/" + file));
        expected << "tempPlanning.htm" << QString("report.css");
        expected.removeDuplicates();
        expected.sort();
        QCOMPARE(entries(planning.tempFolder), expected);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("templates"); // in the fixture's folder; "" for the test data's
        QTest::addColumn<int>("tempFolder");    // 1: missing; 2: a folder stands at the page's name; 3: none
        QTest::addColumn<QString>("says");
        QTest::newRow("no header template") << "." << 0 << "htmlheader.htm is missing";
        QTest::newRow("no template folder") << "no-such-folder" << 0 << "cannot be read";
        QTest::newRow("no temporary folder") << "" << 1 << "cannot be copied";
        QTest::newRow("a folder stands at the page's name") << "" << 2 << "cannot be written";
        QTest::newRow("no temporary folder given") << "" << 3 << "No temporary folder";
    }
    void failures()
    {
        QFETCH(QString, templates);
        QFETCH(int, tempFolder);
        QFETCH(QString, says);
        Planning planning;
        if (!templates.isEmpty())
            planning.input.templateFolder = planning.folder.filePath(templates);
        if (tempFolder == 1)
            planning.input.tempFolder = planning.folder.filePath("no-such-temp/");
        if (tempFolder == 2)
            QVERIFY(QDir().mkpath(planning.tempFolder + "tempPlanning.htm"));
        if (tempFolder == 3)
            planning.input.tempFolder.clear();
        try {
            writeHtmlReport(planning.input, false, true);
            QFAIL("the report should have failed");
        }
        catch (const ReportError& error) {
            QVERIFY2(error.description().contains(says), qPrintable(error.description()));
        }
        // No page, and nothing half-written left behind.
        QVERIFY(!QFileInfo(planning.input.tempFolder + "tempPlanning.htm").isFile());
        QVERIFY(!QFileInfo::exists("tempPlanning.htm"));
        QVERIFY(QDir(planning.tempFolder).entryList({".rotavine*"}, QDir::Files | QDir::Hidden).isEmpty());
    }

    void pictureFailurePassesThrough()
    {
        Planning planning;
        writeFile(planning.tempFolder + "tempPlanning.htm", "the last report");
        planning.input.pictureName = []() -> QString {
            throw JpegError("rotavine.mIntelJPEGLibrary", "Failed to save to JPG 28",
                            "No space left on device");
        };
        QVERIFY_THROWS_EXCEPTION(JpegError, writeHtmlReport(planning.input, false, false));
        // The page is written whole or not at all: the last one stays.
        QCOMPARE(readFile(planning.tempFolder + "tempPlanning.htm"), QByteArray("the last report"));
    }

    void deliver()
    {
        // The shipped templates, where the program finds them.
        Planning planning;
        planning.input.templateFolder = HtmlReport::templateFolder();
        QCOMPARE(QDir(planning.input.templateFolder).canonicalPath(), QDir(kShipped).canonicalPath());
        const QString page = writeHtmlReport(planning.input, false, true);
        const QByteArray bytes = readFile(page);
        QVERIFY(bytes.startsWith("<!DOCTYPE html>\r\n") && bytes.endsWith("</html>\r\n"));
        QVERIFY(bytes.contains("\r\n<link rel=\"stylesheet\" href=\"rotavine.css\">\r\n"));
        const QString output = planning.folder.filePath("published");
        QDir().mkpath(output);

        // A table report: the page alone, even with a picture an earlier report left (another team's).
        writeFile(planning.tempFolder + "planning.jpg", "picture bytes");
        deliverReport(planning.tempFolder, output, "team.htm", false);
        QCOMPARE(entries(output), QStringList{"team.htm"});
        QCOMPARE(readFile(output + "/team.htm"), bytes);

        // A picture report: its picture goes along, and what the page links to, not the templates; a page
        // that stands there keeps its permission bits.
        QVERIFY(QFile::setPermissions(output + "/team.htm",
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        writeFile(page, "a newer page");
        deliverReport(planning.tempFolder, output, "team.htm", true, kShipped);
        QCOMPARE(entries(output),
                 (QStringList{"planning.jpg", "rotavine-logo.svg", "rotavine.css", "team.htm"}));
        QCOMPARE(readFile(output + "/team.htm"), QByteArray("a newer page"));
        QCOMPARE(readFile(output + "/planning.jpg"), QByteArray("picture bytes"));
        QCOMPARE(readFile(output + "/rotavine.css"), readFile(kShipped + "/rotavine.css"));
        struct stat delivered {};
        QCOMPARE(::stat(QFile::encodeName(output + "/team.htm").constData(), &delivered), 0);
        QCOMPARE(delivered.st_mode & 07777, mode_t(0604));

        // A page that cannot be delivered, or is not there; a pipe standing at the page's name stays a pipe.
        QVERIFY_THROWS_EXCEPTION(ReportError,
                                 deliverReport(planning.tempFolder, output + "/none", "t.htm", false));
        QVERIFY_THROWS_EXCEPTION(ReportError, deliverReport(output, planning.tempFolder, "t.htm", false));
        QCOMPARE(::mkfifo(QFile::encodeName(output + "/pipe.htm").constData(), 0600), 0);
        QVERIFY_THROWS_EXCEPTION(ReportError, deliverReport(planning.tempFolder, output, "pipe.htm", false));
        QVERIFY(QFileInfo(output + "/pipe.htm").exists() && !QFileInfo(output + "/pipe.htm").isFile());
    }
};

QTEST_GUILESS_MAIN(TestHtmlReport)
#include "tst_htmlreport.moc"
