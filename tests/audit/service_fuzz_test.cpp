// The local service's pipe replies, from the stand-in service on a real sequenced-packet
// socket: replies of every length into caller buffers of exactly their promised size, short
// replies to the control commands, and status replies cut short or damaged. A reply that does
// not fit is refused whole; a reply that ends early reads as zeros past its end, never as
// bytes of an earlier reply or of memory behind the buffer.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audit/Hostile.h"
#include "kelvane.h"
#include "platform/text.h"
#include "service/Cserviceclient.h"
#include "service/StandinService.h"
#include "service/StatusReply.h"
#include "support/KelvaneLibrary.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace {

std::vector<uint8_t> Word(uint32_t value)
{
    return WireBytes().U32(value).Get();
}

// The offset of the animate word in an encoded status reply, found by encoding two replies
// that differ only there.
size_t AnimateOffset(const StatusReply& status)
{
    StatusReply on = status;
    StatusReply off = status;
    on.animate = 1;
    off.animate = 0;
    const std::vector<uint8_t> a = on.Encode();
    const std::vector<uint8_t> b = off.Encode();
    size_t offset = 0;
    while (offset < a.size() && a[offset] == b[offset])
        ++offset;
    return offset;
}

// What the host's step callback received; callbacks carry no context.
std::vector<std::u16string> g_texts;

int32_t RecordStep(const char16_t* file, uint32_t)
{
    g_texts.emplace_back(file);
    return 0;
}

int32_t RecordProgress(int32_t, uint32_t, uint32_t, const char16_t* file)
{
    g_texts.emplace_back(file);
    return 0;
}

class ServiceFuzz : public testing::Test {
protected:
    void SetUp() override { g_texts.clear(); }

    TempDir dir;
    ScopedEnv pipeFolder{"KELVANE_PIPE_DIR", dir.path().string()};
    StandinService service{dir.path().string()};
};

}  // namespace

TEST_F(ServiceFuzz, RepliesFillExactlySizedBuffersAndLongerOnesAreRefusedAndCleared)
{
    ASSERT_TRUE(service.Start());
    Mutator random(601);
    Cserviceclient client;
    for (uint32_t round = 0; round < 40; ++round) {
        const uint32_t bufferSize = 1 + random.Below(300);
        // One reply in five is longer than the buffer.
        const bool tooLong = round % 5 == 4;
        const uint32_t size = tooLong ? bufferSize + 1 + random.Below(9000)
                                      : random.Below(bufferSize + 1);
        std::vector<uint8_t> reply(size);
        for (uint8_t& byte : reply)
            byte = static_cast<uint8_t>(1 + random.Below(255));
        service.SetReply(Cserviceclient::COMMAND_STATUS, reply);
        SCOPED_TRACE(testing::Message() << "round " << round << ": " << size << " into "
                                        << bufferSize);
        ASSERT_EQ(client.Connect(5), 1u);
        auto buffer = std::make_unique<uint8_t[]>(bufferSize);
        std::memset(buffer.get(), 0, bufferSize);
        uint32_t length = 0xA5A5A5A5u;
        const uint32_t sent = client.SendCommand(Cserviceclient::COMMAND_STATUS, buffer.get(),
                                                 &length, bufferSize);
        if (tooLong) {
            EXPECT_EQ(sent, 0u);
            EXPECT_EQ(length, 0u);
            EXPECT_TRUE(std::all_of(buffer.get(), buffer.get() + bufferSize,
                                    [](uint8_t byte) { return byte == 0; }));
            continue;
        }
        ASSERT_EQ(sent, 1u);
        ASSERT_EQ(length, size);
        EXPECT_TRUE(std::equal(reply.begin(), reply.end(), buffer.get()));
    }
}

TEST_F(ServiceFuzz, AShortLastReplyOfAControlCommandIsNotEkedOutWithAnEarlierOne)
{
    auto backupNow = EXPORT(BackupNow);
    service.SetReply(Cserviceclient::COMMAND_SCHEDULED_SELECTIONS, Word(0xFFFFFFFF));
    ASSERT_TRUE(service.Start());
    for (const std::vector<uint8_t>& last :
         {std::vector<uint8_t>{}, std::vector<uint8_t>{5}, std::vector<uint8_t>{5, 0, 0}}) {
        SCOPED_TRACE(last.size());
        service.SetReply(Cserviceclient::COMMAND_BACKUP_NOW, last);
        EXPECT_EQ(backupNow(), last.empty() ? 0u : 5u);
    }
}

TEST_F(ServiceFuzz, StatusRepliesCutShortReadAsZerosPastTheirEnd)
{
    auto isAnimate = EXPORT(IsAnimate);
    auto getUserStatus = EXPORT(GetUserStatus);
    StatusReply status;
    status.animate = 1;
    status.userStatusFlags = {1, 0, 1, 0};
    const std::vector<uint8_t> whole = status.Encode();
    const size_t animate = AnimateOffset(status);
    ASSERT_LT(animate + 4, whole.size());
    ASSERT_TRUE(service.Start());
    for (size_t length : {size_t{0}, size_t{1}, size_t{4}, animate, animate + 3, animate + 4,
                          whole.size() - 1, whole.size()}) {
        SCOPED_TRACE(length);
        const std::vector<uint8_t> cut(whole.begin(), whole.begin() + length);
        service.SetReply(Cserviceclient::COMMAND_STATUS_FIRSTCALL, cut);
        // A word cut inside reads its arrived bytes and zeros for the rest.
        EXPECT_EQ(isAnimate(), length > animate);
        uint32_t flags = 0;
        const int32_t decoded = getUserStatus(&flags);
        EXPECT_EQ(decoded, length == 0 ? 0 : 1);
        // The user flags follow the animate word and fourteen more words.
        const size_t flagsEnd = animate + 4 + 14 * 4 + 4 * 4;
        if (length == 0) {
            EXPECT_EQ(flags, 255u);
        } else if (length <= animate + 4) {
            EXPECT_EQ(flags, 1u);
        } else if (length >= flagsEnd) {
            EXPECT_EQ(flags, 2u | 8u);
        }
    }
}

TEST_F(ServiceFuzz, DamagedStatusRepliesGiveTheHostTerminatedTextsWithinTheirBuffer)
{
    auto getCurrentStep = EXPORT(GetCurrentStep);
    auto getProgressStatus = EXPORT(GetProgressStatus);
    StatusReply status;
    status.stepStatusFile = std::u16string(1100, u's');
    status.progressStatusFile = std::u16string(1024, u'p');
    status.text1 = u"one";
    const std::vector<uint8_t> whole = status.Encode();
    ASSERT_TRUE(service.Start());
    Mutator random(602);
    for (uint32_t round = 0; round < 12; ++round) {
        const std::vector<uint8_t> reply = round == 0 ? whole : random.Mutate(whole);
        service.SetReply(Cserviceclient::COMMAND_STATUS_FIRSTCALL, reply);
        service.SetReply(Cserviceclient::COMMAND_STATUS, reply);
        SCOPED_TRACE(round);
        g_texts.clear();
        getCurrentStep(RecordStep);
        getProgressStatus(RecordProgress);
        // A reply longer than the status buffer is refused and calls nobody back.
        ASSERT_LE(g_texts.size(), 2u);
        for (const std::u16string& text : g_texts)
            EXPECT_LT(text.size(), 2048u);
        if (round == 0) {
            ASSERT_EQ(g_texts.size(), 2u);
            // The over-long step text was skipped; the progress text is the longest taken.
            EXPECT_EQ(g_texts[0], u" ");
            EXPECT_EQ(g_texts[1], std::u16string(1024, u'p'));
        }
    }
}
