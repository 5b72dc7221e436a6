// Loading an archive entry into blocks: the block store, stored bytes, zlib streams and LZMA
// records, their chunking, and the refusals of corrupt, truncated and padded streams.
#include <cstring>
#include <iterator>
#include <memory>
#include <random>

#include <lzma.h>
#include <zlib.h>

#include "reader/Decompression.h"
#include "reader/UncompressedBlocks.h"

#include "ReaderTestSupport.h"
#include "support/Platform.h"

using namespace Tarn::VELL::Reader;
using namespace ReaderTest;

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
std::string LzmaRecord(const std::string& data)
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
    return std::string(1, '\x10') + std::string(8, '\0') + out;
}

std::vector<std::pair<std::uint32_t, std::string>> BothCodecs(const std::string& content, int zlibLevel = 6)
{
    return {{kCompressionZlib, Zlib(content, zlibLevel)}, {kCompressionLzma, LzmaRecord(content)}};
}


// The bytes of an entry stored at offset in a data file, decoded into blocks; none if refused.
std::optional<std::string> Decode(std::uint32_t id, const std::string& stored, std::uint32_t uncompressed, std::uint32_t offset = 0)
{
    TempDir dir;
    DataFile file(dir, std::string(offset, 'p') + stored + "trailing");
    UncompressedBlocks blocks(kArchiveBlockSize);
    if (!blocks.Load(id, file.handle, offset, 0, static_cast<std::uint32_t>(stored.size()), uncompressed)) return std::nullopt;
    std::string out(blocks.TotalSize(), '\0');
    blocks.CopyOut(out.data(), 0, blocks.TotalSize());
    return out;
}

}  // namespace

TEST(UncompressedBlocks, AllocateWholeBlocksAndCopyOutAcrossThemUpToTheEnd)
{
    UncompressedBlocks blocks(kArchiveBlockSize);
    char out[16] = {};
    ASSERT_TRUE(blocks.Allocate(0));
    EXPECT_EQ(blocks.BlockCount(), 0u);
    EXPECT_EQ(blocks.CopyOut(out, 0, 8), 0u);
    ASSERT_TRUE(blocks.Allocate(262144));
    EXPECT_EQ(blocks.BlockCount(), 1u);
    ASSERT_TRUE(blocks.Allocate(262145));
    ASSERT_EQ(blocks.BlockCount(), 2u);
    EXPECT_EQ(blocks.Blocks()[1].bufferSize, 1u);
    blocks.Clear();
    EXPECT_EQ(blocks.TotalSize(), 0u);
    // A huge total never wraps to a few blocks.
    if (blocks.Allocate(0xFFFFFFFFu)) {
        EXPECT_EQ(blocks.BlockCount(), 16384u);
        EXPECT_EQ(blocks.Blocks()[16383].bufferSize, kArchiveBlockSize - 1);
    } else {
        EXPECT_EQ(blocks.BlockCount() + blocks.TotalSize(), 0u);
    }

    UncompressedBlocks small(4);
    ASSERT_TRUE(small.Allocate(10));
    for (std::uint32_t i = 0; i < small.BlockCount(); ++i)
        std::memcpy(small.Blocks()[i].buffer, "0123456789" + 4 * i, small.Blocks()[i].bufferSize);
    EXPECT_EQ(small.CopyOut(out, 2, 6), 6u);
    EXPECT_EQ(std::string(out, 6), "234567");
    EXPECT_EQ(small.CopyOut(out, 7, 100), 3u);
    EXPECT_EQ(std::string(out, 3), "789");
    EXPECT_EQ(small.CopyOut(out, 10, 1), 0u);
}

TEST(UncompressedBlocks, StoredBytesLoadAsTheyAreAndAShortRangeLeavesNothing)
{
    const std::string content = RandomBytes(262144 + 17, 3);
    EXPECT_TRUE(Decode(kCompressionNone, content, 12345, 5) == content);
    EXPECT_EQ(Decode(kCompressionZlib, "not even zlib", 0), "");  // nothing to decode

    LogCapture log;
    TempDir dir;
    DataFile file(dir, "short");
    UncompressedBlocks blocks(kArchiveBlockSize);
    EXPECT_FALSE(blocks.Load(kCompressionNone, file.handle, 0, 0, 100, 100));
    EXPECT_EQ(blocks.TotalSize(), 0u);
    char pointer[32];
    std::snprintf(pointer, sizeof(pointer), "%016llX", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(file.handle)));
    EXPECT_TRUE(LoggedError(log, "Tarn::VELL::Reader::UncompressedBlocks::FromFile: Failed to read from AsyncFile 0x" +
                                     std::string(pointer) + "."));
}

TEST(Decompress, BothCodecsDecodeAcrossChunksAndBlocks)
{
    for (std::uint32_t size : {1u, 262144u, 262145u, 3u * 262144u, 900001u}) {
        const std::string content = size > 800000 ? RandomBytes(size, 9) : TextBytes(size, size);
        for (const auto& [id, stored] : BothCodecs(content))
            EXPECT_TRUE(Decode(id, stored, size, 3) == content) << id << " " << size;
    }
}

TEST(Decompress, StreamsEndingAroundTheSixtyFourKiBChunkDecode)
{
    // Incompressible input makes stored zlib streams 11 and LZMA records 13 bytes longer than it:
    // these end just before, at and just after the first chunk, some with only the zlib check
    // value or the LZMA end marker beyond it.
    std::vector<std::size_t> sizes;
    for (std::uint32_t n = 65520; n < 65532; ++n) {
        const std::string content = RandomBytes(n, n);
        for (const auto& [id, stored] : BothCodecs(content, 0)) {
            sizes.push_back(stored.size());
            EXPECT_TRUE(Decode(id, stored, n) == content) << id << " " << stored.size();
        }
    }
    EXPECT_EQ(std::count(sizes.begin(), sizes.end(), 65536u), 2);
    EXPECT_EQ(std::count(sizes.begin(), sizes.end(), 65537u), 2);
}

TEST(DecompressZlib, RefusesCorruptTruncatedAndPaddedStreams)
{
    const std::string stream = Zlib(TextBytes(300000, 1));
    std::string bad = stream;
    bad[bad.size() - 1] ^= 0x55;  // the check value
    const std::string inflate = "zlib inflate failed with code Z_DATA_ERROR: ";
    const struct {
        std::string stored;
        std::uint32_t size;
        std::string message;
    } cases[] = {
        {stream.substr(2), 300000, inflate + "incorrect header check."},
        {bad, 300000, inflate + "incorrect data check."},
        {stream + "x", 300000,
         "Decompress failed: the amount of data read (" + std::to_string(stream.size()) +
             " B) does not match the compressed size (" + std::to_string(stream.size() + 1) + " B)."},
        {stream, 300001, "Decompress failed: the amount of data written (300000 B) does not match the uncompressed size (300001 B)."},
        {stream, 299999, ""},  // longer than the file
        {stream.substr(0, stream.size() - 10), 300000, ""},
        {"", 10, ""},
    };
    for (const auto& c : cases) {
        LogCapture log;
        EXPECT_FALSE(Decode(kCompressionZlib, c.stored, c.size)) << c.size << " " << c.message;
        EXPECT_TRUE(c.message.empty() || LoggedError(log, std::string(kZlibName) + ": " + c.message)) << log.Dump();
    }
}

// A listing keeps one inflate state for all its entries. Whatever the stream before left
// behind (input not consumed, output space in blocks since freed, a damaged stream stopped
// half way), the next entry decodes from its own bytes into its own blocks only.
TEST(DecompressZlib, AKeptInflaterStartsEveryStreamAfresh)
{
    ZlibInflater inflater;
    TempDir dir;
    const std::string good = TextBytes(300000, 3), other = TextBytes(5000, 4);
    std::string damaged = Zlib(TextBytes(300000, 5));
    damaged[damaged.size() / 2] ^= 0x55;
    const std::string streams[] = {Zlib(good), damaged, Zlib(good), Zlib(other), damaged, Zlib(other)};
    const std::string* expected[] = {&good, nullptr, &good, &other, nullptr, &other};
    for (std::size_t i = 0; i < std::size(streams); ++i) {
        LogCapture log;
        DataFile file(dir, streams[i]);
        const std::uint32_t size = static_cast<std::uint32_t>(expected[i] ? expected[i]->size() : 300000);
        auto blocks = std::make_unique<UncompressedBlocks>(kArchiveBlockSize);
        const bool loaded = blocks->Load(kCompressionZlib, file.handle, 0, 0, static_cast<std::uint32_t>(streams[i].size()), size,
                                         &inflater);
        ASSERT_EQ(loaded, expected[i] != nullptr) << "stream " << i << "\n" << log.Dump();
        if (!loaded) continue;
        std::string out(blocks->TotalSize(), '\0');
        blocks->CopyOut(out.data(), 0, blocks->TotalSize());
        EXPECT_EQ(out, *expected[i]) << "stream " << i;
    }
}

TEST(DecompressZlib, AFailedChunkReadIsReportedTwice)
{
    LogCapture log;
    TarnTest::ScopedCalls calls;
    Win32::gCalls.ReadFile = [](auto...) -> Win32::BOOL {
        Win32::SetLastError(Win32::kErrorReadFault);
        return Win32::FALSE;
    };
    const std::string stream = Zlib(TextBytes(1000, 2));
    EXPECT_FALSE(Decode(kCompressionZlib, stream, 1000, 7));
    const std::vector<std::string> texts = log.Texts();
    ASSERT_GE(texts.size(), 2u) << log.Dump();
    EXPECT_EQ(texts[0], "Tarn::VELL::Reader::SyncRead: AsyncRead or SyncToken::Wait failed with error \"" +
                            TarnTest::SystemText(0x8007001Eu) + "\" (-2147024866).");
    EXPECT_EQ(texts[1].substr(0, std::strlen(kZlibName) + 31), std::string(kZlibName) + ": SyncRead failed: AsyncFile=0x");
    EXPECT_NE(texts[1].find(", offset=7, toRead=" + std::to_string(stream.size()) + "."), std::string::npos);
}

TEST(DecompressLzma, RefusesBadRecords)
{
    const std::string record = LzmaRecord(TextBytes(5000, 8));
    const std::string tooSmall = std::string(kLzmaName) + ": Source data is too small to be valid.";
    std::string corrupt = record, hugeDictionary = record, largeDictionary = record;
    corrupt[9] = static_cast<char>(0xFF);  // not an LZMA2 control byte
    hugeDictionary[0] = 41;
    largeDictionary[0] = 40;  // larger than the file, but capped: it still decodes
    const struct {
        std::string stored;
        std::uint32_t size;
        std::string message;
    } cases[] = {
        {record.substr(0, 8), 5000, tooSmall},
        {hugeDictionary, 5000, std::string(kLzmaName) + ": Allocating the lzma compression state failed."},
        {record.substr(0, 9), 5000, ""},
        {record + "x", 5000, ""},                          // a byte after the end marker
        {record.substr(0, record.size() - 1), 5000, ""},  // no end marker
        {record, 4999, ""},                                // longer than the file
        {record, 5001, ""},                                // shorter than the file
        {corrupt, 5000, ""},
    };
    for (const auto& c : cases) {
        LogCapture log;
        EXPECT_FALSE(Decode(kCompressionLzma, c.stored, c.size)) << c.stored.size() << " " << c.size;
        EXPECT_TRUE(c.message.empty() || LoggedError(log, c.message)) << c.message;
        EXPECT_EQ(log.Contains(tooSmall), c.message == tooSmall);
    }
    EXPECT_TRUE(Decode(kCompressionLzma, largeDictionary, 5000));
}
