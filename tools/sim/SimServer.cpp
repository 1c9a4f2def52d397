#include "SimServer.h"

#include "SimText.h"
#include "protocol/MessageCodes.h"

#include <QDateTime>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>
#include <iterator>

namespace velmora::sim {
namespace {

struct CannedVisitor {
    const char *name;
    const char *mail;
    const char *phone;
};

const CannedVisitor kVisitors[] = {
    {"Anna Berg", "anna.berg@example.com", "+1 555 0100"},
    {"Tomas Reyes", "tomas.reyes@example.org", ""},
    {"Mei Lin", "", "555-0142"},
    {"Jonas Weber", "j.weber@example.net", "+49 30 5550199"},
};

const char *const kPhrases[] = {
    "Hello, I have a question about my order.",
    "It has not arrived yet, and it is a week late.",
    "The order number is 4711.",
    "Could you check where it is?",
    "Is there anything else I should do?",
};
const char kLastPhrase[] = "That is all, thank you for your help. Bye!";

const char *const kSites[] = {
    "www.example.com/shop",
    "www.example.com/support",
    "shop.example.net/cart",
};

// Terminal input that goes on the wire; a runaway paste must not make a frame
// the console would drop.
constexpr int kMaxTerminalText = 4000;

std::optional<QByteArray> Empty(quint16 code)
{
    return MessageBuilder(code).Finish();
}

std::optional<QByteArray> OneInt(quint16 code, qint32 value)
{
    return MessageBuilder(code).Int(value).Finish();
}

QString Timestamp()
{
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
}

} // namespace

TSimServer::TSimServer(const SimOptions &options, QObject *parent)
    : QObject(parent), m_options(options), m_server(new QTcpServer(this)), m_callTimer(new QTimer(this))
{
    m_out = [](const QString &line) {
        const QByteArray bytes = line.toUtf8() + '\n';
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fflush(stdout);
    };
    connect(m_server, &QTcpServer::newConnection, this, &TSimServer::NewConnection);
    connect(m_callTimer, &QTimer::timeout, this, [this] {
        // Calls pile up only where someone could take them.
        if (ConsolesOnline() > 0 && !m_silent)
            AnnounceCall();
    });
}

TSimServer::~TSimServer()
{
    for (auto &[id, peer] : m_peers)
        peer->socket->disconnect(this);
}

bool TSimServer::Start(QString *error)
{
    QHostAddress address;
    if (m_options.host == QLatin1String("localhost"))
        address = QHostAddress::LocalHost;
    else if (!address.setAddress(m_options.host)) {
        if (error)
            *error = QStringLiteral("not an IP address: %1").arg(m_options.host);
        return false;
    }
    if (!m_server->listen(address, m_options.port)) {
        if (error)
            *error = m_server->errorString();
        return false;
    }
    if (m_options.callEverySeconds > 0)
        m_callTimer->start(m_options.callEverySeconds * 1000);
    Print(QStringLiteral("[sim] listening on %1:%2, chat limit %3%4")
              .arg(m_server->serverAddress().toString())
              .arg(Port())
              .arg(m_options.chatLimit)
              .arg(m_options.callEverySeconds > 0
                       ? QStringLiteral(", a call every %1 s").arg(m_options.callEverySeconds)
                       : QString()));
    return true;
}

quint16 TSimServer::Port() const
{
    return m_server->serverPort();
}

int TSimServer::ConsolesOnline() const
{
    int n = 0;
    for (const auto &[id, peer] : m_peers)
        n += peer->role == Role::Console && peer->loggedIn && peer->ready;
    return n;
}

void TSimServer::Print(const QString &text)
{
    if (m_out)
        m_out(Timestamp() + QLatin1Char(' ') + text);
}

QString TSimServer::Who(const Peer &peer) const
{
    switch (peer.role) {
    case Role::Console:
        if (peer.loggedIn || peer.consoleNo)
            return QStringLiteral("[console %1%2]")
                .arg(peer.consoleNo)
                .arg(peer.name.isEmpty() ? QString() : QLatin1Char(' ') + Printable(ToWire(peer.name), 40));
        return QStringLiteral("[#%1]").arg(peer.id);
    case Role::SupportLeg:
        return QStringLiteral("[call %1 console %2]").arg(peer.session).arg(peer.consoleNo);
    case Role::ChatRequester:
        return QStringLiteral("[chat %1 asker #%2]").arg(peer.session).arg(peer.id);
    case Role::Fresh:
        break;
    }
    return QStringLiteral("[#%1]").arg(peer.id);
}

TSimServer::Peer *TSimServer::FindPeer(int id)
{
    const auto it = m_peers.find(id);
    return it == m_peers.end() ? nullptr : it->second.get();
}

TSimServer::Peer *TSimServer::FindConsole(qint32 portValue)
{
    for (auto &[id, peer] : m_peers)
        if (peer->role == Role::Console && peer->loggedIn && peer->portValue == portValue)
            return peer.get();
    return nullptr;
}

TSimServer::Peer *TSimServer::FindConsoleNo(int consoleNo)
{
    for (auto &[id, peer] : m_peers)
        if (peer->role == Role::Console && peer->consoleNo == consoleNo)
            return peer.get();
    return nullptr;
}

TSimServer::Call *TSimServer::FindCall(qint32 session)
{
    const auto it = m_calls.find(session);
    return it == m_calls.end() ? nullptr : &it->second;
}

bool TSimServer::Send(int peerId, const std::optional<QByteArray> &frame)
{
    Peer *peer = FindPeer(peerId);
    if (!peer || !frame || peer->socket->state() != QAbstractSocket::ConnectedState)
        return false;
    peer->socket->write(*frame);
    return true;
}

void TSimServer::Close(int peerId, bool abort)
{
    Peer *peer = FindPeer(peerId);
    if (!peer)
        return;
    QTcpSocket *socket = peer->socket;
    if (abort)
        socket->abort();
    else
        socket->disconnectFromHost();
    // abort() reports the close at once; a graceful close reports it once the
    // pending bytes are out, unless there was nothing left to send.
    if (FindPeer(peerId) && socket->state() == QAbstractSocket::UnconnectedState)
        PeerClosed(peerId);
}

// --- connections -------------------------------------------------------------

void TSimServer::NewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        auto peer = std::make_unique<Peer>();
        const int id = m_nextPeer++;
        peer->id = id;
        peer->socket = socket;
        connect(socket, &QTcpSocket::readyRead, this, [this, id] { ReadPeer(id); });
        connect(socket, &QTcpSocket::disconnected, this, [this, id] { PeerClosed(id); });
        m_peers[id] = std::move(peer);
        Print(QStringLiteral("[#%1] connected from %2:%3%4")
                  .arg(id)
                  .arg(socket->peerAddress().toString())
                  .arg(socket->peerPort())
                  .arg(m_silent ? QStringLiteral(" (silent: not greeted)") : QString()));
        if (!m_silent)
            Greet(*m_peers[id]);
    }
}

void TSimServer::Greet(Peer &peer)
{
    peer.greeted = true;
    Send(peer.id, Empty(server::INITIAL_CONNECT));
}

void TSimServer::ReadPeer(int id)
{
    Peer *peer = FindPeer(id);
    if (!peer)
        return;
    const QByteArray bytes = peer->socket->readAll();
    peer->buffer.Append(bytes);
    for (;;) {
        // A handler may have closed this very connection.
        peer = FindPeer(id);
        if (!peer)
            return;
        Frame frame;
        const FrameBuffer::Result result = peer->buffer.TakeFrame(frame);
        if (result == FrameBuffer::Result::NeedMore)
            return;
        if (result == FrameBuffer::Result::TooLarge) {
            Print(Who(*peer) + QStringLiteral(" frame header announces more than 1 MiB: connection dropped"));
            Close(id, true);
            return;
        }
        HandleFrame(id, frame);
    }
}

void TSimServer::PeerClosed(int id)
{
    const auto it = m_peers.find(id);
    if (it == m_peers.end())
        return;
    // Out of the table first, so nothing below can reach it again.
    std::unique_ptr<Peer> peer = std::move(it->second);
    m_peers.erase(it);
    peer->socket->disconnect(this);
    peer->socket->deleteLater();
    Print(Who(*peer) + QStringLiteral(" connection closed"));

    switch (peer->role) {
    case Role::Console:
        if (peer->loggedIn)
            BroadcastSupportersOnline(peer->clientId);
        for (auto &[session, call] : m_calls)
            call.announcedTo.remove(id);
        break;
    case Role::SupportLeg: {
        Call *call = FindCall(peer->session);
        if (!call || call->supportPeer != id)
            break;
        call->supportPeer = 0;
        if (call->kind == CallKind::SupportChat) {
            if (call->state != CallState::Ended) {
                call->state = CallState::Ended;
                Send(call->requesterPeer, Empty(chat::END_SESSION));
            }
        } else if (call->state == CallState::Transferring) {
            Print(QStringLiteral("[call %1] waiting for the transfer to be taken").arg(call->session));
        } else if (call->state != CallState::Ended) {
            call->state = CallState::Ended;
            Print(QStringLiteral("[call %1 visitor] the console went away; the visitor sees the chat end")
                      .arg(call->session));
        }
        break;
    }
    case Role::ChatRequester: {
        Call *call = FindCall(peer->session);
        if (call && call->state != CallState::Ended) {
            call->state = CallState::Ended;
            Send(call->supportPeer, Empty(chat::END_SESSION));
        }
        break;
    }
    case Role::Fresh:
        break;
    }
}

void TSimServer::HandleFrame(int id, const Frame &frame)
{
    Peer *peer = FindPeer(id);
    if (!peer)
        return;
    if (m_silent) {
        const QString what = peer->role == Role::Console ? DescribeServerFrame(frame.code, frame.body)
                                                         : DescribeChatFrame(frame.code, frame.body);
        Print(Who(*peer) + QStringLiteral(" (silent, ignored) ") + what);
        return;
    }
    switch (peer->role) {
    case Role::Fresh:
        HandleFreshFrame(id, frame);
        break;
    case Role::Console:
        HandleConsoleFrame(*peer, frame);
        break;
    case Role::SupportLeg:
        HandleLegFrame(*peer, frame);
        break;
    case Role::ChatRequester:
        HandleRequesterFrame(*peer, frame);
        break;
    }
}

// The first frame tells what a connection is for.
void TSimServer::HandleFreshFrame(int id, const Frame &frame)
{
    Peer &peer = *FindPeer(id);
    switch (frame.code) {
    case server::SUPPORT_REGISTER:
        peer.role = Role::Console;
        Print(Who(peer) + QLatin1Char(' ') + DescribeServerFrame(frame.code, frame.body));
        Register(peer, frame);
        return;
    case chat::SUPPORT_ANSWERS_TO_CLI:
        Print(Who(peer) + QLatin1Char(' ') + DescribeChatFrame(frame.code, frame.body));
        AnswerCall(peer, frame);
        return;
    case chat::SUPPORT_ANS_TO_TRANS:
        Print(Who(peer) + QLatin1Char(' ') + DescribeChatFrame(frame.code, frame.body));
        AnswerTransfer(peer, frame);
        return;
    case chat::SUPPORT_CHAT_REQUEST:
        Print(Who(peer) + QLatin1Char(' ') + DescribeChatFrame(frame.code, frame.body));
        RequestSupportChat(peer, frame);
        return;
    case chat::CHAT_KEEP_ALIVE:
        if (!m_options.quietKeepAlive)
            Print(Who(peer) + QStringLiteral(" KEEP_ALIVE"));
        return;
    default:
        Print(Who(peer) + QStringLiteral(" before saying what it is for: ") +
              DescribeChatFrame(frame.code, frame.body) + QStringLiteral(", ignored"));
    }
}

// --- console logins and the server connection --------------------------------

void TSimServer::HandleConsoleFrame(Peer &peer, const Frame &frame)
{
    if (!(frame.code == server::KEEP_ALIVE && m_options.quietKeepAlive))
        Print(Who(peer) + QLatin1Char(' ') + DescribeServerFrame(frame.code, frame.body));
    if (frame.code == server::SUPPORT_REGISTER) {
        Register(peer, frame);
        return;
    }
    if (!peer.loggedIn) {
        if (frame.code != server::KEEP_ALIVE)
            Print(Who(peer) + QStringLiteral(" is not logged in: ignored"));
        return;
    }
    FieldReader r(frame.body);
    switch (frame.code) {
    case server::SUPPORT_NAME: {
        const QString name = r.TextString();
        if (r.Ok())
            peer.name = name;
        break;
    }
    case server::SUPPORT_READY: {
        peer.ready = true;
        SendCounters(peer);
        // Calls that came while nobody could take them.
        const int id = peer.id;
        for (auto &[session, call] : m_calls) {
            if (call.kind != CallKind::Visitor || call.state != CallState::Listed || call.announcedTo.contains(id))
                continue;
            Send(id, MessageBuilder(server::CLIENT_LISTED)
                         .Int(call.session)
                         .Int(0)
                         .Int(0)
                         .Text(call.ip)
                         .Text(call.site)
                         .Finish());
            call.announcedTo.insert(id);
            Print(QStringLiteral("[call %1] announced to %2").arg(session).arg(Who(peer)));
        }
        break;
    }
    case server::SUPPORT_DISCONNECT:
        peer.loggedIn = false;
        peer.ready = false;
        Print(Who(peer) + QStringLiteral(" logged out"));
        BroadcastSupportersOnline(peer.clientId);
        break;
    case server::ONLINE_SUPPORTERS:
        SendOnlineSupporters(peer);
        break;
    case server::TRANSFER_CALL: {
        const qint32 session = r.Int();
        const qint32 port = r.Int();
        if (!r.Ok())
            break;
        Call *call = FindCall(session);
        Peer *target = FindConsole(port);
        if (!call || call->kind != CallKind::Visitor || call->state == CallState::Ended || !target) {
            Print(QStringLiteral("[sim] transfer of call %1 to port value %2 cannot go ahead: %3")
                      .arg(session)
                      .arg(port)
                      .arg(!target ? QStringLiteral("no such console") : QStringLiteral("no such running call")));
            break;
        }
        call->state = CallState::Transferring;
        call->transferFrom = peer.portValue;
        call->transferTo = port;
        Send(target->id, MessageBuilder(server::TRANSFER_CALL)
                             .Int(session)
                             .Int(peer.portValue)
                             .Int(0)
                             .Text(call->ip)
                             .Text(call->site)
                             .Finish());
        Print(QStringLiteral("[call %1] transfer offered to %2").arg(session).arg(Who(*target)));
        break;
    }
    case server::TRANSFER_ANSWERED: {
        const qint32 session = r.Int();
        const qint32 port = r.Int();
        if (!r.Ok())
            break;
        Peer *source = FindConsole(port);
        if (!source) {
            Print(QStringLiteral("[sim] transfer answer for call %1: port value %2 is not online").arg(session).arg(port));
            break;
        }
        Send(source->id, OneInt(server::TRANSFER_ANSWERED, session));
        break;
    }
    case server::TRANSFER_DATA_SEND: {
        const qint32 session = r.Int();
        const qint32 port = r.Int();
        const qint32 size = r.Int();
        const QByteArray data = r.Bytes(size);
        if (!r.Ok())
            break;
        Peer *target = FindConsole(port);
        if (!target) {
            Print(QStringLiteral("[sim] transfer data for call %1: port value %2 is not online").arg(session).arg(port));
            break;
        }
        Send(target->id, MessageBuilder(server::TRANSFER_DATA).Int(session).Raw(data).Finish());
        break;
    }
    default:
        break;
    }
}

void TSimServer::Register(Peer &peer, const Frame &frame)
{
    FieldReader r(frame.body);
    const QString clientId = r.TextString();
    r.Text();
    r.Text();
    if (!r.Ok())
        return;
    if (peer.loggedIn) {
        Print(Who(peer) + QStringLiteral(" is logged in already: ignored"));
        return;
    }
    switch (m_options.registerAnswer) {
    case RegisterAnswer::Ignore:
        Print(Who(peer) + QStringLiteral(" registration left unanswered"));
        return;
    case RegisterAnswer::Refuse:
        Send(peer.id, Empty(server::REGISTER_REFUSED));
        Print(Who(peer) + QStringLiteral(" -> REGISTER_REFUSED"));
        return;
    case RegisterAnswer::MaxSockets:
        Send(peer.id, Empty(server::MAX_SOCKETS_EXCEEDED));
        Print(Who(peer) + QStringLiteral(" -> MAX_SOCKETS_EXCEEDED"));
        return;
    case RegisterAnswer::Upgrade:
        Send(peer.id, Empty(server::SERVER_UPGRADE));
        Print(Who(peer) + QStringLiteral(" -> SERVER_UPGRADE"));
        return;
    case RegisterAnswer::Accept:
        break;
    }
    if (!m_options.onlyClientId.isEmpty() && clientId != m_options.onlyClientId) {
        Send(peer.id, Empty(server::REGISTER_REFUSED));
        Print(Who(peer) + QStringLiteral(" -> REGISTER_REFUSED (unknown ClientID)"));
        return;
    }
    if (!peer.consoleNo)
        peer.consoleNo = m_nextConsoleNo++;
    peer.portValue = 1000 + peer.consoleNo;
    peer.clientId = clientId;
    peer.loggedIn = true;
    Send(peer.id, MessageBuilder(server::REGISTER_ACCEPTED).Int(0).Int(peer.portValue).Finish());
    Print(Who(peer) + QStringLiteral(" -> REGISTER_ACCEPTED, port value %1").arg(peer.portValue));
    BroadcastSupportersOnline(clientId);
}

int TSimServer::GroupSize(const QString &clientId) const
{
    int n = 0;
    for (const auto &[id, p] : m_peers)
        n += p->role == Role::Console && p->loggedIn && p->clientId == clientId;
    return n;
}

void TSimServer::SendCounters(Peer &peer)
{
    Send(peer.id, OneInt(server::CHAT_LIMIT, m_options.chatLimit));
    Send(peer.id, OneInt(server::SUPPORTERS_ONLINE, GroupSize(peer.clientId)));
}

void TSimServer::BroadcastSupportersOnline(const QString &clientId)
{
    const int n = GroupSize(clientId);
    for (auto &[id, peer] : m_peers)
        if (peer->role == Role::Console && peer->ready && peer->loggedIn && peer->clientId == clientId)
            Send(id, OneInt(server::SUPPORTERS_ONLINE, n));
}

void TSimServer::SendOnlineSupporters(Peer &peer)
{
    QList<const Peer *> others;
    for (const auto &[id, p] : m_peers)
        if (p.get() != &peer && p->role == Role::Console && p->loggedIn && p->ready && p->clientId == peer.clientId)
            others.append(p.get());
    // The count is one byte.
    while (others.size() > 255)
        others.removeLast();
    QByteArray frame = BeginMessage(server::ONLINE_SUPPORTERS);
    frame.append('\0').append('\x01').append(char(others.size()));
    qsizetype position = frame.size();
    for (const Peer *p : others) {
        PutTextField(frame, position, ToWire(p->name).left(kMaxTextField));
        PutIntField(frame, position, p->portValue);
    }
    FinishMessage(frame, position);
    Send(peer.id, frame);
    Print(Who(peer) + QStringLiteral(" -> ONLINE_SUPPORTERS, %1 other console(s)").arg(others.size()));
}

// --- per-call connections ------------------------------------------------------

std::optional<TSimServer::LegAnswer> TSimServer::BindSupportLeg(Peer &peer, const Frame &frame)
{
    // ClientID (not checked here), the answering console's port, the call.
    FieldReader r(frame.body);
    r.Text();
    const qint32 port = r.Int();
    const qint32 session = r.Int();
    if (!r.Ok())
        return std::nullopt;
    peer.role = Role::SupportLeg;
    peer.session = session;
    if (Peer *console = FindConsole(port))
        peer.consoleNo = console->consoleNo;
    return LegAnswer{port, session};
}

void TSimServer::AnswerCall(Peer &peer, const Frame &frame)
{
    const auto answer = BindSupportLeg(peer, frame);
    if (!answer)
        return;
    const auto [port, session] = *answer;
    const int id = peer.id;
    Call *call = FindCall(session);
    if (!call) {
        Print(Who(peer) + QStringLiteral(" no such call: connection closed"));
        Close(id);
        return;
    }
    if (call->state == CallState::Ended) {
        Print(Who(peer) + QStringLiteral(" the visitor has left: -> END_SESSION"));
        Send(id, Empty(chat::END_SESSION));
        return;
    }
    if (call->supportPeer || call->answeredBy) {
        Print(Who(peer) + QStringLiteral(" taken by another console already: -> END_SESSION"));
        Send(id, Empty(chat::END_SESSION));
        return;
    }
    call->supportPeer = id;
    call->answeredBy = port;
    call->state = CallState::Bound;
    ++call->epoch;
    if (call->kind == CallKind::SupportChat) {
        Print(QStringLiteral("[chat %1] answered; relaying between the two consoles").arg(session));
        Send(call->requesterPeer, OneInt(chat::SESSION_READY, session));
        return;
    }
    const Peer *taker = FindConsole(port);
    const QString group = taker ? taker->clientId : QString();
    for (const int other : call->announcedTo) {
        Peer *console = FindPeer(other);
        if (console && console->loggedIn && console->portValue != port && (!taker || console->clientId == group)) {
            Send(other, OneInt(server::CALL_ANSWERED, session));
            Print(QStringLiteral("[call %1] -> CALL_ANSWERED to %2").arg(session).arg(Who(*console)));
        }
    }
    VisitorDetails(*call);
}

void TSimServer::AnswerTransfer(Peer &peer, const Frame &frame)
{
    const auto answer = BindSupportLeg(peer, frame);
    if (!answer)
        return;
    const auto [port, session] = *answer;
    const int id = peer.id;
    Call *call = FindCall(session);
    if (!call || call->state != CallState::Transferring || call->transferTo != port) {
        Print(Who(peer) + QStringLiteral(" no transfer of this call to this console: connection closed"));
        Close(id);
        return;
    }
    // The visitor stays; only the supporter's side of the call moves.
    call->supportPeer = id;
    call->answeredBy = port;
    call->state = CallState::Bound;
    call->visitorBusy = false;
    call->repliesOwed = 0;
    ++call->epoch;
    Print(QStringLiteral("[call %1] transferred from port value %2 to %3").arg(session).arg(call->transferFrom).arg(Who(peer)));
}

void TSimServer::HandleLegFrame(Peer &peer, const Frame &frame)
{
    Call *call = FindCall(peer.session);
    const bool current = call && call->supportPeer == peer.id;
    if (!(frame.code == chat::CHAT_KEEP_ALIVE && m_options.quietKeepAlive))
        Print(Who(peer) + QLatin1Char(' ') + DescribeChatFrame(frame.code, frame.body) +
              (current ? QString() : QStringLiteral(" (no longer serves the call: ignored)")));
    if (!current)
        return;
    if (call->kind == CallKind::SupportChat) {
        Relay(*call, peer.id, frame);
        return;
    }
    switch (frame.code) {
    case chat::TRANS_COMPLETE:
        if (call->state == CallState::Bound)
            VisitorDetails(*call);
        break;
    case chat::SUPPORT_WELCOME:
        if (call->state == CallState::Bound || call->state == CallState::Chatting) {
            call->state = CallState::Chatting;
            VisitorOwesReply(*call);
        }
        break;
    case chat::CHAT_TEXT:
        if (call->state == CallState::Chatting)
            VisitorOwesReply(*call);
        break;
    case chat::END_SESSION:
        if (call->state != CallState::Ended) {
            call->state = CallState::Ended;
            Print(QStringLiteral("[call %1] the operator ended the chat").arg(call->session));
        }
        break;
    default:
        break;
    }
}

void TSimServer::RequestSupportChat(Peer &peer, const Frame &frame)
{
    FieldReader r(frame.body);
    const QString clientId = r.TextString();
    const qint32 port = r.Int();
    if (!r.Ok())
        return;
    peer.role = Role::ChatRequester;
    Peer *target = FindConsole(port);
    if (!target || !target->ready || target->clientId != clientId) {
        Print(Who(peer) + QStringLiteral(" port value %1 is not online: -> SUPPORT_UNAVAILABLE").arg(port));
        Send(peer.id, Empty(chat::SUPPORT_UNAVAILABLE));
        return;
    }
    Call call;
    call.session = m_nextSession++;
    call.kind = CallKind::SupportChat;
    call.requesterPeer = peer.id;
    call.announcedTo.insert(target->id);
    peer.session = call.session;
    m_calls[call.session] = call;
    Send(peer.id, Empty(chat::SUPPORT_LISTED));
    Send(target->id, OneInt(server::SUPPORT_CHAT_LISTED, call.session));
    Print(QStringLiteral("[chat %1] -> SUPPORT_CHAT_LISTED to %2").arg(call.session).arg(Who(*target)));
}

void TSimServer::HandleRequesterFrame(Peer &peer, const Frame &frame)
{
    if (!(frame.code == chat::CHAT_KEEP_ALIVE && m_options.quietKeepAlive))
        Print(Who(peer) + QLatin1Char(' ') + DescribeChatFrame(frame.code, frame.body));
    Call *call = FindCall(peer.session);
    if (call && call->requesterPeer == peer.id)
        Relay(*call, peer.id, frame);
}

void TSimServer::Relay(Call &call, int fromPeer, const Frame &frame)
{
    if (frame.code == chat::END_SESSION)
        call.state = CallState::Ended;
    const int to = fromPeer == call.supportPeer ? call.requesterPeer : call.supportPeer;
    QByteArray out = BeginMessage(frame.code);
    out.append(frame.body);
    FinishMessage(out, out.size());
    if (!Send(to, out) && frame.code != chat::CHAT_KEEP_ALIVE)
        Print(QStringLiteral("[chat %1] nobody at the other end yet: dropped").arg(call.session));
}

// --- the simulated visitor -------------------------------------------------------

qint32 TSimServer::AnnounceCall(const QString &site)
{
    Call call;
    call.session = m_nextSession++;
    const int n = int(call.session - 1);
    call.ip = QStringLiteral("192.0.2.%1").arg(n % 254 + 1);
    call.site = site.isEmpty() ? QString::fromLatin1(kSites[n % std::size(kSites)]) : site.left(kMaxTerminalText);
    const CannedVisitor &who = kVisitors[n % std::size(kVisitors)];
    call.name = who.name;
    call.mail = who.mail;
    call.phone = who.phone;
    call.phrase = n;
    const auto frame =
        MessageBuilder(server::CLIENT_LISTED).Int(call.session).Int(0).Int(0).Text(call.ip).Text(call.site).Finish();
    for (auto &[id, peer] : m_peers) {
        if (peer->role == Role::Console && peer->loggedIn && peer->ready) {
            Send(id, frame);
            call.announcedTo.insert(id);
        }
    }
    Print(QStringLiteral("[call %1] %2 from %3 at %4, announced to %5 console(s)")
              .arg(call.session)
              .arg(QString::fromLatin1(who.name), call.ip, Printable(ToWire(call.site), 80))
              .arg(call.announcedTo.size()));
    const qint32 session = call.session;
    m_calls[session] = std::move(call);
    if (m_options.leaveAfterSeconds > 0)
        QTimer::singleShot(m_options.leaveAfterSeconds * 1000, this, [this, session] { LeaveIfUnanswered(session); });
    return session;
}

void TSimServer::VisitorDetails(Call &call)
{
    Send(call.supportPeer, OneInt(chat::SESSION_READY, call.session));
    Send(call.supportPeer, MessageBuilder(chat::USER_DETAILS).Text(call.name).Text(call.mail).Text(call.phone).Finish());
    Print(QStringLiteral("[call %1 visitor] -> SESSION_READY, USER_DETAILS %2").arg(call.session).arg(Printable(call.name)));
}

void TSimServer::VisitorOwesReply(Call &call)
{
    ++call.repliesOwed;
    VisitorPump(call.session);
}

// One line at a time: wait, type, say it; then the next owed line, or leave
// when the visitor has said enough.
void TSimServer::VisitorPump(qint32 session)
{
    Call *call = FindCall(session);
    if (!call || call->state != CallState::Chatting || call->visitorBusy || call->repliesOwed <= 0)
        return;
    const int limit = m_options.visitorLines;
    if (limit > 0 && call->linesSaid >= limit)
        return;
    call->visitorBusy = true;
    --call->repliesOwed;
    const int epoch = call->epoch;
    // Null when the call ended or moved to another console meanwhile.
    auto still = [this, session, epoch]() -> Call * {
        Call *c = FindCall(session);
        if (!c || c->epoch != epoch)
            return nullptr;
        if (c->state != CallState::Chatting) {
            c->visitorBusy = false;
            return nullptr;
        }
        return c;
    };
    QTimer::singleShot(m_options.replyDelayMs, this, [this, still, session, limit] {
        Call *c = still();
        if (!c)
            return;
        Send(c->supportPeer, Empty(chat::TYPING_START));
        QTimer::singleShot(m_options.typingMs, this, [this, still, session, limit] {
            Call *c = still();
            if (!c)
                return;
            const bool last = limit > 0 && c->linesSaid + 1 >= limit;
            const QByteArray text = last ? QByteArray(kLastPhrase)
                                         : QByteArray(kPhrases[c->phrase++ % std::size(kPhrases)]);
            VisitorSay(*c, text);
            Send(c->supportPeer, Empty(chat::TYPING_STOP));
            ++c->linesSaid;
            c->visitorBusy = false;
            if (!last) {
                VisitorPump(session);
                return;
            }
            const int epoch = c->epoch;
            QTimer::singleShot(m_options.replyDelayMs, this, [this, session, epoch] {
                Call *c = FindCall(session);
                if (c && c->epoch == epoch)
                    VisitorLeave(*c, QStringLiteral("has said all"));
            });
        });
    });
}

void TSimServer::VisitorSay(Call &call, const QByteArray &text)
{
    Send(call.supportPeer, MessageBuilder(chat::CHAT_TEXT).Text(text).Finish());
    Print(QStringLiteral("[call %1 visitor] CHAT_TEXT \"%2\"").arg(call.session).arg(Printable(text)));
}

void TSimServer::VisitorLeave(Call &call, const QString &why)
{
    if (call.state == CallState::Ended)
        return;
    call.state = CallState::Ended;
    const bool sent = Send(call.supportPeer, Empty(chat::END_SESSION));
    Print(QStringLiteral("[call %1 visitor] leaves (%2)%3")
              .arg(call.session)
              .arg(why, sent ? QStringLiteral(": END_SESSION") : QString()));
}

void TSimServer::LeaveIfUnanswered(qint32 session)
{
    Call *call = FindCall(session);
    if (call && call->kind == CallKind::Visitor &&
        (call->state == CallState::Listed || call->state == CallState::Bound))
        VisitorLeave(*call, QStringLiteral("tired of waiting"));
}

// --- terminal commands -------------------------------------------------------------

QString TSimServer::HelpText()
{
    return QStringLiteral(
        "commands:\n"
        "  help                      this list\n"
        "  status                    consoles and calls\n"
        "  call [site]               a new visitor call, announced to the ready consoles\n"
        "  say <session> <text>      the visitor of a call says a line\n"
        "  end <session>             the visitor leaves (also before being answered); alias: leave\n"
        "  drop [console]            cut a console's server connection (all without a number)\n"
        "  upgrade [console]         send SERVER_UPGRADE\n"
        "  maxsockets [console]      send MAX_SOCKETS_EXCEEDED\n"
        "  register accept|refuse|maxsockets|upgrade|ignore\n"
        "                            how the next logins are answered\n"
        "  silent                    stop answering anything (no greeting, frames ignored)\n"
        "  resume                    answer again\n"
        "  limit <n>                 set the chat limit and send it to the ready consoles\n"
        "  quiet                     keep-alives printed or not (toggles)\n"
        "  quit                      stop the simulator\n"
        "a console is named by its number as printed at login, or #<connection> for one not logged in");
}

bool TSimServer::CommandDrop(const QStringList &args)
{
    QList<int> ids;
    if (args.isEmpty()) {
        for (const auto &[id, peer] : m_peers)
            if (peer->role == Role::Console)
                ids.append(id);
    } else if (args[0].startsWith(QLatin1Char('#'))) {
        ids.append(args[0].mid(1).toInt());
    } else if (Peer *peer = FindConsoleNo(args[0].toInt())) {
        ids.append(peer->id);
    }
    if (ids.isEmpty()) {
        Print(QStringLiteral("[sim] no such console"));
        return false;
    }
    for (const int id : ids) {
        Print(QStringLiteral("[sim] dropping connection #%1").arg(id));
        Close(id, true);
    }
    return true;
}

bool TSimServer::CommandSendAll(quint16 code, const QStringList &args, const char *name)
{
    QList<int> ids;
    if (args.isEmpty()) {
        for (const auto &[id, peer] : m_peers)
            if (peer->role == Role::Console)
                ids.append(id);
    } else if (args[0].startsWith(QLatin1Char('#'))) {
        if (FindPeer(args[0].mid(1).toInt()))
            ids.append(args[0].mid(1).toInt());
    } else if (Peer *peer = FindConsoleNo(args[0].toInt())) {
        ids.append(peer->id);
    }
    for (const int id : ids)
        Send(id, Empty(code));
    Print(QStringLiteral("[sim] %1 sent to %2 connection(s)").arg(QLatin1String(name)).arg(ids.size()));
    return !ids.isEmpty();
}

bool TSimServer::Execute(const QString &line)
{
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty())
        return true;
    const QString command = trimmed.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty).toLower();
    const QString rest = trimmed.section(QLatin1Char(' '), 1, -1, QString::SectionSkipEmpty);
    const QStringList args = rest.split(QLatin1Char(' '), Qt::SkipEmptyParts);

    if (command == QLatin1String("help") || command == QLatin1String("?")) {
        if (m_out)
            for (const QString &l : HelpText().split(QLatin1Char('\n')))
                m_out(l);
    } else if (command == QLatin1String("quit") || command == QLatin1String("exit")) {
        Print(QStringLiteral("[sim] quitting"));
        emit QuitRequested();
        return false;
    } else if (command == QLatin1String("status")) {
        for (const auto &[id, peer] : m_peers) {
            if (peer->role != Role::Console)
                continue;
            Print(QStringLiteral("%1 #%2 ClientID \"%3\" port value %4, %5")
                      .arg(Who(*peer))
                      .arg(id)
                      .arg(Printable(ToWire(peer->clientId), 40))
                      .arg(peer->portValue)
                      .arg(peer->ready ? QStringLiteral("ready") : peer->loggedIn ? QStringLiteral("logged in")
                                                                                  : QStringLiteral("not logged in")));
        }
        static const char *const states[] = {"listed", "answered", "chatting", "being transferred", "ended"};
        for (const auto &[session, call] : m_calls)
            Print(QStringLiteral("[%1 %2] %3%4")
                      .arg(call.kind == CallKind::Visitor ? QStringLiteral("call") : QStringLiteral("chat"))
                      .arg(session)
                      .arg(QLatin1String(states[int(call.state)]))
                      .arg(call.answeredBy ? QStringLiteral(", port value %1").arg(call.answeredBy) : QString()));
        if (m_silent)
            Print(QStringLiteral("[sim] silent"));
    } else if (command == QLatin1String("call")) {
        AnnounceCall(rest);
    } else if (command == QLatin1String("say") || command == QLatin1String("end") || command == QLatin1String("leave")) {
        bool ok = false;
        const qint32 session = args.value(0).toInt(&ok);
        Call *call = ok ? FindCall(session) : nullptr;
        if (!call || call->kind != CallKind::Visitor) {
            Print(QStringLiteral("[sim] no visitor call %1").arg(args.value(0)));
        } else if (command == QLatin1String("say")) {
            const QString text = rest.section(QLatin1Char(' '), 1, -1, QString::SectionSkipEmpty);
            if (call->state == CallState::Ended || !call->supportPeer)
                Print(QStringLiteral("[sim] call %1 has nobody to talk to").arg(session));
            else if (text.isEmpty())
                Print(QStringLiteral("[sim] say what?"));
            else
                VisitorSay(*call, ToWire(text.left(kMaxTerminalText)));
        } else {
            VisitorLeave(*call, QStringLiteral("on command"));
        }
    } else if (command == QLatin1String("drop")) {
        CommandDrop(args);
    } else if (command == QLatin1String("upgrade")) {
        CommandSendAll(server::SERVER_UPGRADE, args, "SERVER_UPGRADE");
    } else if (command == QLatin1String("maxsockets")) {
        CommandSendAll(server::MAX_SOCKETS_EXCEEDED, args, "MAX_SOCKETS_EXCEEDED");
    } else if (command == QLatin1String("register")) {
        static const std::pair<const char *, RegisterAnswer> modes[] = {
            {"accept", RegisterAnswer::Accept},         {"refuse", RegisterAnswer::Refuse},
            {"maxsockets", RegisterAnswer::MaxSockets}, {"upgrade", RegisterAnswer::Upgrade},
            {"ignore", RegisterAnswer::Ignore},
        };
        bool found = false;
        for (const auto &[name, mode] : modes) {
            if (args.value(0).toLower() == QLatin1String(name)) {
                m_options.registerAnswer = mode;
                found = true;
                Print(QStringLiteral("[sim] logins from now on: %1").arg(QLatin1String(name)));
            }
        }
        if (!found)
            Print(QStringLiteral("[sim] register accept|refuse|maxsockets|upgrade|ignore"));
    } else if (command == QLatin1String("silent")) {
        m_silent = true;
        Print(QStringLiteral("[sim] silent: nothing is answered until \"resume\""));
    } else if (command == QLatin1String("resume")) {
        m_silent = false;
        Print(QStringLiteral("[sim] answering again"));
        QList<int> waiting;
        for (const auto &[id, peer] : m_peers)
            if (!peer->greeted)
                waiting.append(id);
        for (const int id : waiting)
            if (Peer *peer = FindPeer(id))
                Greet(*peer);
    } else if (command == QLatin1String("limit")) {
        bool ok = false;
        const int limit = args.value(0).toInt(&ok);
        if (!ok || limit < 0) {
            Print(QStringLiteral("[sim] limit <n>, n >= 0"));
        } else {
            m_options.chatLimit = limit;
            int n = 0;
            for (const auto &[id, peer] : m_peers)
                if (peer->role == Role::Console && peer->ready)
                    n += Send(id, OneInt(server::CHAT_LIMIT, limit));
            Print(QStringLiteral("[sim] chat limit %1 sent to %2 console(s)").arg(limit).arg(n));
        }
    } else if (command == QLatin1String("quiet")) {
        m_options.quietKeepAlive = !m_options.quietKeepAlive;
        Print(QStringLiteral("[sim] keep-alives %1").arg(m_options.quietKeepAlive ? QStringLiteral("hidden")
                                                                                  : QStringLiteral("shown")));
    } else {
        Print(QStringLiteral("[sim] unknown command \"%1\"; \"help\" lists them").arg(Printable(ToWire(command), 40)));
    }
    return true;
}

} // namespace velmora::sim
