#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/placement.h"
#include "platform/folder.h"
#include "support/AllocationFailure.h"
#include "support/FileText.h"
#include "support/FolderWatch.h"
#include "support/ScopedEnv.h"
#include "support/SmallFileSystem.h"
#include "support/TempDir.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;

HANDLE Open(const std::u16string& path, DWORD access, DWORD share, DWORD disposition,
            DWORD flags = FILE_ATTRIBUTE_NORMAL)
{
    return CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

class Files : public ::testing::Test {
protected:
    TempDir dir;
    std::u16string file = dir.file("f.bin");
    std::filesystem::path native = dir.path() / "f.bin";
};

// --- creation dispositions -------------------------------------------------------------

TEST_F(Files, CreateNewFailsWithFileExistsWhenThere)
{
    HANDLE h = Open(file, GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 0u);
    CloseHandle(h);
    EXPECT_EQ(Open(file, GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
}

TEST_F(Files, CreateAlwaysTruncatesAndReportsThatTheFileExisted)
{
    HANDLE h = Open(file, GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 0u);
    CloseHandle(h);
    WriteText(native, "old content");
    h = Open(file, GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    CloseHandle(h);
    EXPECT_EQ(ReadText(native), "");
}

TEST_F(Files, OpenAlwaysKeepsContentAndReportsThatTheFileExisted)
{
    HANDLE h = Open(file, GENERIC_READ, 0, OPEN_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 0u);
    CloseHandle(h);
    WriteText(native, "keep");
    h = Open(file, GENERIC_READ, 0, OPEN_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    char buffer[8] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(std::string(buffer, read), "keep");
    CloseHandle(h);
}

// A name that is a link to a missing file: the open follows it and creates that file, as the
// system's own create-or-open does; links that lead nowhere fail at once instead of looping.
TEST_F(Files, CreateOrOpenThroughALinkToAMissingFileCreatesThatFile)
{
    const std::filesystem::path target = dir.path() / "target.bin";
    std::filesystem::create_symlink("target.bin", native);
    for (DWORD disposition : {CREATE_ALWAYS, OPEN_ALWAYS}) {
        HANDLE h = Open(file, GENERIC_WRITE, 0, disposition);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), 0u);
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(h, "via", 3, &written, nullptr));
        CloseHandle(h);
        EXPECT_TRUE(std::filesystem::is_symlink(native));
        EXPECT_EQ(ReadText(target), "via");
        std::filesystem::remove(target);
    }
    std::filesystem::remove(native);
    std::filesystem::create_symlink("no/such/folder/x", native);
    EXPECT_EQ(Open(file, GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    std::filesystem::remove(native);
    std::filesystem::create_symlink("loop.bin", native);
    std::filesystem::create_symlink("f.bin", dir.path() / "loop.bin");
    EXPECT_EQ(Open(file, GENERIC_WRITE, 0, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANT_RESOLVE_FILENAME));
}

TEST_F(Files, OpenExistingTellsAMissingFileFromAMissingFolder)
{
    EXPECT_EQ(Open(file, GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Open(dir.file("missing/f.bin"), GENERIC_READ, 0, OPEN_EXISTING),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    WriteText(native, "x");
    EXPECT_EQ(Open(dir.file("f.bin/below"), GENERIC_READ, 0, OPEN_EXISTING),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(Files, TruncateExistingNeedsWriteAccessAndAnExistingFile)
{
    EXPECT_EQ(Open(file, GENERIC_WRITE, 0, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    WriteText(native, "content");
    EXPECT_EQ(Open(file, GENERIC_READ, 0, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(ReadText(native), "content");
    HANDLE h = Open(file, GENERIC_WRITE, 0, TRUNCATE_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_EQ(ReadText(native), "");
}

TEST_F(Files, AccessRightsLimitReadingAndWriting)
{
    WriteText(native, "abc");
    HANDLE reader = Open(file, GENERIC_READ, kShareAll, OPEN_EXISTING);
    HANDLE writer = Open(file, GENERIC_WRITE, kShareAll, OPEN_EXISTING);
    char buffer[4];
    DWORD count = 7;
    EXPECT_FALSE(WriteFile(reader, "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(ReadFile(writer, buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(SetEndOfFile(reader));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(reader);
    CloseHandle(writer);
}

TEST_F(Files, FoldersOpenOnlyWithBackupSemantics)
{
    std::u16string folder = dir.file("sub");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_EQ(Open(folder, GENERIC_READ, kShareAll, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    HANDLE h = Open(folder, GENERIC_READ | GENERIC_WRITE, kShareAll, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION info;
    ASSERT_TRUE(GetFileInformationByHandle(h, &info));
    EXPECT_EQ(info.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(info.nFileSizeLow | info.nFileSizeHigh, 0u);
    char c;
    DWORD read;
    EXPECT_FALSE(ReadFile(h, &c, 1, &read, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseHandle(h));
}

TEST_F(Files, ReadAtTheEndSucceedsWithNoBytesAndShortReadsStopAtTheEnd)
{
    WriteText(native, "12345");
    HANDLE h = Open(file, GENERIC_READ, 0, OPEN_EXISTING);
    char buffer[16];
    DWORD read = 99;
    EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(read, 5u);
    EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(read, 0u);
    CloseHandle(h);
}

TEST_F(Files, HandlesAreCheckedAndCloseOnlyOnce)
{
    WriteText(native, "x");
    HANDLE h = Open(file, GENERIC_READ, 0, OPEN_EXISTING);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    char c;
    DWORD read;
    EXPECT_FALSE(ReadFile(INVALID_HANDLE_VALUE, &c, 1, &read, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    int notAHandle = 0;
    EXPECT_FALSE(ReadFile(&notAHandle, &c, 1, &read, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// --- sharing -----------------------------------------------------------------------------

TEST_F(Files, AnOpenWithoutSharingExcludesEveryOtherOpen)
{
    HANDLE first = Open(file, GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(file, GENERIC_READ, kShareAll, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(first);
    HANDLE again = Open(file, GENERIC_READ, 0, OPEN_EXISTING);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
}

// An open that runs out of memory at any step fails with std::bad_alloc and leaves no
// descriptor behind, and every later open of the process still works.
TEST_F(Files, AnOpenThatRunsOutOfMemoryLeavesTheOthersWorking)
{
    const auto descriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator());
    };
    for (int step = 0; step < 100; ++step) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            alarm(10);  // an open that waits for itself ends here
            const auto before = descriptors();
            bool failed = false;
            HANDLE handle = INVALID_HANDLE_VALUE;
            FailAllocationAfter(step);
            try {
                handle = Open(file, kReadWrite, kShareAll, OPEN_ALWAYS);
            } catch (const std::bad_alloc&) {
                failed = true;
            }
            FailAllocationAfter(-1);
            if (handle != INVALID_HANDLE_VALUE)
                CloseHandle(handle);
            if (descriptors() != before)
                _exit(2);
            handle = Open(file, kReadWrite, kShareAll, OPEN_ALWAYS);
            if (handle == INVALID_HANDLE_VALUE || !CloseHandle(handle))
                _exit(3);
            _exit(failed ? 1 : 0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "the open at step " << step << " never returned";
        ASSERT_NE(WEXITSTATUS(status), 2) << "the open at step " << step << " left a descriptor";
        ASSERT_NE(WEXITSTATUS(status), 3) << "no open works after step " << step;
        if (WEXITSTATUS(status) == 0)
            return;  // the open needed fewer allocations: every one has failed once
    }
    FAIL() << "the open still allocates after 100 steps";
}

// A file server's oplock or an NFS delegation is a lease on the file: an open waits while its
// holder is asked to give it up, as an open that may wait would, rather than failing at once.
TEST_F(Files, AnOpenWaitsWhileALeaseOnTheFileIsGivenUp)
{
    WriteText(native, "leased");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        signal(SIGIO, SIG_IGN);
        const int fd = open(native.c_str(), O_RDONLY);
        if (fd < 0 || fcntl(fd, F_SETLEASE, F_RDLCK) != 0 || write(ready[1], "l", 1) != 1)
            _exit(1);
        usleep(300000);
        fcntl(fd, F_SETLEASE, F_UNLCK);
        _exit(0);
    }
    close(ready[1]);
    char leased = 0;
    const bool held = read(ready[0], &leased, 1) == 1;
    close(ready[0]);
    HANDLE opened = held ? Open(file, kReadWrite, kShareAll, OPEN_EXISTING) : INVALID_HANDLE_VALUE;
    const DWORD error = GetLastError();
    waitpid(holder, nullptr, 0);
    if (!held)
        GTEST_SKIP() << "this file system gives no leases";
    EXPECT_NE(opened, INVALID_HANDLE_VALUE) << error;
    CloseHandle(opened);
}

TEST_F(Files, ShareModesAreCheckedBothWays)
{
    HANDLE reader = Open(file, GENERIC_READ, FILE_SHARE_READ, CREATE_ALWAYS);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    // Another reader that shares reading may join; a writer is refused by the first share.
    HANDLE second = Open(file, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(file, GENERIC_WRITE, kShareAll, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(second);
    CloseHandle(reader);

    // A new open whose share mode leaves out the access an existing open holds is refused.
    HANDLE writer = Open(file, GENERIC_WRITE, kShareAll, OPEN_EXISTING);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(file, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    HANDLE sharing = Open(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    EXPECT_NE(sharing, INVALID_HANDLE_VALUE);
    CloseHandle(sharing);
    CloseHandle(writer);
}

TEST_F(Files, OnlyOneOfManyRacingExclusiveOpensWins)
{
    WriteText(native, "x");
    std::vector<HANDLE> handles(8, INVALID_HANDLE_VALUE);
    std::vector<DWORD> errors(handles.size(), 0);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < handles.size(); ++i) {
        threads.emplace_back([&, i] {
            handles[i] = Open(file, GENERIC_READ, 0, OPEN_EXISTING);
            errors[i] = GetLastError();
        });
    }
    for (std::thread& t : threads)
        t.join();
    size_t opened = 0;
    for (size_t i = 0; i < handles.size(); ++i) {
        if (handles[i] != INVALID_HANDLE_VALUE) {
            ++opened;
            CloseHandle(handles[i]);
        } else {
            EXPECT_EQ(errors[i], static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        }
    }
    EXPECT_EQ(opened, 1u);
}

TEST_F(Files, ARefusedCreateAlwaysLeavesTheContentAlone)
{
    WriteText(native, "precious");
    HANDLE holder = Open(file, GENERIC_READ, 0, OPEN_EXISTING);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(file, GENERIC_WRITE, kShareAll, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(holder);
    EXPECT_EQ(ReadText(native), "precious");
}

TEST_F(Files, AnOpenForAttributesOnlyNeverConflicts)
{
    HANDLE holder = Open(file, GENERIC_WRITE, 0, CREATE_ALWAYS);
    HANDLE probe = Open(file, 0, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    EXPECT_NE(probe, INVALID_HANDLE_VALUE);
    CloseHandle(probe);
    CloseHandle(holder);
}

TEST_F(Files, DeleteAndMoveNeedDeleteSharingFromEveryOpen)
{
    std::u16string target = dir.file("moved.bin");
    HANDLE holder = Open(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_ALWAYS);
    EXPECT_FALSE(DeleteFileW(file.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(MoveFileW(file.c_str(), target.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(std::filesystem::exists(native));
    CloseHandle(holder);

    holder = Open(file, GENERIC_READ, kShareAll, OPEN_EXISTING);
    EXPECT_TRUE(MoveFileW(file.c_str(), target.c_str()));
    EXPECT_TRUE(DeleteFileW(target.c_str()));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "moved.bin"));
    CloseHandle(holder);
}

TEST_F(Files, DeleteOnCloseRemovesTheFileAndHoldsDeleteAccess)
{
    HANDLE h = Open(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_NEW,
                    FILE_FLAG_DELETE_ON_CLOSE);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(std::filesystem::exists(native));
    CloseHandle(h);
    EXPECT_FALSE(std::filesystem::exists(native));
}

TEST_F(Files, DeleteOnCloseFindsARelativeNameAfterTheCurrentFolderChanged)
{
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    HANDLE h = Open(u"relative.tmp", GENERIC_WRITE, 0, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE);
    std::filesystem::current_path(previous);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "relative.tmp"));
}

TEST_F(Files, DeleteReportsMissingFilesAndRefusesFolders)
{
    EXPECT_FALSE(DeleteFileW(file.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(DeleteFileW(dir.file("none/f").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(DeleteFileW(dir.file("").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// --- positions, sizes, large files ---------------------------------------------------------

TEST_F(Files, SetFilePointerCarriesTheHighWord)
{
    HANDLE h = Open(file, kReadWrite, 0, CREATE_ALWAYS);
    LONG high = 1;
    EXPECT_EQ(SetFilePointer(h, 0x10, &high, FILE_BEGIN), 0x10u);
    EXPECT_EQ(high, 1);
    LARGE_INTEGER zero{};
    LARGE_INTEGER position{};
    ASSERT_TRUE(SetFilePointerEx(h, zero, &position, FILE_CURRENT));
    EXPECT_EQ(position.QuadPart, 0x100000010LL);

    // Moving back by a negative 64-bit distance.
    high = -1;
    EXPECT_EQ(SetFilePointer(h, -0x20, &high, FILE_CURRENT), 0xFFFFFFF0u);
    EXPECT_EQ(high, 0);
    CloseHandle(h);
}

TEST_F(Files, ALowWordOfAllOnesIsAValidPosition)
{
    HANDLE h = Open(file, kReadWrite, 0, CREATE_ALWAYS);
    SetLastError(ERROR_ACCESS_DENIED);
    LONG high = 0;
    EXPECT_EQ(SetFilePointer(h, -1, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(high, 0);
    ASSERT_TRUE(SetEndOfFile(h));
    SetLastError(ERROR_ACCESS_DENIED);
    DWORD sizeHigh = 7;
    EXPECT_EQ(GetFileSize(h, &sizeHigh), 0xFFFFFFFFu);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(sizeHigh, 0u);
    CloseHandle(h);
}

TEST_F(Files, SetFilePointerFailuresKeepThePosition)
{
    HANDLE h = Open(file, kReadWrite, 0, CREATE_ALWAYS);
    LONG high = -1;
    EXPECT_EQ(SetFilePointer(h, -5, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    // Without a high word the position must fit in 32 bits.
    EXPECT_EQ(SetFilePointer(h, 0x7FFFFFFF, nullptr, FILE_BEGIN), 0x7FFFFFFFu);
    EXPECT_EQ(SetFilePointer(h, 0x7FFFFFFF, nullptr, FILE_CURRENT), 0xFFFFFFFEu);
    EXPECT_EQ(SetFilePointer(h, 2, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 0xFFFFFFFEu);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, 7), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    CloseHandle(h);
}

TEST_F(Files, WritesAndEndsBeyondFourGigabytesStaySparse)
{
    constexpr int64_t kOffset = 5LL << 30;
    HANDLE h = Open(file, kReadWrite, 0, CREATE_ALWAYS);
    LARGE_INTEGER distance;
    distance.QuadPart = kOffset;
    ASSERT_TRUE(SetFilePointerEx(h, distance, nullptr, FILE_BEGIN));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(h, "tail", 4, &written, nullptr));
    EXPECT_EQ(written, 4u);
    LARGE_INTEGER size;
    ASSERT_TRUE(GetFileSizeEx(h, &size));
    EXPECT_EQ(size.QuadPart, kOffset + 4);
    DWORD high = 0;
    EXPECT_EQ(GetFileSize(h, &high), 0x40000004u);
    EXPECT_EQ(high, 1u);

    distance.QuadPart = kOffset + 2;
    ASSERT_TRUE(SetFilePointerEx(h, distance, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(h));
    distance.QuadPart = kOffset;
    ASSERT_TRUE(SetFilePointerEx(h, distance, nullptr, FILE_BEGIN));
    char buffer[8];
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(std::string(buffer, read), "ta");

    // Growing by moving the end leaves a hole, not written blocks.
    distance.QuadPart = 6LL << 30;
    ASSERT_TRUE(SetFilePointerEx(h, distance, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(h));
    ASSERT_TRUE(GetFileSizeEx(h, &size));
    EXPECT_EQ(size.QuadPart, 6LL << 30);
    ASSERT_TRUE(FlushFileBuffers(h));
    struct stat status;
    ASSERT_EQ(stat(native.c_str(), &status), 0);
    EXPECT_LT(status.st_blocks * 512, 1 << 20);
    CloseHandle(h);
    EXPECT_TRUE(DeleteFileW(file.c_str()));
}

// --- names: move, folders, attributes, searches -------------------------------------------

// A reservation that cannot have its room takes nothing, whether the file system has too
// little free and it is refused at once, or it runs out part-way (ext4 keeps back some of what
// it reports free), where ext4 keeps the blocks it took past the file's end and would leave the
// disk full. The file keeps its bytes and its times.
TEST_F(Files, AReservationThatRunsOutOfRoomKeepsNothing)
{
    const std::filesystem::path point = dir.path() / "small";
    std::filesystem::create_directory(point);
    const SmallFileSystem disk(point, dir.path() / "disk.img", 16 << 20);
    if (geteuid() != 0 || !disk.Mounted())
        GTEST_SKIP() << "needs root to mount an ext4 image in a namespace of its own";
    const std::filesystem::path path = disk.Path(point / "f.bin");
    WriteText(path, std::string(4096, 'k'));
    const struct timespec time[2] = {{1300000000, 0}, {1300000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), time, 0), 0);
    const HANDLE opened = Open(path.u16string(), kReadWrite, kShareAll, OPEN_EXISTING);
    ASSERT_NE(opened, INVALID_HANDLE_VALUE);
    struct statvfs before;
    ASSERT_EQ(statvfs(path.c_str(), &before), 0);
    for (const uint64_t wanted : {uint64_t{64} << 20, before.f_bfree * before.f_frsize + 4096}) {
        FILE_ALLOCATION_INFO room{};
        room.AllocationSize.QuadPart = static_cast<LONGLONG>(wanted);
        EXPECT_FALSE(SetFileInformationByHandle(opened, FileAllocationInfo, &room, sizeof room));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
        // Up to a block or two of the file's own bookkeeping may stay.
        struct statvfs after;
        ASSERT_EQ(statvfs(path.c_str(), &after), 0);
        EXPECT_LT((before.f_bavail - std::min(before.f_bavail, after.f_bavail)) * after.f_frsize,
                  64u << 10)
            << wanted;
        struct stat status;
        ASSERT_EQ(stat(path.c_str(), &status), 0);
        EXPECT_EQ(status.st_mtim.tv_sec, time[1].tv_sec) << wanted;
        EXPECT_EQ(status.st_mtim.tv_nsec, time[1].tv_nsec) << wanted;
    }
    CloseHandle(opened);
    EXPECT_EQ(ReadText(path), std::string(4096, 'k'));
}

TEST_F(Files, MoveNeverReplacesTheDestination)
{
    std::u16string target = dir.file("target.bin");
    WriteText(native, "source");
    WriteText(dir.path() / "target.bin", "target");
    EXPECT_FALSE(MoveFileW(file.c_str(), target.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(ReadText(native), "source");
    EXPECT_EQ(ReadText(dir.path() / "target.bin"), "target");

    EXPECT_FALSE(MoveFileW(dir.file("none").c_str(), dir.file("other").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(MoveFileW(file.c_str(), dir.file("no/such/folder").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    std::filesystem::remove(dir.path() / "target.bin");
    EXPECT_TRUE(MoveFileW(file.c_str(), target.c_str()));
    EXPECT_FALSE(std::filesystem::exists(native));
    EXPECT_EQ(ReadText(dir.path() / "target.bin"), "source");
}

TEST_F(Files, MoveExReplacesTheDestinationInOneRename)
{
    const std::u16string target = dir.file("target.bin");
    WriteText(native, "source");
    WriteText(dir.path() / "target.bin", "target");
    struct stat before;
    ASSERT_EQ(stat(native.c_str(), &before), 0);
    EXPECT_FALSE(MoveFileExW(file.c_str(), target.c_str(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

    // An open that does not share delete keeps the destination in place.
    HANDLE holder = Open(target, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_FALSE(MoveFileExW(file.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(holder);
    EXPECT_EQ(ReadText(dir.path() / "target.bin"), "target");

    ASSERT_TRUE(MoveFileExW(file.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_FALSE(std::filesystem::exists(native));
    EXPECT_EQ(ReadText(dir.path() / "target.bin"), "source");
    struct stat after;
    ASSERT_EQ(stat((dir.path() / "target.bin").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "renamed, not copied";

    EXPECT_FALSE(MoveFileExW(file.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(MoveFileExW(target.c_str(), dir.file("no/such/folder").c_str(),
                             MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(MoveFileExW(target.c_str(), file.c_str(), 0x8));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(Files, AFileMovesToAnotherFileSystemByCopy)
{
    const TempDir shmDir("/dev/shm");
    const std::filesystem::path source = shmDir.path() / "move";
    int fd = open(source.c_str(), O_CREAT | O_RDWR, 0600);
    struct stat shm, here;
    if (fd < 0 || fstat(fd, &shm) != 0 || stat(dir.path().c_str(), &here) != 0 ||
        shm.st_dev == here.st_dev)
        GTEST_SKIP() << "needs /dev/shm on a file system of its own";
    ASSERT_EQ(write(fd, "cross", 5), 5);
    struct timespec times[2] = {{1000000000, 0}, {1234567890, 0}};
    ASSERT_EQ(futimens(fd, times), 0);
    close(fd);
    std::u16string from = source.u16string();

    WriteText(native, "taken");
    EXPECT_FALSE(MoveFileW(from.c_str(), file.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(ReadText(native), "taken");
    std::filesystem::remove(native);

    ASSERT_TRUE(MoveFileW(from.c_str(), file.c_str()));
    EXPECT_FALSE(std::filesystem::exists(source));
    EXPECT_EQ(ReadText(native), "cross");
    ASSERT_EQ(stat(native.c_str(), &here), 0);
    EXPECT_EQ(here.st_mtim.tv_sec, 1234567890);

    EXPECT_FALSE(MoveFileW(shmDir.path().u16string().c_str(), dir.file("folder").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SAME_DEVICE));
}

// Across file systems a file moves by copy: its name appears only once the copy is complete
// and on the disk, never over a partly written file that a crash would leave there.
TEST_F(Files, AFileMovedToAnotherFileSystemTakesItsNameOnlyWhenComplete)
{
    const TempDir shmDir("/dev/shm");
    const std::filesystem::path source = shmDir.path() / "move";
    const int fd = open(source.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    const std::string content(3 << 20, 'c');
    ASSERT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(fd);
    struct stat shm, here;
    if (stat(source.c_str(), &shm) != 0 || stat(dir.path().c_str(), &here) != 0 ||
        shm.st_dev == here.st_dev)
        GTEST_SKIP() << "needs /dev/shm on a file system of its own";
    FolderWatch watch(dir.path(),
                      IN_CREATE | IN_MOVED_TO | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE);
    ASSERT_TRUE(watch.Started());

    ASSERT_TRUE(MoveFileW(source.u16string().c_str(), file.c_str()));
    const std::vector<uint32_t> onName = watch.EventsOn("f.bin");
    ASSERT_EQ(onName.size(), 1u);
    EXPECT_TRUE(onName[0] == IN_CREATE || onName[0] == IN_MOVED_TO) << onName[0];
    EXPECT_TRUE(ReadText(native) == content);
    EXPECT_FALSE(std::filesystem::exists(source));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(Files, FolderCreationAndRemovalReportWin32Codes)
{
    std::u16string folder = dir.file("a");
    EXPECT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_FALSE(CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryW(dir.file("x/y").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    WriteText(dir.path() / "a" / "f", "x");
    EXPECT_FALSE(RemoveDirectoryW(folder.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    EXPECT_FALSE(RemoveDirectoryW(dir.file("a/f").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
    std::filesystem::remove(dir.path() / "a" / "f");
    EXPECT_TRUE(RemoveDirectoryW(folder.c_str()));
    EXPECT_FALSE(RemoveDirectoryW(folder.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(Files, AttributesTellFoldersFromFiles)
{
    WriteText(native, "x");
    EXPECT_EQ(GetFileAttributesW(file.c_str()), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(GetFileAttributesW(dir.file("").c_str()), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesW(dir.file("none").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetFileAttributesW(dir.file("none/x").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

std::vector<std::u16string> FindAll(const std::u16string& pattern, DWORD* lastError)
{
    std::vector<std::u16string> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        *lastError = GetLastError();
        return names;
    }
    do {
        names.push_back(data.cFileName);
    } while (FindNextFileW(find, &data));
    *lastError = GetLastError();
    EXPECT_TRUE(FindClose(find));
    return names;
}

TEST_F(Files, FindListsMatchingNamesThenReportsNoMoreFiles)
{
    WriteText(dir.path() / "trace.20130101_1.log", "12345");
    WriteText(dir.path() / "trace.20130102_2.LOG", "");
    WriteText(dir.path() / "trace.log.txt", "");
    WriteText(dir.path() / "other.log", "");
    DWORD error = 0;
    std::u16string folder = dir.path().u16string();
    std::vector<std::u16string> names = FindAll(folder + u"\\trace.*.log", &error);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"trace.20130101_1.log",
                                                  u"trace.20130102_2.LOG"}));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_MORE_FILES));

    EXPECT_EQ(FindAll(folder + u"/trace.2013010?_1.log", &error).size(), 1u);
    EXPECT_TRUE(FindAll(folder + u"/*.none", &error).empty());
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(FindAll(folder + u"/missing/*", &error).empty());
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(Files, FindDescribesEachEntry)
{
    WriteText(dir.path() / "data.bin", "12345");
    std::filesystem::create_directory(dir.path() / "sub");
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(dir.file("data.bin").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::u16string(data.cFileName), u"data.bin");
    EXPECT_EQ(data.nFileSizeLow, 5u);
    EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
    EXPECT_FALSE(FindNextFileW(find, &data));
    EXPECT_TRUE(FindClose(find));
    EXPECT_FALSE(FindClose(find));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    find = FindFirstFileW(dir.file("s*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(FindClose(find));
}

// --- times and information -------------------------------------------------------------------

TEST_F(Files, FileTimesRoundTripThroughTheHandle)
{
    HANDLE h = Open(file, kReadWrite, 0, CREATE_ALWAYS);
    FILETIME when = UnixTimeToFileTime(1234567890);
    ASSERT_TRUE(SetFileTime(h, &when, &when, &when));
    FILETIME creation, access, write;
    ASSERT_TRUE(GetFileTime(h, &creation, &access, &write));
    EXPECT_EQ(FileTimeToUnixTime(write), 1234567890);
    EXPECT_EQ(FileTimeToUnixTime(access), 1234567890);
    EXPECT_EQ(FileTimeToUnixTime(creation), 1234567890);
    CloseHandle(h);
    struct stat status;
    ASSERT_EQ(stat(native.c_str(), &status), 0);
    EXPECT_EQ(status.st_mtim.tv_sec, 1234567890);

    HANDLE reader = Open(file, GENERIC_READ, 0, OPEN_EXISTING);
    EXPECT_FALSE(SetFileTime(reader, nullptr, nullptr, &when));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(reader);
}

TEST_F(Files, InformationByHandleNamesTheFile)
{
    WriteText(native, "123");
    HANDLE a = Open(file, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    HANDLE b = Open(file, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    BY_HANDLE_FILE_INFORMATION first, second;
    ASSERT_TRUE(GetFileInformationByHandle(a, &first));
    ASSERT_TRUE(GetFileInformationByHandle(b, &second));
    EXPECT_EQ(first.nFileSizeLow, 3u);
    EXPECT_EQ(first.nFileSizeHigh, 0u);
    EXPECT_EQ(first.nNumberOfLinks, 1u);
    EXPECT_EQ(first.nFileIndexLow, second.nFileIndexLow);
    EXPECT_EQ(first.dwVolumeSerialNumber, second.dwVolumeSerialNumber);
    CloseHandle(a);
    CloseHandle(b);
}

TEST(FileTimes, ConvertBetweenCalendarUnixAndFileTime)
{
    SYSTEMTIME calendar{2009, 2, 5, 13, 23, 31, 30, 250};
    FILETIME converted;
    ASSERT_TRUE(SystemTimeToFileTime(&calendar, &converted));
    FILETIME expected = UnixTimeToFileTime(1234567890);
    uint64_t a = (uint64_t{converted.dwHighDateTime} << 32) | converted.dwLowDateTime;
    uint64_t b = (uint64_t{expected.dwHighDateTime} << 32) | expected.dwLowDateTime;
    EXPECT_EQ(a - b, 2500000u);

    FILETIME epoch = UnixTimeToFileTime(0);
    EXPECT_EQ((uint64_t{epoch.dwHighDateTime} << 32) | epoch.dwLowDateTime,
              116444736000000000ULL);
    EXPECT_EQ(FileTimeToUnixTime(UnixTimeToFileTime(-86401)), -86401);
    SYSTEMTIME start{1601, 1, 1, 1, 0, 0, 0, 0};
    ASSERT_TRUE(SystemTimeToFileTime(&start, &converted));
    EXPECT_EQ(converted.dwLowDateTime | converted.dwHighDateTime, 0u);

    SYSTEMTIME february30{2023, 2, 0, 29, 0, 0, 0, 0};
    EXPECT_FALSE(SystemTimeToFileTime(&february30, &converted));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SYSTEMTIME leapDay{2024, 2, 0, 29, 0, 0, 0, 0};
    EXPECT_TRUE(SystemTimeToFileTime(&leapDay, &converted));
}

TEST(Pipes, APipeNameIsNotTakenForAFilePath)
{
    HANDLE pipe = CreateFileW(u"\\\\.\\Pipe\\KelvaneNoSuchPipe", kReadWrite, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(pipe, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// --- folders of the process ---------------------------------------------------------------

TEST(ProcessFolders, TempPathEndsWithASeparatorAndReportsTheSizeNeeded)
{
    ScopedEnv tmp("TMPDIR", "/var/tmp/kelvane");
    WCHAR buffer[64];
    EXPECT_EQ(GetTempPathW(64, buffer), 17u);
    EXPECT_EQ(std::u16string(buffer), u"/var/tmp/kelvane/");
    EXPECT_EQ(GetTempPathW(17, buffer), 18u);
    ScopedEnv empty("TMPDIR", "");
    EXPECT_EQ(GetTempPathW(64, buffer), 5u);
    EXPECT_EQ(std::u16string(buffer), u"/tmp/");
}

TEST(ProcessFolders, CurrentDirectoryReportsTheSizeNeededWhenTooSmall)
{
    std::u16string cwd = std::filesystem::current_path().u16string();
    std::vector<WCHAR> buffer(cwd.size() + 1);
    EXPECT_EQ(GetCurrentDirectoryW(0, nullptr), cwd.size() + 1);
    EXPECT_EQ(GetCurrentDirectoryW(static_cast<DWORD>(cwd.size()), buffer.data()), cwd.size() + 1);
    EXPECT_EQ(GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data()), cwd.size());
    EXPECT_EQ(std::u16string(buffer.data()), cwd);
}

}  // namespace
