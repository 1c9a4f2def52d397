#include "chat/ChatDialogs.h"

#include "chat/OneChatWindow.h"
#include "chat/RemoteClientTerminatedDlg.h"
#include "shortcuts/ShortcutDispDlg.h"

#include <QFileDialog>

namespace velmora {

namespace {
IChatDialogs g_realDialogs;
IChatDialogs *g_dialogs = nullptr;
} // namespace

bool IChatDialogs::RemoteTerminated(TOneChatWindow &window)
{
    TRemoteClientTerminatedDlg dialog(&window, window.Number());
    dialog.exec();
    return dialog.CloseChosen();
}

QString IChatDialogs::OpenImageFile(QWidget *parent, const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, QString(), QString(), filter);
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
