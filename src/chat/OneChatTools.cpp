// The chat window's extra tools: opening and placing them, and what they
// send (a URL, an image, a canned answer put in the input).
#include "chat/OneChatWindow.h"

#include "chat/ChatDialogs.h"
#include "chat/ChatPane.h"
#include "chat/ChatPlacement.h"
#include "chat/ChatWinExtDlg.h"
#include "chat/ChatPictures.h"
#include "chat/ChatWorkspace.h"
#include "chat/QuietShow.h"
#include "config/Genfunc.h"
#include "diag/Boxes.h"
#include "protocol/ChatMessages.h"
#include "protocol/ImageFile.h"

#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScreen>
#include <QToolButton>

namespace velmora {

void TOneChatWindow::SetExtraToolsButton(bool open)
{
    SetChatGlyph(*ExtraToolsOpenBtn, open ? "ARROW_L" : "ARROW_R", open ? QStringLiteral("<") : QStringLiteral(">"));
}

void TOneChatWindow::ExtraToolsOpenBtnClick()
{
    if (!m_extraTools)
        return;
    if (m_extraToolsOpen) {
        ExtraToolsOpenBtn->setToolTip(QStringLiteral("Open extra options..."));
        m_extraToolsOpen = false;
        SetExtraToolsButton(false);
        if (m_extraTools->IsPanel())
            ShowToolsPanel(false);
        else
            m_extraTools->hide();
    } else {
        ExtraToolsOpenBtn->setToolTip(QStringLiteral("Close extra options..."));
        m_extraToolsOpen = true;
        SetExtraToolsButton(true);
        if (m_extraTools->IsPanel()) {
            ShowToolsPanel(true);
            return;
        }
        RecalceExtraDialog();
        m_extraTools->show();
    }
}

void TOneChatWindow::ShowToolsPanel(bool open)
{
    if (!open) {
        m_extraTools->hide();
        return;
    }
    // Over the conversation's right edge, next to where the tool window would sit
    // beside it: no size of the window changes, which a tiling desktop would
    // not allow anyway.
    constexpr int kPanelTop = 8;
    // The text's area, so that the scroll bar stays free.
    const QWidget *text = ChatOutPutText->viewport();
    const QRect conversation(text->mapTo(this, QPoint(0, 0)), text->size());
    const int height = TChatWinExtDlg::kHeight;
    const int top = qMax(0, qMin(conversation.top() + kPanelTop, this->height() - height));
    m_extraTools->setGeometry(qMax(0, conversation.right() + 1 - m_extraTools->FullWidth()), top,
                              m_extraTools->FullWidth(), height);
    m_extraTools->raise();
    m_extraTools->show();
}

void TOneChatWindow::RecalceExtraDialog()
{
    if (!m_extraTools || m_extraTools->IsPanel())
        return;
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    m_extraTools->PlaceAt(ExtraToolsPosition(window()->frameGeometry(), m_extraTools->frameGeometry().size(),
                                             screen ? screen->availableGeometry() : QRect()));
}

void TOneChatWindow::PushUrlBtnClick()
{
    const TTitleDataClass *urls = m_host.UrlShortcuts();
    if (!urls)
        return;
    QPointer<TOneChatWindow> self(this);
    const QString url = ChatDialogs().ChooseShortcut(this, ShortcutMode::PushUrls, QStringLiteral("Shortcut"),
                                                     QStringLiteral("Push URL"), *urls);
    // The chat may have ended while the dialog was open.
    if (!self || m_closed || m_chat.Ended())
        return;
    // An empty push would open a blank window in the visitor's browser.
    if (url.isEmpty())
        return;
    // Checked again where it is sent, whatever chose it.
    if (!HasUrlPrefix(url)) {
        ShowBox(QString::fromLatin1(kMissingUrlPrefixText), QStringLiteral("Warning"), BoxIcon::None, BoxButtons::Ok, this);
        return;
    }
    m_chat.Send(chat::BuildPushUrl(url));
    m_chat.ArchiveUrl(url);
    // The operator sees what the visitor's browser was sent.
    m_pane->AddSystemLine(QStringLiteral("Pushed: ") + url);
}

void TOneChatWindow::CopyCannedMessageToInbox()
{
    const TTitleDataClass *canned = m_host.CannedMessages();
    if (!canned)
        return;
    QPointer<TOneChatWindow> self(this);
    const QString text = ChatDialogs().ChooseShortcut(this, ShortcutMode::CannedMessages,
                                                      QStringLiteral("Shortcut Title"), QStringLiteral("Message"),
                                                      *canned);
    if (!self || m_closed || m_chat.Ended())
        return;
    // Nothing chosen: what the operator had typed stays.
    if (text.isEmpty())
        return;
    // The answer replaces the whole input in one change (one typing notice).
    InputText->moveCursor(QTextCursor::End);
    m_pane->PutAnswer(0, text);
    m_cannedText = m_pane->OutgoingText();
}

bool TOneChatWindow::SendImageFile(const QString &fileName)
{
    const ImageFile image = LoadImageFile(fileName);
    if (image.status != ImageFileStatus::Ok) {
        const QString text = ImageRefusalText(image.status, fileName);
        if (!text.isEmpty())
            ShowBox(text, QStringLiteral("Warrning !"), BoxIcon::Warning, BoxButtons::Ok, this);
        return false;
    }
    m_chat.Send(chat::BuildImageData(image.bytes));
    m_chat.ArchiveImage(fileName, image.bytes);
    return true;
}

void TOneChatWindow::ExtraToolsKey()
{
    if (!ExtraToolsOpenBtn->isEnabled())
        return;
    if (m_extraToolsOpen) {
        ExtraToolsOpenBtnClick();
        TurnToChat(this);
        return;
    }
    ExtraToolsOpenBtnClick();
    m_extraTools->TakeKeyboard();
}

} // namespace velmora
