// Decoding an archive entry into output blocks. An entry's bytes are stored as they are
// ("NONE"), as a zlib stream ("ZLIB") or as an LZMA record ("LZMA"): one LZMA2 dictionary
// property byte (0 to 40), eight bytes the reader ignores, then an LZMA2 stream ending with
// its end marker. Input is read from the data file in chunks of 64 KiB and decoded straight
// into the blocks, which must be exactly as large as the decoded file.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/Win32.h"
#include "reader/UncompressedBlocks.h"

namespace Tarn::VELL::Reader {

constexpr std::uint32_t kInputChunkSize = 65536;

// An inflate state and an input buffer kept from one zlib entry to the next, so that zlib's
// state and window and the 64 KiB input buffer are allocated once rather than per entry. One
// decoder at a time may use it (a listing's opens, which decode, hold the listing's lock).
class ZlibInflater {
public:
    ZlibInflater();
    ~ZlibInflater();
    ZlibInflater(const ZlibInflater&) = delete;
    ZlibInflater& operator=(const ZlibInflater&) = delete;

    struct State;
    // The state, ready for a new stream; null when it cannot be allocated.
    State* Begin();

private:
    std::unique_ptr<State> mState;
};

// Picks the decoder by compression identifier; any identifier but "ZLIB" and "LZMA" is a
// programming error. A zlib entry uses the inflater when one is given.
bool Decompress(std::uint32_t compressionId, Win32::HANDLE file, std::uint32_t offsetLow, std::uint32_t offsetHigh,
                std::uint32_t storedSize, BlockDescriptor* blocks, std::uint32_t blockCount, ZlibInflater* inflater = nullptr);

// The zlib stream of compressedSize bytes at the offset. Complete only when the stream ends
// exactly at the end of its bytes, with a valid check value, filling the blocks exactly.
bool DecompressZlib(Win32::HANDLE srcFile, std::uint32_t compressedSize, std::uint32_t offsetLow, std::uint32_t offsetHigh,
                    BlockDescriptor* blocks, std::uint32_t blockCount);
// The same with a kept inflate state.
bool DecompressZlib(ZlibInflater& inflater, Win32::HANDLE srcFile, std::uint32_t compressedSize, std::uint32_t offsetLow,
                    std::uint32_t offsetHigh, BlockDescriptor* blocks, std::uint32_t blockCount);

// The input of the LZMA decoder: a sequence of chunks.
class ILzmaIn {
public:
    // The next chunk (empty once everything has been read); false when a read fails.
    virtual bool ReadChunk(const std::uint8_t** chunk, std::uint32_t* size) = 0;
    virtual std::uint32_t GetSize() const = 0;
    virtual std::uint32_t GetRemaining() const = 0;

protected:
    ~ILzmaIn() = default;
};

// The LZMA record of an entry, read in chunks from its range of the data file.
bool DecompressLzmaEntry(Win32::HANDLE srcFile, std::uint32_t compressedSize, std::uint32_t offsetLow,
                         std::uint32_t offsetHigh, BlockDescriptor* blocks, std::uint32_t blockCount);
// Complete only when the LZMA2 stream ends with its end marker exactly at the end of the
// input and fills the blocks exactly.
bool DecompressLzma(ILzmaIn& input, BlockDescriptor* blocks, std::uint32_t blockCount);

}  // namespace Tarn::VELL::Reader
