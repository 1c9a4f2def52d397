#pragma once
// X11 desktops, Xvfb included: the idle time kept by the X server's
// screensaver extension, on a display connection of our own.
#include "idle/PollingMonitor.h"

#include <QByteArray>

#include <optional>

namespace velmora {

class TX11IdleMonitor final : public TPollingMonitor {
    Q_OBJECT
public:
    // An empty display name means the desktop's own display.
    explicit TX11IdleMonitor(const QByteArray &displayName = {}, QObject *parent = nullptr);
    ~TX11IdleMonitor() override;

    QString Name() const override { return QStringLiteral("X11 screensaver extension"); }
    bool Install(QString *reason) override;
    void Remove() override;
    quint32 LastInputTick() override { return LastInputFromIdle(); }

protected:
    std::optional<quint32> IdleMs() override;

private:
    QByteArray m_displayName;
    struct Private;
    Private *d = nullptr;
};

} // namespace velmora
