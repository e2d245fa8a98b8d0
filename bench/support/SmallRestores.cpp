#include "bench/support/SmallRestores.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>

#include "bench/support/Median.h"
#include "bench/support/TextBytes.h"
#include "bench/support/ThreadCpu.h"
#include "platform/text.h"
#include "util/LittleEndian.h"

namespace fs = std::filesystem;

namespace {

// The library inflates a single reply into a buffer of this size; the floor does the same.
constexpr size_t kInflateBuffer = 0x500000;
// Given to every served file, so that each side sets the time of every file it restores.
constexpr uint32_t kFileTime = 1700000000;
constexpr uint32_t kGetFile = 129;
// The single compressed reply: rc 2, file time, two words, compressed size, then the stream.
constexpr uint32_t kSingleReply = 2;
constexpr size_t kSingleHead = 20;
constexpr double kFloorGoal = 0.9;
constexpr double kOtherGoal = 1.1;
// The goal against the other build holds for files up to this size.
constexpr size_t kOtherGoalLargest = 4096;
// Sides in the table: kelvane, the floor and another build.
constexpr size_t kColumns = 3;
// Files that each side restores, untimed, before a comparison's rounds.
constexpr size_t kWarmUpFiles = 10;

// Flushes what the file system holds for folder, so that no side pays for the writes of the
// one before it.
void SyncFileSystem(const fs::path& folder)
{
    const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0) {
        syncfs(descriptor);
        close(descriptor);
    }
}

// The floor's local work for one file: write it beside the target, set its time, flush it to
// its disk and rename it over the target.
bool WriteInPlace(const fs::path& target, const uint8_t* data, size_t length, uint32_t fileTime)
{
    const std::string temporary = target.string() + ".floor";
    const int file = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file < 0)
        return false;
    const timespec times[2] = {{static_cast<time_t>(fileTime), 0},
                               {static_cast<time_t>(fileTime), 0}};
    bool done = write(file, data, length) == static_cast<ssize_t>(length) &&
                futimens(file, times) == 0 && fsync(file) == 0;
    done = close(file) == 0 && done;
    return done && rename(temporary.c_str(), target.c_str()) == 0;
}

std::string SizeText(size_t size)
{
    return size % 1024 == 0 ? std::to_string(size / 1024) + " KiB" : std::to_string(size) + " B";
}

// The table's columns: text padded (or right-aligned) to a width, numbers right-aligned.
std::string Column(const std::string& text, size_t width, bool right = false)
{
    const std::string padding(text.size() < width ? width - text.size() : 0, ' ');
    return right ? padding + text : text + padding;
}

std::string Number(double value, int decimals)
{
    char text[32];
    std::snprintf(text, sizeof text, "%9.*f", decimals, value);
    return text;
}

// A ratio, and whether it meets its goal when it has one (goal > 0).
std::string Ratio(double ratio, double goal)
{
    char text[32];
    std::snprintf(text, sizeof text, "%5.2f", ratio);
    return Column(std::string(text) + (goal <= 0 ? "" : ratio >= goal ? " met" : " MISSED"), 13);
}

}  // namespace

SmallRestores::SmallRestores(StandinServer& server, DownloadHandlers& files, int rounds,
                             int filesPerRun)
    : m_server(server),
      m_files(files),
      m_rounds(rounds),
      m_filesPerRun(filesPerRun),
      m_inflated(kInflateBuffer)
{
}

SmallRestores::~SmallRestores()
{
    Close();
}

bool SmallRestores::Start(const std::string& user, const RestoreExports* other,
                          const std::string& otherName)
{
    m_sides.push_back(Side{"kelvane", RestoreExports::Linked(), nullptr, {}, {}});
    m_sides.push_back(Side{"floor", RestoreExports{}, nullptr, {}, {}});
    if (other != nullptr)
        m_sides.push_back(Side{otherName, *other, nullptr, {}, {}});
    for (Side& side : m_sides) {
        if (side.exports.RestoreFile != nullptr &&
            (side.channel = side.exports.Open(m_server.Address(), user)) == nullptr)
            return false;
    }
    return m_floor.Connect(m_server.Address(), static_cast<uint16_t>(m_server.Port()));
}

void SmallRestores::PrintHeader() const
{
    std::printf(
        "\nSmall restores: %d files per run and side, each side on one channel of its own; "
        "medians of %d\nrounds in turns. Client CPU: getrusage(RUSAGE_THREAD), user + system, "
        "of the one thread that\nruns every side; the stand-in server answers on threads of "
        "its own in this process and is not\ncounted. Floor: for each file the requests that "
        "the library sends for one restore, then inflate,\nwrite, set the time, fsync and "
        "rename, with plain calls.\nThe requests of one restore by the library (code and "
        "payload size): %s.\n",
        m_filesPerRun, m_rounds, m_sent.c_str());
    const std::string other = m_sides.size() > 2 ? m_sides[2].name : "";
    std::printf("%s%s%s  %s%s\n", Column("", 24).c_str(), Column("files per second", 27).c_str(),
                Column("CPU ms per 1000 files", 27).c_str(), Column("kelvane/floor", 26).c_str(),
                other.empty() ? "" : ("kelvane/" + other).c_str());
    std::string names;
    for (size_t side = 0; side < kColumns; ++side)
        names += side < m_sides.size() ? Column(m_sides[side].name.substr(0, 8), 9, true)
                                       : Column("", 9);
    std::printf("%s%s%s  %s%s%s%s\n", Column("file, target, case", 24).c_str(), names.c_str(),
                names.c_str(), Column("files/s", 13).c_str(), Column("CPU", 13).c_str(),
                other.empty() ? "" : Column("files/s", 13).c_str(),
                other.empty() ? "" : Column("CPU", 13).c_str());
}

bool SmallRestores::ServeFiles(const std::vector<size_t>& sizes, const fs::path& folder)
{
    for (size_t size : sizes) {
        const uint64_t index = m_codes.size();
        const FrameClient::Codes codes{601, 100, 1, 2000 + index, 60000 + index};
        m_files.AddFile(codes, TextBytes(size), kFileTime);
        m_codes[size] = codes;
        std::string sent;
        if (!RecordRequests(codes, folder, &m_requests[size], &sent))
            return false;
        m_sent += (m_sent.empty() ? "" : "; ") + SizeText(size) + ": " + sent;
    }
    return true;
}

bool SmallRestores::RecordRequests(const FrameClient::Codes& codes, const fs::path& folder,
                                   std::vector<std::vector<uint8_t>>* requests,
                                   std::string* sent)
{
    const size_t before = m_server.Log().Requests().size();
    const fs::path probe = folder / "kelvane-small-probe";
    const Side& kelvane = m_sides.front();
    const bool restored =
        kelvane.exports.Restore(kelvane.channel, codes, Utf8ToUtf16(probe.string()).c_str());
    std::error_code ignored;
    fs::remove(probe, ignored);
    const std::vector<RecordedRequest> recorded = m_server.Log().Requests();
    for (size_t i = before; i < recorded.size(); ++i) {
        requests->push_back(recorded[i].payload);
        *sent += (i == before ? "" : ", ") + std::to_string(recorded[i].code) + " (" +
                 std::to_string(recorded[i].payload.size()) + " bytes)";
    }
    return restored && recorded.size() > before && recorded.back().code == kGetFile;
}

SmallRestores::Batch SmallRestores::MakeBatch(const FrameClient::Codes& codes,
                                              const fs::path& folder, int files)
{
    Batch batch{codes, {}, {}, nullptr};
    for (int i = 0; i < files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "file-%04d.txt", i);
        batch.paths.push_back(folder / name);
        batch.widePaths.push_back(Utf8ToUtf16(batch.paths.back().string()));
    }
    return batch;
}

bool SmallRestores::Compare(size_t size, const fs::path& folder, const char* where,
                            Target target)
{
    const auto served = m_codes.find(size);
    if (served == m_codes.end())
        return false;
    const FrameClient::Codes& codes = served->second;
    std::vector<Batch> batches;
    for (Side& side : m_sides) {
        side.filesPerSecond.clear();
        side.cpuPerThousand.clear();
        const fs::path own = folder / ("kelvane-small-" + side.name);
        fs::create_directories(own);
        batches.push_back(MakeBatch(codes, own, m_filesPerRun));
        batches.back().requests = &m_requests[size];
        if (target == Target::OverExisting) {
            const std::string old(size, 'o');
            for (const fs::path& path : batches.back().paths)
                std::ofstream(path, std::ios::binary) << old;
        }
    }
    // A few files first, untimed, so that no side's first round pays for cold caches.
    bool done = true;
    for (size_t side = 0; side < m_sides.size() && done; ++side) {
        Batch warmUp = batches[side];
        warmUp.paths.resize(std::min(warmUp.paths.size(), kWarmUpFiles));
        warmUp.widePaths.resize(warmUp.paths.size());
        done = Restore(m_sides[side], warmUp);
    }
    for (int round = 0; round < m_rounds && done; ++round) {
        for (size_t turn = 0; turn < m_sides.size() && done; ++turn) {
            const size_t index = (static_cast<size_t>(round) + turn) % m_sides.size();
            done = RunSide(m_sides[index], batches[index], size, target);
        }
    }
    for (const Batch& batch : batches) {
        std::error_code ignored;
        fs::remove_all(batch.paths.front().parent_path(), ignored);
    }
    if (!done)
        return false;
    const char* what = target == Target::OverExisting ? "existing" : "fresh";
    PrintLine(SizeText(size) + ", " + where + ", " + what, size);
    return true;
}

bool SmallRestores::RunSide(Side& side, const Batch& batch, size_t size, Target target)
{
    if (target == Target::FreshNames) {
        for (const fs::path& path : batch.paths) {
            std::error_code ignored;
            fs::remove(path, ignored);
        }
    }
    SyncFileSystem(batch.paths.front().parent_path());
    const double cpuBefore = ThreadCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const bool done = Restore(side, batch);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = ThreadCpuSeconds() - cpuBefore;
    std::error_code error;
    if (!done || fs::file_size(batch.paths.front(), error) != size ||
        fs::file_size(batch.paths.back(), error) != size) {
        std::fprintf(stderr, "small restores: %s failed\n", side.name.c_str());
        return false;
    }
    const double files = static_cast<double>(batch.paths.size());
    side.filesPerSecond.push_back(files / seconds);
    side.cpuPerThousand.push_back(cpu * 1e3 / files * 1e3);
    return true;
}

bool SmallRestores::Restore(const Side& side, const Batch& batch)
{
    return side.exports.RestoreFile != nullptr ? RestoreByLibrary(side, batch)
                                               : RestoreByFloor(batch);
}

bool SmallRestores::RestoreByLibrary(const Side& side, const Batch& batch) const
{
    for (const std::u16string& path : batch.widePaths) {
        if (!side.exports.Restore(side.channel, batch.codes, path.c_str()))
            return false;
    }
    return true;
}

bool SmallRestores::RestoreByFloor(const Batch& batch)
{
    for (const fs::path& path : batch.paths) {
        std::span<const uint8_t> reply;
        for (const std::vector<uint8_t>& request : *batch.requests) {
            if (!m_floor.Ask(request, &reply))
                return false;
        }
        if (reply.size() < kSingleHead || LoadLittleEndian32(reply.data()) != kSingleReply)
            return false;
        const uint32_t fileTime = LoadLittleEndian32(reply.data() + 4);
        const uint32_t compressed = LoadLittleEndian32(reply.data() + 16);
        uLongf length = static_cast<uLongf>(m_inflated.size());
        if (compressed > reply.size() - kSingleHead ||
            uncompress(m_inflated.data(), &length, reply.data() + kSingleHead, compressed) !=
                Z_OK ||
            !WriteInPlace(path, m_inflated.data(), length, fileTime))
            return false;
    }
    return true;
}

void SmallRestores::PrintLine(const std::string& what, size_t size) const
{
    auto rate = [this](size_t side) { return Median(m_sides[side].filesPerSecond); };
    auto cpu = [this](size_t side) { return Median(m_sides[side].cpuPerThousand); };
    std::string line = Column(what, 24);
    for (size_t side = 0; side < kColumns; ++side)
        line += side < m_sides.size() ? Number(rate(side), 0) : Column("", 9);
    for (size_t side = 0; side < kColumns; ++side)
        line += side < m_sides.size() ? Number(cpu(side), 1) : Column("", 9);
    line += "  " + Ratio(rate(0) / rate(1), kFloorGoal) + Ratio(cpu(0) / cpu(1), 0);
    if (m_sides.size() > 2)
        line += "  " + Ratio(rate(0) / rate(2), size <= kOtherGoalLargest ? kOtherGoal : 0) +
                Ratio(cpu(0) / cpu(2), 0);
    std::printf("%s\n", line.c_str());
}

void SmallRestores::Close()
{
    for (Side& side : m_sides) {
        if (side.channel != nullptr)
            side.exports.CloseChannel(side.channel);
        side.channel = nullptr;
    }
}
