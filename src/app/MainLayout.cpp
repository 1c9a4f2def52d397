// The main window's controls and menus: the connection and sound buttons,
// the counter panels, the busy picture, the status bar, the menu bar, and the
// menus greyed while connected.
#include "app/Servermain.h"

#include "Resources.h"
#include "app/AboutBox.h"
#include "app/HelpWindow.h"
#include "chat/ChatWorkspace.h"
#include "diag/SafeText.h"
#include "diag/ui/DebugWinDlg.h"
#include "shortcuts/ui/EditCannedMsgsDlg.h"

#include <QAction>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMovie>
#include <QPointer>
#include <QScreen>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace velmora {
namespace {

constexpr int kMinWidth = 300;
constexpr int kMinHeight = 200;
const char kSetUpTip[] = "Open program configuration dialog.";
const char kLoadConfigTip[] = "Load a previous save configuration file";

} // namespace

void TMainForm::BuildControls()
{
    setWindowIcon(AppIcon());
    setMinimumSize(kMinWidth, kMinHeight);
    // Wide enough for every column of the call list at the default font.
    resize(800, 320);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    auto *central = new QWidget(this);
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto *top = new QWidget(central);
    auto *topRow = new QHBoxLayout(top);
    topRow->setContentsMargins(2, 2, 2, 2);
    topRow->setSpacing(4);

    PanelUnderMenue = new QWidget(top);
    PanelUnderMenue->setObjectName(QStringLiteral("PanelUnderMenue"));
    PanelUnderMenue->setFixedHeight(46);
    auto *buttons = new QHBoxLayout(PanelUnderMenue);
    buttons->setContentsMargins(2, 2, 2, 2);
    auto makeButton = [this](const QString &name, const QString &hint) {
        auto *b = new QToolButton(PanelUnderMenue);
        b->setObjectName(name);
        b->setToolTip(hint);
        b->setIconSize(QSize(32, 32));
        b->setAutoRaise(true);
        b->setFixedSize(40, 40);
        return b;
    };
    WebSbtnClickBtn = makeButton(QStringLiteral("WebSbtnClick"),
                                 QStringLiteral("To Connect or Disconnect from the\n\rserver click this button."));
    SoundFromMainBtn = makeButton(QStringLiteral("SoundFromMainBtn"),
                                  QStringLiteral("Turn On/Off main sounds (not chat sounds)"));
    ChatWithOtherSupportBtn = makeButton(QStringLiteral("ChatWithOtherSupportBtn"),
                                         QStringLiteral("Open chat with another supporter from your group."));
    ChatWithOtherSupportBtn->setIcon(QIcon(Glyph("CALL_SUP")));
    ChatWithOtherSupportBtn->setEnabled(false);
    // Buttons for the mouse: the keyboard stays on the call list, where a
    // stray Space or Enter cannot log the operator out.
    for (QToolButton *button : {WebSbtnClickBtn, SoundFromMainBtn, ChatWithOtherSupportBtn})
        button->setFocusPolicy(Qt::NoFocus);
    connect(WebSbtnClickBtn, &QToolButton::clicked, this, [this] {
        if (TServerSession *session = m_console->SessionPtr())
            session->WebSbtnClick();
    });
    connect(SoundFromMainBtn, &QToolButton::clicked, this, &TMainForm::SoundFromMainBtnClick);
    connect(ChatWithOtherSupportBtn, &QToolButton::clicked, this, &TMainForm::ChatWithOtherSupportBtnClick);
    buttons->addWidget(WebSbtnClickBtn);
    buttons->addWidget(SoundFromMainBtn);
    buttons->addWidget(ChatWithOtherSupportBtn);

    auto makePanel = [this](const QString &name, const QString &first, QLabel *&firstValue, const QString &second,
                            QLabel *&secondValue) {
        auto *panel = new QFrame(PanelUnderMenue);
        panel->setObjectName(name);
        panel->setFrameShape(QFrame::StyledPanel);
        auto *grid = new QGridLayout(panel);
        grid->setContentsMargins(4, 1, 4, 1);
        grid->setVerticalSpacing(0);
        grid->addWidget(new QLabel(first, panel), 0, 0);
        grid->addWidget(new QLabel(second, panel), 1, 0);
        firstValue = new QLabel(QStringLiteral("0"), panel);
        secondValue = new QLabel(QStringLiteral("0"), panel);
        QFont bold = firstValue->font();
        bold.setBold(true);
        firstValue->setFont(bold);
        secondValue->setFont(bold);
        grid->addWidget(firstValue, 0, 1);
        grid->addWidget(secondValue, 1, 1);
        return panel;
    };
    buttons->addWidget(makePanel(QStringLiteral("Panel2"), QStringLiteral("Support's Online:"), OnLineSupCountLbl,
                                 QStringLiteral("Chat's limit:"), ChatLimitCountLbl));
    buttons->addWidget(makePanel(QStringLiteral("Panel1"), QStringLiteral("Auto OnHold :"), OutoAnsLbl,
                                 QStringLiteral("Idle Mode :"), IdleModLbl));
    buttons->addStretch(1);
    topRow->addWidget(PanelUnderMenue, 1);

    PanelUnderImage = new QWidget(top);
    PanelUnderImage->setObjectName(QStringLiteral("PanelUnderImage"));
    PanelUnderImage->setFixedSize(46, 46);
    GIFImage = new QLabel(PanelUnderImage);
    GIFImage->setGeometry(0, 0, 46, 46);
    GIFImage->setAlignment(Qt::AlignCenter);
    m_busyMovie = new QMovie(QString::fromLatin1(BusyAnimationPath), QByteArray(), this);
    GIFImage->setMovie(m_busyMovie);
    m_busyMovie->jumpToFrame(0);
    topRow->addWidget(PanelUnderImage);

    column->addWidget(top);
    setCentralWidget(central);

    m_statusPanel0 = new QLabel(QStringLiteral("Status:"), this);
    m_statusPanel0->setFixedWidth(50);
    m_statusPanel1 = new QLabel(this);
    m_statusPanel2 = new QLabel(this);
    m_statusPanel2->setFixedWidth(70);
    m_statusPanel2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    statusBar()->addWidget(m_statusPanel0);
    statusBar()->addWidget(m_statusPanel1, 1);
    m_mailStatus = new QLabel(this);
    m_mailStatus->setObjectName(QStringLiteral("MailStatus"));
    m_mailStatus->hide();
    statusBar()->addWidget(m_mailStatus);
    m_teamStatus = new QLabel(this);
    m_teamStatus->setObjectName(QStringLiteral("TeamArchiveStatus"));
    m_teamStatus->setTextFormat(Qt::PlainText);
    m_teamStatus->hide();
    statusBar()->addWidget(m_teamStatus);
    m_todayFigures = new QLabel(this);
    m_todayFigures->setObjectName(QStringLiteral("TodayFigures"));
    m_todayFigures->hide();
    statusBar()->addPermanentWidget(m_todayFigures);
    statusBar()->addPermanentWidget(m_statusPanel2);
}

void TMainForm::BuildMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    m_fileMenu = file;
    m_loadConfig = file->addAction(QStringLiteral("&Load Config"));
    m_loadConfig->setStatusTip(QString::fromLatin1(kLoadConfigTip));
    connect(m_loadConfig, &QAction::triggered, this, &TMainForm::LoadConfigClick);
    m_saveConfigAs = file->addAction(QStringLiteral("Save Config &As"));
    m_saveConfigAs->setStatusTip(QStringLiteral("Save current program settings as a different file name !."));
    connect(m_saveConfigAs, &QAction::triggered, this, &TMainForm::SaveConfigAsClick);
    m_historyAnchor = file->addSeparator();
    QAction *exit = file->addAction(QStringLiteral("E&xit"));
    exit->setStatusTip(QStringLiteral("Close program"));
    connect(exit, &QAction::triggered, this, [this] { ExitProcedure(true); });
    file->addSeparator();
    m_clearHistory = file->addAction(QStringLiteral("Clear &History"));
    m_clearHistory->setStatusTip(QStringLiteral("Clear the history file list"));
    connect(m_clearHistory, &QAction::triggered, this, &TMainForm::ClearHistoryClick);

    QMenu *configure = menuBar()->addMenu(QStringLiteral("&Configure"));
    // Greyed while connected, and the tip says why.
    file->setToolTipsVisible(true);
    configure->setToolTipsVisible(true);
    m_programSetUp = configure->addAction(QStringLiteral("Program Set &Up"));
    m_programSetUp->setStatusTip(QString::fromLatin1(kSetUpTip));
    connect(m_programSetUp, &QAction::triggered, this, &TMainForm::ProgramSetUpClick);
    configure->addSeparator();
    QAction *canned = configure->addAction(QStringLiteral("Ca&nned Answers"));
    connect(canned, &QAction::triggered, this, [this] {
        TEditCannedMsgsDlg::EditShortcuts(this, TEditCannedMsgsDlg::Mode::CannedMessages, CannedList());
    });
    configure->addSeparator();
    QAction *urls = configure->addAction(QStringLiteral("&Push URL shortcuts"));
    connect(urls, &QAction::triggered, this, [this] {
        TEditCannedMsgsDlg::EditShortcuts(this, TEditCannedMsgsDlg::Mode::PushUrls, UrlList());
    });

    configure->addSeparator();
    m_mailSendView = configure->addAction(QStringLiteral("&Mail Send View"));
    m_mailSendView->setStatusTip(QStringLiteral("Show the SMTP dialogue of the transcript mails"));
    connect(m_mailSendView, &QAction::triggered, this, [this] {
        if (m_debugWin) {
            m_debugWin->show();
            m_debugWin->raise();
        }
    });

    // The chat archive, beside the menus of the settings.
    QMenu *chats = menuBar()->addMenu(QStringLiteral("Chat&s"));
    m_pastChatsAction = chats->addAction(QStringLiteral("&Past chats..."));
    m_pastChatsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_H));
    m_pastChatsAction->setStatusTip(QStringLiteral("Search the chats kept on this computer."));
    connect(m_pastChatsAction, &QAction::triggered, this, [this] { ShowPastChats(); });
    m_myFiguresAction = chats->addAction(QStringLiteral("My &figures..."));
    m_myFiguresAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    m_myFiguresAction->setStatusTip(QStringLiteral("Your own counts, times and charts from the chats kept on this computer."));
    connect(m_myFiguresAction, &QAction::triggered, this, [this] { ShowMyFigures(); });
    // The open chats, each with the Alt+digit that reaches it.
    connect(chats, &QMenu::aboutToShow, this, [this, chats] {
        for (QAction *action : std::as_const(m_openChatActions))
            action->deleteLater();
        m_openChatActions.clear();
        const QList<QWidget *> open = OpenChats();
        if (!open.isEmpty())
            m_openChatActions << chats->addSeparator();
        for (QWidget *chat : open) {
            QString text = ShortText(OneLine(chat->windowTitle()).trimmed(), 60).replace(QLatin1Char('&'), QStringLiteral("&&"));
            if (const int key = ChatKeyNumber(chat))
                text += QStringLiteral("\tAlt+") + QString::number(key);
            QPointer<QWidget> target(chat);
            QAction *action = chats->addAction(text, this, [target] { TurnToChat(target); });
            m_openChatActions << action;
        }
    });
    QMenu *help = menuBar()->addMenu(QStringLiteral("&Help"));
    connect(help->addAction(QStringLiteral("Help &on help")), &QAction::triggered, this,
            [this] { ShowHelp(THelpWindow::HelpOnHelpContext); });
    connect(help->addAction(QStringLiteral("&Contents")), &QAction::triggered, this,
            [this] { ShowHelp(THelpWindow::ContentsContext); });
    connect(help->addAction(QStringLiteral("&Keyword Search")), &QAction::triggered, this,
            [this] { ShowHelp(THelpWindow::KeywordSearchContext); });
    connect(help->addAction(QStringLiteral("Keyboard &shortcuts")), &QAction::triggered, this,
            [this] { ShowHelp(THelpWindow::KeyboardContext); });
    help->addSeparator();
    connect(help->addAction(QStringLiteral("&About")), &QAction::triggered, this, [this] {
        TAboutBox::Execute(this);
    });
}

void TMainForm::SetMenusEnabled(bool enabled)
{
    m_programSetUp->setEnabled(enabled);
    m_loadConfig->setEnabled(enabled);
    const QString why = enabled ? QString() : QStringLiteral("Disconnect to change the settings");
    m_programSetUp->setToolTip(why);
    m_programSetUp->setStatusTip(enabled ? QString::fromLatin1(kSetUpTip) : why);
    m_loadConfig->setToolTip(why);
    m_loadConfig->setStatusTip(enabled ? QString::fromLatin1(kLoadConfigTip) : why);
    m_saveConfigAs->setEnabled(enabled);
    m_clearHistory->setEnabled(enabled);
}

} // namespace velmora
