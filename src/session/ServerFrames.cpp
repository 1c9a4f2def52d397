// What a logged-in session does with each frame of the server: calls for
// the call list, lists of supporters, transfers, notices and counters. The
// connection's life (login, time-outs, reconnects) is in ServerSession.cpp.
#include "session/ServerSession.h"

#include "diag/Boxes.h"
#include "diag/SafeText.h"
#include "protocol/MessageCodes.h"
#include "protocol/ServerMessages.h"
#include "session/Exchange.h"
#include "session/SocketBuff.h"

namespace velmora {
namespace {

// Names shown on transfer alerts; a server cannot make them grow without end.
constexpr int kMaxSupporterName = 256;
constexpr int kMaxSupporterNames = 1024;

} // namespace

void TServerSession::ShowServerNotice(quint16 code, bool online)
{
    QString text;
    if (code == server::MAX_SOCKETS_EXCEEDED)
        text = QStringLiteral("Server exceeded the max sockets limit. Connection refused. Please\nContact support, maybe "
                              "there is an error with the main server. \n\nSorry for the inconvenience.");
    else if (!online)
        text = QStringLiteral("Could not connect, server needs to be restarted due to upgrade.\nTry again in 5-10 "
                              "minutes. \n\nSorry for the inconvenience.");
    else
        text = QStringLiteral(
            "Server needs to be restarted due to upgrade. \n\nIf you have open chat sessions please disconnect as soon "
            "as possible. \nUpon end of all live chat sessions disconnect from the server and wait \nfor about 5-10 "
            "minuets. Server will be down after all open chat sessions \nare closed.\n\nSorry for the inconvenience.");
    emit Problem(text, QStringLiteral("Notification !"), BoxIcon::Information);
}

void TServerSession::LookUpSupporterNames()
{
    if (m_listRequests.isEmpty())
        RequestSupporters(TSupporterListRequest::Names);
}

void TServerSession::RequestSupporters(TSupporterListRequest kind)
{
    // A request that never left must not take the next list, nor wait for one.
    if (Send(server::BuildOnlineSupportersRequest(m_supportPort)))
        m_listRequests.append(kind);
    else if (kind != TSupporterListRequest::Names)
        m_host.SupporterRequestCancelled(kind);
}

void TServerSession::HandleServerMessage(quint16 code, const QByteArray &body)
{
    switch (code) {
    case server::CLIENT_LISTED:
        if (const auto m = server::DecodeClientListed(body)) {
            Log(QStringLiteral("New client listed: IP = ") + OneLine(m->Ip()) + QStringLiteral(",  SessionCount = ")
                + QString::number(m->sessionCount));
            m_host.NewCall(m->sessionCount, 0, m->WebSite(), m->Ip(), code);
        }
        break;
    case server::TRANSFER_CALL:
        if (const auto m = server::DecodeTransferCallNotice(body)) {
            Log(QStringLiteral("New client listed: IP = ") + OneLine(m->Ip()) + QStringLiteral(",  SessionCount = ")
                + QString::number(m->sessionCount));
            m_host.NewCall(m->sessionCount, m->fromPort, m->WebSite(), m->Ip(), code);
        }
        break;
    case server::SUPPORT_CHAT_LISTED:
        if (const auto sc = server::DecodeSupportChatListed(body)) {
            Log(QStringLiteral("New support chat listed: IP = ,  Port = 0,  SessionCount = ") + QString::number(*sc));
            m_host.NewCall(*sc, 0, QString(), QString(), code);
        }
        break;
    case server::CALL_ANSWERED:
        if (const auto sc = server::DecodeCallAnswered(body))
            m_host.CallAnswered(*sc);
        break;
    case server::REGISTER_ACCEPTED:
        if (const auto port = server::DecodeRegisterAccepted(body))
            m_supportPort = *port;
        break;
    case server::SERVER_UPGRADE:
        m_refusalSeen = true;
        break;
    case server::ONLINE_SUPPORTERS: {
        if (m_listRequests.isEmpty())
            return;
        const auto list = server::DecodeOnlineSupportersList(body);
        if (!list)
            return;
        const TSupporterListRequest request = m_listRequests.takeFirst();
        if (request == TSupporterListRequest::Names) {
            // Nobody chooses from this one: no box, only the names.
            if (m_supporterNames.size() > kMaxSupporterNames)
                m_supporterNames.clear();
            for (const auto &e : list->entries)
                m_supporterNames.insert(e.port, e.Name().left(kMaxSupporterName));
            emit SupporterNamesKnown();
            return;
        }
        if (list->entries.isEmpty()) {
            emit Problem(QStringLiteral("No supporters were found."), QStringLiteral("Warning !"), BoxIcon::Warning);
            m_host.SupporterRequestCancelled(request);
            return;
        }
        QVector<TOnlineSupporter> supporters;
        if (m_supporterNames.size() > kMaxSupporterNames)
            m_supporterNames.clear();
        for (const auto &e : list->entries) {
            supporters.append({e.Name(), e.port});
            m_supporterNames.insert(e.port, e.Name().left(kMaxSupporterName));
        }
        m_host.SupportersListed(request, supporters);
        emit SupporterNamesKnown();
        break;
    }
    case server::TRANSFER_DATA:
        if (const auto m = server::DecodeTransferData(body))
            m_host.TransferData(m->sessionCount, m->conversation);
        break;
    case server::TRANSFER_ANSWERED: {
        const auto sc = server::DecodeTransferAnsweredNotice(body);
        auto *exchange = new TExchange(this, {m_socket});
        if (sc && m_transfer.Answer(*sc)) {
            const qint32 handed = *sc;
            const QByteArray conversation = m_host.TransferConversationNow(handed, m_transfer.Conversation());
            SendOptional(server::BuildTransferDataSend(handed, m_transfer.Port(), conversation));
            exchange->Pause(30).Then([this, exchange, handed] {
                if (!m_transfer.Finish(handed))
                    return; // given up meanwhile (logged out)
                // The chat window's close may ask the operator; the server
                // connection must not wait behind that question.
                connect(exchange, &TExchange::Ended, this, [this, handed] {
                    QMetaObject::invokeMethod(
                        this, [this, handed] { m_host.TransferHandedOver(handed); }, Qt::QueuedConnection);
                });
            });
        }
        exchange->WaitUntilSent([this] { return m_sendWorker.get(); }).Start();
        break;
    }
    case server::CHAT_LIMIT:
        if (const auto limit = server::DecodeChatLimit(body)) {
            SetChatLimitValue(m_refusalSeen ? 0 : *limit);
            if (m_chatLimit == 0)
                emit Problem(QStringLiteral("Your chat limit is set to ZERO, please conatc Brenvik support !!."),
                             QStringLiteral("Warning !"), BoxIcon::Warning);
        }
        break;
    case server::SUPPORTERS_ONLINE:
        if (const auto n = server::DecodeSupportersOnline(body))
            SetSupportersOnlineValue(*n);
        break;
    default:
        break;
    }
}

} // namespace velmora
