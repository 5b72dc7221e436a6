// Synchronous reads through the overlapped machinery: offsets, the end of a file, error texts,
// and the pool of four sync tokens shared by every reading thread.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "reader/ToCore/Windows/SyncToken.h"
#include "reader/ToCore/Windows/SyncTokenWindows.h"

#include "reader/ReaderTestSupport.h"

using namespace Tarn::VELL::Reader;
using namespace ReaderTest;

TEST(SyncRead, ReadsAtOffsetsStopsAtTheEndAndDescribesTheErrorOnce)
{
    TarnTest::ScopedCalls calls;
    CountCalls();
    static std::atomic<int> formats;
    formats = 0;
    Win32::gCalls.FormatMessageA = [](auto... arguments) {
        ++formats;
        return Win32::DefaultCalls().FormatMessageA(arguments...);
    };
    LogCapture log;
    TempDir dir;
    DataFile file(dir, "0123456789");
    char buffer[16] = {};
    std::uint32_t read = 99;
    EXPECT_TRUE(SyncRead(file.handle, 0, 0, 0, &read, buffer));
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(gReads.load(), 0) << "a zero-byte read touches no file";
    EXPECT_TRUE(SyncRead(file.handle, 4, 8, 0, &read, buffer));
    EXPECT_EQ(std::string(buffer, read), "89");
    EXPECT_FALSE(SyncRead(file.handle, 4, 10, 0, &read, buffer));
    EXPECT_TRUE(TarnTest::Logged(log, VELL_LOG_ERROR, 1,
                                 "Tarn::VELL::Reader::SyncRead: AsyncRead or SyncToken::Wait failed with error \"Reached the "
                                 "end of the file.\r\n\" (-2147024858)."))
        << log.Dump();

    // A token formats its error text once; an unknown code gets a stand-in.
    SyncToken* token = AsyncRead(file.handle, 4, 10, 0, buffer);
    ASSERT_TRUE(token->Wait());
    const int formatted = formats.load();
    EXPECT_STREQ(token->GetErrorText(), "Reached the end of the file.\r\n");
    EXPECT_STREQ(token->GetErrorText(), "Reached the end of the file.\r\n");
    EXPECT_EQ(formats.load() - formatted, 1);
    token->errorCode = static_cast<std::int32_t>(0x8007FFFFu);
    token->errorText[0] = '\0';
    EXPECT_STREQ(token->GetErrorText(), "Failed to get error text");
    SyncTokenPool::Instance().Release(token);
    EXPECT_EQ(SyncTokenPool::Instance().FreeCount(), 4);
}

// Reads that complete later, as on a real system: ReadFile says the read is pending and a
// worker finishes it after a while. Five readers share four tokens; the fifth waits.
TEST(SyncTokenPool, AFifthReaderWaitsForAFreeToken)
{
    TarnTest::ScopedCalls calls;
    static std::mutex mutex;
    static std::condition_variable changed;
    static int inFlight, mostInFlight;
    static bool open;
    inFlight = mostInFlight = 0;
    open = false;
    Win32::gCalls.ReadFile = [](Win32::HANDLE file, void* buffer, Win32::DWORD size, Win32::DWORD*,
                                Win32::OVERLAPPED* overlapped) -> Win32::BOOL {
        {
            std::lock_guard<std::mutex> guard(mutex);
            mostInFlight = std::max(mostInFlight, ++inFlight);
        }
        overlapped->Internal = Win32::STATUS_PENDING;
        std::thread([file, buffer, size, overlapped] {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [] { return open; });
            Win32::OVERLAPPED done = *overlapped;
            done.hEvent = nullptr;  // the event is set below, once the record is complete
            Win32::DWORD read = 0;
            Win32::DefaultCalls().ReadFile(file, buffer, size, &read, &done);
            --inFlight;
            overlapped->InternalHigh = done.InternalHigh;
            overlapped->Internal = done.Internal;
            Win32::SetEvent(overlapped->hEvent);
        }).detach();
        Win32::SetLastError(Win32::kErrorIoPending);
        return Win32::FALSE;
    };

    TempDir dir;
    DataFile file(dir, "abcdefghij");
    std::vector<std::thread> readers;
    std::atomic<int> correct{0};
    for (int t = 0; t < 5; ++t)
        readers.emplace_back([&file, &correct, t] {
            char buffer[2] = {};
            std::uint32_t read = 0;
            if (SyncRead(file.handle, 2, static_cast<std::uint32_t>(2 * t), 0, &read, buffer) && read == 2 &&
                buffer[0] == 'a' + 2 * t && buffer[1] == 'b' + 2 * t)
                ++correct;
        });
    // Four reads start; the fifth blocks in the pool until one finishes.
    for (int i = 0; i < 200 && SyncTokenPool::Instance().FreeCount() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    {
        std::lock_guard<std::mutex> guard(mutex);
        EXPECT_EQ(inFlight, 4);
        open = true;
    }
    changed.notify_all();
    for (auto& reader : readers) reader.join();
    {
        // The detached workers of the last reads may still be leaving.
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(5), [] { return inFlight == 0; });
    }
    EXPECT_EQ(correct.load(), 5);
    EXPECT_EQ(mostInFlight, 4);
    EXPECT_EQ(SyncTokenPool::Instance().FreeCount(), 4);
}
