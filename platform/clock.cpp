#include "platform/clock.h"

#include <sched.h>

#include <cerrno>
#include <ctime>

namespace {

constexpr int64_t kNanosecondsPerSecond = 1000000000;

int64_t MonotonicNanoseconds()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
}

template <typename Convert>
void CurrentTime(SYSTEMTIME* time, Convert convert)
{
    if (time == nullptr)
        return;
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm calendar{};
    convert(&now.tv_sec, &calendar);
    CalendarToSystemTime(calendar, static_cast<WORD>(now.tv_nsec / 1000000), time);
}

}  // namespace

void CalendarToSystemTime(const struct tm& calendar, WORD milliseconds, SYSTEMTIME* time)
{
    time->wYear = static_cast<WORD>(calendar.tm_year + 1900);
    time->wMonth = static_cast<WORD>(calendar.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(calendar.tm_wday);
    time->wDay = static_cast<WORD>(calendar.tm_mday);
    time->wHour = static_cast<WORD>(calendar.tm_hour);
    time->wMinute = static_cast<WORD>(calendar.tm_min);
    time->wSecond = static_cast<WORD>(calendar.tm_sec);
    time->wMilliseconds = milliseconds;
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* counter)
{
    if (counter == nullptr)
        return FALSE;
    counter->QuadPart = MonotonicNanoseconds();
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency)
{
    if (frequency == nullptr)
        return FALSE;
    frequency->QuadPart = kNanosecondsPerSecond;
    return TRUE;
}

DWORD GetTickCount()
{
    return static_cast<DWORD>(GetTickCount64());
}

ULONGLONG GetTickCount64()
{
    return static_cast<ULONGLONG>(MonotonicNanoseconds() / 1000000);
}

void GetLocalTime(SYSTEMTIME* time)
{
    CurrentTime(time, localtime_r);
}

void GetSystemTime(SYSTEMTIME* time)
{
    CurrentTime(time, gmtime_r);
}

void Sleep(DWORD milliseconds)
{
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    struct timespec remaining;
    remaining.tv_sec = static_cast<time_t>(milliseconds / 1000);
    remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000;
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}
