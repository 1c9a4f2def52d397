#pragma once
// "Chats in one window": chat windows open as tabs of one workspace window
// beside the call list. A tab shows the chat's number and visitor, the count
// of visitor lines that came while it was not the current tab, whether the
// visitor types, and whether the chat has ended. A tab leaves for a window of
// its own (dragged off the tab bar, its menu, Ctrl+Shift+M) and comes back
// (its dock handle dragged onto the workspace or clicked, the window dropped
// on the tab bar where the window manager tells us of the move, the
// conversation's menu, Ctrl+Shift+M).
#include <QHash>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <optional>

class QMimeData;
class QTabWidget;

namespace velmora {

class TChatWorkspace : public QWidget {
    Q_OBJECT
public:
    // The console has one: the one made last, until it goes.
    explicit TChatWorkspace(QWidget *parent = nullptr);
    ~TChatWorkspace() override;
    static TChatWorkspace *Instance();

    // A chat window that is about to show itself: when chats go in one
    // window it becomes a tab (true) and must not show itself.
    static bool Adopt(QWidget *chat);
    // The workspace whose tab `chat` is, or null.
    static TChatWorkspace *Holding(const QWidget *chat);
    // A chat going out of sight (it ends): its tab goes at once, a window
    // hides. With `keysOnward` (the operator ended it) the next open chat
    // comes in front with the keys.
    static void PutAway(QWidget *chat, bool keysOnward = false);

    // A new tab; it becomes current only while the operator is not typing in
    // another tab, and it never takes the keyboard.
    void AddChat(QWidget *chat);
    // The chat in a window of its own, its top-left corner at `at` (global)
    // or, without one, beside the workspace; it takes the keyboard.
    void TearOff(QWidget *chat, std::optional<QPoint> at = std::nullopt);
    // A chat window back into a tab, the current one.
    void TakeBack(QWidget *chat);
    // A torn-off window the operator let go of at `global`: back into a tab
    // when that is on the tab bar.
    bool TakeBackIfDropped(QWidget *chat, const QPoint &global);
    // What a chat window's dock handle drags: it names the chat, for this
    // program only.
    static QMimeData *DragData(const QWidget *chat);
    // A chat's drag let go of at `at` (in this window): it comes back as a tab,
    // before the tab under `at` if any. False for anything else.
    bool DropChat(const QMimeData *data, const QPoint &at);
    // Makes `chat`'s tab the current one.
    void Select(QWidget *chat);

    QList<QWidget *> Chats() const;
    QWidget *CurrentChat() const;
    // Visitor lines that came while the tab was not current.
    int Unread(const QWidget *chat) const;
    QString TabText(const QWidget *chat) const;
    QTabWidget *Tabs() const { return m_tabs; }

    // Size and place as the settings keep them (hex); empty while never shown.
    QString SavedGeometry() const;
    void RestoreGeometry(const QString &saved);

    // Text for a tab: untrusted names stay plain, short and on one line.
    // `key` is the Alt+digit that reaches the chat, 0 for none.
    static QString TabLabel(int number, bool supporter, const QString &name, int unread, bool typing, bool ended,
                            int key = 0);
    // Renews the tab's text (its Alt+digit included).
    void UpdateTab(QWidget *chat);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    // The known chat a drag names, or null.
    QWidget *DraggedChat(const QMimeData *data) const;
    // The dock handle shows while the chat is a window of its own.
    void ShowDockHandle(QWidget *chat);
    void Know(QWidget *chat);
    void CurrentChanged(int index);
    void ToggleHome(QWidget *chat);
    void ShowQuietly();
    // Beside the call list the first time it shows; where the operator left it after.
    void PlaceOnce();
    void PlaceBesideCallList();
    void CloseExtraTools(QWidget *chat);
    void FollowExtraTools();
    void TabMenu(const QPoint &at);

    QTabWidget *m_tabs;
    QPointer<QWidget> m_current;
    // Visitor lines of each chat seen while its tab was current.
    QHash<const QWidget *, int> m_seen;
    // Chats that came through here, in tabs or torn off.
    QList<QPointer<QWidget>> m_known;
    // A torn-off window that moved: looked at once it stays put.
    QPointer<QWidget> m_moved;
    QTimer m_dropCheck;
    bool m_placed = false;
};

// The operator turns to a chat (a key of ours, a notice, its extra tools):
// its window, or the workspace with its tab made current, comes to the front
// and the keyboard goes into the chat's message input while it takes text.
void TurnToChat(QWidget *chat);

// Alt+1 ... Alt+9 reach the first nine open chats.
inline constexpr int kChatKeys = 9;
// The customer chats open on the screen, in windows and tabs, in the order
// they are listed (by their numbers).
QList<QWidget *> OpenChats();
// The Alt+digit of `chat` (1 ... 9), or 0 when it has none.
int ChatKeyNumber(const QWidget *chat);
// The chats' Alt+digits changed (one came or went): the tabs say so.
void RenumberChats();

} // namespace velmora
