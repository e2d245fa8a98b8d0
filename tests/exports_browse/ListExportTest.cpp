// The browsing exports against a stand-in server filled through its store: what each hands
// to the host (count, byte size, the server's bytes unchanged), empty lists, failed commands,
// NULL handles and the release of the buffers.
#include <cstdlib>
#include <utility>

#include "BrowseFixture.h"
#include "connection/CCreatePacket.h"
#include "tools/server/RecordWriter.h"

namespace {

constexpr uint32_t kUntouched = 0xDEADBEEF;

// The payload that the server sends for a list of these records.
template <typename Records, typename Write>
std::vector<BYTE> ListBytes(const Records& records, Write write)
{
    ReplyWriter reply;
    reply.PutU32(static_cast<DWORD>(records.size()));
    RecordWriter writer(reply);
    for (const auto& record : records)
        write(writer, record);
    return reply.Payload();
}

StoredMachine Machine(ULONGLONG id, std::u16string name, std::u16string system,
                      std::u16string hostName)
{
    StoredMachine machine;
    machine.id = id;
    machine.name = std::move(name);
    machine.system = std::move(system);
    machine.hostName = std::move(hostName);
    return machine;
}

class ListExportTest : public BrowseFixture {};

} // namespace

TEST_F(ListExportTest, MachineListSizeAddsEachRecordsTexts)
{
    AddMachine(Machine(1, u"abc", u"", u"hello"));
    AddMachine(Machine(2, u"x", u"ab", u""));
    HostBuffer list = Machines();
    ASSERT_NE(list.get(), nullptr);
    EXPECT_EQ(list.count(), 2u);
    EXPECT_EQ(list.size(), 4u + (40 + 16) + (40 + 6));
    std::vector<StoredMachine> machines =
        Store([](ServiceState& state) { return state.machines; });
    EXPECT_EQ(list.Bytes(), ListBytes(machines, [](RecordWriter& writer, const auto& machine) {
                  writer.Machine(machine, false);
              }));
}

TEST_F(ListExportTest, ExtendedMachineListCarriesTheFourthText)
{
    FillOffice();
    AddMachine(Machine(7, u"Laptop", u"Linux", u"lap"));
    HostBuffer list = MachinesEx();
    ASSERT_NE(list.get(), nullptr);
    EXPECT_EQ(list.count(), 2u);
    // "Office PC", "Windows 10", "office", "Zürich"; "Laptop", "Linux", "lap", "".
    EXPECT_EQ(list.size(), 4u + (64 + 18 + 20 + 12 + 12) + (64 + 12 + 10 + 6 + 0));
    std::vector<StoredMachine> machines =
        Store([](ServiceState& state) { return state.machines; });
    EXPECT_EQ(list.Bytes(), ListBytes(machines, [](RecordWriter& writer, const auto& machine) {
                  writer.Machine(machine, true);
              }));
}

TEST_F(ListExportTest, VolumesOfTheActiveMachine)
{
    FillOffice();
    Store([](ServiceState& state) {
        StoredVolume data;
        data.code = 0x7000000002ull;
        data.label = u"Data";
        state.machines[0].volumes.push_back(data);
    });
    HostBuffer list = Volumes();
    ASSERT_NE(list.get(), nullptr);
    EXPECT_EQ(list.count(), 2u);
    EXPECT_EQ(list.size(), 4u + (20 + 4) + (20 + 8));
    std::vector<StoredVolume> volumes =
        Store([](ServiceState& state) { return state.machines[0].volumes; });
    EXPECT_EQ(list.Bytes(), ListBytes(volumes, [](RecordWriter& writer, const auto& volume) {
                  writer.Volume(volume);
              }));
}

TEST_F(ListExportTest, RootFolderIsAskedForByASingleBackslash)
{
    FillOffice();
    HostBuffer list = RootFolder(kMachine, kVolume);
    ASSERT_NE(list.get(), nullptr);
    EXPECT_EQ(list.count(), 2u);
    // "docs", "boot.ini".
    EXPECT_EQ(list.size(), 4u + (56 + 8) + (56 + 16));
    std::vector<StoredEntry> entries =
        Store([](ServiceState& state) { return state.machines[0].volumes[0].folders[kRoot].entries; });
    EXPECT_EQ(list.Bytes(), ListBytes(entries, [](RecordWriter& writer, const auto& entry) {
                  writer.Entry(entry);
              }));
    std::vector<std::vector<BYTE>> sent = Sent(CCreatePacket::kGetRootDirectory);
    ASSERT_EQ(sent.size(), 1u);
    const std::vector<BYTE> tail = {1, 0, 0, 0, '\\'};
    ASSERT_GE(sent[0].size(), tail.size());
    EXPECT_EQ(std::vector<BYTE>(sent[0].end() - 5, sent[0].end()), tail);
}

TEST_F(ListExportTest, FolderByCodeWithSixtyFourBitCodes)
{
    FillOffice();
    HostBuffer list = Folder(kMachine, kVolume, kDocs);
    ASSERT_NE(list.get(), nullptr);
    EXPECT_EQ(list.count(), 3u);
    // "report.txt", "notes.md", "empty".
    EXPECT_EQ(list.size(), 4u + (56 + 20) + (56 + 16) + (56 + 10));
}

TEST_F(ListExportTest, EmptyFoldersAreHandedOverWithTheirCountWord)
{
    FillOffice();
    for (ULONGLONG folder : {kEmpty, ULONGLONG{999}}) {
        uint32_t count = kUntouched;
        uint32_t size = kUntouched;
        void* buffer = exports.loadFolderByFolderCode(channel, &count, &size, Low(kMachine),
                                                      High(kMachine), Low(kVolume), High(kVolume),
                                                      Low(folder), High(folder));
        ASSERT_NE(buffer, nullptr);
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(size, 4u);
        EXPECT_EQ(*static_cast<const uint32_t*>(buffer), 0u);
        MarkBuffer(buffer);
        exports.FreeBuffer(buffer);
        EXPECT_TRUE(IsReleased(buffer));
    }
    HostBuffer root = RootFolder(kMachine, 0x7000000009ull);
    ASSERT_NE(root.get(), nullptr);
    EXPECT_EQ(root.count(), 0u);
    EXPECT_EQ(root.size(), 4u);
}

TEST_F(ListExportTest, ThreeVersionsMakeSixtyFourBytes)
{
    FillOffice();
    HostBuffer list = Versions(kMachine, kVolume, kDocs, kReport);
    ASSERT_NE(list.get(), nullptr);
    EXPECT_EQ(list.count(), 3u);
    EXPECT_EQ(list.size(), 64u);
}

TEST_F(ListExportTest, EmptyListsGiveNullAndClearCountAndSize)
{
    preset = kUntouched;
    for (const ListCall& list : AllLists()) {
        if (list.code == CCreatePacket::kGetDirectory ||
            list.code == CCreatePacket::kGetRootDirectory)
            continue;
        SCOPED_TRACE(list.name);
        HostBuffer empty = list.load();
        EXPECT_EQ(empty.get(), nullptr);
        EXPECT_EQ(empty.count(), 0u);
        // An empty version list leaves the size as the host had it.
        EXPECT_EQ(empty.size(), list.code == CCreatePacket::kGetVersions ? kUntouched : 0u);
    }
}

TEST_F(ListExportTest, SearchHandsOverItsResultWordAndCount)
{
    FillOffice();
    HostBuffer hits = SearchFiles(kMachine, u"o");
    ASSERT_NE(hits.get(), nullptr);
    // "docs", "boot.ini", "report.txt", "notes.md", each with its folder's path.
    EXPECT_EQ(hits.count(), 4u);
    EXPECT_EQ(hits.size(), 8u + (68 + 8 + 2) + (68 + 16 + 2) + (68 + 20 + 12) + (68 + 16 + 12));

    HostBuffer none = SearchFiles(kMachine, u"nothing like this");
    ASSERT_NE(none.get(), nullptr);
    EXPECT_EQ(none.count(), 0u);
    EXPECT_EQ(none.size(), 8u);

    uint32_t size = kUntouched;
    EXPECT_EQ(exports.Search(channel, 12345, 0, u"o", &size), nullptr);
    EXPECT_EQ(size, 0u);
    size = kUntouched;
    EXPECT_EQ(exports.Search(channel, Low(kMachine), High(kMachine), nullptr, &size), nullptr);
    EXPECT_EQ(size, 0u);
}

TEST_F(ListExportTest, FailedCommandsClearCountWhateverItHeld)
{
    FillOffice();
    server.Stop();
    preset = kUntouched;
    for (const ListCall& list : AllLists()) {
        SCOPED_TRACE(list.name);
        HostBuffer failed = list.load();
        EXPECT_EQ(failed.get(), nullptr);
        EXPECT_EQ(failed.count(), 0u);
        EXPECT_EQ(failed.size(), list.code == CCreatePacket::kGetVersions ? kUntouched : 0u);
    }
    HostBuffer hits = SearchFiles(kMachine, u"o");
    EXPECT_EQ(hits.get(), nullptr);
    EXPECT_EQ(hits.size(), 0u);
}

TEST_F(ListExportTest, NullHandlesReachNoChannel)
{
    Csocketclient* open = std::exchange(channel, nullptr);
    preset = kUntouched;
    for (const ListCall& list : AllLists()) {
        SCOPED_TRACE(list.name);
        HostBuffer none = list.load();
        EXPECT_EQ(none.get(), nullptr);
        EXPECT_EQ(none.count(), kUntouched);
        // These two do not clear the size before they look at the handle.
        const bool keepsSize = list.code == CCreatePacket::kGetVersions ||
                               list.code == CCreatePacket::kGetRootDirectory;
        EXPECT_EQ(none.size(), keepsSize ? kUntouched : 0u);
        EXPECT_TRUE(Sent(list.code).empty());
    }
    HostBuffer hits = SearchFiles(kMachine, u"o");
    EXPECT_EQ(hits.get(), nullptr);
    EXPECT_EQ(hits.size(), 0u);
    channel = open;
}

TEST_F(ListExportTest, NullCountAndSizePointersReceiveNothing)
{
    FillOffice();
    void* buffer = exports.loadVolumes(channel, nullptr, nullptr);
    ASSERT_NE(buffer, nullptr);
    exports.FreeBuffer(buffer);
    buffer = exports.Search(channel, Low(kMachine), High(kMachine), u"o", nullptr);
    ASSERT_NE(buffer, nullptr);
    exports.FreeBuffer(buffer);
}

TEST_F(ListExportTest, FreeBufferReleasesOnlyWholeReplyBuffers)
{
    FillOffice();
    uint32_t count = 0;
    uint32_t size = 0;
    void* buffer = exports.loadVolumes(channel, &count, &size);
    ASSERT_NE(buffer, nullptr);
    exports.FreeBuffer(nullptr);
    exports.FreeBuffer(static_cast<BYTE*>(buffer) + 4);
    EXPECT_TRUE(IsMapped(buffer));
    EXPECT_EQ(*static_cast<const uint32_t*>(buffer), count);
    void* heap = std::malloc(64);
    exports.FreeBuffer(heap);
    std::free(heap);
    MarkBuffer(buffer);
    exports.FreeBuffer(buffer);
    EXPECT_TRUE(IsReleased(buffer));
}

TEST_F(ListExportTest, LastRestoreInfoNeedsALoggedInChannel)
{
    Store([](ServiceState& state) {
        state.lastRestore[0] = 7;
        state.lastRestore[1] = 1ull << 40;
        state.lastRestore[2] = 9;
    });
    uint64_t values[3] = {};
    uint32_t status = kUntouched;
    EXPECT_EQ(exports.LastRestoreInfo(channel, &values[0], &values[1], &values[2], &status), 1);
    EXPECT_EQ(values[0], 7u);
    EXPECT_EQ(values[1], 1ull << 40);
    EXPECT_EQ(values[2], 9u);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(exports.LastRestoreInfo(channel, nullptr, nullptr, nullptr, nullptr), 1);

    Csocketclient* anonymous =
        library.OpenChannelNoUser(server.Address16().c_str(), 0, u"", 0, u"", u"");
    ASSERT_NE(anonymous, nullptr);
    uint64_t untouched[3] = {kUntouched, kUntouched, kUntouched};
    status = kUntouched;
    EXPECT_EQ(exports.LastRestoreInfo(anonymous, &untouched[0], &untouched[1], &untouched[2],
                                      &status),
              0);
    EXPECT_EQ(untouched[0], kUntouched);
    EXPECT_EQ(status, kUntouched);
    library.CloseChannel(anonymous);
    EXPECT_EQ(exports.LastRestoreInfo(nullptr, &values[0], &values[1], &values[2], &status), 0);
    EXPECT_EQ(Sent(CCreatePacket::kLastRestoreInfo).size(), 2u);
}

TEST_F(ListExportTest, CheckFileOnADriveWithoutVolumeCodeSendsNothing)
{
    uint64_t values[3] = {kUntouched, kUntouched, kUntouched};
    uint32_t result = kUntouched;
    uint32_t status = kUntouched;
    EXPECT_EQ(exports.CheckFile(channel, u"C:\\docs\\report.txt", 1, 2, 3, 4, &values[0],
                                &values[1], &values[2], &result, &status),
              0);
    EXPECT_EQ(exports.CheckFile(channel, nullptr, 1, 2, 3, 4, &values[0], &values[1],
                                &values[2], &result, &status),
              0);
    EXPECT_EQ(exports.CheckFile(nullptr, u"C:\\a.txt", 1, 2, 3, 4, &values[0], &values[1],
                                &values[2], &result, &status),
              0);
    EXPECT_EQ(result, kUntouched);
    EXPECT_EQ(status, kUntouched);
    EXPECT_TRUE(Sent(CCreatePacket::kCheckFile).empty());
}
