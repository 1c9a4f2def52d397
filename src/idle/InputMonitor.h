#pragma once
// What the idle detector needs from the desktop: when the last keyboard or
// mouse input happened anywhere on it, and one notice at the first input after
// the detector went to sleep. One implementation per kind of desktop
// (X11, GNOME, KDE), chosen at run time; tests use a fake.
#include <QObject>
#include <QString>

namespace velmora {

// Milliseconds of a monotonic clock, truncated to 32 bits: it wraps about
// every 49.7 days, so differences are always taken modulo 2^32.
quint32 MonotonicTick();

class IInputMonitor : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~IInputMonitor() override = default;

    // A short name for log lines ("X11 screensaver extension", ...).
    virtual QString Name() const = 0;

    // Starts watching. False, with a plain reason, when this desktop's monitor
    // cannot work here.
    virtual bool Install(QString *reason) = 0;
    virtual void Remove() = 0;

    // The clock the ticks below are on.
    virtual quint32 TickNow() const { return MonotonicTick(); }
    // Tick of the last input anywhere on the desktop. A monitor that cannot
    // tell at the moment answers "now": a wrong "present" is harmless, a wrong
    // "away" is not.
    virtual quint32 LastInputTick() = 0;

    // The detector has gone to sleep: emit InputResumed once at the next
    // input, then stop watching for it.
    virtual void WatchForInput() = 0;
    virtual void StopWatching() = 0;

    // The detector's idle time; a monitor whose desktop reports idleness by
    // itself emits IdleReached when it is reached.
    virtual void SetIdleThreshold(quint32 /*ms*/) {}

signals:
    void InputResumed();
    void IdleReached();
};

} // namespace velmora
