// The machine login, the settings check and the commands on an open channel, called through
// the exported functions against stand-in servers on loopback.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "connection/CCreatePacket.h"
#include "platform/text.h"
#include "support/KelvaneLibrary.h"
#include "support/LoginServer.h"

namespace {

class MachineLoginTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.Started()) << "port 443 of loopback not bound"; }

    void TearDown() override
    {
        if (channel != nullptr)
            library.CloseChannel(channel);
    }

    void OpenMachine(const std::u16string& host)
    {
        uint32_t flags = 0;
        channel = library.OpenChannelEx(host.c_str(), LoginServer::kMachineKey, &flags, 0, u"",
                                        0, u"", u"");
        ASSERT_NE(channel, nullptr);
    }

    void OpenUser()
    {
        uint32_t flags = 0;
        channel = library.OpenChannel(server.Address16().c_str(), u"alice", u"secret", &flags, 0,
                                      u"", 0, u"", u"");
        ASSERT_NE(channel, nullptr);
    }

    void AddMachine(ULONGLONG id, const std::string& key)
    {
        server.Server().Model().Service().With([&](ServiceState& state) {
            StoredMachine machine;
            machine.id = id;
            machine.name = u"machine-" + Utf8ToUtf16(std::to_string(id));
            machine.key = key;
            state.machines.push_back(machine);
        });
    }

    KelvaneLibrary& library = KelvaneLibrary::Get();
    LoginServer server;
    Csocketclient* channel = nullptr;
};

} // namespace

TEST_F(MachineLoginTest, NullChannelIsRefusedByEveryExport)
{
    uint32_t maintenance = 7;
    uint32_t lockedout = 7;
    EXPECT_FALSE(library.AuthenticateMachine(nullptr, &maintenance, &lockedout));
    EXPECT_EQ(maintenance, 7u);

    std::string named(KELVANE_DATA_SERVER_SIZE, 'x');
    EXPECT_FALSE(library.VerifyServer(nullptr, named.data(), &maintenance));
    EXPECT_EQ(named, std::string(KELVANE_DATA_SERVER_SIZE, '\0'));

    uint32_t enabled = 7;
    EXPECT_EQ(library.WebPortalIsEnabled(nullptr, &enabled), 0);
    EXPECT_EQ(enabled, 7u);
    EXPECT_EQ(library.SetActiveMachine(nullptr, u"machine"), 0);
    char text[1024] = "untouched";
    EXPECT_EQ(library.GetMachineInformation(nullptr, 1, 0, text), 0);
    EXPECT_STREQ(text, "untouched");
}

TEST_F(MachineLoginTest, DataServerInOtherLettersKeepsTheChannelAndHandsOutTheMaintenance)
{
    std::string address = server.Address();
    std::string tail = address.substr(address.find('.'));
    server.NameDataServer("0X7F" + tail, 6);
    OpenMachine(Utf8ToUtf16("0x7f" + tail));

    uint32_t maintenance = 0;
    uint32_t lockedout = 9;
    EXPECT_TRUE(library.AuthenticateMachine(channel, &maintenance, &lockedout));
    EXPECT_EQ(maintenance, 6u);
    EXPECT_EQ(lockedout, 0u);
    EXPECT_EQ(server.Server().Log().ConnectionCount(), 1u);
    EXPECT_EQ(server.RequestCount(CCreatePacket::kMachineAuthentication), 2u);
}

TEST_F(MachineLoginTest, AnotherDataServerTakesTheChannelAndTheSecondLogin)
{
    LoginServer dataServer;
    ASSERT_TRUE(dataServer.Started());
    server.NameDataServer(dataServer.Address());
    OpenMachine(server.Address16());
    EXPECT_EQ(server.RequestCount(CCreatePacket::kMachineAuthentication), 1u);
    EXPECT_EQ(dataServer.RequestCount(CCreatePacket::kMachineAuthentication), 1u);
    EXPECT_EQ(dataServer.RequestCount(CCreatePacket::kGetSettings), 0u);

    // Now the data server sends the channel back; the maintenance word is the one of the
    // login there, not the one of the settings.
    dataServer.NameDataServer(server.Address(), 9);
    LoginReplyFields reply;
    reply.maintenance = 4;
    server.Logins().SetLoginReply(reply);
    uint32_t maintenance = 0;
    uint32_t lockedout = 0;
    EXPECT_TRUE(library.AuthenticateMachine(channel, &maintenance, &lockedout));
    EXPECT_EQ(maintenance, 4u);
    EXPECT_EQ(dataServer.RequestCount(CCreatePacket::kMachineAuthentication), 2u);
    EXPECT_EQ(dataServer.RequestCount(CCreatePacket::kGetSettings), 1u);
    EXPECT_EQ(server.RequestCount(CCreatePacket::kMachineAuthentication), 2u);
    EXPECT_EQ(server.RequestCount(CCreatePacket::kGetSettings), 1u);
}

TEST_F(MachineLoginTest, VerifyServerFillsTheWholeBufferAndRefusesAnOverlongName)
{
    OpenUser();
    const std::string longest(64, 'd');
    server.NameDataServer(longest, 3);
    std::vector<char> named(KELVANE_DATA_SERVER_SIZE, 'x');
    uint32_t maintenance = 0;
    EXPECT_TRUE(library.VerifyServer(channel, named.data(), &maintenance));
    EXPECT_EQ(std::string(named.data(), 64), longest);
    EXPECT_EQ(std::string(named.data() + 64, named.size() - 64), std::string(960, '\0'));
    EXPECT_EQ(maintenance, 3u);

    server.NameDataServer(std::string(65, 'd'));
    std::fill(named.begin(), named.end(), 'x');
    EXPECT_FALSE(library.VerifyServer(channel, named.data(), &maintenance));
    EXPECT_EQ(std::string(named.begin(), named.end()), std::string(named.size(), 'x'));
}

TEST_F(MachineLoginTest, WebPortalAnswersThenDropsTheConnectionThatTheNextCommandRestores)
{
    server.Server().Model().Service().With([](ServiceState& state) {
        state.webPortalEnabled = 5;
    });
    OpenUser();
    uint32_t enabled = 0;
    EXPECT_EQ(library.WebPortalIsEnabled(channel, &enabled), 1);
    EXPECT_EQ(enabled, 5u);
    EXPECT_TRUE(server.Server().Log().WaitForRequests(CCreatePacket::kDisconnect, 1,
                                                      std::chrono::seconds(10)));
    size_t connections = server.Server().Log().ConnectionCount();

    AddMachine(7, "key-7");
    EXPECT_EQ(library.SetActiveMachine(channel, u"machine-7"), 1);
    EXPECT_EQ(server.Server().Log().ConnectionCount(), connections + 1);
    EXPECT_EQ(server.Logins().Logins().size(), 2u);
}

TEST_F(MachineLoginTest, WebPortalNeedsAnAuthenticatedChannel)
{
    channel = library.OpenChannelNoUser(server.Address16().c_str(), 0, u"", 0, u"", u"");
    ASSERT_NE(channel, nullptr);
    uint32_t enabled = 7;
    EXPECT_EQ(library.WebPortalIsEnabled(channel, &enabled), 0);
    EXPECT_EQ(enabled, 0u);
    EXPECT_EQ(server.RequestCount(CCreatePacket::kIsWebPortalEnabledEx), 0u);
}

TEST_F(MachineLoginTest, SetActiveMachineHandsTheServersWordThrough)
{
    server.Server().Commands().Set(CCreatePacket::kSetActiveMachine,
                                   [](RequestReader&, ReplyWriter& reply, ServerModel&) {
                                       reply.PutU32(2);
                                       reply.PutU32(0);
                                   });
    OpenUser();
    EXPECT_EQ(library.SetActiveMachine(channel, u"anything"), 2);
    EXPECT_EQ(library.SetActiveMachine(channel, nullptr), 0);
    EXPECT_EQ(server.RequestCount(CCreatePacket::kSetActiveMachine), 1u);
}

TEST_F(MachineLoginTest, MachineInformationCopiesTheKeyAndRefusesWhatDoesNotFit)
{
    AddMachine(0x100000007ull, "key-of-seven");
    AddMachine(8, std::string(1024, 'k'));
    OpenUser();
    std::vector<char> text(1024, 'x');
    EXPECT_EQ(library.GetMachineInformation(channel, 7, 1, text.data()), 1);
    EXPECT_STREQ(text.data(), "key-of-seven");

    std::fill(text.begin(), text.end(), 'x');
    EXPECT_EQ(library.GetMachineInformation(channel, 8, 0, text.data()), 0);
    EXPECT_EQ(library.GetMachineInformation(channel, 9, 0, text.data()), 0);
    EXPECT_EQ(std::string(text.begin(), text.end()), std::string(text.size(), 'x'));
}

TEST_F(MachineLoginTest, NullOutPointersReceiveNothing)
{
    channel = library.OpenChannel(server.Address16().c_str(), u"alice", u"secret", nullptr, 0,
                                  u"", 0, u"", u"");
    ASSERT_NE(channel, nullptr);
    EXPECT_TRUE(library.VerifyServer(channel, nullptr, nullptr));
    EXPECT_EQ(library.WebPortalIsEnabled(channel, nullptr), 1);
    AddMachine(3, "key-3");
    EXPECT_EQ(library.GetMachineInformation(channel, 3, 0, nullptr), 1);
    // A user's channel holds no machine key: the machine login cannot succeed.
    EXPECT_FALSE(library.AuthenticateMachine(channel, nullptr, nullptr));
}
