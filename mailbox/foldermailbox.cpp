#include "mailbox/foldermailbox.h"

#include "mailbox/addressbook.h"
#include "mailbox/calendarfolder.h"
#include "mailbox/calendarindex.h"
#include "mailbox/contactsfolder.h"
#include "mailbox/directorywatcher.h"
#include "mailbox/icalendarfile.h"
#include "mailbox/newfile.h"
#include "mailbox/parallelwork.h"
#include "mailbox/restriction.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <QUuid>

#include <algorithm>
#include <vector>

FolderMailbox::FolderMailbox(Options options) : m_options(std::move(options))
{
    const QFileInfo root(m_options.root);
    if (!root.isDir())
        throw MailboxError(MailboxError::NotFound,
                           QStringLiteral("The mailbox folder %1 does not exist").arg(m_options.root));
    m_options.root = root.absoluteFilePath();
    if (!m_options.now)
        m_options.now = [] { return QDateTime::currentDateTimeUtc(); };
    if (!m_options.newUid)
        m_options.newUid = [] { return QUuid::createUuid().toString(QUuid::WithoutBraces); };
    m_addressBook = std::make_shared<AddressBook>(m_options.root + QStringLiteral("/contacts"));
    m_watcher = std::make_shared<DirectoryWatcher>();
}

FolderMailbox::~FolderMailbox() = default;

std::optional<ResolvedPerson> FolderMailbox::resolveName(const QString& name)
{
    const std::optional<AddressBook::Contact> contact = m_addressBook->resolve(name);
    if (!contact)
        return std::nullopt;
    ResolvedPerson person;
    person.displayName = contact->name;
    person.address = contact->emails.value(0);
    // The calendar is the folder named by one of the person's addresses, the first that exists.
    const QString calendars = m_options.root + QStringLiteral("/calendars/");
    person.calendar = calendars + person.address;
    for (const QString& email : contact->emails) {
        for (const QString& candidate : {email, email.toLower()}) {
            if (QFileInfo(calendars + candidate).isDir()) {
                person.calendar = calendars + candidate;
                return person;
            }
        }
    }
    return person;
}

void FolderMailbox::prepareCalendars(const QStringList& names, const QString& restriction)
{
    std::vector<std::shared_ptr<CalendarIndex>> indexes;
    for (const QString& name : names) {
        if (const std::optional<ResolvedPerson> person = resolveName(name);
            person && QFileInfo(person->calendar).isDir())
            indexes.push_back(indexFor(QFileInfo(person->calendar).absoluteFilePath()));
    }
    // A folder named twice is read once: an index is not to be read on two threads.
    std::sort(indexes.begin(), indexes.end());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    const std::size_t threads =
        std::min(std::size_t(std::max(1, QThread::idealThreadCount())), indexes.size());
    if (threads < 2)
        return;
    TimeWindow window;
    try {
        window = Restriction::parse(restriction).window();
    }
    catch (const MailboxError&) {
        return; // the query's reads say what is wrong with it
    }
    ICalendarFile::initialiseLibrary();
    ParallelWork::forEach(indexes.size(), threads, [&](std::size_t i) {
        try {
            indexes[i]->prepare(window);
        }
        catch (const MailboxError&) {
            // Raised again, in the query's order, by the member's own read.
        }
    });
}

std::shared_ptr<CalendarIndex> FolderMailbox::indexFor(const QString& directory)
{
    std::shared_ptr<CalendarIndex>& index = m_indexes[directory];
    if (!index)
        index = std::make_shared<CalendarIndex>(directory, m_watcher);
    return index;
}

std::shared_ptr<Folder> FolderMailbox::sharedDefaultFolder(const Recipient& recipient, int folderType)
{
    const ResolvedPerson& person = calendarOwner(recipient, folderType);
    const QFileInfo directory(person.calendar);
    if (!directory.isDir())
        throw MailboxError(MailboxError::NotFound,
                           QStringLiteral("%1 has no calendar: the folder %2 does not exist")
                               .arg(person.displayName, person.calendar));
    if (!directory.isReadable() || !directory.isExecutable())
        throw MailboxError(MailboxError::AccessDenied,
                           QStringLiteral("The calendar of %1 (%2) cannot be read")
                               .arg(person.displayName, person.calendar));
    return std::make_shared<CalendarFolder>(*this, indexFor(directory.absoluteFilePath()),
                                            person.displayName);
}

std::shared_ptr<Folder> FolderMailbox::defaultFolder(int folderType)
{
    if (folderType != kContactsFolder)
        throw MailboxError(
            MailboxError::Unsupported,
            QStringLiteral("Only the contacts folder (10) is offered, not type %1").arg(folderType));
    return std::make_shared<ContactsFolder>(
        *this, m_addressBook, m_options.root + QStringLiteral("/contacts"), QStringLiteral("Contacts"));
}

QString FolderMailbox::writeEvent(const QString& calendarDirectory, const MailboxItem& item,
                                  const QList<ResolvedPerson>& attendees, QString* uid)
{
    if (uid->isEmpty())
        *uid = m_options.newUid();
    const NewEvent event =
        eventFor(item, *uid, m_options.now(), m_options.ownerName, m_options.ownerAddress, attendees);
    const QString fileName = eventFileName(*uid);
    const QString error = writeNewFile(calendarDirectory, fileName, writeICalendar(event));
    if (!error.isEmpty())
        throw MailboxError(MailboxError::WriteFailed,
                           QStringLiteral("\"%1\" was not saved: %2").arg(item.subject, error));
    return calendarDirectory + u'/' + fileName;
}

void FolderMailbox::sendItem(MailboxItem& item)
{
    // A folder mailbox has no server to deliver the request: it goes straight into each calendar.
    QList<ResolvedPerson> attendees;
    QStringList unreachable;
    for (const MailboxItem::Recipient& recipient : item.recipients) {
        const std::optional<ResolvedPerson> person = resolveName(recipient.name);
        if (person && QFileInfo(person->calendar).isDir())
            attendees.append(*person);
        else
            unreachable << recipient.name;
    }
    QList<ResolvedPerson> calendars = attendees;
    if (!m_options.ownerAddress.isEmpty()) {
        const std::optional<ResolvedPerson> owner = resolveName(m_options.ownerAddress);
        const bool invited = std::any_of(attendees.begin(), attendees.end(), [&](const ResolvedPerson& p) {
            return owner && p.calendar == owner->calendar;
        });
        if (owner && !invited && QFileInfo(owner->calendar).isDir())
            calendars.append(*owner);
    }

    QString uid;
    for (const ResolvedPerson& person : std::as_const(calendars)) {
        try {
            writeEvent(person.calendar, item, attendees, &uid);
        }
        catch (const MailboxError& error) {
            unreachable << QStringLiteral("%1 (%2)").arg(person.displayName, error.description());
        }
    }
    item.source.uid = uid;
    if (!unreachable.isEmpty())
        throw MailboxError(MailboxError::NotResolved,
                           QStringLiteral("The meeting request \"%1\" could not be delivered to: %2")
                               .arg(item.subject, unreachable.join(QStringLiteral(", "))));
}
