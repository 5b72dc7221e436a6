// Handles, events, semaphores, waits, critical sections, atomics and thread identity.
#include <chrono>
#include <mutex>
#include <unordered_set>
#include <sys/syscall.h>
#include <unistd.h>

#include "PosixInternal.h"

namespace Win32 {
namespace Posix {

namespace {

std::mutex& RegistryMutex()
{
    static std::mutex m;
    return m;
}

std::unordered_set<KernelObject*>& Registry()
{
    static auto* live = new std::unordered_set<KernelObject*>();  // outlives every static user
    return *live;
}

// Waits on a condition with a Win32 time limit; true when `ready` became true.
template <typename Lock, typename Ready>
bool WaitFor(std::condition_variable& cv, Lock& lock, DWORD milliseconds, Ready ready)
{
    if (milliseconds == INFINITE) {
        cv.wait(lock, ready);
        return true;
    }
    return cv.wait_for(lock, std::chrono::milliseconds(milliseconds), ready);
}

}  // namespace

HANDLE RegisterObject(KernelObject* object)
{
    std::lock_guard<std::mutex> guard(RegistryMutex());
    Registry().insert(object);
    return object;
}

KernelObject* LookupObject(HANDLE handle, ObjectKind kind)
{
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        SetLastError(kErrorInvalidHandle);
        return nullptr;
    }
    auto* object = static_cast<KernelObject*>(handle);
    if (object->kind != kind) {
        SetLastError(kErrorInvalidHandle);
        return nullptr;
    }
    return object;
}

KernelObject* UnregisterObject(HANDLE handle, const ObjectKind* kind)
{
    std::lock_guard<std::mutex> guard(RegistryMutex());
    auto it = Registry().find(static_cast<KernelObject*>(handle));
    if (it == Registry().end() || (kind != nullptr && (*it)->kind != *kind)) {
        SetLastError(kErrorInvalidHandle);
        return nullptr;
    }
    KernelObject* object = *it;
    Registry().erase(it);
    return object;
}

BOOL CloseHandleImpl(HANDLE handle)
{
    KernelObject* object = UnregisterObject(handle);
    delete object;
    return object != nullptr;
}

HANDLE CreateEventImpl(void*, BOOL manualReset, BOOL initialState, LPCSTR)
{
    auto* event = new (std::nothrow) EventObject(manualReset != FALSE, initialState != FALSE);
    if (event == nullptr) {
        SetLastError(kErrorNotEnoughMemory);
        return nullptr;
    }
    return RegisterObject(event);
}

BOOL SetEventImpl(HANDLE handle)
{
    auto* event = static_cast<EventObject*>(LookupObject(handle, ObjectKind::Event));
    if (event == nullptr) return FALSE;
    // Notified under the lock: a waiter woken by this may close the event as soon as it runs.
    std::lock_guard<std::mutex> guard(event->mutex);
    event->signalled = true;
    event->changed.notify_all();
    return TRUE;
}

BOOL ResetEventImpl(HANDLE handle)
{
    auto* event = static_cast<EventObject*>(LookupObject(handle, ObjectKind::Event));
    if (event == nullptr) return FALSE;
    std::lock_guard<std::mutex> guard(event->mutex);
    event->signalled = false;
    return TRUE;
}

HANDLE CreateSemaphoreImpl(void*, LONG initialCount, LONG maximumCount, LPCSTR)
{
    if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount) {
        SetLastError(kErrorInvalidParameter);
        return nullptr;
    }
    auto* semaphore = new (std::nothrow) SemaphoreObject(initialCount, maximumCount);
    if (semaphore == nullptr) {
        SetLastError(kErrorNotEnoughMemory);
        return nullptr;
    }
    return RegisterObject(semaphore);
}

BOOL ReleaseSemaphoreImpl(HANDLE handle, LONG releaseCount, LONG* previousCount)
{
    auto* semaphore = static_cast<SemaphoreObject*>(LookupObject(handle, ObjectKind::Semaphore));
    if (semaphore == nullptr) return FALSE;
    {
        std::lock_guard<std::mutex> guard(semaphore->mutex);
        if (releaseCount <= 0 || releaseCount > semaphore->maximumCount - semaphore->count) {
            SetLastError(298);  // ERROR_TOO_MANY_POSTS
            return FALSE;
        }
        if (previousCount) *previousCount = semaphore->count;
        semaphore->count += releaseCount;
        semaphore->changed.notify_all();  // under the lock, as SetEvent
    }
    return TRUE;
}

DWORD WaitForSingleObjectImpl(HANDLE handle, DWORD milliseconds)
{
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        SetLastError(kErrorInvalidHandle);
        return WAIT_FAILED;
    }
    auto* object = static_cast<KernelObject*>(handle);
    if (object->kind == ObjectKind::Event) {
        auto* event = static_cast<EventObject*>(object);
        std::unique_lock<std::mutex> lock(event->mutex);
        if (!WaitFor(event->changed, lock, milliseconds, [event] { return event->signalled; })) return WAIT_TIMEOUT;
        if (!event->manualReset) event->signalled = false;
        return WAIT_OBJECT_0;
    }
    if (object->kind == ObjectKind::Semaphore) {
        auto* semaphore = static_cast<SemaphoreObject*>(object);
        std::unique_lock<std::mutex> lock(semaphore->mutex);
        if (!WaitFor(semaphore->changed, lock, milliseconds, [semaphore] { return semaphore->count > 0; })) return WAIT_TIMEOUT;
        --semaphore->count;
        return WAIT_OBJECT_0;
    }
    SetLastError(kErrorInvalidHandle);
    return WAIT_FAILED;
}

// Nothing is ever queued to a thread here, so an alertable wait is a plain wait.
DWORD WaitForSingleObjectExImpl(HANDLE handle, DWORD milliseconds, BOOL)
{
    return WaitForSingleObjectImpl(handle, milliseconds);
}

}  // namespace Posix

DWORD GetCurrentThreadId()
{
    thread_local DWORD id = static_cast<DWORD>(::syscall(SYS_gettid));
    return id;
}

HANDLE GetCurrentProcess() { return INVALID_HANDLE_VALUE; }  // the pseudo handle, as on Windows

LONG InterlockedExchange(volatile LONG* target, LONG value) { return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST); }
LONG InterlockedIncrement(volatile LONG* target) { return __atomic_add_fetch(target, 1, __ATOMIC_SEQ_CST); }
LONG InterlockedDecrement(volatile LONG* target) { return __atomic_sub_fetch(target, 1, __ATOMIC_SEQ_CST); }
LONG InterlockedCompareExchange(volatile LONG* target, LONG exchange, LONG comparand)
{
    __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;  // the value found
}

void InitializeCriticalSection(CRITICAL_SECTION* section) { section->impl = new std::recursive_mutex(); }
void DeleteCriticalSection(CRITICAL_SECTION* section)
{
    delete static_cast<std::recursive_mutex*>(section->impl);
    section->impl = nullptr;
}
void EnterCriticalSection(CRITICAL_SECTION* section) { static_cast<std::recursive_mutex*>(section->impl)->lock(); }
void LeaveCriticalSection(CRITICAL_SECTION* section) { static_cast<std::recursive_mutex*>(section->impl)->unlock(); }

}  // namespace Win32
