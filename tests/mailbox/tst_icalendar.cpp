#include "mailbox/calendarindex.h"
#include "mailbox/directorywatcher.h"
#include "mailbox/icalendarfile.h"
#include "tests/mailbox/mailboxtest.h"
#include "tests/support/fixtures.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

QDateTime local(const QString& text)
{
    return QDateTime::fromString(text, Qt::ISODate);
}

// One line per occurrence, by start: "yyyy-MM-dd HH:mm>HH:mm Subject" (the dates only for all-day ones), then
// " #categories" and " !sensitivity" where there are any.
QStringList describe(std::vector<MailboxItem> items)
{
    std::stable_sort(items.begin(), items.end(),
                     [](const auto& a, const auto& b) { return a.start < b.start; });
    QStringList lines;
    for (const MailboxItem& item : items) {
        const QString subject =
            item.subject.size() <= 60
                ? item.subject
                : item.subject.left(60) + QStringLiteral("… (%1)").arg(item.subject.size());
        lines << item.start.toString(item.allDay ? "yyyy-MM-dd" : "yyyy-MM-dd HH:mm") + u'>' +
                     item.end.toString(item.allDay ? "yyyy-MM-dd" : "HH:mm") + u' ' + subject +
                     (item.categories.isEmpty() ? QString() : " #" + item.categories) +
                     (item.sensitivity ? " !" + QString::number(item.sensitivity) : QString());
    }
    // A run of equal lines (a series of seconds, shown to the minute) as one, with its length.
    QStringList runs;
    for (qsizetype i = 0; i < lines.size();) {
        qsizetype end = i;
        while (end < lines.size() && lines[end] == lines[i])
            ++end;
        runs << (end - i > 2 ? lines[i] + QString(" x%1").arg(end - i) : lines.mid(i, end - i).join('\n'));
        i = end;
    }
    return runs.isEmpty() ? runs : runs.join('\n').split('\n');
}

// The occurrences, and why the file is refused or what of it is not shown, as "refused:" and "problem:"
// lines.
std::vector<MailboxItem> expand(const QByteArray& bytes, const QDateTime& from, const QDateTime& to,
                                QStringList* problems = nullptr)
{
    QString error;
    const auto file = ICalendarFile::parse(bytes, &error);
    std::vector<MailboxItem> items;
    QStringList found;
    if (file) {
        for (const QString& problem : file->problems())
            found << "problem: " + problem;
        QStringList expanding;
        file->expand({to.toSecsSinceEpoch(), from.toSecsSinceEpoch()}, items, &expanding);
        for (const QString& problem : expanding)
            found << "problem: " + problem;
    }
    else {
        found << "refused: " + error;
    }
    if (problems)
        *problems = found;
    return items;
}

} // namespace

class TestICalendar : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(qgetenv("TZ"), QByteArray("Europe/Paris")); }

    // Real-world, hand-made and damaged files, each with a golden file: the window it is expanded over, then
    // the occurrences, or why the file is refused.
    void files_data()
    {
        QTest::addColumn<QString>("name");
        for (const QString& name : corpus("ical", ".ics"))
            QTest::newRow(qPrintable(name)) << name;
    }
    void files()
    {
        QFETCH(QString, name);
        const QString path = dataPath("ical/" + name);
        const QStringList window = readLines(path + ".expected").value(0).split(u' ');
        QCOMPARE(window.size(), 3);
        QStringList problems;
        QStringList actual = describe(expand(readBytes(path), local(window[1]), local(window[2]), &problems));
        actual << problems;
        actual.prepend(window.join(u' '));
        QCOMPARE(actual, golden(path + ".expected", actual));
        // Series far from their start are entered part-way: that must give what walking from the start gives.
        // (A series too long to walk from its start to the window is cut, and says so: nothing to compare.)
        QStringList walkProblems;
        std::vector<MailboxItem> walked =
            expand(readBytes(path), local("2000-01-01T00:00"), local(window[2]), &walkProblems);
        std::erase_if(walked, [&](const MailboxItem& item) { return item.end < local(window[1]); });
        if (!name.startsWith("damaged/") && !name.startsWith("hostile/") &&
            walkProblems.filter("too many dates").isEmpty())
            QCOMPARE(describe(walked), actual.mid(1, actual.size() - 1 - problems.size()));
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
        writeFile(path + "/b.ics",
                  calendarEvent("b", "Second by name", "20261207T090000", "20261207T100000"));
        writeFile(path + "/a.ics", calendarEvent("a", "First by name", "20261207T090000", "20261207T100000"));
        writeFile(path + "/c.ics", calendarEvent("c", "Earliest", "20261207T080000", "20261207T090000"));
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
        QVERIFY(scan.errors.size() == 1 && scan.errors[0].number() == MailboxError::ItemUnreadable);
        QVERIFY(scan.errors[0].description().contains("broken.ics"));
        QCOMPARE(subjects(), (QStringList{"Earliest", "First by name", "Second by name"}));
        QCOMPARE(scan.occurrences.first()->source.location, path + "/c.ics");

        // A file replaced by another of the same size within the same second: its identity tells.
        QFile::remove(path + "/c.ics");
        writeFile(path + "/c.ics", calendarEvent("c", "Earliest", "20261207T100000", "20261207T110000"));
        QCOMPARE(subjects(), (QStringList{"First by name", "Second by name", "Earliest"}));
        QByteArray bytes = readBytes(path + "/b.ics");
        QFile inPlace(path + "/b.ics"); // rewritten in place, same size, same name
        QVERIFY(inPlace.open(QIODevice::ReadWrite));
        inPlace.write(bytes.replace("Second by name", "Second BY NAME"));
        inPlace.close();
        QCOMPARE(subjects(), (QStringList{"First by name", "Second BY NAME", "Earliest"}));
        QFile::remove(path + "/a.ics");
        writeFile(path + "/d.ics", calendarEvent("d", "New", "20261207T120000", "20261207T130000"));
        QCOMPARE(subjects(), (QStringList{"Second BY NAME", "Earliest", "New"}));
        // A folder that disappears is an error, not a crash.
        QVERIFY(QDir(path).removeRecursively());
        QVERIFY_THROWS_EXCEPTION(MailboxError, index.scan(window));
    }

    void writtenEventsReadBack()
    {
        const QString subject =
            "Réunion d'équipe avec un sujet assez long pour être replié sur plusieurs lignes";
        NewEvent event{"fixed-uid@rotavine",
                       QDateTime(QDate(2026, 12, 1), QTime(8, 0), Qt::UTC),
                       local("2026-12-07T09:00"),
                       local("2026-12-07T10:30"),
                       false,
                       subject,
                       QString(),
                       "Customer;Travel",
                       MailboxItem::Private,
                       false,
                       NewEvent::Person{"Élodie Martin", "elodie@example.org"},
                       {{"José Álvarez", "jose@example.org"}}};
        const QByteArray bytes = writeICalendar(event);
        for (const char* line :
             {"UID:fixed-uid@rotavine\r\n", "DTSTAMP:20261201T080000Z\r\n",
              "DTSTART;TZID=Europe/Paris:20261207T090000\r\n", "PARTSTAT=NEEDS-ACTION", "ORGANIZER"})
            QVERIFY2(bytes.contains(line), line);
        for (const QByteArray& line : bytes.split('\n'))
            QVERIFY2(line.isEmpty() || (line.endsWith('\r') && line.size() <= 76), line.constData());
        QCOMPARE(describe(expand(bytes, local("2026-12-07T00:00"), local("2026-12-08T00:00"))),
                 QStringList{"2026-12-07 09:00>10:30 " + subject.left(60) +
                             QStringLiteral("… (%1) #Customer;Travel !2").arg(subject.size())});
        event.organizer = NewEvent::Person{"Nobody", QString()};
        QVERIFY(!writeICalendar(event).contains("ORGANIZER") && writeICalendar(event).contains("ATTENDEE"));
        event.allDay = true;
        event.start = local("2026-12-24T00:00");
        event.end = local("2026-12-26T00:00");
        QCOMPARE(describe(expand(writeICalendar(event), local("2026-12-20T00:00"), local("2026-12-31T00:00")))
                     .value(0)
                     .left(22),
                 "2026-12-24>2026-12-26 ");
    }
};

QTEST_GUILESS_MAIN(TestICalendar)
#include "tst_icalendar.moc"
