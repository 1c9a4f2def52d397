// A visitor's call from its announcement to the end of its chat window, with
// the real call handling and call list around the window.
#include "chat/CallsLink.h"
#include "chat/OneChatWindow.h"
#include "config/Settings.h"
#include "protocol/ChatMessages.h"
#include "session/Calls.h"
#include "session/CloseSockets.h"
#include "session/ServerSession.h"
#include "support/FakeChatServer.h"
#include "support/RecordingBoxes.h"
#include "support/TestUtil.h"

#include <QPointer>

#include <gtest/gtest.h>

namespace velmora::test {
namespace {

class WindowFactory final : public ICallsHost, public IChatHost {
public:
    // The alert stays open until the test answers it.
    std::function<void()> ShowNewCallAlertThen(quint16, const QString &, const QString &, bool, const QString &,
                                               std::function<void(bool)> answered) override
    {
        alert = std::move(answered);
        return {};
    }
    IChatWindow *CreateChatWindow(ChatItem *record, int number) override
    {
        window = new TOneChatWindow(number, record, *link, *this);
        return window;
    }
    bool SoundsOn() const override { return false; }

    TCallsLink *link = nullptr;
    QPointer<TOneChatWindow> window;
    std::function<void(bool)> alert;
};

TEST(ChatCallsIntegration, AcceptedCallOpensItsWindowAndEndsAsHistory)
{
    const TSettings saved = Settings();
    FakeChatServer server;
    server.SetSendInitialConnect(true);
    Settings().WebSiteUrl = server.Host();
    Settings().WebListenPort = QString::number(server.Port());
    Settings().SupportName = QStringLiteral("Anna");
    Settings().WelcomeImgFileName.clear();
    Settings().ChatSoundFile.clear();
    RecordingBoxes boxes;

    WindowFactory factory;
    ISessionHost sessionHost;
    TServerSession session(sessionHost, nullptr);
    ShowProblemsAsBoxes(session);
    session.HandleServerMessage(server::CHAT_LIMIT, MessageBuilder(server::CHAT_LIMIT).Int(2).Finish()->mid(6));
    ASSERT_EQ(session.ChatLimit(), 2);
    {
        TCloseSockets closer;
        TCalls calls(factory, session, closer, nullptr);
        ShowProblemsAsBoxes(calls);
        TCallsLink link(calls);
        factory.link = &link;

        calls.NewCall(77, 0, QStringLiteral("www.example.org"), QStringLiteral("10.0.0.1"), server::CLIENT_LISTED);
        ASSERT_TRUE(factory.alert);
        factory.alert(true);
        ASSERT_GE(server.WaitForFrame(chat::SUPPORT_ANSWERS_TO_CLI, 10000), 0);
        server.SendRaw(0, chat::BuildSessionReady(77));
        ASSERT_TRUE(WaitFor([&] { return !factory.window.isNull(); }));
        ASSERT_GE(server.WaitForFrame(chat::CHAT_OPTIONS), 0);
        EXPECT_EQ(calls.CallList().StatusOfCall(77), QStringLiteral("In Chat..."));
        EXPECT_EQ(calls.OpenChatWindows(), 1);

        server.SendRaw(0, *chat::BuildUserDetails("Eve", "eve@example.org", "555"));
        ASSERT_TRUE(WaitFor([&] { return calls.CallList().Cell(0, ColClientName) == QStringLiteral("Eve"); }));
        EXPECT_EQ(calls.CallList().Cell(0, ColClientEmail), QStringLiteral("eve@example.org"));

        factory.window->FormClose();
        const int end = server.WaitForFrame(chat::END_SESSION);
        EXPECT_GE(end, 0);
        ASSERT_TRUE(WaitFor([&] { return calls.OpenChatWindows() == 0; }));
        EXPECT_EQ(calls.CallList().Cell(0, ColStatus), QStringLiteral("End Chat !"));
        EXPECT_FALSE(calls.CallList().Cell(0, ColEndTime).isEmpty());
        EXPECT_EQ(calls.CallList().RowData(0), nullptr); // history now
        EXPECT_EQ(calls.OpenChatWindows(), 0);
        EXPECT_TRUE(calls.ChatWindows().isEmpty());
        EXPECT_TRUE(server.WaitForClosed(0));
        EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.Texts().join(QLatin1Char('|')).toStdString();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(factory.window.isNull());
    }
    Settings() = saved;
}

} // namespace
} // namespace velmora::test
