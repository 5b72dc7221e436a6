#include "logger/LogTarget.h"

#include <type_traits>

#include "logger/LogManager.h"

namespace Tarn::Logger {

namespace {

LogTarget* Self(ITarnLogTarget* face) { return LogTarget::FromInterface(face); }

int32_t VELL_CALL FaceGetInterfaceVersion(ITarnLogTarget*) { return 1; }
void VELL_CALL FaceSetLevel(ITarnLogTarget* f, int32_t severity) { Self(f)->SetLevel(severity); }
int32_t VELL_CALL FaceGetLevel(ITarnLogTarget* f) { return Self(f)->GetLevel(); }
void VELL_CALL FaceSetTags(ITarnLogTarget* f, uint64_t include, uint64_t exclude) { Self(f)->SetTags(include, exclude); }
uint64_t VELL_CALL FaceGetIncludeTags(ITarnLogTarget* f) { return Self(f)->GetIncludeTags(); }
uint64_t VELL_CALL FaceGetExcludeTags(ITarnLogTarget* f) { return Self(f)->GetExcludeTags(); }
const char* VELL_CALL FaceGetName(ITarnLogTarget* f) { return Self(f)->GetName(); }
const char* VELL_CALL FaceGetFormat(ITarnLogTarget* f) { return Self(f)->GetFormat(); }
void VELL_CALL FaceEnable(ITarnLogTarget* f) { Self(f)->Enable(); }
void VELL_CALL FaceDisable(ITarnLogTarget* f) { Self(f)->Disable(); }
VellBool VELL_CALL FaceIsEnabled(ITarnLogTarget* f) { return Self(f)->IsEnabled() ? 1 : 0; }
VellBool VELL_CALL FaceWrite(ITarnLogTarget* f, const LogRecord* record)
{
    return (record != nullptr && Self(f)->Write(*record)) ? 1 : 0;
}

constexpr ITarnLogTarget kFaceTable = {
    FaceGetInterfaceVersion, FaceSetLevel, FaceGetLevel, FaceSetTags, FaceGetIncludeTags, FaceGetExcludeTags,
    FaceGetName,             FaceGetFormat, FaceEnable,  FaceDisable, FaceIsEnabled,      FaceWrite,
};

}  // namespace

LogTarget::LogTarget(LogTargetSettings* settings) : mFace{kFaceTable, this}, mSettings(settings) {}

LogTarget::~LogTarget() { LogTarget::Detach(); }

LogTarget* LogTarget::FromInterface(ITarnLogTarget* face)
{
    static_assert(std::is_standard_layout_v<Face>);
    return reinterpret_cast<Face*>(face)->owner;
}

void LogTarget::Detach()
{
    // Without the target's lock: the manager's lock must never be taken while holding it.
    if (mRegistered.exchange(false)) LogManager::RemoveTarget(Interface());
}

const char* LogTarget::GetName() const { return mSettings->name.c_str(); }
const char* LogTarget::GetFormat() const { return mSettings->format.c_str(); }

void LogTarget::SetLevel(int32_t severity)
{
    ScopedLock lock(mLock);
    mSettings->level = severity;
}

void LogTarget::SetTags(std::uint64_t include, std::uint64_t exclude)
{
    ScopedLock lock(mLock);
    mSettings->includeTags = include & ~exclude;
    mSettings->excludeTags = exclude;
}

void LogTarget::Enable()
{
    if (!mRegistered.exchange(true)) LogManager::AddTarget(Interface());
}

void LogTarget::Disable()
{
    if (mRegistered.exchange(false)) LogManager::RemoveTarget(Interface());
}

}  // namespace Tarn::Logger
