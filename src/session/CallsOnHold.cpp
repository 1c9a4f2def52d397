// Calls on hold: their count, the reminders sent to their visitors and the
// ring that reminds the operator of open alerts.
#include "session/Calls.h"

#include "config/Settings.h"
#include "diag/Logdata.h"
#include "protocol/ChatMessages.h"
#include "session/Exchange.h"

namespace velmora {

// --- calls on hold -------------------------------------------------------------

void TCalls::IncreaseCallsOnHold(ChatItem *record)
{
    if (record->CountedOnHold)
        return;
    record->CountedOnHold = true;
    ++m_callsOnHold;
    emit CountersChanged();
}

void TCalls::LeaveHold(ChatItem *record)
{
    if (!record || !record->CountedOnHold)
        return;
    record->CountedOnHold = false;
    DecreaseCallsOnHold();
}

void TCalls::DecreaseCallsOnHold()
{
    if (m_callsOnHold <= 0) {
        m_callsOnHold = 0;
        return;
    }
    if (--m_callsOnHold == 0) {
        m_host.SetTrayBlinking(false);
        m_onHoldTimer.stop();
    }
    emit CountersChanged();
}

// --- on hold ---------------------------------------------------------------------

void TCalls::OnHoldTimerTimer()
{
    // Sends may take calls down (rows unlink but stay), so walk by row id.
    std::vector<quint64> ids;
    for (int row = 0; row < m_list.Count(); ++row)
        if (m_list.RowStatus(row) == CallStatusWaiting)
            ids.push_back(m_list.RowId(row));
    for (quint64 id : ids) {
        const int row = m_list.FindRowById(id);
        ChatItem *record = m_list.RowData(row);
        if (!record || !record->Socket || record->ConnectionTaken || m_list.RowStatus(row) != CallStatusWaiting)
            continue;
        // A connection still opening has nobody to tell yet; sending would
        // find it "not connected" and take the call down.
        if (!record->Socket->IsConnected())
            continue;
        // Until the server has greeted the connection and heard our answer
        // it cannot tell whose call it carries: a text sent before that
        // would come first on the wire and reach no visitor.
        if (!record->InitialConnectAnswered)
            continue;
        // Behind whatever exchange the call's connection is in, as if its
        // pauses had held the timer up; a tick still waiting there stands
        // for this one too, so a long exchange never ends in a burst.
        if (m_holdTicksWaiting.contains(id))
            continue;
        m_holdTicksWaiting.insert(id);
        auto *tick = new TExchange(this, {record->Socket});
        connect(tick, &TExchange::Ended, this, [this, id] { m_holdTicksWaiting.remove(id); });
        tick->Then([this, id] {
                m_holdTicksWaiting.remove(id);
                const int row = m_list.FindRowById(id);
                ChatItem *record = m_list.RowData(row);
                if (!record || !record->Socket || record->ConnectionTaken
                    || m_list.RowStatus(row) != CallStatusWaiting)
                    return;
                const TSettings &settings = Settings();
                const int every = settings.ReminderCount;
                const int count = record->ReminderCount;
                const bool reminder = count != 0 && every > 0 && count % every == 0
                                      && !settings.SupportNotAvailReminderMsg.isEmpty();
                if (!reminder) {
                    if (SendOnCall(record, chat::BuildNotAvailMsg(settings.SupportNotAvailMsg)))
                        record->ReminderCount = count + 1;
                } else if (SendOnCall(record, chat::BuildNotAvailReminder(settings.SupportNotAvailReminderMsg))) {
                    record->ReminderCount = 1;
                    if (ChatLimit() >= m_openChatWindows && m_host.SoundsOn())
                        m_host.PlayMainSound();
                }
            })
            .Start();
    }
}

void TCalls::RingRemindTimerTimer()
{
    if (m_host.SoundsOn())
        m_host.PlayMainSound();
}

} // namespace velmora
