#pragma once
// Keys that work in every window of the console, whichever has the focus:
// F1 opens help at the page of the window (or control) in focus;
// Ctrl+Alt+A accepts the newest call whose alert is waiting, Ctrl+Alt+H puts
// it on hold and Ctrl+Alt+N brings its alert to the front with the keyboard;
// Ctrl+Tab and Ctrl+Shift+Tab go round the main window and the open chats,
// and Alt+1 ... Alt+9 go to the first nine open chats, keys in the input.
#include <QObject>

#include <functional>

class QWidget;

namespace velmora {

class TConsoleKeys : public QObject {
    Q_OBJECT
public:
    // Installed on the application for as long as the object lives.
    explicit TConsoleKeys(QObject *parent = nullptr);
    ~TConsoleKeys() override;

    // The help context of `widget`: the "helpContext" property of it or of
    // the nearest parent that has one; 0 when none has.
    static int HelpContextOf(const QWidget *widget);

    // The windows Ctrl+Tab goes round, in its order: the main window, the
    // customer chats by number, then the supporter chats.
    static QList<QWidget *> CycleWindows();
    // Turns to the next (or previous) of them from the active one.
    static void Cycle(bool forward);
    // Turns to the open customer chat that Alt+`key` reaches (1 ... 9, in
    // the order the chats are listed); false when there is none.
    static bool GoToChat(int key);

    // Shows help for a context; the help window by default, tests replace it.
    std::function<void(int)> ShowHelp;
    // The alert keys; nothing when unset.
    std::function<void()> AcceptNewestCall;
    std::function<void()> HoldNewestCall;
    std::function<void()> TurnToNewestAlert;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

} // namespace velmora
