#pragma once
// The console's tray icon: online or offline, blinking while calls wait on
// hold, its hint with the counts, its menu (connect, disconnect, exit,
// restore, minimize), and the main window hidden in it instead of minimized.
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QMainWindow;

namespace velmora {

class TConsole;

class TConsoleTray : public QObject {
public:
    TConsoleTray(TConsole &console, QMainWindow *window);

    // The menu's "E&xit".
    std::function<void()> Exit;

    // Hides the window in the tray (or minimizes it normally when there is
    // no tray) and shows it again.
    void HideWindow();
    void ShowWindow();
    // Shows the window in front, from the tray or minimized if need be.
    void BringWindowToFront();
    bool WindowHidden() const { return m_hidden; }
    // The window was minimized: it goes to the tray instead, when there is one.
    void WindowStateChanged();
    // The caption a restore puts back.
    void CaptionChanged(const QString &title);

    QSystemTrayIcon *Icon() const { return m_icon; }
    void SetOnline(bool online);
    void SetBlinking(bool on);
    // The hint: the fixed text, the supporter's name when set, then the calls
    // whose alert waits for an answer and the calls on hold.
    static QString TipText(const QString &supporter, int waiting, int onHold);
    // Said once, in the status bar, the first time the window would go to a
    // tray that this desktop does not have (GNOME without an extension, sway).
    static inline const QString kNoTrayText =
        QStringLiteral("This desktop has no system tray: the console is minimized instead, find it in the task bar");
    static constexpr int kNoTrayMs = 15000;
    void UpdateTip();
    void UpdateMenu();
    // The exit: no more blinking, and the icon goes.
    void Stop();

private:
    void BlinkTimerTimer();

    bool TrayShown() const;

    TConsole &m_console;
    QMainWindow *m_window;
    bool m_hidden = false;
    bool m_saidNoTray = false;
    QString m_savedCaption;
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
