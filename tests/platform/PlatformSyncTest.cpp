// Events, semaphores, waits, critical sections, interlocked operations, thread identity and
// the per-thread last error.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "PlatformTestSupport.h"
#include "platform/Win32.h"

using namespace PlatformTest;
using namespace std::chrono_literals;

namespace {

// Polls until `condition` holds or a generous time has passed.
// Holds threads back until all of them have started, so that they really contend.
class StartingGate {
public:
    explicit StartingGate(int threads) : mWaiting(threads) {}
    void Arrive()
    {
        --mWaiting;
        while (mWaiting.load() > 0) std::this_thread::yield();
    }

private:
    std::atomic<int> mWaiting;
};

template <typename Condition>
bool Eventually(Condition condition)
{
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

}  // namespace

TEST(PlatformEvents, ManualResetEventStaysSignalledUntilReset)
{
    ScopedHandle event(Win32::CreateEventA(nullptr, Win32::TRUE, Win32::FALSE, nullptr));
    ASSERT_NE(event.get(), nullptr);
    EXPECT_EQ(Win32::WaitForSingleObject(event.get(), 0), Win32::WAIT_TIMEOUT);
    EXPECT_TRUE(Win32::SetEvent(event.get()));
    EXPECT_EQ(Win32::WaitForSingleObject(event.get(), 0), Win32::WAIT_OBJECT_0);
    EXPECT_EQ(Win32::WaitForSingleObject(event.get(), 10), Win32::WAIT_OBJECT_0);
    EXPECT_EQ(Win32::WaitForSingleObject(event.get(), Win32::INFINITE), Win32::WAIT_OBJECT_0);
    EXPECT_TRUE(Win32::ResetEvent(event.get()));
    EXPECT_EQ(Win32::WaitForSingleObject(event.get(), 0), Win32::WAIT_TIMEOUT);
}

TEST(PlatformEvents, InitialStateDecidesTheFirstWait)
{
    ScopedHandle manual(Win32::CreateEventA(nullptr, Win32::TRUE, Win32::TRUE, nullptr));
    EXPECT_EQ(Win32::WaitForSingleObject(manual.get(), 0), Win32::WAIT_OBJECT_0);
    EXPECT_EQ(Win32::WaitForSingleObject(manual.get(), 0), Win32::WAIT_OBJECT_0);
    ScopedHandle automatic(Win32::CreateEventA(nullptr, Win32::FALSE, Win32::TRUE, nullptr));
    EXPECT_EQ(Win32::WaitForSingleObject(automatic.get(), 0), Win32::WAIT_OBJECT_0);
    EXPECT_EQ(Win32::WaitForSingleObject(automatic.get(), 0), Win32::WAIT_TIMEOUT);
    ScopedHandle unsignalled(Win32::CreateEventA(nullptr, Win32::FALSE, Win32::FALSE, nullptr));
    EXPECT_EQ(Win32::WaitForSingleObject(unsignalled.get(), 0), Win32::WAIT_TIMEOUT);
}

TEST(PlatformEvents, AutoResetEventSatisfiesOneWaitPerSignal)
{
    ScopedHandle event(Win32::CreateEventA(nullptr, Win32::FALSE, Win32::FALSE, nullptr));
    EXPECT_TRUE(Win32::SetEvent(event.get()));
    EXPECT_TRUE(Win32::SetEvent(event.get()));  // signals do not add up
    EXPECT_EQ(Win32::WaitForSingleObject(event.get(), 0), Win32::WAIT_OBJECT_0);
    EXPECT_EQ(Win32::WaitForSingleObject(event.get(), 0), Win32::WAIT_TIMEOUT);
    EXPECT_TRUE(Win32::SetEvent(event.get()));
    EXPECT_TRUE(Win32::ResetEvent(event.get()));
    EXPECT_EQ(Win32::WaitForSingleObject(event.get(), 0), Win32::WAIT_TIMEOUT);
}

TEST(PlatformEvents, AutoResetEventReleasesOneWaiterPerSignal)
{
    ScopedHandle event(Win32::CreateEventA(nullptr, Win32::FALSE, Win32::FALSE, nullptr));
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            if (Win32::WaitForSingleObject(event.get(), Win32::INFINITE) == Win32::WAIT_OBJECT_0) ++woken;
        });
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(woken.load(), 0);
    for (int signal = 1; signal <= 3; ++signal) {
        Win32::SetEvent(event.get());
        EXPECT_TRUE(Eventually([&] { return woken.load() >= signal; }));
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(woken.load(), signal);
    }
    for (std::thread& waiter : waiters) waiter.join();
    EXPECT_EQ(Win32::WaitForSingleObject(event.get(), 0), Win32::WAIT_TIMEOUT);
}

TEST(PlatformEvents, ManualResetEventReleasesEveryWaiter)
{
    ScopedHandle event(Win32::CreateEventA(nullptr, Win32::TRUE, Win32::FALSE, nullptr));
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            if (Win32::WaitForSingleObject(event.get(), Win32::INFINITE) == Win32::WAIT_OBJECT_0) ++woken;
        });
    std::this_thread::sleep_for(10ms);
    Win32::SetEvent(event.get());
    for (std::thread& waiter : waiters) waiter.join();
    EXPECT_EQ(woken.load(), 4);
}

TEST(PlatformEvents, FiniteWaitOnAnUnsignalledEventTimesOutAfterItsLimit)
{
    ScopedHandle event(Win32::CreateEventA(nullptr, Win32::TRUE, Win32::FALSE, nullptr));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Win32::WaitForSingleObject(event.get(), 40), Win32::WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 35ms);
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(Win32::WaitForSingleObjectEx(event.get(), 40, Win32::TRUE), Win32::WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 35ms);
}

TEST(PlatformEvents, WaitEndsWhenAnotherThreadSignals)
{
    for (Win32::DWORD limit : {Win32::INFINITE, Win32::DWORD{60000}}) {
        for (Win32::BOOL alertable : {Win32::FALSE, Win32::TRUE}) {
            ScopedHandle event(Win32::CreateEventA(nullptr, Win32::FALSE, Win32::FALSE, nullptr));
            std::thread setter([&] {
                std::this_thread::sleep_for(20ms);
                Win32::SetEvent(event.get());
            });
            auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(Win32::WaitForSingleObjectEx(event.get(), limit, alertable), Win32::WAIT_OBJECT_0);
            EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
            setter.join();
            EXPECT_EQ(Win32::WaitForSingleObject(event.get(), 0), Win32::WAIT_TIMEOUT);  // the wait took the signal
        }
    }
}

TEST(PlatformEvents, CallsOnInvalidHandlesFail)
{
    ScopedHandle semaphore(Win32::CreateSemaphoreA(nullptr, 1, 1, nullptr));
    for (Win32::HANDLE bad : {static_cast<Win32::HANDLE>(nullptr), Win32::INVALID_HANDLE_VALUE}) {
        Win32::SetLastError(0);
        EXPECT_EQ(Win32::WaitForSingleObject(bad, 0), Win32::WAIT_FAILED);
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorInvalidHandle);
        EXPECT_EQ(Win32::WaitForSingleObjectEx(bad, 0, Win32::TRUE), Win32::WAIT_FAILED);
        Win32::SetLastError(0);
        EXPECT_FALSE(Win32::SetEvent(bad));
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorInvalidHandle);
        EXPECT_FALSE(Win32::ResetEvent(bad));
        EXPECT_FALSE(Win32::ReleaseSemaphore(bad, 1, nullptr));
    }
    // A handle of the wrong kind is refused and left as it was.
    Win32::SetLastError(0);
    EXPECT_FALSE(Win32::SetEvent(semaphore.get()));
    EXPECT_EQ(Win32::GetLastError(), Win32::kErrorInvalidHandle);
    EXPECT_EQ(Win32::WaitForSingleObject(semaphore.get(), 0), Win32::WAIT_OBJECT_0);
}

TEST(PlatformSemaphores, InitialCountSatisfiesThatManyWaits)
{
    ScopedHandle semaphore(Win32::CreateSemaphoreA(nullptr, 2, 3, nullptr));
    ASSERT_NE(semaphore.get(), nullptr);
    EXPECT_EQ(Win32::WaitForSingleObject(semaphore.get(), 0), Win32::WAIT_OBJECT_0);
    EXPECT_EQ(Win32::WaitForSingleObjectEx(semaphore.get(), 0, Win32::TRUE), Win32::WAIT_OBJECT_0);
    EXPECT_EQ(Win32::WaitForSingleObject(semaphore.get(), 0), Win32::WAIT_TIMEOUT);
    EXPECT_EQ(Win32::WaitForSingleObject(semaphore.get(), 20), Win32::WAIT_TIMEOUT);
}

TEST(PlatformSemaphores, ReleaseReportsThePreviousCountAndRaisesIt)
{
    ScopedHandle semaphore(Win32::CreateSemaphoreA(nullptr, 0, 3, nullptr));
    Win32::LONG previous = -1;
    EXPECT_TRUE(Win32::ReleaseSemaphore(semaphore.get(), 2, &previous));
    EXPECT_EQ(previous, 0);
    EXPECT_TRUE(Win32::ReleaseSemaphore(semaphore.get(), 1, &previous));
    EXPECT_EQ(previous, 2);
    EXPECT_FALSE(Win32::ReleaseSemaphore(semaphore.get(), 0, &previous));
    EXPECT_FALSE(Win32::ReleaseSemaphore(semaphore.get(), -1, &previous));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Win32::WaitForSingleObject(semaphore.get(), 0), Win32::WAIT_OBJECT_0) << i;
    EXPECT_EQ(Win32::WaitForSingleObject(semaphore.get(), 0), Win32::WAIT_TIMEOUT);
}

TEST(PlatformSemaphores, ReleaseBeyondTheMaximumFailsAndChangesNothing)
{
    ScopedHandle semaphore(Win32::CreateSemaphoreA(nullptr, 1, 2, nullptr));
    Win32::LONG previous = -1;
    Win32::SetLastError(0);
    EXPECT_FALSE(Win32::ReleaseSemaphore(semaphore.get(), 2, &previous));
    EXPECT_EQ(Win32::GetLastError(), 298u);  // ERROR_TOO_MANY_POSTS
    EXPECT_EQ(previous, -1);
    EXPECT_TRUE(Win32::ReleaseSemaphore(semaphore.get(), 1, &previous));
    EXPECT_EQ(previous, 1);
    EXPECT_FALSE(Win32::ReleaseSemaphore(semaphore.get(), 1, nullptr));
    EXPECT_EQ(Win32::WaitForSingleObject(semaphore.get(), 0), Win32::WAIT_OBJECT_0);
    EXPECT_EQ(Win32::WaitForSingleObject(semaphore.get(), 0), Win32::WAIT_OBJECT_0);
    EXPECT_EQ(Win32::WaitForSingleObject(semaphore.get(), 0), Win32::WAIT_TIMEOUT);
}

TEST(PlatformSemaphores, CreateRefusesInconsistentCounts)
{
    struct Counts {
        Win32::LONG initial;
        Win32::LONG maximum;
    };
    for (Counts c : {Counts{3, 2}, Counts{0, 0}, Counts{-1, 1}, Counts{0, -1}}) {
        Win32::SetLastError(0);
        EXPECT_EQ(Win32::CreateSemaphoreA(nullptr, c.initial, c.maximum, nullptr), nullptr) << c.initial << "/" << c.maximum;
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorInvalidParameter);
    }
}

TEST(PlatformSemaphores, AWaiterBlockedAtZeroIsReleased)
{
    ScopedHandle semaphore(Win32::CreateSemaphoreA(nullptr, 0, 1, nullptr));
    std::atomic<bool> through{false};
    std::thread waiter([&] {
        if (Win32::WaitForSingleObjectEx(semaphore.get(), Win32::INFINITE, Win32::TRUE) == Win32::WAIT_OBJECT_0) through = true;
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(through.load());
    EXPECT_TRUE(Win32::ReleaseSemaphore(semaphore.get(), 1, nullptr));
    waiter.join();
    EXPECT_TRUE(through.load());
    EXPECT_EQ(Win32::WaitForSingleObject(semaphore.get(), 0), Win32::WAIT_TIMEOUT);
}

TEST(PlatformSemaphores, CountBoundsTheHoldersAcrossThreads)
{
    constexpr Win32::LONG kTokens = 2;
    ScopedHandle semaphore(Win32::CreateSemaphoreA(nullptr, kTokens, kTokens, nullptr));
    std::atomic<int> holders{0};
    std::atomic<int> most{0};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                if (Win32::WaitForSingleObject(semaphore.get(), Win32::INFINITE) != Win32::WAIT_OBJECT_0) {
                    ++failures;
                    continue;
                }
                int now = ++holders;
                int seen = most.load();
                while (now > seen && !most.compare_exchange_weak(seen, now)) {}
                std::this_thread::yield();
                --holders;
                if (!Win32::ReleaseSemaphore(semaphore.get(), 1, nullptr)) ++failures;
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_LE(most.load(), kTokens);
    for (int i = 0; i < kTokens; ++i) EXPECT_EQ(Win32::WaitForSingleObject(semaphore.get(), 0), Win32::WAIT_OBJECT_0);
    EXPECT_EQ(Win32::WaitForSingleObject(semaphore.get(), 0), Win32::WAIT_TIMEOUT);
}

TEST(PlatformThreads, ThreadIdIsStableAndDiffersBetweenThreads)
{
    const Win32::DWORD self = Win32::GetCurrentThreadId();
    EXPECT_NE(self, 0u);
    EXPECT_EQ(Win32::GetCurrentThreadId(), self);
    std::vector<Win32::DWORD> ids(4);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < ids.size(); ++i)
        threads.emplace_back([&ids, i] {
            ids[i] = Win32::GetCurrentThreadId();
            if (Win32::GetCurrentThreadId() != ids[i]) ids[i] = 0;
            std::this_thread::sleep_for(10ms);  // alive together, so no id is reused
        });
    for (std::thread& thread : threads) thread.join();
    std::set<Win32::DWORD> distinct(ids.begin(), ids.end());
    distinct.insert(self);
    EXPECT_EQ(distinct.size(), ids.size() + 1);
    EXPECT_EQ(distinct.count(0u), 0u);
}

TEST(PlatformThreads, LastErrorBelongsToItsThread)
{
    Win32::SetLastError(Win32::kErrorAccessDenied);
    Win32::DWORD seenByOther = 99;
    std::thread other([&] {
        seenByOther = Win32::GetLastError();
        Win32::SetLastError(Win32::kErrorFileNotFound);
    });
    other.join();
    EXPECT_EQ(seenByOther, 0u);
    EXPECT_EQ(Win32::GetLastError(), Win32::kErrorAccessDenied);
}

TEST(PlatformThreads, CriticalSectionIsReentrantAndHeldUntilTheLastLeave)
{
    Win32::CRITICAL_SECTION section;
    Win32::InitializeCriticalSection(&section);
    Win32::EnterCriticalSection(&section);
    Win32::EnterCriticalSection(&section);
    std::atomic<bool> entered{false};
    std::thread other([&] {
        Win32::EnterCriticalSection(&section);
        entered = true;
        Win32::LeaveCriticalSection(&section);
    });
    Win32::LeaveCriticalSection(&section);
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(entered.load());
    Win32::LeaveCriticalSection(&section);
    other.join();
    EXPECT_TRUE(entered.load());
    Win32::DeleteCriticalSection(&section);
}

TEST(PlatformThreads, CriticalSectionExcludesOtherThreads)
{
    Win32::CRITICAL_SECTION section;
    Win32::InitializeCriticalSection(&section);
    long counter = 0;
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::vector<std::thread> threads;
    StartingGate gate(4);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            gate.Arrive();
            for (int i = 0; i < 20000; ++i) {
                Win32::EnterCriticalSection(&section);
                if (++inside != 1) ++overlaps;
                counter = counter + 1;
                --inside;
                Win32::LeaveCriticalSection(&section);
            }
        });
    for (std::thread& thread : threads) thread.join();
    Win32::DeleteCriticalSection(&section);
    EXPECT_EQ(counter, 80000);
    EXPECT_EQ(overlaps.load(), 0);
}

TEST(PlatformThreads, InterlockedIncrementAndDecrementAreAtomicAndReturnTheNewValue)
{
    constexpr int kThreads = 4;
    constexpr int kEach = 50000;
    volatile Win32::LONG value = 0;
    std::vector<std::vector<Win32::LONG>> returned(kThreads);
    std::vector<std::thread> threads;
    StartingGate gate(kThreads);
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            returned[t].reserve(kEach);
            gate.Arrive();
            for (int i = 0; i < kEach; ++i) returned[t].push_back(Win32::InterlockedIncrement(&value));
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(value, kThreads * kEach);
    // Every value from 1 to the total was handed to exactly one caller.
    std::vector<int> seen(kThreads * kEach + 1, 0);
    for (const auto& values : returned)
        for (Win32::LONG v : values)
            if (v >= 1 && v <= kThreads * kEach) ++seen[static_cast<std::size_t>(v)];
    EXPECT_EQ(std::count(seen.begin() + 1, seen.end(), 1), kThreads * kEach);

    threads.clear();
    StartingGate secondGate(kThreads);
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            secondGate.Arrive();
            for (int i = 0; i < kEach; ++i) Win32::InterlockedDecrement(&value);
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(value, 0);
    EXPECT_EQ(Win32::InterlockedDecrement(&value), -1);
}

TEST(PlatformThreads, InterlockedExchangesReturnTheValueFound)
{
    volatile Win32::LONG value = 3;
    EXPECT_EQ(Win32::InterlockedExchange(&value, 5), 3);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(Win32::InterlockedCompareExchange(&value, 9, 4), 5);  // no match: unchanged
    EXPECT_EQ(value, 5);
    EXPECT_EQ(Win32::InterlockedCompareExchange(&value, 9, 5), 5);
    EXPECT_EQ(value, 9);
    EXPECT_EQ(Win32::InterlockedCompareExchange(&value, 0, 0), 9);  // a plain read
    EXPECT_EQ(value, 9);

    // A compare-exchange loop from several threads loses no update.
    value = 0;
    std::vector<std::thread> threads;
    StartingGate gate(4);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            gate.Arrive();
            for (int i = 0; i < 20000; ++i) {
                Win32::LONG seen = Win32::InterlockedCompareExchange(&value, 0, 0);
                Win32::LONG found;
                while ((found = Win32::InterlockedCompareExchange(&value, seen + 3, seen)) != seen) seen = found;
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(value, 4 * 20000 * 3);
}
