#include "chat/OneChatWindow.h"

#include "archive/ArchiveRecorder.h"
#include "chat/ChatDialogs.h"
#include "chat/ChatLines.h"
#include "chat/ChatPane.h"
#include "chat/ChatPictures.h"
#include "chat/ChatPlacement.h"
#include "chat/ChatProperties.h"
#include "chat/ChatWinExtDlg.h"
#include "chat/ChatWorkspace.h"
#include "chat/QuietShow.h"
#include "chat/TransferText.h"
#include "config/Genfunc.h"
#include "config/Settings.h"
#include "diag/AnsiText.h"
#include "diag/Boxes.h"
#include "diag/HelpContexts.h"
#include "protocol/ChatMessages.h"
#include "session/WsaErrors.h"
#include "team/TeamArchive.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace velmora {

namespace {

QString CaptionBase(int number)
{
    return QStringLiteral("  Chatting window  # ") + QString::number(number);
}

} // namespace

TOneChatWindow::TOneChatWindow(int number, ChatItem *record, IChatCalls &calls, IChatHost &host,
                               QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint
                          | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_number(number), m_calls(calls), m_host(host), m_pane(new TChatPane(this)),
      m_chat(*this, calls, [this] { return m_host.Log(); })
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    setProperty("helpContext", int(ChatWindowContext));
    setProperty(kChatNumberProperty, number);
    setMinimumSize(m_pane->minimumSize());
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pane);

    ChatOutPutText = m_pane->ChatOutPutText;
    m_received = std::make_unique<TReceivedConversation>(*ChatOutPutText->document());
    InputText = m_pane->InputText;
    SendMsgBtn = m_pane->SendMsgBtn;
    Label1 = m_pane->Label1;
    SoundSpeedButton = m_pane->SoundSpeedButton;
    StatusBar = m_pane->StatusBar;
    ChatPopUp = m_pane->ChatPopUp;
    NewMessagesMarker = m_pane->NewMessagesMarker;
    ExtraToolsOpenBtn = new QToolButton;
    m_pane->AddToggle(ExtraToolsOpenBtn);
    connect(ExtraToolsOpenBtn, &QToolButton::clicked, this, [this] { ExtraToolsOpenBtnClick(); });
    connect(m_pane, &TChatPane::SendRequested, this, [this] { SendMsgBtnClick(); });
    connect(m_pane, &TChatPane::EndRequested, this, [this] { EndChatBtnClick(); });
    m_pane->SetCannedAnswers([this] { return m_host.CannedMessages(); });
    m_pane->SetPlaceholderValues([this] {
        TPlaceholderValues values;
        values.Visitor = m_chat.Name();
        values.Email = m_chat.Email();
        values.Site = m_chat.CallingFrom();
        values.Operator = Settings().SupportName;
        SetPlaceholderClock(values, QDateTime::currentDateTime());
        return values;
    });
    // The extra tools from the keyboard: the same key (or Esc) closes them.
    // This visitor's past chats, whether or not the archive knows of earlier ones.
    auto *pastKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_H), this);
    connect(pastKey, &QShortcut::activated, this, [this] { ShowPastChats(); });
    auto *toolsKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), this);
    connect(toolsKey, &QShortcut::activated, this, [this] { ExtraToolsKey(); });
    connect(m_pane, &TChatPane::InputChanged, this, [this](bool empty) { InputTextChange(empty); });
    // A canned answer chosen after "/" is marked as one chosen in the tools is.
    connect(m_pane, &TChatPane::CannedAnswerPut, this, [this] { m_cannedText = m_pane->OutgoingText(); });

    FormCreate(record);
}

TOneChatWindow::~TOneChatWindow()
{
    // Normally the close procedure has let go of the connection already; a
    // window destroyed any other way must not leave it reporting to nobody.
    m_chat.Release();
}

void TOneChatWindow::FormCreate(ChatItem *record)
{
    // 1. No extra tools (and so no transfer) in a chat between supporters.
    const bool supporterChat = record && record->Kind == server::SUPPORT_CHAT_LISTED;
    if (supporterChat)
        ExtraToolsOpenBtn->setEnabled(false);
    const bool knownCaller = record && record->OnHold;

    // 3.-5., 7. The connection, keep-alive and clock, welcome, options, the row.
    m_firstActivationPending = true;
    m_chat.Begin(record);

    // 2. Caption; a call that waited on hold already knows its caller.
    m_caption = CaptionBase(m_number);
    if (knownCaller) {
        m_caption += QStringLiteral(", in chat with ") + CaptionName(m_chat.Name());
        setProperty(kChatNameProperty, m_chat.Name());
        m_pane->SetSpellNames({m_chat.Name()});
    }
    SetCaption(m_caption);
    // ... and so whether it came before.
    if (knownCaller)
        ShowEarlierChats();

    // 6.
    m_extraToolsOpen = false;
    SetExtraToolsButton(false);
    ExtraToolsOpenBtn->setToolTip(QStringLiteral("Open/Close extra  options..."));

    // 8.
    m_pane->SetStatusPanel(1, QString());
    setWindowIcon(ChatStatusIcon(callicon::Normal));

    // 9. Whatever the caller sent while the window was being made.
    m_chat.ReadWaiting();
    if (m_closed)
        return; // a frame read just now ended the chat

    // 10.
    m_extraTools = new TChatWinExtDlg(*this, DesktopPlacesWindows());
    // With chats in one window the chat becomes a tab instead.
    if (!TChatWorkspace::Adopt(this)) {
        // Sized (a remembered size within this screen, then wide enough for the
        // caption) before it is placed, so that the whole of it is on the screen.
        resize(OpeningChatSize(minimumSize()));
        FitCaption();
        move(OpeningPosition(this, size()));
        // Calls open chats while the operator types in another one: the keys stay
        // there until the operator turns to this window. Otherwise the chat
        // the operator has just taken gets them.
        const bool takeKeys = QApplication::activeWindow() && !OperatorTypingInChat();
        if (!takeKeys)
            KeepKeyboardWhenShown(this);
        show();
        RenumberChats();
        if (takeKeys)
            TurnToChat(this);
        // The window manager's frame is known only once the window is up.
        QTimer::singleShot(kFrameSettleMs, this, [this] { KeepOnScreen(); });
    }

    // 11.
    if (record && !record->TransferData.isEmpty())
        LoadTransferredConversation(std::exchange(record->TransferData, QByteArray()));
}

QString TOneChatWindow::WarningCaption() const
{
    return QStringLiteral(" Warning for Chat window # ") + QString::number(m_number);
}

QString TOneChatWindow::StatusPanelText(int panel) const
{
    return m_pane->StatusPanelText(panel);
}

bool TOneChatWindow::Flashing() const
{
    return m_pane->Flashing();
}

bool TOneChatWindow::NewMessagesShown() const
{
    return m_pane->NewMessagesShown();
}

int TOneChatWindow::UncarriedInInput() const
{
    return m_pane->UncarriedInInput();
}

void TOneChatWindow::KeepOnScreen()
{
    const QScreen *screen = this->screen();
    if (!screen || !isWindow() || !isVisible() || isMinimized())
        return;
    const QRect area = screen->availableGeometry();
    const QRect frame = frameGeometry();
    if (area.contains(frame))
        return;
    // A title bar above the top edge cannot be grabbed to move the window back.
    const int x = qMax(area.left(), qMin(frame.left(), area.left() + area.width() - frame.width()));
    const int y = qMax(area.top(), qMin(frame.top(), area.top() + area.height() - frame.height()));
    move(x, y);
}

void TOneChatWindow::SetCaption(const QString &caption)
{
    setWindowTitle(caption);
    FitCaption();
}

void TOneChatWindow::FitCaption()
{
    // A window manager cuts a caption that does not fit, and the visitor's
    // name is at its end: widen the window (within the screen) so it fits.
    const QFontMetrics fm(QApplication::font("QMdiSubWindowTitleBar"));
    constexpr int kTitleBarButtons = 140; // icon, minimize, close and the frame
    if (!isWindow())
        return; // a tab: the caption is the tab's tooltip
    int wanted = fm.horizontalAdvance(windowTitle()) * 11 / 10 + kTitleBarButtons;
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        wanted = qMin(wanted, screen->availableGeometry().width());
    if (wanted > width()) {
        m_fittingCaption = true;
        resize(wanted, height());
        m_fittingCaption = false;
    }
}

// --- sending ------------------------------------------------------------------

bool TOneChatWindow::SendOnCallConnection(const QByteArray &frame)
{
    return m_chat.SendAlways(frame);
}

void TOneChatWindow::SendMsgBtnClick()
{
    // An ended chat has nobody to send to (its input is disabled too), and
    // nothing goes out after the farewell that the close procedure sends.
    if (m_chat.Ended() || m_closing || m_closed)
        return;
    const QString text = m_pane->MessageToSend();
    if (text.isEmpty())
        return;
    // The wire is 8-bit: say so before a character turns into "?", and let
    // the operator choose.
    const QString lost = UncarriedCharacters(text);
    if (!lost.isEmpty()) {
        QPointer<TOneChatWindow> self(this);
        const BoxAnswer answer =
            ShowBox(QStringLiteral("These characters cannot be sent and would reach the visitor as \"?\": ") + lost
                        + QStringLiteral("\n\nSend anyway?"),
                    QStringLiteral("Warning"), BoxIcon::Warning, BoxButtons::OkCancel, this);
        if (!self || m_closed || answer != BoxAnswer::Ok || m_pane->OutgoingText() != text)
            return;
    }
    const QByteArray wire = ToWire(MessageForWire(text));
    const bool canned = !m_cannedText.isEmpty() && text == std::exchange(m_cannedText, QString());
    m_chat.SendLine(wire, canned ? archive::LineKind::Canned : archive::LineKind::Text);
    m_pane->AddOwnLine(wire);
    m_pane->ClearInput(); // sends TYPING_STOP through InputTextChange
    InputText->setFocus();
}

void TOneChatWindow::InputTextChange(bool empty)
{
    if (m_closing || m_closed)
        return;
    m_chat.InputChanged(empty);
}

QString TOneChatWindow::CallerLabel() const
{
    return m_chat.Name().isEmpty() ? QStringLiteral("The visitor") : m_chat.Name();
}

void TOneChatWindow::EnterEndedState(const QString &systemLine)
{
    // The window stays to be read and copied, and says plainly that the chat is over.
    m_chat.StopClock();
    m_endedShown = true;
    setProperty(kChatEndedProperty, true);
    ShowCaption();
    if (m_extraToolsOpen)
        ExtraToolsOpenBtnClick();
    ExtraToolsOpenBtn->setEnabled(false);
    m_pane->ShowEnded(systemLine);
    m_chat.ArchiveSystemLine(systemLine);
}

void TOneChatWindow::FormActivate()
{
    if (!m_firstActivationPending)
        return;
    m_firstActivationPending = false;
    QStringList notices{NameNotice()};
    if (!IsSupporterChat())
        notices << QStringLiteral("Calling from : ") + m_chat.CallingFrom() + QStringLiteral(".") << QString();
    // A window opens without taking the keyboard, so lines may have come
    // before the operator first looks at it: the notices go above them,
    // below what a transfer brought.
    const QTextDocument &document = *ChatOutPutText->document();
    const QTextBlock ownStart = document.findBlockByNumber(ReceivedParagraphs(document));
    const QTextCursor notice =
        m_pane->InsertNotices(ownStart.isValid() ? ownStart.position() : document.characterCount(), notices);
    // The visitor's details may come later: the line then gets the name.
    if (m_chat.Name().isEmpty())
        m_nameNotice = notice;
    m_pane->PlayChatSound();
}

// --- what the caller says -----------------------------------------------------

void TOneChatWindow::RemoteLine(const QString &text)
{
    if (m_closed)
        return;
    m_pane->AddRemoteLine(m_chat.Name(), text);
    m_host.VisitorLineShown(this, m_chat.Name(), text);
}

void TOneChatWindow::RemoteTypingChanged(bool typing)
{
    if (m_closed)
        return;
    m_pane->ShowRemoteTyping(m_chat.Name(), typing);
}

void TOneChatWindow::CallerDetailsChanged()
{
    if (m_closed)
        return;
    m_caption += QStringLiteral(", in chat with ") + CaptionName(m_chat.Name());
    setProperty(kChatNameProperty, m_chat.Name());
    ShowCaption();
    // A transferred chat's earlier lines were kept before the name came.
    if (!m_carriedArchived.isEmpty())
        m_chat.AttributeArchivedLines(m_chat.Name());
    m_pane->SetSpellNames({m_chat.Name()});
    if (!m_nameNotice.isNull() && !m_chat.Name().isEmpty()) {
        m_pane->ReplaceLine(m_nameNotice, NameNotice(QString()), NameNotice());
        m_nameNotice = QTextCursor();
    }
    ShowEarlierChats();
}

void TOneChatWindow::ShowEarlierChats()
{
    // Only those before this chat, which the archive already holds too.
    const qint64 began = QDateTime::currentMSecsSinceEpoch() - qint64(m_chat.Clock() + 1) * 1000;
    // The team's count, with whom the last was, comes from the network: a
    // moment later, over the local count, and only when the server answers.
    TTeamArchive *team = TeamArchive();
    if (team && team->Enabled()) {
        team->Read(this, [this, email = m_chat.Email(), name = m_chat.Name(), site = m_chat.CallingFrom(),
                          began](TTeamDb *db) -> std::function<void()> {
            if (!db)
                return {};
            const QString text = TeamEarlierText(db->Earlier(email, name, site, began));
            return [this, text] {
                if (!text.isEmpty())
                    SetEarlierChatsText(text);
            };
        });
    }
    TArchiveRecorder *archive = ArchiveRecorder();
    TArchiveDb *reader = archive ? archive->Reader() : nullptr;
    if (!reader || m_earlierChats)
        return;
    const QString text = EarlierChatsText(reader->Earlier(m_chat.Email(), m_chat.Name(), m_chat.CallingFrom(), began));
    if (!text.isEmpty())
        SetEarlierChatsText(text);
}

void TOneChatWindow::SetEarlierChatsText(const QString &text)
{
    if (m_earlierChats) {
        m_earlierChats->setText(text);
        m_earlierChats->setMinimumWidth(m_earlierChats->sizeHint().width());
        return;
    }
    m_earlierChats = new QPushButton(text, this);
    m_earlierChats->setObjectName(QStringLiteral("EarlierChatsBtn"));
    m_earlierChats->setFlat(true);
    m_earlierChats->setFocusPolicy(Qt::NoFocus);
    m_earlierChats->setToolTip(QStringLiteral("Open them in Past chats (Ctrl+Shift+H)"));
    // The count is what matters: the button keeps its whole text, the
    // typing notice beside it gives way.
    m_earlierChats->setMinimumWidth(m_earlierChats->sizeHint().width());
    m_earlierChats->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    connect(m_earlierChats, &QPushButton::clicked, this, [this] { ShowPastChats(); });
    m_pane->StatusBar->addPermanentWidget(m_earlierChats);
}

void TOneChatWindow::ShowPastChats()
{
    m_host.ShowPastChats(m_chat.Email().trimmed().isEmpty() ? m_chat.Name() : m_chat.Email());
}

QString TOneChatWindow::NameNotice(const std::optional<QString> &name) const
{
    return QStringLiteral("You are now chatting with ") + name.value_or(m_chat.Name()) + QStringLiteral(".");
}

void TOneChatWindow::ShowCaption()
{
    if (!m_endedShown) {
        SetCaption(m_caption);
        return;
    }
    // An ended chat says so where the operator looks first.
    SetCaption(EndedCaption(m_caption));
}

void TOneChatWindow::RemoteEnded()
{
    if (m_closed)
        return;
    if (m_chat.Transferring()) {
        LeftDuringTransfer(QString());
        return;
    }
    EnterEndedState(CallerLabel() + QStringLiteral(" left the chat at ") + TChatPane::NowText());
    AskRemoteTerminatedThenClose();
}

void TOneChatWindow::ClockTicked(quint32 seconds)
{
    m_pane->ShowClock(seconds);
}

void TOneChatWindow::ChatSocketDisconnect()
{
    if (m_closed)
        return;
    if (m_chat.Transferring() && !m_chat.Ended()) {
        LeftDuringTransfer(QStringLiteral(" (the connection closed)"));
        return;
    }
    if (m_chat.Ended() || m_chat.Transferring())
        return;
    // Marked first, so a second report of the same loss asks no second time.
    m_chat.SetEnded(true);
    EnterEndedState(CallerLabel() + QStringLiteral(" left the chat at ") + TChatPane::NowText()
                    + QStringLiteral(" (the connection closed)"));
    AskRemoteTerminatedThenClose();
}

void TOneChatWindow::ChatSocketError(int wsaCode)
{
    if (m_closed)
        return;
    QPointer<TOneChatWindow> self(this);
    ShowBox(ChatSocketErrorText(wsaCode), QStringLiteral("Network error !"), BoxIcon::Error, BoxButtons::Ok, this);
    // The chat may have been taken down (and this window destroyed) meanwhile.
    if (!self)
        return;
    // An error that cost the connection is also the loss of the caller.
    if (!m_closed && m_chat.Socket() && !m_chat.IsConnected())
        ChatSocketDisconnect();
}

// --- window events ------------------------------------------------------------

bool TOneChatWindow::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    return QWidget::event(event);
}

void TOneChatWindow::closeEvent(QCloseEvent *event)
{
    if (m_closed) {
        event->accept();
        return;
    }
    // The close box ends the chat properly, or not at all.
    event->ignore();
    EndChatBtnClick();
}

void TOneChatWindow::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    if (m_extraToolsOpen)
        RecalceExtraDialog();
}

void TOneChatWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The next chat opens at the size the operator chose for this one.
    if (isWindow() && isVisible() && !m_fittingCaption && !isMinimized())
        RememberChatSize(size());
    if (m_pane->Flashing()) {
        m_pane->StopFlashing();
        InputText->setFocus();
    }
    if (m_extraToolsOpen)
        RecalceExtraDialog();
    if (m_extraToolsOpen && m_extraTools && m_extraTools->IsPanel())
        ShowToolsPanel(true);
}

void TOneChatWindow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    if (isMinimized()) {
        if (m_extraToolsOpen)
            ExtraToolsOpenBtnClick();
        return;
    }
    // Restored.
    if (m_pane->Flashing()) {
        m_pane->StopFlashing();
        InputText->setFocus();
    }
    if (m_extraToolsOpen && m_extraTools) {
        RecalceExtraDialog();
        m_extraTools->show();
    }
}

} // namespace velmora
