// Clocks and sleeping.
#pragma once

#include <ctime>

#include "platform/types.h"

BOOL QueryPerformanceCounter(LARGE_INTEGER* counter);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
DWORD GetTickCount();
ULONGLONG GetTickCount64();
void GetLocalTime(SYSTEMTIME* time);
void GetSystemTime(SYSTEMTIME* time);
void Sleep(DWORD milliseconds);

// The fields of a C library calendar time as a SYSTEMTIME.
void CalendarToSystemTime(const struct tm& calendar, WORD milliseconds, SYSTEMTIME* time);
