#include <unistd.h>

#include <thread>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/module.h"
#include "platform/path.h"
#include "platform/sync.h"

namespace {

TEST(Modules, Kernel32IsFoundUnderEitherNameInAnyCase)
{
    HMODULE a = LoadLibraryW(u"kernel32.dll");
    HMODULE b = GetModuleHandleW(u"KERNEL32");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_TRUE(FreeLibrary(a));
    EXPECT_EQ(LoadLibraryW(u"user32.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(GetModuleHandleW(u"CQVError.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_NE(GetModuleHandleW(nullptr), nullptr);
}

TEST(Modules, TheTwoFunctionsAreFoundAndAnswer)
{
    HMODULE kernel = LoadLibraryW(u"kernel32");
    auto isWow64 = ProcedureCast<IsWow64ProcessFunction>(GetProcAddress(kernel, "IsWow64Process"));
    ASSERT_NE(isWow64, nullptr);
    BOOL wow64 = TRUE;
    EXPECT_TRUE(isWow64(GetCurrentProcess(), &wow64));
    EXPECT_EQ(wow64, FALSE);

    auto sessionOf = ProcedureCast<ProcessIdToSessionIdFunction>(
        GetProcAddress(kernel, "ProcessIdToSessionId"));
    ASSERT_NE(sessionOf, nullptr);
    DWORD session = 12345;
    EXPECT_TRUE(sessionOf(GetCurrentProcessId(), &session));
    EXPECT_EQ(session, static_cast<DWORD>(getuid()));
    EXPECT_FALSE(sessionOf(0x7FFFFFF0, &session));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(Modules, UnknownFunctionsAreNotFound)
{
    HMODULE kernel = LoadLibraryW(u"kernel32");
    EXPECT_EQ(GetProcAddress(kernel, "GetNativeSystemInfo"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(GetProcAddress(kernel, "iswow64process"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(GetProcAddress(GetModuleHandleW(nullptr), "IsWow64Process"), nullptr);
}

TEST(Modules, ModuleFileNameCutsAndTerminatesWhenTooSmall)
{
    std::u16string host = HostExecutablePath();
    WCHAR buffer[1024];
    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 1024), host.size());
    EXPECT_EQ(std::u16string(buffer), host);
    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 5), 5u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::u16string(buffer), host.substr(0, 4));
}

TEST(Process, IdentifiersAreThoseOfTheSystem)
{
    EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
    DWORD main = GetCurrentThreadId();
    EXPECT_EQ(main, static_cast<DWORD>(getpid()));  // gtest runs tests on the main thread
    DWORD other = main;
    std::thread([&] { other = GetCurrentThreadId(); }).join();
    EXPECT_NE(other, main);
}

TEST(Clocks, CountersAdvanceAcrossASleep)
{
    LARGE_INTEGER frequency, before, after;
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency.QuadPart, 1000000000);
    ULONGLONG ticks = GetTickCount64();
    ASSERT_TRUE(QueryPerformanceCounter(&before));
    Sleep(20);
    ASSERT_TRUE(QueryPerformanceCounter(&after));
    EXPECT_GE(after.QuadPart - before.QuadPart, 20000000);
    EXPECT_GE(GetTickCount64() - ticks, 20u);
}

TEST(Clocks, CalendarTimesAreFilledIn)
{
    SYSTEMTIME utc, local;
    GetSystemTime(&utc);
    GetLocalTime(&local);
    EXPECT_GE(utc.wYear, 2024);
    EXPECT_GE(utc.wMonth, 1);
    EXPECT_LE(utc.wMonth, 12);
    EXPECT_LE(utc.wDayOfWeek, 6);
    EXPECT_LE(utc.wMilliseconds, 999);
    EXPECT_GE(local.wYear, 2024);
}

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads)
{
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);
    bool entered = false;
    std::thread other([&] {
        EnterCriticalSection(&section);
        entered = true;
        LeaveCriticalSection(&section);
    });
    LeaveCriticalSection(&section);
    EXPECT_FALSE(entered);
    LeaveCriticalSection(&section);
    other.join();
    EXPECT_TRUE(entered);
    DeleteCriticalSection(&section);
}

}  // namespace
