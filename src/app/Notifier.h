#pragma once
// Desktop notifications: a few lines beside the desktop's other notices, for
// what the operator would otherwise only hear (a call while the console sits
// in the tray, a visitor's line behind another program). One interface, one
// implementation per way a desktop shows them, chosen at run time:
//  - the desktop's notification service (org.freedesktop.Notifications) on
//    the session bus, with actions;
//  - the tray icon's balloon where no such service runs (no actions; a click
//    on the balloon counts as the "default" action).
// Which notices show and when they close is TConsoleNotices' business.
#include <QDBusConnection>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class QSystemTrayIcon;

namespace velmora {

// Limits for text that may come from a visitor.
inline constexpr int kMaxNoticeSummary = 80;
inline constexpr int kMaxNoticeBody = 240;
// The action a click on the notice itself invokes.
inline const QString kDefaultNoticeAction = QStringLiteral("default");

struct TNoticeAction {
    QString Key;   // what comes back with ActionInvoked
    QString Label; // what the operator reads
};

struct TNotice {
    QString Summary; // plain text, one line
    QString Body;    // plain text; escaped here where the desktop reads markup
    QList<TNoticeAction> Actions;
    bool Persistent = false; // stays until closed: calls that wait for an answer
};

// The body markup of notification services: <, > and & as entities.
QString EscapeNoticeMarkup(const QString &text);

class INotifier : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Whether notices can be shown this way here; `reason` tells why not.
    virtual bool Install(QString *reason) = 0;
    // Shows `notice` (in place of `replaces`, when that is still shown) and
    // returns its id, never 0. Nothing waits for the desktop.
    virtual quint32 Show(const TNotice &notice, quint32 replaces = 0) = 0;
    // Takes the notice away; unknown or closed ids are ignored.
    virtual void Close(quint32 id) = 0;

signals:
    void ActionInvoked(quint32 id, const QString &key);
    // Gone: closed by the operator, expired, or taken away by Close.
    void Closed(quint32 id);
};

class TDBusNotifier final : public INotifier {
    Q_OBJECT
public:
    explicit TDBusNotifier(const QDBusConnection &bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);
    ~TDBusNotifier() override;

    bool Install(QString *reason) override;
    quint32 Show(const TNotice &notice, quint32 replaces = 0) override;
    void Close(quint32 id) override;
    // Whether the service reads the body as markup; assumed until it has said.
    bool BodyMarkup() const { return m_bodyMarkup; }

private slots:
    void ServiceActionInvoked(uint serverId, const QString &key);
    void ServiceActivationToken(uint serverId, const QString &token);
    void ServiceNotificationClosed(uint serverId, uint reason);

private:
    struct Entry {
        uint ServerId = 0; // 0 until the service has answered
        bool CloseWanted = false;
    };
    void CloseOnService(uint serverId);

    QDBusConnection m_bus;
    bool m_installed = false;
    bool m_bodyMarkup = true; // escaping for a plain-text service only shows entities
    quint32 m_nextId = 1;
    QHash<quint32, Entry> m_entries;
    QHash<uint, quint32> m_byServerId;
};

class TTrayNotifier final : public INotifier {
    Q_OBJECT
public:
    explicit TTrayNotifier(QSystemTrayIcon *tray, QObject *parent = nullptr);

    bool Install(QString *reason) override;
    quint32 Show(const TNotice &notice, quint32 replaces = 0) override;
    // A balloon cannot be taken back; it times out by itself.
    void Close(quint32 id) override;

private:
    QSystemTrayIcon *m_tray;
    quint32 m_nextId = 1;
    quint32 m_shown = 0; // the balloon on screen, whose click counts
};

// The desktop's service where it runs, else the tray's balloon, else none (null).
std::unique_ptr<INotifier> ChooseNotifier(QSystemTrayIcon *tray);

} // namespace velmora
