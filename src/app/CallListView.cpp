#include "app/CallListView.h"

#include "archive/ArchiveRecorder.h"
#include "session/Calls.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QHelpEvent>
#include <QToolTip>
#include <QHeaderView>
#include <QLocale>
#include <QMouseEvent>
#include <QTime>
#include <QTimer>
#include <QMenu>
#include <QStyledItemDelegate>

#if __has_include(<Resources.h>)
#include <Resources.h>
#define VELMORA_HAS_RESOURCES 1
#endif

namespace velmora {

QIcon CallListIcon(int index)
{
#ifdef VELMORA_HAS_RESOURCES
    return StatusIcon(index);
#else
    Q_UNUSED(index);
    return QIcon();
#endif
}

namespace {

// Underlines the row under the mouse, as a hot-tracked report list does.
class HotRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (option->state & QStyle::State_MouseOver)
            option->font.setUnderline(true);
        // A long site keeps its start and its domain.
        if (index.column() == ColWebSite)
            option->textElideMode = Qt::ElideMiddle;
    }
};

} // namespace

TCallListView::TCallListView(TCalls &calls, QWidget *parent) : QTreeView(parent), m_calls(calls)
{
    TCallList &list = calls.CallList();
    list.SetIconProvider([](int index) { return QVariant(CallListIcon(index)); });
    setModel(&list);

    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSortingEnabled(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setAllColumnsShowFocus(true);
    setMouseTracking(true);
    setItemDelegate(new HotRowDelegate(this));
    header()->setSectionsClickable(false);
    header()->setSectionsMovable(false);
    // The operator may still drag every column; the last one takes the rest.
    header()->setSectionResizeMode(QHeaderView::Interactive);
    header()->setStretchLastSection(true);
    header()->setTextElideMode(Qt::ElideNone);
    setColumnHidden(ColHidden, true);
    for (int column = 0; column < kCallColumnCount; ++column)
        setColumnWidth(column, qMax(TCallList::ColumnWidth(column), ContentWidth(column)));
    // Names, sites and addresses arrive later; their columns grow with them.
    const auto queueFit = [this] {
        if (m_fitQueued)
            return;
        m_fitQueued = true;
        QTimer::singleShot(0, this, [this] {
            m_fitQueued = false;
            FitColumns();
        });
    };
    connect(&list, &QAbstractItemModel::rowsInserted, this, queueFit);
    connect(&list, &QAbstractItemModel::dataChanged, this, queueFit);
    connect(&list, &QAbstractItemModel::modelReset, this, queueFit);
    if (list.rowCount() > 0)
        queueFit();
    setToolTip(QStringLiteral("Click mouse right button to open the popup menu"));

    // The selection stays visible when the list loses the focus.
    QPalette p = palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(p);

    ViewListPopUp = new QMenu(this);
    OpenChat1 = ViewListPopUp->addAction(QStringLiteral("&Open Chat"));
    Disconnect1 = ViewListPopUp->addAction(QStringLiteral("&Disconnect"));
    ViewListPopUp->addSeparator();
    UpdateEmail1 = ViewListPopUp->addAction(QStringLiteral("Update e-mail"));
    ViewListPopUp->addSeparator();
    ClearStatDisplay1 = ViewListPopUp->addAction(QStringLiteral("Clear Stat Display"));
    PastChats1 = ViewListPopUp->addAction(QStringLiteral("&Past chats with this visitor"));
    connect(PastChats1, &QAction::triggered, this, [this] {
        if (ShowPastChats)
            ShowPastChats(SelectedVisitor());
    });
    connect(ViewListPopUp, &QMenu::aboutToShow, this, &TCallListView::ViewListPopUpPopup);
    connect(OpenChat1, &QAction::triggered, this, [this] { m_calls.OpenChatAtRow(SelectedRow()); });
    connect(Disconnect1, &QAction::triggered, this, [this] { m_calls.DropCallAtRow(SelectedRow()); });
    connect(UpdateEmail1, &QAction::triggered, this, [this] { m_calls.UpdateEmailAtRow(SelectedRow()); });
    connect(ClearStatDisplay1, &QAction::triggered, this, [this] { m_calls.ClearStatDisplay(); });
}

int TCallListView::ContentWidth(int column) const
{
    const QFontMetrics fm(font());
    const QFontMetrics headerFm(header()->font());
    // Cell padding of the style, both sides, plus a little air.
    const int padding = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1) + 12;
    int text = headerFm.horizontalAdvance(TCallList::ColumnCaption(column)) + 8;
    switch (column) {
    case ColStatus: {
        int longest = 0;
        for (int status = 0; status < kCallStatusCount; ++status)
            longest = qMax(longest, fm.horizontalAdvance(CallStatusText(status)));
        const int icon = iconSize().isValid() ? iconSize().width() : style()->pixelMetric(QStyle::PM_SmallIconSize);
        text = qMax(text, longest + icon + 6);
        break;
    }
    case ColStartTime:
    case ColEndTime: {
        // The longest time of the day in the system's format ("23:59:59 PM UTC").
        int longest = 0;
        for (int hour : {0, 11, 12, 20, 23})
            longest = qMax(longest,
                           fm.horizontalAdvance(QLocale::system().toString(QTime(hour, 58, 58), QLocale::LongFormat)));
        text = qMax(text, longest);
        break;
    }
    default:
        break;
    }
    return text + padding;
}

void TCallListView::FitColumns()
{
    // A long visitor's name still leaves room for the columns after it.
    constexpr int kMaxFitWidth = 320;
    constexpr int kMaxSiteWidth = 180;
    for (int column = 0; column < kCallColumnCount; ++column) {
        if (isColumnHidden(column))
            continue;
        // The site, often a long address, never pushes the times out of view.
        const int most = column == ColWebSite ? kMaxSiteWidth : kMaxFitWidth;
        const int wanted = qMin(most, qMax(ContentWidth(column), sizeHintForColumn(column)));
        if (columnWidth(column) < wanted)
            setColumnWidth(column, wanted);
    }
}

int TCallListView::SelectedRow() const
{
    if (!selectionModel())
        return -1;
    int first = -1;
    for (const QModelIndex &index : selectionModel()->selectedRows())
        if (first < 0 || index.row() < first)
            first = index.row();
    return first;
}

void TCallListView::ViewListPopUpPopup()
{
    const TCalls::PopupItems items = m_calls.ViewListPopUpItems(SelectedRow());
    OpenChat1->setEnabled(items.openChat);
    Disconnect1->setEnabled(items.disconnect);
    UpdateEmail1->setEnabled(items.updateEmail);
    ClearStatDisplay1->setEnabled(items.clearStatDisplay);
    PastChats1->setEnabled(ShowPastChats && !SelectedVisitor().isEmpty());
}

QString TCallListView::SelectedVisitor() const
{
    const int row = SelectedRow();
    if (row < 0)
        return QString();
    const QString email = model()->index(row, ColClientEmail).data().toString().trimmed();
    return email.isEmpty() ? model()->index(row, ColClientName).data().toString().trimmed() : email;
}

void TCallListView::keyPressEvent(QKeyEvent *event)
{
    // The keyboard's way to the pop-up menu (Shift+F10, as the Menu key) and
    // to a held call's chat (Enter, as "Open Chat").
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        const QRect row = visualRect(currentIndex());
        ViewListPopUp->popup(viewport()->mapToGlobal(row.isValid() ? row.center() : viewport()->rect().center()));
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
        ViewListPopUpPopup();
        if (OpenChat1->isEnabled())
            OpenChat1->trigger();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void TCallListView::contextMenuEvent(QContextMenuEvent *event)
{
    ViewListPopUp->popup(event->globalPos());
    event->accept();
}

void TCallListView::mouseMoveEvent(QMouseEvent *event)
{
    QTreeView::mouseMoveEvent(event);
    const bool overRow = indexAt(event->position().toPoint()).isValid();
    viewport()->setCursor(overRow ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

bool TCallListView::viewportEvent(QEvent *event)
{
    if (event->type() != QEvent::ToolTip)
        return QTreeView::viewportEvent(event);
    // The reader is opened on the archive's own timer; a locked file
    // gives no tip rather than a wait.
    TArchiveRecorder *archive = ArchiveRecorder();
    TArchiveDb *reader = archive ? archive->Reader() : nullptr;
    if (!reader)
        return QTreeView::viewportEvent(event);
    auto *help = static_cast<QHelpEvent *>(event);
    const QModelIndex at = indexAt(help->pos());
    QString tip;
    if (at.isValid()) {
        auto cell = [&](int column) { return model()->index(at.row(), column).data().toString().trimmed(); };
        // Chats before this call: it may be in the archive itself already.
        const qint64 before = m_calls.CallList().RowStarted(at.row());
        tip = EarlierChatsText(reader->Earlier(cell(ColClientEmail), cell(ColClientName), cell(ColWebSite), before));
        // Over the site, the whole of it (its column may shorten it).
        if (at.column() == ColWebSite && !cell(ColWebSite).isEmpty())
            tip = tip.isEmpty() ? cell(ColWebSite) : cell(ColWebSite) + QLatin1Char('\n') + tip;
    }
    if (tip.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), tip, viewport());
    return true;
}

void TCallListView::leaveEvent(QEvent *event)
{
    QTreeView::leaveEvent(event);
    viewport()->unsetCursor();
}

} // namespace velmora
