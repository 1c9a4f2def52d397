#include "app/Servermain.h"

#include "Resources.h"
#include "Version.h"
#include "archive/ui/PastChatsWindow.h"
#include "figures/FiguresLoader.h"
#include "figures/ui/MyFiguresWindow.h"
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
#include "diag/Logdata.h"
#include "diag/SafeText.h"
#include "diag/ui/DebugWinDlg.h"
#include "mail/Mailbuff.h"
#include "mail/Outbox.h"
#include "shortcuts/Canneddata.h"
#include "team/TeamArchive.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMovie>
#include <QPointer>
#include <QStatusBar>
#include <QToolButton>
#include <QUrl>

namespace velmora {
namespace {

// How long a notice (a call, a mail) stays in the status bar before the
// panels it covers come back.
constexpr int kStatusNoticeMs = 15000;

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
    TCalls &calls = m_console->Calls();
    // The debug window only shows the queue's lines.
    m_debugWin = std::make_unique<TDebugWinDlg>(m_console->MailBuff()->DebugLines());
    MailWaitingChanged();
    WatchTodaysFigures();
    m_callsLink = std::make_unique<TCallsLink>(calls);
    ListView = new TCallListView(calls, this);
    ListView->setProperty("helpContext", int(THelpWindow::CallListContext));
    setProperty("helpContext", int(THelpWindow::CallListContext));
    centralWidget()->layout()->addWidget(ListView);
    ListView->ShowPastChats = [this](const QString &visitor) { ShowPastChats(visitor); };
    // The window starts, and comes back, with the keyboard on the call list.
    ListView->setFocus();
    m_keys = new TConsoleKeys(this);
    m_keys->AcceptNewestCall = [this] {
        // A key that does nothing says why.
        TCalls *calls = m_console->CallsPtr();
        if (calls && !calls->AcceptNewestAlert())
            statusBar()->showMessage(calls->AlertsOpen() > 0
                                         ? QStringLiteral("The chat limit is reached: close a chat window to accept "
                                                          "the call, or put it on hold (Ctrl+Alt+H).")
                                         : QStringLiteral("No call is waiting to be accepted."),
                                     kStatusNoticeMs);
    };
    m_keys->HoldNewestCall = [this] {
        if (TCalls *calls = m_console->CallsPtr())
            calls->HoldNewestAlert();
    };
    m_keys->TurnToNewestAlert = [this] {
        if (TCalls *calls = m_console->CallsPtr())
            calls->TurnToNewestAlert();
    };
    connect(&calls, &TCalls::CountersChanged, this, [this, &calls] {
        if (calls.CallsOnHold() == 0)
            SetTrayBlinking(false);
        UpdateTrayTip();
    });

    m_tray = new TConsoleTray(*m_console, this);
    m_tray->Exit = [this] { ExitProcedure(true); };
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
    m_tray->CaptionChanged(title);
    UpdateTrayTip();
}

void TMainForm::SettingsRead(const TSettings &s)
{
    if (s.ChatWindowWidth > 0 && s.ChatWindowHeight > 0)
        RememberChatSize(QSize(s.ChatWindowWidth, s.ChatWindowHeight));
    SetIndicator(OutoAnsLbl, s.AutoOnHoldOnMinimized);
    SetIndicator(IdleModLbl, s.OfflineTimeOutEna);
    PlayWavInMain.SetFile(QFileInfo(s.MainSundFile).absoluteFilePath());
}

void TMainForm::ShowPastChats(const QString &visitor)
{
    if (!m_pastChats)
        m_pastChats = new TPastChatsWindow(
            *m_console->Archive(),
            [this](const TTranscriptSource &source) {
                // What went where, for the day's record.
                if (TLogFile *log = Log())
                    log->AddLine(QStringLiteral("Transcript of the past chat with ") + OneLine(source.Name)
                                 + QStringLiteral(" (session ") + QString::number(source.SessionCount)
                                 + QStringLiteral(") queued again for ") + OneLine(source.Email));
                ComposeTranscript(source);
            },
            this);
    m_pastChats->ShowFor(visitor);
}

void TMainForm::ShowMyFigures()
{
    TArchiveRecorder *archive = m_console->Archive();
    if (!archive) {
        ShowBox(QStringLiteral("No chats are kept on this computer, so there are no figures to show. The chat archive "
                               "is turned on in Program Set Up, General."),
                QStringLiteral("My figures"), BoxIcon::Information, BoxButtons::Ok, this);
        return;
    }
    if (!m_myFigures)
        m_myFigures = new TMyFiguresWindow(
            archive->Path(), [] { return Settings().ResponseTarget; },
            [this] { ShowHelp(THelpWindow::MyFiguresContext); }, this);
    m_myFigures->ShowAndRaise();
}

void TMainForm::WatchTodaysFigures()
{
    TArchiveRecorder *archive = m_console->Archive();
    if (!archive)
        return;
    m_todayLoader = std::make_unique<TFiguresLoader>(archive->Path());
    connect(m_todayLoader.get(), &TFiguresLoader::Loaded, this, [this](const TFigures &f) { ShowTodaysFigures(f); });
    const auto load = [this] {
        const auto [from, to] = PeriodSpan(PeriodDays(FigurePeriod::Today, QDate::currentDate()));
        m_todayLoader->Load(from, to, Settings().ResponseTarget);
        if (m_myFigures && m_myFigures->isVisible())
            m_myFigures->Reload();
    };
    // Once per ended chat, never per line.
    connect(archive, &TArchiveRecorder::ChatsEnded, this, load);
    load();
}

void TMainForm::ShowTodaysFigures(const TFigures &figures)
{
    if (!figures.Ok) {
        m_todayFigures->hide();
        return;
    }
    m_todayFigures->setText(QStringLiteral("Today: %1 chats, first response %2")
                                .arg(figures.Accepted)
                                .arg(FigureTime(figures.FirstResponse.Median)));
    m_todayFigures->setToolTip(QStringLiteral("Median first response of today's chats; Ctrl+Shift+F shows all figures"));
    m_todayFigures->show();
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
    TServerSession *session = m_console->SessionPtr();
    if (!session)
        return;
    ChatWithOtherSupportBtn->setEnabled(false);
    session->RequestSupporters(TSupporterListRequest::SupporterChat);
}

// --- IConsoleView -------------------------------------------------------------

void TMainForm::ShowStatusText(const QString &text) { m_statusPanel1->setText(text); }

void TMainForm::ShowLoginRefused(const QString &text) { m_notices->Notice(QStringLiteral("Not logged in"), text); }

void TMainForm::SetOnlineGlyph(bool online)
{
    WebSbtnClickBtn->setIcon(QIcon(Glyph(online ? "COMP_L_OK" : "COMP_L_NOK")));
}

void TMainForm::SetChatWithOtherSupportEnabled(bool enabled)
{
    // One supporter chat of its own at a time: the end of another chat (one
    // this console answered, say) offers no second while it lasts or while
    // the list for it is awaited.
    // Null while the console is being made, and after the exit.
    const TServerSession *session = m_console ? m_console->SessionPtr() : nullptr;
    ChatWithOtherSupportBtn->setEnabled(enabled && session && !OwnSupporterChatRunning()
                                        && !session->SupporterRequestPending(TSupporterListRequest::SupporterChat));
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

bool TMainForm::BeginTransfer(const TTransferSource &source)
{
    return m_console && m_console->BeginTransfer(source.SessionCount, source.Conversation);
}

bool TMainForm::CancelTransfer(qint32 sessionCount, const QString &line)
{
    return m_console && m_console->CancelTransfer(sessionCount, line);
}

void TMainForm::OpenSupporterChat(qint32 port, const QString &name)
{
    ChatWithOtherSupportBtn->setEnabled(false);
    m_suppChat = new TSuppChatWindow(port, name, *this);
}

void TMainForm::ShowCallNotice(const QString &text) { statusBar()->showMessage(text, kStatusNoticeMs); }

void TMainForm::ShowTeamArchiveStatus(const QString &text)
{
    m_teamStatus->setText(text);
    // The why (server error, a newer schema, no TLS) for the operator who points at it.
    const TTeamArchive *team = TeamArchive();
    m_teamStatus->setToolTip(team ? team->Problem().toHtmlEscaped() : QString());
    m_teamStatus->setVisible(!text.isEmpty());
}

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

// --- the calls' side -----------------------------------------------------------

void TMainForm::PlayMainSound()
{
    PlayWavInMain.Play();
}

// The core's messages are the application's modal boxes, as they always were.
void TMainForm::ShowProblem(const QString &text, const QString &caption, BoxIcon icon) { ShowBox(text, caption, icon); }

void TMainForm::ShowNotice(const QString &text, const QString &caption, BoxIcon icon)
{
    velmora::ShowNotice(text, caption, icon);
}

BoxAnswer TMainForm::Ask(const BoxRequest &request)
{
    return request.safeDefault ? ConfirmBox(request.text, request.caption, request.icon, request.buttons)
                               : ShowBox(request.text, request.caption, request.icon, request.buttons);
}

void TMainForm::SetTrayBlinking(bool on) { m_tray->SetBlinking(on); }

std::function<void()> TMainForm::ShowNewCallAlertThen(quint16 kind, const QString &site, const QString &ip,
                                                      bool acceptEnabled, const QString &asking,
                                                      std::function<void(bool)> answered)
{
    return OpenCallAlert(kind, site, ip, acceptEnabled, asking, std::move(answered)).Withdraw;
}

ICallsHost::TCallAlert TMainForm::OpenCallAlert(quint16 kind, const QString &site, const QString &ip,
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
    TCallAlert opened;
    opened.Withdraw = [alert] {
        if (alert)
            alert->reject();
    };
    opened.Answer = [alert](bool accept) { return alert && alert->Press(accept); };
    opened.TurnTo = [alert] { return alert && alert->BringForward(); };
    opened.NameAsker = [self, alert, kind, site](const QString &name) {
        if (!alert)
            return;
        alert->SetAsking(name);
        if (self)
            self->m_notices->CallAlert(alert, kind, site, name);
    };
    return opened;
}

void TMainForm::UpdateTrayTip() { m_tray->UpdateTip(); }
QSystemTrayIcon *TMainForm::TrayIcon() const { return m_tray->Icon(); }

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

void TMainForm::MinimizeToTray() { m_tray->HideWindow(); }
void TMainForm::RestoreFromTray() { m_tray->ShowWindow(); }
void TMainForm::BringToFront() { m_tray->BringWindowToFront(); }
bool TMainForm::IsMinimizedToTray() const { return m_tray->WindowHidden() || isMinimized(); }

void TMainForm::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && m_tray)
        m_tray->WindowStateChanged();
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
        RejectCallAlerts();
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
    return ConfirmBox(text, QStringLiteral("Warning"), BoxIcon::Warning, BoxButtons::OkCancel) == BoxAnswer::Ok;
}

void TMainForm::RejectCallAlerts()
{
    if (TCalls *calls = m_console->CallsPtr())
        calls->WithdrawAlerts();
}

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
    // A first start's caption names the settings file once it is saved.
    if (m_console->SettingsPageApplied(page) && m_captionFile.isEmpty())
        m_captionFile = QString::fromLatin1(kConfigFileName);
    UpdateCaption();
    if (page == SettingsPage::General) {
        SetIndicator(OutoAnsLbl, Settings().AutoOnHoldOnMinimized);
        SetIndicator(IdleModLbl, Settings().OfflineTimeOutEna);
    }
}

void TMainForm::ShowHelp(int context)
{
    THelpWindow::ShowHelpContext(context);
}

} // namespace velmora
