#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/Win32.h"
#include "support/PlatformFaults.h"
#include "support/TempDir.h"

using TarnTest::TempDir;

TEST(PlatformFiles, OverlappedReadCompletesAtOnceAndFailsAtTheEnd)
{
    TempDir dir;
    std::string path = dir.Write("file.bin", "0123456789");
    Win32::HANDLE file = Win32::CreateFileA(path.c_str(), Win32::GENERIC_READ, Win32::FILE_SHARE_READ, nullptr,
                                            Win32::OPEN_EXISTING, Win32::FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(file, Win32::INVALID_HANDLE_VALUE);
    Win32::OVERLAPPED overlapped{};
    overlapped.Offset = 8;
    char buffer[8] = {};
    Win32::DWORD bytes = 0;
    EXPECT_TRUE(Win32::ReadFile(file, buffer, 4, &bytes, &overlapped));
    EXPECT_EQ(bytes, 2u);
    EXPECT_EQ(std::string(buffer, 2), "89");
    overlapped = {};
    overlapped.Offset = 10;
    EXPECT_FALSE(Win32::ReadFile(file, buffer, 4, &bytes, &overlapped));
    EXPECT_EQ(Win32::GetLastError(), Win32::kErrorHandleEof);
    EXPECT_TRUE(Win32::CloseHandle(file));
}
