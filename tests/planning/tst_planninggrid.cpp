#include "planning/planninggrid.h"

#include <QSignalSpy>
#include <QTest>

#include <climits>
#include <functional>
#include <map>

using Range = PlanningGrid::Range;
using Mode = PlanningGrid::MergeMode;
using Mutation = std::function<void(PlanningGrid&)>;
Q_DECLARE_METATYPE(Mutation)

namespace {

// One grid line per string, cells separated by '|'.
void fillGrid(PlanningGrid& grid, const QStringList& lines)
{
    int columns = 0;
    for (const QString& line : lines)
        columns = std::max(columns, int(line.split(u'|').size()));
    grid.setRows(int(lines.size()));
    grid.setColumns(columns);
    for (int row = 0; row < lines.size(); ++row) {
        const QStringList cells = lines[row].split(u'|');
        for (int column = 0; column < cells.size(); ++column)
            grid.setText(row, column, cells[column]);
    }
}

// Blocks drawn as letters, one per cell and separated by blanks: cells with the same letter form one block,
// '.' is a cell on its own.
std::map<std::pair<int, int>, Range> expectedRanges(const QStringList& blocks)
{
    std::map<QChar, Range> byLetter;
    std::map<std::pair<int, int>, Range> ranges;
    for (int row = 0; row < blocks.size(); ++row) {
        const QStringList letters = blocks[row].split(u' ', Qt::SkipEmptyParts);
        for (int column = 0; column < letters.size(); ++column) {
            const QChar letter = letters[column].at(0);
            if (letter == u'.')
                continue;
            auto [it, added] = byLetter.try_emplace(letter, Range{row, column, row, column});
            if (!added) {
                it->second.firstRow = std::min(it->second.firstRow, row);
                it->second.firstColumn = std::min(it->second.firstColumn, column);
                it->second.lastRow = std::max(it->second.lastRow, row);
                it->second.lastColumn = std::max(it->second.lastColumn, column);
            }
        }
    }
    for (int row = 0; row < blocks.size(); ++row) {
        const QStringList letters = blocks[row].split(u' ', Qt::SkipEmptyParts);
        for (int column = 0; column < letters.size(); ++column) {
            const QChar letter = letters[column].at(0);
            ranges[{row, column}] = letter == u'.' ? Range{row, column, row, column} : byLetter[letter];
        }
    }
    return ranges;
}

QString describe(const Range& range)
{
    return QStringLiteral("(%1,%2)-(%3,%4)")
        .arg(range.firstRow)
        .arg(range.firstColumn)
        .arg(range.lastRow)
        .arg(range.lastColumn);
}

void verifyDefaultCell(const PlanningGrid& grid, int row, int column)
{
    QVERIFY(grid.text(row, column).isEmpty());
    QCOMPARE(grid.backColour(row, column), 0);
    QCOMPARE(grid.bold(row, column), false);
    QCOMPARE(grid.fontSize(row, column), 0.0);
}

} // namespace

class TestPlanningGrid : public QObject {
    Q_OBJECT

private slots:
    void resizeKeepsCellsInPlace_data()
    {
        QTest::addColumn<QSize>("from"); // width: columns, height: rows
        QTest::addColumn<QSize>("via");
        QTest::addColumn<QSize>("to");
        QTest::addColumn<bool>("columnsFirst");
        QTest::newRow("grow both") << QSize(3, 4) << QSize(3, 4) << QSize(7, 9) << false;
        QTest::newRow("shrink both") << QSize(6, 8) << QSize(6, 8) << QSize(2, 3) << false;
        QTest::newRow("more rows, fewer columns") << QSize(6, 3) << QSize(6, 3) << QSize(4, 7) << false;
        QTest::newRow("fewer rows, more columns") << QSize(3, 6) << QSize(3, 6) << QSize(5, 2) << true;
        QTest::newRow("columns changed before rows") << QSize(4, 5) << QSize(4, 5) << QSize(6, 3) << true;
        QTest::newRow("to nothing") << QSize(4, 4) << QSize(4, 4) << QSize(0, 0) << false;
        QTest::newRow("reduced to one cell, grown again")
            << QSize(8, 10) << QSize(1, 1) << QSize(12, 6) << false;
        QTest::newRow("emptied, grown again") << QSize(5, 5) << QSize(0, 0) << QSize(5, 5) << true;
        QTest::newRow("only columns dropped and regrown")
            << QSize(6, 4) << QSize(2, 4) << QSize(6, 4) << true;
    }
    void resizeKeepsCellsInPlace()
    {
        QFETCH(QSize, from);
        QFETCH(QSize, via);
        QFETCH(QSize, to);
        QFETCH(bool, columnsFirst);
        const auto resize = [&](PlanningGrid& grid, QSize size) {
            if (columnsFirst) {
                grid.setColumns(size.width());
                grid.setRows(size.height());
            }
            else {
                grid.setRows(size.height());
                grid.setColumns(size.width());
            }
        };

        PlanningGrid grid;
        resize(grid, from);
        for (int row = 0; row < from.height(); ++row) {
            grid.setRowHeight(row, 300 + row);
            grid.setMergeRow(row, true);
            for (int column = 0; column < from.width(); ++column) {
                grid.setText(row, column, QStringLiteral("%1:%2").arg(row).arg(column));
                grid.setBackColour(row, column, 1000 * row + column + 1);
                grid.setBold(row, column, true);
                grid.setFontSize(row, column, 9);
                grid.setAlignment(row, column, PlanningGrid::Alignment::RightBottom);
            }
        }
        for (int column = 0; column < from.width(); ++column) {
            grid.setColumnWidth(column, 100 + column);
            grid.setRememberedWidth(column, 50 + column);
            grid.setMergeColumn(column, true);
        }
        resize(grid, via);
        resize(grid, to);

        QCOMPARE(grid.rows(), to.height());
        QCOMPARE(grid.columns(), to.width());
        const int keptRows = std::min({from.height(), via.height(), to.height()});
        const int keptColumns = std::min({from.width(), via.width(), to.width()});
        for (int row = 0; row < to.height() + 1; ++row) {
            for (int column = 0; column < to.width() + 1; ++column) {
                if (row < keptRows && column < keptColumns) {
                    QCOMPARE(grid.text(row, column), QStringLiteral("%1:%2").arg(row).arg(column));
                    QCOMPARE(grid.backColour(row, column), 1000 * row + column + 1);
                    QVERIFY(grid.bold(row, column));
                    QCOMPARE(grid.fontSize(row, column), 9.0);
                    QCOMPARE(grid.alignment(row, column), PlanningGrid::Alignment::RightBottom);
                }
                else {
                    verifyDefaultCell(grid, row, column);
                    QCOMPARE(grid.alignment(row, column), PlanningGrid::Alignment::LeftCentre);
                }
            }
        }
        for (int row = 0; row < to.height() + 1; ++row) {
            const bool kept = row < keptRows;
            QCOMPARE(grid.rowHeight(row), kept ? 300 + row : grid.standardRowHeight());
            QCOMPARE(grid.mergeRow(row), kept);
        }
        for (int column = 0; column < to.width() + 1; ++column) {
            const bool kept = column < keptColumns;
            QCOMPARE(grid.columnWidth(column), kept ? 100 + column : PlanningGrid::kDefaultColumnWidth);
            QCOMPARE(grid.rememberedWidth(column), kept ? 50 + column : 0);
            QCOMPARE(grid.mergeColumn(column), kept);
        }
    }

    void fixedCountsStayWithinTheCounts_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("fixed");
        QTest::addColumn<int>("newCount");
        QTest::addColumn<int>("expectedFixed");
        QTest::addColumn<int>("regrownCount");
        QTest::addColumn<int>("expectedAfterRegrowing");
        QTest::newRow("shrunk below the fixed count") << 10 << 4 << 1 << 1 << 10 << 1;
        QTest::newRow("shrunk, still above the fixed count") << 10 << 4 << 6 << 4 << 10 << 4;
        QTest::newRow("shrunk to exactly the fixed count") << 10 << 4 << 4 << 4 << 10 << 4;
        QTest::newRow("emptied") << 5 << 3 << 0 << 0 << 5 << 0;
        QTest::newRow("more fixed than there are") << 5 << 9 << 5 << 5 << 8 << 5;
        QTest::newRow("negative fixed count") << 5 << -2 << 5 << 0 << 5 << 0;
    }
    void fixedCountsStayWithinTheCounts()
    {
        QFETCH(int, count);
        QFETCH(int, fixed);
        QFETCH(int, newCount);
        QFETCH(int, expectedFixed);
        QFETCH(int, regrownCount);
        QFETCH(int, expectedAfterRegrowing);

        PlanningGrid rowsGrid;
        rowsGrid.setColumns(3);
        rowsGrid.setRows(count);
        rowsGrid.setFixedRows(fixed);
        rowsGrid.setRows(newCount);
        QCOMPARE(rowsGrid.fixedRows(), expectedFixed);
        rowsGrid.setRows(regrownCount);
        QCOMPARE(rowsGrid.fixedRows(), expectedAfterRegrowing);
        QCOMPARE(rowsGrid.fixedColumns(), 0);

        PlanningGrid columnsGrid;
        columnsGrid.setRows(3);
        columnsGrid.setColumns(count);
        columnsGrid.setFixedColumns(fixed);
        columnsGrid.setColumns(newCount);
        QCOMPARE(columnsGrid.fixedColumns(), expectedFixed);
        columnsGrid.setColumns(regrownCount);
        QCOMPARE(columnsGrid.fixedColumns(), expectedAfterRegrowing);
        QCOMPARE(columnsGrid.fixedRows(), 0);
    }

    void cellsOutsideTheGrid_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::newRow("row -1") << -1 << 0;
        QTest::newRow("column -1") << 0 << -1;
        QTest::newRow("row past the end") << 4 << 0;
        QTest::newRow("column past the end") << 0 << 3;
        QTest::newRow("both past the end") << 4 << 3;
        QTest::newRow("negative row, column inside") << -1 << 2;
        // A row offset of row × columns must not wrap into the grid.
        QTest::newRow("huge") << INT_MAX << INT_MAX;
        QTest::newRow("most negative") << INT_MIN << INT_MIN;
        QTest::newRow("most negative row, last column") << INT_MIN << 2;
    }
    void cellsOutsideTheGrid()
    {
        QFETCH(int, row);
        QFETCH(int, column);
        PlanningGrid grid;
        grid.setRows(4);
        grid.setColumns(3);
        grid.setFixedRows(1);
        grid.setFixedColumns(1);
        grid.setMergeMode(Mode::Free);
        QSignalSpy spy(&grid, &PlanningGrid::changed);

        grid.setText(row, column, QStringLiteral("x"));
        grid.setBackColour(row, column, 255);
        grid.setAlignment(row, column, PlanningGrid::Alignment::RightTop);
        grid.setBold(row, column, true);
        grid.setFontSize(row, column, 14);

        QCOMPARE(spy.count(), 0);
        verifyDefaultCell(grid, row, column);
        QCOMPARE(grid.alignment(row, column), PlanningGrid::Alignment::LeftCentre);
        QCOMPARE(grid.mergedRange(row, column), (Range{row, column, row, column}));
        for (int r = 0; r < grid.rows(); ++r) {
            for (int c = 0; c < grid.columns(); ++c)
                verifyDefaultCell(grid, r, c);
        }
    }

    void linesOutsideTheGrid_data()
    {
        QTest::addColumn<int>("index");
        QTest::newRow("-1") << -1;
        QTest::newRow("count") << 5;
        QTest::newRow("far past the end") << 500;
        QTest::newRow("most negative") << INT_MIN;
        QTest::newRow("largest") << INT_MAX;
    }
    void linesOutsideTheGrid()
    {
        QFETCH(int, index);
        PlanningGrid grid;
        grid.setRows(5);
        grid.setColumns(5);
        grid.setStandardRowHeight(300);
        QSignalSpy spy(&grid, &PlanningGrid::changed);

        grid.setColumnWidth(index, 0);
        grid.setRememberedWidth(index, 77);
        grid.setMergeColumn(index, true);
        grid.setRowHeight(index, 0);
        grid.setMergeRow(index, true);

        QCOMPARE(spy.count(), 0);
        QCOMPARE(grid.columnWidth(index), PlanningGrid::kDefaultColumnWidth);
        QCOMPARE(grid.rememberedWidth(index), 0);
        QCOMPARE(grid.mergeColumn(index), false);
        QCOMPARE(grid.rowHeight(index), 300);
        QCOMPARE(grid.mergeRow(index), false);
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(grid.columnWidth(i), PlanningGrid::kDefaultColumnWidth);
            QCOMPARE(grid.rememberedWidth(i), 0);
            QCOMPARE(grid.mergeColumn(i), false);
            QCOMPARE(grid.rowHeight(i), 300);
            QCOMPARE(grid.mergeRow(i), false);
        }
    }

    void alignmentDependsOnTheCellsKind_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<PlanningGrid::Alignment>("expected");
        QTest::newRow("corner") << 0 << 0 << PlanningGrid::Alignment::Centre;
        QTest::newRow("fixed row") << 1 << 2 << PlanningGrid::Alignment::Centre;
        QTest::newRow("fixed column") << 3 << 0 << PlanningGrid::Alignment::Centre;
        QTest::newRow("first data cell") << 2 << 1 << PlanningGrid::Alignment::LeftCentre;
        QTest::newRow("last data cell") << 3 << 2 << PlanningGrid::Alignment::LeftCentre;
    }
    void alignmentDependsOnTheCellsKind()
    {
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(PlanningGrid::Alignment, expected);
        PlanningGrid grid;
        grid.setRows(4);
        grid.setColumns(3);
        grid.setFixedRows(2);
        grid.setFixedColumns(1);
        QCOMPARE(grid.alignment(row, column), expected);

        grid.setAlignment(row, column, PlanningGrid::Alignment::LeftTop);
        QCOMPARE(grid.alignment(row, column), PlanningGrid::Alignment::LeftTop);
        grid.clear();
        QCOMPARE(grid.alignment(row, column), expected);

        // The default follows the cell's kind as it is now, not as it was.
        grid.setFixedRows(0);
        grid.setFixedColumns(0);
        QCOMPARE(grid.alignment(row, column), PlanningGrid::Alignment::LeftCentre);
    }

    void columnWidth_data()
    {
        QTest::addColumn<QList<int>>("widths");
        QTest::addColumn<int>("expected");
        QTest::newRow("never set") << QList<int>{} << PlanningGrid::kDefaultColumnWidth;
        QTest::newRow("hidden") << QList<int>{0} << 0;
        QTest::newRow("hidden after a width") << QList<int>{1200, 0} << 0;
        QTest::newRow("shown again") << QList<int>{0, 400} << 400;
        QTest::newRow("back to the default") << QList<int>{0, -1} << PlanningGrid::kDefaultColumnWidth;
    }
    void columnWidth()
    {
        QFETCH(QList<int>, widths);
        QFETCH(int, expected);
        PlanningGrid grid;
        grid.setRows(2);
        grid.setColumns(3);
        for (int width : widths)
            grid.setColumnWidth(1, width);
        QCOMPARE(grid.columnWidth(1), expected);
        QCOMPARE(grid.columnWidth(0), PlanningGrid::kDefaultColumnWidth);
        QCOMPARE(grid.columnWidth(2), PlanningGrid::kDefaultColumnWidth);
    }

    void rowHeight_data()
    {
        QTest::addColumn<QList<int>>("heights");
        QTest::addColumn<int>("standard");
        QTest::addColumn<int>("expected");
        QTest::newRow("never set, default standard")
            << QList<int>{} << PlanningGrid::kDefaultRowHeight << PlanningGrid::kDefaultRowHeight;
        QTest::newRow("never set, follows the standard") << QList<int>{} << 400 << 400;
        QTest::newRow("own height ignores the standard") << QList<int>{765} << 400 << 765;
        QTest::newRow("zero height") << QList<int>{0} << 400 << 0;
        QTest::newRow("back to the standard") << QList<int>{765, -1} << 400 << 400;
    }
    void rowHeight()
    {
        QFETCH(QList<int>, heights);
        QFETCH(int, standard);
        QFETCH(int, expected);
        PlanningGrid grid;
        grid.setRows(3);
        grid.setColumns(2);
        for (int height : heights)
            grid.setRowHeight(1, height);
        // The standard changes after the row got its height: only rows without one follow it.
        grid.setStandardRowHeight(standard);
        QCOMPARE(grid.rowHeight(1), expected);
        QCOMPARE(grid.rowHeight(0), standard);
        QCOMPARE(grid.rowHeight(2), standard);
    }

    void merging_data()
    {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<int>("fixedRows");
        QTest::addColumn<int>("fixedColumns");
        QTest::addColumn<Mode>("mode");
        QTest::addColumn<QList<int>>("mergeRows");
        QTest::addColumn<QList<int>>("mergeColumns");
        QTest::addColumn<QStringList>("blocks");

        const QStringList monthHeaders = {
            "|DEC|DEC|DEC|JAN|JAN", "|W 52|W 52|W 1|W 1|W 1", "|Mon|Mon|Tue|Wed|Wed",
            "|29|30|31|01|02",      "Ann|Meet|Meet|Meet||",   "Bob|Off|Off|Off|Off|Off",
        };
        QTest::newRow("month and week headers")
            << monthHeaders << 4 << 1 << Mode::RestrictRows << QList<int>{0, 1} << QList<int>{}
            << QStringList{". a a a b b", ". c c d d d", ". . . . . .",
                           ". . . . . .", ". . . . . .", ". . . . . ."};
        QTest::newRow("rows restricted: marked columns do not merge")
            << QStringList{"A|A", "A|B", "A|B"} << 0 << 0 << Mode::RestrictRows << QList<int>{0}
            << QList<int>{0, 1} << QStringList{"a a", ". .", ". ."};
        QTest::newRow("columns restricted: marked rows do not merge")
            << QStringList{"A|A|A", "A|B|C", "B|B|C"} << 0 << 0 << Mode::RestrictColumns << QList<int>{0, 2}
            << QList<int>{0, 1, 2} << QStringList{"a . .", "a c b", ". c b"};
        QTest::newRow("never merges") << QStringList{"A|A", "A|A"} << 0 << 0 << Mode::Never
                                      << QList<int>{0, 1} << QList<int>{0, 1} << QStringList{". .", ". ."};

        // The day view: title, names and all-day row fixed, hours and minutes fixed, a meeting from 09:00
        // to 10:00 over two half-hour rows, a call over the next two in another member's column.
        const QStringList dayView = {
            " | |Monday|Monday|Monday", " | |Ann|Bob|Cid",  " | |Leave||", "09|00|Meet||",
            "09|30|Meet|Call|",         "10|00||Call|Call", "10|30|||",
        };
        QTest::newRow("day view") << dayView << 3 << 2 << Mode::Free << QList<int>{0, 1, 2}
                                  << QList<int>{0, 1, 2, 3, 4}
                                  << QStringList{"a a b b b", "c c . . .", "d d . . .", "e . f . .",
                                                 "e . f g .", "h . . g .", "h . . . ."};

        QTest::newRow("horizontal block does not also merge vertically")
            << QStringList{"A|x|y", "A|A|z", "A|w|v"} << 0 << 0 << Mode::Free << QList<int>{1}
            << QList<int>{0, 1} << QStringList{". . .", "a a .", ". . ."};
        QTest::newRow("vertical run stops at a horizontal block")
            << QStringList{"A|x", "A|y", "A|A", "A|z"} << 0 << 0 << Mode::Free << QList<int>{2}
            << QList<int>{0} << QStringList{"a .", "a .", "b b", ". ."};
        QTest::newRow("marked row without an equal neighbour merges vertically")
            << QStringList{"A|x", "A|B", "A|y"} << 0 << 0 << Mode::Free << QList<int>{0, 1, 2}
            << QList<int>{0} << QStringList{"a .", "a .", "a ."};

        const QStringList allEqual = {"X|X|X", "X|X|X", "X|X|X", "X|X|X"};
        QTest::newRow("fixed and data cells apart, free")
            << allEqual << 1 << 1 << Mode::Free << QList<int>{0, 1, 2, 3} << QList<int>{0, 1, 2}
            << QStringList{"a a a", "b c c", "b d d", "b e e"};
        QTest::newRow("fixed and data cells apart, across")
            << allEqual << 1 << 1 << Mode::RestrictRows << QList<int>{0, 1, 2, 3} << QList<int>{}
            << QStringList{"a a a", ". b b", ". c c", ". d d"};
        QTest::newRow("fixed and data cells apart, down")
            << allEqual << 2 << 1 << Mode::RestrictColumns << QList<int>{} << QList<int>{0, 1, 2}
            << QStringList{"a b c", "a b c", "a d e", "a d e"};

        QTest::newRow("empty cells stay apart, blanks merge")
            << QStringList{"||A|A", "|| | ", "A||A|"} << 0 << 0 << Mode::Free << QList<int>{0, 1, 2}
            << QList<int>{0, 1, 2, 3} << QStringList{". . a a", ". . b b", ". . . ."};
        QTest::newRow("only equal texts merge")
            << QStringList{"Dec|DEC|DEC |DEC"} << 0 << 0 << Mode::RestrictRows << QList<int>{0}
            << QList<int>{} << QStringList{". . . ."};
    }
    void merging()
    {
        QFETCH(QStringList, texts);
        QFETCH(int, fixedRows);
        QFETCH(int, fixedColumns);
        QFETCH(Mode, mode);
        QFETCH(QList<int>, mergeRows);
        QFETCH(QList<int>, mergeColumns);
        QFETCH(QStringList, blocks);

        PlanningGrid grid;
        fillGrid(grid, texts);
        grid.setFixedRows(fixedRows);
        grid.setFixedColumns(fixedColumns);
        grid.setMergeMode(mode);
        for (int row : mergeRows)
            grid.setMergeRow(row, true);
        for (int column : mergeColumns)
            grid.setMergeColumn(column, true);

        const auto expected = expectedRanges(blocks);
        QCOMPARE(int(expected.size()), grid.rows() * grid.columns());
        for (const auto& [cell, range] : expected) {
            const Range actual = grid.mergedRange(cell.first, cell.second);
            if (!(actual == range))
                QFAIL(qPrintable(QStringLiteral("cell (%1,%2): %3, expected %4")
                                     .arg(cell.first)
                                     .arg(cell.second)
                                     .arg(describe(actual), describe(range))));
        }
    }

    void changedIsAnnounced_data()
    {
        QTest::addColumn<Mutation>("mutation");
        QTest::addColumn<int>("expected");
        QTest::newRow("rows") << Mutation([](PlanningGrid& g) { g.setRows(8); }) << 1;
        QTest::newRow("columns") << Mutation([](PlanningGrid& g) { g.setColumns(2); }) << 1;
        QTest::newRow("fixed rows") << Mutation([](PlanningGrid& g) { g.setFixedRows(2); }) << 1;
        QTest::newRow("fixed columns") << Mutation([](PlanningGrid& g) { g.setFixedColumns(0); }) << 1;
        QTest::newRow("clear") << Mutation([](PlanningGrid& g) { g.clear(); }) << 1;
        QTest::newRow("text") << Mutation([](PlanningGrid& g) { g.setText(2, 2, "x"); }) << 1;
        QTest::newRow("back colour") << Mutation([](PlanningGrid& g) { g.setBackColour(2, 2, 255); }) << 1;
        QTest::newRow("alignment") << Mutation([](PlanningGrid& g) {
            g.setAlignment(2, 2, PlanningGrid::Alignment::LeftTop);
        }) << 1;
        QTest::newRow("bold") << Mutation([](PlanningGrid& g) { g.setBold(2, 2, true); }) << 1;
        QTest::newRow("font size") << Mutation([](PlanningGrid& g) { g.setFontSize(2, 2, 12); }) << 1;
        QTest::newRow("column width") << Mutation([](PlanningGrid& g) { g.setColumnWidth(1, 0); }) << 1;
        QTest::newRow("remembered width")
            << Mutation([](PlanningGrid& g) { g.setRememberedWidth(1, 400); }) << 1;
        QTest::newRow("row height") << Mutation([](PlanningGrid& g) { g.setRowHeight(3, 765); }) << 1;
        QTest::newRow("standard row height")
            << Mutation([](PlanningGrid& g) { g.setStandardRowHeight(300); }) << 1;
        QTest::newRow("merge mode") << Mutation([](PlanningGrid& g) { g.setMergeMode(Mode::Free); }) << 1;
        QTest::newRow("merge row") << Mutation([](PlanningGrid& g) { g.setMergeRow(0, true); }) << 1;
        QTest::newRow("merge column") << Mutation([](PlanningGrid& g) { g.setMergeColumn(2, true); }) << 1;
        QTest::newRow("word wrap") << Mutation([](PlanningGrid& g) { g.setWordWrap(true); }) << 1;
        QTest::newRow("top row") << Mutation([](PlanningGrid& g) { g.setTopRow(3); }) << 1;
        QTest::newRow("current cell") << Mutation([](PlanningGrid& g) { g.setCurrentCell(3, 2); }) << 1;
        QTest::newRow("a query's many writes") << Mutation([](PlanningGrid& g) {
            for (int column = 1; column < 4; ++column) {
                g.setCurrentCell(4, column);
                g.setText(4, column, "Meet");
                g.setBackColour(4, column, 255);
            }
        }) << 9;
        QTest::newRow("a write outside the grid")
            << Mutation([](PlanningGrid& g) { g.setText(5, 0, "x"); }) << 0;
    }
    void changedIsAnnounced()
    {
        QFETCH(Mutation, mutation);
        QFETCH(int, expected);
        const auto makeGrid = [](PlanningGrid& grid) {
            grid.setRows(5);
            grid.setColumns(4);
            grid.setFixedRows(1);
            grid.setFixedColumns(1);
        };

        PlanningGrid shown;
        makeGrid(shown);
        QSignalSpy shownSpy(&shown, &PlanningGrid::changed);
        mutation(shown);
        QCOMPARE(shownSpy.count(), expected);

        PlanningGrid hidden;
        makeGrid(hidden);
        QSignalSpy hiddenSpy(&hidden, &PlanningGrid::changed);
        hidden.setRedraw(false);
        QVERIFY(!hidden.redraw());
        mutation(hidden);
        QCOMPARE(hiddenSpy.count(), 0);
        hidden.setRedraw(true);
        QCOMPARE(hiddenSpy.count(), 1);
    }

    void clearKeepsTheLayout()
    {
        PlanningGrid grid;
        fillGrid(grid, {"A|A|B", "C|D|E", "F|G|H"});
        grid.setFixedRows(1);
        grid.setFixedColumns(1);
        grid.setMergeMode(Mode::RestrictRows);
        grid.setMergeRow(0, true);
        grid.setMergeColumn(2, true);
        grid.setColumnWidth(1, 0);
        grid.setRememberedWidth(2, 800);
        grid.setRowHeight(2, 765);
        grid.setWordWrap(true);
        for (int row = 0; row < 3; ++row) {
            for (int column = 0; column < 3; ++column) {
                grid.setBackColour(row, column, 16744576);
                grid.setBold(row, column, true);
                grid.setFontSize(row, column, 12);
                grid.setAlignment(row, column, PlanningGrid::Alignment::CentreTop);
            }
        }

        grid.clear();

        for (int row = 0; row < 3; ++row) {
            for (int column = 0; column < 3; ++column) {
                verifyDefaultCell(grid, row, column);
                QCOMPARE(grid.alignment(row, column), row < 1 || column < 1
                                                          ? PlanningGrid::Alignment::Centre
                                                          : PlanningGrid::Alignment::LeftCentre);
            }
        }
        QCOMPARE(grid.rows(), 3);
        QCOMPARE(grid.columns(), 3);
        QCOMPARE(grid.fixedRows(), 1);
        QCOMPARE(grid.fixedColumns(), 1);
        QCOMPARE(grid.mergeMode(), Mode::RestrictRows);
        QVERIFY(grid.mergeRow(0));
        QVERIFY(grid.mergeColumn(2));
        QCOMPARE(grid.columnWidth(1), 0);
        QCOMPARE(grid.rememberedWidth(2), 800);
        QCOMPARE(grid.rowHeight(2), 765);
        QVERIFY(grid.wordWrap());
    }

    void topRowStaysOnDataRows_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("fixedRows");
        QTest::addColumn<int>("requested");
        QTest::addColumn<int>("rowsAfterwards");
        QTest::addColumn<int>("expected");
        QTest::newRow("a data row") << 51 << 3 << 21 << 51 << 21;
        QTest::newRow("inside the fixed rows") << 51 << 3 << 1 << 51 << 3;
        QTest::newRow("negative") << 51 << 3 << -4 << 51 << 3;
        QTest::newRow("past the end") << 51 << 3 << 80 << 51 << 50;
        QTest::newRow("no data rows") << 4 << 4 << 2 << 4 << 0;
        QTest::newRow("empty grid") << 0 << 0 << 5 << 0 << 0;
        QTest::newRow("grid shrinks below it") << 51 << 3 << 40 << 20 << 19;
        QTest::newRow("grid shrinks to its fixed rows") << 51 << 3 << 40 << 3 << 0;
    }
    void topRowStaysOnDataRows()
    {
        QFETCH(int, rows);
        QFETCH(int, fixedRows);
        QFETCH(int, requested);
        QFETCH(int, rowsAfterwards);
        QFETCH(int, expected);
        PlanningGrid grid;
        grid.setColumns(3);
        grid.setRows(rows);
        grid.setFixedRows(fixedRows);
        grid.setTopRow(requested);
        grid.setRows(rowsAfterwards);
        QCOMPARE(grid.topRow(), expected);
    }

    void currentCellStaysInTheGrid_data()
    {
        QTest::addColumn<QSize>("size");       // width: columns, height: rows
        QTest::addColumn<QPoint>("requested"); // x: column, y: row
        QTest::addColumn<QSize>("sizeAfterwards");
        QTest::addColumn<QPoint>("expected");
        QTest::newRow("inside") << QSize(5, 10) << QPoint(3, 7) << QSize(5, 10) << QPoint(3, 7);
        QTest::newRow("a fixed cell") << QSize(5, 10) << QPoint(0, 0) << QSize(5, 10) << QPoint(0, 0);
        QTest::newRow("past the end") << QSize(5, 10) << QPoint(9, 30) << QSize(5, 10) << QPoint(4, 9);
        QTest::newRow("negative") << QSize(5, 10) << QPoint(-2, -1) << QSize(5, 10) << QPoint(0, 0);
        QTest::newRow("grid shrinks below it") << QSize(5, 10) << QPoint(4, 9) << QSize(2, 3) << QPoint(1, 2);
        QTest::newRow("grid emptied") << QSize(5, 10) << QPoint(4, 9) << QSize(0, 0) << QPoint(0, 0);
    }
    void currentCellStaysInTheGrid()
    {
        QFETCH(QSize, size);
        QFETCH(QPoint, requested);
        QFETCH(QSize, sizeAfterwards);
        QFETCH(QPoint, expected);
        PlanningGrid grid;
        grid.setRows(size.height());
        grid.setColumns(size.width());
        grid.setFixedRows(1);
        grid.setFixedColumns(1);
        grid.setCurrentCell(requested.y(), requested.x());
        grid.setRows(sizeAfterwards.height());
        grid.setColumns(sizeAfterwards.width());
        QCOMPARE(grid.row(), expected.y());
        QCOMPARE(grid.column(), expected.x());
    }
};

QTEST_GUILESS_MAIN(TestPlanningGrid)
#include "tst_planninggrid.moc"
