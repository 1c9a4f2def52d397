#include "app/Notifier.h"

#include "app/ActivationToken.h"

#include "diag/SafeText.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QSystemTrayIcon>

namespace velmora {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

constexpr uchar kUrgencyNormal = 1;
constexpr uchar kUrgencyCritical = 2;
constexpr int kTrayBalloonMs = 10000;

QDBusMessage Method(const QString &name, const QList<QVariant> &args = {})
{
    QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kInterface, name);
    m.setArguments(args);
    return m;
}

} // namespace

QString EscapeNoticeMarkup(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (c == QLatin1Char('<'))
            out += QLatin1String("&lt;");
        else if (c == QLatin1Char('>'))
            out += QLatin1String("&gt;");
        else if (c == QLatin1Char('&'))
            out += QLatin1String("&amp;");
        else
            out += c;
    }
    return out;
}

// --- the desktop's notification service ----------------------------------------

TDBusNotifier::TDBusNotifier(const QDBusConnection &bus, QObject *parent) : INotifier(parent), m_bus(bus) {}

TDBusNotifier::~TDBusNotifier()
{
    // Calls waiting for an answer must not outlive the console on the desktop.
    const auto entries = m_entries;
    for (auto it = entries.begin(); it != entries.end(); ++it)
        Close(it.key());
}

bool TDBusNotifier::Install(QString *reason)
{
    if (m_installed)
        return true;
    if (!m_bus.isConnected()) {
        if (reason)
            *reason = QStringLiteral("no session bus");
        return false;
    }
    // The service may be started by the bus on first use.
    QDBusConnectionInterface *bus = m_bus.interface();
    const QDBusReply<bool> registered = bus->isServiceRegistered(kService);
    const QDBusReply<QStringList> activatable = bus->activatableServiceNames();
    if (!(registered.isValid() && registered.value())
        && !(activatable.isValid() && activatable.value().contains(kService))) {
        if (reason)
            *reason = kService + QStringLiteral(" is not running");
        return false;
    }
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                  SLOT(ServiceActionInvoked(uint, QString)));
    // Sent just before ActionInvoked: the token lets a Wayland compositor
    // bring the window of the action forward.
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("ActivationToken"), this,
                  SLOT(ServiceActivationToken(uint, QString)));
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                  SLOT(ServiceNotificationClosed(uint, uint)));
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(Method(QStringLiteral("GetCapabilities"))), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<QStringList> caps = *watcher;
        if (!caps.isError())
            m_bodyMarkup = caps.value().contains(QStringLiteral("body-markup"));
    });
    m_installed = true;
    return true;
}

quint32 TDBusNotifier::Show(const TNotice &notice, quint32 replaces)
{
    uint replacesServerId = 0;
    quint32 id = 0;
    if (auto it = m_entries.find(replaces); it != m_entries.end() && it->ServerId != 0 && !it->CloseWanted) {
        replacesServerId = it->ServerId;
        id = replaces;
    } else {
        Close(replaces);
        id = m_nextId++;
        if (m_nextId == 0)
            m_nextId = 1;
        m_entries.insert(id, {});
    }
    QStringList actions;
    for (const TNoticeAction &a : notice.Actions)
        actions << a.Key << a.Label;
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(notice.Persistent ? kUrgencyCritical : kUrgencyNormal));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("velmora"));
    const QString body = ShortText(notice.Body, kMaxNoticeBody, true);
    const QDBusMessage m = Method(
        QStringLiteral("Notify"),
        {QCoreApplication::applicationName(), replacesServerId, QStringLiteral("velmora"),
         ShortText(notice.Summary, kMaxNoticeSummary), m_bodyMarkup ? EscapeNoticeMarkup(body) : body, actions, hints,
         notice.Persistent ? 0 : -1});
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(m), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, id] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        const auto it = m_entries.find(id);
        if (reply.isError() || reply.value() == 0) {
            // Not shown: nothing will ever close it.
            if (it != m_entries.end() && it->ServerId == 0) {
                m_entries.erase(it);
                emit Closed(id);
            }
            return;
        }
        const uint serverId = reply.value();
        if (it == m_entries.end() || it->CloseWanted) {
            // Closed before the service had told its id.
            if (it != m_entries.end())
                m_entries.erase(it);
            CloseOnService(serverId);
            return;
        }
        it->ServerId = serverId;
        m_byServerId.insert(serverId, id);
    });
    return id;
}

void TDBusNotifier::Close(quint32 id)
{
    const auto it = m_entries.find(id);
    if (it == m_entries.end() || it->CloseWanted)
        return;
    if (it->ServerId == 0) {
        it->CloseWanted = true; // the reply closes it
        return;
    }
    const uint serverId = it->ServerId;
    m_byServerId.remove(serverId);
    m_entries.erase(it);
    CloseOnService(serverId);
}

void TDBusNotifier::CloseOnService(uint serverId)
{
    m_bus.asyncCall(Method(QStringLiteral("CloseNotification"), {serverId})); // nothing to do with the answer
}

void TDBusNotifier::ServiceActionInvoked(uint serverId, const QString &key)
{
    // The service tells every client: only our own notices count.
    if (const quint32 id = m_byServerId.value(serverId))
        emit ActionInvoked(id, key.left(kMaxNoticeSummary));
}

void TDBusNotifier::ServiceActivationToken(uint serverId, const QString &token)
{
    if (m_byServerId.contains(serverId))
        UseActivationToken(token.toLatin1());
}

void TDBusNotifier::ServiceNotificationClosed(uint serverId, uint /*reason*/)
{
    const quint32 id = m_byServerId.take(serverId);
    if (id == 0)
        return;
    m_entries.remove(id);
    emit Closed(id);
}

// --- the tray's balloon ------------------------------------------------------------

TTrayNotifier::TTrayNotifier(QSystemTrayIcon *tray, QObject *parent) : INotifier(parent), m_tray(tray)
{
    if (m_tray)
        connect(m_tray, &QSystemTrayIcon::messageClicked, this, [this] {
            if (m_shown)
                emit ActionInvoked(m_shown, kDefaultNoticeAction);
        });
}

bool TTrayNotifier::Install(QString *reason)
{
    if (!m_tray || !QSystemTrayIcon::isSystemTrayAvailable() || !QSystemTrayIcon::supportsMessages()) {
        if (reason)
            *reason = QStringLiteral("no system tray");
        return false;
    }
    return true;
}

quint32 TTrayNotifier::Show(const TNotice &notice, quint32 /*replaces*/)
{
    // A balloon is plain text: nothing to escape.
    m_tray->showMessage(ShortText(notice.Summary, kMaxNoticeSummary), ShortText(notice.Body, kMaxNoticeBody, true),
                        QSystemTrayIcon::Information, kTrayBalloonMs);
    m_shown = m_nextId++;
    if (m_nextId == 0)
        m_nextId = 1;
    return m_shown;
}

void TTrayNotifier::Close(quint32 id)
{
    if (id == m_shown)
        m_shown = 0; // a late click on it does nothing
}

std::unique_ptr<INotifier> ChooseNotifier(QSystemTrayIcon *tray)
{
    auto dbus = std::make_unique<TDBusNotifier>();
    if (dbus->Install(nullptr))
        return dbus;
    auto balloon = std::make_unique<TTrayNotifier>(tray);
    if (balloon->Install(nullptr))
        return balloon;
    return nullptr;
}

} // namespace velmora
