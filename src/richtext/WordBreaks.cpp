#include "richtext/WordBreaks.h"

namespace velmora {

bool BreakBefore(QChar ch, int &unbroken)
{
    if (ch.isSpace() || ch == QChar(kZeroWidthSpace)) {
        unbroken = 0;
        return false;
    }
    // The second half of a pair goes with the first.
    if (ch.isLowSurrogate())
        return false;
    if (++unbroken <= kMaxUnbrokenRun)
        return false;
    unbroken = 1;
    return true;
}

QString WithWordBreaks(const QString &text, int &unbroken)
{
    QString out;
    qsizetype copied = 0;
    bool broken = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!BreakBefore(text[i], unbroken))
            continue;
        out += QStringView(text).mid(copied, i - copied);
        out += QChar(kZeroWidthSpace);
        copied = i;
        broken = true;
    }
    if (!broken)
        return text;
    out += QStringView(text).mid(copied);
    return out;
}

} // namespace velmora
