#include "planning/planninggrid.h"

#include <algorithm>
#include <utility>

// Merging, as mergedRange works it out. Two neighbours are "alike" when both lie in the grid, both are
// fixed or both are data cells, and their texts are equal and not empty. Being alike is an equivalence, so
// a run of alike cells is the same run seen from any of its cells.
//
//   A horizontal run is the longest run of alike cells in the cell's row; it exists only in rows marked
//   with setMergeRow, and only in Free and RestrictRows.
//   A vertical run is the longest run of alike cells in the cell's column that are not part of a horizontal
//   run wider than one cell; it exists only in columns marked with setMergeColumn, and only in Free and
//   RestrictColumns.
//   A cell's block is its horizontal run when that is wider than the cell, else its vertical run.
//
// Leaving horizontally merged cells out of vertical runs is what keeps blocks disjoint rectangles: without
// it, a cell above a header block could pull part of that block into a vertical run while the block's own
// cells report the horizontal one, and a painter drawing each block once would draw over itself.

namespace {

constexpr int kNoSize = -1; // a row or column without a size of its own

} // namespace

PlanningGrid::PlanningGrid(QObject* parent) : QObject(parent) {}

int PlanningGrid::rows() const
{
    return m_rows;
}

int PlanningGrid::columns() const
{
    return m_columns;
}

void PlanningGrid::setRows(int rows)
{
    resize(std::max(rows, 0), m_columns);
}

void PlanningGrid::setColumns(int columns)
{
    resize(m_rows, std::max(columns, 0));
}

void PlanningGrid::resize(int rows, int columns)
{
    if (columns < m_columns) {
        // Row-major storage: every kept row moves to its new, lower offset, first rows first, in the same
        // buffer. Queries shrink the grid to one cell and grow it again before every new view: a fresh buffer
        // each time would be a fresh megabyte of memory to fault in.
        const int keptRows = std::min(rows, m_rows);
        for (int row = 1; row < keptRows; ++row) {
            const auto from = m_cells.begin() + std::ptrdiff_t(row) * m_columns;
            std::move(from, from + columns, m_cells.begin() + std::ptrdiff_t(row) * columns);
        }
        // Whatever lies beyond the kept cells goes, and the new cells start empty.
        m_cells.erase(m_cells.begin() + std::ptrdiff_t(keptRows) * columns, m_cells.end());
        m_cells.resize(std::size_t(rows) * columns);
    }
    else if (columns > m_columns) {
        // Kept rows move to higher offsets: last rows first, so that no row lands on one not yet moved.
        // Moving swaps strings, so every cell that is not a kept one is emptied afterwards: the new columns
        // of each kept row, and all the rows after them.
        const int keptRows = std::min(rows, m_rows);
        m_cells.resize(std::max(m_cells.size(), std::size_t(rows) * columns));
        for (int row = keptRows - 1; row >= 1; --row) {
            const auto from = m_cells.begin() + std::ptrdiff_t(row) * m_columns;
            std::move_backward(from, from + m_columns,
                               m_cells.begin() + std::ptrdiff_t(row) * columns + m_columns);
        }
        for (int row = 0; row < keptRows; ++row) {
            const auto rowStart = m_cells.begin() + std::ptrdiff_t(row) * columns;
            std::fill(rowStart + m_columns, rowStart + columns, Cell{});
        }
        std::fill(m_cells.begin() + std::ptrdiff_t(keptRows) * columns,
                  m_cells.begin() + std::ptrdiff_t(rows) * columns, Cell{});
        m_cells.resize(std::size_t(rows) * columns);
    }
    else {
        m_cells.resize(std::size_t(rows) * columns);
    }
    m_rows = rows;
    m_columns = columns;

    m_rowHeights.resize(std::size_t(rows), kNoSize);
    m_mergeRows.resize(std::size_t(rows), false);
    m_columnWidths.resize(std::size_t(columns), kNoSize);
    m_rememberedWidths.resize(std::size_t(columns), 0);
    m_mergeColumns.resize(std::size_t(columns), false);

    // A lost fixed count stays lost when the grid grows again, as the header-building queries expect: they
    // shrink the grid to one cell and then set the counts they want.
    m_fixedRows = std::min(m_fixedRows, m_rows);
    m_fixedColumns = std::min(m_fixedColumns, m_columns);
    clampPositions();
    notify();
}

int PlanningGrid::fixedRows() const
{
    return m_fixedRows;
}

int PlanningGrid::fixedColumns() const
{
    return m_fixedColumns;
}

void PlanningGrid::setFixedRows(int rows)
{
    m_fixedRows = std::clamp(rows, 0, m_rows);
    clampPositions();
    notify();
}

void PlanningGrid::setFixedColumns(int columns)
{
    m_fixedColumns = std::clamp(columns, 0, m_columns);
    clampPositions();
    notify();
}

void PlanningGrid::clear()
{
    std::fill(m_cells.begin(), m_cells.end(), Cell{});
    notify();
}

QString PlanningGrid::text(int row, int column) const
{
    const Cell* cell = cellAt(row, column);
    return cell ? cell->text : QString();
}

void PlanningGrid::setText(int row, int column, const QString& text)
{
    if (Cell* cell = cellAt(row, column)) {
        // A refresh mostly writes the texts the cells hold: the same string is not copied onto itself.
        if (cell->text.constData() != text.constData() || cell->text.size() != text.size())
            cell->text = text;
        notify();
    }
}

void PlanningGrid::setText(int row, int column, QString&& text)
{
    if (Cell* cell = cellAt(row, column)) {
        cell->text = std::move(text);
        notify();
    }
}

QString PlanningGrid::takeText(int row, int column)
{
    Cell* cell = cellAt(row, column);
    if (!cell || cell->text.isEmpty())
        return QString();
    QString text = std::exchange(cell->text, QString());
    notify();
    return text;
}

qint64 PlanningGrid::backColour(int row, int column) const
{
    const Cell* cell = cellAt(row, column);
    return cell ? cell->backColour : 0;
}

void PlanningGrid::setBackColour(int row, int column, qint64 oleColour)
{
    if (Cell* cell = cellAt(row, column)) {
        cell->backColour = oleColour;
        notify();
    }
}

PlanningGrid::Alignment PlanningGrid::alignment(int row, int column) const
{
    const Cell* cell = cellAt(row, column);
    if (!cell)
        return Alignment::LeftCentre;
    if (cell->alignment >= 0)
        return Alignment(cell->alignment);
    return isFixed(row, column) ? Alignment::Centre : Alignment::LeftCentre;
}

void PlanningGrid::setAlignment(int row, int column, Alignment alignment)
{
    if (Cell* cell = cellAt(row, column)) {
        cell->alignment = static_cast<signed char>(alignment);
        notify();
    }
}

bool PlanningGrid::bold(int row, int column) const
{
    const Cell* cell = cellAt(row, column);
    return cell && cell->bold;
}

void PlanningGrid::setBold(int row, int column, bool bold)
{
    if (Cell* cell = cellAt(row, column)) {
        cell->bold = bold;
        notify();
    }
}

double PlanningGrid::fontSize(int row, int column) const
{
    const Cell* cell = cellAt(row, column);
    return cell ? cell->fontSize : 0.0;
}

void PlanningGrid::setFontSize(int row, int column, double points)
{
    if (Cell* cell = cellAt(row, column)) {
        cell->fontSize = float(std::max(points, 0.0));
        notify();
    }
}

int PlanningGrid::columnWidth(int column) const
{
    if (column < 0 || column >= m_columns || m_columnWidths[column] < 0)
        return kDefaultColumnWidth;
    return m_columnWidths[column];
}

void PlanningGrid::setColumnWidth(int column, int twips)
{
    if (column < 0 || column >= m_columns)
        return;
    // Width 0 is a hidden column (weekends); only a negative width means "back to the default".
    m_columnWidths[column] = std::max(twips, kNoSize);
    notify();
}

int PlanningGrid::rememberedWidth(int column) const
{
    if (column < 0 || column >= m_columns)
        return 0;
    return m_rememberedWidths[column];
}

void PlanningGrid::setRememberedWidth(int column, int twips)
{
    if (column < 0 || column >= m_columns)
        return;
    m_rememberedWidths[column] = twips;
    notify();
}

int PlanningGrid::rowHeight(int row) const
{
    if (row < 0 || row >= m_rows || m_rowHeights[row] < 0)
        return m_standardRowHeight;
    return m_rowHeights[row];
}

void PlanningGrid::setRowHeight(int row, int twips)
{
    if (row < 0 || row >= m_rows)
        return;
    m_rowHeights[row] = std::max(twips, kNoSize);
    notify();
}

int PlanningGrid::standardRowHeight() const
{
    return m_standardRowHeight;
}

void PlanningGrid::setStandardRowHeight(int twips)
{
    m_standardRowHeight = std::max(twips, 0);
    notify();
}

PlanningGrid::MergeMode PlanningGrid::mergeMode() const
{
    return m_mergeMode;
}

void PlanningGrid::setMergeMode(MergeMode mode)
{
    m_mergeMode = mode;
    notify();
}

bool PlanningGrid::mergeRow(int row) const
{
    return row >= 0 && row < m_rows && m_mergeRows[row];
}

void PlanningGrid::setMergeRow(int row, bool merge)
{
    if (row < 0 || row >= m_rows)
        return;
    m_mergeRows[row] = merge;
    notify();
}

bool PlanningGrid::mergeColumn(int column) const
{
    return column >= 0 && column < m_columns && m_mergeColumns[column];
}

void PlanningGrid::setMergeColumn(int column, bool merge)
{
    if (column < 0 || column >= m_columns)
        return;
    m_mergeColumns[column] = merge;
    notify();
}

PlanningGrid::Range PlanningGrid::mergedRange(int row, int column) const
{
    Range range{row, column, row, column};
    if (!cellAt(row, column))
        return range;

    if (mergesInRow(row)) {
        while (alike(row, column, row, range.firstColumn - 1))
            --range.firstColumn;
        while (alike(row, column, row, range.lastColumn + 1))
            ++range.lastColumn;
        if (range.firstColumn != range.lastColumn)
            return range;
    }
    if (mergesInColumn(column)) {
        while (alike(row, column, range.firstRow - 1, column) && !mergesAcross(range.firstRow - 1, column))
            --range.firstRow;
        while (alike(row, column, range.lastRow + 1, column) && !mergesAcross(range.lastRow + 1, column))
            ++range.lastRow;
    }
    return range;
}

bool PlanningGrid::wordWrap() const
{
    return m_wordWrap;
}

void PlanningGrid::setWordWrap(bool wrap)
{
    m_wordWrap = wrap;
    notify();
}

bool PlanningGrid::redraw() const
{
    return m_redraw;
}

void PlanningGrid::setRedraw(bool redraw)
{
    m_redraw = redraw;
    // Turning redraw on announces everything that changed while it was off, as one change.
    notify();
}

int PlanningGrid::topRow() const
{
    return m_topRow;
}

void PlanningGrid::setTopRow(int row)
{
    m_topRow = row;
    clampPositions();
    notify();
}

int PlanningGrid::row() const
{
    return m_row;
}

int PlanningGrid::column() const
{
    return m_column;
}

void PlanningGrid::setCurrentCell(int row, int column)
{
    m_row = row;
    m_column = column;
    clampPositions();
    notify();
}

PlanningGrid::Cell* PlanningGrid::cellAt(int row, int column)
{
    return const_cast<Cell*>(std::as_const(*this).cellAt(row, column));
}

const PlanningGrid::Cell* PlanningGrid::cellAt(int row, int column) const
{
    if (row < 0 || row >= m_rows || column < 0 || column >= m_columns)
        return nullptr;
    return &m_cells[std::size_t(row) * m_columns + column];
}

void PlanningGrid::notify()
{
    if (m_redraw)
        emit changed();
}

bool PlanningGrid::isFixed(int row, int column) const
{
    return row < m_fixedRows || column < m_fixedColumns;
}

bool PlanningGrid::alike(int row, int column, int otherRow, int otherColumn) const
{
    const Cell* cell = cellAt(row, column);
    const Cell* other = cellAt(otherRow, otherColumn);
    return cell && other && !cell->text.isEmpty() && cell->text == other->text &&
           isFixed(row, column) == isFixed(otherRow, otherColumn);
}

bool PlanningGrid::mergesInRow(int row) const
{
    return (m_mergeMode == MergeMode::Free || m_mergeMode == MergeMode::RestrictRows) && mergeRow(row);
}

bool PlanningGrid::mergesInColumn(int column) const
{
    return (m_mergeMode == MergeMode::Free || m_mergeMode == MergeMode::RestrictColumns) &&
           mergeColumn(column);
}

bool PlanningGrid::mergesAcross(int row, int column) const
{
    // Alike neighbours are alike with each other, so looking one step either way decides the whole run.
    return mergesInRow(row) && (alike(row, column, row, column - 1) || alike(row, column, row, column + 1));
}

void PlanningGrid::clampPositions()
{
    // The top row is a data row whenever there is one.
    m_topRow = m_fixedRows < m_rows ? std::clamp(m_topRow, m_fixedRows, m_rows - 1) : 0;
    m_row = std::clamp(m_row, 0, std::max(m_rows - 1, 0));
    m_column = std::clamp(m_column, 0, std::max(m_columns - 1, 0));
}
