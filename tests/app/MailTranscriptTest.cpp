// Transcripts through the main window: a finished chat's mail reaches a real
// SMTP server, the debug window follows the settings, and exit asks about
// waiting mails.
#include "app/Servermain.h"

#include "ConsoleFolder.h"

#include "FakeChatServer.h"
#include "RecordingBoxes.h"
#include "SmtpPeer.h"
#include "TestUtil.h"
#include "config/Settings.h"
#include "diag/ui/DebugWinDlg.h"
#include "mail/Mailbuff.h"
#include "mail/Outbox.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QFile>
#include <QProcess>
#include <QStatusBar>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

using namespace velmora;
using namespace velmora::test;

namespace {

class MailTranscriptTest : public ConsoleInFolder {
protected:
    void SetUp() override
    {
        ConsoleInFolder::SetUp();
        QFile t(dir.filePath(QStringLiteral("base_mail.txt")));
        ASSERT_TRUE(t.open(QIODevice::WriteOnly));
        t.write("Dear someone,\r\nThank you.\r\n");
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

    RecordingBoxes boxes;
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
    // Typed wrong in the call list, and no CC address to fall back on.
    form->ComposeTranscript(Source(QStringLiteral("Gus"), QStringLiteral("not an email")));
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
    EXPECT_TRUE(QDir(dir.filePath(QStringLiteral("outbox"))).entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.Texts().join('|').toStdString();
    // One log line per mail sent.
    QFile log(dir.filePath(QStringLiteral("Velmora.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("  Transcript for chat with Eve sent to eve@example.org\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("  Transcript for chat with Fay sent to fay@example.org\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("  Transcript for chat with Gus not sent: 'not an email' is not an "
                                             "e-mail address, and there is no CC address; it is kept in ")));
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("outbox/failed"))).entryList({QStringLiteral("*.mail")}).size(), 1);
    EXPECT_FALSE(form->MailStatusLabel()->isHidden());
    EXPECT_EQ(form->MailStatusLabel()->text(), QStringLiteral("Mail: 0 waiting, 1 not sent"));
    EXPECT_TRUE(form->statusBar()->currentMessage().startsWith(QStringLiteral("Transcript for chat with Gus not sent")));
    EXPECT_TRUE(form->MailStatusLabel()->toolTip().contains(QStringLiteral("'not an email' is not an e-mail address")));
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
    // The status bar tells, the tooltip names the error.
    EXPECT_FALSE(form->MailStatusLabel()->isHidden());
    EXPECT_EQ(form->MailStatusLabel()->text(), QStringLiteral("Mail: 1 waiting"));
    EXPECT_TRUE(form->MailStatusLabel()->toolTip().startsWith(QStringLiteral("Last error: Connection refused")));
    EXPECT_EQ(boxes.notices.size(), 1); // told without holding anything up

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
    // OK keeps the waiting mail for the next run.
    const QDir outbox(dir.filePath(QStringLiteral("outbox")));
    EXPECT_EQ(outbox.entryList({QStringLiteral("*.mail")}).size(), 1);
    EXPECT_EQ(outbox.entryList({QStringLiteral("*.rtf")}).size(), 1);
}

TEST_F(MailTranscriptTest, ConnectingToTheChatServerStartsANewMailSessionThatRetries)
{
    quint16 port = 0;
    {
        SmtpPeer gone;
        port = gone.Port();
    }
    FakeChatServer chat;
    WriteIni(port, QStringLiteral("DebugMail=true\r\n\r\n[ProgramIP_Options]\r\nClientID=acme\r\nWebSiteUrl=127.0.0.1\r\n"
                                  "WebListenPort=%1\r\n")
                       .arg(chat.Port()));
    form = std::make_unique<TMainForm>();
    form->ComposeTranscript(Source(QStringLiteral("Eve"), QStringLiteral("eve@example.org")));
    ASSERT_TRUE(WaitFor([&] { return boxes.shown.size() == 1; }));
    SmtpPeer peer({QStringLiteral("--port"), QString::number(port)});
    ASSERT_TRUE(peer.Started());
    form->Session().WebSbtnClick();
    ASSERT_TRUE(peer.WaitForEvent(QStringLiteral("data"))) << boxes.Texts().join('|').toStdString() << " connected "
                                                           << form->Session().ConnectRequested();
    EXPECT_EQ(form->DebugWindow()->Lines().value(0), QStringLiteral("Start new session"));
    EXPECT_EQ(boxes.shown.size(), 1) << boxes.Texts().join('|').toStdString();
}

TEST_F(MailTranscriptTest, MailSendViewOpensFromTheMenuAtAnyTime)
{
    WriteIni(25);
    form = std::make_unique<TMainForm>();
    ASSERT_FALSE(form->DebugWindow()->isVisible());
    EXPECT_TRUE(form->MailStatusLabel()->isHidden());
    form->MailSendViewAction()->trigger();
    EXPECT_TRUE(form->DebugWindow()->isVisible());
}

TEST_F(MailTranscriptTest, DebugMailShowsTheWindowAtStartWithANewSession)
{
    WriteIni(25, QStringLiteral("DebugMail=true\r\n"));
    form = std::make_unique<TMainForm>();
    ASSERT_NE(form->DebugWindow(), nullptr);
    EXPECT_TRUE(form->DebugWindow()->isVisible());
    EXPECT_EQ(form->DebugWindow()->Lines(), QStringList{"Start new session"});
}

#ifdef VELMORA_BINARY
TEST_F(MailTranscriptTest, KilledConsoleDeliversItsWaitingTranscriptsAfterTheRestartOnceEach)
{
    quint16 port = 0;
    {
        SmtpPeer gone;
        port = gone.Port();
    }
    WriteIni(port);
    // Two transcripts waiting, stored as the console stores them.
    TOutbox outbox(dir.filePath(QStringLiteral("outbox")));
    for (const char *name : {"Ann", "Bob"}) {
        TMailRecord r;
        r.Subject = QStringLiteral("Transcript for chat with ") + QLatin1String(name);
        r.FromAddr = QStringLiteral("support@v.test");
        r.ToAddr = QLatin1String(name).toString().toLower() + QStringLiteral("@x.test");
        r.ClientName = QLatin1String(name);
        r.MailBody = {QStringLiteral("Dear ") + QLatin1String(name) + QLatin1Char(',')};
        r.AttachName = QStringLiteral("Chat0.rtf");
        QString error;
        ASSERT_TRUE(outbox.Store(r, "{\\rtf1 hi}", &error));
    }
    auto start = [&](QProcess &console) {
        console.setWorkingDirectory(dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        console.setProcessEnvironment(env);
        console.start(QStringLiteral(VELMORA_BINARY), {});
        return console.waitForStarted(5000);
    };
    auto logText = [&] {
        QFile f(dir.filePath(QStringLiteral("Velmora.log")));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    };

    // The mail server is down: the console tries, fails, and is killed.
    QProcess first;
    ASSERT_TRUE(start(first));
    ASSERT_TRUE(WaitFor([&] { return logText().contains(QStringLiteral("Transcript for chat with Ann not sent")); },
                        15000));
    ::kill(pid_t(first.processId()), SIGKILL);
    ASSERT_TRUE(first.waitForFinished(5000));
    EXPECT_EQ(QDir(outbox.Folder()).entryList({QStringLiteral("*.mail")}).size(), 2);

    // Server up, console restarted: both go, once each.
    SmtpPeer peer({QStringLiteral("--port"), QString::number(port)});
    ASSERT_TRUE(peer.Started());
    QProcess second;
    ASSERT_TRUE(start(second));
    ASSERT_TRUE(peer.WaitForEvent(QStringLiteral("quit"), 1, 15000));
    ASSERT_TRUE(WaitFor([&] { return QDir(outbox.Folder()).entryList(QDir::Files).isEmpty(); }, 5000));
    ::kill(pid_t(second.processId()), SIGTERM);
    ASSERT_TRUE(second.waitForFinished(10000));
    const auto data = peer.EventsOf(QStringLiteral("data"));
    ASSERT_EQ(data.size(), 2);
    EXPECT_EQ(data[0][QStringLiteral("rcpts")].toVariant().toStringList(), QStringList{"ann@x.test"});
    EXPECT_EQ(data[1][QStringLiteral("rcpts")].toVariant().toStringList(), QStringList{"bob@x.test"});
    EXPECT_TRUE(logText().contains(QStringLiteral("Transcript for chat with Bob sent to bob@x.test")));
}
#endif
