#include "planning/dayview.h"

#include "base/datetext.h"
#include "base/languagetexts.h"
#include "base/programstate.h"
#include "base/textids.h"
#include "mailbox/mailbox.h"
#include "planning/colourrules.h"
#include "planning/enginestate.h"
#include "planning/memberquery.h"
#include "planning/planninggrid.h"
#include "planning/planningmatrix.h"
#include "planning/querycontext.h"

namespace DayView {

namespace {

constexpr int kHourColumnWidth = 500;
constexpr int kMinuteColumnWidth = 300;
constexpr int kHalfHourStepMs = (29 * 60 + 59) * 1000;
const auto kSeparator = QStringLiteral("<br>--------<br>");

// A cell "holds text" when it compares greater than a single blank.
bool holdsText(const QString& text)
{
    return QString::compare(text, QStringLiteral(" ")) > 0;
}

void writeInto(const QueryContext& context, int row, int column, const QString& shown, const QString& html)
{
    PlanningGrid& grid = context.grid;
    PlanningCell& cell = context.matrix.cell(row, column);
    if (holdsText(grid.text(row, column))) {
        grid.setText(row, column, grid.text(row, column).trimmed() + u'\r' + shown);
        cell.html = cell.html.trimmed() + kSeparator + html;
    }
    else {
        grid.setText(row, column, shown);
        cell.html = html;
    }
}

} // namespace

int rowOf(const QTime& time)
{
    return kFirstHalfHourRow + time.msecsSinceStartOfDay() / kHalfHourStepMs;
}

void buildLayout(const QueryContext& context, const QDate& day, int memberCount, bool rebuild)
{
    PlanningGrid& grid = context.grid;
    PlanningMatrix& matrix = context.matrix;
    grid.setRedraw(false);
    if (rebuild) {
        grid.setRows(0);
        grid.setColumns(0);
        grid.clear();
    }
    grid.setRows(kRows);
    grid.setColumns(memberCount + 2);
    grid.setFixedRows(3);
    grid.setFixedColumns(2);
    matrix.reset(grid.rows(), grid.fixedRows(), grid.columns(),
                 [&grid](int row, int column) { grid.setText(row, column, QString()); });
    for (int row = 0; row < kRows; ++row) {
        for (int column = 0; column < grid.columns() && column < PlanningMatrix::kColumns; ++column) {
            PlanningCell& cell = matrix.cell(row, column);
            cell.html = QStringLiteral("&nbsp");
            cell.htmlColour = QStringLiteral("FFFFFF");
            cell.ruleRank = QStringLiteral("0");
        }
    }

    for (int row = 0; row < 3; ++row) {
        grid.setText(row, 0, QStringLiteral(" "));
        grid.setText(row, 1, QStringLiteral(" "));
    }
    grid.setMergeMode(PlanningGrid::MergeMode::Free);
    for (int row = 0; row < 3; ++row)
        grid.setMergeRow(row, true);
    grid.setMergeColumn(0, true);
    grid.setMergeColumn(1, true);
    grid.setColumnWidth(0, kHourColumnWidth);
    grid.setColumnWidth(1, kMinuteColumnWidth);
    grid.setRowHeight(0, grid.standardRowHeight() * 3 / 2);

    const QString title = DateText::format(day, QStringLiteral("dddd dd/mm/yyyy"));
    for (int column = 2; column < grid.columns(); ++column) {
        grid.setText(0, column, title);
        grid.setBold(0, column, true);
        grid.setFontSize(0, column, 12);
        grid.setAlignment(0, column, PlanningGrid::Alignment::Centre);
        if (PlanningMatrix::contains(0, column))
            matrix.cell(0, column).html = title.toHtmlEscaped();
    }
    if (rebuild) {
        // The names come from the team list as written, before any resolution.
        for (int column = 2; column < grid.columns(); ++column) {
            grid.setBold(1, column, true);
            grid.setRememberedWidth(column, grid.columnWidth(column));
        }
    }

    for (int hour = 0; hour < 24; ++hour) {
        const QString hourText = QStringLiteral("%1").arg(hour, 2, 10, QLatin1Char('0'));
        for (int half = 0; half < 2; ++half) {
            const int row = kFirstHalfHourRow + 2 * hour + half;
            const QString minutes = half == 0 ? QStringLiteral("00") : QStringLiteral("30");
            grid.setText(row, 0, hourText);
            grid.setBold(row, 0, true);
            grid.setFontSize(row, 0, 14);
            grid.setAlignment(row, 0, PlanningGrid::Alignment::CentreTop);
            grid.setText(row, 1, minutes);
            matrix.cell(row, 0).html = hourText;
            matrix.cell(row, 1).html = minutes;
        }
    }

    const int startHour = context.program.dayStartHour;
    const int endHour = context.program.dayEndHour;
    if (rebuild && endHour > startHour && endHour <= 24 && context.gridHeight) {
        const int available = context.gridHeight() - 3 * grid.rowHeight(1);
        const int height = available / (2 * (endHour - startHour));
        if (height > 0) {
            for (int row = kFirstHalfHourRow + 2 * startHour;
                 row <= kFirstHalfHourRow + 2 * endHour && row <= kLastHalfHourRow; ++row)
                grid.setRowHeight(row, height);
        }
    }
    grid.setRedraw(true);
    grid.setTopRow(std::min(kFirstHalfHourRow + 2 * startHour, kLastHalfHourRow));
}

void placeItem(const QueryContext& context, const QDate& day, const QString& subject,
               const QString& categories, int column, const QDateTime& start, const QDateTime& end,
               bool allDay, int sensitivity)
{
    PlanningGrid& grid = context.grid;
    if (column < 2 || column >= grid.columns() || !PlanningMatrix::contains(0, column))
        return;
    QString shown = sensitivity != 0 ? context.texts.message(Message::PrivateAppointment) : subject;
    if (shown.isEmpty())
        shown = QStringLiteral(" ");
    grid.setCurrentCell(grid.row(), column);

    auto colour = [&](int row) {
        grid.setCurrentCell(row, column);
        grid.setAlignment(row, column, PlanningGrid::Alignment::LeftTop);
        context.rules.colourCell(subject, categories, row, column, context.matrix, context.engine,
                                 context.texts);
        grid.setBackColour(row, column, context.matrix.cell(row, column).gridColour.toLongLong());
    };

    if (allDay) {
        colour(kAllDayRow);
        if (holdsText(grid.text(kAllDayRow, column)))
            writeInto(context, kAllDayRow, column, shown, shown.toHtmlEscaped());
        else
            writeInto(context, kAllDayRow, column, shown.trimmed(), shown.trimmed().toHtmlEscaped());
        return;
    }

    const QDateTime dayStart(day, QTime(0, 0));
    const int firstRow = start < dayStart ? kFirstHalfHourRow : rowOf(start.time());
    int lastRow = end >= QDateTime(day.addDays(1), QTime(0, 0)) ? kLastHalfHourRow : rowOf(end.time()) - 1;
    // An item that starts and ends inside one half hour still shows, in its start row.
    lastRow = std::max(lastRow, firstRow);
    const QString text = appointmentTimes(start < dayStart ? QTime(0, 0) : start.time(), end.time());
    const QString html = text + shown.toHtmlEscaped();
    for (int row = std::max(firstRow, kFirstHalfHourRow); row <= std::min(lastRow, kLastHalfHourRow); ++row) {
        colour(row);
        writeInto(context, row, column, shown, html);
    }
}

QueryOutcome run(const QueryContext& context, const QDate& day, const QStringList& members)
{
    QueryOutcome outcome;
    EngineState& engine = context.engine;
    const LanguageTexts& texts = context.texts;
    if (members.isEmpty()) {
        reportProblem(context, MessageIcon::Information, texts.message(Message::NoTeamMembers));
        return outcome;
    }
    const QStringList shownMembers = members.mid(0, kMaxMembers);
    if (shownMembers.size() < members.size())
        reportProblem(context, MessageIcon::Information, texts.message(Message::TooManyMembers));

    context.busy(true);
    buildLayout(context, day, int(shownMembers.size()), !engine.headersValid);
    if (!engine.headersValid) {
        for (int index = 0; index < shownMembers.size(); ++index)
            context.grid.setText(1, 2 + index, shownMembers.at(index));
    }
    engine.queryRunning = true;
    if (engine.useFilters)
        context.rules.load(context.filters, context.settings, texts);

    const QString restriction =
        MemberQuery::restrictionText(QDateTime(day, QTime(0, 0)), QDateTime(day.addDays(1), QTime(0, 0)));
    context.mailbox.prepareCalendars(shownMembers, restriction);
    outcome.members = int(shownMembers.size());
    for (int index = 0; index < shownMembers.size(); ++index) {
        const int column = 2 + index;
        const QString& listName = shownMembers.at(index);
        Recipient recipient = context.mailbox.createRecipient(listName);
        recipient.resolve();
        context.breathe();
        if (!engine.queryRunning) {
            context.busy(false);
            return outcome;
        }
        if (!recipient.isResolved()) {
            outcome.unreadable.append(listName);
            continue;
        }

        // An unreadable appointment is reported and the member's others still show, as in the member view.
        const CalendarWalk walk =
            walkMemberCalendar(context, recipient, listName, restriction, [&](const MailboxItem& item) {
                // A timed appointment that ends at the midnight the day begins with is over before it.
                const bool endedBefore =
                    !item.allDay && item.start.date() < day && item.end == QDateTime(day, QTime(0, 0));
                if (item.start.date() <= day && item.end.date() >= day && !endedBefore &&
                    !(item.sensitivity == MailboxItem::Private && engine.hidePrivate))
                    placeItem(context, day, item.subject, item.categories, column, item.start, item.end,
                              item.allDay, item.sensitivity);
                return true;
            });
        if (walk == CalendarWalk::Unreadable)
            outcome.unreadable.append(listName);
    }
    engine.queryRunning = false;
    context.busy(false);
    for (int column = 2; column < context.grid.columns(); ++column)
        context.grid.setMergeColumn(column, true);
    engine.headersValid = true;
    outcome.completed = true;
    return outcome;
}

} // namespace DayView
