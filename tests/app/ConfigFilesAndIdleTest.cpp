// The main window's settings files (load, save as, the history menu, the
// caption) and its idle reporting to the server over a real login.
#include "app/Servermain.h"

#include "ConsoleFolder.h"

#include "support/ConsoleLogin.h"
#include "FakeChatServer.h"
#include "RecordingBoxes.h"
#include "TestUtil.h"
#include "config/Settings.h"
#include "config/ui/SetupDialogs.h"
#include "idle/FakeInputMonitor.h"
#include "idle/IdleSleeper.h"
#include "protocol/MessageCodes.h"
#include "protocol/ServerMessages.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

namespace {

class SaveDialog final : public ISetupDialogs {
public:
    SaveDialog() { SetSetupDialogs(this); }
    ~SaveDialog() override { SetSetupDialogs(nullptr); }
    QString SaveFile(QWidget *, const QString &, const QString &dir) override
    {
        startDir = dir;
        return name;
    }
    QString OpenFile(QWidget *, const QString &, const QString &) override { return name; }
    QString name;
    QString startDir;
};

class ConfigFilesTest : public ConsoleInFolder {
protected:
    QString Path(const QString &name) const { return dir.filePath(name); }
    void Write(const QString &name, const QByteArray &data)
    {
        QFile f(Path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    QByteArray Read(const QString &name)
    {
        QFile f(Path(name));
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }
    // The File menu's captions, separators as "-".
    QStringList FileMenu() const
    {
        QStringList out;
        for (QAction *a : form->FileMenu()->actions())
            out << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return out;
    }
    QString Caption(const QString &file, const QString &supporter = {}) const
    {
        return QStringLiteral("  Support Main (ver 1.53)") + (supporter.isEmpty() ? QString() : " - " + supporter)
               + QStringLiteral("   using ") + file + QStringLiteral(" config file");
    }
    void LogIn() { LogInOnFakeServer(form->Session(), server); }
    void WriteLoginIni(const QByteArray &extra = {})
    {
        Write(QStringLiteral("Velmora.ini"),
              "[GeneralProgramSetting]\r\n" + extra + "\r\n[ProgramIP_Options]\r\nClientID=acme\r\nWebSiteUrl=127.0.0.1\r\n"
                  "WebListenPort=" + QByteArray::number(server.Port()) + "\r\n");
    }

    RecordingBoxes boxes;
    SaveDialog dialogs;
    FakeChatServer server;
};

} // namespace

TEST_F(ConfigFilesTest, HistoryEntriesSitBetweenSaveAsAndExitAndGoWhenCleared)
{
    Write(QStringLiteral("history.lst"), "/srv/one.ini\r\n/srv/two.ini\r\n");
    form = std::make_unique<TMainForm>();
    EXPECT_EQ(FileMenu(), (QStringList{"&Load Config", "Save Config &As", "-", "&1  /srv/one.ini",
                                       "&2  /srv/two.ini", "-", "E&xit", "-", "Clear &History"}));
    form->ClearHistoryClick();
    EXPECT_EQ(FileMenu(), (QStringList{"&Load Config", "Save Config &As", "-", "E&xit", "-", "Clear &History"}));
    EXPECT_FALSE(QFile::exists(Path(QStringLiteral("history.lst"))));
    // The save at exit then writes an empty history file.
    ASSERT_TRUE(form->ExitProcedure(true));
    EXPECT_TRUE(QFile::exists(Path(QStringLiteral("history.lst"))));
    EXPECT_EQ(Read(QStringLiteral("history.lst")), QByteArray());
}

TEST_F(ConfigFilesTest, SaveAsAddsTheExtensionOnlyWhereNoIniIsInTheName)
{
    form = std::make_unique<TMainForm>();
    const TSettings defaults = Settings();
    dialogs.name = Path(QStringLiteral("backup"));
    form->SaveConfigAsClick();
    EXPECT_EQ(dialogs.startDir, dir.path());
    EXPECT_TRUE(QFile::exists(Path(QStringLiteral("backup.ini"))));
    EXPECT_EQ(form->windowTitle(), Caption(QStringLiteral("backup.ini")));

    QDir(dir.path()).mkdir(QStringLiteral("sub"));
    for (const char *name : {"sub/Backup.Ini", "sub/my.ini.old"}) {
        dialogs.name = Path(QString::fromLatin1(name));
        form->SaveConfigAsClick();
        EXPECT_TRUE(QFile::exists(dialogs.name)) << name;
    }
    EXPECT_EQ(dialogs.startDir, Path(QStringLiteral("sub"))); // where the last one went
    EXPECT_EQ(form->History().Paths(),
              (QStringList{Path(QStringLiteral("sub/my.ini.old")), Path(QStringLiteral("sub/Backup.Ini")),
                           Path(QStringLiteral("backup.ini"))}));

    // A folder that does not exist: the error, and nothing else changes.
    dialogs.name = Path(QStringLiteral("nowhere/x.ini"));
    form->SaveConfigAsClick();
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Cannot create file ") + dialogs.name);
    EXPECT_EQ(form->History().Paths().size(), 3);
    EXPECT_EQ(form->windowTitle(), Caption(QStringLiteral("my.ini.old")));
    EXPECT_TRUE(Settings() == defaults);
}

TEST_F(ConfigFilesTest, OpeningAConfigFileReplacesTheSettingsAndAFailureChangesNothing)
{
    Write(QStringLiteral("Velmora.ini"), "[ProgramOptions]\r\nSupportName=Dana\r\n");
    Write(QStringLiteral("shop.ini"), "[ProgramOptions]\r\nSupportName=Robin\r\n[GeneralProgramSetting]\r\n"
                                      "OfflineTimeOutEna=true\r\nOfflineTimeOut=120\r\n");
    form = std::make_unique<TMainForm>();
    ASSERT_EQ(Settings().SupportName, QStringLiteral("Dana"));

    dialogs.name = Path(QStringLiteral("shop.ini"));
    form->LoadConfigClick();
    EXPECT_EQ(Settings().SupportName, QStringLiteral("Robin"));
    EXPECT_EQ(form->IdleSleeper().Interval(), 120u);
    EXPECT_EQ(form->windowTitle(), Caption(QStringLiteral("shop.ini"), QStringLiteral("Robin")));
    EXPECT_EQ(form->History().Paths(), QStringList{dialogs.name});

    const QString missing = Path(QStringLiteral("gone.ini"));
    EXPECT_FALSE(form->OpenConfigFile(missing));
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Cannot Open File - ") + missing);
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Error"));
    EXPECT_EQ(Settings().SupportName, QStringLiteral("Robin"));
    EXPECT_EQ(form->windowTitle(), Caption(QStringLiteral("shop.ini"), QStringLiteral("Robin")));
    EXPECT_EQ(form->History().Paths().size(), 1);

    // The loaded file's content becomes the working configuration at exit.
    ASSERT_TRUE(form->ExitProcedure(true));
    EXPECT_TRUE(Read(QStringLiteral("Velmora.ini")).contains("SupportName=Robin"));
    EXPECT_EQ(Read(QStringLiteral("history.lst")), dialogs.name.toUtf8() + "\r\n");
}

TEST_F(ConfigFilesTest, AHistoryEntryClickedWhileConnectedIsRefused)
{
    WriteLoginIni();
    Write(QStringLiteral("other.ini"), "[ProgramOptions]\r\nSupportName=Robin\r\n");
    Write(QStringLiteral("history.lst"), Path(QStringLiteral("other.ini")).toUtf8() + "\r\n");
    form = std::make_unique<TMainForm>();
    LogIn();
    EXPECT_FALSE(form->LoadConfigAction()->isEnabled());
    EXPECT_FALSE(form->ClearHistoryAction()->isEnabled());
    QAction *entry = nullptr;
    for (QAction *a : form->FileMenu()->actions())
        if (a->text().startsWith(QStringLiteral("&1  ")))
            entry = a;
    ASSERT_NE(entry, nullptr);
    ASSERT_TRUE(entry->isEnabled());
    entry->trigger();
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Connected to server, cannot open a different config file, If\nyou "
                                                  "want to change settings you need to disconnect first."));
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Error !"));
    EXPECT_TRUE(Settings().SupportName.isEmpty());
    EXPECT_EQ(form->windowTitle(), Caption(QStringLiteral("Velmora.ini")));
}

TEST_F(ConfigFilesTest, AnUnwritableHistoryFileIsReportedAtExitAndTheExitGoesOn)
{
    form = std::make_unique<TMainForm>();
    form->History().Add(Path(QStringLiteral("a.ini")));
    QDir(dir.path()).mkdir(QStringLiteral("history.lst"));
    EXPECT_TRUE(form->ExitProcedure(true));
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Could not save history file"));
    EXPECT_EQ(boxes.shown[0].icon, BoxIcon::Error);
}

TEST_F(ConfigFilesTest, IdleAndAwakeReachTheServerOnlyWhileLoggedInWithIdleModeOn)
{
    WriteLoginIni("OfflineTimeOutEna=true\r\nOfflineTimeOut=60\r\n");
    form = std::make_unique<TMainForm>();
    auto *fake = new FakeInputMonitor;
    std::unique_ptr<IInputMonitor> owned(fake);
    form->IdleSleeper().SetMonitorFactory([&](QString *) { return std::move(owned); });
    EXPECT_FALSE(form->IdleSleeper().Active());
    LogIn();
    ASSERT_TRUE(form->IdleSleeper().Active());
    EXPECT_EQ(form->IdleSleeper().TimerInterval(), 60000);

    fake->Advance(60000);
    form->IdleSleeper().TimerExpired();
    const int idle = server.WaitForFrame(server::SUPPORT_IDLE);
    ASSERT_GE(idle, 0);
    EXPECT_EQ(server.Frames()[idle].body, server::BuildSupportIdle().mid(6));
    fake->Input();
    const int awake = server.WaitForFrame(server::SUPPORT_AWAKE, 5000, idle);
    ASSERT_GE(awake, 0);
    EXPECT_EQ(server.Frames()[awake].body, QByteArray::fromHex("000400000001"));

    // Idle again, then the operator disconnects: nothing more is sent.
    fake->Advance(60000);
    form->IdleSleeper().TimerExpired();
    ASSERT_GE(server.WaitForFrame(server::SUPPORT_IDLE, 5000, awake), 0);
    form->Session().ToggleConnection();
    ASSERT_TRUE(WaitFor([&] { return form->Session().State() == TServerState::Offline; }));
    EXPECT_FALSE(form->IdleSleeper().Active());
    const size_t framesAtLogout = server.Frames().size();
    fake->Input();
    server.WaitForFrames(int(framesAtLogout) + 1, 300);
    for (size_t i = framesAtLogout; i < server.Frames().size(); ++i)
        EXPECT_NE(server.Frames()[i].code, server::SUPPORT_AWAKE);
}

TEST_F(ConfigFilesTest, NoWorkingMonitorIsSaidOnceAndTheLoginGoesOn)
{
    WriteLoginIni("OfflineTimeOutEna=true\r\n");
    form = std::make_unique<TMainForm>();
    form->IdleSleeper().SetMonitorFactory([](QString *reason) {
        *reason = QStringLiteral("no desktop here");
        return std::unique_ptr<IInputMonitor>();
    });
    LogIn();
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown[0].text.contains(QStringLiteral("no desktop here")));
    EXPECT_EQ(form->Session().State(), TServerState::Online);
    form->Session().ToggleConnection();
    ASSERT_TRUE(WaitFor([&] { return form->Session().State() == TServerState::Offline; }));
    server.ClearFrames();
    LogIn();
    EXPECT_EQ(boxes.shown.size(), 1);
}
