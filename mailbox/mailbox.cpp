#include "mailbox/mailbox.h"

#include "mailbox/icalendarfile.h"

#include <QDesktopServices>
#include <QUrlQuery>

#include <algorithm>

bool Recipient::resolve()
{
    m_person = m_mailbox->resolveName(m_name);
    return m_person.has_value();
}

Mailbox::Mailbox() = default;
Mailbox::~Mailbox() = default;

std::shared_ptr<MailboxItem> Mailbox::createItem(int itemType)
{
    auto item = std::make_shared<MailboxItem>();
    if (itemType == kMailItem) {
        item->messageClass = MailboxItem::kMail;
    }
    else if (itemType == kAppointmentItem) {
        item->messageClass = MailboxItem::kAppointment;
    }
    else {
        throw MailboxError(MailboxError::Unsupported, QStringLiteral("Unknown item type %1").arg(itemType));
    }
    // The mailbox outlives every item it creates.
    item->attach(std::shared_ptr<ItemHost>(std::shared_ptr<ItemHost>{}, this));
    return item;
}

void Mailbox::prepareCalendars(const QStringList&, const QString&) {}

void Mailbox::display(const DisplayRequest& request) const
{
    if (m_display) {
        m_display(request);
        return;
    }
    if (!QDesktopServices::openUrl(request.url))
        throw MailboxError(MailboxError::NotFound,
                           QStringLiteral("No program could open %1").arg(request.url.toDisplayString()));
}

void Mailbox::displayItem(const MailboxItem& item, bool modal)
{
    if (item.messageClass != MailboxItem::kMail) {
        ItemHost::displayItem(item, modal);
        return;
    }
    DisplayRequest request;
    request.kind = DisplayRequest::ComposeMail;
    request.to = item.to;
    request.body = item.body;
    request.modal = modal;
    // A member's name goes to the mail program as the address the address book gives it.
    const std::optional<ResolvedPerson> person = resolveName(item.to);
    request.url.setScheme(QStringLiteral("mailto"));
    request.url.setPath(person && !person->address.isEmpty() ? person->address : item.to);
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("body"), QString::fromLatin1(QUrl::toPercentEncoding(item.body)));
    request.url.setQuery(query.query(QUrl::FullyEncoded), QUrl::StrictMode);
    display(request);
}

NewEvent Mailbox::eventFor(const MailboxItem& item, const QString& uid, const QDateTime& stamp,
                           const QString& ownerName, const QString& ownerAddress,
                           const QList<ResolvedPerson>& attendees)
{
    NewEvent event;
    event.uid = uid;
    event.stamp = stamp;
    event.start = item.start;
    event.end = item.end.isValid() ? item.end : item.start;
    event.allDay = item.allDay;
    // A day-long event ends at the midnight after its last day: an end during a day keeps that day, and
    // one on its first day (a start and an end of one day) still lasts the day rather than nothing.
    if (event.allDay && event.start.isValid()) {
        QDate last = event.end.date();
        if (event.end.time() == QTime(0, 0) && last > event.start.date())
            last = last.addDays(-1);
        event.end = QDateTime(std::max(last, event.start.date()).addDays(1), QTime(0, 0));
    }
    event.subject = item.subject;
    event.body = item.body;
    event.categories = item.categories;
    event.sensitivity = item.sensitivity;
    event.reminder = item.reminderSet;
    if (!attendees.isEmpty()) {
        event.organizer = NewEvent::Person{ownerName, ownerAddress};
        for (const ResolvedPerson& attendee : attendees)
            event.attendees.push_back({attendee.displayName, attendee.address});
    }
    if (!event.start.isValid())
        throw MailboxError(MailboxError::WriteFailed,
                           QStringLiteral("\"%1\" has no start; nothing was written").arg(item.subject));
    return event;
}

QString Mailbox::eventFileName(const QString& uid)
{
    QString name;
    for (const QChar c : uid)
        name += c.isLetterOrNumber() || c == u'-' || c == u'_' || c == u'.' ? c : u'_';
    return name + QStringLiteral(".ics");
}

const ResolvedPerson& Mailbox::calendarOwner(const Recipient& recipient, int folderType)
{
    if (folderType != kCalendarFolder)
        throw MailboxError(
            MailboxError::Unsupported,
            QStringLiteral("Only calendars (9) are shared, not folders of type %1").arg(folderType));
    if (!recipient.isResolved())
        throw MailboxError(MailboxError::NotResolved,
                           QStringLiteral("\"%1\" is not in the address book").arg(recipient.name()));
    return *recipient.person();
}
