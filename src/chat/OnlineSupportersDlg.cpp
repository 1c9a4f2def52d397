#include "chat/OnlineSupportersDlg.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace velmora {

namespace {
// Room around a port number in its cell.
constexpr int kPortPadding = 24;
} // namespace

TOnlineSupportersDlg::TOnlineSupportersDlg(const QList<SupporterRow> &rows, const QString &caption,
                                           QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint)
{
    setWindowTitle(caption.isEmpty() ? QStringLiteral("Support list in group :") : caption);

    SupportListView = new QTreeWidget(this);
    SupportListView->setObjectName(QStringLiteral("SupportListView"));
    SupportListView->setColumnCount(2);
    SupportListView->setHeaderLabels({QStringLiteral("Supporter Name"), QStringLiteral("Remote Port Value")});
    SupportListView->setRootIsDecorated(false);
    SupportListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    SupportListView->setSelectionMode(QAbstractItemView::SingleSelection);
    SupportListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (const SupporterRow &row : rows) {
        // Names come from other consoles through the server: plain text only,
        // which QTreeWidgetItem shows as it is.
        auto *item = new QTreeWidgetItem(SupportListView);
        item->setText(0, row.name);
        item->setText(1, QString::number(row.port));
    }
    // The name is what the operator chooses by: it takes the width. The port
    // keeps a narrow column of its own at the right, as wide as its numbers
    // (its long caption is shortened, and shown whole as the tooltip).
    QHeaderView *header = SupportListView->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    header->setSectionResizeMode(1, QHeaderView::Fixed);
    const QFontMetrics metrics(SupportListView->font());
    int portWidth = metrics.horizontalAdvance(QStringLiteral("000000"));
    for (const SupporterRow &row : rows)
        portWidth = qMax(portWidth, metrics.horizontalAdvance(QString::number(row.port)));
    SupportListView->setColumnWidth(1, portWidth + kPortPadding);
    SupportListView->headerItem()->setToolTip(1, QStringLiteral("Remote Port Value"));
    connect(SupportListView, &QTreeWidget::itemDoubleClicked, this, [this] { OpenSelectedClick(); });

    OpenBtn = new QPushButton(QStringLiteral("Open Selected"), this);
    OpenBtn->setDefault(true);
    OpenBtn->setAutoDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    connect(OpenBtn, &QPushButton::clicked, this, [this] { OpenSelectedClick(); });
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OpenBtn);
    buttons->addWidget(CancelBtn);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(SupportListView);
    layout->addLayout(buttons);
    resize(360, 240);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
}

void TOnlineSupportersDlg::OpenSelectedClick()
{
    // Enter takes the row the keyboard is on, selected or only current.
    const QList<QTreeWidgetItem *> selected = SupportListView->selectedItems();
    QTreeWidgetItem *row = selected.isEmpty() ? SupportListView->currentItem() : selected.first();
    if (!row) {
        // The dialog stays open for another choice.
        ShowBox(QStringLiteral("No supporter was selected, select one or click the Cancel button"),
                QStringLiteral("Error"));
        return;
    }
    m_chosen = SupportListView->indexOfTopLevelItem(row);
    accept();
}

int TOnlineSupportersDlg::Choose(const QList<SupporterRow> &rows, const QString &caption)
{
    // On the heap: a program exit while it is open takes it along.
    QPointer<TOnlineSupportersDlg> dialog = new TOnlineSupportersDlg(rows, caption);
    const int result = dialog->exec();
    if (!dialog)
        return -1;
    const int chosen = result == QDialog::Accepted ? dialog->Chosen() : -1;
    delete dialog.data();
    return chosen;
}

} // namespace velmora
