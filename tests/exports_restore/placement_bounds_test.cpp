// What a restore may touch when it puts the new file in place: a copy into the user's file
// never loses both versions (a full disk, a host killed halfway), what the file is besides its
// bytes stays (access lists, attributes, set-id bits, owner), what cannot be written is refused
// before any request, and a "Log.txt" that is not a regular file holds nothing up.
#include <fcntl.h>
#include <linux/fs.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

#include "HostRestore.h"
#include "LocalFilesFixture.h"
#include "support/FileFlag.h"
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

// Runs act on a thread of its own, and sets *ran, once the file at path has grown to size
// (well into a copy that writes it from its start a MiB at a time), unless the watch is ended
// first.
class WhenGrown {
public:
    WhenGrown(const std::filesystem::path& path, off_t size, std::function<void()> act, bool* ran)
        : m_events(inotify_init1(IN_CLOEXEC)), m_end(eventfd(0, EFD_CLOEXEC))
    {
        EXPECT_GE(inotify_add_watch(m_events, path.c_str(), IN_MODIFY), 0);
        m_thread = std::thread([this, path, size, act, ran] {
            pollfd waits[] = {{m_events, POLLIN, 0}, {m_end, POLLIN, 0}};
            // Every write told before the end was asked for is looked at.
            while (poll(waits, 2, -1) > 0 && (waits[0].revents & POLLIN) != 0) {
                alignas(inotify_event) char events[4096];
                EXPECT_GT(read(m_events, events, sizeof events), 0);
                struct stat status;
                if (stat(path.c_str(), &status) == 0 && status.st_size >= size) {
                    act();
                    *ran = true;
                    return;
                }
            }
        });
    }
    ~WhenGrown()
    {
        const uint64_t end = 1;
        EXPECT_EQ(write(m_end, &end, sizeof end), static_cast<ssize_t>(sizeof end));
        m_thread.join();
        close(m_events);
        close(m_end);
    }
    WhenGrown(const WhenGrown&) = delete;
    WhenGrown& operator=(const WhenGrown&) = delete;

private:
    int m_events;
    int m_end;
    std::thread m_thread;
};

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

    // Runs act once, when the first data has been written into the transfer file; *ran tells
    // whether it did.
    void DuringTheTransfer(const std::function<void()>& act, bool* ran)
    {
        *ran = false;
        host.decide = [act, ran](const HostCallback::Event& event) {
            if (event.code == kDataDone && !*ran) {
                *ran = true;
                act();
            }
            return 0;
        };
    }

    static void Own(const std::filesystem::path& path, uid_t owner, mode_t mode)
    {
        ASSERT_EQ(chown(path.c_str(), owner, owner), 0);
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
    }

    // Reserves the blocks of the file's first size bytes without writing them.
    static void Preallocate(const std::filesystem::path& path, size_t size)
    {
        const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(fallocate(fd, 0, 0, static_cast<off_t>(size)), 0) << std::strerror(errno);
        close(fd);
    }

    // Fills the file system of folder, which it creates, until free bytes are left in it (for
    // root: ext4 keeps a part of them from other users).
    static void FillUntilFree(const std::filesystem::path& folder, size_t free)
    {
        std::filesystem::create_directory(folder);
        struct statvfs volume;
        ASSERT_EQ(statvfs(folder.c_str(), &volume), 0);
        const uint64_t filled = volume.f_bfree * volume.f_frsize - free;
        const int fd = open((folder / "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(fallocate(fd, 0, 0, static_cast<off_t>(filled)), 0) << std::strerror(errno);
        close(fd);
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

// Two names of one file on a small file system take a new version that is copied into the
// file. The room the copy needs is reserved first, the holes of a sparse file included, whether
// the version is larger than the file or not: where the transfer file leaves too little, the
// restore fails with the old bytes under both names, the file's time, mode and room as they
// were, and nothing left behind. Only what the file lacks counts (not blocks past the new
// version's end), and only the room the restoring user may fill (ext4's room for root only for
// root, with or without CAP_SYS_RESOURCE): a file that lacks nothing is written on a nearly
// full disk, where XFS would refuse to reserve its blocks over again, and so is one whose
// blocks are preallocated, which tmpfs shows as holes. A file system that tells no size
// (ramfs) is not taken for a full one.
TEST_F(PlacementBoundsTest, AFullDiskDuringACopyInPlaceLosesNeitherVersion)
{
    if (!CanRunAsOtherUser() || !CanMountInANamespace())
        GTEST_SKIP() << "needs root and a mount namespace of its own";
    constexpr int kEither = -1;
    const struct {
        const char* name;
        // "ext4" and "xfs" are made in an image file of that size.
        const char* type;
        size_t size;
        size_t oldSize;
        // Where the old file holds data; the rest, up to its size, is a hole.
        size_t dataAt;
        size_t dataSize;
        size_t newSize;
        // The disk is filled until that much is free (0: not filled).
        size_t free;
        // The file is root's, set-id and writable by all, and restored by kOtherUser.
        bool byAnotherUser;
        int result;
        // The old file's blocks are reserved without being written.
        bool preallocated = false;
        // Root restores, without CAP_SYS_RESOURCE.
        bool withoutResourceCapability = false;
    } cases[] = {
        {"a file of 2 MiB on tmpfs", "tmpfs", 11 * kMiB, 2 * kMiB, 0, 2 * kMiB, 8 * kMiB, 0,
         false, kEither},
        {"a sparse file on tmpfs", "tmpfs", 11 * kMiB, 8 * kMiB, 0, 2 * kMiB, 8 * kMiB, 0, false,
         kEither},
        {"a sparse file on ext4", "ext4", 16 * kMiB, 8 * kMiB, 0, 2 * kMiB, 8 * kMiB, 0, false,
         kEither},
        {"a sparse file and a smaller version", "ext4", 16 * kMiB, 8 * kMiB, 0, 2 * kMiB,
         6 * kMiB, 0, false, 1},
        {"a file on ramfs", "ramfs", 0, 2 * kMiB, 0, 2 * kMiB, 8 * kMiB, 0, false, 1},
        {"data past the new version's end", "ext4", 32 * kMiB, 8 * kMiB, 6 * kMiB, 2 * kMiB,
         6 * kMiB, 11 * kMiB, false, 0},
        {"another user's sparse file", "ext4", 32 * kMiB, 8 * kMiB, 0, 2 * kMiB, 8 * kMiB,
         7 * kMiB, true, 0},
        {"a written file and a smaller version", "ext4", 32 * kMiB, 8 * kMiB, 0, 8 * kMiB,
         6 * kMiB, 7 * kMiB, false, 1},
        {"a written file on XFS", "xfs", 300 * kMiB, 8 * kMiB, 0, 8 * kMiB, 8 * kMiB, 11 * kMiB,
         false, 1},
        {"a preallocated file on tmpfs", "tmpfs", 20 * kMiB, 8 * kMiB, 0, 0, 8 * kMiB,
         11 * kMiB, false, 1, true},
        {"root's room without the capability", "ext4", 64 * kMiB, 8 * kMiB, 0, 2 * kMiB,
         8 * kMiB, 16 * kMiB, false, 1, false, true},
    };
    OpenToOtherUser();
    const std::filesystem::path small = dir.path() / "small";
    std::filesystem::create_directory(small);
    for (const auto& row : cases) {
        std::optional<SmallFileSystem> system;
        if (std::string_view(row.type) == "ext4" || std::string_view(row.type) == "xfs")
            system.emplace(small, dir.path() / "disk.img", row.size, row.type);
        else
            system.emplace(small, row.size, row.type);
        if (std::string_view(row.type) == "xfs" && !system->Mounted())
            continue;  // no mkfs.xfs, or no XFS in the kernel
        ASSERT_TRUE(system->Mounted()) << row.name;
        const std::filesystem::path file = system->Path(small / "report.doc");
        const std::filesystem::path second = system->Path(small / "copy.doc");
        const std::string data = Noise(row.dataSize, 11);
        std::ofstream(file, std::ios::binary).seekp(row.dataAt).write(data.data(), data.size());
        std::filesystem::resize_file(file, row.oldSize);
        if (row.preallocated)
            Preallocate(file, row.oldSize);
        std::filesystem::create_hard_link(file, second);
        if (row.byAnotherUser)
            Own(file, 0, 06777);
        if (row.free != 0)
            FillUntilFree(system->Path(small / "filled"), row.free);
        const struct timespec time[2] = {{1300000000, 0}, {1300000000, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), time, 0), 0);
        const struct stat before = Status(file);
        const std::string oldBytes = std::string(row.dataAt, '\0') + data +
                                     std::string(row.oldSize - row.dataAt - data.size(), '\0');
        const std::string newBytes = Noise(row.newSize, 12);
        Serve(newBytes, Form::Cached);
        const int result = RestoreInHost(
            small / "report.doc",
            {.asOtherUser = row.byAnotherUser,
             .mountNamespaceOf = system->Holder(),
             .withoutResourceCapability = row.withoutResourceCapability});
        ASSERT_NE(result, -1) << row.name;
        if (row.result != kEither) {
            EXPECT_EQ(result, row.result) << row.name;
        }
        const std::string& expected = result == 1 ? newBytes : oldBytes;
        EXPECT_TRUE(Read(file) == expected) << row.name << ", result " << result;
        EXPECT_TRUE(Read(second) == expected) << row.name << ", result " << result;
        if (result == 0) {
            const struct stat after = Status(file);
            EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec) << row.name;
            EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec) << row.name;
            EXPECT_EQ(after.st_mode, before.st_mode) << row.name;
            EXPECT_EQ(after.st_blocks, before.st_blocks) << row.name;
        }
        size_t entries = 0;
        for (const auto& entry : std::filesystem::directory_iterator(system->Path(small)))
            entries += entry.is_regular_file() ? 1 : 0;
        EXPECT_EQ(entries, 2u) << row.name;
    }
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

// A thread of the host cancelled while it copies the new version into a file of two names: the
// copy is not stopped part-way, both names end with the whole new version and nothing is left
// beside them; the name that held the new version meanwhile was logged before the copy began.
TEST_F(PlacementBoundsTest, AThreadCancelledDuringACopyInPlaceFinishesTheCopy)
{
    ReopenChannelWithLogLevel(30);
    const std::string newBytes = Noise(48 * kMiB, 13);
    std::filesystem::create_hard_link(target, folder / "other-name.doc");
    Serve(newBytes, Form::Cached);
    std::function<void()> restore = [&] { RestoreFile(target.u16string()); };
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, nullptr,
                  [](void* code) -> void* {
                      (*static_cast<std::function<void()>*>(code))();
                      pthread_testcancel();
                      return nullptr;
                  },
                  &restore),
              0);
    const bool copying = WaitForKeptName(folder);
    pthread_cancel(thread);
    void* result = nullptr;
    pthread_join(thread, &result);
    ASSERT_TRUE(copying);
    EXPECT_EQ(result, PTHREAD_CANCELED);
    // One file under both names: reading it once is enough.
    EXPECT_TRUE(Read(target) == newBytes);
    EXPECT_EQ(Status(folder / "other-name.doc").st_ino, Status(target).st_ino);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                            std::filesystem::directory_iterator()),
              2);
    EXPECT_TRUE(Logged("GetFile the restored file is whole in ("));
}

// A file of two names is written in place once the transfer is done. What became of its place
// meanwhile is not written through: a name that is now a link to another file, or that another
// file took (in a folder that others may write, either could be anyone's), or a folder that
// takes no new name, where the new file could have none of its own during the copy. The file
// keeps its bytes, its time and its room on the disk, the other file its bytes, and nothing is
// left beside them.
TEST_F(PlacementBoundsTest, WhatBefellTheFilesPlaceDuringTheDownloadIsNotWrittenThrough)
{
    const std::filesystem::path second = folder / "other-name.doc";
    const std::filesystem::path victim = dir.path() / "victim.doc";
    const std::string planted = "not to be written";
    Write(victim, planted);
    const bool canFreeze = SetFileFlag(folder, FS_IMMUTABLE_FL, true) &&
                           SetFileFlag(folder, FS_IMMUTABLE_FL, false);
    const struct {
        const char* name;
        std::function<void()> befall;
        bool plantedAtTheName;
    } cases[] = {
        {"a link to another file",
         [&] {
             std::filesystem::remove(target);
             std::filesystem::create_symlink(victim, target);
         },
         true},
        {"another file",
         [&] {
             Write(folder / "planted", planted);
             std::filesystem::rename(folder / "planted", target);
         },
         true},
        {"a folder that takes no new name",
         [&] { EXPECT_TRUE(SetFileFlag(folder, FS_IMMUTABLE_FL, true)); }, false},
    };
    std::filesystem::create_hard_link(target, second);
    const struct timespec time[2] = {{1300000000, 0}, {1300000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, target.c_str(), time, 0), 0);
    const struct stat before = Status(target);
    for (const auto& row : cases) {
        if (!row.plantedAtTheName && !canFreeze)
            continue;
        for (Form form : {Form::Single, Form::Cached}) {
            Serve(contents, form);
            bool befell = false;
            DuringTheTransfer(row.befall, &befell);
            EXPECT_EQ(RestoreFile(target.u16string()), 0) << row.name;
            SetFileFlag(folder, FS_IMMUTABLE_FL, false);
            EXPECT_TRUE(befell) << row.name;
            EXPECT_EQ(Read(victim), planted) << row.name;
            EXPECT_TRUE(Read(target) == (row.plantedAtTheName ? planted : old)) << row.name;
            EXPECT_TRUE(Read(second) == old) << row.name;
            const struct stat after = Status(second);
            EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec) << row.name;
            EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec) << row.name;
            EXPECT_EQ(after.st_blocks, before.st_blocks) << row.name;
            EXPECT_EQ(Folder().size(), 2u) << row.name;
            std::filesystem::remove(target);
            std::filesystem::create_hard_link(second, target);
        }
    }
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

// What the user does to the file during a long transfer counts: a file that got a second name
// and a private mode meanwhile keeps both, with the new bytes under each name; one made private
// or set-user-id while a single reply travelled is replaced with that mode. A set-user-id file
// of two names, which the new version is copied into, gets back the set-id bits that the copy's
// writes took, not those it had when the restore began: none once it was given to another
// owner (root), and its private mode once its owner made it private. What someone changes
// during the copy itself stays: a set-user-id bit taken away is not given back.
TEST_F(PlacementBoundsTest, ANameAndAModeGivenDuringTheTransferAreKept)
{
    const std::filesystem::path second = folder / "other-name.doc";
    const uid_t user = geteuid();
    const std::string large = Noise(16 * kMiB, 14);
    const struct {
        const char* name;
        Form form;
        // The file has a second name from the start, so that the new version is copied in.
        bool twoNames;
        // The change comes while the new version is copied in, rather than while it travels.
        bool duringTheCopy;
        uid_t owner;
        mode_t mode;
        std::function<void()> change;
        uid_t ownerAfter;
        mode_t modeAfter;
    } cases[] = {
        {"a second name and a private mode", Form::Cached, false, false, user, 0644,
         [&] {
             std::filesystem::create_hard_link(target, second);
             chmod(target.c_str(), 0600);
         },
         user, 0600},
        {"made private", Form::Single, true, false, user, 04755,
         [&] { chmod(target.c_str(), 04700); }, user, 04700},
        {"given to root", Form::Single, true, false, kOtherUser, 04755,
         [&] { EXPECT_EQ(chown(target.c_str(), 0, 0), 0); }, 0, 0755},
        {"made private, one name", Form::Single, false, false, user, 0644,
         [&] { chmod(target.c_str(), 0600); }, user, 0600},
        {"made set-user-id, one name", Form::Single, false, false, user, 0755,
         [&] { chmod(target.c_str(), 04755); }, user, 04755},
        // Root's writes keep the bit: only a change of someone else's could be undone.
        {"set-user-id bit taken during the copy", Form::Cached, true, true, 0, 04755,
         [&] { chmod(target.c_str(), 0755); }, 0, 0755},
        {"made private during the copy", Form::Cached, true, true, user, 04755,
         [&] { chmod(target.c_str(), 0700); }, user, 0700},
    };
    for (const auto& row : cases) {
        if ((row.owner != user || row.ownerAfter != user) && !CanRunAsOtherUser())
            continue;
        Write(target, old);
        Own(target, row.owner, row.mode);
        std::filesystem::remove(second);
        if (row.twoNames)
            std::filesystem::create_hard_link(target, second);
        const std::string& version = row.duringTheCopy ? large : contents;
        Serve(version, row.form);
        bool changed = false;
        std::optional<WhenGrown> copying;
        if (row.duringTheCopy) {
            host.decide = nullptr;
            copying.emplace(target, version.size() / 2, row.change, &changed);
        } else {
            DuringTheTransfer(row.change, &changed);
        }
        EXPECT_EQ(RestoreFile(target.u16string()), 1) << row.name;
        copying.reset();
        EXPECT_TRUE(changed) << row.name;
        EXPECT_TRUE(Read(target) == version) << row.name;
        EXPECT_TRUE(!row.twoNames || Read(second) == version) << row.name;
        const struct stat status = Status(target);
        EXPECT_EQ(status.st_mode & 07777, row.modeAfter) << row.name;
        EXPECT_EQ(status.st_uid, row.ownerAfter) << row.name;
    }
}

// An append-only file refuses to be cut or written over, which the mode does not show: it is
// refused before the server is asked anything, as an immutable one is, also where the system
// refuses statx (the system-call filters of older container runtimes) or has none.
TEST_F(PlacementBoundsTest, AnAppendOnlyFileIsRefusedBeforeAnyRequest)
{
    if (!SetFileFlag(target, FS_APPEND_FL, true))
        GTEST_SKIP() << "cannot make a file append-only here: " << std::strerror(errno);
    Serve(contents, Form::Single);
    EXPECT_EQ(RestoreFile(target.u16string()), 0);
    for (const int statxError : {EPERM, ENOSYS}) {
        EXPECT_EQ(RestoreInHost(target, {.withoutUnnamedFiles = true, .statxError = statxError}),
                  0)
            << statxError;
    }
    EXPECT_EQ(RestoreRequests(), 0u);
    EXPECT_TRUE(SetFileFlag(target, FS_APPEND_FL, false));
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
