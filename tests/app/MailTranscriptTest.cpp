// Transcripts through the main window: a finished chat's mail reaches a real
// SMTP server, the debug window follows the settings, and exit asks about
// waiting mails.
#include "app/Servermain.h"

#include "RecordingBoxes.h"
#include "SmtpPeer.h"
#include "TestUtil.h"
#include "config/Settings.h"
#include "diag/ui/DebugWinDlg.h"
#include "mail/Mailbuff.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

namespace {

class MailTranscriptTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_oldDir = QDir::currentPath();
        QDir::setCurrent(dir.path());
        Settings() = TSettings();
        QFile t(dir.filePath(QStringLiteral("base_mail.txt")));
        ASSERT_TRUE(t.open(QIODevice::WriteOnly));
        t.write("Dear someone,\r\nThank you.\r\n");
    }
    void TearDown() override
    {
        form.reset();
        QDir::setCurrent(m_oldDir);
        Settings() = TSettings();
    }
    void WriteIni(quint16 smtpPort, const QString &extra = QString())
    {
        QFile f(dir.filePath(QStringLiteral("Velmora.ini")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[ProgramOptions]\r\nSupportName=Dana\r\n\r\n[ProgramMailSettings]\r\n"
                               "EanbelDisableMails=true\r\nSMTP_Server=127.0.0.1\r\nSMTP_Port=%1\r\n"
                               "MailUserID=dana\r\nSupportMailAddr=support@v.test\r\n%2")
                    .arg(smtpPort)
                    .arg(extra)
                    .toLatin1());
    }
    TTranscriptSource Source(const QString &name, const QString &email) const
    {
        TTranscriptSource s;
        s.Name = name;
        s.Email = email;
        s.WarningCaption = QStringLiteral(" Warning for Chat window # 1");
        s.Conversation = "{\\rtf1\\ansi General Info:\\par " + name.toLatin1() + ": hi\\par}";
        return s;
    }

    QTemporaryDir dir;
    RecordingBoxes boxes;
    std::unique_ptr<TMainForm> form;
    QString m_oldDir;
};

} // namespace

TEST_F(MailTranscriptTest, FinishedChatsAreMailedWithTheirConversationAttached)
{
    SmtpPeer peer;
    ASSERT_TRUE(peer.Started());
    WriteIni(peer.Port());
    form = std::make_unique<TMainForm>();
    form->ComposeTranscript(Source(QStringLiteral("Eve"), QStringLiteral("eve@example.org")));
    form->ComposeTranscript(Source(QStringLiteral("Nobody"), QStringLiteral("Not Supplied !")));
    form->ComposeTranscript(Source(QStringLiteral("Fay"), QStringLiteral("fay@example.org")));
    ASSERT_TRUE(peer.WaitForEvent(QStringLiteral("quit")));
    ASSERT_EQ(peer.EventsOf(QStringLiteral("data")).size(), 2);
    const QByteArray second = peer.Message(1);
    EXPECT_TRUE(second.contains("Subject: Transcript for chat with Fay"));
    EXPECT_TRUE(second.contains("Dear Fay,\r\nThank you."));
    // Numbers are used up by every composition, mailed or not.
    EXPECT_TRUE(second.contains("filename=\"Chat2.rtf\""));
    EXPECT_TRUE(second.contains(QByteArray("{\\rtf1\\ansi General Info:\\par Fay: hi\\par}").toBase64().left(40)));
    ASSERT_TRUE(WaitFor([&] { return form->MailBuff()->WaitingCount() == 0; }));
    EXPECT_TRUE(QDir(dir.path()).entryList({QStringLiteral("Chat*.rtf")}).isEmpty());
    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.Texts().join('|').toStdString();
}

TEST_F(MailTranscriptTest, ExitAsksAboutWaitingMailsAndCancelKeepsThem)
{
    quint16 port = 0;
    {
        SmtpPeer gone;
        port = gone.Port();
    }
    WriteIni(port);
    form = std::make_unique<TMainForm>();
    form->ComposeTranscript(Source(QStringLiteral("Eve"), QStringLiteral("eve@example.org")));
    ASSERT_TRUE(WaitFor([&] { return boxes.shown.size() == 1; }));
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral(" SMTP Error !. "));
    EXPECT_EQ(form->MailBuff()->WaitingCount(), 1);

    boxes.answers = {BoxAnswer::Cancel};
    EXPECT_FALSE(form->ExitProcedure(true));
    ASSERT_EQ(boxes.shown.size(), 2);
    EXPECT_EQ(boxes.shown[1].text,
              QStringLiteral("You have waiting mail transcript's, it is advisable to wait for a few \nseconds until "
                             "they are all sent and then exit !. \n\nIf you wish to exit click Ok, else Cancel and "
                             "try again later."));
    EXPECT_EQ(boxes.shown[1].caption, QStringLiteral("Warning"));
    EXPECT_EQ(form->MailBuff()->WaitingCount(), 1);

    EXPECT_TRUE(form->ExitProcedure(true));
    EXPECT_EQ(boxes.shown.size(), 3);
    EXPECT_EQ(form->MailBuff(), nullptr);
    EXPECT_EQ(form->DebugWindow(), nullptr);
}

TEST_F(MailTranscriptTest, DebugMailShowsTheWindowAtStartWithANewSession)
{
    WriteIni(25, QStringLiteral("DebugMail=true\r\n"));
    form = std::make_unique<TMainForm>();
    ASSERT_NE(form->DebugWindow(), nullptr);
    EXPECT_TRUE(form->DebugWindow()->isVisible());
    EXPECT_EQ(form->DebugWindow()->Lines(), QStringList{"Start new session"});
}
