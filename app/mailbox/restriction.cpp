#include "app/mailbox/restriction.h"

#include "app/mailbox/mailboxerror.h"

// Placeholder bodies until the parser lands; they refuse every text.
struct Restriction::Node {};

Restriction Restriction::parse(const QString& text, const QLocale&)
{
    throw MailboxError(MailboxError::BadRestriction,
                       QStringLiteral("Cannot read the restriction %1").arg(text));
}

bool Restriction::matches(const MailboxItem&) const
{
    return false;
}

TimeWindow Restriction::window() const
{
    return {};
}
