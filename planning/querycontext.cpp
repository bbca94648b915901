#include "planning/querycontext.h"

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

QString hoursAndMinutes(const QTime& time)
{
    // Written by hand: the queries do this for every appointment, and a format string costs a parse each
    // time.
    const int hour = time.hour();
    const int minute = time.minute();
    const QChar text[] = {QChar(u'0' + hour / 10), QChar(u'0' + hour % 10), QChar(u':'),
                          QChar(u'0' + minute / 10), QChar(u'0' + minute % 10)};
    return QString(text, 5);
}

QString appointmentTimes(const QTime& start, const QTime& end)
{
    const auto digit = [](int value) { return QChar(u'0' + value); };
    const QChar text[] = {digit(start.hour() / 10),   digit(start.hour() % 10),   QChar(u':'),
                          digit(start.minute() / 10), digit(start.minute() % 10), QChar(u' '),
                          digit(end.hour() / 10),     digit(end.hour() % 10),     QChar(u':'),
                          digit(end.minute() / 10),   digit(end.minute() % 10),   QChar(u' ')};
    return QString(text, 12);
}
