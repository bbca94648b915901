#include "app/commandline.h"
#include "app/unattendedrun.h"
#include "base/languagetexts.h"
#include "base/programstate.h"
#include "base/settingsstore.h"
#include "base/textids.h"
#include "gui/mainwindow.h"
#include "gui/planninggridview.h"
#include "mailbox/foldermailbox.h"
#include "mailbox/mailboxsource.h"
#include "planning/enginestate.h"
#include "planning/planningmatrix.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <memory>

namespace {

QString displayCheckName(int index)
{
    static const char* names[] = {"showDetails",  "hidePrivate",  "useFilters",
                                  "filteredOnly", "hideWeekends", "showTimes"};
    return names[index];
}

// The main window over a copy of the demo mailbox, with its own settings file and the shipped English texts.
struct Harness {
    QTemporaryDir dir;
    SettingsStore settings{dir.filePath("Rotavine.ini")};
    LanguageTexts texts = LanguageTexts::load(ROTAVINE_SOURCE_DATA "/Language", "English");
    ProgramState program;
    EngineState engine;
    PlanningMatrix matrix;
    std::unique_ptr<FolderMailbox> mailbox;
    std::unique_ptr<MainWindow> window;
    QList<QPair<MessageIcon, QString>> messages;
    QList<DisplayRequest> displayed;

    Harness()
    {
        program.tempFolder = dir.filePath("temp") + "/";
        QDir().mkpath(program.tempFolder);
        if (!copyFolderTree(ROTAVINE_SOURCE_DATA "/demo-mailbox", dir.filePath("mailbox")).isEmpty())
            qFatal("cannot copy the demo mailbox");
        settings.write("Parameters", "SelectedTeam", "Support");
    }

    void addFilter(const QString& name, bool selected)
    {
        settings.write("Filters", name, QString());
        settings.write(name, "Selected", selected ? "1" : "0");
    }

    // The load step runs here.
    MainWindow& open()
    {
        FolderMailbox::Options options;
        options.root = dir.filePath("mailbox");
        mailbox = std::make_unique<FolderMailbox>(options);
        mailbox->setDisplayHandler([this](const DisplayRequest& request) { displayed.append(request); });
        window = std::make_unique<MainWindow>(program, engine, matrix, settings, texts, *mailbox);
        window->setMessageHandler([this](MessageIcon icon, const QString& text) {
            messages.append({icon, text});
        });
        return *window;
    }

    // Showing the window runs the first activation.
    bool openAndShow()
    {
        open().show();
        return QTest::qWaitFor([this] { return program.activated; }, 20000);
    }

    template <typename T>
    T* child(const QString& name) const
    {
        return window->findChild<T*>(name);
    }
    QAction* button(int position) const { return child<QToolBar>("toolbar")->actions().at(position - 1); }
    QAction* menuEntry(int position, const QString& key) const
    {
        for (QAction* entry : button(position)->menu()->actions()) {
            if (entry->property("key").toString() == key)
                return entry;
        }
        return nullptr;
    }
    QStringList listed(const QString& name) const
    {
        QStringList texts;
        const auto* list = child<QListWidget>(name);
        for (int row = 0; row < list->count(); ++row)
            texts << list->item(row)->text();
        return texts;
    }
    QStringList teams() const
    {
        QStringList texts;
        const auto* combo = child<QComboBox>("teamCombo");
        for (int index = 0; index < combo->count(); ++index)
            texts << combo->itemText(index);
        return texts;
    }
};

QDate monday()
{
    const QDate today = QDate::currentDate();
    return today.addDays(1 - today.dayOfWeek());
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void firstActivationListsTeamsAndSelectsStartTeam()
    {
        Harness h;
        h.addFilter("Holidays", true);
        h.addFilter("Customers", false);
        QVERIFY(h.openAndShow());

        QStringList teams = h.teams();
        teams.sort();
        QCOMPARE(teams, (QStringList{"Customer Experience", "Support"}));
        QCOMPARE(h.child<QComboBox>("teamCombo")->currentText(), QString("Support"));
        QCOMPARE(h.child<QListWidget>("memberList")->count(), 8);

        auto* filters = h.child<QListWidget>("filterList");
        QCOMPARE(h.listed("filterList"), (QStringList{"Holidays", "Customers"}));
        QVERIFY(filters->item(0)->isSelected());
        QVERIFY(!filters->item(1)->isSelected());
        QVERIFY(!h.program.filtersChanged);

        // The current week is in the pickers and the engine, and the texts come from the language file.
        QCOMPARE(h.child<QDateEdit>("fromDate")->date(), monday());
        QCOMPARE(h.child<QDateEdit>("toDate")->date(), monday().addDays(6));
        QCOMPARE(h.engine.startDate, monday());
        QCOMPARE(h.engine.endDate, monday().addDays(6));
        QCOMPARE(h.window->windowTitle(), h.texts.screen(ScreenText::MainWindowCaption).caption);
        QCOMPARE(h.button(3)->text(), h.texts.screen(ScreenText::ToolbarRefresh).caption);
        QCOMPARE(h.child<QLabel>("versionLabel")->text(), QString(ROTAVINE_VERSION));
        QVERIFY(h.messages.isEmpty());
    }

    void startViewRunsAtFirstActivation_data()
    {
        QTest::addColumn<int>("atRunAction");
        QTest::addColumn<QString>("view");
        QTest::addColumn<int>("rows");

        QTest::newRow("none") << 0 << "" << 0;
        QTest::newRow("today") << 1 << "Today" << 51;
        QTest::newRow("this week") << 3 << "ThisWeek" << 4 + 8;
    }
    void startViewRunsAtFirstActivation()
    {
        QFETCH(int, atRunAction);
        QFETCH(QString, view);
        QFETCH(int, rows);

        Harness h;
        h.settings.write("Parameters", "AtRunAction", QString::number(atRunAction));
        QVERIFY(h.openAndShow());
        QCOMPARE(h.window->commands().currentView, view);
        if (rows > 0)
            QCOMPARE(h.window->grid().rows(), rows);
        QVERIFY(!h.engine.queryRunning);
        QVERIFY(h.messages.isEmpty());
    }

    void thisWeekFromTheMenuFillsTheGridAndRekeysTheButton()
    {
        Harness h;
        QVERIFY(h.openAndShow());
        QAction* entry = h.menuEntry(2, "ThisWeek");
        QVERIFY(entry);
        entry->trigger();

        PlanningGrid& grid = h.window->grid();
        QCOMPARE(grid.rows(), grid.fixedRows() + 8);
        QCOMPARE(grid.columns(), grid.fixedColumns() + 7);
        QStringList names;
        for (int row = grid.fixedRows(); row < grid.rows(); ++row)
            names << grid.text(row, 0);
        QStringList members = h.listed("memberList");
        names.sort();
        members.sort();
        QCOMPARE(names, members);

        const QString text = entry->text();
        auto* face = qobject_cast<QToolButton*>(h.child<QToolBar>("toolbar")->widgetForAction(h.button(2)));
        QVERIFY(face);
        QCOMPARE(face->text(), text.left(9) + "...");
        QCOMPARE(face->toolTip(), text);
        QCOMPARE(h.button(2)->property("key").toString(), QString("ThisWeek"));
        QVERIFY(h.child<QLabel>("statusRunTime")->text().startsWith(h.texts.message(Message::LastRunPrefix)));

        // The face now repeats the week view, after another view ran.
        h.menuEntry(1, "Today")->trigger();
        QCOMPARE(grid.rows(), 51);
        h.button(2)->trigger();
        QCOMPARE(h.window->commands().currentView, QString("ThisWeek"));
        QCOMPARE(grid.rows(), grid.fixedRows() + 8);
        QVERIFY(h.messages.isEmpty());
    }

    void weekColumnsFillTheGridWidth()
    {
        Harness h;
        QVERIFY(h.openAndShow());
        h.menuEntry(2, "ThisWeek")->trigger();
        PlanningGrid& grid = h.window->grid();
        auto* view = h.child<PlanningGridView>("planningGrid");
        const int before = grid.columnWidth(grid.fixedColumns());

        h.window->resize(h.window->width() + 300, h.window->height());
        QTRY_VERIFY(grid.columnWidth(grid.fixedColumns()) > before);
        // The day columns end within a few pixels of the grid's right edge.
        const GridPainter& painter = view->painter();
        const int right = painter.columnX(grid.columns() - 1) + painter.columnWidth(grid.columns() - 1);
        QVERIFY2(qAbs(right - view->viewport()->width()) <= grid.columns(),
                 qPrintable(QString("%1 vs %2").arg(right).arg(view->viewport()->width())));
    }

    void sizeButtons()
    {
        Harness h;
        QVERIFY(h.openAndShow());
        PlanningGrid& grid = h.window->grid();
        // Before any view the zoom pictures change nothing.
        const int rowsBefore = grid.rows();
        h.child<QToolButton>("rowsTaller")->click();
        QCOMPARE(grid.rows(), rowsBefore);

        h.menuEntry(2, "ThisWeek")->trigger();
        grid.setRowHeight(1, 300);
        h.child<QToolButton>("restoreSizes")->click();
        QCOMPARE(grid.rowHeight(4), 900);
        h.child<QToolButton>("rowsTaller")->click();
        QCOMPARE(grid.rowHeight(5), 990);
        h.child<QToolButton>("rowsShorter")->click();
        QCOMPARE(grid.rowHeight(4), 891);
        const int width = grid.columnWidth(1);
        h.child<QToolButton>("columnsWider")->click();
        QCOMPARE(grid.columnWidth(1), width + qRound(width / 10.0));
    }

    void displayOptionsRestoredAtLoadAndSavedAtClose_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QList<bool>>("boxes");

        QTest::newRow("none") << QStringList{"0", "0", "0", "0", "0", "0"}
                              << QList<bool>{false, false, false, false, false, false};
        QTest::newRow("all") << QStringList{"1", "1", "1", "1", "1", "1"}
                             << QList<bool>{true, true, true, true, true, true};
        // Only filtered appointments cannot be on while the filters are off; any non-zero value ticks.
        QTest::newRow("filtered only without filters") << QStringList{"-1", "0", "0", "1", "7", "0"}
                                                       << QList<bool>{true, false, false, false, true, false};
    }
    void displayOptionsRestoredAtLoadAndSavedAtClose()
    {
        QFETCH(QStringList, stored);
        QFETCH(QList<bool>, boxes);

        Harness h;
        for (int index = 0; index < 6; ++index)
            h.settings.write("Parameters", QString("Checked%1").arg(index), stored.at(index));
        MainWindow& window = h.open();

        for (int index = 0; index < 6; ++index)
            QCOMPARE(h.child<QCheckBox>(displayCheckName(index))->isChecked(), boxes.at(index));
        const QList<bool> flags{h.engine.showDetails,  h.engine.hidePrivate,  h.engine.useFilters,
                                h.engine.filteredOnly, h.engine.hideWeekends, h.engine.showTimes};
        QCOMPARE(flags, boxes);

        window.close();
        for (int index = 0; index < 6; ++index)
            QCOMPARE(h.settings.read("Parameters", QString("Checked%1").arg(index), "x"),
                     QString(boxes.at(index) ? "1" : "0"));
    }

    void displayOptionClicks_data()
    {
        QTest::addColumn<QList<bool>>("before");
        QTest::addColumn<int>("clicked");
        QTest::addColumn<QList<bool>>("after");
        QTest::addColumn<bool>("headersValid");

        QTest::newRow("show details") << QList<bool>{false, false, false, false, false, false} << 0
                                      << QList<bool>{true, false, false, false, false, false} << true;
        QTest::newRow("no weekends rebuilds the columns")
            << QList<bool>{false, false, false, false, false, false} << 4
            << QList<bool>{false, false, false, false, true, false} << false;
        QTest::newRow("filters off takes filtered only along")
            << QList<bool>{false, false, true, true, false, false} << 2
            << QList<bool>{false, false, false, false, false, false} << true;
        QTest::newRow("filtered only refused without filters")
            << QList<bool>{false, false, false, false, false, false} << 3
            << QList<bool>{false, false, false, false, false, false} << true;
        QTest::newRow("filtered only with filters")
            << QList<bool>{false, false, true, false, false, false} << 3
            << QList<bool>{false, false, true, true, false, false} << true;
    }
    void displayOptionClicks()
    {
        QFETCH(QList<bool>, before);
        QFETCH(int, clicked);
        QFETCH(QList<bool>, after);
        QFETCH(bool, headersValid);

        Harness h;
        for (int index = 0; index < 6; ++index)
            h.settings.write("Parameters", QString("Checked%1").arg(index), before.at(index) ? "1" : "0");
        h.open();
        h.engine.headersValid = true;
        h.child<QCheckBox>(displayCheckName(clicked))->click();

        QList<bool> boxes;
        for (int index = 0; index < 6; ++index)
            boxes << h.child<QCheckBox>(displayCheckName(index))->isChecked();
        QCOMPARE(boxes, after);
        const QList<bool> flags{h.engine.showDetails,  h.engine.hidePrivate,  h.engine.useFilters,
                                h.engine.filteredOnly, h.engine.hideWeekends, h.engine.showTimes};
        QCOMPARE(flags, after);
        QCOMPARE(h.engine.headersValid, headersValid);
    }

    void filterClickStoresTheSelection_data()
    {
        QTest::addColumn<bool>("selected");
        QTest::newRow("selecting") << false;
        QTest::newRow("deselecting") << true;
    }
    void filterClickStoresTheSelection()
    {
        QFETCH(bool, selected);

        Harness h;
        h.addFilter("Holidays", selected);
        h.addFilter("Customers", true);
        QVERIFY(h.openAndShow());
        h.engine.headersValid = true;

        auto* filters = h.child<QListWidget>("filterList");
        QTest::mouseClick(filters->viewport(), Qt::LeftButton, {},
                          filters->visualItemRect(filters->item(0)).center());
        QCOMPARE(filters->item(0)->isSelected(), !selected);
        QCOMPARE(h.settings.read("Holidays", "Selected", "x"), QString(selected ? "0" : "1"));
        QCOMPARE(h.settings.read("Customers", "Selected", "x"), QString("1"));
        QVERIFY(!h.engine.headersValid);
    }

    void laterActivationReloadsChangedFilters()
    {
        Harness h;
        h.addFilter("Holidays", false);
        QVERIFY(h.openAndShow());
        h.addFilter("Training", true);
        h.program.filtersChanged = true;
        h.window->activate();
        QCOMPARE(h.listed("filterList"), (QStringList{"Holidays", "Training"}));
        QVERIFY(h.child<QListWidget>("filterList")->item(1)->isSelected());
        QVERIFY(!h.program.filtersChanged);
        // A later activation runs no view.
        QCOMPARE(h.window->commands().currentView, QString());
    }

    void choosingATeamListsItsMembersAndRemembersIt()
    {
        Harness h;
        QVERIFY(h.openAndShow());
        auto* teamCombo = h.child<QComboBox>("teamCombo");
        const int index = teamCombo->findText("Customer Experience");
        QVERIFY(index >= 0);
        teamCombo->setCurrentIndex(index);
        h.engine.headersValid = true;
        emit teamCombo->activated(index);

        QCOMPARE(h.child<QListWidget>("memberList")->count(), 12);
        QCOMPARE(h.settings.read("Parameters", "SelectedTeam", ""), QString("Customer Experience"));
        QVERIFY(!h.engine.headersValid);
    }

    void pickerChangesKeepTheRangeValid_data()
    {
        QTest::addColumn<int>("picker");
        QTest::addColumn<int>("offset"); // days from this week's Monday
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");

        QTest::newRow("from after to moves to") << 0 << 10 << 10 << 11;
        QTest::newRow("to before from moves from") << 1 << -3 << -4 << -3;
        QTest::newRow("to too far pulls from") << 1 << 200 << 14 << 200;
        QTest::newRow("from too early pulls to") << 0 << -200 << -200 << -14;
        QTest::newRow("within the limit") << 1 << 20 << 0 << 20;
    }
    void pickerChangesKeepTheRangeValid()
    {
        QFETCH(int, picker);
        QFETCH(int, offset);
        QFETCH(int, from);
        QFETCH(int, to);

        Harness h;
        h.open();
        h.engine.headersValid = true;
        h.child<QDateEdit>(QString(picker == 0 ? "fromDate" : "toDate"))->setDate(monday().addDays(offset));

        QCOMPARE(h.child<QDateEdit>("fromDate")->date(), monday().addDays(from));
        QCOMPARE(h.child<QDateEdit>("toDate")->date(), monday().addDays(to));
        QCOMPARE(h.engine.startDate, monday().addDays(from));
        QCOMPARE(h.engine.endDate, monday().addDays(to));
        QVERIFY(!h.engine.headersValid);
        QCOMPARE(h.window->commands().currentView, QString());
    }

    void copyPutsTheGridPictureOnTheClipboard()
    {
        Harness h;
        QVERIFY(h.openAndShow());
        h.menuEntry(2, "ThisWeek")->trigger();
        QGuiApplication::clipboard()->clear();
        h.button(5)->trigger();

        const QImage image = QGuiApplication::clipboard()->image();
        QVERIFY(!image.isNull());
        QCOMPARE(image.size(), h.child<PlanningGridView>("planningGrid")->painter().renderAll().size());
        QCOMPARE(h.messages.size(), 1);
        QCOMPARE(h.messages.first().first, MessageIcon::Information);
        QCOMPARE(h.messages.first().second, h.texts.message(Message::PictureCopied));
    }

    void reportFromTheToolbarOpensThePage_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("expected");
        QTest::newRow("table") << "ReportHTMLPlan"
                               << "colspan=";
        QTest::newRow("colours") << "ReportHTMLColor"
                                 << "&nbsp";
        QTest::newRow("picture") << "ReportImage"
                                 << "<img src=\"planning.jpg\"";
    }
    void reportFromTheToolbarOpensThePage()
    {
        QFETCH(QString, entry);
        QFETCH(QString, expected);

        Harness h;
        QVERIFY(h.openAndShow());
        h.menuEntry(2, "ThisWeek")->trigger();
        QAction* report = h.menuEntry(7, entry);
        QVERIFY(report);
        report->trigger();

        QVERIFY2(h.messages.isEmpty(), qPrintable(h.messages.value(0).second));
        QCOMPARE(h.displayed.size(), 1);
        const QString page = h.program.tempFolder + "tempPlanning.htm";
        QCOMPARE(h.displayed.first().url, QUrl::fromLocalFile(page));
        QFile file(page);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(file.readAll());
        QVERIFY(html.contains(expected));
        QVERIFY(html.contains("for team:  Support<br>"));
        if (entry == "ReportImage") {
            // The picture is the grid as the painter draws it.
            const QImage picture(h.program.tempFolder + "planning.jpg");
            QCOMPARE(picture.size(), h.child<PlanningGridView>("planningGrid")->painter().renderAll().size());
        }
    }

    void unattendedRunDeliversWithoutShowingAnything()
    {
        Harness h;
        h.program.automaticMode = true;
        CommandLine command;
        command.team = "Customer Experience";
        command.view = "ThisMonth";
        command.report = "ReportHTMLColor";
        command.outputFolder = h.dir.filePath("www");
        command.outputFile = "team.htm";
        QDir().mkpath(command.outputFolder);

        QCOMPARE(runUnattended(h.open(), command, h.program, h.texts), ExitStatus::Delivered);
        QVERIFY(!h.window->isVisible());
        QVERIFY(h.displayed.isEmpty());
        QCOMPARE(h.window->grid().rows(), h.window->grid().fixedRows() + 12);
        QVERIFY(QFile::exists(h.dir.filePath("www/team.htm")));
    }

    void compactLayoutHidesTheUpperPanel()
    {
        Harness h;
        QVERIFY(h.openAndShow());
        QWidget* panel = h.child<QWidget>("upperPanel");
        QVERIFY(panel->isVisible());
        h.button(4)->trigger();
        QVERIFY(h.button(4)->isChecked());
        QVERIFY(!panel->isVisible());
        h.button(4)->trigger();
        QVERIFY(panel->isVisible());
    }

    void cancel_data()
    {
        QTest::addColumn<bool>("running");
        QTest::newRow("no query") << false;
        QTest::newRow("query running") << true;
    }
    void cancel()
    {
        QFETCH(bool, running);

        Harness h;
        h.open();
        h.engine.queryRunning = running;
        h.child<QPushButton>("cancelButton")->click();
        QVERIFY(!h.engine.queryRunning);
        if (running) {
            QCOMPARE(h.messages.size(), 1);
            QCOMPARE(h.messages.first().first, MessageIcon::Exclamation);
            QCOMPARE(h.messages.first().second, h.texts.message(Message::QueryCancelled));
        }
        else {
            QVERIFY(h.messages.isEmpty());
        }
    }

    void refreshTimerFollowsTheDelay_data()
    {
        QTest::addColumn<QString>("delay");
        QTest::addColumn<bool>("active");
        QTest::newRow("off") << "0" << false;
        QTest::newRow("every three minutes") << "3" << true;
    }
    void refreshTimerFollowsTheDelay()
    {
        QFETCH(QString, delay);
        QFETCH(bool, active);

        Harness h;
        h.settings.write("Parameters", "Automaticdelay", delay);
        h.open();
        auto* timer = h.window->findChild<QTimer*>("refreshTimer");
        QVERIFY(timer);
        QCOMPARE(timer->isActive(), active);
        QCOMPARE(timer->interval(), 60000);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
