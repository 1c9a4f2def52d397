#pragma once
// The send worker of one connection: messages are cut into pieces of at most
// 512 bytes and written by a thread of their own, in queue order, so the GUI
// thread never waits for a slow peer.
#include "session/ClientSocket.h"

#include <QByteArray>

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora {

class TSocketBuff {
public:
    static constexpr qsizetype kPieceSize = 512;

    // How a piece is written; the default is a non-blocking send() that never
    // raises SIGPIPE. Returns bytes written or -1 with errno set.
    using SendFunction = std::function<ssize_t(int fd, const char *data, std::size_t size)>;

    explicit TSocketBuff(SendFunction send = {});
    // Frees the pieces still queued and joins the thread.
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
    struct Piece {
        SocketHandlePtr socket;
        QByteArray data;
        qsizetype offset = 0;
    };

    void Run();
    // Removes every queued piece of `socket` (it cannot take data any more).
    void DropPiecesOf(const SocketHandle *socket);

    SendFunction m_send;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_drained;
    std::deque<Piece> m_queue;
    bool m_terminate = false;
    std::size_t m_partialSends = 0;
    std::size_t m_droppedPieces = 0;
    std::thread m_thread;
};

// Hands a finished frame to the connection's send worker when the socket is
// connected; false (nothing queued) otherwise, for the caller to report.
bool QueueMessage(TClientSocket &socket, TSocketBuff &worker, const QByteArray &frame);

} // namespace velmora
