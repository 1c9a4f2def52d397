#pragma once
// Message codes. The server connection and the per-call connections share some
// numbers with different meanings, hence two namespaces.
#include <QtGlobal>

namespace velmora {

namespace server {
// console -> server
constexpr quint16 KEEP_ALIVE = 0x0000;
constexpr quint16 SUPPORT_REGISTER = 0x0100;
constexpr quint16 SUPPORT_DISCONNECT = 0x0105;
constexpr quint16 SUPPORT_NAME = 0x010A;
constexpr quint16 ONLINE_SUPPORTERS = 0x010B; // both directions
constexpr quint16 TRANSFER_CALL = 0x010C;     // both directions
constexpr quint16 TRANSFER_DATA_SEND = 0x010E;
constexpr quint16 TRANSFER_ANSWERED = 0x010F; // both directions
constexpr quint16 SUPPORT_AWAKE = 0x0111;
constexpr quint16 SUPPORT_IDLE = 0x0112;
constexpr quint16 SUPPORT_READY = 0x0113;
// server -> console
constexpr quint16 INITIAL_CONNECT = 0x0001;
constexpr quint16 CLIENT_LISTED = 0x000D;
constexpr quint16 CALL_ANSWERED = 0x0010;
constexpr quint16 REGISTER_REFUSED = 0x0011;
constexpr quint16 MAX_SOCKETS_EXCEEDED = 0x0012;
constexpr quint16 REGISTER_ACCEPTED = 0x0101;
constexpr quint16 SERVER_UPGRADE = 0x0107;
constexpr quint16 SUPPORT_CHAT_LISTED = 0x0108;
constexpr quint16 TRANSFER_DATA = 0x010D;
constexpr quint16 CHAT_LIMIT = 0x0114;
constexpr quint16 SUPPORTERS_ONLINE = 0x0115;
} // namespace server

namespace chat {
constexpr quint16 CHAT_KEEP_ALIVE = 0x0000;
constexpr quint16 INITIAL_CONNECT = 0x0001;
constexpr quint16 SESSION_READY = 0x0002;
constexpr quint16 USER_DETAILS = 0x0003;
constexpr quint16 SUPPORT_WELCOME = 0x0004;
constexpr quint16 CHAT_TEXT = 0x0005;
constexpr quint16 END_SESSION = 0x0006;
constexpr quint16 WELCOME_MSG = 0x0007;
constexpr quint16 NOT_AVAIL_MSG = 0x0008;
constexpr quint16 SUPPORT_UNAVAILABLE = 0x0009;
constexpr quint16 NOT_AVAIL_REMINDER = 0x000A;
constexpr quint16 PUSH_URL = 0x000B;
constexpr quint16 IMAGE_DATA = 0x000C;
constexpr quint16 TYPING_START = 0x0013;
constexpr quint16 SUPPORT_ANS_TO_TRANS = 0x0016;
constexpr quint16 TRANS_COMPLETE = 0x0017;
constexpr quint16 TYPING_STOP = 0x0020;
constexpr quint16 CHAT_OPTIONS = 0x0021;
constexpr quint16 SUPPORT_ANSWERS_TO_CLI = 0x0104;
constexpr quint16 SUPPORT_IN_MAINTENANCE = 0x0107;
constexpr quint16 SUPPORT_CHAT_REQUEST = 0x0108;
constexpr quint16 SUPPORT_LISTED = 0x0109;
} // namespace chat

} // namespace velmora
