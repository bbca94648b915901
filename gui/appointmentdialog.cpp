#include "gui/appointmentdialog.h"

#include "base/datetext.h"
#include "base/languagetexts.h"
#include "base/textids.h"
#include "gui/captions.h"
#include "gui/messageboxes.h"
#include "planning/newappointment.h"

#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <optional>

namespace {

QString twoDigits(int number)
{
    return QStringLiteral("%1").arg(number, 2, 10, QLatin1Char('0'));
}

QString timeText(const QTime& time)
{
    return twoDigits(time.hour()) + u':' + twoDigits(time.minute());
}

// "hh:mm" as the time boxes take it; a one-digit hour is accepted too.
std::optional<QTime> parseTime(const QString& text)
{
    static const QRegularExpression kTime(QStringLiteral("^\\s*(\\d{1,2}):(\\d{2})\\s*$"));
    const QRegularExpressionMatch match = kTime.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const QTime time(match.captured(1).toInt(), match.captured(2).toInt());
    return time.isValid() ? std::optional<QTime>(time) : std::nullopt;
}

QString dayText(const QDate& day)
{
    return QLocale().toString(day, DateText::shortDateFormat());
}

} // namespace

AppointmentDialog::AppointmentDialog(const LanguageTexts& texts, Mailbox& mailbox, QWidget* parent)
    : QDialog(parent), m_texts(texts), m_mailbox(mailbox),
      m_clock([] { return QDateTime::currentDateTime(); })
{
    m_messageHandler = [this](MessageIcon icon, const QString& text) {
        MessageBoxes::show(this, icon, text);
    };
    buildWidgets();
    Captions::applyCaptions(this, m_texts);
    const QDateTime now = m_clock();
    m_when = {now, now};
    applyDay(now.date());
}

void AppointmentDialog::buildWidgets()
{
    setObjectName(QStringLiteral("appointmentDialog"));
    Captions::setTag(this, ScreenText::AppointmentDialogCaption);

    auto* grid = new QGridLayout;
    grid->setContentsMargins(8, 8, 8, 8);
    m_captionStrip = CaptionStripLabel::frame(this, grid);
    const auto tagged = [](QWidget* widget, const char* name, int tag) {
        widget->setObjectName(QLatin1StringView(name));
        Captions::setTag(widget, tag);
        return widget;
    };

    m_calendar = new QCalendarWidget(this);
    tagged(m_calendar, "calendar", ScreenText::AppointmentCalendar);
    grid->addWidget(m_calendar, 0, 0, 2, 3);

    const auto timeList = [&](const char* name, int tag, int count, int step) {
        auto* list = new QListWidget(this);
        tagged(list, name, tag);
        for (int value = 0; value < count; ++value)
            list->addItem(twoDigits(value * step));
        list->setFixedWidth(list->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 40);
        return list;
    };
    grid->addWidget(tagged(new QLabel(this), "hoursLabel", ScreenText::AppointmentHoursLabel), 0, 3);
    m_hourList = timeList("hourList", ScreenText::AppointmentHours, 24, 1);
    grid->addWidget(m_hourList, 1, 3);
    grid->addWidget(tagged(new QLabel(this), "minutesLabel", ScreenText::AppointmentMinutesLabel), 0, 4);
    m_minuteList = timeList("minuteList", ScreenText::AppointmentMinutes, 12, 5);
    grid->addWidget(m_minuteList, 1, 4);

    static const char* const kSideNames[2][3] = {{"startSelector", "startTimeEdit", "startLabel"},
                                                 {"endSelector", "endTimeEdit", "endLabel"}};
    for (int side : {Start, End}) {
        // A checked button marks the side the lists and the calendar change.
        m_sideButtons[side] = new QPushButton(this);
        tagged(m_sideButtons[side], kSideNames[side][0], ScreenText::AppointmentStartSelector + side);
        m_sideButtons[side]->setCheckable(true);
        m_sideButtons[side]->setAutoDefault(false);
        m_timeEdits[side] = new QLineEdit(this);
        tagged(m_timeEdits[side], kSideNames[side][1], ScreenText::AppointmentStartTime + side);
        m_timeEdits[side]->setMaxLength(5);
        m_timeEdits[side]->setFixedWidth(
            m_timeEdits[side]->fontMetrics().horizontalAdvance(QStringLiteral("00:000")) + 12);
        m_whenLabels[side] = new QLabel(this);
        tagged(m_whenLabels[side], kSideNames[side][2], ScreenText::AppointmentStartWhen + side);
        grid->addWidget(m_sideButtons[side], 2 + side, 0);
        grid->addWidget(m_timeEdits[side], 2 + side, 1);
        grid->addWidget(m_whenLabels[side], 2 + side, 2, 1, 3);
        connect(m_sideButtons[side], &QPushButton::clicked, this, [this, side] { selectSide(side); });
        connect(m_timeEdits[side], &QLineEdit::textEdited, this,
                [this, side](const QString& text) { applyTypedTime(side, text); });
    }

    grid->addWidget(tagged(new QLabel(this), "subjectLabel", ScreenText::AppointmentSubjectLabel), 4, 0);
    m_subjectEdit = new QLineEdit(this);
    grid->addWidget(tagged(m_subjectEdit, "subjectEdit", ScreenText::AppointmentSubject), 4, 1, 1, 4);
    m_allDayBox = new QCheckBox(this);
    grid->addWidget(tagged(m_allDayBox, "allDayBox", ScreenText::AppointmentAllDay), 5, 1, 1, 4);
    grid->addWidget(tagged(new QLabel(this), "modeLabel", ScreenText::AppointmentModeLabel), 6, 0);
    m_modeCombo = new QComboBox(this);
    for (int text : {Message::AppointmentModeMember, Message::AppointmentModeEveryMember,
                     Message::AppointmentModeMeeting})
        m_modeCombo->addItem(m_texts.message(text));
    grid->addWidget(tagged(m_modeCombo, "modeCombo", ScreenText::AppointmentMode), 6, 1, 1, 4);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_createButton = new QPushButton(this);
    tagged(m_createButton, "createButton", ScreenText::AppointmentCreate);
    m_createButton->setDefault(true);
    m_cancelButton = new QPushButton(this);
    tagged(m_cancelButton, "cancelButton", ScreenText::AppointmentCancel);
    m_cancelButton->setAutoDefault(false);
    buttons->addWidget(m_createButton);
    buttons->addWidget(m_cancelButton);
    grid->addLayout(buttons, 7, 0, 1, 5);

    // Every control is reached with the keyboard in the order it is read.
    QWidget* const order[] = {m_subjectEdit,    m_calendar,     m_hourList,       m_minuteList,
                              m_sideButtons[0], m_timeEdits[0], m_sideButtons[1], m_timeEdits[1],
                              m_allDayBox,      m_modeCombo,    m_createButton,   m_cancelButton};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    m_subjectEdit->setFocus();

    // Arrow keys move through the lists and the calendar as clicks do.
    connect(m_hourList, &QListWidget::currentRowChanged, this, &AppointmentDialog::applyListTime);
    connect(m_minuteList, &QListWidget::currentRowChanged, this, &AppointmentDialog::applyListTime);
    connect(m_calendar, &QCalendarWidget::selectionChanged, this,
            [this] { applyDay(m_calendar->selectedDate()); });
    connect(m_createButton, &QPushButton::clicked, this, &AppointmentDialog::create);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    selectSide(Start);
}

void AppointmentDialog::setAppointmentFor(const QString& member, const QStringList& teamMembers,
                                          const QDate& day)
{
    m_member = member;
    m_team = teamMembers;
    setWindowTitle(NewAppointment::displayName(member));
    m_timesReset = false;
    m_calendar->setSelectedDate(day);
    applyDay(day);
    m_captionStrip->setCaption(QStringLiteral("    ") + dayText(day));
}

void AppointmentDialog::setClock(std::function<QDateTime()> clock)
{
    m_clock = std::move(clock);
}

void AppointmentDialog::setMessageHandler(std::function<void(MessageIcon, const QString&)> handler)
{
    m_messageHandler = std::move(handler);
}

void AppointmentDialog::showEvent(QShowEvent* event)
{
    // Only the first showing starts from the current time: coming back from a message box or another
    // window keeps what the user chose.
    if (!m_timesReset) {
        m_timesReset = true;
        resetTimes();
    }
    QDialog::showEvent(event);
}

void AppointmentDialog::resetTimes()
{
    const QTime now = m_clock().time();
    const QTime rounded(now.hour(), now.minute() / 5 * 5);
    syncLists(rounded);
    const QDate day = m_calendar->selectedDate();
    m_when = {QDateTime(day, rounded), QDateTime(day, rounded)};
    showSide(Start);
    showSide(End);
    selectSide(Start);
}

void AppointmentDialog::selectSide(int side)
{
    m_side = side;
    for (int other : {Start, End})
        m_sideButtons[other]->setChecked(other == side);
}

void AppointmentDialog::applyListTime()
{
    const int hour = std::max(m_hourList->currentRow(), 0);
    const int minute = std::max(m_minuteList->currentRow(), 0) * 5;
    m_when[m_side] = QDateTime(m_calendar->selectedDate(), QTime(hour, minute));
    showSide(m_side);
}

void AppointmentDialog::applyDay(const QDate& day)
{
    if (!day.isValid())
        return;
    m_when[m_side] = QDateTime(day, m_when[m_side].time());
    showSide(m_side);
}

void AppointmentDialog::applyTypedTime(int side, const QString& text)
{
    selectSide(side);
    // A time still being typed is left in the box; creating refuses it if it stays so.
    const std::optional<QTime> time = parseTime(text);
    if (!time)
        return;
    m_when[side] = QDateTime(m_when[side].date(), *time);
    syncLists(*time);
    m_whenLabels[side]->setText(dayText(m_when[side].date()) + u' ' + timeText(*time));
}

void AppointmentDialog::showSide(int side)
{
    const QString time = timeText(m_when[side].time());
    m_timeEdits[side]->setText(time);
    m_whenLabels[side]->setText(dayText(m_when[side].date()) + u' ' + time);
}

void AppointmentDialog::syncLists(const QTime& time)
{
    const QSignalBlocker hours(m_hourList);
    const QSignalBlocker minutes(m_minuteList);
    m_hourList->setCurrentRow(time.hour());
    m_minuteList->setCurrentRow(time.minute() / 5);
}

void AppointmentDialog::message(MessageIcon icon, const QString& text)
{
    if (m_messageHandler)
        m_messageHandler(icon, text);
}

void AppointmentDialog::create()
{
    for (int side : {Start, End}) {
        if (!parseTime(m_timeEdits[side]->text())) {
            message(MessageIcon::Exclamation,
                    m_texts.message(Message::AppointmentTimeInvalid) + m_timeEdits[side]->text());
            m_timeEdits[side]->setFocus();
            m_timeEdits[side]->selectAll();
            return;
        }
    }
    NewAppointment appointment;
    appointment.subject = m_subjectEdit->text();
    appointment.start = m_when[Start];
    appointment.end = m_when[End];
    appointment.allDay = m_allDayBox->isChecked();
    appointment.mode = NewAppointment::Mode(std::clamp(m_modeCombo->currentIndex(), 0, 2));

    const NewAppointment::Outcome outcome = appointment.create(m_mailbox, m_member, m_team);
    switch (outcome.refusal) {
    case NewAppointment::Refusal::None:
        break;
    case NewAppointment::Refusal::EndBeforeStart:
        message(MessageIcon::Exclamation, m_texts.message(Message::AppointmentEndBeforeStart));
        return;
    case NewAppointment::Refusal::NoMembers:
        message(MessageIcon::Exclamation, m_texts.message(Message::NoTeamMembers));
        return;
    case NewAppointment::Refusal::StartInvalid:
    case NewAppointment::Refusal::EndInvalid:
        message(MessageIcon::Exclamation, m_texts.message(Message::AppointmentTimeInvalid));
        return;
    }

    if (!outcome.failures.isEmpty()) {
        QStringList lines;
        for (const NewAppointment::Failure& failure : outcome.failures)
            lines << (failure.member.isEmpty() ? failure.description
                                               : NewAppointment::displayName(failure.member) +
                                                     QStringLiteral(": ") + failure.description);
        if (outcome.written > 0 && appointment.mode == NewAppointment::EveryMember)
            lines << m_texts.message(Message::AppointmentOthersCreated);
        message(MessageIcon::Exclamation,
                m_texts.message(Message::CalendarUnreachable) + u'\n' + lines.join(u'\n'));
    }
    // Nothing written: the dialog stays, with what the user typed, for another try or Cancel.
    if (outcome.written == 0)
        return;
    accept();
}
