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
// Counters: p50_ms and p99_ms of the single key presses.
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
    bool add = true;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        if (add)
            Key(input, Qt::Key_X, QStringLiteral("x"));
        else
            Key(input, Qt::Key_Backspace, QString());
        QCoreApplication::processEvents();
        const double elapsed = double(clock.nsecsElapsed()) / 1e6;
        state.SetIterationTime(elapsed / 1e3);
        ms.push_back(elapsed);
        add = !add;
    }
    std::sort(ms.begin(), ms.end());
    if (!ms.empty()) {
        state.counters["p50_ms"] = ms[ms.size() / 2];
        state.counters["p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
    }
}
BENCHMARK(BM_KeyPress)->Arg(0)->Arg(1)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    return velmora::bench::RunWithQt(argc, argv);
}
