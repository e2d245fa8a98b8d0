// Page memory: committed pages (read-write, read-only or no access), zero-filled, released
// whole.
#pragma once

#include "platform/types.h"

LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect);
BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD freeType);

// True when some byte of the range cannot be read (or written). A null pointer with a
// non-zero size is bad; a zero size is never bad.
BOOL IsBadReadPtr(const void* pointer, UINT_PTR size);
BOOL IsBadWritePtr(LPVOID pointer, UINT_PTR size);
