// The waiting phase of a call: its connection from the first byte until a chat
// window takes it over (or the call ends first).
#include "session/Calls.h"

#include "session/CallsText.h"

#include "archive/ArchiveRecorder.h"
#include "config/Settings.h"
#include "diag/Boxes.h"
#include "diag/Logdata.h"
#include "diag/SafeText.h"
#include "protocol/ChatMessages.h"
#include "protocol/ImageFile.h"
#include "protocol/ServerMessages.h"
#include "session/CloseSockets.h"
#include "session/Exchange.h"
#include "session/ServerSession.h"
#include "session/SocketBuff.h"
#include "session/UserDetails.h"
#include "session/WsaErrors.h"

#include <QPointer>

#include <algorithm>

namespace velmora {

namespace {

// The caller as the archive knows it, from what the call record has learnt.
TArchiveChat ArchivedCaller(const ChatItem &record)
{
    TArchiveChat chat;
    chat.Visitor = record.Name;
    chat.Email = record.Email;
    chat.Phone = record.Phone;
    if (record.Kind == server::SUPPORT_CHAT_LISTED)
        chat.OtherSupporter = record.Name;
    return chat;
}

// Pauses of the waiting phase, kept on the wire for the server's sake.
constexpr int kAnswerPauseMs = 500;
constexpr int kWelcomePauseMs = 50;

} // namespace

// --- the waiting phase ------------------------------------------------------------

void TCalls::WaitingSocketConnect(TClientSocket *socket)
{
    ChatItem *record = m_list.FindCallBySocket(socket);
    if (!record)
        return;
    if (!record->SendWorker && !record->ConnectionTaken)
        record->SendWorker = std::make_unique<TSocketBuff>();
    Log(QStringLiteral("Opend new connection in response to client call Socket = ") + QString::number(socket->Handle())
        + QStringLiteral(" SC = ") + QString::number(record->SessionCount));
}

void TCalls::WaitingSocketRead(TClientSocket *socket, quint16 code, const QByteArray &body)
{
    switch (code) {
    case chat::INITIAL_CONNECT: {
        ChatItem *early = m_list.FindCallBySocket(socket);
        if (early && !early->ConnectionTaken) {
            if (early->InitialConnectAnswered)
                return; // answered already: a repeat gets no second answer
            early->InitialConnectAnswered = true;
        }
        // A transferred call is answered on the server connection.
        TClientSocket *serverSocket = early && early->Kind == server::TRANSFER_CALL ? m_session.Socket() : nullptr;
        const bool known = early && !early->ConnectionTaken;
        (new TExchange(this, {socket, serverSocket}))
            ->Pause(kAnswerPauseMs)
            .Then([this, socket, known] { AnswerInitialConnect(socket, known); })
            .Start();
        return;
    }
    case chat::SESSION_READY:
        HandleSessionReady(socket, body);
        return;
    case chat::USER_DETAILS:
        HandleUserDetails(socket, body);
        return;
    case chat::END_SESSION: {
        const ChatItem *record = m_list.FindCallBySocket(socket);
        if (!record || record->ConnectionTaken)
            return;
        Log(QStringLiteral("Remote client has send END_SESSION message, SessionCount = ")
            + QString::number(record->SessionCount));
        PrematureEnd(socket);
        return;
    }
    case chat::CHAT_TEXT: {
        // A visitor on hold was welcomed and may talk: the lines wait for the
        // chat window, up to a bound.
        ChatItem *record = m_list.FindCallBySocket(socket);
        const std::optional<QByteArray> text = chat::DecodeChatText(body);
        if (!record || record->ConnectionTaken || !text)
            return;
        const QString line = FromWire(*text);
        if (record->EarlyChars + line.size() > ChatItem::kMaxEarlyChars)
            return;
        record->EarlyChars += line.size();
        record->EarlyLines.append(line);
        ArchiveEarlyLine(record, line);
        return;
    }
    default:
        // Typing notices before a chat window exists, and unknown codes, are
        // dropped.
        return;
    }
}

void TCalls::AnswerInitialConnect(TClientSocket *socket, bool known)
{
    ChatItem *record = m_list.FindCallBySocket(socket);
    if (!record || record->ConnectionTaken) {
        // A call that ended during the pause (answered elsewhere, say) has
        // nobody left to answer; only a greeting for no call at all is odd.
        if (known)
            return;
        emit Problem(QStringLiteral("From WaitingSocketRead (INITIAL_CONNECT), item == NULL ?"), QStringLiteral("Warning !"),
                     BoxIcon::Warning);
        return;
    }
    const qint32 sessionCount = record->SessionCount;
    if (record->Kind == server::TRANSFER_CALL) {
        m_session.Send(server::BuildTransferAnswered(sessionCount, record->Port));
        return;
    }
    const int handle = socket->Handle();
    if (SendOnCall(record, chat::BuildSupportAnswersToCli(Settings().ClientID, m_session.SupportPort(), sessionCount)))
        Log(QStringLiteral("Send SUPPORT_ANSWERS_TO_CLI, Socket = ") + QString::number(handle)
            + QStringLiteral(" SC = ") + QString::number(sessionCount));
}

void TCalls::HandleSessionReady(TClientSocket *socket, const QByteArray &body)
{
    const std::optional<qint32> sessionCount = chat::DecodeSessionReady(body);
    if (!sessionCount)
        return;
    // Only this connection's own call: a peer must not make us talk on
    // another visitor's connection.
    auto lookUp = [this, socket, sc = *sessionCount]() -> ChatItem * {
        ChatItem *record = m_list.FindCallBySession(sc);
        return record && record->Socket == socket && !record->ConnectionTaken ? record : nullptr;
    };
    ChatItem *record = lookUp();
    if (!record || record->SessionReadyAnswered)
        return; // a repeat is not welcomed twice
    record->SessionReadyAnswered = true;

    (new TExchange(this, {socket}))
        ->Then([this, lookUp] {
            ChatItem *record = lookUp();
            if (!record)
                return false;
            const TSettings &settings = Settings();
            const ImageFile image = LoadImageFile(settings.WelcomeImgFileName);
            if (image.status == ImageFileStatus::Ok) {
                SendOnCall(record, chat::BuildImageData(image.bytes));
            } else {
                // Shown from the event loop: a box opened here would hold
                // the call's connection (and its on-hold texts) until closed.
                const QString refusal = ImageRefusalText(image.status, settings.WelcomeImgFileName);
                if (!refusal.isEmpty())
                    QMetaObject::invokeMethod(
                        this, [this, refusal] { emit Problem(refusal, kCaptionWarning, BoxIcon::Warning); },
                        Qt::QueuedConnection);
            }
            return true;
        })
        .Pause(kWelcomePauseMs)
        .Then([this, lookUp] {
            // The box ran an event loop; a failed send took the call down.
            ChatItem *record = lookUp();
            if (!record)
                return false;
            SendOnCall(record, chat::BuildWelcomeMsg(Settings().WelcomToMsgMsg));
            return true;
        })
        .Pause(kWelcomePauseMs)
        .Then([this, lookUp, sc = *sessionCount] {
            ChatItem *record = lookUp();
            if (record && m_list.StatusOfCall(sc) == CallStatusText(CallStatusAccept))
                OpenChatWindow(record);
        })
        .Start();
}

void TCalls::HandleUserDetails(TClientSocket *socket, const QByteArray &body)
{
    ChatItem *record = m_list.FindCallBySocket(socket);
    if (!record || record->ConnectionTaken)
        return;
    const std::optional<chat::UserDetails> details = chat::DecodeUserDetails(body);
    if (!details)
        return;
    record->Name = details->Name();
    record->Email = details->Email();
    record->Phone = details->Phone();
    if (TArchiveRecorder *recorder = ArchiveRecorder(); recorder && record->ArchiveChat)
        recorder->UpdateCaller(record->ArchiveChat, ArchivedCaller(*record));
    ShowUserDetails(m_list, socket, *details);
    Log(UserDetailsLogLine(record->SessionCount, *details, record->WebSite));
}

void TCalls::ArchiveEarlyLine(ChatItem *record, const QString &line)
{
    // What a visitor says before a window takes the call is kept at once: a
    // visitor on hold may well leave before anyone opens it.
    TArchiveRecorder *recorder = ArchiveRecorder();
    if (!recorder)
        return;
    if (!record->ArchiveChat) {
        TArchiveChat chat = ArchivedCaller(*record);
        chat.SessionCount = record->SessionCount;
        chat.Kind = record->Kind;
        chat.Site = record->WebSite;
        chat.IP = record->IP;
        chat.Supporter = Settings().SupportName;
        record->ArchiveChat = recorder->BeginChat(chat);
    }
    const bool supporter = record->Kind == server::SUPPORT_CHAT_LISTED;
    recorder->AddLine(record->ArchiveChat,
                      TArchiveLine::Said(supporter ? archive::Who::OtherSupporter : archive::Who::Visitor,
                                         record->Name, line));
}

void TCalls::WaitingSocketDisconnect(TClientSocket *socket)
{
    PrematureEnd(socket);
}

void TCalls::WaitingSocketError(TClientSocket *socket, int wsaCode)
{
    const QPointer<TClientSocket> alive(socket);
    emit Problem(ChatSocketErrorText(wsaCode), QStringLiteral("Network error !"), BoxIcon::Error);
    // While the box was open the call may have been ended and its socket
    // released; a new call's socket can then sit at the same address.
    if (!alive)
        return;
    // The connection is gone after an error; a call left linked to it could
    // never be dropped, opened or cleared.
    PrematureEnd(socket);
}

void TCalls::PrematureEnd(TClientSocket *socket)
{
    ChatItem *record = m_list.FindCallBySocket(socket);
    if (!record || record->ConnectionTaken)
        return;
    Log(QStringLiteral("Waiting client has prematurely disconnected, SessionCount = ")
        + QString::number(record->SessionCount));
    const int row = m_list.FindRowByRecord(record);
    if (m_list.RowStatus(row) != CallStatusAnswered) {
        m_list.SetRowEndTime(row);
        m_list.SetRowStatus(row, CallStatusDisconnected);
        LeaveHold(record);
    }
    DestroyRecord(record); // closes the socket in the background and unlinks the row
}

bool TCalls::SendOnCall(ChatItem *record, const std::optional<QByteArray> &frame)
{
    if (!record || record->ConnectionTaken)
        return false;
    if (!frame)
        return false; // a configured text too long for its field: nothing to send
    if (record->Socket && record->SendWorker && QueueMessage(*record->Socket, *record->SendWorker, *frame))
        return true;
    NotConnected(record);
    return false;
}

void TCalls::NotConnected(ChatItem *record)
{
    const qint32 sessionCount = record->SessionCount;
    if (m_list.StatusOfCall(sessionCount) != CallStatusText(CallStatusDisconnected)) {
        const QString ip = record->Socket ? record->Socket->PeerAddress() : QString();
        Log(QStringLiteral("Socket not connected, could not send data, IP = ") + ip + QStringLiteral(",  Port = ")
            + QString::number(m_session.SupportPort()) + QStringLiteral(",  SessionCount = ")
            + QString::number(sessionCount));
    }
    const int row = m_list.FindRowByRecord(record);
    if (row >= 0) {
        m_list.SetRowEndTime(row);
        Log(QStringLiteral("Session with client has endded, SessionCount = ") + QString::number(sessionCount));
        m_list.SetRowStatus(row, CallStatusDisconnected);
    }
    LeaveHold(record);
    // Nothing can reach the call any more: free it rather than leak it.
    DestroyRecord(record);
}

} // namespace velmora
