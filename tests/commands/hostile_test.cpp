// Replies that do not hold what they claim, or texts longer than the caller's buffer: each is
// refused as a whole, nothing is read past the payload and nothing written past a buffer
// (the buffers here are exactly as large as the interface promises, so the sanitizer sees
// any overrun).
#include "commands/CommandFixture.h"

using namespace ServerCommand;

namespace {

constexpr DWORD kUntouched = 99;
constexpr DWORD kCapacity = Csocketclient::kReplyTextCapacity;

std::vector<char> NarrowBuffer()
{
    return std::vector<char>(kCapacity, 'x');
}

std::vector<std::vector<WCHAR>> WideBuffers(size_t count)
{
    return std::vector<std::vector<WCHAR>>(count, std::vector<WCHAR>(kCapacity, u'x'));
}

bool Untouched(const std::vector<char>& buffer)
{
    return std::all_of(buffer.begin(), buffer.end(), [](char c) { return c == 'x'; });
}

bool Untouched(const std::vector<std::vector<WCHAR>>& buffers)
{
    return std::all_of(buffers.begin(), buffers.end(), [](const std::vector<WCHAR>& buffer) {
        return std::all_of(buffer.begin(), buffer.end(), [](WCHAR c) { return c == u'x'; });
    });
}

}  // namespace

class HostileReplies : public CommandFixture {
protected:
    void SetUp() override
    {
        CommandFixture::SetUp();
        Connect();
        host.Install(channel);
        channel.SetLogLevel(30);
    }

    // The account's eight texts into these buffers.
    DWORD GetAccountInfo(std::vector<std::vector<WCHAR>>& texts)
    {
        return channel.GetAccountInfo(texts[0].data(), texts[1].data(), texts[2].data(),
                                      texts[3].data(), texts[4].data(), texts[5].data(),
                                      texts[6].data(), texts[7].data());
    }
};

TEST_F(HostileReplies, AnEightBitTextMustLeaveRoomForItsTerminator)
{
    std::vector<char> key = NarrowBuffer();
    Answer(kGetMemberAuth, WireBytes().U32(1).U32(0).Text8(std::string(kCapacity, 'k')));
    EXPECT_EQ(channel.GetMemberAuth(key.data()), 0u);
    EXPECT_TRUE(Untouched(key));
    EXPECT_TRUE(host.Logged("GetMemberAuth: reply malformed"));

    Answer(kGetMemberAuth, WireBytes().U32(1).U32(0).Text8(std::string(kCapacity - 1, 'k')));
    EXPECT_EQ(channel.GetMemberAuth(key.data()), 1u);
    EXPECT_EQ(std::string(key.data()), std::string(kCapacity - 1, 'k'));
}

TEST_F(HostileReplies, AnEightBitTextCountPastThePayloadIsRefused)
{
    std::vector<char> key = NarrowBuffer();
    Answer(kGetMachineAuth, WireBytes().U32(1).U32(40).Fill(10, 'k'));
    EXPECT_EQ(channel.GetMachineAuth(0, 0, 1, 0, key.data()), 0u);
    EXPECT_TRUE(Untouched(key));

    Answer(kCreateMachineByAuth, WireBytes().U32(1).U64(77).U32(0xFFFFFFF0).Fill(8, 'k'));
    ULONGLONG machineId = kUntouched;
    DWORD status = kUntouched;
    EXPECT_EQ(channel.CreateMachineByAuth("a", "b", "c", 53, &machineId, key.data(), &status), 0);
    EXPECT_EQ(machineId, kUntouched);
    EXPECT_EQ(status, 0u);
    EXPECT_TRUE(Untouched(key));

    Answer(kCreateMachineByAuth, WireBytes().U32(0));
    EXPECT_EQ(channel.CreateMachineByAuth("a", "b", "c", 53, &machineId, key.data(), &status), 0);
    EXPECT_EQ(status, 0u);
}

TEST_F(HostileReplies, OneOverlongReplyStringRefusesAllEight)
{
    WireBytes reply;
    reply.U32(1).U32(0);
    for (int i = 0; i < 8; ++i)
        reply.Text16(std::u16string(i == 4 ? kCapacity : 3, u'a'));
    Answer(kGetAccountInfo, reply);
    std::vector<std::vector<WCHAR>> texts = WideBuffers(8);
    EXPECT_EQ(GetAccountInfo(texts), 0);
    EXPECT_TRUE(Untouched(texts));

    WireBytes fits;
    fits.U32(1).U32(0);
    for (int i = 0; i < 8; ++i)
        fits.Text16(std::u16string(kCapacity - 1, u'a'));
    Answer(kGetAccountInfo, fits);
    EXPECT_EQ(GetAccountInfo(texts), 1);
    EXPECT_EQ(std::u16string(texts[7].data()).size(), kCapacity - 1);
}

TEST_F(HostileReplies, AReplyStringPastThePayloadIsRefused)
{
    Answer(kGetAccountInfo, WireBytes().U32(1).U32(0).Text16(u"abc").U32(200).Fill(6, 'a'));
    std::vector<std::vector<WCHAR>> texts = WideBuffers(8);
    EXPECT_EQ(GetAccountInfo(texts), 0);
    EXPECT_TRUE(Untouched(texts));
    EXPECT_TRUE(host.Logged("GetAccountInfo: reply malformed"));
}

TEST_F(HostileReplies, MemberInfoWithoutItsValuesWritesNoText)
{
    WireBytes reply;
    reply.U32(1).U32(0);
    for (int i = 0; i < 6; ++i)
        reply.Text16(u"t");
    reply.U64(1).U64(2).U32(3);
    Answer(kGetMemberInfo, reply);
    std::vector<std::vector<WCHAR>> texts = WideBuffers(6);
    ULONGLONG a = kUntouched;
    ULONGLONG b = kUntouched;
    DWORD values[6] = {kUntouched, kUntouched, kUntouched, kUntouched, kUntouched, kUntouched};
    EXPECT_EQ(channel.GetMemberInfo(texts[0].data(), texts[1].data(), texts[2].data(),
                                    texts[3].data(), texts[4].data(), texts[5].data(), &a, &b,
                                    &values[0], &values[1], &values[2], &values[3], &values[4],
                                    &values[5]),
              0);
    EXPECT_TRUE(Untouched(texts));
    EXPECT_EQ(a, kUntouched);
    EXPECT_EQ(values[0], kUntouched);
}

TEST_F(HostileReplies, BucketTextsAreBoundByTheirWorkBuffer)
{
    auto bucket = [](size_t length) {
        return WireBytes()
            .U32(1)
            .U32(0)
            .U64(1)
            .U64(2)
            .U64(3)
            .U32(4)
            .U32(5)
            .U32(6)
            .U32(7)
            .U32(8)
            .U32(9)
            .Text8(std::string(length, 'p'))
            .Text8("s")
            .U32(10);
    };
    ULONGLONG wide[3] = {kUntouched, kUntouched, kUntouched};
    DWORD values[6] = {};
    DWORD last = kUntouched;
    std::vector<std::vector<WCHAR>> texts = WideBuffers(2);
    Answer(kGetMachineBucketDetailsEx, bucket(1024));
    EXPECT_EQ(channel.GetMachineBucketDetailsEx(&wide[0], &wide[1], &wide[2], &values[0],
                                                &values[1], &values[2], &values[3], &values[4],
                                                &values[5], texts[0].data(), texts[1].data(),
                                                &last),
              0);
    EXPECT_TRUE(Untouched(texts));
    EXPECT_EQ(wide[0], kUntouched);
    EXPECT_EQ(last, kUntouched);

    Answer(kGetMachineBucketDetailsEx, bucket(1023));
    EXPECT_EQ(channel.GetMachineBucketDetailsEx(&wide[0], &wide[1], &wide[2], &values[0],
                                                &values[1], &values[2], &values[3], &values[4],
                                                &values[5], texts[0].data(), texts[1].data(),
                                                &last),
              1);
    EXPECT_EQ(std::u16string(texts[0].data()).size(), 1023u);
    EXPECT_EQ(values[5], 9u);
    EXPECT_EQ(last, 10u);

    // The last word is missing.
    std::vector<BYTE> cut = bucket(3).Get();
    cut.resize(cut.size() - 2);
    Answer(kGetMachineBucketDetailsEx, cut);
    last = kUntouched;
    EXPECT_EQ(channel.GetMachineBucketDetailsEx(&wide[0], &wide[1], &wide[2], &values[0],
                                                &values[1], &values[2], &values[3], &values[4],
                                                &values[5], texts[0].data(), texts[1].data(),
                                                &last),
              0);
    EXPECT_EQ(last, kUntouched);
}

TEST_F(HostileReplies, ValuesThatDoNotFollowTheWordsAreRefused)
{
    Answer(kLastRestoreInfo, WireBytes().U32(1).U32(4).U64(1).U64(2));
    ULONGLONG values[3] = {kUntouched, kUntouched, kUntouched};
    DWORD status = kUntouched;
    EXPECT_EQ(channel.LastRestoreInfo(&values[0], &values[1], &values[2], &status), 0);
    EXPECT_EQ(status, kUntouched);
    EXPECT_EQ(values[0], kUntouched);

    Answer(kCheckFile, WireBytes().U32(1).U32(4).U64(1));
    DWORD result = kUntouched;
    EXPECT_EQ(channel.CheckFile(1, 0, u"\\", u"a", 0, 0, 0, 0, 0, &values[0], &values[1],
                                &values[2], &result, &status),
              0);
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(values[0], 0u);

    Answer(kIsWebPortalEnabledEx, WireBytes().U32(1).U32(0));
    channel.SetLogLevel(0);
    LogIn();
    DWORD enabled = kUntouched;
    EXPECT_EQ(channel.IsWebPortalEnabledEx(&enabled), 0);
    EXPECT_EQ(enabled, 0u);
}

TEST_F(HostileReplies, ListsShorterThanTheirLeadingWordsStayWithTheChannel)
{
    int sentinel = 0;
    void* reply = &sentinel;
    DWORD count = kUntouched;
    DWORD length = kUntouched;
    Answer(kGetVolumeList, WireBytes().Fill(3, 0));
    EXPECT_EQ(channel.GetVolumeList(&reply, &count, &length), 0);
    EXPECT_TRUE(host.Logged("GetVolumeList: reply malformed"));

    Answer(kSearch, WireBytes().U32(1));
    EXPECT_EQ(channel.Search(&reply, 1, 0, u"x", &length), 0);
    EXPECT_TRUE(host.Logged("Search: reply malformed"));

    Answer(kGetMemberStats, WireBytes().Fill(2, 1));
    EXPECT_EQ(channel.GetMemberStats(&reply, &length), 0);

    DWORD status = kUntouched;
    Answer(kCancellationReasons, WireBytes().U32(1).U32(4));
    EXPECT_EQ(channel.CancellationReasons(u"x", 0, &reply, &count, &status, &length), 0);
    EXPECT_EQ(status, kUntouched);

    EXPECT_EQ(reply, &sentinel);
    EXPECT_EQ(count, kUntouched);
    EXPECT_EQ(length, kUntouched);
}

TEST_F(HostileReplies, AResultWordCutShortIsNoResult)
{
    Answer(kDeleteMember, WireBytes().Fill(2, 1));
    EXPECT_EQ(channel.DeleteMember(u"bob"), 0u);
    Answer(kDeleteServerFolder, WireBytes().U32(1));
    DWORD status = kUntouched;
    EXPECT_EQ(channel.DeleteServerFolder(1, 0, 2, 0, 3, 0, &status), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_TRUE(host.Logged("DeleteServerFolder: reply malformed"));
}
