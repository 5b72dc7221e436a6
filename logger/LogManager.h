// The built-in log manager: a process-wide singleton holding the global threshold, the
// global exclude mask and the registered targets, and dispatching each message to them.
//
// It is created by the first message through the built-in table or by AddReference and
// destroyed when ReleaseReference brings the reference count back to zero; without a host
// that calls those, it lives until the process ends. The static functions below are the
// built-in table's entries; those that need the manager do nothing (or return a neutral
// value) before it exists.
//
// Locks: the manager's lock is recursive and is always taken before a target's lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "CStd/CheckedMutex.h"
#include "TarnVellIO.h"

namespace Tarn::Logger {

class StdErrLogTarget;
class StdOutLogTarget;
class DebuggerConsoleLogTarget;

class LogManager {
public:
    // The manager, or null while none exists.
    static LogManager* Instance();
    // The manager, created first when none exists.
    static LogManager* GetOrCreate();

    static void VELL_CALL AddReference();
    static void VELL_CALL ReleaseReference();
    static void VELL_CALL SetGlobalLevel(int32_t severity);
    static int32_t VELL_CALL GetGlobalLevel();
    static void SetGlobalExcludeTags(std::uint64_t tags);
    static uint64_t VELL_CALL GetGlobalExcludeTags();
    static void VELL_CALL DisableLogging();
    static void VELL_CALL EnableLogging();
    static void VELL_CALL SetReservedFlag();
    static void VELL_CALL ClearReservedFlag();
    static void VELL_CALL AddTarget(ITarnLogTarget* target);
    static void VELL_CALL RemoveTarget(ITarnLogTarget* target);
    static ITarnLogTarget* VELL_CALL FindTarget(const char* name);
    static ITarnLogTarget* VELL_CALL GetStdOutTarget();
    static ITarnLogTarget* VELL_CALL GetStdErrTarget();
    static ITarnLogTarget* VELL_CALL GetDebuggerConsoleTarget();
    // The executable's file name; "<unknown>" before the manager exists or when unknown.
    static const char* VELL_CALL GetModuleName();
    static void VELL_CALL LogV(int32_t severity, uint32_t tagsLow, uint32_t tagsHigh, const char* format, va_list args);

    // Whether a message of this severity and these tags is filtered out before any formatting.
    bool Drops(std::int32_t severity, std::uint64_t tags) const;

    ~LogManager();
    LogManager(const LogManager&) = delete;
    LogManager& operator=(const LogManager&) = delete;

private:
    LogManager();
    void Dispatch(const LogRecord& record);

    CheckedMutex mLock{true};
    std::vector<ITarnLogTarget*> mTargets;  // in order of registration; not owned
    bool mReservedFlag = false;
    std::atomic<bool> mLoggingDisabled{false};
    std::atomic<int32_t> mLevel{1};
    std::atomic<std::uint64_t> mExcludeTags{4};
    char mModulePath[1024] = {};
    const char* mModuleName = "<unknown>";
    std::unique_ptr<StdErrLogTarget> mStdErr;
    std::unique_ptr<StdOutLogTarget> mStdOut;
    std::unique_ptr<DebuggerConsoleLogTarget> mDebugger;
};

}  // namespace Tarn::Logger
