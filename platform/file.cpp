#include "platform/file.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "platform/FileObject.h"
#include "platform/error.h"
#include "platform/filelock.h"
#include "platform/nativefile.h"
#include "platform/path.h"
#include "platform/pipe.h"
#include "platform/sync.h"
#include "platform/text.h"

namespace {

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
    const ShareLock lock(g_shareLock);
    if (!SharingAllowsDelete(native)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    if ((directory ? rmdir(native.c_str()) : unlink(native.c_str())) != 0)
        return SetErrorForPath(native), FALSE;
    return TRUE;
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

bool IsSymbolicLink(const std::string& native)
{
    struct stat status;
    return lstat(native.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

// Opens the file, creating it when it is missing; *existed tells which. An existing file is
// tried first, being the usual case. A name that is there but opens nothing is either a link
// to a missing file, which the system creates when asked to follow the link (through links of
// links, up to its own limit: ELOOP), or a file removed between the two opens, tried again a
// few times before the open fails as missing.
int OpenOrCreate(const std::string& native, int flags, mode_t mode, bool* existed)
{
    constexpr int kVanishedFileAttempts = 8;
    for (int attempt = 0; attempt < kVanishedFileAttempts; ++attempt) {
        int fd = OpenOrRetry(native.c_str(), flags, mode);
        if (fd >= 0 || errno != ENOENT) {
            *existed = true;
            return fd;
        }
        fd = OpenOrRetry(native.c_str(), flags | O_CREAT | O_EXCL, mode);
        if (fd >= 0 || errno != EEXIST) {
            *existed = false;
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
    // An open never waits for a peer: a FIFO would hold it until one came.
    int result = O_CLOEXEC | O_NONBLOCK | (read && write ? O_RDWR : (write ? O_WRONLY : O_RDONLY));
    if (flags & FILE_FLAG_WRITE_THROUGH)
        result |= O_DSYNC;
    // A link named last is not followed; where Windows would open the link itself, the open
    // fails here (1921).
    if (flags & FILE_FLAG_OPEN_REPARSE_POINT)
        result |= O_NOFOLLOW;
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

// Whether the regular file that status describes, at native, is append-only or immutable, from
// its flags (FS_IOC_GETFLAGS), which only an open file gives. The name is opened as a path
// alone, which opens nothing, and the file it leads to is opened for reading through that
// path's entry under /proc only while it is still the file examined: a pipe or a device that
// took the name meanwhile is never opened. The open does not wait, nor take a terminal.
// False where the flags cannot be read (a file system without them, a file this process may
// not read, no /proc): an open for writing then tells.
bool FlagsKeepBytes(const std::string& native, const struct stat& status)
{
    // Cancellation points that make descriptors: a cancellation inside would leave them open.
    CancellationHold hold;
    const int path = open(native.c_str(), O_PATH | O_CLOEXEC);
    if (path < 0)
        return false;
    struct stat named;
    int flags = 0;
    // Formatted without allocating: nothing may throw while the descriptors are open.
    char reopened[32];
    std::snprintf(reopened, sizeof reopened, "/proc/self/fd/%d", path);
    const int fd = fstat(path, &named) == 0 && IsSameFile(named, status)
                       ? open(reopened, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)
                       : -1;
    const bool kept = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                      (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
    if (fd >= 0)
        close(fd);
    close(path);
    return kept;
}

// stat(2) of native, links followed, and, unless keepsBytes is null, whether the file is
// append-only or immutable (which its mode does not show); false with errno when it cannot be
// examined.
bool StatWithFlags(const std::string& native, struct stat* status, bool* keepsBytes)
{
    constexpr uint64_t kKeepingBytes = STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE;
    struct statx extended {};
    if (statx(AT_FDCWD, native.c_str(), AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS, &extended) == 0) {
        *status = {};
        status->st_dev = makedev(extended.stx_dev_major, extended.stx_dev_minor);
        status->st_ino = extended.stx_ino;
        status->st_mode = extended.stx_mode;
        status->st_nlink = extended.stx_nlink;
        status->st_uid = extended.stx_uid;
        status->st_gid = extended.stx_gid;
        status->st_size = static_cast<off_t>(extended.stx_size);
        status->st_atim = {extended.stx_atime.tv_sec, extended.stx_atime.tv_nsec};
        status->st_mtim = {extended.stx_mtime.tv_sec, extended.stx_mtime.tv_nsec};
    } else if ((errno != ENOSYS && errno != EPERM) || stat(native.c_str(), status) != 0) {
        // A kernel or a system-call filter without statx (older container runtimes refuse it
        // with EPERM) leaves stat.
        return false;
    }
    // Where statx does not tell those attributes (a file system that does not report them,
    // or the C library's stand-in for a kernel without statx, which knows none), the flags
    // are read from a regular file itself.
    if (keepsBytes != nullptr)
        *keepsBytes = (extended.stx_attributes_mask & kKeepingBytes) == kKeepingBytes
                          ? (extended.stx_attributes & kKeepingBytes) != 0
                          : S_ISREG(status->st_mode) && FlagsKeepBytes(native, *status);
    return true;
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

// A descriptor that an open holds until it hands it to its handle: an exception on the way
// (memory running out) closes it; the open's own failures close it themselves.
class DescriptorInHand {
public:
    explicit DescriptorInHand(int fd) : m_fd(fd), m_exceptions(std::uncaught_exceptions()) {}
    ~DescriptorInHand()
    {
        if (m_fd >= 0 && std::uncaught_exceptions() > m_exceptions)
            close(m_fd);
    }
    DescriptorInHand(const DescriptorInHand&) = delete;
    DescriptorInHand& operator=(const DescriptorInHand&) = delete;
    void Release() { m_fd = -1; }

private:
    int m_fd;
    int m_exceptions;
};

}  // namespace

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, void* security,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile)
{
    return CreateFileWithMode(path, access, shareMode, disposition, flagsAndAttributes, 0666);
}

HANDLE CreateFileWithMode(LPCWSTR path, DWORD access, DWORD shareMode, DWORD disposition,
                          DWORD flagsAndAttributes, mode_t creationMode)
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
    mode_t mode = creationMode & ((flagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666);
    bool backup = (flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) != 0;

    const ShareLock lock(g_shareLock);
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
    DescriptorInHand unhanded(fd);
    struct stat status;
    if (fstat(fd, &status) != 0)
        return FailOpen(fd, SetLastErrorFromErrno());
    // Past the open, what is not a regular file or folder reads and writes as it would have.
    if (!S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode))
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
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
    std::string deletePath = deleteOnClose ? AbsolutePath(native) : "";
    unhanded.Release();
    return RegisterFile(fd, kinds, shareMode, status, flagsAndAttributes, std::move(deletePath));
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

namespace {

bool operator!=(const struct timespec& one, const struct timespec& other)
{
    return one.tv_sec != other.tv_sec || one.tv_nsec != other.tv_nsec;
}

// Undoes what the system marks on a file whose bytes a reservation or a cut at its own end
// left as they were: it gives the file a new write time and, unless the process may keep
// them, clears its set-id bits. Only the bits the system cleared come back, and only while
// the file has the owner and group it had.
void KeepAsItWas(int fd, const struct stat& before)
{
    constexpr mode_t kSetIdBits = S_ISUID | S_ISGID;
    struct stat now;
    if (fstat(fd, &now) != 0)
        return;
    if (now.st_mtim != before.st_mtim) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, before.st_mtim};
        futimens(fd, times);
    }
    if ((now.st_mode & kSetIdBits) != (before.st_mode & kSetIdBits) &&
        (now.st_mode & 0777) == (before.st_mode & 0777) && now.st_uid == before.st_uid &&
        now.st_gid == before.st_gid)
        fchmod(fd, (now.st_mode & 07777) | (before.st_mode & kSetIdBits));
}

// Frees what a file holds past its end by cutting it at its own size (ext4 and XFS keep the
// blocks that a reservation took there until then), and keeps it as it was.
bool CutAtOwnEnd(int fd, const struct stat& status)
{
    const bool cut = ftruncate(fd, status.st_size) == 0;
    const int error = errno;
    KeepAsItWas(fd, status);
    errno = error;
    return cut;
}

// Calls visit(start, length) for each hole of the file between from and end, as the file
// system tells them (one that tells none shows no hole), and gives whether every visit gave
// true. A file cut meanwhile ends the walk. The file's position is kept.
template <typename Visit>
bool ForEachHole(int fd, off_t from, off_t end, Visit visit)
{
    const off_t position = lseek(fd, 0, SEEK_CUR);
    bool going = true;
    for (off_t offset = from; going && offset < end;) {
        const off_t hole = lseek(fd, offset, SEEK_HOLE);
        if (hole < 0 || hole >= end)
            break;
        const off_t data = lseek(fd, hole, SEEK_DATA);
        offset = data < 0 ? end : std::min(data, end);
        // A hole that a writer filled in between is none.
        going = offset == hole || visit(hole, offset - hole);
    }
    lseek(fd, position, SEEK_SET);
    return going;
}

// Calls visit(start, length) for each range of the file's first wanted bytes that holds no
// block of it: its holes below that size, and all that lies past its end (size). A visit that
// gives false ends the walk.
template <typename Visit>
void ForEachRangeWithoutBlocks(int fd, off_t size, off_t wanted, Visit visit)
{
    if (ForEachHole(fd, 0, std::min(size, wanted), visit) && wanted > size)
        visit(size, wanted - size);
}

// The least that the file's first wanted bytes lack, by the blocks it holds: some file systems
// show as holes what they hold without having written it (tmpfs's reserved pages, unwritten
// extents), which a reservation takes no room for. Blocks of data past wanted do not count;
// blocks reserved past the file's end, or of its bookkeeping, do, so the file may lack more.
uint64_t LeastLacking(int fd, const struct stat& status, off_t wanted)
{
    uint64_t dataPast = 0;
    if (status.st_size > wanted) {
        dataPast = static_cast<uint64_t>(status.st_size - wanted);
        ForEachHole(fd, wanted, status.st_size, [&](off_t, off_t length) {
            dataPast -= std::min(dataPast, static_cast<uint64_t>(length));
            return true;
        });
    }
    const uint64_t held = static_cast<uint64_t>(status.st_blocks) * 512;
    const uint64_t heldBelow = held > dataPast ? held - dataPast : 0;
    return static_cast<uint64_t>(wanted) > heldBelow ? wanted - heldBelow : 0;
}

// Whether the process may fill the room a file system keeps back for root (ext4's reserved
// blocks): the kernel lets root (the reserve's user, unless the file system names another)
// fill it, and a process with CAP_SYS_RESOURCE, which root in a container may lack.
bool MayFillReservedRoom()
{
    if (geteuid() == 0)
        return true;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3]{};
    return syscall(SYS_capget, &header, sets) == 0 &&
           (sets[CAP_TO_INDEX(CAP_SYS_RESOURCE)].effective & CAP_TO_MASK(CAP_SYS_RESOURCE)) != 0;
}

// The bytes that this process may still fill on the file system of fd; as many as a number
// holds where the file system tells no size at all (ramfs, some FUSE file systems: no
// blocks, none free), which cannot be judged full. False with errno.
bool GetRoomForProcess(int fd, uint64_t* room)
{
    struct statvfs volume;
    if (fstatvfs(fd, &volume) != 0)
        return false;
    const uint64_t blocks = MayFillReservedRoom() ? volume.f_bfree : volume.f_bavail;
    *room = volume.f_blocks == 0 ? UINT64_MAX : blocks * volume.f_frsize;
    return true;
}

// Reserves the ranges of the file's first wanted bytes that hold no block of it, and keeps
// the file as status found it. Where the file system cannot reserve, the room weighed before
// must do. A reservation that runs out all the same (blocks
// of the file system's own bookkeeping, a writer elsewhere) keeps the holes it filled, which
// read as zeros as before, but gives back what it took past the file's end: a hole punched
// again could take a concurrent writer's bytes with it.
bool ReserveRangesWithoutBlocks(int fd, const struct stat& status, off_t wanted)
{
    int error = 0;
    ForEachRangeWithoutBlocks(fd, status.st_size, wanted, [&](off_t start, off_t length) {
        if (fallocate(fd, FALLOC_FL_KEEP_SIZE, start, length) == 0)
            return true;
        error = errno == EOPNOTSUPP || errno == ENOSYS ? 0 : errno;
        return false;
    });
    if (error == 0) {
        KeepAsItWas(fd, status);
        return true;
    }
    CutAtOwnEnd(fd, status);
    SetLastError(error == EFBIG ? ERROR_DISK_FULL : Win32ErrorFromErrno(error));
    return false;
}

}  // namespace

BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, void* info,
                                DWORD size)
{
    std::shared_ptr<FileObject> object = ReferenceHandle<FileObject>(file);
    if (object == nullptr)
        return FALSE;
    struct stat status;
    if (infoClass != FileAllocationInfo || info == nullptr || size != sizeof(FILE_ALLOCATION_INFO) ||
        !object->canWrite() || fstat(object->fd(), &status) != 0) {
        SetLastError(object->canWrite() ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const int64_t wanted = static_cast<const FILE_ALLOCATION_INFO*>(info)->AllocationSize.QuadPart;
    if (wanted < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    struct rlimit limit;
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        static_cast<uint64_t>(wanted) > limit.rlim_cur) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    // What the file lacks is weighed against the room this process may fill before anything
    // is taken, so that a refusal changes nothing; a file that lacks nothing is not touched at
    // all (XFS would reserve its blocks over again). Where the ranges without blocks seem more
    // than the room, the blocks the file holds may show that some of them are held after all.
    uint64_t unblocked = 0;
    ForEachRangeWithoutBlocks(object->fd(), status.st_size, wanted, [&](off_t, off_t length) {
        unblocked += static_cast<uint64_t>(length);
        return true;
    });
    uint64_t room = 0;
    if (!GetRoomForProcess(object->fd(), &room))
        return SetLastErrorFromErrno(), FALSE;
    if (unblocked > room && LeastLacking(object->fd(), status, wanted) > room) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return unblocked == 0 || ReserveRangesWithoutBlocks(object->fd(), status, wanted) ? TRUE
                                                                                       : FALSE;
}

BOOL FreeReservedRoom(HANDLE file)
{
    std::shared_ptr<FileObject> object = ReferenceHandle<FileObject>(file);
    if (object == nullptr)
        return FALSE;
    struct stat status;
    if (!object->canWrite() || fstat(object->fd(), &status) != 0) {
        SetLastError(object->canWrite() ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!CutAtOwnEnd(object->fd(), status))
        return SetLastErrorFromErrno(), FALSE;
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

namespace {

// The POSIX range of a Win32 lock of count bytes from offset: one that runs past the largest
// POSIX offset runs to the end of the file and beyond (length 0), which holds every byte a
// file can have. False for no bytes, or an offset past the largest.
bool PosixLockRange(const OVERLAPPED& overlapped, DWORD bytesLow, DWORD bytesHigh, off_t* start,
                    off_t* length)
{
    const uint64_t offset = (static_cast<uint64_t>(overlapped.OffsetHigh) << 32) | overlapped.Offset;
    const uint64_t count = (static_cast<uint64_t>(bytesHigh) << 32) | bytesLow;
    constexpr auto kLargest = static_cast<uint64_t>(INT64_MAX);
    if (count == 0 || offset > kLargest)
        return false;
    *start = static_cast<off_t>(offset);
    *length = count > kLargest - offset ? 0 : static_cast<off_t>(count);
    return true;
}

// LockFileEx and UnlockFileEx: the same checks of the handle and the range, then the lock of
// type (F_RDLCK, F_WRLCK or F_UNLCK) on it.
BOOL SetRangeLock(HANDLE file, DWORD reserved, DWORD bytesLow, DWORD bytesHigh,
                  const OVERLAPPED* overlapped, short type, bool wait)
{
    std::shared_ptr<FileObject> object = ReferenceHandle<FileObject>(file);
    if (object == nullptr)
        return FALSE;
    off_t start = 0;
    off_t length = 0;
    if (reserved != 0 || overlapped == nullptr ||
        !PosixLockRange(*overlapped, bytesLow, bytesHigh, &start, &length)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if ((type == F_RDLCK && !object->canRead()) || (type == F_WRLCK && !object->canWrite())) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (LockDescriptor(object->fd(), type, start, length, wait))
        return TRUE;
    if (errno == EAGAIN || errno == EACCES)
        SetLastError(ERROR_LOCK_VIOLATION);
    else if (errno == ENOLCK)
        SetLastError(ERROR_NOT_SUPPORTED);
    else
        SetLastErrorFromErrno();
    return FALSE;
}

}  // namespace

BOOL LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD bytesLow, DWORD bytesHigh,
                OVERLAPPED* overlapped)
{
    return SetRangeLock(file, reserved, bytesLow, bytesHigh, overlapped,
                        (flags & LOCKFILE_EXCLUSIVE_LOCK) ? F_WRLCK : F_RDLCK,
                        (flags & LOCKFILE_FAIL_IMMEDIATELY) == 0);
}

BOOL UnlockFileEx(HANDLE file, DWORD reserved, DWORD bytesLow, DWORD bytesHigh,
                  OVERLAPPED* overlapped)
{
    return SetRangeLock(file, reserved, bytesLow, bytesHigh, overlapped, F_UNLCK, false);
}

BOOL CheckFileAccessW(LPCWSTR path, DWORD access, BY_HANDLE_FILE_INFORMATION* information)
{
    std::string native;
    if (!ToNative(path, &native))
        return FALSE;
    // A file that the name led to as it was being replaced has no name left: the name holds
    // the file that replaced it, which an open now would meet.
    constexpr int kReplacedFileAttempts = 8;
    const unsigned kinds = AccessKinds(access, 0);
    struct stat status;
    bool keepsBytes = false;
    for (int attempt = 0;; ++attempt) {
        if (!StatWithFlags(native, &status, (kinds & kWriteAccess) ? &keepsBytes : nullptr))
            return SetErrorForPath(native), FALSE;
        if (status.st_nlink != 0 || !S_ISREG(status.st_mode) || attempt == kReplacedFileAttempts)
            break;
    }
    // An append-only or immutable file refuses an open for writing that the mode allows.
    if (S_ISDIR(status.st_mode) || ((kinds & kWriteAccess) && keepsBytes)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const int rights = ((kinds & kReadAccess) ? R_OK : 0) | ((kinds & kWriteAccess) ? W_OK : 0);
    if (rights != 0 && !HasAccess(native, rights))
        return SetLastErrorFromErrno(), FALSE;
    const ShareLock lock(g_shareLock);
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

BOOL CheckFolderAccessW(LPCWSTR path)
{
    std::string native;
    if (!ToNative(path, &native))
        return FALSE;
    // The kernel's check for writing refuses an immutable folder and a read-only file system
    // too, which the mode does not show.
    if (!HasAccess(native, W_OK | X_OK))
        return SetErrorForPath(native), FALSE;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL DeleteFileW(LPCWSTR path)
{
    return RemoveEntry(path, false);
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
