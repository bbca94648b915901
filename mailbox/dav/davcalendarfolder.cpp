#include "mailbox/dav/davcalendarfolder.h"

#include "mailbox/dav/davmailbox.h"

DavCalendarFolder::DavCalendarFolder(DavMailbox& mailbox, QUrl url, QString name)
    : m_mailbox(mailbox), m_url(std::move(url)), m_name(std::move(name))
{
}

Mailbox& DavCalendarFolder::mailbox() const
{
    return m_mailbox;
}

QList<std::shared_ptr<MailboxItem>> DavCalendarFolder::storedItems()
{
    QList<std::shared_ptr<MailboxItem>> items = m_mailbox.storedCalendarItems(m_url, m_name);
    attachAll(items);
    return items;
}

Folder::Scan DavCalendarFolder::occurrences(const TimeWindow& window)
{
    Scan scan = m_mailbox.readCalendar(m_url, m_name, window);
    attachAll(scan.occurrences);
    return scan;
}

std::shared_ptr<MailboxItem> DavCalendarFolder::newItem(const QString& messageClass)
{
    return newAppointment(messageClass);
}

void DavCalendarFolder::saveItem(MailboxItem& item)
{
    refuseSavedAgain(item);
    QString uid;
    QByteArray etag;
    item.source.location = m_mailbox.putEvent(m_url, item, {}, &uid, &etag).toString();
    item.source.uid = uid;
    item.source.etag = QString::fromUtf8(etag);
}

void DavCalendarFolder::deleteItem(MailboxItem& item)
{
    if (item.source.location.isEmpty())
        throw MailboxError(MailboxError::NotFound,
                           QStringLiteral("\"%1\" was never saved").arg(item.subject));
    if (item.source.recurrenceId.isValid())
        throw MailboxError(
            MailboxError::Unsupported,
            QStringLiteral("\"%1\" is one occurrence of a series; only whole items are deleted")
                .arg(item.subject));
    m_mailbox.deleteResource(QUrl(item.source.location), item.source.etag, item.subject);
    item.source.location.clear();
}

void DavCalendarFolder::displayItem(const MailboxItem& item, bool modal)
{
    DisplayRequest request;
    request.url = item.source.location.isEmpty() ? m_url : QUrl(item.source.location);
    request.modal = modal;
    m_mailbox.display(request);
}
