#include "gui/detailpanel.h"

#include "base/textids.h"
#include "gui/captions.h"
#include "planning/celldetails.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Drawn at every size a toolbar asks for, so that the icons stay sharp on a high-density screen where the
// desktop's theme has none of its own.
QIcon drawnIcon(DetailPanel::Action action)
{
    QIcon icon;
    for (const int side : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal unit = side / 16.0;
        painter.scale(unit, unit);
        painter.setPen(QPen(QColor(0x33, 0x44, 0x66), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        switch (action) {
        case DetailPanel::SendMail: {
            painter.setBrush(QColor(0xf4, 0xf6, 0xfa));
            painter.drawRect(QRectF(1.5, 3.5, 13, 9));
            QPainterPath flap;
            flap.moveTo(1.5, 3.5);
            flap.lineTo(8, 9);
            flap.lineTo(14.5, 3.5);
            painter.drawPath(flap);
            break;
        }
        case DetailPanel::OpenCalendar:
        case DetailPanel::NewAppointment: {
            painter.setBrush(Qt::white);
            painter.drawRect(QRectF(1.5, 2.5, 13, 12));
            painter.fillRect(QRectF(2, 3, 12, 3), QColor(0xc0, 0x39, 0x2b));
            painter.drawLine(QPointF(4.5, 1), QPointF(4.5, 4));
            painter.drawLine(QPointF(11.5, 1), QPointF(11.5, 4));
            if (action == DetailPanel::NewAppointment) {
                painter.setPen(QPen(QColor(0x1e, 0x84, 0x49), 2));
                painter.drawLine(QPointF(8, 7.5), QPointF(8, 13));
                painter.drawLine(QPointF(5.25, 10.25), QPointF(10.75, 10.25));
            }
            else {
                for (int row = 0; row < 2; ++row)
                    for (int column = 0; column < 3; ++column)
                        painter.fillRect(QRectF(3.5 + column * 3.25, 8 + row * 3, 2, 2),
                                         QColor(0x55, 0x66, 0x88));
            }
            break;
        }
        case DetailPanel::Close:
            painter.setPen(QPen(QColor(0x55, 0x55, 0x55), 1.6, Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(QPointF(4, 4), QPointF(12, 12));
            painter.drawLine(QPointF(12, 4), QPointF(4, 12));
            break;
        }
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QLabel* textLabel(QWidget* parent, const char* name)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1StringView(name));
    // What calendars hold is shown as it is written, never as markup.
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return label;
}

} // namespace

DetailPanel::DetailPanel(QWidget* parent)
    : QFrame(parent), m_heading(textLabel(this, "detailHeading")), m_member(textLabel(this, "detailMember")),
      m_appointmentsArea(new QScrollArea(this)), m_appointments(textLabel(nullptr, "detailAppointments")),
      m_daySummary(textLabel(this, "detailDaySummary"))
{
    setObjectName(QStringLiteral("detailPanel"));
    Captions::setTag(this, ScreenText::DetailsPanel);
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::StrongFocus);
    setVisible(false);

    QFont bold = font();
    bold.setBold(true);
    m_heading->setFont(bold);
    m_member->setFont(bold);
    m_appointments->setAutoFillBackground(true);
    m_appointments->setBackgroundRole(QPalette::Base);
    m_appointments->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_appointments->setMargin(4);
    m_appointmentsArea->setObjectName(QStringLiteral("detailAppointmentsArea"));
    m_appointmentsArea->setWidget(m_appointments);
    m_appointmentsArea->setWidgetResizable(true);
    m_appointmentsArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_appointmentsArea->setFocusPolicy(Qt::NoFocus);
    m_daySummary->setAutoFillBackground(true);
    m_daySummary->setBackgroundRole(QPalette::Button);
    m_daySummary->setMargin(4);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 8);
    layout->setSpacing(4);
    auto* top = new QHBoxLayout;
    top->addWidget(m_heading, 1);
    layout->addLayout(top);
    layout->addWidget(m_member);
    layout->addWidget(m_appointmentsArea, 1);
    layout->addWidget(m_daySummary);
    auto* actions = new QHBoxLayout;
    actions->setSpacing(2);

    struct Button {
        const char* name;
        const char* themeIcon;
        int tag;
    };
    static constexpr Button kButtons[] = {
        {"sendMailButton", "mail-message-new", ScreenText::DetailsSendMail},
        {"openCalendarButton", "x-office-calendar", ScreenText::DetailsOpenCalendar},
        {"newAppointmentButton", "appointment-new", ScreenText::DetailsNewAppointment},
        {"closeDetailsButton", "window-close", ScreenText::DetailsClose},
    };
    for (int action = SendMail; action <= Close; ++action) {
        auto* button = new QToolButton(this);
        button->setObjectName(QLatin1StringView(kButtons[action].name));
        button->setIcon(QIcon::fromTheme(QLatin1StringView(kButtons[action].themeIcon),
                                         drawnIcon(static_cast<Action>(action))));
        button->setIconSize(QSize(22, 22));
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::StrongFocus);
        Captions::setTag(button, kButtons[action].tag);
        connect(button, &QToolButton::clicked, this, [this, action] { emit actionTriggered(action); });
        m_buttons[action] = button;
        if (action == Close)
            top->addWidget(button, 0, Qt::AlignTop);
        else
            actions->addWidget(button);
    }
    actions->addStretch(1);
    layout->addLayout(actions);
}

void DetailPanel::showDetails(const CellDetails& details)
{
    m_heading->setText(details.heading);
    m_member->setText(details.memberName);
    m_appointments->setText(details.appointments);
    m_daySummary->setText(details.daySummary.value_or(QString()));
    m_daySummary->setVisible(details.daySummary.has_value());
    // Button texts are tooltips only: the screen reader reads them as the buttons' names.
    for (QToolButton* button : m_buttons)
        button->setAccessibleName(button->toolTip());
    const QFontMetrics metrics = fontMetrics();
    const int width = std::max(metrics.averageCharWidth() * 40, 260);
    const int lines = std::clamp(int(details.appointments.count(u'\n')) + 2, 3, 12);
    m_appointmentsArea->setFixedHeight(lines * metrics.lineSpacing() + 10);
    setFixedWidth(width);
    adjustSize();
}

QPoint DetailPanel::placement(const QRect& gridArea, const QPoint& pointer, const QSize& panel,
                              int statusBarTop, int near, const QRect& bounds)
{
    int left = gridArea.left() + gridArea.width() > pointer.x() + near + panel.width()
                   ? pointer.x() + 2 * near
                   : pointer.x() - near - panel.width();
    int top = statusBarTop < pointer.y() + panel.height() / 2 ? statusBarTop - panel.height()
                                                              : pointer.y() + panel.height() / 2;
    // A narrow or short window must not push the panel, and its buttons, out of reach.
    left = std::max(bounds.left(), std::min(left, bounds.right() + 1 - panel.width()));
    top = std::max(bounds.top(), std::min(top, bounds.bottom() + 1 - panel.height()));
    return {left, top};
}

void DetailPanel::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        emit actionTriggered(Close);
        return;
    }
    QFrame::keyPressEvent(event);
}
