// A compositor that refuses to activate the chat the operator turned to keeps
// the keyboard on the window it had: the keys go to the chat all the same,
// until the chat is active or the operator clicks.
#include "chat/KeyRedirect.h"

#include "TestUtil.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTest>
#include <gtest/gtest.h>

using namespace velmora;

TEST(KeyRedirect, KeysFollowTheChatTurnedToUntilItIsActiveOrTheOperatorClicks)
{
    QWidget had;
    QWidget chat;
    auto *hadInput = new QPlainTextEdit(&had);
    auto *chatInput = new QPlainTextEdit(&chat);
    had.show();
    chat.show();
    had.activateWindow();
    ASSERT_TRUE(test::WaitFor([&] { return had.isActiveWindow(); }));

    // Off (as on X11, where activation is never refused): nothing moves.
    SetKeyRedirectEnabled(false);
    RedirectKeysTo(&chat, chatInput);
    QTest::keyClicks(hadInput, QStringLiteral("a"));
    EXPECT_EQ(hadInput->toPlainText(), QStringLiteral("a"));

    SetKeyRedirectEnabled(true);
    RedirectKeysTo(&chat, chatInput);
    QTest::keyClicks(hadInput, QStringLiteral("to chat"));
    QTest::keyClicks(chatInput, QStringLiteral("!")); // its own keys stay its own
    EXPECT_EQ(chatInput->toPlainText(), QStringLiteral("to chat!"));
    EXPECT_EQ(hadInput->toPlainText(), QStringLiteral("a"));

    // A click into the program ends it.
    QTest::mouseClick(hadInput->viewport(), Qt::LeftButton);
    QTest::keyClicks(hadInput, QStringLiteral("b"));
    EXPECT_EQ(hadInput->toPlainText(), QStringLiteral("ab"));

    // So does the chat becoming active.
    RedirectKeysTo(&chat, chatInput);
    chat.activateWindow();
    ASSERT_TRUE(test::WaitFor([&] { return chat.isActiveWindow(); }));
    QTest::keyClicks(hadInput, QStringLiteral("c"));
    EXPECT_EQ(hadInput->toPlainText(), QStringLiteral("abc"));
    SetKeyRedirectEnabled(false);
}
