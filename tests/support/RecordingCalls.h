#pragma once
// A call list that records what a chat does to its row.
#include "session/ChatCalls.h"

#include <QStringList>

#include <optional>

namespace velmora::test {

// Every call-list operation as one readable line, in order.
class RecordingCalls final : public IChatCalls {
public:
    void SetCallStatus(TClientSocket *, int status) override
    {
        events << QStringLiteral("status %1").arg(status);
        lastStatus = status;
    }
    void UpdateDisconnectTime(TClientSocket *) override { events << QStringLiteral("end time"); }
    void NullListViewItemData(TClientSocket *) override { events << QStringLiteral("unlink"); }
    void SetCallName(TClientSocket *, const QString &name) override { events << QStringLiteral("name ") + name; }
    void SetCallEmail(TClientSocket *, const QString &email) override { events << QStringLiteral("email ") + email; }
    void SetCallPhone(TClientSocket *, const QString &phone) override { events << QStringLiteral("phone ") + phone; }
    QString StatusOfCall(qint32) const override { return statusText; }
    void ChatWindowGone(IChatWindow *) override { events << QStringLiteral("gone"); }
    std::optional<TTranscriptHeader> TranscriptRow(TClientSocket *) const override { return row; }

    std::optional<TTranscriptHeader> row = TTranscriptHeader{QStringLiteral("row@mail.test"),
                                                             QStringLiteral("10:00:00"), QStringLiteral("10:05:00"), {}};

    QStringList events;
    int lastStatus = -1;
    QString statusText = QStringLiteral("In Chat...");
};

} // namespace velmora::test
