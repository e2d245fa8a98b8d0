#include "platform/abandonedfiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/error.h"
#include "platform/filelock.h"
#include "platform/nativefile.h"
#include "platform/sync.h"
#include "platform/text.h"

namespace {

// What an abandoned file of this process's kind is: a regular file of the effective user with
// one name. A second name is the user's own doing, which removing this one would undo.
bool IsSingleNamedFileOfUser(const struct stat& status)
{
    return S_ISREG(status.st_mode) && status.st_uid == geteuid() && status.st_nlink == 1;
}

// The names in the listing, as it gives them, that isCandidate accepts, but "." and "..":
// only those are kept, since a folder others write (the temporary folder) may hold any
// number of entries. False with errno when the folder cannot be read to its end.
bool ReadCandidateNames(DIR* listing,
                        const std::function<bool(const std::u16string& name)>& isCandidate,
                        std::vector<std::string>* names)
{
    errno = 0;
    while (const dirent* entry = readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0 &&
            isCandidate(Utf8ToUtf16(entry->d_name)))
            names->emplace_back(entry->d_name);
        errno = 0;
    }
    return errno == 0;
}

// Removes the entry name of the folder open on folder when it is an abandoned file of this
// user. It is looked at before it is opened (a device or a pipe is never opened), opened
// without following a link or waiting, for reading only, and locked against every holder:
// a writer's exclusive lock, this process's own included, keeps it, and so does any lock that
// another program holds on it. Between the last look and the removal, the name can be given
// to another file only by someone who may remove that file from this folder himself.
void RemoveIfAbandoned(int folder, const char* name)
{
    struct stat listed;
    if (fstatat(folder, name, &listed, AT_SYMLINK_NOFOLLOW) != 0 || !IsSingleNamedFileOfUser(listed))
        return;
    const int fd = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat opened;
    struct stat named;
    if (fstat(fd, &opened) == 0 && IsSameFile(opened, listed) && IsSingleNamedFileOfUser(opened) &&
        LockAgainstEveryHolder(fd) &&
        fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && IsSameFile(named, opened))
        unlinkat(folder, name, 0);
    close(fd);  // releases the lock, after the removal
}

}  // namespace

BOOL DeleteAbandonedFilesW(LPCWSTR folder,
                           const std::function<bool(const std::u16string& name)>& isCandidate)
{
    // One step for its caller: a cancellation inside would leave its descriptors unowned.
    CancellationHold hold;
    std::string native;
    if (!ToNative(folder, &native))
        return FALSE;
    const int fd = OpenOrRetry(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    DIR* listing = fd < 0 ? nullptr : fdopendir(fd);
    if (listing == nullptr) {
        SetErrorForPath(native);
        if (fd >= 0)
            close(fd);
        return FALSE;
    }
    // The whole listing is read before anything is removed from the folder.
    std::vector<std::string> names;
    const bool read = ReadCandidateNames(listing, isCandidate, &names);
    if (!read)
        SetLastErrorFromErrno();
    for (const std::string& name : names)
        RemoveIfAbandoned(dirfd(listing), name.c_str());
    closedir(listing);
    return read ? TRUE : FALSE;
}
