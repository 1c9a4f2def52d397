#include "app/ConsoleKeys.h"

#include "app/HelpWindow.h"
#include "chat/ChatProperties.h"
#include "chat/ChatWorkspace.h"
#include "chat/QuietShow.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMainWindow>
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

QList<QWidget *> TConsoleKeys::CycleWindows()
{
    // Chat windows say what they are by properties, so that the keys need
    // no knowledge of their classes.
    QList<QWidget *> main;
    QList<QWidget *> supporters;
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (!top->isVisible())
            continue;
        // A workspace's tabs count as windows of their own.
        const auto *workspace = qobject_cast<TChatWorkspace *>(top);
        for (QWidget *w : workspace ? workspace->Chats() : QList<QWidget *>{top}) {
            if (w->property(kChatNumberProperty).isValid())
                continue;
            if (w->property(kSupporterChatProperty).toBool())
                supporters << w;
            else if (qobject_cast<QMainWindow *>(w))
                main << w;
        }
    }
    return main + OpenChats() + supporters;
}

void TConsoleKeys::Cycle(bool forward)
{
    const QList<QWidget *> windows = CycleWindows();
    if (windows.isEmpty())
        return;
    QWidget *active = QApplication::activeWindow();
    if (const auto *workspace = qobject_cast<TChatWorkspace *>(active))
        active = workspace->CurrentChat();
    const qsizetype at = windows.indexOf(active);
    const qsizetype n = windows.size();
    const qsizetype next = at < 0 ? 0 : (at + (forward ? 1 : n - 1)) % n;
    TurnToChat(windows[next]);
}

bool TConsoleKeys::GoToChat(int key)
{
    // Chat numbers run on all session: the digits go by the order of the
    // chats open now, never by their numbers.
    const QList<QWidget *> chats = OpenChats();
    if (key < 1 || key > kChatKeys || key > chats.size())
        return false;
    TurnToChat(chats[key - 1]);
    return true;
}

bool TConsoleKeys::eventFilter(QObject *watched, QEvent *event)
{
    // The keys are taken where they first arrive, so no parent sees them again.
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    auto *key = static_cast<QKeyEvent *>(event);
    auto *target = static_cast<QWidget *>(watched);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if (key->key() == Qt::Key_F1 && mods == Qt::NoModifier) {
        const QWidget *from = QApplication::focusWidget() ? QApplication::focusWidget() : target;
        const int context = HelpContextOf(from);
        if (ShowHelp)
            ShowHelp(context > 0 ? context : THelpWindow::ContentsContext);
        return true;
    }
    if (mods == (Qt::ControlModifier | Qt::AltModifier)) {
        const std::function<void()> *action = nullptr;
        if (key->key() == Qt::Key_A)
            action = &AcceptNewestCall;
        else if (key->key() == Qt::Key_H)
            action = &HoldNewestCall;
        else if (key->key() == Qt::Key_N)
            action = &TurnToNewestAlert;
        if (action && *action) {
            (*action)();
            return true;
        }
        return false;
    }
    // A modal dialog (the settings' pages) keeps Ctrl+Tab for itself.
    if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) && (mods & Qt::ControlModifier)
        && !(mods & Qt::AltModifier) && !QApplication::activeModalWidget()) {
        Cycle(key->key() == Qt::Key_Tab && !(mods & Qt::ShiftModifier));
        return true;
    }
    if (mods == Qt::AltModifier && key->key() >= Qt::Key_1 && key->key() <= Qt::Key_9)
        return GoToChat(key->key() - Qt::Key_0);
    return false;
}

} // namespace velmora
