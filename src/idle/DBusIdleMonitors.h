#pragma once
// Wayland desktops, where no program may watch the input of others: the
// desktop itself tells the idle time over the session bus.
//  - GNOME: org.gnome.Mutter.IdleMonitor, whose watches announce both the
//    idle time being reached and the first input afterwards;
//  - KDE (and others with the same service): org.freedesktop.ScreenSaver's
//    GetSessionIdleTime, asked once a second while asleep.
// Calls that the timer logic needs at once are synchronous with a short time
// limit; a desktop that does not answer in time counts as "input just now".
#include "idle/PollingMonitor.h"

#include <QDBusConnection>

#include <optional>

namespace velmora {

inline constexpr int kDBusCallTimeoutMs = 250;

class TMutterIdleMonitor final : public IInputMonitor {
    Q_OBJECT
public:
    explicit TMutterIdleMonitor(const QDBusConnection &bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);
    ~TMutterIdleMonitor() override;

    QString Name() const override { return QStringLiteral("GNOME idle monitor"); }
    bool Install(QString *reason) override;
    void Remove() override;
    quint32 LastInputTick() override;
    void WatchForInput() override;
    void StopWatching() override;
    void SetIdleThreshold(quint32 ms) override;

private slots:
    void WatchFired(uint id);

private:
    // Adds a watch; the id arrives later and lands in `slot`, unless the watch
    // was dropped meanwhile (then it is removed at once).
    void AddWatch(const QString &method, const QList<QVariant> &args, uint *slot, quint64 generation);
    void RemoveWatch(uint &id);

    QDBusConnection m_bus;
    bool m_installed = false;
    uint m_idleWatch = 0;
    uint m_activeWatch = 0;
    quint64 m_idleGeneration = 0;   // counts threshold changes, so late replies of old ones are dropped
    quint64 m_activeGeneration = 0; // the same for the user-active watch
    bool m_watching = false;
};

class TScreenSaverIdleMonitor final : public TPollingMonitor {
    Q_OBJECT
public:
    explicit TScreenSaverIdleMonitor(const QDBusConnection &bus = QDBusConnection::sessionBus(),
                                     QObject *parent = nullptr);

    QString Name() const override { return QStringLiteral("desktop screensaver service"); }
    bool Install(QString *reason) override;
    quint32 LastInputTick() override { return LastInputFromIdle(); }

protected:
    std::optional<quint32> IdleMs() override;

private:
    QDBusConnection m_bus;
};

} // namespace velmora
