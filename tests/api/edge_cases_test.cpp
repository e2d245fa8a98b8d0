// A machine login that the server refuses on a channel that is already open, through the
// exported function and in the trace it leaves.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "connection/CCreatePacket.h"
#include "support/HostProgram.h"
#include "support/KelvaneLibrary.h"
#include "support/LoginServer.h"
#include "support/TempDir.h"

TEST(RefusedMachineLogin, AuthenticateMachineFailsAtTheSettingsCheck)
{
    LoginServer server;
    ASSERT_TRUE(server.Started()) << "port 443 of loopback not bound";
    KelvaneLibrary& library = KelvaneLibrary::Get();
    uint32_t flags = 0;
    Csocketclient* channel = library.OpenChannelEx(server.Address16().c_str(),
                                                   LoginServer::kMachineKey, &flags, 0, u"", 0,
                                                   u"", u"");
    ASSERT_NE(channel, nullptr);

    LoginReplyFields refusal;
    refusal.refusalFlag = 1;
    refusal.maintenance = 6;
    server.Logins().SetLoginReply(refusal);
    uint32_t maintenance = 7;
    uint32_t lockedout = 7;
    EXPECT_FALSE(library.AuthenticateMachine(channel, &maintenance, &lockedout));
    // The login itself went through and filled the caller's words; the refusal shows only
    // when the settings are asked for.
    EXPECT_EQ(maintenance, 6u);
    EXPECT_EQ(lockedout, 0u);
    EXPECT_GE(server.RequestCount(CCreatePacket::kMachineAuthentication), 2u);
    library.CloseChannel(channel);
}

TEST(RefusedMachineLogin, TheTraceNamesTheFailedServerCheck)
{
    LoginServer server;
    ASSERT_TRUE(server.Started()) << "port 443 of loopback not bound";
    TempDir folder;
    HostProgram host{folder.path()};
    host.Run("open-machine " + server.Address() + " unknown-key");
    std::vector<std::string> lines = host.TraceLines();
    EXPECT_TRUE(HasInOrder(lines, {
        "{ OpenChannelEx():278",
        " { AuthenticateMachine():2670",
        "#" + ErrorAt("AuthenticateMachine", 2691),
        "## Verify Server failed.",
        " } AuthenticateMachine():2693 -> 0",
        " var: isAuthenticated = 0",
        "} OpenChannelEx():",
    }));
    EXPECT_EQ(CountContaining(lines, "unknown-key"), 1u);
}
