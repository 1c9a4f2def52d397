#pragma once
// Messages of the server connection, in both directions. The console uses the
// console->server builders and the server->console decoders; the test fake
// server and the simulator use the other half.
//
// Builders return the finished frame; those with a text or a block that may not
// fit its field return nullopt instead. Decoders take a frame body and return
// nullopt when it is too short for the fields they read: such a message is
// dropped, never read past. Integer prefixes are not checked (peers may rely on
// that); unread fields must still be present for later ones to be found.
#include "protocol/Codec.h"
#include "protocol/MessageCodes.h"

#include <QList>

namespace velmora::server {

// One supporter of the online-supporters list.
struct SupporterEntry {
    QByteArray name;
    qint32 port = 0;
    QString Name() const { return FromWire(name); }
    bool operator==(const SupporterEntry &) const = default;
};

// The list holds at most this many entries: its count is one byte.
constexpr int kMaxSupportersInList = 255;

// --- console -> server: builders --------------------------------------------
QByteArray BuildKeepAlive();
std::optional<QByteArray> BuildSupportRegister(const WireText &clientId, const WireText &authValue,
                                               const WireText &instanceToken);
QByteArray BuildSupportDisconnect();
std::optional<QByteArray> BuildSupportName(const WireText &supportName);
QByteArray BuildOnlineSupportersRequest(qint32 supportPort);
QByteArray BuildTransferCall(qint32 sessionCount, qint32 toPort);
// nullopt when the conversation would make a frame larger than a peer accepts.
std::optional<QByteArray> BuildTransferDataSend(qint32 sessionCount, qint32 toPort,
                                                const QByteArray &conversation);
QByteArray BuildTransferAnswered(qint32 sessionCount, qint32 fromPort);
QByteArray BuildSupportAwake();
QByteArray BuildSupportIdle();
QByteArray BuildSupportReady();

// --- server -> console: builders --------------------------------------------
QByteArray BuildInitialConnect();
std::optional<QByteArray> BuildClientListed(qint32 sessionCount, const WireText &ip, const WireText &webSite);
QByteArray BuildCallAnswered(qint32 sessionCount);
QByteArray BuildRegisterRefused();
QByteArray BuildMaxSocketsExceeded();
QByteArray BuildRegisterAccepted(qint32 supportPort);
QByteArray BuildServerUpgrade();
QByteArray BuildSupportChatListed(qint32 sessionCount);
// nullopt for more than kMaxSupportersInList entries or a name that does not fit.
std::optional<QByteArray> BuildOnlineSupportersList(const QList<SupporterEntry> &supporters);
std::optional<QByteArray> BuildTransferCallNotice(qint32 sessionCount, qint32 fromPort, const WireText &ip,
                                                  const WireText &webSite);
std::optional<QByteArray> BuildTransferData(qint32 sessionCount, const QByteArray &conversation);
QByteArray BuildTransferAnsweredNotice(qint32 sessionCount);
QByteArray BuildChatLimit(qint32 limit);
QByteArray BuildSupportersOnline(qint32 count);

// --- server -> console: decoders --------------------------------------------
struct ClientListed {
    qint32 sessionCount = 0;
    QByteArray ip;
    QByteArray webSite;
    QString Ip() const { return FromWire(ip); }
    QString WebSite() const { return FromWire(webSite); }
};
std::optional<ClientListed> DecodeClientListed(const QByteArray &body);
std::optional<qint32> DecodeCallAnswered(const QByteArray &body);   // SessionCount
std::optional<qint32> DecodeRegisterAccepted(const QByteArray &body); // this console's port value
std::optional<qint32> DecodeSupportChatListed(const QByteArray &body); // SessionCount

struct OnlineSupporters {
    QList<SupporterEntry> entries;
    // False when the count announced more entries than the body holds; the
    // entries that were whole are kept, so the operator still gets a choice.
    bool complete = true;
};
std::optional<OnlineSupporters> DecodeOnlineSupportersList(const QByteArray &body);

struct TransferCallNotice {
    qint32 sessionCount = 0;
    qint32 fromPort = 0; // the supporter who transfers the call
    QByteArray ip;
    QByteArray webSite;
    QString Ip() const { return FromWire(ip); }
    QString WebSite() const { return FromWire(webSite); }
};
std::optional<TransferCallNotice> DecodeTransferCallNotice(const QByteArray &body);

struct TransferData {
    qint32 sessionCount = 0;
    QByteArray conversation;
};
// nullopt also for a negative block length or one that runs past the body.
std::optional<TransferData> DecodeTransferData(const QByteArray &body);
std::optional<qint32> DecodeTransferAnsweredNotice(const QByteArray &body); // SessionCount
std::optional<qint32> DecodeChatLimit(const QByteArray &body);
std::optional<qint32> DecodeSupportersOnline(const QByteArray &body);

// --- console -> server: decoders (fake server, simulator) --------------------
struct SupportRegister {
    QByteArray clientId;
    QByteArray authValue;
    QByteArray instanceToken;
};
std::optional<SupportRegister> DecodeSupportRegister(const QByteArray &body);
std::optional<QByteArray> DecodeSupportName(const QByteArray &body);
std::optional<qint32> DecodeOnlineSupportersRequest(const QByteArray &body); // asker's port value

// TRANSFER_CALL (port = the chosen supporter) and TRANSFER_ANSWERED (port = the
// supporter who transfers) as the console sends them.
struct TransferRequest {
    qint32 sessionCount = 0;
    qint32 port = 0;
};
std::optional<TransferRequest> DecodeTransferCall(const QByteArray &body);
std::optional<TransferRequest> DecodeTransferAnswered(const QByteArray &body);

struct TransferDataSend {
    qint32 sessionCount = 0;
    qint32 toPort = 0;
    QByteArray conversation;
};
std::optional<TransferDataSend> DecodeTransferDataSend(const QByteArray &body);
// SUPPORT_AWAKE / SUPPORT_IDLE: any non-zero value counts as set.
std::optional<bool> DecodeAwakeFlag(const QByteArray &body);

} // namespace velmora::server
