#include "session/Calls.h"

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
#include "session/WsaErrors.h"

#include <QPointer>

#include <algorithm>

namespace velmora {

namespace {

// Pauses of the waiting phase, kept on the wire for the server's sake.
constexpr int kAnswerPauseMs = 500;
constexpr int kWelcomePauseMs = 50;
constexpr int kDropPauseMs = 30;
constexpr int kEndAllPauseMs = 100;
constexpr int kTransferPauseMs = 500;
// Alerts stacked beyond this many are not shown: the call goes on hold as if
// its alert had been answered so, which keeps a flood of announcements from
// holding an alert window apiece. Texts from an announcement are cut to this.
constexpr int kMaxAlertsOpen = 25;
constexpr qsizetype kMaxAnnouncedText = 1024;

const QString kCaptionWarning = QStringLiteral("Warning");

QString ChatLimitReachedText()
{
    return QStringLiteral("Cannot Open more chat windows. Please close\none of the current chat windows first !.");
}

} // namespace

TCalls::TCalls(ICallsHost &host, TServerSession &session, TCloseSockets &closer, TLogFile *log, QObject *parent)
    : QObject(parent), m_host(host), m_session(session), m_closer(closer), m_log(log), m_list(log)
{
    connect(&m_onHoldTimer, &QTimer::timeout, this, &TCalls::OnHoldTimerTimer);
    connect(&m_ringRemindTimer, &QTimer::timeout, this, &TCalls::RingRemindTimerTimer);
    ApplyTimerSettings();
}

TCalls::~TCalls()
{
    m_onHoldTimer.stop();
    m_ringRemindTimer.stop();
    for (auto &record : m_records) {
        m_list.UnlinkRecord(record.get());
        if (record->Socket && !record->ConnectionTaken) {
            // Not inside any of its handlers here, so it can go at once.
            record->Socket->Detach();
            record->Socket->Close();
            delete record->Socket;
            record->Socket = nullptr;
        }
    }
    m_records.clear();
}

TCallList &TCalls::CallList()
{
    return m_list;
}

QTimer &TCalls::OnHoldTimer()
{
    return m_onHoldTimer;
}

QTimer &TCalls::RingRemindTimer()
{
    return m_ringRemindTimer;
}

void TCalls::ApplyTimerSettings()
{
    // A zero interval would fire on every pass of the event loop.
    m_onHoldTimer.setInterval(std::max(1000, TSettings::SecondsToMs(Settings().NotAvailTimeOut)));
    m_ringRemindTimer.setInterval(std::max(1000, TSettings::SecondsToMs(Settings().RingRemindTimer)));
}

int TCalls::CallsOnHold() const
{
    return m_callsOnHold;
}

int TCalls::OpenChatWindows() const
{
    return m_openChatWindows;
}

int TCalls::ChatLimit() const
{
    return m_session.ChatLimit();
}

IChatWindow *TCalls::FindChatWindow(qint32 sessionCount) const
{
    for (IChatWindow *window : m_windows)
        if (window->SessionCount() == sessionCount)
            return window;
    return nullptr;
}

const QList<IChatWindow *> &TCalls::ChatWindows() const
{
    return m_windows;
}

void TCalls::Log(const QString &line)
{
    if (m_log)
        m_log->AddLine(line);
}

// --- records -----------------------------------------------------------------

ChatItem *TCalls::NewRecord()
{
    m_records.push_back(std::make_unique<ChatItem>());
    return m_records.back().get();
}

bool TCalls::OwnsRecord(const ChatItem *record) const
{
    return record && std::any_of(m_records.begin(), m_records.end(),
                                 [record](const auto &r) { return r.get() == record; });
}

void TCalls::DestroyRecord(ChatItem *record)
{
    auto it = std::find_if(m_records.begin(), m_records.end(), [record](const auto &r) { return r.get() == record; });
    if (it == m_records.end())
        return;
    // Never leave a row pointing at freed memory.
    m_list.UnlinkRecord(record);
    std::unique_ptr<ChatItem> owned = std::move(*it);
    m_records.erase(it);
    // An alert whose call has gone would only answer nothing.
    if (owned->Alerting && owned->WithdrawAlert) {
        owned->Alerting = false;
        std::exchange(owned->WithdrawAlert, nullptr)();
    }
    if (owned->Socket && !owned->ConnectionTaken) {
        TClientSocket *socket = owned->Socket;
        owned->Socket = nullptr;
        RemoveWaitingHandlers(socket);
        m_closer.CloseInBackground(socket);
    }
    // ~TSocketBuff drops what is still queued; the callers that just sent a
    // farewell have already waited for it.
}

void TCalls::InstallWaitingHandlers(TClientSocket *socket)
{
    socket->SetFrameHandler([this, socket](quint16 code, const QByteArray &body) { WaitingSocketRead(socket, code, body); });
    connect(socket, &TClientSocket::Connected, this, [this, socket] { WaitingSocketConnect(socket); });
    connect(socket, &TClientSocket::Disconnected, this, [this, socket] { WaitingSocketDisconnect(socket); });
    connect(socket, &TClientSocket::Error, this, [this, socket](int code) { WaitingSocketError(socket, code); });
}

void TCalls::RemoveWaitingHandlers(TClientSocket *socket)
{
    socket->SetFrameHandler(nullptr);
    disconnect(socket, nullptr, this, nullptr);
}

// --- calls on hold -------------------------------------------------------------

void TCalls::IncreaseCallsOnHold(ChatItem *record)
{
    if (record->CountedOnHold)
        return;
    record->CountedOnHold = true;
    ++m_callsOnHold;
    emit CountersChanged();
}

void TCalls::LeaveHold(ChatItem *record)
{
    if (!record || !record->CountedOnHold)
        return;
    record->CountedOnHold = false;
    DecreaseCallsOnHold();
}

void TCalls::DecreaseCallsOnHold()
{
    if (m_callsOnHold <= 0) {
        m_callsOnHold = 0;
        return;
    }
    if (--m_callsOnHold == 0) {
        m_host.SetTrayBlinking(false);
        m_onHoldTimer.stop();
    }
    emit CountersChanged();
}

// --- a new call ----------------------------------------------------------------

void TCalls::NewCall(qint32 sessionCount, qint32 port, const QString &site, const QString &ip, quint16 kind)
{
    // A call announced while the console exits would only be answered to be ended.
    if (m_session.ExitInProgress())
        return;
    const TSettings &settings = Settings();

    // The connection exists from the start but is opened only once the alert
    // has been answered.
    auto *socket = new TClientSocket;
    socket->SetHost(settings.WebSiteUrl);
    socket->SetPort(settings.WebListenPort.trimmed().toUShort());

    // The send worker (a thread) comes when the connection opens, so calls
    // whose alerts are still unanswered hold no thread.
    ChatItem *record = NewRecord();
    record->Socket = socket;
    record->SessionCount = sessionCount;
    record->Kind = kind;
    record->Port = port;
    record->IP = ip.left(kMaxAnnouncedText);
    record->WebSite = site.left(kMaxAnnouncedText);

    if (m_host.SoundsOn())
        m_host.PlayMainSound();

    const bool autoOnHold = (m_host.IsMinimizedToTray() && settings.AutoOnHoldOnMinimized)
                            || m_alertsOpen >= kMaxAlertsOpen;
    if (autoOnHold) {
        AlertAnswered(record, false);
        return;
    }
    ++m_alertsOpen;
    if (!m_ringRemindTimer.isActive())
        m_ringRemindTimer.start();
    const bool acceptEnabled = m_openChatWindows < ChatLimit();
    // Nothing waits for the answer: the operator goes on working (and further
    // calls stack their alerts) while this one is open.
    QPointer<TCalls> self(this);
    record->Alerting = true;
    const QString asking = kind == server::TRANSFER_CALL ? m_session.SupporterName(port) : QString();
    auto owns = [self, record, socket, sessionCount] {
        // The record may have gone meanwhile (and its memory been reused).
        return self && self->OwnsRecord(record) && record->Socket == socket && record->SessionCount == sessionCount;
    };
    std::function<void()> withdraw = m_host.ShowNewCallAlertThen(
        kind, record->WebSite, record->IP, acceptEnabled, asking,
        [self, record, owns, acceptEnabled](bool accept) {
            if (!self)
                return; // the console went away while the alert was open
            // Alerts stack: the reminder rings while any of them is open.
            if (--self->m_alertsOpen == 0)
                self->m_ringRemindTimer.stop();
            if (!owns())
                return;
            record->Alerting = false;
            record->WithdrawAlert = nullptr;
            self->AlertAnswered(record, accept && acceptEnabled);
        });
    if (owns() && record->Alerting)
        record->WithdrawAlert = std::move(withdraw);
}

void TCalls::AlertAnswered(ChatItem *record, bool accept)
{
    if (!OwnsRecord(record))
        return;
    TClientSocket *socket = record->Socket;
    const QString site = record->WebSite;

    if (m_session.ExitInProgress()) {
        // Alerts are answered by the exit itself: a call that would only be
        // answered and welcomed to be ended at once is left to the others.
        DestroyRecord(record);
        return;
    }

    if (accept && m_openChatWindows >= ChatLimit()) {
        // The limit was reached while the alert was open.
        ShowBox(ChatLimitReachedText(), kCaptionWarning, BoxIcon::Warning);
        accept = false;
        if (!OwnsRecord(record))
            return;
    }

    if (accept) {
        m_list.AddCallRow(record, CallStatusAccept);
    } else {
        record->OnHold = true;
        m_list.AddCallRow(record, CallStatusWaiting);
        IncreaseCallsOnHold(record);
    }
    if (!OwnsRecord(record))
        return; // the row-limit box runs an event loop

    if (m_host.IsMinimizedToTray() && m_callsOnHold > 0)
        m_host.SetTrayBlinking(true);
    // Restarting a running timer would postpone every waiting call's next text.
    if (m_callsOnHold > 0 && !m_onHoldTimer.isActive())
        m_onHoldTimer.start();

    InstallWaitingHandlers(socket);
    if (!socket->Open())
        PrematureEnd(socket);
}

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
        ShowBox(QStringLiteral("From WaitingSocketRead (INITIAL_CONNECT), item == NULL ?"), QStringLiteral("Warning !"),
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
                        this, [refusal] { ShowBox(refusal, kCaptionWarning, BoxIcon::Warning); },
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
    m_list.SetCallName(socket, record->Name);
    m_list.SetCallEmail(socket, record->Email);
    m_list.SetCallPhone(socket, details->Phone());
    Log(QStringLiteral("User details for SessionCount = ") + QString::number(record->SessionCount)
        + QStringLiteral(",  Name = ") + OneLine(record->Name) + QStringLiteral(",  From Site = ")
        + OneLine(record->WebSite) + QStringLiteral(",  e-mail = ") + OneLine(record->Email));
}

void TCalls::WaitingSocketDisconnect(TClientSocket *socket)
{
    PrematureEnd(socket);
}

void TCalls::WaitingSocketError(TClientSocket *socket, int wsaCode)
{
    const QPointer<TClientSocket> alive(socket);
    ShowBox(ChatSocketErrorText(wsaCode), QStringLiteral("Network error !"), BoxIcon::Error);
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

// --- on hold ---------------------------------------------------------------------

void TCalls::OnHoldTimerTimer()
{
    // Sends may take calls down (rows unlink but stay), so walk by row id.
    std::vector<quint64> ids;
    for (int row = 0; row < m_list.Count(); ++row)
        if (m_list.RowStatus(row) == CallStatusWaiting)
            ids.push_back(m_list.RowId(row));
    for (quint64 id : ids) {
        const int row = m_list.FindRowById(id);
        ChatItem *record = m_list.RowData(row);
        if (!record || !record->Socket || record->ConnectionTaken || m_list.RowStatus(row) != CallStatusWaiting)
            continue;
        // A connection still opening has nobody to tell yet; sending would
        // find it "not connected" and take the call down.
        if (!record->Socket->IsConnected())
            continue;
        // Behind whatever exchange the call's connection is in, as if its
        // pauses had held the timer up; a tick still waiting there stands
        // for this one too, so a long exchange never ends in a burst.
        if (m_holdTicksWaiting.contains(id))
            continue;
        m_holdTicksWaiting.insert(id);
        auto *tick = new TExchange(this, {record->Socket});
        connect(tick, &TExchange::Ended, this, [this, id] { m_holdTicksWaiting.remove(id); });
        tick->Then([this, id] {
                m_holdTicksWaiting.remove(id);
                const int row = m_list.FindRowById(id);
                ChatItem *record = m_list.RowData(row);
                if (!record || !record->Socket || record->ConnectionTaken
                    || m_list.RowStatus(row) != CallStatusWaiting)
                    return;
                const TSettings &settings = Settings();
                const int every = settings.ReminderCount;
                const int count = record->ReminderCount;
                const bool reminder = count != 0 && every > 0 && count % every == 0
                                      && !settings.SupportNotAvailReminderMsg.isEmpty();
                if (!reminder) {
                    if (SendOnCall(record, chat::BuildNotAvailMsg(settings.SupportNotAvailMsg)))
                        record->ReminderCount = count + 1;
                } else if (SendOnCall(record, chat::BuildNotAvailReminder(settings.SupportNotAvailReminderMsg))) {
                    record->ReminderCount = 1;
                    if (ChatLimit() >= m_openChatWindows && m_host.SoundsOn())
                        m_host.PlayMainSound();
                }
            })
            .Start();
    }
}

void TCalls::RingRemindTimerTimer()
{
    if (m_host.SoundsOn())
        m_host.PlayMainSound();
}

// --- chat windows ------------------------------------------------------------------

void TCalls::OpenChatWindow(ChatItem *record)
{
    if (!OwnsRecord(record) || record->ConnectionTaken || !record->Socket)
        return;
    TClientSocket *socket = record->Socket;
    // A number of its own for the session: two chats open at once never share one.
    const int number = m_nextChatNumber++;
    // The window installs its own handlers; frames that arrive in between
    // wait in the socket until it reads them.
    RemoveWaitingHandlers(socket);
    record->ConnectionTaken = true;
    ++m_creatingWindows;
    IChatWindow *window = m_host.CreateChatWindow(record, number);
    --m_creatingWindows;
    if (!window) {
        if (OwnsRecord(record) && record->Socket == socket && record->SendWorker) {
            // No window after all: the call keeps waiting where it was.
            record->ConnectionTaken = false;
            InstallWaitingHandlers(socket);
            socket->ReadNow();
        }
        return;
    }
    if (m_goneWhileCreating.removeAll(window) > 0) {
        // It closed before it was ever listed.
        if (OwnsRecord(record))
            DestroyRecord(record);
        return;
    }
    m_windows.append(window);
    m_windowRecords.append({window, record});
    ++m_openChatWindows;
    LeaveHold(record);
    emit CountersChanged();
}

void TCalls::ChatWindowGone(IChatWindow *window)
{
    const qsizetype at = m_windows.indexOf(window);
    if (at < 0) {
        if (m_creatingWindows > 0)
            m_goneWhileCreating.append(window);
        return;
    }
    m_windows.removeAt(at);
    m_openChatWindows = std::max(0, m_openChatWindows - 1);
    for (qsizetype i = 0; i < m_windowRecords.size(); ++i) {
        if (m_windowRecords[i].first != window)
            continue;
        ChatItem *record = m_windowRecords[i].second;
        m_windowRecords.removeAt(i);
        if (OwnsRecord(record)) {
            LeaveHold(record);
            DestroyRecord(record);
        }
        break;
    }
    emit CountersChanged();
}

void TCalls::TakeDownChatWindowsOnNetError()
{
    const QList<IChatWindow *> windows = m_windows;
    for (IChatWindow *window : windows)
        if (m_windows.contains(window))
            window->TakeDownOnNetError();
}

// --- ending calls -------------------------------------------------------------------

void TCalls::EndWaitingCall(ChatItem *record, int pauseMs, bool updateTimeFirst)
{
    TClientSocket *socket = record->Socket;
    // Each step finds the call again: it may have ended some other way meanwhile.
    auto lookUp = [this, record, socket]() -> ChatItem * {
        return OwnsRecord(record) && record->Socket == socket && !record->ConnectionTaken ? record : nullptr;
    };
    (new TExchange(this, {socket}))
        ->Then([this, lookUp, updateTimeFirst] {
            ChatItem *record = lookUp();
            if (!record)
                return false;
            if (updateTimeFirst)
                m_list.UpdateDisconnectTime(record->Socket);
            if (!record->SendWorker) {
                // Never connected: nothing to say goodbye on.
                if (!updateTimeFirst)
                    m_list.UpdateDisconnectTime(record->Socket);
                LeaveHold(record);
                m_list.SetRowStatus(m_list.FindRowByRecord(record), CallStatusDisconnected);
                DestroyRecord(record);
                return false;
            }
            // Not sent: taken down already, as a call that could not be reached.
            return SendOnCall(record, chat::BuildEndSession());
        })
        .Pause(pauseMs)
        // The farewell must leave before the send worker goes with the record.
        .WaitUntilSent([lookUp]() -> TSocketBuff * {
            ChatItem *record = lookUp();
            return record ? record->SendWorker.get() : nullptr;
        })
        .Then([this, lookUp, updateTimeFirst] {
            ChatItem *record = lookUp();
            if (!record)
                return;
            if (!updateTimeFirst)
                m_list.UpdateDisconnectTime(record->Socket);
            LeaveHold(record);
            m_list.SetRowStatus(m_list.FindRowByRecord(record), CallStatusDisconnected);
            DestroyRecord(record);
        })
        .Start();
}

void TCalls::EndAllCalls()
{
    // Chat windows may ask the operator (an event loop runs), so rows are
    // remembered by id and looked up again each time.
    std::vector<quint64> ids;
    for (int row = 0; row < m_list.Count(); ++row) {
        const int status = m_list.RowStatus(row);
        if (status == CallStatusWaiting || status == CallStatusAccept || status == CallStatusInChat)
            ids.push_back(m_list.RowId(row));
    }
    for (quint64 id : ids) {
        const int row = m_list.FindRowById(id);
        const int status = m_list.RowStatus(row);
        if (row < 0 || (status != CallStatusWaiting && status != CallStatusAccept && status != CallStatusInChat))
            continue;
        ChatItem *record = m_list.RowData(row);
        if (!record) {
            ShowBox(QStringLiteral("Cannot cleanUp the waiting client list, contact support."), kCaptionWarning,
                    BoxIcon::Information);
            continue;
        }
        if (IChatWindow *window = FindChatWindow(record->SessionCount)) {
            // Its call left the hold count when the window opened; the record
            // is gone after the close, and its memory may be a new call's.
            window->FormClose();
            continue;
        }
        EndWaitingCall(record, kEndAllPauseMs, true);
    }
}

void TCalls::CallAnswered(qint32 sessionCount)
{
    // A call whose alert is still open has no row yet: its alert closes, and
    // the call stays as history.
    std::vector<ChatItem *> alerting;
    for (auto &pending : m_records)
        if (pending->SessionCount == sessionCount && pending->Alerting && !pending->ConnectionTaken)
            alerting.push_back(pending.get());
    for (ChatItem *pending : alerting) {
        if (!OwnsRecord(pending))
            continue;
        const QString site = pending->WebSite;
        m_list.AddHistoryRow(site, CallStatusAnswered);
        DestroyRecord(pending);
        m_host.ShowCallNotice(QStringLiteral("Another supporter answered the call")
                              + (site.isEmpty() ? QString() : QStringLiteral(" from ") + OneLine(site))
                              + QStringLiteral("."));
    }
    ChatItem *record = m_list.FindCallBySession(sessionCount);
    if (record && record->ConnectionTaken)
        return; // our own chat window has the call; it ends it itself
    m_list.SetCallStatus(sessionCount, CallStatusAnswered);
    if (!record)
        return;
    LeaveHold(record);
    DestroyRecord(record);
}

bool TCalls::SendOnCallOrWindow(qint32 sessionCount, TClientSocket *socket, const std::optional<QByteArray> &frame)
{
    ChatItem *record = m_list.FindCallBySession(sessionCount);
    if (!record || record->Socket != socket || !frame)
        return false;
    if (!record->ConnectionTaken)
        return SendOnCall(record, frame);
    // The call's chat window opened first (the two messages travel on
    // different connections): the acknowledgement goes out through it.
    IChatWindow *window = FindChatWindow(sessionCount);
    return window && window->SendOnCallConnection(*frame);
}

void TCalls::TransferData(qint32 sessionCount, const QByteArray &data)
{
    ChatItem *record = m_list.FindCallBySession(sessionCount);
    if (!record)
        return;
    record->TransferData = data;
    if (record->ConnectionTaken) {
        if (IChatWindow *window = FindChatWindow(sessionCount)) {
            record->TransferData.clear();
            window->TransferDataArrived(data);
        }
    }
    TClientSocket *socket = record->Socket;
    const qint32 port = record->Port;
    (new TExchange(this, {m_session.Socket(), socket}))
        ->Then([this, sessionCount, socket, port] {
            if (!SendOnCallOrWindow(sessionCount, socket,
                                    chat::BuildSupportAnsToTrans(Settings().ClientID, m_session.SupportPort(),
                                                                 sessionCount)))
                return false;
            Log(QStringLiteral("Send SUPPORT_ANS_TO_TRANS, Socket = ") + QString::number(port)
                + QStringLiteral(" SC = ") + QString::number(sessionCount));
            return true;
        })
        .Pause(kTransferPauseMs)
        .Then([this, sessionCount, socket] { SendOnCallOrWindow(sessionCount, socket, chat::BuildTransComplete()); })
        .Start();
}

// --- the call list's pop-up menu ---------------------------------------------------

TCalls::PopupItems TCalls::ViewListPopUpItems(int row) const
{
    PopupItems items;
    items.clearStatDisplay = m_list.Count() > 0 && !m_session.ConnectRequested();
    const ChatItem *record = m_list.RowData(row);
    if (!record)
        return items;
    // A chat window may already have released the connection it took over,
    // so only a waiting call's socket is looked at.
    const bool open = record->ConnectionTaken ? FindChatWindow(record->SessionCount) != nullptr
                                              : record->Socket && record->Socket->IsConnected();
    if (!open)
        return items;
    items.disconnect = true;
    items.updateEmail = true;
    // A call already in a chat window cannot be opened a second time.
    items.openChat = m_callsOnHold > 0 && !record->ConnectionTaken
                     && m_list.Cell(row, ColClientName) != CallStatusText(CallStatusAnonymous);
    return items;
}

void TCalls::OpenChatAtRow(int row)
{
    ChatItem *record = m_list.RowData(row);
    if (!record || record->ConnectionTaken || !record->Socket || !record->Socket->IsConnected())
        return;
    if (m_openChatWindows < ChatLimit())
        OpenChatWindow(record);
    else
        ShowBox(ChatLimitReachedText(), kCaptionWarning, BoxIcon::Warning);
}

void TCalls::DropCallAtRow(int row)
{
    ChatItem *record = m_list.RowData(row);
    if (!record)
        return;
    if (IChatWindow *window = record->ConnectionTaken ? FindChatWindow(record->SessionCount) : nullptr) {
        // The window sends END_SESSION itself and ends the row.
        window->FormClose();
        return;
    }
    if (record->ConnectionTaken) {
        m_list.SetRowStatus(row, CallStatusDisconnected);
        return;
    }
    // A call whose connection is still opening has no send worker yet: it
    // ends without a farewell, and is freed rather than left to connect.
    EndWaitingCall(record, kDropPauseMs, false);
}

void TCalls::UpdateEmailAtRow(int row)
{
    if (row < 0 || row >= m_list.Count())
        return;
    const quint64 id = m_list.RowId(row);
    const QString edited = m_host.EditEmail(m_list.Cell(row, ColClientEmail));
    // The editor is modal: rows may have moved or gone meanwhile.
    const int now = m_list.FindRowById(id);
    if (now < 0)
        return;
    m_list.SetRowEmail(now, edited);
    if (ChatItem *record = m_list.RowData(now))
        record->Email = edited;
}

void TCalls::ClearStatDisplay()
{
    m_list.ClearStatDisplay();
}

} // namespace velmora
