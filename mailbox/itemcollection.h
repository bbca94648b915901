#pragma once

#include "mailbox/folder.h"
#include "mailbox/restriction.h"

#include <QList>
#include <QString>

#include <memory>
#include <optional>

// A folder's items: by 1-based index or by name, sorted, and searched with find and findNext. A search
// takes a snapshot of the folder, so findNext walks the items as they were when find ran.
class ItemCollection {
public:
    explicit ItemCollection(std::shared_ptr<Folder> folder);

    int count();
    // Throw MailboxError (NotFound) when there is no such item.
    std::shared_ptr<MailboxItem> item(int index);
    std::shared_ptr<MailboxItem> item(const QString& name);

    // Only "[Start]" is offered, ascending or descending.
    void sort(const QString& property, bool descending = false);
    // Each occurrence of a recurring series is then an item of its own.
    bool includeRecurrences = false;

    // The first matching item, or nothing when none is left. An unreadable item in the folder makes find
    // or findNext throw MailboxError (ItemUnreadable) once, in its place; the next findNext goes on after it.
    std::shared_ptr<MailboxItem> find(const QString& restriction);
    std::shared_ptr<MailboxItem> findNext();
    // The folder's revision of what the last find searched (Folder::Scan): a later find with the same
    // restriction on a scan of the same non-zero revision hands out the same items. 0 when unknown.
    quint64 revision() const { return m_revision; }

    std::shared_ptr<MailboxItem> add(const QString& messageClass);

private:
    std::shared_ptr<MailboxItem> next();

    std::shared_ptr<Folder> m_folder;
    std::optional<QList<std::shared_ptr<MailboxItem>>> m_stored; // read once, on first use
    bool m_sorted = false;
    bool m_descending = false;
    // What the last find found: the unreadable items' errors first, then the candidates in order. Occurrences
    // are the search's own copies, which nothing else can change, and are matched as findNext reaches them,
    // so that an item is fresh in the cache when the caller reads it; stored items are matched by find.
    QList<MailboxError> m_errors;
    qsizetype m_errorCursor = 0;
    QList<std::shared_ptr<MailboxItem>> m_candidates;
    qsizetype m_cursor = 0;
    std::optional<Restriction> m_pending; // the restriction the candidates still have to meet
    quint64 m_revision = 0;
};
