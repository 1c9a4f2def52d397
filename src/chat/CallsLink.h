#pragma once
// The chat windows' view of the call handling: the real call list and list of
// chat windows behind IChatCalls.
#include "chat/ChatHost.h"

namespace velmora {

class TCalls;

class TCallsLink final : public IChatCalls {
public:
    explicit TCallsLink(TCalls &calls) : m_calls(calls) {}

    void SetCallStatus(TClientSocket *socket, int status) override;
    void UpdateDisconnectTime(TClientSocket *socket) override;
    void NullListViewItemData(TClientSocket *socket) override;
    void SetCallName(TClientSocket *socket, const QString &name) override;
    void SetCallEmail(TClientSocket *socket, const QString &email) override;
    void SetCallPhone(TClientSocket *socket, const QString &phone) override;
    QString StatusOfCall(qint32 sessionCount) const override;
    QString CallTimeText(TClientSocket *socket, bool endTime) const override;
    void ChatWindowGone(IChatWindow *window) override;
    std::optional<TTranscriptHeader> TranscriptRow(TClientSocket *socket) const override;

private:
    TCalls &m_calls;
};

} // namespace velmora
