// The current directory, the executable's path, local time, the performance counter and
// the process's memory counters.
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>

#include "PlatformTestSupport.h"

using namespace PlatformTest;

TEST(PlatformSystem, GetCurrentDirectoryGivesTheSizeItNeedsWhenItDoesNotFit)
{
    const std::string expected = fs::current_path().string();
    const auto needed = static_cast<Win32::DWORD>(expected.size() + 1);
    std::vector<char> buffer(needed + 8, 'x');
    for (Win32::DWORD size : {needed - 1, Win32::DWORD{1}}) {
        EXPECT_EQ(Win32::GetCurrentDirectoryA(size, buffer.data()), needed);
        EXPECT_EQ(std::string(buffer.begin(), buffer.end()), std::string(buffer.size(), 'x')) << "nothing written";
    }
    EXPECT_EQ(Win32::GetCurrentDirectoryA(0, nullptr), needed);
    EXPECT_EQ(Win32::GetCurrentDirectoryA(needed, buffer.data()), needed - 1);
    EXPECT_EQ(std::string(buffer.data()), expected);
}

TEST(PlatformSystem, GetModuleFileNameNamesTheRunningExecutableCutToTheBuffer)
{
    char full[4096];
    const Win32::DWORD length = Win32::GetModuleFileNameA(nullptr, full, sizeof(full));
    ASSERT_GT(length, 8u);
    ASSERT_LT(length, sizeof(full));
    EXPECT_EQ(std::strlen(full), length);
    EXPECT_TRUE(fs::path(full).is_absolute());
    EXPECT_EQ(fs::path(full).stem(), "vell_unit_tests");
    // A path cut to the buffer is terminated by newer systems and by the POSIX layer, not by
    // Windows XP (nor Wine): callers terminate it themselves.
    for (Win32::DWORD size : {Win32::DWORD{8}, length}) {  // exactly the length is one byte short of the terminator
        std::vector<char> small(size, 'x');
        Win32::SetLastError(0);
        EXPECT_EQ(Win32::GetModuleFileNameA(nullptr, small.data(), size), size);
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorInsufficientBuffer);
        EXPECT_EQ(std::string(small.data(), size - 1), std::string(full, size - 1));
    }
}

TEST(PlatformSystem, GetLocalTimeGivesTheLocalDateAndTime)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::time_t before = std::time(nullptr);
        Win32::SYSTEMTIME now{};
        Win32::GetLocalTime(&now);
        if (before / 60 != std::time(nullptr) / 60) continue;  // a minute went by meanwhile: ask again
        std::tm local = *std::localtime(&before);
        EXPECT_EQ((std::vector<int>{now.wYear, now.wMonth, now.wDay, now.wDayOfWeek, now.wHour, now.wMinute}),
                  (std::vector<int>{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_wday, local.tm_hour, local.tm_min}));
        EXPECT_LE(now.wSecond, 60);
        EXPECT_LE(now.wMilliseconds, 999);
        return;
    }
    FAIL() << "the clock kept crossing minutes";
}

TEST(PlatformSystem, PerformanceCounterNeverGoesBackAndCountsAtItsFrequency)
{
    Win32::LARGE_INTEGER frequency{}, first{}, previous{}, now{};
    ASSERT_TRUE(Win32::QueryPerformanceFrequency(&frequency));
    const auto start = std::chrono::steady_clock::now();  // the counter's interval lies inside this clock's
    ASSERT_TRUE(Win32::QueryPerformanceCounter(&first));
    previous = first;
    for (int i = 0; i < 100000; ++i, previous = now) {
        Win32::QueryPerformanceCounter(&now);
        ASSERT_GE(now.QuadPart, previous.QuadPart) << i;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Win32::QueryPerformanceCounter(&now);
    const double seconds = static_cast<double>(now.QuadPart - first.QuadPart) / static_cast<double>(frequency.QuadPart);
    EXPECT_GE(seconds, 0.045);
    EXPECT_LE(seconds, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}

TEST(PlatformSystem, ProcessMemoryInfoReportsTheWorkingSetInBytes)
{
    Win32::PROCESS_MEMORY_COUNTERS counters{};
    ASSERT_TRUE(Win32::GetProcessMemoryInfo(Win32::GetCurrentProcess(), &counters, sizeof(counters)));
    EXPECT_EQ(counters.cb, sizeof(counters));
    // Whole pages counted in bytes: a running test program holds well over a megabyte, which
    // in pages or kilobytes it would not reach. Nothing here depends on the machine's memory.
    EXPECT_GE(counters.WorkingSetSize, Win32::SIZE_T{1} << 20);
    EXPECT_EQ(counters.WorkingSetSize % 4096, 0u);
    EXPECT_GE(counters.PeakWorkingSetSize, counters.WorkingSetSize);
    Win32::SetLastError(0);
    EXPECT_FALSE(Win32::GetProcessMemoryInfo(Win32::GetCurrentProcess(), &counters, sizeof(counters) - 1));
    EXPECT_NE(Win32::GetLastError(), 0u);
}
