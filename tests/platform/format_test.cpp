#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "platform/format.h"

namespace {

TEST(Format, LongIsThirtyTwoBitsAsOnWindows)
{
    EXPECT_EQ(FormatString("%ld", uint64_t{0xFFFFFFFFFFFFFFFF}), "-1");
    EXPECT_EQ(FormatString("%lu", uint64_t{0x100000005}), "5");
    EXPECT_EQ(FormatString("%d", int64_t{0x1FFFFFFFF}), "-1");
    EXPECT_EQ(FormatString("%u", -1), "4294967295");
    EXPECT_EQ(FormatString("%ld", static_cast<uint32_t>(183)), "183");
    EXPECT_EQ(FormatString("%I64u", uint64_t{0xFFFFFFFFFFFFFFFF}), "18446744073709551615");
    EXPECT_EQ(FormatString("%I64d", int64_t{-5000000000}), "-5000000000");
    EXPECT_EQ(FormatString("%lld %llu", int64_t{-1}, uint64_t{1} << 40), "-1 1099511627776");
    EXPECT_EQ(FormatString("%I32d", int64_t{0x180000000}), "-2147483648");
    EXPECT_EQ(FormatString("%zu %jd", size_t{1} << 33, int64_t{-7}), "8589934592 -7");
    EXPECT_EQ(FormatString("%hd %hu %hhd %hhu", 0x18000, 0x1FFFF, 0x80, 0x1FF),
              "-32768 65535 -128 255");
}

TEST(Format, FlagsWidthAndPrecision)
{
    EXPECT_EQ(FormatString("%08x", 0xBEEFu), "0000beef");
    EXPECT_EQ(FormatString("%08X", 0xFFFFFFFFFFFFFFFFull), "FFFFFFFF");
    EXPECT_EQ(FormatString("%#x %#o %#X", 255, 8, 0), "0xff 010 0");
    EXPECT_EQ(FormatString("[%5d][%-5d][%05d][%+d][% d]", 42, 42, -42, 42, 42),
              "[   42][42   ][-0042][+42][ 42]");
    EXPECT_EQ(FormatString("[%.3d][%8.3d][%08.3d][%.0d]", 7, 7, 7, 0),
              "[007][     007][     007][]");
    EXPECT_EQ(FormatString("[%*d][%-*d][%.*d]", 4, 1, 3, 2, 3, 5), "[   1][2  ][005]");
    EXPECT_EQ(FormatString("[%*d]", -4, 1), "[1   ]");
    EXPECT_EQ(FormatString("%o", 8), "10");
}

TEST(Format, TextsOfEitherWidthInEitherOutput)
{
    EXPECT_EQ(FormatString("[%-10s]", "abc"), "[abc       ]");
    EXPECT_EQ(FormatString("[%10s]", "abc"), "[       abc]");
    EXPECT_EQ(FormatString("%S and %s", u"wide \u00e9", "narrow"), "wide \xC3\xA9 and narrow");
    EXPECT_EQ(FormatString(u"%s and %S", u"wide", "narrow \xC3\xA9"), u"wide and narrow \u00e9");
    EXPECT_EQ(FormatString("%s", std::string("str")), "str");
    EXPECT_EQ(FormatString(u"%s", std::u16string(u"u16")), u"u16");
    EXPECT_EQ(FormatString("%.2s|%.3S", "abcdef", u"uvwxyz"), "ab|uvw");
    const char* none = nullptr;
    const WCHAR* noneWide = nullptr;
    EXPECT_EQ(FormatString("%s %S", none, noneWide), "(null) (null)");
    EXPECT_EQ(FormatString(u"%s\\cutil.txt", u"/tmp/"), u"/tmp/\\cutil.txt");
}

TEST(Format, PrecisionNeverSplitsACharacter)
{
    EXPECT_EQ(FormatString("%.2s", "a\xC3\xA9"), "a");
    EXPECT_EQ(FormatString(u"%.2s", u"a\U0001F600"), u"a");
    EXPECT_EQ(FormatString(u"%.3s", u"a\U0001F600"), u"a\U0001F600");
}

TEST(Format, PointersAndCharacters)
{
    EXPECT_EQ(FormatString("%p", reinterpret_cast<const void*>(uintptr_t{0xABCDEF})),
              "0000000000ABCDEF");
    EXPECT_EQ(FormatString("%p", nullptr), "0000000000000000");
    EXPECT_EQ(FormatString(u"%p", reinterpret_cast<const void*>(uintptr_t{0x12})),
              u"0000000000000012");
    EXPECT_EQ(FormatString("%c%c", 'o', 'k'), "ok");
    EXPECT_EQ(FormatString(u"%c", u'\u00e9'), u"\u00e9");
    EXPECT_EQ(FormatString("%c", u'\u00e9'), "\xC3\xA9");
    EXPECT_EQ(FormatString("[%3c]", 'x'), "[  x]");
    // Beyond the basic plane a character takes a surrogate pair; a surrogate of its own or a
    // value past U+10FFFF is no character and becomes U+FFFD.
    EXPECT_EQ(FormatString(u"%c", U'\U0001F600'), u"\U0001F600");
    EXPECT_EQ(FormatString("%c", U'\U0001F600'), "\xF0\x9F\x98\x80");
    EXPECT_EQ(FormatString(u"%c|%c", 0xD800u, 0x110000u), u"\uFFFD|\uFFFD");
}

TEST(Format, FloatingPoint)
{
    EXPECT_EQ(FormatString("%f", 1.5), "1.500000");
    EXPECT_EQ(FormatString("%.2f|%8.3f|%-8.1f|", 3.14159, 2.5, 1.25), "3.14|   2.500|1.2     |");
    EXPECT_EQ(FormatString("%e", 12345.678), "1.234568e+04");
    EXPECT_EQ(FormatString(u"%g", 0.0001), u"0.0001");
}

TEST(Format, PercentAndUnknownConversions)
{
    EXPECT_EQ(FormatString("100%% done"), "100% done");
    EXPECT_EQ(FormatString("%y%d", 5), "%y5");
    EXPECT_EQ(FormatString("trailing %"), "trailing ");
}

TEST(Format, MissingOrMismatchedArgumentsPrintNothing)
{
    EXPECT_EQ(FormatString("[%d][%s]"), "[][]");
    EXPECT_EQ(FormatString("[%d][%d]", 1), "[1][]");
    EXPECT_EQ(FormatString("[%d][%s]", "text", 5), "[][]");
    EXPECT_EQ(FormatString("[%s|%d]", 5, 6), "[|6]");
    EXPECT_EQ(FormatString("[%f][%d]", 1, 2.0), "[][]");
    EXPECT_EQ(FormatString("[%*d]", "x", 3), "[3]");
}

TEST(Format, BoundedOutputIsCutTerminatedAndReportsMinusOne)
{
    char out[8];
    EXPECT_EQ(FormatA(out, sizeof out, "%s", "1234567"), 7);
    EXPECT_STREQ(out, "1234567");
    EXPECT_EQ(FormatA(out, sizeof out, "%s", "12345678"), -1);
    EXPECT_STREQ(out, "1234567");
    EXPECT_EQ(FormatA(out, 0, "%s", "x"), -1);
    EXPECT_EQ(FormatA(out, 1, "%s", "x"), -1);
    EXPECT_EQ(out[0], 0);

    WCHAR wide[6] = {};
    wide[5] = u'#';
    EXPECT_EQ(FormatW(wide, 5, u"%ld-%ld", 123, 456), -1);
    EXPECT_EQ(std::u16string(wide), u"123-");
    EXPECT_EQ(wide[5], u'#');
    EXPECT_EQ(FormatW(wide, 6, u"%S", "\xE2\x82\xAC"), 1);
    EXPECT_EQ(std::u16string(wide), u"\u20AC");

    // A cut never leaves half a character behind.
    char narrow[4];
    EXPECT_EQ(FormatA(narrow, sizeof narrow, "ab%S", u"\u00e9"), -1);
    EXPECT_STREQ(narrow, "ab");
}

TEST(Format, WindowsStyleLogLines)
{
    EXPECT_EQ(FormatString(u"Cutil::writebin nNumberOfBytesToWrite (%lu) nNumberOfBytesWritten "
                           u"(%lu) failed win32error (%ld)",
                           uint32_t{4096}, uint32_t{100}, uint32_t{112}),
              u"Cutil::writebin nNumberOfBytesToWrite (4096) nNumberOfBytesWritten (100) failed "
              u"win32error (112)");
    EXPECT_EQ(FormatString(u"CreateDirectory error win32error %ld on %s\n", 3, u"C:\\a\\"),
              u"CreateDirectory error win32error 3 on C:\\a\\\n");
}

}  // namespace
