// Registry values under HKEY_LOCAL_MACHINE, read from the INI file named by
// $KELVANE_REGISTRY (default /etc/kelvane/registry.ini): section = key path, key = value
// name. Values are strings (REG_SZ).
#pragma once

#include "platform/types.h"

#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002)))
#define KEY_READ 0x20019u
#define KEY_QUERY_VALUE 0x0001u
#define REG_SZ 1u

LSTATUS RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options, DWORD access, HKEY* result);
// Copies the value with its terminator as UTF-16 bytes; *size is the buffer's size in bytes
// on entry and the value's size on return (ERROR_MORE_DATA when it does not fit).
LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* size);
LSTATUS RegCloseKey(HKEY key);
