#include "gui/planninggridview.h"
#include "output/gridpainter.h"
#include "planning/planninggrid.h"

#include <QPainter>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

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

// A grid of default cells (64 × 17 pixels at 96 dpi) with fixed rows and columns.
void shape(PlanningGrid& grid, int rows, int columns, int fixedRows, int fixedColumns)
{
    grid.setRows(rows);
    grid.setColumns(columns);
    grid.setFixedRows(fixedRows);
    grid.setFixedColumns(fixedColumns);
}

} // namespace

class TestGridPainter : public QObject {
    Q_OBJECT

private slots:
    // Sizes are the grid's twips in pixels, each rounded on its own so that cells tile without gaps; a width
    // or height of 0 hides a column or row.
    void geometry()
    {
        PlanningGrid grid;
        shape(grid, 4, 5, 0, 0);
        const int widths[5] = {1500, 0, 110, 100, -1}; // -1: the default
        for (int column = 0; column < 5; ++column)
            grid.setColumnWidth(column, widths[column]);
        grid.setRowHeight(0, 765);
        grid.setRowHeight(1, 0);
        grid.setRowHeight(2, 150);
        const GridPainter painter(grid, 7.5); // 192 dpi
        QList<int> xs, ys;
        for (int column = 0; column <= 5; ++column)
            xs << painter.columnX(column);
        for (int row = 0; row <= 4; ++row)
            ys << painter.rowY(row);
        QCOMPARE(xs, (QList<int>{0, 200, 200, 215, 228, 356}));
        QCOMPARE(ys, (QList<int>{0, 102, 102, 122, 156}));
        QCOMPARE(painter.renderAll().size(), QSize(356, 156));
    }

    void cellAt_data()
    {
        QTest::addColumn<int>("topRow");
        QTest::addColumn<int>("firstScrollColumn");
        QTest::addColumn<QPoint>("position");
        QTest::addColumn<QPoint>("cell"); // (-1, -1): none
        // 20 × 20 cells of 64 × 17 pixels, two fixed rows and one fixed column; column 3 is hidden.
        QTest::newRow("hidden column never hit") << 2 << 1 << QPoint(192, 40) << QPoint(4, 2);
        QTest::newRow("last pixel") << 2 << 1 << QPoint(19 * 64 - 1, 20 * 17 - 1) << QPoint(19, 19);
        QTest::newRow("fixed corner stays") << 7 << 5 << QPoint(5, 20) << QPoint(0, 1);
        QTest::newRow("first data position") << 7 << 5 << QPoint(64, 34) << QPoint(5, 7);
        QTest::newRow("fixed row above scrolled column") << 7 << 5 << QPoint(70, 5) << QPoint(5, 0);
        QTest::newRow("fixed column beside scrolled row") << 7 << 5 << QPoint(5, 40) << QPoint(0, 7);
        QTest::newRow("further in") << 7 << 5 << QPoint(3 * 64 + 5, 4 * 17 + 5) << QPoint(7, 9);
        QTest::newRow("right of the last column") << 2 << 1 << QPoint(19 * 64, 5) << QPoint(-1, -1);
        QTest::newRow("below the last row") << 2 << 1 << QPoint(5, 20 * 17) << QPoint(-1, -1);
    }

    void cellAt()
    {
        QFETCH(int, topRow);
        QFETCH(int, firstScrollColumn);
        QFETCH(QPoint, position);
        QFETCH(QPoint, cell);
        PlanningGrid grid;
        shape(grid, 20, 20, 2, 1);
        grid.setColumnWidth(3, 0);
        grid.setTopRow(topRow);
        const auto found = GridPainter(grid).cellAt(position, firstScrollColumn);
        QCOMPARE(found.value_or(QPoint(-1, -1)), cell);
    }

    void text_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("wordWrap");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<double>("points"); // the cell's own size; 0: the grid's 8 points
        QTest::addColumn<int>("lines");     // in the grid's font, about 11 pixels a line
        QTest::addColumn<int>("maxLines");  // wrapping depends on the font's exact widths
        QTest::addColumn<QString>("grows"); // against the grid's font: w wider, h taller
        const QString longText = "one two three four five six seven eight nine ten eleven twelve";
        QTest::newRow("CR breaks") << "Meeting\rLunch" << false << false << 0.0 << 2 << 2 << "";
        QTest::newRow("CR LF is one break") << "A\r\nB\r\nC" << false << false << 0.0 << 3 << 3 << "";
        QTest::newRow("long text clipped") << longText << false << false << 8.0 << 1 << 1 << "";
        QTest::newRow("long text wraps") << longText << true << false << 0.0 << 2 << 5 << "";
        QTest::newRow("bold") << "Mmmm Www" << false << true << 0.0 << 1 << 1 << "w";
        QTest::newRow("16 points") << "Mmmm Www" << false << false << 16.0 << 1 << 1 << "wh";
    }

    // The text drawn in the cell's own font (row 0) and in the grid's (row 1).
    void text()
    {
        QFETCH(QString, text);
        QFETCH(bool, wordWrap);
        QFETCH(bool, bold);
        QFETCH(double, points);
        QFETCH(int, lines);
        QFETCH(int, maxLines);
        QFETCH(QString, grows);
        PlanningGrid grid;
        shape(grid, 2, 3, 0, 0);
        grid.setColumnWidth(1, 3000);
        grid.setStandardRowHeight(1500); // 100 pixels: room for several lines
        grid.setWordWrap(wordWrap);
        for (int row = 0; row < 2; ++row) {
            grid.setText(row, 1, text);
            grid.setAlignment(row, 1, PlanningGrid::Alignment::LeftTop);
        }
        grid.setBold(0, 1, bold);
        grid.setFontSize(0, 1, points);
        const GridPainter painter(grid);
        const QImage image = painter.renderAll();
        // Grid lines are light grey, not ink; the text is black.
        const QRect cell(painter.columnX(1), 0, painter.columnWidth(1) - 1, 99);
        const QRect own = inkBounds(image, cell);
        const QRect plain = inkBounds(image, cell.translated(0, 100));
        QVERIFY2(plain.height() > (lines - 1) * 11 && plain.height() <= maxLines * 14,
                 qPrintable(QString::number(plain.height())));
        QCOMPARE(own.width() > plain.width(), grows.contains('w'));
        QCOMPARE(own.height() > plain.height(), grows.contains('h'));
        if (grows.isEmpty())
            QCOMPARE(own.size(), plain.size());
        // Text is clipped to its cell: nothing spills into the neighbours.
        QVERIFY(inkBounds(image, QRect(0, 0, painter.columnX(1), 200)).isEmpty());
        QVERIFY(inkBounds(image, QRect(painter.columnX(2), 0, painter.columnWidth(2), 200)).isEmpty());
    }

    // Merged blocks have no line inside, across or down; one partly scrolled away under the fixed column is
    // drawn from where it starts, clipped so that the fixed column keeps its own background. Alike cells of a
    // row that does not merge keep their lines.
    void mergedBlocks()
    {
        PlanningGrid grid;
        shape(grid, 6, 12, 1, 1);
        grid.setMergeMode(PlanningGrid::MergeMode::Free);
        grid.setMergeRow(2, true);
        grid.setMergeColumn(9, true);
        const auto fill = [&grid](int row, int column, qint64 colour) {
            grid.setText(row, column, "x");
            grid.setBackColour(row, column, colour);
        };
        for (int column = 2; column <= 6; ++column)
            fill(2, column, 0x0000ff); // red, across
        fill(3, 9, 0x00ff00);          // green, down
        fill(4, 9, 0x00ff00);
        fill(5, 4, 0xff0000); // blue, in a row that does not merge
        fill(5, 5, 0xff0000);
        const GridPainter painter(grid);
        QImage image(600, 120, QImage::Format_RGB32);
        QPainter qp(&image);
        painter.paint(qp, image.rect(), 4); // columns 4 to 11 beside the fixed one, 64 pixels each
        qp.end();
        const QColor red(255, 0, 0), green(0, 255, 0), blue(0, 0, 255), line(192, 192, 192);
        const QList<std::pair<QPoint, QColor>> probes = {{{5, 40}, painter.fixedBackground()},
                                                         {{127, 40}, red},
                                                         {{250, 40}, red},
                                                         {{255, 40}, line},
                                                         {{260, 40}, Qt::white},
                                                         {{440, 67}, green},
                                                         {{440, 84}, line},
                                                         {{120, 95}, blue},
                                                         {{127, 95}, line}};
        for (const auto& [point, colour] : probes)
            QVERIFY2(image.pixelColor(point) == colour,
                     qPrintable(QString("%1,%2").arg(point.x()).arg(point.y())));
    }

    // The on-screen grid: its scroll bars are the grid's top row and first data column, and it reports the
    // cell double-clicked as (row, column).
    void view()
    {
        PlanningGrid grid;
        shape(grid, 100, 50, 3, 2);
        PlanningGridView view(grid);
        view.resize(400, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QSignalSpy doubleClicked(&view, &PlanningGridView::cellDoubleClicked);
        view.verticalScrollBar()->setValue(10);
        QCOMPARE(grid.topRow(), 13);
        view.horizontalScrollBar()->setValue(5);
        QCOMPARE(view.firstScrollColumn(), 7);
        // The fourth data column, the second data row: cells of 64 × 17 pixels.
        QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, QPoint(2 * 64 + 64 + 32, 3 * 17 + 17 + 8));
        QCOMPARE(doubleClicked, QList<QVariantList>{QVariantList({14, 8})});
        // A query scrolling the grid moves the scroll bar; the last page ends with the last row.
        grid.setTopRow(40);
        QCOMPARE(view.verticalScrollBar()->value(), 37);
        view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
        const int bottom = view.viewport()->height() - 1;
        QCOMPARE(view.cellAt({5, bottom}).value_or(QPoint(0, 99)).y(), 99);
    }
};

QTEST_MAIN(TestGridPainter)
#include "tst_gridpainter.moc"
