#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/memory.h"
#include "util/Cutil.h"

namespace {

const size_t kPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));

TEST(Memory, AllocationsAreZeroedWritablePages)
{
    auto* pages = static_cast<unsigned char*>(
        VirtualAlloc(nullptr, 3 * kPage + 1, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(pages, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(pages) % kPage, 0u);
    for (size_t i = 0; i < 4 * kPage; ++i)
        ASSERT_EQ(pages[i], 0) << i;
    std::memset(pages, 0xAB, 4 * kPage);  // the whole last page belongs to the allocation
    EXPECT_FALSE(IsBadWritePtr(pages, 4 * kPage));
    EXPECT_FALSE(IsBadReadPtr(pages, 4 * kPage));
    EXPECT_TRUE(VirtualFree(pages, 0, MEM_RELEASE));
}

// A small block is kept in the cache when freed, one larger than the cache is unmapped: both
// are freed for every check, and a second release of either is refused.
TEST(Memory, ReleasedPagesCountAsFreed)
{
    for (size_t size : {8 * kPage, 2 * kDefaultPageCacheLimit}) {
        void* pages = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        ASSERT_NE(pages, nullptr);
        auto* last = static_cast<char*>(pages) + size - kPage;
        ASSERT_TRUE(VirtualFree(pages, 0, MEM_RELEASE));
        EXPECT_TRUE(IsBadReadPtr(pages, 1)) << size;
        EXPECT_TRUE(IsBadReadPtr(last, 1)) << size;
        EXPECT_TRUE(IsBadWritePtr(last, kPage)) << size;
        EXPECT_EQ(VirtualAlloc(last, 8, MEM_COMMIT, PAGE_READWRITE), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
        EXPECT_FALSE(VirtualFree(pages, 0, MEM_RELEASE));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
        EXPECT_FALSE(Cutil::FreePacket(pages));
    }
}

// A message buffer and the 5 MiB buffer that a single reply is inflated into.
TEST(Memory, FreedPagesComeBackZeroFilledWithoutANewMapping)
{
    for (size_t size : {5 * kPage - 100, size_t{0x500000}}) {
        const size_t whole = (size + kPage - 1) / kPage * kPage;
        auto* pages = static_cast<unsigned char*>(
            VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        ASSERT_NE(pages, nullptr);
        std::memset(pages, 0xAB, whole);
        ASSERT_TRUE(VirtualFree(pages, 0, MEM_RELEASE));
        // Read-only pages never come from the cache.
        void* readOnly = VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READONLY);
        EXPECT_NE(readOnly, pages);
        VirtualFree(readOnly, 0, MEM_RELEASE);

        const PageMappingCalls before = CountPageMappingCalls();
        auto* again = static_cast<unsigned char*>(
            VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        EXPECT_EQ(again, pages) << size;
        EXPECT_EQ(CountPageMappingCalls().maps, before.maps) << size;
        ASSERT_TRUE(std::all_of(again, again + whole, [](unsigned char byte) { return byte == 0; }))
            << size;
        EXPECT_FALSE(IsBadWritePtr(again, whole));
        EXPECT_TRUE(VirtualFree(again, 0, MEM_RELEASE));
    }
}

// The 5 MiB buffer that a single reply is inflated into, after a reply that wrote a few
// scattered pages of it. A release clears some pages and gives others back, so every written
// one must come back zero either way.
constexpr size_t kInflateBuffer = 0x500000;

unsigned char* TakeInflateBuffer()
{
    return static_cast<unsigned char*>(
        VirtualAlloc(nullptr, kInflateBuffer, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
}

// A block of fresh pages, none written yet: the cache is emptied first.
unsigned char* FreshInflateBuffer()
{
    SetPageCacheLimit(0);
    SetPageCacheLimit(kDefaultPageCacheLimit);
    return TakeInflateBuffer();
}

void Scribble(unsigned char* block, std::initializer_list<size_t> offsets)
{
    for (size_t offset : offsets)
        block[offset] = 0xCD;
}

// Frees the block and takes it again: true when the same block comes back all zeros.
bool ComesBackZeroed(unsigned char* block)
{
    VirtualFree(block, 0, MEM_RELEASE);
    unsigned char* again = TakeInflateBuffer();
    const bool zeroed = again == block && std::all_of(again, again + kInflateBuffer,
                                                      [](unsigned char byte) { return byte == 0; });
    VirtualFree(again, 0, MEM_RELEASE);
    return zeroed;
}

TEST(Memory, PartlyWrittenBlockComesBackZeroFilled)
{
    unsigned char* block = FreshInflateBuffer();
    ASSERT_NE(block, nullptr);
    Scribble(block, {0, 37 * kPage + 5, kInflateBuffer - 1});
    EXPECT_TRUE(ComesBackZeroed(block));

    // A holder that wrote all of it and says it wrote one page: the pages past that one are
    // given back to the kernel, and they too read as zeros.
    block = TakeInflateBuffer();
    ASSERT_NE(block, nullptr);
    std::memset(block, 0xCD, kInflateBuffer);
    EXPECT_FALSE(SetWrittenLength(block + kPage, 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
    EXPECT_FALSE(SetWrittenLength(block, kInflateBuffer + 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    ASSERT_TRUE(SetWrittenLength(block, kPage));
    EXPECT_TRUE(ComesBackZeroed(block));

    // A forked child writes pages that its parent never wrote: its release clears its own.
    block = FreshInflateBuffer();
    ASSERT_NE(block, nullptr);
    Scribble(block, {0});
    ASSERT_TRUE(VirtualFree(block, 0, MEM_RELEASE));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        unsigned char* again = TakeInflateBuffer();
        if (again != block)
            _exit(2);
        Scribble(again, {kInflateBuffer / 2, kInflateBuffer - 1});
        _exit(ComesBackZeroed(again) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// Threads take and free blocks of a few lengths at once: every block is theirs alone while
// they hold it (no one else is handed it or writes into it) and comes zero-filled.
TEST(Memory, NoBlockIsHandedOutTwiceAcrossThreads)
{
    constexpr int kThreads = 8;
    constexpr int kRounds = 1500;
    const std::vector<unsigned char> zeros(3 * kPage, 0);
    std::mutex heldLock;
    std::set<void*> held;
    std::atomic<int> faults{0};
    auto work = [&](int thread) {
        const std::vector<unsigned char> mark(3 * kPage, static_cast<unsigned char>(thread + 1));
        for (int round = 0; round < kRounds; ++round) {
            const size_t size = (1 + (round + thread) % 3) * kPage;
            void* block = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
            if (block == nullptr || std::memcmp(block, zeros.data(), size) != 0) {
                ++faults;
                continue;
            }
            {
                std::lock_guard<std::mutex> lock(heldLock);
                if (!held.insert(block).second)
                    ++faults;
            }
            std::memcpy(block, mark.data(), size);
            std::this_thread::yield();
            if (std::memcmp(block, mark.data(), size) != 0)
                ++faults;
            {
                std::lock_guard<std::mutex> lock(heldLock);
                held.erase(block);
            }
            if (!VirtualFree(block, 0, MEM_RELEASE))
                ++faults;
        }
    };
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread)
        threads.emplace_back(work, thread);
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(faults.load(), 0);
}

TEST(Memory, BadRequestsFailWithInvalidParameter)
{
    EXPECT_EQ(VirtualAlloc(nullptr, 0, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(VirtualAlloc(nullptr, kPage, 0, PAGE_READWRITE), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    void* pages = VirtualAlloc(nullptr, kPage, MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(pages, nullptr);
    EXPECT_FALSE(VirtualFree(pages, kPage, MEM_RELEASE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(VirtualFree(static_cast<char*>(pages) + 16, 0, MEM_RELEASE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
    // Committing pages of an allocation again gives back their page.
    EXPECT_EQ(VirtualAlloc(static_cast<char*>(pages) + 16, 8, MEM_COMMIT, PAGE_READWRITE), pages);
    EXPECT_TRUE(VirtualFree(pages, 0, MEM_RELEASE));
}

TEST(Memory, PointerChecksFollowProtection)
{
    void* readOnly = VirtualAlloc(nullptr, 2 * kPage, MEM_COMMIT, PAGE_READONLY);
    ASSERT_NE(readOnly, nullptr);
    EXPECT_FALSE(IsBadReadPtr(readOnly, 2 * kPage));
    EXPECT_TRUE(IsBadWritePtr(readOnly, 1));
    EXPECT_TRUE(IsBadReadPtr(nullptr, 1));
    VirtualFree(readOnly, 0, MEM_RELEASE);

    void* none = VirtualAlloc(nullptr, kPage, MEM_COMMIT, PAGE_NOACCESS);
    ASSERT_NE(none, nullptr);
    EXPECT_TRUE(IsBadReadPtr(none, 1));
    VirtualFree(none, 0, MEM_RELEASE);
}

TEST(Memory, PointerChecksKnowOrdinaryMemory)
{
    int onStack[16] = {};
    static int inData[16];
    EXPECT_FALSE(IsBadWritePtr(onStack, sizeof onStack));
    EXPECT_FALSE(IsBadWritePtr(inData, sizeof inData));
    EXPECT_FALSE(IsBadReadPtr(reinterpret_cast<const void*>(&IsBadReadPtr), 16));
    EXPECT_TRUE(IsBadWritePtr(reinterpret_cast<void*>(&IsBadReadPtr), 16));
    EXPECT_FALSE(IsBadReadPtr(nullptr, 0));
    EXPECT_TRUE(IsBadReadPtr(reinterpret_cast<void*>(UINTPTR_MAX - 4), 16));
}

TEST(Memory, PointerChecksSeeAHoleInsideOtherMappings)
{
    void* mapped = mmap(nullptr, 3 * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                        -1, 0);
    ASSERT_NE(mapped, MAP_FAILED);
    auto* base = static_cast<char*>(mapped);
    ASSERT_EQ(mprotect(base + kPage, kPage, PROT_READ), 0);
    EXPECT_FALSE(IsBadReadPtr(base, 3 * kPage));
    EXPECT_TRUE(IsBadWritePtr(base, 3 * kPage));
    EXPECT_FALSE(IsBadWritePtr(base + 2 * kPage, kPage));
    ASSERT_EQ(mprotect(base + kPage, kPage, PROT_NONE), 0);
    EXPECT_TRUE(IsBadReadPtr(base + kPage - 1, 2));
    EXPECT_FALSE(IsBadReadPtr(base, kPage));
    munmap(mapped, 3 * kPage);
    EXPECT_TRUE(IsBadReadPtr(base + 2 * kPage, 1));
}

}  // namespace
