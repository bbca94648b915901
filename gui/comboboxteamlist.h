#pragma once

#include "planning/teamgroups.h"

class QComboBox;

// The team operations' view of a window's team combo box.
class ComboBoxTeamList : public TeamList {
public:
    explicit ComboBoxTeamList(QComboBox& comboBox) : m_comboBox(comboBox) {}

    void clear() override;
    void addItem(const QString& text) override;
    QString text() const override;
    // The box offers only listed teams: a name it does not list leaves nothing selected.
    void setText(const QString& text) override;
    int count() const override;
    QString item(int index) const override;

private:
    QComboBox& m_comboBox;
};
