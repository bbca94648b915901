#include "bench/mailboxgenerator.h"

#include "bench/contentlinewriter.h"
#include "bench/randomsequence.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <iterator>

using namespace Qt::StringLiterals;

namespace {

// Everything below is drawn from these tables; appending to them changes the output of every seed.
constexpr const char* kGivenNames[] = {
    "Élodie", "José",      "Søren",   "Chiara",    "François", "Anna",   "Björn",  "Lukáš",   "Zoë",
    "Inês",   "Jürgen",    "Mairéad", "Agnieszka", "Ákos",     "Łukasz", "Matteo", "Giulia",  "Núria",
    "Íñigo",  "Margarida", "João",    "Ólafur",    "Sigríður", "Émile",  "Hélène", "Thérèse", "Dóra",
    "Tomás",  "Siobhán",   "Erik",    "Ingrid",    "Maja",     "Mikkel", "Astrid", "Henrik",  "Leonie",
    "Felix",  "Lena",      "Marta",   "Pablo",     "Lucía",    "Andrés", "Niamh",  "Oisín",   "Petra",
    "Jiří",   "Tereza",    "Dušan",   "Ana",       "Luka",     "Ivana",  "Ayşe",   "Çağla",   "Nikolaos",
    "Eleni",  "Rūta",      "Jānis",   "Kaisa",     "Väinö",    "Gaëlle"};
constexpr const char* kFamilyNames[] = {
    "Martin",       "Álvarez",    "Nielsen", "Rossi",     "Dubois",  "Kowalski",  "Lindqvist",    "Novák",
    "van den Berg", "Carvalho",   "Weiß",    "O'Brien",   "Müller",  "Schröder",  "Østergaard",   "Jørgensen",
    "Åkesson",      "Nyström",    "Sánchez", "Muñoz",     "García",  "Fernández", "Conceição",    "Gonçalves",
    "Lefèvre",      "Bénard",     "Girard",  "Moreau",    "Ferrari", "Bianchi",   "De Luca",      "Esposito",
    "Nowak",        "Wiśniewski", "Dvořák",  "Svoboda",   "Horváth", "Kovács",    "Papadopoulos", "Yılmaz",
    "Öztürk",       "Kelly",      "Murphy",  "Virtanen",  "Mäkinen", "Kalniņš",   "Petrović",     "Schmidt",
    "Janssens",     "De Vries",   "Peeters", "Rasmussen", "Łęcka",   "Ødegård",   "Šimek",        "Costa"};
constexpr const char* kTeamNames[] = {"Support",         "Sales",
                                      "Finance",         "Platform Engineering",
                                      "Mobile Apps",     "Data and Analytics",
                                      "Marketing",       "Legal and Compliance",
                                      "Human Resources", "Customer Success",
                                      "Infrastructure",  "Product Design",
                                      "Research",        "Quality Assurance",
                                      "Procurement",     "Facilities",
                                      "Security",        "Partnerships",
                                      "Training",        "Documentation"};
constexpr const char* kRoles[] = {"Specialist", "Senior Specialist", "Analyst",    "Engineer",
                                  "Manager",    "Coordinator",       "Consultant", "Team Lead"};
constexpr const char* kCompanies[] = {
    "Brauerei Müller GmbH",    "Café Olé S.r.l.", "Nordlys AB",         "Boulangeries Côté Sud",
    "Ibérica Foods S.A.",      "Łódź Logistics",  "Høgfjell Energi AS", "Açores Pesca Lda.",
    "Züriberg Versicherungen", "Kraków Motors",   "Brasserie du Pont",  "Tintorería Peña"};
constexpr const char* kCities[] = {"Lyon",  "München", "Kraków",    "Göteborg", "Bruxelles", "Sevilla",
                                   "Porto", "Zürich",  "København", "Milano",   "Praha",     "Wien"};
constexpr const char* kTopics[] = {"Q3 figures",
                                   "pricing",
                                   "onboarding",
                                   "release 5.0",
                                   "the CRM migration",
                                   "knowledge base",
                                   "hiring plan",
                                   "budget 2027",
                                   "GDPR audit",
                                   "security review",
                                   "roadmap",
                                   "customer survey",
                                   "Café Lumière catering",
                                   "SLA report",
                                   "partner programme",
                                   "trade fair in Köln"};
constexpr const char* kPrivateSubjects[] = {
    "Dentist",          "Doctor",        "Parents' evening", "Car service",
    "Bank appointment", "Physiotherapy", "Hairdresser",      "Vet (Félix the cat)"};
constexpr const char* kConfidentialSubjects[] = {"Salary review", "Performance review",
                                                 "Reorganisation (draft)", "Interview: senior engineer",
                                                 "Works council"};

constexpr const char* kCompany = "Larkspur Software";
constexpr const char* kDomain = "larkspur.example";
constexpr const char* kTimeZoneId = "Europe/Paris";
constexpr const char* kTeamMarker = "<rotavine>";
constexpr const char* kWeekdayCodes[] = {"", "MO", "TU", "WE", "TH", "FR", "SA", "SU"};

// The standard Europe/Paris rules (EU summer time since 1996), written into every file that uses the TZID.
constexpr const char* kTimeZoneLines[] = {"BEGIN:VTIMEZONE",
                                          "TZID:Europe/Paris",
                                          "X-LIC-LOCATION:Europe/Paris",
                                          "BEGIN:DAYLIGHT",
                                          "TZOFFSETFROM:+0100",
                                          "TZOFFSETTO:+0200",
                                          "TZNAME:CEST",
                                          "DTSTART:19700329T020000",
                                          "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU",
                                          "END:DAYLIGHT",
                                          "BEGIN:STANDARD",
                                          "TZOFFSETFROM:+0200",
                                          "TZOFFSETTO:+0100",
                                          "TZNAME:CET",
                                          "DTSTART:19701025T030000",
                                          "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU",
                                          "END:STANDARD",
                                          "END:VTIMEZONE"};

template <typename T, std::size_t N>
const T& pick(RandomSequence& rng, const T (&table)[N])
{
    return table[rng.below(int(N))];
}

QString text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

struct Person {
    QString given;
    QString family;
    QString name;
    QString email;
    QByteArray uid;
    QString title;
    QString department;
    int team = 0;
};

struct Team {
    QString name;
    QList<int> members;
};

enum class Pattern {
    Weekdays,
    TwiceWeekly,
    Weekly,
    Fortnightly,
    MonthlyByWeekday,
    MonthlyByDate,
    AllDayWeekly
};

// Slot 0 of every person is the daily stand-up; the other slots cycle through this mix. With the default
// number of slots and singles it gives about 790 occurrences per person in 187 days.
constexpr Pattern kSlotPatterns[] = {Pattern::Weekly,      Pattern::TwiceWeekly,  Pattern::Fortnightly,
                                     Pattern::Weekly,      Pattern::TwiceWeekly,  Pattern::MonthlyByWeekday,
                                     Pattern::Weekly,      Pattern::AllDayWeekly, Pattern::TwiceWeekly,
                                     Pattern::Fortnightly, Pattern::Weekly,       Pattern::MonthlyByDate,
                                     Pattern::TwiceWeekly, Pattern::Weekly};

struct Rule {
    Pattern pattern = Pattern::Weekly;
    QList<int> weekdays; // 1 = Monday
    int ordinal = 1;     // MonthlyByWeekday: 1 to 4, or -1 for the last one of the month
    int monthDay = 1;    // MonthlyByDate
    bool daily = false;  // Weekdays written as FREQ=DAILY rather than FREQ=WEEKLY
    bool byDay = true;   // Weekly and Fortnightly may leave the day to DTSTART
};

bool isAllDay(Pattern pattern)
{
    return pattern == Pattern::MonthlyByDate || pattern == Pattern::AllDayWeekly;
}

bool isMonthly(Pattern pattern)
{
    return pattern == Pattern::MonthlyByWeekday || pattern == Pattern::MonthlyByDate;
}

QDate nthWeekdayOfMonth(int year, int month, int weekday, int ordinal)
{
    if (ordinal > 0) {
        const QDate first(year, month, 1);
        return first.addDays((weekday - first.dayOfWeek() + 7) % 7 + 7 * (ordinal - 1));
    }
    const QDate last(year, month, QDate(year, month, 1).daysInMonth());
    return last.addDays(-((last.dayOfWeek() - weekday + 7) % 7));
}

QDate monthlyDate(const Rule& rule, int year, int month)
{
    if (rule.pattern == Pattern::MonthlyByDate)
        return QDate(year, month, rule.monthDay);
    return nthWeekdayOfMonth(year, month, rule.weekdays.first(), rule.ordinal);
}

// The instances of `rule` from `start` (an instance itself) to `last`, both included. They must be exactly
// what an RFC 5545 expansion gives, since EXDATE and RECURRENCE-ID values are taken from them.
QList<QDate> instanceDates(const Rule& rule, QDate start, QDate last)
{
    QList<QDate> dates;
    if (isMonthly(rule.pattern)) {
        for (QDate month(start.year(), start.month(), 1); month <= last; month = month.addMonths(1)) {
            const QDate date = monthlyDate(rule, month.year(), month.month());
            if (date >= start && date <= last)
                dates.append(date);
        }
        return dates;
    }
    const int interval = rule.pattern == Pattern::Fortnightly ? 2 : 1;
    const QDate firstMonday = start.addDays(1 - start.dayOfWeek());
    for (QDate date = start; date <= last; date = date.addDays(1)) {
        if (rule.weekdays.contains(date.dayOfWeek()) && (firstMonday.daysTo(date) / 7) % interval == 0)
            dates.append(date);
    }
    return dates;
}

QDate firstInstanceFrom(const Rule& rule, QDate from)
{
    if (isMonthly(rule.pattern)) {
        for (QDate month(from.year(), from.month(), 1);; month = month.addMonths(1)) {
            const QDate date = monthlyDate(rule, month.year(), month.month());
            if (date >= from)
                return date;
        }
    }
    QDate date = from;
    while (!rule.weekdays.contains(date.dayOfWeek()))
        date = date.addDays(1);
    return date;
}

QByteArray ruleText(const Rule& rule)
{
    QByteArray days;
    for (int day : rule.weekdays) {
        if (!days.isEmpty())
            days.append(',');
        days.append(kWeekdayCodes[day]);
    }
    switch (rule.pattern) {
    case Pattern::Weekdays:
        return (rule.daily ? "FREQ=DAILY;BYDAY=" : "FREQ=WEEKLY;BYDAY=") + days;
    case Pattern::TwiceWeekly:
    case Pattern::AllDayWeekly:
        return "FREQ=WEEKLY;BYDAY=" + days;
    case Pattern::Weekly:
        return rule.byDay ? "FREQ=WEEKLY;BYDAY=" + days : QByteArray("FREQ=WEEKLY");
    case Pattern::Fortnightly:
        return rule.byDay ? "FREQ=WEEKLY;INTERVAL=2;BYDAY=" + days : QByteArray("FREQ=WEEKLY;INTERVAL=2");
    case Pattern::MonthlyByWeekday:
        return "FREQ=MONTHLY;BYDAY=" + QByteArray::number(rule.ordinal) + days;
    case Pattern::MonthlyByDate:
        return "FREQ=MONTHLY;BYMONTHDAY=" + QByteArray::number(rule.monthDay);
    }
    return {};
}

Rule makeRule(Pattern pattern, RandomSequence& rng)
{
    Rule rule;
    rule.pattern = pattern;
    switch (pattern) {
    case Pattern::Weekdays:
        rule.weekdays = {1, 2, 3, 4, 5};
        rule.daily = rng.percent(50);
        break;
    case Pattern::TwiceWeekly: {
        const int first = rng.between(1, 4);
        rule.weekdays = {first, rng.between(first + 1, 5)};
        break;
    }
    case Pattern::Weekly:
    case Pattern::Fortnightly:
        rule.weekdays = {rng.between(1, 5)};
        rule.byDay = rng.percent(70);
        break;
    case Pattern::MonthlyByWeekday: {
        constexpr int ordinals[] = {1, 1, 2, 3, 4, -1};
        rule.weekdays = {rng.between(1, 5)};
        rule.ordinal = pick(rng, ordinals);
        break;
    }
    case Pattern::MonthlyByDate:
        rule.monthDay = rng.between(1, 28);
        break;
    case Pattern::AllDayWeekly:
        rule.weekdays = {rng.between(1, 5)};
        break;
    }
    return rule;
}

// Generated times stay between 07:00 and 22:00 in Paris, so their date is the same in UTC.
int parisOffsetMinutes(QDate date)
{
    const QDate summerStart = nthWeekdayOfMonth(date.year(), 3, 7, -1);
    const QDate summerEnd = nthWeekdayOfMonth(date.year(), 10, 7, -1);
    return date >= summerStart && date < summerEnd ? 120 : 60;
}

void appendPadded(QByteArray& out, int value, int width)
{
    char digits[8];
    for (int i = width - 1; i >= 0; --i) {
        digits[i] = char('0' + value % 10);
        value /= 10;
    }
    out.append(digits, width);
}

QByteArray dateValue(QDate date)
{
    QByteArray out;
    appendPadded(out, date.year(), 4);
    appendPadded(out, date.month(), 2);
    appendPadded(out, date.day(), 2);
    return out;
}

QByteArray dateTimeValue(QDate date, int minutes)
{
    QByteArray out = dateValue(date);
    out.append('T');
    appendPadded(out, minutes / 60, 2);
    appendPadded(out, minutes % 60, 2);
    out.append("00");
    return out;
}

QByteArray uuid(RandomSequence& rng)
{
    const quint64 high = rng.next();
    const quint64 low = rng.next();
    const QByteArray hex = QByteArray::number(high, 16).rightJustified(16, '0') +
                           QByteArray::number(low, 16).rightJustified(16, '0');
    // Version 4 and the RFC 4122 variant, as a random UUID carries them.
    return hex.mid(0, 8) + '-' + hex.mid(8, 4) + "-4" + hex.mid(13, 3) + '-' +
           QByteArray::number(8 + int(low >> 62), 16) + hex.mid(17, 3) + '-' + hex.mid(20, 12);
}

QString asciiFolded(const QString& name)
{
    QString out;
    for (QChar c : name.normalized(QString::NormalizationForm_KD)) {
        switch (c.toLower().unicode()) {
        case u'ø':
            out += u'o';
            continue;
        case u'æ':
            out += QStringLiteral("ae");
            continue;
        case u'ß':
            out += QStringLiteral("ss");
            continue;
        case u'ł':
            out += u'l';
            continue;
        case u'ı':
            out += u'i';
            continue;
        case u'ð':
        case u'đ':
            out += u'd';
            continue;
        case u'þ':
            out += QStringLiteral("th");
            continue;
        default:
            break;
        }
        if (c.unicode() < 128 && c.isLetterOrNumber())
            out += c.toLower();
    }
    return out;
}

struct Event {
    QString summary;
    QString location;
    QString description;
    QStringList categories;
    const char* sensitivity = nullptr; // CLASS value, none when public
    bool transparent = false;
};

struct Run {
    QString root;
    MailboxGeneratorOptions options;
    QByteArray stamp; // DTSTAMP of every object, fixed so that output is reproducible
    ContentLineWriter writer;
    MailboxGeneratorResult result;
};

bool writeFile(Run& run, const QString& path)
{
    QFile file(path);
    const QByteArray& data = run.writer.data();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered) ||
        file.write(data) != data.size()) {
        run.result.error =
            QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    ++run.result.files;
    run.result.bytes += data.size();
    return true;
}

bool makeFolder(Run& run, const QString& path)
{
    if (QDir().mkpath(path))
        return true;
    run.result.error = QStringLiteral("Cannot create the folder %1").arg(QDir::toNativeSeparators(path));
    return false;
}

// ----- contacts

QList<Person> makePeople(int count, RandomSequence& rng)
{
    QList<Person> people;
    QSet<QString> names;
    QSet<QString> emails;
    while (people.size() < count) {
        Person person;
        person.given = text(pick(rng, kGivenNames));
        person.family = text(pick(rng, kFamilyNames));
        person.name = person.given + u' ' + person.family;
        // Recipients are resolved by name, so two people of one name would make both unreachable.
        if (names.contains(person.name.toLower()))
            continue;
        names.insert(person.name.toLower());
        const QString local = asciiFolded(person.given) + u'.' + asciiFolded(person.family);
        QString email = local;
        for (int n = 2; emails.contains(email); ++n)
            email = local + QString::number(n);
        emails.insert(email);
        person.email = email + u'@' + text(kDomain);
        person.uid = uuid(rng);
        people.append(person);
    }
    return people;
}

QList<Team> makeTeams(QList<Person>& people, RandomSequence& rng)
{
    QList<Team> teams;
    int next = 0;
    while (next < people.size()) {
        const int remaining = int(people.size()) - next;
        int size = std::min(remaining, rng.between(6, 14));
        if (remaining - size < 4)
            size = remaining;
        Team team;
        const int index = int(teams.size());
        constexpr int nameCount = int(std::size(kTeamNames));
        team.name = text(kTeamNames[index % nameCount]);
        if (index >= nameCount)
            team.name += u' ' + QString::number(index / nameCount + 1);
        for (int i = next; i < next + size; ++i) {
            team.members.append(i);
            people[i].team = index;
            people[i].department = team.name;
            people[i].title = (i == next ? QStringLiteral("Team Lead") : text(pick(rng, kRoles))) +
                              QStringLiteral(", ") + team.name;
        }
        teams.append(team);
        next += size;
    }
    return teams;
}

bool writePerson(Run& run, const Person& person, const QString& folder)
{
    ContentLineWriter& w = run.writer;
    w.clear();
    w.add("BEGIN:VCARD");
    w.add("VERSION:4.0");
    w.add("PRODID:-//Rotavine//Mailbox generator//EN");
    w.add("UID:" + person.uid);
    w.addText("FN", person.name);
    w.add("N:" + ContentLineWriter::escaped(person.family) + ';' + ContentLineWriter::escaped(person.given) +
          ";;;");
    w.add("EMAIL;TYPE=work:" + person.email.toUtf8());
    w.add("ORG:" + QByteArray(kCompany) + ';' + ContentLineWriter::escaped(person.department));
    w.addText("TITLE", person.title);
    w.add("END:VCARD");
    return writeFile(run, folder + u'/' + person.email.section(u'@', 0, 0) + QStringLiteral(".vcf"));
}

// Members are referenced by UID, every seventh by e-mail address, as address books mix both.
bool writeList(Run& run, const QString& name, const QString& fileName, const QByteArray& categories,
               const QList<int>& members, const QList<Person>& people, RandomSequence& rng)
{
    ContentLineWriter& w = run.writer;
    w.clear();
    w.add("BEGIN:VCARD");
    w.add("VERSION:4.0");
    w.add("PRODID:-//Rotavine//Mailbox generator//EN");
    w.add("KIND:group");
    w.add("UID:" + uuid(rng));
    w.addText("FN", name);
    w.add("CATEGORIES:" + categories);
    for (int i = 0; i < members.size(); ++i) {
        const Person& person = people[members[i]];
        if (i % 7 == 6)
            w.add("MEMBER:mailto:" + person.email.toUtf8());
        else
            w.add("MEMBER:urn:uuid:" + person.uid);
    }
    w.add("END:VCARD");
    return writeFile(run, fileName);
}

bool writeContacts(Run& run, const QList<Person>& people, const QList<Team>& teams, RandomSequence& rng)
{
    const QString contacts = run.root + QStringLiteral("/contacts");
    const QString teamFolder = contacts + QStringLiteral("/Rotavine");
    if (!makeFolder(run, teamFolder))
        return false;
    for (const Person& person : people) {
        if (!writePerson(run, person, contacts))
            return false;
    }
    QList<int> everyone;
    for (int i = 0; i < people.size(); ++i)
        everyone.append(i);
    const QByteArray marker(kTeamMarker);
    if (!writeList(run, QStringLiteral("Everyone"), teamFolder + QStringLiteral("/everyone.vcf"), marker,
                   everyone, people, rng))
        return false;
    for (int t = 0; t < teams.size(); ++t) {
        // Half the teams carry another category before the marker.
        const QByteArray categories = t % 2 ? "Teams," + marker : marker;
        const QString fileName =
            teamFolder + QStringLiteral("/team-") + asciiFolded(teams[t].name) + QStringLiteral(".vcf");
        if (!writeList(run, teams[t].name, fileName, categories, teams[t].members, people, rng))
            return false;
    }
    // A distribution list in the team folder that is not a team.
    QList<int> committee;
    for (int i = 0; i < people.size(); i += 11)
        committee.append(i);
    return writeList(run, QStringLiteral("Social committee"),
                     teamFolder + QStringLiteral("/social-committee.vcf"), "Social", committee, people, rng);
}

// ----- calendars

void beginCalendar(Run& run, bool withTimeZone)
{
    ContentLineWriter& w = run.writer;
    w.clear();
    w.add("BEGIN:VCALENDAR");
    w.add("VERSION:2.0");
    w.add("PRODID:-//Rotavine//Mailbox generator//EN");
    w.add("CALSCALE:GREGORIAN");
    if (withTimeZone) {
        for (const char* line : kTimeZoneLines)
            w.add(line);
    }
}

void addDescription(ContentLineWriter& w, const Event& event)
{
    w.addText("SUMMARY", event.summary);
    if (!event.location.isEmpty())
        w.addText("LOCATION", event.location);
    if (!event.description.isEmpty())
        w.addText("DESCRIPTION", event.description);
    if (!event.categories.isEmpty()) {
        QByteArray line("CATEGORIES:");
        for (int i = 0; i < event.categories.size(); ++i) {
            if (i > 0)
                line.append(',');
            line.append(ContentLineWriter::escaped(event.categories[i]));
        }
        w.add(line);
    }
    if (event.sensitivity)
        w.add("CLASS:" + QByteArray(event.sensitivity));
    if (event.transparent)
        w.add("TRANSP:TRANSPARENT");
}

// A date-time property: wall-clock minutes in Paris written with the TZID, or converted to UTC.
QByteArray localTime(const Run& run, const char* name, QDate date, int minutes)
{
    if (run.options.withTimeZones)
        return QByteArray(name) + ";TZID=" + kTimeZoneId + ':' + dateTimeValue(date, minutes);
    return QByteArray(name) + ':' + dateTimeValue(date, minutes - parisOffsetMinutes(date)) + 'Z';
}

QByteArray dateProperty(const char* name, QDate date)
{
    return QByteArray(name) + ";VALUE=DATE:" + dateValue(date);
}

struct Slot {
    Event event;
    int start = 9 * 60; // minutes after midnight, Paris
    int length = 60;
};

Event seriesEvent(Pattern pattern, const Person& person, const Team& team, const QList<Person>& people,
                  RandomSequence& rng, int& start, int& length)
{
    Event event;
    start = rng.between(8 * 4, 17 * 4 + 2) * 15;
    constexpr int lengths[] = {30, 45, 60, 60, 90};
    length = pick(rng, lengths);
    const auto colleague = [&]() -> const Person& {
        const int other = team.members[rng.below(int(team.members.size()))];
        return people[other].email == person.email ? people[team.members.first()] : people[other];
    };
    const bool personal = rng.percent(10);
    switch (pattern) {
    case Pattern::Weekdays:
        event.summary = QStringLiteral("Stand-up ") + team.name;
        break;
    case Pattern::TwiceWeekly: {
        constexpr const char* subjects[] = {"Ticket queue duty", "Office hours", "Customer calls",
                                            "Focus time", "Pairing session"};
        event.summary = text(pick(rng, subjects));
        if (event.summary == u"Customer calls"_s)
            event.categories = {QStringLiteral("Customer")};
        event.transparent = event.summary == u"Focus time"_s;
        if (personal) {
            event.summary = QStringLiteral("Gym");
            event.sensitivity = "PRIVATE";
            start = 12 * 60 + 30;
        }
        break;
    }
    case Pattern::Weekly:
    case Pattern::Fortnightly: {
        const int kind = rng.below(5);
        if (kind == 0)
            event.summary = team.name + QStringLiteral(" weekly");
        else if (kind == 1 || pattern == Pattern::Fortnightly)
            event.summary = QStringLiteral("1:1 ") + person.given + QStringLiteral(" / ") + colleague().given;
        else if (kind == 2)
            event.summary = QStringLiteral("Project sync: ") + text(pick(rng, kTopics));
        else if (kind == 3)
            event.summary = QStringLiteral("Review: ") + text(pick(rng, kTopics));
        else
            event.summary = QStringLiteral("Planning meeting");
        if (rng.percent(40))
            event.location = QStringLiteral("Salle ") + text(pick(rng, kCities));
        if (personal) {
            event.summary =
                rng.percent(50) ? QStringLiteral("Choir rehearsal") : QStringLiteral("Swimming lessons");
            event.sensitivity = "PRIVATE";
            event.location.clear();
            start = 18 * 60 + 30;
            length = 90;
        }
        break;
    }
    case Pattern::MonthlyByWeekday: {
        constexpr const char* subjects[] = {"Monthly review", "All-hands", "Lunch & learn", "Budget check"};
        event.summary = text(pick(rng, subjects));
        event.description = QStringLiteral("Agenda:\n- figures of the month\n- %1, questions, next steps")
                                .arg(text(pick(rng, kTopics)));
        break;
    }
    case Pattern::MonthlyByDate: {
        constexpr const char* subjects[] = {"Timesheets due", "Invoice run", "Report to management"};
        event.summary = text(pick(rng, subjects));
        event.categories = {QStringLiteral("Reminder")};
        event.transparent = true;
        break;
    }
    case Pattern::AllDayWeekly: {
        constexpr const char* subjects[] = {"Remote work", "Home office", "At the Lyon office"};
        event.summary = text(pick(rng, subjects));
        event.categories = {event.summary == u"At the Lyon office"_s ? QStringLiteral("Travel")
                                                                     : QStringLiteral("Remote")};
        event.transparent = true;
        break;
    }
    }
    return event;
}

bool isPublicHoliday(QDate date)
{
    return (date.month() == 1 && date.day() == 1) || (date.month() == 5 && date.day() == 1) ||
           (date.month() == 12 && date.day() == 25);
}

// One series: the master with its rule and exceptions, then its overridden instances.
bool writeSeries(Run& run, const QString& folder, const Rule& rule, const Slot& slot,
                 const QList<QDate>& dates, const QByteArray& end, bool openEnded, RandomSequence& rng)
{
    const bool allDay = isAllDay(rule.pattern);
    // In UTC the rule repeats the UTC time of its first instance, so exceptions must name that same time.
    const int ruleMinutes =
        run.options.withTimeZones ? slot.start : slot.start - parisOffsetMinutes(dates.first());
    const auto instanceTime = [&](const char* name, QDate date, int minutes) {
        if (run.options.withTimeZones)
            return QByteArray(name) + ";TZID=" + kTimeZoneId + ':' + dateTimeValue(date, minutes);
        return QByteArray(name) + ':' + dateTimeValue(date, minutes) + 'Z';
    };

    QList<int> excluded;
    QList<int> moved;
    if (rule.pattern == Pattern::Weekdays) {
        for (int i = 1; i < dates.size(); ++i) {
            if (isPublicHoliday(dates[i]))
                excluded.append(i);
        }
    }
    // Never the first instance: it is DTSTART, which some readers do not expect to see excluded.
    if (dates.size() > 3 && rng.percent(30)) {
        for (int n = rng.between(1, 3); n > 0; --n) {
            const int i = rng.between(1, int(dates.size()) - 1);
            if (!excluded.contains(i))
                excluded.append(i);
        }
    }
    if (!allDay && dates.size() > 3 && rng.percent(25)) {
        for (int n = rng.between(1, 2); n > 0; --n) {
            const int i = rng.between(1, int(dates.size()) - 1);
            if (!excluded.contains(i) && !moved.contains(i))
                moved.append(i);
        }
    }
    std::sort(excluded.begin(), excluded.end());
    std::sort(moved.begin(), moved.end());

    beginCalendar(run, !allDay && run.options.withTimeZones);
    ContentLineWriter& w = run.writer;
    const QByteArray uid = uuid(rng);
    w.add("BEGIN:VEVENT");
    w.add("UID:" + uid);
    w.add("DTSTAMP:" + run.stamp);
    if (allDay) {
        w.add(dateProperty("DTSTART", dates.first()));
        w.add(dateProperty("DTEND", dates.first().addDays(1)));
    }
    else {
        w.add(instanceTime("DTSTART", dates.first(), ruleMinutes));
        w.add(instanceTime("DTEND", dates.first(), ruleMinutes + slot.length));
    }
    w.add("RRULE:" + ruleText(rule) + (openEnded ? QByteArray() : ';' + end));
    for (int i : excluded)
        w.add(allDay ? dateProperty("EXDATE", dates[i]) : instanceTime("EXDATE", dates[i], ruleMinutes));
    addDescription(w, slot.event);
    w.add("END:VEVENT");

    for (int i : moved) {
        constexpr int shifts[] = {-60, 30, 60, 120};
        const int start = ruleMinutes + pick(rng, shifts);
        Event changed = slot.event;
        if (rng.percent(50))
            changed.summary += QStringLiteral(" (moved)");
        w.add("BEGIN:VEVENT");
        w.add("UID:" + uid);
        w.add("DTSTAMP:" + run.stamp);
        w.add(instanceTime("RECURRENCE-ID", dates[i], ruleMinutes));
        w.add(instanceTime("DTSTART", dates[i], start));
        w.add(instanceTime("DTEND", dates[i], start + slot.length));
        w.add("SEQUENCE:1");
        addDescription(w, changed);
        w.add("END:VEVENT");
    }
    w.add("END:VCALENDAR");
    return writeFile(run, folder + u'/' + QString::fromLatin1(uid) + QStringLiteral(".ics"));
}

// A slot is filled over the whole history by a chain of series, each replacing the last after a short gap,
// so that the density of occurrences is the same in every period; the last one usually stays open-ended.
bool writeSlot(Run& run, const QString& folder, int slotIndex, const Person& person, const Team& team,
               const QList<Person>& people, RandomSequence& rng)
{
    const Pattern pattern =
        slotIndex == 0 ? Pattern::Weekdays : kSlotPatterns[(slotIndex - 1) % int(std::size(kSlotPatterns))];
    const QDate lastDay = run.options.lastDay;
    QDate from = run.options.firstDay;
    while (from <= lastDay) {
        const Rule rule = makeRule(pattern, rng);
        Slot slot;
        slot.event = seriesEvent(pattern, person, team, people, rng, slot.start, slot.length);
        if (pattern == Pattern::Weekdays) {
            slot.start = 9 * 60 + 15 * (person.team % 3);
            slot.length = 15;
        }
        const QDate start = firstInstanceFrom(rule, from);
        if (start > lastDay)
            break;
        const QDate plannedEnd = pattern == Pattern::Weekdays ? lastDay : start.addDays(rng.between(90, 540));
        const bool lastInChain = plannedEnd >= lastDay;
        const QList<QDate> dates = instanceDates(rule, start, std::min(plannedEnd, lastDay));
        Q_ASSERT(!dates.isEmpty()); // start is an instance
        bool openEnded = false;
        QByteArray end;
        if (lastInChain && (pattern == Pattern::Weekdays || rng.below(3) != 0))
            openEnded = true;
        else if (!lastInChain && rng.percent(50))
            end = "COUNT=" + QByteArray::number(dates.size());
        else if (isAllDay(pattern))
            end = "UNTIL=" + dateValue(dates.last());
        else // a date-time UNTIL must be in UTC; the end of its day leaves no doubt which instance is last
            end = "UNTIL=" + dateValue(dates.last()) + "T235959Z";
        if (!writeSeries(run, folder, rule, slot, dates, end, openEnded, rng))
            return false;
        from = dates.last().addDays(rng.between(1, 15));
    }
    return true;
}

Event singleEvent(const Person& person, const Team& team, const QList<Person>& people, RandomSequence& rng)
{
    Event event;
    const int kind = rng.below(100);
    if (kind < 8) {
        event.summary = text(pick(rng, kPrivateSubjects));
        event.sensitivity = "PRIVATE";
    }
    else if (kind < 10) {
        event.summary = text(pick(rng, kConfidentialSubjects));
        event.sensitivity = "CONFIDENTIAL";
    }
    else if (kind < 35) {
        constexpr const char* forms[] = {"Call with %1", "Demo for %1", "Visit at %1",
                                         "Contract renewal: %1"};
        event.summary = text(pick(rng, forms)).arg(text(pick(rng, kCompanies)));
        event.categories = {QStringLiteral("Customer")};
        if (event.summary.startsWith(u"Visit"_s))
            event.location = text(pick(rng, kCities));
    }
    else if (kind < 45) {
        const Person& other = people[team.members[rng.below(int(team.members.size()))]];
        event.summary = (rng.percent(50) ? QStringLiteral("Lunch with ") : QStringLiteral("Coffee with ")) +
                        (other.email == person.email ? text(pick(rng, kGivenNames)) : other.given);
    }
    else {
        constexpr const char* forms[] = {"Review: %1", "Sync on %1", "Workshop: %1", "Prepare %1",
                                         "Planning: %1"};
        event.summary = text(pick(rng, forms)).arg(text(pick(rng, kTopics)));
        if (rng.percent(30))
            event.categories = {QStringLiteral("Internal")};
    }
    if (rng.percent(15))
        event.description =
            QStringLiteral("Agenda:\n- %1\n- open points, next steps").arg(text(pick(rng, kTopics)));
    return event;
}

bool writeSingle(Run& run, const QString& folder, QDate day, const Person& person, const Team& team,
                 const QList<Person>& people, RandomSequence& rng)
{
    const int kind = rng.below(1000);
    Event event;
    const QByteArray uid = uuid(rng);
    QByteArray start;
    QByteArray end;
    bool usesTimeZone = false;
    if (kind < 60) { // one whole day
        constexpr const char* subjects[] = {"Training: %1", "Day off", "Conference day", "Workshop at %1"};
        constexpr const char* categories[] = {"Training", "Holiday", "Training", "Customer"};
        const int which = rng.below(4);
        event.summary = text(subjects[which]);
        if (which == 0)
            event.summary = event.summary.arg(text(pick(rng, kTopics)));
        else if (which == 3)
            event.summary = event.summary.arg(text(pick(rng, kCompanies)));
        event.categories = {text(categories[which])};
        start = dateProperty("DTSTART", day);
        end = dateProperty("DTEND", day.addDays(1));
    }
    else if (kind < 80) { // several whole days
        constexpr const char* subjects[] = {"Holiday", "Training: %1", "Sick leave"};
        constexpr const char* categories[] = {"Holiday", "Training", "Sick leave"};
        const int which = rng.below(3);
        event.summary =
            which == 1 ? text(subjects[which]).arg(text(pick(rng, kTopics))) : text(subjects[which]);
        event.categories = {text(categories[which])};
        event.transparent = which == 0;
        start = dateProperty("DTSTART", day);
        end = dateProperty("DTEND", day.addDays(rng.between(2, 5)));
    }
    else if (kind < 90) { // a trip over several days
        const QString city = text(pick(rng, kCities));
        event.summary =
            (rng.percent(50) ? QStringLiteral("Trip to ") : QStringLiteral("Conference in ")) + city;
        event.categories = {QStringLiteral("Travel")};
        event.location = city;
        start = localTime(run, "DTSTART", day, rng.between(28, 40) * 15);
        end = localTime(run, "DTEND", day.addDays(rng.between(1, 2)), rng.between(64, 80) * 15);
        usesTimeZone = run.options.withTimeZones;
    }
    else {
        event = singleEvent(person, team, people, rng);
        constexpr int lengths[] = {15, 30, 30, 45, 60, 60, 60, 90, 120};
        const int from = rng.between(8 * 4, 17 * 4 + 2) * 15;
        start = localTime(run, "DTSTART", day, from);
        end = localTime(run, "DTEND", day, from + pick(rng, lengths));
        usesTimeZone = run.options.withTimeZones;
    }

    beginCalendar(run, usesTimeZone);
    ContentLineWriter& w = run.writer;
    w.add("BEGIN:VEVENT");
    w.add("UID:" + uid);
    w.add("DTSTAMP:" + run.stamp);
    w.add(start);
    w.add(end);
    addDescription(w, event);
    w.add("END:VEVENT");
    w.add("END:VCALENDAR");
    return writeFile(run, folder + u'/' + QString::fromLatin1(uid) + QStringLiteral(".ics"));
}

bool writeCalendar(Run& run, int index, const QList<Person>& people, const QList<Team>& teams)
{
    const Person& person = people[index];
    const Team& team = teams[person.team];
    const QString folder = run.root + QStringLiteral("/calendars/") + person.email;
    if (!makeFolder(run, folder))
        return false;
    // Each person draws from a stream of their own, so that their calendar does not depend on the others'.
    RandomSequence rng(RandomSequence::derive(run.options.seed, quint64(index) + 1));
    for (int slot = 0; slot < run.options.seriesPerPerson; ++slot) {
        if (!writeSlot(run, folder, slot, person, team, people, rng))
            return false;
    }
    const int most = 2 * run.options.singlesPerWorkday;
    for (QDate day = run.options.firstDay; day <= run.options.lastDay; day = day.addDays(1)) {
        if (day.dayOfWeek() > 5)
            continue;
        for (int n = rng.between(0, most); n > 0; --n) {
            if (!writeSingle(run, folder, day, person, team, people, rng))
                return false;
        }
    }
    return true;
}

} // namespace

MailboxGeneratorResult generateMailbox(const QString& root, const MailboxGeneratorOptions& options)
{
    Run run;
    run.options = options;
    const QDate today = QDate::currentDate();
    if (!run.options.firstDay.isValid())
        run.options.firstDay = today.addYears(-2);
    if (!run.options.lastDay.isValid())
        run.options.lastDay = today.addYears(1);
    run.root = QFileInfo(root).absoluteFilePath();
    run.result.root = run.root;
    run.stamp = dateTimeValue(run.options.firstDay, 8 * 60) + 'Z';
    if (run.options.people < 1 || run.options.lastDay < run.options.firstDay) {
        run.result.error = QStringLiteral("Nothing to generate: at least one person and a first day no later "
                                          "than the last day are needed");
        return run.result;
    }

    RandomSequence rng(RandomSequence::derive(options.seed, 0));
    QList<Person> people = makePeople(run.options.people, rng);
    const QList<Team> teams = makeTeams(people, rng);
    if (!writeContacts(run, people, teams, rng))
        return run.result;
    for (int i = 0; i < people.size(); ++i) {
        if (!writeCalendar(run, i, people, teams))
            return run.result;
        ++run.result.people;
    }
    return run.result;
}
