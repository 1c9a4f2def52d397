// The worst stall of the GUI thread while a hostile conversation is shown in a
// chat pane on screen: a visitor's line of one 64 KiB word, and a transferred
// conversation of 1 MiB of RTF (one word, or one colour change per letter).
// The stall is the longest the event loop is kept from running, from the
// insertion to the end of the layout and painting that follow it; its
// processor time is given too, which a loaded machine does not inflate.
//
//   BM_LongWordLine           AddRemoteLine with a 65,535-letter word
//   BM_TransferredOneWord     InsertReceivedConversation, 1 MiB of one word
//   BM_TransferredColours     InsertReceivedConversation, 1 MiB, \cf change per letter
//   BM_RawLongWord/<letters>  the same word put in with a bare insertText, no
//                             break opportunities: the cost as it was
//
// Run: QT_QPA_PLATFORM=offscreen ./long_word_bench --benchmark_repetitions=5
#include "chat/ChatPane.h"
#include "chat/TransferText.h"
#include "config/Settings.h"

#include "QtBenchMain.h"

#include <QElapsedTimer>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <memory>

using namespace velmora;

namespace {

// This thread's processor time in ms: on a loaded machine the wall clock
// also counts the time other processes had the processor.
double ThreadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

struct Stall {
    double wallMs = 0;
    double cpuMs = 0;
};

// How long `insert` and the event-loop passes after it block the loop, at
// worst: wall time, and the processor time of the same pass.
Stall WorstStall(const std::function<void()> &insert)
{
    Stall worst;
    const auto pass = [&](const std::function<void()> &run) {
        QElapsedTimer clock;
        clock.start();
        const double cpu = ThreadCpuMs();
        run();
        const Stall stall{double(clock.nsecsElapsed()) / 1e6, ThreadCpuMs() - cpu};
        if (stall.wallMs > worst.wallMs)
            worst.wallMs = stall.wallMs;
        worst.cpuMs = std::max(worst.cpuMs, stall.cpuMs);
    };
    pass(insert);
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 400)
        pass([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); });
    return worst;
}

std::unique_ptr<TChatPane> ShownPane()
{
    auto pane = std::make_unique<TChatPane>();
    pane->resize(TChatPane::kClientWidth, TChatPane::kClientHeight);
    pane->show();
    pane->AddRemoteLine(QStringLiteral("Eve"), QStringLiteral("hello"));
    WorstStall([] {});
    return pane;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void RunStalls(benchmark::State &state, const std::function<void(TChatPane &)> &insert)
{
    Settings().ChatSoundFile.clear();
    std::vector<double> walls;
    std::vector<double> cpus;
    for (auto _ : state) {
        std::unique_ptr<TChatPane> pane = ShownPane();
        const Stall stall = WorstStall([&] { insert(*pane); });
        state.SetIterationTime(stall.wallMs / 1000.0);
        walls.push_back(stall.wallMs);
        cpus.push_back(stall.cpuMs);
    }
    state.counters["median_stall_ms"] = Median(walls);
    state.counters["worst_stall_ms"] = *std::max_element(walls.begin(), walls.end());
    state.counters["median_stall_cpu_ms"] = Median(cpus);
}

void BM_LongWordLine(benchmark::State &state)
{
    const QString word(65535, QLatin1Char('a'));
    RunStalls(state, [&](TChatPane &pane) { pane.AddRemoteLine(QStringLiteral("Eve"), word); });
}
BENCHMARK(BM_LongWordLine)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_TransferredOneWord(benchmark::State &state)
{
    const QByteArray rtf = "{\\rtf1\\ansi " + QByteArray(1024 * 1024, 'a') + "}";
    RunStalls(state, [&](TChatPane &pane) {
        InsertReceivedConversation(*pane.ChatOutPutText->document(), rtf, pane.BaseFormat());
    });
}
BENCHMARK(BM_TransferredOneWord)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_TransferredColours(benchmark::State &state)
{
    QByteArray rtf = "{\\rtf1\\ansi{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}";
    while (rtf.size() < 1024 * 1024)
        rtf += "\\cf1 a\\cf2 b";
    rtf += "}";
    RunStalls(state, [&](TChatPane &pane) {
        InsertReceivedConversation(*pane.ChatOutPutText->document(), rtf, pane.BaseFormat());
    });
}
BENCHMARK(BM_TransferredColours)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_RawLongWord(benchmark::State &state)
{
    const QString word(int(state.range(0)), QLatin1Char('a'));
    RunStalls(state, [&](TChatPane &pane) {
        QTextCursor cursor(pane.ChatOutPutText->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertBlock();
        cursor.insertText(word);
    });
}
BENCHMARK(BM_RawLongWord)->Arg(32768)->Arg(65536)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return velmora::bench::RunWithQt(argc, argv);
}
