// Measures painting the planning grid: one screenful of a 127-member × 187-day grid, scrolled to several
// places, against drawing the whole grid into an image (the clipboard and JPEG path).
//
//   bench-paint [--rounds N]

#include "bench/benchplanning.h"
#include "output/gridpainter.h"
#include "planning/planninggrid.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    const int rounds = roundsArgument(arguments, 20);

    PlanningGrid grid;
    fillBenchPlanning(grid, nullptr, 127, 187);
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
