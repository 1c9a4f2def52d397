// Transfers and supporter chats through the main window, with a real login
// to the fake chat server and real chat windows.
#include "app/Servermain.h"

#include "ConsoleFolder.h"

#include "support/ConsoleLogin.h"
#include "FakeChatServer.h"
#include "RecordingBoxes.h"
#include "TestUtil.h"
#include "app/NewCnctDlg.h"
#include "chat/ChatPane.h"
#include "chat/OneChatWindow.h"
#include "chat/SuppChatWindow.h"
#include "chat/TransferText.h"
#include "config/Settings.h"
#include "protocol/ChatMessages.h"
#include "protocol/ServerMessages.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

namespace {

class TransferMainFormTest : public ConsoleInFolder {
protected:
    void SetUp() override
    {
        ConsoleInFolder::SetUp();
        QFile f(dir.filePath(QStringLiteral("Velmora.ini")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[ProgramIP_Options]\r\nClientID=acme\r\nWebSiteUrl=127.0.0.1\r\nWebListenPort=%1\r\n\r\n"
                               "[ProgramOptions]\r\nSupportName=Dana\r\n\r\n[GeneralProgramSetting]\r\n"
                               "AutoOnHoldOnMinimized=true\r\n\r\n[ProgramMailSettings]\r\nEanbelDisableMails=false\r\n")
                    .arg(server.Port())
                    .toLatin1());
        f.close();
        form = std::make_unique<TMainForm>();
        LogIn();
    }

    void LogIn()
    {
        LogInOnFakeServer(form->Session(), server, 2);
        boxes.shown.clear();
    }

    // A visitor's call, put on hold and then opened: the chat window on connection 1.
    TOneChatWindow *OpenChat(qint32 sc)
    {
        form->MinimizeToTray();
        server.SetSendInitialConnect(true);
        server.SendRaw(0, *server::BuildClientListed(sc, "192.0.2.9", "shop"));
        if (!server.WaitForConnections(2) || server.WaitForFrame(chat::SUPPORT_ANSWERS_TO_CLI, 10000) < 0)
            return nullptr;
        server.SendRaw(1, chat::BuildSessionReady(sc));
        server.SendRaw(1, *chat::BuildUserDetails("Eve", "eve@example.org", ""));
        if (!WaitFor([&] { return form->Calls().CallList().Cell(0, ColClientName) == QStringLiteral("Eve"); }))
            return nullptr;
        server.SetSendInitialConnect(false);
        form->Calls().OpenChatAtRow(0);
        auto *window = dynamic_cast<TOneChatWindow *>(form->Calls().FindChatWindow(sc));
        if (!window || server.WaitForFrame(chat::CHAT_OPTIONS) < 0)
            return nullptr;
        server.SendRaw(1, *chat::BuildChatText("I need help"));
        if (!WaitFor([&] { return window->ChatOutPutText->toPlainText().contains(QStringLiteral("I need help")); }))
            return nullptr;
        return window;
    }

    // A chat opened and offered to Bert: TRANSFER_CALL sent, no answer yet.
    TOneChatWindow *TransferToBert(qint32 sc)
    {
        TOneChatWindow *window = OpenChat(sc);
        if (!window)
            return nullptr;
        window->TransferBtnClick();
        if (server.WaitForFrame(server::ONLINE_SUPPORTERS) < 0)
            return nullptr;
        boxes.choices = {0};
        server.SendRaw(0, *server::BuildOnlineSupportersList({{"Bert", 6}}));
        return server.WaitForFrame(server::TRANSFER_CALL) < 0 ? nullptr : window;
    }

    std::vector<quint16> CodesOn(int connection) const
    {
        std::vector<quint16> out;
        for (const auto &f : server.FramesOn(connection))
            out.push_back(f.code);
        return out;
    }

    RecordingBoxes boxes;
    FakeChatServer server;
};

bool Has(const std::vector<quint16> &codes, quint16 code)
{
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

TEST_F(TransferMainFormTest, ChatMovesToTheChosenSupporterWithItsConversation)
{
    QPointer<TOneChatWindow> window = OpenChat(31);
    ASSERT_TRUE(window);

    window->TransferBtnClick();
    EXPECT_TRUE(window->Transferring());
    EXPECT_FALSE(window->InputText->isEnabled());
    const int request = server.WaitForFrame(server::ONLINE_SUPPORTERS);
    ASSERT_GE(request, 0);
    EXPECT_EQ(server::DecodeOnlineSupportersRequest(server.Frames()[request].body), 9);

    // A second transfer anywhere in the console is refused.
    TTransferSource other;
    other.SessionCount = 99;
    EXPECT_FALSE(form->BeginTransfer(other));
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Cannot transfer more then one session at a time !!"));
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Error..."));

    boxes.choices = {1};
    server.SendRaw(0, *server::BuildOnlineSupportersList({{"Carl", 5}, {"Bert", 6}}));
    const int call = server.WaitForFrame(server::TRANSFER_CALL);
    ASSERT_GE(call, 0);
    const auto to = server::DecodeTransferCall(server.Frames()[call].body);
    ASSERT_TRUE(to);
    EXPECT_EQ(to->sessionCount, 31);
    EXPECT_EQ(to->port, 6);
    ASSERT_EQ(boxes.choiceRows.size(), 1);
    EXPECT_EQ(boxes.choiceRows[0][1].name, QStringLiteral("Bert"));
    // No time-out: the window waits in its transferring state.
    EXPECT_TRUE(window->Transferring());

    // The visitor goes on while the other supporter is being asked.
    server.SendRaw(1, *chat::BuildChatText("Still there?"));
    ASSERT_TRUE(WaitFor([&] { return window->ChatOutPutText->toPlainText().contains(QStringLiteral("Still there?")); }));

    server.SendRaw(0, server::BuildTransferAnsweredNotice(31));
    const int data = server.WaitForFrame(server::TRANSFER_DATA_SEND);
    ASSERT_GE(data, 0);
    const auto sent = server::DecodeTransferDataSend(server.Frames()[data].body);
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->sessionCount, 31);
    EXPECT_EQ(sent->toPort, 6);
    EXPECT_TRUE(sent->conversation.startsWith("{\\rtf1"));
    EXPECT_TRUE(sent->conversation.contains("Chat Transfered at: "));
    EXPECT_TRUE(sent->conversation.contains("I need help"));
    EXPECT_TRUE(sent->conversation.contains("End transfer chat transcript"));
    // Nothing said while waiting is lost, and the end line stays the last.
    const qsizetype late = sent->conversation.indexOf("Still there?");
    EXPECT_GT(late, sent->conversation.indexOf("I need help"));
    EXPECT_LT(late, sent->conversation.indexOf("End transfer chat transcript"));

    ASSERT_TRUE(WaitFor([&] { return form->Calls().CallList().Cell(0, ColStatus) == QStringLiteral("Transfered !"); }));
    EXPECT_FALSE(form->Session().Transfer().InProgress());
    EXPECT_TRUE(WaitFor([&] { return window.isNull(); }));
    // The visitor was handed over, not sent away.
    EXPECT_FALSE(Has(CodesOn(1), chat::END_SESSION));
    EXPECT_EQ(boxes.shown.size(), 1);
}

TEST_F(TransferMainFormTest, CancelOrAnEmptyListGivesTheChatBackAsItWas)
{
    QPointer<TOneChatWindow> window = OpenChat(32);
    ASSERT_TRUE(window);
    const QString before = window->ChatOutPutText->toPlainText();

    window->TransferBtnClick();
    ASSERT_GE(server.WaitForFrame(server::ONLINE_SUPPORTERS), 0);
    // A line of the visitor while the operator chooses stays in the chat.
    server.SendRaw(1, *chat::BuildChatText("still there?"));
    ASSERT_TRUE(WaitFor([&] { return window->ChatOutPutText->toPlainText().contains(QStringLiteral("still there?")); }));
    boxes.choices = {-1};
    server.SendRaw(0, *server::BuildOnlineSupportersList({{"Bert", 6}}));
    ASSERT_TRUE(WaitFor([&] { return !window->Transferring(); }));
    EXPECT_TRUE(window->InputText->isEnabled());
    EXPECT_FALSE(form->Session().Transfer().InProgress());
    EXPECT_EQ(window->ChatOutPutText->toPlainText(), before + QStringLiteral("\nEve: still there?"));

    // Again, and nobody is online.
    const int from = server.FrameCount();
    window->TransferBtnClick();
    ASSERT_GE(server.WaitForFrame(server::ONLINE_SUPPORTERS, 5000, from), 0);
    server.SendRaw(0, *server::BuildOnlineSupportersList({}));
    ASSERT_TRUE(WaitFor([&] { return !window->Transferring(); }));
    EXPECT_EQ(boxes.Texts(), QStringList{QStringLiteral("No supporters were found.")});
    EXPECT_EQ(window->ChatOutPutText->toPlainText(), before + QStringLiteral("\nEve: still there?"));
    EXPECT_FALSE(Has(CodesOn(0), server::TRANSFER_CALL));
}

// Once the other supporter has the chat it is no longer ours: the window
// closes as handed over, asking nothing, though the visitor is typing.
TEST_F(TransferMainFormTest, AHandedOverChatClosesWithoutAQuestionWhileTheVisitorTypes)
{
    QPointer<TOneChatWindow> window = TransferToBert(36);
    ASSERT_TRUE(window);
    server.SendRaw(1, chat::BuildTypingStart());
    ASSERT_TRUE(WaitFor([&] { return window->RemoteTyping(); }));
    server.SendRaw(0, server::BuildTransferAnsweredNotice(36));
    ASSERT_TRUE(WaitFor([&] { return window.isNull(); }));
    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.Texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(form->Calls().CallList().Cell(0, ColStatus), QStringLiteral("Transfered !"));
}

// A transfer from a supporter this console has never listed: the alert opens
// at once, and names the supporter when the server's list has come.
TEST_F(TransferMainFormTest, TheTransferAlertNamesTheAskingSupporterOnceTheListTellsIt)
{
    const int before = int(server.Frames().size());
    server.SendRaw(0, *server::BuildTransferCallNotice(41, 7, "192.0.2.9", "shop"));
    TNewCnctDlg *alert = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        for (QWidget *top : QApplication::topLevelWidgets())
            if (auto *open = qobject_cast<TNewCnctDlg *>(top); open && open->isVisible())
                alert = open;
        return alert != nullptr;
    }));
    EXPECT_EQ(alert->Label4, nullptr);
    const int request = server.WaitForFrame(server::ONLINE_SUPPORTERS);
    ASSERT_GE(request, before);
    server.SendRaw(0, *server::BuildOnlineSupportersList({{"Bert", 7}, {"Carl", 8}}));
    ASSERT_TRUE(WaitFor([&] { return alert->Label4 != nullptr; }));
    EXPECT_EQ(alert->Label4->text(), QStringLiteral("Asked by = Bert"));
    EXPECT_TRUE(boxes.choiceRows.isEmpty()); // nobody was asked to choose
    EXPECT_TRUE(boxes.shown.isEmpty());
    alert->reject();
}

// Every way a transfer nobody has taken ends: the chat stays here, and ends
// here, as it really did; a late answer then hands over nothing.
TEST_F(TransferMainFormTest, ClosingAChatNobodyHasTakenEndsItHere)
{
    QPointer<TOneChatWindow> window = TransferToBert(33);
    ASSERT_TRUE(window);

    window->FormClose();
    ASSERT_TRUE(WaitFor([&] { return window.isNull() || window->Closed(); }));
    EXPECT_EQ(form->Calls().CallList().Cell(0, ColStatus), QStringLiteral("End Chat !"));
    EXPECT_TRUE(Has(CodesOn(1), chat::END_SESSION));
    EXPECT_FALSE(form->Session().Transfer().InProgress());

    server.SendRaw(0, server::BuildTransferAnsweredNotice(33));
    RunFor(150);
    EXPECT_FALSE(Has(CodesOn(0), server::TRANSFER_DATA_SEND));
}

TEST_F(TransferMainFormTest, NobodyAnsweringInTimeGivesTheChatBackWithALine)
{
    form->Session().Transfer().SetAnswerWaitMs(400);
    QPointer<TOneChatWindow> window = TransferToBert(38);
    ASSERT_TRUE(window);
    ASSERT_TRUE(WaitFor([&] { return !window->Transferring(); }));
    EXPECT_TRUE(window->InputText->isEnabled());
    EXPECT_FALSE(window->CancelTransferButton()->isVisible());
    const QString shown = window->ChatOutPutText->toPlainText();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("Nobody took the chat in time: the transfer was given up, and the chat "
                                              "is yours again.")))
        << shown.toStdString();
    EXPECT_FALSE(shown.contains(QString::fromLatin1(kTransferEndLine)));
    server.SendRaw(0, server::BuildTransferAnsweredNotice(38));
    RunFor(150);
    EXPECT_FALSE(Has(CodesOn(0), server::TRANSFER_DATA_SEND));
}

TEST_F(TransferMainFormTest, AVisitorWhoLeavesDuringTheTransferIsNotHandedOver)
{
    QPointer<TOneChatWindow> window = TransferToBert(39);
    ASSERT_TRUE(window);
    server.SendRaw(1, chat::BuildEndSession());
    ASSERT_TRUE(WaitFor([&] { return !form->Session().Transfer().InProgress(); }));
    server.SendRaw(0, server::BuildTransferAnsweredNotice(39));
    RunFor(150);
    EXPECT_FALSE(Has(CodesOn(0), server::TRANSFER_DATA_SEND));
    ASSERT_TRUE(window);
    EXPECT_FALSE(window->Transferring());
    EXPECT_TRUE(window->Ended());
    window->FormClose();
    ASSERT_TRUE(WaitFor([&] { return window.isNull() || window->Closed(); }));
    EXPECT_EQ(form->Calls().CallList().Cell(0, ColStatus), QStringLiteral("End Chat !"));
}

// The taking console: a hostile conversation that comes after the window
// opened is acknowledged at once and shown a piece at a time, in a chat's
// letter sizes, while the visitor's lines go on below it.
TEST_F(TransferMainFormTest, AHostileConversationIsAcknowledgedAndShownInPieces)
{
    form->MinimizeToTray();
    server.SetSendInitialConnect(true);
    server.SendRaw(0, *server::BuildTransferCallNotice(50, 6, "192.0.2.9", "shop"));
    ASSERT_TRUE(server.WaitForConnections(2));
    ASSERT_GE(server.WaitForFrame(server::TRANSFER_ANSWERED), 0);
    server.SendRaw(1, chat::BuildSessionReady(50));
    server.SendRaw(1, *chat::BuildUserDetails("Eve", "eve@example.org", ""));
    ASSERT_TRUE(WaitFor([&] { return form->Calls().CallList().Cell(0, ColClientName) == QStringLiteral("Eve"); }));
    server.SetSendInitialConnect(false);
    form->Calls().OpenChatAtRow(0);
    QPointer<TOneChatWindow> window = dynamic_cast<TOneChatWindow *>(form->Calls().FindChatWindow(50));
    ASSERT_TRUE(window);

    QByteArray rtf = "{\\rtf1 \\fs2000 ";
    for (int i = 0; i < 15000; ++i)
        rtf += "x ";
    const int from = server.FrameCount();
    server.SendRaw(0, *server::BuildTransferData(50, rtf + "}"));
    server.SendRaw(1, *chat::BuildChatText("hello?"));
    ASSERT_GE(server.WaitForFrame(chat::SUPPORT_ANS_TO_TRANS, 15000, from), 0);
    ASSERT_GE(server.WaitForFrame(chat::TRANS_COMPLETE, 15000, from), 0);
    const auto shown = [&] { return window->ChatOutPutText->toPlainText(); };
    // The visitor's line may still be on its way on the other connection.
    ASSERT_TRUE(WaitFor([&] { return shown().count(QLatin1Char('x')) == 15000 && shown().contains(QStringLiteral("hello?")); }));
    EXPECT_GT(shown().indexOf(QStringLiteral("hello?")), shown().lastIndexOf(QLatin1Char('x')));
    const QTextDocument &document = *window->ChatOutPutText->document();
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            EXPECT_LE(it.fragment().charFormat().fontPointSize(), 36.0);
}

// A transfer that can never be answered does not lock the console's transfers.
TEST_F(TransferMainFormTest, AStrandedTransferCanBeGivenUpAndALostConnectionEndsIt)
{
    QPointer<TOneChatWindow> window = TransferToBert(34);
    ASSERT_TRUE(window);
    // While its window is open, a second transfer is refused as ever.
    TTransferSource other;
    other.SessionCount = 35;
    EXPECT_FALSE(form->BeginTransfer(other));
    EXPECT_EQ(boxes.Texts(), QStringList{QStringLiteral("Cannot transfer more then one session at a time !!")});

    // The operator cancels it: the chat takes text again and says why.
    ASSERT_TRUE(window->CancelTransferButton() && window->CancelTransferButton()->isVisible());
    window->CancelTransferButton()->click();
    EXPECT_FALSE(window->Transferring());
    EXPECT_TRUE(window->InputText->isEnabled());
    EXPECT_TRUE(window->ChatOutPutText->toPlainText().endsWith(
        QStringLiteral("The transfer was cancelled: the chat is yours again.")));
    boxes.shown.clear();
    const int from = server.FrameCount();
    EXPECT_TRUE(form->BeginTransfer(other));
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_EQ(form->Session().Transfer().SessionCount(), 35);
    ASSERT_GE(server.WaitForFrame(server::ONLINE_SUPPORTERS, 5000, from), 0);
    // A late answer for the chat given up sends nothing.
    server.SendRaw(0, server::BuildTransferAnsweredNotice(34));
    RunFor(150);
    EXPECT_FALSE(Has(CodesOn(0), server::TRANSFER_DATA_SEND));

    // The server connection fails: the answer could only have come on it.
    server.CloseConnection(0);
    ASSERT_TRUE(WaitFor([&] { return !form->Session().Transfer().InProgress(); }));
}

// Each list answers the request it was asked for, first in, first out.
TEST_F(TransferMainFormTest, TransferAndSupporterChatAskedTogetherEachGetTheirOwnList)
{
    QPointer<TOneChatWindow> window = OpenChat(37);
    ASSERT_TRUE(window);
    window->TransferBtnClick();
    form->ChatWithOtherSupportBtnClick();
    boxes.choices = {0, -1};
    server.SendRaw(0, *server::BuildOnlineSupportersList({{"Bert", 6}})
                          + *server::BuildOnlineSupportersList({{"Carl", 7}}));
    const int call = server.WaitForFrame(server::TRANSFER_CALL);
    ASSERT_GE(call, 0);
    EXPECT_EQ(server::DecodeTransferCall(server.Frames()[call].body)->port, 6);
    // The supporter chat's list was declined: its button is back.
    ASSERT_TRUE(WaitFor([&] { return form->ChatWithOtherSupportButton()->isEnabled(); }));
    EXPECT_EQ(boxes.choiceRows.size(), 2);
    EXPECT_TRUE(window->Transferring());
    // The two lists say which is which.
    ASSERT_EQ(boxes.choiceCaptions.size(), 2);
    EXPECT_TRUE(boxes.choiceCaptions[0].startsWith(QStringLiteral("Transfer")));
    EXPECT_TRUE(boxes.choiceCaptions[1].startsWith(QStringLiteral("Chat with")));
}

TEST_F(TransferMainFormTest, SupporterChatOpensForTheChosenSupporterAndEmptyListFreesTheButton)
{
    QToolButton *button = form->ChatWithOtherSupportButton();
    ASSERT_TRUE(button->isEnabled());
    form->ChatWithOtherSupportBtnClick();
    EXPECT_FALSE(button->isEnabled());
    ASSERT_GE(server.WaitForFrame(server::ONLINE_SUPPORTERS), 0);
    server.SendRaw(0, *server::BuildOnlineSupportersList({}));
    ASSERT_TRUE(WaitFor([&] { return button->isEnabled(); }));
    EXPECT_EQ(boxes.Texts(), QStringList{QStringLiteral("No supporters were found.")});
    EXPECT_EQ(form->SupportChatWindow(), nullptr);

    // A list whose count promises more than it holds: the whole entries are offered.
    const int from = server.FrameCount();
    form->ChatWithOtherSupportBtnClick();
    ASSERT_GE(server.WaitForFrame(server::ONLINE_SUPPORTERS, 5000, from), 0);
    QByteArray cut = *server::BuildOnlineSupportersList({{"Bert", 6}, {"Carl", 7}});
    cut.chop(3);
    cut[2] = 0;
    cut[3] = 0;
    cut[4] = char((cut.size() - 6) >> 8);
    cut[5] = char((cut.size() - 6) & 0xff);
    boxes.choices = {0};
    server.SetSendInitialConnect(true);
    server.SendRaw(0, cut);
    ASSERT_TRUE(WaitFor([&] { return form->SupportChatWindow() != nullptr; }));
    ASSERT_EQ(boxes.choiceRows.size(), 1);
    EXPECT_EQ(boxes.choiceRows[0].size(), 1);
    const int request = server.WaitForFrame(chat::SUPPORT_CHAT_REQUEST);
    ASSERT_GE(request, 0);
    EXPECT_EQ(chat::DecodeSupportChatRequest(server.Frames()[request].body)->port, 6);
    EXPECT_FALSE(button->isEnabled());
    // A supporter chat this console answered ends meanwhile: still one of its own at a time.
    form->SetChatWithOtherSupportEnabled(true);
    EXPECT_FALSE(button->isEnabled());

    form->SupportChatWindow()->FormClose();
    ASSERT_TRUE(WaitFor([&] { return button->isEnabled(); }));

    // Nor a second request while the list for the first is awaited.
    form->ChatWithOtherSupportBtnClick();
    form->SetChatWithOtherSupportEnabled(true);
    EXPECT_FALSE(button->isEnabled());
}

} // namespace
