// The exports that hand a server reply to the host whole, fed with seeded mutations of
// well-formed replies (cuts, flipped bytes, byte counts and item counts set to values that
// wrap 32-bit sums, inserted and removed runs). Whatever arrives, an export either refuses
// the reply (NULL, count 0) or hands over a buffer whose size covers exactly the records its
// count announces, all inside what was received, with the bytes unchanged. The records are
// walked here from the wire format, independently of the library.
#include <cstring>
#include <functional>
#include <optional>

#include <gtest/gtest.h>

#include "audit/Hostile.h"
#include "audit/LibraryChannel.h"
#include "connection/CCreatePacket.h"

namespace {

constexpr int kText = -1;
using Layout = std::vector<int>;

// Record layouts as the wire format gives them: a fixed run of n bytes, or kText (a u32 byte
// count and that many bytes).
const Layout kVersion = {20};
const Layout kSearch = {60, kText, kText};
const Layout kMachine = {kText, 12, kText, 16, kText};
const Layout kMachineEx = {kText, 12, kText, 16, kText, 4, kText, 16};
const Layout kVolume = {kText, 16};
const Layout kFolder = {kText, 52};
const Layout kReason = {kText, 12, kText, 32, kText};
const Layout kStat = {24};

constexpr uint32_t kIterations = 150;

// The end of count records from start, or nothing when one runs past the bytes.
std::optional<uint32_t> WalkRecords(const std::vector<BYTE>& bytes, uint64_t start,
                                    uint32_t count, const Layout& layout)
{
    uint64_t position = start;
    for (uint32_t record = 0; record < count; ++record) {
        for (int part : layout) {
            if (part == kText) {
                std::optional<uint32_t> length = WordIn(bytes, position);
                if (!length)
                    return std::nullopt;
                position += 4 + uint64_t{*length};
            } else {
                position += static_cast<uint64_t>(part);
            }
            if (position > bytes.size())
                return std::nullopt;
        }
    }
    return static_cast<uint32_t>(position);
}

// A well-formed reply: header words, then count records of the layout with random texts
// (0 to 40 bytes) and random fixed parts. Gives the offsets of every count word.
std::vector<BYTE> WellFormed(Mutator& random, const std::vector<uint32_t>& header,
                             size_t countWord, const Layout& layout,
                             std::vector<size_t>* countOffsets)
{
    const uint32_t count = random.Below(5);
    std::vector<BYTE> bytes;
    for (size_t i = 0; i < header.size(); ++i) {
        const uint32_t word = i == countWord ? count : header[i];
        for (int b = 0; b < 4; ++b)
            bytes.push_back(static_cast<BYTE>(word >> (8 * b)));
    }
    countOffsets->push_back(4 * countWord);
    for (uint32_t record = 0; record < count; ++record) {
        for (int part : layout) {
            uint32_t length = static_cast<uint32_t>(part);
            if (part == kText) {
                length = random.Below(41);
                countOffsets->push_back(bytes.size());
                for (int b = 0; b < 4; ++b)
                    bytes.push_back(static_cast<BYTE>(length >> (8 * b)));
                for (uint32_t i = 0; i < length; ++i)
                    bytes.push_back(static_cast<BYTE>('a' + random.Below(26)));
                continue;
            }
            for (uint32_t i = 0; i < length; ++i)
                bytes.push_back(static_cast<BYTE>(random.Word()));
        }
    }
    return bytes;
}

// A damaged copy: most often a count word of the reply set to a hostile value, else random
// damage anywhere.
std::vector<BYTE> Damaged(Mutator& random, std::vector<BYTE> bytes,
                          const std::vector<size_t>& countOffsets)
{
    if (random.Below(2) == 0 && !countOffsets.empty()) {
        random.PutHostileWord(bytes,
                              countOffsets[random.Below(static_cast<uint32_t>(countOffsets.size()))]);
        return bytes;
    }
    return random.Mutate(std::move(bytes));
}

// What an export handed to the host.
struct Handed {
    void* buffer = nullptr;
    uint32_t count = 0;
    uint32_t size = 0;
};

class ListExportFuzz : public LibraryChannel {
protected:
    void Release(void* buffer) { EXPORT(FreeBuffer)(buffer); }

    // A reply that was no frame at all drops the connection, and some of these exports run no
    // session check of their own: a list export that does connects and logs in again.
    void Reconnect()
    {
        uint32_t count = 0;
        uint32_t size = 0;
        Release(EXPORT(loadVolumes)(channel, &count, &size));
    }

    // Sends damaged replies of a list whose records start at recordsOffset, with the count in
    // the header word countWord, and checks what the export hands over.
    void Fuzz(uint32_t seed, DWORD code, const std::vector<uint32_t>& header, size_t countWord,
              uint32_t recordsOffset, const Layout& layout,
              const std::function<Handed()>& call)
    {
        Mutator random(seed);
        uint32_t handedOver = 0;
        for (uint32_t round = 0; round < kIterations; ++round) {
            std::vector<size_t> countOffsets;
            const std::vector<BYTE> whole =
                WellFormed(random, header, countWord, layout, &countOffsets);
            const std::vector<BYTE> sent =
                round == 0 ? whole : Damaged(random, whole, countOffsets);
            SCOPED_TRACE(testing::Message() << "round " << round << ", " << sent.size()
                                            << " bytes");
            Answer(code, sent);
            Reconnect();
            const Handed handed = call();
            Check(sent, countWord, recordsOffset, layout, handed);
            handedOver += handed.buffer != nullptr ? 1 : 0;
            Release(handed.buffer);
            if (round == 0 && WordIn(sent, 4 * countWord) != 0u) {
                ASSERT_NE(handed.buffer, nullptr) << "a well-formed reply must be handed over";
            }
        }
        // The damage must reach both outcomes, or the rounds prove little.
        EXPECT_GT(handedOver, kIterations / 20);
        EXPECT_LT(handedOver, kIterations - kIterations / 20);
    }

    static void Check(const std::vector<BYTE>& sent, size_t countWord, uint32_t recordsOffset,
                      const Layout& layout, const Handed& handed)
    {
        std::optional<uint32_t> count = WordIn(sent, 4 * countWord);
        std::optional<uint32_t> end;
        if (count && recordsOffset <= sent.size())
            end = WalkRecords(sent, recordsOffset, *count, layout);
        if (handed.buffer == nullptr) {
            EXPECT_EQ(handed.count, 0u);
            return;
        }
        ASSERT_TRUE(end.has_value()) << "records past the end of the reply were handed over";
        EXPECT_EQ(handed.count, *count);
        EXPECT_EQ(handed.size, *end);
        ASSERT_LE(handed.size, sent.size());
        EXPECT_EQ(std::memcmp(handed.buffer, sent.data(), handed.size), 0);
    }

};

// Runs a list export of the form (channel, &count, &size, ...).
template <typename Export>
std::function<Handed()> ListCall(Csocketclient* channel, Export load)
{
    return [channel, load] {
        Handed handed{nullptr, 0xA5A5A5A5u, 0};
        handed.buffer = load(channel, &handed.count, &handed.size);
        return handed;
    };
}

}  // namespace

TEST_F(ListExportFuzz, Machines)
{
    auto load = EXPORT(loadMachines);
    Fuzz(101, CCreatePacket::kMachineList, {0}, 0, 4, kMachine, ListCall(channel, load));
}

TEST_F(ListExportFuzz, MachinesEx)
{
    auto load = EXPORT(loadMachinesEx);
    Fuzz(102, CCreatePacket::kMachineListEx, {0}, 0, 4, kMachineEx, ListCall(channel, load));
}

TEST_F(ListExportFuzz, Volumes)
{
    auto load = EXPORT(loadVolumes);
    Fuzz(103, CCreatePacket::kGetVolumeList, {0}, 0, 4, kVolume, ListCall(channel, load));
}

TEST_F(ListExportFuzz, FoldersByCodeAndRoot)
{
    auto byCode = EXPORT(loadFolderByFolderCode);
    Fuzz(104, CCreatePacket::kGetDirectory, {0}, 0, 4, kFolder, [this, byCode] {
        Handed handed{nullptr, 0xA5A5A5A5u, 0};
        handed.buffer = byCode(channel, &handed.count, &handed.size, 1, 0, 2, 0, 3, 0);
        return handed;
    });
    auto root = EXPORT(loadRootFolder);
    Fuzz(105, CCreatePacket::kGetRootDirectory, {0}, 0, 4, kFolder, [this, root] {
        Handed handed{nullptr, 0xA5A5A5A5u, 0};
        handed.buffer = root(channel, &handed.count, &handed.size, 1, 0, 2, 0);
        return handed;
    });
}

TEST_F(ListExportFuzz, Versions)
{
    auto load = EXPORT(loadVersion);
    Fuzz(106, CCreatePacket::kGetVersions, {0}, 0, 4, kVersion, [this, load] {
        Handed handed{nullptr, 0xA5A5A5A5u, 0};
        handed.buffer = load(channel, &handed.count, &handed.size, 1, 0, 2, 0, 3, 0, 4, 0);
        return handed;
    });
}

TEST_F(ListExportFuzz, Search)
{
    auto search = EXPORT(Search);
    Fuzz(107, CCreatePacket::kSearch, {1, 0}, 1, 8, kSearch, [this, search] {
        Handed handed;
        handed.buffer = search(channel, 1, 0, u"*.txt", &handed.size);
        // The count travels inside the buffer.
        if (handed.buffer != nullptr)
            std::memcpy(&handed.count, static_cast<BYTE*>(handed.buffer) + 4, 4);
        return handed;
    });
}

TEST_F(ListExportFuzz, CancellationReasons)
{
    auto reasons = EXPORT(CancellationReasons);
    Fuzz(108, CCreatePacket::kCancellationReasons, {1, 0, 0}, 2, 12, kReason, [this, reasons] {
        Handed handed{nullptr, 0, 0};
        uint32_t status = 0;
        handed.buffer = reasons(channel, u"why", 1, &handed.count, &handed.size, &status);
        return handed;
    });
}

TEST_F(ListExportFuzz, MemberStats)
{
    auto stats = EXPORT(GetMemberStats);
    Fuzz(109, CCreatePacket::kGetMemberStats, {1, 0, 0, 0, 0, 0}, 5, 24, kStat, [this, stats] {
        Handed handed{nullptr, 0, 0};
        handed.buffer = stats(channel, &handed.count, &handed.size);
        return handed;
    });
}

TEST_F(ListExportFuzz, ProductListNeverReadsARecordPastTheReply)
{
    auto products = EXPORT(ProductList);
    Mutator random(110);
    for (uint32_t round = 0; round < kIterations; ++round) {
        std::vector<size_t> countOffsets;
        const std::vector<BYTE> whole =
            WellFormed(random, {1, 0, 0}, 2, kReason, &countOffsets);
        const std::vector<BYTE> sent = round == 0 ? whole : Damaged(random, whole, countOffsets);
        SCOPED_TRACE(round);
        Answer(CCreatePacket::kProductList, sent);
        Reconnect();
        const int32_t printed = products(channel, u"plans", 1, 1);
        std::optional<uint32_t> result = WordIn(sent, 0);
        std::optional<uint32_t> count = WordIn(sent, 8);
        std::optional<uint32_t> end;
        if (count && sent.size() >= 12)
            end = WalkRecords(sent, 12, *count, kReason);
        if (printed != 0) {
            EXPECT_TRUE(result && *result != 0 && end.has_value())
                << "products were read from a reply that does not hold them";
        }
        if (round == 0) {
            EXPECT_EQ(printed, 1);
        }
    }
}
