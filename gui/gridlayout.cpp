#include "gui/gridlayout.h"

#include "planning/planninggrid.h"

#include <cmath>

namespace GridLayout {

bool fitColumnsToWidth(PlanningGrid& grid, int gridWidth, int fixedWidth, int firstShownColumn, bool fitted)
{
    int count = 0;
    qint64 sum = 0;
    for (int column = grid.fixedColumns(); column < grid.columns(); ++column) {
        if (grid.rememberedWidth(column) >= 1) {
            ++count;
            sum += grid.rememberedWidth(column);
        }
    }
    if (count == 0)
        return fitted;
    if (gridWidth <= fixedWidth + sum && !fitted)
        return false;

    const double width = double(gridWidth - fixedWidth) / count;
    const int rounded = int(std::lround(width));
    for (int column = std::max(firstShownColumn, grid.fixedColumns()); column < grid.columns(); ++column) {
        if (grid.rememberedWidth(column) >= 1) {
            grid.setColumnWidth(column, rounded);
            grid.setRememberedWidth(column, rounded);
        }
    }
    return true;
}

void restoreDefaultSizes(PlanningGrid& grid)
{
    for (int column = grid.fixedColumns(); column < grid.columns(); ++column)
        grid.setColumnWidth(column, kDefaultDayWidth);
    const int height = 3 * grid.rowHeight(1);
    for (int row = grid.fixedRows(); row < grid.rows(); ++row)
        grid.setRowHeight(row, height);
}

void zoomRows(PlanningGrid& grid, bool taller)
{
    const int height = grid.rowHeight(4);
    const int step = int(std::lround(height / 10.0));
    for (int row = grid.fixedRows(); row < grid.rows(); ++row)
        grid.setRowHeight(row, taller ? height + step : height - step);
}

void zoomColumns(PlanningGrid& grid, bool wider)
{
    for (int column = grid.fixedColumns(); column < grid.columns(); ++column) {
        const int width = grid.columnWidth(column);
        const int step = int(std::lround(width / 10.0));
        grid.setColumnWidth(column, wider ? width + step : width - step);
    }
}

} // namespace GridLayout
