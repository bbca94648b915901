// Measures painting the planning grid: one screenful of a 127-member × 187-day grid, scrolled to several
// places, against drawing the whole grid into an image (the clipboard and JPEG path).
//
//   bench-paint [--rounds N]

#include "mainwindow/gridpainter.h"
#include "planning/planninggrid.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>

#include <cstdio>

namespace {

// A member-by-day grid as the query leaves it: four header rows, a name column, day cells with two or three
// appointments each, coloured, some merged headers.
void fill(PlanningGrid& grid, int members, int days)
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
    for (int column = 1; column <= days; ++column) {
        grid.setText(0, column, QStringLiteral("MONTH %1").arg(column / 30));
        grid.setText(1, column, QStringLiteral("Week %1").arg(column / 7));
        grid.setText(2, column, QStringLiteral("Monday"));
        grid.setText(3, column, QStringLiteral("%1 Dec").arg(column % 31));
    }
    for (int row = 4; row < grid.rows(); ++row) {
        grid.setRowHeight(row, 3 * grid.standardRowHeight());
        grid.setText(row, 0, QStringLiteral("Member %1").arg(row - 4));
        for (int column = 1; column <= days; ++column) {
            if ((row + column) % 7 == 0)
                continue;
            grid.setText(row, column, QStringLiteral("Support stand-up\rCustomer call\rTicket queue duty"));
            grid.setBackColour(row, column, (row * column) % 5 == 0 ? 8421631 : 50372);
            grid.setAlignment(row, column, PlanningGrid::Alignment::LeftTop);
        }
    }
    grid.setRedraw(true);
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    const qsizetype at = arguments.indexOf(QStringLiteral("--rounds"));
    const int rounds = at > 0 && at + 1 < arguments.size() ? std::max(1, arguments.at(at + 1).toInt()) : 20;

    PlanningGrid grid;
    fill(grid, 127, 187);
    GridPainter painter(grid);
    const QSize screen(1600, 900);
    QImage canvas(screen, QImage::Format_RGB32);

    QElapsedTimer timer;
    timer.start();
    for (int round = 0; round < rounds; ++round) {
        // Scroll through the grid: a different top row and first day column each time.
        grid.setTopRow(4 + (round * 37) % 100);
        QPainter p(&canvas);
        painter.paint(p, QRect(QPoint(0, 0), screen), 1 + (round * 53) % 150);
    }
    const double screenful = timer.nsecsElapsed() / 1e6 / rounds;

    grid.setTopRow(4);
    timer.restart();
    const QImage whole = painter.renderAll();
    const double all = timer.nsecsElapsed() / 1e6;

    std::printf("grid: %d rows x %d columns; whole picture %d x %d pixels\n", grid.rows(), grid.columns(),
                whole.width(), whole.height());
    std::printf("%-40s %10.1f ms  (mean of %d scrolled positions, %d x %d pixels)\n", "one screenful",
                screenful, rounds, screen.width(), screen.height());
    std::printf("%-40s %10.1f ms\n", "whole grid into an image", all);
    std::printf("whole / screenful: %.0f\n", all / screenful);
    return 0;
}
