#include "chat/KeyRedirect.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include <memory>
#include <optional>

namespace velmora {

namespace {

std::optional<bool> g_enabled;

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
            const std::unique_ptr<QEvent> copy(event->clone());
            QCoreApplication::sendEvent(target, copy.get());
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
