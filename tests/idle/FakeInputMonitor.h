#pragma once
// An input monitor whose clock and last input the test sets by hand.
#include "idle/InputMonitor.h"

namespace velmora::test {

class FakeInputMonitor final : public IInputMonitor {
public:
    QString Name() const override { return QStringLiteral("fake"); }
    bool Install(QString *reason) override
    {
        ++installs;
        if (!installable && reason)
            *reason = QStringLiteral("cannot install the fake");
        installed = installable;
        return installable;
    }
    void Remove() override { installed = false; }
    quint32 TickNow() const override { return now; }
    quint32 LastInputTick() override { return lastInput; }
    void WatchForInput() override { watching = true; }
    void StopWatching() override { watching = false; }
    void SetIdleThreshold(quint32 ms) override { threshold = ms; }

    // Time passes; `input` moves the last input to the new now.
    void Advance(quint32 ms, bool input = false)
    {
        now += ms;
        if (input)
            lastInput = now;
    }
    // Input as the desktop would report it while the detector sleeps.
    void Input()
    {
        lastInput = now;
        if (watching) {
            watching = false;
            emit InputResumed();
        }
    }

    quint32 now = 1000;
    quint32 lastInput = 1000;
    quint32 threshold = 0;
    bool installable = true;
    bool installed = false;
    bool watching = false;
    int installs = 0;
};

} // namespace velmora::test
