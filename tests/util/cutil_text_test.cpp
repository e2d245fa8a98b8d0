#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include "ScopedTimeZone.h"
#include "platform/module.h"
#include "util/Cutil.h"

namespace {

uint32_t Crc(const void* data, uint32_t length)
{
    uint32_t crc = 0x12345678;
    EXPECT_EQ(Cutil::Crc32(data, length, &crc, 1), 0u);
    return crc;
}

std::u16string FormatUtc(int64_t time)
{
    WCHAR out[20];
    Cutil::FormatUtcTime(time, out);
    return out;
}

std::string Trim(std::string text, int32_t mode)
{
    Cutil::TrimChar(text.data(), ' ', mode);
    return text.c_str();
}

}  // namespace

TEST(CutilCrc32, IsTheStandardCrcAtEveryLengthAndAlignment)
{
    EXPECT_EQ(Crc("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc("", 0), 0u);
    std::mt19937 random(7);
    std::vector<uint8_t> data(4096 + 8);
    for (auto& byte : data)
        byte = static_cast<uint8_t>(random());
    for (uint32_t start = 0; start < 8; ++start) {
        for (uint32_t length : {1u, 7u, 15u, 16u, 17u, 33u, 70u, 4096u})
            ASSERT_EQ(Crc(&data[start], length), crc32(0, &data[start], length))
                << start << " " << length;
    }
}

TEST(CutilConversion, RefusesWhatDoesNotFitAndLeavesOutUntouched)
{
    std::vector<char> out(1024, 'x');
    std::u16string text = std::u16string(1021, u'a') + u"\u00e9";  // 1023 UTF-8 bytes
    EXPECT_EQ(Cutil::WideToUtf8(text.c_str(), out.data(), 1024), 1023);
    EXPECT_EQ(std::strlen(out.data()), 1023u);
    std::vector<char> untouched(1024, 'x');
    text.insert(0, u"a");
    EXPECT_EQ(Cutil::WideToUtf8(text.c_str(), untouched.data(), 1024), 0);
    EXPECT_EQ(untouched, std::vector<char>(1024, 'x'));

    WCHAR wide[4] = {u'x', 0};
    char pair[] = "\xF0\x9F\x98\x80z";  // two code units and one more: needs 4 with the NUL
    EXPECT_EQ(Cutil::Utf8ToWide(pair, wide, 3), 0);
    EXPECT_EQ(std::u16string(wide), u"x");
    EXPECT_EQ(Cutil::Utf8ToWide(pair, wide, 4), 3);
    EXPECT_EQ(std::u16string(wide, 3), u"\U0001F600z");
}

TEST(CutilConversion, EmptyAndOneCharacterTextsBothGiveOne)
{
    WCHAR out[4] = {u'x', u'x', 0};
    EXPECT_EQ(Cutil::AnsiToWide(nullptr, out, 4), 0);
    EXPECT_EQ(std::u16string(out), u"xx");
    EXPECT_EQ(Cutil::AnsiToWide("", out, 4), 1);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(Cutil::AnsiToWide("q", out, 4), 1);
    EXPECT_EQ(std::u16string(out), u"q");
}

TEST(CutilConversion, Utf8ToWideCutsTheTextAtUFFFF)
{
    char text[] =
        "ab\xEF\xBF\xBF"
        "cd";
    WCHAR out[16];
    EXPECT_EQ(Cutil::Utf8ToWide(text, out, 16), 2);
    EXPECT_EQ(std::u16string(out), u"ab");
    EXPECT_EQ(std::string(text), "ab");
    char leading[] =
        "\xEF\xBF\xBF"
        "cd";
    EXPECT_EQ(Cutil::Utf8ToWide(leading, out, 16), 0);
}

TEST(CutilTime, FormatUtcTimeCoversItsRangeAndFallsBackOutsideIt)
{
    EXPECT_EQ(FormatUtc(0), u"1970-01-01 00:00:00");
    EXPECT_EQ(FormatUtc(86399), u"1970-01-01 23:59:59");
    EXPECT_EQ(FormatUtc(1234567890), u"2009-02-13 23:31:30");
    EXPECT_EQ(FormatUtc(-43200), u"1969-12-31 12:00:00");
    EXPECT_EQ(FormatUtc(-43201), u"1970-01-01 00:00:00");
    EXPECT_EQ(FormatUtc(32535291599), u"3001-01-01 20:59:59");
    EXPECT_EQ(FormatUtc(32535291600), u"1970-01-01 00:00:00");
}

TEST(CutilTime, TimeToSystemTimeGivesTheLocalCalendar)
{
    ScopedTimeZone zone("America/New_York");
    SYSTEMTIME time{};
    time.wMilliseconds = 99;
    Cutil::TimeToSystemTime(1234567890, &time);
    const WORD expected[] = {2009, 2, 5, 13, 18, 31, 30, 0};
    EXPECT_EQ(std::memcmp(&time, expected, sizeof expected), 0);
}

TEST(CutilSplitPath, ReadsAdministrativeSharesAsDrives)
{
    WCHAR drive[3], directory[256], name[256], extension[256];
    Cutil::SplitPath(u"\\\\srv\\d$\\dir\\a.txt", drive, directory, name, extension);
    EXPECT_EQ(std::u16string(drive) + u"|" + directory + u"|" + name + u"|" + extension,
              u"D:|\\dir\\|a|.txt");
    Cutil::SplitPath(u"c:\\x.y\\z", drive, directory, name, extension);
    EXPECT_EQ(std::u16string(drive) + u"|" + directory + u"|" + name + u"|" + extension,
              u"C:|\\x.y\\|z|");
    const std::u16string longName = u"C:\\" + std::u16string(3000, u'n');
    Cutil::SplitPath(longName.c_str(), drive, directory, name, extension);
    EXPECT_EQ(std::u16string(name), std::u16string(255, u'n'));
}

TEST(CutilText, TrimCharModOrMod64)
{
    EXPECT_EQ(Trim("  ab  ", 2), "ab");
    EXPECT_EQ(Trim("  ab  ", 0), "ab  ");
    EXPECT_EQ(Trim("  ab  ", 1), "  ab");
    EXPECT_EQ(Trim("  ab  ", 3), "  ab  ");
    EXPECT_EQ(Trim("   ", 0), "");
    EXPECT_EQ(Cutil::Mod64(0, 7), 0);
    EXPECT_EQ(Cutil::Mod64(5, 7), 5);
    EXPECT_EQ(Cutil::Mod64(5, 0), 5);
    EXPECT_EQ(Cutil::Mod64(20000, 10000), 0);
    EXPECT_EQ(Cutil::Mod(13, 8), 5);
    EXPECT_EQ(Cutil::Mod(9, 0), 9);
}

TEST(CutilSystem, SessionIdOfThisProcessIsItsUser)
{
    uint32_t session = 0xFFFFFFFF;
    EXPECT_NE(Cutil::GetProcessSessionId(GetCurrentProcessId(), &session), 0);
    EXPECT_EQ(session, static_cast<uint32_t>(getuid()));
}
