#include "archive/ArchiveRecorder.h"

#include <QDateTime>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>

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
    // Chats a crash left open are marked before anything new is written.
    Queue([](TArchiveDb &db) { return db.MarkLeftOpen() >= 0; });
    m_daily.setInterval(24 * 60 * 60 * 1000);
    connect(&m_daily, &QTimer::timeout, this, [this] { SetRetentionDays(m_retentionDays); });
    m_daily.start();
    m_worker = std::thread([this] { Run(); });
}

TArchiveRecorder::~TArchiveRecorder()
{
    if (g_recorder == this)
        g_recorder = nullptr;
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_worker.join();
}

void TArchiveRecorder::Queue(Op op)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.size() >= kMaxPending) {
            // The file has refused writes for long; the oldest waiting entry goes.
            m_queue.pop_front();
            ++m_done;
        }
        m_queue.push_back(std::move(op));
        ++m_queued;
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
    Queue([this, chat, line = std::move(line)](TArchiveDb &db) {
        const qint64 id = ChatId(db, chat);
        return m_chats.count(chat) == 0 || (id != 0 && db.AddLine(id, line));
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
    QPointer<TArchiveRecorder> self(this);
    Queue([self, this, removal = std::move(removal), done = std::move(done)](TArchiveDb &db) {
        const int removed = removal(db);
        if (removed < 0)
            return false;
        // Space is freed outside the transaction, and the caller told once
        // the removal is committed and so visible to its reader.
        m_afterCommit.push_back([self, this, &db, done, removed] {
            if (removed > 0)
                db.FreeSpace();
            if (done)
                QMetaObject::invokeMethod(this, [self, done, removed] {
                    if (self)
                        done(removed);
                }, Qt::QueuedConnection);
        });
        return true;
    });
    Hurry();
}

void TArchiveRecorder::DeleteChat(qint64 chat, std::function<void(int)> done)
{
    Remove([chat](TArchiveDb &db) { return db.DeleteChat(chat); }, std::move(done));
}

void TArchiveRecorder::ForgetVisitor(const QString &email, std::function<void(int)> done)
{
    Remove([email](TArchiveDb &db) { return db.ForgetVisitor(email); }, std::move(done));
}

void TArchiveRecorder::RemoveAll(std::function<void(int)> done)
{
    Remove([](TArchiveDb &db) { return db.RemoveAll(); }, std::move(done));
}

void TArchiveRecorder::SetRetentionDays(int days)
{
    m_retentionDays = qMax(0, days);
    if (m_retentionDays == 0)
        return;
    const qint64 cutoff = Now() - qint64(m_retentionDays) * 24 * 60 * 60 * 1000;
    Remove([cutoff](TArchiveDb &db) { return db.RemoveOlderThan(cutoff); }, {});
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
    if (!m_reader.IsOpen())
        m_reader.OpenReader(m_path);
    return m_reader.IsOpen() ? &m_reader : nullptr;
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
    Report(QStringLiteral("The chat archive was damaged (%1). It was kept as %2 and a new archive started.")
               .arg(error, movedTo),
           true);
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
    if (result == TArchiveDb::OpenResult::MovedAside)
        StartedAfresh(error, movedTo);
    return true;
}

bool TArchiveRecorder::WriteBatch(std::deque<Op> &batch)
{
    if (!EnsureOpen())
        return false;
    m_insertedInBatch.clear();
    m_afterCommit.clear();
    bool ok = m_db.Begin();
    for (auto it = batch.begin(); ok && it != batch.end(); ++it)
        ok = (*it)(m_db);
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
        StartedAfresh(error, movedTo);
        return false;
    }
    Refused(error);
    return false;
}

void TArchiveRecorder::Run()
{
    std::deque<Op> batch;
    std::unique_lock lock(m_mutex);
    for (;;) {
        const int waitMs = m_failing ? kRetryMs : kFlushMs;
        m_wake.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return m_stop || m_hurry; });
        m_hurry = false;
        const bool stopping = m_stop;
        // What failed before goes first, in its order.
        for (Op &op : m_queue)
            batch.push_back(std::move(op));
        const size_t taken = m_queue.size();
        m_queue.clear();
        lock.unlock();
        bool written = batch.empty() || WriteBatch(batch);
        if (written)
            batch.clear();
        else if (batch.size() > kMaxPending)
            batch.erase(batch.begin(), batch.begin() + qsizetype(batch.size() - kMaxPending));
        lock.lock();
        // A batch that failed is still counted as handled for Flush: the
        // caller must not wait on a file that refuses writes.
        m_done += taken;
        m_written.notify_all();
        if (stopping)
            break;
    }
    lock.unlock();
    m_db.Close();
}

} // namespace velmora
