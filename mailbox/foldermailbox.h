#pragma once

#include "mailbox/mailbox.h"

#include <QHash>
#include <QString>

#include <functional>
#include <memory>

class AddressBook;
class CalendarIndex;
class DirectoryWatcher;
struct NewEvent;

// The embedded back end: a folder of iCalendar and vCard files.
//   <root>/contacts/*.vcf            the address book
//   <root>/contacts/Rotavine/*.vcf   the team folder
//   <root>/calendars/<email>/*.ics   one calendar per person
class FolderMailbox : public Mailbox {
public:
    struct Options {
        QString root;
        // Who sends meeting requests: the organizer written into them.
        QString ownerName;
        QString ownerAddress;
        // Fixed by tests to make written files reproducible.
        std::function<QDateTime()> now;
        std::function<QString()> newUid;
    };

    // Throws MailboxError (NotFound) when root is not a mailbox folder.
    explicit FolderMailbox(Options options);
    ~FolderMailbox() override;

    std::shared_ptr<Folder> sharedDefaultFolder(const Recipient& recipient, int folderType) override;
    std::shared_ptr<Folder> defaultFolder(int folderType) override;
    std::optional<ResolvedPerson> resolveName(const QString& name) override;
    // Reads the members' calendar folders on all cores, each on one thread; the query's reads of them then
    // find them read. What cannot be read is left for those reads to report.
    void prepareCalendars(const QStringList& names, const QString& restriction) override;

    // A meeting request: written into every attendee's calendar and the owner's own. Attendees that cannot
    // be reached are reported in one MailboxError after the others were written.
    void sendItem(MailboxItem& item) override;

    // Writes a new event file into a calendar folder; returns its path. Throws MailboxError (WriteFailed).
    QString writeEvent(const QString& calendarDirectory, const MailboxItem& item,
                       const QList<ResolvedPerson>& attendees, QString* uid);

    QString root() const { return m_options.root; }

private:
    QString calendarDirectory(const ResolvedPerson& person) const;
    std::shared_ptr<CalendarIndex> indexFor(const QString& directory);

    Options m_options;
    std::shared_ptr<AddressBook> m_addressBook;
    std::shared_ptr<DirectoryWatcher> m_watcher;
    QHash<QString, std::shared_ptr<CalendarIndex>> m_indexes;
};
