#include "chat/QuietShow.h"

#include "chat/KeyRedirect.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace velmora {

namespace {

// Long enough for a platform to have acted on the new window, short enough
// that an operator's own click on it is never undone.
constexpr int kGuardMs = 400;
// After this the window may take focus again, so that a window-manager switch
// (Alt+Tab) reaches it; by then no platform activates a window for appearing.
constexpr int kSettleMs = 1500;

// Keeps the keyboard away from `window` until the operator clicks into it:
// the window refuses focus while shown, and a platform that activates it
// anyway right after it appears gives the keyboard back.
class KeyboardKeeper : public QObject {
    Q_OBJECT
public:
    KeyboardKeeper(QWidget *window, QWidget *active, QWidget *focus)
        : QObject(window), m_window(window), m_active(active), m_focus(focus)
    {
        m_clock.start();
        qApp->installEventFilter(this);
        QTimer::singleShot(kSettleMs, this, [this] { AcceptFocus(); });
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!m_window || !watched->isWidgetType())
            return false;
        auto *widget = static_cast<QWidget *>(watched);
        if (widget->window() != m_window)
            return false;
        if (event->type() == QEvent::MouseButtonPress && !m_released) {
            // The operator turned to the window: from now on it may have the keys.
            AcceptFocus();
            m_window->activateWindow();
        } else if (event->type() == QEvent::WindowActivate && widget == m_window && !m_released
                   && m_clock.elapsed() < kGuardMs) {
            QTimer::singleShot(0, this, [this] { GiveBack(); });
        }
        return false;
    }

public:
    void AcceptFocus()
    {
        m_released = true;
        if (!m_window)
            return;
        m_window->setAttribute(Qt::WA_ShowWithoutActivating, false);
        if (QWindow *handle = m_window->windowHandle())
            handle->setFlag(Qt::WindowDoesNotAcceptFocus, false);
        // Done: a window shown again (the chat workspace) gets a keeper of its own.
        deleteLater();
    }

private:
    void GiveBack()
    {
        if (m_released || !m_active || !m_active->isVisible() || QApplication::activeWindow() == m_active)
            return;
        m_active->activateWindow();
        if (m_focus)
            m_focus->setFocus(Qt::OtherFocusReason);
    }

    QPointer<QWidget> m_window;
    QPointer<QWidget> m_active;
    QPointer<QWidget> m_focus;
    QElapsedTimer m_clock;
    bool m_released = false;
};

} // namespace

void KeepKeyboardWhenShown(QWidget *window)
{
    // With none of ours active the operator is in another program, whose
    // keyboard is not ours to take either.
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    QWidget *active = QApplication::activeWindow();
    if (!active || active == window)
        return;
    window->setWindowFlag(Qt::WindowDoesNotAcceptFocus, true);
    new KeyboardKeeper(window, active, QApplication::focusWidget());
}

void TurnTo(QWidget *window, QWidget *focus)
{
    if (!window)
        return;
    if (auto *keeper = window->findChild<KeyboardKeeper *>(QString(), Qt::FindDirectChildrenOnly))
        keeper->AcceptFocus();
    if (window->isMinimized())
        window->showNormal();
    window->raise();
    window->activateWindow();
    if (focus && focus->isEnabled())
        focus->setFocus(Qt::ShortcutFocusReason);
    // Where the compositor refuses the activation, the keys follow anyway.
    if (QApplication::activeWindow() != window)
        RedirectKeysTo(window, focus);
}

} // namespace velmora

#include "QuietShow.moc"
