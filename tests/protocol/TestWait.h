// Waiting on a condition while the event loop runs: between commands the
// serial port is only read inside processEvents.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <chrono>
#include <thread>

template <class Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(30))
{
    QDeadlineTimer deadline(limit);
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (condition())
            return true;
        if (deadline.hasExpired())
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}
