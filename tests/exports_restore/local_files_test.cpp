// What RestoreFile does to the files a user already has: a restore either puts the complete
// version in place of the local file, or fails and leaves every file as it was, whatever
// breaks on the way (a write that fails, a host that dies). Some restores run in the host
// program, a process of its own that the test can limit or kill.
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <vector>

#include "HostRestore.h"
#include "LocalFilesFixture.h"
#include "platform/text.h"
#include "support/ClosedFolder.h"
#include "support/FolderWatch.h"
#include "support/HostProgram.h"

namespace {

using Form = DownloadHandlers::Form;
using PacketAction = DownloadHandlers::PacketAction;

} // namespace

TEST_F(LocalFilesTest, AWriteThatFailsPartWayLeavesTheOldFileInEitherForm)
{
    for (Form form : {Form::Single, Form::Cached}) {
        Serve(contents, form);
        HostRestore restore(server.Address(), target, cwd, {.fileSizeLimit = 600 * 1024});
        ASSERT_TRUE(restore.Started());
        const std::string output = restore.Finish();
        EXPECT_NE(output.find("RestoreFile -> 0"), std::string::npos) << output;
        EXPECT_EQ(Folder(), (std::map<std::string, std::string>{{"report.doc", Fingerprint(old)}}));
    }
}

TEST_F(LocalFilesTest, SiblingsAreUntouchedBySuccessAndFailureInEitherForm)
{
    const std::map<std::string, std::string> siblings{{"report.doc.part", "the user's own"},
                                                      {"report.doc.tmp", "another"}};
    auto expected = std::map<std::string, std::string>{{"report.doc", Fingerprint(old)}};
    for (const auto& [name, bytes] : siblings) {
        Write(folder / name, bytes);
        expected[name] = Fingerprint(bytes);
    }
    const std::string contents = Noise(3 * kChunk + 5, 8);
    for (Form form : {Form::Single, Form::Cached}) {
        ServeFailingIn(form, contents);
        EXPECT_EQ(RestoreFile(target.u16string()), 0);
        expected["report.doc"] = Fingerprint(old);
        EXPECT_EQ(Folder(), expected);

        Serve(contents, form);
        EXPECT_EQ(RestoreFile(target.u16string()), 1);
        expected["report.doc"] = Fingerprint(contents);
        EXPECT_EQ(Folder(), expected);
        Write(target, old);
    }
}

// Watched by the file system: the local file's name is never free, not even for a moment,
// and the old file is never written into; the new file arrives by one rename.
TEST_F(LocalFilesTest, TheOldFileIsReplacedInOneStepInEitherForm)
{
    for (Form form : {Form::Single, Form::Cached}) {
        Write(target, old);
        Serve(contents, form);
        FolderWatch watch(folder, IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                      IN_CREATE | IN_CLOSE_WRITE);
        ASSERT_TRUE(watch.Started());
        EXPECT_EQ(RestoreFile(target.u16string()), 1);
        EXPECT_EQ(watch.EventsOn("report.doc"), std::vector<uint32_t>{IN_MOVED_TO});
        EXPECT_EQ(Folder().size(), 1u);
    }
}

// A host killed in the middle of a cached transfer leaves the old file. Where the file system
// has no unnamed files, the transfer file has a name from the start, and no one but its owner
// may open it at any time, whatever mode the umask would give a new file, and whether or not
// the file it is for exists.
TEST_F(LocalFilesTest, AHostKilledInTheMiddleOfACachedTransferLeavesTheOldFile)
{
    const mode_t umaskBefore = umask(0);
    for (const bool unnamed : {true, false}) {
        for (const std::filesystem::path& path : {target, folder / "new.doc"}) {
            Serve(contents, Form::Cached);
            // A chunk, then a server that keeps preparing: the transfer cannot end before the
            // kill. A second chunk goes first, since the last request of the host killed before
            // may still take one answer.
            std::vector<PacketAction> actions{PacketAction::Data, PacketAction::Data};
            actions.resize(10000, PacketAction::Preparing);
            files.QueuePacketActions(actions);
            HostRestore restore(server.Address(), path, cwd, {.withoutUnnamedFiles = !unnamed});
            ASSERT_TRUE(restore.Started());
            // The host's first progress line: a chunk is in the transfer file.
            ASSERT_TRUE(restore.WaitForLine(" MiB/s "));
            std::vector<std::filesystem::path> transferFiles;
            for (const auto& entry : std::filesystem::directory_iterator(folder)) {
                if (entry.path() != target)
                    transferFiles.push_back(entry.path());
            }
            for (const std::filesystem::path& transferFile : transferFiles)
                EXPECT_EQ(Status(transferFile).st_mode & 077, 0u) << transferFile;
            restore.Kill();
            EXPECT_TRUE(Read(target) == old);
            EXPECT_FALSE(Exists(folder / "new.doc"));
            // Without a name, nothing of it is left; with one, it is what is left.
            EXPECT_EQ(transferFiles.size(), unnamed ? 0u : 1u) << path;
            for (const std::filesystem::path& transferFile : transferFiles)
                std::filesystem::remove(transferFile);
        }
    }
    umask(umaskBefore);
}

TEST_F(LocalFilesTest, ANameAtTheFileSystemsLimitIsRestoredInEitherForm)
{
    const std::string name(255, 'n');
    for (Form form : {Form::Single, Form::Cached}) {
        Serve(contents, form);
        Write(folder / name, old);
        EXPECT_EQ(RestoreFile(Utf8ToUtf16((folder / name).string())), 1);
        EXPECT_TRUE(Read(folder / name) == contents);
        std::filesystem::remove(folder / name);
    }
    EXPECT_EQ(Folder(), (std::map<std::string, std::string>{{"report.doc", Fingerprint(old)}}));
}

TEST_F(LocalFilesTest, ASingleReplyToAShortRelativePathIsRestored)
{
    Serve("short", Form::Single);
    EXPECT_EQ(RestoreFile(u"abc"), 1);
    EXPECT_EQ(Read(cwd / "abc"), "short");
}

// Restoring over a file keeps what the file was besides its bytes: who may read, write or run
// it, and whom it belongs to. A host running as root restores a file of another user as that
// user's, and a read-only file as read-only.
TEST_F(LocalFilesTest, TheNewFileKeepsTheOldOnesModeOwnerAndGroupInEitherForm)
{
    struct Kept {
        mode_t mode;
        uid_t owner;
        gid_t group;
    };
    std::vector<Kept> cases{{0600, geteuid(), getegid()}, {0755, geteuid(), getegid()}};
    if (geteuid() == 0)
        cases.insert(cases.end(), {{0444, 0, 0}, {02750, 1234, 5678}});
    for (Form form : {Form::Single, Form::Cached}) {
        for (const Kept& kept : cases) {
            Write(target, old);
            ASSERT_EQ(chown(target.c_str(), kept.owner, kept.group), 0);
            ASSERT_EQ(chmod(target.c_str(), kept.mode), 0);
            Serve(contents, form);
            EXPECT_EQ(RestoreFile(target.u16string()), 1);
            const struct stat status = Status(target);
            EXPECT_EQ(status.st_mode & 07777, kept.mode);
            EXPECT_EQ(status.st_uid, kept.owner);
            EXPECT_EQ(status.st_gid, kept.group);
            EXPECT_TRUE(Read(target) == contents);
        }
    }
    EXPECT_EQ(Folder().size(), 1u);
}

// A destination that is a symbolic link: the file it points to is restored (a missing one
// created), and the link stays a link.
TEST_F(LocalFilesTest, ALinkedDestinationIsRestoredWhereTheLinkPointsInEitherForm)
{
    const std::filesystem::path elsewhere = dir.path() / "elsewhere";
    std::filesystem::create_directory(elsewhere);
    std::filesystem::create_symlink("report.doc", folder / "link.doc");
    std::filesystem::create_symlink(folder / "link.doc", elsewhere / "link-to-link.doc");
    std::filesystem::create_symlink("new.doc", folder / "dangling.doc");
    for (Form form : {Form::Single, Form::Cached}) {
        for (const std::filesystem::path& link :
             {folder / "link.doc", elsewhere / "link-to-link.doc"}) {
            Write(target, old);
            Serve(contents, form);
            EXPECT_EQ(RestoreFile(link.u16string()), 1);
            EXPECT_TRUE(std::filesystem::is_symlink(link));
            EXPECT_TRUE(Read(target) == contents);
        }
        std::filesystem::remove(folder / "new.doc");
        EXPECT_EQ(RestoreFile((folder / "dangling.doc").u16string()), 1);
        EXPECT_TRUE(std::filesystem::is_symlink(folder / "dangling.doc"));
        EXPECT_TRUE(Read(folder / "new.doc") == contents);
    }
    EXPECT_EQ(Folder().size(), 4u);
}

// A file with several names (hard links) is one file: each name has the new content, copied
// into the file in place once it is complete; until then the file keeps its bytes.
TEST_F(LocalFilesTest, AFileWithSeveralNamesGetsTheNewContentUnderEachInEitherForm)
{
    std::filesystem::create_hard_link(target, folder / "other-name.doc");
    const ino_t file = Status(target).st_ino;
    for (Form form : {Form::Single, Form::Cached}) {
        Write(target, old);
        ServeFailingIn(form, contents);
        EXPECT_EQ(RestoreFile(target.u16string()), 0);
        EXPECT_TRUE(Read(folder / "other-name.doc") == old);

        Serve(contents, form);
        EXPECT_EQ(RestoreFile(target.u16string()), 1);
        EXPECT_TRUE(Read(target) == contents);
        EXPECT_TRUE(Read(folder / "other-name.doc") == contents);
        EXPECT_EQ(Status(target).st_ino, file);
        EXPECT_EQ(Folder().size(), 2u);
    }
}

// A file its user may write, in a folder where they may not create one: the new content
// arrives in the temporary folder and is copied into the file in place.
TEST_F(LocalFilesTest, AFileInAFolderThatTakesNoNewFileIsWrittenInPlaceInEitherForm)
{
    if (!CanRunAsOtherUser())
        GTEST_SKIP() << "needs root to run the restore as another user";
    OpenToOtherUser();
    ASSERT_EQ(chown(target.c_str(), kOtherUser, kOtherUser), 0);
    for (Form form : {Form::Single, Form::Cached}) {
        Write(target, old);
        Serve(contents, form);
        HostRestore restore(server.Address(), target, cwd, {.asOtherUser = true});
        ASSERT_TRUE(restore.Started());
        const std::string output = restore.Finish();
        EXPECT_NE(output.find("RestoreFile -> 1"), std::string::npos) << output;
        EXPECT_TRUE(Read(target) == contents);
        EXPECT_EQ(Status(target).st_uid, kOtherUser);
        EXPECT_EQ(Folder().size(), 1u);
    }
}

// A file bind-mounted over the destination cannot be replaced by a rename (it is a mount
// point, here of another file system): the mounted file gets the new content in place.
TEST_F(LocalFilesTest, AFileMountedOverTheDestinationIsWrittenInPlaceInEitherForm)
{
    if (!CanMountInANamespace())
        GTEST_SKIP() << "needs a mount namespace of its own and the right to mount in it";
    const TempDir shm("/dev/shm");
    const std::filesystem::path mounted = shm.path() / "mounted";
    for (Form form : {Form::Single, Form::Cached}) {
        Write(mounted, "the file mounted over report.doc");
        Serve(contents, form);
        HostRestore restore(server.Address(), target, cwd,
                            {.bindSource = mounted.string(), .bindTarget = target.string()});
        ASSERT_TRUE(restore.Started());
        const std::string output = restore.Finish();
        EXPECT_NE(output.find("RestoreFile -> 1"), std::string::npos) << output;
        EXPECT_TRUE(Read(mounted) == contents);
    }
    EXPECT_EQ(Folder(), (std::map<std::string, std::string>{{"report.doc", Fingerprint(old)}}));
}

// A user who may not write the file, or may not create it in its folder, is refused as an
// open for writing would refuse them, before the server is asked anything.
TEST_F(LocalFilesTest, AUserWhoMayNotWriteTheFileIsRefusedBeforeAnyRequest)
{
    if (!CanRunAsOtherUser())
        GTEST_SKIP() << "needs root to run the restore as another user";
    OpenToOtherUser();
    const std::filesystem::path own = dir.path() / "own";
    std::filesystem::create_directory(own);
    ASSERT_EQ(chown(own.c_str(), kOtherUser, kOtherUser), 0);
    const std::filesystem::path readOnly = own / "read-only.doc";
    Write(readOnly, old);
    ASSERT_EQ(chown(readOnly.c_str(), kOtherUser, kOtherUser), 0);
    ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);
    Serve(contents, Form::Single);
    for (const std::filesystem::path& path : {readOnly, folder / "new.doc"}) {
        HostRestore restore(server.Address(), path, cwd, {.asOtherUser = true});
        ASSERT_TRUE(restore.Started());
        const std::string output = restore.Finish();
        EXPECT_NE(output.find("RestoreFile -> 0"), std::string::npos) << output;
    }
    EXPECT_TRUE(Read(readOnly) == old);
    EXPECT_EQ(Status(readOnly).st_mode & 07777, 0444u);
    EXPECT_EQ(Folder().size(), 1u);
    EXPECT_EQ(RestoreRequests(), 0u);
}

// What an open for reading and writing refuses, or a missing file in a folder that takes no
// new one, fails as that open fails, with the same log line and error, before anything is
// sent: the refusal waits for nothing, not even on a connection that has gone quiet.
TEST_F(LocalFilesTest, DestinationsAnOpenForWritingRefusesFailBeforeAnyRequest)
{
    ReopenChannelWithLogLevel(30);
    Serve(contents, Form::Single);
    ASSERT_EQ(mkfifo((folder / "pipe").c_str(), 0644), 0);
    const std::filesystem::path closed = dir.path() / "closed";
    std::filesystem::create_directory(closed);
    struct Refused {
        std::u16string path;
        DWORD error;
    };
    std::vector<Refused> refused{
        {folder.u16string(), ERROR_ACCESS_DENIED},
        {u"", ERROR_PATH_NOT_FOUND},
        {(folder / std::string(256, 'n')).u16string(), ERROR_FILENAME_EXCED_RANGE},
        {(folder / "pipe").u16string(), ERROR_INVALID_PARAMETER},
    };
    const ClosedFolder closing(closed);
    if (closing.Closed())
        refused.push_back({(closed / "new.doc").u16string(), ERROR_ACCESS_DENIED});
    constexpr ULONGLONG kWaitTimeout = 30;
    StopAnsweringEchoes(kWaitTimeout);
    const size_t before = RestoreRequests();
    for (const Refused& destination : refused) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(RestoreFile(destination.path), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(kWaitTimeout));
        EXPECT_TRUE(Logged("Csocketzip::GetFile CreateFile failed on (" +
                           Utf16ToUtf8(destination.path) + ") win32error (" +
                           std::to_string(destination.error) + ")"))
            << Utf16ToUtf8(destination.path);
    }
    EXPECT_EQ(RestoreRequests(), before);
    EXPECT_EQ(std::filesystem::status(folder / "pipe").type(), std::filesystem::file_type::fifo);
}

// The time a single reply gives is set on the new file before it takes the destination's
// place: the destination is never opened, so another restore of the same path in the same
// process cannot find it held open without sharing.
TEST_F(LocalFilesTest, ASingleReplyGetsItsTimeBeforeItTakesTheDestinationsPlace)
{
    constexpr int64_t kTime = 1300000000;
    files.AddFile(kCodes, contents, kTime);
    DownloadHandlers::Behaviour single;
    single.form = Form::Single;
    files.SetBehaviour(single);
    FolderWatch watch(folder, IN_OPEN | IN_ATTRIB | IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE |
                                  IN_MOVED_TO);
    ASSERT_TRUE(watch.Started());
    EXPECT_EQ(RestoreFile(target.u16string()), 1);
    EXPECT_EQ(watch.EventsOn("report.doc"), std::vector<uint32_t>{IN_MOVED_TO});
    EXPECT_EQ(Status(target).st_mtim.tv_sec, kTime);
}

// Transfer files that a process left under a name (where the file system has no unnamed
// files, or from before) are removed at the first restore of a process into their folder once
// that process has ended; those of running processes, and the user's own files, stay. So does
// the file restored, whatever its name: one named like them is the user's to restore.
TEST_F(LocalFilesTest, TransferFilesOfEndedProcessesGoAtTheFirstRestoreIntoTheirFolder)
{
    const pid_t ended = fork();
    if (ended == 0)
        _exit(0);
    ASSERT_GT(ended, 0);
    ASSERT_EQ(waitpid(ended, nullptr, 0), ended);
    const std::string gone = std::to_string(ended);
    const std::string running = std::to_string(getpid());
    const std::string restored = "notes.kelvane-" + gone + "-6.tmp";
    for (const std::string& name : {"report.doc.kelvane-" + gone + "-7.tmp",
                                    ".kelvane-" + gone + "-8.tmp",
                                    "notes.txt.kelvane-" + running + "-9.tmp",
                                    std::string("report.doc.kelvane-draft.tmp"), restored})
        Write(folder / name, name);
    Serve(contents, Form::Single);
    EXPECT_EQ(RestoreFile((folder / restored).u16string()), 1);
    std::map<std::string, std::string> expected{{"report.doc", Fingerprint(old)},
                                                {restored, Fingerprint(contents)}};
    for (const std::string& kept : {"notes.txt.kelvane-" + running + "-9.tmp",
                                    std::string("report.doc.kelvane-draft.tmp")})
        expected[kept] = Fingerprint(kept);
    EXPECT_EQ(Folder(), expected);
}
