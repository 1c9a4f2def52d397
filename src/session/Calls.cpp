// The call records, a new call and its alert, the chat windows and the ends of
// calls. The waiting phase is in CallsWaiting.cpp, calls on hold in
// CallsOnHold.cpp.
#include "session/Calls.h"

#include "session/CallsText.h"

#include "archive/ArchiveRecorder.h"
#include "config/Settings.h"
#include "diag/Boxes.h"
#include "diag/Logdata.h"
#include "diag/SafeText.h"
#include "protocol/ChatMessages.h"
#include "protocol/ImageFile.h"
#include "protocol/ServerMessages.h"
#include "session/CloseSockets.h"
#include "session/Exchange.h"
#include "session/ServerSession.h"
#include "session/SocketBuff.h"
#include "session/UserDetails.h"
#include "session/WsaErrors.h"

#include <QDateTime>
#include <QPointer>

#include <algorithm>

namespace velmora {

namespace {

// Pauses kept on the wire for the server's sake.
constexpr int kDropPauseMs = 30;
constexpr int kEndAllPauseMs = 100;
constexpr int kTransferPauseMs = 500;
// Alerts stacked beyond this many are not shown: the call goes on hold as if
// its alert had been answered so, which keeps a flood of announcements from
// holding an alert window apiece. Texts from an announcement are cut to this.
constexpr int kMaxAlertsOpen = 25;
constexpr qsizetype kMaxAnnouncedText = 1024;

} // namespace

TCalls::TCalls(ICallsHost &host, TServerSession &session, TCloseSockets &closer, TLogFile *log, QObject *parent)
    : QObject(parent), m_host(host), m_session(session), m_closer(closer), m_log(log), m_list(log)
{
    connect(&m_onHoldTimer, &QTimer::timeout, this, &TCalls::OnHoldTimerTimer);
    connect(&m_ringRemindTimer, &QTimer::timeout, this, &TCalls::RingRemindTimerTimer);
    connect(&m_list, &TCallList::Problem, this, &TCalls::Problem);
    connect(&m_list, &TCallList::Notice, this, &TCalls::Notice);
    ApplyTimerSettings();
}

TCalls::~TCalls()
{
    m_onHoldTimer.stop();
    m_ringRemindTimer.stop();
    for (auto &record : m_records) {
        m_list.UnlinkRecord(record.get());
        if (record->Socket && !record->ConnectionTaken) {
            // Not inside any of its handlers here, so it can go at once.
            record->Socket->Detach();
            record->Socket->Close();
            delete record->Socket;
            record->Socket = nullptr;
        }
    }
    m_records.clear();
}

TCallList &TCalls::CallList()
{
    return m_list;
}

QTimer &TCalls::OnHoldTimer()
{
    return m_onHoldTimer;
}

QTimer &TCalls::RingRemindTimer()
{
    return m_ringRemindTimer;
}

void TCalls::ApplyTimerSettings()
{
    // A zero interval would fire on every pass of the event loop.
    m_onHoldTimer.setInterval(TSettings::SecondsToMs(Settings().NotAvailTimeOut));
    m_ringRemindTimer.setInterval(TSettings::SecondsToMs(Settings().RingRemindTimer));
}

bool TCalls::AcceptNewestAlert()
{
    for (auto open = m_openAlerts.rbegin(); open != m_openAlerts.rend(); ++open)
        if (open->AcceptEnabled && open->Alert.Answer && open->Alert.Answer(true))
            return true;
    return false;
}

bool TCalls::HoldNewestAlert()
{
    for (auto open = m_openAlerts.rbegin(); open != m_openAlerts.rend(); ++open)
        if (open->Alert.Answer && open->Alert.Answer(false))
            return true;
    return false;
}

bool TCalls::TurnToNewestAlert()
{
    for (auto open = m_openAlerts.rbegin(); open != m_openAlerts.rend(); ++open)
        if (open->Alert.TurnTo && open->Alert.TurnTo())
            return true;
    return false;
}

void TCalls::WithdrawAlerts()
{
    // Answering one changes the list.
    const std::vector<TOpenAlert> alerts = m_openAlerts;
    for (const TOpenAlert &open : alerts)
        if (open.Alert.Withdraw)
            open.Alert.Withdraw();
}

int TCalls::CallsOnHold() const
{
    return m_callsOnHold;
}

int TCalls::OpenChatWindows() const
{
    return m_openChatWindows;
}

int TCalls::ChatLimit() const
{
    return m_session.ChatLimit();
}

IChatWindow *TCalls::FindChatWindow(qint32 sessionCount) const
{
    for (IChatWindow *window : m_windows)
        if (window->SessionCount() == sessionCount)
            return window;
    return nullptr;
}

const QList<IChatWindow *> &TCalls::ChatWindows() const
{
    return m_windows;
}

void TCalls::Log(const QString &line)
{
    if (m_log)
        m_log->AddLine(line);
}

// --- records -----------------------------------------------------------------

ChatItem *TCalls::NewRecord()
{
    m_records.push_back(std::make_unique<ChatItem>());
    return m_records.back().get();
}

bool TCalls::OwnsRecord(const ChatItem *record) const
{
    return record && std::any_of(m_records.begin(), m_records.end(),
                                 [record](const auto &r) { return r.get() == record; });
}

void TCalls::ArchiveCall(ChatItem &record)
{
    TArchiveRecorder *recorder = ArchiveRecorder();
    if (!recorder || record.CallArchived)
        return;
    record.CallArchived = true;
    // A call that waited and went untaken was on hold until it went.
    const qint64 heldUntil =
        record.HeldFrom && !record.HeldUntil ? QDateTime::currentMSecsSinceEpoch() : record.HeldUntil;
    recorder->RecordCall(TArchiveCall{record.SessionCount, record.Kind, record.WebSite, record.Announced,
                                      record.Answered, record.HeldFrom, heldUntil, record.Outcome});
}

void TCalls::DestroyRecord(ChatItem *record)
{
    auto it = std::find_if(m_records.begin(), m_records.end(), [record](const auto &r) { return r.get() == record; });
    if (it == m_records.end())
        return;
    // A call that ends before any window took it ends its archive record,
    // with the row's last word on it.
    if (record->ArchiveChat && !record->ConnectionTaken) {
        if (TArchiveRecorder *recorder = ArchiveRecorder())
            recorder->EndChat(record->ArchiveChat, m_list.StatusOfCall(record->SessionCount));
        record->ArchiveChat = 0;
    }
    // Never leave a row pointing at freed memory.
    m_list.UnlinkRecord(record);
    std::unique_ptr<ChatItem> owned = std::move(*it);
    m_records.erase(it);
    ArchiveCall(*owned);
    // An alert whose call has gone would only answer nothing.
    if (owned->Alerting && owned->WithdrawAlert) {
        owned->Alerting = false;
        std::exchange(owned->WithdrawAlert, nullptr)();
    }
    if (owned->Socket && !owned->ConnectionTaken) {
        TClientSocket *socket = owned->Socket;
        owned->Socket = nullptr;
        RemoveWaitingHandlers(socket);
        m_closer.CloseInBackground(socket);
    }
    // ~TSocketBuff drops what is still queued; the callers that just sent a
    // farewell have already waited for it.
}

void TCalls::InstallWaitingHandlers(TClientSocket *socket)
{
    socket->SetFrameHandler([this, socket](quint16 code, const QByteArray &body) { WaitingSocketRead(socket, code, body); });
    connect(socket, &TClientSocket::Connected, this, [this, socket] { WaitingSocketConnect(socket); });
    connect(socket, &TClientSocket::Disconnected, this, [this, socket] { WaitingSocketDisconnect(socket); });
    connect(socket, &TClientSocket::Error, this, [this, socket](int code) { WaitingSocketError(socket, code); });
}

void TCalls::RemoveWaitingHandlers(TClientSocket *socket)
{
    socket->SetFrameHandler(nullptr);
    disconnect(socket, nullptr, this, nullptr);
}

// --- a new call ----------------------------------------------------------------

void TCalls::NewCall(qint32 sessionCount, qint32 port, const QString &site, const QString &ip, quint16 kind)
{
    // A call announced while the console exits would only be answered to be ended.
    if (m_session.ExitInProgress())
        return;
    const TSettings &settings = Settings();

    // The connection exists from the start but is opened only once the alert
    // has been answered.
    auto *socket = new TClientSocket;
    socket->SetHost(settings.WebSiteUrl);
    socket->SetPort(settings.WebListenPort.trimmed().toUShort());

    // The send worker (a thread) comes when the connection opens, so calls
    // whose alerts are still unanswered hold no thread.
    ChatItem *record = NewRecord();
    record->Socket = socket;
    record->SessionCount = sessionCount;
    record->Kind = kind;
    record->Port = port;
    record->IP = ip.left(kMaxAnnouncedText);
    record->WebSite = site.left(kMaxAnnouncedText);
    record->Announced = QDateTime::currentMSecsSinceEpoch();

    if (m_host.SoundsOn())
        m_host.PlayMainSound();

    const bool autoOnHold = (m_host.IsMinimizedToTray() && settings.AutoOnHoldOnMinimized)
                            || AlertsOpen() >= kMaxAlertsOpen;
    if (autoOnHold) {
        AlertAnswered(record, false);
        return;
    }
    const quint64 alertId = ++m_lastAlertId;
    m_openAlerts.push_back({alertId, false, {}});
    if (!m_ringRemindTimer.isActive())
        m_ringRemindTimer.start();
    const bool acceptEnabled = m_openChatWindows < ChatLimit();
    // Nothing waits for the answer: the operator goes on working (and further
    // calls stack their alerts) while this one is open.
    QPointer<TCalls> self(this);
    record->Alerting = true;
    const QString asking = kind == server::TRANSFER_CALL ? m_session.SupporterName(port) : QString();
    auto owns = [self, record, socket, sessionCount] {
        // The record may have gone meanwhile (and its memory been reused).
        return self && self->OwnsRecord(record) && record->Socket == socket && record->SessionCount == sessionCount;
    };
    ICallsHost::TCallAlert alert = m_host.OpenCallAlert(
        kind, record->WebSite, record->IP, acceptEnabled, asking,
        [self, record, owns, acceptEnabled, alertId](bool accept) {
            if (!self)
                return; // the console went away while the alert was open
            std::erase_if(self->m_openAlerts, [alertId](const TOpenAlert &open) { return open.Id == alertId; });
            // Alerts stack: the reminder rings while any of them is open.
            if (self->m_openAlerts.empty())
                self->m_ringRemindTimer.stop();
            if (!owns())
                return;
            record->Alerting = false;
            record->WithdrawAlert = nullptr;
            record->Answered = QDateTime::currentMSecsSinceEpoch();
            self->AlertAnswered(record, accept && acceptEnabled);
        });
    for (TOpenAlert &open : m_openAlerts)
        if (open.Id == alertId)
            open = {alertId, acceptEnabled, alert};
    if (owns() && record->Alerting)
        record->WithdrawAlert = std::move(alert.Withdraw);
    // A supporter this console has not heard of yet: the alert is up
    // already, and gets the name when the server's list tells it.
    if (kind == server::TRANSFER_CALL && asking.isEmpty() && port != 0 && alert.NameAsker) {
        auto once = std::make_shared<QMetaObject::Connection>();
        *once = connect(&m_session, &TServerSession::SupporterNamesKnown, this,
                        [this, once, port, name = std::move(alert.NameAsker)] {
                            disconnect(*once);
                            if (const QString asker = m_session.SupporterName(port); !asker.isEmpty())
                                name(asker);
                        });
        m_session.LookUpSupporterNames();
    }
}

void TCalls::AlertAnswered(ChatItem *record, bool accept)
{
    if (!OwnsRecord(record))
        return;
    TClientSocket *socket = record->Socket;
    const QString site = record->WebSite;

    if (m_session.ExitInProgress()) {
        // Alerts are answered by the exit itself: a call that would only be
        // answered and welcomed to be ended at once is left to the others.
        DestroyRecord(record);
        return;
    }

    if (accept && m_openChatWindows >= ChatLimit()) {
        // The limit was reached while the alert was open.
        emit Problem(ChatLimitReachedText(), kCaptionWarning, BoxIcon::Warning);
        accept = false;
        if (!OwnsRecord(record))
            return;
    }

    if (accept) {
        m_list.AddCallRow(record, CallStatusAccept);
    } else {
        record->OnHold = true;
        // On hold from the answer, or from the announcement when no alert was shown.
        record->HeldFrom = record->Answered ? record->Answered : QDateTime::currentMSecsSinceEpoch();
        m_list.AddCallRow(record, CallStatusWaiting);
        IncreaseCallsOnHold(record);
    }
    if (!OwnsRecord(record))
        return; // the row-limit box runs an event loop

    if (m_host.IsMinimizedToTray() && m_callsOnHold > 0)
        m_host.SetTrayBlinking(true);
    // Restarting a running timer would postpone every waiting call's next text.
    if (m_callsOnHold > 0 && !m_onHoldTimer.isActive())
        m_onHoldTimer.start();

    InstallWaitingHandlers(socket);
    if (!socket->Open())
        PrematureEnd(socket);
}

// --- chat windows ------------------------------------------------------------------

void TCalls::OpenChatWindow(ChatItem *record)
{
    if (!OwnsRecord(record) || record->ConnectionTaken || !record->Socket)
        return;
    TClientSocket *socket = record->Socket;
    // A number of its own for the session: two chats open at once never share one.
    const int number = m_nextChatNumber++;
    // The window installs its own handlers; frames that arrive in between
    // wait in the socket until it reads them.
    RemoveWaitingHandlers(socket);
    record->ConnectionTaken = true;
    // The chat's record starts with the call's times, its hold ended now.
    if (record->HeldFrom && !record->HeldUntil)
        record->HeldUntil = QDateTime::currentMSecsSinceEpoch();
    ++m_creatingWindows;
    IChatWindow *window = m_host.CreateChatWindow(record, number);
    --m_creatingWindows;
    if (!window) {
        if (OwnsRecord(record) && record->Socket == socket && record->SendWorker) {
            // No window after all: the call keeps waiting where it was.
            record->ConnectionTaken = false;
            record->HeldUntil = 0;
            InstallWaitingHandlers(socket);
            socket->ReadNow();
        }
        return;
    }
    if (m_goneWhileCreating.removeAll(window) > 0) {
        // It closed before it was ever listed.
        if (OwnsRecord(record))
            DestroyRecord(record);
        return;
    }
    record->Outcome = archive::CallOutcome::Accepted;
    ArchiveCall(*record);
    m_windows.append(window);
    m_windowRecords.append({window, record});
    ++m_openChatWindows;
    LeaveHold(record);
    emit CountersChanged();
}

void TCalls::ChatWindowGone(IChatWindow *window)
{
    const qsizetype at = m_windows.indexOf(window);
    if (at < 0) {
        if (m_creatingWindows > 0)
            m_goneWhileCreating.append(window);
        return;
    }
    m_windows.removeAt(at);
    m_openChatWindows = std::max(0, m_openChatWindows - 1);
    for (qsizetype i = 0; i < m_windowRecords.size(); ++i) {
        if (m_windowRecords[i].first != window)
            continue;
        ChatItem *record = m_windowRecords[i].second;
        m_windowRecords.removeAt(i);
        if (OwnsRecord(record)) {
            LeaveHold(record);
            DestroyRecord(record);
        }
        break;
    }
    emit CountersChanged();
}

void TCalls::TakeDownChatWindowsOnNetError()
{
    const QList<IChatWindow *> windows = m_windows;
    for (IChatWindow *window : windows)
        if (m_windows.contains(window))
            window->TakeDownOnNetError();
}

// --- ending calls -------------------------------------------------------------------

void TCalls::EndWaitingCall(ChatItem *record, int pauseMs, bool updateTimeFirst)
{
    TClientSocket *socket = record->Socket;
    // Each step finds the call again: it may have ended some other way meanwhile.
    auto lookUp = [this, record, socket]() -> ChatItem * {
        return OwnsRecord(record) && record->Socket == socket && !record->ConnectionTaken ? record : nullptr;
    };
    (new TExchange(this, {socket}))
        ->Then([this, lookUp, updateTimeFirst] {
            ChatItem *record = lookUp();
            if (!record)
                return false;
            if (updateTimeFirst)
                m_list.UpdateDisconnectTime(record->Socket);
            if (!record->SendWorker) {
                // Never connected: nothing to say goodbye on.
                if (!updateTimeFirst)
                    m_list.UpdateDisconnectTime(record->Socket);
                LeaveHold(record);
                m_list.SetRowStatus(m_list.FindRowByRecord(record), CallStatusDisconnected);
                DestroyRecord(record);
                return false;
            }
            // Not sent: taken down already, as a call that could not be reached.
            return SendOnCall(record, chat::BuildEndSession());
        })
        .Pause(pauseMs)
        // The farewell must leave before the send worker goes with the record.
        .WaitUntilSent([lookUp]() -> TSocketBuff * {
            ChatItem *record = lookUp();
            return record ? record->SendWorker.get() : nullptr;
        })
        .Then([this, lookUp, updateTimeFirst] {
            ChatItem *record = lookUp();
            if (!record)
                return;
            if (!updateTimeFirst)
                m_list.UpdateDisconnectTime(record->Socket);
            LeaveHold(record);
            m_list.SetRowStatus(m_list.FindRowByRecord(record), CallStatusDisconnected);
            DestroyRecord(record);
        })
        .Start();
}

void TCalls::EndAllCalls()
{
    // Chat windows may ask the operator (an event loop runs), so rows are
    // remembered by id and looked up again each time.
    std::vector<quint64> ids;
    for (int row = 0; row < m_list.Count(); ++row) {
        const int status = m_list.RowStatus(row);
        if (status == CallStatusWaiting || status == CallStatusAccept || status == CallStatusInChat)
            ids.push_back(m_list.RowId(row));
    }
    for (quint64 id : ids) {
        const int row = m_list.FindRowById(id);
        const int status = m_list.RowStatus(row);
        if (row < 0 || (status != CallStatusWaiting && status != CallStatusAccept && status != CallStatusInChat))
            continue;
        ChatItem *record = m_list.RowData(row);
        if (!record) {
            emit Problem(QStringLiteral("Cannot cleanUp the waiting client list, contact support."), kCaptionWarning,
                         BoxIcon::Information);
            continue;
        }
        if (IChatWindow *window = FindChatWindow(record->SessionCount)) {
            // Its call left the hold count when the window opened; the record
            // is gone after the close, and its memory may be a new call's.
            window->FormClose();
            continue;
        }
        EndWaitingCall(record, kEndAllPauseMs, true);
    }
}

void TCalls::CallAnswered(qint32 sessionCount)
{
    // A call whose alert is still open has no row yet: its alert closes, and
    // the call stays as history.
    std::vector<ChatItem *> alerting;
    for (auto &pending : m_records)
        if (pending->SessionCount == sessionCount && pending->Alerting && !pending->ConnectionTaken)
            alerting.push_back(pending.get());
    for (ChatItem *pending : alerting) {
        if (!OwnsRecord(pending))
            continue;
        const QString site = pending->WebSite;
        pending->Outcome = archive::CallOutcome::TakenByOther;
        m_list.AddHistoryRow(site, CallStatusAnswered);
        DestroyRecord(pending);
        m_host.ShowCallNotice(QStringLiteral("Another supporter answered the call")
                              + (site.isEmpty() ? QString() : QStringLiteral(" from ") + OneLine(site))
                              + QStringLiteral("."));
    }
    ChatItem *record = m_list.FindCallBySession(sessionCount);
    if (record && record->ConnectionTaken)
        return; // our own chat window has the call; it ends it itself
    m_list.SetCallStatus(sessionCount, CallStatusAnswered);
    if (!record)
        return;
    record->Outcome = archive::CallOutcome::TakenByOther;
    LeaveHold(record);
    DestroyRecord(record);
}

bool TCalls::SendOnCallOrWindow(qint32 sessionCount, TClientSocket *socket, const std::optional<QByteArray> &frame)
{
    ChatItem *record = m_list.FindCallBySession(sessionCount);
    if (!record || record->Socket != socket || !frame)
        return false;
    if (!record->ConnectionTaken)
        return SendOnCall(record, frame);
    // The call's chat window opened first (the two messages travel on
    // different connections): the acknowledgement goes out through it.
    IChatWindow *window = FindChatWindow(sessionCount);
    return window && window->SendOnCallConnection(*frame);
}

void TCalls::TransferData(qint32 sessionCount, const QByteArray &data)
{
    ChatItem *record = m_list.FindCallBySession(sessionCount);
    if (!record)
        return;
    record->TransferData = data;
    TClientSocket *socket = record->Socket;
    const qint32 port = record->Port;
    (new TExchange(this, {m_session.Socket(), socket}))
        ->Then([this, sessionCount, socket, port] {
            if (!SendOnCallOrWindow(sessionCount, socket,
                                    chat::BuildSupportAnsToTrans(Settings().ClientID, m_session.SupportPort(),
                                                                 sessionCount)))
                return false;
            Log(QStringLiteral("Send SUPPORT_ANS_TO_TRANS, Socket = ") + QString::number(port)
                + QStringLiteral(" SC = ") + QString::number(sessionCount));
            return true;
        })
        .Pause(kTransferPauseMs)
        .Then([this, sessionCount, socket] { SendOnCallOrWindow(sessionCount, socket, chat::BuildTransComplete()); })
        .Start();
    // The acknowledgement is on its way before an open window shows the
    // conversation, whatever that costs.
    record = m_list.FindCallBySession(sessionCount);
    if (record && record->ConnectionTaken) {
        if (IChatWindow *window = FindChatWindow(sessionCount)) {
            record->TransferData.clear();
            window->TransferDataArrived(data);
        }
    }
}

// --- the call list's pop-up menu ---------------------------------------------------

TCalls::PopupItems TCalls::ViewListPopUpItems(int row) const
{
    PopupItems items;
    items.clearStatDisplay = m_list.Count() > 0 && !m_session.ConnectRequested();
    const ChatItem *record = m_list.RowData(row);
    if (!record)
        return items;
    // A chat window may already have released the connection it took over,
    // so only a waiting call's socket is looked at.
    const bool open = record->ConnectionTaken ? FindChatWindow(record->SessionCount) != nullptr
                                              : record->Socket && record->Socket->IsConnected();
    if (!open)
        return items;
    items.disconnect = true;
    items.updateEmail = true;
    // A call already in a chat window cannot be opened a second time.
    items.openChat = m_callsOnHold > 0 && !record->ConnectionTaken
                     && m_list.Cell(row, ColClientName) != CallStatusText(CallStatusAnonymous);
    return items;
}

void TCalls::OpenChatAtRow(int row)
{
    ChatItem *record = m_list.RowData(row);
    if (!record || record->ConnectionTaken || !record->Socket || !record->Socket->IsConnected())
        return;
    if (m_openChatWindows < ChatLimit())
        OpenChatWindow(record);
    else
        emit Problem(ChatLimitReachedText(), kCaptionWarning, BoxIcon::Warning);
}

void TCalls::DropCallAtRow(int row)
{
    ChatItem *record = m_list.RowData(row);
    if (!record)
        return;
    if (IChatWindow *window = record->ConnectionTaken ? FindChatWindow(record->SessionCount) : nullptr) {
        // The window sends END_SESSION itself and ends the row.
        window->FormClose();
        return;
    }
    if (record->ConnectionTaken) {
        m_list.SetRowStatus(row, CallStatusDisconnected);
        return;
    }
    // A call whose connection is still opening has no send worker yet: it
    // ends without a farewell, and is freed rather than left to connect.
    EndWaitingCall(record, kDropPauseMs, false);
}

void TCalls::UpdateEmailAtRow(int row)
{
    if (row < 0 || row >= m_list.Count())
        return;
    const quint64 id = m_list.RowId(row);
    const QString edited = m_host.EditEmail(m_list.Cell(row, ColClientEmail));
    // The editor is modal: rows may have moved or gone meanwhile.
    const int now = m_list.FindRowById(id);
    if (now < 0)
        return;
    m_list.SetRowEmail(now, edited);
    if (ChatItem *record = m_list.RowData(now))
        record->Email = edited;
}

void TCalls::ClearStatDisplay()
{
    m_list.ClearStatDisplay();
}

} // namespace velmora
