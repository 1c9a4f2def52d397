// Composing a transcript: the letter, the recipients and the attachment file.
#include "RecordingBoxes.h"
#include "config/Settings.h"
#include "mail/Outbox.h"
#include "mail/Transcript.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;

namespace {

class TranscriptTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteTemplate("Hello placeholder\r\nThanks for chatting.\r\n.\r\nSupport\r\n");
        settings.SupportMailAddr = QStringLiteral("support@v.test");
        settings.ReplyToMailAddr = QStringLiteral("reply@v.test");
        settings.CC_MailAddr = QStringLiteral("cc@v.test");
        source.Name = QStringLiteral("Eve");
        source.Email = QStringLiteral("eve@example.org");
        source.WarningCaption = QStringLiteral(" Warning for Chat window # 3");
        source.Conversation = "{\\rtf1 hello}";
    }
    void WriteTemplate(const QByteArray &bytes)
    {
        QFile f(dir.filePath(QStringLiteral("base_mail.txt")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QStringList Files() const { return QDir(dir.path()).entryList({QStringLiteral("Chat*")}, QDir::Files); }

    QTemporaryDir dir;
    RecordingBoxes boxes;
    TSettings settings;
    TTranscriptSource source;
    TTranscriptComposer composer{dir.path()};
};

} // namespace

TEST_F(TranscriptTest, ClientMailWithReplyToAndCcAndTheConversationAttached)
{
    const std::optional<TMailRecord> r = composer.Compose(source, settings);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Subject, QStringLiteral("Transcript for chat with Eve"));
    EXPECT_EQ(r->FromAddr, QStringLiteral("support@v.test"));
    EXPECT_EQ(r->ToAddr, QStringLiteral("eve@example.org"));
    EXPECT_EQ(r->ReplyToAddr, QStringLiteral("reply@v.test"));
    EXPECT_EQ(r->CcAddr, QStringLiteral("cc@v.test"));
    // The template's own first line is replaced, the rest kept as it is.
    EXPECT_EQ(r->MailBody, (QStringList{"Dear Eve,", "Thanks for chatting.", ".", "Support"}));
    EXPECT_EQ(r->AttachName, QStringLiteral("Chat0.rtf"));
    QFile f(r->AttachFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), source.Conversation);
    EXPECT_EQ(composer.ChatFileCount, 1);
}

TEST_F(TranscriptTest, RecipientRules)
{
    // Not supplied, ForceCC off: no mail, no file, the number used up.
    source.Email = QStringLiteral("Not Supplied !");
    EXPECT_FALSE(composer.Compose(source, settings));
    EXPECT_TRUE(Files().isEmpty());
    EXPECT_EQ(composer.ChatFileCount, 1);

    // ForceCC with a CC address: the CC address alone.
    settings.ForceCC = true;
    std::optional<TMailRecord> r = composer.Compose(source, settings);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->ToAddr, QStringLiteral("cc@v.test"));
    EXPECT_TRUE(r->ReplyToAddr.isEmpty());
    EXPECT_TRUE(r->CcAddr.isEmpty());
    EXPECT_EQ(r->AttachName, QStringLiteral("Chat1.rtf"));

    // A handed-over chat is mailed by the other console, ForceCC or not.
    source.Email = QStringLiteral("eve@example.org");
    source.HandedOver = true;
    EXPECT_FALSE(composer.Compose(source, settings));

    // Text that is no address (here one that would inject a recipient) is
    // never used, but the transcript still goes to the CC address, which
    // would have had its copy anyway, and the operator is told.
    source.HandedOver = false;
    settings.ForceCC = false;
    QStringList told;
    composer.OnAddressProblem = [&](const QString &text, bool notSent) {
        told << text + (notSent ? QStringLiteral(" [not sent]") : QString());
    };
    source.Email = QStringLiteral("a@b.c>\r\nRCPT TO:<x@y.z>");
    r = composer.Compose(source, settings);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->ToAddr, QStringLiteral("cc@v.test"));
    EXPECT_TRUE(r->CcAddr.isEmpty());
    ASSERT_EQ(told.size(), 1);
    EXPECT_EQ(told[0], QStringLiteral("Transcript for chat with Eve sent to the CC address only: 'a@b.c>  RCPT "
                                      "TO:<x@y.z>' is not an e-mail address"));
    source.Email = QStringLiteral("  eve@example.org ");
    r = composer.Compose(source, settings);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->ToAddr, QStringLiteral("eve@example.org"));
    EXPECT_EQ(composer.ChatFileCount, 5);
    EXPECT_EQ(told.size(), 1);
    EXPECT_TRUE(boxes.shown.isEmpty());

    // Without a CC address it cannot go anywhere: kept in the failed folder
    // with the reason, never dropped without a word.
    TOutbox outbox(dir.filePath(QStringLiteral("outbox")));
    TTranscriptComposer stored(dir.path(), &outbox);
    stored.OnAddressProblem = composer.OnAddressProblem;
    settings.CC_MailAddr.clear();
    source.Email = QStringLiteral("not an email");
    EXPECT_FALSE(stored.Compose(source, settings));
    ASSERT_EQ(told.size(), 2);
    EXPECT_TRUE(told[1].startsWith(QStringLiteral("Transcript for chat with Eve not sent: 'not an email' is not an "
                                                  "e-mail address, and there is no CC address; it is kept in ")));
    EXPECT_TRUE(told[1].endsWith(QStringLiteral(" [not sent]")));
    EXPECT_EQ(outbox.Count(), 0);
    const QDir failed(outbox.FailedFolder());
    ASSERT_EQ(failed.entryList({QStringLiteral("*.mail")}).size(), 1);
    EXPECT_EQ(failed.entryList({QStringLiteral("*.rtf")}).size(), 1);
    QFile record(failed.filePath(failed.entryList({QStringLiteral("*.mail")})[0]));
    ASSERT_TRUE(record.open(QIODevice::ReadOnly));
    const QByteArray json = record.readAll();
    EXPECT_TRUE(json.contains("\"ToAddr\": \"not an email\""));
    EXPECT_TRUE(json.contains("is not an e-mail address, and there is no CC address"));

    // A full outbox keeps the new transcript aside too, with the reason, and
    // tells without a box.
    outbox.MaxMails = 0;
    source.Email = QStringLiteral("eve@example.org");
    EXPECT_FALSE(stored.Compose(source, settings));
    ASSERT_EQ(told.size(), 3);
    EXPECT_TRUE(told[2].startsWith(QStringLiteral("Transcript for chat with Eve: The mail outbox is full (0 "
                                                  "transcripts")));
    EXPECT_TRUE(told[2].endsWith(QStringLiteral(" It is kept in ") + outbox.FailedFolder() + QStringLiteral(" [not sent]")));
    EXPECT_TRUE(boxes.shown.isEmpty());
    ASSERT_EQ(failed.entryList({QStringLiteral("*.rtf")}).size(), 2);
    bool found = false;
    for (const QString &name : failed.entryList({QStringLiteral("*.mail")})) {
        QFile f(failed.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray text = f.readAll();
        found = found || (text.contains("\"ToAddr\": \"eve@example.org\"") && text.contains("The mail outbox is full"));
    }
    EXPECT_TRUE(found);
}

TEST_F(TranscriptTest, TemplateEdgeCases)
{
    // An empty template is the greeting alone; the name cannot start a line.
    WriteTemplate("");
    source.Name = QStringLiteral("Eve\r\nBcc: x");
    std::optional<TMailRecord> r = composer.Compose(source, settings);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->MailBody, QStringList{"Dear Eve  Bcc: x,"});
    EXPECT_EQ(r->Subject, QStringLiteral("Transcript for chat with Eve  Bcc: x"));

    // UTF-8 is read as UTF-8, anything else as Latin-1.
    WriteTemplate("x\nGr\xc3\xbc\xc3\x9f\xc3\xa9\n");
    r = composer.Compose(source, settings);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->MailBody.value(1), QStringLiteral("Gr\u00fc\u00df\u00e9"));
    WriteTemplate("x\nGr\xfc\xdf\n");
    r = composer.Compose(source, settings);
    EXPECT_EQ(r->MailBody.value(1), QStringLiteral("Gr\u00fc\u00df"));

    // Missing: the chat's box, no mail, no number used.
    QFile::remove(dir.filePath(QStringLiteral("base_mail.txt")));
    const int count = composer.ChatFileCount;
    EXPECT_FALSE(composer.Compose(source, settings));
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("base_mail.txt file missing, cannot send chat transcript"));
    EXPECT_EQ(boxes.shown[0].caption, source.WarningCaption);
    EXPECT_EQ(boxes.shown[0].icon, BoxIcon::Warning);
    EXPECT_EQ(composer.ChatFileCount, count);
}
