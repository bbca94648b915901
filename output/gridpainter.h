#pragma once

#include "planning/planninggrid.h"

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>
#include <vector>

class QPainter;

// Draws a PlanningGrid. The grid widget, the clipboard picture and the JPEG export all go through this one
// class, so what is exported is what is seen.
//
// Layout: fixed rows stay at the top and fixed columns at the left; below and right of them the data rows
// start at the grid's top row and the data columns at a given first scrollable column. The unscrolled
// layout starts them at the first data row and column. Sizes are the grid's twips turned into pixels; each
// row and column is rounded on its own, so cells tile without gaps and a width of 0 hides a column.
class GridPainter {
public:
    static constexpr double kDefaultPointSize = 8.0;

    explicit GridPainter(const PlanningGrid& grid,
                         double twipsPerPixel = PlanningGrid::kTwipsPerPixelAt96Dpi);
    virtual ~GridPainter() = default;

    double twipsPerPixel() const { return m_twipsPerPixel; }
    void setTwipsPerPixel(double twipsPerPixel);
    // Background of fixed cells without a colour of their own.
    QColor fixedBackground() const { return m_fixedBackground; }
    void setFixedBackground(const QColor& colour) { m_fixedBackground = colour; }

    int columnWidth(int column) const; // pixels
    int rowHeight(int row) const;      // pixels
    // Positions in the unscrolled layout.
    int columnX(int column) const;
    int rowY(int row) const;
    QSize fullSize() const;

    // Draws the cells that meet the viewport (layout coordinates), each merged block once.
    void paint(QPainter& painter, const QRect& viewport, int firstScrollColumn) const;
    // The whole grid, unscrolled, on white.
    QImage renderAll() const;
    // (column, row) of the cell under the point, nothing outside the cells.
    std::optional<QPoint> cellAt(const QPoint& position, int firstScrollColumn) const;

    static QColor fromOleColour(qint64 oleColour);

protected:
    // Draws one cell or merged block; rect is its full extent, possibly reaching outside the clip.
    virtual void paintBlock(QPainter& painter, const PlanningGrid::Range& block, const QRect& rect) const;

private:
    struct Span {
        int index;
        int start; // pixels
        int length;
    };
    // The columns (rows) shown from the start of a scrolled layout up to extent, fixed ones first.
    std::vector<Span> columnSpans(int firstScrollColumn, int extent) const;
    std::vector<Span> rowSpans(int firstScrollRow, int extent) const;
    int fixedWidth() const;
    int fixedHeight() const;
    // Positions in a scrolled layout; columns scrolled away lie left of the fixed ones.
    int layoutX(int column, int firstScrollColumn) const;
    int layoutY(int row, int firstScrollRow) const;
    void paintLayout(QPainter& painter, const QRect& viewport, int firstScrollRow,
                     int firstScrollColumn) const;
    int toPixels(int twips) const;

    const PlanningGrid& m_grid;
    double m_twipsPerPixel;
    QColor m_fixedBackground;
};
