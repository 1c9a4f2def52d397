#pragma once
// Keys that work in every window of the console, whichever has the focus:
// F1 opens help at the page of the window (or control) in focus, and
// Ctrl+Alt+A accepts the newest call whose alert is waiting.
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

    // Shows help for a context; the help window by default, tests replace it.
    std::function<void(int)> ShowHelp;
    // Accepts the newest waiting call; nothing when unset.
    std::function<void()> AcceptNewestCall;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

} // namespace velmora
