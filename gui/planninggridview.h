#pragma once

#include "output/gridpainter.h"

#include <QAbstractScrollArea>

#include <optional>

class PlanningGrid;

// The on-screen planning grid: shows a PlanningGrid through GridPainter and scrolls it by whole rows and
// columns. The vertical scroll bar is the grid's top row (so a query setting the top row scrolls the view),
// the horizontal one the first data column shown.
class PlanningGridView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit PlanningGridView(PlanningGrid& grid, QWidget* parent = nullptr);

    PlanningGrid& grid() const { return m_grid; }
    const GridPainter& painter() const { return m_painter; }
    void setShortener(GridPainter::Shortener shortener) { m_painter.setShortener(std::move(shortener)); }
    int firstScrollColumn() const { return m_firstScrollColumn; }
    // (column, row) of the cell under a point of the viewport.
    std::optional<QPoint> cellAt(const QPoint& position) const;

    // The grid's current cell as the viewport shows it (empty when scrolled away or outside the grid).
    QRect currentCellRect() const;

signals:
    // `position`: the pointer in the viewport.
    void cellHovered(int row, int column, const QPoint& position);
    // By the mouse, or by Enter on the current cell.
    void cellDoubleClicked(int row, int column);
    void cellContextMenuRequested(int row, int column, const QPoint& globalPosition);
    void escapePressed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void gridChanged();
    void updateScrollBars();
    void updateScale();
    // Scrolls so that the current cell is shown whole where it can be.
    void showCurrentCell();
    // The smallest first row (column) from which the last data rows (columns) fill the viewport.
    int lastScrollRow() const;
    int lastScrollColumn() const;

    PlanningGrid& m_grid;
    GridPainter m_painter;
    int m_firstScrollColumn = 0;
    bool m_updatingScrollBars = false;
};
