// Locks of an open file description (F_OFD_SETLK): what LockFileEx, the removal of abandoned
// files and the copy of a move share, and the test of the removal against every lock of
// either of the system's families. Not for code above the layer.
//
// Such a lock belongs to one open of a file, not to a process: two opens conflict even in one
// process, a lock lives until its last descriptor is closed, and it is seen by every process
// that locks the same file, in other PID namespaces too, and on other machines where the
// file system passes locks on (NFS). Locks are advisory: they stop other locks, not reads,
// writes or removals.
#pragma once

#include <sys/types.h>

// Takes a shared (F_RDLCK) or exclusive (F_WRLCK) lock, or releases (F_UNLCK), on length
// bytes from start; a length of 0 runs to the end of the file and beyond. Waits for a lock
// that another open holds when wait, else fails at once. False with errno: EAGAIN (or EACCES)
// when another open holds a conflicting lock, EBADF when the descriptor's access does not
// allow the lock (a shared lock needs reading, an exclusive one writing), ENOLCK where the
// file system keeps no locks or no more of them.
bool LockDescriptor(int fd, short type, off_t start, off_t length, bool wait);

// Takes, without waiting, what no lock of another open or process on the file allows, so that
// any lock another holds, in either of the system's families, makes it fail: an exclusive
// flock, and of the fcntl family (locks of open file descriptions and of processes, which see
// each other) a shared lock on the whole file, which keeps every write lock off, with the test
// that no other holds a read lock. It needs only read access: an exclusive lock of the fcntl
// family would need write access, which a file its owner may only read does not give. Where
// the file system makes flock locks fcntl locks (NFS), an exclusive one needs write access too,
// and the fcntl test has seen them. False with errno (EAGAIN when another holds a lock); the
// descriptor's close lets go of what it took.
bool LockAgainstEveryHolder(int fd);
