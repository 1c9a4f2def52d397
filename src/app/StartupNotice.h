#pragma once
// A launcher shows start-up feedback (a busy cursor, a spinner on the menu
// entry) until the program started reports that it is up. The toolkit reports
// it when the first window is shown; a start that only brings another
// console's window to the front shows none, so it reports it here instead.
#include <QByteArray>

namespace velmora {

// Tells the desktop that the start `startupId` (DESKTOP_STARTUP_ID, as it was
// before the toolkit read and cleared it) is complete. Does nothing without an
// id or outside X11.
void CompleteStartupNotice(const QByteArray &startupId);

// The "remove" message of the X startup-notification protocol for `startupId`,
// NUL-terminated, with the value's blanks, quotes and backslashes escaped.
QByteArray StartupRemoveMessage(const QByteArray &startupId);

} // namespace velmora
