// C-runtime stand-ins: streams opened by Windows-style paths, file status and access tests.
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "PosixInternal.h"

namespace Win32::Posix {

namespace {

// Like the Microsoft C runtime, a failed open or status leaves the Win32 last error set
// too; errno is translated to that runtime's numbering.
void RecordFailure(const char* resolvedPath)
{
    int e = errno;
    ::Win32::SetLastError(e == ENOENT ? NotFoundError(resolvedPath) : Win32ErrorFromErrno(e));
    TranslateErrno();
}

// Text mode has no meaning here: the readers strip line ends themselves.
void BinaryMode(const char* mode, char* out, size_t outSize)
{
    size_t n = 0;
    for (; *mode && n + 1 < outSize; ++mode)
        if (*mode != 't') out[n++] = *mode;
    out[n] = '\0';
}

// The open(2) flags of an fopen mode ("r", "w+", "ab", "wx", ...); false for a mode that
// fopen would refuse.
bool OpenFlags(const char* mode, int& flags)
{
    const bool update = std::strchr(mode, '+') != nullptr;
    switch (mode[0]) {
    case 'r': flags = update ? O_RDWR : O_RDONLY; break;
    case 'w': flags = (update ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC; break;
    case 'a': flags = (update ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND; break;
    default: return false;
    }
    if (std::strchr(mode, 'x') != nullptr) flags |= O_EXCL;
    return true;
}

FILE* OpenStream(const char* path, const char* mode)
{
    if (path == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    char resolved[4096];
    if (!ResolvePath(path, resolved, sizeof(resolved))) {
        errno = CrtErrnoFromErrno(ENAMETOOLONG);
        return nullptr;
    }
    struct stat st;
    if (::stat(resolved, &st) == 0 && S_ISDIR(st.st_mode)) {
        // The Microsoft C runtime refuses to open a directory: CreateFile fails with
        // ERROR_ACCESS_DENIED, which it leaves as the last error and maps to EACCES.
        ::Win32::SetLastError(kErrorAccessDenied);
        errno = EACCES;
        return nullptr;
    }
    char plainMode[16];
    BinaryMode(mode, plainMode, sizeof(plainMode));
    int flags = 0;
    if (!OpenFlags(plainMode, flags)) {
        errno = EINVAL;
        return nullptr;
    }
    // Opened without waiting and checked to be a regular file before the stream exists: a
    // FIFO or a device is refused as the Microsoft C runtime refuses a directory.
    const int fd = OpenRegularFile(resolved, flags);
    if (fd < 0) {
        RecordFailure(resolved);
        return nullptr;
    }
    FILE* stream = ::fdopen(fd, plainMode);
    if (stream == nullptr) {
        const int e = errno;
        ::close(fd);
        errno = e;
        RecordFailure(resolved);
    }
    return stream;
}

}  // namespace

FILE* FsopenImpl(const char* path, const char* mode, int) { return OpenStream(path, mode); }

int FopenSImpl(FILE** stream, const char* path, const char* mode)
{
    if (stream == nullptr) return EINVAL;
    errno = 0;
    *stream = OpenStream(path, mode);
    return *stream ? 0 : errno;
}

int FcloseImpl(FILE* stream) { return std::fclose(stream); }
size_t FreadImpl(void* buffer, size_t size, size_t count, FILE* stream) { return std::fread(buffer, size, count, stream); }
char* FgetsImpl(char* buffer, int size, FILE* stream) { return std::fgets(buffer, size, stream); }
int FseekImpl(FILE* stream, long offset, int origin) { return std::fseek(stream, offset, origin); }
int FerrorImpl(FILE* stream) { return std::ferror(stream); }

int StatImpl(const char* path, struct _stat64i32* status)
{
    if (path == nullptr || status == nullptr) {
        errno = EINVAL;
        return -1;
    }
    char resolved[4096];
    if (!ResolvePath(path, resolved, sizeof(resolved))) {
        errno = CrtErrnoFromErrno(ENAMETOOLONG);
        return -1;
    }
    struct stat st;
    if (::stat(resolved, &st) != 0) {
        RecordFailure(resolved);
        return -1;
    }
    if (!S_ISDIR(st.st_mode) && st.st_size > INT32_MAX) {
        errno = CrtErrnoFromErrno(EOVERFLOW);
        return -1;
    }
    status->st_mode = static_cast<unsigned short>(S_ISDIR(st.st_mode) ? _S_IFDIR : S_ISREG(st.st_mode) ? _S_IFREG : 0);
    status->st_mode |= static_cast<unsigned short>(st.st_mode & 0777);
    status->st_size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::int32_t>(st.st_size);
    return 0;
}

int AccessImpl(const char* path, int mode)
{
    if (path == nullptr) {
        errno = EINVAL;
        return -1;
    }
    char resolved[4096];
    if (!ResolvePath(path, resolved, sizeof(resolved))) {
        errno = CrtErrnoFromErrno(ENAMETOOLONG);
        return -1;
    }
    int how = F_OK;
    if (mode & 2) how |= W_OK;
    if (mode & 4) how |= R_OK;
    if (::access(resolved, how) != 0) {
        RecordFailure(resolved);
        return -1;
    }
    return 0;
}

}  // namespace Win32::Posix
