#include "mailbox/dav/davmailbox.h"
#include "mailbox/foldermailbox.h"
#include "mailbox/itemcollection.h"
#include "tests/mailbox/mailboxtest.h"
#include "tests/support/davserver.h"
#include "tests/support/fixtures.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QDate kFirst(2026, 11, 30);
const QDate kLast(2026, 12, 20);
const QStringList kTeam{"José Álvarez", "Chiara Rossi", "Élodie Martin"};

// Every member's occurrences in the period, "Name dd HH:mm Subject", or the error where a call fails.
QStringList occurrences(Mailbox& mailbox, QDate first = kFirst, QDate last = kLast, bool prepare = true)
{
    if (prepare)
        mailbox.prepareCalendars(kTeam, periodRestriction(first, last));
    QStringList found;
    for (const QString& name : kTeam) {
        try {
            Recipient recipient = mailbox.createRecipient(name);
            if (!recipient.resolve())
                throw MailboxError(MailboxError::NotResolved, name);
            ItemCollection items = mailbox.sharedDefaultFolder(recipient, Mailbox::kCalendarFolder)->items();
            items.sort("[Start]", false);
            items.includeRecurrences = true;
            for (auto item = items.find(periodRestriction(first, last)); item; item = items.findNext())
                found << name + item->start.toString(" dd HH:mm ") + item->subject;
        }
        catch (const MailboxError& error) {
            found << name + " error " + QString::number(error.number());
        }
    }
    return found;
}

} // namespace

// The mirror of the server's calendars across processes (a new DavMailbox on the same cache folder is the
// next process), refreshed by what changed, against a folder mailbox holding the same files.
class TestDavSync : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_root;
    std::unique_ptr<DavServer> m_server; // private: one test stops it
    QUrl m_url;

    std::unique_ptr<DavMailbox> open()
    {
        DavMailbox::Options options;
        options.server = m_url;
        options.user = DavServer::kUser;
        options.password = DavServer::kPassword;
        options.timeoutSeconds = 5;
        return std::make_unique<DavMailbox>(options);
    }
    QStringList expected()
    {
        FolderMailbox folder(FolderMailbox::Options{m_root, "Élodie Martin", "elodie@example.org", {}, {}});
        return occurrences(folder);
    }
    // Requests a query on a new mailbox sends; the mailbox is kept for a look afterwards.
    qint64 queryRequests(std::unique_ptr<DavMailbox>& mailbox, QStringList* found)
    {
        mailbox = open();
        const qint64 before = mailbox->client().requestsSent();
        *found = occurrences(*mailbox);
        return mailbox->client().requestsSent() - before;
    }
    // A file of the mailbox, changed on the server and in the folder alike.
    void change(const QString& place, const QByteArray& bytes)
    {
        const QString path = m_root + "/calendars/" + place;
        if (bytes.isNull()) {
            QVERIFY(QFile::remove(path));
            QVERIFY(m_server->remove("/" + place.section('/', 0, 0) + "/calendar/" + place.section('/', 1)));
            return;
        }
        writeFile(path, bytes);
        QVERIFY(m_server->put("/" + place.section('/', 0, 0) + "/calendar/" + place.section('/', 1), bytes));
    }
    QUrl calendarUrl(const QString& owner) { return m_server->url("/" + owner + "/calendar/"); }
    // The program run unattended on the server: its exit status, what it printed in `printed`.
    int publish(QString* printed)
    {
        QDir().mkpath(m_dir.filePath("www"));
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ROTAVINE_PASSWORD", DavServer::kPassword);
        environment.insert("TMPDIR", m_dir.path());
        environment.insert("XDG_DATA_HOME", m_dir.filePath("data"));
        process.setProcessEnvironment(environment);
        process.start(ROTAVINE_PROGRAM,
                      {"--caldav", m_url.toString(), "--user", DavServer::kUser, "--team", "Support",
                       "--from", "2026-11-30", "--to", "2026-12-20", "--view", "Planning", "--report",
                       "ReportHTMLPlan", "--output", m_dir.filePath("www/page.htm")});
        process.waitForFinished(60000);
        *printed = process.readAllStandardError();
        return process.exitCode();
    }

private slots:
    void initTestCase()
    {
        QDir(DavMirror::folder()).removeRecursively(); // one a port used before may have left
        m_root = m_dir.filePath("mailbox");
        copyTree(dataPath("mailbox"), m_root);
        QDir(m_root + "/contacts").remove("private.vcf");
        m_server = std::make_unique<DavServer>();
        QVERIFY2(m_server->isRunning(), qPrintable(m_server->error()));
        QCOMPARE(m_server->uploadMailbox(m_root), QString());
        m_url = m_server->url();
    }

    void refresh_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("requests"); // of the next process's query
        // One sync from each calendar's token, where the last process found it: what changed, objects
        // included, and nothing where nothing did.
        QTest::newRow("nothing changed") << "" << 3;
        QTest::newRow("one changed") << "changed" << 3;
        QTest::newRow("one deleted") << "deleted" << 3;
        QTest::newRow("one added") << "added" << 3;
        // The token refused, then everything from an empty one.
        QTest::newRow("server lost its tokens") << "server tokens" << 4;
        QTest::newRow("token made up") << "made-up token" << 4;
        // A mirror that cannot be trusted is not read: the calendar is read whole again.
        QTest::newRow("damaged mirror") << "damaged" << 3;
        QTest::newRow("truncated mirror") << "truncated" << 3;
        QTest::newRow("mirror of another version") << "version" << 3;
        // Gone from where it was found (404): its home is listed again and the calendar read where it is now.
        QTest::newRow("calendar moved") << "moved" << 5;
    }
    void refresh()
    {
        QFETCH(QString, change);
        QFETCH(int, requests);
        std::unique_ptr<DavMailbox> mailbox;
        QStringList found;
        queryRequests(mailbox, &found); // the process before: brings the mirror up to date
        QCOMPARE(found, expected());

        const QUrl chiara = calendarUrl("chiara@example.org");
        const QString mirrorFile = mailbox->mirror().collectionPath(chiara);
        QFile file(mirrorFile);
        if (change == "changed")
            this->change("jose@example.org/b.ics",
                         calendarEvent("b", "Visit moved", "20261209T150000", "20261209T160000"));
        else if (change == "deleted")
            this->change("jose@example.org/b.ics", {});
        else if (change == "added")
            this->change("chiara@example.org/n.ics",
                         calendarEvent("n", "New", "20261210T100000", "20261210T110000"));
        else if (change == "server tokens") {
            QVERIFY(QDir(m_server->storage() + "/chiara@example.org/calendar/.Radicale.cache")
                        .removeRecursively());
            this->change("chiara@example.org/c.ics",
                         calendarEvent("c", "Inside", "20261203T100000", "20261203T110000"));
        }
        else if (change == "made-up token") {
            DavMirror::Collection contents = *mailbox->mirror().loadCollection(chiara);
            contents.syncToken = "http://radicale.org/ns/sync/" + QString(64, 'a');
            contents.ctag.clear();
            QVERIFY(mailbox->mirror().saveCollection(chiara, contents));
        }
        else if (change == "moved") {
            QVERIFY(
                QDir(m_server->storage()).rename("jose@example.org/calendar", "jose@example.org/personal"));
        }
        const auto back = qScopeGuard([&] {
            if (change == "moved")
                QDir(m_server->storage()).rename("jose@example.org/personal", "jose@example.org/calendar");
        });
        if (!change.isEmpty() && QStringList{"damaged", "truncated", "version"}.contains(change)) {
            QVERIFY(file.open(QIODevice::ReadWrite));
            QByteArray bytes = file.readAll();
            if (change == "damaged")
                bytes[bytes.size() - 20] = char(bytes[bytes.size() - 20] ^ 0x20);
            else if (change == "truncated")
                bytes.chop(30);
            else
                bytes[11] = char(bytes[11] + 1); // the format number
            QVERIFY(file.resize(0) && file.seek(0) && file.write(bytes) == bytes.size());
            file.close();
        }
        QCOMPARE(queryRequests(mailbox, &found), requests);
        QCOMPARE(found, expected());
        QVERIFY(mailbox->mirror().loadCollection(chiara).has_value()); // rebuilt
        QVERIFY(!mailbox->offlineSince());
    }

    // Gone from where it was found, and from the member's home too: that member's read fails, the others not.
    void calendarGone()
    {
        std::unique_ptr<DavMailbox> mailbox;
        QStringList found;
        queryRequests(mailbox, &found); // the mirror knows where each calendar is
        QVERIFY(QDir(m_server->storage()).rename("jose@example.org", "jose-away"));
        const auto back =
            qScopeGuard([&] { QDir(m_server->storage()).rename("jose-away", "jose@example.org"); });
        queryRequests(mailbox, &found);
        const QRegularExpression others("^(?!José)");
        QCOMPARE(found.filter(others), expected().filter(others));
        QCOMPARE(found.filter("José"),
                 QStringList{"José Álvarez error " + QString::number(MailboxError::NotFound)});
        // The place it was found at is not kept for the next process.
        const std::optional<DavMirror::Account> account = mailbox->mirror().loadAccount();
        QVERIFY(account);
        for (const QUrl& place : account->located)
            QVERIFY(DavDiscovery::urlKey(place) != DavDiscovery::urlKey(calendarUrl("jose@example.org")));
    }

    // Objects left unparsed by reads prepared for one period, which they miss, are there for the next.
    void periodAfterPeriod_data()
    {
        QTest::addColumn<QList<QDate>>(
            "periods"); // first and last day of the prepared one, then the read one
        QTest::newRow("first week, then the last")
            << QList<QDate>{{2026, 11, 30}, {2026, 12, 6}, {2026, 12, 14}, {2026, 12, 20}};
        QTest::newRow("last week, then all three")
            << QList<QDate>{{2026, 12, 14}, {2026, 12, 20}, {2026, 11, 30}, {2026, 12, 20}};
        QTest::newRow("a few days, then a week that overlaps them")
            << QList<QDate>{{2026, 12, 7}, {2026, 12, 9}, {2026, 12, 9}, {2026, 12, 16}};
    }
    void periodAfterPeriod()
    {
        QFETCH(QList<QDate>, periods);
        FolderMailbox folder(FolderMailbox::Options{m_root, "Élodie Martin", "elodie@example.org", {}, {}});
        auto mailbox = open();
        mailbox->prepareCalendars(kTeam, periodRestriction(periods.at(0), periods.at(1)));
        QCOMPARE(occurrences(*mailbox, periods.at(2), periods.at(3), false),
                 occurrences(folder, periods.at(2), periods.at(3)));
    }

    // Requests in flight follow the replies' times: several where the network's round trip is the most of
    // a reply, one where the server's own time is.
    void inFlightLimit_data()
    {
        QTest::addColumn<QList<double>>("latencies"); // milliseconds, oldest first
        QTest::addColumn<int>("limit");
        QTest::newRow("nothing known yet") << QList<double>{} << 1;
        QTest::newRow("distant, quick") << QList<double>{50, 52, 55, 51} << 8;
        QTest::newRow("distant, answering in a round trip's time") << QList<double>{50, 80, 75} << 2;
        QTest::newRow("distant, slow to answer") << QList<double>{50, 250, 240} << 1;
        QTest::newRow("one slow reply among quick ones") << QList<double>{50, 300, 51, 52, 50} << 1;
        QTest::newRow("a slow reply long past")
            << QList<double>{50, 300, 51, 52, 50, 51, 53, 50, 51, 52} << 8;
    }
    void inFlightLimit()
    {
        QFETCH(QList<double>, latencies);
        QFETCH(int, limit);
        DavClient client(DavClient::Options{}); // at most 8 in flight
        for (double latency : latencies)
            client.noteLatency(latency);
        QCOMPARE(client.inFlightLimit(), limit);
    }

    // Xandikos fails a sync from a token it never gave with a 500: everything is read again all the same.
    void tokenRefusedByXandikos()
    {
        DavServer& xandikos = DavServer::xandikos();
        QVERIFY2(xandikos.isRunning(), qPrintable(xandikos.error()));
        QCOMPARE(xandikos.uploadMailbox(m_root), QString());
        const auto back =
            qScopeGuard([this, radicale = std::exchange(m_url, xandikos.url())] { m_url = radicale; });
        auto mailbox = open();
        QCOMPARE(occurrences(*mailbox), expected());
        const QUrl chiara = xandikos.url("/chiara@example.org/calendars/calendar/");
        DavMirror::Collection contents = *mailbox->mirror().loadCollection(chiara);
        contents.syncToken = "made-up";
        contents.ctag.clear();
        QVERIFY(mailbox->mirror().saveCollection(chiara, contents));
        mailbox = open();
        QCOMPARE(occurrences(*mailbox), expected());
    }

    // Last: the server stops for good.
    void offline()
    {
        auto online = open();
        QCOMPARE(occurrences(*online), expected());
        QString printed;
        QVERIFY2(publish(&printed) == 0 || printed.contains("without the calendars"), qPrintable(printed));
        const QByteArray page = readBytes(m_dir.filePath("www/page.htm"));
        const QDateTime reached = QDateTime::currentDateTimeUtc();
        m_server.reset();

        // A scheduled run never publishes the mirror as if it were the server's calendars.
        QCOMPARE(publish(&printed), 14);
        QVERIFY2(printed.contains("could not be reached; nothing was published"), qPrintable(printed));
        QCOMPARE(readBytes(m_dir.filePath("www/page.htm")), page);

        // A mailbox open when the server goes, and one opened after: the mirror answers both.
        auto offline = open();
        for (DavMailbox* mailbox : {online.get(), offline.get()}) {
            QCOMPARE(occurrences(*mailbox), expected());
            QVERIFY(mailbox->offlineSince().has_value());
            QVERIFY(qAbs(mailbox->offlineSince()->secsTo(reached)) < 30);
            Recipient jose = mailbox->createRecipient("José Álvarez");
            QVERIFY(jose.resolve());
            auto folder = mailbox->sharedDefaultFolder(jose, Mailbox::kCalendarFolder);
            auto item = folder->newItem("IPM.Appointment");
            item->subject = "Offline";
            item->start = QDateTime(kFirst, QTime(9, 0));
            item->end = item->start.addSecs(3600);
            try {
                folder->saveItem(*item);
                QFAIL("saved while offline");
            }
            catch (const MailboxError& error) {
                QCOMPARE(error.number(), MailboxError::WriteFailed);
                QVERIFY2(error.description().contains("cannot be reached"), qPrintable(error.description()));
            }
        }
        // Without a mirror the server's absence is an error, as it always was.
        qputenv("ROTAVINE_NO_CACHE", "1");
        QVERIFY_THROWS_EXCEPTION(MailboxError, open());
        qunsetenv("ROTAVINE_NO_CACHE");
    }
};

QTEST_GUILESS_MAIN(TestDavSync)
#include "tst_davsync.moc"
