#include "planning/teamgroups.h"

#include "base/settingsstore.h"
#include "mailbox/folder.h"
#include "mailbox/itemcollection.h"
#include "mailbox/mailbox.h"
#include "planning/enginestate.h"

#include <QSet>

#include <exception>

namespace {

// Restores the normal pointer however loadTeams ends, cancelled or failed included.
class BusyPointer {
public:
    explicit BusyPointer(const std::function<void(bool)>& setBusy) : m_setBusy(setBusy)
    {
        if (m_setBusy)
            m_setBusy(true);
    }
    ~BusyPointer()
    {
        if (m_setBusy)
            m_setBusy(false);
    }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;

private:
    const std::function<void(bool)>& m_setBusy;
};

void warn(const TeamContext& context, const QString& line)
{
    if (context.warn)
        context.warn(line);
}

// The team folder; a missing one is created, as an empty folder, so that it can be read.
std::shared_ptr<Folder> openOrCreateTeamFolder(Mailbox& mailbox)
{
    const std::shared_ptr<Folder> contacts = mailbox.defaultFolder(Mailbox::kContactsFolder);
    try {
        return contacts->folder(kTeamFolderName);
    }
    catch (const MailboxError& error) {
        if (error.number() != MailboxError::NotFound)
            throw;
    }
    return contacts->addFolder(kTeamFolderName);
}

// The item of that name, or nothing when it cannot be had: while selecting, a failing call only yields an
// empty value.
std::shared_ptr<MailboxItem> itemNamed(Folder& folder, const QString& name)
{
    try {
        return folder.items().item(name);
    }
    catch (const MailboxError&) {
        return nullptr;
    }
}

// Appends the display names of the list's members in list order. A member that cannot be read is left out
// rather than shown as an empty line, which the calendar query would then look up.
void addMembers(Folder& folder, const QString& name, MemberList& members)
{
    const std::shared_ptr<MailboxItem> list = itemNamed(folder, name);
    if (!list)
        return;
    const int count = list->memberCount();
    for (int index = 1; index <= count; ++index) {
        try {
            members.addItem(list->member(index), list->memberAddress(index));
        }
        catch (const MailboxError&) {
        }
    }
}

// Fills `teams` with the team folder's marked lists. The item count is read once; the event loop runs
// before each item so that the cancel button is seen, and a cancel keeps the teams found so far. Of two
// lists with one name (letter case ignored) the first in the folder's order counts, as selecting a team by
// its name finds it; the other is said once and left out.
void listTeams(Folder& folder, TeamList& teams, const TeamContext& context)
{
    teams.clear();
    QSet<QString> listed;
    ItemCollection items = folder.items();
    const int count = items.count();
    for (int index = 1; index <= count; ++index) {
        if (context.yield)
            context.yield();
        if (!context.engine.queryRunning)
            return;
        std::shared_ptr<MailboxItem> item;
        try {
            item = items.item(index);
        }
        catch (const MailboxError& error) {
            // One unreadable item hides at most one team; the others are still worth listing.
            warn(context,
                 QStringLiteral("Team folder item %1 skipped: %2").arg(index).arg(error.description()));
            continue;
        }
        if (!item || !isTeamGroup(*item))
            continue;
        if (listed.contains(item->subject.toCaseFolded())) {
            warn(context, QStringLiteral("Two teams are named \"%1\"; the first one is used (%2 is left out)")
                              .arg(item->subject, item->source.location));
            continue;
        }
        listed.insert(item->subject.toCaseFolded());
        teams.addItem(item->subject);
    }
}

// Selects the team `name` when it is a marked item of the folder; false when it is not (or names nothing).
bool selectTeam(Folder& folder, const QString& name, TeamWindow& window)
{
    const std::shared_ptr<MailboxItem> item = itemNamed(folder, name);
    if (!item || !hasTeamMarker(item->categories))
        return false;
    window.members.clear();
    window.teams.setText(name);
    // Taken again rather than reusing `item`: the members are those of the list as it is now.
    addMembers(folder, name, window.members);
    return true;
}

} // namespace

bool hasTeamMarker(const QString& categories)
{
    return categories.contains(kTeamMarker, Qt::CaseInsensitive);
}

bool isTeamGroup(const MailboxItem& item)
{
    return item.messageClass.compare(MailboxItem::kDistList, Qt::CaseInsensitive) == 0 &&
           hasTeamMarker(item.categories);
}

std::shared_ptr<Folder> openTeamFolder(Mailbox& mailbox)
{
    return mailbox.defaultFolder(Mailbox::kContactsFolder)->folder(kTeamFolderName);
}

bool loadTeams(QString& name, TeamWindow& window, const TeamContext& context)
{
    const BusyPointer busy(context.setBusy);
    // A name that is not a team turns the selection into a listing: the loop runs at most twice.
    for (;;) {
        const bool listing = name.isEmpty();
        try {
            const std::shared_ptr<Folder> folder = openOrCreateTeamFolder(context.mailbox);
            context.engine.queryRunning = true;
            if (listing)
                listTeams(*folder, window.teams, context);
            else if (!selectTeam(*folder, name, window)) {
                name.clear();
                continue;
            }
        }
        catch (const std::exception& error) {
            // Teams that cannot be read are not offered: a stale name would only fail when chosen. A
            // selection that cannot be checked leaves both lists as they were.
            if (listing)
                window.teams.clear();
            const MailboxError* mailboxError = dynamic_cast<const MailboxError*>(&error);
            warn(context,
                 QStringLiteral("The teams cannot be read: %1")
                     .arg(mailboxError ? mailboxError->description() : QString::fromLocal8Bit(error.what())));
        }
        break;
    }
    context.engine.queryRunning = false;
    return false;
}

void showTeamMembers(TeamWindow& window, const TeamContext& context)
{
    const QString name = window.teams.text();
    if (name.isEmpty())
        return;
    window.members.clear();
    std::shared_ptr<Folder> folder;
    try {
        folder = openTeamFolder(context.mailbox);
    }
    catch (const MailboxError&) {
        return;
    }
    addMembers(*folder, name, window.members);
}

void selectTeam(TeamWindow& window, const TeamContext& context, SettingsStore& settings)
{
    context.engine.headersValid = false;
    const QString name = window.teams.text();
    if (name.isEmpty())
        return;
    showTeamMembers(window, context);
    if (!settings.write(QStringLiteral("Parameters"), QStringLiteral("SelectedTeam"), name))
        warn(context,
             QStringLiteral("The selected team cannot be remembered: %1").arg(settings.errorString()));
}
