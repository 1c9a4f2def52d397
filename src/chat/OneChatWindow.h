#pragma once
// The window in which the operator chats with one caller: the view of a
// TCustomerChat (the call's connection, its protocol and the call list's
// row) on a TChatPane (conversation, input, clock, attention), with the
// extra tools, the transfer, the end-of-chat dialog and the close procedure.
#include "chat/ChatHost.h"
#include "session/CustomerChat.h"

#include <QTextCursor>
#include <QByteArray>
#include <QWidget>

#include <memory>
#include <optional>

class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTextEdit;
class QToolButton;

namespace velmora {

class TChatPane;
class TChatWinExtDlg;
class TReceivedConversation;

class TOneChatWindow : public QWidget, public IChatWindow, public ICustomerChatView {
    Q_OBJECT
public:

    // Takes over the record's connection and send worker (the record keeps
    // pointing at the connection until the chat ends) and shows the window.
    TOneChatWindow(int number, ChatItem *record, IChatCalls &calls, IChatHost &host,
                   QWidget *parent = nullptr);
    ~TOneChatWindow() override;

    // IChatWindow
    qint32 SessionCount() const override { return m_chat.SessionCount(); }
    void FormClose() override;
    void TakeDownOnNetError() override;
    bool SendOnCallConnection(const QByteArray &frame) override;
    void TransferDataArrived(const QByteArray &conversation) override;
    // The conversation to hand over, as rich text, now that the other
    // supporter has answered: lines that came meanwhile move above the end line.
    QByteArray TransferConversation(const QByteArray &kept) override;
    // A transfer failed or was abandoned: the header and the end line go,
    // the input takes text again.
    void RestoreAfterTransfer() override;
    void TransferGivenUp(const QString &line) override;
    // The supporter the transfer goes to has been asked (kept in the archive).
    void TransferOffered(const QString &supporter) override;
    void HandedOver() override;

    // --- handlers (public so the window can be driven without a screen) ---
    void SendMsgBtnClick();
    void InputTextChange(bool empty);
    void ElapesedTimeDisp() { m_chat.Tick(); }
    void FormActivate();
    void ChatSocketDisconnect();
    void ChatSocketError(int wsaCode);
    // Extra tools
    void ExtraToolsOpenBtnClick();
    // Ctrl+T: opens the extra tools with the keyboard in them, or closes them
    // and gives the keyboard back to the input.
    void ExtraToolsKey();
    void RecalceExtraDialog();
    void PushUrlBtnClick();
    void CopyCannedMessageToInbox();
    // "Send Image": false when the file was refused (a box told why).
    bool SendImageFile(const QString &fileName);
    // Starts the transfer of this chat (the extra tools' "Transfer Chat").
    void TransferBtnClick();
    // "Cancel transfer": the chat stays here while nobody has taken it.
    void CancelTransferClick();
    QPushButton *CancelTransferButton() const { return m_cancelTransfer; }

    // --- state, for the main window, the transcript and tests ---
    int Number() const { return m_number; }
    QString WarningCaption() const;
    const QString &CallerName() const { return m_chat.Name(); }
    const QString &CallerEmail() const { return m_chat.Email(); }
    quint32 Clock() const { return m_chat.Clock(); }
    bool ExtraToolsOpen() const { return m_extraToolsOpen; }
    bool TypingNoticeSent() const { return m_chat.TypingNoticeSent(); }
    bool RemoteTyping() const { return m_chat.RemoteTyping(); }
    bool Ended() const { return m_chat.Ended(); }
    bool Transferring() const { return m_chat.Transferring(); }
    void SetTransferring(bool on) { m_chat.SetTransferring(on); }
    bool IsSupporterChat() const { return m_chat.IsSupporterChat(); }
    bool Closed() const { return m_closed; }
    // Left behind, read only, when the server connection took the chat down.
    bool Detached() const { return m_detached; }
    bool Flashing() const;
    // The "new messages" marker is up (lines arrived below while reading back).
    bool NewMessagesShown() const;
    // Characters in the input box that the wire cannot carry.
    int UncarriedInInput() const;
    // Sets the caption and widens the window until all of it shows.
    void SetCaption(const QString &caption);
    QString StatusPanelText(int panel) const;
    TClientSocket *Socket() const { return m_chat.Socket(); }
    TChatWinExtDlg *ExtraTools() const { return m_extraTools; }
    TChatPane &Pane() const { return *m_pane; }
    TCustomerChat &Chat() { return m_chat; }

    // The pane's controls, by their names in the window.
    QTextEdit *ChatOutPutText = nullptr;
    QPlainTextEdit *InputText = nullptr;
    QPushButton *SendMsgBtn = nullptr;
    QLabel *Label1 = nullptr;
    QToolButton *SoundSpeedButton = nullptr;
    QToolButton *ExtraToolsOpenBtn = nullptr;
    QStatusBar *StatusBar = nullptr;
    QMenu *ChatPopUp = nullptr;
    QToolButton *NewMessagesMarker = nullptr;

    // ICustomerChatView
    void RemoteLine(const QString &text) override;
    void RemoteTypingChanged(bool typing) override;
    void RemoteEnded() override;
    void CallerDetailsChanged() override;
    void ClockTicked(quint32 seconds) override;
    void ConnectionLost() override { ChatSocketDisconnect(); }
    void ConnectionError(int wsaCode) override { ChatSocketError(wsaCode); }

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void FormCreate(ChatItem *record);
    void SetExtraToolsButton(bool open);
    // Shows or hides the tools as a panel over the conversation's right edge.
    void ShowToolsPanel(bool open);
    // Shows the end-of-chat dialog and runs the close procedure if the
    // operator chooses to close; returns at once.
    void AskRemoteTerminatedThenClose();
    void LoadTransferredConversation(const QByteArray &richText);
    // What the archive keeps of the conversation just received.
    void ArchiveCarriedConversation();
    // The received conversation whole in the document, for what reads all of it.
    void ShowAllReceived() const;
    // Moves the window (its frame) back within the screen where it spills over.
    void KeepOnScreen();
    static constexpr int kFrameSettleMs = 200;
    void FitCaption();
    // The operator ends the chat (End chat, Ctrl+W, the close box): a draft
    // is only thrown away when the operator says so.
    void EndChatBtnClick();
    // The caption, saying so once the chat has ended.
    void ShowCaption();
    // The opening notice with the caller's name (or the one given).
    QString NameNotice(const std::optional<QString> &name = std::nullopt) const;
    // The chat is over: a system line, the clock stopped, nothing more to type or send.
    void EnterEndedState(const QString &systemLine);
    void CloseDetached();
    // The visitor went while the chat was being handed over.
    void LeftDuringTransfer(const QString &how);
    void ShowCancelTransfer(bool on);
    // The window is done with: extra tools, call list, then itself.
    void Dispose(bool callListToo);
    QString CallerLabel() const;
    // What the transcript needs, the header block above a copy of the
    // conversation; nullopt when the call has no row.
    std::optional<TTranscriptSource> TranscriptSource() const;

    int m_number;
    IChatCalls &m_calls;
    IChatHost &m_host;
    TChatPane *m_pane;
    TCustomerChat m_chat;
    QString m_caption;
    bool m_extraToolsOpen = false;
    bool m_firstActivationPending = true;
    bool m_closing = false; // inside the close procedure
    bool m_closed = false;  // the chat is over; the window is going away
    bool m_detached = false; // taken down by a server-connection loss, kept for reading
    bool m_fittingCaption = false;
    bool m_leftDuringTransfer = false;
    bool m_handedOver = false; // the other supporter took the chat
    bool m_keysOnward = false; // the operator ended it: the next chat gets the keys
    bool m_endedShown = false;
    // The opening notice written before the visitor's name was known.
    QTextCursor m_nameNotice;
    // "3 earlier chats, last on 30 Nov" in the status bar; a click opens them.
    void ShowEarlierChats();
    // Shows `text` on the earlier chats button, made on first use.
    void SetEarlierChatsText(const QString &text);
    // Past chats, for this visitor (Ctrl+Shift+H, the earlier-chats button).
    void ShowPastChats();
    QPushButton *m_earlierChats = nullptr;
    QPushButton *m_cancelTransfer = nullptr; // shown while a transfer waits
    // What the archive has of that conversation, and who handed the chat over.
    QStringList m_carriedArchived;
    // Shows a received conversation a piece at a time.
    std::unique_ptr<TReceivedConversation> m_received;
    QString m_transferredFrom;
    // A canned answer put in the input box, to mark it when sent unchanged.
    QString m_cannedText;
    TChatWinExtDlg *m_extraTools = nullptr;
};

} // namespace velmora
