#pragma once

#include "gui/periods.h"
#include "planning/querycontext.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>

class LanguageTexts;
struct EngineState;

// The main window's command vocabulary without the window: toolbar buttons and their drop-down entries,
// addressed by key, the views they run, re-running the current view, the refresh timer and cancel. The window
// builds the toolbar model, hands in what it does for each command, and forwards its clicks here.
class ViewCommands {
public:
    struct MenuEntry {
        QString key;
        QString text;
    };
    struct Button {
        QString key;
        QString caption;
        QString tooltip;
        QList<MenuEntry> menu;
    };

    // What the window does on the commands' behalf.
    struct Window {
        std::function<QDate()> today;
        std::function<Periods::Range()> pickers;
        std::function<void(const Periods::Range&)> setPickers;
        std::function<void(const QDate&)> dayView;
        std::function<void(const QDate& from, const QDate& to, bool colourMode)> memberQuery;
        std::function<bool(int position)> buttonPressed; // the value of a check-style button
        std::function<void(bool pressed)> detailLayout;
        std::function<void()> copyPicture;
        std::function<void(bool on)> loupe;
        std::function<void(bool colourOnly, bool asTable)> report;
        std::function<void(const QString& key)>
            dialog; // "MaintainGroups", "MaintainFilters", "Options", "Print", "SavePdf"
        std::function<void(MessageIcon, const QString&)> message;
        // "View Keyword error": the window shows it and ends the program.
        std::function<void(const QString&)> fatal;
        std::function<void()> showRunTime;
        std::function<void()> applyDisplayFlags;         // the display flags follow their check boxes again
        std::function<void(int position)> buttonChanged; // a button's key, caption or tooltip changed
    };

    ViewCommands(EngineState& engine, const LanguageTexts& texts, Window window);

    // The buttons in toolbar order; position 1 is the first.
    QList<Button>& buttons() { return m_buttons; }

    void buttonClick(int position);
    void menuClick(int position, const MenuEntry& entry);
    void rerunCurrentView();
    // One tick of the one-minute timer.
    void timerTick(int automaticDelay);
    void cancel();

    QString currentView;
    QString lastButtonKey;
    int autoRefreshCount = 0;

    // The status bar's time stamp: message 41, the date and the time in the system's formats.
    static QString runTimeText(const LanguageTexts& texts, const QDateTime& now);

private:
    bool runView(const QString& key);
    void setPeriod(const Periods::Range& range);

    EngineState& m_engine;
    const LanguageTexts& m_texts;
    Window m_window;
    QList<Button> m_buttons;
};
