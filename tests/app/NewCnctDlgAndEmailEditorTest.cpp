// The new-call alert (texts, answers, blinking, placement and stacking) and
// the e-mail editor.
#include "app/ConsoleKeys.h"
#include "app/EmailAddrEditDlg.h"
#include "app/NewCnctDlg.h"
#include "chat/ChatPlacement.h"
#include "chat/ChatProperties.h"
#include "protocol/MessageCodes.h"
#include "support/TestUtil.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace velmora {
namespace {

TEST(NewCnctDlg, TextsFollowTheKindOfCallAndHideAbsentValues)
{
    TNewCnctDlg client(server::CLIENT_LISTED, QStringLiteral("www.a.example"), QStringLiteral("1.2.3.4"), true);
    EXPECT_EQ(client.windowTitle(), QStringLiteral(" New connection:"));
    EXPECT_EQ(client.Label1->text(), QStringLiteral("Client request for new connection"));
    EXPECT_EQ(client.Label3->text(), QStringLiteral("Call from = www.a.example"));
    EXPECT_EQ(client.Label2->text(), QStringLiteral("User from IP = 1.2.3.4"));

    TNewCnctDlg support(server::SUPPORT_CHAT_LISTED, QString(), QStringLiteral("0"), true);
    EXPECT_EQ(support.Label1->text(), QStringLiteral("Support request for new connection"));
    EXPECT_TRUE(support.Label3->text().isEmpty());
    EXPECT_TRUE(support.Label2->text().isEmpty());

    TNewCnctDlg transfer(server::TRANSFER_CALL, QStringLiteral("0"), QString(), true, nullptr,
                         QStringLiteral("<b>Bert"));
    EXPECT_EQ(transfer.Label1->text(), QStringLiteral("Transfer request from other support !."));
    EXPECT_TRUE(transfer.Label3->text().isEmpty());
    EXPECT_EQ(transfer.Label4->text(), QStringLiteral("Asked by = <b>Bert"));
    EXPECT_EQ(transfer.Label4->textFormat(), Qt::PlainText);
    EXPECT_GT(transfer.height(), client.height()); // a line more

    // A name learnt after the alert opened gets the line then.
    TNewCnctDlg unnamed(server::TRANSFER_CALL, QString(), QString(), true);
    const int before = unnamed.height();
    unnamed.SetAsking(QStringLiteral("Bert"));
    ASSERT_NE(unnamed.Label4, nullptr);
    EXPECT_EQ(unnamed.Label4->text(), QStringLiteral("Asked by = Bert"));
    EXPECT_GT(unnamed.height(), before);
    EXPECT_LT(unnamed.Label4->geometry().bottom(), unnamed.AcceptBtn->geometry().top());

    // A long site keeps its start and its domain; the tooltip has all of it.
    const QString site = QStringLiteral("www.") + QString(80, QLatin1Char('x')) + QStringLiteral(".shop.example");
    TNewCnctDlg longSite(server::CLIENT_LISTED, site, QString(), true);
    EXPECT_TRUE(longSite.Label3->text().startsWith(QStringLiteral("Call from = www.")));
    EXPECT_TRUE(longSite.Label3->text().endsWith(QStringLiteral(".shop.example")));
    EXPECT_TRUE(longSite.Label3->text().contains(QChar(0x2026)));
    EXPECT_EQ(longSite.Label3->toolTip(), site);
}

TEST(NewCnctDlg, VisitorValuesAreNeverRenderedAsMarkup)
{
    TNewCnctDlg alert(server::CLIENT_LISTED, QStringLiteral("<img src=x><b>site</b>"), QStringLiteral("<i>ip</i>"), true);
    EXPECT_EQ(alert.Label3->textFormat(), Qt::PlainText);
    EXPECT_EQ(alert.Label2->textFormat(), Qt::PlainText);
    EXPECT_EQ(alert.Label3->text(), QStringLiteral("Call from = <img src=x><b>site</b>"));
}

TEST(NewCnctDlg, WidthComesFromTheRequestTextAndButtonsFlankTheMiddle)
{
    TNewCnctDlg alert(server::TRANSFER_CALL, QString(), QString(), true);
    QFont bold = alert.font();
    bold.setBold(true);
    const int expected = int(QFontMetrics(bold).horizontalAdvance(alert.Label1->text()) * 1.3) + 50;
    EXPECT_EQ(alert.width(), std::max(158, expected));
    const int middle = alert.width() / 2;
    EXPECT_EQ(alert.AcceptBtn->geometry().right() + 1, middle - 7);
    EXPECT_EQ(alert.OnHoldlBtn->geometry().left(), middle + 7);
}

// A compositor may give a new alert the keyboard while the operator types
// elsewhere: no key answers it until the operator has turned to it (a click,
// Ctrl+Alt+N) and its first second is over. Then Enter accepts, Esc holds.
TEST(NewCnctDlg, KeysAnswerOnlyAnAlertTurnedToAfterItsFirstSecond)
{
    TNewCnctDlg enabled(server::CLIENT_LISTED, QString(), QString(), true);
    enabled.show();
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_Space}) {
        QTest::keyClick(&enabled, key);
        QTest::keyClick(enabled.NewConnectPanel, key);
    }
    EXPECT_TRUE(enabled.isVisible());
    test::RunFor(TNewCnctDlg::kKeyGuardMs + 50);
    QTest::keyClick(enabled.NewConnectPanel, Qt::Key_Return); // still not turned to
    EXPECT_TRUE(enabled.isVisible());
    QTest::mouseClick(enabled.Label1, Qt::LeftButton);
    QTest::keyClick(enabled.NewConnectPanel, Qt::Key_Return);
    EXPECT_EQ(enabled.result(), QDialog::Accepted);

    TNewCnctDlg disabled(server::CLIENT_LISTED, QString(), QString(), false);
    disabled.show();
    disabled.TurnedTo();
    QTest::keyClick(&disabled, Qt::Key_Escape); // within the first second
    EXPECT_TRUE(disabled.isVisible());
    test::RunFor(TNewCnctDlg::kKeyGuardMs + 50);
    QTest::keyClick(&disabled, Qt::Key_Return);
    EXPECT_TRUE(disabled.isVisible());
    QTest::keyClick(&disabled, Qt::Key_Escape);
    EXPECT_FALSE(disabled.isVisible());
    EXPECT_EQ(disabled.result(), QDialog::Rejected);
}

TEST(NewCnctDlg, PanelBlinksBetweenItsTwoColoursWhileShown)
{
    TNewCnctDlg alert(server::CLIENT_LISTED, QString(), QString(), true);
    EXPECT_EQ(TNewCnctDlg::FromBgr(5279480), QColor(248, 142, 80));
    EXPECT_EQ(TNewCnctDlg::FromBgr(8641760), QColor(224, 220, 131));
    EXPECT_EQ(alert.PanelColor(), QColor(248, 142, 80));
    alert.show();
    EXPECT_TRUE(alert.Timer1.isActive());
    EXPECT_EQ(alert.Timer1.interval(), 700);
    alert.Timer1Timer();
    EXPECT_EQ(alert.PanelColor(), QColor(224, 220, 131));
    alert.Timer1Timer();
    EXPECT_EQ(alert.PanelColor(), QColor(248, 142, 80));
    alert.reject();
    EXPECT_FALSE(alert.Timer1.isActive());
}

TEST(NewCnctDlg, PlacementCornersAndStacking)
{
    const QRect screen(0, 0, 1000, 800);
    const QSize size(200, 90);
    EXPECT_EQ(TNewCnctDlg::AlertPosition(0, 0, size, screen), QPoint(10, 10));
    EXPECT_EQ(TNewCnctDlg::AlertPosition(0, 2, size, screen), QPoint(60, 60));
    EXPECT_EQ(TNewCnctDlg::AlertPosition(1, 0, size, screen), QPoint(790, 10));
    EXPECT_EQ(TNewCnctDlg::AlertPosition(1, 1, size, screen), QPoint(765, 35));
    EXPECT_EQ(TNewCnctDlg::AlertPosition(2, 0, size, screen), QPoint(790, 680));
    EXPECT_EQ(TNewCnctDlg::AlertPosition(2, 1, size, screen), QPoint(765, 655));
    EXPECT_EQ(TNewCnctDlg::AlertPosition(7, 1, size, screen), QPoint(765, 655));
    // A second screen's origin is kept.
    EXPECT_EQ(TNewCnctDlg::AlertPosition(0, 0, size, QRect(1000, 0, 800, 600)), QPoint(1010, 10));
}

// Alerts on screen and waiting for an answer.
int AlertsShown()
{
    int shown = 0;
    for (QWidget *window : QApplication::topLevelWidgets())
        shown += qobject_cast<TNewCnctDlg *>(window) && window->isVisible();
    return shown;
}

TEST(NewCnctDlg, SecondAlertWhileTheFirstIsOpenIsPlacedHigherAndFurtherLeft)
{
    std::optional<bool> firstAnswer;
    std::optional<bool> secondAnswer;
    QPointer<TNewCnctDlg> first = TNewCnctDlg::Open(server::CLIENT_LISTED, QStringLiteral("first"), QString(), true,
                                                    2, [&](bool accept) { firstAnswer = accept; });
    EXPECT_EQ(AlertsShown(), 1);
    QPointer<TNewCnctDlg> second = TNewCnctDlg::Open(server::CLIENT_LISTED, QStringLiteral("second"), QString(),
                                                     true, 2, [&](bool accept) { secondAnswer = accept; });
    EXPECT_EQ(second->pos() - first->pos(), QPoint(-25, -25));
    // The operator answers them later, each with its own button.
    second->OnHoldlBtn->click();
    first->AcceptBtn->click();
    EXPECT_EQ(firstAnswer, std::optional<bool>(true));
    EXPECT_EQ(secondAnswer, std::optional<bool>(false));
    EXPECT_EQ(AlertsShown(), 0);
}

// The operator types in a chat while calls arrive: the alerts appear on top
// but the keys stay in the chat; Enter answers no alert, Ctrl+Alt+A accepts
// the newest one, and the alerts answer their own buttons.
TEST(NewCnctDlgAlert, AnAlertShownWhileTypingLeavesTheKeysInTheChat)
{
    QWidget chat;
    auto *input = new QPlainTextEdit(&chat);
    chat.show();
    chat.activateWindow();
    ASSERT_TRUE(test::WaitFor([&] { return chat.isActiveWindow(); }));
    input->setFocus();
    QTest::keyClicks(input, QStringLiteral("Your parcel "));

    QList<int> answers; // 1 Accept, 0 On-Hold, in order
    QPointer<TNewCnctDlg> first = TNewCnctDlg::Open(server::CLIENT_LISTED, QStringLiteral("first"), QString(), true, 2,
                                                    [&](bool accept) { answers << int(accept); });
    QPointer<TNewCnctDlg> second = TNewCnctDlg::Open(server::CLIENT_LISTED, QStringLiteral("second"), QString(), true, 2,
                                            [&](bool accept) { answers << int(accept); });
    EXPECT_EQ(AlertsShown(), 2);
    EXPECT_FALSE(first->isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(second->pos() - first->pos(), QPoint(-25, -25)); // stacked as before
    test::RunFor(500);
    EXPECT_TRUE(chat.isActiveWindow());
    EXPECT_EQ(QApplication::focusWidget(), input);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("left today."));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(input->toPlainText(), QStringLiteral("Your parcel left today.\n"));
    // A compositor that hands the new alert the keyboard (Wayland): the keys,
    // Enter included, still land in the chat, and answer no call.
    QTest::keyClicks(second->NewConnectPanel, QStringLiteral("Bye"));
    QTest::keyClick(second->NewConnectPanel, Qt::Key_Return);
    EXPECT_EQ(input->toPlainText(), QStringLiteral("Your parcel left today.\nBye\n"));
    EXPECT_TRUE(answers.isEmpty());

    // Where the desktop stacks windows itself, a chat that comes up would
    // cover the open alerts: they are shown again, in front, answer no key
    // until turned to afresh, and keys they are handed go to the new chat.
    TNewCnctDlg::WatchTyping();
    SetDesktopPlacesWindows(true);
    second->TurnedTo();
    test::RunFor(TNewCnctDlg::kKeyGuardMs);
    ASSERT_TRUE(second->KeysAnswer());
    QWidget newChat;
    newChat.setProperty(kChatNumberProperty, 7);
    auto *newInput = new QPlainTextEdit(&newChat);
    newChat.show();
    newChat.activateWindow();
    newInput->setFocus();
    EXPECT_TRUE(test::WaitFor([&] { return !second->KeysAnswer(); }));
    EXPECT_TRUE(first->isVisible() && second->isVisible());
    QTest::keyClicks(second->NewConnectPanel, QStringLiteral("Hi"));
    QTest::keyClick(second->NewConnectPanel, Qt::Key_Return);
    EXPECT_EQ(newInput->toPlainText(), QStringLiteral("Hi\n"));
    EXPECT_TRUE(answers.isEmpty());
    SetDesktopPlacesWindows(std::nullopt);
    newChat.hide();
    input->setFocus();

    TConsoleKeys keys;
    keys.AcceptNewestCall = [&] { second->Press(true); };
    QTest::keyClick(input, Qt::Key_A, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(answers, QList<int>{1}); // the second, newest call
    EXPECT_EQ(AlertsShown(), 1);
    // Ctrl+Alt+N brings the alert up with the keyboard: Esc puts it on hold.
    keys.TurnToNewestAlert = [&] { first->BringForward(); };
    QTest::keyClick(input, Qt::Key_N, Qt::ControlModifier | Qt::AltModifier);
    ASSERT_TRUE(test::WaitFor([&] { return first->isActiveWindow(); }));
    test::RunFor(TNewCnctDlg::kKeyGuardMs);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_EQ(answers, (QList<int>{1, 0}));
    EXPECT_EQ(AlertsShown(), 0);
    EXPECT_FALSE(first && first->Press(true)); // an answered alert takes no second answer

    // Ctrl+Alt+H puts the newest on hold, whatever its Accept; the exit
    // answers what is still open, as On-Hold.
    QPointer<TNewCnctDlg> full = TNewCnctDlg::Open(server::CLIENT_LISTED, QString(), QString(), false, 2,
                                                   [&](bool accept) { answers << int(accept); });
    QPointer<TNewCnctDlg> newest = TNewCnctDlg::Open(server::CLIENT_LISTED, QString(), QString(), true, 2,
                                                     [&](bool accept) { answers << int(accept); });
    EXPECT_FALSE(full->Press(true)); // its Accept is disabled
    keys.HoldNewestCall = [&] { newest->Press(false); };
    QTest::keyClick(input, Qt::Key_H, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(AlertsShown(), 1);
    full->reject();
    EXPECT_EQ(answers, (QList<int>{1, 0, 0, 0}));
    EXPECT_EQ(AlertsShown(), 0);
}

TEST(EmailAddrEditDlg, OkKeepsTheEditCancelAndEscKeepTheOldAddress)
{
    for (const char *button : {"OK", "Cancel", "Esc"}) {
        const QString which = QString::fromLatin1(button);
        QTimer::singleShot(0, [which] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *dialog = qobject_cast<TEmailAddrEditDlg *>(w);
                if (!dialog || !dialog->isVisible())
                    continue;
                EXPECT_EQ(dialog->windowTitle(), QStringLiteral("  User e-mail address editor"));
                EXPECT_EQ(dialog->EmailEditText->text(), QStringLiteral("old@example.com"));
                dialog->EmailEditText->setText(QStringLiteral("new@example.com"));
                if (which == QLatin1String("OK"))
                    dialog->OKBtn->click();
                else if (which == QLatin1String("Cancel"))
                    dialog->CancelBtn->click();
                else
                    QTest::keyClick(dialog, Qt::Key_Escape);
            }
        });
        const QString expected = which == QLatin1String("OK") ? QStringLiteral("new@example.com")
                                                               : QStringLiteral("old@example.com");
        EXPECT_EQ(TEmailAddrEditDlg::Edit(QStringLiteral("old@example.com")), expected) << button;
    }
    // Text that is no address is warned about as it is typed, and OK keeps it.
    TEmailAddrEditDlg dialog(QStringLiteral("Not Supplied !"));
    EXPECT_FALSE(dialog.WarningShown());
    const QList<QPair<QString, bool>> cases = {
        {"not an email", true}, {"eve@", true}, {"eve@example.org", false}, {"", false}};
    for (const auto &[text, warned] : cases) {
        dialog.EmailEditText->setText(text);
        EXPECT_EQ(dialog.WarningShown(), warned) << text.toStdString();
    }
    dialog.EmailEditText->setText(QStringLiteral("not an email"));
    EXPECT_TRUE(dialog.OKBtn->isEnabled());
    EXPECT_EQ(dialog.Text(), QStringLiteral("not an email"));
}

} // namespace
} // namespace velmora
