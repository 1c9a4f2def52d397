#include "app/Servermain.h"

#include "Resources.h"
#include "Version.h"
#include "app/AboutBox.h"
#include "archive/ArchiveRecorder.h"
#include "archive/ui/PastChatsWindow.h"
#include "app/CallListView.h"
#include "app/ConsoleKeys.h"
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
#include "diag/Logdata.h"
#include "diag/SafeText.h"
#include "idle/DesktopIdleMonitor.h"
#include "idle/IdleSleeper.h"
#include "diag/ui/DebugWinDlg.h"
#include "mail/Mailbuff.h"
#include "mail/Outbox.h"
#include "protocol/MessageCodes.h"
#include "protocol/ServerMessages.h"
#include "session/CloseSockets.h"
#include "session/Exchange.h"
#include "shortcuts/Canneddata.h"
#include "shortcuts/ui/EditCannedMsgsDlg.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMovie>
#include <QPointer>
#include <QResizeEvent>
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
// The longest the exit waits for farewells under way, each time it waits.
constexpr int kExitWaitMs = 1500;
// How long a notice (a call, a mail) stays in the status bar before the
// panels it covers come back.
constexpr int kStatusNoticeMs = 15000;
const char kSetUpTip[] = "Open program configuration dialog.";
const char kLoadConfigTip[] = "Load a previous save configuration file";

} // namespace

TMainForm::TMainForm(QWidget *parent) : QMainWindow(parent)
{
    InitResources();
    // 1. The window and its controls.
    BuildControls();
    BuildMenus();

    // 2. Configuration, then every setting. The working folder is the one the
    // program was started in.
    SetStartDirectory(QDir::currentPath());
    InstallDefaultSounds(StartDirectory());
    m_firstStart = !QFileInfo::exists(StartPath(QString::fromLatin1(kConfigFileName)));
    m_config.LoadFromFile(StartPath(QString::fromLatin1(kConfigFileName)));

    // 7 comes before 2's side effects here: the log must exist before anything
    // can be logged, and the box for a log that cannot be opened comes first.
    m_log = std::make_unique<TLogFile>(StartPath(QStringLiteral("Velmora.log")));
    // Every chat is kept as it happens; an archive that cannot be written
    // never keeps the chats from going on.
    m_archive = std::make_unique<TArchiveRecorder>(StartPath(QString::fromLatin1(kArchiveFileName)));
    SetArchiveRecorder(m_archive.get());
    connect(m_archive.get(), &TArchiveRecorder::Problem, this, [this](const QString &text) {
        m_log->AddLine(OneLine(text));
        statusBar()->showMessage(text, kStatusNoticeMs);
    });
    connect(m_archive.get(), &TArchiveRecorder::Resumed, this,
            [this] { m_log->AddLine(QStringLiteral("The chat archive is written again.")); });

    // 3. Workers.
    // Transcripts wait in the outbox until delivered, across runs.
    m_outbox = std::make_unique<TOutbox>(StartPath(QStringLiteral("outbox")));
    m_composer = std::make_unique<TTranscriptComposer>(StartDirectory(), m_outbox.get());
    m_mailBuff = std::make_unique<TMailBuff>(m_outbox.get(), m_log.get());
    m_debugWin = std::make_unique<TDebugWinDlg>(m_mailBuff->DebugLines());
    connect(m_mailBuff.get(), &TMailBuff::WaitingChanged, this, &TMainForm::ShowMailWaiting);
    m_composer->OnAddressProblem = [this](const QString &text, bool notSent) {
        m_mailBuff->NoteAddressProblem(text, notSent);
        statusBar()->showMessage(text, kStatusNoticeMs); // then the mail label keeps the count
    };
    ShowMailWaiting();
    m_closer = std::make_unique<TCloseSockets>();
    m_session = std::make_unique<TServerSession>(*this, m_log.get());
    m_calls = std::make_unique<TCalls>(*this, *m_session, *m_closer, m_log.get());
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
    connect(m_calls.get(), &TCalls::CountersChanged, this, [this] {
        if (m_calls->CallsOnHold() == 0)
            SetTrayBlinking(false);
        UpdateTrayTip();
    });

    BuildTray();
    m_notices = std::make_unique<TConsoleNotices>(ChooseNotifier(abfTrayIcon));
    m_workspace = std::make_unique<TChatWorkspace>();
    // The idle detector exists before the settings hand it its interval; it
    // stays inactive until a login is accepted.
    m_idleSleeper = std::make_unique<TIdleSleeper>([](QString *reason) { return MakeDesktopInputMonitor(reason); });
    m_idleSleeper->SetOnSleep([this] { IdleSleeperSleep(); });
    m_idleSleeper->SetOnAwake([this] { IdleSleeperAwake(); });
    LoadSettings();
    m_workspace->RestoreGeometry(Settings().ChatWorkspaceGeometry);

    // 4. The uptime clock.
    ElapsedTimerTimer();
    ElapsedTimer.setInterval(1000);
    connect(&ElapsedTimer, &QTimer::timeout, this, &TMainForm::ElapsedTimerTimer);
    ElapsedTimer.start();

    // 5. Title.
    SetCaption(m_firstStart ? QString() : QString::fromLatin1(kConfigFileName));

    // 6. Glyphs: offline, sounds on.
    SetOnlineGlyph(false);
    SoundFromMainBtn->setIcon(QIcon(Glyph("SPEAK_ON")));
    m_log->AddLine(QStringLiteral("Application loaded !!!"));

    // 8. Counters, and the recent settings files.
    SetSupportersOnline(0);
    SetChatLimit(0);
    m_saveConfigDir = StartDirectory();
    m_history = std::make_unique<TFileHistory>(StartPath(QString::fromLatin1(kHistoryFileName)), this);
    m_history->Load();

    // 9. Status, and the connection when so configured.
    ShowStatusText(StatusTextOf(StatusConnectHint));

    // 10. The shortcut lists.
    m_canned = std::make_unique<TTitleDataClass>(StartPath(QStringLiteral("CannedData.dat")));
    m_urls = std::make_unique<TTitleDataClass>(StartPath(QStringLiteral("UrlScData.dat")));
    m_mailBuff->NewSession(Settings());

    if (Settings().ConnectOnStart)
        QTimer::singleShot(0, this, [this] { m_session->ToggleConnection(); });
}

TMainForm::~TMainForm()
{
    if (!m_exitDone)
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
    connect(WebSbtnClickBtn, &QToolButton::clicked, this, [this] { m_session->WebSbtnClick(); });
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
        TEditCannedMsgsDlg::EditShortcuts(this, TEditCannedMsgsDlg::Mode::CannedMessages, *m_canned);
    });
    configure->addSeparator();
    QAction *urls = configure->addAction(QStringLiteral("&Push URL shortcuts"));
    connect(urls, &QAction::triggered, this, [this] {
        TEditCannedMsgsDlg::EditShortcuts(this, TEditCannedMsgsDlg::Mode::PushUrls, *m_urls);
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

void TMainForm::BuildTray()
{
    abfTrayIcon = new QSystemTrayIcon(this);
    abfTrayIcon->setIcon(StatusIcon(TrayOfflineIcon));
    TrayIconPopupMenu = new QMenu(this);
    m_trayConnect = TrayIconPopupMenu->addAction(QStringLiteral("&Connect"));
    m_trayDisconnect = TrayIconPopupMenu->addAction(QStringLiteral("&Disconnect"));
    TrayIconPopupMenu->addSeparator();
    QAction *exit = TrayIconPopupMenu->addAction(QStringLiteral("E&xit"));
    TrayIconPopupMenu->addSeparator();
    m_trayRestore = TrayIconPopupMenu->addAction(QStringLiteral("&Restore"));
    m_trayMinimize = TrayIconPopupMenu->addAction(QStringLiteral("&Minimize"));
    connect(m_trayConnect, &QAction::triggered, this, [this] { m_session->ToggleConnection(); });
    connect(m_trayDisconnect, &QAction::triggered, this, [this] { m_session->ToggleConnection(); });
    connect(exit, &QAction::triggered, this, [this] { ExitProcedure(true); });
    connect(m_trayRestore, &QAction::triggered, this, &TMainForm::RestoreFromTray);
    connect(m_trayMinimize, &QAction::triggered, this, &TMainForm::MinimizeToTray);
    connect(TrayIconPopupMenu, &QMenu::aboutToShow, this, &TMainForm::UpdateTrayMenu);
    abfTrayIcon->setContextMenu(TrayIconPopupMenu);
    connect(abfTrayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && m_minimizedToTray)
            RestoreFromTray();
    });
    m_exitRetry.setInterval(100);
    connect(&m_exitRetry, &QTimer::timeout, this, &TMainForm::ExitRetryTimer);
    m_blinkTimer.setInterval(600);
    connect(&m_blinkTimer, &QTimer::timeout, this, &TMainForm::BlinkTimerTimer);
    if (QSystemTrayIcon::isSystemTrayAvailable())
        abfTrayIcon->show();
}

void TMainForm::UpdateTrayMenu()
{
    const bool reconnecting = m_session->ReconnectRunning();
    if (m_session->ConnectRequested()) {
        m_trayConnect->setEnabled(false);
        m_trayDisconnect->setEnabled(!reconnecting);
    } else {
        m_trayDisconnect->setEnabled(false);
        m_trayConnect->setEnabled(!reconnecting);
    }
    m_trayRestore->setEnabled(m_minimizedToTray);
    m_trayMinimize->setEnabled(!m_minimizedToTray);
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

void TMainForm::LoadSettings(bool connecting)
{
    TSettings &s = Settings();
    ReadSettings(m_config, s);
    if (!connecting)
        m_transcriptsOff = !s.EanbelDisableMails;
    m_calls->ApplyTimerSettings();
    if (s.ChatWindowWidth > 0 && s.ChatWindowHeight > 0)
        RememberChatSize(QSize(s.ChatWindowWidth, s.ChatWindowHeight));
    SetIndicator(OutoAnsLbl, s.AutoOnHoldOnMinimized);
    SetIndicator(IdleModLbl, s.OfflineTimeOutEna);
    m_mainSound = QUrl::fromLocalFile(QFileInfo(s.MainSundFile).absoluteFilePath());
    if (PlayWavInMain)
        PlayWavInMain->setSource(m_mainSound);
    m_idleSleeper->SetInterval(s.OfflineTimeOut > 0 ? quint32(s.OfflineTimeOut) : 0);
    ApplyArchiveDays(s.ArchiveDays);
    if (!SoundFilesPresent(s))
        ShowBox(QStringLiteral("One of the sound files is missing check your sounds setting !."),
                QStringLiteral("Error"), BoxIcon::None, BoxButtons::Ok);
}

void TMainForm::ShowPastChats(const QString &visitor)
{
    if (!m_pastChats)
        m_pastChats = new TPastChatsWindow(
            *m_archive, [this](const TTranscriptSource &source) { ComposeTranscript(source); }, this);
    m_pastChats->ShowFor(visitor);
}

void TMainForm::ApplyArchiveDays(int days)
{
    // Turned off by the operator (not found off at start): what is kept may go too.
    const bool turnedOff = days == 0 && m_archive->Enabled() && m_archiveDaysApplied;
    m_archiveDaysApplied = true;
    m_archive->SetRetentionDays(days);
    if (turnedOff
        && ShowBox(QStringLiteral("The chat archive is off now and keeps no new chats.\n\nDelete the chats it keeps?"),
                   QStringLiteral("Past chats"), BoxIcon::Question, BoxButtons::YesNo, this)
               == BoxAnswer::Yes)
        m_archive->RemoveAll();
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

void TMainForm::SetTrayOnline(bool online)
{
    m_trayOnline = online;
    if (!m_blinkTimer.isActive())
        abfTrayIcon->setIcon(StatusIcon(online ? TrayOnlineIcon : TrayOfflineIcon));
}

void TMainForm::SetSupportersOnline(int count) { SetCounterLabel(OnLineSupCountLbl, count); }
void TMainForm::SetChatLimit(int limit) { SetCounterLabel(ChatLimitCountLbl, limit); }

bool TMainForm::TranscriptChecksBeforeConnect()
{
    const TSettings &s = Settings();
    m_transcriptsOff = !s.EanbelDisableMails;
    if (!m_transcriptsOff && (s.SMTP_Server.isEmpty() || s.MailUserID.isEmpty() || s.SupportMailAddr.isEmpty())) {
        const BoxAnswer answer = ShowBox(
            QStringLiteral("Mail setup missing, you will not be able to send chat transcripts to your customers.\n\nIf "
                           "you choose to continue without the ability to send chat transcripts, click the Ok \nbutton, "
                           "or click the Cancel button and properly set your mail parameters !."),
            QStringLiteral("Warning"), BoxIcon::Warning, BoxButtons::OkCancel);
        if (answer != BoxAnswer::Ok)
            return false;
        m_transcriptsOff = true;
    }
    if (!m_transcriptsOff && !QFile(StartPath(QStringLiteral("base_mail.txt"))).open(QIODevice::ReadOnly)) {
        ShowBox(QStringLiteral("Could not locate base_mail.txt file. This file is used to carry the\nchat transcript. "
                               "Chat mail transcript sending is disabled !. \n\nPlease check your working directory "
                               "and make sure the the file is there !."),
                QStringLiteral("Warning"), BoxIcon::Warning);
        m_transcriptsOff = true;
    }
    return true;
}

int TMainForm::OpenChatWindowCount() const { return m_calls->OpenChatWindows(); }
int TMainForm::CallsOnHoldCount() const { return m_calls->CallsOnHold(); }
void TMainForm::EndAllCalls() { m_calls->EndAllCalls(); }
void TMainForm::TakeDownChatWindowsOnNetError() { m_calls->TakeDownChatWindowsOnNetError(); }

void TMainForm::NewCall(qint32 sessionCount, qint32 port, const QString &site, const QString &ip, quint16 kind)
{
    m_calls->NewCall(sessionCount, port, site, ip, kind);
}

void TMainForm::CallAnswered(qint32 sessionCount) { m_calls->CallAnswered(sessionCount); }
void TMainForm::TransferData(qint32 sessionCount, const QByteArray &data) { m_calls->TransferData(sessionCount, data); }

void TMainForm::SupporterRequestCancelled(TSupporterListRequest request)
{
    if (request == TSupporterListRequest::Transfer)
        AbandonTransfer();
    SetChatWithOtherSupportEnabled(m_session->State() == TServerState::Online);
}

void TMainForm::StartMailSession()
{
    if (m_mailBuff)
        m_mailBuff->NewSession(Settings());
}

void TMainForm::ShowMailWaiting()
{
    const int waiting = m_mailBuff ? m_mailBuff->WaitingCount() : 0;
    const int notSent = m_mailBuff ? m_mailBuff->NotSentCount() : 0;
    const QString error = m_mailBuff ? m_mailBuff->LastError() : QString();
    // Mail trouble stays in view here, where it blocks nothing.
    m_mailStatus->setVisible(waiting > 0 || notSent > 0 || !error.isEmpty());
    QString text = QStringLiteral("Mail: %1 waiting").arg(waiting);
    if (notSent > 0)
        text += QStringLiteral(", %1 not sent").arg(notSent);
    m_mailStatus->setText(text);
    QString tip = error.isEmpty() ? QString() : QStringLiteral("Last error: ") + error;
    if (notSent > 0) {
        tip += QStringLiteral("\nLast not sent: ") + m_mailBuff->LastNotSent();
        if (m_outbox)
            tip += QStringLiteral("\nTranscripts not sent are kept in ") + m_outbox->FailedFolder();
    }
    m_mailStatus->setToolTip(tip.trimmed());
}

void TMainForm::ComposeTranscript(const TTranscriptSource &source)
{
    if (std::optional<TMailRecord> record = m_composer->Compose(source, Settings()))
        m_mailBuff->AddMail(std::move(*record));
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

void TMainForm::SetTrayBlinking(bool on)
{
    if (on) {
        if (!m_blinkTimer.isActive())
            m_blinkTimer.start();
        return;
    }
    m_blinkTimer.stop();
    abfTrayIcon->setIcon(StatusIcon(m_trayOnline ? TrayOnlineIcon : TrayOfflineIcon));
}

void TMainForm::BlinkTimerTimer()
{
    m_blinkShown = !m_blinkShown;
    abfTrayIcon->setIcon(m_blinkShown ? StatusIcon(WaitingIcon) : QIcon());
}

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

void TMainForm::ShowCallNotice(const QString &text)
{
    statusBar()->showMessage(text, kStatusNoticeMs);
    m_log->AddLine(text);
}

QString TMainForm::TrayTipText(const QString &supporter, int waiting, int onHold)
{
    QString tip = QStringLiteral("KORVA Support, right click to open the pop-up  menu.");
    if (!supporter.isEmpty())
        tip += QStringLiteral("\nSupporter: ") + supporter;
    return tip + QStringLiteral("\nCalls waiting: %1, on hold: %2").arg(waiting).arg(onHold);
}

void TMainForm::UpdateTrayTip()
{
    if (abfTrayIcon && m_calls)
        abfTrayIcon->setToolTip(
            TrayTipText(Settings().SupportName.trimmed(), TNewCnctDlg::AlertsShown(), m_calls->CallsOnHold()));
}

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
    if (!QSystemTrayIcon::isSystemTrayAvailable() || !abfTrayIcon->isVisible()) {
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
        && QSystemTrayIcon::isSystemTrayAvailable() && abfTrayIcon->isVisible()) {
        // Hide instead of minimizing; done after the state change settles.
        QTimer::singleShot(0, this, [this] {
            setWindowState(windowState() & ~Qt::WindowMinimized);
            MinimizeToTray();
        });
    }
}

void TMainForm::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    if (m_exitDone || ExitProcedure(true))
        event->accept();
    else
        event->ignore();
}

namespace {

// A modal alert or box runs its own event loop; the handler that opened it
// still waits below on the stack.
bool InsideModalLoop() { return QApplication::activeModalWidget() != nullptr; }

// The program is ending: the farewells still under way (their pauses and
// send-queue waits) are let finish, up to a bound, while no input is taken.
void WaitForExchanges(int boundMs)
{
    if (TExchange::Unfinished() == 0)
        return;
    const QDeadlineTimer deadline(boundMs);
    QEventLoop loop;
    QTimer check;
    check.setInterval(10);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (TExchange::Unfinished() == 0 || deadline.hasExpired())
            loop.quit();
    });
    check.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void RejectModalWindows()
{
    while (QWidget *modal = QApplication::activeModalWidget()) {
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        else
            modal->close();
        if (QApplication::activeModalWidget() == modal)
            break;
    }
}

} // namespace

void TMainForm::ExitRetryTimer()
{
    if (m_exitDone) {
        m_exitRetry.stop();
        return;
    }
    if (InsideModalLoop()) {
        if (m_exitForced)
            RejectModalWindows(); // new boxes may have come up meanwhile
        return;
    }
    m_exitRetry.stop();
    ExitProcedure(!m_exitForced);
}

bool TMainForm::ExitProcedure(bool ask)
{
    if (m_exitDone)
        return true;
    if (!ask)
        m_exitForced = true;
    if (m_exitRunning || InsideModalLoop()) {
        // Releasing the session, the calls or the log now would free them
        // under the handler that opened the modal window. A forced exit
        // answers those windows; the exit then runs once they have returned
        // (a running exit procedure simply goes on).
        if (m_exitForced) {
            // The calls whose alerts are answered now are not taken on.
            m_session->SetExitInProgress(true);
            TNewCnctDlg::RejectAll();
            RejectModalWindows();
        }
        if (!m_exitRunning && !m_exitRetry.isActive())
            m_exitRetry.start();
        return false;
    }
    m_exitRunning = true;
    const bool active = m_session->ConnectRequested() && (OpenChatWindowCount() + CallsOnHoldCount() > 0);
    if (ask && active) {
        const BoxAnswer answer = ShowBox(
            QStringLiteral("You have open chat windows or OnHold clients. It\nis advisable to close all open sessions "
                           "andor \nOnHold clients first !\n\nIf you wish to exit anyway click Ok, else Cancel."),
            QStringLiteral("Warning"), BoxIcon::Warning, BoxButtons::OkCancel);
        // A termination signal while the question was open overrides Cancel.
        if (answer != BoxAnswer::Ok && !m_exitForced) {
            m_exitRunning = false;
            return false;
        }
    }
    if (ask && !m_exitForced && m_mailBuff && m_mailBuff->WaitingCount() > 0) {
        const BoxAnswer answer = ShowBox(
            QStringLiteral("You have waiting mail transcript's, it is advisable to wait for a few \nseconds until "
                           "they are all sent and then exit !. \n\nIf you wish to exit click Ok, else Cancel and try "
                           "again later."),
            QStringLiteral("Warning"), BoxIcon::Warning, BoxButtons::OkCancel);
        if (answer != BoxAnswer::Ok && !m_exitForced) {
            m_exitRunning = false;
            return false;
        }
    }
    m_session->SetExitInProgress(true);
    // Waiting alerts are answered by the exit: their calls are not taken on.
    TNewCnctDlg::RejectAll();

    if (HasRememberedChatSize()) {
        // The next run opens its chat windows at the size used last.
        const QSize size = RememberedChatSize(QSize());
        Settings().ChatWindowWidth = size.width();
        Settings().ChatWindowHeight = size.height();
        WriteChatWindowSize(m_config, size.width(), size.height());
    }
    if (const QString workspace = m_workspace->SavedGeometry(); !workspace.isEmpty()) {
        Settings().ChatWorkspaceGeometry = workspace;
        WriteChatWorkspaceGeometry(m_config, workspace);
    }
    m_config.SaveToFile(StartPath(QString::fromLatin1(kConfigFileName)));
    m_history->RebuildMenu();
    // When the desktop session ends nobody could answer a box.
    if (!m_history->Save() && !m_exitForced)
        ShowBox(QStringLiteral("Could not save history file"), QStringLiteral("Error"), BoxIcon::Error);

    if (active)
        m_calls->EndAllCalls();
    // Windows left open read only (the visitor left, or the server connection
    // dropped) are no calls any more, but their conversations still go out.
    QList<QPointer<TOneChatWindow>> chats;
    for (QWidget *widget : QApplication::allWidgets()) // tabs of the workspace too
        if (auto *chat = qobject_cast<TOneChatWindow *>(widget))
            chats.append(chat);
    for (const QPointer<TOneChatWindow> &chat : chats)
        if (chat)
            chat->FormClose();
    WaitForExchanges(kExitWaitMs);
    if (m_session->ConnectRequested()) {
        if (m_session->WaitUntilSent())
            ShowBox(QStringLiteral("From inside TMainForm::FormClose, Could not send waiting messages !!"),
                    QStringLiteral("Error"), BoxIcon::Error);
        m_session->ToggleConnection();
        WaitForExchanges(kExitWaitMs);
    }
    ElapsedTimer.stop();
    m_blinkTimer.stop();
    m_idleSleeper->SetActive(false);
    abfTrayIcon->hide();
    m_calls.reset();
    m_callsLink.reset();
    m_session.reset();
    m_closer.reset();
    m_mailBuff.reset();
    m_debugWin.reset();
    m_composer.reset();
    m_outbox.reset();
    m_log->AddLine(QStringLiteral("Application terminated !!!"));
    m_log.reset();
    // Releasing a shortcut list saves it.
    m_canned.reset();
    m_urls.reset();
    m_exitDone = true;
    m_exitRunning = false;
    m_exitRetry.stop();
    QTimer::singleShot(0, qApp, &QApplication::quit);
    return true;
}

// --- settings files, history and the settings dialog -------------------------

bool TMainForm::OpenConfigFile(const QString &path)
{
    if (m_session->ConnectRequested() || m_session->State() != TServerState::Offline) {
        ShowBox(QStringLiteral("Connected to server, cannot open a different config file, If\nyou want to change "
                               "settings you need to disconnect first."),
                QStringLiteral("Error !"), BoxIcon::Error);
        return false;
    }
    // A file that cannot be read leaves the store as it was, so the working
    // configuration saved at exit is not lost.
    if (!m_config.LoadFromFile(path)) {
        ShowBox(QStringLiteral("Cannot Open File - ") + path, QStringLiteral("Error"), BoxIcon::Error);
        return false;
    }
    LoadSettings();
    SetCaption(path); // after the settings: it names their supporter
    m_history->Add(path);
    return true;
}

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
    if (!m_config.SaveToFile(path)) {
        ShowBox(QStringLiteral("Cannot create file %1").arg(path), QStringLiteral("Error"), BoxIcon::Error);
        return;
    }
    m_saveConfigDir = QFileInfo(path).absolutePath();
    SetCaption(path);
    m_history->Add(path);
}

void TMainForm::ClearHistoryClick()
{
    if (m_history->Clear() == TFileHistory::ClearResult::RemoveFailed)
        ShowBox(QStringLiteral("Cannot remove the history file"), QStringLiteral("Error"), BoxIcon::Error);
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
    TUserSetupDlg::Execute(m_config, *this, this);
}

void TMainForm::OpenSetUpOnFirstStart()
{
    if (!m_firstStart)
        return;
    QTimer::singleShot(0, this, [this] {
        if (!m_exitRunning && !m_exitDone && m_programSetUp->isEnabled())
            TUserSetupDlg::Execute(m_config, *this, this, TUserSetupDlg::Start::FirstStart);
    });
}

void TMainForm::SettingsPageApplied(SettingsPage page)
{
    const TSettings &s = Settings();
    // "Apply" promises to save: a set-up is not lost to a crash before the
    // exit, and a first start's caption names the file from now on.
    if (m_config.SaveToFile(StartPath(QString::fromLatin1(kConfigFileName))) && m_captionFile.isEmpty())
        m_captionFile = QString::fromLatin1(kConfigFileName);
    UpdateCaption();
    switch (page) {
    case SettingsPage::General:
        m_calls->ApplyTimerSettings();
        SetIndicator(OutoAnsLbl, s.AutoOnHoldOnMinimized);
        SetIndicator(IdleModLbl, s.OfflineTimeOutEna);
        m_idleSleeper->SetInterval(s.OfflineTimeOut > 0 ? quint32(s.OfflineTimeOut) : 0);
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

// --- operator idle -------------------------------------------------------------

void TMainForm::StartIdleDetection()
{
    QString reason;
    if (m_idleSleeper->SetActive(true, &reason))
        return;
    // Said once a run; the console works on without idle detection.
    m_log->AddLine(QStringLiteral("Idle detection not available: ") + reason);
    if (!m_idleFailureShown) {
        m_idleFailureShown = true;
        ShowBox(QStringLiteral("Idle mode cannot work on this desktop, the server will not be told when you are "
                               "away.\n\nReason: ")
                    + reason,
                QStringLiteral("Error"), BoxIcon::Error);
    }
}

void TMainForm::StopIdleDetection()
{
    m_idleSleeper->SetActive(false);
}

void TMainForm::IdleSleeperSleep()
{
    SetTrayOnline(false);
    m_session->Send(server::BuildSupportIdle());
}

void TMainForm::IdleSleeperAwake()
{
    SetTrayOnline(true);
    m_session->Send(server::BuildSupportAwake());
}

} // namespace velmora
