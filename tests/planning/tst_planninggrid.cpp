#include "planning/celldetails.h"
#include "planning/planninggrid.h"
#include "planning/planningmatrix.h"

#include <QGuiApplication>
#include <QPalette>
#include <QSignalSpy>
#include <QTest>

#include <climits>
#include <functional>
#include <map>
#include <stdexcept>

// The planning grid without a widget, and the planning matrix beside it.

using Range = PlanningGrid::Range;
using Mode = PlanningGrid::MergeMode;
using Align = PlanningGrid::Alignment;
using Mutation = std::function<void(PlanningGrid&)>;
Q_DECLARE_METATYPE(Mutation)

namespace {

// A cell's text and format in one line.
QString state(const PlanningGrid& grid, int row, int column)
{
    return QStringLiteral("%1/%2/%3/%4/%5")
        .arg(grid.text(row, column))
        .arg(grid.backColour(row, column))
        .arg(grid.bold(row, column))
        .arg(grid.fontSize(row, column))
        .arg(int(grid.alignment(row, column)));
}
const QString kDefaultData = QStringLiteral("/0/0/0/%1").arg(int(Align::LeftCentre));

// Gives a cell a text and a format of its own, and what state() then reads.
void format(PlanningGrid& grid, int row, int column)
{
    grid.setText(row, column, QStringLiteral("%1:%2").arg(row).arg(column));
    grid.setBackColour(row, column, 1000 * qint64(row) + column + 1);
    grid.setBold(row, column, true);
    grid.setFontSize(row, column, 9);
    grid.setAlignment(row, column, Align::RightBottom);
}
QString formatted(int row, int column)
{
    return QStringLiteral("%1:%2/%3/1/9/%4")
        .arg(row)
        .arg(column)
        .arg(1000 * qint64(row) + column + 1)
        .arg(int(Align::RightBottom));
}

PlanningGrid& sized(PlanningGrid& grid, int rows, int columns, int fixedRows = 0, int fixedColumns = 0)
{
    grid.setRows(rows);
    grid.setColumns(columns);
    grid.setFixedRows(fixedRows);
    grid.setFixedColumns(fixedColumns);
    return grid;
}

} // namespace

class TestPlanningGrid : public QObject {
    Q_OBJECT

private slots:
    // Rows are stored one after the other: resizing moves every kept cell to its new place.
    void resizeKeepsCellsInPlace_data()
    {
        QTest::addColumn<QList<QSize>>("sizes"); // width: columns, height: rows; filled at the first
        QTest::addColumn<bool>("columnsFirst");
        QTest::newRow("grow both") << QList<QSize>{{3, 4}, {7, 9}} << false;
        QTest::newRow("shrink both") << QList<QSize>{{6, 8}, {2, 3}} << false;
        QTest::newRow("more rows, fewer columns") << QList<QSize>{{6, 3}, {4, 7}} << false;
        QTest::newRow("fewer rows, more columns") << QList<QSize>{{3, 6}, {5, 2}} << true;
        QTest::newRow("reduced to one cell, grown again") << QList<QSize>{{8, 10}, {1, 1}, {12, 6}} << false;
        QTest::newRow("emptied, grown again") << QList<QSize>{{5, 5}, {0, 0}, {5, 5}} << true;
        QTest::newRow("only columns dropped and regrown") << QList<QSize>{{6, 4}, {2, 4}, {6, 4}} << true;
    }
    void resizeKeepsCellsInPlace()
    {
        QFETCH(QList<QSize>, sizes);
        QFETCH(bool, columnsFirst);
        PlanningGrid grid;
        QSize kept = sizes.first();
        for (const QSize& size : sizes) {
            if (columnsFirst)
                grid.setColumns(size.width());
            grid.setRows(size.height());
            grid.setColumns(size.width());
            kept = kept.boundedTo(size);
            if (&size != &sizes.first())
                continue;
            for (int row = 0; row < size.height(); ++row) {
                grid.setRowHeight(row, 300 + row);
                for (int column = 0; column < size.width(); ++column)
                    format(grid, row, column);
            }
            for (int column = 0; column < size.width(); ++column) {
                grid.setColumnWidth(column, 100 + column);
            }
        }
        const QSize last = sizes.last();
        QCOMPARE(QSize(grid.columns(), grid.rows()), last);
        for (int row = 0; row <= last.height(); ++row) {
            for (int column = 0; column <= last.width(); ++column) {
                QCOMPARE(state(grid, row, column), row < kept.height() && column < kept.width()
                                                       ? formatted(row, column)
                                                       : kDefaultData);
            }
            QCOMPARE(grid.rowHeight(row), row < kept.height() ? 300 + row : grid.standardRowHeight());
        }
        for (int column = 0; column <= last.width(); ++column)
            QCOMPARE(grid.columnWidth(column),
                     column < kept.width() ? 100 + column : PlanningGrid::kDefaultColumnWidth);
    }

    // Reads outside the grid give defaults, writes there change nothing and announce nothing.
    void outsideTheGrid_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("line"); // a row and a column index outside the grid
        QTest::newRow("row -1") << -1 << 0 << -1;
        QTest::newRow("column past the end") << 0 << 3 << 4;
        QTest::newRow("both past the end") << 4 << 3 << 500;
        // A row offset of row × columns must not wrap into the grid.
        QTest::newRow("huge") << INT_MAX << INT_MAX << INT_MAX;
        QTest::newRow("most negative") << INT_MIN << INT_MIN << INT_MIN;
        QTest::newRow("most negative row, last column") << INT_MIN << 2 << INT_MIN;
    }
    void outsideTheGrid()
    {
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(int, line);
        PlanningGrid grid;
        sized(grid, 4, 3, 1, 1).setMergeMode(Mode::Free);
        grid.setStandardRowHeight(300);
        QSignalSpy spy(&grid, &PlanningGrid::changed);
        format(grid, row, column);
        grid.setColumnWidth(line, 0);
        grid.setRememberedWidth(line, 77);
        grid.setMergeColumn(line, true);
        grid.setRowHeight(line, 0);
        grid.setMergeRow(line, true);
        QCOMPARE(spy.count(), 0);
        QCOMPARE(state(grid, row, column), kDefaultData);
        QCOMPARE(grid.mergedRange(row, column), (Range{row, column, row, column}));
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 3; ++c)
                QCOMPARE(state(grid, r, c),
                         QStringLiteral("/0/0/0/%1").arg(int(r && c ? Align::LeftCentre : Align::Centre)));
            QVERIFY(grid.rowHeight(r) == 300 && !grid.mergeRow(r));
        }
        for (int c = 0; c < 3; ++c)
            QVERIFY(grid.columnWidth(c) == PlanningGrid::kDefaultColumnWidth && !grid.rememberedWidth(c) &&
                    !grid.mergeColumn(c));
    }

    // Fixed cells are centred, data cells left-aligned, by the cell's kind as it is now; clear() resets
    // every cell's text and format and keeps the layout.
    void clearAndDefaults()
    {
        PlanningGrid grid;
        sized(grid, 3, 3, 1, 1).setMergeMode(Mode::RestrictRows);
        grid.setMergeRow(0, true);
        grid.setColumnWidth(1, 0);
        grid.setRememberedWidth(2, 800);
        grid.setRowHeight(1, 765);
        grid.setRowHeight(2, 0);
        for (int row = 0; row < 3; ++row) {
            for (int column = 0; column < 3; ++column) {
                QCOMPARE(grid.alignment(row, column), row && column ? Align::LeftCentre : Align::Centre);
                format(grid, row, column);
            }
        }
        grid.setStandardRowHeight(400); // rows with a height of their own keep it
        grid.clear();
        for (int row = 0; row < 3; ++row) {
            for (int column = 0; column < 3; ++column)
                QCOMPARE(
                    state(grid, row, column),
                    QStringLiteral("/0/0/0/%1").arg(int(row && column ? Align::LeftCentre : Align::Centre)));
        }
        QCOMPARE(
            QList<int>({grid.rows(), grid.columns(), grid.fixedRows(), grid.fixedColumns(),
                        int(grid.mergeMode()), grid.mergeRow(0), grid.columnWidth(0), grid.columnWidth(1),
                        grid.rememberedWidth(2), grid.rowHeight(0), grid.rowHeight(1), grid.rowHeight(2)}),
            QList<int>({3, 3, 1, 1, int(Mode::RestrictRows), 1, 960, 0, 800, 400, 765, 0}));
        grid.setColumnWidth(1, -1); // back to the defaults
        grid.setRowHeight(1, -1);
        QCOMPARE(QSize(grid.columnWidth(1), grid.rowHeight(1)),
                 QSize(PlanningGrid::kDefaultColumnWidth, 400));
        grid.setFixedRows(9);
        grid.setFixedColumns(-2);
        QCOMPARE(QSize(grid.fixedColumns(), grid.fixedRows()), QSize(0, 3));
        QCOMPARE(grid.alignment(1, 1), Align::Centre);
    }

    void merging_data()
    {
        // Name, merge mode, fixed rows and columns, rows and columns marked; then each row's texts and
        // blocks.
        QTest::addColumn<QStringList>("c");
        QFile file(ROTAVINE_TEST_DATA "/planning/merging.txt");
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        QList<QStringList> cases;
        for (const QString& line : QString::fromUtf8(file.readAll()).split('\n')) {
            if (line.startsWith('['))
                cases << line.mid(1, line.size() - 2).split('|');
            else if (line.contains(" => ") && !line.startsWith('#'))
                cases.last() << line.split(" => ");
        }
        for (const QStringList& c : cases)
            QTest::newRow(qPrintable(c[0].trimmed())) << c;
    }
    void merging()
    {
        QFETCH(QStringList, c);
        const QStringList fixed = c[2].split(' ', Qt::SkipEmptyParts);
        PlanningGrid grid;
        sized(grid, int(c.size() - 5) / 2, int(c[6].size()), fixed[0].toInt(), fixed[1].toInt());
        grid.setMergeMode(
            Mode(QStringList{"Never", "Free", "RestrictRows", "RestrictColumns"}.indexOf(c[1].trimmed())));
        for (const QString& row : c[3].split(' ', Qt::SkipEmptyParts))
            grid.setMergeRow(row.toInt(), true);
        for (const QString& column : c[4].split(' ', Qt::SkipEmptyParts))
            grid.setMergeColumn(column.toInt(), true);
        QStringList blocks;
        for (int row = 0; row < grid.rows(); ++row) {
            blocks << c[6 + 2 * row];
            for (int column = 0; column < grid.columns(); ++column)
                grid.setText(row, column, c[5 + 2 * row].split('|').value(column));
        }
        // The blocks as letters, in the order they are met; every cell of a block must report it.
        QStringList shown;
        QList<Range> seen;
        QList<int> cells;
        for (int row = 0; row < grid.rows(); ++row) {
            shown << QString();
            for (int column = 0; column < grid.columns(); ++column) {
                const Range range = grid.mergedRange(row, column);
                if (range == Range{row, column, row, column}) {
                    shown.last() += '.';
                    continue;
                }
                if (!seen.contains(range)) {
                    seen << range;
                    cells << (range.lastRow - range.firstRow + 1) *
                                 (range.lastColumn - range.firstColumn + 1);
                }
                shown.last() += QChar(char16_t(u'a' + seen.indexOf(range)));
                --cells[seen.indexOf(range)];
            }
        }
        QCOMPARE(shown, blocks);
        QCOMPARE(cells, QList<int>(seen.size(), 0));
    }

    // Every change a view shows is announced once; with redraw off nothing is, until it comes back on.
    void changesAreAnnounced_data()
    {
        QTest::addColumn<Mutation>("mutation");
        QTest::addColumn<int>("expected");
        const auto row = [](const char* name, int expected, Mutation mutation) {
            QTest::newRow(name) << mutation << expected;
        };
        row("rows", 1, [](PlanningGrid& g) { g.setRows(8); });
        row("columns", 1, [](PlanningGrid& g) { g.setColumns(2); });
        row("text", 1, [](PlanningGrid& g) { g.setText(2, 2, "x"); });
        row("text moved in", 1, [](PlanningGrid& g) { g.setText(2, 2, QString("x")); });
        row("back colour", 1, [](PlanningGrid& g) { g.setBackColour(2, 2, 255); });
        row("column width", 1, [](PlanningGrid& g) { g.setColumnWidth(1, 0); });
        row("merge row", 1, [](PlanningGrid& g) { g.setMergeRow(0, true); });
        row("current cell", 1, [](PlanningGrid& g) { g.setCurrentCell(3, 2); });
        row("text taken", 2, [](PlanningGrid& g) {
            g.setText(1, 1, "x");
            QCOMPARE(g.takeText(1, 1), "x");
            QCOMPARE(g.takeText(1, 1), QString());
        });
        row("a write outside the grid", 0, [](PlanningGrid& g) { g.setText(5, 0, "x"); });
    }
    void changesAreAnnounced()
    {
        QFETCH(Mutation, mutation);
        QFETCH(int, expected);
        PlanningGrid shown;
        QSignalSpy shownSpy(&sized(shown, 5, 4, 1, 1), &PlanningGrid::changed);
        mutation(shown);
        QCOMPARE(shownSpy.count(), expected);

        PlanningGrid hidden;
        QSignalSpy hiddenSpy(&sized(hidden, 5, 4, 1, 1), &PlanningGrid::changed);
        {
            const PlanningGrid::QuietChanges quiet(hidden);
            mutation(hidden);
            QCOMPARE(hiddenSpy.count(), 0);
        }
        QCOMPARE(hiddenSpy.count(), 1);
    }

    // The top row is a data row whenever there is one; the current cell lies in the grid; fixed counts never
    // exceed the counts, and one lost as the grid shrinks stays lost when it grows again.
    void positionsStayInTheGrid_data()
    {
        QTest::addColumn<QPoint>("requested");     // x: column, y: row
        QTest::addColumn<QSize>("sizeAfterwards"); // width: columns, height: rows
        QTest::addColumn<QPoint>("expected");      // x: current column, y: current row
        QTest::addColumn<int>("expectedTop");
        QTest::addColumn<QSize>("expectedFixed"); // after growing back
        QTest::newRow("a data row") << QPoint(3, 21) << QSize(5, 51) << QPoint(3, 21) << 21 << QSize(1, 3);
        QTest::newRow("a fixed cell") << QPoint(0, 1) << QSize(5, 51) << QPoint(0, 1) << 3 << QSize(1, 3);
        QTest::newRow("negative") << QPoint(-2, -4) << QSize(5, 51) << QPoint(0, 0) << 3 << QSize(1, 3);
        QTest::newRow("past the end") << QPoint(9, 80) << QSize(5, 51) << QPoint(4, 50) << 50 << QSize(1, 3);
        QTest::newRow("grid shrinks below it")
            << QPoint(4, 40) << QSize(2, 20) << QPoint(1, 19) << 19 << QSize(1, 3);
        QTest::newRow("grid shrinks to its fixed rows")
            << QPoint(4, 40) << QSize(5, 3) << QPoint(4, 2) << 0 << QSize(1, 3);
        QTest::newRow("grid shrinks below its fixed rows")
            << QPoint(4, 40) << QSize(5, 1) << QPoint(4, 0) << 0 << QSize(1, 1);
        QTest::newRow("grid emptied") << QPoint(4, 40) << QSize(0, 0) << QPoint(0, 0) << 0 << QSize(0, 0);
    }
    void positionsStayInTheGrid()
    {
        QFETCH(QPoint, requested);
        QFETCH(QSize, sizeAfterwards);
        PlanningGrid grid;
        sized(grid, 51, 5, 3, 1);
        grid.setCurrentCell(requested.y(), requested.x());
        grid.setTopRow(requested.y());
        grid.setRows(sizeAfterwards.height());
        grid.setColumns(sizeAfterwards.width());
        QTEST(QPoint(grid.column(), grid.row()), "expected");
        QTEST(grid.topRow(), "expectedTop");
        grid.setRows(51);
        grid.setColumns(5);
        QTEST(QSize(grid.fixedColumns(), grid.fixedRows()), "expectedFixed");
    }

    // The matrix: a reset clears the rows below the headers and the grid's texts with them.
    void matrixReset()
    {
        PlanningMatrix matrix;
        const PlanningCell filled{"x", "255", "FF0000", "3"};
        for (int row = 0; row < 12; ++row) {
            for (int column = 0; column < 9; ++column)
                matrix.cell(row, column) = filled;
        }
        std::map<std::pair<int, int>, int> cleared;
        matrix.reset(10, 4, 8, [&](int row, int column) { ++cleared[{row, column}]; });
        for (int row = 0; row < 12; ++row) {
            for (int column = 0; column < 9; ++column) {
                const bool member = row >= 4 && row < 10 && column < 8;
                const PlanningCell& cell = matrix.cell(row, column);
                QCOMPARE(QStringList({cell.html, cell.gridColour, cell.htmlColour, cell.ruleRank}),
                         member ? QStringList({"&nbsp", "0", "FFFFFF", "0"})
                                : QStringList({"x", "255", "FF0000", "3"}));
                QCOMPARE(cleared[std::pair(row, column)], member ? 1 : 0);
            }
        }
        // A grid larger than the matrix is cleared whole; the matrix only where it reaches.
        int count = 0;
        matrix.reset(140, 3, 200, [&](int, int) { ++count; });
        QCOMPARE(count, 137 * 200);
        QCOMPARE(matrix.cell(130, 190).html, "&nbsp");
        QVERIFY(PlanningMatrix::contains(130, 190));
        for (const auto& [row, column] : {std::pair{131, 0}, {0, 191}, {-1, 5}}) {
            QVERIFY(!PlanningMatrix::contains(row, column));
            QVERIFY_THROWS_EXCEPTION(std::out_of_range, matrix.cell(row, column));
        }
        QVERIFY(PlanningMatrix::isEmptyHtml("&NbSp") && !PlanningMatrix::isEmptyHtml("&nbsp;"));
    }

    void colourToHtml_data()
    {
        QTest::addColumn<qint64>("colour");
        QTest::addColumn<QString>("html");
        QTest::newRow("0 is white") << qint64(0) << "FFFFFF";
        QTest::newRow("1") << qint64(1) << "010000";
        QTest::newRow("default colour") << qint64(50372) << "C4C400";
        QTest::newRow("blue") << qint64(0xFF0000) << "0000FF";
        QTest::newRow("beyond 24 bits keeps the low bits") << qint64(0x1000080) << "800000";
        QTest::newRow("top bit with a high index keeps the low bits") << qint64(0x80FF00FF) << "FF00FF";
    }
    void colourToHtml()
    {
        QFETCH(qint64, colour);
        QTEST(oleColourToHtml(colour), "html");
    }

    void systemColoursResolveThroughThePalette()
    {
        const QColor window = QGuiApplication::palette().color(QPalette::Active, QPalette::Base);
        const QString html = window.name(QColor::HexRgb).mid(1).toUpper();
        const QString expected = window.rgb() == QColor(Qt::black).rgb() ? "FFFFFF" : html;
        QCOMPARE(oleColourToHtml(0x80000005), expected);          // window background
        QCOMPARE(oleColourToHtml(qint64(-2147483643)), expected); // the same, as a signed 32-bit value
    }
    // A cell as the detail panel shows it: one line per "<br>", what follows a break cut to 1024
    // characters, the calendar's own characters back from their escapes.
    void cellDisplayText_data()
    {
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("shown");
        const QString dashes(10, u'-');
        QTest::newRow("two appointments") << "09:00 Stand-up<br>" + dashes + "<BR>Review"
                                          << "09:00 Stand-up\n" + dashes + "\nReview";
        QTest::newRow("empty cell") << "&nbsp"
                                    << "";
        QTest::newRow("escapes") << "&lt;b&gt;Tom &amp; Jerry&lt;/b&gt; &quot;x&quot;"
                                 << "<b>Tom & Jerry</b> \"x\"";
        QTest::newRow("escaped escape") << "&amp;lt;"
                                        << "&lt;";
        QTest::newRow("long tail") << "a<br>" + QString(1500, u'x') << "a\n" + QString(1024, u'x');
        QTest::newRow("tail holds a break") << "a<br>" + QString(1020, u'x') + "<br>yyyyyy"
                                            << "a\n" + QString(1020, u'x') + "\n";
    }
    void cellDisplayText()
    {
        QFETCH(QString, html);
        QFETCH(QString, shown);
        QCOMPARE(CellDetailsReader::displayText(html), shown);
    }

    // Whom and which day a cell stands for: the members in the order the query placed them (with the address
    // the team gives), every column one day even where weekends are hidden; no details for header cells.
    void cellDetails()
    {
        PlanningGrid grid;
        PlanningMatrix matrix;
        grid.setRows(6);
        grid.setColumns(9);
        grid.setFixedRows(4);
        grid.setFixedColumns(1);
        grid.setText(4, 0, "Anna");
        grid.setText(5, 0, "Anna");
        grid.setText(2, 7, "Sunday");
        grid.setText(3, 7, "07/12");
        grid.setColumnWidth(6, 0);
        matrix.cell(5, 7).html = "A &amp; B";
        const CellDetailsReader::ShownView week{"ThisWeek", QDate(2026, 12, 1), {"Anna <a@x>", "Anna <b@y>"}};
        const std::optional<CellDetails> cell = CellDetailsReader::read(grid, matrix, week, 5, 7);
        QVERIFY(cell);
        QCOMPARE(QStringList({cell->heading, cell->memberName, cell->member, cell->appointments}),
                 QStringList({"Sunday 07/12", "Anna", "Anna <b@y>", "A & B"}));
        QCOMPARE(cell->date, QDate(2026, 12, 7));
        QVERIFY(!cell->daySummary);
        QVERIFY(!CellDetailsReader::read(grid, matrix, week, 3, 7));
        QVERIFY(!CellDetailsReader::read(grid, matrix, week, 5, 0));
        QVERIFY(!CellDetailsReader::read(grid, matrix, {}, 5, 7));

        grid.setFixedRows(3);
        grid.setFixedColumns(2);
        grid.setText(0, 2, "Monday 07/12/2026");
        grid.setText(1, 3, "Anna");
        matrix.cell(2, 3).html = "Training";
        const std::optional<CellDetails> day =
            CellDetailsReader::read(grid, matrix, {"Today", QDate(2026, 12, 7), week.members}, 4, 3);
        QVERIFY(day);
        QCOMPARE(QStringList({day->heading, day->member, day->daySummary.value_or("none")}),
                 QStringList({"Monday 07/12/2026", "Anna <b@y>", "Training"}));
    }
};

QTEST_MAIN(TestPlanningGrid)
#include "tst_planninggrid.moc"
