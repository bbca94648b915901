#pragma once

#include <QColor>
#include <QList>
#include <QPageLayout>
#include <QPageSize>
#include <QString>

#include <optional>
#include <vector>

class GridPainter;
class QPagedPaintDevice;
class QPainter;

// The planning on paper (a printer or a PDF file), drawn by the painter the screen uses, as vector graphics
// with real text. A planning wider than the page is either scaled down to the page's width or cut into
// pages across and down, always between columns and rows; every page repeats the fixed header rows and the
// member names, and carries a header line (team, period) and a footer "page i of n".
//
// Pages run down first: a column of pages holds one stretch of days for the whole team, so the pages come
// in the order of the calendar and a stack of them reads as one period after the next.
namespace PagedPlanning {

enum class Paper { A4, A3, Letter };
enum class Fit { Width, Tile };

struct Layout {
    Paper paper = Paper::A4;
    QPageLayout::Orientation orientation = QPageLayout::Landscape;
    Fit fit = Fit::Width;
    bool legendOnEveryPage = false;
};

struct LegendEntry {
    QString name;
    QColor colour;
};

// What the caller says on the pages, in the language in use.
struct Texts {
    QString team;
    QString period;
    QString pageOf = QStringLiteral("page %1 of %2"); // %1 the page, %2 the count
    QString legendTitle;
    QList<LegendEntry> legend; // no legend when empty
};

// The smallest cell text that is still read on paper; fitting to the width never goes below it.
inline constexpr double kMinimumTextPoints = 5.0;

// One page: the data rows [firstRow, endRow) and columns [firstColumn, endColumn) beside the fixed ones;
// an empty row range for a page that holds the legend alone.
struct Page {
    int firstRow = 0;
    int endRow = 0;
    int firstColumn = 0;
    int endColumn = 0;
    bool legend = false;
};

struct Plan {
    double scale = 1.0; // the grid's pixels to paper, 1 at the screen's size (96 per inch)
    int across = 0;     // columns of pages
    std::vector<Page> pages;
};

QPageSize pageSize(Paper paper);
QPageLayout pageLayout(const Layout& layout);
// "A4", "A3", "Letter"; nothing for another name (letter case does not count).
std::optional<Paper> paperFromName(const QString& name);
QString paperName(Paper paper);

// How the grid goes onto pages of `page` (its paper, orientation and margins), by the fit and the legend's
// place of `layout`.
Plan plan(const GridPainter& painter, const QPageLayout& page, const Layout& layout, const Texts& texts);

// Draws every page onto the device as it is set up (a printer keeps the paper its dialog chose). False when
// the device cannot be painted on.
bool print(QPagedPaintDevice& device, const GridPainter& painter, const Layout& layout, const Texts& texts);

// Writes the PDF file; it appears whole or not at all. Throws ReportError when it cannot be written.
void savePdf(const QString& fileName, const GridPainter& painter, const Layout& layout, const Texts& texts);

} // namespace PagedPlanning
