#include <algorithm>
#include <cstring>
#include <new>
#include <random>
#include <vector>

#include <zlib.h>

#include <gtest/gtest.h>

#include "util/Crc32Kernel.h"
#include "util/Cutil.h"

namespace {

constexpr size_t kAlignment = 64;

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed)
{
    std::mt19937_64 random(seed);
    std::vector<uint8_t> bytes(size + sizeof(uint64_t));
    for (size_t i = 0; i < size; i += sizeof(uint64_t)) {
        const uint64_t word = random();
        std::memcpy(&bytes[i], &word, sizeof word);
    }
    bytes.resize(size);
    return bytes;
}

// A copy of bytes that starts offset bytes past a 64-byte boundary and ends exactly where
// its allocation ends, so that any read beyond the last byte is caught by the sanitizer.
class PlacedCopy {
public:
    PlacedCopy(const uint8_t* bytes, size_t length, size_t offset)
        : m_base(static_cast<uint8_t*>(
              ::operator new(offset + length, std::align_val_t{kAlignment}))),
          m_offset(offset)
    {
        std::memcpy(m_base + offset, bytes, length);
    }
    ~PlacedCopy() { ::operator delete(m_base, std::align_val_t{kAlignment}); }
    PlacedCopy(const PlacedCopy&) = delete;
    PlacedCopy& operator=(const PlacedCopy&) = delete;

    const uint8_t* data() const { return m_base + m_offset; }

private:
    uint8_t* m_base;
    size_t m_offset;
};

uint32_t CutilCrc(const uint8_t* bytes, size_t length)
{
    uint32_t crc = 0x5A5A5A5A;
    Cutil::Crc32(bytes, static_cast<uint32_t>(length), &crc, 1);
    return crc;
}

uint32_t ZlibCrc(const uint8_t* bytes, size_t length)
{
    return static_cast<uint32_t>(crc32(0, bytes, static_cast<uInt>(length)));
}

// Every method, whichever one Cutil::Crc32 happens to use on this processor.
class Crc32Method : public testing::TestWithParam<Crc32Kernel::Method> {
protected:
    void SetUp() override
    {
        if (!Crc32Kernel::IsSupported(GetParam()))
            GTEST_SKIP() << "this processor lacks the instructions";
    }

    uint32_t Crc(const uint8_t* bytes, size_t length) const
    {
        return ~Crc32Kernel::UpdateWith(GetParam(), 0xFFFFFFFFu, bytes, length);
    }
};

}  // namespace

TEST_P(Crc32Method, MatchesZlibAtEveryLengthAndStartAlignment)
{
    const std::vector<uint8_t> pool = RandomBytes(4096, 11);
    for (size_t offset = 0; offset < kAlignment; ++offset) {
        for (size_t length = 0; length <= pool.size(); ++length) {
            const PlacedCopy copy(pool.data(), length, offset);
            ASSERT_EQ(Crc(copy.data(), length), ZlibCrc(copy.data(), length))
                << offset << " " << length;
        }
    }
}

TEST_P(Crc32Method, MatchesZlibOnLargeBuffers)
{
    for (size_t length : {size_t{1} << 20, (size_t{64} << 20) + 7}) {
        const std::vector<uint8_t> bytes = RandomBytes(length, 23);
        for (size_t offset : {size_t{0}, size_t{5}}) {
            const PlacedCopy copy(bytes.data(), length, offset);
            EXPECT_EQ(Crc(copy.data(), length), ZlibCrc(copy.data(), length))
                << length << " " << offset;
        }
    }
}

// Uniform bytes give the folding constants nothing random to hide behind.
TEST_P(Crc32Method, MatchesZlibOnConstantBytes)
{
    for (uint8_t value : {uint8_t{0x00}, uint8_t{0xFF}}) {
        const std::vector<uint8_t> bytes(100000, value);
        for (size_t length : {size_t{64}, size_t{256}, size_t{4099}, bytes.size()})
            EXPECT_EQ(Crc(bytes.data(), length), ZlibCrc(bytes.data(), length))
                << int{value} << " " << length;
    }
}

INSTANTIATE_TEST_SUITE_P(Crc32Kernel, Crc32Method,
                         testing::Values(Crc32Kernel::Method::Table, Crc32Kernel::Method::Fold128,
                                         Crc32Kernel::Method::Fold512),
                         [](const testing::TestParamInfo<Crc32Kernel::Method>& info) {
                             switch (info.param) {
                             case Crc32Kernel::Method::Table:
                                 return "Table";
                             case Crc32Kernel::Method::Fold128:
                                 return "Fold128";
                             case Crc32Kernel::Method::Fold512:
                                 return "Fold512";
                             }
                             return "Unknown";
                         });

TEST(CutilCrc32, MatchesZlibOnLargeBuffers)
{
    for (size_t length : {size_t{1} << 20, (size_t{64} << 20) + 7}) {
        const std::vector<uint8_t> bytes = RandomBytes(length, 29);
        EXPECT_EQ(CutilCrc(bytes.data(), length), ZlibCrc(bytes.data(), length)) << length;
    }
}

// The channel checks a payload piece by piece as it arrives, carrying the running register
// from one piece to the next; any cut must give the CRC of the whole.
TEST(CutilCrc32, ContinuesTheRegisterAcrossArbitraryPieces)
{
    const std::vector<uint8_t> bytes = RandomBytes(300000, 31);
    const uint32_t expected = ZlibCrc(bytes.data(), bytes.size());
    std::mt19937 random(37);
    for (int round = 0; round < 50; ++round) {
        uint32_t crc = 0xFFFFFFFFu;
        size_t done = 0;
        while (done < bytes.size()) {
            const size_t piece =
                std::min<size_t>(bytes.size() - done, random() % (round < 25 ? 600 : 70000));
            Cutil::Crc32(bytes.data() + done, static_cast<uint32_t>(piece), &crc, 0);
            crc = ~crc;
            done += piece;
        }
        ASSERT_EQ(~crc, expected) << round;
    }
}
