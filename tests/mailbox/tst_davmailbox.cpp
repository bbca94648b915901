#include "base/datetext.h"
#include "mailbox/dav/davmailbox.h"
#include "mailbox/itemcollection.h"
#include "tests/support/fixtures.h"
#include "tests/support/radicaleserver.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

QStringList subjects(Mailbox& mailbox, const QString& name, const QDate& first, const QDate& last)
{
    Recipient recipient = mailbox.createRecipient(name);
    if (!recipient.resolve())
        return {"unresolved"};
    ItemCollection items = mailbox.sharedDefaultFolder(recipient, Mailbox::kCalendarFolder)->items();
    items.sort("[Start]");
    items.includeRecurrences = true;
    QStringList found;
    for (auto item = items.find(periodRestriction(first, last)); item; item = items.findNext())
        found << item->start.toString("dd HH:mm ") + item->subject;
    return found;
}

int errorOf(const std::function<void()>& call)
{
    try {
        call();
    }
    catch (const MailboxError& error) {
        return error.number();
    }
    return 0;
}

const QDate kMonday(2026, 12, 7);
const QDate kSunday(2026, 12, 13);

} // namespace

// What only a server does: discovery, conditional writes read back over plain HTTP, rights, the reuse of
// calendars that did not change. The object model's reads are the query and team tests, run on both back
// ends.
class TestDavMailbox : public QObject {
    Q_OBJECT

private:
    RadicaleServer& server() { return RadicaleServer::shared(); }
    QList<DisplayRequest> m_displayed;

    std::unique_ptr<DavMailbox> open(const QString& path = "/", int bookAgeMs = 2000)
    {
        DavMailbox::Options options;
        options.server = server().url(path);
        options.user = RadicaleServer::kUser;
        options.password = RadicaleServer::kPassword;
        options.timeoutSeconds = 10;
        options.ownerName = "Élodie Martin";
        options.ownerAddress = "elodie@example.org";
        options.addressBookMaxAgeMs = bookAgeMs;
        options.now = [] { return QDateTime(QDate(2026, 12, 1), QTime(8, 0), Qt::UTC); };
        int counter = 0;
        options.newUid = [counter]() mutable { return QStringLiteral("uid-%1").arg(++counter); };
        auto mailbox = std::make_unique<DavMailbox>(options);
        mailbox->setDisplayHandler([this](const DisplayRequest& request) { m_displayed << request; });
        return mailbox;
    }

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
        QVERIFY2(server().isRunning(), qPrintable(server().error()));
    }

    void init()
    {
        server().reset();
        m_displayed.clear();
        QTemporaryDir dir;
        const QString root = dir.path();
        writeFile(root + "/contacts/elodie.vcf", person("p1", "Élodie Martin", "elodie@example.org"));
        writeFile(root + "/contacts/jose.vcf", person("p2", "José Álvarez", "jose@example.org"));
        writeFile(root + "/contacts/chiara.vcf", person("p3", "Chiara Rossi", "chiara@example.org"));
        writeFile(root + "/contacts/nocal.vcf", person("p4", "Søren Nielsen", "soren@example.org"));
        writeFile(root + "/contacts/private.vcf", person("p5", "Inês Carvalho", "private@example.org"));
        writeFile(root + "/contacts/elsewhere.vcf",
                  person("p6", "Lukáš Novák", "lukas@example.org",
                         "CALURI:" + server().url("/shared/lukas/").toString().toUtf8() + "\r\n"));
        writeFile(root + "/contacts/Rotavine/team.vcf",
                  "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nUID:team-1\r\nFN:Support\r\n"
                  "CATEGORIES:<rotavine>\r\nMEMBER:urn:uuid:p2\r\nMEMBER:urn:uuid:p3\r\nEND:VCARD\r\n");
        writeFile(root + "/calendars/elodie@example.org/x.ics",
                  calendarEvent("x", "Own", "20261201T090000", "20261201T100000"));
        writeFile(root + "/calendars/jose@example.org/b.ics",
                  calendarEvent("b", "Customer visit", "20261208T140000", "20261208T170000"));
        writeFile(root + "/calendars/jose@example.org/a.ics",
                  calendarEvent("a", "Stand-up", "20261207T093000", "20261207T094500",
                                "RRULE:FREQ=DAILY;COUNT=3\r\n"));
        writeFile(root + "/calendars/chiara@example.org/c.ics",
                  calendarEvent("c", "Outside", "20261215T100000", "20261215T110000"));
        QCOMPARE(server().uploadMailbox(root), QString());
        QVERIFY(server().makeCalendar("/shared/lukas/"));
        QVERIFY(server().put("/shared/lukas/l.ics",
                             calendarEvent("l", "Elsewhere", "20261209T080000", "20261209T090000")));
        server().makeCalendarOnDisk("/" + RadicaleServer::kForbidden + "/calendar");
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
        auto mailbox = open(path);
        QCOMPARE(mailbox->account().principal, server().url("/tester/"));
        QCOMPARE(mailbox->account().calendarHome, server().url("/tester/"));
        QCOMPARE(mailbox->account().addressBookHome, server().url("/tester/"));
        QCOMPARE(subjects(*mailbox, "jose", kMonday, kSunday),
                 (QStringList{"07 09:30 Stand-up", "08 09:30 Stand-up", "08 14:00 Customer visit",
                              "09 09:30 Stand-up"}));
    }

    void calendarsByConventionOrCard_data()
    {
        QTest::addColumn<QString>("member");
        QTest::addColumn<int>("error");
        QTest::addColumn<QStringList>("found");
        QTest::newRow("home named by the address") << "Chiara Rossi" << 0 << QStringList();
        QTest::newRow("CALURI of the card") << "lukas" << 0 << QStringList{"09 08:00 Elsewhere"};
        QTest::newRow("no calendar: 404") << "soren" << int(MailboxError::NotFound) << QStringList();
        QTest::newRow("no rights: 403")
            << "Inês Carvalho" << int(MailboxError::AccessDenied) << QStringList();
    }
    void calendarsByConventionOrCard()
    {
        QFETCH(QString, member);
        QFETCH(int, error);
        QFETCH(QStringList, found);
        auto mailbox = open();
        QStringList got;
        QCOMPARE(errorOf([&] { got = subjects(*mailbox, member, kMonday, kSunday); }), error);
        QCOMPARE(got, found);
        // Prepared ahead, the same error comes from the same call, once.
        mailbox->prepareCalendars({member}, periodRestriction(kMonday, kSunday));
        QCOMPARE(errorOf([&] { got = subjects(*mailbox, member, kMonday, kSunday); }), error);
        QCOMPARE(got, found);
    }

    void wrongPassword()
    {
        DavMailbox::Options options;
        options.server = server().url();
        options.user = RadicaleServer::kUser;
        options.password = "wrong";
        try {
            DavMailbox mailbox(options);
            QFAIL("a wrong password must be refused");
        }
        catch (const MailboxError& error) {
            QCOMPARE(error.number(), int(MailboxError::AccessDenied));
            QVERIFY2(error.description().contains("401"), qPrintable(error.description()));
        }
    }

    void appointmentWrittenReadBackAndDeleted()
    {
        auto mailbox = open();
        Recipient chiara = mailbox->createRecipient("Chiara Rossi");
        QVERIFY(chiara.resolve());
        auto folder = mailbox->sharedDefaultFolder(chiara, Mailbox::kCalendarFolder);
        std::shared_ptr<MailboxItem> item = folder->items().add(MailboxItem::kAppointment);
        item->subject = "Atelier";
        item->reminderSet = false;
        item->start = QDateTime(QDate(2026, 12, 9), QTime(10, 0));
        item->end = QDateTime(QDate(2026, 12, 9), QTime(12, 0));
        item->save();
        QCOMPARE(QUrl(item->source.location).path(QUrl::FullyDecoded),
                 "/chiara@example.org/calendar/uid-1.ics");
        const RadicaleServer::Reply stored = server().get("/chiara@example.org/calendar/uid-1.ics");
        QCOMPARE(stored.status, 200);
        QVERIFY(stored.body.contains("SUMMARY:Atelier"));
        QVERIFY(stored.body.contains("DTSTAMP:20261201T080000Z"));
        QCOMPARE(item->source.etag.toUtf8(), stored.etag);
        QCOMPARE(subjects(*mailbox, "chiara", QDate(2026, 12, 9), QDate(2026, 12, 9)),
                 QStringList{"09 10:00 Atelier"});

        // The same UID again is refused by If-None-Match, not written over.
        MailboxItem again;
        again.subject = "Other";
        again.start = item->start;
        QString uid = "uid-1";
        QByteArray etag;
        QCOMPARE(errorOf([&] {
                     mailbox->putEvent(server().url("/chiara@example.org/calendar/"), again, {}, &uid, &etag);
                 }),
                 int(MailboxError::Conflict));
        QVERIFY(server().get("/chiara@example.org/calendar/uid-1.ics").body.contains("SUMMARY:Atelier"));

        // Changed on the server since it was read: the deletion is refused by If-Match.
        QByteArray changed = stored.body;
        changed.replace("SUMMARY:Atelier", "SUMMARY:Atelier (moved)");
        QVERIFY(server().put("/chiara@example.org/calendar/uid-1.ics", changed));
        QCOMPARE(errorOf([&] { item->remove(); }), int(MailboxError::Conflict));
        QCOMPARE(server().get("/chiara@example.org/calendar/uid-1.ics").status, 200);

        item->source.etag = QString::fromUtf8(server().get("/chiara@example.org/calendar/uid-1.ics").etag);
        item->remove();
        QCOMPARE(server().get("/chiara@example.org/calendar/uid-1.ics").status, 404);
    }

    void meetingWrittenToEveryAttendee()
    {
        auto mailbox = open();
        std::shared_ptr<MailboxItem> meeting = mailbox->createItem(Mailbox::kAppointmentItem);
        meeting->meetingStatus = 1;
        meeting->subject = "Planning review";
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
            QVERIFY(error.description().contains("Søren Nielsen"));
            QVERIFY(error.description().contains("Nobody Known"));
            QVERIFY(!error.description().contains("Chiara"));
        }
        for (const char* owner : {"jose", "chiara", "elodie"}) {
            const RadicaleServer::Reply reply =
                server().get(QString("/%1@example.org/calendar/uid-1.ics").arg(owner));
            QCOMPARE(reply.status, 200);
            QVERIFY(reply.body.contains("ORGANIZER;CN=Élodie Martin:mailto:elodie@example.org"));
            QCOMPARE(reply.body.count("ATTENDEE"), 2);
        }
    }

    void teamCategoriesWrittenWithIfMatch()
    {
        auto mailbox = open();
        auto team = mailbox->defaultFolder(Mailbox::kContactsFolder)->folder("rotavine");
        std::shared_ptr<MailboxItem> list = team->items().item("Support");
        QCOMPARE(list->memberCount(), 2);
        QCOMPARE(list->member(1), "José Álvarez");
        list->categories = "Teams;<rotavine>";
        list->save();
        const RadicaleServer::Reply stored = server().get("/tester/Rotavine/team.vcf");
        QVERIFY2(stored.body.contains("CATEGORIES:Teams,<rotavine>"), stored.body.constData());
        QCOMPARE(list->source.etag.toUtf8(), stored.etag);

        // Changed behind the program's back: the next save is refused and the server keeps its version.
        QByteArray changed = stored.body;
        changed.replace("FN:Support", "FN:Support\r\nNOTE:changed elsewhere");
        QVERIFY(server().put("/tester/Rotavine/team.vcf", changed));
        list->categories = "Other";
        QCOMPARE(errorOf([&] { list->save(); }), int(MailboxError::Conflict));
        QVERIFY(server().get("/tester/Rotavine/team.vcf").body.contains("CATEGORIES:Teams,<rotavine>"));
    }

    void teamFolderCreatedWhenMissing()
    {
        QVERIFY(server().remove("/tester/Rotavine/"));
        auto mailbox = open();
        auto contacts = mailbox->defaultFolder(Mailbox::kContactsFolder);
        QCOMPARE(errorOf([&] { contacts->folder("Rotavine"); }), int(MailboxError::NotFound));
        auto team = contacts->addFolder("Rotavine");
        QCOMPARE(team->items().count(), 0);
        const RadicaleServer::Reply listed =
            server().request("PROPFIND", "/tester/Rotavine/", {}, {}, {{"Depth", "0"}});
        QCOMPARE(listed.status, 207);
        QVERIFY(listed.body.contains("addressbook"));
        QCOMPARE(contacts->addFolder("rotavine")->name(), "Rotavine");
    }

    void displayOpensWebAddresses()
    {
        auto mailbox = open();
        Recipient jose = mailbox->createRecipient("jose");
        QVERIFY(jose.resolve());
        auto folder = mailbox->sharedDefaultFolder(jose, Mailbox::kCalendarFolder);
        folder->display();
        auto items = folder->items();
        items.includeRecurrences = true;
        items.find(periodRestriction(kMonday, kSunday))->display();
        QCOMPARE(m_displayed.size(), 2);
        QCOMPARE(DavDiscovery::urlKey(m_displayed.at(0).url),
                 DavDiscovery::urlKey(server().url("/jose@example.org/calendar/")));
        QCOMPARE(DavDiscovery::urlKey(m_displayed.at(1).url),
                 DavDiscovery::urlKey(server().url("/jose@example.org/calendar/a.ics")));
        QCOMPARE(folder->items().count(), 2); // stored items: the series and the single event
    }

    // Re-runs ask only whether each calendar changed, and read again only the one that did.
    void rerunsReuseUnchangedCalendars()
    {
        auto mailbox = open("/", 3600 * 1000);
        const QStringList team{"José Álvarez", "Chiara Rossi", "Élodie Martin"};
        const QString restriction = periodRestriction(kMonday, kSunday);
        const auto requestsFor = [&] {
            const qint64 before = mailbox->client().requestsSent();
            mailbox->prepareCalendars(team, restriction);
            for (const QString& member : team)
                subjects(*mailbox, member, kMonday, kSunday);
            return mailbox->client().requestsSent() - before;
        };
        const auto revisions = [&] {
            QList<quint64> found;
            for (const QString& member : team)
                found << calendarRevision(*mailbox, member, kMonday, kSunday);
            return found;
        };
        QCOMPARE(requestsFor(), 6); // where each calendar is (with its getctag), what it holds
        const QList<quint64> before = revisions();
        QVERIFY(!before.contains(0));
        QCOMPARE(requestsFor(), 3); // whether it changed
        QCOMPARE(revisions(), before);
        QVERIFY(server().put("/chiara@example.org/calendar/d.ics",
                             calendarEvent("d", "New", "20261210T100000", "20261210T110000")));
        QCOMPARE(requestsFor(), 4);
        QCOMPARE(subjects(*mailbox, "chiara", kMonday, kSunday), QStringList{"10 10:00 New"});
        const QList<quint64> after = revisions();
        QCOMPARE(after[0], before[0]);
        QVERIFY(after[1] != before[1]);
        QCOMPARE(after[2], before[2]);
    }
};

QTEST_GUILESS_MAIN(TestDavMailbox)
#include "tst_davmailbox.moc"
