#pragma once

#include "mailbox/addressbook.h"
#include "mailbox/calendarprefilter.h"
#include "mailbox/dav/davclient.h"
#include "mailbox/dav/davdiscovery.h"
#include "mailbox/dav/davmirror.h"
#include "mailbox/icalendarfile.h"
#include "mailbox/mailbox.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QUrl>

#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <vector>

// The CalDAV/CardDAV back end. The user's principal and homes are found at construction; the contacts
// folder is the first address book of the home that is not the team folder, the team folder is the address
// book named "Rotavine" beside it. A member's calendar is the CALURI of their card, else the first event
// calendar of their home by the server's conventions, looked for where an earlier process found it first.
// Every calendar and address book is mirrored on disk (DavMirror) and brought up to date by what changed: a
// calendar by one sync-collection REPORT from its last sync token, which brings the changed objects too
// (where the server has no sync, by its getctag and, when that changed, the ETags of every object and the
// objects that changed); calendars are expanded here from the mirror with libical, whatever the window, and
// an object is parsed only for a window its bytes show it may reach. When the server cannot be reached, the
// mirror answers the reads and writes are refused (offlineSince()). Writes never overwrite blindly: new items
// with If-None-Match: *, changes and deletions with If-Match.
class DavMailbox : public Mailbox {
public:
    struct Options {
        QUrl server;
        QString user;
        QString password;
        bool insecureTls = false;
        int timeoutSeconds = 30;
        int maxInFlight = 8;
        // Who sends meeting requests: the organizer written into them.
        QString ownerName;
        QString ownerAddress;
        // Fixed by tests to make written items reproducible.
        std::function<QDateTime()> now;
        std::function<QString()> newUid;
        // Name look-ups check the address books again when the last check is older than this.
        int addressBookMaxAgeMs = 2000;
    };

    // Throws MailboxError when the account cannot be found or the server refuses the user, and when the
    // server cannot be reached and nothing of the account is mirrored.
    explicit DavMailbox(Options options);
    ~DavMailbox() override;

    std::shared_ptr<Folder> sharedDefaultFolder(const Recipient& recipient, int folderType) override;
    std::shared_ptr<Folder> defaultFolder(int folderType) override;
    std::optional<ResolvedPerson> resolveName(const QString& name) override;
    void sendItem(MailboxItem& item) override;
    void prepareCalendars(const QStringList& names, const QString& restriction) override;
    std::optional<QDateTime> offlineSince() const override;

    const DavDiscovery::Account& account() const { return m_account; }
    DavClient& client() { return *m_client; }
    const DavMirror& mirror() const { return m_mirror; }

    // What the folders ask of the mailbox.
    Folder::Scan readCalendar(const QUrl& calendar, const QString& owner, const TimeWindow& window);
    QList<std::shared_ptr<MailboxItem>> storedCalendarItems(const QUrl& calendar, const QString& owner);
    // Writes a new event into the calendar; returns its address and sets its ETag (empty when the server
    // gave none). Throws MailboxError.
    QUrl putEvent(const QUrl& calendar, const MailboxItem& item, const QList<ResolvedPerson>& attendees,
                  QString* uid, QByteArray* etag);
    // Deletes an item if it is still the version read. Throws MailboxError.
    void deleteResource(const QUrl& url, const QString& etag, const QString& subject);

    // The address books of the home as the server lists them now. Throws MailboxError.
    QList<DavCollection> addressBookCollections();
    // Makes an address book in the home. Throws MailboxError.
    DavCollection createAddressBook(const QString& name);
    // The cards of an address book, read again where they changed, in address order; unreadable cards are
    // appended to `errors`. Throws MailboxError when the book cannot be read.
    QList<AddressBook::Contact> bookContacts(const QUrl& book, QList<MailboxError>* errors);
    // Writes the item's changes (ContactsFolder::cardWith) if its card is still the version read, or a new
    // list into the address book `book` when it was never saved. Throws MailboxError.
    void saveCard(MailboxItem& item, const QUrl& book);
    std::shared_ptr<AddressBook> addressBook() { return m_addressBook; }

    // Named look-ups refresh the address books now rather than when they are next due.
    void expireAddressBooks() { m_booksChecked.invalidate(); }

    class CalendarRead;
    struct CalendarState;
    struct Book;

private:
    // Brings the address books up to date when due (or now with `force`). Throws MailboxError when even the
    // list of books cannot be read.
    void refreshBooks(bool force);
    void loadBooks(const QList<Book*>& books);
    void rebuildAddressBook();
    Book* bookAt(const QUrl& url);
    void createCard(MailboxItem& item, const QUrl& book);
    // The ETag the server gives the resource now, for servers that change a card as they store it and send
    // none; empty when it cannot be had.
    QByteArray currentEtag(const QUrl& url, const QString& what);
    QString calendarKey(const ResolvedPerson& person) const;
    QUrl locateCalendar(const ResolvedPerson& person);
    Folder::Scan expand(CalendarState& state, const ICalendarFile::Window& window);

    // The calendar's state in this process, first taken from the mirror.
    std::shared_ptr<CalendarState> calendarState(const QUrl& calendar);
    // A calendar read whole is parsed on another core while the other replies are still coming.
    void parseAhead(const std::shared_ptr<CalendarState>& state);
    // Parses what the reads brought for `window` (all of it without), on every core, and mirrors the
    // calendars that changed.
    void settleCalendars(const std::optional<ICalendarFile::Window>& window);
    struct Parse;
    // Parses objects for `window` on every core: each Parse with the bytes it is of.
    static void parseAll(const std::vector<std::pair<Parse*, const QByteArray*>>& objects,
                         const std::optional<ICalendarFile::Window>& window);
    void mirrorCalendar(const QUrl& calendar, const CalendarState& state);
    void mirrorBook(const Book& book);
    void mirrorAccount();
    // Runs on the mirrored account after the server could not be reached; false when nothing is mirrored.
    bool startOffline();
    // After reads: online again when one reached the server, offline when the mirror stood in for one.
    void noteReads(bool reached, bool offline);
    // Throws MailboxError (WriteFailed) while offline: nothing is written on top of a copy.
    void refuseWhenOffline(const QString& subject) const;

    Options m_options;
    std::unique_ptr<DavClient> m_client;
    DavMirror m_mirror;
    bool m_syncRefused = false; // the server does not offer sync-collection
    bool m_offline = false;
    QDateTime m_lastReached; // from the mirror, then this process's replies
    DavDiscovery::Account m_account;
    std::shared_ptr<AddressBook> m_addressBook;

    std::vector<std::unique_ptr<Book>> m_books; // in address order
    QElapsedTimer m_booksChecked;

    struct Located {
        QUrl url;
        std::optional<MailboxError> error; // of a read prepared ahead, raised once
    };
    QHash<QString, Located> m_located; // by calendarKey
    // Where earlier processes found members' calendars: read there first, looked for again if gone.
    QHash<QString, QUrl> m_mirroredLocations;
    QSet<QString> m_moved; // keys whose calendar was not where it was found: not to be mirrored
    QHash<QString, std::shared_ptr<CalendarState>> m_calendars; // by DavDiscovery::urlKey
    // What parsing made of an object's bytes. An object whose bytes show that it cannot reach the window
    // being read is left unparsed until a window it reaches is asked for.
    struct Parse {
        std::shared_ptr<const ICalendarFile> parsed;
        QString error;
        std::optional<CalendarPrefilter::Reach> reach; // as the bytes showed, when left unparsed
        bool done = false;                             // parsed, or found unreadable
        // Whether the object must be parsed before `window` is expanded (no window: before anything is).
        bool wantedFor(const std::optional<ICalendarFile::Window>& window) const
        {
            return !done && (!window || !reach || reach->meets(*window));
        }
        void run(const QByteArray& bytes, const std::optional<ICalendarFile::Window>& window);
    };
    // The window of the reads being prepared: what parseAhead parses for.
    std::optional<ICalendarFile::Window> m_readWindow;
    // parseAhead's work: copies of a calendar's unparsed items, parsed on another thread and taken into the
    // calendar by settleCalendars, so that no thread touches what the replies change.
    struct ParsedItem {
        QString key;
        QByteArray bytes;
        Parse parse;
    };
    struct Parsing {
        std::shared_ptr<CalendarState> state;
        std::future<std::vector<ParsedItem>> items;
    };
    std::vector<Parsing> m_parsing;
};
