// The trace that the restore and parameter exports leave, read from the log of the host
// program run in a folder of its own: entry, error, "var: ", information and exit lines with
// their line numbers, for each way out.
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "support/BlockFileWriter.h"
#include "support/HostProgram.h"
#include "support/LoginServer.h"
#include "support/TempDir.h"
#include "tools/server/DownloadHandlers.h"

namespace {

class RestoreTraceTest : public testing::Test {
protected:
    static constexpr DownloadHandlers::FileCodes kCodes{11, 22, 33, 12, 7};
    static constexpr const char* kCodeWords = "11 22 33 12 7";

    void SetUp() override
    {
        ASSERT_TRUE(server.Started()) << "port 443 of loopback not bound";
        files.Register(server.Server().Commands());
    }

    // Runs the steps on a user's channel.
    void Run(const std::string& steps)
    {
        output = host.Run("open-user " + server.Address() + " alice secret " + steps);
        lines = host.TraceLines();
    }
    std::string Hybrid(const std::string& blockFile, const std::string& destination)
    {
        return std::string("restore-hybrid ") + kCodeWords + " '" + folder.path().string() + "' " +
               blockFile + " '" + (folder.path() / destination).string() + "' ";
    }
    TempDir folder;
    HostProgram host{folder.path()};
    DownloadHandlers files;
    LoginServer server;
    std::string output;
    std::vector<std::string> lines;
};

} // namespace

TEST_F(RestoreTraceTest, RestoreFileEntersAndLeavesWithItsResult)
{
    files.AddFile(kCodes, "restored contents", 0);
    Run(std::string("restore-file ") + kCodeWords + " restored.txt note: restore-file 1 2 3 4 5 " +
        "other.txt note:");
    EXPECT_TRUE(HasInOrder(lines, {
        "{ RestoreFile():637",
        "} RestoreFile():655 -> 1",
        "{ RestoreFile():637",
        "} RestoreFile():655 -> 0",
    })) << output;
    std::ifstream restored(folder.path() / "restored.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(restored), {}), "restored contents");
    // The note of the last call, in the host's current directory.
    std::ifstream note(folder.path() / "Log.txt", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(note), {}),
              std::string("n\0o\0t\0e\0:\0o\0t\0h\0e\0r\0.\0t\0x\0t\0", 28));
}

TEST_F(RestoreTraceTest, HybridRestoreLogsTheMoveOfTheRebuiltFile)
{
    files.AddFile(kCodes, "server copy", 0);
    BlockFileWriter(11, 1).Write(0, "SERVER").Save(folder.path() / "blocks.dat");
    Run(Hybrid("blocks.dat", "version.txt"));
    const std::string base = folder.path().string() + "\\";
    EXPECT_TRUE(HasInOrder(lines, {
        "{ RestoreHybridFile():661",
        " Move File " + base + "12_7.tmp to " + (folder.path() / "version.txt").string(),
        "} RestoreHybridFile():712 -> 1",
    })) << output;
    EXPECT_EQ(CountContaining(lines, "Error"), 0u);
    std::ifstream version(folder.path() / "version.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(version), {}), "SERVER copy");
}

TEST_F(RestoreTraceTest, HybridRestoreFailuresWriteTheirLinesAndExits)
{
    BlockFileWriter(11, 1).Write(0, "SERVER").Save(folder.path() / "blocks.dat");
    BlockFileWriter(11, 1)
        .Record(1, 0, "SERVER", BlockFileWriter::Crc("SERVER") + 1)
        .Save(folder.path() / "damaged.dat");
    // Missing block file; file refused by the server; then (once served) a damaged block
    // file, and a destination that exists.
    Run(Hybrid("absent.dat", "v1") + Hybrid("blocks.dat", "v2"));
    files.AddFile(kCodes, "server copy", 0);
    std::ofstream(folder.path() / "v4") << "taken";
    const std::vector<std::string> first = lines;
    Run(Hybrid("damaged.dat", "v3") + Hybrid("blocks.dat", "v4"));
    EXPECT_TRUE(HasInOrder(first, {
        "{ RestoreHybridFile():661",
        ErrorAt("RestoreHybridFile", 678) + " - ErrCode: 0x2 ",
        "# ReadHeader has failed.",
        "} RestoreHybridFile():679 -> 0",
        "{ RestoreHybridFile():661",
        ErrorAt("RestoreHybridFile", 691),
        "# GetFile has failed.",
        "} RestoreHybridFile():692 -> 0",
    })) << output;
    const std::string damaged = folder.path().string() + "\\damaged.dat";
    EXPECT_TRUE(HasInOrder(lines, {
        "{ RestoreHybridFile():661",
        ErrorAt("RestoreHybridFile", 698),
        "# Create Version On Disk failed.",
        " var: reason = CBlocks::CreateVersionOnDisk ReadBlock failed on (" + damaged + ")",
        "} RestoreHybridFile():712 -> 0",
        "{ RestoreHybridFile():661",
        " Move File ",
        ErrorAt("RestoreHybridFile", 707) + " - ErrCode: 0xb7 ",
        "# Move file Has failed.",
        "} RestoreHybridFile():712 -> 0",
    })) << output;
    EXPECT_EQ(CountContaining(lines, "Move File "), 1u);
}

TEST_F(RestoreTraceTest, ParameterRefusalsNameTheirStep)
{
    const std::string piece = "0123456789ABCDEF0123456789ABCDEF";
    Run("set-parameters a b c d set-parameters '' b c d set-parameters a '' c d "
        "set-parameters a b '' '' get-parameters x " + piece + " " + piece);
    EXPECT_TRUE(HasInOrder(lines, {
        "{ SetParameters():1258",
        "} SetParameters():1305 -> 1",
        "{ SetParameters():1258",
        ErrorAt("SetParameters", 1301),
        "# Set Paramters failed. step 1",
        "} SetParameters()",
        "{ SetParameters():1258",
        ErrorAt("SetParameters", 1296),
        "# Set Paramters failed. step 2",
        "{ SetParameters():1258",
        "} SetParameters():1305 -> 1",
        "{ GetParameters():1310",
        ErrorAt("GetParameters", 1348),
        "# Get Paramters failed. step 1",
        "} GetParameters()",
    })) << output;
    EXPECT_EQ(CountContaining(lines, "} SetParameters()"), 4u);
    EXPECT_EQ(CountContaining(lines, "} SetParameters():1305"), 2u);
}
