#pragma once
// One chat's connection to the chat server, without widgets: the socket and
// its send worker (opened here, or taken over from a call record), sending
// with the rule that nothing goes out once the connection is down, the
// operator's typing notices, the clock with its keep-alive, the decoding of
// the messages both kinds of chat window receive, and the end of the chat.
//
// What the operator sees is the view's affair: the connection reports to an
// IChatView, whose methods do nothing by default. The pauses of an exchange
// and the wait for the send queue never block the thread (TExchange): the far
// end's frames wait meanwhile, and an exchange whose connection is released
// is cancelled.
#include "archive/ArchiveRecorder.h"
#include "session/ClientSocket.h"
#include "session/SocketBuff.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace velmora {

class IChatView {
public:
    virtual ~IChatView() = default;
    // The socket connected (only for a connection opened here).
    virtual void ChatConnected() {}
    // CHAT_TEXT from the far end (text as it came, not yet for display).
    virtual void RemoteLine(const QString & /*text*/) {}
    // TYPING_START (true) or TYPING_STOP (false), and a line, which ends typing.
    virtual void RemoteTypingChanged(bool /*typing*/) {}
    // END_SESSION from the far end; ended is already set.
    virtual void RemoteEnded() {}
    // Any other code; the view decides what it means on its side.
    virtual void OtherMessage(quint16 /*code*/, const QByteArray & /*body*/) {}
    // The clock moved on (seconds since the chat began).
    virtual void ClockTicked(quint32 /*seconds*/) {}
    // The far end closed the connection (reported once, not after the end).
    virtual void ConnectionLost() {}
    // A socket error, as a Windows Sockets number.
    virtual void ConnectionError(int /*wsaCode*/) {}
};

class TChatConnection : public QObject {
    Q_OBJECT
public:
    static constexpr int kKeepAliveSeconds = 60;

    explicit TChatConnection(IChatView &view, QObject *parent = nullptr);
    // Releases the connection if the owner has not.
    ~TChatConnection() override;

    // Opens a connection of its own; false when no socket could be made.
    bool Open(const QString &host, quint16 port);
    // Takes over a call's connection and send worker (the waiting phase's
    // handlers are removed); frames already waiting are read at once.
    void TakeOver(TClientSocket *socket, std::unique_ptr<TSocketBuff> worker);
    // Lets go of the connection: no more reports, the socket is closed and
    // destroyed later (this may run inside the socket's own frame dispatch).
    void Release();

    // Queues a finished frame; dropped without a report when not connected,
    // and once the chat has ended (nothing follows the farewell).
    void Send(const QByteArray &frame);
    void Send(const std::optional<QByteArray> &frame);
    // Queues a frame whether or not the chat has ended (answers the server
    // still expects on the connection); false when it could not be queued.
    bool SendAlways(const QByteArray &frame);
    // Handles the frames that arrived before the connection was taken over.
    void ReadWaiting();
    // Sends `frames` one after the other with `pauseMs` after each, without
    // blocking; frames of the far end wait until the last pause is over.
    void SendPaced(QList<QByteArray> frames, int pauseMs, std::function<void()> done = {});
    bool Pacing() const;

    // The operator's line: CHAT_TEXT with `wireText`; false when empty. The
    // archive keeps it as `kind` (a canned answer sent unchanged says so).
    bool SendLine(const QByteArray &wireText, archive::LineKind kind = archive::LineKind::Text);
    // The input box changed: one TYPING_START when it stops being empty, one
    // TYPING_STOP whenever it becomes empty.
    void InputChanged(bool empty);
    bool TypingNoticeSent() const { return m_typingNoticeSent; }

    // The clock: starts at 0 and ticks once at once; a keep-alive every 60 s.
    void StartClock();
    void StopClock();
    void Tick();
    quint32 Clock() const { return m_clock; }
    QTimer &ClockTimer() { return m_clockTimer; }

    // END_SESSION unless the chat has ended already; sets ended.
    void EndSession();
    // Calls `done(timedOut)` once the send queue is empty, or after
    // TExchange::kSendWaitMs with timedOut true. Never blocks.
    void WhenSent(std::function<void(bool timedOut)> done);

    bool Ended() const { return m_ended; }
    void SetEnded(bool on) { m_ended = on; }
    bool RemoteTyping() const { return m_remoteTyping; }
    bool IsConnected() const { return m_socket && m_socket->IsConnected(); }
    TClientSocket *Socket() const { return m_socket; }
    TSocketBuff *SendWorker() const { return m_worker.get(); }

    // Lines sent and received go to the chat's record once BeginArchive made
    // one; the record ends with the connection unless the owner ended it
    // with its status.
    void ArchiveLine(archive::Who from, const QString &name, const QString &text);
    void ArchiveLine(TArchiveLine line);
    // The console's own line about the chat (its end, a lost connection).
    void ArchiveSystemLine(const QString &text) { ArchiveLine(archive::Who::System, QString(), text); }
    // What the operator sent besides lines: a pushed URL, an image.
    void ArchiveUrl(const QString &url);
    void ArchiveImage(const QString &fileName, const QByteArray &bytes);
    // The supporter a transfer hands the chat to, or that handed it here
    // (empty: none).
    void NameArchiveOtherSupporter(const QString &name);
    // The chat's number, once the server has given it.
    void NumberArchive(qint32 sessionCount);
    // Carried lines kept before the visitor's name was known become theirs.
    void AttributeArchivedLines(const QString &name);
    // Starts the chat's record (nothing without an archive), and names the
    // far end once it is known.
    void BeginArchive(const TArchiveChat &chat, archive::Who farEnd);
    // Goes on with a record begun before the chat (what the visitor said while waiting).
    void AdoptArchive(TArchiveRecorder::Handle chat, archive::Who farEnd, const QString &farName);
    void NameArchiveFarEnd(const QString &name, const QString &email = {}, const QString &phone = {});
    void EndArchive(const QString &status, archive::EndedBy by = archive::EndedBy::Unknown);

    // The frame handler (public so tests can drive it without a server).
    virtual void ProcessMessage(quint16 code, const QByteArray &body);

private:
    void Install();
    void OnDisconnected();

    IChatView &m_view;
    QPointer<TClientSocket> m_socket;
    std::unique_ptr<TSocketBuff> m_worker;
    QTimer m_clockTimer;
    quint32 m_clock = 0;
    bool m_typingNoticeSent = false;
    bool m_remoteTyping = false;
    bool m_ended = false;
    bool m_lostReported = false;
    QPointer<QObject> m_pacing; // the running paced exchange
    TArchiveRecorder::Handle m_archiveChat = 0;
    archive::Who m_archiveFarEnd = archive::Who::Visitor;
    QString m_archiveFarName;
};

} // namespace velmora
