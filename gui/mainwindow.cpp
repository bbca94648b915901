#include "gui/mainwindow.h"

#include "base/languagetexts.h"
#include "base/programpaths.h"
#include "base/programstate.h"
#include "base/settingsstore.h"
#include "base/textids.h"
#include "gui/captions.h"
#include "gui/comboboxteamlist.h"
#include "gui/gridlayout.h"
#include "gui/listwidgetmemberlist.h"
#include "gui/planninggridview.h"
#include "gui/windowsettings.h"
#include "mailbox/mailbox.h"
#include "output/htmlreport.h"
#include "output/jpegwriter.h"
#include "output/planningpicture.h"
#include "planning/dayview.h"
#include "planning/enginestate.h"
#include "planning/filterlist.h"
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
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <cstdio>

namespace {

constexpr const char* kKey = "key";

// The view each stored start view number stands for; other numbers leave the current view as it is.
const QStringList kStartViews = {QString(),
                                 QStringLiteral("Today"),
                                 QStringLiteral("Tomorrow"),
                                 QStringLiteral("ThisWeek"),
                                 QStringLiteral("NextWeek"),
                                 QStringLiteral("ThisMonth"),
                                 QStringLiteral("NextMonth")};

QLabel* taggedLabel(int tag, QWidget* parent)
{
    auto* label = new QLabel(parent);
    Captions::setTag(label, tag);
    return label;
}

} // namespace

Form1::Form1(ProgramState& program, EngineState& engine, PlanningMatrix& matrix, SettingsStore& settings,
             const LanguageTexts& texts, Mailbox& mailbox, QWidget* parent)
    : QMainWindow(parent), m_program(program), m_engine(engine), m_matrix(matrix), m_settings(settings),
      m_texts(texts), m_mailbox(mailbox), m_queryMemory(std::make_unique<QueryMemory>())
{
    m_messageHandler = [this](MessageIcon icon, const QString& text) {
        // An unattended run never waits for a person: its messages go to standard error.
        if (m_program.AutomaticMode) {
            std::fprintf(stderr, "rotavine: %s\n", qPrintable(text));
            return;
        }
        static const QMessageBox::Icon icons[] = {QMessageBox::NoIcon, QMessageBox::Information,
                                                  QMessageBox::Warning, QMessageBox::Critical};
        QMessageBox box(icons[int(icon)], windowTitle(), text, QMessageBox::Ok, this);
        box.exec();
    };
    m_commands = std::make_unique<ViewCommands>(m_engine, m_texts, commandWindow());
    buildWidgets();
    load();
}

Form1::~Form1()
{
    setBusy(false);
}

// ---- widgets

void Form1::buildWidgets()
{
    setObjectName(QStringLiteral("Form1"));
    Captions::setTag(this, ScreenText::MainWindowCaption);
    buildToolbar();

    auto* central = new QWidget(this);
    auto* outer = new QHBoxLayout(central);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    // The gradient strip along the left edge, repainted whenever its height changes.
    m_picLogo = new QLabel(central);
    m_picLogo->setObjectName(QStringLiteral("picLogo"));
    m_picLogo->setFixedWidth(26);
    m_picLogo->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored);
    QFont logoFont(QStringLiteral("Arial"), 11, QFont::Bold);
    m_picLogo->setFont(logoFont);
    m_logo.setDessinerObjet(m_picLogo);
    m_logo.Caption = QStringLiteral("    - Rotavine ") + QStringLiteral(ROTAVINE_VERSION);
    m_picLogo->installEventFilter(this);
    outer->addWidget(m_picLogo);
    auto* layout = new QVBoxLayout;
    layout->setContentsMargins(4, 4, 4, 0);
    outer->addLayout(layout, 1);
    m_upperPanel = buildUpperPanel();
    layout->addWidget(m_upperPanel);

    auto* commandRow = new QHBoxLayout;
    m_annul = new QPushButton(central);
    m_annul->setObjectName(QStringLiteral("Annul"));
    Captions::setTag(m_annul, ScreenText::CancelQuery);
    connect(m_annul, &QPushButton::clicked, this, [this] { m_commands->cancel(); });
    commandRow->addWidget(m_annul);
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
    sizeButton("RestoreWidth", ScreenText::RestoreWidth, QStyle::SP_BrowserReload, [this] {
        GridLayout::RestoreDefaultSizes(m_grid);
        fitColumns();
    });
    auto whenShown = [this](std::function<void()> zoom) {
        return [this, zoom] {
            if (!m_commands->CurrentView.isEmpty())
                zoom();
        };
    };
    sizeButton("Picture2_0", ScreenText::ColumnsNarrower, QStyle::SP_ArrowLeft,
               whenShown([this] { GridLayout::ZoomColumns(m_grid, false); }));
    sizeButton("Picture2_1", ScreenText::ColumnsWider, QStyle::SP_ArrowRight,
               whenShown([this] { GridLayout::ZoomColumns(m_grid, true); }));
    sizeButton("Picture1_0", ScreenText::RowsTaller, QStyle::SP_ArrowDown,
               whenShown([this] { GridLayout::ZoomRows(m_grid, true); }));
    sizeButton("Picture1_1", ScreenText::RowsShorter, QStyle::SP_ArrowUp,
               whenShown([this] { GridLayout::ZoomRows(m_grid, false); }));
    commandRow->addStretch(1);
    layout->addLayout(commandRow);

    m_planning = new PlanningGridView(m_grid, central);
    m_planning->setObjectName(QStringLiteral("Planning"));
    Captions::setTag(m_planning, ScreenText::PlanningGrid);
    // The grid's own resizes (window resize, compact layout) stretch the day columns.
    m_planning->viewport()->installEventFilter(this);
    layout->addWidget(m_planning, 1);
    setCentralWidget(central);

    QStatusBar* status = statusBar();
    status->setObjectName(QStringLiteral("StatusBar1"));
    for (int panel = 0; panel < int(m_statusPanels.size()); ++panel) {
        m_statusPanels[panel] = new QLabel(status);
        m_statusPanels[panel]->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(panel + 1));
        status->addWidget(m_statusPanels[panel], panel == 0 ? 1 : 0);
    }
    Captions::setTag(m_statusPanels[0], ScreenText::StatusBarState);
    Captions::setTag(m_statusPanels[2], ScreenText::StatusBarRunTime);

    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setObjectName(QStringLiteral("RefreshTimer"));
    m_refreshTimer->setInterval(kRefreshIntervalMs);
    connect(m_refreshTimer, &QTimer::timeout, this,
            [this] { m_commands->timerTick(m_program.AutomaticDelay); });

    m_teamList = std::make_unique<ComboBoxTeamList>(*m_groupes);
    m_memberList = std::make_unique<ListWidgetMemberList>(*m_membres);
    m_teamWindow = std::make_unique<TeamWindow>(TeamWindow{*m_teamList, *m_memberList});
    resize(1100, 720);
}

QWidget* Form1::buildUpperPanel()
{
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("upperPanel"));
    auto* layout = new QHBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* team = new QVBoxLayout;
    team->addWidget(taggedLabel(ScreenText::TeamLabel, panel));
    m_groupes = new QComboBox(panel);
    m_groupes->setObjectName(QStringLiteral("groupes"));
    Captions::setTag(m_groupes, ScreenText::TeamList);
    connect(m_groupes, &QComboBox::activated, this, [this] { groupesActivated(); });
    team->addWidget(m_groupes);
    team->addWidget(taggedLabel(ScreenText::MembersLabel, panel));
    m_membres = new QListWidget(panel);
    m_membres->setObjectName(QStringLiteral("Membres"));
    Captions::setTag(m_membres, ScreenText::MemberList);
    team->addWidget(m_membres, 1);
    layout->addLayout(team, 2);

    auto* filters = new QVBoxLayout;
    filters->addWidget(taggedLabel(ScreenText::FiltersLabel, panel));
    m_filtres = new QListWidget(panel);
    m_filtres->setObjectName(QStringLiteral("Filtres"));
    m_filtres->setSelectionMode(QAbstractItemView::MultiSelection);
    Captions::setTag(m_filtres, ScreenText::FilterList);
    connect(m_filtres, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { filtresClick(m_filtres->row(item)); });
    filters->addWidget(m_filtres, 1);
    layout->addLayout(filters, 2);

    auto* options = new QGridLayout;
    for (int index = 0; index < 2; ++index) {
        auto* picker = new QDateEdit(panel);
        picker->setObjectName(QStringLiteral("DepuisAu%1").arg(index));
        picker->setCalendarPopup(true);
        Captions::setTag(picker, index == 0 ? ScreenText::DateFrom : ScreenText::DateTo);
        connect(picker, &QDateEdit::dateChanged, this, [this, index] {
            if (!m_settingPickers)
                pickerChanged(index);
        });
        m_depuisAu[index] = picker;
    }
    auto* rangeLabel = taggedLabel(ScreenText::DateRangeLabel, panel);
    rangeLabel->setAlignment(Qt::AlignCenter);
    options->addWidget(m_depuisAu[0], 0, 0);
    options->addWidget(rangeLabel, 0, 1);
    options->addWidget(m_depuisAu[1], 0, 2);
    for (int index = 0; index < kFlagCount; ++index) {
        auto* box = new QCheckBox(panel);
        box->setObjectName(QStringLiteral("FlagsCheck%1").arg(index));
        box->setProperty("index", index);
        Captions::setTag(box, ScreenText::FlagShowDetails + index);
        connect(box, &QCheckBox::clicked, this, [this, index] { flagsCheckClick(index); });
        m_flagsCheck[index] = box;
        options->addWidget(box, 1 + index / 2, index % 2 == 0 ? 0 : 2);
    }
    options->setRowStretch(4, 1);
    layout->addLayout(options, 3);

    m_version = new QLabel(panel);
    m_version->setObjectName(QStringLiteral("lblVersion"));
    m_version->setAlignment(Qt::AlignRight | Qt::AlignBottom);
    layout->addWidget(m_version);
    panel->setMaximumHeight(160);
    return panel;
}

QAction* Form1::addToolbarButton(const QString& key, int tag, bool checkable)
{
    auto* action = new QAction(this);
    action->setProperty(kKey, key);
    action->setCheckable(checkable);
    Captions::setTag(action, tag);
    const int position = int(m_buttons.size()) + 1;
    connect(action, &QAction::triggered, this, [this, position] { m_commands->buttonClick(position); });
    m_toolbar->addAction(action);
    m_buttons.append(action);
    return action;
}

void Form1::addMenuEntry(QAction* button, const QString& key, int tag)
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
        m_commands->menuClick(position, {entry->property(kKey).toString(), entry->text()});
    });
}

void Form1::buildToolbar()
{
    m_toolbar = addToolBar(QString());
    m_toolbar->setObjectName(QStringLiteral("Toolbar1"));
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

    QAction* tools = addToolbarButton(QStringLiteral("Tools"), ToolbarTools, false);
    addMenuEntry(tools, QStringLiteral("MaintainGroups"), ToolbarToolsGroups);
    addMenuEntry(tools, QStringLiteral("MaintainFilters"), ToolbarToolsFilters);
    addMenuEntry(tools, QString(), 0);
    addMenuEntry(tools, QStringLiteral("Options"), ToolbarToolsOptions);
}

// The commands work on a model of the toolbar; it takes the buttons' keys and their texts in the language
// in use.
void Form1::loadToolbarModel()
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

void Form1::buttonChanged(int position)
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

ViewCommands::Window Form1::commandWindow()
{
    ViewCommands::Window window;
    window.pickers = [this] { return Periods::Range{m_depuisAu[0]->date(), m_depuisAu[1]->date()}; };
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
    window.loupe = [](bool) {};
    window.report = [this](bool colourOnly, bool asTable) { WriteReport(colourOnly, asTable); };
    window.dialog = [](const QString&) {};
    window.message = [this](MessageIcon icon, const QString& text) { showMessage(icon, text); };
    window.fatal = [this](const QString& text) {
        showMessage(MessageIcon::Critical, text);
        if (m_program.AutomaticMode)
            finishAutomaticRun(ExitStatus::ViewKeywordError);
        else
            QCoreApplication::exit(1);
    };
    window.showRunTime = [this] {
        setStatusText(3, ViewCommands::runTimeText(m_texts, QDateTime::currentDateTime()));
    };
    window.checkOptions = [this] { CheckOptions(); };
    window.buttonChanged = [this](int position) { buttonChanged(position); };
    return window;
}

// ---- load, activation, close

void Form1::load()
{
    Captions::applyCaptions(this, m_texts);
    Captions::applyToolbarCaptions(m_toolbar, m_texts);
    loadToolbarModel();
    m_version->setText(QStringLiteral(ROTAVINE_VERSION));

    const std::array<bool, kDisplayFlagCount> checked = loadWindowSettings(m_settings, m_program, m_engine);
    for (int index = 0; index < kFlagCount; ++index)
        m_flagsCheck[index]->setChecked(checked[index]);
    if (m_program.AutomaticDelay != 0)
        m_refreshTimer->start();
    else
        m_refreshTimer->stop();
    CheckOptions();
    if (!m_program.AutomaticMode)
        setPickers(Periods::ThisWeek(QDate::currentDate()));
}

void Form1::activate()
{
    const bool first = !m_program.Activated;
    QString startTeam;
    if (first) {
        startTeam = m_program.AutomaticMode
                        ? m_program.CmdTeam
                        : m_settings.read(QStringLiteral("Parameters"), QStringLiteral("SelectedTeam"), {});
        const TeamContext context = teamContext();
        QString all;
        LoadGroups(all, *m_teamWindow, context);
        LoadGroups(startTeam, *m_teamWindow, context);
    }
    else if (m_program.GroupsChanged) {
        QString current = m_groupes->currentText();
        m_program.GroupsChanged = LoadGroups(current, *m_teamWindow, teamContext());
    }
    if (m_program.FiltersChanged) {
        reloadFilters();
        m_program.FiltersChanged = false;
    }
    if (!first)
        return;

    if (m_program.AutomaticMode) {
        if (!automaticRunAccepted())
            return;
        setPickers({m_program.CmdFromDate, m_program.CmdToDate});
        pickerChanged(0);
        pickerChanged(1);
        m_commands->CurrentView = m_program.CmdView;
    }
    else {
        setPickers(Periods::ThisWeek(QDate::currentDate()));
        if (m_program.AtRunAction < kStartViews.size())
            m_commands->CurrentView = kStartViews.at(m_program.AtRunAction);
    }
    // Marked before the view runs: the query lets events in, and an activation arriving from there must be
    // a later one, not a second first one.
    m_program.Activated = true;
    m_commands->RerunCurrentView();
    if (m_program.AutomaticMode && !m_automaticStatus)
        WriteReport(m_program.CmdReport == QLatin1StringView("ReportHTMLColor"),
                    m_program.CmdReport != QLatin1StringView("ReportImage"));
}

// ---- unattended run and reports

bool Form1::automaticRunAccepted()
{
    // The report keyword and the view are checked before the view runs, which may take a while, rather than
    // after it; the team is checked too, since a scheduler must hear of a wrong or empty team rather than
    // receive an empty page.
    const QString& report = m_program.CmdReport;
    if (report != QLatin1StringView("ReportHTMLPlan") && report != QLatin1StringView("ReportHTMLColor") &&
        report != QLatin1StringView("ReportImage")) {
        showMessage(MessageIcon::Critical, QStringLiteral("Report keyword error"));
        finishAutomaticRun(ExitStatus::ReportKeywordError);
        return false;
    }
    if (!Periods::reportAcceptsView(report, m_program.CmdView)) {
        showMessage(MessageIcon::Information, m_texts.message(Message::ReportViewRefused));
        finishAutomaticRun(ExitStatus::ViewRefused);
        return false;
    }
    if (m_groupes->findText(m_program.CmdTeam, Qt::MatchFixedString | Qt::MatchCaseSensitive) < 0) {
        showMessage(MessageIcon::Critical, QStringLiteral("Unknown team \"%1\"").arg(m_program.CmdTeam));
        finishAutomaticRun(ExitStatus::UnknownTeam);
        return false;
    }
    if (m_membres->count() == 0) {
        showMessage(MessageIcon::Critical,
                    QStringLiteral("The team \"%1\" has no members").arg(m_program.CmdTeam));
        finishAutomaticRun(ExitStatus::EmptyTeam);
        return false;
    }
    return true;
}

void Form1::finishAutomaticRun(ExitStatus status)
{
    if (!m_automaticStatus)
        m_automaticStatus = status;
}

QString Form1::PlanningPictureName()
{
    savePlanningPicture(m_planning->painter(), m_program.TempFolder + QStringLiteral("planning.jpg"));
    return QStringLiteral("planning.jpg");
}

void Form1::WriteReport(bool colourOnly, bool asTable)
{
    const HtmlReportInput input{m_matrix,
                                m_grid,
                                m_rules,
                                m_engine.UseFilters,
                                m_texts,
                                m_groupes->currentText(),
                                m_depuisAu[0]->date().startOfDay(),
                                m_depuisAu[1]->date().startOfDay(),
                                m_statusPanels[2]->text(),
                                m_program.HeightCol,
                                HtmlReport::templateFolder(),
                                m_program.TempFolder,
                                [this] { return PlanningPictureName(); }};
    setBusy(true);
    QString page;
    try {
        page = ::WriteHtmlReport(input, colourOnly, asTable);
        if (m_program.AutomaticMode)
            DeliverReport(m_program.TempFolder, m_program.CmdOutputFolder, m_program.CmdOutputFile,
                          input.templateFolder);
    }
    catch (const JpegError& error) {
        setBusy(false);
        showMessage(MessageIcon::Critical, error.description() + QStringLiteral(": ") + error.detail());
        finishAutomaticRun(ExitStatus::PictureFailed);
        return;
    }
    catch (const ReportError& error) {
        setBusy(false);
        showMessage(MessageIcon::Critical, m_texts.message(Message::ReportFailed) + error.description());
        finishAutomaticRun(page.isEmpty() ? ExitStatus::ReportFailed : ExitStatus::OutputNotWritable);
        return;
    }
    setBusy(false);
    if (m_program.AutomaticMode) {
        std::fprintf(stdout, "%s\n",
                     qPrintable(QDir(m_program.CmdOutputFolder).filePath(m_program.CmdOutputFile)));
        finishAutomaticRun(ExitStatus::Delivered);
        return;
    }
    DisplayRequest request;
    request.url = QUrl::fromLocalFile(page);
    m_mailbox.display(request);
}

void Form1::showEvent(QShowEvent* event)
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

void Form1::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && m_program.Activated)
        activate();
    // Minimised, the window lives on as the tray icon; without a tray it stays in the task bar.
    if (event->type() == QEvent::WindowStateChange && isMinimized() &&
        QSystemTrayIcon::isSystemTrayAvailable())
        hide();
}

void Form1::closeEvent(QCloseEvent* event)
{
    for (int index = 0; index < kFlagCount; ++index) {
        m_settings.write(QStringLiteral("Parameters"), QStringLiteral("Checked%1").arg(index),
                         m_flagsCheck[index]->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    }
    event->accept();
}

// ---- handlers

void Form1::CheckOptions()
{
    for (int index = 0; index < kFlagCount; ++index)
        flagsCheckClick(index);
}

void Form1::flagsCheckClick(int index)
{
    const bool ticked = m_flagsCheck[index]->isChecked();
    switch (index) {
    case 0:
        m_engine.ShowDetails = ticked;
        break;
    case 1:
        m_engine.HidePrivate = ticked;
        break;
    case 2:
        if (!ticked) {
            m_flagsCheck[3]->setChecked(false);
            m_engine.FilteredOnly = false;
        }
        m_engine.UseFilters = ticked;
        break;
    case 3:
        // Only filtered appointments makes sense only while the filters apply.
        if (ticked && !m_flagsCheck[2]->isChecked())
            m_flagsCheck[3]->setChecked(false);
        m_engine.FilteredOnly = m_flagsCheck[3]->isChecked();
        break;
    case 4:
        m_engine.HideWeekends = ticked;
        m_engine.HeadersValid = false; // the day columns must be rebuilt
        break;
    case 5:
        m_engine.ShowTimes = ticked;
        break;
    default:
        break;
    }
}

void Form1::filtresClick(int row)
{
    const QListWidgetItem* item = m_filtres->item(row);
    if (!item)
        return;
    m_engine.HeadersValid = false;
    m_settings.write(item->text(), QStringLiteral("Selected"),
                     item->isSelected() ? QStringLiteral("1") : QStringLiteral("0"));
}

void Form1::reloadFilters()
{
    m_filtres->clear();
    for (const FilterListEntry& entry : LoadFilterList(m_settings)) {
        auto* item = new QListWidgetItem(entry.name, m_filtres);
        item->setSelected(entry.selected);
    }
}

void Form1::groupesActivated()
{
    SelectTeam(*m_teamWindow, teamContext(), m_settings);
}

void Form1::setPickers(const Periods::Range& range)
{
    m_settingPickers = true;
    m_depuisAu[0]->setDate(range.from);
    m_depuisAu[1]->setDate(range.to);
    m_settingPickers = false;
    m_engine.StartDate = m_depuisAu[0]->date();
    m_engine.EndDate = m_depuisAu[1]->date();
}

void Form1::pickerChanged(int index)
{
    m_engine.HeadersValid = false;
    setPickers(Periods::pickerChanged({m_depuisAu[0]->date(), m_depuisAu[1]->date()}, index));
}

void Form1::setStatusText(int panel, const QString& text)
{
    if (panel >= 1 && panel <= int(m_statusPanels.size()))
        m_statusPanels[panel - 1]->setText(text);
}

void Form1::showMessage(MessageIcon icon, const QString& text)
{
    if (m_messageHandler)
        m_messageHandler(icon, text);
}

void Form1::setBusy(bool on)
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

void Form1::copyPicture()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setImage(m_planning->painter().renderAll());
    showMessage(MessageIcon::Information, m_texts.message(Message::PictureCopied));
}

int Form1::twips(int pixels) const
{
    return int(pixels * m_planning->painter().twipsPerPixel() + 0.5);
}

void Form1::fitColumns()
{
    if (m_commands->CurrentView.isEmpty())
        return;
    int fixedWidth = 0;
    for (int column = 0; column < m_grid.fixedColumns() && column < m_grid.columns(); ++column)
        fixedWidth += m_grid.columnWidth(column);
    const int firstShown = std::max(m_planning->firstScrollColumn(), m_grid.fixedColumns());
    m_columnsFitted = GridLayout::FitColumnsToWidth(m_grid, twips(m_planning->viewport()->width()),
                                                    fixedWidth, firstShown, m_columnsFitted);
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    if (m_planning && watched == m_planning->viewport() && event->type() == QEvent::Resize)
        fitColumns();
    if (watched == m_picLogo && event->type() == QEvent::Resize)
        m_logo.Dessine();
    return QMainWindow::eventFilter(watched, event);
}

QStringList Form1::members() const
{
    QStringList names;
    for (int row = 0; row < m_membres->count(); ++row)
        names.append(m_membres->item(row)->text());
    return names;
}

QueryContext Form1::queryContext()
{
    QList<FilterListEntry> filters;
    for (int row = 0; row < m_filtres->count(); ++row)
        filters.append({m_filtres->item(row)->text(), m_filtres->item(row)->isSelected()});
    QueryContext context{m_engine,  m_program, m_matrix,   m_grid, m_texts,
                         m_mailbox, m_rules,   m_settings, filters};
    context.yield = queryEventPump();
    context.showMessage = [this](MessageIcon icon, const QString& text) { showMessage(icon, text); };
    context.setBusy = [this](bool on) { setBusy(on); };
    context.layoutChanged = [this] { fitColumns(); };
    context.gridHeight = [this] { return twips(m_planning->viewport()->height()); };
    context.memory = m_queryMemory.get();
    return context;
}

TeamContext Form1::teamContext()
{
    return TeamContext{m_mailbox, m_engine, eventPump(), [this](bool on) { setBusy(on); },
                       [](const QString& line) { qWarning("%s", qPrintable(line)); }};
}

void Form1::runMemberQuery(const QDate& from, const QDate& to, bool colourMode)
{
    // The queries let events in while they run; a second query started from there (a click, the timer)
    // would write into the same grid, so it is not started.
    if (m_engine.QueryRunning)
        return;
    MemberQuery::QueryMemberCalendars(queryContext(), from, to, members(), colourMode);
}

void Form1::runDayView(const QDate& day)
{
    if (m_engine.QueryRunning)
        return;
    DayView::DayViewQuery(queryContext(), day, members());
}
