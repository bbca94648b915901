#include "planning/memberquery.h"

#include "base/datetext.h"
#include "base/languagetexts.h"
#include "base/programstate.h"
#include "base/textids.h"
#include "mailbox/mailbox.h"
#include "planning/colourrules.h"
#include "planning/enginestate.h"
#include "planning/memberrow.h"
#include "planning/planninggrid.h"
#include "planning/planningmatrix.h"
#include "planning/querycontext.h"

#include <algorithm>

namespace MemberQuery {

namespace {

constexpr int kHeaderRows = 4;
constexpr int kNameColumnWidth = 1200;
constexpr int kDayColumnWidth = 960;
constexpr int kColourDayColumnWidth = 400;
constexpr qint64 kWeekendColour = 16744576; // a light blue

void writeMatrixHeaders(const QueryContext& context)
{
    for (int row = 0; row < kHeaderRows && row < context.grid.rows(); ++row) {
        for (int column = 0; column < context.grid.columns() && column < PlanningMatrix::kColumns; ++column) {
            PlanningCell& cell = context.matrix.cell(row, column);
            cell.html = htmlText(context.grid.text(row, column));
            cell.gridColour = QStringLiteral("0");
            cell.htmlColour = QStringLiteral("FFFFFF");
        }
    }
}

void markUnresolved(const QueryContext& context, int row, const QString& listName)
{
    PlanningGrid& grid = context.grid;
    const PlanningGrid::QuietChanges quiet(grid);
    grid.setText(row, 0, listName);
    PlanningCell& nameCell = context.matrix.cell(row, 0);
    nameCell.html = htmlText(listName);
    nameCell.htmlColour = QStringLiteral("FFFFFF");
    for (int column = 1; column < grid.columns() && column < PlanningMatrix::kColumns; ++column) {
        grid.setText(row, column, QStringLiteral("?"));
        grid.setBackColour(row, column, 0);
        PlanningCell& cell = context.matrix.cell(row, column);
        cell.html = QStringLiteral("?");
        cell.htmlColour = QStringLiteral("FFFFFF");
    }
}

} // namespace

QString restrictionText(const QDateTime& periodStart, const QDateTime& periodEnd)
{
    const QString s = u'"' + DateText::generalDate(periodStart) + u'"';
    const QString e = u'"' + DateText::generalDate(periodEnd) + u'"';
    return QStringLiteral("([Start] >= ") + s + QStringLiteral(" and [Start] <= ") + e +
           QStringLiteral(") ") + QStringLiteral("OR ([Start] <= ") + s + QStringLiteral(" and [End] >= ") +
           e + QStringLiteral(") ") + QStringLiteral("OR ([Start] <= ") + s +
           QStringLiteral(" And [End] <= ") + e + QStringLiteral(" And [End] >= ") + s + QStringLiteral(")");
}

double daysBetween(const QDateTime& from, const QDateTime& to)
{
    return daysBetween(from.date(), from.time(), to.date(), to.time());
}

void buildDayHeaders(const QueryContext& context, const QDate& startDate, const QDate& endDate,
                     int memberCount, bool colourMode)
{
    PlanningGrid& grid = context.grid;
    const LanguageTexts& texts = context.texts;
    const int days = int(std::min<qint64>(startDate.daysTo(endDate) + 1, kMaxDays));

    grid.setRows(1);
    grid.setColumns(1);
    grid.clear();
    grid.setColumns(days + 1);
    grid.setRows(memberCount + kHeaderRows);
    grid.setFixedColumns(1);
    grid.setFixedRows(kHeaderRows);

    grid.setColumnWidth(0, kNameColumnWidth);
    for (int row = kHeaderRows; row < grid.rows(); ++row)
        grid.setRowHeight(row, 3 * grid.rowHeight(row));
    grid.setMergeMode(PlanningGrid::MergeMode::RestrictRows);
    grid.setMergeRow(0, true);
    grid.setMergeRow(1, true);

    const QString dayPattern = texts.message(Message::DayHeaderPattern);
    for (int column = 1; column <= days; ++column) {
        const QDate day = startDate.addDays(column - 1);
        grid.setColumnWidth(column, colourMode ? kColourDayColumnWidth : kDayColumnWidth);

        grid.setText(0, column, DateText::format(day, QStringLiteral("MMM")).toUpper());
        grid.setText(1, column, texts.message(Message::WeekPrefix) + QString::number(day.weekNumber()));
        grid.setText(2, column,
                     colourMode ? DateText::format(day, QStringLiteral("ddd")).left(1).toUpper()
                                : DateText::format(day, QStringLiteral("dddd")));
        grid.setText(3, column, DateText::format(day, colourMode ? QStringLiteral("dd") : dayPattern));
        for (int row = 0; row < kHeaderRows; ++row) {
            grid.setAlignment(row, column,
                              row < 2 ? PlanningGrid::Alignment::Centre : PlanningGrid::Alignment::CentreTop);
            grid.setBold(row, column, true);
        }
        grid.setBackColour(3, column, 0);
        if (day.dayOfWeek() >= 6) {
            grid.setBackColour(2, column, kWeekendColour);
            grid.setBackColour(3, column, kWeekendColour);
            if (context.engine.hideWeekends)
                grid.setColumnWidth(column, 0);
        }
        // The width the window stretches from when it fits the columns to its width; 0 keeps a column hidden.
        grid.setRememberedWidth(column, grid.columnWidth(column));
    }
    if (!colourMode && context.layoutChanged)
        context.layoutChanged();
}

QueryOutcome run(const QueryContext& context, const QDate& startDate, const QDate& endDate,
                 const QStringList& members, bool colourMode)
{
    QueryOutcome outcome;
    EngineState& engine = context.engine;
    PlanningGrid& grid = context.grid;
    const LanguageTexts& texts = context.texts;

    if (members.isEmpty()) {
        reportProblem(context, MessageIcon::Information, texts.message(Message::NoTeamMembers));
        return outcome;
    }
    // The matrix holds 127 members and 190 days: what lies beyond is left out, and said once.
    const QStringList shownMembers = members.mid(0, kMaxMembers);
    const QDate lastDay = std::min(endDate, startDate.addDays(kMaxDays - 1));
    if (shownMembers.size() < members.size())
        reportProblem(context, MessageIcon::Information, texts.message(Message::TooManyMembers));
    if (lastDay < endDate)
        reportProblem(context, MessageIcon::Information, texts.message(Message::PeriodTooLong));

    context.busy(true);
    engine.queryRunning = true;
    const QString restriction =
        restrictionText(QDateTime(startDate, QTime(0, 0)), QDateTime(lastDay.addDays(1), QTime(0, 0)));
    MemberRow memberRow(context, startDate, lastDay, restriction);
    {
        // A view sees the new layout at once, not cell by cell.
        const PlanningGrid::QuietChanges quiet(grid);
        if (!engine.headersValid) {
            memberRow.takeGridTexts();
            buildDayHeaders(context, startDate, lastDay, int(shownMembers.size()), colourMode);
        }

        grid.setWordWrap(true);
        // The member rows' day cells are reset by memberRow as it writes each row, or clears it: a cell that
        // ends as it was is then left alone rather than emptied and filled again.
        const auto clearText = [&grid](int row, int column) { grid.setText(row, column, QString()); };
        const int memberRowsEnd = kHeaderRows + int(shownMembers.size());
        context.matrix.reset(std::min(grid.rows(), kHeaderRows), grid.fixedRows(), grid.columns(), clearText);
        context.matrix.reset(std::min(grid.rows(), memberRowsEnd), std::max(grid.fixedRows(), kHeaderRows), 1,
                             clearText);
        context.matrix.reset(grid.rows(), std::max(grid.fixedRows(), memberRowsEnd), grid.columns(),
                             clearText);
        writeMatrixHeaders(context);
    }
    if (engine.useFilters)
        context.rules.load(context.filters, context.settings, texts);

    context.mailbox.prepareCalendars(shownMembers, restriction);
    outcome.members = int(shownMembers.size());
    for (int index = 0; index < shownMembers.size(); ++index) {
        const int row = kHeaderRows + index;
        const QString& listName = shownMembers.at(index);
        Recipient recipient = context.mailbox.createRecipient(listName);
        if (!recipient.resolve()) {
            memberRow.clear(row);
            markUnresolved(context, row, listName);
            outcome.unreadable.append(listName);
            continue;
        }
        grid.setText(row, 0, recipient.name());
        context.matrix.cell(row, 0).html = htmlText(recipient.name());

        memberRow.begin(row);
        const CalendarWalk walk = walkMemberCalendar(
            context, recipient, listName, restriction,
            [&](const MailboxItem& item) {
                context.breathe();
                if (!engine.queryRunning)
                    return false;
                memberRow.add(item);
                return true;
            },
            [&](quint64 revision) { memberRow.found(revision); });
        if (walk == CalendarWalk::Unreadable)
            outcome.unreadable.append(listName);
        // A cancelled member keeps the appointments placed before the cancel.
        memberRow.write(walk != CalendarWalk::Stopped);
        if (walk == CalendarWalk::Stopped) {
            // The members not reached are left as the reset leaves them.
            for (int later = index + 1; later < shownMembers.size(); ++later)
                memberRow.clear(kHeaderRows + later);
            context.busy(false);
            return outcome;
        }
    }
    context.busy(false);
    engine.queryRunning = false;
    engine.headersValid = true;
    outcome.completed = true;
    return outcome;
}

} // namespace MemberQuery
