#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <lzma.h>
#include <zlib.h>

#include "platform/Win32.h"
#include "reader/Decompression.h"
#include "reader/ProjectListing.h"
#include "reader/ToCore/Windows/SyncToken.h"
#include "reader/ToCore/Windows/SyncTokenWindows.h"
#include "reader/UncompressedBlocks.h"
#include "support/LogCapture.h"
#include "support/PlatformFaults.h"
#include "support/TempDir.h"

using namespace Tarn::VELL::Reader;
using TarnTest::LogCapture;
using TarnTest::LoggedError;
using TarnTest::TempDir;

namespace {

const char kZlibName[] = "Tarn::VELL::Reader::DecompressZlib";
const char kLzmaName[] = "Tarn::VELL::Reader::`anonymous-namespace'::DecompressLzma";

std::string RandomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    std::string out(n, '\0');
    for (char& c : out) c = static_cast<char>(random());
    return out;
}

// Text-like bytes that compress well but not trivially.
std::string TextBytes(std::size_t n, unsigned seed)
{
    static const char* words[] = {"vell ", "archive ", "listing ", "block ", "zlib ", "token ", "DATA/", "x.dds\n"};
    std::mt19937 random(seed);
    std::string out;
    while (out.size() < n) out += words[random() % 8];
    out.resize(n);
    return out;
}

std::string Zlib(const std::string& data, int level = 6)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
                        static_cast<uLong>(data.size()), level),
              Z_OK);
    out.resize(size);
    return out;
}

// An LZMA record: the dictionary property, eight ignored bytes, a raw LZMA2 stream.
std::string LzmaRecord(const std::string& data, std::uint8_t property = 16)
{
    lzma_options_lzma options;
    lzma_lzma_preset(&options, 6);
    options.dict_size = 1u << 20;
    lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    std::string out(data.size() + data.size() / 2 + 1024, '\0');
    size_t written = 0;
    EXPECT_EQ(lzma_raw_buffer_encode(filters, nullptr, reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                                     reinterpret_cast<uint8_t*>(out.data()), &written, out.size()),
              LZMA_OK);
    out.resize(written);
    return std::string(1, static_cast<char>(property)) + std::string(8, '\0') + out;
}

// A data file opened as the library opens them.
class DataFile {
public:
    DataFile(const TempDir& dir, const std::string& content, const std::string& name = "data.bin")
    {
        mPath = dir.Write(name, content);
        mHandle = Win32::CreateFileA(mPath.c_str(), Win32::GENERIC_READ, Win32::FILE_SHARE_READ, nullptr, Win32::OPEN_EXISTING,
                                     Win32::FILE_FLAG_OVERLAPPED, nullptr);
    }
    ~DataFile() { Win32::CloseHandle(mHandle); }
    Win32::HANDLE Handle() const { return mHandle; }

private:
    std::string mPath;
    Win32::HANDLE mHandle;
};

// Decodes an entry stored at offset in a data file into blocks of the given size.
struct Decoded {
    bool ok;
    std::string bytes;
};

Decoded Decode(std::uint32_t id, const std::string& stored, std::uint32_t uncompressed, std::uint32_t offset = 0,
               std::uint32_t blockSize = kArchiveBlockSize)
{
    TempDir dir;
    DataFile file(dir, std::string(offset, 'p') + stored + "trailing");
    UncompressedBlocks blocks(blockSize);
    const bool ok = blocks.Load(id, file.Handle(), offset, 0, static_cast<std::uint32_t>(stored.size()), uncompressed);
    std::string out(blocks.TotalSize(), '\0');
    blocks.CopyOut(out.data(), 0, blocks.TotalSize());
    return {ok, out};
}

}  // namespace

// ---- the sync-token pool -------------------------------------------------------------------

TEST(SyncRead, ReadsAtOffsetsAndStopsAtTheEnd)
{
    LogCapture log;
    TempDir dir;
    DataFile file(dir, "0123456789");
    char buffer[16] = {};
    std::uint32_t read = 99;
    EXPECT_TRUE(SyncRead(file.Handle(), 0, 0, 0, &read, buffer));
    EXPECT_EQ(read, 0u);
    EXPECT_TRUE(SyncRead(file.Handle(), 4, 8, 0, &read, buffer));
    EXPECT_EQ(read, 2u);
    EXPECT_EQ(std::string(buffer, 2), "89");
    EXPECT_FALSE(SyncRead(file.Handle(), 4, 10, 0, &read, buffer));
    EXPECT_TRUE(TarnTest::Logged(log, VELL_LOG_ERROR, 1,
                                 "Tarn::VELL::Reader::SyncRead: AsyncRead or SyncToken::Wait failed with error \"Reached the "
                                 "end of the file.\r\n\" (-2147024858)."))
        << log.Dump();
    EXPECT_EQ(SyncTokenPool::Instance().FreeCount(), 4);
}

TEST(SyncRead, AZeroByteReadTouchesNeitherFileNorEvent)
{
    TarnTest::ScopedCalls calls;
    static std::atomic<int> reads;
    reads = 0;
    Win32::gCalls.ReadFile = [](Win32::HANDLE, void*, Win32::DWORD, Win32::DWORD*, Win32::OVERLAPPED*) -> Win32::BOOL {
        ++reads;
        return Win32::FALSE;
    };
    std::uint32_t read = 7;
    EXPECT_TRUE(SyncRead(reinterpret_cast<Win32::HANDLE>(0x1234), 0, 0, 0, &read, nullptr));
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(reads.load(), 0);
}

TEST(SyncToken, ErrorTextIsProducedOnceAndStandsInForUnknownCodes)
{
    TarnTest::ScopedCalls calls;
    static std::atomic<int> formats;
    formats = 0;
    Win32::gCalls.FormatMessageA = [](Win32::DWORD flags, const void* source, Win32::DWORD id, Win32::DWORD language,
                                      Win32::LPSTR buffer, Win32::DWORD size, va_list* args) -> Win32::DWORD {
        ++formats;
        return Win32::DefaultCalls().FormatMessageA(flags, source, id, language, buffer, size, args);
    };
    TempDir dir;
    DataFile file(dir, "ab");
    char buffer[4];
    SyncToken* token = AsyncRead(file.Handle(), 4, 5, 0, buffer);
    ASSERT_TRUE(token->Wait());
    EXPECT_EQ(token->errorCode, static_cast<std::int32_t>(0x80070026u));
    EXPECT_STREQ(token->GetErrorText(), "Reached the end of the file.\r\n");
    EXPECT_STREQ(token->GetErrorText(), "Reached the end of the file.\r\n");
    EXPECT_EQ(formats.load(), 1);
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
            if (SyncRead(file.Handle(), 2, static_cast<std::uint32_t>(2 * t), 0, &read, buffer) && read == 2 &&
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

TEST(SyncTokenPool, ManyThreadsReadingEveryByteCorrectly)
{
    TempDir dir;
    const std::string content = RandomBytes(1 << 20, 7);
    DataFile file(dir, content);
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            std::mt19937 random(t);
            std::vector<char> buffer(4096);
            for (int i = 0; i < 300; ++i) {
                const std::uint32_t offset = random() % (content.size() - buffer.size());
                std::uint32_t read = 0;
                if (!SyncRead(file.Handle(), 4096, offset, 0, &read, buffer.data()) || read != 4096 ||
                    std::memcmp(buffer.data(), content.data() + offset, 4096) != 0)
                    ++wrong;
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(SyncTokenPool::Instance().FreeCount(), 4);
}

// ---- blocks -----------------------------------------------------------------------------

TEST(UncompressedBlocks, AllocatesFullBlocksAndOneShortLastBlock)
{
    UncompressedBlocks blocks(kArchiveBlockSize);
    ASSERT_TRUE(blocks.Allocate(0));
    EXPECT_EQ(blocks.BlockCount(), 0u);
    char out[8];
    EXPECT_EQ(blocks.CopyOut(out, 0, 8), 0u);
    ASSERT_TRUE(blocks.Allocate(262144));
    EXPECT_EQ(blocks.BlockCount(), 1u);
    ASSERT_TRUE(blocks.Allocate(262145));
    ASSERT_EQ(blocks.BlockCount(), 2u);
    EXPECT_EQ(blocks.Blocks()[1].bufferSize, 1u);
    blocks.Clear();
    EXPECT_EQ(blocks.TotalSize(), 0u);
    EXPECT_EQ(blocks.BlockSize(), kArchiveBlockSize);
}

TEST(UncompressedBlocks, CopyOutCrossesBlocksAndStopsAtTheEnd)
{
    UncompressedBlocks blocks(4);
    ASSERT_TRUE(blocks.Allocate(10));
    const char* content = "0123456789";
    for (std::uint32_t i = 0; i < blocks.BlockCount(); ++i)
        std::memcpy(blocks.Blocks()[i].buffer, content + 4 * i, blocks.Blocks()[i].bufferSize);
    char out[16] = {};
    EXPECT_EQ(blocks.CopyOut(out, 2, 6), 6u);
    EXPECT_EQ(std::string(out, 6), "234567");
    EXPECT_EQ(blocks.CopyOut(out, 7, 100), 3u);
    EXPECT_EQ(std::string(out, 3), "789");
    EXPECT_EQ(blocks.CopyOut(out, 10, 1), 0u);
}

TEST(UncompressedBlocks, AHugeTotalNeverWrapsToAFewBlocks)
{
    UncompressedBlocks blocks(kArchiveBlockSize);
    if (blocks.Allocate(0xFFFFFFFFu)) {
        EXPECT_EQ(blocks.BlockCount(), 16384u);
        EXPECT_EQ(blocks.Blocks()[16383].bufferSize, kArchiveBlockSize - 1);
    } else {
        EXPECT_EQ(blocks.BlockCount(), 0u);
        EXPECT_EQ(blocks.TotalSize(), 0u);
    }
}

TEST(UncompressedBlocks, StoredBytesLoadAsTheyAre)
{
    const std::string content = RandomBytes(262144 + 17, 3);
    Decoded d = Decode(kCompressionNone, content, 12345, 5);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.bytes, content);
    EXPECT_TRUE(Decode(kCompressionZlib, "not even zlib", 0).ok);  // nothing to decode
}

TEST(UncompressedBlocks, AShortStoredRangeFailsAndLeavesNothing)
{
    LogCapture log;
    TempDir dir;
    DataFile file(dir, "short");
    UncompressedBlocks blocks(kArchiveBlockSize);
    EXPECT_FALSE(blocks.Load(kCompressionNone, file.Handle(), 0, 0, 100, 100));
    EXPECT_EQ(blocks.TotalSize(), 0u);
    char pointer[32];
    std::snprintf(pointer, sizeof(pointer), "%016llX", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(file.Handle())));
    EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::UncompressedBlocks::FromFile: Failed to read from AsyncFile 0x" +
                                     std::string(pointer) + "."));
}

// ---- zlib -------------------------------------------------------------------------------

TEST(DecompressZlib, DecodesAcrossChunksAndBlocks)
{
    for (std::size_t size : {std::size_t{1}, std::size_t{262144}, std::size_t{262145}, std::size_t{3 * 262144}, std::size_t{1000000}}) {
        const std::string content = TextBytes(size, static_cast<unsigned>(size));
        Decoded d = Decode(kCompressionZlib, Zlib(content), static_cast<std::uint32_t>(size), 3);
        ASSERT_TRUE(d.ok) << size;
        EXPECT_EQ(d.bytes, content) << size;
    }
}

TEST(DecompressZlib, ReadsExactChunkSizesInOneOrTwoReads)
{
    // Incompressible data stored as-is has a predictable compressed size: look for the input
    // sizes that compress to exactly 65536 and 65537 bytes.
    for (std::size_t target : {std::size_t{65536}, std::size_t{65537}}) {
        bool found = false;
        for (std::size_t n = target - 64; n < target && !found; ++n) {
            const std::string content = RandomBytes(n, 11);
            const std::string stream = Zlib(content, 0);
            if (stream.size() != target) continue;
            found = true;
            Decoded d = Decode(kCompressionZlib, stream, static_cast<std::uint32_t>(n));
            EXPECT_TRUE(d.ok) << target;
            EXPECT_EQ(d.bytes, content);
        }
        EXPECT_TRUE(found) << target;
    }
}

TEST(DecompressZlib, AStreamWhoseEndLiesInTheNextChunkDecodes)
{
    // Stored blocks: the last output byte is in the first chunk, the check value runs into
    // the second.
    int checked = 0;
    for (std::size_t n = 65500; n < 65540; ++n) {
        const std::string content = RandomBytes(n, 5);
        const std::string stream = Zlib(content, 0);
        if (stream.size() <= 65536 || stream.size() > 65539) continue;
        ++checked;
        Decoded d = Decode(kCompressionZlib, stream, static_cast<std::uint32_t>(n));
        EXPECT_TRUE(d.ok) << n;
        EXPECT_EQ(d.bytes, content);
    }
    EXPECT_GT(checked, 0);
}

TEST(DecompressZlib, RefusesCorruptTruncatedAndPaddedStreams)
{
    const std::string content = TextBytes(300000, 1);
    const std::string stream = Zlib(content);
    {
        LogCapture log;
        std::string raw = stream.substr(2);  // no zlib header
        EXPECT_FALSE(Decode(kCompressionZlib, raw, 300000).ok);
        EXPECT_TRUE(LoggedError(log, std::string(kZlibName) + ": zlib inflate failed with code Z_DATA_ERROR: incorrect header check."))
            << log.Dump();
    }
    {
        LogCapture log;
        std::string bad = stream;
        bad[bad.size() - 1] ^= 0x55;  // the check value
        EXPECT_FALSE(Decode(kCompressionZlib, bad, 300000).ok);
        EXPECT_TRUE(LoggedError(log, std::string(kZlibName) + ": zlib inflate failed with code Z_DATA_ERROR: incorrect data check."));
    }
    {
        LogCapture log;
        EXPECT_FALSE(Decode(kCompressionZlib, stream + "x", 300000).ok);
        EXPECT_TRUE(LoggedError(log, std::string(kZlibName) + ": Decompress failed: the amount of data read (" +
                                         std::to_string(stream.size()) + " B) does not match the compressed size (" +
                                         std::to_string(stream.size() + 1) + " B)."))
            << log.Dump();
    }
    {
        LogCapture log;
        EXPECT_FALSE(Decode(kCompressionZlib, stream, 300001).ok);
        EXPECT_TRUE(LoggedError(log, std::string(kZlibName) +
                                         ": Decompress failed: the amount of data written (300000 B) does not match the "
                                         "uncompressed size (300001 B)."))
            << log.Dump();
    }
    {
        LogCapture log;
        EXPECT_FALSE(Decode(kCompressionZlib, stream, 299999).ok);  // longer than the file
        EXPECT_FALSE(Decode(kCompressionZlib, stream.substr(0, stream.size() - 10), 300000).ok);
        EXPECT_FALSE(Decode(kCompressionZlib, "", 10).ok);
    }
}

TEST(DecompressZlib, AFailedChunkReadIsReportedTwice)
{
    LogCapture log;
    TarnTest::ScopedCalls calls;
    Win32::gCalls.ReadFile = [](Win32::HANDLE, void*, Win32::DWORD, Win32::DWORD*, Win32::OVERLAPPED*) -> Win32::BOOL {
        Win32::SetLastError(Win32::kErrorReadFault);
        return Win32::FALSE;
    };
    const std::string stream = Zlib(TextBytes(1000, 2));
    EXPECT_FALSE(Decode(kCompressionZlib, stream, 1000, 7).ok);
    const auto entries = log.Entries();
    ASSERT_GE(entries.size(), 2u) << log.Dump();
    EXPECT_EQ(entries[0].text,
              "Tarn::VELL::Reader::SyncRead: AsyncRead or SyncToken::Wait failed with error \"The system cannot read from the "
              "specified device.\r\n\" (-2147024866).");
    EXPECT_EQ(entries[1].text.substr(0, std::strlen(kZlibName) + 31), std::string(kZlibName) + ": SyncRead failed: AsyncFile=0x");
    EXPECT_NE(entries[1].text.find(", offset=7, toRead=" + std::to_string(stream.size()) + "."), std::string::npos);
}

// ---- LZMA -------------------------------------------------------------------------------

TEST(DecompressLzma, DecodesAcrossChunksAndBlocks)
{
    for (std::size_t size : {std::size_t{1}, std::size_t{262144}, std::size_t{2 * 262144}, std::size_t{262145}, std::size_t{900001}}) {
        const std::string content = size > 300000 ? RandomBytes(size, 9) : TextBytes(size, 4);
        const std::string record = LzmaRecord(content);
        Decoded d = Decode(kCompressionLzma, record, static_cast<std::uint32_t>(size), 11);
        ASSERT_TRUE(d.ok) << size;
        EXPECT_EQ(d.bytes, content) << size;
    }
}

TEST(DecompressLzma, TheEndMarkerMayLieInTheNextChunk)
{
    // Incompressible data: LZMA2 stores it in uncompressed chunks, so the record's size
    // follows the input's; find inputs whose end marker is the only byte of the last chunk.
    int checked = 0;
    for (std::size_t n = 65400; n < 65536 && checked < 3; ++n) {
        const std::string content = RandomBytes(n, 21);
        const std::string record = LzmaRecord(content);
        if (record.size() != 65537) continue;
        ++checked;
        Decoded d = Decode(kCompressionLzma, record, static_cast<std::uint32_t>(n));
        EXPECT_TRUE(d.ok) << n;
        EXPECT_EQ(d.bytes, content);
    }
    EXPECT_GT(checked, 0);
}

TEST(DecompressLzma, RefusesBadRecords)
{
    const std::string content = TextBytes(5000, 8);
    const std::string record = LzmaRecord(content);
    {
        LogCapture log;
        EXPECT_FALSE(Decode(kCompressionLzma, record.substr(0, 8), 5000).ok);
        EXPECT_TRUE(LoggedError(log, std::string(kLzmaName) + ": Source data is too small to be valid."));
        log.Clear();
        EXPECT_FALSE(Decode(kCompressionLzma, record.substr(0, 9), 5000).ok);
        EXPECT_FALSE(log.Contains(std::string(kLzmaName) + ": Source data is too small to be valid."));
    }
    {
        LogCapture log;
        std::string bad = record;
        bad[0] = 41;
        EXPECT_FALSE(Decode(kCompressionLzma, bad, 5000).ok);
        EXPECT_TRUE(LoggedError(log, std::string(kLzmaName) + ": Allocating the lzma compression state failed."));
    }
    EXPECT_FALSE(Decode(kCompressionLzma, record + "x", 5000).ok);                            // a byte after the end marker
    EXPECT_FALSE(Decode(kCompressionLzma, record.substr(0, record.size() - 1), 5000).ok);     // no end marker
    EXPECT_FALSE(Decode(kCompressionLzma, record, 4999).ok);                                   // longer than the file
    EXPECT_FALSE(Decode(kCompressionLzma, record, 5001).ok);                                   // shorter than the file
    std::string corrupt = record;
    corrupt[9] = static_cast<char>(0xFF);  // not an LZMA2 control byte
    EXPECT_FALSE(Decode(kCompressionLzma, corrupt, 5000).ok);
    // A dictionary property larger than the file still decodes (the dictionary is capped).
    std::string large = record;
    large[0] = 40;
    EXPECT_TRUE(Decode(kCompressionLzma, large, 5000).ok);
}
