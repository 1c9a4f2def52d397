#include "app/Servermain.h"

#include "Resources.h"
#include "Version.h"
#include "app/AboutBox.h"
#include "archive/ui/PastChatsWindow.h"
#include "app/CallListView.h"
#include "app/ConsoleKeys.h"
#include "app/ConsoleTray.h"
#include "app/ConsoleNotices.h"
#include "app/EmailAddrEditDlg.h"
#include "app/HelpWindow.h"
#include "app/NewCnctDlg.h"
#include "chat/CallsLink.h"
#include "chat/ChatLines.h"
#include "chat/ChatPlacement.h"
#include "chat/ChatWorkspace.h"
#include "chat/OneChatWindow.h"
#include "config/Genfunc.h"
#include "config/Settings.h"
#include "config/ui/SetupDialogs.h"
#include "diag/Boxes.h"
#include "idle/IdleSleeper.h"
#include "diag/ui/DebugWinDlg.h"
#include "mail/Mailbuff.h"
#include "mail/Outbox.h"
#include "shortcuts/Canneddata.h"
#include "shortcuts/ui/EditCannedMsgsDlg.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMovie>
#include <QPointer>
#include <QScreen>
#include <QSoundEffect>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace velmora {
namespace {

constexpr int kMinWidth = 300;
constexpr int kMinHeight = 200;
// How long a notice (a call, a mail) stays in the status bar before the
// panels it covers come back.
constexpr int kStatusNoticeMs = 15000;
const char kSetUpTip[] = "Open program configuration dialog.";
const char kLoadConfigTip[] = "Load a previous save configuration file";

} // namespace

TMainForm::TMainForm(QWidget *parent) : QMainWindow(parent)
{
    InitResources();
    // The window and its controls.
    BuildControls();
    BuildMenus();

    // The working folder is the one the program was started in; the console
    // reads its settings file there.
    SetStartDirectory(QDir::currentPath());
    InstallDefaultSounds(StartDirectory());
    m_console = std::make_unique<TConsole>(*this);
    m_session = &m_console->Session();
    m_calls = &m_console->Calls();
    // The debug window only shows the queue's lines.
    m_debugWin = std::make_unique<TDebugWinDlg>(m_console->MailBuff()->DebugLines());
    MailWaitingChanged();
    m_callsLink = std::make_unique<TCallsLink>(*m_calls);
    ListView = new TCallListView(*m_calls, this);
    ListView->setProperty("helpContext", int(THelpWindow::CallListContext));
    setProperty("helpContext", int(THelpWindow::CallListContext));
    centralWidget()->layout()->addWidget(ListView);
    ListView->ShowPastChats = [this](const QString &visitor) { ShowPastChats(visitor); };
    m_keys = new TConsoleKeys(this);
    m_keys->AcceptNewestCall = [this] {
        // A key that does nothing says why.
        if (!TNewCnctDlg::AcceptNewest())
            statusBar()->showMessage(TNewCnctDlg::AlertsShown() > 0
                                         ? QStringLiteral("The chat limit is reached: close a chat window to accept "
                                                          "the call, or put it on hold (Ctrl+Alt+H).")
                                         : QStringLiteral("No call is waiting to be accepted."),
                                     kStatusNoticeMs);
    };
    m_keys->HoldNewestCall = [] { TNewCnctDlg::HoldNewest(); };
    m_keys->TurnToNewestAlert = [] { TNewCnctDlg::TurnToNewest(); };
    connect(m_calls, &TCalls::CountersChanged, this, [this] {
        if (m_calls->CallsOnHold() == 0)
            SetTrayBlinking(false);
        UpdateTrayTip();
    });

    m_tray = new TConsoleTray(*m_console, this);
    m_tray->Restore = [this] { RestoreFromTray(); };
    m_tray->Minimize = [this] { MinimizeToTray(); };
    m_tray->Exit = [this] { ExitProcedure(true); };
    m_tray->MinimizedToTray = [this] { return m_minimizedToTray; };
    m_notices = std::make_unique<TConsoleNotices>(ChooseNotifier(m_tray->Icon()));
    m_workspace = std::make_unique<TChatWorkspace>();
    m_console->LoadSettings();
    m_workspace->RestoreGeometry(Settings().ChatWorkspaceGeometry);

    // The uptime clock.
    ElapsedTimerTimer();
    ElapsedTimer.setInterval(1000);
    connect(&ElapsedTimer, &QTimer::timeout, this, &TMainForm::ElapsedTimerTimer);
    ElapsedTimer.start();

    SetCaption(m_console->FirstStart() ? QString() : QString::fromLatin1(kConfigFileName));
    // Glyphs: offline, sounds on.
    SetOnlineGlyph(false);
    SoundFromMainBtn->setIcon(QIcon(Glyph("SPEAK_ON")));
    m_saveConfigDir = StartDirectory();
    m_console->Start();
}

TMainForm::~TMainForm()
{
    if (!m_console->ExitDone())
        ExitProcedure(false);
}

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
    connect(WebSbtnClickBtn, &QToolButton::clicked, this, [this] {
        if (m_session)
            m_session->WebSbtnClick();
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

void TMainForm::SetCaption(const QString &configFileName)
{
    m_captionFile = QFileInfo(configFileName).fileName();
    UpdateCaption();
}

void TMainForm::UpdateCaption()
{
    // Two consoles on one desk differ by their supporter.
    QString title = QStringLiteral("  Support Main (ver ") + QString::fromLatin1(kVersion) + QStringLiteral(")");
    const QString supporter = Settings().SupportName.trimmed();
    if (!supporter.isEmpty())
        title += QStringLiteral(" - ") + supporter;
    if (!m_captionFile.isEmpty())
        title += QStringLiteral("   using ") + m_captionFile + QStringLiteral(" config file");
    setWindowTitle(title);
    if (m_minimizedToTray)
        m_savedCaption = title; // what the restore puts back
    UpdateTrayTip();
}

void TMainForm::SettingsRead(const TSettings &s)
{
    if (s.ChatWindowWidth > 0 && s.ChatWindowHeight > 0)
        RememberChatSize(QSize(s.ChatWindowWidth, s.ChatWindowHeight));
    SetIndicator(OutoAnsLbl, s.AutoOnHoldOnMinimized);
    SetIndicator(IdleModLbl, s.OfflineTimeOutEna);
    m_mainSound = QUrl::fromLocalFile(QFileInfo(s.MainSundFile).absoluteFilePath());
    if (PlayWavInMain)
        PlayWavInMain->setSource(m_mainSound);
}

void TMainForm::ShowPastChats(const QString &visitor)
{
    if (!m_pastChats)
        m_pastChats = new TPastChatsWindow(
            *m_console->Archive(), [this](const TTranscriptSource &source) { ComposeTranscript(source); }, this);
    m_pastChats->ShowFor(visitor);
}

bool TMainForm::ConfirmArchiveRemoval()
{
    return ShowBox(QStringLiteral("The chat archive is off now and keeps no new chats.\n\nDelete the chats it keeps?"),
                   QStringLiteral("Past chats"), BoxIcon::Question, BoxButtons::YesNo, this)
           == BoxAnswer::Yes;
}

void TMainForm::SetIndicator(QLabel *label, bool on)
{
    label->setText(on ? QStringLiteral("On") : QStringLiteral("Off"));
    label->setStyleSheet(on ? QStringLiteral("color: red") : QStringLiteral("color: blue"));
}

void TMainForm::SetCounterLabel(QLabel *label, int value)
{
    label->setText(QString::number(value));
    label->setStyleSheet(value != 0 ? QStringLiteral("color: red") : QStringLiteral("color: blue"));
}

QString TMainForm::StatusPanelText() const { return m_statusPanel1->text(); }
QString TMainForm::UptimeText() const { return m_statusPanel2->text(); }

void TMainForm::ElapsedTimerTimer()
{
    ++m_elapsedSeconds;
    m_statusPanel2->setText(ClockText(m_elapsedSeconds));
}

void TMainForm::SoundFromMainBtnClick()
{
    m_soundsOn = !m_soundsOn;
    SoundFromMainBtn->setIcon(QIcon(Glyph(m_soundsOn ? "SPEAK_ON" : "SPEAK_OFF")));
}

void TMainForm::ChatWithOtherSupportBtnClick()
{
    if (!m_session)
        return;
    ChatWithOtherSupportBtn->setEnabled(false);
    m_session->RequestSupporters(TSupporterListRequest::SupporterChat);
}

// --- ISessionHost ------------------------------------------------------------

void TMainForm::ShowStatusText(const QString &text) { m_statusPanel1->setText(text); }

void TMainForm::SetOnlineGlyph(bool online)
{
    WebSbtnClickBtn->setIcon(QIcon(Glyph(online ? "COMP_L_OK" : "COMP_L_NOK")));
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

void TMainForm::SetChatWithOtherSupportEnabled(bool enabled)
{
    // One supporter chat of its own at a time: the end of another chat (one
    // this console answered, say) offers no second while it lasts or while
    // the list for it is awaited.
    ChatWithOtherSupportBtn->setEnabled(enabled && !OwnSupporterChatRunning()
                                        && !m_session->SupporterRequestPending(TSupporterListRequest::SupporterChat));
}

bool TMainForm::OwnSupporterChatRunning() const
{
    return m_suppChat && !m_suppChat->Closed() && !m_suppChat->Ended();
}

void TMainForm::SetBusyAnimation(bool running)
{
    if (running)
        m_busyMovie->start();
    else {
        m_busyMovie->stop();
        m_busyMovie->jumpToFrame(0);
    }
}

void TMainForm::SetTrayOnline(bool online) { m_tray->SetOnline(online); }
void TMainForm::SetSupportersOnline(int count) { SetCounterLabel(OnLineSupCountLbl, count); }
void TMainForm::SetChatLimit(int limit) { SetCounterLabel(ChatLimitCountLbl, limit); }

void TMainForm::SupporterRequestCancelled(TSupporterListRequest request)
{
    if (request == TSupporterListRequest::Transfer)
        AbandonTransfer();
    SetChatWithOtherSupportEnabled(m_session->State() == TServerState::Online);
}

void TMainForm::ShowNotice(const QString &text) { statusBar()->showMessage(text, kStatusNoticeMs); }

void TMainForm::MailWaitingChanged()
{
    const TMailBuff *mailBuff = m_console->MailBuff();
    const int waiting = mailBuff ? mailBuff->WaitingCount() : 0;
    const int notSent = mailBuff ? mailBuff->NotSentCount() : 0;
    const QString error = mailBuff ? mailBuff->LastError() : QString();
    // Mail trouble stays in view here, where it blocks nothing.
    m_mailStatus->setVisible(waiting > 0 || notSent > 0 || !error.isEmpty());
    QString text = QStringLiteral("Mail: %1 waiting").arg(waiting);
    if (notSent > 0)
        text += QStringLiteral(", %1 not sent").arg(notSent);
    m_mailStatus->setText(text);
    QString tip = error.isEmpty() ? QString() : QStringLiteral("Last error: ") + error;
    if (notSent > 0) {
        tip += QStringLiteral("\nLast not sent: ") + mailBuff->LastNotSent();
        if (const TOutbox *outbox = m_console->Outbox())
            tip += QStringLiteral("\nTranscripts not sent are kept in ") + outbox->FailedFolder();
    }
    m_mailStatus->setToolTip(tip.trimmed());
}

// --- ICallsHost --------------------------------------------------------------

void TMainForm::PlayMainSound()
{
    // The sound system (its library and the audio device) is taken up by the
    // first sound played, not at start: many consoles never play one.
    if (!PlayWavInMain) {
        PlayWavInMain = new QSoundEffect(this);
        PlayWavInMain->setSource(m_mainSound);
    }
    if (PlayWavInMain->status() != QSoundEffect::Error)
        PlayWavInMain->play();
}

void TMainForm::SetTrayBlinking(bool on) { m_tray->SetBlinking(on); }

std::function<void()> TMainForm::ShowNewCallAlertThen(quint16 kind, const QString &site, const QString &ip,
                                                      bool acceptEnabled, const QString &asking,
                                                      std::function<void(bool)> answered)
{
    QPointer<TMainForm> self(this);
    QPointer<TNewCnctDlg> alert =
        TNewCnctDlg::Open(kind, site, ip, acceptEnabled, Settings().CallDispPosValue,
                          [self, answered = std::move(answered)](bool accept) {
                              answered(accept);
                              if (self)
                                  self->UpdateTrayTip();
                          },
                          asking);
    m_notices->CallAlert(alert, kind, site, asking);
    UpdateTrayTip();
    return [alert] {
        if (alert)
            alert->reject();
    };
}

QString TMainForm::TrayTipText(const QString &supporter, int waiting, int onHold)
{
    return TConsoleTray::TipText(supporter, waiting, onHold);
}

void TMainForm::UpdateTrayTip() { m_tray->UpdateTip(); }
QSystemTrayIcon *TMainForm::TrayIcon() const { return m_tray->Icon(); }
bool TMainForm::TrayBlinking() const { return m_tray->Blinking(); }

IChatWindow *TMainForm::CreateChatWindow(ChatItem *record, int number)
{
    return new TOneChatWindow(number, record, *m_callsLink, *this);
}

void TMainForm::VisitorLineShown(QWidget *window, const QString &name, const QString &line)
{
    m_notices->VisitorLine(window, name, line);
}

QString TMainForm::EditEmail(const QString &current)
{
    return TEmailAddrEditDlg::Edit(current, this);
}

// --- window events -----------------------------------------------------------

void TMainForm::MinimizeToTray()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable() || !m_tray->Icon()->isVisible()) {
        // Without a tray a hidden window could never come back.
        showMinimized();
        return;
    }
    m_savedCaption = windowTitle();
    m_minimizedToTray = true;
    hide();
}

void TMainForm::RestoreFromTray()
{
    m_minimizedToTray = false;
    if (!m_savedCaption.isEmpty())
        setWindowTitle(m_savedCaption);
    showNormal();
    raise();
    activateWindow();
}

void TMainForm::BringToFront()
{
    if (m_minimizedToTray) {
        RestoreFromTray();
        return;
    }
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TMainForm::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized) && !m_minimizedToTray
        && QSystemTrayIcon::isSystemTrayAvailable() && m_tray->Icon()->isVisible()) {
        // Hide instead of minimizing; done after the state change settles.
        QTimer::singleShot(0, this, [this] {
            setWindowState(windowState() & ~Qt::WindowMinimized);
            MinimizeToTray();
        });
    }
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    if (m_console->ExitDone() || ExitProcedure(true))
        event->accept();
    else
        event->ignore();
}

// --- the exit ------------------------------------------------------------------

// A modal alert or box runs its own event loop; the handler that opened it
// still waits below on the stack.
bool TMainForm::ModalWindowOpen() const { return QApplication::activeModalWidget() != nullptr; }

void TMainForm::AnswerModalWindows(bool alertsToo)
{
    if (alertsToo)
        TNewCnctDlg::RejectAll();
    while (QWidget *modal = QApplication::activeModalWidget()) {
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        else
            modal->close();
        if (QApplication::activeModalWidget() == modal)
            break;
    }
}

bool TMainForm::ConfirmExit(const QString &text)
{
    return ShowBox(text, QStringLiteral("Warning"), BoxIcon::Warning, BoxButtons::OkCancel) == BoxAnswer::Ok;
}

void TMainForm::RejectCallAlerts() { TNewCnctDlg::RejectAll(); }

void TMainForm::SaveWindowPlaces(TProgramConfig &config)
{
    if (HasRememberedChatSize()) {
        // The next run opens its chat windows at the size used last.
        const QSize size = RememberedChatSize(QSize());
        Settings().ChatWindowWidth = size.width();
        Settings().ChatWindowHeight = size.height();
        WriteChatWindowSize(config, size.width(), size.height());
    }
    if (const QString workspace = m_workspace->SavedGeometry(); !workspace.isEmpty()) {
        Settings().ChatWorkspaceGeometry = workspace;
        WriteChatWorkspaceGeometry(config, workspace);
    }
}

void TMainForm::CloseChatWindows()
{
    QList<QPointer<TOneChatWindow>> chats;
    for (QWidget *widget : QApplication::allWidgets()) // tabs of the workspace too
        if (auto *chat = qobject_cast<TOneChatWindow *>(widget))
            chats.append(chat);
    for (const QPointer<TOneChatWindow> &chat : chats)
        if (chat)
            chat->FormClose();
}

void TMainForm::ExitFinishing()
{
    ElapsedTimer.stop();
    m_tray->Stop();
    m_callsLink.reset();
    m_debugWin.reset();
}

// --- settings files, history and the settings dialog -------------------------

void TMainForm::LoadConfigClick()
{
    const QString path = SetupDialogs().OpenFile(this, QString::fromLatin1(kConfigFileFilter), StartDirectory());
    if (!path.isEmpty())
        OpenConfigFile(path);
}

void TMainForm::SaveConfigAsClick()
{
    QString path = SetupDialogs().SaveFile(this, QString::fromLatin1(kConfigFileFilter), m_saveConfigDir);
    if (path.isEmpty())
        return;
    if (!path.toUpper().contains(QStringLiteral(".INI")))
        path += QStringLiteral(".ini");
    if (!m_console->Config().SaveToFile(path)) {
        ShowBox(QStringLiteral("Cannot create file %1").arg(path), QStringLiteral("Error"), BoxIcon::Error);
        return;
    }
    m_saveConfigDir = QFileInfo(path).absolutePath();
    SetCaption(path);
    History().Add(path);
}

void TMainForm::ShowHistoryEntries(const QStringList &paths)
{
    for (QAction *action : std::as_const(m_historyActions)) {
        m_fileMenu->removeAction(action);
        action->deleteLater(); // may be the entry whose click is running
    }
    m_historyActions.clear();
    if (paths.isEmpty())
        return;
    // Entries go directly after the anchor separator, that is before "E&xit".
    const QList<QAction *> actions = m_fileMenu->actions();
    const qsizetype anchor = actions.indexOf(m_historyAnchor);
    QAction *before = anchor >= 0 && anchor + 1 < actions.size() ? actions[anchor + 1] : nullptr;
    for (int i = 0; i < paths.size(); ++i) {
        auto *entry = new QAction(TFileHistory::EntryCaption(i, paths[i]), m_fileMenu);
        const QString path = paths[i];
        connect(entry, &QAction::triggered, this, [this, path] { OpenConfigFile(path); });
        m_fileMenu->insertAction(before, entry);
        m_historyActions.append(entry);
    }
    auto *separator = new QAction(m_fileMenu);
    separator->setSeparator(true);
    m_fileMenu->insertAction(before, separator);
    m_historyActions.append(separator);
}

void TMainForm::ProgramSetUpClick()
{
    TUserSetupDlg::Execute(m_console->Config(), *this, this);
}

void TMainForm::OpenSetUpOnFirstStart()
{
    if (!m_console->FirstStart())
        return;
    QTimer::singleShot(0, this, [this] {
        if (!m_console->ExitRunning() && !m_console->ExitDone() && m_programSetUp->isEnabled())
            TUserSetupDlg::Execute(m_console->Config(), *this, this, TUserSetupDlg::Start::FirstStart);
    });
}

void TMainForm::SettingsPageApplied(SettingsPage page)
{
    const TSettings &s = Settings();
    // "Apply" promises to save: a set-up is not lost to a crash before the
    // exit, and a first start's caption names the file from now on.
    if (m_console->Config().SaveToFile(StartPath(QString::fromLatin1(kConfigFileName))) && m_captionFile.isEmpty())
        m_captionFile = QString::fromLatin1(kConfigFileName);
    UpdateCaption();
    switch (page) {
    case SettingsPage::General:
        m_calls->ApplyTimerSettings();
        SetIndicator(OutoAnsLbl, s.AutoOnHoldOnMinimized);
        SetIndicator(IdleModLbl, s.OfflineTimeOutEna);
        IdleSleeper().SetInterval(s.OfflineTimeOut > 0 ? quint32(s.OfflineTimeOut) : 0);
        break;
    case SettingsPage::Reconnect:
        if (m_session->ReconnectTimer().isActive())
            m_session->ReconnectTimer().setInterval(std::max(1000, TSettings::SecondsToMs(s.ReConnectIntervals)));
        break;
    default:
        break; // read where they are used, or at the next connect
    }
}

void TMainForm::ShowHelp(int context)
{
    THelpWindow::ShowHelpContext(context);
}

} // namespace velmora
