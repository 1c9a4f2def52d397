#include "chat/ChatPane.h"

#include "chat/ChatLines.h"
#include "chat/ChatPictures.h"
#include "config/Genfunc.h"
#include "config/Settings.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSoundEffect>
#include <QStatusBar>
#include <QTextCursor>
#include <QTextEdit>
#include <QToolButton>
#include <QUrl>

namespace velmora {

namespace {
const QColor kWindowBackground{0, 128, 255};
}

TChatPane::TChatPane(QWidget *parent) : QWidget(parent)
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
    InputText->setToolTip(QStringLiteral("Write the message that will be send to the remote side."));
    InputText->installEventFilter(this);
    InputText->viewport()->installEventFilter(this);
    connect(InputText, &QPlainTextEdit::textChanged, this, [this] { OnInputTextChanged(); });

    SendMsgBtn = new QPushButton(QStringLiteral(" Send"), this);
    QFont sendFont(QStringLiteral("Arial"));
    sendFont.setBold(true);
    SendMsgBtn->setFont(sendFont);
    QPalette sendPal = SendMsgBtn->palette();
    sendPal.setColor(QPalette::ButtonText, Qt::red);
    SendMsgBtn->setPalette(sendPal);
    SendMsgBtn->setGeometry(340, 224, 58, 40);
    SendMsgBtn->setToolTip(QStringLiteral("Click this button after writing a message."));
    connect(SendMsgBtn, &QPushButton::clicked, this, [this] { emit SendRequested(); });

    SoundSpeedButton = new QToolButton(this);
    SoundSpeedButton->setGeometry(340, 276, 27, 27);
    SoundSpeedButton->setToolTip(QStringLiteral("Control sounds toggle On/Off"));
    SoundSpeedButton->setIcon(ChatGlyph("SOUND_ON"));
    if (SoundSpeedButton->icon().isNull())
        SoundSpeedButton->setText(QStringLiteral("S"));
    connect(SoundSpeedButton, &QToolButton::clicked, this, [this] { SoundSpeedButtonClick(); });

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

    FlashTimer.setInterval(600);
    connect(&FlashTimer, &QTimer::timeout, this, [this] { FlashTimerTimer(); });
}

void TChatPane::AddLine(const QString &text, const QColor &nameColor, int nameLength, const QColor &textColor)
{
    AppendChatLine(*ChatOutPutText->document(), text, nameColor, nameLength, textColor, m_baseFormat,
                   Settings().EmptyLineAdd);
    ChatOutPutText->moveCursor(QTextCursor::End);
    if (QScrollBar *bar = ChatOutPutText->verticalScrollBar())
        bar->setValue(bar->maximum());
    // The focus goes back to the input only in the window the operator is in,
    // and only while it can take text.
    if (window()->isActiveWindow() && InputText->isEnabled())
        InputText->setFocus();
}

void TChatPane::AddNotice(const QString &text)
{
    AddLine(text, kNoticeGreen, 0, kNoticeGreen);
}

QString TChatPane::InputPlainText() const
{
    return InputText->toPlainText();
}

void TChatPane::ClearInput()
{
    InputText->clear();
}

bool TChatPane::InputTextKeyPress(int key)
{
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return false;
    if (!Settings().UseEnterKeyToSendMessage)
        return false;
    emit SendRequested();
    return true;
}

void TChatPane::OnInputTextChanged()
{
    if (m_trimmingInput)
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
    emit InputChanged(text.isEmpty());
}

void TChatPane::SetStatusPanel(int panel, const QString &text)
{
    if (panel >= 0 && panel < 3)
        m_statusPanels[panel]->setText(text);
}

QString TChatPane::StatusPanelText(int panel) const
{
    return panel >= 0 && panel < 3 ? m_statusPanels[panel]->text() : QString();
}

void TChatPane::ShowClock(quint32 seconds)
{
    m_statusPanels[2]->setText(ClockText(seconds));
}

void TChatPane::StartFlashing()
{
    if (!FlashTimer.isActive())
        FlashTimer.start();
}

void TChatPane::StopFlashing()
{
    FlashTimer.stop();
    m_flashTicks = 0;
}

void TChatPane::FlashTimerTimer()
{
    ++m_flashTicks;
    if (m_flashTicks % 2 == 0)
        QApplication::alert(window(), 500);
}

void TChatPane::SoundSpeedButtonClick()
{
    m_soundOn = !m_soundOn;
    SoundSpeedButton->setIcon(ChatGlyph(m_soundOn ? "SOUND_ON" : "SOUND_OFF"));
    if (SoundSpeedButton->icon().isNull())
        SoundSpeedButton->setText(m_soundOn ? QStringLiteral("S") : QStringLiteral("-"));
}

void TChatPane::PlayChatSound()
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

void TChatPane::SelectAll1Click()
{
    ChatOutPutText->selectAll();
}

void TChatPane::CopySelected1Click()
{
    ChatOutPutText->copy();
}

bool TChatPane::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == InputText && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (InputTextKeyPress(key->key()))
            return true;
    } else if (watched == InputText->viewport() && event->type() == QEvent::MouseButtonPress) {
        emit InputClicked();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace velmora
