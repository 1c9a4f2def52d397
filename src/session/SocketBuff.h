#pragma once
// The send queue of one connection: messages are cut into pieces of at most
// 512 bytes and written in queue order by the program's one sender thread,
// which serves every connection's queue, so the GUI thread never waits for a
// slow peer and threads do not grow with the calls and chats.
#include "session/ClientSocket.h"

#include <QByteArray>

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

namespace velmora {

class TSocketBuff {
public:
    static constexpr qsizetype kPieceSize = 512;

    // How a piece is written; the default is a non-blocking send() that never
    // raises SIGPIPE. Returns bytes written or -1 with errno set.
    using SendFunction = std::function<ssize_t(int fd, const char *data, std::size_t size)>;

    explicit TSocketBuff(SendFunction send = {});
    // Frees the pieces still queued, once the sender is not writing one.
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

    // The queue's state, shared with the sender thread.
    struct Queue;

private:
    std::shared_ptr<Queue> m_queue;
};

// Hands a finished frame to the connection's send worker when the socket is
// connected; false (nothing queued) otherwise, for the caller to report.
bool QueueMessage(TClientSocket &socket, TSocketBuff &worker, const QByteArray &frame);

} // namespace velmora
