// A directory search over the operating system's FindFirstFile/FindNextFile. "." and ".."
// are skipped, and so are files when the search is for directories only.
#pragma once

#include "file/FileIterator.h"
#include "platform/Win32.h"

namespace Tarn::File {

class FileIteratorWin32 final : public FileIteratorBase {
public:
    // Starts a search; null when it cannot start (no match, no such directory, an error).
    static FileIteratorWin32* Start(const char* pattern, std::uint32_t flags);
    ~FileIteratorWin32() override;

    bool IsValid() const override { return mSearch != Win32::INVALID_HANDLE_VALUE; }
    void Next() override;
    const char* GetName() const override { return mData.cFileName; }
    bool IsDirectory() const override { return (mData.dwFileAttributes & Win32::FILE_ATTRIBUTE_DIRECTORY) != 0; }
    bool IsReadOnly() const override { return (mData.dwFileAttributes & Win32::FILE_ATTRIBUTE_READONLY) != 0; }

private:
    FileIteratorWin32(Win32::HANDLE search, const Win32::WIN32_FIND_DATAA& first, std::uint32_t flags);
    bool Unwanted() const;
    void Fetch();
    void SkipUnwanted();

    Win32::HANDLE mSearch;
    Win32::WIN32_FIND_DATAA mData;
    std::uint32_t mFlags;
};

}  // namespace Tarn::File
