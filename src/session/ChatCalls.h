#pragma once
// The call list as one chat sees it: its row's statuses, times and caller
// details, keyed by the call's connection as the call list keys them.
#include "mail/Transcript.h"
#include "session/CallStatus.h"

#include <QString>

#include <optional>

namespace velmora {

class IChatWindow;
class TClientSocket;

class IChatCalls {
public:
    virtual ~IChatCalls() = default;
    virtual void SetCallStatus(TClientSocket *socket, int status) = 0;
    // "End Time" now, with its log line.
    virtual void UpdateDisconnectTime(TClientSocket *socket) = 0;
    // Unlinks the call record from its row; the row stays as history.
    virtual void NullListViewItemData(TClientSocket *socket) = 0;
    virtual void SetCallName(TClientSocket *socket, const QString &name) = 0;
    virtual void SetCallEmail(TClientSocket *socket, const QString &email) = 0;
    virtual void SetCallPhone(TClientSocket *socket, const QString &phone) = 0;
    // The row's status text; empty when no row matches.
    virtual QString StatusOfCall(qint32 sessionCount) const = 0;
    // The row's "Start Time" or "End Time" as the list shows it.
    virtual QString CallTimeText(TClientSocket * /*socket*/, bool /*endTime*/) const { return QString(); }
    // The window has finished closing: the open-window count goes down and the
    // window leaves the list of chat windows.
    virtual void ChatWindowGone(IChatWindow *window) = 0;
    // The call's row as the transcript header shows it (e-mail column, start
    // and end time); nullopt when the call has no row.
    virtual std::optional<TTranscriptHeader> TranscriptRow(TClientSocket * /*socket*/) const { return std::nullopt; }
};

} // namespace velmora
