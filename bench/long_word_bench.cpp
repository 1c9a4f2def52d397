// The worst stall of the GUI thread while a hostile conversation is shown in a
// chat pane on screen: a visitor's line of one 64 KiB word, and transferred
// conversations up to the 1 MiB frame limit, shown a piece per pass of the
// event loop. The stall is the longest the event loop is kept from running,
// from the insertion to the end of the layout and painting that follow it;
// its processor time is given too, which a loaded machine does not inflate.
//
//   BM_LongWordLine           AddRemoteLine with a 65,535-letter word
//   BM_LeanLongWordBaseline   the same word in a bare QTextBrowser, in 4 KiB
//                             paragraphs with the same break points
//   BM_Transferred/<payload>  TReceivedConversation::Show, then its pieces:
//     0 one word of 1 MiB          4 "x " 15,000 times at 1000 pt
//     1 \cf change per letter, 1 MiB 5 "x " 3,000 times at 1638 pt
//     2 45,000 colours in the table 6 "x " up to 1 MiB at 1000 pt
//     3 30,000 fonts in the table   7 groups nested 500,000 deep
//                                   8 \par up to 1 MiB
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
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>
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
// worst: wall time, and the processor time of the same pass. The passes go on
// until `busy` says the work is done, and 400 ms after.
Stall WorstStall(const std::function<void()> &insert, const std::function<bool()> &busy = {})
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
    QElapsedTimer clock;
    clock.start();
    while (busy && busy() && clock.elapsed() < 60000)
        pass([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); });
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

void RunStalls(benchmark::State &state, const std::function<void(TChatPane &)> &insert,
               const std::function<bool()> &busy = {})
{
    Settings().ChatSoundFile.clear();
    std::vector<double> walls;
    std::vector<double> cpus;
    for (auto _ : state) {
        std::unique_ptr<TChatPane> pane = ShownPane();
        const Stall stall = WorstStall([&] { insert(*pane); }, busy);
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
BENCHMARK(BM_LongWordLine)->UseManualTime()->Iterations(6)->Unit(benchmark::kMillisecond);

// The baseline: a bare QTextBrowser of the pane's size given the same word
// with the same break points, in paragraphs of 4 KiB, one per pass.
void BM_LeanLongWordBaseline(benchmark::State &state)
{
    QString broken;
    for (int at = 0; at < 65535; at += 512)
        broken += QString(std::min(512, 65535 - at), QLatin1Char('a')) + QChar(0x200B);
    std::vector<double> walls;
    for (auto _ : state) {
        QTextBrowser view;
        view.resize(TChatPane::kClientWidth, TChatPane::kClientHeight);
        view.show();
        view.append(QStringLiteral("Eve: hello"));
        WorstStall([] {});
        int next = 0;
        std::function<void()> piece = [&] {
            QTextCursor cursor(view.document());
            cursor.movePosition(QTextCursor::End);
            cursor.insertBlock();
            cursor.insertText(broken.mid(next, 4096));
            next += 4096;
            if (next < broken.size())
                QTimer::singleShot(0, &view, piece);
        };
        const Stall stall = WorstStall(piece, [&] { return next < broken.size(); });
        state.SetIterationTime(stall.wallMs / 1000.0);
        walls.push_back(stall.wallMs);
    }
    state.counters["median_stall_ms"] = Median(walls);
    state.counters["worst_stall_ms"] = *std::max_element(walls.begin(), walls.end());
}
BENCHMARK(BM_LeanLongWordBaseline)->UseManualTime()->Iterations(6)->Unit(benchmark::kMillisecond);

// The conversations another console could send, each within a frame.
QByteArray Payload(int which)
{
    constexpr qsizetype kFrame = 1024 * 1024;
    QByteArray rtf;
    switch (which) {
    case 0:
        return "{\\rtf1\\ansi " + QByteArray(kFrame, 'a') + "}";
    case 1:
        rtf = "{\\rtf1\\ansi{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}";
        while (rtf.size() < kFrame)
            rtf += "\\cf1 a\\cf2 b";
        return rtf + "}";
    case 2:
        rtf = "{\\rtf1{\\colortbl;";
        for (int i = 0; i < 45000; ++i)
            rtf += "\\red" + QByteArray::number(i % 256) + "\\green1\\blue2;";
        rtf += "}";
        for (int i = 0; i < 3000; ++i)
            rtf += "\\cf" + QByteArray::number(i * 15) + " word ";
        return rtf + "}";
    case 3:
        rtf = "{\\rtf1{\\fonttbl";
        for (int i = 0; i < 30000; ++i)
            rtf += "{\\f" + QByteArray::number(i) + "\\fcharset" + QByteArray::number(i % 256) + " F;}";
        rtf += "}";
        for (int i = 0; i < 3000; ++i)
            rtf += "\\f" + QByteArray::number(i * 10) + " word ";
        return rtf + "}";
    case 4:
    case 5:
    case 6: {
        const int words = which == 4 ? 15000 : which == 5 ? 3000 : int(kFrame / 2);
        rtf = which == 5 ? "{\\rtf1 \\fs3276 " : "{\\rtf1 \\fs2000 ";
        rtf.reserve(rtf.size() + words * 2 + 1);
        for (int i = 0; i < words && rtf.size() < kFrame - 2; ++i)
            rtf += "x ";
        return rtf + "}";
    }
    case 7:
        return "{\\rtf1 " + QByteArray(500000, '{') + "deep" + QByteArray(500000, '}') + "}";
    default:
        rtf = "{\\rtf1 ";
        while (rtf.size() < kFrame)
            rtf += "\\par ";
        return rtf + "}";
    }
}

void BM_Transferred(benchmark::State &state)
{
    const QByteArray rtf = Payload(int(state.range(0)));
    std::unique_ptr<TReceivedConversation> shown;
    RunStalls(
        state,
        [&](TChatPane &pane) {
            shown = std::make_unique<TReceivedConversation>(*pane.ChatOutPutText->document());
            shown->Show(rtf, pane.BaseFormat(), true);
        },
        [&] { return shown && shown->Showing(); });
    shown.reset();
}
BENCHMARK(BM_Transferred)->DenseRange(0, 8)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

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
