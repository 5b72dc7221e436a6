// Shared pieces of the POSIX implementation of the platform contract.
#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

#include "../Win32.h"

namespace Win32::Posix {

// Every handle this layer hands out points at one of these. The tag lets a call refuse a
// handle of the wrong kind instead of misusing it.
enum class ObjectKind : std::uint32_t { File = 0x46494C45, Event = 0x45564E54, Semaphore = 0x53454D41, Find = 0x46494E44 };

struct KernelObject {
    explicit KernelObject(ObjectKind k) : kind(k) {}
    virtual ~KernelObject() = default;
    ObjectKind kind;
};

struct FileObject : KernelObject {
    FileObject(int descriptor, bool isOverlapped) : KernelObject(ObjectKind::File), fd(descriptor), overlapped(isOverlapped) {}
    ~FileObject() override;
    int fd;
    bool overlapped;
};

struct EventObject : KernelObject {
    EventObject(bool manual, bool initial) : KernelObject(ObjectKind::Event), manualReset(manual), signalled(initial) {}
    std::mutex mutex;
    std::condition_variable changed;
    bool manualReset;
    bool signalled;
};

struct SemaphoreObject : KernelObject {
    SemaphoreObject(LONG initial, LONG maximum) : KernelObject(ObjectKind::Semaphore), count(initial), maximumCount(maximum) {}
    std::mutex mutex;
    std::condition_variable changed;
    LONG count;
    LONG maximumCount;
};

struct FindObject : KernelObject {
    FindObject() : KernelObject(ObjectKind::Find) {}
    std::vector<WIN32_FIND_DATAA> entries;
    size_t next = 0;
};

// Handles are tracked so that closing a handle twice, or one this layer never made, fails
// with ERROR_INVALID_HANDLE instead of freeing memory twice.
HANDLE RegisterObject(KernelObject* object);
// The object behind a handle of the given kind, or null with ERROR_INVALID_HANDLE. Only the
// kind is checked here (this is on the read path); handles must not be used after closing.
KernelObject* LookupObject(HANDLE handle, ObjectKind kind);
// Removes a live handle (of the given kind, when one is given) from the registry and
// returns its object for the caller to delete; null with ERROR_INVALID_HANDLE otherwise.
KernelObject* UnregisterObject(HANDLE handle, const ObjectKind* kind = nullptr);

// errno to Win32 error code, as the system would report the same failure.
DWORD Win32ErrorFromErrno(int error);
// errno of this system to the Microsoft C runtime's numbering (equal up to 34).
int CrtErrnoFromErrno(int error);
// Sets errno to the Microsoft numbering of the current errno value and returns it.
int TranslateErrno();

// Turns a Windows-style path into one this system can open: '\' becomes '/', and where the
// path does not exist exactly, each component is looked up ignoring ASCII case. Components
// that cannot be found are kept as given, so the caller's call fails as it should. Returns
// false when the result does not fit.
bool ResolvePath(const char* path, char* out, size_t outSize);

// Opens a path already resolved by ResolvePath with the open flags given (O_CLOEXEC added),
// never waiting on a FIFO or a device: anything but a regular file is closed again and
// refused with errno EACCES, as is a directory. Returns the descriptor (blocking) or -1.
int OpenRegularFile(const char* resolvedPath, int flags);

// The text after the last '/' or '\'.
const char* LastComponent(const char* path);

// Windows-style name match: '*' any run, '?' one character, ASCII case ignored.
bool MatchFindPattern(const char* name, const char* pattern);

// The Win32 error for a path that could not be found: ERROR_PATH_NOT_FOUND when its
// directory is missing too, else ERROR_FILE_NOT_FOUND.
DWORD NotFoundError(const char* resolvedPath);

// The implementations behind the default call table.
HANDLE CreateFileImpl(LPCSTR path, DWORD access, DWORD shareMode, void* security, DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL ReadFileImpl(HANDLE file, void* buffer, DWORD size, DWORD* bytesRead, OVERLAPPED* overlapped);
BOOL GetOverlappedResultImpl(HANDLE file, OVERLAPPED* overlapped, DWORD* bytes, BOOL wait);
BOOL CloseHandleImpl(HANDLE handle);
DWORD GetFileAttributesImpl(LPCSTR path);
BOOL DeleteFileImpl(LPCSTR path);
DWORD GetFinalPathNameImpl(LPCSTR path, LPSTR buffer, DWORD size);
DWORD GetCurrentDirectoryImpl(DWORD size, LPSTR buffer);
DWORD GetModuleFileNameImpl(HMODULE module, LPSTR buffer, DWORD size);
HANDLE CreateEventImpl(void* security, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL SetEventImpl(HANDLE event);
BOOL ResetEventImpl(HANDLE event);
HANDLE CreateSemaphoreImpl(void* security, LONG initialCount, LONG maximumCount, LPCSTR name);
BOOL ReleaseSemaphoreImpl(HANDLE semaphore, LONG releaseCount, LONG* previousCount);
DWORD WaitForSingleObjectImpl(HANDLE handle, DWORD milliseconds);
DWORD WaitForSingleObjectExImpl(HANDLE handle, DWORD milliseconds, BOOL alertable);
HANDLE FindFirstFileImpl(LPCSTR pattern, WIN32_FIND_DATAA* data);
HANDLE FindFirstFileExImpl(LPCSTR pattern, FINDEX_INFO_LEVELS level, void* data, FINDEX_SEARCH_OPS searchOp, void* filter, DWORD flags);
BOOL FindNextFileImpl(HANDLE search, WIN32_FIND_DATAA* data);
BOOL FindCloseImpl(HANDLE search);
DWORD FormatMessageImpl(DWORD flags, const void* source, DWORD messageId, DWORD languageId, LPSTR buffer, DWORD size, va_list* arguments);
DWORD FormatSystemMessage(DWORD flags, DWORD messageId, LPSTR buffer, DWORD size);
void OutputDebugStringImpl(LPCSTR text);
void GetLocalTimeImpl(SYSTEMTIME* time);
BOOL GetProcessMemoryInfoImpl(HANDLE process, PROCESS_MEMORY_COUNTERS* counters, DWORD size);
BOOL QueryPerformanceCounterImpl(LARGE_INTEGER* count);
BOOL QueryPerformanceFrequencyImpl(LARGE_INTEGER* frequency);
FILE* FsopenImpl(const char* path, const char* mode, int shareFlag);
int FopenSImpl(FILE** stream, const char* path, const char* mode);
int FcloseImpl(FILE* stream);
size_t FreadImpl(void* buffer, size_t size, size_t count, FILE* stream);
char* FgetsImpl(char* buffer, int size, FILE* stream);
int FseekImpl(FILE* stream, long offset, int origin);
int FerrorImpl(FILE* stream);
int StatImpl(const char* path, struct _stat64i32* status);
int AccessImpl(const char* path, int mode);

}  // namespace Win32::Posix
