// The transcript's header block above the conversation.
#include "mail/Transcript.h"
#include "richtext/HeaderLines.h"
#include "richtext/RtfWriter.h"
#include "richtext/TranscriptDocument.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <gtest/gtest.h>

using namespace velmora;

TEST(TranscriptHeader, GoesOnTopInGreenInTheDefaultFont)
{
    QTextDocument doc;
    QFont font(QStringLiteral("Sans"), 13);
    doc.setDefaultFont(font);
    QTextCursor c(&doc);
    QTextCharFormat red;
    red.setForeground(Qt::red);
    red.setFontWeight(QFont::Bold);
    c.insertText(QStringLiteral("Eve: hi"), red);
    const QStringList header = TranscriptHeaderLines(
        {QStringLiteral("eve@x.test"), QStringLiteral("10:00"), QStringLiteral("10:05"), QStringLiteral("Dana")});
    // Built on a copy, the conversation shown stays as it was, and the mail
    // gets the same bytes as from the header put into the conversation itself.
    const std::unique_ptr<QTextDocument> transcript = TranscriptDocument(doc, header, QColor(0, 128, 0));
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("Eve: hi"));
    InsertHeaderLines(doc, header, QColor(0, 128, 0));
    EXPECT_EQ(DocumentToRtf(*transcript), DocumentToRtf(doc));
    const QStringList lines = doc.toPlainText().split(QLatin1Char('\n'));
    EXPECT_EQ(lines, (QStringList{"General Info:", "  Client e-mail address:  eve@x.test", "  Chat Started at: 10:00",
                                  "  Chat Ended at: 10:05", "  Support Person: Dana", "", "", "Chat Transcript:", "",
                                  "Eve: hi"}));
    for (QTextBlock b = doc.begin(); b.isValid() && b.blockNumber() < 8; b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat f = it.fragment().charFormat();
            EXPECT_EQ(f.foreground().color(), QColor(0, 128, 0));
            EXPECT_EQ(f.font().pointSize(), 13);
            EXPECT_NE(f.fontWeight(), QFont::Bold);
        }
    }
    // The conversation keeps its own format.
    const QTextBlock last = doc.lastBlock();
    EXPECT_EQ(last.begin().fragment().charFormat().foreground().color(), QColor(Qt::red));
}
