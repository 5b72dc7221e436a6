// The base of every log target: its own threshold, include and exclude masks, name and
// line format, and the ITarnLogTarget record through which the log manager reaches it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "CStd/CheckedMutex.h"
#include "TarnVellIO.h"

namespace Tarn::Logger {

struct LogTargetSettings {
    std::string name = "LogTarget";
    std::atomic<int32_t> level{1};
    std::atomic<std::uint64_t> includeTags{0};
    std::atomic<std::uint64_t> excludeTags{0};
    std::string format = "#D| #L| #G| #M";
};

class LogTarget {
public:
    virtual ~LogTarget();
    LogTarget(const LogTarget&) = delete;
    LogTarget& operator=(const LogTarget&) = delete;

    // Removes the target from the built-in log manager if it is registered there.
    virtual void Detach();
    virtual const char* GetName() const;
    virtual const char* GetFormat() const;
    // Writes one record; true when written.
    virtual bool Write(const LogRecord& record) = 0;

    ITarnLogTarget* Interface() { return &mFace.table; }
    static LogTarget* FromInterface(ITarnLogTarget* face);

    void SetLevel(int32_t severity);
    int32_t GetLevel() const { return mSettings->level; }
    // include keeps only the bits that exclude does not name.
    void SetTags(std::uint64_t include, std::uint64_t exclude);
    std::uint64_t GetIncludeTags() const { return mSettings->includeTags; }
    std::uint64_t GetExcludeTags() const { return mSettings->excludeTags; }
    // Registers with (or removes from) the built-in log manager; both are idempotent.
    void Enable();
    void Disable();
    bool IsEnabled() const { return mRegistered; }

protected:
    explicit LogTarget(LogTargetSettings* settings);
    CheckedMutex& Lock() { return mLock; }

private:
    // The record first, so that a pointer to it is a pointer to the face.
    struct Face {
        ITarnLogTarget table;
        LogTarget* owner;
    };

    Face mFace;
    std::atomic<bool> mRegistered{false};
    CheckedMutex mLock{true};
    LogTargetSettings* mSettings;
};

}  // namespace Tarn::Logger
