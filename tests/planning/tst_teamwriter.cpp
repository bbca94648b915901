#include "mailbox/itemcollection.h"
#include "planning/teamgroups.h"
#include "planning/teamwriter.h"
#include "queryfixture.h"

#include <QTest>

// Marking, writing and deleting teams, each case on a folder mailbox and on a CardDAV server.

namespace {

const TeamMember kElodie{"Élodie Martin", "elodie@example.org", "urn:uuid:p1"};
const TeamMember kJose{"José Álvarez", "jose@example.org", "urn:uuid:p2"};
const TeamMember kGuest{"guest@partner.example", "guest@partner.example", "mailto:guest@partner.example"};

class Fixture : public QueryFixture {
public:
    Fixture()
    {
        write("contacts/elodie.vcf", person("p1", "Élodie Martin", "elodie@example.org"));
        write("contacts/jose.vcf", person("p2", "José Álvarez", "jose@example.org"));
        write("contacts/Rotavine/alpha.vcf",
              group("Alpha", "<rotavine>", {kElodie.reference})
                  .replace("END:VCARD", "X-CUSTOM;TYPE=note:kept\\, as it was\r\nEND:VCARD"));
        write("contacts/Rotavine/gamma.vcf", group("Gamma", ""));
        write("contacts/Rotavine/projects.vcf", group("Projects list", "Projects"));
        write("contacts/Rotavine/zoe.vcf", person("p9", "Zoé", "zoe@example.org"));
    }
    TeamWriter writer() { return TeamWriter(mailbox()); }
    // The card as stored now, read past every cache.
    static QByteArray stored(const MailboxItem& item)
    {
        if (!onServer()) {
            QFile file(item.source.location);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }
        return DavServer::shared().get(QUrl(item.source.location).path()).body;
    }
    // Changes the card behind the mailbox's back, as another program would.
    static void changeBehind(const MailboxItem& item, const QByteArray& bytes)
    {
        if (onServer())
            QVERIFY(DavServer::shared().put(QUrl(item.source.location).path(), bytes));
        else
            writeFile(item.source.location, bytes);
    }
};

} // namespace

class TestTeamWriter : public QObject {
    Q_OBJECT

private slots:
    void initTestCase_data() { QueryFixture::addSources(); }

    // A marked list opens without a question; an unmarked one is marked only on Yes, the marker appended.
    void markAsTeam_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<int>("expected");
        QTest::addColumn<QString>("categories");
        QTest::newRow("marker present")
            << "alpha" << false << int(TeamWriter::Marking::AlreadyTeam) << "<rotavine>";
        QTest::newRow("empty categories")
            << "Gamma" << true << int(TeamWriter::Marking::Marked) << "<rotavine>";
        QTest::newRow("one other category")
            << "Projects list" << true << int(TeamWriter::Marking::Marked) << "Projects;<rotavine>";
        QTest::newRow("answered no") << "Gamma" << false << int(TeamWriter::Marking::Declined) << "";
    }
    void markAsTeam()
    {
        QFETCH(QString, name);
        QFETCH(bool, answer);
        QFETCH(int, expected);
        QFETCH(QString, categories);
        Fixture fixture;
        const QByteArray before = Fixture::stored(*fixture.writer().list(name));
        int asked = 0;
        QCOMPARE(int(fixture.writer().markAsTeam(name, [&] { return ++asked, answer; })), expected);
        QCOMPARE(asked, expected == int(TeamWriter::Marking::AlreadyTeam) ? 0 : 1);
        const std::shared_ptr<MailboxItem> list = fixture.writer().list(name);
        QCOMPARE(list->categories, categories);
        QCOMPARE(Fixture::stored(*list) == before, expected != int(TeamWriter::Marking::Marked));
    }

    // A name no list has, or a person's, is not found and nothing is asked; deleting removes the card only.
    void notFoundAndDelete()
    {
        Fixture fixture;
        for (const QString name : {"Nobody", "Zoé"}) {
            bool asked = false;
            try {
                fixture.writer().markAsTeam(name, [&] { return asked = true; });
                QFAIL("no error");
            }
            catch (const MailboxError& error) {
                QCOMPARE(error.number(), int(MailboxError::NotFound));
            }
            QVERIFY(!asked);
        }
        fixture.writer().remove("ALPHA");
        QStringList left;
        for (const auto& item : openTeamFolder(fixture.mailbox())->storedItems())
            left << item->subject;
        QCOMPARE(left, (QStringList{"Gamma", "Projects list", "Zoé"}));
    }

    // Name and members are written into the card, whatever else it holds kept; new teams come out marked.
    void save_data()
    {
        QTest::addColumn<QString>("team"); // empty: a new team
        QTest::addColumn<QString>("name");
        QTest::addColumn<QList<TeamMember>>("members");
        QTest::addColumn<int>("expected");
        QTest::newRow("members added")
            << "Alpha"
            << "Alpha" << QList{kElodie, kJose, kGuest} << int(TeamWriter::Saving::Saved);
        QTest::newRow("all removed") << "Alpha"
                                     << "Alpha" << QList<TeamMember>{} << int(TeamWriter::Saving::Saved);
        QTest::newRow("renamed") << "Alpha"
                                 << " Night shift " << QList{kJose} << int(TeamWriter::Saving::Saved);
        QTest::newRow("renamed, letter case only")
            << "Alpha"
            << "ALPHA" << QList{kElodie} << int(TeamWriter::Saving::Saved);
        QTest::newRow("new team") << ""
                                  << "Night shift" << QList{kGuest, kElodie}
                                  << int(TeamWriter::Saving::Saved);
        QTest::newRow("name of another list")
            << "Alpha"
            << "gamma" << QList{kJose} << int(TeamWriter::Saving::NameTaken);
        QTest::newRow("new team, name of a person")
            << ""
            << "zoé" << QList{kJose} << int(TeamWriter::Saving::NameTaken);
        QTest::newRow("no name") << ""
                                 << "  " << QList{kJose} << int(TeamWriter::Saving::NameMissing);
    }
    void save()
    {
        QFETCH(QString, team);
        QFETCH(QString, name);
        QFETCH(QList<TeamMember>, members);
        QFETCH(int, expected);
        Fixture fixture;
        std::shared_ptr<MailboxItem> item = team.isEmpty() ? nullptr : fixture.writer().list(team);
        const std::shared_ptr<MailboxItem> before = item;
        QCOMPARE(int(fixture.writer().save(item, name, members)), expected);
        if (expected != int(TeamWriter::Saving::Saved)) {
            QVERIFY(item == before);
            return;
        }
        // Read again from the store, as the team lists will.
        const std::shared_ptr<MailboxItem> read = fixture.writer().list(name.trimmed());
        QCOMPARE(read->subject, name.trimmed());
        QVERIFY(isTeamGroup(*read));
        QCOMPARE(TeamWriter::members(*read), members);
        const QByteArray card = Fixture::stored(*read);
        QVERIFY2(card.contains("KIND:group\r\n"), card);
        QCOMPARE(card.contains("X-CUSTOM;TYPE=note:kept\\, as it was\r\n"), !team.isEmpty());
        // Saved again unchanged: the version written is the one the item knows.
        QCOMPARE(int(fixture.writer().save(item, name, members)), int(TeamWriter::Saving::Saved));
        QCOMPARE(Fixture::stored(*read), card);
    }

    // A card changed elsewhere since it was read is never overwritten, whether the change is seen before
    // writing or refused by the store itself.
    void concurrentChangeRefused_data()
    {
        QTest::addColumn<bool>("throughWriter");
        QTest::newRow("writer") << true;
        QTest::newRow("item saved directly") << false;
    }
    void concurrentChangeRefused()
    {
        QFETCH(bool, throughWriter);
        Fixture fixture;
        std::shared_ptr<MailboxItem> item = fixture.writer().list("Alpha");
        const std::shared_ptr<MailboxItem> before = item;
        const QByteArray theirs = group("Alpha", "<rotavine>", {kJose.reference});
        Fixture::changeBehind(*item, theirs);
        const QByteArray stored = Fixture::stored(*item); // as the server keeps it
        try {
            if (throughWriter) {
                fixture.writer().save(item, "Alpha", {kGuest});
            }
            else {
                item->source.memberRefs = {kGuest.reference};
                item->save();
            }
            QFAIL("saved over a newer card");
        }
        catch (const MailboxError& error) {
            QCOMPARE(error.number(), int(MailboxError::Conflict));
        }
        QVERIFY(item == before);
        QCOMPARE(Fixture::stored(*item), stored);
    }
};

QTEST_GUILESS_MAIN(TestTeamWriter)
#include "tst_teamwriter.moc"
