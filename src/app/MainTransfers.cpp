// The main window's part in transfers and supporter chats: one transfer at a
// time for the whole console, the choice of a supporter from the online list,
// and the one supporter chat this console may have started.
#include "app/Servermain.h"

#include "diag/Boxes.h"
#include "protocol/ServerMessages.h"

#include <QToolButton>

namespace velmora {

bool TMainForm::BeginTransfer(const TTransferSource &source)
{
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
        if (answer != BoxAnswer::Yes || m_session->State() != TServerState::Online)
            return false;
        transfer.GiveUp();
    }
    if (m_session->State() != TServerState::Online) {
        // Nobody would ever answer: the chat stays here.
        ShowBox(QStringLiteral("Not connected to the server, the chat cannot be transferred now."),
                QStringLiteral("Error..."), BoxIcon::Error);
        return false;
    }
    transfer.Begin(source.SessionCount, source.Conversation);
    m_session->RequestSupporters(TSupporterListRequest::Transfer);
    return true;
}

void TMainForm::SupportersListed(TSupporterListRequest request, const QVector<TOnlineSupporter> &list)
{
    QList<SupporterRow> rows;
    for (const TOnlineSupporter &s : list)
        rows.append({s.name, s.port});
    const int chosen = ChooseOnlineSupporter(rows);

    if (request == TSupporterListRequest::Transfer) {
        // A list asked for by a transfer since given up finds the next one
        // past its choice: that one is not undone by it.
        TChatTransfer &transfer = m_session->Transfer();
        if (transfer.InProgress() && transfer.State() != TTransferState::ListRequested)
            return;
        // A disconnect while the list was open has ended the transfer already.
        if (chosen < 0 || m_session->State() != TServerState::Online || !transfer.Ask(list[chosen].port)) {
            AbandonTransfer();
            return;
        }
        m_session->Send(server::BuildTransferCall(transfer.SessionCount(), transfer.Port()));
        if (IChatWindow *window = m_calls->FindChatWindow(transfer.SessionCount()))
            window->TransferOffered(list[chosen].name);
        return;
    }

    // A supporter chat.
    if (chosen < 0 || m_session->State() != TServerState::Online) {
        SetChatWithOtherSupportEnabled(m_session->State() == TServerState::Online);
        return;
    }
    ChatWithOtherSupportBtn->setEnabled(false);
    m_suppChat = new TSuppChatWindow(list[chosen].port, list[chosen].name, *this);
}

QByteArray TMainForm::TransferConversationNow(qint32 sessionCount, const QByteArray &kept)
{
    IChatWindow *window = m_calls->FindChatWindow(sessionCount);
    return window ? window->TransferConversation(kept) : kept;
}

void TMainForm::TransferHandedOver(qint32 sessionCount)
{
    // The chat may have been closed while it waited for the answer.
    if (IChatWindow *window = m_calls->FindChatWindow(sessionCount))
        window->FormClose();
}

void TMainForm::AbandonTransfer()
{
    const qint32 sessionCount = m_session->Transfer().GiveUp();
    if (IChatWindow *window = sessionCount ? m_calls->FindChatWindow(sessionCount) : nullptr)
        window->RestoreAfterTransfer();
}

} // namespace velmora
