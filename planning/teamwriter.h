#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class Folder;
class Mailbox;
class MailboxItem;

// One member of a team as the editor shows it and the team's card stores it.
struct TeamMember {
    QString name;
    QString address;   // e-mail address, empty when the reference gives none
    QString reference; // "urn:uuid:<UID>" for a person of the address book, else "mailto:<address>"

    bool operator==(const TeamMember&) const = default;
};

// Changes the teams of the team folder: marks a distribution list as a team, writes a team's name and
// members, makes and deletes teams. The writing itself is the mailbox's (a file replaced atomically, or a
// conditional PUT), so a list changed elsewhere since it was read is refused with MailboxError (Conflict),
// never overwritten.
class TeamWriter {
public:
    explicit TeamWriter(Mailbox& mailbox) : m_mailbox(mailbox) {}

    // The persons of the address book (the contacts folder, then the team folder), sorted by name, each once.
    // Throws MailboxError when the contacts folder cannot be read.
    QList<TeamMember> persons();
    // The persons whose name or address holds `text`, letter case ignored; all of them for a blank text.
    static QList<TeamMember> matching(const QList<TeamMember>& persons, const QString& text);
    // The member a typed e-mail address stands for: the person of the book with that address, else the bare
    // address. Nothing when the text is not an e-mail address.
    static std::optional<TeamMember> memberForAddress(const QList<TeamMember>& persons, const QString& text);

    // The distribution list of that name (letter case ignored) in the team folder, marked or not. Throws
    // MailboxError: NotFound when there is none.
    std::shared_ptr<MailboxItem> list(const QString& name);
    // A list's members in list order.
    static QList<TeamMember> members(const MailboxItem& list);

    // The categories with the marker appended after a ";", or the marker alone for empty categories.
    static QString withMarker(const QString& categories);

    enum class Marking { AlreadyTeam, Marked, Declined };
    // Makes the list `name` a team. An unmarked list is marked only when `confirm` says yes. Throws
    // MailboxError (NotFound for a name no list has).
    Marking markAsTeam(const QString& name, const std::function<bool()>& confirm);

    enum class Saving { Saved, NameMissing, NameTaken };
    // Writes `name` and `members` into `team`, or, when `team` is null, makes a new team of that name (a
    // marked group card of the team folder) and sets `team` to it. A name that another item of the team
    // folder has, letter case ignored, is refused: Items(name) would find only one of them. Throws
    // MailboxError; on Conflict nothing was written.
    Saving save(std::shared_ptr<MailboxItem>& team, const QString& name, const QList<TeamMember>& members);

    // Deletes the list of that name from the team folder. Throws MailboxError.
    void remove(const QString& name);

private:
    std::shared_ptr<Folder> teamFolder();

    Mailbox& m_mailbox;
};
