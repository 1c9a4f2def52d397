#pragma once
// The console's main window: the connection controls, the counters and
// indicators, the call list, the status bar with its uptime clock, the main
// sounds and the settings files. It is the view of TConsole, which owns the
// logic (the session, the calls, the transcripts) and runs start-up and exit.
#include "app/core/Console.h"
#include "chat/ChatHost.h"
#include "chat/SuppChatWindow.h"
#include "chat/WavSound.h"
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
class QSystemTrayIcon;
class QToolButton;
class QWidget;

namespace velmora {

class TArchiveRecorder;
class TCallListView;
class TPastChatsWindow;
class TFiguresLoader;
class TMyFiguresWindow;
struct TFigures;
class TConsoleKeys;
class TConsoleTray;
class TChatWorkspace;
class TConsoleNotices;
class TCallsLink;
class TDebugWinDlg;
class TMailBuff;
class TLogFile;
class TIdleSleeper;
class TTitleDataClass;

class TMainForm : public QMainWindow,
                  public IConsoleView,
                  public IChatHost,
                  public ISuppChatHost,
                  public ISetupHost {
    Q_OBJECT
public:
    explicit TMainForm(QWidget *parent = nullptr);
    ~TMainForm() override;

    // The logic the window shows, and what it owns, for the other windows and tests.
    TConsole &Console() { return *m_console; }
    TServerSession &Session() { return m_console->Session(); }
    TCalls &Calls() { return m_console->Calls(); }
    TProgramConfig &Config() { return m_console->Config(); }
    TTitleDataClass &CannedList() { return m_console->CannedList(); }
    TTitleDataClass &UrlList() { return m_console->UrlList(); }
    TFileHistory &History() { return m_console->History(); }
    TIdleSleeper &IdleSleeper() { return m_console->IdleSleeper(); }
    TArchiveRecorder *Archive() const { return m_console->Archive(); }
    TMailBuff *MailBuff() const { return m_console->MailBuff(); }
    void LoadSettings(bool connecting = false) { m_console->LoadSettings(connecting); }
    bool ExitProcedure(bool ask = true) { return m_console->ExitProcedure(ask); }
    int OpenChatWindowCount() const { return m_console->OpenChatWindowCount(); }
    int CallsOnHoldCount() const { return m_console->CallsOnHoldCount(); }

    // Opens "Past chats", the visitor filter set to `visitor`.
    void ShowPastChats(const QString &visitor = QString()) override;
    QAction *PastChatsAction() const { return m_pastChatsAction; }
    // Opens "My figures"; the status bar's figures of today.
    void ShowMyFigures();
    QLabel *TodayFiguresLabel() const { return m_todayFigures; }

    // Minimize to the tray (or normally when there is no tray) and back.
    void MinimizeToTray();
    void RestoreFromTray();
    // Another start in this folder asked for the window: show it in front,
    // from the tray or minimized if need be.
    void BringToFront();
    // Hidden in the tray, or minimized normally where there is no tray.
    bool IsMinimizedToTray() const override;

    QString StatusPanelText() const;
    QString UptimeText() const;
    QLabel *SupportersLabel() const { return OnLineSupCountLbl; }
    QLabel *ChatLimitLabel() const { return ChatLimitCountLbl; }
    QToolButton *ConnectButton() const { return WebSbtnClickBtn; }
    QToolButton *ChatWithOtherSupportButton() const { return ChatWithOtherSupportBtn; }
    QSystemTrayIcon *TrayIcon() const;
    QAction *ProgramSetUpAction() const { return m_programSetUp; }
    QAction *LoadConfigAction() const { return m_loadConfig; }
    QAction *ClearHistoryAction() const { return m_clearHistory; }
    QMenu *FileMenu() const { return m_fileMenu; }

    // Settings files: "&Load Config", the history entries, "Save Config &As",
    // "Clear &History" and "Program Set &Up".
    bool OpenConfigFile(const QString &path) { return m_console->OpenConfigFile(path); }
    void LoadConfigClick();
    void SaveConfigAsClick();
    void ClearHistoryClick() { m_console->ClearHistory(); }
    void ProgramSetUpClick();
    // When the settings file was missing at start, opens the settings dialog
    // at the Web and IP page with what a connection needs, once the window is up.
    void OpenSetUpOnFirstStart();
    // ISetupHost
    void SettingsPageApplied(SettingsPage page) override;
    void ShowHelp(int context) override;
    void SoundFromMainBtnClick();
    void ChatWithOtherSupportBtnClick();

    // IConsoleView
    void ShowHistoryEntries(const QStringList &paths) override;
    void ShowStatusText(const QString &text) override;
    void ShowLoginRefused(const QString &text) override;
    void SetOnlineGlyph(bool online) override;
    void SetMenusEnabled(bool enabled) override;
    void SetChatWithOtherSupportEnabled(bool enabled) override;
    void SetBusyAnimation(bool running) override;
    void SetTrayOnline(bool online) override;
    void SetSupportersOnline(int count) override;
    void SetChatLimit(int limit) override;
    void ShowCallNotice(const QString &text) override;
    void ShowProblem(const QString &text, const QString &caption, BoxIcon icon) override;
    void ShowNotice(const QString &text, const QString &caption, BoxIcon icon) override;
    BoxAnswer Ask(const BoxRequest &request) override;
    void MailWaitingChanged() override;
    void ShowTeamArchiveStatus(const QString &text) override;
    void SettingsRead(const TSettings &settings) override;
    void ConfigFileChanged(const QString &path) override { SetCaption(path); }
    bool ConfirmArchiveRemoval() override;
    bool SoundsOn() const override { return m_soundsOn; }
    void PlayMainSound() override;
    void SetTrayBlinking(bool on) override;
    std::function<void()> ShowNewCallAlertThen(quint16 kind, const QString &site, const QString &ip,
                                               bool acceptEnabled, const QString &asking,
                                               std::function<void(bool)> answered) override;
    TCallAlert OpenCallAlert(quint16 kind, const QString &site, const QString &ip, bool acceptEnabled,
                             const QString &asking, std::function<void(bool)> answered) override;
    IChatWindow *CreateChatWindow(ChatItem *record, int number) override;
    QString EditEmail(const QString &current) override;
    bool ModalWindowOpen() const override;
    void AnswerModalWindows(bool alertsToo) override;
    bool ConfirmExit(const QString &text) override;
    void RejectCallAlerts() override;
    void SaveWindowPlaces(TProgramConfig &config) override;
    void CloseChatWindows() override;
    void ExitFinishing() override;

    // IChatHost
    TLogFile *Log() override { return m_console->Log(); }
    bool TranscriptsOff() const override { return m_console->TranscriptsOff(); }
    const TTitleDataClass *CannedMessages() const override { return std::as_const(*m_console).CannedList(); }
    const TTitleDataClass *UrlShortcuts() const override { return std::as_const(*m_console).UrlList(); }
    void ComposeTranscript(const TTranscriptSource &source) override { m_console->ComposeTranscript(source); }
    void VisitorLineShown(QWidget *window, const QString &name, const QString &line) override;

    // Transcripts: the queue's debug window and its status label.
    TDebugWinDlg *DebugWindow() const { return m_debugWin.get(); }
    QLabel *MailStatusLabel() const { return m_mailStatus; }
    QAction *MailSendViewAction() const { return m_mailSendView; }

    // Transfers are the console's; the supporter chat's window is the view's.
    bool BeginTransfer(const TTransferSource &source) override;
    bool CancelTransfer(qint32 sessionCount, const QString &line) override;
    void OpenSupporterChat(qint32 port, const QString &name) override;
    // The supporter chat this console started, while it lasts.
    TSuppChatWindow *SupportChatWindow() const { return m_suppChat; }
    // A supporter chat this console started is open and not over.
    bool OwnSupporterChatRunning() const;

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void BuildControls();
    void BuildMenus();
    // The caption names the supporter and the settings file in use (none
    // until one exists).
    void SetCaption(const QString &configFileName);
    void UpdateCaption();
    void ElapsedTimerTimer();
    void SetCounterLabel(QLabel *label, int value);
    void SetIndicator(QLabel *label, bool on);
    void UpdateTrayTip();

    std::unique_ptr<TConsole> m_console;
    std::unique_ptr<TCallsLink> m_callsLink; // the chat windows' view of the call list
    QList<QAction *> m_historyActions; // the entries and their trailing separator
    QString m_saveConfigDir;           // where the last Save Config As went
    QPointer<TSuppChatWindow> m_suppChat;
    std::unique_ptr<TDebugWinDlg> m_debugWin;
    QLabel *m_mailStatus = nullptr; // "Mail: N waiting", shown while mails wait
    QLabel *m_teamStatus = nullptr; // the team archive's state, shown while one is set

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
    TConsoleTray *m_tray = nullptr;
    TWavSound PlayWavInMain; // read and played by the first ring

    QMenu *m_fileMenu = nullptr;
    QAction *m_historyAnchor = nullptr; // the separator after "Save Config &As"
    QAction *m_loadConfig = nullptr;
    QAction *m_saveConfigAs = nullptr;
    QAction *m_clearHistory = nullptr;
    QAction *m_programSetUp = nullptr;
    QAction *m_pastChatsAction = nullptr;
    QAction *m_mailSendView = nullptr;
    QList<QAction *> m_openChatActions; // the "Chats" menu's entries of the open chats

    QTimer ElapsedTimer;
    quint32 m_elapsedSeconds = 0;
    bool m_soundsOn = true;
    QString m_captionFile; // the settings file the caption names
    QPointer<TPastChatsWindow> m_pastChats;
    QPointer<TMyFiguresWindow> m_myFigures;
    QAction *m_myFiguresAction = nullptr;
    QLabel *m_todayFigures = nullptr;
    std::unique_ptr<TFiguresLoader> m_todayLoader; // worked out again as chats end
    void WatchTodaysFigures();
    void ShowTodaysFigures(const TFigures &figures);
    TConsoleKeys *m_keys = nullptr; // F1 and Ctrl+Alt+A in every window
    std::unique_ptr<TConsoleNotices> m_notices; // desktop notices of calls and visitors' lines
    std::unique_ptr<TChatWorkspace> m_workspace; // chats as tabs, when so set
};

} // namespace velmora
