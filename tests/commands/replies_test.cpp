// What the command methods read from the stand-in server's replies, and the lists they hand
// over whole, walked in the layouts that the export layer expects.
#include "commands/CommandFixture.h"

using namespace ServerCommand;

namespace {

constexpr DWORD kUntouched = 99;

}  // namespace

TEST_F(CommandFixture, MemberAndAccountTextsReachTheCallersBuffers)
{
    Store([](ServiceState& state) {
        StoredMember& member = state.member;
        const std::u16string extended[6] = {u"alice", u"", u"a@example.org", u"fr", u"Alice", u"Müller"};
        std::copy(std::begin(extended), std::end(extended), member.extendedTexts);
        member.extendedA = 0x1122334455667788ull;
        member.extendedB = 42;
        const DWORD values[6] = {1, 0, 0, 1, 77, 88};
        std::copy(std::begin(values), std::end(values), member.extendedValues);
        const std::u16string account[8] = {u"Alice Müller", u"Rue 1", u"", u"Lyon",
                                           u"Rhône", u"69001", u"FR", u"+33 4"};
        std::copy(std::begin(account), std::end(account), member.accountTexts);
    });
    LogIn();
    std::vector<std::vector<WCHAR>> texts(8, std::vector<WCHAR>(Csocketclient::kReplyTextCapacity, u'x'));
    ULONGLONG a = 0;
    ULONGLONG b = 0;
    DWORD values[6] = {};
    ASSERT_EQ(channel.GetMemberInfo(texts[0].data(), texts[1].data(), texts[2].data(),
                                    texts[3].data(), texts[4].data(), texts[5].data(), &a, &b,
                                    &values[0], &values[1], &values[2], &values[3], &values[4],
                                    &values[5]),
              1);
    EXPECT_EQ(std::u16string(texts[1].data()), u"");
    EXPECT_EQ(std::u16string(texts[5].data()), u"Müller");
    EXPECT_EQ(a, 0x1122334455667788ull);
    EXPECT_EQ(b, 42u);
    EXPECT_EQ(values[3], 1u);
    EXPECT_EQ(values[5], 88u);

    ASSERT_EQ(channel.GetAccountInfo(texts[0].data(), texts[1].data(), texts[2].data(),
                                     texts[3].data(), texts[4].data(), texts[5].data(),
                                     texts[6].data(), texts[7].data()),
              1);
    EXPECT_EQ(std::u16string(texts[0].data()), u"Alice Müller");
    EXPECT_EQ(std::u16string(texts[4].data()), u"Rhône");
    EXPECT_EQ(std::u16string(texts[7].data()), u"+33 4");

    EXPECT_EQ(channel.UpdateAccountInfo(u"B", u"", u"", u"", u"", u"", u"", u"9"), 1);
    EXPECT_EQ(Store([](ServiceState& state) { return state.member.accountTexts[7]; }), u"9");
}

TEST_F(CommandFixture, BucketDetailsConvertTheirTextsAndTheShortFormDropsTheSixthWord)
{
    Store([](ServiceState& state) {
        state.bucket = StoredBucket{1000, 600, 86399, {1, 2, 3, 4, 5, 6}, "Kauf-ü", "", 1};
    });
    LogIn();
    ULONGLONG wide[3] = {};
    DWORD values[6] = {kUntouched, kUntouched, kUntouched, kUntouched, kUntouched, kUntouched};
    std::vector<WCHAR> purchase(Csocketclient::kReplyTextCapacity, u'x');
    std::vector<WCHAR> subscription(Csocketclient::kReplyTextCapacity, u'x');
    DWORD migrated = 0;
    ASSERT_EQ(channel.GetMachineBucketDetails(&wide[0], &wide[1], &wide[2], &values[0],
                                              &values[1], &values[2], &values[3], &values[4],
                                              purchase.data(), subscription.data(), &migrated),
              1);
    EXPECT_EQ(wide[2], 86399u);
    EXPECT_EQ(values[4], 5u);
    EXPECT_EQ(values[5], kUntouched);
    EXPECT_EQ(std::u16string(purchase.data()), u"Kauf-ü");
    EXPECT_EQ(std::u16string(subscription.data()), u"");
    EXPECT_EQ(migrated, 1u);
}

TEST_F(CommandFixture, ValueRepliesFillTheirOutsOnlyOnSuccess)
{
    FillOffice();
    Store([](ServiceState& state) {
        state.lastRestore[0] = 5;
        state.lastRestore[1] = 6;
        state.lastRestore[2] = 0xFFFFFFFF00000001ull;
    });
    LogIn();
    ULONGLONG values[3] = {};
    DWORD status = kUntouched;
    ASSERT_EQ(channel.LastRestoreInfo(&values[0], &values[1], &values[2], &status), 1);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(values[2], 0xFFFFFFFF00000001ull);

    DWORD result = kUntouched;
    ULONGLONG found[3] = {7, 7, 7};
    EXPECT_EQ(channel.CheckFile(static_cast<DWORD>(kVolume), static_cast<DWORD>(kVolume >> 32),
                                u"\\docs\\", u"missing.txt", 0, 0, 0, 0, 0, &found[0],
                                &found[1], &found[2], &result, &status),
              0);
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(status, ServerStatus::kFileUnknown);
    EXPECT_EQ(found[0], 0u);

    Answer(kLastRestoreInfo, WireBytes().U32(0).U32(4).U64(1).U64(2).U64(3));
    values[0] = kUntouched;
    EXPECT_EQ(channel.LastRestoreInfo(&values[0], &values[1], &values[2], &status), 0);
    EXPECT_EQ(status, 4u);
    EXPECT_EQ(values[0], kUntouched);
}

TEST_F(CommandFixture, StatusWordsAreHandedThroughWhateverTheResult)
{
    FillOffice();
    Connect();
    DWORD status = kUntouched;
    EXPECT_EQ(channel.DeleteServerFile(static_cast<DWORD>(kMachine), 0, 1, 0x70, 2, 0, 99, 0,
                                       1, 0, &status),
              0);
    EXPECT_EQ(status, ServerStatus::kNothingToDelete);

    Answer(kCheckUsername, WireBytes().U32(2).U32(7));
    status = kUntouched;
    EXPECT_EQ(channel.CheckUsername(u"bob", &status), 2u);
    EXPECT_EQ(status, 7u);

    Answer(kDeleteMember, WireBytes().U32(3).U32(0));
    EXPECT_EQ(channel.DeleteMember(u"bob"), 3u);
}

TEST_F(CommandFixture, DeletionsRemoveWhatTheServerStores)
{
    FillOffice();
    Connect();
    DWORD status = kUntouched;
    const DWORD volumeLow = static_cast<DWORD>(kVolume);
    const DWORD volumeHigh = static_cast<DWORD>(kVolume >> 32);
    EXPECT_EQ(channel.DeleteServerFile(kMachine, 0, volumeLow, volumeHigh, kDocs, 0, kReport, 0,
                                       9001, 0, &status),
              1);
    EXPECT_EQ(status, 0u);
    void* reply = nullptr;
    DWORD count = 0;
    ASSERT_EQ(channel.GetVersions(&reply, kMachine, 0, volumeLow, volumeHigh, kDocs, 0, kReport,
                                  0, &count),
              1);
    Cutil::FreePacket(reply);
    EXPECT_EQ(count, 1u);

    EXPECT_EQ(channel.DeleteServerFolder(kMachine, 0, volumeLow, volumeHigh, kDocs, 0, &status), 1);
    reply = nullptr;
    DWORD length = 0;
    ASSERT_EQ(channel.GetRootDirectory(2, &reply, kMachine, 0, volumeLow, volumeHigh, u"\\",
                                       &count, &length),
              1);
    Walker root(reply, length, 4);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(root.Text16(), u"boot.ini");
    Cutil::FreePacket(reply);
    EXPECT_EQ(channel.DeleteServerFolder(kMachine, 0, volumeLow, volumeHigh, kDocs, 0, &status), 0);
    EXPECT_EQ(status, ServerStatus::kNothingToDelete);
}

TEST_F(CommandFixture, EightBitTextsAreCopiedWithATerminator)
{
    FillOffice();
    Store([](ServiceState& state) { state.member.memberAuth = "member-auth-1"; });
    LogIn();
    std::vector<char> auth(Csocketclient::kReplyTextCapacity, 'x');
    EXPECT_EQ(channel.GetMemberAuth(auth.data()), 1u);
    EXPECT_STREQ(auth.data(), "member-auth-1");

    std::vector<char> key(Csocketclient::kReplyTextCapacity, 'x');
    EXPECT_EQ(channel.GetMachineAuth(1, 0, kMachine, 0, key.data()), 1u);
    EXPECT_STREQ(key.data(), "office-key");

    ULONGLONG machineId = 0;
    DWORD status = kUntouched;
    ASSERT_EQ(channel.CreateMachineByAuth(auth.data(), "Laptop", "lap", 56, &machineId,
                                          key.data(), &status),
              1);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(machineId, 1000u);
    EXPECT_STREQ(key.data(), "MK1000-56-lap");
    EXPECT_EQ(Store([](ServiceState& state) { return state.FindMachine(1000)->name; }), u"Laptop");
}

TEST_F(CommandFixture, RefusalsLeaveTheTextOutsAsTheyWere)
{
    LogIn();
    Answer(kGetMemberAuth, WireBytes().U32(2).U32(0).Text8("other"));
    char auth[16] = "unchanged";
    EXPECT_EQ(channel.GetMemberAuth(auth), 2u);
    EXPECT_STREQ(auth, "unchanged");

    ULONGLONG machineId = 3;
    char key[16] = "unchanged";
    DWORD status = kUntouched;
    EXPECT_EQ(channel.CreateMachineByAuth("not-the-member", "box", "host", 53, &machineId, key,
                                          &status),
              0);
    EXPECT_EQ(status, ServerStatus::kNotAuthorized);
    EXPECT_EQ(machineId, 3u);
    EXPECT_STREQ(key, "unchanged");
}

TEST_F(CommandFixture, ListsAreHandedOverWholeWithTheirCount)
{
    FillOffice();
    LogIn();
    void* reply = nullptr;
    DWORD count = kUntouched;
    DWORD length = 0;
    ASSERT_EQ(channel.MachineListEx(0, &reply, &count, &length), 1);
    ASSERT_EQ(count, 1u);
    Walker machine(reply, length, 4);
    EXPECT_EQ(machine.Text16(), u"Office PC");
    EXPECT_EQ(machine.U64(), kMachine);
    machine.Skip(4);
    EXPECT_EQ(machine.Text16(), u"Windows");
    machine.Skip(16);
    EXPECT_EQ(machine.Text16(), u"office");
    machine.Skip(4);
    machine.Text16();
    machine.Skip(16);
    EXPECT_EQ(machine.Offset(), length);
    EXPECT_FALSE(machine.Overran());
    Cutil::FreePacket(reply);

    reply = nullptr;
    ASSERT_EQ(channel.GetDirectory(2, &reply, kMachine, 0, static_cast<DWORD>(kVolume),
                                   static_cast<DWORD>(kVolume >> 32), kDocs, 0, &count, &length),
              1);
    EXPECT_EQ(count, 2u);
    // Folder records: text, then 52 bytes.
    EXPECT_EQ(length, 4 + (56 + 20) + (56 + 16));
    Cutil::FreePacket(reply);

    reply = nullptr;
    ASSERT_EQ(channel.GetVersions(&reply, kMachine, 0, static_cast<DWORD>(kVolume),
                                  static_cast<DWORD>(kVolume >> 32), kDocs, 0, kReport, 0,
                                  &count, &length),
              1);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(length, 4 + 20 * 2);
    Walker version(reply, length, 4 + 20);
    EXPECT_EQ(version.U64(), 9002u);
    Cutil::FreePacket(reply);

    reply = nullptr;
    ASSERT_EQ(channel.Search(&reply, kMachine, 0, u"o", &length), 1);
    Walker hits(reply, length);
    EXPECT_EQ(hits.U32(), 1u);
    EXPECT_EQ(hits.U32(), 4u);
    hits.Skip(60);
    EXPECT_EQ(hits.Text16(), u"docs");
    EXPECT_EQ(hits.Text16(), u"\\");
    Cutil::FreePacket(reply);
}

TEST_F(CommandFixture, AnEmptyVolumeListIsAFourByteReply)
{
    LogIn();
    probe.SetCancel(1);
    void* reply = nullptr;
    DWORD count = kUntouched;
    DWORD length = 0;
    ASSERT_EQ(channel.GetVolumeList(&reply, &count, &length), 1);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(length, 4u);
    EXPECT_NE(reply, nullptr);
    EXPECT_EQ(probe.Cancel(), 0u);
    Cutil::FreePacket(reply);
}

TEST_F(CommandFixture, MemberStatsAndCancellationReasonsCarryTheirCounts)
{
    Store([](ServiceState& state) {
        state.member.stats = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
        state.reasons = {{1, u"ab", u"", u"z"}, {2, u"", u"xyz", u""}};
    });
    LogIn();
    void* reply = nullptr;
    DWORD length = 0;
    ASSERT_EQ(channel.GetMemberStats(&reply, &length), 1);
    Walker stats(reply, length, 20);
    EXPECT_EQ(stats.U32(), 3u);
    EXPECT_EQ(length, 24u * 4);
    Cutil::FreePacket(reply);

    reply = nullptr;
    DWORD count = 0;
    DWORD status = kUntouched;
    ASSERT_EQ(channel.CancellationReasons(u"why", 1, &reply, &count, &status, &length), 1);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(length, 136u);
    Cutil::FreePacket(reply);

    Answer(kProductList, WireBytes().U32(0).U32(3).U32(5));
    int sentinel = 0;
    reply = &sentinel;
    count = kUntouched;
    EXPECT_EQ(channel.ProductList(u"", 0, 1, &reply, &count, &status), 0);
    EXPECT_EQ(status, 3u);
    EXPECT_EQ(count, kUntouched);
    EXPECT_EQ(reply, &sentinel);
}

TEST_F(CommandFixture, AccountChangesReachTheServer)
{
    Store([](ServiceState& state) {
        state.member.memberAuth = "ma";
        state.member.userName = u"alice";
        state.userNames = {u"alice"};
        state.machines.push_back(StoredMachine{.id = 7, .name = u"Den"});
        state.cancelConfirmation = 4711;
    });
    LogIn();
    DWORD status = kUntouched;
    EXPECT_EQ(channel.UpdateUsernamePassword(u"ma", u"alicia", u"pw2", &status), 1);
    EXPECT_EQ(channel.CheckUsername(u"alicia", &status), 0u);
    EXPECT_EQ(status, ServerStatus::kNameTaken);
    EXPECT_EQ(channel.UpdateUsernamePassword(u"wrong", u"x", u"y", &status), 0);
    EXPECT_EQ(status, ServerStatus::kNotAuthorized);
    EXPECT_EQ(channel.SetActiveMachine(u"Den"), 1u);
    EXPECT_EQ(channel.SetMachinePlan(u"p1", u"p2", u"p3", u"p4", 8, 9), 1);
    EXPECT_EQ(channel.CancelAccount(u"tag", 3, &status), 1);
    EXPECT_EQ(status, 4711u);
    Store([](ServiceState& state) {
        EXPECT_EQ(state.activeMachine, 7u);
        EXPECT_EQ(state.lastPlan.texts[3], "p4");
        EXPECT_EQ(state.lastPlan.value2, 9u);
        EXPECT_TRUE(state.member.cancelled);
        EXPECT_EQ(state.member.cancelReason, 3u);
    });
}

TEST(Parameters, SealedTextsOpenAgainThroughTheChannel)
{
    RegistryFile registry;
    Csocketclient channel;
    WCHAR sealed[4096] = {};
    WCHAR opened[4096] = {};
    ASSERT_EQ(channel.SetParameters(u"user=alice;plan=7", sealed), 1u);
    ASSERT_EQ(channel.GetParameters(sealed, opened), 1u);
    EXPECT_EQ(std::u16string(opened), u"user=alice;plan=7");
    sealed[3] = sealed[3] == u'A' ? u'B' : u'A';
    EXPECT_EQ(channel.GetParameters(sealed, opened), 0u);
}
