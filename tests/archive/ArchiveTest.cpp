// The chat archive on real SQLite files in a scratch folder: search that
// folds diacritics and never takes the operator's words as syntax, schema
// migration, removal that leaves no trace on disk, chats left open by a
// crash, and damaged or locked files.
#include "TestUtil.h"
#include "archive/ArchiveDb.h"
#include "archive/ArchiveRecorder.h"
#include "archive/ArchiveSearcher.h"
#include "archive/FoldTokenizer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QThread>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

#include <sqlite3.h>
#include <csignal>
#include <sys/stat.h>

using namespace velmora;
using namespace velmora::test;

namespace {

constexpr qint64 kDay = 24LL * 60 * 60 * 1000;

class ArchiveTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(db.Open(path), TArchiveDb::OpenResult::Ok) << db.LastError().toStdString(); }

    qint64 AddChat(const QString &visitor, const QString &email, const QString &site, qint64 started,
                   const QStringList &visitorLines, const QString &status = QStringLiteral("End Chat !"))
    {
        TArchiveChat chat;
        chat.SessionCount = ++session;
        chat.Visitor = visitor;
        chat.Email = email;
        chat.Site = site;
        chat.Started = started;
        chat.Status = status;
        chat.Open = false;
        const qint64 id = db.InsertChat(chat);
        for (const QString &text : visitorLines)
            EXPECT_TRUE(db.AddLine(id, TArchiveLine::Said(archive::Who::Visitor, visitor, text, started + 1000)));
        return id;
    }
    QList<qint64> Found(const QString &text, TArchiveFilter filter = {})
    {
        filter.Text = text;
        QList<qint64> ids;
        for (const TArchiveHit &hit : db.Search(filter))
            ids << hit.Chat;
        return ids;
    }
    QByteArray OnDisk() const
    {
        QByteArray bytes;
        for (const char *suffix : {"", "-wal"}) {
            QFile file(path + QLatin1String(suffix));
            if (file.open(QIODevice::ReadOnly))
                bytes += file.readAll();
        }
        return bytes;
    }

    QTemporaryDir dir;
    QString path = dir.filePath(QLatin1String(kArchiveFileName));
    TArchiveDb db;
    int session = 0;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
};

TEST_F(ArchiveTest, SearchFoldsDiacriticsFindsPrefixesAndNewestFirst)
{
    const qint64 older = AddChat(QStringLiteral("Jürgen"), QStringLiteral("j@example.com"), QStringLiteral("shop.de"),
                                 now - 2 * kDay, {QStringLiteral("Viele Grüße aus Köln, Bestellung 4711")});
    const qint64 newer = AddChat(QStringLiteral("Ann"), QStringLiteral("ann@example.com"), QStringLiteral("blog.test"),
                                 now - kDay, {QStringLiteral("where is order 4711?"), QStringLiteral("thanks")},
                                 QStringLiteral("Net Error !"));
    EXPECT_EQ(Found(QStringLiteral("Grusse")), QList<qint64>{older});
    EXPECT_EQ(Found(QStringLiteral("koln")), QList<qint64>{older});
    EXPECT_EQ(Found(QStringLiteral("47")), (QList<qint64>{newer, older}));
    EXPECT_EQ(Found(QStringLiteral("order 4711")), QList<qint64>{newer});
    // The visitor's own fields are searched too.
    EXPECT_EQ(Found(QStringLiteral("jurgen")), QList<qint64>{older});
    EXPECT_EQ(Found(QStringLiteral("ann@example")), QList<qint64>{newer});

    TArchiveFilter filter;
    filter.Site = QStringLiteral("SHOP");
    EXPECT_EQ(Found(QStringLiteral("4711"), filter), QList<qint64>{older});
    filter = {};
    filter.Status = QStringLiteral("Net Error !");
    EXPECT_EQ(Found(QString(), filter), QList<qint64>{newer});
    filter = {};
    filter.To = QDateTime::fromMSecsSinceEpoch(now - 2 * kDay).date();
    EXPECT_EQ(Found(QString(), filter), QList<qint64>{older});

    const std::vector<TArchiveHit> hits = db.Search(TArchiveFilter::Words(QStringLiteral("grüsse")));
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_TRUE(hits[0].Snippet.contains(kMarkOpen + QStringLiteral("Grüße") + kMarkClose))
        << hits[0].Snippet.toStdString();
}

// What an operator types finds what the visitor wrote, however either spelled it.
TEST_F(ArchiveTest, SearchFindsEveryWordAnywhereInAChatFoldedAsTyped)
{
    const qint64 boston = AddChat(QStringLiteral("Bob"), {}, {}, now - 5 * kDay,
                                  {QStringLiteral("flying to boston"), QStringLiteral("a refund for the ticket")});
    const qint64 german = AddChat(QStringLiteral("Hans MÜLLER"), {}, {}, now - 4 * kDay,
                                  {QStringLiteral("Viele Grüße"), QStringLiteral("GRÜSSE an den boss")});
    const qint64 polish = AddChat(QStringLiteral("Łukasz"), {}, {}, now - 3 * kDay,
                                  {QStringLiteral("smørrebrød for Łukasz"), QStringLiteral("你好世界，欢迎")});
    const qint64 anna = AddChat(QStringLiteral("Anna"), {}, {}, now - 2 * kDay,
                                {QStringLiteral("my parcel"), QStringLiteral("is lost, refund please 🎉 thanks")});
    const qint64 thanks = AddChat(QStringLiteral("Tom"), {}, {}, now - kDay, {QStringLiteral("thanks")});

    // ß is "ss", and "ss" stays "ss".
    for (const char *words : {"Grüße", "grusse", "GRÜSSE"})
        EXPECT_EQ(Found(QString::fromUtf8(words)), QList<qint64>{german}) << words;
    EXPECT_EQ(Found(QStringLiteral("boss")), QList<qint64>{german});
    EXPECT_EQ(Found(QStringLiteral("lukasz smorrebrod")), QList<qint64>{polish});
    // Two characters from inside a run of CJK text.
    EXPECT_EQ(Found(QStringLiteral("世界")), QList<qint64>{polish});
    EXPECT_EQ(Found(QStringLiteral("好世界")), QList<qint64>{polish});
    EXPECT_TRUE(Found(QStringLiteral("界欢")).isEmpty());
    // One letter (searched on Enter) is looked for in the chats themselves.
    EXPECT_EQ(Found(QStringLiteral("世")), QList<qint64>{polish});
    EXPECT_EQ(Found(QStringLiteral("B")), (QList<qint64>{german, boston}));
    EXPECT_EQ(Found(QStringLiteral("b flying")), QList<qint64>{boston});
    // An emoji is a word of the query.
    EXPECT_EQ(Found(QStringLiteral("🎉 thanks")), QList<qint64>{anna});
    EXPECT_EQ(Found(QStringLiteral("thanks")), (QList<qint64>{thanks, anna}));
    // The marks sit on the characters found, whatever their length in bytes.
    for (const QString &word : {QStringLiteral("🎉"), QStringLiteral("世界"), QStringLiteral("smorrebrod")}) {
        const std::vector<TArchiveHit> hits = db.Search(TArchiveFilter::Words(word));
        ASSERT_EQ(hits.size(), 1u) << word.toStdString();
        EXPECT_TRUE(hits[0].Snippet.contains(kMarkOpen + (word == QStringLiteral("smorrebrod") ? QStringLiteral("smørrebrød") : word)))
            << hits[0].Snippet.toStdString();
    }
    // Words in different lines, or in a line and the visitor's name.
    EXPECT_EQ(Found(QStringLiteral("parcel lost")), QList<qint64>{anna});
    EXPECT_EQ(Found(QStringLiteral("Anna refund")), QList<qint64>{anna});
    EXPECT_EQ(Found(QStringLiteral("refund")), (QList<qint64>{anna, boston}));
    // A no-break space parts words as any blank does.
    EXPECT_EQ(Found(QStringLiteral("lost\u00A0parcel")), QList<qint64>{anna});

    // The visitor filter folds as the index does, and is part of the search.
    TArchiveFilter filter;
    filter.Visitor = QStringLiteral("müller");
    EXPECT_EQ(Found(QString(), filter), QList<qint64>{german});
    filter.Visitor = QStringLiteral("ŁUKASZ");
    EXPECT_EQ(Found(QStringLiteral("smor"), filter), QList<qint64>{polish});
    filter.Visitor = QStringLiteral("nobody");
    EXPECT_TRUE(Found(QStringLiteral("the"), filter).isEmpty());

    // Pages continue where the last ended, each chat once.
    TArchiveSearch search(db, TArchiveFilter::Words(QStringLiteral("refund")));
    std::vector<TArchiveHit> paged;
    while (!search.AtEnd())
        ASSERT_TRUE(search.Next(1, paged));
    QList<qint64> ids;
    for (const TArchiveHit &hit : paged)
        ids << hit.Chat;
    EXPECT_EQ(ids, (QList<qint64>{anna, boston}));

    // A transferred chat's lines kept before the visitor's name came become
    // the visitor's once it comes, and are found as theirs.
    ASSERT_TRUE(db.AddLine(thanks, TArchiveLine::Said(archive::Who::System, {}, QStringLiteral("Zed: carried over"))));
    ASSERT_TRUE(db.AddLine(thanks, TArchiveLine::Said(archive::Who::System, {}, QStringLiteral("Chat Transfered at: 10:05"))));
    EXPECT_EQ(db.AttributeLines(thanks, archive::Who::Visitor, QStringLiteral("Zed")), 1);
    const std::vector<TArchiveLine> lines = db.Lines(thanks);
    EXPECT_EQ(lines[1].From, archive::Who::Visitor);
    EXPECT_EQ(lines[1].Name + QLatin1Char('|') + lines[1].Text, QStringLiteral("Zed|carried over"));
    EXPECT_EQ(lines[2].From, archive::Who::System);
    EXPECT_EQ(Found(QStringLiteral("carried")), QList<qint64>{thanks});
    EXPECT_TRUE(Found(QStringLiteral("zed")).isEmpty());
}

TEST_F(ArchiveTest, SearchWordsAreNeverSyntaxAndTextIsKeptAsWritten)
{
    const QString hostileLine = QStringLiteral("<b>x</b> '); DROP TABLE chats; -- \"quoted\" \x01marked\x02");
    const qint64 chat = AddChat(QStringLiteral("Robert'); --"), QString(), QString(), now, {hostileLine});
    for (const char *words : {"\"", "\"\"\"", "*", "-", "--", "NEAR", "NEAR(a b)", "AND", "OR", "NOT", "(", ")(",
                              "a AND (b", "'; DROP TABLE lines; --", "text:foo", "^x", "{col}: x", "x\"*\"y",
                              "%", "_", "\\"}) {
        TArchiveFilter filter;
        filter.Text = QString::fromUtf8(words);
        filter.Visitor = QString::fromUtf8(words);
        db.Search(filter);
        EXPECT_EQ(db.LastCode(), SQLITE_OK) << words; // set by any failure, never cleared
    }
    EXPECT_EQ(Found(QStringLiteral("DROP")), QList<qint64>{chat});
    EXPECT_EQ(Found(QStringLiteral("\"quoted")), QList<qint64>{chat});
    ASSERT_EQ(db.Lines(chat).size(), 1u);
    // The marks' characters never come from the text itself.
    EXPECT_EQ(db.Lines(chat)[0].Text, QStringLiteral("<b>x</b> '); DROP TABLE chats; -- \"quoted\" marked"));
    EXPECT_EQ(ArchiveMatchQuery(QStringLiteral("a\"b -- c*")), QStringLiteral("\"a\"\"b\"* \"c*\"*"));

    // Images keep name and size; the picture itself only up to 32 KB.
    for (const int size : {1024, archive::kMaxImageBytes + 1}) {
        TArchiveLine image = TArchiveLine::Said(archive::Who::Operator, QStringLiteral("Op"), QString());
        image.Kind = archive::LineKind::Image;
        image.ImageName = QStringLiteral("map.gif");
        image.Image = QByteArray(size, 'g');
        image.ImageSize = size;
        ASSERT_TRUE(db.AddLine(chat, image));
        const TArchiveLine kept = db.Lines(chat).back();
        EXPECT_EQ(kept.ImageSize, size);
        EXPECT_EQ(kept.Image.size(), size <= archive::kMaxImageBytes ? size : 0);
    }
}

TEST_F(ArchiveTest, OlderFileIsMigratedAndItsChatsIndexed)
{
    db.Close();
    QFile::remove(path);
    sqlite3 *raw = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &raw), SQLITE_OK);
    RegisterFoldTokenizer(raw);
    ASSERT_EQ(sqlite3_exec(raw, ArchiveMigration(0), nullptr, nullptr, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw,
                           "PRAGMA user_version = 1;"
                           "INSERT INTO chats(id, session, visitor, email, started, open) VALUES"
                           " (7, 70, 'Zoë Older', 'zoe@example.com', 1000, 0);"
                           "INSERT INTO lines(chat, at, who, text) VALUES (7, 1000, 1, 'kept from before');",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);

    ASSERT_EQ(db.Open(path), TArchiveDb::OpenResult::Ok) << db.LastError().toStdString();
    EXPECT_EQ(Found(QStringLiteral("zoe")), QList<qint64>{7});
    // Chats from before the folded visitor key are found by the filter too.
    TArchiveFilter filter;
    filter.Visitor = QStringLiteral("ZOË OLD");
    EXPECT_EQ(Found(QStringLiteral("kept"), filter), QList<qint64>{7});
    EXPECT_EQ(Found(QStringLiteral("before")), QList<qint64>{7});
    EXPECT_TRUE(db.SetTranscriptFate(7, TTranscriptFate{archive::Fate::Sent, 2000, QStringLiteral("zoe@example.com"), {}, {}}));
    EXPECT_EQ(db.TranscriptFate(7)->State, archive::Fate::Sent);
    EXPECT_EQ(db.Earlier(QStringLiteral("ZOE@example.com"), {}, {}).Count, 1);
}

TEST_F(ArchiveTest, FileOfTheLastVersionGainsTheCallsTimesWithItsChatsUnknown)
{
    db.Close();
    QFile::remove(path);
    sqlite3 *raw = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &raw), SQLITE_OK);
    RegisterFoldTokenizer(raw);
    const int last = TArchiveDb::kSchemaVersion - 1;
    for (int version = 0; version < last; ++version)
        ASSERT_EQ(sqlite3_exec(raw, ArchiveMigration(version), nullptr, nullptr, nullptr), SQLITE_OK);
    const QByteArray fill = "PRAGMA user_version = " + QByteArray::number(last) + ";"
                            "INSERT INTO chats(id, session, visitor, started, ended, ended_properly, open) VALUES"
                            " (7, 70, 'Older', 1000, 9000, 1, 0);"
                            "INSERT INTO lines(chat, at, who, text) VALUES (7, 2000, 1, 'kept from before');";
    ASSERT_EQ(sqlite3_exec(raw, fill.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(raw);

    ASSERT_EQ(db.Open(path), TArchiveDb::OpenResult::Ok) << db.LastError().toStdString();
    const std::optional<TArchiveChat> older = db.Chat(7);
    ASSERT_TRUE(older);
    EXPECT_EQ(older->Announced, 0);
    EXPECT_EQ(older->EndedBy, archive::EndedBy::Unknown);
    EXPECT_EQ(older->Ended, 9000);

    TArchiveChat chat;
    chat.SessionCount = 71;
    chat.Started = 5000;
    chat.Announced = 3000;
    chat.Answered = 3500;
    chat.HeldFrom = 3500;
    chat.HeldUntil = 5000;
    const qint64 id = db.InsertChat(chat);
    TArchiveLine carried = TArchiveLine::Said(archive::Who::Visitor, {}, QStringLiteral("earlier"), 5100);
    carried.Carried = true;
    ASSERT_TRUE(db.AddLine(id, carried));
    ASSERT_TRUE(db.EndChat(id, 8000, QStringLiteral("Net Error !"), archive::EndedBy::Network));
    ASSERT_TRUE(db.InsertCall(TArchiveCall{72, 0, QStringLiteral("shop"), 4000, 0, 0, 0,
                                           archive::CallOutcome::TakenByOther}));

    std::vector<std::pair<TArchiveChat, std::vector<TArchiveLine>>> read;
    ASSERT_TRUE(db.ChatsWithLineTimes(0, 6000, [&](const TArchiveChat &c, const std::vector<TArchiveLine> &lines) {
        read.emplace_back(c, lines);
    }));
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].second.size(), 1u);
    EXPECT_FALSE(read[0].second[0].Carried);
    const TArchiveChat &written = read[1].first;
    EXPECT_EQ(std::tuple(written.Announced, written.Answered, written.HeldFrom, written.HeldUntil),
              std::tuple(3000LL, 3500LL, 3500LL, 5000LL));
    EXPECT_EQ(written.EndedBy, archive::EndedBy::Network);
    EXPECT_TRUE(read[1].second.at(0).Carried);
    std::vector<TArchiveCall> calls;
    ASSERT_TRUE(db.CallsAnnounced(0, 6000, calls));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].Outcome, archive::CallOutcome::TakenByOther);

    // The calls expire with the chats, and go with "remove all".
    EXPECT_GE(db.RemoveOlderThan(4500), 0);
    calls.clear();
    ASSERT_TRUE(db.CallsAnnounced(0, 6000, calls));
    EXPECT_TRUE(calls.empty());
}

TEST_F(ArchiveTest, RemovalLeavesNoTraceOnDisk)
{
    const qint64 expired = AddChat(QStringLiteral("Old"), QStringLiteral("old@example.com"), {}, now - 400 * kDay,
                                   {QStringLiteral("ancientword")});
    AddChat(QStringLiteral("Eve"), QStringLiteral("eve@example.com"), QStringLiteral("shop"), now - 3 * kDay,
            {QStringLiteral("secretpassphrase one")});
    AddChat(QStringLiteral("Eve"), QStringLiteral("EVE@example.com"), QStringLiteral("shop"), now - kDay,
            {QStringLiteral("secretpassphrase two")});
    const qint64 kept = AddChat(QStringLiteral("Kim"), QStringLiteral("kim@example.com"), {}, now, {QStringLiteral("hello")});

    // A returning visitor: by name and site without an address, and only
    // what came before the chat now running.
    const TEarlierChats earlier = db.Earlier(QString(), QStringLiteral("eve"), QStringLiteral("shop"));
    EXPECT_EQ(earlier.Count, 2);
    EXPECT_EQ(earlier.Last, now - kDay);
    EXPECT_EQ(db.Earlier(QStringLiteral("EVE@example.com"), {}, {}, now - 2 * kDay).Count, 1);
    const qint64 nov30 = QDateTime(QDate(2026, 11, 30), QTime(12, 0)).toMSecsSinceEpoch();
    EXPECT_EQ(EarlierChatsText({3, nov30}), QStringLiteral("3 earlier chats, last on 30 Nov"));
    EXPECT_EQ(EarlierChatsText({1, nov30}), QStringLiteral("1 earlier chat, last on 30 Nov"));
    EXPECT_TRUE(EarlierChatsText({}).isEmpty());

    EXPECT_EQ(db.RemoveOlderThan(now - 365 * kDay), 1);
    EXPECT_FALSE(db.Chat(expired));
    EXPECT_EQ(db.ForgetVisitor(QStringLiteral("eve@EXAMPLE.com")), 2);
    ASSERT_TRUE(db.FreeSpace()) << db.LastError().toStdString();
    EXPECT_TRUE(Found(QStringLiteral("secretpassphrase")).isEmpty());
    EXPECT_EQ(Found(QStringLiteral("hello")), QList<qint64>{kept});
    const QByteArray disk = OnDisk();
    EXPECT_FALSE(disk.contains("secretpassphrase"));
    EXPECT_FALSE(disk.contains("ancientword"));
    EXPECT_FALSE(disk.contains("eve@example.com"));
    EXPECT_TRUE(disk.contains("hello"));
    EXPECT_EQ(db.DeleteChat(kept), 1);
    EXPECT_TRUE(Found(QString()).isEmpty());
    // Turning the archive off removes every chat but the one still running.
    AddChat(QStringLiteral("Lou"), {}, {}, now, {QStringLiteral("ended")});
    TArchiveChat running;
    running.Started = now;
    const qint64 open = db.InsertChat(running);
    // A running chat is not removed: its next lines would go under a chat that is gone.
    EXPECT_EQ(db.DeleteChat(open), 0);
    EXPECT_EQ(db.RemoveAll(), 1);
    EXPECT_EQ(Found(QString()), QList<qint64>{open});

    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(ArchiveTest, RecorderWritesWithinASecondAndMarksChatsACrashLeftOpen)
{
    db.Close();
    auto recorder = std::make_unique<TArchiveRecorder>(path);
    TArchiveChat call;
    call.SessionCount = 42;
    call.Visitor = QStringLiteral("Mia");
    const TArchiveRecorder::Handle chat = recorder->BeginChat(call);
    recorder->AddLine(chat, TArchiveLine::Said(archive::Who::Visitor, QStringLiteral("Mia"), QStringLiteral("first")));
    // Seen by another connection without a flush, as after a kill.
    TArchiveDb reader;
    ASSERT_TRUE(WaitFor([&] { return reader.OpenReader(path) && reader.Search(TArchiveFilter::Words(QStringLiteral("first"))).size() == 1; }, 1500));
    TArchiveChat details = call;
    details.Email = QStringLiteral("mia@example.com");
    recorder->UpdateCaller(chat, details);
    recorder->AddLine(chat, TArchiveLine::Said(archive::Who::Operator, QStringLiteral("Op"), QStringLiteral("second")));
    recorder->Flush();
    const qint64 id = reader.Search(TArchiveFilter::Words(QStringLiteral("first")))[0].Chat;
    EXPECT_TRUE(reader.Chat(id)->Open);
    // The next run finds it open and marks it.
    recorder.reset();
    recorder = std::make_unique<TArchiveRecorder>(path);
    recorder->Flush();
    const std::optional<TArchiveChat> left = reader.Chat(id);
    EXPECT_FALSE(left->Open);
    EXPECT_FALSE(left->EndedProperly);
    EXPECT_EQ(left->Ended, reader.Lines(id).back().At);
    EXPECT_EQ(left->Email, QStringLiteral("mia@example.com"));

    // Off, it records nothing.
    recorder->SetRetentionDays(0);
    EXPECT_EQ(recorder->BeginChat(call), 0);
    recorder->SetRetentionDays(30);
    const TArchiveRecorder::Handle ended = recorder->BeginChat(call);
    recorder->EndChat(ended, QStringLiteral("End Chat !"));
    recorder->SetTranscriptFate(42, TTranscriptFate{archive::Fate::SetAside, 0, {}, QStringLiteral("550 no"), {}});
    recorder->Flush();
    const qint64 second = reader.ChatOfSession(42);
    EXPECT_TRUE(reader.Chat(second)->EndedProperly);
    EXPECT_EQ(reader.TranscriptFate(second)->Answer, QStringLiteral("550 no"));
}

// A large removal goes in batches: the chats' lines are written between
// them, an exit stops between two, and the next run finishes it.
TEST_F(ArchiveTest, RemovalsNeverHoldTheRecorderAndResumeAfterAnExit)
{
    constexpr int kLines = 6000;
    TArchiveChat big;
    big.Visitor = QStringLiteral("Big");
    big.Started = now - kDay;
    big.Open = false;
    ASSERT_TRUE(db.Begin());
    const qint64 bigId = db.InsertChat(big);
    for (int i = 0; i < kLines; ++i)
        db.AddLine(bigId, TArchiveLine::Said(archive::Who::Visitor, {}, QStringLiteral("bulky line %1").arg(i)));
    const qint64 second = db.InsertChat(big);
    for (int i = 0; i < kLines; ++i)
        db.AddLine(second, TArchiveLine::Said(archive::Who::Visitor, {}, QStringLiteral("bulky line %1").arg(i)));
    ASSERT_TRUE(db.Commit());
    db.Close();

    auto recorder = std::make_unique<TArchiveRecorder>(path);
    const TArchiveRecorder::Handle running = recorder->BeginChat(TArchiveChat{});
    recorder->Flush();
    TArchiveDb reader;
    ASSERT_TRUE(reader.OpenReader(path));
    int removed = -2;
    bool lineWrittenFirst = false;
    recorder->DeleteChat(bigId, [&](int count) {
        removed = count;
        lineWrittenFirst = reader.Search(TArchiveFilter::Words(QStringLiteral("meanwhile"))).size() == 1;
    });
    recorder->AddLine(running, TArchiveLine::Said(archive::Who::Visitor, {}, QStringLiteral("meanwhile")));
    ASSERT_TRUE(WaitFor([&] { return removed != -2; }));
    EXPECT_EQ(removed, 1);
    EXPECT_TRUE(lineWrittenFirst);
    EXPECT_FALSE(reader.Chat(bigId));

    // An exit in the middle of a removal: quick, and the chat is gone from view.
    recorder->DeleteChat(second);
    recorder->Flush();
    QElapsedTimer exit;
    exit.start();
    recorder.reset();
    EXPECT_LT(exit.elapsed(), 1000);
    EXPECT_TRUE(reader.Search(TArchiveFilter::Words(QStringLiteral("bulky"))).empty());
    recorder = std::make_unique<TArchiveRecorder>(path);
    EXPECT_TRUE(WaitFor([&] { return !reader.Chat(second); }));
    EXPECT_TRUE(reader.Lines(second).empty());
}

// The writer half of the kill test below: records a line every 10 ms and
// says on stdout which line it has handed over, until it is killed.
TEST(ArchiveKilledWriter, RecordsUntilKilled)
{
    const QString path = qEnvironmentVariable("VELMORA_ARCHIVE_WRITER");
    if (path.isEmpty())
        GTEST_SKIP() << "run by KillDuringAChatLosesAtMostTheLastSecond";
    TArchiveRecorder recorder(path);
    TArchiveChat call;
    call.Visitor = QStringLiteral("Killed");
    const TArchiveRecorder::Handle chat = recorder.BeginChat(call);
    for (int i = 0;; ++i) {
        recorder.AddLine(chat, TArchiveLine::Said(archive::Who::Visitor, call.Visitor, QStringLiteral("line %1").arg(i)));
        std::printf("%d\n", i);
        std::fflush(stdout);
        QThread::msleep(10);
    }
}

TEST_F(ArchiveTest, KillDuringAChatLosesAtMostTheLastSecond)
{
    db.Close();
    QProcess writer;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VELMORA_ARCHIVE_WRITER"), path);
    writer.setProcessEnvironment(env);
    writer.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--gtest_filter=ArchiveKilledWriter.RecordsUntilKilled")});
    ASSERT_TRUE(writer.waitForStarted(5000));
    QByteArray said;
    ASSERT_TRUE(WaitFor([&] {
        said += writer.readAllStandardOutput();
        return said.count('\n') > 150;
    }));
    ::kill(pid_t(writer.processId()), SIGKILL);
    ASSERT_TRUE(writer.waitForFinished(5000));
    said += writer.readAllStandardOutput();
    const QList<QByteArray> numbers = said.trimmed().split('\n');
    const int lastShown = numbers.last().toInt();

    ASSERT_EQ(db.Open(path), TArchiveDb::OpenResult::Ok) << db.LastError().toStdString();
    ASSERT_EQ(db.MarkLeftOpen(), 1);
    const std::vector<TArchiveHit> chats = db.Search(TArchiveFilter{});
    ASSERT_EQ(chats.size(), 1u);
    const std::vector<TArchiveLine> lines = db.Lines(chats[0].Chat);
    ASSERT_FALSE(lines.empty());
    // What is there is every line up to some point, and that point is less
    // than a second (100 lines) behind the last one handed over.
    for (size_t i = 0; i < lines.size(); ++i)
        ASSERT_EQ(lines[i].Text, QStringLiteral("line %1").arg(i));
    EXPECT_LT(lastShown - int(lines.size()), 100) << lines.size() << " of " << lastShown;
    EXPECT_FALSE(db.Chat(chats[0].Chat)->EndedProperly);
}

TEST_F(ArchiveTest, DamagedFilesAreSetAsideAndALockedFileIsWaitedFor)
{
    db.Close();
    const QByteArray garbage(8192, 'x');
    // Garbage, a file of a newer version, a file cut short.
    for (int kind = 0; kind < 3; ++kind) {
        QFile::remove(path);
        if (kind == 2) {
            ASSERT_EQ(db.Open(path), TArchiveDb::OpenResult::Ok);
            for (int i = 0; i < 300; ++i)
                AddChat(QStringLiteral("V%1").arg(i), {}, {}, now, {QString(200, QLatin1Char('a' + i % 26))});
            db.FreeSpace();
            db.Close();
            QFile::resize(path, QFileInfo(path).size() / 2);
        } else if (kind == 0) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(garbage);
        } else {
            sqlite3 *raw = nullptr;
            sqlite3_open(QFile::encodeName(path).constData(), &raw);
            sqlite3_exec(raw, "CREATE TABLE t(x); PRAGMA user_version = 99;", nullptr, nullptr, nullptr);
            sqlite3_close(raw);
        }
        const QByteArray before = [&] {
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            return file.readAll();
        }();
        QString movedTo;
        EXPECT_EQ(db.Open(path, nullptr, &movedTo), TArchiveDb::OpenResult::MovedAside) << kind;
        // A newer version's file is kept under a name that does not call it damaged.
        EXPECT_EQ(movedTo.contains(QStringLiteral(".newer-")), kind == 1) << movedTo.toStdString();
        EXPECT_EQ(db.WasNewer(), kind == 1);
        QFile aside(movedTo);
        ASSERT_TRUE(aside.open(QIODevice::ReadOnly)) << movedTo.toStdString();
        EXPECT_EQ(aside.readAll(), before);
        EXPECT_NE(AddChat(QStringLiteral("New"), {}, {}, now, {QStringLiteral("fresh")}), 0);
        // The new file is as private as the first.
        EXPECT_FALSE(QFileInfo(path).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther)) << kind;
        db.Close();
        QFile::remove(movedTo);
    }

    // The operator is told a newer version's file is that, not damage.
    {
        QFile::remove(path);
        sqlite3 *raw = nullptr;
        sqlite3_open(QFile::encodeName(path).constData(), &raw);
        sqlite3_exec(raw, "CREATE TABLE t(x); PRAGMA user_version = 99;", nullptr, nullptr, nullptr);
        sqlite3_close(raw);
        TArchiveRecorder newer(path);
        QSignalSpy told(&newer, &TArchiveRecorder::Problem);
        newer.Flush();
        ASSERT_TRUE(WaitFor([&] { return !told.isEmpty(); }));
        const QString text = told[0][0].toString();
        EXPECT_TRUE(text.contains(QStringLiteral("newer version")) && !text.contains(QStringLiteral("damaged")))
            << text.toStdString();
    }

    // Another program holds the file: chats wait in the queue, the problem
    // is told once, and they are written when the lock goes.
    TArchiveRecorder recorder(path);
    recorder.Flush();
    QSignalSpy problems(&recorder, &TArchiveRecorder::Problem);
    QSignalSpy resumed(&recorder, &TArchiveRecorder::Resumed);
    sqlite3 *holder = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &holder);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    const TArchiveRecorder::Handle chat = recorder.BeginChat(TArchiveChat{});
    for (int i = 0; i < 3; ++i) {
        recorder.AddLine(chat, TArchiveLine::Said(archive::Who::Visitor, {}, QStringLiteral("waiting%1").arg(i)));
        recorder.Flush();
    }
    EXPECT_TRUE(WaitFor([&] { return problems.size() == 1; }));
    EXPECT_FALSE(recorder.Healthy());
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    EXPECT_TRUE(WaitFor([&] { return resumed.size() == 1; }));
    EXPECT_EQ(problems.size(), 1);
    ASSERT_TRUE(db.OpenReader(path));
    EXPECT_EQ(Found(QStringLiteral("waiting2")).size(), 1);

    // Held for long, the queue is bounded in bytes as well as entries, and
    // what it dropped is told.
    holder = nullptr;
    sqlite3_open(QFile::encodeName(path).constData(), &holder);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    const QString large(1 << 20, QLatin1Char('x'));
    for (int i = 0; i < 40; ++i)
        recorder.AddLine(chat, TArchiveLine::Said(archive::Who::Visitor, {}, large));
    recorder.Flush();
    EXPECT_TRUE(WaitFor([&] {
        return std::any_of(problems.begin(), problems.end(),
                           [](const QList<QVariant> &args) { return args[0].toString().contains(QStringLiteral("dropped")); });
    }));
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
}

// A page of the index overwritten: searches say the file cannot be read
// (never "no matches"), and the check after the start sets the file aside.
TEST_F(ArchiveTest, DamageInsideTheFileIsReportedAndTheFileSetAside)
{
    for (int i = 0; i < 400; ++i)
        AddChat(QStringLiteral("V%1").arg(i), {}, {}, now, {QStringLiteral("parcel number %1 is late").arg(i)});
    qint64 root = 0;
    {
        sqlite3_stmt *statement = nullptr;
        sqlite3_prepare_v2(db.Handle(), "SELECT rootpage FROM sqlite_master WHERE name = 'lines_fts_data'", -1,
                           &statement, nullptr);
        ASSERT_EQ(sqlite3_step(statement), SQLITE_ROW);
        root = sqlite3_column_int64(statement, 0);
        sqlite3_finalize(statement);
    }
    db.Close();
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.seek((root - 1) * 4096));
        file.write(QByteArray(4096, '\x5a'));
    }
    TArchiveRecorder recorder(path);
    QSignalSpy problems(&recorder, &TArchiveRecorder::Problem);
    TArchiveSearcher searcher(recorder);
    QSignalSpy found(&searcher, &TArchiveSearcher::Found);
    QSignalSpy failed(&searcher, &TArchiveSearcher::Failed);
    searcher.Search(TArchiveFilter::Words(QStringLiteral("parcel")));
    ASSERT_TRUE(WaitFor([&] { return found.size() + failed.size() > 0; }));
    EXPECT_EQ(found.size(), 0);
    ASSERT_EQ(failed.size(), 1);
    EXPECT_TRUE(failed[0][3].toBool()) << failed[0][1].toString().toStdString(); // damaged

    recorder.CheckNow();
    ASSERT_TRUE(WaitFor([&] { return !problems.isEmpty(); }));
    EXPECT_TRUE(problems[0][0].toString().contains(QStringLiteral("damaged"))) << problems[0][0].toString().toStdString();
    const QStringList aside = QDir(dir.path()).entryList({QStringLiteral("*.damaged-*")});
    EXPECT_EQ(aside.filter(QRegularExpression(QStringLiteral("damaged-[0-9-]+$"))).size(), 1) << aside.join(' ').toStdString();
    // The new file takes chats, and searches read it.
    const TArchiveRecorder::Handle chat = recorder.BeginChat(TArchiveChat{});
    recorder.AddLine(chat, TArchiveLine::Said(archive::Who::Visitor, {}, QStringLiteral("parcel again")));
    recorder.Flush();
    failed.clear();
    searcher.Search(TArchiveFilter::Words(QStringLiteral("parcel")));
    ASSERT_TRUE(WaitFor([&] { return !found.isEmpty() || !failed.isEmpty(); }));
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found[0][1].value<std::vector<TArchiveHit>>().size(), 1u);
}

} // namespace
