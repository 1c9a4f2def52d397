// The simulator's listening socket and its peers' connections: frames in,
// frames out, and which handler a frame goes to. Console logins and the
// per-call connections are in SimPeers.cpp, the simulated visitor in
// SimVisitor.cpp, the terminal commands in SimCommands.cpp.
#include "SimServer.h"

#include "SimText.h"
#include "protocol/ChatMessages.h"
#include "protocol/MessageCodes.h"
#include "protocol/ServerMessages.h"

#include <QDateTime>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>

namespace velmora::sim {
namespace {

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
    Send(peer.id, server::BuildInitialConnect());
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
                Send(call->requesterPeer, chat::BuildEndSession());
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
            Send(call->supportPeer, chat::BuildEndSession());
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


} // namespace velmora::sim
