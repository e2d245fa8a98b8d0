// What the file calls of the layer share: the native path of a caller's path, the Win32
// error for a failed call on it, and how a file's status reads as Win32 values. Not for code
// above the layer.
#pragma once

#include <sys/stat.h>

#include <string>

#include "platform/types.h"

// 100 ns intervals from 1601-01-01 to 1970-01-01, and per second.
constexpr int64_t kUnixEpochInFileTime = 116444736000000000LL;
constexpr int64_t kFileTimeUnitsPerSecond = 10000000LL;

// The folder that holds a native path's last component ("." for a bare name).
std::string ParentFolder(const std::string& native);
// Sets and gives the error of a path that is missing: "file not found" when its folder is
// there, "path not found" when not.
DWORD SetMissingPathError(const std::string& native);
// Sets and gives the Win32 error for errno after a call on native failed.
DWORD SetErrorForPath(const std::string& native);
// The POSIX path of a caller's path; false with the last error set when it has none.
bool ToNative(LPCWSTR path, std::string* native);
FILETIME FileTimeFromTimespec(const struct timespec& time);
// The attributes Windows would give the file: folder, read-only or normal file, and device
// for everything that is neither a folder nor a regular file.
DWORD AttributesFromStatus(const struct stat& status);
// Whether two statuses are of one file.
inline bool IsSameFile(const struct stat& one, const struct stat& other)
{
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}
// CreateFileW, but a file it creates gets at most creationMode (less the umask, or what the
// folder's default access list takes away) rather than 0666.
HANDLE CreateFileWithMode(LPCWSTR path, DWORD access, DWORD shareMode, DWORD disposition,
                          DWORD flagsAndAttributes, mode_t creationMode);
// Whether the process may access native as rights (R_OK, W_OK, X_OK) ask, by its effective
// ids, links followed; false with errno. The kernel's check, which also refuses writing to an
// immutable file or on a read-only file system, though the mode allows it.
bool HasAccess(const std::string& native, int rights);
// open(2), tried again when a signal interrupts it, and, for an open that must not wait,
// while a lease on the file is being broken.
int OpenOrRetry(const char* path, int flags, mode_t mode);
