#pragma once
// Row statuses of the call list; each has a fixed text and an image-list
// index. Chats set and read them through IChatCalls, the list shows them.
#include <QString>

namespace velmora {

enum TCallStatus {
    CallStatusWaiting = 0,
    CallStatusAccept = 1,
    CallStatusInChat = 2,
    CallStatusDisconnected = 3,
    CallStatusAnonymous = 4, // only the default "Client Name", never a row status
    CallStatusAnswered = 5,
    CallStatusEndChat = 6,
    CallStatusNetError = 7,
    CallStatusNormal = 8,
    CallStatusTransfered = 9,
};
constexpr int kCallStatusCount = 10;

// "Waiting...", "Accept...", ...; empty for a number outside 0..9.
QString CallStatusText(int status);
// The image-list index of a status; -1 outside 0..9.
int CallStatusIcon(int status);

} // namespace velmora
