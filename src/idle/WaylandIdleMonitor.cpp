#include "idle/WaylandIdleMonitor.h"

#include "ext-idle-notify-v1-client-protocol.h"
#include "kde-idle-client-protocol.h"

#include <QSocketNotifier>

#include <wayland-client.h>

namespace velmora {

struct TWaylandIdleMonitor::Private {
    wl_display *display = nullptr;
    wl_registry *registry = nullptr;
    wl_seat *seat = nullptr;
    ext_idle_notifier_v1 *notifier = nullptr;
    ext_idle_notification_v1 *notification = nullptr;
    org_kde_kwin_idle *kdeIdle = nullptr;
    org_kde_kwin_idle_timeout *kdeTimeout = nullptr;

    void DropNotification()
    {
        if (notification)
            ext_idle_notification_v1_destroy(notification);
        notification = nullptr;
        if (kdeTimeout)
            org_kde_kwin_idle_timeout_release(kdeTimeout);
        kdeTimeout = nullptr;
    }

    ~Private()
    {
        DropNotification();
        if (notifier)
            ext_idle_notifier_v1_destroy(notifier);
        if (kdeIdle)
            org_kde_kwin_idle_destroy(kdeIdle);
        if (seat)
            wl_seat_destroy(seat);
        if (registry)
            wl_registry_destroy(registry);
        if (display)
            wl_display_disconnect(display);
    }
};

namespace {

void OnGlobal(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t /*version*/)
{
    auto *d = static_cast<TWaylandIdleMonitor::Private *>(data);
    const QByteArray iface(interface);
    // Version 1 of each is all we use; the first seat is the operator's.
    if (iface == wl_seat_interface.name && !d->seat)
        d->seat = static_cast<wl_seat *>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (iface == ext_idle_notifier_v1_interface.name && !d->notifier)
        d->notifier = static_cast<ext_idle_notifier_v1 *>(
            wl_registry_bind(registry, name, &ext_idle_notifier_v1_interface, 1));
    else if (iface == org_kde_kwin_idle_interface.name && !d->kdeIdle)
        d->kdeIdle = static_cast<org_kde_kwin_idle *>(wl_registry_bind(registry, name, &org_kde_kwin_idle_interface, 1));
}

void OnGlobalRemove(void *, wl_registry *, uint32_t) {}

const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

} // namespace

TWaylandIdleMonitor::TWaylandIdleMonitor(const QByteArray &displayName, QObject *parent)
    : IInputMonitor(parent), m_displayName(displayName)
{
}

TWaylandIdleMonitor::~TWaylandIdleMonitor()
{
    Remove();
}

QString TWaylandIdleMonitor::Name() const
{
    return QStringLiteral("Wayland idle protocol");
}

QString TWaylandIdleMonitor::Protocol() const
{
    if (!d)
        return QString();
    return d->notifier ? QStringLiteral("ext-idle-notify-v1") : QStringLiteral("org_kde_kwin_idle");
}

bool TWaylandIdleMonitor::Install(QString *reason)
{
    if (d)
        return true;
    const auto fail = [reason](const QString &why) {
        if (reason)
            *reason = why;
        return false;
    };
    if (m_displayName.isEmpty() && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return fail(QStringLiteral("not a Wayland desktop"));
    wl_display *display = wl_display_connect(m_displayName.isEmpty() ? nullptr : m_displayName.constData());
    if (!display)
        return fail(QStringLiteral("cannot connect to the Wayland display"));
    auto *p = new Private;
    p->display = display;
    p->registry = wl_display_get_registry(display);
    wl_registry_add_listener(p->registry, &kRegistryListener, p);
    // Two round trips: the globals, then what binding them sent. The
    // compositor answers at once; it is the desktop the console runs on.
    if (wl_display_roundtrip(display) < 0 || wl_display_roundtrip(display) < 0) {
        delete p;
        return fail(QStringLiteral("the Wayland display does not answer"));
    }
    if (!p->seat || (!p->notifier && !p->kdeIdle)) {
        delete p;
        return fail(QStringLiteral("the compositor offers no idle notifications"));
    }
    d = p;
    m_notifier = new QSocketNotifier(wl_display_get_fd(display), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TWaylandIdleMonitor::Dispatch);
    Renotify();
    return true;
}

void TWaylandIdleMonitor::Remove()
{
    m_watching = false;
    m_idledTick.reset();
    delete m_notifier;
    m_notifier = nullptr;
    delete d;
    d = nullptr;
}

void TWaylandIdleMonitor::Disconnected()
{
    // The compositor went (or broke the connection): "input just now" from
    // here on is the harmless answer; the next Install connects afresh.
    Remove();
}

void TWaylandIdleMonitor::Dispatch()
{
    if (!d)
        return;
    if (wl_display_dispatch(d->display) < 0) {
        Disconnected();
        return;
    }
    if (d)
        wl_display_flush(d->display);
}

void TWaylandIdleMonitor::Renotify()
{
    if (!d)
        return;
    d->DropNotification();
    m_idledTick.reset();
    if (m_threshold == 0)
        return;
    // The listeners only forward to the monitor; the notification's user data
    // is the monitor itself.
    static const ext_idle_notification_v1_listener extListener = {
        [](void *data, ext_idle_notification_v1 *) { static_cast<TWaylandIdleMonitor *>(data)->Idled(); },
        [](void *data, ext_idle_notification_v1 *) { static_cast<TWaylandIdleMonitor *>(data)->Resumed(); },
    };
    static const org_kde_kwin_idle_timeout_listener kdeListener = {
        [](void *data, org_kde_kwin_idle_timeout *) { static_cast<TWaylandIdleMonitor *>(data)->Idled(); },
        [](void *data, org_kde_kwin_idle_timeout *) { static_cast<TWaylandIdleMonitor *>(data)->Resumed(); },
    };
    if (d->notifier) {
        d->notification = ext_idle_notifier_v1_get_idle_notification(d->notifier, m_threshold, d->seat);
        ext_idle_notification_v1_add_listener(d->notification, &extListener, this);
    } else {
        d->kdeTimeout = org_kde_kwin_idle_get_idle_timeout(d->kdeIdle, d->seat, m_threshold);
        org_kde_kwin_idle_timeout_add_listener(d->kdeTimeout, &kdeListener, this);
    }
    wl_display_flush(d->display);
}

void TWaylandIdleMonitor::Idled()
{
    m_idledTick = TickNow();
    emit IdleReached();
}

void TWaylandIdleMonitor::Resumed()
{
    m_idledTick.reset();
    if (!m_watching)
        return;
    m_watching = false;
    emit InputResumed();
}

quint32 TWaylandIdleMonitor::LastInputTick()
{
    if (d)
        wl_display_dispatch_pending(d->display);
    return m_idledTick ? *m_idledTick - m_threshold : TickNow();
}

void TWaylandIdleMonitor::WatchForInput()
{
    m_watching = true;
}

void TWaylandIdleMonitor::StopWatching()
{
    m_watching = false;
}

void TWaylandIdleMonitor::SetIdleThreshold(quint32 ms)
{
    if (ms == m_threshold && (!d || d->notification || d->kdeTimeout))
        return;
    m_threshold = ms;
    Renotify();
}

} // namespace velmora
