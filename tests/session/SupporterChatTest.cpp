// A chat with another supporter without any window: this console plays the
// visitor's side on a connection of its own, against the fake chat server.
#include "session/SupporterChat.h"

#include "support/ArchivedChat.h"
#include "protocol/ChatMessages.h"
#include "protocol/MessageCodes.h"
#include "support/FakeChatServer.h"
#include "support/SupporterChatSettings.h"
#include "support/TestUtil.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace velmora {
namespace {

using test::BodyOf;
using test::FakeChatServer;
using test::RunFor;
using test::WaitFor;

class RecordingSupporterView final : public ISupporterChatView {
public:
    void RequestSent() override { events << QStringLiteral("sent"); }
    void SupportListed() override { events << QStringLiteral("listed"); }
    void Welcomed(const QString &text) override { events << QStringLiteral("welcome ") + text; }
    void SupporterAnswered(const QString &name, const QString &welcome) override
    {
        events << QStringLiteral("answer ") + name + QLatin1Char('|') + welcome;
    }
    void SupportRefused(bool maintenance) override { events << QStringLiteral("refused %1").arg(maintenance); }
    void OtherMessage(quint16 code, const QByteArray &) override { events << QStringLiteral("other %1").arg(code); }
    QStringList events;
};

class SupporterChatTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetArchiveRecorder(&recorder);
        ASSERT_TRUE(chat.Begin());
        ASSERT_TRUE(server.WaitForConnections(1));
        ASSERT_GE(server.WaitForFrame(chat::SUPPORT_CHAT_REQUEST), 0);
    }
    void TearDown() override
    {
        chat.Release();
        SetArchiveRecorder(nullptr);
    }

    QTemporaryDir dir;
    TArchiveRecorder recorder{dir.filePath(QLatin1String(kArchiveFileName))};
    FakeChatServer server;
    test::SupporterChatSettings settings{server};
    RecordingSupporterView view;
    TSupporterChat chat{view, 42};
};

TEST_F(SupporterChatTest, RequestsTheSupporterAndAnswersTheSessionWithPacedDetails)
{
    const auto request = chat::DecodeSupportChatRequest(server.Frames()[0].body);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->clientId, QByteArray("acme"));
    EXPECT_EQ(request->port, 42);
    EXPECT_EQ(view.events, QStringList{QStringLiteral("sent")});

    // SESSION_READY is answered with the number and our details, 20 ms apart.
    server.SendFrame(0, chat::SESSION_READY, BodyOf(chat::BuildSessionReady(77)));
    const int details = server.WaitForFrame(chat::USER_DETAILS);
    ASSERT_GE(details, 0);
    const auto frames = server.Frames();
    ASSERT_EQ(frames[details - 1].code, chat::SESSION_READY);
    EXPECT_EQ(chat::DecodeSessionReady(frames[details - 1].body), 77);
    EXPECT_GE(frames[details].atMs - frames[details - 1].atMs, 15);
    const auto user = chat::DecodeUserDetails(frames[details].body);
    ASSERT_TRUE(user);
    EXPECT_EQ(user->name, QByteArray("Anna"));
    EXPECT_EQ(user->email, QByteArray("Not Supplied !"));
    EXPECT_TRUE(user->phone.isEmpty());
    EXPECT_EQ(chat.SessionCount(), 77);

    server.SendFrame(0, chat::SUPPORT_LISTED);
    server.SendFrame(0, chat::WELCOME_MSG, BodyOf(*chat::BuildWelcomeMsg("Welcome!")));
    server.SendFrame(0, chat::SUPPORT_WELCOME, BodyOf(*chat::BuildSupportWelcome("Bert", "Hi Anna")));
    // One refusal is told per request, however many the server sends.
    QByteArray refusals;
    for (int i = 0; i < 30; ++i)
        refusals += test::MakeFrame(chat::SUPPORT_UNAVAILABLE);
    server.SendRaw(0, refusals + test::MakeFrame(chat::SUPPORT_IN_MAINTENANCE));
    // Codes meant for web visitors are only passed on.
    server.SendFrame(0, chat::PUSH_URL, BodyOf(*chat::BuildPushUrl("http://x")));
    ASSERT_TRUE(WaitFor([&] { return view.events.size() == 6; }));
    EXPECT_EQ(view.events.mid(1),
              (QStringList{QStringLiteral("listed"), QStringLiteral("welcome Welcome!"),
                           QStringLiteral("answer Bert|Hi Anna"), QStringLiteral("refused 0"),
                           QStringLiteral("other %1").arg(chat::PUSH_URL)}));
    EXPECT_EQ(chat.RemoteName(), QStringLiteral("Bert"));
    server.SendRaw(0, test::MakeFrame(chat::INITIAL_CONNECT) + test::MakeFrame(chat::SUPPORT_IN_MAINTENANCE));
    ASSERT_TRUE(WaitFor([&] { return view.events.size() == 8; }));
    EXPECT_EQ(view.events.mid(6), (QStringList{QStringLiteral("sent"), QStringLiteral("refused 1")}));

    // The archive keeps the chat under the number the server gave it.
    chat.EndArchive(QStringLiteral("End Chat !"));
    const std::optional<TArchiveChat> kept = test::OnlyArchivedChat(recorder, QStringLiteral("Bert"));
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->SessionCount, 77);
}

TEST_F(SupporterChatTest, AfterLeavingNothingIsAnsweredButTheFarewellGoes)
{
    const int from = server.FrameCount();
    chat.Leave();
    server.SendFrame(0, chat::INITIAL_CONNECT);
    server.SendFrame(0, chat::SESSION_READY, BodyOf(chat::BuildSessionReady(77)));
    server.SendFrame(0, chat::SUPPORT_WELCOME, BodyOf(*chat::BuildSupportWelcome("Bert", "Hi Anna")));
    RunFor(150);
    std::vector<quint16> codes;
    for (const auto &f : server.Frames())
        codes.push_back(f.code);
    EXPECT_EQ(std::vector<quint16>(codes.begin() + from, codes.end()), std::vector<quint16>{chat::END_SESSION});
    EXPECT_EQ(view.events, QStringList{QStringLiteral("sent")});
    EXPECT_EQ(chat.SessionCount(), 0);
}

} // namespace
} // namespace velmora
