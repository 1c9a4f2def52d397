// The simulator driven over real loopback sockets, as a console would.
#include "SimPeer.h"
#include "SimServer.h"

#include <gtest/gtest.h>

namespace velmora::test {
namespace {

using sim::SimOptions;
using sim::TSimServer;
namespace S = velmora::server;
namespace C = velmora::chat;

class SimServerTest : public ::testing::Test {
protected:
    void Start(SimOptions options = {})
    {
        options.port = 0;
        options.typingMs = 10;
        options.replyDelayMs = 10;
        server = std::make_unique<TSimServer>(options);
        server->SetOutput([this](const QString &line) { output << line; });
        ASSERT_TRUE(server->Start());
    }

    std::unique_ptr<SimPeer> Connect()
    {
        auto peer = std::make_unique<SimPeer>(server->Port());
        EXPECT_TRUE(peer->Next(C::INITIAL_CONNECT));
        return peer;
    }

    // A console logged in and ready; its port value lands in `port`.
    std::unique_ptr<SimPeer> Login(const QString &name, qint32 *port = nullptr, const QString &clientId = "demo")
    {
        auto console = Connect();
        console->Send(MessageBuilder(S::SUPPORT_REGISTER).Text(clientId).Text(QByteArray("0")).Text(QByteArray("ABCDEFGHIJKLMN")).Finish());
        const auto accepted = console->Next(S::REGISTER_ACCEPTED);
        EXPECT_TRUE(accepted);
        if (accepted && port)
            *port = IntAt(*accepted, 1);
        console->Send(MessageBuilder(S::SUPPORT_NAME).Text(name).Finish());
        console->Send(MessageBuilder(S::SUPPORT_READY).Finish());
        EXPECT_TRUE(console->Next(S::CHAT_LIMIT));
        return console;
    }

    // A per-call connection that answers call `session` for the console `port`.
    std::unique_ptr<SimPeer> Answer(qint32 session, qint32 port)
    {
        auto leg = Connect();
        leg->Send(MessageBuilder(C::SUPPORT_ANSWERS_TO_CLI).Text(QByteArray("demo")).Int(port).Int(session).Finish());
        return leg;
    }

    std::unique_ptr<TSimServer> server;
    QStringList output;
};

TEST_F(SimServerTest, LoginGivesEachConsoleItsPortValueAndKeepsTheCountCurrent)
{
    Start();
    qint32 portA = 0, portB = 0;
    auto a = Login("Alice", &portA);
    for (const Frame &f : a->frames) {
        if (f.code == S::CHAT_LIMIT) {
            EXPECT_EQ(IntAt(f, 0), 3);
        }
    }
    auto online = a->Next(S::SUPPORTERS_ONLINE);
    ASSERT_TRUE(online);
    EXPECT_EQ(IntAt(*online, 0), 1);

    auto b = Login("Bob", &portB);
    EXPECT_NE(portA, portB);
    online = b->Next(S::SUPPORTERS_ONLINE);
    ASSERT_TRUE(online);
    EXPECT_EQ(IntAt(*online, 0), 2);
    online = a->Next(S::SUPPORTERS_ONLINE);
    ASSERT_TRUE(online);
    EXPECT_EQ(IntAt(*online, 0), 2);

    b->Send(MessageBuilder(S::SUPPORT_DISCONNECT).Finish());
    online = a->Next(S::SUPPORTERS_ONLINE);
    ASSERT_TRUE(online);
    EXPECT_EQ(IntAt(*online, 0), 1);
    EXPECT_EQ(server->ConsolesOnline(), 1);

    // Losing the connection without a logout counts the same.
    auto c = Login("Carol");
    ASSERT_TRUE(a->Next(S::SUPPORTERS_ONLINE));
    c->Close();
    online = a->Next(S::SUPPORTERS_ONLINE);
    ASSERT_TRUE(online);
    EXPECT_EQ(IntAt(*online, 0), 1);
}

TEST_F(SimServerTest, LoginsAreRefusedOrLeftUnansweredOnRequest)
{
    SimOptions options;
    options.onlyClientId = "demo";
    Start(options);

    auto stranger = Connect();
    stranger->Send(MessageBuilder(S::SUPPORT_REGISTER).Text(QByteArray("other")).Text(QByteArray("0")).Text(QByteArray("T")).Finish());
    EXPECT_TRUE(stranger->Next(S::REGISTER_REFUSED));
    EXPECT_EQ(stranger->Count(S::REGISTER_ACCEPTED), 0);

    server->Execute("register ignore");
    auto ignored = Connect();
    ignored->Send(MessageBuilder(S::SUPPORT_REGISTER).Text(QByteArray("demo")).Text(QByteArray("0")).Text(QByteArray("T")).Finish());
    RunFor(200);
    EXPECT_EQ(ignored->frames.size(), 1u); // the greeting only

    server->Execute("register maxsockets");
    auto full = Connect();
    full->Send(MessageBuilder(S::SUPPORT_REGISTER).Text(QByteArray("demo")).Text(QByteArray("0")).Text(QByteArray("T")).Finish());
    EXPECT_TRUE(full->Next(S::MAX_SOCKETS_EXCEEDED));

    server->Execute("register accept");
    Login("Alice");
}

TEST_F(SimServerTest, VisitorCallRunsFromAnnouncementToGoodbye)
{
    SimOptions options;
    options.visitorLines = 2;
    Start(options);
    qint32 portA = 0;
    auto a = Login("Alice", &portA);
    auto b = Login("Bob");

    const qint32 session = server->AnnounceCall("www.example.com/shop");
    auto listed = a->Next(S::CLIENT_LISTED);
    ASSERT_TRUE(listed);
    ASSERT_TRUE(b->Next(S::CLIENT_LISTED));
    // Read the way the console does: SessionCount at 2, the IP from offset 18.
    EXPECT_EQ(IntAt(*listed, 0), session);
    FieldReader r(listed->body, 18);
    EXPECT_TRUE(r.TextString().startsWith("192.0.2."));
    EXPECT_EQ(r.TextString(), "www.example.com/shop");
    EXPECT_TRUE(r.Ok());
    EXPECT_EQ(r.Remaining(), 0);

    auto leg = Answer(session, portA);
    auto ready = leg->Next(C::SESSION_READY);
    ASSERT_TRUE(ready);
    EXPECT_EQ(IntAt(*ready, 0), session);
    auto details = leg->Next(C::USER_DETAILS);
    ASSERT_TRUE(details);
    FieldReader d(details->body);
    EXPECT_FALSE(d.TextString().isEmpty());
    d.Text();
    d.Text();
    EXPECT_TRUE(d.Ok());

    // The other console learns that the call is taken; the taker does not.
    auto answered = b->Next(S::CALL_ANSWERED);
    ASSERT_TRUE(answered);
    EXPECT_EQ(IntAt(*answered, 0), session);
    EXPECT_EQ(a->Count(S::CALL_ANSWERED), 0);

    // The visitor waits for the operator's welcome, then types and speaks.
    leg->Send(MessageBuilder(C::CHAT_KEEP_ALIVE).Finish());
    leg->Send(MessageBuilder(C::SUPPORT_WELCOME).Text(QByteArray("Alice")).Text(QByteArray("Hi, how can I help?")).Finish());
    leg->Send(MessageBuilder(C::CHAT_OPTIONS).Flag(false).Finish());
    ASSERT_TRUE(leg->Next(C::TYPING_START));
    auto line = leg->Next(C::CHAT_TEXT);
    ASSERT_TRUE(line);
    EXPECT_FALSE(FieldReader(line->body).Text().isEmpty());
    ASSERT_TRUE(leg->Next(C::TYPING_STOP));

    // An operator line is answered; after its second line the visitor leaves.
    EXPECT_EQ(leg->Count(C::CHAT_TEXT), 1);
    leg->Send(MessageBuilder(C::CHAT_TEXT).Text(QByteArray("Let me look.")).Finish());
    ASSERT_TRUE(leg->Next(C::CHAT_TEXT));
    ASSERT_TRUE(leg->Next(C::END_SESSION));
    const std::vector<quint16> expected = {C::INITIAL_CONNECT, C::SESSION_READY, C::USER_DETAILS, C::TYPING_START,
                                           C::CHAT_TEXT,       C::TYPING_STOP,   C::TYPING_START, C::CHAT_TEXT,
                                           C::TYPING_STOP,     C::END_SESSION};
    EXPECT_EQ(leg->Codes(), expected);
}

TEST_F(SimServerTest, LateOrStaleAnswersEndAtOnce)
{
    Start();
    qint32 portA = 0, portB = 0;
    auto a = Login("Alice", &portA);
    auto b = Login("Bob", &portB);

    // A second console answering a taken call is told the call is over.
    const qint32 taken = server->AnnounceCall();
    auto legA = Answer(taken, portA);
    ASSERT_TRUE(legA->Next(C::SESSION_READY));
    auto legB = Answer(taken, portB);
    EXPECT_TRUE(legB->Next(C::END_SESSION));
    EXPECT_EQ(legB->Count(C::SESSION_READY), 0);

    // A visitor who left before anyone answered.
    const qint32 gone = server->AnnounceCall();
    server->Execute(QStringLiteral("leave %1").arg(gone));
    auto late = Answer(gone, portA);
    EXPECT_TRUE(late->Next(C::END_SESSION));
    EXPECT_EQ(late->Count(C::SESSION_READY), 0);

    // An unknown call: the connection is closed.
    auto unknown = Answer(9999, portA);
    EXPECT_TRUE(unknown->WaitClosed());
}

TEST_F(SimServerTest, VisitorOnHoldLeavesAfterWaitingAndTerminalLinesGetThrough)
{
    SimOptions options;
    options.leaveAfterSeconds = 1;
    Start(options);
    qint32 port = 0;
    auto a = Login("Alice", &port);

    const qint32 chatting = server->AnnounceCall();
    auto leg = Answer(chatting, port);
    ASSERT_TRUE(leg->Next(C::USER_DETAILS));
    leg->Send(MessageBuilder(C::SUPPORT_WELCOME).Text(QByteArray("Alice")).Text(QByteArray("Hello")).Finish());
    ASSERT_TRUE(leg->Next(C::CHAT_TEXT));
    server->Execute(QStringLiteral("say %1 Is   anyone there?").arg(chatting));
    auto said = leg->Next(C::CHAT_TEXT);
    ASSERT_TRUE(said);
    EXPECT_EQ(FieldReader(said->body).TextString(), "Is   anyone there?");

    // On hold: only not-available texts, never a welcome.
    const qint32 waiting = server->AnnounceCall();
    auto held = Answer(waiting, port);
    ASSERT_TRUE(held->Next(C::USER_DETAILS));
    held->Send(MessageBuilder(C::NOT_AVAIL_MSG).Text(QByteArray("Please wait")).Finish());
    EXPECT_TRUE(held->Next(C::END_SESSION, 3000));
    EXPECT_EQ(held->Count(C::CHAT_TEXT), 0);
    // The chatting visitor was answered in time and stays.
    EXPECT_EQ(leg->Count(C::END_SESSION), 0);
}

TEST_F(SimServerTest, CallsWaitForAConsoleToBeReady)
{
    Start();
    const qint32 session = server->AnnounceCall();
    qint32 port = 0;
    auto a = Login("Alice", &port);
    auto listed = a->Next(S::CLIENT_LISTED);
    ASSERT_TRUE(listed);
    EXPECT_EQ(IntAt(*listed, 0), session);
}

TEST_F(SimServerTest, CommandsReachTheConsoles)
{
    Start();
    auto a = Login("Alice");
    auto b = Login("Bob");
    ASSERT_TRUE(a->Next(S::SUPPORTERS_ONLINE));

    server->Execute("limit 0");
    auto limitA = a->Next(S::CHAT_LIMIT);
    ASSERT_TRUE(limitA);
    EXPECT_EQ(IntAt(*limitA, 0), 0);

    server->Execute("upgrade 2");
    EXPECT_TRUE(b->Next(S::SERVER_UPGRADE));
    server->Execute("maxsockets 1");
    EXPECT_TRUE(a->Next(S::MAX_SOCKETS_EXCEEDED));
    EXPECT_EQ(a->Count(S::SERVER_UPGRADE), 0);

    server->Execute("drop 2");
    EXPECT_TRUE(b->WaitClosed());
    auto online = a->Next(S::SUPPORTERS_ONLINE);
    ASSERT_TRUE(online);
    EXPECT_EQ(IntAt(*online, 0), 1);

    // Silent: no greeting until resumed.
    server->Execute("silent");
    SimPeer mute(server->Port());
    RunFor(200);
    EXPECT_TRUE(mute.frames.empty());
    server->Execute("resume");
    EXPECT_TRUE(mute.Next(C::INITIAL_CONNECT));

    EXPECT_TRUE(server->Execute("bogus command"));
    EXPECT_TRUE(output.last().contains("unknown command"));
    EXPECT_FALSE(server->Execute("quit"));
}

TEST_F(SimServerTest, BrokenFramesDropOnlyTheirConnection)
{
    Start();
    auto hostile = Connect();
    // A header announcing 16 MiB.
    hostile->SendRaw(QByteArray::fromHex("000501000000"));
    EXPECT_TRUE(hostile->WaitClosed());

    // A registration whose fields run past the body is ignored, not answered.
    auto truncated = Connect();
    truncated->SendRaw(QByteArray::fromHex("0100000000050009616263"));
    auto shortLeg = Connect();
    shortLeg->SendRaw(QByteArray::fromHex("010400000002" "0000"));
    RunFor(200);
    EXPECT_EQ(truncated->frames.size(), 1u);

    Login("Alice");
}

TEST_F(SimServerTest, SupporterChatIsRelayedBetweenTwoConsoles)
{
    Start();
    qint32 portA = 0, portB = 0;
    auto a = Login("Alice", &portA);
    auto b = Login("Bob", &portB);

    auto nobody = Connect();
    nobody->Send(MessageBuilder(C::SUPPORT_CHAT_REQUEST).Text(QByteArray("demo")).Int(4242).Finish());
    EXPECT_TRUE(nobody->Next(C::SUPPORT_UNAVAILABLE));

    auto asker = Connect();
    asker->Send(MessageBuilder(C::SUPPORT_CHAT_REQUEST).Text(QByteArray("demo")).Int(portB).Finish());
    ASSERT_TRUE(asker->Next(C::SUPPORT_LISTED));
    auto listed = b->Next(S::SUPPORT_CHAT_LISTED);
    ASSERT_TRUE(listed);
    const qint32 session = IntAt(*listed, 0);
    EXPECT_EQ(a->Count(S::SUPPORT_CHAT_LISTED), 0);

    auto leg = Answer(session, portB);
    auto ready = asker->Next(C::SESSION_READY);
    ASSERT_TRUE(ready);
    EXPECT_EQ(IntAt(*ready, 0), session);
    asker->Send(MessageBuilder(C::SESSION_READY).Int(session).Finish());
    asker->Send(MessageBuilder(C::USER_DETAILS).Text(QByteArray("Alice")).Text(QByteArray("Not Supplied !")).Text(QByteArray("")).Finish());
    ASSERT_TRUE(leg->Next(C::SESSION_READY));
    ASSERT_TRUE(leg->Next(C::USER_DETAILS));
    leg->Send(MessageBuilder(C::SUPPORT_WELCOME).Text(QByteArray("Bob")).Text(QByteArray("Yes?")).Finish());
    auto welcome = asker->Next(C::SUPPORT_WELCOME);
    ASSERT_TRUE(welcome);
    EXPECT_EQ(FieldReader(welcome->body).TextString(), "Bob");
    asker->Send(MessageBuilder(C::CHAT_TEXT).Text(QByteArray("Lunch?")).Finish());
    auto line = leg->Next(C::CHAT_TEXT);
    ASSERT_TRUE(line);
    EXPECT_EQ(FieldReader(line->body).TextString(), "Lunch?");
    // No simulated visitor speaks on a supporter chat.
    EXPECT_EQ(leg->Count(C::TYPING_START), 0);

    // The asker vanishing ends the chat for the answering console.
    asker->Close();
    EXPECT_TRUE(leg->Next(C::END_SESSION));
}

TEST_F(SimServerTest, TransferMovesTheVisitorToTheOtherConsole)
{
    Start();
    qint32 portA = 0, portB = 0;
    auto a = Login("Alice", &portA);
    auto b = Login("Bob", &portB);
    const qint32 session = server->AnnounceCall();
    auto legA = Answer(session, portA);
    ASSERT_TRUE(legA->Next(C::USER_DETAILS));
    legA->Send(MessageBuilder(C::SUPPORT_WELCOME).Text(QByteArray("Alice")).Text(QByteArray("Hi")).Finish());
    ASSERT_TRUE(legA->Next(C::CHAT_TEXT));

    a->Send(MessageBuilder(S::ONLINE_SUPPORTERS).Int(portA).Finish());
    auto list = a->Next(S::ONLINE_SUPPORTERS);
    ASSERT_TRUE(list);
    FieldReader l(list->body, 2);
    ASSERT_EQ(l.Byte(), 1);
    EXPECT_EQ(l.TextString(), "Bob");
    EXPECT_EQ(l.Int(), portB);
    EXPECT_TRUE(l.Ok());

    a->Send(MessageBuilder(S::TRANSFER_CALL).Int(session).Int(portB).Finish());
    auto offer = b->Next(S::TRANSFER_CALL);
    ASSERT_TRUE(offer);
    EXPECT_EQ(IntAt(*offer, 0), session);
    EXPECT_EQ(IntAt(*offer, 1), portA);
    FieldReader o(offer->body, 18);
    EXPECT_TRUE(o.TextString().startsWith("192.0.2."));

    auto legB = Connect();
    b->Send(MessageBuilder(S::TRANSFER_ANSWERED).Int(session).Int(portA).Finish());
    auto answered = a->Next(S::TRANSFER_ANSWERED);
    ASSERT_TRUE(answered);
    EXPECT_EQ(IntAt(*answered, 0), session);

    const QByteArray rtf = "{\\rtf1 Hello\\par}";
    a->Send(MessageBuilder(S::TRANSFER_DATA_SEND).Int(session).Int(portB).Raw(rtf).Finish());
    auto data = b->Next(S::TRANSFER_DATA);
    ASSERT_TRUE(data);
    FieldReader t(data->body);
    EXPECT_EQ(t.Int(), session);
    EXPECT_EQ(t.Bytes(t.Int()), rtf);
    legA->Close(); // the old chat window goes without END_SESSION

    legB->Send(MessageBuilder(C::SUPPORT_ANS_TO_TRANS).Text(QByteArray("demo")).Int(portB).Int(session).Finish());
    legB->Send(MessageBuilder(C::TRANS_COMPLETE).Finish());
    ASSERT_TRUE(legB->Next(C::SESSION_READY));
    ASSERT_TRUE(legB->Next(C::USER_DETAILS));
    legB->Send(MessageBuilder(C::SUPPORT_WELCOME).Text(QByteArray("Bob")).Text(QByteArray("I take over.")).Finish());
    EXPECT_TRUE(legB->Next(C::CHAT_TEXT));
    EXPECT_EQ(legB->Count(C::END_SESSION), 0);
}

} // namespace
} // namespace velmora::test
