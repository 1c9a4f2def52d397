// The login state machine against a real loopback server.
#include "session/ServerSession.h"

#include "FakeChatServer.h"
#include "RecordingBoxes.h"
#include "TestUtil.h"
#include "config/Settings.h"
#include "diag/Logdata.h"
#include "protocol/MessageCodes.h"
#include "protocol/ServerMessages.h"
#include "session/WsaErrors.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>
#include <utility>

using namespace velmora;
using namespace velmora::test;

namespace {

struct RecordingHost : ISessionHost {
    QStringList statuses;
    bool online = false;
    bool menusEnabled = true;
    bool chatWithSupportEnabled = false;
    bool tray = false;
    int chatLimit = -1;
    int supporters = -1;
    int openChats = 0;
    int endAllCalls = 0;
    int takeDowns = 0;
    int idleStarts = 0;
    QList<qint32> newCalls;
    // What the session shows, as a window would follow it.
    void Watch(TServerSession &session)
    {
        QObject::connect(&session, &TServerSession::StatusTextChanged, [this](const QString &t) { statuses << t; });
        QObject::connect(&session, &TServerSession::OnlineGlyphChanged, [this](bool on) { online = on; });
        QObject::connect(&session, &TServerSession::MenusEnabledChanged, [this](bool on) { menusEnabled = on; });
        QObject::connect(&session, &TServerSession::ChatWithOtherSupportEnabledChanged,
                         [this](bool on) { chatWithSupportEnabled = on; });
        QObject::connect(&session, &TServerSession::TrayOnlineChanged, [this](bool on) { tray = on; });
        QObject::connect(&session, &TServerSession::ChatLimitChanged, [this](int n) { chatLimit = n; });
        QObject::connect(&session, &TServerSession::SupportersOnlineChanged, [this](int n) { supporters = n; });
    }
    int OpenChatWindowCount() const override { return openChats; }
    void EndAllCalls() override { ++endAllCalls; }
    void TakeDownChatWindowsOnNetError() override { ++takeDowns; }
    void StartIdleDetection() override { ++idleStarts; }
    void NewCall(qint32 sc, qint32, const QString &, const QString &, quint16) override { newCalls << sc; }
    QList<qint32> handedOver;
    QByteArray TransferConversationNow(qint32, const QByteArray &kept) override { return kept + " now"; }
    void TransferHandedOver(qint32 sc) override { handedOver << sc; }
    QStringList refusals;
    void LoginRefused(const QString &text) override { refusals << text; }
    bool ConfirmEndingSessions(const QString &text, const QString &caption) override
    {
        return ConfirmBox(text, caption, BoxIcon::Warning, BoxButtons::OkCancel) == BoxAnswer::Ok;
    }
};


class ServerSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Settings() = TSettings();
        Settings().ClientID = QStringLiteral("acme");
        Settings().AuthValue = QStringLiteral("7");
        Settings().SupportName = QStringLiteral("Dana");
        Settings().WebSiteUrl = server.Host();
        Settings().WebListenPort = QString::number(server.Port());
        log = std::make_unique<TLogFile>(dir.filePath(QStringLiteral("Velmora.log")));
        session = std::make_unique<TServerSession>(host, log.get());
        host.Watch(*session);
        ShowProblemsAsBoxes(*session);
        session->SetNetworkCheck([] { return true; });
    }
    void TearDown() override
    {
        session.reset();
        Settings() = TSettings();
    }

    QString LogText() const
    {
        QFile f(dir.filePath(QStringLiteral("Velmora.log")));
        f.open(QIODevice::ReadOnly);
        return QString::fromUtf8(f.readAll());
    }

    // Connects and answers the login; returns the index of SUPPORT_READY.
    void LogIn(int connection = 0, qint32 port = 4711)
    {
        session->WebSbtnClick();
        ASSERT_TRUE(server.WaitForConnections(connection + 1));
        ASSERT_TRUE(WaitFor([&] { return session->State() == TServerState::Registering; }));
        server.SendFrame(connection, server::INITIAL_CONNECT);
        const int reg = server.WaitForFrame(server::SUPPORT_REGISTER, 3000, int(server.Frames().size()));
        ASSERT_GE(reg, 0);
        server.SendRaw(connection, server::BuildRegisterAccepted(port));
        ASSERT_GE(server.WaitForFrame(server::SUPPORT_READY, 3000, reg), 0);
        ASSERT_EQ(session->State(), TServerState::Online);
    }

    // Connects and stops at Registering, the server's greeting answered.
    void ConnectAndRegister(int connection = 0)
    {
        session->WebSbtnClick();
        ASSERT_TRUE(server.WaitForConnections(connection + 1));
        ASSERT_TRUE(WaitFor([&] { return session->State() == TServerState::Registering; }));
        server.SendFrame(connection, server::INITIAL_CONNECT);
        ASSERT_GE(server.WaitForFrame(server::SUPPORT_REGISTER, 3000, int(server.Frames().size())), 0);
    }

    bool SawFrame(quint16 code) const
    {
        for (const auto &f : server.Frames())
            if (f.code == code)
                return true;
        return false;
    }

    QTemporaryDir dir;
    RecordingBoxes boxes;
    FakeChatServer server;
    RecordingHost host;
    std::unique_ptr<TLogFile> log;
    std::unique_ptr<TServerSession> session;
};

} // namespace

TEST_F(ServerSessionTest, LoginExchangeOnTheWire)
{
    LogIn();
    const auto &frames = server.Frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].code, server::SUPPORT_REGISTER);
    const auto reg = server::DecodeSupportRegister(frames[0].body);
    ASSERT_TRUE(reg);
    EXPECT_EQ(reg->clientId, QByteArray("acme"));
    EXPECT_EQ(reg->authValue, QByteArray("7"));
    EXPECT_EQ(reg->instanceToken.size(), 14);
    for (char c : reg->instanceToken)
        EXPECT_TRUE(QByteArray("0123456789ABCDEFGHIJKLMNOPQRSTWXYZ").contains(c)) << c;
    EXPECT_EQ(frames[1].code, server::SUPPORT_NAME);
    EXPECT_EQ(*server::DecodeSupportName(frames[1].body), QByteArray("Dana"));
    EXPECT_EQ(frames[2].code, server::SUPPORT_READY);
    EXPECT_EQ(session->SupportPort(), 4711);
    EXPECT_TRUE(host.online);
    EXPECT_FALSE(host.menusEnabled);
    EXPECT_TRUE(host.chatWithSupportEnabled);
    EXPECT_TRUE(host.tray);
    EXPECT_EQ(session->StatusText(), QStringLiteral("Support listening for new connections"));
    EXPECT_TRUE(session->KeepAliveWithServerToTimer().isActive());
    EXPECT_EQ(session->KeepAliveWithServerToTimer().interval(), 300000);
    EXPECT_TRUE(LogText().contains(QStringLiteral("Supporter = Dana, Connected to server")));
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(ServerSessionTest, LoginPausesAndLogoutCloseAreKeptOnTheWire)
{
    // The fake server times arrivals on its own thread while this one pauses.
    session->WebSbtnClick();
    ASSERT_TRUE(server.WaitForConnections(1));
    ASSERT_TRUE(WaitFor([&] { return session->State() == TServerState::Registering; }));
    const qint64 greetedAt = server.ElapsedMs();
    server.SendFrame(0, server::INITIAL_CONNECT);
    ASSERT_GE(server.WaitForFrame(server::SUPPORT_REGISTER), 0);
    server.SendRaw(0, server::BuildRegisterAccepted(12));
    ASSERT_GE(server.WaitForFrame(server::SUPPORT_READY), 0);
    auto frames = server.Frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_GE(frames[0].atMs - greetedAt, 200);
    EXPECT_GE(frames[2].atMs - frames[1].atMs, 180); // 200 ms, less scheduling jitter

    session->WebSbtnClick(); // log out
    const int bye = server.WaitForFrame(server::SUPPORT_DISCONNECT);
    ASSERT_GE(bye, 0);
    ASSERT_TRUE(server.WaitForClosed(0));
    EXPECT_GE(server.ClosedAtMs(0) - server.Frames()[size_t(bye)].atMs, 450); // 500 ms, less jitter
}

TEST_F(ServerSessionTest, KeepAliveAndOrderlyLogout)
{
    LogIn();
    session->KeepAliveWithServerToTimer().setInterval(50);
    session->KeepAliveWithServerToTimer().start();
    const int ka = server.WaitForFrame(server::KEEP_ALIVE, 2000, 3);
    ASSERT_GE(ka, 0);
    EXPECT_TRUE(server.Frames()[size_t(ka)].body.isEmpty());
    session->KeepAliveWithServerToTimer().stop();

    session->WebSbtnClick(); // disconnect
    ASSERT_GE(server.WaitForFrame(server::SUPPORT_DISCONNECT, 2000), 0);
    ASSERT_TRUE(server.WaitForClosed(0));
    EXPECT_EQ(session->State(), TServerState::Offline);
    EXPECT_FALSE(session->ConnectRequested());
    EXPECT_FALSE(host.online);
    EXPECT_TRUE(host.menusEnabled);
    EXPECT_EQ(host.chatLimit, 0);
    EXPECT_EQ(host.supporters, 0);
    EXPECT_TRUE(LogText().contains(QStringLiteral("Supporter = Dana, Disconnected from server.")));
}

TEST_F(ServerSessionTest, RefusedRegistrationEndsTheAttempt)
{
    session->WebSbtnClick();
    ASSERT_TRUE(server.WaitForConnections(1));
    ASSERT_TRUE(WaitFor([&] { return session->State() == TServerState::Registering; }));
    server.SendFrame(0, server::REGISTER_REFUSED);
    ASSERT_TRUE(WaitFor([&] { return session->State() == TServerState::Offline; }));
    EXPECT_EQ(session->StatusText(), StatusTextOf(StatusRefused));
    // Said where an operator away from the console sees it too.
    EXPECT_EQ(host.refusals, QStringList{StatusTextOf(StatusRefused)});
    EXPECT_FALSE(session->ConnectRequested());
    EXPECT_TRUE(server.WaitForClosed(0));
    EXPECT_FALSE(session->ReconnectRunning());
}

TEST_F(ServerSessionTest, EmptyClientIdRefusesEvenDuringReconnection)
{
    Settings().ClientID.clear();
    session->WebSbtnClick();
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("ClientID is missing ? unable to connect, check your setup !!!.\n\n"
                                                  "The Client ID is set in Configure › Program Set Up, page "
                                                  "\"Web and IP SetUp\"."));
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Error"));
    EXPECT_FALSE(session->ConnectRequested());
    session->ReconnectTimer().start(100000);
    session->WebSbtnClick();
    EXPECT_TRUE(session->ReconnectRunning());
    EXPECT_FALSE(session->ReconnectStopped());
    EXPECT_EQ(server.ConnectionCount(), 0);
}

TEST_F(ServerSessionTest, RegistrationTimeOutShowsItsTextAndDoesNotReconnect)
{
    Settings().RegistrationTimeoutValue = 1;
    session->WebSbtnClick();
    ASSERT_TRUE(server.WaitForConnections(1));
    ASSERT_TRUE(WaitFor([&] { return !boxes.shown.isEmpty(); }, 4000));
    const QString text = QStringLiteral(
        "Could not register at server, time out after 1 seconds.\nTry again in a couple of minuts.\n");
    EXPECT_EQ(boxes.shown[0].text, text);
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Warning !"));
    EXPECT_EQ(session->StatusText(), StatusTextOf(StatusRegistrationRefused));
    EXPECT_EQ(session->State(), TServerState::Offline);
    EXPECT_FALSE(session->ReconnectRunning());
    // The multi-line entry spans three lines of the log, and the file goes on afresh.
    log->AddLine(QStringLiteral("next"));
    const QStringList lines = LogText().split(QLatin1Char('\n'));
    const int at = int(lines.indexOf(QRegularExpression(QStringLiteral(".*Could not register.*"))));
    ASSERT_GE(at, 0);
    EXPECT_EQ(lines[at + 1], QStringLiteral("Try again in a couple of minuts."));
    EXPECT_TRUE(lines[at + 3].endsWith(QStringLiteral("  next")));
}

TEST_F(ServerSessionTest, ConnectTimeOutWhenTheServerNeverAnswers)
{
    // A loopback listener that never accepts, its one-place backlog already
    // taken: further connection attempts get no answer at all.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    socklen_t len = sizeof addr;
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len);
    int fillers[2];
    for (int &f : fillers) {
        f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(f, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    }
    // A time-out of 0 still gives the server a second, and says so.
    Settings().ConnectTimeoutValue = 0;
    Settings().WebListenPort = QString::number(ntohs(addr.sin_port));
    QElapsedTimer clock;
    clock.start();
    session->WebSbtnClick();
    ASSERT_TRUE(WaitFor([&] { return !boxes.shown.isEmpty(); }, 10000));
    EXPECT_GE(clock.elapsed(), 900);
    EXPECT_EQ(boxes.shown.last().text, QStringLiteral("Could not connect to server, time out after 1 seconds.\nTry "
                                                      "again in a couple of minuts.\n"));
    EXPECT_EQ(session->State(), TServerState::Offline);
    EXPECT_EQ(session->StatusText(), StatusTextOf(StatusDisconnected));
    EXPECT_FALSE(session->ConnectRequested());
    EXPECT_TRUE(LogText().contains(QStringLiteral("Could not connect to server, time out after 1 seconds.")));
    for (int f : fillers)
        ::close(f);
    ::close(listener);
}

TEST_F(ServerSessionTest, ErrorDuringFirstManualConnectShowsBoxAndDoesNotReconnect)
{
    // Nothing listens on the port any more.
    Settings().WebListenPort = QString::number(server.Port());
    server.StopAccepting();
    session->WebSbtnClick();
    ASSERT_TRUE(WaitFor([&] { return !boxes.shown.isEmpty(); }, 4000));
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Network error !"));
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Connection refused or not available, check program params !"));
    EXPECT_EQ(session->State(), TServerState::Offline);
    EXPECT_EQ(session->StatusText(), StatusTextOf(StatusDisconnected));
    EXPECT_FALSE(session->ReconnectRunning());
    EXPECT_EQ(session->NetErrorCount(), 1);
}

TEST_F(ServerSessionTest, LostLoginReconnectsSilentlyAndLogsInAgain)
{
    Settings().ReConnectIntervals = 1;
    LogIn();
    server.ClearFrames();
    server.CloseConnection(0);
    ASSERT_TRUE(WaitFor([&] { return session->ReconnectRunning() || session->State() != TServerState::Online; }));
    EXPECT_TRUE(LogText().contains(
        QStringLiteral("Network error, application disconnected from server, trying to reconnect !.")));
    EXPECT_EQ(host.takeDowns, 1);
    // The reconnection opens a new connection at once; serve its login.
    ASSERT_TRUE(server.WaitForConnections(2));
    ASSERT_TRUE(WaitFor([&] { return session->State() == TServerState::Registering; }));
    EXPECT_FALSE(session->ReconnectRunning());
    server.SendFrame(1, server::INITIAL_CONNECT);
    ASSERT_GE(server.WaitForFrame(server::SUPPORT_REGISTER), 0);
    server.SendRaw(1, server::BuildRegisterAccepted(5));
    ASSERT_TRUE(WaitFor([&] { return session->State() == TServerState::Online; }));
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(ServerSessionTest, ReconnectionGivesUpAfterTheConfiguredRetries)
{
    Settings().ReConnectIntervals = 1;
    Settings().ReConnectRetriesVal = 2;
    LogIn();
    server.StopAccepting();
    server.CloseConnection(0);
    ASSERT_TRUE(WaitFor([&] { return session->ReconnectStopped(); }, 10000));
    EXPECT_FALSE(session->ReconnectRunning());
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Notification !"));
    EXPECT_TRUE(boxes.shown[0].text.startsWith(QStringLiteral("Reconnection to server failed.")));
    EXPECT_EQ(session->NetErrorCount(), 3); // the lost login and two refused attempts
    EXPECT_EQ(session->StatusText(), StatusTextOf(StatusDisconnected));
}

TEST_F(ServerSessionTest, FirstNetworkErrorIsShownWhenAskedFor)
{
    Settings().DisplayNetworkMessages = true;
    Settings().ReConnectIntervals = 1;
    LogIn();
    server.CloseConnection(0);
    ASSERT_TRUE(WaitFor([&] { return !boxes.shown.isEmpty(); }));
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Network error !"));
    EXPECT_TRUE(session->ReconnectRunning() || session->State() != TServerState::Offline);

    // Logged in again by the reconnection, then lost again: no second box,
    // though the login renewed the retries.
    ASSERT_TRUE(server.WaitForConnections(2));
    ASSERT_TRUE(WaitFor([&] { return session->State() == TServerState::Registering; }));
    server.SendFrame(1, server::INITIAL_CONNECT);
    ASSERT_GE(server.WaitForFrame(server::SUPPORT_REGISTER, 3000, 3), 0);
    server.SendRaw(1, server::BuildRegisterAccepted(5));
    ASSERT_TRUE(WaitFor([&] { return session->State() == TServerState::Online; }));
    EXPECT_EQ(session->NetErrorCount(), 0);
    server.CloseConnection(1);
    ASSERT_TRUE(server.WaitForConnections(3));
    EXPECT_EQ(session->NetErrorCount(), 1);
    EXPECT_EQ(boxes.shown.size(), 1);
}

TEST_F(ServerSessionTest, ServerNoticesBeforeAndAfterLogin)
{
    session->WebSbtnClick();
    ASSERT_TRUE(server.WaitForConnections(1));
    ASSERT_TRUE(WaitFor([&] { return session->State() == TServerState::Registering; }));
    server.SendFrame(0, server::SERVER_UPGRADE);
    ASSERT_TRUE(WaitFor([&] { return session->State() == TServerState::Offline; }));
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown[0].text.startsWith(QStringLiteral("Could not connect, server needs to be restarted")));
    EXPECT_FALSE(session->ConnectRequested());
    EXPECT_EQ(session->StatusText(), StatusTextOf(StatusDisconnected));

    boxes.shown.clear();
    LogIn(1);
    server.SendFrame(1, server::SERVER_UPGRADE);
    ASSERT_TRUE(WaitFor([&] { return !boxes.shown.isEmpty(); }));
    EXPECT_TRUE(boxes.shown[0].text.startsWith(QStringLiteral("Server needs to be restarted due to upgrade.")));
    EXPECT_EQ(session->State(), TServerState::Online);
    // A chat limit after the notice counts as zero.
    server.SendRaw(1, server::BuildChatLimit(3));
    ASSERT_TRUE(WaitFor([&] { return boxes.shown.size() == 2; }));
    EXPECT_EQ(session->ChatLimit(), 0);
    EXPECT_EQ(host.chatLimit, 0);
    EXPECT_EQ(boxes.shown[1].text, QStringLiteral("Your chat limit is set to ZERO, please conatc Brenvik support !!."));
}

TEST_F(ServerSessionTest, MaxSocketsExceededEndsTheAttempt)
{
    session->WebSbtnClick();
    ASSERT_TRUE(server.WaitForConnections(1));
    ASSERT_TRUE(WaitFor([&] { return session->State() == TServerState::Registering; }));
    server.SendFrame(0, server::MAX_SOCKETS_EXCEEDED);
    ASSERT_TRUE(WaitFor([&] { return !boxes.shown.isEmpty(); }));
    EXPECT_TRUE(boxes.shown[0].text.startsWith(QStringLiteral("Server exceeded the max sockets limit.")));
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Notification !"));
    EXPECT_EQ(session->State(), TServerState::Offline);
    EXPECT_FALSE(session->ConnectRequested());
    EXPECT_EQ(session->StatusText(), StatusTextOf(StatusDisconnected));
}

TEST_F(ServerSessionTest, CountersCallsAndSupporterLists)
{
    LogIn();
    server.SendRaw(0, server::BuildChatLimit(3));
    server.SendRaw(0, server::BuildSupportersOnline(4));
    server.SendRaw(0, server::BuildSupportChatListed(77));
    server.SendRaw(0, *server::BuildClientListed(78, "192.0.2.1\r\nforged", "site"));
    // A list nobody asked for changes nothing.
    server.SendRaw(0, *server::BuildOnlineSupportersList({}));
    ASSERT_TRUE(WaitFor([&] { return host.newCalls.size() == 2; }));
    EXPECT_EQ(host.chatLimit, 3);
    EXPECT_EQ(host.supporters, 4);
    EXPECT_EQ(host.newCalls, (QList<qint32>{77, 78}));
    const QString logText = LogText();
    EXPECT_TRUE(logText.contains(QStringLiteral("New support chat listed: IP = ,  Port = 0,  SessionCount = 77\n")));
    // A visitor's address cannot start a log line of its own.
    EXPECT_TRUE(logText.contains(QStringLiteral("New client listed: IP = 192.0.2.1  forged,  SessionCount = 78")));
    EXPECT_TRUE(boxes.shown.isEmpty());

    // An empty list for a pending supporter-chat request ends the request.
    session->RequestSupporters(TSupporterListRequest::SupporterChat);
    ASSERT_GE(server.WaitForFrame(server::ONLINE_SUPPORTERS), 0);
    server.SendRaw(0, *server::BuildOnlineSupportersList({}));
    ASSERT_TRUE(WaitFor([&] { return !boxes.shown.isEmpty(); }));
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("No supporters were found."));
    EXPECT_FALSE(session->SupporterRequestPending(TSupporterListRequest::SupporterChat));
}

TEST_F(ServerSessionTest, AnAskedTransferIsHandedOverOnceAndALostConnectionGivesItUp)
{
    LogIn();
    TChatTransfer &transfer = session->Transfer();
    ASSERT_TRUE(transfer.Begin(31, "{\\rtf1 hello}"));
    ASSERT_TRUE(transfer.Ask(6));
    // Another chat's answer, then the right one twice.
    server.SendRaw(0, server::BuildTransferAnsweredNotice(30));
    server.SendRaw(0, server::BuildTransferAnsweredNotice(31));
    server.SendRaw(0, server::BuildTransferAnsweredNotice(31));
    ASSERT_TRUE(WaitFor([&] { return !host.handedOver.isEmpty(); }));
    RunFor(100);
    EXPECT_EQ(host.handedOver, QList<qint32>{31});
    std::vector<server::TransferDataSend> sent;
    for (const auto &f : server.Frames())
        if (f.code == server::TRANSFER_DATA_SEND)
            sent.push_back(*server::DecodeTransferDataSend(f.body));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].sessionCount, 31);
    EXPECT_EQ(sent[0].toPort, 6);
    EXPECT_EQ(sent[0].conversation, QByteArray("{\\rtf1 hello} now"));
    EXPECT_EQ(transfer.State(), TTransferState::Idle);

    // The answer could only come on the connection that is lost.
    ASSERT_TRUE(transfer.Begin(32, "x"));
    ASSERT_TRUE(transfer.Ask(6));
    server.CloseConnection(0);
    ASSERT_TRUE(WaitFor([&] { return transfer.State() == TTransferState::GivenUp; }));
}

TEST_F(ServerSessionTest, DisconnectWithOpenChatAsksAndCancelKeepsEverything)
{
    LogIn();
    host.openChats = 1;
    boxes.answers.push_back(BoxAnswer::Cancel);
    session->WebSbtnClick();
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Warning !"));
    EXPECT_EQ(session->State(), TServerState::Online);
    EXPECT_TRUE(session->ConnectRequested());
    EXPECT_EQ(host.endAllCalls, 0);

    session->WebSbtnClick(); // OK this time
    EXPECT_EQ(host.endAllCalls, 1);
    EXPECT_EQ(session->State(), TServerState::Offline);
}

TEST_F(ServerSessionTest, ConnectionLostWhileTheDisconnectQuestionIsOpen)
{
    // No reconnection: OK must not turn the disconnect into a new connect.
    Settings().ReConnectAfterNetError = false;
    LogIn();
    host.openChats = 1;
    boxes.shown.clear();
    boxes.during = [&] {
        server.CloseConnection(0);
        ASSERT_TRUE(WaitFor([&] { return session->State() == TServerState::Offline; }));
    };
    session->WebSbtnClick();
    EXPECT_EQ(boxes.shown.size(), 2); // the question and the network error
    EXPECT_EQ(host.endAllCalls, 1);
    EXPECT_FALSE(session->ConnectRequested());
    QTest::qWait(200);
    EXPECT_EQ(server.ConnectionCount(), 1);

    // With reconnection: the reconnection that began behind the question
    // (its first attempt already refused) stops instead of going on.
    Settings().ReConnectAfterNetError = true;
    Settings().ReConnectIntervals = 1;
    host.openChats = 0;
    LogIn(1);
    host.openChats = 1;
    boxes.during = [&] {
        server.StopAccepting();
        server.CloseConnection(1);
        ASSERT_TRUE(WaitFor([&] { return session->ReconnectRunning() && session->NetErrorCount() == 2; }));
    };
    session->WebSbtnClick();
    EXPECT_FALSE(session->ReconnectRunning());
    EXPECT_FALSE(session->ConnectRequested());
    RunFor(1100); // past the next reconnection's time
    EXPECT_EQ(session->NetErrorCount(), 2);
    EXPECT_FALSE(session->ConnectRequested());
}

TEST_F(ServerSessionTest, ReconnectionWithSettingsThatCannotConnectStopsAfterOneBox)
{
    Settings().ReConnectIntervals = 1;
    LogIn();
    Settings().WebListenPort = QStringLiteral("0"); // changed while online
    server.CloseConnection(0);
    ASSERT_TRUE(WaitFor([&] { return !boxes.shown.isEmpty(); }));
    RunFor(1100); // past the next reconnection's time
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Network Error, cannot connect ?"));
    EXPECT_FALSE(session->ReconnectRunning());
    EXPECT_TRUE(session->ReconnectStopped());
    EXPECT_FALSE(session->ConnectRequested());
    EXPECT_EQ(session->StatusText(), StatusTextOf(StatusDisconnected));
}

// Before login the console ends the attempt for a server notice or the
// registration time-out, and shows a box. Nothing that arrives on the
// connection while the box is open may act: not even a login accepted in the
// same write as the notice or just behind it.
TEST_F(ServerSessionTest, LateFramesBehindALoginBoxActOnNothing)
{
    Settings().RegistrationTimeoutValue = 1;
    const QByteArray accepted = server::BuildRegisterAccepted(99);
    struct Case {
        const char *name;
        quint16 notice; // 0: let the registration time out
    };
    const Case cases[] = {{"max sockets", server::MAX_SOCKETS_EXCEEDED},
                          {"upgrade", server::SERVER_UPGRADE},
                          {"registration time-out", 0}};
    int connection = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        boxes.shown.clear();
        server.ClearFrames();
        ConnectAndRegister(connection);
        bool offlineWhileBoxOpen = false;
        bool closedWhileBoxOpen = false;
        boxes.during = [&] {
            offlineWhileBoxOpen = session->State() == TServerState::Offline && !session->Socket();
            server.SendRaw(connection, server::BuildRegisterAccepted(98));
            closedWhileBoxOpen = server.WaitForClosed(connection, 2000);
            QTest::qWait(200);
        };
        if (c.notice)
            server.SendRaw(connection, MakeFrame(c.notice) + accepted);
        ASSERT_TRUE(WaitFor([&] { return !boxes.shown.isEmpty(); }, 4000));
        QTest::qWait(100);
        EXPECT_TRUE(offlineWhileBoxOpen);
        EXPECT_TRUE(closedWhileBoxOpen);
        EXPECT_EQ(boxes.shown.size(), 1);
        EXPECT_EQ(session->State(), TServerState::Offline);
        EXPECT_FALSE(SawFrame(server::SUPPORT_NAME));
        EXPECT_FALSE(SawFrame(server::SUPPORT_READY));
        EXPECT_FALSE(host.online);
        EXPECT_FALSE(host.tray);
        EXPECT_FALSE(host.chatWithSupportEnabled);
        EXPECT_TRUE(host.menusEnabled);
        EXPECT_FALSE(session->KeepAliveWithServerToTimer().isActive());
        EXPECT_FALSE(session->TO_Timer().isActive());
        EXPECT_FALSE(session->ConnectRequested());
        EXPECT_NE(session->SupportPort(), 99);
        EXPECT_NE(session->SupportPort(), 98);
        EXPECT_EQ(session->StatusText(),
                  StatusTextOf(c.notice ? StatusDisconnected : StatusRegistrationRefused));
        ++connection;
    }
}

// REGISTER_ACCEPTED must carry the supporter's port. One without it is a
// protocol error, not a login: the registration time-out ends the attempt.
TEST_F(ServerSessionTest, RegisterAcceptedTooShortForThePortIsNoLogin)
{
    Settings().RegistrationTimeoutValue = 1;
    ConnectAndRegister();
    QByteArray oneField;
    qsizetype at = 0;
    PutIntField(oneField, at, 1);
    server.SendRaw(0, MakeFrame(server::REGISTER_ACCEPTED) + MakeFrame(server::REGISTER_ACCEPTED, oneField));
    ASSERT_TRUE(WaitFor([&] { return !boxes.shown.isEmpty(); }, 4000));
    EXPECT_TRUE(boxes.shown[0].text.startsWith(QStringLiteral("Could not register at server, time out after 1")));
    EXPECT_FALSE(SawFrame(server::SUPPORT_NAME));
    EXPECT_FALSE(host.online);
    EXPECT_EQ(session->SupportPort(), 0);
    EXPECT_EQ(session->State(), TServerState::Offline);
    EXPECT_FALSE(LogText().contains(QStringLiteral("Connected to server")));
}

// Time-outs of 0 (or less) in the settings still leave the server a second to
// answer: the login goes through instead of failing at once.
TEST_F(ServerSessionTest, ZeroTimeOutsStillAllowALogin)
{
    Settings().ConnectTimeoutValue = 0;
    Settings().RegistrationTimeoutValue = -4;
    Settings().ReConnectIntervals = 0;
    session->WebSbtnClick();
    EXPECT_EQ(session->TO_Timer().interval(), 1000);
    ASSERT_TRUE(server.WaitForConnections(1));
    ASSERT_TRUE(WaitFor([&] { return session->State() == TServerState::Registering; }));
    EXPECT_EQ(session->TO_Timer().interval(), 1000);
    RunFor(100); // a greeting that is not instant still makes it
    server.SendFrame(0, server::INITIAL_CONNECT);
    ASSERT_GE(server.WaitForFrame(server::SUPPORT_REGISTER), 0);
    server.SendRaw(0, server::BuildRegisterAccepted(3));
    ASSERT_TRUE(WaitFor([&] { return session->State() == TServerState::Online; }));
    EXPECT_TRUE(boxes.shown.isEmpty());

    // The reconnection interval too is at least a second.
    server.CloseConnection(0);
    ASSERT_TRUE(server.WaitForConnections(2));
    EXPECT_EQ(session->ReconnectTimer().interval(), 1000);
}

// A console that runs for days loses its connection now and then. Each login
// that succeeds renews the retries, so the drops do not add up to giving up.
TEST_F(ServerSessionTest, SuccessfulLoginRenewsTheReconnectionRetries)
{
    Settings().ReConnectIntervals = 1;
    Settings().ReConnectRetriesVal = 2;
    const QString serverPort = Settings().WebListenPort;
    LogIn();

    // First drop: the reconnection logs in again at once.
    server.CloseConnection(0);
    ASSERT_TRUE(server.WaitForConnections(2));
    ASSERT_TRUE(WaitFor([&] { return session->State() == TServerState::Registering; }));
    server.SendFrame(1, server::INITIAL_CONNECT);
    ASSERT_GE(server.WaitForFrame(server::SUPPORT_REGISTER, 3000, 3), 0);
    server.SendRaw(1, server::BuildRegisterAccepted(5));
    ASSERT_TRUE(WaitFor([&] { return session->State() == TServerState::Online; }));
    EXPECT_EQ(session->NetErrorCount(), 0);

    // Second drop, with the server unreachable for the first attempt: the
    // retries left are the full two, so the next tick still tries.
    const int deadPort = [] {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
        ::close(fd);
        return int(ntohs(addr.sin_port));
    }();
    Settings().WebListenPort = QString::number(deadPort);
    server.CloseConnection(1);
    ASSERT_TRUE(WaitFor([&] { return session->ReconnectRunning() && !session->Socket(); }));
    EXPECT_EQ(session->NetErrorCount(), 2);
    Settings().WebListenPort = serverPort;
    ASSERT_TRUE(server.WaitForConnections(3, 4000));
    ASSERT_TRUE(WaitFor([&] { return session->State() == TServerState::Registering; }));
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_FALSE(session->ReconnectStopped());
}

// A server host that vanishes without a word (no FIN, no RST) is found by TCP
// keep-alive probes, which end the connection with ETIMEDOUT; that is a
// network error like any other, with the automatic reconnection.
TEST_F(ServerSessionTest, ServerConnectionIsProbedAndAVanishedPeerReconnects)
{
    Settings().ReConnectIntervals = 1;
    LogIn();
    const int fd = session->Socket()->Handle();
    auto option = [fd](int level, int name) {
        int value = -1;
        socklen_t length = sizeof value;
        EXPECT_EQ(::getsockopt(fd, level, name, &value, &length), 0);
        return value;
    };
    EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), 60);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), 10);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), 6);
    // Data in flight to a vanished peer is given up on as soon.
    EXPECT_EQ(option(IPPROTO_TCP, TCP_USER_TIMEOUT), 120000);

    // What the socket reports when the probes go unanswered.
    emit session->Socket()->Error(WsaFromErrno(ETIMEDOUT));
    EXPECT_EQ(session->State(), TServerState::Offline);
    EXPECT_FALSE(host.online);
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_TRUE(LogText().contains(
        QStringLiteral("Network error, application disconnected from server, trying to reconnect !.")));
    ASSERT_TRUE(server.WaitForConnections(2));
    ASSERT_TRUE(WaitFor([&] { return session->State() == TServerState::Registering; }));
    server.SendFrame(1, server::INITIAL_CONNECT);
    ASSERT_GE(server.WaitForFrame(server::SUPPORT_REGISTER, 3000, 3), 0);
    server.SendRaw(1, server::BuildRegisterAccepted(6));
    ASSERT_TRUE(WaitFor([&] { return session->State() == TServerState::Online; }));
}
