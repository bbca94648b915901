#include "app/demosettings.h"
#include "base/datetext.h"
#include "base/languagetexts.h"
#include "base/programstate.h"
#include "base/settingsstore.h"
#include "base/textids.h"
#include "gui/desktopopener.h"
#include "gui/detailpanel.h"
#include "gui/mainwindow.h"
#include "gui/planninggridview.h"
#include "gui/rulelegend.h"
#include "gui/teameditor.h"
#include "gui/trayicon.h"
#include "mailbox/foldermailbox.h"
#include "mailbox/mailboxerror.h"
#include "planning/enginestate.h"
#include "planning/planningmatrix.h"
#include "tests/support/fixtures.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

namespace {

const char* kDisplayChecks[] = {"showDetails",  "hidePrivate",  "useFilters",
                                "filteredOnly", "hideWeekends", "showTimes"};
const QDate kToday = QDate::currentDate();
const QDate kMonday = kToday.addDays(1 - kToday.dayOfWeek());

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
        copyTree(ROTAVINE_SOURCE_DATA "/demo-mailbox", dir.filePath("mailbox"));
        settings.write("Parameters", "SelectedTeam", "Support");
    }
    void addFilter(const QString& name, bool selected)
    {
        settings.write("Filters", name, QString());
        settings.write(name, "Selected", selected ? "1" : "0");
    }

    // The load step runs here; showing the window runs the first activation.
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
    bool openAndShow()
    {
        open().show();
        return QTest::qWaitFor([this] { return program.activated; }, 20000);
    }

    template <typename T = QWidget>
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
    // The texts of a list or of the team combo box, in order.
    QStringList items(const QString& name) const
    {
        auto* combo = child<QComboBox>(name);
        const QAbstractItemModel* model = combo ? combo->model() : child<QListWidget>(name)->model();
        QStringList texts;
        for (int row = 0; row < model->rowCount(); ++row)
            texts << model->index(row, 0).data().toString();
        return texts;
    }
    // The six display check boxes and the engine's flags, as "0" and "1".
    QString checks() const
    {
        QString text;
        for (const char* name : kDisplayChecks)
            text += child<QCheckBox>(name)->isChecked() ? '1' : '0';
        text += ' ';
        for (bool flag : {engine.showDetails, engine.hidePrivate, engine.useFilters, engine.filteredOnly,
                          engine.hideWeekends, engine.showTimes})
            text += flag ? '1' : '0';
        return text;
    }
    // The two pickers and the engine's period.
    QList<QDate> period() const
    {
        return {child<QDateEdit>("fromDate")->date(), child<QDateEdit>("toDate")->date(), engine.startDate,
                engine.endDate};
    }
};

QList<QDate> period(const QDate& from, const QDate& to)
{
    return {from, to, from, to};
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    // The first activation fills the lists, selects the start team and runs the stored start view; the
    // pickers show its period.
    void firstActivation_data()
    {
        QTest::addColumn<int>("atRunAction");
        QTest::addColumn<QString>("view");
        QTest::addColumn<QList<QDate>>("period");
        QTest::addColumn<QDate>("day"); // the day a day view shows
        const QDate first(kToday.year(), kToday.month(), 1);
        const QList<QDate> week = period(kMonday, kMonday.addDays(6));
        QTest::newRow("0 none") << 0 << "" << week << QDate();
        QTest::newRow("1 today") << 1 << "Today" << week << kToday;
        QTest::newRow("2 tomorrow") << 2 << "Tomorrow" << week << kToday.addDays(1);
        QTest::newRow("3 this week") << 3 << "ThisWeek" << week << QDate();
        QTest::newRow("4 next week") << 4 << "NextWeek" << period(kMonday.addDays(7), kMonday.addDays(13))
                                     << QDate();
        QTest::newRow("5 this month")
            << 5 << "ThisMonth" << period(first, first.addMonths(1).addDays(-1)) << QDate();
        QTest::newRow("6 next month")
            << 6 << "NextMonth" << period(first.addMonths(1), first.addMonths(2).addDays(-1)) << QDate();
        QTest::newRow("7 out of range") << 7 << "" << week << QDate();
    }
    void firstActivation()
    {
        QFETCH(int, atRunAction);
        QFETCH(QString, view);
        QFETCH(QDate, day);
        Harness h;
        h.addFilter("Holidays", true);
        h.addFilter("Customers", false);
        h.settings.write("Parameters", "AtRunAction", QString::number(atRunAction));
        QVERIFY(h.openAndShow());
        QCOMPARE(h.items("teamCombo"), (QStringList{"Customer Experience", "Support"}));
        QCOMPARE(h.child<QComboBox>("teamCombo")->currentText(), QString("Support"));
        QCOMPARE(h.items("memberList").size(), 8);
        QCOMPARE(h.items("filterList"), (QStringList{"Holidays", "Customers"}));
        auto* filters = h.child<QListWidget>("filterList");
        QVERIFY(filters->item(0)->isSelected() && !filters->item(1)->isSelected() &&
                !h.program.filtersChanged);
        QCOMPARE(h.window->windowTitle(), h.texts.screen(ScreenText::MainWindowCaption).caption);
        QCOMPARE(h.button(3)->text(), h.texts.screen(ScreenText::ToolbarRefresh).caption);
        QCOMPARE(h.child<QLabel>("versionLabel")->text(), QString(ROTAVINE_VERSION));

        QCOMPARE(h.window->commands().currentView, view);
        QTEST(h.period(), "period");
        PlanningGrid& grid = h.window->grid();
        if (day.isValid())
            QCOMPARE(grid.text(0, 2), DateText::format(day, "dddd dd/mm/yyyy"));
        else if (!view.isEmpty())
            QCOMPARE(grid.rows(), grid.fixedRows() + 8);
        QVERIFY(!h.engine.queryRunning);
        QVERIFY(h.messages.isEmpty());

        // A click on a filter stores its selection; the headers must be made again.
        h.engine.headersValid = true;
        QTest::mouseClick(filters->viewport(), Qt::LeftButton, {},
                          filters->visualItemRect(filters->item(0)).center());
        QVERIFY(!filters->item(0)->isSelected() && !h.engine.headersValid);
        QCOMPARE(h.settings.read("Holidays", "Selected", "x") + h.settings.read("Customers", "Selected", "x"),
                 QString("00"));
    }

    // A week view chosen from the menu: its button takes the entry over, the columns follow the window and
    // the size buttons, and the copy, compact layout and cancel buttons act on it.
    void weekViewFromTheToolbar()
    {
        Harness h;
        QVERIFY(h.openAndShow());
        QAction* entry = h.menuEntry(2, "ThisWeek");
        entry->trigger();
        auto* face = qobject_cast<QToolButton*>(h.child<QToolBar>("toolbar")->widgetForAction(h.button(2)));
        QCOMPARE(face->text() + '|' + face->toolTip(), entry->text().left(9) + "...|" + entry->text());
        QVERIFY(h.child<QLabel>("statusRunTime")->text().startsWith(h.texts.message(Message::LastRunPrefix)));
        PlanningGrid& grid = h.window->grid();
        h.menuEntry(1, "Today")->trigger();
        QCOMPARE(grid.rows(), 51);
        h.button(2)->trigger(); // the face repeats the week view
        QCOMPARE(h.window->commands().currentView, QString("ThisWeek"));
        QCOMPARE(grid.rows(), grid.fixedRows() + 8);

        const int before = grid.columnWidth(1);
        h.window->resize(h.window->width() + 300, h.window->height());
        QTRY_VERIFY(grid.columnWidth(1) > before);
        // The day columns end within a few pixels of the grid's right edge.
        const auto* view = h.child<PlanningGridView>("planningGrid");
        const int last = grid.columns() - 1;
        QVERIFY(qAbs(view->painter().columnX(last) + view->painter().columnWidth(last) -
                     view->viewport()->width()) <= grid.columns());
        grid.setRowHeight(1, 300);
        for (const char* name : {"restoreSizes", "rowsTaller", "rowsTaller", "rowsShorter"})
            h.child<QToolButton>(name)->click();
        QCOMPARE(grid.rowHeight(5), 980); // 900 → 990 → 1089 → 980
        const int width = grid.columnWidth(1);
        h.child<QToolButton>("columnsWider")->click();
        QCOMPARE(grid.columnWidth(1), width + qRound(width / 10.0));

        QGuiApplication::clipboard()->clear();
        h.button(5)->trigger();
        QCOMPARE(QGuiApplication::clipboard()->image().size(), view->painter().renderAll().size());
        h.button(4)->trigger();
        QVERIFY(h.button(4)->isChecked() && !h.child("upperPanel")->isVisible());
        h.button(4)->trigger();
        QVERIFY(h.child("upperPanel")->isVisible());
        h.child<QPushButton>("cancelButton")->click(); // no query: nothing to say
        h.engine.queryRunning = true;
        h.child<QPushButton>("cancelButton")->click();
        QVERIFY(!h.engine.queryRunning);
        QCOMPARE(h.messages, (QList<QPair<MessageIcon, QString>>{
                                 {MessageIcon::Information, h.texts.message(Message::PictureCopied)},
                                 {MessageIcon::Exclamation, h.texts.message(Message::QueryCancelled)}}));
    }

    // The display check boxes: restored at load (any non-zero value ticks), clicked, saved at close.
    void displayChecks_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("clicked");
        QTest::addColumn<QString>("checked");
        QTest::addColumn<bool>("headersValid");
        QTest::newRow("none") << "0 0 0 0 0 0" << -1 << "000000" << true;
        QTest::newRow("all") << "1 1 1 1 1 1" << -1 << "111111" << true;
        QTest::newRow("filtered only without filters") << "-1 0 0 1 7 0" << -1 << "100010" << true;
        QTest::newRow("show details") << "0 0 0 0 0 0" << 0 << "100000" << true;
        QTest::newRow("no weekends rebuilds the columns") << "0 0 0 0 0 0" << 4 << "000010" << false;
        QTest::newRow("filters off takes filtered only along") << "0 0 1 1 0 0" << 2 << "000000" << true;
        QTest::newRow("filtered only refused without filters") << "0 0 0 0 0 0" << 3 << "000000" << true;
        QTest::newRow("filtered only with filters") << "0 0 1 0 0 0" << 3 << "001100" << true;
    }
    void displayChecks()
    {
        QFETCH(QString, stored);
        QFETCH(int, clicked);
        QFETCH(QString, checked);
        Harness h;
        for (int index = 0; index < 6; ++index)
            h.settings.write("Parameters", QString("Checked%1").arg(index), stored.split(' ')[index]);
        h.open();
        h.engine.headersValid = true;
        if (clicked >= 0)
            h.child<QCheckBox>(kDisplayChecks[clicked])->click();
        QCOMPARE(h.checks(), checked + ' ' + checked);
        QTEST(h.engine.headersValid, "headersValid");
        h.window->close();
        for (int index = 0; index < 6; ++index)
            QCOMPARE(h.settings.read("Parameters", QString("Checked%1").arg(index), "x"),
                     QString(checked[index]));
    }

    // A later activation reads again what another window marked as changed, and runs no view: the teams, the
    // current team's members (none once it is gone) and the filters.
    void laterActivationReloadsWhatChanged_data()
    {
        QTest::addColumn<bool>("changed");
        QTest::addColumn<bool>("deleted"); // the current team's card is deleted rather than given a member
        QTest::addColumn<QStringList>("teams");
        QTest::addColumn<int>("members");
        QTest::newRow("current team read again")
            << true << false << QStringList{"Customer Experience", "Night Shift", "Support"} << 9;
        QTest::newRow("current team gone")
            << true << true << QStringList{"Customer Experience", "Night Shift"} << 0;
        QTest::newRow("nothing marked as changed")
            << false << true << QStringList{"Customer Experience", "Support"} << 8;
    }
    void laterActivationReloadsWhatChanged()
    {
        QFETCH(bool, changed);
        QFETCH(bool, deleted);
        Harness h;
        h.addFilter("Holidays", false);
        QVERIFY(h.openAndShow());
        const QString teams = h.dir.filePath("mailbox/contacts/Rotavine/");
        writeFile(teams + "night-shift.vcf",
                  group("Night Shift", "<rotavine>", {"mailto:zoe.vandenberg@example.org"}));
        QFile support(teams + "support.vcf");
        QVERIFY(support.open(QIODevice::ReadOnly));
        const QByteArray card =
            support.readAll().replace("END:", "MEMBER:mailto:ines.carvalho@example.org\r\nEND:");
        support.close();
        deleted ? void(support.remove()) : writeFile(support.fileName(), card);
        h.addFilter("Training", true);
        h.program.teamsChanged = h.program.filtersChanged = changed;
        h.window->activate();

        QTEST(h.items("teamCombo"), "teams");
        QTEST(int(h.items("memberList").size()), "members");
        if (!deleted)
            QCOMPARE(h.child<QComboBox>("teamCombo")->currentText(), QString("Support"));
        QCOMPARE(h.items("filterList"),
                 changed ? QStringList({"Holidays", "Training"}) : QStringList({"Holidays"}));
        QVERIFY(!h.program.teamsChanged && !h.program.filtersChanged);
        QCOMPARE(h.window->commands().currentView, QString());
    }

    void choosingATeamListsItsMembersAndRemembersIt()
    {
        Harness h;
        QVERIFY(h.openAndShow());
        auto* teamCombo = h.child<QComboBox>("teamCombo");
        teamCombo->setCurrentIndex(teamCombo->findText("Customer Experience"));
        h.engine.headersValid = true;
        emit teamCombo->activated(teamCombo->currentIndex());
        QCOMPARE(h.items("memberList").size(), 12);
        QCOMPARE(h.settings.read("Parameters", "SelectedTeam", ""), QString("Customer Experience"));
        QVERIFY(!h.engine.headersValid);
    }

    // After a picker changed, the range runs forwards and spans at most 187 days.
    void pickerChangesKeepTheRangeValid_data()
    {
        QTest::addColumn<QString>("picker");
        QTest::addColumn<int>("offset"); // days from this week's Monday
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::newRow("from after to moves to") << "fromDate" << 10 << 10 << 11;
        QTest::newRow("to before from moves from") << "toDate" << -3 << -4 << -3;
        QTest::newRow("to too far pulls from") << "toDate" << 200 << 14 << 200;
        QTest::newRow("from too early pulls to") << "fromDate" << -200 << -200 << -14;
        QTest::newRow("187 days allowed") << "toDate" << 186 << 0 << 186;
    }
    void pickerChangesKeepTheRangeValid()
    {
        QFETCH(QString, picker);
        QFETCH(int, offset);
        QFETCH(int, from);
        QFETCH(int, to);
        Harness h;
        h.open();
        h.engine.headersValid = true;
        h.child<QDateEdit>(picker)->setDate(kMonday.addDays(offset));
        QCOMPARE(h.period(), period(kMonday.addDays(from), kMonday.addDays(to)));
        QVERIFY(!h.engine.headersValid);
        QCOMPARE(h.window->commands().currentView, QString());
    }

    void reportFromTheToolbarOpensThePage_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("expected");
        QTest::newRow("table") << "ReportHTMLPlan" << QString("colspan=");
        QTest::newRow("colours") << "ReportHTMLColor" << QString("&nbsp");
        QTest::newRow("picture") << "ReportImage" << QString("<img src=\"planning.jpg\"");
    }
    void reportFromTheToolbarOpensThePage()
    {
        QFETCH(QString, entry);
        QFETCH(QString, expected);
        Harness h;
        QVERIFY(h.openAndShow());
        h.menuEntry(2, "ThisWeek")->trigger();
        h.menuEntry(7, entry)->trigger();
        QVERIFY2(h.messages.isEmpty(), qPrintable(h.messages.value(0).second));
        const QString page = h.program.tempFolder + "tempPlanning.htm";
        QCOMPARE(h.displayed.size(), 1);
        QCOMPARE(h.displayed.first().url, QUrl::fromLocalFile(page));
        QFile file(page);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(file.readAll());
        QVERIFY(html.contains(expected) && html.contains("for team:  Support<br>"));
        if (entry == "ReportImage") // the picture is the grid as the painter draws it
            QCOMPARE(QImage(h.program.tempFolder + "planning.jpg").size(),
                     h.child<PlanningGridView>("planningGrid")->painter().renderAll().size());
    }

    // The Report menu saves the view as a PDF with the team on its pages and the window's rows in it.
    void reportMenuSavesAPdf()
    {
        Harness h;
        QVERIFY(h.openAndShow());
        h.menuEntry(2, "ThisWeek")->trigger();
        QTemporaryDir folder;
        const QString pdf = folder.filePath("week.pdf");
        h.window->setDialogRunner([](QDialog&) { return int(QDialog::Accepted); });
        h.window->setPdfFileChooser([&](QWidget*, const QString&, const QString&) { return pdf; });
        h.menuEntry(7, "SavePdf")->trigger();
        QVERIFY2(h.messages.isEmpty(), qPrintable(h.messages.value(0).second));
        QProcess text;
        text.start("pdftotext", {pdf, "-"});
        QVERIFY(text.waitForFinished());
        const QString pages = QString::fromUtf8(text.readAllStandardOutput());
        const PlanningGrid& grid = h.window->grid();
        QVERIFY2(pages.contains("Support") && pages.contains(grid.text(grid.fixedRows(), 0)),
                 qPrintable(pages));
    }

    // Fitting the columns to the grid settles in one pass at every window size: a fit that left the
    // columns a pixel too wide brought up a scroll bar, which narrowed the grid, which fitted again, without
    // end.
    void columnFittingSettles()
    {
        Harness h;
        QVERIFY(h.openAndShow());
        auto* view = h.child<PlanningGridView>("planningGrid");
        int resizes = 0;
        struct Counter : QObject {
            int& count;
            explicit Counter(int& count) : count(count) {}
            bool eventFilter(QObject*, QEvent* event) override
            {
                count += event->type() == QEvent::Resize;
                return false;
            }
        } counter(resizes);
        view->viewport()->installEventFilter(&counter);
        for (int width = 1000; width <= 1400; width += 23) {
            for (int height : {600, 720, 850}) {
                h.window->resize(width, height);
                h.menuEntry(2, "ThisMonth")->trigger();
                h.menuEntry(2, "ColorPlanning")->trigger();
                resizes = 0;
                for (int pass = 0; pass < 20; ++pass)
                    QCoreApplication::processEvents();
                QVERIFY2(resizes <= 2,
                         qPrintable(QString("%1 x %2: %3 resizes").arg(width).arg(height).arg(resizes)));
                QVERIFY(!view->horizontalScrollBar()->isVisible());
            }
        }
        // 187 days do not fit: the columns keep a readable width and the grid scrolls sideways.
        h.child<QDateEdit>("toDate")->setDate(kMonday.addDays(186));
        h.menuEntry(2, "Planning")->trigger();
        QTRY_VERIFY(view->horizontalScrollBar()->isVisible());
        QVERIFY(view->painter().columnWidth(1) >=
                view->painter().textWidth(2, 1, QLocale().dayName(3, QLocale::ShortFormat)));
    }

    // A query lets events in; an activation arriving meanwhile (a click on the window) waits until it ends,
    // rather than listing the teams under it, which stopped it at a random member.
    void activationDuringAQueryWaits()
    {
        Harness h;
        h.settings.write("Parameters", "AtRunAction", "5");
        // Élodie, the first member, has enough appointments for the query to let events in.
        const QString calendar = h.dir.filePath("mailbox/calendars/elodie.martin@example.org/");
        const QByteArray day = kToday.toString("yyyyMMdd").toLatin1();
        for (int n = 0; n < 1500; ++n)
            writeFile(calendar + QString("busy%1.ics").arg(n),
                      ::calendar("BEGIN:VEVENT|UID:busy" + QByteArray::number(n) + "|DTSTART:" + day +
                                 "T090000Z|DTEND:" + day + "T100000Z|SUMMARY:Busy|END:VEVENT"));
        int arrived = 0;
        QTimer nudge;
        connect(&nudge, &QTimer::timeout, this, [&] {
            if (h.engine.queryRunning && ++arrived)
                h.window->activate();
        });
        nudge.start(0);
        QVERIFY(h.openAndShow());
        QTRY_VERIFY(!h.engine.queryRunning && h.window->lastQueryOutcome().completed);
        QVERIFY(arrived > 0);
        const PlanningGrid& grid = h.window->grid();
        QCOMPARE(grid.rows(), grid.fixedRows() + 8);
        for (int row = grid.fixedRows(); row < grid.rows(); ++row)
            QVERIFY2(!grid.text(row, 0).isEmpty(), qPrintable(QString::number(row)));
    }

    // The first start on the demo mailbox shows the largest team's week with rules that fit its calendars,
    // and their legend; a click on the legend chooses a rule as the filter list does.
    void firstStartOnTheDemo()
    {
        Harness h;
        h.settings.remove("Parameters", "SelectedTeam");
        FolderMailbox::Options options;
        options.root = h.dir.filePath("mailbox");
        FolderMailbox demo(options);
        writeDemoSettings(h.settings, h.texts, demo);
        QVERIFY(h.openAndShow());
        QCOMPARE(h.child<QComboBox>("teamCombo")->currentText(), QString("Customer Experience"));
        QCOMPARE(h.window->commands().currentView, QString("ThisWeek"));
        QCOMPARE(h.checks(), QString("101000 101000"));
        QSet<qint64> colours;
        const PlanningGrid& grid = h.window->grid();
        for (int row = grid.fixedRows(); row < grid.rows(); ++row)
            for (int column = 1; column < grid.columns(); ++column)
                colours << grid.backColour(row, column);
        QVERIFY2(colours.size() >= 4, qPrintable(QString::number(colours.size())));

        auto* legend = h.child<RuleLegend>("ruleLegend");
        QCOMPARE(legend->count(), h.items("filterList").size());
        QVERIFY(legend->isVisible() && legend->button(0)->isChecked());
        legend->button(0)->click();
        QVERIFY(!h.child<QListWidget>("filterList")->item(0)->isSelected() &&
                !legend->button(0)->isChecked());
        QCOMPARE(h.settings.read(legend->button(0)->text(), "Selected", "x"), QString("0"));
    }

    // Two people of one name: the team's member is looked up by the address its card gives, not by the name
    // both share (that showed "?" on the member's whole row).
    void membersOfOneNameAreToldApart()
    {
        Harness h;
        writeFile(h.dir.filePath("mailbox/contacts/other-anna.vcf"),
                  person("other-anna", "Anna Kowalska", "anna.k@partner.example.net"));
        QVERIFY(h.openAndShow());
        h.menuEntry(2, "ThisWeek")->trigger();
        const PlanningGrid& grid = h.window->grid();
        const int row = int(h.items("memberList").indexOf("Anna Kowalska")) + grid.fixedRows();
        QCOMPARE(grid.text(row, 0), QString("Anna Kowalska"));
        QVERIFY(grid.text(row, 1) != "?");
        QVERIFY(h.window->lastQueryOutcome().unreadable.isEmpty());
    }

    // What the window says when it cannot do what was asked.
    void feedback()
    {
        Harness h;
        QVERIFY(h.openAndShow());
        const auto status = [&h] { return h.child<QLabel>("statusState")->text(); };
        h.button(5)->trigger(); // copy before any view
        QCOMPARE(status(), h.texts.message(Message::NothingToCopy));
        h.child<QCheckBox>("filteredOnly")->click();
        QVERIFY(status().startsWith(h.texts.message(Message::FilteredOnlyNeedsFilters)));
        // The drop-down buttons keep their width when their faces change.
        auto* face = h.child<QToolBar>("toolbar")->widgetForAction(h.button(2));
        const int width = face->width();
        h.menuEntry(2, "ColorPlanning")->trigger();
        QCOMPARE(face->width(), width);
        QCOMPARE(h.child<QDateEdit>("fromDate")->displayFormat(), DateText::shortDateFormat());
        // A report the desktop cannot open: the window says where it is.
        h.mailbox->setDisplayHandler(
            [](const DisplayRequest&) { throw MailboxError(MailboxError::NotFound, "no viewer"); });
        h.menuEntry(7, "ReportImage")->trigger();
        QVERIFY(status().endsWith(QDir::toNativeSeparators(h.program.tempFolder + "tempPlanning.htm")));
        QCOMPARE(h.messages.size(), 1);
    }

    void refreshTimerFollowsTheDelay()
    {
        for (const char* delay : {"0", "3"}) {
            Harness h;
            h.settings.write("Parameters", "Automaticdelay", delay);
            h.open();
            QCOMPARE(h.window->findChild<QTimer*>("refreshTimer")->isActive(), delay[0] != '0');
        }
    }
    // The detail panel: pinned by Enter or a double click, following the pointer while the loupe is down,
    // placed beside the pointer within the window, and the actions on the member it shows.
    void detailPanel()
    {
        Harness h;
        const QString anna = h.dir.filePath("mailbox/calendars/anna.kowalska@example.org");
        const QByteArray monday = kMonday.toString("yyyyMMdd").toLatin1();
        writeFile(anna + "/markup.ics",
                  calendarEvent("markup", "<b>Review</b> & plan", monday + "T100000", monday + "T110000"));
        writeFile(
            anna + "/allday.ics",
            calendar(
                "BEGIN:VEVENT|UID:allday|DTSTAMP:20261101T000000Z|SUMMARY:Training day|DTSTART;VALUE=DATE:" +
                kToday.toString("yyyyMMdd").toLatin1() + "|END:VEVENT"));
        QVERIFY(h.openAndShow());
        h.menuEntry(2, "ThisWeek")->trigger();
        PlanningGrid& grid = h.window->grid();
        auto* view = h.child<PlanningGridView>("planningGrid");
        auto* panel = h.child<DetailPanel>("detailPanel");
        const auto text = [&h](const char* name) { return h.child<QLabel>(name)->text(); };
        const int annaIndex = int(h.items("memberList").indexOf("Anna Kowalska"));
        view->setFocus();
        grid.setCurrentCell(grid.fixedRows() + annaIndex, grid.fixedColumns());
        QTest::keyClick(view, Qt::Key_Return);
        QVERIFY(panel->isVisible() && !h.button(6)->isChecked());
        QCOMPARE(text("detailMember"), QString("Anna Kowalska"));
        QCOMPARE(text("detailHeading"), grid.text(2, 1) + ' ' + grid.text(3, 1));
        QVERIFY2(text("detailAppointments").contains("<b>Review</b> & plan"),
                 qPrintable(text("detailAppointments")));
        QCOMPARE(h.window->selectedCell().date, kMonday);
        // Pinned: the pointer does not move it.
        const QPoint pinned = panel->pos();
        QTest::mouseMove(view->viewport(), QPoint(5, view->viewport()->height() - 5));
        QCOMPARE(panel->pos(), pinned);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!panel->isVisible());

        // Hover: left of the pointer at the right edge, standing on the status bar at the bottom, hidden over
        // the names; the close button ends it.
        h.button(6)->trigger();
        const QPoint right(view->viewport()->width() - 3, view->painter().rowY(grid.fixedRows()) + 3);
        QTest::mouseMove(view->viewport(), right);
        QVERIFY(panel->isVisible());
        QVERIFY(panel->geometry().right() < view->viewport()->mapTo(h.window.get(), right).x());
        const QRect lastRow =
            view->painter().cellRect(grid.rows() - 1, grid.columns() - 1, view->firstScrollColumn());
        QTest::mouseMove(view->viewport(),
                         QPoint(right.x(), std::min(lastRow.bottom(), view->viewport()->height()) - 3));
        QCOMPARE(panel->geometry().bottom() + 1, h.child("statusBar")->y());
        QTest::mouseMove(view->viewport(), QPoint(3, right.y()));
        QVERIFY(!panel->isVisible());
        QTest::mouseMove(view->viewport(), right);
        h.child<QToolButton>("closeDetailsButton")->click();
        QTest::mouseMove(view->viewport(), right + QPoint(-2, 0));
        QVERIFY(!panel->isVisible() && !h.button(6)->isChecked());

        // The actions: a mail to the member's address, the member's calendar folder.
        QTest::keyClick(view, Qt::Key_Return);
        h.child<QToolButton>("sendMailButton")->click();
        QTest::keyClick(view, Qt::Key_Return);
        h.child<QToolButton>("openCalendarButton")->click();
        QCOMPARE(h.displayed.size(), 2);
        QCOMPARE(h.displayed[0].url.toString(QUrl::RemoveQuery), QString("mailto:anna.kowalska@example.org"));
        QVERIFY(h.displayed[0].body.startsWith(h.texts.message(Message::MailBodyIntro) + "\r\n"));
        QCOMPARE(h.displayed[1].url, QUrl::fromLocalFile(anna));
        QVERIFY(!panel->isVisible());
        CellDetails nobody;
        nobody.memberName = nobody.member = "Nobody";
        h.window->openMemberCalendar(nobody);
        QCOMPARE(h.messages.value(0),
                 qMakePair(MessageIcon::None, h.texts.message(Message::CalendarUnreachable) + "Nobody"));
        h.mailbox->setDisplayHandler(
            [](const DisplayRequest&) { throw MailboxError(MailboxError::NotFound, "no mail program"); });
        h.window->sendMailToMember(h.window->selectedCell());
        QCOMPARE(h.child<QLabel>("statusState")->text(),
                 h.texts.message(Message::DesktopCannotOpen) + "no mail program");

        // The day view: the member's whole day beside the half hour.
        h.menuEntry(1, "Today")->trigger();
        grid.setCurrentCell(grid.fixedRows() + 10, grid.fixedColumns() + annaIndex);
        QTest::keyClick(view, Qt::Key_Return);
        QVERIFY(h.child("detailDaySummary")->isVisible());
        QVERIFY(text("detailDaySummary").contains("Training day"));
        QCOMPARE(h.window->selectedCell().date, kToday);
    }
    // The desktop's opener: what xdg-open could not open is said once it has ended.
    void desktopCannotOpen()
    {
        QTemporaryDir bin;
        writeFile(bin.filePath("xdg-open"), "#!/bin/sh\necho 'xdg-open: no method available' >&2\nexit 3\n");
        QFile::setPermissions(bin.filePath("xdg-open"), QFile::ReadOwner | QFile::ExeOwner);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", bin.path().toLocal8Bit() + ':' + path);
        DesktopOpener opener;
        QSignalSpy failed(&opener, &DesktopOpener::failed);
        DisplayRequest request;
        request.url = QUrl::fromLocalFile(bin.path());
        opener.open(request);
        qputenv("PATH", path);
        QVERIFY(failed.wait(10000));
        QCOMPARE(failed.at(0).at(0).toString(), bin.path());
    }
    // The tools and the member list's double click open their dialogs; what a dialog changed is read again.
    void toolsOpenTheirDialogs()
    {
        Harness h;
        QVERIFY(h.openAndShow());
        QStringList opened;
        h.window->setDialogRunner([&](QDialog& dialog) {
            const auto* editor = qobject_cast<TeamEditor*>(&dialog);
            opened << dialog.metaObject()->className() + QStringLiteral(":") +
                          (editor ? editor->teamName() : dialog.windowTitle());
            return int(QDialog::Rejected);
        });
        h.menuEntry(8, "MaintainGroups")->trigger();
        h.menuEntry(8, "MaintainFilters")->trigger();
        h.menuEntry(8, "Options")->trigger();
        auto* members = h.child<QListWidget>("memberList");
        emit members->itemActivated(members->item(0));
        QCOMPARE(opened,
                 QStringList({"TeamDialog:" + h.texts.screen(ScreenText::GroupDialogCaption).caption,
                              "FilterDialog:" + h.texts.screen(ScreenText::FilterDialogCaption).caption,
                              "OptionsDialog:" + h.texts.message(Message::OptionsCaptionPrefix) + "Rotavine",
                              "TeamEditor:Support"}));

        // From a cell: an appointment for that member on that day, shown at once.
        h.window->setDialogRunner([](QDialog& dialog) {
            dialog.show();
            dialog.findChild<QLineEdit*>("subjectEdit")->setText("Rotavine demo");
            dialog.findChild<QPushButton*>("createButton")->click();
            return dialog.result();
        });
        h.child<QCheckBox>("showDetails")->click();
        h.menuEntry(2, "ThisWeek")->trigger();
        PlanningGrid& grid = h.window->grid();
        auto* view = h.child<PlanningGridView>("planningGrid");
        grid.setCurrentCell(grid.fixedRows(), grid.fixedColumns() + 2);
        QTest::keyClick(view, Qt::Key_Return);
        h.child<QToolButton>("newAppointmentButton")->click();
        QVERIFY(grid.text(grid.fixedRows(), grid.fixedColumns() + 2).contains("Rotavine demo"));
        QVERIFY(!grid.text(grid.fixedRows() + 1, grid.fixedColumns() + 2).contains("Rotavine demo"));
    }
    // The tray icon, where the desktop has a notification area: its menu, the window hidden on minimise and
    // brought back, the refresh, the help page, and the icon gone when the window closes. Without one the
    // window stays in the task bar.
    void trayIcon()
    {
        for (const bool desktopHasTray : {false, true}) {
            TrayIcon::setDesktopCheck([desktopHasTray] { return desktopHasTray; });
            Harness h;
            QVERIFY(h.openAndShow());
            TrayIcon::setDesktopCheck([] { return QSystemTrayIcon::isSystemTrayAvailable(); });
            auto* tray = h.window->findChild<TrayIcon*>();
            QVERIFY(tray);
            QCOMPARE(tray->isShown(), desktopHasTray);
            h.window->showMinimized();
            QTest::qWait(50);
            QCOMPARE(h.window->isVisible(), !desktopHasTray);
            if (!desktopHasTray)
                continue;
            QStringList keys;
            for (const QAction* entry : tray->menu()->actions())
                keys << (entry->isSeparator() ? QString() : entry->data().toString());
            QCOMPARE(keys, QStringList({"show", "refresh", "", "web", "", "close"}));
            const auto choose = [&](const QString& key) {
                tray->menu()->actions().at(keys.indexOf(key))->trigger();
            };
            emit tray->systemIcon()->activated(QSystemTrayIcon::DoubleClick);
            QVERIFY(h.window->isVisible() && !h.window->isMinimized());
            h.menuEntry(2, "ThisWeek")->trigger();
            h.child<QLabel>("statusRunTime")->clear();
            choose("refresh");
            QVERIFY(!h.child<QLabel>("statusRunTime")->text().isEmpty());
            choose("web");
            QVERIFY(h.displayed.size() == 1 && QFileInfo(h.displayed[0].url.toLocalFile()).isFile());
            choose("close");
            QVERIFY(!h.window->isVisible() && !tray->isShown());
        }
    }
    // Another calendar source applied in the options: the teams and the view come from it; one that cannot
    // be opened leaves the one in use.
    void changingTheSource()
    {
        Harness h;
        QVERIFY(h.openAndShow());
        h.menuEntry(2, "ThisWeek")->trigger();
        QTemporaryDir other;
        copyTree(ROTAVINE_SOURCE_DATA "/demo-mailbox", other.path());
        writeFile(other.filePath("contacts/Rotavine/support.vcf"),
                  group("Support", "<rotavine>", {"mailto:zoe.vandenberg@example.org"}));
        bool fails = true;
        h.window->setMailboxOpener([&](QString* error) -> std::unique_ptr<Mailbox> {
            if (fails) {
                *error = "server down";
                return nullptr;
            }
            FolderMailbox::Options options;
            options.root = other.path();
            return std::make_unique<FolderMailbox>(options);
        });
        QVERIFY(!h.window->reopenMailbox());
        QCOMPARE(h.messages.value(0).second, QString("server down"));
        QCOMPARE(h.items("memberList").size(), 8);
        fails = false;
        QVERIFY(h.window->reopenMailbox());
        QCOMPARE(h.items("memberList"), QStringList({"Zoë van den Berg"}));
        QCOMPARE(h.window->grid().rows(), h.window->grid().fixedRows() + 1);
        CellDetails zoe;
        zoe.memberName = zoe.member = "Zoë van den Berg";
        h.window->openMemberCalendar(zoe); // the tests' display handler moved along
        QCOMPARE(h.displayed.value(0).url,
                 QUrl::fromLocalFile(other.filePath("calendars/zoe.vandenberg@example.org")));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
