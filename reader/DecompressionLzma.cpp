// The LZMA decoder: an LZMA record's LZMA2 stream read in 64 KiB chunks and decoded with
// liblzma's raw LZMA2 decoder straight into the output blocks. The only file that includes
// liblzma.
#include <algorithm>
#include <memory>
#include <new>

#include <lzma.h>

#include "logger/Log.h"
#include "reader/Decompression.h"
#include "reader/Formats.h"
#include "reader/ToCore/Windows/SyncToken.h"

namespace Tarn::VELL::Reader {

using namespace Tarn::Logger;

namespace {

constexpr char kName[] = "Tarn::VELL::Reader::`anonymous-namespace'::DecompressLzma";
constexpr std::uint32_t kRecordHeaderSize = kLzmaRecordHeaderSize;
constexpr std::uint8_t kLargestDictionaryProperty = 40;

// One byte range of an open data file; the handle belongs to the listing and stays open.
class LzmaInFile final : public ILzmaIn {
public:
    LzmaInFile(Win32::HANDLE file, std::uint32_t size, std::uint64_t start) : mFile(file), mSize(size), mStart(start) {}

    bool ReadChunk(const std::uint8_t** chunk, std::uint32_t* size) override
    {
        const std::uint32_t n = std::min(mSize - mRead, kInputChunkSize);
        *chunk = mBuffer.get();
        *size = 0;
        if (n == 0) return true;
        if (!mBuffer) return false;
        const std::uint64_t at = mStart + mRead;
        std::uint32_t got = 0;
        if (!SyncRead(mFile, n, static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(at >> 32), &got, mBuffer.get()) ||
            got < n)
            return false;
        mRead += n;
        *size = n;
        return true;
    }
    std::uint32_t GetSize() const override { return mSize; }
    std::uint32_t GetRemaining() const override { return mSize - mRead; }

private:
    Win32::HANDLE mFile;
    std::uint32_t mSize;
    std::uint32_t mRead = 0;
    std::uint64_t mStart;
    std::unique_ptr<std::uint8_t[]> mBuffer{new (std::nothrow) std::uint8_t[kInputChunkSize]};
};

// The dictionary size an LZMA2 property byte names (40 names 2^32 - 1 bytes).
std::uint64_t DictionarySize(std::uint8_t property)
{
    if (property == kLargestDictionaryProperty) return 0xFFFFFFFFu;
    return std::uint64_t{2u | (property & 1u)} << (property / 2 + 11);
}

class ScopedLzmaStream {
public:
    ~ScopedLzmaStream() { lzma_end(&stream); }
    lzma_stream stream = LZMA_STREAM_INIT;
};

}  // namespace

bool DecompressLzmaEntry(Win32::HANDLE srcFile, std::uint32_t compressedSize, std::uint32_t offsetLow,
                         std::uint32_t offsetHigh, BlockDescriptor* blocks, std::uint32_t blockCount)
{
    if (srcFile == nullptr || compressedSize == 0 || blocks == nullptr || blockCount == 0) return false;
    LzmaInFile input(srcFile, compressedSize, (std::uint64_t{offsetHigh} << 32) | offsetLow);
    return DecompressLzma(input, blocks, blockCount);
}

bool DecompressLzma(ILzmaIn& input, BlockDescriptor* blocks, std::uint32_t blockCount)
{
    std::uint64_t expected = 0;
    for (std::uint32_t i = 0; i < blockCount; ++i) {
        if (blocks[i].buffer == nullptr || blocks[i].bufferSize == 0) return false;
        expected += blocks[i].bufferSize;
    }
    if (input.GetSize() < kRecordHeaderSize) {
        LogError("%s: Source data is too small to be valid.", kName);
        return false;
    }
    const std::uint8_t* chunk = nullptr;
    std::uint32_t chunkSize = 0;
    if (!input.ReadChunk(&chunk, &chunkSize) || chunkSize < kRecordHeaderSize) return false;

    // A dictionary larger than the file can never be used, so the decoder gets no more than
    // the file needs (and at least the smallest dictionary it accepts).
    const std::uint8_t property = chunk[0];
    ScopedLzmaStream scoped;
    lzma_stream& stream = scoped.stream;
    lzma_options_lzma options{};
    bool created = false;
    if (property <= kLargestDictionaryProperty && !lzma_lzma_preset(&options, LZMA_PRESET_DEFAULT)) {
        options.dict_size = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(DictionarySize(property), std::max<std::uint64_t>(expected, LZMA_DICT_SIZE_MIN)));
        const lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
        created = lzma_raw_decoder(&stream, filters) == LZMA_OK;
    }
    if (!created) {
        LogError("%s: Allocating the lzma compression state failed.", kName);
        return false;
    }

    std::uint32_t position = kRecordHeaderSize;  // bytes 1 to 8 are skipped
    std::uint64_t inputLeft = input.GetSize() - kRecordHeaderSize;
    std::uint64_t outputLeft = expected;
    std::uint32_t block = 0;
    std::uint32_t inBlock = 0;
    // When the last block is full the decoder still has to consume the end marker; it gets
    // one spare byte of output space, which a stream longer than the file would write into.
    std::uint8_t overflow = 0;
    bool finished = false;
    for (;;) {
        if (position == chunkSize) {
            if (!input.ReadChunk(&chunk, &chunkSize)) break;
            position = 0;
        }
        const bool lastFull = block == blockCount - 1 && inBlock == blocks[block].bufferSize;
        stream.next_in = chunk + position;
        stream.avail_in = chunkSize - position;
        stream.next_out = lastFull ? &overflow : blocks[block].buffer + inBlock;
        stream.avail_out = lastFull ? 1 : blocks[block].bufferSize - inBlock;
        const lzma_action action = input.GetRemaining() == 0 ? LZMA_FINISH : LZMA_RUN;
        const lzma_ret result = lzma_code(&stream, action);
        if (result != LZMA_OK && result != LZMA_STREAM_END && result != LZMA_BUF_ERROR) break;

        const std::uint32_t consumed = static_cast<std::uint32_t>(chunkSize - position - stream.avail_in);
        const std::uint32_t produced = static_cast<std::uint32_t>((lastFull ? 1 : blocks[block].bufferSize - inBlock) - stream.avail_out);
        inputLeft -= consumed;
        position += consumed;
        if (lastFull && produced > 0) break;  // more output than the file holds
        outputLeft -= produced;
        inBlock += produced;
        if (result == LZMA_STREAM_END) {  // finished with the end marker
            finished = true;
            break;
        }
        if (consumed == 0 && produced == 0) break;  // no progress possible
        if (inBlock == blocks[block].bufferSize && block + 1 < blockCount) {
            ++block;
            inBlock = 0;
        }
    }
    return finished && inputLeft == 0 && outputLeft == 0;
}

}  // namespace Tarn::VELL::Reader
