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
#include <QTabWidget>
#include <QMainWindow>
#include <QPlainTextEdit>

#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

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
    QTest::keyClick(&main, Qt::Key_4, Qt::AltModifier);
    ASSERT_TRUE(test::WaitFor([&] { return chats[0].isActiveWindow(); }));
    EXPECT_EQ(QApplication::focusWidget(), inputs[0]);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("ok"));
    EXPECT_EQ(inputs[0]->toPlainText(), QStringLiteral("ok")); // no tab, no digit typed
    EXPECT_FALSE(TConsoleKeys::GoToChat(7));

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
    QTest::keyClick(inputs[0], Qt::Key_6, Qt::AltModifier);
    ASSERT_TRUE(test::WaitFor([&] { return workspace.isActiveWindow(); }));
    EXPECT_EQ(workspace.CurrentChat(), &tabs[1]);
    EXPECT_EQ(QApplication::focusWidget(), tabInputs[1]);
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
