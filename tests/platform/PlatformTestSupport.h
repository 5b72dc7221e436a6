// Small helpers shared by the platform layer's tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Win32.h"

namespace PlatformTest {

// A path written the Windows way: every '/' becomes '\'.
inline std::string Backslashed(std::string path)
{
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

// Opens a file exactly as the library does.
inline Win32::HANDLE OpenForReading(const std::string& path)
{
    return Win32::CreateFileA(path.c_str(), Win32::GENERIC_READ, Win32::FILE_SHARE_READ, nullptr,
                              Win32::OPEN_EXISTING, Win32::FILE_FLAG_OVERLAPPED, nullptr);
}

// The last error of an open that fails, or 0 when the file opens (it is closed again).
inline Win32::DWORD OpenError(const std::string& path)
{
    Win32::SetLastError(0);
    Win32::HANDLE file = OpenForReading(path);
    if (file == Win32::INVALID_HANDLE_VALUE) return Win32::GetLastError();
    Win32::CloseHandle(file);
    return 0;
}

// Closes a handle at the end of a scope.
class ScopedHandle {
public:
    explicit ScopedHandle(Win32::HANDLE handle) : mHandle(handle) {}
    ~ScopedHandle()
    {
        if (mHandle != nullptr && mHandle != Win32::INVALID_HANDLE_VALUE) Win32::CloseHandle(mHandle);
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    Win32::HANDLE get() const { return mHandle; }

private:
    Win32::HANDLE mHandle;
};

// An OVERLAPPED record for a read at a 64-bit offset.
inline Win32::OVERLAPPED At(std::uint64_t offset, Win32::HANDLE event = nullptr)
{
    Win32::OVERLAPPED overlapped{};
    overlapped.Offset = static_cast<Win32::DWORD>(offset);
    overlapped.OffsetHigh = static_cast<Win32::DWORD>(offset >> 32);
    overlapped.hEvent = event;
    return overlapped;
}

// The whole file read through CreateFileA and overlapped ReadFile, or "<error N>".
inline std::string ReadWhole(const std::string& path)
{
    Win32::HANDLE file = OpenForReading(path);
    if (file == Win32::INVALID_HANDLE_VALUE) return "<error " + std::to_string(Win32::GetLastError()) + ">";
    std::string content;
    char buffer[4096];
    for (;;) {
        Win32::OVERLAPPED overlapped = At(content.size());
        Win32::DWORD bytes = 0;
        if (!Win32::ReadFile(file, buffer, sizeof(buffer), &bytes, &overlapped)) break;
        if (bytes == 0) {
            ADD_FAILURE() << "a read at the end of " << path << " succeeded";
            break;
        }
        content.append(buffer, bytes);
    }
    Win32::CloseHandle(file);
    return content;
}

// Bytes that differ with their position, so a read from the wrong offset shows.
inline std::string Pattern(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131u + (i >> 8) * 7u + 1u) & 0xFFu);
    return bytes;
}

// Makes a (sparse) file of the given size, then writes bytes at an offset inside it.
inline void MakeSparseFile(const std::string& path, std::uint64_t size)
{
    { std::ofstream create(path, std::ios::binary); }
    std::filesystem::resize_file(path, size);
}
inline void WriteAt(const std::string& path, std::uint64_t offset, const std::string& bytes)
{
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(file.good()) << "cannot write at " << offset << " in " << path;
}

struct Found {
    std::string name;
    Win32::DWORD attributes;
    std::uint64_t size;
};

// Every entry a directory search returns, in order. The search must end with
// ERROR_NO_MORE_FILES and close cleanly. When FindFirstFileA fails, the list is empty and
// *error holds its last error (0 otherwise).
inline std::vector<Found> FindAll(const std::string& pattern, Win32::DWORD* error = nullptr)
{
    std::vector<Found> found;
    Win32::WIN32_FIND_DATAA data{};
    Win32::SetLastError(0);
    Win32::HANDLE search = Win32::FindFirstFileA(pattern.c_str(), &data);
    if (error) *error = 0;
    if (search == Win32::INVALID_HANDLE_VALUE) {
        if (error) *error = Win32::GetLastError();
        return found;
    }
    do {
        found.push_back({data.cFileName, data.dwFileAttributes,
                         (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow});
    } while (Win32::FindNextFileA(search, &data));
    EXPECT_EQ(Win32::GetLastError(), Win32::kErrorNoMoreFiles) << pattern;
    EXPECT_TRUE(Win32::FindClose(search));
    return found;
}

inline std::vector<std::string> Names(const std::vector<Found>& found)
{
    std::vector<std::string> names;
    for (const Found& f : found) names.push_back(f.name);
    return names;
}

// Makes a directory the current one for a scope.
class ScopedCurrentDirectory {
public:
    explicit ScopedCurrentDirectory(const std::filesystem::path& directory) : mPrevious(std::filesystem::current_path())
    {
        std::filesystem::current_path(directory);
    }
    ~ScopedCurrentDirectory()
    {
        std::error_code ignored;
        std::filesystem::current_path(mPrevious, ignored);
    }
    ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
    ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

private:
    std::filesystem::path mPrevious;
};

// True when this process can read (or write) a file in spite of its permission bits, as
// the superuser can; tests of permission failures skip then.
inline bool CanStillRead(const std::string& path) { return std::ifstream(path, std::ios::binary).is_open(); }
inline bool CanStillWrite(const std::string& path)
{
    return std::ofstream(path, std::ios::binary | std::ios::app).is_open();
}

}  // namespace PlatformTest
