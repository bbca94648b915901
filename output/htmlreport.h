#pragma once

#include "output/planningpicture.h"

#include <QByteArray>
#include <QDateTime>
#include <QLatin1StringView>
#include <QLocale>
#include <QString>

#include <exception>
#include <functional>

class ColourRules;
class LanguageTexts;
class PlanningGrid;
class PlanningMatrix;

// A report that could not be written or delivered, with what went wrong.
class ReportError : public std::exception {
public:
    explicit ReportError(QString description) : m_description(std::move(description))
    {
        m_what = m_description.toUtf8();
    }
    QString description() const { return m_description; }
    const char* what() const noexcept override { return m_what.constData(); }

private:
    QString m_description;
    QByteArray m_what;
};

// Everything the report reads, taken at the time of the call.
struct HtmlReportInput {
    const PlanningMatrix& matrix;
    const PlanningGrid& grid; // its row, column and fixed counts bound what is read of the matrix
    const ColourRules& rules;
    bool useFilters = false; // the legend of the rules is written only then
    const LanguageTexts& texts;
    QString teamText;
    QDateTime firstDay;
    QDateTime lastDay;
    QString statusText; // the time of the last refresh, as the status bar shows it
    int heightCol = 60; // width of every day cell in the detailed table
    QString templateFolder;
    QString tempFolder;
    // Saves the planning picture into the temporary folder and returns its name relative to the page. Called
    // by the picture report only.
    std::function<QString()> pictureName;
    QLocale locale = QLocale(); // the dates are written in its general date form
};

namespace HtmlReport {

inline constexpr QLatin1StringView kReportFile("tempPlanning.htm");
inline constexpr QLatin1StringView kHeaderTemplate("htmlheader.htm");
inline constexpr QLatin1StringView kFooterTemplate("htmlfooter.htm");

// Where the program's templates are: the data folder's "htmltemplate".
QString templateFolder();

} // namespace HtmlReport

// Writes the planning as a web page, tempFolder/tempPlanning.htm, and returns its path. The page is the
// header template up to its "\body" line, a title block, the planning (a table of the cell texts; a table of
// colours only under shortened day headers when colourOnly is set; or, when asTable is not set, the picture
// that input.pictureName saves), the legend of the rules when filters are used, and the footer template.
// Every other visible file of the template folder is copied beside it first. Lines end in CR LF; the text is
// UTF-8. Cell texts are HTML already; the team's name, the rules' names and the status text are escaped, for
// they come from the address book and the settings, which may hold "<" or "&".
//
// The page appears whole or not at all. Throws ReportError when it cannot be written (no header template,
// a template folder or temporary folder that cannot be read or written); a JpegError from pictureName
// passes through.
QString writeHtmlReport(const HtmlReportInput& input, bool colourOnly, bool asTable);

// Unattended delivery: copies the page to outputFolder/outputFile, then, for a picture report, its picture
// (tempFolder/planning.jpg, or planning.png) to the output folder, and the template folder's assets (style
// sheet, logo) beside it, so that the page looks there as it does on the desktop. Each file appears whole at
// once and keeps the permission bits of a file it replaces; anything at a target that is not a file (a
// device, a pipe) is left alone. A picture or asset that cannot be copied is no failure; a page that cannot
// be throws ReportError.
void deliverReport(const QString& tempFolder, const QString& outputFolder, const QString& outputFile,
                   bool withPicture, const QString& templateFolder = {},
                   PictureFormat format = PictureFormat::Jpeg);
