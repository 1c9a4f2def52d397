#include "protocol/Codec.h"
#include "protocol/ImageFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace velmora;

namespace {

QString WriteFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return path;
}

} // namespace

TEST(ImageFile, SizesAroundTheLimit)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());

    const auto empty = LoadImageFile(WriteFile(dir, "empty.gif", {}));
    EXPECT_EQ(empty.status, ImageFileStatus::Ok);
    EXPECT_TRUE(empty.bytes.isEmpty());

    QByteArray atLimit(int(kMaxImageBytes), '\0');
    atLimit[0] = 'G';
    atLimit[atLimit.size() - 1] = 'Z';
    const auto ok = LoadImageFile(WriteFile(dir, "max.gif", atLimit));
    EXPECT_EQ(ok.status, ImageFileStatus::Ok);
    EXPECT_EQ(ok.bytes, atLimit);

    const auto tooLarge = LoadImageFile(WriteFile(dir, "big.gif", QByteArray(int(kMaxImageBytes) + 1, 'x')));
    EXPECT_EQ(tooLarge.status, ImageFileStatus::TooLarge);
    EXPECT_TRUE(tooLarge.bytes.isEmpty());
}

TEST(ImageFile, MissingNamesAndFilesThatAreNotFiles)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_EQ(LoadImageFile(QString()).status, ImageFileStatus::NoFileName);
    EXPECT_EQ(LoadImageFile(dir.filePath("none.gif")).status, ImageFileStatus::CannotOpen);
    EXPECT_EQ(LoadImageFile(dir.path()).status, ImageFileStatus::CannotOpen);
    // Opening a FIFO for reading would wait for a writer forever.
    const QString fifo = dir.filePath("pipe.gif");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(LoadImageFile(fifo).status, ImageFileStatus::CannotOpen);
    // A device that never ends must not be read whole.
    if (QFile::exists("/dev/zero")) {
        EXPECT_EQ(LoadImageFile("/dev/zero").status, ImageFileStatus::CannotOpen);
    }
}

TEST(ImageFile, RefusalTexts)
{
    EXPECT_EQ(ImageRefusalText(ImageFileStatus::CannotOpen, "C:/img/w.gif"),
              "Could not open file = C:/img/w.gif, image not sent !.");
    EXPECT_EQ(ImageRefusalText(ImageFileStatus::TooLarge, "w.gif"),
              "image file to large, maximum permited size is = 32748, image not sent !.");
    EXPECT_TRUE(ImageRefusalText(ImageFileStatus::Ok, "w.gif").isEmpty());
    EXPECT_TRUE(ImageRefusalText(ImageFileStatus::NoFileName, "").isEmpty());
}
