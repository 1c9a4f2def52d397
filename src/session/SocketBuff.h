#pragma once
// The send queue of one connection: messages are cut into pieces of at most
// 512 bytes and written in queue order by a background thread, so the GUI
// thread never waits for a slow peer. One thread serves every queue of the
// process (a chat, or a call that only waits, costs no thread of its own);
// each queue keeps its own order and its own pacing, and queues take turns
// piece by piece so a large image on one chat does not hold up the others.
#include "session/ClientSocket.h"

#include <QByteArray>

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace velmora {

class SendThread;

class TSocketBuff {
public:
    static constexpr qsizetype kPieceSize = 512;

    // How a piece is written; the default is a non-blocking send() that never
    // raises SIGPIPE. Returns bytes written or -1 with errno set.
    using SendFunction = std::function<ssize_t(int fd, const char *data, std::size_t size)>;

    explicit TSocketBuff(SendFunction send = {});
    // Frees the pieces still queued; waits only for a send in progress.
    ~TSocketBuff();
    TSocketBuff(const TSocketBuff &) = delete;
    TSocketBuff &operator=(const TSocketBuff &) = delete;

    // Queues `message` for `socket`: whole when shorter than 512 bytes,
    // otherwise as 512-byte pieces (the last one shorter).
    void Enqueue(SocketHandlePtr socket, const QByteArray &message);

    // Waits until the queue is empty: false as soon as it is (at once when it
    // already is), true when pieces are still queued after about 3.2 s.
    bool WaitUntilSent();

    // How `Enqueue` cuts a message.
    static std::vector<QByteArray> SplitPieces(const QByteArray &message);

    std::size_t QueuedPieces() const;
    // Sends that wrote only part of a piece, since creation (diagnostics).
    std::size_t PartialSends() const;
    // Pieces dropped because their socket failed for good.
    std::size_t DroppedPieces() const;

private:
    friend class SendThread;
    using Clock = std::chrono::steady_clock;

    struct Piece {
        SocketHandlePtr socket;
        QByteArray data;
        qsizetype offset = 0;
    };
    // After a send that did not take everything: try again once the socket
    // takes data (more is waiting) or after a pause (one piece left); either
    // way not later than `retryAt`.
    enum class Wait { None, Writable, Pause };

    SendFunction m_send;
    std::shared_ptr<SendThread> m_thread;
    // All below are guarded by the send thread's mutex.
    std::deque<Piece> m_queue;
    Wait m_wait = Wait::None;
    Clock::time_point m_retryAt;
    std::size_t m_partialSends = 0;
    std::size_t m_droppedPieces = 0;
};

// Hands a finished frame to the connection's send worker when the socket is
// connected; false (nothing queued) otherwise, for the caller to report.
bool QueueMessage(TClientSocket &socket, TSocketBuff &worker, const QByteArray &frame);

} // namespace velmora
