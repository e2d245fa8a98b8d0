// Downloads through the library against plain programs doing the same work, in one run:
//   - a cached transfer of a large file (1 GiB) by RestoreFile, against a reference client that
//     speaks the same framed protocol with the same 128 KiB chunks to the same stand-in server
//     (request, reply, CRC both ways, append to a file, flush it to its disk);
//   - a 4 MiB file that comes as one compressed reply by RestoreFile, against zlib's inflate,
//     a write and a flush to the disk of the same compressed bytes;
//   - many small restores on one channel (4 KiB and 300 KiB files, each one compressed reply,
//     over existing files and to fresh names) by RestoreFile, against the floor of the same
//     work (bench/support/SmallRestores.h), and against another build of the library when one
//     is given;
// each to a file on tmpfs and to a file on disk; and the stand-in server alone, serving the
// large file to a reader that only receives and checks the frames (and spins rather than
// sleeps while it waits, so that its own wake-ups do not count against the server).
// Rounds alternate which side runs first; every figure is the median of the rounds.
//
//   bench_download [--rounds N] [--size MIB] [--disk FOLDER] [--files N]
//                  [--compare-library PATH] [--server-only | --only cached|single|small]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>
#include <zlib.h>

#include "bench/support/FrameClient.h"
#include "bench/support/Median.h"
#include "bench/support/RestoreExports.h"
#include "bench/support/SmallRestores.h"
#include "bench/support/TextBytes.h"
#include "bench/support/ThreadCpu.h"
#include "platform/text.h"
#include "tests/support/Noise.h"
#include "tools/server/DownloadHandlers.h"
#include "tools/server/LoginService.h"
#include "tools/server/StandinServer.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kMiB = 1u << 20;
constexpr size_t kSingleSize = 4 * kMiB;
// The files of the small restores, each one compressed reply.
constexpr size_t kSmallSize = 4 * 1024;
constexpr size_t kMediumSize = 300 * 1024;
// The library inflates a single reply into a buffer of this size; the reference does the same.
constexpr size_t kInflateBuffer = 5 * kMiB;
// Single replies are short: each round restores this many to get past the clock's grain.
constexpr int kSingleRepeats = 20;
constexpr double kServerGoal = 1.5;
constexpr double kCachedGoal = 0.95;
constexpr double kSingleGoal = 0.9;
constexpr const char* kUser = "bench";
constexpr FrameClient::Codes kLargeCodes{601, 100, 1, 1000, 50000};
constexpr FrameClient::Codes kSingleCodes{601, 100, 1, 1001, 50001};

struct Options {
    int rounds = 5;
    uint64_t size = 1024ull * kMiB;
    fs::path disk = "/var/tmp";
    bool serverOnly = false;
    // Runs only the comparisons of this form ("cached", "single" or "small"); empty: all.
    std::string only;
    // Small restores per run and side.
    int files = 500;
    // Another build of the library that the small restores are also run with; empty: none.
    std::string compareLibrary;

    bool Runs(const std::string& form) const
    {
        return !serverOnly && (only.empty() || only == form);
    }
    // The server's measurement and the cached comparisons need the large file.
    bool NeedsLargeFile() const { return only != "small"; }
};

bool ReadOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--rounds" && hasValue)
            options.rounds = std::max(1, std::atoi(argv[++i]));
        else if (option == "--size" && hasValue)
            options.size = std::strtoull(argv[++i], nullptr, 10) * kMiB;
        else if (option == "--disk" && hasValue)
            options.disk = argv[++i];
        else if (option == "--server-only")
            options.serverOnly = true;
        else if (option == "--only" && hasValue)
            options.only = argv[++i];
        else if (option == "--files" && hasValue)
            options.files = std::max(1, std::atoi(argv[++i]));
        else if (option == "--compare-library" && hasValue)
            options.compareLibrary = argv[++i];
        else
            return false;
    }
    return options.size > 0 && (options.only.empty() || options.only == "cached" ||
                                options.only == "single" || options.only == "small");
}

// Bytes that do not compress, made quickly: one noisy MiB, varied per MiB.
void WriteNoiseFile(const fs::path& path, uint64_t size)
{
    std::string block = Noise(kMiB);
    std::ofstream out(path, std::ios::binary);
    for (uint64_t written = 0; written < size; written += kMiB) {
        block[written / kMiB % block.size()] ^= 0x5A;
        out.write(block.data(),
                  static_cast<std::streamsize>(std::min<uint64_t>(kMiB, size - written)));
    }
}

double Seconds(const std::function<bool()>& work, bool* failed)
{
    auto start = std::chrono::steady_clock::now();
    if (!work())
        *failed = true;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs work and adds the CPU time that the calling thread spent in it to *seconds: the
// client's own cost, whatever the server's threads spend meanwhile.
bool CountingCpu(double* seconds, const std::function<bool()>& work)
{
    const double start = ThreadCpuSeconds();
    const bool done = work();
    *seconds += ThreadCpuSeconds() - start;
    return done;
}

// Runs two sides for the rounds, alternating which goes first; gives their median rates in
// GB/s of bytes per run.
std::pair<double, double> Compare(int rounds, double bytes, const std::function<bool()>& library,
                                  const std::function<bool()>& reference, bool* failed)
{
    std::vector<double> libraryRates, referenceRates;
    for (int round = 0; round < rounds; ++round) {
        const bool libraryFirst = round % 2 == 0;
        double first = Seconds(libraryFirst ? library : reference, failed);
        double second = Seconds(libraryFirst ? reference : library, failed);
        libraryRates.push_back(bytes / 1e9 / (libraryFirst ? first : second));
        referenceRates.push_back(bytes / 1e9 / (libraryFirst ? second : first));
    }
    return {Median(libraryRates), Median(referenceRates)};
}

void PrintComparison(const char* what, const char* library, const char* reference,
                     std::pair<double, double> rates, double goal)
{
    const double ratio = rates.first / rates.second;
    std::printf("%-38s %s %6.3f GB/s   %s %6.3f GB/s   ratio %.3f (goal >= %.2f) %s\n", what,
                library, rates.first, reference, rates.second, ratio, goal,
                ratio >= goal ? "met" : "MISSED");
}

bool Restore(Csocketclient* channel, const FrameClient::Codes& codes, const fs::path& path)
{
    return RestoreExports::Linked().Restore(channel, codes, Utf8ToUtf16(path.string()).c_str());
}

// The reference of a single reply: inflate into a buffer as large as the library's, write the
// result and flush it to the disk, as the library does with every file it restores.
bool InflateAndWrite(const std::string& stream, std::vector<Bytef>& buffer, const fs::path& path)
{
    uLongf length = static_cast<uLongf>(buffer.size());
    if (uncompress(buffer.data(), &length, reinterpret_cast<const Bytef*>(stream.data()),
                   static_cast<uLong>(stream.size())) != Z_OK)
        return false;
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr)
        return false;
    bool written = std::fwrite(buffer.data(), 1, length, out) == length &&
                   std::fflush(out) == 0 && fsync(fileno(out)) == 0;
    return std::fclose(out) == 0 && written;
}

// The stand-in server on port 443 of a loopback address of this benchmark's own.
std::unique_ptr<StandinServer> StartServer()
{
    for (int host = 1; host < 255; ++host) {
        const std::string address = "127.0.93." + std::to_string(host);
        auto server = std::make_unique<StandinServer>(address, StandinServer::kDefaultPort);
        if (server->Start())
            return server;
    }
    return nullptr;
}

class Bench {
public:
    Bench(const Options& options, fs::path work) : m_options(options), m_work(std::move(work)) {}

    bool Prepare();
    bool MeasureServer();
    bool CompareCached(const fs::path& folder, const char* where);
    bool CompareSingle(const fs::path& folder, const char* where);
    bool CompareSmall();
    void Close();

private:
    bool RemovedAfter(bool done, const fs::path& path);

    const Options& m_options;
    fs::path m_work;
    // Outlive the server's connections.
    DownloadHandlers m_files;
    LoginService m_logins;
    std::unique_ptr<StandinServer> m_server;
    Csocketclient* m_channel = nullptr;
    FrameClient m_reference;
    // The reader of the server's measurement, never asleep when a frame comes.
    FrameClient m_reader{FrameClient::Waiting::Spin};
};

bool Bench::Prepare()
{
    if (m_options.NeedsLargeFile()) {
        const fs::path large = m_work / "large.bin";
        WriteNoiseFile(large, m_options.size);
        std::shared_ptr<const ServedFile> largeFile = ServedFile::FromDisk(large.string());
        if (largeFile == nullptr)
            return false;
        m_files.AddFile(kLargeCodes, largeFile, 0);
    }
    m_files.AddFile(kSingleCodes, TextBytes(kSingleSize), 0);
    m_server = StartServer();
    if (m_server == nullptr)
        return false;
    m_logins.AddUser(kUser, kUser);
    SettingsReplyFields settings;
    settings.dataServer = m_server->Address();
    m_logins.SetSettingsReply(settings);
    m_logins.Register(m_server->Commands());
    m_files.Register(m_server->Commands());
    m_channel = RestoreExports::Linked().Open(m_server->Address(), kUser);
    return m_channel != nullptr && m_reference.Connect(m_server->Address(), 443) &&
           m_reader.Connect(m_server->Address(), 443);
}

bool Bench::RemovedAfter(bool done, const fs::path& path)
{
    std::error_code ignored;
    fs::remove(path, ignored);
    return done;
}

bool Bench::MeasureServer()
{
    DownloadHandlers::Behaviour cached;
    cached.form = DownloadHandlers::Form::Cached;
    m_files.SetBehaviour(cached);
    std::vector<double> rates;
    for (int round = 0; round < m_options.rounds; ++round) {
        bool failed = false;
        double seconds = Seconds(
            [&] {
                return m_reader.FetchCached(kLargeCodes, nullptr) ==
                       static_cast<int64_t>(m_options.size);
            },
            &failed);
        if (failed)
            return false;
        rates.push_back(static_cast<double>(m_options.size) / 1e9 / seconds);
    }
    const double rate = Median(rates);
    std::printf("%-38s %6.3f GB/s (goal >= %.1f GB/s) %s\n",
                "stand-in server to a frame reader", rate, kServerGoal,
                rate >= kServerGoal ? "met" : "MISSED");
    return true;
}

bool Bench::CompareCached(const fs::path& folder, const char* where)
{
    DownloadHandlers::Behaviour cached;
    cached.form = DownloadHandlers::Form::Cached;
    m_files.SetBehaviour(cached);
    const fs::path target = folder / "kelvane-bench-restored.bin";
    const int64_t expected = static_cast<int64_t>(m_options.size);
    bool failed = false;
    double libraryCpu = 0;
    double referenceCpu = 0;
    auto rates = Compare(
        m_options.rounds, static_cast<double>(m_options.size),
        [&] {
            return RemovedAfter(CountingCpu(&libraryCpu,
                                            [&] {
                                                return Restore(m_channel, kLargeCodes, target) &&
                                                       fs::file_size(target) == m_options.size;
                                            }),
                                target);
        },
        [&] {
            return RemovedAfter(CountingCpu(&referenceCpu,
                                            [&] {
                                                return m_reference.FetchCached(
                                                           kLargeCodes, target.c_str()) == expected;
                                            }),
                                target);
        },
        &failed);
    const std::string what = std::to_string(m_options.size / kMiB) + " MiB cached, to " + where;
    PrintComparison(what.c_str(), "RestoreFile", "reference", rates, kCachedGoal);
    const double gibibytes = static_cast<double>(m_options.size) * m_options.rounds / (1024.0 * kMiB);
    std::printf("%-38s RestoreFile %6.3f s   reference %6.3f s   (bench/curl_cpu.sh gives curl's)\n",
                "  client CPU per GiB", libraryCpu / gibibytes, referenceCpu / gibibytes);
    return !failed;
}

bool Bench::CompareSingle(const fs::path& folder, const char* where)
{
    DownloadHandlers::Behaviour single;
    single.form = DownloadHandlers::Form::Single;
    m_files.SetBehaviour(single);
    const std::string stream = m_reference.FetchCompressed(kSingleCodes);
    if (stream.empty())
        return false;
    const fs::path target = folder / "kelvane-bench-single.txt";
    std::vector<Bytef> buffer(kInflateBuffer);
    bool failed = false;
    auto rates = Compare(
        m_options.rounds, static_cast<double>(kSingleSize) * kSingleRepeats,
        [&] {
            bool done = true;
            for (int i = 0; i < kSingleRepeats; ++i)
                done = RemovedAfter(Restore(m_channel, kSingleCodes, target), target) && done;
            return done;
        },
        [&] {
            bool done = true;
            for (int i = 0; i < kSingleRepeats; ++i)
                done = RemovedAfter(InflateAndWrite(stream, buffer, target), target) && done;
            return done;
        },
        &failed);
    const std::string what = "4 MiB single reply, to " + std::string(where);
    PrintComparison(what.c_str(), "RestoreFile", "inflate+write", rates, kSingleGoal);
    return !failed;
}

bool Bench::CompareSmall()
{
    DownloadHandlers::Behaviour single;
    single.form = DownloadHandlers::Form::Single;
    m_files.SetBehaviour(single);
    RestoreExports other;
    const bool compared = !m_options.compareLibrary.empty();
    if (compared && !RestoreExports::Load(m_options.compareLibrary, &other))
        return false;
    SmallRestores small(*m_server, m_files, m_options.rounds, m_options.files);
    if (!small.Start(kUser, compared ? &other : nullptr, "other") ||
        !small.ServeFiles({kSmallSize, kMediumSize}, m_work))
        return false;
    if (compared)
        std::printf("other: %s\n", m_options.compareLibrary.c_str());
    small.PrintHeader();
    const std::pair<const fs::path*, const char*> folders[] = {{&m_work, "tmpfs"},
                                                               {&m_options.disk, "disk"}};
    for (size_t size : {kSmallSize, kMediumSize}) {
        for (const auto& [folder, where] : folders) {
            for (auto target :
                 {SmallRestores::Target::OverExisting, SmallRestores::Target::FreshNames}) {
                if (!small.Compare(size, *folder, where, target))
                    return false;
            }
        }
    }
    return true;
}

void Bench::Close()
{
    if (m_channel != nullptr)
        CloseChannel(m_channel);
    m_channel = nullptr;
    if (m_server)
        m_server->Stop();
}

}  // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Options options;
    if (!ReadOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: %s [--rounds N] [--size MIB] [--disk FOLDER] [--files N]\n"
                     "          [--compare-library PATH] "
                     "[--server-only | --only cached|single|small]\n",
                     argv[0]);
        return 2;
    }
    const fs::path work = fs::path("/dev/shm") / ("kelvane-bench-" + std::to_string(getpid()));
    fs::create_directories(work);
    // RestoreFile leaves its "Log.txt" in the current folder.
    fs::current_path(work);
    bool done;
    {
        Bench bench(options, work);
        done = bench.Prepare();
        if (!done)
            std::fprintf(stderr, "bench_download: cannot start the server or open a channel\n");
        done = done && (!options.NeedsLargeFile() || bench.MeasureServer());
        if (done && options.Runs("cached"))
            done = bench.CompareCached(work, "tmpfs") && bench.CompareCached(options.disk, "disk");
        if (done && options.Runs("single"))
            done = bench.CompareSingle(work, "tmpfs") && bench.CompareSingle(options.disk, "disk");
        if (done && options.Runs("small"))
            done = bench.CompareSmall();
        bench.Close();
    }
    fs::current_path("/");
    fs::remove_all(work);
    if (!done)
        std::fprintf(stderr, "bench_download: a download failed\n");
    return done ? 0 : 1;
}
