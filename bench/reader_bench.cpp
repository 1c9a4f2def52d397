// Reader throughput and latency of TClientSocket on a loopback connection.
//
//   BM_BareRecvLoop        a blocking recv() loop draining the same bytes: the ceiling
//   BM_ClientSocketReader  the same bytes through the socket's notifier, buffer and frame dispatch
//   BM_ImageFrameLatency   last byte of a 32748-byte image frame written -> handler called
//
// By default each benchmark runs 5 times, the repetitions of all of them
// interleaved in random order so that a change in the machine's load weighs
// on the bare loop and the reader alike; compare the medians. Flags given on
// the command line override these.
#include "protocol/Codec.h"
#include "protocol/MessageCodes.h"
#include "session/ClientSocket.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <arpa/inet.h>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace velmora;

namespace {

constexpr int kFramesPerRound = 64; // 64 x 32 KiB bodies: 2 MiB a round
constexpr int kBodySize = 32 * 1024;

QByteArray Frame(quint16 code, const QByteArray &body)
{
    QByteArray frame(kHeaderSize, '\0');
    frame[0] = char(code >> 8);
    frame[1] = char(code & 0xFF);
    const quint32 length = quint32(body.size());
    for (int i = 0; i < 4; ++i)
        frame[2 + i] = char((length >> (24 - 8 * i)) & 0xFF);
    return frame + body;
}

void SendAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        data += n;
        size -= size_t(n);
    }
}

// A loopback listener on a free port.
struct Listener {
    int fd = -1;
    quint16 port = 0;
    Listener()
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(fd, 4);
        socklen_t length = sizeof address;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~Listener() { ::close(fd); }
    int Accept() const
    {
        const int peer = ::accept(fd, nullptr, nullptr);
        const int one = 1;
        ::setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return peer;
    }
};

// A TClientSocket connected to a fresh loopback peer; `writer` is the peer.
struct Connected {
    Listener listener;
    TClientSocket socket;
    int writer = -1;
    Connected()
    {
        socket.SetHost(QStringLiteral("127.0.0.1"));
        socket.SetPort(listener.port);
        socket.Open();
        // The kernel completes the handshake from the backlog; accept after.
        while (!socket.IsConnected())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        writer = listener.Accept();
    }
    ~Connected() { ::close(writer); }
};

void Spin(const std::atomic<int> &counter, int target)
{
    while (counter.load(std::memory_order_relaxed) < target)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void BM_BareRecvLoop(benchmark::State &state)
{
    Listener listener;
    const int reader = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(listener.port);
    ::connect(reader, reinterpret_cast<sockaddr *>(&address), sizeof address);
    const int writer = listener.Accept();
    const QByteArray frame = Frame(chat::IMAGE_DATA, QByteArray(kBodySize, 'i'));
    const qsizetype total = qsizetype(frame.size()) * kFramesPerRound;
    std::vector<char> buffer(64 * 1024);
    for (auto _ : state) {
        std::thread sender([&] {
            for (int i = 0; i < kFramesPerRound; ++i)
                SendAll(writer, frame.constData(), size_t(frame.size()));
        });
        qsizetype got = 0;
        while (got < total) {
            const ssize_t n = ::recv(reader, buffer.data(), buffer.size(), 0);
            if (n <= 0)
                break;
            got += n;
        }
        sender.join();
        benchmark::DoNotOptimize(got);
    }
    state.SetBytesProcessed(state.iterations() * total);
    ::close(writer);
    ::close(reader);
}
BENCHMARK(BM_BareRecvLoop)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ClientSocketReader(benchmark::State &state)
{
    Connected c;
    std::atomic<int> frames{0};
    qsizetype bodyBytes = 0;
    c.socket.SetFrameHandler([&](quint16, const QByteArray &body) {
        bodyBytes += body.size();
        frames.fetch_add(1, std::memory_order_relaxed);
    });
    const QByteArray frame = Frame(chat::IMAGE_DATA, QByteArray(kBodySize, 'i'));
    const qsizetype total = qsizetype(frame.size()) * kFramesPerRound;
    for (auto _ : state) {
        frames = 0;
        std::thread sender([&] {
            for (int i = 0; i < kFramesPerRound; ++i)
                SendAll(c.writer, frame.constData(), size_t(frame.size()));
        });
        Spin(frames, kFramesPerRound);
        sender.join();
    }
    benchmark::DoNotOptimize(bodyBytes);
    state.SetBytesProcessed(state.iterations() * total);
}
BENCHMARK(BM_ClientSocketReader)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ImageFrameLatency(benchmark::State &state)
{
    Connected c;
    using Clock = std::chrono::steady_clock;
    std::atomic<int> frames{0};
    std::atomic<Clock::rep> handledAt{0};
    c.socket.SetFrameHandler([&](quint16, const QByteArray &) {
        handledAt = Clock::now().time_since_epoch().count();
        frames.fetch_add(1, std::memory_order_relaxed);
    });
    // An image message: one data field holding the largest image allowed.
    QByteArray body(2, '\0');
    body[0] = char(kMaxImageBytes >> 8);
    body[1] = char(kMaxImageBytes & 0xFF);
    body.append(QByteArray(int(kMaxImageBytes), 'g'));
    const QByteArray frame = Frame(chat::IMAGE_DATA, body);
    int expected = 0;
    for (auto _ : state) {
        std::atomic<Clock::rep> lastByteAt{0};
        std::thread sender([&] {
            SendAll(c.writer, frame.constData(), size_t(frame.size() - 1));
            // Let the reader take everything but the last byte first.
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            lastByteAt = Clock::now().time_since_epoch().count();
            SendAll(c.writer, frame.constData() + frame.size() - 1, 1);
        });
        Spin(frames, ++expected);
        sender.join();
        const auto elapsed = Clock::duration(handledAt.load() - lastByteAt.load());
        state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
    }
}
BENCHMARK(BM_ImageFrameLatency)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::vector<char *> args{argv[0]};
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    char repetitions[] = "--benchmark_repetitions=5";
    char aggregates[] = "--benchmark_report_aggregates_only=true";
    args.insert(args.end(), {interleave, repetitions, aggregates});
    args.insert(args.end(), argv + 1, argv + argc);
    argc = int(args.size());
    args.push_back(nullptr);
    argv = args.data();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
