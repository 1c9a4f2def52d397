// The console's part in transfers and supporter chats: one transfer at a
// time for the whole console, the choice of a supporter from the online list,
// and the hand-over of the chat's newest conversation.
#include "app/core/Console.h"

#include "diag/Boxes.h"
#include "protocol/ServerMessages.h"

namespace velmora {

bool TConsole::BeginTransfer(qint32 sessionCount, const QByteArray &conversation)
{
    if (!m_session)
        return false;
    TChatTransfer &transfer = m_session->Transfer();
    if (transfer.InProgress()) {
        // A transfer whose chat window was closed can only wait for an answer
        // that may never come; the operator may give it up instead of being
        // refused every transfer from then on.
        if (m_calls->FindChatWindow(transfer.SessionCount())) {
            ShowBox(QStringLiteral("Cannot transfer more then one session at a time !!"), QStringLiteral("Error..."),
                    BoxIcon::Error);
            return false;
        }
        const BoxAnswer answer =
            ShowBox(QStringLiteral("An earlier chat, whose window is closed, is still waiting for the other "
                                   "supporter to take it. Give that transfer up and transfer this chat?"),
                    QStringLiteral("Transfer"), BoxIcon::Question, BoxButtons::YesNo);
        if (answer != BoxAnswer::Yes || !m_session || m_session->State() != TServerState::Online)
            return false;
        transfer.GiveUp();
    }
    if (m_session->State() != TServerState::Online) {
        // Nobody would ever answer: the chat stays here.
        ShowBox(QStringLiteral("Not connected to the server, the chat cannot be transferred now."),
                QStringLiteral("Error..."), BoxIcon::Error);
        return false;
    }
    transfer.Begin(sessionCount, conversation);
    m_session->RequestSupporters(TSupporterListRequest::Transfer);
    return true;
}

void TConsole::SupportersListed(TSupporterListRequest request, const QVector<TOnlineSupporter> &list)
{
    QList<SupporterRow> rows;
    for (const TOnlineSupporter &s : list)
        rows.append({s.name, s.port});
    const int chosen = ChooseOnlineSupporter(rows);
    // The exit may have run while the list was open.
    if (!m_session)
        return;
    const bool online = m_session->State() == TServerState::Online;

    if (request == TSupporterListRequest::Transfer) {
        // A list asked for by a transfer since given up finds the next one
        // past its choice: that one is not undone by it.
        TChatTransfer &transfer = m_session->Transfer();
        if (transfer.InProgress() && transfer.State() != TTransferState::ListRequested)
            return;
        // A disconnect while the list was open has ended the transfer already.
        if (chosen < 0 || !online || !transfer.Ask(list[chosen].port)) {
            AbandonTransfer();
            return;
        }
        m_session->Send(server::BuildTransferCall(transfer.SessionCount(), transfer.Port()));
        if (IChatWindow *window = m_calls->FindChatWindow(transfer.SessionCount()))
            window->TransferOffered(list[chosen].name);
        return;
    }

    if (chosen < 0 || !online) {
        m_view.SetChatWithOtherSupportEnabled(online);
        return;
    }
    m_view.OpenSupporterChat(list[chosen].port, list[chosen].name);
}

void TConsole::SupporterRequestCancelled(TSupporterListRequest request)
{
    if (request == TSupporterListRequest::Transfer)
        AbandonTransfer();
    m_view.SetChatWithOtherSupportEnabled(m_session && m_session->State() == TServerState::Online);
}

QByteArray TConsole::TransferConversationNow(qint32 sessionCount, const QByteArray &kept)
{
    IChatWindow *window = m_calls ? m_calls->FindChatWindow(sessionCount) : nullptr;
    return window ? window->TransferConversation(kept) : kept;
}

void TConsole::TransferHandedOver(qint32 sessionCount)
{
    // The chat may have been closed while it waited for the answer.
    if (IChatWindow *window = m_calls ? m_calls->FindChatWindow(sessionCount) : nullptr)
        window->HandedOver();
}

void TConsole::AbandonTransfer()
{
    const qint32 sessionCount = m_session->Transfer().GiveUp();
    if (IChatWindow *window = sessionCount ? m_calls->FindChatWindow(sessionCount) : nullptr)
        window->RestoreAfterTransfer();
}

} // namespace velmora
