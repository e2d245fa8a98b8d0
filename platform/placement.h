// Putting a file in its place: files made without a name and named later, moves and
// replacements by rename, and what a file takes over from the file it replaces.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/types.h"

// Creates a file without a name in folder (the system's unnamed files, O_TMPFILE), open for
// reading and writing with the share mode given: it is gone when its handle closes, unless
// LinkFileW gave it a name first, so a crash leaves nothing of it. ERROR_NOT_SUPPORTED where
// the folder's file system has no unnamed files; otherwise the errors of creating a file
// there (3, 5, 112, ...).
HANDLE CreateUnnamedFileW(LPCWSTR folder, DWORD shareMode, DWORD flagsAndAttributes);
// Creates a new file at path (CREATE_NEW), open for reading and writing with the share mode
// given, that no one but its owner may open from the moment it exists (mode 0600 at most): a
// file whose name others can see while its data arrives. The errors of CreateFileW.
HANDLE CreatePrivateFileW(LPCWSTR path, DWORD shareMode, DWORD flagsAndAttributes);
// The mode a file that CreateFileW makes in folder gets: 0666 less what the folder's default
// access list takes away where it has one, else less the process's umask. FALSE with the
// error of a folder whose default list cannot be read, or where the umask cannot be told.
BOOL GetNewFileModeW(LPCWSTR folder, DWORD* mode);
// Gives an open file one more name, in the same file system (CreateHardLinkW by handle): the
// name of an unnamed file. An existing name is never replaced (ERROR_ALREADY_EXISTS).
BOOL LinkFileW(HANDLE file, LPCWSTR name);
// Removes name, but only while it names the open file: a name that now holds another file is
// left (ERROR_FILE_NOT_FOUND).
BOOL RemoveFileNameW(HANDLE file, LPCWSTR name);

// What a file is besides its bytes, which a file that takes its place by a rename must be
// given to keep it: who may read, write or run it (the mode, and the POSIX access list among
// the extended attributes), whom it belongs to, and the rest of its extended attributes (the
// user's own, and the others the process may read).
struct FileSecurity {
    DWORD mode = 0;
    DWORD owner = 0;
    DWORD group = 0;
    std::vector<std::pair<std::string, std::string>> attributes;
};
// What any change to a file but to its bytes alters: the file it is (its volume and index),
// its mode, owner, group and number of names, and the time of its last change of any kind
// (which a new attribute or access list moves too, to the system's coarse clock).
struct FileStamp {
    uint64_t volume = 0;
    uint64_t index = 0;
    DWORD mode = 0;
    DWORD owner = 0;
    DWORD group = 0;
    DWORD links = 0;
    int64_t changedSeconds = 0;
    int64_t changedNanoseconds = 0;
    bool operator==(const FileStamp&) const = default;
    bool IsSameFile(const FileStamp& other) const
    {
        return volume == other.volume && index == other.index;
    }
};
// Reads the security of the file at path, links followed, and, unless stamp is null, its stamp
// from the same status read (filled even when an attribute then cannot be read). FALSE with
// the error of a missing file, or of an attribute that cannot be read.
BOOL GetFileSecurityW(LPCWSTR path, FileSecurity* security, FileStamp* stamp = nullptr);
// Reads the stamp of the file at path, links followed, in one status read. FALSE with the
// error of a missing file.
BOOL GetFileStampW(LPCWSTR path, FileStamp* stamp);
// Reads the mode, owner and group of the open file (not its attributes).
BOOL GetFileModeByHandle(HANDLE file, FileSecurity* security);
// The parts of a FileSecurity that SetFileSecurityByHandle gives.
constexpr DWORD kSecurityOwner = 1;  // owner and group
constexpr DWORD kSecurityMode = 2;
constexpr DWORD kSecurityAttributes = 4;  // exactly these attributes: others are removed
// Gives the open file the parts of security asked for, in that order: the owner first, since
// changing it clears the set-user-id and set-group-id bits that the mode then sets again, and
// the access list last, since it decides the group bits of the mode. FALSE with the error of
// the first part the process may not give (ERROR_ACCESS_DENIED for an owner or a group that is
// not its own, or an attribute it may not set); the parts before it are given.
BOOL SetFileSecurityByHandle(HANDLE file, const FileSecurity& security, DWORD parts);

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
// Puts the file at replacement in the place of the existing file at replaced by one rename.
// The caller must be able to write the replaced file (else ERROR_ACCESS_DENIED, as for a
// folder), and every open of this process must share delete (else ERROR_SHARING_VIOLATION).
// A replaced file that is a mount point cannot be replaced (ERROR_UNABLE_TO_REMOVE_REPLACED),
// nor one on another file system (ERROR_NOT_SAME_DEVICE); both files then keep their names.
// The replacement keeps its own mode, owner and attributes: a caller that wants the replaced
// file's gives them first (SetFileSecurityByHandle). No backup file and no flags (else
// ERROR_INVALID_PARAMETER).
BOOL ReplaceFileW(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR backup, DWORD flags,
                  void* exclude, void* reserved);
