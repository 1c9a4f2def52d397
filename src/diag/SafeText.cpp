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

} // namespace velmora
