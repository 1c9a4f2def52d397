#pragma once
// A customer's chat on the call's own connection, without widgets: it takes
// the connection over from the call record, opens the chat (keep-alive,
// clock, welcome, options, the row "In Chat"), learns the caller from
// USER_DETAILS, keeps the call list's row up to date, and ends the chat on
// the wire: the farewell, the row's status and the wait for the send queue.
// The window that shows it is its view.
#include "session/ChatCalls.h"
#include "session/ChatConnection.h"
#include "session/ChatItem.h"

#include <functional>
#include <optional>

namespace velmora {

class TLogFile;

class ICustomerChatView : public IChatView {
public:
    // USER_DETAILS: the caller's name, e-mail and phone are new.
    virtual void CallerDetailsChanged() {}
};

class TCustomerChat : public TChatConnection {
    Q_OBJECT
public:
    // `log` gives the session log when there is one.
    TCustomerChat(ICustomerChatView &view, IChatCalls &calls, std::function<TLogFile *()> log = {},
                  QObject *parent = nullptr);

    // Takes over the record's connection and send worker (the record keeps
    // pointing at the connection until the chat ends) and opens the chat.
    // A call that waited on hold already knows its caller, and what the
    // visitor wrote meanwhile goes to the view. Frames that came since wait
    // for ReadWaiting().
    void Begin(ChatItem *record);

    qint32 SessionCount() const { return m_sessionCount; }
    bool IsSupporterChat() const;
    const QString &Name() const { return m_name; }
    const QString &Email() const { return m_email; }
    const QString &Phone() const { return m_phone; }
    const QString &CallingFrom() const { return m_callingFrom; }
    ChatItem *Record() const { return m_record; }
    // Handed over to another supporter: the caller's end is not ours to end.
    bool Transferring() const { return m_transferring; }
    void SetTransferring(bool on) { m_transferring = on; }

    // The call's row (nothing happens once the connection is gone).
    void MarkEndTime();
    void MarkStatus(int status);
    QString CallTimeText(bool endTime) const;
    // The row for the transcript header; after a take-down, as it was then.
    std::optional<TTranscriptHeader> TranscriptRow() const;

    // The end of the chat on the wire, after `pauseMs`: END_SESSION unless the
    // chat has ended or is handed over, and the row's "End Chat !" or
    // "Transfered !" (nothing when the row says "End Chat !" already); then
    // the wait for the send queue, where `timedOut` runs when it gave up.
    // `done` runs last, unless the chat was let go of meanwhile.
    void EndOnWire(int pauseMs, std::function<void()> timedOut, std::function<void()> done);
    // The server connection failed: end time, "Net Error !", the row kept for
    // the transcript, and the connection let go of.
    void TakeDown();
    // Unlinks the record from its row (the row stays as history) and lets go
    // of the connection.
    void ReleaseCall();

    void ProcessMessage(quint16 code, const QByteArray &body) override;

private:
    void HandleUserDetails(const QByteArray &body);
    void BeginArchive(const ChatItem *record);
    // Who the other side is in the archive.
    archive::Who FarEnd() const;

    ICustomerChatView &m_view;
    IChatCalls &m_calls;
    std::function<TLogFile *()> m_log;
    ChatItem *m_record = nullptr;
    qint32 m_sessionCount = 0;
    quint16 m_kind = 0;
    QString m_name;
    QString m_email;
    QString m_phone;
    QString m_callingFrom;
    bool m_transferring = false;
    bool m_visitorEnded = false;
    bool m_endWaitsForQueue = false;
    std::optional<TTranscriptHeader> m_keptRow;
};

} // namespace velmora
