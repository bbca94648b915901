#include "planning/colourrules.h"

#include "base/languagetexts.h"
#include "base/settingsstore.h"
#include "planning/enginestate.h"
#include "planning/filterlist.h"
#include "planning/planningmatrix.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <bit>
#include <limits>

namespace {

// One filter as the store and the main window's list hold it; a null text leaves its key out of the store.
struct Rule {
    QString name;
    QString priority;
    QString type;
    QString keywords;
    QString colour;
    QString html;
    bool selected = true;
};
using Rules = QList<Rule>;

struct Appointment {
    QString subject;
    QString categories;
};
using Appointments = QList<Appointment>;

// Each rule's colours follow from its priority, so that a result names the rule that gave it.
QString gridOf(int priority)
{
    return QString::number(priority * 1000 + 7);
}
QString htmlOf(int priority)
{
    return QStringLiteral("%1AA%1").arg(priority, 2, 10, QLatin1Char('0'));
}

Rule subjectRule(int priority, const QString& keywords)
{
    return {"S" + QString::number(priority),
            QString::number(priority),
            "Subject",
            keywords,
            gridOf(priority),
            htmlOf(priority)};
}
Rule categoriesRule(int priority, const QString& keywords)
{
    Rule rule = subjectRule(priority, keywords);
    rule.name = "C" + QString::number(priority);
    rule.type = "Categories";
    return rule;
}

Appointments subjects(const QStringList& texts)
{
    Appointments appointments;
    for (const QString& text : texts)
        appointments.append({text, QString()});
    return appointments;
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

const QString kDefaultGrid = "50372";
const QString kDefaultHtml = "C4C400";

} // namespace

Q_DECLARE_METATYPE(Rule)
Q_DECLARE_METATYPE(Rules)
Q_DECLARE_METATYPE(Appointments)

class TestColourRules : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    LanguageTexts m_texts;
    int m_stores = 0;

    // A fresh store holding `rules`, and the list the main window would show for it.
    QList<FilterListEntry> store(SettingsStore& settings, const Rules& rules)
    {
        QList<FilterListEntry> list;
        for (const Rule& rule : rules) {
            const auto put = [&](const char* key, const QString& value) {
                if (!value.isNull())
                    QVERIFY(settings.write(rule.name, key, value));
            };
            put("Prior", rule.priority);
            put("Type", rule.type);
            put("Txt", rule.keywords);
            put("Color", rule.colour);
            put("ColorHtml", rule.html);
            list.append({rule.name, rule.selected});
        }
        return list;
    }

    QString newStorePath() { return m_dir.filePath(QStringLiteral("store%1.ini").arg(++m_stores)); }

    static void compareSlot(const ColourRules::Slot& slot, const Rule& expected)
    {
        QCOMPARE(slot.name, expected.name);
        QCOMPARE(slot.gridColour, expected.colour);
        QCOMPARE(slot.type, expected.type);
        QCOMPARE(slot.keywords, expected.keywords);
        QCOMPARE(slot.htmlColour, expected.html);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        writeFile(m_dir.filePath("TestMsg.txt"), "001Categories\r\n002Subject\r\n003for team\r\n");
        writeFile(m_dir.filePath("TestScr.txt"), "001Planning\r\n");
        m_texts = LanguageTexts::load(m_dir.path(), "Test");
        QCOMPARE(m_texts.warnings(), QStringList());
        QCOMPARE(m_texts.message(1), "Categories");
        QCOMPARE(m_texts.message(2), "Subject");
    }

    void appointmentsColourTheirCell_data()
    {
        QTest::addColumn<Rules>("rules");
        QTest::addColumn<Appointments>("appointments");
        QTest::addColumn<bool>("useFilters");
        QTest::addColumn<bool>("filteredOnly");
        QTest::addColumn<QString>("grid");
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("rank");

        const auto row = [](const char* name, const Rules& rules, const Appointments& appointments, int rank,
                            bool useFilters = true, bool filteredOnly = false) {
            QString grid = rank > 0 ? gridOf(rank) : kDefaultGrid;
            QString html = rank > 0 ? htmlOf(rank) : kDefaultHtml;
            if (rank == 0 && filteredOnly) {
                grid = "0";
                html = "FFFFFF";
            }
            QTest::newRow(name) << rules << appointments << useFilters << filteredOnly << grid << html
                                << QString::number(rank);
        };

        // Matching by letter case, position and type.
        row("subject keyword, same case", {subjectRule(2, "absent;")}, subjects({"absent"}), 2);
        row("subject keyword, capitalised", {subjectRule(2, "absent;")}, subjects({"Absent"}), 2);
        row("subject keyword, upper case inside", {subjectRule(2, "absent;")},
            subjects({"Team ABSENT all day"}), 2);
        row("keyword inside a word", {subjectRule(2, "sent;")}, subjects({"Absent"}), 2);
        row("keyword longer than the subject", {subjectRule(2, "absent;")}, subjects({"Abs"}), 0);
        row("second keyword matches", {subjectRule(2, "holiday;absent;")}, subjects({"Absent"}), 2);
        row("categories rule on categories", {categoriesRule(4, "holiday;")},
            {{"Lunch", "Personal, Holiday"}}, 4);
        row("categories rule ignores the subject", {categoriesRule(4, "holiday;")}, {{"Holiday", "Work"}}, 0);
        row("subject rule ignores the categories", {subjectRule(4, "holiday;")}, {{"Work", "Holiday"}}, 0);
        row("categories rule, item without categories", {categoriesRule(4, " ;")}, {{"Holiday", ""}}, 0);
        row("categories rule, blank categories", {categoriesRule(4, " ;")}, {{"Holiday", "   "}}, 0);
        Rule shouted = subjectRule(3, "absent;");
        shouted.type = "SUBJECT";
        row("type compared ignoring case", {shouted}, subjects({"Absent"}), 3);

        // Priorities: the lowest number wins for a fresh cell, later appointments only move the rank up.
        row("rules at 3 and 5", {subjectRule(5, "abs;"), subjectRule(3, "absent;")}, subjects({"Absent"}), 3);
        row("later appointment matching only a lower number",
            {subjectRule(1, "holiday;"), subjectRule(3, "absent;")}, subjects({"Absent", "Holiday"}), 3);
        row("later appointment matching a higher number",
            {subjectRule(5, "holiday;"), subjectRule(3, "absent;")}, subjects({"Absent", "Holiday"}), 5);
        row("later appointment matching the same rule", {subjectRule(3, "absent;")},
            subjects({"Absent", "absent"}), 3);
        row("later appointment matching nothing", {subjectRule(3, "absent;")}, subjects({"Absent", "Lunch"}),
            3);
        row("unmatched then matched", {subjectRule(3, "absent;")}, subjects({"Lunch", "Absent"}), 3);
        row("priority 16 matches", {subjectRule(16, "absent;")}, subjects({"Absent"}), 16);
        row("priority 0 never matches", {subjectRule(0, "absent;")}, subjects({"Absent"}), 0);
        Rule unnumbered = subjectRule(9, "absent;");
        unnumbered.priority = QString();
        row("priority defaults to 9", {unnumbered}, subjects({"Absent"}), 9);

        // The keyword list read the way it is stored.
        row("lone keyword without ;", {subjectRule(2, "absent")}, subjects({"Absent"}), 0);
        row("last keyword without ; is lost", {subjectRule(2, "holiday;absent")}, subjects({"Absent"}), 0);
        row("keywords before a missing ; still count", {subjectRule(2, "holiday;absent")},
            subjects({"Holiday"}), 2);
        row("leading ; ends the scan", {subjectRule(2, ";absent;")}, subjects({"Absent"}), 0);
        row(";; ends the scan", {subjectRule(2, "holiday;;absent;")}, subjects({"Absent"}), 0);
        row("keywords before ;; still count", {subjectRule(2, "holiday;;absent;")}, subjects({"Holiday"}), 2);
        row("blank keyword matches any text", {subjectRule(2, "   ;")}, subjects({"Lunch"}), 2);
        row("blank keyword after a miss", {subjectRule(2, "holiday; ;")}, subjects({"Lunch"}), 2);
        row("blank keyword, blank subject", {subjectRule(2, "   ;")}, subjects({"   "}), 0);
        row("blank keyword, empty subject", {subjectRule(2, " ;")}, subjects({""}), 0);
        row("blanks around a keyword are dropped", {subjectRule(2, "  absent ;")}, subjects({"(absent)"}), 2);
        row("blanks inside a keyword are kept", {subjectRule(2, "all day;")}, subjects({"allday"}), 0);
        Rule noKeywords = subjectRule(2, QString());
        row("missing keyword list matches nothing", {noKeywords}, subjects({"Room 101", "0"}), 0);

        // The list and the store decide which rules take part.
        Rule unselected = subjectRule(2, "absent;");
        unselected.selected = false;
        row("unselected rule", {unselected}, subjects({"Absent"}), 0);
        Rule foreign = categoriesRule(2, "absent;");
        foreign.type = "Catégories";
        row("type text of another language", {foreign}, {{"Absent", "Absent"}}, 0);
        Rule outside = subjectRule(2, "absent;");
        outside.priority = "17";
        row("priority outside the table", {outside}, subjects({"Absent"}), 0);
        row("no rules", {}, subjects({"Absent"}), 0);

        // The flags.
        row("filters off", {subjectRule(2, "absent;")}, subjects({"Absent"}), 0, false);
        row("filters off, filtered only", {subjectRule(2, "absent;")}, subjects({"Absent"}), 0, false, true);
        row("filtered only, no match", {subjectRule(2, "absent;")}, subjects({"Lunch"}), 0, true, true);
        row("filtered only, match", {subjectRule(2, "absent;")}, subjects({"Absent"}), 2, true, true);
    }
    void appointmentsColourTheirCell()
    {
        QFETCH(Rules, rules);
        QFETCH(Appointments, appointments);
        QFETCH(bool, useFilters);
        QFETCH(bool, filteredOnly);

        SettingsStore settings(newStorePath());
        const QList<FilterListEntry> list = store(settings, rules);
        ColourRules colourRules([](const QString&) {});
        colourRules.load(list, settings, m_texts);

        EngineState engine;
        engine.useFilters = useFilters;
        engine.filteredOnly = filteredOnly;
        PlanningMatrix matrix;
        for (const Appointment& appointment : appointments)
            colourRules.colourCell(appointment.subject, appointment.categories, 4, 1, matrix, engine,
                                   m_texts);

        const PlanningCell& cell = matrix.cell(4, 1);
        QTEST(cell.gridColour, "grid");
        QTEST(cell.htmlColour, "html");
        QTEST(cell.ruleRank, "rank");
        QCOMPARE(cell.html, "&nbsp"); // the text is the query's to write
        QCOMPARE(matrix.cell(4, 2).ruleRank, "0");
    }

    // The member query colours its cells from each appointment's matching slots: the lowest above the cell's
    // rank must be the rank colourCell gives, for every way of matching.
    void matchingSlotsGiveTheSameRank_data() { appointmentsColourTheirCell_data(); }
    void matchingSlotsGiveTheSameRank()
    {
        QFETCH(Rules, rules);
        QFETCH(Appointments, appointments);
        QFETCH(bool, useFilters);

        SettingsStore settings(newStorePath());
        const QList<FilterListEntry> list = store(settings, rules);
        ColourRules colourRules([](const QString&) {});
        colourRules.load(list, settings, m_texts);

        int rank = 0;
        for (const Appointment& appointment : appointments) {
            const quint32 matched = colourRules.matchingSlots(appointment.subject, false) |
                                    colourRules.matchingSlots(appointment.categories, true);
            QCOMPARE(matched & 1u, 0u); // slot 0 never matches
            if (const quint32 above = matched & (~0u << (rank + 1)); useFilters && above)
                rank = std::countr_zero(above);
        }
        QTEST(QString::number(rank), "rank");
    }

    void laterEntryWithTheSamePriorityTakesTheSlot_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("grid");
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("rank");
        QTest::newRow("earlier rule's keyword") << "Absent" << kDefaultGrid << kDefaultHtml << "0";
        QTest::newRow("later rule's keyword") << "Holiday"
                                              << "222"
                                              << "0000DE"
                                              << "4";
    }
    void laterEntryWithTheSamePriorityTakesTheSlot()
    {
        SettingsStore settings(newStorePath());
        const QList<FilterListEntry> list =
            store(settings, {{"First", "4", "Subject", "absent;", "111", "6F0000"},
                             {"Second", "4", "Subject", "holiday;", "222", "0000DE"}});
        ColourRules colourRules([](const QString&) {});
        colourRules.load(list, settings, m_texts);
        QCOMPARE(colourRules.slot(4).name, "Second");

        EngineState engine;
        engine.useFilters = true;
        PlanningMatrix matrix;
        QFETCH(QString, subject);
        colourRules.colourCell(subject, QString(), 10, 20, matrix, engine, m_texts);
        QTEST(matrix.cell(10, 20).gridColour, "grid");
        QTEST(matrix.cell(10, 20).htmlColour, "html");
        QTEST(matrix.cell(10, 20).ruleRank, "rank");
    }

    void slotsHoldTheStoredTexts_data()
    {
        QTest::addColumn<Rule>("rule");
        QTest::addColumn<int>("priority");
        QTest::addColumn<Rule>("expected");
        const Rule full{"Holidays", "7", "Categories", "holiday;leave;", "16744576", "8080FF"};
        QTest::newRow("every key") << full << 7 << full;
        QTest::newRow("only the type: defaults")
            << Rule{"Bare", QString(), "Subject", QString(), QString(), QString()} << 9
            << Rule{"Bare", QString(), "Subject", "0", "0", "000000"};
        QTest::newRow("type in another letter case kept as stored")
            << Rule{"Loud", "3", "CATEGORIES", "x;", "1", "010000"} << 3
            << Rule{"Loud", "3", "CATEGORIES", "x;", "1", "010000"};
        QTest::newRow("priority with blanks around")
            << Rule{"Spaced", " 12 ", "Subject", "x;", "1", "010000"} << 12
            << Rule{"Spaced", " 12 ", "Subject", "x;", "1", "010000"};
        QTest::newRow("priority 0") << Rule{"Zero", "0", "Subject", "x;", "1", "010000"} << 0
                                    << Rule{"Zero", "0", "Subject", "x;", "1", "010000"};
        QTest::newRow("priority 16") << Rule{"Last", "16", "Subject", "x;", "1", "010000"} << 16
                                     << Rule{"Last", "16", "Subject", "x;", "1", "010000"};
    }
    void slotsHoldTheStoredTexts()
    {
        QFETCH(Rule, rule);
        QFETCH(int, priority);
        QFETCH(Rule, expected);
        SettingsStore settings(newStorePath());
        const QList<FilterListEntry> list = store(settings, {rule});
        QStringList warnings;
        ColourRules colourRules([&](const QString& line) { warnings << line; });
        colourRules.load(list, settings, m_texts);

        QCOMPARE(warnings, QStringList());
        for (int i = 0; i < ColourRules::kSlots; ++i) {
            if (i == priority)
                compareSlot(colourRules.slot(i), expected);
            else
                QVERIFY(colourRules.slot(i).name.isEmpty());
        }
        QVERIFY(colourRules.slot(-1).name.isEmpty());
        QVERIFY(colourRules.slot(ColourRules::kSlots).name.isEmpty());
    }

    void rulesThatCannotTakePartAreSkippedWithOneWarning_data()
    {
        QTest::addColumn<QString>("priority");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("warning");
        QTest::newRow("priority above 16") << "40"
                                           << "Subject"
                                           << "filter \"Odd\" skipped: priority 40 is outside 0 to 16";
        QTest::newRow("priority 17") << "17"
                                     << "Subject"
                                     << "filter \"Odd\" skipped: priority 17 is outside 0 to 16";
        QTest::newRow("negative priority") << "-1"
                                           << "Subject"
                                           << "filter \"Odd\" skipped: priority -1 is outside 0 to 16";
        QTest::newRow("priority in words")
            << "high"
            << "Subject"
            << "filter \"Odd\" skipped: priority \"high\" is not a whole number";
        QTest::newRow("empty priority") << ""
                                        << "Subject"
                                        << "filter \"Odd\" skipped: priority \"\" is not a whole number";
        QTest::newRow("fractional priority")
            << "3.5"
            << "Subject"
            << "filter \"Odd\" skipped: priority \"3.5\" is not a whole number";
        QTest::newRow("type of another language")
            << "3"
            << "Catégories"
            << "filter \"Odd\" skipped: type \"Catégories\" is neither \"Categories\" nor \"Subject\"";
        QTest::newRow("type with a trailing blank")
            << "3"
            << "Subject "
            << "filter \"Odd\" skipped: type \"Subject \" is neither \"Categories\" nor \"Subject\"";
        QTest::newRow("no type")
            << "3"
            << ""
            << "filter \"Odd\" skipped: type \"\" is neither \"Categories\" nor \"Subject\"";
        QTest::newRow("bad priority and bad type")
            << "99"
            << "Sujet"
            << "filter \"Odd\" skipped: priority 99 is outside 0 to 16";
    }
    void rulesThatCannotTakePartAreSkippedWithOneWarning()
    {
        QFETCH(QString, priority);
        QFETCH(QString, type);
        QFETCH(QString, warning);
        // The good rules around the bad one share its priority where it has a valid one: a rule that is
        // skipped does not take the slot.
        const Rule before{"Before", "3", "Subject", "a;", "1", "010000"};
        const Rule odd{"Odd", priority, type, "absent;", "2", "020000"};
        const Rule after{"After", "16", "Categories", "b;", "3", "030000"};
        SettingsStore settings(newStorePath());
        const QList<FilterListEntry> list = store(settings, {before, odd, after});
        QStringList warnings;
        ColourRules colourRules([&](const QString& line) { warnings << line; });
        colourRules.load(list, settings, m_texts);

        QCOMPARE(warnings, QStringList{warning});
        compareSlot(colourRules.slot(3), before);
        compareSlot(colourRules.slot(16), after);
        for (int i = 0; i < ColourRules::kSlots; ++i)
            QVERIFY(i == 3 || i == 16 || colourRules.slot(i).name.isEmpty());
    }

    void loadingAgainEmptiesEverySlot_data()
    {
        QTest::addColumn<bool>("keepInList");
        QTest::newRow("empty list") << false;
        QTest::newRow("nothing selected") << true;
    }
    void loadingAgainEmptiesEverySlot()
    {
        QFETCH(bool, keepInList);
        SettingsStore settings(newStorePath());
        QList<FilterListEntry> list = store(settings, {{"Zero", "0", "Subject", "x;", "1", "010000"},
                                                       {"One", "1", "Subject", "x;", "1", "010000"},
                                                       {"Sixteen", "16", "Categories", "x;", "1", "010000"}});
        ColourRules colourRules([](const QString&) {});
        colourRules.load(list, settings, m_texts);
        QCOMPARE(colourRules.slot(16).name, "Sixteen");

        if (keepInList) {
            for (FilterListEntry& entry : list)
                entry.selected = false;
        }
        else {
            list.clear();
        }
        colourRules.load(list, settings, m_texts);
        for (int i = 0; i < ColourRules::kSlots; ++i)
            compareSlot(colourRules.slot(i), Rule{});
    }

    void defaultColourIsWrittenAsAWholeNumber_data()
    {
        QTest::addColumn<double>("colour");
        QTest::addColumn<QString>("text");
        QTest::newRow("the stored default") << 50372.0 << "50372";
        QTest::newRow("black") << 0.0 << "0";
        QTest::newRow("white") << 16777215.0 << "16777215";
        QTest::newRow("system colour") << 2147483653.0 << "2147483653";
        QTest::newRow("negative system colour") << -2147483643.0 << "-2147483643";
        QTest::newRow("fraction rounded") << 255.6 << "256";
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << "0";
    }
    void defaultColourIsWrittenAsAWholeNumber()
    {
        QFETCH(double, colour);
        EngineState engine;
        engine.useFilters = false;
        engine.defaultColour = colour;
        engine.defaultColourHtml = "123456";
        PlanningMatrix matrix;
        ColourRules colourRules([](const QString&) {});
        colourRules.colourCell("Lunch", QString(), 130, 190, matrix, engine, m_texts);
        QTEST(matrix.cell(130, 190).gridColour, "text");
        QCOMPARE(matrix.cell(130, 190).htmlColour, "123456");
        QCOMPARE(matrix.cell(130, 190).ruleRank, "0");
    }

    void cellsOutsideTheMatrixAreLeftAlone_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::newRow("row 131") << 131 << 1;
        QTest::newRow("column 191") << 4 << 191;
        QTest::newRow("negative row") << -1 << 1;
        QTest::newRow("negative column") << 4 << -1;
    }
    void cellsOutsideTheMatrixAreLeftAlone()
    {
        QFETCH(int, row);
        QFETCH(int, column);
        SettingsStore settings(newStorePath());
        ColourRules colourRules([](const QString&) {});
        colourRules.load(store(settings, {subjectRule(2, "absent;")}), settings, m_texts);
        EngineState engine;
        engine.useFilters = true;
        PlanningMatrix matrix;
        colourRules.colourCell("Absent", QString(), row, column, matrix, engine, m_texts);
        const PlanningCell fresh;
        for (int r = 0; r < PlanningMatrix::kRows; ++r) {
            for (int c = 0; c < PlanningMatrix::kColumns; ++c) {
                const PlanningCell& cell = matrix.cell(r, c);
                QVERIFY2(cell.gridColour == fresh.gridColour && cell.htmlColour == fresh.htmlColour &&
                             cell.ruleRank == fresh.ruleRank,
                         qPrintable(QStringLiteral("cell (%1, %2) changed").arg(r).arg(c)));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestColourRules)
#include "tst_colourrules.moc"
