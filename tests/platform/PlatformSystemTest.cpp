// The current directory, the executable's path, local time, the performance counter and
// the process's memory counters.
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "PlatformTestSupport.h"
#include "platform/Win32.h"
#include "support/TempDir.h"

using namespace PlatformTest;
using TarnTest::TempDir;
namespace fs = std::filesystem;

TEST(PlatformSystem, GetCurrentDirectoryGivesTheProcessDirectory)
{
    TempDir dir;
    ScopedCurrentDirectory current(dir.Path());
    const std::string expected = fs::current_path().string();
    char buffer[4096];
    Win32::DWORD n = Win32::GetCurrentDirectoryA(sizeof(buffer), buffer);
    ASSERT_EQ(n, expected.size());
    EXPECT_EQ(std::string(buffer), expected);
}

TEST(PlatformSystem, GetCurrentDirectoryIntoASmallBufferGivesTheSizeItNeedsAndWritesNothing)
{
    const std::string expected = fs::current_path().string();
    const auto needed = static_cast<Win32::DWORD>(expected.size() + 1);
    std::vector<char> buffer(expected.size() + 8, 'x');
    EXPECT_EQ(Win32::GetCurrentDirectoryA(needed - 1, buffer.data()), needed);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), std::string(buffer.size(), 'x'));
    EXPECT_EQ(Win32::GetCurrentDirectoryA(1, buffer.data()), needed);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(Win32::GetCurrentDirectoryA(0, nullptr), needed);
    EXPECT_EQ(Win32::GetCurrentDirectoryA(needed, buffer.data()), needed - 1);
    EXPECT_EQ(std::string(buffer.data()), expected);
}

TEST(PlatformSystem, GetModuleFileNameNamesTheRunningExecutable)
{
    char buffer[4096];
    Win32::DWORD n = Win32::GetModuleFileNameA(nullptr, buffer, sizeof(buffer));
    ASSERT_GT(n, 0u);
    ASSERT_LT(n, sizeof(buffer));
    EXPECT_EQ(std::strlen(buffer), n);
    fs::path path(buffer);
    EXPECT_TRUE(path.is_absolute());
    EXPECT_EQ(path.filename(), "vell_unit_tests");
    EXPECT_TRUE(fs::is_regular_file(path));
}

TEST(PlatformSystem, GetModuleFileNameCutsThePathToTheBuffer)
{
    char full[4096];
    Win32::DWORD length = Win32::GetModuleFileNameA(nullptr, full, sizeof(full));
    ASSERT_GT(length, 8u);
    char small[8];
    std::memset(small, 'x', sizeof(small));
    Win32::SetLastError(0);
    EXPECT_EQ(Win32::GetModuleFileNameA(nullptr, small, sizeof(small)), sizeof(small));
    EXPECT_EQ(Win32::GetLastError(), Win32::kErrorInsufficientBuffer);
    EXPECT_EQ(small[7], '\0');
    EXPECT_EQ(std::string(small), std::string(full, 7));
    // Exactly the length is still one byte short of the terminator.
    std::vector<char> exact(length, 'x');
    EXPECT_EQ(Win32::GetModuleFileNameA(nullptr, exact.data(), length), length);
    EXPECT_EQ(exact[length - 1], '\0');
}

TEST(PlatformSystem, GetLocalTimeGivesTheLocalDateAndTime)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::time_t before = std::time(nullptr);
        Win32::SYSTEMTIME now{};
        Win32::GetLocalTime(&now);
        std::time_t after = std::time(nullptr);
        if (before / 60 != after / 60) continue;  // a minute went by meanwhile: ask again
        std::tm local = *std::localtime(&before);
        EXPECT_EQ(now.wYear, local.tm_year + 1900);
        EXPECT_EQ(now.wMonth, local.tm_mon + 1);
        EXPECT_EQ(now.wDay, local.tm_mday);
        EXPECT_EQ(now.wDayOfWeek, local.tm_wday);
        EXPECT_EQ(now.wHour, local.tm_hour);
        EXPECT_EQ(now.wMinute, local.tm_min);
        EXPECT_LE(now.wSecond, 60);
        EXPECT_LE(now.wMilliseconds, 999);
        return;
    }
    FAIL() << "the clock kept crossing minutes";
}

TEST(PlatformSystem, PerformanceCounterNeverGoesBackAndCountsAtItsFrequency)
{
    Win32::LARGE_INTEGER frequency{};
    ASSERT_TRUE(Win32::QueryPerformanceFrequency(&frequency));
    ASSERT_GT(frequency.QuadPart, 0);
    Win32::LARGE_INTEGER previous{};
    ASSERT_TRUE(Win32::QueryPerformanceCounter(&previous));
    const Win32::LARGE_INTEGER first = previous;
    for (int i = 0; i < 100000; ++i) {
        Win32::LARGE_INTEGER now{};
        Win32::QueryPerformanceCounter(&now);
        ASSERT_GE(now.QuadPart, previous.QuadPart) << i;
        previous = now;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Win32::LARGE_INTEGER last{};
    Win32::QueryPerformanceCounter(&last);
    double seconds = static_cast<double>(last.QuadPart - first.QuadPart) / static_cast<double>(frequency.QuadPart);
    EXPECT_GE(seconds, 0.045);
    EXPECT_LT(seconds, 60.0);
}

TEST(PlatformSystem, ProcessMemoryInfoReportsTheWorkingSetInBytes)
{
    Win32::PROCESS_MEMORY_COUNTERS counters{};
    ASSERT_TRUE(Win32::GetProcessMemoryInfo(Win32::GetCurrentProcess(), &counters, sizeof(counters)));
    EXPECT_EQ(counters.cb, sizeof(counters));
    EXPECT_GT(counters.WorkingSetSize, 0u);
    const Win32::SIZE_T before = counters.WorkingSetSize;

    std::vector<char> touched(64u << 20);
    for (std::size_t i = 0; i < touched.size(); i += 4096) touched[i] = static_cast<char>(i);
    ASSERT_TRUE(Win32::GetProcessMemoryInfo(Win32::GetCurrentProcess(), &counters, sizeof(counters)));
    EXPECT_GE(counters.WorkingSetSize, before + (32u << 20));
    EXPECT_NE(touched[4096], 1);  // keeps the pages in use until here

    Win32::SetLastError(0);
    EXPECT_FALSE(Win32::GetProcessMemoryInfo(Win32::GetCurrentProcess(), &counters, sizeof(counters) - 1));
    EXPECT_NE(Win32::GetLastError(), 0u);
}
