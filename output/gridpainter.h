#pragma once

#include "planning/planninggrid.h"

#include <QColor>
#include <QHash>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <functional>
#include <optional>
#include <vector>

class QFontMetrics;
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

    // The font a cell's text is drawn in, and the pixels its text needs on one line, margins included.
    QFont cellFont(int row, int column) const;
    int textWidth(int row, int column, const QString& text) const;

    // Offers a shorter form of a one-line text that does not fit its cell (`width` pixels): a day name's
    // abbreviation, say. Text that still does not fit is cut with an ellipsis, so that a reader sees that
    // more is hidden.
    using Shortener = std::function<QString(int row, int column, const QString& text,
                                            const QFontMetrics& metrics, int width)>;
    void setShortener(Shortener shortener)
    {
        m_shortener = std::move(shortener);
        m_fitted.clear();
    }

    // Draws the cells that meet the viewport (layout coordinates), each merged block once.
    void paint(QPainter& painter, const QRect& viewport, int firstScrollColumn) const;
    // The same from a first data row as well as column, whatever the grid's top row: a printed page, which
    // repeats the fixed rows and columns beside its own stretch of the data. Blocks are clipped to the
    // viewport.
    void paintScrolled(QPainter& painter, const QRect& viewport, int firstScrollRow,
                       int firstScrollColumn) const
    {
        paintLayout(painter, viewport, firstScrollRow, firstScrollColumn);
    }
    // The whole grid, unscrolled, on white.
    QImage renderAll() const;
    // Pixel rows top to top + height - 1 of renderAll()'s picture, drawn into the first rows of `strip`,
    // which is made anew when it is not of the full width and at least that high. They are renderAll()'s own
    // pixels as long as no merged block crosses the strip's top or bottom edge.
    void renderStrip(QImage& strip, int top, int height) const;
    const PlanningGrid& grid() const { return m_grid; }
    // (column, row) of the cell under the point, nothing outside the cells.
    std::optional<QPoint> cellAt(const QPoint& position, int firstScrollColumn) const;
    // Where a cell lies in the scrolled layout (it may lie outside what is shown); empty outside the grid.
    QRect cellRect(int row, int column, int firstScrollColumn) const;

    static QColor fromOleColour(qint64 oleColour);

protected:
    // Draws one cell or merged block; rect is its full extent, possibly reaching outside `visible`, the part
    // of it on the paint device. The label of a header block wider than what is visible of it is centred
    // in the visible part, so that a month's name stays in view while its days scroll by.
    virtual void paintBlock(QPainter& painter, const PlanningGrid::Range& block, const QRect& rect,
                            const QRect& visible) const;

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

    QString fittedText(int row, int column, const QString& text, const QFont& font, const QRect& rect,
                       int& flags) const;
    QString fitText(int row, int column, const QString& text, const QFontMetrics& metrics, const QFont& font,
                    int width, int height, int& flags) const;

    const PlanningGrid& m_grid;
    double m_twipsPerPixel;
    QColor m_fixedBackground;
    Shortener m_shortener;

public:
    // A text fitted into a cell's size, and how it is drawn.
    struct FitKey {
        QString text;
        int width;
        int height;
        QString font;
        int flags;
        int row; // for one-line texts, which the shortener sees with their place
        int column;
        bool operator==(const FitKey&) const = default;
    };

private:
    struct Fitted {
        QString text;
        int flags;
    };
    static constexpr qsizetype kFittedTexts = 20000;
    mutable QHash<FitKey, Fitted> m_fitted;
};
