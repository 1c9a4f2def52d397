#include "session/Webconnect.h"

#include <QNetworkInformation>

namespace velmora {

TWebConnect::TWebConnect(const QString &backend)
{
    if (backend.isEmpty())
        m_loaded = QNetworkInformation::loadDefaultBackend();
    else
        m_loaded = QNetworkInformation::loadBackendByName(backend);
    m_loaded = m_loaded && QNetworkInformation::instance() != nullptr;
}

bool TWebConnect::GetConnectedState() const
{
    if (!m_loaded)
        return true;
    const QNetworkInformation *info = QNetworkInformation::instance();
    if (!info)
        return true;
    // Unknown means the backend cannot tell: do not stop the operator then.
    return info->reachability() != QNetworkInformation::Reachability::Disconnected;
}

int TWebConnect::GetWebConnectType() const
{
    const QNetworkInformation *info = m_loaded ? QNetworkInformation::instance() : nullptr;
    if (!info)
        return Unknown;
    switch (info->transportMedium()) {
    case QNetworkInformation::TransportMedium::Cellular:
        return Modem;
    case QNetworkInformation::TransportMedium::Ethernet:
    case QNetworkInformation::TransportMedium::WiFi:
    case QNetworkInformation::TransportMedium::Bluetooth:
        return Lan;
    default:
        return info->reachability() == QNetworkInformation::Reachability::Unknown ? Unknown : Lan;
    }
}

} // namespace velmora
