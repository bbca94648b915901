#include "base/datetext.h"

#include <QTest>

class TestDateText : public QObject {
    Q_OBJECT

private slots:
    // Locale | the moment | pattern | text.
    void patterns_data()
    {
        QTest::addColumn<QStringList>("row");
        for (const char* row :
             {"en_GB|2026-12-07T09:05:03|MMM|Dec", "fr_FR|2026-12-07T09:05:03|mmmm dddd|décembre lundi",
              "en_US|2026-12-07T09:05:03|ddd d dd|Mon 7 07", "en_US|2026-03-29T23:30:00|m mm|3 03",
              "fr_FR|2026-03-29T23:30:00|HH:MM|23:30", "en_US|2026-12-07T09:05:03|HH:MM|09:05",
              "en_GB|2026-12-07T09:05:03|hh:mm:ss|09:05:03", "en_GB|2026-12-07T09:05:03|h:nn|9:05",
              "fr_FR|2026-12-07T09:05:03|dd/mm|07/12",
              "fr_FR|2026-12-07T09:05:03|dddd dd/mm/yyyy|lundi 07/12/2026",
              "de_DE|2026-12-07T09:05:03|dd/mm/yyyy|07.12.2026", "en_US|2026-12-07T09:05:03|yy y|26 341",
              "en_US|2026-03-29T23:30:00|h:nn AM/PM|11:30 PM",
              "en_US|2026-12-07T09:05:03|hh:nn am/pm|09:05 am", "en_US|2026-01-01T12:00:00|h A/P|12 P",
              "en_US|2026-01-01T00:00:00|h a/p|12 a", "en_US|2026-12-07T09:05:03|\"day\" d \\d|day 7 d",
              "en_US|2026-12-07T09:05:03|q|4", "en_GB|2024-02-29T00:00:00|dddd dd mmm|Thursday 29 Feb"})
            QTest::addRow("%s", row) << QString(row).split('|');
    }
    void patterns()
    {
        QFETCH(QStringList, row);
        const QDateTime value = QDateTime::fromString(row[1], Qt::ISODate);
        QCOMPARE(DateText::format(value, row[2], QLocale(row[0])), row[3]);
    }

    // Locale | the general date text | the moment it stands for, none when it is not a general date.
    void generalDate_data()
    {
        QTest::addColumn<QStringList>("row");
        for (const char* row :
             {"fr_FR|31/01/2026|2026-01-31T00:00:00", "fr_FR|31/01/2026 23:59:59|2026-01-31T23:59:59",
              "en_US|4/30/2026 3:30:00 PM|2026-04-30T15:30:00",
              "en_US|12/31/2026 12:00:01 AM|2026-12-31T00:00:01", "en_US|2/29/2028|2028-02-29T00:00:00",
              "de_DE|01.03.2026 12:00:00|2026-03-01T12:00:00",
              // The day the clocks go back (TZ is Europe/Paris), after the repeated hour.
              "en_GB|25/10/2026 03:30:00|2026-10-25T03:30:00", "fr_FR||", "fr_FR|next tuesday|",
              "fr_FR|31/02/2026|", "fr_FR|01/02/2026 25:00:00|"})
            QTest::addRow("%s", row) << QString(row).split('|');
    }
    void generalDate()
    {
        QFETCH(QStringList, row);
        const QLocale locale(row[0]);
        const QDateTime value = QDateTime::fromString(row[2], Qt::ISODate);
        const std::optional<QDateTime> parsed = DateText::parseGeneralDate(row[1], locale);
        QCOMPARE(parsed.value_or(QDateTime()), value);
        if (value.isValid())
            QCOMPARE(DateText::generalDate(value, locale), row[1]);
    }
};

QTEST_GUILESS_MAIN(TestDateText)
#include "tst_datetext.moc"
