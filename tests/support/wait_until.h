#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>

namespace korvela::test {

// Keeps the event loop turning until `condition` holds, for up to `ms` milliseconds: the word
// processor's events reach the window through it. Returns whether the condition came true.
inline bool waitUntil(const std::function<bool()>& condition, int ms = 15000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

} // namespace korvela::test
