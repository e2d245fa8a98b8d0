#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <zlib.h>

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/format.h"
#include "restore/CBlocks.h"
#include "support/BlockFileWriter.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kFourGiB = 0x100000000ULL;

uint32_t Crc(const std::string& data)
{
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// CRC-32 of n zero bytes, by doubling.
uint32_t ZerosCrc(uint64_t n)
{
    if (n == 0)
        return 0;
    if (n % 2 == 1)
        return static_cast<uint32_t>(crc32_combine(ZerosCrc(n - 1), Crc(std::string(1, '\0')), 1));
    const uint32_t half = ZerosCrc(n / 2);
    return static_cast<uint32_t>(crc32_combine(half, half, static_cast<z_off_t>(n / 2)));
}

// What the object tells the host; answers code 14 with `stopAnswer` from the `stopAt`-th on.
struct Host {
    struct Event {
        uint32_t code;
        std::u16string text;
        uint64_t value;
    };
    std::vector<Event> events;
    int32_t stopAnswer = 0;
    size_t stopAt = 0;
    size_t progressCalls = 0;

    static int32_t Callback(uintptr_t context, uint32_t code, const char16_t* text, uint64_t value)
    {
        Host* host = reinterpret_cast<Host*>(context);
        host->events.push_back({code, text != nullptr ? text : u"", value});
        if (code != CBlocks::kCodeBuildProgress)
            return 0;
        return ++host->progressCalls > host->stopAt ? host->stopAnswer : 0;
    }
    std::vector<std::u16string> Messages() const
    {
        std::vector<std::u16string> texts;
        for (const Event& event : events) {
            if (event.code == 1)
                texts.push_back(event.text);
        }
        return texts;
    }
    size_t Count(uint32_t code) const
    {
        size_t count = 0;
        for (const Event& event : events)
            count += event.code == code;
        return count;
    }
};

class BlocksTest : public ::testing::Test {
protected:
    TempDir temp;
    std::u16string target = temp.file("target");
    std::u16string blocks = temp.file("blocks");
    CBlocks reader;
    Host host;
    WCHAR messages[CBlocks::kMessageCapacity] = {};

    void Listen(int32_t level)
    {
        reader.SetLogLevel(level);
        reader.SetCallback(reinterpret_cast<uintptr_t>(&host), &Host::Callback);
    }
    static void Save(const fs::path& path, const std::string& content)
    {
        std::ofstream(path, std::ios::binary) << content;
    }
    static std::string Load(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    uint32_t Build(const std::string& blockFile, uint64_t expectedSize, uint32_t expectedCrc,
                   uint32_t accept = 0, int32_t progress = 1)
    {
        Save(temp.path() / "blocks", blockFile);
        return reader.CreateVersionOnDisk(progress, target.c_str(), blocks.c_str(), expectedSize,
                                          expectedCrc, accept, 77, messages);
    }
    uint32_t Build(const BlockFileWriter& file, uint64_t expectedSize, uint32_t expectedCrc,
                   uint32_t accept = 0, int32_t progress = 1)
    {
        return Build(file.Bytes(), expectedSize, expectedCrc, accept, progress);
    }
};

}  // namespace

TEST_F(BlocksTest, TheHeaderAndRecordsAreReadFieldByFieldFromTheirOffsets)
{
    BlockFileWriter file(0x3132333435363738, 0x6162636465666768);
    file.Write(0x0102030405060708, "data", 7).Raw(9, 5, 1234, 0, 0);
    file.Raw(3, 6, 4, 0, 1, "next");
    Save(temp.path() / "blocks", file.Bytes());
    CBlocks::Header header{};
    ASSERT_EQ(reader.ReadHeader(blocks.c_str(), &header), 1u);
    EXPECT_EQ(header.unused0, 0xA1A2A3A4A5A6A7A8u);
    EXPECT_EQ(header.unused8, 0xB1B2B3B4u);
    EXPECT_EQ(header.unused12, 0xC1C2C3C4C5C6C7C8u);
    EXPECT_EQ(header.versionSize, 0x3132333435363738u);
    EXPECT_EQ(header.unused28, 0xD1D2D3D4u);
    EXPECT_EQ(header.unused32, 0xE1E2E3E4u);
    EXPECT_EQ(header.recordCount, 0x6162636465666768u);
    EXPECT_EQ(reader.GetLastSystemError(), 0u);

    HANDLE handle =
        CreateFileW(blocks.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_EQ(reader.ReadHeaderHandle(handle, &header), 1u);
    CBlocks::BlockRecord record{};
    ASSERT_EQ(reader.ReadBlock(handle, &record), 1u);
    EXPECT_EQ(record.type, 7u);
    EXPECT_EQ(record.offset, 0x0102030405060708u);
    EXPECT_EQ(record.dataSize, 4u);
    EXPECT_EQ(record.unused16, 0xF1F2F3F4u);
    EXPECT_EQ(record.crc, Crc("data"));
    EXPECT_EQ(record.hasData, 1u);
    ASSERT_NE(record.data, nullptr);
    EXPECT_EQ(std::string(static_cast<char*>(record.data), 4), "data");
    Cutil::FreePacket(record.data);
    // A flag other than 1 means nothing follows the 28 bytes, whatever the size says.
    ASSERT_EQ(reader.ReadBlock(handle, &record), 1u);
    EXPECT_EQ(record.dataSize, 1234u);
    EXPECT_EQ(record.data, nullptr);
    // The CRC check is the CRC of the data, so a wrong one stops the reader.
    EXPECT_EQ(reader.ReadBlock(handle, &record), 0u);
    EXPECT_EQ(GetLastError(), 23u);
    EXPECT_EQ(record.data, nullptr);
    CloseHandle(handle);
}

TEST_F(BlocksTest, ShortOrMissingHeadersFailWithTheirError)
{
    Listen(10);
    Save(temp.path() / "blocks", BlockFileWriter(1, 0).Bytes().substr(0, 43));
    CBlocks::Header header{};
    EXPECT_EQ(reader.ReadHeader(blocks.c_str(), &header), 0u);
    EXPECT_EQ(reader.GetLastSystemError(), static_cast<uint32_t>(ERROR_HANDLE_EOF));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HANDLE_EOF));
    EXPECT_TRUE(host.events.empty());

    const std::u16string missing = temp.file("missing");
    EXPECT_EQ(reader.ReadHeader(missing.c_str(), &header), 0u);
    EXPECT_EQ(reader.GetLastSystemError(), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(host.Messages(),
              std::vector<std::u16string>{u"CBlocks::ReadHeader CreateFile failed on (" + missing +
                                          u") (2)"});
    EXPECT_EQ(host.events[0].value, 3u);
}

TEST_F(BlocksTest, RecordsAreWrittenAtTheirOffsetsAndVerifyOnlyRecordsAreNot)
{
    Save(temp.path() / "target", std::string(100, 'A'));
    BlockFileWriter file(120, 4);
    file.Write(0, "hello").Write(110, "0123456789", 2).Write(50, "zzzz", 3).Write(5, "WORLD", 0);
    std::string expected = std::string(100, 'A') + std::string(20, '\0');
    expected.replace(0, 5, "hello");
    expected.replace(110, 10, "0123456789");
    expected.replace(5, 5, "WORLD");
    EXPECT_EQ(Build(file, 120, Crc(expected)), 1u);
    EXPECT_EQ(Load(temp.path() / "target"), expected);
    EXPECT_EQ(std::u16string(messages),
              FormatString(u"CBlocks::CreateVersionOnDisk newcrc (%ld) == filecrc (%ld) for (%s)",
                           Crc(expected), Crc(expected), target));

    // No records: the target only takes the version's size before its CRC is compared.
    EXPECT_EQ(Build(BlockFileWriter(30, 0), 30, Crc(expected.substr(0, 30))), 1u);
    EXPECT_EQ(Load(temp.path() / "target"), expected.substr(0, 30));
}

TEST_F(BlocksTest, ALargerHeaderSizeIsTriedFirstThenTheExpectedSize)
{
    Listen(10);
    Save(temp.path() / "target", "");
    BlockFileWriter file(1000, 2);
    file.Write(10, "abc").Write(900, "beyond the expected size");
    std::string full(1000, '\0');
    full.replace(10, 3, "abc");
    full.replace(900, 24, "beyond the expected size");
    const std::string cut = full.substr(0, 800);
    EXPECT_EQ(Build(file, 800, Crc(cut)), 1u);
    EXPECT_EQ(Load(temp.path() / "target"), cut);
    const auto texts = host.Messages();
    ASSERT_GE(texts.size(), 4u);
    EXPECT_EQ(texts[0], u"CBlocks::CreateVersionOnDisk size diff (1000) (800) filecode (77)");
    EXPECT_EQ(texts[1],
              u"CBlocks::CreateVersionOnDisk SetHugeEOF for (" + target + u") (1000) (0)");
    EXPECT_EQ(texts.back(), u"CreateVersionOnDisk: newcrc != crc");
    EXPECT_EQ(texts[texts.size() - 2],
              FormatString(u"CBlocks::CreateVersionOnDisk NOT newcrc (%ld) == filecrc (%ld)",
                           Crc(full), Crc(cut)));
}

TEST_F(BlocksTest, MismatchesFailUnlessAcceptedAndTheSecondSizeIsFinal)
{
    Save(temp.path() / "target", "");
    EXPECT_EQ(Build(BlockFileWriter(64, 0), 64, 1234), 0u);
    EXPECT_EQ(std::u16string(messages), u"CreateVersionOnDisk: sizes equal (64)");
    EXPECT_EQ(reader.GetLastSystemError(), 23u);

    EXPECT_EQ(Build(BlockFileWriter(64, 0), 64, 0, 1), 1u);
    EXPECT_EQ(std::u16string(messages),
              FormatString(u"CBlocks::CreateVersionOnDisk NOT newcrc (%ld) == filecrc (0)",
                           ZerosCrc(64)));

    // The expected size is the larger here, so the retry cuts to the header's size.
    Listen(1);
    EXPECT_EQ(Build(BlockFileWriter(40, 0), 64, 1234), 0u);
    EXPECT_EQ(std::u16string(messages), u"CreateVersionOnDisk: FINAL FALSE");
    EXPECT_EQ(host.Messages(), std::vector<std::u16string>{u"CreateVersionOnDisk: FINAL FALSE"});
    EXPECT_EQ(fs::file_size(temp.path() / "target"), 40u);
}

TEST_F(BlocksTest, ABadRecordStopsTheBuildWithItsReason)
{
    Listen(10);
    Save(temp.path() / "target", "");
    BlockFileWriter zero(8, 2);
    zero.Write(0, "ok").Raw(1, 2, 0, 0, 1);
    EXPECT_EQ(Build(zero, 8, 0, 1), 0u);
    auto texts = host.Messages();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[1].rfind(u"CBlocks::ReadBlockData AllocateMemory failed win32error (", 0), 0u);
    EXPECT_EQ(texts[2].rfind(u"CBlocks::ReadBlock ReadBlockData failed win32error (", 0), 0u);
    EXPECT_EQ(
        std::u16string(messages).rfind(
            u"CBlocks::CreateVersionOnDisk ReadBlock failed on (" + blocks + u") win32error (", 0),
        0u);
    EXPECT_EQ(Load(temp.path() / "target"), std::string("ok\0\0\0\0\0\0", 8));

    host.events.clear();
    BlockFileWriter bad(8, 1);
    bad.Raw(1, 0, 4, Crc("data") ^ 1, 1, "data");
    EXPECT_EQ(Build(bad, 8, 0, 1), 0u);
    texts = host.Messages();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[1], FormatString(u"CBlocks::ReadBlock crc error (4) crc (%ld) (%ld)",
                                     Crc("data") ^ 1, Crc("data")));
    EXPECT_EQ(std::u16string(messages), u"CBlocks::CreateVersionOnDisk ReadBlock failed on (" +
                                            blocks + u") win32error (23)");
}

TEST_F(BlocksTest, RecordsOverSixtyFourKiBAreDescribedBeforeTheyAreApplied)
{
    Listen(10);
    Save(temp.path() / "target", "");
    const std::string big(0x10001, 'b');
    BlockFileWriter file(0x10001, 2);
    file.Write(0, "x").Write(0, big);
    ASSERT_EQ(Build(file, 0x10001, Crc(big)), 1u);
    const auto texts = host.Messages();
    const std::u16string dump = u"block (1) type (1) offset (0) size (65537) crc (" +
                                FormatString(u"%X", Crc(big)) + u") data (";
    EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                            [&](const std::u16string& t) { return t.rfind(dump, 0) == 0; }),
              1);
}

TEST_F(BlocksTest, ProgressComesEveryTenThousandRecordsAndTheHostCanStop)
{
    Listen(30);
    Save(temp.path() / "target", "");
    BlockFileWriter file(25000, 25000);
    for (uint32_t i = 0; i < 25000; ++i)
        file.Raw(1, i, 1, Crc("p"), 1, "p");
    EXPECT_EQ(Build(file, 25000, Crc(std::string(25000, 'p'))), 1u);
    EXPECT_EQ(host.Count(CBlocks::kCodeBuildProgress), 3u);
    std::vector<std::u16string> progress;
    for (const auto& text : host.Messages()) {
        if (text.find(u"ReadBlock OK") != std::u16string::npos)
            progress.push_back(text);
    }
    EXPECT_EQ(progress, (std::vector<std::u16string>{
                            u"CBlocks::CreateVersionOnDisk ReadBlock OK (0) of (25000)",
                            u"CBlocks::CreateVersionOnDisk ReadBlock OK (10000) of (25000)",
                            u"CBlocks::CreateVersionOnDisk ReadBlock OK (20000) of (25000)"}));
    for (const auto& event : host.events) {
        if (event.code == CBlocks::kCodeBuildProgress) {
            EXPECT_EQ(event.value, 1u);
        }
    }

    host.events.clear();
    EXPECT_EQ(Build(file, 25000, 0, 1, 0), 1u);
    EXPECT_EQ(host.Count(CBlocks::kCodeBuildProgress), 0u);

    // Stopped at record 10000: what came before is applied, nothing after.
    for (int32_t answer : {5, 100}) {
        Save(temp.path() / "target", "");
        host = Host{};
        host.stopAt = 1;
        host.stopAnswer = answer;
        EXPECT_EQ(Build(file, 25000, 0, 1), 0u);
        EXPECT_EQ(reader.GetLastSystemError(), 1235u);
        EXPECT_EQ(std::u16string(messages),
                  FormatString(u"CBlocks::CreateVersionOnDisk m_callback returned (%d)", answer));
        EXPECT_EQ(host.events.back().value, answer == 100 ? 1u : 3u);
        const std::string content = Load(temp.path() / "target");
        EXPECT_EQ(content.find('\0'), 10000u);
        // Both files are closed: the target opens without sharing again.
        HANDLE handle =
            CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(handle, INVALID_HANDLE_VALUE);
        CloseHandle(handle);
    }
}

TEST_F(BlocksTest, HostileBlockFilesFailBeforeHarmOrAtTheFaultyRecord)
{
    const std::string original(30, 't');
    struct Case {
        std::string name;
        std::string bytes;
        std::u16string reason;
        bool untouched;
    };
    const std::u16string on = u"(" + blocks + u") win32error (";
    std::vector<Case> cases = {
        {"truncated header", BlockFileWriter(20, 0).Bytes().substr(0, 30),
         u"CBlocks::CreateVersionOnDisk ReadHeader failed on " + on + u"38)", true},
        {"count past the end", BlockFileWriter(20, 3).Write(0, "abc").Bytes(),
         u"CBlocks::CreateVersionOnDisk record count (3) does not fit in " + on + u"13)", true},
        {"negative count", BlockFileWriter(20, 0x8000000000000000).Bytes(),
         u"CBlocks::CreateVersionOnDisk record count (9223372036854775808) does not fit in " + on +
             u"13)",
         true},
        {"data past the end", BlockFileWriter(20, 1).Raw(1, 0, 0xFFFFFFF0, 0, 1, "short").Bytes(),
         u"CBlocks::CreateVersionOnDisk ReadBlock failed on " + on + u"38)", false},
        {"truncated record",
         BlockFileWriter(20, 2).Write(0, std::string(30, 'x'), 3).Bytes() + "cut",
         u"CBlocks::CreateVersionOnDisk ReadBlock failed on " + on + u"38)", false},
        {"write past the version", BlockFileWriter(20, 1).Write(18, "four").Bytes(),
         u"CBlocks::CreateVersionOnDisk block (0) offset (18) size (4) outside the version size "
         u"(20)",
         false},
        {"offset that wraps", BlockFileWriter(20, 1).Write(0xFFFFFFFFFFFFFFFE, "four").Bytes(),
         u"CBlocks::CreateVersionOnDisk block (0) offset (18446744073709551614) size (4) outside "
         u"the version size (20)",
         false},
        {"write without data", BlockFileWriter(20, 1).Raw(1, 0, 4, 0, 0).Bytes(),
         u"CBlocks::CreateVersionOnDisk WriteBlockData failed on (0) (" + target +
             u") win32error (13)",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Save(temp.path() / "target", original);
        EXPECT_EQ(Build(c.bytes, 20, 0, 1), 0u);
        EXPECT_EQ(std::u16string(messages), c.reason);
        const std::string content = Load(temp.path() / "target");
        EXPECT_EQ(content, c.untouched ? original : content.substr(0, 20));
        EXPECT_EQ(content.size(), c.untouched ? original.size() : 20u);
    }
}

TEST_F(BlocksTest, FilesThatCannotBeOpenedAreNamed)
{
    Save(temp.path() / "blocks", BlockFileWriter(4, 0).Bytes());
    const std::u16string missing = temp.file("missing");
    EXPECT_EQ(reader.CreateVersionOnDisk(1, target.c_str(), missing.c_str(), 4, 0, 1, 0, messages),
              0u);
    EXPECT_EQ(std::u16string(messages), u"CBlocks::CreateVersionOnDisk CreateFile failed on (" +
                                            missing + u") win32error (2)");
    EXPECT_EQ(reader.CreateVersionOnDisk(1, missing.c_str(), blocks.c_str(), 4, 0, 1, 0, messages),
              0u);
    EXPECT_EQ(std::u16string(messages), u"CBlocks::CreateVersionOnDisk CreateFile for (" + missing +
                                            u") failed win32error (2)");

    Save(temp.path() / "target", "");
    HANDLE held = CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(reader.CreateVersionOnDisk(1, target.c_str(), blocks.c_str(), 4, 0, 1, 0, messages),
              0u);
    EXPECT_EQ(reader.GetLastSystemError(), static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
    CloseHandle(held);
}

TEST_F(BlocksTest, AFailedWriteIsReportedInThreeLines)
{
    Listen(10);
    Save(temp.path() / "target", "");
    HANDLE readOnly =
        CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    char data[3] = {'a', 'b', 'c'};
    const CBlocks::BlockRecord record{1, 7, 3, 0, 0xABCD, 1, data};
    EXPECT_EQ(reader.WriteBlockData(readOnly, record), 0u);
    const DWORD error = GetLastError();
    CloseHandle(readOnly);
    EXPECT_EQ(
        host.Messages(),
        (std::vector<std::u16string>{
            FormatString(u"CBlocks::WriteBlockData WriteFile failed win32error (%d) (3)", error),
            u"CBlocks::WriteBlockData WriteFile failed offset (7)",
            u"CBlocks::WriteBlockData WriteFile failed crc (ABCD)"}));
}

TEST_F(BlocksTest, WithoutALevelNothingIsLoggedAndTheLogFileGetsBareLines)
{
    Listen(0);
    Save(temp.path() / "target", "");
    EXPECT_EQ(Build(BlockFileWriter(4, 0), 4, 1, 0), 0u);
    EXPECT_TRUE(host.Messages().empty());

    reader.SetCallback(0, nullptr);
    reader.SetLogLevel(10);
    const std::u16string log = temp.file("blocks.log");
    ASSERT_EQ(reader.SetLogPath(log.c_str()), 1u);
    EXPECT_EQ(Build(BlockFileWriter(4, 0), 4, 0, 1), 1u);
    EXPECT_EQ(Load(temp.path() / "blocks.log"),
              fs::path(u"CBlocks::CreateVersionOnDisk SetHugeEOF for (" + target +
                       u") (4) (1)\nCBlocks::CreateVersionOnDisk NOT newcrc (" +
                       FormatString(u"%ld", ZerosCrc(4)) + u") == filecrc (0)\n")
                  .string());
    EXPECT_EQ(std::u16string(messages).find(u'\n'), std::u16string::npos);
}

TEST_F(BlocksTest, AVersionPastFourGiBIsBuiltOnASparseFile)
{
    Save(temp.path() / "target", "head");
    const uint64_t size = kFourGiB + 8192;
    BlockFileWriter file(size, 3);
    file.Write(kFourGiB - 2, "across").Write(kFourGiB + 100, "far").Write(size - 3, "end");
    // Every piece with the zeros between them, combined without reading 4 GiB.
    uint32_t crc = Crc("head");
    uint64_t at = 4;
    for (const auto& [offset, data] : std::vector<std::pair<uint64_t, std::string>>{
             {kFourGiB - 2, "across"}, {kFourGiB + 100, "far"}, {size - 3, "end"}}) {
        crc = static_cast<uint32_t>(
            crc32_combine(crc, ZerosCrc(offset - at), static_cast<z_off_t>(offset - at)));
        crc =
            static_cast<uint32_t>(crc32_combine(crc, Crc(data), static_cast<z_off_t>(data.size())));
        at = offset + data.size();
    }
    ASSERT_EQ(Build(file, size, crc), 1u);
    EXPECT_EQ(fs::file_size(temp.path() / "target"), size);
    std::ifstream in(temp.path() / "target", std::ios::binary);
    std::string bytes(8, '\0');
    in.seekg(static_cast<std::streamoff>(kFourGiB - 3));
    in.read(bytes.data(), 8);
    EXPECT_EQ(bytes, std::string("\0across\0", 8));

    // Data can be read back at an offset past 4 GiB of a block file.
    HANDLE handle =
        CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    void* data = nullptr;
    ASSERT_EQ(reader.ReadBlockData(handle, kFourGiB + 100, 3, &data), 1u);
    EXPECT_EQ(std::string(static_cast<char*>(data), 3), "far");
    Cutil::FreePacket(data);
    EXPECT_EQ(reader.ReadBlockData(handle, size - 2, 3, &data), 0u);
    EXPECT_EQ(data, nullptr);
    CloseHandle(handle);
}
