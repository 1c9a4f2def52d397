#pragma once
// Where a new chat window opens and how large: side by side while the screen
// has room, then cascaded, never exactly over another chat and off the main
// window while there is room, at the size the operator last gave a chat window.
#include <QList>
#include <QRect>
#include <QSize>

#include <optional>

class QWidget;

namespace velmora {

// Two windows whose corners are closer than this look like one.
inline constexpr int kCascadeStep = 28;

// The top-left corner for a window of `size` on `screen` (available area),
// given the frames of the open chat windows and of the main window (`avoid`,
// empty when there is none). The call list stays uncovered while the screen
// has room beside it; no corner ever lands on an open chat's corner.
QPoint CascadePosition(const QSize &size, const QList<QRect> &chats, const QRect &avoid, const QRect &screen);

// The top-left corner of a chat's extra tools (of frame size `tools`): beside
// the chat's right edge, 200 pixels below its top; on its left when the right
// has no room; always on `screen` (available area) as far as it fits.
QPoint ExtraToolsPosition(const QRect &chatFrame, const QSize &tools, const QRect &screen);

// Where `window` (of inner `size`, not shown yet) opens among the console's
// visible windows: off the main window and the open chats (and `alsoAvoid`),
// its frame taken to be like the main window's.
QPoint OpeningPosition(const QWidget *window, const QSize &size, const QList<QRect> &alsoAvoid = {});
// A chat window's opening size: the remembered one within the screen, never
// below `minimum`.
QSize OpeningChatSize(const QSize &minimum);

// The size chat windows open with: the last one the operator gave a chat
// window in this run (or loaded at start), never below `minimum`.
QSize RememberedChatSize(const QSize &minimum);
void RememberChatSize(const QSize &size);
// Nothing remembered yet.
bool HasRememberedChatSize();

// Whether the desktop places and stacks windows on its own (a Wayland
// compositor): a window's position, a tool window beside its chat and "stay
// on top" are then requests it ignores.
bool DesktopPlacesWindows();
// Tests choose; nullopt asks the platform again.
void SetDesktopPlacesWindows(std::optional<bool> places);

} // namespace velmora
