#include "session/ChatTransfer.h"

namespace velmora {

bool TChatTransfer::InProgress() const
{
    return m_state == TTransferState::ListRequested || m_state == TTransferState::Asked
        || m_state == TTransferState::HandedOver;
}

bool TChatTransfer::Begin(qint32 sessionCount, const QByteArray &conversation)
{
    if (InProgress())
        return false;
    m_state = TTransferState::ListRequested;
    m_sessionCount = sessionCount;
    m_port = 0;
    m_conversation = conversation;
    return true;
}

bool TChatTransfer::Ask(qint32 port)
{
    if (m_state != TTransferState::ListRequested)
        return false;
    m_state = TTransferState::Asked;
    m_port = port;
    return true;
}

bool TChatTransfer::Answer(qint32 sessionCount)
{
    if (m_state != TTransferState::Asked || sessionCount != m_sessionCount)
        return false;
    m_state = TTransferState::HandedOver;
    return true;
}

bool TChatTransfer::Finish(qint32 sessionCount)
{
    if (m_state != TTransferState::HandedOver || sessionCount != m_sessionCount)
        return false;
    const int wait = m_answerWaitMs;
    *this = TChatTransfer();
    m_answerWaitMs = wait;
    return true;
}

bool TChatTransfer::Cancel(qint32 sessionCount)
{
    if (sessionCount == 0 || sessionCount != m_sessionCount
        || (m_state != TTransferState::ListRequested && m_state != TTransferState::Asked))
        return false;
    GiveUp();
    return true;
}

qint32 TChatTransfer::AnswerOverdue()
{
    const qint32 sessionCount = m_sessionCount;
    return Cancel(sessionCount) ? sessionCount : 0;
}

qint32 TChatTransfer::GiveUp()
{
    const qint32 was = m_sessionCount;
    if (m_state == TTransferState::GivenUp) {
        // Given up already (the server connection went): the chat is named
        // once more, to whoever gives its window back.
        m_sessionCount = 0;
        return was;
    }
    if (!InProgress())
        return 0;
    m_state = TTransferState::GivenUp;
    m_port = 0;
    m_conversation.clear();
    return was;
}

} // namespace velmora
