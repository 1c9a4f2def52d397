// The team archive against a real PostgreSQL server started for these
// tests: replication that survives outages and crashes without losing or
// doubling anything, removals carried out once the server is back, hostile
// text kept exactly, the same words finding the same chats here and there,
// and a schema from a newer version left alone.
#include "PrivatePostgres.h"
#include "TestUtil.h"
#include "archive/ArchiveDb.h"
#include "archive/ArchiveTeamQueue.h"
#include "team/TeamDb.h"
#include "team/TeamReplicator.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <libpq-fe.h>

#include <memory>
#include <set>

using namespace velmora;
using namespace velmora::test;

namespace {

class TeamArchiveTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server = std::make_unique<PrivatePostgres>();
        if (!server->Init() || !server->Start())
            server.reset();
    }
    static void TearDownTestSuite()
    {
        if (server)
            server->Stop();
        server.reset();
    }
    void SetUp() override
    {
        if (!server)
            GTEST_SKIP() << "no PostgreSQL server to run here";
        // Each test in a schema of its own.
        schema = QStringLiteral("t_%1").arg(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }

    // A local archive (one console) in the scratch folder.
    std::unique_ptr<TArchiveDb> Console(const QString &name)
    {
        auto db = std::make_unique<TArchiveDb>();
        EXPECT_EQ(db->Open(dir.filePath(name)), TArchiveDb::OpenResult::Ok);
        return db;
    }
    qint64 AddChat(TArchiveDb &db, const QString &visitor, const QString &email, const QStringList &lines,
                   bool ended = true, const QString &supporter = QStringLiteral("Bert"))
    {
        TArchiveChat chat;
        chat.SessionCount = ++session;
        chat.Visitor = visitor;
        chat.Email = email;
        chat.Site = QStringLiteral("shop.example");
        chat.Supporter = supporter;
        chat.Started = now - 100000 + session;
        chat.Open = true;
        const qint64 id = db.InsertChat(chat);
        for (const QString &text : lines)
            EXPECT_TRUE(db.AddLine(id, TArchiveLine::Said(archive::Who::Visitor, visitor, text, chat.Started + 1)));
        if (ended) {
            EXPECT_TRUE(db.EndChat(id, chat.Started + 2, QStringLiteral("End Chat !")));
        }
        return id;
    }
    std::unique_ptr<TTeamDb> Team()
    {
        auto team = std::make_unique<TTeamDb>();
        EXPECT_TRUE(team->Open(server->Connection(), schema)) << team->LastError().toStdString();
        return team;
    }
    std::unique_ptr<TTeamReplicator> Replicator(const QString &name)
    {
        return std::make_unique<TTeamReplicator>(dir.filePath(name), server->Connection(), schema);
    }
    // A count straight from the server, past the console's own statements.
    qint64 Count(const QString &sql)
    {
        PGconn *conn = PQconnectdb(server->Connection().toUtf8().constData());
        const QString quoted = QLatin1Char('"') + QString(schema).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
        PGresult *r = PQexec(conn, QString(sql).replace(QStringLiteral("@S"), quoted).toUtf8().constData());
        const qint64 n = PQresultStatus(r) == PGRES_TUPLES_OK ? QByteArray(PQgetvalue(r, 0, 0)).toLongLong() : -1;
        PQclear(r);
        PQfinish(conn);
        return n;
    }
    std::set<qint64> LocalFound(TArchiveDb &db, const QString &words)
    {
        std::set<qint64> ids;
        for (const TArchiveHit &hit : db.Search(TArchiveFilter::Words(words)))
            ids.insert(hit.Chat);
        return ids;
    }
    std::set<qint64> TeamFound(TTeamDb &team, const QString &words)
    {
        std::set<qint64> ids;
        for (const TTeamHit &hit : team.Search(TArchiveFilter::Words(words)))
            ids.insert(hit.Hit.Chat);
        return ids;
    }

    static inline std::unique_ptr<PrivatePostgres> server;
    QTemporaryDir dir;
    QString schema;
    int session = 0;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
};

TEST_F(TeamArchiveTest, HostileTextIsKeptExactlyAndTheSameWordsFindTheSameChats)
{
    auto local = Console(QStringLiteral("anna.db"));
    // Windows-1252 bytes read as such: what invalid UTF-8 from a visitor becomes.
    const QString cp1252 = QString::fromLatin1("caf\xe9 ") + QChar(0x20AC) + QChar(0x201C) + QStringLiteral("ok");
    const QString hostile = QStringLiteral("O'Brien \"x\" \\'; DROP TABLE chats; -- \\\\ & | ! :* <-> ") + cp1252;
    const qint64 evil = AddChat(*local, hostile, QStringLiteral("o'brien@example.com"),
                                {hostile, QStringLiteral("nul") + QChar(0) + QStringLiteral("byte")});
    const qint64 german = AddChat(*local, QStringLiteral("Hans MÜLLER"), {}, {QStringLiteral("Viele Grüße, boss")});
    const qint64 mixed = AddChat(*local, QStringLiteral("Łukasz"), {},
                                 {QStringLiteral("smørrebrød 你好世界，欢迎"), QStringLiteral("refund 🎉 thanks")});
    const qint64 running = AddChat(*local, QStringLiteral("Tom"), {}, {QStringLiteral("still typing")}, false);
    // A console that never met a team archive keeps no removals for one.
    EXPECT_EQ(local->DeleteChat(AddChat(*local, QStringLiteral("Gone"), {}, {})), 1);
    EXPECT_EQ(local->ForgetVisitor(QStringLiteral("nobody@example.com")), 0);
    EXPECT_TRUE(TArchiveTeamQueue(*local).Removals(10).empty());

    auto replicator = Replicator(QStringLiteral("anna.db"));
    ASSERT_TRUE(replicator->WaitSettled(30000)) << replicator->StatusText().toStdString() << replicator->Problem().toStdString();
    EXPECT_EQ(replicator->StatusText(), QStringLiteral("Team archive: online"));
    auto team = Team();
    const QString console = TArchiveTeamQueue(*local).Identity();
    const auto chat = team->Chat(console, evil);
    ASSERT_TRUE(chat);
    EXPECT_EQ(chat->Visitor, hostile);
    const std::vector<TArchiveLine> lines = team->Lines(console, evil);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].Text, hostile);
    // PostgreSQL's text holds no NUL: it arrives as the replacement character.
    EXPECT_EQ(lines[1].Text, QStringLiteral("nul\uFFFDbyte"));
    ASSERT_TRUE(team->Chat(console, running));
    EXPECT_TRUE(team->Chat(console, running)->Open);

    for (const char *words : {"Grüße", "grusse", "BOSS", "smorrebrod", "世界", "界欢", "🎉 thanks", "B", "O'Brien",
                              "\"x\"", "\\'; DROP", "café €", "cafe", ":*", "<->", "& |", "still", "tom typing",
                              "shop", "o'brien@example"}) {
        const QString text = QString::fromUtf8(words);
        EXPECT_EQ(TeamFound(*team, text), LocalFound(*local, text)) << words;
    }
    EXPECT_EQ(TeamFound(*team, QStringLiteral("grusse")), std::set<qint64>{german});
    // A first page the newest chats fill, and the page after it, in the local order.
    TArchiveFilter page = TArchiveFilter::Words(QStringLiteral("shop"));
    page.Limit = 2;
    std::vector<qint64> firstPage, shared;
    for (const TArchiveHit &hit : local->Search(page))
        firstPage.push_back(hit.Chat);
    for (int offset : {0, 2})
        for (const TTeamHit &hit : team->Search(page, offset))
            shared.push_back(hit.Hit.Chat);
    page.Limit = 4;
    std::vector<qint64> all;
    for (const TArchiveHit &hit : local->Search(page))
        all.push_back(hit.Chat);
    ASSERT_EQ(shared.size(), 4u);
    EXPECT_EQ(std::vector<qint64>(shared.begin(), shared.begin() + 2), firstPage);
    EXPECT_EQ(shared, all);
    EXPECT_EQ(TeamFound(*team, QStringLiteral("世界 thanks")), std::set<qint64>{mixed});
    const std::vector<TTeamHit> hits = team->Search(TArchiveFilter::Words(QStringLiteral("smorrebrod")));
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_TRUE(hits[0].Hit.Snippet.contains(kMarkOpen + QStringLiteral("smørrebrød") + kMarkClose));
    EXPECT_EQ(hits[0].Supporter, QStringLiteral("Bert"));

    // A returning visitor: the team's earlier chats, and with whom.
    const TTeamEarlier earlier = team->Earlier(QStringLiteral("O'BRIEN@example.com"), {}, {}, now);
    EXPECT_EQ(earlier.Count, 1);
    EXPECT_TRUE(TeamEarlierText(earlier).startsWith(QStringLiteral("1 earlier chat, last with Bert on ")))
        << TeamEarlierText(earlier).toStdString();
    EXPECT_EQ(team->Earlier({}, QStringLiteral("hans MÜLLER"), QStringLiteral("shop.example"), now).Count, 1);
}

TEST_F(TeamArchiveTest, OutagesAndCrashesLoseNothingAndDoubleNothing)
{
    auto anna = Console(QStringLiteral("anna.db"));
    auto bert = Console(QStringLiteral("bert.db"));
    auto annaSends = Replicator(QStringLiteral("anna.db"));
    auto bertSends = Replicator(QStringLiteral("bert.db"));
    std::vector<qint64> annaChats, bertChats;
    // Both consoles write while their replicators run.
    for (int i = 0; i < 20; ++i) {
        annaChats.push_back(AddChat(*anna, QStringLiteral("Visitor %1").arg(i), {}, {QStringLiteral("line a%1").arg(i)}));
        bertChats.push_back(AddChat(*bert, QStringLiteral("Visitor %1").arg(i), {}, {QStringLiteral("line b%1").arg(i)}));
    }
    ASSERT_TRUE(annaSends->WaitSettled(30000)) << annaSends->Problem().toStdString();
    ASSERT_TRUE(bertSends->WaitSettled(30000)) << bertSends->Problem().toStdString();

    // The server stops mid-run: chats and removals wait, and say so.
    ASSERT_TRUE(server->Stop());
    const qint64 runningChat = AddChat(*anna, QStringLiteral("Late"), {}, {QStringLiteral("offline one")}, false);
    for (int i = 20; i < 25; ++i)
        annaChats.push_back(AddChat(*anna, QStringLiteral("Visitor %1").arg(i), {}, {QStringLiteral("line a%1").arg(i)}));
    EXPECT_EQ(anna->DeleteChat(annaChats[0]), 1);
    EXPECT_EQ(anna->ForgetVisitorNamed(QStringLiteral("Visitor 1"), QStringLiteral("shop.example")), 1);
    annaSends->Nudge();
    bertSends->Nudge();
    ASSERT_TRUE(WaitFor([&] { return annaSends->CurrentState() == TTeamReplicator::State::Offline; }, 30000));
    // Offline too with nothing to send.
    ASSERT_TRUE(WaitFor([&] { return bertSends->CurrentState() == TTeamReplicator::State::Offline; }, 30000));
    ASSERT_TRUE(WaitFor([&] { return annaSends->Waiting() == 9; }, 30000)) << annaSends->Waiting();
    EXPECT_EQ(annaSends->StatusText(), QStringLiteral("Team archive: offline, 9 chats waiting"));
    ASSERT_TRUE(anna->AddLine(runningChat, TArchiveLine::Said(archive::Who::Operator, QStringLiteral("Anna"), QStringLiteral("answer"))));

    ASSERT_TRUE(server->Start()) << server->Log().toStdString();
    annaSends.reset(); // the next one starts where it left, as after a restart
    annaSends = Replicator(QStringLiteral("anna.db"));
    ASSERT_TRUE(annaSends->WaitSettled(30000)) << annaSends->Problem().toStdString();
    ASSERT_TRUE(bertSends->WaitSettled(30000)) << bertSends->Problem().toStdString();
    // Bert's "Visitor 1" is forgotten too: the visitor asked the whole team.
    EXPECT_EQ(Count(QStringLiteral("SELECT count(*) FROM @S.chats")), 2 * 20 + 5 + 1 - 1 - 2);
    EXPECT_EQ(Count(QStringLiteral("SELECT count(*) FROM @S.chats WHERE visitor = 'Visitor 1'")), 0);
    EXPECT_EQ(Count(QStringLiteral("SELECT count(*) FROM @S.lines")), 2 * 20 + 5 + 2 - 1 - 2);
    EXPECT_EQ(Count(QStringLiteral("SELECT count(*) FROM @S.chats WHERE open")), 1);

    // A crash between the team's commit and the local confirmation: the chat
    // goes again, and the team still holds it once with each line once.
    const qint64 crashed = AddChat(*anna, QStringLiteral("Crash"), {}, {QStringLiteral("one"), QStringLiteral("two")});
    {
        auto team = Team();
        TArchiveTeamQueue queue(*anna);
        ASSERT_TRUE(team->Send(queue.Identity(), *queue.Unsent(crashed)));
    }
    ASSERT_TRUE(annaSends->WaitSettled(30000));
    EXPECT_EQ(Count(QStringLiteral("SELECT count(*) FROM @S.lines l JOIN @S.chats c ON c.console = l.console AND"
                                   " c.local_id = l.chat WHERE c.visitor = 'Crash'")),
              2);
    EXPECT_EQ(Count(QStringLiteral("SELECT count(*) FROM @S.chats")), 2 * 20 + 5 + 1 - 1 - 2 + 1);
}

TEST_F(TeamArchiveTest, ConnectionSettingsAndANewerSchemaAreHandledSafely)
{
    QString error;
    EXPECT_TRUE(TTeamDb::ConnectionString(QStringLiteral("host=db password=secret"), &error).isEmpty());
    EXPECT_TRUE(error.contains(QStringLiteral(".pgpass")));
    EXPECT_TRUE(TTeamDb::ConnectionString(QStringLiteral("postgresql://u:secret@db/x"), &error).isEmpty());
    EXPECT_EQ(TTeamDb::ConnectionString(QStringLiteral("helpdesk"), &error), QStringLiteral("service=helpdesk"));

    // A schema name is an identifier, whatever it holds.
    schema = QStringLiteral("we\"ird; DROP SCHEMA public; --");
    auto local = Console(QStringLiteral("anna.db"));
    const qint64 chat = AddChat(*local, QStringLiteral("Eve"), {}, {QStringLiteral("hello")});
    auto replicator = Replicator(QStringLiteral("anna.db"));
    ASSERT_TRUE(replicator->WaitSettled(30000)) << replicator->StatusText().toStdString() << replicator->Problem().toStdString();
    replicator.reset();

    // A newer console moved the schema on: this one reads, and writes nothing.
    EXPECT_EQ(Count(QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM pg_namespace WHERE nspname = 'public') x")), 1);
    {
        PGconn *conn = PQconnectdb(server->Connection().toUtf8().constData());
        PQclear(PQexec(conn, "UPDATE \"we\"\"ird; DROP SCHEMA public; --\".version SET version = 99"));
        PQfinish(conn);
    }
    auto team = std::make_unique<TTeamDb>();
    ASSERT_TRUE(team->Open(server->Connection(), schema));
    EXPECT_TRUE(team->ReadOnly());
    const QString console = TArchiveTeamQueue(*local).Identity();
    EXPECT_TRUE(team->Chat(console, chat));
    TArchiveTeamQueue queue(*local);
    EXPECT_FALSE(team->Remove(console, TTeamRemoval{0, chat, {}, {}, {}}));
    EXPECT_TRUE(team->Chat(console, chat));
    const qint64 later = AddChat(*local, QStringLiteral("Later"), {}, {QStringLiteral("after")});
    replicator = Replicator(QStringLiteral("anna.db"));
    ASSERT_TRUE(WaitFor([&] { return replicator->CurrentState() == TTeamReplicator::State::ReadOnly; }, 30000));
    EXPECT_TRUE(replicator->Problem().contains(QStringLiteral("newer version"))) << replicator->Problem().toStdString();
    EXPECT_FALSE(team->Chat(console, later));
    EXPECT_EQ(Count(QStringLiteral("SELECT max(version) FROM @S.version")), 99);
}

} // namespace
