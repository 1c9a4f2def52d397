// The chat window's part in transfers: handing its chat to another supporter
// (the header and end lines, the conversation that goes, the way back when
// nobody takes it), and on the taking console the conversation that came
// with the call.
#include "chat/ChatProperties.h"
#include "chat/OneChatWindow.h"

#include "chat/ChatDialogs.h"
#include "chat/ChatPane.h"
#include "chat/QuietShow.h"
#include "chat/TransferText.h"
#include "config/Settings.h"
#include "richtext/RtfWriter.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolButton>

namespace velmora {

void TOneChatWindow::TransferDataArrived(const QByteArray &conversation)
{
    if (!m_closed)
        LoadTransferredConversation(conversation);
}

void TOneChatWindow::LeftDuringTransfer(const QString &how)
{
    // No dialog while the chat is being handed over, but the operator sees it;
    // and as nobody will take the visitor now, the transcript is mailed here.
    if (m_leftDuringTransfer)
        return;
    m_leftDuringTransfer = true;
    m_chat.SetEnded(true); // nothing more goes to a visitor who has gone
    setProperty(kChatEndedProperty, true);
    const QString line = CallerLabel() + QStringLiteral(" left the chat at ") + TChatPane::NowText() + how;
    m_pane->AddSystemLine(line);
    m_chat.ArchiveSystemLine(line);
    // Nobody is handed a visitor who has gone: the chat ends here.
    m_host.CancelTransfer(m_chat.SessionCount(), QString());
}

void TOneChatWindow::CancelTransferClick()
{
    if (m_closed || m_closing || !m_chat.Transferring())
        return;
    // Too late once the conversation has gone: the window closes then.
    m_host.CancelTransfer(m_chat.SessionCount(),
                          QStringLiteral("The transfer was cancelled: the chat is yours again."));
}

void TOneChatWindow::TransferGivenUp(const QString &line)
{
    if (!m_chat.Transferring() || m_closed)
        return;
    RestoreAfterTransfer();
    if (line.isEmpty() || m_closed)
        return;
    m_pane->AddSystemLine(line);
    m_chat.ArchiveSystemLine(line);
}

void TOneChatWindow::TransferBtnClick()
{
    if (m_closed || m_closing || m_chat.Transferring())
        return;
    ShowAllReceived();
    const TSettings &settings = Settings();
    QTextDocument &document = *ChatOutPutText->document();
    // 1. An empty conversation travels as it is, without a header.
    if (!document.isEmpty()) {
        m_chat.MarkEndTime();
        const QStringList header =
            TransferHeaderLines(m_chat.CallTimeText(false), m_chat.CallTimeText(true), settings.SupportName);
        InsertTransferHeader(document, header, m_pane->BaseFormat());
        AppendTransferEnd(document, m_pane->BaseFormat(), settings.EmptyLineAdd);
        ChatOutPutText->moveCursor(QTextCursor::End);
        InputText->setEnabled(false);
    }
    // 2., 3.
    TTransferSource source;
    source.SessionCount = m_chat.SessionCount();
    source.Name = m_chat.Name();
    source.Email = m_chat.Email();
    source.Conversation = DocumentToRtf(document);
    m_chat.SetTransferring(true);
    ShowCancelTransfer(true);
    // 4.
    QPointer<TOneChatWindow> self(this);
    const bool accepted = m_host.BeginTransfer(source);
    if (self && !accepted && !m_closed)
        RestoreAfterTransfer();
}

QByteArray TOneChatWindow::TransferConversation(const QByteArray & /*kept*/)
{
    // The visitor may have gone on while the other supporter was being
    // asked: all of it travels, and the end line stays the last.
    ShowAllReceived();
    QTextDocument &document = *ChatOutPutText->document();
    KeepTransferEndLast(document, m_pane->BaseFormat(), Settings().EmptyLineAdd);
    return DocumentToRtf(document);
}

void TOneChatWindow::TransferOffered(const QString &supporter)
{
    m_chat.NameArchiveOtherSupporter(supporter);
}

void TOneChatWindow::HandedOver()
{
    m_handedOver = true;
    // The keys go on to the next chat only when the operator was in this one.
    m_keysOnward = isVisible() && window()->isActiveWindow();
    FormClose();
}

void TOneChatWindow::RestoreAfterTransfer()
{
    // Once is enough, whoever learns first that nobody takes the chat.
    if (!m_chat.Transferring())
        return;
    RemoveTransferLines(*ChatOutPutText->document());
    m_chat.SetTransferring(false);
    m_chat.NameArchiveOtherSupporter(m_transferredFrom);
    ShowCancelTransfer(false);
    // A chat that is closing ends as the close procedure says.
    if (m_closed || m_closing)
        return;
    if (m_leftDuringTransfer) {
        // The chat stays here, and its visitor has gone: as when one leaves.
        m_chat.SetEnded(true);
        m_chat.StopClock();
        ExtraToolsOpenBtn->setEnabled(false);
        SendMsgBtn->setEnabled(false);
        AskRemoteTerminatedThenClose();
        return;
    }
    InputText->setEnabled(true);
}

void TOneChatWindow::ShowCancelTransfer(bool on)
{
    if (!m_cancelTransfer && on) {
        m_cancelTransfer = new QPushButton(QStringLiteral("Cancel transfer"), this);
        m_cancelTransfer->setObjectName(QStringLiteral("CancelTransferBtn"));
        m_cancelTransfer->setToolTip(QStringLiteral("Keep this chat: nobody has taken it yet."));
        connect(m_cancelTransfer, &QPushButton::clicked, this, [this] { CancelTransferClick(); });
        m_pane->StatusBar->addPermanentWidget(m_cancelTransfer);
    }
    if (m_cancelTransfer)
        m_cancelTransfer->setVisible(on);
}

void TOneChatWindow::LoadTransferredConversation(const QByteArray &richText)
{
    // Above whatever the window has written already, so the earlier
    // conversation comes before every new line. Another console's bytes:
    // what cannot be read is left out, never a reason to fail. It is shown
    // a piece per pass of the event loop, so the window and the rest of the
    // console go on meanwhile; the archive has it at once.
    if (richText.isEmpty())
        return;
    // Sent again: the new copy replaces the one shown, never a second one.
    QPointer<TChatPane> pane(m_pane);
    m_received->Show(richText, m_pane->BaseFormat(), !m_chat.Transferring(), [pane](bool) {
        if (pane)
            pane->ScrollToNewest();
    });
    ArchiveCarriedConversation();
}

void TOneChatWindow::ShowAllReceived() const
{
    m_received->ShowRestNow();
    m_pane->ShowRestOfLines();
}

void TOneChatWindow::ArchiveCarriedConversation()
{
    // The caller's name may have come only while the call waited.
    QString visitor = m_chat.Name();
    if (visitor.isEmpty() && m_chat.Record())
        visitor = m_chat.Record()->Name;
    QString from;
    const std::vector<TArchiveLine> lines =
        CarriedLines(m_received->Read(), m_received->ReadParagraphs(), visitor, Settings().SupportName, &from);
    // A copy sent again holds the first one's lines and what came after them:
    // those after the part both share are recorded, unless the first copy
    // had them too (its end line).
    QStringList texts;
    for (const TArchiveLine &line : lines)
        texts << line.Name + QLatin1Char('\0') + line.Text;
    qsizetype shared = 0;
    while (shared < texts.size() && shared < m_carriedArchived.size() && texts[shared] == m_carriedArchived[shared])
        ++shared;
    const QStringList earlierRest = m_carriedArchived.mid(shared);
    for (qsizetype i = shared; i < texts.size(); ++i)
        if (!earlierRest.contains(texts[i]))
            m_chat.ArchiveLine(lines[size_t(i)]);
    m_carriedArchived = texts;
    if (!from.isEmpty()) {
        m_transferredFrom = from;
        m_chat.NameArchiveOtherSupporter(from);
    }
}

} // namespace velmora
