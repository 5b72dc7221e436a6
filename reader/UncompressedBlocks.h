// A decompressed file held as separately allocated blocks of one fixed size, so that a
// large file never needs one large contiguous allocation. Byte k of the file is byte
// k mod blockSize of block k / blockSize; every block but the last is full.
#pragma once

#include <cstdint>

#include "platform/Win32.h"

namespace Tarn::VELL::Reader {

class ZlibInflater;

// One output block of a decoder.
struct BlockDescriptor {
    std::uint8_t* buffer;
    std::uint32_t bufferSize;
};

class UncompressedBlocks {
public:
    explicit UncompressedBlocks(std::uint32_t blockSize) : mBlockSize(blockSize) {}
    ~UncompressedBlocks() { Clear(); }
    UncompressedBlocks(const UncompressedBlocks&) = delete;
    UncompressedBlocks& operator=(const UncompressedBlocks&) = delete;

    // Discards the current blocks and creates blocks for total bytes (contents undefined).
    // False when memory runs out; the object is then empty.
    bool Allocate(std::uint32_t total);
    // Frees every block; the block size stays.
    void Clear();
    // Copies up to count bytes from offset; the number copied (0 at or past the end).
    std::uint32_t CopyOut(void* destination, std::uint32_t offset, std::uint32_t count) const;
    // Fills the allocated blocks with the stored bytes at the file offset (low, high halves).
    bool FromFile(Win32::HANDLE file, std::uint32_t offsetLow, std::uint32_t offsetHigh);
    // Fills the object with a file stored under compressionId at the offset: stored bytes
    // (storedSize of them) are read as they are, compressed ones decompressed into
    // uncompressedSize bytes (zlib ones with the inflater, when given). A size of 0 succeeds
    // without reading.
    bool Load(std::uint32_t compressionId, Win32::HANDLE file, std::uint32_t offsetLow, std::uint32_t offsetHigh,
              std::uint32_t storedSize, std::uint32_t uncompressedSize, ZlibInflater* inflater = nullptr);

    BlockDescriptor* Blocks() const { return mBlocks; }
    std::uint32_t BlockCount() const { return mBlockCount; }
    std::uint32_t BlockSize() const { return mBlockSize; }
    std::uint32_t TotalSize() const { return mTotalSize; }

private:
    BlockDescriptor* mBlocks = nullptr;
    std::uint32_t mBlockCount = 0;
    std::uint32_t mBlockSize;
    std::uint32_t mTotalSize = 0;
};

}  // namespace Tarn::VELL::Reader
