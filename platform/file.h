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

enum FILE_INFO_BY_HANDLE_CLASS { FileAllocationInfo = 5 };
struct FILE_ALLOCATION_INFO {
    LARGE_INTEGER AllocationSize;
};
// FileAllocationInfo only: reserves room on the disk for the file's first AllocationSize
// bytes, in the holes of a sparse file below that size and past its end, without changing
// its size, so that writes up to that size cannot run out of room (but on a file system that
// writes every change to new blocks, btrfs for one, overwriting the bytes the file has needs
// room of its own, which nothing reserves). Only the ranges that hold no block are reserved
// (where the file system tells no holes, only the part past the end): a file that has them
// all is left untouched. What they come to must fit the room this process may fill (the room
// a file system keeps back for root counts for root and with CAP_SYS_RESOURCE), unless the
// blocks the file holds show that some of those ranges are held without having been written
// (tmpfs's preallocated pages); a file system that tells no size (ramfs) is taken to have it.
// Unlike Windows it never cuts a file longer than AllocationSize.
// ERROR_DISK_FULL when the room is not there, or when the size is past what this process or
// the file system allows a file; nothing is taken then. Reserving leaves the file's bytes,
// size, write time and mode as they were (as far as the process may set them again: another
// user's file loses its set-id bits and write time to a reservation, as to a write). A
// reservation that runs out all the same (the file system's own bookkeeping, a writer
// elsewhere) keeps the holes it filled, which read as zeros, and gives back the rest.
BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, void* info,
                                DWORD size);
// Gives back the room a reservation took past the file's end, once no write is to use it:
// the file keeps its size, bytes, write time and mode.
BOOL FreeReservedRoom(HANDLE file);
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
// Whether two pieces of information describe one file (its volume and its index).
inline bool IsSameFile(const BY_HANDLE_FILE_INFORMATION& one,
                       const BY_HANDLE_FILE_INFORMATION& other)
{
    return one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
           one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow;
}

// Only the offset of a byte range is read (LockFileEx, UnlockFileEx); I/O is synchronous.
struct OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
};
#define LOCKFILE_FAIL_IMMEDIATELY 0x00000001u
#define LOCKFILE_EXCLUSIVE_LOCK 0x00000002u
// Locks the bytes from overlapped's offset for this handle's open of the file: shared, or
// exclusive with LOCKFILE_EXCLUSIVE_LOCK. A range that another open holds in conflict (in
// this process or another, on this machine or another sharing the file system) is waited
// for, or refused at once with ERROR_LOCK_VIOLATION under LOCKFILE_FAIL_IMMEDIATELY. The lock
// lasts until UnlockFileEx or the handle's close. Unlike Windows, locks are advisory: they
// keep other locks off, not reads, writes or removals; a shared lock needs read access and an
// exclusive one write access (else ERROR_ACCESS_DENIED); locks of one handle merge rather
// than conflict. A range past the largest offset runs to the end of the file and beyond.
// ERROR_INVALID_PARAMETER for reserved not 0, no overlapped or no bytes; ERROR_NOT_SUPPORTED
// where the file system keeps no locks.
BOOL LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD bytesLow, DWORD bytesHigh,
                OVERLAPPED* overlapped);
// Releases the range from overlapped's offset that LockFileEx locked. Unlike Windows, a
// range that was not locked is released without complaint.
BOOL UnlockFileEx(HANDLE file, DWORD reserved, DWORD bytesLow, DWORD bytesHigh,
                  OVERLAPPED* overlapped);

// What an open of the existing file at path with access (GENERIC_READ, GENERIC_WRITE) and
// every share mode would meet, found without opening it: an open can wait on a pipe, and the
// close of a file opened for writing tells the file's watchers of a write. TRUE with the
// file's information, or FALSE with the error CreateFileW would give: 2 or 3 when it is
// missing, 5 for a folder or a file the process may not open so, 32 when an open of this
// process does not share that access.
BOOL CheckFileAccessW(LPCWSTR path, DWORD access, BY_HANDLE_FILE_INFORMATION* information);
// Whether a new file can be made in the existing folder at path, found without making one:
// TRUE, or FALSE with the error CreateFileW would give there (5 for a folder the process may
// not write into, an immutable one, or one on a read-only file system).
BOOL CheckFolderAccessW(LPCWSTR path);

BOOL DeleteFileW(LPCWSTR path);
BOOL CreateDirectoryW(LPCWSTR path, void* security);
BOOL RemoveDirectoryW(LPCWSTR path);
DWORD GetFileAttributesW(LPCWSTR path);
#define INVALID_FILE_ATTRIBUTES (static_cast<DWORD>(-1))

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
