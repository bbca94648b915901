#include "mailbox/mailboxitem.h"

#include "mailbox/mailboxerror.h"

namespace {

[[noreturn]] void unsupported(const char* operation, const MailboxItem& item)
{
    throw MailboxError(MailboxError::Unsupported, QStringLiteral("%1 is not possible for the item \"%2\"")
                                                      .arg(QLatin1StringView(operation), item.subject));
}

ItemHost& hostOf(const std::shared_ptr<ItemHost>& host, const char* operation, const MailboxItem& item)
{
    if (!host)
        unsupported(operation, item);
    return *host;
}

} // namespace

QString MailboxItem::member(int index) const
{
    if (index < 1 || index > m_members.size())
        throw MailboxError(MailboxError::NotFound,
                           QStringLiteral("The list \"%1\" has no member number %2").arg(subject).arg(index));
    return m_members.at(index - 1);
}

void MailboxItem::save()
{
    hostOf(m_host, "Saving", *this).saveItem(*this);
}

void MailboxItem::send()
{
    hostOf(m_host, "Sending", *this).sendItem(*this);
}

void MailboxItem::remove()
{
    hostOf(m_host, "Deleting", *this).deleteItem(*this);
}

void MailboxItem::display(bool modal)
{
    hostOf(m_host, "Opening", *this).displayItem(*this, modal);
}

void ItemHost::saveItem(MailboxItem& item)
{
    unsupported("Saving", item);
}

void ItemHost::sendItem(MailboxItem& item)
{
    unsupported("Sending", item);
}

void ItemHost::deleteItem(MailboxItem& item)
{
    unsupported("Deleting", item);
}

void ItemHost::displayItem(const MailboxItem& item, bool)
{
    unsupported("Opening", item);
}
