// Error numbers and the texts the operator sees for them.
#include "session/Webconnect.h"
#include "session/WsaErrors.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(WsaErrorsTest, ErrnoValuesMapToWindowsSocketsNumbers)
{
    EXPECT_EQ(WsaFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(WsaFromErrno(ETIMEDOUT), 10060);
    EXPECT_EQ(WsaFromErrno(ECONNRESET), 10054);
    EXPECT_EQ(WsaFromErrno(ECONNABORTED), 10053);
    EXPECT_EQ(WsaFromErrno(ENETUNREACH), 10051);
    EXPECT_EQ(WsaFromErrno(EHOSTUNREACH), 10065);
    EXPECT_EQ(WsaFromErrno(EADDRNOTAVAIL), 10049);
    EXPECT_EQ(WsaFromErrno(EMFILE), 10024);
    // ENODATA is 61 on Linux: unmapped values must not land on table entries.
    EXPECT_EQ(WsaFromErrno(ENODATA), ENODATA);
}

TEST(WsaErrorsTest, TablesDifferOnlyInAddressErrorAndFallback)
{
    EXPECT_EQ(ServerSocketErrorText(10061), QStringLiteral("Connection refused or not available, check program params !"));
    EXPECT_EQ(ChatSocketErrorText(10061), ServerSocketErrorText(10061));
    EXPECT_EQ(ServerSocketErrorText(11001), QStringLiteral("Host not found, check program params ?!"));
    EXPECT_EQ(ServerSocketErrorText(10053),
              QStringLiteral("Software caused connection abort, check program params !\nCould also be that the server was reseted !."));
    EXPECT_EQ(ServerSocketErrorText(10091), ServerSocketErrorText(10093));

    EXPECT_EQ(ServerSocketErrorText(10049), QStringLiteral("Cannot assign requested address, check program params ?!"));
    EXPECT_EQ(ChatSocketErrorText(10049), QStringLiteral("TOneChatWindow.Error = 10049"));
    EXPECT_EQ(ServerSocketErrorText(10035), QStringLiteral("TMainForm.Error = 10035"));
    EXPECT_EQ(ChatSocketErrorText(12345), QStringLiteral("TOneChatWindow.Error = 12345"));
}

TEST(WebConnectTest, WithoutABackendTheNetworkCountsAsConnected)
{
    TWebConnect check(QStringLiteral("no-such-backend"));
    EXPECT_FALSE(check.HasBackend());
    EXPECT_TRUE(check.GetConnectedState());
    EXPECT_EQ(check.GetWebConnectType(), TWebConnect::Unknown);
}

} // namespace
} // namespace velmora
