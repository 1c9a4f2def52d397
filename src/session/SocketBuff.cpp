#include "session/SocketBuff.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velmora {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// With one piece left, a peer that is not keeping up is given this long
// before the next try, which paces large messages on slow links. With more
// behind it, the next try comes when the socket takes data again, or after
// this long at the latest.
constexpr auto kRetryWait = 200ms;
constexpr auto kWaitUntilSent = 3200ms;
// Pieces one queue may write before the others get their turn, so that one
// large image does not hold up every other connection.
constexpr int kPiecesPerTurn = 64;

bool IsTransient(int err)
{
    return err == EAGAIN || err == EWOULDBLOCK || err == EINTR || err == ENOBUFS || err == ENOMEM;
}

} // namespace

struct TSocketBuff::Queue {
    struct Piece {
        SocketHandlePtr socket;
        QByteArray data;
        qsizetype offset = 0;
    };

    SendFunction send;
    std::deque<Piece> pieces;
    // The last try wrote nothing or only part of its piece: the next waits
    // for `retryAt`, or for the socket to take data when more is queued.
    bool lastIncomplete = false;
    Clock::time_point retryAt;
    bool writable = false;
    // The sender is writing a piece of this queue with the lock released.
    bool busy = false;
    bool closed = false;
    std::size_t partialSends = 0;
    std::size_t droppedPieces = 0;

    void DropPiecesOf(const SocketHandle *socket)
    {
        const auto before = pieces.size();
        std::erase_if(pieces, [socket](const Piece &piece) { return piece.socket.get() == socket; });
        droppedPieces += before - pieces.size();
    }
};

namespace {

// The one sender thread: it goes round the queues that hold pieces, writes
// without ever blocking on one peer, and sleeps in poll() on the sockets that
// are full, the earliest retry time and a wake-up descriptor.
class SendLoop {
public:
    using Queue = TSocketBuff::Queue;

    static SendLoop &Instance()
    {
        static SendLoop loop;
        return loop;
    }

    std::mutex mutex;
    // Signalled when a queue empties or a write ends.
    std::condition_variable changed;

    void Add(const std::shared_ptr<Queue> &queue)
    {
        std::lock_guard lock(mutex);
        m_queues.push_back(queue);
    }

    void Remove(const std::shared_ptr<Queue> &queue)
    {
        std::unique_lock lock(mutex);
        queue->closed = true;
        changed.wait(lock, [&] { return !queue->busy; });
        queue->pieces.clear();
        std::erase(m_queues, queue);
        changed.notify_all();
    }

    void Wake()
    {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wake, &one, sizeof one);
    }

private:
    SendLoop()
    {
        m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        m_thread = std::thread([this] { Run(); });
        // A name a support engineer can tell apart in top or gdb.
        pthread_setname_np(m_thread.native_handle(), "velmora-send");
    }
    ~SendLoop()
    {
        {
            std::lock_guard lock(mutex);
            m_terminate = true;
        }
        Wake();
        m_thread.join();
        ::close(m_wake);
    }

    // Writes up to kPiecesPerTurn pieces of `queue`; true when any was written
    // whole. Called with the lock held; releases it around each write.
    bool Turn(std::unique_lock<std::mutex> &lock, Queue &queue)
    {
        bool progressed = false;
        for (int n = 0; n < kPiecesPerTurn && !queue.closed && !queue.pieces.empty(); ++n) {
            if (queue.lastIncomplete) {
                const bool more = queue.pieces.size() > 1;
                if (Clock::now() < queue.retryAt && !(more && queue.writable))
                    break;
            }
            // Only this thread removes pieces, and the deque keeps references
            // to its elements valid on push_back, so the front may be sent
            // unlocked; Remove waits while `busy`.
            Queue::Piece &piece = queue.pieces.front();
            const SocketHandlePtr socket = piece.socket;
            const char *data = piece.data.constData() + piece.offset;
            const std::size_t remaining = std::size_t(piece.data.size() - piece.offset);
            queue.busy = true;
            lock.unlock();
            const ssize_t sent = queue.send(socket->Fd(), data, remaining);
            const int err = errno;
            lock.lock();
            queue.busy = false;
            changed.notify_all();
            if (queue.closed)
                break;
            queue.writable = false;
            if (sent < 0 && !IsTransient(err)) {
                // The peer is gone (EPIPE, ECONNRESET, ...): retrying would spin
                // forever. The reading side reports the loss to the owner.
                queue.DropPiecesOf(socket.get());
                queue.lastIncomplete = false;
                continue;
            }
            if (sent < 0 || std::size_t(sent) < remaining) {
                if (sent > 0) {
                    piece.offset += sent;
                    ++queue.partialSends;
                }
                queue.lastIncomplete = true;
                queue.retryAt = Clock::now() + kRetryWait;
                break;
            }
            queue.pieces.pop_front();
            queue.lastIncomplete = false;
            progressed = true;
        }
        if (queue.pieces.empty()) {
            queue.lastIncomplete = false;
            changed.notify_all();
        }
        return progressed;
    }

    void Run()
    {
        std::unique_lock lock(mutex);
        std::vector<pollfd> polled;
        std::vector<std::shared_ptr<Queue>> waiting;
        while (!m_terminate) {
            bool progressed = false;
            // A copy: Remove may change the list while a write runs unlocked.
            const std::vector<std::shared_ptr<Queue>> queues = m_queues;
            for (const std::shared_ptr<Queue> &queue : queues)
                if (!queue->closed && !queue->pieces.empty())
                    progressed |= Turn(lock, *queue);
            if (progressed || m_terminate)
                continue;

            // Nothing could be written: sleep until a full socket takes data,
            // a retry is due, or something is queued.
            polled.assign(1, pollfd{m_wake, POLLIN, 0});
            waiting.clear();
            std::optional<Clock::time_point> due;
            for (const std::shared_ptr<Queue> &queue : m_queues) {
                if (queue->pieces.empty())
                    continue;
                if (!due || queue->retryAt < *due)
                    due = queue->retryAt;
                if (queue->pieces.size() > 1) {
                    polled.push_back(pollfd{queue->pieces.front().socket->Fd(), POLLOUT, 0});
                    waiting.push_back(queue);
                }
            }
            int timeout = -1;
            if (due)
                timeout = int(std::clamp<qint64>(
                    std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now()).count(), 0, 1000));
            lock.unlock();
            ::poll(polled.data(), polled.size(), timeout);
            if (polled[0].revents & POLLIN) {
                uint64_t count = 0;
                [[maybe_unused]] const ssize_t n = ::read(m_wake, &count, sizeof count);
            }
            lock.lock();
            for (std::size_t i = 1; i < polled.size(); ++i)
                if (polled[i].revents != 0)
                    waiting[i - 1]->writable = true;
        }
    }

    std::vector<std::shared_ptr<Queue>> m_queues;
    int m_wake = -1;
    bool m_terminate = false;
    std::thread m_thread;
};

} // namespace

TSocketBuff::TSocketBuff(SendFunction send) : m_queue(std::make_shared<Queue>())
{
    m_queue->send = send ? std::move(send) : [](int fd, const char *data, std::size_t size) {
        return ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    };
    SendLoop::Instance().Add(m_queue);
}

TSocketBuff::~TSocketBuff()
{
    SendLoop::Instance().Remove(m_queue);
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
    SendLoop &loop = SendLoop::Instance();
    {
        std::lock_guard lock(loop.mutex);
        for (QByteArray &piece : pieces)
            m_queue->pieces.push_back(Queue::Piece{socket, std::move(piece), 0});
    }
    loop.Wake();
}

bool TSocketBuff::WaitUntilSent()
{
    SendLoop &loop = SendLoop::Instance();
    std::unique_lock lock(loop.mutex);
    if (m_queue->pieces.empty())
        return false;
    return !loop.changed.wait_for(lock, kWaitUntilSent, [this] { return m_queue->pieces.empty(); });
}

std::size_t TSocketBuff::QueuedPieces() const
{
    std::lock_guard lock(SendLoop::Instance().mutex);
    return m_queue->pieces.size();
}

std::size_t TSocketBuff::PartialSends() const
{
    std::lock_guard lock(SendLoop::Instance().mutex);
    return m_queue->partialSends;
}

std::size_t TSocketBuff::DroppedPieces() const
{
    std::lock_guard lock(SendLoop::Instance().mutex);
    return m_queue->droppedPieces;
}

bool QueueMessage(TClientSocket &socket, TSocketBuff &worker, const QByteArray &frame)
{
    if (!socket.IsConnected() || !socket.SharedHandle())
        return false;
    worker.Enqueue(socket.SharedHandle(), frame);
    return true;
}

} // namespace velmora
