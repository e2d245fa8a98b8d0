// The object behind a file handle, and the share modes of this process's opens: what the
// file calls of the layer share. Not for code above the layer.
#pragma once

#include <sys/stat.h>

#include <mutex>
#include <string>

#include "platform/KernelObject.h"

// The kinds of access that take part in sharing.
constexpr unsigned kReadAccess = 1;
constexpr unsigned kWriteAccess = 2;
constexpr unsigned kDeleteAccess = 4;

struct FileIdentity {
    dev_t device;
    ino_t inode;
    bool operator==(const FileIdentity&) const = default;
};

// One open of a file as the sharing rules see it.
struct ShareEntry {
    unsigned access;
    DWORD shareMode;
};

// Held across "open, check, record" so that two opens cannot both pass the sharing check,
// and across every check of a rename or removal against the opens. Recursive: an open that
// runs out of memory while it records itself drops its new object under the lock, and the
// object takes the lock to leave the table.
extern std::recursive_mutex g_shareLock;
using ShareLock = std::lock_guard<std::recursive_mutex>;

// Whether an open with this access and share mode may join the opens the file already has:
// the new access must be allowed by each existing share mode, and each existing access by
// the new share mode. The caller holds g_shareLock.
bool SharingAllows(const FileIdentity& id, unsigned access, DWORD shareMode);
// Deleting or renaming a file needs delete access: every open must share delete. The caller
// holds g_shareLock.
bool SharingAllowsDelete(const std::string& native);

class FileObject : public KernelObject {
public:
    // A non-empty deletePath is removed when the handle closes (FILE_FLAG_DELETE_ON_CLOSE).
    FileObject(int fd, unsigned access, DWORD shareMode, const struct stat& status,
               std::string deletePath);
    ~FileObject() override;

    // Records this open in the sharing table; the caller holds g_shareLock.
    void Share();

    int fd() const { return m_fd; }
    bool canRead() const { return (m_share.access & kReadAccess) != 0 && !m_directory; }
    bool canWrite() const { return (m_share.access & kWriteAccess) != 0 && !m_directory; }

    BOOL Read(void* buffer, DWORD toRead, DWORD* read) override;
    BOOL Write(const void* buffer, DWORD toWrite, DWORD* written) override;
    BOOL Flush() override;
    // Moves the position; false with the last error set on failure.
    bool Seek(int64_t distance, DWORD moveMethod, int64_t* position);
    // Removes the name path (the last link not followed) only while it names the file this
    // handle has open; false with errno otherwise (ENOENT when it names another file).
    bool RemoveName(const std::string& path) const;

private:
    void Unshare();

    int m_fd;
    ShareEntry m_share;
    FileIdentity m_identity;
    bool m_directory;
    bool m_shared = false;
    std::string m_deletePath;
};

// Hands an open descriptor to a new file handle, recorded for sharing; the caller holds
// g_shareLock.
HANDLE RegisterFile(int fd, unsigned kinds, DWORD shareMode, const struct stat& status,
                    DWORD flagsAndAttributes, std::string deletePath);
