#include "gui/planninggridview.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

PlanningGridView::PlanningGridView(PlanningGrid& grid, QWidget* parent)
    : QAbstractScrollArea(parent), m_grid(grid), m_painter(grid)
{
    viewport()->setMouseTracking(true);
    viewport()->setBackgroundRole(QPalette::Base);
    setFont(QFont(QStringLiteral("Arial")));
    updateScale();
    // A query sends many changes; update() coalesces them into one repaint.
    connect(&m_grid, &PlanningGrid::changed, this, &PlanningGridView::gridChanged);
    updateScrollBars();
}

std::optional<QPoint> PlanningGridView::cellAt(const QPoint& position) const
{
    return m_painter.cellAt(position, m_firstScrollColumn);
}

void PlanningGridView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    painter.fillRect(event->rect(), Qt::white);
    m_painter.paint(painter, event->rect(), m_firstScrollColumn);
}

void PlanningGridView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void PlanningGridView::scrollContentsBy(int, int)
{
    if (m_updatingScrollBars)
        return;
    m_firstScrollColumn = m_grid.fixedColumns() + horizontalScrollBar()->value();
    const int topRow = m_grid.fixedRows() + verticalScrollBar()->value();
    if (topRow != m_grid.topRow())
        m_grid.setTopRow(topRow); // announces a change, which repaints
    viewport()->update();
}

void PlanningGridView::mouseMoveEvent(QMouseEvent* event)
{
    if (const auto cell = cellAt(event->position().toPoint()))
        emit cellHovered(cell->y(), cell->x());
    QAbstractScrollArea::mouseMoveEvent(event);
}

void PlanningGridView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (const auto cell = cellAt(event->position().toPoint())) {
        emit cellDoubleClicked(cell->y(), cell->x());
        event->accept();
        return;
    }
    QAbstractScrollArea::mouseDoubleClickEvent(event);
}

void PlanningGridView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::ScreenChangeInternal) {
        updateScale();
        updateScrollBars();
        viewport()->update();
    }
}

void PlanningGridView::gridChanged()
{
    updateScrollBars();
    viewport()->update();
}

void PlanningGridView::updateScale()
{
    // Twips are 1/1440 inch; the widget's logical DPI says how many pixels an inch takes.
    const int dpi = logicalDpiX();
    m_painter.setTwipsPerPixel(dpi > 0 ? 1440.0 / dpi : PlanningGrid::kTwipsPerPixelAt96Dpi);
}

int PlanningGridView::lastScrollRow() const
{
    const int room = viewport()->height() - m_painter.rowY(m_grid.fixedRows());
    int row = m_grid.rows() - 1;
    int used = m_painter.rowHeight(row);
    while (row - 1 >= m_grid.fixedRows() && used + m_painter.rowHeight(row - 1) <= room) {
        --row;
        used += m_painter.rowHeight(row);
    }
    return std::max(row, m_grid.fixedRows());
}

int PlanningGridView::lastScrollColumn() const
{
    const int room = viewport()->width() - m_painter.columnX(m_grid.fixedColumns());
    int column = m_grid.columns() - 1;
    int used = m_painter.columnWidth(column);
    while (column - 1 >= m_grid.fixedColumns() && used + m_painter.columnWidth(column - 1) <= room) {
        --column;
        used += m_painter.columnWidth(column);
    }
    return std::max(column, m_grid.fixedColumns());
}

void PlanningGridView::updateScrollBars()
{
    // Setting ranges and values here must not write the top row back into the grid.
    m_updatingScrollBars = true;
    const int fixedRows = m_grid.fixedRows();
    const int fixedColumns = m_grid.fixedColumns();
    const int rowMaximum = m_grid.rows() > fixedRows ? lastScrollRow() - fixedRows : 0;
    const int columnMaximum = m_grid.columns() > fixedColumns ? lastScrollColumn() - fixedColumns : 0;
    verticalScrollBar()->setRange(0, rowMaximum);
    verticalScrollBar()->setPageStep(std::max(1, m_grid.rows() - fixedRows - rowMaximum));
    horizontalScrollBar()->setRange(0, columnMaximum);
    horizontalScrollBar()->setPageStep(std::max(1, m_grid.columns() - fixedColumns - columnMaximum));
    // The grid's top row may lie beyond the last full page (a query scrolled there); it stays as it is.
    verticalScrollBar()->setValue(m_grid.topRow() - fixedRows);
    m_firstScrollColumn = fixedColumns + std::clamp(m_firstScrollColumn - fixedColumns, 0, columnMaximum);
    horizontalScrollBar()->setValue(m_firstScrollColumn - fixedColumns);
    m_updatingScrollBars = false;
}
