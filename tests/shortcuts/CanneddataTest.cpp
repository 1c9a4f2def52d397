#include "shortcuts/Canneddata.h"

#include "Print.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace velmora;

namespace {

QByteArray Hex(const char *hex) { return QByteArray::fromHex(hex); }

class ShortcutFile : public ::testing::Test {
protected:
    QString Path(const QString &name = QStringLiteral("CannedData.dat")) const { return dir.filePath(name); }
    void Write(const QByteArray &bytes, const QString &name = QStringLiteral("CannedData.dat"))
    {
        QFile f(Path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray Read(const QString &name = QStringLiteral("CannedData.dat")) const
    {
        QFile f(Path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(ShortcutFile, StoredLayoutIsByteExact)
{
    {
        TTitleDataClass list(Path());
        EXPECT_EQ(list.Count(), 0);
        EXPECT_TRUE(list.Save());
        EXPECT_EQ(Read(), Hex("00000000"));
        list.Add(QStringLiteral("Hi"), QString());
        EXPECT_TRUE(list.Save());
    }
    EXPECT_EQ(Read(), Hex("01000000" "02000000" "4869" "00000000"));
}

TEST_F(ShortcutFile, RecordsRoundTripInOrderWithDuplicatesAndEightBitText)
{
    const QString twoLines = QStringLiteral("Hello\r\nHow can I help?");
    const QString eightBit = QString::fromLatin1("caf\xe9 \xff");
    {
        TTitleDataClass list(Path());
        list.Add(QStringLiteral("Greet"), twoLines);
        list.Add(QStringLiteral("Greet"), QStringLiteral("second"));
        list.Add(eightBit, QString());
    }
    EXPECT_TRUE(Read().contains("Hello\r\nHow"));
    EXPECT_TRUE(Read().contains("caf\xe9 \xff"));
    TTitleDataClass again(Path());
    ASSERT_EQ(again.Count(), 3);
    EXPECT_EQ(again.Get(0), (ShortcutRecord{QStringLiteral("Greet"), twoLines}));
    EXPECT_EQ(again.Get(1), (ShortcutRecord{QStringLiteral("Greet"), QStringLiteral("second")}));
    EXPECT_EQ(again.Get(2).Title, eightBit);
}

TEST_F(ShortcutFile, ACannedAnswerWithTheEuroSignSurvivesARestartAsTheWindowsConsolesStoreIt)
{
    const QString answer = QStringLiteral("The upgrade costs 5 \u20AC \u2014 \u201Cpaid once\u201D.");
    {
        TTitleDataClass list(Path());
        list.Add(QStringLiteral("Price"), answer);
        ASSERT_TRUE(list.Save());
    }
    // One byte per character, in the ANSI code page of the group's Windows consoles.
    EXPECT_TRUE(Read().contains("costs 5 \x80 \x97 \x93paid once\x94."));
    TTitleDataClass again(Path());
    ASSERT_EQ(again.Count(), 1);
    EXPECT_EQ(again.Get(0).Text, answer);
}

TEST_F(ShortcutFile, ZeroOrNegativeCountsAndLengthsMeanEmpty)
{
    EXPECT_TRUE(TTitleDataClass::Parse(Hex("00000000")).records.isEmpty());
    const auto negative = TTitleDataClass::Parse(Hex("FFFFFFFF" "01000000"));
    EXPECT_TRUE(negative.records.isEmpty());
    EXPECT_TRUE(negative.complete);
    // A negative length is an empty string followed by no bytes.
    const auto r = TTitleDataClass::Parse(Hex("01000000" "F6FFFFFF" "01000000" "41"));
    ASSERT_EQ(r.records.size(), 1);
    EXPECT_EQ(r.records[0], (ShortcutRecord{QString(), QStringLiteral("A")}));
}

TEST_F(ShortcutFile, DamagedFilesKeepTheCompleteRecordsBeforeTheDamage)
{
    const QByteArray one = Hex("02000000" "4869" "01000000" "78");
    QElapsedTimer timer;
    timer.start();
    const auto hugeCount = TTitleDataClass::Parse(Hex("40420F00") + one); // 1000000
    ASSERT_EQ(hugeCount.records.size(), 1);
    EXPECT_EQ(hugeCount.records[0].Title, QStringLiteral("Hi"));
    EXPECT_FALSE(hugeCount.complete);

    const auto hugeLength = TTitleDataClass::Parse(Hex("02000000") + one + Hex("FFFFFF7F" "4142"));
    EXPECT_EQ(hugeLength.records.size(), 1);
    const auto cutText = TTitleDataClass::Parse(Hex("02000000") + one + Hex("00000000" "05000000" "4142"));
    EXPECT_EQ(cutText.records.size(), 1);
    EXPECT_FALSE(TTitleDataClass::Parse(QByteArray("\x01\x00", 2)).complete);
    EXPECT_LT(timer.elapsed(), 5000); // nothing sized or looped by the counts read

    // Through the file: the damaged original is kept aside at the first save.
    const QByteArray damaged = Hex("40420F00") + one;
    Write(damaged);
    {
        TTitleDataClass list(Path());
        EXPECT_EQ(list.Status(), TTitleDataClass::LoadStatus::Damaged);
        EXPECT_EQ(list.Count(), 1);
        EXPECT_TRUE(list.Save());
    }
    EXPECT_EQ(Read(QStringLiteral("CannedData.dat.bak")), damaged);
    EXPECT_EQ(Read(), Hex("01000000") + one);
}

TEST_F(ShortcutFile, MissingFileLoadsEmptyAndIsCreatedAtDestruction)
{
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    {
        TTitleDataClass list(QStringLiteral("UrlScData.dat"));
        QDir::setCurrent(previous); // bound to the folder current at creation
        EXPECT_EQ(list.Status(), TTitleDataClass::LoadStatus::Missing);
        EXPECT_EQ(list.Count(), 0);
        list.Add(QStringLiteral("Home"), QStringLiteral("https://example.org"));
    }
    TTitleDataClass again(Path(QStringLiteral("UrlScData.dat")));
    EXPECT_EQ(again.Get(0).Text, QStringLiteral("https://example.org"));
}

TEST_F(ShortcutFile, FailedSaveLeavesThePreviousFileIntact)
{
    // Too long a name for the temporary file beside it: the write fails even as root.
    const QString name = QString(250, QLatin1Char('c'));
    const QByteArray before = Hex("01000000" "01000000" "41" "00000000");
    Write(before, name);
    TTitleDataClass list(Path(name));
    ASSERT_EQ(list.Count(), 1);
    list.Clear();
    EXPECT_FALSE(list.Save());
    EXPECT_EQ(Read(name), before);
}

TEST_F(ShortcutFile, UnreadableFileIsNotOverwrittenUnlessChanged)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("CannedData.dat"))); // exists, cannot be read
    TTitleDataClass list(Path());
    EXPECT_EQ(list.Status(), TTitleDataClass::LoadStatus::Unreadable);
    EXPECT_FALSE(list.Save());
    EXPECT_TRUE(QFileInfo(Path()).isDir());
}
