#pragma once
// A non-blocking TCP client socket whose notifications (connected, frames,
// closed, error) arrive on the GUI thread. Host names are resolved without
// blocking. Errors are reported as Windows Sockets numbers (WsaErrors.h) so the
// console's message tables apply unchanged.
//
// Reading never pauses: on every readable notification all waiting bytes are
// taken into the connection's FrameBuffer and every complete frame is handed
// to the frame handler, in order. Handlers may run modal dialogs (nested event
// loops) and may destroy this socket: each frame is taken out of the buffer
// before its handler runs, and the loop stops at once when the socket is gone.
#include "protocol/Codec.h"

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QSocketNotifier;
class QHostInfo;

namespace velmora {

// The descriptor, shared with the send worker: it is closed only when the
// last holder lets go, so a worker never writes to a reused descriptor.
class SocketHandle {
public:
    explicit SocketHandle(int fd) : m_fd(fd) {}
    ~SocketHandle();
    SocketHandle(const SocketHandle &) = delete;
    SocketHandle &operator=(const SocketHandle &) = delete;
    int Fd() const { return m_fd; }

private:
    int m_fd;
};
using SocketHandlePtr = std::shared_ptr<SocketHandle>;

class TClientSocket : public QObject {
    Q_OBJECT
public:
    using FrameHandler = std::function<void(quint16 code, const QByteArray &body)>;

    explicit TClientSocket(QObject *parent = nullptr);
    ~TClientSocket() override;

    void SetHost(const QString &host) { m_host = host; }
    void SetPort(quint16 port) { m_port = port; }
    const QString &Host() const { return m_host; }
    quint16 Port() const { return m_port; }

    // Starts resolving and connecting; the outcome arrives as Connected() or
    // Error(). Returns false when no socket could be created at all (the
    // caller's "cannot connect" case).
    bool Open();
    // Shuts the connection down at once (no more notifications are delivered
    // for it); the descriptor itself closes when the send worker lets go.
    void Close();

    bool IsConnected() const { return m_connected; }
    // The descriptor number (as shown in log lines), -1 when none.
    int Handle() const;
    SocketHandlePtr SharedHandle() const { return m_handle; }
    // Dotted address of the peer, empty before connecting.
    QString PeerAddress() const { return m_peerAddress; }

    void SetFrameHandler(FrameHandler handler) { m_frameHandler = std::move(handler); }
    // Removes the frame handler and every signal connection, so nothing more
    // reaches the former owner.
    void Detach();

    // Reads whatever is waiting now and dispatches the complete frames (used
    // when a new owner takes the socket over with data already queued).
    void ReadNow();

    // Stops every notification (connect, read, close, error) but keeps the
    // descriptor open, so a send worker can still finish what it queued. Used
    // when the socket is handed to the background closer.
    void Mute();

    // By default a frame handler that runs a nested event loop (a modal
    // dialog) holds back the frames behind it until it returns, so handlers
    // never interleave. With nested dispatch on, frames that arrive meanwhile
    // are handed out from inside the nested loop, still in arrival order
    // (each handler is entered in order; an outer one finishes last).
    void SetNestedDispatch(bool on) { m_nestedDispatch = on; }

    // While held (by an unfinished exchange that sends on this connection),
    // frames are read but not handed out, and a close or error seen meanwhile
    // is reported only after them: the peer's frames keep their place behind
    // what the exchange still has to send. Holds nest; the last Release hands
    // out what waited, from the event loop.
    void Hold();
    void Release();
    bool Held() const { return m_holds > 0; }

    // TCP keep-alive for a connection that may stay silent for minutes: the
    // kernel probes an idle peer and a peer gone without a word (host down,
    // network cut) ends as Error(10060) instead of going unnoticed. Takes
    // effect when the connection opens.
    void SetKeepAlive(int idleSeconds, int intervalSeconds, int probes)
    {
        m_keepAlive = {idleSeconds, intervalSeconds, probes};
    }

signals:
    void Connected();
    // The peer closed the connection (also after a protocol error such as an
    // oversized frame).
    void Disconnected();
    // A Windows Sockets error number; the connection is not usable afterwards.
    void Error(int wsaCode);

private:
    // Batch: stopped to hand out the frames taken so far; more may wait.
    enum class ReadOutcome { Open, Batch, PeerClosed, Failed };

    void OnHostResolved(const QHostInfo &info);
    void StartConnect();
    void OnWritable();
    void OnConnectedNow();
    void OnReadable();
    // Takes waiting bytes into m_in, at most `budget` (which it lowers); sets
    // m_readErrno on a hard error.
    ReadOutcome Drain(qsizetype &budget);
    bool HoldingTooMuch() const;
    // Hands out complete frames; false when the socket was destroyed or a
    // handler closed it.
    bool DispatchFrames();
    // Hands out what waited behind a hold or a running handler, then reports
    // a close seen meanwhile.
    void Resume();
    void ScheduleResume();
    void FailConnect(int wsaCode);
    void DropConnection(int wsaCode);
    void StopNotifiers();
    void ApplyKeepAlive();
    void Teardown();

    QString m_host;
    quint16 m_port = 0;
    QHostAddress m_address;
    SocketHandlePtr m_handle;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    int m_lookupId = -1;
    bool m_connected = false;
    bool m_muted = false;
    bool m_nestedDispatch = false;
    int m_dispatchDepth = 0;
    int m_readErrno = 0;
    int m_holds = 0;
    bool m_resumeQueued = false;
    // A close or error read while held, reported once the hold ends.
    std::optional<ReadOutcome> m_pendingOutcome;
    // Bumped by every teardown and mute, so queued steps and dispatch loops of
    // an earlier connection stop.
    quint32 m_generation = 0;
    QString m_peerAddress;
    FrameBuffer m_in;
    FrameHandler m_frameHandler;
    struct {
        int idleSeconds = 0; // 0: no keep-alive
        int intervalSeconds = 0;
        int probes = 0;
    } m_keepAlive;
};

} // namespace velmora
