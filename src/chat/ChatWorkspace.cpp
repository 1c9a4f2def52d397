#include "chat/ChatWorkspace.h"

#include "chat/ChatPane.h"
#include "chat/ChatProperties.h"
#include "chat/ChatPlacement.h"
#include "chat/OneChatWindow.h"
#include "chat/QuietShow.h"
#include "config/Settings.h"
#include "diag/Boxes.h"
#include "diag/HelpContexts.h"
#include "diag/SafeText.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScreen>
#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

namespace velmora {

namespace {

TChatWorkspace *g_workspace = nullptr;

// A chat's own window flags, kept while it is a tab.
constexpr char kWindowFlagsProperty[] = "chatWindowFlags";
// A name longer than this is cut in its tab (the tooltip has the caption).
constexpr int kMaxTabName = 24;
// A tab let go this far off the bar leaves for a window of its own.
constexpr int kTearOffDistance = 30;
// A torn-off window that stays put this long has been let go of.
constexpr int kDropSettleMs = 400;
// The first workspace leaves room for a few tabs.
constexpr int kFirstWidth = 560;
// A tab's margins and its close button, beside its text.
constexpr int kTabChrome = 40;
// Saved geometry longer than this comes from a damaged file.
constexpr int kMaxSavedGeometry = 4096;

// What a dock handle's drag carries: the chat, as a number that is only
// compared with the chats this workspace knows, never followed.
constexpr char kChatMime[] = "application/x-velmora-chat";
constexpr char kDockHandleName[] = "DockHandle";

// The key is named in the text: a second binding of it would make it ambiguous.
const QString kMoveOut = QStringLiteral("&Move to own window\tCtrl+Shift+M");
const QString kMoveBack = QStringLiteral("&Back to the workspace\tCtrl+Shift+M");

class TTearOffTabBar : public QTabBar {
public:
    std::function<void(int, QPoint)> TearOff;

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        m_pressed = event->button() == Qt::LeftButton ? tabAt(event->position().toPoint()) : -1;
        QTabBar::mousePressEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        const int pressed = std::exchange(m_pressed, -1);
        const QPoint at = event->position().toPoint();
        QTabBar::mouseReleaseEvent(event);
        const QRect near = rect().adjusted(-kTearOffDistance, -kTearOffDistance, kTearOffDistance, kTearOffDistance);
        // Pressing made the tab current; a move along the bar keeps it so.
        if (pressed >= 0 && event->button() == Qt::LeftButton && !near.contains(at) && TearOff)
            TearOff(currentIndex(), event->globalPosition().toPoint());
    }

private:
    int m_pressed = -1;
};

class TChatTabs : public QTabWidget {
public:
    explicit TChatTabs(QWidget *parent) : QTabWidget(parent)
    {
        Bar = new TTearOffTabBar;
        Bar->setObjectName(QStringLiteral("ChatTabBar"));
        setTabBar(Bar);
    }
    TTearOffTabBar *Bar;
    std::function<void()> Removed;

protected:
    void tabRemoved(int index) override
    {
        QTabWidget::tabRemoved(index);
        if (Removed)
            Removed();
    }
};

// A chat window's handle: dragged onto the workspace, the chat goes back
// into a tab there; clicked, likewise. The drag stays inside the program, so
// it works where the window manager tells nobody of a window's moves.
class TDockHandle : public QToolButton {
public:
    explicit TDockHandle(QWidget *chat) : m_chat(chat)
    {
        setObjectName(QString::fromLatin1(kDockHandleName));
        setText(QStringLiteral("\u2261"));
        setFocusPolicy(Qt::NoFocus);
        setToolTip(QStringLiteral("Drag onto the Chats window, or click, to put this chat in a tab there "
                                  "(Ctrl+Shift+M)"));
        setCursor(Qt::OpenHandCursor);
    }

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        m_pressedAt = event->button() == Qt::LeftButton ? event->position().toPoint() : QPoint(-1, -1);
        QToolButton::mousePressEvent(event);
    }
    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (!(event->buttons() & Qt::LeftButton) || m_pressedAt.x() < 0 || !m_chat
            || (event->position().toPoint() - m_pressedAt).manhattanLength() < QApplication::startDragDistance()) {
            QToolButton::mouseMoveEvent(event);
            return;
        }
        // A drag, not a click.
        m_pressedAt = QPoint(-1, -1);
        setDown(false);
        auto *drag = new QDrag(this);
        drag->setMimeData(TChatWorkspace::DragData(m_chat));
        const QPixmap look = m_chat->grab();
        if (!look.isNull())
            drag->setPixmap(look.scaledToWidth(qMin(160, look.width()), Qt::SmoothTransformation));
        drag->exec(Qt::MoveAction);
    }

private:
    QPointer<QWidget> m_chat;
    QPoint m_pressedAt{-1, -1};
};

// The chat as a window again, with the flags it had as one.
void MakeWindow(QWidget *chat)
{
    const QVariant flags = chat->property(kWindowFlagsProperty);
    chat->setParent(nullptr, flags.isValid() ? Qt::WindowFlags(flags.toInt()) : Qt::WindowFlags(Qt::Window));
}

} // namespace

TChatWorkspace::TChatWorkspace(QWidget *parent) : QWidget(parent, Qt::Window)
{
    g_workspace = this;
    setObjectName(QStringLiteral("ChatWorkspace"));
    setWindowTitle(QStringLiteral("Chats"));
    setProperty("helpContext", int(ChatWindowContext));
    auto *tabs = new TChatTabs(this);
    m_tabs = tabs;
    m_tabs->setMovable(true);
    m_tabs->setDocumentMode(true);
    m_tabs->setUsesScrollButtons(true);
    // Many tabs shorten their names before they scroll.
    m_tabs->setElideMode(Qt::ElideRight);
    // A tab's close button is its chat's close box: the chat ends as it would.
    m_tabs->setTabsClosable(true);
    connect(m_tabs, &QTabWidget::tabCloseRequested, this, [this](int index) {
        if (QWidget *chat = m_tabs->widget(index))
            chat->close();
    });
    tabs->Bar->TearOff = [this](int index, QPoint at) {
        if (QWidget *chat = m_tabs->widget(index))
            TearOff(chat, at - QPoint(kTearOffDistance, kTearOffDistance / 2));
    };
    tabs->Removed = [this] {
        if (m_tabs->count() == 0)
            hide();
    };
    // A chat window's dock handle is dropped anywhere on the workspace.
    setAcceptDrops(true);
    tabs->Bar->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tabs->Bar, &QWidget::customContextMenuRequested, this, &TChatWorkspace::TabMenu);
    connect(m_tabs, &QTabWidget::currentChanged, this, &TChatWorkspace::CurrentChanged);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tabs);

    m_dropCheck.setSingleShot(true);
    m_dropCheck.setInterval(kDropSettleMs);
    connect(&m_dropCheck, &QTimer::timeout, this, [this] {
        if (m_moved)
            TakeBackIfDropped(m_moved, QCursor::pos());
    });
}

TChatWorkspace::~TChatWorkspace()
{
    if (g_workspace == this)
        g_workspace = nullptr;
    // Tabs that leave now tell a workspace that is no more.
    disconnect(m_tabs, nullptr, this, nullptr);
    static_cast<TChatTabs *>(m_tabs)->Removed = nullptr;
    // The chats belong to the calls, not to this window: they outlive it.
    for (const QPointer<QWidget> &chat : m_known) {
        if (!chat)
            continue;
        chat->removeEventFilter(this);
        if (isAncestorOf(chat)) {
            chat->hide();
            MakeWindow(chat);
        }
    }
}

TChatWorkspace *TChatWorkspace::Instance()
{
    return g_workspace;
}

bool TChatWorkspace::Adopt(QWidget *chat)
{
    TChatWorkspace *workspace = Instance();
    if (!workspace || !chat || !Settings().ChatsInOneWindow)
        return false;
    workspace->AddChat(chat);
    return true;
}

TChatWorkspace *TChatWorkspace::Holding(const QWidget *chat)
{
    if (!chat || chat->isWindow())
        return nullptr;
    for (QWidget *up = chat->parentWidget(); up; up = up->parentWidget())
        if (auto *workspace = qobject_cast<TChatWorkspace *>(up))
            return workspace->m_tabs->indexOf(const_cast<QWidget *>(chat)) >= 0 ? workspace : nullptr;
    return nullptr;
}

void TChatWorkspace::PutAway(QWidget *chat, bool keysOnward)
{
    const QList<QWidget *> open = OpenChats();
    const qsizetype at = open.indexOf(chat);
    QPointer<QWidget> next;
    if (keysOnward && at >= 0 && open.size() > 1)
        next = open[at + 1 < open.size() ? at + 1 : at - 1];
    // A tab stays a hidden child until it is deleted.
    if (TChatWorkspace *workspace = Holding(chat)) {
        workspace->CloseExtraTools(chat);
        workspace->m_tabs->removeTab(workspace->m_tabs->indexOf(chat));
    }
    chat->hide();
    RenumberChats();
    if (next)
        TurnToChat(next);
}

QList<QWidget *> OpenChats()
{
    QList<QWidget *> chats;
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (!top->isVisible())
            continue;
        // A workspace's tabs count as chats of their own.
        const auto *workspace = qobject_cast<TChatWorkspace *>(top);
        for (QWidget *w : workspace ? workspace->Chats() : QList<QWidget *>{top})
            if (w->property(kChatNumberProperty).isValid())
                chats << w;
    }
    std::stable_sort(chats.begin(), chats.end(), [](const QWidget *a, const QWidget *b) {
        return a->property(kChatNumberProperty).toInt() < b->property(kChatNumberProperty).toInt();
    });
    return chats;
}

int ChatKeyNumber(const QWidget *chat)
{
    const qsizetype at = OpenChats().indexOf(const_cast<QWidget *>(chat));
    return at >= 0 && at < kChatKeys ? int(at) + 1 : 0;
}

void RenumberChats()
{
    if (TChatWorkspace *workspace = TChatWorkspace::Instance())
        for (QWidget *chat : workspace->Chats())
            workspace->UpdateTab(chat);
}

void TChatWorkspace::Know(QWidget *chat)
{
    if (m_known.contains(chat))
        return;
    m_known << chat;
    chat->setProperty(kWindowFlagsProperty, int(chat->windowFlags()));
    chat->installEventFilter(this);
    connect(chat, &QObject::destroyed, this, [this, chat] {
        m_seen.remove(chat);
        m_known.removeAll(nullptr);
    });
    connect(chat, &QWidget::windowTitleChanged, this, [this, chat] { UpdateTab(chat); });
    // The keyboard's way out of the workspace and back.
    auto *key = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M), chat);
    key->setContext(Qt::WidgetWithChildrenShortcut);
    connect(key, &QShortcut::activated, this, [this, chat] { ToggleHome(chat); });
    if (auto *pane = chat->findChild<TChatPane *>()) {
        auto *handle = new TDockHandle(chat);
        pane->AddToggle(handle);
        connect(handle, &QToolButton::clicked, this, [this, chat] {
            if (Holding(chat) != this)
                TakeBack(chat);
        });
        QMenu *menu = pane->ChatPopUp;
        QAction *home = menu->addAction(kMoveOut, this, [this, chat] { ToggleHome(chat); });
        connect(menu, &QMenu::aboutToShow, home, [this, home, chat] {
            home->setText(Holding(chat) == this ? kMoveOut : kMoveBack);
        });
    }
    ShowDockHandle(chat);
}

void TChatWorkspace::ShowDockHandle(QWidget *chat)
{
    if (auto *handle = chat->findChild<QToolButton *>(QString::fromLatin1(kDockHandleName)))
        handle->setVisible(Holding(chat) != this);
}

void TChatWorkspace::AddChat(QWidget *chat)
{
    Know(chat);
    // Someone typing in a chat keeps it: the new one waits beside it.
    // Otherwise the chat just taken comes in front, with the keys while
    // the operator is at the console.
    const bool typing = OperatorTypingInChat();
    const bool takeKeys = QApplication::activeWindow() && !typing;
    const int index = m_tabs->addTab(chat, QString());
    ShowDockHandle(chat);
    if (!typing || m_tabs->count() == 1)
        m_tabs->setCurrentIndex(index);
    RenumberChats();
    if (!takeKeys) {
        ShowQuietly();
        return;
    }
    if (!isVisible()) {
        PlaceOnce();
        show();
    }
    TurnToChat(chat);
}

void TChatWorkspace::ShowQuietly()
{
    if (isVisible())
        return;
    PlaceOnce();
    KeepKeyboardWhenShown(this);
    show();
}

void TChatWorkspace::PlaceOnce()
{
    if (!m_placed)
        PlaceBesideCallList();
    m_placed = true;
}

void TChatWorkspace::PlaceBesideCallList()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    // A chat's size as the operator last gave one, with the tab bar above it.
    const QSize least = minimumSizeHint();
    QSize chat = HasRememberedChatSize() ? RememberedChatSize(QSize()) : QSize(kFirstWidth, 0);
    // Room for four tabs with names of a usual length, beyond which they elide.
    const QString usual = TabLabel(88, false, QStringLiteral("Maximilian Web"), 2, true, false, 8);
    const int fourTabs = 4 * (m_tabs->tabBar()->fontMetrics().horizontalAdvance(usual) + kTabChrome);
    chat.setWidth(std::max(chat.width(), fourTabs));
    const QSize size = (chat + QSize(0, m_tabs->tabBar()->sizeHint().height())).expandedTo(least).boundedTo(area.size());
    resize(size);
    move(OpeningPosition(this, size));
}

void TChatWorkspace::TearOff(QWidget *chat, std::optional<QPoint> at)
{
    const int index = m_tabs->indexOf(chat);
    if (index < 0)
        return;
    CloseExtraTools(chat);
    m_tabs->removeTab(index);
    MakeWindow(chat);
    ShowDockHandle(chat);
    chat->resize(OpeningChatSize(chat->minimumSize()));
    // Off the call list and the workspace, as a new chat window would be.
    chat->move(at ? *at : OpeningPosition(chat, chat->size(), {frameGeometry()}));
    chat->show();
    TurnToChat(chat);
}

void TChatWorkspace::TakeBack(QWidget *chat)
{
    if (!chat)
        return;
    if (Holding(chat) != this) {
        CloseExtraTools(chat);
        chat->hide();
        Know(chat);
        m_tabs->addTab(chat, QString());
        ShowDockHandle(chat);
    }
    Select(chat);
    UpdateTab(chat);
    if (!isVisible()) {
        PlaceOnce();
        show();
    }
    TurnToChat(chat);
}

bool TChatWorkspace::TakeBackIfDropped(QWidget *chat, const QPoint &global)
{
    if (!chat || !chat->isWindow() || !chat->isVisible() || !isVisible() || isMinimized())
        return false;
    const QRect bar(m_tabs->mapToGlobal(QPoint(0, 0)), QSize(m_tabs->width(), m_tabs->tabBar()->height()));
    // The pointer is on the window it dragged, and that on the tab bar.
    if (!bar.adjusted(0, -8, 0, 8).contains(global) || !chat->frameGeometry().contains(global))
        return false;
    TakeBack(chat);
    return true;
}

QMimeData *TChatWorkspace::DragData(const QWidget *chat)
{
    auto *data = new QMimeData;
    data->setData(QString::fromLatin1(kChatMime), QByteArray::number(quintptr(chat)));
    return data;
}

QWidget *TChatWorkspace::DraggedChat(const QMimeData *data) const
{
    if (!data || !data->hasFormat(QString::fromLatin1(kChatMime)))
        return nullptr;
    bool ok = false;
    const quintptr named = data->data(QString::fromLatin1(kChatMime)).toULongLong(&ok);
    if (!ok)
        return nullptr;
    for (const QPointer<QWidget> &chat : m_known)
        if (chat && quintptr(chat.data()) == named && chat->isWindow() && chat->isVisible())
            return chat;
    return nullptr;
}

bool TChatWorkspace::DropChat(const QMimeData *data, const QPoint &at)
{
    QWidget *chat = DraggedChat(data);
    if (!chat)
        return false;
    QTabBar *bar = m_tabs->tabBar();
    const int before = bar->tabAt(bar->mapFrom(this, at));
    TakeBack(chat);
    if (before >= 0)
        bar->moveTab(m_tabs->indexOf(chat), before);
    return true;
}

void TChatWorkspace::dragEnterEvent(QDragEnterEvent *event)
{
    if (DraggedChat(event->mimeData()))
        event->acceptProposedAction();
}

void TChatWorkspace::dragMoveEvent(QDragMoveEvent *event)
{
    if (DraggedChat(event->mimeData()))
        event->acceptProposedAction();
}

void TChatWorkspace::dropEvent(QDropEvent *event)
{
    if (!DraggedChat(event->mimeData()))
        return;
    event->acceptProposedAction();
    // The drag's own loop still runs from the chat's handle: the chat
    // changes its home once that loop is done with it.
    const QByteArray named = event->mimeData()->data(QString::fromLatin1(kChatMime));
    const QPoint at = event->position().toPoint();
    QTimer::singleShot(0, this, [this, named, at] {
        QMimeData data;
        data.setData(QString::fromLatin1(kChatMime), named);
        DropChat(&data, at);
    });
}

void TChatWorkspace::ToggleHome(QWidget *chat)
{
    if (Holding(chat) == this)
        TearOff(chat);
    else
        TakeBack(chat);
}

void TChatWorkspace::Select(QWidget *chat)
{
    m_tabs->setCurrentWidget(chat);
}

QList<QWidget *> TChatWorkspace::Chats() const
{
    QList<QWidget *> out;
    for (int i = 0; i < m_tabs->count(); ++i)
        out << m_tabs->widget(i);
    return out;
}

QWidget *TChatWorkspace::CurrentChat() const
{
    return m_tabs->currentWidget();
}

int TChatWorkspace::Unread(const QWidget *chat) const
{
    return qMax(0, chat->property(kChatLinesProperty).toInt() - m_seen.value(chat));
}

QString TChatWorkspace::TabText(const QWidget *chat) const
{
    const int index = m_tabs->indexOf(const_cast<QWidget *>(chat));
    return index < 0 ? QString() : m_tabs->tabText(index);
}

QString TChatWorkspace::TabLabel(int number, bool supporter, const QString &name, int unread, bool typing,
                                 bool ended, int key)
{
    QString shown = ShortText(OneLine(name).simplified(), kMaxTabName);
    // A "&" of the visitor's is shown, never taken for a mnemonic.
    shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
    QString text = supporter ? QStringLiteral("Supporter") : QStringLiteral("#") + QString::number(number);
    // The Alt+digit that reaches the chat.
    if (key > 0)
        text.prepend(QString::number(key) + QStringLiteral(": "));
    if (!shown.isEmpty())
        text += QLatin1Char(' ') + shown;
    if (unread > 0)
        text += QStringLiteral(" (") + QString::number(unread) + QLatin1Char(')');
    if (ended)
        text += QStringLiteral(" - ended");
    else if (typing)
        text += QStringLiteral(" - typing...");
    return text;
}

void TChatWorkspace::UpdateTab(QWidget *chat)
{
    if (chat == m_tabs->currentWidget()) {
        // The tab in front is read only while the operator is in the workspace.
        if (isActiveWindow())
            m_seen[chat] = chat->property(kChatLinesProperty).toInt();
        setWindowTitle(chat->windowTitle());
    }
    const int index = m_tabs->indexOf(chat);
    if (index < 0)
        return;
    const QVariant number = chat->property(kChatNumberProperty);
    m_tabs->setTabText(index, TabLabel(number.toInt(), !number.isValid(), chat->property(kChatNameProperty).toString(),
                                       Unread(chat), chat->property(kChatTypingProperty).toBool(),
                                       chat->property(kChatEndedProperty).toBool(), ChatKeyNumber(chat)));
    m_tabs->setTabToolTip(index, chat->windowTitle());
}

void TChatWorkspace::CurrentChanged(int index)
{
    QWidget *chat = m_tabs->widget(index);
    // Tools beside the workspace act on the chat shown, never on one behind.
    if (m_current && m_current != chat)
        CloseExtraTools(m_current);
    m_current = chat;
    if (!chat)
        return;
    UpdateTab(chat);
    if (isActiveWindow()) {
        // Turning to a tab is what activating its window is to a chat.
        QEvent activate(QEvent::WindowActivate);
        QCoreApplication::sendEvent(chat, &activate);
    }
}

void TChatWorkspace::CloseExtraTools(QWidget *chat)
{
    auto *one = qobject_cast<TOneChatWindow *>(chat);
    if (one && one->ExtraToolsOpen())
        one->ExtraToolsOpenBtnClick();
}

void TChatWorkspace::FollowExtraTools()
{
    auto *one = qobject_cast<TOneChatWindow *>(m_tabs->currentWidget());
    if (one && one->ExtraToolsOpen())
        one->RecalceExtraDialog();
}

void TChatWorkspace::TabMenu(const QPoint &at)
{
    const int index = m_tabs->tabBar()->tabAt(at);
    QWidget *chat = m_tabs->widget(index);
    if (!chat)
        return;
    QMenu menu(this);
    QAction *out = menu.addAction(kMoveOut);
    QPointer<QWidget> target(chat);
    if (menu.exec(m_tabs->tabBar()->mapToGlobal(at)) == out && target)
        TearOff(target);
}

bool TChatWorkspace::eventFilter(QObject *watched, QEvent *event)
{
    auto *chat = static_cast<QWidget *>(watched);
    if (event->type() == QEvent::DynamicPropertyChange) {
        UpdateTab(chat);
    } else if (event->type() == QEvent::Move && chat->isWindow() && chat->isVisible()) {
        m_moved = chat;
        m_dropCheck.start();
    }
    return QWidget::eventFilter(watched, event);
}

QString TChatWorkspace::SavedGeometry() const
{
    return m_placed ? QString::fromLatin1(saveGeometry().toHex()) : QString();
}

void TChatWorkspace::RestoreGeometry(const QString &saved)
{
    if (!saved.isEmpty() && saved.size() <= kMaxSavedGeometry && restoreGeometry(QByteArray::fromHex(saved.toLatin1())))
        m_placed = true;
}

void TChatWorkspace::closeEvent(QCloseEvent *event)
{
    if (m_tabs->count() == 0) {
        event->accept();
        return;
    }
    // Each chat ends on its own, with its own questions; none is lost here.
    event->ignore();
    ShowBox(QStringLiteral("End the chats in this window first (End chat or Ctrl+W in each), or move them to windows "
                           "of their own (Ctrl+Shift+M)."),
            QStringLiteral("Chats"), BoxIcon::Information, BoxButtons::Ok, this);
}

void TChatWorkspace::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    FollowExtraTools();
}

void TChatWorkspace::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    FollowExtraTools();
}

void TChatWorkspace::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized())
        CloseExtraTools(m_tabs->currentWidget());
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && m_tabs->currentWidget())
        UpdateTab(m_tabs->currentWidget());
}

void TurnToChat(QWidget *chat)
{
    if (!chat)
        return;
    QWidget *focus = chat->findChild<QPlainTextEdit *>(QStringLiteral("InputText"));
    if (TChatWorkspace *workspace = TChatWorkspace::Holding(chat)) {
        workspace->Select(chat);
        TurnTo(workspace, focus);
        return;
    }
    TurnTo(chat, focus);
}

} // namespace velmora
