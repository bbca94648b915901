#include "output/gridpainter.h"
#include "output/jpegwriter.h"
#include "output/pixelbuffer.h"
#include "output/planningpicture.h"
#include "planning/planninggrid.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The member view (months and weeks merged across the days in the header rows, appointments) or the day
// view (appointments of several hours merged down their members' columns), cut down.
void fill(PlanningGrid& grid, bool dayView)
{
    const int rows = dayView ? 25 : 16, columns = dayView ? 9 : 41, fixedRows = dayView ? 1 : 4;
    grid.setRows(rows);
    grid.setColumns(columns);
    grid.setFixedRows(fixedRows);
    grid.setFixedColumns(1);
    grid.setWordWrap(true);
    grid.setMergeMode(dayView ? PlanningGrid::MergeMode::RestrictColumns
                              : PlanningGrid::MergeMode::RestrictRows);
    for (int row = 0; row < rows; ++row) {
        grid.setMergeRow(row, row < 2);
        grid.setText(row, 0, QString("Member number %1").arg(row));
        if (!dayView && row >= fixedRows)
            grid.setRowHeight(row, 510);
        for (int column = 1; column < columns; ++column) {
            grid.setMergeColumn(column, true);
            const QDate date = QDate(2026, 7, 20).addDays(column);
            const bool busy = dayView ? row >= 2 * column && row <= 2 * column + column % 5
                                      : row >= fixedRows && (row + column) % 3 != 0;
            const QString header =
                row == 0 ? date.toString("MMMM yyyy") : QString("Week %1").arg(date.weekNumber());
            grid.setText(row, column,
                         row < fixedRows ? header
                         : busy          ? QString("Meeting %1\r\nof the team").arg(column % 7)
                                         : "");
            grid.setBackColour(row, column, busy ? 0x40c0ff + 0x1000 * row : 0);
            grid.setAlignment(row, column, PlanningGrid::Alignment::Centre);
        }
    }
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestPlanningPicture : public QObject {
    Q_OBJECT

private slots:
    // Drawn and encoded in strips, the picture is the one drawn whole and encoded from the 24-bit buffer.
    void stripsMatchWhole_data()
    {
        QTest::addColumn<bool>("dayView");
        QTest::addColumn<int>("stripHeight");
        QTest::newRow("member view, a strip a row") << false << 1;
        QTest::newRow("member view, strips through the data") << false << 45;
        QTest::newRow("day view, strips beside merged hours") << true << 30;
    }
    void stripsMatchWhole()
    {
        QFETCH(bool, dayView);
        QFETCH(int, stripHeight);
        PlanningGrid grid;
        fill(grid, dayView);
        const GridPainter painter(grid);
        QTemporaryDir folder;
        PixelBuffer buffer;
        QVERIFY(buffer.createFromPicture(painter.renderAll()));
        saveJpeg(buffer, folder.filePath("whole.jpg"), 90);
        savePlanningPicture(painter, folder.filePath("strips.jpg"), stripHeight);
        const QImage whole(folder.filePath("whole.jpg"), "JPEG");
        QVERIFY(!whole.isNull());
        QCOMPARE(QImage(folder.filePath("strips.jpg"), "JPEG"), whole);
        QCOMPARE(readFile(folder.filePath("strips.jpg")), readFile(folder.filePath("whole.jpg")));
    }
};

QTEST_MAIN(TestPlanningPicture)
#include "tst_planningpicture.moc"
