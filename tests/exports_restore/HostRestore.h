// kelvane-host restoring the restore fixture's file version, as a child process of the test's
// own that can be limited (a file size limit, another user, a mount namespace, a file system
// without unnamed files, a kernel without links by descriptor) or killed, and whose standard output the test reads line by line.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "support/OtherUser.h"


// What the host restoring in a child process runs under.
struct HostConditions {
    // Caps the size of every file the host writes (a write past it fails instead of raising
    // SIGXFSZ); 0 leaves it.
    rlim_t fileSizeLimit = 0;
    // Runs the host as kOtherUser rather than as the test's user.
    bool asOtherUser = false;
    // In a mount namespace of the host's own, this file is bind-mounted over bindTarget.
    std::string bindSource{};
    std::string bindTarget{};
    // Runs the host in the mount namespace of this process (0: the test's own).
    pid_t mountNamespaceOf = 0;
    // Makes every file system look as if it had no unnamed files (O_TMPFILE), as NFS, FAT and
    // most FUSE file systems have none, and the system look as if it had no statx and no
    // faccessat2, as under the system-call filters of older container runtimes.
    bool withoutUnnamedFiles = false;
    // What statx and faccessat2 fail with then: EPERM, or ENOSYS as on a kernel without them,
    // which the C library answers in their stead (statx with stat and without the attributes
    // only statx tells).
    int statxError = EPERM;
    // Makes the system refuse to link a file by its descriptor alone (linkat with
    // AT_EMPTY_PATH) as kernels before 6.10 refuse it to a process that may not read every
    // folder (ENOENT).
    bool withoutLinksByDescriptor = false;
    // Runs the host without CAP_SYS_RESOURCE, as root in most containers runs.
    bool withoutResourceCapability = false;
};

// Whether a child process may have a mount namespace of its own and mount in it.
bool CanMountInANamespace();

class HostRestore {
public:
    // Starts the host in folder, restoring to path, under the conditions given.
    HostRestore(const std::string& server, const std::filesystem::path& path,
                const std::filesystem::path& folder, const HostConditions& conditions = {});
    ~HostRestore();
    HostRestore(const HostRestore&) = delete;
    HostRestore& operator=(const HostRestore&) = delete;

    bool Started() const { return m_pid > 0 && m_output >= 0; }
    // Reads the output until a line holds text; false when the output ends first.
    bool WaitForLine(const std::string& text);
    void Kill();
    // Everything the host printed, once it has ended.
    std::string Finish();

private:
    bool ReadMore();
    void Wait();

    pid_t m_pid = -1;
    int m_output = -1;
    std::string m_pending;
    std::string m_lines;
};
