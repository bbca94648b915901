#pragma once

#include "gui/captionstriplabel.h"
#include "gui/viewcommands.h"
#include "output/pagedplanning.h"
#include "output/planningpicture.h"
#include "planning/celldetails.h"
#include "planning/colourrules.h"
#include "planning/planninggrid.h"
#include "planning/querycontext.h"

#include <QMainWindow>

#include <array>
#include <functional>
#include <memory>

class ComboBoxTeamList;
class DetailPanel;
class LanguageTexts;
class ListWidgetMemberList;
class Mailbox;
class PlanningGridView;
class PlanningMatrix;
class QAction;
class QCheckBox;
class QComboBox;
class QDialog;
class QDateEdit;
class QLabel;
class QMenu;
class QListWidget;
class QPushButton;
class QTimer;
class QToolBar;
class RuleLegend;
class TrayIcon;
class SettingsStore;
struct EngineState;
struct ProgramState;
struct QueryContext;
struct QueryMemory;
struct TeamContext;
struct TeamWindow;

// The main window: the team, its members, the colour filters, the period and the display options above the
// planning grid, the toolbar that runs the views, and the status bar. Its handlers hand the work to the
// core (ViewCommands, the queries, the team operations) and only move values between widgets and state.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int kFlagCount = 6;
    static constexpr int kRefreshIntervalMs = 60000;

    using MessageHandler = std::function<void(MessageIcon, const QString&)>;

    // Runs the load step: texts, stored settings, display flags, timer and the current week.
    MainWindow(ProgramState& program, EngineState& engine, PlanningMatrix& matrix, SettingsStore& settings,
               const LanguageTexts& texts, Mailbox& mailbox, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The first call loads the teams and filters and runs the start view; later calls reload what other
    // windows changed. Showing the window runs it.
    void activate();

    // The steps of the first activation, for an unattended run that takes them itself: the teams with
    // `startTeam` chosen (none when no marked team has that name) and the filters; the period as if the
    // user had picked it; a view keyword run, false when no toolbar entry carries it.
    void loadLists(const QString& startTeam);
    QString currentTeam() const;
    bool hasTeam(const QString& name) const;
    QStringList members() const;
    void choosePeriod(const QDate& from, const QDate& to);
    bool runView(const QString& view);
    // What the last query could not read.
    const QueryOutcome& lastQueryOutcome() const { return m_lastOutcome; }
    // Re-applies the six display check boxes to the engine's flags.
    void applyDisplayFlags();

    // Message boxes go through here, so that tests can record them instead of waiting for a person.
    void setMessageHandler(MessageHandler handler) { m_messageHandler = std::move(handler); }
    // The dialogs the window opens run through here (by default modal, until closed), so that tests can work
    // them instead of a person.
    using DialogRunner = std::function<int(QDialog&)>;
    void setDialogRunner(DialogRunner runner) { m_dialogRunner = std::move(runner); }
    // Names the PDF the planning is saved as (empty: cancelled); a file dialog unless set.
    using PdfFileChooser =
        std::function<QString(QWidget* parent, const QString& suggested, const QString& filter)>;
    void setPdfFileChooser(PdfFileChooser chooser) { m_pdfFileName = std::move(chooser); }
    // Opens the calendar source the settings name now, or says why it cannot (nothing).
    using MailboxOpener = std::function<std::unique_ptr<Mailbox>(QString* error)>;
    void setMailboxOpener(MailboxOpener opener) { m_mailboxOpener = std::move(opener); }
    // Changes to the source the settings name now and runs the view again on it; the source in use stays
    // when the new one cannot be opened (a message says why).
    bool reopenMailbox();
    void setStatusText(int panel, const QString& text);

    // Writes the report of the current view into the temporary folder and returns the page's path. Throws
    // ReportError, or JpegError for a picture that could not be saved.
    QString writeReportPage(bool colourOnly, bool asTable, PictureFormat format = PictureFormat::Jpeg);
    // Writes the report of the current view and opens it; a failure is shown in a message.
    void writeReport(bool colourOnly, bool asTable);
    // Saves the planning picture into the temporary folder and names it for the page.
    QString planningPictureName(PictureFormat format);
    // The grid as the window draws it, for what is printed or saved from it.
    const GridPainter& gridPainter() const;
    // What printed pages say beside the grid: the team, the period, and the colour rules while they apply.
    PagedPlanning::Texts pageTexts() const;

    ViewCommands& commands() { return *m_commands; }
    PlanningGrid& grid() { return m_grid; }
    const Mailbox& mailbox() const { return *m_mailbox; }

    // The member and day the detail panel's actions are for: the cell last shown in it.
    const CellDetails& selectedCell() const { return m_selected; }
    // The actions on a member, as the detail panel, the grid's and the member list's menus offer them.
    void sendMailToMember(const CellDetails& cell);
    void openMemberCalendar(const CellDetails& cell);
    void newAppointment(const CellDetails& cell);
    // The tools: "MaintainGroups", "MaintainFilters", "Options".
    void openTool(const QString& key);
    // The current team's members beside the address book, as the member list's double click opens them.
    void editCurrentTeam();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWidgets();
    QWidget* buildUpperPanel();
    void buildToolbar();
    QAction* addToolbarButton(const QString& key, int tag, bool checkable);
    void addMenuEntry(QAction* button, const QString& key, int tag);
    void loadToolbarModel();
    ViewCommands::Window commandWindow();
    void load();

    void showMessage(MessageIcon icon, const QString& text);
    // Runs `action` now, or, while a query or the team listing runs (they let events in), once it has
    // ended: nothing may change the lists, the flags or the grid under them. A later request under the same
    // key replaces a waiting one.
    void whenIdle(const QString& key, std::function<void()> action);
    void runWaiting();
    class WorkScope;
    void reloadChangedFilters();
    void displayCheckClicked(int index);
    void filterClicked(int row);
    void teamActivated();
    void pickerChanged(int index);
    void setPickers(const Periods::Range& range);
    void reloadFilters();
    void updateLegend();
    void legendToggled(int row);
    // Shows when the mailbox last reached its server while it reads from its local copy.
    void showOfflineNote();
    void fitColumns();
    int minimumColumnWidth(int column) const;
    void keepToolbarButtonWidths();
    void buttonChanged(int position);
    void setBusy(bool on);
    void copyPicture();
    QAction* loupeButton() const;
    void setLoupeMode(bool on);
    void cellHovered(int row, int column, const QPoint& position);
    void cellDoubleClicked(int row, int column);
    bool showDetailPanel(int row, int column, const QPoint& pointer);
    void detailActionTriggered(int action);
    // The actions the panel's buttons stand for (DetailPanel::Action), on a member; -1 does nothing.
    void runMemberAction(int action, const CellDetails& cell);
    // Fills a menu with those of the panel's actions and returns the one chosen, or -1.
    int chooseMemberAction(QMenu& menu, const QList<int>& actions, const QPoint& globalPosition);
    void cellContextMenu(int row, int column, const QPoint& globalPosition);
    void memberContextMenu(const QPoint& position);
    CellDetails memberListEntry(int row) const;
    void memberActionFailed(const CellDetails& cell, int status, const QString& description);
    void reloadTeams(const QString& current);
    void trayChosen(const QString& key);
    // The refresh timer runs while the delay is not 0.
    void followRefreshDelay(int minutes);
    void runMemberQuery(const QDate& from, const QDate& to, bool colourMode);
    void runDayView(const QDate& day);
    QueryContext queryContext();
    TeamContext teamContext();
    int twips(int pixels) const;

    ProgramState& m_program;
    EngineState& m_engine;
    PlanningMatrix& m_matrix;
    SettingsStore& m_settings;
    const LanguageTexts& m_texts;
    Mailbox* m_mailbox; // the one given, or the one the options opened since

    PlanningGrid m_grid;
    ColourRules m_rules;
    std::unique_ptr<QueryMemory> m_queryMemory;
    std::unique_ptr<ViewCommands> m_commands;
    MessageHandler m_messageHandler;
    DialogRunner m_dialogRunner;
    PdfFileChooser m_pdfFileName;
    QLabel* m_offlineNote = nullptr;
    MailboxOpener m_mailboxOpener;
    std::unique_ptr<Mailbox> m_ownedMailbox;

    QToolBar* m_toolbar = nullptr;
    QList<QAction*> m_buttons; // toolbar order; position 1 is the first
    QWidget* m_upperPanel = nullptr;
    QComboBox* m_teamCombo = nullptr;
    QListWidget* m_memberList = nullptr;
    QListWidget* m_filterList = nullptr;
    std::array<QDateEdit*, 2> m_datePickers{};
    std::array<QCheckBox*, kFlagCount> m_displayChecks{};
    QPushButton* m_cancelButton = nullptr;
    PlanningGridView* m_gridView = nullptr;
    RuleLegend* m_legend = nullptr;
    DetailPanel* m_detailPanel = nullptr;
    TrayIcon* m_tray = nullptr; // none in unattended runs
    std::array<QLabel*, 3> m_statusPanels{};
    QLabel* m_versionLabel = nullptr;
    CaptionStripLabel* m_captionStrip = nullptr;
    QTimer* m_refreshTimer = nullptr;

    std::unique_ptr<ComboBoxTeamList> m_teamsAdaptor;
    std::unique_ptr<ListWidgetMemberList> m_membersAdaptor;
    std::unique_ptr<TeamWindow> m_teamWindow;

    bool m_columnsFitted = false;
    bool m_settingPickers = false;
    bool m_busy = false;
    bool m_activationQueued = false;
    bool m_viewKeywordFailed = false;
    bool m_working = false; // a query or the team listing runs
    QList<std::pair<QString, std::function<void()>>> m_waiting;
    QueryOutcome m_lastOutcome;

    bool m_ownsDisplayHandler = false;
    bool m_loupeMode = false; // the panel follows the pointer
    CellDetails m_selected;
    CellDetailsReader::ShownView m_shownView; // what the grid shows, for reading its cells
};
