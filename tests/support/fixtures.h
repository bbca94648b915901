#pragma once

// What the tests build their mailboxes from: files, cards, lists and calendars.

#include "base/datetext.h"
#include "mailbox/itemcollection.h"
#include "mailbox/mailbox.h"

#include <QByteArray>
#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTest>

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// A person's card: its UID, name and e-mail addresses, then any further lines (ending in CR LF).
inline QByteArray person(const QString& uid, const QString& name, const QStringList& emails,
                         const QByteArray& extra = {})
{
    QByteArray card =
        "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:" + uid.toUtf8() + "\r\nFN:" + name.toUtf8() + "\r\n";
    for (const QString& email : emails)
        card += "EMAIL:" + email.toUtf8() + "\r\n";
    return card + extra + "END:VCARD\r\n";
}
inline QByteArray person(const QString& uid, const QString& name, const QString& email,
                         const QByteArray& extra = {})
{
    return person(uid, name, QStringList{email}, extra);
}

// A distribution list (KIND:group) with its categories as written in the card and its MEMBER values.
inline QByteArray group(const QString& name, const QString& categories, const QStringList& members = {})
{
    QByteArray card = "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nUID:group-" +
                      name.toUtf8().toLower().replace(' ', '-') + "\r\nFN:" + name.toUtf8() + "\r\n";
    if (!categories.isEmpty())
        card += "CATEGORIES:" + categories.toUtf8() + "\r\n";
    for (const QString& member : members)
        card += "MEMBER:" + member.toUtf8() + "\r\n";
    return card + "END:VCARD\r\n";
}

// A calendar object around VEVENT content lines ("|" stands for a line break), with `zones` (VTIMEZONE
// components) before them.
inline QByteArray calendar(const QByteArray& events, const QByteArray& zones = {})
{
    QByteArray body = events;
    body.replace('|', "\r\n");
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\n" + zones + body +
           "\r\nEND:VCALENDAR\r\n";
}

// Copies a folder tree (a mailbox) file by file.
inline void copyTree(const QString& from, const QString& to)
{
    QDirIterator files(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString source = files.next();
        const QString target = to + u'/' + QDir(from).relativeFilePath(source);
        QDir().mkpath(QFileInfo(target).absolutePath());
        QVERIFY2(QFile::copy(source, target), qPrintable(source));
    }
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
