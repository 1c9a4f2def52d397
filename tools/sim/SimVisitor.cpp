// The simulated visitor: a call announced to the consoles, its details, its
// lines and its leaving.
#include "SimServer.h"

#include "SimText.h"
#include "protocol/ChatMessages.h"
#include "protocol/MessageCodes.h"
#include "protocol/ServerMessages.h"

#include <QTimer>

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

} // namespace

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
    const auto frame = server::BuildClientListed(call.session, call.ip, call.site);
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
    Send(call.supportPeer, chat::BuildSessionReady(call.session));
    Send(call.supportPeer, chat::BuildUserDetails(call.name, call.mail, call.phone));
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
        Send(c->supportPeer, chat::BuildTypingStart());
        QTimer::singleShot(m_options.typingMs, this, [this, still, session, limit] {
            Call *c = still();
            if (!c)
                return;
            const bool last = limit > 0 && c->linesSaid + 1 >= limit;
            const QByteArray text = last ? QByteArray(kLastPhrase)
                                         : QByteArray(kPhrases[c->phrase++ % std::size(kPhrases)]);
            VisitorSay(*c, text);
            Send(c->supportPeer, chat::BuildTypingStop());
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
    Send(call.supportPeer, chat::BuildChatText(text));
    Print(QStringLiteral("[call %1 visitor] CHAT_TEXT \"%2\"").arg(call.session).arg(Printable(text)));
}

void TSimServer::VisitorLeave(Call &call, const QString &why)
{
    if (call.state == CallState::Ended)
        return;
    call.state = CallState::Ended;
    const bool sent = Send(call.supportPeer, chat::BuildEndSession());
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

} // namespace velmora::sim
