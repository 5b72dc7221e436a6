// Small helpers shared by the platform layer's tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Win32.h"
#include "support/Platform.h"
#include "support/TempDir.h"

namespace PlatformTest {

using TarnSupport::TempDir;
namespace fs = std::filesystem;

constexpr std::uint64_t k4GiB = std::uint64_t{1} << 32;

// A path written the Windows way: every '/' becomes '\'.
inline std::string Backslashed(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// Closes a handle at the end of a scope.
struct HandleCloser {
    void operator()(void* handle) const { if (handle != Win32::INVALID_HANDLE_VALUE) Win32::CloseHandle(handle); }
};
using ScopedHandle = std::unique_ptr<void, HandleCloser>;

inline ScopedHandle Event(bool manualReset, bool signalled = false)
{
    return ScopedHandle(Win32::CreateEventA(nullptr, manualReset, signalled, nullptr));
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
    ScopedHandle file(OpenForReading(path));
    return file.get() == Win32::INVALID_HANDLE_VALUE ? Win32::GetLastError() : 0;
}

// An OVERLAPPED record for a read at a 64-bit offset.
inline Win32::OVERLAPPED At(std::uint64_t offset, Win32::HANDLE event = nullptr)
{
    Win32::OVERLAPPED overlapped{};
    overlapped.Offset = static_cast<Win32::DWORD>(offset);
    overlapped.OffsetHigh = static_cast<Win32::DWORD>(offset >> 32);
    overlapped.hEvent = event;
    return overlapped;
}

// One overlapped read as the library makes it: started, and when the system answers that it
// is pending, waited for on the record's event and finished with GetOverlappedResult.
inline Win32::BOOL ReadAndWait(Win32::HANDLE file, void* buffer, Win32::DWORD size, Win32::DWORD* bytes, Win32::OVERLAPPED* overlapped)
{
    Win32::BOOL ok = Win32::ReadFile(file, buffer, size, bytes, overlapped);
    if (!ok && Win32::GetLastError() == Win32::kErrorIoPending && overlapped->hEvent != nullptr &&
        Win32::WaitForSingleObject(overlapped->hEvent, Win32::INFINITE) == Win32::WAIT_OBJECT_0)
        ok = Win32::GetOverlappedResult(file, overlapped, bytes, Win32::FALSE);
    return ok;
}

// The whole file read through CreateFileA and overlapped ReadFile, or "<error N>".
inline std::string ReadWhole(const std::string& path)
{
    ScopedHandle file(OpenForReading(path));
    if (file.get() == Win32::INVALID_HANDLE_VALUE) return "<error " + std::to_string(Win32::GetLastError()) + ">";
    ScopedHandle event(Win32::CreateEventA(nullptr, Win32::TRUE, Win32::FALSE, nullptr));
    std::string content;
    char buffer[4096];
    Win32::DWORD bytes = 0;
    Win32::SetLastError(0);
    for (Win32::OVERLAPPED at = At(0, event.get()); ReadAndWait(file.get(), buffer, sizeof(buffer), &bytes, &at) && bytes > 0;
         at = At(content.size(), event.get()))
        content.append(buffer, bytes);
    EXPECT_EQ(Win32::GetLastError(), Win32::kErrorHandleEof) << path;
    return content;
}

// Bytes that differ with their position, so a read from the wrong offset shows.
inline std::string Pattern(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131u + (i >> 8) * 7u + 1u) & 0xFFu);
    return bytes;
}

// Makes a sparse file of the given size and writes bytes at offsets inside it.
inline void MakeSparseFile(const std::string& path, std::uint64_t size,
                           const std::vector<std::pair<std::uint64_t, std::string>>& writes = {})
{
    { std::ofstream create(path, std::ios::binary); }
    std::filesystem::resize_file(path, size);
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    for (const auto& [offset, bytes] : writes) file.seekp(static_cast<std::streamoff>(offset)).write(bytes.data(), bytes.size());
    ASSERT_TRUE(file.good()) << path;
}

struct Found {
    std::string name;
    Win32::DWORD attributes;
    std::uint64_t size;
    bool operator==(const Found&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Found& f) { return out << f.name << ' ' << f.attributes << ' ' << f.size; }
};

// Every entry a directory search returns, in order, or one named "<error N>" when the
// search cannot start. It must end with ERROR_NO_MORE_FILES and close cleanly. With a level,
// the search starts with FindFirstFileExA asking for directories only.
inline std::vector<Found> FindAll(const std::string& pattern, int level = -1)
{
    Win32::WIN32_FIND_DATAA data{};
    Win32::SetLastError(0);
    Win32::HANDLE search = level < 0 ? Win32::FindFirstFileA(pattern.c_str(), &data)
                                     : Win32::FindFirstFileExA(pattern.c_str(), static_cast<Win32::FINDEX_INFO_LEVELS>(level), &data,
                                                               Win32::FindExSearchLimitToDirectories, nullptr, 0);
    if (search == Win32::INVALID_HANDLE_VALUE) return {{"<error " + std::to_string(Win32::GetLastError()) + ">", 0, 0}};
    std::vector<Found> found;
    do {
        found.push_back({data.cFileName, data.dwFileAttributes, (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow});
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
struct ScopedCurrentDirectory {
    explicit ScopedCurrentDirectory(const std::filesystem::path& directory) { std::filesystem::current_path(directory); }
    ~ScopedCurrentDirectory()
    {
        std::error_code ignored;
        std::filesystem::current_path(previous, ignored);
    }
    std::filesystem::path previous = std::filesystem::current_path();
};

// True when this process can write a file in spite of its permission bits, as the
// superuser can; checks of permission failures are skipped then.
inline bool CanStillWrite(const std::string& path) { return std::ofstream(path, std::ios::binary | std::ios::app).is_open(); }

}  // namespace PlatformTest
