#pragma once

#include <QDate>
#include <QString>

// What to generate. The defaults give a large department: 127 people whose calendars hold about 100 000
// occurrences in any 187-day window (the longest period a planning shows), two thirds of them from series.
struct MailboxGeneratorOptions {
    int people = 127;
    // The stored history; a null date means two years before today (firstDay) or one year after (lastDay).
    // Open-ended series go on past lastDay, as they do in real calendars.
    QDate firstDay;
    QDate lastDay;
    // The same options give byte-identical files.
    quint32 seed = 1;
    // Single appointments per person and working day, on average (0 to twice this many each day).
    int singlesPerWorkday = 2;
    // Recurring series a person has running at any one time; each is a chain of series over the history.
    int seriesPerPerson = 15;
    // Timed events in Europe/Paris with a VTIMEZONE in their file; otherwise in UTC.
    bool withTimeZones = true;
};

struct MailboxGeneratorResult {
    QString root;  // absolute path of the mailbox
    int files = 0; // every file written: persons, lists and calendar objects
    int people = 0;
    qint64 bytes = 0;
    QString error; // empty on success; otherwise what could not be written, and why
};

// Writes a folder mailbox under `root` (created when missing; meant to be empty): persons in contacts/,
// the teams in contacts/Rotavine/ ("Everyone" and one per department, plus a list that is no team), and one
// calendar per person in calendars/<e-mail address>/, one iCalendar object per file.
MailboxGeneratorResult generateMailbox(const QString& root, const MailboxGeneratorOptions& options);
