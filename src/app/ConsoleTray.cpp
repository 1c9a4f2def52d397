#include "app/ConsoleTray.h"

#include "Resources.h"
#include "app/core/Console.h"
#include "config/Settings.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QStatusBar>
#include <QSystemTrayIcon>

namespace velmora {

TConsoleTray::TConsoleTray(TConsole &console, QMainWindow *window)
    : QObject(window), m_console(console), m_window(window)
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
    connect(m_restore, &QAction::triggered, this, &TConsoleTray::ShowWindow);
    connect(m_minimize, &QAction::triggered, this, &TConsoleTray::HideWindow);
    connect(m_menu, &QMenu::aboutToShow, this, &TConsoleTray::UpdateMenu);
    m_icon->setContextMenu(m_menu);
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && m_hidden)
            ShowWindow();
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
    m_restore->setEnabled(m_hidden);
    m_minimize->setEnabled(!m_hidden);
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
            TipText(Settings().SupportName.trimmed(), calls->AlertsOpen(), calls->CallsOnHold()));
}

bool TConsoleTray::TrayShown() const
{
    return QSystemTrayIcon::isSystemTrayAvailable() && m_icon->isVisible();
}

void TConsoleTray::HideWindow()
{
    if (!TrayShown()) {
        // Without a tray a hidden window could never come back.
        m_window->showMinimized();
        if (!m_saidNoTray) {
            m_saidNoTray = true;
            m_window->statusBar()->showMessage(kNoTrayText, kNoTrayMs);
        }
        return;
    }
    m_savedCaption = m_window->windowTitle();
    m_hidden = true;
    m_window->hide();
}

void TConsoleTray::ShowWindow()
{
    m_hidden = false;
    if (!m_savedCaption.isEmpty())
        m_window->setWindowTitle(m_savedCaption);
    m_window->showNormal();
    m_window->raise();
    m_window->activateWindow();
}

void TConsoleTray::BringWindowToFront()
{
    if (m_hidden) {
        ShowWindow();
        return;
    }
    if (m_window->isMinimized())
        m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void TConsoleTray::WindowStateChanged()
{
    if (!(m_window->windowState() & Qt::WindowMinimized) || m_hidden || !TrayShown())
        return;
    // Hide instead of minimizing; done after the state change settles.
    QTimer::singleShot(0, this, [this] {
        m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
        HideWindow();
    });
}

void TConsoleTray::CaptionChanged(const QString &title)
{
    if (m_hidden)
        m_savedCaption = title;
}

void TConsoleTray::Stop()
{
    m_blinkTimer.stop();
    m_icon->hide();
}

} // namespace velmora
