#pragma once
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <functional>

namespace velmora::test {

// Runs the event loop until `done` holds or `ms` pass; returns `done()`.
inline bool WaitFor(const std::function<bool()> &done, int ms = 5000)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

} // namespace velmora::test
