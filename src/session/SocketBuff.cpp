#include "session/SocketBuff.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace velmora {

namespace {

using namespace std::chrono_literals;

// After a send that did not take everything, a queue waits this long at most:
// with one piece left, a peer that is not keeping up is given this pause
// before the next try, which paces large messages on slow links; with more
// waiting, the queue goes on as soon as the socket takes data again.
constexpr auto kRetryWait = 200ms;
constexpr auto kWaitUntilSent = 3200ms;

bool IsTransient(int err)
{
    return err == EAGAIN || err == EWOULDBLOCK || err == EINTR || err == ENOBUFS || err == ENOMEM;
}

} // namespace

// The one thread that writes for every TSocketBuff. It lives while at least
// one queue does.
class SendThread {
public:
    using Clock = TSocketBuff::Clock;

    static std::shared_ptr<SendThread> Shared()
    {
        static std::mutex mutex;
        static std::weak_ptr<SendThread> shared;
        std::lock_guard lock(mutex);
        std::shared_ptr<SendThread> thread = shared.lock();
        if (!thread) {
            thread = std::make_shared<SendThread>();
            shared = thread;
        }
        return thread;
    }

    SendThread() : m_wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
    {
        m_thread = std::thread([this] { Run(); });
    }
    ~SendThread()
    {
        {
            std::lock_guard lock(mutex);
            m_terminate = true;
        }
        Wake();
        m_thread.join();
        if (m_wakeFd >= 0)
            ::close(m_wakeFd);
    }
    SendThread(const SendThread &) = delete;
    SendThread &operator=(const SendThread &) = delete;

    void Add(TSocketBuff *queue)
    {
        std::lock_guard lock(mutex);
        m_queues.push_back(queue);
    }

    // Takes `queue` out of service once no send of its runs, and frees what
    // it still held.
    void Remove(TSocketBuff *queue)
    {
        std::unique_lock lock(mutex);
        m_sendDone.wait(lock, [&] { return m_sending != queue; });
        std::erase(m_queues, queue);
        queue->m_queue.clear();
        drained.notify_all();
    }

    void Wake()
    {
        const std::uint64_t one = 1;
        if (m_wakeFd >= 0)
            [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    }

    std::mutex mutex;
    // Some queue ran empty.
    std::condition_variable drained;

private:
    void Run();
    // The next queue whose front piece may go now, taking turns.
    TSocketBuff *NextReady(Clock::time_point now);
    void SendFront(std::unique_lock<std::mutex> &lock, TSocketBuff *queue);
    // Sleeps until a socket polled for takes data, a pause ends or new work
    // (or the end) is announced.
    void Sleep(std::unique_lock<std::mutex> &lock, Clock::time_point now);

    std::vector<TSocketBuff *> m_queues;
    std::size_t m_turn = 0;
    // The queue whose piece is being sent unlocked.
    TSocketBuff *m_sending = nullptr;
    std::condition_variable m_sendDone;
    bool m_terminate = false;
    int m_wakeFd;
    std::thread m_thread;
};

void SendThread::Run()
{
    std::unique_lock lock(mutex);
    while (!m_terminate) {
        const Clock::time_point now = Clock::now();
        if (TSocketBuff *queue = NextReady(now))
            SendFront(lock, queue);
        else
            Sleep(lock, now);
    }
}

TSocketBuff *SendThread::NextReady(Clock::time_point now)
{
    const std::size_t count = m_queues.size();
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = (m_turn + i) % count;
        TSocketBuff *queue = m_queues[at];
        if (queue->m_queue.empty())
            continue;
        if (queue->m_wait == TSocketBuff::Wait::None || now >= queue->m_retryAt) {
            m_turn = at + 1;
            return queue;
        }
    }
    return nullptr;
}

void SendThread::SendFront(std::unique_lock<std::mutex> &lock, TSocketBuff *queue)
{
    // Only this thread removes pieces (the owner's destructor waits for
    // m_sending) and the deque keeps references to its elements valid on
    // push_back, so the front may be sent unlocked.
    TSocketBuff::Piece &piece = queue->m_queue.front();
    const SocketHandlePtr socket = piece.socket;
    const char *data = piece.data.constData() + piece.offset;
    const std::size_t remaining = std::size_t(piece.data.size() - piece.offset);
    m_sending = queue;
    lock.unlock();
    const ssize_t sent = queue->m_send(socket->Fd(), data, remaining);
    const int err = errno;
    lock.lock();
    m_sending = nullptr;
    m_sendDone.notify_all();

    bool incomplete = false;
    if (sent < 0) {
        if (IsTransient(err)) {
            incomplete = true;
        } else {
            // The peer is gone (EPIPE, ECONNRESET, ...): retrying would spin
            // forever. The reading side reports the loss to the owner.
            const auto before = queue->m_queue.size();
            std::erase_if(queue->m_queue, [&](const TSocketBuff::Piece &p) { return p.socket == socket; });
            queue->m_droppedPieces += before - queue->m_queue.size();
        }
    } else if (std::size_t(sent) < remaining) {
        piece.offset += sent;
        ++queue->m_partialSends;
        incomplete = true;
    } else {
        queue->m_queue.pop_front();
    }
    if (incomplete) {
        queue->m_wait = queue->m_queue.size() == 1 ? TSocketBuff::Wait::Pause : TSocketBuff::Wait::Writable;
        queue->m_retryAt = Clock::now() + kRetryWait;
    } else {
        queue->m_wait = TSocketBuff::Wait::None;
    }
    if (queue->m_queue.empty())
        drained.notify_all();
}

void SendThread::Sleep(std::unique_lock<std::mutex> &lock, Clock::time_point now)
{
    std::vector<pollfd> fds{{m_wakeFd, POLLIN, 0}};
    // The descriptors polled stay open until poll() returns.
    std::vector<SocketHandlePtr> polled;
    std::optional<Clock::time_point> until;
    for (TSocketBuff *queue : m_queues) {
        if (queue->m_queue.empty() || queue->m_wait == TSocketBuff::Wait::None)
            continue;
        until = std::min(until.value_or(queue->m_retryAt), queue->m_retryAt);
        if (queue->m_wait == TSocketBuff::Wait::Writable) {
            polled.push_back(queue->m_queue.front().socket);
            fds.push_back({polled.back()->Fd(), POLLOUT, 0});
        }
    }
    int timeoutMs = -1;
    if (until)
        timeoutMs = int(std::chrono::ceil<std::chrono::milliseconds>(std::max(*until - now, Clock::duration::zero()))
                            .count());
    lock.unlock();
    ::poll(fds.data(), nfds_t(fds.size()), timeoutMs);
    if (fds[0].revents & POLLIN) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &count, sizeof count);
    }
    lock.lock();
    for (std::size_t i = 1; i < fds.size(); ++i) {
        if (fds[i].revents == 0)
            continue;
        // Errors and hang-ups too: the next send finds out and drops.
        for (TSocketBuff *queue : m_queues)
            if (queue->m_wait == TSocketBuff::Wait::Writable && !queue->m_queue.empty()
                && queue->m_queue.front().socket == polled[i - 1])
                queue->m_wait = TSocketBuff::Wait::None;
    }
}

TSocketBuff::TSocketBuff(SendFunction send) : m_send(std::move(send)), m_thread(SendThread::Shared())
{
    if (!m_send) {
        m_send = [](int fd, const char *data, std::size_t size) {
            return ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        };
    }
    m_thread->Add(this);
}

TSocketBuff::~TSocketBuff() { m_thread->Remove(this); }

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
        std::lock_guard lock(m_thread->mutex);
        for (QByteArray &piece : pieces)
            m_queue.push_back(Piece{socket, std::move(piece), 0});
    }
    m_thread->Wake();
}

bool TSocketBuff::WaitUntilSent()
{
    std::unique_lock lock(m_thread->mutex);
    if (m_queue.empty())
        return false;
    return !m_thread->drained.wait_for(lock, kWaitUntilSent, [this] { return m_queue.empty(); });
}

std::size_t TSocketBuff::QueuedPieces() const
{
    std::lock_guard lock(m_thread->mutex);
    return m_queue.size();
}

std::size_t TSocketBuff::PartialSends() const
{
    std::lock_guard lock(m_thread->mutex);
    return m_partialSends;
}

std::size_t TSocketBuff::DroppedPieces() const
{
    std::lock_guard lock(m_thread->mutex);
    return m_droppedPieces;
}

bool QueueMessage(TClientSocket &socket, TSocketBuff &worker, const QByteArray &frame)
{
    if (!socket.IsConnected() || !socket.SharedHandle())
        return false;
    worker.Enqueue(socket.SharedHandle(), frame);
    return true;
}

} // namespace velmora
