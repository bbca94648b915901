#pragma once

#include <QFrame>

#include <array>

class QLabel;
class QScrollArea;
class QToolButton;
struct CellDetails;

// The panel that shows one cell of the planning in full: the day, the member, the cell's appointments, the
// member's whole day in the day view, and the actions on that member. It floats over the main window,
// either following the pointer or pinned where a double click left it.
class DetailPanel : public QFrame {
    Q_OBJECT

public:
    enum Action { SendMail, OpenCalendar, NewAppointment, Close };

    explicit DetailPanel(QWidget* parent);

    void showDetails(const CellDetails& details);
    QToolButton* actionButton(Action action) const { return m_buttons[action]; }

    // Where the panel goes for a pointer at `pointer` (the parent's coordinates) over the grid `gridArea`:
    // beside the pointer, on its left near the grid's right edge, and standing on the status bar near the
    // bottom; `near` is the gap kept from the pointer. Kept inside `bounds` where the panel fits.
    static QPoint placement(const QRect& gridArea, const QPoint& pointer, const QSize& panel,
                            int statusBarTop, int near, const QRect& bounds);

signals:
    void actionTriggered(int action);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLabel* m_heading;
    QLabel* m_member;
    QScrollArea* m_appointmentsArea;
    QLabel* m_appointments;
    QLabel* m_daySummary;
    std::array<QToolButton*, 4> m_buttons{};
};
