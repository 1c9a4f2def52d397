// Desktop notices against a stand-in notification service on a private
// session bus.
#include "app/ConsoleNotices.h"
#include "app/NewCnctDlg.h"

#include "PrivateBus.h"
#include "TestUtil.h"
#include "config/Settings.h"
#include "protocol/MessageCodes.h"

#include <QMutex>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

namespace {

struct NotifyCall {
    uint Id, Replaces;
    QString Summary, Body;
    QStringList Actions;
    QVariantMap Hints;
    int Timeout;
};

class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QMutex mutex;
    QList<NotifyCall> shown;
    QList<uint> closed;
    QStringList caps{QStringLiteral("actions"), QStringLiteral("body"), QStringLiteral("body-markup")};
    uint nextId = 100;

    NotifyCall Last()
    {
        QMutexLocker lock(&mutex);
        return shown.isEmpty() ? NotifyCall{} : shown.last();
    }
    qsizetype Count()
    {
        QMutexLocker lock(&mutex);
        return shown.size();
    }
    bool WasClosed(uint id)
    {
        QMutexLocker lock(&mutex);
        return closed.contains(id);
    }

public slots:
    QStringList GetCapabilities()
    {
        QMutexLocker lock(&mutex);
        return caps;
    }
    uint Notify(const QString &, uint replaces, const QString &, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &hints, int timeout)
    {
        QMutexLocker lock(&mutex);
        const uint id = replaces ? replaces : nextId++;
        shown << NotifyCall{id, replaces, summary, body, actions, hints, timeout};
        return id;
    }
    void CloseNotification(uint id)
    {
        QMutexLocker lock(&mutex);
        closed << id;
    }
    void Invoke(uint id, const QString &key) { emit ActionInvoked(id, key); }
    void Dismiss(uint id) { emit NotificationClosed(id, 2); }

signals:
    void ActionInvoked(uint id, const QString &key);
    void NotificationClosed(uint id, uint reason);
};

class NotificationsTest : public PrivateBusTest {
protected:
    void SetUp() override
    {
        PrivateBusTest::SetUp();
        service.moveToThread(&serviceThread);
        saved = Settings();
    }
    void TearDown() override
    {
        Settings() = saved;
        PrivateBusTest::TearDown();
    }
    void Offer()
    {
        PrivateBusTest::Offer(&service, QStringLiteral("/org/freedesktop/Notifications"),
                              QStringLiteral("org.freedesktop.Notifications"));
    }
    std::unique_ptr<TDBusNotifier> Installed()
    {
        auto notifier = std::make_unique<TDBusNotifier>(
            ClientBus());
        QString reason;
        EXPECT_TRUE(notifier->Install(&reason)) << reason.toStdString();
        return notifier;
    }
    // The service's signals, as the desktop sends them when the operator acts.
    void Invoke(uint id, const QString &key)
    {
        QMetaObject::invokeMethod(&service, "Invoke", Qt::QueuedConnection, Q_ARG(uint, id), Q_ARG(QString, key));
    }
    void Dismiss(uint id) { QMetaObject::invokeMethod(&service, "Dismiss", Qt::QueuedConnection, Q_ARG(uint, id)); }
    bool WaitShown(qsizetype n) { return WaitFor([&] { return service.Count() >= n; }); }

    FakeNotifications service;
    TSettings saved;
};

} // namespace

TEST_F(NotificationsTest, NoticesAreBoundedEscapedAndTrackedByTheServiceId)
{
    QString reason;
    TDBusNotifier absent(ClientBus());
    EXPECT_FALSE(absent.Install(&reason));
    EXPECT_EQ(reason, QStringLiteral("org.freedesktop.Notifications is not running"));

    Offer();
    auto notifier = Installed();
    QList<std::pair<quint32, QString>> actions;
    QList<quint32> closed;
    QObject::connect(notifier.get(), &INotifier::ActionInvoked,
                     [&](quint32 id, const QString &key) { actions.append({id, key}); });
    QObject::connect(notifier.get(), &INotifier::Closed, [&](quint32 id) { closed << id; });

    // A visitor's text: markup, a line break, a control character, and far too long.
    const QString hostile = QStringLiteral("<img src=x>&amp;\n\x01") + QString(1000, QLatin1Char('z'));
    const quint32 first = notifier->Show({hostile, hostile, {{QStringLiteral("a"), QStringLiteral("Accept")}}, true});
    ASSERT_TRUE(WaitShown(1));
    NotifyCall call = service.Last();
    EXPECT_TRUE(call.Body.startsWith(QStringLiteral("&lt;img src=x&gt;&amp;amp;\n ")));
    EXPECT_FALSE(call.Body.contains(QLatin1Char('<')));
    EXPECT_LE(call.Body.size(), kMaxNoticeBody + 10); // the escapes of the first characters
    EXPECT_TRUE(call.Summary.startsWith(QStringLiteral("<img src=x>&amp;  z"))); // plain text, one line
    EXPECT_EQ(call.Summary.size(), kMaxNoticeSummary);
    EXPECT_EQ(call.Actions, (QStringList{QStringLiteral("a"), QStringLiteral("Accept")}));
    EXPECT_EQ(call.Timeout, 0);
    EXPECT_EQ(call.Hints.value(QStringLiteral("urgency")).toInt(), 2);
    const uint firstServerId = call.Id;

    // Only our own notices count; the service tells every client.
    QTest::qWait(100); // the service's id reaches the notifier
    Invoke(firstServerId + 50, QStringLiteral("a"));
    Invoke(firstServerId, QStringLiteral("a"));
    ASSERT_TRUE(WaitFor([&] { return !actions.isEmpty(); }));
    EXPECT_EQ(actions, (QList<std::pair<quint32, QString>>{{first, QStringLiteral("a")}}));

    // A replacement keeps the id; a notice closed before the service has
    // told its id is closed once it has.
    EXPECT_EQ(notifier->Show({QStringLiteral("s"), QStringLiteral("b"), {}, false}, first), first);
    const quint32 early = notifier->Show({QStringLiteral("s"), QStringLiteral("b"), {}, false});
    notifier->Close(early);
    ASSERT_TRUE(WaitShown(3));
    EXPECT_EQ(service.Last().Timeout, -1);
    EXPECT_TRUE(WaitFor([&] { return service.WasClosed(service.Last().Id); }));
    {
        QMutexLocker lock(&service.mutex);
        EXPECT_EQ(service.shown[1].Replaces, firstServerId);
    }
    Dismiss(firstServerId);
    ASSERT_TRUE(WaitFor([&] { return !closed.isEmpty(); }));
    EXPECT_EQ(closed, QList<quint32>{first});

    // A service that reads plain text gets the text as it is.
    {
        QMutexLocker lock(&service.mutex);
        service.caps = {QStringLiteral("body")};
    }
    auto plain = std::make_unique<TDBusNotifier>(
        ClientBus());
    ASSERT_TRUE(plain->Install(&reason));
    ASSERT_TRUE(WaitFor([&] { return !plain->BodyMarkup(); }));
    plain->Show({QStringLiteral("s"), QStringLiteral("a < b"), {}, false});
    ASSERT_TRUE(WaitShown(4));
    EXPECT_EQ(service.Last().Body, QStringLiteral("a < b"));
}

TEST_F(NotificationsTest, CallNoticesAnswerTheirAlertAndGoWithIt)
{
    Offer();
    TConsoleNotices notices(Installed());
    QList<bool> answers;
    auto open = [&](quint16 kind, const QString &site, const QString &asking = QString()) {
        TNewCnctDlg *alert = TNewCnctDlg::Open(kind, site, QStringLiteral("10.0.0.1"), true, 2,
                                               [&](bool accept) { answers << accept; }, asking);
        notices.CallAlert(alert, kind, site, asking);
        return alert;
    };

    open(server::CLIENT_LISTED, QStringLiteral("shop<1>"));
    ASSERT_TRUE(WaitShown(1));
    NotifyCall call = service.Last();
    EXPECT_EQ(call.Summary, QStringLiteral("Client request for new connection"));
    EXPECT_TRUE(call.Body.startsWith(QStringLiteral("Anonymous\nCall from = shop&lt;1&gt;\nWaiting since ")));
    EXPECT_EQ(call.Actions, (QStringList{QStringLiteral("accept"), QStringLiteral("Accept"), QStringLiteral("hold"),
                                         QStringLiteral("On Hold")}));
    QTest::qWait(100); // the service's id reaches the notifier
    Invoke(call.Id, QStringLiteral("accept"));
    ASSERT_TRUE(WaitFor([&] { return answers.size() == 1; }));
    EXPECT_TRUE(answers[0]);
    EXPECT_TRUE(WaitFor([&] { return service.WasClosed(call.Id); }));

    open(server::CLIENT_LISTED, QStringLiteral("shop"));
    ASSERT_TRUE(WaitShown(2));
    call = service.Last();
    QTest::qWait(100);
    Invoke(call.Id, QStringLiteral("hold"));
    ASSERT_TRUE(WaitFor([&] { return answers.size() == 2; }));
    EXPECT_FALSE(answers[1]);
    EXPECT_TRUE(WaitFor([&] { return service.WasClosed(call.Id); }));

    // A transfer names who asks; its notice goes when the call is taken elsewhere.
    QPointer<TNewCnctDlg> transfer = open(server::TRANSFER_CALL, QString(), QStringLiteral("Kim"));
    ASSERT_TRUE(WaitShown(3));
    call = service.Last();
    EXPECT_EQ(call.Summary, QStringLiteral("Transfer request from other support !."));
    EXPECT_TRUE(call.Body.startsWith(QStringLiteral("Asked by = Kim\nWaiting since ")));
    QTest::qWait(100);
    transfer->reject();
    EXPECT_TRUE(WaitFor([&] { return service.WasClosed(call.Id); }));

    // Turned off per kind.
    Settings().NotifyNewCalls = false;
    open(server::CLIENT_LISTED, QStringLiteral("shop"))->reject();
    open(server::TRANSFER_CALL, QString(), QStringLiteral("Kim"));
    ASSERT_TRUE(WaitShown(4));
    QTest::qWait(100);
    EXPECT_EQ(service.Count(), 4);
    EXPECT_EQ(service.Last().Summary, QStringLiteral("Transfer request from other support !."));
    TNewCnctDlg::RejectAll();
}

TEST_F(NotificationsTest, VisitorLinesReplaceEachOtherAndGoWhenTheChatIsActivated)
{
    Offer();
    TConsoleNotices notices(Installed());
    QWidget chat;
    notices.VisitorLine(&chat, QString(), QStringLiteral("hello"));
    ASSERT_TRUE(WaitShown(1));
    const NotifyCall first = service.Last();
    EXPECT_EQ(first.Summary, QStringLiteral("Anonymous"));
    EXPECT_EQ(first.Body, QStringLiteral("hello"));
    QTest::qWait(100);

    Settings().NotifyLineText = false;
    notices.VisitorLine(&chat, QStringLiteral("Ann"), QStringLiteral("my card number is 4111"));
    ASSERT_TRUE(WaitShown(2));
    EXPECT_EQ(service.Last().Replaces, first.Id);
    EXPECT_EQ(service.Last().Summary, QStringLiteral("Ann"));
    EXPECT_EQ(service.Last().Body, QStringLiteral("New message in the chat"));

    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(&chat, &activate);
    EXPECT_TRUE(WaitFor([&] { return service.WasClosed(first.Id); }));

    Settings().NotifyVisitorLines = false;
    notices.VisitorLine(&chat, QStringLiteral("Ann"), QStringLiteral("still there?"));
    QTest::qWait(200);
    EXPECT_EQ(service.Count(), 2);
}

#include "NotificationsTest.moc"
