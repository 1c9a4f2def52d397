#pragma once
// What a customer chat window needs from the console around it: the call
// list (IChatCalls, session/ChatCalls.h) and the main window's services
// (IChatHost).
#include "mail/Transcript.h"
#include "session/ChatCalls.h"

#include <QByteArray>
#include <QString>

#include <optional>

class QWidget;

namespace velmora {

class IChatWindow;
class TClientSocket;
class TLogFile;
class TOneChatWindow;
class TTitleDataClass;

// Image-list indexes of the pictures a chat window shows.
namespace callicon {
inline constexpr int Waiting = 6; // picture of a call waiting for attention
inline constexpr int Normal = 7;
} // namespace callicon

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
    // Gives up this chat's transfer while its conversation has not gone; the
    // window is then restored through TransferGivenUp(`line`). False when
    // there was none to give up.
    virtual bool CancelTransfer(qint32 /*sessionCount*/, const QString & /*line*/) { return false; }
    // A supporter-to-supporter chat ended: the main window may start another.
    virtual void SetChatWithOtherSupportEnabled(bool /*enabled*/) {}
    // A visitor's line has been shown in `window` (for a desktop notice).
    virtual void VisitorLineShown(QWidget * /*window*/, const QString & /*name*/, const QString & /*line*/) {}
    // Opens the past chats of a visitor (an e-mail address or a name).
    virtual void ShowPastChats(const QString & /*visitor*/) {}
};

} // namespace velmora
