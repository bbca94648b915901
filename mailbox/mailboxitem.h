#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class ItemHost;

// One item of the object model: an appointment (or one occurrence of a series), a person's contact, a
// distribution list, a mail or a meeting request being composed. Its properties are plain fields; the
// operations go to the back end that read or created it.
class MailboxItem {
public:
    static inline const QString kAppointment = QStringLiteral("IPM.Appointment");
    static inline const QString kContact = QStringLiteral("IPM.Contact");
    static inline const QString kDistList = QStringLiteral("IPM.DistList");
    static inline const QString kMail = QStringLiteral("IPM.Note");

    enum Sensitivity : int { Normal = 0, Personal = 1, Private = 2, Confidential = 3 };
    enum RecipientType : int { Originator = 0, Required = 1, Optional = 2, Resource = 3 };

    struct Recipient {
        QString name;
        int type = Required;
    };

    // Appointments
    QDateTime start; // local time
    QDateTime end;   // local time
    bool allDay = false;
    QString subject; // also a contact's or a list's name
    QString body;
    QString categories; // every category, joined by ";"
    int sensitivity = Normal;
    QString messageClass;

    // Meeting requests and mails being composed
    int meetingStatus = 0; // 1 = meeting
    bool reminderSet = true;
    QList<Recipient> recipients;
    QString to;

    // Distribution lists: the members' display names in list order.
    int memberCount() const { return int(m_members.size()); }
    // 1-based; throws MailboxError (NotFound) outside 1..memberCount.
    QString member(int index) const;

    // Throw MailboxError on failure.
    void save();
    void send();
    void remove();
    void display(bool modal = false);

    // Back-end bookkeeping: where the item lives and which version was read.
    struct Source {
        QString location;       // file path or server address of the stored object
        QString etag;           // version read, for writes that must not overwrite a newer one
        QString uid;            // UID of the iCalendar object or vCard
        QDateTime recurrenceId; // the occurrence, for one of a series; null otherwise
        // Distribution lists: the MEMBER values as stored ("urn:uuid:…", "mailto:…"); save() writes them.
        QStringList memberRefs;
        QString address; // persons: the preferred e-mail address
    };
    Source source;

    void attach(std::shared_ptr<ItemHost> host) { m_host = std::move(host); }
    void setMembers(QStringList displayNames, QStringList addresses = {})
    {
        m_members = std::move(displayNames);
        m_memberAddresses = std::move(addresses);
    }
    // The member's e-mail address where the list gives one (1-based, as member()); empty otherwise.
    QString memberAddress(int index) const { return m_memberAddresses.value(index - 1); }

private:
    std::shared_ptr<ItemHost> m_host;
    QStringList m_members;
    QStringList m_memberAddresses;
};

// What an item's operations are carried out by: its folder, or the mailbox for an item it created.
class ItemHost {
public:
    virtual ~ItemHost() = default;
    virtual void saveItem(MailboxItem& item);
    virtual void sendItem(MailboxItem& item);
    virtual void deleteItem(MailboxItem& item);
    virtual void displayItem(const MailboxItem& item, bool modal);
};
