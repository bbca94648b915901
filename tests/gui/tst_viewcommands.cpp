#include "base/languagetexts.h"
#include "gui/periods.h"
#include "gui/viewcommands.h"
#include "planning/enginestate.h"
#include "tests/support/fixtures.h"

#include <QTemporaryDir>
#include <QTest>

class TestViewCommands : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    LanguageTexts m_texts;
    EngineState m_engine;
    QStringList m_calls;

private slots:
    void initTestCase()
    {
        writeFile(m_dir.filePath("TestMsg.txt"), "032Refused\n045Cancelled\n");
        m_texts = LanguageTexts::load(m_dir.path(), "Test");
    }

    void periods_data()
    {
        QTest::addColumn<QString>("period");
        QTest::addColumn<QDate>("today");
        QTest::addColumn<QString>("range");
        // The period, today, then the first and last day of the period.
        for (const QString row :
             {"ThisWeek 2026-12-13 2026-12-07 2026-12-13", "ThisWeek 2026-12-07 2026-12-07 2026-12-13",
              "ThisWeek 2027-01-01 2026-12-28 2027-01-03", "NextWeek 2026-12-09 2026-12-14 2026-12-20",
              "NextWeek 2026-12-13 2026-12-14 2026-12-20", "ThisMonth 2027-01-31 2027-01-01 2027-01-31",
              "ThisMonth 2026-11-15 2026-11-01 2026-11-30", "ThisMonth 2027-02-10 2027-02-01 2027-02-28",
              "ThisMonth 2028-02-29 2028-02-01 2028-02-29", "NextMonth 2026-11-30 2026-12-01 2026-12-31",
              "NextMonth 2026-12-31 2027-01-01 2027-01-31", "NextMonth 2027-01-31 2027-02-01 2027-02-28"})
            QTest::newRow(qPrintable(row.section(' ', 0, 1)))
                << row.section(' ', 0, 0) << QDate::fromString(row.section(' ', 1, 1), Qt::ISODate)
                << row.section(' ', 2);
    }
    void periods()
    {
        QFETCH(QString, period);
        QFETCH(QDate, today);
        const QMap<QString, Periods::Range (*)(const QDate&)> periods{{"ThisWeek", Periods::thisWeek},
                                                                      {"NextWeek", Periods::nextWeek},
                                                                      {"ThisMonth", Periods::thisMonth},
                                                                      {"NextMonth", Periods::nextMonth}};
        const Periods::Range range = periods.value(period)(today);
        QTEST(range.from.toString(Qt::ISODate) + ' ' + range.to.toString(Qt::ISODate), "range");
    }

    // Steps on the toolbar model ("menu P KEY", "button P", "view KEY", "tick DELAY", "running", "cancel")
    // and what the window is asked to do. Today is 9 December 2026; the pickers show 1 to 20 December.
    void commands_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QStringList>("calls");
        const QString week = "members 2026-12-07 2026-12-13";
        QTest::newRow("today") << "menu 1 Today" << QStringList{"day 2026-12-09"};
        QTest::newRow("tomorrow") << "menu 1 Tomorrow" << QStringList{"day 2026-12-10"};
        QTest::newRow("this day: the from picker") << "menu 1 ThisDay" << QStringList{"day 2026-12-01"};
        QTest::newRow("the face repeats the view, headers kept")
            << "menu 2 ThisWeek; button 2" << QStringList{week, week + " kept"};
        QTest::newRow("next month") << "menu 2 NextMonth" << QStringList{"members 2027-01-01 2027-01-31"};
        QTest::newRow("planning: the pickers")
            << "menu 2 Planning" << QStringList{"members 2026-12-01 2026-12-20"};
        QTest::newRow("colour planning overrides three flags")
            << "menu 2 ColorPlanning"
            << QStringList{"members 2026-12-01 2026-12-20 colour 010", "check options"};
        QTest::newRow("a face keeps its view while another runs")
            << "menu 2 ThisWeek; menu 1 Tomorrow; button 2" << QStringList{week, "day 2026-12-10", week};
        QTest::newRow("faces before any view")
            << "button 1; button 2; button 3; button 6; button 7; button 8" << QStringList{};
        QTest::newRow("max/min, copy, loupe")
            << "button 4; button 5; view ThisWeek; button 6" << QStringList{"layout 1", "copy", "loupe 1"};
        QTest::newRow("reports of a week") << "view ThisWeek; menu 7 ReportHTMLPlan; menu 7 ReportHTMLColor; "
                                              "menu 7 ReportImage"
                                           << QStringList{"report 0 1", "report 1 1", "report 0 0"};
        QTest::newRow("reports refused") << "view Today; menu 7 ReportHTMLColor; menu 7 ReportImage; view; "
                                            "menu 7 ReportImage"
                                         << QStringList{"message Refused", "report 0 0", "message Refused"};
        QTest::newRow("refresh every third minute")
            << "menu 2 ThisWeek; tick 3; tick 3; tick 3; tick 3; tick 3; tick 3; tick 3"
            << QStringList{week, week + " kept", week + " kept"};
        QTest::newRow("a view no entry carries")
            << "view Yesterday; button 3" << QStringList{"fatal View Keyword error"};
        QTest::newRow("cancel") << "cancel; running; cancel" << QStringList{"message Cancelled"};
    }
    void commands()
    {
        QFETCH(QString, steps);
        m_engine = EngineState{};
        m_engine.startDate = QDate(2026, 12, 1);
        m_engine.endDate = QDate(2026, 12, 20);
        m_engine.showDetails = m_engine.hideWeekends = true;
        m_calls.clear();
        ViewCommands::Window window;
        window.today = [] { return QDate(2026, 12, 9); };
        window.dayView = [this](const QDate& day) { m_calls << "day " + day.toString(Qt::ISODate); };
        window.memberQuery = [this](const QDate& from, const QDate& to, bool colour) {
            m_calls << QString("members %1 %2").arg(from.toString(Qt::ISODate), to.toString(Qt::ISODate));
            if (colour) // the flags the colour planning runs with
                m_calls.last() +=
                    QString(" colour %1%2%3")
                        .arg(QString::number(m_engine.showDetails), QString::number(m_engine.useFilters),
                             QString::number(m_engine.hideWeekends));
            if (m_engine.headersValid)
                m_calls.last() += " kept";
            m_engine.headersValid = true;
        };
        window.buttonPressed = [](int) { return true; };
        window.detailLayout = [this](bool pressed) { m_calls << QString("layout %1").arg(pressed); };
        window.copyPicture = [this] { m_calls << "copy"; };
        window.loupe = [this](bool on) { m_calls << QString("loupe %1").arg(on); };
        window.report = [this](bool colour, bool table) {
            m_calls << QString("report %1 %2").arg(colour).arg(table);
        };
        window.message = [this](MessageIcon, const QString& text) { m_calls << "message " + text; };
        window.fatal = [this](const QString& text) { m_calls << "fatal " + text; };
        window.applyDisplayFlags = [this] { m_calls << "check options"; };
        ViewCommands c(m_engine, m_texts, window);
        // The toolbar as the main window builds it: "key:menu entries".
        for (const char* button :
             {"OneDay:Today,Tomorrow,ThisDay",
              ":ThisWeek,NextWeek,ThisMonth,NextMonth,Planning,ColorPlanning", "Refresh:", "MaxMin:", "Copy:",
              "Loupe:", "Inet:ReportHTMLPlan,ReportHTMLColor,ReportImage", "Tools:MaintainGroups,Options"}) {
            c.buttons().append({QString(button).section(':', 0, 0), "", "", {}});
            for (const QString& key : QString(button).section(':', 1).split(',', Qt::SkipEmptyParts))
                c.buttons().last().menu.append({key, key});
        }
        for (const QString& step : steps.split("; ")) {
            const QStringList words = step.split(' ');
            if (words[0] == "menu")
                c.menuClick(words[1].toInt(), {words[2], words[2]});
            else if (words[0] == "button")
                c.buttonClick(words[1].toInt());
            else if (words[0] == "view")
                c.currentView = words.value(1);
            else if (words[0] == "tick")
                c.timerTick(words[1].toInt());
            else if (words[0] == "running")
                m_engine.queryRunning = true;
            else
                c.cancel();
        }
        QTEST(m_calls, "calls");
    }
};

QTEST_GUILESS_MAIN(TestViewCommands)
#include "tst_viewcommands.moc"
