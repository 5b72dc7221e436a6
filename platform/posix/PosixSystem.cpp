// Time, process memory, the debugger's output channel and system message texts.
#include <cstring>
#include <ctime>
#include <unistd.h>

#include "PosixInternal.h"

namespace Win32::Posix {

DWORD FormatMessageImpl(DWORD flags, const void*, DWORD messageId, DWORD, LPSTR buffer, DWORD size, va_list*)
{
    return FormatSystemMessage(flags, messageId, buffer, size);
}

// There is no debugger channel on POSIX; a test that wants to see the text replaces this
// entry of the call table.
void OutputDebugStringImpl(LPCSTR) {}

void GetLocalTimeImpl(SYSTEMTIME* time)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    time->wYear = static_cast<WORD>(local.tm_year + 1900);
    time->wMonth = static_cast<WORD>(local.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    time->wDay = static_cast<WORD>(local.tm_mday);
    time->wHour = static_cast<WORD>(local.tm_hour);
    time->wMinute = static_cast<WORD>(local.tm_min);
    time->wSecond = static_cast<WORD>(local.tm_sec);
    time->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

// The working set is the process's resident size.
BOOL GetProcessMemoryInfoImpl(HANDLE, PROCESS_MEMORY_COUNTERS* counters, DWORD size)
{
    if (counters == nullptr || size < sizeof(PROCESS_MEMORY_COUNTERS)) {
        SetLastError(kErrorInsufficientBuffer);
        return FALSE;
    }
    std::memset(counters, 0, sizeof(*counters));
    counters->cb = sizeof(*counters);
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) {
        SetLastError(kErrorAccessDenied);
        return FALSE;
    }
    unsigned long totalPages = 0, residentPages = 0;
    int fields = std::fscanf(statm, "%lu %lu", &totalPages, &residentPages);
    std::fclose(statm);
    if (fields != 2) {
        SetLastError(kErrorGenFailure);
        return FALSE;
    }
    counters->WorkingSetSize = residentPages * static_cast<SIZE_T>(::sysconf(_SC_PAGESIZE));
    counters->PeakWorkingSetSize = counters->WorkingSetSize;
    return TRUE;
}

BOOL QueryPerformanceCounterImpl(LARGE_INTEGER* count)
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    count->QuadPart = static_cast<LONGLONG>(now.tv_sec) * 1000000000LL + now.tv_nsec;
    return TRUE;
}

BOOL QueryPerformanceFrequencyImpl(LARGE_INTEGER* frequency)
{
    frequency->QuadPart = 1000000000LL;  // the counter counts nanoseconds
    return TRUE;
}

}  // namespace Win32::Posix
