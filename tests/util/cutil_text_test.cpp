#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include "platform/module.h"
#include "EnvironmentVariable.h"
#include "util/Cutil.h"

namespace {

uint32_t Crc(const void* data, uint32_t length)
{
    uint32_t crc = 0x12345678;
    Cutil::Crc32(data, length, &crc, 1);
    return crc;
}

std::u16string FormatUtc(int64_t time)
{
    WCHAR out[20];
    Cutil::FormatUtcTime(time, out);
    return out;
}

struct SplitResult {
    std::u16string drive, directory, name, extension;
};

SplitResult Split(const std::u16string& path)
{
    WCHAR drive[3], directory[256], name[256], extension[256];
    Cutil::SplitPath(path.c_str(), drive, directory, name, extension);
    return {drive, directory, name, extension};
}

std::string Trim(const std::string& text, int32_t mode)
{
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back(0);
    Cutil::TrimChar(buffer.data(), ' ', mode);
    return buffer.data();
}

}  // namespace

TEST(CutilCrc32, MeetsTheCheckValueAndGivesZeroForNothing)
{
    EXPECT_EQ(Crc("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc("", 0), 0u);
    uint32_t crc = 0;
    EXPECT_EQ(Cutil::Crc32("123456789", 9, &crc, 1), 0u);
}

TEST(CutilCrc32, AgreesWithZlibAtEveryLengthAndAlignment)
{
    std::mt19937 random(7);
    std::vector<uint8_t> data(4096 + 16);
    for (auto& byte : data)
        byte = static_cast<uint8_t>(random());
    for (uint32_t start = 0; start < 8; ++start) {
        for (uint32_t length = 0; length <= 70; ++length)
            ASSERT_EQ(Crc(data.data() + start, length), crc32(0, data.data() + start, length))
                << start << " " << length;
        ASSERT_EQ(Crc(data.data() + start, 4096), crc32(0, data.data() + start, 4096));
    }
}

TEST(CutilConversion, WideToUtf8RefusesWhatDoesNotFitAndLeavesOutUntouched)
{
    std::vector<char> out(1024, 'x');
    std::u16string fits(1021, u'a');
    fits += u"\u00e9";  // two bytes: 1023 in all
    EXPECT_EQ(Cutil::WideToUtf8(fits.c_str(), out.data(), 1024), 1023);
    EXPECT_EQ(std::strlen(out.data()), 1023u);
    EXPECT_EQ(std::string(out.data() + 1021), "\xC3\xA9");

    std::vector<char> untouched(1024, 'x');
    std::u16string tooLong(1022, u'a');
    tooLong += u"\u00e9";  // 1024 bytes
    EXPECT_EQ(Cutil::WideToUtf8(tooLong.c_str(), untouched.data(), 1024), 0);
    EXPECT_EQ(untouched, std::vector<char>(1024, 'x'));
}

TEST(CutilConversion, EmptyAndOneCharacterTextsBothGiveOne)
{
    WCHAR out[4] = {u'x', u'x', u'x', u'x'};
    EXPECT_EQ(Cutil::AnsiToWide("", out, 4), 1);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(Cutil::AnsiToWide("q", out, 4), 1);
    EXPECT_EQ(std::u16string(out), u"q");
    EXPECT_EQ(Cutil::AnsiToWide(nullptr, out, 4), 0);
    EXPECT_EQ(std::u16string(out), u"q");

    char narrow[4];
    EXPECT_EQ(Cutil::WideToUtf8(u"", narrow, 4), 1);
    EXPECT_EQ(narrow[0], 0);
}

TEST(CutilConversion, WideCapacityCountsCodeUnitsAndTheTerminator)
{
    WCHAR out[8] = {};
    // One supplementary character is two UTF-16 code units.
    char pair[] = "\xF0\x9F\x98\x80z";
    EXPECT_EQ(Cutil::Utf8ToWide(pair, out, 3), 0);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(Cutil::Utf8ToWide(pair, out, 4), 3);
    EXPECT_EQ(std::u16string(out), u"\U0001F600z");

    EXPECT_EQ(Cutil::AnsiToWide("abc", out, 3), 0);
    EXPECT_EQ(Cutil::AnsiToWide("abc", out, 4), 3);
    EXPECT_EQ(std::u16string(out), u"abc");
}

TEST(CutilConversion, Utf8ToWideCutsTheTextAtUFFFF)
{
    char text[] = "ab\xEF\xBF\xBF" "cd";
    WCHAR out[16];
    EXPECT_EQ(Cutil::Utf8ToWide(text, out, 16), 2);
    EXPECT_EQ(std::u16string(out), u"ab");
    EXPECT_EQ(std::string(text), "ab");

    char leading[] = "\xEF\xBF\xBF" "cd";
    WCHAR untouched[4] = {u'x', 0};
    EXPECT_EQ(Cutil::Utf8ToWide(leading, untouched, 4), 0);
    EXPECT_EQ(std::u16string(untouched), u"x");
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
    EXPECT_EQ(FormatUtc(INT64_MIN), u"1970-01-01 00:00:00");
}

TEST(CutilTime, GetNowStringIsTheLocalTimeNow)
{
    std::time_t before = std::time(nullptr);
    WCHAR out[20];
    Cutil::GetNowString(out);
    std::time_t after = std::time(nullptr);

    std::string text(out, out + 19);
    ASSERT_EQ(std::u16string(out).size(), 19u);
    std::tm calendar{};
    ASSERT_NE(strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &calendar), nullptr) << text;
    calendar.tm_isdst = -1;
    std::time_t shown = std::mktime(&calendar);
    EXPECT_GE(shown, before);
    EXPECT_LE(shown, after);
}

TEST(CutilTime, TimeToSystemTimeGivesTheLocalCalendar)
{
    EnvironmentVariable zone("TZ", "America/New_York");
    SYSTEMTIME time{};
    time.wMilliseconds = 99;
    Cutil::TimeToSystemTime(1234567890, &time);

    EXPECT_EQ(time.wYear, 2009);
    EXPECT_EQ(time.wMonth, 2);
    EXPECT_EQ(time.wDay, 13);
    EXPECT_EQ(time.wDayOfWeek, 5);
    EXPECT_EQ(time.wHour, 18);
    EXPECT_EQ(time.wMinute, 31);
    EXPECT_EQ(time.wSecond, 30);
    EXPECT_EQ(time.wMilliseconds, 0);
}

TEST(CutilSplitPath, ReadsAdministrativeSharesAsDrives)
{
    SplitResult share = Split(u"\\\\srv\\d$\\dir\\a.txt");
    EXPECT_EQ(share.drive, u"D:");
    EXPECT_EQ(share.directory, u"\\dir\\");
    EXPECT_EQ(share.name, u"a");
    EXPECT_EQ(share.extension, u".txt");

    SplitResult plain = Split(u"c:\\x\\y.z");
    EXPECT_EQ(plain.drive, u"C:");
    EXPECT_EQ(plain.directory, u"\\x\\");
    EXPECT_EQ(plain.name, u"y");
    EXPECT_EQ(plain.extension, u".z");
}

TEST(CutilSplitPath, TakesTheExtensionFromTheLastComponentOnly)
{
    SplitResult dotted = Split(u"C:\\a.b\\file");
    EXPECT_EQ(dotted.directory, u"\\a.b\\");
    EXPECT_EQ(dotted.name, u"file");
    EXPECT_EQ(dotted.extension, u"");

    SplitResult posix = Split(u"/srv/data/archive.tar.gz");
    EXPECT_EQ(posix.drive, u"");
    EXPECT_EQ(posix.directory, u"/srv/data/");
    EXPECT_EQ(posix.name, u"archive.tar");
    EXPECT_EQ(posix.extension, u".gz");
}

TEST(CutilSplitPath, CutsPartsLongerThanTheirBuffers)
{
    std::u16string longName(400, u'n');
    SplitResult result = Split(u"C:\\d\\" + longName + u".e");
    EXPECT_EQ(result.name, std::u16string(255, u'n'));
    EXPECT_EQ(result.extension, u".e");
    SplitResult overlong = Split(u"C:\\" + std::u16string(3000, u'x'));
    EXPECT_EQ(overlong.name.size(), 255u);
}

TEST(CutilText, TrimCharByMode)
{
    EXPECT_EQ(Trim("  ab  ", 2), "ab");
    EXPECT_EQ(Trim("  ab  ", 0), "ab  ");
    EXPECT_EQ(Trim("  ab  ", 1), "  ab");
    EXPECT_EQ(Trim("  ab  ", 3), "  ab  ");
    EXPECT_EQ(Trim("    ", 2), "");
}

TEST(CutilArithmetic, ModAndMod64)
{
    EXPECT_EQ(Cutil::Mod64(0, 7), 0);
    EXPECT_EQ(Cutil::Mod64(5, 7), 5);
    EXPECT_EQ(Cutil::Mod64(5, 0), 5);
    EXPECT_EQ(Cutil::Mod64(20000, 10000), 0);
    EXPECT_EQ(Cutil::Mod64(0x100000005LL, 0x100000000LL), 5);
    EXPECT_EQ(Cutil::Mod(13, 8), 5);
    EXPECT_EQ(Cutil::Mod(16, 8), 0);
    EXPECT_EQ(Cutil::Mod(9, 0), 9);
}

TEST(CutilSystem, SessionIdOfThisProcessIsItsUser)
{
    uint32_t session = 0xFFFFFFFF;
    EXPECT_NE(Cutil::GetProcessSessionId(GetCurrentProcessId(), &session), 0);
    EXPECT_EQ(session, static_cast<uint32_t>(getuid()));
}
