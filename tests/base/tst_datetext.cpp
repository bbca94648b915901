#include "base/datetext.h"

#include <QTest>

class TestDateText : public QObject {
    Q_OBJECT

private slots:
    void patterns_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QDateTime>("value");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("expected");
        const QDateTime monday(QDate(2026, 12, 7), QTime(9, 5, 3));
        const QDateTime evening(QDate(2026, 3, 29), QTime(23, 30));
        QTest::newRow("MMM") << "en_GB" << monday << "MMM"
                             << "Dec";
        QTest::newRow("mmmm") << "fr_FR" << monday << "mmmm"
                              << "décembre";
        QTest::newRow("dddd") << "fr_FR" << monday << "dddd"
                              << "lundi";
        QTest::newRow("ddd") << "en_US" << monday << "ddd"
                             << "Mon";
        QTest::newRow("d and dd") << "en_US" << monday << "d dd"
                                  << "7 07";
        QTest::newRow("m and mm") << "en_US" << evening << "m mm"
                                  << "3 03";
        QTest::newRow("HH:MM is hour and minute") << "fr_FR" << evening << "HH:MM"
                                                  << "23:30";
        QTest::newRow("HH:MM morning") << "en_US" << monday << "HH:MM"
                                       << "09:05";
        QTest::newRow("hh:mm:ss") << "en_GB" << monday << "hh:mm:ss"
                                  << "09:05:03";
        QTest::newRow("n is minute") << "en_GB" << monday << "h:nn"
                                     << "9:05";
        QTest::newRow("mm after dd is the month") << "fr_FR" << monday << "dd/mm"
                                                  << "07/12";
        QTest::newRow("full date, French") << "fr_FR" << monday << "dddd dd/mm/yyyy"
                                           << "lundi 07/12/2026";
        QTest::newRow("date separator of the locale") << "de_DE" << monday << "dd/mm/yyyy"
                                                      << "07.12.2026";
        QTest::newRow("yy and y") << "en_US" << monday << "yy y"
                                  << "26 341";
        QTest::newRow("12-hour clock") << "en_US" << evening << "h:nn AM/PM"
                                       << "11:30 PM";
        QTest::newRow("12-hour, lower case") << "en_US" << monday << "hh:nn am/pm"
                                             << "09:05 am";
        QTest::newRow("noon is 12") << "en_US" << QDateTime(QDate(2026, 1, 1), QTime(12, 0)) << "h A/P"
                                    << "12 P";
        QTest::newRow("midnight is 12") << "en_US" << QDateTime(QDate(2026, 1, 1), QTime(0, 0)) << "h a/p"
                                        << "12 a";
        QTest::newRow("quoted literal") << "en_US" << monday << "\"day\" d"
                                        << "day 7";
        QTest::newRow("escaped letter") << "en_US" << monday << "\\d d"
                                        << "d 7";
        QTest::newRow("quarter") << "en_US" << monday << "q"
                                 << "4";
        QTest::newRow("month end") << "en_GB" << QDateTime(QDate(2024, 2, 29), QTime(0, 0)) << "dddd dd mmm"
                                   << "Thursday 29 Feb";
    }
    void patterns()
    {
        QFETCH(QString, locale);
        QFETCH(QDateTime, value);
        QFETCH(QString, pattern);
        QFETCH(QString, expected);
        QCOMPARE(DateText::format(value, pattern, QLocale(locale)), expected);
    }

    void generalDateRoundTrips_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QDateTime>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("French midnight")
            << "fr_FR" << QDateTime(QDate(2026, 1, 31), QTime(0, 0)) << "31/01/2026";
        QTest::newRow("French time") << "fr_FR" << QDateTime(QDate(2026, 1, 31), QTime(23, 59, 59))
                                     << "31/01/2026 23:59:59";
        QTest::newRow("US month end, afternoon")
            << "en_US" << QDateTime(QDate(2026, 4, 30), QTime(15, 30)) << "4/30/2026 3:30:00 PM";
        QTest::newRow("US just after midnight")
            << "en_US" << QDateTime(QDate(2026, 12, 31), QTime(0, 0, 1)) << "12/31/2026 12:00:01 AM";
        QTest::newRow("US leap day") << "en_US" << QDateTime(QDate(2028, 2, 29), QTime(0, 0)) << "2/29/2028";
        QTest::newRow("German noon") << "de_DE" << QDateTime(QDate(2026, 3, 1), QTime(12, 0))
                                     << "01.03.2026 12:00:00";
        // The day the clocks go back (TZ is Europe/Paris), after the repeated hour.
        QTest::newRow("British") << "en_GB" << QDateTime(QDate(2026, 10, 25), QTime(3, 30))
                                 << "25/10/2026 03:30:00";
    }
    void generalDateRoundTrips()
    {
        QFETCH(QString, locale);
        QFETCH(QDateTime, value);
        QFETCH(QString, text);
        const QLocale l(locale);
        QCOMPARE(DateText::generalDate(value, l), text);
        const std::optional<QDateTime> parsed = DateText::parseGeneralDate(text, l);
        QVERIFY(parsed.has_value());
        QCOMPARE(*parsed, value);
    }

    void generalDateRefusesOtherText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("words") << "next tuesday";
        QTest::newRow("no such day") << "31/02/2026";
        QTest::newRow("bad time") << "01/02/2026 25:00:00";
    }
    void generalDateRefusesOtherText()
    {
        QFETCH(QString, text);
        QVERIFY(!DateText::parseGeneralDate(text, QLocale(QStringLiteral("fr_FR"))).has_value());
    }
};

QTEST_GUILESS_MAIN(TestDateText)
#include "tst_datetext.moc"
