#include "support/LockHolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/file.h"

namespace {

// In the child: opens the file and locks all of it as kind says, without waiting.
bool OpenAndLock(const std::filesystem::path& file, LockHolder::Kind kind)
{
    using Kind = LockHolder::Kind;
    if (kind == Kind::Writer) {
        const HANDLE handle = CreateFileW(file.u16string().c_str(), GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        OVERLAPPED start{};
        return handle != INVALID_HANDLE_VALUE &&
               LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                          0xFFFFFFFFu, 0xFFFFFFFFu, &start);
    }
    const int fd = open(file.c_str(), O_RDWR | O_CLOEXEC);
    if (kind == Kind::FlockShared || kind == Kind::FlockExclusive)
        return fd >= 0 && flock(fd, (kind == Kind::FlockShared ? LOCK_SH : LOCK_EX) | LOCK_NB) == 0;
    struct flock whole{};
    whole.l_type = kind == Kind::ProcessWrite ? F_WRLCK : F_RDLCK;
    whole.l_whence = SEEK_SET;
    return fd >= 0 && fcntl(fd, kind == Kind::OpenRead ? F_OFD_SETLK : F_SETLK, &whole) == 0;
}

}  // namespace

LockHolder::LockHolder(const std::filesystem::path& file, Kind kind)
{
    int ready[2];
    int release[2];
    if (pipe2(ready, O_CLOEXEC) != 0)
        return;
    if (pipe2(release, O_CLOEXEC) != 0) {
        close(ready[0]);
        close(ready[1]);
        return;
    }
    m_pid = fork();
    if (m_pid == 0) {
        close(ready[0]);
        close(release[1]);
        const char held = OpenAndLock(file, kind) ? 1 : 0;
        char ignored;
        if (write(ready[1], &held, 1) == 1)
            (void)read(release[0], &ignored, 1);  // returns when the parent closes its end
        _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    m_release = release[1];
    char held = 0;
    m_holds = m_pid > 0 && read(ready[0], &held, 1) == 1 && held == 1;
    close(ready[0]);
}

LockHolder::~LockHolder()
{
    LetGo();
}

void LockHolder::LetGo()
{
    if (m_release >= 0)
        close(m_release);
    m_release = -1;
    if (m_pid > 0)
        waitpid(m_pid, nullptr, 0);
    m_pid = -1;
    m_holds = false;
}
