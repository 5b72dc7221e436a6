#include "support/QuietLogTable.h"

#include <cstdio>

namespace TarnSupport {

namespace {

int32_t VELL_CALL InterfaceVersion() { return 1; }
void VELL_CALL Nothing() {}
void VELL_CALL IgnoreSeverity(int32_t) {}
int32_t VELL_CALL Level() { return VELL_LOG_OKAY; }
void VELL_CALL IgnoreTags(uint32_t, uint32_t) {}
uint64_t VELL_CALL NoTags() { return 0; }
void VELL_CALL IgnoreTarget(ITarnLogTarget*) {}
ITarnLogTarget* VELL_CALL NoTargetNamed(const char*) { return nullptr; }
ITarnLogTarget* VELL_CALL NoTarget() { return nullptr; }
uint64_t VELL_CALL RegisterNothing(uint64_t* mask, const char*)
{
    if (mask) *mask = 0;
    return 0;
}
void VELL_CALL NoTagText(char* destination, uint32_t size, uint32_t, uint32_t)
{
    if (destination && size) destination[0] = '\0';
}
void VELL_CALL NoLine(char* destination, uint32_t size, const char*, const LogRecord*)
{
    if (destination && size) destination[0] = '\0';
}
const char* VELL_CALL NoName(int32_t) { return ""; }
const char* VELL_CALL NoModule() { return ""; }
void VELL_CALL ZeroTime(LogTime* time)
{
    if (time) *time = LogTime{};
}
int32_t VELL_CALL NoTimeText(char* destination, uint32_t size, const LogTime*)
{
    if (destination && size) destination[0] = '\0';
    return 0;
}
void VELL_CALL FormatAndDrop(int32_t, uint32_t, uint32_t, const char* format, va_list args)
{
    char text[4096];
    std::vsnprintf(text, sizeof(text), format, args);
}

}  // namespace

LogFunctionTable QuietLogTable()
{
    return {
        InterfaceVersion, Nothing,         Nothing,        IgnoreSeverity, Level,      IgnoreTags, NoTags,
        Nothing,          Nothing,         Nothing,        Nothing,        IgnoreTarget, IgnoreTarget, NoTargetNamed,
        NoTarget,         NoTarget,        NoTarget,       RegisterNothing, NoTagText, NoLine,     NoName,
        NoModule,         ZeroTime,          NoTimeText,     NoTimeText,     FormatAndDrop,
    };
}

}  // namespace TarnSupport
