// A folder of the user's files, with one file (the restore's destination) in it, for tests of
// what a restore does to the files a user already has.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>

#include "RestoreFixture.h"

class LocalFilesTest : public RestoreFixture {
protected:
    void SetUp() override
    {
        RestoreFixture::SetUp();
        std::filesystem::create_directory(folder);
        Write(target, old);
    }

    static void Write(const std::filesystem::path& path, const std::string& bytes)
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }

    // Every file of the folder, named with the size and a hash of its bytes.
    std::map<std::string, std::string> Folder() const
    {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            files[entry.path().filename().string()] = Fingerprint(Read(entry.path()));
        return files;
    }
    static std::string Fingerprint(const std::string& bytes)
    {
        return std::to_string(bytes.size()) + " bytes #" +
               std::to_string(std::hash<std::string>()(bytes));
    }

    // Serves contents in the form, but breaks the transfer: a damaged single reply, or a
    // cached transfer that the server stops after its first chunk.
    void ServeFailingIn(DownloadHandlers::Form form, const std::string& contents)
    {
        Serve(contents, form);
        DownloadHandlers::Behaviour failing;
        failing.form = form;
        failing.singleFault = DownloadHandlers::SingleReplyFault::CorruptStream;
        files.SetBehaviour(failing);
        if (form == DownloadHandlers::Form::Cached)
            files.QueuePacketActions(
                {DownloadHandlers::PacketAction::Data, DownloadHandlers::PacketAction::Stop});
    }

    static struct stat Status(const std::filesystem::path& path)
    {
        struct stat status {};
        EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
        return status;
    }

    // Lets kOtherUser reach the test's folders.
    void OpenToOtherUser()
    {
        std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
    }

    std::filesystem::path folder = dir.path() / "files";
    std::filesystem::path target = folder / "report.doc";
    const std::string old = Noise(38 * 1024, 3);
    const std::string contents = Noise(900 * 1024, 5);
};

