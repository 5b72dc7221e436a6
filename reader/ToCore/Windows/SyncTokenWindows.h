// The pool of four sync tokens: their events and OVERLAPPED records, a counting semaphore
// whose count equals the number of free tokens, and a lock over picking and freeing tokens.
// One instance exists for the whole process, constructed before any export can run.
#pragma once

#include "CStd/CheckedMutex.h"
#include "reader/ToCore/Windows/SyncToken.h"

namespace Tarn::VELL::Reader {

class SyncTokenPool {
public:
    static constexpr int kTokenCount = 4;

    SyncTokenPool();
    ~SyncTokenPool();
    SyncTokenPool(const SyncTokenPool&) = delete;
    SyncTokenPool& operator=(const SyncTokenPool&) = delete;

    static SyncTokenPool& Instance();

    // Waits for a free token and prepares it; null when the wait fails.
    SyncToken* Acquire();
    // Finishes the token's read if needed and frees it; a pointer that is not one of the
    // pool's tokens is ignored.
    void Release(SyncToken* token);

    // The number of tokens not in use (for tests).
    int FreeCount();

private:
    SyncToken mTokens[kTokenCount];
    Win32::OVERLAPPED mOverlapped[kTokenCount];
    Win32::HANDLE mEvents[kTokenCount];
    bool mInUse[kTokenCount];
    CheckedMutex mLock{false};
    Win32::HANDLE mSemaphore;
};

}  // namespace Tarn::VELL::Reader
