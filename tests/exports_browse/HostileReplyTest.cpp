// List replies whose byte counts do not fit the payload they came in: the exports walk the
// records only within the received length and refuse such a reply whole.
#include <map>

#include "BrowseFixture.h"
#include "connection/CCreatePacket.h"
#include "support/WireBytes.h"

namespace {

// What the records' texts and fixed parts hold: only the counts matter to the exports.
constexpr BYTE kFill = 0x5A;

// A text of this many bytes.
std::string Text(size_t length)
{
    return std::string(length, static_cast<char>(kFill));
}

// One record of each list, with texts of these lengths.
std::vector<BYTE> MachineRecord(DWORD l1, DWORD l2, DWORD l3)
{
    return WireBytes()
        .Text8(Text(l1))
        .Fill(12, kFill)
        .Text8(Text(l2))
        .Fill(16, kFill)
        .Text8(Text(l3))
        .Get();
}

std::vector<BYTE> MachineExRecord(DWORD l1, DWORD l2, DWORD l3, DWORD l4)
{
    std::vector<BYTE> record = MachineRecord(l1, l2, l3);
    std::vector<BYTE> rest = WireBytes().Fill(4, kFill).Text8(Text(l4)).Fill(16, kFill).Get();
    record.insert(record.end(), rest.begin(), rest.end());
    return record;
}

std::vector<BYTE> Join(DWORD first, std::initializer_list<std::vector<BYTE>> records)
{
    std::vector<BYTE> payload = WireBytes().U32(first).Get();
    for (const std::vector<BYTE>& record : records)
        payload.insert(payload.end(), record.begin(), record.end());
    return payload;
}

// A list export with a reply of two good records.
struct ListCase {
    ListCall call;
    std::vector<BYTE> records;
};

class HostileReplyTest : public BrowseFixture {
protected:
    std::vector<ListCase> Lists()
    {
        const std::vector<BYTE> folder =
            Join(2, {WireBytes().Text8(Text(10)).Fill(52, kFill).Get(),
                     WireBytes().Text8(Text(2)).Fill(52, kFill).Get()});
        std::map<DWORD, std::vector<BYTE>> records = {
            {CCreatePacket::kMachineList,
             Join(2, {MachineRecord(6, 0, 10), MachineRecord(2, 4, 0)})},
            {CCreatePacket::kMachineListEx,
             Join(2, {MachineExRecord(2, 4, 6, 8), MachineExRecord(0, 0, 0, 0)})},
            {CCreatePacket::kGetVolumeList,
             Join(2, {WireBytes().Text8(Text(4)).Fill(16, kFill).Get(),
                      WireBytes().Text8(Text(0)).Fill(16, kFill).Get()})},
            {CCreatePacket::kGetDirectory, folder},
            {CCreatePacket::kGetRootDirectory, folder},
            {CCreatePacket::kGetVersions,
             Join(2, {WireBytes().Fill(20, kFill).Get(), WireBytes().Fill(20, kFill).Get()})},
        };
        std::vector<ListCase> lists;
        for (const ListCall& call : AllLists())
            lists.push_back({call, records.at(call.code)});
        return lists;
    }

    static std::vector<BYTE> WithCount(std::vector<BYTE> payload, DWORD count)
    {
        std::memcpy(payload.data(), &count, sizeof count);
        return payload;
    }
};

std::vector<BYTE> SearchRecord(DWORD l1, DWORD l2)
{
    return WireBytes().Fill(60, kFill).Text8(Text(l1)).Text8(Text(l2)).Get();
}

} // namespace

TEST_F(HostileReplyTest, RecordsEndingExactlyAtThePayloadEndAreHandedOver)
{
    for (const ListCase& list : Lists()) {
        SCOPED_TRACE(list.call.name);
        Answer(list.call.code, list.records);
        HostBuffer buffer = list.call.load();
        ASSERT_NE(buffer.get(), nullptr);
        EXPECT_EQ(buffer.count(), 2u);
        EXPECT_EQ(buffer.size(), list.records.size());
        EXPECT_EQ(buffer.Bytes(), list.records);
    }
}

TEST_F(HostileReplyTest, BytesBehindTheLastRecordAreNotCounted)
{
    for (const ListCase& list : Lists()) {
        SCOPED_TRACE(list.call.name);
        std::vector<BYTE> longer = list.records;
        longer.insert(longer.end(), 7, 0xEE);
        Answer(list.call.code, longer);
        HostBuffer buffer = list.call.load();
        ASSERT_NE(buffer.get(), nullptr);
        EXPECT_EQ(buffer.size(), list.records.size());
    }
}

TEST_F(HostileReplyTest, ARecordOneByteShortIsRefused)
{
    for (const ListCase& list : Lists()) {
        SCOPED_TRACE(list.call.name);
        std::vector<BYTE> shorter(list.records.begin(), list.records.end() - 1);
        Answer(list.call.code, shorter);
        HostBuffer buffer = list.call.load();
        EXPECT_EQ(buffer.get(), nullptr);
        EXPECT_EQ(buffer.count(), 0u);
    }
}

TEST_F(HostileReplyTest, ACountBeyondTheRecordsIsRefused)
{
    for (const ListCase& list : Lists()) {
        SCOPED_TRACE(list.call.name);
        for (DWORD count : {DWORD{3}, DWORD{0xFFFFFFFF}}) {
            Answer(list.call.code, WithCount(list.records, count));
            HostBuffer buffer = list.call.load();
            EXPECT_EQ(buffer.get(), nullptr);
            EXPECT_EQ(buffer.count(), 0u);
        }
    }
}

TEST_F(HostileReplyTest, ByteCountsThatWouldWrapAroundAreRefused)
{
    // The text's count word and 0xFFFFFFFC bytes make 4 GiB, which is 0 in 32 bits: a walk
    // that wrapped would find the record's fixed part inside the payload.
    Answer(CCreatePacket::kGetVolumeList,
           Join(1, {WireBytes().U32(0xFFFFFFFC).Fill(16, kFill).Get()}));
    uint32_t count = 0;
    uint32_t size = 0xDEADBEEF;
    EXPECT_EQ(exports.loadVolumes(channel, &count, &size), nullptr);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(size, 0u);
    Answer(CCreatePacket::kMachineList,
           Join(1, {WireBytes()
                        .U32(0xFFFFFFFF)
                        .Fill(12, kFill)
                        .Text8(Text(0))
                        .Fill(16, kFill)
                        .Text8(Text(0))
                        .Get()}));
    HostBuffer machines = Machines();
    EXPECT_EQ(machines.get(), nullptr);
    EXPECT_EQ(machines.size(), 0u);
}

TEST_F(HostileReplyTest, RepliesWithoutTheirLeadingWordsAreRefused)
{
    Answer(CCreatePacket::kMachineList, {1, 0});
    HostBuffer machines = Machines();
    EXPECT_EQ(machines.get(), nullptr);
    EXPECT_EQ(machines.count(), 0u);
    Answer(CCreatePacket::kSearch, WireBytes().U32(1).Get());
    uint32_t size = 0xDEADBEEF;
    EXPECT_EQ(exports.Search(channel, 1, 0, u"x", &size), nullptr);
    EXPECT_EQ(size, 0u);
}

TEST_F(HostileReplyTest, SearchRecordsAreWalkedWithinTheReply)
{
    std::vector<BYTE> good = WireBytes().U32(1).U32(2).Get();
    for (const std::vector<BYTE>& record : {SearchRecord(8, 12), SearchRecord(0, 2)})
        good.insert(good.end(), record.begin(), record.end());
    Answer(CCreatePacket::kSearch, good);
    HostBuffer hits = SearchFiles(1, u"x");
    ASSERT_NE(hits.get(), nullptr);
    EXPECT_EQ(hits.size(), 8u + (68 + 20) + (68 + 2));
    EXPECT_EQ(hits.size(), good.size());

    std::vector<BYTE> shorter(good.begin(), good.end() - 1);
    Answer(CCreatePacket::kSearch, shorter);
    uint32_t size = 0xDEADBEEF;
    EXPECT_EQ(exports.Search(channel, 1, 0, u"x", &size), nullptr);
    EXPECT_EQ(size, 0u);

    std::vector<BYTE> miscounted = good;
    miscounted[4] = 3;
    Answer(CCreatePacket::kSearch, miscounted);
    size = 0xDEADBEEF;
    EXPECT_EQ(exports.Search(channel, 1, 0, u"x", &size), nullptr);
    EXPECT_EQ(size, 0u);
}

TEST_F(HostileReplyTest, SearchResultWordDecidesBeforeTheCount)
{
    // Result 0 with a count that no payload holds: nothing is walked.
    Answer(CCreatePacket::kSearch, WireBytes().U32(0).U32(0xFFFFFFFF).Get());
    uint32_t size = 0xDEADBEEF;
    EXPECT_EQ(exports.Search(channel, 1, 0, u"x", &size), nullptr);
    EXPECT_EQ(size, 0u);
    Answer(CCreatePacket::kSearch, WireBytes().U32(1).U32(0).Get());
    HostBuffer none = SearchFiles(1, u"x");
    ASSERT_NE(none.get(), nullptr);
    EXPECT_EQ(none.size(), 8u);
}
