// What the cache of freed page allocations saves, against the stand-in server on 127.0.0.1:
//   the client's CPU time per small command (the command index exchange: a request packet, a
//   send, a reply) with the cache switched off and on;
//   a steady cached transfer of 32 MiB in 128 KiB chunks, with the mmap and munmap calls of
//   the page allocations per chunk, and the client's CPU time, off and on.
// CPU times are those of the calling thread only; the server runs on threads of its own.
// Prints the ratios and the calls per chunk at the end.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "connection/Csocketclient.h"
#include "platform/memory.h"
#include "platform/text.h"
#include "tests/support/Noise.h"
#include "tools/server/DownloadHandlers.h"
#include "tools/server/LoginService.h"
#include "tools/server/StandinServer.h"

namespace fs = std::filesystem;

namespace {

constexpr DWORD kChunk = 0x20000;
constexpr size_t kFileSize = 32u << 20;
constexpr DownloadHandlers::FileCodes kCodes{7, 0x100000002ull, 3, 0xFFFFFFFFFFFFFFFFull, 5};

// Range 0 of every benchmark: 0 runs with the cache switched off, 1 with its usual bound.
void ChoosePageCache(const benchmark::State& state)
{
    SetPageCacheLimit(state.range(0) != 0 ? kDefaultPageCacheLimit : 0);
}

// A stand-in server that logs the user in and serves one file as a cached transfer.
class Server {
public:
    Server() : m_server("127.0.0.1", 0)
    {
        m_logins.Register(m_server.Commands());
        m_logins.AddUser("ab", "p");
        m_files.Register(m_server.Commands());
        m_files.AddFile(kCodes, Noise(kFileSize), 1300000000);
        DownloadHandlers::Behaviour behaviour;
        behaviour.form = DownloadHandlers::Form::Cached;
        m_files.SetBehaviour(behaviour);
        if (!m_server.Start())
            std::fprintf(stderr, "the stand-in server cannot listen\n");
    }

    ~Server() { m_server.Stop(); }

    // A channel to the server with the restore exports' settings.
    void Prepare(Csocketclient& channel) const
    {
        channel.SetServer(u"127.0.0.1", m_server.Port());
        channel.SetSendSleep(0);
        channel.SetRecvSleep(0);
        channel.SetUserCredentials(u"ab", u"p");
        channel.SetAutoSession(1);
        channel.SetGetPacketSize(kChunk);
    }

private:
    StandinServer m_server;
    LoginService m_logins;
    DownloadHandlers m_files;
};

Server& SharedServer()
{
    static Server server;
    return server;
}

void SmallCommand(benchmark::State& state)
{
    ChoosePageCache(state);
    Csocketclient channel;
    SharedServer().Prepare(channel);
    WCHAR errText[CTransportSocket::kErrorTextCapacity];
    if (!channel.SocketConnect(errText))
        state.SkipWithError("connect failed");
    const PageMappingCalls before = CountPageMappingCalls();
    for (auto _ : state) {
        if (channel.GetCommandIndex(errText) != 1)
            state.SkipWithError("command failed");
    }
    const PageMappingCalls after = CountPageMappingCalls();
    state.counters["mmaps"] = benchmark::Counter(static_cast<double>(after.maps - before.maps),
                                                 benchmark::Counter::kAvgIterations);
    channel.CloseSocket(1);
}

// Where the restored file goes: memory-backed when the system has it, so that the disk does
// not take part.
fs::path Target()
{
    const fs::path shm = "/dev/shm";
    const fs::path folder = fs::is_directory(shm) ? shm : fs::temp_directory_path();
    return folder / ("kelvane-bench-packets-" + std::to_string(getpid()));
}

void CachedTransfer(benchmark::State& state)
{
    ChoosePageCache(state);
    const std::u16string target = Target().u16string();
    Csocketclient channel;
    SharedServer().Prepare(channel);
    DWORD word = 0, done = 0, fileTime = 0;
    auto low = [](ULONGLONG code) { return static_cast<DWORD>(code); };
    auto high = [](ULONGLONG code) { return static_cast<DWORD>(code >> 32); };
    auto restore = [&] {
        return channel.RequestFile(low(kCodes[0]), high(kCodes[0]), low(kCodes[1]),
                                   high(kCodes[1]), low(kCodes[2]), high(kCodes[2]),
                                   low(kCodes[3]), high(kCodes[3]), low(kCodes[4]),
                                   high(kCodes[4]), target.c_str(), target.c_str(), 0, &word,
                                   &done, &fileTime);
    };
    // The first transfer opens the channel and fills the cache: the steady state follows.
    if (restore() != 1)
        state.SkipWithError("restore failed");
    const PageMappingCalls before = CountPageMappingCalls();
    for (auto _ : state) {
        if (restore() != 1)
            state.SkipWithError("restore failed");
    }
    const PageMappingCalls after = CountPageMappingCalls();
    const double chunks = static_cast<double>(state.iterations()) * (kFileSize / kChunk);
    state.counters["mmaps/chunk"] = static_cast<double>(after.maps - before.maps) / chunks;
    state.counters["munmaps/chunk"] = static_cast<double>(after.unmaps - before.unmaps) / chunks;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
    channel.CloseSocket(1);
    fs::remove(Target());
}

BENCHMARK(SmallCommand)->Arg(0)->Arg(1);
// Each transfer moves a whole file: a few iterations are enough.
BENCHMARK(CachedTransfer)->Arg(0)->Arg(1)->Iterations(6)->Unit(benchmark::kMillisecond);

// Keeps the CPU time per iteration and the counters of every run.
class Reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            m_cpu[run.benchmark_name()] = run.GetAdjustedCPUTime();
            for (const auto& [name, counter] : run.counters)
                m_counters[run.benchmark_name() + " " + name] = counter.value;
        }
    }

    void PrintSummary() const
    {
        auto cpu = [this](const std::string& name) {
            auto found = m_cpu.find(name);
            return found != m_cpu.end() ? found->second : 0.0;
        };
        auto counter = [this](const std::string& name) {
            auto found = m_counters.find(name);
            return found != m_counters.end() ? found->second : -1.0;
        };
        if (cpu("SmallCommand/1") > 0)
            std::printf("\nclient CPU per small command, cache off / on: %.2fx (target at least 2x)\n",
                        cpu("SmallCommand/0") / cpu("SmallCommand/1"));
        if (cpu("CachedTransfer/1/iterations:6") > 0)
            std::printf("client CPU per cached transfer, cache off / on: %.2fx\n",
                        cpu("CachedTransfer/0/iterations:6") / cpu("CachedTransfer/1/iterations:6"));
        std::printf("mmap + munmap per chunk in a steady cached transfer: %.2f off, %.2f on "
                    "(target 0 on)\n",
                    counter("CachedTransfer/0/iterations:6 mmaps/chunk") +
                        counter("CachedTransfer/0/iterations:6 munmaps/chunk"),
                    counter("CachedTransfer/1/iterations:6 mmaps/chunk") +
                        counter("CachedTransfer/1/iterations:6 munmaps/chunk"));
    }

private:
    std::map<std::string, double> m_cpu;
    std::map<std::string, double> m_counters;
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();
    return 0;
}
