#include "planning/memberactions.h"

#include "base/datetext.h"
#include "base/languagetexts.h"
#include "base/textids.h"
#include "mailbox/mailbox.h"
#include "mailbox/mailboxerror.h"

#include <QLocale>

namespace MemberActions {

Result sendMail(Mailbox& mailbox, const LanguageTexts& texts, const QString& member, const QDateTime& now)
{
    try {
        Recipient recipient = mailbox.createRecipient(member);
        if (!recipient.resolve())
            return {Result::NotResolved, {}};
        const std::shared_ptr<MailboxItem> mail = mailbox.createItem(Mailbox::kMailItem);
        mail->to = member;
        const QLocale locale;
        mail->body = texts.message(Message::MailBodyIntro) + QStringLiteral("\r\n") +
                     locale.toString(now.date(), DateText::shortDateFormat(locale)) + u' ' +
                     locale.toString(now.time(), QLocale::ShortFormat);
        mail->display(true);
    }
    catch (const MailboxError& error) {
        return {Result::Failed, error.description()};
    }
    return {};
}

Result openCalendar(Mailbox& mailbox, const QString& member)
{
    try {
        Recipient recipient = mailbox.createRecipient(member);
        if (!recipient.resolve())
            return {Result::NotResolved, {}};
        mailbox.sharedDefaultFolder(recipient, Mailbox::kCalendarFolder)->display(false);
    }
    catch (const MailboxError& error) {
        return {Result::Failed, error.description()};
    }
    return {};
}

} // namespace MemberActions
