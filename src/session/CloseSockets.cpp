#include "session/CloseSockets.h"

#include "session/ClientSocket.h"

#include <QMetaObject>

#include <pthread.h>
#include <sys/socket.h>

namespace velmora {

namespace {

// How long a shut-down connection settles before its descriptor goes.
constexpr std::chrono::milliseconds kSettle{300};

// Runs on the GUI thread, where the socket lives.
void ReleaseSocket(TClientSocket *socket)
{
    socket->Close();
    socket->Detach();
    delete socket;
}

} // namespace

TCloseSockets::TCloseSockets()
{
    m_thread = std::thread([this] {
        pthread_setname_np(pthread_self(), "velmora-close");
        Run();
    });
}

TCloseSockets::~TCloseSockets()
{
    {
        std::lock_guard lock(m_mutex);
        m_terminate = true;
    }
    m_wake.notify_all();
    m_thread.join();
    for (Entry &entry : m_queue)
        ReleaseSocket(entry.socket);
    m_queue.clear();
}

void TCloseSockets::CloseInBackground(TClientSocket *socket)
{
    if (!socket)
        return;
    socket->Detach();
    socket->Mute();
    // Shut down, not closed: a send worker may still hold the descriptor.
    if (const std::shared_ptr<SocketHandle> handle = socket->SharedHandle())
        ::shutdown(handle->Fd(), SHUT_RDWR);
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(Entry{socket, std::chrono::steady_clock::now() + kSettle});
    }
    m_wake.notify_one();
}

std::size_t TCloseSockets::Pending() const
{
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

void TCloseSockets::Run()
{
    std::unique_lock lock(m_mutex);
    while (!m_terminate) {
        if (m_queue.empty()) {
            m_wake.wait(lock, [this] { return m_terminate || !m_queue.empty(); });
            continue;
        }
        const auto due = m_queue.front().releaseAt;
        if (m_wake.wait_until(lock, due, [this] { return m_terminate; }))
            break;
        // Everything whose time has come goes in one pass.
        const auto now = std::chrono::steady_clock::now();
        while (!m_queue.empty() && m_queue.front().releaseAt <= now) {
            TClientSocket *socket = m_queue.front().socket;
            m_queue.pop_front();
            QMetaObject::invokeMethod(socket, [socket] { ReleaseSocket(socket); }, Qt::QueuedConnection);
        }
    }
}

} // namespace velmora
