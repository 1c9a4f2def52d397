#pragma once
// The console's main window: start-up and exit, the connection controls, the
// counters and indicators, the call list, the status bar with its uptime
// clock, the tray icon and the main sounds. The logic it shows lives in
// TServerSession (the login) and TCalls (the calls).
#include "chat/ChatHost.h"
#include "chat/SuppChatWindow.h"
#include "config/FileHistory.h"
#include "config/ProgramConfig.h"
#include "config/ui/UserSetupDlg.h"
#include "session/Calls.h"
#include "session/ServerSession.h"

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <memory>

class QAction;
class QLabel;
class QMenu;
class QMovie;
class QSoundEffect;
class QSystemTrayIcon;
class QToolButton;
class QWidget;

namespace velmora {

class TArchiveRecorder;
class TCallListView;
class TPastChatsWindow;
class TConsoleKeys;
class TChatWorkspace;
class TConsoleNotices;
class TCallsLink;
class TCloseSockets;
class TDebugWinDlg;
class TMailBuff;
class TOutbox;
class TLogFile;
class TIdleSleeper;
class TTitleDataClass;

class TMainForm : public QMainWindow,
                  public ISessionHost,
                  public ICallsHost,
                  public IChatHost,
                  public ISuppChatHost,
                  public IHistoryMenu,
                  public ISetupHost {
    Q_OBJECT
public:
    explicit TMainForm(QWidget *parent = nullptr);
    ~TMainForm() override;

    // Everything the window owns, reachable for the other windows and tests.
    TServerSession &Session() { return *m_session; }
    TCalls &Calls() { return *m_calls; }
    TProgramConfig &Config() { return m_config; }
    TTitleDataClass &CannedList() { return *m_canned; }
    TTitleDataClass &UrlList() { return *m_urls; }

    // Reads every setting and renews what depends on them. `connecting` keeps
    // the transcript decision taken for the coming server session.
    void LoadSettings(bool connecting = false);
    TArchiveRecorder *Archive() const { return m_archive.get(); }
    // Opens "Past chats", the visitor filter set to `visitor`.
    void ShowPastChats(const QString &visitor = QString()) override;
    QAction *PastChatsAction() const { return m_pastChatsAction; }

    // The exit procedure. `ask` is false when the desktop session ends
    // (SIGTERM/SIGINT): no questions, everything is ended and saved.
    // Returns false when the operator cancelled.
    bool ExitProcedure(bool ask = true);

    // Minimize to the tray (or normally when there is no tray) and back.
    void MinimizeToTray();
    void RestoreFromTray();
    // Another start in this folder asked for the window: show it in front,
    // from the tray or minimized if need be.
    void BringToFront();
    // Hidden in the tray, or minimized normally where there is no tray.
    bool IsMinimizedToTray() const override { return m_minimizedToTray || isMinimized(); }

    QString StatusPanelText() const;
    QString UptimeText() const;
    QLabel *SupportersLabel() const { return OnLineSupCountLbl; }
    QLabel *ChatLimitLabel() const { return ChatLimitCountLbl; }
    QToolButton *ConnectButton() const { return WebSbtnClickBtn; }
    QToolButton *ChatWithOtherSupportButton() const { return ChatWithOtherSupportBtn; }
    QSystemTrayIcon *TrayIcon() const { return abfTrayIcon; }
    bool TrayBlinking() const { return m_blinkTimer.isActive(); }
    QAction *ProgramSetUpAction() const { return m_programSetUp; }
    QAction *LoadConfigAction() const { return m_loadConfig; }
    QAction *SaveConfigAsAction() const { return m_saveConfigAs; }
    QAction *ClearHistoryAction() const { return m_clearHistory; }
    QMenu *FileMenu() const { return m_fileMenu; }
    TFileHistory &History() { return *m_history; }
    TIdleSleeper &IdleSleeper() { return *m_idleSleeper; }

    // Settings files: "&Load Config", the history entries, "Save Config &As",
    // "Clear &History" and "Program Set &Up".
    bool OpenConfigFile(const QString &path);
    void LoadConfigClick();
    void SaveConfigAsClick();
    void ClearHistoryClick();
    void ProgramSetUpClick();
    // When the settings file was missing at start, opens the settings dialog
    // at the Web and IP page with what a connection needs, once the window is up.
    void OpenSetUpOnFirstStart();
    // IHistoryMenu
    void ShowHistoryEntries(const QStringList &paths) override;
    // ISetupHost
    void SettingsPageApplied(SettingsPage page) override;
    void ShowHelp(int context) override;
    bool MainSoundsOn() const { return m_soundsOn; }
    void SoundFromMainBtnClick();
    void ChatWithOtherSupportBtnClick();
    void UpdateTrayMenu();
    // The tray icon's hint: the fixed text, the supporter's name when set,
    // then the calls whose alert waits for an answer and the calls on hold.
    static QString TrayTipText(const QString &supporter, int waiting, int onHold);
    void UpdateTrayTip();

    // ISessionHost
    void ShowStatusText(const QString &text) override;
    void SetOnlineGlyph(bool online) override;
    void SetMenusEnabled(bool enabled) override;
    void SetChatWithOtherSupportEnabled(bool enabled) override;
    void SetBusyAnimation(bool running) override;
    void SetTrayOnline(bool online) override;
    void SetSupportersOnline(int count) override;
    void SetChatLimit(int limit) override;
    void ReloadSettings() override { LoadSettings(true); }
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
    void SupporterRequestCancelled(TSupporterListRequest request) override;

    // ICallsHost
    bool SoundsOn() const override { return m_soundsOn; }
    void PlayMainSound() override;
    void SetTrayBlinking(bool on) override;
    std::function<void()> ShowNewCallAlertThen(quint16 kind, const QString &site, const QString &ip,
                                               bool acceptEnabled, const QString &asking,
                                               std::function<void(bool)> answered) override;
    void ShowCallNotice(const QString &text) override;
    IChatWindow *CreateChatWindow(ChatItem *record, int number) override;
    QString EditEmail(const QString &current) override;

    // IChatHost
    TLogFile *Log() override { return m_log.get(); }
    bool TranscriptsOff() const override { return m_transcriptsOff; }
    const TTitleDataClass *CannedMessages() const override { return m_canned.get(); }
    const TTitleDataClass *UrlShortcuts() const override { return m_urls.get(); }
    void ComposeTranscript(const TTranscriptSource &source) override;
    void VisitorLineShown(QWidget *window, const QString &name, const QString &line) override;

    // Transcripts: the queue, its debug window and the attachment numbering.
    TMailBuff *MailBuff() const { return m_mailBuff.get(); }
    TDebugWinDlg *DebugWindow() const { return m_debugWin.get(); }
    TTranscriptComposer *Composer() const { return m_composer.get(); }
    QLabel *MailStatusLabel() const { return m_mailStatus; }
    QAction *MailSendViewAction() const { return m_mailSendView; }

    // Transfers and supporter chats (MainTransfers.cpp).
    bool BeginTransfer(const TTransferSource &source) override;
    void SupportersListed(TSupporterListRequest request, const QVector<TOnlineSupporter> &list) override;
    QByteArray TransferConversationNow(qint32 sessionCount, const QByteArray &kept) override;
    void TransferHandedOver(qint32 sessionCount) override;
    // The supporter chat this console started, while it lasts.
    TSuppChatWindow *SupportChatWindow() const { return m_suppChat; }
    // A supporter chat this console started is open and not over.
    bool OwnSupporterChatRunning() const;

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void BuildControls();
    void BuildMenus();
    void BuildTray();
    // The caption names the supporter and the settings file in use (none
    // until one exists).
    void SetCaption(const QString &configFileName);
    void UpdateCaption();
    void ElapsedTimerTimer();
    void BlinkTimerTimer();
    void IdleSleeperSleep();
    void IdleSleeperAwake();
    void SetCounterLabel(QLabel *label, int value);
    void SetIndicator(QLabel *label, bool on);
    void ExitRetryTimer();
    // The pending transfer ends without a supporter: its chat window takes text again.
    void AbandonTransfer();

    TProgramConfig m_config;
    // Before everything that records chats, so it is destroyed after them.
    std::unique_ptr<TArchiveRecorder> m_archive;
    void ApplyArchiveDays(int days);
    std::unique_ptr<TLogFile> m_log;
    std::unique_ptr<TCloseSockets> m_closer;
    std::unique_ptr<TServerSession> m_session;
    std::unique_ptr<TCalls> m_calls;
    std::unique_ptr<TCallsLink> m_callsLink; // the chat windows' view of the call list
    std::unique_ptr<TTitleDataClass> m_canned;
    std::unique_ptr<TTitleDataClass> m_urls;
    std::unique_ptr<TFileHistory> m_history;
    std::unique_ptr<TIdleSleeper> m_idleSleeper;
    QList<QAction *> m_historyActions; // the entries and their trailing separator
    QString m_saveConfigDir;           // where the last Save Config As went
    bool m_idleFailureShown = false;
    QPointer<TSuppChatWindow> m_suppChat;
    // Transcripts. The debug window only shows the queue's lines, so it goes
    // after the queue.
    std::unique_ptr<TOutbox> m_outbox;
    std::unique_ptr<TTranscriptComposer> m_composer;
    std::unique_ptr<TMailBuff> m_mailBuff;
    std::unique_ptr<TDebugWinDlg> m_debugWin;
    QLabel *m_mailStatus = nullptr; // "Mail: N waiting", shown while mails wait
    void ShowMailWaiting();

    // controls
    QWidget *PanelUnderMenue = nullptr;
    QWidget *PanelUnderImage = nullptr;
    QToolButton *WebSbtnClickBtn = nullptr;
    QToolButton *SoundFromMainBtn = nullptr;
    QToolButton *ChatWithOtherSupportBtn = nullptr;
    QLabel *OnLineSupCountLbl = nullptr;
    QLabel *ChatLimitCountLbl = nullptr;
    QLabel *OutoAnsLbl = nullptr;
    QLabel *IdleModLbl = nullptr;
    QLabel *GIFImage = nullptr;
    QMovie *m_busyMovie = nullptr;
    TCallListView *ListView = nullptr;
    QLabel *m_statusPanel0 = nullptr;
    QLabel *m_statusPanel1 = nullptr;
    QLabel *m_statusPanel2 = nullptr;
    QSystemTrayIcon *abfTrayIcon = nullptr;
    QMenu *TrayIconPopupMenu = nullptr;
    QSoundEffect *PlayWavInMain = nullptr; // made by the first sound played
    QUrl m_mainSound;

    QMenu *m_fileMenu = nullptr;
    QAction *m_historyAnchor = nullptr; // the separator after "Save Config &As"
    QAction *m_loadConfig = nullptr;
    QAction *m_saveConfigAs = nullptr;
    QAction *m_clearHistory = nullptr;
    QAction *m_programSetUp = nullptr;
    QAction *m_pastChatsAction = nullptr;
    QAction *m_mailSendView = nullptr;
    QAction *m_trayConnect = nullptr;
    QAction *m_trayDisconnect = nullptr;
    QAction *m_trayRestore = nullptr;
    QAction *m_trayMinimize = nullptr;

    QTimer ElapsedTimer;
    QTimer m_blinkTimer;
    QTimer m_exitRetry; // an exit that waits for open modal windows to return
    bool m_blinkShown = false;
    bool m_trayOnline = false;
    quint32 m_elapsedSeconds = 0;
    bool m_soundsOn = true;
    bool m_minimizedToTray = false;
    QString m_savedCaption;
    QString m_captionFile;     // the settings file the caption names
    bool m_firstStart = false; // no settings file at start
    bool m_transcriptsOff = true;
    bool m_archiveDaysApplied = false;
    QPointer<TPastChatsWindow> m_pastChats;
    bool m_exitRunning = false;
    bool m_exitDone = false;
    bool m_exitForced = false; // the desktop session is ending: no question may stop the exit
    int m_alertsShown = 0;
    TConsoleKeys *m_keys = nullptr; // F1 and Ctrl+Alt+A in every window
    std::unique_ptr<TConsoleNotices> m_notices; // desktop notices of calls and visitors' lines
    std::unique_ptr<TChatWorkspace> m_workspace; // chats as tabs, when so set
};

} // namespace velmora
