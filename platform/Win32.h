// The platform contract: every operating-system and C-runtime call the library makes.
//
// Library code includes this header and nothing else from the system; it writes the Win32
// and C-runtime names inside the namespace Win32 (Win32::CreateFileA, Win32::_stricmp, ...).
// On Windows the names map to <windows.h> and the C runtime (platform/windows/); elsewhere
// they are our own implementations (platform/posix/), which keep exactly the behaviour the
// library relies on. Each call below states that behaviour.
//
// Calls that can fail go through a table, Win32::gCalls, that a test may change entry by
// entry (make the third ReadFile fail, make FindFirstFileA report an I/O error) and restore
// with Win32::RestoreDefaultCalls(). The table is plain data, constant-initialised, so it is
// usable during static initialisation. Changing it is for tests only and is not synchronised.
//
// Thread safety: every call may be made from any thread. The last error is per thread.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#if defined(_WIN32)
#include "windows/Win32Types.h"
#else
#include "posix/Win32Types.h"
#endif

namespace Win32 {

// Error codes the library and this layer use (Win32 values).
constexpr DWORD kErrorSuccess = 0;
constexpr DWORD kErrorFileNotFound = 2;
constexpr DWORD kErrorPathNotFound = 3;
constexpr DWORD kErrorTooManyOpenFiles = 4;
constexpr DWORD kErrorAccessDenied = 5;
constexpr DWORD kErrorInvalidHandle = 6;
constexpr DWORD kErrorNotEnoughMemory = 8;
constexpr DWORD kErrorNoMoreFiles = 18;
constexpr DWORD kErrorReadFault = 30;
constexpr DWORD kErrorGenFailure = 31;
constexpr DWORD kErrorSharingViolation = 32;
constexpr DWORD kErrorHandleEof = 38;
constexpr DWORD kErrorFileExists = 80;
constexpr DWORD kErrorInvalidParameter = 87;
constexpr DWORD kErrorDiskFull = 112;
constexpr DWORD kErrorInsufficientBuffer = 122;
constexpr DWORD kErrorDirNotEmpty = 145;
constexpr DWORD kErrorFilenameTooLong = 206;
constexpr DWORD kErrorMessageNotFound = 317;
constexpr DWORD kErrorIoIncomplete = 996;
constexpr DWORD kErrorIoPending = 997;

// The table of failing calls. Each entry has the signature of the call of the same name.
struct CallTable {
    // Files. CreateFileA opens an existing file for reading (the library passes GENERIC_READ,
    // FILE_SHARE_READ, OPEN_EXISTING and FILE_FLAG_OVERLAPPED); it returns INVALID_HANDLE_VALUE
    // and sets the last error on failure. Only a regular file opens: a directory, a FIFO, a
    // socket or a device (CON, NUL, COM1, ... on Windows) fails at once with
    // ERROR_ACCESS_DENIED, and the open never waits (POSIX opens without blocking, checks the
    // kind and only then makes reads blocking; Windows checks GetFileType for a disk file).
    HANDLE (*CreateFileA)(LPCSTR path, DWORD access, DWORD shareMode, void* security,
                          DWORD disposition, DWORD flags, HANDLE templateFile);
    // ReadFile with an OVERLAPPED record reads at the record's 64-bit offset. On POSIX it
    // completes at once: TRUE, the byte count in *bytesRead (when given) and in the record,
    // the record's event signalled. Asking for bytes at or past the end of the file fails
    // with ERROR_HANDLE_EOF; a read that crosses the end returns the bytes up to it. A real
    // system (or a test) may instead return FALSE with ERROR_IO_PENDING and finish later.
    BOOL (*ReadFile)(HANDLE file, void* buffer, DWORD size, DWORD* bytesRead, OVERLAPPED* overlapped);
    // The result of an overlapped read; with wait FALSE it fails with ERROR_IO_INCOMPLETE
    // while the read is still running. On failure the last error is the read's error.
    BOOL (*GetOverlappedResult)(HANDLE file, OVERLAPPED* overlapped, DWORD* bytes, BOOL wait);
    BOOL (*CloseHandle)(HANDLE handle);
    // INVALID_FILE_ATTRIBUTES and the last error when the path names nothing. Never opens what
    // the path names, so a FIFO or a device is answered (not a directory) without waiting.
    DWORD (*GetFileAttributesA)(LPCSTR path);
    // Deletes a file; a directory is refused with ERROR_ACCESS_DENIED.
    BOOL (*DeleteFileA)(LPCSTR path);
    // The absolute path of what path names, every symbolic link, junction, "." and ".."
    // resolved, with '/' separators (a drive path C:/..., a network path //server/share/...;
    // never a "\\?\" prefix). Two paths that reach one file give the same text. Returns
    // the length (terminator excluded); when the result does not fit, the size it needs
    // (terminator included) and nothing written; 0 and the last error when nothing is there.
    // Opens nothing for reading, so it never waits. (Our own call: on Windows it is
    // CreateFileA with FILE_FLAG_BACKUP_SEMANTICS and GetFinalPathNameByHandleA.)
    DWORD (*GetFinalPathNameA)(LPCSTR path, LPSTR buffer, DWORD size);
    // The current directory, with the system's separators ('\' and a drive on Windows, '/' on
    // POSIX); when it does not fit, the size it needs (terminator included) and nothing
    // written; 0 on failure.
    DWORD (*GetCurrentDirectoryA)(DWORD size, LPSTR buffer);
    // The executable's path when module is null, and its length. A path that does not fit is
    // cut to the buffer and size returned, with ERROR_INSUFFICIENT_BUFFER; the cut text may
    // lack its terminator (Windows XP, Wine), so the caller terminates it.
    DWORD (*GetModuleFileNameA)(HMODULE module, LPSTR buffer, DWORD size);

    // Synchronisation. Events (manual or automatic reset) and counting semaphores are
    // handles closed with CloseHandle. Waits return WAIT_OBJECT_0 when the object is
    // signalled, WAIT_TIMEOUT after the time limit, WAIT_FAILED on a bad handle. An alertable
    // wait may also return WAIT_IO_COMPLETION (never on POSIX, where nothing is queued).
    HANDLE (*CreateEventA)(void* security, BOOL manualReset, BOOL initialState, LPCSTR name);
    BOOL (*SetEvent)(HANDLE event);
    BOOL (*ResetEvent)(HANDLE event);
    HANDLE (*CreateSemaphoreA)(void* security, LONG initialCount, LONG maximumCount, LPCSTR name);
    BOOL (*ReleaseSemaphore)(HANDLE semaphore, LONG releaseCount, LONG* previousCount);
    DWORD (*WaitForSingleObject)(HANDLE handle, DWORD milliseconds);
    DWORD (*WaitForSingleObjectEx)(HANDLE handle, DWORD milliseconds, BOOL alertable);

    // Directory search. The pattern's last component may hold '*' and '?', matched ignoring
    // ASCII case; "." and ".." are returned like any entry that matches. No match:
    // INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND; a missing directory:
    // ERROR_PATH_NOT_FOUND. The end of the search: FindNextFileA returns FALSE with
    // ERROR_NO_MORE_FILES. The POSIX layer lists entries in a stable order (upper-case folded,
    // then byte order, as NTFS lists them) and matches long names only; Windows lists them in
    // the file system's order and also matches short names ("*.olm" finds "x.olmx").
    HANDLE (*FindFirstFileA)(LPCSTR pattern, WIN32_FIND_DATAA* data);
    HANDLE (*FindFirstFileExA)(LPCSTR pattern, FINDEX_INFO_LEVELS level, void* data,
                               FINDEX_SEARCH_OPS searchOp, void* filter, DWORD flags);
    BOOL (*FindNextFileA)(HANDLE search, WIN32_FIND_DATAA* data);
    BOOL (*FindClose)(HANDLE search);

    // Diagnostics and time. FormatMessageA answers FORMAT_MESSAGE_FROM_SYSTEM requests with
    // the system text of a Win32 code (an HRESULT of the Win32 facility is looked up by its
    // code); 0 when the code has no text or the text does not fit the buffer.
    DWORD (*FormatMessageA)(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                            LPSTR buffer, DWORD size, va_list* arguments);
    // The debugger's output channel. On POSIX it goes nowhere unless a test replaces it.
    void (*OutputDebugStringA)(LPCSTR text);
    void (*GetLocalTime)(SYSTEMTIME* time);
    BOOL (*GetProcessMemoryInfo)(HANDLE process, PROCESS_MEMORY_COUNTERS* counters, DWORD size);
    BOOL (*QueryPerformanceCounter)(LARGE_INTEGER* count);
    BOOL (*QueryPerformanceFrequency)(LARGE_INTEGER* frequency);

    // C runtime streams. Text mode ('t') reads like binary mode on POSIX; the library strips
    // line ends itself. Only a regular file opens, without waiting: a directory, a FIFO, a
    // socket or a device fails at once with EACCES and the last error ERROR_ACCESS_DENIED
    // (_fsopen and fopen_s alike). errno values are those of the Microsoft C runtime (see
    // strerror_s).
    FILE* (*_fsopen)(const char* path, const char* mode, int shareFlag);
    int (*fopen_s)(FILE** stream, const char* path, const char* mode);
    int (*fclose)(FILE* stream);
    size_t (*fread)(void* buffer, size_t size, size_t count, FILE* stream);
    char* (*fgets)(char* buffer, int size, FILE* stream);
    int (*fseek)(FILE* stream, long offset, int origin);
    int (*ferror)(FILE* stream);
    // File status with a 32-bit size; fails (EOVERFLOW) for files of 2 GiB or more. st_mode
    // holds _S_IFREG only for a regular file, _S_IFDIR only for a directory. Never waits.
    int (*_stat64i32)(const char* path, struct _stat64i32* status);
    int (*_access)(const char* path, int mode);
};

extern CallTable gCalls;
const CallTable& DefaultCalls();
inline void RestoreDefaultCalls() { gCalls = DefaultCalls(); }

// Calls that cannot fail in a way the library handles are plain functions.
DWORD GetLastError();
void SetLastError(DWORD error);
DWORD GetCurrentThreadId();
HANDLE GetCurrentProcess();
LONG InterlockedExchange(volatile LONG* target, LONG value);
LONG InterlockedIncrement(volatile LONG* target);
LONG InterlockedDecrement(volatile LONG* target);
LONG InterlockedCompareExchange(volatile LONG* target, LONG exchange, LONG comparand);
void InitializeCriticalSection(CRITICAL_SECTION* section);
void DeleteCriticalSection(CRITICAL_SECTION* section);
void EnterCriticalSection(CRITICAL_SECTION* section);
void LeaveCriticalSection(CRITICAL_SECTION* section);

// ASCII case-insensitive comparison, bytes as unsigned values, as the Microsoft runtime's "C"
// locale compares; the same on every system and in every locale (platform/AsciiCompare.cpp).
int _stricmp(const char* a, const char* b);
int _strnicmp(const char* a, const char* b, size_t count);
// The C runtime's text for an error number, as the Microsoft C runtime words it ("No such
// file or directory" for 2, "Unknown error" beyond its table); cut to fit; 0, or EINVAL.
int strerror_s(char* buffer, size_t size, int errorNumber);

// For tests: ReadFile as a system that finishes reads later. Every overlapped read answers
// FALSE with ERROR_IO_PENDING at once; a thread of this layer then performs it with the
// default ReadFile and completes the record (its result, as GetOverlappedResult reports it,
// then its event). Put it into gCalls.ReadFile to exercise the pending path on any system.
// HoldPendingReads(true) keeps the reads pending until HoldPendingReads(false);
// PendingReadCount() is the number answered pending and not yet completed.
BOOL ReadFileCompletingLater(HANDLE file, void* buffer, DWORD size, DWORD* bytesRead, OVERLAPPED* overlapped);
void HoldPendingReads(bool held);
int PendingReadCount();
// Writes the result of a finished read into a record, as this system's GetOverlappedResult
// reads it: an error (0 for success) and the byte count. For code that stands in for ReadFile.
void CompleteOverlapped(OVERLAPPED* overlapped, DWORD error, DWORD bytes);

// The failing calls, through the table.
inline HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, void* security,
                          DWORD disposition, DWORD flags, HANDLE templateFile)
{ return gCalls.CreateFileA(path, access, shareMode, security, disposition, flags, templateFile); }
inline BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* bytesRead, OVERLAPPED* overlapped)
{ return gCalls.ReadFile(file, buffer, size, bytesRead, overlapped); }
inline BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* bytes, BOOL wait)
{ return gCalls.GetOverlappedResult(file, overlapped, bytes, wait); }
inline BOOL CloseHandle(HANDLE handle) { return gCalls.CloseHandle(handle); }
inline DWORD GetFileAttributesA(LPCSTR path) { return gCalls.GetFileAttributesA(path); }
inline BOOL DeleteFileA(LPCSTR path) { return gCalls.DeleteFileA(path); }
inline DWORD GetFinalPathNameA(LPCSTR path, LPSTR buffer, DWORD size) { return gCalls.GetFinalPathNameA(path, buffer, size); }
inline DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) { return gCalls.GetCurrentDirectoryA(size, buffer); }
inline DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size)
{ return gCalls.GetModuleFileNameA(module, buffer, size); }
inline HANDLE CreateEventA(void* security, BOOL manualReset, BOOL initialState, LPCSTR name)
{ return gCalls.CreateEventA(security, manualReset, initialState, name); }
inline BOOL SetEvent(HANDLE event) { return gCalls.SetEvent(event); }
inline BOOL ResetEvent(HANDLE event) { return gCalls.ResetEvent(event); }
inline HANDLE CreateSemaphoreA(void* security, LONG initialCount, LONG maximumCount, LPCSTR name)
{ return gCalls.CreateSemaphoreA(security, initialCount, maximumCount, name); }
inline BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LONG* previousCount)
{ return gCalls.ReleaseSemaphore(semaphore, releaseCount, previousCount); }
inline DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{ return gCalls.WaitForSingleObject(handle, milliseconds); }
inline DWORD WaitForSingleObjectEx(HANDLE handle, DWORD milliseconds, BOOL alertable)
{ return gCalls.WaitForSingleObjectEx(handle, milliseconds, alertable); }
inline HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data) { return gCalls.FindFirstFileA(pattern, data); }
inline HANDLE FindFirstFileExA(LPCSTR pattern, FINDEX_INFO_LEVELS level, void* data,
                               FINDEX_SEARCH_OPS searchOp, void* filter, DWORD flags)
{ return gCalls.FindFirstFileExA(pattern, level, data, searchOp, filter, flags); }
inline BOOL FindNextFileA(HANDLE search, WIN32_FIND_DATAA* data) { return gCalls.FindNextFileA(search, data); }
inline BOOL FindClose(HANDLE search) { return gCalls.FindClose(search); }
inline DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                            LPSTR buffer, DWORD size, va_list* arguments)
{ return gCalls.FormatMessageA(flags, source, messageId, languageId, buffer, size, arguments); }
inline void OutputDebugStringA(LPCSTR text) { gCalls.OutputDebugStringA(text); }
inline void GetLocalTime(SYSTEMTIME* time) { gCalls.GetLocalTime(time); }
inline BOOL GetProcessMemoryInfo(HANDLE process, PROCESS_MEMORY_COUNTERS* counters, DWORD size)
{ return gCalls.GetProcessMemoryInfo(process, counters, size); }
inline BOOL QueryPerformanceCounter(LARGE_INTEGER* count) { return gCalls.QueryPerformanceCounter(count); }
inline BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) { return gCalls.QueryPerformanceFrequency(frequency); }
inline FILE* _fsopen(const char* path, const char* mode, int shareFlag) { return gCalls._fsopen(path, mode, shareFlag); }
inline int fopen_s(FILE** stream, const char* path, const char* mode) { return gCalls.fopen_s(stream, path, mode); }
inline int fclose(FILE* stream) { return gCalls.fclose(stream); }
inline size_t fread(void* buffer, size_t size, size_t count, FILE* stream) { return gCalls.fread(buffer, size, count, stream); }
inline char* fgets(char* buffer, int size, FILE* stream) { return gCalls.fgets(buffer, size, stream); }
inline int fseek(FILE* stream, long offset, int origin) { return gCalls.fseek(stream, offset, origin); }
inline int ferror(FILE* stream) { return gCalls.ferror(stream); }
inline int _stat64i32(const char* path, struct _stat64i32* status) { return gCalls._stat64i32(path, status); }
inline int _access(const char* path, int mode) { return gCalls._access(path, mode); }

}  // namespace Win32
