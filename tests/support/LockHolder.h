// A child process that holds a lock on a whole file until it is let go: a writer of another
// process, as one in another PID namespace or on another machine would hold it, or any other
// program that locks the file in one of the system's ways.
#pragma once

#include <sys/types.h>

#include <filesystem>

class LockHolder {
public:
    // The lock held: an exclusive LockFileEx (what a writer of this system holds), a shared or
    // exclusive flock, a read or write lock of a process (fcntl F_SETLK), a shared lock of an
    // open file description (F_OFD_SETLK).
    enum class Kind { Writer, FlockShared, FlockExclusive, ProcessRead, ProcessWrite, OpenRead };

    explicit LockHolder(const std::filesystem::path& file, Kind kind = Kind::Writer);
    ~LockHolder();
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

    // Whether the child opened the file and holds the lock.
    bool Holds() const { return m_holds; }
    // Ends the child, which lets go of the lock, and waits for its end.
    void LetGo();

private:
    pid_t m_pid = -1;
    int m_release = -1;
    bool m_holds = false;
};
