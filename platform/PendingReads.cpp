// ReadFileCompletingLater: overlapped reads that a thread of this layer finishes after
// ReadFile has answered "pending", for tests of the library's waits. Written against the
// contract alone.
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "Win32.h"

namespace Win32 {

namespace {

struct Job {
    HANDLE file;
    void* buffer;
    DWORD size;
    OVERLAPPED* overlapped;
    DWORD offset;
    DWORD offsetHigh;
    HANDLE event;  // the record's event when the read started, as a system keeps it
};

// One worker for the whole process, started by the first pending read. It lives until the
// process ends, waiting for work; its state is never destroyed, so no static destructor
// can pull it away from under a read.
struct Worker {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Job> queue;
    int pending = 0;  // answered pending, not yet completed
    bool held = false;
    HANDLE event = nullptr;

    Worker()
    {
        event = DefaultCalls().CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::thread([this] { Run(); }).detach();
    }

    void Run()
    {
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [this] { return !held && !queue.empty(); });
                job = queue.front();
                queue.pop_front();
            }
            Complete(job);
            {
                std::lock_guard<std::mutex> guard(mutex);
                --pending;
            }
            changed.notify_all();
        }
    }

    // The read, made with the system's own calls on a record of the worker's, then its
    // result handed to the caller's record and the caller's event set.
    void Complete(const Job& job)
    {
        const CallTable& system = DefaultCalls();
        OVERLAPPED own{};
        own.Offset = job.offset;
        own.OffsetHigh = job.offsetHigh;
        own.hEvent = event;
        system.ResetEvent(event);
        DWORD bytes = 0, error = kErrorSuccess;
        if (!system.ReadFile(job.file, job.buffer, job.size, &bytes, &own)) {
            error = GetLastError();
            if (error == kErrorIoPending) error = system.GetOverlappedResult(job.file, &own, &bytes, TRUE) ? kErrorSuccess : GetLastError();
        }
        // Once the record says done, its owner may reuse it: nothing of it is read after that.
        CompleteOverlapped(job.overlapped, error, error == kErrorSuccess ? bytes : 0);
        if (job.event) system.SetEvent(job.event);
    }
};

Worker& TheWorker()
{
    static Worker* worker = new Worker();
    return *worker;
}

}  // namespace

BOOL ReadFileCompletingLater(HANDLE file, void* buffer, DWORD size, DWORD* bytesRead, OVERLAPPED* overlapped)
{
    if (overlapped == nullptr) return DefaultCalls().ReadFile(file, buffer, size, bytesRead, overlapped);
    if (bytesRead) *bytesRead = 0;
    // As a system does when it starts an overlapped read: the record says "pending" and its
    // event is reset until the read completes.
    overlapped->Internal = STATUS_PENDING;
    overlapped->InternalHigh = 0;
    if (overlapped->hEvent) DefaultCalls().ResetEvent(overlapped->hEvent);
    Worker& worker = TheWorker();
    {
        std::lock_guard<std::mutex> guard(worker.mutex);
        worker.queue.push_back({file, buffer, size, overlapped, overlapped->Offset, overlapped->OffsetHigh, overlapped->hEvent});
        ++worker.pending;
    }
    worker.changed.notify_all();
    SetLastError(kErrorIoPending);
    return FALSE;
}

void HoldPendingReads(bool held)
{
    Worker& worker = TheWorker();
    {
        std::lock_guard<std::mutex> guard(worker.mutex);
        worker.held = held;
    }
    worker.changed.notify_all();
}

int PendingReadCount()
{
    Worker& worker = TheWorker();
    std::lock_guard<std::mutex> guard(worker.mutex);
    return worker.pending;
}

}  // namespace Win32
