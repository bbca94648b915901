#include "mailbox/dav/davmailbox.h"
#include "mailbox/foldermailbox.h"
#include "mailbox/itemcollection.h"
#include "tests/mailbox/mailboxtest.h"
#include "tests/support/davserver.h"
#include "tests/support/fixtures.h"

#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

namespace {

const QDate kMonday(2026, 12, 7);
const QDate kSunday(2026, 12, 13);

std::shared_ptr<Folder> calendarOf(Mailbox& mailbox, const QString& name)
{
    Recipient recipient = mailbox.createRecipient(name);
    if (!recipient.resolve())
        throw MailboxError(MailboxError::NotResolved, name);
    return mailbox.sharedDefaultFolder(recipient, Mailbox::kCalendarFolder);
}

// Walks a member's calendar as the member query does: "dd HH:mm Subject" per item, "error <number>" where
// a call fails (the walk goes on after an unreadable item).
QStringList walk(Mailbox& mailbox, const QString& name, const QDate& first, const QDate& last,
                 bool descending = false, QString* message = nullptr)
{
    QStringList found;
    std::optional<ItemCollection> items;
    for (bool started = false; !started || items; started = true) {
        try {
            if (!started) {
                items.emplace(calendarOf(mailbox, name)->items());
                items->sort("[Start]", descending);
                items->includeRecurrences = true;
            }
            const auto item = started ? items->findNext() : items->find(periodRestriction(first, last));
            if (!item)
                break;
            found << item->start.toString("dd HH:mm ") + item->subject;
        }
        catch (const MailboxError& error) {
            found << "error " + QString::number(error.number());
            if (message)
                *message = error.description();
        }
    }
    return found;
}

// A two-hour "Atelier" on 9 December.
std::shared_ptr<MailboxItem> atelier(std::shared_ptr<MailboxItem> item)
{
    item->subject = "Atelier";
    item->reminderSet = false;
    item->start = QDateTime(QDate(2026, 12, 9), QTime(10, 0));
    item->end = item->start.addSecs(7200);
    return item;
}

} // namespace

// The object model on both back ends, under the global data rows "folder" (files in a temporary folder) and
// "dav" (the same mailbox uploaded to a Radicale on 127.0.0.1). What only one back end has is a function of
// its own, skipped on the other row.
class TestMailbox : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_root;
    QList<DisplayRequest> m_displayed;

    static bool dav()
    {
        QFETCH_GLOBAL(bool, dav);
        return dav;
    }
    static DavServer& server() { return DavServer::shared(); }
    // A stored object by its place in the folder mailbox ("calendars/<address>/<file>" or
    // "contacts/Rotavine/<file>"): that file, or the path where uploadMailbox put it on the server.
    QString where(const QString& place) const
    {
        if (!dav())
            return m_root + u'/' + place;
        const QStringList parts = place.split(u'/');
        return parts[0] == "calendars" ? "/" + parts[1] + "/calendar/" + parts.value(2)
                                       : "/" + DavServer::kUser + "/" + parts[1] + "/" + parts.value(2);
    }
    QUrl url(const QString& place) const
    {
        return dav() ? server().url(where(place)) : QUrl::fromLocalFile(where(place));
    }
    QByteArray stored(const QString& place) const
    {
        if (!dav())
            return readBytes(where(place));
        const DavServer::Reply reply = server().get(where(place));
        return reply.status == 200 ? reply.body : QByteArray();
    }
    void store(const QString& place, const QByteArray& bytes)
    {
        if (dav())
            QVERIFY(server().put(where(place), bytes));
        else
            writeFile(where(place), bytes);
    }

    // The mailbox, or on the server the one at `path`.
    std::unique_ptr<Mailbox> open(const QString& path = "/", int bookAgeMs = 2000)
    {
        const auto now = [] { return QDateTime(QDate(2026, 12, 1), QTime(8, 0), Qt::UTC); };
        const auto newUid = [counter = 0]() mutable { return QStringLiteral("uid-%1").arg(++counter); };
        std::unique_ptr<Mailbox> mailbox;
        if (dav()) {
            DavMailbox::Options options;
            options.server = server().url(path);
            options.user = DavServer::kUser;
            options.password = DavServer::kPassword;
            options.timeoutSeconds = 10;
            options.ownerName = "Élodie Martin";
            options.ownerAddress = "elodie@example.org";
            options.now = now;
            options.newUid = newUid;
            options.addressBookMaxAgeMs = bookAgeMs;
            mailbox = std::make_unique<DavMailbox>(options);
        }
        else {
            mailbox = std::make_unique<FolderMailbox>(
                FolderMailbox::Options{m_root, "Élodie Martin", "elodie@example.org", now, newUid});
        }
        mailbox->setDisplayHandler([this](const DisplayRequest& request) { m_displayed << request; });
        return mailbox;
    }

    DavMailbox& davMailbox(Mailbox& mailbox) { return static_cast<DavMailbox&>(mailbox); }

private slots:
    void initTestCase_data()
    {
        QTest::addColumn<bool>("dav");
        QTest::newRow("folder") << false;
        QTest::newRow("dav") << true;
    }
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::French, QLocale::France)); }

    void init()
    {
        m_displayed.clear();
        m_root = m_dir.filePath("mailbox");
        QDir(m_root).removeRecursively();
        copyTree(dataPath("mailbox"), m_root);
        const QByteArray elsewhere = calendarEvent("l", "Elsewhere", "20261209T080000", "20261209T090000");
        if (!dav()) {
            writeFile(m_root + "/contacts/lukas.vcf", person("p6", "Lukáš Novák", "lukas@example.org"));
            writeFile(m_root + "/calendars/lukas@example.org/l.ics", elsewhere);
            writeFile(m_root + "/calendars/elodie@example.org/broken.ics", "BEGIN:VCALENDAR\r\nBEGIN:VEV");
            return;
        }
        // On the server, Lukáš's calendar is where his card says, and Inês's is one the user may not read.
        QVERIFY2(server().isRunning(), qPrintable(server().error()));
        server().reset();
        writeFile(m_root + "/contacts/lukas.vcf",
                  person("p6", "Lukáš Novák", "lukas@example.org",
                         "CALURI:" + server().url("/shared/lukas/").toString().toUtf8() + "\r\n"));
        QCOMPARE(server().uploadMailbox(m_root), QString());
        QVERIFY(server().makeCalendar("/shared/lukas/"));
        QVERIFY(server().put("/shared/lukas/l.ics", elsewhere));
        server().makeCalendarOnDisk("/" + DavServer::kForbidden + "/calendar");
    }

    void calendars_data()
    {
        QTest::addColumn<QString>("only"); // the back end the row is for, if only one
        QTest::addColumn<QString>("member");
        QTest::addColumn<QDate>("monday");
        QTest::addColumn<bool>("descending");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* name, const QString& only, const QString& member, int day,
                            bool descending, const QStringList& expected, const QString& message = {}) {
            QTest::newRow(name) << only << member << QDate(2026, 12, day) << descending << expected
                                << message;
        };
        const QStringList week{"07 09:30 Stand-up", "08 09:30 Stand-up", "08 14:00 Customer visit",
                               "09 09:30 Stand-up"};
        const auto error = [](int number) { return "error " + QString::number(number); };
        row("a series and an event", {}, "jose", 7, false, week);
        row("latest first", {}, "jose@example.org", 7, true, {week[3], week[2], week[1], week[0]});
        row("nothing that week", {}, "Chiara Rossi", 7, false, {});
        row("the calendar the card names", {}, "lukas", 7, false, {"09 08:00 Elsewhere"});
        row("no calendar", {}, "soren", 7, false, {error(MailboxError::NotFound)}, "Søren Nielsen");
        row("not allowed to read it", "dav", "Inês Carvalho", 7, false, {error(MailboxError::AccessDenied)});
        row("an unreadable file in its place", "folder", "elodie", 1, false,
            {error(MailboxError::ItemUnreadable), "01 09:00 Own"}, "broken.ics");
        row("nobody of that name", {}, "nobody", 7, false, {error(MailboxError::NotResolved)});
    }
    void calendars()
    {
        QFETCH(QString, only);
        QFETCH(QString, member);
        QFETCH(QDate, monday);
        QFETCH(bool, descending);
        QFETCH(QStringList, expected);
        QFETCH(QString, message);
        if (!only.isEmpty() && (only == "dav") != dav())
            QSKIP("not on this back end");
        auto mailbox = open();
        QString said;
        QCOMPARE(walk(*mailbox, member, monday, monday.addDays(6), descending, &said), expected);
        QVERIFY2(said.contains(message), qPrintable(said));
        // Read ahead with the others of a query, first or again, the same comes from the same calls.
        auto ahead = open();
        for (Mailbox* box : {ahead.get(), mailbox.get()}) {
            box->prepareCalendars({member, "chiara", "jose", "lukas"},
                                  periodRestriction(monday, monday.addDays(6)));
            QCOMPARE(walk(*box, member, monday, monday.addDays(6), descending), expected);
        }
    }

    // A read prepared ahead serves the query's next read only: a change made after it is seen by the one
    // after.
    void preparedReadServesOnce()
    {
        auto mailbox = open();
        mailbox->prepareCalendars({"chiara", "jose"}, periodRestriction(kMonday, kSunday));
        QCOMPARE(walk(*mailbox, "chiara", kMonday, kSunday), QStringList());
        store("calendars/chiara@example.org/d.ics",
              calendarEvent("d", "New", "20261210T100000", "20261210T110000"));
        QCOMPARE(walk(*mailbox, "chiara", kMonday, kSunday), QStringList{"10 10:00 New"});
    }

    // A search of an unchanged calendar over the same period says so with its revision; a changed calendar,
    // or another period, gives a new one.
    void revisions()
    {
        auto mailbox = open();
        const quint64 first = calendarRevision(*mailbox, "jose", kMonday, kSunday);
        QVERIFY(first != 0);
        QCOMPARE(calendarRevision(*mailbox, "jose", kMonday, kSunday), first);
        QVERIFY(calendarRevision(*mailbox, "chiara", kMonday, kSunday) != first);
        const quint64 otherPeriod = calendarRevision(*mailbox, "jose", kMonday, kSunday.addDays(7));
        QVERIFY(otherPeriod != first);
        const quint64 back = calendarRevision(*mailbox, "jose", kMonday, kSunday);
        QVERIFY(back != otherPeriod && back != first);
        store("calendars/jose@example.org/b.ics",
              calendarEvent("b", "Customer visit moved", "20261208T150000", "20261208T170000"));
        const quint64 changed = calendarRevision(*mailbox, "jose", kMonday, kSunday);
        QVERIFY(changed != back && changed != 0);
        QCOMPARE(calendarRevision(*mailbox, "jose", kMonday, kSunday), changed);
        QCOMPARE(walk(*mailbox, "jose", kMonday, kMonday.addDays(1)).value(2),
                 "08 15:00 Customer visit moved");
    }

    void calendarRemovedWhileOpen()
    {
        auto mailbox = open();
        ItemCollection items = calendarOf(*mailbox, "José Álvarez")->items();
        items.includeRecurrences = true;
        if (dav())
            QVERIFY(server().remove(where("calendars/jose@example.org/")));
        else
            QVERIFY(QDir(where("calendars/jose@example.org")).removeRecursively());
        QVERIFY(errorOf([&] { items.find(periodRestriction(kMonday, kMonday)); }) != 0);
    }

    void appointmentSavedAndRemoved()
    {
        auto mailbox = open();
        std::shared_ptr<MailboxItem> item =
            atelier(calendarOf(*mailbox, "Chiara Rossi")->items().add(MailboxItem::kAppointment));
        item->save();
        QCOMPARE(dav() ? QUrl(item->source.location).path(QUrl::FullyDecoded) : item->source.location,
                 where("calendars/chiara@example.org/uid-1.ics"));
        const QByteArray bytes = stored("calendars/chiara@example.org/uid-1.ics");
        QVERIFY(bytes.contains("SUMMARY:Atelier\r\n"));
        QVERIFY(bytes.contains("DTSTAMP:20261201T080000Z\r\n"));
        QVERIFY(!bytes.contains("VALARM"));
        QCOMPARE(walk(*mailbox, "chiara", QDate(2026, 12, 9), QDate(2026, 12, 9)),
                 QStringList{"09 10:00 Atelier"});
        item->remove();
        QVERIFY(stored("calendars/chiara@example.org/uid-1.ics").isEmpty());
        QCOMPARE(walk(*mailbox, "chiara", QDate(2026, 12, 9), QDate(2026, 12, 9)), QStringList());
    }

    void meetingWrittenToEveryAttendee()
    {
        auto mailbox = open();
        std::shared_ptr<MailboxItem> meeting = atelier(mailbox->createItem(Mailbox::kAppointmentItem));
        meeting->meetingStatus = 1;
        for (const char* name : {"José Álvarez", "Chiara Rossi", "Søren Nielsen", "Nobody Known"})
            meeting->recipients.append({QString::fromUtf8(name), MailboxItem::Required});
        try {
            meeting->send();
            QFAIL("unreachable attendees must be reported");
        }
        catch (const MailboxError& error) {
            QCOMPARE(error.number(), int(MailboxError::NotResolved));
            const QString text = error.description();
            QVERIFY2(text.contains("Søren Nielsen") && text.contains("Nobody Known") &&
                         !text.contains("Chiara"),
                     qPrintable(text));
        }
        for (const char* owner : {"jose", "chiara", "elodie"}) {
            const QByteArray bytes = stored(QString("calendars/%1@example.org/uid-1.ics").arg(owner));
            QVERIFY2(bytes.contains("ORGANIZER;CN=Élodie Martin:mailto:elodie@example.org"), owner);
            QCOMPARE(bytes.count("ATTENDEE"), 2);
            QCOMPARE(bytes.count("PARTSTAT=NEEDS-ACTION"), 2);
        }
    }

    void display()
    {
        auto mailbox = open();
        std::shared_ptr<MailboxItem> mail = mailbox->createItem(Mailbox::kMailItem);
        mail->to = "José Álvarez";
        mail->body = "Written from the planning on:\r\n07/12/2026 10:00 & more";
        mail->display(true);
        auto folder = calendarOf(*mailbox, "jose");
        folder->display();
        ItemCollection items = folder->items();
        items.includeRecurrences = true;
        items.find(periodRestriction(kMonday, kSunday))->display();
        QCOMPARE(m_displayed.size(), 3);
        QVERIFY(m_displayed[0].kind == DisplayRequest::ComposeMail && m_displayed[0].modal);
        QCOMPARE(m_displayed[0].url.toString(QUrl::RemoveQuery), "mailto:jose@example.org");
        QCOMPARE(QUrlQuery(m_displayed[0].url).queryItemValue("body", QUrl::FullyDecoded), mail->body);
        QCOMPARE(DavDiscovery::urlKey(m_displayed[1].url),
                 DavDiscovery::urlKey(url("calendars/jose@example.org/")));
        QCOMPARE(DavDiscovery::urlKey(m_displayed[2].url),
                 DavDiscovery::urlKey(url("calendars/jose@example.org/a.ics")));
        QCOMPARE(folder->items().count(), 2); // stored items: the series and the single event
    }

    // The team lists: their members by name, their categories written back, and never over a change made
    // elsewhere since they were read.
    void teamList()
    {
        auto mailbox = open();
        auto team = mailbox->defaultFolder(Mailbox::kContactsFolder)->folder("rotavine");
        QCOMPARE(team->items().count(), 1);
        std::shared_ptr<MailboxItem> list = team->items().item("SUPPORT");
        QStringList members;
        for (int i = 1; i <= list->memberCount(); ++i)
            members << list->member(i);
        QCOMPARE(members, (QStringList{"José Álvarez", "Chiara Rossi", "partner+planning@other.example"}));
        QCOMPARE(errorOf([&] { list->member(4); }), int(MailboxError::NotFound));

        list->categories = " Teams ; ;<rotavine>";
        list->save();
        QByteArray bytes = stored("contacts/Rotavine/team.vcf");
        QVERIFY2(bytes.contains("\r\nCATEGORIES:Teams,<rotavine>\r\n"), bytes.constData());
        list->categories = "Teams";
        list->save(); // the item knows the version it wrote: no conflict with itself
        store("contacts/Rotavine/team.vcf",
              stored("contacts/Rotavine/team.vcf")
                  .replace("FN:Support", "FN:Support\r\nNOTE:changed elsewhere"));
        bytes = stored("contacts/Rotavine/team.vcf");
        list->categories = "Other";
        QCOMPARE(errorOf([&] { list->save(); }), int(MailboxError::Conflict));
        QCOMPARE(stored("contacts/Rotavine/team.vcf"), bytes);
    }

    void teamFolderCreatedWhenMissing()
    {
        if (dav())
            QVERIFY(server().remove(where("contacts/Rotavine/")));
        else
            QVERIFY(QDir(where("contacts/Rotavine")).removeRecursively());
        auto mailbox = open();
        auto contacts = mailbox->defaultFolder(Mailbox::kContactsFolder);
        QCOMPARE(errorOf([&] { contacts->folder("Rotavine"); }), int(MailboxError::NotFound));
        QCOMPARE(contacts->addFolder("Rotavine")->items().count(), 0);
        QCOMPARE(contacts->addFolder("rotavine")->name(), "Rotavine");
        QCOMPARE(open()->defaultFolder(Mailbox::kContactsFolder)->folder("ROTAVINE")->name(), "Rotavine");
    }

    void discovery_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("server root: well-known address") << "/";
        QTest::newRow("principal given") << "/tester/";
        QTest::newRow("principal without its slash") << "/tester";
    }
    void discovery()
    {
        QFETCH(QString, path);
        if (!dav())
            QSKIP("a server's");
        auto mailbox = open(path);
        const DavDiscovery::Account& account = davMailbox(*mailbox).account();
        QCOMPARE((QList<QUrl>{account.principal, account.calendarHome, account.addressBookHome}),
                 QList<QUrl>(3, server().url("/tester/")));
        QCOMPARE(walk(*mailbox, "jose", kMonday, kSunday).size(), 4);
    }

    // New events never replace one of the same name, nor deletions a version changed since it was read.
    void serverRefusesBlindWrites()
    {
        if (!dav())
            QSKIP("a server's");
        auto mailbox = open();
        std::shared_ptr<MailboxItem> item =
            atelier(calendarOf(*mailbox, "chiara")->items().add(MailboxItem::kAppointment));
        item->save();
        const QString path = where("calendars/chiara@example.org/uid-1.ics");
        QCOMPARE(item->source.etag.toUtf8(), server().get(path).etag);

        MailboxItem again = *item;
        again.subject = "Other";
        QString uid = "uid-1";
        QByteArray etag;
        QCOMPARE(errorOf([&] {
                     davMailbox(*mailbox).putEvent(server().url(where("calendars/chiara@example.org/")),
                                                   again, {}, &uid, &etag);
                 }),
                 int(MailboxError::Conflict));
        QVERIFY(stored("calendars/chiara@example.org/uid-1.ics").contains("SUMMARY:Atelier"));

        QVERIFY(server().put(path, server().get(path).body.replace("SUMMARY:Atelier", "SUMMARY:Moved")));
        QCOMPARE(errorOf([&] { item->remove(); }), int(MailboxError::Conflict));
        QCOMPARE(server().get(path).status, 200);
        item->source.etag = QString::fromUtf8(server().get(path).etag);
        item->remove();
        QCOMPARE(server().get(path).status, 404);
    }

    // Re-runs ask each calendar only what changed since it was read, and get the objects of what did.
    void rerunsReuseUnchangedCalendars()
    {
        if (!dav())
            QSKIP("a server's");
        QDir(DavMirror::folder()).removeRecursively();
        auto mailbox = open("/", 3600 * 1000);
        const QStringList team{"José Álvarez", "Chiara Rossi", "Élodie Martin"};
        const auto requestsFor = [&] {
            const qint64 before = davMailbox(*mailbox).client().requestsSent();
            mailbox->prepareCalendars(team, periodRestriction(kMonday, kSunday));
            for (const QString& member : team)
                walk(*mailbox, member, kMonday, kSunday);
            return davMailbox(*mailbox).client().requestsSent() - before;
        };
        // Where each calendar is, and everything it holds (sync-collection).
        QCOMPARE(requestsFor(), 6);
        QCOMPARE(requestsFor(), 3); // nothing changed
        store("calendars/chiara@example.org/d.ics",
              calendarEvent("d", "New", "20261210T100000", "20261210T110000"));
        QCOMPARE(requestsFor(), 3); // the new object comes with the sync
        QCOMPARE(walk(*mailbox, "chiara", kMonday, kSunday), QStringList{"10 10:00 New"});
    }
};

QTEST_GUILESS_MAIN(TestMailbox)
#include "tst_mailbox.moc"
