// A mount namespace of its own, held by a child process, with a small file system mounted on
// an empty folder: tmpfs of a given size (or ramfs, which takes and tells no size), or ext4 or
// XFS made in an image file and mounted through a loop device. The test reaches its files
// through Path. Needs root, and mkfs of the file system.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>

class SmallFileSystem {
public:
    // tmpfs of bytes, or another file system kept in memory: type "ramfs" ignores the size.
    SmallFileSystem(const std::filesystem::path& mountPoint, size_t bytes,
                    const char* type = "tmpfs");
    // A file system of type ("ext4", "xfs": XFS takes no fewer than 300 MiB) made in image,
    // which is created with bytes.
    SmallFileSystem(const std::filesystem::path& mountPoint, const std::filesystem::path& image,
                    size_t bytes, const char* type = "ext4");
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool Mounted() const { return m_holder > 0; }
    pid_t Holder() const { return m_holder; }
    // Where the test finds a path of the namespace (through /proc/<holder>/root).
    std::filesystem::path Path(const std::filesystem::path& inside) const;

private:
    // Starts the holder, which runs mount in its new namespace; true from mount is success.
    template <typename Mount>
    void Hold(Mount mount);

    pid_t m_holder = -1;
};
