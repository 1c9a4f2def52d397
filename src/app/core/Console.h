#pragma once
// The console without its windows: the settings, the session log, the chat
// archive, the server session and the calls, the transcript queue, operator
// idle, the recent settings files and the shortcut lists, wired to each other
// directly. It runs the exit. What it shows or asks goes through IConsoleView.
#include "app/core/ConsoleView.h"
#include "config/ProgramConfig.h"
#include "config/Settings.h"
#include "session/Calls.h"
#include "session/ServerSession.h"

#include <QObject>
#include <QTimer>

#include <memory>

namespace velmora {

class TArchiveRecorder;
class TTeamArchive;
class TCloseSockets;
class TFileHistory;
class TIdleSleeper;
class TLogFile;
class TMailBuff;
class TOutbox;
class TTitleDataClass;
class TTranscriptComposer;
struct TTranscriptSource;

class TConsole : public QObject, public ISessionHost, public ICallsHost {
    Q_OBJECT
public:
    // Reads the settings file of the start folder and makes the workers.
    // Once the view can show them, LoadSettings() applies the settings and
    // Start() readies the rest: the log's first line, the recent settings
    // files, the shortcut lists, and the connection when so configured.
    explicit TConsole(IConsoleView &view, QObject *parent = nullptr);
    ~TConsole() override;
    void Start();

    // Null once the exit has run, as are the log, the mail queue and the outbox.
    TServerSession *SessionPtr() const { return m_session.get(); }
    TCalls *CallsPtr() const { return m_calls.get(); }
    TServerSession &Session() { return *m_session; }
    TCalls &Calls() { return *m_calls; }
    TProgramConfig &Config() { return m_config; }
    TArchiveRecorder *Archive() const { return m_archive.get(); }
    TLogFile *Log() const { return m_log.get(); }
    TMailBuff *MailBuff() const { return m_mailBuff.get(); }
    TOutbox *Outbox() const { return m_outbox.get(); }
    TFileHistory &History() { return *m_history; }
    TIdleSleeper &IdleSleeper() { return *m_idleSleeper; }
    const TTitleDataClass *CannedList() const { return m_canned.get(); }
    const TTitleDataClass *UrlList() const { return m_urls.get(); }
    TTitleDataClass &CannedList() { return *m_canned; }
    TTitleDataClass &UrlList() { return *m_urls; }
    // No settings file was found at start.
    bool FirstStart() const { return m_firstStart; }
    bool TranscriptsOff() const { return m_transcriptsOff; }
    bool ExitRunning() const { return m_exitRunning; }
    bool ExitDone() const { return m_exitDone; }

    // Reads every setting and renews what depends on them. `connecting` keeps
    // the transcript decision taken for the coming server session.
    void LoadSettings(bool connecting = false);
    // Makes `path` the settings in use; refused while connected.
    bool OpenConfigFile(const QString &path);
    void ClearHistory();
    // A page of the settings dialog was applied: saves the settings file
    // (false when it could not be written) and renews what the page sets.
    bool SettingsPageApplied(SettingsPage page);
    void ComposeTranscript(const TTranscriptSource &source);
    // The operator transfers a chat: the list of supporters is asked for.
    // False (after saying why) while another transfer runs or when offline.
    bool BeginTransfer(qint32 sessionCount, const QByteArray &conversation);
    // The chat of `sessionCount` gives up its transfer while the conversation
    // has not gone (the operator cancelled, the visitor left, the window
    // closes): its window takes text again, with `line` saying why (none
    // when empty). False when there was none to give up.
    bool CancelTransfer(qint32 sessionCount, const QString &line = {});

    // The exit. `ask` is false when the desktop session ends (SIGTERM/SIGINT):
    // no questions, everything is ended and saved. Returns false when the
    // operator cancelled, or when the exit waits for modal windows to return.
    bool ExitProcedure(bool ask = true);

    // ISessionHost
    void LoginRefused(const QString &text) override { m_view.ShowLoginRefused(text); }
    void ReloadSettings() override { LoadSettings(true); }
    bool ConfirmEndingSessions(const QString &text, const QString &caption) override;
    bool TranscriptChecksBeforeConnect() override;
    void StartMailSession() override;
    int OpenChatWindowCount() const override;
    int CallsOnHoldCount() const override;
    void EndAllCalls() override;
    void TakeDownChatWindowsOnNetError() override;
    void StartIdleDetection() override;
    void StopIdleDetection() override;
    void NewCall(qint32 sessionCount, qint32 port, const QString &site, const QString &ip, quint16 kind) override;
    void CallAnswered(qint32 sessionCount) override;
    void TransferData(qint32 sessionCount, const QByteArray &data) override;
    QByteArray TransferConversationNow(qint32 sessionCount, const QByteArray &kept) override;
    void TransferHandedOver(qint32 sessionCount) override;
    void SupportersListed(TSupporterListRequest request, const QVector<TOnlineSupporter> &list) override;
    void SupporterRequestCancelled(TSupporterListRequest request) override;

    // ICallsHost
    bool IsMinimizedToTray() const override { return m_view.IsMinimizedToTray(); }
    bool SoundsOn() const override { return m_view.SoundsOn(); }
    void PlayMainSound() override { m_view.PlayMainSound(); }
    void SetTrayBlinking(bool on) override { m_view.SetTrayBlinking(on); }
    std::function<void()> ShowNewCallAlertThen(quint16 kind, const QString &site, const QString &ip,
                                               bool acceptEnabled, const QString &asking,
                                               std::function<void(bool)> answered) override
    {
        return m_view.ShowNewCallAlertThen(kind, site, ip, acceptEnabled, asking, std::move(answered));
    }
    TCallAlert OpenCallAlert(quint16 kind, const QString &site, const QString &ip, bool acceptEnabled,
                             const QString &asking, std::function<void(bool)> answered) override
    {
        return m_view.OpenCallAlert(kind, site, ip, acceptEnabled, asking, std::move(answered));
    }
    void ShowCallNotice(const QString &text) override;
    IChatWindow *CreateChatWindow(ChatItem *record, int number) override
    {
        return m_view.CreateChatWindow(record, number);
    }
    QString EditEmail(const QString &current) override { return m_view.EditEmail(current); }

private:
    // The connection's indicators and counters go to the view as the session changes them.
    void ShowSession(TServerSession &session);
    // The calls' timers and the idle interval, as the General page sets them.
    void ApplyTimerSettings(const TSettings &s);
    void ApplyArchiveDays(int days);
    // The pending transfer ends without a supporter: its chat window takes text again.
    void AbandonTransfer();
    // The list or the answer did not come in time.
    void TransferOverdue();
    void WaitForTransferStep();
    void ExitRetryTimer();

    IConsoleView &m_view;
    TProgramConfig m_config;
    bool m_firstStart = false;
    // Before everything that records chats, so it is destroyed after them.
    std::unique_ptr<TArchiveRecorder> m_archive;
    std::unique_ptr<TTeamArchive> m_team;
    std::unique_ptr<TLogFile> m_log;
    std::unique_ptr<TOutbox> m_outbox;
    std::unique_ptr<TTranscriptComposer> m_composer;
    std::unique_ptr<TMailBuff> m_mailBuff;
    std::unique_ptr<TCloseSockets> m_closer;
    std::unique_ptr<TServerSession> m_session;
    std::unique_ptr<TCalls> m_calls;
    std::unique_ptr<TIdleSleeper> m_idleSleeper;
    std::unique_ptr<TFileHistory> m_history;
    std::unique_ptr<TTitleDataClass> m_canned;
    std::unique_ptr<TTitleDataClass> m_urls;
    bool m_transcriptsOff = true;
    bool m_archiveDaysApplied = false;
    bool m_idleFailureShown = false;
    QTimer m_transferWait; // for the supporter list, then for the answer
    QTimer m_exitRetry; // an exit that waits for open modal windows to return
    bool m_exitRunning = false;
    bool m_exitDone = false;
    bool m_exitForced = false; // the desktop session is ending: no question may stop the exit
};

} // namespace velmora
