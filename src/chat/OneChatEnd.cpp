// The end of a customer chat window: the close procedure with its transcript
// and farewell, the take-down when the server connection is lost, and the
// window that is left to read after it.
#include "chat/OneChatWindow.h"

#include "chat/ChatDialogs.h"
#include "chat/ChatLines.h"
#include "chat/ChatPane.h"
#include "chat/ChatWinExtDlg.h"
#include "chat/ChatWorkspace.h"
#include "chat/TransferText.h"
#include "config/Settings.h"
#include "diag/Boxes.h"
#include "richtext/RtfWriter.h"
#include "richtext/TranscriptDocument.h"

#include <QTextEdit>

namespace velmora {

void TOneChatWindow::AskRemoteTerminatedThenClose()
{
    // Nothing waits for the answer: other chats, calls and this window's own
    // text go on while the dialog is up.
    QPointer<TOneChatWindow> self(this);
    ChatDialogs().RemoteTerminatedThen(*this, [self](bool close) {
        if (self && !self->m_closed && close) {
            self->m_keysOnward = true;
            self->FormClose();
        }
    });
}

void TOneChatWindow::EndChatBtnClick()
{
    if (m_closing || m_closed)
        return;
    QPointer<TOneChatWindow> self(this);
    if (!m_pane->MayDiscardDraft(this) || !self || m_closing || m_closed)
        return;
    // The operator ends it: the keys go on to the next chat.
    m_keysOnward = true;
    FormClose();
}

void TOneChatWindow::FormClose()
{
    if (m_closing || m_closed)
        return;
    if (m_detached) {
        CloseDetached();
        return;
    }
    m_closing = true;
    QPointer<TOneChatWindow> self(this);

    // 1.
    // A chat handed over is no longer ours to keep: the visitor types to the other supporter.
    const bool anyway = m_handedOver || !m_chat.RemoteTyping() || TChatPane::CloseWhileRemoteTypes(this);
    if (!self)
        return;
    if (!anyway || m_closed) {
        m_closing = false;
        m_keysOnward = false;
        return;
    }

    // 2.
    m_chat.StopClock();
    m_pane->StopFlashing();
    if (m_extraTools && m_extraTools->isVisible())
        m_extraTools->hide();
    m_extraToolsOpen = false;

    // A chat that nobody has taken yet is not handed over by closing it:
    // it ends here, as any other.
    if (m_chat.Transferring())
        m_host.CancelTransfer(m_chat.SessionCount(), QString());
    if (!self || m_closed)
        return;

    // 3.
    m_chat.MarkEndTime();

    // 4.
    bool transcript = false;
    if (!m_host.TranscriptsOff()) {
        // Nobody took a visitor who left during the transfer: the transcript
        // is this console's, and not a handed-over one.
        if (m_leftDuringTransfer)
            RemoveTransferLines(*ChatOutPutText->document());
        if (const std::optional<TTranscriptSource> source = TranscriptSource()) {
            // Done with: off the screen while the farewell goes.
            TChatWorkspace::PutAway(this, m_keysOnward);
            m_host.ComposeTranscript(*source);
            transcript = true;
        }
        if (!self || m_closed)
            return; // taken down (or destroyed) while the composer asked something
    }

    // 5.-7. on the wire, without blocking; the window goes once the farewell has left.
    m_chat.EndOnWire(
        transcript ? 300 : 0,
        [this] {
            ShowBox(QStringLiteral("From inside TOneChatWindow::FormClose, Could not send waiting messages !!"),
                    QStringLiteral("Error"), BoxIcon::Error, BoxButtons::Ok, this);
        },
        [this] {
            // 6., 7.
            if (IsSupporterChat())
                m_host.SetChatWithOtherSupportEnabled(true);
            Dispose(true);
        });
}

void TOneChatWindow::Dispose(bool callListToo)
{
    m_closed = true;
    m_chat.StopClock();
    m_pane->StopFlashing();
    if (m_extraTools) {
        m_extraTools->hide();
        m_extraTools->deleteLater();
        m_extraTools = nullptr;
    }
    m_chat.ReleaseCall();
    if (callListToo)
        m_calls.ChatWindowGone(this);
    TChatWorkspace::PutAway(this, m_keysOnward);
    deleteLater();
}

std::optional<TTranscriptSource> TOneChatWindow::TranscriptSource() const
{
    // The call's row gives the header block; without a row there is no mail.
    // A window left open after a server-connection loss kept the row's data.
    const std::optional<TTranscriptHeader> row = m_chat.TranscriptRow();
    if (!row)
        return std::nullopt;
    ShowAllReceived();
    TTranscriptHeader header = *row;
    header.SupportName = Settings().SupportName;
    TTranscriptSource source;
    source.SessionCount = m_chat.SessionCount();
    source.Name = m_chat.Name();
    source.Email = m_chat.Email();
    source.HandedOver = m_chat.Transferring() && !m_leftDuringTransfer;
    source.WarningCaption = WarningCaption();
    source.Conversation = DocumentToRtf(
        *TranscriptDocument(*ChatOutPutText->document(), TranscriptHeaderLines(header), kNoticeGreen));
    return source;
}

void TOneChatWindow::TakeDownOnNetError()
{
    if (m_closed || m_detached)
        return;
    if (m_closing) {
        // Already on its way out: finish at once, as the main window asks.
        m_chat.TakeDown();
        Dispose(true);
        return;
    }
    // The call is over for the console: its row says "Net Error !", and the
    // window leaves the list of chat windows. The window itself stays, read
    // only, so the conversation does not vanish; closing it ends it (and
    // mails the transcript, from the row as it was now).
    m_pane->StopFlashing();
    // A transfer pending on the lost server connection is over: the chat ends
    // here, and its transcript is this console's.
    if (m_chat.Transferring()) {
        RemoveTransferLines(*ChatOutPutText->document());
        m_chat.SetTransferring(false);
    }
    // Shown before the take-down, which ends the chat's record with its
    // "Net Error !", so the record keeps the line too.
    EnterEndedState(QStringLiteral("The connection to the server was lost at ") + TChatPane::NowText()
                    + QStringLiteral("; this chat has ended."));
    m_chat.TakeDown();
    m_detached = true;
    m_calls.ChatWindowGone(this);
}

void TOneChatWindow::CloseDetached()
{
    // What is left of a chat the server connection took down: its transcript,
    // then the window.
    QPointer<TOneChatWindow> self(this);
    m_closing = true;
    if (!m_host.TranscriptsOff()) {
        if (const std::optional<TTranscriptSource> source = TranscriptSource()) {
            TChatWorkspace::PutAway(this, m_keysOnward);
            m_host.ComposeTranscript(*source);
        }
        if (!self)
            return;
    }
    // The supporter-chat button is the server session's business again since the loss.
    Dispose(false);
}

} // namespace velmora
