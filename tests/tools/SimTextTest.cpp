// What the simulator prints of the wire must be harmless on a terminal.
#include "SimPeer.h"
#include "SimServer.h"
#include "SimText.h"
#include "protocol/ServerMessages.h"

#include <gtest/gtest.h>

namespace velmora::test {
namespace {

using sim::Printable;

bool HasControl(const QString &text)
{
    for (const QChar c : text)
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0))
            return true;
    return false;
}

TEST(SimTextTest, ControlsAreEscapedAndLongTextCut)
{
    EXPECT_EQ(Printable("a\x1b[2J\r\nb"), "a\\x1b[2J\\x0d\\x0ab");
    EXPECT_EQ(Printable(QByteArray("x\0y", 3)), "x\\x00y");
    // C1 controls (8-bit CSI) and DEL, but Latin-1 letters pass.
    EXPECT_EQ(Printable("\x9b\x7f\xe9"), QString("\\x9b\\x7f") + QChar(0xe9));
    // A backslash cannot forge an escape.
    EXPECT_EQ(Printable("\\x1b"), "\\\\x1b");
    EXPECT_EQ(Printable(QByteArray(1000, 'a'), 10), "aaaaaaaaaa...(+990 bytes)");
}

TEST(SimTextTest, ImagesAreTypedByTheirMagicBytes)
{
    EXPECT_EQ(sim::ImageKind("GIF89a\x01\x00"), "GIF");
    EXPECT_EQ(sim::ImageKind("\xFF\xD8\xFF\xE0rest"), "JPEG");
    EXPECT_EQ(sim::ImageKind("BM"), "unknown type");
    EXPECT_EQ(sim::ImageKind(""), "unknown type");
}

TEST(SimTextTest, DescriptionsNeverReadPastTheBody)
{
    // IMAGE_DATA announcing 100 bytes with 3 present.
    EXPECT_TRUE(sim::DescribeChatFrame(chat::IMAGE_DATA, QByteArray::fromHex("0064474946")).contains("malformed"));
    EXPECT_TRUE(sim::DescribeServerFrame(server::TRANSFER_DATA_SEND, QByteArray::fromHex("000400000001"))
                    .contains("malformed"));
    EXPECT_TRUE(sim::DescribeChatFrame(0x7777, "abc").contains("unknown code"));
}

TEST(SimTextTest, WhatTheConsoleSendsIsPrintedReadablyAndSafely)
{
    sim::SimOptions options;
    options.port = 0;
    sim::TSimServer server(options);
    QStringList output;
    server.SetOutput([&](const QString &line) { output << line; });
    ASSERT_TRUE(server.Start());

    SimPeer console(server.Port());
    ASSERT_TRUE(console.Next(chat::INITIAL_CONNECT));
    console.Send(MessageBuilder(server::SUPPORT_REGISTER).Text(QByteArray("demo")).Text(QByteArray("0")).Text(QByteArray("T")).Finish());
    ASSERT_TRUE(console.Next(server::REGISTER_ACCEPTED));
    console.Send(MessageBuilder(server::SUPPORT_NAME).Text(QByteArray("Eve\x1b]0;pwned\x07")).Finish());
    console.Send(MessageBuilder(server::SUPPORT_READY).Finish());
    ASSERT_TRUE(console.Next(server::CHAT_LIMIT));
    const qint32 session = server.AnnounceCall();
    SimPeer leg(server.Port());
    ASSERT_TRUE(leg.Next(chat::INITIAL_CONNECT));
    leg.Send(MessageBuilder(chat::SUPPORT_ANSWERS_TO_CLI).Text(QByteArray("demo")).Int(1001).Int(session).Finish());
    ASSERT_TRUE(leg.Next(chat::USER_DETAILS));
    leg.Send(MessageBuilder(chat::IMAGE_DATA).Data(QByteArray("GIF89a") + QByteArray(94, '\0')).Finish());
    leg.Send(MessageBuilder(chat::PUSH_URL).Text(QByteArray("http://example.com/\r\nFAKE LINE")).Finish());
    leg.Send(MessageBuilder(chat::CHAT_TEXT).Text(QByteArray("bye\x1b[2J")).Finish());
    ASSERT_TRUE(WaitFor([&] { return output.join('\n').contains("CHAT_TEXT"); }));

    const QString all = output.join('\n');
    for (const QString &line : output)
        EXPECT_FALSE(HasControl(line)) << qPrintable(line);
    EXPECT_TRUE(all.contains("IMAGE_DATA 100 bytes, GIF"));
    EXPECT_TRUE(all.contains("PUSH_URL \"http://example.com/\\x0d\\x0aFAKE LINE\""));
    EXPECT_TRUE(all.contains("CHAT_TEXT \"bye\\x1b[2J\""));
    EXPECT_TRUE(all.contains("Eve\\x1b]0;pwned\\x07"));
}


TEST(SimTextTest, IdleAndAwakeOfALoggedInConsoleArePrinted)
{
    sim::SimOptions options;
    options.port = 0;
    sim::TSimServer server(options);
    QStringList output;
    server.SetOutput([&](const QString &line) { output << line; });
    ASSERT_TRUE(server.Start());

    SimPeer console(server.Port());
    ASSERT_TRUE(console.Next(chat::INITIAL_CONNECT));
    console.Send(MessageBuilder(server::SUPPORT_REGISTER).Text(QByteArray("demo")).Text(QByteArray("0")).Text(QByteArray("T")).Finish());
    ASSERT_TRUE(console.Next(server::REGISTER_ACCEPTED));
    console.Send(server::BuildSupportIdle());
    console.Send(server::BuildSupportAwake());
    ASSERT_TRUE(WaitFor([&] { return output.join('\n').contains("SUPPORT_AWAKE"); }));
    const QStringList idle = output.filter("SUPPORT_IDLE");
    const QStringList awake = output.filter("SUPPORT_AWAKE");
    ASSERT_EQ(idle.size(), 1);
    ASSERT_EQ(awake.size(), 1);
    EXPECT_LT(output.indexOf(idle[0]), output.indexOf(awake[0]));
    EXPECT_FALSE(output.join('\n').contains("not logged in"));
}

} // namespace
} // namespace velmora::test
