#pragma once
// Wayland desktops without a session-bus idle service (sway and the other
// wlroots compositors, older KDE): the compositor's own idle protocol, on a
// display connection of our own. ext-idle-notify-v1 where offered, else
// KDE's org_kde_kwin_idle; both say "idle for the threshold" and "input
// again", nothing in between.
//
// So LastInputTick knows the last input only while the desktop is idle
// (the idled event's time less the threshold); otherwise it answers "now",
// and the compositor's idled event, emitted as IdleReached, puts the
// detector to sleep.
#include "idle/InputMonitor.h"

#include <QByteArray>

#include <optional>

class QSocketNotifier;

namespace velmora {

class TWaylandIdleMonitor final : public IInputMonitor {
    Q_OBJECT
public:
    // An empty display name means the desktop's own (WAYLAND_DISPLAY).
    explicit TWaylandIdleMonitor(const QByteArray &displayName = {}, QObject *parent = nullptr);
    ~TWaylandIdleMonitor() override;

    QString Name() const override;
    bool Install(QString *reason) override;
    void Remove() override;
    quint32 LastInputTick() override;
    void WatchForInput() override;
    void StopWatching() override;
    void SetIdleThreshold(quint32 ms) override;

    // The protocol in use: "ext-idle-notify-v1" or "org_kde_kwin_idle".
    QString Protocol() const;

    struct Private;

private:
    void Dispatch();
    void Renotify();
    void Idled();
    void Resumed();
    void Disconnected();

    QByteArray m_displayName;
    Private *d = nullptr;
    QSocketNotifier *m_notifier = nullptr;
    quint32 m_threshold = 0;
    std::optional<quint32> m_idledTick;
    bool m_watching = false;
};

} // namespace velmora
