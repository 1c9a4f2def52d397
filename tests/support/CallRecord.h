#pragma once
// Call records on real loopback connections to the fake chat server, as the
// call handling hands them to a chat, and what the server got from a chat.
#include "session/ChatItem.h"
#include "support/FakeChatServer.h"
#include "support/TestUtil.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace velmora::test {

inline void ConnectRecord(FakeChatServer &server, ChatItem &record, qint32 sessionCount = 4711)
{
    const int before = server.ConnectionCount();
    auto *socket = new TClientSocket;
    socket->SetHost(server.Host());
    socket->SetPort(server.Port());
    ASSERT_TRUE(socket->Open());
    ASSERT_TRUE(server.WaitForConnections(before + 1));
    ASSERT_TRUE(WaitFor([&] { return socket->IsConnected(); }));
    record.Socket = socket;
    record.SessionCount = sessionCount;
    record.SendWorker = std::make_unique<TSocketBuff>();
    record.WebSite = QStringLiteral("www.example.org");
}

// The codes the server received after its first `skip` frames, waiting up to
// `ms` for `count` of them.
inline std::vector<quint16> CodesAfter(FakeChatServer &server, int skip, int count = 0, int ms = 2000)
{
    if (count > 0)
        server.WaitForFrames(skip + count, ms);
    std::vector<quint16> codes;
    const auto frames = server.Frames();
    for (std::size_t i = std::size_t(skip); i < frames.size(); ++i)
        codes.push_back(frames[i].code);
    return codes;
}

} // namespace velmora::test
