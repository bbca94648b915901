#include "gui/periods.h"

#include <QTest>

using Periods::Range;

class TestPeriods : public QObject {
    Q_OBJECT

private slots:
    void periods_data()
    {
        QTest::addColumn<QString>("period");
        QTest::addColumn<QDate>("today");
        QTest::addColumn<QDate>("from");
        QTest::addColumn<QDate>("to");
        QTest::newRow("this week on a Sunday")
            << "ThisWeek" << QDate(2026, 12, 13) << QDate(2026, 12, 7) << QDate(2026, 12, 13);
        QTest::newRow("this week on a Monday")
            << "ThisWeek" << QDate(2026, 12, 7) << QDate(2026, 12, 7) << QDate(2026, 12, 13);
        QTest::newRow("this week across the year")
            << "ThisWeek" << QDate(2027, 1, 1) << QDate(2026, 12, 28) << QDate(2027, 1, 3);
        QTest::newRow("next week") << "NextWeek" << QDate(2026, 12, 9) << QDate(2026, 12, 14)
                                   << QDate(2026, 12, 20);
        QTest::newRow("next week from a Sunday")
            << "NextWeek" << QDate(2026, 12, 13) << QDate(2026, 12, 14) << QDate(2026, 12, 20);
        QTest::newRow("this month on the 31st")
            << "ThisMonth" << QDate(2027, 1, 31) << QDate(2027, 1, 1) << QDate(2027, 1, 31);
        QTest::newRow("this month of 30 days")
            << "ThisMonth" << QDate(2026, 11, 15) << QDate(2026, 11, 1) << QDate(2026, 11, 30);
        QTest::newRow("February") << "ThisMonth" << QDate(2027, 2, 10) << QDate(2027, 2, 1)
                                  << QDate(2027, 2, 28);
        QTest::newRow("leap February")
            << "ThisMonth" << QDate(2028, 2, 29) << QDate(2028, 2, 1) << QDate(2028, 2, 29);
        QTest::newRow("next month in November")
            << "NextMonth" << QDate(2026, 11, 30) << QDate(2026, 12, 1) << QDate(2026, 12, 31);
        QTest::newRow("next month in December")
            << "NextMonth" << QDate(2026, 12, 31) << QDate(2027, 1, 1) << QDate(2027, 1, 31);
        QTest::newRow("next month on 31 January")
            << "NextMonth" << QDate(2027, 1, 31) << QDate(2027, 2, 1) << QDate(2027, 2, 28);
    }
    void periods()
    {
        QFETCH(QString, period);
        QFETCH(QDate, today);
        QFETCH(QDate, from);
        QFETCH(QDate, to);
        Range range;
        if (period == "ThisWeek")
            range = Periods::thisWeek(today);
        else if (period == "NextWeek")
            range = Periods::nextWeek(today);
        else if (period == "ThisMonth")
            range = Periods::thisMonth(today);
        else
            range = Periods::nextMonth(today);
        QCOMPARE(range.from, from);
        QCOMPARE(range.to, to);
    }

    void pickers_data()
    {
        QTest::addColumn<QDate>("from");
        QTest::addColumn<QDate>("to");
        QTest::addColumn<int>("index");
        QTest::addColumn<QDate>("newFrom");
        QTest::addColumn<QDate>("newTo");
        const QDate d(2026, 12, 7);
        QTest::newRow("in order") << d << d.addDays(10) << 0 << d << d.addDays(10);
        QTest::newRow("from moved after to") << d.addDays(5) << d << 0 << d.addDays(5) << d.addDays(6);
        QTest::newRow("to moved before from") << d << d.addDays(-3) << 1 << d.addDays(-4) << d.addDays(-3);
        QTest::newRow("187 days allowed") << d << d.addDays(186) << 1 << d << d.addDays(186);
        QTest::newRow("to 200 days on") << d << d.addDays(200) << 1 << d.addDays(14) << d.addDays(200);
        QTest::newRow("from 200 days back") << d.addDays(-200) << d << 0 << d.addDays(-200) << d.addDays(-14);
        QTest::newRow("same day") << d << d << 1 << d << d;
    }
    void pickers()
    {
        QFETCH(QDate, from);
        QFETCH(QDate, to);
        QFETCH(int, index);
        QFETCH(QDate, newFrom);
        QFETCH(QDate, newTo);
        QCOMPARE(Periods::pickerChanged({from, to}, index), (Range{newFrom, newTo}));
    }

    void reports_data()
    {
        QTest::addColumn<QString>("report");
        QTest::addColumn<QString>("view");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("plan of a week") << "ReportHTMLPlan"
                                        << "ThisWeek" << true;
        QTest::newRow("plan of today") << "ReportHTMLPlan"
                                       << "Today" << false;
        QTest::newRow("colour of a planning") << "ReportHTMLColor"
                                              << "ColorPlanning" << true;
        QTest::newRow("colour of this day") << "ReportHTMLColor"
                                            << "ThisDay" << false;
        QTest::newRow("picture of today") << "ReportImage"
                                          << "Today" << true;
        QTest::newRow("nothing shown") << "ReportImage"
                                       << "" << false;
        QTest::newRow("lower case keyword") << "reporthtmlplan"
                                            << "ThisWeek" << false;
    }
    void reports()
    {
        QFETCH(QString, report);
        QFETCH(QString, view);
        QFETCH(bool, accepted);
        QCOMPARE(Periods::reportAcceptsView(report, view), accepted);
    }
};

QTEST_GUILESS_MAIN(TestPeriods)
#include "tst_periods.moc"
