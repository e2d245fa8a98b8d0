// Enrolling this computer as a machine, reading a machine's bucket details with its key, and
// deleting stored files and folders, against the stand-in server.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "MemberChannelTest.h"
#include "support/KelvaneLibrary.h"
#include "tools/server/CommandHandlers.h"

namespace {

using namespace ServerCommand;

constexpr size_t kHostText = 1024;
constexpr ULONGLONG kMachine = 0x100000005;
constexpr ULONGLONG kVolume = 0x200000009;
constexpr ULONGLONG kFolder = 0x300000001;
constexpr ULONGLONG kFile = 0x400000077;

class Enrolment : public MemberChannelTest {};

TEST_F(Enrolment, GetMemberAuthCopiesTheMembersText)
{
    char text[kHostText] = {};
    EXPECT_EQ(EXPORT(GetMemberAuth)(channel, text), 1);
    EXPECT_STREQ(text, MemberServer::kMemberAuth);
    EXPECT_EQ(EXPORT(GetMemberAuth)(nullptr, text), 0);

    server.AnswerWith(kGetMemberAuth, WireBytes().U32(1).U32(0).Text8(std::string(1024, 'm')).Get());
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(EXPORT(GetMemberAuth)(channel, text), 0);
    EXPECT_EQ(text[0], 'x');
    server.AnswerWith(kGetMemberAuth, WireBytes().U32(2).U32(0).Text8("other").Get());
    EXPECT_EQ(EXPORT(GetMemberAuth)(channel, text), 0);
    EXPECT_EQ(text[0], 'x');
}

TEST_F(Enrolment, CreateMachineAuthEnrolsThisComputer)
{
    char memberAuth[kHostText] = {};
    char key[kHostText] = {};
    ASSERT_EQ(EXPORT(CreateMachineAuth)(channel, memberAuth, "laptop", key), 1);
    EXPECT_STREQ(memberAuth, MemberServer::kMemberAuth);
    StoredMachine machine = server.Store([](ServiceState& state) { return state.machines.back(); });
    EXPECT_EQ(machine.name, u"laptop");
    EXPECT_EQ(machine.sourceId, 53u);
    EXPECT_FALSE(machine.hostName.empty());
    EXPECT_EQ(std::string(key), machine.key);
    EXPECT_EQ(EXPORT(CreateMachineAuth)(channel, nullptr, "desktop", nullptr), 1);
    EXPECT_EQ(EXPORT(CreateMachineAuth)(nullptr, memberAuth, "laptop", key), 0);
}

TEST_F(Enrolment, NoCreationWithoutTheMembersTextOrWhenTheServerRefuses)
{
    char memberAuth[kHostText] = {};
    char key[kHostText] = {};
    server.AnswerWith(kCreateMachineByAuth, WireBytes().U32(0).U32(5).Get());
    EXPECT_EQ(EXPORT(CreateMachineAuth)(channel, memberAuth, "laptop", key), 0);
    EXPECT_EQ(EXPORT(CreateMachineAuthEx)(channel, memberAuth, "laptop", key), 0);
    EXPECT_EQ(server.RequestCount(kCreateMachineByAuth), 2u);
    server.AnswerWith(kGetMemberAuth, WireBytes().U32(2).U32(0).Text8("x").Get());
    EXPECT_EQ(EXPORT(CreateMachineAuth)(channel, memberAuth, "laptop", key), 0);
    EXPECT_EQ(server.RequestCount(kCreateMachineByAuth), 2u);
    EXPECT_EQ(key[0], '\0');
}

TEST_F(Enrolment, CreateMachineAuthExLogsInAgainFirst)
{
    size_t logins = server.Logins().Logins().size();
    char memberAuth[kHostText] = {};
    char key[kHostText] = {};
    ASSERT_EQ(EXPORT(CreateMachineAuthEx)(channel, memberAuth, "tower", key), 1);
    EXPECT_EQ(server.Logins().Logins().size(), logins + 1);
    StoredMachine machine = server.Store([](ServiceState& state) { return state.machines.back(); });
    EXPECT_EQ(machine.sourceId, 56u);
    EXPECT_EQ(std::string(key), machine.key);
    EXPECT_EQ(EXPORT(CreateMachineAuthEx)(nullptr, memberAuth, "tower", key), 0);
}

TEST_F(Enrolment, ALockedOutLoginEnrolsNothing)
{
    LoginReplyFields fields;
    fields.lockedOut = 1;
    server.Logins().SetLoginReply(fields);
    char memberAuth[kHostText] = {};
    char key[kHostText] = {};
    EXPECT_EQ(EXPORT(CreateMachineAuthEx)(channel, memberAuth, "tower", key), 0);
    EXPECT_EQ(server.RequestCount(kGetMemberAuth), 0u);
    EXPECT_EQ(server.RequestCount(kCreateMachineByAuth), 0u);
}

class BucketDetails : public Enrolment {
protected:
    void SetUp() override
    {
        Enrolment::SetUp();
        server.Store([](ServiceState& state) {
            StoredBucket& bucket = state.bucket;
            bucket.quota = 0x500000000;
            bucket.used = 123;
            bucket.expiry = 1700000000;
            for (DWORD i = 0; i < 6; ++i)
                bucket.values[i] = 20 + i;
            bucket.purchaseId = "P-1";
            bucket.subscriptionId = "S-2";
            bucket.migrated = 1;
        });
    }

    int32_t Read(const char16_t* key, char16_t* expiry, int32_t capacity)
    {
        return EXPORT(GetMachineBucketDetails)(channel, key, &quota, &used, &expirygmt, &value,
                                               &posapos, &suspendbackup, &suspendmember,
                                               &suspendaccount, expiry, capacity, purchase,
                                               subscription, &migrated);
    }

    uint64_t quota = 1, used = 1, expirygmt = 1;
    uint32_t value = 1, posapos = 1, suspendbackup = 1, suspendmember = 1, suspendaccount = 1;
    uint32_t migrated = 1;
    char16_t purchase[kHostText] = u"unset";
    char16_t subscription[kHostText] = u"unset";
};

TEST_F(BucketDetails, TheDetailsGoToTheHostsWordsInTheirOrder)
{
    char16_t expiry[20];
    ASSERT_EQ(Read(u"machine-key", expiry, 20), 1);
    EXPECT_EQ(quota, 0x500000000u);
    EXPECT_EQ(used, 123u);
    EXPECT_EQ(expirygmt, 1700000000u);
    EXPECT_EQ(value, 20u);
    EXPECT_EQ(posapos, 21u);
    EXPECT_EQ(suspendbackup, 22u);
    EXPECT_EQ(suspendmember, 23u);
    EXPECT_EQ(suspendaccount, 24u);
    EXPECT_EQ(migrated, 1u);
    EXPECT_EQ(std::u16string(purchase), u"P-1");
    EXPECT_EQ(std::u16string(subscription), u"S-2");
    EXPECT_EQ(std::u16string(expiry), u"2023-11-14 22:13:20");
    std::vector<ReceivedLogin> logins = server.Logins().Logins();
    EXPECT_EQ(logins.back().machineKey, MemberServer::kMachineKey);
}

TEST_F(BucketDetails, TheExpiryTextOnlyWhereItFits)
{
    server.Store([](ServiceState& state) { state.bucket.expiry = 0; });
    char16_t expiry[32];
    std::fill(std::begin(expiry), std::end(expiry), u'#');
    ASSERT_EQ(Read(u"machine-key", expiry, 32), 1);
    EXPECT_EQ(std::u16string(expiry), u"1970-01-01 00:00:00");
    EXPECT_EQ(expiry[20], u'#');

    std::fill(std::begin(expiry), std::end(expiry), u'#');
    ASSERT_EQ(Read(u"machine-key", expiry, 19), 1);
    EXPECT_EQ(expiry[0], u'\0');
    EXPECT_EQ(expiry[1], u'#');

    std::fill(std::begin(expiry), std::end(expiry), u'#');
    ASSERT_EQ(Read(u"machine-key", expiry, 0), 1);
    EXPECT_EQ(expiry[0], u'#');
    EXPECT_EQ(Read(u"machine-key", nullptr, 20), 1);
}

TEST_F(BucketDetails, AFailedMachineLoginLeavesEveryOutAlone)
{
    char16_t expiry[20] = u"unset";
    EXPECT_EQ(Read(u"unknown-key", expiry, 20), 0);
    EXPECT_EQ(Read(nullptr, expiry, 20), 0);
    EXPECT_EQ(Read(std::u16string(1024, u'k').c_str(), expiry, 20), 0);
    EXPECT_EQ(quota, 1u);
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(migrated, 1u);
    EXPECT_EQ(std::u16string(purchase), u"unset");
    EXPECT_EQ(std::u16string(expiry), u"unset");
    EXPECT_EQ(server.RequestCount(kGetMachineBucketDetailsEx), 0u);
    EXPECT_EQ(EXPORT(GetMachineBucketDetails)(nullptr, u"machine-key", &quota, &used, &expirygmt,
                                              &value, &posapos, &suspendbackup, &suspendmember,
                                              &suspendaccount, expiry, 20, purchase, subscription,
                                              &migrated),
              0);
}

TEST_F(BucketDetails, PurchaseTextsLongerThanTheHostsBufferAreRefused)
{
    server.Store([](ServiceState& state) { state.bucket.subscriptionId = std::string(1024, 's'); });
    char16_t expiry[20] = u"unset";
    EXPECT_EQ(Read(u"machine-key", expiry, 20), 0);
    EXPECT_EQ(std::u16string(subscription), u"unset");
    EXPECT_EQ(quota, 1u);
}

class ServerFiles : public Enrolment {
protected:
    void SetUp() override
    {
        Enrolment::SetUp();
        server.Store([](ServiceState& state) {
            StoredEntry file{u"a.txt", false, kFolder, kFile, 10, 0, 0, {{500, 10, 0}, {501, 12, 0}}};
            StoredVolume volume;
            volume.code = kVolume;
            volume.folders[kFolder] = StoredFolder{u"\\docs\\", {file}};
            StoredMachine machine;
            machine.id = kMachine;
            machine.volumes.push_back(volume);
            state.machines.push_back(machine);
        });
    }

    int32_t DeleteVersion(Csocketclient* on, ULONGLONG archive, uint32_t* reason)
    {
        return EXPORT(DeleteServerFileEx)(on, Low(kMachine), High(kMachine), Low(kVolume),
                                          High(kVolume), Low(kFolder), High(kFolder), Low(kFile),
                                          High(kFile), Low(archive), High(archive), reason);
    }

    int32_t DeleteFolder(Csocketclient* on, uint32_t* reason)
    {
        return EXPORT(DeleteServerFolderEx)(on, Low(kMachine), High(kMachine), Low(kVolume),
                                            High(kVolume), Low(kFolder), High(kFolder), reason);
    }
};

TEST_F(ServerFiles, DeleteAFileVersionThenRefusedWithItsStatusWord)
{
    uint32_t reason = 99;
    EXPECT_EQ(DeleteVersion(channel, 500, &reason), 1);
    EXPECT_EQ(reason, 0u);
    EXPECT_EQ(DeleteVersion(channel, 500, &reason), 0);
    EXPECT_EQ(reason, ServerStatus::kNothingToDelete);
    EXPECT_EQ(DeleteVersion(channel, 501, nullptr), 1);
    EXPECT_EQ(DeleteVersion(nullptr, 501, &reason), 0);
}

TEST_F(ServerFiles, DeleteAFolderThenRefusedWithItsStatusWord)
{
    uint32_t reason = 99;
    EXPECT_EQ(DeleteFolder(channel, &reason), 1);
    EXPECT_EQ(reason, 0u);
    EXPECT_EQ(DeleteFolder(channel, &reason), 0);
    EXPECT_EQ(reason, ServerStatus::kNothingToDelete);
    EXPECT_EQ(DeleteFolder(nullptr, &reason), 0);
}

TEST_F(ServerFiles, ALostConnectionLeavesTheReasonAtZero)
{
    server.Stop();
    uint32_t reason = 99;
    EXPECT_EQ(DeleteVersion(channel, 500, &reason), 0);
    EXPECT_EQ(reason, 0u);
    reason = 99;
    EXPECT_EQ(DeleteFolder(channel, &reason), 0);
    EXPECT_EQ(reason, 0u);
}

} // namespace
