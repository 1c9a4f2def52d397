#include "protocol/Codec.h"
#include "protocol/MessageCodes.h"

#include <gtest/gtest.h>

using namespace velmora;

namespace {
QByteArray Hex(const char *hex) { return QByteArray::fromHex(hex); }
} // namespace

TEST(Codec, FieldEncodingsAreByteExact)
{
    EXPECT_EQ(*MessageBuilder(server::KEEP_ALIVE).Finish(), Hex("000000000000"));
    EXPECT_EQ(*MessageBuilder(server::SUPPORT_AWAKE).Flag(true).Finish(), Hex("011100000006000400000001"));
    EXPECT_EQ(*MessageBuilder(5).Int(-1).Finish(), Hex("000500000006" "0004FFFFFFFF"));
    EXPECT_EQ(*MessageBuilder(5).Text(QByteArray()).Finish(), Hex("000500000002" "0000"));
    const QByteArray withZero("a\0b", 3);
    EXPECT_EQ(*MessageBuilder(5).Text(withZero).Finish(), Hex("000500000005" "0003610062"));
    EXPECT_EQ(*MessageBuilder(0x10E).Int(7).Raw("xyz").Finish(), Hex("010E0000000F" "000400000007" "000400000003" "78797A"));
}

TEST(Codec, TextLongerThanItsPrefixIsRefused)
{
    EXPECT_FALSE(MessageBuilder(5).Text(QByteArray(65536, 'x')).Finish().has_value());
    EXPECT_TRUE(MessageBuilder(5).Text(QByteArray(65535, 'x')).Finish().has_value());
}

TEST(Codec, GettersNeverReadPastTheBody)
{
    const QByteArray body = Hex("0003610062" "00040000002A" "0005AB");
    qsizetype pos = 0;
    EXPECT_EQ(*GetTextField(body, pos), QByteArray("a\0b", 3));
    EXPECT_EQ(*GetIntField(body, pos), 42);
    const qsizetype before = pos;
    EXPECT_FALSE(GetTextField(body, pos).has_value()); // announces 5, holds 1
    EXPECT_EQ(pos, before);
    EXPECT_FALSE(GetIntField(body, pos).has_value());

    FieldReader r(Hex("000400000001" "0004"));
    EXPECT_EQ(r.Int(), 1);
    EXPECT_EQ(r.Int(), 0);
    EXPECT_FALSE(r.Ok());
    EXPECT_TRUE(r.Text().isEmpty());

    // A reader does not depend on the array it was made from staying as it was.
    QByteArray source = Hex("000400000007");
    FieldReader kept(source);
    source.clear();
    EXPECT_EQ(kept.Int(), 7);
    EXPECT_TRUE(kept.Ok());
}

TEST(FrameBuffer, SplitHeadersJoinedFramesAndEmptyBodies)
{
    FrameBuffer fb;
    Frame f;
    fb.Append(Hex("000500"));
    EXPECT_EQ(fb.TakeFrame(f), FrameBuffer::Result::NeedMore);
    fb.Append(Hex("000000"));
    ASSERT_EQ(fb.TakeFrame(f), FrameBuffer::Result::Frame);
    EXPECT_EQ(f.code, 5);
    EXPECT_TRUE(f.body.isEmpty());

    fb.Append(Hex("000200000006000400000009" "000300000002" "0000"));
    ASSERT_EQ(fb.TakeFrame(f), FrameBuffer::Result::Frame);
    EXPECT_EQ(f.code, 2);
    EXPECT_EQ(f.body, Hex("000400000009"));
    ASSERT_EQ(fb.TakeFrame(f), FrameBuffer::Result::Frame);
    EXPECT_EQ(f.code, 3);
    EXPECT_EQ(fb.TakeFrame(f), FrameBuffer::Result::NeedMore);
    EXPECT_EQ(fb.Pending(), 0);
}

TEST(FrameBuffer, OversizedAnnouncementIsRejectedWithoutWaitingForIt)
{
    FrameBuffer fb;
    Frame f;
    fb.Append(Hex("000C00100001"));
    EXPECT_EQ(fb.TakeFrame(f), FrameBuffer::Result::TooLarge);
    FrameBuffer ok;
    QByteArray big = Hex("000C00100000");
    big.append(QByteArray(1024 * 1024, 'x'));
    ok.Append(big);
    EXPECT_EQ(ok.TakeFrame(f), FrameBuffer::Result::Frame);
    EXPECT_EQ(f.body.size(), 1024 * 1024);
}
