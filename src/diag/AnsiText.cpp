#include "diag/AnsiText.h"

#include <QList>

namespace velmora {

namespace {

// 0x80..0x9F of Windows-1252. 0 marks the five undefined bytes, which keep
// the C1 control of their own number so that no byte is ever lost.
constexpr char16_t kHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

} // namespace

char16_t AnsiChar(unsigned char b)
{
    if (b < 0x80 || b >= 0xA0)
        return b;
    const char16_t c = kHigh[b - 0x80];
    return c ? c : char16_t(b);
}

int AnsiByte(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return c;
    if (c < 0xA0) // a C1 control: only the five undefined bytes carry one
        return kHigh[c - 0x80] == 0 ? int(c) : -1;
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] == c)
            return 0x80 + i;
    return -1;
}

QByteArray ToAnsi(const QString &text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        // One "?" for a whole surrogate pair, as for any other character.
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        const int b = AnsiByte(c.unicode());
        out.append(b < 0 ? '?' : char(b));
    }
    return out;
}

QString FromAnsi(const QByteArray &bytes)
{
    QString out(bytes.size(), Qt::Uninitialized);
    QChar *p = out.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        p[i] = QChar(AnsiChar(static_cast<unsigned char>(bytes[i])));
    return out;
}

bool IsMultiByteUtf8(const QByteArray &bytes)
{
    bool multi = false;
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        int len;
        quint32 min;
        if ((b & 0xE0) == 0xC0) {
            len = 2;
            min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3;
            min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4;
            min = 0x10000;
        } else {
            return false;
        }
        if (i + len > n)
            return false;
        quint32 cp = b & (0x7F >> len);
        for (int k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        multi = true;
        i += len;
    }
    return multi;
}

QString FromReceived(const QByteArray &bytes)
{
    return IsMultiByteUtf8(bytes) ? QString::fromUtf8(bytes) : FromAnsi(bytes);
}

bool AnsiCarries(QChar c)
{
    return AnsiByte(c.unicode()) >= 0;
}

QList<qsizetype> UncarriedPositions(const QString &text)
{
    QList<qsizetype> out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (AnsiCarries(c))
            continue;
        out.append(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
    }
    return out;
}

QString UncarriedCharacters(const QString &text, int max)
{
    QStringList seen;
    for (const qsizetype at : UncarriedPositions(text)) {
        const QChar c = text.at(at);
        const QString one = c.isHighSurrogate() && at + 1 < text.size() ? text.mid(at, 2) : QString(c);
        if (!seen.contains(one))
            seen.append(one);
        if (seen.size() >= max)
            break;
    }
    return seen.join(QStringLiteral(", "));
}

} // namespace velmora
