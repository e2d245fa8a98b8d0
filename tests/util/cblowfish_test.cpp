#include <algorithm>
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

// Published vectors and OpenSSL number the bytes of each half from the most significant one.
Bytes ReverseHalves(Bytes block)
{
    for (auto half = block.begin(); half + 4 <= block.end(); half += 4)
        std::reverse(half, half + 4);
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
    EXPECT_EQ(cipher.EncryptBuffer(plain.data(), out.data(), static_cast<uint32_t>(plain.size())),
              out.size());
    return out;
}

Bytes EncryptWithOpenSsl(const Bytes& key, Bytes plain)
{
    BF_KEY schedule;
    BF_set_key(&schedule, static_cast<int>(key.size()), key.data());
    plain.resize((plain.size() + 7) / 8 * 8, 0);
    plain = ReverseHalves(plain);
    Bytes out(plain.size());
    for (size_t i = 0; i < plain.size(); i += 8)
        BF_ecb_encrypt(&plain[i], &out[i], &schedule, BF_ENCRYPT);
    return ReverseHalves(out);
}

}  // namespace

TEST(CBlowfish, MeetsThePublishedVectorsWithHalvesReversed)
{
    const char* vectors[][3] = {
        {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
        {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
        {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
        {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
        {"F0", "FEDCBA9876543210", "F9AD597C49DB005E"},
        {"F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677", "FEDCBA9876543210",
         "05044B62FA52D080"},
    };
    for (const auto& v : vectors) {
        const Bytes key = FromHex(v[0]);
        const Bytes plain = ReverseHalves(FromHex(v[1]));
        const Bytes cipher = ReverseHalves(FromHex(v[2]));
        EXPECT_EQ(Encrypt(key, plain), cipher) << v[0];
        CBlowfish blowfish;
        blowfish.SetKey(key.data(), static_cast<uint32_t>(key.size()));
        Bytes back(8);
        blowfish.DecryptBuffer(cipher.data(), back.data(), 8);
        EXPECT_EQ(back, plain) << v[0];
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

TEST(CBlowfish, PadsWithZerosInPlaceOrIntoAnotherBuffer)
{
    std::mt19937 random(5);
    const Bytes key = Random(56, random);
    CBlowfish cipher;
    cipher.SetKey(key.data(), 56);
    for (uint32_t length : {1u, 3u, 7u, 8u, 9u, 64u}) {
        const Bytes plain = Random(length, random);
        Bytes padded = plain;
        padded.resize((length + 7) / 8 * 8, 0);
        Bytes inPlace = plain;
        inPlace.resize(padded.size(), 0xEE);
        EXPECT_EQ(cipher.EncryptBuffer(inPlace.data(), inPlace.data(), length), padded.size());
        EXPECT_EQ(inPlace, Encrypt(key, plain)) << length;
        EXPECT_EQ(inPlace, Encrypt(key, padded)) << length;
    }
    uint8_t untouched[8] = {7, 7, 7, 7, 7, 7, 7, 7};
    EXPECT_EQ(cipher.EncryptBuffer(untouched, untouched, 0), 0u);
    cipher.DecryptBuffer(untouched, untouched, 0);
    EXPECT_EQ(Bytes(untouched, untouched + 8), Bytes(8, 7));
}

TEST(CBlowfish, KeysMatterOnlyUpToTheir72ndByteAndAreUsedCyclically)
{
    std::mt19937 random(9);
    const Bytes key = Random(72, random);
    Bytes other = key;
    other.push_back(0xFE);
    const Bytes plain = Random(32, random);
    EXPECT_EQ(Encrypt(key, plain), Encrypt(other, plain));
    EXPECT_EQ(Encrypt({0x9C}, plain), Encrypt(Bytes(72, 0x9C), plain));
    EXPECT_NE(Encrypt({0x9C}, plain), Encrypt({0x1C}, plain));

    CBlowfish rekeyed;
    rekeyed.SetKey(key.data(), 72);
    rekeyed.SetKey(other.data(), 3);
    Bytes out(32);
    rekeyed.EncryptBuffer(plain.data(), out.data(), 32);
    EXPECT_EQ(out, Encrypt(Bytes(key.begin(), key.begin() + 3), plain));
}
