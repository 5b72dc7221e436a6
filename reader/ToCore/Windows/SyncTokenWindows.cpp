#include "reader/ToCore/Windows/SyncTokenWindows.h"

#include "CStd/Report.h"
#include "logger/Log.h"

namespace Tarn::VELL::Reader {

namespace {
// Lives from load to unload, before and after any export can run.
SyncTokenPool gPool;
}  // namespace

SyncTokenPool& SyncTokenPool::Instance() { return gPool; }

SyncTokenPool::SyncTokenPool()
{
    for (int i = 0; i < kTokenCount; ++i) {
        mEvents[i] = Win32::CreateEventA(nullptr, Win32::TRUE, Win32::FALSE, nullptr);
        mOverlapped[i] = {};
        mInUse[i] = false;
        mTokens[i] = {nullptr, &mOverlapped[i], 0, 0, {}};
    }
    mSemaphore = Win32::CreateSemaphoreA(nullptr, kTokenCount, kTokenCount, nullptr);
}

SyncTokenPool::~SyncTokenPool()
{
    for (Win32::HANDLE event : mEvents) Win32::CloseHandle(event);
    Win32::CloseHandle(mSemaphore);
}

SyncToken* SyncTokenPool::Acquire()
{
    if (Win32::WaitForSingleObject(mSemaphore, Win32::INFINITE) != Win32::WAIT_OBJECT_0) {
        Logger::LogErrorTagOnly("%s: failed to wait on a sync token.", "Tarn::VELL::Reader::SyncTokenPool::Acquire");
        return nullptr;
    }
    mLock.Lock();
    for (int i = 0; i < kTokenCount; ++i) {
        if (mInUse[i]) continue;
        mInUse[i] = true;
        Win32::ResetEvent(mEvents[i]);
        mOverlapped[i] = {};
        mOverlapped[i].hEvent = mEvents[i];
        SyncToken& token = mTokens[i];
        token.pendingFile = nullptr;
        token.errorCode = 0;
        token.bytesTransferred = 0;
        token.errorText[0] = '\0';
        mLock.Unlock();
        return &token;
    }
    mLock.Unlock();
    ReportAssertion("!\"Desync between semaphore state and available sync tokens!\"", "", "SyncTokenWindows", 60,
                    "Tarn::VELL::Reader::SyncTokenPool::Acquire");
}

void SyncTokenPool::Release(SyncToken* token)
{
    const int i = static_cast<int>(token - mTokens);
    if (token == nullptr || i < 0 || i >= kTokenCount) return;
    ScopedLock lock(mLock);
    if (!mInUse[i]) return;
    token->Wait();
    mInUse[i] = false;
    Win32::ReleaseSemaphore(mSemaphore, 1, nullptr);
}

int SyncTokenPool::FreeCount()
{
    ScopedLock lock(mLock);
    int free = 0;
    for (bool used : mInUse) free += used ? 0 : 1;
    return free;
}

}  // namespace Tarn::VELL::Reader
