// Transcripts over TLS: STARTTLS and TLS from the first byte against aiosmtpd
// with a certificate the test makes; an untrusted or wrong-named certificate
// and a server without STARTTLS are refused, and no credentials go out
// before the encryption is up.
#include "RecordingBoxes.h"
#include "SmtpTestUtil.h"
#include "config/Settings.h"
#include "mail/Mailbuff.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

namespace {

class TlsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(MakeCertificate(dir.path(), QStringLiteral("DNS:localhost,IP:127.0.0.1"), cert, key)); }

    QStringList PeerOptions(const char *mode) const
    {
        return {QStringLiteral("--tls"), QString::fromLatin1(mode), QStringLiteral("--cert"), cert,
                QStringLiteral("--key"), key};
    }
    TSettings MailSettings(const SmtpPeer &peer, int security, bool trusted) const
    {
        TSettings s;
        s.SMTP_Server = peer.Host();
        s.SMTP_Port = peer.Port();
        s.SMTP_Security = security;
        if (trusted)
            s.SMTP_CAFile = cert;
        s.MailAuthCheck = true;
        s.AuthType = 2; // LOGIN: the password as good as in clear text
        s.MailUserID = QStringLiteral("user");
        s.MailPassword = QStringLiteral("secret");
        return s;
    }
    TMailRecord Record()
    {
        TMailRecord r;
        r.Subject = QStringLiteral("Transcript for chat with Eve");
        r.FromAddr = QStringLiteral("support@velmora.test");
        r.ToAddr = QStringLiteral("eve@x.test");
        r.MailBody = {QStringLiteral("Dear Eve,")};
        return r;
    }

    QTemporaryDir dir;
    QString cert, key;
    RecordingBoxes boxes;
};

} // namespace

TEST_F(TlsTest, BothModesDeliverWithCredentialsOnlyInsideTls)
{
    for (const auto &[mode, security] : {std::pair{"starttls", 1}, std::pair{"implicit", 2}}) {
        SCOPED_TRACE(mode);
        SmtpPeer peer(PeerOptions(mode));
        ASSERT_TRUE(peer.Started());
        TMailBuff mail;
        mail.NewSession(MailSettings(peer, security, true));
        mail.AddMail(Record());
        ASSERT_TRUE(peer.WaitForEvent(QStringLiteral("data")));
        const auto auth = peer.EventsOf(QStringLiteral("auth"));
        ASSERT_EQ(auth.size(), 1);
        EXPECT_TRUE(auth[0][QStringLiteral("ok")].toBool());
        EXPECT_TRUE(auth[0][QStringLiteral("tls")].toBool());
        EXPECT_TRUE(peer.EventsOf(QStringLiteral("mail"))[0][QStringLiteral("tls")].toBool());
        EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.Texts().join('|').toStdString();
    }
}

TEST_F(TlsTest, UntrustedOrWrongNameIsRefusedAndNothingIsSent)
{
    // A trusted certificate that names another host.
    QTemporaryDir otherDir;
    QString otherCert, otherKey;
    ASSERT_TRUE(MakeCertificate(otherDir.path(), QStringLiteral("DNS:other.test"), otherCert, otherKey));
    struct Case {
        const char *mode;
        int security;
        bool trusted;
        bool otherName;
    };
    for (const Case &k : {Case{"starttls", 1, false, false}, Case{"implicit", 2, false, false},
                          Case{"starttls", 1, true, true}}) {
        SCOPED_TRACE(std::string(k.mode) + " trusted " + std::to_string(k.trusted));
        boxes.shown.clear();
        QStringList options = PeerOptions(k.mode);
        if (k.otherName)
            options = {QStringLiteral("--tls"), QString::fromLatin1(k.mode), QStringLiteral("--cert"), otherCert,
                       QStringLiteral("--key"), otherKey};
        SmtpPeer peer(options);
        ASSERT_TRUE(peer.Started());
        TMailBuff mail;
        TSettings s = MailSettings(peer, k.security, k.trusted);
        if (k.otherName)
            s.SMTP_CAFile = otherCert;
        mail.NewSession(s);
        mail.AddMail(Record());
        ASSERT_TRUE(WaitFor([&] { return boxes.shown.size() == 1; }));
        EXPECT_TRUE(boxes.shown[0].text.startsWith(QStringLiteral("Certificate not trusted: ")))
            << boxes.shown[0].text.toStdString();
        EXPECT_TRUE(boxes.shown[0].text.endsWith(QStringLiteral(" could not send mail, check parameters")));
        EXPECT_EQ(mail.WaitingCount(), 1);
        QTest::qWait(200);
        EXPECT_TRUE(peer.EventsOf(QStringLiteral("auth")).isEmpty());
        EXPECT_TRUE(peer.EventsOf(QStringLiteral("mail")).isEmpty());
    }
}

TEST_F(TlsTest, StartTlsRequiredNeverFallsBackToPlainText)
{
    // 7 is no security the console knows: it is taken as STARTTLS required.
    for (int security : {1, 7}) {
        SCOPED_TRACE(security);
        boxes.shown.clear();
        SmtpPeer plain; // offers no STARTTLS
        ASSERT_TRUE(plain.Started());
        TMailBuff mail;
        mail.NewSession(MailSettings(plain, security, true));
        mail.AddMail(Record());
        ASSERT_TRUE(WaitFor([&] { return boxes.shown.size() == 1; }));
        EXPECT_TRUE(boxes.shown[0].text.startsWith(QStringLiteral("STARTTLS not offered by the mail server")));
        QTest::qWait(200);
        EXPECT_TRUE(plain.EventsOf(QStringLiteral("auth")).isEmpty());
        EXPECT_TRUE(plain.EventsOf(QStringLiteral("mail")).isEmpty());
        EXPECT_EQ(mail.WaitingCount(), 1);
    }
}
