// The recent settings files and their history file, on real files.
#include "config/FileHistory.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace velmora;

namespace {

class RecordingMenu final : public IHistoryMenu {
public:
    void ShowHistoryEntries(const QStringList &paths) override
    {
        shown = paths;
        ++rebuilds;
    }
    QStringList shown;
    int rebuilds = 0;
};

class FileHistoryTest : public ::testing::Test {
protected:
    QString HistoryFile() const { return dir.filePath(QStringLiteral("history.lst")); }
    QByteArray ReadHistory() const
    {
        QFile f(HistoryFile());
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }
    void WriteHistory(const QByteArray &data)
    {
        QFile f(HistoryFile());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    QString Ini(int n) const { return dir.filePath(QStringLiteral("conf%1.ini").arg(n)); }

    QTemporaryDir dir;
    RecordingMenu menu;
    TFileHistory history{HistoryFile(), &menu};
};

} // namespace

TEST_F(FileHistoryTest, AddingMovesThePathToTheFrontSpelledAsLastUsed)
{
    history.Add(QStringLiteral("/srv/a/Shop.ini"));
    history.Add(QStringLiteral("/srv/b.ini"));
    history.Add(QStringLiteral("/SRV/A/shop.INI"));
    EXPECT_EQ(history.Paths(), (QStringList{"/SRV/A/shop.INI", "/srv/b.ini"}));
    EXPECT_EQ(menu.shown, history.Paths());

    // An empty path changes nothing but the menu is shown again.
    const int before = menu.rebuilds;
    history.Add(QString());
    EXPECT_EQ(history.Paths().size(), 2);
    EXPECT_EQ(menu.rebuilds, before + 1);
    // A name with a line break could not be written back as one line.
    history.Add(QStringLiteral("/tmp/two\nlines.ini"));
    EXPECT_EQ(history.Paths().size(), 2);
}

TEST_F(FileHistoryTest, ANinthFileDropsTheOldestAndCaptionsCarryAccessKeys)
{
    for (int i = 1; i <= 9; ++i)
        history.Add(Ini(i));
    ASSERT_EQ(history.Paths().size(), 8);
    EXPECT_EQ(history.Paths().first(), Ini(9));
    EXPECT_EQ(history.Paths().last(), Ini(2));
    EXPECT_EQ(TFileHistory::EntryCaption(0, Ini(9)), QStringLiteral("&1  ") + Ini(9));
    EXPECT_EQ(TFileHistory::EntryCaption(7, QStringLiteral("/x.ini")), QStringLiteral("&8  /x.ini"));
}

TEST_F(FileHistoryTest, AHandEditedFileOfTwelveLinesShowsEightAndSavesEight)
{
    QByteArray data;
    for (int i = 1; i <= 12; ++i)
        data += Ini(i).toUtf8() + (i % 3 == 0 ? "\n" : "\r\n"); // some lone LFs
    data += "\r\n\r\n"; // blank lines are not entries
    WriteHistory(data);
    history.Load();
    ASSERT_EQ(history.Paths().size(), 8);
    EXPECT_EQ(history.Paths().first(), Ini(1));
    EXPECT_EQ(history.Paths().last(), Ini(8));
    EXPECT_EQ(menu.shown.size(), 8);

    ASSERT_TRUE(history.Save());
    QByteArray expected;
    for (int i = 1; i <= 8; ++i)
        expected += Ini(i).toUtf8() + "\r\n";
    EXPECT_EQ(ReadHistory(), expected);
}

TEST_F(FileHistoryTest, PathsOutsideLatin1SurviveSaveAndLoad)
{
    const QString path = dir.filePath(QStringLiteral("Ωμέγα €.ini"));
    history.Add(path);
    ASSERT_TRUE(history.Save());
    TFileHistory again(HistoryFile(), nullptr);
    again.Load();
    EXPECT_EQ(again.Paths(), QStringList{path});
}

TEST_F(FileHistoryTest, MissingOrOversizedFilesGiveAnEmptyHistory)
{
    history.Load();
    EXPECT_TRUE(history.Paths().isEmpty());
    EXPECT_TRUE(menu.shown.isEmpty());

    WriteHistory(QByteArray(TFileHistory::kMaxFileSize + 1, 'x'));
    history.Load();
    EXPECT_TRUE(history.Paths().isEmpty());
}

TEST_F(FileHistoryTest, ClearingRemovesFileAndEntriesAndTheNextSaveWritesAnEmptyFile)
{
    history.Add(Ini(1));
    history.Add(Ini(2));
    ASSERT_TRUE(history.Save());
    ASSERT_EQ(history.Clear(), TFileHistory::ClearResult::Cleared);
    EXPECT_FALSE(QFile::exists(HistoryFile()));
    EXPECT_TRUE(history.Paths().isEmpty());
    EXPECT_TRUE(menu.shown.isEmpty());
    ASSERT_TRUE(history.Save());
    EXPECT_TRUE(QFile::exists(HistoryFile()));
    EXPECT_EQ(ReadHistory(), QByteArray());
}

TEST_F(FileHistoryTest, ClearingBeforeAnyHistoryFileExistsStillClearsTheEntries)
{
    history.Add(Ini(1));
    ASSERT_FALSE(QFile::exists(HistoryFile()));
    EXPECT_EQ(history.Clear(), TFileHistory::ClearResult::Cleared);
    EXPECT_TRUE(history.Paths().isEmpty());
}

TEST_F(FileHistoryTest, AFileThatCannotBeRemovedOrWrittenKeepsTheListAndTheOldFile)
{
    // A folder in place of the file: it can be neither removed as a file nor
    // replaced by one.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("history.lst")));
    QFile keep(HistoryFile() + QStringLiteral("/keep"));
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
    keep.close();
    history.Add(Ini(1));
    EXPECT_EQ(history.Clear(), TFileHistory::ClearResult::RemoveFailed);
    EXPECT_EQ(history.Paths(), QStringList{Ini(1)});
    EXPECT_FALSE(history.Save());
    EXPECT_TRUE(QFile::exists(HistoryFile() + QStringLiteral("/keep")));
}
