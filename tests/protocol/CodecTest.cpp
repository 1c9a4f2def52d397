#include "protocol/Codec.h"
#include "protocol/MessageCodes.h"

#include <QtEndian>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

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

TEST(FrameBuffer, LargeAndSmallBodiesSurviveEverySplitOfTheStream)
{
    // Bodies from 16 KiB on arrive in arrays of their own; the rest are cut
    // out of the receive area. Neither may lose, reorder or mix a byte.
    std::vector<Frame> sent;
    QByteArray stream;
    for (const qsizetype size : {5, 20000, 0, 40000, 16384, 3, 70000}) {
        QByteArray body(size, '\0');
        for (qsizetype i = 0; i < size; ++i)
            body[i] = char((i * 13 + size) & 0xFF);
        const quint16 code = quint16(sent.size() + 1);
        QByteArray header(kHeaderSize, '\0');
        qToBigEndian<quint16>(code, header.data());
        qToBigEndian<quint32>(quint32(size), header.data() + 2);
        stream += header + body;
        sent.push_back(Frame{code, body});
    }
    for (const qsizetype step : {1, 7, 6000, 20006, 65536, 1 << 20}) {
        FrameBuffer fb;
        std::vector<Frame> got;
        qsizetype handedOut = 0;
        for (qsizetype at = 0; at < stream.size();) {
            // Written the way a receive does: into the regions, in order.
            const FrameBuffer::Room room = fb.Space();
            qsizetype n = 0;
            for (int i = 0; i < 2; ++i) {
                const qsizetype take = std::min({room.size[i], step - n, stream.size() - at - n});
                if (take > 0)
                    std::memcpy(room.data[i], stream.constData() + at + n, size_t(take));
                n += std::max<qsizetype>(take, 0);
            }
            ASSERT_GT(n, 0);
            fb.Commit(n);
            at += n;
            EXPECT_EQ(fb.Pending(), at - handedOut);
            for (Frame f; fb.TakeFrame(f) == FrameBuffer::Result::Frame;) {
                handedOut += kHeaderSize + f.body.size();
                got.push_back(f);
            }
        }
        ASSERT_EQ(got.size(), sent.size()) << "step " << step;
        for (std::size_t i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(got[i].code, sent[i].code);
            EXPECT_EQ(got[i].body, sent[i].body) << "frame " << i << " step " << step;
        }
        EXPECT_EQ(fb.Pending(), 0);
    }
}

TEST(FrameBuffer, OversizedAnnouncementIsRejectedWithoutWaitingForIt)
{
    FrameBuffer fb;
    Frame f;
    // What came before it is still handed out; then nothing more is read.
    fb.Append(Hex("000500000001" "41" "000C00100001"));
    ASSERT_EQ(fb.TakeFrame(f), FrameBuffer::Result::Frame);
    EXPECT_EQ(f.body, QByteArray("A"));
    EXPECT_EQ(fb.TakeFrame(f), FrameBuffer::Result::TooLarge);
    EXPECT_EQ(fb.Space().size[0], 0);
    FrameBuffer ok;
    QByteArray big = Hex("000C00100000");
    big.append(QByteArray(1024 * 1024, 'x'));
    ok.Append(big);
    EXPECT_EQ(ok.TakeFrame(f), FrameBuffer::Result::Frame);
    EXPECT_EQ(f.body.size(), 1024 * 1024);
}
