// The send worker against real loopback sockets, including a peer that reads
// slowly through a small receive buffer.
#include "session/SocketBuff.h"
#include "support/FakeChatServer.h"
#include "support/TestUtil.h"

#include <QElapsedTimer>

#include <arpa/inet.h>
#include <atomic>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace velmora {
namespace {

// A blocking loopback pair: `client` is what the worker writes to, `peer`
// the far end. `rcvbuf` shrinks the peer's receive buffer.
struct LoopbackPair {
    SocketHandlePtr client;
    int peer = -1;

    explicit LoopbackPair(int rcvbuf = 0)
    {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        if (rcvbuf > 0) // inherited by the accepted socket
            ::setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(listener, 1);
        socklen_t length = sizeof address;
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (rcvbuf > 0)
            ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &rcvbuf, sizeof rcvbuf);
        ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
        peer = ::accept(listener, nullptr, nullptr);
        ::close(listener);
        client = std::make_shared<SocketHandle>(fd);
    }
    ~LoopbackPair()
    {
        if (peer >= 0)
            ::close(peer);
    }

    // Reads `count` bytes, `step` at a time with a pause between reads.
    QByteArray ReadSlowly(qsizetype count, int step, std::chrono::microseconds pause) const
    {
        QByteArray got;
        std::vector<char> chunk(static_cast<std::size_t>(step));
        while (got.size() < count) {
            const ssize_t n = ::recv(peer, chunk.data(), chunk.size(), 0);
            if (n <= 0)
                break;
            got.append(chunk.data(), n);
            std::this_thread::sleep_for(pause);
        }
        return got;
    }
};

QByteArray Pattern(qsizetype size, int seed)
{
    QByteArray bytes(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + seed) & 0xFF);
    return bytes;
}

std::vector<qsizetype> Sizes(const std::vector<QByteArray> &pieces)
{
    std::vector<qsizetype> sizes;
    for (const QByteArray &p : pieces)
        sizes.push_back(p.size());
    return sizes;
}

TEST(SocketBuffTest, MessagesAreCutInto512BytePieces)
{
    EXPECT_EQ(Sizes(TSocketBuff::SplitPieces(QByteArray(511, 'a'))), std::vector<qsizetype>{511});
    EXPECT_EQ(Sizes(TSocketBuff::SplitPieces(QByteArray(512, 'a'))), std::vector<qsizetype>{512});
    EXPECT_EQ(Sizes(TSocketBuff::SplitPieces(QByteArray(1025, 'a'))), (std::vector<qsizetype>{512, 512, 1}));
    const QByteArray message = Pattern(1200, 3);
    const auto pieces = TSocketBuff::SplitPieces(message);
    EXPECT_EQ(Sizes(pieces), (std::vector<qsizetype>{512, 512, 176}));
    EXPECT_EQ(pieces[0] + pieces[1] + pieces[2], message);
}

TEST(SocketBuffTest, MessagesArriveIntactAndInOrderThroughPartialSends)
{
    LoopbackPair pair(2048);
    // Linux TCP takes a 512-byte write whole or not at all, so the socket is
    // made to accept at most 100 bytes a call, and every third call nothing.
    std::atomic<int> calls{0};
    TSocketBuff worker([&](int fd, const char *data, std::size_t size) -> ssize_t {
        if (++calls % 3 == 0) {
            errno = EAGAIN;
            return -1;
        }
        return ::send(fd, data, std::min<std::size_t>(size, 100), MSG_NOSIGNAL | MSG_DONTWAIT);
    });
    const QByteArray filler = Pattern(64 * 1024, 1);
    const QByteArray message = Pattern(1200, 2);
    worker.Enqueue(pair.client, filler);
    worker.Enqueue(pair.client, message);
    worker.Enqueue(pair.client, QByteArray("tail"));
    const QByteArray got = pair.ReadSlowly(filler.size() + message.size() + 4, 700, std::chrono::microseconds(200));
    EXPECT_EQ(got, filler + message + QByteArray("tail"));
    EXPECT_FALSE(worker.WaitUntilSent());
    EXPECT_GT(worker.PartialSends(), 100u);
}

TEST(SocketBuffTest, LastPieceIsRetriedAfterAPause)
{
    LoopbackPair pair;
    std::atomic<int> calls{0};
    TSocketBuff worker([&](int fd, const char *data, std::size_t size) -> ssize_t {
        ++calls;
        return ::send(fd, data, std::min<std::size_t>(size, 200), MSG_NOSIGNAL | MSG_DONTWAIT);
    });
    QElapsedTimer clock;
    clock.start();
    worker.Enqueue(pair.client, Pattern(500, 4)); // one piece, three sends
    const QByteArray got = pair.ReadSlowly(500, 500, std::chrono::microseconds(0));
    EXPECT_EQ(got, Pattern(500, 4));
    EXPECT_EQ(calls.load(), 3);
    // A slow peer with a single piece left gets 200 ms between tries.
    EXPECT_GE(clock.elapsed(), 380);
}

TEST(SocketBuffTest, WaitUntilSentReportsDrainedOrStuckQueues)
{
    TSocketBuff worker;
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(worker.WaitUntilSent());
    EXPECT_LT(clock.elapsed(), 1500); // returned, rather than sat out the 3.2 s

    LoopbackPair pair(4096);
    worker.Enqueue(pair.client, Pattern(4096, 5));
    std::thread reader([&] { pair.ReadSlowly(4096, 4096, std::chrono::microseconds(0)); });
    EXPECT_FALSE(worker.WaitUntilSent());
    reader.join();

    // A peer that never reads: the queue cannot drain.
    worker.Enqueue(pair.client, Pattern(4 * 1024 * 1024, 6));
    clock.restart();
    EXPECT_TRUE(worker.WaitUntilSent());
    EXPECT_GE(clock.elapsed(), 3000);
    EXPECT_LT(clock.elapsed(), 15000); // gave up, rather than waited for ever
}

TEST(SocketBuffTest, DestructionFreesQueuedPiecesPromptly)
{
    LoopbackPair pair(4096);
    std::weak_ptr<SocketHandle> watch = pair.client;
    QElapsedTimer clock;
    {
        TSocketBuff worker;
        worker.Enqueue(pair.client, Pattern(1024 * 1024, 7));
        pair.client.reset(); // only the queued pieces hold the descriptor now
        ASSERT_TRUE(test::WaitFor([&] { return worker.PartialSends() > 0 || worker.QueuedPieces() < 2048; }, 10000));
        EXPECT_GT(worker.QueuedPieces(), 0u);
        clock.start();
    }
    EXPECT_LT(clock.elapsed(), 3000); // freed, not drained (the peer never reads)
    EXPECT_TRUE(watch.expired());
}

TEST(SocketBuffTest, DeadPeerDropsThatSocketsPiecesInsteadOfSpinning)
{
    LoopbackPair pair(4096);
    TSocketBuff worker;
    worker.Enqueue(pair.client, Pattern(1024 * 1024, 8));
    // Reset by the peer: further sends fail with a hard error.
    linger reset{1, 0};
    ::setsockopt(pair.peer, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(pair.peer);
    pair.peer = -1;
    ASSERT_TRUE(test::WaitFor([&] { return worker.QueuedPieces() == 0; }, 10000));
    EXPECT_GT(worker.DroppedPieces(), 0u);
}

TEST(SocketBuffTest, QueueMessageNeedsAConnectedSocket)
{
    TSocketBuff worker;
    TClientSocket socket;
    EXPECT_FALSE(QueueMessage(socket, worker, test::MakeFrame(1)));

    test::FakeChatServer server;
    socket.SetHost(server.Host());
    socket.SetPort(server.Port());
    ASSERT_TRUE(socket.Open());
    ASSERT_TRUE(test::WaitFor([&] { return socket.IsConnected(); }));
    EXPECT_TRUE(QueueMessage(socket, worker, test::MakeFrame(0x0113, "x")));
    ASSERT_TRUE(server.WaitForFrames(1));
    EXPECT_EQ(server.Frames()[0].code, 0x0113);
    EXPECT_EQ(server.Frames()[0].body, QByteArray("x"));

    socket.Close();
    EXPECT_FALSE(QueueMessage(socket, worker, test::MakeFrame(1)));
}

} // namespace
} // namespace velmora
