#include "mail/MailText.h"

#include <QRegularExpression>
#include <QTimeZone>
#include <gtest/gtest.h>

using namespace velmora;

TEST(MailText, AddressExtraction)
{
    EXPECT_EQ(ExtractAddress(QStringLiteral("  Ann Smith <ann@a.test>")), QStringLiteral("ann@a.test"));
    EXPECT_EQ(ExtractAddress(QStringLiteral("\"Smith <boss>\" <ann@a.test>")), QStringLiteral("ann@a.test"));
    EXPECT_EQ(ExtractAddress(QStringLiteral("'x' <ann@a.test>")), QStringLiteral("ann@a.test"));
    EXPECT_EQ(ExtractAddress(QStringLiteral("Ann ann@a.test")), QStringLiteral("ann@a.test"));
    EXPECT_EQ(ExtractAddress(QStringLiteral("ann@a.test")), QStringLiteral("ann@a.test"));
    EXPECT_EQ(ExtractAddress(QStringLiteral("nobody")), QString());
    EXPECT_EQ(SplitAddressList(QStringLiteral("a@b.c; \"Doe, J\" <j@d.e>,, x@y.z ;")),
              (QStringList{"a@b.c", "\"Doe, J\" <j@d.e>", "x@y.z"}));
}

TEST(MailText, PlausibleAddresses)
{
    for (const char *good : {"a@b.c", "first.last+tag@mail.example.com", "x_y@sub-domain.org"})
        EXPECT_TRUE(IsPlausibleAddress(QString::fromLatin1(good))) << good;
    for (const char *bad : {"", "a@", "@b.c", "a b@c.d", "a@b.c>\r\nRCPT TO:<x@y", "a@@b.c", "a@b..c", "<a@b.c>",
                            "a@-b.c", ".a@b.c", "a\"@b.c", "Not Supplied !"})
        EXPECT_FALSE(IsPlausibleAddress(QString::fromLatin1(bad))) << bad;
    EXPECT_FALSE(IsPlausibleAddress(QStringLiteral("j\u00fcrgen@b.c")));
}

TEST(MailText, HeaderEncoding)
{
    EXPECT_EQ(EncodeHeaderText(QStringLiteral("Plain text")), QStringList{"Plain text"});
    EXPECT_EQ(EncodeHeaderText(QStringLiteral("a\r\nBcc: x")), QStringList{"a  Bcc: x"});
    EXPECT_EQ(EncodeHeaderText(QStringLiteral("J\u00fcrgen M")), QStringList{"=?iso-8859-1?Q?J=FCrgen_M?="});
    // Long text: several words, none over 75 characters, none splitting a character.
    const QString name = QString(60, QChar(0x4e2d));
    const QStringList words = EncodeHeaderText(name);
    ASSERT_GT(words.size(), 1);
    QByteArray utf8;
    for (const QString &w : words) {
        EXPECT_LE(w.size(), 75);
        ASSERT_TRUE(w.startsWith(QStringLiteral("=?utf-8?B?")));
        const QByteArray part = QByteArray::fromBase64(w.mid(10, w.size() - 12).toLatin1());
        EXPECT_EQ(QString::fromUtf8(part).toUtf8(), part); // whole characters
        utf8 += part;
    }
    EXPECT_EQ(QString::fromUtf8(utf8), name);
    // A long plain subject is folded at its blanks and reads as it was; one
    // without blanks to fold at goes as encoded words, never as one line.
    QString longName = QStringLiteral("Transcript for chat with");
    while (longName.size() < 1500)
        longName += QStringLiteral(" Maximiliane  von");
    const QStringList folded = EncodeHeaderText(longName, 9);
    ASSERT_GT(folded.size(), 1);
    EXPECT_LE(9 + folded[0].size(), 78);
    for (const QString &piece : folded.mid(1)) {
        EXPECT_LE(1 + piece.size(), 78);
        EXPECT_FALSE(piece.trimmed().isEmpty());
    }
    EXPECT_EQ(folded.join(QLatin1Char(' ')), longName);
    // Encoded words: the first line ("Subject: " and its word) and every
    // further one (a blank and its word) within 76 characters.
    for (const QString &subject : {QString(1500, QLatin1Char('x')), QStringLiteral("Transcript for chat with ") + name,
                                   QStringLiteral("Transcript for chat with J\u00fcrgen ") + QString(80, QChar(0xe9))}) {
        const QStringList lines = EncodeHeaderText(subject, 9);
        ASSERT_GT(lines.size(), 1);
        EXPECT_LE(9 + lines[0].size(), 76) << lines[0].toStdString();
        for (const QString &piece : lines.mid(1))
            EXPECT_LE(1 + piece.size(), 76) << piece.toStdString();
    }
    EXPECT_EQ(EncodeAddressPiece(QStringLiteral("\"J\u00fcrgen\" <j@a.test>")),
              QStringLiteral("=?iso-8859-1?Q?J=FCrgen?= <j@a.test>"));
}

TEST(MailText, QuotedPrintableLines)
{
    TLetterEncoding enc;
    FitLetterEncoding(QStringLiteral("plain"), enc);
    EXPECT_FALSE(enc.quotedPrintable);
    FitLetterEncoding(QString(1000, QLatin1Char('x')), enc); // too long for a 7bit line
    EXPECT_TRUE(enc.quotedPrintable);
    EXPECT_EQ(enc.charset, QByteArray("iso-8859-1"));
    EXPECT_EQ(EncodeLetterLine(QStringLiteral("a = b \u00e9 "), enc), QList<QByteArray>{"a =3D b =E9=20"});
    const QList<QByteArray> long_ = EncodeLetterLine(QString(200, QLatin1Char('y')), enc);
    ASSERT_EQ(long_.size(), 3);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(long_[i].size(), 76);
        EXPECT_TRUE(long_[i].endsWith('='));
    }
    EXPECT_EQ(FileContentType(QStringLiteral("Chat3.RTF")), QStringLiteral("application/octet-stream"));
    EXPECT_EQ(FileContentType(QStringLiteral("pic.JPeG")), QStringLiteral("image/jpeg"));
}

TEST(MailText, DateAndBoundary)
{
    const QDateTime t(QDate(2026, 12, 7), QTime(9, 5, 3), Qt::UTC);
    EXPECT_EQ(MailDate(t), QStringLiteral("Mon, 7 Dec 2026 09:05:03 GMT"));
    EXPECT_EQ(MultipartBoundary(QDateTime(QDate(2026, 1, 2), QTime(3, 4))),
              QStringLiteral("= Multipart Boundary 0102260304"));
    const QString id = MessageIdentifier(t, QStringLiteral("host"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^20261207090503000\\.[0-9A-F]{16}@host$")).match(id).hasMatch())
        << id.toStdString();
}

TEST(MailText, EhloNameIsAValidHostName)
{
    EXPECT_EQ(EhloName(QStringLiteral("my desk")), QStringLiteral("my-desk"));
    EXPECT_EQ(EhloName(QStringLiteral(" desk_1.example.org ")), QStringLiteral("desk-1.example.org"));
    EXPECT_EQ(EhloName(QStringLiteral("\u00dcber Desk..x-")), QStringLiteral("ber-Desk.x"));
    EXPECT_EQ(EhloName(QStringLiteral("[127.0.0.1]")), QStringLiteral("[127.0.0.1]"));
    EXPECT_EQ(EhloName(QStringLiteral("a\r\nMAIL FROM:<x@y>")), QStringLiteral("a--MAIL-FROM--x-y"));
    // Nothing usable: the machine's name, valid as well.
    for (const QString &empty : {QString(), QStringLiteral(" "), QStringLiteral("__ .-")}) {
        const QString name = EhloName(empty);
        EXPECT_EQ(name, LocalHostName());
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?$")).match(name).hasMatch())
            << name.toStdString();
    }
}
