#include "ChatFixture.h"

#include "archive/ArchiveRecorder.h"
#include "chat/ChatPane.h"
#include "chat/ChatPlacement.h"
#include "chat/ChatWinExtDlg.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QFile>
#include <QTemporaryDir>

namespace velmora::test {
namespace {

using chat::IMAGE_DATA;
using chat::PUSH_URL;
using chat::TYPING_START;

class ExtraToolsTest : public ChatWindowTest {
protected:
    void OpenTools()
    {
        OpenWindow();
        window->ExtraToolsOpenBtnClick();
        ASSERT_TRUE(window->ExtraToolsOpen());
        tools = window->ExtraTools();
        ASSERT_NE(tools, nullptr);
    }

    QString WriteFile(const QString &name, qsizetype size)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(size, 'G'));
        return path;
    }

    QTemporaryDir dir;
    TChatWinExtDlg *tools = nullptr;
};

TEST_F(ExtraToolsTest, DockedAtTheRightEdgeAndFollowsTheChatWindow)
{
    OpenTools();
    auto expected = [&] {
        const QRect chat = window->frameGeometry();
        return QPoint(chat.left() + chat.width(), chat.top() + 200);
    };
    EXPECT_EQ(tools->pos(), expected());
    window->move(window->pos() + QPoint(40, 30));
    ASSERT_TRUE(WaitFor([&] { return tools->pos() == expected(); }));

    // Dragging the tools themselves does not take.
    const QPoint docked = tools->pos();
    tools->move(docked + QPoint(-100, 50));
    RunFor(50);
    EXPECT_EQ(tools->pos(), docked);
}

// Where the desktop places windows itself, the tools cannot be kept beside
// the chat: they open as a panel inside it, and work as the window does.
TEST_F(ExtraToolsTest, WhereTheDesktopPlacesWindowsTheToolsAreAPanelOfTheChat)
{
    SetDesktopPlacesWindows(true);
    OpenWindow();
    SetDesktopPlacesWindows(std::nullopt);
    tools = window->ExtraTools();
    ASSERT_TRUE(tools->IsPanel());
    window->activateWindow();
    ASSERT_TRUE(WaitFor([&] { return window->isActiveWindow(); }));
    const QSize size = window->size();

    QTest::keyClick(window->InputText, Qt::Key_T, Qt::ControlModifier);
    ASSERT_TRUE(window->ExtraToolsOpen());
    EXPECT_FALSE(tools->isWindow());
    EXPECT_TRUE(tools->isVisible());
    EXPECT_EQ(tools->size(), QSize(TChatWinExtDlg::kFullWidth, TChatWinExtDlg::kHeight));
    // Inside the window as it is (a tiling desktop would crop a wider one),
    // and still there after the desktop resizes it.
    EXPECT_EQ(window->size(), size);
    EXPECT_TRUE(window->rect().contains(tools->geometry()));
    window->resize(window->minimumSize());
    EXPECT_TRUE(window->rect().contains(tools->geometry()));
    EXPECT_EQ(QApplication::focusWidget(), static_cast<QWidget *>(tools->SendImgBtn));
    // The window activated again (a compositor does so for a new keyboard):
    // the keys stay in the panel.
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(window->findChild<TChatPane *>(), &activate);
    EXPECT_EQ(QApplication::focusWidget(), static_cast<QWidget *>(tools->SendImgBtn));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_FALSE(window->ExtraToolsOpen());
    EXPECT_FALSE(tools->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), window->InputText);

    // Opened by a click, an action leaves the keys in the input and closes it.
    window->ExtraToolsOpenBtnClick();
    dialogs.shortcut = QStringLiteral("https://example.org/help");
    tools->PushUrlBtn->click();
    EXPECT_EQ(CodesAfterOpening(1), std::vector<quint16>{PUSH_URL});
    EXPECT_FALSE(tools->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), window->InputText);
}

TEST_F(ExtraToolsTest, SlidesBetweenAFifthAndTheFullWidth)
{
    OpenWindow();
    tools = window->ExtraTools();
    EXPECT_EQ(tools->width(), 25); // 20% of 125 while closed
    tools->FormActivate();
    EXPECT_EQ(tools->width(), TChatWinExtDlg::kFullWidth);
    QElapsedTimer timer;
    timer.start();
    tools->FormHide();
    // The slide runs from the event loop: ten steps, 10 ms apart.
    EXPECT_GT(tools->width(), 25);
    EXPECT_TRUE(WaitFor([&] { return tools->width() == 25; }));
    EXPECT_GE(timer.elapsed(), 90);
}

TEST_F(ExtraToolsTest, ImageUpToTheLimitIsSentWholeAndClosesTheTools)
{
    OpenTools();
    dialogs.imageFile = WriteFile(QStringLiteral("max.gif"), 32748);
    tools->SendImgBtnClick();
    EXPECT_TRUE(dialogs.lastFilter.contains(QStringLiteral("*.GIF")));
    EXPECT_TRUE(dialogs.lastFilter.contains(QStringLiteral("*.jpeg")));
    const int at = server.WaitForFrame(IMAGE_DATA);
    ASSERT_GE(at, 0);
    EXPECT_EQ(chat::DecodeImageData(server.Frames()[std::size_t(at)].body).value(), QByteArray(32748, 'G'));
    EXPECT_FALSE(window->ExtraToolsOpen());
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(ExtraToolsTest, ImageOverTheLimitIsRefusedWithAWarning)
{
    OpenTools();
    dialogs.imageFile = WriteFile(QStringLiteral("big.jpg"), 32749);
    tools->SendImgBtnClick();
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Warrning !"));
    EXPECT_EQ(boxes.shown[0].icon, BoxIcon::Warning);
    EXPECT_EQ(boxes.shown[0].text,
              QStringLiteral("image file to large, maximum permited size is = 32748, image not sent !."));

    dialogs.imageFile = dir.filePath(QStringLiteral("missing.gif"));
    window->ExtraToolsOpenBtnClick();
    tools->SendImgBtnClick();
    ASSERT_EQ(boxes.shown.size(), 2);
    EXPECT_EQ(boxes.shown[1].text,
              QStringLiteral("Could not open file = ") + dialogs.imageFile + QStringLiteral(", image not sent !."));
    Settle();
    EXPECT_TRUE(CodesAfterOpening().empty());
}

TEST_F(ExtraToolsTest, CancelledFileDialogSendsNothingAndKeepsTheToolsOpen)
{
    OpenTools();
    dialogs.imageFile.clear();
    tools->SendImgBtnClick();
    EXPECT_EQ(dialogs.fileDialogs, 1);
    EXPECT_TRUE(window->ExtraToolsOpen());
    Settle();
    EXPECT_TRUE(CodesAfterOpening().empty());
}

TEST_F(ExtraToolsTest, PushUrlSendsTheChosenAddressButNeverAnEmptyOne)
{
    OpenTools();
    dialogs.shortcut.clear();
    tools->PushUrlBtnClick();
    EXPECT_EQ(dialogs.lastMode, ShortcutMode::PushUrls);
    EXPECT_EQ(dialogs.lastColumns, (QStringList{"Shortcut", "Push URL"}));
    EXPECT_FALSE(window->ExtraToolsOpen());
    Settle();
    EXPECT_TRUE(CodesAfterOpening().empty());

    window->ExtraToolsOpenBtnClick();
    dialogs.shortcut = QStringLiteral("https://example.org/help");
    tools->PushUrlBtnClick();
    EXPECT_EQ(CodesAfterOpening(1), std::vector<quint16>{PUSH_URL});
    EXPECT_EQ(chat::DecodePushUrl(server.Frames()[3].body).value(), QByteArray("https://example.org/help"));
    // The operator's conversation shows what the visitor's browser was sent.
    EXPECT_EQ(window->ChatOutPutText->toPlainText(), QStringLiteral("Pushed: https://example.org/help"));
}

TEST_F(ExtraToolsTest, CtrlTOpensThemWithTheKeysAndEscGivesTheKeysBackToTheInput)
{
    OpenWindow();
    window->activateWindow();
    ASSERT_TRUE(WaitFor([&] { return window->isActiveWindow(); }));
    QTest::keyClick(window->InputText, Qt::Key_T, Qt::ControlModifier);
    ASSERT_TRUE(window->ExtraToolsOpen());
    tools = window->ExtraTools();
    ASSERT_TRUE(WaitFor([&] { return tools->isActiveWindow(); }));
    EXPECT_EQ(QApplication::focusWidget(), static_cast<QWidget *>(tools->SendImgBtn));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_FALSE(window->ExtraToolsOpen());
    ASSERT_TRUE(WaitFor([&] { return window->isActiveWindow(); }));
    EXPECT_EQ(QApplication::focusWidget(), window->InputText);

    // "/" and a title's start offer the canned answers in place; Enter puts
    // the chosen one in and sends nothing.
    Settings().UseEnterKeyToSendMessage = true;
    host.canned.Add(QStringLiteral("Wait"), QStringLiteral("One moment\r\nplease."));
    host.canned.Add(QStringLiteral("Thanks"), QStringLiteral("Thank you!"));
    QTest::keyClicks(window->InputText, QStringLiteral("Hi /wa"));
    QCompleter *offer = window->findChild<TChatPane *>()->CannedCompleter();
    ASSERT_TRUE(WaitFor([&] { return offer->popup()->isVisible(); }));
    EXPECT_EQ(offer->currentCompletion(), QStringLiteral("Wait"));
    QTest::keyClick(offer->popup(), Qt::Key_Return);
    EXPECT_EQ(window->InputText->toPlainText(), QStringLiteral("Hi One moment\nplease."));
    Settle();
    EXPECT_EQ(CodesAfterOpening(), std::vector<quint16>{chat::TYPING_START}); // no CHAT_TEXT

    // The offer shows each answer's start, filled in for this chat; a value
    // the chat does not know stays in the box, selected for the operator.
    Receive(chat::USER_DETAILS, BodyOf(chat::BuildUserDetails("Anna Berg", "", "").value()));
    ASSERT_TRUE(WaitFor([&] { return window->CallerName() == QStringLiteral("Anna Berg"); }));
    host.canned.Add(QStringLiteral("Greet"), QStringLiteral("Hi {visitor.first|there}, mail {visitor.email}?"));
    window->InputText->clear();
    QTest::keyClicks(window->InputText, QStringLiteral("/gr"));
    ASSERT_TRUE(WaitFor([&] { return offer->popup()->isVisible(); }));
    EXPECT_EQ(offer->popup()->currentIndex().data().toString(),
              QStringLiteral("Greet\n    Hi Anna, mail {visitor.email}?"));
    QTest::keyClick(offer->popup(), Qt::Key_Return);
    EXPECT_EQ(window->InputText->toPlainText(), QStringLiteral("Hi Anna, mail {visitor.email}?"));
    EXPECT_EQ(window->InputText->textCursor().selectedText(), QStringLiteral("{visitor.email}"));
    QTest::keyClicks(window->InputText, QStringLiteral("anna@example.org"));
    EXPECT_EQ(window->InputText->toPlainText(), QStringLiteral("Hi Anna, mail anna@example.org?"));
}

// Chosen after "/" or in the tools, a canned answer is kept in the archive as one.
TEST_F(ExtraToolsTest, ACannedAnswerChosenAfterASlashIsArchivedAsCanned)
{
    TArchiveRecorder recorder(dir.filePath(QLatin1String(kArchiveFileName)));
    SetArchiveRecorder(&recorder);
    OpenWindow();
    window->activateWindow();
    ASSERT_TRUE(WaitFor([&] { return window->isActiveWindow(); }));
    host.canned.Add(QStringLiteral("Wait"), QStringLiteral("One moment please."));
    QTest::keyClicks(window->InputText, QStringLiteral("/wa"));
    QCompleter *offer = window->findChild<TChatPane *>()->CannedCompleter();
    ASSERT_TRUE(WaitFor([&] { return offer->popup()->isVisible(); }));
    QTest::keyClick(offer->popup(), Qt::Key_Return);
    window->SendMsgBtnClick();
    recorder.Flush();
    SetArchiveRecorder(nullptr);
    TArchiveDb archive;
    ASSERT_TRUE(archive.OpenReader(recorder.Path()));
    const std::vector<TArchiveHit> hits = archive.Search(TArchiveFilter::Words(QStringLiteral("moment")));
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(archive.Lines(hits[0].Chat).back().Kind, archive::LineKind::Canned);
}

TEST_F(ExtraToolsTest, CannedAnswerReplacesTheInputWithOneTypingStart)
{
    OpenTools();
    dialogs.shortcut = QStringLiteral("Thank you for waiting.\r\nOne moment please.");
    tools->CannedBtnClick();
    EXPECT_EQ(dialogs.lastMode, ShortcutMode::CannedMessages);
    EXPECT_EQ(dialogs.lastColumns, (QStringList{"Shortcut Title", "Message"}));
    EXPECT_EQ(window->InputText->toPlainText(), QStringLiteral("Thank you for waiting.\nOne moment please."));
    EXPECT_FALSE(window->ExtraToolsOpen());

    // Its placeholders are filled as the "/" offer fills them.
    window->ExtraToolsOpenBtnClick();
    dialogs.shortcut = QStringLiteral("{operator} here, {visitor|}");
    tools->CannedBtnClick();
    EXPECT_EQ(window->InputText->toPlainText(), QStringLiteral("Anna here, "));

    // A second answer over a box that already holds text sends no second notice.
    window->ExtraToolsOpenBtnClick();
    dialogs.shortcut = QStringLiteral("Bye");
    tools->CannedBtnClick();
    EXPECT_EQ(window->InputText->toPlainText(), QStringLiteral("Bye"));
    Settle();
    EXPECT_EQ(CodesAfterOpening(), std::vector<quint16>{TYPING_START});
}

TEST_F(ExtraToolsTest, NothingChosenKeepsWhatTheOperatorTyped)
{
    OpenTools();
    window->InputText->setPlainText(QStringLiteral("half a sentence"));
    dialogs.shortcut.clear();
    tools->CannedBtnClick();
    EXPECT_EQ(window->InputText->toPlainText(), QStringLiteral("half a sentence"));
}

TEST_F(ExtraToolsTest, TransferButtonHandsTheChatToTheHost)
{
    OpenTools();
    tools->TransferBtnClick();
    EXPECT_EQ(host.transfers, 1);
    EXPECT_FALSE(window->ExtraToolsOpen());
}

// The chat can end while a tool's dialog is open: the visitor leaves and the
// operator closes the chat, or the main window takes the chat down. The
// dialog goes with the window and nothing is sent afterwards.
TEST_F(ExtraToolsTest, VisitorLeavingUnderTheFileDialogTakesTheDialogAlong)
{
    RealDialogs real;
    real.endAnswer = true;
    OpenTools();
    bool shown = false;
    const auto watch = WhenModalShows([&] { Receive(chat::END_SESSION); }, &shown);
    tools->SendImgBtnClick();
    EXPECT_TRUE(shown);
    ASSERT_TRUE(WaitFor([&] { return window.isNull(); }));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    Settle();
    EXPECT_TRUE(CodesAfterOpening().empty());
}

TEST_F(ExtraToolsTest, ChatTakenDownUnderTheShortcutDialogPushesNothing)
{
    RealDialogs real;
    OpenTools();
    host.urls.Add(QStringLiteral("Help"), QStringLiteral("https://example.org/help"));
    const auto watch = WhenModalShows([&] {
        window->TakeDownOnNetError();
        // The operator still picks a shortcut: the chat is over, nothing goes out.
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            dialog->accept();
    });
    tools->PushUrlBtnClick();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    ASSERT_FALSE(window.isNull());
    EXPECT_TRUE(window->Detached());
    EXPECT_FALSE(window->ExtraToolsOpen());
    EXPECT_EQ(calls.events, (QStringList{"status 2", "end time", "status 7", "unlink", "gone"}));
    Settle();
    EXPECT_TRUE(CodesAfterOpening().empty());
}

// However the tools are closed (a title-bar button the window manager added,
// Alt+F4), the chat's toggle follows; every opening ends at full width in the
// same place, without taking the keyboard from the chat.
TEST_F(ExtraToolsTest, OpensFullyInOnePlaceAndTheToggleFollowsAnyClose)
{
    OpenTools();
    EXPECT_TRUE(tools->windowFlags() & Qt::WindowDoesNotAcceptFocus);
    QPoint firstPlace;
    for (int opening = 0; opening < 12; ++opening) {
        ASSERT_TRUE(WaitFor([&] { return tools->isVisible() && tools->width() == tools->FullWidth(); })) << opening;
        RunFor(80); // the settle check
        EXPECT_EQ(tools->width(), tools->FullWidth()) << opening;
        if (opening == 0)
            firstPlace = tools->pos();
        EXPECT_EQ(tools->pos(), firstPlace) << opening;
        if (opening % 2 == 0)
            tools->close(); // as the window manager's close button does
        else
            window->ExtraToolsOpenBtnClick();
        EXPECT_FALSE(window->ExtraToolsOpen()) << opening;
        EXPECT_FALSE(tools->isVisible()) << opening;
        EXPECT_EQ(window->ExtraToolsOpenBtn->toolTip(), QStringLiteral("Open extra options...")) << opening;
        window->ExtraToolsOpenBtnClick();
        ASSERT_TRUE(window->ExtraToolsOpen());
    }
}

TEST_F(ExtraToolsTest, MinimizingClosesTheTools)
{
    OpenTools();
    window->showMinimized();
    ASSERT_TRUE(WaitFor([&] { return !window->ExtraToolsOpen(); }));
    EXPECT_FALSE(tools->isVisible());
}

} // namespace
} // namespace velmora::test
