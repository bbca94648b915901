#include "base/languagetexts.h"
#include "gui/viewcommands.h"
#include "planning/enginestate.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

using Entry = ViewCommands::MenuEntry;

// The toolbar as the main window builds it, with the keys and design texts.
QList<ViewCommands::Button> toolbar()
{
    return {
        {"OneDay",
         "Journalier",
         "",
         {{"Today", "Aujourd'hui"}, {"Tomorrow", "Demain"}, {"ThisDay", "Ce jour..."}}},
        {"",
         "Planning",
         "",
         {{"ThisWeek", "Cette Semaine"},
          {"NextWeek", "Semaine prochaine"},
          {"ThisMonth", "Ce mois"},
          {"NextMonth", "Mois prochain"},
          {"Planning", "Planning (dates)"},
          {"ColorPlanning", "Planning Couleur"}}},
        {"Refresh", "Refresh", "", {}},
        {"MaxMin", "Max/Min", "", {}},
        {"Copy", "Copier", "", {}},
        {"Loupe", "Loupe", "", {}},
        {"Inet",
         "Rapport",
         "",
         {{"ReportHTMLPlan", "Planning détaillé"},
          {"ReportHTMLColor", "Planning Coloré"},
          {"ReportImage", "Planning (Mode HTML+Image)"}}},
        {"Tools", "Outils", "", {{"MaintainGroups", "Maintenir les groupes"}, {"Options", "Options..."}}},
    };
}

} // namespace

class TestViewCommands : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    LanguageTexts m_texts;
    EngineState m_engine;
    QStringList m_calls;
    Periods::Range m_pickers{QDate(2026, 12, 1), QDate(2026, 12, 20)};

    ViewCommands commands()
    {
        m_engine = EngineState{};
        m_engine.startDate = m_pickers.from;
        m_engine.endDate = m_pickers.to;
        m_engine.showDetails = true;
        m_engine.hideWeekends = true;
        m_calls.clear();
        ViewCommands::Window window;
        window.today = [] { return QDate(2026, 12, 9); };
        window.setPickers = [this](const Periods::Range& range) { m_pickers = range; };
        window.dayView = [this](const QDate& day) { m_calls << "day " + day.toString(Qt::ISODate); };
        window.memberQuery = [this](const QDate& from, const QDate& to, bool colour) {
            m_calls << QStringLiteral("members %1 %2%3")
                           .arg(from.toString(Qt::ISODate), to.toString(Qt::ISODate),
                                colour ? " colour" : "");
            if (colour)
                m_calls << QStringLiteral("flags %1%2%3")
                               .arg(m_engine.showDetails)
                               .arg(m_engine.useFilters)
                               .arg(m_engine.hideWeekends);
            m_engine.headersValid = true;
        };
        window.buttonPressed = [](int) { return true; };
        window.detailLayout = [this](bool pressed) { m_calls << QStringLiteral("layout %1").arg(pressed); };
        window.copyPicture = [this] { m_calls << "copy"; };
        window.loupe = [this](bool on) { m_calls << QStringLiteral("loupe %1").arg(on); };
        window.report = [this](bool colour, bool table) {
            m_calls << QStringLiteral("report %1 %2").arg(colour).arg(table);
        };
        window.dialog = [this](const QString& key) { m_calls << "dialog " + key; };
        window.message = [this](MessageIcon, const QString& text) { m_calls << "message " + text; };
        window.fatal = [this](const QString& text) { m_calls << "fatal " + text; };
        window.applyDisplayFlags = [this] { m_calls << "check options"; };
        ViewCommands commands(m_engine, m_texts, window);
        commands.buttons() = toolbar();
        return commands;
    }

private slots:
    void initTestCase()
    {
        QFile file(m_dir.filePath("TestMsg.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("032Refused\n041Last run: \n045Cancelled\n");
        file.close();
        m_texts = LanguageTexts::load(m_dir.path(), "Test");
    }

    void views_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("today") << 1 << "Today" << QStringList{"day 2026-12-09"};
        QTest::newRow("tomorrow") << 1 << "Tomorrow" << QStringList{"day 2026-12-10"};
        QTest::newRow("this day: the from picker") << 1 << "ThisDay" << QStringList{"day 2026-12-01"};
        QTest::newRow("this week") << 2 << "ThisWeek" << QStringList{"members 2026-12-07 2026-12-13"};
        QTest::newRow("next month") << 2 << "NextMonth" << QStringList{"members 2027-01-01 2027-01-31"};
        QTest::newRow("planning: the pickers as they stand")
            << 2 << "Planning" << QStringList{"members 2026-12-01 2026-12-20"};
        QTest::newRow("colour planning overrides three flags for its run")
            << 2 << "ColorPlanning"
            << QStringList{"members 2026-12-01 2026-12-20 colour", "flags 010", "check options"};
    }
    void views()
    {
        QFETCH(int, button);
        QFETCH(QString, key);
        QFETCH(QStringList, calls);
        m_pickers = {QDate(2026, 12, 1), QDate(2026, 12, 20)};
        ViewCommands c = commands();
        const QList<Entry> menu = c.buttons().at(button - 1).menu;
        const auto entry =
            std::find_if(menu.begin(), menu.end(), [&](const Entry& e) { return e.key == key; });
        c.menuClick(button, *entry);
        QCOMPARE(m_calls, calls);
        QCOMPARE(c.currentView, key);
        QCOMPARE(c.lastButtonKey, key);
        // The button took the entry over and repeats it.
        QCOMPARE(c.buttons().at(button - 1).key, key);
        QCOMPARE(c.buttons().at(button - 1).caption, entry->text.left(9) + "...");
        m_calls.clear();
        c.buttonClick(button);
        QCOMPARE(m_calls, calls);
    }

    void headersRebuiltOnlyWhenTheViewChanges()
    {
        ViewCommands c = commands();
        c.menuClick(2, {"ThisWeek", "Cette Semaine"});
        QVERIFY(m_engine.headersValid);
        c.buttonClick(2);
        QVERIFY(m_engine.headersValid); // same view: the headers stay
        m_engine.headersValid = true;
        c.menuClick(2, {"NextWeek", "Semaine prochaine"});
        QCOMPARE(m_calls.last(), QString("members 2026-12-14 2026-12-20"));
    }

    void otherButtons_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("viewShown");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("button 2 before any period") << 2 << false << QStringList{};
        QTest::newRow("day button face") << 1 << false << QStringList{};
        QTest::newRow("refresh with nothing shown") << 3 << false << QStringList{};
        QTest::newRow("max/min") << 4 << false << QStringList{"layout 1"};
        QTest::newRow("copy") << 5 << false << QStringList{"copy"};
        QTest::newRow("loupe with nothing shown") << 6 << false << QStringList{};
        QTest::newRow("loupe") << 6 << true << QStringList{"loupe 1"};
        QTest::newRow("report face") << 7 << false << QStringList{};
        QTest::newRow("tools face") << 8 << false << QStringList{};
    }
    void otherButtons()
    {
        QFETCH(int, button);
        QFETCH(bool, viewShown);
        QFETCH(QStringList, calls);
        ViewCommands c = commands();
        if (viewShown)
            c.currentView = "ThisWeek";
        c.buttonClick(button);
        QCOMPARE(m_calls, calls);
    }

    void reports_data()
    {
        QTest::addColumn<QString>("view");
        QTest::addColumn<QString>("report");
        QTest::addColumn<QString>("call");
        QTest::newRow("plan of a week") << "ThisWeek"
                                        << "ReportHTMLPlan"
                                        << "report 0 1";
        QTest::newRow("colour of a month") << "ThisMonth"
                                           << "ReportHTMLColor"
                                           << "report 1 1";
        QTest::newRow("picture of today") << "Today"
                                          << "ReportImage"
                                          << "report 0 0";
        QTest::newRow("plan of today") << "Today"
                                       << "ReportHTMLPlan"
                                       << "message Refused";
        QTest::newRow("nothing shown") << ""
                                       << "ReportImage"
                                       << "message Refused";
    }
    void reports()
    {
        QFETCH(QString, view);
        QFETCH(QString, report);
        QFETCH(QString, call);
        ViewCommands c = commands();
        c.currentView = view;
        c.menuClick(7, {report, report});
        QCOMPARE(m_calls, QStringList{call});
    }

    void rerunAndTimer()
    {
        ViewCommands c = commands();
        c.menuClick(2, {"ThisMonth", "Ce mois"});
        m_calls.clear();
        for (int minute = 1; minute <= 7; ++minute)
            c.timerTick(3);
        QCOMPARE(m_calls, (QStringList{"members 2026-12-01 2026-12-31", "members 2026-12-01 2026-12-31"}));
        QCOMPARE(c.autoRefreshCount, 1);

        c.currentView = "Yesterday"; // a keyword no entry carries, as from a command line
        m_calls.clear();
        c.buttonClick(3);
        QCOMPARE(m_calls, QStringList{"fatal View Keyword error"});
    }

    void cancel()
    {
        ViewCommands c = commands();
        c.cancel();
        QCOMPARE(m_calls, QStringList{});
        m_engine.queryRunning = true;
        c.cancel();
        QCOMPARE(m_calls, QStringList{"message Cancelled"});
        QVERIFY(!m_engine.queryRunning);
    }

    void runTimeText()
    {
        const QDateTime now(QDate(2026, 12, 9), QTime(14, 5));
        const QString text = ViewCommands::runTimeText(m_texts, now);
        QVERIFY(text.startsWith("Last run: "));
        QVERIFY(text.contains(QLocale::system().toString(now.date(), QLocale::ShortFormat)));
    }
};

QTEST_GUILESS_MAIN(TestViewCommands)
#include "tst_viewcommands.moc"
