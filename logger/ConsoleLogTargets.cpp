#include "logger/ConsoleLogTargets.h"

#include <cstdio>

#include "logger/LogFormat.h"
#include "platform/Win32.h"

namespace Tarn::Logger {

namespace {
void Configure(LogTargetSettings& settings, const char* name, std::uint64_t include, std::uint64_t exclude,
               const char* format)
{
    settings.name = name;
    settings.level = 1;
    settings.includeTags = include;
    settings.excludeTags = exclude;
    settings.format = format;
}
}  // namespace

BaseConsoleLogTarget::BaseConsoleLogTarget() : LogTarget(&mSettings) { mSettings.name = "BaseConsoleLogTarget"; }

template <typename Output>
bool BaseConsoleLogTarget::WriteLine(const LogRecord& record, Output output)
{
    char line[8192];
    FormatLine(line, sizeof(line), GetFormat(), &record);
    ScopedLock lock(Lock());
    output(line);
    return true;
}

StdErrLogTarget::StdErrLogTarget() { Configure(mSettings, "StdErrLogTarget", 1, 2, "#E(#T): #L| #M"); }
bool StdErrLogTarget::Write(const LogRecord& record)
{
    return WriteLine(record, [](const char* line) { std::fputs(line, stderr); });
}

StdOutLogTarget::StdOutLogTarget() { Configure(mSettings, "StdOutLogTarget", 2, 1, "#M"); }
bool StdOutLogTarget::Write(const LogRecord& record)
{
    return WriteLine(record, [](const char* line) { std::fputs(line, stdout); });
}

DebuggerConsoleLogTarget::DebuggerConsoleLogTarget() { Configure(mSettings, "DebuggerConsoleLogTarget", 1, 0, "#E(#T): #L| #M"); }
bool DebuggerConsoleLogTarget::Write(const LogRecord& record)
{
    return WriteLine(record, [](const char* line) { Win32::OutputDebugStringA(line); });
}

}  // namespace Tarn::Logger
