#include "planning/querycontext.h"

#include "app/languagetexts.h"
#include "app/mailbox/itemcollection.h"
#include "app/mailbox/mailbox.h"
#include "app/programstate.h"
#include "app/screentextid.h"

#include <cstdio>
#include <optional>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <memory>

std::function<void()> eventPump(int intervalMs)
{
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    return [clock, intervalMs] {
        if (clock->elapsed() < intervalMs)
            return;
        QCoreApplication::processEvents();
        clock->restart();
    };
}

QString appointmentTimes(const QTime& start, const QTime& end)
{
    // Written by hand: the queries do this for every appointment, and a format string costs a parse each
    // time.
    const auto digit = [](int value) { return QChar(u'0' + value); };
    const QChar text[] = {digit(start.hour() / 10),   digit(start.hour() % 10),   QChar(u':'),
                          digit(start.minute() / 10), digit(start.minute() % 10), QChar(u' '),
                          digit(end.hour() / 10),     digit(end.hour() % 10),     QChar(u':'),
                          digit(end.minute() / 10),   digit(end.minute() % 10),   QChar(u' ')};
    return QString(text, 12);
}

void reportProblem(const QueryContext& context, MessageIcon icon, const QString& text)
{
    if (context.program.AutomaticMode)
        std::fprintf(stderr, "rotavine: %s\n", qPrintable(QString(text).replace(u'\n', u' ')));
    else
        context.message(icon, text);
}

bool walkMemberCalendar(const QueryContext& context, const Recipient& recipient, const QString& listName,
                        const QString& restriction, const std::function<bool(const MailboxItem&)>& onItem)
{
    auto failed = [&](const MailboxError& error) {
        reportProblem(context, MessageIcon::None,
                      listName.toUpper() + QStringLiteral(": ") + error.description());
    };
    auto unreadable = [&](const MailboxError& error) {
        reportProblem(context, MessageIcon::Critical,
                      listName.toUpper() + QStringLiteral(": \n") + error.description() + u'\n' +
                          context.texts.message(Message::ItemUnreadable));
    };

    std::optional<ItemCollection> items;
    std::shared_ptr<MailboxItem> item;
    try {
        items.emplace(context.mailbox.GetSharedDefaultFolder(recipient, Mailbox::olFolderCalendar)->Items());
        items->Sort(QStringLiteral("[Start]"));
        items->IncludeRecurrences = true;
        item = items->Find(restriction);
    }
    catch (const MailboxError& error) {
        if (error.number() != MailboxError::ItemUnreadable || !items) {
            failed(error);
            return true;
        }
        unreadable(error);
    }
    for (;;) {
        if (item && !onItem(*item))
            return false;
        try {
            item = items->FindNext();
            if (!item)
                return true;
        }
        catch (const MailboxError& error) {
            if (error.number() != MailboxError::ItemUnreadable) {
                failed(error);
                return true;
            }
            unreadable(error);
            item = nullptr;
        }
    }
}
