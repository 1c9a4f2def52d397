#pragma once
// Windows the operator did not open (a call alert, a chat's end-of-chat
// dialog) appear without taking the keyboard: keys keep going to the window
// in which the operator types until the operator clicks the new one.
class QWidget;

namespace velmora {

// Marks `window` to be shown without activation; when the platform or the
// window manager activates it anyway right after it appears, the window that
// was active gets the keyboard back, with the focus where it was. Call just
// before showing `window`.
void KeepKeyboardWhenShown(QWidget *window);

} // namespace velmora
