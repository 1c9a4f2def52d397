#include "team/TeamReplicator.h"

#include "archive/ArchiveTeamQueue.h"

#include <QMetaObject>

#include <chrono>

#include <pthread.h>

namespace velmora {

TTeamReplicator::TTeamReplicator(QString archivePath, QString setting, QString schema, QObject *parent)
    : QObject(parent), m_path(std::move(archivePath)), m_setting(std::move(setting)), m_schema(std::move(schema))
{
    m_worker = std::thread([this] { Run(); });
}

TTeamReplicator::~TTeamReplicator()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_cancel = true;
        if (m_team)
            m_team->Interrupt();
    }
    m_wake.notify_all();
    m_worker.join();
}

void TTeamReplicator::Nudge()
{
    {
        std::lock_guard lock(m_mutex);
        m_nudged = true;
    }
    m_wake.notify_all();
}

TTeamReplicator::State TTeamReplicator::CurrentState() const
{
    std::lock_guard lock(m_mutex);
    return m_state;
}

int TTeamReplicator::Waiting() const
{
    std::lock_guard lock(m_mutex);
    return m_waiting;
}

QString TTeamReplicator::Problem() const
{
    std::lock_guard lock(m_mutex);
    return m_problem;
}

QString TTeamReplicator::StatusText() const
{
    std::lock_guard lock(m_mutex);
    const QString waiting = m_waiting == 1 ? QStringLiteral("1 chat waiting")
                                           : QStringLiteral("%1 chats waiting").arg(qMax(0, m_waiting));
    switch (m_state) {
    case State::Connecting:
        return QStringLiteral("Team archive: connecting");
    case State::Online:
        // Visitors' words crossing a network in the clear are worth a word in the status bar.
        if (m_insecure)
            return QStringLiteral("Team archive: online, NOT ENCRYPTED");
        return m_waiting > 0 ? QStringLiteral("Team archive: sending, ") + waiting : QStringLiteral("Team archive: online");
    case State::Offline:
        return QStringLiteral("Team archive: offline, ") + waiting;
    case State::ReadOnly:
        return QStringLiteral("Team archive: read only (set up by a newer version)");
    }
    return QString();
}

bool TTeamReplicator::WaitSettled(int ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock lock(m_mutex);
    for (;;) {
        const quint64 seen = m_passes;
        m_nudged = true;
        m_wake.notify_all();
        if (!m_passed.wait_until(lock, until, [&] { return m_passes > seen || m_stop; }))
            return false;
        // A pass that began before the call may have missed what was written
        // just before it: only a pass begun after counts.
        const quint64 after = m_passes;
        m_nudged = true;
        m_wake.notify_all();
        if (!m_passed.wait_until(lock, until, [&] { return m_passes > after || m_stop; }))
            return false;
        if (m_state == State::Online && m_waiting == 0)
            return true;
    }
}

void TTeamReplicator::Publish(State state, int waiting, const QString &problem)
{
    {
        std::lock_guard lock(m_mutex);
        m_state = state;
        m_waiting = waiting;
        m_problem = problem;
        ++m_passes;
    }
    m_passed.notify_all();
    const QString text = StatusText();
    std::lock_guard lock(m_mutex);
    if (text != m_published) {
        m_published = text;
        QMetaObject::invokeMethod(this, [this, text] { emit StatusChanged(text); }, Qt::QueuedConnection);
    }
}

int TTeamReplicator::Pass(TTeamDb &team, const QString &console)
{
    TArchiveDb local;
    if (!local.OpenReader(m_path, 2000))
        return 0;
    TArchiveTeamQueue queue(local);
    // A server gone quiet shows as offline even while nothing waits.
    if (!team.Ping())
        return -1;
    int done = 0;
    for (const TTeamRemoval &removal : queue.Removals(kBatch)) {
        if (m_cancel)
            return done;
        if (!team.Remove(console, removal))
            return team.Lost() ? -1 : done;
        done += queue.RemovalDone(removal.Id) ? 1 : 0;
    }
    for (qint64 chat : queue.Pending(kBatch)) {
        if (m_cancel)
            return done;
        const std::optional<TTeamUnsent> unsent = queue.Unsent(chat);
        if (!unsent)
            continue;
        if (!team.Send(console, *unsent)) {
            if (team.Lost())
                return -1;
            m_refusal = team.LastError();
            continue; // refused: tried again next pass, the others go on
        }
        // A kill here resends the chat next time; the team keeps one copy.
        done += queue.Confirm(chat, unsent->LastLine, unsent->Final) ? 1 : 0;
    }
    return done;
}

void TTeamReplicator::Run()
{
    pthread_setname_np(pthread_self(), "team-send");
    TTeamDb team;
    team.Cancelled = [this] { return m_cancel.load(); };
    {
        std::lock_guard lock(m_mutex);
        m_team = &team;
    }
    auto nextTry = std::chrono::steady_clock::now();
    QString problem;
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stop)
                break;
            m_nudged = false;
        }
        // The console's name lives in the file: a file started afresh is a new console.
        QString console;
        int waiting = -1;
        {
            TArchiveDb local;
            if (local.OpenReader(m_path, 2000)) {
                TArchiveTeamQueue queue(local);
                console = queue.Identity();
            }
        }
        bool more = false;

        if (!team.IsOpen() && std::chrono::steady_clock::now() >= nextTry) {
            if (!team.Open(m_setting, m_schema))
                problem = team.LastError(), nextTry = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRetryMs);
            else
                problem = team.RemoteWithoutTls()
                              ? QStringLiteral("The team archive is on another machine and the connection is not "
                                               "encrypted (set sslmode=verify-full).")
                              : (team.ReadOnly() ? team.LastError() : QString());
        }
        if (team.IsOpen() && !team.ReadOnly() && !console.isEmpty()) {
            m_refusal.clear();
            const int done = Pass(team, console);
            // A full batch went: the rest follows at once.
            more = done >= kBatch;
            if (done < 0) {
                problem = team.LastError();
                team.Close();
                nextTry = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRetryMs);
            }
        }
        {
            TArchiveDb local;
            if (local.OpenReader(m_path, 2000)) {
                TArchiveTeamQueue queue(local);
                waiting = queue.Waiting();
            }
        }
        State state = State::Offline;
        if (team.IsOpen())
            state = team.ReadOnly() ? State::ReadOnly : State::Online;
        if (team.ReadOnly() && problem.isEmpty())
            problem = QStringLiteral("The team archive was set up by a newer version of the console (schema %1): "
                                     "this one reads it and sends nothing.")
                          .arg(team.ServerSchemaVersion());
        {
            std::lock_guard lock(m_mutex);
            m_insecure = team.IsOpen() && team.RemoteWithoutTls();
        }
        Publish(state, waiting, m_refusal.isEmpty() ? problem : m_refusal);
        std::unique_lock lock(m_mutex);
        if (more && !m_stop)
            continue;
        m_wake.wait_for(lock, std::chrono::milliseconds(kIntervalMs), [this] { return m_stop || m_nudged; });
    }
    std::lock_guard lock(m_mutex);
    m_team = nullptr;
}

} // namespace velmora
