#pragma once

#include "mailbox/addressbook.h"
#include "mailbox/folder.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <memory>

class Mailbox;
class VCard;

// The contacts folder of a folder mailbox, or one of its subfolders (the team folder "Rotavine"): one item
// per vCard file directly in the folder. Persons are contacts, group cards are distribution lists. A list's
// name, categories and members can be changed and new lists made, a person's categories changed; an item
// can also be deleted and opened.
class ContactsFolder : public Folder {
public:
    // `path` is the folder's directory; `book` is the mailbox's address book, which also resolves the names
    // of a list's members. Both `mailbox` and `book` outlive the folder.
    ContactsFolder(Mailbox& mailbox, std::shared_ptr<AddressBook> book, const QString& path, QString name);

    Kind kind() const override { return Contacts; }
    QString name() const override { return m_name; }
    QString path() const { return m_path; }

    std::shared_ptr<Folder> folder(const QString& name) override;
    std::shared_ptr<Folder> addFolder(const QString& name) override;

    // Throws MailboxError when the folder is missing (NotFound) or cannot be read (AccessDenied); files that
    // cannot be read are left out and listed by errors().
    QList<std::shared_ptr<MailboxItem>> storedItems() override;

    // Only persons and lists are saved in a contacts folder; throws MailboxError (Unsupported) for others.
    static void requireContact(const MailboxItem& item, const QString& folderName);
    // An item's ";"-separated categories, trimmed, empty ones left out.
    static QStringList splitCategories(const QString& categories);
    // The contacts and lists of an address book as items of `host`, lists with their members' names.
    static QList<std::shared_ptr<MailboxItem>> itemsOf(const QList<AddressBook::Contact>& contacts,
                                                       AddressBook& book,
                                                       const std::shared_ptr<ItemHost>& host);
    QList<MailboxError> errors() const { return m_errors; }

    // The card's bytes with the item's changes: its categories, and for a list its name (FN) and members
    // (source.memberRefs). Only the lines of what changed are rewritten; everything else the card holds is
    // kept byte for byte. Throws MailboxError (Unsupported) for a person's new name or a list without one.
    static QByteArray cardWith(const VCard& card, const MailboxItem& item);
    // A new vCard 4.0 group card for the list item under `uid`.
    static QByteArray newGroupCard(const MailboxItem& item, const QString& uid);

    // A new distribution list of this folder, written by its save(); other classes are refused.
    std::shared_ptr<MailboxItem> newItem(const QString& messageClass) override;

    // Writes the item's changes (see cardWith) into its file, replaced atomically, or a new list into a new
    // file. Throws MailboxError: Conflict when the file changed since it was read, Unsupported for a change
    // that cannot be written, NotFound when the file is gone, WriteFailed or AccessDenied when it cannot be
    // replaced.
    void saveItem(MailboxItem& item) override;
    void deleteItem(MailboxItem& item) override;
    void displayItem(const MailboxItem& item, bool modal) override;

protected:
    QUrl location() const override;
    Mailbox& mailbox() const override { return m_mailbox; }

private:
    // The name on disk of the subfolder called `name` (letter case ignored), or empty.
    QString subfolderName(const QString& name) const;
    // The item's file, after checking that it is one of this folder's.
    QString fileOf(const MailboxItem& item) const;
    void createItem(MailboxItem& item);

    Mailbox& m_mailbox;
    std::shared_ptr<AddressBook> m_book;
    QString m_path;
    QString m_name;
    QList<MailboxError> m_errors;
};
