#include "output/htmlreport.h"
#include "output/jpegwriter.h"

#include "base/languagetexts.h"
#include "base/settingsstore.h"
#include "planning/colourrules.h"
#include "planning/filterlist.h"
#include "planning/planninggrid.h"
#include "planning/planningmatrix.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

const QString kGoldenFolder = ROTAVINE_TEST_DATA "/report";
const QString kTemplates = ROTAVINE_TEST_DATA "/report/template";

// A rule as the filter dialog stores it: name, priority, HTML colour.
struct Rule {
    QString name;
    int priority;
    QString html;
};

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write(bytes);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList linesOf(const QByteArray& page)
{
    QStringList lines = QString::fromUtf8(page).split("\r\n");
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The member cell line as the detailed table writes it.
QString memberCell(const QString& width, const QString& colour, const QString& text)
{
    return QString("<td width= \"%1\" align=\"Left\" valign=\"TOP\" bgcolor=\"#%2\" nowrap> <font "
                   "color=\"#000000\" "
                   "face=\"Arial\" size=\"1\">%3</font></td>")
        .arg(width, colour, text);
}

QString headerCell(int span, const QString& text)
{
    return QString("<td width=\"0\" align=\"center\" valign=\"TOP\" bgcolor=\"#FFFFFFFF\" "
                   "colspan=\"%1\"><b><font "
                   "face=\"Arial\" size=\"1\">%2</font></b></td>")
        .arg(span)
        .arg(text);
}

// A week at the turn of the year for two people: four header rows (month, week, weekday, day), the name
// column, four days of which the Saturday is hidden.
class Planning {
public:
    QTemporaryDir folder;
    QString tempFolder;
    PlanningMatrix matrix;
    PlanningGrid grid;
    ColourRules rules{[](const QString&) {}};
    LanguageTexts texts;
    HtmlReportInput input{.matrix = matrix,
                          .grid = grid,
                          .rules = rules,
                          .useFilters = true,
                          .texts = texts,
                          .teamText = "Support",
                          .firstDay = QDateTime(QDate(2026, 12, 30), QTime(0, 0)),
                          .lastDay = QDateTime(QDate(2027, 1, 2), QTime(17, 30)),
                          .statusText = "Last refresh: 30/12/2026 09:15",
                          .heightCol = 60,
                          .templateFolder = kTemplates,
                          .tempFolder = QString(),
                          .pictureName = {},
                          .locale = QLocale(QLocale::English, QLocale::UnitedKingdom)};

    explicit Planning(const QString& dayPattern = "dd mmm")
    {
        tempFolder = folder.filePath("temp") + "/";
        QDir().mkpath(tempFolder);
        input.tempFolder = tempFolder;
        input.pictureName = [] { return QString("planning.jpg"); };
        setLanguage(dayPattern);

        const QStringList headers[4] = {{"", "DEC", "DEC", "JAN", "JAN"},
                                        {"", "Week 53", "Week 53", "Week 53", "Week 53"},
                                        {"", "Wednesday", "Thursday", "Friday", "Saturday"},
                                        {"", "30 Dec", "31 Dec", "01 Jan", "02 Jan"}};
        const QStringList cells[2] = {{"Anna Kowalska", "&nbsp", "Support stand-up", "Holiday",
                                       "Queue &amp; tickets<br>------------<br>09:00-10:00 Stand-up"},
                                      {"Björn Lindqvist", "Customer call", "&nbsp", "&nbsp", "On call"}};
        const QStringList colours[2] = {{"FFFFFF", "FFFFFF", "C4C400", "FF8080", "ABCD"},
                                        {"FFFFFF", "80FF80", "FFFFFF", "1234567", "C4C400"}};
        grid.setColumns(5);
        grid.setRows(6);
        grid.setFixedRows(4);
        grid.setFixedColumns(1);
        grid.setColumnWidth(4, 0);
        for (int row = 0; row < 4; ++row)
            for (int column = 0; column < 5; ++column)
                matrix.cell(row, column).html = headers[row][column];
        for (int member = 0; member < 2; ++member) {
            for (int column = 0; column < 5; ++column) {
                matrix.cell(4 + member, column).html = cells[member][column];
                matrix.cell(4 + member, column).htmlColour = colours[member][column];
            }
        }
        // Beyond the grid's counts: never written.
        matrix.cell(6, 0).html = "Not in the grid";
        matrix.cell(4, 5).html = "Not in the grid";
        setRules({{"Holiday", 1, "FF8080"}, {"Blank colour", 2, "   "}, {"Customer", 3, "80FF80"}});
    }

    void setLanguage(const QString& dayPattern)
    {
        const QString languages = folder.filePath("Language");
        QDir().mkpath(languages);
        writeFile(languages + "/TestMsg.txt",
                  "001Categories\n002Subject\n003for team\n004Legend: filters applied\n"
                  "005From \n006 to \n029" +
                      dayPattern.toUtf8() + "\n");
        texts = LanguageTexts::load(languages, "Test");
    }

    void setRules(const QList<Rule>& list)
    {
        // Written in one go: the store saves (and syncs) on every single write.
        const QString path = folder.filePath(QString("rules-%1.ini").arg(++m_stores));
        QByteArray ini;
        QList<FilterListEntry> filters;
        for (const Rule& rule : list) {
            ini += QString("[%1]\nPrior=%2\nType=Subject\nTxt=%1;\nColorHtml=%3\n")
                       .arg(rule.name)
                       .arg(rule.priority)
                       .arg(rule.html)
                       .toUtf8();
            filters.append({rule.name, true});
        }
        writeFile(path, ini);
        rules.load(filters, SettingsStore(path), texts);
    }

    QStringList report(bool colourOnly, bool asTable)
    {
        return linesOf(readFile(writeHtmlReport(input, colourOnly, asTable)));
    }

    QString templateWith(const QByteArray& header, const QByteArray* footer = nullptr)
    {
        const QString templates = folder.filePath(QString("templates-%1").arg(++m_stores));
        QDir().mkpath(templates);
        writeFile(templates + "/htmlheader.htm", header);
        if (footer)
            writeFile(templates + "/htmlfooter.htm", *footer);
        return templates;
    }

private:
    int m_stores = 0;
};

// The lines of header row `row` of the first table: between the table start and that row's end.
QStringList headerRow(const QStringList& lines, int row)
{
    qsizetype at = lines.indexOf(QRegularExpression("<table width=.*")) + 1;
    for (int skipped = 0; skipped < row; ++skipped)
        at = lines.indexOf("</tr><tr>", at) + 1;
    return lines.mid(at, lines.indexOf("</tr><tr>", at) - at);
}

} // namespace

Q_DECLARE_METATYPE(Rule)

class TestHtmlReport : public QObject {
    Q_OBJECT

private slots:
    void golden_data();
    void golden();
    void headerRuns_data();
    void headerRuns();
    void shortHeaders_data();
    void shortHeaders();
    void memberCells_data();
    void memberCells();
    void hiddenColumnsWritten();
    void titleWithoutTeam();
    void headerTemplate_data();
    void headerTemplate();
    void legend_data();
    void legend();
    void noFooter();
    void assetsCopied();
    void shippedTemplates();
    void failures_data();
    void failures();
    void pictureFailurePassesThrough();
    void pageReplacesLinkNotTarget();
    void deliver();
    void deliverFailure();
};

void TestHtmlReport::golden_data()
{
    QTest::addColumn<bool>("colourOnly");
    QTest::addColumn<bool>("asTable");
    QTest::addColumn<bool>("useFilters");
    QTest::addColumn<QString>("golden");
    QTest::newRow("detailed table, legend") << false << true << true << "detailed.htm";
    QTest::newRow("colour table") << true << true << false << "colour.htm";
    QTest::newRow("picture, legend") << false << false << true << "picture.htm";
}

void TestHtmlReport::golden()
{
    QFETCH(bool, colourOnly);
    QFETCH(bool, asTable);
    QFETCH(bool, useFilters);
    QFETCH(QString, golden);
    Planning planning;
    planning.input.useFilters = useFilters;
    int pictures = 0;
    planning.input.pictureName = [&] {
        ++pictures;
        return QString("planning.jpg");
    };

    const QString path = writeHtmlReport(planning.input, colourOnly, asTable);
    QCOMPARE(path, planning.tempFolder + "tempPlanning.htm");
    QCOMPARE(pictures, asTable ? 0 : 1);
    const QByteArray page = readFile(path);
    const QString goldenPath = kGoldenFolder + "/" + golden;
    // ROTAVINE_UPDATE_GOLDEN=1 rewrites the golden file: for a deliberate change of the page, read before
    // committing.
    if (qEnvironmentVariableIsSet("ROTAVINE_UPDATE_GOLDEN"))
        writeFile(goldenPath, page);
    // Line by line first, for a readable difference; then the bytes, line ends included.
    QCOMPARE(linesOf(page), linesOf(readFile(goldenPath)));
    QCOMPARE(page, readFile(goldenPath));
}

void TestHtmlReport::headerRuns_data()
{
    QTest::addColumn<QStringList>("texts"); // header row 1, columns 0 to 4
    QTest::addColumn<int>("fixedColumns");
    QTest::addColumn<QStringList>("cells");
    QTest::newRow("one run across all columns")
        << QStringList{"W", "W", "W", "W", "W"} << 1 << QStringList{headerCell(5, "W")};
    QTest::newRow("last run of one column")
        << QStringList{"", "A", "A", "A", "B"} << 1
        << QStringList{headerCell(1, ""), headerCell(3, "A"), headerCell(1, "B")};
    QTest::newRow("equal texts apart are two runs")
        << QStringList{"", "A", "B", "A", "A"} << 1
        << QStringList{headerCell(1, ""), headerCell(1, "A"), headerCell(1, "B"), headerCell(2, "A")};
    QTest::newRow("exact comparison")
        << QStringList{"", "a", "A", "A ", "A "} << 1
        << QStringList{headerCell(1, ""), headerCell(1, "a"), headerCell(1, "A"), headerCell(2, "A ")};
    QTest::newRow("two fixed columns start at the second")
        << QStringList{"x", "", "A", "A", "A"} << 2 << QStringList{headerCell(1, ""), headerCell(3, "A")};
    QTest::newRow("no fixed column starts at the first")
        << QStringList{"A", "A", "A", "A", "B"} << 0 << QStringList{headerCell(4, "A"), headerCell(1, "B")};
}

void TestHtmlReport::headerRuns()
{
    QFETCH(QStringList, texts);
    QFETCH(int, fixedColumns);
    QFETCH(QStringList, cells);
    Planning planning;
    planning.grid.setFixedColumns(fixedColumns);
    for (int column = 0; column < 5; ++column)
        planning.matrix.cell(1, column).html = texts[column];
    for (const bool colourOnly : {false, true})
        QCOMPARE(headerRow(planning.report(colourOnly, true), 1), cells);
}

void TestHtmlReport::shortHeaders_data()
{
    QTest::addColumn<QString>("pattern");  // message 29
    QTest::addColumn<QStringList>("days"); // header row 3, columns 1 to 4
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("day first") << "dd mmm" << QStringList{"30 Dec", "31 Dec", "01 Jan", "02 Jan"}
                               << QStringList{"30", "31", "01", "02"};
    QTest::newRow("day last") << "mmm dd" << QStringList{"Dec 30", "Dec 31", "Jan 01", "Jan 02"}
                              << QStringList{"30", "31", "01", "02"};
    QTest::newRow("day first, capitals")
        << "DD/MM" << QStringList{"30/12", "31/12", "01/01", "02/01"} << QStringList{"30", "31", "01", "02"};
    QTest::newRow("pattern not starting with dd keeps the last two")
        << "d/m" << QStringList{"30/12", "31/12", "1/1", "2/1"} << QStringList{"12", "12", "/1", "/1"};
    QTest::newRow("short texts") << "dd" << QStringList{"3", "", "31", "1"}
                                 << QStringList{"3", "", "31", "1"};
}

void TestHtmlReport::shortHeaders()
{
    QFETCH(QString, pattern);
    QFETCH(QStringList, days);
    QFETCH(QStringList, shown);
    Planning planning(pattern);
    for (int column = 1; column <= 4; ++column)
        planning.matrix.cell(3, column).html = days[column - 1];

    const QStringList colour = planning.report(true, true);
    QStringList expected{headerCell(1, "")};
    for (const QString& day : shown)
        expected << headerCell(1, day);
    QCOMPARE(headerRow(colour, 3), expected);
    // Weekdays become their initial; month and week rows keep their text.
    QCOMPARE(headerRow(colour, 2), (QStringList{headerCell(1, ""), headerCell(1, "W"), headerCell(1, "T"),
                                                headerCell(1, "F"), headerCell(1, "S")}));
    QCOMPARE(headerRow(colour, 0),
             (QStringList{headerCell(1, ""), headerCell(2, "DEC"), headerCell(2, "JAN")}));
    QCOMPARE(headerRow(colour, 1), (QStringList{headerCell(1, ""), headerCell(4, "Week 53")}));
    // The detailed table keeps every header whole.
    QCOMPARE(headerRow(planning.report(false, true), 3).at(1), headerCell(1, days[0]));
}

void TestHtmlReport::memberCells_data()
{
    QTest::addColumn<bool>("colourOnly");
    QTest::addColumn<int>("heightCol");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("colour"); // as the matrix holds it
    QTest::addColumn<QString>("line");
    const QString text = "Stand-up<br>------------<br>Call";
    QTest::newRow("detailed, HeightCol 0") << false << 0 << 2 << "C4C400" << memberCell("0", "C4C400", text);
    QTest::newRow("detailed, HeightCol 255")
        << false << 255 << 2 << "C4C400" << memberCell("255", "C4C400", text);
    QTest::newRow("colour only: width 0, no text")
        << true << 60 << 2 << "C4C400" << memberCell("0", "C4C400", "&nbsp");
    QTest::newRow("name column keeps its text in colour")
        << true << 60 << 0 << "FFFFFF" << memberCell("120", "FFFFFF", text);
    QTest::newRow("four-character colour") << false << 60 << 1 << "ABCD" << memberCell("60", "ABCD  ", text);
    QTest::newRow("seven-character colour")
        << true << 60 << 1 << "1234567" << memberCell("0", "123456", "&nbsp");
    QTest::newRow("empty colour") << false << 60 << 1 << "" << memberCell("60", "      ", text);
}

void TestHtmlReport::memberCells()
{
    QFETCH(bool, colourOnly);
    QFETCH(int, heightCol);
    QFETCH(int, column);
    QFETCH(QString, colour);
    QFETCH(QString, line);
    Planning planning;
    planning.input.heightCol = heightCol;
    planning.matrix.cell(5, column).html = "Stand-up<br>------------<br>Call";
    planning.matrix.cell(5, column).htmlColour = colour;

    const QStringList lines = planning.report(colourOnly, true);
    // Row 5 is the second member row: after the first one's five cells, "</tr>" and "<tr>".
    const qsizetype firstMember = lines.lastIndexOf("</tr><tr>") + 1;
    QCOMPARE(lines.mid(firstMember + 5, 2), (QStringList{"</tr>", "<tr>"}));
    QCOMPARE(lines.at(firstMember + 7 + column), line);
}

void TestHtmlReport::hiddenColumnsWritten()
{
    Planning planning;
    planning.input.useFilters = false;
    for (int column = 1; column < 5; ++column)
        planning.grid.setColumnWidth(column, 0);
    const QStringList lines = planning.report(false, true);
    // Two members of five cells each, whatever the widths; the table ends with an empty row start.
    const qsizetype cells = std::count_if(
        lines.begin(), lines.end(), [](const QString& line) { return line.startsWith("<td width= \""); });
    QCOMPARE(cells, 10);
    QCOMPARE(headerRow(lines, 2).size(), 5);
    QCOMPARE(lines.mid(lines.indexOf("</table>") - 2, 3), (QStringList{"</tr>", "<tr>", "</table>"}));
}

void TestHtmlReport::titleWithoutTeam()
{
    Planning planning;
    planning.input.teamText.clear();
    const QStringList lines = planning.report(false, false);
    QVERIFY(
        lines.contains("<p><strong><font face=\"Verdana, Arial, Helvetica, sans-serif\" size=\"2\">PLANNING "
                       "for team:  <br>"));
}

void TestHtmlReport::headerTemplate_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QStringList>("copied");
    QTest::newRow("no marker: copied whole")
        << QByteArray("<html>\n<body>\n<h1>Team</h1>\n") << QStringList{"<html>", "<body>", "<h1>Team</h1>"};
    QTest::newRow("marker in capitals")
        << QByteArray("<html>\n<body>\n<!-- \\BODY -->\nsample\n") << QStringList{"<html>", "<body>"};
    QTest::newRow("marker in mixed case inside a line")
        << QByteArray("<html>\r\n<body>x\\Body y\r\nsample\r\n") << QStringList{"<html>"};
    QTest::newRow("marker on the first line") << QByteArray("\\body\n<html>\n") << QStringList{};
    QTest::newRow("<body> alone is no marker")
        << QByteArray("<BODY>\n<body class=\"a\">\n") << QStringList{"<BODY>", "<body class=\"a\">"};
    QTest::newRow("last line without a line end")
        << QByteArray("<html>\n<body>") << QStringList{"<html>", "<body>"};
    QTest::newRow("empty lines kept")
        << QByteArray("<html>\n\n\n<body>\n") << QStringList{"<html>", "", "", "<body>"};
    QTest::newRow("empty template") << QByteArray() << QStringList{};
}

void TestHtmlReport::headerTemplate()
{
    QFETCH(QByteArray, header);
    QFETCH(QStringList, copied);
    Planning planning;
    planning.input.templateFolder = planning.templateWith(header);
    const QStringList lines = planning.report(false, true);
    QCOMPARE(lines.mid(0, copied.size()), copied);
    QVERIFY2(lines.at(copied.size()).startsWith("<p><strong>"), qPrintable(lines.at(copied.size())));
}

void TestHtmlReport::legend_data()
{
    QTest::addColumn<QList<Rule>>("rules");
    QTest::addColumn<QStringList>("legend");
    const QString start =
        "<table BORDER=\"1\" CELLSPACING=\"0\" BORDERCOLOR=\"#CCCCCC\" BORDERCOLORLIGHT=\"#808080\">";
    QTest::newRow("all colours blank")
        << QList<Rule>{{"Blank", 4, ""}, {"Spaces", 5, "      "}}
        << QStringList{"<p>Legend: filters applied</p>", start, "<tr>", "</table>"};
    QTest::newRow("by priority, colours fitted to six")
        << QList<Rule>{{"Late", 16, "1234567"}, {"Early", 1, "ABC"}}
        << QStringList{
               "<p>Legend: filters applied</p>",
               start,
               "<tr>",
               "<td height= \"0\" width= \"20\" bgcolor=\"#ABC   \"> <font color=\"#ABC   \" face=\"Arial\" "
               "size=\"1\">&nbsp</font></td>",
               "<td width= \"200\" align=\"left\" valign=\"TOP\" bgcolor=\"#FFFFFF\"> <font color=\"#ABC   "
               "\" face=\"Verdana\" size=\"1\">Early</font></td>",
               "</tr>",
               "<tr>",
               "<td height= \"0\" width= \"20\" bgcolor=\"#123456\"> <font color=\"#123456\" face=\"Arial\" "
               "size=\"1\">&nbsp</font></td>",
               "<td width= \"200\" align=\"left\" valign=\"TOP\" bgcolor=\"#FFFFFF\"> <font "
               "color=\"#123456\" face=\"Verdana\" size=\"1\">Late</font></td>",
               "</tr>",
               "<tr>",
               "</table>"};
}

void TestHtmlReport::legend()
{
    QFETCH(QList<Rule>, rules);
    QFETCH(QStringList, legend);
    Planning planning;
    planning.setRules(rules);
    planning.input.templateFolder = planning.templateWith("<html>\n");
    const QStringList lines = planning.report(false, false);
    QCOMPARE(lines.mid(lines.indexOf(legend.first())), legend);

    planning.input.useFilters = false;
    QVERIFY(!planning.report(false, false).contains(legend.first()));
}

void TestHtmlReport::noFooter()
{
    Planning planning;
    planning.input.useFilters = false;
    planning.input.templateFolder = planning.templateWith("<html>\n");
    QCOMPARE(planning.report(false, true).last(), QString("</table>"));
    const QByteArray footer = "</body>\n</html>\n";
    planning.input.templateFolder = planning.templateWith("<html>\n", &footer);
    const QStringList lines = planning.report(false, true);
    QCOMPARE(lines.sliced(lines.size() - 3), (QStringList{"</table>", "</body>", "</html>"}));
}

void TestHtmlReport::assetsCopied()
{
    Planning planning;
    writeFile(planning.tempFolder + "report.css", "an older style sheet");
    planning.report(false, true);
    QStringList files =
        QDir(planning.tempFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    files.sort();
    // Visible files only, no folders; nothing else left behind.
    QCOMPARE(files, (QStringList{"htmlfooter.htm", "htmlheader.htm", "report.css", "tempPlanning.htm"}));
    QCOMPARE(readFile(planning.tempFolder + "report.css"), readFile(kTemplates + "/report.css"));
}

void TestHtmlReport::shippedTemplates()
{
    Planning planning;
    planning.input.templateFolder = HtmlReport::templateFolder();
    QCOMPARE(QDir(planning.input.templateFolder).canonicalPath(),
             QDir(ROTAVINE_SOURCE_DATA "/htmltemplate").canonicalPath());
    const QStringList lines = planning.report(false, true);
    QCOMPARE(lines.first(), QString("<!DOCTYPE html>"));
    QVERIFY(lines.contains("<meta charset=\"utf-8\">"));
    QVERIFY(lines.contains("<link rel=\"stylesheet\" href=\"rotavine.css\">"));
    QCOMPARE(lines.last(), QString("</html>"));
    // What the page links to lies beside it.
    QVERIFY(QFileInfo::exists(planning.tempFolder + "rotavine.css"));
    QVERIFY(QFileInfo::exists(planning.tempFolder + "rotavine-logo.svg"));
}

void TestHtmlReport::failures_data()
{
    QTest::addColumn<QString>("templates");  // "fixture", "missing" or "no header"
    QTest::addColumn<QString>("tempFolder"); // "fixture" or "missing"
    QTest::addColumn<QString>("says");
    QTest::newRow("no header template") << "no header"
                                        << "fixture"
                                        << "htmlheader.htm is missing";
    QTest::newRow("no template folder") << "missing"
                                        << "fixture"
                                        << "cannot be read";
    QTest::newRow("no temporary folder") << "fixture"
                                         << "missing"
                                         << "cannot be copied";
}

void TestHtmlReport::failures()
{
    QFETCH(QString, templates);
    QFETCH(QString, tempFolder);
    QFETCH(QString, says);
    Planning planning;
    if (templates == "missing")
        planning.input.templateFolder = planning.folder.filePath("no-such-folder");
    if (templates == "no header") {
        planning.input.templateFolder = planning.templateWith("");
        QFile::remove(planning.input.templateFolder + "/htmlheader.htm");
    }
    if (tempFolder == "missing")
        planning.input.tempFolder = planning.folder.filePath("no-such-temp/");
    if (tempFolder == "empty")
        planning.input.tempFolder.clear();
    try {
        writeHtmlReport(planning.input, false, true);
        QFAIL("the report should have failed");
    }
    catch (const ReportError& error) {
        QVERIFY2(error.description().contains(says), qPrintable(error.description()));
    }
    QVERIFY(!QFileInfo::exists(planning.input.tempFolder + "tempPlanning.htm"));
    QVERIFY(!QFileInfo::exists("tempPlanning.htm"));
}

void TestHtmlReport::pictureFailurePassesThrough()
{
    Planning planning;
    writeFile(planning.tempFolder + "tempPlanning.htm", "the last report");
    planning.input.pictureName = []() -> QString {
        throw JpegError("rotavine.mIntelJPEGLibrary", "Failed to save to JPG 28", "No space left on device");
    };
    QVERIFY_THROWS_EXCEPTION(JpegError, writeHtmlReport(planning.input, false, false));
    // The page is written whole or not at all: the last one stays.
    QCOMPARE(readFile(planning.tempFolder + "tempPlanning.htm"), QByteArray("the last report"));
}

void TestHtmlReport::pageReplacesLinkNotTarget()
{
    Planning planning;
    const QString elsewhere = planning.folder.filePath("elsewhere.txt");
    writeFile(elsewhere, "someone else's file");
    QVERIFY(QFile::link(elsewhere, planning.tempFolder + "tempPlanning.htm"));
    planning.report(false, true);
    QVERIFY(!QFileInfo(planning.tempFolder + "tempPlanning.htm").isSymLink());
    QCOMPARE(readFile(elsewhere), QByteArray("someone else's file"));
}

void TestHtmlReport::deliver()
{
    Planning planning;
    const QString page = writeHtmlReport(planning.input, false, true);
    const QString output = planning.folder.filePath("published");
    QDir().mkpath(output);

    // No picture yet: the page alone, and no complaint.
    deliverReport(planning.tempFolder, output, "team.htm");
    QCOMPARE(readFile(output + "/team.htm"), readFile(page));
    QVERIFY(!QFileInfo::exists(output + "/planning.jpg"));

    // A picture left by an earlier report goes along; a page that stands there keeps its permissions.
    writeFile(planning.tempFolder + "planning.jpg", "picture bytes");
    QVERIFY(
        QFile::setPermissions(output + "/team.htm", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    writeFile(page, "a newer page");
    deliverReport(planning.tempFolder, output, "team.htm");
    QCOMPARE(readFile(output + "/team.htm"), QByteArray("a newer page"));
    QCOMPARE(readFile(output + "/planning.jpg"), QByteArray("picture bytes"));
    struct stat delivered {};
    QCOMPARE(::stat(QFile::encodeName(output + "/team.htm").constData(), &delivered), 0);
    QCOMPARE(delivered.st_mode & 07777, mode_t(0604));

    // With the shipped templates, what the page links to goes along; the templates themselves do not.
    deliverReport(planning.tempFolder, output, "team.htm", ROTAVINE_SOURCE_DATA "/htmltemplate");
    QVERIFY(QFileInfo::exists(output + "/rotavine.css"));
    QVERIFY(!QFileInfo::exists(output + "/htmlheader.htm"));
    QVERIFY(!QFileInfo::exists(output + "/htmlfooter.htm"));
}

void TestHtmlReport::deliverFailure()
{
    Planning planning;
    writeHtmlReport(planning.input, false, true);
    QVERIFY_THROWS_EXCEPTION(
        ReportError, deliverReport(planning.tempFolder, planning.folder.filePath("no-such-folder"), "t.htm"));
    QTemporaryDir empty;
    QVERIFY_THROWS_EXCEPTION(ReportError, deliverReport(empty.path(), planning.folder.path(), "t.htm"));
}

QTEST_GUILESS_MAIN(TestHtmlReport)
#include "tst_htmlreport.moc"
