#include "bench/benchplanning.h"

#include "planning/planninggrid.h"
#include "planning/planningmatrix.h"

#include <QDate>
#include <QLocale>

#include <algorithm>

void fillBenchPlanning(PlanningGrid& grid, PlanningMatrix* matrix, int members, int days)
{
    grid.setRedraw(false);
    grid.setRows(members + 4);
    grid.setColumns(days + 1);
    grid.setFixedRows(4);
    grid.setFixedColumns(1);
    grid.setMergeMode(PlanningGrid::MergeMode::RestrictRows);
    grid.setMergeRow(0, true);
    grid.setMergeRow(1, true);
    grid.setWordWrap(true);
    grid.setColumnWidth(0, 1200);
    const QDate first(2026, 7, 1);
    for (int column = 1; column <= days; ++column) {
        const QDate day = first.addDays(column - 1);
        const QString headers[4] = {QLocale::c().monthName(day.month(), QLocale::ShortFormat).toUpper(),
                                    QStringLiteral("Week %1").arg(day.weekNumber()),
                                    QLocale::c().dayName(day.dayOfWeek()), day.toString(u"dd MMM")};
        for (int row = 0; row < 4; ++row) {
            grid.setText(row, column, headers[row]);
            if (matrix)
                matrix->cell(row, column).html = headers[row];
        }
    }
    for (int row = 4; row < grid.rows(); ++row) {
        grid.setRowHeight(row, 3 * grid.standardRowHeight());
        const QString name = QStringLiteral("Member %1").arg(row - 4);
        grid.setText(row, 0, name);
        if (matrix)
            matrix->cell(row, 0).html = name;
        for (int column = 1; column <= days; ++column) {
            if ((row + column) % 7 == 0)
                continue;
            const bool other = (row * column) % 5 == 0;
            grid.setText(row, column, QStringLiteral("Support stand-up\rCustomer call\rTicket queue duty"));
            grid.setBackColour(row, column, other ? 8421631 : 50372);
            grid.setAlignment(row, column, PlanningGrid::Alignment::LeftTop);
            if (!matrix)
                continue;
            PlanningCell& cell = matrix->cell(row, column);
            cell.html = QStringLiteral("Support stand-up<br>------------<br>Customer call<br>------------<br>"
                                       "Ticket queue duty");
            cell.htmlColour = other ? QStringLiteral("FF8080") : QStringLiteral("C4C400");
        }
    }
    grid.setRedraw(true);
}

int roundsArgument(const QStringList& arguments, int fallback)
{
    const qsizetype at = arguments.indexOf(QStringLiteral("--rounds"));
    return at > 0 && at + 1 < arguments.size() ? std::max(1, arguments.at(at + 1).toInt()) : fallback;
}
