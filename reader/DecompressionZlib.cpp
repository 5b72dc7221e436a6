// The zlib decoder: streams the compressed bytes from the data file in 64 KiB chunks through
// zlib's inflate straight into the output blocks. The only file that includes zlib.
#include <cstring>
#include <memory>
#include <new>

#include <zlib.h>

#include "CStd/CStd.h"
#include "CStd/Report.h"
#include "logger/Log.h"
#include "reader/Decompression.h"
#include "reader/ToCore/Windows/SyncToken.h"

namespace Tarn::VELL::Reader {

using namespace Tarn::Logger;

namespace {

constexpr char kName[] = "Tarn::VELL::Reader::DecompressZlib";

void InitialiseStream(z_stream& stream)
{
    std::memset(&stream, 0, sizeof(stream));
    if (inflateInit(&stream) != Z_OK)
        ReportAssertion("ret == Z_OK", "", "DecompressionZlib", 57, "Tarn::VELL::Reader::ScopedZlibStream::ScopedZlibStream");
}

const char* CodeName(int code)
{
    switch (code) {
    case Z_MEM_ERROR: return "Z_MEM_ERROR";
    case Z_DATA_ERROR: return "Z_DATA_ERROR";
    case Z_STREAM_ERROR: return "Z_STREAM_ERROR";
    default: return "Z_NEED_DICT";
    }
}

}  // namespace

// The inflate stream (initialised on first use, ended with the inflater) and the input buffer.
struct ZlibInflater::State {
    z_stream stream{};
    bool initialised = false;
    std::uint8_t input[kInputChunkSize];

    ~State()
    {
        if (initialised) inflateEnd(&stream);
    }
};

ZlibInflater::ZlibInflater() = default;
ZlibInflater::~ZlibInflater() = default;

ZlibInflater::State* ZlibInflater::Begin()
{
    if (!mState) {
        mState.reset(new (std::nothrow) State);
        if (!mState) return nullptr;
    }
    if (!mState->initialised) {
        InitialiseStream(mState->stream);
        mState->initialised = true;
    } else if (inflateReset(&mState->stream) != Z_OK) {
        return nullptr;
    }
    // inflateReset keeps the buffers of the stream before, which may have stopped half way:
    // unread input of another entry, output space in blocks since freed (or the spare byte on
    // a stack long gone). A new stream starts with neither.
    z_stream& stream = mState->stream;
    stream.next_in = nullptr;
    stream.avail_in = 0;
    stream.next_out = nullptr;
    stream.avail_out = 0;
    return mState.get();
}

namespace {

bool Inflate(ZlibInflater::State& state, Win32::HANDLE srcFile, std::uint32_t compressedSize, std::uint32_t offsetLow,
             BlockDescriptor* blocks, std::uint32_t blockCount, std::uint64_t expected)
{
    z_stream* stream = &state.stream;
    std::uint32_t position = offsetLow;
    std::uint32_t notYetRead = compressedSize;
    std::uint32_t nextBlock = 0;
    // Once every block is full, inflate still needs to see the stream's end (its last codes
    // and check value), which may lie in a later chunk. It gets this one spare byte as output
    // space: a stream that writes into it is longer than the file.
    Bytef overflow = 0;
    int result = Z_OK;
    for (;;) {
        if (stream->avail_in == 0 && notYetRead > 0) {
            const std::uint32_t toRead = notYetRead < kInputChunkSize ? notYetRead : kInputChunkSize;
            std::uint32_t read = 0;
            if (!SyncRead(srcFile, toRead, position, 0, &read, state.input)) {
                LogError("%s: SyncRead failed: AsyncFile=0x%s, offset=%u, toRead=%u.", kName, FormatPointer(srcFile).c_str(),
                         position, toRead);
                return false;
            }
            if (read != toRead) {
                LogError("%s: Asked SyncRead to read %u B, but it read %u B.  AsyncFile=0x%s, offset=%u.", kName, toRead, read,
                         FormatPointer(srcFile).c_str(), position);
                return false;
            }
            position += read;
            notYetRead -= read;
            stream->next_in = state.input;
            stream->avail_in = read;
        }
        if (stream->avail_out == 0) {
            if (nextBlock < blockCount) {
                stream->next_out = blocks[nextBlock].buffer;
                stream->avail_out = blocks[nextBlock].bufferSize;
                ++nextBlock;
            } else if (stream->next_out != &overflow + 1) {
                stream->next_out = &overflow;
                stream->avail_out = 1;
            }
        }
        if (stream->avail_in == 0 || stream->avail_out == 0) break;

        // With the whole stream in hand and the last block to fill, inflate may finish in one
        // call; told so, it writes straight into the block and keeps no copy in its window.
        const bool last = notYetRead == 0 && nextBlock == blockCount && stream->next_out != &overflow;
        const uInt inputBefore = stream->avail_in;
        const uLong outputBefore = stream->total_out;
        result = inflate(stream, last ? Z_FINISH : Z_NO_FLUSH);
        if (result == Z_MEM_ERROR || result == Z_DATA_ERROR || result == Z_STREAM_ERROR || result == Z_NEED_DICT) {
            if (stream->msg != nullptr)
                LogError("%s: zlib inflate failed with code %s: %s.", kName, CodeName(result), stream->msg);
            else
                LogError("%s: zlib inflate failed with code %s.", kName, CodeName(result));
            return false;
        }
        if (result == Z_STREAM_END) break;
        if (stream->avail_in == inputBefore && stream->total_out == outputBefore) break;  // no progress possible
    }

    if (stream->total_in != compressedSize) {
        LogError("%s: Decompress failed: the amount of data read (%lu B) does not match the compressed size (%u B).", kName,
                 static_cast<unsigned long>(stream->total_in), compressedSize);
        return false;
    }
    if (stream->total_out != expected) {
        LogError("%s: Decompress failed: the amount of data written (%lu B) does not match the uncompressed size (%u B).",
                 kName, static_cast<unsigned long>(stream->total_out), static_cast<unsigned>(expected));
        return false;
    }
    return result == Z_STREAM_END;
}

// The checks every decode starts with; the expected size, or false when the blocks cannot
// take a stream.
bool CheckArguments(Win32::HANDLE srcFile, std::uint32_t compressedSize, BlockDescriptor* blocks, std::uint32_t blockCount,
                    std::uint64_t& expected)
{
    if (srcFile == nullptr) ReportAssertion("srcFile", "", "DecompressionZlib", 97, kName);
    if (blocks == nullptr) ReportAssertion("blocks", "", "DecompressionZlib", 99, kName);
    if (blockCount == 0) ReportAssertion("blockCount", "", "DecompressionZlib", 100, kName);
    if (compressedSize == 0) return false;
    expected = 0;
    for (std::uint32_t i = 0; i < blockCount; ++i) {
        if (blocks[i].buffer == nullptr || blocks[i].bufferSize == 0) return false;
        expected += blocks[i].bufferSize;
    }
    return true;
}

}  // namespace

bool DecompressZlib(ZlibInflater& inflater, Win32::HANDLE srcFile, std::uint32_t compressedSize, std::uint32_t offsetLow,
                    std::uint32_t offsetHigh, BlockDescriptor* blocks, std::uint32_t blockCount)
{
    (void)offsetHigh;  // data offsets are 32-bit
    std::uint64_t expected = 0;
    if (!CheckArguments(srcFile, compressedSize, blocks, blockCount, expected)) return false;
    ZlibInflater::State* state = inflater.Begin();
    return state != nullptr && Inflate(*state, srcFile, compressedSize, offsetLow, blocks, blockCount, expected);
}

bool DecompressZlib(Win32::HANDLE srcFile, std::uint32_t compressedSize, std::uint32_t offsetLow, std::uint32_t offsetHigh,
                    BlockDescriptor* blocks, std::uint32_t blockCount)
{
    ZlibInflater inflater;  // zlib's state and window are freed on every way out
    return DecompressZlib(inflater, srcFile, compressedSize, offsetLow, offsetHigh, blocks, blockCount);
}

}  // namespace Tarn::VELL::Reader
