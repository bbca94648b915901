#include "gui/listwidgetmemberlist.h"

#include <QListWidget>

void ListWidgetMemberList::clear()
{
    m_list.clear();
}

void ListWidgetMemberList::addItem(const QString& text, const QString& address)
{
    auto* entry = new QListWidgetItem(text, &m_list);
    entry->setData(Qt::UserRole, address);
}

int ListWidgetMemberList::count() const
{
    return m_list.count();
}

QString ListWidgetMemberList::item(int index) const
{
    const QListWidgetItem* entry = m_list.item(index);
    return entry ? entry->text() : QString();
}
