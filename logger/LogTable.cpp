#include "logger/LogTable.h"

#include <atomic>

#include "logger/CategoryTable.h"
#include "logger/Log.h"
#include "logger/LogFormat.h"
#include "logger/LogManager.h"

namespace Tarn::Logger {

namespace {

std::atomic<std::uint64_t> gCategoryHandle{0};

int32_t VELL_CALL GetInterfaceVersion() { return 1; }

void VELL_CALL SetGlobalExcludeTags(uint32_t low, uint32_t high)
{
    LogManager::SetGlobalExcludeTags((static_cast<std::uint64_t>(high) << 32) | low);
}

constexpr LogFunctionTable kBuiltInTable = {
    GetInterfaceVersion,
    LogManager::AddReference,
    LogManager::ReleaseReference,
    LogManager::SetGlobalLevel,
    LogManager::GetGlobalLevel,
    SetGlobalExcludeTags,
    LogManager::GetGlobalExcludeTags,
    LogManager::DisableLogging,
    LogManager::EnableLogging,
    LogManager::SetReservedFlag,
    LogManager::ClearReservedFlag,
    LogManager::AddTarget,
    LogManager::RemoveTarget,
    LogManager::FindTarget,
    LogManager::GetStdOutTarget,
    LogManager::GetStdErrTarget,
    LogManager::GetDebuggerConsoleTarget,
    RegisterCategory,
    FormatTags,
    FormatLine,
    GetSeverityName,
    LogManager::GetModuleName,
    CaptureTime,
    FormatTime,
    FormatFileTime,
    LogManager::LogV,
};

std::atomic<const LogFunctionTable*> gCurrentTable{&kBuiltInTable};

void Emit(std::int32_t severity, std::uint64_t tags, const char* format, va_list args)
{
    const LogFunctionTable* table = gCurrentTable.load(std::memory_order_acquire);
    // The built-in table's filters, asked first: the traces of busy paths cost two loads then.
    if (table == &kBuiltInTable) {
        const LogManager* manager = LogManager::Instance();
        if (manager != nullptr && manager->Drops(severity, tags)) return;
    }
    table->LogV(severity, static_cast<std::uint32_t>(tags), static_cast<std::uint32_t>(tags >> 32), format, args);
}

}  // namespace

const LogFunctionTable* CurrentLogTable() { return gCurrentTable.load(std::memory_order_acquire); }
const LogFunctionTable* BuiltInLogTable() { return &kBuiltInTable; }

void SetLogger(const LogFunctionTable* table)
{
    gCurrentTable.store(table, std::memory_order_release);
    std::uint64_t mask = 0;
    table->RegisterCategory(&mask, "VEL");
    gCategoryHandle.store(mask, std::memory_order_release);
}

void RestoreLogger(const LogFunctionTable* table, std::uint64_t categoryHandle)
{
    gCurrentTable.store(table, std::memory_order_release);
    gCategoryHandle.store(categoryHandle, std::memory_order_release);
}

std::uint64_t CategoryHandle() { return gCategoryHandle.load(std::memory_order_acquire); }

void LogMessageV(std::int32_t severity, std::uint64_t tags, const char* format, va_list args)
{
    Emit(severity, tags, format, args);
}

void LogMessage(std::int32_t severity, std::uint32_t tagsLow, std::uint32_t tagsHigh, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    Emit(severity, (static_cast<std::uint64_t>(tagsHigh) << 32) | tagsLow, format, args);
    va_end(args);
}

#define TARN_LOG_WITH(severity, tags)      \
    va_list args;                          \
    va_start(args, format);                \
    Emit((severity), (tags), format, args); \
    va_end(args)

void LogError(const char* format, ...) { TARN_LOG_WITH(kSeverityError, CategoryHandle() | kTagDebug); }
void LogWarning(const char* format, ...) { TARN_LOG_WITH(kSeverityWarn, CategoryHandle() | kTagDebug); }
void LogInfo(const char* format, ...) { TARN_LOG_WITH(kSeverityOkay, CategoryHandle() | kTagGeneral); }
void LogTrace(const char* format, ...) { TARN_LOG_WITH(kSeverityOkay, CategoryHandle() | kTagDebug | kTagExtra); }
void LogErrorTagOnly(const char* format, ...) { TARN_LOG_WITH(kSeverityError, kTagDebug); }

#undef TARN_LOG_WITH

}  // namespace Tarn::Logger
