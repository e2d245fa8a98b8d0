// RestoreHybridFile through the exported function: the server's copy of a file downloaded to
// a temporary file beside the block file, the block file's records applied onto it, and the
// result moved to its destination; and every way in which that fails.
#include <algorithm>
#include <chrono>

#include "RestoreFixture.h"
#include "support/BlockFileWriter.h"
#include "support/ClosedFolder.h"

namespace {

class HybridRestoreTest : public RestoreFixture {
protected:
    void SetUp() override
    {
        RestoreFixture::SetUp();
        std::filesystem::create_directory(folder);
    }

    // The server's copy, and a block file that turns it into `version`: the copy resized to
    // the version's size, then three written records and one that is only verified. The
    // version holds at least 0x20000 bytes.
    void Prepare(const std::string& copy, size_t versionSize,
                 DownloadHandlers::Form form = DownloadHandlers::Form::BySize)
    {
        Serve(copy, form);
        version = copy;
        version.resize(versionSize, '\0');
        const std::string first = "first change";
        const std::string large = Noise(0x10000 + 5, 4);
        const std::string last = "the version's last bytes";
        BlockFileWriter blocks(versionSize, 4);
        blocks.Write(100, first);
        blocks.Record(3, 0, "only verified", BlockFileWriter::Crc("only verified"));
        blocks.Write(versionSize / 3, large);
        blocks.Write(versionSize - last.size(), last);
        blocks.Save(folder / "blocks.dat");
        version.replace(100, first.size(), first);
        version.replace(versionSize / 3, large.size(), large);
        version.replace(versionSize - last.size(), last.size(), last);
    }

    int32_t Restore(const std::u16string& blockFile = u"blocks.dat")
    {
        return RestoreHybridFile(folder.u16string(), blockFile, destination.u16string());
    }

    std::filesystem::path folder = dir.path() / "restore";
    std::filesystem::path temporary = folder / kTemporaryName;
    std::filesystem::path destination = dir.path() / "version.bin";
    std::string version;
};

// A folder, under the test's folder, whose path is exactly `length` characters long.
std::filesystem::path FolderOfLength(const std::filesystem::path& base, size_t length)
{
    std::filesystem::path folder = base;
    while (folder.string().size() < length) {
        size_t left = length - folder.string().size() - 1;
        // Leave no remainder too short for a component of its own.
        size_t component = left > 200 ? std::min<size_t>(150, left - 1) : left;
        folder /= std::string(component, 'f');
    }
    std::filesystem::create_directories(folder);
    return folder;
}

} // namespace

TEST_F(HybridRestoreTest, RebuildsAVersionLongerThanTheServersCopy)
{
    Prepare(Noise(200000, 2), 230000);
    // While the server's copy arrives, it is written into a file without a name: the folder
    // holds only the block file, and the temporary name is taken only by the complete copy.
    std::vector<std::string> namesDuringDownload;
    host.decide = [&](const HostCallback::Event& event) {
        if (event.code == kDataDone) {
            for (const auto& entry : std::filesystem::directory_iterator(folder))
                namesDuringDownload.push_back(entry.path().filename().string());
        }
        return 0;
    };
    ASSERT_EQ(Restore(), 1);
    EXPECT_EQ(namesDuringDownload, std::vector<std::string>{"blocks.dat"});
    EXPECT_TRUE(Read(destination) == version);
    EXPECT_FALSE(Exists(temporary));
    EXPECT_EQ(Read(folder / "blocks.dat").size(), 44u + 4 * 28 + 12 + 13 + 0x10005 + 24);
}

TEST_F(HybridRestoreTest, RebuildsAShorterVersionFromACachedTransfer)
{
    Prepare(Noise(3 * kChunk + 77, 5), 2 * kChunk, DownloadHandlers::Form::Cached);
    ASSERT_EQ(Restore(), 1);
    EXPECT_TRUE(Read(destination) == version);
    EXPECT_EQ(files.PacketRequests().size(), 4u);
    for (const auto& request : files.PacketRequests())
        EXPECT_EQ(request.chunkSize, kChunk);
    EXPECT_FALSE(Exists(temporary));
}

TEST_F(HybridRestoreTest, UnreadableBlockFileAsksTheServerNothing)
{
    Serve("copy");
    EXPECT_EQ(Restore(u"absent.dat"), 0);
    BlockFileWriter(4, 0).Save(folder / "short.dat");
    std::filesystem::resize_file(folder / "short.dat", 43);
    EXPECT_EQ(Restore(u"short.dat"), 0);
    EXPECT_EQ(RestoreHybridFile((dir.path() / "no-folder").u16string(), u"blocks.dat",
                                destination.u16string()),
              0);
    EXPECT_EQ(FileRequests(), 0u);
    EXPECT_TRUE(host.Events().empty());
    EXPECT_FALSE(Exists(destination));
}

TEST_F(HybridRestoreTest, RefusedDownloadLeavesNoTemporaryFile)
{
    BlockFileWriter(10, 0).Save(folder / "blocks.dat");
    EXPECT_EQ(Restore(), 0);
    EXPECT_EQ(FileRequests(), 1u);
    EXPECT_FALSE(Exists(temporary));
    EXPECT_FALSE(Exists(destination));
}

TEST_F(HybridRestoreTest, CancelledDownloadLeavesNoTemporaryFile)
{
    Serve(Noise(DownloadHandlers::kSingleReplyLimit + 1));
    BlockFileWriter(1000, 0).Save(folder / "blocks.dat");
    bool cancelled = false;
    host.decide = [&](const HostCallback::Event& event) {
        if (event.code != kCancelPoll || host.Seen(kDataDone) == 0 || cancelled)
            return 0;
        cancelled = true;
        return 1;
    };
    EXPECT_EQ(Restore(), 0);
    EXPECT_FALSE(Exists(temporary));
    EXPECT_FALSE(Exists(destination));
    EXPECT_EQ(RemovalReasons(), (std::vector<DWORD>{5}));
}

// A partly rebuilt file is not the version: it never reaches the destination.
TEST_F(HybridRestoreTest, FailedBuildLeavesNeitherDestinationNorTemporaryFile)
{
    Serve(Noise(5000));
    BlockFileWriter(5000, 2)
        .Write(10, "good record")
        .Record(1, 20, "damaged record", BlockFileWriter::Crc("damaged record") ^ 1)
        .Save(folder / "blocks.dat");
    EXPECT_EQ(Restore(), 0);
    EXPECT_EQ(FileRequests(), 1u);
    EXPECT_FALSE(Exists(destination));
    EXPECT_FALSE(Exists(temporary));
}

// The destination is never replaced: the rebuilt version stays under its temporary name and
// the host learns that its file is not in place.
TEST_F(HybridRestoreTest, ExistingDestinationIsKeptAndTheCallFails)
{
    Prepare(Noise(120000, 8), 120000);
    std::ofstream(destination) << "the host's own file";
    EXPECT_EQ(Restore(), 0);
    EXPECT_EQ(Read(destination), "the host's own file");
    EXPECT_TRUE(Read(temporary) == version);
}

// Composed paths hold at most 1023 characters: a longer one fails before anything is asked.
TEST_F(HybridRestoreTest, OverlongPathsFailBeforeAnyRequest)
{
    Serve("copy");
    // "\blocks.dat" fits behind this folder, "\18446744073709551615_7.tmp" does not.
    const std::filesystem::path deep = FolderOfLength(dir.path(), 1005);
    ASSERT_EQ(deep.string().size(), 1005u);
    BlockFileWriter(4, 0).Save(deep / "blocks.dat");
    const std::string longName = "blocks-with-a-long-name.dat";
    BlockFileWriter(4, 0).Save(deep / longName);
    EXPECT_EQ(RestoreHybridFile(deep.u16string(), u"blocks.dat", destination.u16string()), 0);
    EXPECT_EQ(RestoreHybridFile(deep.u16string(), Utf8ToUtf16(longName), destination.u16string()),
              0);
    EXPECT_EQ(RestoreRequests(), 0u);
    EXPECT_FALSE(Exists(destination));
}

TEST_F(HybridRestoreTest, NullArgumentsAreRefused)
{
    Serve("copy");
    BlockFileWriter(4, 1).Write(0, "COPY").Save(folder / "blocks.dat");
    static auto restore = EXPORT(RestoreHybridFile);
    const std::u16string f = folder.u16string();
    const std::u16string d = destination.u16string();
    auto call = [&](Csocketclient* c, const char16_t* a, const char16_t* b, const char16_t* e) {
        return restore(c, Low(0), High(0), Low(1), High(1), Low(2), High(2), Low(3), High(3),
                       Low(4), High(4), a, b, e, nullptr);
    };
    EXPECT_EQ(call(nullptr, f.c_str(), u"blocks.dat", d.c_str()), 0);
    EXPECT_EQ(call(channel, nullptr, u"blocks.dat", d.c_str()), 0);
    EXPECT_EQ(call(channel, f.c_str(), nullptr, d.c_str()), 0);
    EXPECT_EQ(call(channel, f.c_str(), u"blocks.dat", nullptr), 0);
    EXPECT_EQ(FileRequests(), 0u);
    EXPECT_EQ(call(channel, f.c_str(), u"blocks.dat", d.c_str()), 1);
    EXPECT_EQ(Read(destination), "COPY");
}

// A folder that takes no temporary file fails the download before anything is sent: the
// refusal waits for nothing, not even on a connection that has gone quiet.
TEST_F(HybridRestoreTest, AFolderThatTakesNoTemporaryFileFailsBeforeAnyRequest)
{
    Serve(Noise(5000));
    BlockFileWriter(5000, 0).Save(folder / "blocks.dat");
    const ClosedFolder closing(folder);
    if (!closing.Closed())
        GTEST_SKIP() << "cannot close a folder to new files here";
    constexpr ULONGLONG kWaitTimeout = 30;
    StopAnsweringEchoes(kWaitTimeout);
    const size_t before = RestoreRequests();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Restore(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(kWaitTimeout));
    EXPECT_EQ(RestoreRequests(), before);
    EXPECT_FALSE(Exists(temporary));
    EXPECT_FALSE(Exists(destination));
}

// A block file or destination that already goes by the temporary file's name is the host's
// own file: the restore refuses before asking anything and leaves it whole.
TEST_F(HybridRestoreTest, AFileInTheTemporaryFilesPlaceIsKept)
{
    Serve(Noise(5000));
    BlockFileWriter(5000, 1).Write(10, "a record").Save(temporary);
    const std::string blocks = Read(temporary);
    EXPECT_EQ(Restore(Utf8ToUtf16(kTemporaryName)), 0);
    EXPECT_EQ(Read(temporary), blocks);
    std::filesystem::rename(temporary, folder / "blocks.dat");
    std::ofstream(temporary) << "the host's own file";
    EXPECT_EQ(RestoreHybridFile(folder.u16string(), u"blocks.dat", temporary.u16string()), 0);
    EXPECT_EQ(Read(temporary), "the host's own file");
    EXPECT_EQ(FileRequests(), 0u);
}

// A destination that is the temporary path itself: the rebuilt version is already where it
// belongs, and the call gives the build's result.
TEST_F(HybridRestoreTest, ADestinationThatIsTheTemporaryPathGetsTheBuildsResult)
{
    Prepare(Noise(150000, 6), 150000);
    EXPECT_EQ(RestoreHybridFile(folder.u16string(), u"blocks.dat", temporary.u16string()), 1);
    EXPECT_TRUE(Read(temporary) == version);
}
