// Windows build: the default call table points at the system and C-runtime functions, and
// the plain functions forward to them.
#include "../Win32.h"

#include <errno.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

namespace Win32 {

namespace {
BOOL WINAPI GetProcessMemoryInfoForward(HANDLE process, PROCESS_MEMORY_COUNTERS* counters, DWORD size)
{
    return ::K32GetProcessMemoryInfo(process, counters, size);
}
int Stat(const char* path, struct _stat64i32* status) { return ::_stat64i32(path, status); }

// Only disk files are opened: a device (CON, NUL, COM1, ...) or a pipe is refused at once, as
// access denied, so that no read can ever wait on one.
bool IsDiskFile(HANDLE handle) { return ::GetFileType(handle) == FILE_TYPE_DISK; }

HANDLE CreateRegularFile(LPCSTR path, DWORD access, DWORD shareMode, void* security, DWORD disposition, DWORD flags,
                         HANDLE templateFile)
{
    HANDLE handle = ::CreateFileA(path, access, shareMode, static_cast<LPSECURITY_ATTRIBUTES>(security), disposition, flags,
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
    CreateRegularFile, ::ReadFile, ::GetOverlappedResult, ::CloseHandle, ::GetFileAttributesA, ::DeleteFileA,
    GetFinalPathName, ::GetCurrentDirectoryA, ::GetModuleFileNameA, ::CreateEventA, ::SetEvent, ::ResetEvent, ::CreateSemaphoreA,
    ::ReleaseSemaphore, ::WaitForSingleObject, ::WaitForSingleObjectEx, ::FindFirstFileA, ::FindFirstFileExA,
    ::FindNextFileA, ::FindClose, ::FormatMessageA, ::OutputDebugStringA, ::GetLocalTime,
    GetProcessMemoryInfoForward, ::QueryPerformanceCounter, ::QueryPerformanceFrequency, Fsopen, FopenS,
    ::fclose, ::fread, ::fgets, ::fseek, ::ferror, Stat, ::_access,
};
}  // namespace

CallTable gCalls = kDefaultCalls;
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
int _stricmp(const char* a, const char* b) { return ::_stricmp(a, b); }
int _strnicmp(const char* a, const char* b, size_t count) { return ::_strnicmp(a, b, count); }
int strerror_s(char* buffer, size_t size, int errorNumber) { return ::strerror_s(buffer, size, errorNumber); }

}  // namespace Win32
