// TClientSocket against a real loopback peer: framing, closes, errors and
// handlers that re-enter the event loop or destroy their socket.
#include "session/ClientSocket.h"
#include "session/WsaErrors.h"
#include "support/FakeChatServer.h"
#include "support/TestUtil.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <fcntl.h>
#include <gtest/gtest.h>

#include <thread>

namespace velmora {
namespace {

using test::FakeChatServer;
using test::MakeFrame;
using test::RunFor;
using test::WaitFor;

// Records everything a socket reports.
struct Recorder {
    std::vector<Frame> frames;
    int connected = 0;
    int disconnected = 0;
    std::vector<int> errors;

    void Attach(TClientSocket &socket)
    {
        socket.SetFrameHandler([this](quint16 code, const QByteArray &body) { frames.push_back(Frame{code, body}); });
        QObject::connect(&socket, &TClientSocket::Connected, [this] { ++connected; });
        QObject::connect(&socket, &TClientSocket::Disconnected, [this] { ++disconnected; });
        QObject::connect(&socket, &TClientSocket::Error, [this](int code) { errors.push_back(code); });
    }
};

class ClientSocketTest : public ::testing::Test {
protected:
    void ConnectTo(TClientSocket &socket, Recorder &recorder)
    {
        recorder.Attach(socket);
        socket.SetHost(server.Host());
        socket.SetPort(server.Port());
        ASSERT_TRUE(socket.Open());
        ASSERT_TRUE(WaitFor([&] { return recorder.connected == 1; }));
        ASSERT_TRUE(server.WaitForConnections(1));
        EXPECT_TRUE(socket.IsConnected());
        EXPECT_EQ(socket.PeerAddress(), QStringLiteral("127.0.0.1"));
        EXPECT_GE(socket.Handle(), 0);
    }

    // Lets pending bytes reach the socket and any stray notification run.
    static void Settle(int ms = 100) { RunFor(ms); }

    FakeChatServer server;
};

// --- framing ----------------------------------------------------------------

TEST_F(ClientSocketTest, HeaderSplitAcrossSegmentsYieldsOneFrame)
{
    TClientSocket socket;
    Recorder rec;
    ConnectTo(socket, rec);
    const QByteArray frame = MakeFrame(0x0005, "hello");
    server.SendRaw(0, frame.left(3));
    Settle(60);
    EXPECT_TRUE(rec.frames.empty());
    server.SendRaw(0, frame.mid(3));
    ASSERT_TRUE(WaitFor([&] { return rec.frames.size() == 1; }));
    EXPECT_EQ(rec.frames[0].code, 0x0005);
    EXPECT_EQ(rec.frames[0].body, QByteArray("hello"));
}

TEST_F(ClientSocketTest, FramesInOneSegmentArriveInOrderWithEmptyAndLargeBodies)
{
    TClientSocket socket;
    Recorder rec;
    ConnectTo(socket, rec);
    QByteArray large(1300, '\0');
    for (int i = 0; i < large.size(); ++i)
        large[i] = char(i * 7);
    // Images back to back: bodies received into arrays of their own.
    QByteArray image(40000, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i * 11);
    server.SendRaw(0, MakeFrame(0x0101, "first") + MakeFrame(0x0006) + MakeFrame(0x000C, large)
                          + MakeFrame(0x000C, image) + MakeFrame(0x000C, image.left(32748)) + MakeFrame(0x0101, "last"));
    ASSERT_TRUE(WaitFor([&] { return rec.frames.size() == 6; }));
    EXPECT_EQ(rec.frames[0].code, 0x0101);
    EXPECT_EQ(rec.frames[0].body, QByteArray("first"));
    EXPECT_EQ(rec.frames[1].code, 0x0006);
    EXPECT_TRUE(rec.frames[1].body.isEmpty());
    EXPECT_EQ(rec.frames[2].body, large);
    EXPECT_EQ(rec.frames[3].body, image);
    EXPECT_EQ(rec.frames[4].body, image.left(32748));
    EXPECT_EQ(rec.frames[5].body, QByteArray("last"));
    Settle();
    EXPECT_EQ(rec.frames.size(), 6u);
    EXPECT_EQ(rec.disconnected, 0);
}

TEST_F(ClientSocketTest, PeerCloseDeliversCompleteFramesThenDisconnectedOnce)
{
    TClientSocket socket;
    Recorder rec;
    ConnectTo(socket, rec);
    bool frameSeenBeforeClose = false;
    QObject::connect(&socket, &TClientSocket::Disconnected, [&] { frameSeenBeforeClose = rec.frames.size() == 1; });
    server.SendRaw(0, MakeFrame(0x0005, "bye"));
    server.CloseConnection(0);
    ASSERT_TRUE(WaitFor([&] { return rec.disconnected == 1; }));
    EXPECT_TRUE(frameSeenBeforeClose);
    EXPECT_FALSE(socket.IsConnected());
    Settle();
    EXPECT_EQ(rec.disconnected, 1);
    EXPECT_TRUE(rec.errors.empty());
}

TEST_F(ClientSocketTest, PeerCloseInsideBodyDropsThePartialFrame)
{
    TClientSocket socket;
    Recorder rec;
    ConnectTo(socket, rec);
    server.SendRaw(0, MakeFrame(0x0005, QByteArray(100, 'x')).left(50));
    server.CloseConnection(0);
    ASSERT_TRUE(WaitFor([&] { return rec.disconnected == 1; }));
    EXPECT_TRUE(rec.frames.empty());
}

TEST_F(ClientSocketTest, OversizedHeaderDropsTheConnection)
{
    TClientSocket socket;
    Recorder rec;
    ConnectTo(socket, rec);
    QByteArray header(kHeaderSize, '\0');
    header[1] = 0x05;
    header[2] = 0x00; // body length 0x00100001: one byte over the limit
    header[3] = 0x10;
    header[5] = 0x01;
    server.SendRaw(0, MakeFrame(0x0005, "ok") + header + QByteArray(64, 'x'));
    ASSERT_TRUE(WaitFor([&] { return rec.disconnected == 1; }));
    ASSERT_EQ(rec.frames.size(), 1u); // the frame before the bad header still counts
    EXPECT_FALSE(socket.IsConnected());
    EXPECT_EQ(socket.Handle(), -1);
    EXPECT_TRUE(server.WaitForClosed(0));
}

TEST_F(ClientSocketTest, BodyOfExactlyTheLimitIsAccepted)
{
    TClientSocket socket;
    Recorder rec;
    ConnectTo(socket, rec);
    const QByteArray body(int(kMaxBodyLength), 'b');
    server.SendRaw(0, MakeFrame(0x010D, body));
    ASSERT_TRUE(WaitFor([&] { return rec.frames.size() == 1; }));
    EXPECT_EQ(rec.frames[0].body.size(), body.size());
    EXPECT_EQ(rec.disconnected, 0);
}

// --- connecting and errors --------------------------------------------------

TEST_F(ClientSocketTest, RefusedPortReportsConnectionRefusedAfterOpenReturns)
{
    server.StopAccepting();
    TClientSocket socket;
    Recorder rec;
    rec.Attach(socket);
    socket.SetHost(QStringLiteral("127.0.0.1"));
    socket.SetPort(server.Port());
    ASSERT_TRUE(socket.Open());
    EXPECT_TRUE(rec.errors.empty()); // never from inside Open()
    ASSERT_TRUE(WaitFor([&] { return !rec.errors.empty(); }));
    EXPECT_EQ(rec.errors, std::vector<int>{kWsaConnectionRefused});
    EXPECT_EQ(rec.connected, 0);
    EXPECT_FALSE(socket.IsConnected());
    EXPECT_EQ(socket.Handle(), -1);
}

TEST_F(ClientSocketTest, UnknownHostReportsHostNotFound)
{
    TClientSocket socket;
    Recorder rec;
    rec.Attach(socket);
    socket.SetHost(QStringLiteral("no-such-host.invalid"));
    socket.SetPort(30000);
    ASSERT_TRUE(socket.Open());
    ASSERT_TRUE(WaitFor([&] { return !rec.errors.empty(); }, 20000));
    EXPECT_EQ(rec.errors, std::vector<int>{kWsaHostNotFound});
}

TEST_F(ClientSocketTest, HostNameIsResolvedBeforeConnecting)
{
    TClientSocket socket;
    Recorder rec;
    rec.Attach(socket);
    socket.SetHost(QStringLiteral("localhost"));
    socket.SetPort(server.Port());
    ASSERT_TRUE(socket.Open());
    ASSERT_TRUE(WaitFor([&] { return rec.connected == 1 || !rec.errors.empty(); }));
    EXPECT_EQ(rec.connected, 1);
    EXPECT_EQ(socket.PeerAddress(), QStringLiteral("127.0.0.1"));
}

TEST_F(ClientSocketTest, CloseStopsNotificationsButSharedHandleKeepsDescriptor)
{
    TClientSocket socket;
    Recorder rec;
    ConnectTo(socket, rec);
    SocketHandlePtr held = socket.SharedHandle();
    const int fd = held->Fd();
    socket.Close();
    EXPECT_EQ(socket.Handle(), -1);
    EXPECT_FALSE(socket.IsConnected());
    // The worker's copy still names a valid descriptor: it can never write to
    // a descriptor number that was reused.
    EXPECT_NE(::fcntl(fd, F_GETFD), -1);
    EXPECT_TRUE(server.WaitForClosed(0));
    server.SendRaw(0, MakeFrame(1));
    Settle();
    EXPECT_TRUE(rec.frames.empty());
    EXPECT_EQ(rec.disconnected, 0);
    held.reset();
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
}

TEST_F(ClientSocketTest, DetachedSocketKeepsFramesForTheNextOwner)
{
    TClientSocket socket;
    Recorder first;
    ConnectTo(socket, first);
    socket.Detach();
    server.SendFrame(0, 0x0002, "ready");
    Settle();
    EXPECT_TRUE(first.frames.empty());
    std::vector<quint16> next;
    socket.SetFrameHandler([&](quint16 code, const QByteArray &) { next.push_back(code); });
    socket.ReadNow();
    EXPECT_EQ(next, std::vector<quint16>{0x0002});
}

// --- re-entrant handlers ----------------------------------------------------

TEST_F(ClientSocketTest, HandlerDeletingItsSocketStopsDispatchAtOnce)
{
    auto *socket = new TClientSocket;
    Recorder rec;
    ConnectTo(*socket, rec);
    QPointer<TClientSocket> guard(socket);
    int calls = 0;
    socket->SetFrameHandler([&](quint16, const QByteArray &) {
        ++calls;
        delete socket;
    });
    server.SendRaw(0, MakeFrame(1) + MakeFrame(2) + MakeFrame(3));
    ASSERT_TRUE(WaitFor([&] { return guard.isNull(); }));
    Settle();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(server.WaitForClosed(0));
}

TEST_F(ClientSocketTest, HandlerClosingItsSocketGetsNoMoreFramesNorDisconnected)
{
    TClientSocket socket;
    Recorder rec;
    ConnectTo(socket, rec);
    int calls = 0;
    socket.SetFrameHandler([&](quint16, const QByteArray &) {
        ++calls;
        socket.Close();
    });
    server.SendRaw(0, MakeFrame(1) + MakeFrame(2));
    server.CloseConnection(0);
    ASSERT_TRUE(WaitFor([&] { return calls > 0; }));
    Settle();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(rec.disconnected, 0);
}

// A handler that runs a nested event loop (as a modal dialog does) while the
// peer keeps sending.
class NestedLoopTest : public ClientSocketTest {
protected:
    void Run(TClientSocket &socket)
    {
        Recorder rec;
        ConnectTo(socket, rec);
        socket.SetFrameHandler([&](quint16 code, const QByteArray &) {
            entered.push_back(code);
            ++depth;
            maxDepth = std::max(maxDepth, depth);
            if (code == 1) {
                server.SendRaw(0, MakeFrame(3) + MakeFrame(4));
                QEventLoop loop;
                QTimer::singleShot(300, &loop, &QEventLoop::quit);
                loop.exec();
            }
            --depth;
            finished.push_back(code);
        });
        server.SendRaw(0, MakeFrame(1) + MakeFrame(2));
        ASSERT_TRUE(WaitFor([&] { return finished.size() == 4; }));
    }

    std::vector<quint16> entered;
    std::vector<quint16> finished;
    int depth = 0;
    int maxDepth = 0;
};

TEST_F(NestedLoopTest, FramesWaitForTheRunningHandlerByDefault)
{
    TClientSocket socket;
    Run(socket);
    EXPECT_EQ(entered, (std::vector<quint16>{1, 2, 3, 4}));
    EXPECT_EQ(finished, (std::vector<quint16>{1, 2, 3, 4}));
    EXPECT_EQ(maxDepth, 1);
}

TEST_F(NestedLoopTest, NestedDispatchEntersHandlersInArrivalOrder)
{
    TClientSocket socket;
    socket.SetNestedDispatch(true);
    Run(socket);
    EXPECT_EQ(entered, (std::vector<quint16>{1, 2, 3, 4}));
    EXPECT_EQ(finished.back(), 1); // the outer handler ends last
    EXPECT_EQ(maxDepth, 2);
}

// Frames already read when a handler opens its nested loop, with nothing more
// arriving after them: they must not wait for bytes that never come.
TEST_F(ClientSocketTest, BufferedFramesAreHandedOutInsideANestedLoop)
{
    TClientSocket socket;
    socket.SetNestedDispatch(true);
    Recorder rec;
    ConnectTo(socket, rec);
    std::vector<quint16> insideFirst;
    int handled = 0;
    bool inFirst = false;
    socket.SetFrameHandler([&](quint16 code, const QByteArray &) {
        ++handled;
        if (inFirst)
            insideFirst.push_back(code);
        if (code != 1)
            return;
        inFirst = true;
        QEventLoop loop; // as a modal alert runs it
        QTimer quit;
        QObject::connect(&quit, &QTimer::timeout, &loop, [&] {
            if (handled == 3)
                loop.quit();
        });
        quit.start(5);
        QTimer::singleShot(2000, &loop, &QEventLoop::quit);
        loop.exec();
        inFirst = false;
    });
    server.SendRaw(0, MakeFrame(1) + MakeFrame(2) + MakeFrame(3));
    ASSERT_TRUE(WaitFor([&] { return handled == 3 && !inFirst; }, 3000));
    EXPECT_EQ(insideFirst, (std::vector<quint16>{2, 3}));
}

TEST_F(ClientSocketTest, HeldSocketKeepsFramesAndItsCloseUntilReleased)
{
    TClientSocket socket;
    Recorder rec;
    ConnectTo(socket, rec);
    socket.Hold();
    server.SendRaw(0, MakeFrame(1) + MakeFrame(2));
    server.CloseConnection(0);
    Settle(200);
    EXPECT_TRUE(rec.frames.empty());
    EXPECT_EQ(rec.disconnected, 0);

    socket.Release();
    ASSERT_TRUE(WaitFor([&] { return rec.disconnected == 1; }));
    ASSERT_EQ(rec.frames.size(), 2u); // the frames first, then the close
    EXPECT_EQ(rec.frames[0].code, 1);
    EXPECT_EQ(rec.frames[1].code, 2);
}

} // namespace
} // namespace velmora
