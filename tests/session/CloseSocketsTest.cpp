// The background closer: order, rhythm, and that nothing reaches a former
// owner after the hand-over.
#include "session/CloseSockets.h"
#include "session/ClientSocket.h"
#include "session/SocketBuff.h"
#include "support/FakeChatServer.h"
#include "support/TestUtil.h"

#include <QPointer>

#include <algorithm>
#include <vector>

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

// A burst of hang-ups must not pile up open descriptors: every connection is
// shut down at the hand-over and all are released together a moment later.
TEST(CloseSocketsTest, ABurstOfHangUpsIsShutDownAtOnceAndReleasedTogether)
{
    constexpr int kSockets = 24;
    FakeChatServer server;
    TCloseSockets closer;
    std::vector<QPointer<TClientSocket>> sockets;
    int notifications = 0;
    for (int i = 0; i < kSockets; ++i) {
        TClientSocket *s = ConnectedSocket(server, i);
        ASSERT_TRUE(s);
        s->SetFrameHandler([&](quint16, const QByteArray &) { ++notifications; });
        QObject::connect(s, &TClientSocket::Disconnected, [&] { ++notifications; });
        sockets.emplace_back(s);
    }

    const qint64 handedAt = server.ElapsedMs();
    for (auto &s : sockets)
        closer.CloseInBackground(s);
    // Traffic after the hand-over must not reach the former owner.
    server.SendFrame(0, 1);
    for (int i = 0; i < kSockets; ++i) {
        ASSERT_TRUE(server.WaitForClosed(i, 10000));
        EXPECT_LT(server.ClosedAtMs(i) - handedAt, 1000) << i;
    }
    // One at a time with its own pauses, this took about half a second each.
    ASSERT_TRUE(WaitFor([&] { return closer.Pending() == 0; }, 10000));
    EXPECT_LT(server.ElapsedMs() - handedAt, 5000); // 24 turns of half a second were 12 s
    ASSERT_TRUE(WaitFor([&] { return std::all_of(sockets.begin(), sockets.end(), [](auto &s) { return s.isNull(); }); }));
    EXPECT_EQ(notifications, 0);
}

TEST(CloseSocketsTest, WhatWasSentLeavesBeforeTheShutdown)
{
    FakeChatServer server;
    TCloseSockets closer;
    TSocketBuff worker;
    TClientSocket *socket = ConnectedSocket(server, 0);
    ASSERT_TRUE(socket);
    const QByteArray body(200000, 'z');
    ASSERT_TRUE(QueueMessage(*socket, worker, test::MakeFrame(0x0006, body)));
    // As the farewells do: the worker's queue is emptied before the hand-over.
    ASSERT_TRUE(WaitFor([&] { return worker.QueuedPieces() == 0; }));
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
