#pragma once
// Closes connections that are no longer wanted in the background: the
// connection is shut down at the hand-over (what the kernel still holds for
// it leaves before the peer sees the end), and the socket object, with its
// descriptor, is released on the GUI thread a moment later. Every socket
// waits on its own clock, so a burst of hang-ups drains as fast as one.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace velmora {

class TClientSocket;
class SocketHandle;

class TCloseSockets {
public:
    TCloseSockets();
    // Joins the thread, then closes, detaches and deletes every socket still
    // queued.
    ~TCloseSockets();
    TCloseSockets(const TCloseSockets &) = delete;
    TCloseSockets &operator=(const TCloseSockets &) = delete;

    // Takes ownership of `socket` (GUI thread). Its notifications stop and
    // its connection is shut down at once, so nothing reaches a former owner
    // that may be gone by then; the descriptor stays valid until the socket
    // is released.
    void CloseInBackground(TClientSocket *socket);

    std::size_t Pending() const;

private:
    struct Entry {
        TClientSocket *socket = nullptr;
        std::chrono::steady_clock::time_point releaseAt;
    };

    void Run();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Entry> m_queue; // in hand-over order, so in release order too
    bool m_terminate = false;
    std::thread m_thread;
};

} // namespace velmora
