// Sound files are read from wherever the settings point: a damaged or
// foreign file is refused, never read past its end.
#include "chat/WavSound.h"

#include <QtEndian>
#include <gtest/gtest.h>

namespace velmora::test {
namespace {

QByteArray Chunk(const char *id, const QByteArray &body, quint32 declared = 0xFFFFFFFF)
{
    QByteArray out(id, 4);
    out.resize(8);
    qToLittleEndian<quint32>(declared == 0xFFFFFFFF ? quint32(body.size()) : declared, out.data() + 4);
    return out + body + (body.size() % 2 ? QByteArray(1, '\0') : QByteArray());
}

QByteArray Format(quint16 format, quint16 channels, quint32 rate, quint16 bits)
{
    QByteArray f(16, '\0');
    qToLittleEndian<quint16>(format, f.data());
    qToLittleEndian<quint16>(channels, f.data() + 2);
    qToLittleEndian<quint32>(rate, f.data() + 4);
    qToLittleEndian<quint16>(bits, f.data() + 14);
    return f;
}

QByteArray Riff(const QByteArray &chunks)
{
    return QByteArray("RIFF\0\0\0\0WAVE", 12) + chunks;
}

TEST(WavSound, ReadsPcmAndRefusesWhatItCannotPlay)
{
    const QByteArray samples("abcdefghij", 10);
    const auto mono = ParseWav(Riff(Chunk("fmt ", Format(1, 1, 22050, 16)) + Chunk("data", samples)));
    ASSERT_TRUE(mono);
    EXPECT_EQ(mono->rate, 22050u);
    EXPECT_EQ(mono->channels, 1);
    EXPECT_EQ(mono->bits, 16);
    EXPECT_EQ(mono->samples, samples);

    // An odd-sized chunk before the format is skipped with its pad byte; a
    // data chunk cut short keeps its whole frames.
    const auto cut = ParseWav(Riff(Chunk("LIST", "odd") + Chunk("fmt ", Format(1, 2, 8000, 16))
                                   + Chunk("data", samples, 4000)));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->samples, QByteArray("abcdefgh"));

    EXPECT_FALSE(ParseWav(QByteArray()));
    EXPECT_FALSE(ParseWav(Riff(Chunk("data", samples))));                                            // no format
    EXPECT_FALSE(ParseWav(Riff(Chunk("fmt ", Format(2, 1, 8000, 4)) + Chunk("data", samples))));     // ADPCM
    EXPECT_FALSE(ParseWav(Riff(Chunk("fmt ", Format(1, 0, 8000, 16)) + Chunk("data", samples))));    // no channel
    EXPECT_FALSE(ParseWav(Riff(Chunk("fmt ", Format(1, 1, 8000, 16).left(10)))));                  // short format
    EXPECT_FALSE(ParseWav(Riff(Chunk("fmt ", Format(1, 1, 8000, 16)) + Chunk("junk", {}, 0x7FFFFFF0)))); // runs off
}

} // namespace
} // namespace velmora::test
