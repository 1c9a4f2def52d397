#include "protocol/ChatMessages.h"

namespace velmora::chat {
namespace {

QByteArray Empty(quint16 code) { return *MessageBuilder(code).Finish(); }

std::optional<QByteArray> OneText(quint16 code, const WireText &text)
{
    return MessageBuilder(code).Text(text.bytes).Finish();
}

std::optional<QByteArray> SupportAnswerFrame(quint16 code, const WireText &clientId, qint32 supportPort,
                                             qint32 sessionCount)
{
    return MessageBuilder(code).Text(clientId.bytes).Int(supportPort).Int(sessionCount).Finish();
}

std::optional<QByteArray> SingleText(const QByteArray &body)
{
    FieldReader r(body);
    QByteArray text = r.Text();
    if (!r.Ok())
        return std::nullopt;
    return text;
}

std::optional<SupportAnswer> DecodeSupportAnswer(const QByteArray &body)
{
    FieldReader r(body);
    SupportAnswer out;
    out.clientId = r.Text();
    out.supportPort = r.Int();
    out.sessionCount = r.Int();
    if (!r.Ok())
        return std::nullopt;
    return out;
}

} // namespace

// --- builders ---------------------------------------------------------------

QByteArray BuildChatKeepAlive() { return Empty(CHAT_KEEP_ALIVE); }
QByteArray BuildInitialConnect() { return Empty(INITIAL_CONNECT); }
QByteArray BuildSessionReady(qint32 sessionCount) { return *MessageBuilder(SESSION_READY).Int(sessionCount).Finish(); }

std::optional<QByteArray> BuildUserDetails(const WireText &name, const WireText &email, const WireText &phone)
{
    return MessageBuilder(USER_DETAILS).Text(name.bytes).Text(email.bytes).Text(phone.bytes).Finish();
}

std::optional<QByteArray> BuildSupportWelcome(const WireText &supportName, const WireText &welcomeText)
{
    return MessageBuilder(SUPPORT_WELCOME).Text(supportName.bytes).Text(welcomeText.bytes).Finish();
}

std::optional<QByteArray> BuildChatText(const WireText &text) { return OneText(CHAT_TEXT, text); }
QByteArray BuildEndSession() { return Empty(END_SESSION); }
std::optional<QByteArray> BuildWelcomeMsg(const WireText &text) { return OneText(WELCOME_MSG, text); }
std::optional<QByteArray> BuildNotAvailMsg(const WireText &text) { return OneText(NOT_AVAIL_MSG, text); }
QByteArray BuildSupportUnavailable() { return Empty(SUPPORT_UNAVAILABLE); }
std::optional<QByteArray> BuildNotAvailReminder(const WireText &text) { return OneText(NOT_AVAIL_REMINDER, text); }
std::optional<QByteArray> BuildPushUrl(const WireText &url) { return OneText(PUSH_URL, url); }

std::optional<QByteArray> BuildImageData(const QByteArray &image)
{
    if (image.size() > kMaxImageBytes)
        return std::nullopt;
    return MessageBuilder(IMAGE_DATA).Data(image).Finish();
}

QByteArray BuildTypingStart() { return Empty(TYPING_START); }

std::optional<QByteArray> BuildSupportAnsToTrans(const WireText &clientId, qint32 supportPort, qint32 sessionCount)
{
    return SupportAnswerFrame(SUPPORT_ANS_TO_TRANS, clientId, supportPort, sessionCount);
}

QByteArray BuildTransComplete() { return Empty(TRANS_COMPLETE); }
QByteArray BuildTypingStop() { return Empty(TYPING_STOP); }
QByteArray BuildChatOptions(bool emptyLineAdd) { return *MessageBuilder(CHAT_OPTIONS).Flag(emptyLineAdd).Finish(); }

std::optional<QByteArray> BuildSupportAnswersToCli(const WireText &clientId, qint32 supportPort,
                                                   qint32 sessionCount)
{
    return SupportAnswerFrame(SUPPORT_ANSWERS_TO_CLI, clientId, supportPort, sessionCount);
}

QByteArray BuildSupportInMaintenance() { return Empty(SUPPORT_IN_MAINTENANCE); }

std::optional<QByteArray> BuildSupportChatRequest(const WireText &clientId, qint32 port)
{
    return MessageBuilder(SUPPORT_CHAT_REQUEST).Text(clientId.bytes).Int(port).Finish();
}

QByteArray BuildSupportListed() { return Empty(SUPPORT_LISTED); }

// --- decoders ---------------------------------------------------------------

std::optional<qint32> DecodeSessionReady(const QByteArray &body)
{
    FieldReader r(body);
    const qint32 sessionCount = r.Int();
    if (!r.Ok())
        return std::nullopt;
    return sessionCount;
}

std::optional<UserDetails> DecodeUserDetails(const QByteArray &body)
{
    FieldReader r(body);
    UserDetails out;
    out.name = r.Text();
    out.email = r.Text();
    out.phone = r.Text();
    if (!r.Ok())
        return std::nullopt;
    return out;
}

std::optional<SupportWelcome> DecodeSupportWelcome(const QByteArray &body)
{
    FieldReader r(body);
    SupportWelcome out;
    out.supportName = r.Text();
    out.welcomeText = r.Text();
    if (!r.Ok())
        return std::nullopt;
    return out;
}

std::optional<QByteArray> DecodeChatText(const QByteArray &body) { return SingleText(body); }
std::optional<QByteArray> DecodeWelcomeMsg(const QByteArray &body) { return SingleText(body); }
std::optional<QByteArray> DecodeNotAvailMsg(const QByteArray &body) { return SingleText(body); }
std::optional<QByteArray> DecodeNotAvailReminder(const QByteArray &body) { return SingleText(body); }
std::optional<QByteArray> DecodePushUrl(const QByteArray &body) { return SingleText(body); }
std::optional<QByteArray> DecodeImageData(const QByteArray &body) { return SingleText(body); }

std::optional<SupportAnswer> DecodeSupportAnswersToCli(const QByteArray &body) { return DecodeSupportAnswer(body); }
std::optional<SupportAnswer> DecodeSupportAnsToTrans(const QByteArray &body) { return DecodeSupportAnswer(body); }

std::optional<SupportChatRequest> DecodeSupportChatRequest(const QByteArray &body)
{
    FieldReader r(body);
    SupportChatRequest out;
    out.clientId = r.Text();
    out.port = r.Int();
    if (!r.Ok())
        return std::nullopt;
    return out;
}

std::optional<bool> DecodeChatOptions(const QByteArray &body)
{
    FieldReader r(body);
    const qint32 value = r.Int();
    if (!r.Ok())
        return std::nullopt;
    return value != 0;
}

} // namespace velmora::chat
