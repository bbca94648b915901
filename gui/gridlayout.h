#pragma once

class PlanningGrid;

// What the main window does to the grid's sizes: stretching the day columns to the window, the default
// sizes, and the zoom pictures. Widths and heights are in twips.
namespace GridLayout {

constexpr int kDefaultDayWidth = 960;

// Stretches the visible day columns (those with a remembered width of at least 1, from the first scrollable
// column shown on) to fill `gridWidth`, when the grid is wider than their remembered total or they were
// fitted before; `fixedWidth` is where the first scrollable column shown begins. Returns whether the columns
// are now fitted. Hidden columns (remembered width below 1) are left alone.
bool fitColumnsToWidth(PlanningGrid& grid, int gridWidth, int fixedWidth, int firstShownColumn, bool fitted);

// Every data column 960 twips wide, every data row three times as high as row 1 is now.
void restoreDefaultSizes(PlanningGrid& grid);

// All data rows take row 4's height made 10 % larger (taller) or smaller.
void zoomRows(PlanningGrid& grid, bool taller);
// Every data column 10 % narrower or wider than it is; hidden columns stay hidden.
void zoomColumns(PlanningGrid& grid, bool wider);

} // namespace GridLayout
