#include "platform/module.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "platform/error.h"
#include "platform/path.h"
#include "platform/text.h"

namespace {

// Stand-ins for module handles: their addresses are the handle values.
char g_systemModule;
char g_hostModule;

HMODULE SystemModule()
{
    return &g_systemModule;
}

HMODULE HostModule()
{
    return &g_hostModule;
}

// "kernel32" with or without ".dll", in any case.
bool IsSystemModuleName(LPCWSTR name)
{
    std::u16string text(name);
    for (WCHAR& c : text) {
        if (c >= u'A' && c <= u'Z')
            c = static_cast<WCHAR>(c + (u'a' - u'A'));
    }
    return text == u"kernel32" || text == u"kernel32.dll";
}

HMODULE FindModule(LPCWSTR name)
{
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!IsSystemModuleName(name)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return SystemModule();
}

// Function pointers pass through void (*)() so that the compiler accepts the change of type.
template <typename Function>
FARPROC AsFarProc(Function function)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

BOOL IsWow64ProcessImpl(HANDLE process, BOOL* wow64)
{
    if (process != GetCurrentProcess()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (wow64 == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // A 64-bit process on a 64-bit system is never a 32-bit guest.
    *wow64 = FALSE;
    return TRUE;
}

// The session of a process is the real user id it runs as.
BOOL ProcessIdToSessionIdImpl(DWORD processId, DWORD* sessionId)
{
    if (sessionId == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (processId == GetCurrentProcessId()) {
        *sessionId = static_cast<DWORD>(getuid());
        return TRUE;
    }
    struct stat status;
    std::string folder = "/proc/" + std::to_string(processId);
    if (stat(folder.c_str(), &status) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *sessionId = static_cast<DWORD>(status.st_uid);
    return TRUE;
}

}  // namespace

HMODULE LoadLibraryW(LPCWSTR name)
{
    return FindModule(name);
}

HMODULE GetModuleHandleW(LPCWSTR name)
{
    return name == nullptr ? HostModule() : FindModule(name);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name)
{
    if (module != SystemModule() && module != HostModule()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // Names below 0x10000 are ordinals, which no module here has.
    if (module == SystemModule() && reinterpret_cast<uintptr_t>(name) > 0xFFFF) {
        if (std::strcmp(name, "IsWow64Process") == 0)
            return AsFarProc(&IsWow64ProcessImpl);
        if (std::strcmp(name, "ProcessIdToSessionId") == 0)
            return AsFarProc(&ProcessIdToSessionIdImpl);
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL FreeLibrary(HMODULE module)
{
    if (module != SystemModule() && module != HostModule()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD capacity)
{
    if (module != nullptr && module != HostModule()) {
        SetLastError(module == SystemModule() ? ERROR_MOD_NOT_FOUND : ERROR_INVALID_HANDLE);
        return 0;
    }
    std::u16string path = HostExecutablePath();
    if (path.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    if (buffer == nullptr || capacity == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // Too small a buffer receives as much as fits, terminated, and the capacity comes back.
    size_t copied = std::min<size_t>(path.size(), capacity - 1);
    std::copy(path.begin(), path.begin() + static_cast<ptrdiff_t>(copied), buffer);
    buffer[copied] = 0;
    if (copied < path.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return capacity;
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(copied);
}

HANDLE GetCurrentProcess()
{
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
}

DWORD GetCurrentProcessId()
{
    return static_cast<DWORD>(getpid());
}

DWORD GetCurrentThreadId()
{
    // Asked for in the channel's messages of every chunk: one system call per thread is enough.
    thread_local const DWORD id = static_cast<DWORD>(syscall(SYS_gettid));
    return id;
}

bool ProcessIsRunning(DWORD processId)
{
    // Signal 0 only asks whether the process may be signalled: EPERM says that it exists. Ids
    // of 0 and beyond the signed range name groups of processes, not one.
    if (processId == 0 || processId > static_cast<DWORD>(INT_MAX))
        return false;
    return kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM;
}
