#include "platform/placement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/FileObject.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/filelock.h"
#include "platform/nativefile.h"
#include "platform/sync.h"

namespace {

// Renames a file or folder to a name that must be free. Where the file system cannot rename
// without replacing, a file moves by a hard link, which refuses an existing name just as
// well, and the removal of its old name; a folder then fails with EXDEV.
bool RenameWithoutReplacing(const std::string& source, const std::string& target,
                            bool directory)
{
    if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (directory || link(source.c_str(), target.c_str()) != 0) {
        if (errno == EINVAL || errno == ENOSYS || errno == EPERM)
            errno = EXDEV;
        return false;
    }
    unlink(source.c_str());
    return true;
}

// A file without a name in folder (O_TMPFILE), open for reading and writing; it can be given
// a name later. -1 with errno when it cannot be made.
int OpenUnnamed(const std::string& folder, mode_t mode)
{
    return OpenOrRetry(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
}

// Whether the errno of OpenUnnamed says that the folder's file system (or the system) has no
// unnamed files, rather than that this folder refuses a new file.
bool IsUnnamedFileUnsupported(int error)
{
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// Gives the file open on fd the name, which must be free. A process without the right to link
// by descriptor alone links the descriptor's entry under /proc instead.
bool LinkDescriptor(int fd, const std::string& name)
{
    if (linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0)
        return true;
    if (errno != ENOENT)
        return false;
    const std::string entry = "/proc/self/fd/" + std::to_string(fd);
    return linkat(AT_FDCWD, entry.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// The names of the file's extended attributes, or an empty list where the file system keeps
// none. False with errno when they cannot be listed.
bool ListAttributes(const std::string& native, std::vector<std::string>* names)
{
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = listxattr(native.c_str(), buffer.data(), buffer.size());
        if (length < 0 && errno == ERANGE) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        if (length < 0)
            return errno == ENOTSUP;
        for (size_t start = 0; start < static_cast<size_t>(length);) {
            names->emplace_back(buffer.data() + start);
            start += names->back().size() + 1;
        }
        return true;
    }
}

// The value of one extended attribute; false with errno when it cannot be read.
bool ReadAttribute(const std::string& native, const std::string& name, std::string* value)
{
    for (;;) {
        const ssize_t length = getxattr(native.c_str(), name.c_str(), value->data(), value->size());
        if (length >= 0 && static_cast<size_t>(length) <= value->size()) {
            value->resize(static_cast<size_t>(length));
            return true;
        }
        if (length >= 0 || errno == ERANGE) {
            const ssize_t needed = getxattr(native.c_str(), name.c_str(), nullptr, 0);
            if (needed < 0)
                return false;
            value->resize(static_cast<size_t>(needed) + 1);
            continue;
        }
        return false;
    }
}

// The mode that a folder's default access list, in the system's form (a version word, then
// entries of a 16-bit tag, 16-bit permissions and a 32-bit id), gives a file created with
// 0666: the owner's, the mask's (else the owning group's) and the others' permissions. False
// for a list without them.
bool ModeFromDefaultList(const std::string& list, mode_t* mode)
{
    constexpr size_t kVersionSize = 4;
    constexpr size_t kEntrySize = 8;
    constexpr uint16_t kOwner = 0x01;
    constexpr uint16_t kOwningGroup = 0x04;
    constexpr uint16_t kMask = 0x10;
    constexpr uint16_t kOthers = 0x20;
    if (list.size() < kVersionSize || (list.size() - kVersionSize) % kEntrySize != 0)
        return false;
    int owner = -1;
    int group = -1;
    int mask = -1;
    int others = -1;
    for (size_t at = kVersionSize; at < list.size(); at += kEntrySize) {
        uint16_t tag = 0;
        uint16_t permissions = 0;
        std::memcpy(&tag, list.data() + at, sizeof tag);
        std::memcpy(&permissions, list.data() + at + sizeof tag, sizeof permissions);
        const int granted = permissions & 07;
        if (tag == kOwner)
            owner = granted;
        else if (tag == kOwningGroup)
            group = granted;
        else if (tag == kMask)
            mask = granted;
        else if (tag == kOthers)
            others = granted;
    }
    if (owner < 0 || group < 0 || others < 0)
        return false;
    *mode = 0666 & ((owner << 6) | ((mask >= 0 ? mask : group) << 3) | others);
    return true;
}

// The process's umask, as the system tells it: it cannot be read without being changed.
bool ReadUmask(mode_t* mask)
{
    std::string status;
    if (!ReadWholeFile("/proc/self/status", &status))
        return false;
    const size_t line = status.find("\nUmask:");
    if (line == std::string::npos) {
        errno = ENOTSUP;
        return false;
    }
    *mask = static_cast<mode_t>(std::strtoul(status.c_str() + line + 7, nullptr, 8)) & 0777;
    return true;
}

// Removes from the open file the extended attributes it has of its own that security does not
// give it: a new file may have taken an access list from its folder's default.
bool RemoveOtherAttributes(int fd, const FileSecurity& security)
{
    char buffer[4096];
    const ssize_t length = flistxattr(fd, buffer, sizeof buffer);
    if (length < 0)
        return errno == ENOTSUP;
    for (ssize_t start = 0; start < length;) {
        const std::string name = buffer + start;
        start += static_cast<ssize_t>(name.size()) + 1;
        const bool given = std::any_of(security.attributes.begin(), security.attributes.end(),
                                       [&name](const auto& kept) { return kept.first == name; });
        if (!given && fremovexattr(fd, name.c_str()) != 0)
            return false;
    }
    return true;
}

bool CopyData(int in, int out)
{
    std::vector<char> buffer(1 << 20);
    for (;;) {
        ssize_t count = read(in, buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return count == 0;
        for (ssize_t done = 0; done < count;) {
            ssize_t put = write(out, buffer.data() + done, static_cast<size_t>(count - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0) {
                if (put == 0)
                    errno = ENOSPC;
                return false;
            }
            done += put;
        }
    }
}

// Copies a regular file to a destination that must not exist yet, keeping its mode and
// times. The copy is made without a name in the destination's folder and gets that name only
// once it is complete and on the disk (where the file system has no unnamed files, under a
// temporary name beside it that is then moved without replacing), so the destination never
// names a partial copy and an existing file is never replaced. A failure leaves nothing.
bool CopyToNewFile(const std::string& source, const std::string& destination)
{
    // The move is one step for its caller: a cancellation inside it would leave its
    // descriptors unowned, and a copy under a temporary name behind.
    CancellationHold hold;
    int in = OpenOrRetry(source.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (in < 0)
        return SetErrorForPath(source), false;
    struct stat status;
    fstat(in, &status);
    const std::string folder = ParentFolder(destination);
    std::string named;
    int out = OpenUnnamed(folder, 0600);
    if (out < 0 && IsUnnamedFileUnsupported(errno)) {
        named = folder + "/.kelvane-copy-XXXXXX";
        out = mkostemp(named.data(), O_CLOEXEC);
        // Locked while it has that name, so that no removal of abandoned files takes it for
        // one. Where the file system keeps no locks, no such removal can lock it either; a
        // name taken away all the same fails the rename below, and the source stays.
        if (out >= 0)
            LockDescriptor(out, F_WRLCK, 0, 0, false);
    }
    if (out < 0) {
        SetErrorForPath(destination);
        close(in);
        return false;
    }
    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    bool ok = CopyData(in, out) && fchmod(out, status.st_mode & 07777) == 0 &&
              futimens(out, times) == 0 && fsync(out) == 0 &&
              (named.empty() ? LinkDescriptor(out, destination)
                             : RenameWithoutReplacing(named, destination, false));
    if (!ok)
        SetErrorForPath(destination);
    close(in);
    close(out);
    if (!ok && !named.empty())
        unlink(named.c_str());
    return ok;
}

// Runs move(source, target, status of source) on the native paths under the sharing lock,
// once the source is found and may be moved: moving needs delete access, so every open of
// it must share delete (else ERROR_SHARING_VIOLATION).
template <typename Move>
BOOL MoveUnderLock(LPCWSTR existing, LPCWSTR destination, Move move)
{
    std::string source;
    std::string target;
    if (!ToNative(existing, &source) || !ToNative(destination, &target))
        return FALSE;
    struct stat status;
    if (lstat(source.c_str(), &status) != 0)
        return SetErrorForPath(source), FALSE;
    const ShareLock lock(g_shareLock);
    if (!SharingAllows(FileIdentity{status.st_dev, status.st_ino}, kDeleteAccess,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    return move(source, target, status);
}

// The mode, owner and group of a file's status, without its attributes.
FileSecurity ModeOwnerAndGroup(const struct stat& status)
{
    return FileSecurity{status.st_mode & 07777, status.st_uid, status.st_gid, {}};
}

// The stamp of a file's status.
FileStamp StampOfStatus(const struct stat& status)
{
    return FileStamp{.volume = status.st_dev,
                     .index = status.st_ino,
                     .mode = status.st_mode & 07777,
                     .owner = status.st_uid,
                     .group = status.st_gid,
                     .links = static_cast<DWORD>(status.st_nlink),
                     .changedSeconds = status.st_ctim.tv_sec,
                     .changedNanoseconds = status.st_ctim.tv_nsec};
}

// stat(2) of path, links followed, and its native form; false with the error of a missing
// file.
bool StatPath(LPCWSTR path, std::string* native, struct stat* status)
{
    if (!ToNative(path, native))
        return false;
    if (stat(native->c_str(), status) != 0)
        return SetErrorForPath(*native), false;
    return true;
}

}  // namespace

HANDLE CreateUnnamedFileW(LPCWSTR folder, DWORD shareMode, DWORD flagsAndAttributes)
{
    CancellationHold hold;
    std::string native;
    if (!ToNative(folder, &native))
        return INVALID_HANDLE_VALUE;
    const mode_t mode = (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    const int fd = OpenUnnamed(native, mode);
    if (fd < 0) {
        if (IsUnnamedFileUnsupported(errno))
            return FailOpen(fd, ERROR_NOT_SUPPORTED);
        return FailOpen(fd, errno == ENOENT ? ERROR_PATH_NOT_FOUND : Win32ErrorFromErrno(errno));
    }
    struct stat status;
    if (fstat(fd, &status) != 0)
        return FailOpen(fd, SetLastErrorFromErrno());
    const ShareLock lock(g_shareLock);
    SetLastError(ERROR_SUCCESS);
    return RegisterFile(fd, kReadAccess | kWriteAccess, shareMode, status, flagsAndAttributes,
                        std::string());
}

HANDLE CreatePrivateFileW(LPCWSTR path, DWORD shareMode, DWORD flagsAndAttributes)
{
    return CreateFileWithMode(path, GENERIC_READ | GENERIC_WRITE, shareMode, CREATE_NEW,
                              flagsAndAttributes, 0600);
}

BOOL GetNewFileModeW(LPCWSTR folder, DWORD* mode)
{
    std::string native;
    if (!ToNative(folder, &native))
        return FALSE;
    std::string list;
    mode_t created = 0;
    if (ReadAttribute(native, "system.posix_acl_default", &list)) {
        if (!ModeFromDefaultList(list, &created)) {
            SetLastError(ERROR_INVALID_DATA);
            return FALSE;
        }
    } else {
        mode_t mask = 0;
        if ((errno != ENODATA && errno != ENOTSUP) || !ReadUmask(&mask))
            return SetErrorForPath(native), FALSE;
        created = 0666 & ~mask;
    }
    *mode = created;
    return TRUE;
}

BOOL LinkFileW(HANDLE file, LPCWSTR name)
{
    std::shared_ptr<FileObject> object = ReferenceHandle<FileObject>(file);
    std::string native;
    if (object == nullptr || !ToNative(name, &native))
        return FALSE;
    if (!LinkDescriptor(object->fd(), native))
        return SetErrorForPath(native), FALSE;
    return TRUE;
}

BOOL GetFileSecurityW(LPCWSTR path, FileSecurity* security, FileStamp* stamp)
{
    std::string native;
    struct stat status;
    if (!StatPath(path, &native, &status))
        return FALSE;
    if (stamp != nullptr)
        *stamp = StampOfStatus(status);
    *security = ModeOwnerAndGroup(status);
    std::vector<std::string> names;
    if (!ListAttributes(native, &names))
        return SetErrorForPath(native), FALSE;
    for (std::string& name : names) {
        std::string value;
        if (!ReadAttribute(native, name, &value))
            return SetErrorForPath(native), FALSE;
        security->attributes.emplace_back(std::move(name), std::move(value));
    }
    return TRUE;
}

BOOL GetFileStampW(LPCWSTR path, FileStamp* stamp)
{
    std::string native;
    struct stat status;
    if (!StatPath(path, &native, &status))
        return FALSE;
    *stamp = StampOfStatus(status);
    return TRUE;
}

BOOL GetFileModeByHandle(HANDLE file, FileSecurity* security)
{
    std::shared_ptr<FileObject> object = ReferenceHandle<FileObject>(file);
    if (object == nullptr)
        return FALSE;
    struct stat status;
    if (fstat(object->fd(), &status) != 0)
        return SetLastErrorFromErrno(), FALSE;
    *security = ModeOwnerAndGroup(status);
    return TRUE;
}

BOOL SetFileSecurityByHandle(HANDLE file, const FileSecurity& security, DWORD parts)
{
    std::shared_ptr<FileObject> object = ReferenceHandle<FileObject>(file);
    if (object == nullptr)
        return FALSE;
    const int fd = object->fd();
    const bool given =
        (!(parts & kSecurityOwner) || fchown(fd, security.owner, security.group) == 0) &&
        (!(parts & kSecurityMode) || fchmod(fd, security.mode) == 0) &&
        (!(parts & kSecurityAttributes) || RemoveOtherAttributes(fd, security));
    if (!given)
        return SetLastErrorFromErrno(), FALSE;
    if (parts & kSecurityAttributes) {
        for (const auto& [name, value] : security.attributes) {
            if (fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0)
                return SetLastErrorFromErrno(), FALSE;
        }
    }
    return TRUE;
}

BOOL RemoveFileNameW(HANDLE file, LPCWSTR name)
{
    std::shared_ptr<FileObject> object = ReferenceHandle<FileObject>(file);
    std::string native;
    if (object == nullptr || !ToNative(name, &native))
        return FALSE;
    if (!object->RemoveName(native))
        return SetErrorForPath(native), FALSE;
    return TRUE;
}

BOOL MoveFileW(LPCWSTR existing, LPCWSTR destination)
{
    return MoveUnderLock(existing, destination, [](const std::string& source,
                                                   const std::string& target,
                                                   const struct stat& status) -> BOOL {
        if (RenameWithoutReplacing(source, target, S_ISDIR(status.st_mode)))
            return TRUE;
        if (errno == EEXIST) {
            SetLastError(ERROR_ALREADY_EXISTS);
            return FALSE;
        }
        if (errno == EXDEV && S_ISREG(status.st_mode)) {
            // Another file system: a file moves by copy and delete, as Windows moves it
            // across volumes. A folder cannot (ERROR_NOT_SAME_DEVICE).
            if (!CopyToNewFile(source, target))
                return FALSE;
            unlink(source.c_str());
            return TRUE;
        }
        return SetErrorForPath(target), FALSE;
    });
}

BOOL MoveFileExW(LPCWSTR existing, LPCWSTR destination, DWORD flags)
{
    if (flags == 0)
        return MoveFileW(existing, destination);
    if (flags != MOVEFILE_REPLACE_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return MoveUnderLock(existing, destination, [](const std::string& source,
                                                   const std::string& target,
                                                   const struct stat&) -> BOOL {
        // Replacing a file removes it: an open that does not share delete keeps it in place,
        // as Windows refuses it.
        if (!SharingAllowsDelete(target)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        // As Windows, a read-only file is not replaced.
        struct stat status;
        if (lstat(target.c_str(), &status) == 0 &&
            AttributesFromStatus(status) == FILE_ATTRIBUTE_READONLY) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (rename(source.c_str(), target.c_str()) != 0)
            return SetErrorForPath(target), FALSE;
        return TRUE;
    });
}

BOOL ReplaceFileW(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR backup, DWORD flags,
                  void* exclude, void* reserved)
{
    if (backup != nullptr || flags != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return MoveUnderLock(replacement, replaced, [](const std::string& source,
                                                   const std::string& target,
                                                   const struct stat& sourceStatus) -> BOOL {
        struct stat status;
        if (stat(target.c_str(), &status) != 0)
            return SetErrorForPath(target), FALSE;
        if (S_ISDIR(status.st_mode) || !S_ISREG(sourceStatus.st_mode)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (!HasAccess(target, W_OK))
            return SetLastErrorFromErrno(), FALSE;
        if (!SharingAllows(FileIdentity{status.st_dev, status.st_ino}, kDeleteAccess,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
            SetLastError(ERROR_SHARING_VIOLATION);
            return FALSE;
        }
        if (rename(source.c_str(), target.c_str()) == 0)
            return TRUE;
        if (errno == EBUSY)  // a mount point
            SetLastError(ERROR_UNABLE_TO_REMOVE_REPLACED);
        else
            SetErrorForPath(target);
        return FALSE;
    });
}
