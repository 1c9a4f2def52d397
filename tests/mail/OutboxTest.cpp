// Transcripts that always arrive: kept on disk until delivered, set aside
// when refused for good, retried after temporary failures, bounded.
#include "RecordingBoxes.h"
#include "SmtpTestUtil.h"
#include "config/Settings.h"
#include "diag/Logdata.h"
#include "mail/Mailbuff.h"
#include "mail/Outbox.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

namespace {

class OutboxTest : public ::testing::Test {
protected:
    TMailRecord Stored(const QString &to, const QString &tag, int number = 0)
    {
        TMailRecord r;
        r.Subject = QStringLiteral("Transcript for chat with ") + tag;
        r.FromAddr = QStringLiteral("support@velmora.test");
        r.ToAddr = to;
        r.ClientName = tag;
        r.MailBody = {QStringLiteral("Dear ") + tag + QLatin1Char(','), QStringLiteral("Thanks.")};
        r.AttachName = QStringLiteral("Chat%1.rtf").arg(number);
        QString error;
        EXPECT_TRUE(outbox.Store(r, "{\\rtf1 " + tag.toLatin1() + "}", &error)) << error.toStdString();
        return r;
    }
    TSettings MailSettings(quint16 port) const
    {
        TSettings s;
        s.SMTP_Server = QStringLiteral("127.0.0.1");
        s.SMTP_Port = port;
        return s;
    }
    QStringList LogLines() const
    {
        QFile f(dir.filePath(QStringLiteral("Velmora.log")));
        f.open(QIODevice::ReadOnly);
        return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QStringList Waiting() const { return QDir(outbox.Folder()).entryList({QStringLiteral("*")}, QDir::Files); }
    // The records set aside, by their envelope's recipients.
    QMap<QString, QJsonObject> FailedRecords() const
    {
        QMap<QString, QJsonObject> out;
        const QDir failed(outbox.FailedFolder());
        for (const QString &name : failed.entryList({QStringLiteral("*.mail")})) {
            QFile f(failed.filePath(name));
            EXPECT_TRUE(f.open(QIODevice::ReadOnly));
            const QJsonObject o = QJsonDocument::fromJson(f.readAll()).object();
            const QStringList to = o[QStringLiteral("Recipients")].toVariant().toStringList();
            out.insert(to.isEmpty() ? o[QStringLiteral("ToAddr")].toString() : to.join(QLatin1Char(',')), o);
        }
        return out;
    }
    static bool Private(const QString &path)
    {
        return !(QFile::permissions(path) & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther));
    }

    QTemporaryDir dir;
    RecordingBoxes boxes;
    TOutbox outbox{dir.filePath(QStringLiteral("outbox"))};
    TLogFile log{dir.filePath(QStringLiteral("Velmora.log"))};
};

quint16 FreePort()
{
    SmtpPeer gone;
    return gone.Port();
}

} // namespace

TEST_F(OutboxTest, WaitingTranscriptsOutliveTheQueueAndGoOnceEach)
{
    const TMailRecord a = Stored(QStringLiteral("a@x.test"), QStringLiteral("Ann"), 0);
    const TMailRecord b = Stored(QStringLiteral("b@x.test"), QStringLiteral("Bob"), 0); // a number of a later run
    EXPECT_NE(a.AttachFile, b.AttachFile);
    EXPECT_EQ(Waiting().size(), 4);
    {
        // The mail server is down; the console goes away with both waiting.
        TMailBuff mail(&outbox, &log);
        EXPECT_EQ(mail.WaitingCount(), 2);
        mail.NewSession(MailSettings(FreePort()));
        ASSERT_TRUE(WaitFor([&] { return boxes.shown.size() == 1; }));
    }
    EXPECT_EQ(Waiting().size(), 4);

    SmtpPeer peer;
    ASSERT_TRUE(peer.Started());
    TMailBuff mail(&outbox, &log);
    ASSERT_EQ(mail.WaitingCount(), 2);
    mail.NewSession(MailSettings(peer.Port()));
    ASSERT_TRUE(peer.WaitForEvent(QStringLiteral("quit")));
    const auto data = peer.EventsOf(QStringLiteral("data"));
    ASSERT_EQ(data.size(), 2);
    EXPECT_EQ(data[0][QStringLiteral("rcpts")].toVariant().toStringList(), QStringList{"a@x.test"});
    EXPECT_EQ(data[1][QStringLiteral("rcpts")].toVariant().toStringList(), QStringList{"b@x.test"});
    // The mail names the attachment as the chat numbered it.
    EXPECT_TRUE(peer.Message(1).contains("filename=\"Chat0.rtf\""));
    EXPECT_TRUE(Waiting().isEmpty());
    const QStringList lines = LogLines();
    EXPECT_TRUE(lines.filter(QStringLiteral("Transcript for chat with Ann not sent to a@x.test: Connection refused")).size() == 1);
    EXPECT_TRUE(lines.last().endsWith(QStringLiteral("  Transcript for chat with Bob sent to b@x.test")));
}

TEST_F(OutboxTest, RefusedForGoodIsSetAsideWithTheAnswerAndTheQueueGoesOn)
{
    // A two-line refusal ahead of two good transcripts.
    SmtpPeer peer({QStringLiteral("--rcpt-reply"),
                   QStringLiteral("full@x.test=550-5.2.2 The mailbox of full@x.test is full\\n550 5.2.2 mailbox full")});
    ASSERT_TRUE(peer.Started());
    Stored(QStringLiteral("full@x.test"), QStringLiteral("Full"));
    Stored(QStringLiteral("ok@x.test"), QStringLiteral("Ok"));
    Stored(QStringLiteral("ok2@x.test"), QStringLiteral("Ok2"));
    TMailBuff mail(&outbox, &log);
    mail.NewSession(MailSettings(peer.Port()));
    // Nobody clicks anything: the notice holds nothing up.
    ASSERT_TRUE(peer.WaitForEvent(QStringLiteral("data"), 2));
    ASSERT_TRUE(WaitFor([&] { return mail.WaitingCount() == 0; }));
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.notices.size(), 1);
    EXPECT_EQ(mail.NotSentCount(), 1);
    const QString answer = QStringLiteral("550-5.2.2 The mailbox of full@x.test is full\n550 5.2.2 mailbox full");
    EXPECT_TRUE(boxes.shown[0].text.startsWith(QStringLiteral("Error ") + answer
                                               + QStringLiteral("\n\nThe transcript was not sent; it is kept in ")));
    const QDir failed(outbox.FailedFolder());
    const QStringList records = failed.entryList({QStringLiteral("*.mail")});
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(failed.entryList({QStringLiteral("*.rtf")}).size(), 1);
    QFile f(failed.filePath(records[0]));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QJsonObject o = QJsonDocument::fromJson(f.readAll()).object();
    EXPECT_EQ(o[QStringLiteral("Answer")].toString(), answer);
    EXPECT_EQ(o[QStringLiteral("ToAddr")].toString(), QStringLiteral("full@x.test"));
    EXPECT_TRUE(Waiting().isEmpty());
    // Not tried again at the next wake-up, which sends the mail that came since.
    mail.NewSession(MailSettings(peer.Port()));
    mail.AddMail(Stored(QStringLiteral("later@x.test"), QStringLiteral("Later"), 1));
    ASSERT_TRUE(peer.WaitForEvent(QStringLiteral("data"), 3));
    ASSERT_TRUE(WaitFor([&] { return mail.WaitingCount() == 0; }));
    EXPECT_EQ(peer.EventsOf(QStringLiteral("rcpt")).size(), 4); // the refused one was not tried again
}

// Each failure is judged by what the server answered at that step: a refusal
// is set aside, a deferral and a silence are retried, and no failed
// transaction is ever continued on its connection.
TEST_F(OutboxTest, RefusalDeferralAndSilenceAfterDataEachGetTheirDue)
{
    SmtpPeer peer({QStringLiteral("--data-script"), QStringLiteral("552 5.3.4 Message too big|451 4.3.0 Try again later|silent")});
    ASSERT_TRUE(peer.Started());
    Stored(QStringLiteral("big@x.test"), QStringLiteral("Big"));
    Stored(QStringLiteral("late@x.test"), QStringLiteral("Late"));
    TMailBuff mail(&outbox, &log);
    mail.SetRetryUnitMs(100);
    mail.Client().StepTimeoutMs = 400;
    mail.NewSession(MailSettings(peer.Port()));
    // 552, then 451, then silence: the third try of "Late" gets through.
    ASSERT_TRUE(peer.WaitForEvent(QStringLiteral("data"), 1, 10000));
    ASSERT_TRUE(WaitFor([&] { return mail.WaitingCount() == 0; }));
    EXPECT_EQ(peer.EventsOf(QStringLiteral("data"))[0][QStringLiteral("rcpts")].toVariant().toStringList(),
              QStringList{"late@x.test"});
    EXPECT_EQ(peer.EventsOf(QStringLiteral("data-silent")).size(), 1);
    const QDir failed(outbox.FailedFolder());
    const QStringList records = failed.entryList({QStringLiteral("*.mail")});
    ASSERT_EQ(records.size(), 1);
    QFile f(failed.filePath(records[0]));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QJsonObject o = QJsonDocument::fromJson(f.readAll()).object();
    EXPECT_EQ(o[QStringLiteral("ToAddr")].toString(), QStringLiteral("big@x.test"));
    EXPECT_EQ(o[QStringLiteral("Answer")].toString(), QStringLiteral("552 5.3.4 Message too big"));
    // Every MAIL FROM opened a connection of its own, and none was refused.
    QStringList kinds = peer.Kinds();
    kinds.removeAll(QStringLiteral("helo"));
    kinds.removeAll(QStringLiteral("rcpt"));
    EXPECT_EQ(kinds.filter(QStringLiteral("mail")).size(), kinds.filter(QStringLiteral("connect")).size())
        << kinds.join(' ').toStdString();
    for (const QString &line : mail.DebugLines().Lines())
        EXPECT_FALSE(line.startsWith(QStringLiteral("< 503"))) << line.toStdString();
    const QStringList lines = LogLines();
    EXPECT_EQ(lines.filter(QStringLiteral("Late not sent to late@x.test: 451 4.3.0 Try again later")).size(), 1);
    EXPECT_EQ(lines.filter(QStringLiteral("Late not sent to late@x.test: No answer from the mail server")).size(), 1);
}

TEST_F(OutboxTest, RefusedDataIsSetAsideToo)
{
    SmtpPeer peer({QStringLiteral("--data-reply"), QStringLiteral("554 5.6.0 content rejected")});
    ASSERT_TRUE(peer.Started());
    Stored(QStringLiteral("a@x.test"), QStringLiteral("A"));
    TMailBuff mail(&outbox, &log);
    mail.NewSession(MailSettings(peer.Port()));
    ASSERT_TRUE(WaitFor([&] { return mail.WaitingCount() == 0; }));
    EXPECT_EQ(QDir(outbox.FailedFolder()).entryList({QStringLiteral("*.mail")}).size(), 1);
    EXPECT_TRUE(LogLines().last().endsWith(QStringLiteral("not sent to a@x.test: 554 5.6.0 content rejected")));
}

TEST_F(OutboxTest, TemporaryFailuresRetryByThemselvesAndTellOncePerOutage)
{
    const quint16 port = FreePort();
    Stored(QStringLiteral("a@x.test"), QStringLiteral("A"));
    TMailBuff mail(&outbox, &log);
    mail.SetRetryUnitMs(150);
    mail.NewSession(MailSettings(port));
    // 1, 2 units: three attempts within about half a second, one box.
    ASSERT_TRUE(WaitFor([&] { return LogLines().filter(QStringLiteral("not sent")).size() >= 3; }, 5000));
    EXPECT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(mail.RetryPending());
    EXPECT_FALSE(mail.LastError().isEmpty());

    // The server comes back on its port: the next retry delivers.
    SmtpPeer peer({QStringLiteral("--port"), QString::number(port)});
    ASSERT_TRUE(peer.Started());
    ASSERT_TRUE(peer.WaitForEvent(QStringLiteral("data"), 1, 10000));
    ASSERT_TRUE(WaitFor([&] { return mail.WaitingCount() == 0; }));
    EXPECT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(mail.LastError().isEmpty());
    EXPECT_FALSE(mail.RetryPending());
}

TEST_F(OutboxTest, FullOutboxRefusesTheNewTranscriptAndKeepsTheOld)
{
    outbox.MaxMails = 2;
    const TMailRecord a = Stored(QStringLiteral("a@x.test"), QStringLiteral("A"));
    Stored(QStringLiteral("b@x.test"), QStringLiteral("B"));
    TMailRecord c;
    c.ToAddr = QStringLiteral("c@x.test");
    QString error;
    EXPECT_FALSE(outbox.Store(c, "{\\rtf1 c}", &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("The mail outbox is full (2 transcripts")));
    EXPECT_EQ(Waiting().size(), 4);
    QFile f(a.AttachFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("{\\rtf1 A}"));

    outbox.MaxMails = 1000;
    outbox.MaxBytes = outbox.Bytes() + 10;
    EXPECT_FALSE(outbox.Store(c, QByteArray(11, 'x'), &error));
    EXPECT_TRUE(outbox.Store(c, QByteArray(2, 'x'), &error));
}

TEST_F(OutboxTest, UnreadableRecordIsSetAsideAndTheRestLoads)
{
    Stored(QStringLiteral("a@x.test"), QStringLiteral("A"));
    QDir().mkpath(outbox.Folder());
    QFile bad(QDir(outbox.Folder()).filePath(QStringLiteral("00000000-bad.mail")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("{ not json \r\n RCPT TO:<x@y>");
    bad.close();
    const QList<TMailRecord> loaded = outbox.Load();
    ASSERT_EQ(loaded.size(), 1);
    EXPECT_EQ(loaded[0].ToAddr, QStringLiteral("a@x.test"));
    EXPECT_EQ(loaded[0].MailBody, (QStringList{"Dear A,", "Thanks."}));
    EXPECT_TRUE(QFile::exists(QDir(outbox.FailedFolder()).filePath(QStringLiteral("00000000-bad.mail"))));
}

TEST_F(OutboxTest, RecordWithoutARecipientIsSetAsideAndTheQueueGoesOn)
{
    SmtpPeer peer;
    ASSERT_TRUE(peer.Started());
    Stored(QStringLiteral(" ; , "), QStringLiteral("Nobody"));
    Stored(QStringLiteral("ok@x.test"), QStringLiteral("Ok"));
    TMailBuff mail(&outbox, &log);
    mail.NewSession(MailSettings(peer.Port()));
    ASSERT_TRUE(peer.WaitForEvent(QStringLiteral("data")));
    ASSERT_TRUE(WaitFor([&] { return mail.WaitingCount() == 0; }));
    EXPECT_EQ(peer.EventsOf(QStringLiteral("rcpt")).size(), 1);
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown[0].text.startsWith(QStringLiteral("RcptName list is empty could not send mail")));
    EXPECT_EQ(QDir(outbox.FailedFolder()).entryList({QStringLiteral("*.mail")}).size(), 1);
}

// A refused address never costs the transcript: a 501 or 550 for the only
// recipient sets it aside whole, one for a Cc or the visitor among others
// sets aside a copy for that address alone, the others get it, and the queue
// goes on by itself.
TEST_F(OutboxTest, RefusedRecipientsAreKeptAsideAndTheOthersServed)
{
    const QString bad = QStringLiteral("501 5.1.3 Bad recipient address syntax");
    SmtpPeer peer({QStringLiteral("--rcpt-reply"), QStringLiteral("bad@x.test=") + bad, QStringLiteral("--rcpt-reply"),
                   QStringLiteral("typo@desk.test=") + bad, QStringLiteral("--rcpt-reply"),
                   QStringLiteral("gone@x.test=550 5.1.1 No such user")});
    ASSERT_TRUE(peer.Started());
    Stored(QStringLiteral("bad@x.test"), QStringLiteral("Alone"));
    TMailRecord visitorGone = Stored(QStringLiteral("gone@x.test"), QStringLiteral("Gone"));
    visitorGone.CcAddr = QStringLiteral("desk@x.test");
    ASSERT_TRUE(outbox.Update(visitorGone));
    TMailRecord ccTypo = Stored(QStringLiteral("c@x.test"), QStringLiteral("Typo"));
    ccTypo.CcAddr = QStringLiteral("typo@desk.test");
    ASSERT_TRUE(outbox.Update(ccTypo));
    Stored(QStringLiteral("d@x.test"), QStringLiteral("D"));
    for (const QString &name : Waiting())
        EXPECT_TRUE(Private(QDir(outbox.Folder()).filePath(name))) << name.toStdString();

    TMailBuff mail(&outbox, &log);
    mail.NewSession(MailSettings(peer.Port()));
    ASSERT_TRUE(peer.WaitForEvent(QStringLiteral("data"), 3));
    ASSERT_TRUE(WaitFor([&] { return mail.WaitingCount() == 0; }));
    const auto data = peer.EventsOf(QStringLiteral("data"));
    EXPECT_EQ(data[0][QStringLiteral("rcpts")].toVariant().toStringList(), QStringList{"desk@x.test"});
    EXPECT_EQ(data[1][QStringLiteral("rcpts")].toVariant().toStringList(), QStringList{"c@x.test"});
    EXPECT_EQ(data[2][QStringLiteral("rcpts")].toVariant().toStringList(), QStringList{"d@x.test"});
    EXPECT_TRUE(Waiting().isEmpty());

    const QString failed = outbox.FailedFolder();
    ASSERT_EQ(boxes.notices.size(), 3);
    EXPECT_EQ(boxes.notices[0].text, QStringLiteral("Error ") + bad
                                         + QStringLiteral("\n\nCheck your client mail address, its probably not\nlegal. "
                                                          "Could not send mail transcript, it is kept in ")
                                         + failed + QStringLiteral(" !!!"));
    EXPECT_EQ(boxes.notices[1].text, QStringLiteral("Error 550 5.1.1 No such user\n\nThe transcript was not sent to "
                                                    "gone@x.test; a copy is kept in ") + failed);
    EXPECT_EQ(boxes.notices[2].text, QStringLiteral("Error ") + bad
                                         + QStringLiteral("\n\nCheck your client mail address, its probably not\nlegal. "
                                                          "Could not send mail transcript to typo@desk.test, a copy is "
                                                          "kept in ")
                                         + failed + QStringLiteral(" !!!"));
    EXPECT_EQ(mail.NotSentCount(), 3);

    const QMap<QString, QJsonObject> aside = FailedRecords();
    ASSERT_EQ(aside.keys(), (QStringList{"bad@x.test", "gone@x.test", "typo@desk.test"}));
    EXPECT_EQ(aside["bad@x.test"][QStringLiteral("Answer")].toString(), bad);
    EXPECT_EQ(aside["typo@desk.test"][QStringLiteral("Answer")].toString(), bad);
    EXPECT_EQ(aside["typo@desk.test"][QStringLiteral("ToAddr")].toString(), QStringLiteral("c@x.test"));
    EXPECT_EQ(aside["gone@x.test"][QStringLiteral("Answer")].toString(), QStringLiteral("550 5.1.1 No such user"));
    const QDir failedDir(failed);
    const QStringList kept = failedDir.entryList(QDir::Files);
    EXPECT_EQ(kept.size(), 6); // every record with its attachment
    for (const QString &name : kept)
        EXPECT_TRUE(Private(failedDir.filePath(name))) << name.toStdString();
    // Set aside for good: the next session does not try them again.
    mail.NewSession(MailSettings(peer.Port()));
    RunFor(300);
    EXPECT_EQ(peer.EventsOf(QStringLiteral("rcpt")).size(), 6);
    EXPECT_EQ(LogLines().filter(QStringLiteral("Typo not sent to typo@desk.test: ") + bad).size(), 1);
    EXPECT_TRUE(LogLines().filter(QStringLiteral("Typo sent to c@x.test")).size() == 1);
}

// A 552 to RCPT TO is a full mailbox: the transcript waits for that address
// alone, and goes to it later as the same message.
TEST_F(OutboxTest, TemporaryRefusalWaitsForItsAddressAloneAsTheSameMessage)
{
    SmtpPeer peer({QStringLiteral("--rcpt-once"), QStringLiteral("full@x.test=552 5.2.2 Mailbox full")});
    ASSERT_TRUE(peer.Started());
    TMailRecord r = Stored(QStringLiteral("a@x.test"), QStringLiteral("A"));
    r.CcAddr = QStringLiteral("full@x.test");
    ASSERT_TRUE(outbox.Update(r));
    TMailBuff mail(&outbox, &log);
    mail.SetRetryUnitMs(200);
    mail.NewSession(MailSettings(peer.Port()));
    ASSERT_TRUE(peer.WaitForEvent(QStringLiteral("data"), 2));
    ASSERT_TRUE(WaitFor([&] { return mail.WaitingCount() == 0; }));
    const auto data = peer.EventsOf(QStringLiteral("data"));
    EXPECT_EQ(data[0][QStringLiteral("rcpts")].toVariant().toStringList(), QStringList{"a@x.test"});
    EXPECT_EQ(data[1][QStringLiteral("rcpts")].toVariant().toStringList(), QStringList{"full@x.test"});
    const QByteArray id = "Message-ID: <" + r.MessageId.toLatin1() + ">\r\n";
    EXPECT_FALSE(r.MessageId.isEmpty());
    EXPECT_TRUE(peer.Message(0).contains(id));
    EXPECT_TRUE(peer.Message(1).contains(id));
    EXPECT_TRUE(QDir(outbox.FailedFolder()).entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(Waiting().isEmpty());
    EXPECT_EQ(mail.NotSentCount(), 0);
}

// A record of an older version (no Message-ID, readable by all) still goes,
// and a kill right after the server's 250 does not send it again.
TEST_F(OutboxTest, OldRecordGoesOnceEvenWhenKilledJustAfterTheAnswer)
{
    QDir().mkpath(outbox.Folder());
    const QDir box(outbox.Folder());
    QFile record(box.filePath(QStringLiteral("20261201-101010-000-0001-abcd.mail")));
    ASSERT_TRUE(record.open(QIODevice::WriteOnly));
    record.write(R"({"Subject": "Transcript for chat with Old", "FromAddr": "support@velmora.test",
                     "ToAddr": "old@x.test", "CcAddr": "", "ReplyToAddr": "", "MailBody": ["Dear Old,"],
                     "AttachName": "Chat7.rtf", "ClientName": "Old"})");
    record.close();
    QFile attach(box.filePath(QStringLiteral("20261201-101010-000-0001-abcd.rtf")));
    ASSERT_TRUE(attach.open(QIODevice::WriteOnly));
    attach.write("{\\rtf1 old}");
    attach.close();
    QFile::setPermissions(attach.fileName(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);

    SmtpPeer peer;
    ASSERT_TRUE(peer.Started());
    auto mail = std::make_unique<TMailBuff>(&outbox, &log);
    EXPECT_TRUE(Private(attach.fileName()));
    ASSERT_TRUE(record.open(QIODevice::ReadOnly));
    const QString id = QJsonDocument::fromJson(record.readAll()).object()[QStringLiteral("MessageId")].toString();
    record.close();
    ASSERT_FALSE(id.isEmpty());
    // Gone 20 ms after the 250 arrived, as by a kill.
    QObject context;
    QObject::connect(&mail->DebugLines(), &TMailLineCollector::LineAdded, &context, [&](const QString &line) {
        if (line.startsWith(QStringLiteral("< 250 Message accepted")))
            QTimer::singleShot(20, &context, [&] { mail.reset(); });
    });
    mail->NewSession(MailSettings(peer.Port()));
    ASSERT_TRUE(WaitFor([&] { return !mail; }));
    EXPECT_TRUE(peer.Message(0).contains("Message-ID: <" + id.toLatin1() + ">"));
    EXPECT_TRUE(peer.Message(0).contains("filename=\"Chat7.rtf\""));
    EXPECT_TRUE(Waiting().isEmpty());
    TMailBuff again(&outbox, &log);
    EXPECT_EQ(again.WaitingCount(), 0);
}
