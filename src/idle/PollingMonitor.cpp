#include "idle/PollingMonitor.h"

namespace velmora {

TPollingMonitor::TPollingMonitor(QObject *parent) : IInputMonitor(parent)
{
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &TPollingMonitor::Poll);
}

quint32 TPollingMonitor::LastInputFromIdle()
{
    const quint32 now = TickNow();
    const std::optional<quint32> idle = IdleMs();
    return idle ? now - *idle : now;
}

void TPollingMonitor::WatchForInput()
{
    m_watchStart = TickNow();
    m_poll.start();
}

void TPollingMonitor::StopWatching()
{
    m_poll.stop();
}

void TPollingMonitor::Poll()
{
    const std::optional<quint32> idle = IdleMs();
    if (!idle)
        return; // no answer this time; asked again in a second
    const quint32 now = TickNow();
    // Input after the watch began: the last input is nearer than its start.
    if (*idle < quint32(now - m_watchStart)) {
        m_poll.stop();
        emit InputResumed();
    }
}

} // namespace velmora
