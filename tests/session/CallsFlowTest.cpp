// Calls from the alert to their end: limits, stacked alerts, answers from
// elsewhere, transfers, the call list's commands and ending everything.
#include "CallsTestFixture.h"
#include "archive/ArchiveRecorder.h"

#include <QTemporaryDir>

#include <QElapsedTimer>

#include <iostream>

namespace velmora::test {
namespace {

using CallsFlow = CallsFixture;

TEST_F(CallsFlow, ChatLimitReachedDisablesAcceptAndTheCallWaits)
{
    SetChatLimit(1);
    const int a = StartCall(1, true);
    ASSERT_TRUE(SendSessionReady(a, 1));
    ASSERT_TRUE(WaitFor([&] { return calls.OpenChatWindows() == 1; }));

    // The host answers Accept although the button was disabled.
    StartCall(2, true);
    ASSERT_EQ(host.alerts.size(), 2u);
    EXPECT_FALSE(host.alerts[1].acceptEnabled);
    EXPECT_EQ(List().Cell(1, ColStatus), QStringLiteral("Waiting..."));
    EXPECT_EQ(calls.CallsOnHold(), 1);
    EXPECT_TRUE(calls.OnHoldTimer().isActive());
}

TEST_F(CallsFlow, LimitReachedWhileTheAlertIsOpenPutsTheCallOnHold)
{
    SetChatLimit(1);
    calls.NewCall(3, 0, QStringLiteral("www.example.com"), QStringLiteral("10.0.0.1"), server::CLIENT_LISTED);
    SetChatLimit(0);
    host.AnswerNext(true);
    ASSERT_FALSE(boxes.shown.isEmpty());
    EXPECT_EQ(boxes.shown.back().text,
              QStringLiteral("Cannot Open more chat windows. Please close\none of the current chat windows first !."));
    EXPECT_EQ(boxes.shown.back().caption, QStringLiteral("Warning"));
    EXPECT_EQ(List().Cell(0, ColStatus), QStringLiteral("Waiting..."));
    EXPECT_EQ(calls.CallsOnHold(), 1);
}

TEST_F(CallsFlow, MinimizedWithAutoOnHoldShowsNoAlertAndBlinks)
{
    Settings().AutoOnHoldOnMinimized = true;
    host.minimized = true;
    ASSERT_GE(StartCall(4, true), 0);
    EXPECT_TRUE(host.alerts.empty());
    EXPECT_EQ(List().Cell(0, ColStatus), QStringLiteral("Waiting..."));
    EXPECT_EQ(host.blinking, (std::vector<bool>{true}));
    EXPECT_TRUE(calls.OnHoldTimer().isActive());
}

TEST_F(CallsFlow, StackedAlertsEachFinishTheirOwnCallAndRingUntilTheLastCloses)
{
    calls.NewCall(20, 0, QStringLiteral("outer"), QString(), server::CLIENT_LISTED);
    EXPECT_TRUE(calls.RingRemindTimer().isActive());
    calls.NewCall(21, 0, QStringLiteral("inner"), QString(), server::CLIENT_LISTED);
    host.Answer(1, false); // the inner alert first, the outer one's answer comes last
    EXPECT_TRUE(calls.RingRemindTimer().isActive()); // the outer alert is still open
    EXPECT_EQ(List().Count(), 1);
    host.Answer(0, true);
    EXPECT_FALSE(calls.RingRemindTimer().isActive());
    ASSERT_EQ(List().Count(), 2);
    EXPECT_EQ(List().Cell(0, ColWebSite), QStringLiteral("inner"));
    EXPECT_EQ(List().Cell(0, ColStatus), QStringLiteral("Waiting..."));
    EXPECT_EQ(List().Cell(1, ColWebSite), QStringLiteral("outer"));
    EXPECT_EQ(List().Cell(1, ColStatus), QStringLiteral("Accept..."));
    EXPECT_TRUE(server.WaitForConnections(2));
}

TEST_F(CallsFlow, TheOperatorsKeysAnswerTheNewestAlertThatCanTakeTheAnswer)
{
    calls.NewCall(30, 0, QStringLiteral("older"), QString(), server::CLIENT_LISTED);
    SetChatLimit(0);
    calls.NewCall(31, 0, QStringLiteral("full"), QString(), server::CLIENT_LISTED);
    SetChatLimit(2);
    EXPECT_EQ(calls.AlertsOpen(), 2);
    // Accept passes over the newest alert, whose Accept is disabled.
    EXPECT_TRUE(calls.AcceptNewestAlert());
    EXPECT_TRUE(host.open[0].done);
    EXPECT_EQ(calls.AlertsOpen(), 1);
    EXPECT_FALSE(calls.AcceptNewestAlert());
    EXPECT_TRUE(calls.HoldNewestAlert());
    EXPECT_EQ(calls.AlertsOpen(), 0);
    EXPECT_FALSE(calls.HoldNewestAlert());
    EXPECT_FALSE(calls.RingRemindTimer().isActive());

    // At the exit every alert still open is answered On-Hold.
    calls.NewCall(32, 0, QStringLiteral("late"), QString(), server::CLIENT_LISTED);
    calls.WithdrawAlerts();
    EXPECT_EQ(host.withdrawn, 1);
    EXPECT_EQ(calls.AlertsOpen(), 0);
    ASSERT_EQ(List().Count(), 3);
    EXPECT_EQ(List().Cell(2, ColWebSite), QStringLiteral("late"));
    EXPECT_EQ(List().Cell(2, ColStatus), QStringLiteral("Waiting..."));
}

TEST_F(CallsFlow, CallAnsweredElsewhereWhileItsAlertIsOpenClosesTheAlertAndOpensNoConnection)
{
    calls.NewCall(30, 0, QStringLiteral("site"), QString(), server::CLIENT_LISTED);
    calls.NewCall(32, 0, QStringLiteral("other"), QString(), server::CLIENT_LISTED);
    EXPECT_EQ(List().Count(), 0);
    calls.CallAnswered(30);
    EXPECT_EQ(host.withdrawn, 1); // the alert went by itself; the other stays up
    EXPECT_EQ(host.notices, QStringList{QStringLiteral("Another supporter answered the call from site.")});
    EXPECT_TRUE(calls.RingRemindTimer().isActive());
    ASSERT_EQ(List().Count(), 1);
    EXPECT_EQ(List().Cell(0, ColStatus), QStringLiteral("Answered"));
    EXPECT_EQ(List().RowData(0), nullptr);
    EXPECT_EQ(calls.RecordCount(), 1); // the other call's
    EXPECT_EQ(calls.CallsOnHold(), 0);
    QTest::qWait(100);
    EXPECT_EQ(server.ConnectionCount(), 0);
    host.Answer(1, false);
    EXPECT_FALSE(calls.RingRemindTimer().isActive());
}

TEST_F(CallsFlow, LateAnswerToAnAlertWhoseCallHasGoneTouchesNothing)
{
    // The alert closes later than its call goes, and the operator's click
    // still arrives.
    host.withdrawnLeaveOpen = true;
    calls.NewCall(33, 0, QStringLiteral("site"), QString(), server::CLIENT_LISTED);
    calls.CallAnswered(33);
    ASSERT_EQ(host.withdrawn, 1);
    ASSERT_EQ(calls.RecordCount(), 0);
    host.Answer(0, true);
    EXPECT_FALSE(calls.RingRemindTimer().isActive());
    ASSERT_EQ(List().Count(), 1);
    EXPECT_EQ(List().Cell(0, ColStatus), QStringLiteral("Answered"));
    EXPECT_EQ(calls.CallsOnHold(), 0);
    QTest::qWait(100);
    EXPECT_EQ(server.ConnectionCount(), 0);
}

TEST_F(CallsFlow, CallAnsweredClosesTheConnectionAndKeepsTheRowAsHistory)
{
    QTemporaryDir dir;
    TArchiveRecorder recorder(dir.filePath(QLatin1String(kArchiveFileName)));
    SetArchiveRecorder(&recorder);
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    const int c = StartCall(31, false);
    calls.CallAnswered(31);
    // The archive keeps the call with its times: announced, its alert
    // answered with On-Hold, held until another supporter took it.
    recorder.Flush();
    SetArchiveRecorder(nullptr);
    TArchiveDb archive;
    ASSERT_TRUE(archive.OpenReader(recorder.Path()));
    std::vector<TArchiveCall> kept;
    ASSERT_TRUE(archive.CallsAnnounced(0, before + 3600000, kept));
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].SessionCount, 31);
    EXPECT_EQ(kept[0].Outcome, archive::CallOutcome::TakenByOther);
    EXPECT_GE(kept[0].Announced, before);
    EXPECT_GE(kept[0].Answered, kept[0].Announced);
    EXPECT_EQ(kept[0].HeldFrom, kept[0].Answered);
    EXPECT_GE(kept[0].HeldUntil, kept[0].HeldFrom);
    EXPECT_EQ(List().Cell(0, ColStatus), QStringLiteral("Answered"));
    EXPECT_EQ(List().RowData(0), nullptr);
    EXPECT_EQ(calls.RecordCount(), 0);
    EXPECT_EQ(calls.CallsOnHold(), 0);
    EXPECT_FALSE(calls.OnHoldTimer().isActive());
    EXPECT_TRUE(server.WaitForClosed(c));
    // The closing connection is no premature end: status and log stay.
    QTest::qWait(50);
    EXPECT_EQ(List().Cell(0, ColStatus), QStringLiteral("Answered"));
    EXPECT_FALSE(LogHas(QStringLiteral("Waiting client has prematurely disconnected, SessionCount = 31")));
    // An unknown call changes nothing.
    calls.CallAnswered(999);
    EXPECT_EQ(List().Count(), 1);
}

TEST_F(CallsFlow, TransferDataAnswersOnTheCallsConnectionWithItsPause)
{
    const int c = StartCall(40, false, server::TRANSFER_CALL, 55);
    ASSERT_GE(c, 0);
    // Only the transfer's messages are counted below, however slow the machine.
    calls.OnHoldTimer().stop();
    calls.TransferData(40, QByteArray("{\\rtf1 hello}"));
    ASSERT_TRUE(WaitForCode(c, chat::TRANS_COMPLETE));
    const auto frames = server.FramesOn(c);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].code, chat::SUPPORT_ANS_TO_TRANS);
    // The pause stays on the wire, less the send worker's own scheduling jitter.
    EXPECT_GE(frames[1].atMs - frames[0].atMs, 450);
    const auto answer = chat::DecodeSupportAnsToTrans(frames[0].body);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->clientId, QByteArray("CID-1"));
    EXPECT_EQ(answer->supportPort, kSupportPort);
    EXPECT_EQ(answer->sessionCount, 40);
    EXPECT_EQ(List().RowData(0)->TransferData, QByteArray("{\\rtf1 hello}"));
    EXPECT_TRUE(LogHas(QStringLiteral("Send SUPPORT_ANS_TO_TRANS, Socket = 55 SC = 40")));
    // Without the server connection the console could not announce itself.
    EXPECT_TRUE(WaitFor(
        [&] { return LogHas(QStringLiteral("Socket not connected, could not send data, IP = ,  Port = 77,  SessionCount = 0")); }));
}

TEST_F(CallsFlow, DroppingAWaitingCallSendsEndSessionAndFreesIt)
{
    const int c = StartCall(50, false);
    calls.DropCallAtRow(0);
    ASSERT_TRUE(WaitForCode(c, chat::END_SESSION));
    ASSERT_TRUE(WaitFor([&] { return calls.RecordCount() == 0; }));
    EXPECT_EQ(List().Cell(0, ColStatus), QStringLiteral("Disconnected"));
    EXPECT_FALSE(List().Cell(0, ColEndTime).isEmpty());
    EXPECT_EQ(List().RowData(0), nullptr);
    EXPECT_EQ(calls.CallsOnHold(), 0);
    EXPECT_EQ(calls.RecordCount(), 0);
    EXPECT_TRUE(LogHas(QStringLiteral("Session with client has endded, SessionCount = 50")));
    EXPECT_TRUE(server.WaitForClosed(c));
}

TEST_F(CallsFlow, DroppingACallInChatLetsItsWindowEndIt)
{
    const int c = StartCall(51, true);
    ASSERT_TRUE(SendSessionReady(c, 51));
    ASSERT_TRUE(WaitFor([&] { return host.windows.size() == 1; }));
    calls.DropCallAtRow(0);
    EXPECT_EQ(host.windows[0]->closes, 1);
    EXPECT_EQ(List().Cell(0, ColStatus), QStringLiteral("End Chat !"));
    EXPECT_EQ(calls.OpenChatWindows(), 0);
    EXPECT_TRUE(calls.ChatWindows().isEmpty());
    EXPECT_EQ(calls.RecordCount(), 0);
    ASSERT_TRUE(WaitForCode(c, chat::END_SESSION, 1));
}

TEST_F(CallsFlow, EndAllCallsEndsWaitingAndChattingCallsAndLeavesHistory)
{
    const int finished = StartCall(60, false);
    server.CloseConnection(finished);
    ASSERT_TRUE(WaitFor([&] { return List().RowData(0) == nullptr; }));
    const int waiting = StartCall(61, false);
    const int chatting = StartCall(62, true);
    ASSERT_TRUE(SendSessionReady(chatting, 62));
    ASSERT_TRUE(WaitFor([&] { return host.windows.size() == 1; }));

    calls.EndAllCalls();
    ASSERT_TRUE(WaitFor([&] { return calls.RecordCount() == 0; }));
    EXPECT_EQ(List().Cell(0, ColStatus), QStringLiteral("Disconnected"));
    EXPECT_EQ(List().Cell(1, ColStatus), QStringLiteral("Disconnected"));
    EXPECT_EQ(List().Cell(2, ColStatus), QStringLiteral("End Chat !"));
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(List().RowData(row), nullptr) << row;
    EXPECT_EQ(host.windows[0]->closes, 1);
    EXPECT_EQ(calls.CallsOnHold(), 0);
    EXPECT_EQ(calls.OpenChatWindows(), 0);
    EXPECT_EQ(calls.RecordCount(), 0);
    EXPECT_TRUE(WaitForCode(waiting, chat::END_SESSION));
    EXPECT_TRUE(WaitForCode(chatting, chat::END_SESSION));
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(CallsFlow, EndAllCallsSurvivesAWindowThatRefusesToClose)
{
    const int c = StartCall(63, true);
    ASSERT_TRUE(SendSessionReady(c, 63));
    ASSERT_TRUE(WaitFor([&] { return host.windows.size() == 1; }));
    host.windows[0]->refuseClose = true; // the operator cancelled
    StartCall(64, false);
    calls.EndAllCalls();
    ASSERT_TRUE(WaitFor([&] { return calls.RecordCount() == 1; }));
    EXPECT_EQ(List().Cell(0, ColStatus), QStringLiteral("In Chat..."));
    EXPECT_EQ(List().Cell(1, ColStatus), QStringLiteral("Disconnected"));
    EXPECT_EQ(calls.OpenChatWindows(), 1);
}

TEST_F(CallsFlow, CallArrivingWhileEndAllCallsClosesAWindowStaysOnHold)
{
    const int c = StartCall(66, true);
    ASSERT_TRUE(SendSessionReady(c, 66));
    ASSERT_TRUE(WaitFor([&] { return host.windows.size() == 1; }));
    // The new call's record is likely to take the freed record's memory.
    host.windows[0]->afterClose = [&] { StartCall(67, false); };
    calls.EndAllCalls();
    ASSERT_EQ(List().Count(), 2);
    EXPECT_EQ(List().Cell(1, ColStatus), QStringLiteral("Waiting..."));
    EXPECT_EQ(calls.CallsOnHold(), 1);
    EXPECT_TRUE(calls.OnHoldTimer().isActive());
}

TEST_F(CallsFlow, ChatWindowThatClosesWhileBeingCreatedIsNotListed)
{
    // A window reads what already waits on the connection when it opens; an
    // END_SESSION there can end it before OpenChatWindow has listed it.
    host.closeOnCreate = true;
    const int c = StartCall(65, true);
    ASSERT_TRUE(SendSessionReady(c, 65));
    ASSERT_TRUE(WaitFor([&] { return host.windows.size() == 1; }));
    EXPECT_EQ(calls.OpenChatWindows(), 0);
    EXPECT_TRUE(calls.ChatWindows().isEmpty());
    EXPECT_EQ(calls.RecordCount(), 0);
    EXPECT_EQ(List().Cell(0, ColStatus), QStringLiteral("End Chat !"));
}

TEST_F(CallsFlow, PopupItemsFollowTheSelectedCall)
{
    EXPECT_FALSE(calls.ViewListPopUpItems(-1).clearStatDisplay); // empty list
    const int c = StartCall(70, false);
    auto items = calls.ViewListPopUpItems(0);
    EXPECT_TRUE(items.disconnect);
    EXPECT_TRUE(items.updateEmail);
    EXPECT_FALSE(items.openChat); // still "Anonymous"
    EXPECT_TRUE(items.clearStatDisplay);

    ASSERT_TRUE(server.SendFrame(c, chat::USER_DETAILS, BodyOf(*chat::BuildUserDetails("Bo", "", ""))));
    ASSERT_TRUE(WaitFor([&] { return List().Cell(0, ColClientName) == QStringLiteral("Bo"); }));
    EXPECT_TRUE(calls.ViewListPopUpItems(0).openChat);

    items = calls.ViewListPopUpItems(-1);
    EXPECT_FALSE(items.openChat || items.disconnect || items.updateEmail);

    calls.OpenChatAtRow(0);
    ASSERT_EQ(host.windows.size(), 1u);
    EXPECT_EQ(calls.CallsOnHold(), 0);
    EXPECT_FALSE(calls.OnHoldTimer().isActive());
    // A call in a chat window is never opened twice.
    EXPECT_FALSE(calls.ViewListPopUpItems(0).openChat);
    calls.OpenChatAtRow(0);
    EXPECT_EQ(host.windows.size(), 1u);
}

TEST_F(CallsFlow, OpenChatAtTheLimitWarnsAndKeepsTheCallWaiting)
{
    SetChatLimit(1);
    const int a = StartCall(71, true);
    ASSERT_TRUE(SendSessionReady(a, 71));
    ASSERT_TRUE(WaitFor([&] { return calls.OpenChatWindows() == 1; }));
    StartCall(72, false);
    calls.OpenChatAtRow(1);
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Warning"));
    EXPECT_EQ(List().Cell(1, ColStatus), QStringLiteral("Waiting..."));
    EXPECT_EQ(calls.CallsOnHold(), 1);

    // Once the first chat is closed the next opens, with a number of its own.
    host.windows[0]->FormClose();
    calls.OpenChatAtRow(1);
    ASSERT_EQ(host.windows.size(), 2u);
    EXPECT_EQ(host.windows[1]->number, 1);
}

TEST_F(CallsFlow, CallsOnHoldCountFollowsTheCallsActuallyOnHold)
{
    StartCall(80, false);
    const int accepted = StartCall(81, true);
    ASSERT_TRUE(SendSessionReady(accepted, 81));
    ASSERT_TRUE(WaitFor([&] { return calls.OpenChatWindows() == 1; }));
    // Opening the accepted call must not count the other call off hold.
    EXPECT_EQ(calls.CallsOnHold(), 1);
    EXPECT_TRUE(calls.OnHoldTimer().isActive());
    calls.DecreaseCallsOnHold();
    calls.DecreaseCallsOnHold();
    EXPECT_EQ(calls.CallsOnHold(), 0);
}

TEST_F(CallsFlow, EditedEmailLandsOnTheSameRowWhenRowsMoveMeanwhile)
{
    const int gone = StartCall(90, false);
    server.CloseConnection(gone);
    ASSERT_TRUE(WaitFor([&] { return List().RowData(0) == nullptr; }));
    StartCall(91, false);
    host.emailAnswer = QStringLiteral("fixed@example.com");
    host.duringEmail = [this] { calls.ClearStatDisplay(); }; // removes row 0
    calls.UpdateEmailAtRow(1);
    ASSERT_EQ(List().Count(), 1);
    EXPECT_EQ(List().Cell(0, ColClientEmail), QStringLiteral("fixed@example.com"));
    EXPECT_EQ(List().RowData(0)->Email, QStringLiteral("fixed@example.com"));
}

TEST_F(CallsFlow, ChatWindowsTakenDownOnNetErrorLeaveTheList)
{
    for (qint32 sc : {100, 101}) {
        const int c = StartCall(sc, true);
        ASSERT_TRUE(SendSessionReady(c, sc));
    }
    ASSERT_TRUE(WaitFor([&] { return calls.OpenChatWindows() == 2; }));
    calls.TakeDownChatWindowsOnNetError();
    EXPECT_EQ(calls.OpenChatWindows(), 0);
    EXPECT_EQ(List().Cell(0, ColStatus), QStringLiteral("Net Error !"));
    EXPECT_EQ(List().Cell(1, ColStatus), QStringLiteral("Net Error !"));
    EXPECT_EQ(calls.RecordCount(), 0);
}

// --- with a logged-in server connection -----------------------------------------

class CallsOnline : public CallsFixture {
protected:
    void SetUp() override
    {
        CallsFixture::SetUp();
        LogIn();
    }
};

TEST_F(CallsOnline, TransferredCallIsAnsweredOnTheServerConnection)
{
    // A list of supporters seen earlier names the one who asks.
    session.RequestSupporters(TSupporterListRequest::SupporterChat);
    ASSERT_TRUE(server.SendFrame(0, server::ONLINE_SUPPORTERS,
                                 BodyOf(*server::BuildOnlineSupportersList({{"Bert", 55}}))));
    ASSERT_TRUE(WaitFor([&] { return session.SupporterName(55) == QStringLiteral("Bert"); }));
    ASSERT_TRUE(server.SendFrame(0, server::TRANSFER_CALL,
                                 BodyOf(*server::BuildTransferCallNotice(300, 55, "10.9.9.9", "www.t.example"))));
    ASSERT_TRUE(WaitFor([&] { return host.open.size() == 1; }));
    EXPECT_EQ(host.alerts[0].asking, QStringLiteral("Bert"));
    host.Answer(0, false);
    ASSERT_TRUE(server.WaitForConnections(2));
    ASSERT_TRUE(WaitForCode(0, server::TRANSFER_ANSWERED));
    const auto frames = server.FramesOn(0);
    const auto answered = server::DecodeTransferAnswered(frames.back().body);
    ASSERT_TRUE(answered);
    EXPECT_EQ(answered->sessionCount, 300);
    EXPECT_EQ(answered->port, 55);
    EXPECT_TRUE(CodesOn(1).empty()); // no SUPPORT_ANSWERS_TO_CLI for a transfer
    ASSERT_EQ(host.alerts.size(), 1u);
    EXPECT_EQ(host.alerts[0].kind, server::TRANSFER_CALL);
}

TEST_F(CallsOnline, ClearStatDisplayIsOnlyOfferedWhileDisconnected)
{
    StartCall(301, false);
    EXPECT_FALSE(calls.ViewListPopUpItems(0).clearStatDisplay);
}

TEST_F(CallsOnline, TwentyCallsWithinASecondWhileMinimizedAreAllAnswered)
{
    Settings().AutoOnHoldOnMinimized = true;
    host.minimized = true;
    QElapsedTimer clock;
    clock.start();
    // All twenty in one write, so they arrive in one read.
    QByteArray burst;
    for (int i = 0; i < 20; ++i)
        burst += *server::BuildClientListed(1000 + i, "10.0.0.9", "www.rush.example");
    ASSERT_TRUE(server.SendRaw(0, burst));
    ASSERT_TRUE(WaitFor(
        [&] {
            int answered = 0;
            for (int c = 1; c < server.ConnectionCount(); ++c)
                answered += !server.FramesOn(c).empty() && server.FramesOn(c)[0].code == chat::SUPPORT_ANSWERS_TO_CLI;
            return answered == 20;
        },
        60000));
    const qint64 allAnsweredMs = clock.elapsed();
    std::cout << "[ measure ] 20 calls answered " << allAnsweredMs << " ms after the first announcement\n";
    RecordProperty("all_answered_ms", int(allAnsweredMs));
    EXPECT_GE(allAnsweredMs, 500); // each after its answer's pause
    EXPECT_LT(allAnsweredMs, 6000); // side by side, not twenty pauses one after another

    EXPECT_TRUE(host.alerts.empty());
    EXPECT_EQ(server.ConnectionCount(), 21);
    EXPECT_EQ(List().Count(), 20); // every call is active, so none is pushed out
    EXPECT_EQ(calls.CallsOnHold(), 20);
    EXPECT_EQ(boxes.Texts().count(QStringLiteral("To many waiting chat requests !!!!")), 15);
    QSet<qint32> answered;
    for (int c = 1; c < server.ConnectionCount(); ++c)
        if (const auto a = chat::DecodeSupportAnswersToCli(server.FramesOn(c)[0].body))
            answered.insert(a->sessionCount);
    EXPECT_EQ(answered.size(), 20);
}

} // namespace
} // namespace velmora::test
