#include "protocol/ServerMessages.h"

#include <gtest/gtest.h>

#include <functional>

using namespace velmora;
using namespace velmora::server;

namespace {

QByteArray Hex(const char *hex) { return QByteArray::fromHex(hex); }

// Takes the one frame out of `bytes` the way a connection's reader would.
Frame OnlyFrame(const QByteArray &bytes)
{
    FrameBuffer fb;
    fb.Append(bytes);
    Frame f;
    EXPECT_EQ(fb.TakeFrame(f), FrameBuffer::Result::Frame);
    EXPECT_EQ(fb.Pending(), 0);
    return f;
}

struct DecoderCase {
    const char *name;
    QByteArray body;
    std::function<bool(const QByteArray &)> decodes;
};

template <typename F>
std::function<bool(const QByteArray &)> Decodes(F decoder)
{
    return [decoder](const QByteArray &body) { return decoder(body).has_value(); };
}

} // namespace

TEST(ServerMessages, ConsoleFramesAreByteExact)
{
    EXPECT_EQ(BuildKeepAlive(), Hex("000000000000"));
    EXPECT_EQ(BuildSupportAwake(), Hex("011100000006000400000001"));
    EXPECT_EQ(BuildSupportIdle(), Hex("011200000006000400000000"));
    EXPECT_EQ(BuildOnlineSupportersRequest(-1), Hex("010B00000006" "0004FFFFFFFF"));
    EXPECT_EQ(*BuildSupportName(QByteArray()), Hex("010A00000002" "0000"));
    EXPECT_EQ(*BuildSupportName(QByteArray("a\0b", 3)), Hex("010A00000005" "0003610062"));
    EXPECT_EQ(*BuildTransferDataSend(7, 9, "xy"),
              Hex("010E00000014" "000400000007" "000400000009" "000400000002" "7879"));
}

// Bodies laid out by hand: unread integers carry junk and odd prefixes, since
// the console locates fields by position and must not depend on them.
TEST(ServerMessages, DecodersReadAtTheirOffsets)
{
    const QByteArray listed = Hex("0004" "0000002A" "0099" "DEADBEEF" "0000" "FFFFFFFF"
                                  "0003" "312E32" "0005" "612E636F6D");
    const auto cl = DecodeClientListed(listed);
    ASSERT_TRUE(cl);
    EXPECT_EQ(cl->sessionCount, 42);
    EXPECT_EQ(cl->ip, "1.2");
    EXPECT_EQ(cl->webSite, "a.com");

    EXPECT_EQ(DecodeRegisterAccepted(Hex("000400000001" "000400000BB8")), 3000);

    const auto notice = DecodeTransferCallNotice(Hex("00040000000B" "000400000016" "000412345678"
                                                     "0001" "49" "0000"));
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->sessionCount, 11);
    EXPECT_EQ(notice->fromPort, 22);
    EXPECT_EQ(notice->ip, "I");
    EXPECT_TRUE(notice->webSite.isEmpty());

    const auto data = DecodeTransferData(Hex("000400000005" "000400000003" "7B5C72" "EEEE"));
    ASSERT_TRUE(data);
    EXPECT_EQ(data->sessionCount, 5);
    EXPECT_EQ(data->conversation, "{\\r"); // trailing bytes past n are not part of it

    EXPECT_EQ(DecodeCallAnswered(Hex("0004FFFFFFFF")), -1);
    EXPECT_EQ(DecodeChatLimit(Hex("000400000003")), 3);
    EXPECT_EQ(DecodeSupportersOnline(Hex("000400000000")), 0);
}

TEST(ServerMessages, TransferDataRejectsBadBlockLengths)
{
    EXPECT_FALSE(DecodeTransferData(Hex("000400000005" "0004FFFFFFFF" "41")));
    EXPECT_FALSE(DecodeTransferData(Hex("000400000005" "000400000004" "414243")));
    EXPECT_FALSE(DecodeTransferData(Hex("000400000005" "00048000000041")));
    const auto empty = DecodeTransferData(Hex("000400000005" "000400000000"));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->conversation.isEmpty());
    EXPECT_FALSE(DecodeTransferDataSend(Hex("000400000005" "000400000001" "0004FFFFFFFE")));
}

TEST(ServerMessages, OnlineSupportersList)
{
    const auto none = DecodeOnlineSupportersList(*BuildOnlineSupportersList({}));
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->entries.isEmpty());
    EXPECT_TRUE(none->complete);

    EXPECT_EQ(*BuildOnlineSupportersList({{"Al", 7}}),
              Hex("010B0000000D" "000101" "0002416C" "000400000007"));

    const QList<SupporterEntry> several{{"Ann", 1}, {QByteArray(), 2}, {"\xE9t\xE9", 3}};
    const auto back = DecodeOnlineSupportersList(OnlyFrame(*BuildOnlineSupportersList(several)).body);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->entries, several);
    EXPECT_EQ(back->entries[2].Name(), QString::fromUtf8("été"));
    EXPECT_TRUE(back->complete);

    // The count is the byte at offset 2, whatever its prefix claims.
    const auto oddPrefix = DecodeOnlineSupportersList(Hex("0004" "01" "0001" "58" "000400000009"));
    ASSERT_TRUE(oddPrefix);
    ASSERT_EQ(oddPrefix->entries.size(), 1);
    EXPECT_EQ(oddPrefix->entries[0].port, 9);

    // Announces 3, holds 1 whole entry and half of the next: the whole one is kept.
    const auto cut = DecodeOnlineSupportersList(Hex("000103" "0001" "41" "000400000001" "0001" "42" "0004"));
    ASSERT_TRUE(cut);
    EXPECT_FALSE(cut->complete);
    ASSERT_EQ(cut->entries.size(), 1);
    EXPECT_EQ(cut->entries[0], (SupporterEntry{"A", 1}));

    EXPECT_FALSE(DecodeOnlineSupportersList(Hex("0001")));
    EXPECT_TRUE(BuildOnlineSupportersList(QList<SupporterEntry>(255, {"x", 1})));
    EXPECT_FALSE(BuildOnlineSupportersList(QList<SupporterEntry>(256, {"x", 1})));
}

// Every decoder, given each of its valid body's proper prefixes, must drop it.
TEST(ServerMessages, TruncatedBodiesAreDropped)
{
    const QList<DecoderCase> cases{
        {"CLIENT_LISTED", OnlyFrame(*BuildClientListed(1, "10.0.0.1", "site")).body, Decodes(DecodeClientListed)},
        {"CALL_ANSWERED", OnlyFrame(BuildCallAnswered(1)).body, Decodes(DecodeCallAnswered)},
        {"REGISTER_ACCEPTED", OnlyFrame(BuildRegisterAccepted(1)).body, Decodes(DecodeRegisterAccepted)},
        {"SUPPORT_CHAT_LISTED", OnlyFrame(BuildSupportChatListed(1)).body, Decodes(DecodeSupportChatListed)},
        {"TRANSFER_CALL notice", OnlyFrame(*BuildTransferCallNotice(1, 2, "ip", "w")).body,
         Decodes(DecodeTransferCallNotice)},
        {"TRANSFER_DATA", OnlyFrame(*BuildTransferData(1, "rtf")).body, Decodes(DecodeTransferData)},
        {"TRANSFER_ANSWERED notice", OnlyFrame(BuildTransferAnsweredNotice(1)).body,
         Decodes(DecodeTransferAnsweredNotice)},
        {"CHAT_LIMIT", OnlyFrame(BuildChatLimit(1)).body, Decodes(DecodeChatLimit)},
        {"SUPPORTERS_ONLINE", OnlyFrame(BuildSupportersOnline(1)).body, Decodes(DecodeSupportersOnline)},
        {"SUPPORT_REGISTER", OnlyFrame(*BuildSupportRegister("c", "a", "t")).body, Decodes(DecodeSupportRegister)},
        {"SUPPORT_NAME", OnlyFrame(*BuildSupportName("n")).body, Decodes(DecodeSupportName)},
        {"ONLINE_SUPPORTERS request", OnlyFrame(BuildOnlineSupportersRequest(1)).body,
         Decodes(DecodeOnlineSupportersRequest)},
        {"TRANSFER_CALL", OnlyFrame(BuildTransferCall(1, 2)).body, Decodes(DecodeTransferCall)},
        {"TRANSFER_ANSWERED", OnlyFrame(BuildTransferAnswered(1, 2)).body, Decodes(DecodeTransferAnswered)},
        {"TRANSFER_DATA_SEND", OnlyFrame(*BuildTransferDataSend(1, 2, "rtf")).body, Decodes(DecodeTransferDataSend)},
        {"SUPPORT_AWAKE", OnlyFrame(BuildSupportAwake()).body, Decodes(DecodeAwakeFlag)},
    };
    for (const DecoderCase &c : cases) {
        EXPECT_TRUE(c.decodes(c.body)) << c.name;
        for (qsizetype n = 0; n < c.body.size(); ++n)
            EXPECT_FALSE(c.decodes(c.body.left(n))) << c.name << " cut to " << n;
    }
}

TEST(ServerMessages, RoundTripsThroughTheFrameReader)
{
    const QString ip = QStringLiteral("192.168.1.\u00FF");
    const Frame listed = OnlyFrame(*BuildClientListed(-5, ip, QByteArray("w\0w", 3)));
    EXPECT_EQ(listed.code, CLIENT_LISTED);
    const auto cl = DecodeClientListed(listed.body);
    ASSERT_TRUE(cl);
    EXPECT_EQ(cl->sessionCount, -5);
    EXPECT_EQ(cl->Ip(), ip);
    EXPECT_EQ(cl->webSite.size(), 3);

    const auto reg = DecodeSupportRegister(OnlyFrame(*BuildSupportRegister("cid", "", "tok")).body);
    ASSERT_TRUE(reg);
    EXPECT_EQ(reg->clientId, "cid");
    EXPECT_TRUE(reg->authValue.isEmpty());
    EXPECT_EQ(reg->instanceToken, "tok");

    const QByteArray rtf(5000, '\0');
    const auto sent = DecodeTransferDataSend(OnlyFrame(*BuildTransferDataSend(3, 4, rtf)).body);
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->sessionCount, 3);
    EXPECT_EQ(sent->toPort, 4);
    EXPECT_EQ(sent->conversation, rtf);

    const auto ans = DecodeTransferAnswered(OnlyFrame(BuildTransferAnswered(8, 9)).body);
    ASSERT_TRUE(ans);
    EXPECT_EQ(ans->sessionCount, 8);
    EXPECT_EQ(ans->port, 9);
    EXPECT_EQ(DecodeTransferAnsweredNotice(OnlyFrame(BuildTransferAnswered(8, 9)).body), 8);
    EXPECT_EQ(DecodeRegisterAccepted(OnlyFrame(BuildRegisterAccepted(30001)).body), 30001);
    EXPECT_EQ(DecodeAwakeFlag(OnlyFrame(BuildSupportIdle()).body), false);
}

TEST(ServerMessages, OversizedFieldsAreRefused)
{
    EXPECT_FALSE(BuildSupportName(QByteArray(65536, 'n')));
    EXPECT_TRUE(BuildSupportName(QByteArray(65535, 'n')));
    EXPECT_FALSE(BuildClientListed(1, "ip", QByteArray(65536, 'w')));

    // The largest conversation whose frame a reader still accepts, and one more.
    const qsizetype maxSend = qsizetype(kMaxBodyLength) - 18;
    const auto fits = BuildTransferDataSend(1, 2, QByteArray(maxSend, 'r'));
    ASSERT_TRUE(fits);
    EXPECT_EQ(OnlyFrame(*fits).body.size(), qsizetype(kMaxBodyLength));
    EXPECT_FALSE(BuildTransferDataSend(1, 2, QByteArray(maxSend + 1, 'r')));
    EXPECT_TRUE(BuildTransferData(1, QByteArray(qsizetype(kMaxBodyLength) - 12, 'r')));
    EXPECT_FALSE(BuildTransferData(1, QByteArray(qsizetype(kMaxBodyLength) - 11, 'r')));
}
