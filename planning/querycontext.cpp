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
