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
// to the front and takes the keyboard, into `focus` or, when none is given,
// into the window's message input (a chat's "InputText") while it takes text.
// A chat in a tab becomes the current tab of its workspace, which comes forward.
void TurnTo(QWidget *window, QWidget *focus = nullptr);

// What chat windows carry for the keys that go round them: a customer chat
// its number, a supporter chat true.
inline constexpr char kChatNumberProperty[] = "chatNumber";
inline constexpr char kSupporterChatProperty[] = "supporterChat";
// What a chat's tab shows: who chats, the visitor's lines so far, whether the
// visitor types, and whether the chat has ended.
inline constexpr char kChatNameProperty[] = "chatName";
inline constexpr char kChatLinesProperty[] = "chatLines";
inline constexpr char kChatTypingProperty[] = "chatTyping";
inline constexpr char kChatEndedProperty[] = "chatEnded";

} // namespace velmora
