#pragma once

#include "mailbox/mailboxerror.h"
#include "mailbox/mailboxitem.h"
#include "mailbox/restriction.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <memory>

class ItemCollection;
class Mailbox;

// A folder of the object model: a member's calendar, the contacts folder or one of its subfolders.
class Folder : public ItemHost, public std::enable_shared_from_this<Folder> {
public:
    enum Kind { Calendar, Contacts };

    virtual Kind kind() const = 0;
    virtual QString name() const = 0;

    // The subfolder of that name (letter case ignored); throws MailboxError (NotFound) when there is none.
    virtual std::shared_ptr<Folder> folder(const QString& name);
    // Creates the subfolder, or returns it when it exists.
    virtual std::shared_ptr<Folder> addFolder(const QString& name);

    ItemCollection items();
    void display(bool modal = false);

    // What the item collection is built on. Stored items come in a stable order (a calendar's series and
    // single events, a contacts folder's persons and lists).
    virtual QList<std::shared_ptr<MailboxItem>> storedItems() = 0;

    // Every occurrence that touches the window, in ascending Start order (stable for equal starts), and
    // the items that could not be read, as errors numbered ItemUnreadable.
    struct Scan {
        QList<std::shared_ptr<MailboxItem>> occurrences;
        QList<MailboxError> errors;
        // Tells scans apart without reading them: two scans with the same revision, other than 0, found
        // the same occurrences and errors. A back end that keeps its occurrences between scans gives them a
        // new revision each time it works them out again (nextRevision); 0 promises nothing.
        quint64 revision = 0;
    };
    // A revision no scan in this process has had yet.
    static quint64 nextRevision();
    virtual Scan occurrences(const TimeWindow& window);

    // A new item of the class ("IPM.Appointment"), saved into this folder by its save().
    virtual std::shared_ptr<MailboxItem> newItem(const QString& messageClass);

protected:
    // Makes this folder the items' host: where they are saved, deleted and displayed.
    void attachAll(const QList<std::shared_ptr<MailboxItem>>& items);
    // For calendars: a new appointment of this folder, and other classes refused as newItem refuses them.
    std::shared_ptr<MailboxItem> newAppointment(const QString& messageClass);
    // For calendars: an item is saved once; changing stored appointments is not offered.
    static void refuseSavedAgain(const MailboxItem& item);

    // Where display sends the user: the folder's own place.
    virtual QUrl location() const = 0;
    virtual Mailbox& mailbox() const = 0;
};
