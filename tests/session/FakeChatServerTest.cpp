// The fake server's own promises that wire tests rely on.
#include "session/ClientSocket.h"
#include "session/SocketBuff.h"
#include "support/FakeChatServer.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace velmora {
namespace {

TEST(FakeChatServerTest, ArrivalTimesHoldWhileTheTestThreadIsBlocked)
{
    test::FakeChatServer server;
    server.SetSendInitialConnect(true);
    TClientSocket socket;
    std::vector<quint16> got;
    socket.SetFrameHandler([&](quint16 code, const QByteArray &) { got.push_back(code); });
    socket.SetHost(server.Host());
    socket.SetPort(server.Port());
    ASSERT_TRUE(socket.Open());
    ASSERT_TRUE(test::WaitFor([&] { return got.size() == 1; }));
    EXPECT_EQ(got[0], 1); // the greeting

    TSocketBuff worker;
    ASSERT_TRUE(QueueMessage(socket, worker, test::MakeFrame(0x0100, "a")));
    std::this_thread::sleep_for(std::chrono::milliseconds(250)); // the test thread is blocked
    ASSERT_TRUE(QueueMessage(socket, worker, test::MakeFrame(0x0113, "b")));
    ASSERT_TRUE(server.WaitForFrames(2));
    const auto frames = server.Frames();
    EXPECT_GE(frames[1].atMs - frames[0].atMs, 240);
    EXPECT_EQ(server.RawBytes(0), test::MakeFrame(0x0100, "a") + test::MakeFrame(0x0113, "b"));

    server.CloseConnection(0);
    EXPECT_FALSE(server.IsOpen(0));
    EXPECT_FALSE(server.SendFrame(0, 5));
}

} // namespace
} // namespace velmora
