#include "mailbox/dav/davcontactsfolder.h"

#include "mailbox/contactsfolder.h"

#include "mailbox/dav/davdiscovery.h"
#include "mailbox/dav/davmailbox.h"

namespace {

bool named(const DavCollection& book, const QString& name)
{
    return book.displayName.compare(name, Qt::CaseInsensitive) == 0 ||
           book.segment.compare(name, Qt::CaseInsensitive) == 0;
}

} // namespace

DavContactsFolder::DavContactsFolder(DavMailbox& mailbox, QUrl url, QString name)
    : m_mailbox(mailbox), m_url(std::move(url)), m_name(std::move(name))
{
}

Mailbox& DavContactsFolder::mailbox() const
{
    return m_mailbox;
}

QUrl DavContactsFolder::location() const
{
    return m_url.isEmpty() ? m_mailbox.account().addressBookHome : m_url;
}

std::shared_ptr<Folder> DavContactsFolder::folder(const QString& name)
{
    const QString self = m_url.isEmpty() ? QString() : DavDiscovery::urlKey(m_url);
    for (const DavCollection& book : m_mailbox.addressBookCollections()) {
        if (named(book, name) && DavDiscovery::urlKey(book.url) != self)
            return std::make_shared<DavContactsFolder>(m_mailbox, book.url, book.displayName);
    }
    throw MailboxError(MailboxError::NotFound,
                       QStringLiteral("The folder \"%1\" has no subfolder \"%2\"").arg(m_name, name));
}

std::shared_ptr<Folder> DavContactsFolder::addFolder(const QString& name)
{
    try {
        return folder(name);
    }
    catch (const MailboxError& error) {
        if (error.number() != MailboxError::NotFound)
            throw;
    }
    if (name.isEmpty() || name == QLatin1StringView(".") || name == QLatin1StringView("..") ||
        name.contains(u'/') || name.contains(QChar(0)))
        throw MailboxError(
            MailboxError::Unsupported,
            QStringLiteral("\"%1\" cannot be the name of a folder in \"%2\"").arg(name, m_name));
    const DavCollection book = m_mailbox.createAddressBook(name);
    return std::make_shared<DavContactsFolder>(m_mailbox, book.url, book.displayName);
}

QList<std::shared_ptr<MailboxItem>> DavContactsFolder::storedItems()
{
    m_errors.clear();
    if (m_url.isEmpty())
        return {};
    QList<MailboxError> errors;
    const QList<AddressBook::Contact> contacts = m_mailbox.bookContacts(m_url, &errors);
    m_errors = errors;
    return ContactsFolder::itemsOf(contacts, *m_mailbox.addressBook(), shared_from_this());
}

void DavContactsFolder::saveItem(MailboxItem& item)
{
    ContactsFolder::requireContact(item, m_name);
    m_mailbox.saveCard(item, m_url);
}

std::shared_ptr<MailboxItem> DavContactsFolder::newItem(const QString& messageClass)
{
    if (m_url.isEmpty() || messageClass.compare(MailboxItem::kDistList, Qt::CaseInsensitive) != 0)
        return Folder::newItem(messageClass);
    auto item = std::make_shared<MailboxItem>();
    item->messageClass = MailboxItem::kDistList;
    item->attach(shared_from_this());
    return item;
}

void DavContactsFolder::deleteItem(MailboxItem& item)
{
    if (item.source.location.isEmpty())
        throw MailboxError(MailboxError::NotFound,
                           QStringLiteral("\"%1\" was never saved").arg(item.subject));
    m_mailbox.deleteResource(QUrl(item.source.location), item.source.etag, item.subject);
}

void DavContactsFolder::displayItem(const MailboxItem& item, bool modal)
{
    DisplayRequest request;
    request.url = item.source.location.isEmpty() ? location() : QUrl(item.source.location);
    request.modal = modal;
    m_mailbox.display(request);
}
