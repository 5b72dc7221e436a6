// Fault injection through the platform layer's call table.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/Win32.h"

namespace TarnTest {

// Restores every entry of the call table when it goes out of scope; change entries of
// Win32::gCalls freely while it lives.
class ScopedCalls {
public:
    ScopedCalls() = default;
    ~ScopedCalls() { Win32::RestoreDefaultCalls(); }
    ScopedCalls(const ScopedCalls&) = delete;
    ScopedCalls& operator=(const ScopedCalls&) = delete;
};

// While it lives, every overlapped read answers "pending" and completes later on another
// thread (Win32::ReadFileCompletingLater), held back until Release when asked. At the end the
// reads still pending are let go and waited for, and ReadFile is the default one again.
class ScopedPendingReads {
public:
    explicit ScopedPendingReads(bool held = false)
    {
        Win32::HoldPendingReads(held);
        Win32::gCalls.ReadFile = Win32::ReadFileCompletingLater;
    }
    ~ScopedPendingReads()
    {
        Release();
        for (int i = 0; i < 1000 && Win32::PendingReadCount() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        Win32::gCalls.ReadFile = Win32::DefaultCalls().ReadFile;
    }
    ScopedPendingReads(const ScopedPendingReads&) = delete;
    ScopedPendingReads& operator=(const ScopedPendingReads&) = delete;

    void Release() { Win32::HoldPendingReads(false); }
    // Waits (up to a few seconds) until count reads are pending; the number pending then.
    static int WaitForPending(int count)
    {
        for (int i = 0; i < 1000 && Win32::PendingReadCount() < count; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return Win32::PendingReadCount();
    }
};

}  // namespace TarnTest
