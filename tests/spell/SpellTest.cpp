#include "spell/SpellChecker.h"
#include "spell/SpellHighlighter.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QAbstractTextDocumentLayout>
#include <QTextDocument>
#include <QTextLayout>

#include <gtest/gtest.h>

using namespace velmora;

namespace {

QStringList Checked(const QString &text, const QSet<QString> &names = {})
{
    QStringList out;
    for (const SpellWord &w : WordsToCheck(text, names))
        out << text.mid(w.start, w.length);
    return out;
}

// A small dictionary of its own, through Enchant's word-list files: no
// system dictionary needed.
class WordList : public ::testing::Test {
protected:
    void SetUp() override
    {
        QFile file(dir.filePath(QStringLiteral("words.txt")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("see\nthank\nyou\nfor\nwaiting\nhello\nthe\norder\nis\non\nits\nway\n");
        file.close();
        QString why;
        checker = WordListChecker(file.fileName(), &why);
        if (!checker)
            GTEST_SKIP() << why.toStdString();
    }

    // The misspelt words as the highlighter marked them in `document`.
    static QStringList Marked(const QTextDocument &document)
    {
        QStringList out;
        for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
            for (const QTextLayout::FormatRange &range : block.layout()->formats())
                if (range.format.underlineStyle() == QTextCharFormat::SpellCheckUnderline)
                    out << block.text().mid(range.start, range.length);
        return out;
    }

    QTemporaryDir dir;
    std::unique_ptr<ISpellChecker> checker;
};

} // namespace

TEST(SpellWords, OnlyPlainWordsAreChecked)
{
    EXPECT_EQ(Checked(QStringLiteral("Thnak you, don't wory.")),
              (QStringList{"Thnak", "you", "don't", "wory"}));
    // Links, addresses, numbers and codes, ALL CAPS, single letters and placeholders are skipped.
    EXPECT_EQ(Checked(QStringLiteral("see https://exmple.org/x www.exmple.com mail anna@exmple.com or exmple.com/help")),
              (QStringList{"see", "mail", "or"}));
    EXPECT_EQ(Checked(QStringLiteral("order 12345 the 3rd A4 ASAP FAQs a I x2 {visitor.first|thre} ok")),
              (QStringList{"order", "the", "FAQs", "ok"}));
    // Names, in any letter case, and words around punctuation.
    EXPECT_EQ(Checked(QStringLiteral("Hi Lindqvist, (Anna-Maria) \u00abwelcome\u00bb"), {"lindqvist", "anna", "maria"}),
              (QStringList{"Hi", "welcome"}));
}

TEST_F(WordList, TheHighlighterMarksMisspeltWordsAndSkipsNamesAndLinks)
{
    QTextDocument document;
    document.documentLayout(); // edits reach a highlighter only once the document is laid out
    TSpellHighlighter highlighter(&document, *checker);
    highlighter.SetNames({QStringLiteral("Anna Lindqvist")});
    document.setPlainText(QStringLiteral("Thnak you Anna Lindqvist, see https://wrng.example/x\nthe ordr is on its way"));
    EXPECT_EQ(Marked(document), (QStringList{"Thnak", "ordr"}));

    // Positions inside and just after a misspelt word find it; a correct word does not.
    ASSERT_TRUE(highlighter.MisspeltAt(2).has_value());
    EXPECT_EQ(highlighter.MisspeltAt(5)->start, 0);
    EXPECT_EQ(highlighter.MisspeltAt(5)->length, 5);
    EXPECT_FALSE(highlighter.MisspeltAt(7).has_value());

    // Typing on: only the changed paragraph is checked again, and a fixed word loses its mark.
    QTextCursor cursor(&document);
    cursor.setPosition(1);
    cursor.setPosition(4, QTextCursor::KeepAnchor);
    cursor.insertText(QStringLiteral("han"));
    EXPECT_EQ(Marked(document), QStringList{"ordr"});
}

TEST_F(WordList, SuggestionsAddAndIgnore)
{
    const QStringList suggestions = checker->Suggest(QStringLiteral("wating"), 6);
    EXPECT_TRUE(suggestions.contains(QStringLiteral("waiting"))) << suggestions.join(' ').toStdString();
    EXPECT_LE(checker->Suggest(QStringLiteral("xo"), 1).size(), 1);

    EXPECT_FALSE(checker->IsCorrect(QStringLiteral("Velmora")));
    checker->Ignore(QStringLiteral("Velmora"));
    EXPECT_TRUE(checker->IsCorrect(QStringLiteral("Velmora")));
    // Added words go into the word list for good, ignored ones do not.
    checker->Add(QStringLiteral("Korva"));
    EXPECT_TRUE(checker->IsCorrect(QStringLiteral("Korva")));
    QFile file(dir.filePath(QStringLiteral("words.txt")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray stored = file.readAll();
    EXPECT_TRUE(stored.contains("Korva"));
    EXPECT_FALSE(stored.contains("Velmora"));
}

TEST(SpellSetting, OffAndUnknownLanguagesGiveNoCheckerAndSayWhy)
{
    QString why = QStringLiteral("stale");
    EXPECT_EQ(SpellCheckerFor(QStringLiteral("off"), &why), nullptr);
    EXPECT_TRUE(why.isEmpty());
    EXPECT_EQ(SpellCheckerFor(QStringLiteral("xx_NOPE"), &why), nullptr);
    EXPECT_FALSE(why.isEmpty());
}
