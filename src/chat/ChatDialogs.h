#pragma once
// The modal dialogs whose answer the chat logic needs. Everything goes
// through one replaceable object, so tests answer them without a screen.
#include "shortcuts/Canneddata.h"

#include <QString>

#include <functional>

class QWidget;

namespace velmora {

class TOneChatWindow;

class IChatDialogs {
public:
    virtual ~IChatDialogs() = default;
    // The end-of-chat dialog of a customer chat. Nothing waits: `done` gets
    // true later when the operator chose to close the chat window (never
    // after the window is gone). The dialog is modal to its chat window only
    // and leaves the keyboard where the operator is typing.
    virtual void RemoteTerminatedThen(TOneChatWindow &window, std::function<void(bool)> done);
    // The same for the supporter chat window (its own caption), answered
    // before it returns.
    virtual bool SupportChatTerminated(QWidget &window);
    // The image file to send; empty when the operator cancelled.
    virtual QString OpenImageFile(QWidget *parent, const QString &filter);
    // A shortcut from `list`; empty when nothing was chosen.
    virtual QString ChooseShortcut(QWidget *owner, ShortcutMode mode, const QString &col1,
                                   const QString &col2, const TTitleDataClass &list);
};

// The installed dialogs; the real ones unless SetChatDialogs installed others.
IChatDialogs &ChatDialogs();
// Installs `dialogs` (not owned); nullptr restores the real ones.
void SetChatDialogs(IChatDialogs *dialogs);

// Filter of the image file dialog: the formats the visitor's page shows, in
// either letter case.
inline constexpr const char *kImageFileFilter =
    "Image in GIF format (*.gif *.GIF);;Image in JPEG format (*.jpg *.JPG *.jpeg *.JPEG)";

} // namespace velmora
