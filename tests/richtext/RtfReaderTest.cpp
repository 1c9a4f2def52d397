// The RTF reader: rich-edit style input from other consoles, hostile and
// broken input, and the round trip through our own writer.
#include "richtext/RtfReader.h"
#include "richtext/RtfWriter.h"

#include <QElapsedTimer>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <gtest/gtest.h>

#include <memory>

using namespace velmora;

namespace {

struct TextRun {
    QString text;
    QTextCharFormat format;
};

struct Read {
    std::unique_ptr<QTextDocument> document = std::make_unique<QTextDocument>();
    RtfReadResult result;

    // The characters as they are, paragraphs joined with "\n".
    QString Text() const
    {
        QStringList blocks;
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
            blocks.append(block.text());
        return blocks.join(QLatin1Char('\n'));
    }
    // Every fragment in order, paragraph marks as "\n" runs.
    QList<TextRun> Runs() const
    {
        QList<TextRun> runs;
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
            if (block != document->begin())
                runs.append({QStringLiteral("\n"), {}});
            for (auto it = block.begin(); !it.atEnd(); ++it)
                runs.append({it.fragment().text(), it.fragment().charFormat()});
        }
        return runs;
    }
    // The format of the first character of `text`.
    QTextCharFormat FormatOf(const QString &text) const
    {
        for (const TextRun &run : Runs()) {
            if (run.text.contains(text))
                return run.format;
        }
        ADD_FAILURE() << "no run with " << text.toStdString();
        return {};
    }
};

Read ReadRtf(const QByteArray &rtf, const RtfLimits &limits = {})
{
    Read read;
    QTextCursor cursor(read.document.get());
    read.result = InsertRtf(rtf, cursor, limits);
    return read;
}

QRgb Colour(const QTextCharFormat &format)
{
    return format.foreground().style() == Qt::NoBrush ? 0xDEADBEEF : (format.foreground().color().rgb() & 0xFFFFFF);
}

// What a rich-edit control of a Windows console writes for two lines.
const QByteArray kRichEdit =
    "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0\\fnil\\fcharset0 Arial;}"
    "{\\f1\\fswiss\\fprq2\\fcharset0 MS Sans Serif;}}\r\n"
    "{\\colortbl ;\\red255\\green0\\blue0;\\red0\\green128\\blue0;}\r\n"
    "{\\*\\generator Riched20 10.0.19041;}\\viewkind4\\uc1 \r\n"
    "\\pard\\cf1\\b\\f0\\fs20 Operator: \\cf0\\b0 Hello\\par\r\n"
    "\\cf2\\b\\f1\\fs17 Visitor: \\cf0\\b0 caf\\'e9 \\'80\\'96\\'93ok\\'94\\par\r\n}\r\n";

} // namespace

TEST(RtfReader, RichEditLinesKeepTheirTextColoursBoldAndSize)
{
    const Read read = ReadRtf(kRichEdit);
    EXPECT_TRUE(read.result.complete);
    // The closing \par ends the last line; it adds no empty line.
    EXPECT_EQ(read.Text(), QStringLiteral("Operator: Hello\nVisitor: caf\u00e9 \u20ac\u2013\u201cok\u201d"));
    EXPECT_EQ(read.document->blockCount(), 2);

    const QTextCharFormat name = read.FormatOf(QStringLiteral("Operator"));
    EXPECT_EQ(Colour(name), 0xFF0000u);
    EXPECT_EQ(name.fontWeight(), QFont::Bold);
    EXPECT_EQ(name.fontPointSize(), 10.0);
    const QTextCharFormat hello = read.FormatOf(QStringLiteral("Hello"));
    EXPECT_EQ(Colour(hello), 0xDEADBEEFu); // \cf0: the view's own colour
    EXPECT_EQ(hello.fontWeight(), QFont::Normal);
    EXPECT_EQ(read.FormatOf(QStringLiteral("Visitor")).fontPointSize(), 8.5);
    EXPECT_EQ(Colour(read.FormatOf(QStringLiteral("Visitor"))), 0x008000u);
}

TEST(RtfReader, CharacterPropertiesFollowGroupsAndResets)
{
    const Read read = ReadRtf("{\\rtf1{\\colortbl;\\red1\\green2\\blue3}"
                              "a{\\b\\i\\ul\\cf1\\fs30 b{\\b0 c}d}e\\b\\i f\\plain g\\uldb h\\ulnone i\\ul0 j"
                              "\\cf7 k\\fs0 l\\i0\\b0 m}");
    EXPECT_EQ(read.Text(), QStringLiteral("abcdefghijklm"));
    struct Expect {
        QString ch;
        bool bold, italic, underline;
        qreal points;
        QRgb colour;
    } expects[] = {
        {"a", false, false, false, 12, 0xDEADBEEF}, {"b", true, true, true, 15, 0x010203},
        {"c", false, true, true, 15, 0x010203},     {"d", true, true, true, 15, 0x010203},
        {"e", false, false, false, 12, 0xDEADBEEF}, {"f", true, true, false, 12, 0xDEADBEEF},
        {"g", false, false, false, 12, 0xDEADBEEF}, {"h", false, false, true, 12, 0xDEADBEEF},
        {"i", false, false, false, 12, 0xDEADBEEF}, {"k", false, false, false, 12, 0xDEADBEEF}, // no colour 7
        {"l", false, false, false, 12, 0xDEADBEEF},
    };
    for (const Expect &e : expects) {
        const QTextCharFormat f = read.FormatOf(e.ch);
        SCOPED_TRACE(e.ch.toStdString());
        EXPECT_EQ(f.fontWeight() == QFont::Bold, e.bold);
        EXPECT_EQ(f.fontItalic(), e.italic);
        EXPECT_EQ(f.fontUnderline(), e.underline);
        EXPECT_EQ(f.fontPointSize(), e.points);
        EXPECT_EQ(Colour(f), e.colour);
    }
}

TEST(RtfReader, EightBitTextFollowsTheCodePageOfDocumentAndFont)
{
    EXPECT_EQ(ReadRtf("{\\rtf1\\ansi \\'80\\'e9\\'9f}").Text(), QStringLiteral("\u20ac\u00e9\u0178"));
    EXPECT_EQ(ReadRtf("{\\rtf1\\ansi\\ansicpg1251 \\'c6\\'e8\\'e2}").Text(), QStringLiteral("\u0416\u0438\u0432"));
    EXPECT_EQ(ReadRtf("{\\rtf1\\ansi\\ansicpg1250 \\'b3\\'f3d\\'9f}").Text(), QStringLiteral("\u0142\u00f3d\u017a"));
    // A page we have no table for reads as 1252 rather than not at all.
    EXPECT_EQ(ReadRtf("{\\rtf1\\ansi\\ansicpg932 \\'e9}").Text(), QStringLiteral("\u00e9"));
    // Bytes the page leaves undefined are shown as such.
    EXPECT_EQ(ReadRtf("{\\rtf1\\ansi \\'81}").Text(), QStringLiteral("\ufffd"));
    // A Cyrillic font in a Western document, as a Russian operator's control writes it.
    EXPECT_EQ(ReadRtf("{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fnil\\fcharset0 Arial;}"
                      "{\\f1\\fnil\\fcharset204 Arial CYR;}}\\f1\\'c6\\f0\\'c6}")
                  .Text(),
              QStringLiteral("\u0416\u00c6"));
    // Unescaped 8-bit bytes use the same page, and hex digits may be upper case.
    EXPECT_EQ(ReadRtf("{\\rtf1\\ansi\\ansicpg1251 \xc6\\'C6}").Text(), QStringLiteral("\u0416\u0416"));
}

TEST(RtfReader, UnicodeEscapesSkipTheirFallback)
{
    EXPECT_EQ(ReadRtf("{\\rtf1\\uc1\\u1046?\\u-10179?\\u-8704? x}").Text(),
              QStringLiteral("\u0416") + QString::fromUcs4(U"\U0001F600") + QStringLiteral(" x"));
    // The fallback may be an escape; \uc2 and \uc0 change how much is skipped.
    EXPECT_EQ(ReadRtf("{\\rtf1\\u8364\\'80 a\\uc2\\u1046\\'c6\\'c6 b\\uc0\\u1046 c}").Text(),
              QStringLiteral("\u20ac a\u0416 b\u0416c"));
    // \uc belongs to its group; a closing brace ends a fallback early.
    EXPECT_EQ(ReadRtf("{\\rtf1{\\uc3\\u1046?}xy}").Text(), QStringLiteral("\u0416xy"));
    // Numbers out of range, a lone surrogate and the document's own marks are replaced.
    EXPECT_EQ(ReadRtf("{\\rtf1\\u99999?\\u-99999?\\u55357?a\\u65532?\\u8233?}").Text(),
              QStringLiteral("\ufffd\ufffd\ufffda\ufffd\ufffd"));
    // Controls are no text: \u0 and \u10 neither end the string nor break a line.
    EXPECT_EQ(ReadRtf("{\\rtf1 a\\u0?b\\u10?c\\'00d\\'07e}").Text(), QStringLiteral("abcde"));
}

TEST(RtfReader, EscapesSymbolsAndBreaks)
{
    const Read read = ReadRtf("{\\rtf1 \\{b\\} \\\\x\\~y\\_z\\-w \\emdash\\endash\\lquote\\rquote\\ldblquote"
                              "\\rdblquote\\bullet\r\nl1\\line l2\\tab t\\par p2\\\r\np3\\par}");
    EXPECT_EQ(read.Text(), QStringLiteral("{b} \\x\u00a0y\u2011zw \u2014\u2013\u2018\u2019\u201c\u201d\u2022"
                                          "l1\u2028l2\tt\np2\np3"));
}

TEST(RtfReader, TablesAndDestinationsThatAreNotTextAreSkipped)
{
    const Read read = ReadRtf(
        "{\\rtf1\\ansi{\\fonttbl{\\f0\\fnil\\fcharset0 Arial;}{\\f1{\\*\\panose 020b0604}Tahoma;}}"
        "{\\stylesheet{\\s0 Normal;}}{\\info{\\title secret}{\\author someone}}"
        "{\\header head}{\\footer foot}{\\*\\unknowndest hidden {\\b deeper}}"
        "{\\pict\\wmetafile8\\picw100 0102030405}{\\object\\objemb{\\*\\objdata 0a0b}}"
        "{\\*\\pn\\pnlvlblt{\\pntxtb x}}{\\pntext\\'b7\\tab}item "
        "{\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt link}} "
        "{\\pict\\bin6 }{\\\\{x}after}");
    EXPECT_EQ(read.Text(), QStringLiteral("\u00b7\titem link after"));
    EXPECT_TRUE(read.result.complete);
}

TEST(RtfReader, BrokenInputGivesWhatCouldBeRead)
{
    struct Case {
        QByteArray rtf;
        QString text;
        bool complete;
    } cases[] = {
        {"{\\rtf1 abc {\\b def", "abc def", false},         // cut short
        {"{\\rtf1 abc\\par def\\", "abc\ndef", false},      // ends on a backslash
        {"{\\rtf1 caf\\'e", "caf", false},                  // one hex digit of two
        {"{\\rtf1 a\\'zzb\\'4}", "azzb", true},              // no hex digit, one and a brace
        {"{\\rtf1 a\\u", "a", false},                       // a word without its number
        {"{\\rtf1 a\\bin99999 }{ b}", "a", false},          // binary data longer than the input
        {"{\\rtf1 a}} b", "a", true},                       // text after the document's end
        {"}}}a{\\rtf1 b}", "ab", true},                     // closing braces before it all
        {"plain words", "plain words", true},               // not RTF at all
        {"{\\rtf1 \\fs99999999999999999999 big\\cf-5 x\\fs-4 y}", "bigxy", true},
        {"{\\rtf1 \\aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa z}", "z", true},
        {QByteArray("{\\rtf1 a\0b}", 11), "ab", true},       // NUL byte
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.rtf.toStdString());
        const Read read = ReadRtf(c.rtf);
        EXPECT_EQ(read.Text(), c.text);
        EXPECT_EQ(read.result.complete, c.complete);
    }
    // The clamped size is a size a view can lay out.
    const Read big = ReadRtf("{\\rtf1 \\fs99999999999999999999 big}");
    EXPECT_EQ(big.FormatOf(QStringLiteral("big")).fontPointSize(), 1638.0);
    // Colour components out of range are clamped.
    const Read clamped = ReadRtf("{\\rtf1{\\colortbl;\\red999\\green-1\\blue5}x\\cf1 y}");
    EXPECT_EQ(Colour(clamped.FormatOf(QStringLiteral("y"))), 0xFF0005u);
}

TEST(RtfReader, DeepNestingIsBoundedWithoutRecursion)
{
    // Far deeper than any stack of recursive calls would survive.
    QByteArray deep = "{\\rtf1 a";
    deep += QByteArray(1000000, '{') + "hidden" + QByteArray(1000000, '}') + "b}";
    QElapsedTimer timer;
    timer.start();
    Read read = ReadRtf(deep);
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_FALSE(read.result.complete);
    // Groups past the limit go with their content; the rest is read.
    EXPECT_EQ(read.Text(), QStringLiteral("ab"));

    QByteArray fine = "{\\rtf1 ";
    for (int i = 0; i < kRtfMaxDepth - 2; ++i)
        fine += "{\\b ";
    fine += "x" + QByteArray(kRtfMaxDepth - 2, '}') + " y}";
    read = ReadRtf(fine);
    EXPECT_TRUE(read.result.complete);
    EXPECT_EQ(read.Text(), QStringLiteral("x y"));
    EXPECT_EQ(read.FormatOf(QStringLiteral("x")).fontWeight(), QFont::Bold);
}

TEST(RtfReader, AFrameFullIsReadAndMoreIsCutAtTheLimit)
{
    // A little over the frame limit of plain lines: all of it is read.
    QByteArray rtf = "{\\rtf1\\ansi ";
    const QByteArray line = "\\cf0\\b Visitor: \\b0 a line of conversation\\par\n";
    while (rtf.size() < 1024 * 1024 + 100)
        rtf += line;
    rtf += "last}";
    Read read = ReadRtf(rtf);
    EXPECT_TRUE(read.result.complete);
    EXPECT_EQ(read.document->lastBlock().text(), QStringLiteral("last"));

    QByteArray huge = "{\\rtf1 start ";
    huge += QByteArray(kRtfMaxBytes, 'x') + " end}";
    read = ReadRtf(huge);
    EXPECT_FALSE(read.result.complete);
    EXPECT_TRUE(read.Text().startsWith(QStringLiteral("start xxx")));
    EXPECT_FALSE(read.Text().contains(QStringLiteral("end")));
}

// What a window can lay out at once: letters, runs and word length bounded.
TEST(RtfReader, LimitsBoundLettersRunsAndUnbrokenWords)
{
    Read read = ReadRtf("{\\rtf1 " + QByteArray(5000, 'x') + "}", {1000, 10, true});
    EXPECT_TRUE(read.result.limited);
    EXPECT_EQ(read.Text(), QString(512, QLatin1Char('x')) + QChar(0x200B) + QString(488, QLatin1Char('x')));

    QByteArray colours = "{\\rtf1{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}";
    for (int i = 0; i < 50; ++i)
        colours += "\\cf1 a\\cf2 b";
    read = ReadRtf(colours + "}", {1000, 10, true});
    EXPECT_FALSE(read.result.limited);
    EXPECT_EQ(read.Text().size(), 100);
    EXPECT_EQ(read.Runs().size(), 11); // past the limit, the last format goes on

    // Sizes stay those of a chat: a page-high letter would take its layout
    // as long as a page of letters.
    const RtfLimits sizes{0, 0, false, 3, 12, 72};
    read = ReadRtf("{\\rtf1 \\fs2000 huge \\fs1 tiny \\fs-5 reset \\fs30 fine\\par two\\par three\\par four}", sizes);
    EXPECT_EQ(read.FormatOf(QStringLiteral("huge")).fontPointSize(), 36.0);
    EXPECT_EQ(read.FormatOf(QStringLiteral("tiny")).fontPointSize(), 6.0);
    EXPECT_EQ(read.FormatOf(QStringLiteral("reset")).fontPointSize(), 12.0);
    EXPECT_EQ(read.FormatOf(QStringLiteral("fine")).fontPointSize(), 15.0);
    // Paragraphs are bounded too: reading stops at the limit.
    EXPECT_EQ(read.document->blockCount(), 3);
    EXPECT_TRUE(read.result.limited);
    EXPECT_EQ(read.document->lastBlock().text(), QStringLiteral("three"));
}

TEST(RtfReader, InsertsAtTheCursorOnItsFormat)
{
    QTextDocument document;
    QTextCursor cursor(&document);
    QTextCharFormat base;
    base.setFontFamilies({QStringLiteral("MS Sans Serif")});
    cursor.insertText(QStringLiteral("before|after"), base);
    cursor.setPosition(7);
    EXPECT_TRUE(InsertRtf("{\\rtf1{\\colortbl;\\red0\\green0\\blue255;}\\cf1 one\\par two\\par}", cursor).complete);
    EXPECT_EQ(document.toPlainText(), QStringLiteral("before|one\ntwoafter"));
    // The inserted runs keep the family of the text they went into.
    EXPECT_EQ(cursor.charFormat().fontFamilies().toStringList(), QStringList{QStringLiteral("MS Sans Serif")});
    EXPECT_EQ(Colour(cursor.charFormat()), 0x0000FFu);

    // Next to an image the runs are text, not more images.
    QTextDocument withImage;
    QTextCursor at(&withImage);
    QTextImageFormat image;
    image.setName(QStringLiteral("smiley"));
    at.insertImage(image);
    InsertRtf("{\\rtf1 text}", at);
    EXPECT_EQ(withImage.toPlainText(), QString(QChar::ObjectReplacementCharacter) + QStringLiteral("text"));
    EXPECT_FALSE(at.charFormat().isImageFormat());
}

TEST(RtfReader, WhatTheWriterWritesComesBackTheSame)
{
    // An empty conversation, as an empty chat is transferred, stays empty.
    EXPECT_TRUE(ReadRtf(DocumentToRtf(QTextDocument())).document->isEmpty());

    QTextDocument original;
    original.setDefaultFont(QFont(QStringLiteral("Sans"), 10));
    QTextCursor cursor(&original);
    const QString texts[] = {
        QStringLiteral("Anna: "), QStringLiteral("{braces} \\ back; semi"), QStringLiteral("caf\u00e9 \u20ac \u2014 \u201cq\u201d"),
        QStringLiteral("\u0416\u0438\u0432 \u4e2d\u6587 ") + QString::fromUcs4(U"\U0001F600"), QStringLiteral("tab\there"),
        QStringLiteral("soft") + QChar(QChar::LineSeparator) + QStringLiteral("break"), QStringLiteral("\u00a0\u0081\u00ff"),
    };
    const QColor colours[] = {QColor(0, 0, 255), QColor(0, 128, 0), QColor(255, 0, 0), QColor(1, 2, 3)};
    for (int i = 0; i < 40; ++i) {
        if (i % 5 == 4)
            cursor.insertBlock(); // an empty line now and then
        cursor.insertBlock();
        QTextCharFormat format;
        if (i % 3 != 2)
            format.setForeground(colours[i % 4]);
        format.setFontWeight(i % 2 ? QFont::Bold : QFont::Normal);
        format.setFontItalic(i % 3 == 0);
        format.setFontUnderline(i % 7 == 0);
        format.setFontPointSize(8 + (i % 5) * 1.5);
        cursor.insertText(texts[i % 7], format);
    }
    cursor.insertBlock(); // ending on an empty line, as the chat view does

    const Read read = ReadRtf(DocumentToRtf(original));
    EXPECT_TRUE(read.result.complete);
    EXPECT_EQ(read.document->blockCount(), original.blockCount());
    Read originalRuns;
    originalRuns.document.reset(original.clone());
    ASSERT_EQ(read.Text(), originalRuns.Text());
    const QList<TextRun> want = originalRuns.Runs();
    const QList<TextRun> got = read.Runs();
    ASSERT_EQ(got.size(), want.size());
    for (qsizetype i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(want[i].text.toStdString());
        EXPECT_EQ(got[i].text, want[i].text);
        if (want[i].text == QStringLiteral("\n"))
            continue;
        EXPECT_EQ(Colour(got[i].format), Colour(want[i].format));
        EXPECT_EQ(got[i].format.fontWeight(), want[i].format.fontWeight());
        EXPECT_EQ(got[i].format.fontItalic(), want[i].format.fontItalic());
        EXPECT_EQ(got[i].format.fontUnderline(), want[i].format.fontUnderline());
        EXPECT_EQ(got[i].format.fontPointSize(), want[i].format.fontPointSize());
    }
}
