#pragma once

#include "planning/planninggrid.h"

#include <functional>

// What the main window does to the grid's sizes: stretching the day columns to the window, the default
// sizes, and the zoom pictures. Widths and heights are in twips.
namespace GridLayout {

constexpr int kDefaultDayWidth = 960;
constexpr int kMemberViewHeaderRows = 4;

// The day view's layout: two fixed columns (hour, minutes) and three header rows.
bool isDayView(const PlanningGrid& grid);

// Where the columns are fitted, in pixels at the screen's scale: the grid's viewport and where its first
// scrollable column begins.
struct FitArea {
    int viewportWidth = 0;
    int fixedWidth = 0;
    double twipsPerPixel = PlanningGrid::kTwipsPerPixelAt96Dpi;
};

// Stretches the visible day columns (those with a remembered width of at least 1, from the first scrollable
// column shown on) to fill the viewport, when it is wider than their remembered total or they were fitted
// before; returns whether the columns are now fitted. Hidden columns (remembered width below 1) are left
// alone. Fitted columns take whole pixels, spread so that together they end exactly at the viewport's edge:
// columns a pixel wider would bring up a scroll bar, which narrows the viewport, whose resize would fit them
// again, and so on. No column is left narrower than `minimumWidth(column)` twips, fitted or not: a long
// period then scrolls sideways rather than squeezing its days unreadable, and that keeps the fit stable too.
bool fitColumnsToWidth(PlanningGrid& grid, const FitArea& area, int firstShownColumn, bool fitted,
                       const std::function<int(int column)>& minimumWidth = {});

// Every data column 960 twips wide, every data row three times as high as row 1 is now.
void restoreDefaultSizes(PlanningGrid& grid);

// All data rows take row 4's height made 10 % larger (taller) or smaller.
void zoomRows(PlanningGrid& grid, bool taller);
// Every data column 10 % narrower or wider than it is; hidden columns stay hidden.
void zoomColumns(PlanningGrid& grid, bool wider);

} // namespace GridLayout
