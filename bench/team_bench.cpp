// The team archive at size, against a private PostgreSQL server:
//  - the GUI thread's stalls (p99, worst) while 10 chats are recorded and
//    replicated, running chats' lines going every few seconds;
//  - 20 consoles' 8-hour days at a busy desk's rate replicated into one
//    server: the server's CPU time, as an average over the day and during
//    the catch-up itself;
//  - the first page of team searches over a generated archive of N lines
//    (common, rare, two words, one letter): median and p95.
//
// Run: ./team_bench [lines=10000000] [runs=20]
#include "support/PrivatePostgres.h"
#include "archive/ArchiveDb.h"
#include "archive/ArchiveRecorder.h"
#include "team/TeamDb.h"
#include "team/TeamReplicator.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <libpq-fe.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include <unistd.h>

using namespace velmora;

namespace {

double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5))];
}

// CPU seconds used so far by the server: its postmaster and the backends
// it started, from /proc (a backend that ended is no longer counted: read
// while the connections are open).
double ServerCpuSeconds(qint64 postmaster)
{
    double seconds = 0;
    const double tick = double(sysconf(_SC_CLK_TCK));
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        if (pid.toInt() <= 0)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 13 && (pid.toLongLong() == postmaster || fields[1].toLongLong() == postmaster))
            seconds += (fields[11].toDouble() + fields[12].toDouble()) / tick;
    }
    return seconds;
}

bool Exec(const QString &conninfo, const QByteArray &sql)
{
    PGconn *conn = PQconnectdb(conninfo.toUtf8().constData());
    PGresult *r = PQexec(conn, sql.constData());
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    if (!ok)
        std::fprintf(stderr, "%s\n", PQerrorMessage(conn));
    PQclear(r);
    PQfinish(conn);
    return ok;
}

const char *const kWords[] = {"the", "order", "delivery", "invoice", "please", "thanks", "hello", "account",
                              "password", "payment", "shipping", "refund", "grüße", "price", "product", "help"};

QString Sentence(std::mt19937 &random)
{
    std::uniform_int_distribution<int> count(4, 14), common(0, int(std::size(kWords)) - 1), rare(0, 49999);
    std::bernoulli_distribution isCommon(0.6);
    QStringList words;
    for (int n = count(random); n > 0; --n)
        words << (isCommon(random) ? QString::fromUtf8(kWords[common(random)]) : QStringLiteral("w%1").arg(rare(random)));
    return words.join(QLatin1Char(' '));
}

// One console's day: a chat every 4 minutes for 8 hours, 40 lines each.
void MakeDay(const QString &path, std::mt19937 &random, qint64 start)
{
    TArchiveDb db;
    db.Open(path);
    db.Begin();
    for (int c = 0; c < 8 * 15; ++c) {
        TArchiveChat chat;
        chat.SessionCount = c + 1;
        chat.Visitor = QStringLiteral("Visitor %1").arg(c);
        chat.Email = QStringLiteral("v%1@example.com").arg(c);
        chat.Site = QStringLiteral("shop.example");
        chat.Supporter = QStringLiteral("Op");
        chat.Started = start + qint64(c) * 240000;
        const qint64 id = db.InsertChat(chat);
        for (int l = 0; l < 40; ++l)
            db.AddLine(id, TArchiveLine::Said(l % 2 ? archive::Who::Operator : archive::Who::Visitor,
                                              QStringLiteral("x"), Sentence(random), chat.Started + l * 10000));
        db.EndChat(id, chat.Started + 400000, QStringLiteral("End Chat !"));
    }
    db.Commit();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qint64 lines = argc > 1 ? QByteArray(argv[1]).toLongLong() : 10000000;
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 20;
    velmora::test::PrivatePostgres server;
    if (!server.Init() || !server.Start()) {
        std::fprintf(stderr, "no PostgreSQL server: %s\n", qPrintable(server.Log()));
        return 1;
    }
    const QString conninfo = server.Connection();
    QTemporaryDir dir;
    std::mt19937 random(7);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();

    // 1. GUI stalls while 10 chats are recorded and replicated.
    {
        TArchiveRecorder recorder(dir.filePath(QStringLiteral("gui.db")));
        recorder.Flush();
        TTeamReplicator replicator(dir.filePath(QStringLiteral("gui.db")), conninfo, QStringLiteral("gui"));
        std::vector<TArchiveRecorder::Handle> chats;
        for (int c = 0; c < 10; ++c) {
            TArchiveChat chat;
            chat.SessionCount = c + 1;
            chat.Visitor = QStringLiteral("Visitor %1").arg(c);
            chat.Started = now;
            chats.push_back(recorder.BeginChat(chat));
        }
        std::vector<double> stalls;
        QElapsedTimer clock;
        clock.start();
        qint64 last = clock.nsecsElapsed();
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        int n = 0;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 at = clock.nsecsElapsed();
            stalls.push_back(double(at - last) / 1e6 - 5.0);
            last = at;
            // A line in one of the chats every 50 ms, as 10 busy chats give.
            if (++n % 10 == 0)
                recorder.AddLine(chats[size_t(n / 10) % chats.size()],
                                 TArchiveLine::Said(archive::Who::Visitor, QStringLiteral("x"), Sentence(random)));
            if (n % 1000 == 0) // a chat ends and the next begins
                recorder.EndChat(chats[size_t(n / 1000) % chats.size()], QStringLiteral("End Chat !"));
        });
        tick.start(5);
        QTimer::singleShot(30000, &app, &QCoreApplication::quit);
        app.exec();
        replicator.WaitSettled(30000);
        std::printf("GUI stall while replicating 10 chats: p99 %.2f ms, worst %.2f ms (%zu ticks); %s\n",
                    Percentile(stalls, 0.99), Percentile(stalls, 1.0), stalls.size(), qPrintable(replicator.StatusText()));
    }

    // 2. 20 consoles' days replicated into one server.
    {
        for (int c = 0; c < 20; ++c)
            MakeDay(dir.filePath(QStringLiteral("console%1.db").arg(c)), random, now - 8LL * 3600 * 1000);
        const double before = ServerCpuSeconds(server.ServerPid());
        QElapsedTimer wall;
        wall.start();
        std::vector<std::unique_ptr<TTeamReplicator>> replicators;
        for (int c = 0; c < 20; ++c)
            replicators.push_back(std::make_unique<TTeamReplicator>(dir.filePath(QStringLiteral("console%1.db").arg(c)),
                                                                    conninfo, QStringLiteral("day")));
        for (auto &r : replicators)
            r->WaitSettled(600000);
        const double seconds = double(wall.elapsed()) / 1000;
        const double cpu = ServerCpuSeconds(server.ServerPid()) - before;
        std::printf("20 consoles x 8 h (%d chats, %d lines): caught up in %.1f s; server CPU %.1f s = %.5f cores over "
                    "the day, %.2f cores while catching up\n",
                    20 * 120, 20 * 120 * 40, seconds, cpu, cpu / (8 * 3600), cpu / seconds);
    }

    // 3. Team search over `lines` generated lines.
    {
        TTeamDb team;
        if (!team.Open(conninfo, QStringLiteral("big"))) {
            std::fprintf(stderr, "%s\n", qPrintable(team.LastError()));
            return 1;
        }
        const qint64 chats = std::max<qint64>(1, lines / 30);
        QElapsedTimer fill;
        fill.start();
        // Generated in the server, folded as the console folds plain words.
        const QByteArray words = "ARRAY['the','order','delivery','invoice','please','thanks','hello','account',"
                                 "'password','payment','shipping','refund','grusse','price','product','help']";
        const QByteArray sql =
            "DROP INDEX big.chats_words;"
            "INSERT INTO big.chats(console, local_id, session, visitor, email, site, started, ended, status,"
            " supporter, open) SELECT 'bench' || (g % 20), g, g, 'Visitor ' || g, 'v' || g || '@example.com',"
            " 'shop.example', " + QByteArray::number(now) + " - g::bigint * 60000, 0, 'End Chat !', 'Op' || (g % 20), false"
            " FROM generate_series(1, " + QByteArray::number(chats) + ") g;"
            "INSERT INTO big.lines(console, chat, id, at, who, text, words) SELECT console, local_id, n, started + n,"
            " n % 2, t, array_to_tsvector(string_to_array(t, ' ')) FROM (SELECT c.console, c.local_id, c.started, n,"
            " (SELECT string_agg(CASE WHEN random() < 0.6 THEN (" + words + ")[1 + (random() * 15)::int]"
            " ELSE 'w' || (random() * 49999)::int END, ' ') FROM generate_series(1, 4 + (c.local_id + n) % 10) k"
            " WHERE k > 0 AND n > 0) t FROM big.chats c, generate_series(1, 30) n) x;"
            "UPDATE big.chats c SET words = (SELECT array_to_tsvector(array_agg(DISTINCT w)) FROM big.lines l,"
            " unnest(tsvector_to_array(l.words)) w WHERE l.console = c.console AND l.chat = c.local_id);"
            "CREATE INDEX chats_words ON big.chats USING gin(words);";
        if (!Exec(conninfo, sql) || !Exec(conninfo, "VACUUM ANALYZE big.chats") || !Exec(conninfo, "VACUUM ANALYZE big.lines"))
            return 1;
        std::printf("generated %lld chats, %lld lines in %.0f s\n", chats, chats * 30, double(fill.elapsed()) / 1000);
        for (const char *query : {"thanks", "w4242", "refund w123", "grüße payment", "p", "w17 w99 w1234"}) {
            std::vector<double> times;
            size_t found = 0;
            for (int r = 0; r < runs; ++r) {
                QElapsedTimer t;
                t.start();
                TArchiveFilter filter = TArchiveFilter::Words(QString::fromUtf8(query));
                filter.Limit = 100;
                found = team.Search(filter).size();
                times.push_back(double(t.nsecsElapsed()) / 1e6);
            }
            std::printf("team search \"%s\" first page (%zu hits): median %.1f ms, p95 %.1f ms\n", query, found,
                        Percentile(times, 0.5), Percentile(times, 0.95));
        }
    }
    server.Stop();
    return 0;
}
