#include "support/FileFlag.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

bool SetFileFlag(const std::filesystem::path& path, int flag, bool on)
{
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    const bool set = file >= 0 && ioctl(file, FS_IOC_GETFLAGS, &flags) == 0 &&
                     (flags = on ? flags | flag : flags & ~flag,
                      ioctl(file, FS_IOC_SETFLAGS, &flags) == 0);
    if (file >= 0)
        close(file);
    return set;
}
