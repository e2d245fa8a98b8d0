// The trace that the exported functions leave when "QV_LOG.INI" asks for one. The trace log
// is process-wide and reads its settings once, so each case runs the host program in a
// folder of its own that holds the settings, and reads the log the host left there.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/KelvaneLibrary.h"
#include "support/LoginServer.h"
#include "platform/text.h"
#include "support/TempDir.h"

namespace {

class TraceTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Started());
        std::ofstream settings(folder.path() / "QV_LOG.INI");
        settings << "[log]\npath=" << (folder.path() / "trace").string() << "\nnotimestamp=1\n";
    }

    // Runs kelvane-host with these steps in the test's folder; gives what it printed.
    std::string RunHost(const std::string& steps)
    {
        std::string binaries = std::getenv("KELVANE_TEST_BINARY_DIR");
        std::string command = "cd '" + folder.path().string() + "' && '" + binaries +
                              "/tools/kelvane-host' --library '" + KelvaneLibrary::Path() +
                              "' " + steps + " 2>&1";
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
        std::string output;
        char buffer[4096];
        size_t count = 0;
        while ((count = std::fread(buffer, 1, sizeof(buffer), pipe.get())) > 0)
            output.append(buffer, count);
        return output;
    }

    // The log's lines as UTF-8, without their time prefix "[hh:mm:ss] ".
    std::vector<std::string> TraceLines() const
    {
        std::ifstream file(folder.path() / "trace.log", std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::u16string text;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          static_cast<unsigned char>(bytes[i + 1]) << 8);
        std::string utf8 = Utf16ToUtf8(text);
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t end = utf8.find("\r\n"); end != std::string::npos;
             start = end + 2, end = utf8.find("\r\n", start)) {
            std::string line = utf8.substr(start, end - start);
            lines.push_back(line.size() >= 11 && line[0] == '[' ? line.substr(11) : line);
        }
        return lines;
    }

    TempDir folder;
    LoginServer server;
};

// Whether lines starting with the expected texts come in this order (others may come between).
testing::AssertionResult HasInOrder(const std::vector<std::string>& lines,
                                    const std::vector<std::string>& expected)
{
    size_t found = 0;
    for (const std::string& line : lines) {
        if (found < expected.size() && line.rfind(expected[found], 0) == 0)
            ++found;
    }
    if (found == expected.size())
        return testing::AssertionSuccess();
    std::string all;
    for (const std::string& line : lines)
        all += line + "\n";
    return testing::AssertionFailure() << "missing \"" << expected[found] << "\" in:\n" << all;
}

size_t CountContaining(const std::vector<std::string>& lines, const std::string& text)
{
    size_t count = 0;
    for (const std::string& line : lines)
        count += line.find(text) != std::string::npos ? 1 : 0;
    return count;
}

} // namespace

TEST_F(TraceTest, OpenAndCloseWriteEntryVariablesResultsAndExits)
{
    RunHost("open-user " + server.Address() + " alice secret close");
    std::vector<std::string> lines = TraceLines();
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
    RunHost("open-user " + address + " ' \t' secret open-user " + address +
            " alice wrong open-machine " + NextLoopbackAddress() + " key");
    std::vector<std::string> lines = TraceLines();
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
    RunHost("open-machine " + server.Address() + " machine-key web-portal machine-info 99 " +
            "set-active-machine nowhere close");
    std::vector<std::string> lines = TraceLines();
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
