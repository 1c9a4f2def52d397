#include "idle/X11IdleMonitor.h"

#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

namespace velmora {

struct TX11IdleMonitor::Private {
    Display *display = nullptr;
    XScreenSaverInfo *info = nullptr;
};

TX11IdleMonitor::TX11IdleMonitor(const QByteArray &displayName, QObject *parent)
    : TPollingMonitor(parent), m_displayName(displayName)
{
}

TX11IdleMonitor::~TX11IdleMonitor()
{
    Remove();
}

bool TX11IdleMonitor::Install(QString *reason)
{
    if (d)
        return true;
    Display *display = XOpenDisplay(m_displayName.isEmpty() ? nullptr : m_displayName.constData());
    if (!display) {
        if (reason)
            *reason = QStringLiteral("cannot open the X display");
        return false;
    }
    int eventBase = 0;
    int errorBase = 0;
    if (!XScreenSaverQueryExtension(display, &eventBase, &errorBase)) {
        XCloseDisplay(display);
        if (reason)
            *reason = QStringLiteral("the X server has no screensaver extension");
        return false;
    }
    XScreenSaverInfo *info = XScreenSaverAllocInfo();
    if (!info) {
        XCloseDisplay(display);
        if (reason)
            *reason = QStringLiteral("out of memory");
        return false;
    }
    d = new Private{display, info};
    return true;
}

void TX11IdleMonitor::Remove()
{
    TPollingMonitor::Remove();
    if (!d)
        return;
    XFree(d->info);
    XCloseDisplay(d->display);
    delete d;
    d = nullptr;
}

std::optional<quint32> TX11IdleMonitor::IdleMs()
{
    if (!d)
        return std::nullopt;
    if (!XScreenSaverQueryInfo(d->display, DefaultRootWindow(d->display), d->info))
        return std::nullopt;
    return static_cast<quint32>(d->info->idle);
}

} // namespace velmora
