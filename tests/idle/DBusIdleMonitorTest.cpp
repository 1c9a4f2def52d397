// The GNOME and KDE monitors on a real private session bus, against stand-ins
// for the desktops' services (no desktop runs here).
#include "idle/DBusIdleMonitors.h"

#include "PrivateBus.h"
#include "TestUtil.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
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
    const quint32 idle = monitor.TickNow() - monitor.LastInputTick();
    EXPECT_GE(idle, 5000u);
    EXPECT_LT(idle, 5500u);

    int idleReached = 0;
    int resumed = 0;
    QObject::connect(&monitor, &IInputMonitor::IdleReached, [&] { ++idleReached; });
    QObject::connect(&monitor, &IInputMonitor::InputResumed, [&] { ++resumed; });

    monitor.SetIdleThreshold(60000);
    ASSERT_TRUE(WaitFor([&] { return mutter.lastIdleInterval == 60000u; }));
    const uint idleWatch = mutter.lastIdleWatch;
    QTest::qWait(100); // the watch's id reaches the monitor
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
    QTest::qWait(100);
    Fire(activeWatch);
    ASSERT_TRUE(WaitFor([&] { return resumed == 1; }));
    Fire(activeWatch); // fired watches are gone: a stray repeat is ignored
    QTest::qWait(200);
    EXPECT_EQ(resumed, 1);
    EXPECT_EQ(idleReached, 1);

    // A desktop that stops answering counts as "input just now".
    monitor.Remove();
    QDBusConnection::disconnectFromBus(QStringLiteral("velmora-test-service"));
    QTest::qWait(100);
    EXPECT_LT(quint32(monitor.TickNow() - monitor.LastInputTick()), 100u);
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
    const quint32 idle = monitor.TickNow() - monitor.LastInputTick();
    EXPECT_GE(idle, 700000u);
    EXPECT_LT(idle, 700500u);

    int resumed = 0;
    QObject::connect(&monitor, &IInputMonitor::InputResumed, [&] { ++resumed; });
    monitor.WatchForInput();
    QTest::qWait(TPollingMonitor::kPollMs + 300);
    EXPECT_EQ(resumed, 0);
    saver.idleMs = 50; // the operator is back
    EXPECT_TRUE(WaitFor([&] { return resumed == 1; }, 3000));
}

#include "DBusIdleMonitorTest.moc"
