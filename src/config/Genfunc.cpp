#include "config/Genfunc.h"

#include <QDir>

namespace velmora {

namespace {

int NibbleValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    return 0;
}

QString &StartDirectoryStorage()
{
    static QString dir = QDir::currentPath();
    return dir;
}

} // namespace

QString HexEncode(const QByteArray &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    QString out;
    out.reserve(bytes.size() * 2);
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        out.append(QLatin1Char(digits[b >> 4]));
        out.append(QLatin1Char(digits[b & 0x0F]));
    }
    return out;
}

QByteArray HexDecode(const QString &text)
{
    QByteArray out;
    out.reserve(text.size() / 2);
    for (qsizetype i = 0; i + 1 < text.size(); i += 2)
        out.append(static_cast<char>(NibbleValue(text[i]) << 4 | NibbleValue(text[i + 1])));
    return out;
}

void SetStartDirectory(const QString &dir)
{
    StartDirectoryStorage() = dir;
}

const QString &StartDirectory()
{
    return StartDirectoryStorage();
}

QString StartPath(const QString &name)
{
    return QDir(StartDirectory()).filePath(name);
}

} // namespace velmora
