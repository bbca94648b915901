#include "gui/periods.h"

namespace Periods {

Range thisWeek(const QDate& today)
{
    const int weekday = today.dayOfWeek();
    return {today.addDays(1 - weekday), today.addDays(7 - weekday)};
}

Range nextWeek(const QDate& today)
{
    const int weekday = today.dayOfWeek();
    return {today.addDays(8 - weekday), today.addDays(14 - weekday)};
}

Range thisMonth(const QDate& today)
{
    const QDate first(today.year(), today.month(), 1);
    return {first, first.addDays(first.daysInMonth() - 1)};
}

Range nextMonth(const QDate& today)
{
    const QDate first = QDate(today.year(), today.month(), 1).addMonths(1);
    return {first, first.addMonths(1).addDays(-1)};
}

Range pickerChanged(Range range, int index)
{
    if (range.from > range.to) {
        if (index == 0)
            range.to = range.from.addDays(1);
        else
            range.from = range.to.addDays(-1);
    }
    if (range.from.daysTo(range.to) > kMaxDays - 1) {
        if (index == 0)
            range.to = range.from.addDays(kMaxDays - 1);
        else
            range.from = range.to.addDays(-(kMaxDays - 1));
    }
    return range;
}

bool isDayView(const QString& view)
{
    return view == QLatin1StringView("Today") || view == QLatin1StringView("Tomorrow") ||
           view == QLatin1StringView("ThisDay");
}

bool reportAcceptsView(const QString& report, const QString& view)
{
    if (view.isEmpty())
        return false;
    if (report == QLatin1StringView("ReportHTMLPlan") || report == QLatin1StringView("ReportHTMLColor"))
        return !isDayView(view);
    return report == QLatin1StringView("ReportImage") || report == QLatin1StringView("ReportPNG") ||
           report == QLatin1StringView("ReportPDF");
}

} // namespace Periods
