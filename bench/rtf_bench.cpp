// RTF throughput on a 2,000-line conversation built as the chat window builds
// it (coloured name and text runs, an empty line after some). Qt's own HTML
// serializer and parser on the same document are the yardstick.
//
//   BM_WriteRtf   DocumentToRtf of the conversation
//   BM_ToHtml     QTextDocument::toHtml of the same
//   BM_ReadRtf    InsertRtf of the writer's output into an empty document
//   BM_SetHtml    QTextDocument::setHtml of toHtml's output
//
// Run: ./rtf_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include "chat/ChatLines.h"
#include "richtext/RtfReader.h"
#include "richtext/RtfWriter.h"
#include "QtBenchMain.h"

#include <QGuiApplication>
#include <QTextCursor>
#include <QTextDocument>

#include <benchmark/benchmark.h>

using namespace velmora;

namespace {

constexpr int kLines = 2000;

QTextDocument &Conversation()
{
    static QTextDocument *document = [] {
        auto *doc = new QTextDocument;
        QFont font(QStringLiteral("MS Sans Serif"));
        font.setBold(true);
        doc->setDefaultFont(font);
        QTextCharFormat base;
        base.setFont(font);
        for (int i = 0; i < kLines; ++i) {
            const bool operatorLine = i % 2 == 0;
            const QString name = operatorLine ? QStringLiteral("Anna: ") : QStringLiteral("Visitor: ");
            const QString text = QStringLiteral("line %1 about the order, caf\u00e9 \u20ac%2 {ok}; "
                                                "it arrived \u201csoon\u201d \u2014 thanks")
                                     .arg(i)
                                     .arg(i % 97);
            AppendChatLine(*doc, name + text, operatorLine ? QColor(0, 0, 255) : QColor(255, 0, 0),
                           int(name.size()), QColor(0, 0, 0), base, i % 10 == 9);
        }
        return doc;
    }();
    return *document;
}

void BM_WriteRtf(benchmark::State &state)
{
    const QTextDocument &document = Conversation();
    qint64 bytes = 0;
    for (auto _ : state) {
        const QByteArray rtf = DocumentToRtf(document);
        bytes += rtf.size();
        benchmark::DoNotOptimize(rtf.constData());
    }
    state.SetBytesProcessed(bytes);
}

void BM_ToHtml(benchmark::State &state)
{
    const QTextDocument &document = Conversation();
    for (auto _ : state) {
        const QString html = document.toHtml();
        benchmark::DoNotOptimize(html.constData());
    }
}

void BM_ReadRtf(benchmark::State &state)
{
    const QByteArray rtf = DocumentToRtf(Conversation());
    for (auto _ : state) {
        QTextDocument document;
        QTextCursor cursor(&document);
        benchmark::DoNotOptimize(InsertRtf(rtf, cursor).complete);
    }
    state.SetBytesProcessed(state.iterations() * rtf.size());
}

void BM_SetHtml(benchmark::State &state)
{
    const QString html = Conversation().toHtml();
    for (auto _ : state) {
        QTextDocument document;
        document.setHtml(html);
        benchmark::DoNotOptimize(document.blockCount());
    }
}

BENCHMARK(BM_WriteRtf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToHtml)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadRtf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetHtml)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return velmora::bench::RunWithQt<QGuiApplication>(argc, argv);
}
