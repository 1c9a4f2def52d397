#include "app/ActivationToken.h"

#include <QGuiApplication>

namespace velmora {

namespace {
constexpr qsizetype kMaxToken = 256;

bool IsWayland(const QString &platform)
{
    return platform.startsWith(QLatin1String("wayland"));
}
} // namespace

bool ValidActivationToken(const QByteArray &token)
{
    if (token.isEmpty() || token.size() > kMaxToken)
        return false;
    for (const char c : token)
        if (c <= ' ' || c > '~')
            return false;
    return true;
}

bool RaiseTakesEffect(const QString &platform, const QByteArray &token)
{
    return !IsWayland(platform) || ValidActivationToken(token);
}

bool UseActivationToken(const QByteArray &token)
{
    const QString platform = QGuiApplication::platformName();
    if (IsWayland(platform) && ValidActivationToken(token))
        qputenv("XDG_ACTIVATION_TOKEN", token);
    return RaiseTakesEffect(platform, token);
}

} // namespace velmora
