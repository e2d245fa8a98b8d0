#include "platform/FileObject.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <unordered_map>
#include <vector>

#include "platform/error.h"

namespace {

struct FileIdentityHash {
    size_t operator()(const FileIdentity& id) const
    {
        return std::hash<uint64_t>()(static_cast<uint64_t>(id.inode) * 31 +
                                     static_cast<uint64_t>(id.device));
    }
};

// Every open of this process that asked for data or delete access, by file identity.
std::unordered_map<FileIdentity, std::vector<const ShareEntry*>, FileIdentityHash>& ShareTable()
{
    static auto* table =
        new std::unordered_map<FileIdentity, std::vector<const ShareEntry*>, FileIdentityHash>();
    return *table;
}

}  // namespace

std::recursive_mutex g_shareLock;

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

bool SharingAllowsDelete(const std::string& native)
{
    struct stat status;
    if (lstat(native.c_str(), &status) != 0)
        return true;
    return SharingAllows(FileIdentity{status.st_dev, status.st_ino}, kDeleteAccess,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
}

FileObject::FileObject(int fd, unsigned access, DWORD shareMode, const struct stat& status,
                       std::string deletePath)
    : m_fd(fd),
      m_share{access, shareMode},
      m_identity{status.st_dev, status.st_ino},
      m_directory(S_ISDIR(status.st_mode)),
      m_deletePath(std::move(deletePath))
{
}

FileObject::~FileObject()
{
    const ShareLock lock(g_shareLock);
    if (m_shared)
        Unshare();
    if (!m_deletePath.empty())
        RemoveName(m_deletePath);
    close(m_fd);
}

void FileObject::Share()
{
    if (m_share.access == 0)
        return;  // an open for attributes only takes no part in sharing
    ShareTable()[m_identity].push_back(&m_share);
    m_shared = true;
}

BOOL FileObject::Read(void* buffer, DWORD toRead, DWORD* read)
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

BOOL FileObject::Write(const void* buffer, DWORD toWrite, DWORD* written)
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

BOOL FileObject::Flush()
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

bool FileObject::Seek(int64_t distance, DWORD moveMethod, int64_t* position)
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

void FileObject::Unshare()
{
    auto found = ShareTable().find(m_identity);
    if (found == ShareTable().end())
        return;
    std::erase(found->second, &m_share);
    if (found->second.empty())
        ShareTable().erase(found);
}

bool FileObject::RemoveName(const std::string& path) const
{
    struct stat status;
    if (lstat(path.c_str(), &status) != 0)
        return false;
    if (!(FileIdentity{status.st_dev, status.st_ino} == m_identity)) {
        errno = ENOENT;
        return false;
    }
    return unlink(path.c_str()) == 0;
}

HANDLE RegisterFile(int fd, unsigned kinds, DWORD shareMode, const struct stat& status,
                    DWORD flagsAndAttributes, std::string deletePath)
{
    if (flagsAndAttributes & FILE_FLAG_SEQUENTIAL_SCAN)
        posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    else if (flagsAndAttributes & FILE_FLAG_RANDOM_ACCESS)
        posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    std::shared_ptr<FileObject> file;
    try {
        file = std::make_shared<FileObject>(fd, kinds, shareMode, status, std::move(deletePath));
    } catch (...) {
        close(fd);  // no object owns it yet
        throw;
    }
    file->Share();
    return RegisterHandle(std::move(file));
}
