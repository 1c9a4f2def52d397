#include "chat/ChatPane.h"

#include "chat/ChatHost.h"
#include "chat/ChatLines.h"
#include "chat/ChatPictures.h"
#include "chat/ChatProperties.h"
#include "chat/QuietShow.h"
#include "chat/RemoteClientTerminatedDlg.h"
#include "config/Genfunc.h"
#include "config/Settings.h"
#include "shortcuts/Canneddata.h"
#include "diag/Boxes.h"
#include "diag/AnsiText.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QAbstractItemView>
#include <QCompleter>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStringListModel>
#include <QShortcut>
#include <QStatusBar>
#include <QTextCursor>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QTextFrame>
#include <QTextLayout>
#include <QTextEdit>
#include <QTime>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace velmora {

namespace {
const QColor kWindowBackground{0, 128, 255};

// The time a conversation line was shown, on its paragraph's format: kept
// beside the text, so the transcript, the transfer and a copy carry none.
constexpr int kLineTimeProperty = QTextFormat::UserProperty + 1;

// The conversation, with the line times painted in a left margin when shown.
class TConversationView : public QTextEdit {
public:
    using QTextEdit::QTextEdit;

    void ShowTimes(bool on)
    {
        if (on == m_times)
            return;
        m_times = on;
        QFont font = document()->defaultFont();
        font.setBold(false);
        QTextFrame *root = document()->rootFrame();
        QTextFrameFormat format = root->frameFormat();
        const qreal margin = document()->documentMargin();
        format.setLeftMargin(on ? margin + QFontMetricsF(font).horizontalAdvance(QStringLiteral("00:00 ")) : margin);
        root->setFrameFormat(format);
        viewport()->update();
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QTextEdit::paintEvent(event);
        if (!m_times)
            return;
        QPainter painter(viewport());
        QFont font = document()->defaultFont();
        font.setBold(false); // normal weight beside the bold lines
        painter.setFont(font);
        painter.setPen(kSystemGrey);
        const QPointF scroll(horizontalScrollBar()->value(), verticalScrollBar()->value());
        const int bottom = viewport()->height();
        for (QTextBlock block = cursorForPosition(QPoint(0, 0)).block(); block.isValid(); block = block.next()) {
            const QTextLayout *layout = block.layout();
            if (!layout || layout->lineCount() == 0)
                continue;
            const QPointF at = layout->position() - scroll;
            if (at.y() > bottom)
                break;
            const QVariant time = block.blockFormat().property(kLineTimeProperty);
            if (!time.isValid())
                continue;
            const QTextLine line = layout->lineAt(0);
            painter.drawText(QPointF(document()->documentMargin() - scroll.x(), at.y() + line.y() + line.ascent()),
                             time.toTime().toString(QStringLiteral("HH:mm")));
        }
    }

private:
    bool m_times = false;
};

// Every line keeps its time, shown or not, so the option shows them all;
// the empty lines between notices have none.
void StampLineTime(const QTextBlock &block)
{
    if (!block.isValid() || block.text().isEmpty())
        return;
    QTextBlockFormat format = block.blockFormat();
    format.setProperty(kLineTimeProperty, QTime::currentTime());
    QTextCursor(block).setBlockFormat(format);
}

// " Send" in red while it can be clicked; the disabled state keeps the style's
// grey. Only the label is drawn with the red: a palette of the button's own
// would give every window's bevel pixmaps cache keys of their own, which pile
// up over a day of chats.
class TSendButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        painter.drawControl(QStyle::CE_PushButtonBevel, option);
        QStyleOptionButton label = option;
        label.rect = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
        if (isEnabled())
            label.palette.setColor(QPalette::ButtonText, Qt::red);
        painter.drawControl(QStyle::CE_PushButtonLabel, label);
        if (option.state & QStyle::State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(option);
            focus.rect = style()->subElementRect(QStyle::SE_PushButtonFocusRect, &option, this);
            painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
        }
    }
};
} // namespace

TChatPane::TChatPane(QWidget *parent) : QWidget(parent)
{
    // The designed size is the smallest; the conversation takes what is added.
    setMinimumSize(kClientWidth, kClientHeight);
    // The blue background is painted (paintEvent), not set in a palette the
    // children would inherit: see TSendButton.

    ChatOutPutText = new TConversationView(this);
    ChatOutPutText->setObjectName(QStringLiteral("ChatOutPutText"));
    ChatOutPutText->setReadOnly(true);
    // Nobody edits the conversation: an undo history would keep every line
    // inserted over the whole chat.
    ChatOutPutText->setUndoRedoEnabled(false);
    ChatOutPutText->setAcceptRichText(false);
    ChatOutPutText->setMinimumHeight(120);
    ChatOutPutText->setContextMenuPolicy(Qt::CustomContextMenu);
    const QFont conversationFont = ConversationFont();
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
    InputText->setToolTip(QStringLiteral("Write the message that will be send to the remote side."));
    // Tab leaves the box (to " Send"), as in any form; the wire has no use for tabs.
    InputText->setTabChangesFocus(true);
    InputText->installEventFilter(this);
    InputText->viewport()->installEventFilter(this);
    WatchTyping(InputText);
    connect(InputText, &QPlainTextEdit::textChanged, this, [this] { OnInputTextChanged(); });

    SendMsgBtn = new TSendButton(QStringLiteral(" Send"), this);
    QFont sendFont(QStringLiteral("Arial"));
    sendFont.setBold(true);
    SendMsgBtn->setFont(sendFont);
    SendMsgBtn->setFixedSize(58, 40);
    SendMsgBtn->setToolTip(QStringLiteral("Click this button after writing a message."));
    connect(SendMsgBtn, &QPushButton::clicked, this, [this] { emit SendRequested(); });

    EndChatBtn = new QPushButton(QStringLiteral("&End chat"), this);
    EndChatBtn->setToolTip(QStringLiteral("End this chat (Ctrl+W)"));
    connect(EndChatBtn, &QPushButton::clicked, this, [this] { emit EndRequested(); });
    auto *endKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), this);
    endKey->setContext(Qt::WindowShortcut);
    connect(endKey, &QShortcut::activated, this, [this] { emit EndRequested(); });

    SoundSpeedButton = new QToolButton(this);
    SoundSpeedButton->setFixedSize(27, 27);
    SoundSpeedButton->setToolTip(QStringLiteral("Control sounds toggle On/Off"));
    SetChatGlyph(*SoundSpeedButton, "SOUND_ON", QStringLiteral("S"));
    connect(SoundSpeedButton, &QToolButton::clicked, this, [this] { SoundSpeedButtonClick(); });

    StatusBar = new QStatusBar(this);
    StatusBar->setSizeGripEnabled(true);
    for (int i = 0; i < 3; ++i) {
        m_statusPanels[i] = new QLabel(StatusBar);
        m_statusPanels[i]->setTextFormat(Qt::PlainText);
        StatusBar->addWidget(m_statusPanels[i], i == 1 ? 1 : 0);
    }
    // The typing notice shrinks first, so that nothing beside it is cut.
    m_statusPanels[1]->setMinimumWidth(0);
    m_statusPanels[1]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_statusPanels[0]->setText(QStringLiteral("Status"));
    m_statusPanels[0]->setMinimumWidth(50);
    m_statusPanels[2]->setMinimumWidth(70);

    auto *buttons = new QVBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(4);
    buttons->addWidget(SendMsgBtn);
    buttons->addWidget(EndChatBtn);
    buttons->addStretch(1);
    m_toggles = new QHBoxLayout;
    m_toggles->setSpacing(4);
    m_toggles->addWidget(SoundSpeedButton);
    buttons->addLayout(m_toggles);
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

    FlashTimer.setInterval(600);
    connect(&FlashTimer, &QTimer::timeout, this, [this] { FlashTimerTimer(); });
    FollowSettings();
}

void TChatPane::ShowLineTimes(bool on)
{
    static_cast<TConversationView *>(ChatOutPutText)->ShowTimes(on);
}

bool TChatPane::MayDiscardDraft(QWidget *owner)
{
    if (InputText->toPlainText().trimmed().isEmpty())
        return true;
    return ShowBox(QStringLiteral("The message you typed has not been sent.\n\nEnd the chat and lose it?"),
                   QStringLiteral("Warning"), BoxIcon::Warning, BoxButtons::OkCancel, owner)
           == BoxAnswer::Ok;
}

void TChatPane::AddToggle(QToolButton *button)
{
    button->setParent(this);
    button->setFixedSize(27, 27);
    m_toggles->addWidget(button);
}

void TChatPane::UpdateInputLabel()
{
    // The designed text, and then what Enter does with the setting as it is now.
    Label1->setText(QStringLiteral("To send a message click send or use Enter, if enabled")
                    + (Settings().UseEnterKeyToSendMessage
                           ? QStringLiteral(" (Enter sends, Shift+Enter: new line)")
                           : QStringLiteral(" (Enter: new line)")));
}

// --- the conversation ---------------------------------------------------------

void TChatPane::AddLine(const QString &text, const QColor &nameColor, int nameLength, const QColor &textColor)
{
    const bool follow = m_followNextLine || ConversationAtBottom();
    m_followNextLine = false;
    QTextDocument &document = *ChatOutPutText->document();
    const int line = document.isEmpty() ? 0 : document.blockCount();
    const bool emptyLineAfter = Settings().EmptyLineAdd;
    QStringList rest;
    // The time goes in with the line: set afterwards it would lay the
    // paragraph out, and repaint it, a second time.
    QTextBlockFormat lineFormat;
    if (!text.isEmpty())
        lineFormat.setProperty(kLineTimeProperty, QTime::currentTime());
    AppendChatLine(document, text, nameColor, nameLength, textColor, m_baseFormat, emptyLineAfter, &rest,
                   lineFormat);
    const QTextBlock head = document.findBlockByNumber(line);
    if (!rest.isEmpty()) {
        QTextCursor at(&document);
        at.setPosition(head.position() + head.length() - 1);
        // Lines that come meanwhile go below; the pieces stay with their line.
        at.setKeepPositionOnInsert(true);
        m_linePieces.push_back({at, rest, textColor, emptyLineAfter});
        QueueLinePiece();
    }
    ShowLineTimes(Settings().LineTimes);
    if (follow) {
        ScrollToNewest();
    } else {
        PlaceNewMessagesMarker();
        NewMessagesMarker->show();
    }
    // The focus goes back to the input only in the window the operator is in
    // (in the tab in front), and only while it can take text.
    if (window()->isActiveWindow() && isVisible() && InputText->isEnabled())
        InputText->setFocus();
}

void TChatPane::QueueLinePiece()
{
    if (m_pieceQueued)
        return;
    m_pieceQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_pieceQueued = false;
        const bool follow = ConversationAtBottom();
        if (!AddLinePiece())
            return;
        if (follow)
            ScrollToNewest();
        QueueLinePiece();
    });
}

bool TChatPane::AddLinePiece()
{
    if (m_linePieces.empty())
        return false;
    TLinePieces &line = m_linePieces.front();
    const QString piece = line.rest.takeFirst();
    const bool last = line.rest.isEmpty();
    AppendLinePiece(line.at, piece, line.color, m_baseFormat, last && line.emptyLineAfter);
    if (last)
        m_linePieces.pop_front();
    return true;
}

void TChatPane::ShowRestOfLines()
{
    while (AddLinePiece()) {
    }
}

void TChatPane::AddOwnLine(const QByteArray &wire)
{
    const TSettings &settings = Settings();
    FollowNextLine();
    AddLine(settings.SupportName + QStringLiteral(": ") + FromAnsi(wire), ColorFromSetting(settings.SupportNameColor),
            int(settings.SupportName.size()) + 1, ColorFromSetting(settings.SupportTextColor));
}

void TChatPane::AddRemoteLine(const QString &name, const QString &text)
{
    if (!window()->isActiveWindow() || !isVisible())
        StartFlashing();
    ShowStatusIcon(callicon::Waiting);
    const TSettings &settings = Settings();
    AddLine(name + QStringLiteral(": ") + text, ColorFromSetting(settings.UserNameColor), int(name.size()) + 1,
            ColorFromSetting(settings.UserTextColor));
    PlayChatSound();
    SetStatusPanel(1, QString());
    // The chat's count of the other side's lines (the workspace's unread count).
    if (QWidget *chat = parentWidget())
        chat->setProperty(kChatLinesProperty, chat->property(kChatLinesProperty).toInt() + 1);
}

void TChatPane::ShowRemoteTyping(const QString &name, bool typing)
{
    SetStatusPanel(1, typing ? QStringLiteral(" ") + name + QStringLiteral(" typing...") : QString());
    if (QWidget *chat = parentWidget())
        chat->setProperty(kChatTypingProperty, typing);
}

void TChatPane::InputTextClick()
{
    ShowStatusIcon(callicon::Normal);
    StopFlashing();
}

void TChatPane::ShowStatusIcon(int icon)
{
    // The window that shows the chat: its own, or the workspace holding its
    // tab. A new icon costs the platform work, so only a change sets one:
    // every visitor line would otherwise.
    QWidget *shown = window();
    static const char *const kShownIcon = "velmoraStatusIcon";
    if (const QVariant was = shown->property(kShownIcon); was.isValid() && was.toInt() == icon)
        return;
    shown->setProperty(kShownIcon, icon);
    shown->setWindowIcon(ChatStatusIcon(icon));
}

void TChatPane::AddNotice(const QString &text)
{
    AddLine(text, kNoticeGreen, 0, kNoticeGreen);
}

void TChatPane::AddSystemLine(const QString &text)
{
    FollowNextLine();
    AddLine(text, kSystemGrey, 0, kSystemGrey);
}

QTextCursor TChatPane::InsertNotices(int position, const QStringList &lines)
{
    QTextDocument &document = *ChatOutPutText->document();
    if (document.isEmpty() || position >= document.characterCount() - 1) {
        // Each line goes into a block of its own after the last character.
        QTextCursor first(&document);
        const int start = document.isEmpty() ? 0 : document.characterCount();
        for (const QString &line : lines)
            AddNotice(line);
        first.setPosition(qMin(start, document.characterCount() - 1));
        return first;
    }
    QTextDocument scratch;
    scratch.setDefaultFont(document.defaultFont());
    for (const QString &line : lines) {
        const int at = scratch.isEmpty() ? 0 : scratch.blockCount();
        AppendChatLine(scratch, line, kNoticeGreen, 0, kNoticeGreen, m_baseFormat, Settings().EmptyLineAdd);
        StampLineTime(scratch.findBlockByNumber(at));
    }
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    cursor.setPosition(position);
    // The line moved down keeps its own paragraph format (its time).
    const QTextBlockFormat moved = cursor.blockFormat();
    cursor.insertFragment(QTextDocumentFragment(&scratch));
    cursor.insertBlock(moved, m_baseFormat);
    cursor.endEditBlock();
    QTextCursor first(&document);
    first.setPosition(position);
    return first;
}

void TChatPane::ReplaceLine(const QTextCursor &at, const QString &was, const QString &text)
{
    // The line may have gone with a cleared conversation.
    if (at.isNull() || at.block().text() != MessageForDisplay(was))
        return;
    QTextCursor line(at.block());
    line.movePosition(QTextCursor::NextCharacter);
    const QTextCharFormat format = line.charFormat();
    line.movePosition(QTextCursor::StartOfBlock);
    line.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    line.insertText(MessageForDisplay(text), format); // plain text, never markup
}

void TChatPane::ShowEnded(const QString &systemLine)
{
    SetStatusPanel(1, QString());
    InputText->setEnabled(false);
    SendMsgBtn->setEnabled(false);
    AddSystemLine(systemLine);
}

QString TChatPane::NowText()
{
    return QLocale::system().toString(QTime::currentTime(), QLocale::LongFormat);
}

bool TChatPane::ConversationAtBottom() const
{
    const QScrollBar *bar = ChatOutPutText->verticalScrollBar();
    return !bar || bar->value() >= bar->maximum() - 2;
}

void TChatPane::ScrollToNewest()
{
    if (QScrollBar *bar = ChatOutPutText->verticalScrollBar())
        bar->setValue(bar->maximum());
    NewMessagesMarker->hide();
}

bool TChatPane::NewMessagesShown() const
{
    return !NewMessagesMarker->isHidden();
}

void TChatPane::PlaceNewMessagesMarker()
{
    NewMessagesMarker->adjustSize();
    const QRect area = ChatOutPutText->viewport()->geometry();
    NewMessagesMarker->move(area.center().x() - NewMessagesMarker->width() / 2,
                            area.bottom() - NewMessagesMarker->height() - 4);
    NewMessagesMarker->raise();
}

// --- status bar, attention ----------------------------------------------------

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
    SetChatGlyph(*SoundSpeedButton, m_soundOn ? "SOUND_ON" : "SOUND_OFF",
                 m_soundOn ? QStringLiteral("S") : QStringLiteral("-"));
}

void TChatPane::PlayChatSound()
{
    if (!m_soundOn)
        return;
    const QString file = Settings().ChatSoundFile;
    if (file.isEmpty())
        return;
    // The setting may have changed since the last sound.
    const QString path = StartPath(file);
    if (path != m_chatSoundPath) {
        m_chatSoundPath = path;
        PlayWavInChat.SetFile(path);
    }
    PlayWavInChat.Play();
}

void TChatPane::SelectAll1Click()
{
    ChatOutPutText->selectAll();
}

void TChatPane::CopySelected1Click()
{
    ChatOutPutText->copy();
}

void TChatPane::paintEvent(QPaintEvent *)
{
    QPainter(this).fillRect(rect(), kWindowBackground);
}

bool TChatPane::event(QEvent *event)
{
    // Reached by any means (the window manager, a click on the title bar, a
    // tab made current), the chat takes the keys in its message box; an
    // end-of-chat question over it answers them instead.
    if (event->type() == QEvent::WindowActivate && isVisible() && !KeysInChatBesidePane())
        TakeKeyboard();
    return QWidget::event(event);
}

bool TChatPane::KeysInChatBesidePane() const
{
    // The extra tools as a panel of the chat keep keys given to them when the
    // window is activated again (a compositor may do so for a new keyboard).
    const QWidget *chat = parentWidget();
    const QWidget *had = window()->focusWidget();
    return chat && had && !isAncestorOf(had) && had != this && chat->isAncestorOf(had);
}

void TChatPane::TakeKeyboard()
{
    QWidget *chat = parentWidget() ? parentWidget() : this;
    for (auto *question : chat->findChildren<TRemoteClientTerminatedDlg *>(Qt::FindDirectChildrenOnly)) {
        if (!question->isVisible())
            continue;
        // After the activation has finished, or it would take the keys back.
        QTimer::singleShot(0, question, [question] { TurnTo(question); });
        return;
    }
    if (InputText->isEnabled())
        InputText->setFocus(Qt::ActiveWindowFocusReason);
}

bool TChatPane::eventFilter(QObject *watched, QEvent *event)
{
    if (m_canned && watched == m_canned->popup() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Tab) {
            const QModelIndex chosen = m_canned->popup()->currentIndex();
            m_canned->popup()->hide();
            if (chosen.isValid())
                PutCannedAnswer(chosen.data(Qt::UserRole).toString());
            return true;
        }
    }
    if (watched == ChatOutPutText) {
        if (event->type() == QEvent::Resize)
            PlaceNewMessagesMarker();
    } else if (watched == InputText && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        // Shift+F10 opens the pop-up menu as the Menu key does.
        if (m_spell && key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier) {
            ShowInputMenu(InputText->textCursor().position(),
                          InputText->viewport()->mapToGlobal(InputText->cursorRect().bottomLeft()));
            return true;
        }
        if (InputTextKeyPress(key->key(), key->modifiers()))
            return true;
    } else if (watched == InputText && event->type() == QEvent::FocusIn) {
        FollowSettings();
    } else if (InputText && (watched == InputText || watched == InputText->viewport())
               && event->type() == QEvent::ContextMenu && m_spell) {
        auto *menu = static_cast<QContextMenuEvent *>(event);
        if (menu->reason() == QContextMenuEvent::Mouse) {
            const QPoint at = watched == InputText ? InputText->viewport()->mapFrom(InputText, menu->pos())
                                                   : menu->pos();
            ShowInputMenu(InputText->cursorForPosition(at).position(), menu->globalPos());
        } else {
            ShowInputMenu(InputText->textCursor().position(),
                          InputText->viewport()->mapToGlobal(InputText->cursorRect().bottomLeft()));
        }
        return true;
    } else if (InputText && watched == InputText->viewport() && event->type() == QEvent::MouseButtonPress) {
        InputTextClick();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace velmora
