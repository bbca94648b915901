#include "base/datetext.h"
#include "mailbox/foldermailbox.h"
#include "mailbox/itemcollection.h"
#include "tests/support/fixtures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

namespace {

struct Found {
    QStringList subjects;
    QStringList errors;
};

// Walks a calendar as the member query does: errors of single items are noted and the walk goes on.
Found walk(FolderMailbox& mailbox, const QString& name, const QDate& first, const QDate& last)
{
    Found found;
    Recipient recipient = mailbox.createRecipient(name);
    if (!recipient.resolve())
        return found;
    ItemCollection items = mailbox.sharedDefaultFolder(recipient, Mailbox::kCalendarFolder)->items();
    items.sort(QStringLiteral("[Start]"));
    items.includeRecurrences = true;
    std::shared_ptr<MailboxItem> item;
    try {
        item = items.find(periodRestriction(first, last));
    }
    catch (const MailboxError& error) {
        found.errors << QString::number(error.number());
    }
    for (;;) {
        if (item)
            found.subjects << item->start.toString(QStringLiteral("dd HH:mm ")) + item->subject;
        try {
            item = items.findNext();
            if (!item)
                break;
        }
        catch (const MailboxError& error) {
            found.errors << QString::number(error.number());
            item = nullptr;
        }
    }
    return found;
}

} // namespace

class TestFolderMailbox : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_root;
    QList<DisplayRequest> m_displayed;

    std::unique_ptr<FolderMailbox> open()
    {
        FolderMailbox::Options options;
        options.root = m_root;
        options.ownerName = QStringLiteral("Élodie Martin");
        options.ownerAddress = QStringLiteral("elodie@example.org");
        options.now = [] { return QDateTime(QDate(2026, 12, 1), QTime(8, 0), Qt::UTC); };
        int counter = 0;
        options.newUid = [counter]() mutable { return QStringLiteral("uid-%1").arg(++counter); };
        auto mailbox = std::make_unique<FolderMailbox>(options);
        mailbox->setDisplayHandler([this](const DisplayRequest& request) { m_displayed << request; });
        return mailbox;
    }

private slots:
    void init()
    {
        m_root = m_dir.filePath(QString::fromLatin1(QTest::currentTestFunction()));
        QDir(m_root).removeRecursively();
        writeFile(m_root + "/contacts/elodie.vcf", person("p1", "Élodie Martin", "elodie@example.org"));
        writeFile(m_root + "/contacts/jose.vcf", person("p2", "José Álvarez", "jose@example.org"));
        writeFile(m_root + "/contacts/chiara.vcf", person("p3", "Chiara Rossi", "chiara@example.org"));
        writeFile(m_root + "/contacts/nocal.vcf", person("p4", "Søren Nielsen", "soren@example.org"));
        QDir().mkpath(m_root + "/calendars/elodie@example.org");
        writeFile(m_root + "/calendars/jose@example.org/b.ics",
                  calendarEvent("b", "Customer visit", "20261208T140000", "20261208T170000"));
        writeFile(m_root + "/calendars/jose@example.org/a.ics",
                  calendarEvent("a", "Stand-up", "20261207T093000", "20261207T094500",
                                "RRULE:FREQ=DAILY;COUNT=3\r\n"));
        writeFile(m_root + "/calendars/jose@example.org/broken.ics", "BEGIN:VCALENDAR\r\nBEGIN:VEV");
        writeFile(m_root + "/calendars/chiara@example.org/c.ics",
                  calendarEvent("c", "Outside", "20261215T100000", "20261215T110000"));
        m_displayed.clear();
    }

    void memberQueryWalk()
    {
        auto mailbox = open();
        const Found found = walk(*mailbox, QStringLiteral("jose"), QDate(2026, 12, 7), QDate(2026, 12, 13));
        QCOMPARE(found.subjects, (QStringList{"07 09:30 Stand-up", "08 09:30 Stand-up",
                                              "08 14:00 Customer visit", "09 09:30 Stand-up"}));
        QCOMPARE(found.errors, QStringList{QString::number(MailboxError::ItemUnreadable)});
        QVERIFY(walk(*mailbox, QStringLiteral("Chiara Rossi"), QDate(2026, 12, 7), QDate(2026, 12, 13))
                    .subjects.isEmpty());
    }

    // A search of an unchanged calendar over the same period says so with its revision; a changed file, or
    // another period, gives a new one.
    void revisionsTellUnchangedCalendars()
    {
        auto mailbox = open();
        const QDate monday(2026, 12, 7);
        const QDate sunday(2026, 12, 13);
        const quint64 first = calendarRevision(*mailbox, "jose", monday, sunday);
        QVERIFY(first != 0);
        QCOMPARE(calendarRevision(*mailbox, "jose", monday, sunday), first);
        QVERIFY(calendarRevision(*mailbox, "chiara", monday, sunday) != first);

        const quint64 otherPeriod = calendarRevision(*mailbox, "jose", monday, sunday.addDays(7));
        QVERIFY(otherPeriod != first);
        const quint64 back = calendarRevision(*mailbox, "jose", monday, sunday);
        QVERIFY(back != otherPeriod && back != first);

        writeFile(m_root + "/calendars/jose@example.org/b.ics",
                  calendarEvent("b", "Customer visit moved", "20261208T150000", "20261208T170000"));
        const quint64 changed = calendarRevision(*mailbox, "jose", monday, sunday);
        QVERIFY(changed != back && changed != 0);
        QCOMPARE(calendarRevision(*mailbox, "jose", monday, sunday), changed);
    }

    void calendarErrorsNameTheMember()
    {
        auto mailbox = open();
        Recipient soren = mailbox->createRecipient(QStringLiteral("soren@example.org"));
        QVERIFY(soren.resolve());
        try {
            mailbox->sharedDefaultFolder(soren, Mailbox::kCalendarFolder);
            QFAIL("a missing calendar must be an error");
        }
        catch (const MailboxError& error) {
            QCOMPARE(error.number(), int(MailboxError::NotFound));
            QVERIFY(error.description().contains(QStringLiteral("Søren Nielsen")));
        }
        // The calendar disappears after it was opened: the next search is an error, not a crash.
        Recipient jose = mailbox->createRecipient(QStringLiteral("José Álvarez"));
        QVERIFY(jose.resolve());
        ItemCollection items = mailbox->sharedDefaultFolder(jose, Mailbox::kCalendarFolder)->items();
        items.includeRecurrences = true;
        QVERIFY(QDir(m_root + "/calendars/jose@example.org").removeRecursively());
        QVERIFY_THROWS_EXCEPTION(MailboxError,
                                 items.find(periodRestriction(QDate(2026, 12, 7), QDate(2026, 12, 7))));
        QVERIFY(!mailbox->createRecipient(QStringLiteral("nobody")).resolve());
    }

    void appointmentSavedIntoACalendar()
    {
        auto mailbox = open();
        Recipient chiara = mailbox->createRecipient(QStringLiteral("Chiara Rossi"));
        QVERIFY(chiara.resolve());
        auto folder = mailbox->sharedDefaultFolder(chiara, Mailbox::kCalendarFolder);
        std::shared_ptr<MailboxItem> item = folder->items().add(MailboxItem::kAppointment);
        item->subject = QStringLiteral("Atelier");
        item->reminderSet = false;
        item->start = QDateTime(QDate(2026, 12, 9), QTime(10, 0));
        item->end = QDateTime(QDate(2026, 12, 9), QTime(12, 0));
        item->save();
        QCOMPARE(item->source.location, m_root + "/calendars/chiara@example.org/uid-1.ics");
        QCOMPARE(QDir(m_root + "/calendars/chiara@example.org").entryList(QDir::Files | QDir::Hidden).size(),
                 2);
        QCOMPARE(walk(*mailbox, QStringLiteral("chiara"), QDate(2026, 12, 9), QDate(2026, 12, 9)).subjects,
                 QStringList{"09 10:00 Atelier"});
        QFile written(item->source.location);
        QVERIFY(written.open(QIODevice::ReadOnly));
        const QByteArray bytes = written.readAll();
        QVERIFY(bytes.contains("DTSTAMP:20261201T080000Z\r\n"));
        QVERIFY(!bytes.contains("VALARM"));

        item->remove();
        QVERIFY(!QFile::exists(m_root + "/calendars/chiara@example.org/uid-1.ics"));
    }

    void meetingWrittenToEveryAttendee()
    {
        auto mailbox = open();
        std::shared_ptr<MailboxItem> meeting = mailbox->createItem(Mailbox::kAppointmentItem);
        meeting->meetingStatus = 1;
        meeting->subject = QStringLiteral("Planning review");
        meeting->reminderSet = false;
        meeting->start = QDateTime(QDate(2026, 12, 10), QTime(15, 0));
        meeting->end = QDateTime(QDate(2026, 12, 10), QTime(16, 0));
        for (const char* name : {"José Álvarez", "Chiara Rossi", "Søren Nielsen", "Nobody Known"})
            meeting->recipients.append({QString::fromUtf8(name), MailboxItem::Required});
        try {
            meeting->send();
            QFAIL("unreachable attendees must be reported");
        }
        catch (const MailboxError& error) {
            QCOMPARE(error.number(), int(MailboxError::NotResolved));
            QVERIFY(error.description().contains(QStringLiteral("Søren Nielsen")));
            QVERIFY(error.description().contains(QStringLiteral("Nobody Known")));
            QVERIFY(!error.description().contains(QStringLiteral("Chiara")));
        }
        for (const char* owner : {"jose", "chiara", "elodie"}) {
            const QString path = m_root + "/calendars/" + owner + "@example.org/uid-1.ics";
            QFile file(path);
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
            const QByteArray bytes = file.readAll();
            QVERIFY(bytes.contains("ORGANIZER;CN=Élodie Martin:mailto:elodie@example.org"));
            QCOMPARE(bytes.count("ATTENDEE"), 2);
            QCOMPARE(bytes.count("PARTSTAT=NEEDS-ACTION"), 2);
        }
    }

    void displayGoesThroughTheSeam()
    {
        auto mailbox = open();
        std::shared_ptr<MailboxItem> mail = mailbox->createItem(Mailbox::kMailItem);
        mail->to = QStringLiteral("José Álvarez");
        mail->body = QStringLiteral("Written from the planning on:\r\n07/12/2026 10:00 & more");
        mail->display(true);
        Recipient jose = mailbox->createRecipient(QStringLiteral("jose"));
        QVERIFY(jose.resolve());
        mailbox->sharedDefaultFolder(jose, Mailbox::kCalendarFolder)->display();

        QCOMPARE(m_displayed.size(), 2);
        const DisplayRequest& compose = m_displayed.at(0);
        QCOMPARE(compose.kind, DisplayRequest::ComposeMail);
        QVERIFY(compose.modal);
        QCOMPARE(compose.url.scheme(), QStringLiteral("mailto"));
        QCOMPARE(compose.url.path(), QStringLiteral("jose@example.org"));
        QCOMPARE(QUrlQuery(compose.url).queryItemValue(QStringLiteral("body"), QUrl::FullyDecoded),
                 mail->body);
        QCOMPARE(m_displayed.at(1).url, QUrl::fromLocalFile(m_root + "/calendars/jose@example.org"));
    }

    void notAMailbox()
    {
        FolderMailbox::Options options;
        options.root = m_root + "/missing";
        QVERIFY_THROWS_EXCEPTION(MailboxError, FolderMailbox{options});
    }
};

QTEST_GUILESS_MAIN(TestFolderMailbox)
#include "tst_foldermailbox.moc"
