// The trace that the exported functions leave when "QV_LOG.INI" asks for one. The trace log
// is process-wide and reads its settings once, so each case runs the host program in a
// folder of its own that holds the settings, and reads the log the host left there.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/HostProgram.h"
#include "support/LoginServer.h"
#include "support/TempDir.h"

namespace {

class TraceTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.Started()); }

    TempDir folder;
    HostProgram host{folder.path()};
    LoginServer server;
};

} // namespace

TEST_F(TraceTest, OpenAndCloseWriteEntryVariablesResultsAndExits)
{
    host.Run("open-user " + server.Address() + " alice secret close");
    std::vector<std::string> lines = host.TraceLines();
    const std::string address = server.Address();
    EXPECT_TRUE(HasInOrder(lines, {
        "{ OpenChannel():147",
        " var: ServerURL = " + address,
        " var: UserName = alice",
        " var: useProxy = 0",
        " var: ProxyHost = ",
        " var: ProxyPort = 0",
        " var: username = ",
        " { STRING_ISNULLOREMPTY():94",
        " } STRING_ISNULLOREMPTY():110 -> 0",
        " var: Data.wVersion = 257",
        " { AuthenticateUser():42",
        "  { VerifyServer():2740",
        "   var: &tmpdataserver[0] = " + address,
        "   Get settings succeed!",
        "   var: dataserver = " + address,
        "  } VerifyServer():2774 -> 1",
        " } AuthenticateUser():71 -> 1",
        " var: isAuthenticated = 1",
        "{ CloseChannel():483",
        "} CloseChannel()",
    }));
    EXPECT_EQ(CountContaining(lines, "} OpenChannel():265 -> "), 1u);
    EXPECT_EQ(CountContaining(lines, "secret"), 0u);
}

TEST_F(TraceTest, FailuresWriteTheirErrorLinesAndExitNumbers)
{
    const std::string address = server.Address();
    host.Run("open-user " + address + " ' \t' secret open-user " + address +
            " alice wrong open-machine " + NextLoopbackAddress() + " key");
    std::vector<std::string> lines = host.TraceLines();
    EXPECT_TRUE(HasInOrder(lines, {
        "{ OpenChannel():147",
        " var: UserName =  \t",
        " } STRING_ISNULLOREMPTY():110 -> 1",
        "# #Error:   in File: Kelvane Function: OpenChannel at line: 158",
        "# Mandatory field are null or empty",
        "} OpenChannel():159 -> 0000000000000000",
        "{ OpenChannel():147",
        " { AuthenticateUser():42",
        "## #Error:   in File: Kelvane Function: AuthenticateUser at line: 63",
        "## Unable to verify server.",
        " } AuthenticateUser():65 -> 0",
        " var: isAuthenticated = 0",
        "} OpenChannel():265 -> 0000000000000000",
        "{ OpenChannelEx():278",
        " var: MachineLicence = key",
        "# #Error:   in File: Kelvane Function: OpenChannelEx at line: 391",
        "# Connect has failed.",
        " var: isAuthenticated = 0",
        "} OpenChannelEx():402 -> 0000000000000000",
    }));
    // The refused text stops the first open before Winsock is started.
    EXPECT_EQ(CountContaining(lines, "var: Data.wVersion"), 2u);
    EXPECT_EQ(CountContaining(lines, "var: &buffer[0] = "), 1u);
    EXPECT_EQ(CountContaining(lines, "secret"), 0u);
    EXPECT_EQ(CountContaining(lines, "wrong"), 0u);
}

TEST_F(TraceTest, MachineLoginMovesWithAWarningAndCommandsTraceTheirOutcome)
{
    LoginServer dataServer;
    ASSERT_TRUE(dataServer.Started());
    server.NameDataServer(dataServer.Address());
    host.Run("open-machine " + server.Address() + " machine-key web-portal machine-info 99 " +
            "set-active-machine nowhere close");
    std::vector<std::string> lines = host.TraceLines();
    EXPECT_TRUE(HasInOrder(lines, {
        "{ OpenChannelEx():278",
        " { AuthenticateMachine():2670",
        "  } VerifyServer():2774 -> 1",
        "  var: &myhost[0] = " + dataServer.Address(),
        "  var: mysocket->m_host = " + server.Address(),
        "  !Warning: Comparison failed.",
        "  { ConnectServer():22",
        "  } ConnectServer():35 -> 1",
        "  var: maintenance = 0",
        "  var: lockedout = 0",
        " } AuthenticateMachine():2735 -> 1",
        " var: isAuthenticated = 1",
        "{ WebPortalIsEnabled():2779",
        " var: IsEnabled = 0",
        "} WebPortalIsEnabled():2795 -> 1",
        "{ GetMachineInformation():505",
        " var: MachineCode = 99",
        "# #Error:   in File: Kelvane Function: GetMachineInformation at line: 521",
        "# Unable to get machine authentication.",
        "} GetMachineInformation():524 -> 0",
        "{ SetActiveMachine():498",
        "} SetActiveMachine():500 -> 0",
    }));
    EXPECT_EQ(CountContaining(lines, "machine-key"), 1u);
}
