// Files with Win32 semantics: access rights, share modes checked against the files this
// process holds open, creation dispositions, 64-bit positions.
#pragma once

#include <memory>
#include <string>

#include "platform/types.h"

// Not a cancellation point: a thread cancelled meanwhile is cancelled at its next one, with
// the handle already given out.
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, void* security,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL CloseHandle(HANDLE handle);

// A handle owned from the moment it exists: OwnedHandle file(CreateFileW(...)) closes it on
// every way out, the unwind of a thread's cancellation included. INVALID_HANDLE_VALUE is
// owned as nothing.
struct HandleClose {
    void operator()(HANDLE handle) const;
};
using OwnedHandle = std::unique_ptr<void, HandleClose>;
BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written, void* overlapped);
DWORD SetFilePointer(HANDLE file, LONG distanceLow, LONG* distanceHigh, DWORD moveMethod);
BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, LARGE_INTEGER* newPosition,
                      DWORD moveMethod);
BOOL SetEndOfFile(HANDLE file);
BOOL FlushFileBuffers(HANDLE file);
DWORD GetFileSize(HANDLE file, DWORD* sizeHigh);
BOOL GetFileSizeEx(HANDLE file, LARGE_INTEGER* size);
BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess,
                 const FILETIME* lastWrite);
BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite);

struct BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
};
BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information);

// What an open of the existing file at path with access (GENERIC_READ, GENERIC_WRITE) and
// every share mode would meet, found without opening it: an open can wait on a pipe, and the
// close of a file opened for writing tells the file's watchers of a write. TRUE with the
// file's information, or FALSE with the error CreateFileW would give: 2 or 3 when it is
// missing, 5 for a folder or a file the process may not open so, 32 when an open of this
// process does not share that access.
BOOL CheckFileAccessW(LPCWSTR path, DWORD access, BY_HANDLE_FILE_INFORMATION* information);

// Creates a file without a name in folder (the system's unnamed files, O_TMPFILE), open for
// reading and writing with the share mode given: it is gone when its handle closes, unless
// LinkFileW gave it a name first, so a crash leaves nothing of it. ERROR_NOT_SUPPORTED where
// the folder's file system has no unnamed files; otherwise the errors of creating a file
// there (3, 5, 112, ...).
HANDLE CreateUnnamedFileW(LPCWSTR folder, DWORD shareMode, DWORD flagsAndAttributes);
// Gives an open file one more name, in the same file system (CreateHardLinkW by handle): the
// name of an unnamed file. An existing name is never replaced (ERROR_ALREADY_EXISTS).
BOOL LinkFileW(HANDLE file, LPCWSTR name);
// Gives the open file the mode of the file at model (links followed), and its owner and group
// where the process may change them. FALSE with ERROR_ACCESS_DENIED when the owner or the
// group could not be given (the mode is given all the same), or with the error of a missing
// model.
BOOL CopyFileSecurityW(LPCWSTR model, HANDLE file);

BOOL DeleteFileW(LPCWSTR path);
// Never replaces an existing destination: fails with ERROR_ALREADY_EXISTS. A file moved to
// another file system is copied, and takes the destination's name only once the copy is
// complete and on the disk.
BOOL MoveFileW(LPCWSTR existing, LPCWSTR destination);
#define MOVEFILE_REPLACE_EXISTING 0x00000001u
// Flags 0: MoveFileW. MOVEFILE_REPLACE_EXISTING: the file takes an existing destination's
// place in one rename, so the destination's name always holds the old file or the new one,
// never neither. As Windows, a read-only destination (FILE_ATTRIBUTE_READONLY) is refused with
// ERROR_ACCESS_DENIED. It never copies: another file system fails with ERROR_NOT_SAME_DEVICE.
BOOL MoveFileExW(LPCWSTR existing, LPCWSTR destination, DWORD flags);
// Puts the file at replacement in the place of the existing file at replaced by one rename,
// after giving it the replaced file's mode, and its owner and group where the process may.
// The caller must be able to write the replaced file (else ERROR_ACCESS_DENIED, as for a
// folder), and every open of this process must share delete (else ERROR_SHARING_VIOLATION).
// A replaced file that is a mount point cannot be replaced (ERROR_UNABLE_TO_REMOVE_REPLACED),
// nor one on another file system (ERROR_NOT_SAME_DEVICE); both files then keep their names.
// No backup file and no flags (else ERROR_INVALID_PARAMETER).
BOOL ReplaceFileW(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR backup, DWORD flags,
                  void* exclude, void* reserved);
BOOL CreateDirectoryW(LPCWSTR path, void* security);
BOOL RemoveDirectoryW(LPCWSTR path);
DWORD GetFileAttributesW(LPCWSTR path);
#define INVALID_FILE_ATTRIBUTES (static_cast<DWORD>(-1))

struct WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    WCHAR cFileName[MAX_PATH];
};
// Patterns may use * and ? in the last component only.
HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data);
BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* data);
BOOL FindClose(HANDLE find);

// The temporary folder with a trailing separator: $TMPDIR, else /tmp. Gives the length
// without the terminator, or the size needed when the buffer is too small.
DWORD GetTempPathW(DWORD capacity, LPWSTR buffer);
DWORD GetCurrentDirectoryW(DWORD capacity, LPWSTR buffer);

// Appends the whole content of the file at a system path to content; false, with errno,
// when it cannot be opened or read.
bool ReadWholeFile(const char* path, std::string* content);

// Seconds since 1970-01-01 UTC to and from FILETIME (100 ns since 1601-01-01 UTC).
FILETIME UnixTimeToFileTime(int64_t seconds);
int64_t FileTimeToUnixTime(const FILETIME& time);
BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, FILETIME* fileTime);
