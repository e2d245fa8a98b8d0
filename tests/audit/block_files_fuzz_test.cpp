// Version rebuilds from damaged block files: cut at every length, with record counts, data
// sizes and offsets set to values that wrap 64-bit and 32-bit sums, and with random damage.
// A rebuild either produces exactly the version the intact block file describes (its CRC-32
// is demanded) or fails with a system error and its message; it never writes past the
// version's size.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include <gtest/gtest.h>

#include "audit/Hostile.h"
#include "platform/text.h"
#include "restore/CBlocks.h"
#include "support/TempDir.h"
#include "util/Cutil.h"

namespace {

constexpr uint32_t kRounds = 150;
constexpr uint32_t kVerifyOnly = CBlocks::kTypeVerifyOnly;
constexpr uint32_t kWrite = 1;
// Header sizes above this would make a sparse version whose checksum takes seconds.
constexpr uint64_t kLargestQuickSize = 1 << 20;

struct BlockFile {
    std::vector<BYTE> bytes;
    std::string base;
    std::string version;
    // Offsets of the header's size and count, and of each record's offset and data size.
    std::vector<size_t> recordOffsets;
    std::vector<size_t> dataSizes;
};

uint32_t Crc(const std::string& data)
{
    uint32_t crc = 0;
    Cutil::Crc32(data.data(), static_cast<uint32_t>(data.size()), &crc, 1);
    return crc;
}

// A block file that turns a random base into a random version of another size.
BlockFile MakeBlockFile(Mutator& random)
{
    BlockFile file;
    file.base.resize(random.Below(100));
    for (char& byte : file.base)
        byte = static_cast<char>('a' + random.Below(26));
    const uint32_t size = 1 + random.Below(120);
    file.version = file.base;
    file.version.resize(size, '\0');
    const uint32_t records = random.Below(6);
    WireBytes bytes;
    bytes.U64(0).U32(0).U64(0).U64(size).U32(0).U32(0).U64(records);
    for (uint32_t record = 0; record < records; ++record) {
        const uint32_t offset = random.Below(size);
        const uint32_t length = 1 + random.Below(size - offset);
        std::string data(length, '\0');
        for (char& byte : data)
            byte = static_cast<char>('A' + random.Below(26));
        const uint32_t type = random.Below(4) == 0 ? kVerifyOnly : kWrite;
        if (type == kWrite)
            file.version.replace(offset, length, data);
        file.recordOffsets.push_back(bytes.size() + 4);
        file.dataSizes.push_back(bytes.size() + 12);
        bytes.U32(type).U64(offset).U32(length).U32(0).U32(Crc(data)).U32(CBlocks::kHasData);
        for (char byte : data)
            bytes.Fill(1, static_cast<BYTE>(byte));
    }
    file.bytes = bytes.Get();
    return file;
}

void Write(const std::filesystem::path& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(data.data(),
                                                                  static_cast<long>(data.size()));
}

std::string Read(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

uint64_t HeaderSize(const std::vector<BYTE>& bytes)
{
    uint64_t size = 0;
    if (bytes.size() >= 28)
        std::memcpy(&size, bytes.data() + 20, 8);
    return size;
}

class BlockFileFuzz : public testing::Test {
protected:
    // Rebuilds file.base with these block bytes, demanding the intact version's CRC-32.
    uint32_t Rebuild(const BlockFile& file, const std::vector<BYTE>& bytes, WCHAR* messages)
    {
        Write(target, file.base);
        Write(blocks, std::string(bytes.begin(), bytes.end()));
        return builder.CreateVersionOnDisk(0, Utf8ToUtf16(target.string()).c_str(),
                                           Utf8ToUtf16(blocks.string()).c_str(),
                                           file.version.size(), Crc(file.version), 0, 1,
                                           messages);
    }

    TempDir dir;
    std::filesystem::path target = dir.path() / "version.bin";
    std::filesystem::path blocks = dir.path() / "blocks.blk";
    CBlocks builder;
};

}  // namespace

TEST_F(BlockFileFuzz, AnIntactBlockFileRebuildsItsVersionAndEveryCutOfItFails)
{
    Mutator random(501);
    for (uint32_t round = 0; round < 6; ++round) {
        BlockFile file = MakeBlockFile(random);
        WCHAR messages[CBlocks::kMessageCapacity] = {};
        ASSERT_EQ(Rebuild(file, file.bytes, messages), 1u) << Utf16ToUtf8(messages);
        ASSERT_EQ(Read(target), file.version);
        for (size_t length = 0; length < file.bytes.size(); ++length) {
            SCOPED_TRACE(testing::Message() << "round " << round << ", cut at " << length);
            WCHAR cutMessages[CBlocks::kMessageCapacity] = {};
            std::vector<BYTE> cut(file.bytes.begin(), file.bytes.begin() + length);
            EXPECT_EQ(Rebuild(file, cut, cutMessages), 0u);
            EXPECT_NE(builder.GetLastSystemError(), 0u);
            EXPECT_NE(cutMessages[0], 0);
            EXPECT_LE(std::filesystem::file_size(target),
                      std::max<uint64_t>(file.version.size(), file.base.size()));
        }
    }
}

TEST_F(BlockFileFuzz, CountsSizesAndOffsetsThatWrapTheirSumsFailWithoutWritingPastTheVersion)
{
    Mutator random(502);
    const std::vector<uint64_t> hostile64 = {0x7FFFFFFFFFFFFFFFull, 0x8000000000000000ull,
                                             0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFCull,
                                             0xFFFFFFFF00000000ull, 0x100000000ull};
    uint32_t tried = 0;
    while (tried < 60) {
        BlockFile file = MakeBlockFile(random);
        if (file.recordOffsets.empty())
            continue;
        ++tried;
        const uint32_t record = random.Below(static_cast<uint32_t>(file.recordOffsets.size()));
        std::vector<BYTE> bytes = file.bytes;
        switch (random.Below(3)) {
        case 0: {
            const uint64_t value = hostile64[random.Below(static_cast<uint32_t>(hostile64.size()))];
            std::memcpy(bytes.data() + 36, &value, 8);
            break;
        }
        case 1: {
            const uint64_t value = hostile64[random.Below(static_cast<uint32_t>(hostile64.size()))];
            std::memcpy(bytes.data() + file.recordOffsets[record], &value, 8);
            break;
        }
        default:
            random.PutHostileWord(bytes, file.dataSizes[record]);
            break;
        }
        SCOPED_TRACE(tried);
        WCHAR messages[CBlocks::kMessageCapacity] = {};
        const uint32_t built = Rebuild(file, bytes, messages);
        EXPECT_LE(std::filesystem::file_size(target),
                  std::max<uint64_t>(file.version.size(), file.base.size()));
        if (built == 1) {
            EXPECT_EQ(Read(target), file.version);
            continue;
        }
        EXPECT_NE(builder.GetLastSystemError(), 0u);
        EXPECT_NE(messages[0], 0);
    }
}

TEST_F(BlockFileFuzz, RandomDamageEitherRebuildsTheVersionOrFailsWithItsReason)
{
    Mutator random(503);
    uint32_t failed = 0;
    for (uint32_t round = 0; round < kRounds; ++round) {
        BlockFile file = MakeBlockFile(random);
        std::vector<BYTE> bytes = random.Mutate(file.bytes);
        // The header's size is left sane: a sparse version of gigabytes proves nothing more
        // and takes seconds to checksum.
        const uint64_t size = HeaderSize(bytes);
        if (size > kLargestQuickSize && size < (uint64_t{1} << 63)) {
            const uint64_t original = file.version.size();
            std::memcpy(bytes.data() + 20, &original, 8);
        }
        SCOPED_TRACE(round);
        WCHAR messages[CBlocks::kMessageCapacity] = {};
        const uint32_t built = Rebuild(file, bytes, messages);
        const uint64_t chosen = std::max<uint64_t>(
            file.version.size(), HeaderSize(bytes) < (uint64_t{1} << 63) ? HeaderSize(bytes) : 0);
        EXPECT_LE(std::filesystem::file_size(target), std::max<uint64_t>(chosen, file.base.size()));
        if (built == 1) {
            EXPECT_EQ(Read(target), file.version);
            continue;
        }
        ++failed;
        EXPECT_NE(builder.GetLastSystemError(), 0u);
        EXPECT_NE(messages[0], 0);
    }
    EXPECT_GT(failed, kRounds / 4);
}
