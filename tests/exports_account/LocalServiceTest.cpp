// The local service exports against the stand-in service on a real sequenced-packet socket in
// a pipe folder of the test's own.
#include <array>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/text.h"
#include "service/StandinService.h"
#include "support/KelvaneLibrary.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace {

using Misbehaviour = StandinService::Misbehaviour;

std::vector<uint8_t> Word(uint32_t value)
{
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

// What the host's callbacks received; they carry no context, so the record is shared.
std::vector<std::string> g_calls;

int32_t RecordProgress(int32_t total, uint32_t estimated, uint32_t backedUp, const char16_t* file)
{
    g_calls.push_back("progress " + std::to_string(total) + " " + std::to_string(estimated) +
                      " " + std::to_string(backedUp) + " " + Utf16ToUtf8(file));
    return 0;
}

int32_t RecordStep(const char16_t* file, uint32_t code)
{
    g_calls.push_back("step " + std::to_string(code) + " " + Utf16ToUtf8(file));
    return 0;
}

class LocalService : public testing::Test {
protected:
    void SetUp() override { g_calls.clear(); }

    std::vector<uint32_t> Commands() const
    {
        std::vector<uint32_t> codes;
        for (const StandinService::Request& request : service.Requests())
            codes.push_back(request.wellFormed ? request.command : 0);
        return codes;
    }

    TempDir dir;
    ScopedEnv pipeFolder{"KELVANE_PIPE_DIR", dir.path().string()};
    StandinService service{dir.path().string()};
};

TEST_F(LocalService, BackupNowSendsBothCommandsOnOneConnectionAndGivesTheLastResult)
{
    service.SetReply(24, Word(3));
    service.SetReply(7, Word(5));
    ASSERT_TRUE(service.Start());
    EXPECT_EQ(EXPORT(BackupNow)(), 5u);
    EXPECT_EQ(Commands(), (std::vector<uint32_t>{24, 7}));
    EXPECT_EQ(service.Connections(), 1u);

    // Without an answer to the second command, the first one's result stays.
    service.SetReply(24, Word(9));
    service.Misbehave(7, Misbehaviour::CloseWithoutAnswer);
    EXPECT_EQ(EXPORT(BackupNow)(), 9u);
}

TEST_F(LocalService, EachControlExportSendsItsCommandAndGivesTheResultWord)
{
    const std::pair<uint32_t (*)(), uint32_t> cases[] = {{EXPORT(CancelBackup), 9},
                                                         {EXPORT(StopService), 6},
                                                         {EXPORT(SettingsUpdate), 2},
                                                         {EXPORT(GenerateCipher), 11}};
    for (const auto& [call, command] : cases)
        service.SetReply(command, Word(0x100 + command));
    ASSERT_TRUE(service.Start());
    for (const auto& [call, command] : cases) {
        EXPECT_EQ(call(), 0x100 + command);
        EXPECT_EQ(Commands().back(), command);
    }
    EXPECT_EQ(Commands().size(), 4u);
}

TEST_F(LocalService, StatusReachesTheCallbacksOnce)
{
    StatusReply status;
    status.totalProgress = 4;
    status.estimatedFiles = 7;
    status.backedUpFiles = 3;
    status.stepStatusCode = 5;
    status.progressStatusFile = u"progress.txt";
    status.stepStatusFile = u"step.txt";
    service.SetStatus(status);
    ASSERT_TRUE(service.Start());
    EXPORT(GetProgressStatus)(RecordProgress);
    EXPORT(GetCurrentStep)(RecordStep);
    EXPORT(GetProgressStatus)(nullptr);
    EXPORT(GetCurrentStep)(nullptr);
    EXPECT_EQ(g_calls,
              (std::vector<std::string>{"progress 4 7 3 progress.txt", "step 5 step.txt"}));
    EXPECT_EQ(Commands(), (std::vector<uint32_t>{1, 12, 1, 12}));
}

TEST_F(LocalService, ShortRepliesDecodeAsZerosAndOversizedOnesAreRefused)
{
    StatusReply status;
    status.totalProgress = 4;
    status.estimatedFiles = 7;
    status.animate = 1;
    service.SetStatus(status);
    service.Misbehave(1, Misbehaviour::Truncate, 8);
    service.Misbehave(12, Misbehaviour::Oversize, 8193);
    ASSERT_TRUE(service.Start());
    EXPORT(GetProgressStatus)(RecordProgress);
    EXPECT_FALSE(EXPORT(IsAnimate)());
    EXPORT(GetCurrentStep)(RecordStep);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"progress 0 0 0 "}));
}

TEST_F(LocalService, AnimateAndBackingUpAreTrueOnlyForExactlyOne)
{
    StatusReply status;
    status.animate = 1;
    status.inBackupNow = 1;
    service.SetStatus(status);
    ASSERT_TRUE(service.Start());
    EXPECT_TRUE(EXPORT(IsAnimate)());
    EXPECT_TRUE(EXPORT(IsBackinUpNow)());
    status.animate = 2;
    status.inBackupNow = 2;
    service.SetStatus(status);
    EXPECT_FALSE(EXPORT(IsAnimate)());
    EXPECT_FALSE(EXPORT(IsBackinUpNow)());
}

TEST_F(LocalService, UserStatusFlagsFromTheReply)
{
    ASSERT_TRUE(service.Start());
    const std::pair<std::array<uint32_t, 4>, uint32_t> cases[] = {
        {{1, 0, 3, 0}, 10}, {{0, 1, 0, 1}, 20}, {{0, 0, 0, 0}, 1}};
    for (const auto& [userFlags, expected] : cases) {
        StatusReply status;
        status.userStatusFlags = userFlags;
        service.SetStatus(status);
        uint32_t flags = 0;
        EXPECT_EQ(EXPORT(GetUserStatus)(&flags), 1);
        EXPECT_EQ(flags, expected);
    }
    EXPECT_EQ(EXPORT(GetUserStatus)(nullptr), 1);
}

// Each call spends its connection attempts (about 2 s) before it gives up.
TEST_F(LocalService, WithoutAServiceNothingIsReported)
{
    EXPECT_EQ(EXPORT(BackupNow)(), 0u);
    uint32_t flags = 0;
    EXPECT_EQ(EXPORT(GetUserStatus)(&flags), 0);
    EXPECT_EQ(flags, 255u);
    EXPORT(GetCurrentStep)(RecordStep);
    EXPECT_TRUE(g_calls.empty());
}

} // namespace
