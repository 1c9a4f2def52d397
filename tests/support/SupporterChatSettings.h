#pragma once
// The settings of a supporter chat against the fake chat server: the
// server's address, the group "acme", the supporter "Anna", and every new
// connection greeted. The settings before are back when it goes.
#include "config/Settings.h"
#include "support/FakeChatServer.h"

namespace velmora::test {

class SupporterChatSettings {
public:
    explicit SupporterChatSettings(FakeChatServer &server) : m_saved(Settings())
    {
        Settings().WebSiteUrl = server.Host();
        Settings().WebListenPort = QString::number(server.Port());
        Settings().ClientID = QStringLiteral("acme");
        Settings().SupportName = QStringLiteral("Anna");
        server.SetSendInitialConnect(true);
    }
    ~SupporterChatSettings() { Settings() = m_saved; }
    SupporterChatSettings(const SupporterChatSettings &) = delete;
    SupporterChatSettings &operator=(const SupporterChatSettings &) = delete;

private:
    TSettings m_saved;
};

} // namespace velmora::test
