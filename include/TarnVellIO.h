/*
 * TarnVellIO: read-only access to content laid out under a VELL content root.
 *
 * Conventions
 * - Plain C; thirteen exported functions; nothing is thrown across this boundary.
 * - Results are 32-bit codes of the HRESULT kind: VELL_OK (0), VELL_E_FAIL (0x80004005),
 *   VELL_E_HANDLE (0x80070006); or a handle (NULL for none), or a plain value.
 * - Handles are opaque. A file handle lives from VellOpenFile to VellCloseFile, a find handle
 *   from VellFindFirstFile to VellFindClose; both point into the loaded content and must be
 *   closed before VellShutdown. The host owns every handle it receives.
 * - Paths are virtual paths inside the loaded release ("DATA/Characters/x.dds"); '\' and
 *   doubled separators are accepted, letter case is ignored.
 * - Threads: VellInitialize, VellShutdown and any call that may initialise lazily
 *   (VellFileExists, VellOpenFile, VellFindFirstFile before initialisation) must not overlap
 *   another call. Once initialised, calls on different handles may run on several threads;
 *   a handle must not be used on two threads at once.
 * - Logging: every diagnostic goes through a LogFunctionTable. The built-in table writes
 *   warnings and errors to standard error; VellSetLogger hands the library a table of the
 *   host's own.
 */
#ifndef TARNVELLIO_H
#define TARNVELLIO_H

/* Version of this interface and of the library built with it (the build reads it from here).
 * The shared library's file name carries the major version (libtarnvellio.so.0). */
#define TARNVELLIO_VERSION_MAJOR 0
#define TARNVELLIO_VERSION_MINOR 1
#define TARNVELLIO_VERSION_PATCH 0
/* MAJOR * 10000 + MINOR * 100 + PATCH, for comparisons in #if */
#define TARNVELLIO_VERSION_NUMBER \
    (TARNVELLIO_VERSION_MAJOR * 10000 + TARNVELLIO_VERSION_MINOR * 100 + TARNVELLIO_VERSION_PATCH)

#include <stdarg.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(TARNVELLIO_BUILD)
#    define VELL_API __declspec(dllexport)
#  else
#    define VELL_API __declspec(dllimport)
#  endif
#  define VELL_CALL __cdecl
#else
#  if defined(TARNVELLIO_BUILD)
#    define VELL_API __attribute__((visibility("default")))
#  else
#    define VELL_API
#  endif
#  define VELL_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t VellResult;
typedef unsigned char VellBool; /* one byte: 1 true, 0 false */

#define VELL_OK ((VellResult)0)
#define VELL_E_FAIL ((VellResult)0x80004005u)
#define VELL_E_HANDLE ((VellResult)0x80070006u)

typedef struct VellFileHandleRecord* VellFileHandle;
typedef struct VellFindHandleRecord* VellFindHandle;

/* ---- Logging ------------------------------------------------------------------------- */

/* Severities; a message passes a threshold when its severity is at least the threshold. */
#define VELL_LOG_OKAY 0
#define VELL_LOG_WARN 1
#define VELL_LOG_ERROR 2
#define VELL_LOG_ALWAYS 3

/* Local time of a record. */
typedef struct LogTime {
    uint32_t year;
    uint32_t month;
    uint32_t day;
    uint32_t hour;
    uint32_t minute;
    uint32_t second;
    uint32_t millisecond;
} LogTime;

/* One message as targets receive it; valid only during the dispatch. */
typedef struct LogRecord {
    LogTime time;
    int32_t severity;
    uint32_t tagsLow; /* tags: a 64-bit mask, one bit per category */
    uint32_t tagsHigh;
    const char* message;
} LogRecord;

/* A log target as a table of functions; each takes the target itself first. */
typedef struct ITarnLogTarget ITarnLogTarget;
struct ITarnLogTarget {
    int32_t(VELL_CALL* GetInterfaceVersion)(ITarnLogTarget* self);
    void(VELL_CALL* SetLevel)(ITarnLogTarget* self, int32_t severity);
    int32_t(VELL_CALL* GetLevel)(ITarnLogTarget* self);
    void(VELL_CALL* SetTags)(ITarnLogTarget* self, uint64_t include, uint64_t exclude);
    uint64_t(VELL_CALL* GetIncludeTags)(ITarnLogTarget* self);
    uint64_t(VELL_CALL* GetExcludeTags)(ITarnLogTarget* self);
    const char*(VELL_CALL* GetName)(ITarnLogTarget* self);
    const char*(VELL_CALL* GetFormat)(ITarnLogTarget* self);
    void(VELL_CALL* Enable)(ITarnLogTarget* self);
    void(VELL_CALL* Disable)(ITarnLogTarget* self);
    VellBool(VELL_CALL* IsEnabled)(ITarnLogTarget* self);
    VellBool(VELL_CALL* Write)(ITarnLogTarget* self, const LogRecord* record);
};

/*
 * The log function table, a binary interface shared with the host. The library calls only
 * RegisterCategory (once, with "VEL", from VellSetLogger) and LogV (for every message); a
 * host table must still provide all 26 entries in this order.
 */
typedef struct LogFunctionTable {
    int32_t(VELL_CALL* GetInterfaceVersion)(void);
    void(VELL_CALL* AddReference)(void);
    void(VELL_CALL* ReleaseReference)(void);
    void(VELL_CALL* SetGlobalLevel)(int32_t severity);
    int32_t(VELL_CALL* GetGlobalLevel)(void);
    void(VELL_CALL* SetGlobalExcludeTags)(uint32_t low, uint32_t high);
    uint64_t(VELL_CALL* GetGlobalExcludeTags)(void);
    void(VELL_CALL* DisableLogging)(void);
    void(VELL_CALL* EnableLogging)(void);
    void(VELL_CALL* SetReservedFlag)(void);
    void(VELL_CALL* ClearReservedFlag)(void);
    void(VELL_CALL* AddTarget)(ITarnLogTarget* target);
    void(VELL_CALL* RemoveTarget)(ITarnLogTarget* target);
    ITarnLogTarget*(VELL_CALL* FindTarget)(const char* name);
    ITarnLogTarget*(VELL_CALL* GetStdOutTarget)(void);
    ITarnLogTarget*(VELL_CALL* GetStdErrTarget)(void);
    ITarnLogTarget*(VELL_CALL* GetDebuggerConsoleTarget)(void);
    uint64_t(VELL_CALL* RegisterCategory)(uint64_t* mask, const char* code);
    void(VELL_CALL* FormatTags)(char* destination, uint32_t size, uint32_t tagsLow, uint32_t tagsHigh);
    void(VELL_CALL* FormatLine)(char* destination, uint32_t size, const char* format, const LogRecord* record);
    const char*(VELL_CALL* GetSeverityName)(int32_t severity);
    const char*(VELL_CALL* GetModuleName)(void);
    void(VELL_CALL* CaptureTime)(LogTime* time);
    int32_t(VELL_CALL* FormatTime)(char* destination, uint32_t size, const LogTime* time);
    int32_t(VELL_CALL* FormatFileTime)(char* destination, uint32_t size, const LogTime* time);
    void(VELL_CALL* LogV)(int32_t severity, uint32_t tagsLow, uint32_t tagsHigh, const char* format, va_list args);
} LogFunctionTable;

/* Receives one XML document per log record; non-zero when the event was taken. */
typedef int32_t(VELL_CALL* NativeEventCallback)(const char* document);

/* ---- Lifecycle and lookup ------------------------------------------------------------ */

/* Loads the project or solution release whose directory is workingDirectory (NULL: the
 * current directory). The first three arguments are ignored. VELL_OK or VELL_E_FAIL. */
VELL_API VellResult VELL_CALL VellInitialize(uint32_t reserved0, uint32_t reserved1, uint32_t reserved2,
                                             const char* workingDirectory);
/* Releases everything VellInitialize loaded; every handle must be closed first. */
VELL_API void VELL_CALL VellShutdown(void);
/* 1 when the path names a file or directory of the loaded content. */
VELL_API VellBool VELL_CALL VellFileExists(const char* path);

/* ---- Enumeration --------------------------------------------------------------------- */

/* Opens a search of one directory with a wildcard pattern in its last component, such as
 * DATA followed by a slash and *.dds. NULL when the directory is in no loaded listing.
 * A final separator is dropped first, so a pattern ending in one names the directory
 * itself: "DATA/" searches the root for DATA and delivers that directory, not its content
 * (list the content with DATA, a slash and *). */
VELL_API VellFindHandle VELL_CALL VellFindFirstFile(const char* pattern);
/* Delivers the next matching entry (subdirectories first, then files, each in name order):
 * VELL_OK, VELL_E_FAIL at the end, VELL_E_HANDLE for a NULL handle. Outputs may be NULL;
 * the name is cut to nameBufferSize - 1 characters and always terminated. */
VELL_API VellResult VELL_CALL VellFindNextFile(VellFindHandle search, uint32_t* isDirectory, uint64_t* fileSize,
                                               uint32_t nameBufferSize, char* nameBuffer);
VELL_API void VELL_CALL VellFindClose(VellFindHandle search);

/* ---- Files --------------------------------------------------------------------------- */

VELL_API VellFileHandle VELL_CALL VellOpenFile(const char* path);
/* Reads up to size bytes at offset; *bytesRead (when given) tells how many came.
 * - size 0: VELL_OK at once; neither the buffer nor *bytesRead is touched.
 * - A range crossing the end of a file stored as it is (loose, or an archive entry without
 *   compression): VELL_OK, *bytesRead the bytes up to the end.
 * - A range crossing the end of a compressed file: VELL_E_FAIL, yet the bytes up to the end
 *   are copied and *bytesRead is their count.
 * - A range starting at or past the end: VELL_E_FAIL, *bytesRead 0. */
VELL_API VellResult VELL_CALL VellRead(VellFileHandle file, uint64_t offset, uint32_t size, uint32_t* bytesRead,
                                       void* buffer);
/* The file's size; -1 for a NULL handle. */
VELL_API int64_t VELL_CALL VellGetFileSize(VellFileHandle file);
VELL_API void VELL_CALL VellCloseFile(VellFileHandle file);

/* ---- Logging ------------------------------------------------------------------------- */

/* Sends every later message to the host's table and registers the category "VEL" with it. */
VELL_API void VELL_CALL VellSetLogger(const LogFunctionTable* table);
/* Hands every record that passes the built-in filters to the native event callback. */
VELL_API void VELL_CALL EnableEventXMLLogTarget(void);
/* Installs (or with NULL removes) the callback that receives the XML documents. */
VELL_API void VELL_CALL RegisterNativeEventCallback(NativeEventCallback callback);

#ifdef __cplusplus
}
#endif

#endif /* TARNVELLIO_H */
