// The main window's part in transfers and supporter chats: one transfer at a
// time for the whole console, the choice of a supporter from the online list,
// and the one supporter chat this console may have started.
#include "app/Servermain.h"

#include "chat/OneChatWindow.h"
#include "diag/Boxes.h"
#include "protocol/ServerMessages.h"

#include <QToolButton>

namespace velmora {

bool TMainForm::BeginTransfer(const TTransferSource &source)
{
    if (m_session->TransferInProgress()) {
        // A transfer whose chat window was closed can only wait for an answer
        // that may never come; the operator may give it up instead of being
        // refused every transfer from then on.
        if (m_calls->FindChatWindow(m_session->PendingTransferSessionCount())) {
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
        m_session->ClearPendingTransfer();
    }
    if (m_session->State() != TServerState::Online) {
        // Nobody would ever answer: the chat stays here.
        ShowBox(QStringLiteral("Not connected to the server, the chat cannot be transferred now."),
                QStringLiteral("Error..."), BoxIcon::Error);
        return false;
    }
    m_transferSessionCount = source.SessionCount;
    m_transferConversation = source.Conversation;
    m_session->SetPendingTransfer(source.SessionCount, 0, source.Conversation);
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
        // A disconnect while the list was open has ended the transfer already.
        if (!m_session->TransferInProgress() || m_session->State() != TServerState::Online) {
            AbandonTransfer();
            return;
        }
        if (chosen < 0) {
            AbandonTransfer();
            return;
        }
        const qint32 port = list[chosen].port;
        m_session->SetPendingTransfer(m_transferSessionCount, port, m_transferConversation);
        m_session->Send(server::BuildTransferCall(m_transferSessionCount, port));
        if (auto *window = dynamic_cast<TOneChatWindow *>(m_calls->FindChatWindow(m_transferSessionCount)))
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
    if (auto *window = dynamic_cast<TOneChatWindow *>(m_calls->FindChatWindow(sessionCount)))
        return window->TransferConversation();
    return kept;
}

void TMainForm::TransferHandedOver(qint32 sessionCount)
{
    m_transferSessionCount = 0;
    m_transferConversation.clear();
    // The chat may have been closed while it waited for the answer.
    if (IChatWindow *window = m_calls->FindChatWindow(sessionCount))
        window->FormClose();
}

void TMainForm::AbandonTransfer()
{
    const qint32 sessionCount = m_transferSessionCount;
    m_transferSessionCount = 0;
    m_transferConversation.clear();
    m_session->ClearPendingTransfer();
    if (auto *window = dynamic_cast<TOneChatWindow *>(m_calls->FindChatWindow(sessionCount)))
        window->RestoreAfterTransfer();
}

} // namespace velmora
