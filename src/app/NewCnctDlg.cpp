#include "app/NewCnctDlg.h"

#include "chat/ChatPlacement.h"
#include "chat/ChatProperties.h"
#include "chat/QuietShow.h"

#include "protocol/MessageCodes.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

#include <algorithm>
#include <memory>

namespace velmora {

namespace {

constexpr int kLabelMargin = 4;      // Label1's left margin inside the panel
constexpr int kButtonGap = 7;        // each button keeps this far from the middle
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kDesignWidth = 158;
constexpr int kDesignHeight = 77;

// Site and address values the server sends when it has none.
bool Absent(const QString &value)
{
    return value.isEmpty() || value == QLatin1String("0");
}

QLabel *MakeLabel(QWidget *parent)
{
    auto *label = new QLabel(parent);
    // The site and address come from the network: never interpret them.
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

QString TNewCnctDlg::RequestText(quint16 kind)
{
    switch (kind) {
    case server::SUPPORT_CHAT_LISTED:
        return QStringLiteral("Support request for new connection");
    case server::TRANSFER_CALL:
        return QStringLiteral("Transfer request from other support !.");
    default:
        return QStringLiteral("Client request for new connection");
    }
}

QColor TNewCnctDlg::FromBgr(quint32 bgr)
{
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

TNewCnctDlg::TNewCnctDlg(quint16 kind, const QString &site, const QString &ip, bool acceptEnabled, QWidget *parent,
                         const QString &asking)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint
                          | Qt::MSWindowsFixedSizeDialogHint)
{
    setWindowTitle(QStringLiteral(" New connection:"));

    NewConnectPanel = new QWidget(this);
    NewConnectPanel->setAutoFillBackground(true);
    NewConnectPanel->setFocusPolicy(Qt::StrongFocus);
    QFont bold = font();
    bold.setBold(true);
    NewConnectPanel->setFont(bold);

    Label1 = MakeLabel(NewConnectPanel);
    Label3 = MakeLabel(NewConnectPanel);
    Label2 = MakeLabel(NewConnectPanel);
    Label1->setText(RequestText(kind));
    m_siteLine = Absent(site) ? QString() : QStringLiteral("Call from = ") + site;
    Label3->setToolTip(Absent(site) ? QString() : site);
    Label2->setText(Absent(ip) ? QString() : QStringLiteral("User from IP = ") + ip);
    if (!asking.isEmpty()) {
        Label4 = MakeLabel(NewConnectPanel);
        Label4->setText(QStringLiteral("Asked by = ") + asking);
    }

    AcceptBtn = new QPushButton(QStringLiteral("Accept"), this);
    OnHoldlBtn = new QPushButton(QStringLiteral("On-Hold"), this);
    // No default button and no button that takes the keyboard: Enter and Esc
    // go through keyPressEvent, which answers only an alert turned to.
    for (QPushButton *button : {AcceptBtn, OnHoldlBtn}) {
        button->setAutoDefault(false);
        button->setFocusPolicy(Qt::NoFocus);
    }
    AcceptBtn->setEnabled(acceptEnabled);
    connect(AcceptBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(OnHoldlBtn, &QPushButton::clicked, this, &QDialog::reject); // Esc rejects too

    Timer1.setInterval(kBlinkMs);
    connect(&Timer1, &QTimer::timeout, this, &TNewCnctDlg::Timer1Timer);
    SetPanelColor(kPanelColor);

    FitSize();
}

void TNewCnctDlg::FitSize()
{
    // As wide as the request needs; the fraction is dropped.
    const QFontMetrics metrics(NewConnectPanel->font());
    const int width = std::max(kDesignWidth, int(metrics.horizontalAdvance(Label1->text()) * 1.3) + 50);
    const int lineHeight = metrics.height() + 2;
    const int height = std::max(kDesignHeight, Lines() * lineHeight + 2 * kLabelMargin + kButtonHeight + 12);
    setFixedSize(width, height);
    LayoutControls();
    for (QWidget *child : findChildren<QWidget *>())
        child->installEventFilter(this);
}

bool TNewCnctDlg::KeysAnswer() const
{
    return m_turnedTo && m_shown.isValid() && m_shown.elapsed() >= kKeyGuardMs;
}

void TNewCnctDlg::keyPressEvent(QKeyEvent *event)
{
    event->accept();
    if (!KeysAnswer()) {
        // The keys were the operator's, for the window the compositor took
        // them from: they go on there, Enter included, and answer nothing here.
        if (m_typingIn && m_typingIn->isVisible() && m_typingIn->isEnabled()) {
            const std::unique_ptr<QKeyEvent> copy(event->clone());
            QCoreApplication::sendEvent(m_typingIn, copy.get());
        }
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (AcceptBtn->isEnabled())
            AcceptBtn->click();
    } else if (event->key() == Qt::Key_Escape) {
        OnHoldlBtn->click();
    }
}

bool TNewCnctDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress)
        TurnedTo();
    return QDialog::eventFilter(watched, event);
}

void TNewCnctDlg::mousePressEvent(QMouseEvent *event)
{
    TurnedTo();
    QDialog::mousePressEvent(event);
}

void TNewCnctDlg::SetAsking(const QString &name)
{
    if (name.isEmpty())
        return;
    if (!Label4) {
        Label4 = MakeLabel(NewConnectPanel);
        Label4->show();
    }
    Label4->setText(QStringLiteral("Asked by = ") + name);
    FitSize();
}

void TNewCnctDlg::LayoutControls()
{
    const int lineHeight = QFontMetrics(NewConnectPanel->font()).height() + 2;
    const int panelHeight = Lines() * lineHeight + 2 * kLabelMargin;
    NewConnectPanel->setGeometry(0, 0, width(), panelHeight);
    const int labelWidth = std::max(0, width() - 2 * kLabelMargin);
    Label1->setGeometry(kLabelMargin, kLabelMargin, labelWidth, lineHeight);
    Label3->setGeometry(kLabelMargin, kLabelMargin + lineHeight, labelWidth, lineHeight);
    // A long site keeps its start and its domain; the tooltip has all of it.
    Label3->setText(QFontMetrics(Label3->font()).elidedText(m_siteLine, Qt::ElideMiddle, labelWidth));
    Label2->setGeometry(kLabelMargin, kLabelMargin + 2 * lineHeight, labelWidth, lineHeight);
    if (Label4)
        Label4->setGeometry(kLabelMargin, kLabelMargin + 3 * lineHeight, labelWidth, lineHeight);
    const int middle = width() / 2;
    const int top = panelHeight + (height() - panelHeight - kButtonHeight) / 2;
    AcceptBtn->setGeometry(middle - kButtonGap - kButtonWidth, top, kButtonWidth, kButtonHeight);
    OnHoldlBtn->setGeometry(middle + kButtonGap, top, kButtonWidth, kButtonHeight);
}

void TNewCnctDlg::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    LayoutControls();
}

void TNewCnctDlg::SetPanelColor(quint32 bgr)
{
    m_panelColor = bgr;
    QPalette palette = NewConnectPanel->palette();
    palette.setColor(QPalette::Window, FromBgr(bgr));
    NewConnectPanel->setPalette(palette);
}

QColor TNewCnctDlg::PanelColor() const
{
    return FromBgr(m_panelColor);
}

void TNewCnctDlg::Timer1Timer()
{
    SetPanelColor(m_panelColor == kPanelColor ? kBlinkColor : kPanelColor);
}

void TNewCnctDlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_shown.isValid())
        m_shown.start();
    // Neither button has the focus, so a stray key press cannot answer.
    NewConnectPanel->setFocus();
    Timer1.start();
}

void TNewCnctDlg::hideEvent(QHideEvent *event)
{
    Timer1.stop();
    QDialog::hideEvent(event);
}

QPoint TNewCnctDlg::AlertPosition(int callDispPos, int alertsOpen, const QSize &size, const QRect &screen)
{
    const int d = std::max(0, alertsOpen) * kStackOffset;
    int top = 0;
    int left = 0;
    switch (callDispPos) {
    case 0:
        top = d + 10;
        left = top;
        break;
    case 1:
        top = d + 10;
        left = screen.width() - size.width() - d - 10;
        break;
    default:
        top = screen.height() - size.height() - d - 30;
        left = screen.width() - size.width() - d - 10;
        break;
    }
    return screen.topLeft() + QPoint(left, top);
}

void TNewCnctDlg::PlaceOnScreen(int callDispPos, int alertsOpen)
{
    QScreen *screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    move(AlertPosition(callDispPos, alertsOpen, size(), area));
}

namespace {

// A chat window (or the chat workspace) that comes up: a desktop that stacks
// windows itself puts it over the alerts open at that moment.
bool IsChatWindow(const QWidget *window)
{
    return window->property(kChatNumberProperty).isValid() || window->property(kSupporterChatProperty).toBool()
           || window->objectName() == QLatin1String("ChatWorkspace");
}

// Long enough for the compositor to have put the new chat on the screen, so
// that the alerts shown again come after it, on top.
constexpr int kResurfaceMs = 300;

// The widget that took the operator's last key, outside the alerts. A
// compositor may deliver keys to a window it never reported as active, so
// QApplication::focusWidget() alone can be empty while the operator types.
// It also sees chat windows come up, for the alerts they would cover.
class TypingWatcher final : public QObject {
public:
    using QObject::QObject;
    static TypingWatcher *Instance()
    {
        static QPointer<TypingWatcher> watcher;
        if (!watcher) {
            watcher = new TypingWatcher(qApp);
            qApp->installEventFilter(watcher);
        }
        return watcher;
    }
    static QWidget *LastTyped() { return Instance()->m_lastTyped; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress && event->spontaneous() && watched->isWidgetType()) {
            auto *widget = static_cast<QWidget *>(watched);
            if (!qobject_cast<TNewCnctDlg *>(widget->window()))
                m_lastTyped = widget;
        } else if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto *widget = static_cast<QWidget *>(watched);
            if (widget->isWindow() && IsChatWindow(widget) && DesktopPlacesWindows() && !TNewCnctDlg::Showing().isEmpty()) {
                QPointer<QWidget> chat(widget);
                QTimer::singleShot(kResurfaceMs, widget, [chat] { TNewCnctDlg::ResurfaceOver(chat); });
            }
        }
        return false;
    }

private:
    QPointer<QWidget> m_lastTyped;
};

} // namespace

QList<TNewCnctDlg *> TNewCnctDlg::Showing()
{
    QList<TNewCnctDlg *> alerts;
    for (QWidget *window : QApplication::topLevelWidgets())
        if (auto *alert = qobject_cast<TNewCnctDlg *>(window); alert && alert->m_opened && alert->isVisible())
            alerts.append(alert);
    std::sort(alerts.begin(), alerts.end(),
              [](const TNewCnctDlg *a, const TNewCnctDlg *b) { return a->m_opened < b->m_opened; });
    return alerts;
}

TNewCnctDlg *TNewCnctDlg::Open(quint16 kind, const QString &site, const QString &ip, bool acceptEnabled,
                               int callDispPos, std::function<void(bool)> answered, const QString &asking)
{
    auto *dialog = new TNewCnctDlg(kind, site, ip, acceptEnabled, nullptr, asking);
    // With an alert in front, where the operator types is that alert's.
    QWidget *typingIn = QApplication::focusWidget();
    if (!typingIn || qobject_cast<TNewCnctDlg *>(typingIn->window())) {
        const QList<TNewCnctDlg *> showing = Showing();
        TNewCnctDlg *newest = showing.isEmpty() ? nullptr : showing.last();
        typingIn = newest && newest->m_typingIn ? newest->m_typingIn.data() : TypingWatcher::LastTyped();
    }
    dialog->m_typingIn = typingIn;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setModal(false);
    dialog->PlaceOnScreen(callDispPos, int(Showing().size()));
    static quint64 lastOpened = 0;
    dialog->m_opened = ++lastOpened;
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, answered = std::move(answered)](int result) {
        dialog->m_opened = 0;
        answered(result == QDialog::Accepted && dialog->AcceptBtn->isEnabled());
    });
    // On top, but the keys stay where the operator is typing.
    KeepKeyboardWhenShown(dialog);
    dialog->show();
    return dialog;
}

void TNewCnctDlg::ResurfaceOver(QWidget *chat)
{
    if (!chat || !chat->isVisible())
        return;
    // Where the operator types now, if it is in the chat just come up.
    QWidget *focus = QApplication::focusWidget();
    const bool typesInChat = focus && focus->window() == chat;
    const QList<TNewCnctDlg *> alerts = Showing();
    for (TNewCnctDlg *alert : alerts) {
        // Shown anew the alert is new to the operator, and the compositor
        // may give it the keyboard: it answers no key until turned to again,
        // and keys meant for the chat go on there.
        alert->m_turnedTo = false;
        alert->m_shown.restart();
        if (typesInChat)
            alert->m_typingIn = focus;
        alert->hide();
        alert->show();
    }
}

void TNewCnctDlg::WatchTyping()
{
    TypingWatcher::Instance();
}

bool TNewCnctDlg::Press(bool accept)
{
    if (!m_opened || !isVisible() || (accept && !AcceptBtn->isEnabled()))
        return false;
    (accept ? AcceptBtn : OnHoldlBtn)->click();
    return true;
}

bool TNewCnctDlg::BringForward()
{
    if (!m_opened || !isVisible())
        return false;
    TurnedTo();
    TurnTo(this, NewConnectPanel);
    return true;
}

} // namespace velmora
