// What a restore may touch when it puts the new file in place: a copy into the user's file
// never loses both versions (a full disk, a host killed halfway), what the file is besides its
// bytes stays (access lists, attributes, set-id bits, owner), what cannot be written is refused
// before any request, and a "Log.txt" that is not a regular file holds nothing up.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "HostRestore.h"
#include "LocalFilesFixture.h"
#include "support/SmallFileSystem.h"
#include "support/TempDir.h"

namespace {

using Form = DownloadHandlers::Form;

constexpr size_t kMiB = 1 << 20;
// A file capability set (revision 2, effective): CAP_NET_RAW permitted.
const std::string kCapability("\x01\x00\x00\x02\x00\x20\x00\x00\x00\x00\x00\x00"
                              "\x00\x00\x00\x00\x00\x00\x00\x00",
                              20);

// Waits (at most 30 s) until the complete new file has its kept name in folder: the copy in
// place is about to start, or under way.
bool WaitForKeptName(const std::filesystem::path& folder)
{
    for (int tries = 0; tries < 15000; ++tries) {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.path().filename().string().ends_with(".restored"))
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

class PlacementBoundsTest : public LocalFilesTest {
protected:
    // Runs the host to its end; gives its result line's value, or -1 when it printed none.
    int RestoreInHost(const std::filesystem::path& path, const HostConditions& conditions = {})
    {
        HostRestore restore(server.Address(), path, cwd, conditions);
        if (!restore.Started())
            return -1;
        const std::string output = restore.Finish();
        if (output.find("RestoreFile -> 1") != std::string::npos)
            return 1;
        return output.find("RestoreFile -> 0") != std::string::npos ? 0 : -1;
    }

    // A folder that kOtherUser owns, in the test's folder opened to them.
    std::filesystem::path OtherUsersFolder()
    {
        OpenToOtherUser();
        const std::filesystem::path own = dir.path() / "own";
        std::filesystem::create_directory(own);
        EXPECT_EQ(chown(own.c_str(), kOtherUser, kOtherUser), 0);
        return own;
    }

    static void Own(const std::filesystem::path& path, uid_t owner, mode_t mode)
    {
        ASSERT_EQ(chown(path.c_str(), owner, owner), 0);
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
    }
};

// The value of an extended attribute, or "<none>".
std::string Attribute(const std::filesystem::path& path, const char* name)
{
    char value[256];
    const ssize_t length = getxattr(path.c_str(), name, value, sizeof value);
    return length < 0 ? "<none>" : std::string(value, static_cast<size_t>(length));
}

// A POSIX access list in the system's own form: the owner, the group and others as mode gives
// them, and user 1234 with read and write (so the mask is read and write too).
std::string AccessListGrantingUser1234(mode_t mode)
{
    struct Entry {
        uint16_t tag;
        uint16_t permissions;
        uint32_t id;
    };
    constexpr uint32_t kNoId = 0xFFFFFFFF;
    const Entry entries[] = {{0x01, static_cast<uint16_t>((mode >> 6) & 7), kNoId},
                             {0x02, 6, 1234},
                             {0x04, static_cast<uint16_t>((mode >> 3) & 7), kNoId},
                             {0x10, 6, kNoId},
                             {0x20, static_cast<uint16_t>(mode & 7), kNoId}};
    const uint32_t version = 2;
    std::string list(reinterpret_cast<const char*>(&version), sizeof version);
    list.append(reinterpret_cast<const char*>(entries), sizeof entries);
    return list;
}

} // namespace

// Two names of one 2 MiB file on an 11 MiB file system take an 8 MiB version: the transfer file
// fills the room that the copy into the file would need. The restore either completes, or
// fails with the old bytes under both names and nothing left behind.
TEST_F(PlacementBoundsTest, AFullDiskDuringACopyInPlaceLosesNeitherVersion)
{
    if (!CanRunAsOtherUser() || !CanMountInANamespace())
        GTEST_SKIP() << "needs root and a mount namespace of its own";
    const std::filesystem::path small = dir.path() / "small";
    std::filesystem::create_directory(small);
    const SmallFileSystem system(small, 11 * kMiB);
    ASSERT_TRUE(system.Mounted());
    const std::string oldBytes = Noise(2 * kMiB, 11);
    const std::string newBytes = Noise(8 * kMiB, 12);
    Write(system.Path(small / "report.doc"), oldBytes);
    std::filesystem::create_hard_link(system.Path(small / "report.doc"),
                                      system.Path(small / "copy.doc"));
    Serve(newBytes, Form::Cached);
    const int result = RestoreInHost(small / "report.doc", {.mountNamespaceOf = system.Holder()});
    ASSERT_NE(result, -1);
    const std::string& expected = result == 1 ? newBytes : oldBytes;
    EXPECT_TRUE(Read(system.Path(small / "report.doc")) == expected) << "result " << result;
    EXPECT_TRUE(Read(system.Path(small / "copy.doc")) == expected) << "result " << result;
    size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(system.Path(small)))
        entries += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(entries, 2u);
}

// A host killed while it copies the new version into a private file of two names: the new
// version is whole, in the file or under the name the copy gave it beforehand, which no one
// else may read.
TEST_F(PlacementBoundsTest, AHostKilledDuringACopyInPlaceLeavesTheNewVersionWhole)
{
    const std::string newBytes = Noise(48 * kMiB, 13);
    ASSERT_EQ(chmod(target.c_str(), 0600), 0);
    std::filesystem::create_hard_link(target, folder / "other-name.doc");
    Serve(newBytes, Form::Cached);
    // Where the file system has no unnamed files, the transfer file had a name of its own
    // first: the kept name replaces it, so that no leftover holds the file under two names.
    for (const bool unnamed : {true, false}) {
        Write(target, old);
        HostRestore restore(server.Address(), target, cwd, {.withoutUnnamedFiles = !unnamed});
        ASSERT_TRUE(restore.Started());
        ASSERT_TRUE(WaitForKeptName(folder));
        restore.Kill();
        bool whole = Read(target) == newBytes;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            EXPECT_FALSE(name.ends_with(".tmp")) << name;
            if (name.ends_with(".restored")) {
                whole = whole || Read(entry.path()) == newBytes;
                // No more readable than the file it is the new version of.
                EXPECT_EQ(Status(entry.path()).st_mode & 077, 0u);
                std::filesystem::remove(entry.path());
            }
        }
        EXPECT_TRUE(whole) << (unnamed ? "unnamed" : "named");
    }
}

// A file of two names is written in place once the transfer is done. Its name became a link to
// another file meanwhile (in a folder that others may write, it could be anyone's): the copy
// does not write through the link, and the file keeps its bytes.
TEST_F(PlacementBoundsTest, ANameThatBecameALinkDuringTheDownloadIsNotWrittenThrough)
{
    std::filesystem::create_hard_link(target, folder / "other-name.doc");
    const std::filesystem::path victim = dir.path() / "victim.doc";
    Write(victim, "not to be written");
    Serve(contents, Form::Cached);
    bool swapped = false;
    host.decide = [&](const HostCallback::Event& event) {
        if (event.code == kDataDone && !swapped) {
            swapped = true;
            std::filesystem::remove(target);
            std::filesystem::create_symlink(victim, target);
        }
        return 0;
    };
    EXPECT_EQ(RestoreFile(target.u16string()), 0);
    EXPECT_TRUE(swapped);
    EXPECT_EQ(Read(victim), "not to be written");
    EXPECT_TRUE(Read(folder / "other-name.doc") == old);
}

// A file with an access list (user 1234 may read and write) and a user attribute: the restored
// file has both, and its mode, as they were; the owning group gains nothing.
TEST_F(PlacementBoundsTest, AccessListsAndAttributesAreKeptInEitherForm)
{
    for (Form form : {Form::Single, Form::Cached}) {
        Write(target, old);
        ASSERT_EQ(chmod(target.c_str(), 0600), 0);
        const std::string list = AccessListGrantingUser1234(0600);
        if (setxattr(target.c_str(), "system.posix_acl_access", list.data(), list.size(), 0) !=
                0 ||
            setxattr(target.c_str(), "user.note", "kept", 4, 0) != 0)
            GTEST_SKIP() << "the temporary folder's file system keeps no access lists: "
                         << std::strerror(errno);
        // Capabilities, which only root may give, and which a write takes away.
        const bool capable = geteuid() == 0 && setxattr(target.c_str(), "security.capability",
                                                        kCapability.data(),
                                                        kCapability.size(), 0) == 0;
        const std::string keptList = Attribute(target, "system.posix_acl_access");
        const mode_t keptMode = Status(target).st_mode & 07777;
        Serve(contents, form);
        EXPECT_EQ(RestoreFile(target.u16string()), 1);
        EXPECT_TRUE(Read(target) == contents);
        EXPECT_EQ(Attribute(target, "system.posix_acl_access"), keptList);
        EXPECT_EQ(Attribute(target, "user.note"), "kept");
        if (capable) {
            EXPECT_EQ(Attribute(target, "security.capability"), kCapability);
        }
        EXPECT_EQ(Status(target).st_mode & 07777, keptMode);
    }
    EXPECT_EQ(Folder().size(), 1u);
}

// What the user does to the file during a long transfer counts: a file that got a second
// name and a private mode meanwhile keeps both, with the new bytes under each name.
TEST_F(PlacementBoundsTest, ANameAndAModeGivenDuringTheTransferAreKept)
{
    Serve(contents, Form::Cached);
    bool changed = false;
    host.decide = [&](const HostCallback::Event& event) {
        if (event.code == kDataDone && !changed) {
            changed = true;
            std::filesystem::create_hard_link(target, folder / "other-name.doc");
            chmod(target.c_str(), 0600);
        }
        return 0;
    };
    EXPECT_EQ(RestoreFile(target.u16string()), 1);
    EXPECT_TRUE(changed);
    EXPECT_TRUE(Read(target) == contents);
    EXPECT_TRUE(Read(folder / "other-name.doc") == contents);
    EXPECT_EQ(Status(target).st_mode & 07777, 0600u);
}

// An append-only file refuses to be cut or written over, which the mode does not show: it is
// refused before the server is asked anything, as an immutable one is, also where the system
// refuses statx (the system-call filters of older container runtimes).
TEST_F(PlacementBoundsTest, AnAppendOnlyFileIsRefusedBeforeAnyRequest)
{
    const int file = open(target.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(file, 0);
    int attributes = 0;
    const bool flagged = ioctl(file, FS_IOC_GETFLAGS, &attributes) == 0 &&
                         (attributes |= FS_APPEND_FL, ioctl(file, FS_IOC_SETFLAGS, &attributes) == 0);
    if (!flagged) {
        close(file);
        GTEST_SKIP() << "cannot make a file append-only here: " << std::strerror(errno);
    }
    Serve(contents, Form::Single);
    EXPECT_EQ(RestoreFile(target.u16string()), 0);
    EXPECT_EQ(RestoreInHost(target, {.withoutUnnamedFiles = true}), 0);
    EXPECT_EQ(FileRequests(), 0u);
    attributes &= ~FS_APPEND_FL;
    EXPECT_EQ(ioctl(file, FS_IOC_SETFLAGS, &attributes), 0);
    close(file);
    EXPECT_TRUE(Read(target) == old);
}

// "Log.txt" in the current folder is a named pipe that nobody reads: the restore neither waits
// for a reader nor writes into it, and succeeds.
TEST_F(PlacementBoundsTest, ANamedPipeCalledLogTxtHoldsNothingUp)
{
    ASSERT_EQ(mkfifo((cwd / "Log.txt").c_str(), 0644), 0);
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    bool released = false;
    // Were the restore to wait for a reader, this one comes after 5 s and the test fails.
    std::thread rescue([&] {
        std::unique_lock<std::mutex> guard(lock);
        if (finished.wait_for(guard, std::chrono::seconds(5), [&] { return done; }))
            return;
        released = true;
        const int reader = open((cwd / "Log.txt").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        guard.unlock();
        finished.wait_for(guard, std::chrono::seconds(1));
        if (reader >= 0)
            close(reader);
    });
    Serve(contents, Form::Single);
    const int32_t result = RestoreFile(target.u16string(), u"note");
    {
        std::lock_guard<std::mutex> guard(lock);
        done = true;
    }
    finished.notify_all();
    rescue.join();
    EXPECT_FALSE(released);
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(Read(target) == contents);
    EXPECT_EQ(std::filesystem::status(cwd / "Log.txt").type(), std::filesystem::file_type::fifo);
}

// As a user who is not root: their own file is replaced by a rename, which links the unnamed
// file by its /proc entry; a file of root's that they may write keeps its owner, written in
// place; a set-user-id file of two names, written in place, keeps its mode.
TEST_F(PlacementBoundsTest, AUserWhoIsNotRootKeepsOwnersAndModesInBothWaysOfPlacing)
{
    if (!CanRunAsOtherUser())
        GTEST_SKIP() << "needs root to run the restore as another user";
    const std::filesystem::path own = OtherUsersFolder();
    const struct {
        const char* name;
        uid_t owner;
        mode_t mode;
        bool inPlace;
    } cases[] = {{"mine.doc", kOtherUser, 0640, false},
                 {"roots.doc", 0, 0666, true},
                 {"set-user-id", kOtherUser, 04755, true},
                 {"set-user-id, one name", kOtherUser, 04755, false}};
    Write(own / "set-user-id", old);
    std::filesystem::create_hard_link(own / "set-user-id", own / "set-user-id.link");
    for (const auto& kept : cases) {
        const std::filesystem::path path = own / kept.name;
        Write(path, old);
        Own(path, kept.owner, kept.mode);
        const ino_t file = Status(path).st_ino;
        Serve(contents, Form::Single);
        EXPECT_EQ(RestoreInHost(path, {.asOtherUser = true}), 1) << kept.name;
        EXPECT_TRUE(Read(path) == contents) << kept.name;
        const struct stat status = Status(path);
        EXPECT_EQ(status.st_uid, kept.owner) << kept.name;
        EXPECT_EQ(status.st_mode & 07777, kept.mode) << kept.name;
        EXPECT_EQ(status.st_ino == file, kept.inPlace) << kept.name;
    }
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(own))
        ++entries;
    EXPECT_EQ(entries, 5u);
}

// The user's file bind-mounted over a file of root's in a sticky folder: the folder refuses
// the rename (only the owner may replace a file there), so the mounted file is written in place.
TEST_F(PlacementBoundsTest, AMountedFileInAStickyFolderIsWrittenInPlace)
{
    if (!CanRunAsOtherUser() || !CanMountInANamespace())
        GTEST_SKIP() << "needs root and a mount namespace of its own";
    OpenToOtherUser();
    const std::filesystem::path sticky = dir.path() / "sticky";
    std::filesystem::create_directory(sticky);
    ASSERT_EQ(chmod(sticky.c_str(), 01777), 0);
    Write(sticky / "report.doc", old);
    const TempDir shm("/dev/shm");
    const std::filesystem::path mounted = shm.path() / "mounted";
    Write(mounted, "the user's file mounted over report.doc");
    Own(mounted, kOtherUser, 0644);
    Serve(contents, Form::Single);
    EXPECT_EQ(RestoreInHost(sticky / "report.doc",
                            {.asOtherUser = true,
                             .bindSource = mounted.string(),
                             .bindTarget = (sticky / "report.doc").string()}),
              1);
    EXPECT_TRUE(Read(mounted) == contents);
    EXPECT_TRUE(Read(sticky / "report.doc") == old);
}

// Where the file system has no unnamed files (NFS, FAT, FUSE), the transfer file has a name
// from the start; the restore still replaces an existing file, keeping its mode, creates a new
// one with the mode any new file gets there (the umask's, or that of the folder's default
// access list), and leaves no transfer file behind. The files are examined without statx. So
// it does where the kernel links no file by its descriptor alone (before 6.10, for a user who
// is not root), and an unnamed file is given its name through its /proc entry.
TEST_F(PlacementBoundsTest, AFileSystemWithoutUnnamedFilesGetsTheFilesAllTheSame)
{
    ASSERT_EQ(chmod(target.c_str(), 0604), 0);
    const std::filesystem::path created = folder / "new.doc";
    const std::filesystem::path reference = folder / "made-here.doc";
    for (const bool listed : {false, true}) {
        const std::string list = AccessListGrantingUser1234(0750);
        if (listed && setxattr(folder.c_str(), "system.posix_acl_default", list.data(),
                               list.size(), 0) != 0)
            GTEST_SKIP() << "the temporary folder's file system keeps no access lists: "
                         << std::strerror(errno);
        Write(reference, "");
        for (const HostConditions& conditions :
             {HostConditions{.withoutUnnamedFiles = true},
              HostConditions{.withoutLinksByDescriptor = true}}) {
            for (Form form : {Form::Single, Form::Cached}) {
                Serve(contents, form);
                for (const std::filesystem::path& path : {target, created}) {
                    EXPECT_EQ(RestoreInHost(path, conditions), 1) << path;
                    EXPECT_TRUE(Read(path) == contents) << path;
                }
                EXPECT_EQ(Status(target).st_mode & 07777, 0604u);
                EXPECT_EQ(Status(created).st_mode, Status(reference).st_mode) << listed;
                EXPECT_EQ(Attribute(created, "system.posix_acl_access"),
                          Attribute(reference, "system.posix_acl_access"));
                EXPECT_EQ(Folder().size(), 3u);
                std::filesystem::remove(created);
            }
        }
        std::filesystem::remove(reference);
    }
}
