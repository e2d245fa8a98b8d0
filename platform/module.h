// Run-time lookup of optional system functions. Only the functions the library asks for by
// name exist: "kernel32" provides IsWow64Process and ProcessIdToSessionId.
#pragma once

#include "platform/types.h"

HMODULE LoadLibraryW(LPCWSTR name);
HMODULE GetModuleHandleW(LPCWSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
// A null module names the host executable.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD capacity);

typedef BOOL (*IsWow64ProcessFunction)(HANDLE process, BOOL* wow64);
typedef BOOL (*ProcessIdToSessionIdFunction)(DWORD processId, DWORD* sessionId);

// Gives a FARPROC its real type (one of the typedefs above). A plain reinterpret_cast between
// function types trips -Wcast-function-type; passing through void (*)() does not.
template <typename Function>
Function ProcedureCast(FARPROC procedure)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(procedure));
}

HANDLE GetCurrentProcess();
DWORD GetCurrentProcessId();
DWORD GetCurrentThreadId();
// Whether a process with this id exists (this one, another user's, or one that has ended but
// was not yet waited for).
bool ProcessIsRunning(DWORD processId);
