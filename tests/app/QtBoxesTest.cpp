// The real message box must survive the window it stands over going away.
#include "app/QtBoxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

using namespace velmora;

TEST(QtBoxes, WindowDestroyedWhileItsBoxWaitsEndsTheBoxWithoutACrash)
{
    auto *window = new QWidget;
    window->show();
    QApplication::setActiveWindow(window);
    ASSERT_EQ(QApplication::activeWindow(), window);
    // Destroy the window from inside the box's own event loop.
    QTimer::singleShot(50, window, [window] { window->deleteLater(); });
    TQtBoxes boxes;
    const BoxAnswer answer = boxes.Show({QStringLiteral("Network is down !!!!"), QStringLiteral("Network error !"),
                                         BoxIcon::Error, BoxButtons::OkCancel});
    EXPECT_EQ(answer, BoxAnswer::Cancel);
}

TEST(QtBoxes, AnswersFollowTheButtonPressed)
{
    TQtBoxes boxes;
    QTimer::singleShot(50, [] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
                box->button(QMessageBox::Yes)->click();
    });
    EXPECT_EQ(boxes.Show({QStringLiteral("q"), QStringLiteral("c"), BoxIcon::Question, BoxButtons::YesNo}),
              BoxAnswer::Yes);
}

TEST(QtBoxes, NoBoxStandsOverAMinimizedWindowAndANoticeBlocksNothing)
{
    QWidget window;
    window.show();
    QApplication::setActiveWindow(&window);
    window.setWindowState(Qt::WindowMinimized);
    ASSERT_TRUE(window.isMinimized());
    QApplication::setActiveWindow(&window);
    ASSERT_EQ(QApplication::activeWindow(), &window); // still the active one
    QWidget *parentSeen = &window;
    QTimer::singleShot(50, [&] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
                parentSeen = box->parentWidget();
                box->button(QMessageBox::Ok)->click();
            }
    });
    TQtBoxes boxes;
    boxes.Show({QStringLiteral("Hidden?"), QStringLiteral("Warning"), BoxIcon::Warning, BoxButtons::Ok});
    EXPECT_EQ(parentSeen, nullptr); // a window of its own, which nothing hides

    // A notice returns at once and stays up, a window of its own, until closed.
    boxes.Notify({QStringLiteral("To many waiting chat requests !!!!"), QStringLiteral("Warning"), BoxIcon::Warning,
                  BoxButtons::Ok});
    QMessageBox *notice = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
            notice = box;
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(notice->parentWidget(), nullptr);
    EXPECT_FALSE(notice->isModal());
    EXPECT_EQ(notice->text(), QStringLiteral("To many waiting chat requests !!!!"));
    // A desk left alone does not fill with notices: one per caption, updated.
    boxes.Notify({QStringLiteral("Later text"), QStringLiteral("Warning"), BoxIcon::Warning, BoxButtons::Ok});
    int visible = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        visible += qobject_cast<QMessageBox *>(w) && w->isVisible();
    EXPECT_EQ(visible, 1);
    EXPECT_EQ(notice->text(), QStringLiteral("Later text"));
    notice->close(); // deletes itself
}

// A chat's box blocks its own chat only and leaves the keyboard with the
// window in which the operator types; an owner nobody can see gets no box.
TEST(QtBoxes, AChatsBoxIsModalToThatChatAloneAndLeavesTheKeyboardWhereItIs)
{
    QWidget chat;
    chat.resize(300, 200);
    chat.show();
    QWidget other;
    auto *input = new QLineEdit(&other);
    other.show();
    QApplication::setActiveWindow(&other);
    input->setFocus();
    ASSERT_EQ(QApplication::activeWindow(), &other);

    QWidget *parentSeen = nullptr;
    Qt::WindowModality modality = Qt::NonModal;
    bool otherBlocked = true;
    QWidget *activeWhileUp = nullptr;
    TQtBoxes boxes;
    QTimer::singleShot(100, [&] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
                parentSeen = box->parentWidget();
                modality = box->windowModality();
                otherBlocked = QApplication::activeModalWidget() == box && modality == Qt::ApplicationModal;
                activeWhileUp = QApplication::activeWindow();
                box->button(QMessageBox::Ok)->click();
            }
    });
    BoxRequest request{QStringLiteral("Network is down !!!!"), QStringLiteral("Network error !"), BoxIcon::Error,
                       BoxButtons::Ok};
    request.owner = &chat;
    EXPECT_EQ(boxes.Show(request), BoxAnswer::Ok);
    EXPECT_EQ(parentSeen, &chat);
    EXPECT_EQ(modality, Qt::WindowModal);
    EXPECT_FALSE(otherBlocked);
    EXPECT_EQ(activeWhileUp, &other);
    EXPECT_EQ(QApplication::focusWidget(), input);

    // Minimized or hidden: a window of its own, which nothing hides.
    chat.setWindowState(Qt::WindowMinimized);
    parentSeen = &chat;
    QTimer::singleShot(100, [&] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
                parentSeen = box->parentWidget();
                box->button(QMessageBox::Ok)->click();
            }
    });
    boxes.Show(request);
    EXPECT_EQ(parentSeen, nullptr);
    chat.hide();
    parentSeen = &chat;
    QTimer::singleShot(100, [&] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
                parentSeen = box->parentWidget();
                box->button(QMessageBox::Ok)->click();
            }
    });
    boxes.Show(request);
    EXPECT_EQ(parentSeen, nullptr);
}
