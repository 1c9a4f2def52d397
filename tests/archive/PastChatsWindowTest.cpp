// "Past chats" over a real archive: results as the operator types, the
// visitor's text never taken as markup, the chat in the chat window's
// colours, and the transcript and removals going where they should.
#include "PrivatePostgres.h"
#include "RecordingBoxes.h"
#include "TestUtil.h"
#include "archive/ArchiveRecorder.h"
#include "archive/ArchiveSearcher.h"
#include "archive/ui/PastChatsWindow.h"
#include "chat/ChatLines.h"
#include "chat/TransferText.h"
#include "config/Settings.h"
#include "config/ui/SetupDialogs.h"
#include "richtext/RtfWriter.h"
#include "team/TeamArchive.h"
#include "team/TeamReplicator.h"

#include <QFile>
#include <QFileInfo>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextEdit>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

#include <set>

#include <sqlite3.h>

using namespace velmora;
using namespace velmora::test;

namespace {

class PastChatsWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TArchiveDb db;
        ASSERT_EQ(db.Open(path), TArchiveDb::OpenResult::Ok);
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        for (int i = 0; i < 2; ++i) {
            TArchiveChat chat;
            chat.SessionCount = 10 + i;
            chat.Visitor = QStringLiteral("Mia");
            chat.Email = QStringLiteral("mia@example.com");
            chat.Started = now - (2 - i) * 3600000;
            chat.Status = QStringLiteral("End Chat !");
            chat.Open = false;
            const qint64 id = db.InsertChat(chat);
            db.AddLine(id, TArchiveLine::Said(archive::Who::Visitor, chat.Visitor,
                                              QStringLiteral("<b>order</b> %1 <img src=x>").arg(4711 + i)));
            db.AddLine(id, TArchiveLine::Said(archive::Who::Operator, QStringLiteral("Anna"), QStringLiteral("On its way.")));
        }
    }

    QTemporaryDir dir;
    QString path = dir.filePath(QLatin1String(kArchiveFileName));
    TArchiveRecorder recorder{path};
    std::vector<TTranscriptSource> composed;
    TPastChatsWindow window{recorder, [this](const TTranscriptSource &source) { composed.push_back(source); }};
    RecordingBoxes boxes;

    int Rows() const { return window.ResultsModel->rowCount(); }
};

TEST_F(PastChatsWindowTest, TypedWordsFindChatsShownAsTheChatWindowShowsThem)
{
    window.ShowFor(QString());
    ASSERT_TRUE(WaitFor([&] { return Rows() == 2; }));
    // One letter waits for a second one or for Enter.
    QTest::keyClicks(window.SearchEdit, QStringLiteral("q"));
    QTest::qWait(TPastChatsWindow::kSearchDelayMs + 100);
    EXPECT_FALSE(window.Searching());
    EXPECT_EQ(Rows(), 2);
    QTest::keyClick(window.SearchEdit, Qt::Key_Return);
    EXPECT_TRUE(WaitFor([&] { return Rows() == 0 && !window.Searching(); }));
    EXPECT_EQ(window.InfoLabel->text(), QStringLiteral("No past chat matches."));

    window.SearchEdit->setText(QStringLiteral("4712"));
    ASSERT_TRUE(WaitFor([&] { return Rows() == 1; }));
    const QString found =
        window.ResultsModel->index(0, TPastChatsModel::ColFound).data(TPastChatsModel::kMarkupRole).toString();
    // The visitor's tags are text; only the highlight is markup.
    EXPECT_TRUE(found.contains(QStringLiteral("&lt;b&gt;order&lt;/b&gt;"))) << found.toStdString();
    EXPECT_TRUE(found.contains(QStringLiteral(">4712</b>"))) << found.toStdString();

    const QTextDocument &shown = *window.ChatView->document();
    EXPECT_EQ(shown.firstBlock().text(), QStringLiteral("Mia: <b>order</b> 4712 <img src=x>"));
    QTextCursor name(shown.firstBlock());
    name.movePosition(QTextCursor::NextCharacter);
    EXPECT_EQ(name.charFormat().foreground().color(), ColorFromSetting(Settings().UserNameColor));
    EXPECT_TRUE(shown.toPlainText().contains(QStringLiteral("Anna: On its way.")));

    // Newest first without words, and the hostile ones find nothing quietly.
    window.SearchEdit->setText(QString());
    window.SearchNow();
    ASSERT_TRUE(WaitFor([&] { return Rows() == 2; }));
    window.SearchEdit->setText(QStringLiteral("\"order NEAR( -*"));
    window.SearchNow();
    EXPECT_TRUE(WaitFor([&] { return Rows() == 0; }));
    EXPECT_TRUE(boxes.shown.isEmpty());
}

// A transferred-in conversation is kept as its speakers' lines: a paragraph is
// a speaker's only under a name the console knows; the rest is the console's
// own, shown in the chat window's grey.
TEST(PastChatRendering, ATransferredConversationKeepsItsSpeakersAndSystemLinesAreGrey)
{
    QTextDocument carried;
    QTextCursor cursor(&carried);
    cursor.insertText(TransferHeaderLines(QStringLiteral("10:00"), QStringLiteral("10:05"), QStringLiteral("Ben"))
                          .join(QChar::ParagraphSeparator)
                      + QStringLiteral("Mia: where is order 4711?\nBen: let me look\nChris: I am not known\n")
                      + QString::fromLatin1(kTransferEndLine));
    QString from;
    QTextDocument received;
    int paragraphs = 0;
    InsertReceivedConversation(received, DocumentToRtf(carried), {}, &paragraphs);
    const std::vector<TArchiveLine> lines =
        CarriedLines(received, paragraphs, QStringLiteral("Mia"), QStringLiteral("Anna"), &from);
    EXPECT_EQ(from, QStringLiteral("Ben"));
    std::vector<std::pair<archive::Who, QString>> kept;
    for (const TArchiveLine &line : lines)
        kept.emplace_back(line.From, line.Name + QLatin1Char('|') + line.Text);
    const std::vector<std::pair<archive::Who, QString>> expected{
        {archive::Who::System, QStringLiteral("|----------------------------------------------")},
        {archive::Who::System, QStringLiteral("|Chat Started at: 10:00")},
        {archive::Who::System, QStringLiteral("|Chat Transfered at: 10:05")},
        {archive::Who::System, QStringLiteral("|Support Person: Ben")},
        {archive::Who::System, QStringLiteral("|Start Chat Transcript -------------------------")},
        {archive::Who::Visitor, QStringLiteral("Mia|where is order 4711?")},
        {archive::Who::OtherSupporter, QStringLiteral("Ben|let me look")},
        {archive::Who::System, QStringLiteral("|Chris: I am not known")},
        {archive::Who::System, QLatin1Char('|') + QString::fromLatin1(kTransferEndLine)},
    };
    EXPECT_EQ(kept, expected);

    QTextDocument shown;
    RenderPastChat(shown, lines);
    QTextCursor header(shown.firstBlock());
    header.movePosition(QTextCursor::NextCharacter);
    EXPECT_EQ(header.charFormat().foreground().color(), kSystemGrey);
}

TEST_F(PastChatsWindowTest, TranscriptGoesToTheQueueAndRemovalsAskFirst)
{
    window.ShowFor(QStringLiteral("MIA@example"));
    ASSERT_TRUE(WaitFor([&] { return Rows() == 2; }));
    window.SendAgainBtn->click();
    ASSERT_EQ(composed.size(), 1u);
    EXPECT_EQ(composed[0].Email, QStringLiteral("mia@example.com"));
    EXPECT_EQ(composed[0].SessionCount, 11);
    EXPECT_TRUE(composed[0].Conversation.startsWith("{\\rtf1"));
    // The chat on screen, under the transcript's header.
    const QByteArray &rtf = composed[0].Conversation;
    EXPECT_TRUE(rtf.contains("On its way.") && rtf.contains("4712") && !rtf.contains("4711"));
    EXPECT_LT(rtf.indexOf("General Info:"), rtf.indexOf("4712"));
    EXPECT_GE(rtf.indexOf("General Info:"), 0);

    boxes.answers = {BoxAnswer::No};
    window.DeleteBtn->click();
    window.ForgetBtn->click(); // answered Yes
    ASSERT_EQ(boxes.shown.size(), 2);
    // Removing data is never the default answer, and the question says how
    // much goes and what stays.
    EXPECT_TRUE(boxes.shown[0].safeDefault && boxes.shown[1].safeDefault);
    EXPECT_TRUE(boxes.shown[1].text.contains(QStringLiteral("all 2 chats with mia@example.com")))
        << boxes.shown[1].text.toStdString();
    EXPECT_TRUE(boxes.shown[1].text.contains(QStringLiteral("session log")));
    EXPECT_TRUE(WaitFor([&] { return Rows() == 0; })) << window.InfoLabel->text().toStdString() << recorder.Healthy();
    EXPECT_TRUE(window.InfoLabel->text().contains(QStringLiteral("2 chat(s) removed")))
        << window.InfoLabel->text().toStdString();
}

// A visitor who gave no address, whose chat runs now, opened from the chat
// (a word left in the search box from before): found, marked as running,
// sent where the operator says, saved in the type chosen, and forgotten by
// name and site.
TEST_F(PastChatsWindowTest, AVisitorWithoutAnAddressIsFoundSentSavedAndForgotten)
{
    class Saving : public ISetupDialogs {
    public:
        QString SaveFileAs(QWidget *, const QString &, const QString &suggested, QString *chosen) override
        {
            offered = suggested;
            *chosen = filter;
            return answer;
        }
        QString offered, filter, answer;
    } saving;
    SetSetupDialogs(&saving);
    {
        TArchiveDb db;
        ASSERT_EQ(db.Open(path), TArchiveDb::OpenResult::Ok);
        TArchiveChat chat;
        chat.SessionCount = 30;
        chat.Visitor = QStringLiteral("Tomas");
        chat.Site = QStringLiteral("shop.example");
        chat.Started = QDateTime::currentMSecsSinceEpoch() - 60000;
        chat.Supporter = QStringLiteral("Anna");
        db.AddLine(db.InsertChat(chat), TArchiveLine::Said(archive::Who::Visitor, chat.Visitor, QStringLiteral("hi")));
        chat.Site = QStringLiteral("other.example"); // another Tomas, elsewhere
        db.InsertChat(chat);
    }
    window.SearchEdit->setText(QStringLiteral("zebra"));
    window.ShowFor(QStringLiteral("Tomas"));
    EXPECT_TRUE(window.SearchEdit->text().isEmpty());
    ASSERT_TRUE(WaitFor([&] { return Rows() == 2; }));
    window.OpenRow(0);
    EXPECT_TRUE(window.InfoLabel->text().contains(QStringLiteral("(running)")));
    EXPECT_FALSE(window.InfoLabel->text().contains(QStringLiteral("not ended properly")));
    for (int i = 0; !window.InfoLabel->text().contains(QStringLiteral("shop.example")) && i < 2; ++i)
        window.OpenRow(i);

    // Cancelled, a non-address, then an address.
    QStringList asked{QString(), QStringLiteral("x\r\nBcc: a@b"), QStringLiteral("tomas@example.org")};
    window.AskAddress = [&](QWidget *, const QString &visitor) {
        EXPECT_EQ(visitor, QStringLiteral("Tomas"));
        return asked.takeFirst();
    };
    for (int i = 0; i < 3; ++i)
        window.SendAgainBtn->click();
    ASSERT_EQ(composed.size(), 1u);
    EXPECT_EQ(composed[0].Email, QStringLiteral("tomas@example.org"));
    EXPECT_EQ(boxes.shown.size(), 1); // the non-address was refused, said so
    EXPECT_TRUE(window.InfoLabel->text().contains(QStringLiteral("tomas@example.org")));

    // The chosen type decides the format and the extension; a header on top.
    saving.filter = QStringLiteral("Rich text (*.rtf *.RTF)");
    saving.answer = dir.filePath(QStringLiteral("tomas"));
    window.SaveAsBtn->click();
    EXPECT_TRUE(QFileInfo(saving.offered).fileName().startsWith(QStringLiteral("chat_Tomas_")));
    saving.filter = QStringLiteral("Text (*.txt *.TXT)");
    saving.answer = dir.filePath(QStringLiteral("tomas.txt"));
    window.SaveAsBtn->click();
    QFile rtf(dir.filePath(QStringLiteral("tomas.rtf")));
    ASSERT_TRUE(rtf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(rtf.readAll().startsWith("{\\rtf1"));
    QFile text(dir.filePath(QStringLiteral("tomas.txt")));
    ASSERT_TRUE(text.open(QIODevice::ReadOnly));
    const QString saved = QString::fromUtf8(text.readAll());
    for (const char *part : {"Visitor: Tomas", "Site: shop.example", "Support Person: Anna", "Tomas: hi"})
        EXPECT_TRUE(saved.contains(QLatin1String(part))) << part << saved.toStdString();
    EXPECT_LT(saved.indexOf(QStringLiteral("Visitor: Tomas")), saved.indexOf(QStringLiteral("Tomas: hi")));
    SetSetupDialogs(nullptr);

    ASSERT_TRUE(window.ForgetBtn->isEnabled());
    window.ForgetBtn->click(); // answered Yes
    EXPECT_TRUE(boxes.shown.last().text.contains(QStringLiteral("the 1 chat with Tomas on shop.example")))
        << boxes.shown.last().text.toStdString();
    ASSERT_TRUE(WaitFor([&] { return window.InfoLabel->text().contains(QStringLiteral("chat(s) removed")); }))
        << window.InfoLabel->text().toStdString();
    // The other site's Tomas stays.
    EXPECT_TRUE(WaitFor([&] {
        for (int row = 0; row < Rows(); ++row)
            if (window.ResultsModel->Hit(row)->Site == QStringLiteral("other.example"))
                return true;
        return false;
    }));
}

// Many results come a page at a time, and a long chat is laid out a part at
// a time yet copied whole.
TEST_F(PastChatsWindowTest, ResultsComeInPagesAndALongChatIsCopiedWhole)
{
    {
        TArchiveDb db;
        ASSERT_TRUE(db.OpenReader(path, 1000));
        sqlite3 *raw = db.Handle();
        ASSERT_EQ(sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr), SQLITE_OK);
        TArchiveChat chat;
        chat.Open = false;
        for (int i = 0; i < 250; ++i) {
            chat.Started = QDateTime::currentMSecsSinceEpoch() - 100000000 + i;
            chat.Visitor = QStringLiteral("Paged %1").arg(i);
            const qint64 id = db.InsertChat(chat);
            for (int n = 0; n < (i == 249 ? 300 : 1); ++n)
                db.AddLine(id, TArchiveLine::Said(archive::Who::Visitor, chat.Visitor, QStringLiteral("pageword %1").arg(n)));
        }
        ASSERT_EQ(sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    }
    window.ShowFor(QString());
    window.SearchEdit->setText(QStringLiteral("pageword"));
    window.SearchNow();
    // The view asks for the pages it shows; each chat comes once.
    ASSERT_TRUE(WaitFor([&] { return Rows() >= TArchiveSearcher::kPageSize; }));
    window.Results->scrollToBottom();
    ASSERT_TRUE(WaitFor([&] {
        window.Results->scrollToBottom();
        return Rows() == 250;
    }));
    std::set<qint64> chats;
    for (int row = 0; row < Rows(); ++row)
        chats.insert(window.ResultsModel->Hit(row)->Chat);
    EXPECT_EQ(chats.size(), 250u);
    // The newest, with its 300 lines, is open; laid out a part at a time,
    // it is copied whole.
    window.CopyClick();
    EXPECT_EQ(QGuiApplication::clipboard()->text().count(QStringLiteral("pageword")), 300);
    EXPECT_FALSE(window.ResultsModel->canFetchMore({}));
}

} // namespace

TEST_F(PastChatsWindowTest, TheTeamScopeFindsAColleaguesChatAndOpensIt)
{
    PrivatePostgres server;
    if (!server.Init() || !server.Start())
        GTEST_SKIP() << "no PostgreSQL server to run here";
    // Bert's console sent a chat that this one never had.
    const QString bertPath = dir.filePath(QStringLiteral("bert.db"));
    {
        TArchiveDb bert;
        ASSERT_EQ(bert.Open(bertPath), TArchiveDb::OpenResult::Ok);
        TArchiveChat chat;
        chat.Visitor = QStringLiteral("Noor");
        chat.Supporter = QStringLiteral("Bert");
        chat.Started = QDateTime::currentMSecsSinceEpoch() - 60000;
        const qint64 id = bert.InsertChat(chat);
        bert.AddLine(id, TArchiveLine::Said(archive::Who::Visitor, chat.Visitor, QStringLiteral("my parcel is <b>late</b>")));
        bert.EndChat(id, chat.Started + 1000, QStringLiteral("End Chat !"));
        TTeamReplicator sends(bertPath, server.Connection(), QStringLiteral("desk"));
        ASSERT_TRUE(sends.WaitSettled(30000)) << sends.Problem().toStdString();
    }
    TTeamArchive team(path);
    SetTeamArchive(&team);
    team.Configure(server.Connection(), QStringLiteral("desk"));
    window.ShowFor(QString());
    window.ScopeBox->setCurrentIndex(1);
    QTest::keyClicks(window.SearchEdit, QStringLiteral("parcel"));
    EXPECT_TRUE(WaitFor([&] { return Rows() == 1 && !window.Searching(); }, 30000));
    window.Results->setCurrentIndex(window.ResultsModel->index(0, 0));
    EXPECT_TRUE(WaitFor([&] { return window.ChatView->toPlainText().contains(QStringLiteral("my parcel is <b>late</b>")); }, 30000));
    EXPECT_TRUE(window.InfoLabel->text().contains(QStringLiteral("with Bert")));
    // A colleague's chat is not this console's to delete.
    EXPECT_FALSE(window.DeleteBtn->isEnabled());
    EXPECT_TRUE(window.ForgetBtn->isEnabled());
    // Back on this computer: its own two chats, none of Bert's.
    window.ScopeBox->setCurrentIndex(0);
    window.SearchEdit->clear();
    EXPECT_TRUE(WaitFor([&] { return Rows() == 2 && !window.Searching(); }, 30000));
    SetTeamArchive(nullptr);
}
