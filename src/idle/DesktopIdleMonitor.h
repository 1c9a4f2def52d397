#pragma once
// Picks the input monitor that works on this desktop.
#include "idle/InputMonitor.h"

#include <memory>

namespace velmora {

// Tries, in order, the GNOME idle monitor, the screensaver service (KDE), the
// compositor's Wayland idle protocol and the X11 screensaver extension. Null when none works; `reason` then lists
// why each one failed.
std::unique_ptr<IInputMonitor> MakeDesktopInputMonitor(QString *reason);

} // namespace velmora
