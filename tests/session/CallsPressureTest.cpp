// Calls under pressure and in races: bursts that arrive in one read, repeated
// opening messages, late transfer data, floods of announcements, and boxes
// that run a real nested loop.
#include "CallsTestFixture.h"
#include "session/Exchange.h"

#include <QDir>
#include <QFile>
#include <QEventLoop>
#include <QTimer>

#include <set>

namespace velmora::test {
namespace {

using CallsPressure = CallsFixture;

// The longest the event loop was away while `run` went on, in ms.
template <typename F>
qint64 LongestStall(F run)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    tick.start(5);
    run();
    return std::max(longest, clock.elapsed() - last);
}

TEST_F(CallsPressure, RepeatedOpeningMessagesAreAnsweredOnce)
{
    const int c = StartCall(7, false);
    ASSERT_GE(c, 0);
    QByteArray burst;
    for (int i = 0; i < 30; ++i)
        burst += chat::BuildInitialConnect() + chat::BuildSessionReady(7);
    const qint64 stall = LongestStall([&] {
        ASSERT_TRUE(server.SendRaw(c, burst));
        ASSERT_TRUE(WaitForCode(c, chat::WELCOME_MSG));
        RunFor(600); // a second answer's pause and then some
    });
    EXPECT_EQ(CodesOn(c), (std::vector<quint16>{chat::SUPPORT_ANSWERS_TO_CLI, chat::WELCOME_MSG}));
    EXPECT_LT(stall, 400); // never away for an answer's 500 ms pause
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(CallsPressure, CallEndedDuringItsAnswerPause)
{
    server.SetSendInitialConnect(false);
    // A call on hold whose connection has just been greeted.
    const auto greeted = [&](qint32 sc, int connection) {
        calls.NewCall(sc, 0, QStringLiteral("s"), QStringLiteral("ip"), server::CLIENT_LISTED);
        host.AnswerNext(false);
        return server.WaitForConnections(connection + 1)
               && WaitFor([&] {
                      const ChatItem *record = List().FindCallBySession(sc);
                      return record && record->SendWorker;
                  })
               && server.SendRaw(connection, chat::BuildInitialConnect());
    };

    int exchanges = TExchange::Unfinished();
    ASSERT_TRUE(greeted(9, 0));
    ASSERT_TRUE(WaitFor([&] { return TExchange::Unfinished() > exchanges; })); // in the 500 ms pause
    calls.DropCallAtRow(0);
    ASSERT_TRUE(WaitFor([&] { return calls.RecordCount() == 0; }, 3000));
    ASSERT_TRUE(server.WaitForClosed(0, 10000));
    // The farewell waited for the answer's turn; the answer itself then went.
    const auto codes = CodesOn(0);
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.back(), chat::END_SESSION);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), chat::END_SESSION), 1);

    // Answered by another supporter meanwhile: nothing to say, nor any box.
    exchanges = TExchange::Unfinished();
    ASSERT_TRUE(greeted(10, 1));
    ASSERT_TRUE(WaitFor([&] { return TExchange::Unfinished() > exchanges; })); // in the pause
    calls.CallAnswered(10);
    ASSERT_TRUE(server.WaitForClosed(1, 10000));
    RunFor(600); // past the end of the pause
    EXPECT_TRUE(CodesOn(1).empty());
    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.Texts().join(u'|').toStdString();
}

TEST_F(CallsPressure, LateTransferDataIsAcknowledgedThroughTheOpenWindow)
{
    // The transferred call's window opens before its conversation arrives on
    // the server connection: the acknowledgement still goes out.
    const int c = StartCall(40, true, server::TRANSFER_CALL, 55);
    ASSERT_GE(c, 0);
    ASSERT_TRUE(SendSessionReady(c, 40));
    ASSERT_TRUE(WaitFor([&] { return host.windows.size() == 1; }));
    calls.TransferData(40, QByteArray("{\\rtf1 late}"));
    ASSERT_TRUE(WaitForCode(c, chat::TRANS_COMPLETE));
    std::vector<ReceivedFrame> acks;
    for (const ReceivedFrame &f : server.FramesOn(c))
        if (f.code == chat::SUPPORT_ANS_TO_TRANS || f.code == chat::TRANS_COMPLETE)
            acks.push_back(f);
    ASSERT_EQ(acks.size(), 2u);
    EXPECT_EQ(acks[0].code, chat::SUPPORT_ANS_TO_TRANS);
    EXPECT_GE(acks[1].atMs - acks[0].atMs, 450); // 500 ms, less scheduling jitter
    const auto answer = chat::DecodeSupportAnsToTrans(acks[0].body);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->sessionCount, 40);
    EXPECT_EQ(host.windows[0]->transferData, QByteArray("{\\rtf1 late}"));
}

TEST_F(CallsPressure, FourHundredCallsAreAllAnsweredInOrderWithFlatThreads)
{
    auto threads = [] { return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(); };
    // On-hold texts tick while the calls still connect, so a text sent
    // ahead of a call's answer would show.
    Settings().NotAvailTimeOut = 1;
    calls.ApplyTimerSettings();
    const qsizetype before = threads();
    // Four hundred calls, nobody answering: 25 alerts at most stand open,
    // the calls beyond them go on hold.
    constexpr int kCalls = 400;
    constexpr qint32 kFirst = 500;
    for (qint32 sc = kFirst; sc < kFirst + kCalls; ++sc)
        calls.NewCall(sc, 0, QStringLiteral("flood"), QStringLiteral("ip"), server::CLIENT_LISTED);
    const qsizetype during = threads();
    EXPECT_EQ(host.alerts.size(), 25u);
    EXPECT_EQ(calls.CallsOnHold(), kCalls - 25);
    EXPECT_LT(during - before, 5); // no send worker for a call not yet connected
    while (host.AnswerNext(false)) {
    }
    EXPECT_EQ(calls.RecordCount(), kCalls);
    EXPECT_EQ(calls.CallsOnHold(), kCalls);

    // Every call is answered on a connection of its own, first of all and
    // with its own session count, and only on-hold texts follow; one sender
    // serves them all, so the threads do not grow with the calls.
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(server.WaitForConnections(kCalls, 30000)) << server.ConnectionCount();
    const auto answeredAs = [&](int c) -> qint32 {
        const auto frames = server.FramesOn(c);
        if (frames.empty())
            return -1;
        const auto answer = frames[0].code == chat::SUPPORT_ANSWERS_TO_CLI
                                ? chat::DecodeSupportAnswersToCli(frames[0].body)
                                : std::nullopt;
        return answer ? answer->sessionCount : -2;
    };
    ASSERT_TRUE(WaitFor(
        [&] {
            for (int c = 0; c < kCalls; ++c)
                if (answeredAs(c) < 0)
                    return false;
            return true;
        },
        30000));
    EXPECT_LT(clock.elapsed(), 30000);
    std::set<qint32> sessions;
    for (int c = 0; c < kCalls; ++c) {
        sessions.insert(answeredAs(c));
        const auto codes = CodesOn(c);
        for (std::size_t i = 1; i < codes.size(); ++i)
            EXPECT_TRUE(codes[i] == chat::NOT_AVAIL_MSG || codes[i] == chat::NOT_AVAIL_REMINDER)
                << "connection " << c << " frame " << i << " code " << codes[i];
    }
    EXPECT_EQ(sessions.size(), std::size_t(kCalls));
    EXPECT_EQ(*sessions.begin(), kFirst);
    EXPECT_EQ(*sessions.rbegin(), kFirst + kCalls - 1);
    EXPECT_LE(threads() - before, 2);
    // ... and it has a name a support engineer can find.
    QStringList names;
    for (const QString &task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        if (comm.open(QIODevice::ReadOnly))
            names << QString::fromLatin1(comm.readAll()).trimmed();
    }
    EXPECT_TRUE(names.contains(QStringLiteral("velmora-send"))) << names.join(QLatin1Char(' ')).toStdString();
}

// --- boxes that run a real nested loop --------------------------------------------

// Shows every box as the real one does: a nested event loop that ends only
// when the test says so (or after a long time).
class LoopingBoxes final : public IBoxes {
public:
    LoopingBoxes() { SetBoxes(this); }
    ~LoopingBoxes() override
    {
        SetBoxes(nullptr);
        for (QEventLoop *loop : open)
            loop->quit();
    }
    BoxAnswer Show(const BoxRequest &request) override
    {
        shown.append(request);
        QEventLoop loop;
        open.push_back(&loop);
        QTimer::singleShot(8000, &loop, &QEventLoop::quit);
        loop.exec();
        std::erase(open, &loop);
        return BoxAnswer::Ok;
    }
    void Notify(const BoxRequest &request) override { notices.append(request); }
    void CloseAll()
    {
        for (QEventLoop *loop : open)
            loop->quit();
    }

    QList<BoxRequest> shown;
    QList<BoxRequest> notices;
    std::vector<QEventLoop *> open;
};

class CallsBurst : public CallsFixture {
protected:
    void SetUp() override
    {
        CallsFixture::SetUp();
        LogIn();
    }

    // `count` announcements in one write, nothing after them.
    void Announce(int count, qint32 first)
    {
        QByteArray burst;
        for (int i = 0; i < count; ++i)
            burst += *server::BuildClientListed(first + i, "10.0.0.9", "www.burst.example");
        ASSERT_TRUE(server.SendRaw(0, burst));
    }

    int AnsweredCalls() const
    {
        int answered = 0;
        for (int c = 1; c < server.ConnectionCount(); ++c) {
            const auto frames = server.FramesOn(c);
            answered += !frames.empty() && frames[0].code == chat::SUPPORT_ANSWERS_TO_CLI;
        }
        return answered;
    }
};

TEST_F(CallsBurst, AnnouncementsInOneSegmentStackTheirAlerts)
{
    // All three alerts are up at once; they are answered only then.
    Announce(3, 700);
    ASSERT_TRUE(WaitFor([&] { return host.alerts.size() == 3; }, 5000));
    for (size_t i = 0; i < 3; ++i)
        host.Answer(i, false);
    ASSERT_TRUE(WaitFor([&] { return AnsweredCalls() == 3; }));
}

TEST_F(CallsBurst, RowLimitWarningWhileMinimizedHoldsUpNoCall)
{
    LoopingBoxes looping;
    Settings().AutoOnHoldOnMinimized = true;
    host.minimized = true;
    Announce(8, 800);
    const bool all = WaitFor([&] { return AnsweredCalls() == 8; }, 5000);
    looping.CloseAll();
    EXPECT_TRUE(all) << AnsweredCalls() << " of 8 answered";
    EXPECT_TRUE(looping.shown.isEmpty());
    EXPECT_EQ(looping.notices.size(), 3); // rows 6, 7 and 8 found only active calls
    if (!looping.notices.isEmpty()) {
        EXPECT_EQ(looping.notices[0].text, QStringLiteral("To many waiting chat requests !!!!"));
    }
    EXPECT_EQ(calls.CallsOnHold(), 8);
}

} // namespace
} // namespace velmora::test
