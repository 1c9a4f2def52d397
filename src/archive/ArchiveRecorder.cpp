#include "archive/ArchiveRecorder.h"

#include <QDateTime>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>

#include <sqlite3.h>

#include <pthread.h>

namespace velmora {
namespace {

TArchiveRecorder *g_recorder = nullptr;

qint64 Now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

TArchiveRecorder *ArchiveRecorder()
{
    return g_recorder;
}

void SetArchiveRecorder(TArchiveRecorder *recorder)
{
    g_recorder = recorder;
}

TArchiveRecorder::TArchiveRecorder(QString path, QObject *parent) : QObject(parent), m_path(std::move(path))
{
    // Chats a crash left open are marked before anything new is written,
    // and a removal the last run did not finish goes on.
    Queue([this](TArchiveDb &db) {
        if (db.MarkLeftOpen() < 0)
            return false;
        m_removing = m_removing || db.RemovalPending();
        return true;
    });
    m_daily.setInterval(24 * 60 * 60 * 1000);
    connect(&m_daily, &QTimer::timeout, this, [this] { SetRetentionDays(m_retentionDays); });
    m_daily.start();
    m_readerRetry.setInterval(kRetryMs);
    connect(&m_readerRetry, &QTimer::timeout, this, &TArchiveRecorder::OpenReaderNow);
    m_readerRetry.start();
    OpenReaderNow();
    QTimer::singleShot(kQuickCheckDelayMs, this, &TArchiveRecorder::CheckNow);
    m_worker = std::thread([this] {
        // Names a support engineer can tell apart in top or gdb.
        pthread_setname_np(pthread_self(), "archive-write");
        Run();
    });
}

void TArchiveRecorder::CheckNow()
{
    std::lock_guard lock(m_checkerMutex);
    if (m_checker.joinable() || m_checkerStop)
        return;
    QPointer<TArchiveRecorder> self(this);
    m_checker = std::thread([this, self] {
        pthread_setname_np(pthread_self(), "archive-check");
        TArchiveDb db;
        if (!db.OpenReader(m_path, 1000))
            return;
        {
            std::lock_guard lock(m_checkerMutex);
            if (m_checkerStop)
                return;
            m_checking = &db;
        }
        const bool sound = db.QuickCheck();
        {
            std::lock_guard lock(m_checkerMutex);
            m_checking = nullptr;
        }
        // An interrupted check (the exit) found nothing.
        if (sound || (db.LastCode() & 0xff) == SQLITE_INTERRUPT)
            return;
        const QString error = db.LastError();
        const bool damaged = db.LastWasDamage();
        QMetaObject::invokeMethod(this, [self, error, damaged] {
            if (self)
                self->ReadFailed(QStringLiteral("the check of its structure failed: ") + error, damaged);
        }, Qt::QueuedConnection);
    });
}

void TArchiveRecorder::OpenReaderNow()
{
    const int generation = m_generation.load();
    if (m_reader.IsOpen() && generation == m_readerGeneration)
        return;
    if (m_reader.OpenReader(m_path))
        m_readerGeneration = generation;
}

void TArchiveRecorder::ReadFailed(const QString &error, bool damaged)
{
    if (damaged) {
        {
            std::lock_guard lock(m_mutex);
            m_damage = error;
            m_hurry = true;
        }
        m_wake.notify_all();
        return;
    }
    const QString text = QStringLiteral("The chat archive could not be read (%1).").arg(error);
    if (text == m_lastReadProblem)
        return;
    m_lastReadProblem = text;
    emit Problem(text);
}

void TArchiveRecorder::SetAsideNow()
{
    QString damage;
    {
        std::lock_guard lock(m_mutex);
        damage = std::exchange(m_damage, QString());
    }
    if (damage.isEmpty())
        return;
    if (!m_db.IsOpen())
        m_db.OpenReader(m_path);
    QString movedTo;
    m_db.SetAside(&movedTo);
    m_removing = m_compacting = false;
    ++m_generation;
    StartedAfresh(damage, movedTo);
}

TArchiveRecorder::~TArchiveRecorder()
{
    if (g_recorder == this)
        g_recorder = nullptr;
    {
        std::lock_guard lock(m_checkerMutex);
        m_checkerStop = true;
        if (m_checking)
            m_checking->Interrupt();
    }
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_worker.join();
    if (m_checker.joinable())
        m_checker.join();
}

void TArchiveRecorder::Queue(Op op, size_t bytes, bool line)
{
    std::lock_guard lock(m_mutex);
    m_queue.push_back(Pending{std::move(op), bytes, line, false});
    m_queueBytes += bytes;
    ++m_queued;
    TrimQueue();
}

void TArchiveRecorder::TrimQueue()
{
    // The file has refused writes for long; the oldest waiting entries go,
    // counted so that the worker can say what was lost.
    while (!m_queue.empty() && (m_queue.size() > kMaxPending || m_queueBytes > kMaxPendingBytes)) {
        const Pending &oldest = m_queue.front();
        ++(oldest.Line ? m_droppedLines : m_droppedOther);
        if (!oldest.Counted)
            ++m_done;
        m_queueBytes -= oldest.Bytes;
        m_queue.pop_front();
    }
}

TArchiveRecorder::Handle TArchiveRecorder::BeginChat(TArchiveChat chat)
{
    if (!Enabled())
        return 0;
    const Handle handle = m_nextHandle++;
    if (chat.Started == 0)
        chat.Started = Now();
    chat.Open = true;
    Queue([this, handle, chat](TArchiveDb &db) {
        m_chats[handle] = ChatState{chat, 0};
        return ChatId(db, handle) != 0;
    });
    return handle;
}

qint64 TArchiveRecorder::ChatId(TArchiveDb &db, Handle handle)
{
    const auto found = m_chats.find(handle);
    if (found == m_chats.end())
        return 0;
    // Inserted on first use, and again into a new file after a damaged one.
    if (found->second.Id == 0) {
        found->second.Id = db.InsertChat(found->second.Info);
        m_insertedInBatch.push_back(handle);
    }
    return found->second.Id;
}

void TArchiveRecorder::UpdateCaller(Handle chat, const TArchiveChat &details)
{
    UpdateInfo(chat, [details](TArchiveChat &info) {
        info.Visitor = details.Visitor;
        info.Email = details.Email;
        info.Phone = details.Phone;
        if (!details.OtherSupporter.isEmpty())
            info.OtherSupporter = details.OtherSupporter;
    });
}

void TArchiveRecorder::SetOtherSupporter(Handle chat, const QString &name)
{
    UpdateInfo(chat, [name](TArchiveChat &info) { info.OtherSupporter = name; });
}

void TArchiveRecorder::SetSessionCount(Handle chat, qint32 sessionCount)
{
    UpdateInfo(chat, [sessionCount](TArchiveChat &info) { info.SessionCount = sessionCount; });
}

void TArchiveRecorder::UpdateInfo(Handle chat, std::function<void(TArchiveChat &)> change)
{
    if (chat == 0)
        return;
    Queue([this, chat, change = std::move(change)](TArchiveDb &db) {
        const auto found = m_chats.find(chat);
        if (found == m_chats.end())
            return true;
        change(found->second.Info);
        const qint64 id = ChatId(db, chat);
        return id != 0 && db.UpdateCaller(id, found->second.Info);
    });
}

void TArchiveRecorder::AddLine(Handle chat, TArchiveLine line)
{
    if (chat == 0)
        return;
    if (line.At == 0)
        line.At = Now();
    const size_t bytes = 64 + size_t(line.Text.size() + line.Name.size()) * 2 + size_t(line.Image.size());
    Queue([this, chat, line = std::move(line)](TArchiveDb &db) {
        const qint64 id = ChatId(db, chat);
        return m_chats.count(chat) == 0 || (id != 0 && db.AddLine(id, line));
    }, bytes, true);
}

void TArchiveRecorder::AttributeToVisitor(Handle chat, const QString &name)
{
    if (chat == 0 || name.trimmed().isEmpty())
        return;
    Queue([this, chat, name](TArchiveDb &db) {
        const qint64 id = ChatId(db, chat);
        return m_chats.count(chat) == 0 || (id != 0 && db.AttributeLines(id, archive::Who::Visitor, name) >= 0);
    });
}

void TArchiveRecorder::EndChat(Handle chat, const QString &status, archive::EndedBy by)
{
    if (chat == 0)
        return;
    const qint64 at = Now();
    QPointer<TArchiveRecorder> self(this);
    Queue([this, self, chat, status, at, by](TArchiveDb &db) {
        const qint64 id = ChatId(db, chat);
        if (id == 0)
            return m_chats.count(chat) == 0;
        if (!db.EndChat(id, at, status, by))
            return false;
        m_chats.erase(chat);
        m_afterCommit.push_back([this, self] {
            QMetaObject::invokeMethod(this, [self] {
                if (self)
                    emit self->ChatsEnded();
            }, Qt::QueuedConnection);
        });
        return true;
    });
}

void TArchiveRecorder::RecordCall(TArchiveCall call)
{
    if (!Enabled() || call.Announced == 0)
        return;
    Queue([call](TArchiveDb &db) { return db.InsertCall(call); });
}

void TArchiveRecorder::SetTranscriptFate(qint32 sessionCount, TTranscriptFate fate)
{
    if (!Enabled())
        return;
    if (fate.At == 0)
        fate.At = Now();
    fate.Record = QFileInfo(fate.Record).fileName();
    Queue([sessionCount, fate](TArchiveDb &db) {
        const qint64 id = db.ChatOfSession(sessionCount);
        return id == 0 || db.SetTranscriptFate(id, fate);
    });
}

void TArchiveRecorder::UpdateTranscriptFate(const QString &recordFile, TTranscriptFate fate)
{
    if (!Enabled() || recordFile.isEmpty())
        return;
    if (fate.At == 0)
        fate.At = Now();
    const QString name = QFileInfo(recordFile).fileName();
    Queue([name, fate](TArchiveDb &db) { return db.UpdateTranscriptFate(name, fate); });
}

void TArchiveRecorder::Remove(std::function<int(TArchiveDb &)> removal, std::function<void(int)> done)
{
    Queue([this, removal = std::move(removal), done = std::move(done)](TArchiveDb &db) {
        const int marked = removal(db);
        if (marked < 0)
            return false;
        // The batches start once the marks are committed.
        m_afterCommit.push_back([this, done, marked] {
            m_removing = true;
            m_removalDone.emplace_back(done, marked);
        });
        return true;
    });
    Hurry();
}

void TArchiveRecorder::DeleteChat(qint64 chat, std::function<void(int)> done)
{
    Remove([chat](TArchiveDb &db) { return db.MarkChat(chat); }, std::move(done));
}

void TArchiveRecorder::ForgetVisitor(const QString &email, std::function<void(int)> done)
{
    Remove([email](TArchiveDb &db) { return db.MarkVisitor(email); }, std::move(done));
}

void TArchiveRecorder::ForgetVisitorNamed(const QString &name, const QString &site, std::function<void(int)> done)
{
    Remove([name, site](TArchiveDb &db) { return db.MarkVisitorNamed(name, site); }, std::move(done));
}

void TArchiveRecorder::RemoveAll(std::function<void(int)> done)
{
    Remove([](TArchiveDb &db) { return db.MarkAll(); }, std::move(done));
}

void TArchiveRecorder::SetRetentionDays(int days)
{
    m_retentionDays = qMax(0, days);
    if (m_retentionDays == 0)
        return;
    const qint64 cutoff = Now() - qint64(m_retentionDays) * 24 * 60 * 60 * 1000;
    Remove([cutoff](TArchiveDb &db) { return db.MarkOlderThan(cutoff); }, {});
}

void TArchiveRecorder::Hurry()
{
    {
        std::lock_guard lock(m_mutex);
        m_hurry = true;
    }
    m_wake.notify_all();
}

void TArchiveRecorder::Flush()
{
    std::unique_lock lock(m_mutex);
    const quint64 target = m_queued;
    m_hurry = true;
    m_wake.notify_all();
    m_written.wait(lock, [&] { return m_done >= target || m_stop; });
}

bool TArchiveRecorder::Healthy() const
{
    std::lock_guard lock(m_mutex);
    return m_healthy;
}

TArchiveDb *TArchiveRecorder::Reader()
{
    return m_reader.IsOpen() && m_readerGeneration == m_generation.load() ? &m_reader : nullptr;
}

void TArchiveRecorder::Report(const QString &text, bool problem)
{
    {
        std::lock_guard lock(m_mutex);
        m_healthy = !problem;
    }
    if (problem == m_failing)
        return;
    m_failing = problem;
    QPointer<TArchiveRecorder> self(this);
    QMetaObject::invokeMethod(this, [self, text, problem] {
        if (!self)
            return;
        if (problem)
            emit self->Problem(text);
        else
            emit self->Resumed();
    }, Qt::QueuedConnection);
}

void TArchiveRecorder::Refused(const QString &error)
{
    Report(QStringLiteral("The chat archive cannot be written (%1); chats go on and are kept once it can.").arg(error),
           true);
}

void TArchiveRecorder::StartedAfresh(const QString &error, const QString &movedTo)
{
    // The chats already in the damaged file stay there; the open ones go
    // into the new file with their next line.
    for (auto &entry : m_chats)
        entry.second.Id = 0;
    m_failing = false;
    const QString what = m_db.WasNewer() ? QStringLiteral("The chat archive is from a newer version (%1).")
                                          : QStringLiteral("The chat archive was damaged (%1).");
    Report(what.arg(error) + QStringLiteral(" It was kept as %1 and a new archive started.").arg(movedTo), true);
}

bool TArchiveRecorder::EnsureOpen()
{
    if (m_db.IsOpen())
        return true;
    QString error, movedTo;
    const TArchiveDb::OpenResult result = m_db.Open(m_path, &error, &movedTo);
    if (result == TArchiveDb::OpenResult::Failed) {
        Refused(error);
        return false;
    }
    if (result == TArchiveDb::OpenResult::MovedAside) {
        ++m_generation;
        StartedAfresh(error, movedTo);
    }
    // The windows' reader can open the file now.
    QPointer<TArchiveRecorder> self(this);
    QMetaObject::invokeMethod(this, [self] {
        if (self)
            self->OpenReaderNow();
    }, Qt::QueuedConnection);
    return true;
}

bool TArchiveRecorder::WriteBatch(std::deque<Pending> &batch)
{
    if (!EnsureOpen())
        return false;
    m_insertedInBatch.clear();
    m_afterCommit.clear();
    bool ok = m_db.Begin();
    for (auto it = batch.begin(); ok && it != batch.end(); ++it)
        ok = it->Do(m_db);
    ok = ok && m_db.Commit();
    if (ok) {
        for (const auto &after : std::exchange(m_afterCommit, {}))
            after();
        Report(QString(), false);
        return true;
    }
    const bool damaged = m_db.LastWasDamage();
    const QString error = m_db.LastError();
    m_db.Rollback();
    // Ids handed out inside the failed transaction are gone with it.
    for (Handle handle : m_insertedInBatch) {
        if (const auto found = m_chats.find(handle); found != m_chats.end())
            found->second.Id = 0;
    }
    if (damaged) {
        QString movedTo;
        m_db.SetAside(&movedTo);
        m_removing = m_compacting = false;
        ++m_generation;
        StartedAfresh(error, movedTo);
        return false;
    }
    Refused(error);
    return false;
}

void TArchiveRecorder::RemovalStep()
{
    if (!m_db.IsOpen() || !m_db.Begin())
        return;
    int removed = 0;
    bool more = false;
    if (m_removing) {
        removed = m_db.RemoveBatch();
        more = removed > 0;
    } else {
        more = m_db.CompactStep();
    }
    if (removed < 0 || !m_db.Commit()) {
        const QString error = m_db.LastError();
        m_db.Rollback();
        Refused(error);
        // Tried again after the retry pause; the marks stay in the file.
        return;
    }
    if (more)
        return;
    if (m_removing) {
        m_removing = false;
        m_compacting = true;
        QPointer<TArchiveRecorder> self(this);
        for (auto &[done, count] : std::exchange(m_removalDone, {}))
            if (done)
                QMetaObject::invokeMethod(this, [self, done = done, count = count] {
                    if (self)
                        done(count);
                }, Qt::QueuedConnection);
        return;
    }
    // Removed text is gone from the WAL too.
    m_compacting = false;
    m_db.FreeSpace();
}

void TArchiveRecorder::Run()
{
    std::deque<Pending> batch;
    std::unique_lock lock(m_mutex);
    for (;;) {
        // Removal batches go one after another, with the chats' writes between them.
        const bool removing = (m_removing || m_compacting) && !m_failing;
        const int waitMs = removing ? 0 : m_failing ? kRetryMs : kFlushMs;
        m_wake.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return m_stop || m_hurry; });
        m_hurry = false;
        const bool stopping = m_stop;
        const bool setAside = !m_damage.isEmpty();
        // What failed before is at the front of the queue, in its order.
        size_t taken = 0;
        for (Pending &pending : m_queue) {
            taken += pending.Counted ? 0 : 1;
            batch.push_back(std::move(pending));
        }
        m_queue.clear();
        m_queueBytes = 0;
        lock.unlock();
        if (setAside)
            SetAsideNow();
        const bool written = batch.empty() || WriteBatch(batch);
        if (!written && !stopping) {
            for (Pending &pending : batch)
                pending.Counted = true;
        }
        if (written && !stopping && (m_removing || m_compacting))
            RemovalStep();
        lock.lock();
        if (!written && !stopping) {
            // Back in front of what came meanwhile, within the bounds.
            for (auto it = batch.rbegin(); it != batch.rend(); ++it) {
                m_queueBytes += it->Bytes;
                m_queue.push_front(std::move(*it));
            }
            TrimQueue();
        }
        batch.clear();
        const quint64 droppedLines = std::exchange(m_droppedLines, 0), droppedOther = std::exchange(m_droppedOther, 0);
        // A batch that failed is still counted as handled for Flush: the
        // caller must not wait on a file that refuses writes.
        m_done += taken;
        m_written.notify_all();
        if (droppedLines + droppedOther > 0) {
            lock.unlock();
            QPointer<TArchiveRecorder> self(this);
            const QString text = QStringLiteral("The chat archive could not be written for long: %1 waiting lines and %2"
                                                " other changes were dropped, the oldest first.")
                                     .arg(droppedLines)
                                     .arg(droppedOther);
            QMetaObject::invokeMethod(this, [self, text] {
                if (self)
                    emit self->Problem(text);
            }, Qt::QueuedConnection);
            lock.lock();
        }
        if (stopping)
            break;
    }
    lock.unlock();
    m_db.Close();
}

} // namespace velmora
