#include "output/pagedplanning.h"

#include "output/gridpainter.h"
#include "output/htmlreport.h"
#include "output/outputfile.h"
#include "planning/planninggrid.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <cmath>

namespace {

// Everything on the page but the grid is laid out in points.
constexpr double kTwipsPerPoint = 20.0;
constexpr int kHeaderPoints = 9;
constexpr int kSmallPoints = 7;
constexpr double kHeaderBand = 18.0;
constexpr double kFooterBand = 14.0;
constexpr double kGap = 6.0;
constexpr double kSwatch = 8.0;
constexpr double kMarginMillimetres = 10.0;

QFont pointFont(int points, bool bold = false)
{
    // Pixels of a painter that draws in points: the size stays the same on any printer's resolution.
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(points);
    font.setBold(bold);
    return font;
}

// Where the legend's title and entries go in a block of `width` points: the entries flow in lines.
struct LegendPlace {
    QRectF swatch;
    QPointF text;
};

double legendLayout(const PagedPlanning::Texts& texts, double width, QList<LegendPlace>* places = nullptr)
{
    if (texts.legend.isEmpty())
        return 0;
    const QFontMetricsF metrics(pointFont(kSmallPoints));
    const double line = std::max(metrics.lineSpacing(), kSwatch) + 2;
    double x = 0;
    double y = texts.legendTitle.isEmpty() ? 0 : line;
    for (const PagedPlanning::LegendEntry& entry : texts.legend) {
        const double entryWidth = kSwatch + 3 + metrics.horizontalAdvance(entry.name) + 12;
        if (x > 0 && x + entryWidth > width) {
            x = 0;
            y += line;
        }
        if (places)
            places->append({QRectF(x, y + (line - kSwatch) / 2, kSwatch, kSwatch),
                            QPointF(x + kSwatch + 3, y + (line + metrics.ascent() - metrics.descent()) / 2)});
        x += entryWidth;
    }
    return y + line;
}

// Runs of rows or columns, each at most `room` long, one at least; `length` gives their sizes.
template <typename Length>
std::vector<std::pair<int, int>> bands(int first, int end, double room, Length length)
{
    std::vector<std::pair<int, int>> result;
    for (int start = first; start < end;) {
        int stop = start;
        double used = 0;
        while (stop < end && (stop == start || used + length(stop) <= room))
            used += length(stop++);
        result.emplace_back(start, stop);
        start = stop;
    }
    if (result.empty())
        result.emplace_back(first, first);
    return result;
}

double smallestTextPoints(const PlanningGrid& grid)
{
    double smallest = 0;
    for (int row = 0; row < grid.rows(); ++row)
        for (int column = 0; column < grid.columns(); ++column) {
            if (grid.text(row, column).isEmpty())
                continue;
            const double points =
                grid.fontSize(row, column) > 0 ? grid.fontSize(row, column) : GridPainter::kDefaultPointSize;
            smallest = smallest > 0 ? std::min(smallest, points) : points;
        }
    return smallest > 0 ? smallest : GridPainter::kDefaultPointSize;
}

} // namespace

namespace PagedPlanning {

QPageSize pageSize(Paper paper)
{
    switch (paper) {
    case Paper::A3:
        return QPageSize(QPageSize::A3);
    case Paper::Letter:
        return QPageSize(QPageSize::Letter);
    case Paper::A4:
        break;
    }
    return QPageSize(QPageSize::A4);
}

QPageLayout pageLayout(const Layout& layout)
{
    const double margin = kMarginMillimetres;
    return QPageLayout(pageSize(layout.paper), layout.orientation, QMarginsF(margin, margin, margin, margin),
                       QPageLayout::Millimeter);
}

std::optional<Paper> paperFromName(const QString& name)
{
    for (const Paper paper : {Paper::A4, Paper::A3, Paper::Letter})
        if (name.compare(paperName(paper), Qt::CaseInsensitive) == 0)
            return paper;
    return std::nullopt;
}

QString paperName(Paper paper)
{
    switch (paper) {
    case Paper::A3:
        return QStringLiteral("A3");
    case Paper::Letter:
        return QStringLiteral("Letter");
    case Paper::A4:
        break;
    }
    return QStringLiteral("A4");
}

Plan plan(const GridPainter& painter, const QPageLayout& page, const Layout& layout, const Texts& texts)
{
    const PlanningGrid& grid = painter.grid();
    const QRectF area = page.paintRect(QPageLayout::Point);
    const double gridHeight = area.height() - kHeaderBand - kFooterBand;
    const double legendHeight = texts.legend.isEmpty() ? 0 : legendLayout(texts, area.width()) + kGap;
    const int fixedWidth = painter.columnX(grid.fixedColumns());
    const int fixedHeight = painter.rowY(grid.fixedRows());

    Plan plan;
    const double fitted =
        area.width() / std::max(1, painter.fullSize().width()) * kTwipsPerPoint / painter.twipsPerPixel();
    const double readable = kMinimumTextPoints / smallestTextPoints(grid);
    plan.scale = layout.fit == Fit::Width ? std::max(std::min(1.0, fitted), std::min(1.0, readable)) : 1.0;
    const double pointsPerPixel = plan.scale * painter.twipsPerPixel() / kTwipsPerPoint;

    const auto columns =
        bands(grid.fixedColumns(), grid.columns(), area.width() / pointsPerPixel - fixedWidth,
              [&](int column) { return painter.columnWidth(column); });
    const double rowRoom = (gridHeight - (layout.legendOnEveryPage ? legendHeight : 0)) / pointsPerPixel;
    const auto rows = bands(grid.fixedRows(), grid.rows(), rowRoom - fixedHeight,
                            [&](int row) { return painter.rowHeight(row); });
    plan.across = int(columns.size());
    for (const auto& [firstColumn, endColumn] : columns)
        for (const auto& [firstRow, endRow] : rows)
            plan.pages.push_back({firstRow, endRow, firstColumn, endColumn, layout.legendOnEveryPage});
    if (texts.legend.isEmpty() || layout.legendOnEveryPage)
        return plan;
    // The legend goes under the last page's rows when they leave room for it, else on a page of its own.
    const Page& last = plan.pages.back();
    const double lastHeight =
        (painter.rowY(last.endRow) - painter.rowY(last.firstRow) + fixedHeight) * pointsPerPixel;
    if (lastHeight + legendHeight <= gridHeight)
        plan.pages.back().legend = true;
    else
        plan.pages.push_back({0, 0, last.firstColumn, last.firstColumn, true});
    return plan;
}

bool print(QPagedPaintDevice& device, const GridPainter& painter, const Layout& layout, const Texts& texts)
{
    const QPageLayout page = device.pageLayout();
    const Plan paged = plan(painter, page, layout, texts);
    const QRectF area(QPointF(0, 0), page.paintRect(QPageLayout::Point).size());
    const double pointsPerPixel = paged.scale * painter.twipsPerPixel() / kTwipsPerPoint;
    const PlanningGrid& grid = painter.grid();
    const int fixedWidth = painter.columnX(grid.fixedColumns());
    const int fixedHeight = painter.rowY(grid.fixedRows());

    QPainter paper;
    if (!paper.begin(&device))
        return false;
    paper.scale(device.logicalDpiX() / 72.0, device.logicalDpiY() / 72.0);
    const int count = int(paged.pages.size());
    for (int index = 0; index < count; ++index) {
        const Page& sheet = paged.pages[size_t(index)];
        if (index > 0)
            device.newPage();
        paper.setPen(Qt::black);
        paper.setFont(pointFont(kHeaderPoints, true));
        const QRectF header(0, 0, area.width(), kHeaderBand - kGap);
        paper.drawText(header, Qt::AlignLeft | Qt::AlignVCenter, texts.team);
        paper.setFont(pointFont(kHeaderPoints));
        paper.drawText(header, Qt::AlignRight | Qt::AlignVCenter, texts.period);
        paper.setFont(pointFont(kSmallPoints));
        paper.drawText(QRectF(0, area.height() - kFooterBand + kGap, area.width(), kFooterBand - kGap),
                       Qt::AlignCenter, texts.pageOf.arg(index + 1).arg(count));

        double bottom = kHeaderBand;
        if (sheet.endRow > sheet.firstRow) {
            const QRect viewport(
                0, 0, fixedWidth + painter.columnX(sheet.endColumn) - painter.columnX(sheet.firstColumn),
                fixedHeight + painter.rowY(sheet.endRow) - painter.rowY(sheet.firstRow));
            paper.save();
            paper.translate(0, kHeaderBand);
            paper.scale(pointsPerPixel, pointsPerPixel);
            painter.paintScrolled(paper, viewport, sheet.firstRow, sheet.firstColumn);
            paper.restore();
            bottom += viewport.height() * pointsPerPixel + kGap;
        }
        if (!sheet.legend || texts.legend.isEmpty())
            continue;
        QList<LegendPlace> places;
        legendLayout(texts, area.width(), &places);
        paper.save();
        paper.translate(0, bottom);
        paper.setFont(pointFont(kSmallPoints, true));
        paper.drawText(QPointF(0, QFontMetricsF(paper.font()).ascent()), texts.legendTitle);
        paper.setFont(pointFont(kSmallPoints));
        for (qsizetype entry = 0; entry < places.size(); ++entry) {
            paper.setPen(Qt::gray);
            paper.setBrush(texts.legend.at(entry).colour);
            paper.drawRect(places.at(entry).swatch);
            paper.setPen(Qt::black);
            paper.drawText(places.at(entry).text, texts.legend.at(entry).name);
        }
        paper.restore();
    }
    return paper.end();
}

void savePdf(const QString& fileName, const GridPainter& painter, const Layout& layout, const Texts& texts)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setPageLayout(pageLayout(layout));
        writer.setCreator(QStringLiteral("Rotavine"));
        writer.setTitle(texts.period.isEmpty() ? texts.team
                                               : texts.team + QStringLiteral(" \u2014 ") + texts.period);
        if (!print(writer, painter, layout, texts))
            throw ReportError(QStringLiteral("The PDF of the planning cannot be drawn"));
    }
    if (const auto failure = OutputFile::write(fileName, buffer.data()))
        throw ReportError(QStringLiteral("The PDF cannot be written: %1").arg(failure->reason));
}

} // namespace PagedPlanning
