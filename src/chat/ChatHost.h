#pragma once
// What a customer chat window needs from the console around it: the call
// list (through IChatCalls, so the window never reaches into the session
// library's internals) and the main window's services (IChatHost).
#include "mail/Transcript.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace velmora {

class IChatWindow;
class TClientSocket;
class TLogFile;
class TOneChatWindow;
class TTitleDataClass;

// Row statuses and image-list indexes of the call list that a chat window sets
// or shows.
namespace callstatus {
inline constexpr int Waiting = 0;
inline constexpr int InChat = 2;
inline constexpr int EndChat = 6;
inline constexpr int NetError = 7;
inline constexpr int Transfered = 9;
inline constexpr const char *EndChatText = "End Chat !";
} // namespace callstatus

namespace callicon {
inline constexpr int Waiting = 6; // picture of a call waiting for attention
inline constexpr int Normal = 7;
} // namespace callicon

// The call list operations of one chat, keyed as the call list keys them.
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

// What a chat that is being transferred hands to the main window.
struct TTransferSource {
    qint32 SessionCount = 0;
    QString Name;
    QString Email;
    QByteArray Conversation; // the conversation as RTF, header included
};

class IChatHost {
public:
    virtual ~IChatHost() = default;
    // The session log; may be null.
    virtual TLogFile *Log() { return nullptr; }
    virtual bool TranscriptsOff() const { return true; }
    // Composes and queues the transcript of a chat that is ending.
    virtual void ComposeTranscript(const TTranscriptSource & /*source*/) {}
    // The canned answers and URL shortcuts offered by the extra tools.
    virtual const TTitleDataClass *CannedMessages() const { return nullptr; }
    virtual const TTitleDataClass *UrlShortcuts() const { return nullptr; }
    // The operator asked to hand this chat to another supporter: false when
    // the console refuses (a box has told why).
    virtual bool BeginTransfer(const TTransferSource & /*source*/) { return false; }
    // A supporter-to-supporter chat ended: the main window may start another.
    virtual void SetChatWithOtherSupportEnabled(bool /*enabled*/) {}
};

} // namespace velmora
