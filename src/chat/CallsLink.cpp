#include "chat/CallsLink.h"

#include "session/Calls.h"

namespace velmora {

void TCallsLink::SetCallStatus(TClientSocket *socket, int status)
{
    m_calls.CallList().SetCallStatus(socket, status);
}

void TCallsLink::UpdateDisconnectTime(TClientSocket *socket)
{
    m_calls.CallList().UpdateDisconnectTime(socket);
}

void TCallsLink::NullListViewItemData(TClientSocket *socket)
{
    m_calls.CallList().NullListViewItemData(socket);
}

void TCallsLink::SetCallName(TClientSocket *socket, const QString &name)
{
    m_calls.CallList().SetCallName(socket, name);
}

void TCallsLink::SetCallEmail(TClientSocket *socket, const QString &email)
{
    m_calls.CallList().SetCallEmail(socket, email);
}

void TCallsLink::SetCallPhone(TClientSocket *socket, const QString &phone)
{
    m_calls.CallList().SetCallPhone(socket, phone);
}

QString TCallsLink::StatusOfCall(qint32 sessionCount) const
{
    return m_calls.CallList().StatusOfCall(sessionCount);
}

QString TCallsLink::CallTimeText(TClientSocket *socket, bool endTime) const
{
    const TCallList &list = m_calls.CallList();
    const int row = list.FindRowBySocket(socket);
    return row < 0 ? QString() : list.Cell(row, endTime ? ColEndTime : ColStartTime);
}

std::optional<TTranscriptHeader> TCallsLink::TranscriptRow(TClientSocket *socket) const
{
    const TCallList &list = m_calls.CallList();
    const int row = list.FindRowBySocket(socket);
    if (row < 0)
        return std::nullopt;
    TTranscriptHeader header;
    header.ClientEmail = list.Cell(row, ColClientEmail);
    header.StartTime = list.Cell(row, ColStartTime);
    header.EndTime = list.Cell(row, ColEndTime);
    return header;
}

void TCallsLink::ChatWindowGone(IChatWindow *window)
{
    m_calls.ChatWindowGone(window);
}

} // namespace velmora
