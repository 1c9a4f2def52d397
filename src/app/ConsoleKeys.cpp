#include "app/ConsoleKeys.h"

#include "app/HelpWindow.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace velmora {

TConsoleKeys::TConsoleKeys(QObject *parent) : QObject(parent)
{
    ShowHelp = [](int context) { THelpWindow::ShowHelpContext(context); };
    qApp->installEventFilter(this);
}

TConsoleKeys::~TConsoleKeys()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

int TConsoleKeys::HelpContextOf(const QWidget *widget)
{
    for (const QWidget *w = widget; w; w = w->parentWidget()) {
        bool ok = false;
        const int context = w->property("helpContext").toInt(&ok);
        if (ok && context > 0)
            return context;
    }
    return 0;
}

bool TConsoleKeys::eventFilter(QObject *watched, QEvent *event)
{
    // Both keys are taken where they first arrive, so no parent sees them again.
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    auto *key = static_cast<QKeyEvent *>(event);
    auto *target = static_cast<QWidget *>(watched);
    if (key->key() == Qt::Key_F1 && key->modifiers() == Qt::NoModifier) {
        const QWidget *from = QApplication::focusWidget() ? QApplication::focusWidget() : target;
        const int context = HelpContextOf(from);
        if (ShowHelp)
            ShowHelp(context > 0 ? context : THelpWindow::ContentsContext);
        return true;
    }
    if (key->key() == Qt::Key_A && (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))
                                       == (Qt::ControlModifier | Qt::AltModifier)
        && !(key->modifiers() & Qt::ShiftModifier)) {
        if (AcceptNewestCall) {
            AcceptNewestCall();
            return true;
        }
    }
    return false;
}

} // namespace velmora
