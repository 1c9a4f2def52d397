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

// The operator turns to `window` (a key of ours, a notice, a click): it comes
// to the front and takes the keyboard, into `focus` when one is given and
// takes it. A chat goes through TurnToChat, which knows where chats are.
void TurnTo(QWidget *window, QWidget *focus = nullptr);

// The operator is typing in a chat: the message box in focus holds text, or
// a key went into a message box within the last two seconds. A chat that
// opens meanwhile must not take the keys.
bool OperatorTypingInChat();
// Message boxes (widgets named "InputText") report their keys here.
void WatchTyping(QWidget *input);

} // namespace velmora
