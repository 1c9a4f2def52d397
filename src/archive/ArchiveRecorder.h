#pragma once
// Records chats into the archive as they happen, without making the GUI
// thread wait for the disk: calls queue what happened and return at once; a
// worker thread writes the queue in one transaction at most every
// kFlushMs, so a kill loses at most that much. At exit the queue is written
// before the worker stops.
//
// A file that cannot be written (disk full, read-only, locked by another
// program) does not stop the chats: the queue is kept (bounded), the problem
// is reported once, and writing resumes when the file takes it again. A
// damaged file is moved aside by TArchiveDb and a new one started.
//
// One recorder serves the whole console; the widget-free chat code finds it
// through ArchiveRecorder(), which is null when there is no archive.
#include "archive/ArchiveDb.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace velmora {

class TArchiveRecorder : public QObject {
    Q_OBJECT
public:
    static constexpr int kFlushMs = 250;
    static constexpr int kRetryMs = 2000;
    static constexpr int kDefaultRetentionDays = 365;
    // What the queue keeps while the file refuses writes: so many entries,
    // and so many bytes of text and pictures.
    static constexpr size_t kMaxPending = 100000;
    static constexpr size_t kMaxPendingBytes = 64u << 20;
    // The file's structure is checked this long after the start, in the background.
    static constexpr int kQuickCheckDelayMs = 5000;

    using Handle = qint64;

    explicit TArchiveRecorder(QString path, QObject *parent = nullptr);
    // Writes what is queued, then stops the worker.
    ~TArchiveRecorder() override;

    const QString &Path() const { return m_path; }

    // A chat begins; 0 (and nothing recorded) while the archive is off.
    Handle BeginChat(TArchiveChat chat);
    void UpdateCaller(Handle chat, const TArchiveChat &details);
    void SetOtherSupporter(Handle chat, const QString &name);
    // A supporter chat learns its number only once it is under way.
    void SetSessionCount(Handle chat, qint32 sessionCount);
    void AddLine(Handle chat, TArchiveLine line);
    // Lines kept as system lines that begin with "`name`: " become the visitor's.
    void AttributeToVisitor(Handle chat, const QString &name);
    void EndChat(Handle chat, const QString &status, archive::EndedBy by = archive::EndedBy::Unknown);
    // A call announced to this console, once its fate is known.
    void RecordCall(TArchiveCall call);
    // The transcript of the newest chat with this session number.
    void SetTranscriptFate(qint32 sessionCount, TTranscriptFate fate);
    // What became of the transcript kept as outbox record `recordFile`.
    void UpdateTranscriptFate(const QString &recordFile, TTranscriptFate fate);

    // Removals run on the worker: the chats are hidden at once and removed
    // in small batches between the chats' own writes; at exit the rest waits
    // for the next start. `done` runs on this thread when the last batch is
    // written, with the number of chats removed (-1: it failed). A chat still
    // running is not removed (0).
    void DeleteChat(qint64 chat, std::function<void(int)> done = {});
    void ForgetVisitor(const QString &email, std::function<void(int)> done = {});
    void ForgetVisitorNamed(const QString &name, const QString &site, std::function<void(int)> done = {});
    void RemoveAll(std::function<void(int)> done = {});
    // Days to keep (0: the archive is off and records nothing). Expired
    // chats are removed now and once a day.
    void SetRetentionDays(int days);
    bool Enabled() const { return m_retentionDays > 0; }

    // Blocks until what is queued now has been written or has failed: for
    // tests and the exit, never on a chat's path.
    void Flush();
    // True while the file takes what is written.
    bool Healthy() const;

    // A connection for the windows to read from (this thread only); null
    // while the file cannot be read. It is opened again on a timer, never
    // by the call, so a locked file costs its callers nothing.
    TArchiveDb *Reader();
    // The same, tried at once when it is closed: for what the operator asked
    // for (a chat opened), never for a paint, a tip or a scroll.
    TArchiveDb *ReaderNow()
    {
        OpenReaderNow();
        return Reader();
    }
    // Changes when the file was set aside and a new one started: readers open it again.
    int FileGeneration() const { return m_generation.load(); }
    // A read that failed, for the log and the status bar (once per text);
    // `damaged`: the file is set aside as a damaged one found at the start is.
    void ReadFailed(const QString &error, bool damaged);
    // Starts the background check of the file's structure now (tests).
    void CheckNow();

signals:
    // The archive stopped taking chats (once per spell) or took them again.
    void Problem(const QString &text);
    void Resumed();
    // Chats ended and are readable by the windows now (once per batch).
    void ChatsEnded();

private:
    void OpenReaderNow();
    using Op = std::function<bool(TArchiveDb &)>;
    struct Pending {
        Op Do;
        size_t Bytes = 0;
        bool Line = false;
        bool Counted = false; // already counted as handled by a failed batch
    };
    struct ChatState {
        TArchiveChat Info;
        qint64 Id = 0;
    };

    void Queue(Op op, size_t bytes = 64, bool line = false);
    // Drops the oldest entries past the bounds (the lock held).
    void TrimQueue();
    // One batch of a removal, or one step of freeing the space after it.
    void RemovalStep();
    void SetAsideNow();
    // Wakes the writer at once instead of at the end of its interval.
    void Hurry();
    void Run();
    bool WriteBatch(std::deque<Pending> &batch);
    bool EnsureOpen();
    qint64 ChatId(TArchiveDb &db, Handle handle);
    // Changes the chat's details on the worker and writes them.
    void UpdateInfo(Handle chat, std::function<void(TArchiveChat &)> change);
    void Report(const QString &text, bool problem);
    void Refused(const QString &error);
    void StartedAfresh(const QString &error, const QString &movedTo);
    void Remove(std::function<int(TArchiveDb &)> removal, std::function<void(int)> done);

    const QString m_path;
    int m_retentionDays = kDefaultRetentionDays;
    QTimer m_daily;
    QTimer m_readerRetry;
    int m_readerGeneration = -1;
    QString m_lastReadProblem;
    std::atomic<int> m_generation{0};
    Handle m_nextHandle = 1;
    TArchiveDb m_reader;

    // Shared with the worker.
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_written;
    std::deque<Pending> m_queue;
    size_t m_queueBytes = 0;
    quint64 m_droppedLines = 0, m_droppedOther = 0;
    // Damage found by a reader: the worker sets the file aside.
    QString m_damage;
    quint64 m_queued = 0, m_done = 0;
    bool m_stop = false;
    // A flush or a removal waits for no batch interval: the next batch goes now.
    bool m_hurry = false;
    bool m_healthy = true;

    // The worker's own.
    TArchiveDb m_db;
    std::unordered_map<Handle, ChatState> m_chats;
    std::vector<Handle> m_insertedInBatch;
    std::vector<std::function<void()>> m_afterCommit;
    bool m_failing = false;
    bool m_removing = false, m_compacting = false;
    std::vector<std::pair<std::function<void(int)>, int>> m_removalDone;
    std::thread m_worker;
    // The background structure check, on a connection of its own.
    std::thread m_checker;
    std::mutex m_checkerMutex;
    TArchiveDb *m_checking = nullptr;
    bool m_checkerStop = false;
};

TArchiveRecorder *ArchiveRecorder();
void SetArchiveRecorder(TArchiveRecorder *recorder);

} // namespace velmora
