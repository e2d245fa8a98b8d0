// The trace that the local service, account and enrolment exports leave, read from the log of
// the host program run in a folder of its own: entry lines, "var: " lines, information,
// warning and error lines with their line numbers, and the exit lines of each way out.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "MemberServer.h"
#include "service/StandinService.h"
#include "support/HostProgram.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "tools/server/CommandHandlers.h"

namespace {

class AccountTrace : public testing::Test {
protected:
    void Run(const std::string& steps)
    {
        output = host.Run(steps);
        lines = host.TraceLines();
    }

    TempDir folder;
    TempDir pipes;
    ScopedEnv pipeFolder{"KELVANE_PIPE_DIR", pipes.path().string()};
    HostProgram host{folder.path()};
    std::string output;
    std::vector<std::string> lines;
};

// The host spends its connection attempts (about 2 s) on each of the two calls.
TEST_F(AccountTrace, ServiceCallsWithoutAServiceWarnAndReportNothing)
{
    Run("backup-now user-status");
    EXPECT_TRUE(HasInOrder(lines, {
        "{ BackupNow():1359",
        " Service client try to connect",
        " !Warning: Service client connect failed.",
        " Service client send command COMMAND_SCHEDULED_SELECTIONS",
        " !Warning: Service client send command COMMAND_SCHEDULED_SELECTIONS failed.",
        " Service client send command COMMAND_BACKUP_NOW",
        " !Warning: Service client send command COMMAND_BACKUP_NOW failed.",
        "} BackupNow():1390 -> 0",
        "{ GetUserStatus():2953",
        " !Warning: Service client connection failed.",
        " !Warning: Service client send command COMMAND_STATUS_FIRSTCALL failed.",
        " var: datalen = 0",
        "} GetUserStatus():3009 -> 0",
    })) << output;
    EXPECT_EQ(CountContaining(lines, "var: statusFlags"), 0u);
}

TEST_F(AccountTrace, ServiceStatusValuesAreTraced)
{
    StandinService service(pipes.path().string());
    StatusReply status;
    status.totalProgress = 40;
    status.estimatedFiles = 9;
    status.backedUpFiles = 4;
    status.progressStatusFile = u"progress.txt";
    status.stepStatusFile = u"step.txt";
    status.stepStatusCode = 3;
    status.animate = 2;
    status.userStatusFlags = {0, 1, 0, 0};
    service.SetStatus(status);
    service.SetReply(7, {0x2A, 0, 0, 0});
    ASSERT_TRUE(service.Start());
    Run("progress-status current-step is-animate user-status backup-now");
    EXPECT_TRUE(HasInOrder(lines, {
        "{ GetProgressStatus():1424",
        " var: datalen = ",
        " var: totalProgress = 40",
        " var: EstimatedBackupFilesCount = 9",
        " var: CurrentBackedUpFilesCount = 4",
        " var: LastStatusFile = progress.txt",
        "} GetProgressStatus()",
        "{ GetCurrentStep():1469",
        " var: StepStatusCode = 3",
        " var: LastStatusFile = step.txt",
        "} GetCurrentStep()",
        "{ IsAnimate():1554",
        " var: Status.m_animate = 2",
        "} IsAnimate():1591 -> 0",
        "{ GetUserStatus():2953",
        " var: statusFlags = 4",
        "} GetUserStatus():3009 -> 1",
        "{ BackupNow():1359",
        "} BackupNow():1390 -> 2a",
    })) << output;
    EXPECT_EQ(CountContaining(lines, "Warning"), 0u);
    EXPECT_NE(output.find("progress 40  files 4 of 9  \"progress.txt\""), std::string::npos);
}

class MemberTrace : public AccountTrace {
protected:
    void SetUp() override { ASSERT_TRUE(server.Started()) << "port 443 of loopback not bound"; }

    void RunAsUser(const std::string& steps)
    {
        Run("open-user " + server.Address() + " alice secret " + steps);
    }

    MemberServer server;
};

TEST_F(MemberTrace, RefusalsCarryTheirStatusWordsAndNoPassword)
{
    server.AnswerWith(ServerCommand::kCreateMachineByAuth, WireBytes().U32(0).U32(5).Get());
    RunAsUser("check-username bob update-user-info bob Hunter2 b@x en Bob B 1 "
              "update-member-info alice Hunter3 a@x en Al A 2 create-account "
              "create-machine-auth laptop");
    EXPECT_TRUE(HasInOrder(lines, {
        "{ CheckUsername():1236",
        " var: username = bob",
        " var: reasoncode = 1",
        ErrorAt("CheckUsername", 1248),
        "# Check user name failed.",
        "} CheckUsername():1252 -> 0",
        "{ UpdateUserInformation():2240",
        " var: username = bob",
        " password is filled.",
        " var: emailaddress = b@x",
        " var: phonenumber = 1",
        " var: reasoncode = 1",
        ErrorAt("UpdateUserInformation", 2267),
        "# Unable to modify member.",
        "} UpdateUserInformation()",
        "{ UpdateMemberExtendedInfo():2026",
        " var: username = alice",
        " password is filled.",
        " var: email = a@x",
        "} UpdateMemberExtendedInfo():2065 -> 1",
        "{ CreateAccount():2471",
        ErrorAt("CreateAccount", 2472),
        "# Obsolete Method.",
        "} CreateAccount():2474 -> 0",
        "{ CreateMachineAuth():2579",
        " var: memberauth = member-auth-7",
        " var: reasoncode = 5",
        ErrorAt("CreateMachineAuth", 2599),
        "# Create machine by authentication failed. SOURCE_KORVEXA_CLIENT_x86 ",
        "} CreateMachineAuth():2608 -> 0",
    })) << output;
    EXPECT_EQ(CountContaining(lines, "} UpdateUserInformation():"), 0u);
    EXPECT_EQ(CountContaining(lines, "Hunter"), 0u);
}

TEST_F(MemberTrace, MemberInformationAndStatistics)
{
    server.Store([](ServiceState& state) {
        for (DWORD i = 0; i < 6; ++i)
            state.member.extendedValues[i] = i + 1;
        state.member.stats = {{1, 2, 3}, {4, 5, 6}};
    });
    RunAsUser("member-info member-stats");
    EXPECT_TRUE(HasInOrder(lines, {
        "{ GetMemberExtendedInformation():1980",
        " var: Suspended = 1",
        " var: Cancelled = 2",
        " var: Activated = 4",
        " var: Deleted = 3",
        "} GetMemberExtendedInformation():2013 -> 1",
        "{ GetMemberStats():2914",
        " !Warning: Member stats found.",
        " var: count = 2",
        "} GetMemberStats()",
    })) << output;
    EXPECT_EQ(CountContaining(lines, "} GetMemberStats():"), 0u);
}

TEST_F(MemberTrace, ChecksOfTheChannel)
{
    Run("open-nouser " + server.Address() + " delete-member bob account-info close " +
        "delete-member bob member-auth delete-folder 1 2 3 create-machine-auth a " +
        "create-machine-auth-ex a");
    EXPECT_TRUE(HasInOrder(lines, {
        "{ DeleteMember():3014",
        " var: username = bob",
        ErrorAt("DeleteMember", 3033),
        "# Authentication failed.",
        "} DeleteMember():3041 -> 0",
        "{ GetAccountInformation():2079",
        ErrorAt("GetAccountInformation", 2096),
        "} GetAccountInformation():2104 -> 0",
        "{ DeleteMember():3014",
        ErrorAt("DeleteMember", 3038),
        "# No socket has opened.",
        "} DeleteMember():3041 -> 0",
        "{ GetMemberAuth():2888",
        ErrorAt("GetMemberAuth", 2906),
        "} GetMemberAuth():2909 -> 0",
        "{ DeleteServerFolderEx():2551",
        " var: machineid = 1",
        " var: volumeid = 2",
        " var: foldercode = 3",
        ErrorAt("DeleteServerFolderEx", 2570),
        "} DeleteServerFolderEx():2573 -> 0",
        "{ CreateMachineAuth():2579",
        "} CreateMachineAuth():2608 -> 0",
        "{ CreateMachineAuthEx():2613",
        ErrorAt("CreateMachineAuthEx", 2662),
        "# No socket has opened.",
        "} CreateMachineAuthEx():2665 -> 0",
    })) << output;
    EXPECT_EQ(CountContaining(lines, "Function: CreateMachineAuth at line"), 0u);
}

TEST_F(MemberTrace, EnrolmentAndServerFiles)
{
    RunAsUser("create-machine-auth laptop delete-file 1 2 3 4 5 bucket-details unknown-key");
    EXPECT_TRUE(HasInOrder(lines, {
        "{ CreateMachineAuth():2579",
        " var: memberauth = member-auth-7",
        " var: &machinename[0] = ",
        "} CreateMachineAuth():2608 -> 1",
        "{ DeleteServerFileEx():2515",
        " var: machineid = 1",
        " var: archivecode = 5",
        " var: reasoncode = 7",
        ErrorAt("DeleteServerFileEx", 2532),
        "# Unable to delete file",
        "} DeleteServerFileEx():2540 -> 0",
        "{ GetMachineBucketDetails():2800",
        " var: machineauth = unknown-key",
        " var: lockedout = 0",
        " var: maintenance = 0",
        ErrorAt("GetMachineBucketDetails", 2847),
        "# Authenticate machine failed.",
        " var: quota = 0",
        " var: used = 0",
        " var: expirygmt = 0",
        " var: posapos = 0",
        " var: suspendbackup = 0",
        " var: suspendaccount = 0",
        " var: suspendmember = 0",
        " var: PucharseId = ",
        " var: SubcriptionId = ",
        " var: isMigrated = 0",
        "} GetMachineBucketDetails():2855 -> 0",
    })) << output;
}

} // namespace
