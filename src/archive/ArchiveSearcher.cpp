#include "archive/ArchiveSearcher.h"

#include "archive/ArchiveRecorder.h"

#include <QMetaObject>
#include <QPointer>

#include <sqlite3.h>

#include <memory>

#include <pthread.h>

namespace velmora {

TArchiveSearcher::TArchiveSearcher(TArchiveRecorder &archive, QObject *parent)
    : QObject(parent), m_archive(archive), m_path(archive.Path())
{
    m_worker = std::thread([this] { Run(); });
}

TArchiveSearcher::~TArchiveSearcher()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_db.Interrupt();
    }
    m_wake.notify_all();
    m_worker.join();
}

quint64 TArchiveSearcher::Search(const TArchiveFilter &filter)
{
    std::lock_guard lock(m_mutex);
    m_filter = filter;
    m_newSearch = true;
    m_more = false;
    // What runs is of no use any more.
    if (m_running != 0)
        m_db.Interrupt();
    m_wake.notify_all();
    return ++m_latest;
}

void TArchiveSearcher::More()
{
    std::lock_guard lock(m_mutex);
    m_more = true;
    m_wake.notify_all();
}

void TArchiveSearcher::Run()
{
    pthread_setname_np(pthread_self(), "archive-search");
    std::unique_ptr<TArchiveSearch> search;
    quint64 number = 0;
    int generation = -1;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_stop || m_newSearch || (m_more && search && !search->AtEnd()); });
        if (m_stop)
            break;
        const bool first = m_newSearch;
        if (first) {
            search.reset();
            number = m_latest;
            m_newSearch = false;
            // A file set aside and started anew is opened again.
            if (!m_db.IsOpen() || generation != m_archive.FileGeneration()) {
                generation = m_archive.FileGeneration();
                m_db.OpenReader(m_path);
            }
        }
        m_more = false;
        m_running = number;
        const TArchiveFilter filter = m_filter;
        lock.unlock();

        std::vector<TArchiveHit> hits;
        bool ok = m_db.IsOpen();
        if (ok && first) {
            search = std::make_unique<TArchiveSearch>(m_db, filter);
            search->Cancelled = [this, number] {
                std::lock_guard guard(m_mutex);
                return m_stop || m_latest != number;
            };
        }
        ok = ok && search->Next(kPageSize, hits);
        const bool atEnd = ok && search->AtEnd();
        const int code = m_db.LastCode() & 0xff;
        const QString error = m_db.LastError().isEmpty() ? QStringLiteral("the file cannot be opened") : m_db.LastError();
        const bool damaged = m_db.LastWasDamage();
        if (!ok)
            search.reset();

        lock.lock();
        m_running = 0;
        // A connection that failed is opened afresh for the next search.
        if (!ok && code != SQLITE_INTERRUPT)
            m_db.Close();
        if (m_latest != number || m_stop)
            continue; // a newer search was asked for meanwhile
        QPointer<TArchiveSearcher> self(this);
        if (ok) {
            QMetaObject::invokeMethod(this, [self, number, hits = std::move(hits), first, atEnd] {
                if (self)
                    emit self->Found(number, hits, first, atEnd);
            }, Qt::QueuedConnection);
        } else {
            const bool busy = code == SQLITE_BUSY || code == SQLITE_LOCKED;
            QMetaObject::invokeMethod(this, [self, number, error, busy, damaged] {
                if (self)
                    emit self->Failed(number, error, busy, damaged);
            }, Qt::QueuedConnection);
        }
    }
}

} // namespace velmora
