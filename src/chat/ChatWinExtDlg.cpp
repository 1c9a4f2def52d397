#include "chat/ChatWinExtDlg.h"

#include "chat/ChatDialogs.h"
#include "chat/OneChatWindow.h"
#include "chat/ChatWorkspace.h"
#include "chat/QuietShow.h"
#include "diag/Pause.h"

#include <QCloseEvent>
#include <QMoveEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QWindow>
#include <QTimer>

namespace velmora {

namespace {
const QColor kToolsBackground{0, 128, 255};
constexpr int kButtonCount = 4;
constexpr int kShowPauseMs = 100;
constexpr int kWidenStep = 2;
constexpr int kNarrowStep = 10;
constexpr int kNarrowPauseMs = 10;
constexpr int kSettleMs = 60;
} // namespace

TChatWinExtDlg::TChatWinExtDlg(TOneChatWindow &owner, bool panel)
    : QWidget(&owner, panel ? Qt::Widget
                            : Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                                  | Qt::WindowDoesNotAcceptFocus),
      m_owner(owner), m_panel(panel)
{
    setWindowTitle(QStringLiteral("  Extra Tools"));
    // Painted, not a palette: the buttons would inherit it, and a palette per
    // window gives their style pixmaps cache keys per window.

    struct ButtonDef {
        QPushButton **button;
        const char *caption;
        const char *hint;
        void (TChatWinExtDlg::*handler)();
    };
    const ButtonDef defs[kButtonCount] = {
        {&SendImgBtn, "Send &Image", "Send an image to the remote client display.", &TChatWinExtDlg::SendImgBtnClick},
        {&PushUrlBtn, "&Push URL",
         "Send a web page to the remote user this will open\na new browser window on the remote side.",
         &TChatWinExtDlg::PushUrlBtnClick},
        {&CannedBtn, "&Canned Msg's", nullptr, &TChatWinExtDlg::CannedBtnClick},
        {&TransferBtn, "&Transfer Chat",
         "Initiate a chat transfer to another supporter\nfrom the same group (same ClienID).",
         &TChatWinExtDlg::TransferBtnClick},
    };
    // Laid out at the full width: a narrower window just shows less of them,
    // which is what makes the slide.
    const int margin = 4;
    const int buttonHeight = (kHeight - margin * (kButtonCount + 1)) / kButtonCount;
    for (int i = 0; i < kButtonCount; ++i) {
        auto *button = new QPushButton(QString::fromLatin1(defs[i].caption), this);
        if (defs[i].hint)
            button->setToolTip(QString::fromLatin1(defs[i].hint));
        button->setGeometry(margin, margin + i * (buttonHeight + margin), kFullWidth - 2 * margin, buttonHeight);
        const auto handler = defs[i].handler;
        connect(button, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
        // A click in the panel leaves the keys in the chat's input.
        if (panel)
            button->setFocusPolicy(Qt::TabFocus);
        *defs[i].button = button;
    }

    // With the keyboard in the tools, the key that opened them (or Esc)
    // closes them and gives the keyboard back to the chat's input. A panel
    // shares its chat's window, whose own Ctrl+T does that already.
    for (const QKeySequence &key : {QKeySequence(Qt::CTRL | Qt::Key_T), QKeySequence(Qt::Key_Escape)}) {
        if (panel && key[0].key() != Qt::Key_Escape)
            continue;
        auto *shortcut = new QShortcut(key, this);
        if (panel)
            shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, [this] {
            if (!m_owner.Closed())
                m_owner.ExtraToolsKey();
        });
    }

    m_fullWidth = kFullWidth;
    if (panel) {
        setFixedSize(kFullWidth, kHeight);
        hide();
        return;
    }
    SetWidth(WidthFor(20));
}

void TChatWinExtDlg::TakeKeyboard()
{
    m_hasKeyboard = true;
    if (m_panel) {
        for (QPushButton *button : {SendImgBtn, PushUrlBtn, CannedBtn, TransferBtn}) {
            if (button->isEnabled()) {
                button->setFocus(Qt::ShortcutFocusReason);
                return;
            }
        }
        return;
    }
    if (QWindow *handle = windowHandle())
        handle->setFlag(Qt::WindowDoesNotAcceptFocus, false);
    for (QPushButton *button : {SendImgBtn, PushUrlBtn, CannedBtn, TransferBtn}) {
        if (button->isEnabled()) {
            TurnTo(this, button);
            return;
        }
    }
    TurnTo(this);
}

int TChatWinExtDlg::WidthFor(int percent) const
{
    return (m_fullWidth * percent + 50) / 100;
}

void TChatWinExtDlg::SetWidth(int width)
{
    // A panel keeps its width; its chat window's layout sizes it.
    if (m_panel)
        return;
    resize(qBound(1, width, m_fullWidth), kHeight);
}

void TChatWinExtDlg::PlaceAt(const QPoint &topLeft)
{
    if (m_panel)
        return;
    m_positioning = true;
    m_placed = topLeft;
    m_placedOnce = true;
    move(topLeft);
    m_positioning = false;
}

void TChatWinExtDlg::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    if (m_panel || m_positioning || !m_placedOnce || pos() == m_placed)
        return;
    // Only the chat window places the tools; a drag snaps back.
    m_positioning = true;
    move(m_placed);
    m_positioning = false;
}

void TChatWinExtDlg::paintEvent(QPaintEvent *)
{
    QPainter(this).fillRect(rect(), kToolsBackground);
}

bool TChatWinExtDlg::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate && !m_panel)
        FormActivate();
    return QWidget::event(event);
}

void TChatWinExtDlg::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TChatWinExtDlg::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous())
        FormHide();
}

void TChatWinExtDlg::FormShow()
{
    if (m_panel)
        return; // no slide: the panel is part of the chat window
    SetWidth(WidthFor(20));
    // Tool windows are not activated by every window manager (nor without
    // one); the tools must open all the same.
    PauseThen(this, kShowPauseMs, [this] {
        if (isVisible())
            FormActivate();
    });
}

void TChatWinExtDlg::FormActivate()
{
    if (m_panel)
        return;
    if (width() < m_fullWidth) {
        int width = WidthFor(30);
        SetWidth(width);
        while (width < m_fullWidth) {
            width = qMin(width + kWidenStep, m_fullWidth);
            SetWidth(width);
        }
    }
    // A window manager may apply the slide's requests late and out of order,
    // leaving an intermediate width: look again once they have settled.
    QTimer::singleShot(kSettleMs, this, [this] { SettleOpen(); });
}

void TChatWinExtDlg::SettleOpen()
{
    if (!isVisible())
        return;
    if (width() != m_fullWidth)
        SetWidth(m_fullWidth);
    // The frame is known only now: the same place, measured the same way, every time.
    if (!m_owner.Closed())
        m_owner.RecalceExtraDialog();
}

void TChatWinExtDlg::closeEvent(QCloseEvent *event)
{
    // A title-bar close button some window managers add anyway: close through
    // the chat window's toggle, so its state and picture stay right.
    event->ignore();
    if (!m_owner.Closed() && m_owner.ExtraToolsOpen())
        m_owner.ExtraToolsOpenBtnClick();
    else
        hide();
}

void TChatWinExtDlg::FormHide()
{
    if (m_panel) {
        if (std::exchange(m_hasKeyboard, false) && !m_owner.Closed())
            TurnToChat(&m_owner);
        return;
    }
    if (std::exchange(m_hasKeyboard, false)) {
        // Opened by a click next time, the tools again leave the keyboard alone.
        if (QWindow *handle = windowHandle())
            handle->setFlag(Qt::WindowDoesNotAcceptFocus, true);
        if (!m_owner.Closed())
            TurnToChat(&m_owner);
    }
    SetWidth(m_fullWidth);
    const quint32 slide = ++m_hideSlide;
    NarrowStep(slide);
}

void TChatWinExtDlg::NarrowStep(quint32 slide)
{
    // A show in the meantime ends the slide.
    if (slide != m_hideSlide || isVisible())
        return;
    const int narrowest = WidthFor(20);
    if (width() <= narrowest)
        return;
    SetWidth(qMax(width() - kNarrowStep, narrowest));
    PauseThen(this, kNarrowPauseMs, [this, slide] { NarrowStep(slide); });
}

void TChatWinExtDlg::Done()
{
    if (!m_owner.Closed() && m_owner.ExtraToolsOpen())
        m_owner.ExtraToolsOpenBtnClick();
}

// Every action may run a dialog during which the chat ends and its window,
// with these tools, is destroyed; nothing of either is touched after that.
void TChatWinExtDlg::SendImgBtnClick()
{
    QPointer<TChatWinExtDlg> self(this);
    const QString fileName = ChatDialogs().OpenImageFile(this, QString::fromLatin1(kImageFileFilter));
    if (!self || fileName.isEmpty())
        return; // abandoned: the tools stay open
    if (m_owner.Closed())
        return;
    m_owner.SendImageFile(fileName);
    if (self)
        Done();
}

void TChatWinExtDlg::PushUrlBtnClick()
{
    QPointer<TChatWinExtDlg> self(this);
    m_owner.PushUrlBtnClick();
    if (self)
        Done();
}

void TChatWinExtDlg::CannedBtnClick()
{
    QPointer<TChatWinExtDlg> self(this);
    m_owner.CopyCannedMessageToInbox();
    if (self)
        Done();
}

void TChatWinExtDlg::TransferBtnClick()
{
    QPointer<TChatWinExtDlg> self(this);
    m_owner.TransferBtnClick();
    if (self)
        Done();
}

} // namespace velmora
