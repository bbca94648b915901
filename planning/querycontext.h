#pragma once

#include "planning/filterlist.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class ColourRules;
class MailboxItem;
class Recipient;
class LanguageTexts;
class Mailbox;
class PlanningGrid;
class PlanningMatrix;
class SettingsStore;
struct EngineState;
struct ProgramState;
struct QueryMemory;

// "HH:MM HH:MM ", the start and end that lead an appointment's text: two-digit hours on the 24-hour clock, a
// colon and two-digit minutes, whatever the locale.
QString appointmentTimes(const QTime& start, const QTime& end);
// The same twelve characters written to `out`.
constexpr int kAppointmentTimesLength = 12;
void writeAppointmentTimes(QChar* out, const QTime& start, const QTime& end);

// Calendar text as it goes into the matrix's HTML: escaped; the matrix's own markers stay as they are.
// Most texts need no escaping, and then the result shares the text's own string.
QString htmlText(const QString& text);

// A yield for the queries that lets the window's events run at most every `intervalMs`: often enough to keep
// the window responsive and the cancel button live, without paying for an event loop pass per appointment.
// A caller whose calls come very close together reads the clock on every `callsPerClockReading`th only.
std::function<void()> eventPump(int intervalMs = 15, unsigned callsPerClockReading = 1);
// The pump for a calendar query, which yields once per appointment, a few hundred nanoseconds apart: even the
// coarse clock costs about what handing out an appointment does, and is read on every 16th call.
inline std::function<void()> queryEventPump()
{
    return eventPump(15, 16);
}

enum class MessageIcon { None, Information, Exclamation, Critical };

// What the calendar queries work on and with. The window that runs a query provides the callbacks: they are
// how a query, which knows no widgets, shows a message, lets the window breathe and asks for its layout.
struct QueryContext {
    EngineState& engine;
    const ProgramState& program;
    PlanningMatrix& matrix;
    PlanningGrid& grid;
    const LanguageTexts& texts;
    Mailbox& mailbox;
    ColourRules& rules;
    const SettingsStore& settings;
    // The main window's filter list, in list order, with what is selected.
    QList<FilterListEntry> filters;

    // Lets pending window events run; the cancel button clears QueryRunning from there.
    std::function<void()> yield{};
    // A message box; in an unattended run the window sends the text to standard error instead.
    std::function<void(MessageIcon, const QString&)> showMessage{};
    std::function<void(bool)> setBusy{};
    // The window recomputes its layout for new day columns.
    std::function<void()> layoutChanged{};
    // The grid's height on screen, in twips, which the day view fills with the working hours.
    std::function<int()> gridHeight{};
    // What the last query into this grid left for the next one to reuse; none, and nothing is reused.
    QueryMemory* memory = nullptr;

    void message(MessageIcon icon, const QString& text) const
    {
        if (showMessage)
            showMessage(icon, text);
    }
    void busy(bool on) const
    {
        if (setBusy)
            setBusy(on);
    }
    void breathe() const
    {
        if (yield)
            yield();
    }
};

// Tells the user about a failure: a message box, or a line on standard error in an unattended run, which
// never waits for a person.
void reportProblem(const QueryContext& context, MessageIcon icon, const QString& text);

// How a member's calendar was walked: to its end, stopped by the caller, or not at all because it could not
// be opened or searched.
enum class CalendarWalk { Finished, Stopped, Unreadable };

// Reads a resolved member's calendar as the queries do: opens it, finds the restriction's appointments in
// start order with every occurrence of a series on its own, and hands each to `onItem`. An unreadable
// appointment is reported and skipped; any other failure is reported and ends this member (Unreadable).
// `onItem` returns false to stop (Stopped). `onFound`, when given, learns the calendar's revision
// (ItemCollection::revision) once the appointments are found, before the first of them.
CalendarWalk walkMemberCalendar(const QueryContext& context, const Recipient& recipient,
                                const QString& listName, const QString& restriction,
                                const std::function<bool(const MailboxItem&)>& onItem,
                                const std::function<void(quint64 revision)>& onFound = {});

// What a query could not show: the members, by their names as the team lists them, whose calendar could not
// be read (no such person in the address book, a calendar that cannot be opened or searched), and whether
// the query ran to its end. An unattended run must not publish a planning it could not read as if it were
// whole.
struct QueryOutcome {
    int members = 0; // the members the query tried to read
    QStringList unreadable;
    bool completed = false;

    bool nothingRead() const { return members > 0 && unreadable.size() == members; }
};
