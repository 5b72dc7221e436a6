// Windows build: the default call table and the plain functions, over the system and the
// Microsoft C runtime.
//
// The table holds functions of the default calling convention, so that a test can put a
// lambda into any entry on every platform; the system's functions are __stdcall on 32-bit
// Windows, so each entry is a small forwarding function.
#include "../Win32.h"

#include <errno.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

namespace Win32 {

namespace {

BOOL ReadFileForward(HANDLE file, void* buffer, DWORD size, DWORD* bytesRead, OVERLAPPED* overlapped)
{
    return ::ReadFile(file, buffer, size, bytesRead, overlapped);
}
BOOL GetOverlappedResultForward(HANDLE file, OVERLAPPED* overlapped, DWORD* bytes, BOOL wait)
{
    return ::GetOverlappedResult(file, overlapped, bytes, wait);
}
BOOL CloseHandleForward(HANDLE handle) { return ::CloseHandle(handle); }
DWORD GetFileAttributesForward(LPCSTR path) { return ::GetFileAttributesA(path); }
BOOL DeleteFileForward(LPCSTR path) { return ::DeleteFileA(path); }
DWORD GetCurrentDirectoryForward(DWORD size, LPSTR buffer) { return ::GetCurrentDirectoryA(size, buffer); }
DWORD GetModuleFileNameForward(HMODULE module, LPSTR buffer, DWORD size)
{
    return ::GetModuleFileNameA(module, buffer, size);
}
HANDLE CreateEventForward(void* security, BOOL manualReset, BOOL initialState, LPCSTR name)
{
    return ::CreateEventA(static_cast<SECURITY_ATTRIBUTES*>(security), manualReset, initialState, name);
}
BOOL SetEventForward(HANDLE event) { return ::SetEvent(event); }
BOOL ResetEventForward(HANDLE event) { return ::ResetEvent(event); }
HANDLE CreateSemaphoreForward(void* security, LONG initialCount, LONG maximumCount, LPCSTR name)
{
    return ::CreateSemaphoreA(static_cast<SECURITY_ATTRIBUTES*>(security), initialCount, maximumCount, name);
}
BOOL ReleaseSemaphoreForward(HANDLE semaphore, LONG releaseCount, LONG* previousCount)
{
    return ::ReleaseSemaphore(semaphore, releaseCount, previousCount);
}
DWORD WaitForSingleObjectForward(HANDLE handle, DWORD milliseconds) { return ::WaitForSingleObject(handle, milliseconds); }
DWORD WaitForSingleObjectExForward(HANDLE handle, DWORD milliseconds, BOOL alertable)
{
    return ::WaitForSingleObjectEx(handle, milliseconds, alertable);
}
HANDLE FindFirstFileForward(LPCSTR pattern, WIN32_FIND_DATAA* data) { return ::FindFirstFileA(pattern, data); }
HANDLE FindFirstFileExForward(LPCSTR pattern, FINDEX_INFO_LEVELS level, void* data, FINDEX_SEARCH_OPS searchOp,
                              void* filter, DWORD flags)
{
    return ::FindFirstFileExA(pattern, level, data, searchOp, filter, flags);
}
BOOL FindNextFileForward(HANDLE search, WIN32_FIND_DATAA* data) { return ::FindNextFileA(search, data); }
BOOL FindCloseForward(HANDLE search) { return ::FindClose(search); }
DWORD FormatMessageForward(DWORD flags, const void* source, DWORD messageId, DWORD languageId, LPSTR buffer, DWORD size,
                           va_list* arguments)
{
    return ::FormatMessageA(flags, source, messageId, languageId, buffer, size, arguments);
}
void OutputDebugStringForward(LPCSTR text) { ::OutputDebugStringA(text); }
void GetLocalTimeForward(SYSTEMTIME* time) { ::GetLocalTime(time); }
BOOL GetProcessMemoryInfoForward(HANDLE process, PROCESS_MEMORY_COUNTERS* counters, DWORD size)
{
    return ::K32GetProcessMemoryInfo(process, counters, size);
}
BOOL QueryPerformanceCounterForward(LARGE_INTEGER* count) { return ::QueryPerformanceCounter(count); }
BOOL QueryPerformanceFrequencyForward(LARGE_INTEGER* frequency) { return ::QueryPerformanceFrequency(frequency); }

int FcloseForward(FILE* stream) { return ::fclose(stream); }
size_t FreadForward(void* buffer, size_t size, size_t count, FILE* stream) { return ::fread(buffer, size, count, stream); }
char* FgetsForward(char* buffer, int size, FILE* stream) { return ::fgets(buffer, size, stream); }
int FseekForward(FILE* stream, long offset, int origin) { return ::fseek(stream, offset, origin); }
int FerrorForward(FILE* stream) { return ::ferror(stream); }

// The runtime's _stat64i32 as Microsoft documents it: a size that does not fit 32 bits fails
// with EOVERFLOW. (MinGW's inline version cuts the size instead.)
int Stat(const char* path, struct _stat64i32* status)
{
    struct ::_stat64 full;
    if (::_stat64(path, &full) != 0) return -1;
    if ((full.st_mode & _S_IFMT) != _S_IFDIR && full.st_size > INT32_MAX) {
        errno = EOVERFLOW;
        return -1;
    }
    status->st_mode = static_cast<unsigned short>(full.st_mode);
    status->st_size = static_cast<std::int32_t>(full.st_size);
    return 0;
}
int AccessForward(const char* path, int mode) { return ::_access(path, mode); }

// Only disk files are opened: a device (CON, NUL, COM1, ...) or a pipe is refused at once, as
// access denied, so that no read can ever wait on one.
bool IsDiskFile(HANDLE handle) { return ::GetFileType(handle) == FILE_TYPE_DISK; }

HANDLE CreateRegularFile(LPCSTR path, DWORD access, DWORD shareMode, void* security, DWORD disposition, DWORD flags,
                         HANDLE templateFile)
{
    HANDLE handle = ::CreateFileA(path, access, shareMode, static_cast<SECURITY_ATTRIBUTES*>(security), disposition, flags,
                                  templateFile);
    if (handle != INVALID_HANDLE_VALUE && !IsDiskFile(handle)) {
        ::CloseHandle(handle);
        ::SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

FILE* RefuseUnlessDiskFile(FILE* stream)
{
    if (stream == nullptr || IsDiskFile(reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream))))) return stream;
    ::fclose(stream);
    ::SetLastError(ERROR_ACCESS_DENIED);
    errno = EACCES;
    return nullptr;
}

FILE* Fsopen(const char* path, const char* mode, int shareFlag) { return RefuseUnlessDiskFile(::_fsopen(path, mode, shareFlag)); }

int FopenS(FILE** stream, const char* path, const char* mode)
{
    const int error = ::fopen_s(stream, path, mode);
    if (error != 0) return error;
    *stream = RefuseUnlessDiskFile(*stream);
    return *stream != nullptr ? 0 : EACCES;
}

DWORD GetFinalPathName(LPCSTR path, LPSTR buffer, DWORD size)
{
    if (path == nullptr || *path == '\0') {  // CreateFileA would answer "path not found"
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // No access rights asked: the handle only names the file (a directory too, with
    // FILE_FLAG_BACKUP_SEMANTICS), and nothing is read through it.
    HANDLE handle = ::CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    char full[32768];
    const DWORD n = ::GetFinalPathNameByHandleA(handle, full, sizeof(full), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    const DWORD error = ::GetLastError();
    ::CloseHandle(handle);
    if (n == 0 || n >= sizeof(full)) {
        ::SetLastError(n == 0 ? error : ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    // \\?\C:\x becomes C:/x, \\?\UNC\server\share becomes //server/share.
    const char* text = full;
    char unc[3] = "";
    if (::_strnicmp(text, "\\\\?\\UNC\\", 8) == 0) {
        text += 8;
        ::strcpy(unc, "//");
    } else if (::strncmp(text, "\\\\?\\", 4) == 0) {
        text += 4;
    }
    const size_t length = ::strlen(unc) + ::strlen(text);
    if (buffer == nullptr || length + 1 > size) return static_cast<DWORD>(length + 1);
    ::strcpy(buffer, unc);
    ::strcat(buffer, text);
    for (char* c = buffer; *c; ++c)
        if (*c == '\\') *c = '/';
    return static_cast<DWORD>(length);
}

constexpr CallTable kDefaultCalls = {
    CreateRegularFile,
    ReadFileForward,
    GetOverlappedResultForward,
    CloseHandleForward,
    GetFileAttributesForward,
    DeleteFileForward,
    GetFinalPathName,
    GetCurrentDirectoryForward,
    GetModuleFileNameForward,
    CreateEventForward,
    SetEventForward,
    ResetEventForward,
    CreateSemaphoreForward,
    ReleaseSemaphoreForward,
    WaitForSingleObjectForward,
    WaitForSingleObjectExForward,
    FindFirstFileForward,
    FindFirstFileExForward,
    FindNextFileForward,
    FindCloseForward,
    FormatMessageForward,
    OutputDebugStringForward,
    GetLocalTimeForward,
    GetProcessMemoryInfoForward,
    QueryPerformanceCounterForward,
    QueryPerformanceFrequencyForward,
    Fsopen,
    FopenS,
    FcloseForward,
    FreadForward,
    FgetsForward,
    FseekForward,
    FerrorForward,
    Stat,
    AccessForward,
};

}  // namespace

// The record holds an NTSTATUS; a Win32 error e travels as the status 0xC0070000 | e, which
// GetOverlappedResult turns back into e.
void CompleteOverlapped(OVERLAPPED* overlapped, DWORD error, DWORD bytes)
{
    overlapped->InternalHigh = bytes;
    const ULONG_PTR status = error == ERROR_SUCCESS ? 0 : 0xC0070000u | (error & 0xFFFFu);
    __atomic_store_n(&overlapped->Internal, status, __ATOMIC_RELEASE);  // the count first, as a system writes them
}

constinit CallTable gCalls = kDefaultCalls;
const CallTable& DefaultCalls() { return kDefaultCalls; }

DWORD GetLastError() { return ::GetLastError(); }
void SetLastError(DWORD error) { ::SetLastError(error); }
DWORD GetCurrentThreadId() { return ::GetCurrentThreadId(); }
HANDLE GetCurrentProcess() { return ::GetCurrentProcess(); }
LONG InterlockedExchange(volatile LONG* target, LONG value) { return ::_InterlockedExchange(target, value); }
LONG InterlockedIncrement(volatile LONG* target) { return ::_InterlockedIncrement(target); }
LONG InterlockedDecrement(volatile LONG* target) { return ::_InterlockedDecrement(target); }
LONG InterlockedCompareExchange(volatile LONG* target, LONG exchange, LONG comparand)
{
    return ::_InterlockedCompareExchange(target, exchange, comparand);
}
void InitializeCriticalSection(CRITICAL_SECTION* section) { ::InitializeCriticalSection(section); }
void DeleteCriticalSection(CRITICAL_SECTION* section) { ::DeleteCriticalSection(section); }
void EnterCriticalSection(CRITICAL_SECTION* section) { ::EnterCriticalSection(section); }
void LeaveCriticalSection(CRITICAL_SECTION* section) { ::LeaveCriticalSection(section); }
int strerror_s(char* buffer, size_t size, int errorNumber) { return ::strerror_s(buffer, size, errorNumber); }

}  // namespace Win32
