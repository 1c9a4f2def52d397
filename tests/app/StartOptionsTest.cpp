// The command line and the choice of working folder, and the guard that lets
// one console run per folder.
#include "app/ActivationToken.h"
#include "app/SingleInstance.h"
#include "app/StartOptions.h"
#include "app/StartupNotice.h"

#include "TestUtil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QLockFile>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <future>

using namespace velmora;
using namespace velmora::test;
using Action = TStartOptions::Action;

namespace {

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const QByteArray &value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

} // namespace

TEST(StartOptions, CommandLines)
{
    EXPECT_EQ(ParseStartOptions({}).action, Action::Run);
    EXPECT_FALSE(ParseStartOptions({}).desktop);
    EXPECT_TRUE(ParseStartOptions({}).workDir.isEmpty());

    const TStartOptions both = ParseStartOptions({"--desktop", "--workdir", "/srv/desk 1"});
    EXPECT_EQ(both.action, Action::Run);
    EXPECT_TRUE(both.desktop);
    EXPECT_EQ(both.workDir, QStringLiteral("/srv/desk 1"));
    EXPECT_EQ(ParseStartOptions({"--workdir=rel/dir"}).workDir, QStringLiteral("rel/dir"));

    EXPECT_EQ(ParseStartOptions({"--help"}).action, Action::ShowHelp);
    EXPECT_EQ(ParseStartOptions({"--desktop", "-v"}).action, Action::ShowVersion);

    // A launcher that appends files (%F), a typo, or a folder missing its
    // value must not start a console in some unexpected folder.
    for (const QStringList &bad : {QStringList{"--workdir"}, QStringList{"--workdir="}, QStringList{"--wrokdir", "x"},
                                   QStringList{"/home/ann/chat.txt"}, QStringList{"--workdir", "a", "--workdir", "b"}}) {
        const TStartOptions parsed = ParseStartOptions(bad);
        EXPECT_EQ(parsed.action, Action::Error) << bad.join(' ').toStdString();
        EXPECT_FALSE(parsed.error.isEmpty());
    }
    // The value of --workdir is a folder, even when it looks like an option.
    EXPECT_EQ(ParseStartOptions({"--workdir", "--help"}).workDir, QStringLiteral("--help"));

    EXPECT_TRUE(WantsTextOnly({"-platform", "offscreen", "--help"}));
    EXPECT_FALSE(WantsTextOnly({"--", "--help"}));
    EXPECT_FALSE(WantsTextOnly({"--desktop"}));
}

TEST(StartOptions, DataHomeFollowsXdgRules)
{
    QTemporaryDir home;
    ScopedEnv homeVar("HOME", home.path().toUtf8());
    {
        ScopedEnv xdg("XDG_DATA_HOME", "/srv/data");
        EXPECT_EQ(DataHomeFolder(), QStringLiteral("/srv/data/velmora"));
    }
    for (const QByteArray &ignored : {QByteArray(), QByteArray("relative/data")}) {
        ScopedEnv xdg("XDG_DATA_HOME", ignored);
        EXPECT_EQ(DataHomeFolder(), home.path() + QStringLiteral("/.local/share/velmora"));
    }
}

TEST(StartOptions, ResolvingFolders)
{
    QTemporaryDir scratch;
    const QString data = scratch.filePath(QStringLiteral("xdg"));
    ScopedEnv xdg("XDG_DATA_HOME", data.toUtf8());
    QString error;

    // The data folder is made on demand, private, with its parents.
    TStartOptions desktop;
    desktop.desktop = true;
    EXPECT_EQ(ResolveWorkFolder(desktop, scratch.path(), &error), data + QStringLiteral("/velmora"));
    EXPECT_TRUE(QFileInfo(data + QStringLiteral("/velmora")).isDir());
    EXPECT_EQ(QFile::permissions(data + QStringLiteral("/velmora")) & 0x0077, 0);

    // A folder that cannot take files, without a settings file: the data folder.
    const TStartOptions byHand;
    EXPECT_EQ(ResolveWorkFolder(byHand, QStringLiteral("/proc"), &error), data + QStringLiteral("/velmora"));
    // A writable one is used as it is, and the write probe leaves nothing.
    EXPECT_EQ(ResolveWorkFolder(byHand, scratch.path(), &error), scratch.path());
    EXPECT_EQ(QDir(scratch.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("xdg")});

    // --workdir: relative to the start folder, created when missing.
    TStartOptions named;
    named.workDir = QStringLiteral("desks/one");
    EXPECT_EQ(ResolveWorkFolder(named, scratch.path(), &error), scratch.filePath(QStringLiteral("desks/one")));
    EXPECT_TRUE(QFileInfo(scratch.filePath(QStringLiteral("desks/one"))).isDir());

    // A file in the way, or a folder that cannot be made, is an error.
    QFile file(scratch.filePath(QStringLiteral("plain")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    named.workDir = file.fileName();
    EXPECT_TRUE(ResolveWorkFolder(named, scratch.path(), &error).isEmpty());
    EXPECT_TRUE(error.contains(QStringLiteral("not a folder")));
    named.workDir = QStringLiteral("/proc/velmora-desk");
    error.clear();
    EXPECT_TRUE(ResolveWorkFolder(named, scratch.path(), &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());

    // No data folder can be made: an error, not a start in the wrong place.
    ScopedEnv broken("XDG_DATA_HOME", "/proc/no-such-data");
    error.clear();
    EXPECT_TRUE(ResolveWorkFolder(desktop, scratch.path(), &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
}

class SingleInstanceTest : public ::testing::Test {
protected:
    QTemporaryDir runtime;
    QTemporaryDir folder;
};

TEST_F(SingleInstanceTest, SecondStartRaisesTheFirstAndAFolderOfItsOwnRunsBeside)
{
    TSingleInstance first(folder.path(), runtime.path());
    ASSERT_EQ(first.Start(), TSingleInstance::Result::First);
    EXPECT_TRUE(first.ListenError().isEmpty()) << first.ListenError().toStdString();
    QSignalSpy raised(&first, &TSingleInstance::RaiseRequested);

    // The second start blocks on its side; the first answers from its event
    // loop, as a running console does.
    auto second = std::async(std::launch::async, [&] {
        TSingleInstance again(folder.path(), runtime.path());
        return again.Start(3000);
    });
    ASSERT_TRUE(WaitFor([&] { return second.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_EQ(second.get(), TSingleInstance::Result::Raised);
    EXPECT_EQ(raised.count(), 1);
    // A start with the desktop's activation token passes it on.
    auto withToken = std::async(std::launch::async, [&] {
        TSingleInstance again(folder.path(), runtime.path());
        again.SetActivationToken("mutter/velmora/42_TIME7");
        return again.Start(3000);
    });
    ASSERT_TRUE(WaitFor([&] { return withToken.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_EQ(withToken.get(), TSingleInstance::Result::Raised);
    EXPECT_EQ(raised.count(), 2);
    // Wayland brings a window forward only with a token; X11 always.
    EXPECT_FALSE(RaiseTakesEffect(QStringLiteral("wayland"), QByteArray()));
    EXPECT_FALSE(RaiseTakesEffect(QStringLiteral("wayland-egl"), "a b"));
    EXPECT_TRUE(RaiseTakesEffect(QStringLiteral("wayland"), "mutter/velmora/42_TIME7"));
    EXPECT_TRUE(RaiseTakesEffect(QStringLiteral("xcb"), QByteArray()));

    QTemporaryDir elsewhere;
    TSingleInstance beside(elsewhere.path(), runtime.path());
    EXPECT_EQ(beside.Start(), TSingleInstance::Result::First);
}

TEST_F(SingleInstanceTest, WhatADeadConsoleLeftBehindIsTakenOver)
{
    {
        TSingleInstance probe(folder.path(), runtime.path());
        // A lock naming a process that no longer exists, and its socket file.
        QFile lock(probe.LockPath());
        ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
        lock.write("999999999\nvelmora\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        lock.close();
        QFile sock(probe.SocketPath());
        ASSERT_TRUE(sock.open(QIODevice::WriteOnly));
        sock.close();
    }
    TSingleInstance next(folder.path(), runtime.path());
    EXPECT_EQ(next.Start(500), TSingleInstance::Result::First);
    EXPECT_TRUE(next.ListenError().isEmpty()) << next.ListenError().toStdString();

    QLocalSocket client;
    client.connectToServer(next.SocketPath());
    EXPECT_TRUE(client.waitForConnected(1000));
}

TEST_F(SingleInstanceTest, ALockedFolderThatNeverAnswersIsBusyNotASecondConsole)
{
    TSingleInstance probe(folder.path(), runtime.path());
    QLockFile held(probe.LockPath());
    ASSERT_TRUE(held.tryLock(0));
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(probe.Start(600), TSingleInstance::Result::Busy);
    EXPECT_LT(clock.elapsed(), 4500); // its own wait, not the default 5 s
}

TEST_F(SingleInstanceTest, OnlyTheRaiseLineRaises)
{
    TSingleInstance first(folder.path(), runtime.path());
    ASSERT_EQ(first.Start(), TSingleInstance::Result::First);
    QSignalSpy raised(&first, &TSingleInstance::RaiseRequested);

    for (const QByteArray &junk : {QByteArray("raise now\n"), QByteArray("raise token=a b\n"),
                                   QByteArray("raise token=\x01\n"), QByteArray(400, 'r'), QByteArray("rai")}) {
        QLocalSocket client;
        client.connectToServer(first.SocketPath());
        ASSERT_TRUE(client.waitForConnected(1000));
        client.write(junk);
        client.flush();
        // Overlong lines are cut off, unfinished ones dropped after a while;
        // either way the peer is let go without an answer.
        EXPECT_TRUE(WaitFor([&] { return client.state() == QLocalSocket::UnconnectedState; }, 5000))
            << junk.toStdString();
        EXPECT_TRUE(client.readAll().isEmpty());
    }
    EXPECT_EQ(raised.count(), 0);
}

TEST(StartupNotice, RemoveMessageQuotesTheId)
{
    // Launchers build ids from host names and program names, which may hold
    // blanks; an unescaped blank would end the id early and the launcher's
    // busy feedback would stay.
    const QByteArray nul(1, '\0');
    EXPECT_EQ(StartupRemoveMessage("velmora-12_TIME99"), QByteArray("remove: ID=velmora-12_TIME99") + nul);
    EXPECT_EQ(StartupRemoveMessage("a b\"c\\d"), QByteArray("remove: ID=a\\ b\\\"c\\\\d") + nul);
}
