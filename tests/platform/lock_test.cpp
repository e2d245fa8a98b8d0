// Byte-range locks of file handles (LockFileEx, UnlockFileEx).

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/file.h"
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

}  // namespace
