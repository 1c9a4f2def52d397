#include "FakeChatServer.h"
#include "protocol/ChatMessages.h"

#include <gtest/gtest.h>

#include <QList>

#include <functional>
#include <tuple>

using namespace velmora;
using namespace velmora::chat;
using velmora::test::BodyOf;

namespace {

QByteArray Hex(const char *hex) { return QByteArray::fromHex(hex); }


} // namespace

TEST(ChatMessages, FramesAreByteExact)
{
    EXPECT_EQ(BuildChatKeepAlive(), Hex("000000000000"));
    EXPECT_EQ(BuildChatOptions(true), Hex("002100000006000400000001"));
    EXPECT_EQ(BuildChatOptions(false), Hex("002100000006000400000000"));
    EXPECT_EQ(*BuildChatText(""), Hex("000500000002" "0000"));
    EXPECT_EQ(*BuildSupportAnswersToCli("ab", 30001, -1),
              Hex("010400000010" "00026162" "000400007531" "0004FFFFFFFF"));
    EXPECT_EQ(*BuildSupportChatRequest("c", 2), Hex("010800000009" "000163" "000400000002"));
    EXPECT_EQ(*BuildImageData("GIF"), Hex("000C00000005" "0003474946"));
}

TEST(ChatMessages, TextsKeepEveryByte)
{
    const QByteArray withZero("li\0ne\r\n", 7);
    EXPECT_EQ(DecodeChatText(BodyOf(*BuildChatText(withZero))), withZero);
    EXPECT_EQ(DecodeChatText(Hex("0000")), QByteArray());

    // QString in, the same QString out: Latin-1 maps each byte to one character.
    const QString name = QStringLiteral("Ren\u00E9e \u00FF");
    const auto details = DecodeUserDetails(BodyOf(*BuildUserDetails(name, "", QByteArray())));
    ASSERT_TRUE(details);
    EXPECT_EQ(details->Name(), name);
    EXPECT_TRUE(details->email.isEmpty());
    EXPECT_TRUE(details->phone.isEmpty());

    const auto all_empty = DecodeUserDetails(Hex("0000" "0000" "0000"));
    ASSERT_TRUE(all_empty);
    EXPECT_TRUE(all_empty->name.isEmpty());
}

TEST(ChatMessages, RoundTrips)
{
    EXPECT_EQ(DecodeSessionReady(BodyOf(BuildSessionReady(77))), 77);

    const auto welcome = DecodeSupportWelcome(BodyOf(*BuildSupportWelcome("Op", "Hello")));
    ASSERT_TRUE(welcome);
    EXPECT_EQ(welcome->supportName, "Op");
    EXPECT_EQ(welcome->welcomeText, "Hello");

    EXPECT_EQ(DecodeWelcomeMsg(BodyOf(*BuildWelcomeMsg("w"))), "w");
    EXPECT_EQ(DecodeNotAvailMsg(BodyOf(*BuildNotAvailMsg("n"))), "n");
    EXPECT_EQ(DecodeNotAvailReminder(BodyOf(*BuildNotAvailReminder("r"))), "r");
    EXPECT_EQ(DecodePushUrl(BodyOf(*BuildPushUrl("http://x/"))), "http://x/");
    EXPECT_EQ(DecodeChatOptions(BodyOf(BuildChatOptions(true))), true);
    EXPECT_EQ(DecodeChatOptions(BodyOf(BuildChatOptions(false))), false);

    QByteArray image(int(kMaxImageBytes), '\0');
    image[0] = 'G';
    image[image.size() - 1] = '\xFF';
    EXPECT_EQ(DecodeImageData(BodyOf(*BuildImageData(image))), image);

    const auto trans = DecodeSupportAnsToTrans(BodyOf(*BuildSupportAnsToTrans("id", 5, 6)));
    ASSERT_TRUE(trans);
    EXPECT_EQ(trans->clientId, "id");
    EXPECT_EQ(trans->supportPort, 5);
    EXPECT_EQ(trans->sessionCount, 6);

    const auto request = DecodeSupportChatRequest(BodyOf(*BuildSupportChatRequest("id", 9)));
    ASSERT_TRUE(request);
    EXPECT_EQ(request->port, 9);
}

TEST(ChatMessages, TruncatedBodiesAreDropped)
{
    using Check = std::function<bool(const QByteArray &)>;
    const auto d = [](auto decoder) -> Check { return [decoder](const QByteArray &b) { return decoder(b).has_value(); }; };
    const QList<std::tuple<const char *, QByteArray, Check>> cases{
        {"SESSION_READY", BodyOf(BuildSessionReady(1)), d(DecodeSessionReady)},
        {"USER_DETAILS", BodyOf(*BuildUserDetails("n", "e", "p")), d(DecodeUserDetails)},
        {"SUPPORT_WELCOME", BodyOf(*BuildSupportWelcome("n", "w")), d(DecodeSupportWelcome)},
        {"CHAT_TEXT", BodyOf(*BuildChatText("hi")), d(DecodeChatText)},
        {"WELCOME_MSG", BodyOf(*BuildWelcomeMsg("w")), d(DecodeWelcomeMsg)},
        {"NOT_AVAIL_MSG", BodyOf(*BuildNotAvailMsg("n")), d(DecodeNotAvailMsg)},
        {"NOT_AVAIL_REMINDER", BodyOf(*BuildNotAvailReminder("r")), d(DecodeNotAvailReminder)},
        {"PUSH_URL", BodyOf(*BuildPushUrl("u")), d(DecodePushUrl)},
        {"IMAGE_DATA", BodyOf(*BuildImageData("img")), d(DecodeImageData)},
        {"SUPPORT_ANSWERS_TO_CLI", BodyOf(*BuildSupportAnswersToCli("c", 1, 2)), d(DecodeSupportAnswersToCli)},
        {"SUPPORT_ANS_TO_TRANS", BodyOf(*BuildSupportAnsToTrans("c", 1, 2)), d(DecodeSupportAnsToTrans)},
        {"SUPPORT_CHAT_REQUEST", BodyOf(*BuildSupportChatRequest("c", 1)), d(DecodeSupportChatRequest)},
        {"CHAT_OPTIONS", BodyOf(BuildChatOptions(true)), d(DecodeChatOptions)},
    };
    for (const auto &[name, body, decodes] : cases) {
        EXPECT_TRUE(decodes(body)) << name;
        for (qsizetype n = 0; n < body.size(); ++n)
            EXPECT_FALSE(decodes(body.left(n))) << name << " cut to " << n;
    }
}

TEST(ChatMessages, OnlyTheFieldLimitRefusesATextAndImagesStopAtTheirLimit)
{
    // Far beyond the old fixed buffer, still within a text field.
    EXPECT_TRUE(BuildPushUrl(QByteArray(65535, 'u')));
    EXPECT_TRUE(BuildSupportWelcome(QByteArray(40000, 'n'), QByteArray(40000, 'w')));
    EXPECT_FALSE(BuildPushUrl(QByteArray(65536, 'u')));
    EXPECT_FALSE(BuildSupportWelcome("n", QByteArray(65536, 'w')));
    EXPECT_FALSE(BuildChatText(QString(65536, QChar(u'x'))));
    EXPECT_TRUE(BuildImageData(QByteArray(int(kMaxImageBytes), 'i')));
    EXPECT_FALSE(BuildImageData(QByteArray(int(kMaxImageBytes) + 1, 'i')));
}
