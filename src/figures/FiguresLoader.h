#pragma once
// Works the figures out on a thread of its own, so a year of chats never
// holds up the GUI: Load() returns at once, Loaded() arrives on the caller's
// thread. A newer Load() makes the older ones moot: they are skipped if not
// begun, and their results dropped.
#include "figures/Figures.h"

#include <QObject>
#include <QThread>

#include <atomic>
#include <memory>

namespace velmora {

class TFiguresLoader : public QObject {
    Q_OBJECT
public:
    explicit TFiguresLoader(QString archivePath, QObject *parent = nullptr);
    ~TFiguresLoader() override;

    void Load(qint64 from, qint64 to, int targetSeconds);

signals:
    void Loaded(const velmora::TFigures &figures);

private:
    class Worker;
    const QString m_path;
    QThread m_thread;
    Worker *m_worker = nullptr;
    std::shared_ptr<std::atomic<quint64>> m_latest = std::make_shared<std::atomic<quint64>>(0);
};

} // namespace velmora

Q_DECLARE_METATYPE(velmora::TFigures)
