// The chat connection alone, without a chat of either kind: its clock, its
// typing notices and its paced sends against the fake chat server.
#include "session/ChatConnection.h"

#include "protocol/ChatMessages.h"
#include "protocol/MessageCodes.h"
#include "support/FakeChatServer.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmora::test {
namespace {

// The connection class alone, without a window.
class CountingView final : public IChatView {
public:
    void RemoteLine(const QString &text) override { lines << text; }
    void ClockTicked(quint32 seconds) override { clock = seconds; }
    void OtherMessage(quint16 code, const QByteArray &) override { others << code; }
    QStringList lines;
    QList<quint16> others;
    quint32 clock = 0;
};

TEST(ChatConnection, KeepAliveEverySixtySecondsAndTypingNoticesOnce)
{
    FakeChatServer server;
    CountingView view;
    TChatConnection connection(view);
    ASSERT_TRUE(connection.Open(server.Host(), server.Port()));
    ASSERT_TRUE(WaitFor([&] { return connection.IsConnected(); }));
    connection.StartClock();
    EXPECT_EQ(view.clock, 1u);
    for (int i = 1; i < 180; ++i)
        connection.Tick();
    connection.InputChanged(false);
    connection.InputChanged(false);
    connection.InputChanged(true);
    ASSERT_TRUE(server.WaitForFrames(5));
    std::vector<quint16> codes;
    for (const auto &f : server.Frames())
        codes.push_back(f.code);
    EXPECT_EQ(codes, (std::vector<quint16>{chat::CHAT_KEEP_ALIVE, chat::CHAT_KEEP_ALIVE, chat::CHAT_KEEP_ALIVE,
                                           chat::TYPING_START, chat::TYPING_STOP}));
    EXPECT_FALSE(connection.SendLine(QByteArray()));
    connection.StopClock();
}

TEST(ChatConnection, FramesOfTheFarEndWaitForThePacedSends)
{
    FakeChatServer server;
    CountingView view;
    TChatConnection connection(view);
    ASSERT_TRUE(connection.Open(server.Host(), server.Port()));
    ASSERT_TRUE(WaitFor([&] { return connection.IsConnected() && server.ConnectionCount() == 1; }));
    bool done = false;
    connection.SendPaced({chat::BuildTypingStart(), chat::BuildTypingStop()}, 60, [&] { done = true; });
    EXPECT_TRUE(connection.Pacing());
    server.SendRaw(0, *chat::BuildChatText("one") + *chat::BuildWelcomeMsg("two") + *chat::BuildChatText("three"));
    ASSERT_TRUE(WaitFor([&] { return !view.lines.isEmpty(); }));
    // Nothing was handled before the last pause was over.
    EXPECT_TRUE(done);
    EXPECT_FALSE(connection.Pacing());
    ASSERT_TRUE(WaitFor([&] { return view.lines.size() == 2; }));
    EXPECT_EQ(view.lines, (QStringList{QStringLiteral("one"), QStringLiteral("three")}));
    EXPECT_EQ(view.others, QList<quint16>{chat::WELCOME_MSG});

    // A released connection ends its exchange: what comes after the first
    // pause never goes out.
    connection.SendPaced({chat::BuildTypingStart(), chat::BuildTypingStop()}, 60);
    connection.Release();
    RunFor(150);
    const auto frames = server.Frames();
    EXPECT_LE(frames.size(), 3u);
    EXPECT_EQ(frames[1].code, chat::TYPING_STOP);
    if (frames.size() == 3) {
        EXPECT_EQ(frames[2].code, chat::TYPING_START);
    }
}

} // namespace
} // namespace velmora::test
