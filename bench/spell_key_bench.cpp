// What the spelling check costs a key press in the message box: a message of
// 2,000 characters in one paragraph (the worst case: the highlighter checks
// the paragraph that changed), a letter typed in its middle and taken out
// again, with the event-loop pass that repaints the box. The goal is under
// 2 ms of GUI time at p99.
//
//   BM_KeyPress/0   spelling off (the box as it was)
//   BM_KeyPress/1   spelling on: the desktop's dictionary through Enchant
//                   when one is installed, else a word list of the text's words
//
// Counters: p50_ms and p99_ms of the single key presses, wall time; cpu_p50_ms
// and cpu_p99_ms the GUI thread's processor time for them, which a loaded
// machine does not inflate.
// Run: QT_QPA_PLATFORM=offscreen ./spell_key_bench
#include "chat/ChatPane.h"
#include "config/Settings.h"
#include "spell/SpellChecker.h"

#include "QtBenchMain.h"

#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <vector>

using namespace velmora;

namespace {

QString Message()
{
    const QString words = QStringLiteral(
        "Thank you for waiting, I have looked at your ordr and the parcel left our store yesterday. "
        "You can follow it on https://track.example.com/parcel/12345 or write to help@example.com "
        "if it does not arive by Friday. Recieve our apologies for the delay, ");
    QString text;
    while (text.size() < 2000)
        text += words;
    return text.left(2000);
}

double ThreadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

void Key(QWidget *target, int key, const QString &text)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QApplication::sendEvent(target, &release);
}

void BM_KeyPress(benchmark::State &state)
{
    Settings().SpellLanguage = QString::fromLatin1(kSpellOff);
    TChatPane pane;
    pane.resize(500, 400);
    pane.show();
    QTemporaryDir dir;
    std::unique_ptr<ISpellChecker> wordList;
    if (state.range(0)) {
        ISpellChecker *checker = SpellCheckerFor(QString());
        if (!checker) {
            QFile file(dir.filePath(QStringLiteral("words.txt")));
            if (file.open(QIODevice::WriteOnly))
                file.write(Message().toLower().replace(QLatin1Char(' '), QLatin1Char('\n')).toUtf8());
            file.close();
            wordList = WordListChecker(file.fileName());
            checker = wordList.get();
        }
        if (!checker) {
            state.SkipWithError("no Enchant");
            return;
        }
        pane.UseSpellChecker(checker);
    }
    QPlainTextEdit *input = pane.InputText;
    input->setPlainText(Message());
    QTextCursor middle = input->textCursor();
    middle.setPosition(1000);
    input->setTextCursor(middle);
    QCoreApplication::processEvents();

    std::vector<double> ms;
    std::vector<double> cpuMs;
    bool add = true;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        const double cpu = ThreadCpuMs();
        if (add)
            Key(input, Qt::Key_X, QStringLiteral("x"));
        else
            Key(input, Qt::Key_Backspace, QString());
        QCoreApplication::processEvents();
        const double elapsed = double(clock.nsecsElapsed()) / 1e6;
        cpuMs.push_back(ThreadCpuMs() - cpu);
        state.SetIterationTime(elapsed / 1e3);
        ms.push_back(elapsed);
        add = !add;
    }
    const auto percentile = [](std::vector<double> &v, std::size_t p) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[std::min(v.size() - 1, v.size() * p / 100)];
    };
    state.counters["p50_ms"] = percentile(ms, 50);
    state.counters["p99_ms"] = percentile(ms, 99);
    state.counters["cpu_p50_ms"] = percentile(cpuMs, 50);
    state.counters["cpu_p99_ms"] = percentile(cpuMs, 99);
}
BENCHMARK(BM_KeyPress)->Arg(0)->Arg(1)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    return velmora::bench::RunWithQt(argc, argv);
}
