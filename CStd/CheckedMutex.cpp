#include "CStd/CheckedMutex.h"

#include "CStd/Report.h"

namespace Tarn {

CheckedMutex::CheckedMutex(bool recursive) : mRecursive(recursive) { Win32::InitializeCriticalSection(&mSection); }

CheckedMutex::~CheckedMutex() { Win32::DeleteCriticalSection(&mSection); }

void CheckedMutex::Lock()
{
    if (!mRecursive) {
        const auto self = static_cast<Win32::LONG>(Win32::GetCurrentThreadId());
        if (Win32::InterlockedCompareExchange(&mOwner, 0, 0) == self)
            ReportAssertion("mOwner != GetCurrentThreadId()", "A non-recursive CheckedMutex was locked twice by its owner.",
                            "CheckedMutex", 21, "Tarn::CheckedMutex::Lock");
        Win32::EnterCriticalSection(&mSection);
        Win32::InterlockedExchange(&mOwner, self);
        return;
    }
    Win32::EnterCriticalSection(&mSection);
}

void CheckedMutex::Unlock()
{
    if (!mRecursive) {
        const auto self = static_cast<Win32::LONG>(Win32::GetCurrentThreadId());
        if (Win32::InterlockedCompareExchange(&mOwner, 0, 0) != self)
            ReportAssertion("mOwner == GetCurrentThreadId()", "A CheckedMutex was unlocked by a thread that does not own it.",
                            "CheckedMutex", 35, "Tarn::CheckedMutex::Unlock");
        Win32::InterlockedExchange(&mOwner, 0);
    }
    Win32::LeaveCriticalSection(&mSection);
}

}  // namespace Tarn
