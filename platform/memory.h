// Page memory: committed pages (read-write, read-only or no access), zero-filled, released
// whole. Freed read-write allocations are kept mapped, zero-filled, in a small cache (8 MiB
// unless told otherwise) and handed out again for the same page count: message buffers and
// the inflate buffer of a single-reply download come and go without a page fault. A release
// clears the pages its holder says it wrote (SetWrittenLength; all of them unless told) and
// gives the rest back to the kernel: the 5 MiB inflate buffer of a 4 KiB file costs a page,
// not 5 MiB. A block in the cache counts as freed: VirtualFree refuses it and the pointer
// checks call it bad.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/types.h"

LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect);
BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD freeType);

// True when some byte of the range cannot be read (or written). A null pointer with a
// non-zero size is bad; a zero size is never bad.
BOOL IsBadReadPtr(const void* pointer, UINT_PTR size);
BOOL IsBadWritePtr(LPVOID pointer, UINT_PTR size);

// Tells that only the first `written` bytes of the allocation at address have been written
// since it was handed out. When it is freed into the cache, those pages are cleared and the
// pages past them go back to the kernel, which gives fresh zero pages when they are touched
// again: the release costs what was written, and a block used a little after being used much
// costs little again. A hint for the cost only: a freed block reads as zeros whatever it
// says. FALSE when address is not the base of an allocation (487) or written exceeds its
// length (87).
BOOL SetWrittenLength(LPVOID address, SIZE_T written);

// The most bytes of freed allocations the cache keeps unless told otherwise.
// It holds the 5 MiB buffer that a single-reply download inflates into, besides the message
// buffers of a transfer.
constexpr size_t kDefaultPageCacheLimit = 8 * 1024 * 1024;

// Sets the most bytes the cache of freed allocations may keep, unmapping the oldest blocks
// beyond it; 0 keeps none. For benchmarks that compare with and without the cache.
void SetPageCacheLimit(size_t bytes);

// The mmap and munmap calls of the page allocations since the process started.
struct PageMappingCalls {
    uint64_t maps;
    uint64_t unmaps;
};
PageMappingCalls CountPageMappingCalls();
