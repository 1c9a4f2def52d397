#pragma once
// Which desktop notices the console shows, and when they go:
//  - a call's alert, while no console window is active: who calls (or who
//    asks, for supporter chats and transfers), from where and since when, with
//    "Accept" and "On Hold" working like the alert's buttons. The notice goes
//    with the alert: answered, taken by another supporter, or gone.
//  - a visitor's line in a chat window that is not active; the window's next
//    line replaces it, and it goes when the operator turns to the window.
// Each kind can be turned off in the settings (read at every notice).
#include "app/Notifier.h"

#include <QHash>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QWidget;

namespace velmora {

class TNewCnctDlg;

class TConsoleNotices : public QObject {
    Q_OBJECT
public:
    // `notifier` may be null: then nothing is shown.
    explicit TConsoleNotices(std::unique_ptr<INotifier> notifier, QObject *parent = nullptr);
    ~TConsoleNotices() override;

    INotifier *Notifier() const { return m_notifier.get(); }

    // An alert has opened for a call of `kind` from `site`; `asking` names the
    // supporter who asks, where known. Again for the same alert, its notice
    // (if one shows) is renewed with the name learnt since.
    void CallAlert(TNewCnctDlg *alert, quint16 kind, const QString &site, const QString &asking);
    // A notice of the console's own (the login refused); the next one replaces it.
    void Notice(const QString &summary, const QString &body);
    // The visitor `name` wrote `line` in `window`.
    void VisitorLine(QWidget *window, const QString &name, const QString &line);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Shown {
        QHash<QString, std::function<void()>> Actions;
        QObject *Owner = nullptr;
    };
    // `owner` is the alert or window the notice belongs to; a window's notice
    // goes when the window is activated (`replaces` names its last one).
    quint32 Show(const TNotice &notice, QObject *owner, QHash<QString, std::function<void()>> actions,
                 bool window, quint32 replaces = 0);
    void CloseFor(QObject *owner);
    void Forget(quint32 id);
    void ActionInvoked(quint32 id, const QString &key);

    std::unique_ptr<INotifier> m_notifier;
    QHash<quint32, Shown> m_shown;
    QHash<QObject *, quint32> m_byOwner;
    quint32 m_consoleNotice = 0;
};

} // namespace velmora
