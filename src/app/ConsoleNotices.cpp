#include "app/ConsoleNotices.h"

#include "app/NewCnctDlg.h"
#include "chat/ChatWorkspace.h"
#include "chat/QuietShow.h"
#include "config/Settings.h"
#include "diag/SafeText.h"
#include "protocol/MessageCodes.h"

#include <QApplication>
#include <QEvent>
#include <QLocale>
#include <QPushButton>
#include <QTime>

namespace velmora {

namespace {
const QString kAcceptKey = QStringLiteral("accept");
const QString kHoldKey = QStringLiteral("hold");
constexpr int kMaxNoticeName = 60;

QString NameOrAnonymous(const QString &name)
{
    const QString shown = ShortText(name, kMaxNoticeName).trimmed();
    return shown.isEmpty() ? QStringLiteral("Anonymous") : shown;
}
} // namespace

TConsoleNotices::TConsoleNotices(std::unique_ptr<INotifier> notifier, QObject *parent)
    : QObject(parent), m_notifier(std::move(notifier))
{
    if (!m_notifier)
        return;
    connect(m_notifier.get(), &INotifier::ActionInvoked, this, &TConsoleNotices::ActionInvoked);
    connect(m_notifier.get(), &INotifier::Closed, this, &TConsoleNotices::Forget);
}

TConsoleNotices::~TConsoleNotices()
{
    // The windows outlive this: they must not call back.
    for (QObject *owner : m_byOwner.keys())
        owner->removeEventFilter(this);
}

void TConsoleNotices::CallAlert(TNewCnctDlg *alert, quint16 kind, const QString &site, const QString &asking)
{
    // Called again when the asking supporter's name came later: the notice
    // shown is renewed, none is added.
    const quint32 shown = alert ? m_byOwner.value(alert) : 0;
    if (!m_notifier || !alert || (!shown && QApplication::activeWindow()))
        return;
    const bool request = kind == server::SUPPORT_CHAT_LISTED || kind == server::TRANSFER_CALL;
    const TSettings &s = Settings();
    if (!(request ? s.NotifyRequests : s.NotifyNewCalls))
        return;

    QStringList lines;
    if (request) {
        if (!asking.isEmpty())
            lines << QStringLiteral("Asked by = ") + NameOrAnonymous(asking);
    } else {
        // The visitor tells a name only once the call is taken.
        lines << QStringLiteral("Anonymous");
    }
    if (!site.isEmpty())
        lines << QStringLiteral("Call from = ") + ShortText(site, kMaxNoticeSummary);
    lines << QStringLiteral("Waiting since ") + QLocale::system().toString(QTime::currentTime(), QLocale::ShortFormat);

    TNotice notice{TNewCnctDlg::RequestText(kind), lines.join(QLatin1Char('\n')), {}, true};
    QPointer<TNewCnctDlg> target(alert);
    QHash<QString, std::function<void()>> actions;
    if (alert->AcceptBtn->isEnabled()) {
        notice.Actions << TNoticeAction{kAcceptKey, QStringLiteral("Accept")};
        actions.insert(kAcceptKey, [target] {
            if (target && target->AcceptBtn->isEnabled())
                target->AcceptBtn->click();
        });
    }
    notice.Actions << TNoticeAction{kHoldKey, QStringLiteral("On Hold")};
    actions.insert(kHoldKey, [target] {
        if (target)
            target->OnHoldlBtn->click();
    });
    // The alert shows without taking the keyboard, so its activation says
    // nothing: the notice goes with the alert's answer.
    Show(notice, alert, std::move(actions), false, shown);
    if (!shown)
        connect(alert, &QDialog::finished, this, [this, alert] { CloseFor(alert); });
}

void TConsoleNotices::Notice(const QString &summary, const QString &body)
{
    if (m_notifier)
        m_consoleNotice = m_notifier->Show(TNotice{summary, body, {}, false}, m_consoleNotice);
}

void TConsoleNotices::VisitorLine(QWidget *window, const QString &name, const QString &line)
{
    // A tab behind the current one of an active workspace is not seen either.
    const bool seen = window && window->isActiveWindow() && window->isVisible();
    if (!m_notifier || !window || seen || !Settings().NotifyVisitorLines)
        return;
    const TNotice notice{NameOrAnonymous(name),
                         Settings().NotifyLineText ? ShortText(line, kMaxNoticeBody)
                                                   : QStringLiteral("New message in the chat"),
                         {{kDefaultNoticeAction, QStringLiteral("Show")}},
                         false};
    QPointer<QWidget> target(window);
    QHash<QString, std::function<void()>> actions;
    // The operator asked for this window: it may take the keyboard.
    actions.insert(kDefaultNoticeAction, [target] { TurnToChat(target); });
    // One notice per window: the newest line replaces the one before.
    Show(notice, window, std::move(actions), true, m_byOwner.value(window));
}

quint32 TConsoleNotices::Show(const TNotice &notice, QObject *owner, QHash<QString, std::function<void()>> actions,
                              bool window, quint32 replaces)
{
    const quint32 id = m_notifier->Show(notice, replaces);
    if (replaces && replaces != id)
        Forget(replaces);
    m_shown.insert(id, {std::move(actions), owner});
    if (!m_byOwner.contains(owner)) {
        if (window)
            owner->installEventFilter(this);
        connect(owner, &QObject::destroyed, this, [this, owner] { CloseFor(owner); });
    }
    m_byOwner.insert(owner, id);
    return id;
}

void TConsoleNotices::CloseFor(QObject *owner)
{
    const auto it = m_byOwner.find(owner);
    if (it == m_byOwner.end())
        return;
    const quint32 id = *it;
    Forget(id);
    m_notifier->Close(id);
}

void TConsoleNotices::Forget(quint32 id)
{
    const auto it = m_shown.find(id);
    if (it == m_shown.end())
        return;
    QObject *owner = it->Owner;
    m_shown.erase(it);
    if (m_byOwner.value(owner) == id) {
        m_byOwner.remove(owner);
        owner->removeEventFilter(this);
        disconnect(owner, &QObject::destroyed, this, nullptr);
    }
}

void TConsoleNotices::ActionInvoked(quint32 id, const QString &key)
{
    const auto it = m_shown.find(id);
    if (it == m_shown.end())
        return;
    // The action may close the notice (an answered alert): run a copy.
    const std::function<void()> run = it->Actions.value(key);
    if (run)
        run();
}

bool TConsoleNotices::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::WindowActivate)
        CloseFor(watched);
    return QObject::eventFilter(watched, event);
}

} // namespace velmora
