#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

class Mailbox;
class MailboxItem;

// An appointment the user asks for from the planning, and its creation in the members' calendars.
class NewAppointment {
public:
    enum Mode : int {
        ThisMember = 0,  // the one member's calendar
        EveryMember = 1, // one appointment in each team member's calendar
        Meeting = 2,     // one meeting request to the whole team
    };

    QString subject;
    QDateTime start; // local time
    QDateTime end;   // local time
    bool allDay = false;
    Mode mode = ThisMember;

    // Why nothing was attempted.
    enum class Refusal { None, StartInvalid, EndInvalid, EndBeforeStart, NoMembers };

    struct Failure {
        QString member; // as handed over; empty for a meeting request as a whole
        QString description;
    };
    struct Outcome {
        Refusal refusal = Refusal::None;
        int written = 0; // appointments saved, or 1 for a meeting request that went out
        QList<Failure> failures;
    };

    // What would keep the appointment from being created at all.
    Refusal check(const QStringList& team) const;

    // Creates the appointment for `member` (ThisMember) or the team (the other modes). Every member is tried
    // even when one fails; what was saved stays. Nothing is written when check() refuses.
    Outcome create(Mailbox& mailbox, const QString& member, const QStringList& team) const;

    // The name part of "Name <address>", the form a team gives a member it knows the address of.
    static QString displayName(const QString& member);

private:
    void fill(MailboxItem& item) const;
    void writeInto(Mailbox& mailbox, const QString& member) const;
};
