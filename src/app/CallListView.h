#pragma once
// The main window's call list: a read-only report view over TCallList with
// the status icons, and the pop-up menu whose commands act on the selected
// call through TCalls.
#include <QTreeView>

#include <functional>

class QAction;
class QMenu;

namespace velmora {

class TCalls;

class TCallListView : public QTreeView {
    Q_OBJECT
public:
    explicit TCallListView(TCalls &calls, QWidget *parent = nullptr);

    // The first selected row, -1 when none.
    int SelectedRow() const;
    // Enables the pop-up items for the current selection (runs before the menu opens).
    void ViewListPopUpPopup();
    // Widens every column that is narrower than its contents (never narrows one
    // the operator widened); runs whenever rows change.
    void FitColumns();
    // The width a column needs for its caption and the longest status or time
    // it can hold, from the fonts alone: measuring the rows would lay out
    // every item, which FitColumns does only once there are rows.
    int ContentWidth(int column) const;
    // What the rows now shown need (public for the column checks).
    using QTreeView::sizeHintForColumn;

    QMenu *ViewListPopUp = nullptr;
    QAction *OpenChat1 = nullptr;
    QAction *Disconnect1 = nullptr;
    QAction *UpdateEmail1 = nullptr;
    QAction *ClearStatDisplay1 = nullptr;
    QAction *PastChats1 = nullptr;
    // The selected row's visitor (e-mail, else name) asks for their past chats.
    std::function<void(const QString &visitor)> ShowPastChats;
    QString SelectedVisitor() const;

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    // A returning visitor's row tells of their earlier chats in its tip.
    bool viewportEvent(QEvent *event) override;

private:
    TCalls &m_calls;
    bool m_fitQueued = false;
};

// The image-list picture of a status icon index (null when none exists).
QIcon CallListIcon(int index);

} // namespace velmora
