// The chat archive at size: generates an archive of chats with lines of
// realistic length and word frequencies, then measures
//  - the first page of searches (one letter, common and rare words, two
//    words, a visitor filter that matches nothing): median and p95;
//  - "Past chats" as the operator types into it: the GUI thread's stalls
//    (p99, worst) and the time from the last key to the first page;
//  - a chat deleted and a visitor forgotten while a chat is recorded: the
//    longest the recorder wrote nothing, and the exit in the middle of one;
//  - the GUI thread's cost of recording one line, the size on disk.
//
// Run: ./archive_bench [chats=100000] [lines per chat=30] [folder] [runs=5]
// An existing archive in the folder is reused, so a second run only measures.
#include "archive/ArchiveDb.h"
#include "archive/ArchiveRecorder.h"
#include "archive/ui/PastChatsWindow.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <sqlite3.h>

#include <algorithm>
#include <functional>
#include <memory>
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
        chat.Visitor = (c % 50 == 7 ? QStringLiteral("Anna %1") : QStringLiteral("Visitor %1")).arg(c % 20000);
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
            if (l % 97 == 5)
                text += QStringLiteral(" 你好世界，谢谢 🎉");
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

// Each query run `runs` times on a fresh search; the first page only.
void Search(TArchiveDb &db, const char *label, const QString &words, const QString &visitor, int runs)
{
    std::vector<double> ms;
    size_t hits = 0;
    for (int i = 0; i < runs; ++i) {
        TArchiveFilter filter = TArchiveFilter::Words(words);
        filter.Visitor = visitor;
        filter.Limit = 100;
        QElapsedTimer timer;
        timer.start();
        hits = db.Search(filter).size();
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    const Figures f = Percentiles(ms);
    std::printf("search %-26s median %8.2f ms  p95 %8.2f ms  (%zu on the first page)\n", label, f.p50, f.p95, hits);
}

// The GUI thread's stalls: a timer due every 2 ms notes how late it ran.
struct StallMeter {
    QTimer tick;
    QElapsedTimer clock;
    qint64 last = 0;
    std::vector<double> late;
    StallMeter()
    {
        tick.setTimerType(Qt::PreciseTimer);
        tick.setInterval(2);
        QObject::connect(&tick, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            late.push_back(double(now - last) / 1e6);
            last = now;
        });
        clock.start();
        tick.start();
    }
};

void TypeIntoPastChats(TArchiveRecorder &recorder, int runs)
{
    TPastChatsWindow window(recorder, {});
    window.show();
    const std::vector<std::pair<QString, QString>> typed{{QStringLiteral("order"), {}},
                                                         {QStringLiteral("t"), {}},
                                                         {QStringLiteral("the"), QStringLiteral("nobody")},
                                                         {QStringLiteral("anna refund"), {}},
                                                         {QStringLiteral("kamiru"), {}}};
    std::vector<double> firstPage;
    StallMeter meter;
    // The machine's own noise: the same timer with nothing to do.
    QTest::qWait(2000);
    const Figures idle = Percentiles(meter.late);
    std::printf("idle GUI thread, for comparison      p99 %6.2f ms  worst %6.2f ms\n", idle.p99, idle.worst);
    for (int run = 0; run < runs; ++run) {
        for (const auto &[words, visitor] : typed) {
            window.SearchEdit->clear();
            window.VisitorEdit->setText(visitor);
            QTest::qWait(300);
            meter.late.clear();
            meter.last = meter.clock.nsecsElapsed();
            QElapsedTimer sinceKey;
            for (qsizetype i = 0; i < words.size(); ++i) {
                QTest::keyClick(window.SearchEdit, words.at(i).toLatin1());
                sinceKey.start();
                if (i + 1 < words.size())
                    QTest::qWait(110); // a quick typist
            }
            // One letter waits for Enter: the operator presses it.
            if (words.size() == 1) {
                QTest::keyClick(window.SearchEdit, Qt::Key_Return);
                sinceKey.start();
            }
            // A search may be over before it is seen running: either wait may end empty.
            (void)QTest::qWaitFor([&] { return window.Searching(); }, 1000);
            if (!QTest::qWaitFor([&] { return !window.Searching(); }, 60000))
                std::printf("  (the search was still running after 60 s)\n");
            firstPage.push_back(double(sinceKey.nsecsElapsed()) / 1e6);
            const Figures stalls = Percentiles(meter.late);
            std::printf("typing %-26s stalls p99 %6.2f ms  worst %6.2f ms  first page after the last key %7.1f ms\n",
                        (words + (visitor.isEmpty() ? QString() : QStringLiteral(" + visitor ") + visitor)).toUtf8().constData(),
                        stalls.p99, stalls.worst, firstPage.back());
        }
    }
    const Figures f = Percentiles(firstPage);
    std::printf("typing: first page after the last key  median %.1f ms  p95 %.1f ms\n", f.p50, f.p95);
}

// Removals while a chat is recorded: the longest time no line reached the
// file, and how long the exit takes in the middle of one.
void RemoveWhileRecording(const QString &path)
{
    TArchiveDb reader;
    reader.OpenReader(path, 1000);
    const std::vector<TArchiveHit> newest = reader.Search(TArchiveFilter{});
    if (newest.size() < 3)
        return;
    auto recorder = std::make_unique<TArchiveRecorder>(path);
    const TArchiveRecorder::Handle chat = recorder->BeginChat(TArchiveChat{});
    recorder->Flush();
    const auto measure = [&](const char *label, const std::function<void(std::function<void(int)>)> &remove) {
        bool done = false;
        QElapsedTimer timer, sinceWritten;
        timer.start();
        sinceWritten.start();
        double longest = 0;
        int sent = 0;
        qint64 seen = 0;
        remove([&](int) { done = true; });
        while (!done && timer.elapsed() < 600000) {
            recorder->AddLine(chat, TArchiveLine::Said(archive::Who::Visitor, {}, QStringLiteral("live %1").arg(sent++)));
            QTest::qWait(10);
            sqlite3_stmt *max = nullptr;
            sqlite3_prepare_v2(reader.Handle(), "SELECT max(id) FROM lines", -1, &max, nullptr);
            const qint64 id = sqlite3_step(max) == SQLITE_ROW ? sqlite3_column_int64(max, 0) : 0;
            sqlite3_finalize(max);
            if (id != seen) {
                seen = id;
                longest = std::max(longest, double(sinceWritten.nsecsElapsed()) / 1e6);
                sinceWritten.restart();
            }
        }
        std::printf("%-30s %8.1f ms, the recorder's longest pause %6.1f ms\n", label, double(timer.nsecsElapsed()) / 1e6,
                    longest);
    };
    measure("delete one chat", [&](auto done) { recorder->DeleteChat(newest[1].Chat, done); });
    measure("forget a visitor", [&](auto done) { recorder->ForgetVisitor(newest[2].Email, done); });
    // Retention of everything older than a month, stopped by the exit.
    recorder->SetRetentionDays(30);
    QTest::qWait(500);
    QElapsedTimer exit;
    exit.start();
    recorder.reset();
    std::printf("exit during retention           %8.1f ms\n", double(exit.nsecsElapsed()) / 1e6);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int chats = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int linesPerChat = argc > 2 ? std::atoi(argv[2]) : 30;
    QTemporaryDir scratch;
    const QString folder = argc > 3 ? QString::fromLocal8Bit(argv[3]) : scratch.path();
    const int runs = std::max(5, argc > 4 ? std::atoi(argv[4]) : 5);
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(QLatin1String(kArchiveFileName));
    if (!QFileInfo::exists(path))
        Generate(path, chats, linesPerChat);
    // The removals below change the archive: they run on a copy.
    const QString copy = path + QStringLiteral(".bench");
    QFile::remove(copy);
    QFile::copy(path, copy);

    TArchiveDb db;
    QElapsedTimer open;
    open.start();
    db.OpenReader(path, 1000);
    const std::vector<TArchiveHit> page = db.Search(TArchiveFilter{});
    std::printf("open and first page      %7.2f ms  (%zu chats shown)\n", double(open.nsecsElapsed()) / 1e6, page.size());

    Search(db, "one letter \"t\"", QStringLiteral("t"), {}, runs);
    Search(db, "\"order\"", QStringLiteral("order"), {}, runs);
    Search(db, "\"the\"", QStringLiteral("the"), {}, runs);
    Search(db, "\"the\" + visitor nobody", QStringLiteral("the"), QStringLiteral("nobody"), runs);
    Search(db, "\"nobody\"", QStringLiteral("nobody"), {}, runs);
    Search(db, "\"anna refund\"", QStringLiteral("anna refund"), {}, runs);
    Search(db, "\"order delivery\"", QStringLiteral("order delivery"), {}, runs);
    Search(db, "rare word", QStringLiteral("kamiru"), {}, runs);
    Search(db, "\"世界\"", QStringLiteral("世界"), {}, runs);

    const qint64 lines = qint64(chats) * linesPerChat;
    const qint64 bytes = QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();
    std::printf("size on disk             %.1f MB, %.0f bytes per line\n", double(bytes) / 1e6,
                double(bytes) / double(std::max<qint64>(1, lines)));

    {
        // What the GUI thread pays: the recorder's start, one line, typing.
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
        TypeIntoPastChats(recorder, runs);
        recorder.EndChat(chat, QStringLiteral("End Chat !"));
    }
    RemoveWhileRecording(copy);
    for (const char *suffix : {"", "-wal", "-shm"})
        QFile::remove(copy + QLatin1String(suffix));
    return 0;
}
