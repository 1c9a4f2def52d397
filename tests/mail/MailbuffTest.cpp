// The transcript queue against a real aiosmtpd: order, connection reuse,
// failures and what survives them.
#include "RecordingBoxes.h"
#include "SmtpTestUtil.h"
#include "config/Settings.h"
#include "mail/Mailbuff.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

namespace {

TSettings MailSettings(const SmtpPeer &peer)
{
    TSettings s;
    s.SMTP_Server = peer.Host();
    s.SMTP_Port = peer.Port();
    s.SMTP_SignOn = QStringLiteral("desk");
    return s;
}

class MailbuffTest : public ::testing::Test {
protected:
    TMailRecord Record(const QString &to, const QString &tag)
    {
        TMailRecord r;
        r.Subject = QStringLiteral("Transcript for chat with ") + tag;
        r.FromAddr = QStringLiteral("support@velmora.test");
        r.ToAddr = to;
        r.MailBody = {QStringLiteral("Dear ") + tag + QLatin1Char(','), QStringLiteral("Thanks.")};
        r.AttachFile = dir.filePath(tag + QStringLiteral(".rtf"));
        QFile f(r.AttachFile);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("{\\rtf1 " + tag.toLatin1() + "}");
        return r;
    }

    QTemporaryDir dir;
    RecordingBoxes boxes;
};

} // namespace

TEST_F(MailbuffTest, QuickSuccessionGoesOverOneConnectionWithOneQuit)
{
    SmtpPeer peer;
    ASSERT_TRUE(peer.Started());
    TMailBuff mail;
    mail.NewSession(MailSettings(peer));
    QSignalSpy waiting(&mail, &TMailBuff::WaitingChanged);
    const TMailRecord a = Record(QStringLiteral("a@x.test"), QStringLiteral("A"));
    const TMailRecord b = Record(QStringLiteral("b@x.test"), QStringLiteral("B"));
    const TMailRecord c = Record(QStringLiteral("c@x.test"), QStringLiteral("C"));
    mail.AddMail(a);
    mail.AddMail(b);
    mail.AddMail(c);
    EXPECT_EQ(mail.WaitingCount(), 3);
    ASSERT_TRUE(peer.WaitForEvent(QStringLiteral("quit")));
    EXPECT_EQ(peer.Kinds(), (QStringList{"connect", "helo", "mail", "rcpt", "data", "mail", "rcpt", "data", "mail",
                                         "rcpt", "data", "quit"}));
    const auto data = peer.EventsOf(QStringLiteral("data"));
    EXPECT_EQ(data[0][QStringLiteral("rcpts")].toVariant().toStringList(), QStringList{"a@x.test"});
    EXPECT_EQ(data[2][QStringLiteral("rcpts")].toVariant().toStringList(), QStringList{"c@x.test"});
    EXPECT_TRUE(WaitFor([&] { return mail.WaitingCount() == 0; }));
    EXPECT_FALSE(QFile::exists(a.AttachFile));
    EXPECT_FALSE(QFile::exists(c.AttachFile));
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_EQ(waiting.last().at(0).toInt(), 0);
    // No second QUIT comes later, when a second idle time would have run out.
    RunFor(600);
    EXPECT_EQ(peer.EventsOf(QStringLiteral("quit")).size(), 1);
}

TEST_F(MailbuffTest, QuitFollowsAboutHalfASecondAfterTheQueueRunsEmpty)
{
    SmtpPeer peer;
    ASSERT_TRUE(peer.Started());
    TMailBuff mail;
    mail.NewSession(MailSettings(peer));
    QElapsedTimer clock;
    QStringList shown;
    QObject::connect(&mail.DebugLines(), &TMailLineCollector::LineAdded, [&](const QString &l) { shown << l; });
    qint64 delivered = -1;
    QObject::connect(&mail.DebugLines(), &TMailLineCollector::LineAdded, [&](const QString &l) {
        if (l.startsWith(QStringLiteral("< 250 Message accepted")))
            delivered = clock.elapsed();
    });
    clock.start();
    mail.AddMail(Record(QStringLiteral("a@x.test"), QStringLiteral("A")));
    ASSERT_TRUE(WaitFor([&] { return shown.contains(QStringLiteral("> QUIT")); }, 10000));
    const qint64 quitAt = clock.elapsed();
    ASSERT_GE(delivered, 0);
    EXPECT_GE(quitAt - delivered, 500);
    EXPECT_LT(quitAt - delivered, 4000);
}

TEST_F(MailbuffTest, TemporaryRefusalKeepsTheHeadAndEveryWakeUpRetriesItFirst)
{
    SmtpPeer peer({QStringLiteral("--rcpt-reply"), QStringLiteral("busy@x.test=450 mailbox busy")});
    ASSERT_TRUE(peer.Started());
    TMailBuff mail;
    mail.NewSession(MailSettings(peer));
    mail.AddMail(Record(QStringLiteral("busy@x.test"), QStringLiteral("Busy")));
    ASSERT_TRUE(WaitFor([&] { return boxes.shown.size() == 1; }, 10000));
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Error 450 mailbox busy"));
    EXPECT_TRUE(mail.RetryPending());
    // A new transcript wakes the queue: the head goes first, fails again,
    // and the same outage is not told twice.
    bool refusedAgain = false;
    QObject::connect(&mail.DebugLines(), &TMailLineCollector::LineAdded,
                     [&](const QString &l) { refusedAgain = refusedAgain || l.startsWith(QStringLiteral("< 450")); });
    mail.AddMail(Record(QStringLiteral("ok@x.test"), QStringLiteral("Ok")));
    ASSERT_TRUE(WaitFor([&] { return peer.EventsOf(QStringLiteral("rcpt")).size() == 2; }, 10000));
    ASSERT_TRUE(WaitFor([&] { return refusedAgain; }, 10000));
    EXPECT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(mail.WaitingCount(), 2);
    const auto rcpts = peer.EventsOf(QStringLiteral("rcpt"));
    EXPECT_EQ(rcpts[1][QStringLiteral("address")].toString(), QStringLiteral("busy@x.test"));
    EXPECT_TRUE(peer.EventsOf(QStringLiteral("data")).isEmpty());
    EXPECT_EQ(mail.LastError(), QStringLiteral("450 mailbox busy"));
}

TEST_F(MailbuffTest, FailedGreetingKeepsTheTranscriptAndANewSessionDeliversIt)
{
    SmtpPeer refusing({QStringLiteral("--greeting"), QStringLiteral("421 too busy")});
    ASSERT_TRUE(refusing.Started());
    TMailBuff mail;
    mail.NewSession(MailSettings(refusing));
    const TMailRecord r = Record(QStringLiteral("a@x.test"), QStringLiteral("A"));
    mail.AddMail(r);
    ASSERT_TRUE(WaitFor([&] { return boxes.shown.size() == 1; }, 10000));
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Error 421 too busy"));
    EXPECT_EQ(mail.WaitingCount(), 1);
    EXPECT_TRUE(QFile::exists(r.AttachFile));

    SmtpPeer working;
    ASSERT_TRUE(working.Started());
    mail.NewSession(MailSettings(working));
    ASSERT_TRUE(working.WaitForEvent(QStringLiteral("data")));
    EXPECT_TRUE(working.Message(0).contains("Dear A,"));
    ASSERT_TRUE(WaitFor([&] { return mail.WaitingCount() == 0; }));
}

TEST_F(MailbuffTest, ErrorTextsForTheNetworkTimeOutsAndAuthentication)
{
    {
        // Nobody listening: the component's own text.
        quint16 port = 0;
        {
            SmtpPeer gone;
            port = gone.Port();
        }
        TMailBuff mail;
        TSettings s;
        s.SMTP_Server = QStringLiteral("127.0.0.1");
        s.SMTP_Port = port;
        mail.NewSession(s);
        mail.AddMail(Record(QStringLiteral("a@x.test"), QStringLiteral("A")));
        ASSERT_TRUE(WaitFor([&] { return boxes.shown.size() == 1; }, 10000));
        EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Connection refused (Winsock error #10061) could not send mail, "
                                                      "check parameters"));
        EXPECT_EQ(mail.WaitingCount(), 1);
    }
    {
        // A silent server: the step times out, the transcript stays.
        SmtpPeer silent({QStringLiteral("--silent")});
        TMailBuff mail;
        mail.Client().StepTimeoutMs = 300;
        mail.NewSession(MailSettings(silent));
        mail.AddMail(Record(QStringLiteral("a@x.test"), QStringLiteral("A")));
        ASSERT_TRUE(WaitFor([&] { return boxes.shown.size() == 2; }, 10000));
        EXPECT_TRUE(boxes.shown[1].text.contains(QStringLiteral("No answer from the mail server")));
        EXPECT_EQ(mail.WaitingCount(), 1);
    }
    {
        // Wrong password with LOGIN: the 535 and its hint.
        SmtpPeer peer({QStringLiteral("--ehlo-auth"), QStringLiteral("AUTH LOGIN")});
        TMailBuff mail;
        TSettings s = MailSettings(peer);
        s.MailAuthCheck = true;
        s.AuthType = 2;
        s.MailUserID = QStringLiteral("user");
        s.MailPassword = QStringLiteral("wrong");
        mail.NewSession(s);
        mail.AddMail(Record(QStringLiteral("a@x.test"), QStringLiteral("A")));
        ASSERT_TRUE(WaitFor([&] { return boxes.shown.size() == 3; }, 10000));
        EXPECT_TRUE(boxes.shown[2].text.startsWith(QStringLiteral("Error 535")));
        EXPECT_TRUE(boxes.shown[2].text.endsWith(QStringLiteral("\n\nCheck your password and/or user-ID settings !.")));
    }
    {
        // Every mechanism refused under auto-selection: the announced ones are listed.
        SmtpPeer peer({QStringLiteral("--ehlo-auth"), QStringLiteral("AUTH NTLM GSSAPI"),
                       QStringLiteral("--no-builtin-auth")});
        TMailBuff mail;
        TSettings s = MailSettings(peer);
        s.MailAuthCheck = true;
        s.AuthType = 0;
        s.MailUserID = QStringLiteral("user");
        mail.NewSession(s);
        mail.AddMail(Record(QStringLiteral("a@x.test"), QStringLiteral("A")));
        ASSERT_TRUE(WaitFor([&] { return boxes.shown.size() == 4; }, 10000));
        EXPECT_TRUE(boxes.shown[3].text.endsWith(QStringLiteral("use one of these:\n\nAUTH NTLM\nAUTH GSSAPI\n")))
            << boxes.shown[3].text.toStdString();
    }
}

TEST_F(MailbuffTest, DebugLinesKeptOnlyWhileDebugMailIsOn)
{
    SmtpPeer peer;
    ASSERT_TRUE(peer.Started());
    TMailBuff mail;
    int showRequests = 0;
    int announced = 0;
    QObject::connect(&mail.DebugLines(), &TMailLineCollector::ShowRequested, [&] { ++showRequests; });
    QObject::connect(&mail.DebugLines(), &TMailLineCollector::LineAdded, [&] { ++announced; });
    TSettings s = MailSettings(peer);
    mail.NewSession(s); // DebugMail off: followed by an open window, kept nowhere
    mail.AddMail(Record(QStringLiteral("a@x.test"), QStringLiteral("A")));
    ASSERT_TRUE(peer.WaitForEvent(QStringLiteral("quit")));
    EXPECT_EQ(showRequests, 0);
    EXPECT_GT(announced, 10);
    EXPECT_TRUE(mail.DebugLines().Lines().empty());
    s.DebugMail = true;
    mail.NewSession(s);
    EXPECT_EQ(showRequests, 1);
    ASSERT_EQ(mail.DebugLines().Lines().size(), 1u);
    EXPECT_EQ(mail.DebugLines().Lines().front(), QStringLiteral("Start new session"));
    mail.AddMail(Record(QStringLiteral("b@x.test"), QStringLiteral("B")));
    ASSERT_TRUE(peer.WaitForEvent(QStringLiteral("quit"), 2));
    const std::deque<QString> &lines = mail.DebugLines().Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), QStringLiteral("> RCPT TO:<b@x.test>")), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), QStringLiteral("> Dear B,")), lines.end());
    s.DebugMail = false; // the next session lets the kept lines go
    mail.NewSession(s);
    EXPECT_TRUE(mail.DebugLines().Lines().empty());
}

TEST_F(MailbuffTest, DestructionKeepsTheFilesOfQueuedTranscripts)
{
    SmtpPeer silent({QStringLiteral("--silent")});
    TMailRecord r = Record(QStringLiteral("a@x.test"), QStringLiteral("A"));
    {
        TMailBuff mail;
        mail.NewSession(MailSettings(silent));
        mail.AddMail(r);
        ASSERT_TRUE(silent.WaitForEvent(QStringLiteral("connect")));
    }
    EXPECT_TRUE(QFile::exists(r.AttachFile));
    EXPECT_TRUE(boxes.shown.isEmpty());
}

// Neither the QUIT after a refused transcript nor the one after an idle
// pause is waited for: the next connection follows at once.
TEST_F(MailbuffTest, AnUnansweredQuitHoldsNothingUp)
{
    SmtpPeer peer({QStringLiteral("--silent-quit"), QStringLiteral("--rcpt-reply"),
                   QStringLiteral("no@x.test=550 5.1.1 no such user")});
    ASSERT_TRUE(peer.Started());
    TMailBuff mail; // the QUIT step keeps its time-out of 3 s
    mail.NewSession(MailSettings(peer));
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 4; ++i)
        mail.AddMail(Record(QStringLiteral("no@x.test"), QStringLiteral("No%1").arg(i)));
    mail.AddMail(Record(QStringLiteral("a@x.test"), QStringLiteral("A")));
    ASSERT_TRUE(peer.WaitForEvent(QStringLiteral("data"), 1, 5000));
    EXPECT_LT(clock.elapsed(), 2500);
    EXPECT_EQ(boxes.notices.size(), 4);
    EXPECT_EQ(peer.EventsOf(QStringLiteral("connect")).size(), 5);

    ASSERT_TRUE(peer.WaitForEvent(QStringLiteral("quit"), 5)); // the idle one
    clock.restart();
    mail.AddMail(Record(QStringLiteral("b@x.test"), QStringLiteral("B")));
    ASSERT_TRUE(peer.WaitForEvent(QStringLiteral("data"), 2, 5000));
    EXPECT_LT(clock.elapsed(), 1500);
    EXPECT_EQ(peer.EventsOf(QStringLiteral("connect")).size(), 6);
    EXPECT_EQ(boxes.notices.size(), 4);
}
