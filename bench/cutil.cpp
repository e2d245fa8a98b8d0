// Speed of the utility object's checksums: Cutil::Crc32 against zlib's crc32 on the same
// buffers, each CRC-32 method on its own, and the file checksum Cutil::GetCrc32Disk against
// plainly reading the same file in 1 MiB blocks, with the file in the page cache and read from
// the disk. The two file sides run in alternating order, each pass starting from the same
// page-cache state (the file's pages dropped first for the disk case), so that neither warms
// the cache for the other. Prints the ratios after the runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>
#include <zlib.h>

#include "bench/support/Median.h"
#include "platform/file.h"
#include "util/Crc32Kernel.h"
#include "util/Cutil.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kFileSize = 256u << 20;
constexpr DWORD kBlockSize = 1u << 20;

std::vector<uint8_t> RandomBuffer(size_t size)
{
    std::mt19937_64 random(42);
    std::vector<uint8_t> buffer(size);
    for (auto& byte : buffer)
        byte = static_cast<uint8_t>(random());
    return buffer;
}

const std::vector<uint8_t>& Buffer(size_t size)
{
    static std::map<size_t, std::vector<uint8_t>> buffers;
    auto found = buffers.find(size);
    if (found == buffers.end())
        found = buffers.emplace(size, RandomBuffer(size)).first;
    return found->second;
}

fs::path& BenchFile()
{
    static fs::path path;
    return path;
}

void CutilCrc32(benchmark::State& state)
{
    const auto& buffer = Buffer(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        uint32_t crc = 0;
        Cutil::Crc32(buffer.data(), static_cast<uint32_t>(buffer.size()), &crc, 1);
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buffer.size()));
}

// Range 0 = the method (Crc32Kernel::Method), range 1 = the buffer size.
void MethodCrc32(benchmark::State& state)
{
    const auto method = static_cast<Crc32Kernel::Method>(state.range(0));
    const auto& buffer = Buffer(static_cast<size_t>(state.range(1)));
    if (!Crc32Kernel::IsSupported(method))
        state.SkipWithError("not supported by this processor");
    for (auto _ : state) {
        uint32_t crc = Crc32Kernel::UpdateWith(method, 0xFFFFFFFFu, buffer.data(), buffer.size());
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buffer.size()));
}

void ZlibCrc32(benchmark::State& state)
{
    const auto& buffer = Buffer(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        uLong crc = crc32(0, buffer.data(), static_cast<uInt>(buffer.size()));
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buffer.size()));
}

// Drops the file's pages from the page cache, so that the next pass reads the disk. The file
// was synced when written: dirty pages would stay.
void EvictBenchFile()
{
    int descriptor = open(BenchFile().c_str(), O_RDONLY);
    posix_fadvise(descriptor, 0, 0, POSIX_FADV_DONTNEED);
    close(descriptor);
}

void WriteBenchFile()
{
    const auto& block = Buffer(kBlockSize);
    {
        std::ofstream out(BenchFile(), std::ios::binary);
        for (size_t written = 0; written < kFileSize; written += kBlockSize)
            out.write(reinterpret_cast<const char*>(block.data()), kBlockSize);
    }
    int descriptor = open(BenchFile().c_str(), O_RDONLY);
    fsync(descriptor);
    close(descriptor);
}

// The reference: the file read in 1 MiB blocks, as the file checksum reads it.
bool ReadFilePlainly(void* buffer)
{
    HANDLE file = CreateFileW(BenchFile().u16string().c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD read = 0;
    BOOL ok;
    while ((ok = ReadFile(file, buffer, kBlockSize, &read, nullptr)) && read != 0)
        benchmark::DoNotOptimize(read);
    CloseHandle(file);
    return ok;
}

bool CrcFile(Cutil& util)
{
    uint32_t crc = 0, error = 0, step = 0;
    bool ok = util.GetCrc32Disk(BenchFile().u16string().c_str(), &crc, 0, &error, &step, 1, 1);
    benchmark::DoNotOptimize(crc);
    return ok;
}

// Times passes of the plain read and of the file checksum, in alternating order (read first
// in even rounds, checksum first in odd ones); cold drops the file's pages before every pass,
// warm reads the file once before the first. Prints the median rates and their ratio.
void CompareFileCrcWithRead(bool cold, const char* label)
{
    constexpr int kRounds = 6;
    void* buffer = Cutil::AllocatePacket(kBlockSize);
    Cutil util;
    if (!cold)
        ReadFilePlainly(buffer);
    std::vector<double> readSeconds, crcSeconds;
    bool ok = true;
    for (int round = 0; round < kRounds; ++round) {
        for (int side = 0; side < 2; ++side) {
            const bool crcSide = (side == 0) == (round % 2 == 1);
            if (cold)
                EvictBenchFile();
            auto start = std::chrono::steady_clock::now();
            ok = (crcSide ? CrcFile(util) : ReadFilePlainly(buffer)) && ok;
            std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
            (crcSide ? crcSeconds : readSeconds).push_back(elapsed.count());
        }
    }
    Cutil::FreePacket(buffer);
    if (!ok) {
        std::printf("%s: a pass failed\n", label);
        return;
    }
    const double read = kFileSize / Median(readSeconds) / 1e6;
    const double crc = kFileSize / Median(crcSeconds) / 1e6;
    std::printf("%s: plain read %.0f MB/s, GetCrc32Disk %.0f MB/s, ratio %.2f\n", label, read,
                crc, crc / read);
}

// 256 bytes: about the size of a command reply, and one step of the 512-bit folding.
BENCHMARK(CutilCrc32)->Arg(256)->Arg(64 << 10)->Arg(1 << 20);
BENCHMARK(ZlibCrc32)->Arg(256)->Arg(64 << 10)->Arg(1 << 20);
BENCHMARK(MethodCrc32)->ArgsProduct({{0, 1, 2}, {1 << 20}});

// Keeps the throughput of every run for the ratios.
class RateReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            auto rate = run.counters.find("bytes_per_second");
            if (rate != run.counters.end())
                rates[run.benchmark_name()] = rate->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> rates;
};

void PrintRatio(const RateReporter& reporter, const char* label, const std::string& mine,
                const std::string& reference)
{
    auto a = reporter.rates.find(mine);
    auto b = reporter.rates.find(reference);
    if (a != reporter.rates.end() && b != reporter.rates.end() && b->second > 0)
        std::printf("%s: %.2f\n", label, a->second / b->second);
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    BenchFile() = fs::temp_directory_path() / ("kelvane-bench-cutil-" + std::to_string(getpid()));
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    PrintRatio(reporter, "crc32 ratio vs zlib (256 B)", "CutilCrc32/256", "ZlibCrc32/256");
    PrintRatio(reporter, "crc32 ratio vs zlib (64 KiB)", "CutilCrc32/65536", "ZlibCrc32/65536");
    PrintRatio(reporter, "crc32 ratio vs zlib (1 MiB)", "CutilCrc32/1048576", "ZlibCrc32/1048576");
    PrintRatio(reporter, "crc32 ratio, 128-bit folding vs table (1 MiB)", "MethodCrc32/1/1048576",
               "MethodCrc32/0/1048576");
    PrintRatio(reporter, "crc32 ratio, 512-bit folding vs table (1 MiB)", "MethodCrc32/2/1048576",
               "MethodCrc32/0/1048576");
    WriteBenchFile();
    CompareFileCrcWithRead(false, "file crc vs plain read (256 MiB, cached)");
    CompareFileCrcWithRead(true, "file crc vs plain read (256 MiB, from disk)");
    fs::remove(BenchFile());
    benchmark::Shutdown();
    return 0;
}
