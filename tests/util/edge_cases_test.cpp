// Boundary cases of the path splitter and of sealed texts around their largest sizes.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/Noise.h"
#include "util/Cdatautil.h"
#include "util/Cutil.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::u16string Split(const std::u16string& path)
{
    WCHAR drive[3], directory[256], name[256], extension[256];
    Cutil::SplitPath(path.c_str(), drive, directory, name, extension);
    return std::u16string(drive) + u"|" + directory + u"|" + name + u"|" + extension;
}

}  // namespace

TEST(CutilSplitPathEdges, ADrivePathGivesEveryPart)
{
    EXPECT_EQ(Split(u"C:\\x\\y.z"), u"C:|\\x\\|y|.z");
    EXPECT_EQ(Split(u"\\\\srv\\d$\\dir\\a.txt"), u"D:|\\dir\\|a|.txt");
}

TEST(CdatautilEdges, EveryLengthUpTo1984BytesOpensAgain)
{
    const Bytes data = NoiseBytes(1984, 11);
    std::vector<WCHAR> sealed(4300);
    Bytes opened(2048);
    Cdatautil sealer;
    for (uint32_t length = 1; length <= 1984; ++length) {
        ASSERT_EQ(sealer.Encode(data.data(), length, sealed.data()), 1u) << length;
        uint32_t openedLength = 0;
        ASSERT_EQ(sealer.Decode(sealed.data(), opened.data(), &openedLength), 1u) << length;
        ASSERT_EQ(openedLength, length);
        ASSERT_TRUE(std::equal(data.begin(), data.begin() + length, opened.begin())) << length;
    }
}

TEST(CdatautilEdges, DataOf2041To2048BytesIsSealedButCannotBeOpened)
{
    const Bytes data = NoiseBytes(2048, 12);
    std::vector<WCHAR> sealed(4300);
    Bytes opened(2048, 0xCC);
    Cdatautil sealer;
    for (uint32_t length = 2041; length <= 2048; ++length) {
        ASSERT_EQ(sealer.Encode(data.data(), length, sealed.data()), 1u) << length;
        EXPECT_GT(std::u16string(sealed.data()).size(), 4096u) << length;
        uint32_t openedLength = 99;
        EXPECT_EQ(sealer.Decode(sealed.data(), opened.data(), &openedLength), 0u) << length;
        EXPECT_EQ(openedLength, 0u) << length;
    }
}
