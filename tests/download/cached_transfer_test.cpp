// Downloads that the server answers with a cache file fetched chunk by chunk.
#include <csignal>
#include <sys/resource.h>
#include <vector>

#include "DownloadFixture.h"

namespace {

using Action = DownloadHandlers::PacketAction;
using Form = DownloadHandlers::Form;

class CachedTransfer : public DownloadFixture {
protected:
    // Serves contents as a cache file with the behaviour, after the packet actions.
    void ServeCached(const std::string& contents, DownloadHandlers::Behaviour behaviour = {},
                     const std::vector<Action>& actions = {})
    {
        files.AddFile(kCodes, contents, kFileTime);
        behaviour.form = Form::Cached;
        files.SetBehaviour(behaviour);
        files.QueuePacketActions(actions);
    }

    // The download failed, left no file and the cache file was removed for reason.
    void ExpectAbandoned(DWORD reason)
    {
        EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
        EXPECT_EQ(RemovalReasons(), std::vector<DWORD>{reason});
    }

    std::vector<ULONGLONG> RequestedOffsets() const
    {
        std::vector<ULONGLONG> offsets;
        for (const auto& request : files.PacketRequests())
            offsets.push_back(request.offset);
        return offsets;
    }

    // Answers the first event with this code that comes after the first chunk was written.
    void CancelAfterFirstChunk(uint32_t code, int32_t answer)
    {
        host.decide = [this, code, answer](const HostRecorder::Event& event) {
            if (event.code == code && host.Count(25) > 0 && !m_cancelled) {
                m_cancelled = true;
                return answer;
            }
            return 0;
        };
    }

private:
    bool m_cancelled = false;
};

std::vector<Action> Repeat(Action action, size_t count)
{
    return std::vector<Action>(count, action);
}

}  // namespace

TEST_F(CachedTransfer, OfManyChunksIsWrittenByteExact)
{
    const std::string contents = Noise(8 * kChunk + 12345);
    DownloadHandlers::Behaviour behaviour;
    behaviour.packetWord = 0x0BADF00D;
    ServeCached(contents, behaviour);
    ASSERT_EQ(Restore(), 1);
    EXPECT_EQ(ReadFile(target), contents);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(word, 0x0BADF00Du);
    EXPECT_EQ(fileTime, kFileTime);

    std::vector<ULONGLONG> offsets;
    for (ULONGLONG offset = 0; offset < contents.size(); offset += kChunk)
        offsets.push_back(offset);
    EXPECT_EQ(RequestedOffsets(), offsets);
    for (const auto& request : files.PacketRequests()) {
        EXPECT_EQ(request.cacheName, "cache1.tmp");
        EXPECT_EQ(request.chunkSize, kChunk);
        EXPECT_EQ(request.lastWord, 0u);
    }
    EXPECT_EQ(host.Values(24), std::vector<uint64_t>{contents.size()});
    EXPECT_EQ(host.Values(7), (std::vector<uint64_t>{4, 5}));
    std::vector<uint64_t> written(8, kChunk);
    written.push_back(12345);
    EXPECT_EQ(host.Values(25), written);
    EXPECT_EQ(host.Count(8), 0u);
    EXPECT_EQ(host.Count(9), 0u);

    const auto removals = Removals();
    ASSERT_EQ(removals.size(), 1u);
    EXPECT_EQ(removals[0].cacheName, "cache1.tmp");
    EXPECT_EQ(removals[0].reason, 8u);
    EXPECT_EQ(removals[0].flag, 0u);
    EXPECT_EQ(probe.CacheName(), "cache1.tmp");
}

TEST_F(CachedTransfer, EndsWithAShortChunkOrAnEmptyOne)
{
    ServeCached(Noise(kChunk + 1));
    ASSERT_EQ(Restore(), 1);
    EXPECT_EQ(RequestedOffsets(), (std::vector<ULONGLONG>{0, kChunk}));
    EXPECT_EQ(RemovalReasons(), std::vector<DWORD>{8});
    EXPECT_FALSE(host.Logged("GetFile: datasize == 0"));

    // A file of whole chunks ends with a request that finds nothing more.
    const std::string exact = Noise(2 * kChunk, 2);
    files.AddFile(kCodes, exact, kFileTime);
    ASSERT_EQ(Restore(), 1);
    EXPECT_EQ(ReadFile(target), exact);
    EXPECT_EQ(RequestedOffsets(), (std::vector<ULONGLONG>{0, kChunk, 0, kChunk, 2 * kChunk}));
    EXPECT_EQ(RemovalReasons(), (std::vector<DWORD>{8, 8}));
    EXPECT_TRUE(host.Logged("GetFile: datasize == 0"));
}

TEST_F(CachedTransfer, RetriesAfterTheConnectionDropped)
{
    const std::string contents = Noise(3 * kChunk + 5);
    ServeCached(contents, {}, {Action::Data, Action::Drop});
    ASSERT_EQ(Restore(), 1);
    EXPECT_EQ(ReadFile(target), contents);
    EXPECT_EQ(RequestedOffsets(),
              (std::vector<ULONGLONG>{0, kChunk, kChunk, 2 * kChunk, 3 * kChunk}));
    EXPECT_TRUE(host.Logged("GetFile: ReceiveMsg failed retry (1)"));
    const auto reconnecting = host.Events(8);
    ASSERT_EQ(reconnecting.size(), 1u);
    EXPECT_EQ(reconnecting[0].text, "Connection failed while restoring " + Utf16ToUtf8(target) +
                                        ". Retry 2 of 10");
    EXPECT_EQ(reconnecting[0].value, 0u);
    EXPECT_EQ(logins.Logins().size(), 2u) << "the lost session is logged in again";
}

TEST_F(CachedTransfer, GivesUpOnlyAfterTenFailuresInARow)
{
    // Every good reply starts the count again.
    const std::string contents = Noise(kChunk + 5);
    std::vector<Action> actions = Repeat(Action::Drop, 9);
    actions.push_back(Action::Data);
    actions.insert(actions.end(), 9, Action::Drop);
    ServeCached(contents, {}, actions);
    ASSERT_EQ(Restore(), 1);
    EXPECT_EQ(ReadFile(target), contents);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(host.Count(8), 18u);

    files.QueuePacketActions(Repeat(Action::Drop, 10));
    EXPECT_EQ(Restore(), 0);
    EXPECT_TRUE(host.Logged("GetFile: ReceiveMsg failed retry (9)"));
    EXPECT_TRUE(host.Logged("GetFile: ReceiveMsg failed"));
    // What the first download left stays.
    EXPECT_EQ(ReadFile(target), contents);
    EXPECT_EQ(RemovalReasons(), (std::vector<DWORD>{8, 3}));
}

TEST_F(CachedTransfer, GivesUpWhenTheServerCannotBeReachedAgain)
{
    ServeCached(Noise(3 * kChunk));
    host.decide = [this](const HostRecorder::Event& event) {
        if (event.code == 25)
            server->Stop();
        return 0;
    };
    EXPECT_EQ(Restore(), 0);
    EXPECT_FALSE(Exists(target));
    EXPECT_TRUE(host.Logged("GetFile: SendMsg failed retry (9)"));
    EXPECT_TRUE(host.Logged("GetFile: SendMsg failed"));
    const auto reconnecting = host.Events(8);
    ASSERT_GE(reconnecting.size(), 9u);
    EXPECT_EQ(reconnecting.back().text,
              "Connection failed while restoring " + Utf16ToUtf8(target) + ". Retry 10 of 10");
    EXPECT_TRUE(Removals().empty()) << "nobody is left to hear it";
}

TEST_F(CachedTransfer, ServerErrorsCountAsFailures)
{
    const std::string contents = Noise(100);
    ServeCached(contents, {}, Repeat(Action::Error, 9));
    ASSERT_EQ(Restore(), 1);
    EXPECT_EQ(ReadFile(target), contents);
    EXPECT_TRUE(host.Logged("GetFile: ReceiveMsg retcode retry (9)"));

    files.QueuePacketActions(Repeat(Action::Error, 10));
    EXPECT_EQ(Restore(), 0);
    EXPECT_EQ(ReadFile(target), contents);
    EXPECT_EQ(RemovalReasons(), (std::vector<DWORD>{8, 4}));
}

TEST_F(CachedTransfer, StopsWhenTheServerSaysSo)
{
    ServeCached(Noise(3 * kChunk), {}, {Action::Data, Action::Stop});
    EXPECT_EQ(Restore(), 0);
    ExpectAbandoned(49);
    EXPECT_TRUE(host.Logged("GetFile: GetCachePacket retcode (4)"));
}

TEST_F(CachedTransfer, WaitsWhileTheServerPreparesAndPassesItsText)
{
    DownloadHandlers::Behaviour behaviour;
    behaviour.serverText = std::string(63, 'T');
    const std::string contents = Noise(kChunk + 9);
    ServeCached(contents, behaviour, {Action::Preparing});
    host.decide = [](const HostRecorder::Event& event) { return event.code == 9 ? 33 : 0; };
    ASSERT_EQ(Restore(), 1);
    EXPECT_EQ(ReadFile(target), contents);
    EXPECT_EQ(RequestedOffsets(), (std::vector<ULONGLONG>{0, 0, kChunk}));
    EXPECT_TRUE(host.Logged("GetFile: GetCachePacket wait ... preparing (2)"));
    // The text comes with every reply at offset 0, the preparing one included.
    const auto texts = host.Events(9);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].text, behaviour.serverText);
}

TEST_F(CachedTransfer, PassesNoServerTextOfSixtyFourBytesOrNone)
{
    DownloadHandlers::Behaviour behaviour;
    behaviour.serverText = std::string(64, 'T');
    ServeCached("abc", behaviour);
    ASSERT_EQ(Restore(), 1);
    behaviour.serverText.clear();
    files.SetBehaviour(behaviour);
    ASSERT_EQ(Restore(), 1);
    EXPECT_EQ(host.Count(9), 0u);
}

TEST_F(CachedTransfer, IsCancelledByTheAnswersToSizeAndProgress)
{
    // Event code, the host's answer, the reason sent to the server.
    for (auto [code, reason] : {std::pair<uint32_t, DWORD>{24, 6}, {25, 60}}) {
        SCOPED_TRACE(code);
        ServeCached(Noise(3 * kChunk));
        host.decide = [code = code, reason = reason](const HostRecorder::Event& event) {
            return event.code == code ? static_cast<int32_t>(reason) : 0;
        };
        EXPECT_EQ(Restore(), 0);
        EXPECT_FALSE(Exists(target));
        EXPECT_EQ(Removals().back().reason, reason);
        EXPECT_EQ(probe.LastError(), reason);
        EXPECT_EQ(probe.Cancelled(), 1u);
    }
    EXPECT_EQ(host.Count(25), 1u);
}

TEST_F(CachedTransfer, IsCancelledByThePollWithoutRetrying)
{
    ServeCached(Noise(3 * kChunk));
    CancelAfterFirstChunk(4, 1235);
    EXPECT_EQ(Restore(), 0);
    ExpectAbandoned(5);
    EXPECT_EQ(probe.Cancelled(), 1u);
    EXPECT_EQ(host.Count(8), 0u) << "a cancellation is no lost connection";
}

TEST_F(CachedTransfer, RunsWithoutAHost)
{
    const std::string contents = Noise(2 * kChunk + 1);
    ServeCached(contents);
    channel.SetCallback(0, nullptr);
    ASSERT_EQ(Restore(), 1);
    EXPECT_EQ(ReadFile(target), contents);
}

TEST_F(CachedTransfer, RefusesAnUnusableAnnouncement)
{
    for (auto fault : {DownloadHandlers::AnnouncementFault::LongCacheName,
                       DownloadHandlers::AnnouncementFault::NameBeyondReply}) {
        DownloadHandlers::Behaviour behaviour;
        behaviour.announcementFault = fault;
        ServeCached("abc", behaviour);
        EXPECT_EQ(Restore(), 0);
        EXPECT_FALSE(Exists(target));
        EXPECT_TRUE(host.LoggedStart("GetFile: cache file reply malformed ("));
    }
    EXPECT_TRUE(files.PacketRequests().empty());
}

TEST_F(CachedTransfer, AsksAgainForAReplyThatDoesNotHoldItsData)
{
    const std::string contents = Noise(2 * kChunk + 3);
    ServeCached(contents, {}, {Action::Data, Action::SizePastReply});
    ASSERT_EQ(Restore(), 1);
    EXPECT_EQ(ReadFile(target), contents);
    EXPECT_EQ(RequestedOffsets(), (std::vector<ULONGLONG>{0, kChunk, kChunk, 2 * kChunk}));
    EXPECT_TRUE(host.LoggedStart("GetFile: GetCachePacket reply malformed ("));

    files.QueuePacketActions(Repeat(Action::SizePastReply, 10));
    EXPECT_EQ(Restore(), 0);
    EXPECT_EQ(ReadFile(target), contents);
    EXPECT_EQ(RemovalReasons(), (std::vector<DWORD>{8, 3}));
}

TEST_F(CachedTransfer, NeverWritesPastTheAnnouncedSize)
{
    const std::string contents = Noise(kChunk + 10);
    ServeCached(contents, {}, {Action::Data, Action::PastEndOfFile});
    ASSERT_EQ(Restore(), 1) << "one bad packet is asked for again";

    files.QueuePacketActions(Repeat(Action::PastEndOfFile, 10));
    EXPECT_EQ(Restore(), 0);
    EXPECT_EQ(ReadFile(target), contents);
    EXPECT_EQ(RemovalReasons(), (std::vector<DWORD>{8, 3}));

    DownloadHandlers::Behaviour smaller;
    smaller.announcedTotal = kChunk;
    ServeCached(Noise(kChunk + 11, 2), smaller);
    EXPECT_EQ(Restore(), 0);
    EXPECT_EQ(ReadFile(target), contents);
}

TEST_F(CachedTransfer, EndingShortOfTheAnnouncedSizeIsNoSuccess)
{
    DownloadHandlers::Behaviour larger;
    larger.announcedTotal = 3 * kChunk;
    ServeCached(Noise(kChunk + 10), larger);
    EXPECT_EQ(Restore(), 0);
    ExpectAbandoned(8);
    EXPECT_TRUE(host.Logged("GetFile: transfer ended at (131082) of (393216) bytes"));
}

TEST_F(CachedTransfer, WriteFailureEndsTheTransfer)
{
    ServeCached(Noise(3 * kChunk));
    rlimit previous;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = previous;
    limited.rlim_cur = kChunk + kChunk / 2;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const INT result = Restore();
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(result, 0);
    ExpectAbandoned(7);
    EXPECT_NE(probe.SystemError(), 0u);
    EXPECT_TRUE(host.LoggedStart("GetFile WriteFile failed win32error ("));
}
