#pragma once
// Searches the archive on a thread of its own, with a reader connection of
// its own, so that no search ever holds the GUI thread. The newest search
// wins: one still running is interrupted, and the results of an older one
// are never delivered. Results come a page at a time.
#include "archive/ArchiveDb.h"

#include <QObject>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace velmora {

class TArchiveRecorder;

class TArchiveSearcher : public QObject {
    Q_OBJECT
public:
    static constexpr int kPageSize = 100;

    explicit TArchiveSearcher(TArchiveRecorder &archive, QObject *parent = nullptr);
    // Interrupts what runs and waits for the thread, which takes no longer
    // than the statement running.
    ~TArchiveSearcher() override;

    // Starts a search; its number comes with its results.
    quint64 Search(const TArchiveFilter &filter);
    // The next page of the newest search.
    void More();

signals:
    // A page of search `search`; `first`: the first page, `atEnd`: no more follow.
    void Found(quint64 search, const std::vector<TArchiveHit> &hits, bool first, bool atEnd);
    // The search could not read the file; `busy`: another program holds it, try again.
    void Failed(quint64 search, const QString &error, bool busy, bool damaged);

private:
    void Run();

    TArchiveRecorder &m_archive;
    const QString m_path;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    quint64 m_latest = 0;     // the newest search asked for
    quint64 m_running = 0;    // the search the worker holds
    bool m_newSearch = false; // m_filter is a search not started yet
    bool m_more = false;
    bool m_stop = false;
    TArchiveFilter m_filter;
    TArchiveDb m_db; // the worker's; Interrupt is the only call from outside
    std::thread m_worker;
};

} // namespace velmora
