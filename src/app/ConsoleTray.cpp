#include "app/ConsoleTray.h"

#include "Resources.h"
#include "app/NewCnctDlg.h"
#include "app/core/Console.h"
#include "config/Settings.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>

namespace velmora {

TConsoleTray::TConsoleTray(TConsole &console, QWidget *window) : QObject(window), m_console(console)
{
    m_icon = new QSystemTrayIcon(window);
    m_icon->setIcon(StatusIcon(TrayOfflineIcon));
    m_menu = new QMenu(window);
    m_connect = m_menu->addAction(QStringLiteral("&Connect"));
    m_disconnect = m_menu->addAction(QStringLiteral("&Disconnect"));
    m_menu->addSeparator();
    QAction *exit = m_menu->addAction(QStringLiteral("E&xit"));
    m_menu->addSeparator();
    m_restore = m_menu->addAction(QStringLiteral("&Restore"));
    m_minimize = m_menu->addAction(QStringLiteral("&Minimize"));
    auto toggle = [this] {
        if (TServerSession *session = m_console.SessionPtr())
            session->ToggleConnection();
    };
    connect(m_connect, &QAction::triggered, this, toggle);
    connect(m_disconnect, &QAction::triggered, this, toggle);
    connect(exit, &QAction::triggered, this, [this] { Exit(); });
    connect(m_restore, &QAction::triggered, this, [this] { Restore(); });
    connect(m_minimize, &QAction::triggered, this, [this] { Minimize(); });
    connect(m_menu, &QMenu::aboutToShow, this, &TConsoleTray::UpdateMenu);
    m_icon->setContextMenu(m_menu);
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && MinimizedToTray())
            Restore();
    });
    m_blinkTimer.setInterval(600);
    connect(&m_blinkTimer, &QTimer::timeout, this, &TConsoleTray::BlinkTimerTimer);
    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_icon->show();
}

void TConsoleTray::UpdateMenu()
{
    const TServerSession *session = m_console.SessionPtr();
    if (!session)
        return;
    const bool reconnecting = session->ReconnectRunning();
    if (session->ConnectRequested()) {
        m_connect->setEnabled(false);
        m_disconnect->setEnabled(!reconnecting);
    } else {
        m_disconnect->setEnabled(false);
        m_connect->setEnabled(!reconnecting);
    }
    const bool hidden = MinimizedToTray();
    m_restore->setEnabled(hidden);
    m_minimize->setEnabled(!hidden);
}

void TConsoleTray::SetOnline(bool online)
{
    m_online = online;
    if (!m_blinkTimer.isActive())
        m_icon->setIcon(StatusIcon(online ? TrayOnlineIcon : TrayOfflineIcon));
}

void TConsoleTray::SetBlinking(bool on)
{
    if (on) {
        if (!m_blinkTimer.isActive())
            m_blinkTimer.start();
        return;
    }
    m_blinkTimer.stop();
    m_icon->setIcon(StatusIcon(m_online ? TrayOnlineIcon : TrayOfflineIcon));
}

void TConsoleTray::BlinkTimerTimer()
{
    m_blinkShown = !m_blinkShown;
    m_icon->setIcon(m_blinkShown ? StatusIcon(WaitingIcon) : QIcon());
}

QString TConsoleTray::TipText(const QString &supporter, int waiting, int onHold)
{
    QString tip = QStringLiteral("KORVA Support, right click to open the pop-up  menu.");
    if (!supporter.isEmpty())
        tip += QStringLiteral("\nSupporter: ") + supporter;
    return tip + QStringLiteral("\nCalls waiting: %1, on hold: %2").arg(waiting).arg(onHold);
}

void TConsoleTray::UpdateTip()
{
    if (const TCalls *calls = m_console.CallsPtr())
        m_icon->setToolTip(
            TipText(Settings().SupportName.trimmed(), TNewCnctDlg::AlertsShown(), calls->CallsOnHold()));
}

void TConsoleTray::Stop()
{
    m_blinkTimer.stop();
    m_icon->hide();
}

} // namespace velmora
