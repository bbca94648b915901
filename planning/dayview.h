#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

struct QueryContext;
struct QueryOutcome;

// The day view: one day for the whole team, one column per member, one row per half hour from 00:00 to
// 23:30, with the all-day events in a row of their own above the hours.
namespace DayView {

constexpr int kMaxMembers = 189; // columns 2 to 190
constexpr int kRows = 51;
constexpr int kAllDayRow = 2;
constexpr int kFirstHalfHourRow = 3;
constexpr int kLastHalfHourRow = 50;

// The row of a time of day: half hours are measured as 29 minutes 59 seconds, so that an exact half hour
// falls into its own row.
int rowOf(const QTime& time);

void buildLayout(const QueryContext& context, const QDate& day, int memberCount, bool rebuild);

void placeItem(const QueryContext& context, const QDate& day, const QString& subject,
               const QString& categories, int column, const QDateTime& start, const QDateTime& end,
               bool allDay, int sensitivity);

QueryOutcome run(const QueryContext& context, const QDate& day, const QStringList& members);

} // namespace DayView
