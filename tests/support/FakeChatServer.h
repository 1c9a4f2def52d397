#pragma once
// An in-process stand-in for the chat server, for wire tests.
//
//   FakeChatServer server;                    // listens on 127.0.0.1, free port
//   server.SetSendInitialConnect(true);       // greet every new connection
//   socket.SetHost(server.Host()); socket.SetPort(server.Port()); socket.Open();
//   ASSERT_TRUE(server.WaitForConnections(1));
//   const int at = server.WaitForFrame(code); // index into Frames(), -1 on time-out
//   server.Frames()[at].body ...              // what the console sent, in order
//   server.SendFrame(0, code, body);          // answer on connection 0
//
// Connections are numbered 0, 1, 2... in the order they were accepted (the
// console's server connection is usually 0, each call's connection the next).
// Every complete frame received is recorded with its connection, code, body
// and arrival time (ms since the server was constructed), so tests can check
// bytes, order and the pauses between sends. The raw bytes of each connection
// are kept too.
//
// The server runs on a thread of its own: arrival times are taken when the
// bytes arrive, even while the code under test blocks the test thread in a
// pause. Send*, CloseConnection and StopAccepting return once the server
// thread has done them. The Wait* helpers spin the test thread's event loop
// (so the console under test keeps running) until their condition holds or
// the time-out passes. The signals are delivered on the test thread.
#include "protocol/Codec.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

namespace velmora::test {

struct ReceivedFrame {
    int connection = -1;
    quint16 code = 0;
    QByteArray body;
    qint64 atMs = 0; // arrival, ms since the server was constructed
};

class FakeChatServer : public QObject {
    Q_OBJECT
public:
    explicit FakeChatServer(QObject *parent = nullptr);
    ~FakeChatServer() override;

    QString Host() const { return QStringLiteral("127.0.0.1"); }
    quint16 Port() const { return m_port; }
    bool IsListening() const { return m_port != 0 && m_listening; }

    // Sends INITIAL_CONNECT (code 1, empty body) on every connection as soon
    // as it is accepted, as the real server does on per-call connections.
    void SetSendInitialConnect(bool on) { m_sendInitialConnect = on; }
    bool SendsInitialConnect() const { return m_sendInitialConnect; }
    // Stops accepting new connections (existing ones stay).
    void StopAccepting();

    // --- what arrived -------------------------------------------------------
    int ConnectionCount() const;
    // Every frame from every connection, in arrival order (a snapshot).
    std::vector<ReceivedFrame> Frames() const;
    int FrameCount() const;
    std::vector<ReceivedFrame> FramesOn(int connection) const;
    // Every byte received on a connection, frames or not.
    QByteArray RawBytes(int connection) const;
    // True while the connection is open on both sides.
    bool IsOpen(int connection) const;
    // When the peer closed (or CloseConnection ran), ms since construction; -1 while open.
    qint64 ClosedAtMs(int connection) const;
    // When the connection was accepted (and greeted, with SetSendInitialConnect).
    qint64 AcceptedAtMs(int connection) const;
    // A connection that announced an oversized frame is closed and flagged.
    bool ProtocolError(int connection) const;
    void ClearFrames();
    qint64 ElapsedMs() const { return m_clock.elapsed(); }

    // --- acting as the server ----------------------------------------------
    bool SendFrame(int connection, quint16 code, const QByteArray &body = QByteArray());
    bool SendRaw(int connection, const QByteArray &bytes);
    void CloseConnection(int connection);

    // --- waiting (spin the event loop) ------------------------------------
    bool WaitForConnections(int count, int timeoutMs = 15000);
    // Until at least `count` frames were received in total.
    bool WaitForFrames(int count, int timeoutMs = 15000);
    // Until a frame with `code` arrived (on any connection); returns its index
    // in Frames() or -1 on time-out. Frames before `from` are not looked at.
    int WaitForFrame(quint16 code, int timeoutMs = 15000, int from = 0);
    bool WaitForClosed(int connection, int timeoutMs = 15000);

signals:
    void ConnectionAccepted(int connection);
    void FrameReceived(int connection, quint16 code, const QByteArray &body);
    void ConnectionClosed(int connection);

private:
    class Worker;
    friend class Worker;

    // What the server thread records, read by the test thread.
    struct ConnectionRecord {
        QByteArray raw;
        qint64 acceptedAtMs = -1;
        qint64 closedAtMs = -1;
        bool protocolError = false;
    };

    bool Valid(int connection) const; // call with m_mutex held
    void RunOnServer(const std::function<void()> &job);

    QThread m_thread;
    Worker *m_worker = nullptr;
    quint16 m_port = 0;
    bool m_listening = false;
    std::atomic<bool> m_sendInitialConnect{false};
    QElapsedTimer m_clock;

    mutable std::mutex m_mutex;
    std::vector<ConnectionRecord> m_connections;
    std::vector<ReceivedFrame> m_frames;
};

// A finished frame with the given code and body (tests that build bytes by hand).
QByteArray MakeFrame(quint16 code, const QByteArray &body = QByteArray());
// The body of a finished frame, as a connection's reader would hand it over;
// a test fails when `frame` is not exactly one complete frame.
QByteArray BodyOf(const QByteArray &frame);

} // namespace velmora::test
