// Bytes of a hostile peer through the frame reader and every message decoder.
// The input is consumed as (chunk length byte, chunk) pairs, so that frames
// arrive split at arbitrary points as they would from a socket. Every frame is
// given to every decoder whatever its code; what decodes is rebuilt and must
// decode to the same values.
#include "protocol/ChatMessages.h"
#include "protocol/ServerMessages.h"

#include <cstdint>
#include <cstdlib>

using namespace velmora;

namespace {

void Check(bool condition)
{
    if (!condition)
        abort();
}

QByteArray BodyOf(const QByteArray &frame)
{
    FrameBuffer fb;
    fb.Append(frame);
    Frame f;
    Check(fb.TakeFrame(f) == FrameBuffer::Result::Frame);
    Check(fb.Pending() == 0);
    return f.body;
}

void ServerDecoders(const QByteArray &body)
{
    using namespace velmora::server;
    if (auto m = DecodeClientListed(body)) {
        auto again = DecodeClientListed(BodyOf(*BuildClientListed(m->sessionCount, m->ip, m->webSite)));
        Check(again && again->sessionCount == m->sessionCount && again->ip == m->ip && again->webSite == m->webSite);
    }
    if (auto m = DecodeOnlineSupportersList(body)) {
        Check(m->entries.size() <= kMaxSupportersInList);
        auto again = DecodeOnlineSupportersList(BodyOf(*BuildOnlineSupportersList(m->entries)));
        Check(again && again->complete && again->entries == m->entries);
    }
    if (auto m = DecodeTransferCallNotice(body)) {
        auto again = DecodeTransferCallNotice(
            BodyOf(*BuildTransferCallNotice(m->sessionCount, m->fromPort, m->ip, m->webSite)));
        Check(again && again->fromPort == m->fromPort && again->webSite == m->webSite);
    }
    if (auto m = DecodeTransferData(body)) {
        Check(m->conversation.size() <= body.size() - 12);
        auto again = DecodeTransferData(BodyOf(*BuildTransferData(m->sessionCount, m->conversation)));
        Check(again && again->conversation == m->conversation);
    }
    if (auto m = DecodeTransferDataSend(body)) {
        auto again = DecodeTransferDataSend(BodyOf(*BuildTransferDataSend(m->sessionCount, m->toPort, m->conversation)));
        Check(again && again->conversation == m->conversation);
    }
    if (auto m = DecodeSupportRegister(body)) {
        auto again = DecodeSupportRegister(BodyOf(*BuildSupportRegister(m->clientId, m->authValue, m->instanceToken)));
        Check(again && again->instanceToken == m->instanceToken);
    }
    if (auto m = DecodeRegisterAccepted(body))
        Check(DecodeRegisterAccepted(BodyOf(BuildRegisterAccepted(*m))) == m);
    if (auto m = DecodeSupportName(body))
        Check(DecodeSupportName(BodyOf(*BuildSupportName(*m))) == m);
    if (auto m = DecodeTransferCall(body))
        Check(DecodeTransferCall(BodyOf(BuildTransferCall(m->sessionCount, m->port)))->port == m->port);
    DecodeCallAnswered(body);
    DecodeSupportChatListed(body);
    DecodeTransferAnsweredNotice(body);
    DecodeTransferAnswered(body);
    DecodeChatLimit(body);
    DecodeSupportersOnline(body);
    DecodeOnlineSupportersRequest(body);
    DecodeAwakeFlag(body);
}

void ChatDecoders(const QByteArray &body)
{
    using namespace velmora::chat;
    if (auto m = DecodeUserDetails(body)) {
        auto again = DecodeUserDetails(BodyOf(*BuildUserDetails(m->name, m->email, m->phone)));
        Check(again && again->name == m->name && again->email == m->email && again->phone == m->phone);
    }
    if (auto m = DecodeSupportWelcome(body)) {
        auto again = DecodeSupportWelcome(BodyOf(*BuildSupportWelcome(m->supportName, m->welcomeText)));
        Check(again && again->welcomeText == m->welcomeText);
    }
    if (auto m = DecodeChatText(body))
        Check(DecodeChatText(BodyOf(*BuildChatText(*m))) == m);
    if (auto m = DecodeImageData(body)) {
        const auto frame = BuildImageData(*m);
        Check(frame.has_value() == (m->size() <= kMaxImageBytes));
    }
    if (auto m = DecodeSupportAnswersToCli(body)) {
        auto again = DecodeSupportAnsToTrans(BodyOf(*BuildSupportAnsToTrans(m->clientId, m->supportPort, m->sessionCount)));
        Check(again && again->clientId == m->clientId && again->sessionCount == m->sessionCount);
    }
    if (auto m = DecodeSupportChatRequest(body))
        Check(DecodeSupportChatRequest(BodyOf(*BuildSupportChatRequest(m->clientId, m->port)))->port == m->port);
    if (auto m = DecodeSessionReady(body))
        Check(DecodeSessionReady(BodyOf(BuildSessionReady(*m))) == m);
    if (auto m = DecodeChatOptions(body))
        Check(DecodeChatOptions(BodyOf(BuildChatOptions(*m))) == m);
    DecodeWelcomeMsg(body);
    DecodeNotAvailMsg(body);
    DecodeNotAvailReminder(body);
    DecodePushUrl(body);
    DecodeSupportAnsToTrans(body);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FrameBuffer buffer;
    size_t at = 0;
    while (at < size) {
        // 0xFF hands over all that is left; anything else is a chunk of 1..255.
        const size_t wanted = data[at] == 0xFF ? size : size_t(data[at]) + 1;
        ++at;
        const size_t chunk = std::min(wanted, size - at);
        buffer.Append(reinterpret_cast<const char *>(data + at), qsizetype(chunk));
        at += chunk;

        Frame frame;
        for (;;) {
            const FrameBuffer::Result r = buffer.TakeFrame(frame);
            if (r == FrameBuffer::Result::NeedMore)
                break;
            if (r == FrameBuffer::Result::TooLarge) {
                // The connection would be dropped; start afresh as on a new one.
                buffer.Clear();
                break;
            }
            Check(frame.body.size() <= qsizetype(kMaxBodyLength));
            ServerDecoders(frame.body);
            ChatDecoders(frame.body);
        }
    }
    return 0;
}
