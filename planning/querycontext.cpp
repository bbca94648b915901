#include "planning/querycontext.h"

#include "base/languagetexts.h"
#include "base/programstate.h"
#include "base/textids.h"
#include "mailbox/itemcollection.h"
#include "mailbox/mailbox.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <ctime>
#include <memory>

namespace {

// Milliseconds from a clock that is cheap to read: the queries ask it once per appointment, a hundred
// thousand times in a big refresh, and a precise clock costs as much as placing the appointment. The
// coarse clock moves in steps of a few milliseconds, which is plenty for an interval of fifteen.
qint64 coarseMilliseconds()
{
#ifdef CLOCK_MONOTONIC_COARSE
    timespec now{};
    if (clock_gettime(CLOCK_MONOTONIC_COARSE, &now) == 0)
        return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
#endif
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

} // namespace

std::function<void()> eventPump(int intervalMs, unsigned callsPerClockReading)
{
    callsPerClockReading = std::max(callsPerClockReading, 1u);
    return [last = coarseMilliseconds(), intervalMs, callsPerClockReading, calls = 0u]() mutable {
        if (++calls % callsPerClockReading != 0 || coarseMilliseconds() - last < intervalMs)
            return;
        QCoreApplication::processEvents();
        last = coarseMilliseconds();
    };
}

void writeAppointmentTimes(QChar* out, const QTime& start, const QTime& end)
{
    // Written by hand: the queries do this for every appointment, and a format string costs a parse each
    // time. The hour and minute are worked out here rather than asked of QTime, whose accessors are calls
    // that check the time each; an invalid time gives -1 for both, as they would.
    const auto put = [&out](const QTime& time) {
        const int ms = time.msecsSinceStartOfDay();
        const bool valid = !time.isNull() && ms >= 0 && ms < 86400000;
        const int hour = valid ? ms / 3600000 : -1;
        const int minute = valid ? ms / 60000 % 60 : -1;
        *out++ = QChar(u'0' + hour / 10);
        *out++ = QChar(u'0' + hour % 10);
        *out++ = QChar(u':');
        *out++ = QChar(u'0' + minute / 10);
        *out++ = QChar(u'0' + minute % 10);
        *out++ = QChar(u' ');
    };
    put(start);
    put(end);
}

QString appointmentTimes(const QTime& start, const QTime& end)
{
    QString text(kAppointmentTimesLength, Qt::Uninitialized);
    writeAppointmentTimes(text.data(), start, end);
    return text;
}

QString htmlText(const QString& text)
{
    // The four characters that need escaping all lie below '?': one test per character finds them.
    constexpr quint64 kEscaped = 1ull << u'<' | 1ull << u'>' | 1ull << u'&' | 1ull << u'"';
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        if (c < 64 && (kEscaped >> c & 1))
            return text.toHtmlEscaped();
    }
    return text;
}

void reportProblem(const QueryContext& context, MessageIcon icon, const QString& text)
{
    if (context.program.automaticMode)
        std::fprintf(stderr, "rotavine: %s\n", qPrintable(QString(text).replace(u'\n', u' ')));
    else
        context.message(icon, text);
}

CalendarWalk walkMemberCalendar(const QueryContext& context, const Recipient& recipient,
                                const QString& listName, const QString& restriction,
                                const std::function<bool(const MailboxItem&)>& onItem,
                                const std::function<void(quint64 revision)>& onFound)
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
        items.emplace(context.mailbox.sharedDefaultFolder(recipient, Mailbox::kCalendarFolder)->items());
        items->sort(QStringLiteral("[Start]"));
        items->includeRecurrences = true;
        item = items->find(restriction);
    }
    catch (const MailboxError& error) {
        if (error.number() != MailboxError::ItemUnreadable || !items) {
            failed(error);
            return CalendarWalk::Unreadable;
        }
        unreadable(error);
    }
    if (onFound)
        onFound(items->revision());
    for (;;) {
        if (item && !onItem(*item))
            return CalendarWalk::Stopped;
        try {
            item = items->findNext();
            if (!item)
                return CalendarWalk::Finished;
        }
        catch (const MailboxError& error) {
            if (error.number() != MailboxError::ItemUnreadable) {
                failed(error);
                return CalendarWalk::Unreadable;
            }
            unreadable(error);
            item = nullptr;
        }
    }
}
