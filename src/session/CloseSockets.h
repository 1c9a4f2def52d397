#pragma once
// Closes connections that are no longer wanted in the background, one at a
// time: the descriptor is shut down about 200 ms after the hand-over (so what
// the send worker still had queued can leave), and the socket object is
// released on the GUI thread a little later.
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

    // Takes ownership of `socket` (GUI thread). Its notifications stop at
    // once, so nothing reaches a former owner that may be gone by then; its
    // descriptor stays open until the closer's turn comes.
    void CloseInBackground(TClientSocket *socket);

    std::size_t Pending() const;

private:
    struct Entry {
        TClientSocket *socket = nullptr;
        // Captured on the GUI thread: the worker never touches the QObject.
        std::shared_ptr<SocketHandle> handle;
        bool closeRequested = false;
    };

    void Run();
    // Sleeps up to `ms` unless termination is asked for; false on termination.
    bool Sleep(std::unique_lock<std::mutex> &lock, int ms);

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Entry> m_queue;
    bool m_terminate = false;
    std::thread m_thread;
};

} // namespace velmora
