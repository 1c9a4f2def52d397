// The RTF writer: what a reader that knows RTF but not Unicode, and one that
// knows both, would make of the bytes.
#include "richtext/RtfWriter.h"

#include <QBuffer>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <gtest/gtest.h>

using namespace velmora;

namespace {

QTextCharFormat Coloured(const QColor &colour, bool bold = false)
{
    QTextCharFormat format;
    format.setForeground(colour);
    format.setFontWeight(bold ? QFont::Bold : QFont::Normal);
    return format;
}

// The body after the header, so assertions do not depend on the tables.
QByteArray Body(const QByteArray &rtf)
{
    const qsizetype at = rtf.indexOf("\\pard\\plain\n");
    return at < 0 ? QByteArray() : rtf.mid(at + 12);
}

QByteArray RtfOfText(const QString &text)
{
    QTextDocument document;
    QTextCursor(&document).insertText(text);
    return DocumentToRtf(document);
}

// A device that takes `budget` bytes and then refuses, as a full disk would.
class FullDevice : public QIODevice {
public:
    explicit FullDevice(qint64 budget) : m_budget(budget) { open(QIODevice::WriteOnly); }
    qint64 writes = 0;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 len) override
    {
        ++writes;
        if (len > m_budget)
            return -1;
        m_budget -= len;
        return len;
    }

private:
    qint64 m_budget;
};

} // namespace

TEST(RtfWriter, HeaderDeclaresCodePageFontsAndColoursInOrderOfUse)
{
    QTextDocument document;
    QFont font(QStringLiteral("MS Sans Serif"), 10);
    font.setStyleHint(QFont::SansSerif);
    document.setDefaultFont(font);
    QTextCursor cursor(&document);
    cursor.insertText(QStringLiteral("Operator: "), Coloured(QColor(0, 128, 0), true));
    cursor.insertText(QStringLiteral("Hello"), Coloured(Qt::red));
    cursor.insertText(QStringLiteral(" again"), Coloured(QColor(0, 128, 0)));

    const QByteArray rtf = DocumentToRtf(document);
    EXPECT_TRUE(rtf.startsWith("{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n"));
    EXPECT_TRUE(rtf.contains("{\\fonttbl{\\f0\\fswiss\\fcharset0 MS Sans Serif;}}"));
    // Green once, though used twice; index 0 stays the automatic colour.
    EXPECT_TRUE(rtf.contains("{\\colortbl ;\\red0\\green128\\blue0;\\red255\\green0\\blue0;}"));
    EXPECT_EQ(Body(rtf), "\\fs20\\b\\cf1 Operator: \\b0\\cf2 Hello\\cf1  again\\par\n}\n");
}

TEST(RtfWriter, OnlyChangedPropertiesAreWrittenAndEveryOneIsUndone)
{
    QTextDocument document;
    document.setDefaultFont(QFont(QStringLiteral("Sans"), 12));
    QTextCursor cursor(&document);
    QTextCharFormat all;
    all.setFontWeight(QFont::Bold);
    all.setFontItalic(true);
    all.setFontUnderline(true);
    all.setFontPointSize(15.5);
    all.setFontFamilies({QStringLiteral("Serif")});
    cursor.insertText(QStringLiteral("x"), all);
    cursor.insertText(QStringLiteral("y"), QTextCharFormat());

    EXPECT_EQ(Body(DocumentToRtf(document)),
              "\\f1\\fs31\\b\\i\\ul x\\f0\\fs24\\b0\\i0\\ulnone y\\par\n}\n");
}

TEST(RtfWriter, ParagraphsLineBreaksAndTabsAreKept)
{
    QTextDocument document;
    QTextCursor cursor(&document);
    cursor.insertText(QStringLiteral("one"));
    cursor.insertBlock();
    cursor.insertBlock(); // an empty paragraph between
    cursor.insertText(QStringLiteral("two") + QChar(QChar::LineSeparator) + QStringLiteral("a\tb"));
    cursor.insertBlock(); // and an empty one at the end

    const QByteArray body = Body(DocumentToRtf(document));
    EXPECT_TRUE(body.endsWith("one\\par\n\\pard \\par\n\\pard two\\line a\\tab b\\par\n\\pard \\par\n}\n"))
        << body.constData();
}

TEST(RtfWriter, MarkupCharactersAreEscaped)
{
    const QByteArray body = Body(RtfOfText(QStringLiteral("{\\b} a;b")));
    EXPECT_TRUE(body.endsWith("\\{\\\\b\\} a\\'3bb\\par\n}\n")) << body.constData();
}

TEST(RtfWriter, NonAsciiGoesAsCp1252BytesOrUnicodeWithFallback)
{
    struct Case {
        QString text;
        QByteArray rtf;
    } cases[] = {
        {QStringLiteral("\u00e9\u00ff\u00a0"), "\\'e9\\'ff\\'a0"},         // Latin-1 half
        {QStringLiteral("\u20ac\u2014\u201c\u201d"), "\\'80\\'97\\'93\\'94"}, // cp1252's own 0x80-0x9F
        {QStringLiteral("\u0160\u0178"), "\\'8a\\'9f"},
        {QStringLiteral("\u0100\u0416"), "\\u256?\\u1046?"},                  // not in cp1252
        {QStringLiteral("\u0081\u009d"), "\\u129?\\u157?"},                   // C1 controls are not cp1252 bytes
        {QStringLiteral("\ufffd\u4e2d"), "\\u-3?\\u20013?"},                  // signed 16-bit
        {QString::fromUcs4(U"\U0001F600"), "\\u-10179?\\u-8704?"},            // a surrogate pair
    };
    for (const Case &c : cases) {
        const QByteArray body = Body(RtfOfText(c.text));
        EXPECT_TRUE(body.contains(c.rtf)) << c.rtf.constData() << " in " << body.constData();
        // Nothing but 7-bit ASCII ever reaches the file.
        for (const char byte : body)
            EXPECT_LT(uchar(byte), 0x80);
    }
}

TEST(RtfWriter, ControlCharactersAndImagesAreNotWritten)
{
    QTextDocument document;
    QTextCursor cursor(&document);
    cursor.insertText(QStringLiteral("a") + QChar(0) + QChar(7) + QChar(0x1b) + QStringLiteral("b"));
    QTextImageFormat image;
    image.setName(QStringLiteral("smiley"));
    cursor.insertImage(image);
    cursor.insertText(QStringLiteral("c"));
    EXPECT_TRUE(Body(DocumentToRtf(document)).endsWith(" abc\\par\n}\n"))
        << Body(DocumentToRtf(document)).constData();
}

TEST(RtfWriter, LongParagraphsAreWrappedBetweenTokens)
{
    QString text;
    for (int i = 0; i < 3000; ++i)
        text += (i % 7 == 0) ? QStringLiteral("\u00e9") : (i % 11 == 0 ? QStringLiteral("\u0416") : QStringLiteral("w"));
    const QByteArray rtf = RtfOfText(text);
    const QList<QByteArray> lines = rtf.split('\n');
    EXPECT_GT(lines.size(), 15);
    for (const QByteArray &line : lines) {
        EXPECT_LE(line.size(), 200);
        // A break never falls inside an escape.
        EXPECT_FALSE(line.endsWith('\\') || line.endsWith("\\'") || line.endsWith("\\u"));
        EXPECT_FALSE(QRegularExpression(QStringLiteral("\\\\'[0-9a-f]$")).match(QString::fromLatin1(line)).hasMatch());
    }
    // Without its breaks the body is the unbroken text.
    QByteArray joined = Body(rtf);
    joined.replace('\n', "");
    EXPECT_EQ(joined.count("\\'e9"), text.count(QChar(0xe9)));
    EXPECT_EQ(joined.count("\\u1046?"), text.count(QChar(0x416)));
}

TEST(RtfWriter, StreamsParagraphByParagraphAndReportsARefusedWrite)
{
    QTextDocument document;
    QTextCursor cursor(&document);
    for (int i = 0; i < 50; ++i) {
        cursor.insertText(QStringLiteral("line %1").arg(i));
        cursor.insertBlock();
    }
    const QByteArray whole = DocumentToRtf(document);

    QByteArray streamed;
    QBuffer buffer(&streamed);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(WriteRtf(document, buffer));
    EXPECT_EQ(streamed, whole);

    FullDevice ok(whole.size());
    EXPECT_TRUE(WriteRtf(document, ok));
    EXPECT_GT(ok.writes, 50); // header, one write per paragraph, closing brace

    FullDevice full(whole.size() / 2);
    EXPECT_FALSE(WriteRtf(document, full));
    EXPECT_LT(full.writes, 40); // it stopped at the refusal

    FullDevice none(0);
    EXPECT_FALSE(WriteRtf(document, none));
    EXPECT_EQ(none.writes, 1);
}
