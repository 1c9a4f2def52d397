#include "shortcuts/ui/ShortcutDispDlg.h"

#include "diag/Boxes.h"

#include <QFocusEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTreeWidget>

namespace velmora {
namespace {

constexpr int kWidth = 520;
constexpr int kMargin = 8;
constexpr int kButtonWidth = 100;
constexpr int kButtonHeight = 25;
constexpr int kLinkHeight = 22;

const QString kLinkPrompt = QStringLiteral(" Select a shortcut or manualy write it down here !.");

// Report-style grid lines around every cell.
class GridDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        painter->save();
        painter->setPen(option.palette.color(QPalette::Mid));
        painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
        painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
        painter->restore();
    }
};

// One row per record: line breaks of a canned answer would only clip it.
QString RowText(QString text)
{
    text.replace(QLatin1String("\r\n"), QStringLiteral(" "));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

bool IsKeyboardFocus(const QEvent *event)
{
    if (event->type() != QEvent::FocusIn)
        return false;
    const Qt::FocusReason reason = static_cast<const QFocusEvent *>(event)->reason();
    return reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason
           || reason == Qt::ShortcutFocusReason;
}

} // namespace

TShortcutDispDlg::TShortcutDispDlg(QWidget *owner, Mode mode, const QString &col1,
                                   const QString &col2, const TTitleDataClass &list)
    : QDialog(owner), m_mode(mode), m_list(list)
{
    const bool urls = mode == Mode::PushUrls;
    setWindowTitle(urls ? QStringLiteral(" Push URL selection dialog.")
                        : QStringLiteral(" Canned Answer selection dialog."));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    ShortcutsListBox = new QTreeWidget(this);
    ShortcutsListBox->setObjectName(QStringLiteral("ShortcutsListBox"));
    ShortcutsListBox->setColumnCount(2);
    ShortcutsListBox->setHeaderLabels({col1, col2});
    ShortcutsListBox->setRootIsDecorated(false);
    ShortcutsListBox->setItemsExpandable(false);
    ShortcutsListBox->setUniformRowHeights(true);
    ShortcutsListBox->setSelectionMode(QAbstractItemView::SingleSelection);
    ShortcutsListBox->setSelectionBehavior(QAbstractItemView::SelectRows);
    ShortcutsListBox->setAllColumnsShowFocus(true);
    ShortcutsListBox->setItemDelegate(new GridDelegate(ShortcutsListBox));
    ShortcutsListBox->setMouseTracking(true); // hot tracking
    ShortcutsListBox->viewport()->setAttribute(Qt::WA_Hover);
    ShortcutsListBox->header()->setStretchLastSection(true);
    ShortcutsListBox->setColumnWidth(0, 160);
    ShortcutsListBox->viewport()->installEventFilter(this);
    ShortcutsListBox->installEventFilter(this);
    connect(ShortcutsListBox, &QTreeWidget::itemDoubleClicked, this, [this] {
        ShortcutsListBoxClick();
        SelectBtnClick();
    });

    if (urls) {
        URL_FileLink = new QLineEdit(kLinkPrompt, this);
        URL_FileLink->setObjectName(QStringLiteral("URL_FileLink"));
        URL_FileLink->installEventFilter(this);
    }

    SelectBtn = new QPushButton(urls ? QStringLiteral("Push to User") : QStringLiteral("Select"), this);
    SelectBtn->setDefault(true); // Enter
    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setAutoDefault(false);
    connect(SelectBtn, &QPushButton::clicked, this, &TShortcutDispDlg::SelectBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &TShortcutDispDlg::CancelBtnClick);

    const int height = urls ? 230 : 200;
    setMinimumSize(360, height);
    resize(kWidth, height);
    PlaceControls();
    FillList();
    ShortcutsListBox->setFocus();
}

QString TShortcutDispDlg::Choose(QWidget *owner, Mode mode, const QString &col1,
                                 const QString &col2, const TTitleDataClass &list)
{
    // On the heap: the owner (a chat window) may be destroyed while the dialog
    // runs, and then takes the dialog with it.
    QPointer<TShortcutDispDlg> dialog = new TShortcutDispDlg(owner, mode, col1, col2, list);
    dialog->setWindowFlag(Qt::WindowStaysOnTopHint);
    dialog->exec();
    if (!dialog)
        return {};
    const QString result = dialog->Result();
    delete dialog.data();
    return result;
}

void TShortcutDispDlg::FillList()
{
    // Filled once, so row i always stands for record i.
    for (int i = 0; i < m_list.Count(); ++i) {
        const ShortcutRecord record = m_list.Get(i);
        // Item text is drawn as plain text; a title never becomes markup.
        auto *row = new QTreeWidgetItem(ShortcutsListBox, {RowText(record.Title), RowText(record.Text)});
        row->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren);
    }
}

// The button row sits 50 pixels above the bottom: at 150 in the 200-pixel
// dialog, at 180 in the 230-pixel one whose typed-URL field takes the 30 more.
void TShortcutDispDlg::PlaceControls()
{
    const int w = width();
    const int buttonTop = height() - 50;
    const int listBottom = URL_FileLink ? buttonTop - 30 : buttonTop;
    ShortcutsListBox->setGeometry(kMargin, kMargin, w - 2 * kMargin, listBottom - 2 * kMargin);
    if (URL_FileLink)
        URL_FileLink->setGeometry(kMargin, listBottom, w - 2 * kMargin, kLinkHeight);
    SelectBtn->setGeometry(w / 2 - kButtonWidth - kMargin, buttonTop, kButtonWidth, kButtonHeight);
    CancelBtn->setGeometry(w / 2 + kMargin, buttonTop, kButtonWidth, kButtonHeight);
}

void TShortcutDispDlg::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    PlaceControls();
}

bool TShortcutDispDlg::eventFilter(QObject *watched, QEvent *event)
{
    const bool press = event->type() == QEvent::MouseButtonPress;
    if (URL_FileLink && watched == URL_FileLink && (press || IsKeyboardFocus(event)))
        URL_FileLinkClick();
    else if ((watched == ShortcutsListBox->viewport() && press)
             || (watched == ShortcutsListBox && IsKeyboardFocus(event)))
        ShortcutsListBoxClick();
    return QDialog::eventFilter(watched, event);
}

void TShortcutDispDlg::ShortcutsListBoxClick()
{
    m_source = EntrySource::List;
}

void TShortcutDispDlg::URL_FileLinkClick()
{
    if (!URL_FileLink)
        return;
    m_source = EntrySource::Typed;
    if (!m_linkTouched) {
        m_linkTouched = true;
        URL_FileLink->clear();
    }
}

void TShortcutDispDlg::SelectBtnClick()
{
    if (m_source == EntrySource::List) {
        // Enter takes the row the keyboard is on, selected or only current.
        const QList<QTreeWidgetItem *> selected = ShortcutsListBox->selectedItems();
        QTreeWidgetItem *row = selected.isEmpty() ? ShortcutsListBox->currentItem() : selected.first();
        const int index = row ? ShortcutsListBox->indexOfTopLevelItem(row) : -1;
        m_result = index >= 0 ? m_list.Get(index).Text : QString();
        // A stored shortcut is checked like a typed address: the file may hold
        // anything, and what is pushed opens in the visitor's browser.
        if (m_mode == Mode::PushUrls && !m_result.isEmpty() && !HasUrlPrefix(m_result)) {
            m_result.clear();
            ShowBox(QString::fromLatin1(kMissingUrlPrefixText), QStringLiteral("Warning"), BoxIcon::None,
                    BoxButtons::Ok);
            return;
        }
        accept();
        return;
    }
    const QString typed = URL_FileLink->text();
    if (typed.isEmpty()) {
        ShowBox(QStringLiteral("Empty value, click Cancel or choose/write a valid URL !."),
                QStringLiteral("Warning"), BoxIcon::None, BoxButtons::Ok);
        return;
    }
    if (!HasUrlPrefix(typed)) {
        ShowBox(QString::fromLatin1(kMissingUrlPrefixText),
                QStringLiteral("Warning"), BoxIcon::None, BoxButtons::Ok);
        return;
    }
    m_result = typed;
    accept();
}

void TShortcutDispDlg::CancelBtnClick()
{
    m_result.clear();
    reject();
}

} // namespace velmora
