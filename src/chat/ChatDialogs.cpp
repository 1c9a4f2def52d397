#include "chat/ChatDialogs.h"

#include "chat/OneChatWindow.h"
#include "chat/RemoteClientTerminatedDlg.h"
#include "shortcuts/ui/ShortcutDispDlg.h"

#include <QFileDialog>
#include <QPointer>

namespace velmora {

namespace {
IChatDialogs g_realDialogs;
IChatDialogs *g_dialogs = nullptr;
} // namespace

// The dialogs live on the heap: the window they belong to may be closed and
// destroyed while they run (the main window takes a chat down), and then takes
// them along instead of deleting an object on this stack.
namespace {
bool RunEndOfChatDialog(QWidget &window, int number, const QString &caption = QString())
{
    QPointer<TRemoteClientTerminatedDlg> dialog = new TRemoteClientTerminatedDlg(&window, number);
    if (!caption.isEmpty())
        dialog->setWindowTitle(caption);
    dialog->exec();
    if (!dialog)
        return false;
    const bool close = dialog->CloseChosen();
    delete dialog.data();
    return close;
}
} // namespace

bool IChatDialogs::SupportChatTerminated(QWidget &window)
{
    return RunEndOfChatDialog(window, 0, QStringLiteral(" Warning Support Chat window "));
}

void IChatDialogs::RemoteTerminatedThen(TOneChatWindow &window, std::function<void(bool)> done)
{
    // Owned by the chat window: a window that goes takes its dialog along,
    // and then `done` is never called.
    auto *dialog = new TRemoteClientTerminatedDlg(&window, window.Number());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QDialog::finished, &window,
                     [dialog, done = std::move(done)](int) { done(dialog->CloseChosen()); });
    // Modal to a chat's own window only: in a tab it would hold up every other chat.
    if (window.isWindow())
        dialog->open();
    else
        dialog->show();
}

QString IChatDialogs::OpenImageFile(QWidget *parent, const QString &filter)
{
    QPointer<QFileDialog> dialog = new QFileDialog(parent, QString(), QString(), filter);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    const int result = dialog->exec();
    if (!dialog)
        return {};
    const QStringList files = dialog->selectedFiles();
    delete dialog.data();
    return result == QDialog::Accepted && !files.isEmpty() ? files.first() : QString();
}

QString IChatDialogs::ChooseShortcut(QWidget *owner, ShortcutMode mode, const QString &col1, const QString &col2,
                                     const TTitleDataClass &list)
{
    return TShortcutDispDlg::Choose(owner, mode, col1, col2, list);
}

IChatDialogs &ChatDialogs()
{
    return g_dialogs ? *g_dialogs : g_realDialogs;
}

void SetChatDialogs(IChatDialogs *dialogs)
{
    g_dialogs = dialogs;
}

} // namespace velmora
