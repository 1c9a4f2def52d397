#pragma once
// The console's one connection to the chat server: login, keep-alive,
// time-outs, socket errors and automatic reconnection, and the handling of the
// server's messages that does not depend on the connection's state. Widgets
// stay outside: what the operator sees goes out as signals, what the session
// asks of the console through ISessionHost.
#include "diag/Boxes.h"
#include "session/ChatTransfer.h"
#include "session/ClientSocket.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>

#include <functional>
#include <memory>
#include <optional>

namespace velmora {

class TLogFile;
class TSocketBuff;

enum class TServerState { Offline, Registering, Online };

enum class TServerEventKind { ConnectRequest, SocketConnected, DisconnectRequest, SocketClosed, MessageReceived, TimeOut };

// Numbers of the status-bar texts of the connection.
enum TStatusText {
    StatusConnectHint = 0,
    StatusConnecting = 1,
    StatusDisconnected = 2,
    StatusSupportConnecting = 3,
    StatusListening = 4,
    StatusRefused = 5,
    StatusTimeOut = 6,
    StatusAutoReconnect = 7,
    StatusDisconnectedReconnecting = 8,
    StatusRegistering = 9,
    StatusRegistrationRefused = 10,
};
QString StatusTextOf(int number);

struct TOnlineSupporter {
    QString name;
    qint32 port = 0;
};

// What a supporters list is awaited for.
// Names: only to learn who is who (an alert names the asking supporter).
enum class TSupporterListRequest { None, SupporterChat, Transfer, Names };

// What the session asks of the console. Every method has a harmless default
// so tests implement only what they look at; what only shows goes out as
// TServerSession's signals.
class ISessionHost {
public:
    virtual ~ISessionHost() = default;
    // The server refused the login; `text` is what the status bar says. The
    // operator may be away (a reconnection after a drop): a desktop notice too.
    virtual void LoginRefused(const QString & /*text*/) {}
    // settings and transcripts
    virtual void ReloadSettings() {}
    // Disconnecting would end every chat and waiting call: go on? Without
    // anyone to ask, it goes on.
    virtual bool ConfirmEndingSessions(const QString & /*text*/, const QString & /*caption*/) { return true; }
    // The connect-time transcript checks; false abandons the connect.
    virtual bool TranscriptChecksBeforeConnect() { return true; }
    virtual void StartMailSession() {}
    // calls
    virtual int OpenChatWindowCount() const { return 0; }
    virtual int CallsOnHoldCount() const { return 0; }
    virtual void EndAllCalls() {}
    virtual void TakeDownChatWindowsOnNetError() {}
    virtual void StartIdleDetection() {}
    virtual void StopIdleDetection() {}
    virtual void NewCall(qint32 /*sessionCount*/, qint32 /*port*/, const QString & /*site*/, const QString & /*ip*/,
                         quint16 /*kind*/) {}
    virtual void CallAnswered(qint32 /*sessionCount*/) {}
    virtual void TransferData(qint32 /*sessionCount*/, const QByteArray & /*data*/) {}
    // The conversation of the call being handed over as it is now, with what
    // was said while the other supporter was being asked; `kept` (the copy
    // taken when the transfer began) when its chat window is gone.
    virtual QByteArray TransferConversationNow(qint32 /*sessionCount*/, const QByteArray &kept) { return kept; }
    // A pending transfer's chosen supporter answered: the conversation has been
    // queued; the host closes the transferring chat window.
    virtual void TransferHandedOver(qint32 /*sessionCount*/) {}
    // A non-empty supporters list for a pending request.
    virtual void SupportersListed(TSupporterListRequest, const QVector<TOnlineSupporter> &) {}
    // The pending request ended without a list to choose from.
    virtual void SupporterRequestCancelled(TSupporterListRequest) {}
};

class TServerSession : public QObject {
    Q_OBJECT
public:
    // `log` may be null. The network check answers whether the machine is
    // connected at all; tests replace it.
    TServerSession(ISessionHost &host, TLogFile *log, QObject *parent = nullptr);
    ~TServerSession() override;

    void SetNetworkCheck(std::function<bool()> check) { m_networkCheck = std::move(check); }

    // Operator's connect button.
    void WebSbtnClick();
    // The one entry for a connect or disconnect wish.
    void ToggleConnection();
    void ServerEvent(TServerEventKind event, const QByteArray &body = {}, quint16 code = 0);
    void DisconnectFromServer();
    // State-independent handling of every server message.
    void HandleServerMessage(quint16 code, const QByteArray &body);

    // Sends on the server connection; false (and a log line) when not connected.
    bool Send(const QByteArray &frame);
    bool SendOptional(const std::optional<QByteArray> &frame);
    // Waits (up to about 3.2 s) for the server connection's queue, blocking:
    // for the program's exit only. True if it did not empty.
    bool WaitUntilSent();

    // Supporters list and transfer bookkeeping used by the windows.
    // Requests are answered in the order they were sent: each list goes to
    // the request it belongs to.
    void RequestSupporters(TSupporterListRequest kind);
    bool SupporterRequestPending(TSupporterListRequest kind) const { return m_listRequests.contains(kind); }
    // The console's one transfer: an asked one waits for TRANSFER_ANSWERED
    // of its chat, then the conversation is sent.
    TChatTransfer &Transfer() { return m_transfer; }

    // State, read by the windows and tests.
    TServerState State() const { return m_state; }
    bool ConnectRequested() const { return m_connectRequested; }
    bool ReconnectStopped() const { return m_reconnectStopped; }
    bool ReconnectRunning() const { return m_reconnectTimer.isActive(); }
    int NetErrorCount() const { return m_netErrorCount; }
    qint32 SupportPort() const { return m_supportPort; }
    int ChatLimit() const { return m_chatLimit; }
    // The name that the last list of supporters gave for a port value; empty
    // when no list has named it.
    QString SupporterName(qint32 port) const { return m_supporterNames.value(port); }
    // Asks the server for the list only to learn the names (once while one
    // such request is pending); SupporterNamesKnown follows its answer.
    void LookUpSupporterNames();
    QString StatusText() const { return m_statusText; }
    void SetExitInProgress(bool on) { m_exitInProgress = on; }
    bool ExitInProgress() const { return m_exitInProgress; }
    TClientSocket *Socket() const { return m_socket; }
    TSocketBuff &SendWorker() { return *m_sendWorker; }

    QTimer &TO_Timer() { return m_toTimer; }
    QTimer &KeepAliveWithServerToTimer() { return m_keepAliveTimer; }
    QTimer &ReconnectTimer() { return m_reconnectTimer; }

    static QString MakeInstanceToken();

signals:
    // A supporters list has come (or a names-only request ended without one).
    void SupporterNamesKnown();
    // What the operator sees of the connection.
    void StatusTextChanged(const QString &text);
    void OnlineGlyphChanged(bool online);
    void MenusEnabledChanged(bool enabled);
    void ChatWithOtherSupportEnabledChanged(bool enabled);
    void BusyAnimationChanged(bool running);
    void TrayOnlineChanged(bool online);
    void SupportersOnlineChanged(int count);
    void ChatLimitChanged(int limit);
    // Something the operator has to see; it waits for them where the view can make it.
    void Problem(const QString &text, const QString &caption, BoxIcon icon);

private:
    void ShowStatus(int number);
    void SetChatLimitValue(int limit);
    void SetSupportersOnlineValue(int count);
    void OpenSocket();
    void CloseSocket();
    void GoOffline();
    void EndAttemptWithNotice(quint16 code);
    void ClearConnectFlags();
    void OnSocketError(int wsaCode);
    void OnSocketClosed();
    void ReconnectTimerTimer();
    void KeepAliveTimerTimer();
    void ShowServerNotice(quint16 code, bool online);
    // Runs `then` after a pause on the server connection, unless the
    // connection or its state has changed by then.
    void PauseOnServer(int milliseconds, std::function<void()> then);
    void Log(const QString &line);

    ISessionHost &m_host;
    TLogFile *m_log;
    std::function<bool()> m_networkCheck;
    std::unique_ptr<TSocketBuff> m_sendWorker;
    TClientSocket *m_socket = nullptr;

    TServerState m_state = TServerState::Offline;
    bool m_connectRequested = false;
    bool m_reachedRegistration = false;
    int m_netErrorCount = 0;
    // The network-error box of DisplayNetworkMessages is for the first error
    // after a manual connect only; the count above restarts at every login.
    bool m_errorSinceManualConnect = false;
    bool m_reconnectStopped = false;
    bool m_refusalSeen = false;
    bool m_exitInProgress = false;
    qint32 m_supportPort = 0;
    int m_chatLimit = 0;
    int m_supportersOnline = 0;
    QHash<qint32, QString> m_supporterNames;
    QString m_instanceToken;
    QString m_statusText;
    int m_connectTimeoutSec = 40;
    int m_registrationTimeoutSec = 40;

    QList<TSupporterListRequest> m_listRequests;
    TChatTransfer m_transfer;

    QTimer m_toTimer;
    QTimer m_keepAliveTimer;
    QTimer m_reconnectTimer;
};

} // namespace velmora
