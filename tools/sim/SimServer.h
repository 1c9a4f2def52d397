#pragma once
// The chat server as the console meets it, with simulated web visitors:
// console logins and counters, visitor calls and their per-call exchange,
// and the relay of supporter chats and transfers between two consoles.
#include "protocol/Codec.h"

#include <QHostAddress>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <optional>

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace velmora::sim {

// Terminal input that goes on the wire; a runaway paste must not make a frame
// the console would drop.
inline constexpr int kMaxTerminalText = 4000;

// What a console's SUPPORT_REGISTER gets in return.
enum class RegisterAnswer { Accept, Refuse, MaxSockets, Upgrade, Ignore };

struct SimOptions {
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 30000; // 0: any free port (tests)
    RegisterAnswer registerAnswer = RegisterAnswer::Accept;
    QString onlyClientId;       // non-empty: every other ClientID is refused
    qint32 chatLimit = 3;
    int callEverySeconds = 0;   // visitor calls on a timer; 0 = only on command
    int visitorLines = 4;       // lines a visitor says before ending; 0 = never ends by itself
    int leaveAfterSeconds = 0;  // a visitor not answered this long leaves; 0 = waits
    int typingMs = 1500;        // a visitor's typing time for one line
    int replyDelayMs = 1500;    // from the operator's line to the visitor starting to type
    bool quietKeepAlive = false;
};

class TSimServer : public QObject {
    Q_OBJECT
public:
    explicit TSimServer(const SimOptions &options, QObject *parent = nullptr);
    ~TSimServer() override;

    // Starts listening; false with a reason in `error` when the port is taken.
    bool Start(QString *error = nullptr);
    quint16 Port() const;

    // Where printed lines go (default: standard output).
    void SetOutput(std::function<void(const QString &)> sink) { m_out = std::move(sink); }

    // One terminal command line. Returns false once "quit" was given.
    bool Execute(const QString &line);
    static QString HelpText();

    // A new visitor call, announced to every ready console; returns its SessionCount.
    qint32 AnnounceCall(const QString &site = {});

    int ConsolesOnline() const;
    const SimOptions &Options() const { return m_options; }

signals:
    void QuitRequested();

private:
    enum class Role { Fresh, Console, SupportLeg, ChatRequester };
    enum class CallKind { Visitor, SupportChat };
    enum class CallState { Listed, Bound, Chatting, Transferring, Ended };

    struct Peer {
        int id = 0;
        QTcpSocket *socket = nullptr;
        FrameBuffer buffer;
        Role role = Role::Fresh;
        bool greeted = false; // INITIAL_CONNECT sent
        // Console
        int consoleNo = 0;
        qint32 portValue = 0;
        QString clientId;
        QString name;
        bool loggedIn = false;
        bool ready = false;
        // SupportLeg / ChatRequester
        qint32 session = 0;
    };

    struct Call {
        qint32 session = 0;
        CallKind kind = CallKind::Visitor;
        CallState state = CallState::Listed;
        QString ip, site;
        QByteArray name, mail, phone;
        int supportPeer = 0;   // the console's per-call connection, 0 while none
        int requesterPeer = 0; // supporter chat: the asking console's connection
        qint32 answeredBy = 0; // port value of the console that took it
        QSet<int> announcedTo; // server connections that got the announcement
        qint32 transferFrom = 0, transferTo = 0;
        int epoch = 0;         // bumped when the leg changes; stale visitor steps then do nothing
        int linesSaid = 0;
        int repliesOwed = 0;
        bool visitorBusy = false;
        int phrase = 0;
    };

    void NewConnection();
    void ReadPeer(int id);
    void PeerClosed(int id);
    void Greet(Peer &peer);
    void HandleFrame(int id, const Frame &frame);
    void HandleFreshFrame(int id, const Frame &frame);
    void HandleConsoleFrame(Peer &peer, const Frame &frame);
    void HandleLegFrame(Peer &peer, const Frame &frame);
    void HandleRequesterFrame(Peer &peer, const Frame &frame);

    void Register(Peer &peer, const Frame &frame);
    int GroupSize(const QString &clientId) const;
    void SendCounters(Peer &peer);
    void BroadcastSupportersOnline(const QString &clientId);
    void SendOnlineSupporters(Peer &peer);
    struct LegAnswer {
        qint32 port;    // the answering console's port value
        qint32 session; // the call
    };
    // Marks a per-call connection as a console's leg of the call it names.
    std::optional<LegAnswer> BindSupportLeg(Peer &peer, const Frame &frame);
    void AnswerCall(Peer &peer, const Frame &frame);
    void AnswerTransfer(Peer &peer, const Frame &frame);
    void RequestSupportChat(Peer &peer, const Frame &frame);
    void Relay(Call &call, int fromPeer, const Frame &frame);

    // The simulated visitor.
    void VisitorDetails(Call &call);
    void VisitorOwesReply(Call &call);
    void VisitorPump(qint32 session);
    void VisitorSay(Call &call, const QByteArray &text);
    void VisitorLeave(Call &call, const QString &why);
    void LeaveIfUnanswered(qint32 session);

    bool Send(int peerId, const std::optional<QByteArray> &frame);
    void Close(int peerId, bool abort = false);
    Peer *FindPeer(int id);
    Peer *FindConsole(qint32 portValue);
    Peer *FindConsoleNo(int consoleNo);
    Call *FindCall(qint32 session);
    QString Who(const Peer &peer) const;
    void Print(const QString &text);

    QList<int> CommandTargets(const QStringList &args);
    bool CommandDrop(const QStringList &args);
    bool CommandSendAll(const QByteArray &frame, const QStringList &args, const char *name);

    SimOptions m_options;
    QTcpServer *m_server = nullptr;
    QTimer *m_callTimer = nullptr;
    std::map<int, std::unique_ptr<Peer>> m_peers;
    std::map<qint32, Call> m_calls;
    std::function<void(const QString &)> m_out;
    int m_nextPeer = 1;
    int m_nextConsoleNo = 1;
    qint32 m_nextSession = 1;
    bool m_silent = false;
};

} // namespace velmora::sim
