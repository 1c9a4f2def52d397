#pragma once
// Carries this console's archive into the team archive on a thread of its
// own. The local file stays the first place every line is written; this
// reads it, sends the chats that ended (and, every few seconds, the new
// lines of the running ones) and records in the file what the team
// confirmed, so a crash resends at most what was unconfirmed, and a resend
// changes nothing there. Removals queued in the file go first.
//
// An unreachable server is a state, not an error: the console goes on,
// StatusText() says how many chats wait, and they go when it is back.
#include "team/TeamDb.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace velmora {

class TTeamReplicator : public QObject {
    Q_OBJECT
public:
    // Running chats' new lines go this often; an unreachable server is tried again so often.
    static constexpr int kIntervalMs = 5000;
    static constexpr int kRetryMs = 10000;
    static constexpr int kBatch = 50;

    enum class State { Connecting, Online, Offline, ReadOnly };

    TTeamReplicator(QString archivePath, QString setting, QString schema, QObject *parent = nullptr);
    // Stops the thread: a send under way is cut off, and goes again next time.
    ~TTeamReplicator() override;

    // Something ended or was removed: look now instead of at the next interval.
    void Nudge();
    State CurrentState() const;
    // Chats and removals the team has not confirmed; -1 while not known.
    int Waiting() const;
    // "Team archive: offline, 3 chats waiting" and the like, for the status bar.
    QString StatusText() const;
    // Why the team archive is not online, or a warning about it; empty when all is well.
    QString Problem() const;
    // Waits (blocking: tests and tools only) until a pass found the team online
    // with nothing waiting; false when `ms` passed first.
    bool WaitSettled(int ms);

signals:
    void StatusChanged(const QString &text);

private:
    void Run();
    // One pass: removals, then chats. How many went; -1: the connection was lost.
    int Pass(TTeamDb &team, const QString &console);
    void Publish(State state, int waiting, const QString &problem);

    const QString m_path, m_setting, m_schema;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake, m_passed;
    bool m_stop = false, m_nudged = false;
    State m_state = State::Connecting;
    int m_waiting = -1;
    bool m_insecure = false;
    quint64 m_passes = 0;
    QString m_problem, m_published;
    std::atomic<bool> m_cancel{false};
    QString m_refusal; // the worker's: why the team refused a chat in this pass
    TTeamDb *m_team = nullptr; // the worker's, for cutting a send off at exit
    std::thread m_worker;
};

} // namespace velmora
