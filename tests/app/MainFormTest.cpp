// The main window around a real login: start-up, the exit procedure and its
// questions, the clock, the indicators, and the program's end on SIGTERM.
#include "app/Servermain.h"

#include "ConsoleFolder.h"

#include "app/CallListView.h"
#include "app/NewCnctDlg.h"
#include "archive/ArchiveRecorder.h"
#include "chat/ChatPlacement.h"
#include "chat/OneChatWindow.h"

#include "support/ConsoleLogin.h"
#include "FakeChatServer.h"
#include "RecordingBoxes.h"
#include "TestUtil.h"
#include "config/Settings.h"
#include "config/ui/SetupPages.h"
#include "protocol/ChatMessages.h"
#include "protocol/MessageCodes.h"
#include "protocol/ServerMessages.h"

#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QElapsedTimer>
#include <QFile>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <iostream>

using namespace velmora;
using namespace velmora::test;

namespace {

QString ReadText(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QString::fromUtf8(f.readAll());
}

void WriteIni(const QString &dir, quint16 port, const QString &extra = QString())
{
    QFile f(QDir(dir).filePath(QStringLiteral("Velmora.ini")));
    f.open(QIODevice::WriteOnly);
    f.write(QStringLiteral("[ProgramIP_Options]\r\nClientID=acme\r\nWebSiteUrl=127.0.0.1\r\nWebListenPort=%1\r\n\r\n"
                           "[ProgramOptions]\r\nSupportName=Dana\r\n\r\n[ProgramMailSettings]\r\n%2"
                           "EanbelDisableMails=false\r\n")
                .arg(port)
                .arg(extra)
                .toLatin1());
}

class MainFormTest : public ConsoleInFolder {
protected:
    QString Path(const char *name) const { return dir.filePath(QString::fromLatin1(name)); }

    void LogIn()
    {
        LogInOnFakeServer(form->Session(), server, 2);
    }

    RecordingBoxes boxes;
    FakeChatServer server;
};

} // namespace

TEST_F(MainFormTest, TheArchiveKeepsChatsUntilTurnedOffAndAsksBeforeDeletingThem)
{
    WriteIni(dir.path(), server.Port());
    form = std::make_unique<TMainForm>();
    TArchiveRecorder *kept = form->Archive();
    ASSERT_EQ(ArchiveRecorder(), kept);
    const TArchiveRecorder::Handle chat = kept->BeginChat(TArchiveChat{});
    kept->AddLine(chat, TArchiveLine::Said(archive::Who::Visitor, QStringLiteral("Eve"), QStringLiteral("keep me")));
    kept->EndChat(chat, QStringLiteral("End Chat !"));
    auto chats = [&] {
        kept->Flush();
        TArchiveDb db;
        return db.OpenReader(Path(kArchiveFileName)) ? db.Search(TArchiveFilter{}).size() : size_t(99);
    };
    ASSERT_EQ(chats(), 1u);
    auto setDays = [&](int days) {
        form->Config().WriteInteger(QStringLiteral("[GeneralProgramSetting]"), QStringLiteral("ArchiveDays"), days);
        form->LoadSettings();
    };
    // Turned off, what is kept stays when the operator says so; nothing new comes.
    boxes.answers = {BoxAnswer::No};
    setDays(0);
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(kept->BeginChat(TArchiveChat{}), 0);
    EXPECT_EQ(chats(), 1u);
    // On and off again, and this time it goes.
    setDays(365);
    setDays(0);
    EXPECT_EQ(boxes.shown.size(), 2);
    EXPECT_TRUE(WaitFor([&] { return chats() == 0; }));
}

TEST_F(MainFormTest, FirstStartInAnEmptyFolderIsQuietAndLeavesItsFilesAtExit)
{
    form = std::make_unique<TMainForm>();
    // The default sounds are there, so nobody is told they are missing.
    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.Texts().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(QFile::exists(Path("ringin.wav")));
    EXPECT_TRUE(QFile::exists(Path("Plugin.wav")));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("  Support Main (ver 1.53)")); // no file to name yet
    EXPECT_EQ(form->StatusPanelText(), QStringLiteral(" Connect to the server by clicking the connect button."));
    EXPECT_EQ(form->UptimeText(), QStringLiteral("0:00:01"));
    EXPECT_EQ(form->SupportersLabel()->text(), QStringLiteral("0"));
    EXPECT_FALSE(form->ChatWithOtherSupportButton()->isEnabled());
    EXPECT_GE(form->minimumWidth(), 300);
    EXPECT_GE(form->minimumHeight(), 200);

    // The settings dialog comes up at the Web and IP page (OK applies the page
    // on view); the Client ID is saved at once, and the caption names the file.
    QTimer operatorAtDesk;
    QObject::connect(&operatorAtDesk, &QTimer::timeout, [&] {
        if (auto *dlg = qobject_cast<TUserSetupDlg *>(QApplication::activeModalWidget())) {
            QTest::keyClicks(dlg->PageOf<TWebIpPage>()->ClientIdEdit, QStringLiteral("acme"));
            dlg->OkBtn->click();
        }
    });
    operatorAtDesk.start(10);
    form->OpenSetUpOnFirstStart();
    ASSERT_TRUE(WaitFor([&] { return ReadText(Path("Velmora.ini")).contains(QStringLiteral("ClientID=acme")); }));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("  Support Main (ver 1.53)   using Velmora.ini config file"));

    // Not connected: no questions, no logout.
    EXPECT_TRUE(form->ExitProcedure(true));
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_TRUE(QFile::exists(Path("Velmora.ini")));
    EXPECT_EQ(QFile(Path("CannedData.dat")).size(), 4);
    const QStringList lines = ReadText(Path("Velmora.log")).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("  Application loaded !!!")));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("  Application terminated !!!")));
}

TEST_F(MainFormTest, SettingsIndicators)
{
    WriteIni(dir.path(), server.Port(),
             QStringLiteral("\r\n[GeneralProgramSetting]\r\nAutoOnHoldOnMinimized=true\r\n"
                            "\r\n[SoundSetup]\r\nMainSundFile=nowhere.wav\r\n"));
    form = std::make_unique<TMainForm>();
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("One of the sound files is missing check your sounds setting !."));
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Error"));
    EXPECT_EQ(boxes.shown[0].icon, BoxIcon::None);
    const auto labels = form->findChildren<QLabel *>();
    QStringList texts;
    for (QLabel *l : labels)
        texts << l->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("On")));  // Auto OnHold
    EXPECT_TRUE(texts.contains(QStringLiteral("Off"))); // Idle Mode
}

TEST_F(MainFormTest, ConnectedCountersAndMenusFollowTheLogin)
{
    WriteIni(dir.path(), server.Port(), QStringLiteral("EanbelDisableMails=true\r\n"));
    form = std::make_unique<TMainForm>();
    EXPECT_TRUE(form->ProgramSetUpAction()->isEnabled());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("  Support Main (ver 1.53) - Dana   using Velmora.ini config file"));
    EXPECT_TRUE(form->TrayIcon()->toolTip().contains(QStringLiteral("\nSupporter: Dana\n")));
    LogIn();
    // Mail is on but not set up: the operator was asked and chose to go on.
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown[0].text.startsWith(QStringLiteral("Mail setup missing")));
    EXPECT_TRUE(form->TranscriptsOff());
    EXPECT_FALSE(form->ProgramSetUpAction()->isEnabled());
    EXPECT_EQ(form->ProgramSetUpAction()->toolTip(), QStringLiteral("Disconnect to change the settings"));
    EXPECT_EQ(form->ProgramSetUpAction()->statusTip(), QStringLiteral("Disconnect to change the settings"));
    EXPECT_TRUE(form->ChatWithOtherSupportButton()->isEnabled());
    EXPECT_EQ(form->ChatLimitLabel()->text(), QStringLiteral("2"));
    EXPECT_EQ(form->StatusPanelText(), QStringLiteral("Support listening for new connections"));
}

TEST_F(MainFormTest, CancellingTheMailQuestionAbandonsTheConnect)
{
    WriteIni(dir.path(), server.Port(), QStringLiteral("EanbelDisableMails=true\r\n"));
    form = std::make_unique<TMainForm>();
    boxes.answers.push_back(BoxAnswer::Cancel);
    form->Session().WebSbtnClick();
    EXPECT_FALSE(form->Session().ConnectRequested());
    QCoreApplication::processEvents();
    EXPECT_EQ(server.ConnectionCount(), 0);
}

TEST_F(MainFormTest, ClosingWithACallOnHoldAsksAndOkEndsTheCallAndLogsOut)
{
    WriteIni(dir.path(), server.Port(), QStringLiteral("\r\n[GeneralProgramSetting]\r\nAutoOnHoldOnMinimized=true\r\n"));
    form = std::make_unique<TMainForm>();
    LogIn();
    boxes.shown.clear();
    // Minimized with auto on-hold: the call waits without an alert.
    form->MinimizeToTray();
    server.SetSendInitialConnect(true);
    server.SendRaw(0, *server::BuildClientListed(31, "192.0.2.9", "shop"));
    ASSERT_TRUE(server.WaitForConnections(2));
    ASSERT_GE(server.WaitForFrame(chat::SUPPORT_ANSWERS_TO_CLI, 10000), 0);
    ASSERT_EQ(form->CallsOnHoldCount(), 1);

    // Back at the desk: the keys are on the call list, where a stray Space
    // logs nobody out; the connect button asks first, Cancel the default.
    form->RestoreFromTray();
    form->activateWindow();
    ASSERT_TRUE(WaitFor([&] { return form->isActiveWindow(); }));
    EXPECT_EQ(QApplication::focusWidget(), form->findChild<TCallListView *>());
    EXPECT_EQ(form->ConnectButton()->focusPolicy(), Qt::NoFocus);
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_Tab, Qt::Key_Space})
        QTest::keyClick(QApplication::focusWidget(), key);
    EXPECT_TRUE(boxes.shown.isEmpty());
    boxes.answers.push_back(BoxAnswer::Cancel);
    form->ConnectButton()->click();
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown[0].safeDefault);
    EXPECT_EQ(form->Session().State(), TServerState::Online);
    boxes.shown.clear();

    // Cancel keeps everything running.
    boxes.answers.push_back(BoxAnswer::Cancel);
    EXPECT_FALSE(form->ExitProcedure(true));
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown[0].text.startsWith(QStringLiteral("You have open chat windows or OnHold clients.")));
    EXPECT_EQ(form->Session().State(), TServerState::Online);

    EXPECT_TRUE(form->ExitProcedure(true));
    ASSERT_GE(server.WaitForFrame(chat::END_SESSION, 10000), 0);
    ASSERT_GE(server.WaitForFrame(server::SUPPORT_DISCONNECT, 10000), 0);
    const QString log = ReadText(Path("Velmora.log"));
    EXPECT_TRUE(log.contains(QStringLiteral("Supporter = Dana, Disconnected from server.")));
    EXPECT_TRUE(log.trimmed().endsWith(QStringLiteral("Application terminated !!!")));
}

// The alert is modal to nothing, so a termination never waits for it: the
// exit answers it, the call is not taken on, and the console logs out.
TEST_F(MainFormTest, TerminationWhileAnAlertIsOpenAnswersItAndExitsAtOnce)
{
    WriteIni(dir.path(), server.Port());
    form = std::make_unique<TMainForm>();
    LogIn();
    server.SetSendInitialConnect(true);
    bool exitedAtOnce = false;
    bool alertWasOpen = false;
    QTimer::singleShot(300, [&] {
        alertWasOpen = form->Calls().AlertsOpen() == 1;
        exitedAtOnce = form->ExitProcedure(false);
    });
    server.SendRaw(0, *server::BuildClientListed(32, "192.0.2.9", "shop"));
    ASSERT_GE(server.WaitForFrame(server::SUPPORT_DISCONNECT, 8000), 0);
    EXPECT_TRUE(alertWasOpen);
    EXPECT_TRUE(exitedAtOnce);
    const TCalls *calls = form->Console().CallsPtr();
    EXPECT_TRUE(!calls || calls->AlertsOpen() == 0);
    for (QWidget *window : QApplication::topLevelWidgets())
        EXPECT_FALSE(qobject_cast<TNewCnctDlg *>(window) && window->isVisible());
    // No connection was opened for the call: it is left to the other supporters.
    for (const ReceivedFrame &f : server.Frames())
        EXPECT_EQ(f.connection, 0) << f.code;
    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.Texts().join(QLatin1Char('|')).toStdString();
}

TEST_F(MainFormTest, TerminationWhileTheExitQuestionIsOpenOverridesItsCancel)
{
    WriteIni(dir.path(), server.Port(), QStringLiteral("\r\n[GeneralProgramSetting]\r\nAutoOnHoldOnMinimized=true\r\n"));
    form = std::make_unique<TMainForm>();
    LogIn();
    form->MinimizeToTray();
    server.SetSendInitialConnect(true);
    server.SendRaw(0, *server::BuildClientListed(33, "192.0.2.9", "shop"));
    ASSERT_TRUE(WaitFor([&] { return form->CallsOnHoldCount() == 1; }));

    // The signal arrives while the question is up; the box then closes as Cancel.
    struct SignalDuringQuestion final : IBoxes {
        TMainForm *form = nullptr;
        int shown = 0;
        BoxAnswer Show(const BoxRequest &) override
        {
            ++shown;
            form->ExitProcedure(false);
            return BoxAnswer::Cancel;
        }
    } signalBoxes;
    signalBoxes.form = form.get();
    SetBoxes(&signalBoxes);
    const bool done = form->ExitProcedure(true);
    SetBoxes(&boxes);
    EXPECT_EQ(signalBoxes.shown, 1);
    EXPECT_TRUE(done);
    ASSERT_GE(server.WaitForFrame(server::SUPPORT_DISCONNECT, 10000), 0);
}

// A termination while a visitor types: the chat's "still typing" question
// would wait for an answer nobody gives; the chat ends without it.
TEST_F(MainFormTest, TerminationWhileAVisitorTypesEndsTheChatWithoutAQuestion)
{
    WriteIni(dir.path(), server.Port());
    form = std::make_unique<TMainForm>();
    LogIn();
    server.SetSendInitialConnect(true);
    server.SendRaw(0, *server::BuildClientListed(34, "192.0.2.9", "shop"));
    ASSERT_TRUE(WaitFor([&] { return form->Calls().AcceptNewestAlert(); }));
    ASSERT_TRUE(server.WaitForConnections(2));
    ASSERT_GE(server.WaitForFrame(chat::SUPPORT_ANSWERS_TO_CLI, 10000), 0);
    server.SendRaw(1, chat::BuildSessionReady(34));
    ASSERT_TRUE(WaitFor([&] { return form->OpenChatWindowCount() == 1; }));
    server.SendRaw(1, chat::BuildTypingStart());
    QPointer<TOneChatWindow> window;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *chat = qobject_cast<TOneChatWindow *>(w))
            window = chat;
    ASSERT_TRUE(WaitFor([&] { return window && window->RemoteTyping(); }));
    boxes.shown.clear();

    EXPECT_TRUE(form->ExitProcedure(false));
    ASSERT_GE(server.WaitForFrame(chat::END_SESSION, 10000), 0);
    ASSERT_GE(server.WaitForFrame(server::SUPPORT_DISCONNECT, 10000), 0);
    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.Texts().join(QLatin1Char('|')).toStdString();
}

#ifdef VELMORA_BINARY
TEST_F(MainFormTest, SigtermDuringALoginEndsTheProgramSavingItsSettings)
{
    // The server accepts the connection and never answers the registration.
    WriteIni(dir.path(), server.Port(), QStringLiteral("\r\n[GeneralProgramSetting]\r\nConnectOnStart=true\r\n"));
    QFile::remove(Path("Velmora.log"));
    QProcess console;
    console.setWorkingDirectory(dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    console.setProcessEnvironment(env);
    console.start(QStringLiteral(VELMORA_BINARY), {});
    ASSERT_TRUE(console.waitForStarted(5000));
    ASSERT_TRUE(server.WaitForConnections(1, 10000));
    // Registering: waiting for the server's greeting, which never comes.
    QTest::qWait(500);
    ::kill(pid_t(console.processId()), SIGTERM);
    ASSERT_TRUE(WaitFor([&] { return console.state() == QProcess::NotRunning; }, 30000));
    EXPECT_TRUE(QFile::exists(Path("Velmora.ini")));
    EXPECT_TRUE(ReadText(Path("Velmora.log")).trimmed().endsWith(QStringLiteral("Application terminated !!!")));
}

TEST_F(MainFormTest, SigtermWithTwentyAlertsOpenEndsQuicklyWithoutTakingTheCallsOn)
{
    WriteIni(dir.path(), server.Port(), QStringLiteral("\r\n[GeneralProgramSetting]\r\nConnectOnStart=true\r\n"));
    server.SetSendInitialConnect(true); // the login's greeting, and every call's
    QProcess console;
    console.setWorkingDirectory(dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    console.setProcessEnvironment(env);
    console.start(QStringLiteral(VELMORA_BINARY), {});
    ASSERT_TRUE(console.waitForStarted(5000));
    ASSERT_TRUE(server.WaitForConnections(1, 10000));
    ASSERT_GE(server.WaitForFrame(server::SUPPORT_REGISTER, 5000), 0);
    server.SendRaw(0, server::BuildRegisterAccepted(9));
    ASSERT_GE(server.WaitForFrame(server::SUPPORT_READY, 5000), 0);
    server.SendRaw(0, server::BuildChatLimit(2));
    // Twenty announcements in one write: twenty stacked alerts, none answered.
    QByteArray burst;
    for (int i = 0; i < 20; ++i)
        burst += *server::BuildClientListed(900 + i, "192.0.2.9", "www.rush.example");
    server.SendRaw(0, burst);
    ASSERT_TRUE(WaitFor([&] { return ReadText(Path("Velmora.log")).count(QStringLiteral("New client listed")) == 20; },
                        30000));
    RunFor(200);
    EXPECT_EQ(server.ConnectionCount(), 1); // no call connection before an answer

    ::kill(pid_t(console.processId()), SIGTERM);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(WaitFor([&] { return console.state() == QProcess::NotRunning; }, 30000));
    const qint64 exitMs = clock.elapsed();
    std::cout << "[ measure ] exit with 20 alerts open took " << exitMs << " ms\n";
    EXPECT_LT(exitMs, 8000); // quickly, however many alerts are open
    // The alerts were answered by the exit; no call was answered or welcomed only to be ended.
    for (const ReceivedFrame &f : server.Frames()) {
        EXPECT_NE(f.code, chat::SUPPORT_ANSWERS_TO_CLI);
        EXPECT_NE(f.code, chat::WELCOME_MSG);
    }
    EXPECT_GE(server.WaitForFrame(server::SUPPORT_DISCONNECT, 10000), 0);
    EXPECT_TRUE(ReadText(Path("Velmora.log")).trimmed().endsWith(QStringLiteral("Application terminated !!!")));
}
#endif

// A chat window left open read only after the server connection dropped is
// no call any more; the exit still ends it, and its transcript is kept.
TEST_F(MainFormTest, ExitKeepsTheTranscriptOfAChatWindowLeftOpenAfterTheConnectionDropped)
{
    QFile base(Path("base_mail.txt"));
    ASSERT_TRUE(base.open(QIODevice::WriteOnly));
    base.write("Dear someone,\r\nThank you.\r\n");
    base.close();
    // Mails on, to an SMTP server that is not there: the transcript waits in the outbox.
    QFile ini(Path("Velmora.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(QStringLiteral("[ProgramIP_Options]\r\nClientID=acme\r\nWebSiteUrl=127.0.0.1\r\nWebListenPort=%1\r\n"
                             "\r\n[ProgramOptions]\r\nSupportName=Dana\r\n\r\n[ProgramMailSettings]\r\n"
                             "EanbelDisableMails=true\r\nSMTP_Server=127.0.0.1\r\nSMTP_Port=1\r\nMailUserID=dana\r\n"
                             "SupportMailAddr=support@v.test\r\n\r\n[ReConnectProgramSetting]\r\n"
                             "ReConnectAfterNetError=false\r\n")
                  .arg(server.Port())
                  .toLatin1());
    ini.close();
    form = std::make_unique<TMainForm>();
    LogIn();
    server.SetSendInitialConnect(true);
    server.SendRaw(0, *server::BuildClientListed(31, "192.0.2.9", "shop"));
    ASSERT_TRUE(WaitFor([&] { return form->Calls().AcceptNewestAlert(); }));
    ASSERT_TRUE(server.WaitForConnections(2));
    ASSERT_GE(server.WaitForFrame(chat::SUPPORT_ANSWERS_TO_CLI, 10000), 0);
    server.SendRaw(1, chat::BuildSessionReady(31));
    ASSERT_TRUE(WaitFor([&] { return form->OpenChatWindowCount() == 1; }));
    QPointer<TOneChatWindow> left;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *chat = qobject_cast<TOneChatWindow *>(w))
            left = chat;
    ASSERT_FALSE(left.isNull());
    server.SendRaw(1, *chat::BuildUserDetails("Eve", "eve@example.org", "555"));
    server.SendRaw(1, *chat::BuildChatText("my order number is 4711"));
    ASSERT_TRUE(WaitFor([&] { return left->ChatOutPutText->toPlainText().contains(QStringLiteral("4711")); }));

    server.CloseConnection(0);
    ASSERT_TRUE(WaitFor([&] { return form->OpenChatWindowCount() == 0; }));
    ASSERT_FALSE(left.isNull());
    ASSERT_TRUE(left->Detached());

    EXPECT_TRUE(form->ExitProcedure(true));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(left.isNull());
    const QDir outbox(dir.filePath(QStringLiteral("outbox")));
    EXPECT_EQ(outbox.entryList({QStringLiteral("*.mail")}).size(), 1);
}

// Chat windows open next time at the size the operator last gave one; a
// stored size no screen can hold is ignored.
TEST_F(MainFormTest, TheChatWindowSizeIsKeptAcrossRuns)
{
    WriteIni(dir.path(), server.Port(),
             QStringLiteral("\r\n[GeneralProgramSetting]\r\nChatWindowWidth=710\r\nChatWindowHeight=610\r\n"
                            "\r\n[ProgramMailSettings]\r\n"));
    form = std::make_unique<TMainForm>();
    EXPECT_EQ(RememberedChatSize(QSize(1, 1)), QSize(710, 610));
    EXPECT_EQ(RememberedChatSize(QSize(800, 400)), QSize(800, 610)); // never below the minimum
    RememberChatSize(QSize(720, 630));
    EXPECT_TRUE(form->ExitProcedure(true));
    form.reset();
    const QString ini = ReadText(Path("Velmora.ini"));
    EXPECT_TRUE(ini.contains(QStringLiteral("ChatWindowWidth=720")));
    EXPECT_TRUE(ini.contains(QStringLiteral("ChatWindowHeight=630")));

    WriteIni(dir.path(), server.Port(),
             QStringLiteral("\r\n[GeneralProgramSetting]\r\nChatWindowWidth=99999999\r\nChatWindowHeight=610\r\n"
                            "\r\n[ProgramMailSettings]\r\n"));
    form = std::make_unique<TMainForm>();
    EXPECT_EQ(Settings().ChatWindowWidth, 0);
    EXPECT_EQ(RememberedChatSize(QSize(1, 1)), QSize(720, 630)); // what this run had
}
