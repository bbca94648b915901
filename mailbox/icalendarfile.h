#pragma once

#include "mailbox/mailboxitem.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

// One iCalendar file read with libical: its events grouped by UID into series (the master with its
// RRULE/RDATE/EXDATE and the instances that override it) and single events. This is the one place that knows
// libical; everything else sees Qt types.
//
// Time zones are shared across files: a TZID that names an IANA zone (or a Windows zone name) uses the
// system's zone data once for the whole program, and only an unknown TZID falls back to the file's own
// VTIMEZONE, itself shared between files that carry the same definition.
class ICalendarFile {
public:
    ~ICalendarFile();

    // Nothing, with `error` set, when the bytes are not a readable calendar. Events inside that cannot be
    // read (no start, a start that is not a date) are left out and listed in problems().
    // Files may be parsed on several threads at once.
    static std::shared_ptr<const ICalendarFile> parse(const QByteArray& bytes, QString* error);

    // The file as read, in a form that another process can load without parsing again: deserialize() gives
    // back a file that expands exactly as this one does. Zones are kept by name, a file's own VTIMEZONE as
    // its text. Empty when a zone cannot be named (the file is then not worth keeping).
    QByteArray serialize() const;
    // Nothing, with `error` set, when the bytes are not what serialize() wrote in this version.
    static std::shared_ptr<const ICalendarFile> deserialize(QByteArrayView bytes, QString* error);

    struct Window {
        qint64 startAtMostUtc; // seconds since the epoch
        qint64 endAtLeastUtc;
    };
    // Appends every occurrence that starts at or before startAtMost and ends at or after endAtLeast, each
    // with start, end, allDay, subject, body, categories, sensitivity, messageClass and source.uid /
    // source.recurrenceId set, in file order and then instance order. A series that would give more dates
    // than can be shown, or take too long to work out, is cut, and `problems` says so.
    void expand(const Window& window, std::vector<MailboxItem>& out, QStringList* problems = nullptr) const;

    // The series and single events as stored: masters carry their first occurrence's times.
    std::vector<MailboxItem> storedItems() const;

    QStringList problems() const;
    int eventCount() const;

    // Makes libical report errors instead of aborting; called once before any use.
    static void initialiseLibrary();

    struct Data;

private:
    ICalendarFile();
    std::unique_ptr<Data> d;
};

// A new appointment or meeting as iCalendar text (CRLF line ends, long lines folded), written in the local
// time zone with its VTIMEZONE when the system names an IANA zone, else in UTC.
struct NewEvent {
    QString uid;
    QDateTime stamp; // DTSTAMP
    QDateTime start;
    QDateTime end;
    bool allDay = false;
    QString subject;
    QString body;
    QString categories; // ";"-separated
    int sensitivity = 0;
    bool reminder = false;
    struct Person {
        QString name;
        QString address;
    };
    std::optional<Person> organizer;
    std::vector<Person> attendees;
};
QByteArray writeICalendar(const NewEvent& event);
