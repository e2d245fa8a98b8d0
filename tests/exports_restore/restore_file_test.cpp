// RestoreFile through the exported function: a file from the stand-in server to a local path,
// as one compressed reply or as a cached transfer, with the host's progress and cancellation,
// and the "Log.txt" note in the current directory.
#include <pthread.h>

#include <atomic>
#include <new>
#include <numeric>
#include <thread>

#include "RestoreFixture.h"

namespace {

class RestoreFileTest : public RestoreFixture {
protected:
    std::filesystem::path target = dir.path() / "restored.bin";
};

size_t OpenDescriptors()
{
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                             std::filesystem::directory_iterator()));
}

// Restores on a thread of its own, one call after the other, until the thread is cancelled.
struct RestoresUntilCancelled {
    std::function<void()> restore;
    std::atomic<unsigned> calls{0};

    static void* Run(void* argument)
    {
        auto* self = static_cast<RestoresUntilCancelled*>(argument);
        for (;;) {
            self->restore();
            ++self->calls;
        }
    }
};

std::string Utf16Bytes(const std::u16string& text)
{
    std::string bytes;
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

} // namespace

TEST_F(RestoreFileTest, SmallFileArrivesInOneReplyWithItsProgress)
{
    const std::string contents = Noise(70000) + std::string(50000, 'z');
    Serve(contents);
    ASSERT_EQ(RestoreFile(target.u16string()), 1);
    EXPECT_TRUE(Read(target) == contents);
    EXPECT_EQ(FileRequests(), 1u);
    EXPECT_TRUE(files.PacketRequests().empty());
    EXPECT_EQ(host.Values(kState), (std::vector<uint64_t>{4, 5}));
    // The size announced and the bytes handled are those of the compressed stream.
    ASSERT_EQ(host.Seen(kDataSize), 1u);
    EXPECT_EQ(host.Values(kDataDone), host.Values(kDataSize));
    EXPECT_LT(host.Values(kDataSize)[0], contents.size());
    for (const HostCallback::Event& event : host.Events())
        EXPECT_EQ(event.context, 0u);
}

TEST_F(RestoreFileTest, LargeFileComesInChunksOf128KiB)
{
    const std::string contents = Noise(DownloadHandlers::kSingleReplyLimit + 300000, 9);
    Serve(contents);
    ASSERT_EQ(RestoreFile(target.u16string()), 1);
    EXPECT_TRUE(Read(target) == contents);
    const auto requests = files.PacketRequests();
    ASSERT_EQ(requests.size(), contents.size() / kChunk + 1);
    for (const auto& request : requests)
        EXPECT_EQ(request.chunkSize, kChunk);
    EXPECT_EQ(host.Values(kDataSize), (std::vector<uint64_t>{contents.size()}));
    const std::vector<uint64_t> done = host.Values(kDataDone);
    EXPECT_EQ(done.size(), requests.size());
    EXPECT_EQ(std::accumulate(done.begin(), done.end(), uint64_t{0}), contents.size());
    EXPECT_EQ(RemovalReasons(), (std::vector<DWORD>{8}));
}

TEST_F(RestoreFileTest, HostCancelsACachedTransfer)
{
    Serve(Noise(DownloadHandlers::kSingleReplyLimit + 1));
    bool cancelled = false;
    host.decide = [&](const HostCallback::Event& event) {
        if (event.code != kCancelPoll || host.Seen(kDataDone) < 2 || cancelled)
            return 0;
        cancelled = true;
        return 1;
    };
    EXPECT_EQ(RestoreFile(target.u16string()), 0);
    EXPECT_FALSE(Exists(target));
    EXPECT_EQ(files.PacketRequests().size(), 3u);
    EXPECT_EQ(RemovalReasons(), (std::vector<DWORD>{5}));
}

TEST_F(RestoreFileTest, HostRefusesTheSizeOfAOneReplyFile)
{
    Serve("short file");
    host.decide = [](const HostCallback::Event& event) { return event.code == kDataSize ? 1 : 0; };
    EXPECT_EQ(RestoreFile(target.u16string()), 0);
    EXPECT_FALSE(Exists(target));
}

// The callback is the host's only for the call: the channel's messages after it (all of them
// at this log level) go elsewhere.
TEST_F(RestoreFileTest, CallbackIsRemovedAfterSuccessAndFailure)
{
    ReopenChannelWithLogLevel(50);
    Serve("contents");
    for (const bool served : {true, false}) {
        std::filesystem::path path = dir.path() / (served ? "a" : "missing-folder/b");
        EXPECT_EQ(RestoreFile(path.u16string()), served ? 1 : 0);
        EXPECT_GT(host.Seen(1), 0u);
        host.Clear();
        char dataServer[KELVANE_DATA_SERVER_SIZE] = {};
        uint32_t maintenance = 0;
        EXPECT_TRUE(library.VerifyServer(channel, dataServer, &maintenance));
        EXPECT_TRUE(host.Events().empty());
    }
}

TEST_F(RestoreFileTest, NullChannelAndTextsAreRefusedBeforeAnyRequest)
{
    Serve("contents");
    static auto restore = EXPORT(RestoreFile);
    const std::u16string path = target.u16string();
    EXPECT_EQ(restore(nullptr, 2, 1, 3, 0, 0, 0, 0, 0, 7, 0, path.c_str(), 0, 0, u"", nullptr), 0);
    EXPECT_EQ(restore(channel, 2, 1, 3, 0, 0, 0, 0, 0, 7, 0, nullptr, 0, 0, u"", nullptr), 0);
    EXPECT_EQ(restore(channel, 2, 1, 3, 0, 0, 0, 0, 0, 7, 0, path.c_str(), 0, 0, nullptr,
                      nullptr),
              0);
    EXPECT_EQ(RestoreRequests(), 0u);
    EXPECT_FALSE(Exists(cwd / "Log.txt"));
}

// An allocation failure that ends a restore after its echo went out (here where the host is
// told that the echo was sent) takes the echo with the connection: the next restore does not
// take the answer, given before the server dropped the connection, as its test, but connects
// anew and succeeds.
TEST_F(RestoreFileTest, AFailureAfterTheEchoWentOutLeavesNoAnswerToTheNextCall)
{
    Serve("contents");
    server.Server().Commands().Set(CCreatePacket::kEchoTest,
                                   [](RequestReader&, ReplyWriter& reply, ServerModel&) {
                                       reply.PutU32(1);
                                       reply.PutU32(0);
                                       reply.CloseConnection();
                                   });
    constexpr uint32_t kMessageSent = 10;
    constexpr uint64_t kEchoLength = 20;
    host.decide = [](const HostCallback::Event& event) -> int32_t {
        if (event.code == kMessageSent && event.value == kEchoLength)
            throw std::bad_alloc();
        return 0;
    };
    EXPECT_EQ(RestoreFile(target.u16string()), 0);
    host.decide = nullptr;
    EXPECT_EQ(RestoreFile(target.u16string()), 1);
    EXPECT_EQ(Read(target), "contents");
}

// A restore left between a request and the end of its reply, by an exception (here the
// host's callback failing to allocate at a cancel poll) or by the cancellation of its thread,
// leaves what is left of that reply on its connection: the next restore sends nothing more
// on that connection, where the answer would be read as another's, but connects anew, logs
// in and succeeds.
TEST_F(RestoreFileTest, AnExchangeLeftHalfwayLeavesNoAnswerToTheNextCall)
{
    constexpr uint32_t kMessageSent = 10;
    constexpr uint64_t kEchoLength = 20;
    constexpr uint64_t kRequestSent = 4;
    struct Row {
        const char* name;
        // The event after which the next cancel poll leaves the call.
        uint32_t code;
        uint64_t value;
        bool cancelsTheThread;
    };
    const Row rows[] = {{"the echo's answer", kMessageSent, kEchoLength, false},
                        {"the file's reply", kState, kRequestSent, false},
                        {"the echo's answer, on a cancelled thread", kMessageSent, kEchoLength,
                         true}};
    Serve("contents");
    // Short waits, so that an answer read out of step fails soon instead of after an hour.
    ShortenWaits(2);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        bool armed = false;
        host.decide = [&](const HostCallback::Event& event) -> int32_t {
            armed = armed || (event.code == row.code && event.value == row.value);
            if (!armed || event.code != kCancelPoll)
                return 0;
            if (row.cancelsTheThread) {
                pthread_cancel(pthread_self());
                pthread_testcancel();
            }
            throw std::bad_alloc();
        };
        if (row.cancelsTheThread) {
            RestoresUntilCancelled restores;
            restores.restore = [&] { RestoreFile(target.u16string()); };
            pthread_t thread;
            ASSERT_EQ(pthread_create(&thread, nullptr, &RestoresUntilCancelled::Run, &restores), 0);
            void* result = nullptr;
            pthread_join(thread, &result);
            EXPECT_EQ(result, PTHREAD_CANCELED);
            EXPECT_EQ(restores.calls, 0u);
        } else {
            EXPECT_EQ(RestoreFile(target.u16string()), 0);
        }
        host.decide = nullptr;
        ASSERT_TRUE(armed);
        const std::vector<RecordedRequest> before = server.Server().Log().Requests();
        const size_t logins = server.RequestCount(CCreatePacket::kAuthenticateUser);
        EXPECT_EQ(RestoreFile(target.u16string()), 1);
        EXPECT_EQ(Read(target), "contents");
        const std::vector<RecordedRequest> after = server.Server().Log().Requests();
        for (size_t i = before.size(); i < after.size(); ++i)
            EXPECT_NE(after[i].connection, before.back().connection) << after[i].code;
        EXPECT_EQ(server.RequestCount(CCreatePacket::kAuthenticateUser), logins + 1);
        std::filesystem::remove(target);
    }
}

TEST_F(RestoreFileTest, LogNoteHoldsTextThenPathAsUtf16)
{
    Serve("contents");
    RestoreFile(u"B", u"A");
    EXPECT_EQ(Read(cwd / "Log.txt"), std::string("A\0B\0", 4));
}

// Code units whose bytes hold a line feed (U+000A, U+010A, U+0A0D) are written as they are.
TEST_F(RestoreFileTest, LogNoteIsOverwrittenAndKeepsEveryByte)
{
    Serve("contents");
    const std::u16string text = u"line\nfeed \u010A\u0A0D ";
    const std::u16string path = (dir.path() / "x").u16string();
    ASSERT_EQ(RestoreFile(path, text.c_str()), 1);
    EXPECT_EQ(Read(cwd / "Log.txt"), Utf16Bytes(text + path));
    ASSERT_EQ(RestoreFile(u"relative.bin", u""), 1);
    EXPECT_EQ(Read(cwd / "relative.bin"), "contents");
    EXPECT_EQ(Read(cwd / "Log.txt"), Utf16Bytes(u"relative.bin"));
}

// A file the server refuses leaves nothing but the note.
TEST_F(RestoreFileTest, RefusedFileFailsAndStillLeavesItsNote)
{
    const std::u16string path = (dir.path() / "never").u16string();
    EXPECT_EQ(RestoreFile(path, u"why:"), 0);
    EXPECT_EQ(FileRequests(), 1u);
    EXPECT_FALSE(Exists(path));
    EXPECT_EQ(Read(cwd / "Log.txt"), Utf16Bytes(u"why:" + path));
}

TEST_F(RestoreFileTest, UnwritableLogNoteDoesNotStopTheRestore)
{
    Serve("contents");
    std::filesystem::create_directory(cwd / "Log.txt");
    EXPECT_EQ(RestoreFile(target.u16string(), u"note"), 1);
    EXPECT_EQ(Read(target), "contents");
    EXPECT_TRUE(std::filesystem::is_directory(cwd / "Log.txt"));
}

// A host may cancel its thread anywhere inside RestoreFile: whatever the call had open is
// closed on the way out. The restores go to a missing folder, so no file is asked for, and
// carry a long note, so that much of each call is spent writing it.
TEST_F(RestoreFileTest, CancellingTheHostsThreadInARestoreLeaksNoDescriptor)
{
    const std::u16string note(32 * 1024, u'n');
    const std::u16string path = (dir.path() / "missing-folder" / "f").u16string();
    ASSERT_EQ(RestoreFile(path, note.c_str()), 0);
    const size_t before = OpenDescriptors();
    for (unsigned round = 0; round < 50; ++round) {
        RestoresUntilCancelled restores;
        restores.restore = [&] { RestoreFile(path, note.c_str()); };
        pthread_t thread;
        ASSERT_EQ(pthread_create(&thread, nullptr, &RestoresUntilCancelled::Run, &restores), 0);
        // Into the second call, then on a little further each round.
        while (restores.calls == 0) {
        }
        for (std::atomic<unsigned> spin{0}; spin < round * 200; ++spin) {
        }
        pthread_cancel(thread);
        void* result = nullptr;
        pthread_join(thread, &result);
        EXPECT_EQ(result, PTHREAD_CANCELED);
    }
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_EQ(FileRequests(), 0u);
}

// A local file that is itself the note's file, however its path is spelt: a failed restore
// leaves the user's bytes, and a successful one, whether the file is there yet or not, leaves
// the restored file and no note over it.
TEST_F(RestoreFileTest, ALocalFileInTheNotesPlaceIsNeverTheNote)
{
    Serve("restored");
    DownloadHandlers::Behaviour failing;
    failing.singleFault = DownloadHandlers::SingleReplyFault::CorruptStream;
    std::filesystem::create_directory_symlink(cwd, dir.path() / "alias");
    for (const std::u16string& path :
         {std::u16string(u"Log.txt"), (cwd / "Log.txt").u16string(),
          (dir.path() / "alias" / "Log.txt").u16string()}) {
        SCOPED_TRACE(Utf16ToUtf8(path));
        std::ofstream(cwd / "Log.txt") << "the user's own log";
        files.SetBehaviour(failing);
        EXPECT_EQ(RestoreFile(path, u"note"), 0);
        EXPECT_EQ(Read(cwd / "Log.txt"), "the user's own log");
        files.SetBehaviour({});
        EXPECT_EQ(RestoreFile(path, u"note"), 1);
        EXPECT_EQ(Read(cwd / "Log.txt"), "restored");
        std::filesystem::remove(cwd / "Log.txt");
        EXPECT_EQ(RestoreFile(path, u"note"), 1);
        EXPECT_EQ(Read(cwd / "Log.txt"), "restored");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(cwd),
                                std::filesystem::directory_iterator()),
                  1);
    }
}

// Two threads of one host restore the same path over and over, each on its own channel: a
// restore never finds the file held open by the other, and every one of them succeeds.
TEST_F(RestoreFileTest, TwoRestoresOfOnePathAtOnceBothSucceed)
{
    files.AddFile(kCodes, Noise(20000), 1300000000);
    DownloadHandlers::Behaviour single;
    single.form = DownloadHandlers::Form::Single;
    files.SetBehaviour(single);
    Csocketclient* other = library.OpenChannel(server.Address16().c_str(), u"alice", u"secret",
                                               &flags, 0, u"", 0, u"", u"");
    ASSERT_NE(other, nullptr);
    std::atomic<unsigned> failures{0};
    auto restore = [&](Csocketclient* on) {
        static auto function = EXPORT(RestoreFile);
        for (int round = 0; round < 200; ++round) {
            if (function(on, Low(0), High(0), Low(1), High(1), Low(2), High(2), Low(3), High(3),
                         Low(4), High(4), target.u16string().c_str(), 0, 0, u"", nullptr) != 1)
                ++failures;
        }
    };
    std::thread first(restore, channel);
    std::thread second(restore, other);
    first.join();
    second.join();
    library.CloseChannel(other);
    EXPECT_EQ(failures, 0u);
    EXPECT_TRUE(Read(target) == Noise(20000));
}
