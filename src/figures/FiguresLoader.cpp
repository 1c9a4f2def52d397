#include "figures/FiguresLoader.h"

#include <QFileInfo>

namespace velmora {

// Lives on the loader's thread with its own connection, opened on first use
// (the writer may still be migrating the file when the console starts).
class TFiguresLoader::Worker : public QObject {
public:
    Worker(QString path, std::shared_ptr<std::atomic<quint64>> latest)
        : m_path(std::move(path)), m_latest(std::move(latest))
    {
    }

    void Run(quint64 request, qint64 from, qint64 to, int targetSeconds, QObject *loader)
    {
        if (request != m_latest->load())
            return;
        TFigures figures;
        if (!m_db.IsOpen() && !QFileInfo::exists(m_path)) {
            // No chat kept yet: nothing to count, nothing wrong.
        } else if (m_db.IsOpen() || m_db.OpenReader(m_path)) {
            figures = ComputeFigures(m_db, from, to, targetSeconds);
        } else {
            figures.Ok = false;
            figures.Error = m_db.LastError();
        }
        figures.From = from;
        figures.To = to;
        figures.TargetSeconds = targetSeconds;
        // A damaged or replaced file is opened afresh next time.
        if (!figures.Ok)
            m_db.Close();
        const auto latest = m_latest;
        QMetaObject::invokeMethod(loader, [loader, latest, request, figures = std::move(figures)] {
            if (request == latest->load())
                emit static_cast<TFiguresLoader *>(loader)->Loaded(figures);
        }, Qt::QueuedConnection);
    }

private:
    const QString m_path;
    std::shared_ptr<std::atomic<quint64>> m_latest;
    TArchiveDb m_db;
};

TFiguresLoader::TFiguresLoader(QString archivePath, QObject *parent)
    : QObject(parent), m_path(std::move(archivePath))
{
    qRegisterMetaType<TFigures>();
    m_thread.setObjectName(QStringLiteral("figures"));
    m_worker = new Worker(m_path, m_latest);
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start();
}

TFiguresLoader::~TFiguresLoader()
{
    // A figure being worked out is not waited for longer than its query.
    m_latest->fetch_add(1);
    m_thread.quit();
    m_thread.wait();
}

void TFiguresLoader::Load(qint64 from, qint64 to, int targetSeconds)
{
    const quint64 request = m_latest->fetch_add(1) + 1;
    Worker *worker = m_worker;
    QObject *loader = this;
    QMetaObject::invokeMethod(m_worker, [worker, request, from, to, targetSeconds, loader] {
        worker->Run(request, from, to, targetSeconds, loader);
    }, Qt::QueuedConnection);
}

} // namespace velmora
