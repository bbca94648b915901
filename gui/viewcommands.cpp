#include "gui/viewcommands.h"

#include "base/datetext.h"
#include "base/languagetexts.h"
#include "base/textids.h"
#include "planning/enginestate.h"

#include <QLocale>

namespace {

const QStringList kDayViews = {QStringLiteral("Today"), QStringLiteral("Tomorrow"),
                               QStringLiteral("ThisDay")};
const QStringList kPeriodViews = {QStringLiteral("ThisWeek"),  QStringLiteral("NextWeek"),
                                  QStringLiteral("ThisMonth"), QStringLiteral("NextMonth"),
                                  QStringLiteral("Planning"),  QStringLiteral("ColorPlanning")};
// Faces of drop-down buttons, and button 2 before a period was chosen: clicking them does nothing.
const QStringList kInertKeys = {QStringLiteral("Inet"), QStringLiteral("Options"), QStringLiteral("OneDay"),
                                QStringLiteral("Tools"), QString()};
const auto kViewKeywordError = QStringLiteral("View Keyword error");

} // namespace

ViewCommands::ViewCommands(EngineState& engine, const LanguageTexts& texts, Window window)
    : m_engine(engine), m_texts(texts), m_window(std::move(window))
{
}

void ViewCommands::setPeriod(const Periods::Range& range)
{
    m_engine.startDate = range.from;
    m_engine.endDate = range.to;
    if (m_window.setPickers)
        m_window.setPickers(range);
}

bool ViewCommands::runView(const QString& key)
{
    const QDate today = m_window.today ? m_window.today() : QDate::currentDate();
    if (key == QLatin1StringView("Today")) {
        m_window.dayView(today);
    }
    else if (key == QLatin1StringView("Tomorrow")) {
        m_window.dayView(today.addDays(1));
    }
    else if (key == QLatin1StringView("ThisDay")) {
        m_window.dayView(m_engine.startDate);
    }
    else if (key == QLatin1StringView("Planning") || key == QLatin1StringView("ColorPlanning")) {
        const bool colour = key == QLatin1StringView("ColorPlanning");
        if (colour) {
            // The colour planning shows colours only, for every rule and every day, whatever the boxes say.
            m_engine.showDetails = false;
            m_engine.useFilters = true;
            m_engine.hideWeekends = false;
        }
        m_window.memberQuery(m_engine.startDate, m_engine.endDate, colour);
        if (colour && m_window.applyDisplayFlags)
            m_window.applyDisplayFlags();
    }
    else if (key == QLatin1StringView("ThisWeek")) {
        setPeriod(Periods::thisWeek(today));
        m_window.memberQuery(m_engine.startDate, m_engine.endDate, false);
    }
    else if (key == QLatin1StringView("NextWeek")) {
        setPeriod(Periods::nextWeek(today));
        m_window.memberQuery(m_engine.startDate, m_engine.endDate, false);
    }
    else if (key == QLatin1StringView("ThisMonth")) {
        setPeriod(Periods::thisMonth(today));
        m_window.memberQuery(m_engine.startDate, m_engine.endDate, false);
    }
    else if (key == QLatin1StringView("NextMonth")) {
        setPeriod(Periods::nextMonth(today));
        m_window.memberQuery(m_engine.startDate, m_engine.endDate, false);
    }
    else {
        return false;
    }
    return true;
}

void ViewCommands::buttonClick(int position)
{
    if (position < 1 || position > m_buttons.size())
        return;
    const QString key = m_buttons.at(position - 1).key;
    if (kDayViews.contains(key) || kPeriodViews.contains(key)) {
        if (lastButtonKey != key)
            m_engine.headersValid = false;
        currentView = key;
        runView(key);
        lastButtonKey = key;
        if (m_window.showRunTime)
            m_window.showRunTime();
    }
    else if (key == QLatin1StringView("Refresh")) {
        rerunCurrentView();
    }
    else if (key == QLatin1StringView("MaxMin")) {
        m_window.detailLayout(m_window.buttonPressed && m_window.buttonPressed(position));
    }
    else if (key == QLatin1StringView("Copy")) {
        m_window.copyPicture();
    }
    else if (key == QLatin1StringView("Loupe")) {
        if (!currentView.isEmpty())
            m_window.loupe(m_window.buttonPressed && m_window.buttonPressed(position));
    }
    else if (!kInertKeys.contains(key)) {
        m_window.fatal(kViewKeywordError);
    }
}

void ViewCommands::menuClick(int position, const MenuEntry& entry)
{
    const int owner = kDayViews.contains(entry.key) ? 1 : kPeriodViews.contains(entry.key) ? 2 : 0;
    if (owner > 0 && owner <= m_buttons.size()) {
        // The drop-down button takes the entry over, so that its face repeats the view last chosen.
        Button& button = m_buttons[owner - 1];
        button.caption = entry.text.left(9) + QStringLiteral("...");
        button.tooltip = entry.text;
        button.key = entry.key;
        if (m_window.buttonChanged)
            m_window.buttonChanged(owner);
        buttonClick(owner);
        return;
    }
    Q_UNUSED(position);
    if (entry.key == QLatin1StringView("MaintainFilters") ||
        entry.key == QLatin1StringView("MaintainGroups") || entry.key == QLatin1StringView("Options") ||
        entry.key == QLatin1StringView("Print") || entry.key == QLatin1StringView("SavePdf")) {
        m_window.dialog(entry.key);
    }
    else if (entry.key == QLatin1StringView("ReportHTMLPlan") ||
             entry.key == QLatin1StringView("ReportHTMLColor") ||
             entry.key == QLatin1StringView("ReportImage")) {
        if (!Periods::reportAcceptsView(entry.key, currentView))
            m_window.message(MessageIcon::Information, m_texts.message(Message::ReportViewRefused));
        else
            m_window.report(entry.key == QLatin1StringView("ReportHTMLColor"),
                            entry.key != QLatin1StringView("ReportImage"));
    }
}

void ViewCommands::rerunCurrentView()
{
    if (currentView.isEmpty())
        return;
    for (int position = 1; position <= m_buttons.size(); ++position) {
        for (const MenuEntry& entry : std::as_const(m_buttons[position - 1].menu)) {
            if (entry.key == currentView) {
                const MenuEntry found = entry; // the click re-keys the button, which may move the list
                menuClick(position, found);
                m_engine.headersValid = true;
                return;
            }
        }
    }
    m_window.fatal(kViewKeywordError);
}

void ViewCommands::timerTick(int automaticDelay)
{
    ++autoRefreshCount;
    if (autoRefreshCount == automaticDelay) {
        rerunCurrentView();
        autoRefreshCount = 0;
    }
}

void ViewCommands::cancel()
{
    if (!m_engine.queryRunning)
        return;
    m_window.message(MessageIcon::Exclamation, m_texts.message(Message::QueryCancelled));
    m_engine.queryRunning = false;
}

QString ViewCommands::runTimeText(const LanguageTexts& texts, const QDateTime& now)
{
    // The date as the pickers and the reports write it.
    const QLocale locale;
    return texts.message(Message::LastRunPrefix) +
           locale.toString(now.date(), DateText::shortDateFormat(locale)) + u' ' +
           locale.toString(now.time(), QLocale::ShortFormat);
}
