#pragma once

// Files and texts the mailbox tests of both back ends build their fixtures from.

#include "base/datetext.h"
#include "mailbox/itemcollection.h"
#include "mailbox/mailbox.h"

#include <QByteArray>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

inline QByteArray person(const char* uid, const char* name, const char* email, const QByteArray& extra = {})
{
    return QByteArray("BEGIN:VCARD\r\nVERSION:4.0\r\nUID:") + uid + "\r\nFN:" + name + "\r\nEMAIL:" + email +
           "\r\n" + extra + "END:VCARD\r\n";
}

inline QByteArray calendarEvent(const char* uid, const char* subject, const char* start, const char* end,
                                const QByteArray& extra = {})
{
    return QByteArray("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\nBEGIN:VEVENT\r\nUID:") + uid +
           "\r\nDTSTAMP:20261101T000000Z\r\nSUMMARY:" + subject + "\r\nDTSTART;TZID=Europe/Paris:" + start +
           "\r\nDTEND;TZID=Europe/Paris:" + end + "\r\n" + extra + "END:VEVENT\r\nEND:VCALENDAR\r\n";
}

// The restriction the member query writes for a period, dates in the locale's general date text.
inline QString periodRestriction(const QDate& first, const QDate& last)
{
    const QString s = DateText::generalDate(QDateTime(first, QTime(0, 0)));
    const QString e = DateText::generalDate(QDateTime(last.addDays(1), QTime(0, 0)));
    return QStringLiteral(
               "([Start] >= \"%1\" and [Start] <= \"%2\") OR ([Start] <= \"%1\" and [End] >= \"%2\") "
               "OR ([Start] <= \"%1\" And [End] <= \"%2\" And [End] >= \"%1\")")
        .arg(s, e);
}

// The revision of what a search of the member's calendar over the period finds (ItemCollection::revision).
inline quint64 calendarRevision(Mailbox& mailbox, const QString& name, const QDate& first, const QDate& last)
{
    Recipient recipient = mailbox.createRecipient(name);
    if (!recipient.resolve())
        return 0;
    ItemCollection items = mailbox.sharedDefaultFolder(recipient, Mailbox::kCalendarFolder)->items();
    items.sort(QStringLiteral("[Start]"));
    items.includeRecurrences = true;
    try {
        items.find(periodRestriction(first, last));
    }
    catch (const MailboxError&) {
        // An unreadable item comes first; the search has its revision all the same.
    }
    return items.revision();
}
