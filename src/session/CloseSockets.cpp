#include "session/CloseSockets.h"

#include "session/ClientSocket.h"

#include <QMetaObject>

#include <chrono>
#include <sys/socket.h>

namespace velmora {

namespace {

constexpr int kStepMs = 200;
constexpr int kSettleMs = 100;

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
    m_thread = std::thread([this] { Run(); });
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
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(Entry{socket, socket->SharedHandle(), false});
    }
    m_wake.notify_one();
}

std::size_t TCloseSockets::Pending() const
{
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

bool TCloseSockets::Sleep(std::unique_lock<std::mutex> &lock, int ms)
{
    return !m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_terminate; });
}

void TCloseSockets::Run()
{
    std::unique_lock lock(m_mutex);
    while (!m_terminate) {
        if (m_queue.empty()) {
            m_wake.wait(lock, [this] { return m_terminate || !m_queue.empty(); });
            continue;
        }
        if (!Sleep(lock, kStepMs))
            break;
        Entry &entry = m_queue.front();
        if (!entry.closeRequested) {
            // First turn: shut the connection down; the descriptor itself
            // stays valid for whoever still holds it.
            if (entry.handle)
                ::shutdown(entry.handle->Fd(), SHUT_RDWR);
            entry.closeRequested = true;
            continue;
        }
        // Second turn: give the shutdown a moment, then release the object
        // on its own thread.
        if (!Sleep(lock, kSettleMs))
            break;
        TClientSocket *socket = entry.socket;
        m_queue.pop_front();
        QMetaObject::invokeMethod(socket, [socket] { ReleaseSocket(socket); }, Qt::QueuedConnection);
        if (!Sleep(lock, kStepMs))
            break;
    }
}

} // namespace velmora
