#pragma once

#include <QColor>
#include <QList>
#include <QString>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QToolButton;

// The colour rules beside the grid: one button per rule with its colour, pressed while the rule is selected.
// Clicking a rule asks for it to be selected or not, as the filter list does. While the rules do not apply
// (the "apply filters" box is not ticked) the buttons are shown faded.
class RuleLegend : public QWidget {
    Q_OBJECT

public:
    struct Entry {
        QString name;
        QColor colour;
        bool selected = false;
    };

    explicit RuleLegend(QWidget* parent = nullptr);

    void setEntries(const QString& title, const QList<Entry>& entries, bool applied);
    const QList<Entry>& entries() const { return m_entries; }
    int count() const { return int(m_buttons.size()); }
    QToolButton* button(int index) const { return m_buttons.value(index); }

signals:
    // The rule in that place of the list was clicked.
    void toggled(int index);

private:
    QHBoxLayout* m_layout;
    QLabel* m_title;
    QList<QToolButton*> m_buttons;
    QList<Entry> m_entries;
};
