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
            m_view.ShowProblem(QStringLiteral("Cannot transfer more then one session at a time !!"), QStringLiteral("Error..."),
                               BoxIcon::Error);
            return false;
        }
        const BoxAnswer answer =
            m_view.Ask({QStringLiteral("An earlier chat, whose window is closed, is still waiting for the other "
                                       "supporter to take it. Give that transfer up and transfer this chat?"),
                        QStringLiteral("Transfer"), BoxIcon::Question, BoxButtons::YesNo});
        if (answer != BoxAnswer::Yes || !m_session || m_session->State() != TServerState::Online)
            return false;
        transfer.GiveUp();
    }
    if (m_session->State() != TServerState::Online) {
        // Nobody would ever answer: the chat stays here.
        m_view.ShowProblem(QStringLiteral("Not connected to the server, the chat cannot be transferred now."),
                           QStringLiteral("Error..."), BoxIcon::Error);
        return false;
    }
    transfer.Begin(sessionCount, conversation);
    m_session->RequestSupporters(TSupporterListRequest::Transfer);
    WaitForTransferStep();
    return true;
}

void TConsole::WaitForTransferStep()
{
    if (!m_transferWait.isSingleShot()) {
        m_transferWait.setSingleShot(true);
        connect(&m_transferWait, &QTimer::timeout, this, [this] { TransferOverdue(); });
    }
    m_transferWait.start(m_session->Transfer().AnswerWaitMs());
}

void TConsole::TransferOverdue()
{
    if (!m_session || !m_calls)
        return;
    const qint32 sessionCount = m_session->Transfer().AnswerOverdue();
    if (IChatWindow *window = sessionCount ? m_calls->FindChatWindow(sessionCount) : nullptr)
        window->TransferGivenUp(
            QStringLiteral("Nobody took the chat in time: the transfer was given up, and the chat is yours again."));
}

bool TConsole::CancelTransfer(qint32 sessionCount, const QString &line)
{
    if (!m_session || !m_calls || !m_session->Transfer().Cancel(sessionCount))
        return false;
    m_transferWait.stop();
    if (IChatWindow *window = m_calls->FindChatWindow(sessionCount))
        window->TransferGivenUp(line);
    return true;
}

void TConsole::SupportersListed(TSupporterListRequest request, const QVector<TOnlineSupporter> &list)
{
    if (request == TSupporterListRequest::Transfer) {
        // The list of a transfer given up meanwhile asks the operator nothing.
        if (!m_session || m_session->Transfer().State() != TTransferState::ListRequested)
            return;
        m_transferWait.stop();
    }
    QList<SupporterRow> rows;
    for (const TOnlineSupporter &s : list)
        rows.append({s.name, s.port});
    // The two lists look alike: the caption says which one this is.
    const int chosen = ChooseOnlineSupporter(rows, request == TSupporterListRequest::Transfer
                                                       ? QStringLiteral("Transfer the chat to a supporter in group :")
                                                       : QStringLiteral("Chat with a supporter in group :"));
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
        WaitForTransferStep();
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
    m_transferWait.stop();
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
    m_transferWait.stop();
    const qint32 sessionCount = m_session->Transfer().GiveUp();
    if (IChatWindow *window = sessionCount ? m_calls->FindChatWindow(sessionCount) : nullptr)
        window->RestoreAfterTransfer();
}

} // namespace velmora
