#include "ChatFixture.h"

#include "archive/ArchiveRecorder.h"
#include "chat/ChatLines.h"
#include "chat/RemoteClientTerminatedDlg.h"
#include "spell/SpellChecker.h"
#include "spell/SpellHighlighter.h"

#include <QImage>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextLayout>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>

#include <algorithm>

namespace velmora::test {
namespace {

using chat::CHAT_KEEP_ALIVE;
using chat::CHAT_TEXT;
using chat::END_SESSION;
using chat::TYPING_START;
using chat::TYPING_STOP;

// The colour of the character at `position` of the conversation.
QColor ColourAt(QTextDocument &document, int position)
{
    QTextCursor cursor(&document);
    cursor.setPosition(position + 1);
    return cursor.charFormat().foreground().color();
}

// A box during which the main window takes the chat down and the window is
// destroyed, as when the server connection drops while the box is up.
class TakingDownBoxes final : public IBoxes {
public:
    explicit TakingDownBoxes(TOneChatWindow *window) : m_window(window) { SetBoxes(this); }
    ~TakingDownBoxes() override { SetBoxes(nullptr); }
    BoxAnswer Show(const BoxRequest &) override
    {
        if (m_window)
            m_window->TakeDownOnNetError();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return BoxAnswer::Ok;
    }

private:
    QPointer<TOneChatWindow> m_window;
};

// What the opening sends is the customer chat's business (CustomerChatTest).
TEST_F(ChatWindowTest, OpeningShowsTheClockAndTakesTheCallsConnection)
{
    OpenWindow();
    EXPECT_EQ(window->StatusPanelText(2), QStringLiteral("0:00:01"));
    EXPECT_EQ(window->StatusPanelText(0), QStringLiteral("Status"));
    EXPECT_TRUE(window->Chat().ClockTimer().isActive());
    EXPECT_EQ(calls.events, QStringList{QStringLiteral("status 2")});
    EXPECT_EQ(window->windowTitle(), QStringLiteral("  Chatting window  # 0"));
    EXPECT_EQ(record.Socket, window->Socket());
}

// ... and whether the caller came before: the count stays whole while the
// visitor types beside it.
TEST_F(ChatWindowTest, CallThatWaitedOnHoldKnowsItsCaller)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("archive.db"));
    {
        TArchiveDb db;
        ASSERT_EQ(db.Open(path), TArchiveDb::OpenResult::Ok);
        for (int i = 1; i <= 12; ++i) {
            TArchiveChat earlier;
            earlier.Visitor = QStringLiteral("Bob");
            earlier.Email = QStringLiteral("bob@example.org");
            earlier.Started = QDateTime::currentMSecsSinceEpoch() - i * 86400000LL;
            earlier.Open = false;
            db.InsertChat(earlier);
        }
    }
    TArchiveRecorder recorder(path);
    SetArchiveRecorder(&recorder);
    MakeRecord();
    record.OnHold = true;
    record.Name = QStringLiteral("Bob");
    record.Email = QStringLiteral("bob@example.org");
    window = new TOneChatWindow(3, &record, calls, host);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("  Chatting window  # 3, in chat with Bob"));
    EXPECT_EQ(window->CallerEmail(), QStringLiteral("bob@example.org"));
    EXPECT_EQ(window->WarningCaption(), QStringLiteral(" Warning for Chat window # 3"));

    auto *earlier = window->findChild<QPushButton *>(QStringLiteral("EarlierChatsBtn"));
    ASSERT_NE(earlier, nullptr);
    EXPECT_TRUE(earlier->text().startsWith(QStringLiteral("12 earlier chats, last on ")));
    window->resize(window->minimumSize());
    Receive(chat::TYPING_START);
    ASSERT_TRUE(WaitFor([&] { return window->RemoteTyping(); }));
    QCoreApplication::processEvents();
    EXPECT_GE(earlier->width(), earlier->fontMetrics().horizontalAdvance(earlier->text()));
    window->activateWindow();
    ASSERT_TRUE(WaitFor([&] { return window->isActiveWindow(); }));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_H, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(host.pastChats, QStringList{QStringLiteral("bob@example.org")});
    delete window.data();
    SetArchiveRecorder(nullptr);
}

// The notices' sequence is the customer chat's (CustomerChatTest); here the
// input box drives it.
TEST_F(ChatWindowTest, TypingInTheInputSendsNoticesAndTheLine)
{
    OpenWindow();
    window->InputText->insertPlainText(QStringLiteral("H"));
    window->InputText->insertPlainText(QStringLiteral("ello"));
    EXPECT_TRUE(window->TypingNoticeSent());
    window->InputText->clear();
    EXPECT_FALSE(window->TypingNoticeSent());
    window->InputText->insertPlainText(QStringLiteral("Hi"));
    window->SendMsgBtnClick();

    const int text = server.WaitForFrame(CHAT_TEXT);
    ASSERT_GE(text, 0);
    EXPECT_EQ(chat::DecodeChatText(server.Frames()[size_t(text)].body).value(), QByteArray("Hi"));
    EXPECT_TRUE(window->InputText->toPlainText().isEmpty());
    EXPECT_FALSE(window->TypingNoticeSent());
    EXPECT_EQ(Conversation(), QStringLiteral("Anna: Hi"));
}

TEST_F(ChatWindowTest, EmptyInputSendsAndRendersNothing)
{
    OpenWindow();
    window->SendMsgBtnClick();
    Settle();
    EXPECT_TRUE(CodesAfterOpening().empty());
    EXPECT_TRUE(Conversation().isEmpty());
    // Line breaks alone are no message either, and do not stay to lead the next one.
    window->InputText->setPlainText(QStringLiteral("\n\n"));
    window->SendMsgBtnClick();
    EXPECT_EQ(CodesAfterOpening(2), (std::vector<quint16>{TYPING_START, TYPING_STOP}));
    EXPECT_TRUE(window->InputText->toPlainText().isEmpty());
    EXPECT_TRUE(Conversation().isEmpty());
}

TEST_F(ChatWindowTest, MultiLineMessageIsOneMessageWithWindowsLineBreaks)
{
    OpenWindow();
    // An Enter pressed first or last is not sent as an empty line.
    window->InputText->setPlainText(QStringLiteral("\r\none\ntwo\n\n"));
    window->SendMsgBtnClick();
    const auto codes = CodesAfterOpening(3);
    ASSERT_EQ(codes.size(), 3u);
    EXPECT_EQ(chat::DecodeChatText(server.Frames()[4].body).value(), QByteArray("one\r\ntwo"));
    // Still one paragraph of the conversation.
    EXPECT_EQ(window->ChatOutPutText->document()->blockCount(), 1);
}

TEST_F(ChatWindowTest, EnterSendsOnlyWhenSetToDoSo)
{
    OpenWindow();
    window->InputText->setFocus();
    window->InputText->insertPlainText(QStringLiteral("first"));
    QTest::keyClick(window->InputText, Qt::Key_Return);
    EXPECT_TRUE(window->InputText->toPlainText().isEmpty());
    EXPECT_EQ(CodesAfterOpening(3), (std::vector<quint16>{TYPING_START, CHAT_TEXT, TYPING_STOP}));

    Settings().UseEnterKeyToSendMessage = false;
    window->InputText->insertPlainText(QStringLiteral("a"));
    QTest::keyClick(window->InputText, Qt::Key_Return);
    QTest::keyClick(window->InputText, Qt::Key_Enter);
    Settle();
    EXPECT_EQ(window->InputText->toPlainText(), QStringLiteral("a\n\n"));
    EXPECT_EQ(CodesAfterOpening(), (std::vector<quint16>{TYPING_START, CHAT_TEXT, TYPING_STOP, TYPING_START}));
}

TEST_F(ChatWindowTest, InputIsCappedAtItsLimit)
{
    OpenWindow();
    window->InputText->setPlainText(QString(TChatPane::kMaxInputChars - 2, QLatin1Char('x')));
    window->InputText->moveCursor(QTextCursor::End);
    window->InputText->insertPlainText(QStringLiteral("12345"));
    EXPECT_EQ(window->InputText->toPlainText().size(), TChatPane::kMaxInputChars);
    EXPECT_TRUE(window->InputText->toPlainText().endsWith(QStringLiteral("xx12")));
}

TEST_F(ChatWindowTest, VisitorMarkupIsShownAsCharactersInTheVisitorsColours)
{
    Settings().UserNameColor = 0xFF0000; // blue in 0x00BBGGRR
    Settings().UserTextColor = 0x00FF00; // green
    OpenWindow();
    ActivateElsewhere();
    Receive(chat::USER_DETAILS, BodyOf(chat::BuildUserDetails("Eve", "eve@example.org", "555").value()));
    const QString markup = QStringLiteral("<b>x</b><img src=y>");
    Receive(CHAT_TEXT, BodyOf(chat::BuildChatText(ToWire(markup)).value()));
    ASSERT_TRUE(WaitFor([&] { return !Conversation().isEmpty(); }));

    EXPECT_EQ(Conversation(), QStringLiteral("Eve: ") + markup);
    EXPECT_FALSE(window->ChatOutPutText->toHtml().contains(QStringLiteral("<img")));
    QTextDocument &doc = *window->ChatOutPutText->document();
    EXPECT_EQ(ColourAt(doc, 0), QColor(0, 0, 255));  // "E"
    EXPECT_EQ(ColourAt(doc, 3), QColor(0, 0, 255));  // ":"
    EXPECT_EQ(ColourAt(doc, 5), QColor(0, 255, 0));  // "<"
    EXPECT_TRUE(window->Flashing());                  // not the active window

    Receive(CHAT_TEXT, BodyOf(chat::BuildChatText("").value()));
    ASSERT_TRUE(WaitFor([&] { return doc.blockCount() == 2; }));
    EXPECT_EQ(doc.lastBlock().text(), QStringLiteral("Eve: "));
}

TEST_F(ChatWindowTest, EmptyLineFollowsEveryLineNoticesIncluded)
{
    Settings().EmptyLineAdd = true;
    OpenWindow(0x000D, true);
    window->FormActivate(); // only the first activation writes the notices
    window->InputText->setPlainText(QStringLiteral("Hi"));
    window->SendMsgBtnClick();
    EXPECT_EQ(Conversation(), QStringLiteral("You are now chatting with .\n\nCalling from : www.example.org.\n\n"
                                             "\n\nAnna: Hi\n"));
    QTextDocument &doc = *window->ChatOutPutText->document();
    EXPECT_EQ(ColourAt(doc, 0), QColor(0, 128, 0));
}

TEST_F(ChatWindowTest, SupporterChatHasNoCallingFromNoticeAndNoExtraTools)
{
    OpenWindow(0x0108, true);
    EXPECT_EQ(Conversation(), QStringLiteral("You are now chatting with ."));
    EXPECT_FALSE(window->ExtraToolsOpenBtn->isEnabled());
    window->FormClose();
    ASSERT_TRUE(WaitClosed());
    EXPECT_TRUE(host.supportChatEnabled);
}

TEST_F(ChatWindowTest, RemoteTypingShowsAndClears)
{
    OpenWindow();
    Receive(chat::USER_DETAILS, BodyOf(chat::BuildUserDetails("Eve", "", "").value()));
    Receive(TYPING_START);
    ASSERT_TRUE(WaitFor([&] { return window->RemoteTyping(); }));
    EXPECT_EQ(window->StatusPanelText(1), QStringLiteral(" Eve typing..."));
    Receive(CHAT_TEXT, BodyOf(chat::BuildChatText("hi").value()));
    ASSERT_TRUE(WaitFor([&] { return !window->RemoteTyping(); }));
    EXPECT_TRUE(window->StatusPanelText(1).isEmpty());
}

TEST_F(ChatWindowTest, EveryUserDetailsAppendsToTheCaptionAndReachesTheCallList)
{
    OpenWindow(0x000D, true); // the opening notice came before the name
    const QByteArray details = BodyOf(chat::BuildUserDetails("Eve", "eve@example.org", "555").value());
    Receive(chat::USER_DETAILS, details);
    // A NUL (or another control) in a name never cuts the caption there.
    Receive(chat::USER_DETAILS, BodyOf(chat::BuildUserDetails(QByteArray("Eve\0Mal\rlory", 12), "eve@example.org",
                                                             "555").value()));
    ASSERT_TRUE(WaitFor([&] { return window->windowTitle().count(QStringLiteral(", in chat with ")) == 2; }));
    EXPECT_EQ(window->windowTitle(),
              QStringLiteral("  Chatting window  # 0, in chat with Eve, in chat with Eve Mal lory"));
    EXPECT_TRUE(Conversation().startsWith(QStringLiteral("You are now chatting with Eve.\nCalling from")));
    EXPECT_TRUE(calls.events.contains(QStringLiteral("email eve@example.org")));
    EXPECT_TRUE(calls.events.contains(QStringLiteral("phone 555")));
}

TEST_F(ChatWindowTest, ClockShowsHoursInTheStatusBar)
{
    OpenWindow();
    while (window->Clock() < 3600)
        window->ElapesedTimeDisp();
    EXPECT_EQ(window->StatusPanelText(2), QStringLiteral("1:00:00"));
    EXPECT_EQ(ClockText(59), QStringLiteral("0:00:59"));
    EXPECT_EQ(ClockText(3725), QStringLiteral("1:02:05"));
    EXPECT_EQ(ClockText(100 * 3600 + 65), QStringLiteral("100:01:05"));
}

TEST_F(ChatWindowTest, VisitorLeavingAsksAndClosingSendsNoEndSession)
{
    OpenWindow();
    Receive(END_SESSION);
    ASSERT_TRUE(WaitFor([&] { return dialogs.endDialogs == 1; }));
    // The click arrives through the event loop, as the operator's would.
    QTimer::singleShot(0, [&] { dialogs.AnswerEnd(true); });
    ASSERT_TRUE(WaitFor([&] { return window.isNull(); }));
    EXPECT_EQ(calls.events,
              (QStringList{"status 2", "end time", "status 6", "unlink", "gone"}));
    ASSERT_TRUE(server.WaitForClosed(0));
    EXPECT_TRUE(CodesAfterOpening().empty());
}

TEST_F(ChatWindowTest, VisitorLeavingCanLeaveTheWindowOpen)
{
    OpenWindow();
    Receive(TYPING_START);
    Receive(END_SESSION);
    ASSERT_TRUE(WaitFor([&] { return window->Ended(); }));
    EXPECT_EQ(dialogs.endDialogs, 1);
    EXPECT_FALSE(window->Closed());
    EXPECT_FALSE(window->RemoteTyping());
    // Closing later neither asks about typing nor sends END_SESSION.
    window->FormClose();
    EXPECT_TRUE(boxes.shown.isEmpty());
    Settle();
    EXPECT_TRUE(CodesAfterOpening().empty());
}

TEST_F(ChatWindowTest, NoEndOfChatDialogWhileTransferring)
{
    OpenWindow();
    window->SetTransferring(true);
    Receive(END_SESSION);
    ASSERT_TRUE(WaitFor([&] { return window->Ended(); }));
    server.CloseConnection(0);
    Settle(300);
    EXPECT_EQ(dialogs.endDialogs, 0);
    window->FormClose();
    EXPECT_EQ(calls.lastStatus, 9);
}

// A lost connection ends the chat visibly: the window that stays open says
// so and takes no more lines, so nothing typed is lost into a dead connection.
TEST_F(ChatWindowTest, LostConnectionAsksOnceAndTheWindowTakesNoMoreLines)
{
    OpenWindow();
    window->InputText->setPlainText(QStringLiteral("half a sentence"));
    // Closed once its typing notice is read: a close over unread data is a
    // reset, which is a network error with a box of its own.
    ASSERT_TRUE(server.WaitForFrames(4));
    server.CloseConnection(0);
    ASSERT_TRUE(WaitFor([&] { return window->Ended(); }));
    EXPECT_EQ(dialogs.endDialogs, 1);
    EXPECT_TRUE(Conversation().startsWith(QStringLiteral("The visitor left the chat at ")));
    EXPECT_TRUE(Conversation().endsWith(QStringLiteral("(the connection closed)")));
    EXPECT_FALSE(window->InputText->isEnabled());
    EXPECT_FALSE(window->SendMsgBtn->isEnabled());
    EXPECT_NE(window->SendMsgBtn->palette().color(QPalette::Disabled, QPalette::ButtonText), QColor(Qt::red));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("  Chatting window  # 0, chat ended"));
    EXPECT_EQ(window->InputText->toPlainText(), QStringLiteral("half a sentence")); // still there to copy
    const QString before = Conversation();
    window->SendMsgBtnClick();
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_EQ(Conversation(), before);
    window->FormClose();
    EXPECT_EQ(dialogs.endDialogs, 1);
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(ChatWindowTest, NetworkErrorsShowTheirTextAndKeepTheWindow)
{
    OpenWindow();
    window->ChatSocketError(10061);
    window->ChatSocketError(12345);
    ASSERT_EQ(boxes.shown.size(), 2);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Connection refused or not available, check program params !"));
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Network error !"));
    EXPECT_EQ(boxes.shown[0].icon, BoxIcon::Error);
    EXPECT_EQ(boxes.shown[1].text, QStringLiteral("TOneChatWindow.Error = 12345"));
    // Modal to this chat only: the other chats stay usable while it is up.
    EXPECT_EQ(boxes.shown[0].owner, static_cast<QWidget *>(window.data()));
    EXPECT_EQ(boxes.shown[1].owner, static_cast<QWidget *>(window.data()));
    EXPECT_FALSE(window->Closed());
    EXPECT_EQ(dialogs.endDialogs, 0); // the connection is still up
}

TEST_F(ChatWindowTest, ClosingWhileTheVisitorTypesAsksAndCancelKeepsTheChat)
{
    OpenWindow();
    Receive(TYPING_START);
    ASSERT_TRUE(WaitFor([&] { return window->RemoteTyping(); }));
    boxes.answers.push_back(BoxAnswer::Cancel);
    window->FormClose();
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Remote user still typing do you want to terminate anyway ? "));
    EXPECT_EQ(boxes.shown[0].buttons, BoxButtons::OkCancel);
    EXPECT_EQ(boxes.shown[0].owner, static_cast<QWidget *>(window.data()));
    EXPECT_FALSE(window->Closed());
    EXPECT_TRUE(window->Chat().ClockTimer().isActive());
    EXPECT_EQ(calls.events, QStringList{"status 2"});

    window->FormClose(); // OK this time
    ASSERT_TRUE(WaitClosed());
    EXPECT_EQ(CodesAfterOpening(1), std::vector<quint16>{END_SESSION});
    EXPECT_EQ(calls.events, (QStringList{"status 2", "end time", "status 6", "unlink", "gone"}));
}

TEST_F(ChatWindowTest, ClosingAnEndedCallSendsNoSecondEndSession)
{
    OpenWindow();
    calls.statusText = QStringLiteral("End Chat !");
    window->FormClose();
    EXPECT_TRUE(window->Closed());
    Settle();
    EXPECT_TRUE(CodesAfterOpening().empty());
    EXPECT_EQ(calls.events, (QStringList{"status 2", "end time", "unlink", "gone"}));
}

TEST_F(ChatWindowTest, CloseBoxRunsTheCloseProcedureWithTranscriptAndPause)
{
    host.transcriptsOff = false;
    OpenWindow();
    // A draft is thrown away only when the operator says so, whichever way
    // the chat is ended: Ctrl+W, End chat, the close box.
    window->activateWindow();
    ASSERT_TRUE(WaitFor([&] { return window->isActiveWindow(); }));
    window->InputText->setPlainText(QStringLiteral("one moment"));
    boxes.answers = {BoxAnswer::Cancel, BoxAnswer::Cancel};
    QTest::keyClick(window->InputText, Qt::Key_W, Qt::ControlModifier);
    window->close();
    ASSERT_EQ(boxes.shown.size(), 2);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("The message you typed has not been sent.\n\nEnd the chat and lose it?"));
    EXPECT_EQ(host.transcripts, 0);
    EXPECT_EQ(window->InputText->toPlainText(), QStringLiteral("one moment"));
    boxes.answers = {BoxAnswer::Ok};
    window->close();
    EXPECT_EQ(host.transcripts, 1);
    // The pause keeps the window responsive: the close finishes afterwards.
    EXPECT_FALSE(window->Closed());
    window->FormClose(); // a second close does nothing more
    EXPECT_EQ(host.transcripts, 1);
    QPointer<TOneChatWindow> watched = window;
    bool hidden = false;
    ASSERT_TRUE(WaitFor([&] {
        hidden = hidden || !watched || !watched->isVisible();
        return !watched || watched->Closed();
    }));
    EXPECT_TRUE(hidden);
    // The pause before the farewell is the customer chat's (CustomerChatTest).
    ASSERT_GE(server.WaitForFrame(END_SESSION), 0);
    EXPECT_EQ(CodesAfterOpening(2), (std::vector<quint16>{chat::TYPING_START, END_SESSION}));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
}

TEST_F(ChatWindowTest, TranscriptCarriesTheCallerAndTheConversationUnderItsHeader)
{
    host.transcriptsOff = false;
    OpenWindow();
    Receive(chat::USER_DETAILS, BodyOf(chat::BuildUserDetails("Eve", "eve@example.org", "555").value()));
    Receive(CHAT_TEXT, BodyOf(chat::BuildChatText("hello there").value()));
    // A huge line is shown a piece per pass, yet stays one line, before the
    // line that came after it, on screen and in the transcript.
    const QByteArray word(20000, 'y');
    Receive(CHAT_TEXT, BodyOf(chat::BuildChatText(word).value()));
    Receive(CHAT_TEXT, BodyOf(chat::BuildChatText("after").value()));
    ASSERT_TRUE(WaitFor([&] { return Conversation().contains(QStringLiteral("after")); }));
    window->FormClose();
    QString shown = Conversation();
    shown.remove(QChar(0x200B));
    EXPECT_EQ(shown.count(u'y'), word.size());
    EXPECT_LT(shown.lastIndexOf(u'y'), shown.indexOf(QStringLiteral("after")));
    ASSERT_EQ(host.transcripts, 1);
    const TTranscriptSource &t = host.lastTranscript;
    EXPECT_EQ(t.Name, QStringLiteral("Eve"));
    EXPECT_EQ(t.Email, QStringLiteral("eve@example.org"));
    EXPECT_FALSE(t.HandedOver);
    EXPECT_EQ(t.WarningCaption, window->WarningCaption());
    // The header block (with the row's e-mail column, not the caller's) comes
    // before the conversation, and the whole is RTF.
    EXPECT_TRUE(t.Conversation.startsWith("{\\rtf1"));
    const qsizetype info = t.Conversation.indexOf("General Info:");
    const qsizetype email = t.Conversation.indexOf("Client e-mail address:  row@mail.test");
    const qsizetype said = t.Conversation.indexOf("hello there");
    ASSERT_GE(info, 0);
    EXPECT_GT(email, info);
    EXPECT_GT(said, email);
    EXPECT_GE(t.Conversation.indexOf("\\red0\\green128\\blue0"), 0);
    const qsizetype firstY = t.Conversation.indexOf("yyyy");
    const qsizetype lastY = t.Conversation.lastIndexOf("yyyy");
    ASSERT_GT(firstY, said);
    EXPECT_EQ(t.Conversation.mid(firstY, lastY - firstY).count('y'), word.size() - 4);
    EXPECT_FALSE(t.Conversation.mid(firstY, lastY - firstY).contains("\\par"));
    EXPECT_GT(t.Conversation.indexOf("after"), lastY);
}

TEST_F(ChatWindowTest, NoTranscriptForACallWithoutARow)
{
    host.transcriptsOff = false;
    calls.row.reset();
    OpenWindow();
    window->FormClose();
    EXPECT_EQ(host.transcripts, 0);
    EXPECT_TRUE(WaitClosed());
}

TEST_F(ChatWindowTest, TakeDownOnNetErrorMarksTheCallAndSendsNothing)
{
    OpenWindow();
    window->TakeDownOnNetError();
    EXPECT_EQ(calls.events, (QStringList{"status 2", "end time", "status 7", "unlink", "gone"}));
    Settle();
    EXPECT_TRUE(CodesAfterOpening().empty());
}

TEST_F(ChatWindowTest, TypingGoesOnWhileTheCloseWaitsAndNothingFollowsItsFarewell)
{
    host.transcriptsOff = false;
    OpenWindow();
    window->FormClose();
    // Inside the 300 ms pause the window still takes input, but sends nothing.
    QTest::keyClicks(window->InputText, QStringLiteral("late"));
    window->SendMsgBtnClick();
    Receive(CHAT_TEXT, BodyOf(chat::BuildChatText("still here").value()));
    ASSERT_TRUE(WaitClosed());
    Settle();
    EXPECT_EQ(CodesAfterOpening(), std::vector<quint16>{END_SESSION});
}

TEST_F(ChatWindowTest, TakenDownOrDestroyedWhileItsCloseWaits)
{
    host.transcriptsOff = false;
    OpenWindow();
    window->FormClose();
    window->TakeDownOnNetError();
    EXPECT_TRUE(window->Closed());
    Settle(400);
    EXPECT_TRUE(CodesAfterOpening().empty()); // no farewell after a take-down
    EXPECT_EQ(calls.events, (QStringList{"status 2", "end time", "end time", "status 7", "unlink", "gone"}));

    // Destroyed outright in the pause: the rest of the close never runs.
    calls.events.clear();
    server.ClearFrames();
    OpenWindow();
    window->FormClose();
    delete window.data();
    Settle(400);
    EXPECT_TRUE(CodesAfterOpening().empty());
    EXPECT_EQ(calls.events, (QStringList{"status 2", "end time"}));
}

// The main window may take a chat down while the chat's own dialog or box is
// open; the window stays, read only, and the dialog's answer still counts:
// "Close this chat window" closes it without touching the call again.
TEST_F(ChatWindowTest, TakenDownWhileItsDialogOrBoxIsOpen)
{
    RealDialogs real;
    OpenWindow();
    bool shown = false;
    const auto watch = WhenModalShows(
        [&] {
            window->TakeDownOnNetError();
            EXPECT_TRUE(window->Detached());
            if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                dialog->reject(); // Esc: close the chat window
        },
        &shown);
    Receive(END_SESSION);
    ASSERT_TRUE(WaitFor([&] { return window.isNull(); }));
    EXPECT_TRUE(shown);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(calls.events, (QStringList{"status 2", "end time", "status 7", "unlink", "gone"}));
}

TEST_F(ChatWindowTest, TakenDownWhileANetworkErrorBoxIsOpen)
{
    OpenWindow();
    TakingDownBoxes takeDown(window);
    window->ChatSocketError(10054);
    ASSERT_FALSE(window.isNull());
    EXPECT_TRUE(window->Detached());
    EXPECT_EQ(dialogs.endDialogs, 0); // the server connection's loss says it all
    EXPECT_EQ(calls.events, (QStringList{"status 2", "end time", "status 7", "unlink", "gone"}));
    window->FormClose();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(calls.events.size(), 5);
}

TEST_F(ChatWindowTest, ClickingTheInputStopsTheFlashing)
{
    OpenWindow();
    ActivateElsewhere();
    // The waiting icon is set once however many lines come.
    int iconChanges = 0;
    struct IconCounter : QObject {
        int *count;
        explicit IconCounter(int *c) : count(c) {}
        bool eventFilter(QObject *, QEvent *e) override
        {
            *count += e->type() == QEvent::WindowIconChange;
            return false;
        }
    } counter(&iconChanges);
    window->installEventFilter(&counter);
    for (const char *text : {"ping", "ping again", "and again"})
        Receive(CHAT_TEXT, BodyOf(chat::BuildChatText(text).value()));
    ASSERT_TRUE(WaitFor([&] { return window->Flashing() && window->ChatOutPutText->toPlainText().contains(QStringLiteral("and again")); }));
    EXPECT_EQ(iconChanges, 1);
    window->Pane().InputTextClick();
    EXPECT_FALSE(window->Flashing());
    EXPECT_EQ(iconChanges, 2);
    window->removeEventFilter(&counter);
}

TEST(ChatLinesTest, NameLengthBeyondTheLineColoursTheWholeLine)
{
    QTextDocument doc;
    AppendChatLine(doc, QStringLiteral("ab"), Qt::red, 10, Qt::blue, QTextCharFormat(), false);
    AppendChatLine(doc, QStringLiteral("cd\r\nef"), Qt::red, -3, Qt::blue, QTextCharFormat(), false);
    EXPECT_EQ(doc.blockCount(), 2);
    EXPECT_EQ(ColourAt(doc, 1), QColor(Qt::red));
    EXPECT_EQ(ColourAt(doc, 3), QColor(Qt::blue));
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("ab\ncd\nef"));
}

// An endless word gets invisible places to wrap, counted across the name and
// the text; a long link stays whole.
TEST(ChatLinesTest, EndlessWordsGetPlacesToWrapAndLinksStayWhole)
{
    QTextDocument doc;
    const QString link = QStringLiteral("https://shop.example/") + QString(400, QLatin1Char('q'));
    AppendChatLine(doc, link, Qt::red, 0, Qt::blue, QTextCharFormat(), false);
    AppendChatLine(doc, QString(300, QLatin1Char('N')) + QString(700, QLatin1Char('w')), Qt::red, 300, Qt::blue,
                   QTextCharFormat(), false);
    EXPECT_EQ(doc.toPlainText(), link + QStringLiteral("\n") + QString(300, QLatin1Char('N'))
                                     + QString(212, QLatin1Char('w')) + QChar(0x200B) + QString(488, QLatin1Char('w')));
    EXPECT_EQ(ColourAt(doc, int(link.size()) + 300), QColor(Qt::red));
    EXPECT_EQ(ColourAt(doc, int(link.size()) + 301), QColor(Qt::blue));
}

} // namespace
} // namespace velmora::test

namespace velmora::test {
namespace {

TEST_F(ChatWindowTest, EndOfChatDialogSitsOnTheChatWindowAndEscCloses)
{
    OpenWindow();
    TRemoteClientTerminatedDlg dialog(window, window->Number());
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral(" Warning for Chat window # 0"));
    EXPECT_EQ(TRemoteClientTerminatedDlg::Placement(window, dialog.size()),
              window->frameGeometry().topLeft() + QPoint(10, 120));

    EXPECT_TRUE(dialog.LeaveBtn->isDefault());
    dialog.CloseBtn->click();
    EXPECT_TRUE(dialog.CloseChosen());
    TRemoteClientTerminatedDlg second(window, 0);
    second.LeaveBtn->click();
    EXPECT_FALSE(second.CloseChosen());
    TRemoteClientTerminatedDlg third(window, 0);
    third.show();
    QTest::keyClick(&third, Qt::Key_Escape);
    EXPECT_TRUE(third.CloseChosen());
    EXPECT_FALSE(third.isVisible());
}

TEST_F(ChatWindowTest, LineTimesArePaintedBesideTheLinesButNeverWrittenIntoThem)
{
    OpenWindow();
    window->resize(500, 400);
    window->show();
    window->InputText->setPlainText(QStringLiteral("Hi"));
    window->SendMsgBtnClick();
    QWidget *view = window->ChatOutPutText->viewport();
    // Where the operator's red name starts, and whether grey ink is left of it.
    const auto look = [&](bool *greyBefore) {
        const QImage shot = view->grab().toImage();
        int red = shot.width();
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < shot.width(); ++x)
                if (const QColor c(shot.pixel(x, y)); c.red() > 150 && c.green() < 100 && c.blue() < 100)
                    red = std::min(red, x);
        *greyBefore = false;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < red; ++x)
                if (const QColor c(shot.pixel(x, y)); c.lightness() < 180 && qAbs(c.red() - c.blue()) < 30)
                    *greyBefore = true;
        return red;
    };
    bool grey = true;
    const int plain = look(&grey);
    EXPECT_FALSE(grey);
    Settings().LineTimes = true;
    window->Pane().FollowSettings();
    EXPECT_GT(look(&grey), plain + 25); // the time stands before the line
    EXPECT_TRUE(grey);
    // The text, and so the transcript and a transfer, stay as they were.
    EXPECT_EQ(Conversation(), QStringLiteral("Anna: Hi"));
}

// The message box's spelling check, against a word list made here.
TEST_F(ChatWindowTest, SpellingMarksMisspeltWordsAndTheMenuFixesThem)
{
    const auto marked = [&] {
        QStringList out;
        const QTextBlock block = window->InputText->document()->firstBlock();
        for (const QTextLayout::FormatRange &range : block.layout()->formats())
            out << block.text().mid(range.start, range.length);
        return out;
    };
    const auto action = [](QMenu &menu, const QString &text) -> QAction * {
        for (QAction *a : menu.actions())
            if (a->text() == text)
                return a;
        return nullptr;
    };
    OpenWindow();
    TChatPane &pane = window->Pane();
    // Off, the box is as it always was: no marks, the usual menu.
    ASSERT_EQ(pane.SpellHighlighter(), nullptr);
    window->InputText->setPlainText(QStringLiteral("Thnak you Eve"));
    EXPECT_TRUE(marked().isEmpty());
    std::unique_ptr<QMenu> plain(pane.InputMenu(2));
    EXPECT_EQ(action(*plain, QStringLiteral("Add to dictionary")), nullptr);

    QTemporaryDir dir;
    QFile words(dir.filePath(QStringLiteral("words.txt")));
    ASSERT_TRUE(words.open(QIODevice::WriteOnly));
    words.write("thank\nyou\n");
    words.close();
    QString why;
    const std::unique_ptr<ISpellChecker> checker = WordListChecker(words.fileName(), &why);
    if (!checker)
        GTEST_SKIP() << why.toStdString();
    pane.UseSpellChecker(checker.get());
    RunFor(0); // a new highlighter starts from the event loop
    Receive(chat::USER_DETAILS, BodyOf(chat::BuildUserDetails("Eve", "", "").value()));
    ASSERT_TRUE(WaitFor([&] { return window->CallerName() == QStringLiteral("Eve"); }));
    window->InputText->clear();
    QTest::keyClicks(window->InputText, QStringLiteral("Thnak you Eve, Anna"));
    EXPECT_EQ(marked(), QStringList{"Thnak"}); // both names are left alone

    std::unique_ptr<QMenu> menu(pane.InputMenu(2));
    QAction *fix = action(*menu, QStringLiteral("Thank"));
    ASSERT_NE(fix, nullptr);
    EXPECT_NE(action(*menu, QStringLiteral("Add to dictionary")), nullptr);
    EXPECT_NE(action(*menu, QStringLiteral("Ignore")), nullptr);
    EXPECT_LE(menu->actions().indexOf(fix), 6);
    fix->trigger();
    EXPECT_EQ(window->InputText->toPlainText(), QStringLiteral("Thank you Eve, Anna"));
    EXPECT_TRUE(marked().isEmpty());

    // A suggestion for a word that has changed since the menu opened does nothing.
    window->InputText->setPlainText(QStringLiteral("Korva wrks"));
    std::unique_ptr<QMenu> stale(pane.InputMenu(8));
    QAction *late = stale->actions().value(0);
    window->InputText->setPlainText(QStringLiteral("Korva works"));
    if (late)
        late->trigger();
    EXPECT_EQ(window->InputText->toPlainText(), QStringLiteral("Korva works"));

    std::unique_ptr<QMenu> add(pane.InputMenu(1));
    action(*add, QStringLiteral("Add to dictionary"))->trigger();
    EXPECT_EQ(marked(), QStringList{"works"});

    // The message goes out as typed, marks never reach the wire.
    window->SendMsgBtnClick();
    const int at = server.WaitForFrame(CHAT_TEXT);
    ASSERT_GE(at, 0);
    EXPECT_EQ(chat::DecodeChatText(server.Frames()[std::size_t(at)].body).value(), QByteArray("Korva works"));
    pane.UseSpellChecker(nullptr);
}

} // namespace
} // namespace velmora::test
