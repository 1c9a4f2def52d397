#pragma once
// The console's side of the team archive: the replicator while one is set,
// and a connection of its own on a thread of its own for what the windows
// read (Past chats' team scope, a returning visitor's earlier chats), so
// that no window waits for the network. Found through TeamArchive(), null
// in programs that have none; Enabled() is false while none is set.
#include "team/TeamDb.h"

#include <QObject>
#include <QPointer>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace velmora {

class TTeamReplicator;

class TTeamArchive : public QObject {
    Q_OBJECT
public:
    // Work for the reader thread: it runs with the connection (open, or
    // null when the server cannot be reached) and returns what to do on the
    // GUI thread with the result.
    using Work = std::function<std::function<void()>(TTeamDb *)>;

    explicit TTeamArchive(QString archivePath, QObject *parent = nullptr);
    ~TTeamArchive() override;

    // Starts, restarts or stops the replication; an empty setting is off.
    void Configure(const QString &setting, const QString &schema);
    bool Enabled() const { return !m_setting.trimmed().isEmpty(); }
    // Chats ended or were removed: send now.
    void Nudge();
    QString StatusText() const { return m_status; }
    // Why the team archive is not online, or a warning about it.
    QString Problem() const;

    // Runs `work` on the reader thread; its answer runs here unless `context` is gone by then.
    void Read(QObject *context, Work work);

    // Connects with `setting` on a thread of its own and hands `done` (on
    // the GUI thread, while `context` lives) "" or what went wrong.
    static void TestConnection(QObject *context, const QString &setting, const QString &schema,
                               std::function<void(const QString &result, bool ok)> done);

signals:
    void StatusChanged(const QString &text);

private:
    void StopReader();

    const QString m_path;
    QString m_setting, m_schema, m_status;
    std::unique_ptr<TTeamReplicator> m_replicator;

    struct Reader {
        std::mutex Mutex;
        std::condition_variable Wake;
        std::deque<std::pair<QPointer<QObject>, Work>> Queue;
        bool Stop = false;
        TTeamDb *Db = nullptr; // the thread's, for cutting a read off at exit
        std::thread Thread;
    };
    std::unique_ptr<Reader> m_reader;
};

TTeamArchive *TeamArchive();
void SetTeamArchive(TTeamArchive *team);

} // namespace velmora
