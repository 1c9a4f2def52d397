#pragma once
// Calls from announcement to chat window: call records and their rows, the
// new-call alert, the waiting phase on each per-call connection, calls on hold
// with their not-available texts, and the ending of calls. Widgets stay
// outside: the alert, sounds, the tray and the chat windows are reached
// through ICallsHost.
#include "session/CallList.h"
#include "session/ChatItem.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace velmora {

class TCloseSockets;
class TLogFile;
class TServerSession;

class ICallsHost {
public:
    virtual ~ICallsHost() = default;
    virtual bool IsMinimizedToTray() const { return false; }
    virtual bool SoundsOn() const { return true; }
    virtual void PlayMainSound() {}
    // Starts or stops the tray icon's blinking (stopping shows the online image).
    virtual void SetTrayBlinking(bool /*on*/) {}
    // The new-call alert: nothing waits; `answered` gets Accept (true) or
    // On-Hold (false) once the operator has chosen. `asking` names the
    // supporter who asks, where the wire tells it. The result closes the alert
    // unanswered (its call has gone meanwhile).
    virtual std::function<void()> ShowNewCallAlertThen(quint16 kind, const QString &site, const QString &ip,
                                                       bool acceptEnabled, const QString &asking,
                                                       std::function<void(bool)> answered) = 0;
    // The same alert; besides closing it, the result can name the asking
    // supporter once a list of supporters has told the name.
    struct TCallAlert {
        std::function<void()> Withdraw;
        std::function<void(const QString &)> NameAsker;
        // Answers as the alert's buttons do (true: Accept); false when the
        // alert is not showing.
        std::function<bool(bool)> Answer;
        // Brings the alert to the front with the keyboard in it; false when
        // it is not showing.
        std::function<bool()> TurnTo;
    };
    virtual TCallAlert OpenCallAlert(quint16 kind, const QString &site, const QString &ip, bool acceptEnabled,
                                     const QString &asking, std::function<void(bool)> answered)
    {
        TCallAlert alert;
        alert.Withdraw = ShowNewCallAlertThen(kind, site, ip, acceptEnabled, asking, std::move(answered));
        return alert;
    }
    // A short line for the status bar that blocks nothing.
    virtual void ShowCallNotice(const QString & /*text*/) {}
    // Creates and shows the customer chat window that takes the record's
    // connection and send worker over; null when none can be made.
    virtual IChatWindow *CreateChatWindow(ChatItem * /*record*/, int /*number*/) { return nullptr; }
    // The operator's e-mail editor for a row; returns the edited text.
    virtual QString EditEmail(const QString &current) { return current; }
};

class TCalls : public QObject {
    Q_OBJECT
public:
    TCalls(ICallsHost &host, TServerSession &session, TCloseSockets &closer, TLogFile *log,
           QObject *parent = nullptr);
    ~TCalls() override;

    TCallList &CallList();

    // From the server connection.
    void NewCall(qint32 sessionCount, qint32 port, const QString &site, const QString &ip, quint16 kind);
    void CallAnswered(qint32 sessionCount);
    void TransferData(qint32 sessionCount, const QByteArray &data);

    void OpenChatWindow(ChatItem *record);
    void EndAllCalls();
    void TakeDownChatWindowsOnNetError();

    // The call list's pop-up commands on a row.
    void OpenChatAtRow(int row);
    void DropCallAtRow(int row);
    void UpdateEmailAtRow(int row);
    void ClearStatDisplay();

    int CallsOnHold() const;
    void DecreaseCallsOnHold();
    int OpenChatWindows() const;
    int ChatLimit() const;
    IChatWindow *FindChatWindow(qint32 sessionCount) const;
    const QList<IChatWindow *> &ChatWindows() const;

    // Called by a chat window at the end of its close procedure (or when it is
    // taken down): the open-window count goes down and the window leaves the list.
    void ChatWindowGone(IChatWindow *window);

    QTimer &OnHoldTimer();
    QTimer &RingRemindTimer();

    // Timer intervals from the settings (NotAvailTimeOut, RingRemindTimer);
    // called at construction and whenever the settings are read again.
    void ApplyTimerSettings();
    void OnHoldTimerTimer();
    void RingRemindTimerTimer();

    // The waiting-call handlers of a per-call connection, until a chat window
    // takes it over.
    void WaitingSocketConnect(TClientSocket *socket);
    void WaitingSocketRead(TClientSocket *socket, quint16 code, const QByteArray &body);
    void WaitingSocketDisconnect(TClientSocket *socket);
    void WaitingSocketError(TClientSocket *socket, int wsaCode);

    // Which items of the call list's pop-up menu are enabled for `row`
    // (-1: nothing selected).
    struct PopupItems {
        bool openChat = false;
        bool disconnect = false;
        bool updateEmail = false;
        bool clearStatDisplay = false;
    };
    PopupItems ViewListPopUpItems(int row) const;

    // The new-call alerts open at this moment, and the operator's keys for
    // the newest of them.
    int AlertsOpen() const { return int(m_openAlerts.size()); }
    // Accepts the newest open alert whose call can be accepted; false when none can.
    bool AcceptNewestAlert();
    // Puts the newest open alert's call on hold; false when none is open.
    bool HoldNewestAlert();
    bool TurnToNewestAlert();
    // Answers every open alert with On-Hold (the program is ending).
    void WithdrawAlerts();

    // Call records alive (waiting, alerting or in chat).
    int RecordCount() const { return int(m_records.size()); }

signals:
    void CountersChanged();
    // For the operator, from the calls and their list (see TCallList).
    void Problem(const QString &text, const QString &caption, BoxIcon icon);
    void Notice(const QString &text, const QString &caption, BoxIcon icon);

private:
    ChatItem *NewRecord();
    bool OwnsRecord(const ChatItem *record) const;
    // Frees the record; its socket is closed in the background unless a chat
    // window has taken it over.
    void DestroyRecord(ChatItem *record);
    // Writes the call to the archive once, with what became of it.
    void ArchiveCall(ChatItem &record);
    void InstallWaitingHandlers(TClientSocket *socket);
    void RemoveWaitingHandlers(TClientSocket *socket);
    // Sends on a waiting call's connection; when it is not connected the call
    // is taken down (log line, "Disconnected", record freed). False if not sent.
    bool SendOnCall(ChatItem *record, const std::optional<QByteArray> &frame);
    void NotConnected(ChatItem *record);
    void PrematureEnd(TClientSocket *socket);
    void IncreaseCallsOnHold(ChatItem *record);
    // The rest of NewCall once the alert has been answered (or skipped).
    void AlertAnswered(ChatItem *record, bool accept);
    // Lowers the count for a record that was counted as on hold (once).
    void LeaveHold(ChatItem *record);
    // A waiting call (no chat window) is ended by the console: End Time,
    // END_SESSION, socket closed, "Disconnected", unlinked, record freed.
    // `updateTimeFirst`: "End Time" before the farewell (ending everything)
    // rather than once it has left (dropping one call).
    void EndWaitingCall(ChatItem *record, int pauseMs, bool updateTimeFirst);
    // `known`: the call was there when its greeting came.
    void AnswerInitialConnect(TClientSocket *socket, bool known);
    // Sends on a call's connection, through its chat window once one has it.
    bool SendOnCallOrWindow(qint32 sessionCount, TClientSocket *socket, const std::optional<QByteArray> &frame);
    void HandleSessionReady(TClientSocket *socket, const QByteArray &body);
    void HandleUserDetails(TClientSocket *socket, const QByteArray &body);
    void ArchiveEarlyLine(ChatItem *record, const QString &line);
    void Log(const QString &line);

    ICallsHost &m_host;
    TServerSession &m_session;
    TCloseSockets &m_closer;
    TLogFile *m_log;
    TCallList m_list;
    std::vector<std::unique_ptr<ChatItem>> m_records;
    QList<IChatWindow *> m_windows;
    QList<QPair<IChatWindow *, ChatItem *>> m_windowRecords;
    // Windows that finished closing while OpenChatWindow was still creating them.
    QList<IChatWindow *> m_goneWhileCreating;
    int m_creatingWindows = 0;
    int m_callsOnHold = 0;
    int m_openChatWindows = 0;
    int m_nextChatNumber = 0;
    struct TOpenAlert {
        quint64 Id = 0;
        bool AcceptEnabled = false;
        ICallsHost::TCallAlert Alert;
    };
    // Oldest first; an alert leaves when it is answered.
    std::vector<TOpenAlert> m_openAlerts;
    quint64 m_lastAlertId = 0;
    // Rows (by id) whose on-hold tick waits behind an exchange.
    QSet<quint64> m_holdTicksWaiting;
    QTimer m_onHoldTimer;
    QTimer m_ringRemindTimer;
};

} // namespace velmora
