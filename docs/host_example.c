/* A complete host of TarnVellIO: installs a log table, loads a release, reads a file at two
 * offsets, enumerates a directory and shuts down.
 *
 *   host_example DIR [PATH]
 *
 * DIR is the release's deploy directory (for example .../VELL/projects/client/releases/
 * 0.0.0.2/deploy); PATH is a file to read (default DATA/readme.txt). */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "TarnVellIO.h"

/* ---- a log table of our own: warnings and errors to standard error ---- */

static int32_t VELL_CALL Version(void) { return 1; }
static void VELL_CALL Nothing(void) {}
static void VELL_CALL IgnoreSeverity(int32_t severity) { (void)severity; }
static int32_t VELL_CALL Level(void) { return VELL_LOG_WARN; }
static void VELL_CALL IgnoreTags(uint32_t low, uint32_t high) { (void)low; (void)high; }
static uint64_t VELL_CALL NoTags(void) { return 0; }
static void VELL_CALL IgnoreTarget(ITarnLogTarget* target) { (void)target; }
static ITarnLogTarget* VELL_CALL NoTargetNamed(const char* name) { (void)name; return NULL; }
static ITarnLogTarget* VELL_CALL NoTarget(void) { return NULL; }
static void VELL_CALL EmptyTags(char* d, uint32_t size, uint32_t low, uint32_t high)
{
    (void)low; (void)high;
    if (d && size) d[0] = '\0';
}
static void VELL_CALL EmptyLine(char* d, uint32_t size, const char* format, const LogRecord* record)
{
    (void)format; (void)record;
    if (d && size) d[0] = '\0';
}
static const char* VELL_CALL SeverityName(int32_t severity)
{
    static const char* names[] = {"info", "warning", "error", "always"};
    return severity >= 0 && severity <= 3 ? names[severity] : "?";
}
static const char* VELL_CALL Module(void) { return "host_example"; }
static void VELL_CALL NoTime(LogTime* time) { memset(time, 0, sizeof(*time)); }
static int32_t VELL_CALL NoTimeText(char* d, uint32_t size, const LogTime* time)
{
    (void)time;
    if (d && size) d[0] = '\0';
    return 0;
}

/* The library registers its category once; its mask comes back in every message's tags. */
static uint64_t VELL_CALL RegisterCategory(uint64_t* mask, const char* code)
{
    (void)code;
    if (mask) *mask = (uint64_t)1 << 20;
    return (uint64_t)1 << 20;
}

/* Every message of the library arrives here. */
static void VELL_CALL LogV(int32_t severity, uint32_t tagsLow, uint32_t tagsHigh, const char* format, va_list args)
{
    (void)tagsLow; (void)tagsHigh;
    if (severity < VELL_LOG_WARN) return;
    fprintf(stderr, "[tarnvellio %s] ", SeverityName(severity));
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
}

static const LogFunctionTable kLogTable = {
    Version, Nothing, Nothing, IgnoreSeverity, Level, IgnoreTags, NoTags, Nothing, Nothing, Nothing, Nothing,
    IgnoreTarget, IgnoreTarget, NoTargetNamed, NoTarget, NoTarget, NoTarget, RegisterCategory, EmptyTags, EmptyLine,
    SeverityName, Module, NoTime, NoTimeText, NoTimeText, LogV};

int main(int argc, char** argv)
{
    const char* path = argc > 2 ? argv[2] : "DATA/readme.txt";
    if (argc < 2) {
        fprintf(stderr, "usage: host_example DIR [PATH]\n");
        return 2;
    }

    /* 1. Logging first, so that even initialisation reports to us. */
    VellSetLogger(&kLogTable);

    /* 2. Load the release. */
    if (VellInitialize(0, 0, 0, argv[1]) != VELL_OK) return 1;

    /* 3. Read a file: its size, then any range at any offset. */
    VellFileHandle file = VellOpenFile(path);
    if (file == NULL) {
        VellShutdown();
        return 1;
    }
    int64_t size = VellGetFileSize(file);
    char head[33] = {0};
    uint32_t got = 0;
    VellRead(file, 0, sizeof(head) - 1, &got, head);
    printf("%s: %lld bytes, begins \"%.*s\"\n", path, (long long)size, (int)got, head);
    if (size > 16) {
        char tail[17] = {0};
        VellRead(file, (uint64_t)size - 16, 16, &got, tail);
        printf("last %u bytes read from offset %lld\n", got, (long long)(size - 16));
    }
    VellCloseFile(file);

    /* 4. Enumerate a directory: subdirectories first, then files, in name order. */
    VellFindHandle search = VellFindFirstFile("DATA/*");
    if (search != NULL) {
        char name[260];
        uint32_t isDirectory = 0;
        uint64_t fileSize = 0;
        while (VellFindNextFile(search, &isDirectory, &fileSize, sizeof(name), name) == VELL_OK)
            printf("  %s%s (%llu bytes)\n", name, isDirectory ? "/" : "", (unsigned long long)fileSize);
        VellFindClose(search);
    }

    /* 5. Every handle is closed; release everything. */
    VellShutdown();
    return 0;
}
