// The background closer: order, rhythm, and that nothing reaches a former
// owner after the hand-over.
#include "session/CloseSockets.h"
#include "session/ClientSocket.h"
#include "session/SocketBuff.h"
#include "support/FakeChatServer.h"
#include "support/TestUtil.h"

#include <QPointer>

#include <gtest/gtest.h>

namespace velmora {
namespace {

using test::FakeChatServer;
using test::WaitFor;

TClientSocket *ConnectedSocket(FakeChatServer &server, int index)
{
    auto *socket = new TClientSocket;
    socket->SetHost(server.Host());
    socket->SetPort(server.Port());
    if (!socket->Open() || !WaitFor([&] { return socket->IsConnected(); }) || !server.WaitForConnections(index + 1)) {
        delete socket;
        return nullptr;
    }
    return socket;
}

TEST(CloseSocketsTest, SocketsAreClosedOneAfterTheOtherAndReleased)
{
    FakeChatServer server;
    TCloseSockets closer;
    QPointer<TClientSocket> first = ConnectedSocket(server, 0);
    QPointer<TClientSocket> second = ConnectedSocket(server, 1);
    ASSERT_TRUE(first && second);
    int notifications = 0;
    for (TClientSocket *s : {first.data(), second.data()}) {
        s->SetFrameHandler([&](quint16, const QByteArray &) { ++notifications; });
        QObject::connect(s, &TClientSocket::Disconnected, [&] { ++notifications; });
    }

    const qint64 handedAt = server.ElapsedMs();
    closer.CloseInBackground(first);
    closer.CloseInBackground(second);
    // Traffic after the hand-over must not reach the former owner.
    server.SendFrame(0, 1);
    server.SendFrame(1, 1);

    ASSERT_TRUE(server.WaitForClosed(0, 10000));
    ASSERT_TRUE(server.WaitForClosed(1, 10000));
    const qint64 firstClosed = server.ClosedAtMs(0) - handedAt;
    const qint64 secondClosed = server.ClosedAtMs(1) - handedAt;
    EXPECT_GE(firstClosed, 150);
    EXPECT_LT(firstClosed, 1000);
    // The second waits for the first one's whole turn (close, settle, release).
    EXPECT_GE(secondClosed - firstClosed, 450);
    ASSERT_TRUE(WaitFor([&] { return first.isNull() && second.isNull(); }, 3000));
    EXPECT_EQ(notifications, 0);
    EXPECT_EQ(closer.Pending(), 0u);
}

TEST(CloseSocketsTest, QueuedPiecesLeaveBeforeTheShutdown)
{
    FakeChatServer server;
    TCloseSockets closer;
    TSocketBuff worker;
    TClientSocket *socket = ConnectedSocket(server, 0);
    ASSERT_TRUE(socket);
    const QByteArray body(8000, 'z');
    ASSERT_TRUE(QueueMessage(*socket, worker, test::MakeFrame(0x0006, body)));
    closer.CloseInBackground(socket);
    ASSERT_TRUE(server.WaitForClosed(0, 10000));
    ASSERT_EQ(server.Frames().size(), 1u);
    EXPECT_EQ(server.Frames()[0].body, body);
}

TEST(CloseSocketsTest, DestructionReleasesWhatIsStillQueued)
{
    FakeChatServer server;
    QPointer<TClientSocket> socket = ConnectedSocket(server, 0);
    ASSERT_TRUE(socket);
    {
        TCloseSockets closer;
        closer.CloseInBackground(socket);
        EXPECT_EQ(closer.Pending(), 1u);
    }
    EXPECT_TRUE(socket.isNull());
    EXPECT_TRUE(server.WaitForClosed(0));
}

} // namespace
} // namespace velmora
