#include "planning/dayview.h"
#include "queryfixture.h"

#include <QLocale>
#include <QTest>

using Fixture = QueryFixture;

namespace {

const QDate kDay(2026, 12, 9);

// Rows of member column 2 that hold something, as "row:html".
QStringList filledRows(const PlanningMatrix& matrix)
{
    QStringList rows;
    for (int row = 2; row <= 50; ++row) {
        if (!PlanningMatrix::isEmptyHtml(matrix.cell(row, 2).html))
            rows << QStringLiteral("%1:%2").arg(row).arg(matrix.cell(row, 2).html);
    }
    return rows;
}

} // namespace

class TestDayView : public QObject {
    Q_OBJECT

private slots:
    // Every case runs on a folder mailbox and on a CalDAV server.
    void initTestCase_data() { Fixture::addSources(); }
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::French, QLocale::France)); }

    void rows_data()
    {
        QTest::addColumn<int>("hour");
        QTest::addColumn<int>("minute");
        QTest::addColumn<int>("row");
        QTest::newRow("midnight") << 0 << 0 << 3;
        QTest::newRow("00:29") << 0 << 29 << 3;
        QTest::newRow("00:30") << 0 << 30 << 4;
        QTest::newRow("09:00") << 9 << 0 << 21;
        QTest::newRow("09:30") << 9 << 30 << 22;
        QTest::newRow("23:30") << 23 << 30 << 50;
        QTest::newRow("23:59") << 23 << 59 << 50;
    }
    void rows()
    {
        QFETCH(int, hour);
        QFETCH(int, minute);
        QFETCH(int, row);
        QCOMPARE(DayView::rowOf(QTime(hour, minute)), row);
    }

    void placement_data()
    {
        QTest::addColumn<QList<QByteArray>>("events");
        QTest::addColumn<bool>("hidePrivate");
        QTest::addColumn<QStringList>("rows");
        auto span = [](int first, int last, const QString& html) {
            QStringList rows;
            for (int row = first; row <= last; ++row)
                rows << QStringLiteral("%1:%2").arg(row).arg(html);
            return rows;
        };
        QTest::newRow("09:00 to 10:00: rows 21 and 22")
            << QList<QByteArray>{Fixture::timed("Meeting", "20261209T090000", "20261209T100000")} << false
            << span(21, 22, QStringLiteral("09:00 10:00 Meeting"));
        QTest::newRow("from the evening before until 08:00: rows 3 to 18")
            << QList<QByteArray>{Fixture::timed("Night shift", "20261208T200000", "20261209T080000")} << false
            << span(3, 18, QStringLiteral("00:00 08:00 Night shift"));
        QTest::newRow("from 22:00 into the next morning: rows 47 to 50")
            << QList<QByteArray>{Fixture::timed("Deployment", "20261209T220000", "20261210T060000")} << false
            << span(47, 50, QStringLiteral("22:00 06:00 Deployment"));
        QTest::newRow("all-day: row 2, the previous day's too")
            << QList<QByteArray>{Fixture::allDay("Yesterday's holiday", "20261208", "20261209"),
                                 Fixture::allDay("Training", "20261209", "20261210")}
            << false << QStringList{QStringLiteral("2:Yesterday's holiday<br>--------<br>Training")};
        QTest::newRow("overlapping at 14:00")
            << QList<QByteArray>{Fixture::timed("First", "20261209T133000", "20261209T143000"),
                                 Fixture::timed("Second", "20261209T140000", "20261209T150000")}
            << false
            << QStringList{QStringLiteral("30:13:30 14:30 First"),
                           QStringLiteral("31:13:30 14:30 First<br>--------<br>14:00 15:00 Second"),
                           QStringLiteral("32:14:00 15:00 Second")};
        QTest::newRow("personal and confidential show as private, only private is hidden")
            << QList<QByteArray>{Fixture::timed("Doctor", "20261209T080000", "20261209T083000",
                                                "CLASS:PRIVATE"),
                                 Fixture::timed("Salaries", "20261209T100000", "20261209T103000",
                                                "CLASS:CONFIDENTIAL")}
            << true << span(23, 23, QStringLiteral("10:00 10:30 Private"));
        QTest::newRow("inside one half hour: its start row")
            << QList<QByteArray>{Fixture::timed("Quick call", "20261209T090000", "20261209T091000")} << false
            << span(21, 21, QStringLiteral("09:00 09:10 Quick call"));
        QTest::newRow("escaped in the matrix")
            << QList<QByteArray>{Fixture::timed("R&D <sync>", "20261209T090000", "20261209T093000")} << false
            << span(21, 21, QStringLiteral("09:00 09:30 R&amp;D &lt;sync&gt;"));
    }
    void placement()
    {
        QFETCH(QList<QByteArray>, events);
        QFETCH(bool, hidePrivate);
        QFETCH(QStringList, rows);
        Fixture fixture;
        fixture.addPerson(QStringLiteral("Zoë van den Berg"), QStringLiteral("zoe@example.org"), events);
        fixture.engine.hidePrivate = hidePrivate;
        DayView::run(fixture.context(), kDay, {QStringLiteral("Zoë van den Berg")});
        QCOMPARE(fixture.messages, QStringList());
        QCOMPARE(filledRows(fixture.matrix).join(u'\n'), rows.join(u'\n'));
        QVERIFY(fixture.engine.headersValid);
    }

    void layout()
    {
        Fixture fixture;
        fixture.program.dayStartHour = 8;
        fixture.program.dayEndHour = 18;
        fixture.addPerson(QStringLiteral("Zoë van den Berg"), QStringLiteral("zoe@example.org"),
                          {Fixture::timed("Meeting", "20261209T090000", "20261209T100000")});
        fixture.addPerson(QStringLiteral("Chiara Rossi"), QStringLiteral("chiara@example.org"));
        DayView::run(fixture.context(), kDay, {QStringLiteral("zoe"), QStringLiteral("Chiara Rossi")});
        const PlanningGrid& grid = fixture.grid;
        QCOMPARE(grid.rows(), 51);
        QCOMPARE(grid.columns(), 4);
        QCOMPARE(grid.fixedRows(), 3);
        QCOMPARE(grid.fixedColumns(), 2);
        QCOMPARE(grid.text(0, 2), QStringLiteral("mercredi 09/12/2026"));
        QCOMPARE(fixture.matrix.cell(0, 3).html, QStringLiteral("mercredi 09/12/2026"));
        QCOMPARE(grid.text(1, 2), QStringLiteral("zoe"));
        QCOMPARE(grid.text(21, 0), QStringLiteral("09"));
        QCOMPARE(grid.text(22, 1), QStringLiteral("30"));
        QCOMPARE(grid.columnWidth(0), 500);
        QCOMPARE(grid.columnWidth(1), 300);
        QCOMPARE(grid.topRow(), 19);
        // The working hours share the grid's height: (9000 - 3 × row height) / 20 half hours.
        const int expected = (9000 - 3 * grid.standardRowHeight()) / 20;
        QCOMPARE(grid.rowHeight(19), expected);
        QCOMPARE(grid.rowHeight(39), expected);
        QCOMPARE(grid.rowHeight(40), grid.standardRowHeight());
        // The meeting's two rows merge into one block, and so do the hour's two cells.
        QCOMPARE(grid.mergedRange(21, 2), (PlanningGrid::Range{21, 2, 22, 2}));
        QCOMPARE(grid.mergedRange(22, 0), (PlanningGrid::Range{21, 0, 22, 0}));
        QCOMPARE(grid.mergedRange(0, 3), (PlanningGrid::Range{0, 2, 0, 3}));
    }

    void cancelBetweenMembers()
    {
        Fixture fixture;
        fixture.addPerson(QStringLiteral("A Person"), QStringLiteral("a@example.org"),
                          {Fixture::timed("Kept", "20261209T090000", "20261209T100000")});
        fixture.addPerson(QStringLiteral("B Person"), QStringLiteral("b@example.org"),
                          {Fixture::timed("Never", "20261209T090000", "20261209T100000")});
        fixture.onYield = [&] {
            if (fixture.yields == 2)
                fixture.engine.queryRunning = false;
        };
        DayView::run(fixture.context(), kDay, {QStringLiteral("A Person"), QStringLiteral("B Person")});
        QCOMPARE(fixture.grid.text(21, 2), QStringLiteral("Kept"));
        QCOMPARE(fixture.grid.text(21, 3), QString());
        QVERIFY(!fixture.engine.headersValid);
    }
};

QTEST_GUILESS_MAIN(TestDayView)
#include "tst_dayview.moc"
