#include "mailbox/folder.h"

#include "mailbox/itemcollection.h"
#include "mailbox/mailbox.h"

#include <atomic>

std::shared_ptr<Folder> Folder::folder(const QString& subfolder)
{
    throw MailboxError(MailboxError::NotFound,
                       QStringLiteral("The folder \"%1\" has no subfolder \"%2\"").arg(name(), subfolder));
}

std::shared_ptr<Folder> Folder::addFolder(const QString& subfolder)
{
    throw MailboxError(
        MailboxError::Unsupported,
        QStringLiteral("A subfolder \"%1\" cannot be created in \"%2\"").arg(subfolder, name()));
}

ItemCollection Folder::items()
{
    return ItemCollection(shared_from_this());
}

void Folder::display(bool modal)
{
    DisplayRequest request;
    request.url = location();
    request.modal = modal;
    if (kind() == Calendar && request.url.isLocalFile())
        request.program = mailbox().calendarProgram();
    mailbox().display(request);
}

quint64 Folder::nextRevision()
{
    static std::atomic<quint64> last{0};
    return ++last;
}

Folder::Scan Folder::occurrences(const TimeWindow&)
{
    throw MailboxError(MailboxError::Unsupported,
                       QStringLiteral("The folder \"%1\" holds no appointments").arg(name()));
}

std::shared_ptr<MailboxItem> Folder::newItem(const QString& messageClass)
{
    throw MailboxError(
        MailboxError::Unsupported,
        QStringLiteral("An item of class \"%1\" cannot be added to \"%2\"").arg(messageClass, name()));
}

void Folder::attachAll(const QList<std::shared_ptr<MailboxItem>>& items)
{
    const std::shared_ptr<Folder> self = shared_from_this();
    for (const auto& item : items)
        item->attach(self);
}

std::shared_ptr<MailboxItem> Folder::newAppointment(const QString& messageClass)
{
    if (messageClass.compare(MailboxItem::kAppointment, Qt::CaseInsensitive) != 0)
        return Folder::newItem(messageClass);
    auto item = std::make_shared<MailboxItem>();
    item->messageClass = MailboxItem::kAppointment;
    item->attach(shared_from_this());
    return item;
}

void Folder::refuseSavedAgain(const MailboxItem& item)
{
    if (!item.source.location.isEmpty())
        throw MailboxError(
            MailboxError::Unsupported,
            QStringLiteral("\"%1\" is saved already; changing stored appointments is not offered")
                .arg(item.subject));
}
