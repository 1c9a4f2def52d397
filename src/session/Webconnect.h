#pragma once
// Whether the machine has a network connection, asked before connecting to
// the chat server. The console only reads the state; it never dials.
#include <QString>

namespace velmora {

class TWebConnect {
public:
    enum ConnectType { Modem = 0, Lan = 1, Unknown = 2 };

    // Loads the platform's reachability backend (`backend` names one, for
    // tests; empty means the default). When none loads, the state cannot be
    // read and the answer is "connected", so a missing backend never keeps
    // the operator offline.
    explicit TWebConnect(const QString &backend = QString());

    // False only when the platform reports that no network is up.
    bool GetConnectedState() const;
    // Modem for a cellular link, Lan for any other known medium, Unknown when
    // the state cannot be read.
    int GetWebConnectType() const;

    bool HasBackend() const { return m_loaded; }

private:
    bool m_loaded = false;
};

} // namespace velmora
