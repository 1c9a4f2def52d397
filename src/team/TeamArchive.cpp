#include "team/TeamArchive.h"

#include "team/TeamReplicator.h"

#include <QCoreApplication>
#include <QThread>

#include <pthread.h>

namespace velmora {
namespace {
TTeamArchive *g_teamArchive = nullptr;
} // namespace

TTeamArchive *TeamArchive() { return g_teamArchive; }
void SetTeamArchive(TTeamArchive *team) { g_teamArchive = team; }

TTeamArchive::TTeamArchive(QString archivePath, QObject *parent) : QObject(parent), m_path(std::move(archivePath)) {}

TTeamArchive::~TTeamArchive()
{
    StopReader();
    m_replicator.reset();
    if (g_teamArchive == this)
        g_teamArchive = nullptr;
}

void TTeamArchive::StopReader()
{
    if (!m_reader)
        return;
    {
        std::lock_guard lock(m_reader->Mutex);
        m_reader->Stop = true;
        if (m_reader->Db)
            m_reader->Db->Interrupt();
    }
    m_reader->Wake.notify_all();
    m_reader->Thread.join();
    m_reader.reset();
}

void TTeamArchive::Configure(const QString &setting, const QString &schema)
{
    if (setting == m_setting && schema == m_schema && (m_replicator || !Enabled()))
        return;
    m_setting = setting;
    m_schema = schema;
    m_replicator.reset();
    StopReader();
    if (!Enabled()) {
        if (!m_status.isEmpty())
            emit StatusChanged(m_status = QString());
        return;
    }
    m_replicator = std::make_unique<TTeamReplicator>(m_path, m_setting, m_schema);
    connect(m_replicator.get(), &TTeamReplicator::StatusChanged, this, [this](const QString &text) {
        m_status = text;
        emit StatusChanged(text);
    });
    m_reader = std::make_unique<Reader>();
    m_reader->Thread = std::thread([this, reader = m_reader.get(), setting = m_setting, schema = m_schema] {
        pthread_setname_np(pthread_self(), "team-read");
        TTeamDb db;
        db.Cancelled = [reader] {
            std::lock_guard lock(reader->Mutex);
            return reader->Stop;
        };
        {
            std::lock_guard lock(reader->Mutex);
            reader->Db = &db;
        }
        for (;;) {
            std::pair<QPointer<QObject>, Work> job;
            {
                std::unique_lock lock(reader->Mutex);
                reader->Wake.wait(lock, [reader] { return reader->Stop || !reader->Queue.empty(); });
                if (reader->Stop) {
                    reader->Db = nullptr;
                    return;
                }
                job = std::move(reader->Queue.front());
                reader->Queue.pop_front();
            }
            if (db.IsOpen() && db.Lost())
                db.Close();
            if (!db.IsOpen())
                db.Open(setting, schema);
            std::function<void()> answer = job.second(db.IsOpen() ? &db : nullptr);
            QMetaObject::invokeMethod(
                this, [context = job.first, answer = std::move(answer)] {
                    if (context && answer)
                        answer();
                },
                Qt::QueuedConnection);
        }
    });
}

QString TTeamArchive::Problem() const { return m_replicator ? m_replicator->Problem() : QString(); }

void TTeamArchive::Nudge()
{
    if (m_replicator)
        m_replicator->Nudge();
}

void TTeamArchive::Read(QObject *context, Work work)
{
    if (!m_reader)
        return;
    {
        std::lock_guard lock(m_reader->Mutex);
        // Only the newest read of a window matters: an older one not begun is dropped.
        std::erase_if(m_reader->Queue, [context](const auto &job) { return job.first == context; });
        m_reader->Queue.emplace_back(QPointer<QObject>(context), std::move(work));
    }
    m_reader->Wake.notify_all();
}

void TTeamArchive::TestConnection(QObject *context, const QString &setting, const QString &schema,
                                  std::function<void(const QString &, bool)> done)
{
    QThread *thread = QThread::create([guard = QPointer<QObject>(context), setting, schema, done] {
        TTeamDb db;
        QString result;
        bool ok = db.Open(setting, schema);
        if (!ok)
            result = db.LastError();
        else if (db.ReadOnly())
            result = QStringLiteral("Connected. The team archive was set up by a newer version (schema %1): this "
                                    "console will only read it.")
                         .arg(db.ServerSchemaVersion());
        else if (db.RemoteWithoutTls())
            result = QStringLiteral("Connected, but without encryption to another machine: set sslmode=verify-full.");
        else
            result = QStringLiteral("Connected. The team archive is ready.");
        QMetaObject::invokeMethod(
            qApp, [guard, done, result, ok] {
                if (guard)
                    done(result, ok);
            },
            Qt::QueuedConnection);
    });
    thread->setObjectName(QStringLiteral("Team archive test"));
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

} // namespace velmora
