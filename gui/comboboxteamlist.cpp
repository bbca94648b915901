#include "gui/comboboxteamlist.h"

#include <QComboBox>

void ComboBoxTeamList::clear()
{
    m_comboBox.clear();
}

void ComboBoxTeamList::addItem(const QString& text)
{
    m_comboBox.addItem(text);
}

QString ComboBoxTeamList::text() const
{
    return m_comboBox.currentText();
}

void ComboBoxTeamList::setText(const QString& text)
{
    m_comboBox.setCurrentIndex(m_comboBox.findText(text, Qt::MatchFixedString));
}

int ComboBoxTeamList::count() const
{
    return m_comboBox.count();
}

QString ComboBoxTeamList::item(int index) const
{
    return m_comboBox.itemText(index);
}
