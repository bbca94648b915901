#pragma once

#include "gui/captionstriplabel.h"
#include "planning/querycontext.h"

#include <QDateTime>
#include <QDialog>
#include <QStringList>

#include <array>
#include <functional>

class LanguageTexts;
class Mailbox;
class QCalendarWidget;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// Creates an appointment from the planning: in the chosen member's calendar, in each team member's calendar,
// or as one meeting request to the team. exec() gives Accepted when something was written, so that the
// caller shows the planning anew.
class AppointmentDialog : public QDialog {
    Q_OBJECT

public:
    AppointmentDialog(const LanguageTexts& texts, Mailbox& mailbox, QWidget* parent = nullptr);

    // The member (possibly "Name <address>") whose cell was chosen, the team, and the day.
    void setAppointmentFor(const QString& member, const QStringList& teamMembers, const QDate& day);
    // What "now" is when the dialog first shows; the system clock by default.
    void setClock(std::function<QDateTime()> clock);
    // How messages reach the user; a message box by default.
    void setMessageHandler(std::function<void(MessageIcon, const QString&)> handler);

protected:
    void showEvent(QShowEvent* event) override;

private:
    enum Side { Start = 0, End = 1 };

    void buildWidgets();
    void resetTimes();
    void selectSide(int side);
    void applyListTime();
    void applyDay(const QDate& day);
    void applyTypedTime(int side, const QString& text);
    void showSide(int side);
    void syncLists(const QTime& time);
    void create();
    void message(MessageIcon icon, const QString& text);

    const LanguageTexts& m_texts;
    Mailbox& m_mailbox;
    std::function<QDateTime()> m_clock;
    std::function<void(MessageIcon, const QString&)> m_messageHandler;

    QString m_member;
    QStringList m_team;
    int m_side = Start;
    std::array<QDateTime, 2> m_when;
    bool m_timesReset = false;

    CaptionStripLabel* m_captionStrip = nullptr;
    QCalendarWidget* m_calendar = nullptr;
    QListWidget* m_hourList = nullptr;
    QListWidget* m_minuteList = nullptr;
    std::array<QPushButton*, 2> m_sideButtons{};
    std::array<QLineEdit*, 2> m_timeEdits{};
    std::array<QLabel*, 2> m_whenLabels{};
    QLineEdit* m_subjectEdit = nullptr;
    QCheckBox* m_allDayBox = nullptr;
    QComboBox* m_modeCombo = nullptr;
    QPushButton* m_createButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
};
