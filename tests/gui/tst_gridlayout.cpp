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
    // Viewport widths in pixels at 96 dpi (15 twips a pixel); the name column takes 80 pixels.
    void fitting_data()
    {
        QTest::addColumn<bool>("hideWeekend");
        QTest::addColumn<QList<int>>("viewportWidths"); // successive window widths
        QTest::addColumn<int>("minimum");               // twips
        QTest::addColumn<QList<int>>("expected");
        QTest::addColumn<bool>("fitted");
        QTest::newRow("too narrow: scrolls") << false << QList<int>{400} << 0 << QList<int>(7, 960) << false;
        QTest::newRow("wide: fills exactly")
            << false << QList<int>{80 + 7 * 100} << 0 << QList<int>(7, 1500) << true;
        QTest::newRow("pixels left over go to the first columns")
            << false << QList<int>{80 + 7 * 100 + 3} << 0
            << QList<int>{1515, 1515, 1515, 1500, 1500, 1500, 1500} << true;
        QTest::newRow("once fitted, follows narrowing")
            << false << QList<int>{80 + 7 * 100, 80 + 7 * 30} << 0 << QList<int>(7, 450) << true;
        QTest::newRow("never narrower than the minimum")
            << false << QList<int>{80 + 7 * 100, 80 + 7 * 10} << 300 << QList<int>(7, 300) << true;
        QTest::newRow("a column narrower than its minimum widens, unfitted")
            << false << QList<int>{400} << 1000 << QList<int>(7, 1000) << false;
        QTest::newRow("hidden weekend stays hidden")
            << true << QList<int>{80 + 5 * 120} << 0 << QList<int>{1800, 1800, 1800, 1800, 1800, 0, 0}
            << true;
    }
    void fitting()
    {
        QFETCH(bool, hideWeekend);
        QFETCH(QList<int>, viewportWidths);
        QFETCH(int, minimum);
        QFETCH(QList<int>, expected);
        QFETCH(bool, fitted);
        PlanningGrid grid;
        weekGrid(grid, hideWeekend);
        bool columnsFitted = false;
        for (int width : viewportWidths)
            columnsFitted = GridLayout::fitColumnsToWidth(grid, {width, 80, 15.0}, 1, columnsFitted,
                                                          [minimum](int) { return minimum; });
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
