// Exchanges: steps and pauses without blocking, frames held back on the
// connections they send on, turns taken on a shared connection, and the end
// of an exchange whose owner or connection goes away.
#include "session/Exchange.h"
#include "session/ClientSocket.h"
#include "session/SocketBuff.h"
#include "support/FakeChatServer.h"
#include "support/TestUtil.h"

#include <QElapsedTimer>
#include <QPointer>

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

namespace velmora {
namespace {

using test::FakeChatServer;
using test::MakeFrame;
using test::RunFor;
using test::WaitFor;

class ExchangeTest : public ::testing::Test {
protected:
    // A connected socket that records the codes it hands out.
    TClientSocket *Connect(std::vector<quint16> &got)
    {
        const int before = server.ConnectionCount();
        auto *socket = new TClientSocket(&owner);
        socket->SetFrameHandler([&got](quint16 code, const QByteArray &) { got.push_back(code); });
        socket->SetHost(server.Host());
        socket->SetPort(server.Port());
        bool connected = false;
        QObject::connect(socket, &TClientSocket::Connected, [&connected] { connected = true; });
        EXPECT_TRUE(socket->Open());
        EXPECT_TRUE(WaitFor([&] { return connected; }));
        EXPECT_TRUE(server.WaitForConnections(before + 1));
        return socket;
    }
    static void Settle(int ms) { RunFor(ms); }

    FakeChatServer server;
    QObject owner;
};

TEST_F(ExchangeTest, PausesReturnAtOnceAndKeepTheirLength)
{
    std::vector<int> steps;
    QElapsedTimer clock;
    clock.start();
    qint64 second = -1;
    (new TExchange(&owner, {}))
        ->Then([&] { steps.push_back(1); })
        .Pause(120)
        .Then([&] {
            steps.push_back(2);
            second = clock.elapsed();
        })
        .Start();
    EXPECT_EQ(steps, std::vector<int>{1}); // the first step ran, and Start returned
    EXPECT_EQ(TExchange::Unfinished(), 1);
    ASSERT_TRUE(WaitFor([&] { return steps.size() == 2; }));
    EXPECT_GE(second, 120);
    EXPECT_EQ(TExchange::Unfinished(), 0);
}

TEST_F(ExchangeTest, FramesOnATouchedConnectionWaitOthersDoNot)
{
    std::vector<quint16> heldGot;
    std::vector<quint16> freeGot;
    TClientSocket *held = Connect(heldGot);
    Connect(freeGot);
    ASSERT_TRUE(server.WaitForConnections(2));
    bool done = false;
    // Long enough to outlast the other connection's frame on a busy machine.
    (new TExchange(&owner, {held}))->Pause(1000).Then([&] { done = true; }).Start();
    server.SendRaw(0, MakeFrame(1) + MakeFrame(2));
    server.SendRaw(1, MakeFrame(3));
    ASSERT_TRUE(WaitFor([&] { return !freeGot.empty(); }));
    EXPECT_TRUE(heldGot.empty());
    EXPECT_FALSE(done);
    ASSERT_TRUE(WaitFor([&] { return heldGot.size() == 2; }));
    EXPECT_TRUE(done); // the frames came after the exchange's last step
    EXPECT_EQ(heldGot, (std::vector<quint16>{1, 2}));
}

TEST_F(ExchangeTest, ExchangesOnOneConnectionTakeTurns)
{
    std::vector<quint16> got;
    TClientSocket *socket = Connect(got);
    QStringList order;
    (new TExchange(&owner, {socket}))
        ->Then([&] { order << QStringLiteral("a1"); })
        .Pause(100)
        .Then([&] { order << QStringLiteral("a2"); })
        .Start();
    (new TExchange(&owner, {socket}))->Then([&] { order << QStringLiteral("b"); }).Start();
    (new TExchange(&owner, {}))->Then([&] { order << QStringLiteral("other"); }).Start();
    EXPECT_EQ(order, (QStringList{"a1", "other"}));
    ASSERT_TRUE(WaitFor([&] { return order.size() == 4; }));
    EXPECT_EQ(order, (QStringList{"a1", "other", "a2", "b"}));
}

TEST_F(ExchangeTest, OwnerGoneCancelsTheRestAndFreesTheConnection)
{
    std::vector<quint16> got;
    TClientSocket *socket = Connect(got); // owned by the fixture, not the exchange's owner
    auto owner2 = std::make_unique<QObject>();
    int ran = 0;
    (new TExchange(owner2.get(), {socket}))->Pause(250).Then([&] { ++ran; }).Start();
    bool later = false; // ends just after the cancelled step would have run
    (new TExchange(&owner, {}))->Pause(250).Then([&] { later = true; }).Start();
    server.SendRaw(0, MakeFrame(7));
    Settle(30);
    EXPECT_TRUE(got.empty());
    owner2.reset();
    ASSERT_TRUE(WaitFor([&] { return got.size() == 1; }));
    ASSERT_TRUE(WaitFor([&] { return later; }));
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(TExchange::Unfinished(), 0);
}

TEST_F(ExchangeTest, ConnectionGoneCancelsItsExchangesAndTheOnesWaiting)
{
    std::vector<quint16> got;
    TClientSocket *socket = Connect(got);
    int ran = 0;
    (new TExchange(&owner, {socket}))->Pause(100).Then([&] { ++ran; }).Start();
    (new TExchange(&owner, {socket}))->Then([&] { ++ran; }).Start();
    EXPECT_EQ(TExchange::Unfinished(), 2);
    bool later = false;
    (new TExchange(&owner, {}))->Pause(100).Then([&] { later = true; }).Start();
    delete socket;
    ASSERT_TRUE(WaitFor([&] { return later; }));
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(TExchange::Unfinished(), 0);
}

TEST_F(ExchangeTest, WaitUntilSentGoesOnWhenTheQueueEmptiesOrAfterItsBound)
{
    std::vector<quint16> got;
    TClientSocket *socket = Connect(got);
    TSocketBuff worker;
    bool sent = false;
    bool timedOut = false;
    ASSERT_TRUE(QueueMessage(*socket, worker, MakeFrame(5, QByteArray(4000, 'x'))));
    (new TExchange(&owner, {socket}))
        ->WaitUntilSent([&] { return &worker; }, [&] { timedOut = true; })
        .Then([&] { sent = worker.QueuedPieces() == 0; })
        .Start();
    ASSERT_TRUE(WaitFor([&] { return TExchange::Unfinished() == 0; }));
    EXPECT_TRUE(sent);
    EXPECT_FALSE(timedOut);

    // A peer that never takes anything: the wait ends after about 3.2 s.
    TSocketBuff stuck([](int, const char *, std::size_t) -> ssize_t {
        errno = EAGAIN;
        return -1;
    });
    stuck.Enqueue(socket->SharedHandle(), MakeFrame(6));
    QElapsedTimer clock;
    clock.start();
    bool went = false;
    (new TExchange(&owner, {socket}))
        ->WaitUntilSent([&] { return &stuck; }, [&] { timedOut = true; })
        .Then([&] { went = true; })
        .Start();
    ASSERT_TRUE(WaitFor([&] { return went; }, 30000));
    EXPECT_TRUE(timedOut);
    EXPECT_GE(clock.elapsed(), TExchange::kSendWaitMs);
}

} // namespace
} // namespace velmora
