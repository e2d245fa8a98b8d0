#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <openssl/blowfish.h>

#include <gtest/gtest.h>

#include "util/CBlowfish.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromHex(const std::string& hex)
{
    Bytes bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// Published vectors number the bytes of each half from the most significant one; this
// cipher reads each half little-endian.
Bytes ReverseHalves(Bytes block)
{
    for (size_t i = 0; i + 4 <= block.size(); i += 4)
        std::reverse(block.begin() + static_cast<long>(i), block.begin() + static_cast<long>(i) + 4);
    return block;
}

Bytes Random(size_t length, std::mt19937& random)
{
    Bytes bytes(length);
    for (auto& byte : bytes)
        byte = static_cast<uint8_t>(random());
    return bytes;
}

Bytes Encrypt(const Bytes& key, const Bytes& plain)
{
    CBlowfish cipher;
    cipher.SetKey(key.data(), static_cast<uint32_t>(key.size()));
    Bytes out((plain.size() + 7) / 8 * 8, 0xAA);
    uint32_t length = cipher.EncryptBuffer(plain.data(), out.data(), static_cast<uint32_t>(plain.size()));
    EXPECT_EQ(length, out.size());
    return out;
}

Bytes EncryptWithOpenSsl(const Bytes& key, Bytes plain)
{
    BF_KEY schedule;
    BF_set_key(&schedule, static_cast<int>(key.size()), key.data());
    plain.resize((plain.size() + 7) / 8 * 8, 0);
    Bytes out(plain.size());
    for (size_t i = 0; i < plain.size(); i += 8) {
        Bytes block = ReverseHalves(Bytes(plain.begin() + static_cast<long>(i),
                                          plain.begin() + static_cast<long>(i) + 8));
        uint8_t cipher[8];
        BF_ecb_encrypt(block.data(), cipher, &schedule, BF_ENCRYPT);
        Bytes reversed = ReverseHalves(Bytes(cipher, cipher + 8));
        std::copy(reversed.begin(), reversed.end(), out.begin() + static_cast<long>(i));
    }
    return out;
}

struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
};

}  // namespace

TEST(CBlowfish, MeetsThePublishedVectorsWithHalvesReversed)
{
    const Vector vectors[] = {
        {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
        {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
        {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
        {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
        {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
        {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
        {"F0", "FEDCBA9876543210", "F9AD597C49DB005E"},
        {"F0E1", "FEDCBA9876543210", "E91D21C1D961A6D6"},
        {"F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677", "FEDCBA9876543210",
         "05044B62FA52D080"},
    };
    for (const Vector& v : vectors) {
        const Bytes key = FromHex(v.key);
        const Bytes plain = ReverseHalves(FromHex(v.plain));
        const Bytes cipher = ReverseHalves(FromHex(v.cipher));
        EXPECT_EQ(Encrypt(key, plain), cipher) << v.key;

        CBlowfish blowfish;
        blowfish.SetKey(key.data(), static_cast<uint32_t>(key.size()));
        Bytes back(8);
        blowfish.DecryptBuffer(cipher.data(), back.data(), 8);
        EXPECT_EQ(back, plain) << v.key;
    }
}

TEST(CBlowfish, AgreesWithOpenSslOnRandomKeysAndBuffers)
{
    std::mt19937 random(2024);
    for (int round = 0; round < 200; ++round) {
        const Bytes key = Random(1 + random() % 80, random);
        const Bytes plain = Random(1 + random() % 100, random);
        const Bytes cipher = Encrypt(key, plain);
        ASSERT_EQ(cipher, EncryptWithOpenSsl(key, plain)) << key.size() << " " << plain.size();

        CBlowfish blowfish;
        blowfish.SetKey(key.data(), static_cast<uint32_t>(key.size()));
        Bytes back(cipher.size());
        blowfish.DecryptBuffer(cipher.data(), back.data(), static_cast<uint32_t>(plain.size()));
        Bytes expected = plain;
        expected.resize(cipher.size(), 0);
        ASSERT_EQ(back, expected);
    }
}

TEST(CBlowfish, PadsTheLastBlockWithZeroBytes)
{
    const Bytes key = {'k', 'e', 'y'};
    EXPECT_EQ(Encrypt(key, {1, 2, 3}), Encrypt(key, {1, 2, 3, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Encrypt(key, Bytes(8, 9)).size(), 8u);
    EXPECT_EQ(Encrypt(key, Bytes(9, 9)).size(), 16u);

    CBlowfish cipher;
    cipher.SetKey(key.data(), 3);
    uint8_t untouched[8] = {7, 7, 7, 7, 7, 7, 7, 7};
    EXPECT_EQ(cipher.EncryptBuffer(untouched, untouched, 0), 0u);
    cipher.DecryptBuffer(untouched, untouched, 0);
    EXPECT_EQ(Bytes(untouched, untouched + 8), Bytes(8, 7));
}

TEST(CBlowfish, InPlaceAndIntoAnotherBufferGiveTheSameBytes)
{
    std::mt19937 random(5);
    const Bytes key = Random(56, random);
    CBlowfish cipher;
    cipher.SetKey(key.data(), 56);
    for (uint32_t length : {1u, 7u, 8u, 13u, 64u}) {
        const Bytes plain = Random(length, random);
        const Bytes separate = Encrypt(key, plain);
        Bytes inPlace = plain;
        inPlace.resize((length + 7) / 8 * 8, 0xEE);
        EXPECT_EQ(cipher.EncryptBuffer(inPlace.data(), inPlace.data(), length), inPlace.size());
        EXPECT_EQ(inPlace, separate) << length;
        cipher.DecryptBuffer(inPlace.data(), inPlace.data(), length);
        Bytes expected = plain;
        expected.resize(inPlace.size(), 0);
        EXPECT_EQ(inPlace, expected);
    }
}

TEST(CBlowfish, KeysMatterOnlyUpToTheir72ndByteAndAreUsedCyclically)
{
    std::mt19937 random(9);
    Bytes key = Random(72, random);
    Bytes longer = key;
    longer.push_back(0x01);
    Bytes other = key;
    other.push_back(0xFE);
    const Bytes plain = Random(32, random);
    EXPECT_EQ(Encrypt(longer, plain), Encrypt(other, plain));
    EXPECT_EQ(Encrypt(key, plain), Encrypt(other, plain));

    EXPECT_EQ(Encrypt({0x9C}, plain), Encrypt(Bytes(72, 0x9C), plain));
    EXPECT_NE(Encrypt({0x9C}, plain), Encrypt({0x1C}, plain));
}

TEST(CBlowfish, ReKeyingStartsAFreshSchedule)
{
    const Bytes first = {1, 2, 3, 4};
    const Bytes second = {'1', '4', '4'};
    const Bytes plain = {10, 20, 30, 40, 50, 60, 70, 80};
    CBlowfish cipher;
    cipher.SetKey(first.data(), 4);
    cipher.SetKey(second.data(), 3);
    Bytes out(8);
    cipher.EncryptBuffer(plain.data(), out.data(), 8);
    EXPECT_EQ(out, Encrypt(second, plain));
}
