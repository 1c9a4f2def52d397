// Desktop notices against a stand-in notification service on a private
// session bus.
#include "app/ConsoleNotices.h"
#include "app/NewCnctDlg.h"

#include "PrivateBus.h"
#include "TestUtil.h"
#include "chat/ChatWorkspace.h"
#include "config/Settings.h"
#include "protocol/MessageCodes.h"

#include <QDBusMessage>
#include <QMutex>
#include <QPointer>
#include <QWidget>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

namespace {

struct NotifyCall {
    uint Id = 0, Replaces = 0;
    QString Summary, Body;
    QStringList Actions;
    QVariantMap Hints;
    int Timeout = 0;
};

class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QMutex mutex;
    QList<NotifyCall> shown;
    QList<uint> closed;
    QStringList caps{QStringLiteral("actions"), QStringLiteral("body-markup")};
    uint nextId = 100;

    template <class F> auto Locked(F f)
    {
        QMutexLocker lock(&mutex);
        return f();
    }
    NotifyCall Last() { return Locked([&] { return shown.value(shown.size() - 1); }); }
    qsizetype Count() { return Locked([&] { return shown.size(); }); }
    bool WasClosed(uint id) { return Locked([&] { return closed.contains(id); }); }

public slots:
    QStringList GetCapabilities() { return Locked([&] { return caps; }); }
    uint Notify(const QString &, uint replaces, const QString &, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &hints, int timeout)
    {
        return Locked([&] {
            shown << NotifyCall{replaces ? replaces : nextId++, replaces, summary, body, actions, hints, timeout};
            return shown.last().Id;
        });
    }
    void CloseNotification(uint id) { Locked([&] { closed << id; }); }
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
    std::unique_ptr<TDBusNotifier> Installed()
    {
        Offer(&service, QStringLiteral("/org/freedesktop/Notifications"), QStringLiteral("org.freedesktop.Notifications"));
        auto notifier = std::make_unique<TDBusNotifier>(ClientBus());
        EXPECT_TRUE(notifier->Install(nullptr));
        return notifier;
    }
    // What the desktop sends when the operator acts on a notice it has shown.
    void Invoke(uint id, const QString &key)
    {
        Settle();
        QMetaObject::invokeMethod(&service, "Invoke", Qt::QueuedConnection, Q_ARG(uint, id), Q_ARG(QString, key));
    }
    bool WaitShown(qsizetype n) { return WaitFor([&] { return service.Count() >= n; }); }
    // The service has answered everything sent so far, and the answers are
    // handled: its replies come in order.
    void Settle()
    {
        ClientBus().call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                                        QStringLiteral("/org/freedesktop/Notifications"),
                                                        QStringLiteral("org.freedesktop.Notifications"),
                                                        QStringLiteral("GetCapabilities")));
        // The earlier answers are queued by now; their handlers may take a
        // second turn of the loop to run.
        RunFor(50);
    }

    FakeNotifications service;
    TSettings saved;
};

} // namespace

TEST_F(NotificationsTest, NoticesAreBoundedEscapedAndTrackedByTheServiceId)
{
    QString reason;
    EXPECT_FALSE(TDBusNotifier(ClientBus()).Install(&reason));
    EXPECT_EQ(reason, QStringLiteral("org.freedesktop.Notifications is not running"));

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
    const NotifyCall call = service.Last();
    EXPECT_TRUE(call.Body.startsWith(QStringLiteral("&lt;img src=x&gt;&amp;amp;\n ")));
    EXPECT_LE(call.Body.size(), kMaxNoticeBody + 10); // the escapes of the first characters
    EXPECT_TRUE(call.Summary.startsWith(QStringLiteral("<img src=x>&amp;  z"))); // plain text, one line
    EXPECT_EQ(call.Summary.size(), kMaxNoticeSummary);
    EXPECT_EQ(call.Actions, (QStringList{QStringLiteral("a"), QStringLiteral("Accept")}));
    EXPECT_EQ(call.Timeout, 0);
    EXPECT_EQ(call.Hints.value(QStringLiteral("urgency")).toInt(), 2);

    // Only our own notices count: the service tells every client.
    Invoke(call.Id + 50, QStringLiteral("a"));
    Invoke(call.Id, QStringLiteral("a"));
    ASSERT_TRUE(WaitFor([&] { return !actions.isEmpty(); }));
    EXPECT_EQ(actions, (QList<std::pair<quint32, QString>>{{first, QStringLiteral("a")}}));

    // A replacement keeps the id; a notice closed before the service has told
    // its id is closed once it has.
    EXPECT_EQ(notifier->Show({QStringLiteral("s"), QStringLiteral("b"), {}, false}, first), first);
    notifier->Close(notifier->Show({QStringLiteral("s"), QStringLiteral("b"), {}, false}));
    ASSERT_TRUE(WaitShown(3));
    EXPECT_EQ(service.Locked([&] { return service.shown[1].Replaces; }), call.Id);
    EXPECT_EQ(service.Last().Timeout, -1);
    EXPECT_TRUE(WaitFor([&] { return service.WasClosed(service.Last().Id); }));
    QMetaObject::invokeMethod(&service, "Dismiss", Qt::QueuedConnection, Q_ARG(uint, call.Id));
    ASSERT_TRUE(WaitFor([&] { return !closed.isEmpty(); }));
    EXPECT_EQ(closed, QList<quint32>{first});

    // A service that reads plain text gets the text as it is.
    service.Locked([&] { service.caps = {}; });
    TDBusNotifier plain(ClientBus());
    ASSERT_TRUE(plain.Install(nullptr));
    ASSERT_TRUE(WaitFor([&] { return !plain.BodyMarkup(); }));
    plain.Show({QStringLiteral("s"), QStringLiteral("a < b"), {}, false});
    ASSERT_TRUE(WaitShown(4));
    EXPECT_EQ(service.Last().Body, QStringLiteral("a < b"));
}

TEST_F(NotificationsTest, CallNoticesAnswerTheirAlertAndGoWithIt)
{
    TConsoleNotices notices(Installed());
    QList<bool> answers;
    auto open = [&](quint16 kind, const QString &site, const QString &asking = QString()) {
        TNewCnctDlg *alert = TNewCnctDlg::Open(kind, site, QStringLiteral("10.0.0.1"), true, 2,
                                               [&](bool accept) { answers << accept; }, asking);
        notices.CallAlert(alert, kind, site, asking);
        return alert;
    };
    // Each action answers its alert as its button would, and the notice goes.
    for (const QString &key : {QStringLiteral("accept"), QStringLiteral("hold")}) {
        open(server::CLIENT_LISTED, QStringLiteral("shop<1>"));
        ASSERT_TRUE(WaitShown(answers.size() + 1));
        const NotifyCall call = service.Last();
        EXPECT_EQ(call.Summary, QStringLiteral("Client request for new connection"));
        EXPECT_TRUE(call.Body.startsWith(QStringLiteral("Anonymous\nCall from = shop&lt;1&gt;\nWaiting since ")));
        EXPECT_EQ(call.Actions, (QStringList{QStringLiteral("accept"), QStringLiteral("Accept"),
                                             QStringLiteral("hold"), QStringLiteral("On Hold")}));
        Invoke(call.Id, key);
        ASSERT_TRUE(WaitFor([&] { return answers.size() == service.Count(); }));
        EXPECT_EQ(answers.last(), key == QStringLiteral("accept"));
        EXPECT_TRUE(WaitFor([&] { return service.WasClosed(call.Id); }));
    }

    // A transfer names who asks; its notice goes when the call is taken elsewhere.
    QPointer<TNewCnctDlg> transfer = open(server::TRANSFER_CALL, QString(), QStringLiteral("Kim"));
    ASSERT_TRUE(WaitShown(3));
    const NotifyCall call = service.Last();
    EXPECT_EQ(call.Summary, QStringLiteral("Transfer request from other support !."));
    EXPECT_TRUE(call.Body.startsWith(QStringLiteral("Asked by = Kim\nWaiting since ")));
    transfer->reject();
    EXPECT_TRUE(WaitFor([&] { return service.WasClosed(call.Id); }));

    // A name learnt after the alert opened renews its notice in place.
    QPointer<TNewCnctDlg> unnamed = open(server::TRANSFER_CALL, QString());
    ASSERT_TRUE(WaitShown(4));
    const uint first = service.Last().Id;
    Settle(); // the service's id has come back
    notices.CallAlert(unnamed, server::TRANSFER_CALL, QString(), QStringLiteral("Bert"));
    ASSERT_TRUE(WaitShown(5));
    EXPECT_EQ(service.Last().Replaces, first);
    EXPECT_TRUE(service.Last().Body.startsWith(QStringLiteral("Asked by = Bert\n")));
    unnamed->reject();
    EXPECT_TRUE(WaitFor([&] { return service.WasClosed(service.Last().Id); }));

    Settings().NotifyNewCalls = false;
    open(server::CLIENT_LISTED, QStringLiteral("shop"))->reject();
    Settings().NotifyRequests = false;
    open(server::TRANSFER_CALL, QString(), QStringLiteral("Kim"))->reject();
    Settle();
    EXPECT_EQ(service.Count(), 5);
}

TEST_F(NotificationsTest, VisitorLinesReplaceEachOtherAndGoWhenTheChatIsActivated)
{
    TConsoleNotices notices(Installed());
    QWidget chat;
    notices.VisitorLine(&chat, QString(), QStringLiteral("hello"));
    ASSERT_TRUE(WaitShown(1));
    const NotifyCall first = service.Last();
    EXPECT_EQ(first.Summary, QStringLiteral("Anonymous"));
    EXPECT_EQ(first.Body, QStringLiteral("hello"));

    Settle();
    Settings().NotifyLineText = false;
    notices.VisitorLine(&chat, QStringLiteral("Ann"), QStringLiteral("my card number is 4111"));
    ASSERT_TRUE(WaitShown(2));
    EXPECT_EQ(service.Last().Replaces, first.Id);
    EXPECT_EQ(service.Last().Summary, QStringLiteral("Ann"));
    EXPECT_EQ(service.Last().Body, QStringLiteral("New message in the chat"));

    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(&chat, &activate);
    EXPECT_TRUE(WaitFor([&] { return service.WasClosed(first.Id); }));

    // A tab behind the one in front of the active workspace is not seen: its
    // line is noticed, and the notice goes once the tab comes to the front.
    TChatWorkspace workspace;
    QWidget front;
    QWidget behind;
    workspace.AddChat(&behind);
    workspace.AddChat(&front);
    workspace.activateWindow();
    ASSERT_TRUE(WaitFor([&] { return workspace.isActiveWindow(); }));
    Settings().NotifyLineText = true;
    notices.VisitorLine(&front, QString(), QStringLiteral("seen"));
    notices.VisitorLine(&behind, QString(), QStringLiteral("unseen"));
    ASSERT_TRUE(WaitShown(3));
    const NotifyCall tab = service.Last();
    EXPECT_EQ(tab.Body, QStringLiteral("unseen"));
    workspace.Select(&behind);
    EXPECT_TRUE(WaitFor([&] { return service.WasClosed(tab.Id); }));
}

#include "NotificationsTest.moc"
