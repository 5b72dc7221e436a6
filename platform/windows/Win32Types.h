// Win32 and C-runtime types and constants for the Windows build: those of <windows.h> and
// the C runtime. Included through platform/Win32.h only.
//
// The system headers define many of the contract's names as macros (TRUE, INFINITE,
// GENERIC_READ, _S_IFDIR ...), which cannot be qualified with Win32::. Each such macro is
// replaced by a typed constant of the same name and value in the global namespace, which
// serves code that uses the plain name (GoogleTest's headers use _S_IFDIR, a test may use
// TRUE), and the namespace Win32 takes it over with a using-declaration.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <psapi.h>
#include <share.h>
#include <sys/stat.h>

#include <cstdint>

// TARN_WIN32_CONSTANT(type, NAME): the macro NAME becomes a constant of that type.
#define TARN_WIN32_CONSTANT(type, name) \
    namespace Win32::Detail { constexpr type name##_value = static_cast<type>(name); }
TARN_WIN32_CONSTANT(BOOL, TRUE)
TARN_WIN32_CONSTANT(BOOL, FALSE)
TARN_WIN32_CONSTANT(DWORD, INVALID_FILE_ATTRIBUTES)
TARN_WIN32_CONSTANT(DWORD, MAX_PATH)
TARN_WIN32_CONSTANT(DWORD, GENERIC_READ)
TARN_WIN32_CONSTANT(DWORD, FILE_SHARE_READ)
TARN_WIN32_CONSTANT(DWORD, OPEN_EXISTING)
TARN_WIN32_CONSTANT(DWORD, FILE_FLAG_OVERLAPPED)
TARN_WIN32_CONSTANT(DWORD, FILE_ATTRIBUTE_READONLY)
TARN_WIN32_CONSTANT(DWORD, FILE_ATTRIBUTE_DIRECTORY)
TARN_WIN32_CONSTANT(DWORD, FILE_ATTRIBUTE_ARCHIVE)
TARN_WIN32_CONSTANT(DWORD, FILE_ATTRIBUTE_NORMAL)
TARN_WIN32_CONSTANT(DWORD, INFINITE)
TARN_WIN32_CONSTANT(DWORD, WAIT_OBJECT_0)
TARN_WIN32_CONSTANT(DWORD, WAIT_IO_COMPLETION)
TARN_WIN32_CONSTANT(DWORD, WAIT_TIMEOUT)
TARN_WIN32_CONSTANT(DWORD, WAIT_FAILED)
TARN_WIN32_CONSTANT(DWORD, FORMAT_MESSAGE_IGNORE_INSERTS)
TARN_WIN32_CONSTANT(DWORD, FORMAT_MESSAGE_FROM_SYSTEM)
TARN_WIN32_CONSTANT(ULONG_PTR, STATUS_PENDING)
TARN_WIN32_CONSTANT(int, _SH_DENYNO)
TARN_WIN32_CONSTANT(unsigned short, _S_IFMT)
TARN_WIN32_CONSTANT(unsigned short, _S_IFDIR)
TARN_WIN32_CONSTANT(unsigned short, _S_IFREG)
#undef TARN_WIN32_CONSTANT

#undef TRUE
#undef FALSE
#undef INVALID_FILE_ATTRIBUTES
#undef MAX_PATH
#undef GENERIC_READ
#undef FILE_SHARE_READ
#undef OPEN_EXISTING
#undef FILE_FLAG_OVERLAPPED
#undef FILE_ATTRIBUTE_READONLY
#undef FILE_ATTRIBUTE_DIRECTORY
#undef FILE_ATTRIBUTE_ARCHIVE
#undef FILE_ATTRIBUTE_NORMAL
#undef INFINITE
#undef WAIT_OBJECT_0
#undef WAIT_IO_COMPLETION
#undef WAIT_TIMEOUT
#undef WAIT_FAILED
#undef FORMAT_MESSAGE_IGNORE_INSERTS
#undef FORMAT_MESSAGE_FROM_SYSTEM
#undef STATUS_PENDING
#undef _SH_DENYNO
#undef _S_IFMT
#undef _S_IFDIR
#undef _S_IFREG
#undef INVALID_HANDLE_VALUE
// Names the contract declares as functions of its own namespace.
#undef InterlockedExchange
#undef InterlockedIncrement
#undef InterlockedDecrement
#undef InterlockedCompareExchange
#undef GetProcessMemoryInfo

constexpr BOOL TRUE = Win32::Detail::TRUE_value;
constexpr BOOL FALSE = Win32::Detail::FALSE_value;
constexpr DWORD INVALID_FILE_ATTRIBUTES = Win32::Detail::INVALID_FILE_ATTRIBUTES_value;
constexpr DWORD MAX_PATH = Win32::Detail::MAX_PATH_value;
constexpr DWORD GENERIC_READ = Win32::Detail::GENERIC_READ_value;
constexpr DWORD FILE_SHARE_READ = Win32::Detail::FILE_SHARE_READ_value;
constexpr DWORD OPEN_EXISTING = Win32::Detail::OPEN_EXISTING_value;
constexpr DWORD FILE_FLAG_OVERLAPPED = Win32::Detail::FILE_FLAG_OVERLAPPED_value;
constexpr DWORD FILE_ATTRIBUTE_READONLY = Win32::Detail::FILE_ATTRIBUTE_READONLY_value;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = Win32::Detail::FILE_ATTRIBUTE_DIRECTORY_value;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = Win32::Detail::FILE_ATTRIBUTE_ARCHIVE_value;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = Win32::Detail::FILE_ATTRIBUTE_NORMAL_value;
constexpr DWORD INFINITE = Win32::Detail::INFINITE_value;
constexpr DWORD WAIT_OBJECT_0 = Win32::Detail::WAIT_OBJECT_0_value;
constexpr DWORD WAIT_IO_COMPLETION = Win32::Detail::WAIT_IO_COMPLETION_value;
constexpr DWORD WAIT_TIMEOUT = Win32::Detail::WAIT_TIMEOUT_value;
constexpr DWORD WAIT_FAILED = Win32::Detail::WAIT_FAILED_value;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = Win32::Detail::FORMAT_MESSAGE_IGNORE_INSERTS_value;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = Win32::Detail::FORMAT_MESSAGE_FROM_SYSTEM_value;
constexpr ULONG_PTR STATUS_PENDING = Win32::Detail::STATUS_PENDING_value;
constexpr int _SH_DENYNO = Win32::Detail::_SH_DENYNO_value;
constexpr unsigned short _S_IFMT = Win32::Detail::_S_IFMT_value;
constexpr unsigned short _S_IFDIR = Win32::Detail::_S_IFDIR_value;
constexpr unsigned short _S_IFREG = Win32::Detail::_S_IFREG_value;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));

namespace Win32 {

using ::BOOL;
using ::BYTE;
using ::WORD;
using ::DWORD;
using ::LONG;
using ::LONGLONG;
using ::ULONG_PTR;
using ::SIZE_T;
using ::HANDLE;
using ::HMODULE;
using ::LPCSTR;
using ::LPSTR;
using ::OVERLAPPED;
using ::FILETIME;
using ::WIN32_FIND_DATAA;
using ::FINDEX_INFO_LEVELS;
using ::FindExInfoStandard;
using ::FindExInfoBasic;
using ::FINDEX_SEARCH_OPS;
using ::FindExSearchNameMatch;
using ::FindExSearchLimitToDirectories;
using ::SYSTEMTIME;
using ::LARGE_INTEGER;
using ::PROCESS_MEMORY_COUNTERS;
using ::CRITICAL_SECTION;

using ::TRUE;
using ::FALSE;
using ::INVALID_HANDLE_VALUE;
using ::INVALID_FILE_ATTRIBUTES;
using ::MAX_PATH;
using ::GENERIC_READ;
using ::FILE_SHARE_READ;
using ::OPEN_EXISTING;
using ::FILE_FLAG_OVERLAPPED;
using ::FILE_ATTRIBUTE_READONLY;
using ::FILE_ATTRIBUTE_DIRECTORY;
using ::FILE_ATTRIBUTE_ARCHIVE;
using ::FILE_ATTRIBUTE_NORMAL;
using ::INFINITE;
using ::WAIT_OBJECT_0;
using ::WAIT_IO_COMPLETION;
using ::WAIT_TIMEOUT;
using ::WAIT_FAILED;
using ::FORMAT_MESSAGE_IGNORE_INSERTS;
using ::FORMAT_MESSAGE_FROM_SYSTEM;
using ::STATUS_PENDING;
using ::_SH_DENYNO;
using ::_S_IFMT;
using ::_S_IFDIR;
using ::_S_IFREG;

constexpr DWORD LANG_NEUTRAL_DEFAULT = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);

// The file status the library reads: the fields of the C runtime's struct _stat64i32 that
// it uses, filled from _stat64 (see Win32Windows.cpp).
struct _stat64i32 {
    unsigned short st_mode;
    std::int32_t st_size;
};

}  // namespace Win32
