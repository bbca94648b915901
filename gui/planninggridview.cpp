#include "gui/planninggridview.h"

#include <QContextMenuEvent>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

PlanningGridView::PlanningGridView(PlanningGrid& grid, QWidget* parent)
    : QAbstractScrollArea(parent), m_grid(grid), m_painter(grid)
{
    viewport()->setMouseTracking(true);
    viewport()->setBackgroundRole(QPalette::Base);
    setFocusPolicy(Qt::StrongFocus);
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
    // The keyboard works on the current cell: it is marked while the grid has the focus.
    const QRect current = currentCellRect();
    if (hasFocus() && !current.isEmpty()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(current.adjusted(1, 1, -1, -1));
    }
}

QRect PlanningGridView::currentCellRect() const
{
    const int row = m_grid.row();
    const int column = m_grid.column();
    if (row < m_grid.fixedRows() || column < m_grid.fixedColumns())
        return {};
    const QRect rect = m_painter.cellRect(row, column, m_firstScrollColumn);
    // Scrolled away: under the fixed rows or columns, or beyond the viewport.
    if (rect.top() < m_painter.rowY(m_grid.fixedRows()) ||
        rect.left() < m_painter.columnX(m_grid.fixedColumns()))
        return {};
    return rect.intersected(viewport()->rect());
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
        emit cellHovered(cell->y(), cell->x(), event->position().toPoint());
    QAbstractScrollArea::mouseMoveEvent(event);
}

void PlanningGridView::mousePressEvent(QMouseEvent* event)
{
    if (const auto cell = cellAt(event->position().toPoint())) {
        if (cell->y() >= m_grid.fixedRows() && cell->x() >= m_grid.fixedColumns()) {
            m_grid.setCurrentCell(cell->y(), cell->x());
            viewport()->update();
        }
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void PlanningGridView::contextMenuEvent(QContextMenuEvent* event)
{
    // From the keyboard the menu is for the current cell; from the mouse for the cell under the pointer.
    std::optional<QPoint> cell;
    QPoint where = event->globalPos();
    if (event->reason() == QContextMenuEvent::Mouse) {
        cell = cellAt(viewport()->mapFrom(this, event->pos()));
    }
    else if (const QRect current = currentCellRect(); !current.isEmpty()) {
        cell = QPoint(m_grid.column(), m_grid.row());
        where = viewport()->mapToGlobal(current.center());
    }
    if (cell)
        emit cellContextMenuRequested(cell->y(), cell->x(), where);
    event->accept();
}

void PlanningGridView::keyPressEvent(QKeyEvent* event)
{
    const int fixedRows = m_grid.fixedRows();
    const int fixedColumns = m_grid.fixedColumns();
    if (m_grid.rows() <= fixedRows || m_grid.columns() <= fixedColumns) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    int row = std::clamp(m_grid.row(), fixedRows, m_grid.rows() - 1);
    int column = std::clamp(m_grid.column(), fixedColumns, m_grid.columns() - 1);
    const int lastColumn = m_grid.columns() - 1;
    // Hidden columns (weekends) are stepped over.
    const auto step = [&](int from, int direction) {
        for (int c = from + direction; c >= fixedColumns && c <= lastColumn; c += direction)
            if (m_painter.columnWidth(c) > 0)
                return c;
        return from;
    };
    switch (event->key()) {
    case Qt::Key_Up:
        row = std::max(fixedRows, row - 1);
        break;
    case Qt::Key_Down:
        row = std::min(m_grid.rows() - 1, row + 1);
        break;
    case Qt::Key_Left:
        column = step(column, -1);
        break;
    case Qt::Key_Right:
        column = step(column, 1);
        break;
    case Qt::Key_Home:
        column = step(fixedColumns - 1, 1);
        break;
    case Qt::Key_End:
        column = step(lastColumn + 1, -1);
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        showCurrentCell();
        emit cellDoubleClicked(row, column);
        return;
    case Qt::Key_Escape:
        emit escapePressed();
        return;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    m_grid.setCurrentCell(row, column);
    showCurrentCell();
    viewport()->update();
}

void PlanningGridView::showCurrentCell()
{
    const int row = m_grid.row();
    const int column = m_grid.column();
    if (row >= m_grid.fixedRows()) {
        if (row < m_grid.topRow())
            verticalScrollBar()->setValue(row - m_grid.fixedRows());
        else
            while (verticalScrollBar()->value() < verticalScrollBar()->maximum() &&
                   m_painter.cellRect(row, column, m_firstScrollColumn).bottom() >= viewport()->height())
                verticalScrollBar()->setValue(verticalScrollBar()->value() + 1);
    }
    if (column >= m_grid.fixedColumns()) {
        if (column < m_firstScrollColumn)
            horizontalScrollBar()->setValue(column - m_grid.fixedColumns());
        else
            while (horizontalScrollBar()->value() < horizontalScrollBar()->maximum() &&
                   m_painter.cellRect(row, column, m_firstScrollColumn).right() >= viewport()->width())
                horizontalScrollBar()->setValue(horizontalScrollBar()->value() + 1);
    }
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
