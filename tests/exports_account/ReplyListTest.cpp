// The lists among the account exports: the statistics and the cancellation reasons handed to
// the host as reply buffers, and the product list printed on standard output. Their counts
// and byte counts come from the server and are never trusted.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "MemberChannelTest.h"
#include "support/KelvaneLibrary.h"
#include "tools/server/CommandHandlers.h"

namespace {

using namespace ServerCommand;

// A record of the cancellation reasons (and of the products): texts of these sizes around
// fixed parts of 12 and 32 bytes.
WireBytes& ReasonRecord(WireBytes& payload, size_t size1, size_t size2, size_t size3)
{
    return payload.Text8(std::string(size1, 'a'))
        .Fill(12, 0)
        .Text8(std::string(size2, 'b'))
        .Fill(32, 0)
        .Text8(std::string(size3, 'c'));
}

WireBytes& ProductRecord(WireBytes& payload, const std::string& name, int64_t price)
{
    return payload.Text8(name)
        .U64(static_cast<ULONGLONG>(price))
        .U32(0)
        .Text8("text two")
        .Fill(32, 0)
        .Text8("text three");
}

class ReplyLists : public MemberChannelTest {
protected:
    // Runs the product list and gives what it printed.
    std::string PrintedProducts(int32_t* result, Csocketclient* on, uint32_t needAuth = 0)
    {
        testing::internal::CaptureStdout();
        *result = EXPORT(ProductList)(on, u"list", 5, needAuth);
        std::fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }
};

TEST_F(ReplyLists, MemberStatsAreHandedOverWithTheirSize)
{
    server.Store([](ServiceState& state) {
        state.member.stats = {{1, 100, 10}, {2, 200, 20}, {3, 300, 30}};
    });
    uint32_t count = 0;
    uint32_t size = 0;
    void* buffer = EXPORT(GetMemberStats)(channel, &count, &size);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(size, 96u);
    ULONGLONG lastBytes = 0;
    std::memcpy(&lastBytes, static_cast<BYTE*>(buffer) + 24 + 2 * 24 + 8, sizeof lastBytes);
    EXPECT_EQ(lastBytes, 300u);
    EXPORT(FreeBuffer)(buffer);

    server.Store([](ServiceState& state) { state.member.stats.clear(); });
    buffer = EXPORT(GetMemberStats)(channel, &count, &size);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(size, 24u);
    EXPORT(FreeBuffer)(buffer);
}

TEST_F(ReplyLists, MemberStatsWithoutResultOrWithAnOverlongCountGiveNothing)
{
    uint32_t count = 77;
    uint32_t size = 77;
    server.AnswerWith(kGetMemberStats, WireBytes().U32(0).Fill(16, 0).U32(0).Get());
    EXPECT_EQ(EXPORT(GetMemberStats)(channel, &count, &size), nullptr);
    server.AnswerWith(kGetMemberStats, WireBytes().U32(1).Fill(16, 0).U32(4).Fill(3 * 24, 0).Get());
    EXPECT_EQ(EXPORT(GetMemberStats)(channel, &count, &size), nullptr);
    server.AnswerWith(kGetMemberStats, WireBytes().U32(1).Fill(12, 0).Get());
    EXPECT_EQ(EXPORT(GetMemberStats)(channel, &count, &size), nullptr);
    server.AnswerWith(kGetMemberStats, WireBytes().U32(1).Fill(16, 0).U32(0xFFFFFFFF).Get());
    EXPECT_EQ(EXPORT(GetMemberStats)(channel, &count, &size), nullptr);
    EXPECT_EQ(count, 77u);
    EXPECT_EQ(size, 77u);
    EXPECT_EQ(EXPORT(GetMemberStats)(nullptr, &count, &size), nullptr);
}

TEST_F(ReplyLists, CancellationReasonsSizeIsTheSumOfTheirRecords)
{
    WireBytes payload;
    payload.U32(1).U32(6).U32(2);
    ReasonRecord(payload, 4, 0, 2);
    ReasonRecord(payload, 0, 6, 0);
    server.AnswerWith(kCancellationReasons, payload.Get());
    uint32_t count = 0;
    uint32_t size = 0;
    uint32_t status = 0;
    void* buffer = EXPORT(CancellationReasons)(channel, u"why", 1, &count, &size, &status);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(size, 136u);
    EXPECT_EQ(status, 6u);
    EXPECT_EQ(std::memcmp(buffer, payload.Get().data(), payload.Get().size()), 0);
    EXPORT(FreeBuffer)(buffer);
}

TEST_F(ReplyLists, CancellationReasonsFromTheStore)
{
    server.Store([](ServiceState& state) {
        state.reasons = {{1, u"Too expensive", u"", u"Offer"}, {2, u"Moving", u"Gone", u""}};
    });
    uint32_t count = 0;
    uint32_t size = 0;
    uint32_t status = 9;
    void* buffer = EXPORT(CancellationReasons)(channel, u"", 0, &count, &size, &status);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(size, 12u + 56 + 26 + 0 + 10 + 56 + 12 + 8 + 0);
    EXPECT_EQ(status, 0u);
    EXPORT(FreeBuffer)(buffer);
}

TEST_F(ReplyLists, CancellationReasonsRefusals)
{
    uint32_t count = 5;
    uint32_t size = 5;
    uint32_t status = 5;
    EXPECT_EQ(EXPORT(CancellationReasons)(nullptr, u"", 0, &count, &size, &status), nullptr);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(status, 5u);

    server.AnswerWith(kCancellationReasons, WireBytes().U32(1).U32(0).U32(0).Get());
    size = 5;
    EXPECT_EQ(EXPORT(CancellationReasons)(channel, u"", 0, &count, &size, &status), nullptr);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(size, 0u);

    server.AnswerWith(kCancellationReasons, WireBytes().U32(0).U32(8).Get());
    count = 5;
    EXPECT_EQ(EXPORT(CancellationReasons)(channel, u"", 0, &count, &size, &status), nullptr);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(status, 8u);

    // The second record's last text claims more bytes than the reply holds.
    WireBytes overrun;
    overrun.U32(1).U32(0).U32(2);
    ReasonRecord(overrun, 4, 0, 2);
    overrun.Text8("abc").Fill(12, 0).Text8("").Fill(32, 0).U32(1000).Fill(10, 0);
    server.AnswerWith(kCancellationReasons, overrun.Get());
    EXPECT_EQ(EXPORT(CancellationReasons)(channel, u"", 0, &count, &size, &status), nullptr);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(size, 0u);
}

TEST_F(ReplyLists, CancellationReasonsNeedAConnectedChannel)
{
    server.Stop();
    uint32_t word = 0;
    EXPECT_EQ(EXPORT(DeleteMember)(channel, u"bob"), 0);
    uint32_t count = 5;
    uint32_t size = 5;
    EXPECT_EQ(EXPORT(CancellationReasons)(channel, u"", 0, &count, &size, &word), nullptr);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(size, 0u);
    int32_t result = 1;
    EXPECT_EQ(PrintedProducts(&result, channel), "");
    EXPECT_EQ(result, 0);
}

TEST_F(ReplyLists, ProductListPrintsOneLinePerProduct)
{
    server.Store([](ServiceState& state) {
        state.products = {{1, "Disk", 1999, "A disk", 0, 12, "USD"},
                          {2, "Gr\xc3\xbcn", -5, "", 0, 1, ""}};
    });
    int32_t result = 0;
    EXPECT_EQ(PrintedProducts(&result, channel),
              "Products> name[Disk] price[1999]\nProducts> name[Gr\xc3\xbcn] price[-5]\n");
    EXPECT_EQ(result, 1);
    std::vector<RecordedRequest> requests = server.Server().Log().Requests(kProductList);
    ASSERT_EQ(requests.size(), 1u);
    const std::vector<BYTE>& sent = requests[0].payload;
    ASSERT_GE(sent.size(), 12u);
    EXPECT_EQ(sent[4], 5);
    EXPECT_EQ(sent[8], 0);
}

TEST_F(ReplyLists, ProductListEdgeCases)
{
    int32_t result = 0;
    EXPECT_EQ(PrintedProducts(&result, nullptr), "");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(PrintedProducts(&result, channel), "");
    EXPECT_EQ(result, 1);

    Csocketclient* connected = server.OpenNoUser();
    ASSERT_NE(connected, nullptr);
    size_t sent = server.RequestCount(kProductList);
    EXPECT_EQ(PrintedProducts(&result, connected, 1), "");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(server.RequestCount(kProductList), sent);
}

TEST_F(ReplyLists, ProductListRefusesNamesPastItsBufferAndRecordsPastTheReply)
{
    WireBytes longName;
    longName.U32(1).U32(0).U32(2);
    ProductRecord(longName, "Disk", 1);
    ProductRecord(longName, std::string(1024, 'n'), 2);
    server.AnswerWith(kProductList, longName.Get());
    int32_t result = 1;
    EXPECT_EQ(PrintedProducts(&result, channel), "");
    EXPECT_EQ(result, 0);

    WireBytes fitting;
    fitting.U32(1).U32(0).U32(1);
    ProductRecord(fitting, std::string(1023, 'n'), 2);
    server.AnswerWith(kProductList, fitting.Get());
    EXPECT_EQ(PrintedProducts(&result, channel),
              "Products> name[" + std::string(1023, 'n') + "] price[2]\n");
    EXPECT_EQ(result, 1);

    WireBytes overrun;
    overrun.U32(1).U32(0).U32(3);
    ProductRecord(overrun, "Disk", 1);
    server.AnswerWith(kProductList, overrun.Get());
    EXPECT_EQ(PrintedProducts(&result, channel), "");
    EXPECT_EQ(result, 0);
}

} // namespace
