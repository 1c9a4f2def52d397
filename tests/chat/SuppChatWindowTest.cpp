// The supporter chat window against the fake chat server, which plays the
// server and the answering supporter's console on the window's own connection.
#include "ChatFixture.h"

#include "chat/ChatLines.h"
#include "chat/ChatPane.h"
#include "chat/SuppChatWindow.h"
#include "session/ChatConnection.h"
#include "support/SupporterChatSettings.h"

#include <QPushButton>
#include <QPlainTextEdit>
#include <QStatusBar>

namespace velmora::test {
namespace {

class FakeSuppHost final : public ISuppChatHost {
public:
    void SetChatWithOtherSupportEnabled(bool enabled) override { buttonEnabled = enabled; }
    void SetBusyAnimation(bool running) override { animation = running; }
    bool buttonEnabled = false;
    bool animation = false;
};

class SuppChatTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Settings().EmptyLineAdd = false;
        Settings().UseEnterKeyToSendMessage = true;
        Settings().ChatSoundFile.clear();
    }
    void TearDown() override
    {
        if (window)
            delete window.data();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Opens the window for the supporter with port value 42 and lets the
    // server take the request.
    void Open()
    {
        window = new TSuppChatWindow(42, QStringLiteral("Bert"), host);
        ASSERT_TRUE(server.WaitForConnections(1));
        ASSERT_GE(server.WaitForFrame(chat::SUPPORT_CHAT_REQUEST), 0);
    }
    // The server's side up to the answering operator's welcome.
    void Welcome()
    {
        server.SendFrame(0, chat::SESSION_READY, BodyOf(chat::BuildSessionReady(77)));
        ASSERT_GE(server.WaitForFrame(chat::USER_DETAILS), 0);
        server.SendFrame(0, chat::WELCOME_MSG, BodyOf(*chat::BuildWelcomeMsg("Welcome!")));
        server.SendFrame(0, chat::SUPPORT_WELCOME, BodyOf(*chat::BuildSupportWelcome("Bert", "Hi Anna")));
        ASSERT_TRUE(WaitFor([&] { return window->RemoteName() == QStringLiteral("Bert"); }));
    }
    QString Conversation() const { return window->Pane().ChatOutPutText->toPlainText(); }
    std::vector<quint16> Codes() const
    {
        std::vector<quint16> out;
        for (const auto &f : server.Frames())
            out.push_back(f.code);
        return out;
    }

    FakeChatServer server;
    SupporterChatSettings settings{server};
    RecordingBoxes boxes;
    ScriptedDialogs dialogs;
    FakeSuppHost host;
    QPointer<TSuppChatWindow> window;
};

TEST_F(SuppChatTest, PlaysTheVisitorsSideFromRequestToChat)
{
    // The request and its answers on the wire: SupporterChatTest.
    Open();
    EXPECT_FALSE(host.animation);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("  Support to support"));
    EXPECT_EQ(window->Pane().StatusPanelText(2), QStringLiteral("0:00:01"));

    server.SendFrame(0, chat::SUPPORT_LISTED);
    ASSERT_TRUE(WaitFor([&] { return Conversation() == QStringLiteral("Please wait ..."); }));
    EXPECT_EQ(window->Pane().StatusPanelText(1), QStringLiteral("Support listed ..."));

    server.SendFrame(0, chat::SESSION_READY, BodyOf(chat::BuildSessionReady(77)));
    ASSERT_GE(server.WaitForFrame(chat::USER_DETAILS), 0);
    EXPECT_EQ(window->SessionCount(), 77);

    // Nothing can be typed before the welcome.
    EXPECT_FALSE(window->Pane().InputText->isEnabled());
    server.SendFrame(0, chat::WELCOME_MSG, BodyOf(*chat::BuildWelcomeMsg("Welcome!")));
    ASSERT_TRUE(WaitFor([&] { return window->Pane().InputText->isEnabled(); }));
    EXPECT_EQ(window->Pane().StatusPanelText(1), QStringLiteral("Connected to support, wating for operator..."));

    server.SendFrame(0, chat::SUPPORT_WELCOME, BodyOf(*chat::BuildSupportWelcome("Bert", "Hi Anna")));
    ASSERT_TRUE(WaitFor([&] { return window->RemoteName() == QStringLiteral("Bert"); }));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("  Support to support, in chat with Bert"));
    EXPECT_EQ(Conversation(), QStringLiteral("Please wait ...\nWelcome!\nBert: Hi Anna\n"));

    server.SendFrame(0, chat::TYPING_START);
    ASSERT_TRUE(WaitFor([&] { return window->Pane().StatusPanelText(1) == QStringLiteral(" Bert typing..."); }));
    server.SendFrame(0, chat::CHAT_TEXT, BodyOf(*chat::BuildChatText("<b>hello</b>")));
    ASSERT_TRUE(WaitFor([&] { return Conversation().endsWith(QStringLiteral("Bert: <b>hello</b>")); }));
    EXPECT_TRUE(window->Pane().StatusPanelText(1).isEmpty());
    EXPECT_FALSE(window->Connection().RemoteTyping());

    // The operator answers: typing notice, the line, the notice's end.
    const int before = server.FrameCount();
    window->Pane().InputText->setPlainText(QStringLiteral("Hi Bert"));
    window->SendMsgBtnClick();
    ASSERT_TRUE(server.WaitForFrames(before + 3));
    const auto after = server.Frames();
    EXPECT_EQ(after[before].code, chat::TYPING_START);
    EXPECT_EQ(after[before + 1].code, chat::CHAT_TEXT);
    EXPECT_EQ(chat::DecodeChatText(after[before + 1].body), QByteArray("Hi Bert"));
    EXPECT_EQ(after[before + 2].code, chat::TYPING_STOP);
    EXPECT_TRUE(Conversation().endsWith(QStringLiteral("Anna: Hi Bert")));
    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.Texts().join(QLatin1Char('|')).toStdString();
}

TEST_F(SuppChatTest, NothingIsSentBeforeTheWelcome)
{
    Open();
    window->Pane().InputText->setPlainText(QStringLiteral("too early"));
    window->SendMsgBtnClick();
    RunFor(100);
    for (quint16 code : Codes())
        EXPECT_NE(code, chat::CHAT_TEXT);
    EXPECT_TRUE(Conversation().isEmpty());
}

TEST_F(SuppChatTest, FramesArrivingDuringTheDetailsPauseWaitTheirTurn)
{
    Open();
    // The welcome right behind SESSION_READY, in one write.
    server.SendRaw(0, chat::BuildSessionReady(77) + *chat::BuildWelcomeMsg("Welcome!"));
    ASSERT_TRUE(WaitFor([&] { return window->Pane().InputText->isEnabled(); }));
    // By then both answers had gone out.
    EXPECT_GE(server.WaitForFrame(chat::USER_DETAILS, 10000), 0);
}

TEST_F(SuppChatTest, ClosingAfterTypingStoppedAsksNothingSendsEndAndFreesTheButton)
{
    Open();
    Welcome();
    server.SendFrame(0, chat::TYPING_START);
    server.SendFrame(0, chat::TYPING_STOP);
    ASSERT_TRUE(WaitFor([&] { return server.FrameCount() > 0 && !window->Connection().RemoteTyping()
                                     && window->Pane().StatusPanelText(1).isEmpty(); }));
    RunFor(50);
    window->close();
    ASSERT_GE(server.WaitForFrame(chat::END_SESSION), 0);
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_TRUE(host.buttonEnabled);
    EXPECT_TRUE(server.WaitForClosed(0));
    EXPECT_TRUE(WaitFor([&] { return window.isNull(); }));
}

TEST_F(SuppChatTest, ClosingWhileTheOtherTypesAsksAndCancelKeepsTheChat)
{
    Open();
    Welcome();
    server.SendFrame(0, chat::TYPING_START);
    ASSERT_TRUE(WaitFor([&] { return window->Connection().RemoteTyping(); }));
    boxes.answers.push_back(BoxAnswer::Cancel);
    window->FormClose();
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Remote user still typing do you want to terminate anyway ? "));
    EXPECT_FALSE(window->Closed());
    EXPECT_TRUE(window->Connection().ClockTimer().isActive());
    EXPECT_FALSE(host.buttonEnabled);
}

TEST_F(SuppChatTest, ClosingBeforeTheServerAnsweredStillSaysGoodbye)
{
    window = new TSuppChatWindow(42, QStringLiteral("Bert"), host);
    ASSERT_TRUE(server.WaitForConnections(1));
    ASSERT_TRUE(WaitFor([&] { return window->Connection().IsConnected(); }));
    window->FormClose();
    ASSERT_GE(server.WaitForFrame(chat::END_SESSION), 0);
    EXPECT_TRUE(host.buttonEnabled);
}

TEST_F(SuppChatTest, TheOtherLeavingAsksAndClosesWithoutAFarewell)
{
    Open();
    Welcome();
    dialogs.closeOnEnd = true;
    server.SendFrame(0, chat::END_SESSION);
    ASSERT_TRUE(WaitFor([&] { return window.isNull() || window->Closed(); }));
    EXPECT_EQ(dialogs.endDialogs, 1);
    EXPECT_TRUE(host.buttonEnabled);
    RunFor(100);
    for (quint16 code : Codes())
        EXPECT_NE(code, chat::END_SESSION);
}

TEST_F(SuppChatTest, TheOtherLeavingWithTheWindowKeptOpenTakesNoMoreText)
{
    Open();
    Welcome();
    server.SendFrame(0, chat::END_SESSION);
    ASSERT_TRUE(WaitFor([&] { return dialogs.endDialogs == 1; }));
    EXPECT_TRUE(window->Ended());
    EXPECT_FALSE(window->Pane().InputText->isEnabled());
    EXPECT_FALSE(window->Pane().SendMsgBtn->isEnabled());
    // The window says the chat is over, and its clock no longer runs nor keeps anything alive.
    EXPECT_TRUE(window->Pane().ChatOutPutText->toPlainText().contains(QStringLiteral(" left the chat at ")));
    EXPECT_FALSE(window->Connection().ClockTimer().isActive());
    const int sent = int(Codes().size());
    for (int i = 0; i < 60; ++i)
        window->Connection().Tick();
    RunFor(100);
    EXPECT_EQ(int(Codes().size()), sent);
    // Closing later sends no second END_SESSION.
    window->FormClose();
    RunFor(100);
    for (quint16 code : Codes())
        EXPECT_NE(code, chat::END_SESSION);
}

TEST_F(SuppChatTest, LossOfTheConnectionTellsTheOperatorOnce)
{
    Open();
    Welcome();
    server.CloseConnection(0);
    ASSERT_TRUE(WaitFor([&] { return boxes.shown.size() == 1; }));
    EXPECT_EQ(dialogs.endDialogs, 1);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Remote user terminated the chat session, closing this chat session"));
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral(" Warning Support Chat window "));
    EXPECT_TRUE(host.buttonEnabled);
    EXPECT_FALSE(window->Pane().InputText->isEnabled());
    EXPECT_FALSE(window->Connection().ClockTimer().isActive());
    EXPECT_TRUE(window->Pane().ChatOutPutText->toPlainText().endsWith(QStringLiteral("(the connection closed)")));
    RunFor(100);
    EXPECT_EQ(boxes.shown.size(), 1);
}

TEST_F(SuppChatTest, RefusalsOnlyShowTheirBoxes)
{
    Open();
    // A storm of refusals in one write: one box for the one request.
    QByteArray storm;
    for (int i = 0; i < 30; ++i)
        storm += MakeFrame(chat::SUPPORT_UNAVAILABLE);
    server.SendRaw(0, storm);
    server.SendRaw(0, MakeFrame(chat::INITIAL_CONNECT) + MakeFrame(chat::SUPPORT_IN_MAINTENANCE));
    // Codes meant for web visitors change nothing.
    server.SendFrame(0, chat::PUSH_URL, BodyOf(*chat::BuildPushUrl("http://x")));
    ASSERT_TRUE(WaitFor([&] { return boxes.shown.size() == 2; }));
    RunFor(100);
    ASSERT_EQ(boxes.shown.size(), 2);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Support not available !!."));
    EXPECT_EQ(boxes.shown[1].text, QStringLiteral("Support in maintanace, not available !!."));
    EXPECT_EQ(boxes.shown[1].caption, QStringLiteral("Error"));
    EXPECT_FALSE(window->Closed());
    EXPECT_TRUE(Conversation().isEmpty());
}

TEST(SuppChatWindow, NetworkErrorTextsNameTheWindow)
{
    EXPECT_EQ(TSuppChatWindow::ErrorText(12345), QStringLiteral("TSuppChatWindow.Error = 12345"));
    EXPECT_EQ(TSuppChatWindow::ErrorText(10061),
              QStringLiteral("Connection refused or not available, check program params !"));
}

} // namespace
} // namespace velmora::test
