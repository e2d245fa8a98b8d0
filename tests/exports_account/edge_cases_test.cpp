// A machine key that the server refuses still stays with the channel: the next login that
// the channel makes is made with it.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "MemberChannelTest.h"
#include "connection/CCreatePacket.h"
#include "support/KelvaneLibrary.h"

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
