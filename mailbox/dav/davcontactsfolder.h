#pragma once

#include "mailbox/folder.h"

#include <QUrl>

class DavMailbox;

// An address book on a CardDAV server: the contacts folder (the first address book of the home that is not
// the team folder) or the team folder "Rotavine" beside it. Persons are contacts, group cards distribution
// lists; a list's name, categories and members can be changed and new lists made, a person's
// categories changed; an item can be deleted and opened.
class DavContactsFolder : public Folder {
public:
    // An empty `url` is a contacts folder for a home that has no address book of its own: it holds nothing.
    DavContactsFolder(DavMailbox& mailbox, QUrl url, QString name);

    Kind kind() const override { return Contacts; }
    QString name() const override { return m_name; }
    QUrl url() const { return m_url; }

    std::shared_ptr<Folder> folder(const QString& name) override;
    std::shared_ptr<Folder> addFolder(const QString& name) override;

    QList<std::shared_ptr<MailboxItem>> storedItems() override;
    QList<MailboxError> errors() const { return m_errors; }

    // A new distribution list of this address book, written by its save(); other classes are refused.
    std::shared_ptr<MailboxItem> newItem(const QString& messageClass) override;
    void saveItem(MailboxItem& item) override;
    void deleteItem(MailboxItem& item) override;
    void displayItem(const MailboxItem& item, bool modal) override;

protected:
    QUrl location() const override;
    Mailbox& mailbox() const override;

private:
    DavMailbox& m_mailbox;
    QUrl m_url;
    QString m_name;
    QList<MailboxError> m_errors;
};
