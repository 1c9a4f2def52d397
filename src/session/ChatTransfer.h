#pragma once
// The console's one transfer at a time, without widgets: which chat is being
// handed over, to which supporter, and the conversation that goes with it.
//
//   Idle --Begin--> ListRequested --Ask--> Asked --Answer--> HandedOver --Finish--> Idle
//   ListRequested, Asked, HandedOver --GiveUp--> GivenUp
//   ListRequested, Asked --Cancel or AnswerOverdue--> GivenUp
//
// A new Begin is allowed from Idle and GivenUp. An answer, a list or a finish
// that does not fit the state changes nothing, so a late or repeated message
// of the server can never send a conversation twice or revive one given up.
#include <QByteArray>
#include <QtGlobal>

namespace velmora {

enum class TTransferState { Idle, ListRequested, Asked, HandedOver, GivenUp };

class TChatTransfer {
public:
    TTransferState State() const { return m_state; }
    // Refuses a second transfer while one is under way.
    bool InProgress() const;
    // The chat being (or last) transferred; 0 once idle again.
    qint32 SessionCount() const { return m_sessionCount; }
    // The other supporter's port value, once asked.
    qint32 Port() const { return m_port; }
    // The conversation as it was when the transfer began (RTF); the chat's
    // window, while it is open, has the newer one.
    const QByteArray &Conversation() const { return m_conversation; }

    // The operator starts a transfer; the list of supporters is asked for.
    // False while another one is in progress.
    bool Begin(qint32 sessionCount, const QByteArray &conversation);
    // A supporter was chosen from the list; false when no list was awaited.
    bool Ask(qint32 port);
    // TRANSFER_ANSWERED for `sessionCount`: true only for the first answer
    // to the supporter asked, when the conversation is to be sent.
    bool Answer(qint32 sessionCount);
    // The conversation has gone: the chat's window may close. False when the
    // transfer was given up (or another began) meanwhile.
    bool Finish(qint32 sessionCount);
    // Nobody will take the chat (cancelled, refused, connection lost).
    // Returns the chat given up, 0 when none was under way. A second call
    // names the chat once more, then none.
    qint32 GiveUp();
    // The operator (or the chat itself: its visitor left, its window closed)
    // gives up the transfer of `sessionCount` while the conversation has not
    // gone yet. True when it was given up now.
    bool Cancel(qint32 sessionCount);

    // How long a supporter list, and then the other supporter's answer, may
    // take before the transfer is given up: a supporter who never answers
    // must not keep the chat from its visitor.
    int AnswerWaitMs() const { return m_answerWaitMs; }
    void SetAnswerWaitMs(int ms) { m_answerWaitMs = ms; }
    // The wait ran out: the transfer is given up unless the conversation is
    // on its way. Returns the chat given up, else 0.
    qint32 AnswerOverdue();

private:
    TTransferState m_state = TTransferState::Idle;
    qint32 m_sessionCount = 0;
    qint32 m_port = 0;
    QByteArray m_conversation;
    int m_answerWaitMs = 60000;
};

} // namespace velmora
