// Windows build: the contract's types and constants are those of <windows.h>.
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
// Names the contract declares as functions of its own namespace.
#undef InterlockedExchange
#undef InterlockedIncrement
#undef InterlockedDecrement
#undef InterlockedCompareExchange

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
using ::FINDEX_SEARCH_OPS;
using ::SYSTEMTIME;
using ::LARGE_INTEGER;
using ::PROCESS_MEMORY_COUNTERS;
using ::CRITICAL_SECTION;
constexpr DWORD LANG_NEUTRAL_DEFAULT = 0x400;
constexpr ULONG_PTR STATUS_PENDING = 0x103;
}  // namespace Win32
