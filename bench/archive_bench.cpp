// The chat archive at size: generates an archive of chats with lines of
// realistic length and word frequencies, then measures searches (one word,
// a prefix, two words: p50 and p95), the GUI thread's cost of recording one
// line (p50, p99, worst), the size on disk per line, the recorder's start,
// and the first page of "Past chats" (all chats, newest first).
//
// Run: ./archive_bench [chats=100000] [lines per chat=30] [folder]
// An existing archive in the folder is reused, so a second run only measures.
#include "archive/ArchiveDb.h"
#include "archive/ArchiveRecorder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

using namespace velmora;

namespace {

const char *const kCommon[] = {"the", "order", "delivery", "invoice", "please", "thanks", "hello", "account",
                               "password", "payment", "shipping", "refund", "Grüße", "Straße", "price", "product",
                               "help", "problem", "login", "email", "address", "number", "today", "tomorrow"};

struct Words {
    std::vector<QString> list;
    explicit Words(std::mt19937 &random)
    {
        const char *const syllables[] = {"ka", "lo", "mi", "ne", "ru", "sa", "te", "vi", "zo", "pe", "dri", "ston",
                                         "bel", "gar", "fen", "qui", "mor", "tal", "ux", "ber"};
        for (const char *word : kCommon)
            list.push_back(QString::fromUtf8(word));
        std::uniform_int_distribution<int> pick(0, int(std::size(syllables)) - 1), count(2, 4);
        while (list.size() < 5000) {
            QString word;
            for (int n = count(random); n > 0; --n)
                word += QLatin1String(syllables[pick(random)]);
            list.push_back(word);
        }
    }
    // Zipf-like: the first words are by far the most frequent.
    const QString &Pick(std::mt19937 &random) const
    {
        std::uniform_real_distribution<double> u(0.0, 1.0);
        const double x = std::pow(u(random), 3.0);
        return list[size_t(x * double(list.size() - 1))];
    }
};

struct Figures {
    double p50, p95, p99, worst;
};

Figures Percentiles(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    auto at = [&](double q) { return ms[std::min(ms.size() - 1, size_t(q * double(ms.size())))]; };
    return {at(0.5), at(0.95), at(0.99), ms.back()};
}

void Generate(const QString &path, int chats, int linesPerChat)
{
    std::mt19937 random(4711);
    const Words words(random);
    TArchiveDb db;
    db.Open(path);
    QElapsedTimer timer;
    timer.start();
    const qint64 start = QDateTime::currentMSecsSinceEpoch() - 300LL * 24 * 3600 * 1000;
    std::uniform_int_distribution<int> length(3, 18), number(1000, 99999);
    db.Begin();
    for (int c = 0; c < chats; ++c) {
        TArchiveChat chat;
        chat.SessionCount = c + 1;
        chat.Visitor = QStringLiteral("Visitor %1").arg(c % 20000);
        chat.Email = QStringLiteral("visitor%1@example.com").arg(c % 20000);
        chat.Site = QStringLiteral("shop%1.example").arg(c % 7);
        chat.Started = start + qint64(c) * 250000;
        chat.Ended = chat.Started + 600000;
        chat.Status = QStringLiteral("End Chat !");
        chat.EndedProperly = true;
        chat.Open = false;
        const qint64 id = db.InsertChat(chat);
        for (int l = 0; l < linesPerChat; ++l) {
            QString text;
            for (int n = length(random); n > 0; --n)
                text += words.Pick(random) + QLatin1Char(' ');
            if (l % 9 == 0)
                text += QString::number(number(random));
            db.AddLine(id, TArchiveLine::Said(l % 2 ? archive::Who::Operator : archive::Who::Visitor,
                                              l % 2 ? QStringLiteral("Anna") : chat.Visitor, text,
                                              chat.Started + l * 10000));
        }
        if (c % 2000 == 1999) {
            db.Commit();
            db.Begin();
            std::fprintf(stderr, "\r%d chats", c + 1);
        }
    }
    db.Commit();
    std::fprintf(stderr, "\rgenerated %d chats, %d lines in %.1f s\n", chats, chats * linesPerChat,
                 double(timer.elapsed()) / 1000.0);
}

void Search(TArchiveDb &db, const char *label, const std::vector<QString> &queries)
{
    std::vector<double> ms;
    size_t hits = 0;
    for (const QString &query : queries) {
        QElapsedTimer timer;
        timer.start();
        hits += db.Search(TArchiveFilter::Words(query)).size();
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    const Figures f = Percentiles(ms);
    std::printf("%-22s p50 %7.2f ms  p95 %7.2f ms  (%zu queries, %.0f results each)\n", label, f.p50, f.p95,
                queries.size(), double(hits) / double(queries.size()));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int chats = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int linesPerChat = argc > 2 ? std::atoi(argv[2]) : 30;
    QTemporaryDir scratch;
    const QString folder = argc > 3 ? QString::fromLocal8Bit(argv[3]) : scratch.path();
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(QLatin1String(kArchiveFileName));
    if (!QFileInfo::exists(path))
        Generate(path, chats, linesPerChat);

    TArchiveDb db;
    QElapsedTimer open;
    open.start();
    db.OpenReader(path);
    const std::vector<TArchiveHit> page = db.Search(TArchiveFilter{});
    std::printf("open and first page      %7.2f ms  (%zu chats shown)\n", double(open.nsecsElapsed()) / 1e6, page.size());

    std::mt19937 random(815);
    const Words words(random);
    std::vector<QString> one, prefix, two;
    for (int i = 0; i < 60; ++i) {
        one.push_back(words.list[size_t(i * 83 % 5000)]);
        prefix.push_back(words.list[size_t(i * 97 % 5000)].left(3));
        two.push_back(words.Pick(random) + QLatin1Char(' ') + words.Pick(random));
    }
    Search(db, "one word", one);
    Search(db, "prefix (3 letters)", prefix);
    Search(db, "two words", two);

    const qint64 lines = qint64(chats) * linesPerChat;
    const qint64 bytes = QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();
    std::printf("size on disk             %.1f MB, %.0f bytes per line\n", double(bytes) / 1e6,
                double(bytes) / double(std::max<qint64>(1, lines)));

    // What the GUI thread pays: the recorder's start, and one line.
    QElapsedTimer start;
    start.start();
    TArchiveRecorder recorder(path);
    const double startMs = double(start.nsecsElapsed()) / 1e6;
    const TArchiveRecorder::Handle chat = recorder.BeginChat(TArchiveChat{});
    std::vector<double> ms;
    for (int i = 0; i < 1000; ++i) {
        QElapsedTimer timer;
        timer.start();
        recorder.AddLine(chat, TArchiveLine::Said(archive::Who::Visitor, QStringLiteral("Bench"),
                                                  QStringLiteral("a line of the visitor's, number %1").arg(i)));
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (i % 50 == 0)
            QThread::msleep(20); // lines come over time, the worker writes meanwhile
    }
    recorder.Flush();
    const Figures f = Percentiles(ms);
    std::printf("recorder start           %7.3f ms\n", startMs);
    std::printf("one line, GUI thread     p50 %.4f ms  p99 %.4f ms  worst %.4f ms\n", f.p50, f.p99, f.worst);
    return 0;
}
