// Keys that work in every window: F1 opens the help of the window in focus.
#include "app/ConsoleKeys.h"
#include "app/ConsoleTray.h"
#include "app/HelpWindow.h"
#include "app/Servermain.h"
#include "chat/ChatProperties.h"
#include "chat/ChatWorkspace.h"
#include "chat/QuietShow.h"
#include "support/TestUtil.h"

#include <QApplication>
#include <QDialog>
#include <QTabBar>
#include <QTabWidget>
#include <QMainWindow>
#include <QPlainTextEdit>

#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace velmora {
namespace {

TEST(ConsoleKeys, F1OpensTheHelpContextOfTheFocusedWindowOrItsNearestParent)
{
    TConsoleKeys keys;
    QList<int> shown;
    keys.ShowHelp = [&](int context) { shown << context; };

    QWidget chat;
    chat.setProperty("helpContext", 40);
    auto *input = new QLineEdit(&chat);
    auto *inner = new QWidget(&chat);
    inner->setProperty("helpContext", 123);
    auto *innerEdit = new QLineEdit(inner);
    QWidget plain;
    auto *plainEdit = new QLineEdit(&plain);

    QTest::keyClick(input, Qt::Key_F1);
    QTest::keyClick(innerEdit, Qt::Key_F1);
    QTest::keyClick(plainEdit, Qt::Key_F1); // no context anywhere: the contents
    EXPECT_EQ(shown, (QList<int>{40, 123, THelpWindow::ContentsContext}));
    // Other keys are left alone, and F1 is not typed anywhere.
    QTest::keyClicks(input, QStringLiteral("ab"));
    EXPECT_EQ(input->text(), QStringLiteral("ab"));
    EXPECT_EQ(shown.size(), 3);
}

TEST(ConsoleKeys, CtrlAltAAcceptsTheNewestCallFromAnyWindow)
{
    TConsoleKeys keys;
    int accepted = 0;
    QLineEdit edit;
    QTest::keyClick(&edit, Qt::Key_A, Qt::ControlModifier | Qt::AltModifier); // nothing installed yet
    keys.AcceptNewestCall = [&] { ++accepted; };
    QTest::keyClick(&edit, Qt::Key_A, Qt::ControlModifier | Qt::AltModifier);
    QTest::keyClick(&edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&edit, Qt::Key_A);
    EXPECT_EQ(accepted, 1);
    EXPECT_EQ(edit.text(), QStringLiteral("a"));
}

// Ctrl+Tab goes round the main window and the chats by number, Alt+number
// goes to one chat; the keys land in the chat's input box.
TEST(ConsoleKeys, CtrlTabAndAltNumberTurnToTheChatsWithTheKeysInTheirInput)
{
    TConsoleKeys keys;
    QMainWindow main;
    QWidget chats[3];
    QPlainTextEdit *inputs[3];
    const int numbers[3] = {4, 0, 2};
    for (int i = 0; i < 3; ++i) {
        chats[i].setProperty(kChatNumberProperty, numbers[i]);
        inputs[i] = new QPlainTextEdit(&chats[i]);
        inputs[i]->setObjectName(QStringLiteral("InputText"));
        chats[i].show();
    }
    main.show();
    main.activateWindow();
    ASSERT_TRUE(test::WaitFor([&] { return main.isActiveWindow(); }));
    const QList<QWidget *> order{&main, &chats[1], &chats[2], &chats[0]};
    EXPECT_EQ(TConsoleKeys::CycleWindows(), order);

    QTest::keyClick(&main, Qt::Key_Tab, Qt::ControlModifier);
    ASSERT_TRUE(test::WaitFor([&] { return chats[1].isActiveWindow(); }));
    EXPECT_EQ(QApplication::focusWidget(), inputs[1]);
    QTest::keyClick(inputs[1], Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(test::WaitFor([&] { return main.isActiveWindow(); }));
    // The digits count the open chats in their order, whatever their numbers.
    QTest::keyClick(&main, Qt::Key_3, Qt::AltModifier);
    ASSERT_TRUE(test::WaitFor([&] { return chats[0].isActiveWindow(); }));
    EXPECT_EQ(QApplication::focusWidget(), inputs[0]);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("ok"));
    EXPECT_EQ(inputs[0]->toPlainText(), QStringLiteral("ok")); // no tab, no digit typed
    EXPECT_FALSE(TConsoleKeys::GoToChat(4));
    EXPECT_FALSE(TConsoleKeys::GoToChat(0));

    // The tabs of the chat workspace count as windows, in the same order.
    TChatWorkspace workspace;
    QWidget tabs[2];
    QPlainTextEdit *tabInputs[2];
    for (int i = 0; i < 2; ++i) {
        tabs[i].setProperty(kChatNumberProperty, 5 + i);
        tabInputs[i] = new QPlainTextEdit(&tabs[i]);
        tabInputs[i]->setObjectName(QStringLiteral("InputText"));
        workspace.AddChat(&tabs[i]);
    }
    EXPECT_EQ(TConsoleKeys::CycleWindows(), (order + QList<QWidget *>{&tabs[0], &tabs[1]}));
    QTest::keyClick(inputs[0], Qt::Key_5, Qt::AltModifier);
    ASSERT_TRUE(test::WaitFor([&] { return workspace.isActiveWindow(); }));
    EXPECT_EQ(workspace.CurrentChat(), &tabs[1]);
    EXPECT_EQ(QApplication::focusWidget(), tabInputs[1]);
    EXPECT_TRUE(workspace.TabText(&tabs[1]).startsWith(QStringLiteral("5: #6"))) << workspace.TabText(&tabs[1]).toStdString();
    QTest::keyClick(tabInputs[1], Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(workspace.CurrentChat(), &tabs[0]);
    EXPECT_EQ(QApplication::focusWidget(), tabInputs[0]);
    QTest::keyClick(tabInputs[0], Qt::Key_Tab, Qt::ControlModifier);
    QTest::keyClick(tabInputs[1], Qt::Key_Tab, Qt::ControlModifier);
    ASSERT_TRUE(test::WaitFor([&] { return main.isActiveWindow(); }));

    // A modal dialog's own pages take Ctrl+Tab; nothing else turns.
    QDialog settings(&main);
    auto *pages = new QTabWidget(&settings);
    pages->addTab(new QLineEdit, QStringLiteral("one"));
    pages->addTab(new QLineEdit, QStringLiteral("two"));
    settings.open();
    ASSERT_TRUE(test::WaitFor([&] { return settings.isActiveWindow(); }));
    QTest::keyClick(pages->currentWidget(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(pages->currentIndex(), 1);
    EXPECT_TRUE(settings.isActiveWindow());
}

// Chat numbers run on all day: chat after chat, Alt+1 reaches the one open
// now, and a workspace's tabs show their digits as chats come and go.
TEST(ConsoleKeys, AfterTwelveChatsAltOneStillReachesTheFirstOpenChat)
{
    TConsoleKeys keys;
    QWidget desk;
    desk.show();
    std::vector<std::unique_ptr<QWidget>> day;
    for (int number = 0; number < 12; ++number) {
        auto chat = std::make_unique<QWidget>();
        chat->setProperty(kChatNumberProperty, number);
        auto *input = new QPlainTextEdit(chat.get());
        input->setObjectName(QStringLiteral("InputText"));
        chat->show();
        desk.activateWindow();
        ASSERT_TRUE(test::WaitFor([&] { return desk.isActiveWindow(); }));
        QTest::keyClick(&desk, Qt::Key_1, Qt::AltModifier);
        ASSERT_TRUE(test::WaitFor([&] { return chat->isActiveWindow(); })) << number;
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("hi"));
        EXPECT_EQ(input->toPlainText(), QStringLiteral("hi"));
        chat->hide(); // ended
        day.push_back(std::move(chat));
    }

    // The workspace opens with room for four tabs of usual names.
    TChatWorkspace workspace;
    QWidget tabs[4];
    const QString names[4] = {QStringLiteral("Anna Berg"), QStringLiteral("Tomas Reyes"), QStringLiteral("Mei Lin"),
                              QStringLiteral("Jonas Weber")};
    for (int i = 0; i < 4; ++i) {
        tabs[i].setProperty(kChatNumberProperty, 20 + i);
        tabs[i].setProperty(kChatNameProperty, names[i]);
        workspace.AddChat(&tabs[i]);
    }
    QCoreApplication::processEvents();
    const QTabBar *bar = workspace.Tabs()->tabBar();
    EXPECT_LE(bar->tabRect(3).right(), bar->width()) << bar->tabRect(3).right() << " " << bar->width();
    EXPECT_TRUE(workspace.TabText(&tabs[2]).startsWith(QStringLiteral("3: #22")));
    TChatWorkspace::PutAway(&tabs[0]);
    EXPECT_TRUE(workspace.TabText(&tabs[2]).startsWith(QStringLiteral("2: #22")));
}

TEST(TrayTip, NamesTheSupporterAndSaysHowManyCallsWaitAndAreOnHold)
{
    EXPECT_EQ(TConsoleTray::TipText(QString(), 2, 1),
              QStringLiteral("KORVA Support, right click to open the pop-up  menu.\nCalls waiting: 2, on hold: 1"));
    EXPECT_EQ(TConsoleTray::TipText(QStringLiteral("Anna"), 0, 0),
              QStringLiteral("KORVA Support, right click to open the pop-up  menu.\nSupporter: Anna\n"
                             "Calls waiting: 0, on hold: 0"));
}

} // namespace
} // namespace velmora
