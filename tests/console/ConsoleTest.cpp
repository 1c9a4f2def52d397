// The console core without a window: a call from the server reaches the calls
// and the view's alert, answered later as an operator would, and the exit runs
// its steps through the view, asked or forced.
#include "app/core/Console.h"

#include "support/ConsoleLogin.h"
#include "FakeChatServer.h"
#include "RecordingBoxes.h"
#include "TestUtil.h"
#include "config/Genfunc.h"
#include "config/Settings.h"
#include "idle/IdleSleeper.h"
#include "protocol/ChatMessages.h"
#include "protocol/ServerMessages.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <vector>

using namespace velmora;
using namespace velmora::test;

namespace {

// Stores each alert's answer for the test to give later, answers the exit's
// questions from a script, and writes down the exit's steps in order.
class FakeView : public IConsoleView {
public:
    struct Alert {
        QString site;
        std::function<void(bool)> answered;
        bool withdrawn = false;
    };

    std::function<void()> ShowNewCallAlertThen(quint16, const QString &site, const QString &, bool, const QString &,
                                               std::function<void(bool)> answered) override
    {
        auto alert = std::make_shared<Alert>(Alert{site, std::move(answered)});
        alerts.push_back(alert);
        return [alert] { alert->withdrawn = true; };
    }
    void ShowHistoryEntries(const QStringList &) override {}
    bool ModalWindowOpen() const override { return modalOpen; }
    void AnswerModalWindows(bool alertsToo) override
    {
        steps << (alertsToo ? QStringLiteral("answer alerts and modals") : QStringLiteral("answer modals"));
        modalOpen = modalStaysOpen;
    }
    bool ConfirmExit(const QString &text) override
    {
        questions << text;
        if (exitAnswers.empty())
            return true;
        const bool ok = exitAnswers.front();
        exitAnswers.pop_front();
        return ok;
    }
    void RejectCallAlerts() override { steps << QStringLiteral("reject alerts"); }
    void SaveWindowPlaces(TProgramConfig &) override { steps << QStringLiteral("save places"); }
    void CloseChatWindows() override { steps << QStringLiteral("close chats"); }
    void ExitFinishing() override { steps << QStringLiteral("finishing"); }

    std::vector<std::shared_ptr<Alert>> alerts;
    std::deque<bool> exitAnswers;
    QStringList questions;
    QStringList steps;
    bool modalOpen = false;
    bool modalStaysOpen = false;
};

const QStringList kExitSteps{QStringLiteral("reject alerts"), QStringLiteral("save places"),
                             QStringLiteral("close chats"), QStringLiteral("finishing")};

class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Settings() = TSettings();
        SetStartDirectory(dir.path());
        QFile ini(Path("Velmora.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[ProgramIP_Options]\r\nClientID=acme\r\nWebSiteUrl=127.0.0.1\r\nWebListenPort=%1\r\n"
                                 "\r\n[ProgramOptions]\r\nSupportName=Dana\r\n")
                      .arg(server.Port())
                      .toLatin1());
    }
    void TearDown() override
    {
        if (console && !console->ExitDone())
            console->ExitProcedure(false);
        console.reset();
        Settings() = TSettings();
    }
    QString Path(const char *name) const { return dir.filePath(QString::fromLatin1(name)); }
    QString Log() const
    {
        QFile f(Path("Velmora.log"));
        f.open(QIODevice::ReadOnly);
        return QString::fromUtf8(f.readAll());
    }
    void StartOnline()
    {
        console = std::make_unique<TConsole>(view);
        console->LoadSettings();
        console->Start();
        LogInOnFakeServer(console->Session(), server, 2);
    }
    // A call announced by the server, answered On Hold through the stored alert.
    void CallOnHold()
    {
        server.SetSendInitialConnect(true);
        server.SendRaw(0, *server::BuildClientListed(31, "192.0.2.9", "shop"));
        ASSERT_TRUE(WaitFor([&] { return view.alerts.size() == 1; }));
        EXPECT_EQ(view.alerts[0]->site, QStringLiteral("shop"));
        EXPECT_EQ(server.ConnectionCount(), 1); // nothing is answered before the operator
        view.alerts[0]->answered(false);
        ASSERT_TRUE(server.WaitForConnections(2));
        ASSERT_GE(server.WaitForFrame(chat::SUPPORT_ANSWERS_TO_CLI, 10000), 0);
        ASSERT_EQ(console->CallsOnHoldCount(), 1);
    }

    QTemporaryDir dir;
    RecordingBoxes boxes;
    FakeChatServer server;
    FakeView view;
    std::unique_ptr<TConsole> console;
};

TEST_F(ConsoleTest, ACallReachesTheAlertAndTheExitAsksEndsItAndLogsOutInOrder)
{
    StartOnline();
    CallOnHold();

    // Cancel changes nothing.
    view.exitAnswers.push_back(false);
    EXPECT_FALSE(console->ExitProcedure(true));
    ASSERT_EQ(view.questions.size(), 1);
    EXPECT_TRUE(view.questions[0].startsWith(QStringLiteral("You have open chat windows or OnHold clients.")));
    EXPECT_TRUE(view.steps.isEmpty());
    EXPECT_EQ(console->Session().State(), TServerState::Online);
    EXPECT_EQ(console->CallsOnHoldCount(), 1);
    EXPECT_FALSE(console->ExitDone());

    EXPECT_TRUE(console->ExitProcedure(true));
    EXPECT_EQ(view.questions.size(), 2);
    EXPECT_EQ(view.steps, kExitSteps);
    ASSERT_GE(server.WaitForFrame(chat::END_SESSION, 10000), 0);
    ASSERT_GE(server.WaitForFrame(server::SUPPORT_DISCONNECT, 10000), 0);
    EXPECT_EQ(console->SessionPtr(), nullptr);
    EXPECT_EQ(console->CallsPtr(), nullptr);
    EXPECT_TRUE(Log().trimmed().endsWith(QStringLiteral("Application terminated !!!")));
    EXPECT_TRUE(QFile::exists(Path("history.lst")));
}

TEST_F(ConsoleTest, AForcedExitWaitsForModalWindowsAndAsksNothing)
{
    StartOnline();
    CallOnHold();

    // A box that does not close when answered: the exit waits for it.
    view.modalOpen = true;
    view.modalStaysOpen = true;
    EXPECT_FALSE(console->ExitProcedure(false));
    EXPECT_EQ(view.steps, QStringList{QStringLiteral("answer alerts and modals")});
    ASSERT_TRUE(WaitFor([&] { return view.steps.size() >= 2; }));
    EXPECT_EQ(view.steps[1], QStringLiteral("answer modals")); // answered again while it waits
    EXPECT_FALSE(console->ExitDone());
    EXPECT_NE(console->SessionPtr(), nullptr);

    view.modalStaysOpen = false;
    view.modalOpen = false;
    ASSERT_TRUE(WaitFor([&] { return console->ExitDone(); }));
    EXPECT_TRUE(view.questions.isEmpty());
    EXPECT_EQ(view.steps.mid(view.steps.size() - kExitSteps.size()), kExitSteps);
    ASSERT_GE(server.WaitForFrame(chat::END_SESSION, 10000), 0);
    ASSERT_GE(server.WaitForFrame(server::SUPPORT_DISCONNECT, 10000), 0);
    EXPECT_TRUE(Log().trimmed().endsWith(QStringLiteral("Application terminated !!!")));
    // A further exit (the window's close, say) has nothing left to do.
    EXPECT_TRUE(console->ExitProcedure(true));
}

TEST_F(ConsoleTest, AnAlertOpenAtTheExitTakesNoCallOn)
{
    StartOnline();
    server.SetSendInitialConnect(true);
    server.SendRaw(0, *server::BuildClientListed(32, "192.0.2.9", "shop"));
    ASSERT_TRUE(WaitFor([&] { return view.alerts.size() == 1; }));

    EXPECT_TRUE(console->ExitProcedure(true));
    EXPECT_TRUE(view.questions.isEmpty()); // an alert is no chat yet
    ASSERT_GE(server.WaitForFrame(server::SUPPORT_DISCONNECT, 10000), 0);
    // The operator's late answer finds the console gone.
    view.alerts[0]->answered(true);
    RunFor(200);
    EXPECT_EQ(server.ConnectionCount(), 1);
}

// A page applied in the settings dialog is saved at once and takes effect
// without a restart; a file that cannot be written is reported, so the caption
// never names a file that is not there.
TEST_F(ConsoleTest, AnAppliedSettingsPageIsSavedAndTakesEffectAtOnce)
{
    ASSERT_TRUE(QFile::remove(Path("Velmora.ini")));
    console = std::make_unique<TConsole>(view);
    console->LoadSettings();
    console->Start();
    ASSERT_TRUE(console->FirstStart());

    Settings().OfflineTimeOut = 90;
    EXPECT_TRUE(console->SettingsPageApplied(SettingsPage::General));
    EXPECT_TRUE(QFile::exists(Path("Velmora.ini")));
    EXPECT_EQ(console->IdleSleeper().Interval(), 90u);

    ASSERT_TRUE(QFile::remove(Path("Velmora.ini")));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Velmora.ini")));
    EXPECT_FALSE(console->SettingsPageApplied(SettingsPage::Mail));
}

} // namespace
