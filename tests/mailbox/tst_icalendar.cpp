#include "mailbox/calendarindex.h"
#include "mailbox/directorywatcher.h"
#include "mailbox/icalendarfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

namespace {

const QByteArray kParis =
    "BEGIN:VTIMEZONE\r\nTZID:Europe/Paris\r\nBEGIN:DAYLIGHT\r\nTZOFFSETFROM:+0100\r\n"
    "TZOFFSETTO:+0200\r\nDTSTART:19700329T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\n"
    "END:DAYLIGHT\r\nBEGIN:STANDARD\r\nTZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\n"
    "DTSTART:19701025T030000\r\nRRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\nEND:STANDARD\r\n"
    "END:VTIMEZONE\r\n";

// A calendar around the given VEVENT lines ("|" stands for a line break).
QByteArray calendar(const QByteArray& events, const QByteArray& zones = kParis)
{
    QByteArray body = events;
    body.replace('|', "\r\n");
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\n" + zones + body +
           "\r\nEND:VCALENDAR\r\n";
}

QDateTime local(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate);
}

// "yyyy-MM-dd HH:mm>HH:mm Subject" per occurrence, or the dates only for all-day ones.
QStringList describe(const std::vector<MailboxItem>& items)
{
    QStringList lines;
    for (const MailboxItem& item : items) {
        if (item.allDay)
            lines << item.start.toString(QStringLiteral("yyyy-MM-dd")) + u'>' +
                         item.end.toString(QStringLiteral("yyyy-MM-dd")) + u' ' + item.subject;
        else
            lines << item.start.toString(QStringLiteral("yyyy-MM-dd HH:mm")) + u'>' +
                         item.end.toString(QStringLiteral("HH:mm")) + u' ' + item.subject;
    }
    return lines;
}

std::vector<MailboxItem> expand(const QByteArray& bytes, const QDateTime& from, const QDateTime& to)
{
    QString error;
    const auto file = ICalendarFile::parse(bytes, &error);
    if (!file)
        qWarning("parse failed: %s", qPrintable(error));
    std::vector<MailboxItem> items;
    if (file)
        file->expand({to.toSecsSinceEpoch(), from.toSecsSinceEpoch()}, items);
    std::stable_sort(items.begin(), items.end(),
                     [](const MailboxItem& a, const MailboxItem& b) { return a.start < b.start; });
    return items;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

class TestICalendar : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(qgetenv("TZ"), QByteArray("Europe/Paris")); }

    void occurrences_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QDateTime>("from");
        QTest::addColumn<QDateTime>("to");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("weekly across the spring change")
            << calendar("BEGIN:VEVENT|UID:w|SUMMARY:Weekly|DTSTART;TZID=Europe/Paris:20260316T090000|"
                        "DTEND;TZID=Europe/Paris:20260316T100000|RRULE:FREQ=WEEKLY|END:VEVENT")
            << local("2026-03-20T00:00:00") << local("2026-04-07T00:00:00")
            << QStringList{"2026-03-23 09:00>10:00 Weekly", "2026-03-30 09:00>10:00 Weekly",
                           "2026-04-06 09:00>10:00 Weekly"};
        QTest::newRow("daily across the autumn change, UTC rule")
            << calendar("BEGIN:VEVENT|UID:u|SUMMARY:Sync|DTSTART:20261024T070000Z|DURATION:PT30M|"
                        "RRULE:FREQ=DAILY;COUNT=3|END:VEVENT")
            << local("2026-10-01T00:00:00") << local("2026-11-01T00:00:00")
            << QStringList{"2026-10-24 09:00>09:30 Sync", "2026-10-25 08:00>08:30 Sync",
                           "2026-10-26 08:00>08:30 Sync"};
        QTest::newRow("count, exdate and rdate")
            << calendar("BEGIN:VEVENT|UID:c|SUMMARY:Review|DTSTART;TZID=Europe/Paris:20261201T140000|"
                        "DTEND;TZID=Europe/Paris:20261201T150000|RRULE:FREQ=DAILY;COUNT=4|"
                        "EXDATE;TZID=Europe/Paris:20261202T140000|RDATE;TZID=Europe/Paris:20261210T160000|"
                        "END:VEVENT")
            << local("2026-12-01T00:00:00") << local("2026-12-31T00:00:00")
            << QStringList{"2026-12-01 14:00>15:00 Review", "2026-12-03 14:00>15:00 Review",
                           "2026-12-04 14:00>15:00 Review", "2026-12-10 16:00>17:00 Review"};
        const QByteArray series =
            "BEGIN:VEVENT|UID:s|SUMMARY:One to one|DTSTART;TZID=Europe/Paris:20261207T110000|"
            "DTEND;TZID=Europe/Paris:20261207T113000|RRULE:FREQ=WEEKLY;UNTIL=20261228T235959Z|"
            "END:VEVENT|";
        QTest::newRow("override moved into the window")
            << calendar(series +
                        "BEGIN:VEVENT|UID:s|SUMMARY:One to one (moved)|"
                        "RECURRENCE-ID;TZID=Europe/Paris:20261221T110000|"
                        "DTSTART;TZID=Europe/Paris:20261218T150000|DTEND;TZID=Europe/Paris:20261218T153000|"
                        "END:VEVENT")
            << local("2026-12-14T00:00:00") << local("2026-12-19T00:00:00")
            << QStringList{"2026-12-14 11:00>11:30 One to one", "2026-12-18 15:00>15:30 One to one (moved)"};
        QTest::newRow("override moved out of the window")
            << calendar(series +
                        "BEGIN:VEVENT|UID:s|SUMMARY:One to one (moved)|"
                        "RECURRENCE-ID;TZID=Europe/Paris:20261214T110000|"
                        "DTSTART;TZID=Europe/Paris:20261222T150000|DTEND;TZID=Europe/Paris:20261222T153000|"
                        "END:VEVENT")
            << local("2026-12-14T00:00:00") << local("2026-12-19T00:00:00") << QStringList{};
        QTest::newRow("cancelled instance")
            << calendar(series +
                        "BEGIN:VEVENT|UID:s|SUMMARY:One to one|STATUS:CANCELLED|"
                        "RECURRENCE-ID;TZID=Europe/Paris:20261214T110000|"
                        "DTSTART;TZID=Europe/Paris:20261214T110000|DTEND;TZID=Europe/Paris:20261214T113000|"
                        "END:VEVENT")
            << local("2026-12-07T00:00:00") << local("2026-12-22T00:00:00")
            << QStringList{"2026-12-07 11:00>11:30 One to one", "2026-12-21 11:00>11:30 One to one"};
        QTest::newRow("all-day: one day, three days, no end")
            << calendar(
                   "BEGIN:VEVENT|UID:a|SUMMARY:Holiday|DTSTART;VALUE=DATE:20261207|DTEND;VALUE=DATE:20261208|"
                   "END:VEVENT|BEGIN:VEVENT|UID:b|SUMMARY:Training|DTSTART;VALUE=DATE:20261208|"
                   "DTEND;VALUE=DATE:20261211|END:VEVENT|BEGIN:VEVENT|UID:c|SUMMARY:Birthday|"
                   "DTSTART;VALUE=DATE:20261211|END:VEVENT")
            << local("2026-12-07T00:00:00") << local("2026-12-14T00:00:00")
            << QStringList{"2026-12-07>2026-12-08 Holiday", "2026-12-08>2026-12-11 Training",
                           "2026-12-11>2026-12-12 Birthday"};
        QTest::newRow("yearly all-day with duration")
            << calendar("BEGIN:VEVENT|UID:y|SUMMARY:Inventory|DTSTART;VALUE=DATE:20200106|DURATION:P2D|"
                        "RRULE:FREQ=YEARLY|END:VEVENT")
            << local("2026-01-01T00:00:00") << local("2026-01-31T00:00:00")
            << QStringList{"2026-01-06>2026-01-08 Inventory"};
        QTest::newRow("monthly first monday and last weekday")
            << calendar("BEGIN:VEVENT|UID:m|SUMMARY:Monthly review|DTSTART;TZID=Europe/Paris:20250106T100000|"
                        "DTEND;TZID=Europe/Paris:20250106T110000|RRULE:FREQ=MONTHLY;BYDAY=1MO|END:VEVENT|"
                        "BEGIN:VEVENT|UID:l|SUMMARY:Closing|DTSTART;TZID=Europe/Paris:20250131T170000|"
                        "DTEND;TZID=Europe/Paris:20250131T180000|"
                        "RRULE:FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1|END:VEVENT")
            << local("2026-11-25T00:00:00") << local("2027-01-06T00:00:00")
            << QStringList{"2026-11-30 17:00>18:00 Closing", "2026-12-07 10:00>11:00 Monthly review",
                           "2026-12-31 17:00>18:00 Closing", "2027-01-04 10:00>11:00 Monthly review"};
        QTest::newRow("started before, ends inside; starts at the window's end")
            << calendar("BEGIN:VEVENT|UID:p|SUMMARY:Night shift|DTSTART;TZID=Europe/Paris:20261206T220000|"
                        "DTEND;TZID=Europe/Paris:20261207T060000|END:VEVENT|BEGIN:VEVENT|UID:q|SUMMARY:Edge|"
                        "DTSTART;TZID=Europe/Paris:20261208T000000|DTEND;TZID=Europe/"
                        "Paris:20261208T010000|END:VEVENT|"
                        "BEGIN:VEVENT|UID:r|SUMMARY:Too late|DTSTART;TZID=Europe/Paris:20261208T000001|"
                        "DTEND;TZID=Europe/Paris:20261208T010000|END:VEVENT")
            << local("2026-12-07T00:00:00") << local("2026-12-08T00:00:00")
            << QStringList{"2026-12-06 22:00>06:00 Night shift", "2026-12-08 00:00>01:00 Edge"};
        QTest::newRow("unknown zone falls back to the file's own definition")
            << calendar(
                   "BEGIN:VEVENT|UID:z|SUMMARY:Far away|DTSTART;TZID=Custom Plus Three:20261207T120000|"
                   "DTEND;TZID=Custom Plus Three:20261207T130000|END:VEVENT",
                   "BEGIN:VTIMEZONE\r\nTZID:Custom Plus Three\r\nBEGIN:STANDARD\r\nTZOFFSETFROM:+0300\r\n"
                   "TZOFFSETTO:+0300\r\nDTSTART:19700101T000000\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n")
            << local("2026-12-07T00:00:00") << local("2026-12-08T00:00:00")
            << QStringList{"2026-12-07 10:00>11:00 Far away"};
    }
    void occurrences()
    {
        QFETCH(QByteArray, file);
        QFETCH(QDateTime, from);
        QFETCH(QDateTime, to);
        QFETCH(QStringList, expected);
        const QStringList actual = describe(expand(file, from, to));
        QCOMPARE(actual.join(u'\n'), expected.join(u'\n'));
    }

    // Series far from their start are entered part-way; that must give what walking from the start gives.
    void skippingAheadAgreesWithWalking_data()
    {
        QTest::addColumn<QByteArray>("rule");
        QTest::addColumn<QByteArray>("start");
        QTest::newRow("daily") << QByteArray("FREQ=DAILY") << QByteArray("TZID=Europe/Paris:20200101T093000");
        QTest::newRow("weekdays") << QByteArray("FREQ=DAILY;BYDAY=MO,TU,WE,TH,FR")
                                  << QByteArray("TZID=Europe/Paris:20200102T080000");
        QTest::newRow("biweekly") << QByteArray("FREQ=WEEKLY;INTERVAL=2;BYDAY=TU,TH")
                                  << QByteArray("TZID=Europe/Paris:20200107T150000");
        QTest::newRow("monthly by day")
            << QByteArray("FREQ=MONTHLY;BYMONTHDAY=15,-1") << QByteArray("TZID=Europe/Paris:20200115T120000");
        QTest::newRow("monthly last friday")
            << QByteArray("FREQ=MONTHLY;BYDAY=-1FR") << QByteArray("TZID=Europe/Paris:20200131T160000");
        QTest::newRow("yearly") << QByteArray("FREQ=YEARLY;BYMONTH=12;BYMONTHDAY=7")
                                << QByteArray("TZID=Europe/Paris:20181207T090000");
        QTest::newRow("all-day weekly")
            << QByteArray("FREQ=WEEKLY;BYDAY=FR") << QByteArray("VALUE=DATE:20200103");
        QTest::newRow("floating hourly")
            << QByteArray("FREQ=HOURLY;INTERVAL=7") << QByteArray("20200101T000000");
        QTest::newRow("utc with until")
            << QByteArray("FREQ=WEEKLY;UNTIL=20270101T000000Z") << QByteArray("20200106T080000Z");
    }
    void skippingAheadAgreesWithWalking()
    {
        QFETCH(QByteArray, rule);
        QFETCH(QByteArray, start);
        const QByteArray end = start.startsWith("VALUE=DATE") ? "DURATION:P1D" : "DURATION:PT45M";
        const QByteArray file = calendar("BEGIN:VEVENT|UID:k|SUMMARY:S|DTSTART;" + start + "|" + end +
                                         "|RRULE:" + rule + "|END:VEVENT");
        const QDateTime from = local("2026-10-20T00:00:00");
        const QDateTime to = local("2026-12-31T00:00:00");
        // Walking: a window from before the series' start, filtered afterwards.
        std::vector<MailboxItem> walked = expand(file, local("2019-01-01T00:00:00"), to);
        std::erase_if(walked, [&](const MailboxItem& item) { return item.end < from; });
        const std::vector<MailboxItem> skipped = expand(file, from, to);
        QVERIFY(!skipped.empty());
        QCOMPARE(describe(skipped), describe(walked));
    }

    void otherProgramsFiles_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<QDateTime>("from");
        QTest::addColumn<QDateTime>("to");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QStringList>("details"); // categories / sensitivity of each, "cat|sens"
        QTest::newRow("Google export, many UIDs")
            << "google-calendar-export.ics" << local("2026-12-07T00:00:00") << local("2026-12-14T00:00:00")
            << QStringList{"2026-12-07 09:00>10:00 Sprint planning", "2026-12-08 14:00>15:00 Customer call",
                           "2026-12-09>2026-12-11 Training"}
            << QStringList{"|0", "Customer|0", "|2"};
        QTest::newRow("Outlook, Windows zone name, across spring")
            << "outlook-windows-zone.ics" << local("2026-03-01T00:00:00") << local("2026-04-30T00:00:00")
            << QStringList{"2026-03-23 14:00>15:30 Comité de direction",
                           "2026-03-30 14:00>15:30 Comité de direction",
                           "2026-04-06 14:00>15:30 Comité de direction"}
            << QStringList{"|3", "|3", "|3"};
        QTest::newRow("Thunderbird, prefixed zone, exdate and moved instance")
            << "thunderbird-mozilla-zone.ics" << local("2026-10-26T00:00:00") << local("2026-10-29T00:00:00")
            << QStringList{"2026-10-26 09:30>09:45 Stand-up", "2026-10-28 14:00>14:15 Stand-up (moved)"}
            << QStringList{"|0", "|0"};
        QTest::newRow("Apple, floating time with duration")
            << "apple-floating-duration.ics" << local("2026-12-07T00:00:00") << local("2026-12-08T00:00:00")
            << QStringList{"2026-12-07 08:00>10:30 Floating workshop"} << QStringList{"Training;Internal|0"};
    }
    void otherProgramsFiles()
    {
        QFETCH(QString, fixture);
        QFETCH(QDateTime, from);
        QFETCH(QDateTime, to);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, details);
        QFile file(QStringLiteral(ROTAVINE_TEST_DATA "/ical/") + fixture);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const std::vector<MailboxItem> items = expand(file.readAll(), from, to);
        QCOMPARE(describe(items), expected);
        QStringList seen;
        for (const MailboxItem& item : items)
            seen << item.categories + u'|' + QString::number(item.sensitivity);
        QCOMPARE(seen, details);
    }

    void damagedFiles_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("refused");
        const std::map<QString, bool> refused = {
            {"truncated.ics", true}, {"no-end.ics", true},        {"bad-date.ics", true},
            {"bad-rule.ics", true},  {"binary-junk.ics", true},   {"empty.ics", true},
            {"nul-bytes.ics", true}, {"no-start.ics", true},      {"long-line.ics", false},
            {"not-utf8.ics", false}, {"deep-nesting.ics", false}, {"secondly-flood.ics", false}};
        const QDir dir(QStringLiteral(ROTAVINE_TEST_DATA "/ical/damaged"));
        for (const QString& name : dir.entryList(QDir::Files)) {
            QVERIFY2(refused.contains(name), qPrintable(name + QStringLiteral(" needs an expectation")));
            QTest::newRow(qPrintable(name)) << name << refused.at(name);
        }
    }
    void damagedFiles()
    {
        QFETCH(QString, name);
        QFETCH(bool, refused);
        QFile file(QStringLiteral(ROTAVINE_TEST_DATA "/ical/damaged/") + name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QString error;
        const auto parsed = ICalendarFile::parse(file.readAll(), &error);
        QCOMPARE(!parsed, refused);
        QCOMPARE(error.isEmpty(), !refused);
        if (parsed) {
            std::vector<MailboxItem> items;
            const QDateTime from = local("2026-12-07T09:00:00");
            parsed->expand({from.addSecs(3600).toSecsSinceEpoch(), from.toSecsSinceEpoch()}, items);
            QVERIFY(items.size() <= 3601);
        }
    }

    void indexFollowsTheFolder_data()
    {
        QTest::addColumn<bool>("watched");
        QTest::newRow("listing the folder each time") << false;
        QTest::newRow("told by the watcher") << true;
    }
    void indexFollowsTheFolder()
    {
        QFETCH(bool, watched);
        QTemporaryDir dir;
        const QString path = dir.path();
        auto event = [](const char* uid, const char* start, const char* subject) {
            return calendar(QByteArray("BEGIN:VEVENT|UID:") + uid + "|SUMMARY:" + subject +
                            "|DTSTART;TZID=Europe/Paris:" + start + "|DURATION:PT1H|END:VEVENT");
        };
        writeFile(path + "/b.ics", event("b", "20261207T090000", "Second by name"));
        writeFile(path + "/a.ics", event("a", "20261207T090000", "First by name"));
        writeFile(path + "/c.ics", event("c", "20261207T080000", "Earliest"));
        writeFile(path + "/broken.ics", "BEGIN:VCALENDAR\r\nnothing");
        writeFile(path + "/notes.txt", "not a calendar");

        CalendarIndex index(path, watched ? std::make_shared<DirectoryWatcher>() : nullptr);
        const TimeWindow window{local("2026-12-08T00:00:00"), local("2026-12-07T00:00:00")};
        auto subjects = [&] {
            QStringList list;
            for (const auto& item : index.scan(window).occurrences)
                list << item->subject;
            return list;
        };
        Folder::Scan scan = index.scan(window);
        QCOMPARE(scan.errors.size(), 1);
        QCOMPARE(scan.errors.first().number(), int(MailboxError::ItemUnreadable));
        QVERIFY(scan.errors.first().description().contains(QStringLiteral("broken.ics")));
        QCOMPARE(subjects(), (QStringList{"Earliest", "First by name", "Second by name"}));
        QCOMPARE(scan.occurrences.first()->source.location, path + "/c.ics");

        // A changed file is read again (same size and second: the identity of the new file tells).
        QFile::remove(path + "/c.ics");
        writeFile(path + "/c.ics", event("c", "20261207T100000", "Earliest"));
        QCOMPARE(subjects(), (QStringList{"First by name", "Second by name", "Earliest"}));
        // Rewritten in place, same size, same name.
        {
            QFile inPlace(path + "/b.ics");
            QVERIFY(inPlace.open(QIODevice::ReadWrite));
            QByteArray bytes = inPlace.readAll();
            bytes.replace("Second by name", "Second BY NAME");
            inPlace.seek(0);
            inPlace.write(bytes);
        }
        QCOMPARE(subjects(), (QStringList{"First by name", "Second BY NAME", "Earliest"}));
        writeFile(path + "/b.ics", event("b", "20261207T090000", "Second by name"));
        // A removed file is gone, a new one appears.
        QFile::remove(path + "/a.ics");
        writeFile(path + "/d.ics", event("d", "20261207T120000", "New"));
        QCOMPARE(subjects(), (QStringList{"Second by name", "Earliest", "New"}));
        // A folder that disappears is an error, not a crash.
        QVERIFY(QDir(path).removeRecursively());
        QVERIFY_THROWS_EXCEPTION(MailboxError, index.scan(window));
    }

    void writtenEventsReadBack()
    {
        NewEvent event;
        event.uid = QStringLiteral("fixed-uid@rotavine");
        event.stamp = QDateTime(QDate(2026, 12, 1), QTime(8, 0), Qt::UTC);
        event.start = local("2026-12-07T09:00:00");
        event.end = local("2026-12-07T10:30:00");
        event.subject =
            QStringLiteral("Réunion d'équipe avec un sujet assez long pour être replié sur plusieurs lignes");
        event.categories = QStringLiteral("Customer;Travel");
        event.sensitivity = MailboxItem::Private;
        event.organizer =
            NewEvent::Person{QStringLiteral("Élodie Martin"), QStringLiteral("elodie@example.org")};
        event.attendees = {{QStringLiteral("José Álvarez"), QStringLiteral("jose@example.org")}};
        const QByteArray bytes = writeICalendar(event);

        QVERIFY(bytes.contains("UID:fixed-uid@rotavine\r\n"));
        QVERIFY(bytes.contains("DTSTAMP:20261201T080000Z\r\n"));
        QVERIFY(bytes.contains("DTSTART;TZID=Europe/Paris:20261207T090000\r\n"));
        QVERIFY(bytes.contains("PARTSTAT=NEEDS-ACTION"));
        QVERIFY(bytes.contains("ORGANIZER"));
        for (const QByteArray& line : bytes.split('\n')) {
            QVERIFY(line.isEmpty() || line.endsWith('\r'));
            QVERIFY2(line.size() <= 76, line.constData());
        }
        const std::vector<MailboxItem> items =
            expand(bytes, local("2026-12-07T00:00:00"), local("2026-12-08T00:00:00"));
        QCOMPARE(items.size(), std::size_t(1));
        QCOMPARE(items.front().subject, event.subject);
        QCOMPARE(items.front().start, event.start);
        QCOMPARE(items.front().end, event.end);
        QCOMPARE(items.front().categories, event.categories);
        QCOMPARE(items.front().sensitivity, int(MailboxItem::Private));

        NewEvent anonymous = event;
        anonymous.organizer = NewEvent::Person{QStringLiteral("Nobody"), QString()};
        const QByteArray withoutOwner = writeICalendar(anonymous);
        QVERIFY(!withoutOwner.contains("ORGANIZER"));
        QVERIFY(withoutOwner.contains("ATTENDEE"));

        NewEvent allDay = event;
        allDay.allDay = true;
        allDay.start = local("2026-12-24T00:00:00");
        allDay.end = local("2026-12-26T00:00:00");
        const std::vector<MailboxItem> days =
            expand(writeICalendar(allDay), local("2026-12-20T00:00:00"), local("2026-12-31T00:00:00"));
        QCOMPARE(describe(days), QStringList{"2026-12-24>2026-12-26 " + event.subject});
    }
};

QTEST_GUILESS_MAIN(TestICalendar)
#include "tst_icalendar.moc"
