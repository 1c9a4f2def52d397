#include "chat/QuietShow.h"

#include "chat/KeyRedirect.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
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
// A key in a message box this recent means the operator is still typing.
constexpr int kTypingPauseMs = 2000;

QElapsedTimer g_lastTyped;

// Notes the time of every key that goes into a message box; the keys of the
// console's own shortcuts (Ctrl, Alt) are no typing.
class TypingWatch : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const auto *key = static_cast<QKeyEvent *>(event);
            if (!(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
                g_lastTyped.start();
        }
        return false;
    }
};

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
        } else if (event->type() == QEvent::WindowActivate && widget == m_window && !m_released) {
            if (m_clock.elapsed() < kGuardMs)
                QTimer::singleShot(0, this, [this] { GiveBack(); });
            else
                AcceptFocus(); // the operator turned to it (the window manager's switch)
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

bool OperatorTypingInChat()
{
    if (g_lastTyped.isValid() && g_lastTyped.elapsed() < kTypingPauseMs)
        return true;
    const auto *input = qobject_cast<QPlainTextEdit *>(QApplication::focusWidget());
    return input && input->objectName() == QLatin1String("InputText") && !input->toPlainText().trimmed().isEmpty();
}

void WatchTyping(QWidget *input)
{
    static auto *watch = new TypingWatch(qApp);
    input->installEventFilter(watch);
}

} // namespace velmora

#include "QuietShow.moc"
