// A child process that holds an exclusive lock (LockFileEx) on a whole file until it is let
// go: a writer of another process, as one in another PID namespace or on another machine
// would hold it.
#pragma once

#include <sys/types.h>

#include <filesystem>

class LockHolder {
public:
    explicit LockHolder(const std::filesystem::path& file);
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
