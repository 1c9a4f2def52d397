// TSmtpCli against a real aiosmtpd: what the server receives.
#include "SmtpTestUtil.h"
#include "mail/SmtpCli.h"

#include <QFile>
#include <QSslSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

namespace {

int Find(const QList<QByteArray> &lines, const QByteArray &wanted)
{
    return int(lines.indexOf(wanted));
}

} // namespace

TEST(SmtpCli, DeliversLetterAndAttachmentAsTheServerSeesThem)
{
    SmtpPeer peer;
    ASSERT_TRUE(peer.Started());
    QTemporaryDir dir;
    // 200 bytes: three full 72-character base64 lines and a shorter last one.
    QByteArray file;
    for (int i = 0; i < 200; ++i)
        file += char(i);
    const QString path = dir.filePath(QStringLiteral("Chat0.rtf"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(file);
    f.close();

    TSmtpCli cli;
    StepDriver d(cli);
    d.Point(peer);
    cli.SignOn = QStringLiteral("my desk");
    cli.FromName = QStringLiteral("support@velmora.test");
    cli.HdrFrom = cli.FromName;
    cli.HdrTo = QStringLiteral("first@a.test; second@b.test");
    cli.HdrReplyTo = QStringLiteral("reply@velmora.test");
    cli.HdrSubject = QStringLiteral("Transcript for chat with Ann");
    cli.RcptNameAdd(cli.HdrTo, QStringLiteral("cc@c.test"), QString());
    cli.EmailFiles.append({path, QString()});
    const QStringList letter{QStringLiteral("Dear Ann,"), QStringLiteral(".hidden behind a dot"),
                             QStringLiteral("."), QStringLiteral("Bye")};
    cli.OnGetData = [&](int k, int, QString &line) {
        if (k > letter.size())
            return false;
        line = letter[k - 1];
        return true;
    };

    ASSERT_EQ(d.Run(&TSmtpCli::Connect), 0);
    EXPECT_TRUE(cli.Connected());
    ASSERT_EQ(d.Run(&TSmtpCli::Helo), 0);
    ASSERT_EQ(d.Run(&TSmtpCli::MailFrom), 0);
    ASSERT_EQ(d.Run(&TSmtpCli::RcptTo), 0);
    ASSERT_EQ(d.Run(&TSmtpCli::Data), 0);
    ASSERT_EQ(d.Run(&TSmtpCli::Quit), 0);
    EXPECT_FALSE(cli.Connected());

    ASSERT_TRUE(peer.WaitForEvent(QStringLiteral("quit")));
    EXPECT_EQ(peer.EventsOf(QStringLiteral("helo"))[0][QStringLiteral("name")].toString(),
              QStringLiteral("my-desk"));
    const QJsonObject data = peer.EventsOf(QStringLiteral("data"))[0];
    EXPECT_EQ(data[QStringLiteral("sender")].toString(), QStringLiteral("support@velmora.test"));
    EXPECT_EQ(data[QStringLiteral("rcpts")].toVariant().toStringList(),
              (QStringList{"first@a.test", "second@b.test", "cc@c.test"}));

    const QList<QByteArray> lines = MessageLines(peer.Message(0));
    // Headers in their order, the address list continued on a tab line.
    const int replyTo = Find(lines, "Reply-To: reply@velmora.test");
    const int from = Find(lines, "From: support@velmora.test");
    const int to = Find(lines, "To: first@a.test,");
    ASSERT_GE(replyTo, 0);
    EXPECT_LT(replyTo, from);
    EXPECT_LT(from, to);
    EXPECT_EQ(lines[to + 1], "\tsecond@b.test");
    EXPECT_EQ(lines[to + 2], "Subject: Transcript for chat with Ann");
    EXPECT_EQ(lines[to + 3], "Sender: support@velmora.test");
    EXPECT_EQ(lines[to + 4], "Mime-Version: 1.0");
    EXPECT_EQ(lines[to + 5], "Content-Type: multipart/mixed;");
    ASSERT_TRUE(lines[to + 6].startsWith("\tboundary=\"= Multipart Boundary "));
    const QByteArray boundary = lines[to + 6].mid(11, lines[to + 6].size() - 12);
    EXPECT_TRUE(lines[to + 7].startsWith("Date: "));
    EXPECT_TRUE(lines[to + 8].startsWith("Message-ID: <"));
    EXPECT_TRUE(lines[to + 9].startsWith("X-Mailer: "));

    // The letter part: 7bit, dot lines arrive as written (the server undoes
    // the stuffing), then the attachment in 72-character lines.
    const int part = Find(lines, "--" + boundary);
    ASSERT_GT(part, 0);
    EXPECT_EQ(lines[part + 1], "Content-Type: text/plain; charset=\"iso-8859-1\"");
    EXPECT_EQ(lines[part + 2], "Content-Transfer-Encoding: 7bit");
    EXPECT_EQ(lines.mid(part + 4, 4), (QList<QByteArray>{"Dear Ann,", ".hidden behind a dot", ".", "Bye"}));
    const int attach = Find(lines.mid(part + 1), "--" + boundary) + part + 1;
    EXPECT_EQ(lines[attach + 1], "Content-Type: application/octet-stream;");
    EXPECT_EQ(lines[attach + 2], "\tname=\"Chat0.rtf\"");
    EXPECT_EQ(lines[attach + 3], "Content-Transfer-Encoding: base64");
    EXPECT_EQ(lines[attach + 4], "Content-Disposition: attachment;");
    EXPECT_EQ(lines[attach + 5], "\tfilename=\"Chat0.rtf\"");
    QByteArray b64;
    int i = attach + 7;
    for (; !lines[i].isEmpty(); ++i) {
        EXPECT_LE(lines[i].size(), 72);
        if (i < attach + 10) {
            EXPECT_EQ(lines[i].size(), 72);
        }
        b64 += lines[i];
    }
    EXPECT_EQ(QByteArray::fromBase64(b64), file);
    EXPECT_EQ(lines[i + 1], "--" + boundary + "--");
    // The debug view saw both directions.
    EXPECT_TRUE(d.shown.contains(QStringLiteral("> HELO my-desk")));
    EXPECT_TRUE(d.shown.contains(QStringLiteral("> ..hidden behind a dot")) || d.shown.contains(QStringLiteral("> .hidden behind a dot")));
    EXPECT_TRUE(d.shown.filter(QStringLiteral("< 221")).size() == 1);
}

TEST(SmtpCli, AuthenticationMechanismsAndFallBacks)
{
    struct Case {
        QStringList server;
        TSmtpAuthType type;
        QString password;
        QString usedMechanism; // as the server recorded it; empty: no successful AUTH
        int error;
        QString errorMessage; // prefix; empty: not checked
        QStringList announced;
    };
    const QString auth = QStringLiteral("--ehlo-auth");
    const QList<Case> cases = {
        // Two AUTH lines, LOGIN named twice: LOGIN, PLAIN once each; LOGIN chosen.
        {{auth, "AUTH LOGIN PLAIN", auth, "AUTH=LOGIN"}, smtpAuthAutoSelect, "secret", "LOGIN", 0, "",
         {"LOGIN", "PLAIN"}},
        // CRAM-MD5 offered and preferred.
        {{"--cram"}, smtpAuthAutoSelect, "secret", "CRAM-MD5", 0, "", {"CRAM-MD5", "LOGIN", "PLAIN"}},
        // Nothing announced: CRAM-MD5 is tried, refused with 504, LOGIN follows.
        {{auth, "X-NOTHING"}, smtpAuthAutoSelect, "secret", "LOGIN", 0, "", {}},
        // Explicit PLAIN, whatever is announced.
        {{auth, "AUTH LOGIN"}, smtpAuthPlain, "secret", "PLAIN", 0, "", {"LOGIN"}},
        // Auto-selected PLAIN with a wrong password: the refusal of the single command.
        {{auth, "AUTH PLAIN"}, smtpAuthAutoSelect, "wrong", "", 535,
         "500 Authentication Type could not be determined.", {"PLAIN"}},
        // LOGIN: the 535 to the password stays a 535.
        {{auth, "AUTH LOGIN"}, smtpAuthAutoSelect, "wrong", "", 535, "535", {"LOGIN"}},
        {{"--cram"}, smtpAuthCramMD5, "wrong", "", 535, "535", {"CRAM-MD5", "LOGIN", "PLAIN"}},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.server.join(' ').toStdString() + " type " + std::to_string(k.type));
        SmtpPeer peer(k.server);
        ASSERT_TRUE(peer.Started());
        TSmtpCli cli;
        StepDriver d(cli);
        d.Point(peer);
        cli.Username = QStringLiteral("user");
        cli.Password = k.password;
        cli.AuthType = k.type;
        ASSERT_EQ(d.Run(&TSmtpCli::Connect), 0);
        ASSERT_EQ(d.Run(&TSmtpCli::Ehlo), 0);
        EXPECT_EQ(cli.AuthMechanisms(), k.announced);
        EXPECT_EQ(d.Run(&TSmtpCli::Auth), k.error);
        if (!k.errorMessage.isEmpty()) {
            EXPECT_TRUE(cli.ErrorMessage().startsWith(k.errorMessage)) << cli.ErrorMessage().toStdString();
        }
        if (!k.usedMechanism.isEmpty()) {
            ASSERT_TRUE(peer.WaitForEvent(QStringLiteral("auth")));
            const QJsonObject a = peer.EventsOf(QStringLiteral("auth")).last();
            EXPECT_EQ(a[QStringLiteral("mech")].toString(), k.usedMechanism);
            EXPECT_EQ(a[QStringLiteral("login")].toString(), QStringLiteral("user"));
            EXPECT_TRUE(a[QStringLiteral("ok")].toBool());
        }
    }
}

TEST(SmtpCli, AuthNeedsAnExtendedServer)
{
    SmtpPeer peer;
    ASSERT_TRUE(peer.Started());
    TSmtpCli cli;
    StepDriver d(cli);
    d.Point(peer);
    cli.AuthType = smtpAuthLogin;
    ASSERT_EQ(d.Run(&TSmtpCli::Connect), 0);
    ASSERT_EQ(d.Run(&TSmtpCli::Helo), 0);
    EXPECT_EQ(d.Run(&TSmtpCli::Auth), 500);
    EXPECT_EQ(cli.ErrorMessage(), QStringLiteral("500 ESMTP not supported."));
}

TEST(SmtpCli, GreetingsAndConnectionFailures)
{
    {
        // A multi-line greeting is accepted after its last line only.
        SmtpPeer peer({QStringLiteral("--greeting"), QStringLiteral("220-first\\n220-second\\n220 last")});
        ASSERT_TRUE(peer.Started());
        TSmtpCli cli;
        StepDriver d(cli);
        d.Point(peer);
        ASSERT_EQ(d.Run(&TSmtpCli::Connect), 0);
        EXPECT_EQ(cli.LastResponse(), QStringLiteral("220 last"));
        EXPECT_EQ(d.Run(&TSmtpCli::Helo), 0);
    }
    {
        // A refusing greeting closes the connection: 10004, the line kept.
        SmtpPeer peer({QStringLiteral("--greeting"), QStringLiteral("554 no service here")});
        ASSERT_TRUE(peer.Started());
        TSmtpCli cli;
        StepDriver d(cli);
        d.Point(peer);
        EXPECT_EQ(d.Run(&TSmtpCli::Connect), 10004);
        EXPECT_EQ(cli.ErrorMessage(), QStringLiteral("554 no service here"));
        EXPECT_FALSE(cli.Connected());
    }
    {
        // Nobody listening.
        quint16 port = 0;
        {
            SmtpPeer gone;
            port = gone.Port();
        }
        TSmtpCli cli;
        StepDriver d(cli);
        cli.Host = QStringLiteral("127.0.0.1");
        cli.Port = QString::number(port);
        EXPECT_EQ(d.Run(&TSmtpCli::Connect), 10061);
        // No made-up reply code: the server never said anything.
        EXPECT_TRUE(cli.ErrorMessage().startsWith(QStringLiteral("Connection refused")));
        EXPECT_TRUE(cli.ErrorMessage().endsWith(QStringLiteral("(Winsock error #10061)")));
        EXPECT_EQ(cli.FailedReplyCode(), 0);
    }
    {
        // A server that never answers fails the step after the time-out.
        SmtpPeer peer({QStringLiteral("--silent")});
        ASSERT_TRUE(peer.Started());
        TSmtpCli cli;
        StepDriver d(cli);
        d.Point(peer);
        cli.StepTimeoutMs = 300;
        EXPECT_EQ(d.Run(&TSmtpCli::Connect), 10060);
        EXPECT_TRUE(cli.ErrorMessage().contains(QStringLiteral("No answer from the mail server")));
        EXPECT_FALSE(cli.Connected());
        // And can connect again afterwards (to the same silent server: times out again).
        EXPECT_EQ(d.Run(&TSmtpCli::Connect), 10060);
    }
}

TEST(SmtpCli, RefusedCallsStartNothing)
{
    SmtpPeer peer;
    ASSERT_TRUE(peer.Started());
    TSmtpCli cli;
    StepDriver d(cli);
    d.Point(peer);
    EXPECT_EQ(d.Run(&TSmtpCli::MailFrom), -1);
    EXPECT_EQ(cli.RefusalText(), QStringLiteral("SMTP component not connected"));
    // Quit without a connection ends at once, without error.
    EXPECT_EQ(d.Run(&TSmtpCli::Quit), 0);
    // ... and with no TLS socket made yet: that waits for the first connection.
    EXPECT_TRUE(cli.findChildren<QSslSocket *>().isEmpty());
    ASSERT_TRUE(cli.Connect());
    EXPECT_FALSE(cli.Helo());
    EXPECT_EQ(cli.RefusalText(), QStringLiteral("SMTP component not ready"));
    ASSERT_TRUE(WaitFor([&] { return !d.done.isEmpty() && d.done.last().first == smtpConnect; }));
    EXPECT_EQ(d.Run(&TSmtpCli::Connect), -1);
    EXPECT_EQ(cli.RefusalText(), QStringLiteral("SMTP component already connected"));
    ASSERT_EQ(d.Run(&TSmtpCli::Helo), 0);
    ASSERT_EQ(d.Run(&TSmtpCli::MailFrom), 0);
    EXPECT_EQ(d.Run(&TSmtpCli::RcptTo), -1);
    EXPECT_EQ(cli.RefusalText(), QStringLiteral("RcptName list is empty"));
    // Every refused call left no trace on the wire.
    EXPECT_EQ(peer.EventsOf(QStringLiteral("helo")).size(), 1);
}

// Every recipient is asked: the step succeeds when one was taken and lists
// the refused ones, and fails as the first refusal when none was.
TEST(SmtpCli, RefusedRecipientsAreListedAndOnlyAllRefusedFails)
{
    SmtpPeer peer({QStringLiteral("--rcpt-reply"), QStringLiteral("bad@b.test=550 no such user"),
                   QStringLiteral("--rcpt-reply"), QStringLiteral("busy@b.test=452 try later")});
    ASSERT_TRUE(peer.Started());
    TSmtpCli cli;
    StepDriver d(cli);
    d.Point(peer);
    cli.FromName = QStringLiteral("s@v.test");
    cli.RcptNameAdd(QStringLiteral("ok@a.test, bad@b.test"), QStringLiteral("late@c.test"), QString());
    ASSERT_EQ(d.Run(&TSmtpCli::Connect), 0);
    ASSERT_EQ(d.Run(&TSmtpCli::Helo), 0);
    ASSERT_EQ(d.Run(&TSmtpCli::MailFrom), 0);
    EXPECT_EQ(d.Run(&TSmtpCli::RcptTo), 0);
    ASSERT_EQ(cli.RefusedRecipients().size(), 1);
    EXPECT_EQ(cli.RefusedRecipients()[0].address, QStringLiteral("bad@b.test"));
    EXPECT_EQ(cli.RefusedRecipients()[0].code, 550);
    EXPECT_EQ(peer.EventsOf(QStringLiteral("rcpt")).size(), 3);

    ASSERT_EQ(d.Run(&TSmtpCli::Quit), 0);
    cli.RcptName = QStringList{QStringLiteral("busy@b.test"), QStringLiteral("bad@b.test")};
    ASSERT_EQ(d.Run(&TSmtpCli::Connect), 0);
    ASSERT_EQ(d.Run(&TSmtpCli::Helo), 0);
    ASSERT_EQ(d.Run(&TSmtpCli::MailFrom), 0);
    EXPECT_EQ(d.Run(&TSmtpCli::RcptTo), 452);
    EXPECT_EQ(cli.FailedReplyCode(), 452);
    EXPECT_EQ(cli.ErrorMessage(), QStringLiteral("452 try later"));
    EXPECT_EQ(cli.RefusedRecipients().size(), 2);
}

TEST(SmtpCli, VisitorTextNeverInjectsAndNonAsciiIsEncoded)
{
    SmtpPeer peer;
    ASSERT_TRUE(peer.Started());
    TSmtpCli cli;
    StepDriver d(cli);
    d.Point(peer);
    cli.FromName = QStringLiteral("s@v.test");
    cli.HdrFrom = cli.FromName;
    cli.HdrTo = QStringLiteral("ok@a.test\r\nBcc: evil@x.test");
    cli.HdrSubject = QStringLiteral("Transcript for chat with J\u00fcrgen\r\nBcc: evil@x.test");
    cli.RcptName = {QStringLiteral("ok@a.test>\r\nRCPT TO:<evil@x.test")};
    const QStringList letter{QStringLiteral("Dear J\u00fcrgen,"), QStringLiteral("Gr\u00fc\u00dfe \u20ac")};
    cli.OnGetData = [&](int k, int, QString &line) {
        if (k > letter.size())
            return false;
        line = letter[k - 1];
        return true;
    };
    ASSERT_EQ(d.Run(&TSmtpCli::Connect), 0);
    ASSERT_EQ(d.Run(&TSmtpCli::Helo), 0);
    ASSERT_EQ(d.Run(&TSmtpCli::MailFrom), 0);
    d.Run(&TSmtpCli::RcptTo);
    ASSERT_EQ(d.Run(&TSmtpCli::Data), 0);
    // One RCPT TO on the wire, whatever the text held.
    EXPECT_EQ(peer.EventsOf(QStringLiteral("rcpt")).size(), 1);
    const QByteArray raw = peer.Message(0);
    for (char c : raw)
        ASSERT_LT(uchar(c), 0x80) << "8-bit byte in the message";
    const QList<QByteArray> lines = MessageLines(raw);
    for (const QByteArray &l : lines)
        EXPECT_FALSE(l.startsWith("Bcc:"));
    int subject = -1;
    for (int i = 0; i < lines.size(); ++i)
        if (lines[i].startsWith("Subject: "))
            subject = i;
    ASSERT_GE(subject, 0);
    EXPECT_TRUE(lines[subject].contains("=?iso-8859-1?Q?"));
    EXPECT_TRUE(lines.contains("Content-Transfer-Encoding: quoted-printable"));
    // The euro sign needs UTF-8: the letter says so, and its bytes are intact.
    EXPECT_TRUE(lines.contains("Content-Type: text/plain; charset=\"utf-8\""));
    EXPECT_TRUE(lines.contains("Gr=C3=BC=C3=9Fe =E2=82=AC"));
}
