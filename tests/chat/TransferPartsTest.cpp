// The online-supporters dialog and the conversation's transfer header, end
// line and received part.
#include "chat/ChatLines.h"
#include "chat/OnlineSupportersDlg.h"
#include "chat/TransferText.h"
#include "richtext/RtfWriter.h"
#include "support/RecordingBoxes.h"
#include "support/TestUtil.h"

#include <QApplication>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace velmora::test {
namespace {

QStringList Paragraphs(const QTextDocument &document)
{
    QStringList out;
    for (QTextBlock b = document.begin(); b.isValid(); b = b.next())
        out << b.text();
    return out;
}

QColor ColourOfBlock(const QTextDocument &document, int block)
{
    QTextCursor cursor(document.findBlockByNumber(block));
    cursor.movePosition(QTextCursor::NextCharacter);
    return cursor.charFormat().foreground().color();
}

QList<SupporterRow> TwoSupporters()
{
    return {{QStringLiteral("Anna <b>"), 7}, {QStringLiteral("Bert"), 70000}};
}

TEST(OnlineSupportersDlg, ListsEverySupporterInOrderAsPlainText)
{
    TOnlineSupportersDlg dialog(TwoSupporters());
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Support list in group :"));
    ASSERT_EQ(dialog.SupportListView->topLevelItemCount(), 2);
    EXPECT_EQ(dialog.SupportListView->headerItem()->text(0), QStringLiteral("Supporter Name"));
    EXPECT_EQ(dialog.SupportListView->headerItem()->text(1), QStringLiteral("Remote Port Value"));
    EXPECT_EQ(dialog.SupportListView->topLevelItem(0)->text(0), QStringLiteral("Anna <b>"));
    EXPECT_EQ(dialog.SupportListView->topLevelItem(1)->text(1), QStringLiteral("70000"));
    EXPECT_TRUE(dialog.OpenBtn->isDefault());
    // Who is free is what the operator reads: the names take the width.
    dialog.show();
    EXPECT_GT(dialog.SupportListView->columnWidth(0), 2 * dialog.SupportListView->columnWidth(1));
}

TEST(OnlineSupportersDlg, OpenWithoutSelectionComplainsAndStaysOpenThenTakesTheChosenRow)
{
    RecordingBoxes boxes;
    TOnlineSupportersDlg dialog(TwoSupporters());
    dialog.show();
    dialog.OpenSelectedClick();
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("No supporter was selected, select one or click the Cancel button"));
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Error"));
    EXPECT_EQ(boxes.shown[0].icon, BoxIcon::None);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.Chosen(), -1);

    dialog.SupportListView->setCurrentItem(dialog.SupportListView->topLevelItem(1));
    dialog.OpenSelectedClick();
    EXPECT_EQ(dialog.Chosen(), 1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(OnlineSupportersDlg, ChooseGivesMinusOneOnCancelAndTheRowOnOpen)
{
    auto answer = [](bool open) {
        QTimer::singleShot(0, [open] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *dialog = qobject_cast<TOnlineSupportersDlg *>(w);
                if (!dialog || !dialog->isVisible())
                    continue;
                if (open) {
                    dialog->SupportListView->setCurrentItem(dialog->SupportListView->topLevelItem(0));
                    dialog->OpenBtn->click();
                } else {
                    dialog->CancelBtn->click();
                }
            }
        });
    };
    answer(false);
    EXPECT_EQ(TOnlineSupportersDlg::Choose(TwoSupporters()), -1);
    answer(true);
    EXPECT_EQ(TOnlineSupportersDlg::Choose(TwoSupporters()), 0);
}

TEST(OnlineSupportersDlg, AnAnswerOutsideTheListCountsAsCancel)
{
    RecordingBoxes boxes;
    boxes.choices = {5, -3, 1};
    EXPECT_EQ(ChooseOnlineSupporter(TwoSupporters(), {}), -1);
    EXPECT_EQ(ChooseOnlineSupporter(TwoSupporters(), {}), -1);
    EXPECT_EQ(ChooseOnlineSupporter(TwoSupporters(), {}), 1);
    EXPECT_EQ(boxes.choiceRows.size(), 3);
}

TEST(TransferText, HeaderGoesAboveTheConversationInGreenAndLeavesItsColours)
{
    QTextDocument document;
    QTextCharFormat base;
    AppendChatLine(document, QStringLiteral("Eve: hi"), Qt::blue, 4, Qt::red, base, false);
    InsertTransferHeader(document, TransferHeaderLines(QStringLiteral("10:00:00"), QStringLiteral("10:05:00"),
                                                       QStringLiteral("Anna")),
                         base);
    AppendTransferEnd(document, base, false);

    const QStringList expected{
        QStringLiteral("----------------------------------------------"),
        QStringLiteral("Chat Started at: 10:00:00"),
        QStringLiteral("Chat Transfered at: 10:05:00"),
        QStringLiteral("Support Person: Anna"),
        QString(),
        QStringLiteral("Start Chat Transcript -------------------------"),
        QString(),
        QString(),
        QStringLiteral("Eve: hi"),
        QStringLiteral("End transfer chat transcript ------------------------------"),
        QString(),
    };
    EXPECT_EQ(Paragraphs(document), expected);
    for (int block : {0, 1, 2, 3, 5, 9})
        EXPECT_EQ(ColourOfBlock(document, block), kNoticeGreen) << block;
    EXPECT_EQ(ColourOfBlock(document, 8), QColor(Qt::blue));
}

// Found by their marks, not by where they were: lines that came meanwhile,
// above and below, stay when the transfer's lines go.
TEST(TransferText, TheTransfersOwnLinesAreFoundWhereverTheConversationMoved)
{
    QTextDocument document;
    AppendChatLine(document, QStringLiteral("Eve: hi"), Qt::blue, 4, Qt::red, {}, false);
    InsertTransferHeader(document, TransferHeaderLines(QStringLiteral("10:00"), QStringLiteral("10:05"),
                                                       QStringLiteral("Anna")),
                         {});
    AppendTransferEnd(document, {}, false);
    EXPECT_FALSE(KeepTransferEndLast(document, {}, false));
    AppendChatLine(document, QStringLiteral("Eve: still there?"), Qt::blue, 4, Qt::red, {}, false);
    EXPECT_TRUE(KeepTransferEndLast(document, {}, false));
    EXPECT_EQ(Paragraphs(document).mid(8),
              (QStringList{QStringLiteral("Eve: hi"), QStringLiteral("Eve: still there?"),
                           QString::fromLatin1(kTransferEndLine), QString()}));

    QTextDocument earlier;
    AppendChatLine(earlier, QStringLiteral("Carl: before"), Qt::blue, 5, Qt::red, {}, false);
    InsertReceivedConversation(document, DocumentToRtf(earlier), {});
    RemoveTransferLines(document);
    const QStringList conversation{QStringLiteral("Carl: before"), QStringLiteral("Eve: hi"),
                                   QStringLiteral("Eve: still there?")};
    EXPECT_EQ(Paragraphs(document), conversation);
    RemoveTransferLines(document);
    EXPECT_EQ(Paragraphs(document), conversation);
    EXPECT_EQ(ReceivedParagraphs(document), 1);
    RemoveReceivedConversation(document);
    EXPECT_EQ(Paragraphs(document), conversation.mid(1));
    EXPECT_EQ(ReceivedParagraphs(document), 0);
}

TEST(TransferText, EndLineTakesTheExtraEmptyLines)
{
    QTextDocument document;
    AppendChatLine(document, QStringLiteral("A: x"), Qt::blue, 2, Qt::red, {}, true);
    AppendTransferEnd(document, {}, true);
    EXPECT_EQ(Paragraphs(document),
              (QStringList{QStringLiteral("A: x"), QString(), QString::fromLatin1(kTransferEndLine), QString(),
                           QString(), QString()}));
}

TEST(TransferText, ReceivedConversationComesAboveTheNewLinesWithItsColours)
{
    // What the transferring console writes...
    QTextDocument sent;
    AppendChatLine(sent, QStringLiteral("Eve: hello"), Qt::blue, 4, Qt::red, {}, false);
    AppendTransferEnd(sent, {}, false);
    const QByteArray rtf = DocumentToRtf(sent);

    // ...arrives in a window that already wrote its greeting.
    QTextDocument received;
    AppendChatLine(received, QStringLiteral("You are now chatting with Eve."), kNoticeGreen, 0, kNoticeGreen, {},
                   false);
    EXPECT_TRUE(InsertReceivedConversation(received, rtf, {}));
    const QStringList paragraphs = Paragraphs(received);
    ASSERT_GE(paragraphs.size(), 3);
    EXPECT_EQ(paragraphs.first(), QStringLiteral("Eve: hello"));
    EXPECT_EQ(paragraphs.last(), QStringLiteral("You are now chatting with Eve."));
    EXPECT_TRUE(paragraphs.contains(QString::fromLatin1(kTransferEndLine)));
    EXPECT_EQ(ColourOfBlock(received, 0), QColor(Qt::blue));
}

TEST(TransferText, BrokenOrHostileConversationShowsWhatCouldBeRead)
{
    QTextDocument document;
    AppendChatLine(document, QStringLiteral("new line"), Qt::blue, 0, Qt::blue, {}, false);
    EXPECT_FALSE(InsertReceivedConversation(document, QByteArrayLiteral("{\\rtf1 Eve: <b>half"), {}));
    EXPECT_EQ(Paragraphs(document).first(), QStringLiteral("Eve: <b>half"));
    EXPECT_EQ(Paragraphs(document).last(), QStringLiteral("new line"));

    // Deep nesting and a megabyte of garbage: no crash, the newest line stays last.
    QByteArray deep = "{\\rtf1 " + QByteArray(100000, '{') + "x";
    InsertReceivedConversation(document, deep, {});
    InsertReceivedConversation(document, QByteArray(1 << 20, '\\'), {});
    EXPECT_EQ(Paragraphs(document).last(), QStringLiteral("new line"));

    // A megabyte of one word is shown only in part, and says so.
    QTextDocument word;
    EXPECT_FALSE(InsertReceivedConversation(word, "{\\rtf1 " + QByteArray(1 << 20, 'w') + "}", {}));
    EXPECT_EQ(Paragraphs(word).last(), QString::fromLatin1(kReceivedCutLine));
    EXPECT_LT(word.characterCount(), 200 * 1024);
}

// A conversation is shown a piece per pass of the event loop, so that no
// peer's conversation holds the window up; what the window writes meanwhile
// stays below it, and in the end it reads as if shown in one go.
TEST(TransferText, ReceivedConversationIsShownAPieceAtATime)
{
    QByteArray rtf = "{\\rtf1 \\fs2000 ";
    for (int i = 0; i < 15000; ++i)
        rtf += "x ";
    rtf += "\\par\\fs3276 last}";
    QTextDocument once;
    InsertReceivedConversation(once, rtf, {});

    QTextDocument shown;
    TReceivedConversation pieces(shown);
    int passes = 0;
    bool whole = false;
    pieces.Show(rtf, {}, true, [&](bool done) {
        ++passes;
        whole = done;
    });
    EXPECT_FALSE(whole);
    EXPECT_LE(shown.characterCount(), TReceivedConversation::kPieceChars + 8);
    EXPECT_EQ(pieces.ReadParagraphs(), 2) << "the archive has it all at once";
    AppendChatLine(shown, QStringLiteral("Eve: still there?"), Qt::blue, 4, Qt::red, {}, false);
    // The window's first look puts its notice right below the received part.
    QTextCursor notice(shown.findBlockByNumber(ReceivedParagraphs(shown)));
    notice.insertText(QStringLiteral("notice"));
    notice.insertBlock();
    ASSERT_TRUE(WaitFor([&] { return whole; }));
    EXPECT_GE(passes, 30000 / TReceivedConversation::kPieceChars);

    QStringList paragraphs = Paragraphs(shown);
    EXPECT_EQ(paragraphs.takeLast(), QStringLiteral("Eve: still there?"));
    EXPECT_EQ(paragraphs.takeLast(), QStringLiteral("notice"));
    EXPECT_EQ(paragraphs.join(QString()), Paragraphs(once).join(QString()));
    EXPECT_EQ(ReceivedParagraphs(shown), paragraphs.size());
    for (QTextBlock block = shown.begin(); block.isValid(); block = block.next()) {
        EXPECT_LE(block.length(), TReceivedConversation::kShownParagraphChars + 1);
        for (auto it = block.begin(); !it.atEnd(); ++it)
            EXPECT_LE(it.fragment().charFormat().fontPointSize(), 36.0);
    }

    // A copy sent again while the first is still coming replaces it; an
    // empty document gets no empty paragraph below it.
    QTextDocument again;
    TReceivedConversation twice(again);
    twice.Show(rtf, {}, true);
    twice.Show("{\\rtf1 Eve: hello\\par Anna: hi}", {}, true);
    ASSERT_TRUE(WaitFor([&] { return !twice.Showing(); }));
    EXPECT_EQ(Paragraphs(again), (QStringList{QStringLiteral("Eve: hello"), QStringLiteral("Anna: hi")}));
    EXPECT_EQ(ReceivedParagraphs(again), 2);
}

} // namespace
} // namespace velmora::test
