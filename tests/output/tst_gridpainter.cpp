#include "gui/planninggridview.h"
#include "output/gridpainter.h"
#include "planning/planninggrid.h"

#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <set>

using Range = PlanningGrid::Range;

namespace {

// Records which blocks paint() draws, to show that it draws only what is visible.
class CountingPainter : public GridPainter {
public:
    using GridPainter::GridPainter;
    mutable std::vector<std::pair<Range, QRect>> painted;

protected:
    void paintBlock(QPainter& painter, const Range& block, const QRect& rect) const override
    {
        painted.push_back({block, rect});
        GridPainter::paintBlock(painter, block, rect);
    }
};

QPoint centre(const GridPainter& painter, int column, int row)
{
    return {painter.columnX(column) + painter.columnWidth(column) / 2,
            painter.rowY(row) + painter.rowHeight(row) / 2};
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

} // namespace

class TestGridPainter : public QObject {
    Q_OBJECT

private slots:
    void geometry_data();
    void geometry();
    void cellAtRoundTrip_data();
    void cellAtRoundTrip();
    void cellAtScrolled();
    void cellAtOutside_data();
    void cellAtOutside();
    void backColour_data();
    void backColour();
    void mergedBlockHasNoInnerLine_data();
    void mergedBlockHasNoInnerLine();
    void text_data();
    void text();
    void cellFont_data();
    void cellFont();
    void paintsOnlyVisibleCells_data();
    void paintsOnlyVisibleCells();
    void blockPartlyScrolledAwayIsDrawnOnce();
    void viewScrollsTopRow();
    void viewRepaintsOnChange();
    void viewReportsCells();
};

void TestGridPainter::geometry_data()
{
    QTest::addColumn<QList<int>>("widths");  // twips, -1: default
    QTest::addColumn<QList<int>>("heights"); // twips, -1: standard
    QTest::addColumn<double>("twipsPerPixel");
    QTest::addColumn<QList<int>>("xs");
    QTest::addColumn<QList<int>>("ys");

    QTest::newRow("defaults") << QList<int>{-1, -1, -1} << QList<int>{-1, -1} << 15.0
                              << QList<int>{0, 64, 128, 192} << QList<int>{0, 17, 34};
    QTest::newRow("hidden columns take no room")
        << QList<int>{1500, 0, 960, 0, 0, 300} << QList<int>{-1} << 15.0
        << QList<int>{0, 100, 100, 164, 164, 164, 184} << QList<int>{0, 17};
    QTest::newRow("custom row heights") << QList<int>{-1} << QList<int>{765, 0, 150, -1} << 15.0
                                        << QList<int>{0, 64} << QList<int>{0, 51, 51, 61, 78};
    // Each size is rounded on its own so that cells tile without gaps.
    QTest::newRow("192 dpi") << QList<int>{960, 100, 100} << QList<int>{255, 255} << 7.5
                             << QList<int>{0, 128, 141, 154} << QList<int>{0, 34, 68};
}

void TestGridPainter::geometry()
{
    QFETCH(QList<int>, widths);
    QFETCH(QList<int>, heights);
    QFETCH(double, twipsPerPixel);
    QFETCH(QList<int>, xs);
    QFETCH(QList<int>, ys);

    PlanningGrid grid;
    grid.setRows(int(heights.size()));
    grid.setColumns(int(widths.size()));
    for (int column = 0; column < widths.size(); ++column)
        grid.setColumnWidth(column, widths[column]);
    for (int row = 0; row < heights.size(); ++row)
        grid.setRowHeight(row, heights[row]);
    const GridPainter painter(grid, twipsPerPixel);

    for (int column = 0; column < xs.size(); ++column)
        QCOMPARE(painter.columnX(column), xs[column]);
    for (int row = 0; row < ys.size(); ++row)
        QCOMPARE(painter.rowY(row), ys[row]);
    QCOMPARE(painter.fullSize(), QSize(xs.last(), ys.last()));
    QCOMPARE(painter.renderAll().size(), painter.fullSize());
}

void TestGridPainter::cellAtRoundTrip_data()
{
    QTest::addColumn<int>("fixedRows");
    QTest::addColumn<int>("fixedColumns");
    QTest::newRow("no headers") << 0 << 0;
    QTest::newRow("one fixed row and column") << 1 << 1;
    QTest::newRow("two fixed rows and columns") << 2 << 2;
}

void TestGridPainter::cellAtRoundTrip()
{
    QFETCH(int, fixedRows);
    QFETCH(int, fixedColumns);
    PlanningGrid grid;
    grid.setRows(5);
    grid.setColumns(6);
    grid.setFixedRows(fixedRows);
    grid.setFixedColumns(fixedColumns);
    grid.setColumnWidth(3, 0);
    grid.setColumnWidth(4, 2000);
    grid.setRowHeight(2, 600);
    const GridPainter painter(grid);

    for (int row = 0; row < grid.rows(); ++row) {
        for (int column = 0; column < grid.columns(); ++column) {
            const auto cell = painter.cellAt(centre(painter, column, row), fixedColumns);
            if (column == 3) {
                // Its centre lies on the next column.
                QCOMPARE(cell, std::optional<QPoint>(QPoint(4, row)));
                continue;
            }
            QCOMPARE(cell, std::optional<QPoint>(QPoint(column, row)));
            // The cell's corners belong to it too.
            QCOMPARE(painter.cellAt({painter.columnX(column), painter.rowY(row)}, fixedColumns), cell);
            QCOMPARE(
                painter.cellAt({painter.columnX(column + 1) - 1, painter.rowY(row + 1) - 1}, fixedColumns),
                cell);
        }
    }
}

void TestGridPainter::cellAtScrolled()
{
    PlanningGrid grid;
    grid.setRows(20);
    grid.setColumns(20);
    grid.setFixedRows(2);
    grid.setFixedColumns(1);
    grid.setTopRow(7);
    const GridPainter painter(grid);
    const int firstScrollColumn = 5;

    // Fixed cells stay where they are.
    QCOMPARE(painter.cellAt(centre(painter, 0, 0), firstScrollColumn), std::optional<QPoint>(QPoint(0, 0)));
    QCOMPARE(painter.cellAt(centre(painter, 0, 1), firstScrollColumn), std::optional<QPoint>(QPoint(0, 1)));
    // The first data position shows the top row and the first scrollable column.
    QCOMPARE(painter.cellAt(centre(painter, 1, 2), firstScrollColumn), std::optional<QPoint>(QPoint(5, 7)));
    QCOMPARE(painter.cellAt(centre(painter, 1, 0), firstScrollColumn), std::optional<QPoint>(QPoint(5, 0)));
    QCOMPARE(painter.cellAt(centre(painter, 0, 2), firstScrollColumn), std::optional<QPoint>(QPoint(0, 7)));
    QCOMPARE(painter.cellAt(centre(painter, 3, 4), firstScrollColumn), std::optional<QPoint>(QPoint(7, 9)));
}

void TestGridPainter::cellAtOutside_data()
{
    QTest::addColumn<QPoint>("position");
    QTest::newRow("left") << QPoint(-1, 5);
    QTest::newRow("above") << QPoint(5, -1);
    QTest::newRow("right of the last column") << QPoint(3 * 64, 5);
    QTest::newRow("below the last row") << QPoint(5, 2 * 17);
    QTest::newRow("far away") << QPoint(100000, 100000);
}

void TestGridPainter::cellAtOutside()
{
    QFETCH(QPoint, position);
    PlanningGrid grid;
    grid.setRows(2);
    grid.setColumns(3);
    grid.setFixedRows(1);
    grid.setFixedColumns(1);
    const GridPainter painter(grid);
    QCOMPARE(painter.cellAt(position, 1), std::nullopt);
}

void TestGridPainter::backColour_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<qint64>("ole");
    QTest::addColumn<QColor>("expected"); // invalid: the painter's fixed background

    QTest::newRow("red data cell") << 2 << 2 << qint64(0x0000ff) << QColor(255, 0, 0);
    QTest::newRow("blue data cell") << 2 << 1 << qint64(0xff0000) << QColor(0, 0, 255);
    QTest::newRow("mixed colour") << 1 << 2 << qint64(0x336699) << QColor(0x99, 0x66, 0x33);
    QTest::newRow("plain data cell") << 2 << 2 << qint64(0) << QColor(Qt::white);
    QTest::newRow("plain fixed cell") << 0 << 2 << qint64(0) << QColor();
    QTest::newRow("plain fixed column") << 2 << 0 << qint64(0) << QColor();
    QTest::newRow("coloured fixed cell") << 0 << 1 << qint64(0x00ff00) << QColor(0, 255, 0);
}

void TestGridPainter::backColour()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(qint64, ole);
    QFETCH(QColor, expected);

    PlanningGrid grid;
    grid.setRows(3);
    grid.setColumns(3);
    grid.setFixedRows(1);
    grid.setFixedColumns(1);
    grid.setBackColour(row, column, ole);
    GridPainter painter(grid);
    painter.setFixedBackground(QColor(200, 201, 202));
    if (!expected.isValid())
        expected = painter.fixedBackground();

    const QImage image = painter.renderAll();
    QCOMPARE(image.format(), QImage::Format_RGB32);
    QCOMPARE(image.pixelColor(centre(painter, column, row)), expected);
}

void TestGridPainter::mergedBlockHasNoInnerLine_data()
{
    QTest::addColumn<PlanningGrid::MergeMode>("mode");
    QTest::addColumn<bool>("across"); // the two cells are neighbours in a row, else in a column
    QTest::addColumn<bool>("merged");

    QTest::newRow("across, merged") << PlanningGrid::MergeMode::Free << true << true;
    QTest::newRow("down, merged") << PlanningGrid::MergeMode::Free << false << true;
    QTest::newRow("across, merging off") << PlanningGrid::MergeMode::Never << true << false;
    QTest::newRow("down, only rows merge") << PlanningGrid::MergeMode::RestrictRows << false << false;
}

void TestGridPainter::mergedBlockHasNoInnerLine()
{
    QFETCH(PlanningGrid::MergeMode, mode);
    QFETCH(bool, across);
    QFETCH(bool, merged);

    PlanningGrid grid;
    grid.setRows(4);
    grid.setColumns(4);
    grid.setFixedRows(1);
    grid.setFixedColumns(1);
    grid.setMergeMode(mode);
    grid.setMergeRow(2, true);
    grid.setMergeColumn(2, true);
    grid.setRowHeight(2, 600);
    grid.setRowHeight(3, 600);
    const int otherRow = across ? 2 : 3;
    const int otherColumn = across ? 3 : 2;
    for (const auto& [row, column] : {std::pair{2, 2}, std::pair{otherRow, otherColumn}}) {
        grid.setText(row, column, "x");
        grid.setBackColour(row, column, 0x00ff00);
        grid.setAlignment(row, column, PlanningGrid::Alignment::LeftTop);
    }
    QCOMPARE(grid.mergedRange(2, 2) == Range({2, 2, 2, 2}), !merged);
    const GridPainter painter(grid);
    const QImage image = painter.renderAll();

    // The boundary between the two cells, away from the text at the block's top left corner.
    const QPoint boundary = across ? QPoint(painter.columnX(3) - 1, painter.rowY(3) - 5)
                                   : QPoint(painter.columnX(3) - 5, painter.rowY(3) - 1);
    QCOMPARE(image.pixelColor(boundary) == QColor(0, 255, 0), merged);
    // The block's own outer edge has its line either way.
    const QPoint outer = across ? QPoint(painter.columnX(4) - 1, painter.rowY(3) - 5)
                                : QPoint(painter.columnX(3) - 5, painter.rowY(4) - 1);
    QVERIFY(image.pixelColor(outer) != QColor(0, 255, 0));
    // One block, one text: the second cell's top left corner is plain background when merged.
    const QRect second(painter.columnX(otherColumn) + 1, painter.rowY(otherRow) + 1, 12, 14);
    bool plain = true;
    for (int y = second.top(); y <= second.bottom(); ++y)
        for (int x = second.left(); x <= second.right(); ++x)
            plain = plain && image.pixelColor(x, y) == QColor(0, 255, 0);
    QCOMPARE(plain, merged);
}

namespace {

// Ink (dark pixels) inside a rectangle of the picture.
QRect inkBounds(const QImage& image, const QRect& area)
{
    QRect bounds;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (qGray(image.pixel(x, y)) < 128)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

} // namespace

void TestGridPainter::text_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("wordWrap");
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("maxLines"); // wrapping depends on the font's exact widths

    const QString longText = "one two three four five six seven";
    QTest::newRow("one line") << "Meeting" << false << 1 << 1;
    QTest::newRow("carriage return breaks the line") << "Meeting\rLunch" << false << 2 << 2;
    QTest::newRow("CR LF is one break") << "Meeting\r\nLunch" << false << 2 << 2;
    QTest::newRow("three lines") << "A\rB\rC" << false << 3 << 3;
    QTest::newRow("long text without wrap") << longText << false << 1 << 1;
    QTest::newRow("long text wraps") << longText << true << 3 << 6;
}

void TestGridPainter::text()
{
    QFETCH(QString, text);
    QFETCH(bool, wordWrap);
    QFETCH(int, lines);
    QFETCH(int, maxLines);

    PlanningGrid grid;
    grid.setRows(1);
    grid.setColumns(3);
    grid.setRowHeight(0, 1500); // 100 pixels: room for several lines
    grid.setWordWrap(wordWrap);
    grid.setText(0, 1, text);
    grid.setAlignment(0, 1, PlanningGrid::Alignment::LeftTop);
    const GridPainter painter(grid);
    const QImage image = painter.renderAll();

    const QRect cell(painter.columnX(1), 0, painter.columnWidth(1), painter.rowHeight(0));
    // Grid lines are light grey, not ink; the text is black.
    const QRect ink = inkBounds(image, cell.adjusted(0, 0, -1, -1));
    QVERIFY(!ink.isEmpty());
    // The default font is 8 points, about 11 pixels a line at 96 dpi.
    QVERIFY2(ink.height() > (lines - 1) * 11 && ink.height() <= maxLines * 14,
             qPrintable(QString::number(ink.height())));
    // Text is clipped to its cell: nothing spills into the neighbours.
    QVERIFY(inkBounds(image, QRect(painter.columnX(2), 0, painter.columnWidth(2), 100)).isEmpty());
    QVERIFY(inkBounds(image, QRect(0, 0, painter.columnWidth(0), 100)).isEmpty());
}

void TestGridPainter::cellFont_data()
{
    QTest::addColumn<bool>("bold");
    QTest::addColumn<double>("points");
    QTest::addColumn<bool>("wider");
    QTest::addColumn<bool>("taller");

    QTest::newRow("grid font") << false << 0.0 << false << false;
    QTest::newRow("grid font named") << false << 8.0 << false << false;
    QTest::newRow("bold") << true << 0.0 << true << false;
    QTest::newRow("16 points") << false << 16.0 << true << true;
}

// A cell's own font against the grid font: the same text drawn in both.
void TestGridPainter::cellFont()
{
    QFETCH(bool, bold);
    QFETCH(double, points);
    QFETCH(bool, wider);
    QFETCH(bool, taller);

    PlanningGrid grid;
    grid.setRows(2);
    grid.setColumns(1);
    grid.setColumnWidth(0, 3000);
    grid.setStandardRowHeight(900);
    for (int row = 0; row < 2; ++row) {
        grid.setText(row, 0, "Mmmm Www");
        grid.setAlignment(row, 0, PlanningGrid::Alignment::LeftTop);
    }
    grid.setBold(1, 0, bold);
    grid.setFontSize(1, 0, points);
    const GridPainter painter(grid);
    const QImage image = painter.renderAll();

    const QRect plain = inkBounds(image, QRect(0, 0, 190, 59));
    const QRect own = inkBounds(image, QRect(0, 60, 190, 59));
    QCOMPARE(own.width() > plain.width(), wider);
    QCOMPARE(own.height() > plain.height(), taller);
    if (!wider)
        QCOMPARE(own.size(), plain.size());
}

void TestGridPainter::paintsOnlyVisibleCells_data()
{
    QTest::addColumn<int>("topRow");
    QTest::addColumn<int>("firstScrollColumn");
    QTest::newRow("at the start") << 2 << 1;
    QTest::newRow("scrolled far") << 120 << 180;
}

void TestGridPainter::paintsOnlyVisibleCells()
{
    QFETCH(int, topRow);
    QFETCH(int, firstScrollColumn);

    PlanningGrid grid;
    grid.setRows(131);
    grid.setColumns(191);
    grid.setFixedRows(2);
    grid.setFixedColumns(1);
    for (int row = 0; row < grid.rows(); ++row)
        for (int column = 0; column < grid.columns(); ++column)
            grid.setText(row, column, QString::number(row * 1000 + column));
    grid.setTopRow(topRow);
    const CountingPainter painter(grid);

    // Room for the fixed column and a little over two data columns, the fixed rows and three data rows.
    const QRect viewport(0, 0, 64 * 3 + 10, 17 * 5 + 5);
    QImage image(viewport.size(), QImage::Format_RGB32);
    QPainter qp(&image);
    painter.paint(qp, viewport, firstScrollColumn);

    std::set<std::pair<int, int>> cells;
    for (const auto& [block, rect] : painter.painted) {
        QVERIFY(rect.intersects(viewport));
        const bool rowShown = block.firstRow < 2 || (block.firstRow >= topRow && block.firstRow < topRow + 4);
        const bool columnShown = block.firstColumn < 1 || (block.firstColumn >= firstScrollColumn &&
                                                           block.firstColumn < firstScrollColumn + 3);
        QVERIFY2(rowShown && columnShown,
                 qPrintable(QStringLiteral("painted %1,%2").arg(block.firstRow).arg(block.firstColumn)));
        QVERIFY(cells.insert({block.firstRow, block.firstColumn}).second);
    }
    // Every visible cell once: (2 fixed + 4 data rows) × (1 fixed + 3 data columns), fewer at the grid's end.
    const int rows = 2 + std::min(4, grid.rows() - topRow);
    const int columns = 1 + std::min(3, grid.columns() - firstScrollColumn);
    QCOMPARE(int(painter.painted.size()), rows * columns);
}

void TestGridPainter::blockPartlyScrolledAwayIsDrawnOnce()
{
    PlanningGrid grid;
    grid.setRows(6);
    grid.setColumns(12);
    grid.setFixedRows(1);
    grid.setFixedColumns(1);
    grid.setMergeMode(PlanningGrid::MergeMode::Free);
    grid.setMergeRow(2, true);
    for (int column = 2; column <= 6; ++column)
        grid.setText(2, column, "Holiday");
    const CountingPainter painter(grid);

    QImage image(400, 200, QImage::Format_RGB32);
    QPainter qp(&image);
    painter.paint(qp, image.rect(), 4);

    int blocks = 0;
    for (const auto& [block, rect] : painter.painted) {
        if (block != Range{2, 2, 2, 6})
            continue;
        ++blocks;
        // It starts two columns left of the first data position, under the fixed column.
        QCOMPARE(rect.left(), 64 - 2 * 64);
        QCOMPARE(rect.width(), 5 * 64);
    }
    QCOMPARE(blocks, 1);
    // Clipped: the fixed column in that row keeps its own background.
    qp.end();
    QCOMPARE(image.pixelColor(5, painter.rowY(2) + 8), painter.fixedBackground());
}

void TestGridPainter::viewScrollsTopRow()
{
    PlanningGrid grid;
    grid.setRows(100);
    grid.setColumns(50);
    grid.setFixedRows(3);
    grid.setFixedColumns(2);
    PlanningGridView view(grid);
    view.resize(400, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    QCOMPARE(grid.topRow(), 3);
    QVERIFY(view.verticalScrollBar()->maximum() > 50);
    view.verticalScrollBar()->setValue(10);
    QCOMPARE(grid.topRow(), 13);
    QCOMPARE(view.cellAt(centre(view.painter(), 2, 3)), std::optional<QPoint>(QPoint(2, 13)));

    view.horizontalScrollBar()->setValue(5);
    QCOMPARE(view.firstScrollColumn(), 7);
    QCOMPARE(view.cellAt(centre(view.painter(), 2, 3)), std::optional<QPoint>(QPoint(7, 13)));

    // A query scrolling the grid moves the scroll bar.
    grid.setTopRow(40);
    QCOMPARE(view.verticalScrollBar()->value(), 37);
    // The last page ends with the last row: no scrolling into emptiness.
    view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
    const QPoint lastRowPosition(5, view.viewport()->height() - 1);
    const auto cell = view.cellAt(lastRowPosition);
    QVERIFY(!cell || cell->y() == 99);
    QVERIFY(view.cellAt({5, view.viewport()->height() - 1 - 17 * 1})->y() >= 98);
}

void TestGridPainter::viewRepaintsOnChange()
{
    PlanningGrid grid;
    grid.setRows(10);
    grid.setColumns(5);
    PlanningGridView view(grid);
    view.resize(300, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    PaintCounter counter;
    view.viewport()->installEventFilter(&counter);
    QTest::qWait(50);
    counter.count = 0;

    for (int row = 0; row < 10; ++row)
        grid.setText(row, 1, "changed");
    QTRY_VERIFY(counter.count > 0);
    // Many changes, few repaints.
    QVERIFY(counter.count < 3);

    // And what it paints is the grid: the cell's colour shows on screen.
    grid.setBackColour(1, 3, 0x0000ff);
    const QImage shot = view.viewport()->grab().toImage();
    QCOMPARE(shot.pixelColor(centre(view.painter(), 3, 1)), QColor(255, 0, 0));
}

void TestGridPainter::viewReportsCells()
{
    PlanningGrid grid;
    grid.setRows(10);
    grid.setColumns(5);
    grid.setFixedRows(1);
    grid.setFixedColumns(1);
    PlanningGridView view(grid);
    view.resize(400, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QSignalSpy hovered(&view, &PlanningGridView::cellHovered);
    QSignalSpy doubleClicked(&view, &PlanningGridView::cellDoubleClicked);

    QTest::mouseMove(view.viewport(), centre(view.painter(), 2, 3));
    QTRY_VERIFY(!hovered.isEmpty());
    QCOMPARE(hovered.last(), QVariantList({3, 2}));

    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, centre(view.painter(), 3, 4));
    QCOMPARE(doubleClicked.size(), 1);
    QCOMPARE(doubleClicked.first(), QVariantList({4, 3}));

    // Outside the cells nothing is reported.
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, QPoint(390, 280));
    QCOMPARE(doubleClicked.size(), 1);
}

QTEST_MAIN(TestGridPainter)
#include "tst_gridpainter.moc"
