#include "platform/memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <map>
#include <mutex>

#include "platform/error.h"
#include "platform/maps.h"

namespace {

constexpr size_t kHugePageThreshold = 2 * 1024 * 1024;


struct Allocation {
    size_t length;
    DWORD protect;
};

// Every live allocation by base address, so that a release unmaps its whole length and the
// pointer checks can answer for these pages without asking the kernel.
std::mutex g_lock;
std::map<uintptr_t, Allocation>& Allocations()
{
    static auto* allocations = new std::map<uintptr_t, Allocation>();
    return *allocations;
}

size_t PageSize()
{
    static const size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

bool ProtectionFlags(DWORD protect, int* flags)
{
    switch (protect) {
    case PAGE_NOACCESS:
        *flags = PROT_NONE;
        return true;
    case PAGE_READONLY:
        *flags = PROT_READ;
        return true;
    case PAGE_READWRITE:
        *flags = PROT_READ | PROT_WRITE;
        return true;
    default:
        return false;
    }
}

// The allocation holding the whole range [begin, end), or the end of the table. The caller
// holds g_lock.
std::map<uintptr_t, Allocation>::iterator FindAllocation(uintptr_t begin, uintptr_t end)
{
    auto& allocations = Allocations();
    auto found = allocations.upper_bound(begin);
    if (found == allocations.begin())
        return allocations.end();
    --found;
    if (end > found->first + found->second.length)
        return allocations.end();
    return found;
}

// Whether every byte of the range lies in mappings with the access asked for.
bool RangeIsMapped(uintptr_t begin, uintptr_t end, bool write)
{
    uintptr_t next = begin;
    for (const MappedRange& range : ReadProcessMaps()) {
        if (range.end <= next)
            continue;
        if (range.begin > next || !range.readable || (write && !range.writable))
            return false;
        next = range.end;
        if (next >= end)
            return true;
    }
    return false;
}

BOOL IsBadRange(const void* pointer, UINT_PTR size, bool write)
{
    if (size == 0)
        return FALSE;
    auto begin = reinterpret_cast<uintptr_t>(pointer);
    uintptr_t end;
    if (pointer == nullptr || __builtin_add_overflow(begin, size, &end))
        return TRUE;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        auto found = FindAllocation(begin, end);
        if (found != Allocations().end()) {
            DWORD protect = found->second.protect;
            return protect == PAGE_READWRITE || (!write && protect == PAGE_READONLY) ? FALSE
                                                                                       : TRUE;
        }
    }
    return RangeIsMapped(begin, end, write) ? FALSE : TRUE;
}

}  // namespace

LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect)
{
    int flags;
    if (size == 0 || (allocationType & (MEM_COMMIT | MEM_RESERVE)) == 0 ||
        (allocationType & ~(MEM_COMMIT | MEM_RESERVE)) != 0 || !ProtectionFlags(protect, &flags)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(g_lock);
    if (address != nullptr) {
        // Every allocation is committed whole from the start, so committing pages of one
        // again only confirms them.
        auto begin = reinterpret_cast<uintptr_t>(address);
        uintptr_t end;
        if (__builtin_add_overflow(begin, size, &end) ||
            FindAllocation(begin, end) == Allocations().end()) {
            SetLastError(ERROR_INVALID_ADDRESS);
            return nullptr;
        }
        if (!(allocationType & MEM_COMMIT) ||
            FindAllocation(begin, end)->second.protect != protect) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        return reinterpret_cast<LPVOID>(begin & ~(PageSize() - 1));
    }
    if (size > SIZE_MAX - PageSize()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    size_t length = (size + PageSize() - 1) & ~(PageSize() - 1);
    void* pages = mmap(nullptr, length, flags, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // Large message buffers are filled once, front to back, right after allocation: huge
    // pages cut the page faults of a 64 MiB payload to a few dozen.
    if (length >= kHugePageThreshold)
        madvise(pages, length, MADV_HUGEPAGE);
    Allocations()[reinterpret_cast<uintptr_t>(pages)] = Allocation{length, protect};
    return pages;
}

BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD freeType)
{
    if (freeType != MEM_RELEASE || size != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(g_lock);
    auto found = Allocations().find(reinterpret_cast<uintptr_t>(address));
    if (found == Allocations().end()) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    munmap(address, found->second.length);
    Allocations().erase(found);
    return TRUE;
}

BOOL IsBadReadPtr(const void* pointer, UINT_PTR size)
{
    return IsBadRange(pointer, size, false);
}

BOOL IsBadWritePtr(LPVOID pointer, UINT_PTR size)
{
    return IsBadRange(pointer, size, true);
}
