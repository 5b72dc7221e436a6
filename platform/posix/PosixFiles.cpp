// Files: path resolution, CreateFileA, overlapped ReadFile, attributes, deletion,
// the current directory and the executable's path.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "PosixInternal.h"

namespace Win32 {
namespace Posix {

FileObject::~FileObject()
{
    if (fd >= 0) ::close(fd);
}

const char* LastComponent(const char* path)
{
    const char* last = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') last = p + 1;
    return last;
}

namespace {

bool Exists(const char* path)
{
    struct stat st;
    return ::lstat(path, &st) == 0;
}

// Finds the entry of directory `dir` whose name equals `name` ignoring ASCII case. Several
// matches (names differing only in case) resolve to the smallest in byte order, so the
// answer never depends on the order the directory lists them in.
bool FindNoCaseEntry(const char* dir, const char* name, size_t nameLength, char* found, size_t foundSize)
{
    DIR* d = ::opendir(*dir ? dir : ".");
    if (d == nullptr) return false;
    bool any = false;
    while (dirent* e = ::readdir(d)) {
        if (std::strlen(e->d_name) != nameLength || _strnicmp(e->d_name, name, nameLength) != 0) continue;
        if (!any || std::strcmp(e->d_name, found) < 0) {
            if (nameLength + 1 > foundSize) break;
            std::memcpy(found, e->d_name, nameLength + 1);
            any = true;
        }
    }
    ::closedir(d);
    return any;
}

}  // namespace

bool ResolvePath(const char* path, char* out, size_t outSize)
{
    size_t n = std::strlen(path);
    if (n + 1 > outSize) return false;
    for (size_t i = 0; i <= n; ++i) out[i] = (path[i] == '\\') ? '/' : path[i];
    if (n == 0 || Exists(out)) return true;

    // Rebuild component by component in a second buffer.
    char built[4096];
    char entry[256];
    size_t len = 0;
    const char* p = out;
    if (*p == '/') {
        built[len++] = '/';
        while (*p == '/') ++p;
    }
    built[len] = '\0';
    while (*p) {
        const char* end = p;
        while (*end && *end != '/') ++end;
        size_t componentLength = static_cast<size_t>(end - p);
        size_t sep = (len > 0 && built[len - 1] != '/') ? 1 : 0;
        if (len + sep + componentLength + 1 > sizeof(built)) return false;
        if (sep) built[len++] = '/';
        std::memcpy(built + len, p, componentLength);
        built[len + componentLength] = '\0';
        if (!Exists(built)) {
            built[len] = '\0';
            if (componentLength < sizeof(entry) &&
                FindNoCaseEntry(built, p, componentLength, entry, sizeof(entry))) {
                std::memcpy(built + len, entry, componentLength + 1);
            } else {
                // Not there in any case: keep the rest as given.
                size_t rest = std::strlen(p);
                if (len + rest + 1 > sizeof(built)) return false;
                std::memcpy(built + len, p, rest + 1);
                len += rest;
                break;
            }
        }
        len += componentLength;
        p = end;
        while (*p == '/') ++p;
    }
    // A trailing separator asks for a directory; dropping it would let a file answer.
    if (out[n - 1] == '/' && len > 0 && built[len - 1] != '/') {
        if (len + 2 > sizeof(built)) return false;
        built[len++] = '/';
        built[len] = '\0';
    }
    if (len + 1 > outSize) return false;
    std::memcpy(out, built, len + 1);
    return true;
}

int OpenRegularFile(const char* resolvedPath, int flags)
{
    // Without O_NONBLOCK, opening a FIFO would wait for a writer; O_NOCTTY keeps a terminal
    // from becoming the process's controlling terminal. Only after the kind is known to be a
    // regular file does the descriptor go back to blocking reads.
    const int fd = ::open(resolvedPath, flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENXIO || errno == ENODEV) errno = EACCES;  // a socket, a device without a driver
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        errno = EACCES;
        return -1;
    }
    return fd;
}

HANDLE CreateFileImpl(LPCSTR path, DWORD access, DWORD, void*, DWORD disposition, DWORD flags, HANDLE)
{
    char resolved[4096];
    if (path == nullptr || disposition != OPEN_EXISTING || (access & ~GENERIC_READ) != 0) {
        SetLastError(kErrorInvalidParameter);
        return INVALID_HANDLE_VALUE;
    }
    if (!ResolvePath(path, resolved, sizeof(resolved))) {
        SetLastError(kErrorFilenameTooLong);
        return INVALID_HANDLE_VALUE;
    }
    int fd = OpenRegularFile(resolved, O_RDONLY);
    if (fd < 0) {
        int e = errno;
        SetLastError(e == ENOENT ? NotFoundError(resolved) : Win32ErrorFromErrno(e));
        return INVALID_HANDLE_VALUE;
    }
    auto* file = new (std::nothrow) FileObject(fd, (flags & FILE_FLAG_OVERLAPPED) != 0);
    if (file == nullptr) {
        ::close(fd);
        SetLastError(kErrorNotEnoughMemory);
        return INVALID_HANDLE_VALUE;
    }
    return RegisterObject(file);
}

namespace {
// The record's status may be written on another thread (a read that completes later) while
// GetOverlappedResult looks at it: it is read and written atomically, and the byte count is
// written before it.
ULONG_PTR LoadStatus(const OVERLAPPED* overlapped) { return __atomic_load_n(&overlapped->Internal, __ATOMIC_ACQUIRE); }
}  // namespace

BOOL ReadFileImpl(HANDLE handle, void* buffer, DWORD size, DWORD* bytesRead, OVERLAPPED* overlapped)
{
    auto* file = static_cast<FileObject*>(LookupObject(handle, ObjectKind::File));
    if (file == nullptr) return FALSE;
    if (bytesRead) *bytesRead = 0;
    if (size > 0 && buffer == nullptr) {
        SetLastError(kErrorInvalidParameter);
        return FALSE;
    }
    const bool positioned = overlapped != nullptr;
    off_t offset = positioned ? static_cast<off_t>((static_cast<std::uint64_t>(overlapped->OffsetHigh) << 32) | overlapped->Offset) : 0;
    DWORD total = 0;
    DWORD error = kErrorSuccess;
    while (total < size) {
        ssize_t n = positioned ? ::pread(file->fd, static_cast<char*>(buffer) + total, size - total, offset + total)
                               : ::read(file->fd, static_cast<char*>(buffer) + total, size - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = Win32ErrorFromErrno(errno);
            break;
        }
        if (n == 0) break;
        total += static_cast<DWORD>(n);
    }
    // Windows fails an overlapped read that starts at or past the end; a synchronous read
    // there succeeds with 0 bytes.
    if (error == kErrorSuccess && positioned && total == 0 && size > 0) error = kErrorHandleEof;
    if (error != kErrorSuccess && total > 0) error = kErrorSuccess;  // the bytes before a fault count
    if (positioned) CompleteOverlapped(overlapped, error, total);
    if (error != kErrorSuccess) {
        SetLastError(error);
        return FALSE;
    }
    if (bytesRead) *bytesRead = total;
    if (positioned && overlapped->hEvent) gCalls.SetEvent(overlapped->hEvent);
    return TRUE;
}

BOOL GetOverlappedResultImpl(HANDLE, OVERLAPPED* overlapped, DWORD* bytes, BOOL wait)
{
    if (overlapped == nullptr) {
        SetLastError(kErrorInvalidParameter);
        return FALSE;
    }
    ULONG_PTR status = LoadStatus(overlapped);
    if (status == STATUS_PENDING) {
        if (!wait || overlapped->hEvent == nullptr) {
            SetLastError(kErrorIoIncomplete);
            return FALSE;
        }
        gCalls.WaitForSingleObject(overlapped->hEvent, INFINITE);
        status = LoadStatus(overlapped);
    }
    if (bytes) *bytes = static_cast<DWORD>(overlapped->InternalHigh);
    if (status != 0) {
        SetLastError(static_cast<DWORD>(status));
        return FALSE;
    }
    return TRUE;
}

DWORD GetFileAttributesImpl(LPCSTR path)
{
    char resolved[4096];
    if (path == nullptr || !ResolvePath(path, resolved, sizeof(resolved))) {
        SetLastError(path ? kErrorFilenameTooLong : kErrorInvalidParameter);
        return INVALID_FILE_ATTRIBUTES;
    }
    struct stat st;
    if (::stat(resolved, &st) != 0) {
        int e = errno;
        SetLastError(e == ENOENT ? NotFoundError(resolved) : Win32ErrorFromErrno(e));
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD attributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if ((st.st_mode & S_IWUSR) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes;
}

BOOL DeleteFileImpl(LPCSTR path)
{
    char resolved[4096];
    if (path == nullptr || !ResolvePath(path, resolved, sizeof(resolved))) {
        SetLastError(path ? kErrorFilenameTooLong : kErrorInvalidParameter);
        return FALSE;
    }
    struct stat st;
    if (::lstat(resolved, &st) == 0 && S_ISDIR(st.st_mode)) {
        SetLastError(kErrorAccessDenied);
        return FALSE;
    }
    if (::unlink(resolved) != 0) {
        int e = errno;
        SetLastError(e == ENOENT ? NotFoundError(resolved) : Win32ErrorFromErrno(e));
        return FALSE;
    }
    return TRUE;
}

DWORD GetFinalPathNameImpl(LPCSTR path, LPSTR buffer, DWORD size)
{
    char resolved[4096];
    if (path == nullptr || *path == '\0') {
        SetLastError(kErrorInvalidParameter);
        return 0;
    }
    if (!ResolvePath(path, resolved, sizeof(resolved))) {
        SetLastError(kErrorFilenameTooLong);
        return 0;
    }
    char* absolute = ::realpath(resolved, nullptr);
    if (absolute == nullptr) {
        int e = errno;
        SetLastError(e == ENOENT ? NotFoundError(resolved) : Win32ErrorFromErrno(e));
        return 0;
    }
    const size_t n = std::strlen(absolute);
    DWORD result = static_cast<DWORD>(n + 1);
    if (buffer != nullptr && n + 1 <= size) {
        std::memcpy(buffer, absolute, n + 1);
        result = static_cast<DWORD>(n);
    }
    std::free(absolute);
    return result;
}

DWORD GetCurrentDirectoryImpl(DWORD size, LPSTR buffer)
{
    char cwd[4096];
    if (::getcwd(cwd, sizeof(cwd)) == nullptr) {
        SetLastError(Win32ErrorFromErrno(errno));
        return 0;
    }
    size_t n = std::strlen(cwd);
    if (buffer == nullptr || n + 1 > size) return static_cast<DWORD>(n + 1);
    std::memcpy(buffer, cwd, n + 1);
    return static_cast<DWORD>(n);
}

DWORD GetModuleFileNameImpl(HMODULE module, LPSTR buffer, DWORD size)
{
    if (module != nullptr || buffer == nullptr || size == 0) {
        SetLastError(kErrorInvalidParameter);
        return 0;
    }
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n < 0) {
        SetLastError(Win32ErrorFromErrno(errno));
        return 0;
    }
    size_t length = static_cast<size_t>(n);
    if (length + 1 > size) {
        std::memcpy(buffer, path, size - 1);
        buffer[size - 1] = '\0';
        SetLastError(kErrorInsufficientBuffer);
        return size;
    }
    std::memcpy(buffer, path, length);
    buffer[length] = '\0';
    return static_cast<DWORD>(length);
}

}  // namespace Posix

// This layer's records carry the Win32 error itself.
void CompleteOverlapped(OVERLAPPED* overlapped, DWORD error, DWORD bytes)
{
    overlapped->InternalHigh = bytes;
    __atomic_store_n(&overlapped->Internal, ULONG_PTR{error}, __ATOMIC_RELEASE);
}

}  // namespace Win32
