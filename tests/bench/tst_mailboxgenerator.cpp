#include "bench/mailboxgenerator.h"

#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <libical/ical.h>

#include <algorithm>
#include <memory>

namespace {

using Files = QMap<QString, QByteArray>; // path relative to the mailbox -> content

Files readTree(const QString& root)
{
    Files files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            files.insert(path.mid(root.size() + 1), file.readAll());
    }
    return files;
}

// Content lines with their folding undone.
QList<QByteArray> unfoldedLines(const QByteArray& data)
{
    QList<QByteArray> lines;
    for (const QByteArray& line : data.split('\n')) {
        const QByteArray text = line.endsWith('\r') ? line.chopped(1) : line;
        if (text.startsWith(' ') && !lines.isEmpty())
            lines.last().append(text.mid(1));
        else if (!text.isEmpty())
            lines.append(text);
    }
    return lines;
}

// What the format demands of every physical line: CRLF, at most 75 octets, and folds that never cut a
// UTF-8 sequence (each line decodes on its own).
QString lineProblem(const QByteArray& data)
{
    if (!data.endsWith("\r\n"))
        return QStringLiteral("does not end with CRLF");
    qsizetype start = 0;
    for (int number = 1; start < data.size(); ++number) {
        const qsizetype end = data.indexOf('\n', start);
        if (end <= start || data.at(end - 1) != '\r')
            return QStringLiteral("line %1 does not end with CRLF").arg(number);
        const QByteArray line = data.mid(start, end - 1 - start);
        if (line.size() > 75)
            return QStringLiteral("line %1 is %2 octets long").arg(number).arg(line.size());
        QStringDecoder decoder(QStringDecoder::Utf8);
        (void)QString(decoder(line));
        if (decoder.hasError())
            return QStringLiteral("line %1 is not UTF-8 on its own").arg(number);
        start = end + 1;
    }
    return {};
}

struct CalendarDeleter {
    void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};
using Calendar = std::unique_ptr<icalcomponent, CalendarDeleter>;

struct Series {
    icalcomponent* master = nullptr;
    QList<icalcomponent*> overrides;
};

Series splitSeries(icalcomponent* calendar)
{
    Series series;
    for (icalcomponent* event = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT); event;
         event = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT)) {
        if (icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY))
            series.overrides.append(event);
        else if (!series.master)
            series.master = event;
    }
    return series;
}

QList<icaltimetype> exceptionDates(icalcomponent* master)
{
    QList<icaltimetype> dates;
    for (icalproperty* p = icalcomponent_get_first_property(master, ICAL_EXDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(master, ICAL_EXDATE_PROPERTY))
        dates.append(icalproperty_get_exdate(p));
    return dates;
}

bool contains(const QList<icaltimetype>& times, icaltimetype time)
{
    return std::any_of(times.begin(), times.end(),
                       [&](const icaltimetype& t) { return icaltime_compare(t, time) == 0; });
}

// Calls `visit` with each instance of the master's rule, in order, until it returns false.
template <typename Visit>
bool forEachInstance(icalcomponent* master, Visit visit)
{
    icalproperty* rule = icalcomponent_get_first_property(master, ICAL_RRULE_PROPERTY);
    if (!rule)
        return false;
    icalrecur_iterator* it =
        icalrecur_iterator_new(icalproperty_get_rrule(rule), icalcomponent_get_dtstart(master));
    if (!it)
        return false;
    for (icaltimetype t = icalrecur_iterator_next(it); !icaltime_is_null_time(t);
         t = icalrecur_iterator_next(it)) {
        if (!visit(t))
            break;
    }
    icalrecur_iterator_free(it);
    return true;
}

QDate localDate(icaltimetype time)
{
    if (icaltime_is_utc(time))
        time = icaltime_convert_to_zone(time, icaltimezone_get_builtin_timezone("Europe/Paris"));
    return QDate(time.year, time.month, time.day);
}

// Why one calendar file is unusable, or "" when it is fine.
QString calendarProblem(const QByteArray& data)
{
    const QString lines = lineProblem(data);
    if (!lines.isEmpty())
        return lines;
    const Calendar calendar(icalparser_parse_string(data.constData()));
    if (!calendar || icalcomponent_isa(calendar.get()) != ICAL_VCALENDAR_COMPONENT)
        return QStringLiteral("is no iCalendar object");
    if (const int errors = icalcomponent_count_errors(calendar.get()))
        return QStringLiteral("has %1 parse errors").arg(errors);

    QSet<QByteArray> zones;
    for (icalcomponent* zone = icalcomponent_get_first_component(calendar.get(), ICAL_VTIMEZONE_COMPONENT);
         zone; zone = icalcomponent_get_next_component(calendar.get(), ICAL_VTIMEZONE_COMPONENT))
        zones.insert(icalproperty_get_tzid(icalcomponent_get_first_property(zone, ICAL_TZID_PROPERTY)));
    const Series series = splitSeries(calendar.get());
    if (!series.master)
        return QStringLiteral("has no event");
    const QByteArray uid = icalcomponent_get_uid(series.master);
    for (icalcomponent* event = icalcomponent_get_first_component(calendar.get(), ICAL_VEVENT_COMPONENT);
         event; event = icalcomponent_get_next_component(calendar.get(), ICAL_VEVENT_COMPONENT)) {
        if (uid.isEmpty() || uid != icalcomponent_get_uid(event))
            return QStringLiteral("mixes UIDs or lacks one");
        if (!icalcomponent_get_first_property(event, ICAL_DTSTAMP_PROPERTY))
            return QStringLiteral("lacks DTSTAMP");
        if (event != series.master && !series.overrides.contains(event))
            return QStringLiteral("has two series");
        for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_ANY_PROPERTY); p;
             p = icalcomponent_get_next_property(event, ICAL_ANY_PROPERTY)) {
            icalparameter* tzid = icalproperty_get_first_parameter(p, ICAL_TZID_PARAMETER);
            if (tzid && !zones.contains(icalparameter_get_tzid(tzid)))
                return QStringLiteral("uses TZID %1 without its VTIMEZONE").arg(icalparameter_get_tzid(tzid));
        }
    }

    icalproperty* rule = icalcomponent_get_first_property(series.master, ICAL_RRULE_PROPERTY);
    if (!rule)
        return series.overrides.isEmpty() ? QString() : QStringLiteral("overrides a single event");
    if (icalproperty_get_rrule(rule).freq == ICAL_NO_RECURRENCE)
        return QStringLiteral("has an invalid RRULE");
    // Exceptions that name no instance would leave the instance in place and show the override beside it.
    QList<icaltimetype> pending = exceptionDates(series.master);
    for (icalcomponent* event : series.overrides)
        pending.append(icalcomponent_get_recurrenceid(event));
    const icaltimetype start = icalcomponent_get_dtstart(series.master);
    bool first = true;
    bool startIsInstance = false;
    forEachInstance(series.master, [&](icaltimetype t) {
        if (first)
            startIsInstance = icaltime_compare(t, start) == 0;
        first = false;
        pending.erase(std::remove_if(pending.begin(), pending.end(),
                                     [&](const icaltimetype& p) { return icaltime_compare(p, t) == 0; }),
                      pending.end());
        return !pending.isEmpty();
    });
    if (!startIsInstance)
        return QStringLiteral("has a DTSTART that is not its rule's first instance");
    if (!pending.isEmpty())
        return QStringLiteral("has an EXDATE or RECURRENCE-ID that is no instance: %1")
            .arg(icaltime_as_ical_string(pending.first()));
    return {};
}

// Start dates of every occurrence up to `last`: instances of each series less its exceptions and the
// instances its overrides replace, plus the overrides and single events themselves.
QList<QDate> occurrenceDates(const Files& files, QDate last)
{
    QList<QDate> dates;
    for (auto it = files.begin(); it != files.end(); ++it) {
        if (!it.key().endsWith(u".ics"))
            continue;
        const Calendar calendar(icalparser_parse_string(it.value().constData()));
        const Series series = splitSeries(calendar.get());
        if (!series.master)
            continue;
        QList<icaltimetype> replaced = exceptionDates(series.master);
        for (icalcomponent* event : series.overrides) {
            replaced.append(icalcomponent_get_recurrenceid(event));
            dates.append(localDate(icalcomponent_get_dtstart(event)));
        }
        const bool recurring = forEachInstance(series.master, [&](icaltimetype t) {
            const QDate date = localDate(t);
            if (date > last)
                return false;
            if (!contains(replaced, t))
                dates.append(date);
            return true;
        });
        if (!recurring)
            dates.append(localDate(icalcomponent_get_dtstart(series.master)));
    }
    std::sort(dates.begin(), dates.end());
    return dates;
}

struct Card {
    QHash<QByteArray, QList<QByteArray>> values; // property name without group or parameters -> values
};

Card readCard(const QByteArray& data)
{
    Card card;
    for (const QByteArray& line : unfoldedLines(data)) {
        const qsizetype colon = line.indexOf(':');
        QByteArray name = line.left(colon).split(';').first().toUpper();
        if (const qsizetype dot = name.indexOf('.'); dot >= 0)
            name = name.mid(dot + 1);
        card.values[name].append(line.mid(colon + 1));
    }
    return card;
}

MailboxGeneratorOptions options(int people, QDate first, QDate last, quint32 seed, bool withTimeZones)
{
    MailboxGeneratorOptions options;
    options.people = people;
    options.firstDay = first;
    options.lastDay = last;
    options.seed = seed;
    options.withTimeZones = withTimeZones;
    return options;
}

} // namespace

class TestMailboxGenerator : public QObject {
    Q_OBJECT

    // Ten people over eighteen months, the tree the counts are checked on, and a small one in UTC. Kept small
    // because creating files is what takes the time.
    QTemporaryDir m_parisDir;
    QTemporaryDir m_utcDir;
    MailboxGeneratorOptions m_parisOptions = options(10, QDate(2025, 12, 1), QDate(2027, 5, 31), 1, true);
    MailboxGeneratorOptions m_utcOptions = options(3, QDate(2026, 1, 1), QDate(2026, 12, 31), 3, false);
    Files m_paris;
    Files m_utc;

private slots:
    void initTestCase()
    {
        QVERIFY(m_parisDir.isValid() && m_utcDir.isValid());
        for (auto [dir, opts, files] : {std::tuple(&m_parisDir, &m_parisOptions, &m_paris),
                                        std::tuple(&m_utcDir, &m_utcOptions, &m_utc)}) {
            const MailboxGeneratorResult result = generateMailbox(dir->path(), *opts);
            QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
            *files = readTree(dir->path());
            QCOMPARE(result.files, files->size());
            QCOMPARE(result.people, opts->people);
        }
    }

    void cleanupTestCase() { icaltimezone_free_builtin_timezones(); }

    void sameOptionsGiveTheSameFiles_data()
    {
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<quint32>("otherSeed");
        QTest::addColumn<bool>("withTimeZones");
        QTest::addColumn<bool>("same");
        QTest::newRow("same seed") << 1u << 1u << true << true;
        QTest::newRow("same seed, UTC") << 9u << 9u << false << true;
        QTest::newRow("another seed") << 1u << 2u << true << false;
    }
    void sameOptionsGiveTheSameFiles()
    {
        QFETCH(quint32, seed);
        QFETCH(quint32, otherSeed);
        QFETCH(bool, withTimeZones);
        QFETCH(bool, same);
        QTemporaryDir one;
        QTemporaryDir two;
        const QDate first(2026, 3, 1);
        const QDate last(2026, 5, 31);
        const MailboxGeneratorResult a =
            generateMailbox(one.path(), options(3, first, last, seed, withTimeZones));
        const MailboxGeneratorResult b =
            generateMailbox(two.path(), options(3, first, last, otherSeed, withTimeZones));
        QVERIFY(a.error.isEmpty() && b.error.isEmpty());
        const Files filesA = readTree(one.path());
        const Files filesB = readTree(two.path());
        QCOMPARE(filesA.size(), a.files);
        qint64 bytes = 0;
        for (const QByteArray& content : filesA)
            bytes += content.size();
        QCOMPARE(bytes, a.bytes);
        if (same) {
            QCOMPARE(filesA.keys(), filesB.keys());
            for (auto it = filesA.begin(); it != filesA.end(); ++it)
                QVERIFY2(it.value() == filesB.value(it.key()), qPrintable(it.key()));
        }
        else {
            QVERIFY(filesA != filesB);
        }
    }

    void calendarsAreValid_data()
    {
        QTest::addColumn<bool>("paris");
        QTest::newRow("Europe/Paris") << true;
        QTest::newRow("UTC") << false;
    }
    void calendarsAreValid()
    {
        QFETCH(bool, paris);
        const Files& files = paris ? m_paris : m_utc;
        int calendars = 0;
        int series = 0;
        int overridden = 0;
        for (auto it = files.begin(); it != files.end(); ++it) {
            if (!it.key().endsWith(u".ics"))
                continue;
            ++calendars;
            const QString problem = calendarProblem(it.value());
            QVERIFY2(problem.isEmpty(), qPrintable(it.key() + u' ' + problem));
            series += it.value().contains("\r\nRRULE:");
            overridden += it.value().contains("\r\nRECURRENCE-ID");
            QCOMPARE(it.value().contains("TZID=Europe/Paris"),
                     paris && it.value().contains("BEGIN:VTIMEZONE"));
        }
        QVERIFY(calendars > 1000);
        QVERIFY(series > 3 * m_parisOptions.seriesPerPerson && overridden > 3);
    }

    void occurrencesPerWindow_data()
    {
        QTest::addColumn<QDate>("first");
        const QDate start = m_parisOptions.firstDay;
        const QDate end = m_parisOptions.lastDay;
        QTest::newRow("first 187 days") << start;
        QTest::newRow("middle") << start.addDays(start.daysTo(end) / 2 - 93);
        QTest::newRow("last 187 days") << end.addDays(-186);
    }
    void occurrencesPerWindow()
    {
        QFETCH(QDate, first);
        static const QList<QDate> dates = occurrenceDates(m_paris, m_parisOptions.lastDay);
        const QDate last = first.addDays(186);
        const auto count = std::upper_bound(dates.begin(), dates.end(), last) -
                           std::lower_bound(dates.begin(), dates.end(), first);
        // About 790 per person, so that 127 people give about 100 000.
        const int expected = 790 * m_parisOptions.people;
        QVERIFY2(count > expected * 0.8 && count < expected * 1.2,
                 qPrintable(QStringLiteral("%1 occurrences, expected about %2").arg(count).arg(expected)));
    }

    void teamsReferToPeople_data()
    {
        QTest::addColumn<int>("people");
        QTest::newRow("ten people") << 0;
        // Enough people for names to repeat in the draw and for more teams than there are team names; a
        // Saturday, so that hardly any calendar file is written.
        QTest::newRow("four hundred people") << 400;
    }
    void teamsReferToPeople()
    {
        QFETCH(int, people);
        QTemporaryDir dir;
        const MailboxGeneratorOptions large =
            options(people, QDate(2026, 12, 5), QDate(2026, 12, 5), 5, true);
        if (people > 0)
            QVERIFY(generateMailbox(dir.path(), large).error.isEmpty());
        const QString root = people > 0 ? dir.path() : m_parisDir.path();
        const Files files = people > 0 ? readTree(root) : m_paris;
        const int expectedPeople = people > 0 ? people : m_parisOptions.people;

        QHash<QByteArray, QByteArray> emailOfUid;
        QSet<QString> names;
        QSet<QByteArray> emails;
        QList<Card> lists;
        for (auto it = files.begin(); it != files.end(); ++it) {
            if (!it.key().endsWith(u".vcf"))
                continue;
            const Card card = readCard(it.value());
            if (it.key().startsWith(u"contacts/Rotavine/")) {
                QCOMPARE(card.values.value("KIND"), QList<QByteArray>{"group"});
                lists.append(card);
                continue;
            }
            QCOMPARE(it.key().count(u'/'), 1);
            const QByteArray email = card.values.value("EMAIL").value(0);
            const QString name = QString::fromUtf8(card.values.value("FN").value(0)).toLower();
            // Recipients are resolved by name or address: duplicates would make people unreachable.
            QVERIFY2(!names.contains(name) && !emails.contains(email), email.constData());
            names.insert(name);
            emails.insert(email);
            emailOfUid.insert(card.values.value("UID").value(0), email);
        }
        QCOMPARE(emailOfUid.size(), expectedPeople);

        int teams = 0;
        bool everyone = false;
        QSet<QByteArray> listNames;
        for (const Card& list : lists) {
            const QByteArray name = list.values.value("FN").value(0);
            // Teams are found again by name.
            QVERIFY2(!listNames.contains(name), name.constData());
            listNames.insert(name);
            QSet<QByteArray> members;
            for (const QByteArray& member : list.values.value("MEMBER")) {
                QByteArray email;
                if (member.startsWith("urn:uuid:"))
                    email = emailOfUid.value(member.mid(9));
                else if (member.startsWith("mailto:") && emails.contains(member.mid(7)))
                    email = member.mid(7);
                QVERIFY2(!email.isEmpty(), member.constData());
                QVERIFY2(!members.contains(email), member.constData());
                members.insert(email);
            }
            const bool team = list.values.value("CATEGORIES").value(0).contains("<rotavine>");
            teams += team;
            if (name == "Everyone") {
                everyone = true;
                QVERIFY(team);
                QCOMPARE(members, emails);
            }
        }
        QVERIFY(everyone);
        QVERIFY(teams >= 2 && teams < lists.size());

        QSet<QByteArray> calendarFolders;
        for (const QString& folder :
             QDir(root + QStringLiteral("/calendars")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            calendarFolders.insert(folder.toUtf8());
        QCOMPARE(calendarFolders, emails);
    }
};

QTEST_GUILESS_MAIN(TestMailboxGenerator)
#include "tst_mailboxgenerator.moc"
