#include "planning/newappointment.h"

#include "mailbox/mailbox.h"
#include "mailbox/mailboxerror.h"

#include <QRegularExpression>

NewAppointment::Refusal NewAppointment::check(const QStringList& team) const
{
    if (!start.isValid())
        return Refusal::StartInvalid;
    if (!end.isValid())
        return Refusal::EndInvalid;
    if (end < start)
        return Refusal::EndBeforeStart;
    if (mode != ThisMember && team.isEmpty())
        return Refusal::NoMembers;
    return Refusal::None;
}

QString NewAppointment::displayName(const QString& member)
{
    static const QRegularExpression kNamed(QStringLiteral("^(.*\\S)\\s*<[^<>]*>$"));
    const QRegularExpressionMatch named = kNamed.match(member.trimmed());
    return named.hasMatch() ? named.captured(1) : member.trimmed();
}

void NewAppointment::fill(MailboxItem& item) const
{
    item.subject = subject;
    item.reminderSet = false;
    if (allDay)
        item.allDay = true;
    item.start = start;
    item.end = end;
}

void NewAppointment::writeInto(Mailbox& mailbox, const QString& member) const
{
    Recipient recipient = mailbox.createRecipient(member);
    // A name that does not resolve is refused by sharedDefaultFolder with the mailbox's own description.
    recipient.resolve();
    const std::shared_ptr<Folder> calendar = mailbox.sharedDefaultFolder(recipient, Mailbox::kCalendarFolder);
    const std::shared_ptr<MailboxItem> item = calendar->newItem(MailboxItem::kAppointment);
    fill(*item);
    item->save();
}

NewAppointment::Outcome NewAppointment::create(Mailbox& mailbox, const QString& member,
                                               const QStringList& team) const
{
    Outcome outcome;
    outcome.refusal = check(team);
    if (outcome.refusal != Refusal::None)
        return outcome;

    if (mode == Meeting) {
        std::shared_ptr<MailboxItem> request;
        try {
            request = mailbox.createItem(Mailbox::kAppointmentItem);
            request->meetingStatus = 1;
            fill(*request);
            for (const QString& attendee : team)
                request->recipients.append({attendee, MailboxItem::Required});
            request->send();
            outcome.written = 1;
        }
        catch (const MailboxError& error) {
            // The back end delivers to whom it can and names the others in one description; a request that
            // was given an identity went at least part of the way.
            outcome.failures.append({QString(), error.description()});
            if (request && !request->source.uid.isEmpty())
                outcome.written = 1;
        }
        return outcome;
    }

    // Every member is tried; one that fails is reported with the others at the end, nothing is undone.
    const QStringList members = mode == ThisMember ? QStringList{member} : team;
    for (const QString& name : members) {
        try {
            writeInto(mailbox, name);
            ++outcome.written;
        }
        catch (const MailboxError& error) {
            outcome.failures.append({name, error.description()});
        }
    }
    return outcome;
}
