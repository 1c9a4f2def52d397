#include "idle/IdleSleeper.h"

#include <QElapsedTimer>

#include <algorithm>
#include <limits>

namespace velmora {

quint32 MonotonicTick()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return static_cast<quint32>(clock.elapsed());
}

TIdleSleeper::TIdleSleeper(MonitorFactory factory, QObject *parent) : QObject(parent), m_factory(std::move(factory))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &TIdleSleeper::TimerExpired);
}

TIdleSleeper::~TIdleSleeper()
{
    SetActive(false);
}

void TIdleSleeper::SetMonitorFactory(MonitorFactory factory)
{
    const bool wasActive = m_active;
    SetActive(false);
    m_monitor.reset();
    m_factory = std::move(factory);
    if (wasActive)
        SetActive(true);
}

void TIdleSleeper::SetInterval(quint32 seconds)
{
    m_interval = seconds;
    if (m_monitor && m_active)
        m_monitor->SetIdleThreshold(static_cast<quint32>(std::min<quint64>(quint64(seconds) * 1000, 0xFFFFFFFFu)));
    if (!m_sleeping)
        Arm();
}

bool TIdleSleeper::SetActive(bool active, QString *error)
{
    if (active == m_active)
        return true;
    if (!active) {
        m_active = false;
        m_timer.stop();
        m_sleeping = false;
        m_restartTick.reset();
        if (m_monitor) {
            m_monitor->StopWatching();
            m_monitor->Remove();
        }
        return true;
    }
    QString reason;
    if (!m_monitor && m_factory)
        m_monitor = m_factory(&reason);
    if (!m_monitor) {
        if (error)
            *error = reason.isEmpty() ? QStringLiteral("no input monitor for this desktop") : reason;
        return false;
    }
    if (!m_monitor->Install(&reason)) {
        if (error)
            *error = reason;
        return false;
    }
    connect(m_monitor.get(), &IInputMonitor::InputResumed, this, &TIdleSleeper::InputResumed, Qt::UniqueConnection);
    connect(m_monitor.get(), &IInputMonitor::IdleReached, this, &TIdleSleeper::TimerExpired, Qt::UniqueConnection);
    m_active = true;
    m_sleeping = false;
    m_restartTick.reset();
    m_monitor->SetIdleThreshold(static_cast<quint32>(std::min<quint64>(quint64(m_interval) * 1000, 0xFFFFFFFFu)));
    Arm();
    return true;
}

void TIdleSleeper::SetOnSleep(std::function<void()> handler)
{
    m_onSleep = std::move(handler);
    if (!m_sleeping)
        Arm();
}

void TIdleSleeper::SetOnAwake(std::function<void()> handler)
{
    m_onAwake = std::move(handler);
    if (!m_sleeping)
        Arm();
}

qint64 TIdleSleeper::Remaining() const
{
    const quint32 now = m_monitor->TickNow();
    // Unsigned subtraction: right across the 32-bit wrap of the tick.
    quint32 elapsed = now - m_monitor->LastInputTick();
    if (m_restartTick)
        elapsed = std::min(elapsed, quint32(now - *m_restartTick));
    return qint64(m_interval) * 1000 - qint64(elapsed);
}

void TIdleSleeper::StartTimer(qint64 ms)
{
    // Intervals beyond a timer's range expire early and are re-armed for the rest.
    m_timer.start(static_cast<int>(std::clamp<qint64>(ms, 1, std::numeric_limits<int>::max())));
}

void TIdleSleeper::Arm()
{
    m_timer.stop();
    if (m_interval == 0 || !m_active || !m_onSleep || !m_monitor)
        return;
    m_sleeping = false;
    qint64 remaining = Remaining();
    if (remaining <= 0) {
        // Idle longer than the interval already (say, away when the login was
        // accepted): a whole interval from now.
        m_restartTick = m_monitor->TickNow();
        remaining = qint64(m_interval) * 1000;
    }
    StartTimer(remaining);
}

void TIdleSleeper::TimerExpired()
{
    if (!m_active || m_sleeping || m_interval == 0 || !m_onSleep || !m_monitor)
        return;
    const qint64 remaining = Remaining();
    if (remaining > 0) {
        StartTimer(remaining);
        return;
    }
    m_timer.stop();
    m_restartTick.reset();
    m_sleeping = true;
    m_monitor->WatchForInput();
    // The handler may deactivate the detector (a failed send drops the
    // connection): it runs last.
    if (auto handler = m_onSleep)
        handler();
}

void TIdleSleeper::InputResumed()
{
    if (!m_active || !m_sleeping)
        return;
    m_sleeping = false;
    m_monitor->StopWatching();
    if (auto handler = m_onAwake)
        handler();
    if (m_active && !m_sleeping)
        Arm();
}

} // namespace velmora
