#include "platform/memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/error.h"
#include "platform/maps.h"

namespace {

constexpr size_t kHugePageThreshold = 2 * 1024 * 1024;
// Every message buffer is a page allocation of its own, mostly of a few recurring sizes (a
// request, a reply, a 128 KiB chunk, the 5 MiB inflate buffer): freed read-write
// allocations are kept mapped, up to the cache limit in bytes and this many blocks, and handed
// out again for the same length, so that exchanging a message costs no mmap, munmap or page
// fault. Clearing a kept block costs far less than faulting fresh zeroed pages in for it.
constexpr size_t kCachedBlocksMax = 64;

struct Allocation {
    size_t length;
    DWORD protect;
    // The bytes from the start that its holder has written, as it says (SetWrittenLength);
    // the whole length unless told.
    size_t written;
};

// Every live allocation by base address, so that a release unmaps its whole length and the
// pointer checks can answer for these pages without asking the kernel.
std::mutex g_lock;
std::map<uintptr_t, Allocation>& Allocations()
{
    static auto* allocations = new std::map<uintptr_t, Allocation>();
    return *allocations;
}

// A freed allocation kept mapped. It is zero-filled once cleared, and only then handed out
// again. Until it is handed out it counts as freed: it is in no allocation table entry, and
// the pointer checks call its pages bad.
struct KeptBlock {
    uintptr_t address;
    size_t length;
    bool cleared;
};

// The kept blocks, oldest first, and their total length. Guarded by g_lock; never destroyed,
// so that pages freed while the process exits still find it.
struct PageCache {
    PageCache() { blocks.reserve(kCachedBlocksMax); }
    std::vector<KeptBlock> blocks;
    size_t bytes = 0;
    size_t limit = kDefaultPageCacheLimit;
};

PageCache& Cache()
{
    static auto* cache = new PageCache();
    return *cache;
}

std::atomic<uint64_t> g_mapCalls{0};
std::atomic<uint64_t> g_unmapCalls{0};

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

void* MapPages(size_t length, int flags)
{
    g_mapCalls.fetch_add(1, std::memory_order_relaxed);
    return mmap(nullptr, length, flags, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
}

void UnmapPages(uintptr_t address, size_t length)
{
    g_unmapCalls.fetch_add(1, std::memory_order_relaxed);
    munmap(reinterpret_cast<void*>(address), length);
}

// Unmaps the oldest cleared kept block; false when there is none. The caller holds g_lock.
bool DropOldestKeptBlock()
{
    auto& kept = Cache().blocks;
    auto oldest = std::find_if(kept.begin(), kept.end(),
                               [](const KeptBlock& block) { return block.cleared; });
    if (oldest == kept.end())
        return false;
    UnmapPages(oldest->address, oldest->length);
    Cache().bytes -= oldest->length;
    kept.erase(oldest);
    return true;
}

// Takes a freed allocation into the cache, not yet cleared; false when it is not kept (the
// caller unmaps it). The caller holds g_lock.
bool KeepBlock(uintptr_t address, const Allocation& allocation)
{
    PageCache& cache = Cache();
    if (allocation.protect != PAGE_READWRITE || allocation.length > cache.limit)
        return false;
    while (cache.bytes + allocation.length > cache.limit ||
           cache.blocks.size() >= kCachedBlocksMax) {
        if (!DropOldestKeptBlock())
            return false;
    }
    cache.blocks.push_back(KeptBlock{address, allocation.length, false});
    cache.bytes += allocation.length;
    return true;
}

// Lets a kept block be handed out once it is zero-filled, or unmaps it when the cache
// shrank meanwhile. The caller holds g_lock.
void MarkBlockCleared(uintptr_t address)
{
    PageCache& cache = Cache();
    auto block = std::find_if(cache.blocks.begin(), cache.blocks.end(),
                              [address](const KeptBlock& kept) { return kept.address == address; });
    block->cleared = true;
    if (cache.bytes > cache.limit) {
        UnmapPages(block->address, block->length);
        cache.bytes -= block->length;
        cache.blocks.erase(block);
    }
}

// The most recently freed cleared block of this length, taken out of the cache; 0 when there
// is none. The caller holds g_lock.
uintptr_t TakeKeptBlock(size_t length)
{
    PageCache& cache = Cache();
    auto newest = std::find_if(cache.blocks.rbegin(), cache.blocks.rend(),
                               [length](const KeptBlock& block) {
                                   return block.cleared && block.length == length;
                               });
    if (newest == cache.blocks.rend())
        return 0;
    uintptr_t address = newest->address;
    cache.bytes -= length;
    cache.blocks.erase(std::next(newest).base());
    return address;
}

// Zero-fills a freed block: the pages that its last holder said it wrote (all of them unless
// told otherwise) are cleared and stay in memory for the next use; every page past them goes
// back to the kernel, which maps fresh zero pages when they are touched again (or, should it
// refuse, as for locked memory, they are cleared too). A page written past what the holder
// said reads as zeros all the same once given back: the hint decides the cost, never what the
// next holder reads. So a block used a little after being used much costs little again, where
// clearing the pages left in memory would cost much for ever.
void ClearWrittenPages(uintptr_t address, size_t length, size_t written)
{
    const size_t page = PageSize();
    const size_t split = std::min(length, (written + page - 1) / page * page);
    void* rest = reinterpret_cast<void*>(address + split);
    if (length > split && madvise(rest, length - split, MADV_DONTNEED) != 0)
        std::memset(rest, 0, length - split);
    std::memset(reinterpret_cast<void*>(address), 0, split);
}

// Whether some byte of [begin, end) lies in a kept block. The caller holds g_lock.
bool OverlapsKeptBlock(uintptr_t begin, uintptr_t end)
{
    const auto& kept = Cache().blocks;
    return std::any_of(kept.begin(), kept.end(), [begin, end](const KeptBlock& block) {
        return begin < block.address + block.length && block.address < end;
    });
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
        if (OverlapsKeptBlock(begin, end))
            return TRUE;
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
    uintptr_t kept = protect == PAGE_READWRITE ? TakeKeptBlock(length) : 0;
    if (kept != 0) {
        Allocations()[kept] = Allocation{length, protect, length};
        return reinterpret_cast<LPVOID>(kept);
    }
    void* pages = MapPages(length, flags);
    if (pages == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // Large message buffers are filled once, front to back, right after allocation: huge
    // pages cut the page faults of a 64 MiB payload to a few dozen. A block that the cache
    // may keep gets small pages only: its release clears the pages a use wrote and gives back
    // the rest, and one byte written into a huge page would fault in all 2 MiB of it.
    if (length >= kHugePageThreshold)
        madvise(pages, length, length > Cache().limit ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
    Allocations()[reinterpret_cast<uintptr_t>(pages)] = Allocation{length, protect, length};
    return pages;
}

BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD freeType)
{
    if (freeType != MEM_RELEASE || size != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto base = reinterpret_cast<uintptr_t>(address);
    size_t length;
    size_t written;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        auto found = Allocations().find(base);
        if (found == Allocations().end()) {
            SetLastError(ERROR_INVALID_ADDRESS);
            return FALSE;
        }
        const Allocation allocation = found->second;
        Allocations().erase(found);
        if (!KeepBlock(base, allocation)) {
            UnmapPages(base, allocation.length);
            return TRUE;
        }
        length = allocation.length;
        written = allocation.written;
    }
    // Cleared outside the lock: the block is already freed for everyone, and no one can be
    // handed it before it is marked cleared.
    ClearWrittenPages(base, length, written);
    std::lock_guard<std::mutex> lock(g_lock);
    MarkBlockCleared(base);
    return TRUE;
}

BOOL SetWrittenLength(LPVOID address, SIZE_T written)
{
    std::lock_guard<std::mutex> lock(g_lock);
    auto found = Allocations().find(reinterpret_cast<uintptr_t>(address));
    if (found == Allocations().end()) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    if (written > found->second.length) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    found->second.written = written;
    return TRUE;
}

void SetPageCacheLimit(size_t bytes)
{
    std::lock_guard<std::mutex> lock(g_lock);
    Cache().limit = bytes;
    while (Cache().bytes > bytes && DropOldestKeptBlock()) {
    }
}

PageMappingCalls CountPageMappingCalls()
{
    return PageMappingCalls{g_mapCalls.load(std::memory_order_relaxed),
                            g_unmapCalls.load(std::memory_order_relaxed)};
}

BOOL IsBadReadPtr(const void* pointer, UINT_PTR size)
{
    return IsBadRange(pointer, size, false);
}

BOOL IsBadWritePtr(LPVOID pointer, UINT_PTR size)
{
    return IsBadRange(pointer, size, true);
}
