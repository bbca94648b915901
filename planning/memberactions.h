#pragma once

#include <QDateTime>
#include <QString>

class LanguageTexts;
class Mailbox;

// What the planning offers to do with one member: write them a mail, or open their calendar. Both go to the
// desktop through the mailbox's display; neither changes anything stored.
namespace MemberActions {

struct Result {
    enum Status { Done, NotResolved, Failed };
    Status status = Done;
    QString description; // why it failed
};

// A mail to the member's address, with the planning's greeting and the time it was written; the user sends
// it from the mail program. A member the address book does not know gets no mail.
Result sendMail(Mailbox& mailbox, const LanguageTexts& texts, const QString& member, const QDateTime& now);
// The member's calendar: its folder, or its address on the server.
Result openCalendar(Mailbox& mailbox, const QString& member);

} // namespace MemberActions
