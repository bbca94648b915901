#include "mailbox/calendarprefilter.h"

#include <QByteArray>
#include <QDate>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace CalendarPrefilter {
namespace {

constexpr qint64 kDay = 86400;
// Wall-clock times are read as if they were UTC. Their zone (a file's own is held to 18 hours), the local
// zone of floating times and dates, and a time moved out of a gap all stay well inside two days of that.
constexpr qint64 kMargin = 2 * kDay;
constexpr qint64 kMaxOffset = 18 * 3600;
constexpr qint64 kUnbounded = std::numeric_limits<qint64>::max() / 4;
constexpr qint64 kEpochJulianDay = 2440588;
// Years that libical and the local time zone convert without surprises; others are left to the parser.
constexpr int kFirstYear = 1971;
constexpr int kLastYear = 2199;
// libical keeps a duration's seconds in an int.
constexpr qint64 kMaxDuration = 2'000'000'000;

// The properties whose damage makes the parser refuse an event, or leave part of it out.
constexpr const char* kTimingNames[] = {"DTSTART", "DTEND",  "DURATION",     "RRULE",
                                        "RDATE",   "EXDATE", "RECURRENCE-ID"};

// The digits that make up all of `text`; -1 for anything else, or more than nine digits.
int number(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 9)
        return -1;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

struct Time {
    qint64 wall = 0; // the wall-clock time, read as UTC
    bool date = false;
    bool utc = false;
};

// "YYYYMMDD", or "YYYYMMDDTHHMMSS" with a "Z" for UTC, as the parser would accept it.
std::optional<Time> timeOf(QByteArrayView text)
{
    Time time;
    if (text.size() == 16 && text.back() == 'Z') {
        time.utc = true;
        text.chop(1);
    }
    if (text.size() != 8 && (text.size() != 15 || text[8] != 'T'))
        return std::nullopt;
    const int year = number(text.first(4));
    const int month = number(text.sliced(4, 2));
    const int day = number(text.sliced(6, 2));
    if (year < kFirstYear || year > kLastYear || month < 1 || month > 12 || day < 1 ||
        day > QDate(year, month, 1).daysInMonth())
        return std::nullopt;
    time.wall = (QDate(year, month, day).toJulianDay() - kEpochJulianDay) * kDay;
    if (text.size() == 8) {
        time.date = true;
        return time.utc ? std::nullopt : std::optional(time);
    }
    const int hour = number(text.sliced(9, 2));
    const int minute = number(text.sliced(11, 2));
    const int second = number(text.sliced(13, 2));
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return std::nullopt;
    time.wall += hour * 3600 + minute * 60 + second;
    return time;
}

// "[+-]P…": weeks alone, or days and a time of hours, minutes and seconds, each once and in that order.
std::optional<qint64> durationOf(QByteArrayView text)
{
    bool negative = false;
    if (!text.isEmpty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text = text.sliced(1);
    }
    if (text.size() < 3 || text.front() != 'P')
        return std::nullopt;
    text = text.sliced(1);
    qint64 seconds = 0;
    bool inTime = false;
    int rank = 0;
    while (!text.isEmpty()) {
        if (text.front() == 'T') {
            if (inTime || text.size() == 1)
                return std::nullopt;
            inTime = true;
            text = text.sliced(1);
            continue;
        }
        qsizetype digits = 0;
        while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
            ++digits;
        const int value = number(text.first(std::min(digits, text.size())));
        if (value < 0 || digits == text.size())
            return std::nullopt;
        const char unit = text[digits];
        int unitRank = 0;
        qint64 size = 0;
        if (!inTime && unit == 'W')
            unitRank = 1, size = 7 * kDay;
        else if (!inTime && unit == 'D')
            unitRank = 2, size = kDay;
        else if (inTime && unit == 'H')
            unitRank = 3, size = 3600;
        else if (inTime && unit == 'M')
            unitRank = 4, size = 60;
        else if (inTime && unit == 'S')
            unitRank = 5, size = 1;
        if (unitRank <= rank || rank == 1)
            return std::nullopt;
        rank = unitRank;
        seconds += value * size;
        text = text.sliced(digits + 1);
    }
    if (rank == 0 || seconds > kMaxDuration)
        return std::nullopt;
    return negative ? -seconds : seconds;
}

// "+HHMM" or "+HHMMSS", within what any zone uses.
bool offsetIsPlain(QByteArrayView text)
{
    if ((text.size() != 5 && text.size() != 7) || (text.front() != '+' && text.front() != '-'))
        return false;
    const int hours = number(text.sliced(1, 2));
    const int minutes = number(text.sliced(3, 2));
    const int seconds = text.size() == 7 ? number(text.sliced(5, 2)) : 0;
    return hours >= 0 && minutes >= 0 && minutes < 60 && seconds >= 0 && seconds < 60 &&
           hours * 3600 + minutes * 60 + seconds <= kMaxOffset;
}

bool isWeekday(QByteArrayView text)
{
    static constexpr const char* kDays[] = {"MO", "TU", "WE", "TH", "FR", "SA", "SU"};
    return std::any_of(std::begin(kDays), std::end(kDays), [&](const char* day) { return text == day; });
}

bool mentionsTiming(QByteArrayView line)
{
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = char(line[i] & ~0x20); // the upper case of a letter
        if (c != 'D' && c != 'R' && c != 'E')
            continue;
        for (const char* name : kTimingNames) {
            const qsizetype length = qsizetype(std::strlen(name));
            if (line.size() - i >= length && qstrnicmp(line.data() + i, name, length) == 0)
                return true;
        }
    }
    return false;
}

bool isTimingName(QByteArrayView name)
{
    return std::any_of(std::begin(kTimingNames), std::end(kTimingNames),
                       [&](const char* timing) { return name == timing; });
}

// A property's parameters as the timing properties may carry them: TZID and VALUE, unquoted, nothing else.
struct Parameters {
    QByteArrayView tzid;
    QByteArrayView value;
};

std::optional<Parameters> parametersOf(QByteArrayView text)
{
    Parameters parameters;
    while (!text.isEmpty()) {
        // `text` starts with the ';' before each parameter.
        text = text.sliced(1);
        qsizetype end = text.indexOf(';');
        if (end < 0)
            end = text.size();
        const QByteArrayView parameter = text.first(end);
        text = text.sliced(end);
        QByteArrayView* slot = nullptr;
        if (parameter.startsWith("TZID="))
            slot = &parameters.tzid;
        else if (parameter.startsWith("VALUE="))
            slot = &parameters.value;
        if (!slot || !slot->isNull())
            return std::nullopt;
        *slot = parameter.sliced(parameter.indexOf('=') + 1);
        if (slot->isEmpty() || slot->contains('"') || slot->contains(','))
            return std::nullopt;
    }
    return parameters;
}

struct Instance {
    qint64 start;
    qint64 end; // of a period; else the start
};

// What one event's timing properties say.
struct Event {
    int starts = 0;
    int ends = 0;
    int durations = 0;
    int recurrenceIds = 0;
    Time start;
    Time end;
    qint64 duration = 0;
    std::vector<Instance> extras;
    bool openEnded = false;
    qint64 lastUntil = std::numeric_limits<qint64>::min();

    // The stretch the event's occurrences lie in, wall-clock times read as UTC.
    std::optional<Reach> reach() const
    {
        if (starts != 1 || ends > 1 || durations > 1 || recurrenceIds > 1 ||
            (ends == 1 && end.date != start.date))
            return std::nullopt;
        qint64 length = start.date && ends == 0 && durations == 0 ? kDay : 0;
        if (ends == 1)
            length = std::max(length, end.wall - start.wall);
        if (durations == 1)
            length = std::max(length, duration);
        Reach reach{start.wall, start.wall + length};
        for (const Instance& extra : extras) {
            reach.firstUtc = std::min(reach.firstUtc, extra.start);
            reach.lastUtc = std::max({reach.lastUtc, extra.start + length, extra.end});
        }
        if (openEnded)
            reach.lastUtc = kUnbounded;
        else if (lastUntil != std::numeric_limits<qint64>::min())
            reach.lastUtc = std::max(reach.lastUtc, lastUntil + length);
        return reach;
    }
};

// A rule whose every part the parser reads without complaint and that gives dates for centuries: daily and
// longer steps, weekdays (numbered only in a month or a year, and never past the fourth), days of the month
// that every month has, months. Its last start is that of its UNTIL; with none it has no end.
bool readRule(QByteArrayView text, Event& event)
{
    QByteArrayView freq;
    QByteArrayView byDay;
    bool count = false;
    bool monthDays = false;
    std::optional<Time> until;
    QList<QByteArrayView> seen;
    // The parts outlive the loop: `freq` and `byDay` look into them.
    const QList<QByteArray> parts = QByteArray::fromRawData(text.data(), text.size()).split(';');
    for (QByteArrayView part : parts) {
        const qsizetype equals = part.indexOf('=');
        if (equals <= 0)
            return false;
        const QByteArrayView name = part.first(equals);
        const QByteArrayView value = part.sliced(equals + 1);
        if (seen.contains(name) || value.isEmpty())
            return false;
        seen.append(name);
        const QList<QByteArray> values = value.toByteArray().split(',');
        const auto all = [&](auto&& valid) { return std::all_of(values.cbegin(), values.cend(), valid); };
        bool valid = false;
        if (name == "FREQ") {
            freq = value;
            valid = value == "DAILY" || value == "WEEKLY" || value == "MONTHLY" || value == "YEARLY";
        }
        else if (name == "INTERVAL") {
            valid = number(value) >= 1 && number(value) <= 999;
        }
        else if (name == "COUNT") {
            count = true;
            valid = number(value) >= 1 && number(value) <= 99999;
        }
        else if (name == "UNTIL") {
            until = timeOf(value);
            valid = until.has_value();
        }
        else if (name == "WKST") {
            valid = isWeekday(value);
        }
        else if (name == "BYMONTH") {
            valid = all([](const QByteArray& v) { return number(v) >= 1 && number(v) <= 12; });
        }
        else if (name == "BYMONTHDAY") {
            monthDays = true;
            valid = all([](const QByteArray& v) {
                const int day = v.startsWith('-') ? number(QByteArrayView(v).sliced(1)) : number(v);
                return day >= 1 && day <= 28;
            });
        }
        else if (name == "BYDAY") {
            byDay = value;
            valid = true;
        }
        if (!valid)
            return false;
    }
    if (freq.isEmpty() || (count && until))
        return false;
    if (!byDay.isEmpty()) {
        const bool positions = (freq == "MONTHLY" || freq == "YEARLY") && !monthDays;
        for (QByteArrayView day : QByteArray::fromRawData(byDay.data(), byDay.size()).split(',')) {
            if (day.size() < 2 || !isWeekday(day.last(2)))
                return false;
            QByteArrayView position = day.chopped(2);
            if (position.isEmpty())
                continue;
            if (position.front() == '-' || position.front() == '+')
                position = position.sliced(1);
            const int n = number(position);
            if (!positions || n < 1 || n > 4)
                return false;
        }
    }
    if (!until)
        event.openEnded = true;
    else
        event.lastUntil = std::max(event.lastUntil, until->wall + (until->date ? kDay : 0));
    return true;
}

// A timing property of an event; false when it is not plainly written.
bool readTiming(QByteArrayView name, QByteArrayView parameterText, QByteArrayView value, Event& event)
{
    const std::optional<Parameters> parameters = parametersOf(parameterText);
    if (!parameters)
        return false;
    const QByteArrayView type = parameters->value;
    if (name == "RRULE")
        return parameterText.isEmpty() && readRule(value, event);
    if (name == "DURATION") {
        const std::optional<qint64> duration = durationOf(value);
        if (!parameterText.isEmpty() || !duration)
            return false;
        ++event.durations;
        event.duration = std::max<qint64>(*duration, 0);
        return true;
    }
    const bool periods = name == "RDATE" && type == "PERIOD";
    if (!type.isNull() && type != "DATE" && type != "DATE-TIME" && !periods)
        return false;
    const bool several = name == "RDATE" || name == "EXDATE";
    const QList<QByteArray> values =
        several ? QByteArray::fromRawData(value.data(), value.size()).split(',') : QList{value.toByteArray()};
    for (const QByteArray& text : values) {
        const qsizetype slash = text.indexOf('/');
        if ((slash >= 0) != periods)
            return false;
        const std::optional<Time> time = timeOf(periods ? text.first(slash) : text);
        if (!time || time->date != (type == "DATE") || (time->utc && !parameters->tzid.isNull()))
            return false;
        Instance instance{time->wall, time->wall};
        if (periods) {
            const QByteArrayView rest = QByteArrayView(text).sliced(slash + 1);
            const std::optional<Time> end = rest.startsWith('P') ? std::nullopt : timeOf(rest);
            const std::optional<qint64> duration = end ? std::nullopt : durationOf(rest);
            if ((!end && !duration) || (end && end->date) || time->date)
                return false;
            instance.end = end ? end->wall : time->wall + *duration;
        }
        if (name == "DTSTART")
            event.start = *time, ++event.starts;
        else if (name == "DTEND")
            event.end = *time, ++event.ends;
        else if (name == "RECURRENCE-ID")
            ++event.recurrenceIds;
        else if (name == "RDATE")
            event.extras.push_back(instance);
    }
    return true;
}

// The logical lines of a file: a line with the lines folded into it.
class Lines {
public:
    explicit Lines(QByteArrayView bytes) : m_at(bytes.data()), m_end(bytes.data() + bytes.size()) {}

    // False at the end. `line` is the first physical line; when others are folded into it, `folded` is set
    // and `joined` holds them all.
    bool next(QByteArrayView& line, bool& folded, QByteArray& joined)
    {
        if (m_at >= m_end)
            return false;
        line = physical();
        folded = false;
        while (m_at < m_end && (*m_at == ' ' || *m_at == '\t')) {
            if (!folded)
                joined = line.toByteArray();
            folded = true;
            joined += physical().sliced(1);
        }
        return true;
    }

    // A carriage return anywhere but before a line feed.
    bool strayReturn() const { return m_strayReturn; }

private:
    QByteArrayView physical()
    {
        const char* start = m_at;
        const char* end = static_cast<const char*>(std::memchr(start, '\n', std::size_t(m_end - start)));
        if (!end)
            end = m_end;
        m_at = end < m_end ? end + 1 : m_end;
        if (end > start && end[-1] == '\r')
            --end;
        QByteArrayView line(start, end - start);
        m_strayReturn = m_strayReturn || line.contains('\r');
        return line;
    }

    const char* m_at;
    const char* m_end;
    bool m_strayReturn = false;
};

enum class Component { Calendar, Event, Alarm, TimeZone, ZoneRule };

bool isName(QByteArrayView name)
{
    return !name.isEmpty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
    });
}

} // namespace

std::optional<Reach> reachOf(QByteArrayView bytes)
{
    if (!bytes.startsWith("BEGIN:VCALENDAR") || std::memchr(bytes.data(), 0, std::size_t(bytes.size())))
        return std::nullopt;
    std::vector<Component> open;
    bool ended = false;
    bool anyEvent = false;
    Reach reach{kUnbounded, -kUnbounded};
    Event event;
    Lines lines(bytes);
    QByteArrayView line;
    bool folded = false;
    QByteArray joined;
    while (lines.next(line, folded, joined)) {
        if (ended) {
            if (!line.isEmpty() || folded)
                return std::nullopt; // the parser drops what follows; better let it
            continue;
        }
        qsizetype nameEnd = 0;
        while (nameEnd < line.size() && line[nameEnd] != ':' && line[nameEnd] != ';')
            ++nameEnd;
        const QByteArrayView name = line.first(nameEnd);
        if (!isName(name) || nameEnd == line.size() || name.startsWith("X-LIC-ERROR"))
            return std::nullopt;
        if (name == "BEGIN" || name == "END") {
            if (folded || line[nameEnd] != ':')
                return std::nullopt;
            const QByteArrayView value = line.sliced(nameEnd + 1);
            const Component inside = open.empty() ? Component::ZoneRule : open.back();
            Component component;
            if (value == "VCALENDAR" && (open.empty() || name == "END"))
                component = Component::Calendar;
            else if (value == "VEVENT" && (inside == Component::Calendar || name == "END"))
                component = Component::Event;
            else if (value == "VALARM" && (inside == Component::Event || name == "END"))
                component = Component::Alarm;
            else if (value == "VTIMEZONE" && (inside == Component::Calendar || name == "END"))
                component = Component::TimeZone;
            else if ((value == "STANDARD" || value == "DAYLIGHT") &&
                     (inside == Component::TimeZone || name == "END"))
                component = Component::ZoneRule;
            else
                return std::nullopt;
            if (name == "BEGIN") {
                open.push_back(component);
                if (component == Component::Event)
                    event = Event();
                continue;
            }
            if (open.empty() || open.back() != component)
                return std::nullopt;
            open.pop_back();
            if (component == Component::Event) {
                const std::optional<Reach> own = event.reach();
                if (!own)
                    return std::nullopt;
                anyEvent = true;
                reach.firstUtc = std::min(reach.firstUtc, own->firstUtc);
                reach.lastUtc = std::max(reach.lastUtc, own->lastUtc);
            }
            ended = open.empty();
            continue;
        }
        if (open.empty())
            return std::nullopt;
        const QByteArrayView whole = folded ? QByteArrayView(joined) : line;
        switch (open.back()) {
        case Component::Calendar:
            break;
        case Component::TimeZone:
        case Component::ZoneRule:
            // A file's own zone is used as written; it must not move times further than zones do.
            if (name == "TZOFFSETFROM" || name == "TZOFFSETTO") {
                if (folded || line[nameEnd] != ':' || !offsetIsPlain(line.sliced(nameEnd + 1)))
                    return std::nullopt;
            }
            break;
        case Component::Event:
        case Component::Alarm: {
            const bool alarmDuration = open.back() == Component::Alarm && name == "DURATION";
            if (isTimingName(name) && (open.back() == Component::Event || alarmDuration)) {
                const qsizetype colon = line.indexOf(':');
                // A line that goes on on the next, or has no value where the parser looks for one.
                if (folded || colon < nameEnd || line.sliced(nameEnd, colon - nameEnd).contains('"'))
                    return std::nullopt;
                Event alarm;
                if (!readTiming(name, line.sliced(nameEnd, colon - nameEnd), line.sliced(colon + 1),
                                alarmDuration ? alarm : event))
                    return std::nullopt;
            }
            else if (mentionsTiming(whole)) {
                // A line the parser may not read and whose complaint names a timing property.
                return std::nullopt;
            }
            break;
        }
        }
    }
    if (!ended || lines.strayReturn() || !anyEvent)
        return std::nullopt;
    if (reach.lastUtc < kUnbounded)
        reach.lastUtc += kMargin;
    reach.firstUtc -= kMargin;
    return reach;
}

} // namespace CalendarPrefilter
