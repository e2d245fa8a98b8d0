#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/memory.h"

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

TEST(Memory, ReleaseUnmapsTheWholeAllocation)
{
    void* pages = VirtualAlloc(nullptr, 8 * kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    ASSERT_NE(pages, nullptr);
    auto* last = static_cast<char*>(pages) + 7 * kPage;
    ASSERT_TRUE(VirtualFree(pages, 0, MEM_RELEASE));
    EXPECT_TRUE(IsBadReadPtr(pages, 1));
    EXPECT_TRUE(IsBadReadPtr(last, 1));
    EXPECT_TRUE(IsBadWritePtr(last, kPage));
    EXPECT_FALSE(VirtualFree(pages, 0, MEM_RELEASE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
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
