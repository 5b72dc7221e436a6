// The library's lock: a critical section that, in its non-recursive kind, knows its owner
// and stops the process when a thread locks it twice or unlocks it without owning it.
#pragma once

#include "platform/Win32.h"

namespace Tarn {

class CheckedMutex {
public:
    explicit CheckedMutex(bool recursive);
    ~CheckedMutex();
    CheckedMutex(const CheckedMutex&) = delete;
    CheckedMutex& operator=(const CheckedMutex&) = delete;

    void Lock();
    void Unlock();
    bool IsRecursive() const { return mRecursive; }

private:
    bool mRecursive;
    volatile Win32::LONG mOwner = 0;  // thread id of the owner; kept only when not recursive
    Win32::CRITICAL_SECTION mSection;
};

// Locks for the lifetime of the guard.
class ScopedLock {
public:
    explicit ScopedLock(CheckedMutex& mutex) : mMutex(mutex) { mMutex.Lock(); }
    ~ScopedLock() { mMutex.Unlock(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    CheckedMutex& mMutex;
};

}  // namespace Tarn
