#include "gui/gridlayout.h"
#include "planning/planninggrid.h"

#include <QTest>

namespace {

// A week view's grid: name column of 1200 twips, seven days of 960 (weekend hidden when asked), two members.
void weekGrid(PlanningGrid& grid, bool hideWeekend)
{
    grid.setColumns(8);
    grid.setRows(6);
    grid.setFixedColumns(1);
    grid.setFixedRows(4);
    grid.setColumnWidth(0, 1200);
    for (int column = 1; column < 8; ++column) {
        const int width = hideWeekend && column >= 6 ? 0 : 960;
        grid.setColumnWidth(column, width);
        grid.setRememberedWidth(column, width);
    }
}

QList<int> widths(const PlanningGrid& grid)
{
    QList<int> list;
    for (int column = 1; column < grid.columns(); ++column)
        list << grid.columnWidth(column);
    return list;
}

} // namespace

class TestGridLayout : public QObject {
    Q_OBJECT

private slots:
    void fitting_data()
    {
        QTest::addColumn<bool>("hideWeekend");
        QTest::addColumn<QList<int>>("gridWidths"); // successive window widths
        QTest::addColumn<QList<int>>("expected");
        QTest::addColumn<bool>("fitted");
        QTest::newRow("too narrow: scrolls") << false << QList<int>{6000} << QList<int>(7, 960) << false;
        QTest::newRow("wide: fills exactly")
            << false << QList<int>{1200 + 7 * 1500} << QList<int>(7, 1500) << true;
        QTest::newRow("once fitted, follows narrowing")
            << false << QList<int>{1200 + 7 * 1500, 1200 + 7 * 500} << QList<int>(7, 500) << true;
        QTest::newRow("hidden weekend stays hidden")
            << true << QList<int>{1200 + 5 * 2000} << QList<int>{2000, 2000, 2000, 2000, 2000, 0, 0} << true;
    }
    void fitting()
    {
        QFETCH(bool, hideWeekend);
        QFETCH(QList<int>, gridWidths);
        QFETCH(QList<int>, expected);
        QFETCH(bool, fitted);
        PlanningGrid grid;
        weekGrid(grid, hideWeekend);
        bool columnsFitted = false;
        for (int width : gridWidths)
            columnsFitted = GridLayout::fitColumnsToWidth(grid, width, 1200, 1, columnsFitted);
        QCOMPARE(columnsFitted, fitted);
        QCOMPARE(widths(grid), expected);
    }

    void defaultSizesAndZoom()
    {
        PlanningGrid grid;
        weekGrid(grid, true);
        grid.setRowHeight(1, 300);
        GridLayout::restoreDefaultSizes(grid);
        QCOMPARE(widths(grid), QList<int>(7, 960)); // the hidden weekend shows again...
        QCOMPARE(grid.rememberedWidth(6), 0);       // ...but a later fit leaves it alone
        QCOMPARE(grid.rowHeight(4), 900);
        QCOMPARE(grid.rowHeight(3), grid.standardRowHeight());

        // Zooming steps by a tenth (the window's test follows the rows); a hidden column stays hidden.
        grid.setColumnWidth(7, 0);
        GridLayout::zoomColumns(grid, false);
        QCOMPARE(widths(grid), (QList<int>{864, 864, 864, 864, 864, 864, 0}));
        GridLayout::zoomColumns(grid, true);
        QCOMPARE(grid.columnWidth(1), 950);
        QCOMPARE(grid.columnWidth(0), 1200);
    }
};

QTEST_GUILESS_MAIN(TestGridLayout)
#include "tst_gridlayout.moc"
