#pragma once

#include "planning/teamgroups.h"

class QListWidget;

// The team operations' view of a window's member list.
class ListWidgetMemberList : public MemberList {
public:
    explicit ListWidgetMemberList(QListWidget& list) : m_list(list) {}

    void clear() override;
    void addItem(const QString& text, const QString& address) override;
    int count() const override;
    QString item(int index) const override;

private:
    QListWidget& m_list;
};
