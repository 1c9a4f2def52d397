#include "idle/DesktopIdleMonitor.h"

#include "idle/DBusIdleMonitors.h"
#include "idle/WaylandIdleMonitor.h"
#include "idle/X11IdleMonitor.h"

#include <QStringList>

namespace velmora {

std::unique_ptr<IInputMonitor> MakeDesktopInputMonitor(QString *reason)
{
    // The desktop's own services first: under Wayland the X11 extension only
    // sees the input of the few X programs.
    std::unique_ptr<IInputMonitor> candidates[] = {
        std::make_unique<TMutterIdleMonitor>(),
        std::make_unique<TScreenSaverIdleMonitor>(),
        // Before X11: under Wayland, XWayland's extension sees only X programs.
        std::make_unique<TWaylandIdleMonitor>(),
        std::make_unique<TX11IdleMonitor>(),
    };
    QStringList failures;
    for (auto &candidate : candidates) {
        QString why;
        if (candidate->Install(&why)) {
            candidate->Remove();
            return std::move(candidate);
        }
        failures << candidate->Name() + QStringLiteral(": ") + why;
    }
    if (reason)
        *reason = failures.join(QStringLiteral("; "));
    return nullptr;
}

} // namespace velmora
