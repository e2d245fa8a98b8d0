#include <string>

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/text.h"

namespace {

TEST(MultiByteToWideChar, CountsIncludeTheTerminatorForLengthMinusOne)
{
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 0), 4);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, nullptr, 0), 3);
    WCHAR out[4] = {u'x', u'x', u'x', u'x'};
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, out, 4), 4);
    EXPECT_EQ(std::u16string(out), u"abc");
    EXPECT_EQ(MultiByteToWideChar(CP_THREAD_ACP, 0, "", -1, out, 4), 1);
    EXPECT_EQ(out[0], 0);
}

TEST(MultiByteToWideChar, ATooSmallBufferFailsAndStaysUntouched)
{
    WCHAR out[3] = {u'x', u'x', u'x'};
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, out, 3), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(out[0], u'x');
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, out, 3), 3);
}

TEST(MultiByteToWideChar, FourByteSequencesBecomeSurrogatePairs)
{
    WCHAR out[8];
    const char* text = "\xF0\x9F\x98\x80\xE2\x82\xAC";  // U+1F600, U+20AC
    ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, out, 8), 4);
    EXPECT_EQ(std::u16string(out), u"\U0001F600\u20AC");
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, out, 3), 0);
}

TEST(MultiByteToWideChar, InvalidSequencesAreReplacedOrRefused)
{
    struct Case {
        const char* bytes;
        std::u16string expected;
    };
    const Case cases[] = {
        {"a\xFF" "b", u"a\uFFFDb"},                // never a lead byte
        {"\xC0\xAF", u"\uFFFD\uFFFD"},             // overlong '/'
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},   // overlong three-byte form
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},   // an encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
        {"\xE2\x82" "x", u"\uFFFDx"},              // cut short: one replacement
        {"\xF0\x9F\x98", u"\uFFFD"},               // cut short at the end
        {"\x80", u"\uFFFD"},                       // lone continuation byte
    };
    for (const Case& c : cases) {
        WCHAR out[16];
        int length = MultiByteToWideChar(CP_UTF8, 0, c.bytes, -1, out, 16);
        ASSERT_GT(length, 0) << c.bytes;
        EXPECT_EQ(std::u16string(out, length - 1), c.expected) << c.bytes;
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, c.bytes, -1, out, 16), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    }
}

TEST(MultiByteToWideChar, BadArgumentsAreRefused)
{
    WCHAR out[4];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a", 0, out, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "a", -1, out, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, nullptr, -1, out, 4), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0x1, "a", -1, out, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
}

TEST(WideCharToMultiByte, CountsAndCapacityFollowTheSameRules)
{
    const WCHAR* text = u"\u00e9\U0001F600";
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr), 7);
    char out[8];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, out, 6, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, text, -1, out, 7, nullptr, nullptr), 7);
    EXPECT_EQ(std::string(out), "\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, 1, out, 8, nullptr, nullptr), 2);
}

TEST(WideCharToMultiByte, UnpairedSurrogatesAreReplacedOrRefused)
{
    const WCHAR lone[] = {u'a', 0xD800, u'b', 0xDC00, 0};
    char out[16];
    ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, lone, -1, out, 16, nullptr, nullptr), 9);
    EXPECT_EQ(std::string(out), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, -1, out, 16, nullptr,
                                  nullptr),
              0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    // A high surrogate that ends the counted text has no partner either.
    const WCHAR pair[] = {0xD83D, 0xDE00};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, pair, 1, out, 16, nullptr, nullptr), 3);
}

TEST(WideCharToMultiByte, Utf8HasNoDefaultCharacter)
{
    char out[4];
    BOOL used = FALSE;
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", -1, out, 4, "?", nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", -1, out, 4, nullptr, &used), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(TextHelpers, ConversionsRoundTripAndReplaceBrokenInput)
{
    std::u16string wide = u"A\u00e9\u4e2d\U0001F600";
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(wide)), wide);
    EXPECT_EQ(Utf8ToUtf16(std::string("x\0y", 3)), std::u16string(u"x\0y", 3));
    EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");
}

TEST(TextHelpers, WideStringFunctions)
{
    EXPECT_EQ(lstrlenW(u"abc"), 3u);
    EXPECT_EQ(lstrlenW(nullptr), 0u);
    WCHAR out[4] = {u'x', u'x', u'x', u'x'};
    EXPECT_EQ(lstrcpynW(out, u"abcdef", 4), out);
    EXPECT_EQ(std::u16string(out), u"abc");
    lstrcpynW(out, u"z", 4);
    EXPECT_EQ(std::u16string(out), u"z");
    EXPECT_EQ(lstrcmpiW(u"Kernel32.DLL", u"kernel32.dll"), 0);
    EXPECT_LT(lstrcmpiW(u"abc", u"ABD"), 0);
    EXPECT_GT(lstrcmpiW(u"abcd", u"ABC"), 0);
}

}  // namespace
