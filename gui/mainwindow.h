#pragma once

#include "base/exitstatus.h"
#include "gui/captionstrip.h"
#include "gui/viewcommands.h"
#include "planning/colourrules.h"
#include "planning/planninggrid.h"
#include "planning/querycontext.h"

#include <QMainWindow>

#include <array>
#include <functional>
#include <memory>
#include <optional>

class ComboBoxTeamList;
class LanguageTexts;
class ListWidgetMemberList;
class Mailbox;
class PlanningGridView;
class PlanningMatrix;
class QAction;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QListWidget;
class QPushButton;
class QTimer;
class QToolBar;
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
class Form1 : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int kFlagCount = 6;
    static constexpr int kRefreshIntervalMs = 60000;

    using MessageHandler = std::function<void(MessageIcon, const QString&)>;

    // Runs the load step: texts, stored settings, display flags, timer and the current week.
    Form1(ProgramState& program, EngineState& engine, PlanningMatrix& matrix, SettingsStore& settings,
          const LanguageTexts& texts, Mailbox& mailbox, QWidget* parent = nullptr);
    ~Form1() override;

    // The first call loads the teams and filters and runs the start view; later calls reload what other
    // windows changed. Showing the window runs it.
    void activate();
    // Re-applies the six display check boxes to the engine's flags.
    void CheckOptions();

    // Message boxes go through here, so that tests can record them instead of waiting for a person.
    void setMessageHandler(MessageHandler handler) { m_messageHandler = std::move(handler); }
    void setStatusText(int panel, const QString& text);

    // Writes the report of the current view and opens it, or in an unattended run delivers it to the
    // command line's output.
    void WriteReport(bool colourOnly, bool asTable);
    // Saves the planning picture into the temporary folder and names it for the page.
    QString PlanningPictureName();
    // How an unattended run ended; nothing until it has.
    std::optional<ExitStatus> automaticStatus() const { return m_automaticStatus; }

    ViewCommands& commands() { return *m_commands; }
    PlanningGrid& grid() { return m_grid; }

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
    bool automaticRunAccepted();
    void finishAutomaticRun(ExitStatus status);
    void flagsCheckClick(int index);
    void filtresClick(int row);
    void groupesActivated();
    void pickerChanged(int index);
    void setPickers(const Periods::Range& range);
    void reloadFilters();
    void fitColumns();
    void buttonChanged(int position);
    void setBusy(bool on);
    void copyPicture();
    void runMemberQuery(const QDate& from, const QDate& to, bool colourMode);
    void runDayView(const QDate& day);
    QueryContext queryContext();
    TeamContext teamContext();
    QStringList members() const;
    int twips(int pixels) const;

    ProgramState& m_program;
    EngineState& m_engine;
    PlanningMatrix& m_matrix;
    SettingsStore& m_settings;
    const LanguageTexts& m_texts;
    Mailbox& m_mailbox;

    PlanningGrid m_grid;
    ColourRules m_rules;
    std::unique_ptr<QueryMemory> m_queryMemory;
    std::unique_ptr<ViewCommands> m_commands;
    MessageHandler m_messageHandler;

    QToolBar* m_toolbar = nullptr;
    QList<QAction*> m_buttons; // toolbar order; position 1 is the first
    QWidget* m_upperPanel = nullptr;
    QComboBox* m_groupes = nullptr;
    QListWidget* m_membres = nullptr;
    QListWidget* m_filtres = nullptr;
    std::array<QDateEdit*, 2> m_depuisAu{};
    std::array<QCheckBox*, kFlagCount> m_flagsCheck{};
    QPushButton* m_annul = nullptr;
    PlanningGridView* m_planning = nullptr;
    std::array<QLabel*, 3> m_statusPanels{};
    QLabel* m_version = nullptr;
    QLabel* m_picLogo = nullptr;
    cLogo m_logo;
    QTimer* m_refreshTimer = nullptr;

    std::unique_ptr<ComboBoxTeamList> m_teamList;
    std::unique_ptr<ListWidgetMemberList> m_memberList;
    std::unique_ptr<TeamWindow> m_teamWindow;

    bool m_columnsFitted = false;
    bool m_settingPickers = false;
    bool m_busy = false;
    bool m_activationQueued = false;
    std::optional<ExitStatus> m_automaticStatus;
};
