// Opening and closing channels through the exported functions, against stand-in servers and
// proxies on loopback.
#include <string>

#include <gtest/gtest.h>

#include "connection/CCreatePacket.h"
#include "platform/text.h"
#include "support/KelvaneLibrary.h"
#include "support/LoginServer.h"
#include "support/ScriptedProxy.h"
#include "support/Tinyproxy.h"

namespace {

constexpr uint32_t kUntouched = 0xDEADBEEF;

class OpenChannelTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.Started()) << "port 443 of loopback not bound"; }

    Csocketclient* OpenUser(const std::u16string& host, const char16_t* user = u"alice",
                            const char16_t* password = u"secret")
    {
        return library.OpenChannel(host.c_str(), user, password, &flags, 0, u"", 0, u"", u"");
    }

    Csocketclient* OpenMachine(const std::u16string& host, const char* key)
    {
        return library.OpenChannelEx(host.c_str(), key, &flags, 0, u"", 0, u"", u"");
    }

    KelvaneLibrary& library = KelvaneLibrary::Get();
    LoginServer server;
    uint32_t flags = kUntouched;
};

} // namespace

TEST_F(OpenChannelTest, UserLoginGivesAnAuthenticatedChannelAndItsFlags)
{
    Csocketclient* channel = OpenUser(server.Address16());
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(flags, 0x20u | 0x40u | 0x80u | 0x100u);
    EXPECT_EQ(server.Server().Log().ConnectionCount(), 1u);
    EXPECT_EQ(server.RequestCount(CCreatePacket::kAuthenticateUser), 1u);
    EXPECT_EQ(server.RequestCount(CCreatePacket::kGetSettings), 1u);
    library.CloseChannel(channel);
    EXPECT_TRUE(server.Server().Log().WaitForRequests(CCreatePacket::kDisconnect, 1,
                                                      std::chrono::seconds(10)));
}

TEST_F(OpenChannelTest, BlankMandatoryTextsOpenNothing)
{
    EXPECT_EQ(OpenUser(server.Address16(), u" \t "), nullptr);
    EXPECT_EQ(OpenUser(server.Address16(), u"alice", nullptr), nullptr);
    EXPECT_EQ(OpenUser(u"\t\t"), nullptr);
    EXPECT_EQ(OpenMachine(server.Address16(), " \t"), nullptr);
    EXPECT_EQ(OpenMachine(u" ", LoginServer::kMachineKey), nullptr);
    EXPECT_EQ(library.OpenChannelNoUser(u"  ", 0, u"", 0, u"", u""), nullptr);
    EXPECT_EQ(library.OpenChannelNoUser(nullptr, 0, nullptr, 0, nullptr, nullptr), nullptr);
    EXPECT_EQ(library.OpenChannelNoUser(u"\r\n\v\f ", 0, u"", 0, u"", u""), nullptr);
    EXPECT_EQ(flags, kUntouched);
    EXPECT_EQ(server.Server().Log().ConnectionCount(), 0u);
}

TEST_F(OpenChannelTest, UseProxyOtherThanOneConnectsDirectly)
{
    // Nothing listens on port 1: a proxy attempt would fail.
    Csocketclient* channel =
        library.OpenChannel(server.Address16().c_str(), u"alice", u"secret", &flags, 2,
                            u"127.0.0.1", 1, u"", u"");
    ASSERT_NE(channel, nullptr);
    EXPECT_TRUE(server.Server().Log().Hellos().empty());
    library.CloseChannel(channel);
}

TEST_F(OpenChannelTest, ProxyWithoutUserSendsNoCredentials)
{
    ScriptedProxy proxy("HTTP/1.0 407 Proxy Authentication Required\r\n\r\n");
    ASSERT_TRUE(proxy.Start());
    Csocketclient* channel = library.OpenChannel(
        server.Address16().c_str(), u"alice", u"secret", &flags, 1, u"127.0.0.1",
        static_cast<int32_t>(proxy.Port()), u"", u"ignored");
    EXPECT_EQ(channel, nullptr);
    EXPECT_EQ(flags, kUntouched);
    ASSERT_EQ(proxy.Requests().size(), 1u);
    EXPECT_EQ(proxy.Requests()[0].find("CONNECT " + server.Address() + ":443 HTTP/1.0"), 0u);
    EXPECT_EQ(proxy.Requests()[0].find("Proxy-Authorization"), std::string::npos);
}

TEST_F(OpenChannelTest, ChannelsOpenThroughARealProxyWithAndWithoutCredentials)
{
    Tinyproxy open;
    ASSERT_TRUE(open.Start());
    Csocketclient* user = library.OpenChannel(server.Address16().c_str(), u"alice", u"secret",
                                              &flags, 1, u"127.0.0.1",
                                              static_cast<int32_t>(open.Port()), nullptr, nullptr);
    ASSERT_NE(user, nullptr) << open.Log();
    EXPECT_EQ(server.Server().Log().Hellos().size(), 1u);
    library.CloseChannel(user);

    Tinyproxy guarded;
    ASSERT_TRUE(guarded.Start("proxyuser", "proxypass"));
    Csocketclient* machine = library.OpenChannelEx(
        server.Address16().c_str(), LoginServer::kMachineKey, &flags, 1, u"127.0.0.1",
        static_cast<int32_t>(guarded.Port()), u"proxyuser", u"proxypass");
    ASSERT_NE(machine, nullptr) << guarded.Log();
    library.CloseChannel(machine);
    size_t hellos = server.Server().Log().Hellos().size();
    EXPECT_EQ(library.OpenChannelNoUser(server.Address16().c_str(), 1, u"127.0.0.1",
                                        static_cast<int32_t>(guarded.Port()), u"proxyuser",
                                        u"wrong"),
              nullptr);
    EXPECT_EQ(server.Server().Log().Hellos().size(), hellos);
}

TEST_F(OpenChannelTest, RefusedLoginFailsAtTheSettingsAndReportsTheRefusal)
{
    EXPECT_EQ(OpenUser(server.Address16(), u"alice", u"wrong"), nullptr);
    EXPECT_EQ(flags & 0x4u, 0x4u);
    EXPECT_EQ(flags & 0x20u, 0u);

    LoginReplyFields refusal;
    refusal.refusalCode = 9;
    server.Logins().SetLoginReply(refusal);
    flags = kUntouched;
    EXPECT_EQ(OpenUser(server.Address16()), nullptr);
    EXPECT_EQ(flags & (0x8u | 0x4u | 0x20u), 0x8u);
}

TEST_F(OpenChannelTest, SettingsNamingTheCurrentHostInOtherLettersKeepTheConnection)
{
    // The same address with letters in it: a hexadecimal first part.
    std::string address = server.Address();
    std::string tail = address.substr(address.find('.'));
    server.NameDataServer("0X7F" + tail, 3);
    Csocketclient* channel = OpenUser(Utf8ToUtf16("0x7f" + tail));
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(server.Server().Log().ConnectionCount(), 1u);
    EXPECT_EQ(server.Logins().Logins().size(), 1u);
    library.CloseChannel(channel);
}

TEST_F(OpenChannelTest, SettingsNamingAnotherDataServerMoveTheChannelThere)
{
    LoginServer dataServer;
    ASSERT_TRUE(dataServer.Started());
    server.NameDataServer(dataServer.Address());
    Csocketclient* channel = OpenUser(server.Address16());
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(flags & 0x20u, 0x20u);
    EXPECT_EQ(server.Logins().Logins().size(), 1u);
    EXPECT_EQ(dataServer.Logins().Logins().size(), 1u);
    // One settings request, at the first server only: the move happens once.
    EXPECT_EQ(dataServer.RequestCount(CCreatePacket::kGetSettings), 0u);

    char named[KELVANE_DATA_SERVER_SIZE] = {};
    uint32_t maintenance = 0;
    EXPECT_TRUE(library.VerifyServer(channel, named, &maintenance));
    EXPECT_EQ(dataServer.RequestCount(CCreatePacket::kGetSettings), 1u);
    EXPECT_EQ(server.RequestCount(CCreatePacket::kGetSettings), 1u);
    library.CloseChannel(channel);
}

TEST_F(OpenChannelTest, UnreachableDataServerFailsTheOpen)
{
    server.NameDataServer(NextLoopbackAddress());
    EXPECT_EQ(OpenUser(server.Address16()), nullptr);
    EXPECT_NE(flags, kUntouched);
    EXPECT_EQ(flags & 0x20u, 0u);
}

TEST_F(OpenChannelTest, FailedMachineLoginAddsItsBitToTheCallersFlags)
{
    flags = 5;
    EXPECT_EQ(OpenMachine(server.Address16(), "unknown-key"), nullptr);
    EXPECT_EQ(flags, 0x205u);

    flags = 5;
    Csocketclient* channel = OpenMachine(server.Address16(), LoginServer::kMachineKey);
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(flags & 0x220u, 0x20u);
    library.CloseChannel(channel);
}

TEST_F(OpenChannelTest, FailedConnectLeavesTheFlagsAlone)
{
    std::u16string nowhere = Utf8ToUtf16(NextLoopbackAddress());
    EXPECT_EQ(OpenUser(nowhere), nullptr);
    EXPECT_EQ(OpenMachine(nowhere, "key"), nullptr);
    EXPECT_EQ(flags, kUntouched);
    EXPECT_EQ(library.OpenChannelNoUser(nowhere.c_str(), 0, u"", 0, u"", u""), nullptr);
}

TEST_F(OpenChannelTest, NoUserChannelConnectsWithoutLogin)
{
    Csocketclient* channel = library.OpenChannelNoUser(server.Address16().c_str(), 0, nullptr, 0,
                                                       nullptr, nullptr);
    ASSERT_NE(channel, nullptr);
    EXPECT_TRUE(server.Logins().Logins().empty());
    library.CloseChannel(channel);
}

TEST_F(OpenChannelTest, ClosingAChannelWhoseServerWentAwayFreesIt)
{
    Csocketclient* channel = OpenUser(server.Address16());
    ASSERT_NE(channel, nullptr);
    server.Stop();
    library.CloseChannel(channel);
    library.CloseChannel(nullptr);
}
