#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "PacketBytes.h"
#include "connection/CCreatePacket.h"
#include "connection/CredentialKey.h"
#include "util/CBlowfish.h"

namespace {

// Runs one builder; the out-pointer starts non-null so that a refusal must clear it.
template <typename Builder>
Bytes Build(Builder build)
{
    void* packet = &packet;
    const DWORD length = build(&packet);
    return TakePacket(length, packet);
}

std::u16string Repeat(char16_t unit, size_t count) { return std::u16string(count, unit); }

CCreatePacket builder;

}  // namespace

TEST(Packet, CodeAloneIsFourBytes)
{
    EXPECT_EQ(Build([](void** p) { return builder.GetSettings(p); }), (Bytes{0x72, 0, 0, 0}));
    EXPECT_EQ(Build([](void** p) { return builder.GetCommandIndex(p); }),
              ExpectedPacket(75).Get());
    EXPECT_EQ(Build([](void** p) { return builder.Disconnect(p); }), ExpectedPacket(0).Get());
    EXPECT_EQ(Build([](void** p) { return builder.LastRestoreInfo(p); }),
              ExpectedPacket(316).Get());
}

TEST(Packet, EchoTestPadsToTheGivenSize)
{
    Bytes expected{0x31, 0, 0, 0, 0x01, 0, 0, 0};
    expected.resize(20, 0);
    EXPECT_EQ(Build([](void** p) { return builder.EchoTest(p, 16); }), expected);
}

TEST(Packet, SearchCarriesUtf8TextAndTrailingZeroWord)
{
    const Bytes expected{0x03, 0x01, 0, 0, 0x05, 0, 0, 0, 0, 0, 0, 0, 0x03, 0, 0, 0,
                         0x61, 0x62, 0x63, 0, 0, 0, 0};
    EXPECT_EQ(Build([](void** p) { return builder.Search(p, 5, 0, u"abc"); }), expected);
}

TEST(Packet, WideTextIsUtf16LittleEndianWithoutTerminator)
{
    const Bytes expected{0x11, 0x01, 0, 0, 0x04, 0, 0, 0, 0x61, 0, 0x62, 0};
    EXPECT_EQ(Build([](void** p) { return builder.DeleteMember(p, u"ab"); }), expected);
    EXPECT_EQ(Build([](void** p) { return builder.CreateAccount(p, u"u", u"", u"e\u00e9", u"",
                                                                u"f", u"l", u"\U0001F600"); }),
              ExpectedPacket(312)
                  .Text16(u"u").Text16(u"").Text16(u"e\u00e9").Text16(u"").Text16(u"f").Text16(u"l")
                  .Text16(u"\U0001F600").Get());
}

TEST(Packet, EmptyTextIsACountOfZeroFollowedByTheNextField)
{
    EXPECT_EQ(Build([](void** p) { return builder.CancelAccount(p, u"", 7); }),
              ExpectedPacket(300).U32(0).U32(7).Get());
    EXPECT_EQ(Build([](void** p) { return builder.RemoveCacheFile(p, "", 2, 0); }),
              ExpectedPacket(35).U32(0).U32(2).U32(0).Get());
}

TEST(Packet, CreateMachineByAuthSendsHostAndSourceBeforeMachineName)
{
    const Bytes built = Build([](void** p) {
        return builder.CreateMachineByAuth(p, "token", "abc", "hosta", 53);
    });
    EXPECT_EQ(built, ExpectedPacket(344).Text8("token").Text8("hosta").U32(53).Text8("abc")
                         .Get());
    const Bytes tail{0x03, 0, 0, 0, 'a', 'b', 'c'};
    ASSERT_GE(built.size(), tail.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), built.end() - tail.size()));
}

TEST(Packet, CheckFileSendsItsValuesAsABECD)
{
    EXPECT_EQ(Build([](void** p) {
                  return builder.CheckFile(p, 0x11223344, 0x55, u"\\d\u00e9", u"f.txt", 1, 2, 3,
                                           4, 5);
              }),
              ExpectedPacket(267)
                  .U64(0x0000005511223344ull).Text8("\\d\xc3\xa9").Text8("f.txt")
                  .U32(1).U32(2).U32(5).U32(3).U32(4).Get());
}

TEST(Packet, CodesGoLowWordFirst)
{
    EXPECT_EQ(Build([](void** p) { return builder.GetVersions(p, 1, 2, 3, 4, 5, 6, 7, 8); }),
              ExpectedPacket(125).U32(1).U32(2).U32(3).U32(4).U32(5).U32(6).U32(7).U32(8)
                  .Get());
    EXPECT_EQ(Build([](void** p) {
                  return builder.DeleteServerFile(p, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0xFFFFFFFF);
              }),
              ExpectedPacket(308).U64(1).U64(2).U64(3).U64(4).U64(0xFFFFFFFF00000005ull)
                  .Get());
    EXPECT_EQ(Build([](void** p) { return builder.GetRootDirectory(p, 9, 0, 8, 0, u"\\"); }),
              ExpectedPacket(338).U64(9).U64(8).Text8("\\").Get());
}

TEST(Packet, WordBuildersKeepTheirArgumentOrder)
{
    EXPECT_EQ(Build([](void** p) {
                  return builder.GetFile(p, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0);
              }).size(),
              48u);
    EXPECT_EQ(Build([](void** p) { return builder.GetCachePacket(p, "c1", 0x20000, 1, 0x20000, 0); }),
              ExpectedPacket(106).Text8("c1").U64(0x100020000ull).U32(0x20000).U32(0).Get());
    EXPECT_EQ(Build([](void** p) { return builder.ProductList(p, 3, 4, u"en"); }),
              ExpectedPacket(310).U32(3).U32(4).Text16(u"en").Get());
    EXPECT_EQ(Build([](void** p) { return builder.CancellationReasons(p, u"x", 9); }),
              ExpectedPacket(313).Text16(u"x").U32(9).Get());
    EXPECT_EQ(Build([](void** p) {
                  return builder.SetMachinePlan(p, u"a", u"bb", u"", u"d", 6, 7);
              }),
              ExpectedPacket(292).Text8("a").Text8("bb").Text8("").Text8("d").U32(6).U32(7)
                  .Get());
    EXPECT_EQ(Build([](void** p) { return builder.MachineAuthentication(p, "key", "host"); }),
              ExpectedPacket(225).Text8("key").Text8("host").Get());
}

TEST(Packet, Utf8TextsAreBoundedByTheirWorkBuffers)
{
    // Search and its kin: 1023 bytes of UTF-8 fit, 1024 do not.
    const std::u16string fits = Repeat(u'a', 1023);
    const std::u16string over = Repeat(u'a', 1024);
    EXPECT_EQ(Build([&](void** p) { return builder.Search(p, 1, 0, fits.c_str()); }).size(),
              4u + 8 + 4 + 1023 + 4);
    EXPECT_TRUE(Build([&](void** p) { return builder.Search(p, 1, 0, over.c_str()); }).empty());
    EXPECT_TRUE(Build([&](void** p) { return builder.CheckUsername(p, over.c_str()); }).empty());
    EXPECT_TRUE(Build([&](void** p) {
        return builder.SetMachinePlan(p, u"a", u"b", u"c", over.c_str(), 0, 0);
    }).empty());
    // A two-byte character that would end at byte 1024 does not fit either.
    const std::u16string multibyte = Repeat(u'a', 1021) + u"\u00e9";
    EXPECT_FALSE(Build([&](void** p) { return builder.CancelAccount(p, multibyte.c_str(), 0); })
                     .empty());
    const std::u16string multibyteOver = Repeat(u'a', 1022) + u"\u00e9";
    EXPECT_TRUE(Build([&](void** p) {
        return builder.CancelAccount(p, multibyteOver.c_str(), 0);
    }).empty());

    const std::u16string root = Repeat(u'r', 2047);
    const std::u16string rootOver = Repeat(u'r', 2048);
    EXPECT_FALSE(Build([&](void** p) { return builder.GetRootDirectory(p, 0, 0, 0, 0, root.c_str()); })
                     .empty());
    EXPECT_TRUE(Build([&](void** p) {
        return builder.GetRootDirectory(p, 0, 0, 0, 0, rootOver.c_str());
    }).empty());

    const std::u16string path = Repeat(u'p', 4095);
    const std::u16string pathOver = Repeat(u'p', 4096);
    EXPECT_FALSE(Build([&](void** p) {
        return builder.CheckFile(p, 0, 0, path.c_str(), path.c_str(), 0, 0, 0, 0, 0);
    }).empty());
    EXPECT_TRUE(Build([&](void** p) {
        return builder.CheckFile(p, 0, 0, path.c_str(), pathOver.c_str(), 0, 0, 0, 0, 0);
    }).empty());
}

TEST(Packet, FixedBuffersRefuseWhatDoesNotFit)
{
    const std::u16string reasons = Repeat(u'r', 506);
    const std::u16string reasonsOver = Repeat(u'r', 507);
    EXPECT_EQ(Build([&](void** p) { return builder.CancellationReasons(p, reasons.c_str(), 1); })
                  .size(),
              1024u);
    EXPECT_TRUE(Build([&](void** p) {
        return builder.CancellationReasons(p, reasonsOver.c_str(), 1);
    }).empty());

    const std::u16string products = Repeat(u'p', 504);
    const std::u16string productsOver = Repeat(u'p', 505);
    EXPECT_EQ(Build([&](void** p) { return builder.ProductList(p, 0, 0, products.c_str()); })
                  .size(),
              1024u);
    EXPECT_TRUE(Build([&](void** p) {
        return builder.ProductList(p, 0, 0, productsOver.c_str());
    }).empty());

    // The three texts of the user name change share 4080 bytes.
    const std::u16string third = Repeat(u't', 680);
    const std::u16string thirdPlus = Repeat(u't', 681);
    EXPECT_EQ(Build([&](void** p) {
                  return builder.UpdateUsernamePassword(p, third.c_str(), third.c_str(),
                                                        third.c_str());
              }).size(),
              4096u);
    EXPECT_TRUE(Build([&](void** p) {
        return builder.UpdateUsernamePassword(p, third.c_str(), third.c_str(), thirdPlus.c_str());
    }).empty());
}

TEST(Packet, MissingTextsAreRefused)
{
    EXPECT_TRUE(Build([](void** p) { return builder.Search(p, 0, 0, nullptr); }).empty());
    EXPECT_TRUE(Build([](void** p) { return builder.DeleteMember(p, nullptr); }).empty());
    EXPECT_TRUE(Build([](void** p) { return builder.RemoveCacheFile(p, nullptr, 0, 0); }).empty());
    EXPECT_TRUE(Build([](void** p) {
        return builder.UpdateAccountInfo(p, u"n", u"a", u"b", u"c", nullptr, u"z", u"c", u"p");
    }).empty());
}

TEST(CredentialKey, CommandIndexDigitsRewriteTheFirstTenPositions)
{
    const std::string tmpl = KELVANE_CREDENTIAL_TEMPLATE;
    char key[kCredentialKeyLength + 1];

    BuildCredentialKey(0, key);
    std::string expected = tmpl;
    expected[0] = '0';
    EXPECT_EQ(std::string(key), expected);

    BuildCredentialKey(1234567890, key);
    expected = "1098765432" + tmpl.substr(10);
    EXPECT_EQ(std::string(key), expected);

    // "122" reversed is "221": position 1 gets '2', position 2 gets '2' and then '1'.
    BuildCredentialKey(122, key);
    expected = tmpl;
    expected[1] = '2';
    expected[2] = '1';
    EXPECT_EQ(std::string(key), expected);
    EXPECT_EQ(std::strlen(key), 56u);
}

TEST(Packet, CredentialsAreTrimmedAndEnciphered)
{
    char user[1024] = " ab ";
    char password[1024] = "p";
    char host[256] = "host1 ";
    const ULONGLONG index = 9876543210123ull;
    const Bytes built = Build([&](void** p) {
        return builder.AuthenticateUser(p, 7, 2, user, password, host, index);
    });
    EXPECT_STREQ(user, "ab");
    EXPECT_STREQ(host, "host1");

    // "ab" + "p" + "host1" is 8 bytes: one block.
    const Bytes header = ExpectedPacket(139).U32(7).U32(2).U32(2).U32(1).U32(5).U32(8).U32(8)
                             .Get();
    ASSERT_EQ(built.size(), header.size() + 8);
    EXPECT_TRUE(std::equal(header.begin(), header.end(), built.begin()));

    char key[kCredentialKeyLength + 1];
    BuildCredentialKey(index, key);
    CBlowfish cipher;
    cipher.SetKey(reinterpret_cast<const BYTE*>(key), kCredentialKeyLength);
    BYTE plain[8];
    cipher.DecryptBuffer(built.data() + 32, plain, 8);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(plain), 8), "abphost1");
}

TEST(Packet, CredentialCipherIsZeroPaddedToWholeBlocks)
{
    char user[1024] = "user";
    char password[1024] = "secret";
    char host[256] = "h";
    const Bytes built = Build([&](void** p) {
        return builder.AuthenticateUser(p, 1, 2, user, password, host, 0);
    });
    ASSERT_EQ(built.size(), 32u + 16);
    char key[kCredentialKeyLength + 1];
    BuildCredentialKey(0, key);
    CBlowfish cipher;
    cipher.SetKey(reinterpret_cast<const BYTE*>(key), kCredentialKeyLength);
    BYTE plain[16];
    cipher.DecryptBuffer(built.data() + 32, plain, 16);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(plain), 16),
              std::string("usersecreth") + std::string(5, '\0'));
}
