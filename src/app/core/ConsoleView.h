#pragma once
// What the console core needs of its main window: everything that shows
// something or asks the operator. The core owns the logic and calls these;
// a window (or a test's fake) implements them. The calls' side (alerts,
// sounds, the tray's blinking, chat windows) is ICallsHost's.
#include "config/FileHistory.h"
#include "diag/Boxes.h"
#include "session/Calls.h"
#include "session/ServerSession.h"

#include <QByteArray>
#include <QString>
#include <QVector>

namespace velmora {

class TProgramConfig;
struct TSettings;

class IConsoleView : public ICallsHost, public IHistoryMenu {
public:
    // The connection's indicators and counters.
    virtual void ShowStatusText(const QString & /*text*/) {}
    // The login was refused: besides the status bar, a desktop notice.
    virtual void ShowLoginRefused(const QString & /*text*/) {}
    virtual void SetOnlineGlyph(bool /*online*/) {}
    virtual void SetMenusEnabled(bool /*enabled*/) {}
    virtual void SetChatWithOtherSupportEnabled(bool /*enabled*/) {}
    virtual void SetBusyAnimation(bool /*running*/) {}
    virtual void SetTrayOnline(bool /*online*/) {}
    virtual void SetSupportersOnline(int /*count*/) {}
    virtual void SetChatLimit(int /*limit*/) {}
    // What the logic has to tell the operator; the view decides how to show
    // it. A problem waits to be seen, a notice holds nothing up.
    virtual void ShowProblem(const QString & /*text*/, const QString & /*caption*/, BoxIcon /*icon*/) {}
    virtual void ShowNotice(const QString & /*text*/, const QString & /*caption*/, BoxIcon /*icon*/) {}
    // A question whose answer the logic needs; without anyone to ask, the
    // first button.
    virtual BoxAnswer Ask(const BoxRequest &request)
    {
        return request.buttons == BoxButtons::YesNo ? BoxAnswer::Yes : BoxAnswer::Ok;
    }
    // The transcript queue's counts changed.
    virtual void MailWaitingChanged() {}
    // "Team archive: offline, 3 chats waiting"; empty while there is none.
    virtual void ShowTeamArchiveStatus(const QString & /*text*/) {}
    // The settings were read: the parts only a window shows (indicators, the
    // chat windows' size, the main sound).
    virtual void SettingsRead(const TSettings & /*settings*/) {}
    // The settings file in use changed: the caption names it.
    virtual void ConfigFileChanged(const QString & /*path*/) {}
    // The archive was turned off: may what it keeps go too?
    virtual bool ConfirmArchiveRemoval() { return false; }

    // A supporter was chosen for a chat of the operator's own.
    virtual void OpenSupporterChat(qint32 /*port*/, const QString & /*name*/) {}

    // The exit.
    // A modal window runs its own event loop: the exit must not free what
    // its opener still uses, so it waits until none is open.
    virtual bool ModalWindowOpen() const { return false; }
    // A forced exit answers the open alerts and modal windows (Cancel).
    virtual void AnswerModalWindows(bool alertsToo) { (void)alertsToo; }
    // Ok goes on with the exit, anything else cancels it.
    virtual bool ConfirmExit(const QString & /*text*/) { return true; }
    // Waiting alerts are answered by the exit: their calls are not taken on.
    virtual void RejectCallAlerts() {}
    // Where the chat windows were, for the next run.
    virtual void SaveWindowPlaces(TProgramConfig & /*config*/) {}
    // Every chat window closes, its conversation going out as when closed by hand.
    virtual void CloseChatWindows() {}
    // Clocks, blinking and the tray stop; what shows the calls and the mail
    // queue goes before them.
    virtual void ExitFinishing() {}
};

} // namespace velmora
