#pragma once
// One active call: its per-call connection and send worker (until a chat
// window takes them over), and what the console knows about the caller.
#include "archive/ArchiveDb.h"
#include "session/ClientSocket.h"
#include "session/SocketBuff.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace velmora {

struct ChatItem {
    TClientSocket *Socket = nullptr; // owned while no chat window has taken it
    qint32 SessionCount = 0;
    int ReminderCount = 0;
    std::unique_ptr<TSocketBuff> SendWorker; // owned while no chat window has taken it
    QByteArray TransferData;                 // conversation of a transferred call (rich text)
    // What the visitor wrote before a chat window took the connection (a call
    // on hold has been welcomed and may talk); shown when the window opens.
    QStringList EarlyLines;
    qsizetype EarlyChars = 0;
    static constexpr qsizetype kMaxEarlyChars = 256 * 1024;
    QString Name;
    QString Email;
    QString Phone;
    // The archive's record of what the visitor said before a chat window
    // took the call (0: none yet); the window goes on with it.
    qint64 ArchiveChat = 0;
    bool OnHold = false;
    quint16 Kind = 0; // CLIENT_LISTED, SUPPORT_CHAT_LISTED or TRANSFER_CALL
    QString IP;
    qint32 Port = 0; // the transferring supporter's port value, else 0
    QString WebSite;

    // Set once a chat window has taken the connection over: from then on the
    // window owns Socket (the pointer stays here so the row can still be found
    // by it) and has moved SendWorker out. Records belong to TCalls; a chat
    // window never deletes one.
    bool ConnectionTaken = false;
    // Counted in the calls on hold (raised once, lowered once).
    bool CountedOnHold = false;
    // Its alert is still open; WithdrawAlert closes it when the call goes
    // before the operator has answered it.
    bool Alerting = false;
    std::function<void()> WithdrawAlert;
    // The opening messages (INITIAL_CONNECT, SESSION_READY) are answered once
    // per call; repeats are ignored.
    bool InitialConnectAnswered = false;
    bool SessionReadyAnswered = false;
    // For the archive's figures, ms since the epoch (0: did not happen).
    qint64 Announced = 0, Answered = 0, HeldFrom = 0, HeldUntil = 0;
    archive::CallOutcome Outcome = archive::CallOutcome::Missed;
    bool CallArchived = false;
};

// What the call handling needs of an open customer chat window; the window
// class itself lives above this library.
class IChatWindow {
public:
    virtual ~IChatWindow() = default;
    virtual qint32 SessionCount() const = 0;
    // The close procedure: ends the chat (END_SESSION unless already ended),
    // sets the call's end time and status, and closes the window.
    virtual void FormClose() = 0;
    // The server connection failed: end time, "Net Error !", window destroyed
    // without further messages.
    virtual void TakeDownOnNetError() = 0;
    // Sends a finished frame on the call's connection, now the window's;
    // false when it could not be queued.
    virtual bool SendOnCallConnection(const QByteArray & /*frame*/) { return false; }
    // The conversation of a transferred call arrived after the window opened.
    virtual void TransferDataArrived(const QByteArray & /*conversation*/) {}
    // Its own outgoing transfer. The other supporter was asked (named for
    // the archive); answered, it gives the conversation to send (`kept` when
    // it has none newer); given up, it takes text again.
    virtual void TransferOffered(const QString & /*supporter*/) {}
    virtual QByteArray TransferConversation(const QByteArray &kept) { return kept; }
    virtual void RestoreAfterTransfer() {}
    // The transfer was given up before the conversation went (cancelled,
    // or nobody answered in time): as RestoreAfterTransfer, and `line`, when
    // there is one, says so in the chat.
    virtual void TransferGivenUp(const QString & /*line*/) { RestoreAfterTransfer(); }
    // The other supporter has the chat now: it closes as handed over,
    // without asking anything (the visitor's typing goes to the new owner).
    virtual void HandedOver() { FormClose(); }
};

} // namespace velmora
