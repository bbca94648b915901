#include "mailbox/calendarfolder.h"

#include "mailbox/foldermailbox.h"

#include <QFile>
#include <QFileInfo>

CalendarFolder::CalendarFolder(FolderMailbox& mailbox, std::shared_ptr<CalendarIndex> index, QString name)
    : m_mailbox(mailbox), m_index(std::move(index)), m_name(std::move(name))
{
}

QList<std::shared_ptr<MailboxItem>> CalendarFolder::storedItems()
{
    QList<std::shared_ptr<MailboxItem>> items = m_index->storedItems();
    attachAll(items);
    return items;
}

Folder::Scan CalendarFolder::occurrences(const TimeWindow& window)
{
    Scan scan = m_index->scan(window);
    attachAll(scan.occurrences);
    return scan;
}

std::shared_ptr<MailboxItem> CalendarFolder::newItem(const QString& messageClass)
{
    return newAppointment(messageClass);
}

void CalendarFolder::saveItem(MailboxItem& item)
{
    refuseSavedAgain(item);
    QString uid;
    item.source.location = m_mailbox.writeEvent(m_index->directory(), item, {}, &uid);
    item.source.uid = uid;
}

void CalendarFolder::deleteItem(MailboxItem& item)
{
    if (item.source.location.isEmpty())
        throw MailboxError(MailboxError::NotFound,
                           QStringLiteral("\"%1\" was never saved").arg(item.subject));
    if (item.source.recurrenceId.isValid())
        throw MailboxError(
            MailboxError::Unsupported,
            QStringLiteral("\"%1\" is one occurrence of a series; only whole files are deleted")
                .arg(item.subject));
    QFile file(item.source.location);
    if (!file.exists())
        throw MailboxError(MailboxError::NotFound,
                           QStringLiteral("%1 does not exist any more").arg(item.source.location));
    if (!file.remove())
        throw MailboxError(
            MailboxError::WriteFailed,
            QStringLiteral("%1 cannot be deleted: %2").arg(item.source.location, file.errorString()));
    item.source.location.clear();
}

void CalendarFolder::displayItem(const MailboxItem& item, bool modal)
{
    DisplayRequest request;
    request.url = item.source.location.isEmpty() ? location() : QUrl::fromLocalFile(item.source.location);
    request.modal = modal;
    m_mailbox.display(request);
}

QUrl CalendarFolder::location() const
{
    return QUrl::fromLocalFile(m_index->directory());
}

Mailbox& CalendarFolder::mailbox() const
{
    return m_mailbox;
}
