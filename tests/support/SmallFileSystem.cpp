#include "support/SmallFileSystem.h"

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace {

// Runs a program to its end; true when it exits with 0.
bool Run(const char* const* words)
{
    const pid_t child = fork();
    if (child == 0) {
        execv(words[0], const_cast<char* const*>(words));
        _exit(127);
    }
    int status = 1;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

}  // namespace

SmallFileSystem::SmallFileSystem(const std::filesystem::path& mountPoint, size_t bytes,
                                 const char* type)
{
    const std::string point = mountPoint.string();
    const std::string options = "size=" + std::to_string(bytes);
    Hold([&] { return mount(type, point.c_str(), type, 0, options.c_str()) == 0; });
}

SmallFileSystem::SmallFileSystem(const std::filesystem::path& mountPoint,
                                 const std::filesystem::path& image, size_t bytes,
                                 const char* type)
{
    const std::string point = mountPoint.string();
    const std::string file = image.string();
    const std::string program = std::string("/sbin/mkfs.") + type;
    // A new image holds zeros: no file system that mkfs would ask before replacing.
    std::ofstream{image};
    std::error_code error;
    std::filesystem::resize_file(image, bytes, error);
    const char* const make[] = {program.c_str(), "-q", file.c_str(), nullptr};
    if (error || !Run(make))
        return;
    // The loop device goes when the namespace, and with it the mount, goes.
    const char* const mountLoop[] = {"/bin/mount", "-o", "loop", "-t", type, file.c_str(),
                                     point.c_str(), nullptr};
    Hold([&] { return Run(mountLoop); });
}

template <typename Mount>
void SmallFileSystem::Hold(Mount mount)
{
    int ready[2];
    if (pipe(ready) != 0)
        return;
    m_holder = fork();
    if (m_holder == 0) {
        close(ready[0]);
        if (unshare(CLONE_NEWNS) != 0 ||
            ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 || !mount())
            _exit(1);
        const char mounted = 1;
        if (write(ready[1], &mounted, 1) != 1)
            _exit(1);
        for (;;)
            pause();
    }
    close(ready[1]);
    char mounted = 0;
    if (m_holder > 0 && read(ready[0], &mounted, 1) != 1) {
        waitpid(m_holder, nullptr, 0);
        m_holder = -1;
    }
    close(ready[0]);
}

SmallFileSystem::~SmallFileSystem()
{
    if (m_holder > 0) {
        kill(m_holder, SIGKILL);
        waitpid(m_holder, nullptr, 0);
    }
}

std::filesystem::path SmallFileSystem::Path(const std::filesystem::path& inside) const
{
    return std::filesystem::path("/proc/" + std::to_string(m_holder) + "/root") /
           inside.relative_path();
}
