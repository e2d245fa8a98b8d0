#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "restore/Cinflate.h"
#include "restore/Cunzip.h"

namespace {

std::string Compress(const std::string& data)
{
    uLongf length = compressBound(static_cast<uLong>(data.size()));
    std::string stream(length, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(stream.data()), &length,
                        reinterpret_cast<const Bytef*>(data.data()),
                        static_cast<uLong>(data.size()), Z_BEST_SPEED),
              Z_OK);
    stream.resize(length);
    return stream;
}

std::string Pattern(size_t size)
{
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>((i * 7 + i / 4096) % 251);
    return data;
}

// Decompress into a string; false when it fails (and then nothing was handed out).
bool Unzip(const std::string& stream, std::string* data)
{
    Cunzip unzip;
    void* out = reinterpret_cast<void*>(1);
    DWORD length = 1;
    if (!unzip.Decompress(&out, &length, stream.data(), static_cast<DWORD>(stream.size()))) {
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(length, 0u);
        return false;
    }
    data->assign(static_cast<const char*>(out), length);
    EXPECT_EQ(static_cast<const char*>(out)[length], 0) << "no zero byte after the data";
    Cutil::FreePacket(out);
    return true;
}

}  // namespace

TEST(Unzip, InflatesAStreamAcrossManyWorkAreas)
{
    const std::string data = Pattern(3 * Cinflate::kWorkSize + 17);
    std::string out;
    ASSERT_TRUE(Unzip(Compress(data), &out));
    EXPECT_EQ(out, data);
}

TEST(Unzip, InflatesAnEmptyFile)
{
    std::string out = "x";
    ASSERT_TRUE(Unzip(Compress(""), &out));
    EXPECT_TRUE(out.empty());
}

TEST(Unzip, TakesFilesUpToOneByteBelowItsBuffer)
{
    std::string out;
    const std::string largest = Pattern(Cunzip::kOutputSize - 1);
    ASSERT_TRUE(Unzip(Compress(largest), &out));
    EXPECT_EQ(out, largest);
    EXPECT_FALSE(Unzip(Compress(Pattern(Cunzip::kOutputSize)), &out));
    EXPECT_FALSE(Unzip(Compress(Pattern(Cunzip::kOutputSize * 3)), &out));
}

TEST(Unzip, RefusesStreamsThatDoNotReachTheirVerifiedEnd)
{
    const std::string data = Pattern(200000);
    const std::string stream = Compress(data);
    std::string out;
    // Cut short: everything inflated so far would look like a whole file.
    EXPECT_FALSE(Unzip(stream.substr(0, stream.size() / 2), &out));
    EXPECT_FALSE(Unzip(stream.substr(0, stream.size() - 1), &out));
    // The data inflates completely but its checksum is wrong.
    std::string badCheck = stream;
    badCheck.back() = static_cast<char>(badCheck.back() ^ 1);
    EXPECT_FALSE(Unzip(badCheck, &out));
    std::string damaged = stream;
    damaged[damaged.size() / 2] = static_cast<char>(damaged[damaged.size() / 2] ^ 0x55);
    EXPECT_FALSE(Unzip(damaged, &out));
    EXPECT_FALSE(Unzip("not a zlib stream at all", &out));
    EXPECT_FALSE(Unzip("", &out));
}

// Sizes inflated through the work area alone, straight into the buffer alone, and both.
TEST(Inflate, NeverWritesPastASmallBuffer)
{
    for (size_t size : {size_t{5000}, size_t{2} * Cinflate::kWorkSize,
                        size_t{2} * Cinflate::kWorkSize + 5000}) {
        const std::string data = Pattern(size);
        const std::string stream = Compress(data);
        Cinflate inflater;
        INT status = 0;
        // Exactly the data and its zero byte, on the heap so that a write past it is caught;
        // filled so that a terminator left unwritten shows.
        std::vector<BYTE> exact(data.size() + 1, 0xCC);
        DWORD length = static_cast<DWORD>(exact.size());
        ASSERT_EQ(inflater.Inflate(exact.data(), &length, stream.data(),
                                   static_cast<DWORD>(stream.size()), &status),
                  1u)
            << size;
        EXPECT_EQ(status, Z_STREAM_END);
        EXPECT_EQ(length, data.size());
        EXPECT_EQ(std::memcmp(exact.data(), data.data(), data.size()), 0) << size;
        EXPECT_EQ(exact.back(), 0);

        std::vector<BYTE> tooSmall(data.size());
        length = static_cast<DWORD>(tooSmall.size());
        EXPECT_EQ(inflater.Inflate(tooSmall.data(), &length, stream.data(),
                                   static_cast<DWORD>(stream.size()), &status),
                  0u)
            << size;
        EXPECT_EQ(length, 0u);
    }
}
