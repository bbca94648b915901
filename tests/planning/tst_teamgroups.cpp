#include "base/settingsstore.h"
#include "mailbox/dav/davmailbox.h"
#include "mailbox/foldermailbox.h"
#include "planning/enginestate.h"
#include "planning/teamgroups.h"
#include "tests/support/radicaleserver.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

class Lists : public TeamList {
public:
    void clear() override { items.clear(); }
    void addItem(const QString& text) override { items.append(text); }
    QString text() const override { return current; }
    void setText(const QString& text) override { current = text; }
    int count() const override { return int(items.size()); }
    QString item(int index) const override { return items.at(index); }

    QStringList items;
    QString current;
};

class Members : public MemberList {
public:
    void clear() override { items.clear(); }
    void addItem(const QString& text) override { items.append(text); }
    int count() const override { return int(items.size()); }
    QString item(int index) const override { return items.at(index); }

    QStringList items;
};

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    file.write(bytes);
}

QByteArray person(const QString& uid, const QString& name, const QString& email,
                  const QString& categories = QString())
{
    QByteArray card = "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:" + uid.toUtf8() + "\r\nFN:" + name.toUtf8() +
                      "\r\nEMAIL:" + email.toUtf8() + "\r\n";
    if (!categories.isEmpty())
        card += "CATEGORIES:" + categories.toUtf8() + "\r\n";
    return card + "END:VCARD\r\n";
}

// A distribution list; categories as written in the card, separated by commas.
QByteArray group(const QString& name, const QString& categories, const QStringList& members = {})
{
    QByteArray card = "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nUID:group-" +
                      name.toUtf8().toLower().replace(' ', '-') + "\r\nFN:" + name.toUtf8() + "\r\n";
    if (!categories.isEmpty())
        card += "CATEGORIES:" + categories.toUtf8() + "\r\n";
    for (const QString& member : members)
        card += "MEMBER:" + member.toUtf8() + "\r\n";
    return card + "END:VCARD\r\n";
}

void copyTree(const QString& from, const QString& to)
{
    QDirIterator files(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString source = files.next();
        const QString target = to + '/' + QDir(from).relativeFilePath(source);
        QDir().mkpath(QFileInfo(target).absolutePath());
        QVERIFY2(QFile::copy(source, target), qPrintable(source));
    }
}

const QString kElodie = "urn:uuid:p1";
const QString kJose = "urn:uuid:p2";
const QString kChiara = "urn:uuid:p3";

// Under the global data row "dav" the tests run on a Radicale on 127.0.0.1.
bool onServer()
{
    QFETCH_GLOBAL(bool, server);
    return server;
}

// A mailbox in a temporary folder (uploaded to the server when the test runs on one), the two controls of a
// window, and what the operations report.
class Fixture {
    // First, so that it exists before the settings file inside it is named.
    QTemporaryDir m_dir;

public:
    Fixture()
    {
        if (onServer())
            RadicaleServer::shared().reset();
        writeFile(contacts("elodie.vcf"), person("p1", "Élodie Martin", "elodie@example.org"));
        writeFile(contacts("jose.vcf"), person("p2", "José Álvarez", "jose@example.org"));
        writeFile(contacts("chiara.vcf"), person("p3", "Chiara Rossi", "chiara@example.org"));
        QDir().mkpath(team());
    }

    QString root() const { return m_dir.path(); }
    QString contacts(const QString& name = QString()) const
    {
        return m_dir.path() + "/contacts" + (name.isEmpty() ? QString() : '/' + name);
    }
    QString team(const QString& name = QString()) const
    {
        return contacts("Rotavine") + (name.isEmpty() ? QString() : '/' + name);
    }

    Mailbox& mailbox()
    {
        if (!m_mailbox && onServer()) {
            RadicaleServer& server = RadicaleServer::shared();
            if (!server.isRunning())
                qFatal("%s", qPrintable(server.error()));
            const QString failed = server.uploadMailbox(root());
            if (!failed.isEmpty())
                qFatal("upload failed: %s", qPrintable(failed));
            DavMailbox::Options options;
            options.server = server.url();
            options.user = RadicaleServer::kUser;
            options.password = RadicaleServer::kPassword;
            options.timeoutSeconds = 10;
            m_mailbox = std::make_unique<DavMailbox>(options);
        }
        if (!m_mailbox) {
            FolderMailbox::Options options;
            options.root = root();
            m_mailbox = std::make_unique<FolderMailbox>(options);
        }
        return *m_mailbox;
    }

    bool teamFolderExists()
    {
        if (!onServer())
            return QFileInfo(team()).isDir();
        const int status =
            RadicaleServer::shared()
                .request("PROPFIND", "/" + RadicaleServer::kUser + "/Rotavine/", {}, {}, {{"Depth", "0"}})
                .status;
        return status == 207;
    }

    TeamContext context()
    {
        return TeamContext{mailbox(), engine, [this] { onYield(); },
                           [this](bool busy) { busyCalls.append(busy); },
                           [this](const QString& line) { warnings.append(line); }};
    }

    bool load(QString& name)
    {
        const TeamContext teamContext = context();
        return loadTeams(name, window, teamContext);
    }

    void select() { selectTeam(window, context(), settings); }

    QString selectedTeam() const { return settings.read("Parameters", "SelectedTeam", "<none>"); }

    EngineState engine;
    Lists teams;
    Members members;
    TeamWindow window{teams, members};
    SettingsStore settings{m_dir.filePath("settings.ini")};

    // Which yield clears QueryRunning, as the cancel button would; 0 never.
    int cancelAtYield = 0;
    int yields = 0;
    bool runningAtEveryYield = true;
    QList<bool> busyCalls;
    QStringList warnings;

private:
    void onYield()
    {
        ++yields;
        runningAtEveryYield = runningAtEveryYield && engine.queryRunning;
        if (yields == cancelAtYield)
            engine.queryRunning = false;
    }

    std::unique_ptr<Mailbox> m_mailbox;
};

} // namespace

class TestTeamGroups : public QObject {
    Q_OBJECT

private slots:
    // Every case runs on a folder mailbox and on a CalDAV server.
    void initTestCase_data()
    {
        QTest::addColumn<bool>("server");
        QTest::newRow("folder") << false;
        QTest::newRow("dav") << true;
    }

    void listsMarkedListsOnly_data()
    {
        QTest::addColumn<bool>("inTeamFolder");
        QTest::addColumn<QByteArray>("card");
        QTest::addColumn<bool>("listed");

        QTest::newRow("list: another category, then the marker in capitals")
            << true << group("Candidate", "Teams,<ROTAVINE>") << true;
        QTest::newRow("list: marker inside a longer category")
            << true << group("Candidate", "Old<Rotavine>Team") << true;
        QTest::newRow("list: other categories only") << true << group("Candidate", "Teams,rotavine") << false;
        QTest::newRow("list: no categories") << true << group("Candidate", "") << false;
        QTest::newRow("person with the marker")
            << true << person("p9", "Candidate", "candidate@example.org", "Teams,<rotavine>") << false;
        QTest::newRow("marked list outside the team folder")
            << false << group("Candidate", "<rotavine>") << false;
    }
    void listsMarkedListsOnly()
    {
        QFETCH(bool, inTeamFolder);
        QFETCH(QByteArray, card);
        QFETCH(bool, listed);

        Fixture fixture;
        writeFile(fixture.team("a-reference.vcf"), group("Reference", "<rotavine>", {kElodie}));
        writeFile(inTeamFolder ? fixture.team("b-candidate.vcf") : fixture.contacts("b-candidate.vcf"), card);
        fixture.teams.items = {"stale"};
        fixture.members.items = {"kept"};

        QString name;
        QCOMPARE(fixture.load(name), false);

        QCOMPARE(fixture.teams.items,
                 listed ? QStringList({"Reference", "Candidate"}) : QStringList{"Reference"});
        QCOMPARE(name, QString());
        QCOMPARE(fixture.members.items, QStringList{"kept"});
        QCOMPARE(fixture.yields, inTeamFolder ? 2 : 1); // once per item of the team folder
        QVERIFY(fixture.runningAtEveryYield);
        QCOMPARE(fixture.engine.queryRunning, false);
        QCOMPARE(fixture.busyCalls, (QList<bool>{true, false}));
        QCOMPARE(fixture.warnings, QStringList());
    }

    // Both ways of choosing a team show the same members; only the click remembers the choice.
    void selectionShowsMembers_data()
    {
        QTest::addColumn<QString>("team");
        QTest::addColumn<QStringList>("refs");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("list order, not sorted")
            << "Support" << QStringList{kChiara, kElodie, kJose}
            << QStringList{"Chiara Rossi", "Élodie Martin", "José Álvarez"};
        QTest::newRow("duplicates kept") << "Support" << QStringList{kElodie, kJose, kElodie}
                                         << QStringList{"Élodie Martin", "José Álvarez", "Élodie Martin"};
        QTest::newRow("mailto of a known person shows the name")
            << "Support" << QStringList{"mailto:jose@example.org"} << QStringList{"José Álvarez"};
        QTest::newRow("mailto without a card shows the address")
            << "Support" << QStringList{kElodie, "mailto:guest@partner.example"}
            << QStringList{"Élodie Martin", "guest@partner.example"};
        QTest::newRow("no members") << "Support" << QStringList{} << QStringList{};
        QTest::newRow("name with spaces") << "Night Shift Team" << QStringList{kJose, kChiara}
                                          << QStringList{"José Álvarez", "Chiara Rossi"};
    }
    void selectionShowsMembers()
    {
        QFETCH(QString, team);
        QFETCH(QStringList, refs);
        QFETCH(QStringList, expected);

        Fixture fixture;
        writeFile(fixture.team("a-other.vcf"), group("Other", "<rotavine>", {kChiara}));
        writeFile(fixture.team("b-team.vcf"), group(team, "Teams,<Rotavine>", refs));

        fixture.teams.items = {"Other", team};
        fixture.members.items = {"stale"};
        QString name = team;
        QCOMPARE(fixture.load(name), false);
        QCOMPARE(name, team);
        QCOMPARE(fixture.teams.text(), team);
        QCOMPARE(fixture.teams.items, (QStringList{"Other", team}));
        QCOMPARE(fixture.members.items, expected);
        QCOMPARE(fixture.engine.queryRunning, false);
        QCOMPARE(fixture.busyCalls, (QList<bool>{true, false}));
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
    }

    void nameNotATeamListsTeams_data()
    {
        QTest::addColumn<QString>("name");

        QTest::newRow("unmarked list") << "Friday lunch";
        QTest::newRow("no such item") << "Nobody";
        QTest::newRow("marked list outside the team folder") << "Elsewhere";
    }
    void nameNotATeamListsTeams()
    {
        QFETCH(QString, name);

        Fixture fixture;
        writeFile(fixture.team("a.vcf"), group("Support", "<rotavine>", {kElodie}));
        writeFile(fixture.team("b.vcf"), group("Friday lunch", "Social", {kJose}));
        writeFile(fixture.team("c.vcf"), group("Night Shift", "Teams,<rotavine>", {kChiara}));
        writeFile(fixture.contacts("elsewhere.vcf"), group("Elsewhere", "<rotavine>", {kChiara}));
        fixture.teams.items = {"stale"};
        fixture.members.items = {"kept"};

        QCOMPARE(fixture.load(name), false);
        QCOMPARE(name, QString());
        QCOMPARE(fixture.teams.items, (QStringList{"Support", "Night Shift"}));
        QCOMPARE(fixture.members.items, QStringList{"kept"});
        QCOMPARE(fixture.engine.queryRunning, false);
        QCOMPARE(fixture.busyCalls, (QList<bool>{true, false}));
    }

    void missingTeamFolderIsCreated_data()
    {
        QTest::addColumn<QString>("name");

        QTest::newRow("listing") << "";
        QTest::newRow("selection") << "Support";
    }
    void missingTeamFolderIsCreated()
    {
        QFETCH(QString, name);

        Fixture fixture;
        QVERIFY(QDir(fixture.team()).removeRecursively());
        fixture.teams.items = {"stale"};

        QCOMPARE(fixture.load(name), false);
        QVERIFY(fixture.teamFolderExists());
        QCOMPARE(name, QString());
        QCOMPARE(fixture.teams.items, QStringList());
        QCOMPARE(fixture.warnings, QStringList());
        QCOMPARE(fixture.engine.queryRunning, false);
    }

    void cancelKeepsTeamsFoundSoFar_data()
    {
        QTest::addColumn<int>("cancelAt");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("yields");

        QTest::newRow("not cancelled") << 0 << QStringList{"Alpha", "Gamma", "Delta"} << 4;
        QTest::newRow("before the first item") << 1 << QStringList{} << 1;
        QTest::newRow("before the third item") << 3 << QStringList{"Alpha"} << 3;
        QTest::newRow("before the last item") << 4 << QStringList{"Alpha", "Gamma"} << 4;
    }
    void cancelKeepsTeamsFoundSoFar()
    {
        QFETCH(int, cancelAt);
        QFETCH(QStringList, expected);
        QFETCH(int, yields);

        Fixture fixture;
        writeFile(fixture.team("1.vcf"), group("Alpha", "<rotavine>"));
        writeFile(fixture.team("2.vcf"), group("Beta", "Social"));
        writeFile(fixture.team("3.vcf"), group("Gamma", "<rotavine>"));
        writeFile(fixture.team("4.vcf"), group("Delta", "<rotavine>"));
        fixture.cancelAtYield = cancelAt;

        QString name;
        QCOMPARE(fixture.load(name), false);
        QCOMPARE(fixture.teams.items, expected);
        QCOMPARE(fixture.yields, yields);
        QVERIFY(fixture.runningAtEveryYield);
        QCOMPARE(fixture.engine.queryRunning, false);
        QCOMPARE(fixture.busyCalls, (QList<bool>{true, false}));
    }

    void emptySelectionDoesNothing()
    {
        Fixture fixture;
        writeFile(fixture.team("a.vcf"), group("Support", "<rotavine>", {kElodie}));
        QVERIFY(fixture.settings.write("Parameters", "SelectedTeam", "Support"));
        fixture.teams.items = {"Support"};
        fixture.members.items = {"kept"};
        fixture.engine.headersValid = true;

        fixture.select();
        QCOMPARE(fixture.members.items, QStringList{"kept"});
        QCOMPARE(fixture.selectedTeam(), "Support");
        QCOMPARE(fixture.engine.headersValid, false);
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
        if (onServer())
            QSKIP("folders on disk; the server's failures are those of tst_davfaults");

        Fixture fixture;
        fixture.mailbox();
        QVERIFY(QDir(fixture.team()).removeRecursively());
        if (contactsRemoved)
            QVERIFY(QDir(fixture.contacts()).removeRecursively());
        else
            writeFile(fixture.team(), "not a folder");
        fixture.teams.items = {"stale"};
        fixture.members.items = {"kept"};

        const QString given = name;
        QCOMPARE(fixture.load(name), false);
        QCOMPARE(name, given);
        QCOMPARE(fixture.teams.items, given.isEmpty() ? QStringList() : QStringList{"stale"});
        QCOMPARE(fixture.members.items, QStringList{"kept"});
        QCOMPARE(fixture.warnings.size(), 1);
        QCOMPARE(fixture.engine.queryRunning, false);
        QCOMPARE(fixture.busyCalls, (QList<bool>{true, false}));

        fixture.teams.setText("Support");
        fixture.select();
        QCOMPARE(fixture.members.items, QStringList());
        QCOMPARE(fixture.selectedTeam(), "Support");
    }

    void demoMailbox()
    {
        Fixture fixture;
        QVERIFY(QDir(fixture.contacts()).removeRecursively());
        copyTree(ROTAVINE_SOURCE_DATA "/demo-mailbox", fixture.root());

        QString name;
        fixture.load(name);
        QCOMPARE(fixture.teams.items, (QStringList{"Customer Experience", "Support"}));

        name = "Support";
        fixture.load(name);
        QCOMPARE(name, "Support");
        QCOMPARE(fixture.members.items,
                 (QStringList{"Élodie Martin", "José Álvarez", "François Dubois", "Anna Kowalska",
                              "Björn Lindqvist", "Chiara Rossi", "Lukáš Novák", "Zoë van den Berg"}));

        fixture.teams.setText("Customer Experience");
        fixture.select();
        QCOMPARE(fixture.members.items,
                 (QStringList{"Élodie Martin", "José Álvarez", "François Dubois", "Anna Kowalska",
                              "Björn Lindqvist", "Chiara Rossi", "Lukáš Novák", "Zoë van den Berg",
                              "Søren Nielsen", "Inês Carvalho", "Jürgen Weiß", "Mairéad O'Brien"}));
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
