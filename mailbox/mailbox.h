#pragma once

#include "mailbox/folder.h"
#include "mailbox/mailboxitem.h"

#include <QDateTime>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class Mailbox;
struct NewEvent;

// A person of the address book a name resolved to.
struct ResolvedPerson {
    QString displayName;
    QString address;  // e-mail address
    QString calendar; // where the back end finds the person's calendar
};

class Recipient {
public:
    Recipient(Mailbox* mailbox, QString name) : m_mailbox(mailbox), m_name(std::move(name)) {}

    // The display name once resolved, else the name as given.
    QString name() const { return m_person ? m_person->displayName : m_name; }
    QString address() const { return m_person ? m_person->address : QString(); }
    bool resolve();
    bool isResolved() const { return m_person.has_value(); }
    const std::optional<ResolvedPerson>& person() const { return m_person; }

private:
    Mailbox* m_mailbox;
    QString m_name;
    std::optional<ResolvedPerson> m_person;
};

// What the program asks of the desktop: open a file, folder or web page, or compose a mail. The windows (and
// the tests) may replace how it is done; by default it goes through the desktop's handlers.
struct DisplayRequest {
    enum Kind { Open, ComposeMail };
    Kind kind = Open;
    QUrl url; // Open: what to open; ComposeMail: the mailto: URL
    QString to;
    QString body;
    bool modal = false;
    // Open: the program the user chose for calendars, run with the folder's path by the windows' handler;
    // empty for the desktop's own handler.
    QString program;
};
using DisplayHandler = std::function<void(const DisplayRequest&)>;

// The session with the user's calendars and address book. One back end is chosen at start-up: a folder of
// iCalendar and vCard files, or a CalDAV/CardDAV server.
class Mailbox : public ItemHost {
public:
    static constexpr int kMailItem = 0;
    static constexpr int kAppointmentItem = 1;
    static constexpr int kCalendarFolder = 9;
    static constexpr int kContactsFolder = 10;

    Mailbox();
    ~Mailbox() override;

    Recipient createRecipient(const QString& name) { return Recipient(this, name); }

    // The member's calendar (folderType 9). Throws MailboxError when it cannot be opened.
    virtual std::shared_ptr<Folder> sharedDefaultFolder(const Recipient& recipient, int folderType) = 0;
    // The user's contacts folder (folderType 10).
    virtual std::shared_ptr<Folder> defaultFolder(int folderType) = 0;

    // A mail (0) or an appointment to be sent as a meeting request (1), not stored anywhere until sent.
    std::shared_ptr<MailboxItem> createItem(int itemType);

    // The unique person the name matches: display name, e-mail address or the address's local part, letter
    // case ignored. Nothing when no person or several match.
    virtual std::optional<ResolvedPerson> resolveName(const QString& name) = 0;

    // Called by a query before it reads its members' calendars one by one, with the member names and the
    // restriction it will search them with. A back end that reads over the network starts all the reads
    // here together; failures are kept and raised by each member's own calls, in the query's order.
    virtual void prepareCalendars(const QStringList& names, const QString& restriction);

    // While a back end that reads from a server runs on its local copy because the server cannot be
    // reached: when the server was last reached. Nothing when online, and for back ends without a server.
    virtual std::optional<QDateTime> offlineSince() const { return std::nullopt; }

    void setDisplayHandler(DisplayHandler handler) { m_display = std::move(handler); }
    bool hasDisplayHandler() const { return bool(m_display); }
    DisplayHandler displayHandler() const { return m_display; }
    // The command a calendar folder is opened with instead of the file manager (its path is appended); empty
    // for the desktop's handler.
    void setCalendarProgram(const QString& command) { m_calendarProgram = command; }
    QString calendarProgram() const { return m_calendarProgram; }
    void display(const DisplayRequest& request) const;

    // Composed mails are displayed; meeting requests are sent by the back end.
    void displayItem(const MailboxItem& item, bool modal) override;

protected:
    // What a new appointment or meeting request is written as: the item's fields under `uid`, and for a
    // meeting its attendees with the owner as organizer. Throws MailboxError (WriteFailed) for an item
    // without a start.
    static NewEvent eventFor(const MailboxItem& item, const QString& uid, const QDateTime& stamp,
                             const QString& ownerName, const QString& ownerAddress,
                             const QList<ResolvedPerson>& attendees);
    // The person whose calendar sharedDefaultFolder opens; throws MailboxError for another folder type
    // (Unsupported) or a recipient not resolved (NotResolved).
    static const ResolvedPerson& calendarOwner(const Recipient& recipient, int folderType);
    // The file or resource name of a new event: its UID, which may come from elsewhere, with whatever is
    // unsafe in a file name replaced, and ".ics".
    static QString eventFileName(const QString& uid);

private:
    DisplayHandler m_display;
    QString m_calendarProgram;
};
