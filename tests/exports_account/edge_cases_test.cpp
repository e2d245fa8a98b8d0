// A machine key that the server refuses still stays with the channel: the next login that
// the channel makes is made with it. A member authentication text that the server refuses
// stops the enrolment before any machine is created. An empty password leaves no word of a
// password in the trace, and a locked-out member is warned of, not enrolled.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "MemberChannelTest.h"
#include "connection/CCreatePacket.h"
#include "support/HostProgram.h"
#include "support/KelvaneLibrary.h"
#include "support/TempDir.h"
#include "tools/server/CommandHandlers.h"

TEST_F(MemberChannelTest, ARefusedBucketKeyStaysWithTheChannel)
{
    uint64_t quota = 1, used = 1, expirygmt = 1;
    uint32_t value = 1, posapos = 1, suspendbackup = 1, suspendmember = 1, suspendaccount = 1;
    uint32_t migrated = 1;
    char16_t expiry[20] = u"unset";
    char16_t purchase[1024] = u"unset";
    char16_t subscription[1024] = u"unset";
    EXPECT_EQ(EXPORT(GetMachineBucketDetails)(channel, u"unknown-key", &quota, &used, &expirygmt,
                                              &value, &posapos, &suspendbackup, &suspendmember,
                                              &suspendaccount, expiry, 20, purchase,
                                              subscription, &migrated),
              0);

    uint32_t maintenance = 0;
    uint32_t lockedout = 0;
    EXPECT_FALSE(EXPORT(AuthenticateMachine)(channel, &maintenance, &lockedout));
    std::vector<ReceivedLogin> logins = server.Logins().Logins();
    ASSERT_GE(logins.size(), 2u);
    EXPECT_EQ(logins.back().command, static_cast<DWORD>(CCreatePacket::kMachineAuthentication));
    EXPECT_EQ(logins.back().machineKey, "unknown-key");
}

TEST(RefusedMemberAuthentication, CreateMachineAuthStopsBeforeTheCreation)
{
    MemberServer server;
    ASSERT_TRUE(server.Started()) << "port 443 of loopback not bound";
    server.AnswerWith(ServerCommand::kGetMemberAuth, WireBytes().U32(2).U32(0).Text8("x").Get());
    TempDir folder;
    HostProgram host{folder.path()};
    host.Run("open-user " + server.Address() + " alice secret create-machine-auth laptop");
    std::vector<std::string> lines = host.TraceLines();
    EXPECT_TRUE(HasInOrder(lines, {
        "{ CreateMachineAuth():2579",
        ErrorAt("CreateMachineAuth", 2604),
        "# Get member authentication failed.",
        "} CreateMachineAuth():2608 -> 0",
    }));
    EXPECT_EQ(server.RequestCount(ServerCommand::kCreateMachineByAuth), 0u);
}

TEST(UpdateWithoutPassword, TheTraceSaysNothingOfAPassword)
{
    MemberServer server;
    ASSERT_TRUE(server.Started()) << "port 443 of loopback not bound";
    TempDir folder;
    HostProgram host{folder.path()};
    host.Run("open-user " + server.Address() +
             " alice secret update-user-info carol '' c@x fr Carol Cole 556");
    std::vector<std::string> lines = host.TraceLines();
    EXPECT_TRUE(HasInOrder(lines, {
        "{ UpdateUserInformation():2240",
        " var: username = carol",
        " var: emailaddress = c@x",
        "} UpdateUserInformation()",
    }));
    EXPECT_EQ(CountContaining(lines, "password is filled."), 0u);
}

TEST(LockedOutEnrolment, TheLoginWarnsAndNothingIsAskedFor)
{
    MemberServer server;
    ASSERT_TRUE(server.Started()) << "port 443 of loopback not bound";
    LoginReplyFields fields;
    fields.lockedOut = 1;
    server.Logins().SetLoginReply(fields);
    TempDir folder;
    HostProgram host{folder.path()};
    std::string output =
        host.Run("open-user " + server.Address() + " alice secret create-machine-auth-ex tower");
    std::vector<std::string> lines = host.TraceLines();
    EXPECT_TRUE(HasInOrder(lines, {
        "{ CreateMachineAuthEx():2613",
        " var: maintenance = 0",
        " var: lockedout = 1",
        " !Warning: Authentication user failed.",
        "} CreateMachineAuthEx():2665 -> 0",
    })) << output;
    EXPECT_EQ(CountContaining(lines, "Function: CreateMachineAuthEx at line"), 0u);
    EXPECT_EQ(server.RequestCount(ServerCommand::kGetMemberAuth), 0u);
}
