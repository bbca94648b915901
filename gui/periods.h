#pragma once

#include <QDate>
#include <QString>

// The periods the main window's views stand for, and the rules of its two date pickers. Plain functions of
// the date, so that they are tested without a window.
namespace Periods {

struct Range {
    QDate from;
    QDate to;
    bool operator==(const Range&) const = default;
};

// The longest period the pickers allow, counted inclusively.
constexpr int kMaxDays = 187;

Range thisWeek(const QDate& today); // Monday to Sunday
Range nextWeek(const QDate& today);
Range thisMonth(const QDate& today); // the first to the last day of the month
Range nextMonth(const QDate& today);

// After the user changed picker `index` (0: from, 1: to): the other picker moves so that the range runs
// forwards and spans at most kMaxDays days.
Range pickerChanged(Range range, int index);

// Whether a report keyword accepts the view on screen: the HTML tables need a week, month or date-range view,
// the pictures and the PDF any view. An unknown report accepts nothing.
bool reportAcceptsView(const QString& report, const QString& view);
bool isDayView(const QString& view);

} // namespace Periods
