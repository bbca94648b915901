#pragma once

#include <QString>

#include <functional>
#include <memory>

class Folder;
class Mailbox;
class MailboxItem;
class SettingsStore;
struct EngineState;

// The team combo box `teams` of a window (the main window and the group maintenance dialog both have one).
// Indexes are 0-based, as in the widgets.
class TeamList {
public:
    virtual ~TeamList() = default;
    virtual void clear() = 0;
    virtual void addItem(const QString& text) = 0;
    virtual QString text() const = 0;
    virtual void setText(const QString& text) = 0;
    virtual int count() const = 0;
    virtual QString item(int index) const = 0;
};

// The member list box `members` of a window. Indexes are 0-based.
class MemberList {
public:
    virtual ~MemberList() = default;
    virtual void clear() = 0;
    // A member as the list shows it, with the address the team gives for it (empty when none).
    virtual void addItem(const QString& text, const QString& address) = 0;
    virtual int count() const = 0;
    virtual QString item(int index) const = 0;
};

// The two controls of whichever window the team operations work on.
struct TeamWindow {
    TeamList& teams;
    MemberList& members;
};

// What the team operations need from the rest of the program. Empty functions are allowed and do nothing.
struct TeamContext {
    Mailbox& mailbox;
    EngineState& engine;
    // Lets the event loop run once; the cancel button clears engine.queryRunning from there.
    std::function<void()> yield;
    // Shows (true) or restores (false) the busy mouse pointer.
    std::function<void(bool)> setBusy;
    // One line for each failure the operations get past without telling the user (no message box).
    std::function<void(const QString&)> warn;
};

// The subfolder of the default contacts folder that holds the teams, and the category that marks a
// distribution list of that folder as a team.
inline const QString kTeamFolderName = QStringLiteral("Rotavine");
inline const QString kTeamMarker = QStringLiteral("<rotavine>");

// True when the categories hold the marker anywhere, letter case ignored.
bool hasTeamMarker(const QString& categories);
// A distribution list (message class compared ignoring case) carrying the marker.
bool isTeamGroup(const MailboxItem& item);

// The team folder. Throws MailboxError, NotFound when it does not exist (it is not created here).
std::shared_ptr<Folder> openTeamFolder(Mailbox& mailbox);

// With an empty `name`: lists the marked distribution lists of the team folder in `teams`, yielding to the
// event loop before each item and stopping early, with what was added so far, once engine.queryRunning has
// been cleared. With a name: when it names a marked item, sets the text of `teams` to it and fills
// `members` with its members; otherwise sets `name` to "" and lists the teams instead, leaving `members` as
// it was. The team folder is created when it is missing. Always returns false, which the callers store into
// their "groups changed" flag. Throws nothing: failures reading the folder go to context.warn.
bool loadTeams(QString& name, TeamWindow& window, const TeamContext& context);

// Fills `members` with the members of the team named by the text of `teams`, in list order, without
// checking the marker (the combo box offers only listed teams). Errors leave the list with what was
// read. Does nothing for an empty text. Shared by both windows' `teams` click.
void showTeamMembers(TeamWindow& window, const TeamContext& context);

// The main window's `teams` click: invalidates the grid headers, shows the chosen team's members and
// remembers the team as "SelectedTeam" in section "Parameters". An empty text only invalidates the headers.
void selectTeam(TeamWindow& window, const TeamContext& context, SettingsStore& settings);
