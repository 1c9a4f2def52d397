// The waiting phase of a call on its own connection, against a fake chat
// server over loopback: the opening exchange and its pauses, calls on hold
// and their texts, and every way a waiting call can end.
#include "CallsTestFixture.h"

#include "support/ArchivedChat.h"

#include <QTcpServer>

#include <functional>
#include <utility>

#include <arpa/inet.h>
#include <chrono>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace velmora::test {
namespace {

using CallsWaiting = CallsFixture;

TEST_F(CallsWaiting, OpeningExchangeKeepsItsPausesAndOpensTheAcceptedCall)
{
    const QString image = dir.filePath(QStringLiteral("welcome.gif"));
    {
        QFile file(image);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(300, 'G'));
    }
    Settings().WelcomeImgFileName = image;

    calls.NewCall(42, 0, QStringLiteral("www.shop.example"), QStringLiteral("10.1.2.3"), server::CLIENT_LISTED);
    host.AnswerNext(true);

    // The connection opens only after the alert was answered.
    ASSERT_EQ(host.alerts.size(), 1u);
    EXPECT_TRUE(host.alerts[0].acceptEnabled);
    EXPECT_EQ(List().Cell(0, ColStatus), QStringLiteral("Accept..."));
    EXPECT_EQ(calls.CallsOnHold(), 0);
    EXPECT_FALSE(calls.OnHoldTimer().isActive());

    // The fake server times arrivals on its own thread, while this one pauses.
    ASSERT_TRUE(server.WaitForConnections(1));
    ASSERT_GE(server.WaitForFrame(chat::SUPPORT_ANSWERS_TO_CLI), 0);
    ASSERT_TRUE(SendSessionReady(0, 42));
    ASSERT_TRUE(WaitFor([&] { return host.windows.size() == 1; }, 5000));
    const auto arrivals = server.FramesOn(0);
    ASSERT_GE(arrivals.size(), 3u);
    EXPECT_EQ(arrivals[0].code, chat::SUPPORT_ANSWERS_TO_CLI);
    EXPECT_EQ(arrivals[1].code, chat::IMAGE_DATA);
    EXPECT_EQ(arrivals[2].code, chat::WELCOME_MSG);
    EXPECT_GE(arrivals[0].atMs - server.AcceptedAtMs(0), 500);
    EXPECT_GE(arrivals[2].atMs - arrivals[1].atMs, 40); // 50 ms, less scheduling jitter

    const auto answer = chat::DecodeSupportAnswersToCli(arrivals[0].body);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->clientId, QByteArray("CID-1"));
    EXPECT_EQ(answer->supportPort, kSupportPort);
    EXPECT_EQ(answer->sessionCount, 42);
    EXPECT_EQ(chat::DecodeImageData(arrivals[1].body).value_or(QByteArray()), QByteArray(300, 'G'));
    EXPECT_EQ(chat::DecodeWelcomeMsg(arrivals[2].body).value_or(QByteArray()), QByteArray("Welcome!"));

    EXPECT_EQ(host.windows[0]->number, 0);
    EXPECT_EQ(calls.OpenChatWindows(), 1);
    EXPECT_EQ(List().Cell(0, ColStatus), QStringLiteral("In Chat..."));
    const int fd = host.windows[0]->socket->Handle();
    EXPECT_TRUE(LogHas(QStringLiteral("Opend new connection in response to client call Socket = %1 SC = 42").arg(fd)));
    EXPECT_TRUE(LogHas(QStringLiteral("Send SUPPORT_ANSWERS_TO_CLI, Socket = %1 SC = 42").arg(fd)));
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(CallsWaiting, CallOnHoldGetsWelcomeButNoWindowAndItsDetailsAreListed)
{
    const int c = StartCall(7, false);
    ASSERT_GE(c, 0);
    EXPECT_EQ(List().Cell(0, ColStatus), QStringLiteral("Waiting..."));
    EXPECT_EQ(calls.CallsOnHold(), 1);
    EXPECT_TRUE(calls.OnHoldTimer().isActive());

    ASSERT_TRUE(SendSessionReady(c, 7));
    ASSERT_TRUE(WaitForCode(c, chat::WELCOME_MSG));
    // No image configured: nothing but the welcome text.
    EXPECT_EQ(CodesOn(c), (std::vector<quint16>{chat::SUPPORT_ANSWERS_TO_CLI, chat::WELCOME_MSG}));
    EXPECT_TRUE(host.windows.empty());

    ASSERT_TRUE(server.SendFrame(c, chat::USER_DETAILS,
                                 BodyOf(*chat::BuildUserDetails("Ann\r\nFake: line", "ann@example.com", "555-1"))));
    ASSERT_TRUE(WaitFor([&] { return List().Cell(0, ColClientPhone) == QStringLiteral("555-1"); }));
    EXPECT_EQ(List().Cell(0, ColClientName), QStringLiteral("Ann\r\nFake: line"));
    EXPECT_EQ(List().Cell(0, ColClientEmail), QStringLiteral("ann@example.com"));
    EXPECT_EQ(List().RowData(0)->Email, QStringLiteral("ann@example.com"));
    EXPECT_EQ(List().RowData(0)->Phone, QStringLiteral("555-1")) << "the chat window takes it from the record";
    // The visitor's line breaks never split the log line.
    EXPECT_TRUE(LogHas(QStringLiteral("User details for SessionCount = 7,  Name = Ann  Fake: line,  From Site = "
                                      "www.example.com,  e-mail = ann@example.com")));
    // The welcomed visitor talks while waiting: the lines wait for the window,
    // up to a bound.
    ASSERT_TRUE(server.SendFrame(c, chat::CHAT_TEXT, BodyOf(*chat::BuildChatText("Are you there?"))));
    ASSERT_TRUE(server.SendFrame(c, chat::TYPING_START));
    ASSERT_TRUE(server.SendFrame(c, chat::CHAT_TEXT, BodyOf(*chat::BuildChatText("My order is 4711."))));
    ASSERT_TRUE(WaitFor([&] { return List().RowData(0)->EarlyLines.size() == 2; }));
    EXPECT_EQ(List().RowData(0)->EarlyLines, (QStringList{"Are you there?", "My order is 4711."}));
    const QByteArray big(60000, 'x');
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(server.SendFrame(c, chat::CHAT_TEXT, BodyOf(*chat::BuildChatText(big))));
    ASSERT_TRUE(server.SendFrame(c, chat::CHAT_TEXT, BodyOf(*chat::BuildChatText("last"))));
    ASSERT_TRUE(WaitFor([&] { return List().RowData(0)->EarlyLines.endsWith(QStringLiteral("last")); }));
    EXPECT_EQ(List().RowData(0)->EarlyLines.size(), 7);
    EXPECT_LE(List().RowData(0)->EarlyChars, ChatItem::kMaxEarlyChars);
}

TEST_F(CallsWaiting, SessionReadyNamingAnotherConnectionsCallSendsNothing)
{
    const int first = StartCall(1, false);
    const int second = StartCall(2, false);
    ASSERT_GE(second, 0);
    ASSERT_TRUE(SendSessionReady(second, 1));
    ASSERT_TRUE(server.SendFrame(second, chat::CHAT_TEXT, BodyOf(*chat::BuildChatText("early"))));
    ASSERT_TRUE(SendSessionReady(second, 2));
    ASSERT_TRUE(WaitForCode(second, chat::WELCOME_MSG));
    QTest::qWait(100);
    EXPECT_EQ(CodesOn(first), (std::vector<quint16>{chat::SUPPORT_ANSWERS_TO_CLI}));
    EXPECT_EQ(CodesOn(second), (std::vector<quint16>{chat::SUPPORT_ANSWERS_TO_CLI, chat::WELCOME_MSG}));
}

TEST_F(CallsWaiting, RefusedWelcomeImageWarnsAndTheWelcomeTextStillGoes)
{
    const QString image = dir.filePath(QStringLiteral("big.gif"));
    {
        QFile file(image);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(32749, 'x'));
    }
    Settings().WelcomeImgFileName = image;
    const int c = StartCall(5, false);
    ASSERT_TRUE(SendSessionReady(c, 5));
    ASSERT_TRUE(WaitForCode(c, chat::WELCOME_MSG));
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("image file to large, maximum permited size is = 32748, image not sent !."));
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Warning"));
    EXPECT_EQ(CodesOn(c), (std::vector<quint16>{chat::SUPPORT_ANSWERS_TO_CLI, chat::WELCOME_MSG}));
}

TEST_F(CallsWaiting, WelcomeImageBoxHoldsUpNeitherTheCallNorItsTexts)
{
    Settings().WelcomeImgFileName = dir.filePath(QStringLiteral("missing.gif"));
    const int c = StartCall(5, false);
    ASSERT_GE(c, 0);
    boxes.during = [&] {
        // Ticks while the welcome exchange still holds the connection: one
        // text for them all, not a burst once it is free.
        for (int tick = 0; tick < 3; ++tick)
            calls.OnHoldTimerTimer();
        // The box's own event loop: the visitor is heard and the text goes.
        ASSERT_TRUE(server.SendFrame(c, chat::USER_DETAILS, BodyOf(*chat::BuildUserDetails("Ann", "a@b.example", ""))));
        EXPECT_TRUE(WaitFor([&] { return List().Cell(0, ColClientName) == QStringLiteral("Ann"); }));
        EXPECT_TRUE(WaitForCode(c, chat::NOT_AVAIL_MSG));
    };
    ASSERT_TRUE(SendSessionReady(c, 5));
    ASSERT_TRUE(WaitFor([&] { return !boxes.shown.isEmpty(); }));
    EXPECT_TRUE(boxes.shown[0].text.startsWith(QStringLiteral("Could not open file = ")));
    QTest::qWait(100);
    EXPECT_EQ(CodesOn(c), (std::vector<quint16>{chat::SUPPORT_ANSWERS_TO_CLI, chat::WELCOME_MSG, chat::NOT_AVAIL_MSG}));
}

TEST_F(CallsWaiting, OnHoldTicksSendFiveTextsThenAReminder)
{
    const int c = StartCall(9, false);
    ASSERT_GE(c, 0);
    for (int tick = 0; tick < 11; ++tick)
        calls.OnHoldTimerTimer();
    ASSERT_TRUE(WaitForCode(c, chat::NOT_AVAIL_MSG, 9));
    ASSERT_TRUE(WaitForCode(c, chat::NOT_AVAIL_REMINDER, 2));
    const quint16 M = chat::NOT_AVAIL_MSG;
    const quint16 R = chat::NOT_AVAIL_REMINDER;
    EXPECT_EQ(CodesOn(c), (std::vector<quint16>{chat::SUPPORT_ANSWERS_TO_CLI, M, M, M, M, M, R, M, M, M, M, R}));
    const auto frames = server.FramesOn(c);
    EXPECT_EQ(chat::DecodeNotAvailMsg(frames[1].body).value_or(""), QByteArray("Please wait"));
    EXPECT_EQ(chat::DecodeNotAvailReminder(frames[6].body).value_or(""), QByteArray("Still here"));
    // One ring for the call itself, one per reminder.
    EXPECT_EQ(host.soundsPlayed, 3);

    // The timer itself drives the same handler.
    const std::size_t before = server.FramesOn(c).size();
    calls.OnHoldTimer().start(30);
    EXPECT_TRUE(WaitFor([&] { return server.FramesOn(c).size() >= before + 2; }));
}

TEST_F(CallsWaiting, EmptyReminderTextMeansOnlyNotAvailableTextsAndNoSound)
{
    Settings().SupportNotAvailReminderMsg.clear();
    const int c = StartCall(9, false);
    host.soundsPlayed = 0;
    for (int tick = 0; tick < 7; ++tick)
        calls.OnHoldTimerTimer();
    ASSERT_TRUE(WaitForCode(c, chat::NOT_AVAIL_MSG, 7));
    QTest::qWait(50);
    EXPECT_EQ(CodesOn(c).size(), 8u);
    EXPECT_EQ(host.soundsPlayed, 0);
}

TEST_F(CallsWaiting, ZeroReminderCountNeverReminds)
{
    Settings().ReminderCount = 0;
    const int c = StartCall(9, false);
    for (int tick = 0; tick < 3; ++tick)
        calls.OnHoldTimerTimer();
    ASSERT_TRUE(WaitForCode(c, chat::NOT_AVAIL_MSG, 3));
}

TEST_F(CallsWaiting, VisitorLeavingBeforeSessionReadyEndsTheCall)
{
    host.minimized = true;
    const int c = StartCall(11, false);
    ASSERT_GE(c, 0);
    EXPECT_EQ(host.blinking, (std::vector<bool>{true}));
    server.CloseConnection(c);
    ASSERT_TRUE(WaitFor([&] { return List().Cell(0, ColStatus) == QStringLiteral("Disconnected"); }));
    EXPECT_FALSE(List().Cell(0, ColEndTime).isEmpty());
    EXPECT_EQ(List().RowData(0), nullptr);
    EXPECT_EQ(calls.RecordCount(), 0);
    EXPECT_EQ(calls.CallsOnHold(), 0);
    EXPECT_FALSE(calls.OnHoldTimer().isActive());
    EXPECT_EQ(host.blinking, (std::vector<bool>{true, false}));
    EXPECT_TRUE(LogHas(QStringLiteral("Waiting client has prematurely disconnected, SessionCount = 11")));
}

// A visitor on hold may say everything and leave before anyone opens the
// call: the archive keeps it as it came.
TEST_F(CallsWaiting, WhatAVisitorOnHoldSaysIsArchivedEvenIfNobodyOpensTheCall)
{
    TArchiveRecorder recorder(dir.filePath(QLatin1String(kArchiveFileName)));
    SetArchiveRecorder(&recorder);
    const int c = StartCall(8, false);
    ASSERT_TRUE(SendSessionReady(c, 8));
    ASSERT_TRUE(WaitForCode(c, chat::WELCOME_MSG));
    QByteArray frames = *chat::BuildChatText("hello?");
    frames += *chat::BuildUserDetails("Mia", "mia@example.org", "555-2");
    for (const char *line : {"my order", "is late", "bye"})
        frames += *chat::BuildChatText(line);
    ASSERT_TRUE(server.SendRaw(c, frames + test::MakeFrame(chat::END_SESSION)));
    ASSERT_TRUE(WaitFor([&] { return List().Cell(0, ColStatus) == QStringLiteral("Disconnected"); }));

    std::vector<TArchiveLine> lines;
    const std::optional<TArchiveChat> kept = OnlyArchivedChat(recorder, QStringLiteral("mia@example.org"), &lines);
    ASSERT_TRUE(kept);
    const TArchiveChat &row = *kept;
    EXPECT_EQ(row.SessionCount, 8);
    EXPECT_EQ(row.Phone, QStringLiteral("555-2"));
    EXPECT_EQ(row.Status, QStringLiteral("Disconnected"));
    EXPECT_TRUE(row.EndedProperly);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].Text, QStringLiteral("hello?"));
    EXPECT_EQ(lines[3].Name + QStringLiteral(": ") + lines[3].Text, QStringLiteral("Mia: bye"));
    EXPECT_EQ(lines[3].From, archive::Who::Visitor);
    SetArchiveRecorder(nullptr);
}

TEST_F(CallsWaiting, VisitorEndSessionIsLoggedAndEndsTheCall)
{
    const int c = StartCall(12, true);
    ASSERT_TRUE(server.SendFrame(c, chat::END_SESSION));
    ASSERT_TRUE(WaitFor([&] { return List().Cell(0, ColStatus) == QStringLiteral("Disconnected"); }));
    EXPECT_TRUE(LogHas(QStringLiteral("Remote client has send END_SESSION message, SessionCount = 12")));
    EXPECT_TRUE(LogHas(QStringLiteral("Waiting client has prematurely disconnected, SessionCount = 12")));
    EXPECT_TRUE(server.WaitForClosed(c));
}

TEST_F(CallsWaiting, ConnectionErrorShowsTheChatTableTextAndEndsTheCall)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    Settings().WebListenPort = QString::number(probe.serverPort());
    probe.close(); // nothing listens there any more

    calls.NewCall(13, 0, QStringLiteral("site"), QStringLiteral("ip"), server::CLIENT_LISTED);
    host.AnswerNext(false);
    ASSERT_TRUE(WaitFor([&] { return !boxes.shown.isEmpty(); }));
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Connection refused or not available, check program params !"));
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Network error !"));
    // A call whose connection failed must not stay active for ever.
    EXPECT_EQ(List().Cell(0, ColStatus), QStringLiteral("Disconnected"));
    EXPECT_EQ(calls.RecordCount(), 0);
    EXPECT_EQ(calls.CallsOnHold(), 0);
}

TEST_F(CallsWaiting, CallEndedWhileItsErrorBoxIsOpenLeavesLaterCallsAlone)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    Settings().WebListenPort = QString::number(probe.serverPort());
    probe.close();

    // While the refused call's box is open, an on-hold tick takes that call
    // down, the closer releases its socket, and a new call comes in (its
    // socket may well reuse the freed one's memory).
    int second = -1;
    boxes.during = [&] {
        calls.DropCallAtRow(0);
        ASSERT_EQ(calls.RecordCount(), 0);
        ASSERT_TRUE(WaitFor([&] { return closer.Pending() == 0; }));
        QTest::qWait(20);
        Settings().WebListenPort = QString::number(server.Port());
        second = StartCall(14, false);
    };
    calls.NewCall(13, 0, QStringLiteral("site"), QStringLiteral("ip"), server::CLIENT_LISTED);
    host.AnswerNext(false);
    ASSERT_TRUE(WaitFor([&] { return !boxes.shown.isEmpty() && !boxes.during; }));
    ASSERT_GE(second, 0);

    ASSERT_EQ(List().Count(), 2);
    EXPECT_EQ(List().Cell(1, ColStatus), QStringLiteral("Waiting..."));
    ASSERT_NE(List().RowData(1), nullptr);
    EXPECT_EQ(List().RowData(1)->SessionCount, 14);
    EXPECT_EQ(calls.CallsOnHold(), 1);
    EXPECT_FALSE(LogHas(QStringLiteral("Waiting client has prematurely disconnected, SessionCount = 14")));
}

TEST_F(CallsWaiting, OnHoldTickSkipsACallWhoseConnectionIsStillOpening)
{
    server.SetSendInitialConnect(false);
    calls.NewCall(14, 0, QStringLiteral("site"), QStringLiteral("ip"), server::CLIENT_LISTED);
    host.AnswerNext(false);
    // The connect has not completed: the event loop has not run yet.
    calls.OnHoldTimerTimer();
    EXPECT_FALSE(LogHas(QStringLiteral("Session with client has endded, SessionCount = 14")));
    EXPECT_EQ(List().Cell(0, ColStatus), QStringLiteral("Waiting..."));
    EXPECT_EQ(calls.RecordCount(), 1);

    // Open but not yet greeted by the server (a busy server accepts late):
    // our answer must still be the first thing on the wire.
    ASSERT_TRUE(server.WaitForConnections(1));
    ASSERT_TRUE(WaitFor([&] { return List().RowData(0) && List().RowData(0)->Socket->IsConnected(); }));
    calls.OnHoldTimerTimer();
    RunFor(50);
    EXPECT_TRUE(CodesOn(0).empty());

    // Once greeted, the call is answered and the next tick reaches it.
    ASSERT_TRUE(server.SendRaw(0, chat::BuildInitialConnect()));
    ASSERT_TRUE(WaitForCode(0, chat::SUPPORT_ANSWERS_TO_CLI));
    calls.OnHoldTimerTimer();
    ASSERT_TRUE(WaitForCode(0, chat::NOT_AVAIL_MSG));
    EXPECT_EQ(CodesOn(0), (std::vector<quint16>{chat::SUPPORT_ANSWERS_TO_CLI, chat::NOT_AVAIL_MSG}));
    EXPECT_EQ(calls.CallsOnHold(), 1);
}

} // namespace
} // namespace velmora::test
