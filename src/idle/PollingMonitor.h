#pragma once
// Base of the monitors whose desktop only answers "how long idle": while the
// detector sleeps they ask once a second whether input came meanwhile.
#include "idle/InputMonitor.h"

#include <QTimer>

#include <optional>

namespace velmora {

class TPollingMonitor : public IInputMonitor {
    Q_OBJECT
public:
    explicit TPollingMonitor(QObject *parent = nullptr);

    void WatchForInput() override;
    void StopWatching() override;
    void Remove() override { StopWatching(); }

    static constexpr int kPollMs = 1000;

protected:
    // The idle time in milliseconds, or nothing when the desktop did not answer.
    virtual std::optional<quint32> IdleMs() = 0;
    quint32 LastInputFromIdle();

private:
    void Poll();

    QTimer m_poll;
    quint32 m_watchStart = 0;
};

} // namespace velmora
