// Byte-range locks of file handles (LockFileEx, UnlockFileEx), and the lock that a move across
// file systems holds on the copy it makes under a temporary name.
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/abandonedfiles.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/placement.h"
#include "support/FileText.h"
#include "support/LockHolder.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kNow = LOCKFILE_FAIL_IMMEDIATELY;
constexpr DWORD kExclusiveNow = LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY;

OwnedHandle Open(const fs::path& path, DWORD access)
{
    return OwnedHandle(CreateFileW(path.u16string().c_str(), access, kShareAll, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

OVERLAPPED At(uint64_t offset)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

// Locks bytes from offset on the handle as flags ask; the last error tells a refusal.
BOOL Lock(const OwnedHandle& file, DWORD flags, uint64_t offset, DWORD bytes)
{
    OVERLAPPED at = At(offset);
    return LockFileEx(file.get(), flags, 0, bytes, 0, &at);
}

class LockTest : public ::testing::Test {
protected:
    void SetUp() override { WriteText(file, "0123456789abcdefghij"); }

    TempDir dir;
    fs::path file = dir.path() / "locked.bin";
};

// Two opens of one file, in one process or in two, keep each other off the bytes they lock,
// and only those; a lock that waits gets them when the holder lets go.
TEST_F(LockTest, LocksKeepOtherOpensOffTheirBytesUntilReleased)
{
    {
        const OwnedHandle first = Open(file, GENERIC_READ | GENERIC_WRITE);
        const OwnedHandle second = Open(file, GENERIC_READ | GENERIC_WRITE);
        ASSERT_TRUE(Lock(first, kExclusiveNow, 0, 10));
        EXPECT_FALSE(Lock(second, kNow, 9, 1));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
        EXPECT_TRUE(Lock(second, kExclusiveNow, 10, 10));
        OVERLAPPED start = At(0);
        ASSERT_TRUE(UnlockFileEx(first.get(), 0, 10, 0, &start));
        EXPECT_TRUE(Lock(second, kNow, 5, 1));
        EXPECT_TRUE(Lock(first, kNow, 5, 1));  // shared locks share
    }
    LockHolder holder(file);  // all of the file, from 0 to beyond the largest offset
    ASSERT_TRUE(holder.Holds());
    const OwnedHandle waiter = Open(file, GENERIC_READ);
    EXPECT_FALSE(Lock(waiter, kNow, uint64_t{1} << 62, 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
    std::atomic<bool> locked{false};
    std::thread wait([&] { locked = Lock(waiter, 0, 0, 1) != FALSE; });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(locked);
    holder.LetGo();
    wait.join();
    EXPECT_TRUE(locked);
}

// What Windows refuses is refused before any lock, and so is what an advisory lock of this
// system cannot be: an exclusive lock without write access, a shared one without read access.
TEST_F(LockTest, LockArgumentsAreCheckedBeforeAnyLock)
{
    const OwnedHandle both = Open(file, GENERIC_READ | GENERIC_WRITE);
    const OwnedHandle reader = Open(file, GENERIC_READ);
    const OwnedHandle writer = Open(file, GENERIC_WRITE);
    OVERLAPPED start = At(0);
    EXPECT_FALSE(LockFileEx(both.get(), kExclusiveNow, 1, 1, 0, &start));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(LockFileEx(both.get(), kExclusiveNow, 0, 1, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(Lock(both, kExclusiveNow, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(Lock(both, kExclusiveNow, uint64_t{1} << 63, 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(Lock(reader, kExclusiveNow, 0, 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(Lock(writer, kNow, 0, 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(LockFileEx(INVALID_HANDLE_VALUE, kNow, 0, 1, 0, &start));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    // None of them locked anything.
    EXPECT_TRUE(Lock(reader, kNow, 0, 20));
}

// A thread whose opens of a file without a name fail as on a file system that has none (NFS,
// FAT, FUSE), and whose every rename waits for the test to answer it: as across two file
// systems, or by letting it go on.
class ThreadWithoutUnnamedFiles {
public:
    explicit ThreadWithoutUnnamedFiles(std::function<void()> work)
    {
        std::future<int> installed = m_installed.get_future();
        m_thread = std::thread([this, work = std::move(work)] {
            const int fd = InstallFilter();
            m_installed.set_value(fd);
            if (fd >= 0)
                work();
        });
        m_listener = installed.get();
    }
    ~ThreadWithoutUnnamedFiles()
    {
        Finish();
        if (m_listener >= 0)
            close(m_listener);
    }

    // Waits for the thread's end.
    void Finish()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

    bool Started() const { return m_listener >= 0; }

    // The thread's next rename, which waits for Answer; false when none came within ten
    // seconds.
    bool NextRename(seccomp_notif* call) const
    {
        pollfd ready{m_listener, POLLIN, 0};
        *call = seccomp_notif{};
        return poll(&ready, 1, 10000) == 1 && (ready.revents & POLLIN) != 0 &&
               ioctl(m_listener, SECCOMP_IOCTL_NOTIF_RECV, call) == 0;
    }
    // Fails the rename with error, or lets it go on (0).
    void Answer(const seccomp_notif& call, int error) const
    {
        seccomp_notif_resp answer{};
        answer.id = call.id;
        answer.error = -error;
        answer.flags = error == 0 ? SECCOMP_USER_NOTIF_FLAG_CONTINUE : 0;
        ioctl(m_listener, SECCOMP_IOCTL_NOTIF_SEND, &answer);
    }

private:
    // The filter of the calling thread: -1 where the system has no user notification.
    static int InstallFilter()
    {
        // The bit of O_TMPFILE that O_DIRECTORY does not have.
        constexpr uint32_t kUnnamed = O_TMPFILE & ~O_DIRECTORY;
        sock_filter code[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_openat, 0, 3),
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),
            BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, kUnnamed, 0, 3),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EOPNOTSUPP),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_renameat2, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        sock_fprog program{static_cast<unsigned short>(std::size(code)), code};
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
            return -1;
        return static_cast<int>(syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER,
                                        SECCOMP_FILTER_FLAG_NEW_LISTENER, &program));
    }

    std::promise<int> m_installed;
    std::thread m_thread;
    int m_listener = -1;
};

// The name of the copy a move makes in folder, or an empty path.
fs::path CopyIn(const fs::path& folder)
{
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with(".kelvane-copy-"))
            return entry.path();
    }
    return {};
}

// Whether another open of the file can lock it now.
bool CanLock(const fs::path& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    flock range{};
    range.l_type = F_RDLCK;
    range.l_whence = SEEK_SET;
    const bool locked = fd >= 0 && fcntl(fd, F_OFD_SETLK, &range) == 0;
    if (fd >= 0)
        close(fd);
    return locked;
}

// A file moved to another file system where no file can be made without a name is copied
// under a temporary name beside its destination. Until that copy has its destination's name,
// its writer holds it locked, so no removal of abandoned files takes it, though its name
// tells no process.
TEST_F(LockTest, ACopyUnderATemporaryNameIsLockedWhileItHasThatName)
{
    const fs::path destination = dir.path() / "moved.bin";
    BOOL moved = FALSE;
    ThreadWithoutUnnamedFiles mover([&] {
        moved = MoveFileW(file.u16string().c_str(), destination.u16string().c_str());
    });
    if (!mover.Started())
        GTEST_SKIP() << "needs the system's notification of a thread's calls (seccomp)";
    seccomp_notif rename;
    ASSERT_TRUE(mover.NextRename(&rename));
    mover.Answer(rename, EXDEV);
    ASSERT_TRUE(mover.NextRename(&rename));
    // The copy is complete and about to take the destination's name: the test reads the folder
    // and answers before it checks anything, so that a failed check cannot leave the mover
    // waiting.
    const fs::path copy = CopyIn(dir.path());
    const bool lockable = CanLock(copy);
    DeleteAbandonedFilesW(dir.path().u16string().c_str(), [](const std::u16string& name) {
        return name.starts_with(u".kelvane-copy-");
    });
    const bool kept = fs::exists(copy);
    mover.Answer(rename, 0);
    mover.Finish();
    ASSERT_FALSE(copy.empty());
    EXPECT_FALSE(lockable);
    EXPECT_TRUE(kept);
    EXPECT_TRUE(moved);
    EXPECT_EQ(ReadText(destination), "0123456789abcdefghij");
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(fs::exists(copy));
}

}  // namespace
