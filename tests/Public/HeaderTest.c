/* The public header compiles as strict C, and a C host can install its own log table. */
#include "TarnVellIO.h"

#include <stdio.h>
#include <string.h>

static char gRegistered[8];

static int32_t VELL_CALL Version(void) { return 1; }
static void VELL_CALL Nothing(void) {}
static void VELL_CALL IgnoreSeverity(int32_t severity) { (void)severity; }
static int32_t VELL_CALL Level(void) { return 0; }
static void VELL_CALL IgnoreTags(uint32_t low, uint32_t high) { (void)low; (void)high; }
static uint64_t VELL_CALL NoTags(void) { return 0; }
static void VELL_CALL IgnoreTarget(ITarnLogTarget* target) { (void)target; }
static ITarnLogTarget* VELL_CALL NoTargetNamed(const char* name) { (void)name; return NULL; }
static ITarnLogTarget* VELL_CALL NoTarget(void) { return NULL; }
static uint64_t VELL_CALL Register(uint64_t* mask, const char* code)
{
    strncpy(gRegistered, code, sizeof(gRegistered) - 1);
    if (mask) *mask = 0x100;
    return 0x100;
}
static void VELL_CALL FormatTags(char* d, uint32_t size, uint32_t low, uint32_t high)
{
    (void)low; (void)high;
    if (d && size) d[0] = '\0';
}
static void VELL_CALL FormatLine(char* d, uint32_t size, const char* format, const LogRecord* record)
{
    (void)format; (void)record;
    if (d && size) d[0] = '\0';
}
static const char* VELL_CALL Name(int32_t severity) { (void)severity; return ""; }
static const char* VELL_CALL Module(void) { return ""; }
static void VELL_CALL Time(LogTime* time) { (void)time; }
static int32_t VELL_CALL TimeText(char* d, uint32_t size, const LogTime* time)
{
    (void)time;
    if (d && size) d[0] = '\0';
    return 0;
}
static void VELL_CALL LogV(int32_t severity, uint32_t low, uint32_t high, const char* format, va_list args)
{
    (void)severity; (void)low; (void)high; (void)format; (void)args;
}

int main(void)
{
    static const LogFunctionTable table = {
        Version, Nothing, Nothing, IgnoreSeverity, Level, IgnoreTags, NoTags, Nothing, Nothing, Nothing, Nothing,
        IgnoreTarget, IgnoreTarget, NoTargetNamed, NoTarget, NoTarget, NoTarget, Register, FormatTags, FormatLine,
        Name, Module, Time, TimeText, TimeText, LogV};
    VellSetLogger(&table);
    if (strcmp(gRegistered, "VEL") != 0) {
        fprintf(stderr, "the host table did not receive \"VEL\"\n");
        return 1;
    }
    return 0;
}
