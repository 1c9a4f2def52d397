#include "chat/RemoteClientTerminatedDlg.h"

#include "chat/ChatPictures.h"
#include "chat/QuietShow.h"

#include <QApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace velmora {

TRemoteClientTerminatedDlg::TRemoteClientTerminatedDlg(QWidget *chatWindow, int number)
    : QDialog(chatWindow, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_chatWindow(chatWindow)
{
    setWindowTitle(QStringLiteral(" Warning for Chat window # ") + QString::number(number));
    // Modal to its own chat only: the other chats go on. Shown over its chat
    // without taking the keyboard from a window in which the operator types.
    // A chat in a tab shares its window with the others: not modal there.
    setWindowModality(!chatWindow ? Qt::ApplicationModal : chatWindow->isWindow() ? Qt::WindowModal : Qt::NonModal);
    if (chatWindow && QApplication::activeWindow()
        && (QApplication::activeWindow() != chatWindow->window() || !chatWindow->isVisible()))
        KeepKeyboardWhenShown(this);

    auto *picture = new QLabel(this);
    picture->setPixmap(ChatGlyph("COMP_L_NOK"));
    auto *text1 = new QLabel(QStringLiteral("Remote user terminated the chat session !."), this);
    auto *text2 = new QLabel(QStringLiteral("close this chat  window ?"), this);
    text1->setTextFormat(Qt::PlainText);
    text2->setTextFormat(Qt::PlainText);

    LeaveBtn = new QPushButton(QStringLiteral("Leave this chat window open"), this);
    CloseBtn = new QPushButton(QStringLiteral("Close this chat window"), this);
    LeaveBtn->setDefault(true);
    LeaveBtn->setAutoDefault(true);
    connect(LeaveBtn, &QPushButton::clicked, this, [this] {
        m_closeChosen = false;
        done(QDialog::Accepted);
    });
    connect(CloseBtn, &QPushButton::clicked, this, [this] {
        m_closeChosen = true;
        done(QDialog::Accepted);
    });

    auto *texts = new QVBoxLayout;
    texts->addWidget(text1);
    texts->addWidget(text2);
    auto *top = new QHBoxLayout;
    top->addWidget(picture);
    top->addLayout(texts, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(LeaveBtn);
    buttons->addWidget(CloseBtn);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);
}

QPoint TRemoteClientTerminatedDlg::Placement(const QWidget *chatWindow, const QSize &dialogSize)
{
    if (chatWindow && chatWindow->isVisible() && !chatWindow->isMinimized())
        return chatWindow->frameGeometry().topLeft() + QPoint(10, 120);
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 800, 600);
    return area.center() - QPoint(dialogSize.width() / 2, dialogSize.height() / 2);
}

void TRemoteClientTerminatedDlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    move(Placement(m_chatWindow, size()));
    QApplication::beep();

}

void TRemoteClientTerminatedDlg::reject()
{
    // Esc (and the system close) mean "Close this chat window".
    m_closeChosen = true;
    QDialog::reject();
}

} // namespace velmora
