// The CPU time that the calling thread has spent so far, user and system, as
// getrusage(RUSAGE_THREAD) counts it: a client's own cost, whatever the stand-in server's
// threads in the same process spend meanwhile.
#pragma once

#include <sys/resource.h>

inline double ThreadCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    auto seconds = [](const timeval& time) {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}
