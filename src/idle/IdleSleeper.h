#pragma once
// The operator-idle detector. While active it keeps a one-shot timer armed for
// the moment the desktop will have been without input for `Interval` seconds;
// when that moment comes without input it raises OnSleep once, and at the
// first input afterwards OnAwake once. The desktop's input is asked of an
// IInputMonitor; sending to the server is the handlers' business.
#include "idle/InputMonitor.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace velmora {

class TIdleSleeper : public QObject {
    Q_OBJECT
public:
    // Makes the desktop's monitor at the first activation; null with a reason
    // when none works here.
    using MonitorFactory = std::function<std::unique_ptr<IInputMonitor>(QString *reason)>;

    explicit TIdleSleeper(MonitorFactory factory, QObject *parent = nullptr);
    ~TIdleSleeper() override;

    // Replaces how the monitor is made (tests, other desktops); takes effect
    // at the next activation.
    void SetMonitorFactory(MonitorFactory factory);

    // Seconds; 0 disables the detection.
    quint32 Interval() const { return m_interval; }
    void SetInterval(quint32 seconds);

    bool Active() const { return m_active; }
    // True installs the monitor and arms the timer, false removes both. False
    // when the monitor cannot be installed; `error` then says why, and the
    // detector stays inactive.
    bool SetActive(bool active, QString *error = nullptr);

    void SetOnSleep(std::function<void()> handler);
    void SetOnAwake(std::function<void()> handler);

    bool Sleeping() const { return m_sleeping; }
    // The timer's state, for the window's tests and the log.
    bool TimerArmed() const { return m_timer.isActive(); }
    int TimerInterval() const { return m_timer.interval(); }

    // The timer's expiry; public so tests drive the logic without waiting.
    void TimerExpired();
    // The monitor's notice of the first input after sleeping.
    void InputResumed();

private:
    void Arm();
    // Milliseconds until the interval is over, from the last input; <= 0 when
    // it is over already.
    qint64 Remaining() const;
    void StartTimer(qint64 ms);

    MonitorFactory m_factory;
    std::unique_ptr<IInputMonitor> m_monitor;
    quint32 m_interval = 60;
    bool m_active = false;
    bool m_sleeping = false;
    // Where the desktop had been idle longer than the interval already when
    // the timer was armed, the interval counts from then instead.
    std::optional<quint32> m_restartTick;
    std::function<void()> m_onSleep;
    std::function<void()> m_onAwake;
    QTimer m_timer;
};

} // namespace velmora
