#include "session/ServerSession.h"

#include "config/Settings.h"
#include "diag/Boxes.h"
#include "diag/Logdata.h"
#include "diag/SafeText.h"
#include "protocol/MessageCodes.h"
#include "protocol/ServerMessages.h"
#include "session/Exchange.h"
#include "session/SocketBuff.h"
#include "session/Webconnect.h"
#include "session/WsaErrors.h"

#include <QRandomGenerator>

namespace velmora {
namespace {

const char *const kStatusTexts[] = {
    " Connect to the server by clicking the connect button.",
    " Connecting to Server...",
    " Disconnected, reconnect by clicking the connect button !.",
    " Support connecting to server",
    " Support listening for new connections",
    " Connection refused...",
    " Time out error",
    " Auto reconnect in progress, to stop click disconnect button !.",
    " Disconnected, to stop auto reconnect click disconnect button !.",
    " Registering support at server...",
    " Registeration refused or server error...",
};

constexpr int kKeepAliveMs = 300000;
// The server's host or the network may vanish without a word; TCP probes then
// end the connection within about two minutes (60 s idle, 6 probes 10 s apart).
constexpr int kTcpKeepIdleSec = 60;
constexpr int kTcpKeepIntervalSec = 10;
constexpr int kTcpKeepProbes = 6;

} // namespace

QString StatusTextOf(int number)
{
    if (number < 0 || number >= int(std::size(kStatusTexts)))
        return {};
    return QString::fromLatin1(kStatusTexts[number]);
}

TServerSession::TServerSession(ISessionHost &host, TLogFile *log, QObject *parent)
    : QObject(parent), m_host(host), m_log(log), m_sendWorker(std::make_unique<TSocketBuff>()),
      m_instanceToken(MakeInstanceToken())
{
    m_networkCheck = [] { return TWebConnect().GetConnectedState(); };
    m_toTimer.setSingleShot(false);
    connect(&m_toTimer, &QTimer::timeout, this, [this] { ServerEvent(TServerEventKind::TimeOut); });
    m_keepAliveTimer.setInterval(kKeepAliveMs);
    connect(&m_keepAliveTimer, &QTimer::timeout, this, &TServerSession::KeepAliveTimerTimer);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &TServerSession::ReconnectTimerTimer);
}

TServerSession::~TServerSession()
{
    if (m_socket) {
        m_socket->Detach();
        m_socket->Close();
        delete m_socket;
        m_socket = nullptr;
    }
    // The worker joins its thread here, after the socket is shut down.
    m_sendWorker.reset();
}

QString TServerSession::MakeInstanceToken()
{
    static const char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTWXYZ";
    QString token;
    for (int i = 0; i < 14; ++i)
        token += QLatin1Char(kAlphabet[QRandomGenerator::global()->bounded(34)]);
    return token;
}

void TServerSession::Log(const QString &line)
{
    if (m_log)
        m_log->AddLine(line);
}

void TServerSession::ShowStatus(int number)
{
    m_statusText = StatusTextOf(number);
    emit StatusTextChanged(m_statusText);
}

void TServerSession::SetChatLimitValue(int limit)
{
    m_chatLimit = limit;
    emit ChatLimitChanged(limit);
}

void TServerSession::SetSupportersOnlineValue(int count)
{
    m_supportersOnline = count;
    emit SupportersOnlineChanged(count);
}

void TServerSession::ClearConnectFlags()
{
    m_connectRequested = false;
    m_refusalSeen = false;
}

bool TServerSession::Send(const QByteArray &frame)
{
    if (m_socket && QueueMessage(*m_socket, *m_sendWorker, frame))
        return true;
    Log(QStringLiteral("Socket not connected, could not send data, IP = ")
        + (m_socket ? m_socket->PeerAddress() : QString()) + QStringLiteral(",  Port = ")
        + QString::number(m_supportPort) + QStringLiteral(",  SessionCount = 0"));
    return false;
}

bool TServerSession::SendOptional(const std::optional<QByteArray> &frame)
{
    // A configured text too long for its field is never sent cut short.
    return frame ? Send(*frame) : false;
}

bool TServerSession::WaitUntilSent()
{
    return m_sendWorker->WaitUntilSent();
}

void TServerSession::WebSbtnClick()
{
    if (Settings().ClientID.isEmpty()) {
        emit Problem(QStringLiteral("ClientID is missing ? unable to connect, check your setup !!!.\n\n"
                                    "The Client ID is set in Configure › Program Set Up, page \"Web and IP SetUp\"."),
                     QStringLiteral("Error"), BoxIcon::Error);
        return;
    }
    if (m_reconnectTimer.isActive()) {
        m_reconnectTimer.stop();
        m_toTimer.stop();
        m_reconnectStopped = true;
        return;
    }
    ToggleConnection();
    m_reconnectStopped = false;
}

void TServerSession::ToggleConnection()
{
    // The automatic reconnection calls this too; nobody may be at the desk, so
    // it asks no questions and leaves this session's transcript decision alone.
    const bool automatic = m_reconnectTimer.isActive();
    // Decided before any dialog: while one is open the connection may be lost
    // (and a reconnection start), and the answer is about what was asked.
    const bool disconnect = m_connectRequested;
    bool terminateAll = false;
    if (!automatic && !m_exitInProgress && disconnect
        && m_host.OpenChatWindowCount() + m_host.CallsOnHoldCount() > 0) {
        if (!m_host.ConfirmEndingSessions(
                QStringLiteral("Cannot change connection state, you have active sessions \nor waiting calls. It is "
                               "advisable to close all open sessions \nandor OnHold clients first !\n\nIf you wish to "
                               "disconnect and terminate all sessions anyway \nclick Ok, else Cancel."),
                QStringLiteral("Warning !")))
            return;
        terminateAll = true;
    }
    if (!disconnect && !automatic && !m_host.TranscriptChecksBeforeConnect())
        return;
    if (!automatic && !m_networkCheck())
        emit Problem(QStringLiteral("Network is down, reconnect to network before continuing !."), QStringLiteral("Error"),
                     BoxIcon::Error);

    if (disconnect) {
        if (!automatic && m_reconnectTimer.isActive()) {
            // Started behind the dialog: the operator asked to go offline.
            m_reconnectTimer.stop();
            m_toTimer.stop();
        }
        if (terminateAll || m_exitInProgress)
            m_host.EndAllCalls();
        if (!m_connectRequested)
            return; // lost meanwhile; the error handling has done the rest
        m_host.StopIdleDetection();
        ServerEvent(TServerEventKind::DisconnectRequest);
        ClearConnectFlags();
        m_keepAliveTimer.stop();
        SetSupportersOnlineValue(0);
        SetChatLimitValue(0);
    } else {
        if (m_connectRequested)
            return; // connected meanwhile
        m_connectRequested = true;
        m_host.ReloadSettings();
        ServerEvent(TServerEventKind::ConnectRequest);
        m_host.StartMailSession();
    }
}

void TServerSession::OpenSocket()
{
    CloseSocket();
    const TSettings &s = Settings();
    // As the timers will run them (at least a second), so the time-out texts
    // tell what happened.
    m_connectTimeoutSec = TSettings::SecondsToMs(s.ConnectTimeoutValue) / 1000;
    m_registrationTimeoutSec = TSettings::SecondsToMs(s.RegistrationTimeoutValue) / 1000;
    bool portOk = false;
    const uint port = s.WebListenPort.trimmed().toUInt(&portOk);
    m_socket = new TClientSocket(this);
    m_socket->SetHost(s.WebSiteUrl.trimmed());
    m_socket->SetPort(quint16(port));
    m_socket->SetKeepAlive(kTcpKeepIdleSec, kTcpKeepIntervalSec, kTcpKeepProbes);
    connect(m_socket, &TClientSocket::Connected, this, [this] { ServerEvent(TServerEventKind::SocketConnected); });
    connect(m_socket, &TClientSocket::Disconnected, this, &TServerSession::OnSocketClosed);
    connect(m_socket, &TClientSocket::Error, this, &TServerSession::OnSocketError);
    // New calls must be handled while an alert is open, so alerts stack.
    m_socket->SetNestedDispatch(true);
    m_socket->SetFrameHandler([this](quint16 code, const QByteArray &body) {
        HandleServerMessage(code, body);
        ServerEvent(TServerEventKind::MessageReceived, body, code);
    });
    if (!portOk || port == 0 || port > 65535 || m_socket->Host().isEmpty() || !m_socket->Open()) {
        CloseSocket();
        if (m_reconnectTimer.isActive()) {
            // These settings cannot connect at all: every further tick would
            // stack one more box over the window that could stop it.
            m_reconnectTimer.stop();
            m_reconnectStopped = true;
        }
        // The attempt is over before the box opens, and the status says so.
        emit MenusEnabledChanged(true);
        emit BusyAnimationChanged(false);
        ClearConnectFlags();
        ShowStatus(StatusDisconnected);
        emit Problem(QStringLiteral("Network Error, cannot connect ?"), QStringLiteral("Warning !"), BoxIcon::Warning);
        return;
    }
    m_toTimer.start(Settings().ConnectTimeoutMs());
}

void TServerSession::CloseSocket()
{
    if (!m_socket)
        return;
    TClientSocket *socket = m_socket;
    m_socket = nullptr;
    socket->Detach();
    socket->Close();
    // Possibly called from inside this socket's own frame handler.
    socket->deleteLater();
}

void TServerSession::ServerEvent(TServerEventKind event, const QByteArray &body, quint16 code)
{
    switch (m_state) {
    case TServerState::Offline:
        switch (event) {
        case TServerEventKind::ConnectRequest:
            emit BusyAnimationChanged(true);
            if (m_reconnectTimer.isActive()) {
                ShowStatus(StatusAutoReconnect);
            } else {
                m_netErrorCount = 0;
                m_errorSinceManualConnect = false;
                ShowStatus(StatusConnecting);
            }
            OpenSocket();
            break;
        case TServerEventKind::SocketConnected:
            m_toTimer.start(TSettings::SecondsToMs(m_registrationTimeoutSec));
            m_reachedRegistration = false;
            m_state = TServerState::Registering;
            ShowStatus(StatusRegistering);
            m_reconnectTimer.stop();
            break;
        case TServerEventKind::MessageReceived:
            emit BusyAnimationChanged(false);
            if (code == server::MAX_SOCKETS_EXCEEDED || code == server::SERVER_UPGRADE)
                EndAttemptWithNotice(code);
            break;
        case TServerEventKind::DisconnectRequest:
            // A connection still being opened is abandoned, so it cannot log in
            // behind the operator's back once it completes.
            if (m_socket) {
                CloseSocket();
                m_toTimer.stop();
                emit BusyAnimationChanged(false);
                emit MenusEnabledChanged(true);
                if (!m_reconnectTimer.isActive())
                    ShowStatus(StatusDisconnected);
            }
            break;
        case TServerEventKind::TimeOut: {
            m_toTimer.stop();
            emit MenusEnabledChanged(true);
            ClearConnectFlags();
            m_reconnectTimer.stop();
            emit BusyAnimationChanged(false);
            const QString text = QStringLiteral("Could not connect to server, time out after ")
                                 + QString::number(m_connectTimeoutSec)
                                 + QStringLiteral(" seconds.\nTry again in a couple of minuts.\n");
            CloseSocket();
            ShowStatus(StatusDisconnected);
            Log(text);
            emit Problem(text, QStringLiteral("Warning !"), BoxIcon::Warning);
            break;
        }
        case TServerEventKind::SocketClosed:
            break;
        }
        break;

    case TServerState::Registering:
        switch (event) {
        case TServerEventKind::MessageReceived:
            if (code == server::INITIAL_CONNECT) {
                PauseOnServer(200, [this] {
                    const TSettings &s = Settings();
                    SendOptional(server::BuildSupportRegister(s.ClientID, s.AuthValue, m_instanceToken));
                    ShowStatus(StatusSupportConnecting);
                });
            } else if (code == server::REGISTER_ACCEPTED) {
                // Too short to carry the port: a protocol error, not a login
                // (the registration time-out still runs).
                if (!server::DecodeRegisterAccepted(body))
                    break;
                emit MenusEnabledChanged(false);
                SendOptional(server::BuildSupportName(Settings().SupportName));
                // The registration was answered in time; its time-out must not strike in the pause.
                m_toTimer.stop();
                PauseOnServer(200, [this] {
                    Send(server::BuildSupportReady());
                    emit OnlineGlyphChanged(true);
                    emit ChatWithOtherSupportEnabledChanged(true);
                    ShowStatus(StatusListening);
                    m_statusText = QStringLiteral("Support listening for new connections");
                    emit StatusTextChanged(m_statusText);
                    Log(QStringLiteral("Supporter = ") + Settings().SupportName
                        + QStringLiteral(", Connected to server"));
                    m_state = TServerState::Online;
                    m_toTimer.stop();
                    emit BusyAnimationChanged(false);
                    m_reachedRegistration = true;
                    // Working again: the retries of a later loss start afresh.
                    m_netErrorCount = 0;
                    m_keepAliveTimer.start();
                    emit TrayOnlineChanged(true);
                    if (Settings().OfflineTimeOutEna)
                        m_host.StartIdleDetection();
                });
            } else if (code == server::REGISTER_REFUSED) {
                GoOffline();
                ClearConnectFlags();
                ShowStatus(StatusRefused);
                m_host.LoginRefused(m_statusText);
            } else if (code == server::MAX_SOCKETS_EXCEEDED || code == server::SERVER_UPGRADE) {
                EndAttemptWithNotice(code);
            }
            break;
        case TServerEventKind::DisconnectRequest:
            DisconnectFromServer();
            break;
        case TServerEventKind::TimeOut: {
            ShowStatus(StatusTimeOut);
            m_reconnectTimer.stop();
            // Offline before the box opens: a login accepted behind it must
            // find no connection to act on.
            GoOffline();
            ClearConnectFlags();
            ShowStatus(StatusRegistrationRefused);
            const QString text = QStringLiteral("Could not register at server, time out after ")
                                 + QString::number(m_registrationTimeoutSec)
                                 + QStringLiteral(" seconds.\nTry again in a couple of minuts.\n");
            Log(text);
            emit Problem(text, QStringLiteral("Warning !"), BoxIcon::Warning);
            break;
        }
        default:
            break;
        }
        break;

    case TServerState::Online:
        switch (event) {
        case TServerEventKind::MessageReceived:
            if (code == server::SERVER_UPGRADE)
                ShowServerNotice(code, true);
            break;
        case TServerEventKind::DisconnectRequest:
            DisconnectFromServer();
            break;
        default:
            break;
        }
        break;
    }
}

// The login is over, however it ended: the connection goes and every control
// shows the console offline.
void TServerSession::GoOffline()
{
    CloseSocket();
    m_state = TServerState::Offline;
    m_listRequests.clear();
    m_keepAliveTimer.stop();
    m_toTimer.stop();
    emit MenusEnabledChanged(true);
    emit OnlineGlyphChanged(false);
    emit ChatWithOtherSupportEnabledChanged(false);
    emit BusyAnimationChanged(false);
    emit TrayOnlineChanged(false);
    m_host.StopIdleDetection();
}

void TServerSession::PauseOnServer(int milliseconds, std::function<void()> then)
{
    // Frames behind the one being handled wait for the rest of the exchange;
    // it is dropped when the attempt ends meanwhile.
    TClientSocket *socket = m_socket;
    const TServerState state = m_state;
    (new TExchange(this, {socket}))
        ->Pause(milliseconds)
        .Then([this, socket, state, then = std::move(then)] {
            if (m_socket == socket && m_state == state)
                then();
        })
        .Start();
}

// A notice before login ends the attempt. The connection goes before the box
// opens, so nothing that arrives on it meanwhile can act: a login accepted
// there would leave every control showing online over a closed socket.
void TServerSession::EndAttemptWithNotice(quint16 code)
{
    GoOffline();
    ClearConnectFlags();
    ShowStatus(StatusDisconnected);
    ShowServerNotice(code, false);
}

void TServerSession::DisconnectFromServer()
{
    ShowStatus(StatusDisconnected);
    Send(server::BuildSupportDisconnect());
    // The logout is kept 500 ms ahead of the close on the wire, but the
    // console is offline at once: the connection lingers on its own.
    if (m_socket) {
        TClientSocket *leaving = m_socket;
        m_socket = nullptr;
        leaving->Detach();
        leaving->Mute();
        (new TExchange(this, {leaving}))
            ->Pause(500)
            .Then([leaving] {
                leaving->Close();
                leaving->deleteLater();
            })
            .Start();
    }
    GoOffline();
    m_transfer.GiveUp();
    ClearConnectFlags();
    Log(QStringLiteral("Supporter = ") + Settings().SupportName + QStringLiteral(", Disconnected from server."));
}

void TServerSession::OnSocketClosed()
{
    // A server that goes away usually ends the connection in order rather than
    // with an error; for a login in progress or in service that is still a
    // network fault, and the reconnection must take over. So SocketClosed
    // reaches the state machine only while offline, where it changes nothing.
    if (m_state == TServerState::Offline) {
        ServerEvent(TServerEventKind::SocketClosed);
        return;
    }
    OnSocketError(10053);
}

void TServerSession::OnSocketError(int wsaCode)
{
    const TSettings &s = Settings();
    ShowStatus(m_reconnectTimer.isActive() ? StatusDisconnectedReconnecting : StatusDisconnected);
    GoOffline();
    // The answer to a pending transfer would come on the connection that just
    // failed: waiting for it would refuse every later transfer.
    m_transfer.GiveUp();
    m_refusalSeen = false;
    SetChatLimitValue(0);
    SetSupportersOnlineValue(0);

    m_host.TakeDownChatWindowsOnNetError();

    if (!s.ReConnectAfterNetError || (s.DisplayNetworkMessages && !m_errorSinceManualConnect)
        || (m_connectRequested && !m_reachedRegistration))
        emit Problem(ServerSocketErrorText(wsaCode), QStringLiteral("Network error !"), BoxIcon::Error);

    ++m_netErrorCount;
    m_errorSinceManualConnect = true;
    m_connectRequested = false;
    if (s.ReConnectAfterNetError && m_reachedRegistration && !m_reconnectTimer.isActive() && !m_reconnectStopped) {
        Log(QStringLiteral("Network error, application disconnected from server, trying to reconnect !."));
        m_reconnectTimer.start(s.ReconnectIntervalMs());
        ToggleConnection();
    }
}

void TServerSession::ReconnectTimerTimer()
{
    m_toTimer.stop();
    if (m_netErrorCount <= Settings().ReConnectRetriesVal) {
        ToggleConnection();
        return;
    }
    m_reconnectTimer.stop();
    m_reconnectStopped = true;
    // An attempt may still be opening; it must not complete behind the box.
    if (m_state == TServerState::Offline && m_socket) {
        CloseSocket();
        ClearConnectFlags();
        emit BusyAnimationChanged(false);
    }
    ShowStatus(StatusDisconnected);
    emit Problem(QStringLiteral("Reconnection to server failed. Server may be down or you have a \nnetwork problem. Recheck "
                                "your network connection and if OK, try \nagain in a few minutes."),
                 QStringLiteral("Notification !"), BoxIcon::Information);
}

void TServerSession::KeepAliveTimerTimer()
{
    if (m_state == TServerState::Online)
        Send(server::BuildKeepAlive());
}

} // namespace velmora
