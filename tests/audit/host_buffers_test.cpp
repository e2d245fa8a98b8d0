// Texts from the server copied into the host's buffers by the exports, into heap buffers of
// exactly the 1024 units that the interface promises (bytes for 8-bit texts, code units for
// UTF-16 ones), so that a single unit written too far is seen. A text that fits with its
// terminator arrives whole; one unit more and the call fails and writes nothing at all.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "audit/Hostile.h"
#include "audit/LibraryChannel.h"
#include "connection/CCreatePacket.h"
#include "platform/text.h"

namespace {

constexpr size_t kHostText = 1024;

}  // namespace

using HostBuffers = LibraryChannel;

TEST_F(HostBuffers, EightBitTextsOfTheMemberAndOfAMachine)
{
    auto getMemberAuth = EXPORT(GetMemberAuth);
    auto getMachineInformation = EXPORT(GetMachineInformation);
    for (size_t length : {kHostText - 1, kHostText, kHostText + 1}) {
        SCOPED_TRACE(length);
        const std::string text(length, 'm');
        const bool fits = length < kHostText;
        Answer(CCreatePacket::kGetMemberAuth, WireBytes().U32(1).U32(0).Text8(text));
        Sentinel<char> auth(kHostText);
        EXPECT_EQ(getMemberAuth(channel, auth.data()), fits ? 1 : 0);
        EXPECT_TRUE(fits ? auth.Text() == text : auth.Untouched());

        Answer(CCreatePacket::kGetMachineAuth, WireBytes().U32(1).Text8(text));
        Sentinel<char> key(kHostText);
        EXPECT_EQ(getMachineInformation(channel, 7, 0, key.data()), fits ? 1 : 0);
        EXPECT_TRUE(fits ? key.Text() == text : key.Untouched());
    }
}

TEST_F(HostBuffers, TheEightReplyStringsOfTheAccount)
{
    auto getAccountInformation = EXPORT(GetAccountInformation);
    for (size_t length : {kHostText - 1, kHostText}) {
        SCOPED_TRACE(length);
        WireBytes reply;
        reply.U32(1).U32(0);
        for (int i = 0; i < 8; ++i)
            reply.Text16(std::u16string(i == 7 ? length : 3, u'a'));
        Answer(CCreatePacket::kGetAccountInfo, reply);
        std::vector<Sentinel<char16_t>> texts(8, Sentinel<char16_t>(kHostText));
        const bool fits = length < kHostText;
        EXPECT_EQ(getAccountInformation(channel, texts[0].data(), texts[1].data(),
                                        texts[2].data(), texts[3].data(), texts[4].data(),
                                        texts[5].data(), texts[6].data(), texts[7].data()),
                  fits ? 1 : 0);
        for (const Sentinel<char16_t>& text : texts)
            EXPECT_TRUE(fits ? !text.Text().empty() : text.Untouched());
        if (fits) {
            EXPECT_EQ(texts[7].Text(), std::u16string(length, u'a'));
        }
    }
}

TEST_F(HostBuffers, TheSixReplyStringsOfTheMember)
{
    auto getMember = EXPORT(GetMemberExtendedInformation);
    for (size_t length : {kHostText - 1, kHostText}) {
        SCOPED_TRACE(length);
        WireBytes reply;
        reply.U32(1).U32(0);
        for (int i = 0; i < 6; ++i)
            reply.Text16(std::u16string(i == 0 ? length : 2, u'b'));
        reply.U64(1).U64(2).U32(0).U32(0).U32(0).U32(1).U32(0).U32(0);
        Answer(CCreatePacket::kGetMemberInfo, reply);
        std::vector<Sentinel<char16_t>> texts(6, Sentinel<char16_t>(kHostText));
        uint64_t a = 0;
        uint64_t b = 0;
        uint32_t words[5] = {};
        const bool fits = length < kHostText;
        EXPECT_EQ(getMember(channel, texts[0].data(), texts[1].data(), texts[2].data(),
                            texts[3].data(), texts[4].data(), texts[5].data(), &a, &b, &words[0],
                            &words[1], &words[2], &words[3], &words[4]),
                  fits ? 1 : 0);
        for (const Sentinel<char16_t>& text : texts)
            EXPECT_TRUE(fits ? !text.Text().empty() : text.Untouched());
    }
}

TEST_F(HostBuffers, TheDataServerNameOfVerifyServerFillsExactlyItsBuffer)
{
    auto verifyServer = library.VerifyServer;
    for (size_t length : {size_t{64}, size_t{65}, size_t{1023}}) {
        SCOPED_TRACE(length);
        Answer(CCreatePacket::kGetSettings,
               WireBytes().U32(1).U32(0).Text8(std::string(length, 'd')).U32(0).U32(0));
        auto dataServer = std::make_unique<char[]>(KELVANE_DATA_SERVER_SIZE);
        std::fill(dataServer.get(), dataServer.get() + KELVANE_DATA_SERVER_SIZE, '#');
        uint32_t maintenance = 0;
        const bool verified = verifyServer(channel, dataServer.get(), &maintenance);
        EXPECT_EQ(verified, length < 65);
        if (verified) {
            EXPECT_EQ(std::string(dataServer.get()), std::string(length, 'd'));
        } else {
            EXPECT_EQ(dataServer[0], '#');
        }
    }
}

TEST_F(HostBuffers, TheBucketTextsOfAMachineInEveryEncodingTheServerMaySend)
{
    auto details = EXPORT(GetMachineBucketDetails);
    const std::u16string key = Utf8ToUtf16(LoginServer::kMachineKey);
    struct Case {
        std::string text;
        bool fits;
    };
    const std::string threeBytes = "\xE2\x82\xAC";
    const std::string fourBytes = "\xF0\x9F\x98\x80";
    std::string euros;
    std::string smiles;
    for (int i = 0; i < 341; ++i)
        euros += threeBytes;
    for (int i = 0; i < 255; ++i)
        smiles += fourBytes;
    const Case cases[] = {{std::string(1023, 'p'), true},
                          {std::string(1024, 'p'), false},
                          {euros, true},
                          {smiles, true},
                          {std::string(1023, '\xFF'), true}};
    for (const Case& test : cases) {
        SCOPED_TRACE(test.text.size());
        WireBytes reply;
        reply.U32(1).U32(0).U64(1).U64(2).U64(1700000000);
        for (int i = 0; i < 6; ++i)
            reply.U32(i);
        reply.Text8(test.text).Text8("sub").U32(1);
        Answer(CCreatePacket::kGetMachineBucketDetailsEx, reply);
        Sentinel<char16_t> purchase(kHostText);
        Sentinel<char16_t> subscription(kHostText);
        Sentinel<char16_t> expiry(20);
        uint64_t wide[3] = {};
        uint32_t words[6] = {};
        const int32_t result =
            details(channel, key.c_str(), &wide[0], &wide[1], &wide[2], &words[0], &words[1],
                    &words[2], &words[3], &words[4], expiry.data(), 20, purchase.data(),
                    subscription.data(), &words[5]);
        EXPECT_EQ(result, test.fits ? 1 : 0);
        if (!test.fits) {
            EXPECT_TRUE(purchase.Untouched());
            EXPECT_TRUE(subscription.Untouched());
            continue;
        }
        EXPECT_EQ(purchase.Text(), Utf8ToUtf16(test.text));
        EXPECT_EQ(subscription.Text(), u"sub");
        EXPECT_EQ(expiry.Text().size(), 19u);
    }
}
