// The real message box must survive the window it stands over going away.
#include "app/QtBoxes.h"

#include <QAbstractButton>
#include <QApplication>
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
