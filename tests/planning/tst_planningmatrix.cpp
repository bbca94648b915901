#include "planning/planningmatrix.h"

#include <QGuiApplication>
#include <QPalette>
#include <QTest>

#include <map>
#include <stdexcept>

class TestPlanningMatrix : public QObject {
    Q_OBJECT

private slots:
    void resetClearsTheMemberPartOnly()
    {
        PlanningMatrix matrix;
        for (int row = 0; row < PlanningMatrix::kRows; ++row) {
            for (int column = 0; column < PlanningMatrix::kColumns; ++column)
                matrix.cell(row, column) = {QStringLiteral("x"), QStringLiteral("255"),
                                            QStringLiteral("FF0000"), QStringLiteral("3")};
        }
        std::map<std::pair<int, int>, QString> grid;
        for (int row = 0; row < 10; ++row) {
            for (int column = 0; column < 8; ++column)
                grid[{row, column}] = QStringLiteral("text");
        }

        matrix.reset(10, 4, 8, [&](int row, int column) { grid[{row, column}].clear(); });

        for (int row = 0; row < 12; ++row) {
            for (int column = 0; column < 9; ++column) {
                const PlanningCell& cell = matrix.cell(row, column);
                const bool member = row >= 4 && row < 10 && column < 8;
                QCOMPARE(cell.html, member ? QStringLiteral("&nbsp") : QStringLiteral("x"));
                QCOMPARE(cell.gridColour, member ? QStringLiteral("0") : QStringLiteral("255"));
                QCOMPARE(cell.htmlColour, member ? QStringLiteral("FFFFFF") : QStringLiteral("FF0000"));
                QCOMPARE(cell.ruleRank, member ? QStringLiteral("0") : QStringLiteral("3"));
                if (row < 10 && column < 8)
                    QCOMPARE(grid[std::make_pair(row, column)].isEmpty(), member);
            }
        }
    }

    void resetOfAGridLargerThanTheMatrixStaysInside()
    {
        PlanningMatrix matrix;
        int cleared = 0;
        matrix.reset(140, 3, 200, [&](int, int) { ++cleared; });
        QCOMPARE(cleared, 137 * 200); // the grid is cleared whole
        QCOMPARE(matrix.cell(130, 190).html, QStringLiteral("&nbsp"));
    }

    void boundsAreFixed_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::addColumn<bool>("inside");
        QTest::newRow("last cell") << 130 << 190 << true;
        QTest::newRow("row 131") << 131 << 0 << false;
        QTest::newRow("column 191") << 0 << 191 << false;
        QTest::newRow("negative") << -1 << 5 << false;
    }
    void boundsAreFixed()
    {
        QFETCH(int, row);
        QFETCH(int, column);
        QFETCH(bool, inside);
        PlanningMatrix matrix;
        QCOMPARE(PlanningMatrix::contains(row, column), inside);
        if (inside)
            QCOMPARE(matrix.cell(row, column).ruleRank, QStringLiteral("0"));
        else
            QVERIFY_THROWS_EXCEPTION(std::out_of_range, matrix.cell(row, column));
    }

    void emptyTest_data()
    {
        QTest::addColumn<QString>("html");
        QTest::addColumn<bool>("empty");
        QTest::newRow("reset value") << "&nbsp" << true;
        QTest::newRow("capitals") << "&NBSP" << true;
        QTest::newRow("mixed") << "&NbSp" << true;
        QTest::newRow("with semicolon") << "&nbsp;" << false;
        QTest::newRow("blank") << "" << false;
        QTest::newRow("text") << "Meeting" << false;
    }
    void emptyTest()
    {
        QFETCH(QString, html);
        QFETCH(bool, empty);
        QCOMPARE(PlanningMatrix::isEmptyHtml(html), empty);
    }

    void colourToHtml_data()
    {
        QTest::addColumn<qint64>("colour");
        QTest::addColumn<QString>("html");
        QTest::newRow("0 is white") << qint64(0) << "FFFFFF";
        QTest::newRow("1") << qint64(1) << "010000";
        QTest::newRow("red") << qint64(255) << "FF0000";
        QTest::newRow("default colour") << qint64(50372) << "C4C400";
        QTest::newRow("light red") << qint64(16744576) << "8080FF";
        QTest::newRow("white") << qint64(16777215) << "FFFFFF";
        QTest::newRow("blue") << qint64(0xFF0000) << "0000FF";
        QTest::newRow("beyond 24 bits keeps the low bits") << qint64(0x1000080) << "800000";
        QTest::newRow("top bit with a high index keeps the low bits") << qint64(0x80FF00FF) << "FF00FF";
    }
    void colourToHtml()
    {
        QFETCH(qint64, colour);
        QFETCH(QString, html);
        QCOMPARE(oleColourToHtml(colour), html);
    }

    void systemColoursResolveThroughThePalette()
    {
        const QColor window = QGuiApplication::palette().color(QPalette::Active, QPalette::Base);
        const QString expected = QStringLiteral("%1%2%3")
                                     .arg(window.red(), 2, 16, QLatin1Char('0'))
                                     .arg(window.green(), 2, 16, QLatin1Char('0'))
                                     .arg(window.blue(), 2, 16, QLatin1Char('0'))
                                     .toUpper();
        const QString resolved =
            window.rgb() == QColor(Qt::black).rgb() ? QStringLiteral("FFFFFF") : expected;
        QCOMPARE(oleColourToHtml(0x80000005), resolved);          // window background
        QCOMPARE(oleColourToHtml(qint64(-2147483643)), resolved); // the same, as a signed 32-bit value
    }
};

QTEST_MAIN(TestPlanningMatrix)
#include "tst_planningmatrix.moc"
