#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

struct QueryContext;
struct QueryOutcome;

// The member-by-day view: one row per team member, one column per day of the period, each day cell holding
// the member's appointments of that day, written into the grid and the planning matrix alike.
namespace MemberQuery {

// The largest team and period the planning matrix holds.
constexpr int kMaxMembers = 127;
constexpr int kMaxDays = 190;

// The restriction that selects a period's appointments: those that start inside it, those that cover it
// whole, and those that start before it and end inside it. `periodEnd` is the midnight that ends the period.
QString restrictionText(const QDateTime& periodStart, const QDateTime& periodEnd);

// Days between two date-times as a calendar would count them, fractions included, ignoring daylight-saving
// changes.
double daysBetween(const QDateTime& from, const QDateTime& to);
// The same with the dates and times apart.
inline double daysBetween(const QDate& fromDay, const QTime& fromTime, const QDate& toDay,
                          const QTime& toTime)
{
    return double(fromDay.daysTo(toDay)) +
           double(toTime.msecsSinceStartOfDay() - fromTime.msecsSinceStartOfDay()) / 86400000.0;
}

// The days an appointment covers from `fromDay`/`fromTime` to `toDay`/`toTime`: the days between them plus
// one, rounded to the nearest whole number with halves to even, as nearbyint of daysBetween + 1 gives it,
// worked out in whole numbers. The times lie within a day, so the fraction lies between -1 and 1.
inline qint64 dayCount(const QDate& fromDay, const QTime& fromTime, const QDate& toDay, const QTime& toTime)
{
    constexpr int kHalfDay = 43200000;
    const qint64 days = fromDay.daysTo(toDay) + 1;
    const int ms = toTime.msecsSinceStartOfDay() - fromTime.msecsSinceStartOfDay();
    const bool odd = days % 2 != 0;
    if (ms > kHalfDay || (ms == kHalfDay && odd))
        return days + 1;
    if (ms < -kHalfDay || (ms == -kHalfDay && odd))
        return days - 1;
    return days;
}

// Lays out the day columns and the four header rows (month, week, weekday, day).
void buildDayHeaders(const QueryContext& context, const QDate& startDate, const QDate& endDate,
                     int memberCount, bool colourMode);

// Fills the grid and the matrix for the members (names as listed for the team). A team or period larger than
// the matrix holds is cut to what fits, and the user is told once.
QueryOutcome run(const QueryContext& context, const QDate& startDate, const QDate& endDate,
                 const QStringList& members, bool colourMode);

} // namespace MemberQuery
