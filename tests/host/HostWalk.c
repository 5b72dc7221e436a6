/* An independent host of the library, in plain C: it loads the library at run time
 * (LoadLibraryA on Windows, dlopen elsewhere) and uses nothing but its exports. It loads a
 * release, walks every directory with VellFindFirstFile, reads every file whole with
 * VellOpenFile and VellRead in chunks, and prints one line per file:
 *
 *   PATH SIZE CHECKSUM
 *
 * (the checksum is FNV-1a, 64-bit, of the bytes read). Built for Linux against the shared
 * library and for Windows against the DLL, the two outputs must be identical.
 *
 *   vell_host_walk LIBRARY DIRECTORY */
#include <inttypes.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "TarnVellIO.h"

static struct {
    VellResult(VELL_CALL* Initialize)(uint32_t, uint32_t, uint32_t, const char*);
    void(VELL_CALL* Shutdown)(void);
    VellFindHandle(VELL_CALL* FindFirstFile)(const char*);
    VellResult(VELL_CALL* FindNextFile)(VellFindHandle, uint32_t*, uint64_t*, uint32_t, char*);
    void(VELL_CALL* FindClose)(VellFindHandle);
    VellFileHandle(VELL_CALL* OpenFile)(const char*);
    VellResult(VELL_CALL* Read)(VellFileHandle, uint64_t, uint32_t, uint32_t*, void*);
    int64_t(VELL_CALL* GetFileSize)(VellFileHandle);
    void(VELL_CALL* CloseFile)(VellFileHandle);
} vell;

/* The address of an export as a plain function pointer; 0 when it is missing. */
typedef void (*Function)(void);
static Function Export(void* library, const char* name)
{
#if defined(_WIN32)
    FARPROC address = GetProcAddress((HMODULE)library, name);
    Function function;
    memcpy(&function, &address, sizeof(function));
#else
    void* address = dlsym(library, name);
    Function function;
    memcpy(&function, &address, sizeof(function));
#endif
    if (function == NULL) fprintf(stderr, "missing export %s\n", name);
    return function;
}

static int Bind(const char* path)
{
#if defined(_WIN32)
    void* library = (void*)LoadLibraryA(path);
    if (library == NULL) {
        fprintf(stderr, "LoadLibraryA(%s) failed with error %lu\n", path, (unsigned long)GetLastError());
        return 0;
    }
#else
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "%s\n", dlerror());
        return 0;
    }
#endif
#define BIND(field, name)                                  \
    {                                                      \
        Function f = Export(library, name);                \
        if (f == NULL) return 0;                           \
        memcpy(&vell.field, &f, sizeof(vell.field));       \
    }
    BIND(Initialize, "VellInitialize")
    BIND(Shutdown, "VellShutdown")
    BIND(FindFirstFile, "VellFindFirstFile")
    BIND(FindNextFile, "VellFindNextFile")
    BIND(FindClose, "VellFindClose")
    BIND(OpenFile, "VellOpenFile")
    BIND(Read, "VellRead")
    BIND(GetFileSize, "VellGetFileSize")
    BIND(CloseFile, "VellCloseFile")
#undef BIND
    return 1;
}

static unsigned long gFailures = 0;

static void ReadFileWhole(const char* path)
{
    static unsigned char buffer[65536 + 7]; /* an odd chunk size, so reads straddle blocks */
    VellFileHandle file = vell.OpenFile(path);
    if (file == NULL) {
        printf("%s cannot be opened\n", path);
        ++gFailures;
        return;
    }
    const int64_t size = vell.GetFileSize(file);
    uint64_t checksum = 14695981039346656037ull, offset = 0;
    while (size >= 0 && offset < (uint64_t)size) {
        const uint64_t left = (uint64_t)size - offset;
        const uint32_t want = left < sizeof(buffer) ? (uint32_t)left : (uint32_t)sizeof(buffer);
        uint32_t got = 0;
        if (vell.Read(file, offset, want, &got, buffer) != VELL_OK || got == 0) break;
        for (uint32_t i = 0; i < got; ++i) checksum = (checksum ^ buffer[i]) * 1099511628211ull;
        offset += got;
    }
    vell.CloseFile(file);
    if (size < 0 || offset != (uint64_t)size) {
        printf("%s read %" PRIu64 " of %" PRId64 " bytes\n", path, offset, size);
        ++gFailures;
        return;
    }
    printf("%s %" PRId64 " %016" PRIx64 "\n", path, size, checksum);
}

/* Walks the directory prefix ("" for the root, else ending in '/'): its files, then its
 * subdirectories, in the order the library delivers them. */
static void Walk(const char* prefix)
{
    char pattern[600], name[260];
    snprintf(pattern, sizeof(pattern), "%s*", prefix);
    VellFindHandle search = vell.FindFirstFile(pattern);
    if (search == NULL) {
        printf("%s cannot be searched\n", pattern);
        ++gFailures;
        return;
    }
    /* The names first: the search is closed before the walk goes deeper. */
    size_t count = 0, capacity = 16;
    char** names = malloc(capacity * sizeof(char*));
    uint32_t isDirectory = 0;
    uint64_t size = 0;
    while (names != NULL && vell.FindNextFile(search, &isDirectory, &size, sizeof(name), name) == VELL_OK) {
        if (count == capacity) {
            char** more = realloc(names, (capacity *= 2) * sizeof(char*));
            if (more == NULL) break;
            names = more;
        }
        size_t length = strlen(name);
        names[count] = malloc(length + 3);
        if (names[count] == NULL) break;
        memcpy(names[count], name, length + 1);
        if (isDirectory) memcpy(names[count] + length, "/", 2);
        ++count;
    }
    vell.FindClose(search);
    for (size_t i = 0; i < count; ++i) {
        char path[600];
        snprintf(path, sizeof(path), "%s%s", prefix, names[i]);
        if (path[strlen(path) - 1] == '/')
            Walk(path);
        else
            ReadFileWhole(path);
        free(names[i]);
    }
    free(names);
}

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: vell_host_walk LIBRARY DIRECTORY\n");
        return 2;
    }
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY); /* the same bytes as on Linux: LF line ends */
#endif
    if (!Bind(argv[1])) return 1;
    if (vell.Initialize(0, 0, 0, argv[2]) != VELL_OK) {
        fprintf(stderr, "VellInitialize(%s) failed\n", argv[2]);
        return 1;
    }
    Walk("");
    vell.Shutdown();
    fflush(stdout);
    return gFailures == 0 ? 0 : 1;
}
