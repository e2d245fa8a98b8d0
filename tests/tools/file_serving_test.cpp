// The stand-in server offering a folder on disk: files restored through the library's
// RestoreFile over loopback come back byte for byte, whether the server answers with one
// compressed reply or with a cached transfer, and a finished transfer leaves nothing held.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "platform/text.h"
#include "support/KelvaneLibrary.h"
#include "support/LoginServer.h"
#include "support/Noise.h"
#include "support/TempDir.h"
#include "tools/server/DownloadHandlers.h"
#include "tools/server/FolderData.h"

namespace fs = std::filesystem;

namespace {

class FileServing : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Started()) << "port 443 of loopback not bound";
        // Just over the single-reply limit, and not a whole number of 128 KiB chunks.
        Write("Office/C:/Documents/photos.raw", Noise(DownloadHandlers::kSingleReplyLimit + 70001));
        Write("Office/C:/notes.txt", "shopping: milk, bread\n");
        Write("Office/C:/empty.txt", "");
        Write("stray file beside the machines.txt", "not offered");
        std::string error;
        ASSERT_TRUE(server.Server().Model().Service().With([&](ServiceState& state) {
            return FolderData(state, files, 501).AddMachines(dir.path() / "shelf", &error);
        })) << error;
        files.Register(server.Server().Commands());
        channel = library.OpenChannel(server.Address16().c_str(), u"alice", u"secret", &flags, 0,
                                      u"", 0, u"", u"");
        ASSERT_NE(channel, nullptr);
        previousDirectory = fs::current_path();
        fs::current_path(dir.path());
    }

    void TearDown() override
    {
        if (!previousDirectory.empty())
            fs::current_path(previousDirectory);
        if (channel != nullptr)
            library.CloseChannel(channel);
    }

    void Write(const std::string& name, const std::string& contents)
    {
        const fs::path path = dir.path() / "shelf" / name;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << contents;
        originals[path.filename().string()] = contents;
    }

    // The five codes of a file's one version, as browsing shows them.
    DownloadHandlers::FileCodes CodesOf(const std::u16string& name)
    {
        return server.Server().Model().Service().With([&](ServiceState& state) {
            for (const StoredMachine& machine : state.machines)
                for (const StoredVolume& volume : machine.volumes)
                    for (const auto& [code, folder] : volume.folders)
                        for (const StoredEntry& entry : folder.entries)
                            if (entry.name == name)
                                return DownloadHandlers::FileCodes{
                                    machine.id, volume.code, code, entry.fileCode,
                                    entry.versions.back().archiveCode};
            return DownloadHandlers::FileCodes{};
        });
    }

    // Restores a file of the folder and gives what arrived.
    std::string Restore(const std::string& name)
    {
        const DownloadHandlers::FileCodes codes = CodesOf(Utf8ToUtf16(name));
        const fs::path target = dir.path() / ("restored-" + name);
        auto restoreFile = EXPORT(RestoreFile);
        int32_t result = restoreFile(channel, Low(codes[0]), High(codes[0]), Low(codes[1]),
                                     High(codes[1]), Low(codes[2]), High(codes[2]),
                                     Low(codes[3]), High(codes[3]), Low(codes[4]),
                                     High(codes[4]), Utf8ToUtf16(target.string()).c_str(), 0, 0,
                                     u"", nullptr);
        EXPECT_EQ(result, 1) << name;
        std::ifstream in(target, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    void ExpectRestoredExactly(const std::string& name)
    {
        std::string restored = Restore(name);
        EXPECT_EQ(restored.size(), originals[name].size()) << name;
        EXPECT_TRUE(restored == originals[name]) << name << " differs from its original";
    }

    KelvaneLibrary& library = KelvaneLibrary::Get();
    TempDir dir;
    fs::path previousDirectory;
    std::map<std::string, std::string> originals;
    // Outlives the server's connections.
    DownloadHandlers files;
    LoginServer server;
    Csocketclient* channel = nullptr;
    uint32_t flags = 0;
};

TEST_F(FileServing, OffersMachinesVolumesAndFoldersOfTheFolderTree)
{
    server.Server().Model().Service().With([](ServiceState& state) {
        ASSERT_EQ(state.machines.size(), 1u);
        EXPECT_EQ(state.machines[0].name, u"Office");
        EXPECT_EQ(state.machines[0].key, "demo-key-501");
        ASSERT_EQ(state.machines[0].volumes.size(), 1u);
        const StoredVolume& volume = state.machines[0].volumes[0];
        EXPECT_EQ(volume.label, u"C:");
        ASSERT_EQ(volume.folders.size(), 2u);
        EXPECT_EQ(volume.folders.begin()->second.path, u"\\");
        EXPECT_EQ(std::next(volume.folders.begin())->second.path, u"\\Documents\\");
    });
}

TEST_F(FileServing, RestoresSmallFilesFromOneReplyAndLargeOnesByCachedTransfer)
{
    ExpectRestoredExactly("notes.txt");
    ExpectRestoredExactly("empty.txt");
    ExpectRestoredExactly("photos.raw");
    // Twice: the second download of a file must not build on what the first one left.
    ExpectRestoredExactly("photos.raw");
    EXPECT_EQ(files.OpenCacheFiles(), 0u) << "a finished transfer still holds its cache file";
}

TEST_F(FileServing, RestoresEveryFileByCachedTransferWhenTold)
{
    DownloadHandlers::Behaviour cached;
    cached.form = DownloadHandlers::Form::Cached;
    files.SetBehaviour(cached);
    ExpectRestoredExactly("notes.txt");
    ExpectRestoredExactly("photos.raw");
    EXPECT_EQ(files.OpenCacheFiles(), 0u);
}

}  // namespace
