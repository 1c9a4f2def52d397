// Chat line latency with ten chat windows open, each on its own loopback
// connection: from the server side writing a CHAT_TEXT frame to the line
// being in the window's conversation document. Reports the median and the
// 95th percentile of the latency, and the process's resident memory before
// and after the ten windows opened.
//
// BM_LeanWindowsBaseline does the same with ten lean windows of a
// QTextBrowser and a QPlainTextEdit, as the figure to compare with.
//
// Run: QT_QPA_PLATFORM=offscreen ./chat_text_bench
#include "chat/ChatHost.h"
#include "chat/OneChatWindow.h"
#include "config/Settings.h"
#include "protocol/ChatMessages.h"
#include "session/ClientSocket.h"
#include "session/SocketBuff.h"

#include "QtBenchMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextDocument>
#include <QTextEdit>
#include <QPlainTextEdit>
#include <QTextBrowser>
#include <QTextCursor>
#include <QVBoxLayout>
#include <QtEndian>

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <memory>
#include <vector>

using namespace velmora;

namespace {

constexpr int kWindows = 10;

class NullCalls final : public IChatCalls {
public:
    void SetCallStatus(TClientSocket *, int) override {}
    void UpdateDisconnectTime(TClientSocket *) override {}
    void NullListViewItemData(TClientSocket *) override {}
    void SetCallName(TClientSocket *, const QString &) override {}
    void SetCallEmail(TClientSocket *, const QString &) override {}
    void SetCallPhone(TClientSocket *, const QString &) override {}
    QString StatusOfCall(qint32) const override { return {}; }
    void ChatWindowGone(IChatWindow *) override {}
};

// Resident set size in KiB, from /proc/self/status.
long ResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    // /proc files report a size of 0: read them whole, not up to their size.
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

bool Spin(const std::function<bool()> &done, int ms = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return true;
}

struct Chat {
    ChatItem record;
    QTcpSocket *peer = nullptr; // the server's end
    TOneChatWindow *window = nullptr;
};

// The baseline: ten lean chat windows (a QTextBrowser over a QPlainTextEdit),
// shown, each reading the same frames from its own loopback connection and
// appending the visitor's line; runs first, so its memory is the lower one.
class LeanChat : public QWidget {
public:
    explicit LeanChat(QTcpSocket *socket) : m_socket(socket)
    {
        auto *layout = new QVBoxLayout(this);
        layout->addWidget(conversation = new QTextBrowser(this), 3);
        layout->addWidget(new QPlainTextEdit(this), 1);
        resize(560, 420);
        QObject::connect(socket, &QTcpSocket::readyRead, this, [this] { Read(); });
    }
    QTextBrowser *conversation = nullptr;

private:
    void Read()
    {
        m_in += m_socket->readAll();
        while (m_in.size() >= 6) {
            const quint32 length = qFromBigEndian<quint32>(m_in.constData() + 2);
            if (m_in.size() < 6 + qsizetype(length))
                return;
            const QByteArray body = m_in.mid(6, length);
            m_in.remove(0, 6 + length);
            QTextCursor cursor(conversation->document());
            cursor.movePosition(QTextCursor::End);
            if (!conversation->document()->isEmpty())
                cursor.insertBlock();
            cursor.insertText(QStringLiteral("Eve: ") + QString::fromLatin1(body.mid(4)));
        }
    }
    QTcpSocket *m_socket;
    QByteArray m_in;
};

void BM_LeanWindowsBaseline(benchmark::State &state)
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        state.SkipWithError("cannot listen");
        return;
    }
    const long rssBefore = ResidentKiB();
    std::vector<std::unique_ptr<LeanChat>> windows;
    std::vector<QTcpSocket *> peers;
    for (int i = 0; i < kWindows; ++i) {
        auto *socket = new QTcpSocket;
        socket->connectToHost(QHostAddress::LocalHost, server.serverPort());
        if (!Spin([&] { return socket->state() == QAbstractSocket::ConnectedState && server.hasPendingConnections(); })) {
            state.SkipWithError("cannot connect");
            return;
        }
        peers.push_back(server.nextPendingConnection());
        windows.push_back(std::make_unique<LeanChat>(socket));
        socket->setParent(windows.back().get());
        windows.back()->show();
    }
    Spin([] { return false; }, 200);
    const long rssAfter = ResidentKiB();
    const QByteArray frame =
        *chat::BuildChatText(QByteArrayLiteral("Hello, I have a question about my order number 12345."));
    std::vector<double> latenciesUs;
    int next = 0;
    for (auto _ : state) {
        const int at = next;
        next = (next + 1) % kWindows;
        QTextDocument *document = windows[std::size_t(at)]->conversation->document();
        const int blocksBefore = document->blockCount();
        const bool empty = document->isEmpty();
        const auto start = std::chrono::steady_clock::now();
        peers[std::size_t(at)]->write(frame);
        peers[std::size_t(at)]->flush();
        if (!Spin([&] { return document->blockCount() > blocksBefore || (empty && !document->isEmpty()); })) {
            state.SkipWithError("line never arrived");
            break;
        }
        latenciesUs.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    if (!latenciesUs.empty()) {
        std::sort(latenciesUs.begin(), latenciesUs.end());
        state.counters["median_us"] = latenciesUs[latenciesUs.size() / 2];
        state.counters["p95_us"] = latenciesUs[latenciesUs.size() * 95 / 100];
        state.counters["max_us"] = latenciesUs.back();
    }
    state.counters["rss_10_windows_growth_KiB"] = double(rssAfter - rssBefore);
    windows.clear();
    for (QTcpSocket *peer : peers)
        delete peer;
}
BENCHMARK(BM_LeanWindowsBaseline)->Iterations(2000)->Unit(benchmark::kMicrosecond);

void BM_ChatTextToDocument(benchmark::State &state)
{
    Settings().ChatSoundFile.clear();
    Settings().SupportName = QStringLiteral("Anna");
    NullCalls calls;
    IChatHost host;
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        state.SkipWithError("cannot listen");
        return;
    }

    const long rssBefore = ResidentKiB();
    std::vector<std::unique_ptr<Chat>> chats;
    for (int i = 0; i < kWindows; ++i) {
        auto chat = std::make_unique<Chat>();
        auto *socket = new TClientSocket;
        socket->SetHost(QStringLiteral("127.0.0.1"));
        socket->SetPort(server.serverPort());
        socket->Open();
        if (!Spin([&] { return socket->IsConnected() && server.hasPendingConnections(); })) {
            state.SkipWithError("cannot connect");
            return;
        }
        chat->peer = server.nextPendingConnection();
        chat->record.Socket = socket;
        chat->record.SessionCount = 1000 + i;
        chat->record.SendWorker = std::make_unique<TSocketBuff>();
        chat->record.WebSite = QStringLiteral("www.example.org");
        chat->window = new TOneChatWindow(i, &chat->record, calls, host);
        chats.push_back(std::move(chat));
    }
    Spin([] { return false; }, 200); // activations, opening frames
    const long rssAfter = ResidentKiB();

    const QByteArray frame =
        *chat::BuildChatText(QByteArrayLiteral("Hello, I have a question about my order number 12345."));
    std::vector<double> latenciesUs;
    latenciesUs.reserve(4096);
    int next = 0;
    for (auto _ : state) {
        Chat &chat = *chats[std::size_t(next)];
        next = (next + 1) % kWindows;
        QTextDocument *document = chat.window->ChatOutPutText->document();
        const int blocksBefore = document->blockCount();
        const auto start = std::chrono::steady_clock::now();
        chat.peer->write(frame);
        chat.peer->flush();
        if (!Spin([&] { return document->blockCount() > blocksBefore || (blocksBefore == 1 && !document->isEmpty()); })) {
            state.SkipWithError("line never arrived");
            break;
        }
        const auto end = std::chrono::steady_clock::now();
        latenciesUs.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }

    if (!latenciesUs.empty()) {
        std::sort(latenciesUs.begin(), latenciesUs.end());
        state.counters["median_us"] = latenciesUs[latenciesUs.size() / 2];
        state.counters["p95_us"] = latenciesUs[latenciesUs.size() * 95 / 100];
        state.counters["max_us"] = latenciesUs.back();
    }
    state.counters["rss_before_KiB"] = double(rssBefore);
    state.counters["rss_10_windows_KiB"] = double(rssAfter);
    state.counters["rss_10_windows_growth_KiB"] = double(rssAfter - rssBefore);

    for (auto &chat : chats)
        delete chat->window;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
// 2000 lines: 200 per window, a long but realistic conversation.
BENCHMARK(BM_ChatTextToDocument)->Iterations(2000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    return velmora::bench::RunWithQt(argc, argv);
}
