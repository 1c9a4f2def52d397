#pragma once
// What chat windows carry for the parts that go round them without knowing
// their classes: the console's keys, the placement of new windows and the
// chat workspace's tabs.

namespace velmora {

// A customer chat its number, a supporter chat true.
inline constexpr char kChatNumberProperty[] = "chatNumber";
inline constexpr char kSupporterChatProperty[] = "supporterChat";
// What a chat's tab shows: who chats, the visitor's lines so far, whether the
// visitor types, and whether the chat has ended.
inline constexpr char kChatNameProperty[] = "chatName";
inline constexpr char kChatLinesProperty[] = "chatLines";
inline constexpr char kChatTypingProperty[] = "chatTyping";
inline constexpr char kChatEndedProperty[] = "chatEnded";

} // namespace velmora
