// What the platform layer does when threads meet: events, semaphores, waits, critical
// sections, interlocked operations, thread identity, the per-thread last error, one file
// handle read by many threads at once, and reads that complete later on another thread.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <optional>
#include <random>
#include <set>
#include <thread>
#include <tuple>

#include "PlatformTestSupport.h"
#include "support/PlatformFaults.h"

using namespace PlatformTest;
using namespace std::chrono_literals;

namespace {

ScopedHandle Semaphore(Win32::LONG initial, Win32::LONG maximum)
{
    return ScopedHandle(Win32::CreateSemaphoreA(nullptr, initial, maximum, nullptr));
}

// Plays calls on an event or semaphore without blocking: 's' SetEvent, 'r' ResetEvent, a
// digit ReleaseSemaphore by that many, 'w' and 'a' (alertable) waits of no time. For each
// call: 'o' signalled, 't' timed out, '+' succeeded, or the last error of a failure.
std::string Play(Win32::HANDLE object, const std::string& calls)
{
    std::string out;
    for (char c : calls) {
        Win32::SetLastError(0);
        const bool wait = c == 'w' || c == 'a';
        const Win32::DWORD r = c == 'w' ? Win32::WaitForSingleObject(object, 0) : c == 'a' ? Win32::WaitForSingleObjectEx(object, 0, Win32::TRUE)
                               : c == 's' ? Win32::SetEvent(object) : c == 'r' ? Win32::ResetEvent(object)
                                          : Win32::ReleaseSemaphore(object, c - '0', nullptr);
        out += wait && r == Win32::WAIT_OBJECT_0 ? "o" : wait && r == Win32::WAIT_TIMEOUT ? "t" : !wait && r ? "+"
               : "(" + std::to_string(Win32::GetLastError()) + ")";
    }
    return out;
}

// Runs body(index) on that many threads, held back until all have started so that they contend.
template <typename Body>
void OnThreads(int count, Body body)
{
    std::atomic<int> waiting{count};
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t)
        threads.emplace_back([&, t] {
            for (--waiting; waiting.load() > 0;) std::this_thread::yield();
            body(t);
        });
    for (std::thread& thread : threads) thread.join();
}

}  // namespace

TEST(PlatformEvents, EventsAndSemaphoresAnswerWaitsAsWindowsDoes)
{
    EXPECT_EQ(Play(Event(true).get(), "wswarw"), "t+oo+t");  // manual: signalled until reset
    EXPECT_EQ(Play(Event(true, true).get(), "ww"), "oo");
    EXPECT_EQ(Play(Event(false, true).get(), "aw"), "ot");  // automatic: one wait per signal
    EXPECT_EQ(Play(Event(false).get(), "wsswwsrw"), "t++ot++t");  // signals do not add up
    EXPECT_EQ(Play(Semaphore(2, 3).get(), "waw"), "oot");
    EXPECT_EQ(Play(Semaphore(0, 3).get(), "21wwaw"), "++ooot");
    EXPECT_EQ(Play(Semaphore(1, 2).get(), "211www"), "(298)+(298)oot");  // ERROR_TOO_MANY_POSTS
    EXPECT_EQ(Play(Semaphore(1, 1).get(), "srw"), "(6)(6)o");  // a handle of the wrong kind is refused and left as it was
    EXPECT_EQ(Play(Event(true, true).get(), "1w"), "(6)o");
    EXPECT_EQ(Play(nullptr, "srwa1"), "(6)(6)(6)(6)(6)");
    EXPECT_EQ(Play(Win32::INVALID_HANDLE_VALUE, "sr1"), "(6)(6)(6)");
    // Windows takes INVALID_HANDLE_VALUE for the current process, which a wait may wait for.
    if (TarnTest::kPosixLayer) {
        EXPECT_EQ(Play(Win32::INVALID_HANDLE_VALUE, "wa"), "(6)(6)");
    }
    ScopedHandle semaphore = Semaphore(1, 3);
    Win32::LONG previous = -1;
    EXPECT_TRUE(Win32::ReleaseSemaphore(semaphore.get(), 1, &previous));
    EXPECT_EQ(previous, 1);
    EXPECT_TRUE(Win32::ReleaseSemaphore(semaphore.get(), 1, &previous));
    EXPECT_EQ(previous, 2);
    previous = -1;
    // Windows refuses a count of 0 as well; Wine takes it, and the library never gives it.
    for (Win32::LONG count : {1, -1}) EXPECT_FALSE(Win32::ReleaseSemaphore(semaphore.get(), count, &previous)) << count;
    if (TarnTest::kPosixLayer) {
        EXPECT_FALSE(Win32::ReleaseSemaphore(semaphore.get(), 0, &previous));
    }
    EXPECT_EQ(previous, -1);
    for (auto [initial, maximum] : std::initializer_list<std::pair<int, int>>{{3, 2}, {0, 0}, {-1, 1}, {0, -1}}) {
        Win32::SetLastError(0);
        EXPECT_EQ(Win32::CreateSemaphoreA(nullptr, initial, maximum, nullptr), nullptr) << initial << "/" << maximum;
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorInvalidParameter);
    }
}

TEST(PlatformEvents, FiniteWaitsTimeOutAfterTheirLimit)
{
    ScopedHandle event = Event(true), semaphore = Semaphore(0, 1);
    for (Win32::HANDLE object : {event.get(), semaphore.get()})
        for (Win32::BOOL alertable : {Win32::FALSE, Win32::TRUE}) {
            auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(Win32::WaitForSingleObjectEx(object, 40, alertable), Win32::WAIT_TIMEOUT);
            EXPECT_GE(std::chrono::steady_clock::now() - start, 35ms);
        }
}

// An automatic event or a semaphore releases one waiter per signal, a manual event every
// waiter; waits of every kind end when another thread signals.
TEST(PlatformEvents, SignalsFromAnotherThreadReleaseOneWaiterOrAll)
{
    for (int kind : {0, 1, 2}) {  // automatic, manual, semaphore
        ScopedHandle object = kind == 2 ? Semaphore(0, 3) : Event(kind == 1);
        std::atomic<int> woken{0};
        std::vector<std::thread> waiters;
        for (Win32::DWORD limit : {Win32::INFINITE, Win32::DWORD{60000}})
            for (Win32::BOOL alertable : {Win32::FALSE, Win32::TRUE})
                waiters.emplace_back([&, limit, alertable] {
                    if (Win32::WaitForSingleObjectEx(object.get(), limit, alertable) == Win32::WAIT_OBJECT_0) ++woken;
                });
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(woken.load(), 0);
        for (int signals = 1; signals <= (kind == 1 ? 1 : 4); ++signals) {
            EXPECT_TRUE(kind == 2 ? Win32::ReleaseSemaphore(object.get(), 1, nullptr) : Win32::SetEvent(object.get()));
            const int expected = kind == 1 ? 4 : signals;
            for (auto deadline = std::chrono::steady_clock::now() + 10s; woken < expected && std::chrono::steady_clock::now() < deadline;)
                std::this_thread::sleep_for(1ms);
            std::this_thread::sleep_for(20ms);
            EXPECT_EQ(woken.load(), expected) << "kind " << kind;
        }
        for (std::thread& waiter : waiters) waiter.join();
        EXPECT_EQ(Play(object.get(), "w"), kind == 1 ? "o" : "t");
    }
}

TEST(PlatformSemaphores, CountBoundsTheHoldersAcrossThreads)
{
    ScopedHandle semaphore = Semaphore(2, 2);
    std::atomic<int> holders{0}, most{0}, failures{0};
    OnThreads(6, [&](int) {
        for (int i = 0; i < 300; ++i) {
            failures += Win32::WaitForSingleObject(semaphore.get(), Win32::INFINITE) != Win32::WAIT_OBJECT_0;
            for (int now = ++holders, seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) {}
            std::this_thread::yield();
            --holders;
            failures += !Win32::ReleaseSemaphore(semaphore.get(), 1, nullptr);
        }
    });
    EXPECT_EQ(failures.load(), 0);
    EXPECT_LE(most.load(), 2);
    EXPECT_EQ(Play(semaphore.get(), "www"), "oot");
}

// Each thread starts with a last error of 0 and keeps its own. (On Windows any call that
// succeeds may change the last error, so nothing but the checks runs between setting it and
// reading it.)
TEST(PlatformThreads, ThreadIdsDifferAndTheLastErrorBelongsToItsThread)
{
    std::vector<Win32::DWORD> ids(4), errors(4, 99);
    std::atomic<int> started{0}, done{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {  // alive together, so no id is reused
            ++started;
            while (!go.load()) std::this_thread::yield();
            errors[t] = Win32::GetLastError();
            Win32::SetLastError(Win32::kErrorFileNotFound);
            ids[t] = Win32::GetCurrentThreadId() == Win32::GetCurrentThreadId() ? Win32::GetCurrentThreadId() : 0;
            ++done;
        });
    while (started.load() < 4) std::this_thread::yield();
    Win32::SetLastError(Win32::kErrorAccessDenied);
    go = true;
    while (done.load() < 4) std::this_thread::yield();
    EXPECT_EQ(Win32::GetLastError(), Win32::kErrorAccessDenied);
    for (std::thread& thread : threads) thread.join();
    std::set<Win32::DWORD> distinct(ids.begin(), ids.end());
    distinct.insert(Win32::GetCurrentThreadId());
    EXPECT_EQ(distinct.size(), ids.size() + 1);
    EXPECT_EQ(distinct.count(0u), 0u);
    EXPECT_EQ(errors, std::vector<Win32::DWORD>(4, 0));
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

TEST(PlatformThreads, InterlockedOperationsAreAtomicAndReturnWhatTheyShould)
{
    volatile Win32::LONG value = 3;
    EXPECT_EQ(Win32::InterlockedExchange(&value, 5), 3);
    EXPECT_EQ(Win32::InterlockedCompareExchange(&value, 9, 4), 5);  // no match: unchanged
    EXPECT_EQ(value, 5);
    EXPECT_EQ(Win32::InterlockedCompareExchange(&value, 9, 5), 5);
    EXPECT_EQ(value, 9);
    constexpr int kThreads = 4, kEach = 50000;
    value = 0;
    std::vector<std::vector<Win32::LONG>> returned(kThreads, std::vector<Win32::LONG>(kEach));
    OnThreads(kThreads, [&](int t) {
        for (int i = 0; i < kEach; ++i) returned[t][i] = Win32::InterlockedIncrement(&value);
    });
    // Every value from 1 to the total was handed to exactly one caller: the new value.
    std::vector<Win32::LONG> all;
    for (const auto& values : returned) all.insert(all.end(), values.begin(), values.end());
    std::sort(all.begin(), all.end());
    for (std::size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i], static_cast<Win32::LONG>(i + 1));
    OnThreads(kThreads, [&](int) {
        for (int i = 0; i < kEach; ++i) {
            Win32::InterlockedDecrement(&value);
            Win32::LONG seen = Win32::InterlockedCompareExchange(&value, 0, 0), found;
            while ((found = Win32::InterlockedCompareExchange(&value, seen + 3, seen)) != seen) seen = found;
        }
    });
    EXPECT_EQ(value, kThreads * kEach * 3);
    value = 0;
    EXPECT_EQ(Win32::InterlockedDecrement(&value), -1);
}

// Eight threads read one handle at random offsets with reads completed at once (on POSIX) and
// with reads that complete later on another thread.
TEST(PlatformReads, ManyThreadsReadOneHandleAtOnce)
{
    TempDir dir;
    const std::string content = Pattern(1 << 20);
    ScopedHandle file(OpenForReading(dir.Write("shared.bin", content)));
    for (bool later : {false, true}) {
        std::optional<TarnTest::ScopedPendingReads> pending;
        if (later) pending.emplace();
        std::atomic<int> wrong{0};
        std::vector<std::thread> readers;
        for (unsigned t = 0; t < 8; ++t)
            readers.emplace_back([&, t] {
                std::minstd_rand random(t + 1);
                ScopedHandle event = Event(false);
                std::vector<char> buffer(8192);
                for (int i = 0; i < 200; ++i) {
                    std::uint64_t offset = random() % (content.size() + 100);
                    Win32::DWORD size = static_cast<Win32::DWORD>(1 + random() % buffer.size()), bytes = 0;
                    Win32::OVERLAPPED overlapped = At(offset, event.get());
                    Win32::BOOL ok = Win32::ReadFile(file.get(), buffer.data(), size, &bytes, &overlapped);
                    bool signalled = !ok || Win32::WaitForSingleObject(event.get(), 0) == Win32::WAIT_OBJECT_0;
                    if (!ok && Win32::GetLastError() == Win32::kErrorIoPending) {
                        signalled = Win32::WaitForSingleObject(event.get(), Win32::INFINITE) == Win32::WAIT_OBJECT_0;
                        ok = Win32::GetOverlappedResult(file.get(), &overlapped, &bytes, Win32::FALSE);
                    }
                    std::size_t expected = offset < content.size() ? std::min<std::size_t>(size, content.size() - offset) : 0;
                    if (!signalled || (expected == 0 ? ok || Win32::GetLastError() != Win32::kErrorHandleEof
                                                     : !ok || bytes != expected ||
                                                           std::memcmp(buffer.data(), content.data() + offset, expected) != 0))
                        ++wrong;
                }
            });
        for (std::thread& reader : readers) reader.join();
        EXPECT_EQ(wrong.load(), 0) << (later ? "completed later" : "as the system completes them");
    }
}

// A read answered "pending" is incomplete until it finishes; GetOverlappedResult then gives its
// result, waiting for it only when asked to.
TEST(PlatformReads, GetOverlappedResultWaitsForAPendingReadOnlyWhenAsked)
{
    TempDir dir;
    ScopedHandle file(OpenForReading(dir.Write("ten.bin", "0123456789")));
    const std::tuple<bool, std::uint64_t, Win32::DWORD, Win32::DWORD> reads[] = {
        {true, 3, 0, 7}, {false, 7, 0, 3}, {false, 10, Win32::kErrorHandleEof, 0}};
    for (const auto& [manualReset, offset, error, count] : reads) {
        TarnTest::ScopedPendingReads pending(true);
        ScopedHandle event = Event(manualReset);
        char buffer[16] = {};
        Win32::OVERLAPPED overlapped = At(offset, event.get());
        Win32::DWORD bytes = 99;
        EXPECT_FALSE(Win32::ReadFile(file.get(), buffer, sizeof(buffer), &bytes, &overlapped));
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorIoPending);
        EXPECT_EQ(overlapped.Internal, Win32::STATUS_PENDING);
        Win32::SetLastError(0);
        EXPECT_FALSE(Win32::GetOverlappedResult(file.get(), &overlapped, &bytes, Win32::FALSE));
        EXPECT_EQ(Win32::GetLastError(), Win32::kErrorIoIncomplete);
        EXPECT_EQ(Win32::WaitForSingleObject(event.get(), 0), Win32::WAIT_TIMEOUT);
        std::thread finisher([&pending] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            pending.Release();
        });
        Win32::SetLastError(0);
        const Win32::BOOL ok = Win32::GetOverlappedResult(file.get(), &overlapped, &bytes, Win32::TRUE);
        const Win32::DWORD lastError = Win32::GetLastError();
        finisher.join();
        EXPECT_EQ(ok, error == 0 ? Win32::TRUE : Win32::FALSE);
        EXPECT_EQ(bytes, count);
        if (error != 0) {
            EXPECT_EQ(lastError, error);
        }
        EXPECT_EQ(std::string(buffer, count), std::string("0123456789").substr(offset, count));
    }
}
