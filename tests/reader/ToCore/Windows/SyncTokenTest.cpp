// Synchronous reads through the overlapped machinery: offsets, the end of a file, error texts,
// and the pool of four sync tokens shared by every reading thread, also while reads complete
// later on another thread.
#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "reader/ToCore/Windows/SyncToken.h"
#include "reader/ToCore/Windows/SyncTokenWindows.h"

#include "reader/ReaderTestSupport.h"
#include "support/Platform.h"

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
    const std::string endOfFile = TarnTest::SystemText(0x80070026u);  // "Reached the end of the file.\r\n" on Windows
    EXPECT_TRUE(TarnTest::Logged(log, VELL_LOG_ERROR, 1,
                                 "Tarn::VELL::Reader::SyncRead: AsyncRead or SyncToken::Wait failed with error \"" + endOfFile +
                                     "\" (-2147024858)."))
        << log.Dump();

    // A token formats its error text once; an unknown code gets a stand-in.
    SyncToken* token = AsyncRead(file.handle, 4, 10, 0, buffer);
    ASSERT_TRUE(token->Wait());
    const int formatted = formats.load();
    EXPECT_EQ(token->GetErrorText(), endOfFile);
    EXPECT_EQ(token->GetErrorText(), endOfFile);
    EXPECT_EQ(formats.load() - formatted, 1);
    token->errorCode = static_cast<std::int32_t>(0x8007FFFFu);
    token->errorText[0] = '\0';
    EXPECT_STREQ(token->GetErrorText(), "Failed to get error text");
    SyncTokenPool::Instance().Release(token);
    EXPECT_EQ(SyncTokenPool::Instance().FreeCount(), 4);
}

// Reads that complete later, as on a real system: ReadFile says the read is pending and another
// thread finishes it. Five readers share four tokens; the fifth waits.
TEST(SyncTokenPool, AFifthReaderWaitsForAFreeToken)
{
    TarnTest::ScopedPendingReads pending(true);
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
    EXPECT_EQ(pending.WaitForPending(4), 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Win32::PendingReadCount(), 4);
    EXPECT_EQ(SyncTokenPool::Instance().FreeCount(), 0);
    pending.Release();
    for (auto& reader : readers) reader.join();
    EXPECT_EQ(correct.load(), 5);
    EXPECT_EQ(SyncTokenPool::Instance().FreeCount(), 4);
}

// Many readers, few tokens, every read completed later on another thread: each gets its own
// bytes, a read past the end fails as it does at once, and every token comes back.
TEST(SyncTokenPool, ManyReadersShareTheTokensWhileReadsArePending)
{
    LogCapture log;
    TarnTest::ScopedPendingReads pending;
    TempDir dir;
    std::string content(300000, '\0');
    std::mt19937 bytes(5);
    for (char& c : content) c = static_cast<char>(bytes());
    DataFile file(dir, content);
    std::atomic<int> wrong{0}, failed{0};
    std::vector<std::thread> readers;
    for (unsigned t = 0; t < 12; ++t)
        readers.emplace_back([&, t] {
            std::mt19937 random(t);
            std::vector<char> buffer(70000);
            for (int i = 0; i < 40; ++i) {
                const std::uint32_t offset = random() % (content.size() + 1000), size = 1 + random() % buffer.size();
                std::uint32_t read = 0;
                const bool ok = SyncRead(file.handle, size, offset, 0, &read, buffer.data());
                const std::size_t expected = offset < content.size() ? std::min<std::size_t>(size, content.size() - offset) : 0;
                if (!ok) ++failed;
                if (ok != (expected > 0) || read != expected || std::memcmp(buffer.data(), content.data() + offset, expected) != 0)
                    ++wrong;
            }
        });
    for (auto& reader : readers) reader.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(log.Count("Tarn::VELL::Reader::SyncRead: AsyncRead or SyncToken::Wait failed with error \"" +
                        TarnTest::SystemText(0x80070026u) + "\" (-2147024858)."),
              static_cast<std::size_t>(failed.load()));
    EXPECT_EQ(SyncTokenPool::Instance().FreeCount(), 4);
}
