#include "file/FileIteratorWin32.h"

#include <cstring>
#include <new>

#include "logger/Log.h"

namespace Tarn::File {

FileIteratorWin32* FileIteratorWin32::Start(const char* pattern, std::uint32_t flags)
{
    Win32::WIN32_FIND_DATAA data{};
    Win32::HANDLE search = (flags & kDirectoriesOnly)
                               ? Win32::FindFirstFileExA(pattern, Win32::FindExInfoStandard, &data,
                                                         Win32::FindExSearchLimitToDirectories, nullptr, 0)
                               : Win32::FindFirstFileA(pattern, &data);
    if (search == Win32::INVALID_HANDLE_VALUE) return nullptr;
    auto* iterator = new (std::nothrow) FileIteratorWin32(search, data, flags);
    if (iterator == nullptr) Win32::FindClose(search);
    return iterator;
}

FileIteratorWin32::FileIteratorWin32(Win32::HANDLE search, const Win32::WIN32_FIND_DATAA& first, std::uint32_t flags)
    : mSearch(search), mData(first), mFlags(flags)
{
    SkipUnwanted();
}

FileIteratorWin32::~FileIteratorWin32()
{
    if (IsValid()) Win32::FindClose(mSearch);
}

bool FileIteratorWin32::Unwanted() const
{
    if (IsDirectory()) return std::strcmp(mData.cFileName, ".") == 0 || std::strcmp(mData.cFileName, "..") == 0;
    return (mFlags & kDirectoriesOnly) != 0;
}

// The end of the directory and an error alike end the search; an error is reported, since the
// entries after it are never seen.
void FileIteratorWin32::Fetch()
{
    if (!Win32::FindNextFileA(mSearch, &mData)) {
        const Win32::DWORD error = Win32::GetLastError();
        if (error != Win32::kErrorNoMoreFiles)
            Logger::LogError("%s: The directory search failed with error %lu; the entries after \"%s\" are left out.",
                             "Tarn::File::FileIteratorWin32::Fetch", static_cast<unsigned long>(error), mData.cFileName);
        Win32::FindClose(mSearch);
        mSearch = Win32::INVALID_HANDLE_VALUE;
    }
}

void FileIteratorWin32::SkipUnwanted()
{
    while (IsValid() && Unwanted()) Fetch();
}

void FileIteratorWin32::Next()
{
    if (!IsValid()) return;
    Fetch();
    SkipUnwanted();
}

}  // namespace Tarn::File
