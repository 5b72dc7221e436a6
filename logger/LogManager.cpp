#include "logger/LogManager.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "CStd/CheckedMutex.h"
#include "CStd/Report.h"
#include "logger/ConsoleLogTargets.h"
#include "logger/Log.h"
#include "logger/LogFormat.h"
#include "platform/Win32.h"

namespace Tarn::Logger {

namespace {

std::atomic<LogManager*> gInstance{nullptr};
// Serialises creation and destruction of the singleton. Made on first use and never
// destroyed: the manager may be used during static initialisation and teardown.
CheckedMutex& LifetimeLock()
{
    static CheckedMutex& lock = *new CheckedMutex(false);
    return lock;
}
volatile Win32::LONG gReferenceCount = 0;

void ReportInfo(const char* text) { LogMessage(kSeverityOkay, 2, 0, "%s", text); }
void ReportWarning(const char* text) { LogMessage(kSeverityWarn, 1, 0, "%s", text); }
void ReportErrorText(const char* text) { LogMessage(kSeverityError, 1, 0, "%s", text); }

bool SharesBit(std::uint64_t a, std::uint64_t b) { return (a & b) != 0; }

}  // namespace

LogManager::LogManager()
    : mStdErr(std::make_unique<StdErrLogTarget>()),
      mStdOut(std::make_unique<StdOutLogTarget>()),
      mDebugger(std::make_unique<DebuggerConsoleLogTarget>())
{
    Win32::DWORD n = Win32::GetModuleFileNameA(nullptr, mModulePath, sizeof(mModulePath));
    if (n > 0) {
        mModulePath[sizeof(mModulePath) - 1] = '\0';
        // The file name after the last separator; Windows paths use '\', ours may use '/'.
        const char* name = mModulePath;
        for (const char* p = mModulePath; *p; ++p)
            if (*p == '\\' || *p == '/') name = p + 1;
        mModuleName = name;
    }
}

LogManager::~LogManager() = default;

LogManager* LogManager::Instance() { return gInstance.load(std::memory_order_acquire); }

LogManager* LogManager::GetOrCreate()
{
    if (LogManager* manager = Instance()) return manager;
    ScopedLock guard(LifetimeLock());
    if (LogManager* manager = Instance()) return manager;
    auto* manager = new LogManager();
    gInstance.store(manager, std::memory_order_release);
    SetReportHandlers(ReportInfo, ReportWarning, ReportErrorText);
    manager->mStdErr->Interface()->Enable(manager->mStdErr->Interface());
    manager->mDebugger->Interface()->Enable(manager->mDebugger->Interface());
    return manager;
}

void VELL_CALL LogManager::AddReference()
{
    if (Win32::InterlockedIncrement(&gReferenceCount) == 1) GetOrCreate();
}

void VELL_CALL LogManager::ReleaseReference()
{
    // An unbalanced release must not drive the count below zero.
    Win32::LONG count = Win32::InterlockedCompareExchange(&gReferenceCount, 0, 0);
    while (count > 0) {
        Win32::LONG seen = Win32::InterlockedCompareExchange(&gReferenceCount, count - 1, count);
        if (seen == count) break;
        count = seen;
    }
    if (count != 1) return;

    ScopedLock guard(LifetimeLock());
    LogManager* manager = Instance();
    if (manager == nullptr) return;
    {
        ScopedLock lock(manager->mLock);
        while (!manager->mTargets.empty()) {
            ITarnLogTarget* target = manager->mTargets.back();
            target->Disable(target);
            // A foreign target's Disable may not remove it; the list is emptied regardless.
            auto it = std::find(manager->mTargets.begin(), manager->mTargets.end(), target);
            if (it != manager->mTargets.end()) manager->mTargets.erase(it);
        }
    }
    gInstance.store(nullptr, std::memory_order_release);
    delete manager;
}

void VELL_CALL LogManager::SetGlobalLevel(int32_t severity)
{
    LogManager* manager = Instance();
    if (manager == nullptr) return;
    ScopedLock lock(manager->mLock);
    manager->mLevel = severity;
    LogMessage(kSeverityAlways, 1, 0, "Global logging level set to %s\n", GetSeverityName(severity));
}

int32_t VELL_CALL LogManager::GetGlobalLevel()
{
    LogManager* manager = Instance();
    if (manager == nullptr) return 1;
    ScopedLock lock(manager->mLock);
    return manager->mLevel;
}

void LogManager::SetGlobalExcludeTags(std::uint64_t tags)
{
    LogManager* manager = Instance();
    if (manager == nullptr) return;
    ScopedLock lock(manager->mLock);
    manager->mExcludeTags = tags;
}

uint64_t VELL_CALL LogManager::GetGlobalExcludeTags()
{
    LogManager* manager = Instance();
    if (manager == nullptr) return 4;
    ScopedLock lock(manager->mLock);
    return manager->mExcludeTags;
}

void VELL_CALL LogManager::DisableLogging()
{
    if (LogManager* manager = Instance()) {
        ScopedLock lock(manager->mLock);
        manager->mLoggingDisabled = true;
    }
}

void VELL_CALL LogManager::EnableLogging()
{
    if (LogManager* manager = Instance()) {
        ScopedLock lock(manager->mLock);
        manager->mLoggingDisabled = false;
    }
}

void VELL_CALL LogManager::SetReservedFlag()
{
    if (LogManager* manager = Instance()) {
        ScopedLock lock(manager->mLock);
        manager->mReservedFlag = true;
    }
}

void VELL_CALL LogManager::ClearReservedFlag()
{
    if (LogManager* manager = Instance()) {
        ScopedLock lock(manager->mLock);
        manager->mReservedFlag = false;
    }
}

void VELL_CALL LogManager::AddTarget(ITarnLogTarget* target)
{
    LogManager* manager = Instance();
    if (manager == nullptr || target == nullptr) return;
    ScopedLock lock(manager->mLock);
    manager->mTargets.push_back(target);
}

void VELL_CALL LogManager::RemoveTarget(ITarnLogTarget* target)
{
    LogManager* manager = Instance();
    if (manager == nullptr) return;
    ScopedLock lock(manager->mLock);
    auto& targets = manager->mTargets;
    targets.erase(std::remove(targets.begin(), targets.end(), target), targets.end());
}

ITarnLogTarget* VELL_CALL LogManager::FindTarget(const char* name)
{
    LogManager* manager = Instance();
    if (manager == nullptr || name == nullptr) return nullptr;
    ScopedLock lock(manager->mLock);
    for (ITarnLogTarget* target : manager->mTargets) {
        const char* targetName = target->GetName(target);
        if (targetName && std::strcmp(targetName, name) == 0) return target;
    }
    return nullptr;
}

ITarnLogTarget* VELL_CALL LogManager::GetStdOutTarget()
{
    LogManager* manager = Instance();
    return manager ? manager->mStdOut->Interface() : nullptr;
}

ITarnLogTarget* VELL_CALL LogManager::GetStdErrTarget()
{
    LogManager* manager = Instance();
    return manager ? manager->mStdErr->Interface() : nullptr;
}

ITarnLogTarget* VELL_CALL LogManager::GetDebuggerConsoleTarget()
{
    LogManager* manager = Instance();
    return manager ? manager->mDebugger->Interface() : nullptr;
}

const char* VELL_CALL LogManager::GetModuleName()
{
    LogManager* manager = Instance();
    return manager ? manager->mModuleName : "<unknown>";
}

void VELL_CALL LogManager::LogV(int32_t severity, uint32_t tagsLow, uint32_t tagsHigh, const char* format, va_list args)
{
    LogManager* manager = GetOrCreate();
    const std::uint64_t tags = (static_cast<std::uint64_t>(tagsHigh) << 32) | tagsLow;
    if (manager->Drops(severity, tags)) return;

    char message[8192];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(message, sizeof(message), format ? format : "", copy);
    va_end(copy);
    if (n < 0) message[0] = '\0';

    LogRecord record{};
    CaptureTime(&record.time);
    record.severity = severity;
    record.tagsLow = tagsLow;
    record.tagsHigh = tagsHigh;
    record.message = message;
    manager->Dispatch(record);
}

bool LogManager::Drops(std::int32_t severity, std::uint64_t tags) const
{
    return mLoggingDisabled.load(std::memory_order_relaxed) || severity < mLevel.load(std::memory_order_relaxed) ||
           SharesBit(mExcludeTags.load(std::memory_order_relaxed), tags);
}

void LogManager::Dispatch(const LogRecord& record)
{
    const std::uint64_t tags = (static_cast<std::uint64_t>(record.tagsHigh) << 32) | record.tagsLow;
    ScopedLock lock(mLock);
    // Index, not iterator: a target's Write may (against its contract) change the list.
    for (size_t i = 0; i < mTargets.size(); ++i) {
        ITarnLogTarget* target = mTargets[i];
        if (record.severity < target->GetLevel(target)) continue;
        if (tags != 0) {
            if (SharesBit(tags, target->GetExcludeTags(target))) continue;
            const std::uint64_t include = target->GetIncludeTags(target);
            if (include != 0 && !SharesBit(tags, include)) continue;
        }
        target->Write(target, &record);
    }
}

}  // namespace Tarn::Logger
