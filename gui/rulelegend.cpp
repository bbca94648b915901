#include "gui/rulelegend.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QToolButton>

namespace {

QIcon swatch(const QColor& colour, int side)
{
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QColor(96, 96, 96));
    painter.setBrush(colour);
    painter.drawRect(0, 0, side - 1, side - 1);
    return QIcon(pixmap);
}

} // namespace

RuleLegend::RuleLegend(QWidget* parent)
    : QWidget(parent), m_layout(new QHBoxLayout(this)), m_title(new QLabel(this))
{
    m_layout->setContentsMargins(0, 2, 0, 2);
    m_layout->setSpacing(4);
    m_layout->addWidget(m_title);
    m_layout->addStretch(1);
    setVisible(false);
}

void RuleLegend::setEntries(const QString& title, const QList<Entry>& entries, bool applied)
{
    m_title->setText(title);
    m_entries = entries;
    while (m_buttons.size() > entries.size())
        delete m_buttons.takeLast();
    const int side = fontMetrics().height() - 2;
    for (int index = 0; index < entries.size(); ++index) {
        if (index == m_buttons.size()) {
            auto* button = new QToolButton(this);
            button->setObjectName(QStringLiteral("rule%1").arg(index));
            button->setCheckable(true);
            button->setAutoRaise(true);
            button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
            connect(button, &QToolButton::clicked, this, [this, index] { emit toggled(index); });
            m_layout->insertWidget(m_layout->count() - 1, button);
            m_buttons.append(button);
        }
        QToolButton* button = m_buttons.at(index);
        const Entry& entry = entries.at(index);
        button->setText(entry.name);
        // A rule not chosen shows a pale swatch; the button is pressed while it is chosen.
        QColor colour = entry.colour;
        if (!entry.selected)
            colour.setAlpha(60);
        button->setIcon(swatch(colour, side));
        button->setChecked(entry.selected);
        // Faded, not disabled, while the rules are not applied: a rule can be chosen before.
        button->setStyleSheet(
            applied && entry.selected ? QString() : QStringLiteral("QToolButton { color: palette(mid); }"));
    }
    setVisible(!entries.isEmpty());
}
