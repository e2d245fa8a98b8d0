#include "platform/filelock.h"

#include <fcntl.h>

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
