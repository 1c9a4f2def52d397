// The X11 monitor against a real X server (Xvfb on a display of its own) with
// input sent the way a user's would arrive, through xdotool.
#include "idle/X11IdleMonitor.h"

#include "idle/IdleSleeper.h"

#include "TestUtil.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

namespace {

class X11IdleMonitorTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            return;
        s_xvfb = new QProcess;
        // -displayfd: the server picks a free display and writes its number.
        s_xvfb->start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                              QStringLiteral("-screen"), QStringLiteral("0"),
                                              QStringLiteral("640x480x24"), QStringLiteral("-nolisten"),
                                              QStringLiteral("tcp")});
        QByteArray out;
        QElapsedTimer t;
        t.start();
        while (!out.contains('\n') && t.elapsed() < 10000 && s_xvfb->state() != QProcess::NotRunning) {
            s_xvfb->waitForReadyRead(200);
            out += s_xvfb->readAllStandardOutput();
        }
        if (out.contains('\n'))
            s_display = ":" + out.trimmed();
    }
    static void TearDownTestSuite()
    {
        if (s_xvfb) {
            s_xvfb->terminate();
            s_xvfb->waitForFinished(3000);
            delete s_xvfb;
            s_xvfb = nullptr;
        }
        s_display.clear();
    }
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            GTEST_SKIP() << "Xvfb or xdotool is not installed";
        ASSERT_FALSE(s_display.isEmpty()) << "Xvfb did not start";
    }

    static void MoveMouse(int x, int y)
    {
        QProcess xdotool;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(s_display));
        xdotool.setProcessEnvironment(env);
        xdotool.start(QStringLiteral("xdotool"),
                      {QStringLiteral("mousemove"), QString::number(x), QString::number(y)});
        ASSERT_TRUE(xdotool.waitForFinished(5000));
        ASSERT_EQ(xdotool.exitCode(), 0) << xdotool.readAllStandardError().toStdString();
    }

    static quint32 IdleMs(TX11IdleMonitor &monitor) { return monitor.TickNow() - monitor.LastInputTick(); }

    static inline QProcess *s_xvfb = nullptr;
    static inline QByteArray s_display;
};

} // namespace

TEST_F(X11IdleMonitorTest, IdleTimeGrowsWithoutInputAndDropsAtAMouseMove)
{
    TX11IdleMonitor monitor(s_display);
    QString reason;
    ASSERT_TRUE(monitor.Install(&reason)) << reason.toStdString();
    MoveMouse(10, 10);
    EXPECT_LT(IdleMs(monitor), 500u);
    QTest::qWait(1200);
    EXPECT_GE(IdleMs(monitor), 1000u);
    MoveMouse(200, 150);
    EXPECT_LT(IdleMs(monitor), 500u);
}

TEST_F(X11IdleMonitorTest, WatchingReportsTheFirstInputOnceAndNothingWithoutInput)
{
    TX11IdleMonitor monitor(s_display);
    ASSERT_TRUE(monitor.Install(nullptr));
    int resumed = 0;
    QObject::connect(&monitor, &IInputMonitor::InputResumed, [&] { ++resumed; });
    monitor.WatchForInput();
    QTest::qWait(2 * TPollingMonitor::kPollMs + 200);
    EXPECT_EQ(resumed, 0);

    MoveMouse(30, 40);
    EXPECT_TRUE(WaitFor([&] { return resumed == 1; }, 3000));
    MoveMouse(50, 60);
    QTest::qWait(TPollingMonitor::kPollMs + 200);
    EXPECT_EQ(resumed, 1);
}

TEST_F(X11IdleMonitorTest, TheDetectorSleepsWithoutInputAndWakesAtTheNextMouseMove)
{
    TIdleSleeper sleeper([](QString *) { return std::make_unique<TX11IdleMonitor>(s_display); });
    int sleeps = 0;
    int awakes = 0;
    sleeper.SetOnSleep([&] { ++sleeps; });
    sleeper.SetOnAwake([&] { ++awakes; });
    sleeper.SetInterval(1);
    MoveMouse(5, 5);
    QString error;
    ASSERT_TRUE(sleeper.SetActive(true, &error)) << error.toStdString();
    ASSERT_TRUE(WaitFor([&] { return sleeps == 1; }, 4000));
    EXPECT_EQ(awakes, 0);
    MoveMouse(100, 100);
    ASSERT_TRUE(WaitFor([&] { return awakes == 1; }, 4000));
    EXPECT_EQ(sleeps, 1);
    EXPECT_FALSE(sleeper.Sleeping());
}

TEST(X11IdleMonitorNoServer, ADisplayThatIsNotThereIsRefusedWithAReason)
{
    TX11IdleMonitor monitor(":4093");
    QString reason;
    EXPECT_FALSE(monitor.Install(&reason));
    EXPECT_EQ(reason, QStringLiteral("cannot open the X display"));
}
