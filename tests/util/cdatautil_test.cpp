#include <cctype>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include <gtest/gtest.h>

#include "util/CBlowfish.h"
#include "util/Cdatautil.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Random(size_t length, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes bytes(length);
    for (auto& byte : bytes)
        byte = static_cast<uint8_t>(random());
    return bytes;
}

std::u16string Seal(const Bytes& data)
{
    std::vector<WCHAR> out(4300, u'?');
    Cdatautil sealer;
    EXPECT_EQ(sealer.Encode(data.data(), static_cast<uint32_t>(data.size()), out.data()), 1u);
    return out.data();
}

// Result, length and data of opening a sealed text.
struct Opened {
    uint32_t result;
    uint32_t length;
    Bytes data;
};

Opened Open(const std::u16string& sealed)
{
    Bytes out(2048, 0xCC);
    uint32_t length = 99;
    Cdatautil opener;
    uint32_t result = opener.Decode(sealed.c_str(), out.data(), &length);
    return {result, length, Bytes(out.begin(), out.begin() + length)};
}

std::string Key(size_t sealedCharacters)
{
    return std::to_string(sealedCharacters);
}

// Enciphers a plain block as a sealed text is made, so that tokens with any header can be
// built.
std::u16string SealPlainBlock(const Bytes& plain)
{
    const std::string key = Key(2 * plain.size());
    CBlowfish cipher;
    cipher.SetKey(reinterpret_cast<const uint8_t*>(key.data()), static_cast<uint32_t>(key.size()));
    Bytes sealed(plain.size());
    cipher.EncryptBuffer(plain.data(), sealed.data(), static_cast<uint32_t>(plain.size()));
    std::u16string text;
    for (uint8_t byte : sealed) {
        text += u"0123456789ABCDEF"[byte >> 4];
        text += u"0123456789ABCDEF"[byte & 15];
    }
    return text;
}

Bytes OpenPlainBlock(const std::u16string& sealed)
{
    Bytes cipherBytes;
    for (size_t i = 0; i + 1 < sealed.size(); i += 2)
        cipherBytes.push_back(static_cast<uint8_t>(
            std::stoul(std::string{static_cast<char>(sealed[i]), static_cast<char>(sealed[i + 1])},
                       nullptr, 16)));
    const std::string key = Key(sealed.size());
    CBlowfish cipher;
    cipher.SetKey(reinterpret_cast<const uint8_t*>(key.data()), static_cast<uint32_t>(key.size()));
    cipher.DecryptBuffer(cipherBytes.data(), cipherBytes.data(), static_cast<uint32_t>(cipherBytes.size()));
    return cipherBytes;
}

uint32_t Word(const Bytes& bytes, size_t offset)
{
    return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

Bytes PlainBlock(const Bytes& data, uint32_t pad, size_t tail)
{
    const uLong crc = crc32(0, data.data(), static_cast<uInt>(data.size()));
    Bytes plain(8);
    for (int i = 0; i < 4; ++i) {
        plain[i] = static_cast<uint8_t>(crc >> (8 * i));
        plain[4 + i] = static_cast<uint8_t>(pad >> (8 * i));
    }
    plain.insert(plain.end(), data.begin(), data.end());
    plain.resize(plain.size() + tail, 0);
    return plain;
}

std::u16string EncodeText(const std::u16string& text, uint32_t* result)
{
    std::vector<WCHAR> out(1024, u'?');
    *result = EncodeParameterText(text.c_str(), out.data());
    return out.data();
}

}  // namespace

TEST(Cdatautil, LaysOutHeaderDataAndANineFoldZeroTail)
{
    struct Case {
        size_t length;
        size_t sealedCharacters;
        uint32_t pad;
    };
    for (const Case& c : {Case{1, 144, 63}, Case{7, 48, 9}, Case{8, 32, 0}, Case{9, 2 * (17 + 63), 63}}) {
        const Bytes data = Random(c.length, static_cast<unsigned>(c.length));
        const std::u16string sealed = Seal(data);
        ASSERT_EQ(sealed.size(), c.sealedCharacters) << c.length;
        for (char16_t ch : sealed)
            ASSERT_TRUE((ch >= u'0' && ch <= u'9') || (ch >= u'A' && ch <= u'F'));
        const Bytes plain = OpenPlainBlock(sealed);
        EXPECT_EQ(plain, PlainBlock(data, c.pad, c.pad)) << c.length;
        EXPECT_EQ(Word(plain, 4), c.pad);
    }
}

TEST(Cdatautil, SealsTheSameDataToTheSameTextAndOpensItAgain)
{
    const Bytes data = Random(100, 1);
    const std::u16string sealed = Seal(data);
    EXPECT_EQ(Seal(data), sealed);
    Opened opened = Open(sealed);
    EXPECT_EQ(opened.result, 1u);
    EXPECT_EQ(opened.data, data);

    std::u16string lower = sealed;
    for (char16_t& ch : lower)
        ch = static_cast<char16_t>(std::tolower(static_cast<int>(ch)));
    EXPECT_EQ(Open(lower).data, data);
    EXPECT_EQ(Open(sealed + u"7").data, data);
}

TEST(Cdatautil, RefusesATokenWithAnyDigitChanged)
{
    // Eight bytes leave no padding, so every digit enciphers header or data.
    const std::u16string sealed = Seal(Random(8, 2));
    for (size_t i = 0; i < sealed.size(); ++i) {
        std::u16string damaged = sealed;
        damaged[i] = damaged[i] == u'0' ? u'1' : u'0';
        Opened opened = Open(damaged);
        ASSERT_EQ(opened.result, 0u) << i;
        ASSERT_EQ(opened.length, 0u);
    }
    std::u16string notHex = sealed;
    notHex[5] = u'G';
    EXPECT_EQ(Open(notHex).result, 0u);
}

TEST(Cdatautil, RefusesTokensOfTheWrongLength)
{
    EXPECT_EQ(Open(u"0123456789A").result, 0u);
    EXPECT_EQ(Open(std::u16string(4097, u'0')).result, 0u);
    EXPECT_EQ(Open(u"").result, 0u);
    // Twelve to seventeen characters decipher to less than a header and one byte.
    EXPECT_EQ(Open(SealPlainBlock(PlainBlock({}, 0, 0)).substr(0, 16)).result, 0u);
}

TEST(Cdatautil, ChecksThePadFieldAgainstWhatFollowsTheHeader)
{
    const Bytes data = {'a', 'b', 'c'};
    // A pad field that is not a multiple of nine is accepted when the CRC-32 holds.
    Opened odd = Open(SealPlainBlock(PlainBlock(data, 5, 5)));
    EXPECT_EQ(odd.result, 1u);
    EXPECT_EQ(odd.data, data);

    const Bytes eight(8, 'e');
    EXPECT_EQ(Open(SealPlainBlock(PlainBlock(eight, 64, 64))).data, eight);
    EXPECT_EQ(Open(SealPlainBlock(PlainBlock(Bytes(7, 's'), 65, 65))).result, 0u);
    EXPECT_EQ(Open(SealPlainBlock(PlainBlock({}, 8, 8))).result, 0u);
}

TEST(Cdatautil, RefusesToSealNothingOrTooMuch)
{
    Cdatautil sealer;
    std::vector<WCHAR> out(4300, u'?');
    const Bytes data = Random(2049, 3);
    EXPECT_EQ(sealer.Encode(data.data(), 0, out.data()), 0u);
    EXPECT_EQ(out[0], 0);
    out[0] = u'?';
    EXPECT_EQ(sealer.Encode(data.data(), 2049, out.data()), 0u);
    EXPECT_EQ(out[0], 0);
}

TEST(Cdatautil, OpensEveryLengthUpTo1984Bytes)
{
    const Bytes largest = Random(1984, 4);
    const std::u16string sealed = Seal(largest);
    EXPECT_EQ(sealed.size(), 3984u);
    EXPECT_EQ(Open(sealed).data, largest);

    for (size_t length : {1985u, 2041u, 2048u}) {
        const std::u16string tooLong = Seal(Random(length, 5));
        EXPECT_GT(tooLong.size(), 4096u);
        EXPECT_EQ(Open(tooLong).result, 0u) << length;
    }
    EXPECT_EQ(Seal(Random(2048, 6)).size(), 2u * (8 + 2048));
    EXPECT_EQ(Seal(Random(2041, 6)).size(), 4224u);
}

TEST(ParameterText, RoundTripsEveryTextOfUpTo224Characters)
{
    for (size_t length = 1; length <= 224; ++length) {
        std::u16string text;
        for (size_t i = 0; i < length; ++i)
            text += static_cast<char16_t>(u'a' + i % 26 + (i % 7 == 0 ? 0x400 : 0));
        uint32_t result = 0;
        const std::u16string sealed = EncodeText(text, &result);
        ASSERT_EQ(result, 1u) << length;
        std::vector<WCHAR> out(1024, u'?');
        ASSERT_EQ(DecodeParameterText(sealed.c_str(), out.data()), 1u) << length;
        ASSERT_EQ(std::u16string(out.data()), text);
    }
}

TEST(ParameterText, RefusesEmptyTextsAndSealedFormsOverTheBuffer)
{
    uint32_t result = 1;
    EXPECT_EQ(EncodeText(u"", &result), u"");
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(EncodeText(std::u16string(225, u'x'), &result), u"");
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(EncodeText(std::u16string(1025, u'x'), &result), u"");
    EXPECT_EQ(result, 0u);

    const std::u16string longest(248, u'y');
    const std::u16string sealed = EncodeText(longest, &result);
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(sealed.size(), 1008u);
    std::vector<WCHAR> out(1024);
    EXPECT_EQ(DecodeParameterText(sealed.c_str(), out.data()), 1u);
    EXPECT_EQ(std::u16string(out.data()), longest);
}

TEST(ParameterText, AnOddDataLengthIsCutToWholeCharacters)
{
    const Bytes data = {'a', 0, 'b', 0, 'c'};
    std::vector<WCHAR> out(1024, u'?');
    EXPECT_EQ(DecodeParameterText(Seal(data).c_str(), out.data()), 1u);
    EXPECT_EQ(std::u16string(out.data()), u"ab");
}

TEST(ParameterText, OpeningTheLargestTokenStaysWithin2048Bytes)
{
    const Bytes data = Random(1984, 8);
    std::vector<WCHAR> out(1024);
    EXPECT_EQ(DecodeParameterText(Seal(data).c_str(), out.data()), 1u);
    EXPECT_EQ(std::memcmp(out.data(), data.data(), 1984), 0);
}
