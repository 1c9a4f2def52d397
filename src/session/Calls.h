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
#include <QTimer>

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
    // The modal new-call alert: true for Accept, false for On-Hold.
    virtual bool ShowNewCallAlert(quint16 /*kind*/, const QString & /*site*/, const QString & /*ip*/,
                                  bool /*acceptEnabled*/) { return false; }
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

signals:
    void CountersChanged();
};

} // namespace velmora
