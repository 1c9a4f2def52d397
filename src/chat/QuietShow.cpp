#include "chat/QuietShow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace velmora {

namespace {

// Long enough for any window manager to have acted on the new window, short
// enough that an operator's own click on it is never undone.
constexpr int kGuardMs = 400;

class KeyboardKeeper : public QObject {
public:
    KeyboardKeeper(QWidget *window, QWidget *active, QWidget *focus)
        : QObject(window), m_window(window), m_active(active), m_focus(focus)
    {
        m_clock.start();
        window->installEventFilter(this);
        QTimer::singleShot(kGuardMs, this, [this] { deleteLater(); });
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window && event->type() == QEvent::WindowActivate && m_clock.elapsed() < kGuardMs)
            QTimer::singleShot(0, this, [this] { GiveBack(); });
        return false;
    }

private:
    void GiveBack()
    {
        if (!m_active || !m_active->isVisible() || QApplication::activeWindow() == m_active)
            return;
        m_active->activateWindow();
        if (m_focus)
            m_focus->setFocus(Qt::OtherFocusReason);
    }

    QPointer<QWidget> m_window;
    QPointer<QWidget> m_active;
    QPointer<QWidget> m_focus;
    QElapsedTimer m_clock;
};

} // namespace

void KeepKeyboardWhenShown(QWidget *window)
{
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    QWidget *active = QApplication::activeWindow();
    if (!active || active == window)
        return;
    new KeyboardKeeper(window, active, QApplication::focusWidget());
}

} // namespace velmora
