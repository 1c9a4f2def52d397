#include "config/ui/UserSetupDlg.h"

#include "config/ProgramConfig.h"
#include "config/ui/SetupPages.h"
#include "config/ui/TeamArchivePage.h"
#include "diag/Boxes.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QVBoxLayout>

namespace velmora {

namespace {
// Enabled input fields pale yellow, fields switched off by a check box grey.
const char kFieldColours[] =
    "QLineEdit, QComboBox { background-color: #F9FAC5; }"
    "QLineEdit:disabled, QComboBox:disabled { background-color: #C0C0C0; color: #505050; }"
    // Hidden values (Auth Value, mail password) show as "*".
    "QLineEdit { lineedit-password-character: 42; }";
} // namespace

TUserSetupDlg::TUserSetupDlg(TProgramConfig &store, ISetupHost &host, QWidget *parent)
    : QDialog(parent), m_store(store), m_host(host)
{
    setObjectName(QStringLiteral("UserSetupDlg"));
    setWindowTitle(QStringLiteral("  Program Setup dialog"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setStyleSheet(QString::fromLatin1(kFieldColours));

    NoteLbl = new QLabel(this);
    NoteLbl->setObjectName(QStringLiteral("NoteLbl"));
    NoteLbl->setWordWrap(true);
    NoteLbl->hide();

    PageControl = new QTabWidget(this);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    // All seven tabs in view: the dialog grows to fit them.
    PageControl->setUsesScrollButtons(false);
    const QList<TSetupPage *> pages = {new TSupportPage, new TWebIpPage,  new TColorsPage,   new TGeneralPage,
                                       new TSoundPage,   new TMailPage,   new TReconnectPage, new TTeamArchivePage};
    for (TSetupPage *page : pages) {
        PageControl->addTab(page, page->Title());
        connect(page, &TSetupPage::Changed, this, [this] { ApplyBtn->setEnabled(true); });
    }
    connect(PageControl, &QTabWidget::currentChanged, this, &TUserSetupDlg::TabChanged);

    OkBtn = new QPushButton(QStringLiteral("OK"), this);
    OkBtn->setObjectName(QStringLiteral("OkBtn"));
    OkBtn->setToolTip(QStringLiteral("Save changes and close this dialog"));
    OkBtn->setDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setToolTip(QStringLiteral("Restore any chnages made and close this dialog."));
    ApplyBtn = new QPushButton(QStringLiteral("Apply"), this);
    ApplyBtn->setObjectName(QStringLiteral("ApplyBtn"));
    ApplyBtn->setToolTip(QStringLiteral("Save changes"));
    ApplyBtn->setEnabled(false);
    // Enter in a field must not press OK behind the operator's back with a
    // half-typed value: only a click or the default key on the buttons does.
    ApplyBtn->setAutoDefault(false);
    CancelBtn->setAutoDefault(false);
    connect(OkBtn, &QPushButton::clicked, this, &TUserSetupDlg::OkBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &TUserSetupDlg::CancelBtnClick);
    connect(ApplyBtn, &QPushButton::clicked, this, &TUserSetupDlg::ApplyPage);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OkBtn);
    buttons->addWidget(CancelBtn);
    buttons->addWidget(ApplyBtn);
    auto *column = new QVBoxLayout(this);
    column->addWidget(NoteLbl);
    column->addWidget(PageControl, 1);
    column->addLayout(buttons);
    resize(760, 600);

    FillPage(0);
}

void TUserSetupDlg::Execute(TProgramConfig &store, ISetupHost &host, QWidget *parent, Start start)
{
    // On the heap: if the parent goes while the dialog runs, it takes the
    // dialog along.
    QPointer<TUserSetupDlg> dialog = new TUserSetupDlg(store, host, parent);
    if (start == Start::FirstStart)
        dialog->ShowFirstStart();
    dialog->exec();
    delete dialog.data();
}

void TUserSetupDlg::ShowFirstStart()
{
    for (int i = 0; i < PageCount(); ++i)
        if (qobject_cast<TWebIpPage *>(Page(i)))
            ShowPage(i);
    NoteLbl->setText(QStringLiteral(
        "Nothing is set up yet. To connect, enter the Client ID, Server URL and Server Port of your chat server "
        "account (and its Auth Value, if it has one), click OK, then click the connect button."));
    NoteLbl->show();
}

int TUserSetupDlg::CurrentPage() const { return PageControl->currentIndex(); }
int TUserSetupDlg::PageCount() const { return PageControl->count(); }
TSetupPage *TUserSetupDlg::Page(int index) const { return qobject_cast<TSetupPage *>(PageControl->widget(index)); }

void TUserSetupDlg::FillPage(int page)
{
    TSetupPage *p = Page(page);
    if (!p)
        return;
    p->Fill(Settings());
    m_helpContext = p->HelpContext();
    CancelBtn->setEnabled(true);
    ApplyBtn->setEnabled(false);
}

bool TUserSetupDlg::ApplyPage()
{
    TSetupPage *page = Page(CurrentPage());
    if (!page)
        return false;
    // Converted on a copy: a field that stops the apply leaves the record, the
    // store and the timers as they were, instead of half a page applied.
    TSettings changed = Settings();
    if (!page->Collect(changed))
        return false;
    Settings() = changed;
    WriteSettingsPage(m_store, Settings(), page->Page());
    ApplyBtn->setEnabled(false);
    m_host.SettingsPageApplied(page->Page());
    return true;
}

bool TUserSetupDlg::ShowPage(int page)
{
    PageControl->setCurrentIndex(page);
    return CurrentPage() == page;
}

void TUserSetupDlg::TabChanged(int index)
{
    if (index == m_shownPage)
        return;
    if (ApplyBtn->isEnabled()) {
        {
            const QSignalBlocker block(PageControl);
            PageControl->setCurrentIndex(m_shownPage);
        }
        ShowBox(QStringLiteral("Data has not been saved, click Apply or Cancel"), QStringLiteral("ERROR"));
        return;
    }
    m_shownPage = index;
    FillPage(index);
}

void TUserSetupDlg::OkBtnClick()
{
    if (ApplyBtn->isEnabled() && !ApplyPage())
        return; // the box has said what to correct; the dialog stays
    accept();
}

void TUserSetupDlg::CancelBtnClick()
{
    reject();
}

void TUserSetupDlg::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_F1) {
        m_host.ShowHelp(m_helpContext);
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace velmora
