// Windows-1252 on the wire and in files, and the UTF-8 a visitor's browser sends.
#include "diag/AnsiText.h"

#include <gtest/gtest.h>

using namespace velmora;

namespace {

QByteArray AllBytes()
{
    QByteArray bytes;
    for (int b = 0; b < 256; ++b)
        bytes.append(char(b));
    return bytes;
}

} // namespace

TEST(AnsiText, EveryByteSurvivesALoadAndASave)
{
    const QByteArray bytes = AllBytes();
    const QString text = FromAnsi(bytes);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(ToAnsi(text), bytes);
    EXPECT_TRUE(UncarriedPositions(text).isEmpty());
}

TEST(AnsiText, TheCodePageCharactersLatinOneLacks)
{
    // Euro, em dash, curly quotes, ellipsis, trade mark, OE ligature.
    const QString text = QStringLiteral("\u20AC \u2014 \u201Cx\u201D \u2018y\u2019 \u2026 \u2122 \u0152");
    EXPECT_EQ(ToAnsi(text), QByteArray("\x80 \x97 \x93x\x94 \x91y\x92 \x85 \x99 \x8C"));
    EXPECT_EQ(FromAnsi(ToAnsi(text)), text);
    EXPECT_EQ(ToAnsi(QStringLiteral("Caf\u00E9")), QByteArray("Caf\xE9"));
}

TEST(AnsiText, CharactersTheWireCannotCarryAreFoundAndBecomeOneQuestionMarkEach)
{
    // Cyrillic, an emoji (a surrogate pair) and a C1 control the code page maps elsewhere.
    const QString text = QStringLiteral("a\u0416b") + QString::fromUtf8("\xF0\x9F\x98\x80") + QStringLiteral("c\u0080");
    EXPECT_EQ(ToAnsi(text), QByteArray("a?b?c?"));
    EXPECT_EQ(UncarriedPositions(text), (QList<qsizetype>{1, 3, 6}));
    EXPECT_EQ(UncarriedCharacters(text), QStringLiteral("\u0416, ") + QString::fromUtf8("\xF0\x9F\x98\x80")
                                             + QStringLiteral(", \u0080"));
    EXPECT_TRUE(UncarriedCharacters(QStringLiteral("plain \u20AC")).isEmpty());
    // A lone surrogate is not a character at all.
    EXPECT_EQ(ToAnsi(QString(QChar(0xD800))), QByteArray("?"));
}

TEST(AnsiText, ReceivedUtf8IsReadAsUtf8AndEverythingElseAsTheCodePage)
{
    EXPECT_EQ(FromReceived("Caf\xC3\xA9"), QStringLiteral("Caf\u00E9"));
    EXPECT_EQ(FromReceived("\xE2\x82\xAC 5"), QStringLiteral("\u20AC 5"));
    EXPECT_EQ(FromReceived("\xF0\x9F\x98\x80"), QString::fromUtf8("\xF0\x9F\x98\x80"));
    // Windows-1252 from another console.
    EXPECT_EQ(FromReceived("Caf\xE9 \x80"), QStringLiteral("Caf\u00E9 \u20AC"));
    EXPECT_EQ(FromReceived("plain"), QStringLiteral("plain"));
    EXPECT_EQ(FromReceived(QByteArray()), QString());
    // Not UTF-8: a truncated sequence, an overlong slash, an encoded surrogate,
    // a value past U+10FFFF, a stray continuation byte.
    for (const QByteArray &bad : {QByteArray("ab\xC3"), QByteArray("\xC0\xAF"), QByteArray("\xED\xA0\x80"),
                                  QByteArray("\xF4\x90\x80\x80"), QByteArray("x\xA9y"), QByteArray("\xC3\xA9\xFF")}) {
        EXPECT_FALSE(IsMultiByteUtf8(bad)) << bad.toHex().constData();
        EXPECT_EQ(ToAnsi(FromReceived(bad)), bad) << bad.toHex().constData();
    }
}
