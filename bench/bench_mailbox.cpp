// Measures reading the calendars of a big folder mailbox the way the member query does, beside a bare libical
// loop over the same files (the floor no reader can beat).
//
//   bench-mailbox [--people N] [--dir DIR] [--repeat N] [--dump FILE]
//
// At the end it runs itself again (--child-scan) as the next process would: once reading the calendar cache
// the first process left, once with the cache switched off, each reporting its time and peak memory.
//
// The mailbox is generated once into DIR (by default under the cache folder) and reused by later runs. The
// warm figures, which take milliseconds, are the best of --repeat runs (5 by default): on a shared machine a
// single run mostly measures the neighbours. --dump writes what the query put into the grid and the matrix
// under several display flags, to compare the output of two builds.

#include "base/datetext.h"
#include "base/languagetexts.h"
#include "base/localtimezone.h"
#include "base/programpaths.h"
#include "base/programstate.h"
#include "base/settingsstore.h"
#include "bench/benchsupport.h"
#include "bench/mailboxgenerator.h"
#include "mailbox/calendarcache.h"
#include "mailbox/foldermailbox.h"
#include "mailbox/itemcollection.h"
#include "planning/colourrules.h"
#include "planning/enginestate.h"
#include "planning/memberquery.h"
#include "planning/memberrow.h"
#include "planning/planninggrid.h"
#include "planning/planningmatrix.h"
#include "planning/querycontext.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <libical/ical.h>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

const QDate kFirstDay(2026, 9, 1);
const QDate kLastDay = kFirstDay.addDays(186); // 187 days

// The floor: parse each file with libical and expand its events into the window, zones shared by name.
qint64 bareLibicalScan(const QString& calendars, qint64 windowStart, qint64 windowEnd)
{
    icalerror_set_errors_are_fatal(0);
    QHash<QByteArray, icaltimezone*> zones;
    auto zoneOf = [&](icalproperty* property) -> icaltimezone* {
        icalparameter* tzid = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
        if (!tzid)
            return nullptr;
        const QByteArray name = icalparameter_get_tzid(tzid);
        auto it = zones.find(name);
        if (it == zones.end())
            it = zones.insert(name, icaltimezone_get_builtin_timezone(name.constData()));
        return it.value();
    };
    auto timeOf = [&](icalproperty* property) {
        icaltimetype time = icalvalue_get_datetime(icalproperty_get_value(property));
        if (!time.is_date && !icaltime_is_utc(time))
            time.zone = zoneOf(property);
        return time;
    };
    auto utc = [](const icaltimetype& time) {
        return time.zone ? qint64(icaltime_as_timet_with_zone(time, time.zone))
                         : QDateTime(QDate(time.year, time.month, time.day),
                                     QTime(time.hour, time.minute, time.second))
                               .toSecsSinceEpoch();
    };

    qint64 occurrences = 0;
    QDirIterator files(calendars, {QStringLiteral("*.ics")}, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        icalcomponent* calendar = icalparser_parse_string(file.readAll().constData());
        if (!calendar)
            continue;
        // Instances that are excluded or replaced by an instance of their own.
        QSet<qint64> skipped;
        for (icalcompiter it = icalcomponent_begin_component(calendar, ICAL_VEVENT_COMPONENT);
             icalcompiter_deref(&it); icalcompiter_next(&it)) {
            icalcomponent* event = icalcompiter_deref(&it);
            if (icalproperty* id = icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY))
                skipped.insert(utc(timeOf(id)));
            for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_EXDATE_PROPERTY); p;
                 p = icalcomponent_get_next_property(event, ICAL_EXDATE_PROPERTY))
                skipped.insert(utc(timeOf(p)));
        }
        for (icalcompiter it = icalcomponent_begin_component(calendar, ICAL_VEVENT_COMPONENT);
             icalcompiter_deref(&it); icalcompiter_next(&it)) {
            icalcomponent* event = icalcompiter_deref(&it);
            icalproperty* start = icalcomponent_get_first_property(event, ICAL_DTSTART_PROPERTY);
            if (!start)
                continue;
            const icaltimetype first = timeOf(start);
            qint64 length = 0;
            if (icalproperty* end = icalcomponent_get_first_property(event, ICAL_DTEND_PROPERTY))
                length = utc(timeOf(end)) - utc(first);
            else if (icalproperty* duration = icalcomponent_get_first_property(event, ICAL_DURATION_PROPERTY))
                length = icaldurationtype_as_int(icalproperty_get_duration(duration));
            icalproperty* rule = icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY);
            if (!rule || icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY)) {
                const qint64 s = utc(first);
                occurrences += s <= windowEnd && s + length >= windowStart;
                continue;
            }
            const icalrecurrencetype recurrence = icalproperty_get_rrule(rule);
            icalrecur_iterator* iterator = icalrecur_iterator_new(recurrence, first);
            if (recurrence.count == 0 && recurrence.interval <= 1 && windowStart - 2 * 86400 > utc(first)) {
                icaltimetype jump =
                    icaltime_from_timet_with_zone(time_t(windowStart - length - 2 * 86400), first.is_date,
                                                  first.zone ? first.zone : icaltimezone_get_utc_timezone());
                jump.zone = first.zone;
                icalrecur_iterator_set_start(iterator, jump);
            }
            for (icaltimetype next = icalrecur_iterator_next(iterator); !icaltime_is_null_time(next);
                 next = icalrecur_iterator_next(iterator)) {
                next.zone = first.zone;
                const qint64 s = utc(next);
                if (s > windowEnd)
                    break;
                occurrences += s + length >= windowStart && !skipped.contains(s);
            }
            icalrecur_iterator_free(iterator);
        }
        icalcomponent_free(calendar);
    }
    return occurrences;
}

struct ScanResult {
    qint64 occurrences = 0;
    qint64 errors = 0;
};

// Every member's calendar, item by item, as the member query reads it.
ScanResult memberScan(FolderMailbox& mailbox, const QStringList& members)
{
    ScanResult result;
    const QString restriction = MemberQuery::restrictionText(QDateTime(kFirstDay, QTime(0, 0)),
                                                             QDateTime(kLastDay.addDays(1), QTime(0, 0)));
    for (const QString& member : members) {
        Recipient recipient = mailbox.createRecipient(member);
        if (!recipient.resolve())
            continue;
        ItemCollection items = mailbox.sharedDefaultFolder(recipient, Mailbox::kCalendarFolder)->items();
        items.sort(QStringLiteral("[Start]"));
        items.includeRecurrences = true;
        std::shared_ptr<MailboxItem> item;
        try {
            item = items.find(restriction);
        }
        catch (const MailboxError&) {
            ++result.errors;
        }
        for (;;) {
            if (item)
                ++result.occurrences;
            try {
                if (!(item = items.findNext()))
                    break;
            }
            catch (const MailboxError&) {
                ++result.errors;
            }
        }
    }
    return result;
}

// The member query's own walk over every calendar (resolve, find, yield once per item) without placing
// anything: the part of the query that is not the grid and matrix.
qint64 queryWalk(const QueryContext& context, const QStringList& members)
{
    const QString restriction = MemberQuery::restrictionText(QDateTime(kFirstDay, QTime(0, 0)),
                                                             QDateTime(kLastDay.addDays(1), QTime(0, 0)));
    qint64 items = 0;
    for (const QString& member : members) {
        Recipient recipient = context.mailbox.createRecipient(member);
        if (!recipient.resolve())
            continue;
        walkMemberCalendar(context, recipient, member, restriction, [&](const MailboxItem&) {
            context.breathe();
            ++items;
            return true;
        });
    }
    return items;
}

template <typename Run>
double timed(Run run)
{
    QElapsedTimer timer;
    timer.start();
    run();
    return timer.nsecsElapsed() / 1e6;
}

// The display flags a query runs with, named by words: details, times, private (hidden), filters,
// filtered (only).
struct Flags {
    QString words;

    void applyTo(EngineState& engine) const
    {
        const QStringList set = words.split(u' ');
        engine.showDetails = set.contains(u"details"_s);
        engine.showTimes = set.contains(u"times"_s);
        engine.hidePrivate = set.contains(u"private"_s);
        engine.useFilters = set.contains(u"filters"_s);
        engine.filteredOnly = set.contains(u"filtered"_s);
    }
};

// Rules on the generated subjects and categories, at priorities that make later appointments recolour
// cells, one keyword list with blanks around a keyword.
QList<FilterListEntry> addBenchRules(SettingsStore& settings, const LanguageTexts& texts);

// The settings the queries read, in a folder of their own, with the English texts and the bench's rules.
struct BenchSettings {
    QTemporaryDir folder;
    SettingsStore settings{folder.filePath(QStringLiteral("Rotavine.ini"))};
    const LanguageTexts texts =
        LanguageTexts::load(QStringLiteral(ROTAVINE_SOURCE_DATA "/Language"), QStringLiteral("English"));
    const QList<FilterListEntry> filters = addBenchRules(settings, texts);
};

QList<FilterListEntry> addBenchRules(SettingsStore& settings, const LanguageTexts& texts)
{
    struct Rule {
        QString name;
        int type; // message text 1: categories, 2: subject
        QString keywords;
        qint64 colour;
        int priority;
    };
    const Rule rules[] = {{u"Training"_s, 2, u"training;workshop;"_s, 0x00A5FF, 1},
                          {u"Absences"_s, 2, u"holiday;SICK;day off;"_s, 0x0000FF, 2},
                          {u"Customers"_s, 1, u"customer;"_s, 0x00FF00, 3},
                          {u"Reviews"_s, 2, u"review;figures;"_s, 0xFF0000, 4},
                          {u"Travel"_s, 1, u" travel ;remote;"_s, 0xFF00FF, 5}};
    QList<FilterListEntry> filters;
    for (const Rule& rule : rules) {
        settings.write(u"Filters"_s, rule.name, QString());
        settings.write(rule.name, u"Type"_s, texts.message(rule.type));
        settings.write(rule.name, u"Txt"_s, rule.keywords);
        settings.write(rule.name, u"Color"_s, QString::number(rule.colour));
        settings.write(rule.name, u"ColorHtml"_s, oleColourToHtml(rule.colour));
        settings.write(rule.name, u"Prior"_s, QString::number(rule.priority));
        filters.append({rule.name, true});
    }
    return filters;
}

// One window's query state: what the member query reads and writes, and what it remembers between queries.
struct QueryWindow {
    QueryWindow(Mailbox& mailbox, const SettingsStore& settings, const LanguageTexts& texts,
                const QList<FilterListEntry>& filters, const QStringList& members, const Flags& flags)
        : members(members), context{engine, program, matrix, grid, texts, mailbox, rules, settings, filters}
    {
        context.yield = queryEventPump();
        context.memory = &memory;
        flags.applyTo(engine);
    }

    void query() { MemberQuery::run(context, kFirstDay, kLastDay, members, false); }
    // The next query is the first of a new view: its day columns are laid out again and nothing of the
    // earlier queries is reused.
    void forget()
    {
        memory = QueryMemory();
        engine.headersValid = false;
    }

    const QStringList members;
    EngineState engine;
    ProgramState program;
    PlanningMatrix matrix;
    PlanningGrid grid;
    ColourRules rules;
    QueryMemory memory;
    QueryContext context;
};

// Everything the queries wrote, under several flag sets, one line per cell: to compare two builds' output.
// Each set is queried as a new view and then refreshed, and the refresh is written.
bool dumpQueries(const QString& path, QueryWindow& window)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "bench: cannot write %s: %s\n", qPrintable(path),
                     qPrintable(file.errorString()));
        return false;
    }
    const QString flagSets[] = {u"details times"_s, u"details private filters"_s,
                                u"details times filters filtered"_s, u"filters"_s, u"details"_s};
    const auto visible = [](QString text) { return text.replace(u'\r', u"\\r"_s); };
    const PlanningGrid& grid = window.grid;
    for (const QString& flags : flagSets) {
        Flags{flags}.applyTo(window.engine);
        window.engine.headersValid = false;
        window.query();
        window.query();
        file.write("# " + flags.toUtf8() + '\n');
        file.write(QStringLiteral("current cell %1 %2\n").arg(grid.row()).arg(grid.column()).toUtf8());
        for (int row = 0; row < grid.rows(); ++row) {
            for (int column = 0; column < grid.columns(); ++column) {
                const PlanningCell& cell = window.matrix.cell(row, column);
                const QStringList fields{QString::number(row),
                                         QString::number(column),
                                         visible(grid.text(row, column)),
                                         QString::number(grid.backColour(row, column)),
                                         QString::number(int(grid.alignment(row, column))),
                                         cell.html,
                                         cell.gridColour,
                                         cell.htmlColour,
                                         cell.ruleRank};
                file.write(fields.join(u'\t').toUtf8() + '\n');
            }
        }
    }
    return file.flush();
}

// Not getrusage(): Linux carries ru_maxrss over an exec, so a child would report its parent's peak.
double peakResidentMiB()
{
    return memoryFigures().peakMiB;
}

// The next process: one scan of every member's calendar, what the cache holds used unless switched off.
// Prints "child <ms> <occurrences> <peak MiB>" for the first process to read.
int childScan(const BenchOptions& options)
{
    const QString root = prepareBenchMailbox(options);
    if (root.isEmpty())
        return 1;
    const QStringList members = benchMembers(root);
    FolderMailbox::Options mailboxOptions;
    mailboxOptions.root = root;
    FolderMailbox mailbox(mailboxOptions);
    QElapsedTimer timer;
    timer.start();
    const ScanResult scan = memberScan(mailbox, members);
    const double ms = timer.nsecsElapsed() / 1e6;
    std::printf("child %.3f %lld %.1f\n", ms, static_cast<long long>(scan.occurrences), peakResidentMiB());
    std::fflush(stdout);
    if (options.dump.isEmpty())
        return 0;
    const BenchSettings bench;
    QueryWindow window(mailbox, bench.settings, bench.texts, bench.filters, members,
                       Flags{u"details times"_s});
    return dumpQueries(options.dump, window) ? 0 : 1;
}

struct ChildFigures {
    double ms = -1;
    qint64 occurrences = -1;
    double peakMiB = 0;
};

ChildFigures runChild(const QStringList& arguments, bool cache, const QString& dump)
{
    QStringList childArguments = arguments.mid(1);
    for (qsizetype i = childArguments.indexOf(u"--dump"_s); i >= 0; i = childArguments.indexOf(u"--dump"_s))
        childArguments.remove(i, std::min<qsizetype>(2, childArguments.size() - i));
    childArguments << u"--child-scan"_s;
    if (!dump.isEmpty())
        childArguments << u"--dump"_s << dump;
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (cache)
        environment.remove(u"ROTAVINE_NO_CACHE"_s);
    else
        environment.insert(u"ROTAVINE_NO_CACHE"_s, u"1"_s);
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), childArguments);
    ChildFigures figures;
    if (!child.waitForFinished(-1) || child.exitCode() != 0) {
        std::fprintf(stderr, "bench: the second process failed\n");
        return figures;
    }
    for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 4 && fields[0] == "child") {
            figures.ms = fields[1].toDouble();
            figures.occurrences = fields[2].toLongLong();
            figures.peakMiB = fields[3].toDouble();
        }
    }
    return figures;
}

} // namespace

int main(int argc, char* argv[])
{
    LocalTimeZone::pinSystemZone();
    QCoreApplication application(argc, argv);
    QStringList arguments = application.arguments();
    const bool child = arguments.removeAll(u"--child-scan"_s) > 0;
    const BenchOptions options = BenchOptions::parse(arguments);
    if (child)
        return childScan(options);
    const QString root = prepareBenchMailbox(options);
    if (root.isEmpty())
        return 1;
    const QStringList members = benchMembers(root);
    // The cold scan is cold for the cache on disk too.
    for (const QFileInfo& folder :
         QDir(root + u"/calendars"_s).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (const CalendarCache cache(folder.filePath()); cache.enabled())
            QFile::remove(cache.path());
    }

    const qint64 windowStart = QDateTime(kFirstDay, QTime(0, 0)).toSecsSinceEpoch();
    const qint64 windowEnd = QDateTime(kLastDay.addDays(1), QTime(0, 0)).toSecsSinceEpoch();
    std::printf("mailbox: %s, %lld people, window %s .. %s (187 days)\n", qPrintable(root),
                static_cast<long long>(members.size()), qPrintable(kFirstDay.toString(Qt::ISODate)),
                qPrintable(kLastDay.toString(Qt::ISODate)));

    // Once to bring the files into the page cache, so that every figure below reads from memory.
    bareLibicalScan(root + QStringLiteral("/calendars"), windowStart, windowEnd);
    QElapsedTimer timer;
    timer.start();
    const qint64 floorCount = bareLibicalScan(root + QStringLiteral("/calendars"), windowStart, windowEnd);
    const double floorMs = timer.nsecsElapsed() / 1e6;
    printFigure("a. bare libical parse and expand (floor)", floorMs, floorCount);

    FolderMailbox::Options mailboxOptions;
    mailboxOptions.root = root;
    FolderMailbox mailbox(mailboxOptions);
    timer.restart();
    const ScanResult cold = memberScan(mailbox, members);
    const double coldMs = timer.nsecsElapsed() / 1e6;
    printFigure("b. cold scan, all members", coldMs, cold.occurrences);
    const MemoryFigures afterCold = memoryFigures();

    // The member query over the same calendars, warm, into the grid and the matrix, in three windows: one
    // refreshing its view (what a refresh costs), one with colour rules in use refreshing its own, and one
    // whose every query is the first of a new view, with nothing remembered.
    const BenchSettings bench;
    const SettingsStore& settings = bench.settings;
    const LanguageTexts& texts = bench.texts;
    const QList<FilterListEntry>& filters = bench.filters;
    QueryWindow refreshing(mailbox, settings, texts, filters, members, Flags{u"details times"_s});
    QueryWindow coloured(mailbox, settings, texts, filters, members, Flags{u"details times filters"_s});
    QueryWindow firstOfView(mailbox, settings, texts, filters, members, Flags{u"details times"_s});
    refreshing.query();
    coloured.query();

    // Interleaved, so that a busy spell on the machine weighs on every figure alike.
    ScanResult warm;
    qint64 walked = 0;
    double warmMs = 0, queryMs = 0, walkMs = 0, colouredMs = 0, firstMs = 0;
    for (int round = 0; round < options.repeat; ++round) {
        const auto best = [round](double& figure, double ms) { figure = round ? std::min(figure, ms) : ms; };
        best(warmMs, timed([&] { warm = memberScan(mailbox, members); }));
        firstOfView.forget();
        best(firstMs, timed([&] { firstOfView.query(); }));
        best(colouredMs, timed([&] { coloured.query(); }));
        best(walkMs, timed([&] { walked = queryWalk(refreshing.context, members); }));
        best(queryMs, timed([&] { refreshing.query(); }));
    }
    const MemoryFigures afterQueries = memoryFigures();
    qint64 filledCells = 0;
    qint64 placed = 0; // appointments in day cells, one per appointment and day
    for (int row = 4; row < refreshing.grid.rows(); ++row) {
        for (int column = 1; column < refreshing.grid.columns(); ++column) {
            const QString& html = refreshing.matrix.cell(row, column).html;
            if (!PlanningMatrix::isEmptyHtml(html)) {
                ++filledCells;
                placed += 1 + html.count(u"<br>------------<br>"_s);
            }
        }
    }
    // What a view on the grid would be told: it redraws, and lays out its scroll bars, for each.
    qint64 announcements = 0;
    const QMetaObject::Connection counting =
        QObject::connect(&refreshing.grid, &PlanningGrid::changed, [&announcements] { ++announcements; });
    refreshing.query();
    QObject::disconnect(counting);
    printFigure("c. warm re-scan, nothing changed", warmMs, warm.occurrences);
    std::printf("%-45s %10.1f ms  %8lld filled day cells, %lld appointment-days, %lld grid announcements\n",
                "e. member query, refresh, into grid and matrix", queryMs,
                static_cast<long long>(filledCells), static_cast<long long>(placed),
                static_cast<long long>(announcements));
    // What the query pays before it places anything.
    printFigure("   the query's walk alone (no placement)", walkMs, walked);
    std::printf("%-45s %10.1f ms\n", "   first query of a view, nothing remembered", firstMs);
    std::printf("%-45s %10.1f ms\n", "f. refresh with five colour rules", colouredMs);
    std::fflush(stdout);

    if (!options.dump.isEmpty() && !dumpQueries(options.dump, firstOfView))
        return 1;

    // The next process, after this one left the cache in step with the folder.
    const QString secondDump = options.dump.isEmpty() ? QString() : options.dump + u".second"_s;
    const ChildFigures second = runChild(arguments, true, secondDump);
    const ChildFigures secondUncached = runChild(arguments, false, QString());
    printFigure("h. second process, nothing changed", second.ms, second.occurrences);
    printFigure("   second process, cache switched off", secondUncached.ms, secondUncached.occurrences);
    if (!secondDump.isEmpty()) {
        QFile first(options.dump), later(secondDump);
        const bool same = first.open(QIODevice::ReadOnly) && later.open(QIODevice::ReadOnly) &&
                          first.readAll() == later.readAll();
        std::printf("second process's dump (%s): %s\n", qPrintable(secondDump),
                    same ? "identical" : "DIFFERENT");
    }

    const QString changed = touchOneCalendarFile(root);
    timer.restart();
    const ScanResult afterChange = memberScan(mailbox, members);
    const double changedMs = timer.nsecsElapsed() / 1e6;
    printFigure("d. re-scan after one file changed", changedMs, afterChange.occurrences);
    touchOneCalendarFile(root);
    const double changedQueryMs = timed([&] { refreshing.query(); });
    std::printf("%-45s %10.1f ms\n", "g. refresh after one file changed", changedQueryMs);

    std::printf("\ncold / floor: %.2f (target <= 1.5)\ncold / warm: %.1f (target >= 10)\n"
                "cold / one-file-changed: %.1f (target >= 10)\n"
                "member query (refresh) / warm scan: %.2f (target <= 1.2)\n"
                "first query of a view / warm scan: %.2f\n",
                coldMs / floorMs, coldMs / warmMs, coldMs / changedMs, queryMs / warmMs, firstMs / warmMs);
    std::printf("second process / floor: %.3f (target <= 0.1)\n", second.ms / floorMs);
    std::printf("peak resident memory: this process %.0f MiB; second process %.0f MiB with the cache, "
                "%.0f MiB without\n",
                peakResidentMiB(), second.peakMiB, secondUncached.peakMiB);
    std::printf("memory: resident %.0f MiB after the cold scan, %.0f MiB after the queries, peak %.0f MiB\n",
                afterCold.residentMiB, afterQueries.residentMiB, afterQueries.peakMiB);
    std::printf("item errors: %lld; changed file: %s\n", static_cast<long long>(cold.errors),
                qPrintable(changed));
    return cold.occurrences == floorCount && warm.occurrences == cold.occurrences &&
                   second.occurrences == afterChange.occurrences &&
                   secondUncached.occurrences == afterChange.occurrences
               ? 0
               : 2;
}
