#include "config/Genfunc.h"
#include "config/ProgramConfig.h"
#include "config/Scrambler.h"
#include "config/Settings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace velmora;

TEST(HexCodec, EncodeAndDecode)
{
    EXPECT_EQ(HexEncode(QByteArray("\x00\xAB", 2)), "00AB");
    EXPECT_EQ(HexEncode(QByteArray()), "");
    EXPECT_EQ(HexDecode("00ab1"), QByteArray("\x00\xAB", 2));
    EXPECT_EQ(HexDecode("F"), QByteArray());
    EXPECT_EQ(HexDecode("zz7g").size(), 2); // never fails on garbage
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    EXPECT_EQ(HexDecode(HexEncode(all)), all);
}

TEST(Scrambler, KnownAnswers)
{
    const auto stored = [](const QByteArray &pw) {
        return HexEncode(ScramblePassword(pw, ScrambleDirection::Scramble));
    };
    EXPECT_EQ(stored("password"), "458AC0193B70A6EE");
    EXPECT_EQ(stored("S3cr3t!"), "94F0CBCFFD76E6");
    EXPECT_EQ(stored(""), "");
    // The ninth byte is keyed by the first output block, not by the IV.
    const QString nine = stored("password9");
    EXPECT_EQ(nine.size(), 18);
    EXPECT_TRUE(nine.startsWith("458AC0193B70A6EE"));
    EXPECT_NE(nine.mid(16), stored("9"));
}

TEST(Scrambler, EveryLengthRoundTripsThroughHex)
{
    QByteArray pw;
    for (int n = 1; n <= 145; ++n) {
        pw.append(char((n * 37 + 11) & 0xFF)); // includes 0x00 and high bytes
        const QString text = HexEncode(ScramblePassword(pw, ScrambleDirection::Scramble));
        ASSERT_EQ(text.size(), 2 * n);
        ASSERT_EQ(ScramblePassword(HexDecode(text), ScrambleDirection::Unscramble), pw) << n;
    }
}

TEST(Settings, AbsentOrEmptyFileGivesDefaults)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("Velmora.ini");
    TProgramConfig store;
    EXPECT_FALSE(store.LoadFromFile(path));
    TSettings s;
    s.SupportName = "stale"; // nothing survives from an earlier load
    ReadSettings(store, s);
    EXPECT_TRUE(s == TSettings());

    QFile(path).open(QIODevice::WriteOnly);
    ASSERT_TRUE(store.LoadFromFile(path));
    ReadSettings(store, s);
    EXPECT_TRUE(s == TSettings());

    // Spot checks of the defaults themselves.
    EXPECT_EQ(s.SupportNameColor, 255u);
    EXPECT_EQ(s.UserNameColor, 0xFF0000u);
    EXPECT_EQ(s.WebListenPort, "30000");
    EXPECT_TRUE(s.ReConnectAfterNetError);
    EXPECT_EQ(s.CallDispPosValue, 2);
    EXPECT_EQ(s.MainSundFile, "ringin.wav");
}

TEST(Settings, StoredValuesWinOverDefaults)
{
    TProgramConfig store;
    store.LoadFromData("[GeneralProgramSetting]\n"
                       "NotAvailTimeOut=0x1e\nReminderCount= 45\nRingRemindTimer=12abc\nOfflineTimeOut=\n"
                       "ArchiveDays=-5\n"
                       "[ReConnectProgramSetting]\nReConnectAfterNetError=TRUE\n"
                       "[ProgramOptions]\nSupportNameColor=4294967295\n"
                       "[ProgramMailSettings]\nEncPassword=458ac0193b70a6ee\n");
    TSettings s;
    ReadSettings(store, s);
    EXPECT_EQ(s.NotAvailTimeOut, 30);
    EXPECT_EQ(s.ReminderCount, 45);
    EXPECT_EQ(s.RingRemindTimer, 12);
    EXPECT_EQ(s.OfflineTimeOut, 0);
    EXPECT_EQ(s.ArchiveDays, 0); // a negative count of days keeps nothing rather than everything
    EXPECT_FALSE(s.ReConnectAfterNetError);
    EXPECT_EQ(s.SupportNameColor, 0xFFFFFFFFu);
    EXPECT_EQ(s.MailPassword, "password");
}

TEST(Settings, WriteThenReadGivesTheSameRecordThroughAFile)
{
    TSettings s;
    s.SupportName = QString::fromLatin1("Ren\xE9");
    s.SupportNotAvailMsg = QStringLiteral("Back soon \u2014 the \u20AC5 offer still holds \u2026");
    s.MailPassword = QString::fromLatin1("p\xE4ss\x01word with spaces");
    s.UserTextColor = 0xFFFFFFFFu;
    s.AuthType = 3;
    s.ReConnectAfterNetError = false;
    s.OfflineTimeOut = -7;
    s.ChatSoundFile = "chat=sound.wav";
    s.TeamArchive = QStringLiteral("host=db.example sslmode=verify-full dbname='help desk'");
    s.TeamArchiveSchema = QStringLiteral("desk");
    s.NotifyLineText = false;
    s.ArchiveDays = 30;
    s.ChatsInOneWindow = true;
    s.SpellLanguage = QStringLiteral("de_DE");
    s.LineTimes = true;

    TProgramConfig store;
    WriteSettings(store, s);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(store.SaveToFile(dir.filePath("x.ini")));
    TProgramConfig loaded;
    ASSERT_TRUE(loaded.LoadFromFile(dir.filePath("x.ini")));
    TSettings r;
    ReadSettings(loaded, r);
    EXPECT_TRUE(r == s);
    EXPECT_EQ(loaded.ReadString("[ProgramMailSettings]", "EncPassword", "").size(), 2 * s.MailPassword.size());
    // On disk as the Windows consoles write their INI files.
    QFile file(dir.filePath("x.ini"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(bytes.contains("SupportNotAvailMsg=Back soon \x97 the \x80" "5 offer still holds \x85\r\n"));
    EXPECT_TRUE(bytes.contains("SupportName=Ren\xE9\r\n"));
}

TEST(Settings, SupportPageKeysStackAboveEachOther)
{
    TProgramConfig store;
    WriteSettingsPage(store, TSettings(), SettingsPage::Support);
    QList<QByteArray> expected{"[ProgramOptions]",
                               "WelcomeImgFileName=",
                               "SupportWelcomeMsg=",
                               "SupportNotAvailReminderMsg=",
                               "SupportNotAvailMsg=",
                               "WelcomToMsgMsg=",
                               "SupportName=",
                               ""};
    EXPECT_EQ(store.Lines(), expected);
}

TEST(Settings, SoundFilesResolveAgainstTheCurrentFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    TSettings s;
    QFile("ringin.wav").open(QIODevice::WriteOnly);
    const bool onlyMain = SoundFilesPresent(s);
    QFile("Plugin.wav").open(QIODevice::WriteOnly);
    const bool both = SoundFilesPresent(s);
    s.MainSundFile = "."; // a folder is not a sound file
    const bool folder = SoundFilesPresent(s);
    QDir::setCurrent(before);
    EXPECT_FALSE(onlyMain);
    EXPECT_TRUE(both);
    EXPECT_FALSE(folder);
}

TEST(Settings, TimerPeriodsLastAtLeastASecondAndNeverOverflow)
{
    EXPECT_EQ(TSettings::SecondsToMs(40), 40000);
    EXPECT_EQ(TSettings::SecondsToMs(1), 1000);
    EXPECT_EQ(TSettings::SecondsToMs(0), 1000);
    EXPECT_EQ(TSettings::SecondsToMs(-5), 1000);
    EXPECT_EQ(TSettings::SecondsToMs(INT32_MIN), 1000);
    EXPECT_EQ(TSettings::SecondsToMs(INT32_MAX), INT32_MAX);
    TSettings s;
    s.ConnectTimeoutValue = 0;
    s.RegistrationTimeoutValue = -3;
    EXPECT_EQ(s.ConnectTimeoutMs(), 1000);
    EXPECT_EQ(s.RegistrationTimeoutMs(), 1000);
}
