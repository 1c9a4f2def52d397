#include "chat/OneChatWindow.h"

#include "chat/ChatDialogs.h"
#include "chat/ChatLines.h"
#include "chat/ChatPlacement.h"
#include "chat/ChatPictures.h"
#include "chat/ChatWinExtDlg.h"
#include "chat/TransferText.h"
#include "config/Genfunc.h"
#include "config/Settings.h"
#include "diag/AnsiText.h"
#include "diag/Boxes.h"
#include "diag/Logdata.h"
#include "diag/SafeText.h"
#include "protocol/ChatMessages.h"
#include "protocol/ImageFile.h"
#include "richtext/RtfWriter.h"
#include "session/Exchange.h"
#include "session/WsaErrors.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSoundEffect>
#include <QStatusBar>
#include <QTextCursor>
#include <QTextEdit>
#include <QTime>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace velmora {

namespace {

constexpr int kClientWidth = 403;
constexpr int kClientHeight = 335;
const QColor kWindowBackground{0, 128, 255};
// Lines of the console itself about the chat (its end), apart from both speakers.
const QColor kSystemGrey{96, 96, 96};

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
      m_number(number), m_record(record), m_calls(calls), m_host(host)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    setProperty("helpContext", 40);
    BuildControls();
    FormCreate();
}

TOneChatWindow::~TOneChatWindow()
{
    // Normally the close procedure has let go of the connection already; a
    // window destroyed any other way must not leave it reporting to nobody.
    if (m_socket) {
        m_socket->Detach();
        m_socket->Close();
        delete m_socket.data();
    }
}

void TOneChatWindow::BuildControls()
{
    // The designed size is the smallest; the conversation takes what is added.
    setMinimumSize(kClientWidth, kClientHeight);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kWindowBackground);
    setPalette(pal);

    ChatOutPutText = new QTextEdit(this);
    ChatOutPutText->setObjectName(QStringLiteral("ChatOutPutText"));
    ChatOutPutText->setReadOnly(true);
    ChatOutPutText->setAcceptRichText(false);
    ChatOutPutText->setMinimumHeight(120);
    ChatOutPutText->setContextMenuPolicy(Qt::CustomContextMenu);
    QFont conversationFont(QStringLiteral("MS Sans Serif"));
    conversationFont.setStyleHint(QFont::SansSerif);
    conversationFont.setBold(true);
    ChatOutPutText->document()->setDefaultFont(conversationFont);
    m_baseFormat.setFont(conversationFont);
    ChatOutPutText->installEventFilter(this);

    // Shown over the conversation's lower edge while the operator reads back
    // and lines arrive below; a click (or scrolling down) goes to the newest.
    NewMessagesMarker = new QToolButton(ChatOutPutText);
    NewMessagesMarker->setObjectName(QStringLiteral("NewMessagesMarker"));
    NewMessagesMarker->setText(QStringLiteral("New messages \u2193"));
    NewMessagesMarker->setToolButtonStyle(Qt::ToolButtonTextOnly);
    NewMessagesMarker->setCursor(Qt::PointingHandCursor);
    NewMessagesMarker->setStyleSheet(QStringLiteral(
        "QToolButton { background: #ffd54f; color: black; border: 1px solid #8d6e00; border-radius: 8px;"
        " padding: 2px 8px; font-weight: bold; }"));
    NewMessagesMarker->hide();
    connect(NewMessagesMarker, &QToolButton::clicked, this, [this] { ScrollToNewest(); });
    connect(ChatOutPutText->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (ConversationAtBottom())
            NewMessagesMarker->hide();
    });

    ChatPopUp = new QMenu(this);
    ChatPopUp->addAction(QStringLiteral("Select All"), this, [this] { SelectAll1Click(); });
    ChatPopUp->addAction(QStringLiteral("Copy Selected"), this, [this] { CopySelected1Click(); });
    connect(ChatOutPutText, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { ChatPopUp->popup(ChatOutPutText->viewport()->mapToGlobal(at)); });

    Label1 = new QLabel(this);
    Label1->setTextFormat(Qt::PlainText);
    QFont labelFont(QStringLiteral("Verdana"));
    labelFont.setBold(true);
    labelFont.setPointSize(8);
    Label1->setFont(labelFont);
    QPalette labelPal = Label1->palette();
    labelPal.setColor(QPalette::WindowText, Qt::white);
    Label1->setPalette(labelPal);
    Label1->setWordWrap(true);
    UpdateInputLabel();

    InputText = new QPlainTextEdit(this);
    InputText->setObjectName(QStringLiteral("InputText"));
    InputText->setFixedHeight(84);
    // Tab leaves the box (to " Send"), as in any form; the wire has no use for tabs.
    InputText->setTabChangesFocus(true);
    InputText->installEventFilter(this);
    InputText->viewport()->installEventFilter(this);
    connect(InputText, &QPlainTextEdit::textChanged, this, [this] { InputTextChange(); });

    SendMsgBtn = new QPushButton(QStringLiteral(" Send"), this);
    QFont sendFont(QStringLiteral("Arial"));
    sendFont.setBold(true);
    SendMsgBtn->setFont(sendFont);
    QPalette sendPal = SendMsgBtn->palette();
    sendPal.setColor(QPalette::ButtonText, Qt::red);
    SendMsgBtn->setPalette(sendPal);
    SendMsgBtn->setFixedSize(58, 40);
    SendMsgBtn->setToolTip(QStringLiteral("Click this button after writing a message."));
    connect(SendMsgBtn, &QPushButton::clicked, this, [this] { SendMsgBtnClick(); });

    SoundSpeedButton = new QToolButton(this);
    SoundSpeedButton->setFixedSize(27, 27);
    SoundSpeedButton->setToolTip(QStringLiteral("Control sounds toggle On/Off"));
    connect(SoundSpeedButton, &QToolButton::clicked, this, [this] { SoundSpeedButtonClick(); });

    ExtraToolsOpenBtn = new QToolButton(this);
    ExtraToolsOpenBtn->setFixedSize(27, 27);
    connect(ExtraToolsOpenBtn, &QToolButton::clicked, this, [this] { ExtraToolsOpenBtnClick(); });

    StatusBar = new QStatusBar(this);
    StatusBar->setSizeGripEnabled(true);
    for (int i = 0; i < 3; ++i) {
        m_statusPanels[i] = new QLabel(StatusBar);
        m_statusPanels[i]->setTextFormat(Qt::PlainText);
        StatusBar->addWidget(m_statusPanels[i], i == 1 ? 1 : 0);
    }
    m_statusPanels[0]->setText(QStringLiteral("Status"));
    m_statusPanels[0]->setMinimumWidth(50);
    m_statusPanels[2]->setMinimumWidth(70);

    auto *buttons = new QVBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(4);
    buttons->addWidget(SendMsgBtn);
    buttons->addStretch(1);
    auto *toggles = new QHBoxLayout;
    toggles->setSpacing(4);
    toggles->addWidget(SoundSpeedButton);
    toggles->addWidget(ExtraToolsOpenBtn);
    buttons->addLayout(toggles);
    auto *inputRow = new QHBoxLayout;
    inputRow->setSpacing(5);
    inputRow->addWidget(InputText, 1);
    inputRow->addLayout(buttons);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(5, 5, 5, 0);
    column->setSpacing(3);
    column->addWidget(ChatOutPutText, 1);
    column->addWidget(Label1);
    column->addLayout(inputRow);
    column->addWidget(StatusBar);

    ElapesedTime.setInterval(1000);
    connect(&ElapesedTime, &QTimer::timeout, this, [this] { ElapesedTimeDisp(); });
    FlashTimer.setInterval(600);
    connect(&FlashTimer, &QTimer::timeout, this, [this] { FlashTimerTimer(); });
    ToTimer.setInterval(1000);
    connect(&ToTimer, &QTimer::timeout, this, [this] { ToTimerTimer(); });
}

void TOneChatWindow::FormCreate()
{
    const TSettings &settings = Settings();
    m_kind = m_record ? m_record->Kind : 0;
    m_sessionCount = m_record ? m_record->SessionCount : 0;
    m_callingFrom = m_record ? m_record->WebSite : QString();

    // 1. No extra tools (and so no transfer) in a chat between supporters.
    if (IsSupporterChat())
        ExtraToolsOpenBtn->setEnabled(false);

    // 2. Caption; a call that waited on hold already knows its caller.
    m_caption = CaptionBase(m_number);
    if (m_record && m_record->OnHold) {
        m_name = m_record->Name;
        m_email = m_record->Email;
        m_caption += QStringLiteral(", in chat with ") + m_name;
    }
    SetCaption(m_caption);

    // 3. Take the connection over.
    m_firstActivationPending = true;
    if (m_record) {
        m_socket = m_record->Socket;
        m_worker = std::move(m_record->SendWorker);
    }
    if (m_socket) {
        m_socket->Detach();
        m_socket->SetFrameHandler([this](quint16 code, const QByteArray &body) { ProcessMessage(code, body); });
        connect(m_socket, &TClientSocket::Disconnected, this, [this] { ChatSocketDisconnect(); });
        connect(m_socket, &TClientSocket::Error, this, [this](int code) { ChatSocketError(code); });
    }
    m_transferring = false;

    // 4. Keep-alive first, then the clock (showing 0:00:01 at once).
    SendFrame(chat::BuildChatKeepAlive());
    m_clock = 0;
    ElapesedTimeDisp();
    ElapesedTime.start();

    // 5.
    SendFrame(chat::BuildSupportWelcome(settings.SupportName, settings.SupportWelcomeMsg));
    SendFrame(chat::BuildChatOptions(settings.EmptyLineAdd));

    // 6.
    m_soundOn = true;
    SoundSpeedButton->setIcon(ChatGlyph("SOUND_ON"));
    if (SoundSpeedButton->icon().isNull())
        SoundSpeedButton->setText(QStringLiteral("S"));
    m_extraToolsOpen = false;
    SetExtraToolsButton(false);
    ExtraToolsOpenBtn->setToolTip(QStringLiteral("Open/Close extra  options..."));

    // 7.
    if (m_socket)
        m_calls.SetCallStatus(m_socket, callstatus::InChat);

    // 8.
    m_ended = false;
    m_typingNoticeSent = false;
    m_remoteTyping = false;
    m_statusPanels[1]->clear();
    InputText->setToolTip(QStringLiteral("Write the message that will be send to the remote side."));
    setWindowIcon(ChatStatusIcon(callicon::Normal));

    // 9. Whatever the caller sent while the window was being made.
    if (m_socket)
        m_socket->ReadNow();
    if (m_closed)
        return; // a frame read just now ended the chat

    // 10.
    m_extraTools = new TChatWinExtDlg(*this);
    resize(RememberedChatSize(minimumSize()));
    PlaceCascaded();
    FitCaption();
    show();

    // 11.
    if (m_record && !m_record->TransferData.isEmpty())
        LoadTransferredConversation(std::exchange(m_record->TransferData, QByteArray()));
}

bool TOneChatWindow::IsSupporterChat() const
{
    return m_kind == server::SUPPORT_CHAT_LISTED;
}

QString TOneChatWindow::WarningCaption() const
{
    return QStringLiteral(" Warning for Chat window # ") + QString::number(m_number);
}

QString TOneChatWindow::StatusPanelText(int panel) const
{
    return panel >= 0 && panel < 3 ? m_statusPanels[panel]->text() : QString();
}

void TOneChatWindow::PlaceCascaded()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QList<QRect> chats;
    QRect mainWindow;
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (top == this || !top->isVisible() || top->isMinimized())
            continue;
        if (qobject_cast<TOneChatWindow *>(top))
            chats.append(top->frameGeometry());
        else if (qobject_cast<QMainWindow *>(top))
            mainWindow = top->frameGeometry();
    }
    move(CascadePosition(size(), chats, mainWindow, screen->availableGeometry()));
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
    int wanted = fm.horizontalAdvance(windowTitle()) * 11 / 10 + kTitleBarButtons;
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        wanted = qMin(wanted, screen->availableGeometry().width());
    if (wanted > width()) {
        m_fittingCaption = true;
        resize(wanted, height());
        m_fittingCaption = false;
    }
}

void TOneChatWindow::UpdateInputLabel()
{
    // The designed text, and then what Enter does with the setting as it is now.
    Label1->setText(QStringLiteral("To send a message click send or use Enter, if enabled")
                    + (Settings().UseEnterKeyToSendMessage
                           ? QStringLiteral(" (Enter sends, Shift+Enter: new line)")
                           : QStringLiteral(" (Enter: new line)")));
}

bool TOneChatWindow::ConversationAtBottom() const
{
    const QScrollBar *bar = ChatOutPutText->verticalScrollBar();
    return !bar || bar->value() >= bar->maximum() - 2;
}

void TOneChatWindow::ScrollToNewest()
{
    if (QScrollBar *bar = ChatOutPutText->verticalScrollBar())
        bar->setValue(bar->maximum());
    NewMessagesMarker->hide();
}

bool TOneChatWindow::NewMessagesShown() const
{
    return !NewMessagesMarker->isHidden();
}

void TOneChatWindow::PlaceNewMessagesMarker()
{
    NewMessagesMarker->adjustSize();
    const QRect area = ChatOutPutText->viewport()->geometry();
    NewMessagesMarker->move(area.center().x() - NewMessagesMarker->width() / 2,
                            area.bottom() - NewMessagesMarker->height() - 4);
    NewMessagesMarker->raise();
}

void TOneChatWindow::Log(const QString &line)
{
    if (TLogFile *log = m_host.Log())
        log->AddLine(line);
}

// --- sending ------------------------------------------------------------------

void TOneChatWindow::SendFrame(const QByteArray &frame)
{
    // After the end nothing more goes into the connection; the close
    // procedure's farewell is sent before the chat is marked ended.
    if (m_ended)
        return;
    // Nothing to report when the connection is gone: the chat has ended and the
    // operator has been told so by the end-of-chat dialog.
    if (m_socket && m_worker)
        QueueMessage(*m_socket, *m_worker, frame);
}

bool TOneChatWindow::SendOnCallConnection(const QByteArray &frame)
{
    return m_socket && m_worker && QueueMessage(*m_socket, *m_worker, frame);
}

void TOneChatWindow::TransferDataArrived(const QByteArray &conversation)
{
    if (!m_closed)
        LoadTransferredConversation(conversation);
}

void TOneChatWindow::SendFrame(const std::optional<QByteArray> &frame)
{
    if (frame)
        SendFrame(*frame);
}

void TOneChatWindow::SendMsgBtnClick()
{
    // An ended chat has nobody to send to (its input is disabled too), and
    // nothing goes out after the farewell that the close procedure sends.
    if (m_ended || m_closing || m_closed)
        return;
    const QString text = InputText->toPlainText();
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
        if (!self || m_closed || answer != BoxAnswer::Ok || InputText->toPlainText() != text)
            return;
    }
    const QByteArray wire = ToWire(MessageForWire(text));
    SendFrame(chat::BuildChatText(wire));
    const TSettings &settings = Settings();
    // Shown as it went out, so the conversation never shows what the visitor did not get.
    const QString line = settings.SupportName + QStringLiteral(": ") + FromAnsi(wire);
    m_followNextLine = true; // the operator's own line always comes into view
    AddLine(line, ColorFromSetting(settings.SupportNameColor), int(settings.SupportName.size()) + 1,
            ColorFromSetting(settings.SupportTextColor));
    InputText->clear(); // sends TYPING_STOP through InputTextChange
    InputText->setFocus();
    m_typingNoticeSent = false;
}

bool TOneChatWindow::InputTextKeyPress(int key, Qt::KeyboardModifiers modifiers)
{
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return false;
    if (!Settings().UseEnterKeyToSendMessage)
        return false;
    if (modifiers & Qt::ShiftModifier) {
        // A line break inside the message, whatever the setting.
        InputText->insertPlainText(QStringLiteral("\n"));
        return true;
    }
    SendMsgBtnClick();
    return true;
}

void TOneChatWindow::InputTextChange()
{
    if (m_trimmingInput || m_closing || m_closed)
        return;
    QString text = InputText->toPlainText();
    if (text.size() > kMaxInputChars) {
        // Drop what did not fit from the text just inserted (before the caret).
        QTextCursor cursor = InputText->textCursor();
        const int excess = int(text.size()) - kMaxInputChars;
        m_trimmingInput = true;
        cursor.setPosition(qMax(0, cursor.position() - excess));
        cursor.setPosition(cursor.position() + excess, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        if (InputText->document()->characterCount() - 1 > kMaxInputChars) {
            cursor.movePosition(QTextCursor::End);
            cursor.setPosition(kMaxInputChars, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
        m_trimmingInput = false;
        text = InputText->toPlainText();
    }
    MarkUncarried(text);
    if (!m_typingNoticeSent && !text.isEmpty()) {
        m_typingNoticeSent = true;
        SendFrame(chat::BuildTypingStart());
    } else if (text.isEmpty()) {
        m_typingNoticeSent = false;
        SendFrame(chat::BuildTypingStop());
    }
}

void TOneChatWindow::MarkUncarried(const QString &text)
{
    QList<QTextEdit::ExtraSelection> marks;
    const QList<qsizetype> positions = UncarriedPositions(text);
    for (const qsizetype at : positions) {
        QTextEdit::ExtraSelection mark;
        mark.cursor = QTextCursor(InputText->document());
        const int length = text.at(at).isHighSurrogate() && at + 1 < text.size() ? 2 : 1;
        mark.cursor.setPosition(int(at));
        mark.cursor.setPosition(int(at) + length, QTextCursor::KeepAnchor);
        mark.format.setBackground(QColor(255, 210, 210));
        mark.format.setUnderlineStyle(QTextCharFormat::WaveUnderline);
        mark.format.setUnderlineColor(Qt::red);
        mark.format.setToolTip(QStringLiteral("This character cannot be sent; it would arrive as \"?\"."));
        marks.append(mark);
    }
    InputText->setExtraSelections(marks);
    m_uncarriedInInput = int(positions.size());
    InputText->setToolTip(positions.isEmpty()
                              ? QStringLiteral("Write the message that will be send to the remote side.")
                              : QStringLiteral("Marked characters cannot be sent; they would arrive as \"?\": ")
                                    + UncarriedCharacters(text));
}

QString TOneChatWindow::CallerLabel() const
{
    return m_name.isEmpty() ? QStringLiteral("The visitor") : m_name;
}

QString TOneChatWindow::NowText()
{
    return QLocale::system().toString(QTime::currentTime(), QLocale::LongFormat);
}

void TOneChatWindow::EnterEndedState(const QString &systemLine)
{
    // The window stays to be read and copied, and says plainly that the chat is over.
    ElapesedTime.stop();
    m_statusPanels[1]->clear();
    if (m_extraToolsOpen)
        ExtraToolsOpenBtnClick();
    InputText->setEnabled(false);
    SendMsgBtn->setEnabled(false);
    ExtraToolsOpenBtn->setEnabled(false);
    m_followNextLine = true;
    AddLine(systemLine, kSystemGrey, 0, kSystemGrey);
}

void TOneChatWindow::InputTextClick()
{
    setWindowIcon(ChatStatusIcon(callicon::Normal));
    StopFlashing();
}

// --- the conversation ---------------------------------------------------------

void TOneChatWindow::AddLine(const QString &text, const QColor &nameColor, int nameLength, const QColor &textColor)
{
    // Follow the conversation only when the operator is at its end; someone
    // reading back keeps the place and gets the marker instead.
    const bool follow = m_followNextLine || ConversationAtBottom();
    m_followNextLine = false;
    AppendChatLine(*ChatOutPutText->document(), text, nameColor, nameLength, textColor, m_baseFormat,
                   Settings().EmptyLineAdd);
    if (follow) {
        ScrollToNewest();
    } else {
        PlaceNewMessagesMarker();
        NewMessagesMarker->show();
    }
    if (isActiveWindow())
        InputText->setFocus();
}

void TOneChatWindow::FormActivate()
{
    if (!m_firstActivationPending)
        return;
    m_firstActivationPending = false;
    const QString notice = QStringLiteral("You are now chatting with ") + m_name + QStringLiteral(".");
    AddLine(notice, kNoticeGreen, 0, kNoticeGreen);
    if (!IsSupporterChat()) {
        AddLine(QStringLiteral("Calling from : ") + m_callingFrom + QStringLiteral("."), kNoticeGreen, 0,
                kNoticeGreen);
        AddLine(QString(), kNoticeGreen, 0, kNoticeGreen);
    }
    PlayChatSound();
}

void TOneChatWindow::SelectAll1Click()
{
    ChatOutPutText->selectAll();
}

void TOneChatWindow::CopySelected1Click()
{
    ChatOutPutText->copy();
}

// --- received messages --------------------------------------------------------

void TOneChatWindow::ProcessMessage(quint16 code, const QByteArray &body)
{
    if (m_closed)
        return;
    switch (code) {
    case chat::CHAT_TEXT:
        HandleChatText(body);
        break;
    case chat::TYPING_START:
        m_statusPanels[1]->setText(QStringLiteral(" ") + m_name + QStringLiteral(" typing..."));
        m_remoteTyping = true;
        break;
    case chat::TYPING_STOP:
        m_statusPanels[1]->clear();
        m_remoteTyping = false;
        break;
    case chat::USER_DETAILS:
        HandleUserDetails(body);
        break;
    case chat::END_SESSION:
        m_ended = true;
        m_remoteTyping = false;
        if (m_transferring)
            break; // the visitor moves to the other supporter
        EnterEndedState(CallerLabel() + QStringLiteral(" left the chat at ") + NowText());
        AskRemoteTerminatedThenClose();
        break;
    default:
        break; // not ours on this connection (keep-alives among them)
    }
}

void TOneChatWindow::HandleChatText(const QByteArray &body)
{
    const std::optional<QByteArray> text = chat::DecodeChatText(body);
    if (!text)
        return;
    if (!isActiveWindow())
        FlashTimer.start();
    setWindowIcon(ChatStatusIcon(callicon::Waiting));
    const TSettings &settings = Settings();
    AddLine(m_name + QStringLiteral(": ") + FromWire(*text), ColorFromSetting(settings.UserNameColor),
            int(m_name.size()) + 1, ColorFromSetting(settings.UserTextColor));
    PlayChatSound();
    m_statusPanels[1]->clear();
    m_remoteTyping = false;
}

void TOneChatWindow::HandleUserDetails(const QByteArray &body)
{
    const std::optional<chat::UserDetails> details = chat::DecodeUserDetails(body);
    if (!details)
        return;
    m_name = details->Name();
    m_email = details->Email();
    m_phone = details->Phone();
    if (m_socket) {
        m_calls.SetCallName(m_socket, m_name);
        m_calls.SetCallEmail(m_socket, m_email);
        m_calls.SetCallPhone(m_socket, m_phone);
    }
    Log(QStringLiteral("User details for SessionCount = ") + QString::number(m_sessionCount)
        + QStringLiteral(",  Name = ") + OneLine(m_name) + QStringLiteral(",  e-mail = ") + OneLine(m_email));
    m_caption += QStringLiteral(", in chat with ") + m_name;
    SetCaption(m_caption);
}

void TOneChatWindow::AskRemoteTerminatedThenClose()
{
    // Nothing waits for the answer: other chats, calls and this window's own
    // text go on while the dialog is up.
    QPointer<TOneChatWindow> self(this);
    ChatDialogs().RemoteTerminatedThen(*this, [self](bool close) {
        if (self && !self->m_closed && close)
            self->FormClose();
    });
}

void TOneChatWindow::ChatSocketDisconnect()
{
    if (m_ended || m_transferring || m_closed)
        return;
    // Marked first, so a second report of the same loss asks no second time.
    m_ended = true;
    m_remoteTyping = false;
    EnterEndedState(CallerLabel() + QStringLiteral(" left the chat at ") + NowText()
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
    if (!m_closed && m_socket && !m_socket->IsConnected())
        ChatSocketDisconnect();
}

// --- clock and attention ------------------------------------------------------

void TOneChatWindow::ElapesedTimeDisp()
{
    ++m_clock;
    m_statusPanels[2]->setText(ClockText(m_clock));
    if (m_clock % kKeepAliveSeconds == 0)
        SendFrame(chat::BuildChatKeepAlive());
}

void TOneChatWindow::FlashTimerTimer()
{
    ++m_flashTicks;
    if (m_flashTicks % 2 == 0)
        QApplication::alert(this, 500);
}

void TOneChatWindow::StopFlashing()
{
    FlashTimer.stop();
    m_flashTicks = 0;
}

void TOneChatWindow::SoundSpeedButtonClick()
{
    m_soundOn = !m_soundOn;
    SoundSpeedButton->setIcon(ChatGlyph(m_soundOn ? "SOUND_ON" : "SOUND_OFF"));
    if (SoundSpeedButton->icon().isNull())
        SoundSpeedButton->setText(m_soundOn ? QStringLiteral("S") : QStringLiteral("-"));
}

void TOneChatWindow::PlayChatSound()
{
    if (!m_soundOn)
        return;
    const QString file = Settings().ChatSoundFile;
    if (file.isEmpty())
        return;
    if (!PlayWavInChat) {
        PlayWavInChat = new QSoundEffect(this);
        PlayWavInChat->setSource(QUrl::fromLocalFile(StartPath(file)));
    }
    // Without an audio device the effect stays silent; nothing waits on it.
    PlayWavInChat->play();
}

// --- extra tools --------------------------------------------------------------

void TOneChatWindow::SetExtraToolsButton(bool open)
{
    ExtraToolsOpenBtn->setIcon(ChatGlyph(open ? "ARROW_L" : "ARROW_R"));
    if (ExtraToolsOpenBtn->icon().isNull())
        ExtraToolsOpenBtn->setText(open ? QStringLiteral("<") : QStringLiteral(">"));
}

void TOneChatWindow::ExtraToolsOpenBtnClick()
{
    if (!m_extraTools)
        return;
    if (m_extraToolsOpen) {
        ExtraToolsOpenBtn->setToolTip(QStringLiteral("Open extra options..."));
        m_extraToolsOpen = false;
        SetExtraToolsButton(false);
        m_extraTools->hide();
    } else {
        ExtraToolsOpenBtn->setToolTip(QStringLiteral("Close extra options..."));
        m_extraToolsOpen = true;
        SetExtraToolsButton(true);
        RecalceExtraDialog();
        m_extraTools->show();
    }
}

void TOneChatWindow::RecalceExtraDialog()
{
    if (!m_extraTools)
        return;
    const QRect frame = frameGeometry();
    m_extraTools->PlaceAt(QPoint(frame.left() + frame.width(), frame.top() + 200));
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
    if (!self || m_closed || m_ended)
        return;
    // An empty push would open a blank window in the visitor's browser.
    if (url.isEmpty())
        return;
    // Checked again where it is sent, whatever chose it.
    if (!HasUrlPrefix(url)) {
        ShowBox(QString::fromLatin1(kMissingUrlPrefixText), QStringLiteral("Warning"), BoxIcon::None, BoxButtons::Ok, this);
        return;
    }
    SendFrame(chat::BuildPushUrl(url));
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
    if (!self || m_closed || m_ended)
        return;
    // Nothing chosen: what the operator had typed stays.
    if (text.isEmpty())
        return;
    QString plain = text;
    plain.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    InputText->setPlainText(plain);
    InputText->moveCursor(QTextCursor::End);
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
    SendFrame(chat::BuildImageData(image.bytes));
    return true;
}

void TOneChatWindow::TransferBtnClick()
{
    if (m_closed || m_closing || m_transferring)
        return;
    const TSettings &settings = Settings();
    QTextDocument &document = *ChatOutPutText->document();
    m_transferHeaderChars = 0;
    m_transferEndStart = -1;
    m_transferEndChars = 0;
    // 1. An empty conversation travels as it is, without a header.
    if (!document.isEmpty()) {
        if (m_socket)
            m_calls.UpdateDisconnectTime(m_socket);
        const QStringList header =
            TransferHeaderLines(m_socket ? m_calls.CallTimeText(m_socket, false) : QString(),
                                m_socket ? m_calls.CallTimeText(m_socket, true) : QString(), settings.SupportName);
        const int before = document.characterCount();
        InsertTransferHeader(document, header, m_baseFormat);
        m_transferHeaderChars = document.characterCount() - before;
        m_transferEndStart = document.characterCount() - 1;
        AppendTransferEnd(document, m_baseFormat, settings.EmptyLineAdd);
        m_transferEndChars = document.characterCount() - 1 - m_transferEndStart;
        ChatOutPutText->moveCursor(QTextCursor::End);
        InputText->setEnabled(false);
    }
    // 2., 3.
    TTransferSource source;
    source.SessionCount = m_sessionCount;
    source.Name = m_name;
    source.Email = m_email;
    source.Conversation = DocumentToRtf(document);
    m_transferring = true;
    // 4.
    QPointer<TOneChatWindow> self(this);
    const bool accepted = m_host.BeginTransfer(source);
    if (self && !accepted && !m_closed)
        RestoreAfterTransfer();
}

void TOneChatWindow::RestoreAfterTransfer()
{
    QTextDocument &document = *ChatOutPutText->document();
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    // The end lines first: taking out the header moves everything after it.
    if (m_transferEndStart >= 0 && m_transferEndStart + m_transferEndChars < document.characterCount()) {
        cursor.setPosition(m_transferEndStart);
        cursor.setPosition(m_transferEndStart + m_transferEndChars, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    if (m_transferHeaderChars > 0 && m_transferHeaderChars < document.characterCount()) {
        cursor.setPosition(0);
        cursor.setPosition(m_transferHeaderChars, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    cursor.endEditBlock();
    m_transferHeaderChars = 0;
    m_transferEndStart = -1;
    m_transferEndChars = 0;
    m_savedConversation.clear();
    m_transferring = false;
    if (!m_closed)
        InputText->setEnabled(true);
}

void TOneChatWindow::LoadTransferredConversation(const QByteArray &richText)
{
    // Above whatever the window has written already, so the earlier
    // conversation comes before every new line. Another console's bytes:
    // what cannot be read is left out, never a reason to fail.
    m_receivedConversation = richText;
    InsertReceivedConversation(*ChatOutPutText->document(), richText, m_baseFormat);
    if (QScrollBar *bar = ChatOutPutText->verticalScrollBar())
        bar->setValue(bar->maximum());
}

// --- window events ------------------------------------------------------------

bool TOneChatWindow::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    return QWidget::event(event);
}

bool TOneChatWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ChatOutPutText) {
        if (event->type() == QEvent::Resize)
            PlaceNewMessagesMarker();
    } else if (InputText && watched == InputText && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (InputTextKeyPress(key->key(), key->modifiers()))
            return true;
    } else if (InputText && watched == InputText->viewport() && event->type() == QEvent::MouseButtonPress) {
        InputTextClick();
    }
    return QWidget::eventFilter(watched, event);
}

void TOneChatWindow::closeEvent(QCloseEvent *event)
{
    if (m_closed) {
        event->accept();
        return;
    }
    // The close box ends the chat properly, or not at all.
    event->ignore();
    FormClose();
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
    if (isVisible() && !m_fittingCaption && !isMinimized())
        RememberChatSize(size());
    if (FlashTimer.isActive()) {
        StopFlashing();
        InputText->setFocus();
    }
    if (m_extraToolsOpen)
        RecalceExtraDialog();
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
    if (FlashTimer.isActive()) {
        StopFlashing();
        InputText->setFocus();
    }
    if (m_extraToolsOpen && m_extraTools) {
        RecalceExtraDialog();
        m_extraTools->show();
    }
}

// --- the end ------------------------------------------------------------------

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
    if (m_remoteTyping) {
        const BoxAnswer answer =
            ShowBox(QStringLiteral("Remote user still typing do you want to terminate anyway ? "),
                    QStringLiteral("Warning"), BoxIcon::Warning, BoxButtons::OkCancel, this);
        if (!self)
            return;
        if (answer == BoxAnswer::Cancel || m_closed) {
            m_closing = false;
            return;
        }
    }

    // 2.
    ElapesedTime.stop();
    StopFlashing();
    if (m_extraTools && m_extraTools->isVisible())
        m_extraTools->hide();
    m_extraToolsOpen = false;

    // 3.
    if (m_socket)
        m_calls.UpdateDisconnectTime(m_socket);

    // The rest is an exchange on the call's connection: its pauses keep the
    // window responsive, and it ends with the window if that goes first.
    auto *exchange = new TExchange(this, {m_socket.data()});

    // 4.
    if (!m_host.TranscriptsOff()) {
        if (const std::optional<TTranscriptSource> source = TranscriptSource())
            m_host.ComposeTranscript(*source);
        if (!self)
            return; // destroyed while the composer asked something: the exchange went with it
        if (m_closed) {
            delete exchange; // taken down while the composer asked something
            return;
        }
        exchange->Pause(300);
    }

    // 5.
    exchange->Then([this] {
        if (m_closed)
            return false; // taken down meanwhile: that finished the close
        m_closeWaitsForQueue = m_calls.StatusOfCall(m_sessionCount) != QLatin1String(callstatus::EndChatText);
        if (!m_closeWaitsForQueue)
            return true;
        if (!m_ended && !m_transferring) {
            SendFrame(chat::BuildEndSession());
            m_ended = true;
        }
        if (m_socket)
            m_calls.SetCallStatus(m_socket, m_transferring ? callstatus::Transfered : callstatus::EndChat);
        return true;
    });
    // The window finishes closing once the queue is empty, or after about 3.2 s.
    exchange->WaitUntilSent([this] { return m_closeWaitsForQueue ? m_worker.get() : nullptr; },
                            [this] {
                                ShowBox(QStringLiteral("From inside TOneChatWindow::FormClose, Could not send "
                                                       "waiting messages !!"),
                                        QStringLiteral("Error"), BoxIcon::Error, BoxButtons::Ok, this);
                            });
    exchange->Then([this] {
        // Taken down by the main window while a box was up: that finished the close.
        if (!m_closed)
            FinishClose();
    });
    exchange->Start();
}

void TOneChatWindow::FinishClose()
{
    // 6.
    m_closed = true;
    if (m_extraTools) {
        m_extraTools->deleteLater();
        m_extraTools = nullptr;
    }
    if (IsSupporterChat())
        m_host.SetChatWithOtherSupportEnabled(true);

    // 7.
    ReleaseConnection();
    m_calls.ChatWindowGone(this);
    hide();
    deleteLater();
}

std::optional<TTranscriptSource> TOneChatWindow::TranscriptSource()
{
    // The call's row gives the header block; without a row there is no mail.
    // A window left open after a server-connection loss kept the row's data.
    const std::optional<TTranscriptHeader> row =
        m_socket ? m_calls.TranscriptRow(m_socket) : m_detached ? m_detachedRow : std::nullopt;
    if (!row)
        return std::nullopt;
    hide();
    TTranscriptHeader header = *row;
    header.SupportName = Settings().SupportName;
    InsertTranscriptHeader(*ChatOutPutText->document(), header);
    TTranscriptSource source;
    source.SessionCount = m_sessionCount;
    source.Name = m_name;
    source.Email = m_email;
    source.HandedOver = m_transferring;
    source.WarningCaption = WarningCaption();
    source.Conversation = DocumentToRtf(*ChatOutPutText->document());
    return source;
}

void TOneChatWindow::TakeDownOnNetError()
{
    if (m_closed || m_detached)
        return;
    if (m_closing) {
        // Already on its way out: finish at once, as the main window asks.
        m_closed = true;
        ElapesedTime.stop();
        StopFlashing();
        if (m_extraTools) {
            m_extraTools->hide();
            m_extraTools->deleteLater();
            m_extraTools = nullptr;
        }
        if (m_socket) {
            m_calls.UpdateDisconnectTime(m_socket);
            m_calls.SetCallStatus(m_socket, callstatus::NetError);
        }
        ReleaseConnection();
        m_calls.ChatWindowGone(this);
        hide();
        deleteLater();
        return;
    }
    // The call is over for the console: its row says "Net Error !", and the
    // window leaves the list of chat windows. The window itself stays, read
    // only, so the conversation does not vanish; closing it ends it.
    m_remoteTyping = false;
    StopFlashing();
    if (m_socket) {
        m_calls.UpdateDisconnectTime(m_socket);
        m_calls.SetCallStatus(m_socket, callstatus::NetError);
    }
    m_ended = true;
    // The transcript, composed when the operator closes the window, needs the row's data.
    if (m_socket)
        m_detachedRow = m_calls.TranscriptRow(m_socket);
    ReleaseConnection();
    m_detached = true;
    m_calls.ChatWindowGone(this);
    EnterEndedState(QStringLiteral("The connection to the server was lost at ") + NowText()
                    + QStringLiteral("; this chat has ended."));
}

void TOneChatWindow::CloseDetached()
{
    // What is left of a chat the server connection took down: its transcript,
    // then the window.
    QPointer<TOneChatWindow> self(this);
    m_closing = true;
    if (!m_host.TranscriptsOff()) {
        if (const std::optional<TTranscriptSource> source = TranscriptSource())
            m_host.ComposeTranscript(*source);
        if (!self)
            return;
    }
    m_closed = true;
    if (m_extraTools) {
        m_extraTools->hide();
        m_extraTools->deleteLater();
        m_extraTools = nullptr;
    }
    // The supporter-chat button is the server session's business again since the loss.
    hide();
    deleteLater();
}

void TOneChatWindow::ReleaseConnection()
{
    TClientSocket *socket = m_socket;
    if (socket) {
        socket->Detach();
        socket->Close();
        m_calls.NullListViewItemData(socket);
        // Later: this may run inside the socket's own frame dispatch.
        socket->deleteLater();
    }
    m_socket = nullptr;
    // The record belongs to the call list from here on.
    m_record = nullptr;
}

} // namespace velmora
