#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <zlib.h>

#include <gtest/gtest.h>

#include "support/Noise.h"
#include "util/CBlowfish.h"
#include "util/Cdatautil.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::u16string Seal(const Bytes& data)
{
    std::vector<WCHAR> out(4300, u'?');
    Cdatautil sealer;
    EXPECT_EQ(sealer.Encode(data.data(), static_cast<uint32_t>(data.size()), out.data()), 1u);
    return out.data();
}

// The data of an opened sealed text; empty when refused (then the length must be 0 too).
Bytes Open(const std::u16string& sealed)
{
    Bytes out(2048, 0xCC);
    uint32_t length = 99;
    Cdatautil opener;
    if (opener.Decode(sealed.c_str(), out.data(), &length) == 0) {
        EXPECT_EQ(length, 0u);
        return {};
    }
    return Bytes(out.begin(), out.begin() + length);
}

// Enciphers or deciphers as sealing does: the key is the sealed length in decimal digits.
void Cipher(Bytes& block, bool encrypt)
{
    const std::string key = std::to_string(2 * block.size());
    CBlowfish cipher;
    cipher.SetKey(reinterpret_cast<const uint8_t*>(key.data()), static_cast<uint32_t>(key.size()));
    if (encrypt)
        cipher.EncryptBuffer(block.data(), block.data(), static_cast<uint32_t>(block.size()));
    else
        cipher.DecryptBuffer(block.data(), block.data(), static_cast<uint32_t>(block.size()));
}

std::u16string SealPlainBlock(Bytes plain)
{
    Cipher(plain, true);
    std::u16string text;
    for (uint8_t byte : plain) {
        text += u"0123456789ABCDEF"[byte >> 4];
        text += u"0123456789ABCDEF"[byte & 15];
    }
    return text;
}

Bytes OpenPlainBlock(const std::u16string& sealed)
{
    Bytes block;
    for (size_t i = 0; i + 1 < sealed.size(); i += 2)
        block.push_back(static_cast<uint8_t>(
            std::stoul(std::string(sealed.begin() + i, sealed.begin() + i + 2), nullptr, 16)));
    Cipher(block, false);
    return block;
}

Bytes PlainBlock(const Bytes& data, uint32_t pad, size_t tail)
{
    const uint32_t crc =
        static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
    Bytes plain(8 + data.size() + tail, 0);
    std::memcpy(plain.data(), &crc, 4);
    std::memcpy(plain.data() + 4, &pad, 4);
    std::copy(data.begin(), data.end(), plain.begin() + 8);
    return plain;
}

}  // namespace

TEST(Cdatautil, LaysOutHeaderDataAndANineFoldZeroTailInUpperCaseHex)
{
    for (auto [length, pad] : {std::pair{1u, 63u}, {7u, 9u}, {8u, 0u}, {9u, 63u}}) {
        const Bytes data = NoiseBytes(length, length);
        const std::u16string sealed = Seal(data);
        EXPECT_EQ(sealed.size(), 2 * (8 + length + pad)) << length;
        EXPECT_EQ(sealed.find_first_not_of(u"0123456789ABCDEF"), std::u16string::npos);
        EXPECT_EQ(OpenPlainBlock(sealed), PlainBlock(data, pad, pad)) << length;
        EXPECT_EQ(Seal(data), sealed);
    }
}

TEST(Cdatautil, OpensItsTokensInEitherCaseAndRefusesDamagedOnes)
{
    const Bytes data = NoiseBytes(8, 2);
    const std::u16string sealed = Seal(data);
    EXPECT_EQ(Open(sealed), data);
    std::u16string lower = sealed;
    for (char16_t& ch : lower)
        ch = ch >= u'A' ? static_cast<char16_t>(ch + 32) : ch;
    EXPECT_EQ(Open(lower), data);
    EXPECT_EQ(Open(sealed + u"7"), data);  // an odd last character is ignored
    // Eight bytes leave no padding, so every digit enciphers header or data.
    for (size_t i = 0; i < sealed.size(); ++i) {
        std::u16string damaged = sealed;
        damaged[i] = damaged[i] == u'0' ? u'1' : u'0';
        ASSERT_TRUE(Open(damaged).empty()) << i;
    }
    std::u16string notHex = sealed;
    notHex[5] = u'G';
    EXPECT_TRUE(Open(notHex).empty());
}

TEST(Cdatautil, RefusesBadLengthsAndPadFields)
{
    EXPECT_TRUE(Open(u"0123456789A").empty());
    EXPECT_TRUE(Open(std::u16string(4097, u'0')).empty());
    EXPECT_TRUE(Open(SealPlainBlock(PlainBlock({}, 0, 0))).empty());
    EXPECT_TRUE(Open(SealPlainBlock(PlainBlock({}, 8, 8))).empty());
    EXPECT_TRUE(Open(SealPlainBlock(PlainBlock(Bytes(7, 's'), 65, 65))).empty());
    EXPECT_EQ(Open(SealPlainBlock(PlainBlock(Bytes(8, 'e'), 64, 64))), Bytes(8, 'e'));
    // The pad bytes are not examined and the field need not be a multiple of nine.
    EXPECT_EQ(Open(SealPlainBlock(PlainBlock({'a', 'b', 'c'}, 5, 5))), (Bytes{'a', 'b', 'c'}));

    Cdatautil sealer;
    std::vector<WCHAR> out(4300, u'?');
    EXPECT_EQ(sealer.Encode(out.data(), 0, out.data()), 0u);
    EXPECT_EQ(out[0], 0);
    out[0] = u'?';
    EXPECT_EQ(sealer.Encode(NoiseBytes(2049, 3).data(), 2049, out.data()), 0u);
    EXPECT_EQ(out[0], 0);
}

TEST(Cdatautil, OpensEveryLengthUpTo1984Bytes)
{
    const Bytes largest = NoiseBytes(1984, 4);
    EXPECT_EQ(Open(Seal(largest)), largest);
    EXPECT_EQ(Seal(NoiseBytes(1985, 5)).size(), 4112u);
    EXPECT_TRUE(Open(Seal(NoiseBytes(1985, 5))).empty());
    EXPECT_EQ(Seal(NoiseBytes(2041, 6)).size(), 4224u);
    EXPECT_TRUE(Open(Seal(NoiseBytes(2048, 6))).empty());
}

TEST(ParameterText, RoundTripsEveryTextOfUpTo224Characters)
{
    std::vector<WCHAR> sealed(1024), out(1024);
    for (size_t length = 1; length <= 224; ++length) {
        std::u16string text;
        for (size_t i = 0; i < length; ++i)
            text += static_cast<char16_t>(u'a' + i % 26 + (i % 7 == 0 ? 0x400 : 0));
        ASSERT_EQ(EncodeParameterText(text.c_str(), sealed.data()), 1u) << length;
        ASSERT_EQ(DecodeParameterText(sealed.data(), out.data()), 1u) << length;
        ASSERT_EQ(std::u16string(out.data()), text);
    }
    const std::u16string longest(248, u'y');
    EXPECT_EQ(EncodeParameterText(longest.c_str(), sealed.data()), 1u);
    EXPECT_EQ(DecodeParameterText(sealed.data(), out.data()), 1u);
    EXPECT_EQ(std::u16string(out.data()), longest);
}

TEST(ParameterText, RefusesEmptyTextsAndSealedFormsOverTheBuffer)
{
    for (const std::u16string& text :
         {std::u16string(), std::u16string(225, u'x'), std::u16string(1025, u'x')}) {
        std::vector<WCHAR> out(1024, u'?');
        EXPECT_EQ(EncodeParameterText(text.c_str(), out.data()), 0u) << text.size();
        EXPECT_EQ(out[0], 0);
    }
}

TEST(ParameterText, AnOddDataLengthIsCutToWholeCharacters)
{
    std::vector<WCHAR> out(1024, u'?');
    EXPECT_EQ(DecodeParameterText(Seal({'a', 0, 'b', 0, 'c'}).c_str(), out.data()), 1u);
    EXPECT_EQ(std::u16string(out.data()), u"ab");
}
