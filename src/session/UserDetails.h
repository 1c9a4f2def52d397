#pragma once
// A visitor's USER_DETAILS message, wherever the call is (waiting or in chat):
// the details go to the call's row and into the log.
#include "protocol/ChatMessages.h"

#include <QString>

#include <optional>

namespace velmora {

class TClientSocket;

// Name, e-mail and phone on the call's row; `rows` is the call list or a
// chat's view of it.
template <class Rows>
void ShowUserDetails(Rows &rows, TClientSocket *socket, const chat::UserDetails &details)
{
    rows.SetCallName(socket, details.Name());
    rows.SetCallEmail(socket, details.Email());
    rows.SetCallPhone(socket, details.Phone());
}

// The log line; the web site is named while the call still waits, the only
// time it is at hand.
QString UserDetailsLogLine(qint32 sessionCount, const chat::UserDetails &details,
                           const std::optional<QString> &webSite = std::nullopt);

} // namespace velmora
