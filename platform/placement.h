// Putting a file in its place: files made without a name and named later, moves and
// replacements by rename, and what a file takes over from the file it replaces.
#pragma once

#include "platform/types.h"

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
