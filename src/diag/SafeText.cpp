#include "diag/SafeText.h"

namespace velmora {

QString OneLine(const QString &text)
{
    QString out = text;
    for (QChar &c : out) {
        const ushort u = c.unicode();
        if ((u < 0x20 && u != '\t') || u == 0x7f || u == 0x85 || u == 0x2028 || u == 0x2029)
            c = QLatin1Char(' ');
    }
    return out;
}

QString ShortText(const QString &text, int max, bool keepLines)
{
    QString out;
    out.reserve(qMin(text.size(), max + 1));
    for (QChar c : text) {
        if (c == QLatin1Char('\n') && keepLines)
            out += c;
        else if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            out += QLatin1Char(' ');
        else
            out += c;
        if (out.size() > max)
            break;
    }
    if (out.size() <= max)
        return out;
    qsizetype cut = max - 1;
    if (cut > 0 && out.at(cut - 1).isHighSurrogate())
        --cut;
    return out.left(cut) + QChar(0x2026);
}

} // namespace velmora
