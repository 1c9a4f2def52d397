#pragma once
// Messages of a per-call connection, in both directions: the supporter side
// (this console), the visitor side (a web page, or a supporter chat window
// playing it) and the server. Same conventions as ServerMessages.h: builders
// return the frame or nullopt when a field does not fit; decoders return
// nullopt for a body too short for the fields they read.
#include "protocol/Codec.h"
#include "protocol/MessageCodes.h"

namespace velmora::chat {

// --- builders ---------------------------------------------------------------
QByteArray BuildChatKeepAlive();
QByteArray BuildInitialConnect();
QByteArray BuildSessionReady(qint32 sessionCount);
std::optional<QByteArray> BuildUserDetails(const WireText &name, const WireText &email, const WireText &phone);
std::optional<QByteArray> BuildSupportWelcome(const WireText &supportName, const WireText &welcomeText);
std::optional<QByteArray> BuildChatText(const WireText &text);
QByteArray BuildEndSession();
std::optional<QByteArray> BuildWelcomeMsg(const WireText &text);
std::optional<QByteArray> BuildNotAvailMsg(const WireText &text);
QByteArray BuildSupportUnavailable();
std::optional<QByteArray> BuildNotAvailReminder(const WireText &text);
std::optional<QByteArray> BuildPushUrl(const WireText &url);
// nullopt above kMaxImageBytes: the visitor's page takes no more.
std::optional<QByteArray> BuildImageData(const QByteArray &image);
QByteArray BuildTypingStart();
std::optional<QByteArray> BuildSupportAnsToTrans(const WireText &clientId, qint32 supportPort, qint32 sessionCount);
QByteArray BuildTransComplete();
QByteArray BuildTypingStop();
QByteArray BuildChatOptions(bool emptyLineAdd);
std::optional<QByteArray> BuildSupportAnswersToCli(const WireText &clientId, qint32 supportPort,
                                                   qint32 sessionCount);
QByteArray BuildSupportInMaintenance();
std::optional<QByteArray> BuildSupportChatRequest(const WireText &clientId, qint32 port);
QByteArray BuildSupportListed();

// --- decoders ---------------------------------------------------------------
std::optional<qint32> DecodeSessionReady(const QByteArray &body);

struct UserDetails {
    QByteArray name;
    QByteArray email;
    QByteArray phone;
    QString Name() const { return FromWire(name); }
    QString Email() const { return FromWire(email); }
    QString Phone() const { return FromWire(phone); }
};
std::optional<UserDetails> DecodeUserDetails(const QByteArray &body);

struct SupportWelcome {
    QByteArray supportName;
    QByteArray welcomeText;
    QString SupportName() const { return FromWire(supportName); }
    QString WelcomeText() const { return FromWire(welcomeText); }
};
std::optional<SupportWelcome> DecodeSupportWelcome(const QByteArray &body);

// Messages whose body is one text (or one data field).
std::optional<QByteArray> DecodeChatText(const QByteArray &body);
std::optional<QByteArray> DecodeWelcomeMsg(const QByteArray &body);
std::optional<QByteArray> DecodeNotAvailMsg(const QByteArray &body);
std::optional<QByteArray> DecodeNotAvailReminder(const QByteArray &body);
std::optional<QByteArray> DecodePushUrl(const QByteArray &body);
std::optional<QByteArray> DecodeImageData(const QByteArray &body);

// SUPPORT_ANSWERS_TO_CLI and SUPPORT_ANS_TO_TRANS carry the same fields.
struct SupportAnswer {
    QByteArray clientId;
    qint32 supportPort = 0;
    qint32 sessionCount = 0;
};
std::optional<SupportAnswer> DecodeSupportAnswersToCli(const QByteArray &body);
std::optional<SupportAnswer> DecodeSupportAnsToTrans(const QByteArray &body);

struct SupportChatRequest {
    QByteArray clientId;
    qint32 port = 0; // the supporter asked for
};
std::optional<SupportChatRequest> DecodeSupportChatRequest(const QByteArray &body);
// Any non-zero value counts as set.
std::optional<bool> DecodeChatOptions(const QByteArray &body);

} // namespace velmora::chat
