#include "app/core/Console.h"

#include "archive/ArchiveDb.h"
#include "archive/ArchiveRecorder.h"
#include "team/TeamArchive.h"
#include "config/FileHistory.h"
#include "config/Genfunc.h"
#include "config/Settings.h"
#include "diag/Boxes.h"
#include "diag/Logdata.h"
#include "diag/SafeText.h"
#include "idle/DesktopIdleMonitor.h"
#include "idle/IdleSleeper.h"
#include "mail/Mailbuff.h"
#include "mail/Outbox.h"
#include "mail/Transcript.h"
#include "protocol/ServerMessages.h"
#include "session/CloseSockets.h"
#include "session/Exchange.h"
#include "shortcuts/Canneddata.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>

namespace velmora {
namespace {

// The longest the exit waits for farewells under way, each time it waits.
constexpr int kExitWaitMs = 1500;

QString ConfigPath() { return StartPath(QString::fromLatin1(kConfigFileName)); }

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

} // namespace

TConsole::TConsole(IConsoleView &view, QObject *parent) : QObject(parent), m_view(view)
{
    m_firstStart = !QFileInfo::exists(ConfigPath());
    m_config.LoadFromFile(ConfigPath());

    // The log exists before anything can be logged, and the box for a log
    // that cannot be opened comes first.
    m_log = std::make_unique<TLogFile>(StartPath(QString::fromLatin1(kLogFileName)));
    // Every chat is kept as it happens; an archive that cannot be written
    // never keeps the chats from going on.
    m_archive = std::make_unique<TArchiveRecorder>(StartPath(QString::fromLatin1(kArchiveFileName)));
    SetArchiveRecorder(m_archive.get());
    connect(m_archive.get(), &TArchiveRecorder::Problem, this, [this](const QString &text) {
        m_log->AddLine(OneLine(text));
        m_view.ShowCallNotice(text);
    });
    connect(m_archive.get(), &TArchiveRecorder::Resumed, this,
            [this] { m_log->AddLine(QStringLiteral("The chat archive is written again.")); });
    // The team's shared archive, when one is set, follows the local one.
    m_team = std::make_unique<TTeamArchive>(m_archive->Path());
    SetTeamArchive(m_team.get());
    connect(m_archive.get(), &TArchiveRecorder::ChatsEnded, m_team.get(), &TTeamArchive::Nudge);
    connect(m_team.get(), &TTeamArchive::StatusChanged, this, [this](const QString &text) {
        m_log->AddLine(OneLine(text));
        m_view.ShowTeamArchiveStatus(text);
    });

    // Transcripts wait in the outbox until delivered, across runs.
    m_outbox = std::make_unique<TOutbox>(StartPath(QString::fromLatin1(kOutboxFolderName)));
    m_composer = std::make_unique<TTranscriptComposer>(StartDirectory(), m_outbox.get());
    m_mailBuff = std::make_unique<TMailBuff>(m_outbox.get(), m_log.get());
    connect(m_mailBuff.get(), &TMailBuff::WaitingChanged, this, [this] { m_view.MailWaitingChanged(); });
    m_composer->OnAddressProblem = [this](const QString &text, bool notSent) {
        m_mailBuff->NoteAddressProblem(text, notSent);
        m_view.ShowCallNotice(text); // then the mail label keeps the count
    };
    m_closer = std::make_unique<TCloseSockets>();
    m_session = std::make_unique<TServerSession>(*this, m_log.get());
    ShowSession(*m_session);
    m_calls = std::make_unique<TCalls>(*this, *m_session, *m_closer, m_log.get());
    connect(m_calls.get(), &TCalls::Problem, this,
            [this](const QString &text, const QString &caption, BoxIcon icon) { m_view.ShowProblem(text, caption, icon); });
    connect(m_calls.get(), &TCalls::Notice, this,
            [this](const QString &text, const QString &caption, BoxIcon icon) { m_view.ShowNotice(text, caption, icon); });
    // The idle detector exists before the settings hand it its interval; it
    // stays inactive until a login is accepted.
    m_idleSleeper = std::make_unique<TIdleSleeper>([](QString *reason) { return MakeDesktopInputMonitor(reason); });
    m_idleSleeper->SetOnSleep([this] {
        m_view.SetTrayOnline(false);
        m_session->Send(server::BuildSupportIdle());
    });
    m_idleSleeper->SetOnAwake([this] {
        m_view.SetTrayOnline(true);
        m_session->Send(server::BuildSupportAwake());
    });
    m_exitRetry.setInterval(100);
    connect(&m_exitRetry, &QTimer::timeout, this, &TConsole::ExitRetryTimer);
}

void TConsole::ShowSession(TServerSession &session)
{
    IConsoleView &view = m_view;
    connect(&session, &TServerSession::Problem, this,
            [&view](const QString &text, const QString &caption, BoxIcon icon) { view.ShowProblem(text, caption, icon); });
    connect(&session, &TServerSession::StatusTextChanged, this, [&view](const QString &t) { view.ShowStatusText(t); });
    connect(&session, &TServerSession::OnlineGlyphChanged, this, [&view](bool on) { view.SetOnlineGlyph(on); });
    connect(&session, &TServerSession::MenusEnabledChanged, this, [&view](bool on) { view.SetMenusEnabled(on); });
    connect(&session, &TServerSession::ChatWithOtherSupportEnabledChanged, this,
            [&view](bool on) { view.SetChatWithOtherSupportEnabled(on); });
    connect(&session, &TServerSession::BusyAnimationChanged, this, [&view](bool on) { view.SetBusyAnimation(on); });
    connect(&session, &TServerSession::TrayOnlineChanged, this, [&view](bool on) { view.SetTrayOnline(on); });
    connect(&session, &TServerSession::SupportersOnlineChanged, this, [&view](int n) { view.SetSupportersOnline(n); });
    connect(&session, &TServerSession::ChatLimitChanged, this, [&view](int n) { view.SetChatLimit(n); });
}

TConsole::~TConsole()
{
    if (m_exitForced)
        SetBoxesUnattended(false);
}

void TConsole::Start()
{
    m_log->AddLine(QStringLiteral("Application loaded !!!"));
    m_view.SetSupportersOnline(0);
    m_view.SetChatLimit(0);
    m_history = std::make_unique<TFileHistory>(StartPath(QString::fromLatin1(kHistoryFileName)), &m_view);
    m_history->Load();
    m_view.ShowStatusText(StatusTextOf(StatusConnectHint));

    m_canned = std::make_unique<TTitleDataClass>(StartPath(QString::fromLatin1(kCannedFileName)));
    m_urls = std::make_unique<TTitleDataClass>(StartPath(QString::fromLatin1(kUrlFileName)));
    m_mailBuff->NewSession(Settings());

    if (Settings().ConnectOnStart)
        QTimer::singleShot(0, this, [this] {
            if (m_session)
                m_session->ToggleConnection();
        });
}

void TConsole::LoadSettings(bool connecting)
{
    TSettings &s = Settings();
    ReadSettings(m_config, s);
    if (!connecting)
        m_transcriptsOff = !s.EanbelDisableMails;
    ApplyTimerSettings(s);
    m_view.SettingsRead(s);
    ApplyArchiveDays(s.ArchiveDays);
    m_team->Configure(s.TeamArchive, s.TeamArchiveSchema);
    if (!SoundFilesPresent(s))
        m_view.ShowProblem(QStringLiteral("One of the sound files is missing check your sounds setting !."),
                           QStringLiteral("Error"), BoxIcon::None);
}

void TConsole::ApplyTimerSettings(const TSettings &s)
{
    m_calls->ApplyTimerSettings();
    m_idleSleeper->SetInterval(s.OfflineTimeOut > 0 ? quint32(s.OfflineTimeOut) : 0);
}

void TConsole::ApplyArchiveDays(int days)
{
    // Turned off by the operator (not found off at start): what is kept may go too.
    const bool turnedOff = days == 0 && m_archive->Enabled() && m_archiveDaysApplied;
    m_archiveDaysApplied = true;
    m_archive->SetRetentionDays(days);
    if (turnedOff && m_view.ConfirmArchiveRemoval())
        m_archive->RemoveAll();
}

bool TConsole::OpenConfigFile(const QString &path)
{
    if (m_session->ConnectRequested() || m_session->State() != TServerState::Offline) {
        m_view.ShowProblem(QStringLiteral("Connected to server, cannot open a different config file, If\nyou want to change "
                                          "settings you need to disconnect first."),
                           QStringLiteral("Error !"), BoxIcon::Error);
        return false;
    }
    // A file that cannot be read leaves the store as it was, so the working
    // configuration saved at exit is not lost.
    if (!m_config.LoadFromFile(path)) {
        m_view.ShowProblem(QStringLiteral("Cannot Open File - ") + path, QStringLiteral("Error"), BoxIcon::Error);
        return false;
    }
    LoadSettings();
    m_view.ConfigFileChanged(path); // after the settings: the caption names their supporter
    m_history->Add(path);
    return true;
}

void TConsole::ClearHistory()
{
    if (m_history->Clear() == TFileHistory::ClearResult::RemoveFailed)
        m_view.ShowProblem(QStringLiteral("Cannot remove the history file"), QStringLiteral("Error"), BoxIcon::Error);
}

bool TConsole::SettingsPageApplied(SettingsPage page)
{
    const TSettings &s = Settings();
    // "Apply" promises to save: a set-up is not lost to a crash before the exit.
    const bool saved = m_config.SaveToFile(ConfigPath());
    switch (page) {
    case SettingsPage::General:
        ApplyTimerSettings(s);
        break;
    case SettingsPage::TeamArchive:
        m_team->Configure(s.TeamArchive, s.TeamArchiveSchema);
        break;
    case SettingsPage::Reconnect:
        if (m_session->ReconnectTimer().isActive())
            m_session->ReconnectTimer().setInterval(s.ReconnectIntervalMs());
        break;
    default:
        break; // read where they are used, or at the next connect
    }
    return saved;
}

void TConsole::ComposeTranscript(const TTranscriptSource &source)
{
    if (!m_composer)
        return; // the exit has run
    if (std::optional<TMailRecord> record = m_composer->Compose(source, Settings()))
        m_mailBuff->AddMail(std::move(*record));
}

// --- the session's side ------------------------------------------------------

bool TConsole::ConfirmEndingSessions(const QString &text, const QString &caption)
{
    BoxRequest question{text, caption, BoxIcon::Warning, BoxButtons::OkCancel};
    question.safeDefault = true;
    return m_view.Ask(question) == BoxAnswer::Ok;
}

bool TConsole::TranscriptChecksBeforeConnect()
{
    const TSettings &s = Settings();
    m_transcriptsOff = !s.EanbelDisableMails;
    if (!m_transcriptsOff && (s.SMTP_Server.isEmpty() || s.MailUserID.isEmpty() || s.SupportMailAddr.isEmpty())) {
        const BoxAnswer answer = m_view.Ask(
            {QStringLiteral("Mail setup missing, you will not be able to send chat transcripts to your customers.\n\nIf "
                            "you choose to continue without the ability to send chat transcripts, click the Ok \nbutton, "
                            "or click the Cancel button and properly set your mail parameters !."),
             QStringLiteral("Warning"), BoxIcon::Warning, BoxButtons::OkCancel});
        if (answer != BoxAnswer::Ok)
            return false;
        m_transcriptsOff = true;
    }
    if (!m_transcriptsOff && !QFile(StartPath(QString::fromLatin1(kMailTemplateFileName))).open(QIODevice::ReadOnly)) {
        m_view.ShowProblem(QStringLiteral("Could not locate base_mail.txt file. This file is used to carry the\nchat transcript. "
                                          "Chat mail transcript sending is disabled !. \n\nPlease check your working directory "
                                          "and make sure the the file is there !."),
                           QStringLiteral("Warning"), BoxIcon::Warning);
        m_transcriptsOff = true;
    }
    return true;
}

void TConsole::StartMailSession()
{
    if (m_mailBuff)
        m_mailBuff->NewSession(Settings());
}

int TConsole::OpenChatWindowCount() const { return m_calls->OpenChatWindows(); }
int TConsole::CallsOnHoldCount() const { return m_calls->CallsOnHold(); }
void TConsole::EndAllCalls() { m_calls->EndAllCalls(); }
void TConsole::TakeDownChatWindowsOnNetError() { m_calls->TakeDownChatWindowsOnNetError(); }

void TConsole::NewCall(qint32 sessionCount, qint32 port, const QString &site, const QString &ip, quint16 kind)
{
    m_calls->NewCall(sessionCount, port, site, ip, kind);
}

void TConsole::CallAnswered(qint32 sessionCount) { m_calls->CallAnswered(sessionCount); }
void TConsole::TransferData(qint32 sessionCount, const QByteArray &data) { m_calls->TransferData(sessionCount, data); }

void TConsole::ShowCallNotice(const QString &text)
{
    m_view.ShowCallNotice(text);
    m_log->AddLine(text);
}

void TConsole::StartIdleDetection()
{
    QString reason;
    if (m_idleSleeper->SetActive(true, &reason))
        return;
    // Said once a run; the console works on without idle detection.
    m_log->AddLine(QStringLiteral("Idle detection not available: ") + reason);
    if (!m_idleFailureShown) {
        m_idleFailureShown = true;
        m_view.ShowProblem(QStringLiteral("Idle mode cannot work on this desktop, the server will not be told when you are "
                                          "away.\n\nReason: ")
                               + reason,
                           QStringLiteral("Error"), BoxIcon::Error);
    }
}

void TConsole::StopIdleDetection() { m_idleSleeper->SetActive(false); }

// --- the exit ------------------------------------------------------------------

void TConsole::ExitRetryTimer()
{
    if (m_exitDone) {
        m_exitRetry.stop();
        return;
    }
    if (m_view.ModalWindowOpen()) {
        if (m_exitForced)
            m_view.AnswerModalWindows(false); // new boxes may have come up meanwhile
        return;
    }
    m_exitRetry.stop();
    ExitProcedure(!m_exitForced);
}

bool TConsole::ExitProcedure(bool ask)
{
    if (m_exitDone)
        return true;
    if (!ask && !m_exitForced) {
        m_exitForced = true;
        // Nobody answers a box now: the chats' own questions (a visitor still
        // typing) and errors must not hold the exit.
        SetBoxesUnattended(true);
    }
    if (m_exitRunning || m_view.ModalWindowOpen()) {
        // Releasing the session, the calls or the log now would free them
        // under the handler that opened the modal window. A forced exit
        // answers those windows; the exit then runs once they have returned
        // (a running exit procedure simply goes on).
        if (m_exitForced) {
            // The calls whose alerts are answered now are not taken on.
            m_session->SetExitInProgress(true);
            m_view.AnswerModalWindows(true);
        }
        if (!m_exitRunning && !m_exitRetry.isActive())
            m_exitRetry.start();
        return false;
    }
    m_exitRunning = true;
    const bool active = m_session->ConnectRequested() && (OpenChatWindowCount() + CallsOnHoldCount() > 0);
    if (ask && active) {
        const bool ok = m_view.ConfirmExit(
            QStringLiteral("You have open chat windows or OnHold clients. It\nis advisable to close all open sessions "
                           "andor \nOnHold clients first !\n\nIf you wish to exit anyway click Ok, else Cancel."));
        // A termination signal while the question was open overrides Cancel.
        if (!ok && !m_exitForced) {
            m_exitRunning = false;
            return false;
        }
    }
    if (ask && !m_exitForced && m_mailBuff->WaitingCount() > 0) {
        const bool ok = m_view.ConfirmExit(
            QStringLiteral("You have waiting mail transcript's, it is advisable to wait for a few \nseconds until "
                           "they are all sent and then exit !. \n\nIf you wish to exit click Ok, else Cancel and try "
                           "again later."));
        if (!ok && !m_exitForced) {
            m_exitRunning = false;
            return false;
        }
    }
    m_session->SetExitInProgress(true);
    m_view.RejectCallAlerts();

    m_view.SaveWindowPlaces(m_config);
    m_config.SaveToFile(ConfigPath());
    m_history->RebuildMenu();
    // When the desktop session ends nobody could answer a box.
    if (!m_history->Save() && !m_exitForced)
        m_view.ShowProblem(QStringLiteral("Could not save history file"), QStringLiteral("Error"), BoxIcon::Error);

    if (active)
        m_calls->EndAllCalls();
    // Windows left open read only (the visitor left, or the server connection
    // dropped) are no calls any more, but their conversations still go out.
    m_view.CloseChatWindows();
    WaitForExchanges(kExitWaitMs);
    if (m_session->ConnectRequested()) {
        if (m_session->WaitUntilSent())
            m_view.ShowProblem(QStringLiteral("From inside TMainForm::FormClose, Could not send waiting messages !!"),
                               QStringLiteral("Error"), BoxIcon::Error);
        m_session->ToggleConnection();
        WaitForExchanges(kExitWaitMs);
    }
    m_idleSleeper->SetActive(false);
    m_view.ExitFinishing();
    m_calls.reset();
    m_session.reset();
    m_closer.reset();
    m_mailBuff.reset();
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
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    return true;
}

} // namespace velmora
