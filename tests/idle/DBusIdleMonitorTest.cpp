// The GNOME and KDE monitors on a real private session bus, against stand-ins
// for the desktops' services (no desktop runs here).
#include "idle/DBusIdleMonitors.h"

#include "PrivateBus.h"
#include "TestUtil.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QMutex>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>

using namespace velmora;
using namespace velmora::test;

namespace {

class FakeMutter : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Mutter.IdleMonitor")
public:
    std::atomic<quint64> idleMs{0};
    std::atomic<uint> nextId{1};
    std::atomic<uint> lastIdleWatch{0};
    std::atomic<quint64> lastIdleInterval{0};
    std::atomic<uint> lastActiveWatch{0};
    QMutex mutex;
    QList<uint> removed;

public slots:
    qulonglong GetIdletime() { return idleMs; }
    uint AddIdleWatch(qulonglong interval)
    {
        lastIdleInterval = interval;
        return lastIdleWatch = nextId++;
    }
    uint AddUserActiveWatch() { return lastActiveWatch = nextId++; }
    void RemoveWatch(uint id)
    {
        QMutexLocker lock(&mutex);
        removed << id;
    }
    void Fire(uint id) { emit WatchFired(id); }

signals:
    void WatchFired(uint id);
};

class FakeScreenSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    std::atomic<uint> idleMs{0};
public slots:
    uint GetSessionIdleTime() { return idleMs; }
};

class DBusIdleMonitorTest : public PrivateBusTest {
protected:
    void SetUp() override
    {
        PrivateBusTest::SetUp();
        mutter.moveToThread(&serviceThread);
        saver.moveToThread(&serviceThread);
    }
    void OfferMutter()
    {
        Offer(&mutter, QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"),
              QStringLiteral("org.gnome.Mutter.IdleMonitor"));
    }
    void OfferScreenSaver()
    {
        Offer(&saver, QStringLiteral("/ScreenSaver"), QStringLiteral("org.freedesktop.ScreenSaver"));
    }
    void Fire(uint id) { QMetaObject::invokeMethod(&mutter, "Fire", Qt::QueuedConnection, Q_ARG(uint, id)); }
    // A call the stand-in answers after all it was asked or told before, so
    // what it sent meanwhile (replies, signals) has reached the monitor.
    void RoundTrip()
    {
        const QDBusMessage reply = ClientBus().call(QDBusMessage::createMethodCall(
            QStringLiteral("org.gnome.Mutter.IdleMonitor"), QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"),
            QStringLiteral("org.gnome.Mutter.IdleMonitor"), QStringLiteral("GetIdletime")));
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        RunFor(20);
    }
    // The idle time the monitor reads, once it reads at least `atLeast`: a
    // busy machine may miss the call's time limit, which reads as input.
    static quint32 IdleOnceAtLeast(IInputMonitor &monitor, quint32 atLeast)
    {
        quint32 idle = 0;
        WaitFor([&] { return (idle = monitor.TickNow() - monitor.LastInputTick()) >= atLeast; });
        return idle;
    }

    FakeMutter mutter;
    FakeScreenSaver saver;
};

} // namespace

TEST_F(DBusIdleMonitorTest, GnomeIdleTimeAndWatchesDriveTheMonitor)
{
    OfferMutter();
    TMutterIdleMonitor monitor(ClientBus());
    QString reason;
    ASSERT_TRUE(monitor.Install(&reason)) << reason.toStdString();

    mutter.idleMs = 5000;
    const quint32 idle = IdleOnceAtLeast(monitor, 5000);
    EXPECT_GE(idle, 5000u);
    EXPECT_LT(idle, 7000u);

    int idleReached = 0;
    int resumed = 0;
    QObject::connect(&monitor, &IInputMonitor::IdleReached, [&] { ++idleReached; });
    QObject::connect(&monitor, &IInputMonitor::InputResumed, [&] { ++resumed; });

    monitor.SetIdleThreshold(60000);
    ASSERT_TRUE(WaitFor([&] { return mutter.lastIdleInterval == 60000u; }));
    const uint idleWatch = mutter.lastIdleWatch;
    RoundTrip(); // the watch's id reaches the monitor
    Fire(idleWatch);
    ASSERT_TRUE(WaitFor([&] { return idleReached == 1; }));

    // A new threshold replaces the old watch.
    monitor.SetIdleThreshold(120000);
    ASSERT_TRUE(WaitFor([&] {
        QMutexLocker lock(&mutter.mutex);
        return mutter.removed.contains(idleWatch);
    }));

    monitor.WatchForInput();
    ASSERT_TRUE(WaitFor([&] { return mutter.lastActiveWatch != 0; }));
    const uint activeWatch = mutter.lastActiveWatch;
    RoundTrip();
    Fire(activeWatch);
    ASSERT_TRUE(WaitFor([&] { return resumed == 1; }));
    Fire(activeWatch); // fired watches are gone: a stray repeat is ignored
    RoundTrip();
    EXPECT_EQ(resumed, 1);
    EXPECT_EQ(idleReached, 1);

    // A desktop that stops answering counts as "input just now".
    monitor.Remove();
    QDBusConnection::disconnectFromBus(QStringLiteral("velmora-test-service"));
    quint32 later = idle;
    EXPECT_TRUE(WaitFor([&] { return (later = monitor.TickNow() - monitor.LastInputTick()) < 1000; })) << later;
}

TEST_F(DBusIdleMonitorTest, AMissingDesktopServiceIsRefusedWithItsName)
{
    TMutterIdleMonitor mutterMonitor(ClientBus());
    QString reason;
    EXPECT_FALSE(mutterMonitor.Install(&reason));
    EXPECT_EQ(reason, QStringLiteral("org.gnome.Mutter.IdleMonitor is not running"));
    TScreenSaverIdleMonitor saverMonitor(ClientBus());
    EXPECT_FALSE(saverMonitor.Install(&reason));
    EXPECT_EQ(reason, QStringLiteral("org.freedesktop.ScreenSaver is not running"));

    TMutterIdleMonitor noBus(QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"),
                                                           QStringLiteral("velmora-test-nobus")));
    EXPECT_FALSE(noBus.Install(&reason));
    EXPECT_EQ(reason, QStringLiteral("no session bus"));
    QDBusConnection::disconnectFromBus(QStringLiteral("velmora-test-nobus"));
}

TEST_F(DBusIdleMonitorTest, ScreenSaverIdleTimeIsPolledWhileAsleep)
{
    OfferScreenSaver();
    TScreenSaverIdleMonitor monitor(ClientBus());
    QString reason;
    ASSERT_TRUE(monitor.Install(&reason)) << reason.toStdString();
    saver.idleMs = 700000;
    const quint32 idle = IdleOnceAtLeast(monitor, 700000);
    EXPECT_GE(idle, 700000u);
    EXPECT_LT(idle, 702000u);

    int resumed = 0;
    QObject::connect(&monitor, &IInputMonitor::InputResumed, [&] { ++resumed; });
    monitor.WatchForInput();
    RunFor(TPollingMonitor::kPollMs + 100); // a poll, without input
    EXPECT_EQ(resumed, 0);
    saver.idleMs = 50; // the operator is back
    EXPECT_TRUE(WaitFor([&] { return resumed == 1; }, 10000));
}

#include "DBusIdleMonitorTest.moc"
