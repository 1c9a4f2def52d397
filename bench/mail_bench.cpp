// A 2,000-line transcript from chat end to a local SMTP server.
//
//   BM_ComposeTranscript   header block, RTF of the conversation, letter and attachment file
//   BM_DeliverTranscript   the queue sends it, attachment and all, to aiosmtpd on 127.0.0.1;
//                          /1 with DebugMail on and the "Mail Send View..." window open,
//                          which should cost little more than /0
//
// Each reports `heap_peak_kib`: the allocator's peak of bytes in use during
// the step above what was in use before it (sampled from mallinfo2 every
// 200 us on a thread of its own). The resident size is no measure here: pages
// that earlier iterations freed stay resident and hide any growth. The
// message is streamed, so delivery should grow by far less than the
// attachment's size.
//
// Run with --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
// and compare the medians.
#include "config/Settings.h"
#include "diag/ui/DebugWinDlg.h"
#include "mail/Mailbuff.h"
#include "mail/Transcript.h"
#include "richtext/HeaderLines.h"
#include "richtext/RtfWriter.h"

#include "QtBenchMain.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTextDocument>

#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <malloc.h>
#include <thread>

using namespace velmora;

namespace {

constexpr int kLines = 2000;

std::size_t HeapInUse()
{
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd; // small blocks and mmapped ones
}

// The highest heap use seen from construction to Stop(), above the use at
// construction.
class HeapPeak {
public:
    HeapPeak() : m_base(HeapInUse()), m_peak(m_base)
    {
        m_sampler = std::thread([this] {
            while (!m_stop.load(std::memory_order_relaxed)) {
                Sample();
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
    }
    ~HeapPeak() { Stop(); }
    long StopKib()
    {
        Stop();
        return long((m_peak.load() - m_base) / 1024);
    }

private:
    void Stop()
    {
        if (m_sampler.joinable()) {
            m_stop = true;
            m_sampler.join();
            Sample();
        }
    }
    void Sample()
    {
        const std::size_t now = HeapInUse();
        std::size_t peak = m_peak.load();
        while (now > peak && !m_peak.compare_exchange_weak(peak, now)) {
        }
    }
    const std::size_t m_base;
    std::atomic<std::size_t> m_peak;
    std::atomic<bool> m_stop{false};
    std::thread m_sampler;
};

void Conversation(QTextDocument &doc)
{
    QTextCursor c(&doc);
    QTextCharFormat name;
    name.setForeground(Qt::blue);
    name.setFontWeight(QFont::Bold);
    QTextCharFormat text;
    for (int i = 0; i < kLines; ++i) {
        c.insertText(i % 2 ? QStringLiteral("Dana: ") : QStringLiteral("Eve: "), name);
        c.insertText(QStringLiteral("line %1 of the chat, with some words and an \u00e9 in it").arg(i), text);
        c.insertBlock();
    }
}

struct Peer {
    Peer()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        port = probe.serverPort();
        probe.close();
        process.start(QStringLiteral("/usr/bin/python3"),
                      {QStringLiteral("-m"), QStringLiteral("aiosmtpd"), QStringLiteral("-n"), QStringLiteral("-l"),
                       QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("-c"),
                       QStringLiteral("aiosmtpd.handlers.Sink")});
        process.waitForStarted();
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired()) {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, port);
            if (s.waitForConnected(200))
                break;
            QThread::msleep(100);
        }
    }
    ~Peer()
    {
        process.kill();
        process.waitForFinished();
    }
    QProcess process;
    quint16 port = 0;
};

TTranscriptSource Source(QTextDocument &doc)
{
    InsertHeaderLines(doc,
                      TranscriptHeaderLines({QStringLiteral("eve@example.org"), QStringLiteral("10:00:00"),
                                             QStringLiteral("11:00:00"), QStringLiteral("Dana")}),
                      QColor(0, 128, 0));
    TTranscriptSource s;
    s.Name = QStringLiteral("Eve");
    s.Email = QStringLiteral("eve@example.org");
    s.Conversation = DocumentToRtf(doc);
    return s;
}

void BM_ComposeTranscript(benchmark::State &state)
{
    QTemporaryDir dir;
    QFile t(dir.filePath(QStringLiteral("base_mail.txt")));
    t.open(QIODevice::WriteOnly);
    t.write("x\r\nThank you for chatting with us.\r\n");
    t.close();
    TSettings s;
    s.SupportMailAddr = QStringLiteral("support@v.test");
    TTranscriptComposer composer(dir.path());
    long growth = 0;
    qint64 size = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTextDocument doc;
        Conversation(doc);
        HeapPeak peak;
        state.ResumeTiming();
        std::optional<TMailRecord> r = composer.Compose(Source(doc), s);
        state.PauseTiming();
        growth = std::max(growth, peak.StopKib());
        size = QFile(r->AttachFile).size();
        QFile::remove(r->AttachFile);
        state.ResumeTiming();
    }
    state.counters["heap_peak_kib"] = double(growth);
    state.counters["attachment_kib"] = double(size) / 1024;
}
BENCHMARK(BM_ComposeTranscript)->Unit(benchmark::kMillisecond);

void BM_DeliverTranscript(benchmark::State &state)
{
    Peer peer;
    QTemporaryDir dir;
    QFile t(dir.filePath(QStringLiteral("base_mail.txt")));
    t.open(QIODevice::WriteOnly);
    t.write("x\r\nThank you for chatting with us.\r\n");
    t.close();
    TSettings s;
    s.SupportMailAddr = QStringLiteral("support@v.test");
    s.SMTP_Server = QStringLiteral("127.0.0.1");
    s.SMTP_Port = peer.port;
    s.DebugMail = state.range(0) != 0;
    TTranscriptComposer composer(dir.path());
    TMailBuff mail;
    TDebugWinDlg window(mail.DebugLines());
    mail.NewSession(s);
    long growth = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::optional<TMailRecord> r;
        {
            QTextDocument doc;
            Conversation(doc);
            r = composer.Compose(Source(doc), s);
        }
        HeapPeak peak;
        state.ResumeTiming();
        mail.AddMail(std::move(*r));
        QDeadlineTimer deadline(60000);
        while (mail.WaitingCount() > 0 && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        state.PauseTiming();
        growth = std::max(growth, peak.StopKib());
        if (mail.WaitingCount() > 0)
            state.SkipWithError("not delivered");
        state.ResumeTiming();
    }
    state.counters["heap_peak_kib"] = double(growth);
}
BENCHMARK(BM_DeliverTranscript)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

int main(int argc, char **argv)
{
    return velmora::bench::RunWithQt(argc, argv);
}
