#include "shortcuts/Placeholders.h"

#include "diag/AnsiText.h"

#include <gtest/gtest.h>

using namespace velmora;

namespace {

TPlaceholderValues Anna()
{
    TPlaceholderValues v;
    v.Visitor = QStringLiteral("Anna Maria Berg");
    v.Email = QStringLiteral("anna@example.com");
    v.Site = QStringLiteral("shop.example.com");
    v.Operator = QStringLiteral("Sam");
    v.Date = QStringLiteral("08/12/2026");
    v.Time = QStringLiteral("10:42");
    return v;
}

QString Filled(const QString &text, const TPlaceholderValues &v = Anna())
{
    return FillPlaceholders(text, v).Text;
}

} // namespace

TEST(Placeholders, EachKnownNameIsFilledAndTheFallbackOnlyWhenTheValueIsUnknown)
{
    EXPECT_EQ(Filled(QStringLiteral("{visitor}|{visitor.first}|{visitor.email}|{site}|{operator}|{date}|{time}")),
              QStringLiteral("Anna Maria Berg|Anna|anna@example.com|shop.example.com|Sam|08/12/2026|10:42"));
    EXPECT_EQ(Filled(QStringLiteral("Hi {visitor.first|there}!")), QStringLiteral("Hi Anna!"));

    TPlaceholderValues nobody = Anna();
    nobody.Visitor = QStringLiteral("   ");
    EXPECT_EQ(Filled(QStringLiteral("Hi {visitor.first|there}, {visitor|}."), nobody), QStringLiteral("Hi there, ."));
    // A fallback may hold spaces and a bar of its own.
    EXPECT_EQ(Filled(QStringLiteral("{visitor|dear customer|friend}"), nobody), QStringLiteral("dear customer|friend"));
}

TEST(Placeholders, AMissingValueWithoutFallbackStaysVisibleAndIsReported)
{
    TPlaceholderValues v = Anna();
    v.Visitor.clear();
    v.Email.clear();
    const TFilledText filled = FillPlaceholders(QStringLiteral("{operator}: mail {visitor.email}, {visitor}?"), v);
    EXPECT_EQ(filled.Text, QStringLiteral("Sam: mail {visitor.email}, {visitor}?"));
    ASSERT_EQ(filled.Unfilled.size(), 2);
    EXPECT_EQ(filled.Text.mid(filled.Unfilled[0].first, filled.Unfilled[0].second), QStringLiteral("{visitor.email}"));
    EXPECT_EQ(filled.Text.mid(filled.Unfilled[1].first, filled.Unfilled[1].second), QStringLiteral("{visitor}"));
}

TEST(Placeholders, BracesThatAreNotOursStayAsWritten)
{
    for (const char *text : {"Use {curly} braces", "{Visitor}", "a { b } c", "open { only", "close } only",
                             "{{visitor}}", "{visitor\n}", "{}", "{|x}", "json {\"a\": 1}"}) {
        const QString expected = QString::fromLatin1(text).replace(QStringLiteral("{visitor}"), QStringLiteral("Anna Maria Berg"));
        EXPECT_EQ(Filled(QString::fromLatin1(text)), expected) << text;
    }
}

TEST(Placeholders, AVisitorsNameIsPutInOnceAsOneLine)
{
    TPlaceholderValues v = Anna();
    // Values are never read for placeholders again, and bring no line breaks.
    v.Visitor = QStringLiteral("{operator}\r\nX");
    EXPECT_EQ(Filled(QStringLiteral("Hi {visitor}"), v), QStringLiteral("Hi {operator} X"));
    // A Windows-1252 name from the wire keeps its letters.
    v.Visitor = FromAnsi(QByteArray("Zo\xEB M\xFCller-\x8Aime"));
    EXPECT_EQ(Filled(QStringLiteral("Hej {visitor.first}, {visitor}"), v),
              QString::fromUtf8("Hej Zoë, Zoë Müller-Šime"));
}
