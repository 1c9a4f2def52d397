// The idle detector's timer logic against a monitor whose clock the test sets.
#include "idle/IdleSleeper.h"

#include "FakeInputMonitor.h"
#include "TestUtil.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <limits>

using namespace velmora;
using namespace velmora::test;

namespace {

class IdleSleeperTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sleeper.SetOnSleep([this] { ++sleeps; });
        sleeper.SetOnAwake([this] { ++awakes; });
    }

    // Activates with `seconds` and the fake as the desktop's monitor.
    void Start(quint32 seconds)
    {
        sleeper.SetInterval(seconds);
        QString error;
        ASSERT_TRUE(sleeper.SetActive(true, &error)) << error.toStdString();
    }

    // Lets `ms` pass and the timer expire then, as the event loop would.
    void Expire(quint32 ms)
    {
        fake->Advance(ms);
        sleeper.TimerExpired();
    }

    FakeInputMonitor *fake = new FakeInputMonitor;
    std::unique_ptr<IInputMonitor> owned{fake};
    TIdleSleeper sleeper{[this](QString *) { return std::move(owned); }};
    int sleeps = 0;
    int awakes = 0;
};

} // namespace

TEST_F(IdleSleeperTest, OneIdlePeriodGivesExactlyOneSleepAndOneAwake)
{
    Start(300);
    EXPECT_TRUE(sleeper.TimerArmed());
    EXPECT_EQ(sleeper.TimerInterval(), 300000);
    EXPECT_EQ(fake->threshold, 300000u);

    Expire(300000);
    EXPECT_EQ(sleeps, 1);
    EXPECT_TRUE(sleeper.Sleeping());
    EXPECT_FALSE(sleeper.TimerArmed());
    EXPECT_TRUE(fake->watching);

    // Staying away raises nothing more, whatever fires meanwhile.
    Expire(600000);
    emit fake->IdleReached();
    EXPECT_EQ(sleeps, 1);
    EXPECT_EQ(awakes, 0);

    fake->Input();
    EXPECT_EQ(awakes, 1);
    EXPECT_FALSE(sleeper.Sleeping());
    EXPECT_EQ(sleeper.TimerInterval(), 300000); // a fresh interval from the input
    fake->Input();                             // more input: nothing new
    EXPECT_EQ(awakes, 1);
    EXPECT_EQ(sleeps, 1);
}

TEST_F(IdleSleeperTest, InputDuringTheIntervalPushesTheSleepToAFullIntervalAfterIt)
{
    Start(300);
    fake->Advance(240000, true); // input at minute 4
    Expire(60000);               // the timer set at the start expires
    EXPECT_EQ(sleeps, 0);
    EXPECT_TRUE(sleeper.TimerArmed());
    EXPECT_EQ(sleeper.TimerInterval(), 240000);
    Expire(239999);
    EXPECT_EQ(sleeps, 0);
    Expire(1);
    EXPECT_EQ(sleeps, 1);
}

TEST_F(IdleSleeperTest, AnOperatorAwayAtActivationGetsAWholeIntervalFromThen)
{
    fake->now = 10'000'000;
    fake->lastInput = fake->now - 900000; // away for 15 minutes already
    Start(300);
    EXPECT_EQ(sleeper.TimerInterval(), 300000);
    Expire(299000);
    EXPECT_EQ(sleeps, 0);
    EXPECT_EQ(sleeper.TimerInterval(), 1000);
    Expire(1000);
    EXPECT_EQ(sleeps, 1);
}

TEST_F(IdleSleeperTest, TickArithmeticHoldsAcrossThe32BitWrap)
{
    // Input 16 s before the tick counter wraps.
    fake->now = 0xFFFFC000u;
    fake->lastInput = fake->now;
    Start(60);
    Expire(30000); // now past the wrap, numerically tiny
    ASSERT_LT(fake->now, 0x10000u);
    EXPECT_EQ(sleeps, 0);
    EXPECT_EQ(sleeper.TimerInterval(), 30000);
    Expire(30000);
    EXPECT_EQ(sleeps, 1);

    // Back at the keyboard just before the wrap, checked just after it.
    fake->now = 0xFFFFFF00u;
    fake->Input();
    EXPECT_EQ(awakes, 1);
    Expire(59999);
    EXPECT_EQ(sleeps, 1);
    EXPECT_EQ(sleeper.TimerInterval(), 1);
    Expire(1);
    EXPECT_EQ(sleeps, 2);
}

TEST_F(IdleSleeperTest, AwayAtActivationRightAcrossTheWrap)
{
    fake->now = 0xFFFFF000u;
    fake->lastInput = 0x80000000u; // long ago
    Start(10);
    EXPECT_EQ(sleeper.TimerInterval(), 10000);
    Expire(9999); // crosses the wrap
    EXPECT_EQ(sleeps, 0);
    Expire(1);
    EXPECT_EQ(sleeps, 1);
}

TEST_F(IdleSleeperTest, NothingIsArmedWithoutIntervalActivityOrHandler)
{
    Start(0);
    EXPECT_FALSE(sleeper.TimerArmed());
    Expire(1'000'000);
    EXPECT_EQ(sleeps, 0);

    sleeper.SetInterval(60);
    EXPECT_TRUE(sleeper.TimerArmed());
    sleeper.SetOnSleep(nullptr);
    EXPECT_FALSE(sleeper.TimerArmed());
    Expire(1'000'000);
    EXPECT_EQ(sleeps, 0);

    sleeper.SetOnSleep([this] { ++sleeps; });
    EXPECT_TRUE(sleeper.TimerArmed());
    sleeper.SetActive(false);
    EXPECT_FALSE(sleeper.TimerArmed());
    EXPECT_FALSE(fake->installed);
}

TEST_F(IdleSleeperTest, DeactivatingWhileAsleepEndsItAndTheNextActivationStartsAfresh)
{
    Start(60);
    Expire(60000);
    ASSERT_TRUE(sleeper.Sleeping());
    sleeper.SetActive(false);
    EXPECT_FALSE(sleeper.Sleeping());
    EXPECT_FALSE(fake->watching);
    fake->Input();
    EXPECT_EQ(awakes, 0);

    // The next login: a whole interval, although input was long ago.
    Expire(500000);
    ASSERT_TRUE(sleeper.SetActive(true));
    EXPECT_EQ(sleeper.TimerInterval(), 60000);
    EXPECT_EQ(fake->installs, 2);
    Expire(59000);
    EXPECT_EQ(sleeps, 1);
}

TEST_F(IdleSleeperTest, ChangingTheIntervalWhileActiveReArmsFromTheLastInput)
{
    Start(300);
    fake->Advance(20000);
    sleeper.SetInterval(60);
    EXPECT_EQ(sleeper.TimerInterval(), 40000);
    EXPECT_EQ(fake->threshold, 60000u);
    // Shorter than the time already idle: a whole new interval.
    fake->Advance(30000);
    sleeper.SetInterval(30);
    EXPECT_EQ(sleeper.TimerInterval(), 30000);
}

TEST_F(IdleSleeperTest, IntervalsBeyondATimersRangeAreReArmedForTheRest)
{
    Start(3'000'000); // 3e9 ms, more than a timer takes
    EXPECT_EQ(sleeper.TimerInterval(), std::numeric_limits<int>::max());
    Expire(std::numeric_limits<int>::max());
    EXPECT_EQ(sleeps, 0);
    EXPECT_EQ(sleeper.TimerInterval(), 3'000'000'000 - std::numeric_limits<int>::max());
}

TEST_F(IdleSleeperTest, AMonitorThatCannotWorkLeavesTheDetectorInactiveWithTheReason)
{
    fake->installable = false;
    sleeper.SetInterval(60);
    QString error;
    EXPECT_FALSE(sleeper.SetActive(true, &error));
    EXPECT_EQ(error, QStringLiteral("cannot install the fake"));
    EXPECT_FALSE(sleeper.Active());
    EXPECT_FALSE(sleeper.TimerArmed());

    TIdleSleeper none([](QString *reason) {
        *reason = QStringLiteral("no desktop here");
        return std::unique_ptr<IInputMonitor>();
    });
    none.SetOnSleep([] {});
    EXPECT_FALSE(none.SetActive(true, &error));
    EXPECT_EQ(error, QStringLiteral("no desktop here"));
}

TEST_F(IdleSleeperTest, ASleepHandlerThatDeactivatesTheDetectorLeavesItQuiet)
{
    sleeper.SetOnSleep([this] {
        ++sleeps;
        sleeper.SetActive(false); // the send failed and the login went
    });
    Start(60);
    Expire(60000);
    EXPECT_EQ(sleeps, 1);
    EXPECT_FALSE(sleeper.Active());
    EXPECT_FALSE(sleeper.TimerArmed());
    fake->Input();
    EXPECT_EQ(awakes, 0);
}

TEST(IdleSleeperRealTimer, TheTimerFiresOnTheEventLoopAfterTheInterval)
{
    auto monitor = std::make_unique<FakeInputMonitor>();
    FakeInputMonitor *fake = monitor.get();
    fake->now = MonotonicTick();
    fake->lastInput = fake->now;
    TIdleSleeper sleeper([&](QString *) { return std::move(monitor); });
    int sleeps = 0;
    QElapsedTimer elapsed;
    sleeper.SetOnSleep([&] { ++sleeps; });
    sleeper.SetInterval(1);
    elapsed.start();
    ASSERT_TRUE(sleeper.SetActive(true));
    // The fake's clock moves with real time while the test waits.
    QTimer clock;
    QObject::connect(&clock, &QTimer::timeout, [&] { fake->now = fake->lastInput + quint32(elapsed.elapsed()); });
    clock.start(10);
    EXPECT_TRUE(WaitFor([&] { return sleeps == 1; }, 15000));
    EXPECT_GE(elapsed.elapsed(), 900);
}
