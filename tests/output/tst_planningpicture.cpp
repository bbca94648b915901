#include "output/gridpainter.h"
#include "output/planningpicture.h"
#include "planning/planninggrid.h"

#include <QImage>
#include <QTemporaryDir>
#include <QTest>

class TestPlanningPicture : public QObject {
    Q_OBJECT

private slots:
    void pictureOfTheWholeGrid()
    {
        PlanningGrid grid;
        grid.setRows(7);
        grid.setColumns(9);
        grid.setFixedRows(2);
        grid.setFixedColumns(1);
        grid.setColumnWidth(0, 1200);
        grid.setColumnWidth(8, 0); // a hidden column takes no room in the picture either
        grid.setText(2, 0, "Anna Kowalska");
        grid.setBackColour(2, 1, 255); // red, in the first data cell
        grid.setText(2, 1, "Holiday");

        QTemporaryDir folder;
        const QString path = folder.filePath("planning.jpg");
        savePlanningPicture(GridPainter(grid), path);

        const QImage picture(path, "JPEG");
        QVERIFY(!picture.isNull());
        const GridPainter painter(grid);
        QCOMPARE(picture.size(), painter.fullSize());
        // The red cell where the grid shows it: upright, not mirrored.
        const QRgb cell = picture.pixel(painter.columnX(1) + 3, painter.rowY(2) + painter.rowHeight(2) - 3);
        QVERIFY2(qRed(cell) > 200 && qGreen(cell) < 60 && qBlue(cell) < 60,
                 qPrintable(QString::number(cell, 16)));
    }
};

QTEST_MAIN(TestPlanningPicture)
#include "tst_planningpicture.moc"
