#include "output/htmlreport.h"

#include "base/datetext.h"
#include "base/languagetexts.h"
#include "base/programpaths.h"
#include "base/textids.h"
#include "output/outputfile.h"
#include "planning/colourrules.h"
#include "planning/planninggrid.h"
#include "planning/planningmatrix.h"
#include "planning/querycontext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

constexpr int kNameColumnWidth = 120;
constexpr int kLegendSlots = 16;
const auto kEmptyCell = QStringLiteral("&nbsp");

QString nativePath(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// The page as it is assembled: lines ended by CR LF, UTF-8.
class Page {
public:
    void line(const QString& text) { rawLine(text.toUtf8()); }
    void rawLine(QByteArrayView bytes)
    {
        m_bytes.append(bytes);
        m_bytes.append("\r\n");
    }
    const QByteArray& bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

QByteArray readTemplate(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ReportError(QStringLiteral("The report template %1 cannot be read: %2")
                              .arg(nativePath(path), file.errorString()));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw ReportError(QStringLiteral("The report template %1 cannot be read: %2")
                              .arg(nativePath(path), file.errorString()));
    return bytes;
}

// Hands each line of a template, without its line end, to `take` until it returns false. The bytes are
// copied as they are, whatever their encoding.
template <typename Take>
void forEachLine(const QByteArray& bytes, Take&& take)
{
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        QByteArrayView line(bytes.constData() + start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        if (!take(line))
            return;
        start = end + 1;
    }
}

// Every visible regular file of the template folder (style sheets, pictures, the templates themselves) goes
// beside the page, so that the page finds what it links to.
void copyAssets(const QString& templateFolder, const QString& tempFolder)
{
    const QDir folder(templateFolder);
    const QFileInfo info(templateFolder);
    if (!info.isDir() || !info.isReadable())
        throw ReportError(
            QStringLiteral("The report template folder %1 cannot be read").arg(nativePath(templateFolder)));
    const QFileInfoList files = folder.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& file : files) {
        if (const auto failure =
                OutputFile::copy(file.filePath(), QDir(tempFolder).filePath(file.fileName())))
            throw ReportError(QStringLiteral("The report template %1 cannot be copied to %2: %3")
                                  .arg(file.fileName(), nativePath(tempFolder), failure->reason));
    }
}

void writeHeader(Page& page, const QString& templateFolder)
{
    const QString path = QDir(templateFolder).filePath(HtmlReport::kHeaderTemplate);
    if (!QFileInfo::exists(path))
        throw ReportError(QStringLiteral("The report header template %1 is missing").arg(nativePath(path)));
    // The template may go on past the page's opening (a sample body, say): the "\body" line marks the cut.
    forEachLine(readTemplate(path), [&page](QByteArrayView line) {
        if (line.toByteArray().toLower().contains("\\body"))
            return false;
        page.rawLine(line);
        return true;
    });
}

void writeTitle(Page& page, const HtmlReportInput& input)
{
    const LanguageTexts& texts = input.texts;
    const auto day = [&input](const QDateTime& value) {
        return input.locale.toUpper(DateText::generalDate(value, input.locale));
    };
    page.line(QStringLiteral(
                  "<p><strong><font face=\"Verdana, Arial, Helvetica, sans-serif\" size=\"2\">PLANNING ") +
              texts.message(Message::ReportTeamTitle) + QStringLiteral(":  ") + htmlText(input.teamText) +
              QStringLiteral("<br>"));
    page.line(texts.message(Message::ReportPeriodFrom) + day(input.firstDay) +
              texts.message(Message::ReportPeriodTo) + day(input.lastDay) + QStringLiteral("</strong></p>"));
    page.line(QStringLiteral("<p><font face=\"Arial\" size=\"1\">") + htmlText(input.statusText) +
              QStringLiteral("</p>"));
}

// A day header of the colour table: the weekday's initial, and the day number alone, taken from whichever end
// of the day pattern holds it.
QString shortHeader(int row, const QString& text, bool dayNumberFirst)
{
    if (row == 2)
        return text.left(1).toUpper();
    if (row == 3)
        return dayNumberFirst ? text.left(2) : text.right(2);
    return text;
}

void writeTable(Page& page, const HtmlReportInput& input, bool colourOnly)
{
    const PlanningMatrix& matrix = input.matrix;
    // The matrix is read only inside the grid's counts, and never outside its own bounds.
    const int rows = std::clamp(input.grid.rows(), 0, PlanningMatrix::kRows);
    const int columns = std::clamp(input.grid.columns(), 0, PlanningMatrix::kColumns);
    const int fixedRows = std::clamp(input.grid.fixedRows(), 0, rows);
    const int firstHeaderColumn = std::max(input.grid.fixedColumns() - 1, 0);
    const bool dayNumberFirst = input.texts.message(Message::DayHeaderPattern)
                                    .startsWith(QLatin1StringView("dd"), Qt::CaseInsensitive);

    page.line(QStringLiteral("<table width=\"0\" BORDER=\"1\" CELLSPACING=\"0\" BORDERCOLOR=\"#CCCCCC\" "
                             "BORDERCOLORLIGHT=\"#808080\"><tr>"));

    // Header rows: neighbouring columns with the same text become one cell spanning them.
    for (int row = 0; row < fixedRows; ++row) {
        int column = firstHeaderColumn;
        while (column < columns) {
            const QString& text = matrix.cell(row, column).html;
            int end = column + 1;
            while (end < columns && matrix.cell(row, end).html == text)
                ++end;
            page.line(QStringLiteral("<td width=\"0\" align=\"center\" valign=\"TOP\" bgcolor=\"#FFFFFFFF\" "
                                     "colspan=\"") +
                      QString::number(end - column) +
                      QStringLiteral("\"><b><font face=\"Arial\" size=\"1\">") +
                      (colourOnly ? shortHeader(row, text, dayNumberFirst) : text) +
                      QStringLiteral("</font></b></td>"));
            column = end;
        }
        page.line(QStringLiteral("</tr><tr>"));
    }

    // Member rows. Hidden columns are written like the others: the report never looks at widths.
    const QString dayWidth = colourOnly ? QStringLiteral("0") : QString::number(input.heightCol);
    for (int row = fixedRows; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const PlanningCell& cell = matrix.cell(row, column);
            const bool name = column == 0;
            page.line(QStringLiteral("<td width= \"") +
                      (name ? QString::number(kNameColumnWidth) : dayWidth) +
                      QStringLiteral("\" align=\"Left\" valign=\"TOP\" bgcolor=\"#") +
                      fitHtmlColour(cell.htmlColour) +
                      QStringLiteral("\" nowrap> <font color=\"#000000\" face=\"Arial\" size=\"1\">") +
                      (name || !colourOnly ? cell.html : kEmptyCell) + QStringLiteral("</font></td>"));
        }
        page.line(QStringLiteral("</tr>"));
        page.line(QStringLiteral("<tr>"));
    }
    page.line(QStringLiteral("</table>"));
}

void writeLegend(Page& page, const HtmlReportInput& input)
{
    page.line(QStringLiteral("<p>") + input.texts.message(Message::ReportLegendTitle) +
              QStringLiteral("</p>"));
    page.line(QStringLiteral(
        "<table BORDER=\"1\" CELLSPACING=\"0\" BORDERCOLOR=\"#CCCCCC\" BORDERCOLORLIGHT=\"#808080\">"));
    page.line(QStringLiteral("<tr>"));
    for (int priority = 1; priority <= kLegendSlots; ++priority) {
        const ColourRules::Slot& slot = input.rules.slot(priority);
        const QString colour = fitHtmlColour(slot.htmlColour);
        if (colour.trimmed().isEmpty())
            continue;
        page.line(QStringLiteral("<td height= \"0\" width= \"20\" bgcolor=\"#") + colour +
                  QStringLiteral("\"> <font color=\"#") + colour +
                  QStringLiteral("\" face=\"Arial\" size=\"1\">&nbsp</font></td>"));
        page.line(QStringLiteral("<td width= \"200\" align=\"left\" valign=\"TOP\" bgcolor=\"#FFFFFF\"> "
                                 "<font color=\"#") +
                  colour + QStringLiteral("\" face=\"Verdana\" size=\"1\">") + htmlText(slot.name) +
                  QStringLiteral("</font></td>"));
        page.line(QStringLiteral("</tr>"));
        page.line(QStringLiteral("<tr>"));
    }
    page.line(QStringLiteral("</table>"));
}

void writeFooter(Page& page, const QString& templateFolder)
{
    const QString path = QDir(templateFolder).filePath(HtmlReport::kFooterTemplate);
    if (!QFileInfo::exists(path))
        return;
    forEachLine(readTemplate(path), [&page](QByteArrayView line) {
        page.rawLine(line);
        return true;
    });
}

} // namespace

namespace HtmlReport {

QString templateFolder()
{
    return ProgramPaths::dataFolder() + QStringLiteral("/htmltemplate");
}

} // namespace HtmlReport

QString writeHtmlReport(const HtmlReportInput& input, bool colourOnly, bool asTable)
{
    // An empty name would put the files in whatever the current folder happens to be.
    if (input.tempFolder.isEmpty())
        throw ReportError(QStringLiteral("No temporary folder was given for the report"));
    copyAssets(input.templateFolder, input.tempFolder);

    Page page;
    writeHeader(page, input.templateFolder);
    writeTitle(page, input);
    if (asTable) {
        writeTable(page, input, colourOnly);
    }
    else {
        if (!input.pictureName)
            throw ReportError(
                QStringLiteral("The picture report was asked for without a way to save the picture"));
        const QString picture = input.pictureName();
        page.line(QStringLiteral("<div align=\"center\"><img src=\"") + picture +
                  QStringLiteral("\" Border=\"3\"></div>"));
    }
    if (input.useFilters)
        writeLegend(page, input);
    writeFooter(page, input.templateFolder);

    const QString path = QDir(input.tempFolder).filePath(HtmlReport::kReportFile);
    if (const auto failure = OutputFile::write(path, page.bytes()))
        throw ReportError(QStringLiteral("The report cannot be written: %1").arg(failure->reason));
    return path;
}

void deliverReport(const QString& tempFolder, const QString& outputFolder, const QString& outputFile,
                   bool withPicture, const QString& templateFolder, PictureFormat format)
{
    OutputFile::Options options;
    options.keepMode = true;
    const QString page = QDir(tempFolder).filePath(HtmlReport::kReportFile);
    if (const auto failure = OutputFile::copy(page, QDir(outputFolder).filePath(outputFile), options))
        throw ReportError(QStringLiteral("The report cannot be delivered: %1").arg(failure->reason));
    // Only what this report made goes along: a picture left by an earlier picture report of another team
    // stays where it is.
    if (withPicture)
        OutputFile::copy(QDir(tempFolder).filePath(pictureFileName(format)),
                         QDir(outputFolder).filePath(pictureFileName(format)), options);
    // What the page links to (style sheet, logo) goes with it; the templates themselves stay home, and
    // nothing goes over the page itself.
    if (templateFolder.isEmpty())
        return;
    const QFileInfoList assets = QDir(templateFolder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo& asset : assets) {
        if (asset.fileName() == HtmlReport::kHeaderTemplate ||
            asset.fileName() == HtmlReport::kFooterTemplate || asset.fileName() == outputFile)
            continue;
        OutputFile::copy(asset.filePath(), QDir(outputFolder).filePath(asset.fileName()), options);
    }
}
