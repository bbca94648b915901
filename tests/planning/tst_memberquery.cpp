#include "planning/memberquery.h"
#include "queryfixture.h"

#include <QLocale>
#include <QTest>

using Fixture = QueryFixture;

namespace {

const QDate kMonday(2026, 12, 7);
const QDate kSunday(2026, 12, 13);

QStringList rowHtml(const PlanningMatrix& matrix, int row, int columns)
{
    QStringList cells;
    for (int column = 1; column <= columns; ++column)
        cells << matrix.cell(row, column).html;
    return cells;
}

QStringList rowText(const PlanningGrid& grid, int row, int columns)
{
    QStringList cells;
    for (int column = 1; column <= columns; ++column)
        cells << grid.text(row, column);
    return cells;
}

const QString nb = QStringLiteral("&nbsp");

// Everything a query leaves in the grid and the matrix, one line per cell.
QStringList everything(const PlanningGrid& grid, const PlanningMatrix& matrix)
{
    QStringList lines{QStringLiteral("%1 x %2, current %3 %4")
                          .arg(grid.rows())
                          .arg(grid.columns())
                          .arg(grid.row())
                          .arg(grid.column())};
    for (int row = 0; row < grid.rows(); ++row) {
        for (int column = 0; column < grid.columns(); ++column) {
            const PlanningCell& cell = matrix.cell(row, column);
            lines << QStringList{QString::number(row),
                                 QString::number(column),
                                 grid.text(row, column),
                                 QString::number(grid.backColour(row, column)),
                                 QString::number(int(grid.alignment(row, column))),
                                 cell.html,
                                 cell.gridColour,
                                 cell.htmlColour,
                                 cell.ruleRank}
                         .join(u'|');
        }
    }
    return lines;
}

// What changes between a query and the refresh after it.
enum class Change {
    Nothing,
    FirstQueryCancelled,
    TimesHidden,
    PrivateHidden,
    DetailsHidden,
    FiltersOff,
    OnlyFiltered,
    RuleKeywords,
    RuleColour,
    DefaultColour,
    CalendarChanged,
    PeriodMoved,
    TeamReordered,
    MemberAdded,
};

} // namespace

Q_DECLARE_METATYPE(Change)

class TestMemberQuery : public QObject {
    Q_OBJECT

private slots:
    // Every case runs on a folder mailbox and on a CalDAV server.
    void initTestCase_data() { Fixture::addSources(); }
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::French, QLocale::France)); }

    void restrictionTextToTheCharacter()
    {
        QCOMPARE(
            MemberQuery::restrictionText(QDateTime(kMonday, QTime(0, 0)),
                                         QDateTime(kSunday.addDays(1), QTime(0, 0))),
            QStringLiteral(
                "([Start] >= \"07/12/2026\" and [Start] <= \"14/12/2026\") "
                "OR ([Start] <= \"07/12/2026\" and [End] >= \"14/12/2026\") "
                "OR ([Start] <= \"07/12/2026\" And [End] <= \"14/12/2026\" And [End] >= \"07/12/2026\")"));
    }

    void dayCount_data()
    {
        QTest::addColumn<QDateTime>("from");
        QTest::addColumn<QDateTime>("to");
        QTest::addColumn<int>("days");
        const QDate d = kMonday;
        QTest::newRow("one hour") << QDateTime(d, QTime(9, 0)) << QDateTime(d, QTime(10, 0)) << 1;
        QTest::newRow("17:00 to 09:00")
            << QDateTime(d, QTime(17, 0)) << QDateTime(d.addDays(1), QTime(9, 0)) << 2;
        QTest::newRow("22:00 to 01:00")
            << QDateTime(d, QTime(22, 0)) << QDateTime(d.addDays(1), QTime(1, 0)) << 1;
        QTest::newRow("half rounds to even: 1.5")
            << QDateTime(d, QTime(0, 0)) << QDateTime(d, QTime(12, 0)) << 2;
        QTest::newRow("half rounds to even: 2.5")
            << QDateTime(d, QTime(0, 0)) << QDateTime(d.addDays(1), QTime(12, 0)) << 2;
        // Across the autumn change the wall clock counts, not the elapsed hours.
        QTest::newRow("across a clock change") << QDateTime(QDate(2026, 10, 24), QTime(12, 0))
                                               << QDateTime(QDate(2026, 10, 25), QTime(0, 0)) << 2;
    }
    void dayCount()
    {
        QFETCH(QDateTime, from);
        QFETCH(QDateTime, to);
        QFETCH(int, days);
        QCOMPARE(int(std::nearbyint(MemberQuery::daysBetween(from, to) + 1)), days);
    }

    // The whole-number count the query places with agrees with the fractional one, halves and all.
    void wholeDayCount_data()
    {
        dayCount_data();
        const QDate d = kMonday;
        QTest::newRow("half back rounds to even: 0.5")
            << QDateTime(d, QTime(12, 0)) << QDateTime(d, QTime(0, 0)) << 0;
        QTest::newRow("half back rounds to even: 1.5")
            << QDateTime(d, QTime(12, 0)) << QDateTime(d.addDays(1), QTime(0, 0)) << 2;
        QTest::newRow("a minute before the half")
            << QDateTime(d, QTime(0, 0)) << QDateTime(d.addDays(2), QTime(11, 59)) << 3;
        QTest::newRow("a minute after the half")
            << QDateTime(d, QTime(0, 0)) << QDateTime(d.addDays(2), QTime(12, 1)) << 4;
        QTest::newRow("ends before it starts")
            << QDateTime(d, QTime(10, 0)) << QDateTime(d.addDays(-3), QTime(9, 0)) << -2;
    }
    void wholeDayCount()
    {
        QFETCH(QDateTime, from);
        QFETCH(QDateTime, to);
        QFETCH(int, days);
        QCOMPARE(MemberQuery::dayCount(from.date(), from.time(), to.date(), to.time()), qint64(days));
        QCOMPARE(int(std::nearbyint(MemberQuery::daysBetween(from, to) + 1)), days);
    }

    void appointments_data()
    {
        QTest::addColumn<QList<QByteArray>>("events");
        QTest::addColumn<QString>("flags"); // letters: t ShowTimes, p HidePrivate, d ShowDetails off
        QTest::addColumn<QStringList>("html");
        QTest::addColumn<QStringList>("text");
        const QStringList empty(7, nb);
        const QStringList blank(7, QString());
        auto with = [](QStringList cells, std::initializer_list<std::pair<int, const char*>> set) {
            for (const auto& [column, value] : set)
                cells[column - 1] = QString::fromUtf8(value);
            return cells;
        };
        QTest::newRow("a meeting with its times")
            << QList<QByteArray>{Fixture::timed("Meeting", "20261207T090000", "20261207T100000")} << ""
            << with(empty, {{1, "09:00 10:00 Meeting"}}) << with(blank, {{1, "Meeting"}});
        QTest::newRow("times in the grid too")
            << QList<QByteArray>{Fixture::timed("Meeting", "20261207T090000", "20261207T100000")} << "t"
            << with(empty, {{1, "09:00 10:00 Meeting"}}) << with(blank, {{1, "09:00 10:00 Meeting"}});
        QTest::newRow("two meetings in one day")
            << QList<QByteArray>{Fixture::timed("Second", "20261208T140000", "20261208T150000"),
                                 Fixture::timed("First", "20261208T090000", "20261208T100000")}
            << "" << with(empty, {{2, "09:00 10:00 First<br>------------<br>14:00 15:00 Second"}})
            << with(blank, {{2, "First\rSecond"}});
        QTest::newRow("all-day events of one and three days")
            << QList<QByteArray>{Fixture::allDay("Holiday", "20261208", "20261209"),
                                 Fixture::allDay("Training", "20261209", "20261212")}
            << "" << with(empty, {{2, "Holiday"}, {3, "Training"}, {4, "Training"}, {5, "Training"}})
            << with(blank, {{2, "Holiday"}, {3, "Training"}, {4, "Training"}, {5, "Training"}});
        QTest::newRow("clamped at both ends")
            << QList<QByteArray>{Fixture::allDay("Trip", "20261205", "20261209"),
                                 Fixture::timed("Conference", "20261213T080000", "20261215T180000")}
            << "" << with(empty, {{1, "Trip"}, {2, "Trip"}, {7, "08:00 18:00 Conference"}})
            << with(blank, {{1, "Trip"}, {2, "Trip"}, {7, "Conference"}});
        QTest::newRow("Monday 17:00 to Tuesday 09:00")
            << QList<QByteArray>{Fixture::timed("Late", "20261207T170000", "20261208T090000")} << ""
            << with(empty, {{1, "17:00 09:00 Late"}, {2, "Late"}}) << with(blank, {{1, "Late"}, {2, "Late"}});
        QTest::newRow("22:00 to 01:00 stays on its day")
            << QList<QByteArray>{Fixture::timed("Night", "20261209T220000", "20261210T010000")} << ""
            << with(empty, {{3, "22:00 01:00 Night"}}) << with(blank, {{3, "Night"}});
        QTest::newRow("a private item shows as private")
            << QList<QByteArray>{Fixture::timed("Doctor", "20261210T100000", "20261210T110000",
                                                "CLASS:PRIVATE"),
                                 Fixture::timed("Review", "20261210T140000", "20261210T150000",
                                                "CLASS:CONFIDENTIAL")}
            << "" << with(empty, {{4, "10:00 11:00 Private<br>------------<br>14:00 15:00 Review"}})
            << with(blank, {{4, "Private\rReview"}});
        QTest::newRow("private items hidden")
            << QList<QByteArray>{Fixture::timed("Doctor", "20261210T100000", "20261210T110000",
                                                "CLASS:PRIVATE")}
            << "p" << empty << blank;
        QTest::newRow("details off: colours without text")
            << QList<QByteArray>{Fixture::timed("Meeting", "20261207T090000", "20261207T100000")} << "d"
            << with(empty, {{1, "09:00 10:00 Meeting"}}) << blank;
        QTest::newRow("calendar text is escaped in the matrix only")
            << QList<QByteArray>{Fixture::timed("<script>alert(1)</script> & co", "20261207T090000",
                                                "20261207T100000")}
            << "" << with(empty, {{1, "09:00 10:00 &lt;script&gt;alert(1)&lt;/script&gt; &amp; co"}})
            << with(blank, {{1, "<script>alert(1)</script> & co"}});
    }
    void appointments()
    {
        QFETCH(QList<QByteArray>, events);
        QFETCH(QString, flags);
        QFETCH(QStringList, html);
        QFETCH(QStringList, text);
        Fixture fixture;
        fixture.addPerson(QStringLiteral("José Álvarez"), QStringLiteral("jose@example.org"), events);
        fixture.engine.showDetails = !flags.contains(u'd');
        fixture.engine.showTimes = flags.contains(u't');
        fixture.engine.hidePrivate = flags.contains(u'p');
        MemberQuery::run(fixture.context(), kMonday, kSunday, {QStringLiteral("jose")}, false);

        QCOMPARE(fixture.messages, QStringList());
        QCOMPARE(fixture.grid.text(4, 0), QStringLiteral("José Álvarez"));
        QCOMPARE(fixture.matrix.cell(4, 0).html, QStringLiteral("José Álvarez"));
        QCOMPARE(rowHtml(fixture.matrix, 4, 7).join(u'|'), html.join(u'|'));
        QCOMPARE(rowText(fixture.grid, 4, 7).join(u'|'), text.join(u'|'));
        // Every cell with an appointment takes the default colour; the others none.
        for (int column = 1; column <= 7; ++column) {
            const bool busy = html.at(column - 1) != nb;
            QCOMPARE(fixture.matrix.cell(4, column).gridColour,
                     busy ? QStringLiteral("50372") : QStringLiteral("0"));
            QCOMPARE(fixture.grid.backColour(4, column), busy ? 50372 : 0);
        }
        QVERIFY(fixture.engine.headersValid);
        QVERIFY(!fixture.engine.queryRunning);
    }

    // A cell's texts are built once per member from everything that fell into it: they must read as if each
    // appointment had been appended in turn.
    void cellsWithSeveralAppointments_data()
    {
        QTest::addColumn<QList<QByteArray>>("events");
        QTest::addColumn<QString>(
            "flags"); // t ShowTimes, d ShowDetails off, f only cells an "absent" rule took
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("text");
        const QString sep = "<br>------------<br>";
        QTest::newRow("an empty text first leaves no line in the grid")
            << QList<QByteArray>{Fixture::allDay("", "20261207", "20261208"),
                                 Fixture::timed("A", "20261207T090000", "20261207T100000"),
                                 Fixture::timed("B", "20261207T140000", "20261207T150000")}
            << "" << 1 << sep + "09:00 10:00 A" + sep + "14:00 15:00 B"
            << "A\rB";
        QTest::newRow("an empty text later keeps its line")
            << QList<QByteArray>{Fixture::timed("A", "20261207T090000", "20261207T100000"),
                                 Fixture::timed("", "20261207T110000", "20261207T120000"),
                                 Fixture::timed("B", "20261207T140000", "20261207T150000")}
            << "" << 1 << "09:00 10:00 A" + sep + "11:00 12:00 " + sep + "14:00 15:00 B"
            << "A\r\rB";
        QTest::newRow("times in the grid, empty text included")
            << QList<QByteArray>{Fixture::timed("A", "20261207T090000", "20261207T100000"),
                                 Fixture::timed("", "20261207T110000", "20261207T120000")}
            << "t" << 1 << "09:00 10:00 A" + sep + "11:00 12:00 "
            << "09:00 10:00 A\r11:00 12:00 ";
        QTest::newRow("a day inside a longer appointment")
            << QList<QByteArray>{Fixture::allDay("Trip", "20261207", "20261210"),
                                 Fixture::timed("Call", "20261208T100000", "20261208T110000")}
            << "t" << 2 << "Trip" + sep + "10:00 11:00 Call"
            << "Trip\r10:00 11:00 Call";
        QTest::newRow("a night across two days next to a day's meeting")
            << QList<QByteArray>{Fixture::timed("Late", "20261207T170000", "20261208T090000"),
                                 Fixture::timed("Standup", "20261208T093000", "20261208T094500")}
            << "" << 2 << "Late" + sep + "09:30 09:45 Standup"
            << "Late\rStandup";
        QTest::newRow("escaped texts joined")
            << QList<QByteArray>{Fixture::timed("R&D", "20261207T090000", "20261207T100000"),
                                 Fixture::timed("<b>", "20261207T110000", "20261207T120000"),
                                 Fixture::timed("R&D", "20261207T130000", "20261207T140000")}
            << "" << 1 << "09:00 10:00 R&amp;D" + sep + "11:00 12:00 &lt;b&gt;" + sep + "13:00 14:00 R&amp;D"
            << "R&D\r<b>\rR&D";
        QTest::newRow("details hidden")
            << QList<QByteArray>{Fixture::timed("A", "20261207T090000", "20261207T100000"),
                                 Fixture::timed("B", "20261207T140000", "20261207T150000")}
            << "d" << 1 << "09:00 10:00 A" + sep + "14:00 15:00 B"
            << "";
        QTest::newRow("filtered only: appointments before the first match stay out of the grid")
            << QList<QByteArray>{Fixture::timed("Lunch", "20261207T090000", "20261207T100000"),
                                 Fixture::timed("Absent pm", "20261207T140000", "20261207T180000"),
                                 Fixture::timed("Review", "20261207T190000", "20261207T200000")}
            << "f" << 1 << "09:00 10:00 Lunch" + sep + "14:00 18:00 Absent pm" + sep + "19:00 20:00 Review"
            << "Absent pm\rReview";
        QTest::newRow("filtered only: a cell no rule took")
            << QList<QByteArray>{Fixture::timed("Lunch", "20261207T090000", "20261207T100000"),
                                 Fixture::timed("Review", "20261207T190000", "20261207T200000")}
            << "f" << 1 << "09:00 10:00 Lunch" + sep + "19:00 20:00 Review"
            << "";
    }
    void cellsWithSeveralAppointments()
    {
        QFETCH(QList<QByteArray>, events);
        QFETCH(QString, flags);
        QFETCH(int, column);
        Fixture fixture;
        if (flags.contains(u'f')) {
            fixture.addRule("Absences", "Subject", "absent;", 255, 2);
            fixture.engine.useFilters = true;
            fixture.engine.filteredOnly = true;
        }
        fixture.addPerson("Ana Lima", "ana@example.org", events);
        fixture.engine.showDetails = !flags.contains(u'd');
        fixture.engine.showTimes = flags.contains(u't');
        MemberQuery::run(fixture.context(), kMonday, kSunday, {"Ana Lima"}, false);

        QCOMPARE(fixture.messages, QStringList());
        QTEST(fixture.matrix.cell(4, column).html, "html");
        QTEST(fixture.grid.text(4, column), "text");
        QCOMPARE(fixture.grid.alignment(4, column), PlanningGrid::Alignment::LeftTop);
        QCOMPARE(fixture.grid.backColour(4, column), fixture.matrix.cell(4, column).gridColour.toLongLong());
    }

    // A refresh gives a cell its earlier string back when the text comes out the same: a text of the same
    // length that changed must still be written, with or without a new layout.
    void refreshWritesWhatChanged_data()
    {
        QTest::addColumn<bool>("headersValid");
        QTest::newRow("same layout") << true;
        QTest::newRow("new layout") << false;
    }
    void refreshWritesWhatChanged()
    {
        QFETCH(bool, headersValid);
        Fixture fixture;
        const auto events = [](const char* first, const QByteArray& extra) {
            return QList<QByteArray>{Fixture::timed(first, "20261207T090000", "20261207T100000", extra),
                                     Fixture::timed("Beta", "20261207T110000", "20261207T120000"),
                                     Fixture::allDay("Gamma", "20261208", "20261209")};
        };
        fixture.addPerson("Ana Lima", "ana@example.org", events("Alpha", {}));
        fixture.engine.showDetails = true;
        MemberQuery::run(fixture.context(), kMonday, kSunday, {"Ana Lima"}, false);
        QCOMPARE(fixture.grid.text(4, 1), "Alpha\rBeta");

        // The file grows, so that the mailbox reads it again; the subject keeps its length.
        fixture.addPerson("Ana Lima", "ana@example.org", events("Omega", "DESCRIPTION:moved"));
        fixture.engine.headersValid = headersValid;
        MemberQuery::run(fixture.context(), kMonday, kSunday, {"Ana Lima"}, false);
        QCOMPARE(fixture.grid.text(4, 1), "Omega\rBeta");
        QCOMPARE(fixture.matrix.cell(4, 1).html, "09:00 10:00 Omega<br>------------<br>11:00 12:00 Beta");
        QCOMPARE(fixture.grid.text(4, 2), "Gamma");
        QCOMPARE(fixture.matrix.cell(4, 2).html, "Gamma");
        QCOMPARE(fixture.grid.text(4, 3), QString());
        QCOMPARE(fixture.matrix.cell(4, 3).html, nb);
    }

    // A refresh may write a member's row as the last query left it when the calendar is as it was: whatever
    // changed in between, it must leave exactly what a first query in a new window leaves.
    void refreshGivesWhatAFreshQueryGives_data()
    {
        QTest::addColumn<Change>("change");
        QTest::newRow("nothing") << Change::Nothing;
        QTest::newRow("first query cancelled") << Change::FirstQueryCancelled;
        QTest::newRow("times hidden") << Change::TimesHidden;
        QTest::newRow("private hidden") << Change::PrivateHidden;
        QTest::newRow("details hidden") << Change::DetailsHidden;
        QTest::newRow("filters off") << Change::FiltersOff;
        QTest::newRow("only filtered") << Change::OnlyFiltered;
        QTest::newRow("rule keywords") << Change::RuleKeywords;
        QTest::newRow("rule colour") << Change::RuleColour;
        QTest::newRow("default colour") << Change::DefaultColour;
        QTest::newRow("calendar changed") << Change::CalendarChanged;
        QTest::newRow("period moved") << Change::PeriodMoved;
        QTest::newRow("team reordered") << Change::TeamReordered;
        QTest::newRow("member added") << Change::MemberAdded;
    }
    void refreshGivesWhatAFreshQueryGives()
    {
        QFETCH(Change, change);
        Fixture fixture;
        fixture.addRule("Absences", "Subject", "holiday;", 255, 2);
        fixture.addRule("Customers", "Categories", "customer;", 65280, 3);
        const auto ana = [](const QByteArray& extra) {
            return QList<QByteArray>{
                Fixture::timed("Customer visit", "20261207T090000", "20261207T100000", "CATEGORIES:Customer"),
                Fixture::timed("Stand-up", "20261207T093000", "20261207T094500", "RRULE:FREQ=DAILY;COUNT=12"),
                Fixture::allDay("Holiday", "20261209", "20261212"),
                Fixture::timed("Doctor", "20261215T140000", "20261215T150000", "CLASS:PRIVATE"),
                Fixture::timed("Night shift", "20261216T220000", "20261217T060000", extra)};
        };
        fixture.addPerson("Ana Lima", "ana@example.org", ana({}));
        fixture.addPerson("Bo Berg", "bo@example.org",
                          {Fixture::timed("Review <draft>", "20261208T110000", "20261208T120000"),
                           Fixture::timed("Holiday prep", "20261214T080000", "20261214T090000")});
        fixture.addPerson("Cy Dunn", "cy@example.org", {});
        fixture.engine.showDetails = true;
        fixture.engine.showTimes = true;
        fixture.engine.useFilters = true;
        QStringList team{"Ana Lima", "Bo Berg", "Cy Dunn"};
        QDate from = kMonday;
        QDate to = kSunday.addDays(7);
        if (change == Change::FirstQueryCancelled) {
            fixture.onYield = [&] {
                if (fixture.yields == 3)
                    fixture.engine.queryRunning = false;
            };
        }
        MemberQuery::run(fixture.context(), from, to, team, false);
        fixture.onYield = {};
        QCOMPARE(fixture.engine.headersValid, change != Change::FirstQueryCancelled);

        switch (change) {
        case Change::Nothing:
        case Change::FirstQueryCancelled:
            break;
        case Change::TimesHidden:
            fixture.engine.showTimes = false;
            break;
        case Change::PrivateHidden:
            fixture.engine.hidePrivate = true;
            break;
        case Change::DetailsHidden:
            fixture.engine.showDetails = false;
            break;
        case Change::FiltersOff:
            fixture.engine.useFilters = false;
            break;
        case Change::OnlyFiltered:
            fixture.engine.filteredOnly = true;
            break;
        case Change::RuleKeywords:
            fixture.writeSetting("Absences", "Txt", "holiday;review;");
            break;
        case Change::RuleColour:
            fixture.writeSetting("Customers", "Color", "16711680");
            fixture.writeSetting("Customers", "ColorHtml", "0000FF");
            break;
        case Change::DefaultColour:
            fixture.engine.defaultColour = 12632256;
            fixture.engine.defaultColourHtml = "C0C0C0";
            break;
        case Change::CalendarChanged:
            fixture.addPerson("Ana Lima", "ana@example.org", ana("LOCATION:Ward 3"));
            break;
        case Change::PeriodMoved:
            // The window lays the columns out again for a new period or team.
            from = from.addDays(1);
            to = to.addDays(1);
            fixture.engine.headersValid = false;
            break;
        case Change::TeamReordered:
            std::reverse(team.begin(), team.end());
            fixture.engine.headersValid = false;
            break;
        case Change::MemberAdded:
            team.insert(1, "Cy Dunn");
            fixture.engine.headersValid = false;
            break;
        }
        const int yieldsBefore = fixture.yields;
        MemberQuery::run(fixture.context(), from, to, team, false);
        QVERIFY(fixture.yields > yieldsBefore); // a refresh still walks every appointment

        Fixture::Window fresh;
        fresh.engine = fixture.engine;
        fresh.engine.headersValid = false;
        MemberQuery::run(fixture.context(fresh), from, to, team, false);
        QCOMPARE(everything(fixture.grid, fixture.matrix), everything(fresh.grid, fresh.matrix));
        QCOMPARE(fixture.messages, QStringList());
    }

    // A member whose row is written again as it was is written whole even when the cancel comes in the middle
    // of the member's appointments: the calendar is known to be as it was.
    void cancelWhileWritingARowAgain()
    {
        Fixture fixture;
        fixture.addPerson("Ana Lima", "ana@example.org",
                          {Fixture::timed("One", "20261207T090000", "20261207T100000"),
                           Fixture::timed("Two", "20261208T090000", "20261208T100000")});
        fixture.addPerson("Bo Berg", "bo@example.org",
                          {Fixture::timed("Three", "20261207T090000", "20261207T100000")});
        fixture.engine.showDetails = true;
        const QStringList team{"Ana Lima", "Bo Berg"};
        MemberQuery::run(fixture.context(), kMonday, kSunday, team, false);
        const QStringList before = everything(fixture.grid, fixture.matrix);
        fixture.onYield = [&] {
            if (fixture.yields == 4) // Ana's first appointment, in the refresh
                fixture.engine.queryRunning = false;
        };
        MemberQuery::run(fixture.context(), kMonday, kSunday, team, false);
        QCOMPARE(fixture.grid.text(4, 2), "Two");
        QCOMPARE(fixture.matrix.cell(4, 2).html, "09:00 10:00 Two");
        // Bo is not reached: his day cells are left as the reset leaves them.
        QCOMPARE(fixture.grid.text(5, 1), QString());
        QCOMPARE(fixture.matrix.cell(5, 1).html, nb);

        // And the next refresh brings everything back.
        fixture.onYield = {};
        MemberQuery::run(fixture.context(), kMonday, kSunday, team, false);
        QCOMPARE(everything(fixture.grid, fixture.matrix), before);
    }

    void cancelInTheMiddleOfAMember()
    {
        Fixture fixture;
        fixture.addPerson("Ana Lima", "ana@example.org",
                          {Fixture::timed("One", "20261207T090000", "20261207T100000"),
                           Fixture::timed("Two", "20261207T110000", "20261207T120000"),
                           Fixture::timed("Three", "20261208T090000", "20261208T100000")});
        fixture.engine.showDetails = true;
        fixture.onYield = [&] {
            if (fixture.yields == 2) // before the second appointment
                fixture.engine.queryRunning = false;
        };
        MemberQuery::run(fixture.context(), kMonday, kSunday, {"Ana Lima"}, false);
        // What was placed before the cancel stays, in the grid and in the matrix.
        QCOMPARE(fixture.grid.text(4, 1), "One");
        QCOMPARE(fixture.matrix.cell(4, 1).html, "09:00 10:00 One");
        QCOMPARE(fixture.grid.backColour(4, 1), 50372);
        QCOMPARE(fixture.grid.text(4, 2), QString());
        QCOMPARE(fixture.matrix.cell(4, 2).html, nb);
        QVERIFY(!fixture.engine.headersValid);
    }

    void colourRulesAndFilteredOnly()
    {
        Fixture fixture;
        fixture.addRule(QStringLiteral("Absences"), QStringLiteral("Subject"),
                        QStringLiteral("absent;holiday;"), 255, 2);
        fixture.addRule(QStringLiteral("Customers"), QStringLiteral("Categories"),
                        QStringLiteral("customer;"), 65280, 3);
        fixture.addRule(QStringLiteral("Urgent"), QStringLiteral("Subject"), QStringLiteral("visit;"),
                        16711680, 1);
        fixture.addPerson(
            QStringLiteral("Chiara Rossi"), QStringLiteral("chiara@example.org"),
            {Fixture::timed("Customer visit", "20261207T090000", "20261207T100000", "CATEGORIES:Customer"),
             Fixture::timed("ABSENT afternoon", "20261207T140000", "20261207T180000"),
             Fixture::timed("Team lunch", "20261208T120000", "20261208T130000"),
             Fixture::timed("Customer call", "20261209T090000", "20261209T100000", "CATEGORIES:Customer")});
        fixture.engine.showDetails = true;
        fixture.engine.useFilters = true;
        fixture.engine.filteredOnly = true;
        MemberQuery::run(fixture.context(), kMonday, kSunday, {QStringLiteral("Chiara Rossi")}, false);

        // Monday: "visit" takes the cell at priority 1; the later absence recolours it through the higher
        // slot 2.
        QCOMPARE(fixture.matrix.cell(4, 1).ruleRank, QStringLiteral("2"));
        QCOMPARE(fixture.matrix.cell(4, 1).htmlColour, QStringLiteral("FF0000"));
        QCOMPARE(fixture.grid.text(4, 1), QStringLiteral("Customer visit\rABSENT afternoon"));
        // Tuesday: no rule matches, so only filtered cells show: no colour, no text, but the matrix keeps it.
        QCOMPARE(fixture.matrix.cell(4, 2).ruleRank, QStringLiteral("0"));
        QCOMPARE(fixture.matrix.cell(4, 2).gridColour, QStringLiteral("0"));
        QCOMPARE(fixture.matrix.cell(4, 2).htmlColour, QStringLiteral("FFFFFF"));
        QCOMPARE(fixture.grid.text(4, 2), QString());
        QCOMPARE(fixture.matrix.cell(4, 2).html, QStringLiteral("12:00 13:00 Team lunch"));
        // Wednesday: the category rule.
        QCOMPARE(fixture.matrix.cell(4, 3).ruleRank, QStringLiteral("3"));
        QCOMPARE(fixture.grid.backColour(4, 3), 65280);
    }

    void unresolvedMemberAndErrors()
    {
        Fixture fixture;
        fixture.addPerson(QStringLiteral("Søren Nielsen"), QStringLiteral("soren@example.org"),
                          {Fixture::timed("Planning", "20261207T090000", "20261207T100000")});
        fixture.engine.showDetails = true;
        MemberQuery::run(fixture.context(), kMonday, kSunday,
                         {QStringLiteral("Nobody Here"), QStringLiteral("soren")}, false);
        QCOMPARE(fixture.grid.text(4, 0), QStringLiteral("Nobody Here"));
        QCOMPARE(rowText(fixture.grid, 4, 7), QStringList(7, QStringLiteral("?")));
        QCOMPARE(rowHtml(fixture.matrix, 4, 7), QStringList(7, QStringLiteral("?")));
        QCOMPARE(fixture.grid.text(5, 1), QStringLiteral("Planning"));
        QCOMPARE(fixture.messages, QStringList());
    }

    void cancelInTheMiddleOfATeam()
    {
        Fixture fixture;
        for (const char* who : {"a", "b", "c"})
            fixture.addPerson(QString::fromLatin1(who) + QStringLiteral(" person"),
                              QString::fromLatin1(who) + QStringLiteral("@example.org"),
                              {Fixture::timed("One", "20261207T090000", "20261207T100000"),
                               Fixture::timed("Two", "20261208T090000", "20261208T100000")});
        fixture.engine.showDetails = true;
        fixture.onYield = [&] {
            if (fixture.yields == 3) // the first item of the second member
                fixture.engine.queryRunning = false;
        };
        MemberQuery::run(fixture.context(), kMonday, kSunday,
                         {QStringLiteral("a person"), QStringLiteral("b person"), QStringLiteral("c person")},
                         false);
        QCOMPARE(fixture.grid.text(4, 1), QStringLiteral("One"));
        QCOMPARE(fixture.grid.text(4, 2), QStringLiteral("Two"));
        QCOMPARE(fixture.grid.text(5, 0), QStringLiteral("b person"));
        QCOMPARE(fixture.grid.text(5, 1), QString());
        QCOMPARE(fixture.grid.text(6, 0), QString());
        QVERIFY(!fixture.engine.headersValid);
    }

    void emptyTeamLeavesTheGridAlone()
    {
        Fixture fixture;
        fixture.grid.setRows(3);
        fixture.grid.setColumns(1);
        fixture.grid.setText(2, 0, QStringLiteral("kept"));
        MemberQuery::run(fixture.context(), kMonday, kSunday, {}, false);
        QCOMPARE(fixture.messages, QStringList{QStringLiteral("No members")});
        QCOMPARE(fixture.grid.text(2, 0), QStringLiteral("kept"));
        fixture.program.automaticMode = true; // unattended: no message box
        MemberQuery::run(fixture.context(), kMonday, kSunday, {}, false);
        QCOMPARE(fixture.messages.size(), 1);
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
        // 28 December 2026 to 3 January 2027: two months, two years, ISO weeks 53 and 1.
        MemberQuery::buildDayHeaders(fixture.context(), QDate(2026, 12, 28), QDate(2027, 1, 3), 2,
                                     colourMode);
        const PlanningGrid& grid = fixture.grid;
        QCOMPARE(grid.rows(), 6);
        QCOMPARE(grid.columns(), 8);
        QCOMPARE(grid.fixedRows(), 4);
        QCOMPARE(grid.fixedColumns(), 1);
        QCOMPARE(grid.columnWidth(0), 1200);
        QCOMPARE(grid.rowHeight(4), 3 * grid.standardRowHeight());
        QCOMPARE(grid.text(0, 1), QStringLiteral("DÉC."));
        QCOMPARE(grid.text(0, 5), QStringLiteral("JANV."));
        QCOMPARE(grid.text(1, 1), QStringLiteral("Week 53"));
        QCOMPARE(grid.text(1, 5), QStringLiteral("Week 53"));
        QCOMPARE(grid.text(1, 7), QStringLiteral("Week 53"));
        QCOMPARE(grid.text(2, 1), colourMode ? QStringLiteral("L") : QStringLiteral("lundi"));
        QCOMPARE(grid.text(3, 1), colourMode ? QStringLiteral("28") : QStringLiteral("28/12"));
        QCOMPARE(grid.columnWidth(1), colourMode ? 400 : 960);
        QCOMPARE(grid.backColour(2, 6), 16744576); // Saturday
        QCOMPARE(grid.backColour(3, 7), 16744576); // Sunday
        QCOMPARE(grid.backColour(2, 5), 0);
        QCOMPARE(grid.columnWidth(6), hideWeekends ? 0 : (colourMode ? 400 : 960));
        QCOMPARE(grid.rememberedWidth(6), grid.columnWidth(6));
        QCOMPARE(grid.rememberedWidth(1), grid.columnWidth(1));
        QCOMPARE(grid.mergedRange(0, 2), (PlanningGrid::Range{0, 1, 0, 4}));
    }

    void limitsNeverWriteOutsideTheMatrix()
    {
        Fixture fixture;
        QStringList members;
        for (int i = 0; i < 130; ++i)
            members << QStringLiteral("Member %1").arg(i);
        MemberQuery::run(fixture.context(), QDate(2026, 1, 1), QDate(2026, 12, 31), members, false);
        QCOMPARE(fixture.grid.rows(), 4 + 127);
        QCOMPARE(fixture.grid.columns(), 191);
        QCOMPARE(fixture.messages, (QStringList{QStringLiteral("Too many"), QStringLiteral("Too long")}));
        QCOMPARE(fixture.matrix.cell(130, 190).html, QStringLiteral("?"));
    }
};

QTEST_GUILESS_MAIN(TestMemberQuery)
#include "tst_memberquery.moc"
