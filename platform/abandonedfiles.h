// Removing the files that ended writers left in a folder, where nothing else can be reached.
#pragma once

#include <functional>
#include <string>

#include "platform/types.h"

// Removes from folder each entry whose name isCandidate accepts and that is provably an
// abandoned file of this user:
// - the entry itself: the folder is opened once and the entry is examined, locked and removed
//   relative to it by the name the listing gave, never through a path made from that name,
//   so a name holding separators or ".." reaches nothing outside the folder;
// - a regular file (a link, a folder, a pipe or a device is never opened or removed) of the
//   process's effective user, with this one name;
// - that no writer holds: writers lock such files (LockFileEx, exclusive) from their creation
//   to their close, and an entry is removed only while this call holds a lock on it that it
//   took without waiting; an entry it cannot lock, for whatever reason, stays, and so does
//   one on which any other open or process holds a lock of either of the system's families
//   (flock, fcntl), shared or exclusive;
// - that the name still names, just before the removal, the file that was locked.
// The lock is seen in other PID namespaces and, where the file system passes locks on (NFS),
// on other machines. A writer locks its file right after creating it, without waiting; when
// that lock is refused, or the name no longer names its file once it holds the lock, this
// call took the file for abandoned, and the writer moves on to another name. Once it holds
// the lock on its named file, nothing here removes it.
// isCandidate sees the name converted to UTF-16 (a byte that is not UTF-8 as U+FFFD).
// FALSE, with the last error, when the folder cannot be opened or read; TRUE otherwise,
// whatever was removed.
BOOL DeleteAbandonedFilesW(LPCWSTR folder,
                           const std::function<bool(const std::u16string& name)>& isCandidate);
