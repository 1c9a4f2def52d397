#pragma once
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

namespace velmora::test {

// Runs the event loop until `done` holds or `ms` pass; returns `done()`.
inline bool WaitFor(const std::function<bool()> &done, int ms = 15000)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Runs the event loop for `ms`, and on until every timer due by then has
// fired, however late a busy machine lets this thread run. For the checks
// that something does not happen within a time.
inline void RunFor(int ms)
{
    QObject context;
    bool passed = false;
    QTimer::singleShot(ms, Qt::PreciseTimer, &context, [&passed] { passed = true; });
    WaitFor([&passed] { return passed; }, ms + 60000);
}

} // namespace velmora::test
