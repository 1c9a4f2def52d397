#include "idle/DBusIdleMonitors.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>

namespace velmora {

namespace {

const QString kMutterService = QStringLiteral("org.gnome.Mutter.IdleMonitor");
const QString kMutterPath = QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core");
const QString kMutterInterface = QStringLiteral("org.gnome.Mutter.IdleMonitor");

const QString kScreenSaverService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kScreenSaverPath = QStringLiteral("/ScreenSaver");
const QString kScreenSaverInterface = QStringLiteral("org.freedesktop.ScreenSaver");

QDBusMessage Call(const QDBusConnection &bus, const QString &service, const QString &path, const QString &iface,
                  const QString &method, const QList<QVariant> &args = {})
{
    QDBusMessage m = QDBusMessage::createMethodCall(service, path, iface, method);
    m.setArguments(args);
    return bus.call(m, QDBus::Block, kDBusCallTimeoutMs);
}

std::optional<quint64> UnsignedReply(const QDBusMessage &reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    bool ok = false;
    const quint64 v = reply.arguments().first().toULongLong(&ok);
    return ok ? std::optional<quint64>(v) : std::nullopt;
}

bool ServicePresent(const QDBusConnection &bus, const QString &service, QString *reason)
{
    if (!bus.isConnected()) {
        if (reason)
            *reason = QStringLiteral("no session bus");
        return false;
    }
    const QDBusReply<bool> registered = bus.interface()->isServiceRegistered(service);
    if (!registered.isValid() || !registered.value()) {
        if (reason)
            *reason = service + QStringLiteral(" is not running");
        return false;
    }
    return true;
}

quint32 ClampMs(quint64 ms) { return ms > 0xFFFFFFFFull ? 0xFFFFFFFFu : quint32(ms); }

} // namespace

// --- GNOME -------------------------------------------------------------------

TMutterIdleMonitor::TMutterIdleMonitor(const QDBusConnection &bus, QObject *parent)
    : IInputMonitor(parent), m_bus(bus)
{
}

TMutterIdleMonitor::~TMutterIdleMonitor()
{
    Remove();
}

bool TMutterIdleMonitor::Install(QString *reason)
{
    if (m_installed)
        return true;
    if (!ServicePresent(m_bus, kMutterService, reason))
        return false;
    const QDBusMessage reply = Call(m_bus, kMutterService, kMutterPath, kMutterInterface, QStringLiteral("GetIdletime"));
    if (!UnsignedReply(reply)) {
        if (reason)
            *reason = QStringLiteral("the GNOME idle monitor does not answer: ") + reply.errorMessage();
        return false;
    }
    m_bus.connect(kMutterService, kMutterPath, kMutterInterface, QStringLiteral("WatchFired"), this,
                  SLOT(WatchFired(uint)));
    m_installed = true;
    return true;
}

void TMutterIdleMonitor::Remove()
{
    if (!m_installed)
        return;
    StopWatching();
    ++m_idleGeneration;
    RemoveWatch(m_idleWatch);
    m_bus.disconnect(kMutterService, kMutterPath, kMutterInterface, QStringLiteral("WatchFired"), this,
                     SLOT(WatchFired(uint)));
    m_installed = false;
}

quint32 TMutterIdleMonitor::LastInputTick()
{
    const quint32 now = TickNow();
    const std::optional<quint64> idle =
        UnsignedReply(Call(m_bus, kMutterService, kMutterPath, kMutterInterface, QStringLiteral("GetIdletime")));
    return idle ? now - ClampMs(*idle) : now;
}

void TMutterIdleMonitor::AddWatch(const QString &method, const QList<QVariant> &args, uint *slot,
                                  quint64 generation)
{
    QDBusMessage m = QDBusMessage::createMethodCall(kMutterService, kMutterPath, kMutterInterface, method);
    m.setArguments(args);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(m), this);
    const bool idle = slot == &m_idleWatch;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, slot, generation, idle] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError())
            return;
        uint id = reply.value();
        const bool current = m_installed && generation == (idle ? m_idleGeneration : m_activeGeneration)
                             && (idle || m_watching);
        if (current)
            *slot = id;
        else
            RemoveWatch(id);
    });
}

void TMutterIdleMonitor::RemoveWatch(uint &id)
{
    if (id == 0)
        return;
    QDBusMessage m = QDBusMessage::createMethodCall(kMutterService, kMutterPath, kMutterInterface,
                                                    QStringLiteral("RemoveWatch"));
    m.setArguments({QVariant::fromValue(id)});
    m_bus.asyncCall(m); // nothing to do with the answer
    id = 0;
}

void TMutterIdleMonitor::SetIdleThreshold(quint32 ms)
{
    if (!m_installed)
        return;
    ++m_idleGeneration;
    RemoveWatch(m_idleWatch);
    if (ms > 0)
        AddWatch(QStringLiteral("AddIdleWatch"), {QVariant::fromValue(quint64(ms))}, &m_idleWatch,
                 m_idleGeneration);
}

void TMutterIdleMonitor::WatchForInput()
{
    if (!m_installed)
        return;
    StopWatching();
    m_watching = true;
    AddWatch(QStringLiteral("AddUserActiveWatch"), {}, &m_activeWatch, m_activeGeneration);
}

void TMutterIdleMonitor::StopWatching()
{
    m_watching = false;
    ++m_activeGeneration;
    // A user-active watch that fired is gone on the desktop's side already.
    RemoveWatch(m_activeWatch);
}

void TMutterIdleMonitor::WatchFired(uint id)
{
    if (id == 0)
        return;
    if (id == m_activeWatch && m_watching) {
        m_activeWatch = 0;
        m_watching = false;
        ++m_activeGeneration;
        emit InputResumed();
    } else if (id == m_idleWatch) {
        emit IdleReached();
    }
}

// --- KDE and other desktops with the screensaver service ---------------------

TScreenSaverIdleMonitor::TScreenSaverIdleMonitor(const QDBusConnection &bus, QObject *parent)
    : TPollingMonitor(parent), m_bus(bus)
{
}

bool TScreenSaverIdleMonitor::Install(QString *reason)
{
    if (!ServicePresent(m_bus, kScreenSaverService, reason))
        return false;
    const QDBusMessage reply = Call(m_bus, kScreenSaverService, kScreenSaverPath, kScreenSaverInterface,
                                    QStringLiteral("GetSessionIdleTime"));
    if (!UnsignedReply(reply)) {
        if (reason)
            *reason = QStringLiteral("the screensaver service does not tell the idle time: ") + reply.errorMessage();
        return false;
    }
    return true;
}

std::optional<quint32> TScreenSaverIdleMonitor::IdleMs()
{
    // The desktop answers in milliseconds.
    const std::optional<quint64> idle = UnsignedReply(Call(m_bus, kScreenSaverService, kScreenSaverPath,
                                                           kScreenSaverInterface, QStringLiteral("GetSessionIdleTime")));
    return idle ? std::optional<quint32>(ClampMs(*idle)) : std::nullopt;
}

} // namespace velmora
