// Several host threads, each on a channel of its own, log in, browse, ask the local service for
// the user's status, restore a file and close at the same time against one stand-in server
// and one stand-in service, with the trace log on. The server holds the
// first command-index replies back until each thread's connection has asked for its index, so
// the first logins all arrive after every index was handed out: the worst order that threads
// can produce.
#include <dlfcn.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "connection/CCreatePacket.h"
#include "support/HostProgram.h"
#include "support/KelvaneLibrary.h"
#include "support/LoginServer.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "tools/server/DownloadHandlers.h"
#include "tools/service/StandinService.h"

namespace {

constexpr size_t kThreads = 6;
constexpr DownloadHandlers::FileCodes kCodes{0x100000002ull, 3, 4, 5, 6};
constexpr ULONGLONG kMachine = 42;

// A copy of the library loaded from the test's folder: its trace log is built afresh at the
// first call and reads the settings there, whatever this process called before.
class PrivateLibrary {
public:
    explicit PrivateLibrary(const std::filesystem::path& folder)
    {
        const std::filesystem::path copy = folder / "libkelvane.so";
        std::filesystem::copy_file(KelvaneLibrary::Path(), copy);
        m_handle = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (m_handle == nullptr)
            throw std::runtime_error(std::string("cannot load the copy: ") + dlerror());
    }

    template <typename Function>
    Function* Get(const char* name) const
    {
        void* symbol = dlsym(m_handle, name);
        if (symbol == nullptr)
            throw std::runtime_error(std::string(name) + " is not exported");
        return reinterpret_cast<Function*>(symbol);
    }

private:
    // Never unloaded: the trace log's clean-up at exit lives in it.
    void* m_handle;
};

struct HostThreadOutcome {
    bool opened = false;
    uint32_t machines = 0;
    uint32_t volumes = 0;
    uint32_t userStatus = 0;
    int32_t restored = 0;
};

class ConcurrentChannelsTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Started()) << "port 443 of loopback not bound";
        files.Register(server.Server().Commands());
        files.AddFile(kCodes, contents, 0);
        // Fetched packet by packet, so the threads' transfers overlap.
        DownloadHandlers::Behaviour cached;
        cached.form = DownloadHandlers::Form::Cached;
        files.SetBehaviour(cached);
        FillStore();
        StatusReply status;
        status.userStatusFlags = {1, 0, 3, 0};
        service.SetStatus(status);
        ASSERT_TRUE(service.Start());
        HoldIndexRepliesUntilAllAsked();
        previousDirectory = std::filesystem::current_path();
        std::filesystem::current_path(folder.path());
    }

    void TearDown() override
    {
        if (!previousDirectory.empty())
            std::filesystem::current_path(previousDirectory);
    }

    void FillStore()
    {
        server.Server().Model().Service().With([](ServiceState& state) {
            StoredVolume volume;
            volume.code = 7;
            volume.label = u"C:";
            StoredMachine machine;
            machine.id = kMachine;
            machine.name = u"Office";
            machine.volumes.push_back(volume);
            state.machines.push_back(machine);
            state.activeMachine = kMachine;
        });
    }

    void HoldIndexRepliesUntilAllAsked()
    {
        CommandTable& commands = server.Server().Commands();
        CommandHandler handOut = commands.Find(CCreatePacket::kGetCommandIndex);
        commands.Set(CCreatePacket::kGetCommandIndex,
                     [this, handOut](RequestReader& request, ReplyWriter& reply,
                                     ServerModel& model) {
                         handOut(request, reply, model);
                         std::unique_lock<std::mutex> lock(indexMutex);
                         if (++indexRequests > kThreads)
                             return;
                         allIndexesAsked.notify_all();
                         // A thread that failed before asking must not hold the others for
                         // the channel's hour-long wait: past the grace the replies go, and
                         // the test's checks tell what went wrong.
                         allIndexesAsked.wait_for(lock, std::chrono::seconds(10),
                                                  [this] { return indexRequests >= kThreads; });
                     });
    }

    void RunHostThread(const PrivateLibrary& library, size_t number, HostThreadOutcome* outcome)
    {
        const std::u16string address = server.Address16();
        uint32_t flags = 0;
        Csocketclient* channel = library.Get<decltype(::OpenChannel)>("OpenChannel")(
            address.c_str(), u"alice", u"secret", &flags, 0, u"", 0, u"", u"");
        if (channel == nullptr)
            return;
        outcome->opened = true;
        auto freeBuffer = library.Get<decltype(::FreeBuffer)>("FreeBuffer");
        uint32_t size = 0;
        freeBuffer(library.Get<decltype(::loadMachines)>("loadMachines")(
            channel, &outcome->machines, &size));
        freeBuffer(library.Get<decltype(::loadVolumes)>("loadVolumes")(channel, &outcome->volumes,
                                                                       &size));
        library.Get<decltype(::GetUserStatus)>("GetUserStatus")(&outcome->userStatus);
        const std::u16string target = folder.file("restored-" + std::to_string(number));
        outcome->restored = library.Get<decltype(::RestoreFile)>("RestoreFile")(
            channel, Low(kCodes[0]), High(kCodes[0]), Low(kCodes[1]), High(kCodes[1]),
            Low(kCodes[2]), High(kCodes[2]), Low(kCodes[3]), High(kCodes[3]), Low(kCodes[4]),
            High(kCodes[4]), target.c_str(), 0, 0, u"", nullptr);
        library.Get<decltype(::CloseChannel)>("CloseChannel")(channel);
    }

    std::string Restored(size_t number) const
    {
        std::ifstream in(folder.path() / ("restored-" + std::to_string(number)), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Three packets of a restore.
    const std::string contents = std::string(0x50000, 'k') + "the end";
    TempDir folder;
    ScopedEnv pipeFolder{"KELVANE_PIPE_DIR", folder.path().string()};
    StandinService service{folder.path().string()};
    HostProgram trace{folder.path()};
    std::filesystem::path previousDirectory;
    std::mutex indexMutex;
    std::condition_variable allIndexesAsked;
    size_t indexRequests = 0;
    // Outlives the server's connections.
    DownloadHandlers files;
    LoginServer server;
};

} // namespace

TEST_F(ConcurrentChannelsTest, HostThreadsOpenBrowseRestoreAndCloseTogether)
{
    PrivateLibrary library(folder.path());
    std::vector<HostThreadOutcome> outcomes(kThreads);
    std::vector<std::thread> threads;
    for (size_t number = 0; number < kThreads; ++number)
        threads.emplace_back([&, number] { RunHostThread(library, number, &outcomes[number]); });
    for (std::thread& thread : threads)
        thread.join();

    const std::vector<ReceivedLogin> logins = server.Logins().Logins();
    std::set<ULONGLONG> indexes;
    for (const ReceivedLogin& login : logins) {
        EXPECT_TRUE(login.accepted) << "login sealed with index " << login.commandIndex;
        indexes.insert(login.commandIndex);
    }
    EXPECT_GE(logins.size(), kThreads);
    EXPECT_EQ(indexes.size(), logins.size());
    for (size_t number = 0; number < kThreads; ++number) {
        SCOPED_TRACE("host thread " + std::to_string(number));
        EXPECT_TRUE(outcomes[number].opened);
        EXPECT_EQ(outcomes[number].machines, 1u);
        EXPECT_EQ(outcomes[number].volumes, 1u);
        EXPECT_EQ(outcomes[number].userStatus, 10u);
        EXPECT_EQ(outcomes[number].restored, 1);
        EXPECT_TRUE(Restored(number) == contents);
    }
    // Each thread's traced calls start at the left margin: its own calls are its call stack.
    const std::vector<std::string> lines = trace.TraceLines();
    for (const char* line : {"{ OpenChannel():147", " var: isAuthenticated = 1",
                             "} RestoreFile():655 -> 1", "} CloseChannel()"}) {
        size_t count = 0;
        for (const std::string& traced : lines)
            count += traced.rfind(line, 0) == 0 ? 1 : 0;
        EXPECT_EQ(count, kThreads) << line;
    }
    EXPECT_EQ(CountContaining(lines, "#Error"), 0u);
}
