#pragma once
// The console's tray icon: online or offline, blinking while calls wait on
// hold, its hint with the counts, and its menu (connect, disconnect, exit,
// restore, minimize).
#include <QObject>
#include <QTimer>

#include <functional>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace velmora {

class TConsole;

class TConsoleTray : public QObject {
public:
    TConsoleTray(TConsole &console, QWidget *window);

    // What the menu's entries do in the main window.
    std::function<void()> Restore;
    std::function<void()> Minimize;
    std::function<void()> Exit;
    std::function<bool()> MinimizedToTray;

    QSystemTrayIcon *Icon() const { return m_icon; }
    bool Blinking() const { return m_blinkTimer.isActive(); }
    void SetOnline(bool online);
    void SetBlinking(bool on);
    // The hint: the fixed text, the supporter's name when set, then the calls
    // whose alert waits for an answer and the calls on hold.
    static QString TipText(const QString &supporter, int waiting, int onHold);
    void UpdateTip();
    void UpdateMenu();
    // The exit: no more blinking, and the icon goes.
    void Stop();

private:
    void BlinkTimerTimer();

    TConsole &m_console;
    QSystemTrayIcon *m_icon = nullptr;
    QMenu *m_menu = nullptr;
    QAction *m_connect = nullptr;
    QAction *m_disconnect = nullptr;
    QAction *m_restore = nullptr;
    QAction *m_minimize = nullptr;
    QTimer m_blinkTimer;
    bool m_blinkShown = false;
    bool m_online = false;
};

} // namespace velmora
