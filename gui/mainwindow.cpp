#include "gui/mainwindow.h"

#include "base/datetext.h"
#include "base/languagetexts.h"
#include "base/programpaths.h"
#include "base/programstate.h"
#include "base/settingsstore.h"
#include "base/textids.h"
#include "gui/appicon.h"
#include "gui/appointmentdialog.h"
#include "gui/captions.h"
#include "gui/comboboxteamlist.h"
#include "gui/desktopopener.h"
#include "gui/detailpanel.h"
#include "gui/filterdialog.h"
#include "gui/gridlayout.h"
#include "gui/listwidgetmemberlist.h"
#include "gui/messageboxes.h"
#include "gui/optionsdialog.h"
#include "gui/planninggridview.h"
#include "gui/printplanning.h"
#include "gui/rulelegend.h"
#include "gui/teamdialog.h"
#include "gui/teameditor.h"
#include "gui/trayicon.h"
#include "gui/windowsettings.h"
#include "mailbox/mailbox.h"
#include "mailbox/mailboxerror.h"
#include "output/htmlreport.h"
#include "output/jpegwriter.h"
#include "output/planningpicture.h"
#include "planning/dayview.h"
#include "planning/enginestate.h"
#include "planning/filterlist.h"
#include "planning/memberactions.h"
#include "planning/memberquery.h"
#include "planning/memberrow.h"
#include "planning/planningmatrix.h"
#include "planning/teamgroups.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <cstdio>

namespace {

constexpr const char* kKey = "key";
constexpr const char* kDisplayCheckNames[kDisplayFlagCount] = {"showDetails",  "hidePrivate",  "useFilters",
                                                               "filteredOnly", "hideWeekends", "showTimes"};
constexpr const char* kStatusPanelNames[] = {"statusState", "statusDetail", "statusRunTime"};

// The view each stored start view number stands for; other numbers leave the current view as it is.
const QStringList kStartViews = {QString(),
                                 QStringLiteral("Today"),
                                 QStringLiteral("Tomorrow"),
                                 QStringLiteral("ThisWeek"),
                                 QStringLiteral("NextWeek"),
                                 QStringLiteral("ThisMonth"),
                                 QStringLiteral("NextMonth")};

constexpr int kMinimumColumnPixels = 18;
// Appointments' subjects need room for a word or two.
constexpr int kMinimumDetailPixels = 48;

// A weekday header of the member view that does not fit its column gives way to the day's short name, then
// to its initial, rather than being cut.
QString shortDayName(int row, const QString& text, const QFontMetrics& metrics, int width)
{
    if (row != 2)
        return text;
    const QLocale locale;
    for (int day = 1; day <= 7; ++day) {
        if (text == locale.dayName(day, QLocale::LongFormat)) {
            const QString shortName = locale.dayName(day, QLocale::ShortFormat);
            return metrics.horizontalAdvance(shortName) <= width ? shortName : shortName.left(1).toUpper();
        }
    }
    return text;
}

QLabel* taggedLabel(int tag, QWidget* parent)
{
    auto* label = new QLabel(parent);
    Captions::setTag(label, tag);
    return label;
}

} // namespace

// Marks the window busy with a query or the team listing while it lives; what waited runs when the
// outermost one ends.
class MainWindow::WorkScope {
public:
    explicit WorkScope(MainWindow& window) : m_window(window), m_outer(!window.m_working)
    {
        window.m_working = true;
    }
    ~WorkScope()
    {
        if (!m_outer)
            return;
        m_window.m_working = false;
        m_window.runWaiting();
    }
    WorkScope(const WorkScope&) = delete;
    WorkScope& operator=(const WorkScope&) = delete;

private:
    MainWindow& m_window;
    const bool m_outer;
};

MainWindow::MainWindow(ProgramState& program, EngineState& engine, PlanningMatrix& matrix,
                       SettingsStore& settings, const LanguageTexts& texts, Mailbox& mailbox, QWidget* parent)
    : QMainWindow(parent), m_program(program), m_engine(engine), m_matrix(matrix), m_settings(settings),
      m_texts(texts), m_mailbox(&mailbox), m_queryMemory(std::make_unique<QueryMemory>())
{
    m_messageHandler = [this](MessageIcon icon, const QString& text) {
        // An unattended run never waits for a person: its messages go to standard error.
        if (m_program.automaticMode) {
            std::fprintf(stderr, "rotavine: %s\n", qPrintable(text));
            return;
        }
        MessageBoxes::show(this, icon, text);
    };
    m_dialogRunner = [](QDialog& dialog) { return dialog.exec(); };
    m_commands = std::make_unique<ViewCommands>(m_engine, m_texts, commandWindow());
    // What the desktop cannot open is said in the status bar once it knows; the window goes on meanwhile.
    // A handler set before (the tests') stays.
    if (!m_mailbox->hasDisplayHandler()) {
        auto* opener = new DesktopOpener(this);
        connect(opener, &DesktopOpener::failed, this, [this](const QString& description) {
            setStatusText(1, m_texts.message(Message::DesktopCannotOpen) + description);
        });
        m_mailbox->setDisplayHandler([opener](const DisplayRequest& request) { opener->open(request); });
        m_ownsDisplayHandler = true;
    }
    buildWidgets();
    load();
    if (!m_program.automaticMode) {
        m_tray = new TrayIcon(m_texts, appIcon(), m_captionStrip->strip().caption.trimmed(), this);
        connect(m_tray, &TrayIcon::chosen, this, &MainWindow::trayChosen);
        m_tray->show();
    }
}

MainWindow::~MainWindow()
{
    if (m_ownsDisplayHandler)
        m_mailbox->setDisplayHandler({});
    setBusy(false);
}

// ---- widgets

void MainWindow::buildWidgets()
{
    setObjectName(QStringLiteral("mainWindow"));
    Captions::setTag(this, ScreenText::MainWindowCaption);
    buildToolbar();

    auto* central = new QWidget(this);
    auto* outer = new QHBoxLayout(central);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    // The gradient strip along the left edge, repainted whenever its height changes.
    m_captionStrip =
        new CaptionStripLabel(QStringLiteral("    - Rotavine ") + QStringLiteral(ROTAVINE_VERSION), central);
    outer->addWidget(m_captionStrip);
    auto* layout = new QVBoxLayout;
    layout->setContentsMargins(4, 4, 4, 0);
    outer->addLayout(layout, 1);
    m_upperPanel = buildUpperPanel();
    layout->addWidget(m_upperPanel);

    auto* commandRow = new QHBoxLayout;
    m_cancelButton = new QPushButton(central);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    Captions::setTag(m_cancelButton, ScreenText::CancelQuery);
    connect(m_cancelButton, &QPushButton::clicked, this, [this] { m_commands->cancel(); });
    commandRow->addWidget(m_cancelButton);
    // Default sizes, and the four zoom pictures: columns narrower and wider, rows taller and shorter.
    auto sizeButton = [&](const char* name, int tag, QStyle::StandardPixmap icon,
                          std::function<void()> action) {
        auto* button = new QToolButton(central);
        button->setObjectName(QLatin1StringView(name));
        button->setIcon(style()->standardIcon(icon));
        button->setAutoRaise(true);
        Captions::setTag(button, tag);
        connect(button, &QToolButton::clicked, this, std::move(action));
        commandRow->addWidget(button);
    };
    sizeButton("restoreSizes", ScreenText::RestoreWidth, QStyle::SP_BrowserReload, [this] {
        GridLayout::restoreDefaultSizes(m_grid);
        fitColumns();
    });
    auto whenShown = [this](std::function<void()> zoom) {
        return [this, zoom] {
            if (!m_commands->currentView.isEmpty())
                zoom();
        };
    };
    sizeButton("columnsNarrower", ScreenText::ColumnsNarrower, QStyle::SP_ArrowLeft,
               whenShown([this] { GridLayout::zoomColumns(m_grid, false); }));
    sizeButton("columnsWider", ScreenText::ColumnsWider, QStyle::SP_ArrowRight,
               whenShown([this] { GridLayout::zoomColumns(m_grid, true); }));
    sizeButton("rowsTaller", ScreenText::RowsTaller, QStyle::SP_ArrowDown,
               whenShown([this] { GridLayout::zoomRows(m_grid, true); }));
    sizeButton("rowsShorter", ScreenText::RowsShorter, QStyle::SP_ArrowUp,
               whenShown([this] { GridLayout::zoomRows(m_grid, false); }));
    commandRow->addStretch(1);
    layout->addLayout(commandRow);

    m_gridView = new PlanningGridView(m_grid, central);
    m_gridView->setObjectName(QStringLiteral("planningGrid"));
    m_gridView->setShortener([this](int row, int, const QString& text, const QFontMetrics& metrics,
                                    int width) { return shortDayName(row, text, metrics, width); });
    Captions::setTag(m_gridView, ScreenText::PlanningGrid);
    // The grid's own resizes (window resize, compact layout) stretch the day columns.
    m_gridView->viewport()->installEventFilter(this);
    connect(m_gridView, &PlanningGridView::cellHovered, this, &MainWindow::cellHovered);
    connect(m_gridView, &PlanningGridView::cellDoubleClicked, this, &MainWindow::cellDoubleClicked);
    connect(m_gridView, &PlanningGridView::cellContextMenuRequested, this, &MainWindow::cellContextMenu);
    connect(m_gridView, &PlanningGridView::escapePressed, this, [this] {
        if (m_detailPanel->isVisible())
            detailActionTriggered(DetailPanel::Close);
    });
    layout->addWidget(m_gridView, 1);
    m_legend = new RuleLegend(central);
    m_legend->setObjectName(QStringLiteral("ruleLegend"));
    connect(m_legend, &RuleLegend::toggled, this, [this](int row) { legendToggled(row); });
    layout->addWidget(m_legend);
    setCentralWidget(central);
    // Over everything else of the window, where the pointer or the double click puts it.
    m_detailPanel = new DetailPanel(this);
    connect(m_detailPanel, &DetailPanel::actionTriggered, this, &MainWindow::detailActionTriggered);

    QStatusBar* status = statusBar();
    status->setObjectName(QStringLiteral("statusBar"));
    for (int panel = 0; panel < int(m_statusPanels.size()); ++panel) {
        m_statusPanels[panel] = new QLabel(status);
        m_statusPanels[panel]->setObjectName(QLatin1StringView(kStatusPanelNames[panel]));
        status->addWidget(m_statusPanels[panel], panel == 0 ? 1 : 0);
    }
    Captions::setTag(m_statusPanels[0], ScreenText::StatusBarState);
    Captions::setTag(m_statusPanels[2], ScreenText::StatusBarRunTime);
    // While the calendars come from the local copy of a server that cannot be reached, the planning may be
    // out of date: said where it cannot be missed.
    m_offlineNote = new QLabel(status);
    m_offlineNote->setObjectName(QStringLiteral("offlineNote"));
    m_offlineNote->setStyleSheet(
        QStringLiteral("QLabel { color: white; background: #b3261e; font-weight: bold; padding: 0 6px; }"));
    m_offlineNote->hide();
    status->addPermanentWidget(m_offlineNote);

    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setObjectName(QStringLiteral("refreshTimer"));
    m_refreshTimer->setInterval(kRefreshIntervalMs);
    connect(m_refreshTimer, &QTimer::timeout, this, [this] {
        whenIdle(QStringLiteral("timer"), [this] { m_commands->timerTick(m_program.refreshDelay); });
    });

    m_teamsAdaptor = std::make_unique<ComboBoxTeamList>(*m_teamCombo);
    m_membersAdaptor = std::make_unique<ListWidgetMemberList>(*m_memberList);
    m_teamWindow = std::make_unique<TeamWindow>(TeamWindow{*m_teamsAdaptor, *m_membersAdaptor});
    resize(1100, 720);
}

QWidget* MainWindow::buildUpperPanel()
{
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("upperPanel"));
    auto* layout = new QHBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* team = new QVBoxLayout;
    team->addWidget(taggedLabel(ScreenText::TeamLabel, panel));
    m_teamCombo = new QComboBox(panel);
    m_teamCombo->setObjectName(QStringLiteral("teamCombo"));
    Captions::setTag(m_teamCombo, ScreenText::TeamList);
    connect(m_teamCombo, &QComboBox::activated, this,
            [this] { whenIdle(QStringLiteral("team"), [this] { teamActivated(); }); });
    team->addWidget(m_teamCombo);
    team->addWidget(taggedLabel(ScreenText::MembersLabel, panel));
    m_memberList = new QListWidget(panel);
    m_memberList->setObjectName(QStringLiteral("memberList"));
    Captions::setTag(m_memberList, ScreenText::MemberList);
    m_memberList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_memberList, &QListWidget::customContextMenuRequested, this, &MainWindow::memberContextMenu);
    // Double click or Enter: the team's members, to change them (a member's own calendar and mail are on the
    // list's menu).
    connect(m_memberList, &QListWidget::itemActivated, this,
            [this] { whenIdle(QStringLiteral("member"), [this] { editCurrentTeam(); }); });
    team->addWidget(m_memberList, 1);
    layout->addLayout(team, 2);

    auto* filters = new QVBoxLayout;
    filters->addWidget(taggedLabel(ScreenText::FiltersLabel, panel));
    m_filterList = new QListWidget(panel);
    m_filterList->setObjectName(QStringLiteral("filterList"));
    m_filterList->setSelectionMode(QAbstractItemView::MultiSelection);
    Captions::setTag(m_filterList, ScreenText::FilterList);
    connect(m_filterList, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        const int row = m_filterList->row(item);
        updateLegend();
        whenIdle(QStringLiteral("filter%1").arg(row), [this, row] { filterClicked(row); });
    });
    filters->addWidget(m_filterList, 1);
    layout->addLayout(filters, 2);

    auto* options = new QGridLayout;
    for (int index = 0; index < 2; ++index) {
        auto* picker = new QDateEdit(panel);
        picker->setObjectName(index == 0 ? QStringLiteral("fromDate") : QStringLiteral("toDate"));
        picker->setCalendarPopup(true);
        Captions::setTag(picker, index == 0 ? ScreenText::DateFrom : ScreenText::DateTo);
        picker->setDisplayFormat(DateText::shortDateFormat());
        connect(picker, &QDateEdit::dateChanged, this, [this, index] {
            if (!m_settingPickers)
                whenIdle(QStringLiteral("picker%1").arg(index), [this, index] { pickerChanged(index); });
        });
        m_datePickers[index] = picker;
    }
    auto* rangeLabel = taggedLabel(ScreenText::DateRangeLabel, panel);
    rangeLabel->setAlignment(Qt::AlignCenter);
    options->addWidget(m_datePickers[0], 0, 0);
    options->addWidget(rangeLabel, 0, 1);
    options->addWidget(m_datePickers[1], 0, 2);
    for (int index = 0; index < kFlagCount; ++index) {
        auto* box = new QCheckBox(panel);
        box->setObjectName(QLatin1StringView(kDisplayCheckNames[index]));
        box->setProperty("index", index);
        Captions::setTag(box, ScreenText::FlagShowDetails + index);
        connect(box, &QCheckBox::clicked, this, [this, index] {
            whenIdle(QStringLiteral("display%1").arg(index), [this, index] { displayCheckClicked(index); });
        });
        m_displayChecks[index] = box;
        options->addWidget(box, 1 + index / 2, index % 2 == 0 ? 0 : 2);
    }
    options->setRowStretch(4, 1);
    layout->addLayout(options, 3);

    m_versionLabel = new QLabel(panel);
    m_versionLabel->setObjectName(QStringLiteral("versionLabel"));
    m_versionLabel->setAlignment(Qt::AlignRight | Qt::AlignBottom);
    layout->addWidget(m_versionLabel);
    panel->setMaximumHeight(160);
    return panel;
}

QAction* MainWindow::addToolbarButton(const QString& key, int tag, bool checkable)
{
    auto* action = new QAction(this);
    action->setProperty(kKey, key);
    action->setCheckable(checkable);
    Captions::setTag(action, tag);
    const int position = int(m_buttons.size()) + 1;
    connect(action, &QAction::triggered, this, [this, position] {
        whenIdle(QStringLiteral("command"), [this, position] { m_commands->buttonClick(position); });
    });
    m_toolbar->addAction(action);
    m_buttons.append(action);
    return action;
}

void MainWindow::addMenuEntry(QAction* button, const QString& key, int tag)
{
    QMenu* menu = button->menu();
    if (!menu) {
        menu = new QMenu(this);
        button->setMenu(menu);
        if (auto* face = qobject_cast<QToolButton*>(m_toolbar->widgetForAction(button)))
            face->setPopupMode(QToolButton::MenuButtonPopup);
    }
    if (key.isEmpty()) {
        menu->addSeparator();
        return;
    }
    QAction* entry = menu->addAction(QString());
    entry->setProperty(kKey, key);
    Captions::setTag(entry, tag);
    const int position = int(m_buttons.indexOf(button)) + 1;
    connect(entry, &QAction::triggered, this, [this, position, entry] {
        const ViewCommands::MenuEntry chosen{entry->property(kKey).toString(), entry->text()};
        whenIdle(QStringLiteral("command"),
                 [this, position, chosen] { m_commands->menuClick(position, chosen); });
    });
}

void MainWindow::buildToolbar()
{
    m_toolbar = addToolBar(QString());
    m_toolbar->setObjectName(QStringLiteral("toolbar"));
    m_toolbar->setMovable(false);
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    using namespace ScreenText;

    QAction* daily = addToolbarButton(QStringLiteral("OneDay"), ToolbarDaily, false);
    addMenuEntry(daily, QStringLiteral("Today"), ToolbarDailyToday);
    addMenuEntry(daily, QStringLiteral("Tomorrow"), ToolbarDailyTomorrow);
    addMenuEntry(daily, QStringLiteral("ThisDay"), ToolbarDailyChosenDay);

    // Button 2 has no key until a period is chosen from its menu, so its face does nothing before.
    QAction* period = addToolbarButton(QString(), ToolbarPeriod, false);
    addMenuEntry(period, QStringLiteral("ThisWeek"), ToolbarPeriodThisWeek);
    addMenuEntry(period, QStringLiteral("NextWeek"), ToolbarPeriodNextWeek);
    addMenuEntry(period, QStringLiteral("ThisMonth"), ToolbarPeriodThisMonth);
    addMenuEntry(period, QStringLiteral("NextMonth"), ToolbarPeriodNextMonth);
    addMenuEntry(period, QString(), 0);
    addMenuEntry(period, QStringLiteral("Planning"), ToolbarPeriodDates);
    addMenuEntry(period, QStringLiteral("ColorPlanning"), ToolbarPeriodColour);

    addToolbarButton(QStringLiteral("Refresh"), ToolbarRefresh, false);
    addToolbarButton(QStringLiteral("MaxMin"), ToolbarMaxMin, true);
    addToolbarButton(QStringLiteral("Copy"), ToolbarCopy, false);
    addToolbarButton(QStringLiteral("Loupe"), ToolbarLoupe, true);

    QAction* report = addToolbarButton(QStringLiteral("Inet"), ToolbarReport, false);
    addMenuEntry(report, QStringLiteral("ReportHTMLPlan"), ToolbarReportDetailed);
    addMenuEntry(report, QStringLiteral("ReportHTMLColor"), ToolbarReportColour);
    addMenuEntry(report, QString(), 0);
    addMenuEntry(report, QStringLiteral("ReportImage"), ToolbarReportImage);
    addMenuEntry(report, QString(), 0);
    addMenuEntry(report, QStringLiteral("Print"), PrintMenu);
    addMenuEntry(report, QStringLiteral("SavePdf"), SavePdfMenu);

    QAction* tools = addToolbarButton(QStringLiteral("Tools"), ToolbarTools, false);
    addMenuEntry(tools, QStringLiteral("MaintainGroups"), ToolbarToolsGroups);
    addMenuEntry(tools, QStringLiteral("MaintainFilters"), ToolbarToolsFilters);
    addMenuEntry(tools, QString(), 0);
    addMenuEntry(tools, QStringLiteral("Options"), ToolbarToolsOptions);
}

// The commands work on a model of the toolbar; it takes the buttons' keys and their texts in the language
// in use.
void MainWindow::loadToolbarModel()
{
    QList<ViewCommands::Button>& model = m_commands->buttons();
    model.clear();
    for (const QAction* action : std::as_const(m_buttons)) {
        ViewCommands::Button button{action->property(kKey).toString(), action->text(), action->toolTip(), {}};
        if (const QMenu* menu = action->menu()) {
            for (const QAction* entry : menu->actions()) {
                if (!entry->isSeparator())
                    button.menu.append({entry->property(kKey).toString(), entry->text()});
            }
        }
        model.append(button);
    }
}

void MainWindow::buttonChanged(int position)
{
    if (position < 1 || position > m_buttons.size())
        return;
    const ViewCommands::Button& button = m_commands->buttons().at(position - 1);
    QAction* action = m_buttons.at(position - 1);
    action->setText(button.caption);
    // A tool button shows the action's icon text, which drops a trailing "..." unless it is set itself.
    action->setIconText(button.caption);
    action->setToolTip(button.tooltip);
    action->setProperty(kKey, button.key);
}

// A drop-down button's face takes the name of the view last chosen from it; each button is made as wide as
// its widest face at once, so that the buttons after it do not move under the pointer.
void MainWindow::keepToolbarButtonWidths()
{
    for (QAction* action : std::as_const(m_buttons)) {
        auto* face = qobject_cast<QToolButton*>(m_toolbar->widgetForAction(action));
        if (!face || !action->menu())
            continue;
        const QFontMetrics metrics = face->fontMetrics();
        const int chrome = face->sizeHint().width() - metrics.horizontalAdvance(face->text());
        int widest = metrics.horizontalAdvance(face->text());
        for (const QAction* entry : action->menu()->actions()) {
            if (!entry->isSeparator())
                widest = std::max(widest,
                                  metrics.horizontalAdvance(entry->text().left(9) + QStringLiteral("...")));
        }
        face->setMinimumWidth(chrome + widest);
    }
}

ViewCommands::Window MainWindow::commandWindow()
{
    ViewCommands::Window window;
    window.pickers = [this] { return Periods::Range{m_datePickers[0]->date(), m_datePickers[1]->date()}; };
    window.setPickers = [this](const Periods::Range& range) { setPickers(range); };
    window.dayView = [this](const QDate& day) { runDayView(day); };
    window.memberQuery = [this](const QDate& from, const QDate& to, bool colourMode) {
        runMemberQuery(from, to, colourMode);
    };
    window.buttonPressed = [this](int position) {
        return position >= 1 && position <= m_buttons.size() && m_buttons.at(position - 1)->isChecked();
    };
    window.detailLayout = [this](bool pressed) { m_upperPanel->setVisible(!pressed); };
    window.copyPicture = [this] { copyPicture(); };
    window.loupe = [this](bool on) { setLoupeMode(on); };
    window.report = [this](bool colourOnly, bool asTable) { writeReport(colourOnly, asTable); };
    window.dialog = [this](const QString& key) { openTool(key); };
    window.message = [this](MessageIcon icon, const QString& text) { showMessage(icon, text); };
    window.fatal = [this](const QString& text) {
        showMessage(MessageIcon::Critical, text);
        m_viewKeywordFailed = true;
        if (!m_program.automaticMode)
            QCoreApplication::exit(1);
    };
    window.showRunTime = [this] {
        setStatusText(3, ViewCommands::runTimeText(m_texts, QDateTime::currentDateTime()));
        showOfflineNote();
    };
    window.applyDisplayFlags = [this] { applyDisplayFlags(); };
    window.buttonChanged = [this](int position) { buttonChanged(position); };
    return window;
}

void MainWindow::showOfflineNote()
{
    const std::optional<QDateTime> since = m_mailbox->offlineSince();
    if (since)
        m_offlineNote->setText(m_texts.message(Message::OfflineSince) + u' ' +
                               QLocale().toString(since->toLocalTime(), QLocale::ShortFormat));
    m_offlineNote->setVisible(since.has_value());
}

// ---- load, activation, close

void MainWindow::load()
{
    Captions::applyCaptions(this, m_texts);
    Captions::applyToolbarCaptions(m_toolbar, m_texts);
    loadToolbarModel();
    keepToolbarButtonWidths();
    m_versionLabel->setText(QStringLiteral(ROTAVINE_VERSION));

    const std::array<bool, kDisplayFlagCount> checked = loadWindowSettings(m_settings, m_program, m_engine);
    for (int index = 0; index < kFlagCount; ++index)
        m_displayChecks[index]->setChecked(checked[index]);
    followRefreshDelay(m_program.refreshDelay);
    applyDisplayFlags();
    if (!m_program.automaticMode)
        setPickers(Periods::thisWeek(QDate::currentDate()));
}

void MainWindow::activate()
{
    whenIdle(QStringLiteral("activate"), [this] {
        const WorkScope working(*this);
        if (m_program.activated) {
            if (m_program.teamsChanged)
                reloadTeams(m_teamCombo->currentText());
            reloadChangedFilters();
            return;
        }
        loadLists(m_settings.read(QStringLiteral("Parameters"), QStringLiteral("SelectedTeam"), {}));
        setPickers(Periods::thisWeek(QDate::currentDate()));
        runView(m_program.startAction < kStartViews.size() ? kStartViews.at(m_program.startAction)
                                                           : m_commands->currentView);
    });
}

void MainWindow::whenIdle(const QString& key, std::function<void()> action)
{
    if (!m_working) {
        action();
        return;
    }
    for (auto& [waitingKey, waiting] : m_waiting) {
        if (waitingKey == key) {
            waiting = std::move(action);
            return;
        }
    }
    m_waiting.append({key, std::move(action)});
}

void MainWindow::runWaiting()
{
    while (!m_working && !m_waiting.isEmpty())
        m_waiting.takeFirst().second();
}

void MainWindow::loadLists(const QString& startTeam)
{
    reloadTeams(startTeam);
    reloadChangedFilters();
}

void MainWindow::reloadChangedFilters()
{
    if (!m_program.filtersChanged)
        return;
    reloadFilters();
    m_program.filtersChanged = false;
}

QString MainWindow::currentTeam() const
{
    return m_teamCombo->currentText();
}

bool MainWindow::hasTeam(const QString& name) const
{
    return m_teamCombo->findText(name, Qt::MatchFixedString | Qt::MatchCaseSensitive) >= 0;
}

void MainWindow::choosePeriod(const QDate& from, const QDate& to)
{
    setPickers({from, to});
    pickerChanged(0);
    pickerChanged(1);
}

bool MainWindow::runView(const QString& view)
{
    m_commands->currentView = view;
    // Marked before the view runs: the query lets events in, and an activation arriving from there must be
    // a later one, not a second first one.
    m_program.activated = true;
    m_viewKeywordFailed = false;
    m_commands->rerunCurrentView();
    return !m_viewKeywordFailed;
}

// ---- reports

QString MainWindow::planningPictureName(PictureFormat format)
{
    const QString name = pictureFileName(format);
    savePlanningPicture(m_gridView->painter(), m_program.tempFolder + name, format);
    return name;
}

const GridPainter& MainWindow::gridPainter() const
{
    return m_gridView->painter();
}

PagedPlanning::Texts MainWindow::pageTexts() const
{
    PagedPlanning::Texts pages;
    pages.team = m_teamCombo->currentText();
    pages.period = m_texts.message(Message::ReportPeriodFrom) +
                   DateText::generalDate(m_datePickers[0]->date().startOfDay()) +
                   m_texts.message(Message::ReportPeriodTo) +
                   DateText::generalDate(m_datePickers[1]->date().startOfDay());
    pages.pageOf = pageOfText(m_texts);
    if (!m_engine.useFilters)
        return pages;
    pages.legendTitle = m_texts.message(Message::LegendTitle);
    for (const RuleLegend::Entry& entry : m_legend->entries()) {
        if (entry.selected)
            pages.legend.append({entry.name, entry.colour});
    }
    return pages;
}

QString MainWindow::writeReportPage(bool colourOnly, bool asTable, PictureFormat format)
{
    const HtmlReportInput input{m_matrix,
                                m_grid,
                                m_rules,
                                m_engine.useFilters,
                                m_texts,
                                m_teamCombo->currentText(),
                                m_datePickers[0]->date().startOfDay(),
                                m_datePickers[1]->date().startOfDay(),
                                m_statusPanels[2]->text(),
                                m_program.reportColumnWidth,
                                HtmlReport::templateFolder(),
                                m_program.tempFolder,
                                [this, format] { return planningPictureName(format); }};
    setBusy(true);
    try {
        const QString page = ::writeHtmlReport(input, colourOnly, asTable);
        setBusy(false);
        return page;
    }
    catch (...) {
        setBusy(false);
        throw;
    }
}

void MainWindow::writeReport(bool colourOnly, bool asTable)
{
    QString page;
    try {
        page = writeReportPage(colourOnly, asTable);
    }
    catch (const JpegError& error) {
        showMessage(MessageIcon::Critical, error.description() + QStringLiteral(": ") + error.detail());
        return;
    }
    catch (const ReportError& error) {
        showMessage(MessageIcon::Critical, m_texts.message(Message::ReportFailed) + error.description());
        return;
    }
    DisplayRequest request;
    request.url = QUrl::fromLocalFile(page);
    try {
        m_mailbox->display(request);
    }
    catch (const MailboxError& error) {
        // The page is written; the user can still open it by hand.
        const QString where = m_texts.message(Message::ReportNotOpened) + QDir::toNativeSeparators(page);
        setStatusText(1, where);
        showMessage(MessageIcon::Exclamation, where + u'\n' + error.description());
    }
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // Queued, so that the first activation, which runs queries that let events in, starts once the window
    // is on screen rather than in the middle of showing it.
    if (!m_activationQueued) {
        m_activationQueued = true;
        QTimer::singleShot(0, this, [this] {
            m_activationQueued = false;
            activate();
        });
    }
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // Minimised, the window lives on as the tray icon; with no icon to bring it back from, it stays in the
    // task bar, where hiding it would lose it.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && m_tray && m_tray->isShown())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                hide();
        });
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && m_program.activated)
        activate();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    for (int index = 0; index < kFlagCount; ++index) {
        m_settings.write(QStringLiteral("Parameters"), QStringLiteral("Checked%1").arg(index),
                         m_displayChecks[index]->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    }
    if (m_tray)
        m_tray->hide();
    event->accept();
}

// ---- handlers

void MainWindow::applyDisplayFlags()
{
    for (int index = 0; index < kFlagCount; ++index)
        displayCheckClicked(index);
}

void MainWindow::displayCheckClicked(int index)
{
    const bool ticked = m_displayChecks[index]->isChecked();
    switch (index) {
    case 0:
        m_engine.showDetails = ticked;
        break;
    case 1:
        m_engine.hidePrivate = ticked;
        break;
    case 2:
        if (!ticked) {
            m_displayChecks[3]->setChecked(false);
            m_engine.filteredOnly = false;
        }
        m_engine.useFilters = ticked;
        updateLegend();
        break;
    case 3:
        // Only filtered appointments makes sense only while the filters apply.
        if (ticked && !m_displayChecks[2]->isChecked()) {
            m_displayChecks[3]->setChecked(false);
            setStatusText(1, m_texts.message(Message::FilteredOnlyNeedsFilters) + m_displayChecks[2]->text());
        }
        m_engine.filteredOnly = m_displayChecks[3]->isChecked();
        break;
    case 4:
        m_engine.hideWeekends = ticked;
        m_engine.headersValid = false; // the day columns must be rebuilt
        break;
    case 5:
        m_engine.showTimes = ticked;
        break;
    default:
        break;
    }
}

void MainWindow::filterClicked(int row)
{
    const QListWidgetItem* item = m_filterList->item(row);
    if (!item)
        return;
    m_engine.headersValid = false;
    m_settings.write(item->text(), QStringLiteral("Selected"),
                     item->isSelected() ? QStringLiteral("1") : QStringLiteral("0"));
}

void MainWindow::reloadFilters()
{
    m_filterList->clear();
    for (const FilterListEntry& entry : loadFilterList(m_settings)) {
        auto* item = new QListWidgetItem(entry.name, m_filterList);
        item->setSelected(entry.selected);
    }
    updateLegend();
}

void MainWindow::updateLegend()
{
    QList<RuleLegend::Entry> entries;
    for (int row = 0; row < m_filterList->count(); ++row) {
        const QListWidgetItem* item = m_filterList->item(row);
        const qint64 colour =
            m_settings.read(item->text(), QStringLiteral("Color"), QStringLiteral("0")).toLongLong();
        entries.append(
            {item->text(), GridPainter::fromOleColour(resolveOleColour(colour)), item->isSelected()});
    }
    m_legend->setEntries(m_texts.message(Message::LegendTitle), entries, m_engine.useFilters);
}

void MainWindow::legendToggled(int row)
{
    QListWidgetItem* item = m_filterList->item(row);
    if (!item)
        return;
    item->setSelected(!item->isSelected());
    updateLegend();
    whenIdle(QStringLiteral("filter%1").arg(row), [this, row] { filterClicked(row); });
}

void MainWindow::teamActivated()
{
    const WorkScope working(*this);
    selectTeam(*m_teamWindow, teamContext(), m_settings);
}

void MainWindow::setPickers(const Periods::Range& range)
{
    m_settingPickers = true;
    m_datePickers[0]->setDate(range.from);
    m_datePickers[1]->setDate(range.to);
    m_settingPickers = false;
    m_engine.startDate = m_datePickers[0]->date();
    m_engine.endDate = m_datePickers[1]->date();
}

void MainWindow::pickerChanged(int index)
{
    m_engine.headersValid = false;
    setPickers(Periods::pickerChanged({m_datePickers[0]->date(), m_datePickers[1]->date()}, index));
}

void MainWindow::setStatusText(int panel, const QString& text)
{
    if (panel >= 1 && panel <= int(m_statusPanels.size()))
        m_statusPanels[panel - 1]->setText(text);
}

void MainWindow::showMessage(MessageIcon icon, const QString& text)
{
    if (m_messageHandler)
        m_messageHandler(icon, text);
}

void MainWindow::setBusy(bool on)
{
    // The queries may say "not busy" more than once; the override cursor is a stack, so restore it once.
    if (on == m_busy)
        return;
    m_busy = on;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void MainWindow::copyPicture()
{
    if (m_commands->currentView.isEmpty()) {
        setStatusText(1, m_texts.message(Message::NothingToCopy));
        return;
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setImage(m_gridView->painter().renderAll());
    showMessage(MessageIcon::Information, m_texts.message(Message::PictureCopied));
}

int MainWindow::twips(int pixels) const
{
    return int(pixels * m_gridView->painter().twipsPerPixel() + 0.5);
}

void MainWindow::fitColumns()
{
    if (m_commands->currentView.isEmpty())
        return;
    const GridPainter& painter = m_gridView->painter();
    const GridLayout::FitArea area{m_gridView->viewport()->width(), painter.columnX(m_grid.fixedColumns()),
                                   painter.twipsPerPixel()};
    const int firstShown = std::max(m_gridView->firstScrollColumn(), m_grid.fixedColumns());
    m_columnsFitted = GridLayout::fitColumnsToWidth(
        m_grid, area, firstShown, m_columnsFitted, [this](int column) { return minimumColumnWidth(column); });
}

// The narrowest a column may be fitted, in twips: room for its day (member view, the weekday at least in
// its short form) or its member's name (day view), so that no header is cut.
int MainWindow::minimumColumnWidth(int column) const
{
    const GridPainter& painter = m_gridView->painter();
    int pixels = kMinimumColumnPixels;
    if (GridLayout::isDayView(m_grid)) {
        pixels = std::max(pixels, painter.textWidth(1, column, m_grid.text(1, column)));
    }
    else if (m_grid.fixedRows() == GridLayout::kMemberViewHeaderRows) {
        pixels = std::max(pixels, painter.textWidth(3, column, m_grid.text(3, column)));
        // The colour planning shows colours only, under one-letter days.
        if (m_commands->currentView != QLatin1StringView("ColorPlanning")) {
            const QString shortDay = QLocale().dayName(1, QLocale::ShortFormat);
            pixels = std::max(pixels, painter.textWidth(2, column, shortDay));
            if (m_engine.showDetails)
                pixels = std::max(pixels, kMinimumDetailPixels);
        }
    }
    return int(std::lround(pixels * painter.twipsPerPixel()));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (m_gridView && watched == m_gridView->viewport() && event->type() == QEvent::Resize)
        fitColumns();
    return QMainWindow::eventFilter(watched, event);
}

QStringList MainWindow::members() const
{
    // A member the team gives an address for is looked up by it ("Name <address>"), so that two people of
    // one name are told apart.
    QStringList names;
    for (int row = 0; row < m_memberList->count(); ++row) {
        const QListWidgetItem* item = m_memberList->item(row);
        const QString address = item->data(Qt::UserRole).toString();
        names.append(address.isEmpty() || address.compare(item->text(), Qt::CaseInsensitive) == 0
                         ? item->text()
                         : QStringLiteral("%1 <%2>").arg(item->text(), address));
    }
    return names;
}

QueryContext MainWindow::queryContext()
{
    QList<FilterListEntry> filters;
    for (int row = 0; row < m_filterList->count(); ++row)
        filters.append({m_filterList->item(row)->text(), m_filterList->item(row)->isSelected()});
    QueryContext context{m_engine,   m_program, m_matrix,   m_grid, m_texts,
                         *m_mailbox, m_rules,   m_settings, filters};
    context.yield = queryEventPump();
    context.showMessage = [this](MessageIcon icon, const QString& text) { showMessage(icon, text); };
    context.setBusy = [this](bool on) { setBusy(on); };
    context.layoutChanged = [this] { fitColumns(); };
    context.gridHeight = [this] { return twips(m_gridView->viewport()->height()); };
    context.memory = m_queryMemory.get();
    return context;
}

TeamContext MainWindow::teamContext()
{
    return TeamContext{*m_mailbox, m_engine, eventPump(), [this](bool on) { setBusy(on); },
                       [](const QString& line) { qWarning("%s", qPrintable(line)); }};
}

void MainWindow::runMemberQuery(const QDate& from, const QDate& to, bool colourMode)
{
    // The queries let events in while they run; what arrives meanwhile waits (whenIdle), and a query never
    // starts inside another.
    if (m_engine.queryRunning)
        return;
    const WorkScope working(*this);
    m_shownView = {m_commands->currentView, from, members()};
    m_lastOutcome = MemberQuery::run(queryContext(), from, to, members(), colourMode);
}

void MainWindow::runDayView(const QDate& day)
{
    if (m_engine.queryRunning)
        return;
    const WorkScope working(*this);
    m_shownView = {m_commands->currentView, day, members()};
    m_lastOutcome = DayView::run(queryContext(), day, members());
    // The members' names head the columns: they widen to show them whole.
    fitColumns();
}

// ---- detail panel and the actions on a member

QAction* MainWindow::loupeButton() const
{
    for (QAction* action : m_buttons)
        if (action->property(kKey).toString() == QLatin1StringView("Loupe"))
            return action;
    return nullptr;
}

void MainWindow::setLoupeMode(bool on)
{
    m_loupeMode = on;
    if (QAction* button = loupeButton())
        button->setChecked(on);
    if (!on)
        m_detailPanel->hide();
}

void MainWindow::cellHovered(int row, int column, const QPoint& position)
{
    if (m_loupeMode && !m_commands->currentView.isEmpty())
        showDetailPanel(row, column, m_gridView->viewport()->mapTo(this, position));
}

bool MainWindow::showDetailPanel(int row, int column, const QPoint& pointer)
{
    const std::optional<CellDetails> details =
        CellDetailsReader::read(m_grid, m_matrix, m_shownView, row, column);
    if (!details) {
        m_detailPanel->hide();
        return false;
    }
    m_selected = *details;
    m_detailPanel->showDetails(*details);
    const QRect gridArea(m_gridView->viewport()->mapTo(this, QPoint(0, 0)), m_gridView->viewport()->size());
    const int near = int(std::lround(300 / m_gridView->painter().twipsPerPixel()));
    const QWidget* status = statusBar();
    const int statusTop = status->isVisible() ? status->mapTo(this, QPoint(0, 0)).y() : height();
    m_detailPanel->move(
        DetailPanel::placement(gridArea, pointer, m_detailPanel->size(), statusTop, near, rect()));
    m_detailPanel->show();
    m_detailPanel->raise();
    return true;
}

void MainWindow::cellDoubleClicked(int row, int column)
{
    if (m_commands->currentView.isEmpty())
        return;
    if (m_loupeMode) {
        // The panel stays where hovering left it; the pointer no longer moves it.
        setLoupeMode(false);
        return;
    }
    // Pinned at the cell, where the keyboard can reach its buttons.
    const QRect cell = m_gridView->painter().cellRect(row, column, m_gridView->firstScrollColumn());
    if (showDetailPanel(row, column, m_gridView->viewport()->mapTo(this, cell.topLeft())))
        m_detailPanel->actionButton(DetailPanel::SendMail)->setFocus(Qt::OtherFocusReason);
}

void MainWindow::detailActionTriggered(int action)
{
    setLoupeMode(false);
    m_gridView->setFocus(Qt::OtherFocusReason);
    runMemberAction(action, m_selected);
}

void MainWindow::runMemberAction(int action, const CellDetails& cell)
{
    void (MainWindow::*run)(const CellDetails&) = nullptr;
    switch (action) {
    case DetailPanel::SendMail:
        run = &MainWindow::sendMailToMember;
        break;
    case DetailPanel::OpenCalendar:
        run = &MainWindow::openMemberCalendar;
        break;
    case DetailPanel::NewAppointment:
        run = &MainWindow::newAppointment;
        break;
    default:
        return;
    }
    whenIdle(QStringLiteral("member"), [this, run, cell] { (this->*run)(cell); });
}

int MainWindow::chooseMemberAction(QMenu& menu, const QList<int>& actions, const QPoint& globalPosition)
{
    // The entries are the panel's buttons, with their icons and texts.
    for (const int action : actions) {
        const QToolButton* button = m_detailPanel->actionButton(DetailPanel::Action(action));
        menu.addAction(button->icon(), button->toolTip())->setData(action);
    }
    const QAction* chosen = menu.exec(globalPosition);
    return chosen ? chosen->data().toInt() : -1;
}

void MainWindow::cellContextMenu(int row, int column, const QPoint& globalPosition)
{
    if (m_commands->currentView.isEmpty())
        return;
    const std::optional<CellDetails> details =
        CellDetailsReader::read(m_grid, m_matrix, m_shownView, row, column);
    if (!details)
        return;
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("cellMenu"));
    menu.setTitle(details->memberName);
    menu.addSection(details->memberName + QStringLiteral(" — ") + details->heading);
    const int action = chooseMemberAction(
        menu, {DetailPanel::SendMail, DetailPanel::OpenCalendar, DetailPanel::NewAppointment},
        globalPosition);
    if (action < 0)
        return;
    m_selected = *details;
    detailActionTriggered(action);
}

CellDetails MainWindow::memberListEntry(int row) const
{
    CellDetails member;
    if (const QListWidgetItem* item = m_memberList->item(row)) {
        member.memberName = item->text();
        member.member = members().value(row, item->text());
    }
    return member;
}

void MainWindow::memberContextMenu(const QPoint& position)
{
    const QListWidgetItem* item = m_memberList->itemAt(position);
    if (!item)
        return;
    const CellDetails member = memberListEntry(m_memberList->row(item));
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("memberMenu"));
    runMemberAction(chooseMemberAction(menu, {DetailPanel::SendMail, DetailPanel::OpenCalendar},
                                       m_memberList->viewport()->mapToGlobal(position)),
                    member);
}

void MainWindow::memberActionFailed(const CellDetails& cell, int status, const QString& description)
{
    if (status == MemberActions::Result::NotResolved) {
        showMessage(MessageIcon::None, m_texts.message(Message::CalendarUnreachable) + cell.memberName);
        return;
    }
    // The desktop had nothing to open it with: the window goes on, the status bar says why.
    setStatusText(1, m_texts.message(Message::DesktopCannotOpen) + description);
}

void MainWindow::sendMailToMember(const CellDetails& cell)
{
    const MemberActions::Result result =
        MemberActions::sendMail(*m_mailbox, m_texts, cell.member, QDateTime::currentDateTime());
    if (result.status != MemberActions::Result::Done)
        memberActionFailed(cell, result.status, result.description);
}

void MainWindow::openMemberCalendar(const CellDetails& cell)
{
    m_mailbox->setCalendarProgram(
        m_settings.read(QStringLiteral("Parameters"), QStringLiteral("CalendarProgram"), {}).trimmed());
    const MemberActions::Result result = MemberActions::openCalendar(*m_mailbox, cell.member);
    if (result.status != MemberActions::Result::Done)
        memberActionFailed(cell, result.status, result.description);
}

void MainWindow::newAppointment(const CellDetails& cell)
{
    AppointmentDialog dialog(m_texts, *m_mailbox, this);
    dialog.setMessageHandler([this](MessageIcon icon, const QString& text) { showMessage(icon, text); });
    dialog.setAppointmentFor(cell.member, members(), cell.date.isValid() ? cell.date : QDate::currentDate());
    // What was written shows at once.
    if (m_dialogRunner(dialog) == QDialog::Accepted && !m_commands->currentView.isEmpty())
        m_commands->rerunCurrentView();
}

// ---- tools

void MainWindow::reloadTeams(const QString& current)
{
    // Listed again whole: another window may have made, renamed or deleted a team.
    const WorkScope working(*this);
    const TeamContext context = teamContext();
    QString all;
    loadTeams(all, *m_teamWindow, context);
    QString chosen = current;
    m_program.teamsChanged = loadTeams(chosen, *m_teamWindow, context);
    if (chosen.isEmpty())
        m_memberList->clear(); // the team is gone
    showOfflineNote();         // the teams may come from the local copy of a server
}

void MainWindow::openTool(const QString& key)
{
    if (key == QLatin1StringView("Print") || key == QLatin1StringView("SavePdf")) {
        const PrintRequest request{m_gridView->painter(), m_texts, m_settings, pageTexts()};
        PrintDialogs dialogs;
        dialogs.run = [this](QDialog& dialog) { return m_dialogRunner(dialog); };
        dialogs.message = [this](MessageIcon icon, const QString& text) { showMessage(icon, text); };
        dialogs.pdfFileName = m_pdfFileName;
        if (key == QLatin1StringView("Print"))
            printPlanning(this, request, dialogs);
        else
            savePlanningPdf(this, request, dialogs);
        return;
    }
    if (key == QLatin1StringView("MaintainGroups")) {
        TeamDialog dialog(*m_mailbox, m_texts, m_engine, this);
        m_dialogRunner(dialog);
        if (dialog.changedTeams())
            reloadTeams(m_teamCombo->currentText());
    }
    else if (key == QLatin1StringView("Options")) {
        OptionsDialog dialog(m_settings, m_texts, m_program, m_engine, this);
        dialog.setMessageHandler([this](MessageIcon icon, const QString& text) { showMessage(icon, text); });
        connect(&dialog, &OptionsDialog::refreshDelayChanged, this, &MainWindow::followRefreshDelay);
        bool sourceChanged = false;
        connect(&dialog, &OptionsDialog::sourceChanged, this, [&sourceChanged] { sourceChanged = true; });
        m_dialogRunner(dialog);
        // The colour of appointments no rule colours shows at the next query.
        m_engine.headersValid = false;
        if (sourceChanged)
            reopenMailbox();
    }
    else if (key == QLatin1StringView("MaintainFilters")) {
        FilterDialog dialog(m_settings, m_texts, this);
        m_dialogRunner(dialog);
        if (dialog.rulesChanged()) {
            m_program.filtersChanged = true;
            m_engine.headersValid = false;
            reloadChangedFilters();
        }
    }
}

void MainWindow::editCurrentTeam()
{
    const QString team = m_teamCombo->currentText();
    if (team.isEmpty())
        return;
    TeamEditor editor(*m_mailbox, m_texts, team, this);
    m_dialogRunner(editor);
    if (editor.saved())
        reloadTeams(editor.teamName());
}

// ---- tray icon

void MainWindow::trayChosen(const QString& key)
{
    if (key == QLatin1StringView("show")) {
        // Back as it was before it was minimised, in front.
        setWindowState(windowState() & ~Qt::WindowMinimized);
        show();
        raise();
        activateWindow();
    }
    else if (key == QLatin1StringView("refresh")) {
        whenIdle(QStringLiteral("command"), [this] { m_commands->rerunCurrentView(); });
    }
    else if (key == QLatin1StringView("web")) {
        DisplayRequest request;
        request.url = QUrl::fromLocalFile(ProgramPaths::dataFolder() + QStringLiteral("/help/index.html"));
        try {
            m_mailbox->display(request);
        }
        catch (const MailboxError& error) {
            setStatusText(1, m_texts.message(Message::DesktopCannotOpen) + error.description());
        }
    }
    else if (key == QLatin1StringView("close")) {
        // A window hidden in the tray is not the last one to close: the program ends here.
        if (close())
            QCoreApplication::quit();
    }
}

// ---- calendar source

bool MainWindow::reopenMailbox()
{
    QString error;
    std::unique_ptr<Mailbox> fresh = m_mailboxOpener ? m_mailboxOpener(&error) : nullptr;
    if (!fresh) {
        showMessage(MessageIcon::Critical, error);
        return false;
    }
    fresh->setDisplayHandler(m_mailbox->displayHandler());
    if (m_ownsDisplayHandler)
        m_mailbox->setDisplayHandler({});
    // What the queries remember of the old source's calendars means nothing for the new one.
    m_queryMemory = std::make_unique<QueryMemory>();
    m_ownedMailbox = std::move(fresh);
    m_mailbox = m_ownedMailbox.get();
    setStatusText(1, QString()); // it may have named the source left
    m_engine.headersValid = false;
    reloadTeams(m_teamCombo->currentText());
    if (!m_commands->currentView.isEmpty())
        m_commands->rerunCurrentView();
    return true;
}

void MainWindow::followRefreshDelay(int minutes)
{
    if (minutes != 0)
        m_refreshTimer->start();
    else
        m_refreshTimer->stop();
}
