// The X11 monitor against a real X server (Xvfb on a display of its own) with
// input sent the way a user's would arrive, through xdotool.
#include "idle/X11IdleMonitor.h"

#include "idle/IdleSleeper.h"

#include "TestUtil.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <string>

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
        // -displayfd: the server picks a free display and writes its number
        // once it accepts connections. -noreset: without it the server resets
        // whenever its last client (an xdotool run) leaves, and refuses the
        // clients that come meanwhile.
        s_xvfb->start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                              QStringLiteral("-screen"), QStringLiteral("0"),
                                              QStringLiteral("640x480x24"), QStringLiteral("-nolisten"),
                                              QStringLiteral("tcp"), QStringLiteral("-noreset")});
        QByteArray out;
        QDeadlineTimer deadline(30000);
        while (!out.contains('\n') && !deadline.hasExpired() && s_xvfb->state() != QProcess::NotRunning) {
            s_xvfb->waitForReadyRead(200);
            out += s_xvfb->readAllStandardOutput();
        }
        if (!out.contains('\n')) {
            s_failure = "Xvfb did not report a display within 30 s: "
                        + s_xvfb->readAllStandardError().toStdString();
            return;
        }
        const QByteArray display = ":" + out.trimmed();
        // Told ready; a client of ours must get in too before any test runs.
        while (!TX11IdleMonitor(display).Install(nullptr)) {
            if (deadline.hasExpired() || s_xvfb->state() == QProcess::NotRunning) {
                s_failure = "Xvfb on " + display.toStdString() + " does not accept connections: "
                            + s_xvfb->readAllStandardError().toStdString();
                return;
            }
            s_xvfb->waitForFinished(100);
        }
        s_display = display;
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
        s_failure.clear();
    }
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            GTEST_SKIP() << "Xvfb or xdotool is not installed";
        ASSERT_FALSE(s_display.isEmpty()) << s_failure;
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
    static inline std::string s_failure;
};

} // namespace

TEST_F(X11IdleMonitorTest, IdleTimeGrowsWithoutInputAndDropsAtAMouseMove)
{
    TX11IdleMonitor monitor(s_display);
    QString reason;
    ASSERT_TRUE(monitor.Install(&reason)) << reason.toStdString();
    MoveMouse(10, 10);
    quint32 idle = 0;
    ASSERT_TRUE(WaitFor([&] { return (idle = IdleMs(monitor)) >= 1000; }, 10000)) << idle;
    MoveMouse(200, 150);
    EXPECT_LT(IdleMs(monitor), idle);
}

TEST_F(X11IdleMonitorTest, WatchingReportsTheFirstInputOnceAndNothingWithoutInput)
{
    TX11IdleMonitor monitor(s_display);
    ASSERT_TRUE(monitor.Install(nullptr));
    int resumed = 0;
    QObject::connect(&monitor, &IInputMonitor::InputResumed, [&] { ++resumed; });
    // The server has only just started: the watch begins well after its last
    // input, as a detector's does, so a slow answer to a poll reads as no input.
    ASSERT_TRUE(WaitFor([&] { return IdleMs(monitor) >= 1000; }));
    monitor.WatchForInput();
    RunFor(TPollingMonitor::kPollMs + 100); // a poll, without input
    EXPECT_EQ(resumed, 0);

    MoveMouse(30, 40);
    EXPECT_TRUE(WaitFor([&] { return resumed == 1; }, 10000));
    MoveMouse(50, 60);
    RunFor(TPollingMonitor::kPollMs + 100);
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
    ASSERT_TRUE(WaitFor([&] { return sleeps == 1; }, 10000));
    EXPECT_EQ(awakes, 0);
    MoveMouse(100, 100);
    ASSERT_TRUE(WaitFor([&] { return awakes == 1; }, 10000));
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
