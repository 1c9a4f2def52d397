// A customer's chat without any window: the take-over of the call's
// connection, what goes out when and what never does, what the far end's
// messages do to the call list and the view, and the end on the wire.
#include "session/CustomerChat.h"

#include "archive/ArchiveRecorder.h"
#include "config/Settings.h"
#include "diag/Logdata.h"
#include "protocol/ChatMessages.h"
#include "support/ArchivedChat.h"
#include "support/CallRecord.h"
#include "support/FakeChatServer.h"
#include "support/RecordingCalls.h"
#include "support/TestUtil.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <tuple>

namespace velmora {
namespace {

using chat::CHAT_KEEP_ALIVE;
using chat::CHAT_TEXT;
using chat::END_SESSION;
using chat::TYPING_START;
using chat::TYPING_STOP;
using test::BodyOf;
using test::CodesAfter;
using test::ConnectRecord;
using test::FakeChatServer;
using test::RecordingCalls;
using test::RunFor;
using test::WaitFor;

// What the chat told its view, one readable line each.
class RecordingView final : public ICustomerChatView {
public:
    void RemoteLine(const QString &text) override { events << QStringLiteral("line ") + text; }
    void RemoteTypingChanged(bool typing) override { events << QStringLiteral("typing %1").arg(typing); }
    void RemoteEnded() override { events << QStringLiteral("ended"); }
    void OtherMessage(quint16 code, const QByteArray &) override
    {
        events << QStringLiteral("other %1").arg(code, 4, 16, QLatin1Char('0'));
    }
    void ClockTicked(quint32 seconds) override { clock = seconds; }
    void ConnectionLost() override { events << QStringLiteral("lost"); }
    void CallerDetailsChanged() override { events << QStringLiteral("details"); }

    QStringList events;
    quint32 clock = 0;
};

class CustomerChatTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_saved = Settings();
        Settings().SupportName = QStringLiteral("Anna");
        Settings().SupportWelcomeMsg = QStringLiteral("Hello, how can I help?");
        Settings().EmptyLineAdd = true;
        ASSERT_TRUE(server.IsListening());
        ASSERT_TRUE(dir.isValid());
        log = std::make_unique<TLogFile>(dir.filePath(QStringLiteral("Velmora.log")));
    }

    void TearDown() override
    {
        chat.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Settings() = m_saved;
    }

    void MakeRecord()
    {
        ConnectRecord(server, record);
        record.Kind = 0x000D;
    }

    // Takes the call over and waits for the three opening frames.
    void Begin()
    {
        MakeRecord();
        chat = std::make_unique<TCustomerChat>(view, calls, [this] { return log.get(); });
        chat->Begin(&record);
        chat->ReadWaiting();
        ASSERT_TRUE(server.WaitForFrames(3));
    }

    std::vector<quint16> CodesAfterOpening(int count = 0) { return CodesAfter(server, 3, count); }
    void Settle(int ms = 150) { RunFor(ms); }
    void Receive(quint16 code, const QByteArray &body = QByteArray()) { ASSERT_TRUE(server.SendFrame(0, code, body)); }
    QByteArray Details(const char *name, const char *email, const char *phone)
    {
        return BodyOf(chat::BuildUserDetails(name, email, phone).value());
    }

    FakeChatServer server;
    QTemporaryDir dir;
    std::unique_ptr<TLogFile> log;
    RecordingCalls calls;
    RecordingView view;
    ChatItem record;
    std::unique_ptr<TCustomerChat> chat;

private:
    TSettings m_saved;
};

TEST_F(CustomerChatTest, TheTakeOverOpensTheChatOnTheCallsOwnConnection)
{
    Begin();
    const QByteArray expected = QByteArray(6, '\0') + *chat::BuildSupportWelcome("Anna", "Hello, how can I help?")
                                + QByteArray::fromHex("002100000006000400000001");
    EXPECT_EQ(server.RawBytes(0).toHex(), expected.toHex());
    EXPECT_EQ(chat->Socket(), record.Socket);
    EXPECT_FALSE(record.SendWorker); // the chat's now
    EXPECT_EQ(chat->SessionCount(), 4711);
    EXPECT_EQ(chat->CallingFrom(), QStringLiteral("www.example.org"));
    EXPECT_EQ(view.clock, 1u);
    EXPECT_TRUE(chat->ClockTimer().isActive());
    EXPECT_EQ(calls.events, QStringList{QStringLiteral("status 2")});

    // A call that waited on hold already knows its caller.
    ChatItem held;
    held.OnHold = true;
    held.Name = QStringLiteral("Bob");
    held.Email = QStringLiteral("bob@example.org");
    TCustomerChat other(view, calls);
    other.Begin(&held);
    EXPECT_EQ(other.Name(), QStringLiteral("Bob"));
    EXPECT_EQ(other.Email(), QStringLiteral("bob@example.org"));
}

TEST_F(CustomerChatTest, WhatCameBeforeTheTakeOverIsShownFirstInItsOrder)
{
    MakeRecord();
    // Lines the call list kept while the call waited, then a frame still unread.
    record.EarlyLines = {QStringLiteral("Are you there?"), QStringLiteral("Hello?")};
    record.EarlyChars = 20;
    ASSERT_TRUE(server.SendRaw(0, chat::BuildUserDetails("Eve", "", "").value()));
    Settle();
    chat = std::make_unique<TCustomerChat>(view, calls);
    chat->Begin(&record);
    chat->ReadWaiting();
    EXPECT_EQ(chat->Name(), QStringLiteral("Eve"));
    EXPECT_EQ(view.events, (QStringList{"line Are you there?", "line Hello?", "details"}));
    EXPECT_TRUE(record.EarlyLines.isEmpty());
    EXPECT_EQ(record.EarlyChars, 0);
}

TEST_F(CustomerChatTest, OneTypingStartPerLineOneStopAndNoEmptyLines)
{
    Begin();
    chat->InputChanged(false);
    chat->InputChanged(false);
    EXPECT_TRUE(chat->TypingNoticeSent());
    chat->InputChanged(true);
    chat->InputChanged(false);
    EXPECT_FALSE(chat->SendLine(QByteArray()));
    EXPECT_TRUE(chat->SendLine("Hi"));
    chat->InputChanged(true);
    EXPECT_FALSE(chat->TypingNoticeSent());
    EXPECT_EQ(CodesAfterOpening(5),
              (std::vector<quint16>{TYPING_START, TYPING_STOP, TYPING_START, CHAT_TEXT, TYPING_STOP}));
    EXPECT_EQ(chat::DecodeChatText(server.Frames()[6].body).value(), QByteArray("Hi"));
}

TEST_F(CustomerChatTest, WhatTheCallerSendsReachesTheViewTheCallListAndTheLog)
{
    Begin();
    Receive(TYPING_START);
    ASSERT_TRUE(WaitFor([&] { return chat->RemoteTyping(); }));
    Receive(CHAT_TEXT, BodyOf(chat::BuildChatText("hi").value()));
    // Control characters in the caller's name cannot break the log's lines.
    Receive(chat::USER_DETAILS, Details("Eve\r\nFake: line", "eve@example.org", "555"));
    Receive(CHAT_KEEP_ALIVE);
    Receive(0x0777, QByteArray("junk"));
    Receive(CHAT_TEXT, QByteArray::fromHex("001061"));   // shorter than its prefix says
    Receive(chat::USER_DETAILS, QByteArray::fromHex("000161")); // a name only
    Receive(END_SESSION);
    ASSERT_TRUE(WaitFor([&] { return chat->Ended(); }));

    EXPECT_EQ(view.events, (QStringList{"typing 1", "line hi", "details", "other 0777", "ended"}));
    EXPECT_FALSE(chat->RemoteTyping());
    EXPECT_EQ(chat->Email(), QStringLiteral("eve@example.org"));
    EXPECT_EQ(chat->Phone(), QStringLiteral("555"));
    EXPECT_TRUE(calls.events.contains(QStringLiteral("email eve@example.org")));
    EXPECT_TRUE(calls.events.contains(QStringLiteral("phone 555")));
    log.reset();
    QFile file(dir.filePath(QStringLiteral("Velmora.log")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    const auto details = std::count_if(lines.begin(), lines.end(),
                                       [](const QByteArray &l) { return l.contains("User details for SessionCount = 4711"); });
    EXPECT_EQ(details, 1);
    EXPECT_FALSE(std::any_of(lines.begin(), lines.end(), [](const QByteArray &l) { return l.startsWith("Fake:"); }));
}

TEST_F(CustomerChatTest, TheClockSendsAKeepAliveEveryMinute)
{
    Begin();
    while (chat->Clock() < 59)
        chat->Tick();
    Settle(50);
    EXPECT_TRUE(CodesAfterOpening().empty());
    chat->Tick(); // 60
    EXPECT_EQ(CodesAfterOpening(1), std::vector<quint16>{CHAT_KEEP_ALIVE});
    while (chat->Clock() < 3600)
        chat->Tick();
    EXPECT_EQ(CodesAfterOpening(60).size(), 60u);
    EXPECT_EQ(view.clock, 3600u);
}

TEST_F(CustomerChatTest, TheEndOnTheWireSaysGoodbyeOnceAndNothingFollows)
{
    Begin();
    int done = 0;
    const qint64 startedAt = server.ElapsedMs();
    chat->EndOnWire(300, [] { FAIL() << "the queue should have emptied"; }, [&] { ++done; });
    // Inside the pause the chat still talks; the farewell comes last.
    chat->SendLine("last words");
    ASSERT_TRUE(WaitFor([&] { return done == 1; }));
    const int end = server.WaitForFrame(END_SESSION);
    ASSERT_GE(end, 0);
    EXPECT_GE(server.Frames()[size_t(end)].atMs - startedAt, 290);
    EXPECT_TRUE(chat->Ended());
    chat->SendLine("after the end");
    chat->Tick();
    chat->EndSession();
    Settle();
    EXPECT_EQ(CodesAfterOpening(), (std::vector<quint16>{CHAT_TEXT, END_SESSION}));
    EXPECT_EQ(calls.events, (QStringList{"status 2", "status 6"}));
    // An answer the server still expects on the connection goes even now.
    EXPECT_TRUE(chat->SendAlways(QByteArray::fromHex("002c00000000")));
}

TEST_F(CustomerChatTest, TheChatIsKeptInTheArchiveAsItHappens)
{
    TArchiveRecorder recorder(dir.filePath(QLatin1String(kArchiveFileName)));
    SetArchiveRecorder(&recorder);
    record.Announced = 1000;
    record.Answered = 2000;
    record.HeldFrom = 2000;
    record.HeldUntil = 3000;
    Begin();
    Receive(chat::USER_DETAILS, Details("Eve", "eve@example.org", "555"));
    Receive(CHAT_TEXT, BodyOf(chat::BuildChatText("where is my order?").value()));
    ASSERT_TRUE(WaitFor([&] { return view.events.contains(QStringLiteral("line where is my order?")); }));
    chat->SendLine("on its way");
    // What else the operator sends, and the console's own lines, are kept as
    // lines of their kind; an image too large to keep keeps name and size.
    chat->SendLine("Thanks for waiting.", archive::LineKind::Canned);
    chat->ArchiveUrl(QStringLiteral("https://example.com/track"));
    chat->ArchiveImage(QStringLiteral("/tmp/x/map.png"), QByteArray(100, 'p'));
    chat->ArchiveImage(QStringLiteral("big.jpg"), QByteArray(archive::kMaxImageBytes + 1, 'j'));
    chat->ArchiveSystemLine(QStringLiteral("Eve left the chat at 10:00"));
    chat->NameArchiveOtherSupporter(QStringLiteral("Ben"));
    bool done = false;
    chat->EndOnWire(0, {}, [&] { done = true; });
    ASSERT_TRUE(WaitFor([&] { return done; }));
    recorder.Flush();

    TArchiveDb archive;
    ASSERT_TRUE(archive.OpenReader(recorder.Path()));
    const std::vector<TArchiveHit> kept = archive.Search(TArchiveFilter::Words(QStringLiteral("order")));
    ASSERT_EQ(kept.size(), 1u);
    const TArchiveChat row = *archive.Chat(kept[0].Chat);
    EXPECT_EQ(row.SessionCount, 4711);
    EXPECT_EQ(row.Email, QStringLiteral("eve@example.org"));
    EXPECT_EQ(row.Status, QStringLiteral("End Chat !"));
    EXPECT_TRUE(row.EndedProperly);
    EXPECT_EQ(row.OtherSupporter, QStringLiteral("Ben"));
    // The call's times come with the chat; the operator ended it.
    EXPECT_EQ(std::tuple(row.Announced, row.Answered, row.HeldFrom, row.HeldUntil),
              std::tuple(1000LL, 2000LL, 2000LL, 3000LL));
    EXPECT_EQ(row.EndedBy, archive::EndedBy::Operator);
    const std::vector<TArchiveLine> lines = archive.Lines(row.Id);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0].From, archive::Who::Visitor);
    EXPECT_EQ(lines[0].Name, QStringLiteral("Eve"));
    EXPECT_EQ(lines[1].From, archive::Who::Operator);
    EXPECT_EQ(lines[1].Name + QStringLiteral(": ") + lines[1].Text, QStringLiteral("Anna: on its way"));
    EXPECT_EQ(lines[2].Kind, archive::LineKind::Canned);
    EXPECT_EQ(lines[3].Kind, archive::LineKind::Url);
    EXPECT_EQ(lines[3].Text, QStringLiteral("https://example.com/track"));
    EXPECT_EQ(lines[4].Kind, archive::LineKind::Image);
    EXPECT_EQ(lines[4].ImageName, QStringLiteral("map.png"));
    EXPECT_EQ(lines[4].Image, QByteArray(100, 'p'));
    EXPECT_EQ(lines[5].ImageSize, archive::kMaxImageBytes + 1);
    EXPECT_TRUE(lines[5].Image.isEmpty());
    EXPECT_EQ(lines[6].From, archive::Who::System);
    SetArchiveRecorder(nullptr);
}

// A call whose visitor talked while waiting has its record begun already:
// the chat goes on with it, and nothing is kept twice.
TEST_F(CustomerChatTest, TheChatGoesOnWithTheRecordOfWhatCameWhileWaiting)
{
    TArchiveRecorder recorder(dir.filePath(QLatin1String(kArchiveFileName)));
    SetArchiveRecorder(&recorder);
    MakeRecord();
    TArchiveChat early;
    early.Visitor = QStringLiteral("Mia");
    record.ArchiveChat = recorder.BeginChat(early);
    recorder.AddLine(record.ArchiveChat, TArchiveLine::Said(archive::Who::Visitor, QStringLiteral("Mia"),
                                                            QStringLiteral("Are you there?")));
    record.EarlyLines = {QStringLiteral("Are you there?")};
    record.OnHold = true;
    record.Name = QStringLiteral("Mia");
    record.Phone = QStringLiteral("555-3");
    chat = std::make_unique<TCustomerChat>(view, calls);
    chat->Begin(&record);
    EXPECT_EQ(chat->Phone(), QStringLiteral("555-3"));
    EXPECT_EQ(record.ArchiveChat, 0);
    bool done = false;
    chat->EndOnWire(0, {}, [&] { done = true; });
    ASSERT_TRUE(WaitFor([&] { return done; }));

    std::vector<TArchiveLine> lines;
    const std::optional<TArchiveChat> kept = test::OnlyArchivedChat(recorder, QStringLiteral("Mia"), &lines);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->Status, QStringLiteral("End Chat !"));
    EXPECT_EQ(lines.size(), 1u);
    EXPECT_EQ(view.events, QStringList{QStringLiteral("line Are you there?")});
    SetArchiveRecorder(nullptr);
}

TEST_F(CustomerChatTest, AChatTheVisitorLeftIsKeptAsEndedByTheVisitor)
{
    TArchiveRecorder recorder(dir.filePath(QLatin1String(kArchiveFileName)));
    SetArchiveRecorder(&recorder);
    Begin();
    Receive(END_SESSION);
    ASSERT_TRUE(WaitFor([&] { return view.events.contains(QStringLiteral("ended")); }));
    bool done = false;
    chat->EndOnWire(0, {}, [&] { done = true; });
    ASSERT_TRUE(WaitFor([&] { return done; }));
    recorder.Flush();
    SetArchiveRecorder(nullptr);
    TArchiveDb archive;
    ASSERT_TRUE(archive.OpenReader(recorder.Path()));
    const std::vector<TArchiveHit> kept = archive.Search(TArchiveFilter{});
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(archive.Chat(kept[0].Chat)->EndedBy, archive::EndedBy::Visitor);
}

TEST_F(CustomerChatTest, TheEndSaysNothingWhenTheRowHasEndedOrTheCallerMovesOn)
{
    Begin();
    calls.statusText = QStringLiteral("End Chat !");
    int done = 0;
    chat->EndOnWire(0, {}, [&] { ++done; });
    EXPECT_EQ(done, 1);
    calls.statusText = QStringLiteral("In Chat...");
    chat->SetTransferring(true);
    chat->EndOnWire(0, {}, [&] { ++done; });
    ASSERT_TRUE(WaitFor([&] { return done == 2; }));
    Settle();
    EXPECT_TRUE(CodesAfterOpening().empty());
    EXPECT_EQ(calls.events, (QStringList{"status 2", "status 9"}));
}

TEST_F(CustomerChatTest, ATakeDownDuringTheEndKeepsTheRowAndSendsNothing)
{
    Begin();
    bool done = false;
    chat->EndOnWire(300, {}, [&] { done = true; });
    chat->TakeDown();
    EXPECT_EQ(calls.events, (QStringList{"status 2", "end time", "status 7", "unlink"}));
    EXPECT_EQ(chat->Socket(), nullptr);
    EXPECT_EQ(chat->Record(), nullptr);
    ASSERT_TRUE(chat->TranscriptRow().has_value());
    EXPECT_EQ(chat->TranscriptRow()->ClientEmail, QStringLiteral("row@mail.test"));
    EXPECT_FALSE(chat->SendAlways(QByteArray::fromHex("002c00000000")));
    Settle(450);
    EXPECT_FALSE(done);
    EXPECT_TRUE(CodesAfterOpening().empty());
    EXPECT_TRUE(server.WaitForClosed(0));
}

TEST_F(CustomerChatTest, ALostConnectionIsReportedOnceAndEndsTheCallersTyping)
{
    Begin();
    Receive(TYPING_START);
    ASSERT_TRUE(WaitFor([&] { return chat->RemoteTyping(); }));
    server.CloseConnection(0);
    ASSERT_TRUE(WaitFor([&] { return view.events.contains(QStringLiteral("lost")); }));
    Settle();
    EXPECT_EQ(view.events.count(QStringLiteral("lost")), 1);
    EXPECT_FALSE(chat->RemoteTyping());
    EXPECT_FALSE(chat->IsConnected());
}

} // namespace
} // namespace velmora
