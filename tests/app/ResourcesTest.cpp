// The compiled-in images and sounds: every path the windows ask for must load,
// and the default sounds must be files a sound player accepts.
#include "Resources.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QMovie>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

using namespace velmora;

namespace {

bool HasVisiblePixels(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 128)
                return true;
    return false;
}

struct WaveInfo {
    QString Error;
    quint16 Format = 0, Channels = 0, Bits = 0;
    quint32 Rate = 0;
    qint64 Frames = 0;
    int Peak = 0;
};

// A small RIFF walker: checks the chunk sizes against the file instead of
// trusting them, as a player would.
WaveInfo ReadWave(const QByteArray &bytes)
{
    WaveInfo info;
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE") {
        info.Error = "not a RIFF/WAVE file";
        return info;
    }
    if (qFromLittleEndian<quint32>(bytes.constData() + 4) + 8 != quint32(bytes.size())) {
        info.Error = "RIFF size does not match the file";
        return info;
    }
    bool haveFormat = false;
    qsizetype pos = 12;
    while (pos + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(pos, 4);
        const quint32 size = qFromLittleEndian<quint32>(bytes.constData() + pos + 4);
        const qsizetype body = pos + 8;
        if (size > quint32(bytes.size() - body)) {
            info.Error = "chunk runs past the end of the file: " + QString::fromLatin1(id);
            return info;
        }
        if (id == "fmt " && size >= 16) {
            const char *p = bytes.constData() + body;
            info.Format = qFromLittleEndian<quint16>(p);
            info.Channels = qFromLittleEndian<quint16>(p + 2);
            info.Rate = qFromLittleEndian<quint32>(p + 4);
            info.Bits = qFromLittleEndian<quint16>(p + 14);
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat || info.Channels == 0 || info.Bits != 16) {
                info.Error = "data before a usable format chunk";
                return info;
            }
            info.Frames = size / (2 * info.Channels);
            for (quint32 i = 0; i + 1 < size; i += 2) {
                const int s = qFromLittleEndian<qint16>(bytes.constData() + body + i);
                info.Peak = std::max(info.Peak, std::abs(s));
            }
            return info;
        }
        pos = body + size + (size & 1);
    }
    info.Error = "no data chunk";
    return info;
}

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(Resources, EveryStatusIconLoadsAndTheTrayImagesComeLarge)
{
    for (int i = 0; i < StatusIconCount; ++i) {
        SCOPED_TRACE(i);
        const QImage image(StatusIconPath(i));
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(16, 16));
        EXPECT_TRUE(HasVisiblePixels(image));
        EXPECT_FALSE(StatusIcon(i).isNull());
    }
    for (int tray : {TrayOnlineIcon, TrayOfflineIcon}) {
        const QList<QSize> sizes = StatusIcon(tray).availableSizes();
        EXPECT_TRUE(sizes.contains(QSize(32, 32))) << tray;
        EXPECT_TRUE(sizes.contains(QSize(64, 64))) << tray;
    }
    // Online and offline must look different, or the tray tells the operator nothing.
    EXPECT_NE(QImage(StatusIconPath(TrayOnlineIcon)), QImage(StatusIconPath(TrayOfflineIcon)));

    // Built once: the same icon every time, so repaints add nothing to the
    // pixmap cache.
    EXPECT_EQ(StatusIcon(3).cacheKey(), StatusIcon(3).cacheKey());
    EXPECT_EQ(StatusIcon(TrayOnlineIcon).cacheKey(), StatusIcon(TrayOnlineIcon).cacheKey());
    EXPECT_NE(StatusIcon(3).cacheKey(), StatusIcon(4).cacheKey());
    EXPECT_TRUE(StatusIcon(-1).isNull());
    EXPECT_TRUE(StatusIcon(StatusIconCount).isNull());
    EXPECT_TRUE(StatusIconPath(StatusIconCount).isEmpty());
}

TEST(Resources, EveryButtonGlyphTheWindowsLoadExists)
{
    for (const char *name : {"COMP_L_NOK", "COMP_L_OK", "SPEAK_ON", "SPEAK_OFF", "CALL_SUP",
                             "SOUND_ON", "SOUND_OFF", "ARROW_L", "ARROW_R"}) {
        SCOPED_TRACE(name);
        const QPixmap glyph = Glyph(name);
        ASSERT_FALSE(glyph.isNull());
        EXPECT_GE(glyph.width(), 16);
        EXPECT_LE(glyph.width(), 32);
        EXPECT_TRUE(HasVisiblePixels(glyph.toImage()));
    }
    // The pairs that switch on a click must differ.
    EXPECT_NE(Glyph("COMP_L_OK").toImage(), Glyph("COMP_L_NOK").toImage());
    EXPECT_NE(Glyph("SPEAK_ON").toImage(), Glyph("SPEAK_OFF").toImage());
    EXPECT_NE(Glyph("SOUND_ON").toImage(), Glyph("SOUND_OFF").toImage());
    EXPECT_NE(Glyph("ARROW_L").toImage(), Glyph("ARROW_R").toImage());

    EXPECT_TRUE(Glyph("NO_SUCH_GLYPH").isNull());
    EXPECT_TRUE(Glyph(nullptr).isNull());
    EXPECT_TRUE(Glyph("").isNull());
}

TEST(Resources, BusyAnimationIsALoopingGifOfSeveralFrames)
{
    InitResources();
    QMovie movie(QString::fromLatin1(BusyAnimationPath));
    ASSERT_TRUE(movie.isValid());
    EXPECT_GE(movie.frameCount(), 4);
    EXPECT_EQ(movie.loopCount(), -1); // forever: it runs for as long as a connection takes

    // The GIF reader decodes in order only: walk every frame.
    QImageReader reader(QString::fromLatin1(BusyAnimationPath));
    QList<QImage> frames;
    for (QImage frame; reader.read(&frame);)
        frames.append(frame);
    ASSERT_EQ(frames.size(), movie.frameCount());
    for (const QImage &frame : frames) {
        EXPECT_LE(frame.width(), 46); // fits the 46 x 46 panel
        EXPECT_LE(frame.height(), 46);
        EXPECT_TRUE(HasVisiblePixels(frame));
    }
    EXPECT_NE(frames.first(), frames.at(frames.size() / 2)); // it does move

    EXPECT_FALSE(AppIcon().isNull());
}

TEST(Resources, DefaultSoundsAreShortMono16BitPcm)
{
    InitResources();
    for (const char *path : {DefaultRingSoundPath, DefaultChatSoundPath}) {
        SCOPED_TRACE(path);
        const WaveInfo wave = ReadWave(ReadAll(QString::fromLatin1(path)));
        ASSERT_TRUE(wave.Error.isEmpty()) << wave.Error.toStdString();
        EXPECT_EQ(wave.Format, 1);
        EXPECT_EQ(wave.Channels, 1);
        EXPECT_EQ(wave.Bits, 16);
        EXPECT_EQ(wave.Rate, 22050u);
        const double seconds = double(wave.Frames) / wave.Rate;
        EXPECT_GT(seconds, 0.05);
        EXPECT_LT(seconds, 1.0);
        EXPECT_GT(wave.Peak, 3000);   // audible
        EXPECT_LT(wave.Peak, 32767);  // not clipped
    }
}

TEST(Resources, InstallingDefaultSoundsNeverReplacesTheOperatorsFiles)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString ring = QDir(dir.path()).filePath("ringin.wav");
    const QString chat = QDir(dir.path()).filePath("Plugin.wav");

    {
        QFile own(ring);
        ASSERT_TRUE(own.open(QIODevice::WriteOnly));
        own.write("operator's own ring");
    }
    EXPECT_TRUE(InstallDefaultSounds(dir.path()));
    EXPECT_EQ(ReadAll(ring), QByteArray("operator's own ring"));
    EXPECT_EQ(ReadAll(chat), ReadAll(QString::fromLatin1(DefaultChatSoundPath)));
    EXPECT_TRUE(QFileInfo(chat).isWritable()); // the operator may replace it later
    EXPECT_FALSE(QFileInfo::exists(chat + ".part"));

    // A second run changes nothing.
    EXPECT_TRUE(InstallDefaultSounds(dir.path()));
    EXPECT_EQ(ReadAll(ring), QByteArray("operator's own ring"));

    EXPECT_FALSE(InstallDefaultSounds(QDir(dir.path()).filePath("missing/folder")));
}
