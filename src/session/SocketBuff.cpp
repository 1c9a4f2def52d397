#include "session/SocketBuff.h"

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>

namespace velmora {

namespace {

using namespace std::chrono_literals;

// With one piece left, a peer that is not keeping up is given this long
// before the next try, which paces large messages on slow links.
constexpr auto kSinglePieceWait = 200ms;
constexpr int kWritableWaitMs = 200;
constexpr auto kWaitUntilSent = 3200ms;

bool IsTransient(int err)
{
    return err == EAGAIN || err == EWOULDBLOCK || err == EINTR || err == ENOBUFS || err == ENOMEM;
}

} // namespace

TSocketBuff::TSocketBuff(SendFunction send) : m_send(std::move(send))
{
    if (!m_send) {
        m_send = [](int fd, const char *data, std::size_t size) {
            return ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        };
    }
    m_thread = std::thread([this] { Run(); });
}

TSocketBuff::~TSocketBuff()
{
    {
        std::lock_guard lock(m_mutex);
        m_terminate = true;
    }
    m_wake.notify_all();
    m_thread.join();
    m_queue.clear();
    m_drained.notify_all();
}

std::vector<QByteArray> TSocketBuff::SplitPieces(const QByteArray &message)
{
    std::vector<QByteArray> pieces;
    if (message.size() < kPieceSize) {
        pieces.push_back(message);
        return pieces;
    }
    pieces.reserve(std::size_t((message.size() + kPieceSize - 1) / kPieceSize));
    for (qsizetype at = 0; at < message.size(); at += kPieceSize)
        pieces.push_back(message.mid(at, kPieceSize));
    return pieces;
}

void TSocketBuff::Enqueue(SocketHandlePtr socket, const QByteArray &message)
{
    if (!socket || message.isEmpty())
        return;
    std::vector<QByteArray> pieces = SplitPieces(message);
    {
        std::lock_guard lock(m_mutex);
        for (QByteArray &piece : pieces)
            m_queue.push_back(Piece{socket, std::move(piece), 0});
    }
    m_wake.notify_one();
}

bool TSocketBuff::WaitUntilSent()
{
    std::unique_lock lock(m_mutex);
    if (m_queue.empty())
        return false;
    return !m_drained.wait_for(lock, kWaitUntilSent, [this] { return m_queue.empty(); });
}

std::size_t TSocketBuff::QueuedPieces() const
{
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

std::size_t TSocketBuff::PartialSends() const
{
    std::lock_guard lock(m_mutex);
    return m_partialSends;
}

std::size_t TSocketBuff::DroppedPieces() const
{
    std::lock_guard lock(m_mutex);
    return m_droppedPieces;
}

void TSocketBuff::DropPiecesOf(const SocketHandle *socket)
{
    const auto before = m_queue.size();
    std::erase_if(m_queue, [socket](const Piece &piece) { return piece.socket.get() == socket; });
    m_droppedPieces += before - m_queue.size();
}

void TSocketBuff::Run()
{
    std::unique_lock lock(m_mutex);
    bool lastIncomplete = false;
    while (!m_terminate) {
        if (m_queue.empty()) {
            lastIncomplete = false;
            m_drained.notify_all();
            m_wake.wait(lock, [this] { return m_terminate || !m_queue.empty(); });
            continue;
        }
        if (lastIncomplete) {
            if (m_queue.size() == 1) {
                m_wake.wait_for(lock, kSinglePieceWait, [this] { return m_terminate; });
                if (m_terminate)
                    break;
            } else {
                // More is waiting behind: go on as soon as the socket takes
                // data again, without spinning while it does not.
                const int fd = m_queue.front().socket->Fd();
                lock.unlock();
                pollfd waitFor{fd, POLLOUT, 0};
                ::poll(&waitFor, 1, kWritableWaitMs);
                lock.lock();
                if (m_terminate)
                    break;
            }
        }

        // Only this thread removes pieces and the deque keeps references to
        // its elements valid on push_back, so the front may be sent unlocked.
        Piece &piece = m_queue.front();
        const SocketHandlePtr socket = piece.socket;
        const char *data = piece.data.constData() + piece.offset;
        const std::size_t remaining = std::size_t(piece.data.size() - piece.offset);
        lock.unlock();
        const ssize_t sent = m_send(socket->Fd(), data, remaining);
        const int err = errno;
        lock.lock();

        if (sent < 0) {
            if (IsTransient(err)) {
                lastIncomplete = true;
            } else {
                // The peer is gone (EPIPE, ECONNRESET, ...): retrying would spin
                // forever. The reading side reports the loss to the owner.
                DropPiecesOf(socket.get());
                lastIncomplete = false;
            }
            continue;
        }
        if (std::size_t(sent) < remaining) {
            piece.offset += sent;
            ++m_partialSends;
            lastIncomplete = true;
            continue;
        }
        m_queue.pop_front();
        lastIncomplete = false;
    }
    m_queue.clear();
    m_drained.notify_all();
}

bool QueueMessage(TClientSocket &socket, TSocketBuff &worker, const QByteArray &frame)
{
    if (!socket.IsConnected() || !socket.SharedHandle())
        return false;
    worker.Enqueue(socket.SharedHandle(), frame);
    return true;
}

} // namespace velmora
