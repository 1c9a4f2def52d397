// The chat window as an operator works in it all day: text that is never
// damaged silently, the input box's keys, reading back while lines arrive,
// windows that open side by side and grow, and pushes that are checked.
#include "ChatFixture.h"

#include "chat/ChatPlacement.h"
#include "chat/ChatWorkspace.h"
#include "chat/QuietShow.h"
#include "chat/RemoteClientTerminatedDlg.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

namespace velmora::test {
namespace {

using chat::CHAT_TEXT;
using chat::PUSH_URL;

class ChatWorkdayTest : public ChatWindowTest {
protected:
    // The CHAT_TEXT bodies the console sent, in order.
    QList<QByteArray> SentTexts()
    {
        QList<QByteArray> out;
        for (const ReceivedFrame &f : server.Frames())
            if (f.code == CHAT_TEXT)
                out << chat::DecodeChatText(f.body).value_or(QByteArray("<bad>"));
        return out;
    }
    void Type(const QString &text) { QTest::keyClicks(window->InputText, text); }
};

TEST_F(ChatWorkdayTest, TextTravelsAsWindows1252AndVisitorsUtf8IsReadAsUtf8)
{
    OpenWindow();
    Receive(chat::USER_DETAILS, BodyOf(chat::BuildUserDetails("Zo\xC3\xAB", "", "").value()));
    // A browser's UTF-8, then another console's Windows-1252.
    Receive(CHAT_TEXT, BodyOf(chat::BuildChatText("Caf\xC3\xA9 for \xE2\x82\xAC" "3?").value()));
    Receive(CHAT_TEXT, BodyOf(chat::BuildChatText("Na\xEFve \x93quotes\x94").value()));
    ASSERT_TRUE(WaitFor([&] { return Conversation().count(QLatin1Char('\n')) >= 1; }));
    EXPECT_TRUE(Conversation().contains(QStringLiteral("Zo\u00EB: Caf\u00E9 for \u20AC3?"))) << Conversation().toStdString();
    EXPECT_TRUE(Conversation().contains(QStringLiteral("Zo\u00EB: Na\u00EFve \u201Cquotes\u201D")));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("  Chatting window  # 0, in chat with Zo\u00EB"));

    window->InputText->setPlainText(QStringLiteral("That is 5 \u20AC \u2014 \u201Cfinal\u201D"));
    EXPECT_EQ(window->UncarriedInInput(), 0);
    window->SendMsgBtnClick();
    ASSERT_TRUE(WaitFor([&] { return SentTexts().size() == 1; }));
    EXPECT_EQ(SentTexts()[0], QByteArray("That is 5 \x80 \x97 \x93" "final\x94"));
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(ChatWorkdayTest, CharactersTheWireCannotCarryAreMarkedAndSentOnlyWhenTheOperatorSaysSo)
{
    OpenWindow();
    const QString cyrillic = QStringLiteral("Hi \u041F\u0440\u0438\u0432\u0435\u0442");
    window->InputText->setPlainText(cyrillic);
    EXPECT_EQ(window->UncarriedInInput(), 6);
    EXPECT_EQ(window->InputText->extraSelections().size(), 6);

    boxes.answers = {BoxAnswer::Cancel};
    window->SendMsgBtnClick();
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown[0].text.contains(QStringLiteral("\u041F")));
    EXPECT_EQ(boxes.shown[0].buttons, BoxButtons::OkCancel);
    Settle();
    EXPECT_TRUE(SentTexts().isEmpty());
    EXPECT_EQ(window->InputText->toPlainText(), cyrillic); // nothing lost
    EXPECT_TRUE(Conversation().isEmpty());

    window->SendMsgBtnClick(); // "send anyway"
    ASSERT_TRUE(WaitFor([&] { return SentTexts().size() == 1; }));
    EXPECT_EQ(SentTexts()[0], QByteArray("Hi ??????"));
    // The conversation shows what the visitor got.
    EXPECT_TRUE(Conversation().contains(QStringLiteral("Anna: Hi ??????")));
    EXPECT_EQ(window->UncarriedInInput(), 0);
}

TEST_F(ChatWorkdayTest, InputBoxKeysFollowTheEnterSetting)
{
    OpenWindow();
    EXPECT_TRUE(window->InputText->tabChangesFocus());
    EXPECT_TRUE(window->Label1->text().startsWith(QStringLiteral("To send a message click send or use Enter, if enabled")));
    EXPECT_TRUE(window->Label1->text().contains(QStringLiteral("Enter sends")));

    Type(QStringLiteral("first"));
    QTest::keyClick(window->InputText, Qt::Key_Return, Qt::ShiftModifier);
    Type(QStringLiteral("second"));
    Settle(50);
    EXPECT_TRUE(SentTexts().isEmpty());
    EXPECT_EQ(window->InputText->toPlainText(), QStringLiteral("first\nsecond"));
    QTest::keyClick(window->InputText, Qt::Key_Return);
    ASSERT_TRUE(WaitFor([&] { return SentTexts().size() == 1; }));
    EXPECT_EQ(SentTexts()[0], QByteArray("first\r\nsecond"));

    Settings().UseEnterKeyToSendMessage = false;
    window->Pane().UpdateInputLabel();
    EXPECT_FALSE(window->Label1->text().contains(QStringLiteral("Enter sends")));
}

TEST_F(ChatWorkdayTest, ReadingBackKeepsThePlaceAndShowsTheNewMessagesMarker)
{
    OpenWindow();
    window->show();
    QScrollBar *bar = window->ChatOutPutText->verticalScrollBar();
    for (int i = 0; i < 60; ++i)
        window->Pane().AddLine(QStringLiteral("Eve: line %1").arg(i), Qt::blue, 4, Qt::black);
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum()); // followed while at the bottom
    EXPECT_FALSE(window->NewMessagesShown());

    bar->setValue(0); // the operator reads back
    Receive(CHAT_TEXT, BodyOf(chat::BuildChatText("are you there?").value()));
    ASSERT_TRUE(WaitFor([&] { return Conversation().contains(QStringLiteral("are you there?")); }));
    EXPECT_EQ(bar->value(), 0);
    EXPECT_TRUE(window->NewMessagesShown());
    EXPECT_TRUE(window->NewMessagesMarker->isVisible());

    window->NewMessagesMarker->click();
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_FALSE(window->NewMessagesShown());

    // The operator's own line always comes into view.
    bar->setValue(0);
    window->InputText->setPlainText(QStringLiteral("yes"));
    window->SendMsgBtnClick();
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_FALSE(window->NewMessagesShown());
}

TEST_F(ChatWorkdayTest, TheWindowGrowsWithItsConversationAndKeepsTheNameInTheCaption)
{
    OpenWindow();
    EXPECT_EQ(window->minimumSize(), QSize(403, 335));
    const int paneHeight = window->ChatOutPutText->height();
    const int paneWidth = window->ChatOutPutText->width();
    window->resize(700, 600);
    QCoreApplication::processEvents();
    EXPECT_GE(window->ChatOutPutText->height(), paneHeight + 250);
    EXPECT_GE(window->ChatOutPutText->width(), paneWidth + 280);
    EXPECT_EQ(RememberedChatSize(window->minimumSize()), QSize(700, 600));

    const QString name = QStringLiteral("Maximilian Alexander von Hohenberg-Lichtenstein");
    Receive(chat::USER_DETAILS, BodyOf(chat::BuildUserDetails(ToWire(name), "", "").value()));
    ASSERT_TRUE(WaitFor([&] { return window->windowTitle().endsWith(name); }));
    const QFontMetrics fm(QApplication::font("QMdiSubWindowTitleBar"));
    EXPECT_GT(window->width(), fm.horizontalAdvance(window->windowTitle()));
    RememberChatSize(window->minimumSize());
}

// "Leave this chat window open": the window says the visitor left and when,
// and nothing more can be typed or sent into the dead connection.
TEST_F(ChatWorkdayTest, AVisitorWhoLeftLeavesAReadOnlyWindowThatSendsNothing)
{
    OpenWindow();
    Receive(chat::USER_DETAILS, BodyOf(chat::BuildUserDetails("Eve", "", "").value()));
    Receive(CHAT_TEXT, BodyOf(chat::BuildChatText("thanks, bye").value()));
    window->ExtraToolsOpenBtnClick();
    ASSERT_TRUE(window->ExtraToolsOpen());
    Receive(chat::END_SESSION);
    ASSERT_TRUE(WaitFor([&] { return window->Ended(); }));
    EXPECT_EQ(dialogs.endDialogs, 1);
    const QStringList lines = Conversation().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], QStringLiteral("Eve: thanks, bye"));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("Eve left the chat at ")));
    EXPECT_TRUE(lines[1].contains(QRegularExpression(QStringLiteral("\\d:\\d\\d"))));
    EXPECT_FALSE(window->InputText->isEnabled());
    EXPECT_FALSE(window->SendMsgBtn->isEnabled());
    EXPECT_FALSE(window->ExtraToolsOpenBtn->isEnabled());
    EXPECT_FALSE(window->ExtraToolsOpen());

    const std::size_t before = server.Frames().size();
    window->InputText->setPlainText(QStringLiteral("are you still there?"));
    window->SendMsgBtnClick();
    for (int second = 0; second < 120; ++second)
        window->ElapesedTimeDisp(); // keep-alives would fall due
    window->PushUrlBtnClick();
    Settle();
    EXPECT_EQ(server.Frames().size(), before);
    EXPECT_EQ(Conversation().split(QLatin1Char('\n')).size(), 2);
    window->FormClose();
    Settle();
    EXPECT_EQ(server.Frames().size(), before); // no second farewell
    EXPECT_EQ(calls.lastStatus, CallStatusEndChat);
}

// The server connection drops: the call's row says "Net Error !", but the
// conversation stays readable; closing the window composes its transcript once.
TEST_F(ChatWorkdayTest, ALostServerConnectionLeavesTheConversationReadable)
{
    host.transcriptsOff = false;
    OpenWindow();
    Receive(CHAT_TEXT, BodyOf(chat::BuildChatText("my order number is 4711").value()));
    ASSERT_TRUE(WaitFor([&] { return !Conversation().isEmpty(); }));
    window->InputText->setPlainText(QStringLiteral("let me look"));
    window->TakeDownOnNetError();
    EXPECT_EQ(calls.lastStatus, CallStatusNetError);
    EXPECT_TRUE(calls.events.contains(QStringLiteral("gone")));
    ASSERT_FALSE(window.isNull());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->Detached());
    EXPECT_TRUE(Conversation().startsWith(QStringLiteral(": my order number is 4711\n")));
    EXPECT_TRUE(Conversation().contains(QStringLiteral("The connection to the server was lost at ")));
    EXPECT_FALSE(window->InputText->isEnabled());
    EXPECT_EQ(window->InputText->toPlainText(), QStringLiteral("let me look"));
    window->TakeDownOnNetError(); // a second report changes nothing
    EXPECT_EQ(calls.events.count(QStringLiteral("gone")), 1);

    const QStringList before = calls.events;
    window->close(); // the close box
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(host.transcripts, 1);
    EXPECT_EQ(calls.events, before); // the call was finished with at the loss
}

// A new call's chat opens while the operator types in another: the keys stay
// there until the operator clicks the new one. Then one visitor leaves while
// the operator types to the other: the dialog sits on its own chat, blocks
// nothing else and leaves the keyboard where it was.
TEST_F(ChatWorkdayTest, ANewChatAndTheEndOfChatDialogTakeNoKeys)
{
    OpenWindow();
    window->activateWindow();
    ASSERT_TRUE(WaitFor([&] { return window->isActiveWindow(); }));
    window->InputText->setFocus();
    Type(QStringLiteral("abcdef"));
    ChatItem second;
    ConnectRecord(server, second, 4712);
    QPointer<TOneChatWindow> typing = new TOneChatWindow(1, &second, calls, host);
    WaitFor([] { return false; }, 600); // past any activation the platform would make
    ASSERT_EQ(QApplication::focusWidget(), window->InputText);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("ghij"));
    EXPECT_TRUE(window->isActiveWindow());
    EXPECT_EQ(window->InputText->toPlainText(), QStringLiteral("abcdefghij"));
    EXPECT_TRUE(typing->InputText->toPlainText().isEmpty());
    window->InputText->clear();

    QTest::mouseClick(typing->InputText, Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return typing->isActiveWindow(); }));
    typing->InputText->setFocus();
    QTest::keyClicks(typing->InputText, QStringLiteral("Half a sen"));

    SetChatDialogs(nullptr); // the console's own dialog
    Receive(chat::END_SESSION); // on the first chat's connection
    TRemoteClientTerminatedDlg *dialog = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        dialog = window ? window->findChild<TRemoteClientTerminatedDlg *>() : nullptr;
        return dialog && dialog->isVisible();
    }));
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(dialog->testAttribute(Qt::WA_ShowWithoutActivating));
    RunFor(100);
    EXPECT_TRUE(typing->isActiveWindow());
    EXPECT_EQ(QApplication::focusWidget(), typing->InputText);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("tence "));
    EXPECT_EQ(typing->InputText->toPlainText(), QStringLiteral("Half a sentence "));
    EXPECT_TRUE(dialog->isVisible()); // the space answered nothing
    EXPECT_FALSE(window->Closed());

    dialog->CloseBtn->click();
    ASSERT_TRUE(WaitFor([&] { return window->Closed(); }));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
    EXPECT_FALSE(typing.isNull());
    SetChatDialogs(&dialogs);
    delete typing.data();
}

// The visitor writes first, into a chat that opened while the operator typed
// in another. Turned to through the window manager (no click into it), it
// takes the keys in its message box. The first visitor then leaves; the
// question over that chat, never clicked, answers Esc once the operator
// turns to the chat, and the keys go on to the chat that is left.
TEST_F(ChatWorkdayTest, TurnedToThroughTheWindowManagerAChatAndItsQuestionTakeTheKeys)
{
    OpenWindow();
    TurnToChat(window);
    ASSERT_TRUE(WaitFor([&] { return window->isActiveWindow(); }));
    Type(QStringLiteral("one moment"));
    ChatItem second;
    ConnectRecord(server, second, 4712);
    QPointer<TOneChatWindow> other = new TOneChatWindow(1, &second, calls, host);
    ASSERT_TRUE(server.WaitForFrames(6));
    ASSERT_TRUE(server.SendFrame(1, CHAT_TEXT, BodyOf(chat::BuildChatText("Is anybody there?").value())));
    ASSERT_TRUE(WaitFor([&] { return other->ChatOutPutText->toPlainText().contains(QStringLiteral("anybody")); }));
    RunFor(600);
    ASSERT_TRUE(window->isActiveWindow()); // it took nothing from the typing

    QApplication::setActiveWindow(other); // Alt+Tab, the title bar, the task bar
    ASSERT_EQ(QApplication::focusWidget(), other->InputText);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Yes, I am here"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_TRUE(WaitFor([&] { return SentTexts().contains("Yes, I am here"); }));

    SetChatDialogs(nullptr); // the console's own question
    Receive(chat::END_SESSION); // the first visitor leaves
    TRemoteClientTerminatedDlg *question = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        question = window ? window->findChild<TRemoteClientTerminatedDlg *>() : nullptr;
        return question && question->isVisible();
    }));
    RunFor(600);
    EXPECT_TRUE(other->isActiveWindow());
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(WaitFor([&] { return question->isActiveWindow(); }));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape); // "Close this chat window"
    ASSERT_TRUE(WaitFor([&] { return !window || window->Closed(); }));
    ASSERT_TRUE(WaitFor([&] { return other->isActiveWindow(); }));
    EXPECT_EQ(QApplication::focusWidget(), other->InputText);
    SetChatDialogs(&dialogs);

    // A call taken while nobody types opens with the keys in its box.
    RunFor(2100);
    ChatItem third;
    ConnectRecord(server, third, 4713);
    QPointer<TOneChatWindow> taken = new TOneChatWindow(2, &third, calls, host);
    ASSERT_TRUE(WaitFor([&] { return taken->isActiveWindow(); }));
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Hello"));
    EXPECT_EQ(taken->InputText->toPlainText(), QStringLiteral("Hello"));
    delete taken.data();
    delete other.data();
}

// Chats in one window: a call's tab opens beside the one the operator types
// in and takes neither the keys nor the front; it counts the visitor's lines
// until the operator turns to it, and says when the visitor types or left.
TEST_F(ChatWorkdayTest, InOneWindowANewTabWaitsBesideTheTabBeingTypedInAndCountsItsLines)
{
    Settings().ChatsInOneWindow = true;
    TChatWorkspace workspace;
    OpenWindow();
    ASSERT_EQ(TChatWorkspace::Holding(window), &workspace);
    ASSERT_TRUE(workspace.isVisible());
    workspace.activateWindow();
    ASSERT_TRUE(WaitFor([&] { return workspace.isActiveWindow(); }));
    window->InputText->setFocus();
    Type(QStringLiteral("abc"));

    ChatItem second;
    ConnectRecord(server, second, 4712);
    QPointer<TOneChatWindow> other = new TOneChatWindow(1, &second, calls, host);
    ASSERT_TRUE(server.WaitForFrames(6));
    ASSERT_EQ(workspace.Chats(), (QList<QWidget *>{window, other}));
    ASSERT_TRUE(server.SendFrame(1, CHAT_TEXT, BodyOf(chat::BuildChatText("hello?").value())));
    ASSERT_TRUE(server.SendFrame(1, CHAT_TEXT, BodyOf(chat::BuildChatText("anyone?").value())));
    ASSERT_TRUE(server.SendFrame(1, chat::TYPING_START));
    ASSERT_TRUE(WaitFor([&] { return other->RemoteTyping(); }));
    RunFor(100);
    EXPECT_EQ(workspace.CurrentChat(), window.data());
    EXPECT_EQ(QApplication::focusWidget(), window->InputText);
    Type(QStringLiteral("def"));
    EXPECT_EQ(window->InputText->toPlainText(), QStringLiteral("abcdef"));
    EXPECT_EQ(workspace.Unread(other), 2);
    EXPECT_EQ(workspace.TabText(other), QStringLiteral("2: #1 (2) - typing..."));

    // A click on its tab is turning to it: the keys go into its box.
    QTabBar *tabBar = workspace.Tabs()->tabBar();
    QTest::mouseClick(tabBar, Qt::LeftButton, {}, tabBar->tabRect(1).center());
    EXPECT_EQ(workspace.CurrentChat(), other.data());
    EXPECT_EQ(QApplication::focusWidget(), other->InputText);
    // Ctrl+Tab is the operator turning to it: nothing unread, keys in its input.
    TurnToChat(other);
    EXPECT_EQ(workspace.CurrentChat(), other.data());
    EXPECT_EQ(QApplication::focusWidget(), other->InputText);
    EXPECT_EQ(workspace.Unread(other), 0);
    EXPECT_TRUE(other->ChatOutPutText->toPlainText().contains(QStringLiteral("You are now chatting with")));
    EXPECT_EQ(workspace.TabText(other), QStringLiteral("2: #1 - typing..."));
    EXPECT_EQ(window->InputText->toPlainText(), QStringLiteral("abcdef")); // the draft waits in its tab

    // Behind another program even the tab in front counts, until the operator is back.
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    ASSERT_TRUE(WaitFor([&] { return !workspace.isActiveWindow(); }));
    ASSERT_TRUE(server.SendFrame(1, CHAT_TEXT, BodyOf(chat::BuildChatText("still there?").value())));
    ASSERT_TRUE(WaitFor([&] { return workspace.Unread(other) == 1; }));
    workspace.activateWindow();
    ASSERT_TRUE(WaitFor([&] { return workspace.Unread(other) == 0; }));

    Receive(chat::END_SESSION); // the first visitor leaves, behind the current tab
    ASSERT_TRUE(WaitFor([&] { return window->Ended(); }));
    EXPECT_TRUE(workspace.TabText(window).endsWith(QStringLiteral(" - ended")));
    EXPECT_EQ(dialogs.endDialogs, 1);
    EXPECT_EQ(workspace.CurrentChat(), other.data());
    delete other.data();
    EXPECT_EQ(workspace.Chats(), QList<QWidget *>{window});

    // A visitor's name is shown as written, short and on one line.
    EXPECT_EQ(TChatWorkspace::TabLabel(3, false, QStringLiteral("Tom &\nJerry"), 0, false, false),
              QStringLiteral("#3 Tom && Jerry"));
    EXPECT_EQ(TChatWorkspace::TabLabel(0, true, QString(40, QLatin1Char('x')), 1, true, true),
              QStringLiteral("Supporter ") + QString(23, QLatin1Char('x')) + QChar(0x2026) + QStringLiteral(" (1) - ended"));
}

// A tab leaves for a window of its own and comes back, by the key and by
// dragging, with its conversation, its draft and its connection.
TEST_F(ChatWorkdayTest, InOneWindowATabTornOffAndBackKeepsItsConversationAndItsChat)
{
    Settings().ChatsInOneWindow = true;
    TChatWorkspace workspace;
    OpenWindow();
    Receive(CHAT_TEXT, BodyOf(chat::BuildChatText("first line").value()));
    ASSERT_TRUE(WaitFor([&] { return Conversation().contains(QStringLiteral("first line")); }));
    window->InputText->setPlainText(QStringLiteral("draft"));
    const auto keyInInput = [&] {
        TurnToChat(window);
        ASSERT_TRUE(WaitFor([&] { return window->isActiveWindow(); }));
        QTest::keyClick(window->InputText, Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
    };

    keyInInput();
    ASSERT_TRUE(window->isWindow());
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(workspace.isVisible()); // nothing left in it
    EXPECT_TRUE(Conversation().contains(QStringLiteral("first line")));
    EXPECT_EQ(window->InputText->toPlainText(), QStringLiteral("draft"));
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint)); // a chat window as any other
    window->SendMsgBtnClick();
    ASSERT_TRUE(WaitFor([&] { return SentTexts() == QList<QByteArray>{"draft"}; }));

    keyInInput();
    ASSERT_EQ(TChatWorkspace::Holding(window), &workspace);
    EXPECT_TRUE(workspace.isVisible());
    EXPECT_EQ(workspace.CurrentChat(), window.data());

    // Dragged off the tab bar, and the window dropped back onto it.
    QTabBar *bar = workspace.Tabs()->tabBar();
    const QPoint tab = bar->tabRect(0).center();
    QTest::mousePress(bar, Qt::LeftButton, {}, tab);
    QTest::mouseMove(bar, tab + QPoint(0, 150));
    QTest::mouseRelease(bar, Qt::LeftButton, {}, tab + QPoint(0, 150));
    ASSERT_TRUE(window->isWindow());
    const QPoint onBar = bar->mapToGlobal(tab);
    EXPECT_FALSE(workspace.TakeBackIfDropped(window, onBar)); // the workspace is not up: nowhere to drop
    ChatItem second;
    ConnectRecord(server, second, 4712);
    QPointer<TOneChatWindow> other = new TOneChatWindow(1, &second, calls, host);
    ASSERT_TRUE(workspace.isVisible());
    window->move(onBar - QPoint(20, 5));
    EXPECT_FALSE(workspace.TakeBackIfDropped(window, onBar + QPoint(0, 200))); // let go elsewhere
    ASSERT_TRUE(workspace.TakeBackIfDropped(window, onBar));
    EXPECT_EQ(workspace.Chats(), (QList<QWidget *>{other, window}));
    EXPECT_EQ(workspace.CurrentChat(), window.data());
    window->InputText->setPlainText(QStringLiteral("back"));
    window->SendMsgBtnClick();
    ASSERT_TRUE(WaitFor([&] { return SentTexts().size() == 2; }));
    EXPECT_EQ(SentTexts()[1], QByteArray("back"));
    EXPECT_TRUE(Conversation().contains(QStringLiteral("first line")));

    // Its dock handle dragged onto the workspace (the way back where the
    // window manager tells nobody of a window's moves): the chat comes back
    // before the tab it is let go on. A drag naming no chat of ours does nothing.
    workspace.TearOff(window);
    ASSERT_TRUE(window->isWindow());
    auto *handle = window->findChild<QToolButton *>(QStringLiteral("DockHandle"));
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(handle->isVisible());
    const QPoint firstTab = bar->mapTo(&workspace, bar->tabRect(0).center());
    QMimeData foreign;
    foreign.setData(QStringLiteral("application/x-velmora-chat"), QByteArray::number(quintptr(&foreign)));
    EXPECT_FALSE(workspace.DropChat(&foreign, firstTab));
    const std::unique_ptr<QMimeData> dragged(TChatWorkspace::DragData(window));
    QDragEnterEvent enter(firstTab, Qt::MoveAction, dragged.get(), Qt::LeftButton, {});
    QCoreApplication::sendEvent(&workspace, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(firstTab), Qt::MoveAction, dragged.get(), Qt::LeftButton, {});
    QCoreApplication::sendEvent(&workspace, &drop);
    ASSERT_TRUE(WaitFor([&] { return TChatWorkspace::Holding(window) == &workspace; }));
    EXPECT_EQ(workspace.Chats(), (QList<QWidget *>{window, other}));
    EXPECT_FALSE(handle->isVisibleTo(window));
    delete other.data();
}

TEST(ChatPlacement, CascadesBesideTheCallListAndNeverOnAnotherChat)
{
    const QRect screen(0, 0, 1280, 1024);
    const QRect mainWindow(300, 350, 680, 320);
    const QSize size(403, 335);
    QList<QRect> chats;
    for (int i = 0; i < 6; ++i) {
        const QPoint at = CascadePosition(size, chats, mainWindow, screen);
        const QRect placed(at, size);
        EXPECT_TRUE(screen.contains(placed)) << i;
        EXPECT_FALSE(placed.intersects(mainWindow)) << i;
        for (const QRect &other : chats)
            EXPECT_TRUE(qAbs(other.left() - at.x()) >= kCascadeStep / 2 || qAbs(other.top() - at.y()) >= kCascadeStep / 2)
                << i;
        chats.append(placed);
    }
    // A small screen the main window fills: chats still never share a corner.
    const QRect small(0, 0, 800, 600);
    const QRect filling(0, 0, 800, 600);
    chats.clear();
    for (int i = 0; i < 30; ++i) {
        const QPoint at = CascadePosition(size, chats, filling, small);
        EXPECT_TRUE(small.contains(QRect(at, size))) << i;
        for (const QRect &other : chats)
            EXPECT_NE(other.topLeft(), at) << i;
        chats.append(QRect(at, size));
    }
}

TEST(ChatPlacement, ExtraToolsStayOnTheScreenBesideTheirChat)
{
    const QRect screen(0, 0, 1280, 1024);
    const QSize tools(210, 260);
    // Room on the right: beside the right edge, 200 pixels down.
    EXPECT_EQ(ExtraToolsPosition(QRect(100, 50, 403, 335), tools, screen), QPoint(503, 250));
    // None on the right: on the left of the chat.
    EXPECT_EQ(ExtraToolsPosition(QRect(821, 50, 403, 335), tools, screen), QPoint(611, 250));
    // Near the bottom: pulled up onto the screen.
    EXPECT_EQ(ExtraToolsPosition(QRect(100, 900, 403, 335), tools, screen).y(), 1024 - 260);
    // A chat as wide as the screen: the tools still land on it, over the chat.
    const QPoint wide = ExtraToolsPosition(QRect(0, 0, 1280, 400), tools, screen);
    EXPECT_TRUE(screen.contains(QRect(wide, tools)));
}

TEST_F(ChatWorkdayTest, ASecondChatOpensCascadedFromTheFirst)
{
    OpenWindow();
    ChatItem second;
    ConnectRecord(server, second, 4712);
    QPointer<TOneChatWindow> other = new TOneChatWindow(1, &second, calls, host);
    ASSERT_TRUE(other->isVisible());
    EXPECT_NE(other->pos(), window->pos());
    EXPECT_GE((other->pos() - window->pos()).manhattanLength(), kCascadeStep);
    delete other.data();
}

TEST_F(ChatWorkdayTest, AStoredShortcutThatIsNoWebAddressIsNeverPushed)
{
    OpenWindow();
    dialogs.shortcut = QStringLiteral("javascript:alert(document.cookie)");
    window->PushUrlBtnClick();
    Settle();
    for (const ReceivedFrame &f : server.Frames())
        EXPECT_NE(f.code, PUSH_URL);
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Missing http:// or https:// prefix in the supplied URL !."));

    dialogs.shortcut = QStringLiteral("https://example.org/help");
    window->PushUrlBtnClick();
    EXPECT_GE(server.WaitForFrame(PUSH_URL), 0);
}

} // namespace
} // namespace velmora::test
