// Last error, error-number translation, system and C-runtime error texts.
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "PosixInternal.h"

namespace Win32 {

namespace {
thread_local DWORD tLastError = 0;

struct MessageText {
    DWORD code;
    const char* text;
};

// The system texts of the codes this layer produces, as Windows words them.
constexpr MessageText kSystemMessages[] = {
    {0, "The operation completed successfully.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {18, "There are no more files.\r\n"},
    {30, "The system cannot read from the specified device.\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {38, "Reached the end of the file.\r\n"},
    {80, "The file exists.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {112, "There is not enough space on the disk.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {145, "The directory is not empty.\r\n"},
    {206, "The filename or extension is too long.\r\n"},
    {298, "Too many posts were made to a semaphore.\r\n"},
    {996, "Overlapped I/O event is not in a signaled state.\r\n"},
    {997, "Overlapped I/O operation is in progress.\r\n"},
    {0x80004005u, "Unspecified error\r\n"},
};

// The Microsoft C runtime's error texts, indexed by its errno numbering.
constexpr const char* kCrtErrorTexts[] = {
    "No error", "Operation not permitted", "No such file or directory", "No such process",
    "Interrupted function call", "Input/output error", "No such device or address", "Arg list too long",
    "Exec format error", "Bad file descriptor", "No child processes", "Resource temporarily unavailable",
    "Not enough space", "Permission denied", "Bad address", "Unknown error", "Resource device",
    "File exists", "Improper link", "No such device", "Not a directory", "Is a directory",
    "Invalid argument", "Too many open files in system", "Too many open files",
    "Inappropriate I/O control operation", "Unknown error", "File too large", "No space left on device",
    "Invalid seek", "Read-only file system", "Too many links", "Broken pipe", "Domain error",
    "Result too large", "Unknown error", "Resource deadlock avoided", "Unknown error", "Filename too long",
    "No locks available", "Function not implemented", "Directory not empty", "Illegal byte sequence",
};
}  // namespace

DWORD GetLastError() { return tLastError; }
void SetLastError(DWORD error) { tLastError = error; }

int strerror_s(char* buffer, size_t size, int errorNumber)
{
    if (buffer == nullptr || size == 0) return EINVAL;
    const int known = static_cast<int>(sizeof(kCrtErrorTexts) / sizeof(kCrtErrorTexts[0]));
    const char* text = (errorNumber >= 0 && errorNumber < known) ? kCrtErrorTexts[errorNumber] : "Unknown error";
    size_t n = std::strlen(text);
    if (n >= size) n = size - 1;
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
    return 0;
}

namespace Posix {

DWORD Win32ErrorFromErrno(int error)
{
    switch (error) {
    case 0: return kErrorSuccess;
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EMFILE:
    case ENFILE: return kErrorTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return kErrorAccessDenied;
    case EBADF: return kErrorInvalidHandle;
    case ENOMEM: return kErrorNotEnoughMemory;
    case EIO: return kErrorReadFault;
    case EBUSY:
    case ETXTBSY: return kErrorSharingViolation;
    case EEXIST: return kErrorFileExists;
    case EINVAL: return kErrorInvalidParameter;
    case ENOSPC: return kErrorDiskFull;
    case ENOTEMPTY: return kErrorDirNotEmpty;
    case ENAMETOOLONG: return kErrorFilenameTooLong;
    case ELOOP: return kErrorPathNotFound;
    default: return kErrorGenFailure;
    }
}

int CrtErrnoFromErrno(int error)
{
    switch (error) {
    case EDEADLK: return 36;
    case ENAMETOOLONG: return 38;
    case ENOLCK: return 39;
    case ENOSYS: return 40;
    case ENOTEMPTY: return 41;
    case EILSEQ: return 42;
    case ELOOP: return 114;
    case EOVERFLOW: return 132;
    default: return error;  // 1 to 34 have the same numbers
    }
}

int TranslateErrno()
{
    errno = CrtErrnoFromErrno(errno);
    return errno;
}

DWORD NotFoundError(const char* resolvedPath)
{
    const char* last = LastComponent(resolvedPath);
    if (last == resolvedPath) return kErrorFileNotFound;
    char parent[4096];
    size_t n = static_cast<size_t>(last - resolvedPath);
    if (n >= sizeof(parent)) return kErrorPathNotFound;
    std::memcpy(parent, resolvedPath, n);
    parent[n] = '\0';
    struct stat st;
    if (::stat(parent, &st) == 0 && S_ISDIR(st.st_mode)) return kErrorFileNotFound;
    return kErrorPathNotFound;
}

DWORD FormatSystemMessage(DWORD flags, DWORD messageId, LPSTR buffer, DWORD size)
{
    if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || buffer == nullptr) {
        SetLastError(kErrorInvalidParameter);
        return 0;
    }
    DWORD code = messageId;
    if ((code & 0xFFFF0000u) == 0x80070000u) code &= 0xFFFFu;  // an HRESULT of the Win32 facility
    for (const MessageText& m : kSystemMessages) {
        if (m.code != code) continue;
        size_t n = std::strlen(m.text);
        if (n + 1 > size) {
            SetLastError(kErrorInsufficientBuffer);
            return 0;
        }
        std::memcpy(buffer, m.text, n + 1);
        return static_cast<DWORD>(n);
    }
    SetLastError(kErrorMessageNotFound);
    return 0;
}

}  // namespace Posix
}  // namespace Win32
