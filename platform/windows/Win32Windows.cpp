// Windows build: the default call table points at the system and C-runtime functions, and
// the plain functions forward to them.
#include "../Win32.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

namespace Win32 {

namespace {
BOOL WINAPI GetProcessMemoryInfoForward(HANDLE process, PROCESS_MEMORY_COUNTERS* counters, DWORD size)
{
    return ::K32GetProcessMemoryInfo(process, counters, size);
}
int FopenS(FILE** stream, const char* path, const char* mode) { return ::fopen_s(stream, path, mode); }
int Stat(const char* path, struct _stat64i32* status) { return ::_stat64i32(path, status); }

constexpr CallTable kDefaultCalls = {
    ::CreateFileA, ::ReadFile, ::GetOverlappedResult, ::CloseHandle, ::GetFileAttributesA, ::DeleteFileA,
    ::GetCurrentDirectoryA, ::GetModuleFileNameA, ::CreateEventA, ::SetEvent, ::ResetEvent, ::CreateSemaphoreA,
    ::ReleaseSemaphore, ::WaitForSingleObject, ::WaitForSingleObjectEx, ::FindFirstFileA, ::FindFirstFileExA,
    ::FindNextFileA, ::FindClose, ::FormatMessageA, ::OutputDebugStringA, ::GetLocalTime,
    GetProcessMemoryInfoForward, ::QueryPerformanceCounter, ::QueryPerformanceFrequency, ::_fsopen, FopenS,
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
