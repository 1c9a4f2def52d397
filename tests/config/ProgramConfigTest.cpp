#include "config/ProgramConfig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

using namespace velmora;

namespace {

TProgramConfig FromText(const QByteArray &text)
{
    TProgramConfig c;
    c.LoadFromData(text);
    return c;
}

QList<QByteArray> L(std::initializer_list<const char *> lines)
{
    QList<QByteArray> out;
    for (const char *l : lines)
        out << QByteArray(l);
    return out;
}

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool WriteAll(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

} // namespace

TEST(ProgramConfig, FindValueTellsMissingSectionFromMissingKey)
{
    const TProgramConfig c = FromText("[a]\r\nk=v\r\n[B]\r\nx=1\r\n");
    EXPECT_EQ(c.FindValue("[zz]", "k").result, TProgramConfig::Lookup::SectionMissing);
    EXPECT_EQ(c.FindValue("[a]", "x").result, TProgramConfig::Lookup::KeyMissing); // x lies in [B]
    const auto r = c.FindValue("[A]", "k");                                         // section case-blind
    EXPECT_EQ(r.result, TProgramConfig::Lookup::Found);
    EXPECT_EQ(r.value, "v");
    EXPECT_EQ(c.FindValue("[b]", "X").result, TProgramConfig::Lookup::KeyMissing); // key case-exact
}

TEST(ProgramConfig, EntryParsingEdges)
{
    const TProgramConfig c = FromText("[s]\n"
                                      "url=http://h/?a=1&b=2\n"
                                      "spaced =x\n"
                                      "; comment=yes\n"
                                      "empty=\n"
                                      "  [other]\n"
                                      "after=1\n");
    EXPECT_EQ(c.ReadString("[s]", "url", "d"), "http://h/?a=1&b=2");
    EXPECT_EQ(c.ReadString("[s]", "spaced", "d"), "d");
    EXPECT_EQ(c.ReadString("[s]", "; comment", "d"), "yes"); // no comment syntax
    EXPECT_EQ(c.ReadString("[s]", "empty", "d"), "");
    // An indented "[" ends the section even though it is not a section line.
    EXPECT_EQ(c.ReadString("[s]", "after", "d"), "d");
    EXPECT_EQ(c.FindValue("[other]", "after").result, TProgramConfig::Lookup::SectionMissing);
}

TEST(ProgramConfig, OnlyTheFirstOfTwinSectionsIsReadAndWritten)
{
    TProgramConfig c = FromText("[s]\nk=1\n[s]\nk=2\nj=3\n");
    EXPECT_EQ(c.ReadInteger("[s]", "k", -1), 1);
    EXPECT_EQ(c.ReadInteger("[s]", "j", -1), -1);
    c.WriteString("[s]", "j", "4");
    EXPECT_EQ(c.Lines(), L({"[s]", "j=4", "k=1", "[s]", "k=2", "j=3"}));
}

TEST(ProgramConfig, WriteRules)
{
    TProgramConfig c;
    c.WriteString("[s]", "k", "v");
    EXPECT_EQ(c.Lines(), L({"[s]", "k=v", ""}));

    // New keys go directly under the section line, new sections on top.
    c.WriteString("[s]", "j", "w");
    c.WriteString("[t]", "x", "1");
    EXPECT_EQ(c.Lines(), L({"[t]", "x=1", "", "[s]", "j=w", "k=v", ""}));

    // Replacing keeps the place.
    c.WriteString("[S]", "k", "new");
    EXPECT_EQ(c.Lines(), L({"[t]", "x=1", "", "[s]", "j=w", "k=new", ""}));

    c.WriteBool("[t]", "x", true);
    c.WriteInteger("[t]", "n", -5);
    c.WriteUnsigned("[t]", "u", 0xFFFFFFFFu);
    EXPECT_EQ(c.Lines().mid(0, 4), L({"[t]", "u=4294967295", "n=-5", "x=true"}));
    EXPECT_EQ(c.ReadInteger("[t]", "u", 0), -1);
    EXPECT_EQ(quint32(c.ReadInteger("[t]", "u", 0)), 0xFFFFFFFFu);
}

TEST(ProgramConfig, NearMissesAreNotReusedOnWrite)
{
    TProgramConfig c = FromText("[s] \nk=1\n[t]\nk =2\n");
    c.WriteString("[s]", "k", "9"); // trailing blank: not the same section
    c.WriteString("[t]", "k", "8"); // blank before "=": not the same key
    EXPECT_EQ(c.Lines(), L({"[s]", "k=9", "", "[s] ", "k=1", "[t]", "k=8", "k =2"}));
}

TEST(ProgramConfig, LineBreaksInWrittenTextCannotForgeLines)
{
    TProgramConfig c;
    c.WriteString("[s]", "k", "a\r\n[ProgramMailSettings]\nb");
    const TProgramConfig again = FromText(c.SaveToData());
    EXPECT_EQ(again.Lines().size(), 3);
    EXPECT_EQ(again.ReadString("[s]", "k", ""), "a  [ProgramMailSettings] b");
}

TEST(ProgramConfig, ReadBoolIsLowerCaseTrueOnly)
{
    const TProgramConfig c = FromText("[s]\na=true\nb=TRUE\nc=\nd=1\ne=true \n");
    EXPECT_TRUE(c.ReadBool("[s]", "a", false));
    for (const char *k : {"b", "c", "d", "e"})
        EXPECT_FALSE(c.ReadBool("[s]", k, true)) << k;
    EXPECT_TRUE(c.ReadBool("[s]", "missing", true));
    EXPECT_TRUE(c.ReadBool("[nosection]", "a", true));
}

TEST(ProgramConfig, IntegerParsing)
{
    const struct {
        const char *text;
        qint32 value;
    } cases[] = {
        {"0x1e", 30},   {"0X1E", 30},        {" 45", 45},          {"\t+7", 7},
        {"12abc", 12},  {"", 0},             {"abc", 0},           {"0x", 0},
        {"0xZ", 0},     {"-12", -12},        {"- 3", 0},           {" 0x10", 0},
        {"0xffffffff", -1}, {"4294967295", -1}, {"4294967296", 0}, {"2147483648", INT32_MIN},
        {"-2147483648", INT32_MIN}, {"0x123456789", 0x23456789},
    };
    for (const auto &tc : cases)
        EXPECT_EQ(TProgramConfig::ParseInteger(tc.text), tc.value) << '"' << tc.text << '"';
    EXPECT_EQ(FromText("[g]\nn=\n").ReadInteger("[g]", "n", 99), 0);
    EXPECT_EQ(FromText("[g]\n").ReadInteger("[g]", "n", 99), 99);
}

TEST(ProgramConfig, LineEndsOnLoad)
{
    const TProgramConfig c = FromText("a\r\nb\rc\nd\n\re\r\n\r\nf");
    EXPECT_EQ(c.Lines(), L({"a", "b", "c", "d", "", "e", "", "f"}));
    EXPECT_TRUE(FromText("").Lines().isEmpty());
    EXPECT_EQ(FromText("\r\n").Lines(), L({""}));
    const QByteArray withNul("k=\0x", 4);
    EXPECT_EQ(FromText(withNul).Lines().value(0), withNul); // 8-bit clean
}

TEST(ProgramConfig, FilesRoundTripWithCrLf)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("Velmora.ini");
    ASSERT_TRUE(WriteAll(path, "[s]\nk=\xE9t\xE9\rj=1"));

    TProgramConfig c;
    ASSERT_TRUE(c.LoadFromFile(path));
    EXPECT_EQ(c.ReadString("[s]", "k", ""), QString::fromLatin1("\xE9t\xE9"));
    c.WriteString("[s]", "k", QString::fromLatin1("\xFC"));
    ASSERT_TRUE(c.SaveToFile(path));
    EXPECT_EQ(ReadAll(path), "[s]\r\nk=\xFC\r\nj=1\r\n");
}

TEST(ProgramConfig, UnreadableFilesLeaveTheStoreAlone)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TProgramConfig c = FromText("[s]\nk=1\n");

    EXPECT_FALSE(c.LoadFromFile(dir.filePath("absent.ini")));
    EXPECT_FALSE(c.LoadFromFile(dir.path())); // a folder
    const QString big = dir.filePath("big.ini");
    ASSERT_TRUE(WriteAll(big, QByteArray(kMaxConfigFileSize + 1, '\n')));
    EXPECT_FALSE(c.LoadFromFile(big));
    EXPECT_EQ(c.Lines(), L({"[s]", "k=1"}));

    ASSERT_TRUE(WriteAll(big, QByteArray(kMaxConfigFileSize, 'x')));
    EXPECT_TRUE(c.LoadFromFile(big));
    EXPECT_EQ(c.Lines().size(), 1);
}

TEST(ProgramConfig, FailedSaveKeepsThePreviousFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("Velmora.ini");
    const QByteArray old = "[s]\r\nk=old\r\n";
    ASSERT_TRUE(WriteAll(path, old));
    TProgramConfig c;
    c.WriteString("[s]", "k", QString(64 * 1024, QLatin1Char('x')));

    // A file size limit makes the write fail half-way, as a full disk would.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool cutShort = c.SaveToFile(path);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(cutShort);

    // A folder we may not write to (permissions do not bind root).
    bool readOnly = false;
    if (geteuid() != 0) {
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        readOnly = c.SaveToFile(path);
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    EXPECT_FALSE(readOnly);

    EXPECT_EQ(ReadAll(path), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"Velmora.ini"}); // no leftovers
}
