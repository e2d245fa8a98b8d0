#include "platform/filelock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

bool LockDescriptor(int fd, short type, off_t start, off_t length, bool wait)
{
    struct flock range{};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = start;
    range.l_len = length;
    int result;
    do {
        result = fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &range);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool LockAgainstEveryHolder(int fd)
{
    if (!LockDescriptor(fd, F_RDLCK, 0, 0, false))
        return false;
    // The shared lock just taken belongs to this open, which the test leaves out.
    struct flock other{};
    other.l_type = F_WRLCK;
    other.l_whence = SEEK_SET;
    if (fcntl(fd, F_OFD_GETLK, &other) != 0)
        return false;
    if (other.l_type != F_UNLCK) {
        errno = EAGAIN;
        return false;
    }
    return flock(fd, LOCK_EX | LOCK_NB) == 0 || errno == EBADF;
}
