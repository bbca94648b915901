#pragma once

#include "mailbox/mailboxerror.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

class VCard;

// The address book of a folder mailbox: the vCard files of its contacts folder and of the team folder inside
// it. Parsed files are cached; a refresh lists each of the two folders once and reads again only the files
// whose size, modification time or inode changed, so that the many look-ups of one query cost no disk reads.
class AddressBook {
public:
    static inline const QString kTeamFolderName = QStringLiteral("Rotavine");

    // A person's card or a group's (a distribution list).
    struct Contact {
        enum Kind { Person, Group };
        Kind kind = Person;
        QString file; // absolute path
        QString etag; // the file's state when it was read (see fileTag)
        QString uid;
        QString name; // FN
        // Every EMAIL, the preferred one first, then in file order. For a contact returned by resolve, the
        // address the name matched comes first.
        QStringList emails;
        QString calendarUri; // CALURI
        QStringList categories;
        QStringList memberRefs; // a group's MEMBER (or X-ADDRESSBOOKSERVER-MEMBER) values, in file order

        bool isGroup() const { return kind == Group; }
    };

    // `contactsPath` is the mailbox's contacts folder; the team folder is its subfolder "Rotavine".
    explicit AddressBook(const QString& contactsPath);
    // A book that reads no folder: its contacts are handed to it (a server's address books), the contacts
    // folder's first and the team folder's after them, with the errors met reading them.
    AddressBook();
    void setContacts(QList<Contact> contacts, QList<MailboxError> errors);

    QString path() const { return m_path; }
    // The team folder as found at the last refresh (<contacts>/Rotavine while there is none).
    QString teamFolderPath() const;

    // Look-ups refresh the book first when the last refresh is older than this (2 s by default), so that
    // one query's look-ups share one refresh and a query a few minutes later sees the files as they are.
    void setMaximumAge(int milliseconds) { m_maximumAge = milliseconds; }
    // Lists both folders now and reads what changed.
    void refresh();

    QList<Contact> persons();
    QList<Contact> groups();
    // The errors of the last refresh: a missing or unreadable contacts folder, and every file that could not
    // be read (numbered ItemUnreadable, naming the file). Such files are left out of the book.
    QList<MailboxError> errors();

    // The one person whose FN, e-mail address or the address's local part is `name`, letter case ignored.
    // Nothing when no person or several match; cards with the same UID count as one person.
    std::optional<Contact> resolve(const QString& name);
    // What a list shows for one of its members ("urn:uuid:…", "mailto:…", a bare UID or address): the FN of
    // the card it designates, else the address itself (or the reference as stored when it is no address).
    QString memberDisplayName(const QString& reference);
    QStringList memberDisplayNames(const Contact& group);
    // The e-mail address a member reference stands for: its own (mailto:), or that of the card it designates;
    // empty when it names no address.
    QString memberAddress(const QString& reference);
    QStringList memberAddresses(const Contact& group);

    // The cards directly in `directory`, in file-name order, read now (cached ones that did not change are
    // not read again); files that cannot be read are left out and appended to `errors`. Throws MailboxError
    // when the folder itself is missing (NotFound) or cannot be read (AccessDenied).
    QList<Contact> readFolder(const QString& directory, QList<MailboxError>* errors = nullptr);

    // The state of a file (device, inode, size, modification time) as text, empty when there is no such
    // file; a symbolic link is described by its target.
    static QString fileTag(const QString& path);
    // The same for a file already open.
    static QString fileTag(int descriptor);
    // The contact a card describes; `file` and `etag` are left empty.
    static Contact contactFromCard(const VCard& card);

private:
    struct CachedFile {
        QString tag;
        std::optional<Contact> contact;
        QString error;
    };

    void refreshIfStale();
    // Lists one folder, updating the cache; returns its files in name order. Sets `changed` when a card
    // appeared, changed or went away.
    // `subfolders` receives the names of the entries that may be folders.
    QStringList scan(const QString& directory, bool& changed, QStringList* subfolders = nullptr);
    CachedFile read(const QString& file) const;
    void rebuildIndex();

    QString m_path;
    QString m_teamFolder; // its name on disk may differ in letter case
    int m_maximumAge = 2000;
    QElapsedTimer m_sinceRefresh;

    QHash<QString, CachedFile> m_files;    // by absolute path
    QMap<QString, QStringList> m_listings; // folder → its files at the last listing
    QList<MailboxError> m_folderErrors;    // of the last refresh
    bool m_indexValid = false;
    bool m_handed = false; // contacts given by setContacts, no folder read
    QList<Contact> m_handedContacts;
    QList<MailboxError> m_handedErrors;

    // The book: contacts folder first, then the team folder, each in file-name order.
    QList<Contact> m_contacts;
    QList<MailboxError> m_errors;
    QHash<QString, QList<qsizetype>> m_byUid;
    QHash<QString, QList<qsizetype>> m_byEmail;
    QHash<QString, QList<qsizetype>> m_byName;
    QHash<QString, QList<qsizetype>> m_byLocalPart;
};
