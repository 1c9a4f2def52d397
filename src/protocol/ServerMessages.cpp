#include "protocol/ServerMessages.h"

namespace velmora::server {
namespace {

QByteArray Empty(quint16 code) { return *MessageBuilder(code).Finish(); }

QByteArray OneInt(quint16 code, qint32 value) { return *MessageBuilder(code).Int(value).Finish(); }

QByteArray TwoInts(quint16 code, qint32 first, qint32 second)
{
    return *MessageBuilder(code).Int(first).Int(second).Finish();
}

// A frame the peer would refuse as too large is never sent: the server would
// drop the whole connection for it.
std::optional<QByteArray> WithinFrameLimit(std::optional<QByteArray> frame)
{
    if (frame && frame->size() - kHeaderSize > qsizetype(kMaxBodyLength))
        return std::nullopt;
    return frame;
}

std::optional<qint32> FirstInt(const QByteArray &body)
{
    FieldReader r(body);
    const qint32 value = r.Int();
    if (!r.Ok())
        return std::nullopt;
    return value;
}

std::optional<TransferRequest> TwoIntRequest(const QByteArray &body)
{
    FieldReader r(body);
    TransferRequest out;
    out.sessionCount = r.Int();
    out.port = r.Int();
    if (!r.Ok())
        return std::nullopt;
    return out;
}

// A raw block: an integer n (prefix not checked), then n bytes.
QByteArray RawBlock(FieldReader &r)
{
    const qint32 n = r.Int();
    if (n < 0)
        return r.Bytes(-1); // marks the reader failed
    return r.Bytes(n);
}

} // namespace

// --- console -> server: builders --------------------------------------------

QByteArray BuildKeepAlive() { return Empty(KEEP_ALIVE); }

std::optional<QByteArray> BuildSupportRegister(const WireText &clientId, const WireText &authValue,
                                               const WireText &instanceToken)
{
    return MessageBuilder(SUPPORT_REGISTER)
        .Text(clientId.bytes)
        .Text(authValue.bytes)
        .Text(instanceToken.bytes)
        .Finish();
}

QByteArray BuildSupportDisconnect() { return Empty(SUPPORT_DISCONNECT); }

std::optional<QByteArray> BuildSupportName(const WireText &supportName)
{
    return MessageBuilder(SUPPORT_NAME).Text(supportName.bytes).Finish();
}

QByteArray BuildOnlineSupportersRequest(qint32 supportPort) { return OneInt(ONLINE_SUPPORTERS, supportPort); }

QByteArray BuildTransferCall(qint32 sessionCount, qint32 toPort)
{
    return TwoInts(TRANSFER_CALL, sessionCount, toPort);
}

std::optional<QByteArray> BuildTransferDataSend(qint32 sessionCount, qint32 toPort, const QByteArray &conversation)
{
    if (conversation.size() > qsizetype(kMaxBodyLength))
        return std::nullopt;
    return WithinFrameLimit(
        MessageBuilder(TRANSFER_DATA_SEND).Int(sessionCount).Int(toPort).Raw(conversation).Finish());
}

QByteArray BuildTransferAnswered(qint32 sessionCount, qint32 fromPort)
{
    return TwoInts(TRANSFER_ANSWERED, sessionCount, fromPort);
}

QByteArray BuildSupportAwake() { return *MessageBuilder(SUPPORT_AWAKE).Flag(true).Finish(); }
QByteArray BuildSupportIdle() { return *MessageBuilder(SUPPORT_IDLE).Flag(false).Finish(); }
QByteArray BuildSupportReady() { return Empty(SUPPORT_READY); }

// --- server -> console: builders --------------------------------------------

QByteArray BuildInitialConnect() { return Empty(INITIAL_CONNECT); }

std::optional<QByteArray> BuildClientListed(qint32 sessionCount, const WireText &ip, const WireText &webSite)
{
    return MessageBuilder(CLIENT_LISTED).Int(sessionCount).Int(0).Int(0).Text(ip.bytes).Text(webSite.bytes).Finish();
}

QByteArray BuildCallAnswered(qint32 sessionCount) { return OneInt(CALL_ANSWERED, sessionCount); }
QByteArray BuildRegisterRefused() { return Empty(REGISTER_REFUSED); }
QByteArray BuildMaxSocketsExceeded() { return Empty(MAX_SOCKETS_EXCEEDED); }
QByteArray BuildRegisterAccepted(qint32 supportPort) { return TwoInts(REGISTER_ACCEPTED, 0, supportPort); }
QByteArray BuildServerUpgrade() { return Empty(SERVER_UPGRADE); }
QByteArray BuildSupportChatListed(qint32 sessionCount) { return OneInt(SUPPORT_CHAT_LISTED, sessionCount); }

std::optional<QByteArray> BuildOnlineSupportersList(const QList<SupporterEntry> &supporters)
{
    if (supporters.size() > kMaxSupportersInList)
        return std::nullopt;
    // The count is a one-byte field: prefix 00 01, then the byte.
    MessageBuilder b(ONLINE_SUPPORTERS);
    b.Data(QByteArray(1, char(quint8(supporters.size()))));
    for (const SupporterEntry &s : supporters)
        b.Text(s.name).Int(s.port);
    return WithinFrameLimit(b.Finish());
}

std::optional<QByteArray> BuildTransferCallNotice(qint32 sessionCount, qint32 fromPort, const WireText &ip,
                                                  const WireText &webSite)
{
    return MessageBuilder(TRANSFER_CALL)
        .Int(sessionCount)
        .Int(fromPort)
        .Int(0)
        .Text(ip.bytes)
        .Text(webSite.bytes)
        .Finish();
}

std::optional<QByteArray> BuildTransferData(qint32 sessionCount, const QByteArray &conversation)
{
    if (conversation.size() > qsizetype(kMaxBodyLength))
        return std::nullopt;
    return WithinFrameLimit(MessageBuilder(TRANSFER_DATA).Int(sessionCount).Raw(conversation).Finish());
}

QByteArray BuildTransferAnsweredNotice(qint32 sessionCount) { return OneInt(TRANSFER_ANSWERED, sessionCount); }
QByteArray BuildChatLimit(qint32 limit) { return OneInt(CHAT_LIMIT, limit); }
QByteArray BuildSupportersOnline(qint32 count) { return OneInt(SUPPORTERS_ONLINE, count); }

// --- server -> console: decoders --------------------------------------------

std::optional<ClientListed> DecodeClientListed(const QByteArray &body)
{
    FieldReader r(body);
    ClientListed out;
    out.sessionCount = r.Int();
    r.Int(); // not read by the console
    r.Int(); // not read by the console
    out.ip = r.Text();
    out.webSite = r.Text();
    if (!r.Ok())
        return std::nullopt;
    return out;
}

std::optional<qint32> DecodeCallAnswered(const QByteArray &body) { return FirstInt(body); }

std::optional<qint32> DecodeRegisterAccepted(const QByteArray &body)
{
    FieldReader r(body);
    r.Int(); // not read by the console
    const qint32 port = r.Int();
    if (!r.Ok())
        return std::nullopt;
    return port;
}

std::optional<qint32> DecodeSupportChatListed(const QByteArray &body) { return FirstInt(body); }

std::optional<OnlineSupporters> DecodeOnlineSupportersList(const QByteArray &body)
{
    // The count is the byte at offset 2 whatever its prefix says; entries follow it.
    FieldReader r(body);
    r.Skip(2);
    const int count = r.Byte();
    if (!r.Ok())
        return std::nullopt;
    OnlineSupporters out;
    out.entries.reserve(count);
    for (int i = 0; i < count; ++i) {
        SupporterEntry entry;
        entry.name = r.Text();
        entry.port = r.Int();
        if (!r.Ok()) {
            out.complete = false;
            break;
        }
        out.entries.append(entry);
    }
    return out;
}

std::optional<TransferCallNotice> DecodeTransferCallNotice(const QByteArray &body)
{
    FieldReader r(body);
    TransferCallNotice out;
    out.sessionCount = r.Int();
    out.fromPort = r.Int();
    r.Int(); // not read by the console
    out.ip = r.Text();
    out.webSite = r.Text();
    if (!r.Ok())
        return std::nullopt;
    return out;
}

std::optional<TransferData> DecodeTransferData(const QByteArray &body)
{
    FieldReader r(body);
    TransferData out;
    out.sessionCount = r.Int();
    out.conversation = RawBlock(r);
    if (!r.Ok())
        return std::nullopt;
    return out;
}

std::optional<qint32> DecodeTransferAnsweredNotice(const QByteArray &body) { return FirstInt(body); }
std::optional<qint32> DecodeChatLimit(const QByteArray &body) { return FirstInt(body); }
std::optional<qint32> DecodeSupportersOnline(const QByteArray &body) { return FirstInt(body); }

// --- console -> server: decoders --------------------------------------------

std::optional<SupportRegister> DecodeSupportRegister(const QByteArray &body)
{
    FieldReader r(body);
    SupportRegister out;
    out.clientId = r.Text();
    out.authValue = r.Text();
    out.instanceToken = r.Text();
    if (!r.Ok())
        return std::nullopt;
    return out;
}

std::optional<QByteArray> DecodeSupportName(const QByteArray &body)
{
    FieldReader r(body);
    QByteArray name = r.Text();
    if (!r.Ok())
        return std::nullopt;
    return name;
}

std::optional<qint32> DecodeOnlineSupportersRequest(const QByteArray &body) { return FirstInt(body); }
std::optional<TransferRequest> DecodeTransferCall(const QByteArray &body) { return TwoIntRequest(body); }
std::optional<TransferRequest> DecodeTransferAnswered(const QByteArray &body) { return TwoIntRequest(body); }

std::optional<TransferDataSend> DecodeTransferDataSend(const QByteArray &body)
{
    FieldReader r(body);
    TransferDataSend out;
    out.sessionCount = r.Int();
    out.toPort = r.Int();
    out.conversation = RawBlock(r);
    if (!r.Ok())
        return std::nullopt;
    return out;
}

std::optional<bool> DecodeAwakeFlag(const QByteArray &body)
{
    const auto value = FirstInt(body);
    if (!value)
        return std::nullopt;
    return *value != 0;
}

} // namespace velmora::server
