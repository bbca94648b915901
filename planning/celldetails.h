#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>

class PlanningGrid;
class PlanningMatrix;

// What the detail panel shows for one cell of the planning, and whom and which day its actions are for.
struct CellDetails {
    QString heading;      // the day
    QString memberName;   // as the grid shows it
    QString member;       // as the team gives it, for the mailbox ("Name <address>" where it knows one)
    QDate date;           // invalid when the view has no day for the cell
    QString appointments; // the cell's appointments as plain text, one per line
    // The member's whole day (day view only); nothing when the view has none or the day is empty.
    std::optional<QString> daySummary;
};

namespace CellDetailsReader {

// The view that was last run: its keyword, the first day it shows (member views) or its day (day views),
// and the members in the order the query placed them.
struct ShownView {
    QString keyword;
    QDate firstDay;
    QStringList members;
};

bool isMemberView(const QString& keyword);
bool isDayView(const QString& keyword);

// The details of a data cell; nothing for a header row or column, a cell outside the grid, or no view.
std::optional<CellDetails> read(const PlanningGrid& grid, const PlanningMatrix& matrix, const ShownView& view,
                                int row, int column);

// A cell's HTML fragment as plain text for a display: each "<br>" (any letter case) starts a new line, and
// after each line break at most kTailLimit characters of the rest are kept; the escapes the queries write
// are turned back into the calendar's own characters. An empty cell ("&nbsp") gives an empty text.
QString displayText(const QString& html);
inline constexpr int kTailLimit = 1024;

} // namespace CellDetailsReader
