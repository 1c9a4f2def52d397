// The consoles' logins on their server connections, and the per-call
// connections: a supporter answering, a transfer, a supporter chat.
#include "SimServer.h"

#include "SimText.h"
#include "protocol/ChatMessages.h"
#include "protocol/MessageCodes.h"
#include "protocol/ServerMessages.h"

namespace velmora::sim {

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
            Send(id, server::BuildClientListed(call.session, call.ip, call.site));
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
        Send(target->id, server::BuildTransferCallNotice(session, peer.portValue, call->ip, call->site));
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
        Send(source->id, server::BuildTransferAnsweredNotice(session));
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
        Send(target->id, server::BuildTransferData(session, data));
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
        Send(peer.id, server::BuildRegisterRefused());
        Print(Who(peer) + QStringLiteral(" -> REGISTER_REFUSED"));
        return;
    case RegisterAnswer::MaxSockets:
        Send(peer.id, server::BuildMaxSocketsExceeded());
        Print(Who(peer) + QStringLiteral(" -> MAX_SOCKETS_EXCEEDED"));
        return;
    case RegisterAnswer::Upgrade:
        Send(peer.id, server::BuildServerUpgrade());
        Print(Who(peer) + QStringLiteral(" -> SERVER_UPGRADE"));
        return;
    case RegisterAnswer::Accept:
        break;
    }
    if (!m_options.onlyClientId.isEmpty() && clientId != m_options.onlyClientId) {
        Send(peer.id, server::BuildRegisterRefused());
        Print(Who(peer) + QStringLiteral(" -> REGISTER_REFUSED (unknown ClientID)"));
        return;
    }
    if (!peer.consoleNo)
        peer.consoleNo = m_nextConsoleNo++;
    peer.portValue = 1000 + peer.consoleNo;
    peer.clientId = clientId;
    peer.loggedIn = true;
    Send(peer.id, server::BuildRegisterAccepted(peer.portValue));
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
    Send(peer.id, server::BuildChatLimit(m_options.chatLimit));
    Send(peer.id, server::BuildSupportersOnline(GroupSize(peer.clientId)));
}

void TSimServer::BroadcastSupportersOnline(const QString &clientId)
{
    const int n = GroupSize(clientId);
    for (auto &[id, peer] : m_peers)
        if (peer->role == Role::Console && peer->ready && peer->loggedIn && peer->clientId == clientId)
            Send(id, server::BuildSupportersOnline(n));
}

void TSimServer::SendOnlineSupporters(Peer &peer)
{
    QList<server::SupporterEntry> others;
    for (const auto &[id, p] : m_peers)
        if (p.get() != &peer && p->role == Role::Console && p->loggedIn && p->ready && p->clientId == peer.clientId
            && others.size() < server::kMaxSupportersInList)
            others.append({ToWire(p->name).left(kMaxTextField), p->portValue});
    Send(peer.id, server::BuildOnlineSupportersList(others));
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
        Send(id, chat::BuildEndSession());
        return;
    }
    if (call->supportPeer || call->answeredBy) {
        Print(Who(peer) + QStringLiteral(" taken by another console already: -> END_SESSION"));
        Send(id, chat::BuildEndSession());
        return;
    }
    call->supportPeer = id;
    call->answeredBy = port;
    call->state = CallState::Bound;
    ++call->epoch;
    if (call->kind == CallKind::SupportChat) {
        Print(QStringLiteral("[chat %1] answered; relaying between the two consoles").arg(session));
        Send(call->requesterPeer, chat::BuildSessionReady(session));
        return;
    }
    const Peer *taker = FindConsole(port);
    const QString group = taker ? taker->clientId : QString();
    for (const int other : call->announcedTo) {
        Peer *console = FindPeer(other);
        if (console && console->loggedIn && console->portValue != port && (!taker || console->clientId == group)) {
            Send(other, server::BuildCallAnswered(session));
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
        Send(peer.id, chat::BuildSupportUnavailable());
        return;
    }
    Call call;
    call.session = m_nextSession++;
    call.kind = CallKind::SupportChat;
    call.requesterPeer = peer.id;
    call.announcedTo.insert(target->id);
    peer.session = call.session;
    m_calls[call.session] = call;
    Send(peer.id, chat::BuildSupportListed());
    Send(target->id, server::BuildSupportChatListed(call.session));
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

} // namespace velmora::sim
