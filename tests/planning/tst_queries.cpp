#include "planning/dayview.h"
#include "planning/memberquery.h"
#include "queryfixture.h"
#include "tests/support/faultproxy.h"

#include <QLocale>
#include <QTest>

// The member view and the day view, each case on a folder mailbox and on a CalDAV server.

using Fixture = QueryFixture;
using Fault = FaultProxy::Fault;

namespace {

const QDate kMonday(2026, 12, 7);
const QDate kSunday(2026, 12, 13);
const QString nb = QStringLiteral("&nbsp");

// Everything a query leaves in the grid and the matrix, one line per cell.
QStringList everything(const PlanningGrid& grid, const PlanningMatrix& matrix)
{
    QStringList lines{
        QString::asprintf("%d %d %d %d", grid.rows(), grid.columns(), grid.row(), grid.column())};
    for (int row = 0; row < grid.rows(); ++row) {
        for (int column = 0; column < grid.columns(); ++column) {
            const PlanningCell& cell = matrix.cell(row, column);
            const QString format =
                QString::asprintf("%lld %d", grid.backColour(row, column), int(grid.alignment(row, column)));
            lines << QStringList{grid.text(row, column), format,          cell.html,
                                 cell.gridColour,        cell.htmlColour, cell.ruleRank}
                         .join('|');
        }
    }
    return lines;
}

QList<QByteArray> anaEvents(const QByteArray& extra)
{
    return {Fixture::event("20261207T090000", "20261207T100000", "Customer visit|CATEGORIES:Customer"),
            Fixture::event("20261207T093000", "20261207T094500", "Stand-up|RRULE:FREQ=DAILY;COUNT=12"),
            Fixture::event("20261209", "20261212", "Holiday"),
            Fixture::event("20261215T140000", "20261215T150000", "Doctor|CLASS:PRIVATE"),
            Fixture::event("20261216T220000", "20261217T060000", "Night shift" + extra)};
}

// What a refresh queries, and what changes before it.
struct Query {
    QStringList team{"Ana Lima", "Bo Berg", "Cy Dunn"};
    QDate from = kMonday;
    QDate to = kSunday.addDays(7);
};
using Change = std::function<void(Fixture&, Query&)>;

// A Person: One and Two on Monday, Three on Tuesday; B Person: Four, C Person: Five, on Tuesday.
void addTeam(Fixture& fixture)
{
    fixture.addPerson("A Person", "a@example.org",
                      {Fixture::event("20261207T090000", "20261207T100000", "One"),
                       Fixture::event("20261207T110000", "20261207T120000", "Two"),
                       Fixture::event("20261208T090000", "20261208T100000", "Three")});
    fixture.addPerson("B Person", "b@example.org",
                      {Fixture::event("20261208T090000", "20261208T100000", "Four")});
    fixture.addPerson("C Person", "c@example.org",
                      {Fixture::event("20261208T090000", "20261208T100000", "Five")});
}
const QStringList kTeam{"A Person", "B Person", "C Person"};

} // namespace

Q_DECLARE_METATYPE(Change)
Q_DECLARE_METATYPE(FaultProxy::Fault)

class TestQueries : public QObject {
    Q_OBJECT

private slots:
    void initTestCase_data() { Fixture::addSources(); }
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::French, QLocale::France)); }

    void memberView_data()
    {
        QTest::addColumn<QStringList>("c");
        for (const QStringList& c : Fixture::corpus("memberquery.txt"))
            QTest::newRow(qPrintable(c[0])) << c;
    }
    void memberView()
    {
        QFETCH(QStringList, c);
        Fixture fixture;
        const QStringList expected = fixture.apply(c, "José Álvarez", "jose@example.org");
        MemberQuery::run(fixture.context(), kMonday, kSunday, {"jose"}, false);
        QCOMPARE(fixture.messages, QStringList());
        QCOMPARE(fixture.grid.text(4, 0), "José Álvarez");
        QCOMPARE(fixture.matrix.cell(4, 0).html, "José Álvarez");
        QStringList cells;
        for (int column = 1; column <= 7; ++column) {
            const PlanningCell& cell = fixture.matrix.cell(4, column);
            QString text = fixture.grid.text(4, column);
            if (cell.html != nb || !text.isEmpty() || cell.gridColour != "0")
                cells << QStringLiteral("%1 %2 | %3 | %4 |")
                             .arg(column)
                             .arg(cell.gridColour, cell.html, text.replace('\r', "\\r"));
            QCOMPARE(fixture.grid.backColour(4, column), cell.gridColour.toLongLong());
            QCOMPARE(cell.htmlColour, oleColourToHtml(cell.gridColour.toLongLong()));
            if (cell.html != nb)
                QCOMPARE(fixture.grid.alignment(4, column), PlanningGrid::Alignment::LeftTop);
        }
        QCOMPARE(cells.join('\n'), expected.join('\n'));
        QVERIFY(fixture.engine.headersValid);
    }

    // The days an appointment covers: the days between its ends plus one, halves rounded to even, counted on
    // the wall clock.
    void dayCount_data()
    {
        QTest::addColumn<QDateTime>("from");
        QTest::addColumn<QDateTime>("to");
        QTest::addColumn<int>("days");
        const auto row = [](const char* name, int fromDay, QTime fromTime, int toDay, QTime toTime,
                            int days) {
            QTest::newRow(name) << QDateTime(kMonday.addDays(fromDay), fromTime)
                                << QDateTime(kMonday.addDays(toDay), toTime) << days;
        };
        row("one hour", 0, QTime(9, 0), 0, QTime(10, 0), 1);
        row("1.5 rounds to 2", 0, QTime(0, 0), 0, QTime(12, 0), 2);
        row("2.5 rounds to 2", 0, QTime(0, 0), 1, QTime(12, 0), 2);
        row("0.5 rounds to 0", 0, QTime(12, 0), 0, QTime(0, 0), 0);
        row("a minute after the half", 0, QTime(0, 0), 2, QTime(12, 1), 4);
        row("ends before it starts", 0, QTime(10, 0), -3, QTime(9, 0), -2);
        QTest::newRow("across a clock change") << QDateTime(QDate(2026, 10, 24), QTime(12, 0))
                                               << QDateTime(QDate(2026, 10, 25), QTime(0, 0)) << 2;
    }
    void dayCount()
    {
        QFETCH(QDateTime, from);
        QFETCH(QDateTime, to);
        QFETCH(int, days);
        QCOMPARE(MemberQuery::dayCount(from.date(), from.time(), to.date(), to.time()), qint64(days));
        QCOMPARE(int(std::nearbyint(MemberQuery::daysBetween(from, to) + 1)), days);
    }

    void headers_data()
    {
        QTest::addColumn<bool>("colourMode");
        QTest::addColumn<bool>("hideWeekends");
        QTest::newRow("planning") << false << false;
        QTest::newRow("weekends hidden") << false << true;
        QTest::newRow("colour planning") << true << false;
    }
    void headers()
    {
        QFETCH(bool, colourMode);
        QFETCH(bool, hideWeekends);
        Fixture fixture;
        fixture.engine.hideWeekends = hideWeekends;
        // 28 December 2026 to 3 January 2027: two months, two years, ISO week 53.
        MemberQuery::buildDayHeaders(fixture.context(), QDate(2026, 12, 28), QDate(2027, 1, 3), 2,
                                     colourMode);
        const PlanningGrid& grid = fixture.grid;
        QCOMPARE(QList<int>({grid.rows(), grid.columns(), grid.fixedRows(), grid.fixedColumns()}),
                 QList<int>({6, 8, 4, 1}));
        QCOMPARE(QStringList(
                     {grid.text(0, 1), grid.text(0, 5), grid.text(1, 7), grid.text(2, 1), grid.text(3, 1)}),
                 QStringList(
                     {"DÉC.", "JANV.", "Week 53", colourMode ? "L" : "lundi", colourMode ? "28" : "28/12"}));
        QCOMPARE(grid.columnWidth(5), colourMode ? 400 : 960);
        for (int column : {6, 7}) { // Saturday and Sunday
            QCOMPARE(QList<qint64>({grid.backColour(2, column), grid.backColour(3, column)}),
                     QList<qint64>({16744576, 16744576}));
            QCOMPARE(grid.columnWidth(column), hideWeekends ? 0 : grid.columnWidth(5));
            QCOMPARE(grid.rememberedWidth(column), grid.columnWidth(column));
        }
        QCOMPARE(grid.backColour(2, 5), 0);
        QCOMPARE(grid.mergedRange(0, 2), (PlanningGrid::Range{0, 1, 0, 4}));
        QCOMPARE(grid.mergedRange(4, 2), (PlanningGrid::Range{4, 2, 4, 2}));
    }

    // A refresh may write a member's row as the last query left it when the calendar is as it was: whatever
    // changed in between, it must leave exactly what a first query in a new window leaves.
    void refreshGivesWhatAFreshQueryGives_data()
    {
        QTest::addColumn<Change>("change");
        QTest::addColumn<bool>("cancelFirst");
        const auto row = [](const char* name, Change change) { QTest::newRow(name) << change << false; };
        row("nothing", [](Fixture&, Query&) {});
        QTest::newRow("first query cancelled") << Change([](Fixture&, Query&) {}) << true;
        row("times hidden", [](Fixture& f, Query&) { f.engine.showTimes = false; });
        row("private hidden", [](Fixture& f, Query&) { f.engine.hidePrivate = true; });
        row("details hidden", [](Fixture& f, Query&) { f.engine.showDetails = false; });
        row("filters off", [](Fixture& f, Query&) { f.engine.useFilters = false; });
        row("only filtered", [](Fixture& f, Query&) { f.engine.filteredOnly = true; });
        row("rule keywords",
            [](Fixture& f, Query&) { f.settings().write("Absences", "Txt", "holiday;review;"); });
        row("rule colour", [](Fixture& f, Query&) {
            f.settings().write("Customers", "Color", "16711680");
            f.settings().write("Customers", "ColorHtml", "0000FF");
        });
        row("default colour", [](Fixture& f, Query&) {
            f.engine.defaultColour = 12632256;
            f.engine.defaultColourHtml = "C0C0C0";
        });
        row("calendar changed", [](Fixture& f, Query&) {
            f.addPerson("Ana Lima", "ana@example.org", anaEvents("|LOCATION:Ward 3"));
        });
        // The window lays the columns out again for a new period or team.
        row("period moved", [](Fixture& f, Query& q) {
            q.from = q.from.addDays(1);
            q.to = q.to.addDays(1);
            f.engine.headersValid = false;
        });
        row("team reordered", [](Fixture& f, Query& q) {
            std::reverse(q.team.begin(), q.team.end());
            f.engine.headersValid = false;
        });
        row("member added", [](Fixture& f, Query& q) {
            q.team.insert(1, "Cy Dunn");
            f.engine.headersValid = false;
        });
    }
    // A server whose time-range filter leaves out the series that began before the period (Xandikos 0.2.8):
    // the planning is still the folder mailbox's, daily stand-ups and all.
    void seriesBegunLongAgoOnAServerThatFiltersThemOut()
    {
        if (Fixture::onServer())
            QSKIP("run once, on the folder row: it compares the folder with Xandikos");
        const auto team = [](Fixture& fixture) {
            fixture.addPerson(
                "Ana Lima", "ana@example.org",
                {Fixture::event("20260601T091500", "20260601T093000", "Stand-up|RRULE:FREQ=DAILY"),
                 Fixture::event("20261208T140000", "20261208T150000", "Review")});
            fixture.addPerson(
                "Bo Berg", "bo@example.org",
                {Fixture::event("20250105", "20250106", "Payday|RRULE:FREQ=MONTHLY;BYMONTHDAY=8"),
                 Fixture::event("20260901T080000", "20260901T090000",
                                "Weekly|RRULE:FREQ=WEEKLY;BYDAY=MO,TH;UNTIL=20270101T000000Z")});
        };
        Fixture folder;
        team(folder);
        folder.engine.showDetails = true;
        MemberQuery::run(folder.context(), kMonday, kSunday, {"Ana Lima", "Bo Berg"}, false);
        Fixture server;
        server.onXandikos = true;
        team(server);
        server.engine.showDetails = true;
        MemberQuery::run(server.context(), kMonday, kSunday, {"Ana Lima", "Bo Berg"}, false);
        QCOMPARE(server.messages, QStringList());
        QCOMPARE(everything(server.grid, server.matrix), everything(folder.grid, folder.matrix));
        QVERIFY(everything(folder.grid, folder.matrix).join('\n').count("Stand-up") >= 7);
    }

    void refreshGivesWhatAFreshQueryGives()
    {
        QFETCH(Change, change);
        QFETCH(bool, cancelFirst);
        Fixture fixture;
        fixture.addRule("Absences", "Subject", "holiday;", 255, 2);
        fixture.addRule("Customers", "Categories", "customer;", 65280, 3);
        fixture.addPerson("Ana Lima", "ana@example.org", anaEvents({}));
        fixture.addPerson("Bo Berg", "bo@example.org",
                          {Fixture::event("20261208T110000", "20261208T120000", "Review <draft>"),
                           Fixture::event("20261214T080000", "20261214T090000", "Holiday prep")});
        fixture.addPerson("Cy Dunn", "cy@example.org", {});
        fixture.engine.showDetails = fixture.engine.showTimes = fixture.engine.useFilters = true;
        Query query;
        fixture.onYield = [&] {
            if (cancelFirst && fixture.yields == 3)
                fixture.engine.queryRunning = false;
        };
        MemberQuery::run(fixture.context(), query.from, query.to, query.team, false);
        fixture.onYield = {};
        QCOMPARE(fixture.engine.headersValid, !cancelFirst);

        change(fixture, query);
        const int yieldsBefore = fixture.yields;
        MemberQuery::run(fixture.context(), query.from, query.to, query.team, false);
        QVERIFY(fixture.yields > yieldsBefore); // a refresh still walks every appointment

        Fixture::Window fresh;
        fresh.engine = fixture.engine;
        fresh.engine.headersValid = false;
        MemberQuery::run(fixture.context(fresh), query.from, query.to, query.team, false);
        QCOMPARE(everything(fixture.grid, fixture.matrix), everything(fresh.grid, fresh.matrix));
        QCOMPARE(fixture.messages, QStringList());
    }

    // A cancelled member keeps what was placed before the cancel, a member whose row is written again as it
    // was is written whole, and the members not reached are left as the reset leaves them.
    void cancel_data()
    {
        QTest::addColumn<bool>("refresh");
        QTest::addColumn<int>("cancelAt");
        QTest::addColumn<QStringList>("rows"); // each member row's name, Monday and Tuesday
        QTest::newRow("in the middle of a member") << false << 2 << QStringList{"A Person|One|", "||", "||"};
        QTest::newRow("at the next member")
            << false << 4 << QStringList{"A Person|One\rTwo|Three", "B Person||", "||"};
        QTest::newRow("while writing a row again")
            << true << 6 << QStringList{"A Person|One\rTwo|Three", "||", "||"};
    }
    void cancel()
    {
        QFETCH(bool, refresh);
        QFETCH(int, cancelAt);
        QFETCH(QStringList, rows);
        Fixture fixture;
        addTeam(fixture);
        fixture.engine.showDetails = true;
        fixture.onYield = [&] {
            if (fixture.yields == cancelAt)
                fixture.engine.queryRunning = false;
        };
        if (refresh)
            MemberQuery::run(fixture.context(), kMonday, kSunday, kTeam, false);
        MemberQuery::run(fixture.context(), kMonday, kSunday, kTeam, false);
        QCOMPARE(fixture.engine.headersValid, refresh); // as the last complete query left it
        QStringList shown;
        for (int row = 4; row < 7; ++row) {
            shown << fixture.grid.text(row, 0) + '|' + fixture.grid.text(row, 1) + '|' +
                         fixture.grid.text(row, 2);
            for (int column = 0; column < 3; ++column)
                QCOMPARE(fixture.matrix.cell(row, column).html == nb,
                         fixture.grid.text(row, column).isEmpty());
        }
        QCOMPARE(shown, rows);
        QCOMPARE(fixture.grid.backColour(4, 1), 50372);
        QCOMPARE(fixture.matrix.cell(4, 1).html.left(15), "09:00 10:00 One");
    }

    void membersAndLimits()
    {
        Fixture fixture;
        fixture.addPerson("Søren Nielsen", "soren@example.org",
                          {Fixture::event("20260102T090000", "20260102T100000", "Planning")});
        fixture.grid.setRows(3);
        fixture.grid.setColumns(1);
        fixture.grid.setText(2, 0, "kept");
        MemberQuery::run(fixture.context(), kMonday, kSunday, {}, false);
        QCOMPARE(fixture.messages, QStringList{"No members"});
        QCOMPARE(fixture.grid.text(2, 0), "kept");
        fixture.program.automaticMode = true; // unattended: no message box
        MemberQuery::run(fixture.context(), kMonday, kSunday, {}, false);
        QCOMPARE(fixture.messages.size(), 1);

        // An unknown name shows "?" in its day cells; the team and the period are cut to the matrix.
        fixture.program.automaticMode = false;
        fixture.messages.clear();
        fixture.engine.showDetails = true;
        QStringList members{"Nobody Here", "soren"};
        for (int i = 0; i < 128; ++i)
            members << QStringLiteral("Member %1").arg(i);
        MemberQuery::run(fixture.context(), QDate(2026, 1, 1), QDate(2026, 12, 31), members, false);
        QCOMPARE(fixture.messages, (QStringList{"Too many", "Too long"}));
        QCOMPARE(QSize(fixture.grid.columns(), fixture.grid.rows()), QSize(191, 4 + 127));
        QCOMPARE(fixture.grid.text(4, 0), "Nobody Here");
        for (int column : {1, 190}) {
            QCOMPARE(fixture.grid.text(4, column), "?");
            QCOMPARE(fixture.matrix.cell(4, column).html, "?");
        }
        QCOMPARE(fixture.grid.text(5, 0), "Søren Nielsen");
        QCOMPARE(fixture.grid.text(5, 2), "Planning");
        QCOMPARE(fixture.matrix.cell(130, 190).html, "?");
    }

    void dayView_data()
    {
        QTest::addColumn<QStringList>("c");
        for (const QStringList& c : Fixture::corpus("dayview.txt"))
            QTest::newRow(qPrintable(c[0])) << c;
    }
    void dayView()
    {
        QFETCH(QStringList, c);
        Fixture fixture;
        const QStringList expected = fixture.apply(c, "Zoë van den Berg", "zoe@example.org");
        DayView::run(fixture.context(), QDate(2026, 12, 9), {"Zoë van den Berg"});
        QCOMPARE(fixture.messages, QStringList());
        QVERIFY(fixture.engine.headersValid);
        QStringList runs; // rows alike, as "first-last colour | html |"
        for (int row = 2, first = 2; row <= 50; ++row) {
            const PlanningCell& cell = fixture.matrix.cell(row, 2);
            const PlanningCell& next = fixture.matrix.cell(row + 1, 2);
            QCOMPARE(fixture.grid.backColour(row, 2), cell.gridColour.toLongLong());
            if (row < 50 && next.html == cell.html && next.gridColour == cell.gridColour)
                continue;
            if (!PlanningMatrix::isEmptyHtml(cell.html))
                runs << QStringLiteral("%1 %2 | %3 |")
                            .arg(first == row ? QString::number(row)
                                              : QStringLiteral("%1-%2").arg(first).arg(row),
                                 cell.gridColour, cell.html);
            first = row + 1;
        }
        QCOMPARE(runs.join('\n'), expected.join('\n'));
    }

    void dayViewLayoutAndCancel()
    {
        Fixture fixture;
        fixture.program.dayStartHour = 8;
        fixture.program.dayEndHour = 18;
        fixture.addPerson("Zoë van den Berg", "zoe@example.org",
                          {Fixture::event("20261209T090000", "20261209T100000", "Meeting")});
        fixture.addPerson("Chiara Rossi", "chiara@example.org",
                          {Fixture::event("20261209T090000", "20261209T093000", "Call")});
        const QStringList team{"zoe", "Chiara Rossi"};
        // Cancelled before the second member: the first keeps what it shows.
        fixture.onYield = [&] { fixture.engine.queryRunning = fixture.yields != 2; };
        DayView::run(fixture.context(), QDate(2026, 12, 9), team);
        QCOMPARE(fixture.grid.text(21, 2), "Meeting");
        QCOMPARE(fixture.grid.text(21, 3), QString());
        QVERIFY(!fixture.engine.headersValid);

        fixture.onYield = {};
        DayView::run(fixture.context(), QDate(2026, 12, 9), team);
        const PlanningGrid& grid = fixture.grid;
        QCOMPARE(QSize(grid.columns(), grid.rows()), QSize(4, 51));
        QCOMPARE(QSize(grid.fixedColumns(), grid.fixedRows()), QSize(2, 3));
        QCOMPARE(grid.text(0, 2), "mercredi 09/12/2026");
        QCOMPARE(fixture.matrix.cell(0, 3).html, "mercredi 09/12/2026");
        QCOMPARE(grid.text(1, 2), "zoe"); // as listed
        QCOMPARE(grid.text(21, 3), "Call");
        QCOMPARE(grid.text(21, 0) + grid.text(22, 1), "0930"); // hours and half hours
        QCOMPARE(grid.topRow(), 19);
        // The working hours share the grid's height: (9000 - 3 × row height) / 20 half hours.
        const int expected = (9000 - 3 * grid.standardRowHeight()) / 20;
        QCOMPARE(grid.rowHeight(19), expected);
        QCOMPARE(grid.rowHeight(39), expected);
        QCOMPARE(grid.rowHeight(40), grid.standardRowHeight());
        // The meeting's two rows merge into one block, and so do the hour's two cells and the title.
        QCOMPARE(grid.mergedRange(21, 2), (PlanningGrid::Range{21, 2, 22, 2}));
        QCOMPARE(grid.mergedRange(22, 0), (PlanningGrid::Range{21, 0, 22, 0}));
        QCOMPARE(grid.mergedRange(0, 3), (PlanningGrid::Range{0, 2, 0, 3}));
    }

    // Faults between the program and the server, made by a proxy of the test's: each reaches the query as the
    // error of the member it hit, which is reported; the query goes on with the next member, and the next
    // run over a healthy connection shows everything again.
    void serverFaults_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QByteArray>("method"); // the requests spoiled, by method; empty: all of B's
        QTest::addColumn<QString>("reported");
        QTest::newRow("server gone mid-query") << Fault::Drop << QByteArray("REPORT") << "failed";
        QTest::newRow("500 replies") << Fault::ServerError << QByteArray() << "500";
        QTest::newRow("malformed XML") << Fault::MalformedXml << QByteArray() << "makes no sense";
        QTest::newRow("reply that never ends") << Fault::NeverEnds << QByteArray("REPORT") << "in time";
        QTest::newRow("wrong password") << Fault::WrongPassword << QByteArray() << "401";
        QTest::newRow("server gone for everyone") << Fault::None << QByteArray() << "";
    }
    void serverFaults()
    {
        if (!Fixture::onServer())
            QSKIP("faults of a server");
        QFETCH(Fault, fault);
        QFETCH(QByteArray, method);
        QFETCH(QString, reported);
        Fixture fixture;
        addTeam(fixture);
        FaultProxy proxy(quint16(DavServer::shared().port()));
        fixture.davServer = proxy.url();
        fixture.davTimeoutSeconds = 1;
        fixture.engine.showDetails = true;
        const QueryContext context = fixture.context();
        if (fault == Fault::None) {
            proxy.shutDown();
            MemberQuery::run(context, kMonday, kSunday, kTeam, false);
            QCOMPARE(fixture.messages.size(), 3);
            for (int i = 0; i < 3; ++i)
                QVERIFY2(fixture.messages.at(i).startsWith(kTeam.at(i).toUpper() + ": "),
                         qPrintable(fixture.messages.at(i)));
            QCOMPARE(fixture.grid.text(4, 0), "A Person"); // from the address books as last read
            QVERIFY(!fixture.engine.queryRunning);
            return;
        }
        proxy.setRule([&](const QByteArray& verb, const QString& path) {
            const bool hit = path.contains("b@example.org") && (method.isEmpty() || verb == method);
            return hit ? fault : Fault::None;
        });
        MemberQuery::run(context, kMonday, kSunday, kTeam, false);
        QVERIFY(proxy.spoiled() > 0);
        QCOMPARE(fixture.messages.size(), 1);
        QVERIFY2(fixture.messages.first().startsWith("B PERSON: ") &&
                     fixture.messages.first().contains(reported),
                 qPrintable(fixture.messages.first()));
        QCOMPARE(QStringList({fixture.grid.text(4, 2), fixture.grid.text(5, 0), fixture.grid.text(5, 2),
                              fixture.grid.text(6, 2)}),
                 QStringList({"Three", "B Person", "", "Five"}));
        QVERIFY(fixture.engine.headersValid);

        // The day view meets the same fault the same way.
        fixture.messages.clear();
        fixture.engine.headersValid = false;
        DayView::run(context, QDate(2026, 12, 8), kTeam);
        QCOMPARE(fixture.messages.size(), 1);
        QVERIFY(fixture.messages.first().startsWith("B PERSON: "));

        proxy.setRule({});
        fixture.messages.clear();
        fixture.engine.headersValid = false;
        MemberQuery::run(context, kMonday, kSunday, kTeam, false);
        QCOMPARE(fixture.messages, QStringList());
        QCOMPARE(fixture.grid.text(5, 2), "Four");
    }
};

QTEST_GUILESS_MAIN(TestQueries)
#include "tst_queries.moc"
