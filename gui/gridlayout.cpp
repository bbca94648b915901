#include "gui/gridlayout.h"

#include "planning/planninggrid.h"

#include <cmath>
#include <vector>

namespace GridLayout {

bool isDayView(const PlanningGrid& grid)
{
    return grid.fixedColumns() == 2 && grid.fixedRows() == 3;
}

bool fitColumnsToWidth(PlanningGrid& grid, const FitArea& area, int firstShownColumn, bool fitted,
                       const std::function<int(int column)>& minimumWidth)
{
    const auto minimum = [&](int column) { return minimumWidth ? minimumWidth(column) : 0; };
    std::vector<int> shown;
    qint64 sum = 0;
    for (int column = grid.fixedColumns(); column < grid.columns(); ++column) {
        if (grid.rememberedWidth(column) >= 1) {
            shown.push_back(column);
            sum += grid.rememberedWidth(column);
        }
    }
    if (shown.empty())
        return fitted;
    const auto setWidth = [&grid](int column, int twips) {
        grid.setColumnWidth(column, twips);
        grid.setRememberedWidth(column, twips);
    };
    const double gridWidth = area.viewportWidth * area.twipsPerPixel;
    const double left = area.fixedWidth * area.twipsPerPixel;
    if (gridWidth <= left + double(sum) && !fitted) {
        for (const int column : shown) {
            if (column >= firstShownColumn && grid.columnWidth(column) < minimum(column))
                setWidth(column, minimum(column));
        }
        return false;
    }

    const int count = int(shown.size());
    const int available = std::max(0, area.viewportWidth - area.fixedWidth);
    for (int index = 0; index < count; ++index) {
        const int column = shown[index];
        if (column < firstShownColumn)
            continue;
        const int pixels = available / count + (index < available % count ? 1 : 0);
        setWidth(column, std::max(minimum(column), int(std::lround(pixels * area.twipsPerPixel))));
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
