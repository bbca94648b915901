#include "mailbox/icalendarfile.h"

#include <QDataStream>
#include <QElapsedTimer>
#include <QHash>
#include <QIODevice>
#include <QSet>
#include <QTimeZone>
#include <QtEndian>

#include <libical/ical.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <optional>
#include <tuple>
#include <unordered_set>

namespace {

// A series may hold at most this many instances before the window's end; rules that would give more (a
// FREQ=SECONDLY rule from years ago) stop there rather than hold the query up.
constexpr int kMaxInstancesPerSeries = 100000;
// Nor may it take longer than this to expand: the window waits for it.
constexpr qint64 kMaxMillisecondsPerSeries = 500;
// With no end to the window, open-ended series are expanded this far past its start.
constexpr qint64 kOpenWindowSeconds = 2LL * 366 * 24 * 3600;

struct ComponentDeleter {
    void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};
using ComponentPtr = std::unique_ptr<icalcomponent, ComponentDeleter>;

QString text(const char* value)
{
    return value ? QString::fromUtf8(value) : QString();
}

// Subjects and categories repeat across a calendar's files (every "Holiday", every "Customer"): each text is
// kept once and shared by the events that carry it. That saves memory, and the queries, which keep what they
// worked out about a text by where its characters are, then meet each text once rather than once per file.
// The table only ever holds a bounded number of texts; when full it starts again.
QString shared(QString value)
{
    constexpr qsizetype kMaxShared = 4096;
    thread_local QSet<QString> known;
    if (value.isEmpty())
        return value;
    if (const auto found = known.constFind(value); found != known.constEnd())
        return *found;
    if (known.size() >= kMaxShared)
        known.clear();
    known.insert(value);
    return value;
}

// Zones shared by every file of the program, by TZID. Files are parsed on several threads at once: every
// way in takes the lock (a recursive one, since naming a zone looks it up again).
class ZoneCache {
public:
    static ZoneCache& instance()
    {
        static ZoneCache cache;
        return cache;
    }

    ~ZoneCache()
    {
        for (icaltimezone* zone : std::as_const(m_byDefinition))
            icaltimezone_free(zone, 1);
    }

    // The zone for a TZID; `calendar` is searched for a VTIMEZONE only when the TZID names no known zone.
    icaltimezone* zone(const QByteArray& tzid, icalcomponent* calendar)
    {
        const std::lock_guard lock(m_mutex);
        if (const auto it = m_byTzid.constFind(tzid); it != m_byTzid.cend())
            return it.value();
        icaltimezone* zone = builtIn(tzid);
        if (zone) {
            m_byTzid.insert(tzid, zone);
            return zone;
        }
        return fromCalendar(tzid, calendar);
    }

private:
    static icaltimezone* builtIn(const QByteArray& tzid)
    {
        const QByteArray name = tzid.trimmed();
        if (name.isEmpty())
            return nullptr;
        if (name.compare("UTC", Qt::CaseInsensitive) == 0 || name.compare("GMT", Qt::CaseInsensitive) == 0 ||
            name == "Z")
            return icaltimezone_get_utc_timezone();
        if (icaltimezone* zone = icaltimezone_get_builtin_timezone(name.constData()))
            return zone;
        // Prefixed names such as "/mozilla.org/20070129_1/Europe/Paris": try the last two and three parts.
        if (name.startsWith('/')) {
            const QList<QByteArray> parts = name.split('/');
            for (int keep : {2, 3}) {
                if (parts.size() > keep) {
                    const QByteArray location = parts.mid(parts.size() - keep).join('/');
                    if (icaltimezone* zone = icaltimezone_get_builtin_timezone(location.constData()))
                        return zone;
                }
            }
            if (icaltimezone* zone = icaltimezone_get_builtin_timezone_from_tzid(name.constData()))
                return zone;
        }
        // Windows zone names, as Exchange and Outlook write them.
        const QByteArray iana = QTimeZone::windowsIdToDefaultIanaId(name);
        if (!iana.isEmpty())
            return icaltimezone_get_builtin_timezone(iana.constData());
        return nullptr;
    }

    icaltimezone* fromCalendar(const QByteArray& tzid, icalcomponent* calendar)
    {
        if (!calendar)
            return nullptr;
        // An iterator of our own: the component's built-in one is in use by the caller's loop over events.
        for (icalcompiter it = icalcomponent_begin_component(calendar, ICAL_VTIMEZONE_COMPONENT);
             icalcompiter_deref(&it); icalcompiter_next(&it)) {
            icalcomponent* vtimezone = icalcompiter_deref(&it);
            icalproperty* id = icalcomponent_get_first_property(vtimezone, ICAL_TZID_PROPERTY);
            if (!id || tzid != icalproperty_get_tzid(id))
                continue;
            const QByteArray definition = icalcomponent_as_ical_string(vtimezone);
            const QByteArray key = tzid + '\n' + definition;
            if (const auto it = m_byDefinition.constFind(key); it != m_byDefinition.cend())
                return it.value();
            icaltimezone* zone = icaltimezone_new();
            if (!icaltimezone_set_component(zone, icalcomponent_new_clone(vtimezone))) {
                icaltimezone_free(zone, 1);
                return nullptr;
            }
            m_byDefinition.insert(key, zone); // kept for the program's life, like the built-in zones
            m_keyOf.insert(zone, key);
            return zone;
        }
        return nullptr;
    }

public:
    // How another process finds `zone` again: empty for none, "B" and a location for a zone of the system's
    // data (UTC included), "D" and the key of a file's own definition; nothing when it cannot be named.
    std::optional<QByteArray> nameOf(const icaltimezone* zone)
    {
        const std::lock_guard lock(m_mutex);
        if (!zone)
            return QByteArray();
        if (const auto it = m_keyOf.constFind(zone); it != m_keyOf.cend())
            return 'D' + it.value();
        auto* known = const_cast<icaltimezone*>(zone);
        const QByteArray location =
            known == icaltimezone_get_utc_timezone() ? QByteArray("UTC") : icaltimezone_get_location(known);
        // Only a name that leads back to this very zone will do.
        if (location.isEmpty() || this->zone(location, nullptr) != zone)
            return std::nullopt;
        return 'B' + location;
    }

    // The zone nameOf() named; a file's own definition is read once per process. Null when unknown, and
    // `ok` false.
    icaltimezone* byName(const QByteArray& name, bool* ok)
    {
        const std::lock_guard lock(m_mutex);
        *ok = true;
        if (name.isEmpty())
            return nullptr;
        const QByteArray rest = name.mid(1);
        icaltimezone* found = nullptr;
        if (name.front() == 'B') {
            found = zone(rest, nullptr);
        }
        else if (name.front() == 'D') {
            found = m_byDefinition.value(rest);
            const qsizetype split = rest.indexOf('\n');
            if (!found && split > 0) {
                ComponentPtr vtimezone(icalparser_parse_string(rest.mid(split + 1).constData()));
                if (vtimezone && icalcomponent_isa(vtimezone.get()) == ICAL_VTIMEZONE_COMPONENT) {
                    found = icaltimezone_new();
                    if (icaltimezone_set_component(found, vtimezone.get())) {
                        vtimezone.release(); // the zone owns it now
                        m_byDefinition.insert(rest, found);
                        m_keyOf.insert(found, rest);
                    }
                    else {
                        icaltimezone_free(found, 1);
                        found = nullptr;
                    }
                }
            }
        }
        *ok = found != nullptr;
        return found;
    }

private:
    std::recursive_mutex m_mutex;
    QHash<QByteArray, icaltimezone*> m_byTzid;
    QHash<QByteArray, icaltimezone*> m_byDefinition;
    QHash<const icaltimezone*, QByteArray> m_keyOf; // the file-local zones' keys in m_byDefinition
};

// A point in time as the file gives it: a date, a floating local time, or a time in a zone (UTC included).
struct Moment {
    icaltimetype time = icaltime_null_time();

    bool isNull() const { return icaltime_is_null_time(time); }
    bool isDate() const { return time.is_date; }

    QDate date() const { return QDate(time.year, time.month, time.day); }

    // Seconds since the epoch; dates and floating times are read in the local time zone.
    qint64 utc() const
    {
        if (time.is_date)
            return QDateTime(date(), QTime(0, 0)).toSecsSinceEpoch();
        if (time.zone) {
            const qint64 utc = qint64(icaltime_as_timet_with_zone(time, time.zone));
            // A wall time the zone skips (the hour the clocks go forward) is read with the offset from before
            // the change, which moves it forward by the gap, as RFC 5545 reads it.
            const icaltimetype back = icaltime_from_timet_with_zone(time_t(utc), 0, time.zone);
            if (back.hour == time.hour && back.minute == time.minute && back.day == time.day)
                return utc;
            icaltimetype before =
                icaltime_from_timet_with_zone(time_t(utc - 86400), 0, icaltimezone_get_utc_timezone());
            int daylight = 0;
            const int offset = icaltimezone_get_utc_offset_of_utc_time(const_cast<icaltimezone*>(time.zone),
                                                                       &before, &daylight);
            icaltimetype wall = time;
            wall.zone = nullptr;
            return qint64(icaltime_as_timet_with_zone(wall, icaltimezone_get_utc_timezone())) - offset;
        }
        return QDateTime(date(), QTime(time.hour, time.minute, time.second)).toSecsSinceEpoch();
    }

    // What identifies an instance of a series: the day for all-day series, the exact time otherwise.
    qint64 key(bool dateSeries) const { return dateSeries ? date().toJulianDay() : utc(); }
};

// The value of a date property with the zone of its TZID attached.
Moment momentOf(icalproperty* property, icalcomponent* calendar)
{
    Moment moment;
    if (!property)
        return moment;
    icalvalue* value = icalproperty_get_value(property);
    if (!value)
        return moment;
    const icalvalue_kind kind = icalvalue_isa(value);
    if (kind == ICAL_DATETIMEPERIOD_VALUE) {
        const icaldatetimeperiodtype period = icalvalue_get_datetimeperiod(value);
        moment.time = icaltime_is_null_time(period.time) ? period.period.start : period.time;
    }
    else if (kind == ICAL_DATE_VALUE || kind == ICAL_DATETIME_VALUE) {
        moment.time = icalvalue_get_datetime(value);
    }
    else if (kind == ICAL_PERIOD_VALUE) {
        moment.time = icalvalue_get_period(value).start;
    }
    else {
        return moment;
    }
    // A date the calendar does not have (30 February) is no date; the year 9999 that "open-ended" events
    // end in is one, though libical stops at 3000.
    const icaltimetype& t = moment.time;
    if (t.year < 1 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1 ||
        t.day > QDate(t.year, t.month, 1).daysInMonth() || t.hour < 0 || t.hour > 23 || t.minute < 0 ||
        t.minute > 59 || t.second < 0 || t.second > 60) {
        moment.time = icaltime_null_time();
        return moment;
    }
    if (!moment.time.is_date && !icaltime_is_utc(moment.time)) {
        icalparameter* tzid = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
        moment.time.zone =
            tzid ? ZoneCache::instance().zone(icalparameter_get_tzid(tzid), calendar) : nullptr;
    }
    return moment;
}

// What a property says as written, for messages.
QString written(icalproperty* property)
{
    return QString::fromUtf8(icalproperty_as_ical_string(property)).trimmed();
}

// `unreadable` receives the properties whose date is none.
QList<Moment> momentsOf(icalcomponent* event, icalproperty_kind kind, icalcomponent* calendar,
                        QStringList* unreadable)
{
    QList<Moment> moments;
    for (icalproperty* p = icalcomponent_get_first_property(event, kind); p;
         p = icalcomponent_get_next_property(event, kind)) {
        // A property may carry several values ("EXDATE:20261207T090000Z,20261214T090000Z"); libical splits
        // them into one property each while parsing.
        const Moment moment = momentOf(p, calendar);
        if (!moment.isNull())
            moments.append(moment);
        else
            unreadable->append(written(p));
    }
    return moments;
}

qint64 utcOf(icalproperty* property)
{
    if (!property)
        return 0;
    const icaltimetype time = icalvalue_get_datetime(icalproperty_get_value(property));
    return icaltime_is_null_time(time)
               ? 0
               : qint64(icaltime_as_timet_with_zone(time, icaltimezone_get_utc_timezone()));
}

int sensitivityOf(icalcomponent* event)
{
    icalproperty* property = icalcomponent_get_first_property(event, ICAL_CLASS_PROPERTY);
    if (!property)
        return MailboxItem::Normal;
    switch (icalproperty_get_class(property)) {
    case ICAL_CLASS_PUBLIC:
    case ICAL_CLASS_NONE:
        return MailboxItem::Normal;
    case ICAL_CLASS_CONFIDENTIAL:
        return MailboxItem::Confidential;
    default: // PRIVATE, and any value of another program's, is treated as private
        return MailboxItem::Private;
    }
}

QString categoriesOf(icalcomponent* event)
{
    QStringList categories;
    for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_CATEGORIES_PROPERTY); p;
         p = icalcomponent_get_next_property(event, ICAL_CATEGORIES_PROPERTY)) {
        const QString value = text(icalproperty_get_categories(p)).trimmed();
        if (!value.isEmpty())
            categories << value;
    }
    return categories.join(u';');
}

struct Event {
    QString uid;
    QString subject;
    QString body;
    QString categories;
    int sensitivity = 0;
    bool cancelled = false;

    Moment start;
    // Length of each instance: whole days for all-day events, seconds otherwise.
    qint64 length = 0;

    QList<QByteArray> rules; // RRULE texts (several are allowed, though deprecated); none for a single event
    // RDATE values: a start, and for a PERIOD value its own end.
    struct Extra {
        Moment start;
        Moment end;
    };
    QList<Extra> rdates;
    QList<Moment> exdates;
    Moment recurrenceId;        // set for an instance that overrides one of a series
    bool thisAndFuture = false; // RANGE=THISANDFUTURE: the override holds for the later instances too
    QStringList warnings;       // read, but not all of it can be shown

    // Which of several copies of one event (or one instance) in a file is the newest: SEQUENCE, then
    // LAST-MODIFIED, then DTSTAMP, then the later in the file.
    std::tuple<int, qint64, qint64, int> revision;

    bool allDay() const { return start.isDate(); }
    bool recurring() const { return !rules.isEmpty() || !rdates.isEmpty(); }
};

} // namespace

struct ICalendarFile::Data {
    std::vector<Event> events; // masters and single events
    std::vector<Event> overrides;
    QStringList problems;
};

namespace {

// libical drops a property it cannot read and leaves an X-LIC-ERROR in its place. Losing one of these would
// show the event at the wrong time or without its repetitions, so the event is refused instead.
QString timingError(icalcomponent* component)
{
    static const char* const kTimingProperties[] = {"DTSTART", "DTEND",  "DURATION",     "RRULE",
                                                    "RDATE",   "EXDATE", "RECURRENCE-ID"};
    for (icalproperty* p = icalcomponent_get_first_property(component, ICAL_XLICERROR_PROPERTY); p;
         p = icalcomponent_get_next_property(component, ICAL_XLICERROR_PROPERTY)) {
        const QByteArray message = icalproperty_get_xlicerror(p);
        for (const char* name : kTimingProperties) {
            if (message.contains(name))
                return QString::fromUtf8(message);
        }
    }
    return QString();
}

bool listed(const short* values, int size)
{
    return size > 0 && values[0] != ICAL_RECURRENCE_ARRAY_MAX;
}

bool holds(const short* values, int size, int value)
{
    for (int i = 0; i < size && values[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i) {
        if (values[i] == value)
            return true;
    }
    return false;
}

int listedCount(const short* values, int size)
{
    int count = 0;
    while (count < size && values[count] != ICAL_RECURRENCE_ARRAY_MAX)
        ++count;
    return count;
}

bool anyInRange(const short* values, int size, int lowest, int highest)
{
    if (!listed(values, size))
        return true;
    for (int i = 0; i < size && values[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i) {
        if (values[i] >= lowest && values[i] <= highest)
            return true;
    }
    return false;
}

// Whether some day from `first` to `last` passes the rule's limits on days: BYMONTH, BYMONTHDAY, BYYEARDAY,
// BYDAY (with its positions in the month or the year, as the frequency reads them) and, for yearly, monthly
// and daily rules, BYSETPOS. libical's iterator searches for such a day without end: its monthly and yearly
// rules step from period to period until one holds a day, and its shorter ones from second to second until
// the year 2582. A rule that can never match must therefore be recognised before it is iterated. What this
// does not read (BYWEEKNO, BYSETPOS of weekly and shorter rules) makes it answer yes.
bool someDayMatches(const icalrecurrencetype& rule, const QDate& first, const QDate& last)
{
    if (listed(rule.by_week_no, ICAL_BY_WEEKNO_SIZE))
        return true;
    const bool setPositions = listed(rule.by_set_pos, ICAL_BY_SETPOS_SIZE);
    if (setPositions && rule.freq != ICAL_YEARLY_RECURRENCE && rule.freq != ICAL_MONTHLY_RECURRENCE &&
        rule.freq != ICAL_DAILY_RECURRENCE)
        return true;
    if (!anyInRange(rule.by_hour, ICAL_BY_HOUR_SIZE, 0, 23) ||
        !anyInRange(rule.by_minute, ICAL_BY_MINUTE_SIZE, 0, 59) ||
        !anyInRange(rule.by_second, ICAL_BY_SECOND_SIZE, 0, 60))
        return false;
    const bool months = listed(rule.by_month, ICAL_BY_MONTH_SIZE);
    const bool monthDays = listed(rule.by_month_day, ICAL_BY_MONTHDAY_SIZE);
    const bool yearDays = listed(rule.by_year_day, ICAL_BY_YEARDAY_SIZE);
    const bool weekDays = listed(rule.by_day, ICAL_BY_DAY_SIZE);
    if (!months && !monthDays && !yearDays && !weekDays && !setPositions)
        return true;
    // A position of a weekday counts in the month for monthly rules and yearly ones limited to months.
    const bool inMonth =
        rule.freq == ICAL_MONTHLY_RECURRENCE || (rule.freq == ICAL_YEARLY_RECURRENCE && months);
    const bool positions = inMonth || rule.freq == ICAL_YEARLY_RECURRENCE;
    const int times = std::max(1, listedCount(rule.by_hour, ICAL_BY_HOUR_SIZE)) *
                      std::max(1, listedCount(rule.by_minute, ICAL_BY_MINUTE_SIZE)) *
                      std::max(1, listedCount(rule.by_second, ICAL_BY_SECOND_SIZE));
    const auto setHolds = [&](int days) {
        for (int i = 0; i < ICAL_BY_SETPOS_SIZE && rule.by_set_pos[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i) {
            const int position = rule.by_set_pos[i];
            if (days > 0 && position != 0 && std::abs(position) <= days * times)
                return true;
        }
        return false;
    };

    // The days are walked from the first one's month on, their weekday (Monday 1) and day of the year kept.
    const QDate firstOfMonth(first.year(), first.month(), 1);
    int weekday = firstOfMonth.dayOfWeek();
    const auto key = [](int year, int month, int day) { return qint64(year) * 10000 + month * 100 + day; };
    const qint64 firstKey = key(first.year(), first.month(), first.day());
    const qint64 lastKey = key(last.year(), last.month(), last.day());
    for (int year = first.year(); year <= last.year(); ++year) {
        const int daysInYear = QDate::isLeapYear(year) ? 366 : 365;
        const bool firstYear = year == first.year();
        int yearDay = firstYear ? firstOfMonth.dayOfYear() - 1 : 0;
        int matchesInYear = 0;
        for (int month = firstYear ? first.month() : 1; month <= 12; ++month) {
            const int daysInMonth = QDate(year, month, 1).daysInMonth();
            if (months && !holds(rule.by_month, ICAL_BY_MONTH_SIZE, month)) {
                yearDay += daysInMonth;
                weekday = (weekday - 1 + daysInMonth) % 7 + 1;
                continue;
            }
            int matchesInMonth = 0;
            for (int day = 1; day <= daysInMonth; ++day, weekday = weekday % 7 + 1) {
                ++yearDay;
                const qint64 dayKey = key(year, month, day);
                if (dayKey > lastKey)
                    return false;
                if (dayKey < firstKey)
                    continue;
                if (monthDays && !holds(rule.by_month_day, ICAL_BY_MONTHDAY_SIZE, day) &&
                    !holds(rule.by_month_day, ICAL_BY_MONTHDAY_SIZE, day - daysInMonth - 1))
                    continue;
                if (yearDays && !holds(rule.by_year_day, ICAL_BY_YEARDAY_SIZE, yearDay) &&
                    !holds(rule.by_year_day, ICAL_BY_YEARDAY_SIZE, yearDay - daysInYear - 1))
                    continue;
                if (weekDays) {
                    const int forward = inMonth ? (day - 1) / 7 + 1 : (yearDay - 1) / 7 + 1;
                    const int backward =
                        inMonth ? -((daysInMonth - day) / 7 + 1) : -((daysInYear - yearDay) / 7 + 1);
                    bool found = false;
                    for (int i = 0; i < ICAL_BY_DAY_SIZE && rule.by_day[i] != ICAL_RECURRENCE_ARRAY_MAX;
                         ++i) {
                        // libical counts Sunday as 1.
                        const int ruleDay = int(icalrecurrencetype_day_day_of_week(rule.by_day[i]));
                        const int position = icalrecurrencetype_day_position(rule.by_day[i]);
                        found |= ruleDay == weekday % 7 + 1 &&
                                 (position == 0 || !positions || position == forward || position == backward);
                    }
                    if (!found)
                        continue;
                }
                if (!setPositions || (rule.freq == ICAL_DAILY_RECURRENCE && setHolds(1)))
                    return true;
                ++matchesInMonth;
                ++matchesInYear;
            }
            if (setPositions && rule.freq == ICAL_MONTHLY_RECURRENCE && setHolds(matchesInMonth))
                return true;
        }
        if (setPositions && rule.freq == ICAL_YEARLY_RECURRENCE && setHolds(matchesInYear))
            return true;
    }
    return false;
}

// The last day libical iterates to, and how far a rule is searched for a first date: the Gregorian
// calendar repeats itself every 400 years, so a rule that gives nothing in that time never will.
constexpr int kLastYear = 2582;
constexpr int kCalendarCycleYears = 400;

// RDATE values: dates, date-times, or periods with their own end (an end, or a duration).
QList<Event::Extra> extrasOf(icalcomponent* event, icalcomponent* calendar, QStringList* unreadable)
{
    QList<Event::Extra> extras;
    for (icalproperty* p = icalcomponent_get_first_property(event, ICAL_RDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(event, ICAL_RDATE_PROPERTY)) {
        Event::Extra extra{momentOf(p, calendar), Moment{}};
        if (extra.start.isNull()) {
            unreadable->append(written(p));
            continue;
        }
        icalvalue* value = icalproperty_get_value(p);
        icalperiodtype period = icalperiodtype_null_period();
        if (icalvalue_isa(value) == ICAL_PERIOD_VALUE)
            period = icalvalue_get_period(value);
        else if (icalvalue_isa(value) == ICAL_DATETIMEPERIOD_VALUE)
            period = icalvalue_get_datetimeperiod(value).period;
        if (!icaltime_is_null_time(period.start)) {
            icaltimetype end = period.end;
            if (icaltime_is_null_time(end))
                end = icaltime_add(period.start, period.duration);
            end.zone = extra.start.time.zone;
            extra.end.time = end;
        }
        extras.append(extra);
    }
    return extras;
}

std::optional<Event> readEvent(icalcomponent* component, icalcomponent* calendar, QString* problem)
{
    Event event;
    event.uid = text(icalcomponent_get_uid(component));
    event.subject = shared(text(icalcomponent_get_summary(component)));
    event.body = text(icalcomponent_get_description(component));
    event.categories = shared(categoriesOf(component));
    event.sensitivity = sensitivityOf(component);
    event.cancelled = icalcomponent_get_status(component) == ICAL_STATUS_CANCELLED;

    if (const QString error = timingError(component); !error.isEmpty()) {
        // A rule that cannot be read still leaves the event's first date, which every reader shows.
        if (!error.contains(QLatin1StringView("RRULE"))) {
            *problem = QStringLiteral("the event \"%1\" cannot be read: %2").arg(event.subject, error);
            return std::nullopt;
        }
        event.warnings << QStringLiteral(
                              "the repeating event \"%1\" has a rule that cannot be read (%2); only its "
                              "first date is shown")
                              .arg(event.subject, error);
    }
    icalproperty* sequence = icalcomponent_get_first_property(component, ICAL_SEQUENCE_PROPERTY);
    event.revision = {sequence ? icalproperty_get_sequence(sequence) : 0,
                      utcOf(icalcomponent_get_first_property(component, ICAL_LASTMODIFIED_PROPERTY)),
                      utcOf(icalcomponent_get_first_property(component, ICAL_DTSTAMP_PROPERTY)), 0};
    event.start = momentOf(icalcomponent_get_first_property(component, ICAL_DTSTART_PROPERTY), calendar);
    if (event.start.isNull()) {
        icalproperty* start = icalcomponent_get_first_property(component, ICAL_DTSTART_PROPERTY);
        *problem = start ? QStringLiteral("the event \"%1\" has a start that cannot be read (%2)")
                               .arg(event.subject, written(start))
                         : QStringLiteral("the event \"%1\" has no start (DTSTART)").arg(event.subject);
        return std::nullopt;
    }
    const Moment end = momentOf(icalcomponent_get_first_property(component, ICAL_DTEND_PROPERTY), calendar);
    icalproperty* duration = icalcomponent_get_first_property(component, ICAL_DURATION_PROPERTY);
    if (!end.isNull()) {
        event.length = event.allDay() ? event.start.date().daysTo(end.date()) : end.utc() - event.start.utc();
    }
    else if (duration) {
        const int seconds = icaldurationtype_as_int(icalproperty_get_duration(duration));
        event.length = event.allDay() ? seconds / 86400 : seconds;
    }
    else {
        event.length = event.allDay() ? 1 : 0; // a date with no end lasts the day
    }
    event.length = std::max<qint64>(event.length, 0);

    for (icalproperty* rule = icalcomponent_get_first_property(component, ICAL_RRULE_PROPERTY); rule;
         rule = icalcomponent_get_next_property(component, ICAL_RRULE_PROPERTY)) {
        const icalrecurrencetype recurrence = icalproperty_get_rrule(rule);
        const QString written = QString::fromUtf8(icalproperty_get_value_as_string(rule));
        const QDate first = event.start.date();
        const QDate last = std::min(first.addYears(kCalendarCycleYears), QDate(kLastYear, 12, 31));
        if (recurrence.freq == ICAL_NO_RECURRENCE || recurrence.count < 0 ||
            (recurrence.count > 0 && !icaltime_is_null_time(recurrence.until)))
            event.warnings << QStringLiteral(
                                  "the repeating event \"%1\" has a rule that cannot be read (%2); only "
                                  "its first date is shown")
                                  .arg(event.subject, written);
        else if (!someDayMatches(recurrence, first, last))
            event.warnings << QStringLiteral(
                                  "the repeating event \"%1\" has a rule that gives no date (%2); only "
                                  "its first date is shown")
                                  .arg(event.subject, written);
        else if (const QByteArray text =
                     icalrecurrencetype_as_string(const_cast<icalrecurrencetype*>(&recurrence));
                 !event.rules.contains(text))
            event.rules << text;
    }
    QStringList unreadable;
    event.rdates = extrasOf(component, calendar, &unreadable);
    event.exdates = momentsOf(component, ICAL_EXDATE_PROPERTY, calendar, &unreadable);
    if (icalproperty* end = icalcomponent_get_first_property(component, ICAL_DTEND_PROPERTY);
        end && momentOf(end, calendar).isNull())
        unreadable << written(end);
    for (const QString& date : std::as_const(unreadable))
        event.warnings << QStringLiteral(
                              "the event \"%1\" has a date that cannot be read (%2); it is left out")
                              .arg(event.subject, date);
    icalproperty* recurrenceId = icalcomponent_get_first_property(component, ICAL_RECURRENCEID_PROPERTY);
    event.recurrenceId = momentOf(recurrenceId, calendar);
    if (icalparameter* range =
            recurrenceId ? icalproperty_get_first_parameter(recurrenceId, ICAL_RANGE_PARAMETER) : nullptr)
        event.thisAndFuture = icalparameter_get_range(range) == ICAL_RANGE_THISANDFUTURE;
    return event;
}

qint64 endOf(const Event& event, const Moment& start, qint64 startUtc)
{
    if (event.allDay())
        return QDateTime(start.date().addDays(event.length), QTime(0, 0)).toSecsSinceEpoch();
    return startUtc + event.length;
}

MailboxItem itemOf(const Event& event, qint64 startUtc, qint64 endUtc, const Moment& instance)
{
    MailboxItem item;
    item.messageClass = MailboxItem::kAppointment;
    item.subject = event.subject;
    item.body = event.body;
    item.categories = event.categories;
    item.sensitivity = event.sensitivity;
    item.allDay = event.allDay();
    item.start = QDateTime::fromSecsSinceEpoch(startUtc);
    item.end = QDateTime::fromSecsSinceEpoch(endUtc);
    item.source.uid = event.uid;
    if (!instance.isNull())
        item.source.recurrenceId = QDateTime::fromSecsSinceEpoch(instance.utc());
    return item;
}

bool touches(const ICalendarFile::Window& window, qint64 startUtc, qint64 endUtc)
{
    return startUtc <= window.startAtMostUtc && endUtc >= window.endAtLeastUtc;
}

} // namespace

ICalendarFile::ICalendarFile() : d(std::make_unique<Data>()) {}
ICalendarFile::~ICalendarFile() = default;

void ICalendarFile::initialiseLibrary()
{
    static const bool once = [] {
        icalerror_set_errors_are_fatal(0);
        icalerror_clear_errno();
        // libical fills its table of built-in zones on first use under a lock, but later looks through it
        // without one: it is filled here, before files are parsed on several threads.
        icaltimezone_get_builtin_timezones();
        icaltimezone_get_utc_timezone();
        return true;
    }();
    Q_UNUSED(once);
}

std::shared_ptr<const ICalendarFile> ICalendarFile::parse(const QByteArray& bytes, QString* error)
{
    initialiseLibrary();
    // libical reads whatever it can of a damaged file; a file cut short is refused here rather than shown
    // with silently missing events. Names are read in any letter case, a UTF-8 byte-order mark is no part
    // of the text, and what follows the last END:VCALENDAR is no part of the calendar.
    QByteArray text = bytes;
    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    const QByteArray upper = text.toUpper();
    if (!upper.trimmed().startsWith("BEGIN:VCALENDAR")) {
        *error = QStringLiteral("not an iCalendar file (it does not start with BEGIN:VCALENDAR)");
        return nullptr;
    }
    const qsizetype end = upper.lastIndexOf("END:VCALENDAR");
    if (end < 0) {
        *error = QStringLiteral("the file is cut short (it does not end with END:VCALENDAR)");
        return nullptr;
    }
    text.truncate(end + qsizetype(sizeof("END:VCALENDAR")) - 1);
    if (text.contains('\0')) {
        *error = QStringLiteral("the file holds binary data");
        return nullptr;
    }
    ComponentPtr root(icalparser_parse_string(text.constData()));
    if (!root) {
        *error = QStringLiteral("libical could not read the file");
        return nullptr;
    }
    // A file may hold one VCALENDAR or, from some exports, several in a row under an XROOT.
    std::vector<icalcomponent*> calendars;
    if (icalcomponent_isa(root.get()) == ICAL_VCALENDAR_COMPONENT) {
        calendars.push_back(root.get());
    }
    else {
        for (icalcomponent* c = icalcomponent_get_first_component(root.get(), ICAL_VCALENDAR_COMPONENT); c;
             c = icalcomponent_get_next_component(root.get(), ICAL_VCALENDAR_COMPONENT))
            calendars.push_back(c);
    }

    auto file = std::shared_ptr<ICalendarFile>(new ICalendarFile);
    int events = 0;
    for (icalcomponent* calendar : calendars) {
        for (icalcompiter it = icalcomponent_begin_component(calendar, ICAL_VEVENT_COMPONENT);
             icalcompiter_deref(&it); icalcompiter_next(&it)) {
            icalcomponent* component = icalcompiter_deref(&it);
            ++events;
            QString problem;
            std::optional<Event> event = readEvent(component, calendar, &problem);
            if (!event) {
                file->d->problems << problem;
                continue;
            }
            file->d->problems << event->warnings;
            std::get<3>(event->revision) = events;
            (event->recurrenceId.isNull() ? file->d->events : file->d->overrides)
                .push_back(std::move(*event));
        }
    }
    if (events == 0 && calendars.empty()) {
        *error = QStringLiteral("the file holds no calendar");
        return nullptr;
    }
    if (events > 0 && file->d->events.empty() && file->d->overrides.empty()) {
        *error = file->d->problems.join(QStringLiteral("; "));
        return nullptr;
    }

    // Of several copies of one event, or of one instance of a series, the newest stands for it; an instance
    // whose date a newer copy of its series excludes is gone.
    const auto keepNewest = [](std::vector<Event>& list, auto&& keyOf) {
        std::vector<Event> kept;
        QHash<QString, std::size_t> where;
        for (Event& event : list) {
            const QString key = keyOf(event);
            const auto found = key.isEmpty() ? where.cend() : where.constFind(key);
            if (found == where.cend()) {
                if (!key.isEmpty())
                    where.insert(key, kept.size());
                kept.push_back(std::move(event));
            }
            else if (event.revision > kept[*found].revision) {
                kept[*found] = std::move(event);
            }
        }
        list = std::move(kept);
    };
    keepNewest(file->d->events, [](const Event& event) { return event.uid; });
    keepNewest(file->d->overrides, [](const Event& event) {
        return event.uid + u'\n' + QString::number(event.recurrenceId.utc());
    });
    std::erase_if(file->d->overrides, [&](const Event& instance) {
        for (const Event& series : file->d->events) {
            if (series.uid != instance.uid || series.revision < instance.revision)
                continue;
            for (const Moment& excluded : series.exdates) {
                if (excluded.key(series.allDay()) == instance.recurrenceId.key(series.allDay()))
                    return true;
            }
        }
        return false;
    });

    // An instance whose series is not in the file stands on its own.
    std::unordered_set<QString> seriesUids;
    for (const Event& event : file->d->events) {
        if (event.recurring())
            seriesUids.insert(event.uid);
    }
    auto orphan = [&](const Event& instance) { return !seriesUids.contains(instance.uid); };
    for (Event& instance : file->d->overrides) {
        if (orphan(instance) && !instance.cancelled) {
            Event single = instance;
            single.recurrenceId = Moment{};
            file->d->events.push_back(std::move(single));
        }
    }
    std::erase_if(file->d->overrides, orphan);
    return file;
}

namespace {

// Bumped whenever what serialize() writes changes: older bytes are then refused, never misread.
constexpr quint32 kSerialMagic = 0x52564946; // "RVIF"
constexpr quint16 kSerialVersion = 1;

class Writer {
public:
    QDataStream out;
    bool named = true; // false once a zone could not be named

    explicit Writer(QByteArray* bytes) : out(bytes, QIODevice::WriteOnly)
    {
        out.setVersion(QDataStream::Qt_6_0);
    }

    void write(const Moment& moment)
    {
        const icaltimetype& t = moment.time;
        out << qint16(t.year) << qint8(t.month) << qint8(t.day) << qint8(t.hour) << qint8(t.minute)
            << qint8(t.second) << qint8((t.is_date ? 1 : 0) | (t.is_daylight ? 2 : 0)) << zoneIndex(t.zone);
    }

    void write(const Event& event)
    {
        out << event.uid << event.subject << event.body << event.categories << qint32(event.sensitivity)
            << event.cancelled;
        write(event.start);
        out << event.length << event.rules << quint32(event.rdates.size());
        for (const Event::Extra& extra : event.rdates) {
            write(extra.start);
            write(extra.end);
        }
        out << quint32(event.exdates.size());
        for (const Moment& moment : event.exdates)
            write(moment);
        write(event.recurrenceId);
        const auto& [sequence, modified, stamp, position] = event.revision;
        out << event.thisAndFuture << event.warnings << qint32(sequence) << modified << stamp
            << qint32(position);
    }

    QList<QByteArray> zones;

private:
    qint32 zoneIndex(const icaltimezone* zone)
    {
        if (!zone)
            return -1;
        if (const auto it = m_indexes.constFind(zone); it != m_indexes.cend())
            return it.value();
        const std::optional<QByteArray> name = ZoneCache::instance().nameOf(zone);
        named = named && name.has_value();
        m_indexes.insert(zone, qint32(zones.size()));
        zones.append(name.value_or(QByteArray()));
        return qint32(zones.size() - 1);
    }

    QHash<const icaltimezone*, qint32> m_indexes;
};

// Reads what Writer wrote (QDataStream's layout, version 6.0) straight from the bytes: a stream on a
// buffer costs a virtual call per field, and a second process reads thousands of files.
class Reader {
public:
    std::vector<icaltimezone*> zones;

    explicit Reader(QByteArrayView bytes) : m_at(bytes.data()), m_end(bytes.data() + bytes.size()) {}

    bool ok() const { return m_valid; }
    bool atEnd() const { return m_at == m_end; }

    template <typename T>
    T number()
    {
        if (m_end - m_at < qsizetype(sizeof(T))) {
            m_valid = false;
            return T();
        }
        const T value = qFromBigEndian<T>(m_at);
        m_at += sizeof(T);
        return value;
    }

    // A count of elements of at least `size` bytes each, refused when the rest of the bytes cannot hold it.
    quint32 count(qint64 size)
    {
        const quint32 n = number<quint32>();
        if (qint64(n) * size > m_end - m_at)
            m_valid = false;
        return m_valid ? n : 0;
    }

    QByteArray bytes()
    {
        const quint32 size = number<quint32>();
        if (size == 0xFFFFFFFF || !take(size))
            return QByteArray();
        return QByteArray(m_at - size, size);
    }

    QString string()
    {
        const quint32 size = number<quint32>();
        if (size == 0xFFFFFFFF || (size % 2) != 0 || !take(size)) {
            m_valid = m_valid && size == 0xFFFFFFFF;
            return QString();
        }
        QString text(size / 2, Qt::Uninitialized);
        qFromBigEndian<char16_t>(m_at - size, size / 2, text.data());
        return text;
    }

    template <typename List, typename Read>
    List list(Read read)
    {
        List values;
        const quint32 n = count(4);
        values.reserve(n);
        for (quint32 i = 0; i < n && m_valid; ++i)
            values.append(read());
        return values;
    }
    QStringList strings()
    {
        return list<QStringList>([this] { return string(); });
    }

    Moment moment()
    {
        const qint16 year = number<qint16>();
        const qint8 month = number<qint8>(), day = number<qint8>(), hour = number<qint8>(),
                    minute = number<qint8>(), second = number<qint8>(), flags = number<qint8>();
        const qint32 zone = number<qint32>();
        Moment moment;
        if (year == 0 && month == 0 && day == 0)
            return moment;
        // The same bounds the parser puts on a date.
        if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
            day > QDate(year, month, 1).daysInMonth() || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
            second < 0 || second > 60 || zone < -1 || zone >= qint32(zones.size())) {
            m_valid = false;
            return moment;
        }
        moment.time.year = year;
        moment.time.month = month;
        moment.time.day = day;
        moment.time.hour = hour;
        moment.time.minute = minute;
        moment.time.second = second;
        moment.time.is_date = flags & 1;
        moment.time.is_daylight = (flags & 2) ? 1 : 0;
        moment.time.zone = zone < 0 ? nullptr : zones[std::size_t(zone)];
        return moment;
    }

    Event event()
    {
        Event event;
        event.uid = string();
        event.subject = shared(string());
        event.body = string();
        event.categories = shared(string());
        event.sensitivity = number<qint32>();
        event.cancelled = number<qint8>() != 0;
        event.start = moment();
        event.length = number<qint64>();
        event.rules = list<QList<QByteArray>>([this] { return bytes(); });
        for (quint32 n = count(24); n > 0 && m_valid; --n) {
            const Moment start = moment();
            event.rdates.append({start, moment()});
        }
        for (quint32 n = count(12); n > 0 && m_valid; --n)
            event.exdates.append(moment());
        event.recurrenceId = moment();
        event.thisAndFuture = number<qint8>() != 0;
        event.warnings = strings();
        const qint32 sequence = number<qint32>();
        const qint64 modified = number<qint64>();
        const qint64 stamp = number<qint64>();
        event.revision = {sequence, modified, stamp, number<qint32>()};
        if (event.start.isNull() || event.length < 0)
            m_valid = false;
        return event;
    }

private:
    bool take(quint32 size)
    {
        if (m_end - m_at < qint64(size)) {
            m_valid = false;
            return false;
        }
        m_at += size;
        return true;
    }

    const char* m_at;
    const char* m_end;
    bool m_valid = true;
};

} // namespace

QByteArray ICalendarFile::serialize() const
{
    QByteArray body;
    Writer writer(&body);
    for (const std::vector<Event>* list : {&d->events, &d->overrides}) {
        writer.out << quint32(list->size());
        for (const Event& event : *list)
            writer.write(event);
    }
    writer.out << d->problems;
    if (!writer.named || writer.out.status() != QDataStream::Ok)
        return QByteArray();

    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << kSerialMagic << kSerialVersion << writer.zones;
    bytes.append(body);
    return bytes;
}

std::shared_ptr<const ICalendarFile> ICalendarFile::deserialize(QByteArrayView bytes, QString* error)
{
    initialiseLibrary();
    Reader reader(bytes);
    if (reader.number<quint32>() != kSerialMagic || reader.number<quint16>() != kSerialVersion) {
        *error = QStringLiteral("not a stored calendar of this version");
        return nullptr;
    }
    for (const QByteArray& name : reader.list<QList<QByteArray>>([&reader] { return reader.bytes(); })) {
        bool found = false;
        reader.zones.push_back(ZoneCache::instance().byName(name, &found));
        if (!found) {
            *error = QStringLiteral("the time zone %1 is not known")
                         .arg(QString::fromUtf8(name.mid(1, name.indexOf('\n') - 1)));
            return nullptr;
        }
    }
    auto file = std::shared_ptr<ICalendarFile>(new ICalendarFile);
    for (std::vector<Event>* list : {&file->d->events, &file->d->overrides}) {
        const quint32 n = reader.count(40);
        list->reserve(n);
        for (quint32 i = 0; i < n && reader.ok(); ++i)
            list->push_back(reader.event());
    }
    file->d->problems = reader.strings();
    if (!reader.ok() || !reader.atEnd()) {
        *error = QStringLiteral("the stored calendar is damaged");
        return nullptr;
    }
    return file;
}

namespace {

// Wall-clock arithmetic: a time's fields read as if it were UTC, so that a step of a day or an hour moves the
// clock's hands by that much whatever the zone does in between, as libical steps a rule.
qint64 wallSeconds(icaltimetype time)
{
    time.zone = nullptr;
    time.is_date = 0;
    return qint64(icaltime_as_timet_with_zone(time, icaltimezone_get_utc_timezone()));
}

icaltimetype fromWallSeconds(qint64 seconds, bool date)
{
    icaltimetype time = icaltime_from_timet_with_zone(time_t(seconds), date, icaltimezone_get_utc_timezone());
    time.zone = nullptr;
    return time;
}

// The wall time in `zone` (the local time zone when none) at a UTC moment, without its zone.
icaltimetype wallAt(qint64 utc, icaltimezone* zone, bool date)
{
    if (zone) {
        icaltimetype time = icaltime_from_timet_with_zone(time_t(utc), date, zone);
        time.zone = nullptr;
        return time;
    }
    const QDateTime local = QDateTime::fromSecsSinceEpoch(utc);
    icaltimetype time = icaltime_null_time();
    time.year = local.date().year();
    time.month = local.date().month();
    time.day = local.date().day();
    time.is_date = date;
    if (!date) {
        time.hour = local.time().hour();
        time.minute = local.time().minute();
        time.second = local.time().second();
    }
    return time;
}

bool hasLimits(const icalrecurrencetype& rule)
{
    return listed(rule.by_second, ICAL_BY_SECOND_SIZE) || listed(rule.by_minute, ICAL_BY_MINUTE_SIZE) ||
           listed(rule.by_hour, ICAL_BY_HOUR_SIZE) || listed(rule.by_day, ICAL_BY_DAY_SIZE) ||
           listed(rule.by_month_day, ICAL_BY_MONTHDAY_SIZE) ||
           listed(rule.by_year_day, ICAL_BY_YEARDAY_SIZE) || listed(rule.by_week_no, ICAL_BY_WEEKNO_SIZE) ||
           listed(rule.by_month, ICAL_BY_MONTH_SIZE) || listed(rule.by_set_pos, ICAL_BY_SETPOS_SIZE);
}

// Hands `found` the instances of one rule of `event` from near the window on, up to the window's end. libical
// steps a rule through wall-clock times; handed a zone, it moves a time that falls into a spring-forward gap
// and carries the move on to every later instance. It is therefore given the floating wall time, and each
// instance gets the zone back: a time in a gap then moves forward by the gap alone, as RFC 5545 reads it.
// A series begun long ago is entered near the window at an instance of its own, so that a rule of minutes
// keeps its phase and a COUNT keeps its instances; what libical is handed ends at the window (an UNTIL it
// checks at every step, so that no call runs past it); a series that still gives too many dates, or takes
// too long, is cut and `report` says so.
void walkRule(const Event& event, const QByteArray& text, const ICalendarFile::Window& window,
              const std::function<void(const Moment&)>& found,
              const std::function<void(const QString&)>& report)
{
    icalrecurrencetype rule = icalrecurrencetype_from_string(text.constData());
    if (rule.freq == ICAL_NO_RECURRENCE)
        return;
    icaltimezone* zone = const_cast<icaltimezone*>(event.start.time.zone);
    const bool date = event.start.isDate();
    icaltimetype first = event.start.time;
    first.zone = nullptr;

    // A rule of hours, minutes or seconds whose days all lie outside the window is not walked through it.
    const bool shortRule = rule.freq == ICAL_HOURLY_RECURRENCE || rule.freq == ICAL_MINUTELY_RECURRENCE ||
                           rule.freq == ICAL_SECONDLY_RECURRENCE;
    const QDate windowFirst = QDateTime::fromSecsSinceEpoch(window.endAtLeastUtc).toUTC().date().addDays(-1);
    const QDate windowLast = QDateTime::fromSecsSinceEpoch(window.startAtMostUtc).toUTC().date().addDays(1);
    if (shortRule && !someDayMatches(rule, std::max(event.start.date(), windowFirst), windowLast))
        return;

    // UNTIL is written in UTC when DTSTART has a zone: it is taken to the same wall clock.
    if (!icaltime_is_null_time(rule.until)) {
        if (!rule.until.is_date && !date && icaltime_is_utc(rule.until))
            rule.until =
                wallAt(qint64(icaltime_as_timet_with_zone(rule.until, icaltimezone_get_utc_timezone())), zone,
                       false);
        rule.until.zone = nullptr;
    }
    const icaltimetype end = wallAt(window.startAtMostUtc + 86400, zone, date);
    if (icaltime_is_null_time(rule.until) || icaltime_compare(rule.until, end) > 0)
        rule.until = end;

    // Where the window begins, less the longest an instance lasts and a day.
    const qint64 lengthSeconds = date ? (event.length + 1) * 86400 : event.length;
    const qint64 fromUtc = window.endAtLeastUtc - lengthSeconds - 86400;
    std::optional<icaltimetype> skipTo;
    if (fromUtc > event.start.utc()) {
        const icaltimetype target = wallAt(fromUtc, zone, date);
        if (!shortRule && rule.count == 0) {
            // libical enters daily and longer rules itself, interval included, at the time of day the
            // series has.
            icaltimetype jump = target;
            jump.hour = first.hour;
            jump.minute = first.minute;
            jump.second = first.second;
            skipTo = jump;
        }
        else if (shortRule && (rule.count == 0 || !hasLimits(rule))) {
            // Steps of hours, minutes or seconds are counted by hand, from the series' own first one.
            const qint64 unit = rule.freq == ICAL_HOURLY_RECURRENCE     ? 3600
                                : rule.freq == ICAL_MINUTELY_RECURRENCE ? 60
                                                                        : 1;
            const qint64 step = unit * std::max<qint64>(1, rule.interval);
            const qint64 steps = (wallSeconds(target) - wallSeconds(first)) / step;
            if (steps > 0) {
                if (rule.count > 0) {
                    if (steps >= rule.count)
                        return;
                    rule.count -= int(steps);
                }
                first = fromWallSeconds(wallSeconds(first) + steps * step, false);
            }
        }
    }

    icalrecur_iterator* iterator = icalrecur_iterator_new(rule, first);
    if (!iterator)
        return;
    if (skipTo)
        icalrecur_iterator_set_start(iterator, *skipTo);
    int count = 0;
    QElapsedTimer spent;
    spent.start();
    for (icaltimetype next = icalrecur_iterator_next(iterator); !icaltime_is_null_time(next);
         next = icalrecur_iterator_next(iterator)) {
        next.zone = zone;
        next.is_date = date;
        const Moment instance{next};
        if (instance.utc() > window.startAtMostUtc)
            break;
        if (++count > kMaxInstancesPerSeries || spent.elapsed() > kMaxMillisecondsPerSeries) {
            report(
                QStringLiteral(
                    "the repeating event \"%1\" gives too many dates to show; those from %2 on are "
                    "left out")
                    .arg(event.subject, QDateTime::fromSecsSinceEpoch(instance.utc()).toString(Qt::ISODate)));
            break;
        }
        found(instance);
    }
    icalrecur_iterator_free(iterator);
}

// The same moment moved by `seconds` of wall-clock time, in its own zone.
Moment shifted(const Moment& moment, qint64 seconds)
{
    Moment moved{fromWallSeconds(wallSeconds(moment.time) + seconds, moment.isDate())};
    moved.time.zone = moment.time.zone;
    return moved;
}

} // namespace

void ICalendarFile::expand(const Window& window, std::vector<MailboxItem>& out, QStringList* problems) const
{
    const auto report = [problems](const QString& problem) {
        if (problems)
            problems->append(problem);
    };

    for (const Event& event : d->events) {
        const bool dateSeries = event.allDay();
        if (!event.recurring()) {
            const qint64 startUtc = event.start.utc();
            const qint64 endUtc = endOf(event, event.start, startUtc);
            if (touches(window, startUtc, endUtc))
                out.push_back(itemOf(event, startUtc, endUtc, Moment{}));
            continue;
        }

        // Instances that are excluded, or replaced by an instance of their own; the overrides that hold for
        // the later instances too (RANGE=THISANDFUTURE), latest first.
        std::unordered_set<qint64> skipped;
        for (const Moment& excluded : event.exdates)
            skipped.insert(excluded.key(dateSeries));
        std::vector<const Event*> fromThenOn;
        for (const Event& instance : d->overrides) {
            if (instance.uid != event.uid)
                continue;
            skipped.insert(instance.recurrenceId.key(dateSeries));
            if (instance.thisAndFuture)
                fromThenOn.push_back(&instance);
        }
        std::sort(fromThenOn.begin(), fromThenOn.end(), [](const Event* a, const Event* b) {
            return a->recurrenceId.utc() > b->recurrenceId.utc();
        });

        // Candidates: the start itself (always the first instance), the rules' instances, the extra dates.
        struct Instance {
            qint64 startUtc;
            qint64 endUtc;
            Moment written;
            const Event* fields;
        };
        std::vector<Instance> instances;
        std::unordered_set<qint64> seen;
        const auto consider = [&](const Moment& instance, const Moment& ownEnd) {
            const qint64 key = instance.key(dateSeries);
            if (!seen.insert(key).second || skipped.contains(key))
                return;
            // An override for this and the later instances moves them as it moved its own, and lends them its
            // length and texts.
            const Event* fields = &event;
            Moment start = instance;
            for (const Event* change : fromThenOn) {
                if (change->recurrenceId.utc() < instance.utc()) {
                    start = shifted(instance,
                                    wallSeconds(change->start.time) - wallSeconds(change->recurrenceId.time));
                    fields = change;
                    break;
                }
            }
            const qint64 startUtc = start.utc();
            const qint64 endUtc =
                !ownEnd.isNull() && fields == &event ? ownEnd.utc() : endOf(*fields, start, startUtc);
            if (touches(window, startUtc, endUtc))
                instances.push_back({startUtc, std::max(endUtc, startUtc), instance, fields});
        };
        consider(event.start, Moment{});
        for (const QByteArray& rule : event.rules)
            walkRule(
                event, rule, window, [&](const Moment& instance) { consider(instance, Moment{}); }, report);
        for (const Event::Extra& extra : event.rdates)
            consider(extra.start, extra.end);

        std::stable_sort(instances.begin(), instances.end(),
                         [](const Instance& a, const Instance& b) { return a.startUtc < b.startUtc; });
        for (const Instance& instance : instances)
            out.push_back(itemOf(*instance.fields, instance.startUtc, instance.endUtc, instance.written));
    }

    // Overriding instances stand where their own times put them, inside the window or outside it.
    for (const Event& instance : d->overrides) {
        if (instance.cancelled)
            continue;
        const qint64 startUtc = instance.start.utc();
        const qint64 endUtc = endOf(instance, instance.start, startUtc);
        if (touches(window, startUtc, endUtc))
            out.push_back(itemOf(instance, startUtc, endUtc, instance.recurrenceId));
    }
}

std::vector<MailboxItem> ICalendarFile::storedItems() const
{
    std::vector<MailboxItem> items;
    for (const Event& event : d->events) {
        const qint64 startUtc = event.start.utc();
        items.push_back(itemOf(event, startUtc, endOf(event, event.start, startUtc), Moment{}));
    }
    return items;
}

QStringList ICalendarFile::problems() const
{
    return d->problems;
}

int ICalendarFile::eventCount() const
{
    return int(d->events.size() + d->overrides.size());
}

namespace {

icaltimetype toICal(const QDateTime& value, bool allDay, icaltimezone* zone)
{
    if (allDay) {
        icaltimetype date = icaltime_null_date();
        const QDate day = value.date();
        date.year = day.year();
        date.month = day.month();
        date.day = day.day();
        return date;
    }
    return icaltime_from_timet_with_zone(time_t(value.toSecsSinceEpoch()), 0,
                                         zone ? zone : icaltimezone_get_utc_timezone());
}

icalproperty* personProperty(icalproperty* property, const NewEvent::Person& person)
{
    if (!person.name.isEmpty())
        icalproperty_add_parameter(property, icalparameter_new_cn(person.name.toUtf8().constData()));
    return property;
}

} // namespace

QByteArray writeICalendar(const NewEvent& event)
{
    ICalendarFile::initialiseLibrary();
    const QByteArray zoneId = QTimeZone::systemTimeZoneId();
    icaltimezone* zone = event.allDay ? nullptr : icaltimezone_get_builtin_timezone(zoneId.constData());

    ComponentPtr calendar(icalcomponent_new_vcalendar());
    icalcomponent_add_property(calendar.get(), icalproperty_new_prodid("-//Rotavine//Rotavine//EN"));
    icalcomponent_add_property(calendar.get(), icalproperty_new_version("2.0"));
    // The zone is named as everyone knows it, and its definition kept to the years that matter.
    const QByteArray tzid = zone ? QByteArray(icaltimezone_get_location(zone)) : QByteArray();
    if (zone) {
        icalcomponent* vtimezone = icalcomponent_new_clone(icaltimezone_get_component(zone));
        icalproperty* id = icalcomponent_get_first_property(vtimezone, ICAL_TZID_PROPERTY);
        icalproperty_set_tzid(id, tzid.constData());
        const QDate from(event.start.date().year() - 1, 1, 1);
        icaltimetype truncateAt =
            icaltime_from_timet_with_zone(time_t(QDateTime(from, QTime(0, 0), Qt::UTC).toSecsSinceEpoch()), 0,
                                          icaltimezone_get_utc_timezone());
        icaltimezone_truncate_vtimezone(vtimezone, truncateAt, icaltime_null_time(), 1);
        icalcomponent_add_component(calendar.get(), vtimezone);
    }

    icalcomponent* vevent = icalcomponent_new_vevent();
    icalcomponent_add_property(vevent, icalproperty_new_uid(event.uid.toUtf8().constData()));
    icalcomponent_add_property(
        vevent, icalproperty_new_dtstamp(icaltime_from_timet_with_zone(time_t(event.stamp.toSecsSinceEpoch()),
                                                                       0, icaltimezone_get_utc_timezone())));

    auto addTime = [&](icalproperty* property, const QDateTime& value) {
        icaltimetype time = toICal(value, event.allDay, zone);
        if (zone)
            time.zone = nullptr; // the wall-clock time; the TZID parameter names its zone
        icalproperty_set_value(property,
                               event.allDay ? icalvalue_new_date(time) : icalvalue_new_datetime(time));
        if (zone)
            icalproperty_add_parameter(property, icalparameter_new_tzid(tzid.constData()));
        icalcomponent_add_property(vevent, property);
    };
    addTime(icalproperty_new(ICAL_DTSTART_PROPERTY), event.start);
    addTime(icalproperty_new(ICAL_DTEND_PROPERTY), event.end);

    if (!event.subject.isEmpty())
        icalcomponent_add_property(vevent, icalproperty_new_summary(event.subject.toUtf8().constData()));
    if (!event.body.isEmpty())
        icalcomponent_add_property(vevent, icalproperty_new_description(event.body.toUtf8().constData()));
    for (const QString& category : event.categories.split(u';', Qt::SkipEmptyParts)) {
        icalcomponent_add_property(vevent,
                                   icalproperty_new_categories(category.trimmed().toUtf8().constData()));
    }
    if (event.sensitivity == MailboxItem::Private || event.sensitivity == MailboxItem::Personal)
        icalcomponent_add_property(vevent, icalproperty_new_class(ICAL_CLASS_PRIVATE));
    else if (event.sensitivity == MailboxItem::Confidential)
        icalcomponent_add_property(vevent, icalproperty_new_class(ICAL_CLASS_CONFIDENTIAL));

    if (!event.attendees.empty()) {
        icalcomponent_add_property(vevent, icalproperty_new_status(ICAL_STATUS_CONFIRMED));
        // Without a known owner address the request names no organizer rather than an empty "mailto:".
        if (event.organizer && !event.organizer->address.isEmpty()) {
            const QByteArray address = "mailto:" + event.organizer->address.toUtf8();
            icalcomponent_add_property(
                vevent, personProperty(icalproperty_new_organizer(address.constData()), *event.organizer));
        }
        for (const NewEvent::Person& attendee : event.attendees) {
            const QByteArray attendeeAddress = "mailto:" + attendee.address.toUtf8();
            icalproperty* property =
                personProperty(icalproperty_new_attendee(attendeeAddress.constData()), attendee);
            icalproperty_add_parameter(property, icalparameter_new_role(ICAL_ROLE_REQPARTICIPANT));
            icalproperty_add_parameter(property, icalparameter_new_partstat(ICAL_PARTSTAT_NEEDSACTION));
            icalproperty_add_parameter(property, icalparameter_new_rsvp(ICAL_RSVP_TRUE));
            icalcomponent_add_property(vevent, property);
        }
    }
    if (event.reminder) {
        icalcomponent* alarm = icalcomponent_new_valarm();
        icalcomponent_add_property(alarm, icalproperty_new_action(ICAL_ACTION_DISPLAY));
        icalcomponent_add_property(alarm, icalproperty_new_description(event.subject.toUtf8().constData()));
        icaltriggertype trigger{};
        trigger.time = icaltime_null_time();
        trigger.duration = icaldurationtype_from_int(-15 * 60);
        icalcomponent_add_property(alarm, icalproperty_new_trigger(trigger));
        icalcomponent_add_component(vevent, alarm);
    }
    icalcomponent_add_component(calendar.get(), vevent);

    char* text = icalcomponent_as_ical_string_r(calendar.get());
    const QByteArray bytes(text);
    icalmemory_free_buffer(text);
    return bytes;
}
