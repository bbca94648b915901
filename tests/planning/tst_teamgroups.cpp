#include "planning/teamgroups.h"
#include "queryfixture.h"

#include <QTest>

// The team operations, each case on a folder mailbox and on a CalDAV server.

namespace {

template <typename List>
struct Items : List {
    void clear() override { items.clear(); }
    int count() const override { return int(items.size()); }
    QString item(int index) const override { return items.at(index); }
    QStringList items;
};
struct Members : Items<MemberList> {
    void addItem(const QString& text, const QString& address) override
    {
        items.append(text);
        addresses.append(address);
    }
    QStringList addresses;
};
struct Teams : Items<TeamList> {
    void addItem(const QString& text) override { items.append(text); }
    QString text() const override { return current; }
    void setText(const QString& text) override { current = text; }
    QString current;
};

const QString kElodie = "urn:uuid:p1";
const QString kJose = "urn:uuid:p2";
const QString kChiara = "urn:uuid:p3";

// Three people, an empty team folder, the two controls of a window and what the operations report.
class Fixture : public QueryFixture {
public:
    Fixture()
    {
        write("contacts/elodie.vcf", person("p1", "Élodie Martin", "elodie@example.org"));
        write("contacts/jose.vcf", person("p2", "José Álvarez", "jose@example.org"));
        write("contacts/chiara.vcf", person("p3", "Chiara Rossi", "chiara@example.org"));
    }
    void addTeam(const QString& file, const QByteArray& card) { write("contacts/Rotavine/" + file, card); }

    bool teamFolderExists()
    {
        if (!onServer())
            return QFileInfo(path("contacts/Rotavine")).isDir();
        return DavServer::shared()
                   .request("PROPFIND", "/" + DavServer::kUser + "/Rotavine/", {}, {}, {{"Depth", "0"}})
                   .status == 207;
    }
    bool load(QString& name) { return loadTeams(name, window, teamContext()); }
    void select() { selectTeam(window, teamContext(), settings()); }
    QString selectedTeam() { return settings().read("Parameters", "SelectedTeam", "<none>"); }
    // What a loadTeams run left besides the lists: the pointer restored, QueryRunning set while it ran.
    void verifyFinished()
    {
        QCOMPARE(busyCalls, (QList<bool>{true, false}));
        QVERIFY(runningAtEveryYield);
        QVERIFY(!engine.queryRunning);
    }

    Teams teams;
    Members members;
    TeamWindow window{teams, members};
    int cancelAtYield = 0; // the yield that clears QueryRunning, as the cancel button would; 0: none
    bool runningAtEveryYield = true;
    QList<bool> busyCalls;
    QStringList warnings;

private:
    TeamContext teamContext()
    {
        return TeamContext{mailbox(), engine,
                           [this] {
                               runningAtEveryYield = runningAtEveryYield && engine.queryRunning;
                               if (++yields == cancelAtYield)
                                   engine.queryRunning = false;
                           },
                           [this](bool busy) { busyCalls.append(busy); },
                           [this](const QString& line) { warnings.append(line); }};
    }
};

} // namespace

class TestTeamGroups : public QObject {
    Q_OBJECT

private slots:
    void initTestCase_data() { QueryFixture::addSources(); }

    // Both ways of choosing a team show the same members; only the click remembers the choice.
    void selectionShowsMembers_data()
    {
        QTest::addColumn<QStringList>("refs");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("list order, duplicates kept")
            << QStringList{kChiara, kElodie, kJose, kElodie}
            << QStringList{"Chiara Rossi", "Élodie Martin", "José Álvarez", "Élodie Martin"};
        QTest::newRow("mailto of a known person shows the name")
            << QStringList{"mailto:jose@example.org"} << QStringList{"José Álvarez"};
        QTest::newRow("mailto without a card shows the address")
            << QStringList{kElodie, "mailto:guest@partner.example"}
            << QStringList{"Élodie Martin", "guest@partner.example"};
        QTest::newRow("no members") << QStringList{} << QStringList{};
    }
    void selectionShowsMembers()
    {
        QFETCH(QStringList, refs);
        QFETCH(QStringList, expected);
        const QString team = "Night Shift Team";
        Fixture fixture;
        fixture.addTeam("a.vcf", group("Other", "<rotavine>", {kChiara}));
        fixture.addTeam("b.vcf", group(team, "Teams,<Rotavine>", refs));
        fixture.teams.items = {"Other", team};
        fixture.members.items = {"stale"};

        QString name = team;
        QCOMPARE(fixture.load(name), false);
        QCOMPARE(name, team);
        QCOMPARE(fixture.teams.text(), team);
        QCOMPARE(fixture.teams.items, (QStringList{"Other", team}));
        QCOMPARE(fixture.members.items, expected);
        fixture.verifyFinished();
        QCOMPARE(fixture.selectedTeam(), "<none>");

        fixture.members.items = {"stale"};
        fixture.teams.setText("Other");
        fixture.select();
        fixture.teams.setText(team);
        fixture.engine.headersValid = true;
        fixture.select();
        QCOMPARE(fixture.members.items, expected);
        QCOMPARE(fixture.selectedTeam(), team);
        QCOMPARE(fixture.engine.headersValid, false);
        QCOMPARE(fixture.warnings, QStringList());

        // A click without a team only invalidates the headers.
        fixture.teams.setText(QString());
        fixture.engine.headersValid = true;
        fixture.select();
        QCOMPARE(fixture.members.items, expected);
        QCOMPARE(fixture.selectedTeam(), team);
        QCOMPARE(fixture.engine.headersValid, false);
    }

    // Listing offers the marked lists of the team folder, and so does a selection of a name that is no team
    // (the name is cleared); a cancel keeps the teams found so far; a missing team folder is made.
    void listing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("cancelAt"); // the yield at which QueryRunning is cleared; 0: never
        QTest::addColumn<bool>("folderMissing");
        QTest::addColumn<QStringList>("expected");
        const QStringList all{"Alpha", "Beta", "Zeta"};
        QTest::newRow("listing") << "" << 0 << false << all;
        QTest::newRow("name of an unmarked list") << "Gamma" << 0 << false << all;
        QTest::newRow("name of nothing") << "Nobody" << 0 << false << all;
        QTest::newRow("name of a marked list outside the team folder") << "Elsewhere" << 0 << false << all;
        QTest::newRow("cancelled before the first item") << "" << 1 << false << QStringList();
        QTest::newRow("cancelled before the third item") << "" << 3 << false << QStringList{"Alpha", "Beta"};
        QTest::newRow("cancelled before the last item") << "" << 6 << false << QStringList{"Alpha", "Beta"};
        QTest::newRow("no team folder: listing") << "" << 0 << true << QStringList();
        QTest::newRow("no team folder: selection") << "Alpha" << 0 << true << QStringList();
    }
    void listing()
    {
        QFETCH(QString, name);
        QFETCH(int, cancelAt);
        QFETCH(bool, folderMissing);
        QFETCH(QStringList, expected);
        Fixture fixture;
        if (folderMissing) {
            QVERIFY(QDir(fixture.path("contacts/Rotavine")).removeRecursively());
        }
        else {
            fixture.addTeam("a.vcf", group("Alpha", "Teams,<ROTAVINE>", {kElodie}));
            fixture.addTeam("b.vcf", group("Beta", "Old<Rotavine>Team"));
            fixture.addTeam("c.vcf", group("Gamma", "Teams,rotavine", {kJose}));
            fixture.addTeam("d.vcf", group("Delta", ""));
            fixture.addTeam("e.vcf", person("p9", "Epsilon", "e@example.org", "CATEGORIES:<rotavine>\r\n"));
            fixture.addTeam("f.vcf", group("Zeta", "<rotavine>"));
            fixture.write("contacts/elsewhere.vcf", group("Elsewhere", "<rotavine>", {kChiara}));
        }
        fixture.teams.items = {"stale"};
        fixture.members.items = {"kept"};
        fixture.cancelAtYield = cancelAt;

        QCOMPARE(fixture.load(name), false);
        QCOMPARE(name, QString());
        QCOMPARE(fixture.teams.items, expected);
        QCOMPARE(fixture.members.items, QStringList{"kept"});
        QCOMPARE(fixture.yields, folderMissing ? 0 : cancelAt ? cancelAt : 6); // once per item of the folder
        QVERIFY(fixture.teamFolderExists());
        fixture.verifyFinished();
        QCOMPARE(fixture.warnings, QStringList());
    }

    // Two team cards of one name: the first in the folder's order is the team, the other is said once.
    void twoTeamsOfOneName()
    {
        Fixture fixture;
        fixture.addTeam("a.vcf", group("Alpha", "<rotavine>", {kElodie}));
        fixture.addTeam("b.vcf",
                        group("ALPHA", "<rotavine>", {kJose}).replace("UID:group-alpha", "UID:other"));
        QString name;
        fixture.load(name);
        QCOMPARE(fixture.teams.items, QStringList{"Alpha"});
        QCOMPARE(fixture.warnings.size(), 1);
        QVERIFY2(fixture.warnings.first().contains("b.vcf"), qPrintable(fixture.warnings.first()));
        name = "alpha";
        fixture.load(name);
        QCOMPARE(fixture.members.items, QStringList{"Élodie Martin"});
    }

    // The team folder cannot be opened: no exception, one warning, no teams offered; a selection leaves
    // both lists alone, and a click still remembers the team, as its errors are ignored.
    void unreadableTeamFolder_data()
    {
        QTest::addColumn<bool>("contactsRemoved");
        QTest::addColumn<QString>("name");
        QTest::newRow("team folder is a file: listing") << false << "";
        QTest::newRow("team folder is a file: selection") << false << "Support";
        QTest::newRow("contacts folder removed: listing") << true << "";
        QTest::newRow("contacts folder removed: selection") << true << "Support";
    }
    void unreadableTeamFolder()
    {
        QFETCH(bool, contactsRemoved);
        QFETCH(QString, name);
        if (QueryFixture::onServer())
            QSKIP("folders on disk; the server's failures are those of tst_queries");
        Fixture fixture;
        fixture.mailbox();
        QVERIFY(QDir(fixture.path(contactsRemoved ? "contacts" : "contacts/Rotavine")).removeRecursively());
        if (!contactsRemoved)
            writeFile(fixture.path("contacts/Rotavine"), "not a folder");
        fixture.teams.items = {"stale"};
        fixture.members.items = {"kept"};

        const QString given = name;
        QCOMPARE(fixture.load(name), false);
        QCOMPARE(name, given);
        QCOMPARE(fixture.teams.items, given.isEmpty() ? QStringList() : QStringList{"stale"});
        QCOMPARE(fixture.members.items, QStringList{"kept"});
        QCOMPARE(fixture.warnings.size(), 1);
        fixture.verifyFinished();

        fixture.teams.setText("Support");
        fixture.select();
        QCOMPARE(fixture.members.items, QStringList());
        QCOMPARE(fixture.selectedTeam(), "Support");
    }

    void demoMailbox()
    {
        Fixture fixture;
        QVERIFY(QDir(fixture.path("contacts")).removeRecursively());
        copyTree(ROTAVINE_SOURCE_DATA "/demo-mailbox", fixture.path());
        const QStringList support{"Élodie Martin",   "José Álvarez", "François Dubois", "Anna Kowalska",
                                  "Björn Lindqvist", "Chiara Rossi", "Lukáš Novák",     "Zoë van den Berg"};

        QString name;
        fixture.load(name);
        QCOMPARE(fixture.teams.items, (QStringList{"Customer Experience", "Support"}));
        name = "Support";
        fixture.load(name);
        QCOMPARE(name, "Support");
        QCOMPARE(fixture.members.items, support);
        fixture.teams.setText("Customer Experience");
        fixture.select();
        QCOMPARE(fixture.members.items,
                 support + QStringList({"Søren Nielsen", "Inês Carvalho", "Jürgen Weiß", "Mairéad O'Brien"}));
        QCOMPARE(fixture.selectedTeam(), "Customer Experience");
        name = "Friday lunch club";
        fixture.load(name);
        QCOMPARE(name, QString());
        QCOMPARE(fixture.teams.items, (QStringList{"Customer Experience", "Support"}));
        QCOMPARE(fixture.warnings, QStringList());
    }
};

QTEST_GUILESS_MAIN(TestTeamGroups)
#include "tst_teamgroups.moc"
