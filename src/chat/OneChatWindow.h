#pragma once
// The window in which the operator chats with one caller over the call's own
// connection: conversation, input with typing notices, clock and keep-alive,
// attention (flashing, icon, sound), the end-of-chat dialog and the close
// procedure that reports back to the call list.
#include "chat/ChatHost.h"
#include "session/ChatItem.h"

#include <QByteArray>
#include <QPointer>
#include <QTextCharFormat>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <optional>

class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSoundEffect;
class QStatusBar;
class QTextEdit;
class QToolButton;

namespace velmora {

class TChatWinExtDlg;

class TOneChatWindow : public QWidget, public IChatWindow {
    Q_OBJECT
public:
    static constexpr int kMaxInputChars = 32748;
    static constexpr int kKeepAliveSeconds = 60;

    // Takes over the record's connection and send worker (the record keeps
    // pointing at the connection until the chat ends) and shows the window.
    TOneChatWindow(int number, ChatItem *record, IChatCalls &calls, IChatHost &host,
                   QWidget *parent = nullptr);
    ~TOneChatWindow() override;

    // IChatWindow
    qint32 SessionCount() const override { return m_sessionCount; }
    void FormClose() override;
    void TakeDownOnNetError() override;
    bool SendOnCallConnection(const QByteArray &frame) override;
    void TransferDataArrived(const QByteArray &conversation) override;

    // --- handlers (public so the window can be driven without a screen) ---
    void ProcessMessage(quint16 code, const QByteArray &body);
    void SendMsgBtnClick();
    // True when the key was taken (Enter sends the line; Shift+Enter, when
    // Enter sends, breaks the line).
    bool InputTextKeyPress(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void InputTextChange();
    void InputTextClick();
    void ElapesedTimeDisp();
    void FlashTimerTimer();
    void FormActivate();
    void SoundSpeedButtonClick();
    void SelectAll1Click();
    void CopySelected1Click();
    void ToTimerTimer() {}
    void ChatSocketDisconnect();
    void ChatSocketError(int wsaCode);
    // Extra tools
    void ExtraToolsOpenBtnClick();
    void RecalceExtraDialog();
    void PushUrlBtnClick();
    void CopyCannedMessageToInbox();
    // "Send Image": false when the file was refused (a box told why).
    bool SendImageFile(const QString &fileName);
    // Starts the transfer of this chat (the extra tools' "Transfer Chat").
    void TransferBtnClick();
    // A transfer failed or was abandoned: the header and the end line go,
    // the input takes text again.
    void RestoreAfterTransfer();

    // The line renderer: the first `nameLength` characters in `nameColor`,
    // the rest in `textColor`; an empty line after it when EmptyLineAdd is set.
    void AddLine(const QString &text, const QColor &nameColor, int nameLength, const QColor &textColor);

    // Sends a finished frame when the connection is up; dropped otherwise.
    void SendFrame(const QByteArray &frame);
    void SendFrame(const std::optional<QByteArray> &frame);

    // --- state, for the main window, the transcript and tests ---
    int Number() const { return m_number; }
    QString WarningCaption() const;
    const QString &CallerName() const { return m_name; }
    const QString &CallerEmail() const { return m_email; }
    const QString &CallerPhone() const { return m_phone; }
    const QString &CallingFrom() const { return m_callingFrom; }
    quint32 Clock() const { return m_clock; }
    bool SoundOn() const { return m_soundOn; }
    bool ExtraToolsOpen() const { return m_extraToolsOpen; }
    bool TypingNoticeSent() const { return m_typingNoticeSent; }
    bool RemoteTyping() const { return m_remoteTyping; }
    bool Ended() const { return m_ended; }
    bool Transferring() const { return m_transferring; }
    void SetTransferring(bool on) { m_transferring = on; }
    bool IsSupporterChat() const;
    bool Closed() const { return m_closed; }
    // Left behind, read only, when the server connection took the chat down.
    bool Detached() const { return m_detached; }
    bool Flashing() const { return FlashTimer.isActive(); }
    // The "new messages" marker is up (lines arrived below while reading back).
    bool NewMessagesShown() const;
    // Characters in the input box that the wire cannot carry.
    int UncarriedInInput() const { return m_uncarriedInInput; }
    // Sets the caption and widens the window until all of it shows.
    void SetCaption(const QString &caption);
    // Renews the input label after the Enter setting changed.
    void UpdateInputLabel();
    QString StatusPanelText(int panel) const;
    TClientSocket *Socket() const { return m_socket; }
    TSocketBuff *SendWorker() const { return m_worker.get(); }
    ChatItem *Record() const { return m_record; }
    TChatWinExtDlg *ExtraTools() const { return m_extraTools; }
    IChatHost &Host() const { return m_host; }
    // The conversation that came with a transferred call (rich text).
    const QByteArray &ReceivedConversation() const { return m_receivedConversation; }

    // Controls
    QTextEdit *ChatOutPutText = nullptr;
    QPlainTextEdit *InputText = nullptr;
    QPushButton *SendMsgBtn = nullptr;
    QLabel *Label1 = nullptr;
    QToolButton *SoundSpeedButton = nullptr;
    QToolButton *ExtraToolsOpenBtn = nullptr;
    QStatusBar *StatusBar = nullptr;
    QMenu *ChatPopUp = nullptr;
    QToolButton *NewMessagesMarker = nullptr;
    QTimer ElapesedTime;
    QTimer FlashTimer;
    QTimer ToTimer;

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void BuildControls();
    void FormCreate();
    void SetExtraToolsButton(bool open);
    void PlayChatSound();
    void StopFlashing();
    void Log(const QString &line);
    // Shows the end-of-chat dialog and runs the close procedure if the
    // operator chooses to close; returns at once.
    void AskRemoteTerminatedThenClose();
    void HandleUserDetails(const QByteArray &body);
    void HandleChatText(const QByteArray &body);
    void LoadTransferredConversation(const QByteArray &richText);
    void ReleaseConnection();
    void PlaceCascaded();
    void FitCaption();
    bool ConversationAtBottom() const;
    void ScrollToNewest();
    void PlaceNewMessagesMarker();
    void MarkUncarried(const QString &text);
    // The chat is over: a system line, the clock stopped, nothing more to type or send.
    void EnterEndedState(const QString &systemLine);
    void CloseDetached();
    QString CallerLabel() const;
    static QString NowText();
    // Hides the window and hands over what the transcript needs, the header
    // block inserted into the conversation; nullopt when the call has no row.
    std::optional<TTranscriptSource> TranscriptSource();
    // Steps 6 and 7 of the close procedure, once the farewell has left.
    void FinishClose();

    int m_number;
    ChatItem *m_record;
    IChatCalls &m_calls;
    IChatHost &m_host;
    QPointer<TClientSocket> m_socket;
    std::unique_ptr<TSocketBuff> m_worker;
    qint32 m_sessionCount = 0;
    quint16 m_kind = 0;
    QString m_name;
    QString m_email;
    QString m_phone;
    QString m_callingFrom;
    QString m_caption;
    quint32 m_clock = 0;
    int m_flashTicks = 0;
    bool m_soundOn = true;
    bool m_extraToolsOpen = false;
    bool m_typingNoticeSent = false;
    bool m_remoteTyping = false;
    bool m_ended = false;
    bool m_transferring = false;
    bool m_firstActivationPending = true;
    bool m_closing = false; // inside the close procedure
    bool m_closed = false;  // the chat is over; the window is going away
    bool m_closeWaitsForQueue = false;
    bool m_trimmingInput = false;
    bool m_followNextLine = false;
    bool m_detached = false; // taken down by a server-connection loss, kept for reading
    std::optional<TTranscriptHeader> m_detachedRow;
    bool m_fittingCaption = false;
    int m_uncarriedInInput = 0;
    QByteArray m_savedConversation;
    // Where a transfer put its header (at the top) and end lines, so that a
    // restore takes out exactly those and keeps lines that came meanwhile.
    int m_transferHeaderChars = 0;
    int m_transferEndStart = -1;
    int m_transferEndChars = 0;
    QByteArray m_receivedConversation;
    QTextCharFormat m_baseFormat;
    QLabel *m_statusPanels[3] = {};
    QSoundEffect *PlayWavInChat = nullptr;
    TChatWinExtDlg *m_extraTools = nullptr;
};

} // namespace velmora
