#include "mailbox/calendarindex.h"
#include "mailbox/calendarprefilter.h"
#include "mailbox/icalendarfile.h"
#include "tests/mailbox/mailboxtest.h"
#include "tests/support/fixtures.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

namespace {

qint64 startOfYear(int year)
{
    return QDateTime(QDate(year, 1, 1), QTime(0, 0), QTimeZone::utc()).toSecsSinceEpoch();
}

QByteArray withEvent(const QByteArray& lines)
{
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nUID:shape\r\nSUMMARY:Shape\r\n" + lines +
           "END:VEVENT\r\nEND:VCALENDAR\r\n";
}

// An event at 9:00 in a zone of the file's own (Paris time under another name): each file adds a zone to
// the table the threads share.
QByteArray ownZoneEvent(const QByteArray& zone, const QByteArray& uid, const char* day)
{
    const QByteArray vtimezone =
        "BEGIN:VTIMEZONE\r\nTZID:" + zone +
        "\r\nBEGIN:STANDARD\r\nDTSTART:19701025T030000\r\nRRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\n"
        "TZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\nEND:STANDARD\r\nBEGIN:DAYLIGHT\r\nDTSTART:"
        "19700329T020000\r\n"
        "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\nEND:DAYLIGHT\r\n"
        "END:VTIMEZONE\r\nBEGIN:VEVENT";
    return calendarEvent(uid.constData(), uid.constData(), day + QByteArray("T090000"),
                         day + QByteArray("T100000"))
        .replace("Europe/Paris", zone)
        .replace("BEGIN:VEVENT", vtimezone);
}

TimeWindow dayOf(const QDate& day)
{
    return {QDateTime(day.addDays(1), QTime(0, 0)), QDateTime(day, QTime(0, 0))};
}

} // namespace

class TestCalendarPrefilter : public QObject {
    Q_OBJECT

    QTemporaryDir m_cacheHome;

private slots:
    void initTestCase() { qputenv("XDG_CACHE_HOME", m_cacheHome.path().toUtf8()); }

    // Every occurrence the parser finds lies inside the reach; a file the parser refuses or finds fault with
    // gets none. `answered`: whether a plainly written shape gets a reach at all (the corpus: either way).
    void reachHoldsEveryOccurrence_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("answered"); // 1 yes, 0 no, -1 either
        for (const QString& name : corpus("ical", ".ics"))
            QTest::newRow(qPrintable(name)) << readBytes(dataPath("ical/" + name)) << -1;
        const QByteArray start = "DTSTART;TZID=Europe/Paris:20261207T090000\r\n";
        QTest::newRow("single") << withEvent(start + "DURATION:PT1H\r\n") << 1;
        QTest::newRow("weekly until")
            << withEvent(start + "RRULE:FREQ=WEEKLY;UNTIL=20270301T000000Z\r\n") << 1;
        QTest::newRow("monthly numbered")
            << withEvent(start + "RRULE:FREQ=MONTHLY;BYDAY=-1FR;UNTIL=20280101\r\n") << 1;
        QTest::newRow("extra period before the start")
            << withEvent(start + "RDATE;VALUE=PERIOD:20250101T100000Z/PT30H\r\n") << 1;
        QTest::newRow("all-day, no end") << withEvent("DTSTART;VALUE=DATE:20261231\r\n") << 1;
        QTest::newRow("folded start") << withEvent("DTSTART;TZID=Europe/Paris:20261207T\r\n 090000\r\n") << 0;
        QTest::newRow("this and future")
            << withEvent(start + "RECURRENCE-ID;RANGE=THISANDFUTURE:20261207T080000Z\r\n") << 0;
        QTest::newRow("a task")
            << withEvent(start).replace(
                   "END:VCALENDAR", "BEGIN:VTODO\r\nDTSTART:19800101T000000Z\r\nEND:VTODO\r\nEND:VCALENDAR")
            << 0;
        QTest::newRow("lower-case name") << withEvent("dtstart:20261207T090000Z\r\n") << 0;
        QTest::newRow("byte-order mark") << "\xEF\xBB\xBF" + withEvent(start) << 0;
        QTest::newRow("30 February") << withEvent("DTSTART:20270230T090000Z\r\n") << 0;
        QTest::newRow("month 13") << withEvent("DTSTART:20271301T090000Z\r\n") << 0;
        QTest::newRow("hour 24") << withEvent("DTSTART:20270101T240000Z\r\n") << 0;
        QTest::newRow("no start") << withEvent("DTEND:20270101T100000Z\r\n") << 0;
        QTest::newRow("unbalanced") << withEvent(start + "BEGIN:VALARM\r\n") << 0;
        QTest::newRow("count and until")
            << withEvent(start + "RRULE:FREQ=DAILY;COUNT=3;UNTIL=20270101\r\n") << 0;
        QTest::newRow("rule that gives no date")
            << withEvent(start + "RRULE:FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30\r\n") << 0;
        QTest::newRow("unreadable exclusion") << withEvent(start + "EXDATE:2026120\r\n") << 0;
        QTest::newRow("start without a type") << withEvent("DTSTART:20261207\r\n") << 0;
        QTest::newRow("a zone far off")
            << QByteArray("BEGIN:VCALENDAR\r\nBEGIN:VTIMEZONE\r\nTZID:Far\r\nBEGIN:STANDARD\r\nDTSTART:"
                          "19700101T000000\r\n"
                          "TZOFFSETFROM:+9900\r\nTZOFFSETTO:+9900\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\nBEGIN:"
                          "VEVENT\r\nUID:f\r\n"
                          "DTSTART;TZID=Far:20261207T090000\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n")
            << 0;
    }
    void reachHoldsEveryOccurrence()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, answered);
        const std::optional<CalendarPrefilter::Reach> reach = CalendarPrefilter::reachOf(bytes);
        if (answered >= 0)
            QCOMPARE(reach.has_value(), bool(answered));
        if (!reach)
            return;
        QString error;
        const auto file = ICalendarFile::parse(bytes, &error);
        QVERIFY2(file, qPrintable(error));
        QStringList faults = file->problems();
        std::vector<MailboxItem> items;
        file->expand({startOfYear(2100), startOfYear(1990)}, items, &faults);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
        for (const MailboxItem& item : items) {
            QVERIFY2(item.start.toSecsSinceEpoch() >= reach->firstUtc, qPrintable(item.start.toString()));
            QVERIFY2(item.end.toSecsSinceEpoch() <= reach->lastUtc, qPrintable(item.end.toString()));
        }
    }

    // Files whose events lie outside the window are left unparsed, on one thread or several; a window moved
    // onto them shows them, in file-name order as ever, and the next process learns from the cache what
    // the first one did not need to parse.
    void windowMovedOntoSkippedFiles_data()
    {
        QTest::addColumn<int>("threads");
        QTest::newRow("one thread") << 1;
        QTest::newRow("four threads") << 4;
    }
    void windowMovedOntoSkippedFiles()
    {
        QFETCH(int, threads);
        QTemporaryDir dir;
        QStringList december, june;
        // Enough files for the threads to meet over the shared zones; names of their own, so that each row
        // adds its zones anew.
        for (int i = 0; i < 80; ++i) {
            const bool early = i % 2 == 0;
            const QByteArray name = "f" + QByteArray::number(i).rightJustified(2, '0');
            writeFile(dir.path() + u'/' + name + ".ics",
                      ownZoneEvent("Office " + QByteArray::number(threads) + name, name,
                                   early ? "20261207" : "20270607"));
            (early ? december : june) << QString::fromLatin1(name);
        }
        const auto subjects = [](CalendarIndex& index, const QDate& day) {
            QStringList list;
            const Folder::Scan scan = index.scan(dayOf(day));
            for (const auto& item : scan.occurrences)
                list << item->subject;
            return scan.errors.isEmpty() ? list : QStringList{scan.errors.first().description()};
        };
        {
            CalendarIndex index(dir.path());
            index.setThreadCount(threads);
            QCOMPARE(subjects(index, QDate(2026, 12, 7)), december);
            QCOMPARE(index.filesParsed(), 40);
        }
        CalendarIndex next(dir.path());
        next.setThreadCount(threads);
        QCOMPARE(subjects(next, QDate(2026, 12, 7)), december);
        QCOMPARE(next.filesRead(), 0);
        QCOMPARE(subjects(next, QDate(2027, 6, 7)), june);
        QCOMPARE(next.filesParsed(), 40);
        QCOMPARE(next.storedItems().size(), 80);
    }
};

QTEST_GUILESS_MAIN(TestCalendarPrefilter)
#include "tst_calendarprefilter.moc"
