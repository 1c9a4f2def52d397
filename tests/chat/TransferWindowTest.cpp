// A chat window's side of a transfer: the header, the refusal that restores
// the chat, and on the taking console the received conversation above the
// window's own lines.
#include "ChatFixture.h"

#include "chat/TransferText.h"
#include "protocol/MessageCodes.h"
#include "richtext/RtfWriter.h"
#include "chat/ChatLines.h"

#include <QPushButton>
#include <QTextDocument>

namespace velmora::test {
namespace {

class TransferWindowTest : public ChatWindowTest {};

TEST_F(TransferWindowTest, EmptyConversationTravelsWithoutHeaderOrEndTime)
{
    OpenWindow();
    window->TransferBtnClick();
    EXPECT_EQ(host.transfers, 1);
    EXPECT_TRUE(window->Transferring());
    EXPECT_TRUE(window->InputText->isEnabled());
    EXPECT_FALSE(calls.events.contains(QStringLiteral("end time")));
    EXPECT_FALSE(host.lastTransfer.Conversation.contains("Chat Transfered at"));
    EXPECT_TRUE(host.lastTransfer.Conversation.startsWith("{\\rtf1"));
    EXPECT_EQ(host.lastTransfer.SessionCount, 4711);
}

TEST_F(TransferWindowTest, RefusedTransferGivesTheConversationBackExactly)
{
    Settings().EmptyLineAdd = true;
    OpenWindow(0x000D, true);
    Receive(chat::CHAT_TEXT, BodyOf(*chat::BuildChatText("hello")));
    ASSERT_TRUE(WaitFor([&] { return Conversation().contains(QStringLiteral("hello")); }));
    const QString before = Conversation();
    const QString html = window->ChatOutPutText->document()->toHtml();

    host.acceptTransfer = false;
    window->TransferBtnClick();
    EXPECT_TRUE(calls.events.contains(QStringLiteral("end time")));
    EXPECT_TRUE(host.lastTransfer.Conversation.contains("Chat Transfered at: "));
    EXPECT_FALSE(window->Transferring());
    EXPECT_TRUE(window->InputText->isEnabled());
    EXPECT_EQ(Conversation(), before);
    EXPECT_EQ(window->ChatOutPutText->document()->toHtml(), html);
}

TEST_F(TransferWindowTest, CallerLeavingDuringTheTransferAsksNothing)
{
    OpenWindow();
    Receive(chat::CHAT_TEXT, BodyOf(*chat::BuildChatText("hello")));
    ASSERT_TRUE(WaitFor([&] { return !Conversation().isEmpty(); }));
    window->TransferBtnClick();
    Receive(chat::END_SESSION);
    server.CloseConnection(0);
    Settle(200);
    EXPECT_EQ(dialogs.endDialogs, 0);
    EXPECT_TRUE(window->Transferring());
    // Said once, in the conversation, and the transcript is this console's to send.
    EXPECT_EQ(Conversation().count(QStringLiteral("The visitor left the chat at ")), 1);
    host.transcriptsOff = false;
    window->FormClose();
    ASSERT_EQ(host.transcripts, 1);
    EXPECT_FALSE(host.lastTranscript.HandedOver);
    EXPECT_TRUE(host.lastTranscript.Conversation.contains("hello"));
    EXPECT_FALSE(host.lastTranscript.Conversation.contains("Chat Transfered at"));
    EXPECT_FALSE(host.lastTranscript.Conversation.contains("End transfer chat transcript"));
}

TEST_F(TransferWindowTest, ALostServerConnectionEndsAPendingTransferAndKeepsTheTranscriptHere)
{
    OpenWindow();
    Receive(chat::CHAT_TEXT, BodyOf(*chat::BuildChatText("hello")));
    ASSERT_TRUE(WaitFor([&] { return !Conversation().isEmpty(); }));
    const QString before = Conversation();
    window->TransferBtnClick();
    ASSERT_TRUE(window->Transferring());
    window->TakeDownOnNetError();
    EXPECT_FALSE(window->Transferring());
    EXPECT_TRUE(Conversation().startsWith(before));
    EXPECT_FALSE(Conversation().contains(QStringLiteral("Chat Transfered at")));
    host.transcriptsOff = false;
    window->FormClose();
    ASSERT_EQ(host.transcripts, 1);
    EXPECT_FALSE(host.lastTranscript.HandedOver);
    EXPECT_TRUE(host.lastTranscript.Conversation.contains("hello"));
}

TEST_F(TransferWindowTest, ATransferGivenUpAfterTheCallerLeftEndsTheChatHere)
{
    OpenWindow();
    Receive(chat::CHAT_TEXT, BodyOf(*chat::BuildChatText("hello")));
    ASSERT_TRUE(WaitFor([&] { return !Conversation().isEmpty(); }));
    window->TransferBtnClick();
    Receive(chat::END_SESSION);
    ASSERT_TRUE(WaitFor([&] { return Conversation().contains(QStringLiteral(" left the chat at ")); }));
    window->RestoreAfterTransfer();
    EXPECT_EQ(dialogs.endDialogs, 1);
    EXPECT_FALSE(window->InputText->isEnabled());
    EXPECT_FALSE(window->SendMsgBtn->isEnabled());
    EXPECT_TRUE(window->Ended());
}

TEST_F(TransferWindowTest, TakingConsoleShowsTheEarlierConversationAboveItsOwnLines)
{
    QTextDocument sent;
    AppendChatLine(sent, QStringLiteral("Eve: my order is late"), Qt::blue, 4, Qt::red, {}, false);
    InsertTransferHeader(sent, TransferHeaderLines(QStringLiteral("10:00"), QStringLiteral("10:05"),
                                                   QStringLiteral("Carl")), {});
    AppendTransferEnd(sent, {}, false);

    MakeRecord(server::TRANSFER_CALL);
    record.TransferData = DocumentToRtf(sent);
    window = new TOneChatWindow(0, &record, calls, host);
    ASSERT_TRUE(WaitFor([&] { return Conversation().contains(QStringLiteral("You are now chatting with")); }));
    Receive(chat::CHAT_TEXT, BodyOf(*chat::BuildChatText("are you there?")));
    ASSERT_TRUE(WaitFor([&] { return Conversation().contains(QStringLiteral("are you there?")); }));

    const QString text = Conversation();
    EXPECT_TRUE(text.startsWith(QStringLiteral("----------------------------------------------\nChat Started at: 10:00")));
    const qsizetype earlier = text.indexOf(QStringLiteral("Eve: my order is late"));
    const qsizetype end = text.indexOf(QString::fromLatin1(kTransferEndLine));
    const qsizetype notice = text.indexOf(QStringLiteral("You are now chatting with"));
    const qsizetype line = text.indexOf(QStringLiteral("are you there?"));
    EXPECT_LT(earlier, end);
    EXPECT_LT(end, notice);
    EXPECT_LT(notice, line);
    EXPECT_TRUE(record.TransferData.isEmpty());

    // The conversation sent again replaces the copy shown: it is there once.
    window->TransferDataArrived(DocumentToRtf(sent));
    window->TransferDataArrived(DocumentToRtf(sent));
    EXPECT_EQ(Conversation(), text);
}

// The window opens without taking the keyboard: lines can come before the
// operator first looks at it, and the opening notices still go above them.
TEST_F(TransferWindowTest, NoticesOfTheFirstLookGoAboveLinesThatCameBefore)
{
    QTextDocument sent;
    AppendChatLine(sent, QStringLiteral("Eve: my order is late"), Qt::blue, 4, Qt::red, {}, false);
    AppendTransferEnd(sent, {}, false);
    MakeRecord(server::TRANSFER_CALL);
    record.TransferData = DocumentToRtf(sent);
    window = new TOneChatWindow(0, &record, calls, host);
    window->RemoteLine(QStringLiteral("hello?"));
    window->RemoteLine(QStringLiteral("anyone?"));
    ASSERT_TRUE(WaitFor([&] { return Conversation().contains(QStringLiteral("You are now chatting with")); }));
    EXPECT_EQ(Conversation(), QStringLiteral("Eve: my order is late\n") + QString::fromLatin1(kTransferEndLine)
                                  + QStringLiteral("\n\nYou are now chatting with .\nCalling from : www.example.org."
                                                   "\n\n: hello?\n: anyone?"));

    // Without a transfer the notices open the conversation.
    delete window.data();
    ChatItem second;
    ConnectRecord(server, second, 4712);
    window = new TOneChatWindow(1, &second, calls, host);
    window->RemoteLine(QStringLiteral("hello?"));
    ASSERT_TRUE(WaitFor([&] { return Conversation().contains(QStringLiteral("You are now chatting with")); }));
    EXPECT_EQ(Conversation(), QStringLiteral("You are now chatting with .\nCalling from : www.example.org.\n\n: hello?"));
}

TEST_F(TransferWindowTest, BrokenConversationFromAnotherConsoleShowsWhatCouldBeRead)
{
    MakeRecord(server::TRANSFER_CALL);
    record.TransferData = QByteArrayLiteral("{\\rtf1{\\colortbl;\\red0\\green128\\blue0;}\\cf1 Eve: hi\\par {{{{\\b half");
    window = new TOneChatWindow(0, &record, calls, host);
    ASSERT_TRUE(WaitFor([&] { return Conversation().contains(QStringLiteral("You are now chatting with")); }));
    EXPECT_TRUE(Conversation().startsWith(QStringLiteral("Eve: hi\nhalf")));
}

} // namespace
} // namespace velmora::test
