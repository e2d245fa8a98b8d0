// C hosts linked to libkelvane.so that do what a host may legally do and the library must
// survive: export functions of the library's own names, cancel a thread inside an export.
// Each runs as a program of its own, so its symbols, its threads and the sanitizers' reports
// at its exit are its own.
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/CommandOutput.h"
#include "support/HostProgram.h"
#include "support/LoginServer.h"
#include "support/TempDir.h"

namespace {

// Runs the host in folder (where the trace settings are) with the argument; gives what it
// printed, sanitizer reports included, and its exit status.
std::string RunHost(const std::string& program, const std::filesystem::path& folder,
                    const std::string& argument, const std::string& environment = "")
{
    return CommandOutput("cd '" + folder.string() + "' && " + environment + " '" + program +
                         "' " + argument + " 2>&1; echo \"exit $?\"");
}

// The unwind of a thread's cancellation passes AddressSanitizer's stack bookkeeping by, so
// the frames it removed stay poisoned; the sanitizer's own stack clean-up at the next landing
// pad then reads the alternate-stack record into that stale poison through its sigaltstack
// interceptor. That one report is the sanitizer's, not the library's: it is suppressed,
// every other check stays on.
std::string SanitizerSuppressingStaleUnwindPoison(const std::filesystem::path& folder)
{
    const std::filesystem::path suppressions = folder / "asan.supp";
    std::ofstream(suppressions) << "interceptor_name:sigaltstack\n";
    return "ASAN_OPTIONS=\"$ASAN_OPTIONS:suppressions=" + suppressions.string() + "\"";
}

} // namespace

TEST(LinkedHostTest, HostFunctionsOfTheLibrarysNamesDoNotReplaceItsLoginSteps)
{
    LoginServer server;
    ASSERT_TRUE(server.Started());
    TempDir folder;
    EXPECT_EQ(RunHost(InterposingHost_PATH, folder.path(), server.Address()),
              "user opened, flags 0x1e0\n"
              "machine opened, flags 0x1e0\n"
              "host functions called 0 times\n"
              "exit 0\n");
}

TEST(LinkedHostTest, ThreadCancelledInsideAnExportEndsAndTheHostGoesOn)
{
    TempDir folder;
    HostProgram trace{folder.path()};
    EXPECT_EQ(RunHost(CancellingHost_PATH, folder.path(), "",
                      SanitizerSuppressingStaleUnwindPoison(folder.path())),
              "thread cancelled\n"
              "blank server not opened\n"
              "exit 0\n");
    // The cancelled call leaves its scope as it unwinds; the host's next call traces from the
    // top again.
    std::vector<std::string> lines = trace.TraceLines();
    EXPECT_TRUE(HasInOrder(lines, {"{ OpenChannelNoUser():413", "} OpenChannelNoUser()",
                                   "{ OpenChannelNoUser():413",
                                   "} OpenChannelNoUser():418 -> 0"}));
}
