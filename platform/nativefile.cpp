#include "platform/nativefile.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/error.h"
#include "platform/path.h"

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

FILETIME FileTimeFromTimespec(const struct timespec& time)
{
    int64_t units = kUnixEpochInFileTime + static_cast<int64_t>(time.tv_sec) * kFileTimeUnitsPerSecond +
                    time.tv_nsec / 100;
    auto value = static_cast<uint64_t>(std::max<int64_t>(units, 0));
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
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

bool HasAccess(const std::string& native, int rights)
{
    if (faccessat(AT_FDCWD, native.c_str(), rights, AT_EACCESS) == 0)
        return true;
    // The call that checks by effective ids is newer (faccessat2) than some system-call
    // filters (those of older container runtimes refuse it with EPERM, and the C library
    // then does not fall back as it does for a kernel without it). The older call checks by
    // real ids, which are the effective ones in a process that is not set-id; it refuses an
    // immutable file as the newer one does.
    if (errno != EPERM || getuid() != geteuid() || getgid() != getegid())
        return false;
    return syscall(SYS_faccessat, AT_FDCWD, native.c_str(), rights) == 0;
}

int OpenOrRetry(const char* path, int flags, mode_t mode)
{
    // An open that must not wait fails with EWOULDBLOCK while the holder of a lease on the
    // file (a file server's oplock, an NFS delegation) is asked to let go of it; the kernel
    // takes the lease by force after its lease break time (45 s unless set otherwise). The
    // open waits for that as an open that may wait would, up to a bound of its own.
    constexpr useconds_t kLeasePause = 10000;
    constexpr int kLeasePauses = 12000;
    int fd;
    int pauses = 0;
    for (;;) {
        fd = open(path, flags, mode);
        if (fd >= 0 || (errno != EINTR && (errno != EWOULDBLOCK || !(flags & O_NONBLOCK) ||
                                           ++pauses > kLeasePauses)))
            return fd;
        if (errno == EWOULDBLOCK)
            usleep(kLeasePause);
    }
}
