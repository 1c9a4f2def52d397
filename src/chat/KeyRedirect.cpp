#include "chat/KeyRedirect.h"

#include <QApplication>
#include <QKeyEvent>
#include <QShortcut>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include <memory>
#include <optional>

namespace velmora {

namespace {

std::optional<bool> g_enabled;

// Whether a shortcut of `owner` in `context` applies with the keys in `target`.
bool Applies(const QWidget *owner, Qt::ShortcutContext context, const QWidget *target)
{
    if (!owner || !owner->isVisible() || !owner->isEnabled())
        return false;
    switch (context) {
    case Qt::WidgetShortcut:
        return owner == target;
    case Qt::WidgetWithChildrenShortcut:
        return owner == target || owner->isAncestorOf(target);
    default:
        return owner->window() == target->window();
    }
}

bool RunShortcut(QWidget *target, const QKeyEvent *key)
{
    if (key->type() != QEvent::KeyPress || !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
        return false;
    const QKeySequence pressed(QKeyCombination(key->modifiers() & ~Qt::KeypadModifier, Qt::Key(key->key())));
    QWidget *window = target->window();
    for (QShortcut *shortcut : window->findChildren<QShortcut *>()) {
        if (shortcut->isEnabled() && shortcut->keys().contains(pressed)
            && Applies(qobject_cast<QWidget *>(shortcut->parent()), shortcut->context(), target)) {
            emit shortcut->activated();
            return true;
        }
    }
    return false;
}

class KeyRedirector final : public QObject {
public:
    explicit KeyRedirector(QObject *parent) : QObject(parent) { qApp->installEventFilter(this); }

    void Set(QWidget *window, QWidget *focus)
    {
        m_window = window;
        m_focus = focus;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!m_window)
            return false;
        switch (event->type()) {
        case QEvent::WindowActivate:
            // Activated at last (or another window, by the operator's own
            // doing): the compositor's keyboard is right again.
            if (watched->isWidgetType())
                Clear();
            return false;
        case QEvent::MouseButtonPress:
            Clear();
            return false;
        case QEvent::ShortcutOverride: {
            // Asked before a key's shortcut runs in the window that has the
            // keys: a key that goes on to the chat must not run one there.
            QWidget *target = m_focus && m_focus->isEnabled() ? m_focus.data() : m_window.data();
            if (!watched->isWidgetType() || !target->isVisible()
                || static_cast<QWidget *>(watched)->window() == m_window->window())
                return false;
            event->accept();
            return true;
        }
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            if (!watched->isWidgetType() || !event->spontaneous())
                return false;
            auto *widget = static_cast<QWidget *>(watched);
            QWidget *target = m_focus && m_focus->isEnabled() ? m_focus.data() : m_window.data();
            if (!target->isVisible()) {
                Clear();
                return false;
            }
            if (widget->window() == m_window->window())
                return false;
            PassKeyOn(target, static_cast<QKeyEvent *>(event));
            return true;
        }
        default:
            return false;
        }
    }

private:
    void Clear()
    {
        m_window = nullptr;
        m_focus = nullptr;
    }

    QPointer<QWidget> m_window;
    QPointer<QWidget> m_focus;
};

bool Enabled()
{
    if (!g_enabled)
        g_enabled = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    return *g_enabled;
}

} // namespace

void PassKeyOn(QWidget *target, const QKeyEvent *key)
{
    if (RunShortcut(target, key))
        return;
    const std::unique_ptr<QKeyEvent> copy(key->clone());
    QCoreApplication::sendEvent(target, copy.get());
}

void SetKeyRedirectEnabled(bool enabled)
{
    g_enabled = enabled;
}

void RedirectKeysTo(QWidget *window, QWidget *focus)
{
    if (!Enabled() || !window)
        return;
    static QPointer<KeyRedirector> redirector;
    if (!redirector)
        redirector = new KeyRedirector(qApp);
    redirector->Set(window, focus);
}

} // namespace velmora
