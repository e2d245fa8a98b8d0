#include "HostRestore.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/audit.h>
#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <iterator>
#include <vector>

#include "RestoreFixture.h"
#include "support/HostProgram.h"
#include "support/KelvaneLibrary.h"
#include "support/TempDir.h"

namespace {

// The host program and the library, copied where kOtherUser may run them: the build tree may
// lie in a folder that only the test's user may enter (root's home, say).
struct ReachableHost {
    ReachableHost()
    {
        std::filesystem::permissions(folder.path(), std::filesystem::perms(0755));
        std::filesystem::copy_file(HostProgram::ProgramPath(), program);
        std::filesystem::copy_file(KelvaneLibrary::Path(), library);
    }

    TempDir folder;
    std::filesystem::path program = folder.path() / "kelvane-host";
    std::filesystem::path library = folder.path() / "libkelvane.so";
};

const ReachableHost& HostForOtherUser()
{
    static const ReachableHost host;
    return host;
}

// Installs a system-call filter on the calling thread and what it runs. Only calls that are
// safe between fork and exec.
bool InstallFilter(sock_filter* filter, size_t length)
{
    const sock_fprog program{static_cast<unsigned short>(length), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Makes every later open that asks for an unnamed file fail as a file system without them
// fails it (EOPNOTSUPP), and statx and faccessat2 fail with statxError.
bool HideUnnamedFiles(int statxError)
{
#if defined(__x86_64__)
    constexpr uint32_t kUnnamedFlag = 020000000;  // __O_TMPFILE
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 0, 8),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_statx, 7, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_faccessat2, 6, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_openat, 0, 4),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),
        BPF_STMT(BPF_ALU | BPF_AND | BPF_K, kUnnamedFlag),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kUnnamedFlag, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EOPNOTSUPP & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K,
                 SECCOMP_RET_ERRNO | (static_cast<uint32_t>(statxError) & SECCOMP_RET_DATA)),
    };
    return InstallFilter(filter, std::size(filter));
#else
    return false;
#endif
}

// Makes every later link of a file by its descriptor alone (linkat with AT_EMPTY_PATH) fail
// as kernels before 6.10 fail it for a process without CAP_DAC_READ_SEARCH (ENOENT).
bool RefuseLinksByDescriptor()
{
#if defined(__x86_64__)
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 0, 5),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_linkat, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[4])),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, AT_EMPTY_PATH, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (ENOENT & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    return InstallFilter(filter, std::size(filter));
#else
    return false;
#endif
}

}  // namespace

bool CanMountInANamespace()
{
    const pid_t child = fork();
    if (child == 0)
        _exit(unshare(CLONE_NEWNS) == 0 &&
                      mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
                  ? 0
                  : 1);
    int status = 1;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

HostRestore::HostRestore(const std::string& server, const std::filesystem::path& path,
                         const std::filesystem::path& folder, const HostConditions& conditions)
{
    const bool reachable = conditions.asOtherUser;
    std::vector<std::string> words{
        reachable ? HostForOtherUser().program.string() : HostProgram::ProgramPath(),
        "--library",
        reachable ? HostForOtherUser().library.string() : KelvaneLibrary::Path(),
        "open-user", server, "alice", "secret", "restore-file"};
    for (ULONGLONG code : RestoreFixture::kCodes)
        words.push_back(std::to_string(code));
    words.push_back(path.string());
    words.push_back("");
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::string directory = folder.string();
    const char* bindSource = conditions.bindSource.c_str();
    const char* bindTarget = conditions.bindTarget.c_str();
    const int mountNamespace =
        conditions.mountNamespaceOf > 0
            ? open(("/proc/" + std::to_string(conditions.mountNamespaceOf) + "/ns/mnt").c_str(),
                   O_RDONLY | O_CLOEXEC)
            : -1;

    int output[2];
    if (pipe(output) != 0)
        return;
    m_pid = fork();
    if (m_pid == 0) {
        // Only calls that are safe between fork and exec.
        dup2(output[1], STDOUT_FILENO);
        close(output[0]);
        close(output[1]);
        if (conditions.fileSizeLimit != 0) {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{conditions.fileSizeLimit, conditions.fileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (conditions.mountNamespaceOf > 0 &&
            (mountNamespace < 0 || setns(mountNamespace, CLONE_NEWNS) != 0))
            _exit(126);
        if (*bindSource != 0 &&
            (unshare(CLONE_NEWNS) != 0 ||
             mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
             mount(bindSource, bindTarget, nullptr, MS_BIND, nullptr) != 0))
            _exit(126);
        if (conditions.asOtherUser &&
            (setgroups(0, nullptr) != 0 || setresgid(kOtherUser, kOtherUser, kOtherUser) != 0 ||
             setresuid(kOtherUser, kOtherUser, kOtherUser) != 0))
            _exit(126);
        if ((conditions.withoutUnnamedFiles && !HideUnnamedFiles(conditions.statxError)) ||
            (conditions.withoutLinksByDescriptor && !RefuseLinksByDescriptor()) ||
            (conditions.withoutResourceCapability &&
             prctl(PR_CAPBSET_DROP, CAP_SYS_RESOURCE, 0, 0, 0) != 0))
            _exit(126);
        if (chdir(directory.c_str()) == 0)
            execv(argv[0], argv.data());
        _exit(127);
    }
    if (mountNamespace >= 0)
        close(mountNamespace);
    close(output[1]);
    m_output = output[0];
}

HostRestore::~HostRestore()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        Wait();
    }
    if (m_output >= 0)
        close(m_output);
}

bool HostRestore::WaitForLine(const std::string& text)
{
    do {
        for (size_t end = m_pending.find('\n'); end != std::string::npos;
             end = m_pending.find('\n')) {
            const std::string line = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            m_lines += line + "\n";
            if (line.find(text) != std::string::npos)
                return true;
        }
    } while (ReadMore());
    return false;
}

void HostRestore::Kill()
{
    kill(m_pid, SIGKILL);
    Wait();
}

std::string HostRestore::Finish()
{
    while (ReadMore()) {
    }
    Wait();
    return m_lines + m_pending;
}

bool HostRestore::ReadMore()
{
    char buffer[4096];
    const ssize_t count = read(m_output, buffer, sizeof buffer);
    if (count <= 0)
        return false;
    m_pending.append(buffer, static_cast<size_t>(count));
    return true;
}

void HostRestore::Wait()
{
    int status = 0;
    while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
}

