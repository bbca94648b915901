#include "planning/teamwriter.h"

#include "mailbox/folder.h"
#include "mailbox/itemcollection.h"
#include "mailbox/mailbox.h"
#include "planning/teamgroups.h"

#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace {

bool isList(const MailboxItem& item)
{
    return item.messageClass.compare(MailboxItem::kDistList, Qt::CaseInsensitive) == 0;
}

} // namespace

std::shared_ptr<Folder> TeamWriter::teamFolder()
{
    // addFolder gives the folder that exists, or makes it: a first team may be made in an empty mailbox.
    return m_mailbox.defaultFolder(Mailbox::kContactsFolder)->addFolder(kTeamFolderName);
}

QList<TeamMember> TeamWriter::persons()
{
    const std::shared_ptr<Folder> contacts = m_mailbox.defaultFolder(Mailbox::kContactsFolder);
    QList<std::shared_ptr<MailboxItem>> items = contacts->storedItems();
    try {
        items += contacts->folder(kTeamFolderName)->storedItems();
    }
    catch (const MailboxError& error) {
        if (error.number() != MailboxError::NotFound)
            throw;
    }
    QList<TeamMember> persons;
    QSet<QString> seen;
    for (const auto& item : std::as_const(items)) {
        if (item->messageClass.compare(MailboxItem::kContact, Qt::CaseInsensitive) != 0)
            continue;
        const QString uid = item->source.uid.trimmed();
        const QString address = item->source.address.trimmed();
        if (uid.isEmpty() && address.isEmpty())
            continue; // nothing a list could point at
        TeamMember person{item->subject.trimmed(), address,
                          uid.isEmpty() ? QStringLiteral("mailto:") + address
                                        : QStringLiteral("urn:uuid:") + uid};
        if (person.name.isEmpty())
            person.name = address;
        if (seen.contains(person.reference))
            continue;
        seen.insert(person.reference);
        persons.append(person);
    }
    std::stable_sort(persons.begin(), persons.end(), [](const TeamMember& a, const TeamMember& b) {
        return a.name.localeAwareCompare(b.name) < 0;
    });
    return persons;
}

QList<TeamMember> TeamWriter::matching(const QList<TeamMember>& persons, const QString& text)
{
    const QString wanted = text.trimmed();
    if (wanted.isEmpty())
        return persons;
    QList<TeamMember> found;
    for (const TeamMember& person : persons) {
        if (person.name.contains(wanted, Qt::CaseInsensitive) ||
            person.address.contains(wanted, Qt::CaseInsensitive))
            found.append(person);
    }
    return found;
}

std::optional<TeamMember> TeamWriter::memberForAddress(const QList<TeamMember>& persons, const QString& text)
{
    // Deliberately narrow: whatever is kept goes into a MEMBER line as a URI.
    static const QRegularExpression address(
        QStringLiteral(R"(^[^\s@<>,;:"()\[\]\\]+@[^\s@<>,;:"()\[\]\\]+$)"));
    const QString typed = text.trimmed();
    if (!address.match(typed).hasMatch())
        return std::nullopt;
    for (const TeamMember& person : persons) {
        if (person.address.compare(typed, Qt::CaseInsensitive) == 0)
            return person;
    }
    return TeamMember{typed, typed, QStringLiteral("mailto:") + typed};
}

std::shared_ptr<MailboxItem> TeamWriter::list(const QString& name)
{
    const std::shared_ptr<MailboxItem> item = teamFolder()->items().item(name);
    if (!isList(*item))
        throw MailboxError(MailboxError::NotFound,
                           QStringLiteral("\"%1\" is not a distribution list").arg(item->subject));
    return item;
}

QList<TeamMember> TeamWriter::members(const MailboxItem& list)
{
    QList<TeamMember> members;
    for (int index = 1; index <= list.memberCount(); ++index)
        members.append(
            {list.member(index), list.memberAddress(index), list.source.memberRefs.value(index - 1)});
    return members;
}

QString TeamWriter::withMarker(const QString& categories)
{
    return categories.isEmpty() ? kTeamMarker : categories + u';' + kTeamMarker;
}

TeamWriter::Marking TeamWriter::markAsTeam(const QString& name, const std::function<bool()>& confirm)
{
    const std::shared_ptr<MailboxItem> item = list(name);
    if (hasTeamMarker(item->categories))
        return Marking::AlreadyTeam;
    if (!confirm || !confirm())
        return Marking::Declined;
    item->categories = withMarker(item->categories);
    item->save();
    return Marking::Marked;
}

TeamWriter::Saving TeamWriter::save(std::shared_ptr<MailboxItem>& team, const QString& name,
                                    const QList<TeamMember>& members)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return Saving::NameMissing;
    const std::shared_ptr<Folder> folder = teamFolder();
    for (const auto& item : folder->storedItems()) {
        const bool same =
            team && !team->source.location.isEmpty() && item->source.location == team->source.location;
        if (!same && item->subject.trimmed().compare(trimmed, Qt::CaseInsensitive) == 0)
            return Saving::NameTaken;
    }
    // The change goes into a copy, so that a refused write leaves the caller's item as it was read.
    std::shared_ptr<MailboxItem> written =
        team ? std::make_shared<MailboxItem>(*team) : folder->items().add(MailboxItem::kDistList);
    written->subject = trimmed;
    if (!team)
        written->categories = kTeamMarker;
    QStringList references;
    QStringList names;
    QStringList addresses;
    for (const TeamMember& member : members) {
        references.append(member.reference);
        names.append(member.name);
        addresses.append(member.address);
    }
    written->source.memberRefs = references;
    written->save();
    written->setMembers(names, addresses);
    team = written;
    return Saving::Saved;
}

void TeamWriter::remove(const QString& name)
{
    list(name)->remove();
}
