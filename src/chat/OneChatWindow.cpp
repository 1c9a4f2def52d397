#include "chat/OneChatWindow.h"

#include "chat/ChatDialogs.h"
#include "chat/ChatLines.h"
#include "chat/ChatPictures.h"
#include "chat/ChatWinExtDlg.h"
#include "chat/TransferText.h"
#include "config/Genfunc.h"
#include "config/Settings.h"
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
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSoundEffect>
#include <QStatusBar>
#include <QTextCursor>
#include <QTextEdit>
#include <QToolButton>
#include <QUrl>

namespace velmora {

namespace {

constexpr int kClientWidth = 403;
constexpr int kClientHeight = 335;
const QColor kWindowBackground{0, 128, 255};

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
    setFixedSize(kClientWidth, kClientHeight);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kWindowBackground);
    setPalette(pal);

    ChatOutPutText = new QTextEdit(this);
    ChatOutPutText->setObjectName(QStringLiteral("ChatOutPutText"));
    ChatOutPutText->setReadOnly(true);
    ChatOutPutText->setAcceptRichText(false);
    ChatOutPutText->setGeometry(5, 5, 393, 196);
    ChatOutPutText->setContextMenuPolicy(Qt::CustomContextMenu);
    QFont conversationFont(QStringLiteral("MS Sans Serif"));
    conversationFont.setStyleHint(QFont::SansSerif);
    conversationFont.setBold(true);
    ChatOutPutText->document()->setDefaultFont(conversationFont);
    m_baseFormat.setFont(conversationFont);

    ChatPopUp = new QMenu(this);
    ChatPopUp->addAction(QStringLiteral("Select All"), this, [this] { SelectAll1Click(); });
    ChatPopUp->addAction(QStringLiteral("Copy Selected"), this, [this] { CopySelected1Click(); });
    connect(ChatOutPutText, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { ChatPopUp->popup(ChatOutPutText->viewport()->mapToGlobal(at)); });

    Label1 = new QLabel(QStringLiteral("To send a message click send or use Enter, if enabled"), this);
    Label1->setTextFormat(Qt::PlainText);
    QFont labelFont(QStringLiteral("Verdana"));
    labelFont.setBold(true);
    labelFont.setPointSize(8);
    Label1->setFont(labelFont);
    QPalette labelPal = Label1->palette();
    labelPal.setColor(QPalette::WindowText, Qt::white);
    Label1->setPalette(labelPal);
    Label1->setGeometry(5, 204, 393, 18);

    InputText = new QPlainTextEdit(this);
    InputText->setObjectName(QStringLiteral("InputText"));
    InputText->setGeometry(5, 224, 330, 84);
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
    SendMsgBtn->setGeometry(340, 224, 58, 40);
    SendMsgBtn->setToolTip(QStringLiteral("Click this button after writing a message."));
    connect(SendMsgBtn, &QPushButton::clicked, this, [this] { SendMsgBtnClick(); });

    SoundSpeedButton = new QToolButton(this);
    SoundSpeedButton->setGeometry(340, 276, 27, 27);
    SoundSpeedButton->setToolTip(QStringLiteral("Control sounds toggle On/Off"));
    connect(SoundSpeedButton, &QToolButton::clicked, this, [this] { SoundSpeedButtonClick(); });

    ExtraToolsOpenBtn = new QToolButton(this);
    ExtraToolsOpenBtn->setGeometry(371, 276, 27, 27);
    connect(ExtraToolsOpenBtn, &QToolButton::clicked, this, [this] { ExtraToolsOpenBtnClick(); });

    StatusBar = new QStatusBar(this);
    StatusBar->setSizeGripEnabled(false);
    StatusBar->setGeometry(0, kClientHeight - 22, kClientWidth, 22);
    for (int i = 0; i < 3; ++i) {
        m_statusPanels[i] = new QLabel(StatusBar);
        m_statusPanels[i]->setTextFormat(Qt::PlainText);
        StatusBar->addWidget(m_statusPanels[i], i == 1 ? 1 : 0);
    }
    m_statusPanels[0]->setText(QStringLiteral("Status"));
    m_statusPanels[0]->setMinimumWidth(50);
    m_statusPanels[2]->setMinimumWidth(70);

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
    setWindowTitle(m_caption);

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
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
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

void TOneChatWindow::Log(const QString &line)
{
    if (TLogFile *log = m_host.Log())
        log->AddLine(line);
}

// --- sending ------------------------------------------------------------------

void TOneChatWindow::SendFrame(const QByteArray &frame)
{
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
    // Nothing goes out after the farewell that the close procedure sends.
    if (m_closing || m_closed)
        return;
    const QString text = InputText->toPlainText();
    if (text.isEmpty())
        return;
    const QByteArray wire = ToWire(MessageForWire(text));
    SendFrame(chat::BuildChatText(wire));
    const TSettings &settings = Settings();
    const QString line = settings.SupportName + QStringLiteral(": ") + FromWire(wire);
    AddLine(line, ColorFromSetting(settings.SupportNameColor), int(settings.SupportName.size()) + 1,
            ColorFromSetting(settings.SupportTextColor));
    InputText->clear(); // sends TYPING_STOP through InputTextChange
    InputText->setFocus();
    m_typingNoticeSent = false;
}

bool TOneChatWindow::InputTextKeyPress(int key)
{
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return false;
    if (!Settings().UseEnterKeyToSendMessage)
        return false;
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
    if (!m_typingNoticeSent && !text.isEmpty()) {
        m_typingNoticeSent = true;
        SendFrame(chat::BuildTypingStart());
    } else if (text.isEmpty()) {
        m_typingNoticeSent = false;
        SendFrame(chat::BuildTypingStop());
    }
}

void TOneChatWindow::InputTextClick()
{
    setWindowIcon(ChatStatusIcon(callicon::Normal));
    StopFlashing();
}

// --- the conversation ---------------------------------------------------------

void TOneChatWindow::AddLine(const QString &text, const QColor &nameColor, int nameLength, const QColor &textColor)
{
    AppendChatLine(*ChatOutPutText->document(), text, nameColor, nameLength, textColor, m_baseFormat,
                   Settings().EmptyLineAdd);
    ChatOutPutText->moveCursor(QTextCursor::End);
    if (QScrollBar *bar = ChatOutPutText->verticalScrollBar())
        bar->setValue(bar->maximum());
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
        if (!m_transferring && AskRemoteTerminated())
            FormClose();
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
    setWindowTitle(m_caption);
}

bool TOneChatWindow::AskRemoteTerminated()
{
    // The window may be closed by someone else while the dialog runs its own
    // event loop; it is deleted only once control is back in the outer loop.
    QPointer<TOneChatWindow> self(this);
    const bool close = ChatDialogs().RemoteTerminated(*this);
    return self && !m_closed && close;
}

void TOneChatWindow::ChatSocketDisconnect()
{
    if (m_ended || m_transferring || m_closed)
        return;
    // Marked first, so a second report of the same loss asks no second time.
    m_ended = true;
    m_remoteTyping = false;
    if (AskRemoteTerminated())
        FormClose();
}

void TOneChatWindow::ChatSocketError(int wsaCode)
{
    if (m_closed)
        return;
    QPointer<TOneChatWindow> self(this);
    ShowBox(ChatSocketErrorText(wsaCode), QStringLiteral("Network error !"), BoxIcon::Error);
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
    if (!self || m_closed)
        return;
    // An empty push would open a blank window in the visitor's browser.
    if (url.isEmpty())
        return;
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
    if (!self || m_closed)
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
            ShowBox(text, QStringLiteral("Warrning !"), BoxIcon::Warning);
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
    if (watched == InputText && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (InputTextKeyPress(key->key()))
            return true;
    } else if (watched == InputText->viewport() && event->type() == QEvent::MouseButtonPress) {
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
    m_closing = true;
    QPointer<TOneChatWindow> self(this);

    // 1.
    if (m_remoteTyping) {
        const BoxAnswer answer =
            ShowBox(QStringLiteral("Remote user still typing do you want to terminate anyway ? "),
                    QStringLiteral("Warning"), BoxIcon::Warning, BoxButtons::OkCancel);
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
                                        QStringLiteral("Error"), BoxIcon::Error);
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
    const std::optional<TTranscriptHeader> row = m_socket ? m_calls.TranscriptRow(m_socket) : std::nullopt;
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
    if (m_closed)
        return;
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
