// Downloads answered with one compressed reply.
#include <chrono>
#include <new>
#include <optional>
#include <vector>

#include "DownloadFixture.h"
#include "restore/Cunzip.h"
#include "support/ClosedFolder.h"
#include "util/ScopedTimeZone.h"

namespace {

using Form = DownloadHandlers::Form;
using Fault = DownloadHandlers::SingleReplyFault;

class SingleReply : public DownloadFixture {
protected:
    // Serves contents as one compressed reply with the fault, restores it, and expects the
    // download to fail with a log line that starts with message, leaving no file.
    void ExpectRefused(const std::string& contents, Fault fault, const std::string& message)
    {
        files.AddFile(kCodes, contents, kFileTime);
        DownloadHandlers::Behaviour behaviour;
        behaviour.form = Form::Single;
        behaviour.singleFault = fault;
        files.SetBehaviour(behaviour);
        EXPECT_EQ(Restore(), 0);
        EXPECT_FALSE(Exists(target));
        EXPECT_EQ(done, 0u);
        EXPECT_TRUE(host.LoggedStart(message)) << message;
        EXPECT_EQ(host.Count(25), 0u);
    }
};

const char kDecompressFailed[] = "GetFile: Decompress failed compressedsize = (";

}  // namespace

TEST_F(SingleReply, IsWrittenByteExactWithItsEventsAndTime)
{
    ScopedTimeZone utc("UTC");
    const std::string contents = Noise(300000);
    Serve(contents, Form::Single);
    ASSERT_EQ(Restore(), 1);
    EXPECT_EQ(ReadFile(target), contents);
    const auto written = std::filesystem::last_write_time(std::filesystem::path(target));
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(
                  std::chrono::file_clock::to_sys(written).time_since_epoch())
                  .count(),
              kFileTime);
    EXPECT_EQ(done, 1u);
    EXPECT_EQ(fileTime, kFileTime);
    EXPECT_EQ(word, 0xA5A5A5A5u) << "the word belongs to cached transfers";
    EXPECT_EQ(host.DownloadCodes(), (std::vector<uint32_t>{7, 4, 7, 4, 24, 25}));
    EXPECT_EQ(host.Values(7), (std::vector<uint64_t>{4, 5}));
    // Both size events carry the compressed size, not the file's.
    const std::vector<uint64_t> sizes = host.Values(24);
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_NE(sizes[0], contents.size());
    EXPECT_GT(sizes[0], contents.size() / 2);
    EXPECT_EQ(host.Values(25), sizes);
    EXPECT_TRUE(host.Logged("GetFile: Single packet reply"));
    EXPECT_TRUE(host.Logged("GetFile: ReceiveMsg retcode 2"));
    EXPECT_TRUE(server->Log().Requests(CCreatePacket::kGetCachePacket).empty());
    EXPECT_TRUE(Removals().empty());

    // The request carries the five codes, low words first, and a last word of 0.
    const auto requests = server->Log().Requests(CCreatePacket::kGetFile);
    ASSERT_EQ(requests.size(), 1u);
    const std::vector<BYTE> expected = {0x81, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 1,
                                        0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF,
                                        0xFF, 0xFF, 0xFF, 0xFF, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(requests[0].payload, expected);
}

TEST_F(SingleReply, GoesToTheFinalPathWhoseFoldersAreCreated)
{
    const std::u16string download = dir.file("download.tmp");
    const std::u16string final = dir.file("a/b/final.bin");
    Serve("small file", Form::BySize);
    ASSERT_EQ(Restore(download, final), 1);
    EXPECT_EQ(ReadFile(final), "small file");
    EXPECT_FALSE(Exists(download));
}

TEST_F(SingleReply, OfAnEmptyFileLeavesAnEmptyFile)
{
    Serve("", Form::Single);
    ASSERT_EQ(Restore(), 1);
    EXPECT_TRUE(Exists(target));
    EXPECT_EQ(ReadFile(target), "");
}

TEST_F(SingleReply, WithCompressedSizeZeroFailsAfterItsEvents)
{
    ExpectRefused("data", Fault::ZeroSize, "GetFile: retcode == 2 failed compressedsize = (0)");
    EXPECT_EQ(host.DownloadCodes(), (std::vector<uint32_t>{7, 4, 7, 4, 24}));
}

TEST_F(SingleReply, ThatCannotBeTrustedIsNotWritten)
{
    const struct {
        std::string contents;
        Fault fault;
        std::string message;
    } cases[] = {
        {Noise(100000), Fault::CorruptStream, kDecompressFailed},
        // Cut short: what inflated so far would look like the whole file.
        {Noise(100000), Fault::CutStream, kDecompressFailed},
        {Noise(1000), Fault::SizePastReply, "GetFile: retcode == 2 reply of ("},
        {"data", Fault::ShortHeader, "GetFile: Single packet reply too short (12)"},
        {std::string(Cunzip::kOutputSize, 'z'), Fault::None, kDecompressFailed},
    };
    for (const auto& refused : cases) {
        SCOPED_TRACE(refused.message);
        ExpectRefused(refused.contents, refused.fault, refused.message);
    }
}

TEST_F(SingleReply, RefusedByTheServerLeavesNoFile)
{
    Serve("data", Form::Single);
    EXPECT_EQ(channel.RequestFile(9, 9, 9, 9, 9, 9, 9, 9, 9, 9, target.c_str(), target.c_str(), 0,
                                  &word, &done, &fileTime),
              0);
    EXPECT_FALSE(Exists(target));
    EXPECT_TRUE(host.Logged("GetFile: ReceiveMsg retcode 0"));
}

TEST_F(SingleReply, IsCancelledByTheAnswerToTheSizeEvent)
{
    Serve("data", Form::Single);
    host.decide = [](const HostRecorder::Event& event) { return event.code == 24 ? 77 : 0; };
    EXPECT_EQ(Restore(), 0);
    EXPECT_FALSE(Exists(target));
    EXPECT_EQ(probe.LastError(), 77u);
    EXPECT_EQ(probe.Cancelled(), 1u);
    EXPECT_EQ(host.Count(25), 0u);
}

TEST_F(SingleReply, WaitForTheReplyIsCancelledByThePoll)
{
    Serve("data", Form::Single);
    server->SetFault(ServerFault{FaultKind::NoAnswer, CCreatePacket::kGetFile});
    probe.SetWaitTimeout(1);
    bool sent = false;
    host.decide = [&sent](const HostRecorder::Event& event) {
        sent = sent || event.code == 7;
        return sent && event.code == 4 ? 5 : 0;
    };
    EXPECT_EQ(Restore(), 0);
    EXPECT_FALSE(Exists(target));
    EXPECT_EQ(probe.LastError(), 5u);
    EXPECT_EQ(probe.Cancelled(), 1u);
    EXPECT_EQ(channel.IsConnected(), 0u);
}

TEST_F(SingleReply, FailsWithoutARequestWhenTheFileCannotBeCreated)
{
    channel.SetLogLevel(30);
    Serve("data", Form::Single);
    const std::u16string missing = dir.file("no/such/folder/f.bin");
    EXPECT_EQ(Restore(missing, missing), 0);
    EXPECT_TRUE(host.Logged("Csocketzip::GetFile CreateFile failed on (" + Utf16ToUtf8(missing) +
                            ") win32error (3)"));
    EXPECT_TRUE(server->Log().Requests().empty());
}

// A download that fails while its echo travels, before its session check took the answer (an
// exception, or a file that cannot be made after all), takes the connection with the echo:
// nothing waits for the answer that a quiet server never gives, and the next download
// connects anew.
TEST_F(SingleReply, AFailureWhileTheEchoTravelsTakesTheConnectionWithIt)
{
    constexpr ULONGLONG kWaitTimeout = 30;
    probe.SetWaitTimeout(kWaitTimeout);
    Serve("data", Form::Single);
    const std::filesystem::path folder = dir.path();
    if (!ClosedFolder(folder).Closed())
        GTEST_SKIP() << "cannot close a folder to new files here";
    std::optional<ClosedFolder> closing;
    const Csocketclient::Preparation failures[] = {
        [] { throw std::bad_alloc(); },
        [&] { closing.emplace(folder); },
    };
    for (const Csocketclient::Preparation& failure : failures) {
        server->SetFault(ServerFault{});
        ASSERT_EQ(Restore(), 1);
        std::filesystem::remove(std::filesystem::path(target));
        server->SetFault(ServerFault{FaultKind::NoAnswer, CCreatePacket::kEchoTest});
        const size_t echoes = server->Log().Requests(CCreatePacket::kEchoTest).size();
        const auto start = std::chrono::steady_clock::now();
        try {
            EXPECT_EQ(Restore(target, target, failure), 0);
        } catch (const std::bad_alloc&) {
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(kWaitTimeout));
        EXPECT_TRUE(server->Log().WaitForRequests(CCreatePacket::kEchoTest, echoes + 1,
                                                  std::chrono::seconds(kWaitTimeout)));
        EXPECT_EQ(channel.IsConnected(), 0u);
        EXPECT_FALSE(Exists(target));
        closing.reset();
    }
    server->SetFault(ServerFault{});
    EXPECT_EQ(Restore(), 1);
    EXPECT_EQ(ReadFile(target), "data");
}
