// The real program started as an operator or a desktop starts it: where its
// files go, its command line, and one console per folder.
#include "app/ConsoleTray.h"
#include "app/Servermain.h"
#include "app/SingleInstance.h"

#include "RecordingBoxes.h"
#include "TestUtil.h"
#include "config/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

using namespace velmora;
using namespace velmora::test;

#ifdef VELMORA_BINARY
namespace {

class StartUpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A home, data home and runtime folder of the test's own, so nothing
        // of the machine's user is touched and no lock is shared with them.
        for (const char *sub : {"home", "data", "runtime", "desk"})
            ASSERT_TRUE(QDir(scratch.path()).mkpath(QString::fromLatin1(sub)));
        QFile::setPermissions(Path("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    void TearDown() override
    {
        for (QProcess *p : m_started) {
            if (p->state() != QProcess::NotRunning) {
                ::kill(pid_t(p->processId()), SIGTERM);
                if (!p->waitForFinished(5000))
                    p->kill();
                p->waitForFinished(2000);
            }
            delete p;
        }
    }

    QString Path(const char *sub) const { return scratch.filePath(QString::fromLatin1(sub)); }
    QString DataFolder() const { return Path("data") + QStringLiteral("/velmora"); }

    QProcess *Start(const QString &workingDir, const QStringList &args)
    {
        auto *p = new QProcess;
        m_started.push_back(p);
        p->setWorkingDirectory(workingDir);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("HOME"), Path("home"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), Path("data"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Path("runtime"));
        p->setProcessEnvironment(env);
        p->start(QStringLiteral(VELMORA_BINARY), args);
        return p;
    }

    // The console has made its log in `folder`: it runs there.
    static bool RunsIn(const QString &folder, int ms = 10000)
    {
        const QString log = QDir(folder).filePath(QStringLiteral("Velmora.log"));
        return WaitFor([&] { return QFile::exists(log); }, ms);
    }

    // SIGTERM as the desktop session sends it; true when it ended cleanly.
    static bool Stop(QProcess *p)
    {
        ::kill(pid_t(p->processId()), SIGTERM);
        return WaitFor([&] { return p->state() == QProcess::NotRunning; }, 8000) && p->exitCode() == 0;
    }

    QTemporaryDir scratch;

private:
    std::vector<QProcess *> m_started;
};

} // namespace

TEST_F(StartUpTest, ByHandTheConsoleKeepsItsFilesInItsFolder)
{
    QProcess *console = Start(Path("desk"), {});
    ASSERT_TRUE(RunsIn(Path("desk")));
    ASSERT_TRUE(Stop(console));
    for (const char *name : {"Velmora.ini", "Velmora.log", "ringin.wav", "Plugin.wav"})
        EXPECT_TRUE(QFile::exists(QDir(Path("desk")).filePath(QString::fromLatin1(name)))) << name;
    EXPECT_FALSE(QFileInfo::exists(DataFolder()));
}

TEST_F(StartUpTest, FromTheDesktopOrAFolderNotItsOwnTheConsoleUsesTheDataFolder)
{
    // The desktop entry's start: the launcher's folder is left alone.
    QProcess *console = Start(Path("desk"), {QStringLiteral("--desktop")});
    ASSERT_TRUE(RunsIn(DataFolder()));
    ASSERT_TRUE(Stop(console));
    EXPECT_TRUE(QFile::exists(DataFolder() + QStringLiteral("/Velmora.ini")));
    EXPECT_TRUE(QDir(Path("desk")).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    EXPECT_EQ(QFile::permissions(DataFolder()) & 0x0077, 0);

    // A folder that takes no files and holds no settings: the same data folder.
    QFile::remove(DataFolder() + QStringLiteral("/Velmora.log"));
    console = Start(QStringLiteral("/proc"), {});
    ASSERT_TRUE(RunsIn(DataFolder()));
    ASSERT_TRUE(Stop(console));
}

TEST_F(StartUpTest, WorkdirNamesTheFolderAndBadCommandLinesStartNothing)
{
    const QString named = Path("desk") + QStringLiteral("/two/desk");
    QProcess *console = Start(Path("home"), {QStringLiteral("--workdir"), named});
    ASSERT_TRUE(RunsIn(named));
    ASSERT_TRUE(Stop(console));

    QProcess *bad = Start(Path("home"), {QStringLiteral("--workdri"), named});
    ASSERT_TRUE(bad->waitForFinished(10000));
    EXPECT_EQ(bad->exitCode(), 2);
    EXPECT_TRUE(bad->readAllStandardError().contains("unknown option --workdri"));

    QFile file(Path("desk") + QStringLiteral("/not-a-folder"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    QProcess *blocked = Start(Path("home"), {QStringLiteral("--workdir"), file.fileName()});
    ASSERT_TRUE(blocked->waitForFinished(10000));
    EXPECT_EQ(blocked->exitCode(), 1);
    EXPECT_TRUE(blocked->readAllStandardError().contains("not a folder"));
    EXPECT_FALSE(QFile::exists(Path("home") + QStringLiteral("/Velmora.log")));
}

TEST_F(StartUpTest, ASecondStartInOneFolderRaisesTheFirstAndLeaves)
{
    QProcess *first = Start(Path("desk"), {});
    ASSERT_TRUE(RunsIn(Path("desk")));

    // Through the folder's other spelling, as a desktop start would reach it.
    const QString link = Path("home") + QStringLiteral("/desk-link");
    ASSERT_TRUE(QFile::link(Path("desk"), link));
    QProcess *second = Start(link, {});
    ASSERT_TRUE(second->waitForFinished(30000));
    EXPECT_EQ(second->exitCode(), 0);
    // Said only once the first console answered that its window is in front.
    EXPECT_TRUE(second->readAllStandardError().contains("its window was brought to the front"));
    EXPECT_EQ(first->state(), QProcess::Running);

    // A console in another folder runs beside it.
    QProcess *other = Start(Path("home"), {});
    ASSERT_TRUE(RunsIn(Path("home")));
    EXPECT_EQ(other->state(), QProcess::Running);

    // The first one's log was not written by the second.
    ASSERT_TRUE(Stop(first));
    QFile log(Path("desk") + QStringLiteral("/Velmora.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(log.readAll().count("Application loaded !!!"), 1);

    // The folder is free again: a new start runs.
    log.close();
    ASSERT_TRUE(QFile::remove(Path("desk") + QStringLiteral("/Velmora.log")));
    QProcess *again = Start(Path("desk"), {});
    ASSERT_TRUE(RunsIn(Path("desk")));
    EXPECT_EQ(again->state(), QProcess::Running);
}
#endif

// What the running console does with the request: its window comes back from
// the tray or from being minimized.
TEST(BringToFront, RestoresTheMainWindowFromTheTrayOrMinimized)
{
    QTemporaryDir dir;
    const QString oldDir = QDir::currentPath();
    QDir::setCurrent(dir.path());
    Settings() = TSettings();
    RecordingBoxes boxes;
    {
        TMainForm form;
        form.show();
        ASSERT_TRUE(WaitFor([&] { return form.isVisible(); }));
        form.MinimizeToTray();
        ASSERT_TRUE(WaitFor([&] { return form.IsMinimizedToTray(); }));
        // No tray here (offscreen): said once, and the window is only minimized.
        if (!QSystemTrayIcon::isSystemTrayAvailable()) {
            EXPECT_EQ(form.statusBar()->currentMessage(), TConsoleTray::kNoTrayText);
            form.statusBar()->clearMessage();
        }
        form.BringToFront();
        EXPECT_TRUE(WaitFor([&] { return form.isVisible() && !form.isMinimized() && !form.IsMinimizedToTray(); }));
        form.MinimizeToTray();
        EXPECT_TRUE(form.statusBar()->currentMessage().isEmpty());
        form.BringToFront();
        EXPECT_TRUE(WaitFor([&] { return form.isVisible() && !form.isMinimized() && !form.IsMinimizedToTray(); }));

        form.showMinimized();
        ASSERT_TRUE(WaitFor([&] { return form.isMinimized(); }));
        form.BringToFront();
        EXPECT_TRUE(WaitFor([&] { return form.isVisible() && !form.isMinimized(); }));
        form.ExitProcedure(false);
    }
    QDir::setCurrent(oldDir);
    Settings() = TSettings();
}
