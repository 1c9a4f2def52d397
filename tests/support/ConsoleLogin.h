#pragma once
// The login exchange of the main window's server session against the fake
// chat server, on the server's next connection: the tests that need a console
// online start from here.
#include "FakeChatServer.h"
#include "TestUtil.h"
#include "protocol/MessageCodes.h"
#include "protocol/ServerMessages.h"
#include "session/ServerSession.h"

#include <gtest/gtest.h>

namespace velmora::test {

// `chatLimit` > 0 also sends the server's chat limit and waits until the
// session has taken it.
inline void LogInOnFakeServer(TServerSession &session, FakeChatServer &server, int chatLimit = 0)
{
    const int connection = server.ConnectionCount();
    session.WebSbtnClick();
    ASSERT_TRUE(server.WaitForConnections(connection + 1));
    ASSERT_TRUE(WaitFor([&] { return session.State() == TServerState::Registering; }));
    server.SendFrame(connection, server::INITIAL_CONNECT);
    ASSERT_GE(server.WaitForFrame(server::SUPPORT_REGISTER), 0);
    server.SendRaw(connection, server::BuildRegisterAccepted(9));
    ASSERT_GE(server.WaitForFrame(server::SUPPORT_READY), 0);
    ASSERT_TRUE(WaitFor([&] { return session.State() == TServerState::Online; }));
    if (chatLimit > 0) {
        server.SendRaw(connection, server::BuildChatLimit(chatLimit));
        ASSERT_TRUE(WaitFor([&] { return session.ChatLimit() == chatLimit; }));
    }
}

} // namespace velmora::test
