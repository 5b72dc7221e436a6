// Directory search with Windows-style pattern matching.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

#include "PosixInternal.h"

namespace Win32::Posix {

namespace {

int UpperAscii(int c) { return (c >= 'a' && c <= 'z') ? c - ('a' - 'A') : c; }

// NTFS lists a directory in the order of names folded to upper case; ties by byte order.
bool FindOrder(const WIN32_FIND_DATAA& a, const WIN32_FIND_DATAA& b)
{
    const auto* x = reinterpret_cast<const unsigned char*>(a.cFileName);
    const auto* y = reinterpret_cast<const unsigned char*>(b.cFileName);
    for (; *x || *y; ++x, ++y) {
        int cx = UpperAscii(*x), cy = UpperAscii(*y);
        if (cx != cy) return cx < cy;
    }
    return std::strcmp(a.cFileName, b.cFileName) < 0;
}

void FillFindData(const char* directory, const char* name, WIN32_FIND_DATAA* data)
{
    std::memset(data, 0, sizeof(*data));
    std::strncpy(data->cFileName, name, sizeof(data->cFileName) - 1);
    char full[4096 + 256];
    std::snprintf(full, sizeof(full), "%s/%s", directory, name);
    struct stat st;
    if (::stat(full, &st) != 0) {
        data->dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;  // a dangling link lists as an empty file
        return;
    }
    data->dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if ((st.st_mode & S_IWUSR) == 0) data->dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
    if (!S_ISDIR(st.st_mode)) {
        auto size = static_cast<std::uint64_t>(st.st_size);
        data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data->nFileSizeLow = static_cast<DWORD>(size);
    }
    // 100 ns intervals since 1601, as FILETIME counts.
    std::uint64_t ticks = (static_cast<std::uint64_t>(st.st_mtime) + 11644473600ull) * 10000000ull;
    data->ftLastWriteTime = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

}  // namespace

bool MatchFindPattern(const char* name, const char* pattern)
{
    // Iterative glob with one backtracking point per star.
    const char* starPattern = nullptr;
    const char* starName = nullptr;
    while (*name) {
        if (*pattern == '*') {
            starPattern = ++pattern;
            starName = name;
        } else if (*pattern == '?' || (*pattern && UpperAscii(static_cast<unsigned char>(*pattern)) ==
                                                       UpperAscii(static_cast<unsigned char>(*name)))) {
            ++pattern;
            ++name;
        } else if (starPattern) {
            pattern = starPattern;
            name = ++starName;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}

HANDLE FindFirstFileImpl(LPCSTR pattern, WIN32_FIND_DATAA* data)
{
    if (pattern == nullptr || data == nullptr) {
        SetLastError(kErrorInvalidParameter);
        return INVALID_HANDLE_VALUE;
    }
    const char* namePattern = LastComponent(pattern);
    char directory[4096];
    size_t dirLength = static_cast<size_t>(namePattern - pattern);
    if (dirLength >= sizeof(directory)) {
        SetLastError(kErrorFilenameTooLong);
        return INVALID_HANDLE_VALUE;
    }
    std::memcpy(directory, pattern, dirLength);
    directory[dirLength] = '\0';
    char resolved[4096];
    if (!ResolvePath(dirLength ? directory : ".", resolved, sizeof(resolved))) {
        SetLastError(kErrorFilenameTooLong);
        return INVALID_HANDLE_VALUE;
    }
    if (*namePattern == '\0') {
        SetLastError(kErrorFileNotFound);
        return INVALID_HANDLE_VALUE;
    }
    DIR* d = ::opendir(resolved);
    if (d == nullptr) {
        int e = errno;
        SetLastError(e == ENOENT || e == ENOTDIR ? kErrorPathNotFound : Win32ErrorFromErrno(e));
        return INVALID_HANDLE_VALUE;
    }
    auto* search = new (std::nothrow) FindObject();
    if (search == nullptr) {
        ::closedir(d);
        SetLastError(kErrorNotEnoughMemory);
        return INVALID_HANDLE_VALUE;
    }
    while (dirent* e = ::readdir(d)) {
        if (std::strlen(e->d_name) >= MAX_PATH || !MatchFindPattern(e->d_name, namePattern)) continue;
        WIN32_FIND_DATAA entry;
        FillFindData(resolved, e->d_name, &entry);
        search->entries.push_back(entry);
    }
    ::closedir(d);
    if (search->entries.empty()) {
        delete search;
        SetLastError(kErrorFileNotFound);
        return INVALID_HANDLE_VALUE;
    }
    std::sort(search->entries.begin(), search->entries.end(), FindOrder);
    *data = search->entries[0];
    search->next = 1;
    return RegisterObject(search);
}

HANDLE FindFirstFileExImpl(LPCSTR pattern, FINDEX_INFO_LEVELS level, void* data, FINDEX_SEARCH_OPS, void*, DWORD flags)
{
    // Limiting the search to directories is a hint the system may ignore; this one does.
    if (level != FindExInfoStandard && level != FindExInfoBasic) {
        SetLastError(kErrorInvalidParameter);
        return INVALID_HANDLE_VALUE;
    }
    (void)flags;
    return FindFirstFileImpl(pattern, static_cast<WIN32_FIND_DATAA*>(data));
}

BOOL FindNextFileImpl(HANDLE handle, WIN32_FIND_DATAA* data)
{
    auto* search = static_cast<FindObject*>(LookupObject(handle, ObjectKind::Find));
    if (search == nullptr) return FALSE;
    if (data == nullptr) {
        SetLastError(kErrorInvalidParameter);
        return FALSE;
    }
    if (search->next >= search->entries.size()) {
        SetLastError(kErrorNoMoreFiles);
        return FALSE;
    }
    *data = search->entries[search->next++];
    return TRUE;
}

BOOL FindCloseImpl(HANDLE handle)
{
    const ObjectKind kind = ObjectKind::Find;
    KernelObject* search = UnregisterObject(handle, &kind);
    delete search;
    return search != nullptr;
}

}  // namespace Win32::Posix
