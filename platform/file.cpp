#include "platform/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/KernelObject.h"
#include "platform/error.h"
#include "platform/path.h"
#include "platform/pipe.h"
#include "platform/sync.h"
#include "platform/text.h"

namespace {

// 100 ns intervals from 1601-01-01 to 1970-01-01.
constexpr int64_t kUnixEpochInFileTime = 116444736000000000LL;
constexpr int64_t kFileTimeUnitsPerSecond = 10000000LL;

// The kinds of access that take part in sharing.
constexpr unsigned kReadAccess = 1;
constexpr unsigned kWriteAccess = 2;
constexpr unsigned kDeleteAccess = 4;

struct FileIdentity {
    dev_t device;
    ino_t inode;
    bool operator==(const FileIdentity&) const = default;
};

struct FileIdentityHash {
    size_t operator()(const FileIdentity& id) const
    {
        return std::hash<uint64_t>()(static_cast<uint64_t>(id.inode) * 31 +
                                     static_cast<uint64_t>(id.device));
    }
};

// One open of a file as the sharing rules see it.
struct ShareEntry {
    unsigned access;
    DWORD shareMode;
};

// Every open of this process that asked for data or delete access, by file identity. The
// lock is held across "open, check, record" so that two opens cannot both pass the check.
std::mutex g_shareLock;
std::unordered_map<FileIdentity, std::vector<const ShareEntry*>, FileIdentityHash>& ShareTable()
{
    static auto* table =
        new std::unordered_map<FileIdentity, std::vector<const ShareEntry*>, FileIdentityHash>();
    return *table;
}

// Whether an open with this access and share mode may join the opens the file already has:
// the new access must be allowed by each existing share mode, and each existing access by
// the new share mode.
bool SharingAllows(const FileIdentity& id, unsigned access, DWORD shareMode)
{
    auto found = ShareTable().find(id);
    if (found == ShareTable().end())
        return true;
    for (const ShareEntry* entry : found->second) {
        if (((access & kReadAccess) && !(entry->shareMode & FILE_SHARE_READ)) ||
            ((access & kWriteAccess) && !(entry->shareMode & FILE_SHARE_WRITE)) ||
            ((access & kDeleteAccess) && !(entry->shareMode & FILE_SHARE_DELETE)) ||
            ((entry->access & kReadAccess) && !(shareMode & FILE_SHARE_READ)) ||
            ((entry->access & kWriteAccess) && !(shareMode & FILE_SHARE_WRITE)) ||
            ((entry->access & kDeleteAccess) && !(shareMode & FILE_SHARE_DELETE)))
            return false;
    }
    return true;
}

// Deleting or renaming a file needs delete access: every open must share delete.
bool SharingAllowsDelete(const std::string& native)
{
    struct stat status;
    if (lstat(native.c_str(), &status) != 0)
        return true;
    return SharingAllows(FileIdentity{status.st_dev, status.st_ino}, kDeleteAccess,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
}

std::string ParentFolder(const std::string& native)
{
    std::string path = native;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// ENOENT means "file not found" when the folder is there, "path not found" when not.
DWORD SetMissingPathError(const std::string& native)
{
    struct stat status;
    std::string parent = ParentFolder(native);
    DWORD code = stat(parent.c_str(), &status) == 0 && S_ISDIR(status.st_mode)
                     ? ERROR_FILE_NOT_FOUND
                     : ERROR_PATH_NOT_FOUND;
    SetLastError(code);
    return code;
}

DWORD SetErrorForPath(const std::string& native)
{
    if (errno == ENOENT)
        return SetMissingPathError(native);
    return SetLastErrorFromErrno();
}

// The POSIX path of a caller's path; false with the last error set when it has none.
bool ToNative(LPCWSTR path, std::string* native)
{
    if (path == nullptr) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    if (!NativePath(path, native))
        return false;
    if (native->empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    return true;
}

// Removes a file (directory false) or an empty folder (directory true). An entry of the
// other kind fails as Windows fails it (ERROR_ACCESS_DENIED for a folder given as a file,
// ERROR_DIRECTORY for a file given as a folder), and so does an open that does not share
// delete access.
BOOL RemoveEntry(LPCWSTR path, bool directory)
{
    std::string native;
    if (!ToNative(path, &native))
        return FALSE;
    struct stat status;
    if (lstat(native.c_str(), &status) != 0)
        return SetErrorForPath(native), FALSE;
    const bool isDirectory = S_ISDIR(status.st_mode);
    if (isDirectory != directory) {
        SetLastError(directory ? ERROR_DIRECTORY : ERROR_ACCESS_DENIED);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(g_shareLock);
    if (!SharingAllowsDelete(native)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    if ((directory ? rmdir(native.c_str()) : unlink(native.c_str())) != 0)
        return SetErrorForPath(native), FALSE;
    return TRUE;
}

FILETIME FileTimeFromTimespec(const struct timespec& time)
{
    int64_t units = kUnixEpochInFileTime + static_cast<int64_t>(time.tv_sec) * kFileTimeUnitsPerSecond +
                    time.tv_nsec / 100;
    auto value = static_cast<uint64_t>(std::max<int64_t>(units, 0));
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

uint64_t FileTimeValue(const FILETIME& time)
{
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// A FILETIME the caller wants applied; zero and all ones mean "leave as it is".
struct timespec TimespecFromFileTime(const FILETIME* time)
{
    struct timespec result{};
    uint64_t value = time == nullptr ? 0 : FileTimeValue(*time);
    if (value == 0 || value == UINT64_MAX) {
        result.tv_nsec = UTIME_OMIT;
        return result;
    }
    int64_t units = static_cast<int64_t>(value) - kUnixEpochInFileTime;
    int64_t seconds = units / kFileTimeUnitsPerSecond;
    int64_t rest = units % kFileTimeUnitsPerSecond;
    if (rest < 0) {
        rest += kFileTimeUnitsPerSecond;
        --seconds;
    }
    result.tv_sec = static_cast<time_t>(seconds);
    result.tv_nsec = static_cast<long>(rest * 100);
    return result;
}

DWORD AttributesFromStatus(const struct stat& status)
{
    if (S_ISDIR(status.st_mode))
        return FILE_ATTRIBUTE_DIRECTORY;
    if (!S_ISREG(status.st_mode))
        return FILE_ATTRIBUTE_DEVICE;
    if ((status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return FILE_ATTRIBUTE_READONLY;
    return FILE_ATTRIBUTE_NORMAL;
}

class FileObject : public KernelObject {
public:
    // A non-empty deletePath is removed when the handle closes (FILE_FLAG_DELETE_ON_CLOSE).
    FileObject(int fd, unsigned access, DWORD shareMode, const struct stat& status,
               std::string deletePath)
        : m_fd(fd),
          m_share{access, shareMode},
          m_identity{status.st_dev, status.st_ino},
          m_directory(S_ISDIR(status.st_mode)),
          m_deletePath(std::move(deletePath))
    {
    }

    ~FileObject() override
    {
        std::lock_guard<std::mutex> lock(g_shareLock);
        if (m_shared)
            Unshare();
        if (!m_deletePath.empty())
            DeleteIfStillThis();
        close(m_fd);
    }

    // Records this open in the sharing table; the caller holds g_shareLock.
    void Share()
    {
        if (m_share.access == 0)
            return;  // an open for attributes only takes no part in sharing
        ShareTable()[m_identity].push_back(&m_share);
        m_shared = true;
    }

    int fd() const { return m_fd; }
    bool canRead() const { return (m_share.access & kReadAccess) != 0 && !m_directory; }
    bool canWrite() const { return (m_share.access & kWriteAccess) != 0 && !m_directory; }

    BOOL Read(void* buffer, DWORD toRead, DWORD* read) override
    {
        if (read != nullptr)
            *read = 0;
        if (!canRead()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        DWORD total = 0;
        while (total < toRead) {
            ssize_t count = ::read(m_fd, static_cast<char*>(buffer) + total, toRead - total);
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0) {
                SetLastErrorFromErrno();
                return FALSE;
            }
            if (count == 0)
                break;
            total += static_cast<DWORD>(count);
            if (read != nullptr)
                *read = total;
        }
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }

    BOOL Write(const void* buffer, DWORD toWrite, DWORD* written) override
    {
        if (written != nullptr)
            *written = 0;
        if (!canWrite()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        DWORD total = 0;
        while (total < toWrite) {
            ssize_t count =
                ::write(m_fd, static_cast<const char*>(buffer) + total, toWrite - total);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0) {
                if (count == 0)
                    errno = ENOSPC;
                SetLastErrorFromErrno();
                return FALSE;
            }
            total += static_cast<DWORD>(count);
            if (written != nullptr)
                *written = total;
        }
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }

    BOOL Flush() override
    {
        if (!canWrite()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (fsync(m_fd) != 0) {
            SetLastErrorFromErrno();
            return FALSE;
        }
        return TRUE;
    }

    // Moves the position; false with the last error set on failure.
    bool Seek(int64_t distance, DWORD moveMethod, int64_t* position)
    {
        int64_t base;
        if (moveMethod == FILE_BEGIN) {
            base = 0;
        } else if (moveMethod == FILE_CURRENT) {
            base = lseek(m_fd, 0, SEEK_CUR);
        } else if (moveMethod == FILE_END) {
            struct stat status;
            base = fstat(m_fd, &status) == 0 ? status.st_size : -1;
        } else {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        if (base < 0) {
            SetLastErrorFromErrno();
            return false;
        }
        int64_t target;
        if (__builtin_add_overflow(base, distance, &target)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        if (target < 0) {
            SetLastError(ERROR_NEGATIVE_SEEK);
            return false;
        }
        if (lseek(m_fd, target, SEEK_SET) < 0) {
            SetLastErrorFromErrno();
            return false;
        }
        *position = target;
        return true;
    }

private:
    void Unshare()
    {
        auto found = ShareTable().find(m_identity);
        if (found == ShareTable().end())
            return;
        std::erase(found->second, &m_share);
        if (found->second.empty())
            ShareTable().erase(found);
    }

    // Removes the name only while it still names the file this handle has open.
    void DeleteIfStillThis()
    {
        struct stat status;
        if (lstat(m_deletePath.c_str(), &status) == 0 &&
            FileIdentity{status.st_dev, status.st_ino} == m_identity)
            unlink(m_deletePath.c_str());
    }

    int m_fd;
    ShareEntry m_share;
    FileIdentity m_identity;
    bool m_directory;
    bool m_shared = false;
    std::string m_deletePath;
};

class FindObject : public KernelObject {
public:
    explicit FindObject(std::vector<WIN32_FIND_DATAW> entries) : m_entries(std::move(entries)) {}

    bool Next(WIN32_FIND_DATAW* data)
    {
        if (m_next >= m_entries.size())
            return false;
        *data = m_entries[m_next++];
        return true;
    }

private:
    std::vector<WIN32_FIND_DATAW> m_entries;
    size_t m_next = 0;
};

unsigned AccessKinds(DWORD access, DWORD flags)
{
    unsigned kinds = 0;
    if (access & (GENERIC_READ | GENERIC_EXECUTE | GENERIC_ALL))
        kinds |= kReadAccess;
    if (access & (GENERIC_WRITE | GENERIC_ALL))
        kinds |= kWriteAccess;
    if ((access & GENERIC_ALL) || (flags & FILE_FLAG_DELETE_ON_CLOSE))
        kinds |= kDeleteAccess;
    return kinds;
}

bool IsPipeName(const std::u16string& path)
{
    static const std::u16string prefix = u"\\\\.\\pipe\\";
    if (path.size() <= prefix.size())
        return false;
    for (size_t index = 0; index < prefix.size(); ++index) {
        WCHAR c = path[index] == u'/' ? u'\\' : path[index];
        if (c >= u'A' && c <= u'Z')
            c = static_cast<WCHAR>(c + (u'a' - u'A'));
        if (c != prefix[index])
            return false;
    }
    return true;
}

int OpenOrRetry(const char* path, int flags, mode_t mode)
{
    int fd;
    do {
        fd = open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool IsSymbolicLink(const std::string& native)
{
    struct stat status;
    return lstat(native.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

// Opens the file, creating it when it is missing; *existed tells which. A name that is there
// but opens nothing is either a link to a missing file, which the system creates when asked
// to follow the link (through links of links, up to its own limit: ELOOP), or a file removed
// between the two opens, tried again a few times before the open fails as missing.
int OpenOrCreate(const std::string& native, int flags, mode_t mode, bool* existed)
{
    constexpr int kVanishedFileAttempts = 8;
    for (int attempt = 0; attempt < kVanishedFileAttempts; ++attempt) {
        int fd = OpenOrRetry(native.c_str(), flags | O_CREAT | O_EXCL, mode);
        if (fd >= 0 || errno != EEXIST) {
            *existed = false;
            return fd;
        }
        fd = OpenOrRetry(native.c_str(), flags, mode);
        if (fd >= 0 || errno != ENOENT) {
            *existed = true;
            return fd;
        }
        if (IsSymbolicLink(native)) {
            *existed = false;
            return OpenOrRetry(native.c_str(), flags | O_CREAT, mode);
        }
    }
    *existed = false;
    errno = ENOENT;
    return -1;
}

// Opens the file as the disposition asks, without truncating it yet (sharing is checked
// first). *existed tells whether the file was there before.
int OpenForDisposition(const std::string& native, int flags, mode_t mode, DWORD disposition,
                       bool* existed)
{
    *existed = true;
    if (disposition == CREATE_NEW) {
        int fd = OpenOrRetry(native.c_str(), flags | O_CREAT | O_EXCL, mode);
        *existed = fd < 0 && errno == EEXIST;
        return fd;
    }
    if (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)
        return OpenOrCreate(native, flags, mode, existed);
    return OpenOrRetry(native.c_str(), flags, mode);
}

int OpenFlags(unsigned kinds, DWORD disposition, DWORD flags)
{
    // Truncating needs a writable descriptor even when the caller only reads.
    bool write = (kinds & kWriteAccess) || disposition == CREATE_ALWAYS;
    bool read = (kinds & kReadAccess) || !write;
    int result = O_CLOEXEC | (read && write ? O_RDWR : (write ? O_WRONLY : O_RDONLY));
    if (flags & FILE_FLAG_WRITE_THROUGH)
        result |= O_DSYNC;
    return result;
}

// The path made independent of the current folder, which may change while a file is open.
std::string AbsolutePath(const std::string& native)
{
    if (native[0] == '/')
        return native;
    char* folder = getcwd(nullptr, 0);
    if (folder == nullptr)
        return native;
    std::string absolute = std::string(folder) + "/" + native;
    free(folder);
    return absolute;
}

WCHAR FoldAscii(WCHAR c)
{
    return c >= u'A' && c <= u'Z' ? static_cast<WCHAR>(c + (u'a' - u'A')) : c;
}

// Matches a name against a pattern of * (any run) and ? (one character), ignoring the case
// of ASCII letters as the Windows file system does; "*.*" matches every name.
bool MatchesPattern(const std::u16string& name, const std::u16string& pattern)
{
    if (pattern == u"*.*")
        return true;
    size_t n = 0;
    size_t p = 0;
    size_t starPattern = std::u16string::npos;
    size_t starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() &&
            (pattern[p] == u'?' || FoldAscii(pattern[p]) == FoldAscii(name[n]))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starPattern = p++;
            starName = n;
        } else if (starPattern != std::u16string::npos) {
            p = starPattern + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

bool FillFindData(int folder, const std::u16string& name, const char* native,
                  WIN32_FIND_DATAW* data)
{
    if (name.size() >= MAX_PATH)
        return false;  // cannot be named in the record; leave it out rather than cut it
    struct stat status;
    if (fstatat(folder, native, &status, 0) != 0 &&
        fstatat(folder, native, &status, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    *data = WIN32_FIND_DATAW{};
    data->dwFileAttributes = AttributesFromStatus(status);
    data->ftCreationTime = FileTimeFromTimespec(status.st_mtim);
    data->ftLastAccessTime = FileTimeFromTimespec(status.st_atim);
    data->ftLastWriteTime = FileTimeFromTimespec(status.st_mtim);
    if (!S_ISDIR(status.st_mode)) {
        auto size = static_cast<uint64_t>(status.st_size);
        data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data->nFileSizeLow = static_cast<DWORD>(size);
    }
    std::copy(name.begin(), name.end(), data->cFileName);
    data->cFileName[name.size()] = 0;
    return true;
}

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

// Gives a file the model's mode, and its owner and group where the process may change them,
// through changeOwner(owner, group) and changeMode(mode). The owner goes first: changing it
// clears the set-user-id and set-group-id bits that the mode then sets again. False, with the
// last error (ERROR_ACCESS_DENIED for an owner or group the process may not give), when not
// all of it was given; the mode is given all the same.
template <typename ChangeOwner, typename ChangeMode>
bool GiveSecurity(const struct stat& model, ChangeOwner changeOwner, ChangeMode changeMode)
{
    const bool owned = changeOwner(model.st_uid, model.st_gid) == 0;
    const int ownerError = errno;
    if (changeMode(model.st_mode & 07777) != 0)
        return SetLastErrorFromErrno(), false;
    if (owned)
        return true;
    errno = ownerError;
    SetLastErrorFromErrno();
    return false;
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
    std::lock_guard<std::mutex> lock(g_shareLock);
    if (!SharingAllowsDelete(source)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    return move(source, target, status);
}

// Hands an open descriptor to a new file handle, recorded for sharing; the caller holds
// g_shareLock.
HANDLE RegisterFile(int fd, unsigned kinds, DWORD shareMode, const struct stat& status,
                    DWORD flagsAndAttributes, std::string deletePath)
{
    if (flagsAndAttributes & FILE_FLAG_SEQUENTIAL_SCAN)
        posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    else if (flagsAndAttributes & FILE_FLAG_RANDOM_ACCESS)
        posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    auto file = std::make_shared<FileObject>(fd, kinds, shareMode, status, std::move(deletePath));
    file->Share();
    return RegisterHandle(std::move(file));
}

void FillInformation(const struct stat& status, BY_HANDLE_FILE_INFORMATION* information)
{
    auto size = static_cast<uint64_t>(S_ISDIR(status.st_mode) ? 0 : status.st_size);
    auto index = static_cast<uint64_t>(status.st_ino);
    information->dwFileAttributes = AttributesFromStatus(status);
    information->ftCreationTime = FileTimeFromTimespec(status.st_mtim);
    information->ftLastAccessTime = FileTimeFromTimespec(status.st_atim);
    information->ftLastWriteTime = FileTimeFromTimespec(status.st_mtim);
    information->dwVolumeSerialNumber = static_cast<DWORD>(status.st_dev);
    information->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    information->nFileSizeLow = static_cast<DWORD>(size);
    information->nNumberOfLinks = static_cast<DWORD>(status.st_nlink);
    information->nFileIndexHigh = static_cast<DWORD>(index >> 32);
    information->nFileIndexLow = static_cast<DWORD>(index);
}

template <typename Char>
DWORD CopyPathOut(const std::u16string& text, DWORD capacity, Char* buffer)
{
    auto length = static_cast<DWORD>(text.size());
    if (buffer == nullptr || capacity < length + 1)
        return length + 1;
    std::copy(text.begin(), text.end(), buffer);
    buffer[length] = 0;
    return length;
}

}  // namespace

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, void* security,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile)
{
    // open is a cancellation point that can act after it has made the descriptor: until the
    // handle is registered, nothing would own it.
    CancellationHold hold;
    if (path != nullptr && IsPipeName(path))
        return OpenPipeClient(std::u16string(path).substr(9), access);
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING ||
        (disposition == TRUNCATE_EXISTING && !(access & (GENERIC_WRITE | GENERIC_ALL)))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string native;
    if (!ToNative(path, &native))
        return INVALID_HANDLE_VALUE;
    unsigned kinds = AccessKinds(access, flagsAndAttributes);
    mode_t mode = (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    bool backup = (flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) != 0;

    std::lock_guard<std::mutex> lock(g_shareLock);
    bool existed = false;
    int fd = OpenForDisposition(native, OpenFlags(kinds, disposition, flagsAndAttributes), mode,
                                disposition, &existed);
    if (fd < 0 && errno == EISDIR)  // a folder asked for with write access
        fd = backup ? OpenOrRetry(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0) : -1;
    if (fd < 0 && errno == EACCES && kinds == 0)  // attributes only: no read right needed
        fd = OpenOrRetry(native.c_str(), O_PATH | O_CLOEXEC, 0);
    if (fd < 0) {
        if (errno == EEXIST && disposition == CREATE_NEW)
            return FailOpen(fd, ERROR_FILE_EXISTS);
        if (errno == ENOENT)
            return FailOpen(fd, SetMissingPathError(native));
        return FailOpen(fd, SetLastErrorFromErrno());
    }
    struct stat status;
    if (fstat(fd, &status) != 0)
        return FailOpen(fd, SetLastErrorFromErrno());
    bool truncate = existed && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING);
    if (S_ISDIR(status.st_mode) && (!backup || truncate))
        return FailOpen(fd, ERROR_ACCESS_DENIED);
    // An open for attributes only neither asks for nor grants any sharing.
    if (kinds != 0 && !SharingAllows(FileIdentity{status.st_dev, status.st_ino}, kinds, shareMode))
        return FailOpen(fd, ERROR_SHARING_VIOLATION);
    if (truncate && ftruncate(fd, 0) != 0)
        return FailOpen(fd, SetLastErrorFromErrno());
    SetLastError(existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)
                     ? ERROR_ALREADY_EXISTS
                     : ERROR_SUCCESS);
    bool deleteOnClose = (flagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) != 0;
    return RegisterFile(fd, kinds, shareMode, status, flagsAndAttributes,
                        deleteOnClose ? AbsolutePath(native) : "");
}

void HandleClose::operator()(HANDLE handle) const
{
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
}

BOOL CloseHandle(HANDLE handle)
{
    // Closing runs in destructors; a close that a cancellation interrupted would also leave
    // the descriptor's state unknown.
    CancellationHold hold;
    return UnregisterHandle(handle) ? TRUE : FALSE;
}

namespace {

// ReadFile and WriteFile: the same checks of the handle and arguments, then the object's
// own transfer.
template <typename Buffer>
BOOL TransferBytes(HANDLE file, Buffer buffer, DWORD count, DWORD* done, void* overlapped,
                   BOOL (KernelObject::*transfer)(Buffer, DWORD, DWORD*))
{
    if (done != nullptr)
        *done = 0;
    std::shared_ptr<KernelObject> object = ReferenceHandle<KernelObject>(file);
    if (object == nullptr)
        return FALSE;
    if (overlapped != nullptr || (buffer == nullptr && count > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return (*object.*transfer)(buffer, count, done);
}

}  // namespace

BOOL ReadFile(HANDLE file, void* buffer, DWORD toRead, DWORD* read, void* overlapped)
{
    return TransferBytes(file, buffer, toRead, read, overlapped, &KernelObject::Read);
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD toWrite, DWORD* written, void* overlapped)
{
    return TransferBytes(file, buffer, toWrite, written, overlapped, &KernelObject::Write);
}

DWORD SetFilePointer(HANDLE file, LONG distanceLow, LONG* distanceHigh, DWORD moveMethod)
{
    std::shared_ptr<FileObject> object = ReferenceHandle<FileObject>(file);
    if (object == nullptr)
        return INVALID_SET_FILE_POINTER;
    int64_t distance = distanceHigh == nullptr
                           ? distanceLow
                           : static_cast<int64_t>((static_cast<uint64_t>(*distanceHigh) << 32) |
                                                  static_cast<DWORD>(distanceLow));
    if (distanceHigh == nullptr) {
        // Without a high word the new position must fit in 32 bits; check before moving.
        int64_t probe;
        off_t current = lseek(object->fd(), 0, SEEK_CUR);
        if (!object->Seek(distance, moveMethod, &probe))
            return INVALID_SET_FILE_POINTER;
        if (probe > static_cast<int64_t>(UINT32_MAX)) {
            lseek(object->fd(), current, SEEK_SET);
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_SET_FILE_POINTER;
        }
        SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(probe);
    }
    int64_t position;
    if (!object->Seek(distance, moveMethod, &position))
        return INVALID_SET_FILE_POINTER;
    *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(position) >> 32);
    // A position whose low word is all ones is valid: callers tell it apart by this 0.
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(position);
}

BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, LARGE_INTEGER* newPosition,
                      DWORD moveMethod)
{
    std::shared_ptr<FileObject> object = ReferenceHandle<FileObject>(file);
    if (object == nullptr)
        return FALSE;
    int64_t position;
    if (!object->Seek(distance.QuadPart, moveMethod, &position))
        return FALSE;
    if (newPosition != nullptr)
        newPosition->QuadPart = position;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetEndOfFile(HANDLE file)
{
    std::shared_ptr<FileObject> object = ReferenceHandle<FileObject>(file);
    if (object == nullptr)
        return FALSE;
    if (!object->canWrite()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    off_t position = lseek(object->fd(), 0, SEEK_CUR);
    if (position < 0 || ftruncate(object->fd(), position) != 0) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE file)
{
    std::shared_ptr<KernelObject> object = ReferenceHandle<KernelObject>(file);
    return object == nullptr ? FALSE : object->Flush();
}

BOOL GetFileSizeEx(HANDLE file, LARGE_INTEGER* size)
{
    std::shared_ptr<FileObject> object = ReferenceHandle<FileObject>(file);
    if (object == nullptr)
        return FALSE;
    if (size == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    struct stat status;
    if (fstat(object->fd(), &status) != 0) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    size->QuadPart = S_ISDIR(status.st_mode) ? 0 : status.st_size;
    return TRUE;
}

DWORD GetFileSize(HANDLE file, DWORD* sizeHigh)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size))
        return INVALID_FILE_SIZE;
    if (sizeHigh != nullptr)
        *sizeHigh = static_cast<DWORD>(size.u.HighPart);
    // A size whose low word is all ones is valid: callers tell it apart by this 0.
    SetLastError(ERROR_SUCCESS);
    return size.u.LowPart;
}

BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess,
                 const FILETIME* lastWrite)
{
    std::shared_ptr<FileObject> object = ReferenceHandle<FileObject>(file);
    if (object == nullptr)
        return FALSE;
    if (!object->canWrite()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // POSIX keeps no settable creation time; the creation time reads as the last write.
    struct timespec times[2] = {TimespecFromFileTime(lastAccess), TimespecFromFileTime(lastWrite)};
    if (futimens(object->fd(), times) != 0) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}

BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite)
{
    std::shared_ptr<FileObject> object = ReferenceHandle<FileObject>(file);
    if (object == nullptr)
        return FALSE;
    struct stat status;
    if (fstat(object->fd(), &status) != 0) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    if (creation != nullptr)
        *creation = FileTimeFromTimespec(status.st_mtim);
    if (lastAccess != nullptr)
        *lastAccess = FileTimeFromTimespec(status.st_atim);
    if (lastWrite != nullptr)
        *lastWrite = FileTimeFromTimespec(status.st_mtim);
    return TRUE;
}

BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information)
{
    std::shared_ptr<FileObject> object = ReferenceHandle<FileObject>(file);
    if (object == nullptr)
        return FALSE;
    struct stat status;
    if (information == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (fstat(object->fd(), &status) != 0) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    FillInformation(status, information);
    return TRUE;
}

BOOL CheckFileAccessW(LPCWSTR path, DWORD access, BY_HANDLE_FILE_INFORMATION* information)
{
    std::string native;
    if (!ToNative(path, &native))
        return FALSE;
    struct stat status;
    if (stat(native.c_str(), &status) != 0)
        return SetErrorForPath(native), FALSE;
    if (S_ISDIR(status.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const unsigned kinds = AccessKinds(access, 0);
    const int rights = ((kinds & kReadAccess) ? R_OK : 0) | ((kinds & kWriteAccess) ? W_OK : 0);
    if (rights != 0 && faccessat(AT_FDCWD, native.c_str(), rights, AT_EACCESS) != 0)
        return SetLastErrorFromErrno(), FALSE;
    std::lock_guard<std::mutex> lock(g_shareLock);
    if (kinds != 0 && !SharingAllows(FileIdentity{status.st_dev, status.st_ino}, kinds,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    if (information != nullptr)
        FillInformation(status, information);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

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
    std::lock_guard<std::mutex> lock(g_shareLock);
    SetLastError(ERROR_SUCCESS);
    return RegisterFile(fd, kReadAccess | kWriteAccess, shareMode, status, flagsAndAttributes,
                        std::string());
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

BOOL CopyFileSecurityW(LPCWSTR model, HANDLE file)
{
    std::shared_ptr<FileObject> object = ReferenceHandle<FileObject>(file);
    std::string native;
    if (object == nullptr || !ToNative(model, &native))
        return FALSE;
    struct stat status;
    if (stat(native.c_str(), &status) != 0)
        return SetErrorForPath(native), FALSE;
    const int fd = object->fd();
    return GiveSecurity(
               status, [fd](uid_t owner, gid_t group) { return fchown(fd, owner, group); },
               [fd](mode_t mode) { return fchmod(fd, mode); })
               ? TRUE
               : FALSE;
}

BOOL DeleteFileW(LPCWSTR path)
{
    return RemoveEntry(path, false);
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
        if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
            return SetLastErrorFromErrno(), FALSE;
        if (!SharingAllowsDelete(target)) {
            SetLastError(ERROR_SHARING_VIOLATION);
            return FALSE;
        }
        // What the process may not give (another owner, a group it is not in) it leaves.
        GiveSecurity(
            status,
            [&source](uid_t owner, gid_t group) { return lchown(source.c_str(), owner, group); },
            [&source](mode_t mode) { return chmod(source.c_str(), mode); });
        if (rename(source.c_str(), target.c_str()) == 0)
            return TRUE;
        if (errno == EBUSY)  // a mount point
            SetLastError(ERROR_UNABLE_TO_REMOVE_REPLACED);
        else
            SetErrorForPath(target);
        return FALSE;
    });
}

BOOL CreateDirectoryW(LPCWSTR path, void* security)
{
    std::string native;
    if (!ToNative(path, &native))
        return FALSE;
    if (mkdir(native.c_str(), 0777) != 0) {
        SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : Win32ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL RemoveDirectoryW(LPCWSTR path)
{
    return RemoveEntry(path, true);
}

DWORD GetFileAttributesW(LPCWSTR path)
{
    std::string native;
    if (!ToNative(path, &native))
        return INVALID_FILE_ATTRIBUTES;
    struct stat status;
    if (stat(native.c_str(), &status) != 0) {
        SetErrorForPath(native);
        return INVALID_FILE_ATTRIBUTES;
    }
    return AttributesFromStatus(status);
}

HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data)
{
    std::string native;
    if (!ToNative(pattern, &native))
        return INVALID_HANDLE_VALUE;
    if (data == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    size_t slash = native.rfind('/');
    std::string folder = slash == std::string::npos ? "." : native.substr(0, slash);
    if (slash == 0)
        folder = "/";
    std::u16string namePattern =
        Utf8ToUtf16(slash == std::string::npos ? native : native.substr(slash + 1));
    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr) {
        SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                          : Win32ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    std::vector<WIN32_FIND_DATAW> entries;
    if (!namePattern.empty()) {
        while (const dirent* entry = readdir(listing)) {
            std::u16string name = Utf8ToUtf16(entry->d_name);
            WIN32_FIND_DATAW found;
            if (MatchesPattern(name, namePattern) && FillFindData(dirfd(listing), name, entry->d_name, &found))
                entries.push_back(found);
        }
    }
    closedir(listing);
    if (entries.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::sort(entries.begin(), entries.end(),
              [](const WIN32_FIND_DATAW& a, const WIN32_FIND_DATAW& b) {
                  return std::u16string_view(a.cFileName) < std::u16string_view(b.cFileName);
              });
    auto search = std::make_shared<FindObject>(std::move(entries));
    search->Next(data);
    SetLastError(ERROR_SUCCESS);
    return RegisterHandle(std::move(search));
}

BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* data)
{
    std::shared_ptr<FindObject> search = ReferenceHandle<FindObject>(find);
    if (search == nullptr)
        return FALSE;
    if (data == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!search->Next(data)) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    return TRUE;
}

BOOL FindClose(HANDLE find)
{
    if (ReferenceHandle<FindObject>(find) == nullptr)
        return FALSE;
    return UnregisterHandle(find) ? TRUE : FALSE;
}

DWORD GetTempPathW(DWORD capacity, LPWSTR buffer)
{
    const char* folder = std::getenv("TMPDIR");
    std::string text = folder != nullptr && *folder != 0 ? folder : "/tmp";
    if (text.back() != '/')
        text += '/';
    return CopyPathOut(Utf8ToUtf16(text), capacity, buffer);
}

DWORD GetCurrentDirectoryW(DWORD capacity, LPWSTR buffer)
{
    char* folder = getcwd(nullptr, 0);
    if (folder == nullptr) {
        SetLastErrorFromErrno();
        return 0;
    }
    std::u16string text = Utf8ToUtf16(folder);
    free(folder);
    return CopyPathOut(text, capacity, buffer);
}

FILETIME UnixTimeToFileTime(int64_t seconds)
{
    constexpr int64_t kFirst = -kUnixEpochInFileTime / kFileTimeUnitsPerSecond;
    constexpr int64_t kLast = (INT64_MAX - kUnixEpochInFileTime) / kFileTimeUnitsPerSecond;
    seconds = std::clamp(seconds, kFirst, kLast);
    auto value = static_cast<uint64_t>(seconds * kFileTimeUnitsPerSecond + kUnixEpochInFileTime);
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

int64_t FileTimeToUnixTime(const FILETIME& time)
{
    uint64_t value = FileTimeValue(time);
    if (value > static_cast<uint64_t>(INT64_MAX))
        value = INT64_MAX;
    int64_t units = static_cast<int64_t>(value) - kUnixEpochInFileTime;
    int64_t seconds = units / kFileTimeUnitsPerSecond;
    if (units % kFileTimeUnitsPerSecond < 0)
        --seconds;
    return seconds;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, FILETIME* fileTime)
{
    if (systemTime == nullptr || fileTime == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const SYSTEMTIME& t = *systemTime;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (t.wYear % 4 == 0 && t.wYear % 100 != 0) || t.wYear % 400 == 0;
    if (t.wYear < 1601 || t.wYear > 30827 || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 ||
        t.wDay > kDays[t.wMonth - 1] + (t.wMonth == 2 && leap ? 1 : 0) || t.wHour > 23 ||
        t.wMinute > 59 || t.wSecond > 59 || t.wMilliseconds > 999) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Days from 1970-01-01 to the date (proleptic Gregorian calendar).
    int64_t year = t.wMonth <= 2 ? t.wYear - 1 : t.wYear;
    int64_t era = year / 400;
    int64_t yearOfEra = year - era * 400;
    int64_t monthIndex = (t.wMonth + 9) % 12;
    int64_t dayOfYear = (153 * monthIndex + 2) / 5 + t.wDay - 1;
    int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    int64_t days = era * 146097 + dayOfEra - 719468;
    int64_t seconds = days * 86400 + t.wHour * 3600 + t.wMinute * 60 + t.wSecond;
    auto value = static_cast<uint64_t>(seconds * kFileTimeUnitsPerSecond + kUnixEpochInFileTime +
                                       static_cast<int64_t>(t.wMilliseconds) * 10000);
    *fileTime = FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
    return TRUE;
}

bool ReadWholeFile(const char* path, std::string* content)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[16384];
    ssize_t count;
    for (;;) {
        count = read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        content->append(buffer, static_cast<size_t>(count));
    }
    const int error = errno;
    close(fd);
    errno = error;
    return count == 0;
}
